// Cost of one capture cycle (grab of a waiting frame, bitmap, scaling, preview,
// caption, JPEG) against the bare encode of the same output picture. The wait
// for the camera's next frame is left out: each cycle starts with a frame ready.
#include "cCaptureCycle.h"
#include "cVidCap.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

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
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
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

BENCHMARK(BM_CaptureTick)->Args({640, 480, 320, 240})->Args({1280, 720, 640, 480})->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareEncode)->Args({640, 480, 320, 240})->Args({1280, 720, 640, 480})->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the caption is drawn with the application's fonts
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
