#include "base/Memory.h"

#include "base/Errors.h"
#include "base/Messages.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>

#include <unistd.h>

namespace zv {

namespace {

constexpr std::uint64_t Unknown = std::numeric_limits<std::uint64_t>::max();

// The first number in a small text file, or Unknown ("max", missing file).
std::uint64_t ReadNumber(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (!f) return Unknown;
  unsigned long long v = 0;
  const bool ok = std::fscanf(f, "%llu", &v) == 1;
  std::fclose(f);
  return ok ? v : Unknown;
}

std::uint64_t MemAvailable() {
  std::FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return Unknown;
  char line[256];
  std::uint64_t kib = Unknown;
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long v = 0;
    if (std::sscanf(line, "MemAvailable: %llu kB", &v) == 1) {
      kib = v;
      break;
    }
  }
  std::fclose(f);
  return kib == Unknown ? Unknown : kib * 1024;
}

// What a cgroup v2 limit leaves: its limit less the anonymous memory charged
// to it (page cache in it can be reclaimed).
std::uint64_t CgroupLeft() {
  const std::uint64_t limit = ReadNumber("/sys/fs/cgroup/memory.max");
  if (limit == Unknown) return Unknown;
  std::FILE* f = std::fopen("/sys/fs/cgroup/memory.stat", "r");
  if (!f) return Unknown;
  char line[256];
  std::uint64_t anon = 0;
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long v = 0;
    if (std::sscanf(line, "anon %llu", &v) == 1) {
      anon = v;
      break;
    }
  }
  std::fclose(f);
  return anon < limit ? limit - anon : 0;
}

std::uint64_t SystemAvailableMemory() {
  std::uint64_t available = MemAvailable();
  if (available == Unknown) {
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) available = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
  }
  const std::uint64_t cgroup = CgroupLeft();
  return cgroup < available ? cgroup : available;
}

std::atomic<AvailableMemoryReader> reader{nullptr};

} // namespace

std::uint64_t AvailableMemory() {
  const AvailableMemoryReader r = reader.load();
  return r ? r() : SystemAvailableMemory();
}

AvailableMemoryReader SetAvailableMemoryReader(AvailableMemoryReader r) { return reader.exchange(r); }

void CheckMemoryAvailable(std::uint64_t bytes) {
  const std::uint64_t available = AvailableMemory();
  if (bytes <= available) return;
  constexpr std::uint64_t MiB = 1 << 20;
  throw Error(msg::PictureNeedsMemory(bytes / MiB + (bytes % MiB != 0), available / MiB));
}

} // namespace zv
