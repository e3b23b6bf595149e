// Map areas and their rasters: loading from plain files and tar archives,
// the tile naming rule, and drawing.

#include "model/MapModel.h"

#include "base/Errors.h"
#include "base/FileCloser.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "codecs/Bmp.h"
#include "codecs/Canvas.h"
#include "codecs/Jpeg.h"
#include "codecs/Png.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/FileKind.h"
#include "model/OpenArchive.h"
#include "tar/TarArchive.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

constexpr Rgb kNavy{0, 0, 128};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlack{0, 0, 0};

bool FitsInt(std::int64_t v) {
  return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

// The tile list: the calibration path with its final extension replaced.
std::string TileListName(const std::string& fileName) {
  const std::string ext = ExtractFileExt(fileName);
  return fileName.substr(0, fileName.size() - ext.size()) + ".set";
}

// Lines of a tile list: split at LF, every CR dropped, no LF needed at the end.
std::vector<std::string> TileListLines(const Bytes& data) {
  std::vector<std::string> lines;
  std::string line;
  bool pending = false;
  for (const std::uint8_t c : data) {
    if (c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      pending = false;
    } else if (c != '\r') {
      line += static_cast<char>(c);
      pending = true;
    } else {
      pending = true;
    }
  }
  if (pending) lines.push_back(std::move(line));
  return lines;
}

bool CanEnterDirectory(const std::string& dir) {
  return DirectoryExists(dir) && ::access(dir.c_str(), X_OK) == 0;
}

// The tile name of an archive entry under "set/" (or "./set/"), or empty for
// an entry that is no tile there. Deeper folders are flattened; a "\" from a
// foreign writer also cuts.
std::string TileInSetFolder(const std::string& entryName) {
  const std::string name(TopLevelName(entryName));
  if (name.size() < 4 || UpperCaseAscii(name.substr(0, 4)) != "SET/" || name.back() == '/') return std::string();
  return name.substr(name.find_last_of("/\\") + 1);
}

// The picture file that line 3 of a .map file names. A relative name is
// looked for beside the calibration file first (the Windows program's open
// dialog made the chosen file's folder current, so that is where it looked),
// and only then from the current folder: a file of the same name there must
// not win. Files made elsewhere carry absolute paths of another machine, so
// the name part beside the calibration file is tried last.
std::string FindImageFile(const std::string& imageFileName, const std::string& calibrationFileName) {
  const std::string dir = ExtractFilePath(calibrationFileName);
  if (!imageFileName.empty() && imageFileName[0] != '/') {
    const std::string relative = dir + imageFileName;
    if (FileExists(relative)) return relative;
  }
  if (FileExists(imageFileName)) return imageFileName;
  const std::size_t cut = imageFileName.find_last_of("\\/");
  const std::string namePart = cut == std::string::npos ? imageFileName : imageFileName.substr(cut + 1);
  if (!namePart.empty()) {
    const std::string beside = dir + namePart;
    if (FileExists(beside)) return beside;
  }
  return imageFileName; // fails in the read, naming the file as written
}

} // namespace

// ---- TMapImage ----

TMapImage::TMapImage(TDisplayMapsCore* view, TMapArea* area) : View(view), Area(area) {}

namespace {

// A regular file mapped for reading; Data is null when it cannot be mapped.
class MappedFile {
public:
  MappedFile(int fd, std::size_t size) : size_(size) {
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) return;
    data_ = static_cast<const std::uint8_t*>(p);
    ::madvise(p, size, MADV_SEQUENTIAL);
  }
  ~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  const std::uint8_t* Data() const { return data_; }

  // Lets the pages of rows already decoded go, a few MiB at a time: mapped
  // pages that were read count as the process's memory until then. Rows are
  // read one after another, upwards or downwards, so the read part is one
  // range.
  void RowRead(const std::uint8_t* row, std::size_t bytes) {
    if (!readBegin_) {
      readBegin_ = row;
      readEnd_ = row + bytes;
    } else {
      readBegin_ = std::min(readBegin_, row);
      readEnd_ = std::max(readEnd_, row + bytes);
    }
    constexpr std::size_t kStep = 4 << 20;
    if (static_cast<std::size_t>(readEnd_ - readBegin_) < kStep) return;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(readBegin_) + page - 1) / page * page;
    const auto end = reinterpret_cast<std::uintptr_t>(readEnd_) / page * page;
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    // What is left is the part of a page the next rows adjoin.
    if (row == readBegin_)
      readEnd_ = reinterpret_cast<const std::uint8_t*>(begin);
    else
      readBegin_ = reinterpret_cast<const std::uint8_t*>(end);
  }

