// The export dialog driven as a user would: captions, rules, states, whole
// exports compared with the core's, errors, the settings file and stopping.

#include "app/DirDlg.h"
#include "app/FormExport.h"
#include "app/Prompter.h"
#include "app/StopSignals.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "export/ExportToAmbulo.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <csignal>

#include <unistd.h>

using zv::TFormExport;
using zv::TMsgType;

namespace {

// Answers every question with Answer and records every box.
class TestPrompter : public zv::TPrompter {
public:
  struct Box {
    TMsgType Type;
    QString Text;
  };
  void Message(QWidget*, TMsgType type, const QString& text, const QString&) override { Boxes.push_back({type, text}); }
  bool Ask(QWidget*, TMsgType type, const QString& text) override {
    Questions.push_back({type, text});
    return Answer;
  }
  QList<Box> Boxes, Questions;
  bool Answer = false;
};

// The view's model: the test map in layout "Default" (the active map) and a
// second layout holding a drawn map.
struct Model {
  zv::TDisplayMapsCore Core;
  Model() {
    Core.OpenFile(ZOVEVOD_TESTDATA_DIR "/export/merc-wgs84.map");
    zv::TMapLayout* second = Core.Layouts->AddLayout("Second");
    auto area = std::make_unique<zv::TMapArea>(&Core, second);
    area->Name = "drawn";
    area->FileName = "drawn.gmi";
    area->Lines = {"drawn;1;2"};
    auto image = std::make_unique<zv::TMapImage>(&Core, area.get());
    image->Bitmap = zv::Bitmap(70, 30, zv::PixelFormat::pf24bit);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 70; ++x) {
        std::uint8_t* p = image->Bitmap.Row(y) + 3 * x;
        p[0] = static_cast<std::uint8_t>(x * 3);
        p[1] = static_cast<std::uint8_t>(y * 7);
        p[2] = static_cast<std::uint8_t>(x ^ y);
      }
    area->Width = 70;
    area->Height = 30;
    area->Images.push_back(std::move(image));
    second->Areas->Add(std::move(area));
  }
};

template <class W> W* Child(QWidget* parent, const char* name) {
  W* w = parent->findChild<W*>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return "<missing>";
  return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(data);
}

// Every path below root, relative, directories with a trailing "/".
QStringList Tree(const QString& root) {
  QStringList out;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QString rel = QDir(root).relativeFilePath(path);
    if (it.fileInfo().isDir()) rel += QLatin1Char('/');
    out << rel;
  }
  out.sort();
  return out;
}

// A tar archive with the header times and checksums blanked: the entries'
// times are those of the moment they were written.
QByteArray TarWithoutTimes(QByteArray tar) {
  for (qsizetype pos = 0; pos + 512 <= tar.size();) {
    if (tar[pos] == '\0') break;
    const qlonglong size = QByteArray(tar.constData() + pos + 124, 12).trimmed().replace('\0', "").toLongLong(nullptr, 8);
    tar.replace(pos + 136, 20, QByteArray(20, ' '));
    pos += 512 + (size + 511) / 512 * 512;
  }
  return tar;
}

// The two folders hold the same names and the same bytes.
void CompareFolders(const QString& got, const QString& want) {
  const QStringList files = Tree(got);
  QCOMPARE(files, Tree(want));
  QVERIFY(!files.isEmpty());
  for (const QString& f : files) {
    if (f.endsWith(QLatin1Char('/'))) continue;
    QByteArray a = ReadAll(got + "/" + f), b = ReadAll(want + "/" + f);
    if (f.endsWith(QLatin1String(".tar"))) {
      a = TarWithoutTimes(a);
      b = TarWithoutTimes(b);
    }
    QVERIFY2(a == b, qPrintable(f));
  }
}

// A target folder that cannot be written, also when the tests run as root.
QString ReadOnlyFolder(const QTemporaryDir& tmp) {
  const QString dir = tmp.filePath("readonly");
  QDir().mkpath(dir);
  QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
  if (::access(QFile::encodeName(dir).constData(), W_OK) != 0) return dir;
  return QStringLiteral("/proc"); // root writes everywhere but there
}

} // namespace

class FormExportTest : public QObject {
  Q_OBJECT

private:
  TestPrompter prompter_;
  std::unique_ptr<QTemporaryDir> tmp_;

