#include "cFrameReader.h"

#include "cDIB.h"

namespace {

QString CapsText(const GstCaps *caps)
{
    gchar *text = caps ? gst_caps_to_string(caps) : nullptr;
    const QString result = text ? QString::fromUtf8(text) : QStringLiteral("no description");
    g_free(text);
    return result;
}

} // namespace

cFrameReader::~cFrameReader()
{
    if (m_converter)
        gst_video_converter_free(m_converter);
}

bool cFrameReader::Read(GstSample *sample, cDIB &frame, QString &sError, QSize atLeast)
{
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    const GstCaps *caps = gst_sample_get_caps(sample);
    if (!buffer || !caps || gst_caps_get_size(caps) == 0) {
        sError = QStringLiteral("the camera sent a frame without a description");
        return false;
    }
    if (gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg"))
        return ReadJpeg(buffer, frame, sError, atLeast);
    GstVideoInfo in;
    if (!gst_video_info_from_caps(&in, caps) || GST_VIDEO_INFO_FORMAT(&in) == GST_VIDEO_FORMAT_ENCODED ||
        GST_VIDEO_INFO_FORMAT(&in) == GST_VIDEO_FORMAT_UNKNOWN) {
        sError = QStringLiteral("the camera sends frames that cannot be read: ") + CapsText(caps);
        return false;
    }
    return ReadRaw(buffer, in, frame, sError);
}

bool cFrameReader::ReadJpeg(GstBuffer *buffer, cDIB &frame, QString &sError, QSize atLeast)
{
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        sError = QStringLiteral("the camera's frame cannot be read");
        return false;
    }
    const bool decoded = m_jpeg.Decode(map.data, map.size, frame, sError, atLeast);
    gst_buffer_unmap(buffer, &map);
    return decoded;
}

// The converter writes into the buffer's own memory, rows counted from the
// top: a negative row step starting at the last row in memory stores the
// picture bottom row first, as the buffer keeps it.
bool cFrameReader::ReadRaw(GstBuffer *buffer, const GstVideoInfo &in, cDIB &frame, QString &sError)
{
    const int width = GST_VIDEO_INFO_WIDTH(&in);
    const int height = GST_VIDEO_INFO_HEIGHT(&in);
    QString reason;
    if (!frame.Fit(width, height, reason)) {
        sError = QStringLiteral("the camera's frame cannot be taken: ") + reason;
        return false;
    }
    const gsize pitch = gsize(frame.BytesPerScanLine());
    const gsize size = pitch * gsize(height);
    GstVideoInfo out;
    gst_video_info_set_format(&out, GST_VIDEO_FORMAT_BGR, guint(width), guint(height));
    GST_VIDEO_INFO_FPS_N(&out) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(&out) = GST_VIDEO_INFO_FPS_D(&in);
    GST_VIDEO_INFO_PAR_N(&out) = GST_VIDEO_INFO_PAR_N(&in);
    GST_VIDEO_INFO_PAR_D(&out) = GST_VIDEO_INFO_PAR_D(&in);
    GST_VIDEO_INFO_PLANE_STRIDE(&out, 0) = -gint(pitch);
    GST_VIDEO_INFO_PLANE_OFFSET(&out, 0) = pitch * gsize(height - 1);
    GST_VIDEO_INFO_SIZE(&out) = size;
    if (!KeepConverterFor(in, out)) {
        sError = QStringLiteral("frames of this kind cannot be converted");
        return false;
    }

    GstBuffer *target =
        gst_buffer_new_wrapped_full(GstMemoryFlags(0), frame.DIBSectionBitsPtr(), size, 0, size, nullptr, nullptr);
    GstVideoFrame source, destination;
    bool converted = false;
    if (gst_video_frame_map(&source, &in, buffer, GST_MAP_READ)) {
        if (gst_video_frame_map(&destination, &out, target, GST_MAP_WRITE)) {
            gst_video_converter_frame(m_converter, &source, &destination);
            gst_video_frame_unmap(&destination);
            converted = true;
        }
        gst_video_frame_unmap(&source);
    }
    gst_buffer_unref(target);
    if (!converted)
        sError = QStringLiteral("the camera sent a frame shorter than its format says");
    return converted;
}

bool cFrameReader::KeepConverterFor(const GstVideoInfo &in, const GstVideoInfo &out)
{
    if (m_converter && gst_video_info_is_equal(&in, &m_converterInput) &&
        gst_video_info_is_equal(&out, &m_converterOutput))
        return true;
    if (m_converter)
        gst_video_converter_free(m_converter);
    m_converter = gst_video_converter_new(&in, &out, nullptr);
    m_converterInput = in;
    m_converterOutput = out;
    return m_converter != nullptr;
}
