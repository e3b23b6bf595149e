// Converts a large map into tiles and prints load time, export time, tiles/s,
// MP/s and peak memory next to reference tools run in the same program:
//   colour JPEG map -> JPEG tiles q85 vs djpeg -colors 256 -dither fs + cjpeg -quality 85 -optimize
//   8-bit palette PNG map -> palette PNG tiles vs vips dzsave (palette PNG, compression 7)
// Every measured conversion runs in a forked child, so its peak resident
// memory (ru_maxrss) is its own.
//
// Usage: bench_export [--dir DIR] [--size WxH] [--repeat N] [--workers N] [--keep]
// (--workers: tiles encoded at once, 0 = one per processor.)

#include "export/ExportToAmbulo.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <jpeglib.h>
#include <png.h>

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
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// ---- A synthetic topographic map: relief tints, water, contours, forest,
// roads, a grid and label-like glyph blocks, as palette indices. ----

struct ValueNoise {
  int cell;
  int gw, gh;
  std::vector<float> grid;
  ValueNoise(int w, int h, int cellSize, std::mt19937& rng) : cell(cellSize) {
    gw = w / cell + 2;
    gh = h / cell + 2;
    std::uniform_real_distribution<float> d(0.f, 1.f);
    grid.resize(static_cast<std::size_t>(gw) * gh);
    for (float& v : grid) v = d(rng);
  }
  float At(int x, int y) const {
    const float fx = static_cast<float>(x) / cell, fy = static_cast<float>(y) / cell;
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    float tx = fx - ix, ty = fy - iy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const float* r0 = &grid[static_cast<std::size_t>(iy) * gw + ix];
    const float* r1 = r0 + gw;
    const float a = r0[0] + (r0[1] - r0[0]) * tx;
    const float b = r1[0] + (r1[1] - r1[0]) * tx;
    return a + (b - a) * ty;
  }
};

struct RGB {
  unsigned char r, g, b;
};

enum : unsigned char {
  kWaterDeep = 0, kWater = 1, kShore = 2, kContour = 3, kForest = 4, kForestHatch = 5, kRoadCase = 6, kRoad = 7,
  kMajorRoad = 8, kGrid = 9, kText = 10, kTintBase = 16, kTints = 24
};

std::vector<RGB> MapPalette() {
  std::vector<RGB> p(kTintBase + kTints);
  p[kWaterDeep] = {120, 170, 220};
  p[kWater] = {160, 200, 235};
  p[kShore] = {40, 90, 170};
  p[kContour] = {170, 110, 60};
  p[kForest] = {170, 210, 150};
  p[kForestHatch] = {110, 160, 100};
  p[kRoadCase] = {60, 60, 60};
  p[kRoad] = {250, 230, 120};
  p[kMajorRoad] = {230, 80, 60};
  p[kGrid] = {30, 30, 120};
  p[kText] = {20, 20, 20};
  for (int i = 11; i < kTintBase; ++i) p[static_cast<std::size_t>(i)] = {255, 255, 255};
  for (int i = 0; i < kTints; ++i) {
    const float t = static_cast<float>(i) / (kTints - 1);
    p[static_cast<std::size_t>(kTintBase + i)] = {static_cast<unsigned char>(200 + 50 * t),
                                                  static_cast<unsigned char>(235 - 60 * t),
                                                  static_cast<unsigned char>(180 - 90 * t)};
  }
  return p;
}

struct SyntheticMap {
  int W, H;
  std::vector<unsigned char> index; // W * H palette indices
  std::vector<signed char> shade;   // hill shading for the colour version
};

