// The sheet frame search on a large scan: a 200-megapixel picture (8-bit
// indexed, as JPEG scans decode, or 24-bit) with a turned frame, an outer
// frame and grid lines. Prints the search's wall time and the memory it
// took beyond the picture (peak resident size after the search minus before).
// With "close", a grid line runs 3 reduced-picture cells inside the neat
// line's left and top sides, which the search must tell from it.
// Usage: bench_frame [megapixels] [24|8] [close]
#include "codecs/Bitmap.h"
#include "model/FrameFinder.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

double Wall() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

void Dark(zv::Bitmap& b, int x, int y) {
  if (x < 0 || y < 0 || x >= b.Width() || y >= b.Height()) return;
  if (b.Format() == zv::PixelFormat::pf24bit)
    std::memset(b.Row(y) + 3 * static_cast<std::size_t>(x), 20, 3);
  else
    b.Row(y)[x] = 20;
}

// A straight line of the given thickness, nearly horizontal or vertical.
void Line(zv::Bitmap& b, double x0, double y0, double x1, double y1, int thick) {
  const bool across = std::fabs(x1 - x0) > std::fabs(y1 - y0);
  const double len = across ? x1 - x0 : y1 - y0;
  for (int t = 0; t <= static_cast<int>(std::fabs(len)); ++t) {
    const double f = t / std::fabs(len);
    const double x = x0 + f * (x1 - x0), y = y0 + f * (y1 - y0);
    for (int k = -thick / 2; k <= thick / 2; ++k)
      Dark(b, static_cast<int>(std::lround(across ? x : x + k)), static_cast<int>(std::lround(across ? y + k : y)));
  }
}

} // namespace

int main(int argc, char** argv) {
  const double megapixels = argc > 1 ? std::atof(argv[1]) : 200;
  const bool rgb = argc > 2 && std::string(argv[2]) == "24";
  const int w = static_cast<int>(std::sqrt(megapixels * 1e6 * 4 / 3)), h = w * 3 / 4;
  zv::Bitmap picture(w, h, rgb ? zv::PixelFormat::pf24bit : zv::PixelFormat::pf8bit);
  if (!rgb) {
    picture.Palette().resize(256);
    for (int i = 0; i < 256; ++i)
      picture.Palette()[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i)};
  }
  for (int y = 0; y < h; ++y) std::memset(picture.Row(y), 235, picture.Stride());
  const double s = std::sin(1.5 * M_PI / 180), c = std::cos(1.5 * M_PI / 180);
  const auto at = [&](double x, double y, double& ox, double& oy) {
    ox = w / 2.0 + c * (x - w / 2.0) - s * (y - h / 2.0);
    oy = h / 2.0 + s * (x - w / 2.0) + c * (y - h / 2.0);
  };
  const double m = 0.08;
  const double box[4][2] = {{m * w, m * h}, {(1 - m) * w, m * h}, {(1 - m) * w, (1 - m) * h}, {m * w, (1 - m) * h}};
  double corners[4][2];
  for (int i = 0; i < 4; ++i) at(box[i][0], box[i][1], corners[i][0], corners[i][1]);
  for (int i = 0; i < 4; ++i) Line(picture, corners[i][0], corners[i][1], corners[(i + 1) % 4][0], corners[(i + 1) % 4][1], 5);
  for (double gx = m * w + 500; gx < (1 - m) * w; gx += 1000) {
    double ax, ay, bx, by;
    at(gx, m * h, ax, ay);
    at(gx, (1 - m) * h, bx, by);
    Line(picture, ax, ay, bx, by, 3);
  }
  if (argc > 3 && std::string(argv[3]) == "close") {
    // The search reduces the longer side to 2400 cells.
    const double cell = std::ceil(w / 2400.0) * 3;
    double ax, ay, bx, by;
    at(box[0][0] + cell, box[0][1], ax, ay);
    at(box[3][0] + cell, box[3][1], bx, by);
    Line(picture, ax, ay, bx, by, 3);
    at(box[0][0], box[0][1] + cell, ax, ay);
    at(box[1][0], box[1][1] + cell, bx, by);
    Line(picture, ax, ay, bx, by, 3);
  }
  const long before = PeakKiB();
  const double t0 = Wall();
  const zv::TFrameSearch found = zv::FindSheetFrame(picture);
  const double t1 = Wall();
  const long after = PeakKiB();
  std::printf("%d x %d (%.0f MP, %s): %.3f s, %.1f MiB beyond the picture; found %d, confidence %.2f\n", w, h,
              w * static_cast<double>(h) / 1e6, rgb ? "24-bit" : "8-bit", t1 - t0, (after - before) / 1024.0,
              found.Found, found.Confidence);
  for (int i = 0; i < 4; ++i)
    std::printf("  corner %d: found %.2f %.2f, drawn %.2f %.2f\n", i, found.Corners[i].X, found.Corners[i].Y,
                corners[i][0], corners[i][1]);
  return found.Found ? 0 : 1;
}
