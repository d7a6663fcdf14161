#include "cVidCap.h"

#include "cCameraControls.h"
#include "cError.h"
#include "cFrameReader.h"
#include "cSourceDialog.h"
#include "mSafeFile.h"
#include "mSettingsStore.h"

#include <QInputDialog>
#include <QSettings>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <set>

namespace {

const QString kComponent = QStringLiteral(".cVidCap");
constexpr long kCameraErrorNumber = 26002;
const QString kTestPatternId = QStringLiteral("test");
const QString kTestPatternName = QStringLiteral("Test pattern");
const QString kPipelinePrefix = QStringLiteral("gst:");
const QString kNamePrefix = QStringLiteral("name:");
// A camera found by the device monitor: "camera:" name " @ " serial or port.
const QString kCameraPrefix = QStringLiteral("camera:");
const QString kPlaceSeparator = QStringLiteral(" @ ");
// A source that failed is opened again at most this often.
constexpr auto kReopenPause = std::chrono::seconds(1);
const QSize kFirstSize(640, 480);
// Long enough for a webcam to start; a source still settling after it is taken as running.
constexpr GstClockTime kStartWait = 2 * GST_SECOND;
constexpr GstClockTime kStartPoll = 10 * GST_MSECOND;

// Sizes offered where a source accepts a range of sizes (the test pattern,
// some PipeWire and libcamera sources).
const QSize kStandardSizes[] = {{160, 120}, {320, 240}, {640, 480}, {800, 600},
                                {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080}};

std::set<const cVidCap *> &LiveControls()
{
    static std::set<const cVidCap *> controls;
    return controls;
}

void EnsureGStreamer()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

QString TakeErrorText(GError *error)
{
    const QString text = error ? QString::fromUtf8(error->message) : QStringLiteral("unknown error");
    if (error)
        g_error_free(error);
    return text;
}

// The V4L2 node of a device, where its provider tells one (V4L2 and PipeWire do).
QString NodeOf(const GstStructure *props)
{
    for (const char *field : {"device.path", "api.v4l2.path"})
        if (const gchar *value = gst_structure_get_string(props, field); value && g_str_has_prefix(value, "/dev/"))
            return QString::fromUtf8(value);
    return {};
}

// What tells one camera from another across replugging and reboots, when
// V4L2 may give it another /dev/videoN: its serial number and the port it is
// plugged into, either empty when the device does not tell it; and its V4L2
// node, where its provider tells one.
struct Place
{
    QString sSerial;
    QString sPort;
    QString sNode;
};

Place PlaceOf(GstDevice *device)
{
    Place place;
    GstStructure *props = gst_device_get_properties(device);
    if (!props)
        return place;
    auto text = [props](const char *field) {
        const gchar *value = gst_structure_get_string(props, field);
        return value ? QString::fromUtf8(value) : QString();
    };
    place.sSerial = text("device.serial");
    place.sPort = text("device.bus_path");
    if (place.sPort.isEmpty())
        place.sPort = text("v4l2.device.bus_info");
    place.sNode = NodeOf(props);
    gst_structure_free(props);
    return place;
}

// The node a camera's own element opens; empty for any other element.
QString NodeOf(GstElement *source)
{
    GstElementFactory *factory = source ? gst_element_get_factory(source) : nullptr;
    if (!factory || g_strcmp0(GST_OBJECT_NAME(factory), "v4l2src") != 0)
        return {};
    gchar *device = nullptr;
    g_object_get(source, "device", &device, nullptr);
    const QString node = QString::fromUtf8(device);
    g_free(device);
    return node;
}

// The devices the monitor finds, with the ids the program knows them by.
struct FoundDevice
{
    CaptureSource source;
    GstDevice *device; // owned by the list
};

class DeviceList
{
public:
    DeviceList()
    {
        EnsureGStreamer();
        GstDeviceMonitor *monitor = gst_device_monitor_new();
        gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
        if (gst_device_monitor_start(monitor)) {
            GList *devices = gst_device_monitor_get_devices(monitor);
            std::vector<Found> found;
            for (GList *item = devices; item; item = item->next)
                found.push_back(Describe(GST_DEVICE(item->data)));
            g_list_free(devices);
            gst_device_monitor_stop(monitor);
            Name(found);
        }
        gst_object_unref(monitor);
    }
    ~DeviceList()
    {
        for (const FoundDevice &found : m_devices)
            gst_object_unref(found.device);
    }
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;

