#pragma once

#include <QImage>

#include <benchmark/benchmark.h>

#include <cstdint>

// Seeded random RGB32 surface of `megapixels` million pixels at 4:3.
QImage benchSurface(int megapixels, std::uint32_t seed);

// Seeded photo-like RGB32 picture: smooth gradients in each channel under Gaussian noise of
// `sigma` levels, the same bytes on every machine. `deep`: the same as RGBX64, levels and noise
// 257 times as large, so the low byte is noise too.
QImage photoSurface(int width, int height, double sigma, std::uint32_t seed, bool deep = false);

// Reports megapixels per second for `pixels` per iteration.
void reportMegapixels(benchmark::State &state, double pixels);
