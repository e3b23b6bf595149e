#include "export/AmbuloTiles.h"

#include "codecs/Canvas.h"
#include "codecs/Jpeg.h"
#include "codecs/Reduce.h"
#include "model/MapModel.h"

namespace zv {

std::int64_t TTileSource::Width() const { return ReducedSide(Area.Width, Level); }
std::int64_t TTileSource::Height() const { return ReducedSide(Area.Height, Level); }

const Bitmap* TTileSource::WholePicture() const {
  if (Area.Images.size() != 1) return nullptr;
  const TMapImage& image = *Area.Images.front();
  const bool whole = image.X == 0 && image.Y == 0 && image.Bitmap.Width() == Area.Width &&
                     image.Bitmap.Height() == Area.Height;
  return whole ? &image.Bitmap : nullptr;
}

void TTileSource::PaintTile(Bitmap& tile, std::int32_t left, std::int32_t top) const {
  if (Level > 0) {
    if (const Bitmap* picture = WholePicture()) {
      ReduceRegionInto(*picture, Level, left, top, tile.Width(), tile.Height(), tile);
      return;
    }
  } else {
    tile.Fill(Rgb{255, 255, 255}); // a fresh tile bitmap is white
  }
  BitmapCanvas canvas(tile);
  Paint(canvas, left, top, tile.Width(), tile.Height());
}

void TTileSource::Paint(TCanvas& canvas, std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) const {
  if (Level == 0) {
    Area.PaintRegion(canvas, left, top, width, height);
    return;
  }
  if (const Bitmap* picture = WholePicture()) {
    const Bitmap reduced = ReduceRegion(*picture, Level, left, top, width, height);
    canvas.CopyRect(0, 0, reduced, 0, 0, reduced.Width(), reduced.Height());
    return;
  }
  // Otherwise the area's images composed as the full-size tiles compose them.
  const PictureSource source = [this](int x, int y, int w, int h, Bitmap& out) {
    out.Fill(Background);
    BitmapCanvas band(out);
    Area.PaintRegion(band, x, y, w, h);
  };
  const Bitmap reduced = ReduceRegion(source, Area.Width, Area.Height, Level, left, top, width, height);
  canvas.CopyRect(0, 0, reduced, 0, 0, reduced.Width(), reduced.Height());
}

template <class T>
T& TTileEncoder::Slot(T (&slots)[2], bool (*fits)(const T&, const TTileRect&), const TTileRect& rect) {
  for (T& slot : slots)
    if (fits(slot, rect)) return slot;
  T& slot = slots[next_];
  next_ ^= 1;
  slot = T();
  return slot;
}

const std::vector<std::uint8_t>& TTileEncoder::Encode(const TTileRect& r) {
  if (format_ == TTileFormat::Png) {
    std::unique_ptr<TPngTileImage>& tile = Slot<std::unique_ptr<TPngTileImage>>(
        png_, [](const std::unique_ptr<TPngTileImage>& t, const TTileRect& j) {
          return t && t->Width() == j.Width && t->Height() == j.Height;
        }, r);
    if (tile)
      tile->Clear();
    else
      tile = std::make_unique<TPngTileImage>(depth_.ColorType, static_cast<int>(depth_.BitDepth), r.Width, r.Height);
    source_.Paint(tile->Canvas(), r.Left, r.Top, r.Width, r.Height);
    // The full-size tiles keep the bytes they have always had; a reduced
    // layer's tiles, new files, take the faster deflater.
    tile->SaveToMemory(encoded_, source_.Level == 0 ? TPngDeflater::Zlib : TPngDeflater::Libdeflate);
  } else {
    Bitmap& tile = Slot<Bitmap>(
        jpeg_, [](const Bitmap& t, const TTileRect& j) { return t.Width() == j.Width && t.Height() == j.Height; }, r);
    if (tile.Empty()) tile = Bitmap(r.Width, r.Height, PixelFormat::pf24bit);
    source_.PaintTile(tile, r.Left, r.Top);
    EncodeJpegTile(tile, quality_, encoded_);
  }
  return encoded_;
}

} // namespace zv
