#include "shell/window/main_window.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProxyStyle>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "app/message_strings.h"
#include "components/form_preparation.h"
#include "components/interface_locale.h"
#include "components/msg_panel.h"
#include "components/update_check.h"
#include "export/generator_text.h"
#include "model/qvmsg.h"
#include "shell/file_association.h"
#include "shell/mail_handoff.h"
#include "shell/window/about_box.h"
#include "shell/window/att_select.h"
#include "shell/window/convert_dialog.h"
#include "shell/window/desktop.h"
#include "shell/window/dialogs.h"
#include "shell/window/file_explorer.h"
#include "shell/window/flags_page.h"
#include "shell/window/header_page.h"
#include "shell/window/images.h"
#include "shell/window/language_menu.h"
#include "shell/window/options_dialog.h"
#include "shell/window/print_command.h"
#include "shell/window/properties_page.h"
#include "shell/window/qv_language.h"
#include "shell/window/save_as.h"
#include "shell/window/structure_page.h"

namespace orlendo {
namespace {

// The page tabs in the desktop's style with less room around their captions: the design gives
// five tabs with icons the width of the window, which the desktop's fonts and padding outgrow.
class TPageTabStyle : public QProxyStyle {
public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    const int value = QProxyStyle::pixelMetric(metric, option, widget);
    if (metric == PM_TabBarTabHSpace)
      return std::min(value, 8);
    return value;
  }
};

QString FromUtf8(const std::string& s) {
  return QString::fromStdString(s);
}

// Restores the normal cursor when a load ends, also by an exception.
class TWaitCursor {
public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { Restore(); }
  void Restore() {
    if (active_)
      QApplication::restoreOverrideCursor();
    active_ = false;
  }

private:
  bool active_ = true;
};

QWidget* NewPage(const char* name) {
  auto* page = new QWidget;
  page->setObjectName(QLatin1String(name));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  return page;
}

} // namespace

TfrmMain::TfrmMain(const std::vector<std::string>& args, QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QString::fromLatin1(MainCaption));
  settings_.UseIniFile = true;

  CreateActions();
  CreateMenus();
  CreateToolBars();
  CreatePages();
  CreateLeftPane();

  auto* central = new QWidget(this);
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  centralLayout->setSpacing(0);
  centralLayout->addWidget(cbMain);
  centralLayout->addWidget(splLeft, 1);
  setCentralWidget(central);

  setAcceptDrops(true);

  // Option defaults before the file is read.
  settings_.DefaultDir = HomeFolder();
  settings_.GridFont.Name = font().family().toStdString();
  settings_.GridFont.Size = font().pointSize() > 0 ? font().pointSize() : settings_.GridFont.Size;
  settings_.BandCount = 3;

  LoadSettings(settings_, false);
  ApplyExtendedSettings(settings_, runState_);

  if (args.empty()) {
    // A suggestion only: nothing is opened here.
    QString suggestion;
    if (settings_.RecentFiles.Count() > 0) {
      suggestion = FromUtf8(settings_.RecentFiles.Items()[0]);
    } else {
      const QStringList msgs =
          QDir::current().entryList({QStringLiteral("*.msg")}, QDir::Files, QDir::Name);
      suggestion = msgs.isEmpty() ? FromUtf8(HomeFolder()) + QStringLiteral(".msg")
                                  : QDir::current().absoluteFilePath(msgs.first());
    }
    RebuildReopenMenu();
    cbFileName->setEditText(suggestion);
  } else {
    for (const std::string& a : args)
      ProcessSwitch(a, settings_, runState_);
    // The file named here is shown before the window is translated: its date already follows
    // the chosen language.
    if (!settings_.LangFile.empty())
      SetInterfaceLanguage(FromUtf8(settings_.LangFile));
    RebuildReopenMenu();
    if (!args[0].empty() && !IsKnownSwitch(args[0])) {
      cbFileName->setEditText(QFileInfo(FromUtf8(args[0])).absoluteFilePath());
      // The HTML view exists before the first message is shown in it.
      frmMessage->FormShow();
      LoadMessage();
    }
  }

  if (runState_.NoMenu) {
    menuBar()->hide();
    cbMain->hide();
  }

  ApplyAppMode();
  QvLanguage = new TQvLanguage(this);
  QvLanguage->SetStringsSeparator(QStringLiteral("|")); // list items: one|two|three
  BuildLanguageMenu(miViewLanguage, miViewLanguageLine, GetLanguagesFolder(),
                    style()->pixelMetric(QStyle::PM_SmallIconSize),
                    [this](QAction* item) { TranslateForm(item); });
  // Every dialog applies the current language just before it is shown.
  FormPreparation() = [this](QWidget* form) { TranslateForm(form); };
  TranslateForm(nullptr);
  SetImages();
  LoadSettings(settings_, true);
  ApplyGeometry();
  if (settings_.FileExplorer) {
    // Restoring the pane is no change of the settings.
    const bool changed = settings_.SettingsChanged;
    miViewFileTreeClick();
    settings_.SettingsChanged = changed;
  }

  if (settings_.LastOpened && settings_.RecentFiles.Count() > 0 && args.empty()) {
    cbFileName->setEditText(FromUtf8(settings_.RecentFiles.Items()[0]));
    LoadMessage();
  }

  // Registering as the viewer is per user here: no administrator rights are needed, so the
  // commands are there for everyone.
  miViewRegister->setEnabled(true);
  miViewUnregister->setEnabled(true);
  resizeHandlerAttached_ = true;
}

