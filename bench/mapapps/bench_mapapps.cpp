// A layout of UTM sheets with collars to MBTiles (JPEG tiles, six zoom
// levels) by zovevod-export, next to the references run in the same program:
//   gdal2tiles.py --xyz -r average --processes=N (its folder of tiles)
//   gdal_translate -of MBTILES + gdaladdo -r average
// Each run is a child process: wall time and its peak resident memory
// (ru_maxrss of the child) are printed, the ratios the export is held to,
// and its peak against the pictures as the converter holds them (8 bits a
// pixel for a JPEG scan) plus 64 MiB. Exits 1 when that bound is exceeded.
//
// Usage: bench_mapapps [--dir DIR] [--size WxH] [--sheets 1|2|4] [--issue]
//                      [--ours-only] [--keep]
//   default one 14142 x 14142 sheet (200 MP); --sheets 4 --size 7071x7071
//   gives the layout of four 50 MP sheets; --issue runs both, one after the
//   other. --ours-only leaves the references out (the memory check stays).

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <sqlite3.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct TRun {
  double Seconds = 0;
  double PeakMiB = 0;
  int Status = -1;
};

// Runs argv with its output to a log; its own time and peak memory.
TRun Run(const std::vector<std::string>& args, const std::string& log) {
  std::fflush(stdout); // the child must not print what is buffered again
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen(log.c_str(), "a", stdout) || !std::freopen(log.c_str(), "a", stderr)) ::_exit(126);
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  TRun r;
  r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.PeakMiB = usage.ru_maxrss / 1024.0;
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// A scan-like picture: smooth relief tints, contour-like bands, a grid and
// a white collar of 3 % around the neat line.
void WriteSheet(const std::string& path, int w, int h, int seed) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::exit(1);
  jpeg_compress_struct c{};
  jpeg_error_mgr e{};
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 85, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(w) * 3);
  const int mx = w * 3 / 100, my = h * 3 / 100;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      unsigned char* p = &row[static_cast<std::size_t>(x) * 3];
      if (x < mx || y < my || x >= w - mx || y >= h - my) {
        p[0] = p[1] = p[2] = 255;
        continue;
      }
      const double v = std::sin((x + seed * 997) * 0.0021) * std::cos(y * 0.0017) + std::sin((x + y) * 0.0007);
      const bool contour = std::fmod(std::abs(v * 40), 1.0) < 0.08, grid = x % 1000 < 3 || y % 1000 < 3;
      p[0] = grid ? 30 : contour ? 170 : static_cast<unsigned char>(200 + 25 * v);
      p[1] = grid ? 30 : contour ? 110 : static_cast<unsigned char>(210 - 30 * v);
      p[2] = grid ? 120 : contour ? 60 : static_cast<unsigned char>(150 - 40 * v);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

// UTM zone 33 north, 2.5 m pixels, sheets side by side (column, row) with
// their collars overlapping their neighbours'.
void WriteMap(const std::string& path, const std::string& image, int w, int h, int column, int row) {
  const double pixel = 2.5, mx = w * 0.03, my = h * 0.03;
  const double east0 = 500000 + column * (w - 2 * mx) * pixel - mx * pixel;
  const double north0 = 5400000 - row * (h - 2 * my) * pixel + my * pixel;
  std::ofstream out(path, std::ios::binary);
  out << "OziExplorer Map Data File Version 2.2\r\n" << image << "\r\n" << image << "\r\n1 ,Map Code,\r\n"
      << "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\nReserved 1\r\nReserved 2\r\nMagnetic Variation,,,E\r\n"
      << "Map Projection,(UTM) Universal Transverse Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No\r\n";
  const int xs[] = {0, w, 0, w}, ys[] = {0, 0, h, h};
  for (int i = 0; i < 4; ++i) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "Point%02d,xy,%6d,%6d,in, deg,    ,        ,N,    ,        ,E, grid, 33, %10.1f, %10.1f,N\r\n", i + 1,
                  xs[i], ys[i], east0 + xs[i] * pixel, north0 - ys[i] * pixel);
    out << line;
  }
  out << "Projection Setup,,,,,,,,,,\r\nMM0,Yes\r\nMMPNUM,4\r\n";
  const double bx[] = {mx, w - mx, w - mx, mx}, by[] = {my, my, h - my, h - my};
  for (int i = 0; i < 4; ++i) out << "MMPXY," << i + 1 << "," << int(bx[i]) << "," << int(by[i]) << "\r\n";
  out << "IWH,Map Image Width/Height," << w << "," << h << "\r\n";
}

