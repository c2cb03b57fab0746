#include "components/msg_panel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QThreadPool>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <fstream>

#include "app/attachment_files.h"
#include "app/message_strings.h"
#include "app/settings.h"
#include "components/decrypt_dialog.h"
#include "components/display_limits.h"
#include "components/file_dialogs.h"
#include "components/form_preparation.h"
#include "components/html_view.h"
#include "components/interface_locale.h"
#include "components/item_view.h"
#include "components/security_banner.h"
#include "crypto/cms_envelope.h"
#include "crypto/pgp_mime.h"
#include "crypto/signatures.h"
#include "export/html_body.h"
#include "export/item_accessors.h"
#include "mime/qvemlfile.h"
#include "mime/signed_content.h"
#include "mime/tnef_message.h"
#include "model/qvmsg.h"
#include "model/qvmsgcnst.h"
#include "msg/compound_file.h"
#include "msg/msg_writer.h"
#include "text/datetime.h"
#include "text/qvmsgcp.h"
#include "text/rtf_render.h"

static void InitPreviewResources() {
  Q_INIT_RESOURCE(preview);
}

namespace orlendo {

namespace {

constexpr uint32_t PID_ATTACH_DATA = 0x37010000;
constexpr uint32_t PID_ATTACH_MIME_TAG = 0x370E0000;
constexpr uint32_t PID_ATTACH_CONTENT_ID = 0x37120000;
constexpr uint32_t PID_ATTACH_CONTENT_LOCATION = 0x37130000;
constexpr uint32_t PID_CONTENT_IDENTIFIER = 0x00080000;
constexpr uint32_t TAG_ATTACHMENT_HIDDEN = 0x7FFE000B;
// The subject as GetSubject looks for it.
constexpr uint32_t PR_SUBJECT_W = 0x0037001F;
constexpr uint32_t PR_SUBJECT_A = 0x0037001E;
constexpr uint32_t PR_CONVERSATION_TOPIC_A = 0x0070001E;
constexpr int kMargin = 5;

// Colours as the panel's design gives them (0xBBGGRR there).
const QColor kBannerColour(0x33, 0x66, 0xCC);
const QColor kHeaderColour(0xC1, 0xD2, 0xEE);
const QColor kYellow(0xFF, 0xFF, 0x00);

QString Utf8(const std::string& s) {
  return QString::fromStdString(s);
}
QString Wide(const std::u16string& s) {
  return QString::fromStdU16String(s);
}

// The level an embedded-message attachment shows: the collection of its first object record,
// or the node's own.
const TMSGProperties& EmbeddedLevel(const TMSGProperty& node) {
  const TMSGProperty* object = node.SubProperties().FindProperty(PID_ATTACH_DATA, true, true);
  return object != nullptr ? object->SubProperties() : node.SubProperties();
}

// The text of the first of the tags that has one, as the message's accessors choose it, for a
// one-line edit: a subject of megabytes is not copied whole to show its first line.
QString OneLineFieldText(const TMSGProperties& m, std::initializer_list<uint32_t> tags) {
  for (const uint32_t tag : tags) {
    const TMSGProperty* record = m.FindProperty(tag, false, !m.IsRoot());
    if (record == nullptr)
      continue;
    if (const std::optional<std::string_view> utf8 = record->Utf8ValueView()) {
      if (!utf8->empty())
        return OneLineUtf8Text(*utf8);
    } else if (record->Value.IsWide()) {
      if (!record->Value.Wide().empty())
        return OneLineText(record->Value.Wide());
    } else if (const std::u16string text = record->GetValueText(); !text.empty()) {
      return OneLineText(text);
    }
  }
  return {};
}

QString Lowered(const std::u16string& text) {
  return QString::fromStdU16String(text).toLower();
}

void AddStructure(QTreeWidgetItem* parent, const cfb::Storage& storage, int depth) {
  for (const cfb::EntryStat& child : storage.Children()) {
    auto* item = new QTreeWidgetItem(parent);
    QString name = QString::fromUtf16(child.name.data(), qsizetype(child.name.size()));
    for (QChar& c : name)
      if (c.unicode() < 0x20)
        c = QChar(0x2022); // the control characters of OLE stream names, made visible
    item->setText(0, name);
    const bool isStorage = child.kind == cfb::EntryKind::Storage;
    item->setText(1, isStorage ? TfrmMessage::tr("Storage") : TfrmMessage::tr("Stream"));
    item->setText(2, isStorage ? QString() : QString::number(child.size));
    if (isStorage && depth < 32)
      AddStructure(item, storage.OpenStorage(child.name), depth + 1);
  }
}

// An OLE object that is not a file package: its compound-file structure, in a modal window.
void ShowObjectStructure(QWidget* parent, const QString& caption, const std::string& image) {
  QDialog dialog(parent);
  dialog.setWindowTitle(caption);
  dialog.resize(parent != nullptr ? parent->size() : QSize(529, 408));
  auto* tree = new QTreeWidget(&dialog);
  tree->setHeaderLabels(
      {TfrmMessage::tr("Name"), TfrmMessage::tr("Kind"), TfrmMessage::tr("Size")});
  auto* root = new QTreeWidgetItem(tree, {caption});
  try {
    AddStructure(root, cfb::OpenMemory(image), 0);
  } catch (const std::exception& e) {
    new QTreeWidgetItem(root, {QString::fromUtf8(e.what())});
  }
  tree->expandAll();
  tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  auto* layout = new QVBoxLayout(&dialog);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree);
  dialog.exec();
}

// Opens a file written from the message with the desktop's handler. A file that opening would
// run as a program is opened only when the user says so, naming what kind of program it is;
// the copy is never executable (TTempFiles keeps it at mode 0600) either way.
void OpenWithSystem(QWidget* parent, const std::string& path) {
  std::string head(4, '\0');
  {
    std::ifstream in(path, std::ios::binary);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  }
  const std::string kind = RunnableFileKind(path, head);
  if (!kind.empty() &&
      !FileDialogs().AskYesNo(parent,
                              Utf8(MessageString("strOpenRunnable"))
                                  .replace(QLatin1String("%s"), QFileInfo(Utf8(path)).fileName())))
    return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(Utf8(path)));
}

} // namespace

