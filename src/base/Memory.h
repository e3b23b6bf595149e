#pragma once

#include <cstdint>

namespace zv {

// Bytes the system can give this process without swapping: MemAvailable
// from /proc/meminfo, or the free physical memory where that is not to be
// read, bounded by what the limit of the process's control group leaves
// (cgroup v2, or v1's memory controller). The largest value when nothing can
// be read, so that nothing is refused for want of a figure.
std::uint64_t AvailableMemory();

// Tests put a fixed reading in place of the system's; nullptr restores it.
// Returns the reader that was in place.
using AvailableMemoryReader = std::uint64_t (*)();
AvailableMemoryReader SetAvailableMemoryReader(AvailableMemoryReader reader);

// Raises "The picture needs N MiB; only M MiB are available." when bytes is
// more than AvailableMemory(); called before a picture is allocated.
void CheckMemoryAvailable(std::uint64_t bytes);

} // namespace zv
