// `test_window --screenshot FILE OUTDIR`: a PNG of the main window on each of its pages with
// FILE open, of the Preview page on each of its body tabs, of the menus and of the Options
// dialog's pages, for looking at the window without a display (tools/screenshot runs it).
// `--screenshot FILE OUTDIR LANG` translates the window with a language file first.
#include "shell/window/screenshot.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>

#include "components/form_preparation.h"
#include "components/html_view.h"
#include "components/msg_panel.h"
#include "model/qvmsg.h"
#include "shell/window/convert_dialog.h"
#include "shell/window/desktop.h"
#include "shell/window/file_explorer.h"
#include "shell/window/main_window.h"
#include "shell/window/options_dialog.h"
#include "shell/window/properties_page.h"
#include "shell/window/property_tree_model.h"

namespace orlendo {
namespace {

void Pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget& window, const QString& name) {
  if (!window.grab().save(name)) {
    std::fprintf(stderr, "cannot write %s\n", name.toUtf8().constData());
    return false;
  }
  std::printf("%s\n", name.toUtf8().constData());
  return true;
}

} // namespace

int WriteScreenshots(const QString& file, const QString& outDir, const QString& language) {
  DesktopHooks().ShowMessage = [](QWidget*, const QString& text) {
    std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
  };
  DesktopHooks().Beep = [] {};
  if (!QDir().mkpath(outDir)) {
    std::fprintf(stderr, "cannot create %s\n", outDir.toUtf8().constData());
    return 1;
  }
  std::vector<std::string> args = {"/NOINI", "/WIDTH=1000", "/HEIGHT=700"};
  if (!language.isEmpty())
    args.push_back("/LANG=" + language.toStdString());
  TfrmMain window(args);
  window.show();
  window.frmMessage->FormShow();
  QSignalSpy loaded(window.frmMessage->wbHTMLBody, &THtmlView::LoadFinished);
  window.cbFileName->setEditText(QFileInfo(file).absoluteFilePath());
  window.LoadMessage();
  QElapsedTimer limit;
  limit.start();
  const QTabWidget* body = window.frmMessage->pcBody;
  while (body->isTabVisible(TfrmMessage::kHtmlTab) && loaded.isEmpty() && limit.elapsed() < 20000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  Pump(1000); // inline images and layout after the document
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
    const QString name = QStringLiteral("%1/%2-%3-%4")
                             .arg(outDir, base)
                             .arg(i)
                             .arg(window.PageControl->widget(i)->objectName());
    if (window.PageControl->widget(i) != window.tsPreview) {
      if (!Save(window, name + ".png"))
        return 1;
      continue;
    }
    static const char* const kBodyTabs[] = {"plain", "rtf", "html"};
    QTabWidget* tabs = window.frmMessage->pcBody;
    const int chosen = tabs->currentIndex();
    for (int tab = 0; tab < tabs->count(); ++tab) {
      if (!tabs->isTabVisible(tab))
        continue;
      tabs->setCurrentIndex(tab);
      Pump(tab == TfrmMessage::kHtmlTab ? 500 : 100);
      if (!Save(window, name + "-" + kBodyTabs[tab] + ".png"))
        return 1;
    }
    tabs->setCurrentIndex(chosen);
  }
  // The file explorer, its file tree opened down to the message's folder.
  window.PageControl->setCurrentWidget(window.tsPreview);
  window.miViewFileTreeClick();
  TFileExplorer& pane = *window.pnlFolders;
  QTreeWidgetItem* node = pane.tvFiles->topLevelItem(0);
  std::string prefix;
  for (const auto& part :
       std::filesystem::path(QFileInfo(file).absoluteFilePath().toStdString()).relative_path()) {
    prefix += "/" + part.string();
    node->setExpanded(true);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < node->childCount() && !next; ++i)
      if (TFileExplorer::NodeFileName(node->child(i)) == prefix)
        next = node->child(i);
    if (!next)
      break;
    node = next;
  }
  pane.tvFiles->setCurrentItem(node);
  pane.tvFiles->scrollToItem(node);
  Pump(200);
  pane.tvFiles->horizontalScrollBar()->setValue(0); // the names, not the deepest indent
  Pump(100);
  if (!Save(window, QStringLiteral("%1/%2-explorer-files.png").arg(outDir, base)))
    return 1;
  pane.pcExplorer->setCurrentWidget(pane.tsWorkspace);
  Pump(100);
  if (!Save(window, QStringLiteral("%1/%2-explorer-workspace.png").arg(outDir, base)))
    return 1;
  window.miViewFileTreeClick();

  // The window at its design size, where every page tab must still show.
  window.resize(687, 450);
  window.PageControl->setCurrentWidget(window.tsPreview);
  Pump(200);
  if (!Save(window, QStringLiteral("%1/%2-design-size.png").arg(outDir, base)))
    return 1;

  // The menus, opened one at a time.
  for (QMenu* menu : {window.miFile, window.miView, window.miHelp}) {
    menu->popup(window.mapToGlobal(QPoint(0, 0)));
    Pump(100);
    const bool saved =
        Save(*menu, QStringLiteral("%1/menu-%2.png").arg(outDir, menu->objectName()));
    menu->hide();
    if (!saved)
      return 1;
  }
  TfrmConvert convert(&window);
  PrepareForm(&convert);
  convert.AddInputs({QDir::homePath() + QStringLiteral("/mail"), file});
  convert.edTarget->setText(QDir::homePath() + QStringLiteral("/converted"));
  convert.show();
  Pump(100);
  if (!Save(convert, QStringLiteral("%1/convert-files.png").arg(outDir)))
    return 1;
  convert.hide();
  TfrmOptions options(window.Settings(), &window);
  options.Prepare();
  options.show();
  for (int i = 0; i < options.pcOptions->count(); ++i) {
    options.pcOptions->setCurrentIndex(i);
    Pump(100);
    const QString name = QStringLiteral("%1/options-%2-%3.png")
                             .arg(outDir)
                             .arg(i)
                             .arg(options.pcOptions->widget(i)->objectName());
    if (!Save(options, name))
      return 1;
  }
  return 0;
}

} // namespace orlendo
