#include "codecs/Reduce.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

using zv::Bitmap;
using zv::PixelFormat;
using zv::Rgb;

namespace {

using Picture = std::vector<std::vector<Rgb>>; // [y][x]

// One halving written from the definition, pixel by pixel.
Picture SlowHalve(const Picture& in) {
  const int h = static_cast<int>(in.size()), w = static_cast<int>(in[0].size());
  Picture out((h + 1) / 2, std::vector<Rgb>((w + 1) / 2));
  for (int y = 0; y < (h + 1) / 2; ++y)
    for (int x = 0; x < (w + 1) / 2; ++x) {
      int sum[3] = {0, 0, 0}, n = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          if (2 * y + dy < h && 2 * x + dx < w) {
            const Rgb p = in[2 * y + dy][2 * x + dx];
            sum[0] += p.r, sum[1] += p.g, sum[2] += p.b, ++n;
          }
      out[y][x] = Rgb{static_cast<std::uint8_t>((sum[0] + n / 2) / n), static_cast<std::uint8_t>((sum[1] + n / 2) / n),
                      static_cast<std::uint8_t>((sum[2] + n / 2) / n)};
    }
  return out;
}

Bitmap RandomBitmap(int w, int h, PixelFormat format, std::mt19937& rng) {
  Bitmap b(w, h, format);
  if (format != PixelFormat::pf24bit) {
    for (int i = 0; i < (1 << static_cast<int>(format)); ++i)
      b.Palette().push_back(
          Rgb{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())});
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (format == PixelFormat::pf24bit)
        b.SetPixel(
            x, y,
            Rgb{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())});
      else
        b.SetIndex(x, y, static_cast<std::uint8_t>(rng() % b.Palette().size()));
    }
  return b;
}

Picture ToPicture(const Bitmap& b) {
  Picture p(b.Height(), std::vector<Rgb>(b.Width()));
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) p[y][x] = b.Pixel(x, y);
  return p;
}

} // namespace

TEST(Reduce, ReducedSideRoundsUpEveryHalving) {
  EXPECT_EQ(zv::ReducedSide(1000, 0), 1000);
  EXPECT_EQ(zv::ReducedSide(1001, 1), 501);
  EXPECT_EQ(zv::ReducedSide(1001, 3), 126);
  EXPECT_EQ(zv::ReducedSide(1, 6), 1);
  EXPECT_EQ(zv::ReducedSide(34641, 6), 542);
}

TEST(Reduce, EveryFormatAndOddSizeMatchesRepeatedSlowHalving) {
  std::mt19937 rng(7);
  for (PixelFormat format : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf24bit})
    for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {3, 1}, {1, 5}, {37, 23}, {64, 33}}) {
      const Bitmap b = RandomBitmap(w, h, format, rng);
      Picture expected = ToPicture(b);
      for (int level = 0; level <= 4; ++level) {
        const Bitmap r = zv::Reduce(b, level);
        ASSERT_EQ(r.Format(), PixelFormat::pf24bit);
        ASSERT_EQ(r.Width(), static_cast<int>(expected[0].size())) << w << "x" << h << " level " << level;
        ASSERT_EQ(r.Height(), static_cast<int>(expected.size()));
        EXPECT_EQ(ToPicture(r), expected) << w << "x" << h << " level " << level;
        expected = SlowHalve(expected);
      }
    }
}

