#include "codecs/PngTile.h"

#include "base/FileCloser.h"
#include "base/Messages.h"
#include "codecs/PngGreyLevels.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace zv {

namespace {

// The 64-colour choice: the 4x4x4 cube with levels 0, 85, 170, 255, red slowest.
std::vector<Rgb> CubePalette64() {
  std::vector<Rgb> p;
  for (int r = 0; r < 4; ++r)
    for (int g = 0; g < 4; ++g)
      for (int b = 0; b < 4; ++b)
        p.push_back({static_cast<std::uint8_t>(85 * r), static_cast<std::uint8_t>(85 * g),
                     static_cast<std::uint8_t>(85 * b)});
  return p;
}

// The bit depth written for a requested pair, or 0 when the pair is refused.
// Depth 2 is written as 4 and the 64-colour palette as 8. Tiles hold at most
// 8 bits per sample, so a requested 16 is written as 8.
int WrittenDepth(TPngColorType colorType, int bitDepth) {
  switch (colorType) {
  case TPngColorType::Gray:
    switch (bitDepth) {
    case 1: return 1;
    case 2: case 4: return 4;
    case 8: case 16: return 8;
    default: return 0;
    }
  case TPngColorType::Palette:
    switch (bitDepth) {
    case 1: return 1;
    case 2: case 4: return 4;
    case 6: case 8: return 8;
    default: return 0;
    }
  case TPngColorType::Rgb: case TPngColorType::GrayAlpha: case TPngColorType::RgbAlpha:
    return bitDepth == 8 || bitDepth == 16 ? 8 : 0;
  default: return 0; // a value outside the enumeration
  }
}

bool HasAlpha(TPngColorType t) { return t == TPngColorType::GrayAlpha || t == TPngColorType::RgbAlpha; }

void PutBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Where the encoded bytes go. A file and a memory copy of one tile come from
// the same encoder, so they cannot differ.
class ByteSink {
public:
  virtual void Write(const std::uint8_t* data, std::size_t n) = 0;

protected:
  ~ByteSink() = default;
};

// Any failed write or close raises the file layer's "cannot create" error (a
// partial file is left as it is).
class FileSink final : public ByteSink {
public:
  explicit FileSink(const std::string& fileName) : name_(fileName), file_(std::fopen(fileName.c_str(), "wb")) {
    if (!file_) ThrowCannotCreate(fileName);
  }
  void Write(const std::uint8_t* data, std::size_t n) override {
    if (n && std::fwrite(data, 1, n, file_.get()) != n) ThrowCannotCreate(name_);
  }
  void Finish() {
    if (std::fclose(file_.release()) != 0) ThrowCannotCreate(name_);
  }

private:
  std::string name_;
  UniqueFile file_;
};

class MemorySink final : public ByteSink {
public:
  explicit MemorySink(std::vector<std::uint8_t>& out) : out_(out) { out_.clear(); }
  void Write(const std::uint8_t* data, std::size_t n) override {
    if (n) out_.insert(out_.end(), data, data + n);
  }

private:
  std::vector<std::uint8_t>& out_;
};

// One chunk: length, type, data, and the CRC of type and data.
void WriteChunk(ByteSink& out, const char* type, const std::uint8_t* data, std::size_t n) {
  std::uint8_t head[8];
  PutBe32(head, static_cast<std::uint32_t>(n));
  std::memcpy(head + 4, type, 4);
  uLong crc = crc32(0, head + 4, 4);
  if (n) crc = crc32(crc, data, static_cast<uInt>(n));
  std::uint8_t tail[4];
  PutBe32(tail, static_cast<std::uint32_t>(crc));
  out.Write(head, 8);
  out.Write(data, n);
  out.Write(tail, 4);
}

// The signature, IHDR (no interlacing) and, for palette tiles, PLTE.
void WriteHeader(ByteSink& out, const Bitmap& bmp, TPngColorType colorType, int bitDepth) {
  static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  out.Write(signature, 8);
  std::uint8_t ihdr[13];
  PutBe32(ihdr, static_cast<std::uint32_t>(bmp.Width()));
  PutBe32(ihdr + 4, static_cast<std::uint32_t>(bmp.Height()));
  ihdr[8] = static_cast<std::uint8_t>(bitDepth);
  ihdr[9] = static_cast<std::uint8_t>(colorType);
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  WriteChunk(out, "IHDR", ihdr, sizeof ihdr);
  if (colorType == TPngColorType::Palette) {
    std::vector<std::uint8_t> plte;
    for (const Rgb& c : bmp.Palette()) plte.insert(plte.end(), {c.r, c.g, c.b});
    WriteChunk(out, "PLTE", plte.data(), plte.size());
  }
}

// The size of every IDAT chunk but the last.
constexpr std::size_t IdatSize = 65535;

// Compresses the filtered rows as one zlib stream at level 7 and writes it
// in IDAT chunks of 65535 bytes, the remainder last.
class IdatWriter {
public:
  explicit IdatWriter(ByteSink& out) : out_(out), idat_(IdatSize) {
    if (deflateInit2(&z_, 7, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw EPngError(msg::ZlibInitFailed);
    z_.next_out = idat_.data();
    z_.avail_out = IdatSize;
  }
  ~IdatWriter() { deflateEnd(&z_); }
  IdatWriter(const IdatWriter&) = delete;
  IdatWriter& operator=(const IdatWriter&) = delete;

  void Row(std::vector<std::uint8_t>& filtered) {
    z_.next_in = filtered.data();
    z_.avail_in = static_cast<uInt>(filtered.size());
    Pump(Z_NO_FLUSH);
  }
  void Finish() {
    Pump(Z_FINISH);
    if (z_.avail_out != IdatSize) WriteChunk(out_, "IDAT", idat_.data(), IdatSize - z_.avail_out);
  }

private:
  void Pump(int flush) {
    int rc = Z_OK;
    do {
      rc = deflate(&z_, flush);
      if (rc == Z_STREAM_ERROR) throw EPngError(msg::ZlibCompressionFailed);
      if (z_.avail_out == 0) {
        WriteChunk(out_, "IDAT", idat_.data(), IdatSize);
        z_.next_out = idat_.data();
        z_.avail_out = IdatSize;
      }
    } while (flush == Z_FINISH ? rc != Z_STREAM_END : z_.avail_in != 0);
  }

  ByteSink& out_;
  z_stream z_{};
  std::vector<std::uint8_t> idat_;
};

// Every row with the Sub filter, whose distance is one whole pixel, or one
// byte below 8 bits per pixel (PNG standard, filter type 1), handed to row
// one at a time. Alpha tiles are drawn without alpha, so an opaque alpha
// sample follows each pixel.
template <class RowSink> void FilterRows(const Bitmap& bmp, TPngColorType colorType, RowSink&& sink) {
  const std::size_t width = static_cast<std::size_t>(bmp.Width());
  std::size_t rowBytes = bmp.Stride();
  std::size_t bpp = 1;
  switch (colorType) {
  case TPngColorType::Rgb: bpp = 3; break;
  case TPngColorType::GrayAlpha: bpp = 2; rowBytes = 2 * width; break;
  case TPngColorType::RgbAlpha: bpp = 4; rowBytes = 4 * width; break;
  default: bpp = 1; break;
  }
  const std::size_t channels = colorType == TPngColorType::GrayAlpha ? 1 : 3; // drawn samples of alpha tiles
  std::vector<std::uint8_t> raw(HasAlpha(colorType) ? rowBytes : 0);
  std::vector<std::uint8_t> filtered(rowBytes + 1);
  for (int y = 0; y < bmp.Height(); ++y) {
    const std::uint8_t* row = bmp.Row(y);
    if (HasAlpha(colorType)) {
      for (std::size_t x = 0; x < width; ++x) {
        std::memcpy(&raw[x * (channels + 1)], row + x * channels, channels);
        raw[x * (channels + 1) + channels] = 255;
      }
      row = raw.data();
    }
    filtered[0] = 1; // Sub
    for (std::size_t i = 0; i < rowBytes; ++i)
      filtered[i + 1] = static_cast<std::uint8_t>(row[i] - (i >= bpp ? row[i - bpp] : 0));
    sink(filtered);
  }
}

// libdeflate works on whole buffers: each thread keeps its compressor and
// buffers from tile to tile, as fresh ones would cost fresh pages each time.
struct TLibdeflateState {
  struct Free {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
  };
  std::unique_ptr<libdeflate_compressor, Free> Compressor;
  std::vector<std::uint8_t> Data, Compressed;
};

void WriteImageData(ByteSink& out, const Bitmap& bmp, TPngColorType colorType, TPngDeflater deflater) {
  if (deflater == TPngDeflater::Zlib) {
    IdatWriter idat(out);
    FilterRows(bmp, colorType, [&](std::vector<std::uint8_t>& filtered) { idat.Row(filtered); });
    idat.Finish();
    return;
  }
  thread_local TLibdeflateState state;
  if (!state.Compressor) state.Compressor.reset(libdeflate_alloc_compressor(7));
  if (!state.Compressor) throw EPngError(msg::ZlibInitFailed);
  std::vector<std::uint8_t>& data = state.Data;
  data.clear();
  FilterRows(bmp, colorType,
             [&](std::vector<std::uint8_t>& filtered) { data.insert(data.end(), filtered.begin(), filtered.end()); });
  std::vector<std::uint8_t>& compressed = state.Compressed;
  compressed.resize(libdeflate_zlib_compress_bound(state.Compressor.get(), data.size()));
  const std::size_t n =
      libdeflate_zlib_compress(state.Compressor.get(), data.data(), data.size(), compressed.data(), compressed.size());
  if (n == 0) throw EPngError(msg::ZlibCompressionFailed);
  // The same chunking as the streamed data: full chunks, the remainder last.
  for (std::size_t pos = 0; pos < n; pos += IdatSize)
    WriteChunk(out, "IDAT", compressed.data() + pos, std::min(IdatSize, n - pos));
  // Buffers of an unusually large tile are not kept for the thread's life.
  constexpr std::size_t kKeep = std::size_t{8} << 20;
  if (data.capacity() > kKeep || compressed.capacity() > kKeep) {
    std::vector<std::uint8_t>().swap(data);
    std::vector<std::uint8_t>().swap(compressed);
  }
}

} // namespace

struct TPngTileImage::State {
  TPngColorType colorType = TPngColorType::Gray;
  int bitDepth = 0;
  Bitmap pixels;
  BitmapCanvas canvas{pixels};