private:
  const std::uint8_t* readBegin_ = nullptr;
  const std::uint8_t* readEnd_ = nullptr;
  const std::uint8_t* data_ = nullptr;
  std::size_t size_;
};

} // namespace

void TMapImage::LoadFromFile(const std::string& fileName, std::int32_t x, std::int32_t y) {
  // PNG, BMP and JPEG pictures are decoded from the file itself, so that a
  // large map is not held twice (the file's bytes, then the picture) while it is.
  const TFileKind kind = FileKindOf(UpperFileExt(fileName));
  if (kind == TFileKind::Png || kind == TFileKind::Bmp || kind == TFileKind::Jpeg) {
    UniqueFile f(std::fopen(fileName.c_str(), "rb"));
    if (!f) ThrowCannotOpen(fileName);
    struct stat st {};
    if (::fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<std::uint64_t>(st.st_size) <= std::numeric_limits<std::size_t>::max()) {
      const auto size = static_cast<std::size_t>(st.st_size);
      zv::Bitmap decoded;
      if (kind == TFileKind::Png) {
        DecodePng(f.get(), size, decoded);
      } else {
        MappedFile mapped(fileno(f.get()), size);
        if (!mapped.Data()) {
          LoadFromStream(ReadWholeFile(fileName), fileName, x, y);
          return;
        }
        const auto read = [&mapped](const std::uint8_t* row, std::size_t bytes) { mapped.RowRead(row, bytes); };
        if (kind == TFileKind::Bmp)
          DecodeBmp(mapped.Data(), size, decoded, read);
        else
          DecodeJpeg(mapped.Data(), size, decoded, read);
      }
      Bitmap = std::move(decoded);
      X = x;
      Y = y;
      return;
    }
  }
  LoadFromStream(ReadWholeFile(fileName), fileName, x, y);
}

namespace {

// Decodes by the file's kind; false for one that is no image. With owned
// set the JPEG decoder may release the bytes early.
bool DecodeImage(TFileKind kind, const Bytes& data, Bytes* owned, zv::Bitmap& decoded) {
  if (kind == TFileKind::Bmp)
    DecodeBmp(data.data(), data.size(), decoded);
  else if (kind == TFileKind::Png)
    DecodePng(data.data(), data.size(), decoded);
  else if (kind == TFileKind::Jpeg) {
    if (owned)
      DecodeJpeg(std::move(*owned), decoded);
    else
      DecodeJpeg(data.data(), data.size(), decoded);
  } else
    return false;
  return true;
}

} // namespace

void TMapImage::LoadFromStream(const Bytes& data, const std::string& fileName, std::int32_t x, std::int32_t y) {
  Decode(data, nullptr, fileName, x, y);
}

void TMapImage::LoadFromStream(Bytes&& data, const std::string& fileName, std::int32_t x, std::int32_t y) {
  Decode(data, &data, fileName, x, y);
}

void TMapImage::Decode(const Bytes& data, Bytes* owned, const std::string& fileName, std::int32_t x, std::int32_t y) {
  const std::string ext = UpperFileExt(fileName);
  zv::Bitmap decoded;
  if (DecodeImage(FileKindOf(ext), data, owned, decoded))
    Bitmap = std::move(decoded);
  else if (View && View->ShowError)
    View->ShowError(msg::UnsupportedImageFile(ext));
  X = x;
  Y = y;
}

