#include "shell/window/file_explorer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSplitter>
#include <QStorageInfo>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "app/message_strings.h"
#include "model/qvmsgcnst.h"
#include "model/utf8.h"
#include "shell/file_mask.h"
#include "shell/window/desktop.h"
#include "shell/window/main_window.h"

static void InitExplorerResources() {
  Q_INIT_RESOURCE(file_explorer);
}

namespace orlendo {
namespace {

constexpr int kCaptionHeight = 15;

// Item data: the file name as stored, the node's icon index, and for a workspace group its
// caption key (group captions follow the language, so a node's group is not told by its text).
constexpr int kFileNameRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kGroupRole = Qt::UserRole + 2;

constexpr char kOpenedKey[] = "strFileOpened";
constexpr char kRecentKey[] = "strFileRecent";
constexpr char kFavoritesKey[] = "strFileFavorites";

QString Msg(const char* key) {
  return QString::fromStdString(MessageString(key));
}

// What a tree shows of a file name: invalid UTF-8 as U+FFFD, and control characters (a newline
// in a name) as their visible pictures, so that every node stays one line.
QString DisplayName(const std::string& name) {
  QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  for (QChar& c : text) {
    if (c.unicode() < 0x20)
      c = QChar(0x2400 + c.unicode());
    else if (c.unicode() == 0x7F)
      c = QChar(0x2421);
  }
  return text;
}

void SetNode(QTreeWidgetItem* node, const std::string& fileName, int image) {
  node->setText(0, DisplayName(fileName));
  node->setData(0, kFileNameRole, QByteArray::fromStdString(fileName));
  node->setData(0, kImageRole, image);
  node->setIcon(0, ExplorerImage(image));
}

int NodeImage(const QTreeWidgetItem* node) {
  return node->data(0, kImageRole).toInt();
}

// The caption key of the workspace group the node sits in; empty outside the workspace groups.
QString GroupOf(const QTreeWidgetItem* node) {
  return node->parent() ? node->parent()->data(0, kGroupRole).toString() : QString();
}

bool HasChildrenMark(const QTreeWidgetItem* node) {
  return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

void SetChildrenMark(QTreeWidgetItem* node, bool mark) {
  node->setChildIndicatorPolicy(mark ? QTreeWidgetItem::ShowIndicator
                                     : QTreeWidgetItem::DontShowIndicator);
}

struct TFolderEntry {
  std::string Name;
  bool Folder = false;
};

// The entries of folder other than "." and "..", hidden ones included; a symbolic link counts
// as what it points to. A folder that cannot be read gives nothing.
std::vector<TFolderEntry> ListFolder(const std::string& folder) {
  std::vector<TFolderEntry> entries;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir)
    return entries;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..")
      continue;
    bool isFolder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      isFolder = ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    entries.push_back({name, isFolder});
  }
  ::closedir(dir);
  // The listing order of a Linux file system is its hash order: show names as a person looks
  // for them instead, letter case aside.
  std::sort(entries.begin(), entries.end(), [](const TFolderEntry& a, const TFolderEntry& b) {
    const int c = QString::fromUtf8(a.Name).compare(QString::fromUtf8(b.Name), Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return entries;
}

std::string ChildPath(const std::string& folder, const std::string& name) {
  return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The root, the home folder and the mounted volumes, each once, in that order.
std::vector<std::string> DriveRoots() {
  std::vector<std::string> roots{"/"};
  std::string home = HomeFolder();
  if (home.size() > 1 && home.ends_with('/'))
    home.pop_back();
  roots.push_back(home);
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady())
      continue;
    roots.push_back(QFile::encodeName(volume.rootPath()).toStdString());
  }
  std::vector<std::string> unique;
  for (const std::string& root : roots)
    // A volume can also be a single bind-mounted file: only folders are drives.
    if (!root.empty() && std::find(unique.begin(), unique.end(), root) == unique.end() &&
        IsFolder(root))
      unique.push_back(root);
  return unique;
}

// ".msg" of "a.b.MSG"; empty when the name has no dot.
std::string LowerExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos)
    return {};
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

} // namespace

QIcon ExplorerImage(int index) {
  static const bool resources = (InitExplorerResources(), true);
  (void)resources;
  const char* name = nullptr;
  switch (index) {
  case eimFolder:
    name = "folder";
    break;
  case eimMessage:
    name = "message";
    break;
  case eimDrive:
    name = "drive";
    break;
  case eimFile:
    name = "file";
    break;
  case eimFavorites:
    name = "favorites";
    break;
  case eimOpened:
    name = "opened";
    break;
  default:
    return QIcon();
  }
  return QIcon(QStringLiteral(":/icons/explorer/%1.svg").arg(QLatin1String(name)));
}

QString FilterMask(const QString& filter) {
  const qsizetype start = filter.indexOf(QLatin1String(")|"));
  if (start < 0)
    return QString();
  const qsizetype from = start + 2;
  const qsizetype end = filter.indexOf(QLatin1Char('|'), from);
  return filter.mid(from, end < 0 ? -1 : end - from);
}

TCaptionBar::TCaptionBar(TfrmMain& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
  setObjectName(QStringLiteral("pbCaption"));
  setFixedHeight(kCaptionHeight);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
}

QSize TCaptionBar::sizeHint() const {
  return QSize(100, kCaptionHeight);
}

void TCaptionBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  const QPalette& pal = palette();
  auto raised = [&p, &pal](const QRect& box) {
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(box.topLeft(), box.topRight());
    p.drawLine(box.topLeft(), box.bottomLeft());
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(box.bottomLeft(), box.bottomRight());
    p.drawLine(box.topRight(), box.bottomRight());
  };

