// Repaint time of the map view: a 1920 × 1080 view over a 100-megapixel map
// (8-bit palette, then 24-bit), panned 25 pixels at a time, each repaint
// drawing the back buffer and copying it to the window. The reference is the
// same loop over a widget that only draws a 1920 × 1080 image already in the
// screen's format.

#include "codecs/Bitmap.h"
#include "model/MapModel.h"
#include "view/DisplayMaps.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kViewWidth = 1920, kViewHeight = 1080;
constexpr int kMapWidth = 10000, kMapHeight = 10000;
constexpr int kFrames = 300;

// Map-like content: areas of a few colours with lines through them.
zv::Bitmap MakeMap(zv::PixelFormat format) {
  zv::Bitmap b(kMapWidth, kMapHeight, format);
  if (format == zv::PixelFormat::pf8bit) {
    for (int i = 0; i < 256; ++i)
      b.Palette().push_back(zv::Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7),
                                    static_cast<std::uint8_t>(255 - i)});
    for (int y = 0; y < kMapHeight; ++y) {
      std::uint8_t* row = b.Row(y);
      for (int x = 0; x < kMapWidth; ++x)
        row[x] = static_cast<std::uint8_t>(((x / 97) ^ (y / 61)) * 13 + ((x + y) % 50 == 0 ? 128 : 0));
    }
  } else {
    for (int y = 0; y < kMapHeight; ++y) {
      std::uint8_t* row = b.Row(y);
      for (int x = 0; x < kMapWidth; ++x) {
        row[3 * x] = static_cast<std::uint8_t>(x / 97 * 29);
        row[3 * x + 1] = static_cast<std::uint8_t>(y / 61 * 17);
        row[3 * x + 2] = static_cast<std::uint8_t>((x + y) % 50 == 0 ? 0 : 200);
      }
    }
  }
  return b;
}

struct Figures {
  double median = 0, p90 = 0, cpu = 0;
};

// The machine may be shared: the time this thread itself ran tells the
// program's own cost apart from waiting for the processor.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Times repaint() after each step; step moves the picture for the next frame.
template <typename Step> Figures TimeRepaints(QWidget& widget, Step step) {
  std::vector<double> ms, cpu;
  QElapsedTimer timer;
  for (int i = 0; i < kFrames + 10; ++i) {
    step(i);
    const double cpu0 = ThreadCpuMs();
    timer.start();
    widget.repaint();
    const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (i >= 10) { // the first frames warm caches up
      ms.push_back(elapsed);
      cpu.push_back(ThreadCpuMs() - cpu0);
    }
  }
  std::sort(ms.begin(), ms.end());
  std::sort(cpu.begin(), cpu.end());
  return {ms[ms.size() / 2], ms[ms.size() * 9 / 10], cpu[cpu.size() / 2]};
}

// A UTM calibration of the map, 2 m a pixel, for the grid drawn over it.
void Calibrate(zv::TMapArea& area) {
  area.FileName = "bench.map";
  area.Lines = {"Map Data File", "bench", "bench.png", "1 ,Map Code,", "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84",
                "Reserved 1", "Reserved 2", "Magnetic Variation,,,E",
                "Map Projection,(UTM) Universal Transverse Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No"};
  const int corners[4][2] = {{0, 0}, {kMapWidth, 0}, {kMapWidth, kMapHeight}, {0, kMapHeight}};
  for (int i = 0; i < 4; ++i) {
    const int x = corners[i][0], y = corners[i][1];
    area.Lines.push_back("Point0" + std::to_string(i + 1) + ",xy," + std::to_string(x) + "," + std::to_string(y) +
                         ",in, deg, , ,N, , ,E, grid,33," + std::to_string(560000 + 2 * x) + "," +
                         std::to_string(5400000 - 2 * y) + ",N");
  }
  area.Lines.push_back("Projection Setup,,,,,,,,,,");
  area.ParseCalibration();
}

