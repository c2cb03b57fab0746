// The main window: tool bar, file-name box, left pane with the logo, and the page control with
// the five pages of the open message. It owns the one open message and the settings of the run.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "shell/command_line.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QSplitter;
class QTabWidget;
class QToolBar;

namespace orlendo {

class TQvMessage;
class TPropertiesPage;
class TStructurePage;
class THeaderPage;
class TFlagsPage;
class TfrmMessage;
class TQvLanguage;
class TFileExplorer;

inline constexpr char ProductTitle[] = "Orlendo";
inline constexpr char MainCaption[] = "Orlendo (*.msg)";

class TfrmMain : public QMainWindow {
  Q_OBJECT

public:
  // Runs the start-up sequence on args, the arguments after the program name: defaults, the
  // options part of the settings, ExtendedSettings, the command line (and the load of the file
  // it names), the modes, the icons and the window geometry.
  explicit TfrmMain(const std::vector<std::string>& args, QWidget* parent = nullptr);
  // Releases the message and writes the settings unless "/NOINI".
  ~TfrmMain() override;

  // Opens the file named in cbFileName: clears the pages, moves the name to the top of the
  // recent list, reads the file (a failure is shown as a message box with its text) and fills
  // the pages from what was read.
  void LoadMessage();
  void FillViews();
  // Empties the pages and destroys the current message.
  void ClearViews();
  // Shows the pages of AppMode and the logo unless HideLogo.
  void ApplyAppMode();
  void RebuildReopenMenu();
  // Applies the language of the settings (sender null), of a language menu item, or again to a
  // dialog about to be shown.
  void TranslateForm(QObject* sender);

  const TQvMessage* Message() const { return message_.get(); }
  TSettings& Settings() { return settings_; }
  const TRunState& RunState() const { return runState_; }
  // A load has finished and the completion beep has not run yet.
  bool BeepPending = false;

  // The page control and its pages, in tab order.
  QTabWidget* PageControl = nullptr;
  QWidget* tsPreview = nullptr;
  QWidget* tsProperties = nullptr;
  QWidget* tsStructure = nullptr;
  QWidget* tsHeader = nullptr;
  QWidget* tsFlags = nullptr;
  TfrmMessage* frmMessage = nullptr; // the preview panel, docked into tsPreview
  TPropertiesPage* pnlProperties = nullptr;
  TStructurePage* pnlStructure = nullptr;
  THeaderPage* pnlHeader = nullptr;
  TFlagsPage* pnlFlags = nullptr;
  QLabel* lblNoFile = nullptr;

  QSplitter* cbMain = nullptr; // the tool-bar bands: tbMain, tbHelp, the file-name band
  QToolBar* tbMain = nullptr;
  QToolBar* tbHelp = nullptr;
  QComboBox* cbFileName = nullptr;
  QSplitter* splLeft = nullptr; // left pane | pages
  QWidget* pnlLeft = nullptr;
  QWidget* imgLogo = nullptr;
  QLabel* lblNorvane = nullptr;
  TFileExplorer* pnlFolders = nullptr; // the file explorer, over the logo when shown

  QMenu* miFile = nullptr;
  QMenu* miFileReopen = nullptr;
  QMenu* miView = nullptr;
  QMenu* miViewLanguage = nullptr;
  QAction* miViewLanguageLine = nullptr; // the separator below the language submenu
  TQvLanguage* QvLanguage = nullptr;
  QMenu* miHelp = nullptr;
  QAction* miFileOpen = nullptr;
  QAction* miFileSaveAs = nullptr;
  QAction* miFileSaveAttachments = nullptr;
  QAction* miFileConvert = nullptr;
  QAction* miFilePrint = nullptr;
  QAction* miFilePrintPreview = nullptr;
  QAction* miFileReply = nullptr;
  QAction* miFileForward = nullptr;
  QAction* miFileExit = nullptr;
  QAction* miViewRegister = nullptr;
  QAction* miViewUnregister = nullptr;
  QAction* miViewFileTree = nullptr;
  QAction* miViewOptions = nullptr;
  QAction* miHelpContents = nullptr;
  QAction* miHelpFile = nullptr;
  QAction* miHelpHomepage = nullptr;
  QAction* miHelpSendMail = nullptr;
  QAction* miHelpCheckUpdates = nullptr;
  QAction* miHelpAbout = nullptr;

  // Command handlers.
  void btnXLSFileNameClick();
  void miFileReopenItemClick(QAction* item);
  void miFileSaveAsClick();
  void miFileSaveAttachmentsClick();
  void miFilePrintClick();
  void miFilePrintPreviewClick();
  void miFileReplyClick(int tag);
  void btnCloseClick();
  void miViewRegisterClick();
  void miViewUnregisterClick();
  void miViewFileTreeClick();
  void miViewOptionsClick();
  void miHelpContentsClick();
  void miHelpFileClick();
  void lblNorvaneClick();
  void tbbSendMailClick();
  void miHelpCheckUpdatesClick();
  void miHelpAboutClick();

  // The four filters of the open dialog, "|"-separated.
  static QString OpenDialogFilter();
  // The HTML manual in the data folder.
  static QString HelpFileName();

protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBars();
  void CreatePages();
  void CreateLeftPane();
  void SetImages();
  void ApplyGeometry();
  void StoreGeometry();
  void ApplicationIdle();
  // Builds the Structure page and fills the Properties page from the open message.
  void FillInspectors();
  // "name.msg — Orlendo" while a file is open, else "Orlendo (*.msg)".
  void UpdateCaption();
  void SetPageVisible(QWidget* page, bool visible);
  bool PageVisible(QWidget* page) const;

  TSettings settings_;
  TRunState runState_;
  std::unique_ptr<TQvMessage> message_;
  bool resizeHandlerAttached_ = false;
  bool destroying_ = false;
  // Whether the last load could show a structure (the file is a compound file); before the
  // first load there is nothing to hide.
  bool structureShown_ = true;
  std::string loadedFileName_;
  // The last load reported an error.
  bool loadFailed_ = false;
  // Enter went down in the file-name box (its release opens the file).
  bool enterPressed_ = false;
};

} // namespace orlendo
