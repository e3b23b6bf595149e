// The map projection dialog: it opens with the map's plane, shows the fields
// the chosen projection uses, proposes the UTM zone of the points and gives
// back what was chosen.

#include "app/FormProjection.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

using zv::FormProjection;
using zv::TPlaneChoice;

namespace {

std::vector<zv::TCalibrationPoint> PointsAt(double lat, double lon) {
  zv::TCalibrationPoint p;
  p.Lat = lat;
  p.Lon = lon;
  p.HasLatLon = true;
  return {p, p};
}

bool Shown(FormProjection& form, const char* name) {
  auto* w = form.findChild<QWidget*>(QString::fromLatin1(name));
  return w && form.findChild<QFormLayout*>()->isRowVisible(w);
}

} // namespace

class TestFormProjection : public QObject {
  Q_OBJECT
private slots:
  void ChosenProjectionShowsItsFields_data();
  void ChosenProjectionShowsItsFields();
  void OpensWithTheMapsPlaneAndGivesItBack();
};

void TestFormProjection::ChosenProjectionShowsItsFields_data() {
  QTest::addColumn<QString>("projection");
  QTest::addColumn<double>("lat");
  QTest::addColumn<double>("lon");
  QTest::addColumn<QString>("shown"); // the fields in sight, by object name
  QTest::addColumn<int>("zone");
  QTest::addColumn<bool>("south");
  QTest::newRow("lat/lon") << "Latitude/Longitude" << 48.0 << 15.0 << "" << 0 << false;
  QTest::newRow("tm") << "Transverse Mercator" << 48.0 << 15.0
                      << "edtLatitudeOfOrigin edtCentralMeridian edtScaleFactor edtFalseEasting edtFalseNorthing" << 0
                      << false;
  QTest::newRow("lcc") << "Lambert Conformal Conic" << 48.0 << 15.0
                       << "edtLatitudeOfOrigin edtCentralMeridian edtFalseEasting edtFalseNorthing "
                          "edtStandardParallel1 edtStandardParallel2"
                       << 0 << false;
  QTest::newRow("utm north") << "(UTM) Universal Transverse Mercator" << 48.0 << 15.0 << "spnZone cbxHemisphere" << 33
                             << false;
  QTest::newRow("utm south") << "(UTM) Universal Transverse Mercator" << -33.9 << 151.2 << "spnZone cbxHemisphere"
                             << 56 << true;
}

void TestFormProjection::ChosenProjectionShowsItsFields() {
  QFETCH(QString, projection);
  QFETCH(double, lat);
  QFETCH(double, lon);
  QFETCH(QString, shown);
  QFETCH(int, zone);
  QFETCH(bool, south);
  FormProjection form(TPlaneChoice{}, PointsAt(lat, lon));
  form.findChild<QComboBox*>(QStringLiteral("cbxProjection"))->setCurrentText(projection);
  for (const char* name : {"edtLatitudeOfOrigin", "edtCentralMeridian", "edtScaleFactor", "edtFalseEasting",
                           "edtFalseNorthing", "edtStandardParallel1", "edtStandardParallel2", "spnZone", "cbxHemisphere"})
    QCOMPARE(Shown(form, name), shown.split(' ').contains(QString::fromLatin1(name)));
  const TPlaneChoice c = form.Choice();
  QCOMPARE(c.Setup.Projection, projection.toStdString());
  QCOMPARE(c.Zone, zone);
  QCOMPARE(c.South, south);
  // Every field's label is its buddy.
  for (QLabel* label : form.findChildren<QLabel*>()) QVERIFY(label->buddy());
}

void TestFormProjection::OpensWithTheMapsPlaneAndGivesItBack() {
  TPlaneChoice current;
  current.Setup.Datum = "Pulkovo 1942 (1)";
  current.Setup.Projection = "Transverse Mercator";
  current.Setup.CentralMeridian = 21;
  current.Setup.FalseEasting = 4500000;
  FormProjection form(current, {});
  QCOMPARE(form.findChild<QComboBox*>(QStringLiteral("cbxDatum"))->currentText(), QStringLiteral("Pulkovo 1942 (1)"));
  form.findChild<QDoubleSpinBox*>(QStringLiteral("edtScaleFactor"))->setValue(0.9996);
  const TPlaneChoice c = form.Choice();
  QCOMPARE(c.Setup.Datum, current.Setup.Datum);
  QCOMPARE(c.Setup.CentralMeridian, 21.0);
  QCOMPARE(c.Setup.FalseEasting, 4500000.0);
  QCOMPARE(c.Setup.ScaleFactor, 0.9996);
  // A bare image's plane: WGS 84 in latitude and longitude.
  FormProjection bare(TPlaneChoice{}, {});
  QCOMPARE(bare.Choice().Setup.Datum, std::string("WGS 84"));
  QCOMPARE(bare.Choice().Setup.Projection, std::string("Latitude/Longitude"));
}

QTEST_MAIN(TestFormProjection)
#include "test_formprojection.moc"
