// The message preview: one message level shown the way a mail client shows it. An importance
// banner, the header rows, the body as plain text, rich text and HTML on tabs, and the
// attachments with a menu to open or save them. The main window docks one panel for the whole
// run; an embedded message opens in a modal panel of its own.
#pragma once

#include <QTextBrowser>
#include <QWidget>
#include <memory>
#include <string>

#include "crypto/encrypted_content.h"

#include "mime/message_security.h"
#include "mime/smime_cms.h"
#include "model/variant.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;

namespace orlendo {

class TMSGProperties;
class TMSGProperty;
class THtmlView;
class TItemHeader;
class TQvEMLFile;
struct TSettings;

// Rendered RTF: a read-only browser that shows only what the document itself holds (data: images)
// and never follows or fetches an address; clicked web links go to the system browser.
class TRichTextView : public QTextBrowser {
  Q_OBJECT
public:
  explicit TRichTextView(QWidget* parent = nullptr);
  QVariant loadResource(int type, const QUrl& name) override;
};

// True for an attachment that mail clients leave out of the list: a resource that the HTML body
// uses (by cid: or Content-Location; lowerHtml is that body in lower case), and a part of an
// Internet message that its reader marked hidden (a signature).
bool ShownInsteadOfListed(const TMSGProperty& node, const QString& lowerHtml);

// A variant as the header fields and the property view show it: null as empty, booleans as
// "True" or "False", anything else as its usual text.
QString VariantToDisplayText(const TVariant& value);

// The font character set of a code page (932 -> 128, 936 -> 134, 950 -> 136, 1251 -> 204,
// else 1), as settings and fonts record it.
int CodePageToFontCharset(int codePage);

// Loads text into a plain view (the transport header view uses it too); selection at the start.
void LoadRichEditText(QPlainTextEdit* edit, const std::u16string& text);
// Loads an RTF document (its stored bytes) into the rich-text view; failures leave what was
// read.
void LoadRichEditText(TRichTextView* edit, const std::string& rtf);

class TfrmMessage : public QWidget {
  Q_OBJECT
public:
  // settings (may be null: defaults, nothing remembered) must outlive the panel.
  explicit TfrmMessage(QWidget* parent = nullptr, TSettings* settings = nullptr);
  ~TfrmMessage() override;

  void SetSettings(TSettings* settings) { settings_ = settings; }
  // The file the message came from: the attachment folder may depend on it.
  void SetFileName(const std::string& fileName) { fileName_ = fileName; }

  // Fills the whole panel from root (nothing happens for null). root must outlive the showing:
  // call Clear or DisplayMessage again before the message is destroyed.
  void DisplayMessage(const TMSGProperties* root);
  void Clear();
  int AttachmentCount() const;
  const TMSGProperties* MessageProperties() const { return messageProperties_; }
  // Sets the banners and notes that come from the message strings again, for the message shown:
  // after the language changed.
  void ShowMessageStrings();

  // Puts html into the HTML view (created on first need); the tab is visible exactly when html
  // is not empty.
  void ShowHtmlBody(const std::string& charset, const std::u16string& html, bool fromRtf);
  void CreateBrowser();
  // The text view the body commands act on: the rich-text view on its tab, else the plain view.
  QWidget* ActiveTextView() const;

  // Handlers.
  void FormShow();
  void pnlHeaderResize();
  void lvAttachmentsDblClick();
  void pmAttachmentPopup();
  // tag 1 opens the selected attachment, tag 2 saves it. Errors are shown, never thrown.
  void miAttachSaveClick(int tag);
  void btnWordWrapClick();
  void btnCopyClick();
  void btnSelectAllClick();
  void btnFindTextClick();
  // Selects the first occurrence of text (case-sensitive) in the active view, or says that there
  // is none; true when found.
  bool FindDialogFind(const QString& text);

  // Shows security in the banner above the header (hidden when it is empty). DisplayMessage
  // checks the signatures of the message it shows off the UI thread and calls this with the
  // result; a result for a message no longer shown is dropped.
  void ShowSecurity(const TMessageSecurity& security);
  // The authorities the signature check trusts (the system's by default).
  void SetTrustAnchors(TTrustAnchors anchors) { trustAnchors_ = std::move(anchors); }
  // True while a signature check of the message shown runs.
  bool CheckingSignatures() const { return checking_; }