SyntheticMap MakeMap(int w, int h) {
  SyntheticMap m{w, h, std::vector<unsigned char>(static_cast<std::size_t>(w) * h),
                 std::vector<signed char>(static_cast<std::size_t>(w) * h)};
  std::mt19937 rng(20261209);
  const ValueNoise n1(w, h, 700, rng), n2(w, h, 170, rng), n3(w, h, 45, rng), forest(w, h, 260, rng);
  const auto elevation = [&](int x, int y) { return (n1.At(x, y) + 0.35f * n2.At(x, y) + 0.12f * n3.At(x, y)) / 1.47f; };

  // Roads: wavy lines across the sheet, precomputed per column / per row.
  constexpr int kRoadsH = 7, kRoadsV = 9;
  std::uniform_real_distribution<float> u(0.f, 1.f);
  std::vector<std::vector<int>> roadY(kRoadsH, std::vector<int>(static_cast<std::size_t>(w)));
  for (auto& r : roadY) {
    const float base = u(rng) * h, amp = 80 + u(rng) * 400, period = 400 + u(rng) * 1500, phase = u(rng) * 6;
    for (int x = 0; x < w; ++x) r[static_cast<std::size_t>(x)] = static_cast<int>(base + amp * std::sin(x / period + phase));
  }
  std::vector<float> roadVBase(kRoadsV), roadVAmp(kRoadsV), roadVPeriod(kRoadsV), roadVPhase(kRoadsV);
  for (int k = 0; k < kRoadsV; ++k) {
    roadVBase[k] = u(rng) * w;
    roadVAmp[k] = 60 + u(rng) * 300;
    roadVPeriod[k] = 300 + u(rng) * 1200;
    roadVPhase[k] = u(rng) * 6;
  }

  std::vector<float> prevRow(static_cast<std::size_t>(w)), row(static_cast<std::size_t>(w));
  for (int x = 0; x < w; ++x) prevRow[static_cast<std::size_t>(x)] = elevation(x, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) row[static_cast<std::size_t>(x)] = elevation(x, y);
    int roadX[kRoadsV];
    for (int k = 0; k < kRoadsV; ++k)
      roadX[k] = static_cast<int>(roadVBase[k] + roadVAmp[k] * std::sin(y / roadVPeriod[k] + roadVPhase[k]));
    unsigned char* out = &m.index[static_cast<std::size_t>(y) * w];
    signed char* sh = &m.shade[static_cast<std::size_t>(y) * w];
    for (int x = 0; x < w; ++x) {
      const float e = row[static_cast<std::size_t>(x)];
      const float ex = row[static_cast<std::size_t>(x > 0 ? x - 1 : x)];
      const float ey = prevRow[static_cast<std::size_t>(x)];
      sh[x] = static_cast<signed char>(std::clamp((e - ex + e - ey) * 9000.f, -24.f, 24.f));
      unsigned char c;
      constexpr float kSea = 0.36f;
      if (e < kSea) {
        c = e < kSea - 0.05f ? kWaterDeep : kWater;
        if (e > kSea - 0.004f) c = kShore;
      } else {
        const float t = (e - kSea) / (1 - kSea);
        c = static_cast<unsigned char>(kTintBase + std::min(kTints - 1, static_cast<int>(t * static_cast<float>(kTints))));
        if (forest.At(x, y) > 0.62f) c = ((x + y) % 7 == 0) ? kForestHatch : kForest;
        const float f = e * 60 - std::floor(e * 60);
        if (f < 0.06f) c = kContour;
      }
      for (int k = 0; k < kRoadsH; ++k) {
        const int d = std::abs(y - roadY[static_cast<std::size_t>(k)][static_cast<std::size_t>(x)]);
        if (d <= 4) c = d <= 2 ? (k < 2 ? kMajorRoad : kRoad) : kRoadCase;
      }
      for (int k = 0; k < kRoadsV; ++k) {
        const int d = std::abs(x - roadX[k]);
        if (d <= 3) c = d <= 1 ? kRoad : kRoadCase;
      }
      if (x % 1000 == 0 || y % 1000 == 0) c = kGrid;
      out[x] = c;
    }
    std::swap(prevRow, row);
  }

  // Labels: rows of 7 x 10 glyph blocks with random strokes.
  std::uniform_int_distribution<int> px(0, w - 80), py(0, h - 12), len(4, 9), bits(0, 0xFFFF);
  const int labels = w * h / 16000;
  for (int l = 0; l < labels; ++l) {
    const int lx = px(rng), ly = py(rng), n = len(rng);
    for (int g = 0; g < n; ++g) {
      const int pattern = bits(rng);
      for (int gy = 0; gy < 10; ++gy)
        for (int gx = 0; gx < 6; ++gx)
          if ((pattern >> ((gy * 3 + gx) % 16)) & 1 && (gx == 0 || gy % 3 == 0 || gx == 5))
            m.index[static_cast<std::size_t>(ly + gy) * w + lx + g * 8 + gx] = kText;
    }
  }
  return m;
}

