#include "codecs/Bmp.h"

#include "base/Messages.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace zv {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw EBmpError(msg::InvalidBmp(what)); }

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
std::int32_t LeS32(const std::uint8_t* p) { return static_cast<std::int32_t>(Le32(p)); }

constexpr std::size_t FileHeaderSize = 14;

enum Compression : std::uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3, BiAlphaBitfields = 6 };

// One colour channel of a 16- or 32-bit pixel, scaled to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0; // mask >> shift

  static Channel Make(std::uint32_t mask, const char* name) {
    if (mask == 0) Fail(msg::BmpMaskEmpty(name));
    Channel c;
    c.mask = mask;
    c.shift = std::countr_zero(mask);
    c.max = mask >> c.shift;
    if ((c.max & (c.max + 1)) != 0) Fail(msg::BmpMaskNotContiguous(name));
    return c;
  }
  std::uint8_t operator()(std::uint32_t pixel) const {
    const std::uint64_t v = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  }
};

struct Header {
  std::size_t headerSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0; // positive; topDown tells the row order
  bool topDown = false;
  int bits = 0;
  std::uint32_t compression = BiRgb;
  std::uint32_t imageSize = 0;
  std::uint32_t colorsUsed = 0;
  std::size_t paletteOffset = 0;
  std::size_t paletteEntrySize = 4;
  std::uint32_t masks[3] = {};
};

Header ReadHeader(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || data[0] != 'B' || data[1] != 'M') Fail(msg::BmpNoSignature);
  if (size < FileHeaderSize + 4) Fail(msg::BmpTruncatedHeader);
  Header h;
  h.headerSize = Le32(data + 14);
  const std::size_t hs = h.headerSize;
  // 12: OS/2 1.x and Windows core; 16 and 64: OS/2 2.x; 40, 52, 56, 108, 124:
  // Windows info header and its versions 2 to 5.
  if (hs != 12 && hs != 16 && hs != 40 && hs != 52 && hs != 56 && hs != 64 && hs != 108 && hs != 124)
    Fail(msg::BmpHeaderSizeUnsupported(hs));
  if (size < FileHeaderSize + hs) Fail(msg::BmpTruncatedHeader);
  const std::uint8_t* p = data + FileHeaderSize;
  int planes = 0;
  if (hs == 12) {
    h.width = Le16(p + 4);
    h.height = Le16(p + 6);
    planes = Le16(p + 8);
    h.bits = Le16(p + 10);
    h.paletteEntrySize = 3;
  } else {
    h.width = LeS32(p + 4);
    const std::int64_t height = LeS32(p + 8);
    h.topDown = height < 0;
    h.height = height < 0 ? -height : height;
    planes = Le16(p + 12);
    h.bits = Le16(p + 14);
  }
  if (hs >= 40) {
    h.compression = Le32(p + 16);
    h.imageSize = Le32(p + 20);
    const std::int32_t xDensity = LeS32(p + 24), yDensity = LeS32(p + 28);
    h.colorsUsed = Le32(p + 32);
    if (xDensity < 0 || yDensity < 0 ||
        (xDensity > 0 && yDensity > 0 &&
         (std::int64_t{xDensity} > 100 * std::int64_t{yDensity} || std::int64_t{yDensity} > 100 * std::int64_t{xDensity})))
      Fail(msg::BmpDensityInconsistent(xDensity, yDensity));
  }
  if (planes != 1) Fail(msg::BmpPlanes(planes));
  if (h.width <= 0) Fail(msg::BmpWidth(h.width));
  if (h.height == 0) Fail(msg::BmpHeightZero);

  switch (h.bits) {
  case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
  default: Fail(msg::BmpBitsUnsupported(h.bits));
  }
  const std::uint32_t c = h.compression;
  // OS/2 2.x uses 3 and 4 for Huffman 1D and RLE24, which are not read here.
  if (hs == 64 && (c == BiBitfields || c == 4)) Fail(msg::BmpOs2CompressionUnsupported(c));
  const bool ok = c == BiRgb || (c == BiRle8 && h.bits == 8) || (c == BiRle4 && h.bits == 4) ||
                  ((c == BiBitfields || c == BiAlphaBitfields) && (h.bits == 16 || h.bits == 32));
  if (!ok) Fail(msg::BmpCompressionUnsupported(c, h.bits));
  if ((c == BiRle8 || c == BiRle4) && h.topDown) Fail(msg::BmpCompressedTopDown);

  h.paletteOffset = FileHeaderSize + hs;
  if (c == BiBitfields || c == BiAlphaBitfields) {
    // Masks follow a 40-byte header; longer headers hold them inside.
    const std::size_t at = FileHeaderSize + 40;
    if (hs == 40) h.paletteOffset += c == BiAlphaBitfields ? 16 : 12;
    if (size < at + 12) Fail(msg::BmpTruncatedMasks);
    for (int i = 0; i < 3; ++i) h.masks[i] = Le32(data + at + 4 * static_cast<std::size_t>(i));
  } else if (h.bits == 16) {
    h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
  } else if (h.bits == 32) {
    h.masks[0] = 0xFF0000, h.masks[1] = 0x00FF00, h.masks[2] = 0x0000FF;
  }
  return h;
}

