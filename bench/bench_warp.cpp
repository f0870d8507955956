// Resampling a 12 MP frame onto the reference's grid, on one thread as each decode worker does:
// warpFrame through a turn and zoom alone and through a local field besides, at 8 and 16 bits
// (16-bit frames go through OpenCV's bicubic remap, 8-bit ones through the integer resampler),
// and the resampler's paths alone on the same positions.
#include "bench/surfaces.h"
#include "engine/align/alignment.h"
#include "engine/align/bicubicrow.h"
#include "engine/core/cpufeatures.h"
#include "engine/core/framebuffers.h"

#include <cmath>
#include <vector>

namespace {

constexpr int Width = 4000;
constexpr int Height = 3000;

// About 2 degrees and 1 % zoom about the centre, as a hand-held frame.
Homography turnAndZoom()
{
    const double angle = 0.035, scale = 1.01, cx = Width / 2.0, cy = Height / 2.0;
    const double c = scale * std::cos(angle), s = scale * std::sin(angle);
    return {{c, -s, cx - c * cx + s * cy + 3.3, s, c, cy - s * cx - c * cy - 2.7, 0, 0, 1}};
}

// A gentle wave of up to 3 pixels, on nodes every 8 pixels as refinement leaves them.
LocalField wave()
{
    LocalField field(QSize(Width / 8 + 1, Height / 8 + 1), QPointF(0, 0), QPointF(8, 8));
    for (int i = 0; i <= Height / 8; ++i)
        for (int j = 0; j <= Width / 8; ++j) {
            field.dx(i, j) = float(3 * std::sin(i / 40.0));
            field.dy(i, j) = float(2 * std::cos(j / 55.0));
        }
    return field;
}

void BM_WarpFrame(benchmark::State &state)
{
    const bool deep = state.range(0) != 0, throughField = state.range(1) != 0;
    const QImage frame = photoSurface(Width, Height, 1.5, 21, deep);
    const LocalField field = throughField ? wave() : LocalField();
    // Warped frames' buffers come back for the next, as in a run.
    keepFrameBuffers(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(warpFrame(frame, turnAndZoom(), frame.size(), field));
    keepFrameBuffers(0);
    reportMegapixels(state, double(Width) * Height);
}

using RowFn = void (*)(const Rgb32Source &, const float *, const float *, int, std::uint32_t *);

// The positions are worked out before the clock starts: 96 MB of them for the whole frame.
void timeRows(benchmark::State &state, RowFn resample)
{
    const QImage frame = photoSurface(Width, Height, 1.5, 21);
    const Rgb32Source source{frame.constBits(), frame.bytesPerLine(), Width, Height};
    const Homography h = turnAndZoom();
    std::vector<float> u(std::size_t(Width) * Height), v(u.size());
    for (std::size_t i = 0; i < u.size(); ++i) {
        const QPointF p = h.map(QPointF(double(i % Width), double(i / Width)));
        u[i] = float(p.x());
        v[i] = float(p.y());
    }
    std::vector<std::uint32_t> out(Width);
    for (auto _ : state)
        for (std::size_t row = 0; row < Height; ++row) {
            resample(source, u.data() + row * Width, v.data() + row * Width, Width, out.data());
            benchmark::DoNotOptimize(out.data());
        }
    reportMegapixels(state, double(Width) * Height);
}

void BM_BicubicRowScalar(benchmark::State &state)
{
    timeRows(state, bicubicRowScalar);
}

#if defined(__x86_64__)
void BM_BicubicRowSse41(benchmark::State &state)
{
    timeRows(state, bicubicRowSse41);
}

void BM_BicubicRowAvx2(benchmark::State &state)
{
    if (!avx2Supported())
        return state.SkipWithError("no AVX2");
    timeRows(state, bicubicRowAvx2);
}
#endif

} // namespace

BENCHMARK(BM_WarpFrame)->ArgNames({"deep", "field"})->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BicubicRowScalar)->Unit(benchmark::kMillisecond);
#if defined(__x86_64__)
BENCHMARK(BM_BicubicRowSse41)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BicubicRowAvx2)->Unit(benchmark::kMillisecond);
#endif