TfrmMain::~TfrmMain() {
  destroying_ = true;
  FormPreparation() = nullptr;
  ClearViews();
  if (settings_.UseIniFile) {
    StoreGeometry();
    try {
      SaveSettings(settings_);
    } catch (const std::exception& e) {
      ShowMessage(nullptr, QString::fromUtf8(e.what()));
    }
  }
}

void TfrmMain::CreateActions() {
  auto make = [this](const QString& text, const char* name, void (TfrmMain::*handler)()) {
    auto* action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    connect(action, &QAction::triggered, this,
            [this, handler] { Guarded(this, [this, handler] { (this->*handler)(); }); });
    // Actions of the window itself keep their shortcuts when "/NOMENU" hides the menu bar.
    addAction(action);
    return action;
  };
  miFileOpen = make(tr("&Open..."), "miFileOpen", &TfrmMain::btnXLSFileNameClick);
  miFileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  miFileSaveAs = make(tr("&Save As"), "miFileSaveAs", &TfrmMain::miFileSaveAsClick);
  miFileSaveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  miFileSaveAttachments =
      make(tr("Save &attachments"), "miFileSaveAttachments", &TfrmMain::miFileSaveAttachmentsClick);
  miFilePrint = make(tr("&Print..."), "miFilePrint", &TfrmMain::miFilePrintClick);
  miFilePrint->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  miFilePrintPreview =
      make(tr("Print pre&view"), "miFilePrintPreview", &TfrmMain::miFilePrintPreviewClick);
  miFileConvert = new QAction(tr("&Convert files..."), this);
  miFileConvert->setObjectName(QStringLiteral("miFileConvert"));
  connect(miFileConvert, &QAction::triggered, this, [this] { ConvertFilesCommand(this); });
  miFileReply = new QAction(tr("Reply"), this);
  miFileReply->setObjectName(QStringLiteral("miFileReply"));
  connect(miFileReply, &QAction::triggered, this,
          [this] { Guarded(this, [this] { miFileReplyClick(0); }); });
  miFileForward = new QAction(tr("Forward"), this);
  miFileForward->setObjectName(QStringLiteral("miFileForward"));
  connect(miFileForward, &QAction::triggered, this,
          [this] { Guarded(this, [this] { miFileReplyClick(1); }); });
  miFileExit = make(tr("E&xit"), "miFileExit", &TfrmMain::btnCloseClick);
  miViewRegister =
      make(tr("Register as default viewer"), "miViewRegister", &TfrmMain::miViewRegisterClick);
  miViewUnregister = make(tr("Unregister as default viewer"), "miViewUnregister",
                          &TfrmMain::miViewUnregisterClick);
  // The command flips the check mark, and the explorer pane follows the mark.
  miViewFileTree = new QAction(tr("Display file/folder tree"), this);
  miViewFileTree->setObjectName(QStringLiteral("miViewFileTree"));
  miViewFileTree->setCheckable(true);
  connect(miViewFileTree, &QAction::toggled, this,
          [this](bool on) { Guarded(this, [this, on] { pnlFolders->SetShown(on); }); });
  addAction(miViewFileTree);
  miViewOptions = make(tr("&Options..."), "miViewOptions", &TfrmMain::miViewOptionsClick);
  miHelpContents = make(tr("&Contents"), "miHelpContents", &TfrmMain::miHelpContentsClick);
  miHelpContents->setShortcut(QKeySequence(Qt::Key_F1));
  miHelpFile = make(tr("Help file (HT&ML)"), "miHelpFile", &TfrmMain::miHelpFileClick);
  miHelpHomepage = make(tr("Product &Homepage"), "miHelpHomepage", &TfrmMain::lblNorvaneClick);
  miHelpSendMail =
      make(tr("Send &E-mail to support"), "miHelpSendMail", &TfrmMain::tbbSendMailClick);
  miHelpCheckUpdates = make(tr("Check for &updates (online)"), "miHelpCheckUpdates",
                            &TfrmMain::miHelpCheckUpdatesClick);
  miHelpAbout = make(tr("&About product..."), "miHelpAbout", &TfrmMain::miHelpAboutClick);

  // Without the manual in the data folder there is no help file to open.
  miHelpFile->setVisible(QFileInfo::exists(HelpFileName()));

  // Nothing to save or answer before the first load.
  for (QAction* a : {miFileSaveAs, miFileSaveAttachments, miFilePrint, miFilePrintPreview,
                     miFileReply, miFileForward})
    a->setEnabled(false);
}