  void Encode(ByteSink& out, TPngDeflater deflater = TPngDeflater::Zlib) const {
    WriteHeader(out, pixels, colorType, bitDepth);
    WriteImageData(out, pixels, colorType, deflater);
    WriteChunk(out, "IEND", nullptr, 0);
  }
};

TPngTileImage::TPngTileImage(TPngColorType colorType, int bitDepth, int width, int height) {
  const int depth = WrittenDepth(colorType, bitDepth);
  if (depth == 0) throw EPngError(msg::PngCannotCreate);
  if (width < 1 || height < 1) throw EPngError(msg::PngTileTooSmall(width, height));
  CheckImageSize(width, height, PixelFormat::pf24bit);

  PixelFormat format = PixelFormat::pf24bit;
  std::vector<Rgb> palette;
  if (colorType == TPngColorType::Gray || colorType == TPngColorType::GrayAlpha) {
    const int greyDepth = colorType == TPngColorType::GrayAlpha ? 8 : depth;
    format = static_cast<PixelFormat>(greyDepth);
    palette = PngGreyLevels(greyDepth);
  } else if (colorType == TPngColorType::Palette) {
    format = static_cast<PixelFormat>(depth);
    if (bitDepth == 6) {
      palette = CubePalette64();
    } else {
      const auto& h = HalftonePalette();
      palette.assign(h.begin(), h.begin() + (std::ptrdiff_t{1} << depth));
    }
  }
  s_ = std::make_unique<State>();
  s_->colorType = colorType;
  s_->bitDepth = depth;
  s_->pixels = Bitmap(width, height, format);
  s_->pixels.Palette() = std::move(palette);
}

TPngTileImage::~TPngTileImage() = default;

TPngColorType TPngTileImage::ColorType() const { return s_->colorType; }
int TPngTileImage::BitDepth() const { return s_->bitDepth; }
int TPngTileImage::Width() const { return s_->pixels.Width(); }
int TPngTileImage::Height() const { return s_->pixels.Height(); }
TCanvas& TPngTileImage::Canvas() { return s_->canvas; }
const Bitmap& TPngTileImage::Pixels() const { return s_->pixels; }

void TPngTileImage::Clear() {
  Bitmap& b = s_->pixels;
  for (int y = 0; y < b.Height(); ++y) std::memset(b.Row(y), 0, b.Stride());
}

void TPngTileImage::SaveToFile(const std::string& fileName) const {
  FileSink out(fileName);
  s_->Encode(out);
  out.Finish();
}

void TPngTileImage::SaveToMemory(std::vector<std::uint8_t>& out, TPngDeflater deflater) const {
  MemorySink sink(out);
  s_->Encode(sink, deflater);
}

} // namespace zv
