// Scaling speed of cDIB::Resample against Qt's own smooth scaling, on the
// sizes a webcam server sees: VGA down to QVGA and 1080p down to 720p.
#include "cDIB.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

void FillNoise(cDIB &dib)
{
    std::mt19937 generator(1);
    const std::size_t size = std::size_t(dib.BytesPerScanLine()) * dib.Height();
    for (std::size_t i = 0; i < size; ++i)
        dib.DIBSectionBitsPtr()[i] = static_cast<unsigned char>(generator());
}

void BM_Resample(benchmark::State &state)
{
    cDIB source;
    source.Create(int(state.range(0)), int(state.range(1)));
    FillNoise(source);
    for (auto _ : state)
        benchmark::DoNotOptimize(source.Resample(int(state.range(3)), int(state.range(2))));
    state.SetItemsProcessed(state.iterations() * state.range(2) * state.range(3));
}

// A 1280x720 frame turned by 90 degrees, to its own turned size (a copy) or
// scaled; the unturned scaling beside it is BM_Resample.
void BM_ResampleTurned(benchmark::State &state)
{
    cDIB source;
    source.Create(1280, 720);
    FillNoise(source);
    for (auto _ : state)
        benchmark::DoNotOptimize(source.Resample(int(state.range(1)), int(state.range(0)), {int(state.range(2))}));
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void BM_QImageSmoothScale(benchmark::State &state)
{
    cDIB source;
    source.Create(int(state.range(0)), int(state.range(1)));
    FillNoise(source);
    const QImage image = source.ToImage();
    for (auto _ : state)
        benchmark::DoNotOptimize(image.scaled(int(state.range(2)), int(state.range(3)), Qt::IgnoreAspectRatio,
                                              Qt::SmoothTransformation));
    state.SetItemsProcessed(state.iterations() * state.range(2) * state.range(3));
}

} // namespace

BENCHMARK(BM_Resample)->Args({640, 480, 320, 240})->Args({1920, 1080, 1280, 720})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resample)->Args({1280, 720, 320, 240})->Args({1280, 720, 1280, 720})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleTurned)
    ->Args({720, 1280, 90})
    ->Args({720, 1280, 270})
    ->Args({1280, 720, 180})
    ->Args({240, 320, 90})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QImageSmoothScale)->Args({640, 480, 320, 240})->Args({1920, 1080, 1280, 720})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
