#include "codecs/Png.h"

#include "base/Messages.h"
#include "codecs/FileCloser.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace zv {

namespace {

// The 2^depth grey levels of a grey PNG, spread evenly from black to white
// and rounded to 8 bits; both the decoder and the tile writer use them.
std::vector<Rgb> GreyLevels(int depth) {
  std::vector<Rgb> p;
  const int levels = 1 << depth;
  for (int n = 0; n < levels; ++n) {
    const auto v = static_cast<std::uint8_t>((n * 255 + (levels - 1) / 2) / (levels - 1));
    p.push_back({v, v, v});
  }
  return p;
}

// ---------------------------------------------------------------------------
// Decoding

std::uint32_t ReadBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The gAMA value that applies, or 0. libpng 1.6 folds sRGB and iCCP into its
// own gamma value, so the chunk is looked up directly: the first gAMA with a
// good CRC before PLTE and IDAT, which is the one libpng would accept.
// read(pos, out, n) copies n bytes of the input from pos; false when it cannot.
template <class Read> std::uint32_t FindGamma(std::size_t size, Read&& read) {
  std::size_t pos = 8;
  while (size >= 12 && pos <= size - 12) {
    std::uint8_t head[8];
    if (!read(pos, head, 8)) return 0;
    const std::uint32_t length = ReadBe32(head);
    const std::uint8_t* type = head + 4;
    if (length > size - pos - 12) return 0;
    if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "PLTE", 4) == 0 || std::memcmp(type, "IEND", 4) == 0)
      return 0;
    if (std::memcmp(type, "gAMA", 4) == 0) {
      if (length != 4) return 0;
      std::uint8_t body[12]; // type, value, CRC
      if (!read(pos + 4, body, 12)) return 0;
      const auto crc = static_cast<std::uint32_t>(crc32(0, body, 8));
      return crc == ReadBe32(body + 8) ? ReadBe32(body + 4) : 0;
    }
    pos += 12 + std::size_t{length};
  }
  return 0;
}

// Bytes of IDAT data, the only chunks that fill pixels; counted up to IEND
// or the first chunk that claims more than the file holds. read as for FindGamma.
template <class Read> std::uint64_t IdatBytes(std::size_t size, Read&& read) {
  std::uint64_t total = 0;
  std::size_t pos = 8;
  while (size >= 12 && pos <= size - 12) {
    std::uint8_t head[8];
    if (!read(pos, head, 8)) return total;
    const std::uint32_t length = ReadBe32(head);
    if (length > size - pos - 12) return total + (size - pos - 12); // cut: what is there
    if (std::memcmp(head + 4, "IEND", 4) == 0) break;
    if (std::memcmp(head + 4, "IDAT", 4) == 0) total += length;
    pos += 12 + std::size_t{length};
  }
  return total;
}

// Reads of a file at increasing positions, through a window so that a file
// of many small chunks costs few reads.
class WindowReader {
public:
  WindowReader(int fd, off_t base) : fd_(fd), base_(base), window_(1 << 16) {}
  bool operator()(std::size_t pos, std::uint8_t* out, std::size_t n) {
    if (pos < start_ || pos + n > start_ + filled_) {
      start_ = pos;
      filled_ = 0;
      while (filled_ < window_.size()) {
        const ssize_t got = ::pread(fd_, window_.data() + filled_, window_.size() - filled_,
                                    base_ + static_cast<off_t>(start_ + filled_));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        filled_ += static_cast<std::size_t>(got);
      }
      if (n > filled_) return false;
    }
    std::memcpy(out, window_.data() + (pos - start_), n);
    return true;
  }

private:
  int fd_;
  off_t base_;
  std::vector<std::uint8_t> window_;
  std::size_t start_ = 0, filled_ = 0;
};

// How rows delivered by libpng become bitmap rows.
enum class Route : std::uint8_t {
  Direct,     // libpng's row is the bitmap row (indexed formats, RGB 8)
  Pack2To4,   // 2-bit indices widened to 4-bit nibbles
  IndexToRgb, // 8-bit indices (unpacked by libpng) through a flattened colour table
  GreyToRgb,  // 8-bit grey through the gamma table
  GreyAlpha,  // grey + alpha, 8 bits each, flattened onto white
  RgbAlpha,   // RGBA, 8 bits each, flattened onto white
};