  // The close mark: a small raised button with a cross.
  const QRect close(r.right() - 11, r.top() + 1, 10, 10);
  p.fillRect(close, pal.color(QPalette::Button));
  raised(close);
  p.setPen(QPen(pal.color(QPalette::ButtonText), 1.2));
  p.setRenderHint(QPainter::Antialiasing);
  p.drawLine(QPointF(close.left() + 2.5, close.top() + 2.5),
             QPointF(close.right() - 1.5, close.bottom() - 1.5));
  p.drawLine(QPointF(close.right() - 1.5, close.top() + 2.5),
             QPointF(close.left() + 2.5, close.bottom() - 1.5));
  p.setRenderHint(QPainter::Antialiasing, false);

  // Two grip bars under the text.
  for (int top : {r.top() + 3, r.top() + 6})
    raised(QRect(QPoint(r.left() + 2, top), QPoint(r.right() - 14, top + 2)));

  // The text on the window colour, so that the bars show only beside it.
  const QString text = QLatin1Char(' ') + Msg("strFileExplorer") + QLatin1Char(' ');
  const QRect textArea = r.adjusted(5, 0, -17, 0);
  const QString shown =
      fontMetrics().elidedText(text, Qt::ElideRight, std::max(0, textArea.width()));
  QRect textBox = fontMetrics().boundingRect(textArea, Qt::AlignLeft | Qt::AlignVCenter, shown);
  textBox.setTop(r.top());
  textBox.setBottom(r.bottom());
  p.fillRect(textBox.intersected(textArea), pal.color(QPalette::Window));
  p.setPen(pal.color(QPalette::WindowText));
  p.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, shown);
}

void TCaptionBar::mousePressEvent(QMouseEvent* event) {
  if (event->position().x() >= width() - kCaptionHeight)
    owner_.miViewFileTreeClick();
  else
    QWidget::mousePressEvent(event);
}

