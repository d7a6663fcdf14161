// Cost of one capture cycle (grab of a waiting frame, bitmap, scaling, preview,
// caption, JPEG) against the bare encode of the same output picture, and of
// the grab of an MJPEG camera's frame against the bare decode of its bytes.
// The wait for the camera's next frame is left out: each grab starts with a
// frame ready.
#include "cCaptureCycle.h"
#include "cVidCap.h"

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <vector>

namespace {

CaptureSettings SettingsFor(int width, int height)
{
    CaptureSettings settings;
    settings.sWidth = QString::number(width);
    settings.sHeight = QString::number(height);
    settings.sCaption = QStringLiteral("{YY}/{MM}/{DD} - {HH}:{MI}:{SS}");
    settings.font.szFont = QStringLiteral("DejaVu Sans");
    settings.font.FontSize = QStringLiteral("8.25");
    settings.previewSize = QSize(160, 120);
    return settings;
}

void BM_CaptureTick(benchmark::State &state)
{
    QTemporaryDir folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    qputenv("VORSK_CAMERA", "test");
    cVidCap camera;
    camera.Connect();
    camera.SelectFormat(QSize(int(state.range(0)), int(state.range(1))));
    cCaptureCycle cycle;
    const CaptureSettings settings = SettingsFor(int(state.range(2)), int(state.range(3)));
    const QString path = folder.path() + QLatin1Char('/');
    for (auto _ : state) {
        state.PauseTiming();
        QThread::msleep(40); // a fresh frame waits in the sink (30 frames a second)
        state.ResumeTiming();
        benchmark::DoNotOptimize(cycle.Run(camera, path, QStringLiteral("lastpic.jpg"), QStringLiteral("lastpic.bmp"), settings));
    }
}

// A 1280 x 720 JPEG frame as a webcam sends it (4:2:0, quality 85), made from
// the test pattern, in a folder of its own.
struct MjpegCamera
{
    MjpegCamera()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
        qputenv("VORSK_CAMERA", "test");
        cVidCap pattern;
        pattern.Connect();
        pattern.SelectFormat(QSize(1280, 720));
        pattern.GrabFrame();
        const QString bitmap = folder.filePath(QStringLiteral("frame.bmp"));
        pattern.GrabbedFrameSave(bitmap);
        cDIB frame;
        frame.CreateFromBitmapFile(bitmap);
        tjhandle encoder = tjInitCompress();
        unsigned char *encoded = nullptr;
        unsigned long size = 0;
        tjCompress2(encoder, frame.DIBSectionBitsPtr(), frame.Width(), frame.BytesPerScanLine(), frame.Height(),
                    TJPF_BGR, &encoded, &size, TJSAMP_420, 85, TJFLAG_BOTTOMUP);
        jpeg.assign(encoded, encoded + size);
        tjFree(encoded);
        tjDestroy(encoder);
        QFile file(folder.filePath(QStringLiteral("frame.jpg")));
        file.open(QIODevice::WriteOnly);
        file.write(reinterpret_cast<const char *>(jpeg.data()), qint64(jpeg.size()));
    }

    // The camera: the frame again and again, 30 times a second.
    QByteArray Source() const
    {
        return QStringLiteral("gst:multifilesrc location=%1 loop=true caps=image/jpeg,width=1280,height=720 "
                              "! identity sleep-time=33333")
            .arg(folder.filePath(QStringLiteral("frame.jpg")))
            .toUtf8();
    }

    QTemporaryDir folder;
    std::vector<unsigned char> jpeg;
};

void BM_GrabJpegFrame(benchmark::State &state)
{
    MjpegCamera mjpeg;
    qputenv("VORSK_CAMERA", mjpeg.Source());
    cVidCap camera;
    camera.Connect();
    for (auto _ : state) {
        state.PauseTiming();
        QThread::msleep(40); // a fresh frame waits in the sink
        state.ResumeTiming();
        if (!camera.GrabFrame())
            state.SkipWithError("no frame");
    }
    state.counters["bytes"] = double(mjpeg.jpeg.size());
}

void BM_BareDecode(benchmark::State &state)
{
    MjpegCamera mjpeg;
    cDIB frame;
    frame.Create(1280, 720);
    tjhandle decoder = tjInitDecompress();
    for (auto _ : state) {
        state.PauseTiming();
        QThread::msleep(40); // the same pause as between grabs: caches and clocks alike
        state.ResumeTiming();
        tjDecompress2(decoder, mjpeg.jpeg.data(), mjpeg.jpeg.size(), frame.DIBSectionBitsPtr(), 1280,
                      frame.BytesPerScanLine(), 720, TJPF_BGR, TJFLAG_BOTTOMUP);
    }
    tjDestroy(decoder);
}

void BM_BareEncode(benchmark::State &state)
{
    cDIB picture;
    picture.Create(int(state.range(2)), int(state.range(3)));
    picture.RandomiseBits(false);
    tjhandle encoder = tjInitCompress();
    for (auto _ : state) {
        unsigned char *encoded = nullptr;
        unsigned long size = 0;
        tjCompress2(encoder, picture.DIBSectionBitsPtr(), picture.Width(), picture.BytesPerScanLine(), picture.Height(),
                    TJPF_BGR, &encoded, &size, TJSAMP_420, 70, TJFLAG_BOTTOMUP);
        tjFree(encoded);
    }
    tjDestroy(encoder);
}

} // namespace

BENCHMARK(BM_CaptureTick)->Args({640, 480, 320, 240})->Args({1280, 720, 640, 480})->Args({1920, 1080, 1920, 1080})->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareEncode)->Args({640, 480, 320, 240})->Args({1280, 720, 640, 480})->Args({1920, 1080, 1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrabJpegFrame)->Iterations(150)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareDecode)->Iterations(150)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the caption is drawn with the application's fonts
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
