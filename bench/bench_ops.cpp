// Brightening and subtraction over whole canvases beside a plain copy of the same surface.
#include "bench/surfaces.h"
#include "engine/stack/pointops.h"
#include "reference/pointops.h"

#include <cstring>

namespace {

void BM_Copy(benchmark::State &state)
{
    const QImage source = benchSurface(int(state.range(0)), 1);
    QImage target = source.copy();
    for (auto _ : state) {
        std::memcpy(target.bits(), source.constBits(), std::size_t(source.sizeInBytes()));
        benchmark::ClobberMemory();
    }
    reportMegapixels(state, double(source.width()) * source.height());
}

void BM_Brighten(benchmark::State &state)
{
    QImage surface = benchSurface(int(state.range(0)), 2);
    for (auto _ : state) {
        brightenSurface(surface, surface.size());
        benchmark::ClobberMemory();
    }
    reportMegapixels(state, double(surface.width()) * surface.height());
}

void BM_Subtract(benchmark::State &state)
{
    QImage canvas = benchSurface(int(state.range(0)), 3);
    const QImage second = benchSurface(int(state.range(0)), 4);
    for (auto _ : state) {
        subtractSurface(canvas, second, canvas.size());
        benchmark::ClobberMemory();
    }
    reportMegapixels(state, double(canvas.width()) * canvas.height());
}

void BM_BrightenReference(benchmark::State &state)
{
    QImage surface = benchSurface(int(state.range(0)), 2);
    const UnitsPerPixel units;
    for (auto _ : state)
        referenceBrighten(surface, units, scaleWidth(surface, units), scaleHeight(surface, units));
    reportMegapixels(state, double(surface.width()) * surface.height());
}

} // namespace

BENCHMARK(BM_Copy)->Arg(12)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brighten)->Arg(12)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Subtract)->Arg(12)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrightenReference)->Arg(1)->Unit(benchmark::kMillisecond);