bool ShownInsteadOfListed(const TMSGProperty& node, const QString& lowerHtml) {
  const TMSGProperties& sub = node.SubProperties();
  if (const TMSGProperty* hidden = sub.FindProperty(TAG_ATTACHMENT_HIDDEN, false, false);
      hidden != nullptr && hidden->Value.ToInt64() != 0 &&
      sub.FindProperty(TQvEMLFile::TAG_MIME_PART_DEPTH, false, false) != nullptr)
    return true;
  if (lowerHtml.isEmpty())
    return false;
  QString id = Lowered(sub.GetPropertyText(PID_ATTACH_CONTENT_ID, true, false)).trimmed();
  if (id.isEmpty())
    id = Lowered(sub.GetPropertyText(PID_CONTENT_IDENTIFIER, false, false)).trimmed();
  if (id.startsWith('<') && id.endsWith('>'))
    id = id.mid(1, id.size() - 2).trimmed();
  if (!id.isEmpty() && lowerHtml.contains("cid:" + id))
    return true;
  const QString location =
      Lowered(sub.GetPropertyText(PID_ATTACH_CONTENT_LOCATION, true, false)).trimmed();
  return !location.isEmpty() && lowerHtml.contains(location);
}

// ---------------------------------------------------------------------------------------------

TRichTextView::TRichTextView(QWidget* parent) : QTextBrowser(parent) {
  setReadOnly(true);
  setOpenLinks(false);
  setOpenExternalLinks(false);
  connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { OpenExternalLink(url); });
}

QVariant TRichTextView::loadResource(int type, const QUrl& name) {
  if (name.scheme() == "data")
    return QTextBrowser::loadResource(type, name);
  return QVariant();
}

QString VariantToDisplayText(const TVariant& value) {
  if (value.IsNull())
    return QString();
  if (value.Kind() == VarKind::Boolean)
    return value.AsBoolean() ? "True" : "False";
  return Wide(value.ToWide());
}

int CodePageToFontCharset(int codePage) {
  switch (codePage) {
  case 932:
    return 128;
  case 936:
    return 134;
  case 950:
    return 136;
  case 1251:
    return 204;
  default:
    return 1;
  }
}

void LoadRichEditText(QPlainTextEdit* edit, const std::u16string& text) {
  edit->setPlainText(BoundedText(text));
  edit->moveCursor(QTextCursor::Start);
}

void LoadRichEditText(TRichTextView* edit, const std::string& rtf) {
  edit->clear();
  if (!rtf.empty()) {
    try {
      edit->setHtml(Utf8(RtfToHtml(rtf)));
    } catch (const std::exception&) {
      // The view keeps what it got.
    }
  }
  edit->moveCursor(QTextCursor::Start);
}

// ---------------------------------------------------------------------------------------------

