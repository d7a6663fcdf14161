#include "cCommonDialog.h"

#include <QColorDialog>
#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace {

constexpr std::uint32_t kSystemColorFlag = 0x80000000;
constexpr std::uint32_t kNoColor = 0xFFFFFFFF;
constexpr double kTwipsPerInch = 1440.0;

// The classic system colours 0 to 15 (scroll bar, desktop, active caption,
// inactive caption, menu, window, window frame, menu text, window text, caption
// text, active border, inactive border, application workspace, highlight,
// highlighted text, button face), 0x00BBGGRR.
constexpr std::array<std::uint32_t, 16> kSystemColors{
    0xC8D0D4, 0xA56E3A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4,
};

// The one object whose hooked dialog is open (one dialog at a time).
cCommonDialog *g_pHookTarget = nullptr;

double ScreenTwipsPerPixel()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double dDpi = screen ? screen->logicalDotsPerInchY() : 0.0;
    return dDpi > 0.0 ? kTwipsPerInch / dDpi : 15.0;
}

double PointsOf(const QFont &font)
{
    return font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / 96.0;
}

// QColorDialog keeps one table for the whole program; each cCommonDialog
// lends it its own table for the time its dialog is open and takes back
// what the user changed.
class CustomColorLoan
{
public:
    explicit CustomColorLoan(std::array<std::uint32_t, 16> &table) : m_table(table)
    {
        for (int i = 0; i < 16; ++i) {
            m_saved[std::size_t(i)] = QColorDialog::customColor(i);
            QColorDialog::setCustomColor(i, ColorFromBGR(table[std::size_t(i)]));
        }
    }
    ~CustomColorLoan()
    {
        for (int i = 0; i < 16; ++i) {
            m_table[std::size_t(i)] = BGRFromColor(QColorDialog::customColor(i));
            QColorDialog::setCustomColor(i, m_saved[std::size_t(i)]);
        }
    }
    CustomColorLoan(const CustomColorLoan &) = delete;
    CustomColorLoan &operator=(const CustomColorLoan &) = delete;

private:
    std::array<std::uint32_t, 16> &m_table;
    std::array<QColor, 16> m_saved;
};

} // namespace

QColor ColorFromBGR(std::uint32_t lColor)
{
    return QColor(int(lColor & 0xFF), int((lColor >> 8) & 0xFF), int((lColor >> 16) & 0xFF));
}

std::uint32_t BGRFromColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return std::uint32_t(rgb.red()) | std::uint32_t(rgb.green()) << 8 | std::uint32_t(rgb.blue()) << 16;
}

std::uint32_t TranslateColor(std::uint32_t lColor)
{
    if ((lColor & 0xFF000000) == 0)
        return lColor;
    const std::uint32_t lIndex = lColor & ~kSystemColorFlag;
    if ((lColor & kSystemColorFlag) && lIndex < kSystemColors.size())
        return kSystemColors[lIndex];
    return kNoColor;
}

std::uint32_t ColorDialogFlags(std::uint32_t lFlags, bool bHook)
{
    std::uint32_t lResult = CC_RGBINIT | ((lFlags & 256) ? CC_ANYCOLOR : CC_SOLIDCOLOR);
    if (lFlags & 2)
        lResult |= CC_FULLOPEN;
    if (lFlags & 4)
        lResult |= CC_PREVENTFULLOPEN;
    return bHook ? lResult | CC_ENABLEHOOK : lResult;
}

std::uint32_t FontDialogFlags(std::uint32_t lFlags, std::uint32_t lFontColor, int lMin, int lMax)
{
    if (!(lFlags & CF_PRINTERFONTS))
        lFlags |= CF_SCREENFONTS;
    if (lFontColor != 0)
        lFlags |= CF_EFFECTS;
    if (lMin != 0 || lMax != 0)
        lFlags |= CF_LIMITSIZE;
    lFlags &= ~(CF_ENABLEHOOK | CF_ENABLETEMPLATE | CF_APPLY);
    return lFlags | CF_INITTOLOGFONTSTRUCT;
}

int FontRecordHeight(double dPoints, double dTwipsPerPixel)
{
    return -int(std::nearbyint(dPoints * 20.0 / dTwipsPerPixel));
}

cCommonDialog::cCommonDialog(QObject *parent) : QObject(parent), m_customColors(kSystemColors)
{
}

cCommonDialog::~cCommonDialog()
{
    if (g_pHookTarget == this)
        g_pHookTarget = nullptr;
}

cCommonDialog *cCommonDialog::HookTarget()
{
    return g_pHookTarget;
}