  // A dialog whose settings file lives in this test's folder, shown.
  std::unique_ptr<TFormExport> Shown(Model& model) {
    auto form = std::make_unique<TFormExport>(model.Core);
    form->SetSettingsFileName(tmp_->filePath("Zovevod.ini"));
    form->show();
    return form;
  }

private slots:
  void init() {
    prompter_ = TestPrompter();
    zv::SetPrompter(&prompter_);
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
  }
  void cleanup() {
    zv::SetPrompter(nullptr);
    zv::SetFolderPicker(nullptr);
  }

  void captionsAndInitialValues() {
    Model model;
    auto form = Shown(model);
    QWidget* f = form.get();
    QCOMPARE(form->windowTitle(), QStringLiteral("Export map or atlas to Ambulo..."));
    // At least the design's size; larger with a larger font.
    QVERIFY(form->width() >= 440 && form->height() >= 303);
    QCOMPARE(Child<QGroupBox>(f, "GrbExportType")->title(), QStringLiteral(" Export options"));
    auto* atlas = Child<QRadioButton>(f, "RbtExportTypeAtlas");
    QCOMPARE(atlas->text(), QStringLiteral("Whole atlas (several maps and several layers)"));
    QVERIFY(atlas->isChecked());
    QCOMPARE(Child<QRadioButton>(f, "RbtExportTypeSingleMap")->text(), QStringLiteral("Single map"));
    QVERIFY(!Child<QRadioButton>(f, "RbtExportTypeSingleMap")->isChecked());
    QCOMPARE(Child<QCheckBox>(f, "ChbTAR")->text(), QStringLiteral("TAR-ed"));
    QVERIFY(!Child<QCheckBox>(f, "ChbTAR")->isChecked());
    QCOMPARE(Child<QCheckBox>(f, "ChbTAR")->layoutDirection(), Qt::RightToLeft);

    const struct {
      const char *Label, *Caption, *Field, *Text;
    } fields[] = {
        {"LblTargetDirectory", "Target directory", "EdtTargetDirectory", ""},
        {"LblAtlasName", "Atlas name", "EdtAtlasName", "myatlas"},
        {"LblTileWidth", "Tile width", "EdtTileWidth", "400"},
        {"LblTileHeight", "Tile height", "EdtTileHeight", "400"},
        {"LblTileQuality", "JPEG Quality", "EdtTileQuality", "85"},
    };
    for (const auto& row : fields) {
      auto* label = Child<QLabel>(f, row.Label);
      QCOMPARE(label->text().remove('&'), QString::fromUtf8(row.Caption));
      QCOMPARE(label->buddy(), Child<QLineEdit>(f, row.Field));
      QCOMPARE(Child<QLineEdit>(f, row.Field)->text(), QString::fromUtf8(row.Text));
    }
    QCOMPARE(Child<QLabel>(f, "Label1")->text().remove('&'), QStringLiteral("Tile file format"));
    QCOMPARE(Child<QLabel>(f, "Label1")->buddy(), Child<QComboBox>(f, "CmbTileFormat"));
    QCOMPARE(Child<QLabel>(f, "LblTileDepth")->text().remove('&'), QStringLiteral("Color depth"));
    QCOMPARE(Child<QLabel>(f, "LblTileDepth")->buddy(), Child<QComboBox>(f, "CmbTileDepth"));
    QCOMPARE(Child<QLabel>(f, "LblTileQuality2")->text(), QStringLiteral("%"));
    auto* format = Child<QComboBox>(f, "CmbTileFormat");
    QCOMPARE(format->count(), 2);
    QCOMPARE(format->itemText(0), QStringLiteral("Jpeg files"));
    QCOMPARE(format->itemText(1), QStringLiteral("PNG files"));
    QCOMPARE(format->currentIndex(), 0);
    QCOMPARE(Child<QComboBox>(f, "CmbTileDepth")->count(), 0);
    QCOMPARE(Child<QLabel>(f, "LblZoomOutLayers")->text().remove('&'), QStringLiteral("Zoom-out layers"));
    auto* zoomOut = Child<QComboBox>(f, "CmbZoomOutLayers");
    QCOMPARE(Child<QLabel>(f, "LblZoomOutLayers")->buddy(), zoomOut);
    QStringList zoomItems;
    for (int i = 0; i < zoomOut->count(); ++i) zoomItems << zoomOut->itemText(i);
    QCOMPARE(zoomItems,
             (QStringList{"None", "1 (50 %)", "2 (50 %, 25 %)", "3 (50 %, 25 %, 12.5 %)", "4 (50 % to 6.25 %)"}));
    QCOMPARE(zoomOut->currentIndex(), 0);
    // Below the tile format controls, inside the dialog.
    QVERIFY(zoomOut->mapTo(f, QPoint(0, 0)).y() > Child<QLineEdit>(f, "EdtTileQuality")->mapTo(f, QPoint(0, 0)).y());
    QVERIFY(f->rect().contains(QRect(zoomOut->mapTo(f, QPoint(0, 0)), zoomOut->size())));

    auto* browse = Child<QToolButton>(f, "SbtDirectoryBrowse");
    QVERIFY(browse->text().isEmpty());
    QVERIFY(!browse->icon().isNull());
    // Controls without text get words; those with text or a buddy speak for
    // themselves.
    QCOMPARE(browse->accessibleName(), QStringLiteral("Choose target directory"));
    auto* bar = Child<QProgressBar>(f, "PrbMain");
    QCOMPARE(bar->accessibleName(), QStringLiteral("Export progress"));
    for (QWidget* w : f->findChildren<QWidget*>())
      if (w != browse && w != bar) QVERIFY2(w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QVERIFY(bar->isHidden());

    auto* start = Child<QPushButton>(f, "BtnStart");
    auto* running = Child<QPushButton>(f, "BtnRunning");
    auto* done = Child<QPushButton>(f, "BtnClose");
    QCOMPARE(start->text(), QStringLiteral("&Start"));
    QCOMPARE(running->text(), QStringLiteral("Running"));
    QCOMPARE(done->text(), QStringLiteral("Done"));
    QVERIFY(start->isDefault());
    QVERIFY(!running->isEnabled());
    QVERIFY(start->isVisible() && running->isHidden() && done->isHidden());

    // Visible for JPEG and a whole atlas; the depth list only for PNG.
    for (const char* name : {"LblAtlasName", "EdtAtlasName", "LblTileQuality", "EdtTileQuality", "LblTileQuality2",
                             "LblZoomOutLayers", "CmbZoomOutLayers"})
      QVERIFY2(f->findChild<QWidget*>(name)->isVisible(), name);
    for (const char* name : {"LblTileDepth", "CmbTileDepth"}) QVERIFY2(f->findChild<QWidget*>(name)->isHidden(), name);

    // Tab order inside the group box (the browse button after its field),
    // then the button; the depth list comes before the format list when it
    // shows.
    const auto tabOrder = [&] {
      QStringList order;
      QWidget* w = atlas;
      for (int i = 0; i < 60 && order.size() < 13; ++i, w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible()) order << w->objectName();
      return order;
    };
    QCOMPARE(tabOrder(), (QStringList{"RbtExportTypeAtlas", "RbtExportTypeSingleMap", "ChbTAR", "EdtTargetDirectory",
                                      "SbtDirectoryBrowse", "EdtAtlasName", "EdtTileWidth", "EdtTileHeight", "CmbTileFormat",
                                      "EdtTileQuality", "CmbZoomOutLayers", "BtnStart", "RbtExportTypeAtlas"}));
    format->setCurrentIndex(1);
    QCOMPARE(tabOrder(), (QStringList{"RbtExportTypeAtlas", "RbtExportTypeSingleMap", "ChbTAR", "EdtTargetDirectory",
                                      "SbtDirectoryBrowse", "EdtAtlasName", "EdtTileWidth", "EdtTileHeight", "CmbTileDepth",
                                      "CmbTileFormat", "CmbZoomOutLayers", "BtnStart", "RbtExportTypeAtlas"}));
  }

  void formatAndTypeRules() {
    Model model;
    auto form = Shown(model);
    QWidget* f = form.get();
    auto* format = Child<QComboBox>(f, "CmbTileFormat");
    auto* depth = Child<QComboBox>(f, "CmbTileDepth");
    format->setCurrentIndex(1);
    QCOMPARE(depth->count(), 8);
    for (int row = 0; row < 8; ++row) QCOMPARE(depth->itemText(row), QString::fromLatin1(zv::ColorDepthRows[row].Label));
    QCOMPARE(depth->currentText(), QStringLiteral("8-bit color (256 colors)"));
    QVERIFY(depth->isVisible() && Child<QLabel>(f, "LblTileDepth")->isVisible());
    QVERIFY(Child<QLineEdit>(f, "EdtTileQuality")->isHidden());
    QVERIFY(Child<QLabel>(f, "LblTileQuality")->isHidden() && Child<QLabel>(f, "LblTileQuality2")->isHidden());
    depth->setCurrentIndex(2);
    format->setCurrentIndex(0);
    QVERIFY(depth->isHidden() && Child<QLineEdit>(f, "EdtTileQuality")->isVisible());
    format->setCurrentIndex(1);
    QCOMPARE(depth->currentIndex(), 6);

    // The atlas name and the zoom-out layers belong to a whole atlas.
    Child<QComboBox>(f, "CmbZoomOutLayers")->setCurrentIndex(3);
    Child<QRadioButton>(f, "RbtExportTypeSingleMap")->click();
    for (const char* name : {"LblAtlasName", "EdtAtlasName", "LblZoomOutLayers", "CmbZoomOutLayers"})
      QVERIFY2(f->findChild<QWidget*>(name)->isHidden(), name);
    Child<QRadioButton>(f, "RbtExportTypeAtlas")->click();
    for (const char* name : {"LblAtlasName", "EdtAtlasName", "LblZoomOutLayers", "CmbZoomOutLayers"})
      QVERIFY2(f->findChild<QWidget*>(name)->isVisible(), name);
    QCOMPARE(Child<QComboBox>(f, "CmbZoomOutLayers")->currentIndex(), 3);
  }

  void emptyTargetOnlyShowsTheMessage() {
    Model model;
    auto form = Shown(model);
    QTest::keyClick(Child<QLineEdit>(form.get(), "EdtTileWidth"), Qt::Key_Return); // Enter presses Start
    QCOMPARE(prompter_.Boxes.size(), 1);
    QCOMPARE(prompter_.Boxes[0].Type, TMsgType::Error);
    QCOMPARE(prompter_.Boxes[0].Text, QStringLiteral("Please enter target directory"));
    QVERIFY(form->isVisible());
    QVERIFY(Child<QPushButton>(form.get(), "BtnStart")->isVisible());
    QVERIFY(Child<QProgressBar>(form.get(), "PrbMain")->isHidden());
  }

  void wholeExportMatchesTheCore_data() {
    QTest::addColumn<bool>("atlas");
    QTest::addColumn<bool>("tared");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("quality");
    QTest::addColumn<QString>("tile");
    QTest::addColumn<int>("zoomOut");
    QTest::newRow("atlas jpeg") << true << false << 0 << -1 << "85" << "50" << 0;
    QTest::newRow("atlas jpeg tared") << true << true << 0 << -1 << "30" << "40" << 0;
    QTest::newRow("atlas png 4-bit grayscale") << true << false << 1 << 1 << "85" << "64" << 0;
    QTest::newRow("atlas jpeg zoom-out 2") << true << false << 0 << -1 << "85" << "50" << 2;
    QTest::newRow("atlas png tared zoom-out 4") << true << true << 1 << 7 << "85" << "40" << 4;
    QTest::newRow("single jpeg") << false << false << 0 << -1 << "95" << "32" << 0;
    QTest::newRow("single png tared truecolor") << false << true << 1 << 7 << "85" << "100" << 0;
    QTest::newRow("single png 8-bit color, zoom-out hidden") << false << false << 1 << 6 << "85" << "400" << 3;
  }
  void wholeExportMatchesTheCore() {
    QFETCH(bool, atlas);
    QFETCH(bool, tared);
    QFETCH(int, format);
    QFETCH(int, depth);
    QFETCH(QString, quality);
    QFETCH(QString, tile);
    QFETCH(int, zoomOut);
    Model model;
    auto form = Shown(model);
    QWidget* f = form.get();
    const QString got = tmp_->filePath("dialog"), want = tmp_->filePath("core");
    QDir().mkpath(got);
    QDir().mkpath(want);

    (atlas ? Child<QRadioButton>(f, "RbtExportTypeAtlas") : Child<QRadioButton>(f, "RbtExportTypeSingleMap"))->click();
    Child<QCheckBox>(f, "ChbTAR")->setChecked(tared);
    Child<QLineEdit>(f, "EdtTargetDirectory")->setText(got);
    Child<QLineEdit>(f, "EdtAtlasName")->setText("world");
    Child<QLineEdit>(f, "EdtTileWidth")->setText(tile);
    Child<QLineEdit>(f, "EdtTileHeight")->setText("40");
    Child<QComboBox>(f, "CmbTileFormat")->setCurrentIndex(format);
    if (depth >= 0) Child<QComboBox>(f, "CmbTileDepth")->setCurrentIndex(depth);
    Child<QLineEdit>(f, "EdtTileQuality")->setText(quality);
    Child<QComboBox>(f, "CmbZoomOutLayers")->setCurrentIndex(zoomOut);

    // What the dialog shows while the run goes on, seen from its event loop.
    int pumped = 0;
    bool runningShown = false;
    QMetaObject::invokeMethod(
        f,
        [&] {
          ++pumped;
          runningShown = Child<QPushButton>(f, "BtnRunning")->isVisible() &&
                         !Child<QPushButton>(f, "BtnRunning")->isEnabled() &&
                         Child<QPushButton>(f, "BtnStart")->isHidden() && Child<QPushButton>(f, "BtnClose")->isHidden() &&
                         Child<QProgressBar>(f, "PrbMain")->isVisible() &&
                         !Child<QGroupBox>(f, "GrbExportType")->isEnabled();
        },
        Qt::QueuedConnection);
    QTest::mouseClick(Child<QPushButton>(f, "BtnStart"), Qt::LeftButton);
    QVERIFY(prompter_.Boxes.isEmpty());
    QCOMPARE(pumped, 1);
    QVERIFY(runningShown);
    QVERIFY(Child<QPushButton>(f, "BtnClose")->isVisible() && Child<QPushButton>(f, "BtnClose")->isDefault());
    QVERIFY(Child<QPushButton>(f, "BtnStart")->isHidden() && Child<QPushButton>(f, "BtnRunning")->isHidden());
    QVERIFY(Child<QGroupBox>(f, "GrbExportType")->isEnabled());
    auto* bar = Child<QProgressBar>(f, "PrbMain");
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->value(), bar->maximum());

    zv::TExportOptions o;
    o.TileWidthText = tile.toStdString();
    o.TileHeightText = "40";
    o.Format = format == 1 ? zv::TTileFormat::Png : zv::TTileFormat::Jpeg;
    o.DepthRow = depth < 0 ? 6 : depth;
    o.QualityText = quality.toStdString();
    o.Tared = tared;
    o.ZoomOutLayers = atlas ? zoomOut : 0; // hidden, and not used, for a single map
    if (atlas)
      zv::ExportAtlas(want.toStdString(), "world", *model.Core.Layouts, o, {});
    else
      zv::ExportSingleMap(want.toStdString(), model.Core.ActiveMapArea(), o, {});
    CompareFolders(got, want);

    // Enter presses Done, which closes the dialog.
    QTest::keyClick(f, Qt::Key_Return);
    QVERIFY(form->isHidden());
    QCOMPARE(form->result(), int(QDialog::Accepted));
  }