void WritePalettePng(const SyntheticMap& m, const std::vector<RGB>& pal, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng failed on " + path);
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(m.W), static_cast<png_uint_32>(m.H), 8, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> p;
  for (const RGB& c : pal) p.push_back({c.r, c.g, c.b});
  png_set_PLTE(png, info, p.data(), static_cast<int>(p.size()));
  png_write_info(png, info);
  for (int y = 0; y < m.H; ++y)
    png_write_row(png, const_cast<png_bytep>(&m.index[static_cast<std::size_t>(y) * m.W]));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

void WriteColourJpeg(const SyntheticMap& m, const std::vector<RGB>& pal, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(m.W);
  cinfo.image_height = static_cast<JDIMENSION>(m.H);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(m.W) * 3);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> grain(-4, 4); // scan grain
  for (int y = 0; y < m.H; ++y) {
    for (int x = 0; x < m.W; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * m.W + x;
      const RGB c = pal[m.index[i]];
      const int s = m.shade[i] + grain(rng);
      row[3 * x] = static_cast<unsigned char>(std::clamp(c.r + s, 0, 255));
      row[3 * x + 1] = static_cast<unsigned char>(std::clamp(c.g + s, 0, 255));
      row[3 * x + 2] = static_cast<unsigned char>(std::clamp(c.b + s, 0, 255));
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
}

void WriteMapFile(const std::string& path, const std::string& title, const std::string& image, int w, int h) {
  std::ofstream out(path, std::ios::binary);
  out << "OziExplorer Map Data File Version 2.2\r\n" << title << "\r\n" << image << "\r\n"
      << "1 ,Map Code,\r\nWGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\nReserved 1\r\nReserved 2\r\n"
      << "Magnetic Variation,,,E\r\nMap Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No\r\n"
      << "Point01,xy,    0,    0,in, deg,  49, 0.0000,N,  17, 0.0000,E, grid,   ,           ,           ,N\r\n"
      << "Point02,xy, " << w - 1 << ", " << h - 1
      << ",in, deg,  48, 0.0000,N,  19, 0.0000,E, grid,   ,           ,           ,N\r\n"
      << "IWH,Map Image Width/Height," << w << "," << h << "\r\n";
}

// ---- Measuring in children ----

struct Measure {
  double Load = 0, Export = 0, Wall = 0, Cpu = 0;
  long MaxRssKiB = 0;
  int Tiles = 0;
  bool Ok = false;
};

// Runs fn in a forked child; fn returns its timings, which come back through a pipe.
double CpuSeconds(const rusage& ru) {
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

template <class Fn> Measure InChild(Fn fn) {
  std::fflush(nullptr); // the child must not repeat what the parent buffered
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const auto t0 = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    Measure m;
    try {
      m = fn();
      m.Ok = true;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child failed: %s\n", e.what());
    }
    if (::write(fds[1], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) ::_exit(3);
    ::_exit(m.Ok ? 0 : 1);
  }
  ::close(fds[1]);
  Measure m;
  const ssize_t got = ::read(fds[0], &m, sizeof m);
  ::close(fds[0]);
  int status = 0;
  rusage ru{};
  ::wait4(pid, &status, 0, &ru);
  m.Wall = Seconds(t0, Clock::now());
  m.Cpu = CpuSeconds(ru);
  m.MaxRssKiB = ru.ru_maxrss;
  m.Ok = got == static_cast<ssize_t>(sizeof m) && m.Ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

Measure RunTool(const std::vector<std::string>& args, const std::string& stdoutFile = "/dev/null") {
  std::fflush(nullptr);
  const auto t0 = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::FILE* out = std::freopen(stdoutFile.c_str(), "wb", stdout);
    std::FILE* err = std::freopen("/dev/null", "wb", stderr);
    (void)out;
    (void)err;
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage ru{};
  ::wait4(pid, &status, 0, &ru);
  Measure m;
  m.Wall = Seconds(t0, Clock::now());
  m.Cpu = CpuSeconds(ru);
  m.MaxRssKiB = ru.ru_maxrss;
  m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

Measure ExportOnce(const std::string& mapFile, const std::string& outDir, const zv::TExportOptions& options) {
  fs::remove_all(outDir);
  fs::create_directories(outDir);
  return InChild([&] {
    Measure m;
    const auto t0 = Clock::now();
    zv::TDisplayMapsCore core;
    core.OpenFile(mapFile);
    const auto t1 = Clock::now();
    if (!core.ActiveMapArea()) throw std::runtime_error("map did not open");
    zv::TExportProgress progress;
    int tiles = 0;
    progress.ProcessMessages = [&] { ++tiles; };
    zv::ExportSingleMap(outDir, core.ActiveMapArea(), options, progress);
    const auto t2 = Clock::now();
    m.Load = Seconds(t0, t1);
    m.Export = Seconds(t1, t2);
    m.Tiles = tiles;
    return m;
  });
}

// Keeps the fastest run and the largest peak.
Measure Best(const std::vector<Measure>& runs) {
  Measure best = runs.front();
  for (const Measure& m : runs) {
    if (!m.Ok) return m;
    if (m.Wall < best.Wall) {
      const long rss = std::max(best.MaxRssKiB, m.MaxRssKiB);
      best = m;
      best.MaxRssKiB = rss;
    } else {
      best.MaxRssKiB = std::max(best.MaxRssKiB, m.MaxRssKiB);
    }
  }
  return best;
}

double MiB(long kib) { return kib / 1024.0; }

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

const char* Verdict(bool ok) { return ok ? "MET" : "MISSED"; }

// ---- The run ----

struct Options {
  std::string Dir;
  int W = 8000, H = 6000, Repeat = 3, Workers = 0;
  bool Keep = false;
};

// False after telling what is wrong with the command line.
bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc)
      o.Dir = argv[++i];
    else if (a == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &o.W, &o.H) != 2 || o.W < 400 || o.H < 400) {
        std::fprintf(stderr, "bad --size\n");
        return false;
      }
    } else if (a == "--repeat" && i + 1 < argc)
      o.Repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--workers" && i + 1 < argc)
      o.Workers = std::max(0, std::atoi(argv[++i]));
    else if (a == "--keep")
      o.Keep = true;
    else {
      std::fprintf(stderr, "usage: bench_export [--dir DIR] [--size WxH] [--repeat N] [--workers N] [--keep]\n");
      return false;
    }
  }
  return true;
}

