#include "ShellTestSupport.h"
#include "frmMain.h"
#include "mPublicTypes.h"
#include "mSettings.h"

#include <QFile>
#include <QLineEdit>

#include <map>
#include <vector>

#include <sys/stat.h>

class Settings : public SettingsHome
{
};

TEST_F(Settings, FirstStartShowsTheDefaults)
{
    BareControls c;
    EXPECT_EQ(c.ui.txtWidth->text(), QStringLiteral("173")); // design-time, until loaded
    LoadSettings(c.ui);
    EXPECT_EQ(c.ui.txtIPServer->text(), kDefaultIPServer);
    EXPECT_EQ(c.ui.txtPort->text(), QStringLiteral("80"));
    EXPECT_EQ(c.ui.txtIntvl->text(), QStringLiteral("3"));
    EXPECT_EQ(c.ui.txtWidth->text(), QStringLiteral("320"));
    EXPECT_EQ(c.ui.txtHeight->text(), QStringLiteral("240"));
    EXPECT_EQ(c.ui.txtMaxCon->text(), QStringLiteral("200"));
    EXPECT_EQ(c.ui.Slider1->value(), 70);
    EXPECT_EQ(c.ui.lblQuality->text(), QStringLiteral("70%"));
    EXPECT_EQ(c.ui.txtOnImage->text(), QStringLiteral("{YY}/{MM}/{DD} - {HH}:{MI}:{SS}"));
    EXPECT_EQ(c.ui.pfg->BackColor(), 0xFFFFFFu);
    EXPECT_EQ(c.ui.pbg->BackColor(), 0u);
    EXPECT_TRUE(c.ui.chkUptime->isChecked());
    EXPECT_FALSE(c.ui.chkPreview->isChecked());
    EXPECT_FALSE(c.ui.chkTransparent->isChecked());
    EXPECT_FALSE(c.ui.chkSavelog->isChecked());
    EXPECT_FALSE(c.ui.chkHeaders->isChecked());
    EXPECT_EQ(c.ui.tabSettings->currentIndex(), 0);
    EXPECT_FALSE(QFile::exists(SettingsFile())) << "loading writes nothing";
}

TEST_F(Settings, EveryKeySurvivesARoundTrip)
{
    {
        BareControls c;
        c.ui.txtIPServer->setText(QStringLiteral("http://ip.example/, plain"));
        c.ui.txtPort->setText(QStringLiteral("8080"));
        c.ui.txtIntvl->setText(QStringLiteral("2.5"));
        c.ui.txtWidth->setText(QStringLiteral("640"));
        c.ui.txtHeight->setText(QStringLiteral("480"));
        c.ui.txtMaxCon->setText(QStringLiteral("5"));
        c.ui.Slider1->setValue(0);
        QFont font(QStringLiteral("DejaVu Serif"));
        font.setPointSizeF(8.25);
        font.setBold(true);
        font.setItalic(true);
        font.setStrikeOut(true);
        font.setUnderline(true);
        c.ui.pfg->setFont(font);
        c.ui.txtOnImage->setText(QStringLiteral("Cam; {HH}:{MI}"));
        c.ui.pbg->setBackColor(0x80000005u); // a system colour: negative when stored
        c.ui.pfg->setBackColor(0x00123456u);
        c.ui.chkPreview->setChecked(true);
        c.ui.chkTransparent->setChecked(true);
        c.ui.chkUptime->setChecked(false);
        c.ui.chkSavelog->setChecked(true);
        c.ui.chkHeaders->setChecked(true);
        c.ui.txtBan->setPlainText(QStringLiteral("1.2.3.4\n5.6.7.8"));
        SaveSettings(c.ui);
    }
    QSettings raw(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("prefs/banlist")).toString(), QStringLiteral("1.2.3.4;5.6.7.8"));
    EXPECT_EQ(raw.value(QStringLiteral("prefs/fontsize")).toString(), QStringLiteral("8.25"));
    EXPECT_EQ(raw.value(QStringLiteral("prefs/fontbold")).toString(), QStringLiteral("True"));
    EXPECT_EQ(raw.value(QStringLiteral("prefs/bgcolor")).toString(), QStringLiteral("-2147483643"));
    EXPECT_EQ(raw.value(QStringLiteral("prefs/quality")).toString(), QStringLiteral("0"));
    EXPECT_EQ(raw.value(QStringLiteral("prefs/senduptime")).toString(), QStringLiteral("0"));
    EXPECT_EQ(raw.value(QStringLiteral("server/headers")).toString(), QStringLiteral("True"));
    EXPECT_EQ(raw.allKeys().size(), 22);

    BareControls c;
    LoadBanList(c.ui);
    LoadSettings(c.ui);
    EXPECT_EQ(c.ui.txtIPServer->text(), QStringLiteral("http://ip.example/, plain"));
    EXPECT_EQ(c.ui.txtPort->text(), QStringLiteral("8080"));
    EXPECT_EQ(c.ui.txtIntvl->text(), QStringLiteral("2.5"));
    EXPECT_EQ(c.ui.txtWidth->text(), QStringLiteral("640"));
    EXPECT_EQ(c.ui.txtHeight->text(), QStringLiteral("480"));
    EXPECT_EQ(c.ui.txtMaxCon->text(), QStringLiteral("5"));
    EXPECT_EQ(c.ui.Slider1->value(), 0);
    EXPECT_EQ(c.ui.lblQuality->text(), QStringLiteral("0%"));
    const QFont font = c.ui.pfg->font();
    EXPECT_EQ(font.family(), QStringLiteral("DejaVu Serif"));
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25);
    EXPECT_TRUE(font.bold() && font.italic() && font.strikeOut() && font.underline());
    EXPECT_EQ(c.ui.txtOnImage->text(), QStringLiteral("Cam; {HH}:{MI}"));
    EXPECT_EQ(c.ui.pbg->BackColor(), 0x80000005u);
    EXPECT_EQ(c.ui.pfg->BackColor(), 0x00123456u);
    EXPECT_TRUE(c.ui.chkPreview->isChecked());
    EXPECT_TRUE(c.ui.chkTransparent->isChecked());
    EXPECT_FALSE(c.ui.chkUptime->isChecked());
    EXPECT_TRUE(c.ui.chkSavelog->isChecked());
    EXPECT_TRUE(c.ui.chkHeaders->isChecked());
    EXPECT_EQ(c.ui.txtBan->toPlainText(), QStringLiteral("1.2.3.4\n5.6.7.8"));
}

