// Plain text of an HTML document, for every place that wants text of a message that has only an
// HTML body (the reports, the plain-text view, the body handed to a mail program).
#pragma once

#include <string>
#include <string_view>

namespace orlendo {

// The text that the HTML (UTF-8) shows, as a reader of the page would copy it: the document is
// parsed by libxml2's HTML parser, as forgiving as a browser, so that damaged markup still gives
// its words. Blocks (paragraphs, headings, divisions, list items, table rows) and <br> become
// line breaks, paragraphs and headings are set apart by an empty line, list items begin with a
// bullet, table cells are separated by a TAB, a link is followed by its address in angle brackets
// where the address is not its text, an image without text gives its alternative text, and
// character references are decoded. Script, style, the document head and comments are dropped.
// White space is collapsed as a browser does, except inside <pre>. Lines end in CR LF; there is
// no line break at the start or the end. Never throws; input that holds no HTML gives its text.
std::string HtmlToPlainText(std::string_view html);

} // namespace orlendo