// The two maps and their calibrations in dir. The pictures take a while to
// draw, so ones already there (from --dir with --keep) are used again.
struct Maps {
  std::string Jpg, JpgMap, Png, PngMap;
};

Maps PrepareMaps(const Options& o) {
  const Maps maps{o.Dir + "/colour.jpg", o.Dir + "/colour.map", o.Dir + "/palette.png", o.Dir + "/palette.map"};
  if (!fs::exists(maps.Jpg) || !fs::exists(maps.Png)) {
    std::printf("making a %d x %d map in %s ...\n", o.W, o.H, o.Dir.c_str());
    std::fflush(stdout);
    const SyntheticMap m = MakeMap(o.W, o.H);
    const std::vector<RGB> pal = MapPalette();
    WriteColourJpeg(m, pal, maps.Jpg);
    WritePalettePng(m, pal, maps.Png);
  }
  WriteMapFile(maps.JpgMap, "colour", "colour.jpg", o.W, o.H);
  WriteMapFile(maps.PngMap, "palette", "palette.png", o.W, o.H);
  return maps;
}

void PrintOurs(const Measure& m, double mp) {
  const double total = m.Load + m.Export;
  std::printf("  zovevod   load %6.3f s  export %6.3f s  total %6.3f s (cpu %6.3f s)  %3d tiles  %6.1f tiles/s  "
              "%6.1f MP/s  peak %7.1f MiB\n",
              m.Load, m.Export, total, m.Cpu, m.Tiles, m.Tiles / m.Export, mp / total, MiB(m.MaxRssKiB));
}