struct DecodeJob {
  const std::uint8_t* data = nullptr;
  std::FILE* file = nullptr; // read instead of data when set
  std::size_t size = 0;
  std::size_t pos = 0;
  std::uint64_t idatBytes = 0;
  char message[256] = {};

  std::array<std::uint8_t, 256> gamma{}; // identity without gAMA
  bool hasGamma = false;
  std::array<Rgb, 256> colours{};        // IndexToRgb: each index flattened onto white
  std::array<std::uint16_t, 256> widen{}; // Pack2To4: one byte of four 2-bit pixels -> two bytes
  Route route = Route::Direct;
  PixelFormat format = PixelFormat::pf24bit;
  std::vector<Rgb> table;           // colour table of indexed formats
  std::size_t bufferRow = 0;        // bytes per libpng row when not Direct
  bool strip16 = false, packing = false, trnsToAlpha = false, interlaced = false;
  Bitmap bitmap;
  std::vector<std::uint8_t> buffer; // one row, or the whole image when interlaced
};

// Owns the libpng structures; lives outside the frame that calls setjmp.
struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngRead() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* job = static_cast<DecodeJob*>(png_get_error_ptr(png));
  std::snprintf(job->message, sizeof job->message, "%s", message);
  png_longjmp(png, 1);
}

// Most warnings only note damage that decoding survives. Those about sizes
// and memory are errors here: after such a warning libpng would go on and
// reserve whatever the chunk claims. No C++ object may live in this frame,
// as OnPngError longjmps out of it.
void OnPngWarning(png_structp png, png_const_charp message) {
  for (const char* fatal : {"too large", "memory", "exceeds"})
    if (std::strstr(message, fatal)) OnPngError(png, message);
}

void OnPngRead(png_structp png, png_bytep out, png_size_t length) {
  auto* job = static_cast<DecodeJob*>(png_get_io_ptr(png));
  if (length > job->size - job->pos) png_error(png, msg::PngReadError);
  if (job->file) {
    if (std::fread(out, 1, length, job->file) != length) png_error(png, msg::PngReadError);
  } else {
    std::memcpy(out, job->data + job->pos, length);
  }
  job->pos += length;
  // No chunk is believed beyond the bytes that remain: a chunk header read
  // just now is judged against this limit (0 would mean no limit at all).
  png_set_chunk_malloc_max(png, std::max<png_alloc_size_t>(job->size - job->pos, 1));
}

// Alpha blending over white in 8 bits, rounded to the nearest integer
// (the exact quotient never ends in .5 because 255 is odd).
inline std::uint8_t OverWhite(std::uint8_t c, std::uint8_t a) {
  return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

[[noreturn]] void ThrowTooLarge(std::uint32_t w, std::uint32_t h) { throw Error(msg::ImageTooLarge(w, h)); }

void ConvertRow(const DecodeJob& job, const std::uint8_t* in, std::uint8_t* out, int width) {
  const auto& g = job.gamma;
  const auto n = static_cast<std::size_t>(width);
  switch (job.route) {
  case Route::Direct: break;
  case Route::Pack2To4: {
    const std::size_t outBytes = (n + 1) / 2;
    for (std::size_t i = 0; i < outBytes / 2; ++i) {
      const std::uint16_t v = job.widen[in[i]];
      out[2 * i] = static_cast<std::uint8_t>(v >> 8);
      out[2 * i + 1] = static_cast<std::uint8_t>(v);
    }
    if (outBytes & 1) out[outBytes - 1] = static_cast<std::uint8_t>(job.widen[in[outBytes / 2]] >> 8);
    break;
  }
  case Route::IndexToRgb:
    for (std::size_t x = 0; x < n; ++x, out += 3) {
      const Rgb c = job.colours[in[x]];
      out[0] = c.r;
      out[1] = c.g;
      out[2] = c.b;
    }
    break;
  case Route::GreyToRgb:
    for (std::size_t x = 0; x < n; ++x, out += 3) out[0] = out[1] = out[2] = g[in[x]];
    break;
  case Route::GreyAlpha:
    for (std::size_t x = 0; x < n; ++x, in += 2, out += 3) out[0] = out[1] = out[2] = OverWhite(g[in[0]], in[1]);
    break;
  case Route::RgbAlpha:
    for (std::size_t x = 0; x < n; ++x, in += 4, out += 3) {
      out[0] = OverWhite(g[in[0]], in[3]);
      out[1] = OverWhite(g[in[1]], in[3]);
      out[2] = OverWhite(g[in[2]], in[3]);
    }
    break;
  }
}

void GammaInPlace(const DecodeJob& job, std::uint8_t* row, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) row[i] = job.gamma[row[i]];
}