void TfrmMain::CreateMenus() {
  miFile = menuBar()->addMenu(tr("&File"));
  miFile->setObjectName(QStringLiteral("miFile"));
  miFile->addAction(miFileOpen);
  miFileReopen = miFile->addMenu(tr("&Reopen"));
  miFileReopen->setObjectName(QStringLiteral("miFileReopen"));
  connect(miFileReopen, &QMenu::triggered, this,
          [this](QAction* item) { Guarded(this, [this, item] { miFileReopenItemClick(item); }); });
  miFile->addAction(miFileSaveAs);
  miFile->addAction(miFileSaveAttachments);
  miFile->addAction(miFileConvert);
  miFile->addSeparator();
  miFile->addAction(miFilePrint);
  miFile->addAction(miFilePrintPreview);
  miFile->addSeparator();
  miFile->addAction(miFileReply);
  miFile->addAction(miFileForward);
  miFile->addSeparator();
  miFile->addAction(miFileExit);

  miView = menuBar()->addMenu(tr("&View"));
  miView->setObjectName(QStringLiteral("miView"));
  miViewLanguage = miView->addMenu(tr("Switch language"));
  miViewLanguage->setObjectName(QStringLiteral("miViewLanguage"));
  // Shown once language files are listed in it.
  miViewLanguage->menuAction()->setVisible(false);
  miViewLanguageLine = miView->addSeparator();
  miViewLanguageLine->setVisible(false);
  miView->addAction(miViewRegister);
  miView->addAction(miViewUnregister);
  miView->addSeparator();
  miView->addAction(miViewFileTree);
  miView->addAction(miViewOptions);

  miHelp = menuBar()->addMenu(tr("&Help"));
  miHelp->setObjectName(QStringLiteral("miHelp"));
  miHelp->addAction(miHelpContents);
  miHelp->addAction(miHelpFile);
  miHelp->addSeparator();
  miHelp->addAction(miHelpHomepage);
  miHelp->addAction(miHelpSendMail);
  miHelp->addAction(miHelpCheckUpdates);
  miHelp->addSeparator();
  miHelp->addAction(miHelpAbout);
}

