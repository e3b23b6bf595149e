#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"

#include "base/Errors.h"
#include "base/Memory.h"
#include "base/Messages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace zv {

namespace {

std::uint64_t RowBytes(std::uint64_t width, PixelFormat format) {
  return (width * static_cast<unsigned>(format) + 7) / 8;
}

// Largest index a format can hold, plus one.
std::size_t IndexRange(PixelFormat format) {
  return format == PixelFormat::pf24bit ? 0 : std::size_t{1} << static_cast<unsigned>(format);
}

// Nearest of the first n entries by squared RGB distance; the lower index wins a tie.
std::uint8_t Nearest(const Rgb* palette, std::size_t n, Rgb colour) {
  std::uint8_t best = 0;
  int bestDistance = 1 << 30;
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

// The entries an indexed destination may use: its table, cut to what its bits can address.
std::size_t UsableEntries(const Bitmap& b) { return std::min(b.Palette().size(), IndexRange(b.Format())); }

// Colour of every index a source may hold; indices past the table are black, as Pixel() says.
std::array<Rgb, 256> ColourTable(const Bitmap& b) {
  std::array<Rgb, 256> table{};
  const std::size_t n = std::min<std::size_t>(b.Palette().size(), 256);
  std::copy_n(b.Palette().begin(), n, table.begin());
  return table;
}

// Indices of n pixels of an indexed row, starting at pixel x; whole bytes at
// a time once x reaches a byte boundary.
void UnpackIndices(const std::uint8_t* row, PixelFormat format, int x, int n, std::uint8_t* out) {
  int i = 0;
  switch (format) {
  case PixelFormat::pf8bit: std::memcpy(out, row + x, static_cast<std::size_t>(n)); break;
  case PixelFormat::pf4bit: {
    if ((x & 1) && n > 0) {
      out[i++] = row[x >> 1] & 0x0F;
      ++x;
    }
    const std::uint8_t* p = row + (x >> 1);
    for (; i + 1 < n; i += 2, ++p) {
      out[i] = *p >> 4;
      out[i + 1] = *p & 0x0F;
    }
    if (i < n) out[i] = *p >> 4;
    break;
  }
  case PixelFormat::pf1bit: {
    for (; i < n && (x & 7); ++i, ++x) out[i] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    const std::uint8_t* p = row + (x >> 3);
    for (; i + 8 <= n; i += 8, ++p)
      for (int b = 0; b < 8; ++b) out[i + b] = (*p >> (7 - b)) & 1;
    for (int b = 0; i < n; ++i, ++b) out[i] = (*p >> (7 - b)) & 1;
    break;
  }
  case PixelFormat::pf24bit: assert(false); break;
  }
}

// Stores n indices into an indexed row from pixel x on, leaving the other
// pixels of shared bytes alone.
void PackIndices(std::uint8_t* row, PixelFormat format, int x, int n, const std::uint8_t* in) {
  int i = 0;
  switch (format) {
  case PixelFormat::pf8bit: std::memcpy(row + x, in, static_cast<std::size_t>(n)); break;
  case PixelFormat::pf4bit: {
    if ((x & 1) && n > 0) {
      row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0) | (in[0] & 0x0F));
      ++i;
      ++x;
    }
    std::uint8_t* p = row + (x >> 1);
    for (; i + 1 < n; i += 2, ++p) *p = static_cast<std::uint8_t>((in[i] << 4) | (in[i + 1] & 0x0F));
    if (i < n) *p = static_cast<std::uint8_t>((*p & 0x0F) | (in[i] << 4));
    break;
  }
  case PixelFormat::pf1bit: {
    const auto put = [&](int px, std::uint8_t v) {
      const auto bit = static_cast<std::uint8_t>(0x80 >> (px & 7));
      row[px >> 3] = static_cast<std::uint8_t>((v & 1) ? (row[px >> 3] | bit) : (row[px >> 3] & ~bit));
    };
    for (; i < n && (x & 7); ++i, ++x) put(x, in[i]);
    std::uint8_t* p = row + (x >> 3);
    for (; i + 8 <= n; i += 8, x += 8, ++p) {
      unsigned byte = 0;
      for (int b = 0; b < 8; ++b) byte = byte << 1 | (in[i + b] & 1u);
      *p = static_cast<std::uint8_t>(byte);
    }
    for (; i < n; ++i, ++x) put(x, in[i]);
    break;
  }
  case PixelFormat::pf24bit: assert(false); break;
  }
}

