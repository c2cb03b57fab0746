#include "text/html_entities.h"

#include "text/qvmsgcp.h"
#include "text/ascii.h"

namespace orlendo {

namespace {

struct NamedReference {
  std::u16string_view Reference;
  std::u16string_view Replacement;
};

constexpr NamedReference kNamedReferences[] = {
    {u"&brvbar", u"|"},    {u"&deg", u"\u00B0"}, {u"&#176", u"\u00B0"}, {u"&plusmn", u"+"},
    {u"&para", u"\u00B6"}, {u"&amp", u"&"},      {u"&lt", u"<"},        {u"&gt", u">"},
    {u"&copy", u"c"},      {u"&quot", u"\""},    {u"&apos", u"'"},      {u"&trade", u"T"},
    {u"&nbsp", u""},       {u"&car", u"\n"},     {u"&ret", u"\r"},
};

constexpr char kHexDigits[] = "0123456789ABCDEF";


bool EndsWith(const std::u16string& s, std::u16string_view suffix) {
  return s.size() >= suffix.size() &&
         std::u16string_view(s).substr(s.size() - suffix.size()) == suffix;
}

} // namespace

std::string EscapeHtml(std::string_view text, bool lineBreaks) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
    case '"':
      out += "&quot;";
      continue;
    case '&':
      out += "&amp;";
      continue;
    case '<':
      out += "&lt;";
      continue;
    case '>':
      out += "&gt;";
      continue;
    case '\'':
      out += lineBreaks ? "'" : "&apos;";
      continue;
    case '\r':
      if (lineBreaks && i + 1 < n && text[i + 1] == '\n') {
        out += "<br>";
        ++i;
      } else {
        out += '\r';
      }
      continue;
    case '\n':
    case '\t':
      out += static_cast<char>(c);
      continue;
    case 0xC2:
      // The four Latin-1 signs with a reference of their own, as UTF-8 (C2 xx). Matching their
      // second byte alone would cut other characters apart (C3 A9 is "é").
      if (i + 1 < n) {
        const char* reference = nullptr;
        switch (static_cast<unsigned char>(text[i + 1])) {
        // XML knows none of HTML's named references: there the signs are numbered.
        case 0xA9:
          reference = lineBreaks ? "&copy;" : "&#169;";
          break;
        case 0xB0:
          reference = "&#176;";
          break;
        case 0xB1:
          reference = lineBreaks ? "&plusmn;" : "&#177;";
          break;
        case 0xB6:
          reference = lineBreaks ? "&para;" : "&#182;";
          break;
        }
        if (reference) {
          out += reference;
          ++i;
          continue;
        }
      }
      out += static_cast<char>(c);
      continue;
    default:
      if (c < 0x20) {
        out += '%';
        out += kHexDigits[c >> 4];
        out += kHexDigits[c & 0x0F];
      } else {
        out += static_cast<char>(c);
      }
    }
  }
  return out;
}

void ReplaceEntity(std::u16string_view reference, std::u16string_view replacement,
                   std::u16string& text) {
  if (reference.empty() || text.find(reference) == std::u16string::npos)
    return;
  // One pass from the left gives the result of "replace the first occurrence, search again from
  // the start" without its quadratic cost: the text before an occurrence never holds one, so a
  // new one can only end at or after the place of the last replacement. The replacement is
  // pushed back onto the input so that it is scanned again with what precedes it.
  std::u16string out;
  out.reserve(text.size());
  std::u16string pending; // replacement characters still to scan, in reverse order
  const char16_t last = reference.back();
  std::size_t i = 0;
  for (;;) {
    char16_t c;
    if (!pending.empty()) {
      c = pending.back();
      pending.pop_back();
    } else if (i < text.size()) {
      c = text[i++];
    } else {
      break;
    }
    out.push_back(c);
    if (c != last || !EndsWith(out, reference))
      continue;
    out.resize(out.size() - reference.size());
    if (pending.empty() && i < text.size() && text[i] == u';')
      ++i;
    else if (!pending.empty() && pending.back() == u';')
      pending.pop_back();
    pending.append(replacement.rbegin(), replacement.rend());
  }
  text = std::move(out);
}

void DecodeHtmlEntities(std::u16string& text) {
  for (const NamedReference& named : kNamedReferences)
    ReplaceEntity(named.Reference, named.Replacement, text);

  if (text.find(u"&#") == std::u16string::npos)
    return;
  std::u16string out;
  out.reserve(text.size());
  std::u16string in = std::move(text);
  std::size_t i = 0;
  while (i < in.size()) {
    const char16_t c = in[i];
    if (c != u'&' || i + 1 >= in.size() || in[i + 1] != u'#') {
      out.push_back(c);
      ++i;
      continue;
    }
    std::size_t j = i + 2;
    const bool hex = j < in.size() && (in[j] == u'x' || in[j] == u'X');
    if (hex)
      ++j;
    const std::size_t digitsStart = j;
    long value = 0;
    while (j < in.size() && (hex ? HexValue(in[j]) >= 0 : (in[j] >= u'0' && in[j] <= u'9'))) {
      if (value <= 0xFFFF)
        value = value * (hex ? 16 : 10) + (hex ? HexValue(in[j]) : in[j] - u'0');
      ++j;
    }
    if (j == digitsStart || value > 0xFFFE) {
      out.append(in, i, std::u16string::npos); // ends the numeric pass
      break;
    }
    if (j < in.size() && in[j] == u';')
      ++j;
    // The decoded character takes the last place of the reference and is scanned again, so that
    // "&#38;#65;" gives "A" as a second reference formed by the first one would.
    in[j - 1] = static_cast<char16_t>(value);
    i = j - 1;
    if (value == u'#' && !out.empty() && out.back() == u'&') {
      out.pop_back();
      in[j - 2] = u'&';
      i = j - 2;
    } else if (value != u'&') {
      out.push_back(in[i]);
      ++i;
    }
  }
  text = std::move(out);
}

std::string DecodeHtmlEntities(std::string_view text) {
  std::u16string wide = SystemToWide(text);
  DecodeHtmlEntities(wide);
  return WideToSystem(wide);
}

} // namespace orlendo
