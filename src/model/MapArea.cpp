// Map areas and their rasters: loading from plain files and tar archives,
// the tile naming rule, and drawing.

#include "model/MapModel.h"

#include "base/Errors.h"
#include "base/Paths.h"
#include "codecs/Bmp.h"
#include "codecs/Canvas.h"
#include "codecs/Jpeg.h"
#include "codecs/Png.h"
#include "model/DisplayMapsCore.h"
#include "tar/TarArchive.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <limits>
#include <unistd.h>

namespace zv {

namespace {

constexpr Rgb kNavy{0, 0, 128};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlack{0, 0, 0};

bool IsImageExt(const std::string& upperExt) {
  return upperExt == ".PNG" || upperExt == ".BMP" || upperExt == ".JPG" || upperExt == ".JPEG";
}

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

// The text of a file as calibration lines see it: everything up to the first
// NUL. An image opened alone holds one early, so the rest is never read.
Bytes ReadTextUntilNul(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) ThrowCannotOpen(path);
  Bytes data;
  std::uint8_t buf[1 << 16];
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
    std::uint8_t* nul = std::find(buf, buf + n, std::uint8_t{0});
    data.insert(data.end(), buf, nul);
    if (nul != buf + n || n < sizeof buf) break;
  }
  if (std::ferror(f.get())) ThrowCannotOpen(path);
  return data;
}

bool CanEnterDirectory(const std::string& dir) {
  return DirectoryExists(dir) && ::access(dir.c_str(), X_OK) == 0;
}

// The picture file that line 3 of a .map file names. Files made elsewhere
// carry names relative to the calibration file or absolute paths of another
// machine, so the calibration file's folder is tried as well.
std::string FindImageFile(const std::string& imageFileName, const std::string& calibrationFileName) {
  if (FileExists(imageFileName)) return imageFileName;
  const std::string dir = ExtractFilePath(calibrationFileName);
  if (!imageFileName.empty() && imageFileName[0] != '/') {
    const std::string relative = dir + imageFileName;
    if (FileExists(relative)) return relative;
  }
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

void TMapImage::LoadFromFile(const std::string& fileName, std::int32_t x, std::int32_t y) {
  LoadFromStream(ReadWholeFile(fileName), fileName, x, y);
}

namespace {

// Decodes by the upper-cased extension; false for an unsupported one. With
// owned set the JPEG decoder may release the bytes early.
bool DecodeImage(const std::string& ext, const Bytes& data, Bytes* owned, zv::Bitmap& decoded) {
  if (ext == ".BMP")
    DecodeBmp(data.data(), data.size(), decoded);
  else if (ext == ".PNG")
    DecodePng(data.data(), data.size(), decoded);
  else if (ext == ".JPG" || ext == ".JPEG") {
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
  if (DecodeImage(ext, data, owned, decoded))
    Bitmap = std::move(decoded);
  else if (View && View->ShowError)
    View->ShowError(ext + " is unsupported image file");
  X = x;
  Y = y;
}

void TMapImage::Paint() {
  if (!View || !View->BufferCanvas || Bitmap.Empty()) return;
  const std::int64_t left = std::int64_t{X} - View->OffsetX();
  const std::int64_t top = std::int64_t{Y} - View->OffsetY();
  const std::int64_t right = left + Width();
  const std::int64_t bottom = top + Height();
  // Far outside any canvas: nothing to draw, and no coordinate may wrap.
  if (!FitsInt(left) || !FitsInt(top) || !FitsInt(right) || !FitsInt(bottom)) return;
  TCanvas& canvas = *View->BufferCanvas;
  canvas.CopyRect(static_cast<int>(left), static_cast<int>(top), Bitmap, 0, 0, Width(), Height());
  if (View->HasOption(mpoShowImageBorder))
    canvas.FrameRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                     static_cast<int>(bottom), kNavy);
}

// ---- TMapArea ----

class TMapArea::TarSource {
public:
  explicit TarSource(TTarArchive& archive) : Archive(archive) {}
  TTarArchive& Archive;
};

TMapArea::TMapArea(TDisplayMapsCore* view, TMapLayout* layout) : View(view), Layout(layout) {}

void TMapArea::Load(const std::string& tarFileName, const std::string& fileName) {
  Width = 0;
  Height = 0;
  FileName = fileName;

  if (!tarFileName.empty()) {
    TTarArchive archive(tarFileName);
    archive.Rewind();
    TarSource source(archive);
    TTarDirRec rec;
    bool calibrationTaken = false;
    while (archive.NextEntry(rec)) {
      const std::string ext = UpperFileExt(rec.Name);
      if (!calibrationTaken && (rec.Name == FileName || (FileName.empty() && (ext == ".MAP" || ext == ".GMI")))) {
        calibrationTaken = true;
        FileName = rec.Name;
        Bytes data;
        archive.CopyEntryData(data);
        Lines = SplitLines(data.data(), data.size());
        data = Bytes(); // released before the tiles come
        ParseCalibration();
        continue; // its data has been read; it is no tile (its name has no image extension)
      }
      const std::string name(TopLevelName(rec.Name)); // "./set/..." holds tiles too
      if (name.size() >= 4 && UpperCaseAscii(name.substr(0, 4)) == "SET/" && name.back() != '/') {
        // Deeper folders are flattened; a "\" from a foreign writer also cuts.
        const std::size_t cut = name.find_last_of("/\\");
        const std::string tile = name.substr(cut + 1);
        if (!tile.empty()) AddTile(&source, tile);
      }
    }
    return;
  }

  if (FileExists(FileName)) {
    const Bytes data = ReadTextUntilNul(FileName);
    Lines = SplitLines(data.data(), data.size());
  }
  ParseCalibration();

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
  if (IsImageExt(UpperFileExt(FileName)) && ImageFileName.empty()) ImageFileName = FileName;
  if (IsImageExt(UpperFileExt(ImageFileName))) image.LoadFromFile(FindImageFile(ImageFileName, FileName), 0, 0);
  Width = image.Width();
  Height = image.Height();
}

void TMapArea::AddTile(TarSource* fromTar, const std::string& tileName) {
  if (!IsImageExt(UpperFileExt(tileName))) return;
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

  {
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
    throw Error("Tile " + tileName + " lies outside the picture's range");
  if (right > Width) Width = static_cast<std::int32_t>(right);
  if (bottom > Height) Height = static_cast<std::int32_t>(bottom);
}

void TMapArea::Paint() {
  if (!Shown) return;
  for (const auto& image : Images) image->Paint();
  if (View && View->HasOption(mpoShowCalibrationPoints)) PaintCalibrationPoints();
}

void TMapArea::PaintCalibrationPoints() {
  if (!View || !View->BufferCanvas) return;
  TCanvas& canvas = *View->BufferCanvas;
  // The outermost ring reaches 40 pixels from the centre; keep every drawn
  // coordinate inside int.
  constexpr std::int64_t margin = 64;
  for (std::size_t i = 0; i < Points.size(); ++i) {
    const std::int64_t px64 = std::int64_t{Points[i].X} - View->OffsetX();
    const std::int64_t py64 = std::int64_t{Points[i].Y} - View->OffsetY();
    if (!FitsInt(px64 - margin) || !FitsInt(px64 + margin) || !FitsInt(py64 - margin) || !FitsInt(py64 + margin))
      continue;
    const int px = static_cast<int>(px64);
    const int py = static_cast<int>(py64);
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
  for (const auto& image : Images) {
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

} // namespace zv
