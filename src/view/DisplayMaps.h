#pragma once

#include "model/DisplayMapsCore.h"

#include <QWidget>

namespace zv {

// The map view: the view core plus the widget, its scroll bars, painting and input.
class TDisplayMaps : public QWidget, public TDisplayMapsCore {
  Q_OBJECT

public:
  explicit TDisplayMaps(QWidget* parent = nullptr);
  ~TDisplayMaps() override;

  void Invalidate() override { update(); }
};

} // namespace zv
