#include "model/ZoomLevels.h"

#include "codecs/Canvas.h"
#include "codecs/Reduce.h"
#include "model/MapModel.h"

#include <algorithm>

namespace zv {

namespace {

std::uint64_t TileKey(int level, int tx, int ty) {
  return (std::uint64_t(level) << 56) | (std::uint64_t(std::uint32_t(ty)) << 28) | std::uint32_t(tx);
}

std::size_t PixelBytes(const Bitmap& b) { return b.Stride() * static_cast<std::size_t>(b.Height()); }

// Threads for the one pass over the whole picture: every processor, up to four.
int PassThreads() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)); }

} // namespace

TZoomLevels::TZoomLevels(const TMapArea& area, std::function<void()> onReady, std::size_t cacheBytes)
    : area_(&area), width_(area.Width), height_(area.Height), onReady_(std::move(onReady)), cacheBytes_(cacheBytes) {
  std::size_t pictureBytes = 0;
  for (const auto& image : area.Images) {
    images_.push_back({image->X, image->Y, image->Bitmap});
    pictureBytes += PixelBytes(image->Bitmap);
  }
  // The finest level such that it and every coarser one fit the share; the
  // coarsest level is always whole.
  const double budget = WholeShare * static_cast<double>(pictureBytes);
  double sum = 0;
  for (int level = MaxLevel; level >= 1; --level) {
    sum += 3.0 * ReducedSide(width_, level) * ReducedSide(height_, level);
    if (level < MaxLevel && sum > budget) break;
    firstWhole_ = level;
  }
  tileThread_ = std::thread([this] { TileWorker(); });
}

TZoomLevels::~TZoomLevels() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  tileThread_.join();
  if (wholeThread_.joinable()) wholeThread_.join();
}

bool TZoomLevels::IsOf(const TMapArea& area) const {
  if (&area != area_ || area.Width != width_ || area.Height != height_ || area.Images.size() != images_.size())
    return false;
  // The copies hold the images' pixels, so memory at the same place is the same picture.
  for (std::size_t i : {std::size_t{0}, images_.size() - 1}) {
    if (images_.empty()) break;
    const TMapImage& image = *area.Images[i];
    const Bitmap& pixels = image.Bitmap;
    if (image.X != images_[i].X || image.Y != images_[i].Y || pixels.Row(0) != images_[i].Pixels.Row(0)) return false;
  }
  return true;
}

void TZoomLevels::Source(int x, int y, int w, int h, Bitmap& out) const {
  // One image holding the whole rectangle: its rows as they are, in its own
  // format (a palette picture stays one byte a pixel here).
  for (const TImage& image : images_) {
    const Bitmap& p = image.Pixels;
    if (x < image.X || y < image.Y || x + w > image.X + p.Width() || y + h > image.Y + p.Height()) continue;
    if (out.Width() != w || out.Height() != h || out.Format() != p.Format()) out = Bitmap(w, h, p.Format());
    out.Palette() = p.Palette();
    out.CopyRect(0, 0, p, static_cast<int>(x - image.X), static_cast<int>(y - image.Y), w, h);
    return;
  }
  // Otherwise every image in it, in order, over black.
  if (out.Width() != w || out.Height() != h || out.Format() != PixelFormat::pf24bit)
    out = Bitmap(w, h, PixelFormat::pf24bit);
  else
    out.Fill(Rgb{});
  for (const TImage& image : images_) {
    const Bitmap& p = image.Pixels;
    if (image.X >= x + w || image.Y >= y + h || image.X + p.Width() <= x || image.Y + p.Height() <= y) continue;
    out.CopyRect(static_cast<int>(image.X - x), static_cast<int>(image.Y - y), p, 0, 0, p.Width(), p.Height());
  }
}

Bitmap TZoomLevels::MakeTile(int level, int tx, int ty) const {
  const PictureSource source = [this](int x, int y, int w, int h, Bitmap& out) { Source(x, y, w, h, out); };
  return ReduceRegion(source, width_, height_, level, tx * TileSide, ty * TileSide, TileSide, TileSide);
}