Figures BenchMap(zv::PixelFormat format, bool grid = false, zv::TZoomFactor zoom = {}) {
  zv::TDisplayMaps view(nullptr);
  view.resize(kViewWidth, kViewHeight);
  view.show();
  QCoreApplication::processEvents();
  zv::TMapLayout* layout = view.Layouts->AddLayout("L");
  zv::TMapArea* area = layout->Areas->Add(std::make_unique<zv::TMapArea>(&view, layout));
  auto image = std::make_unique<zv::TMapImage>(&view, area);
  image->Bitmap = MakeMap(format);
  area->Width = kMapWidth;
  area->Height = kMapHeight;
  area->Images.push_back(std::move(image));
  if (grid) Calibrate(*area);
  view.ShowMapArea(area);
  view.SetShowGrid(grid);
  if (!(zoom == zv::TZoomFactor{})) view.SetZoomFactor(zoom, 0, 0);
  const auto scaled = [&](int v) { return static_cast<std::int32_t>(zv::ScaleCoordinate(v, zoom)); };
  view.SetOffsetY(scaled(3000));
  QCoreApplication::processEvents();
  return TimeRepaints(view, [&](int i) {
    // Zoomed out, the picture is narrower: pan back and forth within it.
    view.SetOffsetX(scaled(1000) + 25 * (zoom == zv::TZoomFactor{} ? i : i % 40));
    view.SetOffsetY(scaled(3000) + 25 * (i % 7));
  });
}

// Draws one image already in the screen's format.
class Reference : public QWidget {
public:
  explicit Reference(QImage::Format format) : image_(kViewWidth, kViewHeight, format) { image_.fill(Qt::darkCyan); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawImage(0, 0, image_);
  }

private:
  QImage image_;
};

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The platform's own pixel layout, which a widget's window uses.
  const QImage::Format screenFormat = QPixmap(1, 1).toImage().format();

  Reference reference(screenFormat);
  reference.resize(kViewWidth, kViewHeight);
  reference.show();
  QCoreApplication::processEvents();
  const Figures ref = TimeRepaints(reference, [&](int) { reference.update(); });

  const Figures palette = BenchMap(zv::PixelFormat::pf8bit);
  const Figures rgb = BenchMap(zv::PixelFormat::pf24bit);
  const Figures paletteGrid = BenchMap(zv::PixelFormat::pf8bit, true);
  const zv::TZoomFactor quarter = zv::TZoomFactor::PowerOfTwo(-2);
  const Figures paletteQuarter = BenchMap(zv::PixelFormat::pf8bit, false, quarter);
  const Figures paletteQuarterGrid = BenchMap(zv::PixelFormat::pf8bit, true, quarter);
  // Factors that are no power of two (Fit to window): from the half level,
  // and from the picture itself.
  const Figures palette37 = BenchMap(zv::PixelFormat::pf8bit, false, {37, 100});
  const Figures rgb37 = BenchMap(zv::PixelFormat::pf24bit, false, {37, 100});
  const Figures palette74 = BenchMap(zv::PixelFormat::pf8bit, false, {37, 50});

  std::printf("platform %s, %d x %d view, %d frames panned by 25 px; repaint time, median\n"
              "(90th percentile) [median processor time of the painting thread]:\n",
              qPrintable(QGuiApplication::platformName()), kViewWidth, kViewHeight, kFrames);
  std::printf("  100 MP 8-bit palette map: %6.2f ms (%6.2f) [%5.2f]   target <= 8 ms\n", palette.median, palette.p90,
              palette.cpu);
  std::printf("  100 MP 24-bit map:        %6.2f ms (%6.2f) [%5.2f]   target <= 16 ms\n", rgb.median, rgb.p90, rgb.cpu);
  std::printf("  8-bit map with the grid shown (UTM 1:5,000):                 %6.2f ms (%6.2f) [%5.2f]   target <= "
              "2 ms more\n", paletteGrid.median, paletteGrid.p90, paletteGrid.cpu);
  std::printf("  8-bit map at 25 %%, without and with the grid: %6.2f ms (%6.2f) [%5.2f] and %6.2f ms (%6.2f) [%5.2f]\n",
              paletteQuarter.median, paletteQuarter.p90, paletteQuarter.cpu, paletteQuarterGrid.median,
              paletteQuarterGrid.p90, paletteQuarterGrid.cpu);
  std::printf("  8-bit map at 37 %% and at 74 %%, 24-bit map at 37 %%: %6.2f ms (%6.2f) [%5.2f], %6.2f ms (%6.2f) "
              "[%5.2f] and %6.2f ms (%6.2f) [%5.2f]   target <= 16 ms\n",
              palette37.median, palette37.p90, palette37.cpu, palette74.median, palette74.p90, palette74.cpu,
              rgb37.median, rgb37.p90, rgb37.cpu);
  std::printf("  reference, a %d x %d image in the screen's format (QImage format %d): %6.2f ms (%6.2f) [%5.2f]\n",
              kViewWidth, kViewHeight, int(screenFormat), ref.median, ref.p90, ref.cpu);
  return 0;
}
