#include "CaptureTestSupport.h"
#include "cError.h"
#include "cVidCap.h"

#include <QImage>

#include <gst/gst.h>

#include <vector>

// Cameras the test plugs in and out: a device provider of GStreamer's kind,
// found by the same device monitor as V4L2 webcams, whose devices tell a
// node, a serial number and a port as the V4L2 provider's do, and open as
// a test pattern of their own colour.

namespace {

struct FakeCamera
{
    const char *serial;
    const char *node;
    const char *pattern;
    const char *port = "pci-0000:00:14.0-usb-0:2:1.0";
};

std::vector<FakeCamera> &Plugged()
{
    static std::vector<FakeCamera> cameras;
    return cameras;
}

struct FakeDevice
{
    GstDevice parent;
    const char *pattern;
};
struct FakeDeviceClass
{
    GstDeviceClass parent_class;
};
G_DEFINE_TYPE(FakeDevice, fake_device, GST_TYPE_DEVICE)

GstElement *CreateFakeElement(GstDevice *device, const gchar *name)
{
    GstElement *source = gst_element_factory_make("videotestsrc", name);
    g_object_set(source, "is-live", TRUE, nullptr);
    gst_util_set_object_arg(G_OBJECT(source), "pattern", reinterpret_cast<FakeDevice *>(device)->pattern);
    return source;
}

void fake_device_class_init(FakeDeviceClass *klass)
{
    GST_DEVICE_CLASS(klass)->create_element = CreateFakeElement;
}

void fake_device_init(FakeDevice *) {}

GstDevice *MakeDevice(const FakeCamera &camera)
{
    GstStructure *properties =
        gst_structure_new("v4l2deviceprovider", "device.api", G_TYPE_STRING, "v4l2", "device.path", G_TYPE_STRING,
                          camera.node, "device.serial", G_TYPE_STRING, camera.serial, "device.bus_path",
                          G_TYPE_STRING, camera.port, nullptr);
    GstCaps *caps = gst_caps_from_string("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1");
    auto *device = static_cast<FakeDevice *>(g_object_new(fake_device_get_type(), "display-name", "USB Camera",
                                                          "device-class", "Video/Source", "caps", caps,
                                                          "properties", properties, nullptr));
    device->pattern = camera.pattern;
    gst_caps_unref(caps);
    gst_structure_free(properties);
    return GST_DEVICE(device);
}

struct FakeProvider
{
    GstDeviceProvider parent;
};
struct FakeProviderClass
{
    GstDeviceProviderClass parent_class;
};
G_DEFINE_TYPE(FakeProvider, fake_provider, GST_TYPE_DEVICE_PROVIDER)

GList *ProbeFakeCameras(GstDeviceProvider *)
{
    GList *devices = nullptr;
    for (const FakeCamera &camera : Plugged())
        devices = g_list_append(devices, MakeDevice(camera));
    return devices;
}

void fake_provider_class_init(FakeProviderClass *klass)
{
    GST_DEVICE_PROVIDER_CLASS(klass)->probe = ProbeFakeCameras;
    gst_device_provider_class_set_static_metadata(GST_DEVICE_PROVIDER_CLASS(klass), "Cameras of the test",
                                                  "Video/Source", "Cameras a test plugs in and out", "Vorsk");
}

void fake_provider_init(FakeProvider *) {}

void RegisterFakeCameras()
{
    static const bool registered = [] {
        gst_init(nullptr, nullptr);
        return gst_plugin_register_static(
            GST_VERSION_MAJOR, GST_VERSION_MINOR, "vorskfakecameras", "Cameras of the test",
            [](GstPlugin *plugin) -> gboolean {
                return gst_device_provider_register(plugin, "vorskfakecameras", GST_RANK_PRIMARY,
                                                    fake_provider_get_type());
            },
            "1.0", "LGPL", "vorsk", "vorsk", "https://vorsk.example");
    }();
    ASSERT_TRUE(registered);
}

class CameraIdentity : public CameraTest
{
protected:
    void SetUp() override
    {
        CameraTest::SetUp();
        RegisterFakeCameras();
        qunsetenv("VORSK_CAMERA");
    }
    void TearDown() override
    {
        Plugged().clear();
        CameraTest::TearDown();
    }

