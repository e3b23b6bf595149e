#include "codecs/Png.h"

#include "base/Messages.h"
#include "codecs/PngGreyLevels.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace zv {

namespace {

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

// The palette and transparency a PNG declares, as pointers into libpng's info.
struct PngColours {
  png_colorp plte = nullptr;
  int numPalette = 0;
  bool hasTrns = false;
  png_bytep transAlpha = nullptr; // palette tRNS: one alpha per entry
  int numTrans = 0;
  png_color_16p transColour = nullptr; // grey or RGB tRNS: the one transparent colour
  bool partial = false;                // a palette alpha other than 0 and 255
};

PngColours ReadColours(png_structp png, png_infop info, int colorType) {
  PngColours c;
  c.hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(png, info, &c.plte, &c.numPalette);
  if (c.hasTrns) png_get_tRNS(png, info, &c.transAlpha, &c.numTrans, &c.transColour);
  if (colorType == PNG_COLOR_TYPE_PALETTE && c.transAlpha)
    for (int i = 0; i < c.numTrans; ++i) c.partial = c.partial || (c.transAlpha[i] != 0 && c.transAlpha[i] != 255);
  return c;
}

// Alpha, or partial palette transparency, is blended onto white and so needs
// 24 bits. Otherwise depths 1, 2 and 4 stay indexed (2 widened to 4) and
// palette depth 8 stays 8-bit; the rest becomes 24-bit.
PixelFormat ChooseFormat(int colorType, int depth, bool partial) {
  if ((colorType & PNG_COLOR_MASK_ALPHA) || partial) return PixelFormat::pf24bit;
  if (depth <= 4) return depth == 1 ? PixelFormat::pf1bit : PixelFormat::pf4bit;
  if (colorType == PNG_COLOR_TYPE_PALETTE) return PixelFormat::pf8bit;
  return PixelFormat::pf24bit;
}

// The colour table of an indexed bitmap: the palette or the grey levels,
// gamma-corrected, with a fully transparent entry (palette alpha 0, or the
// grey tRNS level) shown as the white it is flattened onto.
std::vector<Rgb> IndexedTable(int colorType, int depth, const PngColours& c, const std::array<std::uint8_t, 256>& g) {
  std::vector<Rgb> table;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < c.numPalette; ++i) {
      if (c.transAlpha && i < c.numTrans && c.transAlpha[i] == 0)
        table.push_back(Rgb{255, 255, 255});
      else
        table.push_back(Rgb{g[c.plte[i].red], g[c.plte[i].green], g[c.plte[i].blue]});
    }
    return table;
  }
  const std::vector<Rgb> levels = PngGreyLevels(depth);
  for (int n = 0; n < static_cast<int>(levels.size()); ++n) {
    const auto v = g[levels[static_cast<std::size_t>(n)].r];
    table.push_back(c.transColour && c.hasTrns && c.transColour->gray == n ? Rgb{255, 255, 255} : Rgb{v, v, v});
  }
  return table;
}

// Deflate expands at most about 1032:1, so image data far too short for the
// raster cannot hold it; refuse it before reserving the raster. Other chunks
// fill no pixel and do not count.
void CheckEnoughImageData(png_structp png, png_infop info, const DecodeJob& job) {
  const std::uint64_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  const std::uint64_t channels = png_get_channels(png, info);
  const auto depth = static_cast<std::uint64_t>(png_get_bit_depth(png, info));
  const std::uint64_t rawRow = (width * channels * depth + 7) / 8 + 1;
  if (rawRow * height / 1032 > job.idatBytes) throw EPngError(msg::PngNotEnoughData);
}

// How libpng's rows become 24-bit rows: palette entries and tRNS alpha are
// blended onto white once per entry, grey goes through the gamma table, and
// 8-bit RGB needs no conversion.
void PlanRgbRoute(int colorType, int depth, png_uint_32 width, const PngColours& c, DecodeJob& job) {
  const auto& g = job.gamma;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    job.route = Route::IndexToRgb;
    for (int i = 0; i < 256; ++i) {
      const Rgb rgb = i < c.numPalette ? Rgb{g[c.plte[i].red], g[c.plte[i].green], g[c.plte[i].blue]} : Rgb{};
      const std::uint8_t a = c.transAlpha && i < c.numTrans && i < c.numPalette ? c.transAlpha[i] : 255;
      job.colours[static_cast<std::size_t>(i)] = {OverWhite(rgb.r, a), OverWhite(rgb.g, a), OverWhite(rgb.b, a)};
    }
    job.packing = depth < 8;
    job.bufferRow = width;
  } else if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA || (colorType == PNG_COLOR_TYPE_GRAY && c.hasTrns)) {
    job.route = Route::GreyAlpha;
    job.trnsToAlpha = c.hasTrns;
    job.bufferRow = std::size_t{width} * 2;
  } else if (colorType == PNG_COLOR_TYPE_GRAY) {
    job.route = Route::GreyToRgb;
    job.bufferRow = width;
  } else if (colorType == PNG_COLOR_TYPE_RGB_ALPHA || c.hasTrns) {
    job.route = Route::RgbAlpha;
    job.trnsToAlpha = c.hasTrns;
    job.bufferRow = std::size_t{width} * 4;
  } else {
    job.route = Route::Direct;
  }
}

// No bitmap holds 2 bits a pixel: each byte of four pixels becomes two bytes
// of 4-bit nibbles, through a table of all 256 bytes.
void PlanPack2To4(png_uint_32 width, DecodeJob& job) {
  job.route = Route::Pack2To4;
  for (int b = 0; b < 256; ++b)
    job.widen[static_cast<std::size_t>(b)] = static_cast<std::uint16_t>(
        ((b >> 6) & 3) << 12 | ((b >> 4) & 3) << 8 | ((b >> 2) & 3) << 4 | (b & 3));
  job.bufferRow = (std::size_t{width} + 3) / 4;
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

  if (width > static_cast<png_uint_32>(MaxImageSide) || height > static_cast<png_uint_32>(MaxImageSide))
    ThrowTooLarge(width, height);

  const PngColours colours = ReadColours(png, info, colorType);
  job.format = ChooseFormat(colorType, depth, colours.partial);
  if (job.format != PixelFormat::pf24bit) job.table = IndexedTable(colorType, depth, colours, job.gamma);

  CheckImageSize(width, height, job.format);
  CheckEnoughImageData(png, info, job);
  job.strip16 = depth == 16;
  if (job.format == PixelFormat::pf24bit)
    PlanRgbRoute(colorType, depth, width, colours, job);
  else if (depth == 2)
    PlanPack2To4(width, job);
  const std::uint64_t buffered =
      job.route == Route::Direct ? 0 : std::uint64_t{job.bufferRow} * (job.interlaced ? height : 1);
  CheckPictureFits(width, height, job.format, buffered);
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

} // namespace zv