// Nearest-entry lookup for true-colour pixels. Maps repeat few colours, so a
// small direct-mapped cache saves the search for most pixels. A search looks
// only at the entries that can be nearest to some colour of the pixel's cell
// (RGB cut into 8 x 8 x 8 cubes): an entry whose distance to the cell exceeds
// the farthest distance of some other entry to anywhere in the cell can never
// win there. Candidates keep their order and win only on a smaller distance,
// so the result is the full scan's, ties included.
class NearestCache {
public:
  NearestCache(const Rgb* palette, std::size_t n)
      : palette_(palette), n_(n), keys_(Size, 0), values_(Size), counts_(Cells, Unbuilt),
        candidates_(new std::uint8_t[Cells * 256]) {}

  std::uint8_t operator()(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const std::uint32_t key = (std::uint32_t{r} << 16 | std::uint32_t{g} << 8 | b) + 1; // 0 marks a free slot
    const std::uint32_t slot = (key * 2654435761u) >> (32 - Bits);
    if (keys_[slot] != key) {
      keys_[slot] = key;
      values_[slot] = Search(r, g, b);
    }
    return values_[slot];
  }

private:
  static constexpr unsigned Bits = 14;
  static constexpr std::size_t Size = std::size_t{1} << Bits;
  static constexpr int CellShift = 5; // cells of 32 levels a side
  static constexpr std::size_t Cells = 512;
  static constexpr std::uint16_t Unbuilt = 0xFFFF;

  std::uint8_t Search(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const std::size_t cell = std::size_t{r} >> CellShift << 6 | std::size_t{g} >> CellShift << 3 | b >> CellShift;
    if (counts_[cell] == Unbuilt) Build(cell);
    const std::uint8_t* c = &candidates_[cell * 256];
    std::uint8_t best = c[0];
    int bestDistance = 1 << 30;
    for (std::size_t k = 0; k < counts_[cell]; ++k) {
      const Rgb& p = palette_[c[k]];
      const int dr = p.r - r, dg = p.g - g, db = p.b - b;
      const int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) {
        bestDistance = distance;
        best = c[k];
        if (distance == 0) break;
      }
    }
    return best;
  }

  void Build(std::size_t cell) {
    const int lo[3] = {static_cast<int>(cell >> 6 & 7) << CellShift, static_cast<int>(cell >> 3 & 7) << CellShift,
                       static_cast<int>(cell & 7) << CellShift};
    const auto distances = [&](const Rgb& p, int& nearest, int& farthest) {
      const int v[3] = {p.r, p.g, p.b};
      nearest = farthest = 0;
      for (int i = 0; i < 3; ++i) {
        const int hi = lo[i] + (1 << CellShift) - 1;
        const int below = lo[i] - v[i], above = v[i] - hi;
        const int outside = below > 0 ? below : above > 0 ? above : 0;
        const int far = std::max(v[i] - lo[i], hi - v[i]);
        nearest += outside * outside;
        farthest += far * far;
      }
    };
    int bound = 1 << 30;
    std::array<int, 256> nearest{};
    for (std::size_t i = 0; i < n_; ++i) {
      int farthest = 0;
      distances(palette_[i], nearest[i], farthest);
      bound = std::min(bound, farthest);
    }
    std::uint16_t count = 0;
    for (std::size_t i = 0; i < n_; ++i)
      if (nearest[i] <= bound) candidates_[cell * 256 + count++] = static_cast<std::uint8_t>(i);
    if (count == 0) candidates_[cell * 256] = 0; // an empty table: index 0, as the full scan gives
    counts_[cell] = count;
  }

  const Rgb* palette_;
  std::size_t n_;
  std::vector<std::uint32_t> keys_;
  std::vector<std::uint8_t> values_;
  std::vector<std::uint16_t> counts_;
  std::unique_ptr<std::uint8_t[]> candidates_; // per cell, up to 256 entries; only built cells are read
};

// A copy's rectangle once clipped: source corner, destination corner, size.
struct CopyArea {
  int sx = 0, sy = 0, dx = 0, dy = 0, w = 0, h = 0;
};