    const std::vector<FoundDevice> &Devices() const { return m_devices; }

    GstDevice *Find(const QString &sId) const
    {
        for (const FoundDevice &found : m_devices)
            if (found.source.sId == sId)
                return found.device;
        return nullptr;
    }

private:
    struct Found
    {
        QString sName;
        Place place;
        GstDevice *device;
    };

    static Found Describe(GstDevice *device)
    {
        gchar *display = gst_device_get_display_name(device);
        Found found{QString::fromUtf8(display), PlaceOf(device), device};
        g_free(display);
        return found;
    }

    // Each camera by its serial number; but where two of one name give the
    // same one (udev makes it of the maker and model for a camera without a
    // serial of its own), by the port each is plugged into. A camera listed
    // twice is kept once.
    void Name(const std::vector<Found> &found)
    {
        for (const Found &device : found) {
            const bool twin = !device.place.sSerial.isEmpty() &&
                              std::any_of(found.begin(), found.end(), [&](const Found &other) {
                                  return other.sName == device.sName && other.place.sSerial == device.place.sSerial &&
                                         other.place.sPort != device.place.sPort;
                              });
            const QString where = twin || device.place.sSerial.isEmpty() ? device.place.sPort : device.place.sSerial;
            const QString id = where.isEmpty() ? kNamePrefix + device.sName
                                               : kCameraPrefix + device.sName + kPlaceSeparator + where;
            if (Find(id))
                gst_object_unref(device.device);
            else
                m_devices.push_back({{device.sName, id, device.place.sNode}, device.device});
        }
    }

    std::vector<FoundDevice> m_devices;
};

// The source element for an id; null (with the reason) when it cannot be made.
GstElement *MakeSource(const QString &sId, QString &sError)
{
    GstElement *source = nullptr;
    if (sId == kTestPatternId) {
        source = gst_element_factory_make("videotestsrc", nullptr);
        if (source)
            g_object_set(source, "is-live", TRUE, "horizontal-speed", 2, nullptr);
    } else if (sId.startsWith(QLatin1Char('/'))) {
        source = gst_element_factory_make("v4l2src", nullptr);
        if (source)
            g_object_set(source, "device", sId.toUtf8().constData(), nullptr);
    } else {
        DeviceList devices;
        if (GstDevice *device = devices.Find(sId))
            source = gst_device_create_element(device, nullptr);
    }
    if (!source)
        sError = sId.startsWith(kCameraPrefix) ? QStringLiteral("%1 is not connected").arg(sId)
                                               : QStringLiteral("no source can be made for %1").arg(sId);
    return source;
}

// The frame rates of a size, lowest and highest; both 0 when unknown.
struct RateRange
{
    double lo = 0;
    double hi = 0;
};

// Both ranges in one; an unknown one adds nothing.
RateRange Joined(RateRange a, RateRange b)
{
    if (a.hi <= 0)
        return b;
    if (b.hi <= 0)
        return a;
    return {std::min(a.lo, b.lo), std::max(a.hi, b.hi)};
}

void AddSize(std::vector<CaptureFormat> &formats, QSize size, RateRange rates)
{
    auto same = std::find_if(formats.begin(), formats.end(), [&](const CaptureFormat &f) { return f.size == size; });
    if (same == formats.end()) {
        formats.push_back({size, rates.lo, rates.hi});
        return;
    }
    const RateRange joined = Joined({same->dMinFramesPerSecond, same->dMaxFramesPerSecond}, rates);
    same->dMinFramesPerSecond = joined.lo;
    same->dMaxFramesPerSecond = joined.hi;
}

// The whole values a field of a caps structure allows, with the range bounds.
std::vector<int> IntValues(const GValue *value, int &lo, int &hi)
{
    std::vector<int> values;
    lo = hi = 0;
    if (G_VALUE_HOLDS_INT(value)) {
        values.push_back(g_value_get_int(value));
    } else if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        lo = gst_value_get_int_range_min(value);
        hi = gst_value_get_int_range_max(value);
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const GValue *item = gst_value_list_get_value(value, i);
            if (G_VALUE_HOLDS_INT(item))
                values.push_back(g_value_get_int(item));
        }
    }
    return values;
}

