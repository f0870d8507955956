#pragma once

#include "engine/stack/stackmode.h"

#include <QLatin1StringView>

#include <cstddef>
#include <cstdint>
#include <span>

// One row of every pixel's channel values from n samples first[i * imageStride + x], i < n.
using PlaneKernel = void (*)(const std::uint8_t *first, std::size_t imageStride, int n, int kappaHundredths,
                             std::uint8_t *out, std::size_t count);
using PlaneKernel16 = void (*)(const std::uint16_t *first, std::size_t imageStride, int n, int kappaHundredths,
                               std::uint16_t *out, std::size_t count);

// Where a mode stands in the window's stack menu: its place among the aligned entries and among
// those stacked as shot, or NotInMenu.
inline constexpr int NotInMenu = -1;

// Everything the shells and the run know of a mode. A new mode is a row here, its kernel and its
// reference.
struct ModeEntry {
    StackMode mode;
    QLatin1StringView word;     // the batch tool's `--mode` word
    QLatin1StringView progress; // the batch tool's word for the work after loading
    QLatin1StringView menuText; // the window's, before " of Aligned Frames" where aligned
    int alignedMenuPlace;
    int plainMenuPlace;
    // The mode needs every sample at once, in planes, at 8 and at 16 bits; nullptr: the frames
    // are folded into running values as they come.
    PlaneKernel kernel;
    PlaneKernel16 kernel16;
};

// In the order the batch tool names them.
std::span<const ModeEntry> stackModes();
const ModeEntry &modeEntry(StackMode mode);
