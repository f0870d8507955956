#pragma once

#include <cstddef>
#include <cstdint>

// The first byte of an input, modulo 3.
enum FuzzMode : std::uint8_t { FuzzLoader = 0, FuzzOps = 1, FuzzKernel = 2 };

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
