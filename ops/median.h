#pragma once

#include "ops/decodepool.h"
#include "ops/memorybudget.h"
#include "ops/spilledplanes.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class OpHost;

// Bytes the process can still take without swapping, being killed or refused; nullopt where
// unknown. On Linux a huge allocation succeeds and fails only when touched, so the planes
// are checked against this before they are made.
using MemoryProbe = std::function<std::optional<std::uint64_t>()>;

// "&Median": loads every listed file onto the canvas in turn and paints the per-pixel,
// per-channel median of them all over the area the canvas had when the run began. Planes
// beyond the memory budget go to an unnamed file in scratchFolder.
void runMedian(OpHost &host, const MemoryProbe &probe = processMemoryBudget,
               const QString &scratchFolder = defaultScratchFolder());
// The same with the workers and decoder given, as tests do.
void runMedian(OpHost &host, const MemoryProbe &probe, DecodePool &pool, const FrameDecoder &decoder,
               const QString &scratchFolder = defaultScratchFolder());