Bitmap TZoomLevels::FallbackTile(int level, int tx, int ty) const {
  // The finest whole level, each of its pixels a square.
  const Bitmap& coarse = whole_.front();
  const int k = firstWhole_ - level;
  const int x0 = tx * TileSide, y0 = ty * TileSide;
  const int w = std::min(TileSide, ReducedSide(width_, level) - x0);
  const int h = std::min(TileSide, ReducedSide(height_, level) - y0);
  int px = 0, py = 0;
  Bitmap part = ScaledPart(coarse, x0 >> k, y0 >> k, (w >> k) + 2, (h >> k) + 2, k, -(x0 & ((1 << k) - 1)),
                           -(y0 & ((1 << k) - 1)), w, h, &px, &py);
  return part;
}

void TZoomLevels::StartWholeLevels() {
  wholeStarted_ = true;
  wholeThread_ = std::thread([this] {
    try {
      std::vector<Bitmap> levels;
      const Bitmap* single = images_.size() == 1 ? &images_[0].Pixels : nullptr;
      if (single && images_[0].X == 0 && images_[0].Y == 0 && single->Width() == width_ &&
          single->Height() == height_) {
        // One picture: its rows are read where they are.
        levels = ReduceLevels(*single, firstWhole_, MaxLevel, PassThreads(), &stop_);
      } else {
        const PictureSource source = [this](int x, int y, int w, int h, Bitmap& out) { Source(x, y, w, h, out); };
        levels = ReduceLevels(source, width_, height_, firstWhole_, MaxLevel, PassThreads(), &stop_);
      }
      if (stop_) return;
      whole_ = std::move(levels);
      wholeReady_.store(true, std::memory_order_release);
    } catch (...) {
      return; // out of memory or an unreadable picture: the levels stay unmade
    }
    if (onReady_) onReady_();
  });
}

void TZoomLevels::TileWorker() {
  for (;;) {
    std::uint64_t key = 0;
    {
      std::unique_lock<std::mutex> lock(lock_);
      wake_.wait(lock, [this] { return stop_ || !wanted_.empty(); });
      if (stop_) return;
      key = wanted_.front();
      wanted_.erase(wanted_.begin());
      if (tiles_.count(key)) continue;
    }
    Bitmap tile;
    try {
      tile = MakeTile(static_cast<int>(key >> 56), static_cast<int>(key & 0x0FFFFFFF),
                      static_cast<int>((key >> 28) & 0x0FFFFFFF));
    } catch (...) {
      continue; // out of memory: the tile stays unmade
    }
    {
      std::lock_guard<std::mutex> lock(lock_);
      Insert(key, std::move(tile));
    }
    if (onReady_) onReady_();
  }
}

const Bitmap* TZoomLevels::Find(std::uint64_t key) {
  const auto it = tiles_.find(key);
  if (it == tiles_.end()) return nullptr;
  uses_.splice(uses_.begin(), uses_, it->second.Use);
  return &it->second.Pixels;
}

void TZoomLevels::Insert(std::uint64_t key, Bitmap tile) {
  if (tiles_.count(key)) return;
  tileBytes_ += PixelBytes(tile);
  uses_.push_front(key);
  tiles_.emplace(key, TTile{std::move(tile), uses_.begin()});
  while (tileBytes_ > cacheBytes_ && uses_.size() > 1) {
    const auto it = tiles_.find(uses_.back());
    tileBytes_ -= PixelBytes(it->second.Pixels);
    tiles_.erase(it);
    uses_.pop_back();
  }
}

bool TZoomLevels::Paint(TCanvas& canvas, int level, int dx, int dy, int x, int y, int w, int h) {
  level = std::clamp(level, 1, MaxLevel);
  const int lw = ReducedSide(width_, level), lh = ReducedSide(height_, level);
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = static_cast<int>(std::min<std::int64_t>(std::int64_t{x} + std::max(w, 0), lw));
  const int y1 = static_cast<int>(std::min<std::int64_t>(std::int64_t{y} + std::max(h, 0), lh));
  if (x0 >= x1 || y0 >= y1) return true;
  // Each piece's part inside the rectangle, unscaled.
  return PaintRect(level, x0, y0, x1, y1, [&](const Bitmap& pixels, int left, int top) {
    const int l = std::max(left, x0), t = std::max(top, y0);
    const int r = std::min(left + pixels.Width(), x1), b = std::min(top + pixels.Height(), y1);
    if (l < r && t < b) canvas.CopyRect(dx + (l - x), dy + (t - y), pixels, l - left, t - top, r - l, b - t);
  });
}

