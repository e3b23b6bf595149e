#include "codecs/Jpeg.h"

#include "TestSupport.h"
#include "base/Messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <tuple>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using zv::Bitmap;
using zv::PixelFormat;
using zv::Rgb;
using zvtest::HaveTool;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string DataPath(const std::string& name) { return std::string(ZOVEVOD_TESTDATA_DIR) + "/jpeg/" + name; }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// One folder for the whole test process, removed when it ends.
fs::path TempPath(const std::string& name) {
  static const zvtest::TempDir temp;
  return temp / name;
}

// A BMP as Debian's djpeg writes it: BITMAPINFOHEADER, 8-bit with a 256-entry
// table or 24-bit BGR, bottom-up rows padded to four bytes.
struct BmpImage {
  int width = 0, height = 0, bits = 0;
  std::vector<Rgb> palette;
  std::vector<std::vector<std::uint8_t>> rows; // top-down, raw bytes of each row
};

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

BmpImage ParseDjpegBmp(const Bytes& b) {
  BmpImage img;
  img.width = static_cast<int>(Le32(b, 18));
  img.height = static_cast<int>(Le32(b, 22));
  img.bits = b[28] | b[29] << 8;
  const std::uint32_t offset = Le32(b, 10);
  if (img.bits == 8)
    for (std::size_t p = 54; p + 4 <= offset; p += 4) img.palette.push_back(Rgb{b[p + 2], b[p + 1], b[p]});
  const std::size_t stride = (static_cast<std::size_t>(img.width) * img.bits / 8 + 3) / 4 * 4;
  for (int y = img.height - 1; y >= 0; --y) {
    const auto* row = b.data() + offset + stride * static_cast<std::size_t>(y);
    img.rows.emplace_back(row, row + static_cast<std::size_t>(img.width) * img.bits / 8);
  }
  return img;
}

std::optional<BmpImage> Djpeg(const std::string& options, const std::string& file) {
  if (!HaveTool("djpeg")) return std::nullopt;
  const fs::path out = TempPath("djpeg.bmp");
  const std::string cmd = "djpeg " + options + " -bmp -outfile '" + out.string() + "' '" + file + "'";
  if (std::system(cmd.c_str()) != 0) return std::nullopt;
  return ParseDjpegBmp(ReadFile(out.string()));
}

void ExpectSameAsDjpeg(const Bitmap& bmp, const BmpImage& ref, const std::string& what) {
  ASSERT_EQ(bmp.Width(), ref.width) << what;
  ASSERT_EQ(bmp.Height(), ref.height) << what;
  if (bmp.Format() == PixelFormat::pf8bit) {
    ASSERT_EQ(ref.bits, 8) << what;
    ASSERT_LE(bmp.Palette().size(), ref.palette.size()) << what;
    for (std::size_t i = 0; i < bmp.Palette().size(); ++i) ASSERT_EQ(bmp.Palette()[i], ref.palette[i]) << what << " entry " << i;
    for (int y = 0; y < bmp.Height(); ++y)
      ASSERT_EQ(0, std::memcmp(bmp.Row(y), ref.rows[static_cast<std::size_t>(y)].data(), bmp.Stride())) << what << " row " << y;
  } else {
    ASSERT_EQ(ref.bits, 24) << what;
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x) {
        const auto* p = ref.rows[static_cast<std::size_t>(y)].data() + 3 * x;
        ASSERT_EQ(bmp.Pixel(x, y), (Rgb{p[2], p[1], p[0]})) << what << " at " << x << "," << y;
      }
  }
}

// Markers of a JPEG file up to its first SOS, with their payloads.
struct Segment {
  std::uint8_t marker;
  Bytes payload;
};

std::vector<Segment> ParseMarkers(const Bytes& f) {
  std::vector<Segment> out;
  if (f.size() < 2 || f[0] != 0xFF || f[1] != 0xD8) return out;
  out.push_back({0xD8, {}});
  std::size_t p = 2;
  while (p + 4 <= f.size() && f[p] == 0xFF) {
    const std::uint8_t m = f[p + 1];
    const std::size_t len = static_cast<std::size_t>(f[p + 2] << 8 | f[p + 3]);
    if (len < 2 || p + 2 + len > f.size()) break;
    out.push_back({m, Bytes(f.begin() + static_cast<long>(p + 4), f.begin() + static_cast<long>(p + 2 + len))});
    if (m == 0xDA) break;
    p += 2 + len;
  }
  return out;
}

