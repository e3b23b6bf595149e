// "Map projection": the datum, projection and setup of the shown map's plane.
// The rules (which fields a projection uses, the zone proposed for UTM) are
// the core's; this is their form.
#pragma once

#include "model/CalibrationPoint.h"
#include "model/ProjectionLines.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QSpinBox;

namespace zv {

class FormProjection : public QDialog {
  Q_OBJECT
public:
  // points: the map's, for the zone proposed when UTM is chosen without one.
  FormProjection(const TPlaneChoice& current, std::vector<TCalibrationPoint> points, QWidget* parent = nullptr);
  TPlaneChoice Choice() const;

private:
  void ProjectionChosen();
  QDoubleSpinBox* AddNumber(const char* name, const QString& label, int decimals, double limit);

  std::vector<TCalibrationPoint> points_;
  QFormLayout* form_ = nullptr;
  QComboBox* cbxDatum_ = nullptr;
  QComboBox* cbxProjection_ = nullptr;
  // In the order of the setup line's fields 1..7.
  std::vector<QDoubleSpinBox*> numbers_;
  QSpinBox* spnZone_ = nullptr;
  QComboBox* cbxHemisphere_ = nullptr;
};

} // namespace zv