// 8-bit pictures add their colours up in lanes of one word: sums at the top
// of the range must not spill into the next channel, at any level and edge.
TEST(Reduce, ExtremeColoursKeepTheirChannelsApart) {
  Bitmap b(37, 23, PixelFormat::pf8bit);
  b.Palette() = {Rgb{255, 255, 255}, Rgb{255, 0, 255}, Rgb{0, 255, 0}, Rgb{254, 1, 255}, Rgb{0, 0, 0}};
  std::mt19937 rng(5);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      b.SetIndex(x, y, static_cast<std::uint8_t>(x < 20 ? (x / 2 + y) % 2 : rng() % b.Palette().size()));
  Picture expected = ToPicture(b);
  for (int level = 0; level <= 6; ++level) {
    EXPECT_EQ(ToPicture(zv::Reduce(b, level)), expected) << "level " << level;
    EXPECT_EQ(ToPicture(zv::ReduceRegion(b, level, 1, 0, 3, 2)),
              ToPicture(zv::ReduceRegion(zv::Reduce(b, level), 0, 1, 0, 3, 2)))
        << "level " << level;
    expected = SlowHalve(expected);
  }
}

TEST(Reduce, RegionsAreCropsOfTheWholeReductionAndLevelsCompose) {
  std::mt19937 rng(11);
  // Regions are read from the picture's rows where they lie, at any column.
  for (PixelFormat format : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf24bit}) {
    const Bitmap b = RandomBitmap(101, 77, format, rng);
    const Picture whole = SlowHalve(SlowHalve(SlowHalve(ToPicture(b)))); // 13 x 10
    for (auto [x, y, w, h] : {std::array{0, 0, 13, 10}, {5, 3, 4, 4}, {12, 9, 5, 5}, {-2, -1, 4, 3}, {3, 0, 1, 10}}) {
      const Bitmap part = zv::ReduceRegion(b, 3, x, y, w, h);
      const int x0 = std::max(x, 0), y0 = std::max(y, 0);
      ASSERT_EQ(part.Width(), std::min(x + w, 13) - x0);
      ASSERT_EQ(part.Height(), std::min(y + h, 10) - y0);
      const Picture got = ToPicture(part);
      for (int py = 0; py < part.Height(); ++py)
        for (int px = 0; px < part.Width(); ++px)
          ASSERT_EQ(got[py][px], whole[y0 + py][x0 + px]) << static_cast<int>(format) << " bits at " << x << "," << y;
    }
  }
  const Bitmap b = RandomBitmap(101, 77, PixelFormat::pf8bit, rng);
  // Into a larger bitmap: the corner takes the region, the rest stays.
  Bitmap into(6, 5, PixelFormat::pf24bit);
  into.Fill(Rgb{1, 2, 3});
  zv::ReduceRegionInto(b, 3, 11, 8, 4, 4, into); // clipped to 2 x 2
  const Picture corner = ToPicture(zv::ReduceRegion(b, 3, 11, 8, 4, 4));
  for (int y = 0; y < into.Height(); ++y)
    for (int x = 0; x < into.Width(); ++x)
      EXPECT_EQ(into.Pixel(x, y), x < 2 && y < 2 ? corner[y][x] : (Rgb{1, 2, 3})) << x << "," << y;
  Bitmap small(1, 5, PixelFormat::pf24bit);
  EXPECT_THROW(zv::ReduceRegionInto(b, 3, 11, 8, 4, 4, small), std::invalid_argument);
  // A level made from a coarser level's bitmap equals one made from the picture.
  EXPECT_EQ(ToPicture(zv::Reduce(zv::Reduce(b, 2), 3)), ToPicture(zv::Reduce(b, 5)));
  EXPECT_TRUE(zv::ReduceRegion(b, 3, 13, 0, 4, 4).Empty());
  // Regions whose end lies past 2^31: clipped, not wrapped round.
  constexpr int kMax = std::numeric_limits<int>::max();
  EXPECT_EQ(zv::ReduceRegion(b, 3, 5, 3, kMax, kMax).Width(), 8);
  EXPECT_EQ(zv::ReduceRegion(b, 3, 5, 3, kMax, kMax).Height(), 7);
  EXPECT_TRUE(zv::ReduceRegion(b, 3, kMax - 2, kMax - 2, kMax, kMax).Empty());
}