TfrmMessage::TfrmMessage(QWidget* parent, TSettings* settings)
    : QWidget(parent), settings_(settings) {
  InitPreviewResources();
  setObjectName("frmMessage");
  resize(529, 408);

  lblSecurity = new QLabel(this);
  lblSecurity->setObjectName("lblSecurity");
  lblSecurity->setAutoFillBackground(true);
  lblSecurity->setWordWrap(true);
  lblSecurity->setMargin(4);
  lblSecurity->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblSecurity->hide();
  btnDecrypt = new QPushButton(QString::fromStdString(MessageString("strDecryptButton")), this);
  btnDecrypt->setObjectName("btnDecrypt");
  btnDecrypt->hide();
  connect(btnDecrypt, &QPushButton::clicked, this, [this] { DecryptMessage(); });

  lblImportance = new QLabel(this);
  lblImportance->setObjectName("lblImportance");
  lblImportance->setFixedHeight(25);
  lblImportance->setAutoFillBackground(true);
  lblImportance->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QPalette banner = lblImportance->palette();
  banner.setColor(QPalette::Window, kBannerColour);
  lblImportance->setPalette(banner);
  lblImportance->hide();

  lblTnefDamage = new QLabel(this);
  lblTnefDamage->setObjectName("lblTnefDamage");
  lblTnefDamage->setWordWrap(true);
  lblTnefDamage->setAutoFillBackground(true);
  lblTnefDamage->setContentsMargins(6, 3, 6, 3);
  QPalette note = lblTnefDamage->palette();
  note.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xC2));
  note.setColor(QPalette::WindowText, Qt::black);
  lblTnefDamage->setPalette(note);
  lblTnefDamage->hide();

  // What the load could not read as the file asked, said as the damaged winmail.dat is.
  lblLoadNotes = new QLabel(this);
  lblLoadNotes->setObjectName("lblLoadNotes");
  lblLoadNotes->setWordWrap(true);
  lblLoadNotes->setAutoFillBackground(true);
  lblLoadNotes->setContentsMargins(6, 3, 6, 3);
  lblLoadNotes->setTextFormat(Qt::PlainText);
  lblLoadNotes->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblLoadNotes->setPalette(note);
  lblLoadNotes->hide();

  pnlHeader = new QWidget(this);
  pnlHeader->setObjectName("pnlHeader");
  pnlHeader->setAutoFillBackground(true);
  QPalette header = pnlHeader->palette();
  header.setColor(QPalette::Window, kHeaderColour);
  header.setColor(QPalette::WindowText, Qt::black);
  pnlHeader->setPalette(header);
  auto makeRow = [this](QLabel*& label, QLineEdit*& edit, const char* name,
                        const QString& caption) {
    label = new QLabel(caption, pnlHeader);
    label->setObjectName(QString("lbl") + name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    edit = new QLineEdit(pnlHeader);
    edit->setObjectName(QString("ed") + name);
    edit->setReadOnly(true);
  };
  makeRow(lblFrom, edFrom, "From", tr("From:"));
  makeRow(lblTo, edTo, "To", tr("To:"));
  makeRow(lblSubject, edSubject, "Subject", tr("Subject:"));
  makeRow(lblCC, edCC, "CC", tr("CC:"));
  makeRow(lblBCC, edBCC, "BCC", tr("BCC:"));
  edSent = new QLineEdit(pnlHeader);
  edSent->setObjectName("edSent");
  edSent->setReadOnly(true);
  cbMessageFormat = new QComboBox(pnlHeader);
  cbMessageFormat->setObjectName("cbMessageFormat");
  cbMessageFormat->addItems({"", tr("Text format"), tr("Richtext format"), tr("HTML format")});
  cbMessageFormat->setEnabled(false);

  pcBody = new QTabWidget(this);
  pcBody->setObjectName("pcBody");
  pcBody->setTabPosition(QTabWidget::South);
  pcBody->setDocumentMode(true);
  tsPlainText = new QWidget;
  tsPlainText->setObjectName("tsPlainText");
  tsRTFBody = new QWidget;
  tsRTFBody->setObjectName("tsRTFBody");
  tsHTMLBody = new QWidget;
  tsHTMLBody->setObjectName("tsHTMLBody");
  pcBody->addTab(tsPlainText, tr("Plain text"));
  pcBody->addTab(tsRTFBody, tr("Rich text"));
  pcBody->addTab(tsHTMLBody, tr("HTML"));
  for (QWidget* tab : {tsPlainText, tsRTFBody, tsHTMLBody}) {
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
  }

  reBody = new QPlainTextEdit(tsPlainText);
  reBody->setObjectName("reBody");
  reBody->setReadOnly(true);
  reBody->setLineWrapMode(QPlainTextEdit::NoWrap);
  tsPlainText->layout()->addWidget(reBody);
  reRTFBody = new TRichTextView(tsRTFBody);
  reRTFBody->setObjectName("reRTFBody");
  tsRTFBody->layout()->addWidget(reRTFBody);

  pmBody = new QMenu(this);
  pmBody->setObjectName("pmBody");
  btnSelectAll = pmBody->addAction(tr("Select All"), this, [this] { btnSelectAllClick(); });
  btnCopy = pmBody->addAction(tr("&Copy"), this, [this] { btnCopyClick(); });
  btnCopy->setShortcut(QKeySequence::Copy);
  btnFindText = pmBody->addAction(tr("Find ..."), this, [this] { btnFindTextClick(); });
  btnFindText->setShortcut(QKeySequence::Find);
  pmBody->addSeparator();
  btnWordWrap = pmBody->addAction(tr("Word-wrap lines"), this, [this] { btnWordWrapClick(); });
  btnWordWrap->setCheckable(true);
  btnSelectAll->setObjectName("btnSelectAll");
  btnCopy->setObjectName("btnCopy");
  btnFindText->setObjectName("btnFindText");
  btnWordWrap->setObjectName("btnWordWrap");
  for (QWidget* view : std::initializer_list<QWidget*>{reBody, reRTFBody}) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { pmBody->popup(view->mapToGlobal(at)); });
  }
  auto* findShortcut = new QAction(this);
  findShortcut->setShortcut(QKeySequence::Find);
  findShortcut->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(findShortcut, &QAction::triggered, this, [this] { btnFindTextClick(); });
  addAction(findShortcut);

  lvAttachments = new QListWidget(this);
  lvAttachments->setObjectName("lvAttachments");
  lvAttachments->setViewMode(QListView::IconMode);
  lvAttachments->setIconSize(QSize(32, 32));
  lvAttachments->setMovement(QListView::Static);
  lvAttachments->setResizeMode(QListView::Adjust);
  lvAttachments->setWordWrap(true);
  // Room for a name on two lines under the icon.
  lvAttachments->setGridSize(QSize(110, 74));
  lvAttachments->setContextMenuPolicy(Qt::CustomContextMenu);
  lvAttachments->hide();
  connect(lvAttachments, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem*) { lvAttachmentsDblClick(); });
  pmAttachment = new QMenu(this);
  pmAttachment->setObjectName("pmAttachment");
  miEncoding = pmAttachment->addAction(tr("Encoding: "));
  miEncoding->setEnabled(false);
  pmAttachment->addSeparator();
  miAttachOpen = pmAttachment->addAction(tr("Open/View attachment..."), this,
                                         [this] { miAttachSaveClick(1); });
  miAttachSave =
      pmAttachment->addAction(tr("Save attachment..."), this, [this] { miAttachSaveClick(2); });
  miEncoding->setObjectName("miEncoding");
  miAttachOpen->setObjectName("miAttachOpen");
  miAttachSave->setObjectName("miAttachSave");
  connect(lvAttachments, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (lvAttachments->currentItem() == nullptr || lvAttachments->itemAt(at) == nullptr)
      return;
    pmAttachmentPopup();
    pmAttachment->popup(lvAttachments->viewport()->mapToGlobal(at));
  });

  splAttachment = new QSplitter(Qt::Vertical, this);
  splAttachment->setObjectName("splAttachment");
  splAttachment->setHandleWidth(5);
  splAttachment->addWidget(pcBody);
  splAttachment->addWidget(lvAttachments);
  splAttachment->setStretchFactor(0, 1);
  splAttachment->setStretchFactor(1, 0);
  splAttachment->setCollapsible(0, false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  // The banner and its Decrypt... button in one row; with both hidden the row takes no room.
  auto* securityRow = new QHBoxLayout;
  securityRow->setContentsMargins(0, 0, 0, 0);
  securityRow->setSpacing(0);
  securityRow->addWidget(lblSecurity, 1);
  securityRow->addWidget(btnDecrypt, 0, Qt::AlignVCenter);
  layout->addLayout(securityRow);
  layout->addWidget(lblImportance);
  layout->addWidget(lblTnefDamage);
  layout->addWidget(lblLoadNotes);
  layout->addWidget(pnlHeader);
  pnlItem = new TItemHeader(this);
  layout->addWidget(pnlItem);
  layout->addWidget(splAttachment, 1);

  for (int tab : {kRtfTab, kHtmlTab})
    pcBody->setTabVisible(tab, false);
  pnlHeaderResize();
}

