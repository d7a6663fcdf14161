#include "TestHome.h"
#include "cCameraControls.h"
#include "cSourceDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QFile>
#include <QListWidget>
#include <QSlider>

#include <linux/videodev2.h>

namespace {

// A webcam's controls as a UVC driver gives them: exposure and the white
// balance's temperature are inactive while their automatic switch is on,
// and refuse a value then.
struct StandInCamera
{
    std::vector<CameraControl> controls = {
        {V4L2_CID_BRIGHTNESS, QStringLiteral("Brightness"), CameraControl::Kind::Integer, 0, 255, 1, 128, 128, false,
         false, {}},
        {V4L2_CID_AUTO_WHITE_BALANCE, QStringLiteral("White Balance, Automatic"), CameraControl::Kind::Boolean, 0,
         1, 1, 1, 1, false, false, {}},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, QStringLiteral("White Balance Temperature"),
         CameraControl::Kind::Integer, 2800, 6500, 10, 4600, 4600, false, false, {}},
        {V4L2_CID_EXPOSURE_AUTO, QStringLiteral("Auto Exposure"), CameraControl::Kind::Menu, 1, 3, 1, 3, 3, false,
         false, {{1, QStringLiteral("Manual Mode")}, {3, QStringLiteral("Aperture Priority Mode")}}},
        {V4L2_CID_EXPOSURE_ABSOLUTE, QStringLiteral("Exposure Time, Absolute"), CameraControl::Kind::Integer, 3,
         2047, 1, 250, 250, false, false, {}},
    };
    std::vector<std::uint32_t> sets; // in the order they came

    CameraControl &Find(std::uint32_t id)
    {
        return *std::find_if(controls.begin(), controls.end(), [&](const CameraControl &c) { return c.lId == id; });
    }
    int Value(std::uint32_t id) { return Find(id).lValue; }
};

class StandInDevice : public cControlDevice
{
public:
    explicit StandInDevice(StandInCamera &camera) : m_camera(camera) {}
    std::vector<CameraControl> Controls() override
    {
        m_camera.Find(V4L2_CID_WHITE_BALANCE_TEMPERATURE).bInactive = m_camera.Value(V4L2_CID_AUTO_WHITE_BALANCE) != 0;
        m_camera.Find(V4L2_CID_EXPOSURE_ABSOLUTE).bInactive = m_camera.Value(V4L2_CID_EXPOSURE_AUTO) != 1;
        return m_camera.controls;
    }
    bool Set(std::uint32_t lId, int lValue, QString &sError) override
    {
        Controls();
        if (m_camera.Find(lId).bInactive) {
            sError = QStringLiteral("Permission denied");
            return false;
        }
        m_camera.Find(lId).lValue = lValue;
        m_camera.sets.push_back(lId);
        return true;
    }

private:
    StandInCamera &m_camera;
};

class CameraControls : public TestHome
{
protected:
    void SetUp() override
    {
        TestHome::SetUp();
        UseControlDeviceOpener([this](const QString &node) -> std::unique_ptr<cControlDevice> {
            return node == QLatin1String("/dev/stand-in") ? std::make_unique<StandInDevice>(camera) : nullptr;
        });
    }
    void TearDown() override { UseControlDeviceOpener({}); }

    StandInCamera camera;
    const QString webcam = QStringLiteral("camera:Webcam @ usb-1.2");
};

} // namespace

// The owner's values are kept per camera and set at an opening with the
// switches first, so exposure is taken once it is manual; a value the
// camera cannot take is told, one kept for a control still on auto is left,
// and a settings file written by hand with junk gives only what it holds right.
TEST_F(CameraControls, KeptValuesAreSetAtOpeningSwitchesFirstAndPerCamera)
{
    StoreControls(webcam, {{V4L2_CID_EXPOSURE_ABSOLUTE, 300}, {V4L2_CID_EXPOSURE_AUTO, 1}, {V4L2_CID_BRIGHTNESS, 999}});
    StoreControls(QStringLiteral("/dev/video7"), {{V4L2_CID_BRIGHTNESS, 10}});
    const QStringList failures = ApplyStoredControlsAt(webcam, QStringLiteral("/dev/stand-in"));
    EXPECT_EQ(camera.Value(V4L2_CID_EXPOSURE_AUTO), 1);
    EXPECT_EQ(camera.Value(V4L2_CID_EXPOSURE_ABSOLUTE), 300);
    EXPECT_EQ(camera.sets, (std::vector<std::uint32_t>{V4L2_CID_EXPOSURE_AUTO, V4L2_CID_EXPOSURE_ABSOLUTE}));
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith(QStringLiteral("Brightness: 999"))) << qPrintable(failures[0]);
    EXPECT_EQ(StoredControls(QStringLiteral("/dev/video7")), (ControlValues{{V4L2_CID_BRIGHTNESS, 10}}));

    StoreControls(webcam, {{V4L2_CID_WHITE_BALANCE_TEMPERATURE, 3000}});
    EXPECT_TRUE(ApplyStoredControlsAt(webcam, QStringLiteral("/dev/stand-in")).isEmpty());
    EXPECT_EQ(camera.Value(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 4600) << "inactive while white balance is automatic";
    EXPECT_EQ(ApplyStoredControlsAt(webcam, QStringLiteral("/dev/gone")).size(), 1);
    StoreControls(webcam, {});
    EXPECT_TRUE(StoredControls(webcam).empty());

    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[capture]\ncontrols/size=1\ncontrols/1/camera=camera:Webcam @ usb-1.2\n"
               "controls/1/values=junk, 0x00980900=abc, =5, 0x00980900=7\n");
    file.close();
    EXPECT_EQ(StoredControls(webcam), (ControlValues{{V4L2_CID_BRIGHTNESS, 7}}));
}