std::uint32_t cCommonDialog::CustomColor(int lIndex) const
{
    return lIndex >= 0 && lIndex < 16 ? m_customColors[std::size_t(lIndex)] : 0;
}

void cCommonDialog::setCustomColor(int lIndex, std::uint32_t lColor)
{
    if (lIndex >= 0 && lIndex < 16)
        m_customColors[std::size_t(lIndex)] = lColor;
}

QFont *cCommonDialog::Font()
{
    if (!m_pFont) {
        m_ownFont = std::make_unique<QFont>();
        m_pFont = m_ownFont.get();
    }
    return m_pFont;
}

QString cCommonDialog::FontName() { return Font()->family(); }
void cCommonDialog::setFontName(const QString &sName) { Font()->setFamily(sName); }
int cCommonDialog::FontSize() { return int(std::nearbyint(PointsOf(*Font()))); }
bool cCommonDialog::FontBold() { return Font()->bold(); }
void cCommonDialog::setFontBold(bool bBold) { Font()->setBold(bBold); }
bool cCommonDialog::FontItalic() { return Font()->italic(); }
void cCommonDialog::setFontItalic(bool bItalic) { Font()->setItalic(bItalic); }
bool cCommonDialog::FontStrikethru() { return Font()->strikeOut(); }
void cCommonDialog::setFontStrikethru(bool bStrikethru) { Font()->setStrikeOut(bStrikethru); }
bool cCommonDialog::FontUnderline() { return Font()->underline(); }
void cCommonDialog::setFontUnderline(bool bUnderline) { Font()->setUnderline(bUnderline); }

void cCommonDialog::setFontSize(int lSize)
{
    if (lSize > 0)
        Font()->setPointSize(lSize);
}

// Shows the dialog modally; with the hook on, this object hears of it.
int cCommonDialog::Run(QDialog &dialog)
{
    if (!m_bHookDialog)
        return dialog.exec();
    g_pHookTarget = this;
    // Queued, so that it arrives once the dialog's own loop runs.
    QMetaObject::invokeMethod(&dialog, [this, &dialog] { emit InitDialog(&dialog); }, Qt::QueuedConnection);
    const int lResult = dialog.exec();
    g_pHookTarget = nullptr;
    emit DialogClose();
    return lResult;
}

bool cCommonDialog::ShowColor()
{
    m_lDialogFlags = ColorDialogFlags(m_lFlags, m_bHookDialog);
    QColorDialog dialog(m_hwnd);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    dialog.setCurrentColor(ColorFromBGR(TranslateColor(m_lColor)));
    bool bOk = false;
    {
        const CustomColorLoan loan(m_customColors);
        bOk = Run(dialog) == QDialog::Accepted;
    }
    if (bOk)
        m_lColor = BGRFromColor(dialog.selectedColor());
    return bOk;
}

FontRecord cCommonDialog::RecordOf(const QFont &font) const
{
    FontRecord record;
    record.dTwipsPerPixel = ScreenTwipsPerPixel();
    record.lfHeight = FontRecordHeight(PointsOf(font), record.dTwipsPerPixel);
    record.lfWeight = font.weight();
    record.lfItalic = font.italic();
    record.lfUnderline = font.underline();
    record.lfStrikeOut = font.strikeOut();
    record.lfFaceName = font.family();
    record.iPointSize = int(std::nearbyint(PointsOf(font) * 10));
    record.rgbColors = m_lFontColor;
    record.Flags = m_bHookDialog ? m_lFlags | CF_ENABLEHOOK : m_lFlags;
    record.nSizeMin = m_lMin;
    record.nSizeMax = m_lMax;
    return record;
}

bool cCommonDialog::ShowFont()
{
    QFont &font = *Font();
    m_lFlags = FontDialogFlags(m_lFlags, m_lFontColor, m_lMin, m_lMax);
    const FontRecord record = RecordOf(font);
    m_lDialogFlags = record.Flags;
    frmFontChooser dialog(record, m_hwnd);
    if (Run(dialog) != QDialog::Accepted)
        return false;
    const FontRecord result = dialog.Result();
    m_lFontColor = result.rgbColors;
    m_lFlags = result.Flags;
    font.setItalic(result.lfItalic);
    font.setUnderline(result.lfUnderline);
    font.setStrikeOut(result.lfStrikeOut);
    // The weight carries bold: the chooser keeps it in step with BOLD_FONTTYPE.
    font.setWeight(QFont::Weight(qBound(1, result.lfWeight, 1000)));
    font.setPointSizeF(result.iPointSize / 10.0);
    font.setFamily(result.lfFaceName);
    return true;
}
