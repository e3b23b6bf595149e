// Decoding a large colour map JPEG with the adapter's defaults against
// Debian's djpeg with the same quantiser settings on the same file.
//   bench_jpeg [width height]   (default 8000 x 6000)
#include "codecs/Jpeg.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Map-like content: flat land-use areas, a grid of contour lines and roads,
// rows of small letter-like strokes, and a little sensor noise.
zv::Bitmap MakeMap(int w, int h) {
  zv::Bitmap b(w, h, zv::PixelFormat::pf24bit);
  const zv::Rgb areas[] = {{246, 241, 226}, {206, 231, 184}, {170, 211, 223}, {236, 220, 200}, {225, 225, 225}};
  std::mt19937 rng(1);
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
        const bool ink = (gx == 1 || gx == 8) ? glyph != 2
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
  return b;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

int main(int argc, char** argv) {
  const int w = argc > 2 ? std::atoi(argv[1]) : 8000;
  const int h = argc > 2 ? std::atoi(argv[2]) : 6000;
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "zv_bench_map.jpg";

  {
    const auto t0 = Clock::now();
    const zv::Bitmap map = MakeMap(w, h);
    zv::SaveJpegTile(map, 85, file.string());
    std::printf("made %d x %d map JPEG, %.1f MB, in %.2f s\n", w, h,
                static_cast<double>(std::filesystem::file_size(file)) / 1e6, Seconds(Clock::now() - t0));
  }

  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> data(std::istreambuf_iterator<char>(in), {});

  double ours = 1e30, theirs = 1e30;
  std::size_t colours = 0;
  for (int run = 0; run < 3; ++run) {
    const auto t0 = Clock::now();
    zv::Bitmap bitmap;
    zv::DecodeJpeg(data.data(), data.size(), bitmap);
    ours = std::min(ours, Seconds(Clock::now() - t0));
    colours = bitmap.Palette().size();
  }
  const std::string cmd = "djpeg -colors 256 -dither fs -outfile /dev/null '" + file.string() + "'";
  for (int run = 0; run < 3; ++run) {
    const auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) {
      std::printf("djpeg failed or is not installed\n");
      theirs = 0;
      break;
    }
    theirs = std::min(theirs, Seconds(Clock::now() - t0));
  }
  std::printf("DecodeJpeg %.3f s (%zu colours)   djpeg -colors 256 -dither fs %.3f s   ratio %.3f\n", ours, colours,
              theirs, theirs > 0 ? ours / theirs : 0.0);
  std::filesystem::remove(file);
  return 0;
}
