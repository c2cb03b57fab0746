#include "components/print_document.h"

#include <langinfo.h>

#include <QLocale>
#include <QRegularExpression>

#include "app/message_strings.h"
#include "components/display_limits.h"
#include "components/interface_locale.h"
#include "components/msg_panel.h"
#include "export/html_body.h"
#include "model/qvmsg.h"
#include "text/rtf_render.h"

namespace orlendo {

namespace {

constexpr uint32_t PID_ATTACH_DATA = 0x37010000;
constexpr uint32_t TAG_ATTACH_SIZE = 0x0E200003;

// The header colours of the preview's panel.
const char kHeaderBackground[] = "#C1D2EE";
const char kBannerBackground[] = "#3366CC";

QString Row(const QString& caption, const QString& value) {
  return QStringLiteral(
             "<tr><td style=\"font-weight:bold;text-align:right;vertical-align:top;"
             "width:1%;padding:1px 8px 1px 4px;white-space:nowrap;border:none;color:#000\">") +
         caption.toHtmlEscaped() +
         QStringLiteral("</td><td style=\"padding:1px 4px;vertical-align:top;border:none;"
                        "color:#000\">") +
         value.toHtmlEscaped() + QStringLiteral("</td></tr>");
}

// The bytes an attachment holds: its data, else the size the message records for it (an
// embedded message, an OLE object); -1 when neither is known.
qint64 AttachmentSize(const TMSGProperty& node) {
  const TMSGProperties& sub = node.SubProperties();
  if (const TMSGProperty* data = sub.FindProperty(PID_ATTACH_DATA, true, false);
      data != nullptr && data->Value.IsBytes() && data->SubProperties().Count() == 0)
    return static_cast<qint64>(data->Value.Bytes().size());
  if (const TMSGProperty* size = sub.FindProperty(TAG_ATTACH_SIZE, false, false))
    return size->Value.ToInt64();
  return -1;
}

QString AttachmentList(const TMSGProperties& m, const QString& lowerHtml) {
  QStringList names;
  for (int i = 0; i < m.AttachmentCount(); ++i) {
    const TMSGProperty* node = m.GetAttachment(i);
    if (node == nullptr || ShownInsteadOfListed(*node, lowerHtml))
      continue;
    QString name = QString::fromStdString(node->GetAttachmentName(i));
    const qint64 size = AttachmentSize(*node);
    if (size >= 0)
      name += QStringLiteral(" (") +
              QLocale::system().formattedDataSize(size, 1, QLocale::DataSizeTraditionalFormat) +
              QStringLiteral(")");
    names << name;
  }
  return names.join(QStringLiteral("; "));
}

QString ImportanceText(int priority) {
  switch (priority) {
  case 0:
    return QString::fromStdString(MessageString("strLowestPriority"));
  case 1:
    return QString::fromStdString(MessageString("strLowPriority"));
  case 3:
    return QString::fromStdString(MessageString("strHighPriority"));
  case 4:
    return QString::fromStdString(MessageString("strHighestPriority"));
  default:
    return QString();
  }
}

QString HeaderBlock(const TMSGProperties& m, const QString& lowerHtml) {
  QString rows;
  auto add = [&rows](const QString& caption, const QString& value) {
    if (!value.isEmpty())
      rows += Row(caption, value);
  };
  add(TfrmMessage::tr("From:"), OneLineText(m.GetFrom()));
  const TDateTime sent = m.GetSentDate();
  add(TfrmMessage::tr("Sent:"), sent == 0 ? QString() : InterfaceDateTimeText(sent));
  const std::u16string to = m.GetTo();
  add(TfrmMessage::tr("To:"), OneLineText(to.empty() ? m.GetRecipientEmail() : to));
  add(TfrmMessage::tr("CC:"), OneLineText(m.GetCc()));
  add(TfrmMessage::tr("BCC:"), OneLineText(m.GetBcc()));
  add(TfrmMessage::tr("Subject:"), OneLineText(m.GetSubject()));
  add(TfrmMessage::tr("Attachments:"), AttachmentList(m, lowerHtml));
  QString block = QStringLiteral("<div style=\"all:initial;display:block;margin:0 0 12px 0;"
                                 "font-family:sans-serif;font-size:10pt;color:#000\">");
  const QString importance = ImportanceText(m.GetPriority());
  if (!importance.isEmpty())
    block += QStringLiteral("<div style=\"background:") + kBannerBackground +
             QStringLiteral(";color:#fff;padding:3px 6px;font-weight:bold;font-family:sans-serif;"
                            "font-size:10pt\">") +
             importance.toHtmlEscaped() + QStringLiteral("</div>");
  block +=
      QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"2\" "
                     "bgcolor=\"") +
      kHeaderBackground +
      QStringLiteral("\" style=\"width:100%;border-collapse:collapse;border:none;background:") +
      kHeaderBackground +
      QStringLiteral(";font-family:sans-serif;font-size:10pt;color:#000;margin:0\">") + rows +
      QStringLiteral("</table></div>");
  return block;
}

QString PlainTextBlock(const std::u16string& text) {
  return QStringLiteral("<div style=\"white-space:pre-wrap;font-family:sans-serif;"
                        "font-size:10pt\">") +
         QString::fromStdU16String(text).toHtmlEscaped() + QStringLiteral("</div>");
}

} // namespace

