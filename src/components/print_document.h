// The message as it goes on paper (PDF, the printer, the print preview): what the preview shows,
// laid out for pages. A header block (sender, date, recipients, subject, importance, the listed
// attachments by name and size) above the body the preview would show first: the HTML (with its
// inline images), else the rendered RTF, else the plain text.
#pragma once

#include <QPageLayout>
#include <QPageSize>
#include <QString>
#include <string>

namespace orlendo {

class TMSGProperties;

struct TPrintDocument {
  enum TBodyKind { Html, Rich, Plain };
  TBodyKind Kind = Plain;
  // The header block as HTML whose every element carries its own inline style, so that the
  // message's style sheets, which rule the document it is put into, leave it alone.
  QString HeaderHtml;
  // Html: the message's HTML as the preview loads it (cid: references not yet rewritten). Rich:
  // the RTF rendered as HTML. Plain: the text as an HTML block that keeps its lines.
  QString BodyHtml;
  // The charset the preview declares for an HTML fragment.
  std::string Charset;
  QString Title; // the subject, for the PDF's document information
};

// The document of level (a message, or an embedded message's level). Fields the preview leaves
// empty are left out; so is the attachment row when the preview lists none.
TPrintDocument MakePrintDocument(const TMSGProperties& level);

// html with header put at the start of its body: after the <body> tag, else after </head>,
// else after the <html> tag, else in front (a fragment).
QString InsertHeaderBlock(const QString& html, const QString& header);

// The paper of the user's locale: Letter where LC_PAPER says 216 x 279 mm (or, without paper
// information, where the locale measures in US units), A4 everywhere else.
QPageSize LocalePageSize();

// Portrait pages of LocalePageSize with margins of 15 mm.
QPageLayout LocalePageLayout();

} // namespace orlendo
