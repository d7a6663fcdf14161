#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QGroupBox;
class QLabel;
class QSpinBox;

// Flags of the font dialog record.
constexpr std::uint32_t CF_SCREENFONTS = 0x1;
constexpr std::uint32_t CF_PRINTERFONTS = 0x2;
constexpr std::uint32_t CF_ENABLEHOOK = 0x8;
constexpr std::uint32_t CF_ENABLETEMPLATE = 0x10;
constexpr std::uint32_t CF_INITTOLOGFONTSTRUCT = 0x40;
constexpr std::uint32_t CF_EFFECTS = 0x100;
constexpr std::uint32_t CF_APPLY = 0x200;
constexpr std::uint32_t CF_LIMITSIZE = 0x2000;

// Font types the dialog reports.
constexpr std::uint32_t BOLD_FONTTYPE = 0x100;
constexpr std::uint32_t REGULAR_FONTTYPE = 0x400;

// What the font dialog starts from and what it returns.
struct FontRecord
{
    int lfHeight = 0; // character height in pixels, negative
    int lfWeight = 400;
    bool lfItalic = false;
    bool lfUnderline = false;
    bool lfStrikeOut = false;
    int lfCharSet = 0;
    QString lfFaceName;
    int iPointSize = 0; // tenths of a point
    std::uint32_t rgbColors = 0; // 0x00BBGGRR
    std::uint32_t Flags = 0;
    int nSizeMin = 0;
    int nSizeMax = 0;
    std::uint32_t nFontType = REGULAR_FONTTYPE;
    double dTwipsPerPixel = 15.0; // of the screen the height was measured on
};

// The program's font chooser: face, whole point size (within nSizeMin..nSizeMax
// when CF_LIMITSIZE is set), bold, italic and, with CF_EFFECTS, underline,
// strike-out and a colour from the list. It starts from the record's height.
//
// Controls (by object name): cboFont, txtSize, chkBold, chkItalic,
// chkUnderline, chkStrikeout, cboColor, lblSample, buttons.
class frmFontChooser : public QDialog
{
    Q_OBJECT

public:
    explicit frmFontChooser(const FontRecord &record, QWidget *parent = nullptr);

    // The record with the user's choice; meaningful once the dialog is accepted.
    FontRecord Result() const;

private:
    void FillColours(std::uint32_t lColor);
    void ShowSample();

    FontRecord m_record;
    QFontComboBox *m_cboFont;
    QSpinBox *m_txtSize;
    QCheckBox *m_chkBold;
    QCheckBox *m_chkItalic;
    QGroupBox *m_fraEffects;
    QCheckBox *m_chkUnderline;
    QCheckBox *m_chkStrikeout;
    QComboBox *m_cboColor;
    QLabel *m_lblSample;
};

// The font size a record height stands for, in whole points (halves to even).
int PointsOfHeight(int lfHeight, double dTwipsPerPixel);