// Clips in 64 bits so that extreme rectangles cannot overflow: first against
// the source, then against the destination. False when nothing is left.
bool ClipCopy(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, std::int64_t cw, std::int64_t ch,
              const Bitmap& src, const Bitmap& dst, CopyArea& area) {
  if (x0 < 0) { x1 -= x0; cw += x0; x0 = 0; }
  if (y0 < 0) { y1 -= y0; ch += y0; y0 = 0; }
  if (x1 < 0) { x0 -= x1; cw += x1; x1 = 0; }
  if (y1 < 0) { y0 -= y1; ch += y1; y1 = 0; }
  cw = std::min<std::int64_t>({cw, src.Width() - x0, dst.Width() - x1});
  ch = std::min<std::int64_t>({ch, src.Height() - y0, dst.Height() - y1});
  if (cw <= 0 || ch <= 0) return false;
  area = {static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1),
          static_cast<int>(y1), static_cast<int>(cw), static_cast<int>(ch)};
  return true;
}

// Any source onto a 24-bit destination: rows copied as they are, or indices
// looked up in the source's table.
void CopyOntoRgb(Bitmap& dst, const Bitmap& src, const CopyArea& a) {
  const PixelFormat sf = src.Format();
  const std::size_t uw = static_cast<std::size_t>(a.w);
  if (sf == PixelFormat::pf24bit) {
    for (int y = 0; y < a.h; ++y)
      std::memcpy(dst.Row(a.dy + y) + 3 * std::size_t(a.dx), src.Row(a.sy + y) + 3 * std::size_t(a.sx), 3 * uw);
    return;
  }
  // Each entry as the three bytes of a pixel, padded to four for plain loads.
  std::array<std::array<std::uint8_t, 4>, 256> colours{};
  const std::array<Rgb, 256> table = ColourTable(src);
  for (std::size_t i = 0; i < 256; ++i) colours[i] = {table[i].r, table[i].g, table[i].b, 0};
  std::vector<std::uint8_t> indices(sf == PixelFormat::pf8bit ? 0 : uw);
  for (int y = 0; y < a.h; ++y) {
    const std::uint8_t* s = src.Row(a.sy + y) + a.sx;
    if (sf != PixelFormat::pf8bit) {
      UnpackIndices(src.Row(a.sy + y), sf, a.sx, a.w, indices.data());
      s = indices.data();
    }
    std::uint8_t* d = dst.Row(a.dy + y) + 3 * std::size_t(a.dx);
    for (std::size_t x = 0; x < uw; ++x, d += 3) std::memcpy(d, colours[s[x]].data(), 3);
  }
}

// A 24-bit source onto an indexed destination: each pixel takes the nearest
// entry the destination can address.
void CopyRgbOntoIndexed(Bitmap& dst, const Bitmap& src, const CopyArea& a) {
  const PixelFormat df = dst.Format();
  const std::size_t uw = static_cast<std::size_t>(a.w);
  std::vector<std::uint8_t> indices(uw);
  NearestCache nearest(dst.Palette().data(), UsableEntries(dst));
  for (int y = 0; y < a.h; ++y) {
    const std::uint8_t* s = src.Row(a.sy + y) + 3 * std::size_t(a.sx);
    if (df == PixelFormat::pf8bit) {
      std::uint8_t* d = dst.Row(a.dy + y) + a.dx;
      for (std::size_t x = 0; x < uw; ++x, s += 3) d[x] = nearest(s[0], s[1], s[2]);
    } else {
      for (std::size_t x = 0; x < uw; ++x, s += 3) indices[x] = nearest(s[0], s[1], s[2]);
      PackIndices(dst.Row(a.dy + y), df, a.dx, a.w, indices.data());
    }
  }
}

