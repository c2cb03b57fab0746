// The file explorer of the main window's left pane: a caption bar with a close mark, a Workspace
// tree (the open file, the recent files, the favourites) and a file tree over the root, the home
// folder and the mounted volumes, with a file-name filter. Double-clicking a message file in
// either tree opens it in the main window.
#pragma once

#include <QIcon>
#include <QWidget>
#include <string>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace orlendo {

class TfrmMain;

// Node icons, by their index in the explorer's image list.
enum TExplorerImage {
  eimFolder = 1,
  eimMessage = 4,
  eimDrive = 5,
  eimFile = 6,
  eimFavorites = 7,
  eimOpened = 8,
};

// The icon at index of the explorer's image list; an index without a picture gives a null icon.
QIcon ExplorerImage(int index);

// The mask part of an open-dialog filter string ("description|mask|description|mask..."): the
// text after the first ")|" up to the next "|" or the end; empty when there is no ")|".
QString FilterMask(const QString& filter);

// The caption bar: grip bars, the caption text and a close mark at the right; a press within
// 15 pixels of the right edge runs the main window's "Display file/folder tree" command.
class TCaptionBar : public QWidget {
  Q_OBJECT
public:
  explicit TCaptionBar(TfrmMain& owner, QWidget* parent = nullptr);
  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

private:
  TfrmMain& owner_;
};

class TFileExplorer : public QWidget {
  Q_OBJECT

public:
  // The pane reads and changes owner's file-name box, recent list and favourites, and opens
  // files through owner.LoadMessage().
  explicit TFileExplorer(TfrmMain& owner, QWidget* parent = nullptr);

  TCaptionBar* pbCaption = nullptr;
  QTabWidget* pcExplorer = nullptr;
  QWidget* tsWorkspace = nullptr;
  QWidget* tsFiles = nullptr;
  QTreeWidget* tvWorkspace = nullptr;
  QTreeWidget* tvFiles = nullptr;
  QWidget* pnlFileFilter = nullptr;
  QLabel* lblFileFilter = nullptr;
  QComboBox* cbFileFilter = nullptr;
  QMenu* pmFileExplorer = nullptr;
  QAction* mniAddFileToFaforites = nullptr;
  QAction* mniDeleteFromFavorites = nullptr;
  QAction* miDeleteFromRecent = nullptr;

  // Shows or hides the pane (the main window's command, by its check mark), with the left pane
  // around it; the first showing builds the drive level. A change the user makes is stored
  // with the window's geometry.
  void SetShown(bool shown);

  // The top level of the file tree (the root, the home folder, each mounted volume), built
  // once: later calls do nothing. Fills the filter list when it is empty and builds the
  // workspace.
  void BuildDrives();
  bool DrivesBuilt() const;
  // Rebuilds the workspace tree from the file-name box and the favourites.
  void RefreshWorkspace();
  // The change handler of the recent list and the favourites: refreshes the workspace once it
  // has been built.
  void ListsChanged();

  // The full file name a node stands for (a file or folder path in the file tree, an entry of
  // a list in the workspace), as stored: file names need not be valid UTF-8. Empty for groups.
  static std::string NodeFileName(const QTreeWidgetItem* node);

  // Lists the folder node's children when it has the has-children mark and none yet.
  void tvFilesExpanding(QTreeWidgetItem* node);
  // Opens the selected node of tree when it is a message file.
  void tvFilesDblClick(QTreeWidget* tree);
  // Enables the popup commands for the selected node of tree (null: the menu was not opened on
  // a tree, and every command stays disabled); the commands then act on that node.
  void pmFileExplorerPopup(QTreeWidget* tree);
  void mniAddFileToFaforitesClick();
  void mniDeleteFromFavoritesClick();
  void miDeleteFromRecentClick();

private:
  QTreeWidgetItem* NewGroup(const std::string& captionKey, int image);
  void AddFileNode(QTreeWidgetItem* group, const std::string& fileName);
  void ShowPopup(QTreeWidget* tree, const QPoint& pos);
  // Asks prompt (a message string with "%s") about the node's file; true on Yes.
  bool ConfirmForNode(const std::string& promptKey, const std::string& fileName);

  TfrmMain& owner_;
  QTreeWidget* popupTree_ = nullptr;
  bool workspaceBuilt_ = false;
  // The left pane's width before the explorer widened it; restored when it is hidden.
  int narrowWidth_ = 0;
};

} // namespace orlendo
