// Zoom in the map view: a 1920 × 1080 view over a 900-megapixel 8-bit palette
// map (built in memory) and over a 200-megapixel map opened from a colour
// JPEG, as the program opens it. For every zoom command, from the map just
// opened: how long the command and the paints it causes hold the
// user-interface thread (longest single stretch), when the exact picture at
// the new factor is shown, counted from the command, and the processor time
// of the whole process meanwhile (the background threads included); then the
// median repaint while panning 25 pixels at a time at that factor, and the
// memory the zoom levels hold. Run under QT_QPA_PLATFORM=offscreen.
//
//   bench_zoom [--only 900|200] [--scale F] [--keep-jpeg PATH]
//   (F multiplies the map sides; the JPEG is written to PATH and kept)

#include "base/Messages.h"
#include "codecs/Bitmap.h"
#include "model/MapModel.h"
#include "model/ZoomLevels.h"
#include "view/DisplayMaps.h"

#include <QApplication>
#include <QElapsedTimer>

#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kViewWidth = 1920, kViewHeight = 1080;
constexpr int kPanFrames = 60;

double CpuMs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double RssMiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field)) / 1024.0;
  return 0;
}

// Map-like content: areas of a few colours with lines through them.
std::uint8_t MapIndex(int x, int y) {
  return static_cast<std::uint8_t>(((x / 97) ^ (y / 61)) * 13 + ((x + y) % 50 == 0 ? 128 : 0));
}

zv::Bitmap MakePaletteMap(int width, int height) {
  zv::Bitmap b(width, height, zv::PixelFormat::pf8bit);
  for (int i = 0; i < 256; ++i)
    b.Palette().push_back(
        zv::Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i)});
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = b.Row(y);
    for (int x = 0; x < width; ++x) row[x] = MapIndex(x, y);
  }
  return b;
}

void WriteColourJpeg(const std::string& path, int width, int height) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::exit(1);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int i = MapIndex(x, y);
      row[3 * x] = static_cast<JSAMPLE>(i);
      row[3 * x + 1] = static_cast<JSAMPLE>(120 + (x / 300 + y / 200) % 100);
      row[3 * x + 2] = static_cast<JSAMPLE>(255 - i);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Step {
  const char* name;
  int zoom; // 99: Fit to window
};