  void errorsReturnTheDialogToReady() {
    Model model;
    auto form = Shown(model);
    QWidget* f = form.get();
    const QString target = ReadOnlyFolder(*tmp_);
    Child<QLineEdit>(f, "EdtTargetDirectory")->setText(target);
    Child<QPushButton>(f, "BtnStart")->click();
    QCOMPARE(prompter_.Boxes.size(), 1);
    QCOMPARE(prompter_.Boxes[0].Type, TMsgType::Error);
    QCOMPARE(prompter_.Boxes[0].Text,
             QString::fromStdString(zv::msg::CannotCreateFile(target.toStdString() + "/myatlas.vka")));
    QVERIFY(Child<QPushButton>(f, "BtnStart")->isVisible());
    QVERIFY(Child<QPushButton>(f, "BtnRunning")->isHidden() && Child<QPushButton>(f, "BtnClose")->isHidden());
    QVERIFY(Child<QGroupBox>(f, "GrbExportType")->isEnabled());
    QVERIFY(Child<QProgressBar>(f, "PrbMain")->isHidden());

    // "Single map" without a shown map writes nothing.
    zv::TDisplayMapsCore empty;
    TFormExport bare(empty);
    bare.SetSettingsFileName(tmp_->filePath("Zovevod.ini"));
    bare.show();
    const QString out = tmp_->filePath("out");
    QDir().mkpath(out);
    Child<QRadioButton>(&bare, "RbtExportTypeSingleMap")->click();
    Child<QLineEdit>(&bare, "EdtTargetDirectory")->setText(out);
    Child<QPushButton>(&bare, "BtnStart")->click();
    QCOMPARE(prompter_.Boxes.size(), 2);
    QCOMPARE(prompter_.Boxes[1].Text, QStringLiteral("No map is shown to export."));
    QVERIFY(Tree(out).isEmpty());
    QVERIFY(Child<QPushButton>(&bare, "BtnStart")->isVisible());
  }

