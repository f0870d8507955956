#pragma once

#include <QSize>

#include <cstdint>
#include <functional>
#include <optional>

#include "ops/decodepool.h"

class OpHost;

// Bytes the system can still give without swapping or killing the process; nullopt where
// unknown. On Linux a huge allocation succeeds and fails only when touched, so the planes
// are checked against this before they are made.
using MemoryProbe = std::function<std::optional<std::uint64_t>()>;
std::optional<std::uint64_t> availableMemory();

// "&Median": loads every listed file onto the canvas in turn and paints the per-pixel,
// per-channel median of them all over the area the canvas had when the run began.
void runMedian(OpHost &host, const MemoryProbe &probe = availableMemory);
// The same with the workers and decoder given, as tests do.
void runMedian(OpHost &host, const MemoryProbe &probe, DecodePool &pool, const FrameDecoder &decoder);
