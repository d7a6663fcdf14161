#include "cError.h"
#include "cReg.h"
#include "cRegHive.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

// Readable failure messages for texts.
static void PrintTo(const QString &sText, std::ostream *os)
{
    *os << '"' << sText.toStdString() << '"';
}

namespace {

const QString kVorskKey = QStringLiteral("Software\\Vorsk");

// Every test gets a config folder of its own, so the hive files start absent.
class RegTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
    }
    void TearDown() override
    {
        if (m_oldConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_oldConfig);
    }

    QString HivePath(const QString &sRoot = QStringLiteral("HKEY_CURRENT_USER")) const
    {
        return m_dir.path() + QStringLiteral("/Vorsk/registry/") + sRoot + QStringLiteral(".hive");
    }

    static void StoreRaw(const QString &sName, std::uint32_t lType, const QByteArray &baData)
    {
        cRegHive hive(HKEY_CURRENT_USER);
        hive.CreateKey(kVorskKey)->SetValue(sName, lType, baData);
        ASSERT_TRUE(hive.Save());
    }

    static cReg Reg(const QString &sValueKey, std::int32_t lType = REG_SZ,
                    std::int32_t lClassKey = HKEY_CURRENT_USER, const QString &sSection = kVorskKey)
    {
        cReg reg;
        reg.setClassKey(lClassKey);
        reg.setSectionKey(sSection);
        reg.setValueKey(sValueKey);
        reg.setValueType(lType);
        return reg;
    }

    void WriteFile(const QByteArray &baBytes) const
    {
        QDir().mkpath(m_dir.path() + QStringLiteral("/Vorsk/registry"));
        QFile file(HivePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(baBytes);
    }

    QByteArray ReadFile() const { return FileContents(HivePath()); }

    QTemporaryDir m_dir;
    QByteArray m_oldConfig;
};

cError CaughtError(const std::function<void()> &action)
{
    try {
        action();
    } catch (const cError &error) {
        return error;
    }
    ADD_FAILURE() << "no error raised";
    return cError(0, QString(), QString());
}

QByteArray HiveHeader()
{
    QByteArray baBytes;
    QDataStream out(&baBytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << quint32(0x56524B48) << quint32(1);
    return baBytes;
}

} // namespace