// No camera gives more frames a second than this; a source whose rates reach
// beyond it (the test pattern's 0 to 2^31) takes any rate and tells none.
constexpr double kMostFramesPerSecond = 1000;

double Rate(const GValue *value)
{
    return GST_VALUE_HOLDS_FRACTION(value) && gst_value_get_fraction_denominator(value) > 0
               ? double(gst_value_get_fraction_numerator(value)) / gst_value_get_fraction_denominator(value)
               : 0.0;
}

// The rates of one value of a "framerate" field: a rate, a range or a list of them.
void AddRates(const GValue *value, RateRange &rates, bool &bKnown)
{
    if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            AddRates(gst_value_list_get_value(value, i), rates, bKnown);
        return;
    }
    const bool range = GST_VALUE_HOLDS_FRACTION_RANGE(value);
    const double lo = std::max(0.0, range ? Rate(gst_value_get_fraction_range_min(value)) : Rate(value));
    const double hi = range ? Rate(gst_value_get_fraction_range_max(value)) : lo;
    if (hi <= 0 || hi > kMostFramesPerSecond) {
        bKnown = false;
        return;
    }
    rates = Joined(rates, {lo, hi});
}

RateRange FrameRates(const GstStructure *structure)
{
    const GValue *value = gst_structure_get_value(structure, "framerate");
    RateRange rates;
    bool bKnown = value != nullptr;
    if (value)
        AddRates(value, rates, bKnown);
    return bKnown ? rates : RateRange();
}

// "30 fps", "5-30 fps", "up to 30 fps"; empty when unknown.
QString RateText(const CaptureFormat &format)
{
    auto number = [](double fps) { return QString::number(std::round(fps * 100) / 100); };
    const double lo = format.dMinFramesPerSecond;
    const double hi = format.dMaxFramesPerSecond;
    if (hi <= 0)
        return {};
    if (lo == hi)
        return number(hi) + QStringLiteral(" fps");
    if (lo <= 0)
        return QStringLiteral("up to ") + number(hi) + QStringLiteral(" fps");
    return number(lo) + QLatin1Char('-') + number(hi) + QStringLiteral(" fps");
}

std::vector<CaptureFormat> FormatsOf(const GstCaps *caps)
{
    std::vector<CaptureFormat> formats;
    for (guint i = 0; caps && i < gst_caps_get_size(caps); ++i) {
        const GstStructure *s = gst_caps_get_structure(caps, i);
        if (!gst_structure_has_name(s, "video/x-raw") && !gst_structure_has_name(s, "image/jpeg"))
            continue;
        const GValue *w = gst_structure_get_value(s, "width");
        const GValue *h = gst_structure_get_value(s, "height");
        if (!w || !h)
            continue;
        int wLo, wHi, hLo, hHi;
        const std::vector<int> widths = IntValues(w, wLo, wHi);
        const std::vector<int> heights = IntValues(h, hLo, hHi);
        const RateRange fps = FrameRates(s);
        if (widths.size() == 1 && heights.size() == 1)
            AddSize(formats, QSize(widths[0], heights[0]), fps);
        for (QSize size : kStandardSizes)
            if (wHi > 0 && hHi > 0 && size.width() >= wLo && size.width() <= wHi && size.height() >= hLo &&
                size.height() <= hHi)
                AddSize(formats, size, fps);
    }
    std::sort(formats.begin(), formats.end(), [](const CaptureFormat &a, const CaptureFormat &b) {
        return a.size.width() * a.size.height() < b.size.width() * b.size.height();
    });
    return formats;
}