  void settingsFileBytesAndNextShow() {
    const QString ini = tmp_->filePath("Zovevod.ini");
    {
      // Never shown: nothing written.
      Model model;
      TFormExport form(model.Core);
      form.SetSettingsFileName(ini);
    }
    QVERIFY(!QFile::exists(ini));
    {
      Model model;
      auto form = Shown(model);
      Child<QLineEdit>(form.get(), "EdtTileWidth")->setText("  512 ");
      Child<QLineEdit>(form.get(), "EdtTileHeight")->setText("'256'");
      form->close(); // the window's close button
      QVERIFY(form->isHidden());
      QCOMPARE(ReadAll(ini), QByteArray("[TFormExport]\r\nFormVersion=0\r\nEdtTileHeight_Text=\"'256'\"\r\n"
                                        "EdtTileWidth_Text=512\r\n"));
      // Closed and written: program end writes nothing more.
      WriteAll(ini, "[TFormExport]\r\nEdtTileWidth_Text=77\r\n");
      form->FormDestroy();
      QCOMPARE(ReadAll(ini), QByteArray("[TFormExport]\r\nEdtTileWidth_Text=77\r\n"));
      // Shown again: the file is read first.
      form->show();
      QCOMPARE(Child<QLineEdit>(form.get(), "EdtTileWidth")->text(), QStringLiteral("77"));
      QCOMPARE(Child<QLineEdit>(form.get(), "EdtTileHeight")->text(), QStringLiteral("'256'"));
      // Still shown at program end: written then, once.
      form->FormDestroy();
      QCOMPARE(ReadAll(ini), QByteArray("[TFormExport]\r\nEdtTileWidth_Text=77\r\nFormVersion=0\r\n"
                                        "EdtTileHeight_Text=\"'256'\"\r\n"));
    }
    {
      // The next start of the program.
      WriteAll(ini, "[TFormExport]\r\nFormVersion=0\r\nEdtTileHeight_Text= 300 \r\nEdtTileWidth_Text=200\r\n");
      Model model;
      auto form = Shown(model);
      QCOMPARE(Child<QLineEdit>(form.get(), "EdtTileHeight")->text(), QStringLiteral("300"));
      QCOMPARE(Child<QLineEdit>(form.get(), "EdtTileWidth")->text(), QStringLiteral("200"));
      // Other options start from their initial values.
      QCOMPARE(Child<QLineEdit>(form.get(), "EdtAtlasName")->text(), QStringLiteral("myatlas"));
      QCOMPARE(Child<QComboBox>(form.get(), "CmbZoomOutLayers")->currentIndex(), 0);
      // Zoom-out layers are not remembered: the file stays as it is.
      Child<QComboBox>(form.get(), "CmbZoomOutLayers")->setCurrentIndex(4);
      // Esc closes a dialog that is not running, and writes too.
      QFile::remove(ini);
      QTest::keyClick(form.get(), Qt::Key_Escape);
      QVERIFY(form->isHidden());
      QCOMPARE(ReadAll(ini), QByteArray("[TFormExport]\r\nFormVersion=0\r\nEdtTileHeight_Text=300\r\n"
                                        "EdtTileWidth_Text=200\r\n"));
    }
  }

