// Runs each scale case at two sizes a factor 4 apart and prints CPU time,
// wall time and peak memory of both, with the growth of the time next to the
// growth of the work, so a step that grows faster than its work stands out:
//   atlas      an atlas of n small maps exported plain and TAR-ed
//   tiles      a picture of n listed 64 x 64 tiles cut into 64 x 64 tiles,
//              next to the same picture loaded from one whole image
//   jpeg/png   a large colour JPEG / palette PNG map loaded and cut into
//              400 x 400 JPEG or palette PNG tiles (CPU per pixel)
//   zoomout    the same maps exported as an atlas without and with four
//              zoom-out layers (the layers' cost in time and peak memory);
//              the tiles go to /dev/shm unless --dir is given
//   bmp        a large 8-bit BMP map loaded (peak memory over the picture)
//   archive    an archive of k maps sharing the same tiles, opened
// Every measurement runs in a forked child, so its peak resident memory is
// its own. Usage: bench_scale [--dir DIR] [--scale F] [--only CASE] [--keep]
// (--scale multiplies the sizes; 1 keeps this shared machine's modest sizes.)

#include "base/FileSystem.h"
#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"
#include "codecs/Jpeg.h"
#include "codecs/PngTile.h"
#include "export/ExportToAmbulo.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace zv;

namespace {

using Clock = std::chrono::steady_clock;

struct Measure {
  double Cpu = 0;  // user + system seconds of the measured step
  double Sys = 0;  // of which system
  double Wall = 0;
  double PeakMiB = 0;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double CpuNow() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
}

double SysNow() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return Seconds(ru.ru_stime);
}

