// Walks an archive of 100,000 small entries and copies one of them, next to
// GNU tar listing the same archive. Usage: bench_tar [entries]
#include "tar/TarArchive.h"
#include "tar/TarWriter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char **argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string path = (std::filesystem::temp_directory_path() / "zovevod-bench.tar").string();
  const std::string payload(100, 't');

  auto t0 = std::chrono::steady_clock::now();
  {
    zv::TTarWriter w(path);
    for (int i = 0; i < count; ++i) {
      std::istringstream in(payload);
      w.AddStream(in, "set/tile_" + std::to_string(i % 1000) + "_" + std::to_string(i / 1000) + ".png",
                  zv::UnixToDateTime(1600000000));
    }
    w.Finish();
  }
  const double writeTime = Seconds(t0);
  const auto archiveSize = std::filesystem::file_size(path);

  t0 = std::chrono::steady_clock::now();
  zv::TTarArchive tar(path);
  zv::TTarDirRec rec;
  std::vector<std::uint8_t> data;
  const std::string wanted = "set/tile_500_50.png";
  int entries = 0;
  while (tar.NextEntry(rec)) {
    ++entries;
    if (rec.Name == wanted)
      tar.CopyEntryData(data);
  }
  const double walkTime = Seconds(t0);

  t0 = std::chrono::steady_clock::now();
  const int rc = std::system(("tar -tf '" + path + "' >/dev/null 2>&1").c_str());
  const double gnuTime = Seconds(t0);

  std::printf("archive: %d entries, %llu bytes\n", count, static_cast<unsigned long long>(archiveSize));
  std::printf("write:            %8.3f s\n", writeTime);
  std::printf("walk + copy one:  %8.3f s  (%d entries, %zu bytes copied, %lld bytes read = %.2f%% of the file)\n",
              walkTime, entries, data.size(), static_cast<long long>(tar.BytesRead()),
              100.0 * static_cast<double>(tar.BytesRead()) / static_cast<double>(archiveSize));
  if (rc == 0)
    std::printf("tar -tf:          %8.3f s  (reference)\n", gnuTime);
  else
    std::printf("tar -tf:          not available\n");
  std::filesystem::remove(path);
  return entries == count && data.size() == payload.size() ? 0 : 1;
}
