#include "view/DisplayMaps.h"

namespace zv {

TDisplayMaps::TDisplayMaps(QWidget* parent) : QWidget(parent) {}

TDisplayMaps::~TDisplayMaps() = default;

} // namespace zv
