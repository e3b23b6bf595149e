#include "codecs/Reduce.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace zv {

namespace {

// One output row of a halving: the rows top and, when twoRows, bottom (w
// pixels of packed RGB each) averaged in 2 x 2 blocks into out.
void HalveRows(const std::uint8_t* top, const std::uint8_t* bottom, bool twoRows, int w, std::uint8_t* out) {
  const int ow = (w + 1) / 2;
  const int full = w / 2; // blocks two pixels wide
  if (twoRows) {
    for (int ox = 0; ox < full; ++ox) {
      const std::uint8_t* a = top + 6 * ox;
      const std::uint8_t* b = bottom + 6 * ox;
      for (int c = 0; c < 3; ++c)
        out[3 * ox + c] = static_cast<std::uint8_t>((a[c] + a[c + 3] + b[c] + b[c + 3] + 2) >> 2);
    }
    if (full < ow) {
      const std::uint8_t* a = top + 6 * full;
      const std::uint8_t* b = bottom + 6 * full;
      for (int c = 0; c < 3; ++c) out[3 * full + c] = static_cast<std::uint8_t>((a[c] + b[c] + 1) >> 1);
    }
  } else {
    for (int ox = 0; ox < full; ++ox) {
      const std::uint8_t* a = top + 6 * ox;
      for (int c = 0; c < 3; ++c) out[3 * ox + c] = static_cast<std::uint8_t>((a[c] + a[c + 3] + 1) >> 1);
    }
    if (full < ow) {
      const std::uint8_t* a = top + 6 * full;
      for (int c = 0; c < 3; ++c) out[3 * full + c] = a[c];
    }
  }
}

// Halves a packed RGB buffer of w × h pixels in place (the result is packed at
// the start, ceil(w / 2) × ceil(h / 2)). In place works because every output
// row and pixel lies at or before the first input it reads.
void HalveInPlace(std::uint8_t* rgb, int& w, int& h) {
  const int ow = (w + 1) / 2;
  const int oh = (h + 1) / 2;
  const std::size_t inStride = static_cast<std::size_t>(w) * 3;
  const std::size_t outStride = static_cast<std::size_t>(ow) * 3;
  for (int oy = 0; oy < oh; ++oy) {
    const std::uint8_t* top = rgb + static_cast<std::size_t>(2 * oy) * inStride;
    const bool twoRows = 2 * oy + 1 < h;
    HalveRows(top, twoRows ? top + inStride : top, twoRows, w, rgb + static_cast<std::size_t>(oy) * outStride);
  }
  w = ow;
  h = oh;
}

// Pixels x0 .. x0 + w - 1 of row r of a band of any format as packed RGB.
void BandRowRgb(const Bitmap& band, int x0, int w, int r, std::uint8_t* dst) {
  if (band.Format() == PixelFormat::pf24bit) {
    std::copy_n(band.Row(r) + 3 * static_cast<std::size_t>(x0), static_cast<std::size_t>(w) * 3, dst);
  } else if (band.Format() == PixelFormat::pf8bit) {
    // Indices past the table are black, as Pixel() has them.
    std::array<Rgb, 256> table{};
    std::copy_n(band.Palette().begin(), std::min<std::size_t>(band.Palette().size(), 256), table.begin());
    const std::uint8_t* row = band.Row(r) + x0;
    for (int c = 0; c < w; ++c) {
      const Rgb p = table[row[c]];
      dst[3 * c] = p.r, dst[3 * c + 1] = p.g, dst[3 * c + 2] = p.b;
    }
  } else {
    for (int c = 0; c < w; ++c) {
      const Rgb p = band.Pixel(x0 + c, r);
      dst[3 * c] = p.r, dst[3 * c + 1] = p.g, dst[3 * c + 2] = p.b;
    }
  }
}

// The colours of an 8-bit table as three 10-bit lanes of one 32-bit word (red
// lowest), so that up to four colours add up lane by lane in one addition
// (4 x 255 + 2 < 1024); and the sum of every pair of indices, looked up by
// the two bytes as they lie in a row, in either order, as a sum does not
// care. Made once per thread and table: every tile of a map brings the same.
struct TIndexSums {
  std::vector<Rgb> Palette;
  std::array<std::uint32_t, 256> Colours{};
  std::vector<std::uint32_t> Pairs;

