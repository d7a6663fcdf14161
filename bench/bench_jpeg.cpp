// Cost of WriteJpegFile (encode in place, temporary file, stamps, rename)
// against a bare TurboJPEG encode plus a plain file write of the same bytes.
#include "cDIB.h"
#include "mJPEGLib.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <random>

namespace {

void MakePicture(cDIB &dib, int width, int height)
{
    dib.Create(width, height);
    std::mt19937 generator(3);
    // Smooth gradients with a little noise, closer to a camera frame than pure noise.
    for (int y = 0; y < height; ++y) {
        unsigned char *row = dib.DIBSectionBitsPtr() + std::size_t(y) * dib.BytesPerScanLine();
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<unsigned char>(x * 255 / width + generator() % 8);
            row[3 * x + 1] = static_cast<unsigned char>(y * 255 / height + generator() % 8);
            row[3 * x + 2] = static_cast<unsigned char>((x + y) % 256);
        }
    }
}

void BM_WriteJpegFile(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cam.jpg"));
    cDIB dib;
    MakePicture(dib, int(state.range(0)), int(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(WriteJpegFile(dib, path, 70));
}

void BM_BareEncodeAndWrite(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cam.jpg"));
    cDIB dib;
    MakePicture(dib, int(state.range(0)), int(state.range(1)));
    tjhandle encoder = tjInitCompress();
    for (auto _ : state) {
        unsigned char *encoded = nullptr;
        unsigned long size = 0;
        tjCompress2(encoder, dib.DIBSectionBitsPtr(), dib.Width(), dib.BytesPerScanLine(), dib.Height(), TJPF_BGR,
                    &encoded, &size, TJSAMP_420, 70, TJFLAG_BOTTOMUP);
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(reinterpret_cast<const char *>(encoded), qint64(size));
        tjFree(encoded);
    }
    tjDestroy(encoder);
}

} // namespace

BENCHMARK(BM_WriteJpegFile)->Args({320, 240})->Args({1280, 720})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareEncodeAndWrite)->Args({320, 240})->Args({1280, 720})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