  void escapeDuringARunAsksAndStops() {
    for (bool yes : {true, false}) {
      prompter_ = TestPrompter();
      prompter_.Answer = yes;
      Model model;
      auto form = Shown(model);
      QWidget* f = form.get();
      const QString out = tmp_->filePath(yes ? "stopped" : "finished");
      QDir().mkpath(out);
      Child<QRadioButton>(f, "RbtExportTypeSingleMap")->click();
      Child<QLineEdit>(f, "EdtTargetDirectory")->setText(out);
      Child<QLineEdit>(f, "EdtTileWidth")->setText("20");
      Child<QLineEdit>(f, "EdtTileHeight")->setText("20");
      QMetaObject::invokeMethod(f, [f] { QTest::keyClick(f, Qt::Key_Escape); }, Qt::QueuedConnection);
      Child<QPushButton>(f, "BtnStart")->click();
      QCOMPARE(prompter_.Questions.size(), 1);
      QCOMPARE(prompter_.Questions[0].Text, QStringLiteral("Stop the export?"));
      QVERIFY(form->isVisible());
      const QStringList tiles = QDir(out + "/set").entryList(QDir::Files, QDir::Name);
      if (yes) {
        // Stopped after the first tile: one tile, listed; the dialog is ready.
        QCOMPARE(prompter_.Boxes.size(), 1);
        QCOMPARE(prompter_.Boxes[0].Text, QStringLiteral("Export stopped."));
        QCOMPARE(prompter_.Boxes[0].Type, TMsgType::Information); // asked for, so no error
        QCOMPARE(ReadAll(out + "/merc-wgs84.set"), QByteArray("merc-wgs84_0_0.jpg\r\n"));
        QCOMPARE(tiles, QStringList{"merc-wgs84_0_0.jpg"});
        QVERIFY(Child<QPushButton>(f, "BtnStart")->isVisible());
        QVERIFY(Child<QGroupBox>(f, "GrbExportType")->isEnabled());
      } else {
        QVERIFY(prompter_.Boxes.isEmpty());
        QCOMPARE(tiles.size(), 6 * 5);
        QVERIFY(Child<QPushButton>(f, "BtnClose")->isVisible());
      }
    }
  }

