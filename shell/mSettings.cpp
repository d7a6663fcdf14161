#include "mSettings.h"

#include "mNumbers.h"
#include "mSelectPage.h"
#include "mSettingsStore.h"
#include "ui_frmMain.h"

#include <QSettings>
#include <QStringList>

#include <functional>
#include <optional>

namespace {

const QString kSection = QStringLiteral("prefs");

// A stored value as text. An INI value holding unquoted commas reads back as
// a list; it is the same text to us.
QString ReadText(QSettings &store, const QString &key, const QString &fallback)
{
    const QVariant value = store.value(key);
    if (!value.isValid())
        return fallback;
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

std::optional<bool> TruthValue(const QString &text)
{
    if (text.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = NumericValue(text, &ok);
    return ok ? std::optional<bool>(number != 0) : std::nullopt;
}

QString TruthText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// A colour as stored: the signed decimal of its 32-bit value.
std::optional<std::uint32_t> ColourValue(const QString &text)
{
    bool ok = false;
    const double value = std::nearbyint(NumericValue(text, &ok));
    if (!ok || value < -2147483648.0 || value > 4294967295.0)
        return std::nullopt;
    return std::uint32_t(std::int64_t(value));
}

QString ColourText(std::uint32_t colour)
{
    return QString::number(std::int32_t(colour));
}

bool ChecksBox(const QString &text)
{
    bool ok = false;
    return NumericValue(text, &ok) == 1.0 && ok;
}

// One key: its text goes to apply, which may refuse it (the control keeps its value).
using Apply = std::function<void(const QString &)>;

struct KeyRule
{
    QString key;
    std::function<QString()> fallback;
    Apply apply;
};

// A numeric box takes a stored number as it is and anything else as the key's default, so
// the box is only ever handed a number: its repair of typed text, which would put back the
// last number of any box, finds nothing to repair, and still remembers this number as the
// last one seen, as typing it would.
KeyRule NumberKey(const char *key, const char *fallback, QLineEdit *box)
{
    const QString defaultText = QString::fromLatin1(fallback);
    return {QString::fromLatin1(key), [defaultText] { return defaultText; },
            [box, defaultText](const QString &value) {
                box->setText(IsNumericText(value) ? value : defaultText);
            }};
}

void SetFont(Ui::frmMain &ui, const std::function<void(QFont &)> &change)
{
    QFont font = ui.pfg->font();
    change(font);
    ui.pfg->setFont(font);
}

Apply FontFlag(Ui::frmMain &ui, void (QFont::*setter)(bool))
{
    return [&ui, setter](const QString &text) {
        if (const auto value = TruthValue(text))
            SetFont(ui, [&](QFont &font) { (font.*setter)(*value); });
    };
}

QString FontFlagText(Ui::frmMain &ui, bool (QFont::*getter)() const)
{
    return TruthText((ui.pfg->font().*getter)());
}

std::vector<KeyRule> LoadRules(Ui::frmMain &ui)
{
    auto text = [](QLineEdit *box) { return [box](const QString &value) { box->setText(value); }; };
    auto constant = [](const char *value) { return [value] { return QString::fromLatin1(value); }; };
    auto check = [](QCheckBox *box) { return [box](const QString &value) { box->setChecked(ChecksBox(value)); }; };
    auto colour = [](cColorSwatch *swatch) {
        return [swatch](const QString &value) {
            if (const auto c = ColourValue(value))
                swatch->setBackColor(*c);
        };
    };
    return {
        {QStringLiteral("ipserver"), [] { return kDefaultIPServer; }, text(ui.txtIPServer)},
        NumberKey("port", "80", ui.txtPort),
        NumberKey("interval", "3", ui.txtIntvl),
        NumberKey("width", "320", ui.txtWidth),
        NumberKey("height", "240", ui.txtHeight),
        NumberKey("maxcon", "200", ui.txtMaxCon),
        {QStringLiteral("quality"), constant("70"),
         [&ui](const QString &value) {
             bool ok = false;
             const int quality = WholeNumberValue(value, &ok);
             if (!ok || quality < ui.Slider1->minimum() || quality > ui.Slider1->maximum())
                 return;
             ui.Slider1->setValue(quality);
             ui.lblQuality->setText(value + QLatin1Char('%'));
         }},
        {QStringLiteral("fontbold"), [&ui] { return FontFlagText(ui, &QFont::bold); }, FontFlag(ui, &QFont::setBold)},
        {QStringLiteral("fontitalic"), [&ui] { return FontFlagText(ui, &QFont::italic); },
         FontFlag(ui, &QFont::setItalic)},
        {QStringLiteral("fontname"), [&ui] { return ui.pfg->font().family(); },
         [&ui](const QString &value) { SetFont(ui, [&](QFont &font) { font.setFamily(value); }); }},
        {QStringLiteral("fontsize"), [&ui] { return QString::number(ui.pfg->font().pointSizeF()); },
         [&ui](const QString &value) {
             bool ok = false;
             const float size = float(NumericValue(value, &ok));
             if (ok && size > 0 && size <= 1638)
                 SetFont(ui, [&](QFont &font) { font.setPointSizeF(size); });
         }},
        {QStringLiteral("fontStrikethru"), [&ui] { return FontFlagText(ui, &QFont::strikeOut); },
         FontFlag(ui, &QFont::setStrikeOut)},
        {QStringLiteral("fontUnderline"), [&ui] { return FontFlagText(ui, &QFont::underline); },
         FontFlag(ui, &QFont::setUnderline)},
        {QStringLiteral("imagetext"), constant("{YY}/{MM}/{DD} - {HH}:{MI}:{SS}"), text(ui.txtOnImage)},
        {QStringLiteral("bgcolor"), constant("0"), colour(ui.pbg)},
        {QStringLiteral("fgcolor"), constant("16777215"), colour(ui.pfg)},
        {QStringLiteral("previewwindow"), constant("0"), check(ui.chkPreview)},
        {QStringLiteral("transparent"), constant("0"), check(ui.chkTransparent)},
        {QStringLiteral("senduptime"), constant("1"), check(ui.chkUptime)},
        {QStringLiteral("savelog"), constant("0"), check(ui.chkSavelog)},
    };
}

QString CheckText(const QCheckBox *box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

QString BanListText(const QString &boxText)
{
    QString text = boxText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral(";"));
    text.replace(QLatin1Char('\n'), QLatin1Char(';'));
    return text;
}

} // namespace

void LoadSettings(Ui::frmMain &ui)
{
    const auto store = OpenSettingsGroup(kSection);
    for (const KeyRule &rule : LoadRules(ui))
        rule.apply(ReadText(*store, rule.key, rule.fallback()));
    SetStartPageState(ui);
}

void SaveSettings(const Ui::frmMain &ui)
{
    const auto store = OpenSettingsGroup(kSection);
    const QFont font = ui.pfg->font();
    const std::pair<const char *, QString> values[] = {
        {"port", ui.txtPort->text()},
        {"interval", ui.txtIntvl->text()},
        {"width", ui.txtWidth->text()},
        {"height", ui.txtHeight->text()},
        {"maxcon", ui.txtMaxCon->text()},
        {"quality", QString::number(ui.Slider1->value())},
        {"senduptime", CheckText(ui.chkUptime)},
        {"ipserver", ui.txtIPServer->text()},
        {"banlist", BanListText(ui.txtBan->toPlainText())},
        {"bgcolor", ColourText(ui.pbg->BackColor())},
        {"fgcolor", ColourText(ui.pfg->BackColor())},
        {"fontbold", TruthText(font.bold())},
        {"fontitalic", TruthText(font.italic())},
        {"fontname", font.family()},
        {"fontsize", QString::number(float(font.pointSizeF()))},
        {"fontStrikethru", TruthText(font.strikeOut())},
        {"fontUnderline", TruthText(font.underline())},
        {"previewwindow", CheckText(ui.chkPreview)},
        {"transparent", CheckText(ui.chkTransparent)},
        {"savelog", CheckText(ui.chkSavelog)},
        {"imagetext", ui.txtOnImage->text()},
    };
    for (const auto &[key, value] : values)
        store->setValue(QString::fromLatin1(key), value);
    store->sync();
}

void LoadBanList(Ui::frmMain &ui)
{
    const auto store = OpenSettingsGroup(kSection);
    QString text = ReadText(*store, QStringLiteral("banlist"), QString());
    text.replace(QLatin1Char(';'), QLatin1Char('\n'));
    ui.txtBan->setPlainText(text);
}