// Runs every zoom command in turn and prints one line each. Fresh: each
// command from 100 % on the map as just opened, with no level made yet.
void BenchZoom(zv::TDisplayMaps& view, zv::TMapArea* area, double rss0, bool fresh) {
  view.ShowMapArea(area);
  QCoreApplication::processEvents();
  std::printf(fresh ? "  each command from 100 %% on the map just opened (no level made yet):\n"
                    : "  the commands one after another:\n");
  std::printf("  %-8s %9s %8s %10s %9s %11s %9s %8s %10s %10s\n", "command", "UI max", "its CPU", "exact at", "CPU",
              "pan median", "pan CPU", "factor", "levels", "RSS+");
  const Step steps[] = {{"Fit", 99},  {"1/2", -1}, {"1/4", -2}, {"1/8", -3}, {"1/16", -4}, {"1/32", -5},
                        {"1/64", -6}, {"2", 1},    {"4", 2},    {"8", 3},    {"1", 0}};
  const double cx = kViewWidth / 2.0, cy = kViewHeight / 2.0;
  for (const Step& step : steps) {
    if (fresh) {
      if (step.zoom >= 0 && step.zoom != 99) continue;
      view.ActualSize();
      view.ShowMapArea(nullptr); // drops the levels made so far
      view.ShowMapArea(area);
      view.repaint();
      QCoreApplication::processEvents();
    }
    QElapsedTimer clock;
    const double cpu0 = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    clock.start();
    // The command and the paints it causes, as the event loop would run them.
    double uiMax = 0, uiMaxCpu = 0;
    QElapsedTimer stretch;
    stretch.start();
    double stretchCpu = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    if (step.zoom == 99)
      view.FitToWindow();
    else
      view.SetZoom(step.zoom, cx, cy);
    view.repaint();
    uiMax = static_cast<double>(stretch.nsecsElapsed()) / 1e6;
    uiMaxCpu = CpuMs(CLOCK_THREAD_CPUTIME_ID) - stretchCpu;
    // Then the event loop until the exact picture is shown.
    while (!view.PaintedExact() && clock.elapsed() < 60000) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      stretch.start();
      stretchCpu = CpuMs(CLOCK_THREAD_CPUTIME_ID);
      QCoreApplication::processEvents();
      if (static_cast<double>(stretch.nsecsElapsed()) / 1e6 > uiMax) {
        uiMax = static_cast<double>(stretch.nsecsElapsed()) / 1e6;
        uiMaxCpu = CpuMs(CLOCK_THREAD_CPUTIME_ID) - stretchCpu;
      }
    }
    const double exactMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double cpuMs = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;

    // Panning at this factor once the level has been shown.
    std::vector<double> pan, panCpu;
    const int x0 = view.OffsetX(), y0 = view.OffsetY();
    for (int i = 0; i < kPanFrames; ++i) {
      view.SetOffsetX(x0 + 25 * ((i % 20) - 10));
      view.SetOffsetY(y0 + 25 * (i % 7));
      const double c0 = CpuMs(CLOCK_THREAD_CPUTIME_ID);
      QElapsedTimer t;
      t.start();
      view.repaint();
      pan.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
      panCpu.push_back(CpuMs(CLOCK_THREAD_CPUTIME_ID) - c0);
    }
    view.SetOffsetX(x0);
    view.SetOffsetY(y0);
    const double levels = view.ZoomLevels() ? static_cast<double>(view.ZoomLevels()->Bytes()) / (1 << 20) : 0.0;
    std::printf("  %-8s %6.1f ms %5.1f ms %7.0f ms %6.0f ms %8.2f ms %6.2f ms %8s %6.1f MiB %6.1f MiB\n", step.name,
                uiMax, uiMaxCpu, exactMs, cpuMs, Median(pan), Median(panCpu), zv::msg::ZoomFactor(view.Zoom()).c_str(),
                levels, RssMiB("VmRSS:") - rss0);
  }
}

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::string only, keptJpeg;
  double scale = 1.0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    if (std::strcmp(argv[i], "--scale") == 0) scale = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--keep-jpeg") == 0) keptJpeg = argv[i + 1];
  }
  std::printf(
      "%d x %d view, platform %s, %u processors. UI max: the longest stretch the user-interface thread\n"
      "was busy from the command until the exact picture showed, and its own processor time; exact at: wall time\n"
      "from the command; "
      "CPU: processor time of the whole process meanwhile; pan: median repaint (and its thread's CPU time)\n"
      "panning 25 px at a time; levels: bytes the zoom levels hold; RSS+: resident memory over the map's.\n",
      kViewWidth, kViewHeight, qPrintable(QGuiApplication::platformName()), std::thread::hardware_concurrency());

  if (only.empty() || only == "900") {
    const int w = static_cast<int>(34641 * scale), h = static_cast<int>(25981 * scale);
    zv::TDisplayMaps view(nullptr);
    view.resize(kViewWidth, kViewHeight);
    view.show();
    QCoreApplication::processEvents();
    zv::TMapLayout* layout = view.Layouts->AddLayout("L");
    zv::TMapArea* area = layout->Areas->Add(std::make_unique<zv::TMapArea>(&view, layout));
    auto image = std::make_unique<zv::TMapImage>(&view, area);
    image->Bitmap = MakePaletteMap(w, h);
    area->Width = w;
    area->Height = h;
    area->Images.push_back(std::move(image));
    const double rss0 = RssMiB("VmRSS:");
    std::printf(
        "\n%d x %d (%.0f MP) 8-bit palette map, %.0f MiB of pixels; targets: exact at <= 1500 ms, UI max <= 100 "
        "ms, pan <= 16 ms, levels <= %.0f MiB\n",
        w, h, double(w) * h / 1e6, double(w) * h / (1 << 20), 0.12 * w * h / (1 << 20) + 64);
    BenchZoom(view, area, rss0, true);
    BenchZoom(view, area, rss0, false);
  }
  if (only.empty() || only == "200") {
    const int w = static_cast<int>(16330 * scale), h = static_cast<int>(12247 * scale);
    const std::string path = keptJpeg.empty() ? "/tmp/bench_zoom_200mp.jpg" : keptJpeg;
    WriteColourJpeg(path, w, h);
    zv::TDisplayMaps view(nullptr);
    view.resize(kViewWidth, kViewHeight);
    view.show();
    QCoreApplication::processEvents();
    QElapsedTimer open;
    const double cpu0 = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    open.start();
    view.OpenFile(path);
    const double openMs = static_cast<double>(open.nsecsElapsed()) / 1e6;
    const double openCpu = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    if (keptJpeg.empty()) std::remove(path.c_str());
    zv::TMapArea* area = view.ActiveMapArea();
    const zv::Bitmap& b = area->Images.front()->Bitmap;
    const double bytes = double(b.Stride()) * b.Height();
    std::printf("\n%d x %d (%.0f MP) colour JPEG map, opened in %.0f ms (CPU %.0f ms) as %d-bit, %.0f MiB of pixels;\n"
                "targets: exact at <= 400 ms, UI max <= 100 ms, pan <= 16 ms, levels <= %.0f MiB\n",
                w, h, double(w) * h / 1e6, openMs, openCpu, b.BitsPerPixel(), bytes / (1 << 20),
                0.12 * bytes / (1 << 20) + 64);
    const double rss0 = RssMiB("VmRSS:");
    BenchZoom(view, area, rss0, true);
    BenchZoom(view, area, rss0, false);
  }
  return 0;
}