  void closeDuringARunClosesAfterIt() {
    for (bool yes : {false, true}) {
      // Enter during a run closes the dialog when the run ends; the close box
      // asks as Esc does, and a yes stops the run first.
      prompter_ = TestPrompter();
      prompter_.Answer = yes;
      Model model;
      auto form = Shown(model);
      QWidget* f = form.get();
      const QString out = tmp_->filePath(yes ? "stopped" : "finished");
      QDir().mkpath(out);
      Child<QLineEdit>(f, "EdtTargetDirectory")->setText(out);
      Child<QLineEdit>(f, "EdtTileWidth")->setText("30");
      bool stillOpen = false;
      QMetaObject::invokeMethod(
          f,
          [&] {
            if (!yes) QTest::keyClick(f, Qt::Key_Return);
            form->close();
            stillOpen = form->isVisible();
          },
          Qt::QueuedConnection);
      Child<QPushButton>(f, "BtnStart")->click();
      QVERIFY(stillOpen);
      QCOMPARE(prompter_.Questions.size(), 1);
      QCOMPARE(prompter_.Questions[0].Text, QStringLiteral("Stop the export?"));
      QVERIFY(form->isHidden());
      QVERIFY(QFile::exists(out + "/myatlas.vka"));
      QVERIFY(QFile::exists(tmp_->filePath("Zovevod.ini")));
      if (yes) {
        QCOMPARE(prompter_.Boxes.size(), 1);
        QCOMPARE(prompter_.Boxes[0].Type, TMsgType::Information);
        QCOMPARE(prompter_.Boxes[0].Text, QStringLiteral("Export stopped."));
        QCOMPARE(QDir(out + "/Default/merc-wgs84/set").entryList(QDir::Files).size(), 1);
      } else {
        QVERIFY(prompter_.Boxes.isEmpty());
        QVERIFY(QFile::exists(out + "/Second/drawn/drawn.set"));
      }
    }
  }