void TMapImage::Paint() {
  if (!View || !View->BufferCanvas || Bitmap.Empty()) return;
  // At a zoom the image's rectangle scales; below 1 the view draws the
  // picture's pixels for the whole area (PaintReduced), so here only the frame.
  const TZoomFactor factor = View->ZoomFactor();
  const int zoom = factor.Exponent();
  const std::int64_t left = View->PictureToViewX(X);
  const std::int64_t top = View->PictureToViewY(Y);
  const std::int64_t right = ScaledSide(std::int64_t{X} + Width(), factor) - View->OffsetX();
  const std::int64_t bottom = ScaledSide(std::int64_t{Y} + Height(), factor) - View->OffsetY();
  // Far outside any canvas: nothing to draw, and no coordinate may wrap.
  if (!FitsInt(left) || !FitsInt(top) || !FitsInt(right) || !FitsInt(bottom)) return;
  TCanvas& canvas = *View->BufferCanvas;
  if (factor == TZoomFactor{})
    canvas.CopyRect(static_cast<int>(left), static_cast<int>(top), Bitmap, 0, 0, Width(), Height());
  else if (!factor.Below1())
    canvas.ScaledCopy(static_cast<int>(left), static_cast<int>(top), Bitmap, 0, 0, Width(), Height(), zoom);
  if (View->HasOption(mpoShowImageBorder))
    canvas.FrameRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                     static_cast<int>(bottom), kNavy);
}

// ---- TMapArea ----

class TMapArea::TarSource {
public:
  TarSource(TTarArchive& archive, TOpenArchive* shared) : Archive(archive), Shared(shared) {}
  TTarArchive& Archive;
  // Set when the archive was walked once for all its maps; Entry is then the
  // index of the current entry.
  TOpenArchive* Shared;
  std::size_t Entry = 0;
};

TMapArea::TMapArea(TDisplayMapsCore* view, TMapLayout* layout) : View(view), Layout(layout) {}

void TMapArea::Load(const std::string& tarFileName, const std::string& fileName) {
  // The images are indexed once they are all there. A load that fails leaves
  // no index: painting then looks at every image, as it must for a partial area.
  struct IndexWhenLoaded {
    TMapArea& area;
    int exceptions = std::uncaught_exceptions();
    ~IndexWhenLoaded() {
      if (std::uncaught_exceptions() != exceptions) return;
      try {
        area.IndexImages();
      } catch (const std::bad_alloc&) {
        // Without the index every image is looked at, which is only slower.
      }
    }
  } indexWhenLoaded{*this};
  Width = 0;
  Height = 0;
  FileName = fileName;
  TarFileName = tarFileName;
  if (!tarFileName.empty())
    LoadFromArchive(tarFileName);
  else
    LoadFromFiles();
}

void TMapArea::LoadFromArchive(const std::string& tarFileName) {
  TOpenArchive* shared = View ? View->OpeningArchive : nullptr;
  if (shared && shared->Archive.FileName() != tarFileName) shared = nullptr;
  std::optional<TTarArchive> own;
  if (!shared) {
    own.emplace(tarFileName);
    own->Rewind();
  }
  TTarArchive& archive = shared ? shared->Archive : *own;
  TarSource source(archive, shared);
  TTarDirRec rec;
  std::size_t next = 0;
  // The next entry, from the archive or from the walk already made of it;
  // a walk that ended in an error raises it here, where reading would have.
  const auto nextEntry = [&] {
    if (!shared) return archive.NextEntry(rec);
    if (next == shared->Entries.size()) {
      if (shared->End) std::rethrow_exception(shared->End);
      return false;
    }
    const TOpenArchive::TEntry& entry = shared->Entries[next];
    rec.Name = entry.Name;
    archive.Seek(entry.Data);
    source.Entry = next++;
    return true;
  };
  bool calibrationTaken = false;
  while (nextEntry()) {
    const bool calibration = FileKindOf(UpperFileExt(rec.Name)) == TFileKind::Calibration;
    if (!calibrationTaken && (rec.Name == FileName || (FileName.empty() && calibration))) {
      calibrationTaken = true;
      FileName = rec.Name;
      Bytes data;
      archive.CopyEntryData(data);
      Lines = SplitLines(data.data(), data.size());
      data = Bytes(); // released before the tiles come
      ParseCalibration();
      continue; // its data has been read; it is no tile (its name has no image extension)
    }
    const std::string tile = TileInSetFolder(rec.Name);
    if (!tile.empty()) AddTile(&source, tile);
  }
}