// Decodes RLE8 or RLE4 data into an indexed bitmap whose rows are stored
// bottom-up. Pixels that delta and early end-of-line codes skip keep index 0.
void DecodeRle(const std::uint8_t* p, std::size_t n, bool rle4, Bitmap& bmp) {
  const std::int64_t width = bmp.Width(), height = bmp.Height();
  std::int64_t x = 0, y = 0; // y counts rows from the bottom
  std::size_t i = 0;
  const auto put = [&](std::uint8_t index) {
    if (x >= width || y >= height) Fail(msg::BmpRunPastRow);
    bmp.SetIndex(static_cast<int>(x), static_cast<int>(height - 1 - y), index);
    ++x;
  };
  for (;;) {
    if (n - i < 2) Fail(msg::BmpNoEndOfBitmap);
    const std::uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count; ++k)
        put(rle4 ? static_cast<std::uint8_t>((k & 1) ? value & 0x0F : value >> 4) : value);
      continue;
    }
    if (value == 0) { // end of line
      x = 0;
      ++y;
    } else if (value == 1) { // end of bitmap
      return;
    } else if (value == 2) { // delta
      if (n - i < 2) Fail(msg::BmpTruncatedDelta);
      x += p[i];
      y += p[i + 1];
      i += 2;
      if (x > width || y > height || (y == height && x > 0)) Fail(msg::BmpDeltaOutside);
    } else { // absolute run of `value` pixels, padded to a 16-bit boundary
      const std::size_t bytes = rle4 ? (value + 1u) / 2 : value;
      const std::size_t padded = (bytes + 1) & ~std::size_t{1};
      if (n - i < padded) Fail(msg::BmpTruncatedAbsoluteRun);
      for (int k = 0; k < value; ++k) {
        const std::uint8_t b = p[i + (rle4 ? static_cast<std::size_t>(k / 2) : static_cast<std::size_t>(k))];
        put(rle4 ? static_cast<std::uint8_t>((k & 1) ? b & 0x0F : b >> 4) : b);
      }
      i += padded;
    }
  }
}

// Index past the colour table: the pixel would have no colour. Only tables
// shorter than the depth allows need the scan.
void CheckIndices(const Bitmap& bmp, std::size_t colours) {
  if (colours >= (std::size_t{1} << bmp.BitsPerPixel())) return;
  for (int y = 0; y < bmp.Height(); ++y) {
    const std::uint8_t* row = bmp.Row(y);
    int bad = -1;
    if (bmp.Format() == PixelFormat::pf8bit) {
      std::uint8_t highest = 0;
      for (int x = 0; x < bmp.Width(); ++x) highest = std::max(highest, row[x]);
      if (highest >= colours)
        for (int x = 0; x < bmp.Width() && bad < 0; ++x) bad = row[x] >= colours ? x : -1;
    } else {
      for (int x = 0; x < bmp.Width() && bad < 0; ++x) bad = bmp.Index(x, y) >= colours ? x : -1;
    }
    if (bad >= 0) Fail(msg::BmpColourOutsideTable(bad, y, bmp.Index(bad, y), colours));
  }
}

using RowsRead = std::function<void(const std::uint8_t* row, std::size_t bytes)>;

// Where the pixel data starts and how many bytes follow it. The sizes the
// file header and the info header claim are checked against the file.
struct PixelData {
  std::size_t offset = 0;
  std::size_t available = 0;
};

PixelData LocatePixelData(const Header& h, const std::uint8_t* data, std::size_t size) {
  const std::uint32_t declaredSize = Le32(data + 2);
  const std::uint32_t offset = Le32(data + 10);
  if (declaredSize > size) Fail(msg::BmpFileSizeMismatch(declaredSize, size));
  if (offset > size || offset < h.paletteOffset) Fail(msg::BmpPixelOffsetInvalid(offset));
  const std::size_t available = size - offset;
  if (h.imageSize > available) Fail(msg::BmpImageSizeMismatch(h.imageSize, available));
  return {offset, available};
}

// The colour table between the headers and the pixel data, in BGR(0) order.
std::vector<Rgb> ReadColourTable(const Header& h, const std::uint8_t* data, std::size_t offset) {
  const std::uint64_t limit = std::uint64_t{1} << h.bits;
  const std::uint64_t entries = h.colorsUsed ? h.colorsUsed : limit;
  if (entries * h.paletteEntrySize > offset - h.paletteOffset) Fail(msg::BmpColourTableTooLong(entries));
  // A table longer than the depth can address keeps only the reachable entries.
  std::vector<Rgb> palette;
  for (std::uint64_t i = 0; i < std::min(entries, limit); ++i) {
    const std::uint8_t* e = data + h.paletteOffset + i * h.paletteEntrySize;
    palette.push_back({e[2], e[1], e[0]});
  }
  return palette;
}

