#pragma once

#include "engine/stack/stackmode.h"

#include <cstdint>
#include <vector>

// Each mode over one pixel's channel samples, straight from its definition: the oracle for the
// running values and the planes' kernels. At least one sample.
std::uint8_t referenceStack(const StackOptions &options, std::vector<int> samples);
