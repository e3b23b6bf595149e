#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"

#include "base/Errors.h"

#include <gtest/gtest.h>

#include <utility>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using zv::Bitmap;
using zv::PixelFormat;
using zv::Rgb;

namespace {

constexpr PixelFormat AllFormats[] = {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit,
                                      PixelFormat::pf24bit};

// Brute-force nearest entry, written independently of the library's search.
std::uint8_t SlowNearest(const std::vector<Rgb>& palette, Rgb c) {
  long best = LONG_MAX;
  int index = 0;
  for (int i = static_cast<int>(palette.size()) - 1; i >= 0; --i) {
    const long dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
    const long d = dr * dr + dg * dg + db * db;
    if (d <= best) { // walking down, so an equal distance moves to the lower index
      best = d;
      index = i;
    }
  }
  return static_cast<std::uint8_t>(index);
}

Rgb RandomRgb(std::mt19937& rng) {
  return Rgb{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())};
}

// A bitmap of random content; indexed ones get a random table with a
// duplicate entry and, for 8 bits, fewer entries than indices.
Bitmap RandomBitmap(int w, int h, PixelFormat f, std::mt19937& rng) {
  Bitmap b(w, h, f);
  if (f != PixelFormat::pf24bit) {
    const int entries = f == PixelFormat::pf8bit ? 200 : 1 << static_cast<int>(f);
    for (int i = 0; i < entries; ++i) b.Palette().push_back(RandomRgb(rng));
    b.Palette().back() = b.Palette().front();
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (f == PixelFormat::pf24bit) {
        // Few distinct colours, as on maps, plus some that are not.
        b.SetPixel(x, y, rng() % 4 ? Rgb{static_cast<std::uint8_t>(rng() % 3 * 100), 50, 200} : RandomRgb(rng));
      } else {
        b.SetIndex(x, y, static_cast<std::uint8_t>(rng() % (1u << static_cast<int>(f))));
      }
    }
  return b;
}

// What the destination pixel must be after copying a source pixel onto it.
void ExpectCopiedPixel(const Bitmap& dst, int x, int y, const Bitmap& src, int sx, int sy, const std::string& what) {
  if (dst.Format() == PixelFormat::pf24bit) {
    ASSERT_EQ(dst.Pixel(x, y), src.Pixel(sx, sy)) << what;
  } else if (dst.Format() == src.Format() && dst.Palette() == src.Palette()) {
    ASSERT_EQ(dst.Index(x, y), src.Index(sx, sy)) << what;
  } else {
    ASSERT_EQ(dst.Index(x, y), SlowNearest(dst.Palette(), src.Pixel(sx, sy))) << what;
  }
}

Bitmap Clone(const Bitmap& b) {
  Bitmap c(b.Width(), b.Height(), b.Format());
  c.Palette() = b.Palette();
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Format() == PixelFormat::pf24bit)
        c.SetPixel(x, y, b.Pixel(x, y));
      else
        c.SetIndex(x, y, b.Index(x, y));
  return c;
}

// Checks a copy pixel by pixel: inside the clipped rectangle the source
// arrived, everywhere else the destination is as before.
void CheckCopy(const Bitmap& before, const Bitmap& src, int dx, int dy, int sx, int sy, int w, int h,
               const std::string& what) {
  Bitmap dst = Clone(before);
  dst.CopyRect(dx, dy, src, sx, sy, w, h);
  for (int y = 0; y < dst.Height(); ++y)
    for (int x = 0; x < dst.Width(); ++x) {
      const long long px = static_cast<long long>(x) - dx + sx, py = static_cast<long long>(y) - dy + sy;
      const bool inside = px >= sx && py >= sy && px < static_cast<long long>(sx) + w &&
                          py < static_cast<long long>(sy) + h && px >= 0 && py >= 0 && px < src.Width() &&
                          py < src.Height();
      const std::string at = what + " at " + std::to_string(x) + "," + std::to_string(y);
      if (inside) {
        ExpectCopiedPixel(dst, x, y, src, static_cast<int>(px), static_cast<int>(py), at);
      } else if (dst.Format() == PixelFormat::pf24bit) {
        ASSERT_EQ(dst.Pixel(x, y), before.Pixel(x, y)) << at << " changed";
      } else {
        ASSERT_EQ(dst.Index(x, y), before.Index(x, y)) << at << " changed";
      }
    }
}

} // namespace