  // The encrypted content of the message shown (Kind None when it is not encrypted); the banner
  // names its recipients and offers btnDecrypt.
  const TEncryptedContent& EncryptedContent() const { return encrypted_; }
  // Asks for the key (S/MIME: a PKCS#12 file and its password; OpenPGP: the keyring's) and shows
  // the decrypted message in place of the encrypted one. True when it is shown.
  bool DecryptMessage();
  // Shows content, the decrypted MIME entity of the message shown, as that message. The clear
  // text stays in memory: it is held by the panel until another message is shown.
  void ShowDecrypted(std::string content);

  // The controls, named as the window and tests know them.
  QLabel* lblSecurity = nullptr;
  QPushButton* btnDecrypt = nullptr;
  QLabel* lblImportance = nullptr;
  // What of a TNEF attachment (winmail.dat) could not be read.
  QLabel* lblTnefDamage = nullptr;
  // The notes of the load (TQvMessage::LoadNotes), translated.
  QLabel* lblLoadNotes = nullptr;
  QWidget* pnlHeader = nullptr;
  QLabel *lblFrom = nullptr, *lblTo = nullptr, *lblSubject = nullptr, *lblCC = nullptr,
         *lblBCC = nullptr;
  QLineEdit *edFrom = nullptr, *edTo = nullptr, *edSubject = nullptr, *edCC = nullptr,
            *edBCC = nullptr, *edSent = nullptr;
  QComboBox* cbMessageFormat = nullptr;
  // The block of an item that is not mail (appointment, contact, task, ...), below the header.
  TItemHeader* pnlItem = nullptr;
  QSplitter* splAttachment = nullptr;
  QTabWidget* pcBody = nullptr;
  QWidget *tsPlainText = nullptr, *tsRTFBody = nullptr, *tsHTMLBody = nullptr;
  QPlainTextEdit* reBody = nullptr;
  TRichTextView* reRTFBody = nullptr;
  THtmlView* wbHTMLBody = nullptr;
  QListWidget* lvAttachments = nullptr;
  QMenu* pmAttachment = nullptr;
  QAction *miEncoding = nullptr, *miAttachOpen = nullptr, *miAttachSave = nullptr;
  QMenu* pmBody = nullptr;
  QAction *btnSelectAll = nullptr, *btnCopy = nullptr, *btnFindText = nullptr,
          *btnWordWrap = nullptr;

  // Tab indexes of pcBody.
  static constexpr int kPlainTab = 0, kRtfTab = 1, kHtmlTab = 2;
  // Item data of lvAttachments: the file name, the MIME tag, the image (0 file, 1 message, 2 OLE
  // object), the index among the message's attachments (the list leaves out what the HTML body
  // shows and signatures, so that a row is not an index).
  static constexpr int kFileNameRole = Qt::UserRole, kMimeTagRole = Qt::UserRole + 1,
                       kImageRole = Qt::UserRole + 2, kAttachmentIndexRole = Qt::UserRole + 3;

protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void ShowImportance(int priority);
  void ShowTnefDamage();
  void ShowLoadNotes(const TMSGProperties& m);
  void FillAttachments();
  void SetWordWrap(bool on);
  void OpenAttachment(int index, QListWidgetItem* item);
  void SaveAttachment(int index, QListWidgetItem* item);

  void CheckSignatures(const TMSGProperties& m);

  TSettings* settings_ = nullptr;
  std::string fileName_;
  TTrustAnchors trustAnchors_;
  // Counts the messages shown, so that a late check result finds out whether its is still shown.
  uint64_t shown_ = 0;
  bool checking_ = false;
  // The encryption of the message shown, and its decrypted content once the user opened it; the
  // banner shows both beside the signatures.
  TEncryptedContent encrypted_;
  TMessageSecurity encryption_;
  std::unique_ptr<TQvEMLFile> decrypted_;
  const TMSGProperties* messageProperties_ = nullptr;
};

// Writes the embedded message of attachment index of level as a .msg file.
void SaveEmbeddedMessage(const TMSGProperties& level, int index, const std::string& path);

// The modal panel for an embedded message: a sizeable window of 529 x 408 titled caption.
void ShowMessageModal(QWidget* parent, const QString& caption, const TMSGProperties& level,
                      TSettings* settings, const std::string& fileName);

} // namespace orlendo