// What the program takes from a source: raw or JPEG frames of the size, or
// of any size a buffer may hold when size is empty. The test pattern comes in
// the small format most webcams also use.
QByteArray CapsFor(const QString &sId, QSize size)
{
    if (size.isEmpty()) {
        // JPEG frames out of a demuxer carry no size in their caps: the
        // decoder checks each frame's own header against the limits.
        return QStringLiteral("video/x-raw,width=[1,%1],height=[1,%1];image/jpeg").arg(cDIB::MaxSide).toLatin1();
    }
    const QByteArray sizeCaps = QStringLiteral("width=%1,height=%2").arg(size.width()).arg(size.height()).toLatin1();
    return sId == kTestPatternId ? "video/x-raw,format=I420,framerate=30/1," + sizeCaps
                                 : "video/x-raw," + sizeCaps + ";image/jpeg," + sizeCaps;
}

// The sizes an image buffer can hold; the others are never asked of a source.
std::vector<CaptureFormat> Allowed(std::vector<CaptureFormat> formats)
{
    std::erase_if(formats, [](const CaptureFormat &f) { return !cDIB::SizeAllowed(f.size.width(), f.size.height()); });
    return formats;
}

QSize Nearest(const std::vector<CaptureFormat> &formats, QSize wanted)
{
    if (formats.empty())
        return wanted;
    auto distance = [&](const CaptureFormat &f) {
        return std::abs(f.size.width() - wanted.width()) + std::abs(f.size.height() - wanted.height());
    };
    return std::min_element(formats.begin(), formats.end(),
                            [&](const CaptureFormat &a, const CaptureFormat &b) { return distance(a) < distance(b); })
        ->size;
}

// The text of an error or end-of-stream message.
QString FailureText(GstMessage *message)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return QStringLiteral("the source ended");
    GError *error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    return TakeErrorText(error);
}

constexpr auto kFailureMessages = GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS);

} // namespace

// The running pipeline of the opened source, ending in capsfilter ! appsink.
struct cVidCap::Pipeline
{
    GstElement *bin = nullptr; // owns the elements
    GstElement *source = nullptr; // a camera's own element; none in a pipeline of the user's
    GstElement *filter = nullptr;
    GstElement *sink = nullptr;
    bool bLinked = false;
    cFrameReader reader;
    // What tells the frame read last; only compared, never dereferenced.
    struct FrameMark
    {
        GstClockTime stamp = GST_CLOCK_TIME_NONE;
        const GstMemory *memory = nullptr;
    } lastFrame;

    // A camera or the test pattern: source ! capsfilter ! appsink.
    explicit Pipeline(GstElement *sourceElement)
        : bin(gst_pipeline_new("vorsk-camera")), source(sourceElement),
          filter(gst_element_factory_make("capsfilter", nullptr)), sink(gst_element_factory_make("appsink", nullptr))
    {
        gst_bin_add_many(GST_BIN(bin), source, filter, sink, nullptr);
        bLinked = gst_element_link_many(source, filter, sink, nullptr);
        KeepNewestOnly();
    }

