// Walks arbitrary bytes as a tar archive, copying every entry's data.
#include "tar/TarArchive.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("fuzz.tar", 0);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  try {
    zv::TTarArchive tar("/proc/self/fd/" + std::to_string(fd));
    zv::TTarDirRec rec;
    std::vector<std::uint8_t> out;
    while (tar.NextEntry(rec)) tar.CopyEntryData(out);
  } catch (const zv::Error&) {
  }
  return 0;
}