Bitmap DecodeRunLengths(const Header& h, const std::uint8_t* pixels, std::size_t available, PixelFormat format) {
  // End-of-line and delta codes let a few bytes cover any picture, so a tiny
  // file could make us reserve and scan gigabytes. Real run-length maps
  // stay far below one pixel in a thousand per byte; small pictures aside.
  const std::size_t rleSize = h.imageSize ? h.imageSize : available;
  const std::uint64_t pixels64 = static_cast<std::uint64_t>(h.width) * h.height;
  if (pixels64 > std::max<std::uint64_t>(std::uint64_t{1} << 24, std::uint64_t{rleSize} * 1024))
    Fail(msg::BmpRunLengthTooShort(rleSize, h.width, h.height));
  Bitmap bmp(static_cast<int>(h.width), static_cast<int>(h.height), format);
  DecodeRle(pixels, rleSize, h.compression == BiRle4, bmp);
  return bmp;
}

// 16- and 32-bit pixels: each channel through its mask, scaled to 8 bits.
class BitFields {
public:
  explicit BitFields(const Header& h)
      : bits_(h.bits), r_(Channel::Make(h.masks[0], msg::BmpRed)), g_(Channel::Make(h.masks[1], msg::BmpGreen)),
        b_(Channel::Make(h.masks[2], msg::BmpBlue)) {
    if ((r_.mask & g_.mask) || (r_.mask & b_.mask) || (g_.mask & b_.mask)) Fail(msg::BmpMasksOverlap);
    if (bits_ == 16 && ((r_.mask | g_.mask | b_.mask) >> 16)) Fail(msg::BmpMaskOver16Bits);
  }
  void Row(const std::uint8_t* s, std::uint8_t* d, int width) const {
    for (int x = 0; x < width; ++x, d += 3) {
      std::uint32_t v = 0;
      if (bits_ == 16) {
        v = Le16(s);
        s += 2;
      } else {
        v = Le32(s);
        s += 4;
      }
      d[0] = r_(v);
      d[1] = g_(v);
      d[2] = b_(v);
    }
  }

private:
  int bits_;
  Channel r_, g_, b_;
};

// Uncompressed rows, padded to four bytes, bottom-up unless the header says
// top-down. Each row goes to rowsRead once it is converted.
Bitmap DecodeUncompressed(const Header& h, const std::uint8_t* pixels, std::size_t available, PixelFormat format,
                          const RowsRead& rowsRead) {
  const std::uint64_t stride = (static_cast<std::uint64_t>(h.width) * static_cast<unsigned>(h.bits) + 31) / 32 * 4;
  if (stride * static_cast<std::uint64_t>(h.height) > available)
    Fail(msg::BmpPixelsTruncated(stride * static_cast<std::uint64_t>(h.height), available));
  const int width = static_cast<int>(h.width), height = static_cast<int>(h.height);
  Bitmap bmp(width, height, format);
  const auto eachRow = [&](auto&& convert) {
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* s = pixels + (h.topDown ? y : height - 1 - y) * stride;
      convert(s, y);
      if (rowsRead) rowsRead(s, static_cast<std::size_t>(stride));
    }
  };
  if (h.bits == 2) {
    eachRow([&](const std::uint8_t* s, int y) {
      for (int x = 0; x < width; ++x) bmp.SetIndex(x, y, static_cast<std::uint8_t>(s[x >> 2] >> (6 - 2 * (x & 3)) & 3));
    });
  } else if (h.bits <= 8) {
    eachRow([&](const std::uint8_t* s, int y) { std::memcpy(bmp.Row(y), s, bmp.Stride()); });
  } else if (h.bits == 24) {
    eachRow([&](const std::uint8_t* s, int y) {
      std::uint8_t* d = bmp.Row(y);
      for (int x = 0; x < width; ++x, s += 3, d += 3) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
      }
    });
  } else {
    const BitFields fields(h);
    eachRow([&](const std::uint8_t* s, int y) { fields.Row(s, bmp.Row(y), width); });
  }
  return bmp;
}

} // namespace

void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& bitmap) { DecodeBmp(data, size, bitmap, {}); }

void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& bitmap, const RowsRead& rowsRead) {
  const Header h = ReadHeader(data, size);
  const PixelData at = LocatePixelData(h, data, size);
  const bool indexed = h.bits <= 8;
  // 2-bit files (Windows CE) widen to 4 bits, as no 2-bit bitmap exists.
  const PixelFormat format =
      !indexed ? PixelFormat::pf24bit : h.bits == 2 ? PixelFormat::pf4bit : static_cast<PixelFormat>(h.bits);
  CheckPictureFits(h.width, h.height, format, 0);
  std::vector<Rgb> palette;
  if (indexed) palette = ReadColourTable(h, data, at.offset);

  const std::uint8_t* pixels = data + at.offset;
  Bitmap bmp = h.compression == BiRle8 || h.compression == BiRle4
                   ? DecodeRunLengths(h, pixels, at.available, format)
                   : DecodeUncompressed(h, pixels, at.available, format, rowsRead);
  if (indexed) {
    CheckIndices(bmp, palette.size());
    bmp.Palette() = std::move(palette);
  }
  bitmap = std::move(bmp);
}

} // namespace zv