TEST(Reduce, SourceBandsInAnIndexedFormatAreTakenAsTheirColours) {
  std::mt19937 rng(3);
  for (PixelFormat format : {PixelFormat::pf4bit, PixelFormat::pf8bit}) {
    Bitmap b = RandomBitmap(45, 19, format, rng);
    if (format == PixelFormat::pf8bit) b.Palette().resize(256, Rgb{1, 2, 3});
    const zv::PictureSource indexed = [&b](int x, int y, int w, int h, Bitmap& out) {
      out = Bitmap(w, h, b.Format());
      out.Palette() = b.Palette();
      out.CopyRect(0, 0, b, x, y, w, h);
    };
    EXPECT_EQ(ToPicture(zv::ReduceRegion(indexed, 45, 19, 2, 0, 0, 12, 5)), ToPicture(zv::Reduce(b, 2)));
  }
}

TEST(Reduce, LevelsInOnePassEqualEachLevelAlone) {
  std::mt19937 rng(5);
  for (PixelFormat format : {PixelFormat::pf1bit, PixelFormat::pf8bit, PixelFormat::pf24bit})
    for (auto [w, h] : {std::pair{1, 1}, {3, 70}, {131, 67}, {64, 64}}) {
      Bitmap b = RandomBitmap(w, h, format, rng);
      // Indices past a short colour table read as black.
      if (format == PixelFormat::pf8bit) b.Palette().resize(200);
      const zv::PictureSource source = [&b](int x, int y, int sw, int sh, Bitmap& out) {
        out = Bitmap(sw, sh, b.Format());
        out.Palette() = b.Palette();
        out.CopyRect(0, 0, b, x, y, sw, sh);
      };
      for (int threads : {1, 3}) {
        const std::vector<Bitmap> levels = zv::ReduceLevels(source, w, h, 2, 5, threads);
        const std::vector<Bitmap> direct = zv::ReduceLevels(b, 2, 5, threads);
        ASSERT_EQ(levels.size(), 4u);
        ASSERT_EQ(direct.size(), 4u);
        for (int l = 2; l <= 5; ++l) {
          EXPECT_EQ(ToPicture(levels[l - 2]), ToPicture(zv::Reduce(b, l)))
              << w << "x" << h << " format " << int(format) << " level " << l << " threads " << threads;
          EXPECT_EQ(ToPicture(direct[l - 2]), ToPicture(zv::Reduce(b, l))) << "from the bitmap, level " << l;
        }
      }
    }
}

TEST(Reduce, LevelsPassPassesOnTheSourcesFailureAndStopsWhenCancelled) {
  const zv::PictureSource failing = [](int, int y, int, int, Bitmap&) {
    if (y >= 64) throw std::runtime_error("unreadable");
  };
  EXPECT_THROW(zv::ReduceLevels(failing, 50, 300, 1, 4, 2), std::runtime_error);
  std::atomic<bool> cancel{true};
  int calls = 0;
  const zv::PictureSource counting = [&calls](int, int, int, int, Bitmap&) { ++calls; };
  zv::ReduceLevels(counting, 50, 300, 1, 4, 1, &cancel);
  EXPECT_EQ(calls, 0);
  EXPECT_THROW(zv::ReduceLevels(counting, 50, 300, 0, 4, 1), std::invalid_argument);
}

TEST(Reduce, IndicesPastTheTableReadAsBlack) {
  // The 8-bit rows are averaged from their table: entries it lacks are black.
  Bitmap b(5, 3, PixelFormat::pf8bit);
  b.Palette() = {Rgb{200, 100, 50}, Rgb{255, 255, 255}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) b.SetIndex(x, y, static_cast<std::uint8_t>((x + y) % 3 == 2 ? 7 : (x + y) % 2));
  Picture expected = ToPicture(b);
  for (int level = 1; level <= 3; ++level) {
    expected = SlowHalve(expected);
    const Bitmap r = zv::Reduce(b, level);
    EXPECT_EQ(ToPicture(r), expected) << level;
  }
}
