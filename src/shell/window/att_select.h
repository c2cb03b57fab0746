// Saving several attachments at once: the selection dialog with its check list, and the command
// that saves the ticked files into one folder.
#pragma once

#include <QDialog>
#include <string>

class QListWidget;
class QMenu;
class QPushButton;
class QTreeWidget;

namespace orlendo {

class TMSGProperties;
class TfrmMessage;
struct TSettings;

class TfrmAttachments : public QDialog {
  Q_OBJECT
public:
  explicit TfrmAttachments(QWidget* parent = nullptr, const QString& nameCaption = "Name:");

  // Copies the preview's attachment list in order: caption, icon, file name; an item is ticked
  // when it is a file (icon 0), not an embedded message or an OLE object.
  void CopyItems(const QListWidget& attachments);

  // The popup commands: 0 ticks every item, 1 unticks every item, 2 flips each.
  void miSelectAllClick(int tag);
  void pnlButtonsResize();

  // Saves every ticked file (icon 0) in order. At the first one the folder is asked for
  // ("Select directory", starting at startFolder); cancelling it saves nothing. Each file goes
  // into that folder under its stored name made safe. A name already used by this save becomes
  // "name (2).ext"; for a file that was there before, the user chooses to replace it, keep both
  // (the new one numbered so) or skip, once or for all. Returns the number of files saved; a
  // failing save raises and ends the walk.
  int SaveChecked(const TMSGProperties& root, const std::string& startFolder);

  QTreeWidget* lvAttachments = nullptr;
  QMenu* pmAttachments = nullptr;
  QWidget* pnlButtons = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnCancel = nullptr;

protected:
  void resizeEvent(QResizeEvent* event) override;
};

// The "Save attachments" command of the window: the dialog over the panel's list, then the
// saving. Failures are shown.
void SaveAttachmentsCommand(QWidget* parent, const TfrmMessage& panel, const TSettings& settings,
                            const std::string& messageFileName);

} // namespace orlendo