void TMapArea::LoadFromFiles() {
  if (FileExists(FileName)) {
    const Bytes data = ReadFileUntilNul(FileName);
    Lines = SplitLines(data.data(), data.size());
  }
  ParseCalibration();

  // The tiles come from the tile list when there is one, else from the "set"
  // folder beside the calibration; without either the map is one picture.
  const std::string tileList = TileListName(FileName);
  if (FileExists(tileList)) {
    for (const std::string& line : TileListLines(ReadWholeFile(tileList))) AddTile(nullptr, line);
    return;
  }

  const std::string tileDir = ExtractFilePath(FileName) + "set";
  if (CanEnterDirectory(tileDir)) {
    for (const std::string& name : ListEntries(tileDir))
      if (UpperFileExt(name) == ".PNG") AddTile(nullptr, name);
    return;
  }

  Images.push_back(std::make_unique<TMapImage>(View, this));
  TMapImage& image = *Images.back();
  if (IsImageKind(FileKindOf(UpperFileExt(FileName))) && ImageFileName.empty()) ImageFileName = FileName;
  if (IsImageKind(FileKindOf(UpperFileExt(ImageFileName)))) image.LoadFromFile(FindImageFile(ImageFileName, FileName), 0, 0);
  Width = image.Width();
  Height = image.Height();
}

void TMapArea::AddTile(TarSource* fromTar, const std::string& tileName) {
  if (!IsImageKind(FileKindOf(UpperFileExt(tileName)))) return;
  Images.push_back(std::make_unique<TMapImage>(View, this));
  TMapImage& image = *Images.back();

  // base_X_Y: the last two underscores carry the position; text that is no
  // integer reads as 0.
  std::string base = ExtractFileNameWithoutExt(tileName);
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::size_t p = LastPos("_", base);
  if (p > 0) {
    if (!TryStrToInt(base.substr(p), y)) y = 0;
    base.resize(p - 1);
    p = LastPos("_", base);
    if (p > 0 && !TryStrToInt(base.substr(p), x)) x = 0;
  }

  if (fromTar && fromTar->Shared) {
    // Another map of this archive may have decoded the tile already; the
    // images then share its pixels.
    auto& tiles = fromTar->Shared->Tiles;
    const auto found = tiles.find(fromTar->Entry);
    if (found != tiles.end()) {
      image.Bitmap = found->second;
      image.X = x;
      image.Y = y;
    } else {
      Bytes data;
      fromTar->Archive.CopyEntryData(data);
      image.LoadFromStream(std::move(data), tileName, x, y);
      tiles.emplace(fromTar->Entry, image.Bitmap);
    }
  } else {
    Bytes data;
    if (fromTar)
      fromTar->Archive.CopyEntryData(data);
    else
      data = ReadWholeFile(ExtractFilePath(FileName) + "set" + PathDelim + tileName);
    image.LoadFromStream(std::move(data), tileName, x, y);
  }

  const std::int64_t right = std::int64_t{x} + image.Width();
  const std::int64_t bottom = std::int64_t{y} + image.Height();
  if (right > std::numeric_limits<std::int32_t>::max() || bottom > std::numeric_limits<std::int32_t>::max())
    throw Error(msg::TileOutsidePictureRange(tileName));
  if (right > Width) Width = static_cast<std::int32_t>(right);
  if (bottom > Height) Height = static_cast<std::int32_t>(bottom);
}

void TMapArea::Paint() {
  if (!Shown) return;
  if (View && View->ZoomFactor().Below1()) View->PaintReduced(*this);
  // Only the images inside the control can show; with many tiles, looking at
  // the others would cost more than drawing the visible ones.
  std::vector<std::uint32_t> visible;
  if (View && View->HasControl() && View->BufferCanvas) {
    const TPicturePoint topLeft = View->ViewToPicture(0, 0);
    const TPicturePoint bottomRight = View->ViewToPicture(View->Width(), View->Height());
    if (ImagesInRect(topLeft.X, topLeft.Y, bottomRight.X + 1, bottomRight.Y + 1, visible)) {
      for (const std::uint32_t i : visible) Images[i]->Paint();
      View->PaintOverlays(*this);
      return;
    }
  }
  for (const auto& image : Images) image->Paint();
  if (View) View->PaintOverlays(*this);
}

void TMapArea::PaintCalibrationPoints() {
  if (!View || !View->BufferCanvas) return;
  TCalibrationMarks().Paint(*View->BufferCanvas, *this, View->Viewport());
}

