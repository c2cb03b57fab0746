// `test_window --screenshot FILE OUTDIR`: a PNG of the main window on each of its pages with
// FILE open, for looking at the window without a display (tools/screenshot runs it).
#include "shell/window/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTabWidget>
#include <QTreeView>
#include <cstdio>

#include "shell/window/desktop.h"
#include "model/qvmsg.h"
#include "shell/window/main_window.h"
#include "shell/window/properties_page.h"
#include "shell/window/property_tree_model.h"

namespace orlendo {

int WriteScreenshots(const QString& file, const QString& outDir) {
  DesktopHooks().ShowMessage = [](QWidget*, const QString& text) {
    std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
  };
  DesktopHooks().Beep = [] {};
  if (!QDir().mkpath(outDir)) {
    std::fprintf(stderr, "cannot create %s\n", outDir.toUtf8().constData());
    return 1;
  }
  TfrmMain window({file.toStdString(), "/NOINI", "/WIDTH=1000", "/HEIGHT=700"});
  window.show();
  QApplication::processEvents();
  // The Properties page shows the details of the subject, so that its script can be seen.
  TPropertyTreeModel* model = window.pnlProperties->PropertyModel();
  for (int row = 0; row < model->rowCount(); ++row) {
    const QModelIndex index = model->index(row, 0);
    const TMSGProperty* record = TPropertyTreeModel::Record(index);
    if (record && (record->TagID >> 16) == 0x0037) {
      window.pnlProperties->PropertyTree()->setCurrentIndex(index);
      break;
    }
  }
  const QString base = QFileInfo(file).completeBaseName();
  for (int i = 0; i < window.PageControl->count(); ++i) {
    if (!window.PageControl->isTabVisible(i))
      continue;
    window.PageControl->setCurrentIndex(i);
    for (int n = 0; n < 5; ++n)
      QApplication::processEvents();
    const QString name = QStringLiteral("%1/%2-%3-%4.png")
                             .arg(outDir, base)
                             .arg(i)
                             .arg(window.PageControl->widget(i)->objectName());
    if (!window.grab().save(name)) {
      std::fprintf(stderr, "cannot write %s\n", name.toUtf8().constData());
      return 1;
    }
    std::printf("%s\n", name.toUtf8().constData());
  }
  return 0;
}

} // namespace orlendo
