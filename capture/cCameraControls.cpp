#include "cCameraControls.h"

#include "mSettingsStore.h"
#include "mV4l2Device.h"

#include <QSettings>

namespace {

const QString kGroup = QStringLiteral("capture");
const QString kArray = QStringLiteral("controls");
const QString kCameraKey = QStringLiteral("camera");
const QString kValuesKey = QStringLiteral("values");

// "0x00980900=140, 0x00980918=1": ids as the kernel's headers and v4l2-ctl
// write them, since a driver's names change between kernels.
QString ValuesText(const ControlValues &values)
{
    QStringList parts;
    for (const auto &[id, value] : values)
        parts << QStringLiteral("0x%1=%2").arg(id, 8, 16, QLatin1Char('0')).arg(value);
    return parts.join(QStringLiteral(", "));
}

ControlValues ValuesOf(const QString &sText)
{
    ControlValues values;
    for (const QString &part : sText.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList pair = part.trimmed().split(QLatin1Char('='));
        bool idOk = false, valueOk = false;
        const std::uint32_t id = pair.value(0).toUInt(&idOk, 0);
        const int value = pair.value(1).toInt(&valueOk);
        if (pair.size() == 2 && idOk && valueOk)
            values[id] = value;
    }
    return values;
}

using Entries = std::vector<std::pair<QString, QString>>; // camera, values text

Entries ReadEntries(QSettings &store)
{
    Entries entries;
    const int size = store.beginReadArray(kArray);
    for (int i = 0; i < size; ++i) {
        store.setArrayIndex(i);
        entries.emplace_back(store.value(kCameraKey).toString(), store.value(kValuesKey).toString());
    }
    store.endArray();
    return entries;
}

ControlDeviceOpener &Opener()
{
    static ControlDeviceOpener opener;
    return opener;
}

bool IsSwitch(const CameraControl &control)
{
    return control.eKind != CameraControl::Kind::Integer;
}

} // namespace

ControlValues StoredControls(const QString &sCameraId)
{
    const auto store = OpenSettingsGroup(kGroup);
    for (const auto &[camera, text] : ReadEntries(*store))
        if (camera == sCameraId)
            return ValuesOf(text);
    return {};
}

void StoreControls(const QString &sCameraId, const ControlValues &values)
{
    const auto store = OpenSettingsGroup(kGroup);
    Entries entries = ReadEntries(*store);
    std::erase_if(entries, [&](const auto &entry) { return entry.first == sCameraId; });
    if (!values.empty())
        entries.emplace_back(sCameraId, ValuesText(values));
    store->remove(kArray);
    store->beginWriteArray(kArray, int(entries.size()));
    for (int i = 0; i < int(entries.size()); ++i) {
        store->setArrayIndex(i);
        store->setValue(kCameraKey, entries[std::size_t(i)].first);
        store->setValue(kValuesKey, entries[std::size_t(i)].second);
    }
    store->endArray();
    store->sync();
}

// One pass over the device's controls as they are now: those of the kind
// asked for that hold a value of the owner's get it. Inactive ones wait for
// a switch of their own.
void ApplyPass(cControlDevice &device, const ControlValues &values, bool bSwitches, QStringList &failures)
{
    for (const CameraControl &control : device.Controls()) {
        const auto stored = values.find(control.lId);
        if (stored == values.end() || control.bReadOnly || IsSwitch(control) != bSwitches ||
            (!bSwitches && control.bInactive) || stored->second == control.lValue)
            continue;
        QString error;
        if (stored->second < control.lMinimum || stored->second > control.lMaximum)
            error = QStringLiteral("%1 is outside %2 to %3")
                        .arg(stored->second)
                        .arg(control.lMinimum)
                        .arg(control.lMaximum);
        else
            device.Set(control.lId, stored->second, error);
        if (!error.isEmpty())
            failures << control.sName + QStringLiteral(": ") + error;
    }
}

QStringList ApplyControls(cControlDevice &device, const ControlValues &values)
{
    QStringList failures;
    if (values.empty())
        return failures;
    ApplyPass(device, values, true, failures);
    ApplyPass(device, values, false, failures);
    return failures;
}

std::unique_ptr<cControlDevice> OpenControlDevice(const QString &sNode)
{
    if (sNode.isEmpty())
        return nullptr;
    if (Opener())
        return Opener()(sNode);
    auto device = std::make_unique<cV4l2Device>(sNode);
    return device->Opened() ? std::move(device) : nullptr;
}

void UseControlDeviceOpener(ControlDeviceOpener opener)
{
    Opener() = std::move(opener);
}

QStringList ApplyStoredControlsAt(const QString &sCameraId, const QString &sNode)
{
    const ControlValues values = StoredControls(sCameraId);
    if (values.empty())
        return {};
    const auto device = OpenControlDevice(sNode);
    return device ? ApplyControls(*device, values) : QStringList{QStringLiteral("its controls cannot be opened")};
}