// Runs prepare and then step in a forked child; only step is timed, and the
// peak memory is the child's whole.
Measure InChild(const std::function<void()>& prepare, const std::function<void()>& step) {
  int fds[2];
  if (::pipe(fds) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    Measure m;
    try {
      prepare();
      const double c0 = CpuNow(), s0 = SysNow();
      const auto w0 = Clock::now();
      step();
      m.Cpu = CpuNow() - c0;
      m.Sys = SysNow() - s0;
      m.Wall = std::chrono::duration<double>(Clock::now() - w0).count();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "failed: %s\n", e.what());
      m.Cpu = -1;
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    m.PeakMiB = static_cast<double>(ru.ru_maxrss) / 1024.0;
    if (::write(fds[1], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) std::_Exit(2);
    std::_Exit(0);
  }
  ::close(fds[1]);
  Measure m;
  if (::read(fds[0], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) m.Cpu = -1;
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return m;
}

void Row(const char* name, const std::string& size, const Measure& m, const std::string& note = "") {
  std::printf("  %-34s %-14s cpu %8.3f s (sys %6.3f)  wall %8.3f s  peak %8.1f MiB  %s\n", name, size.c_str(), m.Cpu,
              m.Sys, m.Wall, m.PeakMiB, note.c_str());
}

// A 4:3 picture of about the given number of pixels.
std::pair<int, int> PictureSize(std::int64_t pixels) {
  const int w = static_cast<int>(std::lround(std::sqrt(pixels * 4.0 / 3)));
  return {w, static_cast<int>(pixels / w)};
}

void Growth(const char* what, const Measure& small, const Measure& large, double work) {
  std::printf("  growth of %-26s cpu %.2f x  wall %.2f x  for %.2f x the work%s\n", what, large.Cpu / small.Cpu,
              large.Wall / small.Wall, work, large.Cpu / small.Cpu > 1.3 * work ? "   <-- faster than the work" : "");
}

// A map-like picture: smooth tints, contour-like bands, roads and a grid.
Rgb PictureColour(int x, int y) {
  const double e = std::sin(x * 0.0021) * std::cos(y * 0.0017) + 0.5 * std::sin((x + 2 * y) * 0.0063);
  const int band = static_cast<int>(std::floor(e * 12));
  if ((x + 3 * y) % 997 < 4 || (2 * x - y + 100000) % 1291 < 5) return Rgb{230, 80, 60};
  if (x % 500 == 0 || y % 500 == 0) return Rgb{30, 30, 120};
  if (std::abs(e * 12 - band) < 0.06) return Rgb{170, 110, 60};
  // Scanned maps are noisy: a few levels of it keep the files from shrinking
  // far below the picture.
  const std::uint32_t noise = (static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u) >> 29;
  const auto t = static_cast<std::uint8_t>(std::clamp(128 + band * 9 + 9 * static_cast<int>(noise), 0, 255));
  return Rgb{t, static_cast<std::uint8_t>(235 - t / 4), static_cast<std::uint8_t>(180 - t / 3)};
}

Bitmap Picture(int w, int h, int x0 = 0, int y0 = 0) {
  Bitmap b(w, h, PixelFormat::pf24bit);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = b.Row(y);
    for (int x = 0; x < w; ++x, row += 3) {
      const Rgb c = PictureColour(x0 + x, y0 + y);
      row[0] = c.r;
      row[1] = c.g;
      row[2] = c.b;
    }
  }
  return b;
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string MapText(const std::string& image) {
  return "OziExplorer Map Data File Version 2.1\r\nm\r\n" + image + "\r\n1 ,Map Code,\r\n";
}

// Writes a palette PNG of the picture strip by strip, so that the writer
// never holds the picture in 24 bits.
void WritePalettePng(const std::string& path, int w, int h) {
  TPngTileImage png(TPngColorType::Palette, 8, w, h);
  constexpr int strip = 256;
  for (int y = 0; y < h; y += strip) {
    const int sh = std::min(strip, h - y);
    png.Canvas().CopyRect(0, y, Picture(w, sh, 0, y), 0, 0, w, sh);
  }
  png.SaveToFile(path);
}

TExportOptions Options(bool png, int tile, bool tared = false) {
  TExportOptions o;
  o.TileWidthText = o.TileHeightText = std::to_string(tile);
  o.Format = png ? zv::TTileFormat::Png : zv::TTileFormat::Jpeg;
  o.DepthRow = 6;
  o.Tared = tared;
  return o;
}

std::string Size(std::int64_t n, const char* unit) { return std::to_string(n) + " " + unit; }

// ---- cases ----

void AtlasCase(const fs::path& dir, int n) {
  Measure m[2][2];
  // The outputs go only when all four runs are done: a run that follows the
  // deletion of thousands of files pays for it on some file systems (ext4
  // without a journal looks at each recently freed inode when it creates a
  // file), which would charge one run for the clean-up of another.
  std::vector<fs::path> outputs;
  for (int k = 0; k < 2; ++k) {
    const int maps = n << (2 * k);
    for (int tared = 0; tared < 2; ++tared) {
      const fs::path out = dir / ("atlas" + std::to_string(maps) + (tared ? "t" : "p"));
      TDisplayMapsCore view;
      TMapLayout* layout = nullptr;
      m[k][tared] = InChild(
          [&] {
            fs::remove_all(out);
            fs::create_directories(out);
            layout = view.Layouts->AddLayout("Layer");
            const Bitmap picture = Picture(256, 256);
            for (int i = 0; i < maps; ++i) {
              auto area = std::make_unique<TMapArea>(&view, layout);
              area->Name = "m" + std::to_string(i);
              area->FileName = area->Name + ".map";
              area->Lines = {"OziExplorer Map Data File Version 2.1", area->Name, area->Name + ".png"};
              auto image = std::make_unique<TMapImage>(&view, area.get());
              image->Bitmap = picture;
              area->Images.push_back(std::move(image));
              area->Width = area->Height = 256;
              layout->Areas->Add(std::move(area));
            }
          },
          [&] { ExportAtlas(out.string(), "atlas", *view.Layouts, Options(false, 400, tared != 0), {}); });
      outputs.push_back(out);
      Row(tared ? "atlas of small maps, TAR-ed" : "atlas of small maps, plain", Size(maps, "maps"), m[k][tared]);
    }
    std::printf("  TAR-ed / plain at %d maps: %.2f x cpu\n", maps, m[k][1].Cpu / m[k][0].Cpu);
  }
  Growth("the plain export", m[0][0], m[1][0], 4);
  Growth("the TAR-ed export", m[0][1], m[1][1], 4);
  for (const fs::path& out : outputs) fs::remove_all(out);
}

// A picture of cols x rows tiles of 64 x 64: once as listed tile files, once
// as one whole image; each is loaded and then cut into 64 x 64 PNG tiles.
void TilesCase(const fs::path& dir, int tiles) {
  Measure m[2][2];
  for (int k = 0; k < 2; ++k) {
    const int n = tiles << (2 * k);
    const int cols = static_cast<int>(std::lround(std::sqrt(n)));
    const int rows = (n + cols - 1) / cols;
    const fs::path src = dir / ("tiles" + std::to_string(n));
    fs::remove_all(src);
    fs::create_directories(src / "set");
    std::string list;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) {
        const std::string name = "t_" + std::to_string(64 * c) + "_" + std::to_string(64 * r) + ".png";
        TPngTileImage png(TPngColorType::Palette, 8, 64, 64);
        png.Canvas().CopyRect(0, 0, Picture(64, 64, 64 * c, 64 * r), 0, 0, 64, 64);
        png.SaveToFile((src / "set" / name).string());
        list += name + "\r\n";
      }
    WriteText((src / "t.set").string(), list);
    WriteText((src / "t.map").string(), MapText("whole.png"));
    const fs::path whole = dir / ("whole" + std::to_string(n));
    fs::create_directories(whole);
    WriteText((whole / "t.map").string(), MapText("whole.png"));
    WritePalettePng((whole / "whole.png").string(), 64 * cols, 64 * rows);
    for (int w = 0; w < 2; ++w) {
      const fs::path out = dir / "tiles-out";
      TDisplayMapsCore view;
      m[k][w] = InChild(
          [&] {
            fs::remove_all(out);
            fs::create_directories(out);
            view.OpenFile(((w ? whole : src) / "t.map").string());
          },
          [&] { ExportSingleMap(out.string(), view.ActiveMapArea(), Options(true, 64), {}); });
      fs::remove_all(out);
      Row(w ? "export of one whole image" : "export of listed 64x64 tiles", Size(n, "tiles"), m[k][w]);
    }
    std::printf("  listed / whole at %d tiles: %.2f x cpu\n", n, m[k][0].Cpu / m[k][1].Cpu);
    fs::remove_all(src);
    fs::remove_all(whole);
  }
  Growth("the listed tiles' export", m[0][0], m[1][0], 4);
  Growth("the whole image's export", m[0][1], m[1][1], 4);
}

// src/map.map naming a colour JPEG (quality 90) or a palette PNG of the
// picture at w x h.
void WriteLargeMap(const fs::path& src, int w, int h, bool jpegMap) {
  const std::string image = jpegMap ? "map.jpg" : "map.png";
  if (jpegMap) {
    TJPEGImage jpeg;
    jpeg.SetNumOfColors(TNumOfColors::TrueColor);
    jpeg.SetQuality(90);
    jpeg.AssignPicture(Picture(w, h));
    jpeg.SaveToFile((src / image).string());
  } else {
    WritePalettePng((src / image).string(), w, h);
  }
  WriteText((src / "map.map").string(), MapText(image));
}

// A large map loaded and cut into 400 x 400 tiles; CPU per pixel at two sizes.
void LargeMapCase(const fs::path& dir, std::int64_t pixels, bool jpegMap, bool pngTiles) {
  Measure m[2];
  std::int64_t px[2];
  for (int k = 0; k < 2; ++k) {
    const auto [w, h] = PictureSize(pixels << (2 * k));
    px[k] = std::int64_t{w} * h;
    const fs::path src = dir / "large";
    fs::create_directories(src);
    WriteLargeMap(src, w, h, jpegMap);
    const fs::path out = dir / "large-out";
    m[k] = InChild(
        [&] {
          fs::remove_all(out);
          fs::create_directories(out);
        },
        [&] {
          TDisplayMapsCore view;
          view.OpenFile((src / "map.map").string());
          ExportSingleMap(out.string(), view.ActiveMapArea(), Options(pngTiles, 400), {});
        });
    fs::remove_all(out);
    fs::remove_all(src);
    const double picture = static_cast<double>(px[k]) * (jpegMap ? 1 : 1) / (1 << 20); // 8-bit either way
    char note[128];
    std::snprintf(note, sizeof note, "%.1f ns cpu/pixel, peak - picture %.1f MiB", m[k].Cpu / px[k] * 1e9,
                  m[k].PeakMiB - picture);
    Row(jpegMap ? (pngTiles ? "JPEG map -> PNG tiles" : "JPEG map -> JPEG tiles")
                : (pngTiles ? "PNG map -> PNG tiles" : "PNG map -> JPEG tiles"),
        std::to_string(px[k] / 1000000) + " MP", m[k], note);
  }
  Growth(jpegMap ? "the JPEG map's load + export" : "the PNG map's load + export", m[0], m[1],
         static_cast<double>(px[1]) / px[0]);
}

// A large map loaded, then exported as an atlas without and with four
// zoom-out layers; only the export is timed. The layers are to cost at most
// half the plain export's time and 32 MiB more peak memory. The two exports
// take turns, three rounds, and the best time of each counts: a ratio of
// single runs moved by a tenth from run to run on a shared machine.
void ZoomOutCase(const fs::path& dir, const fs::path& outDir, std::int64_t pixels, bool jpegMap) {
  const auto [w, h] = PictureSize(pixels);
  const fs::path src = dir / "zoomout";
  fs::create_directories(src);
  WriteLargeMap(src, w, h, jpegMap);
  // Every run writes into a folder of its own, all removed at the end: a run
  // right after a deletion would pay for it (see AtlasCase).
  constexpr int rounds = 3;
  Measure best[2];
  std::vector<fs::path> outs;
  for (int round = 0; round < rounds; ++round)
    for (int k = 0; k < 2; ++k) {
      TDisplayMapsCore view;
      const fs::path out = outDir / ("zoomout-out" + std::to_string(round) + std::to_string(4 * k));
      outs.push_back(out);
      const Measure m = InChild(
          [&] {
            fs::create_directories(out);
            view.OpenFile((src / "map.map").string());
          },
          [&] {
            TExportOptions o = Options(!jpegMap, 400);
            o.ZoomOutLayers = 4 * k;
            ExportAtlas(out.string(), "a", *view.Layouts, o, {});
          });
      Row(jpegMap ? "JPEG map -> JPEG tiles" : "PNG map -> PNG tiles",
          std::to_string(std::int64_t{w} * h / 1000000) + " MP", m,
          k == 0 ? "no zoom-out layers" : "4 zoom-out layers");
      Measure& b = best[k];
      if (round == 0 || m.Cpu < b.Cpu) b.Cpu = m.Cpu, b.Sys = m.Sys;
      if (round == 0 || m.Wall < b.Wall) b.Wall = m.Wall;
      b.PeakMiB = std::max(b.PeakMiB, m.PeakMiB);
    }
  std::printf("  4 zoom-out layers, best of %d: cpu %.2f x, wall %.2f x, peak %+.1f MiB\n", rounds,
              best[1].Cpu / best[0].Cpu, best[1].Wall / best[0].Wall, best[1].PeakMiB - best[0].PeakMiB);
  for (const fs::path& out : outs) fs::remove_all(out);
  fs::remove_all(src);
}

// Writes an 8-bit BMP of the given size (grey ramp palette, stripes).
void WriteBmp8(const std::string& path, int w, int h) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(w) + 3) & ~3u;
  const std::uint32_t offset = 14 + 40 + 256 * 4;
  const std::uint32_t size = offset + stride * static_cast<std::uint32_t>(h);
  std::vector<std::uint8_t> head(offset, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) head[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  head[0] = 'B';
  head[1] = 'M';
  put32(2, size);
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(w));
  put32(22, static_cast<std::uint32_t>(h));
  head[26] = 1;
  head[28] = 8;
  for (int i = 0; i < 256; ++i) head[54 + 4 * i] = head[55 + 4 * i] = head[56 + 4 * i] = static_cast<std::uint8_t>(i);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  std::vector<char> row(stride);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) row[static_cast<std::size_t>(x)] = static_cast<char>((x / 7 + y / 5) & 255);
    f.write(row.data(), static_cast<std::streamsize>(stride));
  }
}