void TfrmMain::CreateToolBars() {
  // Three bands side by side whose widths the user drags, as on a cool bar.
  cbMain = new QSplitter(Qt::Horizontal, this);
  cbMain->setObjectName(QStringLiteral("cbMain"));
  cbMain->setChildrenCollapsible(false);

  auto makeBar = [this](const char* name) {
    auto* bar = new QToolBar(cbMain);
    bar->setObjectName(QLatin1String(name));
    bar->setMovable(false);
    bar->setIconSize(QSize(20, 20));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    return bar;
  };
  tbMain = makeBar("tbMain");
  auto addButton = [](QToolBar* bar, QAction* action, const QString& hint, const char* name) {
    bar->addAction(action);
    QWidget* button = bar->widgetForAction(action);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(hint);
  };
  addButton(tbMain, miFileOpen, tr("Open File"), "btnXLSFileName");
  addButton(tbMain, miFileSaveAs, tr("Save As"), "btnSaveAs");
  addButton(tbMain, miFileExit, tr("Close"), "btnClose");
  tbHelp = makeBar("tbHelp");
  addButton(tbHelp, miHelpHomepage, tr("Homepage"), "tbbHomepage");
  addButton(tbHelp, miHelpSendMail, tr("Send Mail"), "tbbSendMail");
  addButton(tbHelp, miHelpAbout, tr("About"), "tbbAbout");

  auto* band = new QWidget(cbMain);
  band->setObjectName(QStringLiteral("bandFileName"));
  auto* bandLayout = new QHBoxLayout(band);
  bandLayout->setContentsMargins(4, 2, 4, 2);
  auto* caption = new QLabel(tr("File name:"), band);
  caption->setObjectName(QStringLiteral("lblFileName"));
  cbFileName = new QComboBox(band);
  cbFileName->setObjectName(QStringLiteral("cbFileName"));
  cbFileName->setEditable(true);
  cbFileName->setInsertPolicy(QComboBox::NoInsert);
  cbFileName->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  cbFileName->setMinimumContentsLength(20);
  caption->setBuddy(cbFileName);
  bandLayout->addWidget(caption);
  bandLayout->addWidget(cbFileName, 1);
  // Typing only edits the name; Enter or a pick from the list opens it.
  cbFileName->installEventFilter(this);
  cbFileName->lineEdit()->installEventFilter(this);
  connect(cbFileName, &QComboBox::activated, this, [this](int index) {
    Guarded(this, [this, index] {
      if (index >= 0)
        cbFileName->setEditText(cbFileName->itemText(index));
      LoadMessage();
    });
  });

  cbMain->addWidget(tbMain);
  cbMain->addWidget(tbHelp);
  cbMain->addWidget(band);
  cbMain->setStretchFactor(2, 1);
  cbMain->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TfrmMain::CreatePages() {
  PageControl = new QTabWidget;
  PageControl->setObjectName(QStringLiteral("PageControl"));
  // Every page's tab stays in sight: in a narrow window the tabs share the width (their texts
  // shortened if need be) instead of hiding behind scroll arrows.
  PageControl->setUsesScrollButtons(false);
  PageControl->setElideMode(Qt::ElideRight);
  PageControl->tabBar()->setExpanding(false);
  auto* tabStyle = new TPageTabStyle;
  tabStyle->setParent(PageControl->tabBar());
  PageControl->tabBar()->setStyle(tabStyle);
  tsPreview = NewPage("tsPreview");
  tsProperties = NewPage("tsProperties");
  tsStructure = NewPage("tsStructure");
  tsHeader = NewPage("tsHeader");
  tsFlags = NewPage("tsFlags");
  PageControl->addTab(tsPreview, tr("Preview"));
  PageControl->addTab(tsProperties, tr("Properties"));
  PageControl->addTab(tsStructure, tr("Structure"));
  PageControl->addTab(tsHeader, tr("Transport Header"));
  PageControl->addTab(tsFlags, tr("Flags"));

  frmMessage = new TfrmMessage(tsPreview, &settings_);
  frmMessage->setObjectName(QStringLiteral("frmMessage"));
  tsPreview->layout()->addWidget(frmMessage);
  pnlProperties = new TPropertiesPage(tsProperties);
  tsProperties->layout()->addWidget(pnlProperties);
  pnlStructure = new TStructurePage(tsStructure);
  tsStructure->layout()->addWidget(pnlStructure);
  pnlHeader = new THeaderPage(tsHeader);
  tsHeader->layout()->addWidget(pnlHeader);
  pnlFlags = new TFlagsPage(tsFlags);
  tsFlags->layout()->addWidget(pnlFlags);

  lblNoFile = new QLabel(tr("To view the message contents please select the file name..."));
  lblNoFile->setObjectName(QStringLiteral("lblNoFile"));
  lblNoFile->setAlignment(Qt::AlignCenter);
  lblNoFile->setWordWrap(true);
  PageControl->hide();
}

void TfrmMain::CreateLeftPane() {
  pnlLeft = new QWidget;
  pnlLeft->setObjectName(QStringLiteral("pnlLeft"));
  auto* leftLayout = new QVBoxLayout(pnlLeft);
  leftLayout->setContentsMargins(5, 5, 5, 5);
  auto* logo = new QLabel(pnlLeft);
  logo->setObjectName(QStringLiteral("imgLogo"));
  logo->setPixmap(QIcon(LogoPath()).pixmap(128, 128));
  imgLogo = logo;
  lblNorvane = new QLabel(
      QStringLiteral("<a href=\"%1\">%2</a>")
          .arg(QString::fromLatin1(HomePageAddress), tr("Norvane Software").toHtmlEscaped()),
      pnlLeft);
  lblNorvane->setObjectName(QStringLiteral("lblNorvane"));
  lblNorvane->setAlignment(Qt::AlignCenter);
  connect(lblNorvane, &QLabel::linkActivated, this, [this] { lblNorvaneClick(); });
  pnlFolders = new TFileExplorer(*this, pnlLeft);
  pnlFolders->hide();
  // The explorer, when shown, takes the logo's place down to the home-page label.
  leftLayout->addWidget(imgLogo, 1, Qt::AlignHCenter | Qt::AlignTop);
  leftLayout->addWidget(pnlFolders, 1);
  leftLayout->addWidget(lblNorvane, 0, Qt::AlignHCenter);

  auto* pages = new QWidget;
  pages->setObjectName(QStringLiteral("pnlPages"));
  auto* pagesLayout = new QVBoxLayout(pages);
  pagesLayout->setContentsMargins(5, 5, 5, 5);
  pagesLayout->addWidget(lblNoFile);
  pagesLayout->addWidget(PageControl);

  splLeft = new QSplitter(Qt::Horizontal);
  splLeft->setObjectName(QStringLiteral("splLeft"));
  splLeft->addWidget(pnlLeft);
  splLeft->addWidget(pages);
  splLeft->setStretchFactor(1, 1);
  splLeft->setChildrenCollapsible(false);
  splLeft->setSizes({settings_.LeftPaneWidth, 600});
}

void TfrmMain::SetImages() {
  const struct {
    QWidget* page;
    int image;
  } tabs[] = {{tsPreview, imgPreview},
              {tsProperties, imgProperties},
              {tsStructure, imgStructure},
              {tsHeader, imgHeader},
              {tsFlags, imgFlags}};
  for (const auto& t : tabs)
    PageControl->setTabIcon(PageControl->indexOf(t.page), MainImage(t.image));
  const struct {
    QAction* action;
    int image;
  } items[] = {{miFileOpen, imgOpen},
               {miFileExit, imgExit},
               {miHelpHomepage, imgHomepage},
               {miHelpSendMail, imgSendMail},
               {miHelpAbout, imgAbout},
               {miFileSaveAs, imgSave},
               {miFileSaveAttachments, imgSaveAttachments},
               {miViewFileTree, imgFileTree},
               {miViewOptions, imgOptions}};
  for (const auto& i : items)
    i.action->setIcon(MainImage(i.image));
  setWindowIcon(QIcon(LogoPath()));
}

bool TfrmMain::PageVisible(QWidget* page) const {
  return PageControl->isTabVisible(PageControl->indexOf(page));
}

void TfrmMain::SetPageVisible(QWidget* page, bool visible) {
  PageControl->setTabVisible(PageControl->indexOf(page), visible);
}

void TfrmMain::ApplyAppMode() {
  SetPageVisible(tsProperties, settings_.AppMode == 0);
  // A file that showed no structure keeps its Structure page hidden when the mode is applied
  // after the load at start-up.
  SetPageVisible(tsStructure, PageVisible(tsProperties) && structureShown_);
  SetPageVisible(tsHeader, settings_.AppMode != 2);
  SetPageVisible(tsPreview, true);
  SetPageVisible(tsFlags, true);
  imgLogo->setVisible(!settings_.HideLogo && !settings_.FileExplorer);
  lblNorvane->setVisible(!settings_.HideLogo);
  pnlLeft->setVisible(!settings_.HideLogo || settings_.FileExplorer);
}

void TfrmMain::ApplyGeometry() {
  const bool attached = resizeHandlerAttached_;
  resizeHandlerAttached_ = false;
  resize(settings_.FormWidth, settings_.FormHeight);
  if (settings_.PositionSet) {
    move(settings_.FormLeft >= 0 ? settings_.FormLeft : x(),
         settings_.FormTop >= 0 ? settings_.FormTop : y());
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  if (settings_.Band0Width > 0) {
    QList<int> sizes = cbMain->sizes();
    sizes[0] = settings_.Band0Width;
    if (settings_.Band1Width > 0)
      sizes[1] = settings_.Band1Width;
    cbMain->setSizes(sizes);
  }
  splLeft->setSizes({settings_.LeftPaneWidth, std::max(1, width() - settings_.LeftPaneWidth)});
  if (settings_.FormState == 2)
    setWindowState(Qt::WindowMaximized);
  else if (settings_.FormState == 1)
    setWindowState(Qt::WindowMinimized);
  resizeHandlerAttached_ = attached;
}

void TfrmMain::StoreGeometry() {
  settings_.FormState = isMaximized() ? 2 : isMinimized() ? 1 : 0;
  const QRect bounds = settings_.FormState == 0 ? QRect(pos(), size()) : normalGeometry();
  settings_.FormLeft = bounds.x();
  settings_.FormTop = bounds.y();
  settings_.FormWidth = bounds.width();
  settings_.FormHeight = bounds.height();
  const QList<int> bands = cbMain->sizes();
  settings_.Band0Width = bands.value(0);
  settings_.Band1Width = bands.value(1);
  if (pnlLeft->isVisible() || !isVisible())
    settings_.LeftPaneWidth = splLeft->sizes().value(0, settings_.LeftPaneWidth);
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (destroying_ || !resizeHandlerAttached_)
    return;
  // The first resize of a window being shown is not the user's.
  if (settings_.SaveFormPosition && event->oldSize().isValid() && event->oldSize() != event->size())
    settings_.SettingsChanged = true;
}

void TfrmMain::RebuildReopenMenu() {
  miFileReopen->clear();
  const auto& items = settings_.RecentFiles.Items();
  for (size_t i = 0; i < items.size(); ++i) {
    const QString name = FromUtf8(items[i]);
    // An "&" of the name is shown as it stands, not taken as an accelerator mark.
    QAction* item = miFileReopen->addAction(QLatin1Char('&') + QString::number(i) +
                                            QLatin1Char(' ') + QString(name).replace('&', "&&"));
    item->setToolTip(name);
    item->setStatusTip(name);
    item->setData(static_cast<int>(i));
  }
  miFileReopen->setEnabled(!items.empty());
  const QString text = cbFileName->currentText();
  cbFileName->clear();
  for (const auto& name : items)
    cbFileName->addItem(FromUtf8(name));
  cbFileName->setEditText(text);
  if (pnlFolders)
    pnlFolders->ListsChanged();
}

void TfrmMain::miFileReopenItemClick(QAction* item) {
  const QString prefix =
      QLatin1Char('&') + QString::number(item->data().toInt()) + QLatin1Char(' ');
  QString text = item->text();
  if (text.startsWith(prefix))
    text = text.mid(prefix.size());
  cbFileName->setEditText(text.replace("&&", "&"));
  LoadMessage();
}

void TfrmMain::LoadMessage() {
  BeepPending = false;
  lblNoFile->hide();
  PageControl->show();
  ClearViews();

  const QString name = cbFileName->currentText();
  const std::string fileName = name.toStdString();
  settings_.RecentFiles.MoveToFront(fileName);
  RebuildReopenMenu();
  cbFileName->setCurrentIndex(0);
  cbFileName->setEditText(name);

  loadedFileName_ = fileName;
  loadFailed_ = false;
  {
    TWaitCursor cursor;
    try {
      message_ = CreateMessageForFile(fileName);
      message_->LoadFromFile(fileName);
    } catch (const std::bad_alloc&) {
      loadFailed_ = true;
      cursor.Restore();
      ShowMessage(this, QStringLiteral("Out of memory."));
    } catch (const std::exception& e) {
      loadFailed_ = true;
      cursor.Restore();
      ShowMessage(this, QString::fromUtf8(e.what()));
    }
  }
  UpdateCaption();
  BeepPending = true;
  FillViews();
  // The workspace lists the open file apart from the recent ones only once the load is done.
  pnlFolders->ListsChanged();
  // The beep waits for the next idle moment, after the pages have been painted.
  QTimer::singleShot(0, this, [this] { Guarded(this, [this] { ApplicationIdle(); }); });
}

void TfrmMain::FillViews() {
  const TMSGProperties* root = message_ ? &message_->Properties() : nullptr;
  // Each page is filled on its own: one that fails shows why, and the others still show what
  // could be read.
  if (PageVisible(tsProperties))
    FillInspectors();
  else
    SetPageVisible(tsStructure, false);
  frmMessage->SetFileName(loadedFileName_);
  Guarded(this, [this, root] { frmMessage->DisplayMessage(root); });
  Guarded(this, [this, root] { pnlHeader->Fill(root); });
  Guarded(this, [this, root] { pnlFlags->Fill(root); });
  for (QAction* a : {miFileSaveAs, miFilePrint, miFilePrintPreview, miFileReply, miFileForward})
    a->setEnabled(true);
  miFileSaveAttachments->setEnabled(frmMessage->AttachmentCount() > 0);
}

void TfrmMain::FillInspectors() {
  // The structure exists only for a compound file. A damaged one whose load already said what
  // is wrong with it needs no second box for the same damage.
  structureShown_ = false;
  try {
    structureShown_ = pnlStructure->Build(loadedFileName_);
  } catch (const std::exception& e) {
    pnlStructure->Clear();
    if (!loadFailed_)
      ShowMessage(this, QString::fromUtf8(e.what()));
  }
  SetPageVisible(tsStructure, structureShown_);
  // The tree model reads the message when rows are shown, so a large message costs nothing
  // here.
  Guarded(this, [this] { pnlProperties->SetMessage(message_.get()); });
}

void TfrmMain::UpdateCaption() {
  // The open file's name first, so that the task bar tells windows apart.
  if (loadedFileName_.empty())
    setWindowTitle(QString::fromLatin1(MainCaption));
  else
    setWindowTitle(QFileInfo(FromUtf8(loadedFileName_)).fileName() + QString::fromUtf8(" — ") +
                   QString::fromLatin1(ProductTitle));
}

void TfrmMain::ClearViews() {
  pnlStructure->Clear();
  pnlProperties->Clear();
  pnlHeader->Clear();
  pnlFlags->Clear();
  // The panel points into the message: it lets go before the message is destroyed. A window
  // being destroyed takes the panel with it and shows nothing more.
  if (!destroying_)
    frmMessage->Clear();
  message_.reset();
}

void TfrmMain::ApplicationIdle() {
  if (!BeepPending)
    return;
  if (settings_.BeepAfter)
    DesktopHooks().Beep();
  BeepPending = false;
}

QString TfrmMain::OpenDialogFilter() {
  QStringList filters;
  for (const char* key : {"MsgFileExt", "EMLFileExt", "MHTFileExt", "AllFileExt"})
    filters << FromUtf8(MessageString(key)); // a language file may translate them
  return filters.join(QLatin1Char('|'));
}

QString TfrmMain::HelpFileName() {
  return FromUtf8(DataFolder()) + QStringLiteral("help/index.html");
}

void TfrmMain::btnXLSFileNameClick() {
  QString fileName = cbFileName->currentText();
  if (ShowFileDialog(this, QStringLiteral("msg"), OpenDialogFilter(), true, fileName, QString(),
                     FromUtf8(settings_.DefaultDir))) {
    cbFileName->setEditText(fileName);
    LoadMessage();
  }
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls())
    event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  for (const QUrl& url : urls) {
    if (!url.isLocalFile())
      continue;
    event->acceptProposedAction();
    const QString file = url.toLocalFile();
    Guarded(this, [this, file] {
      cbFileName->setEditText(file);
      LoadMessage();
    });
    return; // only the first file is opened
  }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == cbFileName || watched == cbFileName->lineEdit()) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // Only a key pressed here opens the file: the release of the Enter that closed the
        // load-error box lands here too, and would open the same name and the box again.
        if (event->type() == QEvent::KeyPress && !key->isAutoRepeat())
          enterPressed_ = true;
        if (event->type() == QEvent::KeyRelease && !key->isAutoRepeat() && enterPressed_) {
          enterPressed_ = false;
          Guarded(this, [this] { LoadMessage(); });
        }
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::btnCloseClick() {
  close();
}

void TfrmMain::miFileSaveAsClick() {
  SaveMessageAs(this, message_.get(), settings_, cbFileName->currentText().toStdString());
}

void TfrmMain::miFilePrintClick() {
  if (message_)
    PrintMessageCommand(this, message_->Properties());
}

void TfrmMain::miFilePrintPreviewClick() {
  if (message_)
    PrintPreviewCommand(this, message_->Properties());
}

void TfrmMain::miFileSaveAttachmentsClick() {
  SaveAttachmentsCommand(this, *frmMessage, settings_, cbFileName->currentText().toStdString());
}

void TfrmMain::miFileReplyClick(int tag) {
  if (!message_)
    return;
  ReplyOrForward(message_->Properties(), tag == 1);
}

void TfrmMain::miViewRegisterClick() {
  try {
    RegisterAsDefaultViewer(ProgramPath());
    ShowMessage(this, FromUtf8(RegisteredMessage()));
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromUtf8(e.what()));
  }
}

