// Decoding a large map PNG with DecodePng against a plain libpng read loop
// (png_read_row into one buffer, the transforms the file needs) on the same
// bytes in memory. Both an 8-bit palette file and an RGB file are timed.
//   bench_png [width height]   (default 8000 x 6000)
#include "codecs/Png.h"

#include <png.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void OnWrite(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void OnFlush(png_structp) {}

// Map-like content: flat areas split by contour lines and roads, with a
// little shading, so that it compresses like a scanned topographic map.
std::uint8_t Area(int x, int y) {
  const double h = std::sin(x * 0.0021) * 40 + std::cos(y * 0.0017) * 35 + std::sin((x + y) * 0.0043) * 20;
  const int band = static_cast<int>(h + 100) / 12;
  const bool contour = static_cast<int>(h * 4 + 400) % 48 == 0;
  const bool road = std::abs((x - 2 * y / 3) % 700) < 3 || std::abs((y + x / 5) % 900) < 2;
  if (road) return 1;
  if (contour) return 2;
  return static_cast<std::uint8_t>(8 + band % 24 * 10 + ((x * 7 + y * 13) % 97 == 0 ? 3 : 0));
}

Bytes MakePng(int width, int height, bool palette) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "libpng write failed\n");
    std::exit(1);
  }
  png_set_write_fn(png, &out, OnWrite, OnFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> plte(256);
  for (int i = 0; i < 256; ++i)
    plte[static_cast<std::size_t>(i)] = {static_cast<png_byte>(255 - i / 2), static_cast<png_byte>(200 + i % 56),
                                         static_cast<png_byte>(i)};
  if (palette) png_set_PLTE(png, info, plte.data(), 256);
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<std::size_t>(width) * (palette ? 1 : 3));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t a = Area(x, y);
      if (palette) {
        row[static_cast<std::size_t>(x)] = a;
      } else {
        const int shade = (x * 3 + y * 5) % 17;
        row[3 * static_cast<std::size_t>(x)] = static_cast<png_byte>(plte[a].red - shade);
        row[3 * static_cast<std::size_t>(x) + 1] = static_cast<png_byte>(plte[a].green - shade);
        row[3 * static_cast<std::size_t>(x) + 2] = plte[a].blue;
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct Source {
  const Bytes* data;
  std::size_t pos;
};

void OnRead(png_structp png, png_bytep out, png_size_t n) {
  auto* s = static_cast<Source*>(png_get_io_ptr(png));
  if (n > s->data->size() - s->pos) png_error(png, "Read Error");
  std::memcpy(out, s->data->data() + s->pos, n);
  s->pos += n;
}

// libpng alone, no transforms (8-bit palette and RGB files need none for the
// bitmap formats they decode to): every row into one row buffer, or, with
// wholeImage, into a freshly allocated raster as any decoder must.
void PlainLibpng(const Bytes& file, bool wholeImage) {
  Source src{&file, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "libpng read failed\n");
    std::exit(1);
  }
  png_set_read_fn(png, &src, OnRead);
  png_read_info(png, info);
  png_read_update_info(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  std::unique_ptr<png_byte[]> image(new png_byte[wholeImage ? rowBytes * height : rowBytes]);
  for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, image.get() + (wholeImage ? y * rowBytes : 0), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
}

double BestOf3(const std::function<void()>& run) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

} // namespace

int main(int argc, char** argv) {
  const int width = argc > 2 ? std::atoi(argv[1]) : 8000;
  const int height = argc > 2 ? std::atoi(argv[2]) : 6000;
  std::printf("%-14s %6s %12s %14s %7s %14s %7s %12s\n", "file", "MB", "DecodePng s", "libpng rows s", "ratio",
              "libpng image s", "ratio", "Bitmap new s");
  for (const bool palette : {true, false}) {
    const Bytes file = MakePng(width, height, palette);
    const double ours = BestOf3([&] {
      zv::Bitmap bmp;
      zv::DecodePng(file.data(), file.size(), bmp);
    });
    const double rows = BestOf3([&] { PlainLibpng(file, false); });
    const double image = BestOf3([&] { PlainLibpng(file, true); });
    // The raster's own cost: allocating and clearing it, which the row loop never pays.
    const double raster = BestOf3([&] {
      const zv::Bitmap bmp(width, height, palette ? zv::PixelFormat::pf8bit : zv::PixelFormat::pf24bit);
    });
    std::printf("%-14s %6.1f %12.3f %14.3f %7.3f %14.3f %7.3f %12.3f\n", palette ? "palette 8-bit" : "RGB 8-bit",
                file.size() / 1e6, ours, rows, ours / rows, image, ours / image, raster);
  }
  return 0;
}
