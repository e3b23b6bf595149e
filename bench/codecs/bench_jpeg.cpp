// Decoding a large colour map JPEG with the adapter's defaults (the streaming
// two-pass quantiser), beside libjpeg's own two-pass quantiser through the
// same adapter and Debian's djpeg with the same settings, on the same file in
// the same run. Every measurement is a fresh process (this program again, or
// djpeg), so its peak resident memory is its own; wall and processor time
// (user + system, all threads) are both printed, as the machine may be busy.
//   bench_jpeg [--runs N] [--export CONVERTER] [WIDTHxHEIGHT...]   (default 8000x6000)
// With --export, the converter also turns a .map of each JPEG into 400 x 400
// JPEG tiles, and its peak memory is printed against the 8-bit picture.
#include "codecs/Jpeg.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Map-like content: flat land-use areas, a grid of contour lines and roads,
// rows of small letter-like strokes, and a little sensor noise. Made in a
// child process, whose memory is gone before anything is measured.
void MakeMapJpeg(int w, int h, const std::string& file) {
  const zv::Rgb areas[] = {{246, 241, 226}, {206, 231, 184}, {170, 211, 223}, {236, 220, 200}, {225, 225, 225}};
  std::mt19937 rng(1);
  zv::Bitmap b(w, h, zv::PixelFormat::pf24bit);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = b.Row(y);
    for (int x = 0; x < w; ++x) {
      // Areas bounded by slanted edges.
      const int cell = ((x + y / 3) / 700 * 7 + (y - x / 4 + 100000) / 500 * 3) % 5;
      zv::Rgb c = areas[cell];
      // Contour lines and roads.
      if ((x * 3 + y * 2) % 173 == 0 || (x - y + 100000) % 211 == 0) c = {180, 120, 60};
      if (y % 997 < 5 || x % 1409 < 6) c = {230, 60, 40};
      if (y % 997 == 2 || x % 1409 == 3) c = {255, 220, 90};
      // Text-like strokes: short glyphs in rows of labels.
      const int ty = y % 240, tx = x % 600;
      if (ty >= 100 && ty < 116 && tx < 300) {
        const int gx = tx % 12, gy = ty - 100, glyph = (tx / 12 * 7 + y / 240) % 5;
        const bool ink = (gx == 1 || gx == 8)               ? glyph != 2
                         : (gy == 0 || gy == 7 || gy == 15) ? (glyph + gx) % 3 != 0
                                                            : (glyph == 4 && gx == gy / 2);
        if (ink) c = {30, 30, 30};
      }
      const int noise = static_cast<int>(rng() % 9) - 4;
      row[3 * x] = static_cast<std::uint8_t>(std::clamp(c.r + noise, 0, 255));
      row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(c.g + noise, 0, 255));
      row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(c.b + noise, 0, 255));
    }
  }
  zv::SaveJpegTile(b, 85, file);
}

struct Measure {
  bool ok = false;
  double wall = 0, cpu = 0, peakMiB = 0;
};

// Runs argv as a child process with its output discarded.
Measure Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto t0 = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (std::FILE* null = std::fopen("/dev/null", "w")) ::dup2(fileno(null), 1);
    ::execvp(argv[0], argv.data());
    std::_Exit(127);
  }
  Measure m;
  int status = 0;
  rusage ru{};
  if (pid < 0 || ::wait4(pid, &status, 0, &ru) != pid) return m;
  m.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  m.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  m.peakMiB = static_cast<double>(ru.ru_maxrss) / 1024.0;
  return m;
}

// Best of runs by wall time; the peak is the largest seen.
Measure Best(const std::vector<std::string>& args, int runs) {
  Measure best;
  double peak = 0;
  for (int i = 0; i < runs; ++i) {
    const Measure m = Run(args);
    if (!m.ok) return m;
    peak = std::max(peak, m.peakMiB);
    if (!best.ok || m.wall < best.wall) best = m;
  }
  best.peakMiB = peak;
  return best;
}