TEST_F(RegTest, ThemeSwitchIsAbsentAndReadsAsClassic)
{
    cReg reg = Reg(QStringLiteral("ThemeActive"), REG_SZ, HKEY_CURRENT_USER,
                   QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager"));
    const QVariant vTheme = reg.Value();
    EXPECT_FALSE(vTheme.isValid());
    EXPECT_EQ(reg.ValueType(), REG_SZ);
    EXPECT_FALSE(reg.KeyExists());

    reg.setDefault(QStringLiteral("none"));
    EXPECT_EQ(reg.Value().toString(), QStringLiteral("none"));
    EXPECT_FALSE(QFile::exists(HivePath())) << "reading never creates the hive";
}

TEST_F(RegTest, ReadConvertsEveryValueType)
{
    StoreRaw(QStringLiteral("Text"), REG_SZ, QByteArray("1", 2));
    StoreRaw(QStringLiteral("Big"), REG_DWORD_BIG_ENDIAN, QByteArray("\x01\x02\x03\x04", 4));
    StoreRaw(QStringLiteral("Little"), REG_DWORD, QByteArray("\x04\x03\x02\x01", 4));
    StoreRaw(QStringLiteral("Short"), REG_DWORD, QByteArray("\x04\x03", 2));
    StoreRaw(QStringLiteral("Multi"), REG_MULTI_SZ, QByteArray("ab\0cd\0\0", 7));
    StoreRaw(QStringLiteral("Bytes"), REG_BINARY, QByteArray("\x00\xff\x10", 3));
    StoreRaw(QStringLiteral("Link"), 6, QByteArray("xy", 2));
    qputenv("VORSK_REG_TEST", "/opt/cam");
    StoreRaw(QStringLiteral("Path"), REG_EXPAND_SZ,
             QByteArray("%VORSK_REG_TEST%\\pics %VORSK_REG_UNSET% 100%") + '\0');

    cReg reg = Reg(QStringLiteral("text"), REG_BINARY);
    EXPECT_EQ(reg.Value(), QVariant(QStringLiteral("1")));
    EXPECT_EQ(reg.ValueType(), REG_SZ);

    reg.setValueKey(QStringLiteral("Big"));
    EXPECT_EQ(reg.Value(), QVariant(qint32(0x01020304)));
    EXPECT_EQ(reg.ValueType(), REG_DWORD_BIG_ENDIAN);
    reg.setValueKey(QStringLiteral("Little"));
    EXPECT_EQ(reg.Value(), QVariant(qint32(0x01020304)));
    EXPECT_EQ(reg.ValueType(), REG_DWORD);
    reg.setValueKey(QStringLiteral("Short"));
    reg.setDefault(-1);
    EXPECT_EQ(reg.Value(), QVariant(-1)) << "a number of the wrong size cannot be read";

    reg.setValueKey(QStringLiteral("Multi"));
    EXPECT_EQ(reg.Value().toString(), QString::fromUtf8("ab\0cd\0", 6));
    reg.setValueKey(QStringLiteral("Bytes"));
    EXPECT_EQ(reg.Value(), QVariant(QByteArray("\x00\xff\x10", 3)));
    reg.setValueKey(QStringLiteral("Link"));
    EXPECT_EQ(reg.Value(), QVariant(QByteArray("xy")));
    EXPECT_EQ(reg.ValueType(), 6);

    reg.setValueKey(QStringLiteral("Path"));
    EXPECT_EQ(reg.Value().toString(), QStringLiteral("/opt/cam\\pics %VORSK_REG_UNSET% 100%"));
    EXPECT_EQ(reg.ValueType(), REG_EXPAND_SZ);
    qunsetenv("VORSK_REG_TEST");
}

TEST_F(RegTest, ExpansionIsBounded)
{
    qputenv("VORSK_REG_LONG", QByteArray(100, 'x'));
    const QString sMany = QStringLiteral("%VORSK_REG_LONG%").repeated(400);
    EXPECT_EQ(ExpandEnvironmentStrings(sMany), sMany);
    EXPECT_EQ(ExpandEnvironmentStrings(QStringLiteral("a%VORSK_REG_LONG%%%b")), QStringLiteral("a") + QString(100, QLatin1Char('x')) + QStringLiteral("%%b"));
    qunsetenv("VORSK_REG_LONG");
}

TEST_F(RegTest, WrittenValuesSurviveInTheFile)
{
    cReg writer = Reg(QStringLiteral("Name"));
    writer.setValue(QStringLiteral("Vorsk"));
    writer.setValueKey(QStringLiteral("Home"));
    writer.setValue(QStringLiteral("%HOME%/x"));
    writer.setValueKey(QStringLiteral("Number"));
    writer.setValueType(REG_DWORD_BIG_ENDIAN);
    writer.setValue(qint32(0x01020304));
    writer.setValueKey(QStringLiteral("Bytes"));
    writer.setValueType(REG_BINARY);
    writer.setValue(QByteArray("\x01\x00\x02", 3));
    ASSERT_TRUE(QFile::exists(HivePath()));

    cReg reader = Reg(QStringLiteral("NAME"));
    EXPECT_EQ(reader.Value(), QVariant(QStringLiteral("Vorsk")));
    reader.setValueKey(QStringLiteral("Home"));
    EXPECT_EQ(reader.Value().toString(), qEnvironmentVariable("HOME") + QStringLiteral("/x"));
    EXPECT_EQ(reader.ValueType(), REG_EXPAND_SZ);
    reader.setValueKey(QStringLiteral("Number"));
    EXPECT_EQ(reader.Value(), QVariant(qint32(0x01020304)));
    EXPECT_EQ(reader.ValueType(), REG_DWORD) << "numbers are always stored little-endian";
    reader.setValueKey(QStringLiteral("Bytes"));
    EXPECT_EQ(reader.Value(), QVariant(QByteArray("\x01\x00\x02", 3)));

    const cError error = CaughtError([&] { writer.setValue(QStringLiteral("not bytes")); });
    EXPECT_EQ(error.Number(), ErrRegKeyOrValue);
    EXPECT_TRUE(error.Description().isEmpty());
    EXPECT_TRUE(error.Source().endsWith(QStringLiteral(".cRegistry")));
}

TEST_F(RegTest, DamagedHiveReadsEmptyAndIsNeverOverwritten)
{
    Reg(QStringLiteral("Kept")).setValue(QStringLiteral("yes"));
    const QByteArray baGood = ReadFile();
    const QByteArray baHuge = HiveHeader() + QByteArray("\0\0\0\0\xff\xff\xff\xff", 8);
    QByteArray baDeep = HiveHeader();
    {
        QDataStream out(&baDeep, QIODevice::Append);
        out.setVersion(QDataStream::Qt_6_0);
        out << QString() << quint32(0) << quint32(1);
        for (int i = 0; i < 600; ++i)
            out << QStringLiteral("k") << quint32(0) << quint32(i < 599 ? 1 : 0);
    }
    for (const QByteArray &baBad : {QByteArray("junk that is no hive"), baGood.left(baGood.size() - 3),
                                    baGood + "x", baHuge, baDeep}) {
        WriteFile(baBad);
        cReg reg = Reg(QStringLiteral("Kept"));
        reg.setDefault(QStringLiteral("missing"));
        EXPECT_EQ(reg.Value(), QVariant(QStringLiteral("missing")));
        EXPECT_FALSE(reg.KeyExists());
        const cError error = CaughtError([&] { reg.setValue(QStringLiteral("new")); });
        EXPECT_EQ(error.Number(), ErrRegKeyOrValue);
        EXPECT_EQ(error.Description(), QStringLiteral("Failed to set registry value Key: '-2147483647',Section: "
                                                      "'Software\\Vorsk',Key: 'Kept' to value: 'new'"));
        EXPECT_THROW(reg.CreateKey(), cError);
        std::vector<QString> names;
        long lCount = 0;
        EXPECT_EQ(CaughtError([&] { reg.EnumerateSections(names, lCount); }).Number(), ErrRegEnumerateSections);
        EXPECT_EQ(ReadFile(), baBad);
    }

    QFile::resize(HivePath(), cRegHive::MaxFileSize + 1);
    EXPECT_EQ(cRegHive(HKEY_CURRENT_USER).HiveState(), cRegHive::State::Corrupt);
    EXPECT_EQ(QFileInfo(HivePath()).size(), cRegHive::MaxFileSize + 1);

    QFile::remove(HivePath());
    ASSERT_EQ(mkfifo(QFile::encodeName(HivePath()).constData(), 0600), 0);
    EXPECT_FALSE(Reg(QStringLiteral("Kept")).Value().isValid()) << "a pipe is not waited on";
    EXPECT_THROW(Reg(QStringLiteral("Kept")).setValue(1), cError);
    EXPECT_FALSE(QFileInfo(HivePath()).isFile());
}

TEST_F(RegTest, KeysAreCreatedEnumeratedAndDeleted)
{
    cReg reg = Reg(QStringLiteral("Colour"), REG_DWORD, HKEY_CURRENT_USER, kVorskKey + QStringLiteral("\\Cams"));
    EXPECT_TRUE(reg.CreateKey());
    reg.setSectionKey(kVorskKey + QStringLiteral("\\Prefs"));
    reg.setValue(255);
    reg.setValueKey(QStringLiteral("Port"));
    reg.setValue(80);

    reg.setSectionKey(QStringLiteral("software\\VORSK"));
    EXPECT_TRUE(reg.KeyExists());
    std::vector<QString> names;
    long lCount = 0;
    EXPECT_TRUE(reg.EnumerateSections(names, lCount));
    EXPECT_EQ(lCount, 2);
    EXPECT_EQ(names, (std::vector<QString>{QString(), QStringLiteral("Cams"), QStringLiteral("Prefs")}));
    reg.setSectionKey(kVorskKey + QStringLiteral("\\Prefs"));
    EXPECT_TRUE(reg.EnumerateValues(names, lCount));
    EXPECT_EQ(names, (std::vector<QString>{QString(), QStringLiteral("Colour"), QStringLiteral("Port")}));

    EXPECT_TRUE(reg.DeleteValue());
    EXPECT_TRUE(reg.EnumerateValues(names, lCount));
    EXPECT_EQ(lCount, 1);
    cError error = CaughtError([&] { reg.DeleteValue(); });
    EXPECT_EQ(error.Number(), ErrRegKeyOrValue);
    EXPECT_EQ(error.Description(), QStringLiteral("Failed to delete registry Key: '-2147483647',Section: "
                                                  "'Software\\Vorsk\\Prefs',Key: 'Port'"));

    reg.setSectionKey(kVorskKey);
    error = CaughtError([&] { reg.DeleteKey(); });
    EXPECT_EQ(error.Description(), QStringLiteral("Failed to delete registry Key: '-2147483647',Section: 'Software\\Vorsk'"))
        << "a key with sub-keys stays";
    reg.setSectionKey(kVorskKey + QStringLiteral("\\Cams"));
    EXPECT_TRUE(reg.DeleteKey());
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_FALSE(reg.EnumerateSections(names, lCount));
    EXPECT_EQ(lCount, 0);
    error = CaughtError([&] { reg.DeleteValue(); });
    EXPECT_EQ(error.Description(), QStringLiteral("Failed to open key '-2147483647',Section: "
                                                  "'Software\\Vorsk\\Cams' for delete access"));

    reg.setSectionKey(QString(256, QLatin1Char('k')));
    error = CaughtError([&] { reg.CreateKey(); });
    EXPECT_EQ(error.Description(), QStringLiteral("Failed to create registry Key: '") + reg.SectionKey() + QLatin1Char('\''));
}

TEST_F(RegTest, AssociationIsWrittenUnderBothClassRoots)
{
    cReg reg;
    reg.CreateEXEAssociation(QStringLiteral("  /usr/bin/vorsk "), QStringLiteral("Vorsk.Picture"),
                             QStringLiteral("Vorsk picture"), QStringLiteral("vpic"), QStringLiteral("&Open"),
                             true, QStringLiteral("&Print"), false, QStringLiteral("&New"), true, QString(), 0);
    const QString sExe = QStringLiteral("\"/usr/bin/vorsk\"");
    const std::vector<std::pair<QString, QString>> expected{
        {QStringLiteral(".vpic"), QStringLiteral("Vorsk.Picture")},
        {QStringLiteral("Vorsk.Picture"), QStringLiteral("Vorsk picture")},
        {QStringLiteral("Vorsk.Picture\\shell\\open"), QStringLiteral("&Open")},
        {QStringLiteral("Vorsk.Picture\\shell\\open\\command"), sExe + QStringLiteral(" \"%1\"")},
        {QStringLiteral("Vorsk.Picture\\shell\\print"), QStringLiteral("&Print")},
        {QStringLiteral("Vorsk.Picture\\shell\\print\\command"), sExe + QStringLiteral(" /p \"%1\"")},
        {QStringLiteral("Vorsk.Picture\\shell\\add"), QStringLiteral("&Install vpic")},
        {QStringLiteral("Vorsk.Picture\\shell\\add\\command"), sExe + QStringLiteral(" /a \"%1\"")},
        {QStringLiteral("Vorsk.Picture\\DefaultIcon"), sExe + QStringLiteral(",0")},
    };
    for (const auto &[sKey, sValue] : expected) {
        EXPECT_EQ(Reg(QString(), REG_SZ, HKEY_CLASSES_ROOT, sKey).Value(), QVariant(sValue)) << sKey.toStdString();
        EXPECT_EQ(Reg(QString(), REG_SZ, HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Classes\\") + sKey).Value(),
                  QVariant(sValue))
            << sKey.toStdString();
    }
    EXPECT_FALSE(Reg(QString(), REG_SZ, HKEY_CLASSES_ROOT, QStringLiteral("Vorsk.Picture\\shell\\new")).KeyExists());

    cError error = CaughtError([&] { reg.CreateAdditionalEXEAssociations(QStringLiteral("Vorsk.Picture"), {}); });
    EXPECT_EQ(error.Number(), ErrRegInvalidParameters);
    EXPECT_EQ(error.Number(), long(std::int32_t(0x800469ACu)));
    EXPECT_EQ(error.Description(), QStringLiteral("Invalid parameter list passed to "
                                                  "CreateAdditionalEXEAssociations - expected Name/Text/Command"));
    error = CaughtError([&] { reg.CreateAdditionalEXEAssociations(QStringLiteral("Vorsk.Picture"), {"a", "b"}); });
    EXPECT_EQ(error.Number(), ErrRegInvalidParameters);
    error = CaughtError([&] { reg.CreateAdditionalEXEAssociations(QStringLiteral("Nobody"), {"a", "b", "c"}); });
    EXPECT_EQ(error.Number(), long(std::int32_t(0x800469ADu)));
    EXPECT_EQ(error.Description(), QStringLiteral("Error - attempt to create additional associations before class defined."));

    reg.CreateAdditionalEXEAssociations(QStringLiteral("Vorsk.Picture"), {"view", "&View", "vorsk --view"});
    EXPECT_EQ(Reg(QString(), REG_SZ, HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Classes\\Vorsk.Picture\\shell\\view\\command")).Value(),
              QVariant(QStringLiteral("vorsk --view")));
    EXPECT_EQ(Reg(QString(), REG_SZ, HKEY_CLASSES_ROOT, QStringLiteral("Vorsk.Picture\\shell\\view")).Value(),
              QVariant(QStringLiteral("&View")));
}