void TCalibrationMarks::Paint(TCanvas& canvas, const TMapArea& area, const TOverlayViewport& viewport) {
  // The outermost ring reaches 40 pixels from the centre; keep every drawn
  // coordinate inside int. The marks keep their size at every zoom.
  constexpr double margin = 64;
  constexpr double limit = std::numeric_limits<int>::max() - margin;
  for (std::size_t i = 0; i < area.Points.size(); ++i) {
    const double vx = std::floor(viewport.ToViewX(area.Points[i].X));
    const double vy = std::floor(viewport.ToViewY(area.Points[i].Y));
    if (!(std::fabs(vx) <= limit && std::fabs(vy) <= limit)) continue;
    const int px = static_cast<int>(vx);
    const int py = static_cast<int>(vy);
    canvas.SetPixel(px, py, kRed);
    const std::string number = std::to_string(i + 1);
    for (int k = 1; k <= 5; ++k) {
      canvas.Ellipse(px - 8 * k, py - 8 * k, px + 8 * k, py + 8 * k, kRed, k);
      canvas.TextOut(px + 10, py + 10, number, kBlack, 15);
    }
  }
}

void TMapArea::PaintRegion(TCanvas& canvas, std::int32_t left, std::int32_t top, std::int32_t width,
                           std::int32_t height) const {
  if (width <= 0 || height <= 0) return;
  const std::int64_t regionRight = std::int64_t{left} + width;
  const std::int64_t regionBottom = std::int64_t{top} + height;
  std::vector<std::uint32_t> hits;
  const bool indexed = ImagesInRect(left, top, regionRight, regionBottom, hits);
  const std::size_t count = indexed ? hits.size() : Images.size();
  for (std::size_t k = 0; k < count; ++k) {
    const auto& image = Images[indexed ? hits[k] : k];
    const std::int64_t l = std::max<std::int64_t>(image->X, left);
    const std::int64_t t = std::max<std::int64_t>(image->Y, top);
    const std::int64_t r = std::min<std::int64_t>(std::int64_t{image->X} + image->Width(), regionRight);
    const std::int64_t b = std::min<std::int64_t>(std::int64_t{image->Y} + image->Height(), regionBottom);
    if (l >= r || t >= b) continue;
    canvas.CopyRect(static_cast<int>(l - left), static_cast<int>(t - top), image->Bitmap,
                    static_cast<int>(l - image->X), static_cast<int>(t - image->Y), static_cast<int>(r - l),
                    static_cast<int>(b - t));
  }
}

// ---- The image index ----

// A uniform grid over the images' extent: each cell lists the images that
// reach into it, in image order. Images spanning many cells are kept in one
// list of their own, looked at by every query.
struct TMapArea::TImageIndex {
  std::size_t Count = 0; // Images.size() when built
  std::int64_t OriginX = 0, OriginY = 0, Cell = 1, Cols = 0, Rows = 0;
  std::vector<std::uint32_t> CellStart; // Cols * Rows + 1 offsets into Items
  std::vector<std::uint32_t> Items;
  std::vector<std::uint32_t> Large;
};

namespace {

// Fewer images than this are looked at one by one.
constexpr std::size_t kIndexMinImages = 32;
// An image reaching into more cells than this goes to the large list.
constexpr std::int64_t kMaxCellsPerImage = 16;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

} // namespace