TfrmMessage::~TfrmMessage() = default;

void TfrmMessage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormShow();
}

void TfrmMessage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  pnlHeaderResize();
  if (!pnlItem->isHidden())
    pnlItem->FitHeight(std::max(60, height() / 2));
}

void TfrmMessage::FormShow() {
  CreateBrowser();
}

void TfrmMessage::CreateBrowser() {
  if (wbHTMLBody != nullptr)
    return;
  wbHTMLBody = new THtmlView(tsHTMLBody);
  wbHTMLBody->setObjectName("wbHTMLBody");
  tsHTMLBody->layout()->addWidget(wbHTMLBody);
}

void TfrmMessage::Clear() {
  messageProperties_ = nullptr;
  ++shown_;
  checking_ = false;
  lblSecurity->hide();
  btnDecrypt->hide();
  encrypted_ = {};
  encryption_ = {};
  decrypted_.reset();
  for (QLineEdit* edit : {edFrom, edTo, edSubject, edCC, edBCC, edSent})
    edit->clear();
  cbMessageFormat->setCurrentIndex(0);
  lblImportance->hide();
  lblTnefDamage->hide();
  lblLoadNotes->hide();
  reBody->clear();
  reRTFBody->clear();
  if (wbHTMLBody != nullptr)
    wbHTMLBody->Clear();
  lvAttachments->clear();
  lvAttachments->hide();
  pnlItem->ShowItem(nullptr);
  pnlHeader->show();
  pcBody->setTabVisible(kPlainTab, true);
  pcBody->setTabVisible(kRtfTab, false);
  pcBody->setTabVisible(kHtmlTab, false);
  pcBody->setCurrentIndex(kPlainTab);
}

int TfrmMessage::AttachmentCount() const {
  return lvAttachments->count();
}

