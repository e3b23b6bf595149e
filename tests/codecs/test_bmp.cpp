#include "codecs/Bmp.h"
#include "codecs/Png.h"

#include "base/FileSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace zv {
namespace {

const std::string BmpDir = std::string(ZOVEVOD_TESTDATA_DIR) + "/bmp/";

Bitmap DecodeFile(const std::string& path) {
  const Bytes data = ReadWholeFile(path);
  Bitmap bmp;
  DecodeBmp(data.data(), data.size(), bmp);
  return bmp;
}

std::vector<std::string> Files(const std::string& sub) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(BmpDir + sub))
    if (e.path().extension() == ".bmp") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct GoodFile {
  const char* name;
  int bits;                  // bitmap format
  std::size_t paletteSize;   // 0 for 24-bit
  const char* reference;     // rendering in the suite's html folder
  int tolerance = 0;         // channels wider than 8 bits round differently
};

const GoodFile GoodFiles[] = {
    {"pal1.bmp", 1, 2, "pal1.png"},          {"pal1bg.bmp", 1, 2, "pal1bg.png"},
    {"pal1wb.bmp", 1, 2, "pal1.png"},        {"pal4.bmp", 4, 12, "pal4.png"},
    {"pal4gs.bmp", 4, 12, "pal4gs.png"},     {"pal4rle.bmp", 4, 12, "pal4.png"},
    {"pal8-0.bmp", 8, 256, "pal8.png"},      {"pal8.bmp", 8, 252, "pal8.png"},
    {"pal8gs.bmp", 8, 252, "pal8gs.png"},    {"pal8nonsquare.bmp", 8, 252, "pal8nonsquare-e.png"},
    {"pal8os2.bmp", 8, 256, "pal8.png"},     {"pal8rle.bmp", 8, 252, "pal8.png"},
    {"pal8topdown.bmp", 8, 252, "pal8.png"}, {"pal8v4.bmp", 8, 252, "pal8.png"},
    {"pal8v5.bmp", 8, 252, "pal8.png"},      {"pal8w124.bmp", 8, 252, "pal8w124.png"},
    {"pal8w125.bmp", 8, 252, "pal8w125.png"}, {"pal8w126.bmp", 8, 252, "pal8w126.png"},
    {"rgb16-565.bmp", 24, 0, "rgb16-565.png"}, {"rgb16-565pal.bmp", 24, 0, "rgb16-565.png"},
    {"rgb16.bmp", 24, 0, "rgb16.png"},       {"rgb16bfdef.bmp", 24, 0, "rgb16.png"},
    {"rgb24.bmp", 24, 0, "rgb24.png"},       {"rgb24pal.bmp", 24, 0, "rgb24.png"},
    {"rgb32.bmp", 24, 0, "rgb24.png"},       {"rgb32bf.bmp", 24, 0, "rgb24.png"},
    {"rgb32bfdef.bmp", 24, 0, "rgb24.png"},
};

// Questionable files this reader accepts, where the rendering is certain
// (no alpha, no colour profile).
const GoodFile AcceptedQuestionableFiles[] = {
    {"pal2.bmp", 4, 4, "pal2.png"},           {"pal2color.bmp", 4, 4, "pal2color.png"},
    {"pal8offs.bmp", 8, 252, "pal8.png"},     {"pal8oversizepal.bmp", 8, 256, "pal8.png"},
    {"pal8os2v2.bmp", 8, 252, "pal8.png"},    {"pal8os2v2-16.bmp", 8, 256, "pal8.png"},
    {"pal8os2-sz.bmp", 8, 256, "pal8.png"},   {"pal8os2-hs.bmp", 8, 256, "pal8.png"},
    {"rgb16-231.bmp", 24, 0, "rgb16-231.png"}, {"rgb16-3103.bmp", 24, 0, "rgb16-3103.png"},
    {"rgb16faketrns.bmp", 24, 0, "rgb16.png"}, {"rgb24largepal.bmp", 24, 0, "rgb24.png"},
    {"rgb32-7187.bmp", 24, 0, "rgb32-7187.png", 1}, {"rgb32-xbgr.bmp", 24, 0, "rgb24.png"},
    {"rgb32fakealpha.bmp", 24, 0, "rgb24.png"}, {"rgb32h52.bmp", 24, 0, "rgb24.png"},
    {"rgb32-111110.bmp", 24, 0, "rgb24.png", 1},
};