  static const TIndexSums& For(const std::vector<Rgb>& palette) {
    thread_local TIndexSums sums;
    if (sums.Pairs.empty() || sums.Palette != palette) {
      sums.Palette = palette;
      sums.Colours.fill(0); // indices past the table are black, as Pixel() has them
      for (std::size_t i = 0; i < std::min<std::size_t>(palette.size(), 256); ++i) {
        const Rgb c = palette[i];
        sums.Colours[i] = std::uint32_t{c.r} | std::uint32_t{c.g} << 10 | std::uint32_t{c.b} << 20;
      }
      sums.Pairs.resize(std::size_t{1} << 16);
      for (std::size_t i = 0; i < sums.Pairs.size(); ++i) sums.Pairs[i] = sums.Colours[i & 255] + sums.Colours[i >> 8];
    }
    return sums;
  }
};

// Halvings of an 8-bit band add up in the lane words: the rounding half is
// added to every lane, and after the shift the mask drops what came over from
// the next lane, leaving each channel's average in its lane's low 8 bits.
constexpr std::uint32_t kLaneMask = 0xFFu | 0xFFu << 10 | 0xFFu << 20;
constexpr std::uint32_t kLaneHalf1 = 1u | 1u << 10 | 1u << 20; // n / 2 in every lane, n = 2
constexpr std::uint32_t kLaneHalf2 = 2 * kLaneHalf1;             // n = 4

// The first halving of rows y0 .. y0 + h - 1, columns x0 .. x0 + w - 1, of an
// 8-bit bitmap, two pixels an index-sum lookup: store(i, word) takes output
// pixel i (row by row, ceil(w / 2) a row) as a lane word. w and h become the
// halved size.
template <typename Store> void HalveIndexedBand(const Bitmap& band, int x0, int y0, int& w, int& h, Store store) {
  const TIndexSums& sums = TIndexSums::For(band.Palette());
  const std::uint32_t* colours = sums.Colours.data();
  const std::uint32_t* pairs = sums.Pairs.data();
  const int ow = (w + 1) / 2, oh = (h + 1) / 2, full = w / 2;
  const auto pair = [](const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  };
  for (int oy = 0; oy < oh; ++oy) {
    const std::size_t i = static_cast<std::size_t>(oy) * ow;
    const std::uint8_t* top = band.Row(y0 + 2 * oy) + x0;
    if (2 * oy + 1 < h) {
      const std::uint8_t* bottom = band.Row(y0 + 2 * oy + 1) + x0;
      for (int ox = 0; ox < full; ++ox)
        store(i + ox, (pairs[pair(top + 2 * ox)] + pairs[pair(bottom + 2 * ox)] + kLaneHalf2) >> 2 & kLaneMask);
      if (full < ow)
        store(i + full, (colours[top[2 * full]] + colours[bottom[2 * full]] + kLaneHalf1) >> 1 & kLaneMask);
    } else {
      for (int ox = 0; ox < full; ++ox) store(i + ox, (pairs[pair(top + 2 * ox)] + kLaneHalf1) >> 1 & kLaneMask);
      if (full < ow) store(i + full, colours[top[2 * full]]);
    }
  }
  w = ow;
  h = oh;
}

// A lane word as the three bytes of a packed RGB pixel.
void PutRgb(std::uint8_t* out, std::uint32_t word) {
  out[0] = static_cast<std::uint8_t>(word);
  out[1] = static_cast<std::uint8_t>(word >> 10);
  out[2] = static_cast<std::uint8_t>(word >> 20);
}

// One halving of w x h lane words in place (the result packed at the start).
void HalveWordsInPlace(std::uint32_t* words, int& w, int& h) {
  const int ow = (w + 1) / 2, oh = (h + 1) / 2, full = w / 2;
  for (int oy = 0; oy < oh; ++oy) {
    const std::uint32_t* top = words + static_cast<std::size_t>(2 * oy) * w;
    std::uint32_t* out = words + static_cast<std::size_t>(oy) * ow;
    if (2 * oy + 1 < h) {
      const std::uint32_t* bottom = top + w;
      for (int ox = 0; ox < full; ++ox)
        out[ox] = (top[2 * ox] + top[2 * ox + 1] + bottom[2 * ox] + bottom[2 * ox + 1] + kLaneHalf2) >> 2 & kLaneMask;
      if (full < ow) out[full] = (top[2 * full] + bottom[2 * full] + kLaneHalf1) >> 1 & kLaneMask;
    } else {
      for (int ox = 0; ox < full; ++ox) out[ox] = (top[2 * ox] + top[2 * ox + 1] + kLaneHalf1) >> 1 & kLaneMask;
      if (full < ow) out[full] = top[2 * full];
    }
  }
  w = ow;
  h = oh;
}

// The first halving of a band, columns x0 .. x0 + w - 1 of rows y0 .. y0 +
// h - 1 of a bitmap (w and h given), read straight from its rows into packed
// RGB at work, which holds ceil(w / 2) x ceil(h / 2) pixels: the band is never
// copied whole. w and h become the halved size.
void HalveBand(const Bitmap& band, int x0, int y0, std::uint8_t* work, std::vector<std::uint8_t>& rows, int& w,
               int& h) {
  if (band.Format() == PixelFormat::pf8bit) {
    HalveIndexedBand(band, x0, y0, w, h, [work](std::size_t i, std::uint32_t word) { PutRgb(work + 3 * i, word); });
    return;
  }
  const int ow = (w + 1) / 2, oh = (h + 1) / 2;
  const std::size_t stride = static_cast<std::size_t>(w) * 3;
  const bool rgb = band.Format() == PixelFormat::pf24bit;
  if (!rgb) rows.resize(2 * stride);
  for (int oy = 0; oy < oh; ++oy) {
    const bool twoRows = 2 * oy + 1 < h;
    const std::uint8_t* top = nullptr;
    const std::uint8_t* bottom = nullptr;
    if (rgb) {
      top = band.Row(y0 + 2 * oy) + 3 * static_cast<std::size_t>(x0);
      bottom = twoRows ? band.Row(y0 + 2 * oy + 1) + 3 * static_cast<std::size_t>(x0) : top;
    } else {
      BandRowRgb(band, x0, w, y0 + 2 * oy, rows.data());
      if (twoRows) BandRowRgb(band, x0, w, y0 + 2 * oy + 1, rows.data() + stride);
      top = rows.data();
      bottom = twoRows ? rows.data() + stride : top;
    }
    HalveRows(top, bottom, twoRows, w, work + static_cast<std::size_t>(oy) * ow * 3);
  }
  w = ow;
  h = oh;
}

} // namespace

