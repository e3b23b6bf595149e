#include "model/NavigatorRules.h"

#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <algorithm>
#include <memory>

namespace zv {
namespace {

unsigned char FoldAscii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

} // namespace

int CompareNavigatorNames(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ca = FoldAscii(a[i]);
    const unsigned char cb = FoldAscii(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool NavigatorRowBefore(const std::string& name, bool active, const std::string& otherName, bool otherActive) {
  const int c = CompareNavigatorNames(name, otherName);
  if (c != 0) return c < 0;
  return active && !otherActive;
}

std::string UniqueLayoutName(const TMapLayouts& layouts) {
  std::string name = "New Layout";
  // Ends by the time the counter passes the number of layouts.
  for (int counter = 2; layouts.FindLayout(name); ++counter) name = "New Layout (" + std::to_string(counter) + ")";
  return name;
}

bool MoveMapArea(TDisplayMapsCore& view, TMapArea& area, TMapLayout& layout) {
  TMapLayout* from = area.Layout;
  if (!from || from == &layout) return false;
  std::unique_ptr<TMapArea> moving = from->Areas->Extract(&area);
  if (!moving) return false;
  layout.Areas->Add(std::move(moving));
  if (view.ActiveMapArea() == &area) view.SetActiveLayout(&layout);
  return true;
}

} // namespace zv