// The child's side: decode the file as the map loader does, from a mapping
// of the file whose read pages are let go, with the streaming quantiser; or
// with libjpeg's, which reads the file's bytes whole first.
int Decode(const std::string& file, const std::string& quantiser) {
  zv::Bitmap bitmap;
  if (quantiser == "libjpeg") {
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> data(std::istreambuf_iterator<char>(in), {});
    zv::DecodeJpeg(data.data(), data.size(), bitmap, zv::TQuantiser::Libjpeg);
  } else {
    const int fd = ::open(file.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return 1;
    const auto size = static_cast<std::size_t>(st.st_size);
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) return 1;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    zv::DecodeJpeg(static_cast<const std::uint8_t*>(p), size, bitmap, [&](const std::uint8_t* from, std::size_t bytes) {
      const auto begin = (reinterpret_cast<std::uintptr_t>(from) + page - 1) / page * page;
      const auto end = (reinterpret_cast<std::uintptr_t>(from) + bytes) / page * page;
      if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    });
    ::munmap(p, size);
    ::close(fd);
  }
  return bitmap.Palette().empty() ? 1 : 0;
}

void Print(const char* what, const Measure& m, double pictureMiB) {
  if (!m.ok) {
    std::printf("  %-34s failed\n", what);
    return;
  }
  std::printf("  %-34s %7.3f s wall %7.3f s CPU   peak %8.1f MiB (picture + %6.1f MiB)\n", what, m.wall, m.cpu,
              m.peakMiB, m.peakMiB - pictureMiB);
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--decode") == 0) return Decode(argv[2], argv[3]);

  int runs = 3;
  std::string converter;
  std::vector<std::pair<int, int>> sizes;
  for (int i = 1; i < argc; ++i) {
    int w = 0, h = 0;
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--export") == 0 && i + 1 < argc)
      converter = argv[++i];
    else if (std::sscanf(argv[i], "%dx%d", &w, &h) == 2 && w > 0 && h > 0)
      sizes.emplace_back(w, h);
  }
  if (sizes.empty()) sizes.emplace_back(8000, 6000);

  const std::string self = fs::canonical("/proc/self/exe").string();
  const fs::path dir = fs::temp_directory_path() / ("zv_bench_jpeg_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const auto& [w, h] : sizes) {
    const std::string file = (dir / "map.jpg").string();
    const pid_t pid = ::fork(); // the maker's memory stays out of this process
    if (pid == 0) {
      MakeMapJpeg(w, h, file);
      std::_Exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double pictureMiB = static_cast<double>(w) * h / (1 << 20);
    std::printf("%d x %d map (%.0f MP), JPEG %.1f MB, 8-bit picture %.1f MiB; best of %d by wall time\n", w, h,
                static_cast<double>(w) * h / 1e6, static_cast<double>(fs::file_size(file)) / 1e6, pictureMiB, runs);

    const Measure ours = Best({self, "--decode", file, "streaming"}, runs);
    const Measure lib = Best({self, "--decode", file, "libjpeg"}, runs);
    const Measure djpeg = Best({"djpeg", "-colors", "256", "-dither", "fs", "-outfile", "/dev/null", file}, runs);
    Print("DecodeJpeg (streaming quantiser)", ours, pictureMiB);
    Print("DecodeJpeg (libjpeg's quantiser)", lib, pictureMiB);
    Print("djpeg -colors 256 -dither fs", djpeg, pictureMiB);
    if (ours.ok && djpeg.ok)
      std::printf("  streaming / djpeg: %.2f x wall, %.2f x CPU; target <= 0.9 x wall, peak <= picture + 32 MiB\n",
                  ours.wall / djpeg.wall, ours.cpu / djpeg.cpu);

    if (!converter.empty()) {
      std::ofstream map(dir / "map.map", std::ios::binary);
      map << "OziExplorer Map Data File Version 2.2\r\nmap\r\nmap.jpg\r\n";
      map.close();
      const std::string out = (dir / "out").string();
      const Measure e = Best({converter, "-o", out, "--tile", "400x400", (dir / "map.map").string()}, 1);
      Print("zovevod-export to JPEG tiles", e, pictureMiB);
      std::printf("  target: peak <= picture + 48 MiB\n");
      fs::remove_all(out);
    }
    fs::remove(file);
  }
  fs::remove_all(dir);
  return 0;
}
