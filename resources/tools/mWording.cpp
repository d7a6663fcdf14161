#include "mWording.h"

#include "mDib.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

namespace {

bool HasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

// Reads one line that is neither blank nor a comment into wording; false with the reason.
bool ParseLine(const QString &line, Wording &wording, bool &haveLanguage, QString *error)
{
    static const QRegularExpression languageLine(
        QStringLiteral(R"re(^\s*language\s+(\d{1,5})\s*$)re"));
    static const QRegularExpression textLine(
        QStringLiteral(R"re(^\s*(-?\d{1,10})\s+"(.*)"\s*$)re"));

    if (const QRegularExpressionMatch m = languageLine.match(line); m.hasMatch()) {
        const uint language = m.captured(1).toUInt();
        if (haveLanguage || language > 0xFFFF) {
            *error = haveLanguage ? QStringLiteral("a second language line")
                                  : QStringLiteral("language out of range");
            return false;
        }
        wording.Language = static_cast<std::uint16_t>(language);
        haveLanguage = true;
        return true;
    }
    const QRegularExpressionMatch m = textLine.match(line);
    if (!m.hasMatch()) {
        *error = QStringLiteral("expected: <ID> \"<text>\"");
        return false;
    }
    const qlonglong id = m.captured(1).toLongLong();
    const QString text = m.captured(2);
    if (id < 0 || id > MaxStringID)
        *error = QStringLiteral("ID out of range 0 to %1").arg(MaxStringID);
    else if (wording.Texts.contains(static_cast<std::int32_t>(id)))
        *error = QStringLiteral("ID %1 given twice").arg(id);
    else if (text.size() > 0xFFFF)
        *error = QStringLiteral("text longer than 65535 UTF-16 units");
    else if (HasControlCharacter(text))
        *error = QStringLiteral("control character in text");
    else {
        wording.Texts.emplace(static_cast<std::int32_t>(id), text);
        return true;
    }
    return false;
}

void AppendLittle16(Bytes &bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint32_t ReadLittle32(const QByteArray &bytes, qsizetype pos)
{
    const auto byte = [&](qsizetype i) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[pos + i]));
    };
    return byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
}

void AppendArray(QByteArray &source, const QByteArray &name, const Bytes &bytes)
{
    source += "const std::uint8_t " + name + "[] = {";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        source += (i % 16 == 0) ? "\n   " : "";
        source += ' ' + QByteArray::number(bytes[i]) + ',';
    }
    source += "\n};\n";
}

QByteArray Entry(const char *kind, int id, std::uint16_t language, const QByteArray &name)
{
    return QByteArray("    {") + kind + ", " + QByteArray::number(id) + ", "
           + QByteArray::number(language) + ", " + name + ", sizeof " + name + "},\n";
}

} // namespace

std::optional<Wording> ParseWording(const QByteArray &content, QString *error)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(content);
    if (decoder.hasError()) {
        *error = QStringLiteral("the file is not valid UTF-8");
        return std::nullopt;
    }
    Wording wording;
    bool haveLanguage = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        QString reason;
        if (!ParseLine(line, wording, haveLanguage, &reason)) {
            *error = QStringLiteral("line %1: %2").arg(i + 1).arg(reason);
            return std::nullopt;
        }
    }
    if (!haveLanguage || wording.Texts.empty()) {
        *error = haveLanguage ? QStringLiteral("the file holds no texts")
                              : QStringLiteral("the file has no language line");
        return std::nullopt;
    }
    return wording;
}

std::map<std::uint16_t, Bytes> BuildStringBlocks(const std::map<std::int32_t, QString> &texts)
{
    std::map<std::uint16_t, Bytes> blocks;
    for (const auto &[id, text] : texts)
        blocks.try_emplace(static_cast<std::uint16_t>(id / 16 + 1));
    for (auto &[block, bytes] : blocks) {
        const std::int32_t first = (block - 1) * 16;
        for (std::int32_t id = first; id < first + 16; ++id) {
            const auto found = texts.find(id);
            const QString text = found == texts.end() ? QString() : found->second;
            AppendLittle16(bytes, static_cast<std::uint16_t>(text.size()));
            for (QChar c : text)
                AppendLittle16(bytes, c.unicode());
        }
    }
    return blocks;
}

std::optional<Bytes> BitmapResourceFromFile(const QByteArray &bmp, int width, int height,
                                            QString *error)
{
    constexpr qsizetype FileHeaderSize = 14;
    if (bmp.size() < FileHeaderSize + qsizetype(DibHeaderSize) || !bmp.startsWith("BM")
        || ReadLittle32(bmp, 10) != FileHeaderSize + DibHeaderSize
        || ReadLittle32(bmp, FileHeaderSize) != DibHeaderSize) {
        *error = QStringLiteral("not a BMP file with a 40-byte header and no palette");
        return std::nullopt;
    }
    const Bytes dib(bmp.cbegin() + FileHeaderSize, bmp.cend());
    const std::optional<DibLayout> layout = ParseDib24(dib);
    if (!layout || layout->Width != width || layout->Height != height) {
        *error = QStringLiteral("the logo must be %1 x %2 pixels, 24 bits, uncompressed, bottom-up")
                     .arg(width)
                     .arg(height);
        return std::nullopt;
    }
    return Bytes(dib.begin(), dib.begin() + DibHeaderSize + layout->Pixels.size());
}

QByteArray ResourceDirectorySource(const std::map<std::uint16_t, Bytes> &blocks,
                                   const Bytes &logo, std::uint16_t logoID,
                                   std::uint16_t language)
{
    QByteArray source = "// Generated by mkresdir from a wording file and the logo.\n"
                        "#include \"mResourceDir.h\"\n\n#include <iterator>\n\nnamespace {\n\n";
    QByteArray entries;
    for (const auto &[block, bytes] : blocks) {
        const QByteArray name = "Strings" + QByteArray::number(block);
        AppendArray(source, name, bytes);
        entries += Entry("RT_STRING", block, language, name);
    }
    AppendArray(source, "Logo", logo);
    entries += Entry("RT_BITMAP", logoID, language, "Logo");
    source += "\n} // namespace\n\nconst ResourceEntry ResourceDirectory[] = {\n" + entries
              + "};\nconst std::size_t ResourceDirectorySize = std::size(ResourceDirectory);\n";
    return source;
}
