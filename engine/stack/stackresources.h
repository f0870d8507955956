#pragma once

#include "engine/decode/imageloader.h"
#include "engine/stack/decodepool.h"
#include "engine/stack/memorybudget.h"
#include "engine/stack/spilledplanes.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class ScratchIo;

// Bytes the process can still take without swapping, being killed or refused; nullopt where
// unknown. On Linux a huge allocation succeeds and fails only when touched, so the planes are
// checked against this before they are made.
using MemoryProbe = std::function<std::optional<std::uint64_t>()>;

// What a run draws on; the defaults are this process's memory, cache folder, workers and disk.
struct StackResources {
    MemoryProbe memory = processMemoryBudget;
    QString scratchFolder = defaultScratchFolder();
    DecodePool *pool = nullptr; // the shared pool
    FrameDecoder decoder; // unset: the loader, at the run's depth
    ScratchIo *io = nullptr; // the system's calls
};