// Colour JPEG -> JPEG tiles against djpeg + cjpeg; returns the targets missed.
int BenchJpeg(const Options& o, const Maps& maps, const std::string& out, double mp) {
  int missed = 0;
  zv::TExportOptions options; // 400 x 400, JPEG, quality 85
  options.Workers = o.Workers;
  std::vector<Measure> ours, dj, cj;
  for (int r = 0; r < o.Repeat; ++r) ours.push_back(ExportOnce(maps.JpgMap, out, options));
  const Measure m = Best(ours);
  std::printf("colour JPEG -> 400x400 JPEG tiles, quality 85\n");
  if (!m.Ok) {
    std::printf("  zovevod: FAILED\n");
    return 1;
  }
  PrintOurs(m, mp);
  if (!HaveTool("djpeg") || !HaveTool("cjpeg")) {
    std::printf("  djpeg/cjpeg not installed (libjpeg-turbo-progs): no reference\n");
    return 0;
  }
  const double total = m.Load + m.Export;
  const std::string ppm = o.Dir + "/decoded.ppm", ref = o.Dir + "/ref.jpg";
  for (int r = 0; r < o.Repeat; ++r) {
    dj.push_back(RunTool({"djpeg", "-colors", "256", "-dither", "fs", "-outfile", ppm, maps.Jpg}));
    cj.push_back(RunTool({"cjpeg", "-quality", "85", "-optimize", "-outfile", ref, ppm}));
  }
  const Measure d = Best(dj), c = Best(cj);
  const double refTotal = d.Wall + c.Wall;
  std::printf("  djpeg -colors 256 -dither fs   %6.3f s (cpu %6.3f s)  peak %7.1f MiB\n", d.Wall, d.Cpu,
              MiB(d.MaxRssKiB));
  std::printf("  cjpeg -quality 85 -optimize    %6.3f s (cpu %6.3f s)  peak %7.1f MiB\n", c.Wall, c.Cpu,
              MiB(c.MaxRssKiB));
  std::printf("  reference total %6.3f s (%6.1f MP/s); cpu ratio %.2f\n", refTotal, mp / refTotal,
              m.Cpu / (d.Cpu + c.Cpu));
  const bool timeOk = total <= 1.25 * refTotal;
  const double memLimit = 1.15 * MiB(d.MaxRssKiB) + 40;
  const bool memOk = MiB(m.MaxRssKiB) <= memLimit;
  std::printf("  time  %.2f x reference (target <= 1.25): %s\n", total / refTotal, Verdict(timeOk));
  std::printf("  peak  %.1f MiB, limit 1.15 x djpeg peak + 40 MiB = %.1f MiB: %s\n", MiB(m.MaxRssKiB), memLimit,
              Verdict(memOk));
  missed += !timeOk + !memOk;
  fs::remove(ppm);
  fs::remove(ref);
  return missed;
}