// Chooses the bitmap format, its colour table and the libpng transforms.
// Throws (plain C++) on refused sizes; calls only libpng getters, which
// cannot fail, so no longjmp crosses this frame.
void Plan(png_structp png, png_infop info, DecodeJob& job) {
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int colorType = png_get_color_type(png, info);
  job.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;

  if (width > static_cast<png_uint_32>(MaxImageSide) || height > static_cast<png_uint_32>(MaxImageSide))
    ThrowTooLarge(width, height);

  png_colorp plte = nullptr;
  int numPalette = 0;
  png_bytep transAlpha = nullptr;
  int numTrans = 0;
  png_color_16p transColour = nullptr;
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(png, info, &plte, &numPalette);
  if (hasTrns) png_get_tRNS(png, info, &transAlpha, &numTrans, &transColour);
  bool partial = false;
  if (colorType == PNG_COLOR_TYPE_PALETTE && transAlpha)
    for (int i = 0; i < numTrans; ++i) partial = partial || (transAlpha[i] != 0 && transAlpha[i] != 255);

  const auto& g = job.gamma;
  const auto paletteEntry = [&](int i) {
    if (i >= numPalette) return Rgb{};
    if (transAlpha && i < numTrans && transAlpha[i] == 0) return Rgb{255, 255, 255};
    return Rgb{g[plte[i].red], g[plte[i].green], g[plte[i].blue]};
  };

  PixelFormat& format = job.format;
  std::vector<Rgb>& table = job.table;
  if ((colorType & PNG_COLOR_MASK_ALPHA) || partial) {
    format = PixelFormat::pf24bit;
  } else if (depth <= 4) {
    format = depth == 1 ? PixelFormat::pf1bit : PixelFormat::pf4bit;
  } else if (colorType == PNG_COLOR_TYPE_PALETTE) {
    format = PixelFormat::pf8bit;
  }
  if (format != PixelFormat::pf24bit) {
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
      for (int i = 0; i < numPalette; ++i) table.push_back(paletteEntry(i));
    } else {
      const std::vector<Rgb> levels = GreyLevels(depth);
      for (int n = 0; n < static_cast<int>(levels.size()); ++n) {
        const auto v = g[levels[static_cast<std::size_t>(n)].r];
        table.push_back(transColour && hasTrns && transColour->gray == n ? Rgb{255, 255, 255} : Rgb{v, v, v});
      }
    }
  }

  CheckImageSize(width, height, format);
  // Deflate expands at most about 1032:1, so image data far too short for
  // the raster cannot hold it; refuse it before reserving the raster. Other
  // chunks fill no pixel and do not count.
  const std::uint64_t channels = png_get_channels(png, info);
  const std::uint64_t rawRow = (std::uint64_t{width} * channels * static_cast<std::uint64_t>(depth) + 7) / 8 + 1;
  if (rawRow * height / 1032 > job.idatBytes) throw EPngError(msg::PngNotEnoughData);
  std::size_t& bufferRow = job.bufferRow;
  job.strip16 = depth == 16;
  if (format == PixelFormat::pf24bit) {
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
      job.route = Route::IndexToRgb;
      for (int i = 0; i < 256; ++i) {
        const Rgb c = i < numPalette ? Rgb{g[plte[i].red], g[plte[i].green], g[plte[i].blue]} : Rgb{};
        const std::uint8_t a = transAlpha && i < numTrans && i < numPalette ? transAlpha[i] : 255;
        job.colours[static_cast<std::size_t>(i)] = {OverWhite(c.r, a), OverWhite(c.g, a), OverWhite(c.b, a)};
      }
      job.packing = depth < 8;
      bufferRow = width;
    } else if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA || (colorType == PNG_COLOR_TYPE_GRAY && hasTrns)) {
      job.route = Route::GreyAlpha;
      job.trnsToAlpha = hasTrns;
      bufferRow = std::size_t{width} * 2;
    } else if (colorType == PNG_COLOR_TYPE_GRAY) {
      job.route = Route::GreyToRgb;
      bufferRow = width;
    } else if (colorType == PNG_COLOR_TYPE_RGB_ALPHA || hasTrns) {
      job.route = Route::RgbAlpha;
      job.trnsToAlpha = hasTrns;
      bufferRow = std::size_t{width} * 4;
    } else {
      job.route = Route::Direct;
    }
  } else if (depth == 2) {
    job.route = Route::Pack2To4;
    for (int b = 0; b < 256; ++b)
      job.widen[static_cast<std::size_t>(b)] = static_cast<std::uint16_t>(
          ((b >> 6) & 3) << 12 | ((b >> 4) & 3) << 8 | ((b >> 2) & 3) << 4 | (b & 3));
    bufferRow = (std::size_t{width} + 3) / 4;
  }
}