TPrintDocument MakePrintDocument(const TMSGProperties& m) {
  TPrintDocument doc;
  doc.Title = OneLineText(m.GetSubject());
  doc.Charset =
      m.OwnerMessage != nullptr ? m.OwnerMessage->Properties().GetCharset() : m.GetCharset();
  // The same choice as the preview's: its own HTML, else the HTML its RTF carries, else the
  // rendered RTF, else the text.
  std::u16string html = m.GetBodyHTML();
  const std::string rtf = html.empty() ? m.GetBodyRTFBytes() : std::string();
  if (html.empty() && !rtf.empty())
    html = GetHtmlBodyOrFromRtf(m);
  if (!html.empty()) {
    doc.Kind = TPrintDocument::Html;
    doc.BodyHtml = QString::fromStdU16String(html);
  } else {
    std::string rendered;
    if (!rtf.empty()) {
      try {
        rendered = RtfToHtml(rtf);
      } catch (const std::exception&) {
        // A body that cannot be rendered is printed as its text.
      }
    }
    if (!rendered.empty()) {
      doc.Kind = TPrintDocument::Rich;
      doc.BodyHtml = QString::fromStdString(rendered);
    } else {
      doc.Kind = TPrintDocument::Plain;
      doc.BodyHtml = PlainTextBlock(GetPlainTextBody(m));
    }
  }
  doc.HeaderHtml =
      HeaderBlock(m, doc.Kind == TPrintDocument::Html ? doc.BodyHtml.toLower() : QString());
  return doc;
}

QString InsertHeaderBlock(const QString& html, const QString& header) {
  // The tag's end is the first ">" after its name; attribute values holding ">" are rare enough
  // in mail that a header put inside one would be the lesser harm than none at all.
  static const QRegularExpression body(QStringLiteral("<body(\\s[^>]*)?>"),
                                       QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression headEnd(QStringLiteral("</head\\s*>"),
                                          QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression htmlTag(QStringLiteral("<html(\\s[^>]*)?>"),
                                          QRegularExpression::CaseInsensitiveOption);
  for (const QRegularExpression* re : {&body, &headEnd, &htmlTag}) {
    const QRegularExpressionMatch match = re->match(html);
    if (match.hasMatch()) {
      QString result = html;
      result.insert(match.capturedEnd(), header);
      return result;
    }
  }
  return header + html;
}

QPageSize LocalePageSize() {
  // glibc hands the paper's millimetres out as words in the place of the string pointer.
  union {
    const char* string;
    unsigned int word;
  } width{}, height{};
  width.string = nl_langinfo(_NL_PAPER_WIDTH);
  height.string = nl_langinfo(_NL_PAPER_HEIGHT);
  if (width.word > 0 && height.word > 0)
    return QPageSize(width.word == 216 && height.word == 279 ? QPageSize::Letter : QPageSize::A4);
  return QPageSize(QLocale::system().measurementSystem() == QLocale::ImperialUSSystem
                       ? QPageSize::Letter
                       : QPageSize::A4);
}

QPageLayout LocalePageLayout() {
  return QPageLayout(LocalePageSize(), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                     QPageLayout::Millimeter);
}

} // namespace orlendo