// The source dialog shows the chosen camera's controls as its driver has
// them, sets each change at once (a switch freeing the value it governs),
// keeps the values on OK and puts the camera back as it was on Cancel; a
// source without controls shows none.
TEST_F(CameraControls, TheSourceDialogSetsAtOnceKeepsOnOkAndPutsBackOnCancel)
{
    const std::vector<CaptureSource> sources = {{QStringLiteral("Webcam"), webcam, QStringLiteral("/dev/stand-in")},
                                                {QStringLiteral("Test pattern"), QStringLiteral("test"), {}}};
    const SourceDialogTexts texts{QStringLiteral("Camera source"), QStringLiteral("Default"), QStringLiteral("None")};
    auto control = [](cSourceDialog &dialog, const char *kind, std::uint32_t id) {
        return dialog.findChild<QWidget *>(QStringLiteral("%1%2").arg(QLatin1String(kind)).arg(id));
    };
    {
        cSourceDialog dialog(nullptr, texts, sources, webcam);
        dialog.show();
        auto *brightness = qobject_cast<QSlider *>(control(dialog, "control", V4L2_CID_BRIGHTNESS));
        auto *exposure = qobject_cast<QSlider *>(control(dialog, "control", V4L2_CID_EXPOSURE_ABSOLUTE));
        auto *automatic = qobject_cast<QComboBox *>(control(dialog, "control", V4L2_CID_EXPOSURE_AUTO));
        ASSERT_TRUE(brightness && exposure && automatic && control(dialog, "control", V4L2_CID_AUTO_WHITE_BALANCE));
        EXPECT_EQ(brightness->maximum(), 255);
        EXPECT_EQ(automatic->itemText(0), QStringLiteral("Manual Mode"));
        EXPECT_FALSE(exposure->isEnabled()) << "inactive while exposure is automatic";

        emit automatic->activated(0);
        EXPECT_EQ(camera.Value(V4L2_CID_EXPOSURE_AUTO), 1);
        EXPECT_TRUE(exposure->isEnabled());
        brightness->setValue(200);
        EXPECT_EQ(camera.Value(V4L2_CID_BRIGHTNESS), 200) << "at once, while the dialog is open";
        qobject_cast<QPushButton *>(control(dialog, "default", V4L2_CID_BRIGHTNESS))->click();
        EXPECT_EQ(camera.Value(V4L2_CID_BRIGHTNESS), 128);
        EXPECT_EQ(brightness->value(), 128);
        dialog.accept();
        EXPECT_FALSE(dialog.Chosen());
    }
    EXPECT_EQ(StoredControls(webcam), (ControlValues{{V4L2_CID_EXPOSURE_AUTO, 1}, {V4L2_CID_BRIGHTNESS, 128}}));

    cSourceDialog dialog(nullptr, texts, sources, webcam);
    qobject_cast<QSlider *>(control(dialog, "control", V4L2_CID_BRIGHTNESS))->setValue(40);
    qobject_cast<QCheckBox *>(control(dialog, "control", V4L2_CID_AUTO_WHITE_BALANCE))->setChecked(false);
    EXPECT_EQ(camera.Value(V4L2_CID_BRIGHTNESS), 40);
    dialog.findChild<QListWidget *>(QStringLiteral("lstSources"))->setCurrentRow(1);
    EXPECT_TRUE(dialog.findChild<QLabel *>(QStringLiteral("lblNoControls")));
    EXPECT_FALSE(control(dialog, "control", V4L2_CID_BRIGHTNESS));
    EXPECT_EQ(dialog.Chosen(), QStringLiteral("test"));
    dialog.reject();
    EXPECT_EQ(camera.Value(V4L2_CID_BRIGHTNESS), 128);
    EXPECT_EQ(camera.Value(V4L2_CID_AUTO_WHITE_BALANCE), 1);
    EXPECT_EQ(StoredControls(webcam).size(), 2u);
}
