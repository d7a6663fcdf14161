#include "frmFontChooser.h"

#include "cCommonDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QSpinBox>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace {

// Sizes offered when the record sets no limits.
constexpr int kSmallestSize = 1;
constexpr int kLargestSize = 1638;

struct NamedColour
{
    const char *pName;
    std::uint32_t lColor; // 0x00BBGGRR
};

// The colour list of the font dialog.
constexpr std::array<NamedColour, 16> kFontColours{{
    {QT_TRANSLATE_NOOP("frmFontChooser", "Black"), 0x000000},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Maroon"), 0x000080},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Green"), 0x008000},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Olive"), 0x008080},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Navy"), 0x800000},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Purple"), 0x800080},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Teal"), 0x808000},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Gray"), 0x808080},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Silver"), 0xC0C0C0},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Red"), 0x0000FF},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Lime"), 0x00FF00},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Yellow"), 0x00FFFF},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Blue"), 0xFF0000},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Fuchsia"), 0xFF00FF},
    {QT_TRANSLATE_NOOP("frmFontChooser", "Aqua"), 0xFFFF00},
    {QT_TRANSLATE_NOOP("frmFontChooser", "White"), 0xFFFFFF},
}};

QPixmap Swatch(std::uint32_t lColor)
{
    QPixmap pixmap(16, 12);
    pixmap.fill(ColorFromBGR(lColor));
    return pixmap;
}

} // namespace

int PointsOfHeight(int lfHeight, double dTwipsPerPixel)
{
    return int(std::nearbyint(std::abs(lfHeight) * dTwipsPerPixel / 20.0));
}

frmFontChooser::frmFontChooser(const FontRecord &record, QWidget *parent)
    : QDialog(parent),
      m_record(record),
      m_cboFont(new QFontComboBox(this)),
      m_txtSize(new QSpinBox(this)),
      m_chkBold(new QCheckBox(tr("&Bold"), this)),
      m_chkItalic(new QCheckBox(tr("&Italic"), this)),
      m_fraEffects(new QGroupBox(tr("Effects"), this)),
      m_chkUnderline(new QCheckBox(tr("&Underline"), m_fraEffects)),
      m_chkStrikeout(new QCheckBox(tr("Stri&keout"), m_fraEffects)),
      m_cboColor(new QComboBox(m_fraEffects)),
      m_lblSample(new QLabel(tr("AaBbYyZz"), this))
{
    setWindowTitle(tr("Font"));
    m_cboFont->setObjectName(QStringLiteral("cboFont"));
    m_txtSize->setObjectName(QStringLiteral("txtSize"));
    m_chkBold->setObjectName(QStringLiteral("chkBold"));
    m_chkItalic->setObjectName(QStringLiteral("chkItalic"));
    m_chkUnderline->setObjectName(QStringLiteral("chkUnderline"));
    m_chkStrikeout->setObjectName(QStringLiteral("chkStrikeout"));
    m_cboColor->setObjectName(QStringLiteral("cboColor"));
    m_lblSample->setObjectName(QStringLiteral("lblSample"));

    m_cboFont->setCurrentFont(QFont(record.lfFaceName));
    m_cboFont->setEditText(record.lfFaceName);
    const bool bLimited = (record.Flags & CF_LIMITSIZE) != 0;
    const int lLow = bLimited && record.nSizeMin > 0 ? record.nSizeMin : kSmallestSize;
    const int lHigh = bLimited && record.nSizeMax > 0 ? record.nSizeMax : kLargestSize;
    m_txtSize->setRange(lLow, std::max(lLow, lHigh));
    m_txtSize->setValue(PointsOfHeight(record.lfHeight, record.dTwipsPerPixel));
    m_chkBold->setChecked(record.lfWeight > QFont::Medium);
    m_chkItalic->setChecked(record.lfItalic);
    m_chkUnderline->setChecked(record.lfUnderline);
    m_chkStrikeout->setChecked(record.lfStrikeOut);
    FillColours(record.rgbColors);
    m_fraEffects->setVisible((record.Flags & CF_EFFECTS) != 0);

    auto *form = new QFormLayout;
    form->addRow(tr("&Font:"), m_cboFont);
    form->addRow(tr("&Size:"), m_txtSize);
    form->addRow(m_chkBold);
    form->addRow(m_chkItalic);
    auto *effects = new QFormLayout(m_fraEffects);
    effects->addRow(m_chkUnderline);
    effects->addRow(m_chkStrikeout);
    effects->addRow(tr("&Color:"), m_cboColor);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_fraEffects);
    layout->addWidget(m_lblSample);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_cboFont, &QComboBox::currentTextChanged, this, &frmFontChooser::ShowSample);
    connect(m_txtSize, &QSpinBox::valueChanged, this, &frmFontChooser::ShowSample);
    for (QCheckBox *check : {m_chkBold, m_chkItalic, m_chkUnderline, m_chkStrikeout})
        connect(check, &QCheckBox::toggled, this, &frmFontChooser::ShowSample);
    ShowSample();
}

// The sixteen colours of the list, and the given colour as "Custom" when it is
// none of them, so that OK without a change keeps it.
void frmFontChooser::FillColours(std::uint32_t lColor)
{
    for (const NamedColour &colour : kFontColours)
        m_cboColor->addItem(Swatch(colour.lColor), tr(colour.pName), colour.lColor);
    int lIndex = m_cboColor->findData(lColor);
    if (lIndex < 0) {
        m_cboColor->addItem(Swatch(lColor), tr("Custom"), lColor);
        lIndex = m_cboColor->count() - 1;
    }
    m_cboColor->setCurrentIndex(lIndex);
}

void frmFontChooser::ShowSample()
{
    QFont font(m_cboFont->currentText());
    font.setPointSize(m_txtSize->value());
    font.setBold(m_chkBold->isChecked());
    font.setItalic(m_chkItalic->isChecked());
    const bool bEffects = (m_record.Flags & CF_EFFECTS) != 0;
    font.setUnderline(bEffects && m_chkUnderline->isChecked());
    font.setStrikeOut(bEffects && m_chkStrikeout->isChecked());
    m_lblSample->setFont(font);
}

FontRecord frmFontChooser::Result() const
{
    FontRecord result = m_record;
    const QString sFace = m_cboFont->currentText().trimmed();
    if (!sFace.isEmpty())
        result.lfFaceName = sFace;
    result.iPointSize = m_txtSize->value() * 10;
    result.lfHeight = FontRecordHeight(m_txtSize->value(), m_record.dTwipsPerPixel);
    const bool bBold = m_chkBold->isChecked();
    if (bBold != (m_record.lfWeight > QFont::Medium))
        result.lfWeight = bBold ? QFont::Bold : QFont::Normal;
    result.nFontType = bBold ? BOLD_FONTTYPE : REGULAR_FONTTYPE;
    result.lfItalic = m_chkItalic->isChecked();
    if (m_record.Flags & CF_EFFECTS) {
        result.lfUnderline = m_chkUnderline->isChecked();
        result.lfStrikeOut = m_chkStrikeout->isChecked();
        result.rgbColors = m_cboColor->currentData().toUInt();
    }
    return result;
}
