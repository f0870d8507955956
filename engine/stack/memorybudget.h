#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// RLIMIT_DATA's soft limit in bytes; nullopt when unlimited.
using DataLimit = std::function<std::optional<std::uint64_t>()>;
std::optional<std::uint64_t> softDataLimit();

// Bytes this process can still take before it swaps, is killed or has an allocation refused:
// the least of MemAvailable, every memory cgroup limit above the process minus that cgroup's
// usage (its inactive page cache counts as free), and the data limit minus VmData. `root` is
// where proc/ and the cgroup mounts are found. nullopt when none of them is known.
std::optional<std::uint64_t> memoryBudget(const QString &root, const DataLimit &dataLimit);

// The budget of this process on this machine.
std::optional<std::uint64_t> processMemoryBudget();
