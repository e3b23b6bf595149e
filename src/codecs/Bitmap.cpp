#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"

#include "base/Errors.h"

#include <algorithm>
#include <array>
#include <string>

namespace zv {

void CheckImageSize(std::int64_t width, std::int64_t height, PixelFormat format) {
  const auto refuse = [&] {
    throw Error("image too large: " + std::to_string(width) + " × " + std::to_string(height));
  };
  if (width < 0 || height < 0 || width > MaxImageSide || height > MaxImageSide) refuse();
  const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * static_cast<int>(format) + 31) / 32 * 4;
  if (rowBytes * static_cast<std::uint64_t>(height) > MaxImageBytes) refuse();
}

Bitmap::Bitmap(int width, int height, PixelFormat format) : width_(width), height_(height), format_(format) {
  CheckImageSize(width, height, format);
  stride_ = (static_cast<std::size_t>(width) * static_cast<int>(format) + 7) / 8;
  pixels_.assign(stride_ * static_cast<std::size_t>(height), 0);
}

std::uint8_t Bitmap::Index(int x, int y) const {
  const std::uint8_t* row = Row(y);
  switch (format_) {
  case PixelFormat::pf1bit: return (row[x >> 3] >> (7 - (x & 7))) & 1;
  case PixelFormat::pf4bit: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
  case PixelFormat::pf8bit: return row[x];
  case PixelFormat::pf24bit: return 0;
  }
  return 0;
}

Rgb Bitmap::Pixel(int x, int y) const {
  if (format_ == PixelFormat::pf24bit) {
    const std::uint8_t* p = Row(y) + 3 * static_cast<std::size_t>(x);
    return {p[0], p[1], p[2]};
  }
  const std::uint8_t i = Index(x, y);
  return i < palette_.size() ? palette_[i] : Rgb{};
}

void Bitmap::SetIndex(int x, int y, std::uint8_t index) {
  std::uint8_t* row = Row(y);
  switch (format_) {
  case PixelFormat::pf1bit: {
    const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = static_cast<std::uint8_t>((index & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit));
    break;
  }
  case PixelFormat::pf4bit:
    if (x & 1)
      row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0) | (index & 0x0F));
    else
      row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0F) | (index << 4));
    break;
  case PixelFormat::pf8bit: row[x] = index; break;
  case PixelFormat::pf24bit: break;
  }
}

void Bitmap::SetPixel(int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  if (format_ == PixelFormat::pf24bit) {
    std::uint8_t* p = Row(y) + 3 * static_cast<std::size_t>(x);
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
  } else {
    SetIndex(x, y, NearestPaletteIndex(palette_, colour));
  }
}

void Bitmap::Fill(Rgb colour) {
  if (Empty()) return;
  for (int x = 0; x < width_; ++x) SetPixel(x, 0, colour);
  for (int y = 1; y < height_; ++y) std::copy_n(Row(0), stride_, Row(y));
}

void Bitmap::CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h) {
  // Clip against the source, then against the destination.
  if (sx < 0) { dx -= sx; w += sx; sx = 0; }
  if (sy < 0) { dy -= sy; h += sy; sy = 0; }
  if (dx < 0) { sx -= dx; w += dx; dx = 0; }
  if (dy < 0) { sy -= dy; h += dy; dy = 0; }
  w = std::min({w, src.width_ - sx, width_ - dx});
  h = std::min({h, src.height_ - sy, height_ - dy});
  if (w <= 0 || h <= 0) return;

  if (format_ == PixelFormat::pf24bit) {
    if (src.format_ == PixelFormat::pf24bit) {
      for (int y = 0; y < h; ++y)
        std::copy_n(src.Row(sy + y) + 3 * static_cast<std::size_t>(sx), 3 * static_cast<std::size_t>(w),
                    Row(dy + y) + 3 * static_cast<std::size_t>(dx));
      return;
    }
    for (int y = 0; y < h; ++y) {
      std::uint8_t* d = Row(dy + y) + 3 * static_cast<std::size_t>(dx);
      for (int x = 0; x < w; ++x, d += 3) {
        const Rgb c = src.Pixel(sx + x, sy + y);
        d[0] = c.r;
        d[1] = c.g;
        d[2] = c.b;
      }
    }
    return;
  }

  if (src.format_ != PixelFormat::pf24bit) {
    // Indexed onto indexed: map each source entry once.
    std::array<std::uint8_t, 256> map{};
    for (std::size_t i = 0; i < 256; ++i)
      map[i] = NearestPaletteIndex(palette_, i < src.palette_.size() ? src.palette_[i] : Rgb{});
    if (format_ == PixelFormat::pf8bit && src.format_ == PixelFormat::pf8bit) {
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* s = src.Row(sy + y) + sx;
        std::uint8_t* d = Row(dy + y) + dx;
        for (int x = 0; x < w; ++x) d[x] = map[s[x]];
      }
      return;
    }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) SetIndex(dx + x, dy + y, map[src.Index(sx + x, sy + y)]);
    return;
  }

  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixel(dx + x, dy + y, src.Pixel(sx + x, sy + y));
}

std::uint8_t NearestPaletteIndex(const std::vector<Rgb>& palette, Rgb colour) {
  std::uint8_t best = 0;
  int bestDistance = 1 << 30;
  const std::size_t n = std::min<std::size_t>(palette.size(), 256);
  for (std::size_t i = 0; i < n; ++i) {
    const int dr = palette[i].r - colour.r, dg = palette[i].g - colour.g, db = palette[i].b - colour.b;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<std::uint8_t>(i);
      if (distance == 0) break;
    }
  }
  return best;
}

const std::vector<Rgb>& HalftonePalette() {
  static const std::vector<Rgb> palette = [] {
    std::vector<Rgb> p = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                          {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                          {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                          {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          p.push_back({static_cast<std::uint8_t>(51 * r), static_cast<std::uint8_t>(51 * g),
                       static_cast<std::uint8_t>(51 * b)});
    for (int i = 0; i < 24; ++i) {
      const auto v = static_cast<std::uint8_t>(8 + 10 * i);
      p.push_back({v, v, v});
    }
    return p;
  }();
  return palette;
}

void BitmapCanvas::CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h) {
  target_.CopyRect(dx, dy, src, sx, sy, w, h);
}

void BitmapCanvas::FrameRect(int left, int top, int right, int bottom, Rgb colour) {
  if (right <= left || bottom <= top) return;
  for (int x = left; x < right; ++x) {
    target_.SetPixel(x, top, colour);
    target_.SetPixel(x, bottom - 1, colour);
  }
  for (int y = top; y < bottom; ++y) {
    target_.SetPixel(left, y, colour);
    target_.SetPixel(right - 1, y, colour);
  }
}

void BitmapCanvas::SetPixel(int x, int y, Rgb colour) { target_.SetPixel(x, y, colour); }

void BitmapCanvas::Ellipse(int, int, int, int, Rgb, int) {}

void BitmapCanvas::TextOut(int, int, const std::string&, Rgb, int) {}

} // namespace zv