const Segment* Find(const std::vector<Segment>& segs, std::uint8_t marker) {
  for (const auto& s : segs)
    if (s.marker == marker) return &s;
  return nullptr;
}

// A tile with map-like content: flat areas, lines, a gradient.
Bitmap MakeTile(int w, int h) {
  Bitmap b(w, h, PixelFormat::pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Rgb c{240, 235, 220};
      if ((x / 32 + y / 32) % 3 == 0) c = Rgb{190, 220, 170};
      if (x % 50 == 7 || (x + y) % 61 == 0) c = Rgb{40, 40, 160};
      if (y > h / 2) c.r = static_cast<std::uint8_t>(c.r * x / w);
      b.SetPixel(x, y, c);
    }
  return b;
}

Bytes EncodeTile(const Bitmap& tile, std::uint8_t quality) {
  const fs::path out = TempPath("tile_q" + std::to_string(quality) + ".jpg");
  zv::SaveJpegTile(tile, quality, out.string());
  return ReadFile(out.string());
}

std::string DecodeError(const Bytes& data) {
  Bitmap b;
  try {
    zv::DecodeJpeg(data.data(), data.size(), b);
  } catch (const zv::EJPEGException& e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace

TEST(Jpeg, DefaultDecodeMatchesDjpegQuantiser) {
  // Same library and settings, so indices and colour maps match exactly.
  for (const char* name : {"testorig.jpg", "testimgari.jpg", "video-001.jpeg", "video-001.q50.420.jpeg",
                           "video-001.q50.422.jpeg", "video-001.q50.440.jpeg", "video-001.221212.jpeg",
                           "video-001.progressive.jpeg", "video-001.progressive.truncated.jpeg",
                           "video-001.rgb.jpeg"}) {
    const Bytes data = ReadFile(DataPath(name));
    Bitmap bmp;
    zv::DecodeJpeg(data.data(), data.size(), bmp);
    EXPECT_EQ(bmp.Format(), PixelFormat::pf8bit) << name;
    EXPECT_LE(bmp.Palette().size(), 256u) << name;
    const auto ref = Djpeg("-colors 256 -dither fs", DataPath(name));
    if (!ref) GTEST_SKIP() << "djpeg not available";
    ExpectSameAsDjpeg(bmp, *ref, name);
  }
}

TEST(Jpeg, GreyscaleKeepsAllGreyLevels) {
  const Bytes data = ReadFile(DataPath("video-005.gray.jpeg"));
  Bitmap bmp;
  zv::DecodeJpeg(data.data(), data.size(), bmp);
  ASSERT_EQ(bmp.Format(), PixelFormat::pf8bit);
  ASSERT_EQ(bmp.Palette().size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(bmp.Palette()[i], (Rgb{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)}));
  // Every grey sample exactly as a plain greyscale decode gives it: 256 grey
  // levels need no quantising.
  const auto ref = Djpeg("-grayscale", DataPath("video-005.gray.jpeg"));
  if (!ref) GTEST_SKIP() << "djpeg not available";
  ExpectSameAsDjpeg(bmp, *ref, "grey");
  // Sixteen levels are still the quantiser's.
  zv::TJPEGImage img;
  img.SetNumOfColors(zv::TNumOfColors::_16);
  img.LoadFromMemory(data);
  ASSERT_NE(img.Picture(), nullptr);
  EXPECT_LE(img.Picture()->Palette().size(), 16u);
}

TEST(Jpeg, TinyDataClaimingAHugePictureIsRefused) {
  // A valid header for 40000 x 40000 followed by almost no scan data: refused
  // before libjpeg reserves its whole-image buffers.
  Bitmap small(16, 16, PixelFormat::pf24bit);
  std::vector<std::uint8_t> jpeg;
  zv::TJPEGImage enc;
  enc.SetNumOfColors(zv::TNumOfColors::TrueColor);
  enc.AssignPicture(small);
  enc.SaveToMemory(jpeg);
  // Patch the frame header's height and width (SOF0: FF C0, length, precision, H, W).
  for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 0x9C, jpeg[i + 6] = 0x40, jpeg[i + 7] = 0x9C, jpeg[i + 8] = 0x40;
      break;
    }
  EXPECT_EQ(DecodeError(jpeg), "JPEG data too short for a 40000 × 40000 image");
}

// Only entropy-coded data can fill pixels: comment segments padding a file
// up to the size a huge picture would need do not count. Arithmetic coding
// would otherwise fill the whole picture from a few bytes without a warning.
TEST(Jpeg, PaddingIsNoImageData) {
  Bytes jpeg = ReadFile(DataPath("testimgari.jpg"));
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC9) { // SOF9, arithmetic
      jpeg[i + 5] = 0x20, jpeg[i + 6] = 0x00, jpeg[i + 7] = 0x20, jpeg[i + 8] = 0x00; // 8192 x 8192
      break;
    }
  Bytes padded(jpeg.begin(), jpeg.begin() + 2);
  for (int n = 0; n < 2; ++n) { // two comments of 10 kB: 8192 x 8192 / 4096 bytes in all
    padded.insert(padded.end(), {0xFF, 0xFE, 0x27, 0x12});
    padded.insert(padded.end(), 10000, 'p');
  }
  padded.insert(padded.end(), jpeg.begin() + 2, jpeg.end());
  padded.insert(padded.end(), 20000, 0); // and bytes after the end
  EXPECT_EQ(DecodeError(padded), "JPEG data too short for a 8192 × 8192 image");
}