namespace {

const QStringList kPrefsKeys = {
    QStringLiteral("port"),          QStringLiteral("interval"),       QStringLiteral("width"),
    QStringLiteral("height"),        QStringLiteral("maxcon"),         QStringLiteral("quality"),
    QStringLiteral("senduptime"),    QStringLiteral("ipserver"),       QStringLiteral("banlist"),
    QStringLiteral("bgcolor"),       QStringLiteral("fgcolor"),        QStringLiteral("fontbold"),
    QStringLiteral("fontitalic"),    QStringLiteral("fontname"),       QStringLiteral("fontsize"),
    QStringLiteral("fontStrikethru"), QStringLiteral("fontUnderline"), QStringLiteral("previewwindow"),
    QStringLiteral("transparent"),   QStringLiteral("savelog"),        QStringLiteral("imagetext")};

// The stored "prefs" group, key by key.
std::map<QString, QString> PrefsGroup(const QString &file)
{
    QSettings raw(file, QSettings::IniFormat);
    raw.beginGroup(QStringLiteral("prefs"));
    std::map<QString, QString> values;
    for (const QString &key : raw.childKeys())
        values[key] = raw.value(key).toString();
    return values;
}

} // namespace

// The HTTP headers choice lives in a group of its own, [server]; the window's
// 21 keys in [prefs] stay as they were, whichever way the box is saved.
TEST_F(Settings, TheHeadersChoiceHasAGroupOfItsOwn)
{
    WriteSettings(QStringLiteral("[prefs]\nport=8080\ntransparent=1\n\n[server]\nheaders=True\n"));
    BareControls c;
    LoadSettings(c.ui);
    EXPECT_TRUE(c.ui.chkHeaders->isChecked());
    EXPECT_TRUE(c.ui.chkTransparent->isChecked());
    EXPECT_EQ(c.ui.txtPort->text(), QStringLiteral("8080"));

    SaveSettings(c.ui);
    const auto checked = PrefsGroup(SettingsFile());
    QStringList keys;
    for (const auto &[key, value] : checked)
        keys << key;
    QStringList expected = kPrefsKeys;
    keys.sort();
    expected.sort();
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(checked.at(QStringLiteral("port")), QStringLiteral("8080"));
    QSettings raw(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(raw.childGroups(), (QStringList{QStringLiteral("prefs"), QStringLiteral("server")}));
    EXPECT_EQ(raw.value(QStringLiteral("server/headers")).toString(), QStringLiteral("True"));
    EXPECT_FALSE(raw.contains(QStringLiteral("prefs/headers")));

    c.ui.chkHeaders->setChecked(false);
    SaveSettings(c.ui);
    EXPECT_EQ(PrefsGroup(SettingsFile()), checked) << "the box touches nothing in [prefs]";
    EXPECT_TRUE(FileContents(SettingsFile()).contains("[server]\nheaders=False\n"));
    BareControls d;
    d.ui.chkHeaders->setChecked(true);
    LoadSettings(d.ui);
    EXPECT_FALSE(d.ui.chkHeaders->isChecked());
}

// Read as the font flags are: "True"/"False" in any case, or a number, any
// non-zero one true. Anything else leaves the box as it was; a missing key
// unchecks it. The headless face reads the same way.
TEST_F(Settings, TheHeadersValueReadsAsATruthValue)
{
    // A value with no reading leaves the box as it was.
    const std::pair<const char *, std::optional<bool>> values[] = {
        {"True", true},      {"true", true},   {"1", true},      {"2", true},    {"-1", true},
        {"False", false},    {"FALSE", false}, {"0", false},     {"0.0", false}, {"maybe", std::nullopt},
        {"", std::nullopt},  {"yes", std::nullopt}, {"True, False", std::nullopt}, {"1e3", std::nullopt},
        {"0x1", std::nullopt}};
    // Every file differs in size from the one before, so the settings cache sees it changed.
    int written = 0;
    for (const auto &[value, reading] : values) {
        for (const bool before : {false, true}) {
            WriteSettings(QStringLiteral("[server]\nheaders=%1\nfiller=%2\n")
                              .arg(QLatin1String(value), QString(++written, QLatin1Char('x'))));
            BareControls c;
            c.ui.chkHeaders->setChecked(before);
            LoadSettings(c.ui);
            EXPECT_EQ(c.ui.chkHeaders->isChecked(), reading.value_or(before)) << value;
            Prefs prefs;
            prefs.bHeaders = before;
            ReadPrefs(prefs);
            EXPECT_EQ(prefs.bHeaders, reading.value_or(before)) << value;
        }
    }
    // Missing: the default, unchecked; a headers key under [prefs] is not the one.
    WriteSettings(QStringLiteral("[prefs]\nheaders=True\n"));
    BareControls c;
    c.ui.chkHeaders->setChecked(true);
    LoadSettings(c.ui);
    EXPECT_FALSE(c.ui.chkHeaders->isChecked());
    Prefs prefs;
    ReadPrefs(prefs);
    EXPECT_FALSE(prefs.bHeaders);
    EXPECT_EQ(FileContents(SettingsFile()), QByteArray("[prefs]\nheaders=True\n")) << "reading writes nothing";
}

TEST_F(Settings, JunkValuesLeaveTheirControlsAlone)
{
    WriteSettings(QStringLiteral("[prefs]\n"
                                 "quality=loud\n"
                                 "fontbold=maybe\n"
                                 "fontsize=huge\n"
                                 "bgcolor=blue\n"
                                 "fgcolor=99999999999\n"
                                 "previewwindow=2\n"
                                 "transparent=yes\n"
                                 "senduptime=1.0\n"
                                 "port=\"80\n"
                                 "\x01\x02 garbage without a key\n"
                                 "[other\n"));
    BareControls c;
    c.ui.pbg->setBackColor(0x112233);
    LoadSettings(c.ui);
    EXPECT_EQ(c.ui.Slider1->value(), 70);
    EXPECT_EQ(c.ui.lblQuality->text(), QStringLiteral("70%"));
    EXPECT_FALSE(c.ui.pfg->font().bold());
    EXPECT_GT(c.ui.pfg->font().pointSizeF(), 0);
    EXPECT_EQ(c.ui.pbg->BackColor(), 0x112233u);
    EXPECT_EQ(c.ui.pfg->BackColor(), 0xFFFFFFu);
    EXPECT_FALSE(c.ui.chkPreview->isChecked()) << "only a value reading as 1 checks";
    EXPECT_FALSE(c.ui.chkTransparent->isChecked());
    EXPECT_TRUE(c.ui.chkUptime->isChecked());
    EXPECT_EQ(c.ui.txtIntvl->text(), QStringLiteral("3"));

    // A file that cannot be read at all gives the defaults.
    WriteSettings(QString());
    QFile::remove(SettingsFile());
    ASSERT_TRUE(QDir().mkpath(SettingsFile())); // a folder where the file should be
    BareControls d;
    LoadSettings(d.ui);
    EXPECT_EQ(d.ui.txtWidth->text(), QStringLiteral("320"));
}

namespace {

// The controls with their numeric boxes wired as the window wires them, so that a text put
// into a box meets the box's repair of typed text.
struct WiredControls : BareControls
{
    WiredControls()
    {
        for (QLineEdit *box : NumericBoxes())
            AttachNumericBox(*box);
        sLastValidText.clear();
    }
    std::vector<QLineEdit *> NumericBoxes() const
    {
        return {ui.txtPort, ui.txtIntvl, ui.txtWidth, ui.txtHeight, ui.txtMaxCon};
    }
};

struct NumericKey
{
    const char *key;
    const char *stored; // a good value of the user's
    const char *fallback;
};

// The numeric keys in the order they are loaded, each with a value unlike every other one.
const NumericKey kNumericKeys[] = {
    {"port", "8080", "80"}, {"interval", "2", "3"}, {"width", "640", "320"},
    {"height", "480", "240"}, {"maxcon", "5", "200"},
};

// A settings file with the user's values, bad put in place of key's.
QByteArray FileWith(const char *key, const QByteArray &bad)
{
    QByteArray contents = "[prefs]\nimagetext=Cam {HH}\nquality=55\n";
    for (const NumericKey &numeric : kNumericKeys)
        contents += QByteArray(numeric.key) + '='
                    + (qstrcmp(numeric.key, key) == 0 ? bad : QByteArray(numeric.stored)) + '\n';
    return contents;
}

} // namespace

// A value that is no number once took the text of the box loaded before it (interval=2 then
// width=6.4e2 gave width 2) and was saved so at the end.
TEST_F(Settings, ANumberThatIsNoneLeavesItsBoxAtTheDefaultAndTheRestAlone)
{
    // Unquoted spaces around a value are not part of it; a NUL stored escaped or raw.
    const QByteArray junk[] = {"6.4e2", "1e3", "", "12a", "\" 5\"", "0x10", "1,000", "--1",
                               "8\\0", QByteArray("8\0" "0", 3)};
    for (const NumericKey &bad : kNumericKeys) {
        for (const QByteArray &value : junk) {
            const std::string what = std::string(bad.key) + "=" + value.toStdString();
            WriteSettings(QString());
            QFile file(SettingsFile());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(FileWith(bad.key, value));
            file.close();

            WiredControls c;
            LoadSettings(c.ui);
            const auto boxes = c.NumericBoxes();
            for (std::size_t i = 0; i < boxes.size(); ++i) {
                const NumericKey &key = kNumericKeys[i];
                const char *expected = &key == &bad ? key.fallback : key.stored;
                EXPECT_EQ(boxes[i]->text(), QString::fromLatin1(expected)) << what;
            }
            EXPECT_EQ(c.ui.txtOnImage->text(), QStringLiteral("Cam {HH}")) << what;
            EXPECT_EQ(c.ui.Slider1->value(), 55) << what;

            SaveSettings(c.ui);
            QSettings raw(SettingsFile(), QSettings::IniFormat);
            for (const NumericKey &key : kNumericKeys)
                EXPECT_EQ(raw.value(QStringLiteral("prefs/") + QLatin1String(key.key)).toString(),
                          QString::fromLatin1(&key == &bad ? key.fallback : key.stored))
                    << what;
        }
    }
}

// Typing after a load keeps its rule: a box holding no number gets back the last number seen,
// which after the load is that of the connection limit, loaded last.
TEST_F(Settings, TypedJunkAfterALoadIsRepairedAsBefore)
{
    WriteSettings(QStringLiteral("[prefs]\ninterval=2\nwidth=6.4e2\nmaxcon=7\n"));
    WiredControls c;
    LoadSettings(c.ui);
    EXPECT_EQ(c.ui.txtWidth->text(), QStringLiteral("320"));
    EXPECT_EQ(c.ui.txtIntvl->text(), QStringLiteral("2"));
    c.ui.txtPort->setText(QStringLiteral("8x"));
    EXPECT_EQ(c.ui.txtPort->text(), QStringLiteral("7"));
}

// The window itself, from its start to its close: the numbers of the file that are numbers
// come back as they were, the others as their defaults.
TEST_F(Settings, TheWindowKeepsTheUsersNumbersThroughStartAndClose)
{
    WriteSettings(QStringLiteral("[prefs]\nport=8081\ninterval=2\nwidth=6.4e2\nheight=480\n"
                                 "maxcon=1e3\n[server]\nheaders=True\n"));
    {
        frmMain window;
        ASSERT_TRUE(window.Form_Load());
        EXPECT_EQ(window.Controls().txtWidth->text(), QStringLiteral("320"));
        EXPECT_EQ(window.Controls().txtMaxCon->text(), QStringLiteral("200"));
        EXPECT_TRUE(window.Controls().chkHeaders->isChecked());
        EXPECT_TRUE(window.close());
    }
    QSettings raw(SettingsFile(), QSettings::IniFormat);
    const std::pair<const char *, const char *> saved[] = {
        {"port", "8081"}, {"interval", "2"}, {"width", "320"}, {"height", "480"}, {"maxcon", "200"}};
    for (const auto &[key, value] : saved)
        EXPECT_EQ(raw.value(QStringLiteral("prefs/") + QLatin1String(key)).toString(),
                  QLatin1String(value))
            << key;
    EXPECT_EQ(raw.value(QStringLiteral("server/headers")).toString(), QStringLiteral("True"));

    // Unticked in the window, it is stored unticked at the close.
    {
        frmMain window;
        ASSERT_TRUE(window.Form_Load());
        window.Controls().chkHeaders->click();
        EXPECT_TRUE(window.close());
    }
    raw.sync();
    EXPECT_EQ(raw.value(QStringLiteral("server/headers")).toString(), QStringLiteral("False"));
    EXPECT_EQ(raw.value(QStringLiteral("prefs/port")).toString(), QStringLiteral("8081"));
}

// The documented forms written by hand read as written: ";" and "," inside a
// value, blanks around it dropped, comment lines skipped, a quoted value with
// its escapes. Whatever the window saves reads back exactly, here and with Qt's
// own INI reader, however odd the text; a file of noise gives the defaults.
TEST_F(Settings, HandWrittenValuesReadAsWrittenAndSavedOnesReadBackExactly)
{
    WriteSettings(QStringLiteral("; the door camera\n"
                                 "[prefs]\n"
                                 "banlist=10.1.2.3;127.0.0.1\n"
                                 "imagetext={HH}:{MI}, {DD}.{MM}.\n"
                                 "# the outside address\n"
                                 "  ipserver =  http://ip.example/?a=b;c  \n"
                                 "fontname=\"  DejaVu, \\\"Sans\\\"\\t\"\n"));
    {
        BareControls c;
        LoadBanList(c.ui);
        LoadSettings(c.ui);
        EXPECT_EQ(c.ui.txtBan->toPlainText(), QStringLiteral("10.1.2.3\n127.0.0.1"));
        EXPECT_EQ(c.ui.txtOnImage->text(), QStringLiteral("{HH}:{MI}, {DD}.{MM}."));
        EXPECT_EQ(c.ui.txtIPServer->text(), QStringLiteral("http://ip.example/?a=b;c"));
        EXPECT_EQ(c.ui.pfg->font().family(), QStringLiteral("  DejaVu, \"Sans\"\t"));
    }

    const QString odd = QStringLiteral(" Ström \\ \"x\" ;y=z #w\t") + QChar(1) + QStringLiteral("a ");
    const QString plain = QStringLiteral("Cam {HH}:{MI} @door");
    for (const QString &text : {odd, plain}) {
        {
            BareControls c;
            c.ui.txtOnImage->setText(text);
            c.ui.txtIPServer->setText(text);
            SaveSettings(c.ui);
        }
        BareControls c;
        LoadSettings(c.ui);
        EXPECT_EQ(c.ui.txtOnImage->text(), text);
        EXPECT_EQ(c.ui.txtIPServer->text(), text);
        // A copy, so that Qt parses it rather than take what it holds of the file written.
        const QString copy = m_home.filePath(QStringLiteral("copy%1.ini").arg(text.size()));
        ASSERT_TRUE(QFile::copy(SettingsFile(), copy));
        QSettings qt(copy, QSettings::IniFormat);
        EXPECT_EQ(qt.value(QStringLiteral("prefs/imagetext")).toString(), text);
    }
    EXPECT_TRUE(FileContents(SettingsFile()).contains("\nimagetext=Cam {HH}:{MI} @door\n")) << "plain stays plain";

    QByteArray noise;
    std::uint32_t seed = 24;
    for (int i = 0; i < 65536; ++i)
        noise += char((seed = seed * 1664525u + 1013904223u) >> 24);
    WriteSettings(QString());
    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[prefs]\nwidth=\"" + noise + "\nheight=\"\\x\\");
    file.close();
    BareControls c;
    LoadSettings(c.ui);
    EXPECT_EQ(c.ui.txtWidth->text(), QStringLiteral("320"));
    EXPECT_EQ(c.ui.txtHeight->text(), QStringLiteral("240"));
}

