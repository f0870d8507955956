#include "engine/stack/modetable.h"

#include "engine/stack/mediankernel.h"

#include <algorithm>
#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

template <typename Sample>
void medianKernel(const Sample *first, std::size_t imageStride, int n, int, Sample *out, std::size_t count)
{
    medianRow(first, imageStride, n, out, count);
}

constexpr std::array Modes{
    ModeEntry{StackMode::Median, "median"_L1, "median"_L1, "Median"_L1, 0, NotInMenu, medianKernel<std::uint8_t>,
              medianKernel<std::uint16_t>},
    ModeEntry{StackMode::Mean, "mean"_L1, "mean"_L1, "Mean"_L1, 1, 0, nullptr, nullptr},
    ModeEntry{StackMode::Minimum, "min"_L1, "minimum"_L1, "Minimum"_L1, NotInMenu, 2, nullptr, nullptr},
    ModeEntry{StackMode::Maximum, "max"_L1, "maximum"_L1, "Maximum"_L1, NotInMenu, 3, nullptr, nullptr},
    ModeEntry{StackMode::SigmaClippedMean, "sigma"_L1, "sigma-clipped mean"_L1, "Sigma-Clipped Mean"_L1, 2, 1,
              static_cast<PlaneKernel>(sigmaClippedMeanRow), static_cast<PlaneKernel16>(sigmaClippedMeanRow)},
};

} // namespace

std::span<const ModeEntry> stackModes()
{
    return Modes;
}

const ModeEntry &modeEntry(StackMode mode)
{
    return *std::ranges::find(Modes, mode, &ModeEntry::mode);
}