TEST(Jpeg, OptionsSteerDecoding) {
  const Bytes data = ReadFile(DataPath("testorig.jpg"));
  zv::TJPEGImage img;
  EXPECT_EQ(img.NumOfColors(), zv::TNumOfColors::_256);
  EXPECT_EQ(img.DCTMethod(), zv::TDCTMethod::Integ);
  EXPECT_EQ(img.Dither(), zv::TDither::FS);
  EXPECT_FALSE(img.FastProcessing() || img.GrayScale() || img.NoSmooth() || img.OnePass() || img.Progressive());
  EXPECT_EQ(img.Quality(), 75);
  EXPECT_EQ(img.ProgressStep(), 10);
  EXPECT_EQ(img.Picture(), nullptr);

  img.LoadFromMemory(data);
  ASSERT_NE(img.Picture(), nullptr);
  EXPECT_EQ(img.Picture()->Format(), PixelFormat::pf8bit);

  // Each write decodes again at once.
  img.SetNumOfColors(zv::TNumOfColors::TrueColor);
  ASSERT_EQ(img.Picture()->Format(), PixelFormat::pf24bit);
  if (const auto ref = Djpeg("", DataPath("testorig.jpg"))) ExpectSameAsDjpeg(*img.Picture(), *ref, "true colour");
  img.SetGrayScale(true);
  ASSERT_EQ(img.Picture()->Format(), PixelFormat::pf8bit);
  if (const auto ref = Djpeg("-grayscale", DataPath("testorig.jpg"))) ExpectSameAsDjpeg(*img.Picture(), *ref, "grey");
  img.SetGrayScale(false);
  img.SetNumOfColors(zv::TNumOfColors::_16);
  EXPECT_LE(img.Picture()->Palette().size(), 16u);
  if (const auto ref = Djpeg("-colors 16 -dither fs", DataPath("testorig.jpg"))) ExpectSameAsDjpeg(*img.Picture(), *ref, "16");
  img.SetNumOfColors(zv::TNumOfColors::_256);
  img.SetFastProcessing(true);
  if (const auto ref = Djpeg("-colors 256 -onepass -dither ordered -dct fast -nosmooth", DataPath("testorig.jpg")))
    ExpectSameAsDjpeg(*img.Picture(), *ref, "fast");
  img.SetFastProcessing(false);
  img.SetOnePass(true);
  img.SetDither(zv::TDither::None);
  if (const auto ref = Djpeg("-colors 256 -onepass -dither none", DataPath("testorig.jpg")))
    ExpectSameAsDjpeg(*img.Picture(), *ref, "one pass");

  // A failed decode keeps the picture it had.
  const Bitmap* before = img.Picture();
  const Bytes cut(data.begin(), data.begin() + 1000);
  EXPECT_THROW(img.LoadFromMemory(cut), zv::EJPEGException);
  EXPECT_EQ(img.Picture(), before);

  // No data: writing an option leaves no picture, also after an assignment.
  img.LoadFromMemory(nullptr, 0);
  EXPECT_EQ(img.Picture(), nullptr);
  img.AssignPicture(Bitmap(4, 4, PixelFormat::pf24bit));
  ASSERT_NE(img.Picture(), nullptr);
  img.SetNoSmooth(true);
  EXPECT_EQ(img.Picture(), nullptr);
}

