#include "export/TileFormat.h"

#include "base/Errors.h"
#include "codecs/Bitmap.h"
#include "codecs/Jpeg.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <map>

namespace zv {

namespace {

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// One chunk as the PNG standard frames it: length, type, data, CRC-32 of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
  PutBigEndian(out, static_cast<std::uint32_t>(crc));
}

std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
    throw Error("PNG tile compression failed");
  out.resize(size);
  return out;
}

std::uint32_t Key(const std::uint8_t* p) {
  // Every uncovered pixel is one colour: transparent.
  if (p[3] == 0) return 0;
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The tile's colours in the order they first appear, or none when there are
// more than 256.
std::map<std::uint32_t, std::uint8_t> Palette(const TRgbaTile& tile, std::vector<std::uint32_t>& order) {
  std::map<std::uint32_t, std::uint8_t> index;
  for (int y = 0; y < tile.Height(); ++y)
    for (int x = 0; x < tile.Width(); ++x) {
      const std::uint32_t key = Key(tile.Row(y) + 4 * x);
      if (index.count(key)) continue;
      if (order.size() == 256) return {};
      index.emplace(key, static_cast<std::uint8_t>(order.size()));
      order.push_back(key);
    }
  return index;
}

std::vector<std::uint8_t> Header(const TRgbaTile& tile, std::uint8_t colourType) {
  std::vector<std::uint8_t> ihdr;
  PutBigEndian(ihdr, static_cast<std::uint32_t>(tile.Width()));
  PutBigEndian(ihdr, static_cast<std::uint32_t>(tile.Height()));
  for (std::uint8_t b : {std::uint8_t{8}, colourType, std::uint8_t{0}, std::uint8_t{0}, std::uint8_t{0}})
    ihdr.push_back(b);
  return ihdr;
}

std::vector<std::uint8_t> EncodePng(const TRgbaTile& tile, bool palette) {
  std::vector<std::uint32_t> order;
  const auto index = palette ? Palette(tile, order) : std::map<std::uint32_t, std::uint8_t>{};
  bool opaque = true;
  for (int y = 0; y < tile.Height() && opaque; ++y)
    for (int x = 0; x < tile.Width() && opaque; ++x) opaque = tile.Row(y)[4 * x + 3] == 255;
  const bool indexed = !index.empty();
  const std::uint8_t colourType = indexed ? 3 : opaque ? 2 : 6;
  const int channels = indexed ? 1 : opaque ? 3 : 4;
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(tile.Height()) * (1 + tile.Width() * channels));
  for (int y = 0; y < tile.Height(); ++y) {
    raw.push_back(0); // filter type None
    const std::uint8_t* p = tile.Row(y);
    for (int x = 0; x < tile.Width(); ++x, p += 4) {
      if (indexed)
        raw.push_back(index.at(Key(p)));
      else
        raw.insert(raw.end(), p, p + channels);
    }
  }
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(out, "IHDR", Header(tile, colourType));
  if (indexed) {
    std::vector<std::uint8_t> plte, trns;
    for (std::uint32_t key : order) {
      for (int shift : {24, 16, 8}) plte.push_back(static_cast<std::uint8_t>(key >> shift));
      trns.push_back(static_cast<std::uint8_t>(key));
    }
    PutChunk(out, "PLTE", plte);
    if (std::any_of(trns.begin(), trns.end(), [](std::uint8_t a) { return a != 255; })) PutChunk(out, "tRNS", trns);
  }
  PutChunk(out, "IDAT", Deflate(raw));
  PutChunk(out, "IEND", {});
  return out;
}

std::vector<std::uint8_t> EncodeJpeg(const TRgbaTile& tile, int quality) {
  Bitmap rgb(tile.Width(), tile.Height(), PixelFormat::pf24bit);
  for (int y = 0; y < tile.Height(); ++y) {
    const std::uint8_t* p = tile.Row(y);
    std::uint8_t* q = rgb.Row(y);
    for (int x = 0; x < tile.Width(); ++x, p += 4, q += 3)
      for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>((p[c] * p[3] + 255 * (255 - p[3]) + 127) / 255);
  }
  std::vector<std::uint8_t> out;
  EncodeJpegTile(rgb, static_cast<std::uint8_t>(std::clamp(quality, 1, 100)), out);
  return out;
}

} // namespace

const char* TileFormatExtension(TTileFormat format) { return format == TTileFormat::Png ? "png" : "jpg"; }

bool TRgbaTile::AnyCovered() const {
  for (std::size_t i = 3; i < pixels_.size(); i += 4)
    if (pixels_[i]) return true;
  return false;
}

void ReduceIntoQuadrant(const TRgbaTile& child, int qx, int qy, TRgbaTile& parent) {
  const int w = child.Width() / 2, h = child.Height() / 2;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* a = child.Row(2 * y);
    const std::uint8_t* b = child.Row(2 * y + 1);
    std::uint8_t* out = parent.Row(qy * h + y) + 4 * qx * w;
    for (int x = 0; x < w; ++x, a += 8, b += 8, out += 4) {
      const std::array<const std::uint8_t*, 4> px = {a, a + 4, b, b + 4};
      unsigned alpha = 0;
      std::array<unsigned, 3> sum = {0, 0, 0};
      for (const std::uint8_t* p : px) {
        alpha += p[3];
        for (int c = 0; c < 3; ++c) sum[c] += p[c] * p[3];
      }
      for (int c = 0; c < 3; ++c) out[c] = alpha ? static_cast<std::uint8_t>((sum[c] + alpha / 2) / alpha) : 0;
      out[3] = static_cast<std::uint8_t>((alpha + 2) / 4);
    }
  }
}

std::vector<std::uint8_t> EncodeTile(const TRgbaTile& tile, const TTileEncoding& encoding) {
  return encoding.Format == TTileFormat::Png ? EncodePng(tile, encoding.PngPalette) : EncodeJpeg(tile, encoding.Quality);
}

} // namespace zv
