// Keyboard reach and the accessibility tree of the main window and every
// dialog, checked by the same rules over all their controls.

#include "app/FormExport.h"
#include "app/FormImport.h"
#include "app/FormMapApps.h"
#include "app/FormProjection.h"
#include "app/MainWindow.h"
#include "app/SheetCornersDialog.h"
#include "model/DisplayMapsCore.h"
#include "model/ProjectionLines.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Parts of Qt's own composite widgets, and the file dialogs, which Qt makes
// accessible itself.
bool PartOfQtWidget(const QWidget* w, const QWidget* top) {
  if (w->objectName().startsWith(QLatin1String("qt_"))) return true; // Qt names its own parts so
  for (const QWidget* p = w->parentWidget(); p && p != top->parentWidget(); p = p->parentWidget())
    if (qobject_cast<const QFileDialog*>(p) || qobject_cast<const QAbstractSpinBox*>(p) ||
        qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractItemView*>(p) ||
        qobject_cast<const QTabBar*>(p) || qobject_cast<const QMenu*>(p))
      return true;
  return false;
}

bool IsField(const QWidget* w) {
  return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
         qobject_cast<const QComboBox*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
         qobject_cast<const QTextEdit*>(w) || qobject_cast<const QAbstractItemView*>(w);
}

QString VisibleText(const QWidget* w) {
  QString text;
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
  return text.remove(QLatin1Char('&')).trimmed();
}

// The command of a tool-bar button is reached by its menu item.
bool InAMenu(const QAction* action, const QWidget* top) {
  if (!action) return false;
  for (const QMenu* menu : top->findChildren<QMenu*>())
    if (menu->actions().contains(action)) return true;
  return false;
}

struct Subject {
  const char* Name;
  std::function<std::unique_ptr<QWidget>()> Make;
};

} // namespace

class AccessibilityTest : public QObject {
  Q_OBJECT

private slots:
  void everyControlIsReachedAndNamed_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(std::size(subjects_)); ++i) QTest::newRow(subjects_[i].Name) << i;
  }

  // Labels are their fields' buddies; a field without one, and a control
  // without visible text, has a name in plain words; every control takes
  // the focus by Tab, or is a tool-bar button for a menu item.
  void everyControlIsReachedAndNamed() {
    QFETCH(int, row);
    const std::unique_ptr<QWidget> top = subjects_[row].Make();
    QSet<const QWidget*> labelled;
    for (QLabel* label : top->findChildren<QLabel*>()) {
      if (PartOfQtWidget(label, top.get())) continue;
      const bool names = label->text().contains(QLatin1Char('&')) || label->text().trimmed().endsWith(QLatin1Char(':'));
      QVERIFY2(!names || label->buddy(), qPrintable(label->objectName() + " " + label->text()));
      if (label->buddy()) labelled.insert(label->buddy());
    }
    for (QWidget* w : top->findChildren<QWidget*>()) {
      // A tab bar speaks by its tabs' texts.
      if (PartOfQtWidget(w, top.get()) || qobject_cast<QLabel*>(w) || qobject_cast<QTabBar*>(w)) continue;
      const QString what = w->objectName() + " (" + w->metaObject()->className() + ")";
      const bool control = IsField(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QProgressBar*>(w) ||
                           (w->focusPolicy() & Qt::TabFocus);
      if (!control) continue;
      if ((IsField(w) && !labelled.contains(w)) || (!IsField(w) && VisibleText(w).isEmpty())) {
        QVERIFY2(!w->accessibleName().trimmed().isEmpty(), qPrintable(what + " has no name"));
        QVERIFY2(w->accessibleName() != w->objectName(), qPrintable(what + " is named by its object name"));
      }
      if (qobject_cast<QProgressBar*>(w) || (w->focusPolicy() & Qt::TabFocus)) continue;
      auto* tool = qobject_cast<QToolButton*>(w);
      const bool viaMenu = tool && qobject_cast<QToolBar*>(tool->parentWidget()) && InAMenu(tool->defaultAction(), top.get());
      QVERIFY2(viaMenu, qPrintable(what + " is out of the keyboard's reach"));
    }
  }

private:
  zv::TDisplayMapsCore core_;
  const Subject subjects_[6] = {
      {"main window", [] { return std::make_unique<zv::MainWindow>(); }},
      {"export", [this] { return std::make_unique<zv::TFormExport>(core_); }},
      {"import", [this] { return std::make_unique<zv::TFormImport>(core_); }},
      {"map apps", [this] { return std::make_unique<zv::TFormMapApps>(core_); }},
      {"projection", [] { return std::make_unique<zv::FormProjection>(zv::TPlaneChoice{}, std::vector<zv::TCalibrationPoint>{}); }},
      {"sheet corners", [] { return std::make_unique<zv::TSheetCornersDialog>(nullptr, 0, 0); }},
  };
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