TEST(Jpeg, ProgressFiresOnStepMultiples) {
  const Bytes data = ReadFile(DataPath("testorig.jpg"));
  for (const auto& [step, least, most] : {std::tuple{100, 1, 1}, std::tuple{25, 3, 4}, std::tuple{1, 50, 100}}) {
    zv::TJPEGImage img;
    int fired = 0;
    img.OnProgress = [&](zv::TJPEGImage& sender) {
      EXPECT_EQ(&sender, &img);
      ++fired;
    };
    img.SetProgressStep(step);
    img.LoadFromMemory(data);
    EXPECT_GE(fired, least) << step;
    EXPECT_LE(fired, most) << step;
  }
}

TEST(Jpeg, BadFilesRaiseLibjpegMessages) {
  const struct {
    std::string file;
    const char* message;
  } cases[] = {
      {"video-001.cmyk.jpeg", "Unsupported color conversion request"},
      {"truncated_jpeg.jpg", "Premature end of JPEG file"},
      {"monkey12.jpg", "Unsupported JPEG data precision 12"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeError(ReadFile(DataPath(c.file))), c.message) << c.file;
  EXPECT_EQ(DecodeError(Bytes{'B', 'M', 0, 0}), "Not a JPEG file: starts with 0x42 0x4d");

  // Every cut of a good file fails cleanly with some libjpeg text, and so do flipped bytes.
  const Bytes good = ReadFile(DataPath("testorig.jpg"));
  for (std::size_t n = 1; n < good.size(); n += 97) {
    const std::string msg = DecodeError(Bytes(good.begin(), good.begin() + static_cast<long>(n)));
    EXPECT_NE(msg, "(no error)") << n;
    EXPECT_FALSE(msg.empty()) << n;
  }
  for (std::size_t at = 2; at < 700; at += 13) {
    Bytes bad = good;
    bad[at] ^= 0x5A;
    Bitmap b;
    try {
      zv::DecodeJpeg(bad.data(), bad.size(), b);
    } catch (const zv::EJPEGException&) {
    }
  }
}

// Hostile files (markers claiming bytes past the end, lying frame headers)
// and what fuzzing found: each is refused with libjpeg's or our message.
TEST(Jpeg, MalformedFolderRaises) {
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(DataPath("malformed"))) {
    const std::string msg = DecodeError(ReadFile(entry.path().string()));
    EXPECT_NE(msg, "(no error)") << entry.path().filename();
    EXPECT_FALSE(msg.empty()) << entry.path().filename();
    ++checked;
  }
  EXPECT_GE(checked, 11);
  // Every scan passes over the whole picture: beyond 200 the file is refused,
  // below it decodes (150 scans of which 148 change nothing).
  EXPECT_EQ(DecodeError(ReadFile(DataPath("malformed/too-many-scans.jpg"))), "JPEG file has more than 200 scans");
  EXPECT_EQ(DecodeError(ReadFile(DataPath("scans-150.jpg"))), "(no error)");
}

TEST(Jpeg, HugeHeaderIsRefusedBeforeDecoding) {
  // The frame header of testorig.jpg patched to claim 65500 x 65500.
  Bytes data = ReadFile(DataPath("testorig.jpg"));
  std::size_t p = 2;
  while (!(data[p] == 0xFF && data[p + 1] == 0xC0)) p += 2 + static_cast<std::size_t>(data[p + 2] << 8 | data[p + 3]);
  data[p + 5] = data[p + 7] = 0xFF;
  data[p + 6] = data[p + 8] = 0xDC;
  zv::TJPEGImage img;
  img.SetNumOfColors(zv::TNumOfColors::TrueColor);
  try {
    img.LoadFromMemory(data);
    FAIL() << "no error";
  } catch (const zv::Error& e) {
    EXPECT_STREQ(e.what(), "image too large: 65500 × 65500");
  }
}