TEST(Bitmap, HalftonePaletteEntries) {
  const auto& p = zv::HalftonePalette();
  ASSERT_EQ(p.size(), 256u);
  const std::vector<Rgb> standard = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                     {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                     {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                     {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(p[i], standard[i]) << i;
  EXPECT_EQ(p[16], (Rgb{0, 0, 0}));
  EXPECT_EQ(p[17], (Rgb{0, 0, 51}));   // blue fastest
  EXPECT_EQ(p[22], (Rgb{0, 51, 0}));
  EXPECT_EQ(p[52], (Rgb{51, 0, 0}));   // red slowest
  EXPECT_EQ(p[16 + 36 * 3 + 6 * 4 + 5], (Rgb{153, 204, 255}));
  EXPECT_EQ(p[231], (Rgb{255, 255, 255}));
  for (int i = 0; i < 24; ++i) {
    const auto v = static_cast<std::uint8_t>(8 + 10 * i);
    EXPECT_EQ(p[232 + static_cast<std::size_t>(i)], (Rgb{v, v, v}));
  }
}

TEST(Bitmap, NearestEntryAndTies) {
  const auto& h = zv::HalftonePalette();
  // Colours present twice map to the lower index.
  EXPECT_EQ(zv::NearestPaletteIndex(h, Rgb{255, 255, 255}), 15);
  EXPECT_EQ(zv::NearestPaletteIndex(h, Rgb{0, 0, 0}), 0);
  EXPECT_EQ(zv::NearestPaletteIndex(h, Rgb{255, 0, 0}), 9);
  EXPECT_EQ(zv::NearestPaletteIndex(h, Rgb{10, 10, 10}), 232);
  // Equal distances: the lower index wins.
  EXPECT_EQ(zv::NearestPaletteIndex({{10, 10, 10}, {20, 20, 20}}, Rgb{15, 15, 15}), 0);
  EXPECT_EQ(zv::NearestPaletteIndex({{30, 0, 0}, {0, 0, 10}, {0, 0, 30}}, Rgb{0, 0, 20}), 1);
  EXPECT_EQ(zv::NearestPaletteIndex({}, Rgb{1, 2, 3}), 0);
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const Rgb c = RandomRgb(rng);
    ASSERT_EQ(zv::NearestPaletteIndex(h, c), SlowNearest(h, c));
  }
}

// The search behind true-colour copies onto indexed bitmaps skips entries
// that cannot win in a colour's region; it must still give the full scan's
// answer, ties included, for tables that crowd one region, straddle region
// borders or hold only a few entries.
TEST(Bitmap, CopyOntoIndexedFindsTheNearestEntryOfAnyTable) {
  std::mt19937 rng(11);
  std::vector<std::pair<std::string, std::vector<Rgb>>> tables;
  tables.push_back({"halftone", zv::HalftonePalette()});
  std::vector<Rgb> crowded, borders, ties, random;
  for (int i = 0; i < 256; ++i) {
    crowded.push_back(Rgb{static_cast<std::uint8_t>(100 + rng() % 8), static_cast<std::uint8_t>(100 + rng() % 8),
                          static_cast<std::uint8_t>(100 + rng() % 8)});
    const auto edge = [&] { return static_cast<std::uint8_t>(32 * (rng() % 8) + (rng() % 3) - 1); };
    borders.push_back(Rgb{edge(), edge(), edge()});
    random.push_back(RandomRgb(rng));
  }
  // Pairs of entries at equal distance from the colours between them.
  for (int i = 0; i < 16; ++i) {
    const auto v = static_cast<std::uint8_t>(16 * i);
    ties.push_back(Rgb{v, 0, 0});
    ties.push_back(Rgb{0, v, 0});
    ties.push_back(Rgb{v, 0, 0}); // a duplicate: the lower index wins
  }
  tables.push_back({"crowded", crowded});
  tables.push_back({"borders", borders});
  tables.push_back({"ties", ties});
  tables.push_back({"random", random});
  tables.push_back({"one entry", {Rgb{7, 200, 9}}});
  tables.push_back({"two entries", {Rgb{0, 0, 0}, Rgb{255, 255, 255}}});

  // More distinct colours than the lookup's cache holds: a lattice through
  // every region's edges, then random ones.
  Bitmap src(256, 96, PixelFormat::pf24bit);
  int n = 0;
  for (int r = 0; r < 256; r += 15)
    for (int g = 0; g < 256; g += 15)
      for (int b = 0; b < 256; b += 15, ++n)
        src.SetPixel(n % 256, n / 256, Rgb{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                           static_cast<std::uint8_t>(b)});
  for (; n < 256 * 96; ++n) src.SetPixel(n % 256, n / 256, RandomRgb(rng));

  for (const auto& [name, table] : tables)
    for (PixelFormat f : {PixelFormat::pf8bit, PixelFormat::pf4bit}) {
      Bitmap dst(src.Width(), src.Height(), f);
      dst.Palette() = table;
      dst.CopyRect(0, 0, src, 0, 0, src.Width(), src.Height());
      std::vector<Rgb> usable = table;
      if (f == PixelFormat::pf4bit && usable.size() > 16) usable.resize(16);
      for (int y = 0; y < src.Height(); ++y)
        for (int x = 0; x < src.Width(); ++x)
          ASSERT_EQ(dst.Index(x, y), SlowNearest(usable, src.Pixel(x, y)))
              << name << ", " << static_cast<int>(f) << " bits, at " << x << "," << y;
    }
}

TEST(Bitmap, SizeCheckRefusesBombs) {
  const struct {
    std::int64_t w, h;
    PixelFormat f;
    bool ok;
  } cases[] = {
      {1'000'000, 1, PixelFormat::pf24bit, true},      {1'000'001, 1, PixelFormat::pf1bit, false},
      {1, 1'000'001, PixelFormat::pf1bit, false},      {65536, 65536, PixelFormat::pf8bit, true}, // exactly 4 GiB
      {65536, 65537, PixelFormat::pf8bit, false},      {40000, 40000, PixelFormat::pf24bit, false},
      {1'000'000, 1'000'000, PixelFormat::pf1bit, false}, {-1, 5, PixelFormat::pf8bit, false},
      {0, 0, PixelFormat::pf24bit, true},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.w) + " x " + std::to_string(c.h);
    if (c.ok) {
      EXPECT_NO_THROW(zv::CheckImageSize(c.w, c.h, c.f)) << what;
      continue;
    }
    try {
      zv::CheckImageSize(c.w, c.h, c.f);
      ADD_FAILURE() << what << " accepted";
    } catch (const zv::Error& e) {
      EXPECT_EQ(std::string(e.what()), "image too large: " + std::to_string(c.w) + " × " + std::to_string(c.h));
    }
  }
  EXPECT_THROW(Bitmap(2'000'000, 1, PixelFormat::pf8bit), zv::Error);
}

TEST(Bitmap, RowsAndIndexedPixels) {
  Bitmap b(13, 3, PixelFormat::pf4bit);
  EXPECT_EQ(b.Stride(), 7u);
  b.Palette() = {{1, 1, 1}, {2, 2, 2}};
  b.SetIndex(3, 1, 1);
  EXPECT_EQ(b.Row(1)[1], 0x01);
  EXPECT_EQ(b.Pixel(3, 1), (Rgb{2, 2, 2}));
  b.SetIndex(4, 1, 9); // past the table: black
  EXPECT_EQ(b.Pixel(4, 1), (Rgb{}));
  Bitmap one(9, 1, PixelFormat::pf1bit);
  one.SetIndex(0, 0, 1);
  one.SetIndex(8, 0, 1);
  EXPECT_EQ(one.Row(0)[0], 0x80);
  EXPECT_EQ(one.Row(0)[1], 0x80);
  one.Palette() = {{0, 0, 0}, {255, 255, 255}};
  one.Fill(Rgb{200, 200, 200});
  for (int x = 0; x < 9; ++x) EXPECT_EQ(one.Index(x, 0), 1);
}

TEST(Bitmap, CopyBetweenEveryFormatPair) {
  std::mt19937 rng(42);
  for (PixelFormat sf : AllFormats)
    for (PixelFormat df : AllFormats) {
      const Bitmap src = RandomBitmap(37, 11, sf, rng);
      const Bitmap dst = RandomBitmap(29, 13, df, rng);
      const std::string what = std::to_string(int(sf)) + "->" + std::to_string(int(df));
      // Odd offsets exercise the partial bytes of packed rows.
      CheckCopy(dst, src, 3, 1, 5, 2, 21, 9, what);
      CheckCopy(dst, src, 0, 0, 0, 0, 37, 11, what + " whole");
      if (sf == df && sf != PixelFormat::pf24bit) {
        // Same table: indices are kept, duplicates included.
        Bitmap same = Clone(dst);
        same.Palette() = src.Palette();
        CheckCopy(same, src, 2, 3, 1, 0, 25, 8, what + " same table");
      }
    }
}

TEST(Bitmap, CopyClipsAtEveryEdge) {
  std::mt19937 rng(3);
  const Bitmap src = RandomBitmap(20, 15, PixelFormat::pf8bit, rng);
  const Bitmap dst = RandomBitmap(16, 12, PixelFormat::pf24bit, rng);
  const struct {
    int dx, dy, sx, sy, w, h;
  } cases[] = {
      {-5, -3, 0, 0, 20, 15},   {4, 2, -6, -4, 12, 10},   {10, 8, 0, 0, 1000, 1000}, {0, 0, 15, 10, 100, 100},
      {-100, 0, 0, 0, 20, 15},  {0, 0, 20, 0, 5, 5},      {0, 0, 0, 0, 0, 5},        {0, 0, 0, 0, -3, -3},
      {3, 3, 2, 2, INT_MAX, INT_MAX}, {INT_MIN, INT_MIN, 0, 0, INT_MAX, INT_MAX}, {-3, 5, -4, 2, 10, 3},
      {0, 0, INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {INT_MAX, INT_MAX, 0, 0, 5, 5},
  };
  for (const auto& c : cases)
    CheckCopy(dst, src, c.dx, c.dy, c.sx, c.sy, c.w, c.h,
              "rect " + std::to_string(c.dx) + "," + std::to_string(c.dy) + "," + std::to_string(c.sx) + "," +
                  std::to_string(c.sy) + "," + std::to_string(c.w) + "," + std::to_string(c.h));
}

TEST(Bitmap, CopyWithinOneBitmapOverlaps) {
  std::mt19937 rng(9);
  for (PixelFormat f : AllFormats) {
    Bitmap b = RandomBitmap(20, 10, f, rng);
    const Bitmap before = Clone(b);
    b.CopyRect(1, 1, b, 0, 0, 15, 8);
    for (int y = 1; y < 9; ++y)
      for (int x = 1; x < 16; ++x) ASSERT_EQ(b.Pixel(x, y), before.Pixel(x - 1, y - 1)) << int(f);
  }
}

TEST(Bitmap, CanvasFramesClippedRectangles) {
  Bitmap b(10, 10, PixelFormat::pf8bit);
  b.Palette() = zv::HalftonePalette();
  zv::BitmapCanvas canvas(b);
  canvas.FrameRect(2, 3, 6, 8, Rgb{0, 0, 128});
  EXPECT_EQ(b.Index(2, 3), 4);
  EXPECT_EQ(b.Index(5, 7), 4);
  EXPECT_EQ(b.Index(3, 4), 0);
  canvas.FrameRect(-5, -5, INT_MAX, INT_MAX, Rgb{255, 0, 0}); // no edge is visible, and the walk stays short
  EXPECT_EQ(b.Index(0, 0), 0);
  canvas.FrameRect(0, -5, INT_MAX, 5, Rgb{255, 0, 0});
  EXPECT_EQ(b.Index(0, 2), 9);
  EXPECT_EQ(b.Index(9, 4), 9);
}

TEST(Bitmap, CopiesSharePixelsUntilWritten) {
  Bitmap a(7, 3, PixelFormat::pf8bit);
  a.Palette() = {Rgb{0, 0, 0}, Rgb{9, 9, 9}};
  a.SetIndex(2, 1, 1);
  const Bitmap b = a;
  Bitmap c = b;
  EXPECT_TRUE(a.SharesPixels());
  EXPECT_EQ(std::as_const(a).Row(0), b.Row(0));
  c.SetIndex(2, 1, 0); // c takes its own copy first
  EXPECT_FALSE(c.SharesPixels());
  EXPECT_EQ(a.Index(2, 1), 1);
  EXPECT_EQ(b.Index(2, 1), 1);
  EXPECT_EQ(c.Index(2, 1), 0);
  a.Fill(Rgb{0, 0, 0});
  EXPECT_EQ(b.Index(2, 1), 1);
  EXPECT_FALSE(b.SharesPixels());
  Bitmap moved = std::move(c);
  EXPECT_EQ(moved.Index(2, 1), 0);
}

// Scaled copies against the rule written pixel by pixel: target pixel t shows
// source pixel s + (t - d) / f above 1 and s + (t - d) * f below, clipped.
TEST(Bitmap, CanvasScaledCopiesMagnifyAndSample) {
  std::mt19937 rng(2);
  Bitmap src(23, 17, PixelFormat::pf8bit);
  for (int i = 0; i < 256; ++i)
    src.Palette().push_back(Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(rng()), 9});
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 23; ++x) src.SetIndex(x, y, static_cast<std::uint8_t>(rng()));
  struct Case {
    int dx, dy, sx, sy, w, h, zoom;
  } cases[] = {{3, 2, 0, 0, 23, 17, 1},  {-5, -7, 4, 2, 30, 30, 2}, {1, 0, -3, 5, 10, 6, 3},
               {2, 1, 0, 0, 23, 17, -1}, {-1, 0, 3, 1, 20, 16, -2}, {0, 0, 22, 16, 5, 5, -3}};
  for (const Case& c : cases) {
    const Rgb grey{50, 50, 50};
    Bitmap target(40, 30, PixelFormat::pf24bit);
    target.Fill(grey);
    zv::BitmapCanvas canvas(target);
    canvas.ScaledCopy(c.dx, c.dy, src, c.sx, c.sy, c.w, c.h, c.zoom);
    const int f = 1 << std::abs(c.zoom);
    for (int ty = 0; ty < 30; ++ty)
      for (int tx = 0; tx < 40; ++tx) {
        const int ox = tx - c.dx, oy = ty - c.dy;
        int sx = 0, sy = 0;
        bool inside = ox >= 0 && oy >= 0;
        if (c.zoom > 0) {
          sx = c.sx + ox / f, sy = c.sy + oy / f;
          inside = inside && ox / f < c.w && oy / f < c.h;
        } else {
          sx = c.sx + ox * f, sy = c.sy + oy * f;
          inside = inside && ox * f < c.w && oy * f < c.h;
        }
        inside = inside && sx >= 0 && sy >= 0 && sx < 23 && sy < 17;
        ASSERT_EQ(target.Pixel(tx, ty), inside ? src.Pixel(sx, sy) : grey)
            << "case zoom " << c.zoom << " at " << tx << "," << ty;
      }
  }
}
