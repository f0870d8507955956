#pragma once

#include <QImage>

#include <benchmark/benchmark.h>

#include <cstdint>

// Seeded random RGB32 surface of `megapixels` million pixels at 4:3.
QImage benchSurface(int megapixels, std::uint32_t seed);

// Reports megapixels per second for `pixels` per iteration.
void reportMegapixels(benchmark::State &state, double pixels);