TEST(Jpeg, TileEncoderWritesSequentialJfif420) {
  const Bitmap tile = MakeTile(256, 256);
  std::size_t previousSize = SIZE_MAX;
  for (int q : {100, 90, 75, 50, 24, 23, 10, 1}) {
    const Bytes file = EncodeTile(tile, static_cast<std::uint8_t>(q));
    const auto segs = ParseMarkers(file);
    ASSERT_GE(segs.size(), 3u) << q;
    EXPECT_EQ(segs[0].marker, 0xD8) << q;
    ASSERT_EQ(segs[1].marker, 0xE0) << q;
    EXPECT_EQ(0, std::memcmp(segs[1].payload.data(), "JFIF\0", 5)) << q;
    const Segment* sof = Find(segs, q >= 24 ? 0xC0 : 0xC1);
    ASSERT_NE(sof, nullptr) << q;
    EXPECT_EQ(Find(segs, q >= 24 ? 0xC1 : 0xC0), nullptr) << q;
    EXPECT_EQ(Find(segs, 0xC2), nullptr) << q;
    ASSERT_EQ(sof->payload.size(), 6u + 3 * 3) << q;
    EXPECT_EQ(sof->payload[0], 8) << q;
    EXPECT_EQ(sof->payload[5], 3) << q;
    EXPECT_EQ(sof->payload[7], 0x22) << q;
    EXPECT_EQ(sof->payload[10], 0x11) << q;
    EXPECT_EQ(sof->payload[13], 0x11) << q;
    // Optimised Huffman tables: the luminance DC table is not the standard one.
    const Segment* dht = Find(segs, 0xC4);
    ASSERT_NE(dht, nullptr) << q;
    const std::uint8_t standardDcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_NE(0, std::memcmp(dht->payload.data() + 1, standardDcBits, 16)) << q;
    EXPECT_LT(file.size(), previousSize) << q;
    previousSize = file.size();
    // Readable back and close to what was drawn.
    zv::TJPEGImage back;
    back.SetNumOfColors(zv::TNumOfColors::TrueColor);
    back.LoadFromMemory(file);
    ASSERT_EQ(back.Picture()->Width(), 256);
    if (q >= 90) {
      const Rgb a = back.Picture()->Pixel(20, 20), b = tile.Pixel(20, 20);
      EXPECT_NEAR(a.r, b.r, 8);
      EXPECT_NEAR(a.g, b.g, 8);
      EXPECT_NEAR(a.b, b.b, 8);
    }
  }
}

TEST(Jpeg, QualityIsOneUnsignedByte) {
  const Bitmap tile = MakeTile(64, 48);
  EXPECT_EQ(EncodeTile(tile, static_cast<std::uint8_t>(300)), EncodeTile(tile, 44));
  EXPECT_EQ(EncodeTile(tile, static_cast<std::uint8_t>(256)), EncodeTile(tile, 1));
  EXPECT_EQ(EncodeTile(tile, static_cast<std::uint8_t>(-5)), EncodeTile(tile, 100));
}

TEST(Jpeg, TileEncoderMatchesCjpeg) {
  // cjpeg with optimised tables and the accurate integer DCT is the same
  // encoder with the same settings, so the files are byte-identical.
  if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not available";
  Bitmap tile(70, 45, PixelFormat::pf8bit);
  tile.Palette() = zv::HalftonePalette();
  tile.CopyRect(0, 0, MakeTile(70, 45), 0, 0, 70, 45);
  const fs::path ppm = TempPath("tile.ppm");
  {
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n70 45\n255\n";
    for (int y = 0; y < 45; ++y)
      for (int x = 0; x < 70; ++x) {
        const Rgb c = tile.Pixel(x, y);
        out.put(static_cast<char>(c.r)).put(static_cast<char>(c.g)).put(static_cast<char>(c.b));
      }
  }
  for (int q : {1, 10, 44, 75, 100}) {
    const fs::path ref = TempPath("cjpeg.jpg");
    const std::string cmd = "cjpeg -quality " + std::to_string(q) + " -optimize -dct int -outfile '" + ref.string() +
                            "' '" + ppm.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(EncodeTile(tile, static_cast<std::uint8_t>(q)), ReadFile(ref.string())) << q;
  }
}