// Reserves the raster once libpng's row layout is known to match the plan.
void Allocate(std::size_t rowBytes, png_uint_32 width, png_uint_32 height, DecodeJob& job) {
  const std::size_t expected =
      job.route == Route::Direct ? (std::size_t{width} * static_cast<int>(job.format) + 7) / 8 : job.bufferRow;
  if (rowBytes != expected) throw EPngError(msg::PngUnexpectedRowLayout);
  job.bitmap = Bitmap(static_cast<int>(width), static_cast<int>(height), job.format);
  job.bitmap.Palette() = std::move(job.table);
  if (job.route != Route::Direct) {
    const std::uint64_t rows = job.interlaced ? height : 1;
    if (std::uint64_t{job.bufferRow} * rows > MaxImageBytes) ThrowTooLarge(width, height);
    job.buffer.assign(job.bufferRow * rows, 0);
  }
}

// Every libpng call that may fail runs in this frame, so its longjmp crosses
// no C++ object with a destructor; objects live in `read` and `job`.
bool RunDecode(PngRead* read, DecodeJob* job) {
  if (setjmp(png_jmpbuf(read->png))) return false;
  png_set_read_fn(read->png, job, OnPngRead);
  // Sizes are judged by CheckImageSize, which gives the user one message.
  png_set_user_limits(read->png, 0x7fffffff, 0x7fffffff);
  png_set_chunk_malloc_max(read->png, std::max<png_alloc_size_t>(job->size, 1));
  png_set_chunk_cache_max(read->png, 16);
  // Ancillary chunks the decoder does not use are skipped unread into memory
  // (text, profiles, palettes of suggestions...); tRNS is never on that list
  // and gAMA keeps libpng's own checks. Unknown critical chunks still fail.
  png_set_keep_unknown_chunks(read->png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  static const png_byte kept[] = {'g', 'A', 'M', 'A', '\0'};
  png_set_keep_unknown_chunks(read->png, PNG_HANDLE_CHUNK_AS_DEFAULT, kept, 1);
  png_read_info(read->png, read->info);
  Plan(read->png, read->info, *job);
  if (job->strip16) png_set_strip_16(read->png);
  if (job->packing) png_set_packing(read->png);
  if (job->trnsToAlpha) png_set_tRNS_to_alpha(read->png);
  const bool interlaced = job->interlaced;
  const int passes = interlaced ? png_set_interlace_handling(read->png) : 1;
  png_read_update_info(read->png, read->info);
  Allocate(png_get_rowbytes(read->png, read->info), png_get_image_width(read->png, read->info),
           png_get_image_height(read->png, read->info), *job);

  Bitmap& bmp = job->bitmap;
  const int height = bmp.Height();
  const bool rgbGamma = job->hasGamma && bmp.Format() == PixelFormat::pf24bit;
  if (job->route == Route::Direct) {
    for (int pass = 0; pass < passes; ++pass)
      for (int y = 0; y < height; ++y) {
        png_read_row(read->png, bmp.Row(y), nullptr);
        if (rgbGamma && !interlaced) GammaInPlace(*job, bmp.Row(y), bmp.Stride());
      }
    if (rgbGamma && interlaced) // rows are complete only after the last pass
      for (int y = 0; y < height; ++y) GammaInPlace(*job, bmp.Row(y), bmp.Stride());
  } else if (interlaced) {
    const std::size_t rowBytes = job->bufferRow;
    for (int pass = 0; pass < passes; ++pass)
      for (int y = 0; y < height; ++y)
        png_read_row(read->png, job->buffer.data() + static_cast<std::size_t>(y) * rowBytes, nullptr);
    for (int y = 0; y < height; ++y)
      ConvertRow(*job, job->buffer.data() + static_cast<std::size_t>(y) * rowBytes, bmp.Row(y), bmp.Width());
  } else {
    for (int y = 0; y < height; ++y) {
      png_read_row(read->png, job->buffer.data(), nullptr);
      ConvertRow(*job, job->buffer.data(), bmp.Row(y), bmp.Width());
    }
  }
  png_read_end(read->png, nullptr);
  return true;
}

// ---------------------------------------------------------------------------
// Tile writing

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
int WrittenDepth(int colorType, int bitDepth) {
  switch (colorType) {
  case 0:
    switch (bitDepth) {
    case 1: return 1;
    case 2: case 4: return 4;
    case 8: case 16: return 8;
    default: return 0;
    }
  case 3:
    switch (bitDepth) {
    case 1: return 1;
    case 2: case 4: return 4;
    case 6: case 8: return 8;
    default: return 0;
    }
  case 2: case 4: case 6: return bitDepth == 8 || bitDepth == 16 ? 8 : 0;
  default: return 0;
  }
}

void PutBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Writes the file chunk by chunk; any failed write or close raises the file
// layer's "cannot create" error (a partial file is left as it is).
class ChunkWriter {
public:
  explicit ChunkWriter(const std::string& fileName) : name_(fileName), file_(std::fopen(fileName.c_str(), "wb")) {
    if (!file_) ThrowCannotCreate(fileName);
  }
  void Raw(const void* data, std::size_t n) {
    if (n && std::fwrite(data, 1, n, file_.get()) != n) ThrowCannotCreate(name_);
  }
  void Chunk(const char* type, const std::uint8_t* data, std::size_t n) {
    std::uint8_t head[8];
    PutBe32(head, static_cast<std::uint32_t>(n));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (n) crc = crc32(crc, data, static_cast<uInt>(n));
    std::uint8_t tail[4];
    PutBe32(tail, static_cast<std::uint32_t>(crc));
    Raw(head, 8);
    Raw(data, n);
    Raw(tail, 4);
  }
  void Finish() {
    if (std::fclose(file_.release()) != 0) ThrowCannotCreate(name_);
  }

private:
  std::string name_;
  UniqueFile file_;
};

struct DeflateEnder {
  void operator()(z_stream* z) const { deflateEnd(z); }
};

} // namespace