int MaxZoom(const std::string& mbtiles) {
  sqlite3* db = nullptr;
  int zoom = -1;
  if (sqlite3_open_v2(mbtiles.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT value FROM metadata WHERE name = 'maxzoom'", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      zoom = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return zoom;
}

void Print(const char* what, const TRun& r, double ours = 0) {
  std::printf("%-48s %8.2f s  %8.1f MiB peak  exit %d", what, r.Seconds, r.PeakMiB, r.Status);
  if (ours > 0) std::printf("   zovevod / this = %.2f", ours / r.Seconds);
  std::printf("\n");
}

struct TCase {
  int Width = 14142, Height = 14142, Sheets = 1;
};

// The pictures as the converter loads them: a JPEG scan at 8 bits a pixel,
// rows padded to 4 bytes.
double PicturesMiB(const TCase& c) {
  return c.Sheets * double((c.Width + 3) / 4 * 4) * c.Height / (1 << 20);
}

std::vector<std::string> WriteSheets(const std::string& dir, const TCase& c) {
  std::vector<std::string> maps;
  for (int s = 0; s < c.Sheets; ++s) {
    const std::string name = "sheet" + std::to_string(s);
    WriteSheet(dir + "/" + name + ".jpg", c.Width, c.Height, s);
    WriteMap(dir + "/" + name + ".map", name + ".jpg", c.Width, c.Height, s % 2, s / 2);
    maps.push_back(dir + "/" + name + ".map");
  }
  return maps;
}

// The references read one raster in Web Mercator: each sheet warped (a VRT,
// made in no time), then one mosaic of them.
void RunReferences(const std::string& dir, const std::vector<std::string>& maps, const std::string& levels,
                   unsigned n, const TRun& z) {
  const std::string log = dir + "/log.txt";
  std::vector<std::string> warped, mosaic = {"gdalbuildvrt", "-q", dir + "/all.vrt"};
  for (std::size_t s = 0; s < maps.size(); ++s) {
    warped.push_back(dir + "/w" + std::to_string(s) + ".vrt");
    Run({"gdalwarp", "-q", "-of", "VRT", "-t_srs", "EPSG:3857", "-r", "bilinear", "-order", "1", "-dstalpha",
         maps[s], warped.back()},
        log);
  }
  mosaic.insert(mosaic.end(), warped.begin(), warped.end());
  Run(mosaic, log);
  const TRun g2t = Run({"gdal2tiles.py", "-q", "--xyz", "-r", "average", "--processes=" + std::to_string(n), "-z",
                        levels, "-w", "none", dir + "/all.vrt", dir + "/gdal2tiles"},
                       log);
  Print("gdal2tiles.py --xyz -r average", g2t, z.Seconds);
  const TRun gt = Run({"gdal_translate", "-q", "-of", "MBTILES", "-co", "TILE_FORMAT=JPEG", "-co", "QUALITY=85", "-co",
                       "ZOOM_LEVEL_STRATEGY=UPPER", "-co", "RESAMPLING=BILINEAR", dir + "/all.vrt",
                       dir + "/gdal.mbtiles"},
                      log);
  const TRun ga = Run({"gdaladdo", "-q", "-r", "average", dir + "/gdal.mbtiles", "2", "4", "8", "16", "32"}, log);
  TRun both = gt;
  both.Seconds += ga.Seconds;
  both.PeakMiB = std::max(gt.PeakMiB, ga.PeakMiB);
  both.Status = gt.Status ? gt.Status : ga.Status;
  Print("gdal_translate -of MBTILES + gdaladdo -r average", both, z.Seconds);
  std::printf("targets: zovevod / gdal2tiles <= 0.3 (%s), zovevod / GDAL MBTiles <= 0.6 (%s)\n",
              z.Seconds <= 0.3 * g2t.Seconds ? "met" : "MISSED", z.Seconds <= 0.6 * both.Seconds ? "met" : "MISSED");
}

// One layout: ours, the memory check, then the references. True when the
// peak stayed within the pictures + 64 MiB.
bool RunCase(const std::string& dir, const TCase& c, bool references) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::vector<std::string> maps = WriteSheets(dir, c);
  const unsigned n = std::max(1u, std::thread::hardware_concurrency());
  std::printf("%d sheet(s) of %d x %d (%.0f MP in all), %u processors\n", c.Sheets, c.Width, c.Height,
              c.Sheets * double(c.Width) * c.Height / 1e6, n);
  std::vector<std::string> ours = {ZOVEVOD_EXPORT_BIN, "-q", "--mbtiles", dir + "/ours.mbtiles"};
  ours.insert(ours.end(), maps.begin(), maps.end());
  const TRun z = Run(ours, dir + "/log.txt");
  const int maxZoom = MaxZoom(dir + "/ours.mbtiles");
  const std::string levels = std::to_string(maxZoom - 5) + "-" + std::to_string(maxZoom);
  std::printf("zoom levels %s\n", levels.c_str());
  Print("zovevod-export --mbtiles", z);
  const double bound = PicturesMiB(c) + 64;
  const bool within = z.Status == 0 && z.PeakMiB <= bound;
  std::printf("peak memory %.1f MiB, pictures %.1f MiB + 64 MiB = %.1f MiB: %s\n", z.PeakMiB, PicturesMiB(c), bound,
              within ? "within" : "EXCEEDED");
  if (references) RunReferences(dir, maps, levels, n, z);
  return within;
}

} // namespace

int main(int argc, char** argv) {
  std::string dir = (fs::temp_directory_path() / "zovevod-bench-mapapps").string();
  std::vector<TCase> cases(1);
  bool keep = false, references = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--size" && i + 1 < argc) std::sscanf(argv[++i], "%dx%d", &cases[0].Width, &cases[0].Height);
    else if (a == "--sheets" && i + 1 < argc) cases[0].Sheets = std::atoi(argv[++i]);
    else if (a == "--issue") cases = {{14142, 14142, 1}, {7071, 7071, 4}};
    else if (a == "--ours-only") references = false;
    else if (a == "--keep") keep = true;
    else {
      std::fprintf(stderr, "usage: bench_mapapps [--dir DIR] [--size WxH] [--sheets 1|2|4] [--issue] [--ours-only] "
                           "[--keep]\n");
      return 2;
    }
  }
  bool within = true;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string caseDir = dir + "/" + std::to_string(i + 1);
    within = RunCase(caseDir, cases[i], references) && within;
    if (!keep) fs::remove_all(caseDir);
  }
  if (!keep) fs::remove_all(dir);
  return within ? 0 : 1;
}
