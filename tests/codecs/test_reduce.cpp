#include "codecs/Reduce.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
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

TEST(Reduce, RegionsAreCropsOfTheWholeReductionAndLevelsCompose) {
  std::mt19937 rng(11);
  const Bitmap b = RandomBitmap(101, 77, PixelFormat::pf8bit, rng);
  const Bitmap whole = zv::Reduce(b, 3); // 13 x 10
  for (auto [x, y, w, h] : {std::array{0, 0, 13, 10}, {5, 3, 4, 4}, {12, 9, 5, 5}, {-2, -1, 4, 3}}) {
    const Bitmap part = zv::ReduceRegion(b, 3, x, y, w, h);
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    ASSERT_EQ(part.Width(), std::min(x + w, 13) - x0);
    ASSERT_EQ(part.Height(), std::min(y + h, 10) - y0);
    for (int py = 0; py < part.Height(); ++py)
      for (int px = 0; px < part.Width(); ++px) ASSERT_EQ(part.Pixel(px, py), whole.Pixel(x0 + px, y0 + py));
  }
  // A level made from a coarser level's bitmap equals one made from the picture.
  EXPECT_EQ(ToPicture(zv::Reduce(zv::Reduce(b, 2), 3)), ToPicture(zv::Reduce(b, 5)));
  EXPECT_TRUE(zv::ReduceRegion(b, 3, 13, 0, 4, 4).Empty());
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
