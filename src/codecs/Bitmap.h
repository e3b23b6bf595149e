#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace zv {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Pixel formats a decoded raster may have. Indexed formats keep their colour
// table, so an 8-bit palette map stays one byte a pixel in memory.
enum class PixelFormat : std::uint8_t { pf1bit = 1, pf4bit = 4, pf8bit = 8, pf24bit = 24 };

// Refused before any pixel memory is reserved: more than this many bytes of
// raster, or a side longer than MaxImageSide.
inline constexpr std::uint64_t MaxImageBytes = 4ull << 30;
inline constexpr int MaxImageSide = 1'000'000;

// The decoders' resource rule. Whatever a file claims, a decoder reserves at
// most DecoderScratchLimit(input size) bytes in one piece, apart from the
// picture and the buffers that grow with it (rows, libjpeg's whole-image
// buffers). Those are refused before they are reserved when the input's
// image data (IDAT, entropy-coded scans, pixel data; no comments or padding)
// is far too short to fill them, or when they exceed the limits above. No
// chunk, marker or header length is believed past the end of the input.
constexpr std::uint64_t DecoderScratchLimit(std::uint64_t inputSize) {
  return inputSize < (std::uint64_t{1} << 16) ? std::uint64_t{1} << 20 : 16 * inputSize;
}

// Raises "image too large: W × H" when a raster of that size is refused.
void CheckImageSize(std::int64_t width, std::int64_t height, PixelFormat format);
// Raises "The picture needs N MiB; only M MiB are available." when the
// picture, with the working bytes its decoder holds beside it, is more than
// the system has available. Decoders call it after their other size checks
// and before they reserve anything that grows with the picture.
void CheckPictureFits(std::int64_t width, std::int64_t height, PixelFormat format, std::uint64_t workingBytes);

// A raster: rows top to bottom, each Stride() bytes. 24-bit rows hold R, G, B
// per pixel; indexed rows pack pixels most significant bits first.
//
// A copy shares the pixel memory with the original until either writes: the
// non-const Row() first takes a copy of its own. So tiles that several maps
// of one archive name are held once. A row pointer from the non-const Row()
// is the bitmap's own only until the bitmap is copied again.
class Bitmap {
public:
  Bitmap() = default;
  // All pixels start as 0 (black for RGB, entry 0 for indexed formats).
  Bitmap(int width, int height, PixelFormat format);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  PixelFormat Format() const { return format_; }
  int BitsPerPixel() const { return static_cast<int>(format_); }
  std::size_t Stride() const { return stride_; }

  std::uint8_t* Row(int y) { return pixels_.MutableData() + static_cast<std::size_t>(y) * stride_; }
  const std::uint8_t* Row(int y) const { return pixels_.Data() + static_cast<std::size_t>(y) * stride_; }
  // Whether the pixel memory is shared with another bitmap.
  bool SharesPixels() const { return pixels_.Shared(); }

  // Colour table of indexed formats; at most 2^bits entries. Empty for 24-bit.
  std::vector<Rgb>& Palette() { return palette_; }
  const std::vector<Rgb>& Palette() const { return palette_; }

  // Index of an indexed pixel (0 for 24-bit) and the colour of any pixel.
  std::uint8_t Index(int x, int y) const;
  Rgb Pixel(int x, int y) const;
  void SetIndex(int x, int y, std::uint8_t index);
  void SetPixel(int x, int y, Rgb colour); // indexed formats take the nearest entry

  void Fill(Rgb colour);

  // Copies the source rectangle (sx, sy, w, h) unscaled so that its top-left
  // pixel lands on (dx, dy), clipped to both bitmaps. Any source format onto
  // any destination format: indexed destinations take the nearest entry.
  void CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h);

private:
  // Zeroed pixel memory from calloc: large rasters get the system's zero
  // pages, so a decoder that fills every row pays for no separate clearing.
  // Copies share the memory; MutableData() unshares it first.
  class PixelBuffer {
  public:
    PixelBuffer() = default;
    explicit PixelBuffer(std::size_t size);
    PixelBuffer(const PixelBuffer& other) = default;
    PixelBuffer& operator=(const PixelBuffer& other) = default;
    PixelBuffer(PixelBuffer&& other) noexcept
        : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0)) {}
    PixelBuffer& operator=(PixelBuffer&& other) noexcept {
      data_ = std::move(other.data_);
      size_ = std::exchange(other.size_, 0);
      return *this;
    }
    const std::uint8_t* Data() const { return data_.get(); }
    std::uint8_t* MutableData() {
      if (data_.use_count() > 1) Unshare();
      return data_.get();
    }
    std::size_t Size() const { return size_; }
    bool Shared() const { return data_.use_count() > 1; }

  private:
    void Unshare();
    std::shared_ptr<std::uint8_t> data_;
    std::size_t size_ = 0;
  };

  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::pf24bit;
  std::size_t stride_ = 0;
  PixelBuffer pixels_;
  std::vector<Rgb> palette_;
};

// Index of the palette entry nearest to colour by squared RGB distance; on a
// tie the lower index wins.
std::uint8_t NearestPaletteIndex(const std::vector<Rgb>& palette, Rgb colour);

// The fixed 256-colour palette that stands in for the Windows halftone
// palette: 16 standard colours, the 6x6x6 cube, 24 greys.
const std::vector<Rgb>& HalftonePalette();

} // namespace zv