// Every good file decodes to its own format, and its pixels equal the
// suite author's PNG rendering (read from the corpus, which stays outside
// the repository).
TEST(DecodeBmp, GoodFilesMatchTheSuiteRenderings) {
  ASSERT_EQ(Files("g").size(), std::size(GoodFiles));
  const std::string html = std::string(ZOVEVOD_CORPUS_DIR) + "/bmp/html/";
  const bool haveReferences = std::filesystem::exists(html + "pal8.png");
  std::vector<std::pair<std::string, GoodFile>> all;
  for (const GoodFile& g : GoodFiles) all.emplace_back("g/", g);
  for (const GoodFile& g : AcceptedQuestionableFiles) all.emplace_back("q/", g);
  for (const auto& [sub, g] : all) {
    SCOPED_TRACE(g.name);
    Bitmap bmp;
    ASSERT_NO_THROW(bmp = DecodeFile(BmpDir + sub + g.name));
    EXPECT_EQ(bmp.BitsPerPixel(), g.bits);
    EXPECT_EQ(bmp.Palette().size(), g.paletteSize);
    if (!haveReferences) continue;
    const Bytes png = ReadWholeFile(html + g.reference);
    Bitmap want;
    DecodePng(png.data(), png.size(), want);
    ASSERT_EQ(bmp.Width(), want.Width());
    ASSERT_EQ(bmp.Height(), want.Height());
    int differing = 0;
    for (int y = 0; y < want.Height(); ++y)
      for (int x = 0; x < want.Width(); ++x) {
        const Rgb a = bmp.Pixel(x, y), b = want.Pixel(x, y);
        if ((std::abs(a.r - b.r) > g.tolerance || std::abs(a.g - b.g) > g.tolerance ||
             std::abs(a.b - b.b) > g.tolerance) &&
            differing++ == 0)
          ADD_FAILURE() << "first difference at " << x << "," << y;
      }
    EXPECT_EQ(differing, 0);
  }
  if (!haveReferences) GTEST_SKIP() << "suite renderings not found; formats checked only";
}

TEST(DecodeBmp, BadFilesRaise) {
  const auto names = Files("b");
  ASSERT_EQ(names.size(), 20u);
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    Bitmap bmp(2, 2, PixelFormat::pf4bit);
    try {
      const Bytes data = ReadWholeFile(BmpDir + "b/" + name);
      DecodeBmp(data.data(), data.size(), bmp);
      ADD_FAILURE() << "decoded";
    } catch (const Error& e) {
      EXPECT_STRNE(e.what(), "");
    }
    EXPECT_EQ(bmp.Width(), 2); // left unchanged
  }
}

// Questionable and related files either decode or raise a clean error.
TEST(DecodeBmp, QuestionableFilesDecodeOrRaise) {
  int decoded = 0;
  for (const std::string sub : {"q", "x"})
    for (const auto& name : Files(sub)) {
      SCOPED_TRACE(name);
      try {
        const Bitmap bmp = DecodeFile(BmpDir + sub + "/" + name);
        EXPECT_GT(bmp.Width(), 0);
        ++decoded;
      } catch (const Error&) {
      }
    }
  EXPECT_GT(decoded, 10);
}

// Every truncation of files of each kind raises instead of reading past the end.
TEST(DecodeBmp, TruncatedFilesRaise) {
  for (const char* name : {"g/pal8rle.bmp", "g/pal4rle.bmp", "g/rgb16-565.bmp", "g/pal8os2.bmp", "g/pal8v5.bmp"}) {
    const Bytes data = ReadWholeFile(BmpDir + name);
    for (std::size_t n = 0; n < data.size(); n += (n < 200 ? 1 : 37)) {
      Bitmap bmp;
      EXPECT_THROW(DecodeBmp(data.data(), n, bmp), EBmpError) << name << " cut at " << n;
    }
  }
}

// Hand-made files: exact channel scaling and row order.
Bytes MakeBmp(int width, int height, int bits, std::uint32_t compression, const Bytes& extra, const Bytes& pixels) {
  Bytes f = {'B', 'M'};
  const auto le = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(extra.size());
  le(offset + static_cast<std::uint32_t>(pixels.size()), 4);
  le(0, 4);
  le(offset, 4);
  le(40, 4);
  le(static_cast<std::uint32_t>(width), 4);
  le(static_cast<std::uint32_t>(height), 4);
  le(1, 2);
  le(static_cast<std::uint32_t>(bits), 2);
  le(compression, 4);
  le(static_cast<std::uint32_t>(pixels.size()), 4);
  le(2835, 4);
  le(2835, 4);
  le(0, 4);
  le(0, 4);
  f.insert(f.end(), extra.begin(), extra.end());
  f.insert(f.end(), pixels.begin(), pixels.end());
  return f;
}