namespace {

void Decode(std::unique_ptr<DecodeJob> job, std::uint32_t g, Bitmap& bitmap) {
  job->hasGamma = g != 0;
  for (int s = 0; s < 256; ++s)
    job->gamma[static_cast<std::size_t>(s)] =
        g == 0 ? static_cast<std::uint8_t>(s)
               : static_cast<std::uint8_t>(std::lround(255.0 * std::pow(s / 255.0, 100000.0 / (g * 2.2))));

  PngRead read;
  read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job.get(), OnPngError, OnPngWarning);
  if (!read.png) throw EPngError(msg::PngInsufficientMemory);
  read.info = png_create_info_struct(read.png);
  if (!read.info) throw EPngError(msg::PngInsufficientMemory);
  if (!RunDecode(&read, job.get())) throw EPngError(job->message);
  bitmap = std::move(job->bitmap);
}

} // namespace

void DecodePng(const std::uint8_t* data, std::size_t size, Bitmap& bitmap) {
  auto job = std::make_unique<DecodeJob>();
  job->data = data;
  job->size = size;
  const auto read = [&](std::size_t pos, std::uint8_t* out, std::size_t n) {
    std::memcpy(out, data + pos, n);
    return true;
  };
  job->idatBytes = IdatBytes(size, read);
  const std::uint32_t g = size >= 8 ? FindGamma(size, read) : 0;
  Decode(std::move(job), g, bitmap);
}

void DecodePng(std::FILE* file, std::size_t size, Bitmap& bitmap) {
  auto job = std::make_unique<DecodeJob>();
  job->file = file;
  job->size = size;
  const off_t start = ::ftello(file);
  if (start >= 0) job->idatBytes = IdatBytes(size, WindowReader(fileno(file), start));
  const std::uint32_t g = size >= 8 && start >= 0 ? FindGamma(size, WindowReader(fileno(file), start)) : 0;
  Decode(std::move(job), g, bitmap);
}

struct TPngTileImage::State {
  int colorType = 0;
  int bitDepth = 0;
  Bitmap pixels;
  BitmapCanvas canvas{pixels};
};