void TfrmMessage::SetWordWrap(bool on) {
  btnWordWrap->setChecked(on);
  reBody->setLineWrapMode(on ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  reRTFBody->setLineWrapMode(on ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
}

void TfrmMessage::DisplayMessage(const TMSGProperties* root) {
  if (root == nullptr)
    return;
  messageProperties_ = root;
  const TMSGProperties& m = *root;
  SetWordWrap(settings_ != nullptr && settings_->WordWrap);

  edFrom->setText(OneLineText(m.GetFrom()));
  const std::u16string to = m.GetTo();
  edTo->setText(OneLineText(to.empty() ? m.GetRecipientEmail() : to));
  edCC->setText(OneLineText(m.GetCc()));
  edBCC->setText(OneLineText(m.GetBcc()));
  for (auto [label, edit] : {std::pair{lblCC, edCC}, std::pair{lblBCC, edBCC}}) {
    label->setVisible(!edit->text().isEmpty());
    edit->setVisible(!edit->text().isEmpty());
  }
  edSubject->setText(OneLineFieldText(m, {PR_SUBJECT_W, PR_SUBJECT_A, PR_CONVERSATION_TOPIC_A}));
  for (QLineEdit* edit : {edFrom, edTo, edCC, edBCC, edSubject})
    edit->setCursorPosition(0);
  const TDateTime sent = m.GetSentDate();
  edSent->setText(sent == 0 ? QString() : InterfaceDateTimeText(sent));
  cbMessageFormat->setCurrentIndex(m.BodyFormat <= 3 ? m.BodyFormat : -1);
  ShowImportance(m.GetPriority());
  if (decrypted_ == nullptr || root != &decrypted_->Properties()) {
    decrypted_.reset();
    encrypted_ = FindEncryptedContent(m);
    encryption_ = {};
    encryption_.Encrypted = encrypted_.Kind != TEncryptedContent::TKind::None;
    encryption_.Recipients = encrypted_.Recipients;
  } else {
    encryption_.Decrypted = true;
  }
  CheckSignatures(m);
  // An item that is not mail shows as a calendar or an address book shows it; only the items
  // that travel as mail (meeting messages, task requests) keep their sender and recipients.
  const TItemKind kind = GetItemKind(m);
  if (pnlItem->ShowItem(&m))
    pnlItem->FitHeight(std::max(60, height() / 2));
  pnlHeader->setVisible(kind == TItemKind::Mail || kind == TItemKind::MeetingRequest ||
                        kind == TItemKind::MeetingResponse ||
                        kind == TItemKind::MeetingCancellation || kind == TItemKind::TaskRequest);

  // A message without a plain body shows the text of its HTML or RTF body here.
  LoadRichEditText(reBody, GetPlainTextBody(m));
  const std::string rtf = m.GetBodyRTFBytes();
  LoadRichEditText(reRTFBody, rtf);
  const bool hasRtf = !rtf.empty() && !reRTFBody->document()->isEmpty();
  pcBody->setTabVisible(kRtfTab, hasRtf);
  if (hasRtf && reBody->document()->isEmpty())
    LoadRichEditText(reBody, reRTFBody->toPlainText().toStdU16String());

  FillAttachments();
  ShowTnefDamage();
  ShowLoadNotes(m);

  const std::string charset =
      m.OwnerMessage != nullptr ? m.OwnerMessage->Properties().GetCharset() : m.GetCharset();
  // The HTML made from the RTF is the one that the EML writer puts out, read in the RTF's own
  // code page.
  const std::u16string ownHtml = m.GetBodyHTML();
  if (!ownHtml.empty() || !hasRtf)
    ShowHtmlBody(charset, ownHtml, false);
  else
    ShowHtmlBody(charset, GetHtmlBodyOrFromRtf(m), true);

  const int format = settings_ != nullptr ? settings_->DefaultFormat : 3;
  if (pcBody->isTabVisible(kHtmlTab) && (format == 0 || format == 3))
    pcBody->setCurrentIndex(kHtmlTab);
  else if (hasRtf && (format == 0 || format == 2))
    pcBody->setCurrentIndex(kRtfTab);
  else
    pcBody->setCurrentIndex(kPlainTab);
  const bool otherTab = hasRtf || pcBody->isTabVisible(kHtmlTab);
  pcBody->setTabVisible(kPlainTab, !(otherTab && reBody->document()->isEmpty()));
  if (!pcBody->isTabVisible(kPlainTab) && pcBody->currentIndex() == kPlainTab)
    pcBody->setCurrentIndex(hasRtf ? kRtfTab : kHtmlTab);
  pnlHeaderResize();
}

void TfrmMessage::CheckSignatures(const TMSGProperties& m) {
  const uint64_t shown = ++shown_;
  // Copies: the check runs on while the user may open another message.
  std::vector<TSignedEntity> entities = FindSignedEntities(m);
  checking_ = !entities.empty();
  if (entities.empty()) {
    ShowSecurity({});
    return;
  }
  lblSecurity->setText(QString::fromStdString(MessageString("strSignatureChecking")));
  QPalette palette = lblSecurity->palette();
  palette.setColor(QPalette::Window, kHeaderColour);
  palette.setColor(QPalette::WindowText, Qt::black);
  lblSecurity->setPalette(palette);
  lblSecurity->show();
  // Loading the authorities and checking a chain takes a moment: never on the UI thread.
  QPointer<TfrmMessage> panel(this);
  QThreadPool::globalInstance()->start(
      [panel, shown, entities = std::move(entities), anchors = trustAnchors_] {
        TMessageSecurity security = orlendo::CheckSignatures(entities, anchors);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [panel, shown, security = std::move(security)] {
              if (panel != nullptr && panel->shown_ == shown) {
                panel->checking_ = false;
                panel->ShowSecurity(security);
              }
            },
            Qt::QueuedConnection);
      });
}

void TfrmMessage::ShowSecurity(const TMessageSecurity& signatures) {
  TMessageSecurity security = signatures;
  if (!security.Encrypted) {
    security.Encrypted = encryption_.Encrypted;
    security.Recipients = encryption_.Recipients;
    security.Decrypted = encryption_.Decrypted;
  }
  btnDecrypt->setVisible(security.Encrypted && !security.Decrypted &&
                         encrypted_.Kind != TEncryptedContent::TKind::None);
  TBannerTone tone = TBannerTone::Info;
  const QString text = SecurityBannerText(security, tone);
  lblSecurity->setVisible(!text.isEmpty());
  lblSecurity->setText(text);
  QPalette palette = lblSecurity->palette();
  switch (tone) {
  case TBannerTone::Good:
    palette.setColor(QPalette::Window, QColor(0xD4, 0xED, 0xDA));
    break;
  case TBannerTone::Warning:
    palette.setColor(QPalette::Window, QColor(0xFF, 0xF3, 0xCD));
    break;
  case TBannerTone::Bad:
    palette.setColor(QPalette::Window, QColor(0xF8, 0xD7, 0xDA));
    break;
  case TBannerTone::Info:
    palette.setColor(QPalette::Window, kHeaderColour);
    break;
  }
  palette.setColor(QPalette::WindowText, Qt::black);
  lblSecurity->setPalette(palette);
}

bool TfrmMessage::DecryptMessage() {
  if (messageProperties_ == nullptr || encrypted_.Kind == TEncryptedContent::TKind::None)
    return false;
  std::string clear;
  if (encrypted_.Kind == TEncryptedContent::TKind::Cms) {
    QStringList recipients;
    for (const TEncryptionRecipient& r : encrypted_.Recipients)
      recipients << QString::fromStdString(r.Issuer.empty() ? r.Serial
                                                            : r.Issuer + " (" + r.Serial + ")");
    const std::string data = encrypted_.Data;
    const bool opened =
        ShowDecryptDialog(this, recipients, [&](const QByteArray& key, const QByteArray& password) {
          TCmsDecryption result =
              DecryptCmsEnvelope(data, std::string_view(key.constData(), key.size()),
                                 std::string_view(password.constData(), password.size()));
          if (!result.Ok)
            return QString::fromStdString(result.Error);
          clear = std::move(result.Content);
          return QString();
        });
    if (!opened)
      return false;
  } else {
    // The key is the keyring's: nothing to ask, and GnuPG never prompts from here.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TPgpDecryption result = DecryptPgp(encrypted_.Data);
    QApplication::restoreOverrideCursor();
    if (!result.Ok) {
      FileDialogs().Error(this, QString::fromStdString(MessageString("strDecryptFailed")) + "\n" +
                                    QString::fromStdString(result.Error));
      return false;
    }
    clear = std::move(result.Content);
  }
  ShowDecrypted(std::move(clear));
  return true;
}

void TfrmMessage::ShowDecrypted(std::string content) {
  if (messageProperties_ == nullptr)
    return;
  decrypted_ = ReadDecryptedMessage(std::move(content), *messageProperties_);
  DisplayMessage(&decrypted_->Properties());
}

void TfrmMessage::ShowImportance(int priority) {
  struct Level {
    int priority;
    const char* prefix;
    const char* text;
    QColor colour;
  };
  static const Level kLevels[] = {
      {0, "   || ", "strLowestPriority", kYellow},
      {1, "   | ", "strLowPriority", kYellow},
      {3, "   ! ", "strHighPriority", kHeaderColour},
      {4, "   !! ", "strHighestPriority", kHeaderColour},
  };
  lblImportance->setVisible(priority != 2);
  QPalette palette = lblImportance->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::HighlightedText));
  for (const Level& level : kLevels) {
    if (level.priority == priority) {
      lblImportance->setText(level.prefix + QString::fromStdString(MessageString(level.text)));
      palette.setColor(QPalette::WindowText, level.colour);
    }
  }
  lblImportance->setPalette(palette);
}

