#include "mComponentRegistry.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr VorskGuid OtherClass = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

std::filesystem::path PathOf(const QTemporaryDir &dir)
{
    return dir.path().toStdString();
}

QByteArray Contents(const std::filesystem::path &file)
{
    QFile f(QString::fromStdString(file.string()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

} // namespace

TEST(ComponentRegistry, EntriesAreAddedReplacedAndRemoved)
{
    QTemporaryDir dir;
    const std::filesystem::path file = PathOf(dir) / "Vorsk" / "components.conf";
    EXPECT_EQ(GuidText(CLSID_cResource), "{F780C899-56CD-4285-8265-B228CAC37838}");
    EXPECT_EQ(LookupComponent(file, CLSID_cResource), "");

    ASSERT_TRUE(RegisterComponent(file, OtherClass, "/opt/other.so"));
    ASSERT_TRUE(RegisterComponent(file, CLSID_cResource, "/a/libvorskres.so"));
    ASSERT_TRUE(RegisterComponent(file, CLSID_cResource, "/b/libvorskres.so"));
    EXPECT_EQ(LookupComponent(file, CLSID_cResource), "/b/libvorskres.so");
    EXPECT_EQ(Contents(file), "{12345678-1234-5678-0102-030405060708}=/opt/other.so\n"
                              "{F780C899-56CD-4285-8265-B228CAC37838}=/b/libvorskres.so\n");

    // Another library's entry stays; our own goes, and the other class with it never.
    EXPECT_TRUE(UnregisterComponent(file, CLSID_cResource, "/a/libvorskres.so"));
    EXPECT_EQ(LookupComponent(file, CLSID_cResource), "/b/libvorskres.so");
    EXPECT_TRUE(UnregisterComponent(file, CLSID_cResource, "/b/libvorskres.so"));
    EXPECT_EQ(LookupComponent(file, CLSID_cResource), "");
    EXPECT_EQ(LookupComponent(file, OtherClass), "/opt/other.so");
}

TEST(ComponentRegistry, BadPathsAndFilesAreRefusedAndLeftAlone)
{
    QTemporaryDir dir;
    const std::filesystem::path file = PathOf(dir) / "components.conf";
    EXPECT_FALSE(RegisterComponent(file, CLSID_cResource, "relative/libvorskres.so"));
    EXPECT_FALSE(RegisterComponent(file, CLSID_cResource, "/a/lib\n{X}=/evil.so"));
    EXPECT_FALSE(RegisterComponent({}, CLSID_cResource, "/a/libvorskres.so"));
    EXPECT_FALSE(std::filesystem::exists(file));

    // A file far larger than any registry is not rewritten, and not trusted either.
    QFile big(QString::fromStdString(file.string()));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    const QByteArray line = "{F780C899-56CD-4285-8265-B228CAC37838}=/big/libvorskres.so\n";
    big.write(line);
    big.write(QByteArray(100000, '#'));
    big.close();
    const QByteArray before = Contents(file);
    EXPECT_FALSE(RegisterComponent(file, CLSID_cResource, "/a/libvorskres.so"));
    EXPECT_FALSE(UnregisterComponent(file, CLSID_cResource, "/big/libvorskres.so"));
    EXPECT_EQ(LookupComponent(file, CLSID_cResource), "");
    EXPECT_EQ(Contents(file), before);

    // A folder where the file should be.
    EXPECT_FALSE(RegisterComponent(PathOf(dir), CLSID_cResource, "/a/libvorskres.so"));
}
