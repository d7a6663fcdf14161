#include "cSourceDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kCameraPrefix = QStringLiteral("camera:");
const QSize kPreviewSize(160, 120);
constexpr int kPreviewMs = 500;

// Two cameras of one kind are told apart by their serial or port.
QString ShownName(const std::vector<CaptureSource> &sources, const CaptureSource &source)
{
    const bool twin = std::count_if(sources.begin(), sources.end(),
                                    [&](const CaptureSource &other) { return other.sName == source.sName; }) > 1;
    return twin && source.sId.startsWith(kCameraPrefix) ? source.sId.mid(kCameraPrefix.size()) : source.sName;
}

// A slider's value on its control's steps, counted from the minimum.
int OnStep(const CameraControl &control, int lValue)
{
    const std::int64_t step = std::max(1, control.lStep);
    const std::int64_t steps = (std::int64_t(lValue) - control.lMinimum + step / 2) / step;
    return int(std::min<std::int64_t>(control.lMaximum, control.lMinimum + steps * step));
}

void ShowValue(QWidget *editor, const CameraControl &control)
{
    const QSignalBlocker quiet(editor);
    if (auto *slider = qobject_cast<QSlider *>(editor)) {
        slider->setValue(control.lValue);
        slider->setToolTip(QString::number(control.lValue));
    } else if (auto *box = qobject_cast<QCheckBox *>(editor)) {
        box->setChecked(control.lValue != 0);
    } else if (auto *list = qobject_cast<QComboBox *>(editor)) {
        list->setCurrentIndex(list->findData(control.lValue));
    }
}

} // namespace