void TfrmMessage::ShowTnefDamage() {
  // A winmail.dat that was read whole gave way to its files; one that still stands was damaged,
  // and its name says what could not be read.
  const TMSGProperties& m = *messageProperties_;
  QStringList damaged;
  for (int i = 0; i < m.AttachmentCount(); ++i) {
    const TMSGProperty* node = m.GetAttachment(i);
    if (node != nullptr && IsTnefAttachment(*node))
      damaged << QString::fromStdString(node->GetAttachmentName(i));
  }
  lblTnefDamage->setText(damaged.join("\n") + "\n" +
                         QString::fromStdString(MessageString("strTnefDamaged")));
  lblTnefDamage->setVisible(!damaged.isEmpty());
}

void TfrmMessage::ShowMessageStrings() {
  if (messageProperties_ == nullptr)
    return;
  ShowImportance(messageProperties_->GetPriority());
  ShowTnefDamage();
  ShowLoadNotes(*messageProperties_);
}

void TfrmMessage::ShowLoadNotes(const TMSGProperties& m) {
  // The notes are the load's: they belong to the message it read, not to a message inside it.
  const TQvMessage* message = m.OwnerMessage;
  QStringList notes;
  if (message != nullptr && &message->Properties() == &m) {
    for (const TQvMessage::TLoadNote& note : message->LoadNotes()) {
      // In the interface's language where the message strings know the note.
      const std::string& text = MessageString(note.Key);
      notes << QString::fromStdString(
          note.Key.empty() || text == note.Key ? note.Text : FormatMessageText(text, note.Args));
    }
  }
  lblLoadNotes->setText(notes.join("\n"));
  lblLoadNotes->setVisible(!notes.isEmpty());
}