int ReducedSide(int size, int levels) {
  if (levels <= 0) return size;
  const std::int64_t step = std::int64_t{1} << levels;
  return static_cast<int>((size + step - 1) / step);
}

namespace {

// A requested rectangle of a reduced picture, clipped to it.
struct TClipped {
  int X0, Y0, X1, Y1;
  int Width() const { return X1 - X0; }
  int Height() const { return Y1 - Y0; }
};

TClipped ClipToReduced(int width, int height, int levels, int x, int y, int w, int h) {
  if (levels < 0 || levels > 30) throw std::invalid_argument("reduction level out of range");
  const int rw = ReducedSide(width, levels);
  const int rh = ReducedSide(height, levels);
  const int x0 = std::clamp(x, 0, rw), y0 = std::clamp(y, 0, rh);
  // In 64 bits: x + w of a region far out of range does not fit an int.
  const auto end = [](int from, int size, int low, int high) {
    const std::int64_t e = std::int64_t{from} + std::max(size, 0);
    return static_cast<int>(std::clamp<std::int64_t>(e, low, high));
  };
  return {x0, y0, end(x, w, x0, rw), end(y, h, y0, rh)};
}

// The clipped rectangle reduced into the top-left corner of result (24-bit,
// at least that large) from band(fx0, fy0, fw, fh, scratch, bx, by), which
// gives that rectangle of the picture as the one at (bx, by) of the bitmap
// it returns.
template <typename Band>
void RegionPass(Band band, int width, int height, int levels, const TClipped& region, Bitmap& result) {
  const int x0 = region.X0, y0 = region.Y0, x1 = region.X1, y1 = region.Y1;
  if (x1 <= x0 || y1 <= y0) return;

  // Full-picture columns and rows that the output rows cover.
  const std::int64_t step = std::int64_t{1} << levels;
  const int fx0 = static_cast<int>(x0 * step);
  const int fx1 = static_cast<int>(std::min<std::int64_t>(x1 * step, width));
  Bitmap scratch;
  std::vector<std::uint8_t> work, rows;
  std::vector<std::uint32_t> words;
  for (int oy = y0; oy < y1; ++oy) {
    const int fy0 = static_cast<int>(oy * step);
    const int fy1 = static_cast<int>(std::min<std::int64_t>((oy + 1) * step, height));
    int bx = 0, by = 0;
    const Bitmap& rowsOf = band(fx0, fy0, fx1 - fx0, fy1 - fy0, scratch, bx, by);
    int bw = fx1 - fx0, bh = fy1 - fy0;
    std::uint8_t* const out = result.Row(oy - y0);
    if (levels == 0) {
      // No halving: the band is the output row.
      BandRowRgb(rowsOf, bx, bw, by, out);
    } else if (levels == 1) {
      // One halving of two rows: straight into the output row.
      HalveBand(rowsOf, bx, by, out, rows, bw, bh);
    } else if (rowsOf.Format() == PixelFormat::pf8bit) {
      words.resize(static_cast<std::size_t>((bw + 1) / 2) * ((bh + 1) / 2));
      std::uint32_t* const lanes = words.data();
      HalveIndexedBand(rowsOf, bx, by, bw, bh, [lanes](std::size_t i, std::uint32_t word) { lanes[i] = word; });
      for (int l = 1; l < levels; ++l) HalveWordsInPlace(lanes, bw, bh);
      for (int i = 0; i < bw; ++i) PutRgb(out + 3 * i, lanes[i]);
    } else {
      work.resize(static_cast<std::size_t>((bw + 1) / 2) * ((bh + 1) / 2) * 3);
      HalveBand(rowsOf, bx, by, work.data(), rows, bw, bh);
      for (int l = 1; l < levels; ++l) HalveInPlace(work.data(), bw, bh);
      std::copy_n(work.data(), static_cast<std::size_t>(bw) * 3, out);
    }
  }
}

} // namespace

