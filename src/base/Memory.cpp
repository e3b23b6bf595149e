#include "base/Memory.h"

#include "base/Errors.h"
#include "base/Messages.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

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

// The value of the line "key N" in a memory.stat file, or 0.
std::uint64_t StatValue(const std::string& path, const char* key) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  char line[256];
  std::uint64_t value = 0;
  const std::size_t keyLength = std::strlen(key);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, key, keyLength) != 0 || line[keyLength] != ' ') continue;
    value = std::strtoull(line + keyLength + 1, nullptr, 10);
    break;
  }
  std::fclose(f);
  return value;
}

// What the limit of the control group this process runs in leaves: its limit
// less the anonymous memory charged to it (page cache in it can be
// reclaimed). cgroup v2 ("0::/path") or the v1 memory controller.
std::uint64_t CgroupLeft() {
  std::FILE* f = std::fopen("/proc/self/cgroup", "r");
  if (!f) return Unknown;
  char line[1024];
  std::string v1, v2;
  bool haveV1 = false, haveV2 = false;
  while (std::fgets(line, sizeof line, f)) {
    std::string l(line);
    if (!l.empty() && l.back() == '\n') l.pop_back();
    const std::size_t first = l.find(':'), second = first == std::string::npos ? first : l.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = l.substr(first + 1, second - first - 1), path = l.substr(second + 1);
    if (l.compare(0, first, "0") == 0 && controllers.empty()) {
      v2 = path;
      haveV2 = true;
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
      v1 = path;
      haveV1 = true;
    }
  }
  std::fclose(f);
  // The least any group on the way up leaves: a limit set on a parent (a
  // systemd slice, say) holds for the groups below it. Inside a container
  // the group's own folder may be the mount's root, which is looked at last.
  auto left = [](const std::string& root, std::string path, const char* limitFile, const char* anonKey) {
    std::uint64_t least = Unknown;
    for (;;) {
      const std::string dir = root + path;
      const std::uint64_t limit = ReadNumber((dir + "/" + limitFile).c_str());
      if (limit != Unknown) {
        const std::uint64_t anon = StatValue(dir + "/memory.stat", anonKey);
        least = std::min<std::uint64_t>(least, anon < limit ? limit - anon : 0);
      }
      if (path.empty() || path == "/") return least;
      const std::size_t slash = path.find_last_of('/');
      path = slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
    }
  };
  std::uint64_t result = Unknown;
  if (haveV2) result = std::min(result, left("/sys/fs/cgroup", v2, "memory.max", "anon"));
  if (haveV1) result = std::min(result, left("/sys/fs/cgroup/memory", v1, "memory.limit_in_bytes", "total_rss"));
  return result;
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
