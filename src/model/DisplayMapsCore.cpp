#include "model/DisplayMapsCore.h"

namespace zv {

TDisplayMapsCore::TDisplayMapsCore() : Layouts(std::make_unique<TMapLayouts>(this)) {}

TDisplayMapsCore::~TDisplayMapsCore() {
  // The whole model goes while the hooks are still set, so their receivers
  // hear of every removed layout and area.
  Layouts.reset();
}

void TDisplayMapsCore::SetActiveMapArea(TMapArea* area) {
  if (area == activeMapArea_) return;
  activeMapArea_ = area;
  SetActiveLayout(area ? area->Layout : nullptr);
  if (Hooks.OnActiveMapAreaChange) Hooks.OnActiveMapAreaChange(this);
}

void TDisplayMapsCore::SetActiveLayout(TMapLayout* layout) {
  if (layout == activeLayout_) return;
  activeLayout_ = layout;
  if (Hooks.OnActiveLayoutChange) Hooks.OnActiveLayoutChange(this);
}

void TDisplayMapsCore::SetOffsetX(std::int32_t v) {
  offsetX_ = v;
  Invalidate();
}

void TDisplayMapsCore::SetOffsetY(std::int32_t v) {
  offsetY_ = v;
  Invalidate();
}

void TDisplayMapsCore::SetOptions(TDisplayMapssOptions v) {
  options_ = v;
  Invalidate();
}

void TDisplayMapsCore::ShowMapArea(TMapArea* area) {
  ExtentWidth = 0;
  ExtentHeight = 0;
  for (int i = 0; i < Layouts->Count(); ++i) {
    TMapAreas& areas = *(*Layouts)[i]->Areas;
    for (int j = 0; j < areas.Count(); ++j) {
      TMapArea* a = areas[j];
      a->Shown = a == area;
      if (a == area) {
        SetActiveMapArea(a);
        ExtentWidth = a->Width;
        ExtentHeight = a->Height;
      }
    }
  }
  SetOffsetX(0);
  SetOffsetY(0);
  Invalidate();
}

void TDisplayMapsCore::CloseAll() {
  Layouts->RemoveAll();
  SetActiveMapArea(nullptr);
  SetActiveLayout(nullptr);
  Invalidate();
}

} // namespace zv