    // A pipeline of the user's: the description and the program's end parsed
    // as one, so that GStreamer links an element that makes its pads at run
    // time (a demuxer, decodebin, rtspsrc) as soon as they appear. A
    // description may well end in caps ("v4l2src ! image/jpeg,width=1280"),
    // which the grammar only takes between two elements. No bin on failure.
    Pipeline(const QByteArray &description, QString &sError)
    {
        const QByteArray whole = description + " ! capsfilter name=vorsk-filter ! appsink name=vorsk-sink";
        GError *error = nullptr;
        bin = gst_parse_launch_full(whole.constData(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error);
        if (!bin) {
            sError = TakeErrorText(error);
            return;
        }
        if (error)
            g_error_free(error);
        filter = Named("vorsk-filter");
        sink = Named("vorsk-sink");
        bLinked = GST_IS_PIPELINE(bin) && filter && sink && GST_IS_APP_SINK(sink);
        if (bLinked)
            KeepNewestOnly();
    }
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;
    ~Pipeline()
    {
        if (!bin)
            return;
        gst_element_set_state(bin, GST_STATE_NULL);
        gst_object_unref(bin);
    }

    // An element of the bin, which keeps owning it.
    GstElement *Named(const char *name) const
    {
        GstElement *element = GST_IS_BIN(bin) ? gst_bin_get_by_name(GST_BIN(bin), name) : nullptr;
        if (element)
            gst_object_unref(element);
        return element;
    }

    void KeepNewestOnly() { g_object_set(sink, "max-buffers", 1, "drop", TRUE, "sync", FALSE, nullptr); }

    // The caps offered to the program's end, asked while the source is open
    // but not yet running: the camera's own, or what a pipeline of the user's
    // says it ends in (nothing yet where its last pad appears at run time);
    // null when it cannot be opened.
    GstCaps *Offered() const
    {
        if (gst_element_set_state(source ? source : bin, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE)
            return nullptr;
        if (!source) {
            GstPad *pad = gst_element_get_static_pad(filter, "sink");
            GstCaps *offered = gst_pad_peer_query_caps(pad, nullptr);
            gst_object_unref(pad);
            return offered;
        }
        GstPad *pad = gst_element_get_static_pad(source, "src");
        GstCaps *offered = pad ? gst_pad_query_caps(pad, nullptr) : gst_caps_new_empty();
        if (pad)
            gst_object_unref(pad);
        return offered;
    }

    // Runs the pipeline with its frames held to caps, and waits until the sink
    // knows the frames' format, the source fails, or the wait is over (a slow
    // or silent source counts as started). The reason of a failure, or empty.
    QString Start(const QByteArray &caps)
    {
        GstCaps *filterCaps = gst_caps_from_string(caps.constData());
        g_object_set(filter, "caps", filterCaps, nullptr);
        gst_caps_unref(filterCaps);
        if (!bLinked)
            return QStringLiteral("the source cannot be linked to the program");
        if (gst_element_set_state(bin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
            gst_element_get_state(bin, nullptr, nullptr, kStartWait) == GST_STATE_CHANGE_FAILURE) {
            const QString failure = PendingFailure();
            return failure.isEmpty() ? QStringLiteral("the source cannot be started") : failure;
        }
        GstBus *bus = gst_element_get_bus(bin);
        QString failure;
        for (GstClockTime waited = 0; waited < kStartWait && !Negotiated(); waited += kStartPoll) {
            if (GstMessage *message = gst_bus_timed_pop_filtered(bus, kStartPoll, kFailureMessages)) {
                failure = FailureText(message);
                gst_message_unref(message);
                break;
            }
        }
        gst_object_unref(bus);
        return failure;
    }

    // The caps of the frames agreed with the source; null while not known.
    GstCaps *CurrentCaps() const
    {
        GstPad *pad = gst_element_get_static_pad(sink, "sink");
        GstCaps *caps = gst_pad_get_current_caps(pad);
        gst_object_unref(pad);
        return caps;
    }

    bool Negotiated() const
    {
        GstCaps *caps = CurrentCaps();
        if (caps)
            gst_caps_unref(caps);
        return caps != nullptr;
    }

    // The size of the frames agreed with the source; empty while not known
    // or not told in the caps.
    QSize NegotiatedSize() const
    {
        GstCaps *caps = CurrentCaps();
        int width = 0, height = 0;
        if (caps && gst_caps_get_size(caps) > 0) {
            const GstStructure *s = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(s, "width", &width);
            gst_structure_get_int(s, "height", &height);
        }
        if (caps)
            gst_caps_unref(caps);
        return {width, height};
    }

    // Waits a bounded time for a new frame and reads it into frame. A damaged
    // frame is passed over for the next one within the same wait, and a frame
    // handed again (the same memory under the same time stamp as the last
    // one read) counts once.
    bool ReadNextFrame(cDIB &frame, QString &sError, QSize atLeast = {})
    {
        using namespace std::chrono;
        const auto until = steady_clock::now() + milliseconds(cVidCap::GrabWaitMilliseconds);
        QString failure;
        for (auto left = until - steady_clock::now(); left > left.zero(); left = until - steady_clock::now()) {
            GstSample *sample =
                gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GstClockTime(duration_cast<nanoseconds>(left).count()));
            if (!sample)
                break;
            GstBuffer *buffer = gst_sample_get_buffer(sample);
            const FrameMark mark{buffer ? GST_BUFFER_PTS(buffer) : GST_CLOCK_TIME_NONE,
                                 buffer && gst_buffer_n_memory(buffer) > 0 ? gst_buffer_peek_memory(buffer, 0) : nullptr};
            const bool again = GST_CLOCK_TIME_IS_VALID(mark.stamp) && mark.stamp == lastFrame.stamp &&
                               mark.memory == lastFrame.memory;
            // Only the frame grabbed is ever decoded or converted.
            const bool read = !again && reader.Read(sample, frame, failure, atLeast);
            gst_sample_unref(sample);
            if (read) {
                lastFrame = mark;
                return true;
            }
        }
        sError = failure.isEmpty() ? QStringLiteral("no new frame came within %1 ms").arg(cVidCap::GrabWaitMilliseconds)
                                   : failure;
        return false;
    }

    // The text of the first error on the bus, or empty; an end of stream counts.
    QString PendingFailure() const
    {
        GstBus *bus = gst_element_get_bus(bin);
        QString failure;
        while (GstMessage *message = gst_bus_pop_filtered(bus, kFailureMessages)) {
            if (failure.isEmpty())
                failure = FailureText(message);
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        return failure;
    }
};

cVidCap::cVidCap(QObject *parent) : QObject(parent)
{
    EnsureGStreamer();
    LiveControls().insert(this);
}

cVidCap::~cVidCap()
{
    LiveControls().erase(this);
}

cVidCap *cVidCap::FromHandle(std::uintptr_t hCapWnd)
{
    auto *control = reinterpret_cast<const cVidCap *>(hCapWnd);
    return LiveControls().count(control) ? const_cast<cVidCap *>(control) : nullptr;
}

std::uintptr_t cVidCap::CaptureWindowHandle() const
{
    return reinterpret_cast<std::uintptr_t>(this);
}

void cVidCap::Connect()
{
    const auto store = OpenSettingsGroup(QStringLiteral("capture"));
    const QSize stored(store->value(QStringLiteral("width")).toInt(), store->value(QStringLiteral("height")).toInt());
    const QSize wanted = cDIB::SizeAllowed(stored.width(), stored.height()) ? stored : kFirstSize;

    QStringList candidates;
    const QString fromEnvironment = qEnvironmentVariable("VORSK_CAMERA");
    if (!fromEnvironment.isEmpty()) {
        candidates << fromEnvironment;
    } else {
        const QString chosen = store->value(QStringLiteral("device")).toString();
        if (!chosen.isEmpty())
            candidates << chosen;
        // A camera chosen by its identity is that camera or none: while it is
        // away, another camera never stands in for it.
        DeviceList devices;
        if (!chosen.startsWith(kCameraPrefix) && !devices.Devices().empty())
            candidates << devices.Devices().front().source.sId;
    }
    if (candidates.isEmpty())
        throw cError(kCameraErrorNumber, kComponent, QStringLiteral("No camera was found."));
    for (const QString &id : candidates)
        if (Open(id, wanted))
            return;
    throw cError(kCameraErrorNumber, kComponent, m_sLastError);
}

std::unique_ptr<cVidCap::Pipeline> cVidCap::MakePipeline(const QString &sId)
{
    if (sId.startsWith(kPipelinePrefix)) {
        auto pipeline = std::make_unique<Pipeline>(sId.mid(kPipelinePrefix.size()).toUtf8(), m_sLastError);
        return pipeline->bin ? std::move(pipeline) : nullptr;
    }
    GstElement *source = MakeSource(sId, m_sLastError);
    return source ? std::make_unique<Pipeline>(source) : nullptr;
}

bool cVidCap::Open(const QString &sId, QSize wanted)
{
    m_pipeline.reset();
    m_bFrameHeld = false;
    m_lastOpen = std::chrono::steady_clock::now();
    auto pipeline = MakePipeline(sId);
    if (!pipeline)
        return false;
    GstCaps *offered = pipeline->Offered();
    if (!offered) {
        m_sLastError = pipeline->PendingFailure();
        if (m_sLastError.isEmpty())
            m_sLastError = QStringLiteral("%1 cannot be opened").arg(sId);
        return false;
    }
    const std::vector<CaptureFormat> offeredFormats = FormatsOf(offered);
    gst_caps_unref(offered);
    std::vector<CaptureFormat> formats = Allowed(offeredFormats);
    if (formats.empty() && !offeredFormats.empty()) {
        const QSize smallest = offeredFormats.front().size;
        m_sLastError = QStringLiteral("%1 offers no frame size that can be taken; its smallest is ").arg(sId) +
                       OversizeText(smallest.width(), smallest.height());
        return false;
    }
    // A pipeline of the user's own keeps the size it gives its frames (a
    // network camera, an encoder at its end); a camera or the test pattern is
    // asked for the size nearest the one wanted.
    const bool ownSize = sId.startsWith(kPipelinePrefix);
    QSize size = ownSize ? QSize() : Nearest(formats, wanted);
    if (!ownSize && !cDIB::SizeAllowed(size.width(), size.height())) {
        m_sLastError = QStringLiteral("%1 cannot be asked for frames of ").arg(sId) + OversizeText(size.width(), size.height());
        return false;
    }
    QString failure = pipeline->Start(CapsFor(sId, size));
    if (ownSize && failure.isEmpty()) {
        size = pipeline->NegotiatedSize();
        // Frames whose caps tell no size (JPEG out of a demuxer) tell it in
        // their own header: the first one is read for it.
        if (size.isEmpty() && pipeline->Negotiated() && pipeline->ReadNextFrame(m_frame, failure)) {
            size = QSize(m_frame.Width(), m_frame.Height());
            m_bFrameHeld = true;
        }
        // The one size it gives, at the rates it offers that size at.
        std::erase_if(formats, [&](const CaptureFormat &format) { return format.size != size; });
        if (formats.empty() && !size.isEmpty())
            formats.push_back({size});
        if (failure.isEmpty() && !size.isEmpty() && !cDIB::SizeAllowed(size.width(), size.height()))
            failure = QStringLiteral("it sends frames of ") + OversizeText(size.width(), size.height());
    }
    if (!failure.isEmpty()) {
        m_sLastError = QStringLiteral("%1 cannot be started: %2").arg(sId, failure);
        m_bFrameHeld = false;
        return false;
    }
    m_pipeline = std::move(pipeline);
    {
        const std::lock_guard lock(m_openMutex);
        m_formats = std::move(formats);
        m_sSourceId = sId;
        m_size = size;
    }
    m_sLastError.clear();
    ApplyStoredControls();
    return true;
}

// The owner's values for the camera's controls, at every opening: a camera
// forgets them when it is unplugged, and another program may have changed them.
void cVidCap::ApplyStoredControls() const
{
    if (!m_pipeline->source || StoredControls(m_sSourceId).empty())
        return;
    QString node = NodeOf(m_pipeline->source);
    // A camera opened through PipeWire or libcamera: the node its device names.
    if (node.isEmpty()) {
        DeviceList devices;
        for (const FoundDevice &found : devices.Devices())
            if (found.source.sId == m_sSourceId)
                node = found.source.sNode;
    }
    if (node.isEmpty())
        return;
    for (const QString &failure : ApplyStoredControlsAt(m_sSourceId, node))
        std::fprintf(stderr, "vorsk: %s: %s\n", qPrintable(m_sSourceId), qPrintable(failure));
}

// A source that failed (unplugged, busy, its sender gone) is opened afresh,
// so grabbing recovers once it is back; at most once a second, since each
// attempt may wait for the source a while.
bool cVidCap::Reopen()
{
    if (m_sSourceId.isEmpty()) {
        // Why the camera could not be opened, where that is known.
        if (m_sLastError.isEmpty())
            m_sLastError = QStringLiteral("no camera is open");
        return false;
    }
    if (std::chrono::steady_clock::now() - m_lastOpen < kReopenPause)
        return false;
    return Open(m_sSourceId, m_size);
}

bool cVidCap::GrabFrame(QSize atLeast)
{
    if (m_pipeline) {
        const QString failure = m_pipeline->PendingFailure();
        if (!failure.isEmpty()) {
            m_sLastError = QStringLiteral("%1 failed: %2").arg(m_sSourceId, failure);
            m_pipeline.reset();
        }
    }
    m_bFrameHeld = false;
    if (!m_pipeline && !Reopen())
        return false;
    m_bFrameHeld = m_pipeline->ReadNextFrame(m_frame, m_sLastError, atLeast);
    if (m_bFrameHeld && atLeast.isEmpty()) {
        const std::lock_guard lock(m_openMutex);
        m_size = QSize(m_frame.Width(), m_frame.Height());
    }
    return m_bFrameHeld;
}

bool cVidCap::TakeGrabbedFrame(cDIB &frame)
{
    if (!m_bFrameHeld)
        return false;
    frame.Swap(m_frame);
    m_bFrameHeld = false;
    return true;
}

bool cVidCap::GrabbedFrameSave(const QString &sPath)
{
    if (!m_bFrameHeld) {
        m_sLastError = QStringLiteral("no frame has been grabbed");
        return false;
    }
    if (const int error = m_frame.WriteBitmapFile(sPath)) {
        m_sLastError = qt_error_string(error);
        return false;
    }
    return true;
}

QSize cVidCap::Size() const
{
    const std::lock_guard lock(m_openMutex);
    return m_size;
}

QString cVidCap::CurrentSourceId() const
{
    const std::lock_guard lock(m_openMutex);
    return m_sSourceId;
}

std::vector<CaptureFormat> cVidCap::Formats() const
{
    const std::lock_guard lock(m_openMutex);
    return m_formats;
}

std::vector<CaptureSource> cVidCap::Sources() const
{
    std::vector<CaptureSource> sources;
    DeviceList devices;
    for (const FoundDevice &found : devices.Devices())
        sources.push_back(found.source);
    sources.push_back({kTestPatternName, kTestPatternId, {}});
    if (const QString current = CurrentSourceId(); current.startsWith(kPipelinePrefix))
        sources.push_back({current.mid(kPipelinePrefix.size()), current, {}});
    return sources;
}

bool cVidCap::SelectFormat(QSize size)
{
    const QSize previous = m_size;
    if (Open(m_sSourceId, size)) {
        Remember();
        return true;
    }
    const QString error = m_sLastError;
    Open(m_sSourceId, previous);
    m_sLastError = error;
    return false;
}

bool cVidCap::SelectSource(const QString &sId)
{
    const QString previous = m_sSourceId;
    if (Open(sId, m_size.isValid() ? m_size : kFirstSize)) {
        Remember();
        return true;
    }
    const QString error = m_sLastError;
    if (!previous.isEmpty())
        Open(previous, m_size);
    m_sLastError = error;
    return false;
}

void cVidCap::Remember() const
{
    const auto store = OpenSettingsGroup(QStringLiteral("capture"));
    store->setValue(QStringLiteral("device"), m_sSourceId);
    store->setValue(QStringLiteral("width"), m_size.width());
    store->setValue(QStringLiteral("height"), m_size.height());
}

std::optional<QSize> cVidCap::ShowFormatDialog(QWidget *owner, const QString &sTitle) const
{
    const std::vector<CaptureFormat> formats = Formats();
    const QSize current = Size();
    QStringList items;
    int currentItem = 0;
    for (const CaptureFormat &format : formats) {
        if (format.size == current)
            currentItem = int(items.size());
        QString item = QStringLiteral("%1 x %2").arg(format.size.width()).arg(format.size.height());
        if (const QString rate = RateText(format); !rate.isEmpty())
            item += QStringLiteral("  (%1)").arg(rate);
        items << item;
    }
    if (items.isEmpty())
        return std::nullopt;
    bool ok = false;
    const QString choice = QInputDialog::getItem(owner, sTitle, QString(), items, currentItem, false, &ok);
    const qsizetype index = items.indexOf(choice);
    if (!ok || index < 0 || formats[std::size_t(index)].size == current)
        return std::nullopt;
    return formats[std::size_t(index)].size;
}

std::optional<QString> cVidCap::ShowSourceDialog(QWidget *owner, const SourceDialogTexts &texts,
                                                 const std::function<void(cSourceDialog &)> &prepare) const
{
    cSourceDialog dialog(owner, texts, Sources(), CurrentSourceId());
    if (prepare)
        prepare(dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : std::nullopt;
}

bool cCap::capGrabFrame(std::uintptr_t hCapWnd) const
{
    cVidCap *control = cVidCap::FromHandle(hCapWnd);
    return control && control->GrabFrame();
}