    // The colour at the middle of the frame the camera gives.
    QRgb Colour(cVidCap &camera)
    {
        const QString bitmap = Folder() + QStringLiteral("frame.bmp");
        if (!camera.GrabFrame() || !camera.GrabbedFrameSave(bitmap))
            return 0;
        const QImage frame(bitmap, "BMP");
        return frame.pixel(frame.width() / 2, frame.height() / 2);
    }
};

} // namespace

// Two cameras of one kind, told apart by their serial numbers: the one
// chosen is found again after replugging gave it another node, and while it
// is away the other is never opened in its place.
TEST_F(CameraIdentity, AChosenCameraIsFoundByItsSerialWhateverItsNode)
{
    Plugged() = {{"SN-RED", "/dev/video0", "red"}, {"SN-BLUE", "/dev/video2", "blue"}};
    QString red;
    {
        cVidCap chooser;
        QStringList cameras;
        for (const CaptureSource &source : chooser.Sources())
            if (source.sName == QStringLiteral("USB Camera"))
                cameras << source.sId;
        ASSERT_EQ(cameras.size(), 2) << "two cameras of one name, two identities";
        red = cameras.filter(QStringLiteral("SN-RED")).value(0);
        ASSERT_FALSE(red.isEmpty()) << qPrintable(cameras.join(QLatin1Char('|')));
        EXPECT_FALSE(red.contains(QStringLiteral("/dev/video"))) << "the node is no identity";
        ASSERT_TRUE(chooser.SelectSource(red)) << qPrintable(chooser.LastError());
        EXPECT_EQ(qRed(Colour(chooser)), 255);
    }

    Plugged() = {{"SN-BLUE", "/dev/video0", "blue"}, {"SN-RED", "/dev/video2", "red"}};
    {
        cVidCap camera;
        camera.Connect();
        EXPECT_EQ(camera.CurrentSourceId(), red);
        const QRgb colour = Colour(camera);
        EXPECT_EQ(qRed(colour), 255);
        EXPECT_EQ(qBlue(colour), 0);
    }

    Plugged() = {{"SN-BLUE", "/dev/video0", "blue"}};
    {
        cVidCap camera;
        EXPECT_THROW(camera.Connect(), cError);
        EXPECT_EQ(Colour(camera), QRgb(0)) << "no picture rather than another camera's";
    }
}

// Two cameras of one make without serial numbers of their own, which udev
// gives one "serial" of maker and model: each is offered, by its port, and
// the one chosen is the one opened, whichever is found first.
TEST_F(CameraIdentity, TwinsWithoutSerialsAreToldApartByTheirPorts)
{
    const char *shared = "Acme_USB_Camera";
    Plugged() = {{shared, "/dev/video0", "red", "usb-0:1:1.0"}, {shared, "/dev/video2", "blue", "usb-0:2:1.0"}};
    cVidCap chooser;
    QStringList twins;
    for (const CaptureSource &source : chooser.Sources())
        if (source.sName == QStringLiteral("USB Camera"))
            twins << source.sId;
    ASSERT_EQ(twins.size(), 2) << qPrintable(twins.join(QLatin1Char('|')));
    const QString blue = twins.filter(QStringLiteral("usb-0:2:1.0")).value(0);
    ASSERT_TRUE(chooser.SelectSource(blue)) << qPrintable(twins.join(QLatin1Char('|')));
    EXPECT_EQ(qBlue(Colour(chooser)), 255);

    cVidCap camera;
    camera.Connect();
    EXPECT_EQ(camera.CurrentSourceId(), blue);
    EXPECT_EQ(qBlue(Colour(camera)), 255) << "the blue camera, though the red one is found first";
}