// Indexed onto indexed. The same format with the same table keeps the
// indices; otherwise every index the source can hold is mapped once.
void CopyIndexedOntoIndexed(Bitmap& dst, const Bitmap& src, const CopyArea& a) {
  const PixelFormat sf = src.Format(), df = dst.Format();
  const std::size_t uw = static_cast<std::size_t>(a.w);
  std::vector<std::uint8_t> indices(uw);
  if (sf == df && src.Palette() == dst.Palette()) {
    if (sf == PixelFormat::pf8bit) {
      for (int y = 0; y < a.h; ++y) std::memcpy(dst.Row(a.dy + y) + a.dx, src.Row(a.sy + y) + a.sx, uw);
      return;
    }
    for (int y = 0; y < a.h; ++y) {
      UnpackIndices(src.Row(a.sy + y), sf, a.sx, a.w, indices.data());
      PackIndices(dst.Row(a.dy + y), df, a.dx, a.w, indices.data());
    }
    return;
  }
  const std::array<Rgb, 256> colours = ColourTable(src);
  std::array<std::uint8_t, 256> map{};
  const std::size_t usable = UsableEntries(dst);
  for (std::size_t i = 0; i < IndexRange(sf); ++i) map[i] = Nearest(dst.Palette().data(), usable, colours[i]);
  for (int y = 0; y < a.h; ++y) {
    if (sf == PixelFormat::pf8bit && df == PixelFormat::pf8bit) {
      const std::uint8_t* s = src.Row(a.sy + y) + a.sx;
      std::uint8_t* d = dst.Row(a.dy + y) + a.dx;
      for (std::size_t x = 0; x < uw; ++x) d[x] = map[s[x]];
      continue;
    }
    UnpackIndices(src.Row(a.sy + y), sf, a.sx, a.w, indices.data());
    for (std::size_t x = 0; x < uw; ++x) indices[x] = map[indices[x]];
    PackIndices(dst.Row(a.dy + y), df, a.dx, a.w, indices.data());
  }
}

} // namespace

void CheckImageSize(std::int64_t width, std::int64_t height, PixelFormat format) {
  if (width < 0 || height < 0 || width > MaxImageSide || height > MaxImageSide ||
      RowBytes(static_cast<std::uint64_t>(width), format) * static_cast<std::uint64_t>(height) > MaxImageBytes)
    throw Error(msg::ImageTooLarge(width, height));
}

void CheckPictureFits(std::int64_t width, std::int64_t height, PixelFormat format, std::uint64_t workingBytes) {
  CheckImageSize(width, height, format);
  CheckMemoryAvailable(RowBytes(static_cast<std::uint64_t>(width), format) * static_cast<std::uint64_t>(height) +
                       workingBytes);
}

Bitmap::PixelBuffer::PixelBuffer(std::size_t size) : size_(size) {
  if (size == 0) return;
  auto* p = static_cast<std::uint8_t*>(std::calloc(size, 1));
  if (!p) throw std::bad_alloc();
  data_.reset(p, [](std::uint8_t* q) { std::free(q); });
}

void Bitmap::PixelBuffer::Unshare() {
  PixelBuffer own(size_);
  if (size_) std::memcpy(own.data_.get(), data_.get(), size_);
  *this = std::move(own);
}

Bitmap::Bitmap(int width, int height, PixelFormat format) : width_(width), height_(height), format_(format) {
  CheckImageSize(width, height, format);
  stride_ = static_cast<std::size_t>(RowBytes(static_cast<std::uint64_t>(width), format));
  pixels_ = PixelBuffer(stride_ * static_cast<std::size_t>(height));
}

std::uint8_t Bitmap::Index(int x, int y) const {
  assert(x >= 0 && y >= 0 && x < width_ && y < height_);
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
  assert(x >= 0 && y >= 0 && x < width_ && y < height_);
  if (format_ == PixelFormat::pf24bit) {
    const std::uint8_t* p = Row(y) + 3 * static_cast<std::size_t>(x);
    return {p[0], p[1], p[2]};
  }
  const std::uint8_t i = Index(x, y);
  return i < palette_.size() ? palette_[i] : Rgb{};
}

void Bitmap::SetIndex(int x, int y, std::uint8_t index) {
  assert(x >= 0 && y >= 0 && x < width_ && y < height_);
  if (format_ != PixelFormat::pf24bit) PackIndices(Row(y), format_, x, 1, &index);
}

void Bitmap::SetPixel(int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  if (format_ == PixelFormat::pf24bit) {
    std::uint8_t* p = Row(y) + 3 * static_cast<std::size_t>(x);
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
  } else {
    SetIndex(x, y, Nearest(palette_.data(), UsableEntries(*this), colour));
  }
}

void Bitmap::Fill(Rgb colour) {
  if (Empty()) return;
  if (format_ == PixelFormat::pf24bit) {
    for (int x = 0; x < width_; ++x) SetPixel(x, 0, colour);
    for (int y = 1; y < height_; ++y) std::memcpy(Row(y), Row(0), stride_);
    return;
  }
  // Every pixel of a byte gets the same index; padding bits past the width are don't-care.
  const std::uint8_t i = Nearest(palette_.data(), UsableEntries(*this), colour);
  const std::uint8_t byte = format_ == PixelFormat::pf8bit   ? i
                            : format_ == PixelFormat::pf4bit ? static_cast<std::uint8_t>(i << 4 | i)
                                                             : static_cast<std::uint8_t>(i ? 0xFF : 0x00);
  std::uint8_t* pixels = pixels_.MutableData();
  std::fill(pixels, pixels + pixels_.Size(), byte);
}

