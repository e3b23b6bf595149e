#pragma once

#include "model/MapModel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zv {

enum TDisplayMapsOption : std::uint8_t { mpoShowCalibrationPoints = 0, mpoShowImageBorder = 1 };
using TDisplayMapssOptions = std::uint8_t; // bit n for option n
constexpr TDisplayMapssOptions OptionBit(TDisplayMapsOption o) { return static_cast<TDisplayMapssOptions>(1u << o); }

// The Qt-free heart of the map view: it owns the model, holds the active area
// and layout, the scroll offsets and drawing options, and opens files. The
// desktop view derives from it and adds the widget, scroll bars and painting.
class TDisplayMapsCore {
public:
  TDisplayMapsCore();
  virtual ~TDisplayMapsCore();
  TDisplayMapsCore(const TDisplayMapsCore&) = delete;
  TDisplayMapsCore& operator=(const TDisplayMapsCore&) = delete;

  TMapHooks Hooks;
  // Answers the duplicate question; without one the answer is No.
  TQuestion Question;
  // Shows a message that is no failure ("... is unsupported image file");
  // without one the message is dropped.
  std::function<void(const std::string& text)> ShowError;

  std::unique_ptr<TMapLayouts> Layouts;

  TMapArea* ActiveMapArea() const { return activeMapArea_; }
  void SetActiveMapArea(TMapArea* area);
  TMapLayout* ActiveLayout() const { return activeLayout_; }
  void SetActiveLayout(TMapLayout* layout);

  std::int32_t OffsetX() const { return offsetX_; }
  std::int32_t OffsetY() const { return offsetY_; }
  virtual void SetOffsetX(std::int32_t v);
  virtual void SetOffsetY(std::int32_t v);
  TDisplayMapssOptions Options() const { return options_; }
  bool HasOption(TDisplayMapsOption o) const { return (options_ & OptionBit(o)) != 0; }
  virtual void SetOptions(TDisplayMapssOptions v);

  std::int32_t ExtentWidth = 0;
  std::int32_t ExtentHeight = 0;

  // The canvas the model paints on; set by the view for the length of a paint.
  TCanvas* BufferCanvas = nullptr;

  // Opening (dispatch by extension, single maps, atlases).
  void OpenFile(const std::string& fileName);
  void OpenMap(const std::string& tarFileName, const std::string& fileName);
  void OpenAtlas(const std::string& tarFileName, const std::string& atlasFileName);

  // Makes area the only shown one and the active one, and resets the offsets.
  virtual void ShowMapArea(TMapArea* area);
  // Removes the whole model.
  virtual void CloseAll();

  // Asks the desktop view to repaint; nothing without one.
  virtual void Invalidate() {}

protected:
  std::int32_t offsetX_ = 0;
  std::int32_t offsetY_ = 0;
  TDisplayMapssOptions options_ = 0;

private:
  TMapArea* activeMapArea_ = nullptr;
  TMapLayout* activeLayout_ = nullptr;
};

} // namespace zv