// 8-bit palette PNG -> palette PNG tiles against vips dzsave; returns the targets missed.
int BenchPng(const Options& o, const Maps& maps, const std::string& out, double mp) {
  int missed = 0;
  zv::TExportOptions options;
  options.Format = zv::TTileFormat::Png;
  options.DepthRow = 6;
  options.Workers = o.Workers;
  std::vector<Measure> ours, vips;
  for (int r = 0; r < o.Repeat; ++r) ours.push_back(ExportOnce(maps.PngMap, out, options));
  const Measure m = Best(ours);
  std::printf("8-bit palette PNG -> 400x400 8-bit palette PNG tiles\n");
  if (!m.Ok) {
    std::printf("  zovevod: FAILED\n");
    return 1;
  }
  const double total = m.Load + m.Export;
  const double decodedMiB = static_cast<double>(o.W) * o.H / (1024.0 * 1024.0);
  PrintOurs(m, mp);
  const double memLimit = 1.3 * decodedMiB + 64;
  const bool memOk = MiB(m.MaxRssKiB) <= memLimit;
  std::printf("  peak  %.1f MiB, limit 1.3 x decoded picture (%.1f MiB) + 64 MiB = %.1f MiB: %s\n",
              MiB(m.MaxRssKiB), decodedMiB, memLimit, Verdict(memOk));
  missed += !memOk;
  if (!HaveTool("vips")) {
    std::printf("  vips not installed (libvips-tools): no reference\n");
    return missed;
  }
  const std::string vout = o.Dir + "/vips";
  for (int r = 0; r < o.Repeat; ++r) {
    fs::remove_all(vout + "_files");
    fs::remove(vout + ".dzi");
    vips.push_back(RunTool({"vips", "dzsave", maps.Png, vout, "--tile-size", "400", "--overlap", "0", "--depth",
                            "one", "--suffix", ".png[palette,compression=7]"}));
  }
  const Measure v = Best(vips);
  std::printf("  vips dzsave (palette, compression 7) %6.3f s (cpu %6.3f s)  peak %7.1f MiB%s; cpu ratio %.2f\n",
              v.Wall, v.Cpu, MiB(v.MaxRssKiB), v.Ok ? "" : "  (FAILED)", m.Cpu / v.Cpu);
  const bool timeOk = v.Ok && total <= 0.5 * v.Wall;
  std::printf("  time  %.2f x vips (target <= 0.5): %s\n", total / v.Wall, Verdict(timeOk));
  missed += !timeOk;
  fs::remove_all(vout + "_files");
  fs::remove(vout + ".dzi");
  return missed;
}

} // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) return 2;
  bool madeDir = false;
  if (o.Dir.empty()) {
    std::string tmpl = (fs::temp_directory_path() / "zv-bench-export-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return 1;
    o.Dir = tmpl;
    madeDir = true;
  }
  fs::create_directories(o.Dir);

  const Maps maps = PrepareMaps(o);
  const double mp = static_cast<double>(o.W) * o.H / 1e6;
  std::printf("map %d x %d (%.1f MP); colour.jpg %.1f MB, palette.png %.1f MB; best of %d runs; %u processors, "
              "workers %d\n\n",
              o.W, o.H, mp, fs::file_size(maps.Jpg) / 1e6, fs::file_size(maps.Png) / 1e6, o.Repeat,
              std::thread::hardware_concurrency(), o.Workers);

  const std::string out = o.Dir + "/out";
  int missed = BenchJpeg(o, maps, out, mp);
  std::printf("\n");
  missed += BenchPng(o, maps, out, mp);

  fs::remove_all(out);
  if (madeDir && !o.Keep) fs::remove_all(o.Dir);
  double load[3] = {0, 0, 0};
  if (::getloadavg(load, 3) > 0) std::printf("\nload average at the end: %.2f (other work skews wall times)", load[0]);
  std::printf("\n%s\n", missed ? "some targets MISSED" : "all targets met");
  return 0;
}
