#pragma once

#include "base/FileSystem.h"
#include "codecs/Bitmap.h"
#include "model/CalibrationPoint.h"
#include "model/ProjectionLines.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zv {

class TCalibrationFit;
class TCanvas;
class TDisplayMapsCore;
class TMapArea;
class TMapLayout;

enum TListChange : std::uint8_t { lcAdded = 0, lcRemoved = 1 };

// The four notification slots. Each is called, when set, synchronously inside
// the operation that fires it. A removed object may already be destroyed:
// receivers use the pointer as an identity only.
struct TMapHooks {
  std::function<void(TMapLayout*, TListChange)> OnLayoutsChange;
  std::function<void(TMapArea*, TListChange)> OnMapAreasChange;
  std::function<void(TDisplayMapsCore*)> OnActiveMapAreaChange;
  std::function<void(TDisplayMapsCore*)> OnActiveLayoutChange;
};

// The model's one question (msg::ReloadQuestion): true answers Yes.
using TQuestion = std::function<bool(const std::string& text)>;

// One raster placed in an area's picture.
class TMapImage {
public:
  TMapImage(TDisplayMapsCore* view, TMapArea* area);
  virtual ~TMapImage() = default;

  TDisplayMapsCore* View;
  TMapArea* Area;
  zv::Bitmap Bitmap;
  std::int32_t X = 0;
  std::int32_t Y = 0;

  int Width() const { return Bitmap.Width(); }
  int Height() const { return Bitmap.Height(); }

  void LoadFromFile(const std::string& fileName, std::int32_t x, std::int32_t y);
  // fileName only chooses the decoder by its extension.
  void LoadFromStream(const Bytes& data, const std::string& fileName, std::int32_t x, std::int32_t y);
  // Takes the bytes over, so a decoder may release them early.
  void LoadFromStream(Bytes&& data, const std::string& fileName, std::int32_t x, std::int32_t y);
  virtual void Paint();

private:
  void Decode(const Bytes& data, Bytes* owned, const std::string& fileName, std::int32_t x, std::int32_t y);
};

// One calibrated map: calibration lines and points, and its rasters.
class TMapArea {
public:
  TMapArea(TDisplayMapsCore* view, TMapLayout* layout);
  virtual ~TMapArea() = default;

  TDisplayMapsCore* View;
  TMapLayout* Layout;
  std::vector<TCalibrationPoint> Points;
  // The points as last read (ParseCalibration) or saved (SaveCalibration):
  // Points differing from them are edits that would be lost on closing.
  std::vector<TCalibrationPoint> SavedPoints;
  // False when reading the calibration stopped at a line it could not read:
  // Points then lack the points of the lines after it.
  bool CalibrationReadWhole = true;
  // The plane the map is drawn in: what a .map's lines name (ReadPlaneChoice),
  // WGS 84 latitude and longitude for any other map, until the user chooses
  // another. The fit is made in it and the save writes it.
  TPlaneChoice Plane;
  // The plane as last read or saved: a Plane differing from it is an edit.
  TPlaneChoice SavedPlane;
  std::vector<std::string> Lines;
  std::string FileName;
  // The tar archive FileName was read from; empty for a file on disk.
  std::string TarFileName;
  std::string ImageFileName;
  std::string Name;
  bool Shown = false;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::vector<std::unique_ptr<TMapImage>> Images;

  void Load(const std::string& tarFileName, const std::string& fileName);
  // Adds the points of Lines, read by FileName's extension (ParseCalibrationLines),
  // and takes the points it ends with, also after a failure, as the saved
  // ones; Plane and SavedPlane become the plane the lines name.
  void ParseCalibration();
  // The calibration fit of Points in Plane (CalibrationFit.h), kept and made
  // again only when Points, Plane, Lines or FileName change.
  std::shared_ptr<const TCalibrationFit> Fit() const;
  virtual void Paint();
  void PaintCalibrationPoints();
  // Copies the picture's rectangle onto canvas so that picture pixel (x, y)
  // lands on (x - left, y - top). Uncovered canvas pixels are left alone.
  void PaintRegion(TCanvas& canvas, std::int32_t left, std::int32_t top, std::int32_t width,
                   std::int32_t height) const;

  // Builds the index of where the images lie, which lets painting skip the
  // images outside the region drawn. Load builds it when it ends; images
  // added later are still drawn (painting then looks at every image), but one
  // moved after indexing must be indexed again.
  void IndexImages();
  // The indices into Images of every image that may meet the rectangle
  // [left, right) x [top, bottom), ascending. False when there is no index
  // fit for use: then every image has to be looked at.
  bool ImagesInRect(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom,
                    std::vector<std::uint32_t>& found) const;

private:
  class TarSource;
  struct TImageIndex;
  // The two sources of Load: the entries of a tar archive, or the
  // calibration file with its tile list, "set" folder or picture beside it.
  void LoadFromArchive(const std::string& tarFileName);
  void LoadFromFiles();
  void AddTile(TarSource* fromTar, const std::string& tileName);
  std::shared_ptr<const TImageIndex> index_;
  mutable std::shared_ptr<const TCalibrationFit> fit_;
};

// A layout's owning list of areas.
class TMapAreas {
public:
  TMapAreas(TDisplayMapsCore* view, TMapLayout* layout);
  virtual ~TMapAreas();

  TDisplayMapsCore* View;
  TMapLayout* Layout;

  // The only way areas come into being: asks the duplicate question, appends
  // the new area (announcing it) and then loads it.
  TMapArea* AddMapArea(const std::string& name, const std::string& tarFileName, const std::string& fileName);
  TMapArea* Add(std::unique_ptr<TMapArea> area);
  // Every area, in order.
  std::vector<TMapArea*> All() const;
  // Takes the area out; destroys it when freeIt, else hands it back. Fires
  // OnMapAreasChange(lcRemoved), then clears the view's active area if it was it.
  std::unique_ptr<TMapArea> Remove(TMapArea* area, bool freeIt);
  // Takes the area out without any notification (a move between layouts).
  std::unique_ptr<TMapArea> Extract(TMapArea* area);
  virtual void Paint();
  virtual void RemoveAll();

  int Count() const { return static_cast<int>(items_.size()); }
  TMapArea* operator[](int i) const { return items_[static_cast<std::size_t>(i)].get(); }
  int IndexOf(const TMapArea* area) const;

private:
  std::vector<std::unique_ptr<TMapArea>> items_;
};

class TMapLayout {
public:
  explicit TMapLayout(TDisplayMapsCore* view);
  virtual ~TMapLayout();

  TDisplayMapsCore* View;
  std::string Name;
  std::unique_ptr<TMapAreas> Areas;

  virtual void Paint();
};

class TMapLayouts {
public:
  explicit TMapLayouts(TDisplayMapsCore* view);
  virtual ~TMapLayouts();

  TDisplayMapsCore* View;

  TMapLayout* AddLayout(const std::string& name);
  TMapLayout* Add(std::unique_ptr<TMapLayout> layout);
  // First layout whose name matches ignoring ASCII case, or null.
  TMapLayout* FindLayout(const std::string& name) const;
  // Every area of every layout, in order.
  std::vector<TMapArea*> AllAreas() const;
  void Remove(TMapLayout* layout);
  virtual void Paint();
  virtual void RemoveAll();

  int Count() const { return static_cast<int>(items_.size()); }
  TMapLayout* operator[](int i) const { return items_[static_cast<std::size_t>(i)].get(); }
  int IndexOf(const TMapLayout* layout) const;

private:
  std::vector<std::unique_ptr<TMapLayout>> items_;
};

} // namespace zv