bool TZoomLevels::PaintSampled(TCanvas& canvas, int level, const TSampling& sampling, int w, int h) {
  level = std::clamp(level, 1, MaxLevel);
  if (w <= 0 || h <= 0) return true;
  const std::int64_t lw = ReducedSide(width_, level), lh = ReducedSide(height_, level);
  // The level's pixels the target shows.
  const std::int64_t x0 = std::max<std::int64_t>(sampling.Source(0, sampling.OffsetX), 0);
  const std::int64_t y0 = std::max<std::int64_t>(sampling.Source(0, sampling.OffsetY), 0);
  const std::int64_t x1 = std::min<std::int64_t>(sampling.Source(w - 1, sampling.OffsetX) + 1, lw);
  const std::int64_t y1 = std::min<std::int64_t>(sampling.Source(h - 1, sampling.OffsetY) + 1, lh);
  if (x0 >= x1 || y0 >= y1) return true;
  return PaintRect(level, static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1), static_cast<int>(y1),
                   [&](const Bitmap& pixels, int left, int top) { canvas.SampledCopy(pixels, left, top, sampling); });
}

bool TZoomLevels::PaintRect(int level, int x0, int y0, int x1, int y1, const PieceDrawer& draw) {
  if (!wholeStarted_) StartWholeLevels();
  const bool ready = WholeLevelsReady();
  if (level >= firstWhole_) {
    if (ready) draw(whole_[level - firstWhole_], 0, 0);
    return ready;
  }

  // A finer level: its tiles, nearest first. Copies of cached tiles share
  // their pixels, so the drawing below needs no lock.
  const int lw = ReducedSide(width_, level), lh = ReducedSide(height_, level);
  const int tx0 = x0 / TileSide, tx1 = (x1 - 1) / TileSide, ty0 = y0 / TileSide, ty1 = (y1 - 1) / TileSide;
  struct Piece {
    int tx, ty;
    Bitmap pixels;
  };
  std::vector<Piece> exact, missing;
  std::vector<std::uint64_t> wanted;
  {
    std::lock_guard<std::mutex> lock(lock_);
    for (int ty = ty0; ty <= ty1; ++ty)
      for (int tx = tx0; tx <= tx1; ++tx) {
        const std::uint64_t key = TileKey(level, tx, ty);
        if (const Bitmap* tile = Find(key)) {
          exact.push_back({tx, ty, *tile});
        } else {
          missing.push_back({tx, ty, Bitmap()});
          wanted.push_back(key);
        }
      }
    // The ring around the view next, so that scrolling finds its tiles made.
    const int maxTx = (lw - 1) / TileSide, maxTy = (lh - 1) / TileSide;
    for (int ty = std::max(ty0 - 1, 0); ty <= std::min(ty1 + 1, maxTy); ++ty)
      for (int tx = std::max(tx0 - 1, 0); tx <= std::min(tx1 + 1, maxTx); ++tx)
        if ((tx < tx0 || tx > tx1 || ty < ty0 || ty > ty1) && !tiles_.count(TileKey(level, tx, ty)))
          wanted.push_back(TileKey(level, tx, ty));
    wanted_ = std::move(wanted);
  }
  wake_.notify_one();

  if (ready)
    for (Piece& piece : missing) {
      piece.pixels = FallbackTile(level, piece.tx, piece.ty);
      draw(piece.pixels, piece.tx * TileSide, piece.ty * TileSide);
    }
  for (const Piece& piece : exact) draw(piece.pixels, piece.tx * TileSide, piece.ty * TileSide);
  return missing.empty();
}

std::size_t TZoomLevels::Bytes() const {
  std::size_t bytes = 0;
  if (WholeLevelsReady())
    for (const Bitmap& level : whole_) bytes += PixelBytes(level);
  std::lock_guard<std::mutex> lock(lock_);
  return bytes + tileBytes_;
}

} // namespace zv