void Bitmap::CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h) {
  CopyArea a;
  if (!ClipCopy(sx, sy, dx, dy, w, h, src, *this, a)) return;
  if (&src == this) {
    // Overlapping copy within one bitmap: go through a copy of the source part.
    Bitmap part(a.w, a.h, format_);
    part.palette_ = palette_;
    part.CopyRect(0, 0, *this, a.sx, a.sy, a.w, a.h);
    CopyRect(a.dx, a.dy, part, 0, 0, a.w, a.h);
  } else if (format_ == PixelFormat::pf24bit) {
    CopyOntoRgb(*this, src, a);
  } else if (src.format_ == PixelFormat::pf24bit) {
    CopyRgbOntoIndexed(*this, src, a);
  } else {
    CopyIndexedOntoIndexed(*this, src, a);
  }
}

std::uint8_t NearestPaletteIndex(const std::vector<Rgb>& palette, Rgb colour) {
  return Nearest(palette.data(), std::min<std::size_t>(palette.size(), 256), colour);
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

Bitmap ScaledPart(const Bitmap& src, int sx, int sy, int w, int h, int zoom, int dx, int dy, int targetWidth,
                  int targetHeight, int* x, int* y) {
  *x = *y = 0;
  // The source rectangle cut to the bitmap, keeping its grid.
  const std::int64_t cx0 = std::max({sx, 0}), cy0 = std::max({sy, 0});
  const std::int64_t cx1 = std::min<std::int64_t>(std::int64_t{sx} + std::max(w, 0), src.Width());
  const std::int64_t cy1 = std::min<std::int64_t>(std::int64_t{sy} + std::max(h, 0), src.Height());
  if (cx0 >= cx1 || cy0 >= cy1 || zoom < -30 || zoom > 30) return Bitmap();
  // Target pixel t shows source pixel sx + (t - dx) / 2^zoom (zoom >= 0) or
  // sx + (t - dx) * 2^-zoom (zoom < 0); the target range of the cut rectangle:
  const std::int64_t f = std::int64_t{1} << std::abs(zoom);
  // (the first target pixel showing source column or row c, c >= s)
  auto target = [&](std::int64_t c, int s, int d) { return zoom >= 0 ? d + (c - s) * f : d + (c - s + f - 1) / f; };
  const std::int64_t tx0 = std::max<std::int64_t>(target(cx0, sx, dx), 0);
  const std::int64_t ty0 = std::max<std::int64_t>(target(cy0, sy, dy), 0);
  const std::int64_t tx1 = std::min<std::int64_t>(target(cx1, sx, dx), targetWidth);
  const std::int64_t ty1 = std::min<std::int64_t>(target(cy1, sy, dy), targetHeight);
  if (tx0 >= tx1 || ty0 >= ty1) return Bitmap();
  auto source = [&](std::int64_t t, int s, int d) {
    return static_cast<int>(zoom >= 0 ? s + (t - d) / f : s + (t - d) * f);
  };
  const int pw = static_cast<int>(tx1 - tx0), ph = static_cast<int>(ty1 - ty0);
  Bitmap part(pw, ph, PixelFormat::pf24bit);
  if (zoom >= 0) {
    // Each source row once as RGB, each pixel repeated; a row that repeats
    // the one above is copied.
    const int rx0 = source(tx0, sx, dx), rx1 = source(tx1 - 1, sx, dx) + 1;
    Bitmap row(rx1 - rx0, 1, PixelFormat::pf24bit);
    const std::int64_t firstOffset = tx0 - dx - std::int64_t{rx0 - sx} * f; // 0 .. f - 1
    int loaded = -1;
    for (int ty = 0; ty < ph; ++ty) {
      const int srcY = source(ty0 + ty, sy, dy);
      std::uint8_t* out = part.Row(ty);
      if (srcY == loaded) {
        std::memcpy(out, part.Row(ty - 1), 3 * std::size_t(pw));
        continue;
      }
      row.CopyRect(0, 0, src, rx0, srcY, rx1 - rx0, 1);
      loaded = srcY;
      const std::uint8_t* in = row.Row(0);
      for (std::int64_t tx = 0; tx < pw; ++tx) std::memcpy(out + 3 * tx, in + 3 * ((tx + firstOffset) >> zoom), 3);
    }
  } else {
    for (int ty = 0; ty < ph; ++ty) {
      const int srcY = source(ty0 + ty, sy, dy);
      std::uint8_t* out = part.Row(ty);
      for (int tx = 0; tx < pw; ++tx) {
        const Rgb c = src.Pixel(source(tx0 + tx, sx, dx), srcY);
        out[3 * tx] = c.r, out[3 * tx + 1] = c.g, out[3 * tx + 2] = c.b;
      }
    }
  }
  *x = static_cast<int>(tx0);
  *y = static_cast<int>(ty0);
  return part;
}

void BitmapCanvas::ScaledCopy(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h, int zoom) {
  if (zoom == 0) return CopyRect(dx, dy, src, sx, sy, w, h);
  int x = 0, y = 0;
  const Bitmap part = ScaledPart(src, sx, sy, w, h, zoom, dx, dy, target_.Width(), target_.Height(), &x, &y);
  if (!part.Empty()) target_.CopyRect(x, y, part, 0, 0, part.Width(), part.Height());
}

namespace {

std::int64_t FloorDivide(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

} // namespace

std::int64_t TSampling::Source(std::int64_t t, std::int64_t offset) const {
  return FloorDivide((t + offset) * StepNum, StepDen);
}

std::int64_t TSampling::FirstTarget(std::int64_t s, std::int64_t offset) const {
  // (t + offset) StepNum >= s StepDen, the least such t.
  return -FloorDivide(-(s * StepDen), StepNum) - offset;
}

bool SampledTargetRect(const TSampling& sampling, std::int64_t left, std::int64_t top, int w, int h,
                       int targetWidth, int targetHeight, int* x0, int* y0, int* x1, int* y1) {
  if (w <= 0 || h <= 0 || sampling.StepNum <= 0 || sampling.StepDen <= 0) return false;
  const std::int64_t l = std::max<std::int64_t>(sampling.FirstTarget(left, sampling.OffsetX), 0);
  const std::int64_t t = std::max<std::int64_t>(sampling.FirstTarget(top, sampling.OffsetY), 0);
  const std::int64_t r = std::min<std::int64_t>(sampling.FirstTarget(left + w, sampling.OffsetX), targetWidth);
  const std::int64_t b = std::min<std::int64_t>(sampling.FirstTarget(top + h, sampling.OffsetY), targetHeight);
  if (l >= r || t >= b) return false;
  *x0 = static_cast<int>(l), *y0 = static_cast<int>(t), *x1 = static_cast<int>(r), *y1 = static_cast<int>(b);
  return true;
}

Bitmap SampledPart(const Bitmap& src, std::int64_t left, std::int64_t top, const TSampling& sampling,
                   int targetWidth, int targetHeight, int* x, int* y) {
  *x = *y = 0;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  if (src.Empty() || !SampledTargetRect(sampling, left, top, src.Width(), src.Height(), targetWidth, targetHeight,
                                        &x0, &y0, &x1, &y1))
    return Bitmap();
  std::vector<int> columns(static_cast<std::size_t>(x1 - x0));
  for (int tx = x0; tx < x1; ++tx)
    columns[static_cast<std::size_t>(tx - x0)] = static_cast<int>(sampling.Source(tx, sampling.OffsetX) - left);
  Bitmap part(x1 - x0, y1 - y0, PixelFormat::pf24bit);
  for (int ty = y0; ty < y1; ++ty) {
    const int srcY = static_cast<int>(sampling.Source(ty, sampling.OffsetY) - top);
    std::uint8_t* out = part.Row(ty - y0);
    if (src.Format() == PixelFormat::pf24bit) {
      const std::uint8_t* in = src.Row(srcY);
      for (const int c : columns) std::memcpy(out, in + 3 * std::size_t(c), 3), out += 3;
      continue;
    }
    for (const int c : columns) {
      const Rgb colour = src.Pixel(c, srcY);
      out[0] = colour.r, out[1] = colour.g, out[2] = colour.b, out += 3;
    }
  }
  *x = x0;
  *y = y0;
  return part;
}

void BitmapCanvas::SampledCopy(const Bitmap& src, std::int64_t left, std::int64_t top, const TSampling& sampling) {
  int x = 0, y = 0;
  const Bitmap part = SampledPart(src, left, top, sampling, target_.Width(), target_.Height(), &x, &y);
  if (!part.Empty()) target_.CopyRect(x, y, part, 0, 0, part.Width(), part.Height());
}

void BitmapCanvas::FrameRect(int left, int top, int right, int bottom, Rgb colour) {
  if (right <= left || bottom <= top) return;
  // Only the visible part of each edge is walked; SetPixel drops the rest.
  const int x0 = std::max(left, 0), x1 = std::min(right, target_.Width());
  const int y0 = std::max(top, 0), y1 = std::min(bottom, target_.Height());
  for (int x = x0; x < x1; ++x) {
    target_.SetPixel(x, top, colour);
    target_.SetPixel(x, bottom - 1, colour);
  }
  for (int y = y0; y < y1; ++y) {
    target_.SetPixel(left, y, colour);
    target_.SetPixel(right - 1, y, colour);
  }
}

void BitmapCanvas::SetPixel(int x, int y, Rgb colour) { target_.SetPixel(x, y, colour); }

void BitmapCanvas::Ellipse(int left, int top, int right, int bottom, Rgb pen, int penWidth) {
  if (right <= left || bottom <= top) return;
  // The pixels whose centres lie inside the ellipse and outside the one
  // penWidth pixels smaller.
  const double a = (double(right) - left) / 2, b = (double(bottom) - top) / 2;
  const double cx = left + a, cy = top + b;
  const double ia = a - std::max(penWidth, 1), ib = b - std::max(penWidth, 1);
  const int x0 = std::max(left, 0), x1 = std::min(right, target_.Width());
  const int y0 = std::max(top, 0), y1 = std::min(bottom, target_.Height());
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      if ((dx * dx) / (a * a) + (dy * dy) / (b * b) > 1) continue;
      if (ia > 0 && ib > 0 && (dx * dx) / (ia * ia) + (dy * dy) / (ib * ib) <= 1) continue;
      target_.SetPixel(x, y, pen);
    }
}

namespace {

// Digits 3 dots wide and 5 high, a row a nibble (bit 2 the left dot), for
// the point numbers; other characters show as a frame of their cell.
constexpr std::uint8_t kDigitDots[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                            {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                            {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr std::uint8_t kCellDots[5] = {7, 5, 5, 5, 7};

} // namespace

void BitmapCanvas::TextOut(int x, int y, const std::string& text, Rgb colour, int pointSize) {
  // A dot is a square whose side follows the size: 3 pixels at 15 points.
  const int dot = std::clamp(pointSize / 5, 1, 64);
  for (const char c : text) {
    if (x >= target_.Width()) break; // the rest lies beyond the edge
    const std::uint8_t* rows = c >= '0' && c <= '9' ? kDigitDots[c - '0'] : kCellDots;
    if (c != ' ')
      for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 3; ++col)
          if (rows[row] & (4 >> col))
            for (int py = 0; py < dot; ++py)
              for (int px = 0; px < dot; ++px) target_.SetPixel(x + col * dot + px, y + row * dot + py, colour);
    x += 4 * dot;
  }
}

void BitmapCanvas::Polyline(const std::vector<TCanvasPoint>& points, Rgb colour, int) {
  const double w = target_.Width(), h = target_.Height();
  for (std::size_t i = 1; i < points.size(); ++i) {
    const TCanvasPoint a = points[i - 1], b = points[i];
    if (!std::isfinite(a.X) || !std::isfinite(a.Y) || !std::isfinite(b.X) || !std::isfinite(b.Y)) continue;
    // Segments wholly beside the bitmap cost nothing, however long.
    if ((a.X < 0 && b.X < 0) || (a.Y < 0 && b.Y < 0) || (a.X >= w && b.X >= w) || (a.Y >= h && b.Y >= h)) continue;
    const double steps = std::ceil(std::max(std::fabs(b.X - a.X), std::fabs(b.Y - a.Y)));
    if (!(steps < 1e6)) continue;
    for (double k = 0; k <= steps; ++k) {
      const double t = steps > 0 ? k / steps : 0;
      const double x = std::floor(a.X + (b.X - a.X) * t), y = std::floor(a.Y + (b.Y - a.Y) * t);
      if (x >= 0 && y >= 0 && x < w && y < h) target_.SetPixel(static_cast<int>(x), static_cast<int>(y), colour);
    }
  }
}

void BitmapCanvas::Label(double, double, TLabelAnchor, const std::string&, Rgb) {}

} // namespace zv
