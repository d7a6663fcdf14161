#include "mWording.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

std::optional<Wording> Parse(const QByteArray &content, QString *error = nullptr)
{
    QString ignored;
    return ParseWording(content, error ? error : &ignored);
}

Wording ReadWording(const char *name)
{
    QFile file(QStringLiteral(VORSK_WORDING_DIR "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    QString error;
    const std::optional<Wording> wording = ParseWording(file.readAll(), &error);
    EXPECT_TRUE(wording) << name << ": " << error.toStdString();
    return wording.value_or(Wording{});
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

} // namespace

TEST(WordingFile, TextsAreTakenExactlyAsWritten)
{
    const std::optional<Wording> wording = Parse("\xEF\xBB\xBF# comment\r\n"
                                                 "language 1053\r\n"
                                                 "\n"
                                                 "  7   \"say \"hi\"\\n & go \"  \r\n"
                                                 "8 \"\"\n"
                                                 "9 \"Förhandsvisa\"\n");
    ASSERT_TRUE(wording);
    EXPECT_EQ(wording->Language, 1053);
    ASSERT_EQ(wording->Texts.size(), 3u);
    EXPECT_EQ(wording->Texts.at(7), QStringLiteral("say \"hi\"\\n & go "));
    EXPECT_EQ(wording->Texts.at(8), QString());
    EXPECT_EQ(wording->Texts.at(9), QStringLiteral("Förhandsvisa"));
}

TEST(WordingFile, FaultyFilesAreRefusedWithTheLine)
{
    const struct
    {
        QByteArray content;
        const char *reason;
    } cases[] = {
        {"103 \"a\"\n", "no language line"},
        {"language 1053\nlanguage 1033\n103 \"a\"\n", "line 2: a second language line"},
        {"language 70000\n103 \"a\"\n", "language out of range"},
        {"language 1053\n", "no texts"},
        {"language 1053\n103 \"a\"\n103 \"b\"\n", "line 3: ID 103 given twice"},
        {"language 1053\n-1 \"a\"\n", "ID out of range"},
        {"language 1053\n1048560 \"a\"\n", "ID out of range"},
        {"language 1053\n103 a\n", "line 2: expected"},
        {"language 1053\n103 \"a\" b\n", "expected"},
        {"language 1053\n103 \"a\tb\"\n", "control character"},
        {"language 1053\n103 \"\xC3\x28\"\n", "not valid UTF-8"},
        {"language 1053\n103 \"" + QByteArray(70000, 'x') + "\"\n", "longer than 65535"},
    };
    for (const auto &c : cases) {
        QString error;
        EXPECT_FALSE(Parse(c.content, &error)) << c.reason;
        EXPECT_TRUE(error.contains(QLatin1String(c.reason))) << error.toStdString();
    }
}

TEST(WordingFile, EnglishHoldsTheProgramsTexts)
{
    const Wording english = ReadWording("en.txt");
    EXPECT_EQ(english.Language, 1053);
    std::vector<std::int32_t> ids;
    for (const auto &[id, text] : english.Texts)
        ids.push_back(id);
    const std::vector<std::int32_t> expected = {
        103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 115, 116, 117, 118, 119, 120,
        121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 136,
        137, 138, 139, 141, 142, 143, 144, 146, 147, 148, 149, 150, 152, 153, 154, 155,
        156, 157, 158, 159, 160, 161, 162, 163, 164, 165, 166, 167, 173, 176, 177, 181,
        182, 186, 187, 188, 189, 190, 191, 192, 193, 194, 195, 196, 200};
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(english.Texts.at(106), QStringLiteral("St&op server"));
    EXPECT_EQ(english.Texts.at(137), QStringLiteral("Baned IP numbers (New row between entries)"));
    EXPECT_EQ(english.Texts.at(152), QStringLiteral("Are you sure you want to quit\\nthis program "
                                                    "while the server is running?"));
}

// A translation must fit the program as the original does: the same IDs, one accelerator
// where the original has one, the same line breaks, the name kept, the file name untouched.
TEST(WordingFile, SwedishFitsWhereEnglishDoes)
{
    const Wording english = ReadWording("en.txt");
    const Wording swedish = ReadWording("sv.txt");
    EXPECT_EQ(swedish.Language, english.Language);
    ASSERT_EQ(swedish.Texts.size(), english.Texts.size());
    for (const auto &[id, source] : english.Texts) {
        ASSERT_TRUE(swedish.Texts.contains(id)) << id;
        const QString &text = swedish.Texts.at(id);
        EXPECT_FALSE(text.isEmpty()) << id;
        EXPECT_EQ(text.count(QLatin1Char('&')), source.count(QLatin1Char('&'))) << id;
        EXPECT_EQ(text.count(QLatin1String("\\n")), source.count(QLatin1String("\\n"))) << id;
        EXPECT_EQ(text.contains(QLatin1String("Vorsk")), source.contains(QLatin1String("Vorsk")))
            << id;
    }
    EXPECT_EQ(swedish.Texts.at(149), QStringLiteral("lastpic"));
    EXPECT_EQ(swedish.Texts.at(104), QStringLiteral("&Hjälp"));
    EXPECT_EQ(english.Texts.at(162), QStringLiteral("en")) << "the language Qt's own texts speak";
    EXPECT_EQ(swedish.Texts.at(162), QStringLiteral("sv"));
}

TEST(WordingFile, LogoBecomesABitmapResource)
{
    const QByteArray bmp = ReadFile(QStringLiteral(VORSK_LOGO_BMP));
    QString error;
    const std::optional<Bytes> logo = BitmapResourceFromFile(bmp, 309, 75, &error);
    ASSERT_TRUE(logo) << error.toStdString();
    ASSERT_EQ(logo->size(), 40u + 928u * 75u);
    EXPECT_EQ(*logo, Bytes(bmp.begin() + 14, bmp.end()));

    EXPECT_FALSE(BitmapResourceFromFile(bmp, 310, 75, &error));
    EXPECT_TRUE(error.contains(QLatin1String("310 x 75"))) << error.toStdString();
    EXPECT_FALSE(BitmapResourceFromFile(bmp.left(5000), 309, 75, &error));
    EXPECT_FALSE(BitmapResourceFromFile(QByteArray(100, 'B'), 309, 75, &error));
    QByteArray paletted = bmp;
    paletted[28] = 8;
    EXPECT_FALSE(BitmapResourceFromFile(paletted, 309, 75, &error));
}