void TfrmMain::miViewUnregisterClick() {
  try {
    UnregisterAsDefaultViewer();
    ShowMessage(this, FromUtf8(UnregisteredMessage()));
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromUtf8(e.what()));
  }
}

void TfrmMain::miHelpCheckUpdatesClick() {
  // The check has time limits of its own and keeps the window painted while it waits.
  TUpdateOutcome outcome;
  {
    TWaitCursor cursor;
    outcome =
        CheckForUpdates(FromUtf8(settings_.UpdateUrl), QString::fromLatin1(ProgramVersionText));
  }
  if (outcome.kind != TUpdateOutcome::None)
    ShowMessage(this, outcome.Text);
}

void TfrmMain::miViewFileTreeClick() {
  miViewFileTree->toggle();
}

void TfrmMain::miHelpContentsClick() {
  OpenUrl(QUrl::fromLocalFile(HelpFileName()));
}

void TfrmMain::miHelpFileClick() {
  OpenUrl(QUrl::fromLocalFile(HelpFileName()));
}

void TfrmMain::lblNorvaneClick() {
  OpenUrl(QUrl(QString::fromLatin1(HomePageAddress)));
}

void TfrmMain::tbbSendMailClick() {
  OpenUrl(QUrl(FromUtf8(SupportMailUrl())));
}

void TfrmMain::TranslateForm(QObject* sender) {
  // A language file with a wrong value still applies its other lines; the wrong one is named.
  Guarded(this, [this, sender] {
    orlendo::TranslateForm(*QvLanguage, settings_, sender, this,
                           [this](const QString& text) { ShowMessage(this, text); });
  });
  if (!qobject_cast<QWidget*>(sender) || sender == this) {
    UpdateCaption();
    // The file named on the command line was shown before the window was translated: the notes
    // above its header take the language now.
    frmMessage->ShowMessageStrings();
  }
}

void TfrmMain::miViewOptionsClick() {
  const bool inspectorsShown = PageVisible(tsProperties);
  if (!ShowOptionsDialog(this, settings_))
    return;
  ApplyAppMode();
  // Pages that the mode shows only now were not filled by the load: fill them from the message
  // already read.
  if (!inspectorsShown && PageVisible(tsProperties) && message_)
    FillInspectors();
}

void TfrmMain::miHelpAboutClick() {
  TfrmAbout about(this);
  PrepareForm(&about);
  about.exec();
}

} // namespace orlendo
