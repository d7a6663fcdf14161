#include "mSettings.h"

#include "mCaption.h"
#include "mNumbers.h"
#include "mSelectPage.h"
#include "mSettingsStore.h"
#include "ui_frmMain.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

namespace {

const QString kSection = QStringLiteral("prefs");
// The server's own choices; the "prefs" keys stay as they always were.
const QString kServerSection = QStringLiteral("server");
// Beside the capture layer's own choice of camera and format.
const QString kCaptureSection = QStringLiteral("capture");

// A stored value as text.
QString ReadText(QSettings &store, const QString &key, const QString &fallback)
{
    const QVariant value = store.value(key);
    return value.isValid() ? value.toString() : fallback;
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
KeyRule NumberKey(const char *key, const char *fallback, QString &target)
{
    const QString defaultText = QString::fromLatin1(fallback);
    return {QString::fromLatin1(key), [defaultText] { return defaultText; },
            [&target, defaultText](const QString &value) { target = IsNumericText(value) ? value : defaultText; }};
}

KeyRule FontFlag(const char *key, QFont &font, bool (QFont::*getter)() const, void (QFont::*setter)(bool))
{
    return {QString::fromLatin1(key), [&font, getter] { return TruthText((font.*getter)()); },
            [&font, setter](const QString &text) {
                if (const auto value = TruthValue(text))
                    (font.*setter)(*value);
            }};
}

// A truth value ("True"/"False" or a number) that does not convert leaves target as it is.
Apply Truth(bool &target)
{
    return [&target](const QString &text) {
        if (const auto value = TruthValue(text))
            target = *value;
    };
}

std::vector<KeyRule> LoadRules(Prefs &prefs)
{
    auto text = [](QString &target) { return [&target](const QString &value) { target = value; }; };
    auto constant = [](const char *value) { return [value] { return QString::fromLatin1(value); }; };
    auto check = [](bool &target) { return [&target](const QString &value) { target = ChecksBox(value); }; };
    auto colour = [](std::uint32_t &target) {
        return [&target](const QString &value) {
            if (const auto c = ColourValue(value))
                target = *c;
        };
    };
    QFont &font = prefs.font;
    return {
        {QStringLiteral("ipserver"), [] { return kDefaultIPServer; }, text(prefs.sIPServer)},
        NumberKey("port", "80", prefs.sPort),
        NumberKey("interval", "3", prefs.sIntvl),
        NumberKey("width", "320", prefs.sWidth),
        NumberKey("height", "240", prefs.sHeight),
        NumberKey("maxcon", "200", prefs.sMaxCon),
        {QStringLiteral("quality"), constant("70"),
         [&prefs](const QString &value) {
             bool ok = false;
             const int quality = WholeNumberValue(value, &ok);
             if (!ok || quality < 0 || quality > 100)
                 return;
             prefs.lQuality = quality;
             prefs.sQualityLabel = value + QLatin1Char('%');
         }},
        FontFlag("fontbold", font, &QFont::bold, &QFont::setBold),
        FontFlag("fontitalic", font, &QFont::italic, &QFont::setItalic),
        {QStringLiteral("fontname"), [&font] { return font.family(); },
         [&font](const QString &value) { font.setFamily(value); }},
        {QStringLiteral("fontsize"), [&font] { return QString::number(font.pointSizeF()); },
         [&font](const QString &value) {
             bool ok = false;
             const float size = float(NumericValue(value, &ok));
             if (ok && size > 0 && size <= 1638)
                 font.setPointSizeF(size);
         }},
        FontFlag("fontStrikethru", font, &QFont::strikeOut, &QFont::setStrikeOut),
        FontFlag("fontUnderline", font, &QFont::underline, &QFont::setUnderline),
        {QStringLiteral("imagetext"), [] { return kDefaultCaption; }, text(prefs.sOnImage)},
        {QStringLiteral("bgcolor"), constant("0"), colour(prefs.lBackColor)},
        {QStringLiteral("fgcolor"), constant("16777215"), colour(prefs.lForeColor)},
        {QStringLiteral("previewwindow"), constant("0"), check(prefs.bPreview)},
        {QStringLiteral("transparent"), constant("0"), check(prefs.bTransparent)},
        {QStringLiteral("senduptime"), constant("1"), check(prefs.bUptime)},
        {QStringLiteral("savelog"), constant("0"), check(prefs.bSavelog)},
    };
}

std::vector<KeyRule> ServerRules(Prefs &prefs)
{
    return {
        {QStringLiteral("headers"), [] { return TruthText(false); }, Truth(prefs.bHeaders)},
        {QStringLiteral("password"), [] { return QString(); },
         [&prefs](const QString &value) { prefs.sPassword = value; }},
    };
}

std::vector<KeyRule> CaptureRules(Prefs &prefs)
{
    return {
        {QStringLiteral("rotate"), [] { return QStringLiteral("0"); },
         [&prefs](const QString &value) { prefs.turn.lRotate = RotationOf(value); }},
        {QStringLiteral("flip"), [] { return FlipText(Flip::None); },
         [&prefs](const QString &value) { prefs.turn.eFlip = FlipOf(value); }},
    };
}

void ReadGroup(const QString &group, const std::vector<KeyRule> &rules)
{
    const auto store = OpenSettingsGroup(group);
    for (const KeyRule &rule : rules)
        rule.apply(ReadText(*store, rule.key, rule.fallback()));
}

// In the order the keys are read: each numeric box's repair sees the texts in that order.
void ShowPrefs(Ui::frmMain &ui, const Prefs &prefs)
{
    ui.txtIPServer->setText(prefs.sIPServer);
    ui.txtPort->setText(prefs.sPort);
    ui.txtIntvl->setText(prefs.sIntvl);
    ui.txtWidth->setText(prefs.sWidth);
    ui.txtHeight->setText(prefs.sHeight);
    ui.txtMaxCon->setText(prefs.sMaxCon);
    ui.Slider1->setValue(prefs.lQuality);
    ui.lblQuality->setText(prefs.sQualityLabel);
    ui.pfg->setFont(prefs.font);
    ui.txtOnImage->setText(prefs.sOnImage);
    ui.pbg->setBackColor(prefs.lBackColor);
    ui.pfg->setBackColor(prefs.lForeColor);
    ui.chkPreview->setChecked(prefs.bPreview);
    ui.chkTransparent->setChecked(prefs.bTransparent);
    ui.chkUptime->setChecked(prefs.bUptime);
    ui.chkSavelog->setChecked(prefs.bSavelog);
    ui.chkHeaders->setChecked(prefs.bHeaders);
    ui.txtPassword->setText(prefs.sPassword);
    ui.cboRotate->setCurrentIndex(prefs.turn.lRotate / 90);
    ui.cboFlip->setCurrentIndex(int(prefs.turn.eFlip));
}

QString CheckText(const QCheckBox *box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

// The combo boxes list the turns in the order of their values.
FrameTurn TurnOf(const Ui::frmMain &ui)
{
    return {std::max(0, ui.cboRotate->currentIndex()) * 90, Flip(std::max(0, ui.cboFlip->currentIndex()))};
}

QString BanListText(const QString &boxText)
{
    QString text = boxText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral(";"));
    text.replace(QLatin1Char('\n'), QLatin1Char(';'));
    return text;
}

} // namespace

Prefs PrefsOf(const Ui::frmMain &ui)
{
    Prefs prefs;
    prefs.sIPServer = ui.txtIPServer->text();
    prefs.sPort = ui.txtPort->text();
    prefs.sIntvl = ui.txtIntvl->text();
    prefs.sWidth = ui.txtWidth->text();
    prefs.sHeight = ui.txtHeight->text();
    prefs.sMaxCon = ui.txtMaxCon->text();
    prefs.lQuality = ui.Slider1->value();
    prefs.sQualityLabel = ui.lblQuality->text();
    prefs.font = ui.pfg->font();
    prefs.sOnImage = ui.txtOnImage->text();
    prefs.lBackColor = ui.pbg->BackColor();
    prefs.lForeColor = ui.pfg->BackColor();
    prefs.bPreview = ui.chkPreview->isChecked();
    prefs.bTransparent = ui.chkTransparent->isChecked();
    prefs.bUptime = ui.chkUptime->isChecked();
    prefs.bSavelog = ui.chkSavelog->isChecked();
    prefs.bHeaders = ui.chkHeaders->isChecked();
    prefs.sPassword = ui.txtPassword->text();
    prefs.turn = TurnOf(ui);
    return prefs;
}

void ReadPrefs(Prefs &prefs)
{
    ReadGroup(kSection, LoadRules(prefs));
    ReadGroup(kServerSection, ServerRules(prefs));
    ReadGroup(kCaptureSection, CaptureRules(prefs));
}

void LoadSettings(Ui::frmMain &ui)
{
    Prefs prefs = PrefsOf(ui);
    ReadPrefs(prefs);
    ShowPrefs(ui, prefs);
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
    const auto server = OpenSettingsGroup(kServerSection);
    server->setValue(QStringLiteral("headers"), TruthText(ui.chkHeaders->isChecked()));
    // No password, no key: a file without one stays as it was.
    if (ui.txtPassword->text().isEmpty())
        server->remove(QStringLiteral("password"));
    else
        server->setValue(QStringLiteral("password"), ui.txtPassword->text());
    server->sync();
    // Not turned, no keys: a file without them stays as it was.
    const FrameTurn turn = TurnOf(ui);
    const auto capture = OpenSettingsGroup(kCaptureSection);
    const std::pair<QString, QString> turnKeys[] = {
        {QStringLiteral("rotate"), turn.lRotate ? QString::number(turn.lRotate) : QString()},
        {QStringLiteral("flip"), turn.eFlip != Flip::None ? FlipText(turn.eFlip) : QString()}};
    for (const auto &[key, value] : turnKeys) {
        if (value.isEmpty())
            capture->remove(key);
        else
            capture->setValue(key, value);
    }
    capture->sync();
}

QString StoredBanList()
{
    const auto store = OpenSettingsGroup(kSection);
    QString text = ReadText(*store, QStringLiteral("banlist"), QString());
    return text.replace(QLatin1Char(';'), QLatin1Char('\n'));
}

double StoredStreamFps()
{
    const auto store = OpenSettingsGroup(kServerSection);
    bool ok = false;
    const double fps = NumericValue(ReadText(*store, QStringLiteral("streamfps"), QString()), &ok);
    return ok && fps > 0 && std::isfinite(fps) ? fps : 0;
}

QString StoredListenAddress()
{
    return ReadText(*OpenSettingsGroup(kServerSection), QStringLiteral("listen"), QString());
}

bool StoredFreshPicture()
{
    const auto store = OpenSettingsGroup(kServerSection);
    return TruthValue(ReadText(*store, QStringLiteral("freshpicture"), QString())).value_or(true);
}

QStringList StoredAllowOrigin()
{
    // A list written with commas and no quotes comes as a list.
    const QVariant value = OpenSettingsGroup(kServerSection)->value(QStringLiteral("alloworigin"));
    const QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(' '))
                                                                  : value.toString();
    return text.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
}

QString PasswordExposedText(const QString &sPassword)
{
    const QString path = OpenSettingsGroup(kServerSection)->fileName();
    struct stat status{};
    if (sPassword.isEmpty() || ::stat(QFile::encodeName(path).constData(), &status) != 0 ||
        (status.st_mode & (S_IRWXG | S_IRWXO)) == 0)
        return QString();
    return QStringLiteral("the settings file %1 holds the viewers' password and others may read it "
                          "(chmod 600 it)").arg(path);
}

void LoadBanList(Ui::frmMain &ui)
{
    ui.txtBan->setPlainText(StoredBanList());
}
