#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// One control of a camera, as its driver names and describes it.
struct CameraControl
{
    enum class Kind { Integer, Boolean, Menu };

    std::uint32_t lId = 0;
    QString sName;
    Kind eKind = Kind::Integer;
    int lMinimum = 0;
    int lMaximum = 0;
    int lStep = 1;
    int lDefault = 0;
    int lValue = 0;
    bool bInactive = false; // of no effect while another control is on auto
    bool bReadOnly = false;
    std::vector<std::pair<int, QString>> menu; // a menu's choices: value and name
};

// A camera's controls, listed with their current values, and set one at a time.
class cControlDevice
{
public:
    virtual ~cControlDevice() = default;
    virtual std::vector<CameraControl> Controls() = 0;
    // False, with the driver's reason, when the value was not taken.
    virtual bool Set(std::uint32_t lId, int lValue, QString &sError) = 0;
};

// The values the owner chose, by control id.
using ControlValues = std::map<std::uint32_t, int>;

// The values kept for a camera under its identity (the source id that
// [capture] device holds) in the settings group "capture"; storing an empty
// set forgets the camera.
ControlValues StoredControls(const QString &sCameraId);
void StoreControls(const QString &sCameraId, const ControlValues &values);

// Sets values on the device: the switches first (booleans and menus, such as
// automatic exposure), then the numbers they leave active. Controls the
// device lacks, read-only ones, inactive ones and values outside a control's
// range are passed over. One line for each value refused or out of range.
QStringList ApplyControls(cControlDevice &device, const ControlValues &values);

// The controls of the camera at a V4L2 device node; null where there is none
// to open (a camera found another way, the test pattern, a pipeline).
std::unique_ptr<cControlDevice> OpenControlDevice(const QString &sNode);

// What opens a node's controls: the V4L2 device unless a stand-in is put in
// its place (no V4L2 device can be made without a camera); empty puts the
// device back.
using ControlDeviceOpener = std::function<std::unique_ptr<cControlDevice>(const QString &sNode)>;
void UseControlDeviceOpener(ControlDeviceOpener opener);

// The values kept for the camera set on its node, as at every opening; the
// lines of ApplyControls.
QStringList ApplyStoredControlsAt(const QString &sCameraId, const QString &sNode);
