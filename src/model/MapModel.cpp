// The map model's owning lists and their notifications.

#include "model/MapModel.h"

#include "base/Messages.h"
#include "base/Paths.h"
#include "model/DisplayMapsCore.h"

#include <cassert>

namespace zv {

namespace {

TMapHooks* HooksOf(TDisplayMapsCore* view) { return view ? &view->Hooks : nullptr; }

} // namespace

// ---- TMapLayouts ----

TMapLayouts::TMapLayouts(TDisplayMapsCore* view) : View(view) {}

TMapLayouts::~TMapLayouts() { TMapLayouts::RemoveAll(); }

TMapLayout* TMapLayouts::AddLayout(const std::string& name) {
  auto layout = std::make_unique<TMapLayout>(View);
  layout->Name = name;
  return Add(std::move(layout));
}

TMapLayout* TMapLayouts::Add(std::unique_ptr<TMapLayout> layout) {
  assert(layout);
  TMapLayout* raw = layout.get();
  items_.push_back(std::move(layout));
  if (TMapHooks* h = HooksOf(View); h && h->OnLayoutsChange) h->OnLayoutsChange(raw, lcAdded);
  return raw;
}

std::vector<TMapArea*> TMapLayouts::AllAreas() const {
  std::vector<TMapArea*> areas;
  for (int l = 0; l < Count(); ++l)
    for (TMapArea* area : (*this)[l]->Areas->All()) areas.push_back(area);
  return areas;
}

TMapLayout* TMapLayouts::FindLayout(const std::string& name) const {
  const std::string wanted = UpperCaseAscii(name);
  for (const auto& l : items_)
    if (UpperCaseAscii(l->Name) == wanted) return l.get();
  return nullptr;
}

void TMapLayouts::Remove(TMapLayout* layout) {
  const int i = IndexOf(layout);
  assert(i >= 0);
  if (i < 0) return;
  std::unique_ptr<TMapLayout> owned = std::move(items_[static_cast<std::size_t>(i)]);
  items_.erase(items_.begin() + i);
  // Destroying the layout removes its areas first, each announced.
  owned.reset();
  if (View && View->ActiveLayout() == layout) View->SetActiveLayout(nullptr);
  if (TMapHooks* h = HooksOf(View); h && h->OnLayoutsChange) h->OnLayoutsChange(layout, lcRemoved);
}

void TMapLayouts::Paint() {
  for (const auto& l : items_) l->Paint();
}

void TMapLayouts::RemoveAll() {
  while (!items_.empty()) Remove(items_.back().get());
}

int TMapLayouts::IndexOf(const TMapLayout* layout) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == layout) return static_cast<int>(i);
  return -1;
}

// ---- TMapLayout ----

TMapLayout::TMapLayout(TDisplayMapsCore* view) : View(view), Areas(std::make_unique<TMapAreas>(view, this)) {}

TMapLayout::~TMapLayout() {
  // The areas go while this layout is still whole, so that receivers of the
  // removal hooks may still read the area's Layout.
  if (Areas) Areas->RemoveAll();
  Areas.reset();
}

void TMapLayout::Paint() { Areas->Paint(); }

// ---- TMapAreas ----

TMapAreas::TMapAreas(TDisplayMapsCore* view, TMapLayout* layout) : View(view), Layout(layout) {}

TMapAreas::~TMapAreas() { TMapAreas::RemoveAll(); }

TMapArea* TMapAreas::AddMapArea(const std::string& name, const std::string& tarFileName,
                                const std::string& fileName) {
  for (const auto& a : items_) {
    if (a->FileName != fileName) continue;
    const std::string text = msg::ReloadQuestion(Layout ? Layout->Name : std::string(), a->Name);
    const bool yes = View && View->Question && View->Question(text);
    if (!yes) return a.get();
    Remove(a.get(), true);
    break;
  }
  auto area = std::make_unique<TMapArea>(View, Layout);
  area->Name = name;
  TMapArea* raw = Add(std::move(area));
  raw->Load(tarFileName, fileName);
  return raw;
}

std::vector<TMapArea*> TMapAreas::All() const {
  std::vector<TMapArea*> areas;
  for (int i = 0; i < Count(); ++i) areas.push_back((*this)[i]);
  return areas;
}

TMapArea* TMapAreas::Add(std::unique_ptr<TMapArea> area) {
  assert(area);
  TMapArea* raw = area.get();
  raw->Layout = Layout;
  items_.push_back(std::move(area));
  if (TMapHooks* h = HooksOf(View); h && h->OnMapAreasChange) h->OnMapAreasChange(raw, lcAdded);
  return raw;
}

std::unique_ptr<TMapArea> TMapAreas::Remove(TMapArea* area, bool freeIt) {
  std::unique_ptr<TMapArea> owned = Extract(area);
  assert(owned);
  if (!owned) return nullptr;
  if (freeIt) owned.reset();
  if (TMapHooks* h = HooksOf(View); h && h->OnMapAreasChange) h->OnMapAreasChange(area, lcRemoved);
  if (View && View->ActiveMapArea() == area) View->SetActiveMapArea(nullptr);
  return owned;
}

std::unique_ptr<TMapArea> TMapAreas::Extract(TMapArea* area) {
  const int i = IndexOf(area);
  if (i < 0) return nullptr;
  std::unique_ptr<TMapArea> owned = std::move(items_[static_cast<std::size_t>(i)]);
  items_.erase(items_.begin() + i);
  return owned;
}

void TMapAreas::Paint() {
  for (const auto& a : items_) a->Paint();
}

void TMapAreas::RemoveAll() {
  while (!items_.empty()) Remove(items_.back().get(), true);
}

int TMapAreas::IndexOf(const TMapArea* area) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == area) return static_cast<int>(i);
  return -1;
}

} // namespace zv
