#pragma once

#include "frmFontChooser.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class QDialog;
class QWidget;

// Flags of the colour dialog record.
constexpr std::uint32_t CC_RGBINIT = 0x1;
constexpr std::uint32_t CC_FULLOPEN = 0x2;
constexpr std::uint32_t CC_PREVENTFULLOPEN = 0x4;
constexpr std::uint32_t CC_ENABLEHOOK = 0x10;
constexpr std::uint32_t CC_ENABLETEMPLATE = 0x20;
constexpr std::uint32_t CC_SOLIDCOLOR = 0x80;
constexpr std::uint32_t CC_ANYCOLOR = 0x100;

// Colours of the program are 32-bit values 0x00BBGGRR.
QColor ColorFromBGR(std::uint32_t lColor);
std::uint32_t BGRFromColor(const QColor &color);

// The plain colour of a colour value: system colour references (0x80000000 +
// index) resolved from the fixed system colour table; 0xFFFFFFFF (-1) for a
// value that cannot be translated.
std::uint32_t TranslateColor(std::uint32_t lColor);

// The colour dialog record's flags for the `flags` property.
std::uint32_t ColorDialogFlags(std::uint32_t lFlags, bool bHook);
// The font dialog's flags for the `flags` property, the colour and the limits
// (without the hook flag, which only the record gets).
std::uint32_t FontDialogFlags(std::uint32_t lFlags, std::uint32_t lFontColor, int lMin, int lMax);
// A font record's height for a size in points: -(points * 20 / twips per
// pixel), to the nearest integer with halves to even.
int FontRecordHeight(double dPoints, double dTwipsPerPixel);

// Front end for the colour and font dialogs, configured through properties and
// shown by ShowColor and ShowFont. Cancelling leaves every property unchanged
// and raises nothing. With HookDialog set, the open dialog reports to this
// object: InitDialog once it runs (the dialog is there to be looked at or
// driven), DialogClose when it has closed; the object is HookTarget() for that
// time.
class cCommonDialog : public QObject
{
    Q_OBJECT

public:
    explicit cCommonDialog(QObject *parent = nullptr);
    ~cCommonDialog() override;

    QWidget *hwnd() const { return m_hwnd; }
    void setHwnd(QWidget *hwnd) { m_hwnd = hwnd; }
    std::uint32_t flags() const { return m_lFlags; }
    void setFlags(std::uint32_t lFlags) { m_lFlags = lFlags; }
    // Kept for the caller; cancelling the colour and font dialogs never raises.
    bool CancelError() const { return m_bCancelError; }
    void setCancelError(bool bCancelError) { m_bCancelError = bCancelError; }
    // Kept for the caller; the colour and font dialogs have no title field.
    const QString &DialogTitle() const { return m_sDialogTitle; }
    void setDialogTitle(const QString &sDialogTitle) { m_sDialogTitle = sDialogTitle; }
    bool HookDialog() const { return m_bHookDialog; }
    void setHookDialog(bool bHookDialog) { m_bHookDialog = bHookDialog; }
    // The record flags the last dialog was shown with.
    std::uint32_t DialogFlags() const { return m_lDialogFlags; }

    std::uint32_t Color() const { return m_lColor; }
    void setColor(std::uint32_t lColor) { m_lColor = lColor; }
    // Index 0 to 15; other indexes read 0 and are not written.
    std::uint32_t CustomColor(int lIndex) const;
    void setCustomColor(int lIndex, std::uint32_t lColor);

    // The font object the font properties work on. The owner of a font set
    // here keeps it alive while this object may use it; without one, a default
    // font of this object's own is created on first access.
    QFont *Font();
    void setFont(QFont *pFont) { m_pFont = pFont; }
    QString FontName();
    void setFontName(const QString &sName);
    int FontSize(); // nearest whole points
    void setFontSize(int lSize);
    bool FontBold();
    void setFontBold(bool bBold);
    bool FontItalic();
    void setFontItalic(bool bItalic);
    bool FontStrikethru();
    void setFontStrikethru(bool bStrikethru);
    bool FontUnderline();
    void setFontUnderline(bool bUnderline);
    std::uint32_t FontColor() const { return m_lFontColor; }
    void setFontColor(std::uint32_t lFontColor) { m_lFontColor = lFontColor; }
    int Min() const { return m_lMin; }
    void setMin(int lMin) { m_lMin = lMin; }
    int Max() const { return m_lMax; }
    void setMax(int lMax) { m_lMax = lMax; }

    // True when the user chose OK.
    bool ShowColor();
    bool ShowFont();

    // The object whose hooked dialog is open; null when none is.
    static cCommonDialog *HookTarget();

signals:
    void InitDialog(QDialog *dialog);
    void DialogClose();

private:
    int Run(QDialog &dialog);
    FontRecord RecordOf(const QFont &font) const;

    QPointer<QWidget> m_hwnd;
    std::uint32_t m_lFlags = 0;
    bool m_bCancelError = false;
    QString m_sDialogTitle;
    bool m_bHookDialog = false;
    std::uint32_t m_lDialogFlags = 0;
    std::uint32_t m_lColor = 0;
    std::array<std::uint32_t, 16> m_customColors;
    QFont *m_pFont = nullptr;
    std::unique_ptr<QFont> m_ownFont;
    std::uint32_t m_lFontColor = 0;
    int m_lMin = 0;
    int m_lMax = 0;
};