TPngTileImage::TPngTileImage(int colorType, int bitDepth, int width, int height) {
  const int depth = WrittenDepth(colorType, bitDepth);
  if (depth == 0) throw EPngError(msg::PngCannotCreate);
  if (width < 1 || height < 1) throw EPngError(msg::PngTileTooSmall(width, height));
  CheckImageSize(width, height, PixelFormat::pf24bit);

  PixelFormat format = PixelFormat::pf24bit;
  std::vector<Rgb> palette;
  if (colorType == 0 || colorType == 4) {
    const int greyDepth = colorType == 4 ? 8 : depth;
    format = static_cast<PixelFormat>(greyDepth);
    palette = GreyLevels(greyDepth);
  } else if (colorType == 3) {
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

int TPngTileImage::ColorType() const { return s_->colorType; }
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
  const Bitmap& bmp = s_->pixels;
  const int colorType = s_->colorType;
  const std::size_t width = static_cast<std::size_t>(bmp.Width());
  // Bytes per file row and the Sub filter's distance (PNG: one whole pixel,
  // or one byte below 8 bits per pixel).
  std::size_t rowBytes = bmp.Stride();
  std::size_t bpp = 1;
  switch (colorType) {
  case 2: bpp = 3; break;
  case 4: bpp = 2; rowBytes = 2 * width; break;
  case 6: bpp = 4; rowBytes = 4 * width; break;
  default: bpp = 1; break;
  }

  z_stream z{};
  if (deflateInit2(&z, 7, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw EPngError(msg::ZlibInitFailed);
  const std::unique_ptr<z_stream, DeflateEnder> zGuard(&z);

  ChunkWriter out(fileName);
  static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  out.Raw(signature, 8);
  std::uint8_t ihdr[13];
  PutBe32(ihdr, static_cast<std::uint32_t>(bmp.Width()));
  PutBe32(ihdr + 4, static_cast<std::uint32_t>(bmp.Height()));
  ihdr[8] = static_cast<std::uint8_t>(s_->bitDepth);
  ihdr[9] = static_cast<std::uint8_t>(colorType);
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  out.Chunk("IHDR", ihdr, sizeof ihdr);
  if (colorType == 3) {
    std::vector<std::uint8_t> plte;
    for (const Rgb& c : bmp.Palette()) plte.insert(plte.end(), {c.r, c.g, c.b});
    out.Chunk("PLTE", plte.data(), plte.size());
  }

  constexpr std::size_t IdatSize = 65535;
  std::vector<std::uint8_t> idat(IdatSize);
  std::vector<std::uint8_t> raw(colorType == 4 || colorType == 6 ? rowBytes : 0);
  std::vector<std::uint8_t> filtered(rowBytes + 1);
  z.next_out = idat.data();
  z.avail_out = IdatSize;
  const auto pump = [&](int flush) {
    int rc = Z_OK;
    do {
      rc = deflate(&z, flush);
      if (rc == Z_STREAM_ERROR) throw EPngError(msg::ZlibCompressionFailed);
      if (z.avail_out == 0) {
        out.Chunk("IDAT", idat.data(), IdatSize);
        z.next_out = idat.data();
        z.avail_out = IdatSize;
      }
    } while (flush == Z_FINISH ? rc != Z_STREAM_END : z.avail_in != 0);
  };

  for (int y = 0; y < bmp.Height(); ++y) {
    const std::uint8_t* row = bmp.Row(y);
    if (colorType == 4 || colorType == 6) {
      const std::size_t channels = colorType == 4 ? 1 : 3;
      for (std::size_t x = 0; x < width; ++x) {
        std::memcpy(&raw[x * (channels + 1)], row + x * channels, channels);
        raw[x * (channels + 1) + channels] = 255;
      }
      row = raw.data();
    }
    filtered[0] = 1; // Sub
    for (std::size_t i = 0; i < rowBytes; ++i)
      filtered[i + 1] = static_cast<std::uint8_t>(row[i] - (i >= bpp ? row[i - bpp] : 0));
    z.next_in = filtered.data();
    z.avail_in = static_cast<uInt>(filtered.size());
    pump(Z_NO_FLUSH);
  }
  pump(Z_FINISH);
  if (z.avail_out != IdatSize) out.Chunk("IDAT", idat.data(), IdatSize - z.avail_out);
  out.Chunk("IEND", nullptr, 0);
  out.Finish();
}

} // namespace zv
