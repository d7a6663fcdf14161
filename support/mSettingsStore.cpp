#include "mSettingsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QFileDevice>
#include <QIODevice>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include <sys/stat.h>

namespace {

QString &SettingsFile()
{
    static QString sPath;
    return sPath;
}

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Without the spaces and tabs around it; any other white space is the text's own.
QStringView Trimmed(QStringView text)
{
    while (!text.isEmpty() && IsBlank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && IsBlank(text.back()))
        text.chop(1);
    return text;
}

// The control characters a backslash and a letter stand for in a quoted value.
constexpr std::pair<char16_t, char> kNamedEscapes[] = {{7, 'a'}, {8, 'b'},  {9, 't'}, {10, 'n'},
                                                       {11, 'v'}, {12, 'f'}, {13, 'r'}};

QChar Escaped(QChar letter)
{
    for (const auto &[code, name] : kNamedEscapes)
        if (letter == QLatin1Char(name))
            return QChar(code);
    return letter;
}

// The letter of the named escape for c; 0 when it has none.
char EscapeLetter(QChar c)
{
    for (const auto &[code, name] : kNamedEscapes)
        if (c.unicode() == code)
            return name;
    return 0;
}

// The value of a digit of base, -1 for no such digit.
int DigitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    const int value = u >= '0' && u <= '9'   ? u - '0'
                      : u >= 'a' && u <= 'f' ? u - 'a' + 10
                      : u >= 'A' && u <= 'F' ? u - 'A' + 10
                                             : -1;
    return value < base ? value : -1;
}

// A number of at most maxDigits digits of base at text[i], moving i past it.
char16_t Code(QStringView text, qsizetype &i, int base, int maxDigits)
{
    uint code = 0;
    for (int digits = 0; digits < maxDigits && i < text.size() && DigitValue(text[i], base) >= 0; ++digits, ++i)
        code = code * uint(base) + uint(DigitValue(text[i], base));
    return char16_t(code);
}

// The text inside double quotes at the start of text, with the backslash
// escapes of a quoted INI value; nothing unless the closing quote ends text.
std::optional<QString> Unquoted(QStringView text)
{
    QString value;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"'))
            return i == text.size() - 1 ? std::optional<QString>(value) : std::nullopt;
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            value += c;
            continue;
        }
        const QChar letter = text[++i];
        if (letter == QLatin1Char('x')) {
            ++i;
            value += QChar(Code(text, i, 16, 4));
            --i;
        } else if (letter >= QLatin1Char('0') && letter <= QLatin1Char('7')) {
            value += QChar(Code(text, i, 8, 3));
            --i;
        } else {
            value += Escaped(letter);
        }
    }
    return std::nullopt;
}

// A value as it stands after "=": in double quotes, what they hold; else the
// text as written, ";" and "," included, without the blanks around it.
QString ValueOf(QStringView written)
{
    const QStringView text = Trimmed(written);
    if (text.startsWith(QLatin1Char('"')))
        if (auto quoted = Unquoted(text))
            return *quoted;
    return text.toString();
}

bool ReadIni(QIODevice &device, QSettings::SettingsMap &map)
{
    const QString contents = QString::fromUtf8(device.readAll());
    QString section;
    for (QStringView line : QStringView(contents).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = Trimmed(line);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = Trimmed(line.mid(1, line.size() - 2)).toString();
            if (section == QLatin1String("General"))
                section.clear();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QStringView key = Trimmed(line.left(equals));
        const QString name = section.isEmpty() ? key.toString() : section + QLatin1Char('/') + key.toString();
        map.insert(name, ValueOf(line.mid(equals + 1)));
    }
    return true;
}

// A value that reads back as written, by this reader and by Qt's own: quoted
// where it holds a character either would take otherwise.
QString WrittenValue(const QString &value)
{
    static const QString special = QStringLiteral(";,=\"\\#");
    const bool plain =
        std::none_of(value.begin(), value.end(),
                     [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f || special.contains(c); }) &&
        (value.isEmpty() || (!IsBlank(value.front()) && !IsBlank(value.back())));
    if (plain)
        return value;
    QString quoted = QStringLiteral("\"");
    // A hex digit right after a code would be read as part of it.
    bool bAfterCode = false;
    for (const QChar c : value) {
        const bool bControl = c.unicode() < 0x20 || c.unicode() == 0x7f;
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\') + c;
        } else if (const char letter = EscapeLetter(c)) {
            quoted += QStringLiteral("\\") + QLatin1Char(letter);
        } else if (bControl || (bAfterCode && DigitValue(c, 16) >= 0)) {
            quoted += QStringLiteral("\\x") + QString::number(c.unicode(), 16);
            bAfterCode = true;
            continue;
        } else {
            quoted += c;
        }
        bAfterCode = false;
    }
    return quoted + QLatin1Char('"');
}

// The file may hold the viewers' password: its owner's alone before a byte is
// written, taken from the mode of the file it replaces (the file being written
// is a fresh one beside it), so a mode the owner narrowed further is never widened.
void KeepToOwner(QFileDevice &file)
{
    struct stat status{};
    const bool exists = ::stat(QFile::encodeName(file.fileName()).constData(), &status) == 0;
    const mode_t mode = exists ? status.st_mode & (S_IRUSR | S_IWUSR) : (S_IRUSR | S_IWUSR);
    QFileDevice::Permissions permissions;
    if (mode & S_IRUSR)
        permissions |= QFileDevice::ReadOwner;
    if (mode & S_IWUSR)
        permissions |= QFileDevice::WriteOwner;
    file.setPermissions(permissions);
}

bool WriteIni(QIODevice &device, const QSettings::SettingsMap &map)
{
    // Keys without a group first, under [General] as Qt writes them, then each group in turn.
    std::map<QString, QStringList> sections;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        sections[slash < 0 ? QString() : it.key().left(slash)].append(it.key().mid(slash + 1) + QLatin1Char('=') +
                                                                      WrittenValue(it.value().toString()));
    }
    QString text;
    for (const auto &[section, lines] : sections) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QLatin1Char('[') + (section.isEmpty() ? QStringLiteral("General") : section) +
                QStringLiteral("]\n") + lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    if (auto *file = qobject_cast<QFileDevice *>(&device))
        KeepToOwner(*file);
    const QByteArray bytes = text.toUtf8();
    return device.write(bytes) == bytes.size();
}

// The program's own INI reader and writer: Qt's takes ";" for a comment and
// "," for a list, so values written by hand (a ban list joined with ";", a
// caption with commas) would not read as written.
QSettings::Format SettingsFormat()
{
    static const QSettings::Format format = QSettings::registerFormat(QStringLiteral("conf"), ReadIni, WriteIni);
    return format;
}

} // namespace

std::unique_ptr<QSettings> OpenSettingsGroup(const QString &sGroup)
{
    auto store = SettingsFile().isEmpty()
                     ? std::make_unique<QSettings>(SettingsFormat(), QSettings::UserScope, QStringLiteral("Vorsk"),
                                                   QStringLiteral("Vorsk"))
                     : std::make_unique<QSettings>(SettingsFile(), SettingsFormat());
    store->beginGroup(sGroup);
    return store;
}

void UseSettingsFile(const QString &sPath)
{
    SettingsFile() = sPath;
}

QString NamedSettingsFile()
{
    return SettingsFile();
}

QString SettingsFileInUse()
{
    return OpenSettingsGroup(QString())->fileName();
}

QString SettingsFileProblem(const QString &sPath)
{
    const QFileInfo info(sPath);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!info.isFile())
        return QStringLiteral("not a file");
    QFile file(sPath);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    return {};
}