cSourceDialog::cSourceDialog(QWidget *owner, const SourceDialogTexts &texts, std::vector<CaptureSource> sources,
                             const QString &sCurrentId)
    : QDialog(owner), m_texts(texts), m_sources(std::move(sources)), m_sCurrentId(sCurrentId),
      m_list(new QListWidget), m_preview(new QLabel), m_controlsArea(new QScrollArea)
{
    setWindowTitle(texts.sTitle);
    m_list->setObjectName(QStringLiteral("lstSources"));
    m_controlsArea->setObjectName(QStringLiteral("pControls"));
    m_controlsArea->setWidgetResizable(true);
    m_controlsArea->setMinimumWidth(360);
    int current = 0;
    for (std::size_t i = 0; i < m_sources.size(); ++i) {
        m_list->addItem(ShownName(m_sources, m_sources[i]));
        if (m_sources[i].sId == sCurrentId)
            current = int(i);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_preview->setObjectName(QStringLiteral("picPreview"));
    m_preview->setFixedSize(kPreviewSize);
    m_preview->setAlignment(Qt::AlignCenter);
    auto *controlsSide = new QVBoxLayout;
    controlsSide->addWidget(m_preview, 0, Qt::AlignHCenter);
    controlsSide->addWidget(m_controlsArea, 1);
    auto *sides = new QHBoxLayout;
    sides->addWidget(m_list, 2);
    sides->addLayout(controlsSide, 3);
    auto *previewTimer = new QTimer(this);
    connect(previewTimer, &QTimer::timeout, this, &cSourceDialog::PreviewWanted);
    previewTimer->start(kPreviewMs);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(sides);
    layout->addWidget(buttons);
    connect(m_list, &QListWidget::currentRowChanged, this, &cSourceDialog::ShowControls);
    m_list->setCurrentRow(m_sources.empty() ? -1 : current);
}

void cSourceDialog::ShowPreview(const QImage &picture)
{
    m_preview->setPixmap(QPixmap::fromImage(picture.scaled(kPreviewSize, Qt::KeepAspectRatio)));
}

std::optional<QString> cSourceDialog::Chosen() const
{
    if (m_lShown < 0 || Shown().sId == m_sCurrentId)
        return std::nullopt;
    return Shown().sId;
}

void cSourceDialog::ShowControls(int lIndex)
{
    m_lShown = lIndex;
    m_rows.clear();
    m_device = lIndex >= 0 ? OpenControlDevice(Shown().sNode) : nullptr;
    auto *panel = new QWidget;
    auto *grid = new QGridLayout(panel);
    const std::vector<CameraControl> controls = m_device ? m_device->Controls() : std::vector<CameraControl>{};
    for (std::size_t i = 0; i < controls.size(); ++i)
        AddRow(*grid, int(i), controls[i]);
    if (controls.empty()) {
        auto *none = new QLabel(m_texts.sNoControls);
        none->setObjectName(QStringLiteral("lblNoControls"));
        none->setWordWrap(true);
        grid->addWidget(none, 0, 0);
    }
    grid->setRowStretch(grid->rowCount(), 1);
    m_controlsArea->setWidget(panel); // the previous panel goes with it
    Refresh();
}

// The control's name, its editor and the way back to its default, on one row.
void cSourceDialog::AddRow(QGridLayout &grid, int lRow, const CameraControl &control)
{
    const std::uint32_t id = control.lId;
    QWidget *editor = nullptr;
    switch (control.eKind) {
    case CameraControl::Kind::Integer: {
        auto *slider = new QSlider(Qt::Horizontal);
        slider->setRange(control.lMinimum, control.lMaximum);
        slider->setSingleStep(control.lStep);
        const std::int64_t tenth = (std::int64_t(control.lMaximum) - control.lMinimum) / 10;
        slider->setPageStep(int(std::max<std::int64_t>(control.lStep, tenth)));
        connect(slider, &QSlider::valueChanged, this,
                [this, id, control](int value) { Change(id, OnStep(control, value)); });
        editor = slider;
        break;
    }
    case CameraControl::Kind::Boolean: {
        auto *box = new QCheckBox;
        connect(box, &QCheckBox::toggled, this, [this, id](bool on) { Change(id, on ? 1 : 0); });
        editor = box;
        break;
    }
    case CameraControl::Kind::Menu: {
        auto *list = new QComboBox;
        for (const auto &[value, name] : control.menu)
            list->addItem(name, value);
        connect(list, &QComboBox::activated, this,
                [this, id, list](int index) { Change(id, list->itemData(index).toInt()); });
        editor = list;
        break;
    }
    }
    editor->setObjectName(QStringLiteral("control%1").arg(id));
    auto *back = new QPushButton(m_texts.sDefault);
    back->setObjectName(QStringLiteral("default%1").arg(id));
    back->setAutoDefault(false);
    connect(back, &QPushButton::clicked, this, [this, id, fallback = control.lDefault] { Change(id, fallback); });
    grid.addWidget(new QLabel(control.sName), lRow, 0);
    grid.addWidget(editor, lRow, 1);
    grid.addWidget(back, lRow, 2);
    m_rows[id] = {editor, back};
}

// Sets the value on the camera at once, remembering what it replaced; the
// rows then show the camera as it is (a switch may change what is active).
void cSourceDialog::Change(std::uint32_t lId, int lValue)
{
    if (!m_device)
        return;
    const QString camera = Shown().sId;
    for (const CameraControl &control : m_device->Controls())
        if (control.lId == lId && !m_before[camera].count(lId))
            m_before[camera][lId] = control.lValue;
    QString error;
    if (m_device->Set(lId, lValue, error))
        m_changed[camera][lId] = lValue;
    Refresh();
}

void cSourceDialog::Refresh()
{
    if (!m_device)
        return;
    for (const CameraControl &control : m_device->Controls()) {
        const auto row = m_rows.find(control.lId);
        if (row == m_rows.end())
            continue;
        ShowValue(row->second.editor, control);
        const bool settable = !control.bInactive && !control.bReadOnly;
        row->second.editor->setEnabled(settable);
        row->second.defaultButton->setEnabled(settable && control.lValue != control.lDefault);
    }
}

void cSourceDialog::accept()
{
    for (const auto &[camera, values] : m_changed) {
        ControlValues stored = StoredControls(camera);
        for (const auto &[id, value] : values)
            stored[id] = value;
        StoreControls(camera, stored);
    }
    QDialog::accept();
}

void cSourceDialog::reject()
{
    for (const auto &[camera, values] : m_before) {
        const auto source = std::find_if(m_sources.begin(), m_sources.end(),
                                         [&](const CaptureSource &s) { return s.sId == camera; });
        const auto device = source == m_sources.end() ? nullptr : OpenControlDevice(source->sNode);
        if (device)
            ApplyControls(*device, values);
    }
    QDialog::reject();
}