TEST(DecodeBmp, HandMadeFiles) {
  // 16-bit 5-6-5: full-scale channels become 255, half-scale round to nearest.
  const Bytes masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  const Bytes f565 = MakeBmp(2, -2, 16, 3, masks, {0xFF, 0xFF, 0x10, 0x84, 0x00, 0xF8, 0x1F, 0x00});
  Bitmap bmp;
  DecodeBmp(f565.data(), f565.size(), bmp);
  EXPECT_EQ(bmp.Pixel(0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(bmp.Pixel(1, 0), (Rgb{132, 130, 132})); // 16/31, 32/63, 16/31
  EXPECT_EQ(bmp.Pixel(0, 1), (Rgb{255, 0, 0}));     // top-down: second row in the file is row 1
  EXPECT_EQ(bmp.Pixel(1, 1), (Rgb{0, 0, 255}));

  // RLE4 with a delta: skipped pixels keep index 0.
  Bytes palette;
  for (int i = 0; i < 16; ++i) palette.insert(palette.end(), {static_cast<std::uint8_t>(i), 0, 0, 0});
  const Bytes rle = {3, 0x12, 0, 0, /* row 1: */ 0, 2, 2, 0, 1, 0x77, 0, 1};
  const Bytes frle = MakeBmp(4, 2, 4, 2, palette, rle);
  DecodeBmp(frle.data(), frle.size(), bmp);
  ASSERT_EQ(bmp.Format(), PixelFormat::pf4bit);
  const int want[2][4] = {{0, 0, 7, 0}, {1, 2, 1, 0}}; // top row first
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(bmp.Index(x, y), want[y][x]) << x << "," << y;

  // Malformed variants of the RLE file, one fault each.
  const std::vector<std::pair<const char*, Bytes>> bad = {
      {"run past the row", {5, 0x12, 0, 1}},
      {"delta outside", {0, 2, 9, 0, 0, 1}},
      {"no end marker", {2, 0x12}},
      {"absolute run cut", {0, 5, 0x12}},
  };
  for (const auto& [what, data] : bad) {
    const Bytes f = MakeBmp(4, 2, 4, 2, palette, data);
    EXPECT_THROW(DecodeBmp(f.data(), f.size(), bmp), EBmpError) << what;
  }

  // An end-of-bitmap code alone covers any picture: a small one decodes
  // blank, a huge one from a few bytes is refused before any pixel memory.
  Bytes palette8 = palette;
  palette8.resize(256 * 4, 0);
  const Bytes blank = MakeBmp(300, 200, 8, 1, palette8, {0, 1});
  DecodeBmp(blank.data(), blank.size(), bmp);
  EXPECT_EQ(bmp.Width(), 300);
  EXPECT_EQ(bmp.Index(299, 199), 0);
  const Bytes bomb = MakeBmp(60000, 60000, 8, 1, palette8, {0, 1});
  try {
    DecodeBmp(bomb.data(), bomb.size(), bmp);
    FAIL() << "a 60000 x 60000 picture from two bytes was decoded";
  } catch (const EBmpError& e) {
    EXPECT_STREQ(e.what(), "Invalid BMP file: the run-length data (2 bytes) is too short for a 60000 × 60000 image");
  }
}

// A caller decoding from mapped pages learns of every file row once, in the
// order read, with its padded length; run-length data reports no rows.
TEST(DecodeBmp, RowsReadReportsEveryFileRow) {
  const Bytes pixels = {1, 2, 3, 4, 5, 6, 0, 0, /* second row: */ 7, 8, 9, 10, 11, 12, 0, 0,
                        /* third row: */ 13, 14, 15, 16, 17, 18, 0, 0};
  for (int height : {3, -3}) {
    SCOPED_TRACE(height);
    const Bytes f = MakeBmp(2, height, 24, 0, {}, pixels);
    std::vector<std::pair<std::ptrdiff_t, std::size_t>> rows;
    Bitmap bmp;
    DecodeBmp(f.data(), f.size(), bmp, [&](const std::uint8_t* row, std::size_t bytes) {
      rows.emplace_back(row - (f.data() + 54), bytes);
    });
    const std::vector<std::pair<std::ptrdiff_t, std::size_t>> bottomUp = {{16, 8}, {8, 8}, {0, 8}};
    const std::vector<std::pair<std::ptrdiff_t, std::size_t>> topDown = {{0, 8}, {8, 8}, {16, 8}};
    EXPECT_EQ(rows, height > 0 ? bottomUp : topDown);
    EXPECT_EQ(bmp.Pixel(1, height > 0 ? 2 : 0), (Rgb{6, 5, 4}));
  }
  Bytes palette(16 * 4, 0);
  const Bytes rle = MakeBmp(4, 2, 4, 2, palette, {0, 1});
  int reported = 0;
  Bitmap bmp;
  DecodeBmp(rle.data(), rle.size(), bmp, [&](const std::uint8_t*, std::size_t) { ++reported; });
  EXPECT_EQ(reported, 0);
}

} // namespace
} // namespace zv
