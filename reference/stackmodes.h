#pragma once

#include "engine/stack/stackmode.h"

#include <vector>

// Each mode over one pixel's channel samples, straight from its definition: the oracle for the
// running values and the planes' kernels, at either depth. At least one sample, each 0 to 65535.
int referenceStack(const StackOptions &options, std::vector<int> samples);