Bitmap ReduceRegion(const PictureSource& source, int width, int height, int levels, int x, int y, int w, int h) {
  auto band = [&](int fx, int fy, int fw, int fh, Bitmap& scratch, int& bx, int& by) -> const Bitmap& {
    if (scratch.Width() != fw || scratch.Height() != fh) scratch = Bitmap(fw, fh, PixelFormat::pf24bit);
    source(fx, fy, fw, fh, scratch);
    bx = by = 0;
    return scratch;
  };
  const TClipped region = ClipToReduced(width, height, levels, x, y, w, h);
  Bitmap result(region.Width(), region.Height(), PixelFormat::pf24bit);
  RegionPass(band, width, height, levels, region, result);
  return result;
}

namespace {

// The picture's own rows, read where they are.
auto InPlace(const Bitmap& picture) {
  return [&picture](int fx, int fy, int, int, Bitmap&, int& bx, int& by) -> const Bitmap& {
    bx = fx;
    by = fy;
    return picture;
  };
}

} // namespace

Bitmap ReduceRegion(const Bitmap& picture, int levels, int x, int y, int w, int h) {
  const TClipped region = ClipToReduced(picture.Width(), picture.Height(), levels, x, y, w, h);
  Bitmap result(region.Width(), region.Height(), PixelFormat::pf24bit);
  RegionPass(InPlace(picture), picture.Width(), picture.Height(), levels, region, result);
  return result;
}

void ReduceRegionInto(const Bitmap& picture, int levels, int x, int y, int w, int h, Bitmap& out) {
  const TClipped region = ClipToReduced(picture.Width(), picture.Height(), levels, x, y, w, h);
  if (out.Format() != PixelFormat::pf24bit || out.Width() < region.Width() || out.Height() < region.Height())
    throw std::invalid_argument("reduction target too small");
  RegionPass(InPlace(picture), picture.Width(), picture.Height(), levels, region, out);
}

