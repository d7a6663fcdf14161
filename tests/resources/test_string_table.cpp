#include "mStringTable.h"
#include "mWording.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

std::map<std::uint16_t, Bytes> EnglishBlocks()
{
    QFile file(QStringLiteral(VORSK_WORDING_DIR "/en.txt"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QString error;
    const std::optional<Wording> wording = ParseWording(file.readAll(), &error);
    EXPECT_TRUE(wording) << error.toStdString();
    return wording ? BuildStringBlocks(wording->Texts) : std::map<std::uint16_t, Bytes>{};
}

// The length word and UTF-16LE units of one entry.
Bytes Entry(std::u16string_view text)
{
    Bytes bytes{std::uint8_t(text.size() & 0xFF), std::uint8_t(text.size() >> 8)};
    for (char16_t c : text)
        bytes.insert(bytes.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
    return bytes;
}

bool HasAt(const Bytes &block, std::size_t pos, const Bytes &expected)
{
    return pos + expected.size() <= block.size()
           && std::equal(expected.begin(), expected.end(), block.begin() + pos);
}

std::u16string Found(const Bytes &block, std::int64_t number, std::int32_t id)
{
    const auto bytes = FindStringInBlock(block, number, id);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += char16_t(bytes[i] | (bytes[i + 1] << 8));
    return text;
}

} // namespace

TEST(StringTable, EnglishBlocksHaveTheWindowsLayout)
{
    const auto blocks = EnglishBlocks();
    ASSERT_EQ(blocks.size(), 6u);
    EXPECT_EQ(blocks.begin()->first, 7);
    EXPECT_EQ(blocks.rbegin()->first, 12);

    // Block 7: IDs 96 to 102 absent, then 103 and 104 ("&Help", the ninth entry).
    const Bytes &block7 = blocks.at(7);
    EXPECT_TRUE(HasAt(block7, 0, Bytes(14, 0)));
    EXPECT_TRUE(HasAt(block7, 14, Entry(u"&Preview in browser")));
    EXPECT_TRUE(HasAt(block7, 14 + 2 + 38, Entry(u"&Help")));

    // Block 8: 112, then 113 and 114 absent, then 115.
    const Bytes &block8 = blocks.at(8);
    EXPECT_TRUE(HasAt(block8, 0, Entry(u"Version info:")));
    EXPECT_TRUE(HasAt(block8, 28, Bytes{0, 0, 0, 0}));
    EXPECT_TRUE(HasAt(block8, 32, Entry(u"Resolution from camera:")));

    // Block 9 ends with 143, 62 characters long.
    const Bytes &block9 = blocks.at(9);
    const Bytes last = Entry(u"You must restart the server before the new settings will work.");
    ASSERT_EQ(last[0], 62);
    EXPECT_TRUE(HasAt(block9, block9.size() - last.size(), last));

    // Block 10: 153, 154 and the cycle's lines 155 to 159; "\n" is two characters.
    const Bytes &block10 = blocks.at(10);
    Bytes tail;
    for (std::u16string_view text : {u"Show Vorsk Server Window", u"Could not listen on port %1:\\n%2",
                                     u"No picture from the camera: %1", u"Could not store the camera's picture: %1",
                                     u"Could not publish the picture: %1", u"The camera gives pictures again.",
                                     u"The camera's picture is stored again."}) {
        const Bytes entry = Entry(text);
        tail.insert(tail.end(), entry.begin(), entry.end());
    }
    EXPECT_TRUE(HasAt(block10, block10.size() - tail.size(), tail));
    // Block 11 opens with 160 to 167; its other eight IDs are absent.
    const Bytes &block11 = blocks.at(11);
    Bytes opening;
    for (std::u16string_view text : {u"The picture is published again.", u"Outside address unknown", u"en",
                                     u"Send HTTP headers (any port, any browser)",
                                     u"No picture from the camera since %1", u"Camera resolution",
                                     u"Camera source", u"Viewer password"}) {
        const Bytes entry = Entry(text);
        opening.insert(opening.end(), entry.begin(), entry.end());
    }
    EXPECT_TRUE(HasAt(block11, 0, opening));
    EXPECT_EQ(block11.size(), opening.size() + 8 * 2);
    EXPECT_TRUE(HasAt(block10, 0,
                      Entry(u"Could not start camera.\\nMake sure its connected and try again.")));
}

TEST(StringTable, WalkTakesOnlyTheAskedEntryOfAnIntactBlock)
{
    const Bytes block = EnglishBlocks().at(7);
    EXPECT_EQ(Found(block, 7, 111), u"Pictures sent");
    EXPECT_EQ(Found(block, 7, 100), u"");
    // An ID of another block is never taken from this one.
    EXPECT_EQ(Found(block, 7, 104 + 16), u"");
    // Cut inside the text of 103, inside a length word, and one byte short of the end.
    for (std::size_t size : {20u, 15u, unsigned(block.size() - 1)}) {
        const Bytes cut(block.begin(), block.begin() + size);
        EXPECT_EQ(Found(cut, 7, 111), u"") << size;
    }
    // A length word that claims more than the block holds.
    Bytes lying(32, 0);
    lying[0] = 0xFF;
    lying[1] = 0xFF;
    EXPECT_EQ(Found(lying, 1, 0), u"");
    EXPECT_EQ(Found({}, 1, 0), u"");
}

TEST(StringTable, BlockNumbersFollowTheFloorRule)
{
    const std::pair<std::int32_t, std::int64_t> cases[] = {
        {0, 1},   {15, 1},   {16, 2},   {159, 10},           {-1, 0},
        {-16, 0}, {-17, -1}, {INT32_MAX, 134217728}, {INT32_MIN, -134217727}};
    for (const auto &[id, block] : cases)
        EXPECT_EQ(StringBlockOf(id), block) << id;
}
