// Pictures the machine cannot hold are refused before they are allocated,
// whatever their format, with what they need and what is available.
#include "base/Memory.h"
#include "codecs/Bmp.h"
#include "codecs/Jpeg.h"
#include "codecs/Png.h"
#include "codecs/PngTile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t MiB = 1 << 20;

std::uint64_t TwoMiB() { return 2 * MiB; }
std::uint64_t OneGiB() { return 1024 * MiB; }

// Puts a fixed figure in place of the system's for one test.
class FixedMemory {
public:
  explicit FixedMemory(zv::AvailableMemoryReader reader) : before_(zv::SetAvailableMemoryReader(reader)) {}
  ~FixedMemory() { zv::SetAvailableMemoryReader(before_); }
  FixedMemory(const FixedMemory&) = delete;
  FixedMemory& operator=(const FixedMemory&) = delete;

private:
  zv::AvailableMemoryReader before_;
};

template <class Decode> std::string ErrorOf(Decode&& decode) {
  try {
    decode();
  } catch (const zv::Error& e) {
    return e.what();
  }
  return {};
}

Bytes Jpeg(int width, int height) {
  zv::Bitmap picture(width, height, zv::PixelFormat::pf24bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.SetPixel(x, y, zv::Rgb{std::uint8_t(x), std::uint8_t(y), std::uint8_t(x ^ y)});
  zv::TJPEGImage encoder;
  encoder.SetNumOfColors(zv::TNumOfColors::TrueColor);
  encoder.AssignPicture(picture);
  Bytes out;
  encoder.SaveToMemory(out);
  return out;
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A 24-bit BMP of grey pixels.
Bytes Bmp(int width, int height) {
  const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
  Bytes b(54 + stride * static_cast<std::size_t>(height), 0x80);
  std::fill(b.begin(), b.begin() + 54, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(width));
  Put32(b, 22, static_cast<std::uint32_t>(height));
  b[26] = 1;
  b[28] = 24;
  return b;
}

Bytes Png(int width, int height) {
  zv::TPngTileImage png(zv::TPngColorType::Rgb, 8, width, height);
  Bytes out;
  png.SaveToMemory(out);
  return out;
}

TEST(PictureMemory, EveryFormatIsRefusedBeforeItIsAllocated) {
  const Bytes jpeg = Jpeg(1600, 1200), bmp = Bmp(1000, 1000), png = Png(1000, 1000);
  const std::regex jpegRefusal("The picture needs [2-9] MiB; only 2 MiB are available\\.");
  const std::string rgbRefusal = "The picture needs 3 MiB; only 2 MiB are available.";
  zv::Bitmap out;
  {
    const FixedMemory small(TwoMiB);
    for (const zv::TQuantiser q : {zv::TQuantiser::Streaming, zv::TQuantiser::Libjpeg})
      EXPECT_TRUE(std::regex_match(ErrorOf([&] { zv::DecodeJpeg(jpeg.data(), jpeg.size(), out, q); }), jpegRefusal));
    EXPECT_EQ(ErrorOf([&] { zv::DecodeBmp(bmp.data(), bmp.size(), out); }), rgbRefusal);
    EXPECT_EQ(ErrorOf([&] { zv::DecodePng(png.data(), png.size(), out); }), rgbRefusal);
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(f);
    std::fwrite(png.data(), 1, png.size(), f);
    std::rewind(f);
    EXPECT_EQ(ErrorOf([&] { zv::DecodePng(f, png.size(), out); }), rgbRefusal);
    std::fclose(f);
    EXPECT_TRUE(out.Empty()); // nothing was decoded
  }
  const FixedMemory plenty(OneGiB);
  EXPECT_EQ(ErrorOf([&] { zv::DecodeJpeg(jpeg.data(), jpeg.size(), out); }), "");
  EXPECT_EQ(out.Width(), 1600);
  EXPECT_EQ(ErrorOf([&] { zv::DecodeBmp(bmp.data(), bmp.size(), out); }), "");
  EXPECT_EQ(ErrorOf([&] { zv::DecodePng(png.data(), png.size(), out); }), "");
}

TEST(PictureMemory, HostileFilesGetTheirOwnMessageFirst) {
  // A header for 40000 x 40000 over a few bytes of data: refused as too
  // short for its size, whatever the memory.
  Bytes jpeg = Jpeg(16, 16);
  for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 0x9C, jpeg[i + 6] = 0x40, jpeg[i + 7] = 0x9C, jpeg[i + 8] = 0x40;
      break;
    }
  const FixedMemory small(TwoMiB);
  zv::Bitmap out;
  EXPECT_EQ(ErrorOf([&] { zv::DecodeJpeg(jpeg.data(), jpeg.size(), out); }),
            "JPEG data too short for a 40000 × 40000 image");
}

} // namespace
