// The rules behind the navigator tree that need no widget: the order of its
// rows, the names of new layouts, and moving a map between layouts.
#pragma once

#include <string>

namespace zv {

class TDisplayMapsCore;
class TMapArea;
class TMapLayout;
class TMapLayouts;

// The navigator's order of names: a to z folded to upper case, other bytes by
// their code, a prefix before the longer name. Negative, zero or positive.
int CompareNavigatorNames(const std::string& a, const std::string& b);

// Whether a row goes before another of its level: by name, and among equal
// names the active layout or area first.
bool NavigatorRowBefore(const std::string& name, bool active, const std::string& otherName, bool otherActive);

// "New Layout", else "New Layout (2)", "New Layout (3)", ...: the first name
// no layout has, ignoring letter case.
std::string UniqueLayoutName(const TMapLayouts& layouts);

// Moves area from its layout to layout, as the navigator's drag does: the old
// list lets the area go without destroying it (unannounced), the new one
// appends it (announced). When it is the active area, its new layout becomes
// the active layout. False, and nothing changes, when the area has no layout
// or is already in layout.
bool MoveMapArea(TDisplayMapsCore& view, TMapArea& area, TMapLayout& layout);

} // namespace zv