TFileExplorer::TFileExplorer(TfrmMain& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
  setObjectName(QStringLiteral("pnlFolders"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  pbCaption = new TCaptionBar(owner_, this);
  layout->addWidget(pbCaption);

  pcExplorer = new QTabWidget(this);
  pcExplorer->setObjectName(QStringLiteral("pcExplorer"));
  pcExplorer->setTabPosition(QTabWidget::South);
  pcExplorer->setDocumentMode(true);
  layout->addWidget(pcExplorer, 1);

  auto newTree = [this](QWidget* page, const char* name) {
    auto* tree = new QTreeWidget(page);
    tree->setObjectName(QLatin1String(name));
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setIconSize(QSize(16, 16));
    tree->setUniformRowHeights(true);
    // The pane is narrow: a deep folder must still leave room for the names.
    tree->setIndentation(10);
    // Long paths scroll instead of being cut.
    tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tree->header()->setStretchLastSection(false);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this,
            [this, tree](const QPoint& pos) { ShowPopup(tree, pos); });
    connect(tree, &QTreeWidget::itemDoubleClicked, this, [this, tree] { tvFilesDblClick(tree); });
    return tree;
  };
  auto newPage = [this](const char* name, const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(2);
    pcExplorer->addTab(page, caption);
    return page;
  };

  tsWorkspace = newPage("tsWorkspace", tr("Workspace"));
  tvWorkspace = newTree(tsWorkspace, "tvWorkspace");
  tsWorkspace->layout()->addWidget(tvWorkspace);

  tsFiles = newPage("tsFiles", tr("Files"));
  tvFiles = newTree(tsFiles, "tvFiles");
  connect(tvFiles, &QTreeWidget::itemExpanded, this, &TFileExplorer::tvFilesExpanding);
  tsFiles->layout()->addWidget(tvFiles);
  pnlFileFilter = new QWidget(tsFiles);
  pnlFileFilter->setObjectName(QStringLiteral("pnlFileFilter"));
  auto* filterLayout = new QHBoxLayout(pnlFileFilter);
  // The box stretches to 5 pixels from the panel's right edge.
  filterLayout->setContentsMargins(2, 0, 5, 2);
  lblFileFilter = new QLabel(tr("Filter:"), pnlFileFilter);
  lblFileFilter->setObjectName(QStringLiteral("lblFileFilter"));
  cbFileFilter = new QComboBox(pnlFileFilter);
  cbFileFilter->setObjectName(QStringLiteral("cbFileFilter"));
  cbFileFilter->setEditable(true);
  cbFileFilter->setInsertPolicy(QComboBox::NoInsert);
  cbFileFilter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  cbFileFilter->setMinimumContentsLength(4);
  lblFileFilter->setBuddy(cbFileFilter);
  filterLayout->addWidget(lblFileFilter);
  filterLayout->addWidget(cbFileFilter, 1);
  tsFiles->layout()->addWidget(pnlFileFilter);
  pcExplorer->setCurrentWidget(tsFiles);

  pmFileExplorer = new QMenu(this);
  pmFileExplorer->setObjectName(QStringLiteral("pmFileExplorer"));
  auto addItem = [this](const QString& text, const char* name, void (TFileExplorer::*handler)()) {
    QAction* item = pmFileExplorer->addAction(text);
    item->setObjectName(QLatin1String(name));
    connect(item, &QAction::triggered, this, handler);
    return item;
  };
  mniAddFileToFaforites = addItem(tr("Add file to favorites"), "mniAddFileToFaforites",
                                  &TFileExplorer::mniAddFileToFaforitesClick);
  mniDeleteFromFavorites = addItem(tr("Delete from favorites"), "mniDeleteFromFavorites",
                                   &TFileExplorer::mniDeleteFromFavoritesClick);
  pmFileExplorer->addSeparator();
  miDeleteFromRecent = addItem(tr("Delete from recent"), "miDeleteFromRecent",
                               &TFileExplorer::miDeleteFromRecentClick);
  pmFileExplorerPopup(nullptr);
}

void TFileExplorer::SetShown(bool shown) {
  TSettings& settings = owner_.Settings();
  settings.FileExplorer = shown;
  // The pane's visibility is part of the window's layout, which is written only as a change.
  if (settings.SaveFormPosition)
    settings.SettingsChanged = true;
  setVisible(shown);
  owner_.ApplyAppMode();
  if (shown) {
    BuildDrives();
    // The logo's narrow pane cannot show file names: the explorer opens at least this wide.
    constexpr int kReadableWidth = 240;
    if (owner_.splLeft != nullptr && owner_.splLeft->sizes().value(0) < kReadableWidth &&
        owner_.splLeft->sizes().size() == 2) {
      narrowWidth_ = owner_.splLeft->sizes()[0];
      const int total = owner_.splLeft->sizes()[0] + owner_.splLeft->sizes()[1];
      owner_.splLeft->setSizes({kReadableWidth, std::max(total - kReadableWidth, 1)});
    }
  } else if (narrowWidth_ > 0 && owner_.splLeft != nullptr && owner_.splLeft->sizes().size() == 2) {
    // The logo alone needs no more than it had.
    const int total = owner_.splLeft->sizes()[0] + owner_.splLeft->sizes()[1];
    owner_.splLeft->setSizes({narrowWidth_, std::max(total - narrowWidth_, 1)});
    narrowWidth_ = 0;
  }
}

bool TFileExplorer::DrivesBuilt() const {
  return tvFiles->topLevelItemCount() > 0;
}

void TFileExplorer::BuildDrives() {
  if (DrivesBuilt())
    return;
  for (const std::string& root : DriveRoots()) {
    auto* node = new QTreeWidgetItem(tvFiles);
    SetNode(node, root, eimDrive);
    SetChildrenMark(node, true);
  }
  if (cbFileFilter->count() == 0) {
    QStringList masks{QStringLiteral("*.*")};
    for (const char* key : {"MsgFileExt", "EMLFileExt", "MHTFileExt"})
      masks << FilterMask(Msg(key));
    cbFileFilter->addItems(masks);
    cbFileFilter->setCurrentIndex(0);
  }
  RefreshWorkspace();
}

QTreeWidgetItem* TFileExplorer::NewGroup(const std::string& captionKey, int image) {
  auto* group = new QTreeWidgetItem(tvWorkspace);
  group->setText(0, QString::fromStdString(MessageString(captionKey)));
  group->setIcon(0, ExplorerImage(image));
  group->setData(0, kImageRole, image);
  group->setData(0, kGroupRole, QString::fromStdString(captionKey));
  return group;
}

void TFileExplorer::AddFileNode(QTreeWidgetItem* group, const std::string& fileName) {
  SetNode(new QTreeWidgetItem(group), fileName, eimMessage);
}

void TFileExplorer::RefreshWorkspace() {
  workspaceBuilt_ = true;
  tvWorkspace->setUpdatesEnabled(false);
  tvWorkspace->clear();
  // Save As is enabled exactly when a file has been loaded; the open file is then also the
  // first recent entry.
  const bool loaded = owner_.miFileSaveAs->isEnabled();
  QTreeWidgetItem* opened = NewGroup(kOpenedKey, eimOpened);
  if (loaded)
    AddFileNode(opened, owner_.cbFileName->currentText().toStdString());
  QTreeWidgetItem* recent = NewGroup(kRecentKey, eimFolder);
  const auto& recentFiles = owner_.Settings().RecentFiles.Items();
  for (size_t i = loaded ? 1 : 0; i < recentFiles.size(); ++i)
    AddFileNode(recent, recentFiles[i]);
  QTreeWidgetItem* favorites = NewGroup(kFavoritesKey, eimFavorites);
  for (const std::string& name : owner_.Settings().FavoriteFiles.Items())
    AddFileNode(favorites, name);
  tvWorkspace->expandAll();
  tvWorkspace->setUpdatesEnabled(true);
}

void TFileExplorer::ListsChanged() {
  if (workspaceBuilt_)
    RefreshWorkspace();
}

std::string TFileExplorer::NodeFileName(const QTreeWidgetItem* node) {
  return node ? node->data(0, kFileNameRole).toByteArray().toStdString() : std::string();
}

void TFileExplorer::tvFilesExpanding(QTreeWidgetItem* node) {
  if (!node || !HasChildrenMark(node) || node->childCount() > 0)
    return;
  const std::string folder = NodeFileName(node);
  const QString filter = cbFileFilter->currentText();
  const std::string mask = filter.toStdString();
  // Masks of the list after "*.*" are message types.
  QStringList messageMasks;
  for (int i = 1; i < cbFileFilter->count(); ++i)
    messageMasks << cbFileFilter->itemText(i);
  const bool messageFilter = messageMasks.contains(filter, Qt::CaseInsensitive);
  const QString groups[] = {Msg(kOpenedKey), Msg(kRecentKey), Msg(kFavoritesKey)};
  const int groupImages[] = {eimOpened, eimFolder, eimFavorites};

  QList<QTreeWidgetItem*> children;
  for (const TFolderEntry& entry : ListFolder(folder)) {
    const std::string path = ChildPath(folder, entry.Name);
    if (entry.Folder) {
      auto* child = new QTreeWidgetItem;
      int image = eimFolder;
      for (int g = 0; g < 3; ++g)
        if (QString::fromStdString(entry.Name) == groups[g])
          image = groupImages[g];
      SetNode(child, path, image);
      child->setText(0, DisplayName(entry.Name));
      SetChildrenMark(child, true);
      children << child;
    } else if (MatchesFileMask(entry.Name, mask)) {
      // A name that is not UTF-8 cannot be put into the file-name box, so it is not offered
      // for opening: the box would name another file.
      const bool nameable = utf8::IsValid(path);
      // Every type the readers open is a message, also those the filter list does not name
      // (".emlx", ".mhtml").
      static const QStringList kMessageExtensions = {".msg", ".eml", ".emlx", ".mht", ".mhtml"};
      const QString extension = QString::fromStdString(LowerExtension(entry.Name));
      const bool message =
          nameable && (messageFilter || messageMasks.contains(QLatin1Char('*') + extension) ||
                       kMessageExtensions.contains(extension));
      auto* child = new QTreeWidgetItem;
      SetNode(child, path, message ? eimMessage : eimFile);
      child->setText(0, DisplayName(entry.Name));
      SetChildrenMark(child, false);
      children << child;
    }
  }
  node->addChildren(children);
  if (children.isEmpty()) {
    SetChildrenMark(node, false);
    node->setExpanded(false);
  }
}

void TFileExplorer::tvFilesDblClick(QTreeWidget* tree) {
  const QTreeWidgetItem* node = tree ? tree->currentItem() : nullptr;
  if (!node || NodeImage(node) != eimMessage)
    return;
  const std::string fileName = NodeFileName(node);
  if (!utf8::IsValid(fileName))
    return;
  owner_.cbFileName->setEditText(QString::fromStdString(fileName));
  owner_.LoadMessage();
}

void TFileExplorer::ShowPopup(QTreeWidget* tree, const QPoint& pos) {
  // The right button selects the node under the mouse first, so that the menu acts on it.
  if (QTreeWidgetItem* node = tree->itemAt(pos))
    tree->setCurrentItem(node);
  pmFileExplorerPopup(tree);
  pmFileExplorer->popup(tree->viewport()->mapToGlobal(pos));
}

void TFileExplorer::pmFileExplorerPopup(QTreeWidget* tree) {
  popupTree_ = tree;
  for (QAction* item : {mniAddFileToFaforites, mniDeleteFromFavorites, miDeleteFromRecent})
    item->setEnabled(false);
  const QTreeWidgetItem* node = tree ? tree->currentItem() : nullptr;
  if (!node)
    return;
  const QString group = tree == tvWorkspace ? GroupOf(node) : QString();
  if (group == QLatin1String(kRecentKey))
    miDeleteFromRecent->setEnabled(true);
  if (group == QLatin1String(kFavoritesKey))
    mniDeleteFromFavorites->setEnabled(true);
  else if (node->parent() && node->childCount() == 0)
    mniAddFileToFaforites->setEnabled(true);
}

void TFileExplorer::mniAddFileToFaforitesClick() {
  const QTreeWidgetItem* node = popupTree_ ? popupTree_->currentItem() : nullptr;
  if (!node || !node->parent() || node->childCount() > 0 ||
      (popupTree_ == tvWorkspace && GroupOf(node) == QLatin1String(kFavoritesKey)))
    return;
  const std::string fileName = NodeFileName(node);
  TFileList& favorites = owner_.Settings().FavoriteFiles;
  if (fileName.empty() || favorites.IndexOf(fileName) >= 0)
    return;
  favorites.Add(fileName);
  ListsChanged();
}

bool TFileExplorer::ConfirmForNode(const std::string& promptKey, const std::string& fileName) {
  const std::string prompt =
      FormatMessageText(MessageString(promptKey), {DisplayName(fileName).toStdString()});
  return Confirm(window(), QString::fromStdString(prompt));
}

void TFileExplorer::mniDeleteFromFavoritesClick() {
  const QTreeWidgetItem* node = popupTree_ == tvWorkspace ? popupTree_->currentItem() : nullptr;
  if (!node || GroupOf(node) != QLatin1String(kFavoritesKey))
    return;
  const std::string fileName = NodeFileName(node);
  TFileList& favorites = owner_.Settings().FavoriteFiles;
  if (favorites.IndexOf(fileName) < 0 || !ConfirmForNode("strDeleteFileFromFavorites", fileName))
    return;
  favorites.Remove(fileName);
  ListsChanged();
}

void TFileExplorer::miDeleteFromRecentClick() {
  const QTreeWidgetItem* node = popupTree_ == tvWorkspace ? popupTree_->currentItem() : nullptr;
  if (!node || GroupOf(node) != QLatin1String(kRecentKey))
    return;
  const std::string fileName = NodeFileName(node);
  TFileList& recent = owner_.Settings().RecentFiles;
  if (recent.IndexOf(fileName) < 0 || !ConfirmForNode("strDeleteFileFromRecent", fileName))
    return;
  recent.Remove(fileName);
  // Rebuilds the Reopen menu and the file-name box's list, and with them the workspace.
  owner_.RebuildReopenMenu();
}

} // namespace orlendo
