// The map-app export dialog driven as a user would: its files against the
// core's, the replace question, and Esc during a run.

#include "app/FormMapApps.h"
#include "app/Prompter.h"
#include "export/ExportToMapApps.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

using zv::TMsgType;

namespace {

class TestPrompter : public zv::TPrompter {
public:
  void Message(QWidget*, TMsgType, const QString& text, const QString&) override { Boxes << text; }
  bool Ask(QWidget*, TMsgType, const QString& text) override {
    Questions << text;
    return Answer;
  }
  QStringList Boxes, Questions;
  bool Answer = false;
};

template <class W> W* Child(QWidget* parent, const char* name) {
  W* w = parent->findChild<W*>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestFormMapApps : public QObject {
  Q_OBJECT

private slots:
  void init() {
    prompter_ = TestPrompter();
    zv::SetPrompter(&prompter_);
    core_ = std::make_unique<zv::TDisplayMapsCore>();
    core_->OpenFile(ZOVEVOD_TESTDATA_DIR "/export/merc-wgs84.map");
    form_ = std::make_unique<zv::TFormMapApps>(*core_);
    form_->show();
  }
  void cleanup() {
    form_.reset();
    core_.reset();
    zv::SetPrompter(nullptr);
  }

  void writesWhatTheCoreWrites_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("tileFormat");
    QTest::newRow("MBTiles, JPEG") << 0 << 0;
    QTest::newRow("SQLiteDB, PNG") << 1 << 1;
    QTest::newRow("KMZ") << 2 << 0;
  }
  void writesWhatTheCoreWrites() {
    QFETCH(int, format);
    QFETCH(int, tileFormat);
    QWidget* f = form_.get();
    Child<QComboBox>(f, "CmbFormat")->setCurrentIndex(format);
    Child<QComboBox>(f, "CmbTileFormat")->setCurrentIndex(tileFormat);
    const int suggested = Child<QSpinBox>(f, "SpbMaxZoom")->value();
    QVERIFY(suggested > 0);
    QCOMPARE(Child<QSpinBox>(f, "SpbMinZoom")->value(), std::max(0, suggested - 5));
    // The name inside is the file's own: the same name in two folders makes the same bytes.
    const QString got = dir_.filePath("a/core"), want = dir_.filePath("core");
    QDir().mkpath(dir_.filePath("a"));
    QFile::remove(got);
    QFile::remove(want);
    Child<QLineEdit>(f, "EdtFile")->setText(got);
    Child<QPushButton>(f, "BtnStart")->click();
    QVERIFY2(prompter_.Boxes.isEmpty(), qPrintable(prompter_.Boxes.join("; ")));
    QVERIFY(Child<QPushButton>(f, "BtnClose")->isVisible());

    zv::TMapAppOptions o;
    o.Format = static_cast<zv::TMapAppFormat>(format);
    o.Target = want.toStdString();
    o.MinZoom = std::max(0, suggested - 5), o.MaxZoom = suggested;
    o.Encoding.Format = tileFormat ? zv::TTileFormat::Png : zv::TTileFormat::Jpeg;
    zv::ExportToMapApps(zv::MapAppAreas(*core_->Layouts, core_->ActiveLayout(), false), o, {});
    QCOMPARE(ReadAll(got), ReadAll(want));
  }

  void anExistingFileIsReplacedOnlyOnYes() {
    const QString target = dir_.filePath("old.mbtiles");
    for (bool yes : {false, true}) {
      QFile f(target);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write("old");
      f.close();
      prompter_.Answer = yes;
      prompter_.Questions.clear();
      Child<QLineEdit>(form_.get(), "EdtFile")->setText(target);
      Child<QPushButton>(form_.get(), "BtnStart")->click();
      QCOMPARE(prompter_.Questions, QStringList{target + " already exists. Replace it?"});
      QCOMPARE(ReadAll(target).startsWith("SQLite format 3"), yes);
    }
  }

  void escapeDuringARunAsksAndStops() {
    prompter_.Answer = true;
    QWidget* f = form_.get();
    Child<QSpinBox>(f, "SpbMaxZoom")->setValue(9); // enough tiles to stop between
    Child<QLineEdit>(f, "EdtFile")->setText(dir_.filePath("stopped.mbtiles"));
    QMetaObject::invokeMethod(f, [f] { QTest::keyClick(f, Qt::Key_Escape); }, Qt::QueuedConnection);
    Child<QPushButton>(f, "BtnStart")->click();
    QCOMPARE(prompter_.Questions, QStringList{"Stop the export?"});
    QCOMPARE(prompter_.Boxes, QStringList{"Export stopped."});
    QVERIFY(form_->isVisible());
    QVERIFY(Child<QPushButton>(f, "BtnStart")->isVisible());
    // Neither the file nor its temporary one.
    QCOMPARE(QDir(dir_.path()).entryList({"*stopped*"}, QDir::Files | QDir::Hidden), QStringList());
  }

private:
  QTemporaryDir dir_;
  TestPrompter prompter_;
  std::unique_ptr<zv::TDisplayMapsCore> core_;
  std::unique_ptr<zv::TFormMapApps> form_;
};

QTEST_MAIN(TestFormMapApps)
#include "test_formmapapps.moc"
