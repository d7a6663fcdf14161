#pragma once

#include "cCameraControls.h"
#include "cVidCap.h"

#include <QDialog>

#include <map>
#include <memory>
#include <optional>

class QGridLayout;
class QLabel;
class QListWidget;
class QScrollArea;
class QWidget;

// The words of the source dialog, from the wording library.
struct SourceDialogTexts
{
    QString sTitle;
    QString sDefault;    // the button back to the driver's default
    QString sNoControls; // shown for a source without controls
};

// The source dialog: the sources on the left, beside them the controls the
// chosen one offers, as its driver names them (numbers as sliders, switches
// as check boxes, menus as lists), each with a way back to the driver's
// default, and the camera's picture above them. A change is set on the
// camera at once; confirming keeps the
// owner's values under each camera's identity, cancelling puts back the
// values the cameras had.
class cSourceDialog : public QDialog
{
    Q_OBJECT

public:
    cSourceDialog(QWidget *owner, const SourceDialogTexts &texts, std::vector<CaptureSource> sources,
                  const QString &sCurrentId);

    // The source chosen, when it is not the current one.
    std::optional<QString> Chosen() const;
    // The camera's picture as it is now, so the owner sees a change take effect.
    void ShowPreview(const QImage &picture);

    void accept() override;
    void reject() override;

signals:
    // Twice a second while open: a fresh picture for ShowPreview is wanted.
    void PreviewWanted();

private:
    struct Row
    {
        QWidget *editor;
        QWidget *defaultButton;
    };

    void ShowControls(int lIndex);
    void AddRow(QGridLayout &grid, int lRow, const CameraControl &control);
    void Change(std::uint32_t lId, int lValue);
    void Refresh();
    const CaptureSource &Shown() const { return m_sources[std::size_t(m_lShown)]; }

    SourceDialogTexts m_texts;
    std::vector<CaptureSource> m_sources;
    QString m_sCurrentId;
    QListWidget *m_list;
    QLabel *m_preview;
    QScrollArea *m_controlsArea;
    int m_lShown = -1;
    std::unique_ptr<cControlDevice> m_device;
    std::map<std::uint32_t, Row> m_rows;
    // By camera: the values the owner set, and what they were before.
    std::map<QString, ControlValues> m_changed;
    std::map<QString, ControlValues> m_before;
};