void TfrmMessage::FillAttachments() {
  lvAttachments->clear();
  const TMSGProperties& m = *messageProperties_;
  const QString lowerHtml = Lowered(GetHtmlBodyOrFromRtf(m));
  for (int i = 0; i < m.AttachmentCount(); ++i) {
    const TMSGProperty* node = m.GetAttachment(i);
    if (node != nullptr && ShownInsteadOfListed(*node, lowerHtml))
      continue;
    auto* item = new QListWidgetItem;
    item->setData(kAttachmentIndexRole, i);
    if (node == nullptr) {
      item->setText(QString("unknown%1").arg(i, 2, 16, QChar('0')));
      item->setData(kImageRole, 0);
    } else {
      item->setText(Utf8(node->GetAttachmentName(i)));
      item->setData(kFileNameRole, Utf8(node->GetAttachmentFileName(i)));
      item->setData(kMimeTagRole,
                    Wide(node->SubProperties().GetPropertyText(PID_ATTACH_MIME_TAG, true, true)));
      const int method = node->GetAttachMethod();
      item->setData(kImageRole, method == 2 ? 1 : method == 3 ? 2 : 0);
    }
    // Made once: each new icon would parse its SVG again.
    static const QIcon kIcons[] = {QIcon(":/preview/file.svg"), QIcon(":/preview/message.svg"),
                                   QIcon(":/preview/ole.svg")};
    item->setIcon(kIcons[item->data(kImageRole).toInt()]);
    item->setToolTip(item->text());
    lvAttachments->addItem(item);
  }
  const bool any = lvAttachments->count() > 0;
  lvAttachments->setVisible(any);
  if (any && splAttachment->sizes().value(1) < 76) {
    const int total = splAttachment->height();
    splAttachment->setSizes({std::max(total - 86, 10), 86});
  }
}

void TfrmMessage::ShowHtmlBody(const std::string& charset, const std::u16string& html, bool) {
  pcBody->setTabVisible(kHtmlTab, !html.empty());
  if (html.empty()) {
    if (wbHTMLBody != nullptr)
      wbHTMLBody->Clear();
    return;
  }
  CreateBrowser();
  wbHTMLBody->ShowHtml(messageProperties_, charset, html);
}

QWidget* TfrmMessage::ActiveTextView() const {
  if (pcBody->currentIndex() == kRtfTab)
    return reRTFBody;
  return reBody;
}

void TfrmMessage::pnlHeaderResize() {
  const int w = width();
  const int height = std::max(21, edFrom->sizeHint().height());
  const int pitch = std::max(27, height + 6);
  auto row = [&](int i) { return 3 + i * pitch; };
  // The captions keep their designed 55 pixels, or grow to the longest translated one
  // ("Blindkopie:"), and the fields start 6 pixels after them.
  int labelWidth = 55;
  for (const QLabel* label : {lblFrom, lblTo, lblSubject, lblCC, lblBCC})
    labelWidth = std::max(labelWidth, label->sizeHint().width());
  const int fieldLeft = 3 + labelWidth + 6;
  auto place = [&](QLabel* label, QLineEdit* edit, int i, int right) {
    label->setGeometry(3, row(i), labelWidth, height);
    edit->setGeometry(fieldLeft, row(i), std::max(right - fieldLeft, 10), height);
  };
  edSent->setGeometry(w - 130 - kMargin, row(0), 130, height);
  cbMessageFormat->setGeometry(w - 130 - kMargin, row(1), 130, height);
  place(lblFrom, edFrom, 0, edSent->x() - kMargin);
  place(lblTo, edTo, 1, cbMessageFormat->x() - kMargin);
  place(lblSubject, edSubject, 2, w - kMargin);
  place(lblCC, edCC, 3, w - kMargin);
  // BCC moves up into the CC row when there is no CC.
  const bool cc = !edCC->isHidden();
  place(lblBCC, edBCC, cc ? 4 : 3, w - kMargin);
  const QLineEdit* lowest = !edBCC->isHidden() ? edBCC : cc ? edCC : edSubject;
  pnlHeader->setFixedHeight(lowest->geometry().bottom() + 1 + row(0));
}

void TfrmMessage::lvAttachmentsDblClick() {
  miAttachSaveClick(1);
}

void TfrmMessage::pmAttachmentPopup() {
  QListWidgetItem* item = lvAttachments->currentItem();
  QString caption = tr("Encoding: ");
  if (item != nullptr) {
    switch (item->data(kImageRole).toInt()) {
    case 0:
      caption += item->data(kMimeTagRole).toString();
      break;
    case 2:
      caption += tr(" OLE-object");
      break;
    default:
      caption += tr(" forwarded message");
      break;
    }
  }
  miEncoding->setText(caption);
  miAttachSave->setEnabled(item != nullptr && item->data(kImageRole).toInt() != 2);
}

void TfrmMessage::miAttachSaveClick(int tag) {
  QListWidgetItem* item = lvAttachments->currentItem();
  if (item == nullptr || messageProperties_ == nullptr)
    return;
  const int index = item->data(kAttachmentIndexRole).toInt();
  try {
    if (tag == 1)
      OpenAttachment(index, item);
    else
      SaveAttachment(index, item);
  } catch (const std::exception& e) {
    FileDialogs().Error(this, QString::fromUtf8(e.what()));
  }
}