  void missingTargetIsCreatedAndTheBarStartsEmpty() {
    Model model;
    auto form = Shown(model);
    QWidget* f = form.get();
    const QString out = tmp_->filePath("new/deeper/out");
    Child<QLineEdit>(f, "EdtTargetDirectory")->setText(out);
    Child<QLineEdit>(f, "EdtTileWidth")->setText("30");
    Child<QPushButton>(f, "BtnStart")->click();
    QVERIFY(prompter_.Boxes.isEmpty());
    QVERIFY(QFile::exists(out + "/myatlas.vka"));
    auto* bar = Child<QProgressBar>(f, "PrbMain");
    QCOMPARE(bar->value(), bar->maximum());

    // Shown again and started: the first tile finds the bar empty, not full
    // from the last run.
    form->close();
    form->show();
    int first = -1;
    QMetaObject::invokeMethod(f, [&] { first = bar->value(); }, Qt::QueuedConnection);
    Child<QPushButton>(f, "BtnStart")->click();
    QVERIFY(first >= 0 && first < bar->maximum());

    // A target that cannot be made is said so, and nothing else happens.
    Child<QLineEdit>(f, "EdtTargetDirectory")->setText(ReadOnlyFolder(*tmp_) + "/sub");
    form->close();
    form->show();
    Child<QPushButton>(f, "BtnStart")->click();
    QCOMPARE(prompter_.Boxes.size(), 1);
    QVERIFY(prompter_.Boxes[0].Text.startsWith(QStringLiteral("Cannot create the target directory ")));
    QVERIFY(Child<QPushButton>(f, "BtnStart")->isVisible());
  }