void TMapArea::IndexImages() {
  index_.reset();
  const std::size_t n = Images.size();
  if (n < kIndexMinImages || n > std::numeric_limits<std::uint32_t>::max()) return;
  auto index = std::make_shared<TImageIndex>();
  index->Count = n;
  std::int64_t minX = std::numeric_limits<std::int64_t>::max(), minY = minX;
  std::int64_t maxX = std::numeric_limits<std::int64_t>::min(), maxY = maxX;
  std::int64_t sideSum = 0, drawn = 0;
  for (const auto& image : Images) {
    if (image->Bitmap.Empty()) continue; // meets no region
    minX = std::min<std::int64_t>(minX, image->X);
    minY = std::min<std::int64_t>(minY, image->Y);
    maxX = std::max<std::int64_t>(maxX, std::int64_t{image->X} + image->Width());
    maxY = std::max<std::int64_t>(maxY, std::int64_t{image->Y} + image->Height());
    sideSum += std::max(image->Width(), image->Height());
    ++drawn;
  }
  if (drawn == 0) {
    index->CellStart.assign(1, 0);
    index_ = std::move(index);
    return;
  }
  // Cells about the size of an average image, and not many more cells than images.
  std::int64_t cell = std::max<std::int64_t>(16, sideSum / drawn);
  const auto cellsAcross = [&](std::int64_t extent) { return (extent + cell - 1) / cell; };
  while (cellsAcross(maxX - minX) * cellsAcross(maxY - minY) > 4 * static_cast<std::int64_t>(n) + 16) cell *= 2;
  index->OriginX = minX;
  index->OriginY = minY;
  index->Cell = cell;
  index->Cols = cellsAcross(maxX - minX);
  index->Rows = cellsAcross(maxY - minY);

  // Two passes: count the entries of every cell, then fill them in image order.
  std::vector<std::uint32_t> counts(static_cast<std::size_t>(index->Cols * index->Rows) + 1, 0);
  const auto forCells = [&](const TMapImage& image, auto&& visit) {
    const std::int64_t cx0 = (image.X - minX) / cell, cx1 = (std::int64_t{image.X} + image.Width() - 1 - minX) / cell;
    const std::int64_t cy0 = (image.Y - minY) / cell, cy1 = (std::int64_t{image.Y} + image.Height() - 1 - minY) / cell;
    if ((cx1 - cx0 + 1) * (cy1 - cy0 + 1) > kMaxCellsPerImage) return false;
    for (std::int64_t cy = cy0; cy <= cy1; ++cy)
      for (std::int64_t cx = cx0; cx <= cx1; ++cx) visit(static_cast<std::size_t>(cy * index->Cols + cx));
    return true;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const TMapImage& image = *Images[i];
    if (image.Bitmap.Empty()) continue;
    if (!forCells(image, [&](std::size_t c) { ++counts[c + 1]; }))
      index->Large.push_back(static_cast<std::uint32_t>(i));
  }
  for (std::size_t c = 1; c < counts.size(); ++c) counts[c] += counts[c - 1];
  index->Items.resize(counts.back());
  std::vector<std::uint32_t> fill(counts.begin(), counts.end() - 1);
  for (std::size_t i = 0; i < n; ++i) {
    const TMapImage& image = *Images[i];
    if (image.Bitmap.Empty()) continue;
    forCells(image, [&](std::size_t c) { index->Items[fill[c]++] = static_cast<std::uint32_t>(i); });
  }
  index->CellStart = std::move(counts);
  index_ = std::move(index);
}

bool TMapArea::ImagesInRect(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom,
                            std::vector<std::uint32_t>& found) const {
  found.clear();
  const TImageIndex* index = index_.get();
  if (!index || index->Count != Images.size()) return false;
  if (right <= left || bottom <= top || index->Cols == 0) return true;
  const std::int64_t cx0 = std::max<std::int64_t>(0, FloorDiv(left - index->OriginX, index->Cell));
  const std::int64_t cy0 = std::max<std::int64_t>(0, FloorDiv(top - index->OriginY, index->Cell));
  const std::int64_t cx1 = std::min(index->Cols - 1, FloorDiv(right - 1 - index->OriginX, index->Cell));
  const std::int64_t cy1 = std::min(index->Rows - 1, FloorDiv(bottom - 1 - index->OriginY, index->Cell));
  found = index->Large;
  if (cx0 <= cx1 && cy0 <= cy1) {
    // A region over most of the picture gains nothing from the cells.
    if ((cx1 - cx0 + 1) * (cy1 - cy0 + 1) * 2 > index->Cols * index->Rows) return false;
    for (std::int64_t cy = cy0; cy <= cy1; ++cy)
      for (std::int64_t cx = cx0; cx <= cx1; ++cx) {
        const auto c = static_cast<std::size_t>(cy * index->Cols + cx);
        found.insert(found.end(), index->Items.begin() + index->CellStart[c],
                     index->Items.begin() + index->CellStart[c + 1]);
      }
  }
  // Image order, so that later images still cover earlier ones.
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return true;
}

} // namespace zv