void TfrmMessage::OpenAttachment(int index, QListWidgetItem* item) {
  const TMSGProperties& m = *messageProperties_;
  const int image = item->data(kImageRole).toInt();
  if (image == 1) {
    const TMSGProperty* node = m.GetAttachment(index);
    if (node == nullptr)
      throw EMSGError("Attachment with message is not found.");
    ShowMessageModal(this, item->text(), EmbeddedLevel(*node), settings_, fileName_);
    return;
  }
  if (image == 2) {
    const TMSGProperty* node = m.GetAttachment(index);
    if (node == nullptr)
      throw EMSGError("Attachment with ole-object is not found.");
    const TMSGProperty* object = node->SubProperties().FindProperty(PID_ATTACH_DATA, true, true);
    std::string bytes;
    if (object != nullptr && object->Value.IsBytes())
      bytes = object->Value.Bytes().substr(0, static_cast<size_t>(std::max(object->DataSize, 0)));
    TOlePackage package;
    if (ReadOlePackage(bytes, package)) {
      const std::string path = TTempFiles::Instance().NewPath(package.FileName);
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(package.Data.data(), static_cast<std::streamsize>(package.Data.size()));
      out.close();
      if (!out)
        throw EMSGError("Unable to write to " + path);
      TTempFiles::Instance().Add(path);
      OpenWithSystem(this, path);
      return;
    }
    ShowObjectStructure(this, item->text(), bytes);
    return;
  }
  if (item->data(kMimeTagRole).toString().compare("message/rfc822", Qt::CaseInsensitive) == 0) {
    // A forwarded Internet message opens here, as an embedded .msg does.
    TMemoryStream data;
    m.SaveAttachmentToStream(index, data);
    data.SetPosition(0);
    TQvEMLFile reader;
    reader.LoadFromStream(data);
    ShowMessageModal(this, item->text(), reader.Properties(), settings_, fileName_);
    return;
  }
  const std::string path =
      TTempFiles::Instance().NewPath(item->data(kFileNameRole).toString().toStdString());
  m.SaveAttachmentToFile(index, path);
  TTempFiles::Instance().Add(path);
  OpenWithSystem(this, path);
}

void TfrmMessage::SaveAttachment(int index, QListWidgetItem* item) {
  const TMSGProperties& m = *messageProperties_;
  const int image = item->data(kImageRole).toInt();
  const std::string proposed =
      image == 0 ? SafeFileName(item->data(kFileNameRole).toString().toStdString())
                 : SafeFileName(EmbeddedMessageFileName(item->text().toStdString()));
  TSettings defaults;
  TSettings& settings = settings_ != nullptr ? *settings_ : defaults;
  const std::string folder = GetAttachmentFolder(settings, fileName_);
  const QString path = FileDialogs().SaveFileName(this, QString(), Utf8(folder + proposed),
                                                  tr("All files (*)"), nullptr, {});
  if (path.isEmpty())
    return;
  const std::string chosenFolder = QFileInfo(path).absolutePath().toStdString();
  if (chosenFolder != settings.LastUsedDir) {
    settings.LastUsedDir = chosenFolder;
    settings.SettingsChanged = true;
  }
  if (image == 0) {
    m.SaveAttachmentToFile(index, path.toStdString());
    return;
  }
  SaveEmbeddedMessage(m, index, path.toStdString());
}

void SaveEmbeddedMessage(const TMSGProperties& level, int index, const std::string& path) {
  if (const TMSGProperty* node = level.GetAttachment(index))
    SaveToMSG(EmbeddedLevel(*node), path, true);
}

void TfrmMessage::btnWordWrapClick() {
  const bool on = reBody->lineWrapMode() == QPlainTextEdit::NoWrap;
  SetWordWrap(on);
  if (settings_ != nullptr) {
    settings_->WordWrap = on;
    settings_->SettingsChanged = true;
  }
}

void TfrmMessage::btnCopyClick() {
  if (auto* plain = qobject_cast<QPlainTextEdit*>(ActiveTextView()))
    plain->copy();
  else
    reRTFBody->copy();
}

void TfrmMessage::btnSelectAllClick() {
  QWidget* view = ActiveTextView();
  if (auto* plain = qobject_cast<QPlainTextEdit*>(view))
    plain->selectAll();
  else
    reRTFBody->selectAll();
  if (view->isVisible() && view->focusPolicy() != Qt::NoFocus)
    view->setFocus();
}

void TfrmMessage::btnFindTextClick() {
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, tr("Find"), tr("Find what:"), QLineEdit::Normal, QString(), &ok);
  if (ok && !text.isEmpty())
    FindDialogFind(text);
}

bool TfrmMessage::FindDialogFind(const QString& text) {
  QWidget* view = ActiveTextView();
  auto* plain = qobject_cast<QPlainTextEdit*>(view);
  QTextDocument* document = plain != nullptr ? plain->document() : reRTFBody->document();
  const qsizetype at = document->toRawText().indexOf(text, 0, Qt::CaseSensitive);
  if (at < 0 || text.isEmpty()) {
    FileDialogs().Error(this, QString::fromStdString(MessageString("strENotFindInBody"))
                                  .replace(QLatin1String("%s"), text));
    return false;
  }
  QTextCursor cursor(document);
  cursor.setPosition(static_cast<int>(at));
  cursor.setPosition(static_cast<int>(at + text.size()), QTextCursor::KeepAnchor);
  if (plain != nullptr)
    plain->setTextCursor(cursor);
  else
    reRTFBody->setTextCursor(cursor);
  view->setFocus();
  return true;
}

void ShowMessageModal(QWidget* parent, const QString& caption, const TMSGProperties& level,
                      TSettings* settings, const std::string& fileName) {
  QDialog dialog(parent, Qt::Window);
  dialog.setWindowTitle(caption);
  dialog.resize(529, 408);
  auto* panel = new TfrmMessage(&dialog, settings);
  panel->SetFileName(fileName);
  auto* layout = new QVBoxLayout(&dialog);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(panel);
  PrepareForm(&dialog);
  panel->DisplayMessage(&level);
  dialog.exec();
}

} // namespace orlendo