Bitmap Reduce(const Bitmap& picture, int levels) {
  return ReduceRegion(picture, levels, 0, 0, ReducedSide(picture.Width(), levels),
                      ReducedSide(picture.Height(), levels));
}

namespace {

// The one pass of ReduceLevels: band(b, fy0, fy1, scratch) gives picture
// rows fy0 .. fy1 - 1 as rows (*y0) .. of the bitmap it returns.
template <typename Band>
std::vector<Bitmap> LevelsPass(Band band, int width, int height, int first, int last, int threads,
                               const std::atomic<bool>* cancel) {
  if (first < 1 || last < first || last > 30) throw std::invalid_argument("reduction levels out of range");
  std::vector<Bitmap> levels;
  // Rows of every level, taken before the threads start: they write
  // disjoint rows and never copy the bitmaps.
  std::vector<std::uint8_t*> base;
  std::vector<std::size_t> stride;
  for (int l = first; l <= last; ++l) {
    levels.emplace_back(ReducedSide(width, l), ReducedSide(height, l), PixelFormat::pf24bit);
    base.push_back(levels.back().Empty() ? nullptr : levels.back().Row(0));
    stride.push_back(levels.back().Stride());
  }
  if (levels.back().Empty()) return levels;

  // One band is 2^last picture rows: one row of the last level, and whole
  // rows of every finer one.
  const int bands = levels.back().Height();
  const std::int64_t bandRows = std::int64_t{1} << last;
  std::atomic<int> next{0};
  std::exception_ptr failure;
  std::mutex failureLock;
  auto work = [&] {
    Bitmap scratch;
    std::vector<std::uint8_t> rgb, rows;
    try {
      for (int b = next++; b < bands; b = next++) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return;
        const int fy0 = static_cast<int>(b * bandRows);
        const int fy1 = static_cast<int>(std::min<std::int64_t>(fy0 + bandRows, height));
        int y0 = 0;
        const Bitmap& rowsOf = band(fy0, fy1, scratch, y0);
        int bw = width, bh = fy1 - fy0;
        rgb.resize(static_cast<std::size_t>((bw + 1) / 2) * ((bh + 1) / 2) * 3);
        HalveBand(rowsOf, 0, y0, rgb.data(), rows, bw, bh);
        for (int l = 1; l <= last; ++l) {
          if (l > 1) HalveInPlace(rgb.data(), bw, bh);
          if (l < first) continue;
          const std::size_t i = static_cast<std::size_t>(l - first);
          // This band's first row in level l.
          const std::size_t row = static_cast<std::size_t>(b) << (last - l);
          for (int r = 0; r < bh; ++r)
            std::copy_n(rgb.data() + static_cast<std::size_t>(r) * bw * 3, static_cast<std::size_t>(bw) * 3,
                        base[i] + (row + static_cast<std::size_t>(r)) * stride[i]);
        }
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(failureLock);
      if (!failure) failure = std::current_exception();
      next = bands;
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < std::max(threads, 1); ++t) {
    // Fewer threads give the same levels: this one takes every band left.
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& t : helpers) t.join();
  if (failure) std::rethrow_exception(failure);
  return levels;
}

} // namespace

std::vector<Bitmap> ReduceLevels(const PictureSource& source, int width, int height, int first, int last, int threads,
                                 const std::atomic<bool>* cancel) {
  auto band = [&](int fy0, int fy1, Bitmap& scratch, int& y0) -> const Bitmap& {
    if (scratch.Width() != width || scratch.Height() != fy1 - fy0)
      scratch = Bitmap(width, fy1 - fy0, PixelFormat::pf24bit);
    source(0, fy0, width, fy1 - fy0, scratch);
    y0 = 0;
    return scratch;
  };
  return LevelsPass(band, width, height, first, last, threads, cancel);
}

std::vector<Bitmap> ReduceLevels(const Bitmap& picture, int first, int last, int threads,
                                 const std::atomic<bool>* cancel) {
  // The picture's own rows, read where they are.
  auto band = [&picture](int fy0, int, Bitmap&, int& y0) -> const Bitmap& {
    y0 = fy0;
    return picture;
  };
  return LevelsPass(band, picture.Width(), picture.Height(), first, last, threads, cancel);
}

} // namespace zv