  void nothingIsClipped() {
    // A font larger than the design's 8 points: every text still fits.
    QFont large = QApplication::font();
    large.setPointSize(13);
    QApplication::setFont(large);
    Model model;
    auto form = Shown(model);
    for (int format : {0, 1}) {
      Child<QComboBox>(form.get(), "CmbTileFormat")->setCurrentIndex(format);
      for (QWidget* w : form->findChildren<QWidget*>()) {
        if (!w->isVisible() || (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w) &&
                                !qobject_cast<QComboBox*>(w) && !qobject_cast<QLineEdit*>(w)))
          continue;
        const QSize need = w->minimumSizeHint();
        QVERIFY2(w->width() >= need.width() && w->height() >= need.height(),
                 qPrintable(QStringLiteral("%1 %2x%3 < %4x%5")
                                .arg(w->objectName())
                                .arg(w->width())
                                .arg(w->height())
                                .arg(need.width())
                                .arg(need.height())));
      }
    }
    QApplication::setFont(QFont());
  }

  // SIGTERM during a TAR-ed atlas run: the run stops after the tile in hand,
  // leaving what the core leaves after a stop at that point, with no box,
  // and the dialog closes.
  void signalStopsTheRunAsTheConverterStops() {
    Model model;
    zv::TStopSignals stopSignals;
    auto form = Shown(model);
    QWidget* f = form.get();
    const QString got = tmp_->filePath("dialog"), want = tmp_->filePath("core");
    Child<QCheckBox>(f, "ChbTAR")->setChecked(true);
    Child<QLineEdit>(f, "EdtTargetDirectory")->setText(got);
    Child<QLineEdit>(f, "EdtTileWidth")->setText("20");
    Child<QLineEdit>(f, "EdtTileHeight")->setText("20");
    QMetaObject::invokeMethod(f, [] { ::raise(SIGTERM); }, Qt::QueuedConnection);
    Child<QPushButton>(f, "BtnStart")->click();
    QVERIFY(zv::TStopSignals::Signalled());
    QVERIFY(prompter_.Boxes.isEmpty() && prompter_.Questions.isEmpty());
    QVERIFY(form->isHidden());

    zv::TExportOptions o;
    o.TileWidthText = o.TileHeightText = "20";
    o.Tared = true;
    int pumped = 0;
    zv::TExportProgress progress;
    progress.ProcessMessages = [&] { ++pumped; };
    progress.StopRequested = [&] { return pumped > 0; };
    QDir().mkpath(want);
    try {
      zv::ExportAtlas(want.toStdString(), "myatlas", *model.Core.Layouts, o, progress);
      QFAIL("not stopped");
    } catch (const zv::EExportStopped&) {
    }
    CompareFolders(got, want);
    QCOMPARE(QDir(got + "/Default/merc-wgs84/set").entryList(QDir::Files), QStringList{"merc-wgs84_0_0.jpg"});
  }

  void browsingForTheTarget() {
    Model model;
    auto form = Shown(model);
    auto* edit = Child<QLineEdit>(form.get(), "EdtTargetDirectory");
    QString title, start, answer;
    zv::SetFolderPicker([&](QWidget*, const QString& t, const QString& s) {
      title = t;
      start = s;
      return answer;
    });
    auto* browse = Child<QToolButton>(form.get(), "SbtDirectoryBrowse");
    answer = tmp_->path();
    browse->click();
    QCOMPARE(title, QStringLiteral("Select target directory"));
    QCOMPARE(start, QCoreApplication::applicationDirPath() + "/");
    QCOMPARE(edit->text(), tmp_->path());
    answer.clear(); // cancel
    browse->click();
    QCOMPARE(start, tmp_->path());
    QCOMPARE(edit->text(), tmp_->path());
  }
};

QTEST_MAIN(FormExportTest)
#include "test_formexport.moc"
