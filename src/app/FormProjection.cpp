#include "app/FormProjection.h"

#include "model/MapProjection.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>

namespace zv {
namespace {

// The combo box's item of text, put in first when it has none (a name the
// map's file gives that the tables lack).
void Select(QComboBox* box, const std::string& text) {
  const QString item = QString::fromStdString(text);
  int at = box->findText(item);
  if (at < 0) {
    box->insertItem(0, item);
    at = 0;
  }
  box->setCurrentIndex(at);
}

} // namespace

FormProjection::FormProjection(const TPlaneChoice& current, std::vector<TCalibrationPoint> points, QWidget* parent)
    : QDialog(parent), points_(std::move(points)) {
  setObjectName(QStringLiteral("FormProjection"));
  setWindowTitle(QStringLiteral("Map projection"));
  form_ = new QFormLayout(this);
  cbxDatum_ = new QComboBox(this);
  cbxDatum_->setObjectName(QStringLiteral("cbxDatum"));
  for (const std::string& name : DatumNames()) cbxDatum_->addItem(QString::fromStdString(name));
  Select(cbxDatum_, current.Setup.Datum);
  form_->addRow(QStringLiteral("&Datum"), cbxDatum_);
  cbxProjection_ = new QComboBox(this);
  cbxProjection_->setObjectName(QStringLiteral("cbxProjection"));
  for (const TProjectionKind& kind : ProjectionKinds()) cbxProjection_->addItem(QString::fromStdString(kind.Name));
  Select(cbxProjection_, current.Setup.Projection);
  form_->addRow(QStringLiteral("&Projection"), cbxProjection_);
  const TPlaneSetup& s = current.Setup;
  const std::pair<const char*, const char*> labels[] = {
      {"edtLatitudeOfOrigin", "&Latitude of origin"}, {"edtCentralMeridian", "&Central meridian"},
      {"edtScaleFactor", "&Scale factor"},             {"edtFalseEasting", "False &easting"},
      {"edtFalseNorthing", "False &northing"},         {"edtStandardParallel1", "Standard parallel &1"},
      {"edtStandardParallel2", "Standard parallel &2"}};
  const double values[] = {s.LatitudeOfOrigin, s.CentralMeridian, s.ScaleFactor,       s.FalseEasting,
                           s.FalseNorthing,    s.StandardParallel1, s.StandardParallel2};
  for (std::size_t i = 0; i < 7; ++i) {
    const bool metres = i == 3 || i == 4;
    numbers_.push_back(AddNumber(labels[i].first, QString::fromLatin1(labels[i].second), metres ? 2 : 9,
                                 metres ? 1e9 : i == 2 ? 10 : 360));
    numbers_.back()->setValue(values[i]);
  }
  spnZone_ = new QSpinBox(this);
  spnZone_->setObjectName(QStringLiteral("spnZone"));
  spnZone_->setRange(0, 60);
  spnZone_->setSpecialValueText(QStringLiteral(" "));
  spnZone_->setValue(current.Zone);
  form_->addRow(QStringLiteral("&Zone"), spnZone_);
  cbxHemisphere_ = new QComboBox(this);
  cbxHemisphere_->setObjectName(QStringLiteral("cbxHemisphere"));
  cbxHemisphere_->addItems({QStringLiteral("North"), QStringLiteral("South")});
  cbxHemisphere_->setCurrentIndex(current.South ? 1 : 0);
  form_->addRow(QStringLiteral("&Hemisphere"), cbxHemisphere_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName(QStringLiteral("btnBox"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form_->addRow(buttons);
  connect(cbxProjection_, &QComboBox::currentIndexChanged, this, &FormProjection::ProjectionChosen);
  ProjectionChosen();
}

QDoubleSpinBox* FormProjection::AddNumber(const char* name, const QString& label, int decimals, double limit) {
  auto* box = new QDoubleSpinBox(this);
  box->setObjectName(QString::fromLatin1(name));
  box->setDecimals(decimals);
  box->setRange(-limit, limit);
  form_->addRow(label, box);
  return box;
}

// Only the fields the chosen projection uses are shown.
void FormProjection::ProjectionChosen() {
  const std::string name = cbxProjection_->currentText().toStdString();
  unsigned fields = 0;
  for (const TProjectionKind& kind : ProjectionKinds())
    if (kind.Name == name) fields = kind.Fields;
  for (std::size_t i = 0; i < numbers_.size(); ++i) form_->setRowVisible(numbers_[i], (fields >> (i + 1)) & 1u);
  const bool utm = name == kUtmProjection;
  form_->setRowVisible(spnZone_, utm);
  form_->setRowVisible(cbxHemisphere_, utm);
  if (utm && spnZone_->value() == 0) {
    bool south = false;
    spnZone_->setValue(ProposedUtmZone(points_, south));
    cbxHemisphere_->setCurrentIndex(south ? 1 : 0);
  }
}

TPlaneChoice FormProjection::Choice() const {
  TPlaneChoice c;
  c.Setup.Datum = cbxDatum_->currentText().toStdString();
  c.Setup.Projection = cbxProjection_->currentText().toStdString();
  double* fields[] = {&c.Setup.LatitudeOfOrigin, &c.Setup.CentralMeridian, &c.Setup.ScaleFactor,
                      &c.Setup.FalseEasting,     &c.Setup.FalseNorthing,    &c.Setup.StandardParallel1,
                      &c.Setup.StandardParallel2};
  for (std::size_t i = 0; i < numbers_.size(); ++i)
    if (form_->isRowVisible(numbers_[i])) *fields[i] = numbers_[i]->value();
  if (c.Setup.Projection == kUtmProjection) {
    c.Zone = spnZone_->value();
    c.South = cbxHemisphere_->currentIndex() == 1;
  }
  return c;
}

} // namespace zv
