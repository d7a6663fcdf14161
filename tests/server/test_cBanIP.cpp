#include "cBanIP.h"
#include "cError.h"
#include "QtPrinters.h"

#include <QStringList>

#include <functional>

#include <gtest/gtest.h>

namespace {

QStringList KeysOf(const cBanIP &list)
{
    QStringList keys;
    for (const cBanUsers &user : list)
        keys << user.Key;
    return keys;
}

long ErrorNumberOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const cError &error) {
        EXPECT_TRUE(error.Source().endsWith(QStringLiteral(".cBanIP"))) << error.Source().toStdString();
        return error.Number();
    }
    return 0;
}

} // namespace

TEST(cBanIP, PositionsKeysRemovalAndFailures)
{
    cBanIP list;
    EXPECT_EQ(list.Count(), 0);
    list.Add(QStringLiteral("10.0.0.1"));
    cBanUsers &keyed = list.Add(QStringLiteral("10.0.0.2"), QStringLiteral("second"));
    list.Add(QStringLiteral("10.0.0.3"));
    EXPECT_EQ(keyed.Key, QStringLiteral("10.0.0.2"));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Item(1).Key, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(&list.Item(QStringLiteral("second")), &keyed);
    EXPECT_EQ(KeysOf(list), (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));

    // A used key fails and adds nothing; entries without a key share no key.
    EXPECT_EQ(ErrorNumberOf([&] { list.Add(QStringLiteral("x"), QStringLiteral("second")); }), 457);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(ErrorNumberOf([&] { list.Item(0); }), 9);
    EXPECT_EQ(ErrorNumberOf([&] { list.Item(4); }), 9);
    EXPECT_EQ(ErrorNumberOf([&] { list.Item(QStringLiteral("SECOND")); }), 9);
    EXPECT_EQ(ErrorNumberOf([&] { list.Item(QString()); }), 9);

    list.Remove(QStringLiteral("second"));
    EXPECT_EQ(ErrorNumberOf([&] { list.Remove(QStringLiteral("second")); }), 9);
    list.Remove(1);
    EXPECT_EQ(KeysOf(list), QStringList{"10.0.0.3"});
    EXPECT_EQ(ErrorNumberOf([&] { list.Remove(2); }), 9);
    list.Add(QStringLiteral("again"), QStringLiteral("second"));
    EXPECT_EQ(list.Item(2).Key, QStringLiteral("again"));
}

TEST(cBanIP, FillBanListTakesTheBoxTextAsTyped)
{
    // Line breaks of either kind; blank lines, doubled separators and a trailing
    // break add nothing; spaces stay; duplicates stay.
    const auto list = FillBanList(QStringLiteral("10.0.0.1\r\n\r\n10.0.0.2\n10.0.0.3 \n;;10.0.0.1\r\n"));
    EXPECT_EQ(KeysOf(*list), (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3 ", "10.0.0.1"}));
    EXPECT_EQ(FillBanList(QString())->Count(), 0);
    EXPECT_EQ(FillBanList(QStringLiteral("\n\r\n;"))->Count(), 0);

    // A tab, pasted or stored, parts two entries and spoils neither.
    const auto tabbed = FillBanList(QStringLiteral("10.0.0.1\t\r\n\t10.0.0.2\t10.0.0.3"));
    EXPECT_EQ(KeysOf(*tabbed), (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    EXPECT_TRUE(IsBanned(*tabbed, QStringLiteral("10.0.0.2")));
}

TEST(cBanIP, IsBannedMatchesWholeAddressesOnly)
{
    const auto list = FillBanList(QStringLiteral("10.0.0.1\n10.0.0.1\n10.0.0.3 \nHost"));
    EXPECT_TRUE(IsBanned(*list, QStringLiteral("10.0.0.1")));
    EXPECT_FALSE(IsBanned(*list, QStringLiteral("10.0.0.10")));
    EXPECT_FALSE(IsBanned(*list, QStringLiteral("10.0.0.100")));
    EXPECT_FALSE(IsBanned(*list, QStringLiteral("10.0.0.")));
    EXPECT_FALSE(IsBanned(*list, QStringLiteral("10.0.0.3")));
    EXPECT_FALSE(IsBanned(*list, QStringLiteral("host")));
    EXPECT_FALSE(IsBanned(*FillBanList(QString()), QString()));
}