TEST(Jpeg, SavingWithoutPictureAndToBadPaths) {
  zv::TJPEGImage img;
  Bytes out{1, 2, 3};
  img.SaveToMemory(out);
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
  const std::string bad = TempPath("no-such-dir").string() + "/x.jpg";
  try {
    zv::SaveJpegTile(MakeTile(8, 8), 75, bad);
    FAIL() << "no error";
  } catch (const zv::EFileError& e) {
    EXPECT_EQ(std::string(e.what()), zv::msg::CannotCreateFile(bad));
  }
  // An empty picture is libjpeg's to refuse.
  img.AssignPicture(Bitmap(0, 0, PixelFormat::pf24bit));
  EXPECT_THROW(img.SaveToMemory(out), zv::EJPEGException);
}

// The memory encoding is the file byte for byte, for a true-colour tile and
// an indexed one converted on the way; a reused vector keeps its memory, an
// empty one grows past the first buffer, and failures keep their message.
TEST(Jpeg, TileEncodedToMemoryIsTheFile) {
  const Bitmap rgb = MakeTile(150, 100);
  Bitmap indexed(150, 100, PixelFormat::pf8bit);
  indexed.Palette() = zv::HalftonePalette();
  indexed.CopyRect(0, 0, rgb, 0, 0, 150, 100);
  Bytes out(1 << 20, 0xAB);
  const std::uint8_t* const storage = out.data();
  for (const Bitmap* tile : {&rgb, static_cast<const Bitmap*>(&indexed)})
    for (int q : {90, 30}) {
      SCOPED_TRACE(std::to_string(tile->BitsPerPixel()) + " bits, quality " + std::to_string(q));
      zv::EncodeJpegTile(*tile, static_cast<std::uint8_t>(q), out);
      EXPECT_EQ(out, EncodeTile(*tile, static_cast<std::uint8_t>(q)));
      EXPECT_EQ(out.data(), storage);
    }

  Bitmap noise(400, 300, PixelFormat::pf24bit);
  std::uint32_t seed = 1;
  for (int y = 0; y < noise.Height(); ++y)
    for (std::size_t i = 0; i < noise.Stride(); ++i)
      noise.Row(y)[i] = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  Bytes fresh;
  zv::EncodeJpegTile(noise, 100, fresh);
  EXPECT_GT(fresh.size(), 64u * 1024);
  EXPECT_EQ(fresh, EncodeTile(noise, 100));

  const Bitmap empty(0, 0, PixelFormat::pf24bit);
  std::string fileError, memoryError;
  try {
    zv::SaveJpegTile(empty, 75, TempPath("empty.jpg").string());
  } catch (const zv::EJPEGException& e) {
    fileError = e.what();
  }
  try {
    zv::EncodeJpegTile(empty, 75, out);
  } catch (const zv::EJPEGException& e) {
    memoryError = e.what();
  }
  EXPECT_FALSE(fileError.empty());
  EXPECT_EQ(memoryError, fileError);
}

TEST(Jpeg, DecodingTakenOverBytesGivesTheSamePicture) {
  // Sequential, progressive and arithmetic files, and one with a long tail
  // after its end marker (kept, not released early).
  std::vector<std::pair<std::string, Bytes>> inputs;
  for (const char* name : {"testorig.jpg", "video-001.progressive.jpeg", "testimgari.jpg", "video-005.gray.jpeg"})
    inputs.emplace_back(name, ReadFile(DataPath(name)));
  Bytes tailed = ReadFile(DataPath("testorig.jpg"));
  tailed.insert(tailed.end(), 100000, 0x55);
  inputs.emplace_back("long tail", tailed);
  for (auto& [name, data] : inputs) {
    Bitmap expected, taken;
    zv::DecodeJpeg(data.data(), data.size(), expected);
    zv::DecodeJpeg(Bytes(data), taken);
    ASSERT_EQ(taken.Width(), expected.Width()) << name;
    ASSERT_EQ(taken.Format(), expected.Format()) << name;
    EXPECT_EQ(taken.Palette(), expected.Palette()) << name;
    for (int y = 0; y < taken.Height(); ++y)
      ASSERT_EQ(0, std::memcmp(taken.Row(y), expected.Row(y), taken.Stride())) << name << " row " << y;
  }
}