namespace {

mode_t ModeOf(const QString &path)
{
    struct stat status{};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace

// The password lives in [server]; the file that holds it is written its
// owner's alone, never wider than it was, and a file others may read while it
// holds one is told once (never the password itself).
TEST_F(Settings, ThePasswordIsKeptWhereOnlyItsOwnerReadsIt)
{
    const QString password = QStringLiteral("p;w \"x\" \u00e5");
    {
        BareControls c;
        c.ui.txtPassword->setText(password);
        SaveSettings(c.ui);
    }
    EXPECT_EQ(ModeOf(SettingsFile()), 0600u) << "a new file";
    BareControls c;
    LoadSettings(c.ui);
    EXPECT_EQ(c.ui.txtPassword->text(), password);
    EXPECT_TRUE(PasswordExposedText(password).isEmpty());

    // A file made by hand, open to others: told, then narrowed by the next save.
    for (const mode_t mode : {0644u, 0660u, 0604u}) {
        ASSERT_EQ(::chmod(QFile::encodeName(SettingsFile()).constData(), mode), 0);
        const QString warning = PasswordExposedText(password);
        EXPECT_TRUE(warning.contains(SettingsFile())) << warning.toStdString();
        EXPECT_FALSE(warning.contains(QStringLiteral("p;w"))) << "the password is never told";
        EXPECT_TRUE(PasswordExposedText(QString()).isEmpty()) << "no password, nothing to tell";
        SaveSettings(c.ui);
        EXPECT_EQ(ModeOf(SettingsFile()), 0600u) << std::oct << mode;
    }
    // A mode narrower than the owner's read and write stays as narrow.
    ASSERT_EQ(::chmod(QFile::encodeName(SettingsFile()).constData(), 0200), 0);
    SaveSettings(c.ui);
    EXPECT_EQ(ModeOf(SettingsFile()), 0200u);
    ASSERT_EQ(::chmod(QFile::encodeName(SettingsFile()).constData(), 0600), 0);

    // Emptied, the key goes: the file holds no password line at all.
    c.ui.txtPassword->clear();
    SaveSettings(c.ui);
    EXPECT_FALSE(FileContents(SettingsFile()).contains("password"));
    Prefs prefs;
    ReadPrefs(prefs);
    EXPECT_TRUE(prefs.sPassword.isEmpty());
}

// The turn chosen on the Image page is kept under [capture] and read back by
// the window and by the headless face alike; a hand-written value that is no
// turn turns nothing, and turning back leaves no key behind.
TEST_F(Settings, TheTurnIsKeptUnderCaptureAndJunkTurnsNothing)
{
    {
        BareControls c;
        LoadSettings(c.ui);
        c.ui.cboRotate->setCurrentIndex(3);
        c.ui.cboFlip->setCurrentIndex(1);
        SaveSettings(c.ui);
    }
    QSettings raw(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("capture/rotate")).toString(), QStringLiteral("270"));
    EXPECT_EQ(raw.value(QStringLiteral("capture/flip")).toString(), QStringLiteral("horizontal"));
    Prefs prefs;
    ReadPrefs(prefs);
    EXPECT_EQ(prefs.turn.lRotate, 270);
    EXPECT_EQ(prefs.turn.eFlip, Flip::Horizontal);

    for (const auto &[rotate, flip] : {std::pair{"45", "sideways"}, std::pair{"-90", ""}, std::pair{"90x", "mirror"}}) {
        raw.setValue(QStringLiteral("capture/rotate"), QString::fromLatin1(rotate));
        raw.setValue(QStringLiteral("capture/flip"), QString::fromLatin1(flip));
        raw.sync();
        BareControls c;
        LoadSettings(c.ui);
        EXPECT_EQ(c.ui.cboRotate->currentIndex(), 0) << rotate;
        EXPECT_EQ(c.ui.cboFlip->currentIndex(), 0) << flip;
        SaveSettings(c.ui);
    }
    raw.sync();
    EXPECT_EQ(raw.childGroups(), (QStringList{QStringLiteral("prefs"), QStringLiteral("server")}));
}