void BmpCase(const fs::path& dir, std::int64_t pixels) {
  Measure m[2];
  std::int64_t px[2];
  for (int k = 0; k < 2; ++k) {
    const auto [w, h] = PictureSize(pixels << (2 * k));
    px[k] = std::int64_t{w} * h;
    const fs::path src = dir / "bmp";
    fs::create_directories(src);
    WriteBmp8((src / "map.bmp").string(), w, h);
    WriteText((src / "map.map").string(), MapText("map.bmp"));
    m[k] = InChild([] {}, [&] {
      TDisplayMapsCore view;
      view.OpenFile((src / "map.map").string());
    });
    fs::remove_all(src);
    char note[96];
    std::snprintf(note, sizeof note, "peak - picture %.1f MiB", m[k].PeakMiB - static_cast<double>(px[k]) / (1 << 20));
    Row("8-bit BMP map loaded", std::to_string(px[k] / 1000000) + " MP", m[k], note);
  }
  Growth("the BMP map's load", m[0], m[1], static_cast<double>(px[1]) / px[0]);
}

// One archive holding k maps and one set of tiles they all name.
void ArchiveCase(const fs::path& dir, int tiles, int maps) {
  const fs::path src = dir / "archive";
  fs::remove_all(src);
  fs::create_directories(src / "set");
  const int cols = static_cast<int>(std::lround(std::sqrt(tiles)));
  std::vector<std::string> names;
  for (int i = 0; i < tiles; ++i) {
    const int c = i % cols, r = i / cols;
    const std::string name = "a_" + std::to_string(256 * c) + "_" + std::to_string(256 * r) + ".jpg";
    TJPEGImage jpeg;
    jpeg.SetNumOfColors(TNumOfColors::TrueColor);
    jpeg.SetQuality(85);
    jpeg.AssignPicture(Picture(256, 256, 256 * c, 256 * r));
    jpeg.SaveToFile((src / "set" / name).string());
    names.push_back("set/" + name);
  }
  Measure m[2];
  int k[2] = {maps, maps * 4};
  for (int j = 0; j < 2; ++j) {
    std::string members;
    for (int i = 0; i < k[j]; ++i) {
      WriteText((src / ("m" + std::to_string(i) + ".map")).string(), MapText("x.png"));
      members += " m" + std::to_string(i) + ".map";
    }
    const std::string tar = (dir / "maps.tar").string();
    const std::string cmd = "cd '" + src.string() + "' && tar --format=ustar -cf '" + tar + "'" + members + " set";
    if (std::system(cmd.c_str()) != 0) std::abort();
    m[j] = InChild([] {}, [&] {
      TDisplayMapsCore view;
      view.OpenFile(tar);
    });
    Row("archive of maps sharing tiles", Size(k[j], "maps"), m[j], std::to_string(tiles) + " tiles of 256x256");
  }
  fs::remove_all(src);
  fs::remove(dir / "maps.tar");
  Growth("opening the archive", m[0], m[1], 1);
}

} // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  fs::path dir = fs::temp_directory_path() / "zovevod-bench-scale";
  double scale = 1;
  std::string only;
  bool keep = false, dirGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) dir = argv[++i], dirGiven = true;
    else if (a == "--scale" && i + 1 < argc) scale = std::atof(argv[++i]);
    else if (a == "--only" && i + 1 < argc) only = argv[++i];
    else if (a == "--keep") keep = true;
    else {
      std::fprintf(stderr, "usage: bench_scale [--dir DIR] [--scale F] [--only CASE] [--keep]\n");
      return 2;
    }
  }
  fs::create_directories(dir);
  const auto want = [&](const char* name) { return only.empty() || only == name; };
  const auto scaled = [&](double v) { return static_cast<std::int64_t>(v * scale); };
  if (want("atlas")) {
    std::printf("atlas: one layer of small maps, plain and TAR-ed\n");
    AtlasCase(dir, static_cast<int>(scaled(1000)));
  }
  if (want("tiles")) {
    std::printf("tiles: a picture of listed 64 x 64 tiles cut into 64 x 64 PNG tiles\n");
    TilesCase(dir, static_cast<int>(scaled(2500)));
  }
  if (want("jpeg")) {
    std::printf("jpeg: colour JPEG map loaded and cut into 400 x 400 tiles\n");
    LargeMapCase(dir, scaled(12'500'000), true, false);
    LargeMapCase(dir, scaled(12'500'000), true, true);
  }
  if (want("png")) {
    std::printf("png: palette PNG map loaded and cut into 400 x 400 tiles\n");
    LargeMapCase(dir, scaled(12'500'000), false, false);
    LargeMapCase(dir, scaled(12'500'000), false, true);
  }
  if (want("zoomout")) {
    std::printf("zoomout: a palette PNG map and a colour JPEG map exported as an atlas, with 4 zoom-out layers\n");
    // The exports write into memory unless --dir says where: on a disk, the
    // deletions of earlier cases and runs weigh on creating files for
    // minutes (ext4 without a journal passes over recently freed inodes),
    // which moved the ratio by a fifth from run to run and hit the export
    // with more files harder.
    fs::path outDir = dir;
    if (!dirGiven && fs::is_directory("/dev/shm")) outDir = "/dev/shm/zovevod-bench-zoomout";
    fs::create_directories(outDir);
    std::printf("  (tiles written to %s)\n", outDir.c_str());
    ZoomOutCase(dir, outDir, scaled(25'000'000), false);
    ZoomOutCase(dir, outDir, scaled(50'000'000), true);
    if (outDir != dir) fs::remove_all(outDir);
  }
  if (want("bmp")) {
    std::printf("bmp: 8-bit BMP map loaded\n");
    BmpCase(dir, scaled(12'500'000));
  }
  if (want("archive")) {
    std::printf("archive: one archive of k maps sharing the same tiles, opened\n");
    ArchiveCase(dir, static_cast<int>(scaled(300)), 2);
  }
  if (!keep) fs::remove_all(dir);
  return 0;
}
