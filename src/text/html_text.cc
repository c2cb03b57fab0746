#include "text/html_text.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

namespace orlendo {

namespace {

bool NameIs(const xmlNode* node, const char* name) {
  return node->name != nullptr &&
         xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

bool NameIn(const xmlNode* node, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return NameIs(node, n); });
}

// Elements whose content no reader of the page sees.
bool IsHidden(const xmlNode* node) {
  return NameIn(node, {"script", "style", "head", "title", "noscript", "template", "object"});
}

// Blocks set apart by an empty line, and blocks that only begin a line of their own.
bool IsParagraph(const xmlNode* node) {
  return NameIn(node, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "pre", "table", "ul",
                       "ol", "dl", "hr", "figure", "fieldset", "address"});
}
bool IsLineBlock(const xmlNode* node) {
  return NameIn(node,
                {"div",    "li",    "tr",    "dt",    "dd",     "section", "article", "header",
                 "footer", "nav",   "aside", "main",  "form",   "center",  "caption", "body",
                 "html",   "tbody", "thead", "tfoot", "legend", "details", "summary"});
}

std::string Attribute(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr)
    return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

std::string Trimmed(std::string text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Collects the text with the line structure that the blocks ask for.
class TextOut {
public:
  // Text of a text node. White space runs become one blank unless `verbatim` (inside <pre>).
  void Text(std::string_view text, bool verbatim) {
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      // U+00A0 (no-break space) reads as a blank.
      const bool nbsp =
          c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xA0;
      if (verbatim && (c == '\n' || c == '\r')) {
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
          ++i;
        HardBreak();
        continue;
      }
      if (nbsp || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
        if (nbsp)
          ++i;
        if (verbatim)
          Put(c == '\t' ? "\t" : " ");
        else
          space_ = true;
        continue;
      }
      if (c < 0x20 || c == 0x7F)
        continue; // no control character is text
      if (space_ && !AtLineStart())
        Put(" ");
      space_ = false;
      Put(std::string_view(&text[i], 1));
    }
  }

  // A line break that the markup states (<br>): always one more.
  void HardBreak() {
    FlushBreaks();
    TrimLineEnd();
    out_ += "\r\n";
    space_ = false;
  }

  // The start or end of a block: the next text begins on a new line, after `lines` - 1 empty
  // lines; breaks that are already there count.
  void Block(int lines) {
    pending_ = std::max(pending_, lines);
    space_ = false;
  }

  // A separation inside a line (between table cells).
  void Tab() {
    if (!AtLineStart())
      tab_ = true;
    space_ = false;
  }

  std::string Finish() {
    TrimLineEnd();
    while (out_.size() >= 2 && out_.compare(out_.size() - 2, 2, "\r\n") == 0) {
      out_.resize(out_.size() - 2);
      TrimLineEnd();
    }
    return std::move(out_);
  }

private:
  bool AtLineStart() const { return out_.empty() || out_.back() == '\n' || pending_ > 0; }

  void Put(std::string_view text) {
    FlushBreaks();
    if (tab_) {
      out_ += '\t';
      tab_ = false;
    }
    out_ += text;
  }

  void FlushBreaks() {
    if (pending_ == 0)
      return;
    if (!out_.empty()) {
      TrimLineEnd();
      int have = 0;
      for (size_t end = out_.size(); end >= 2 && out_.compare(end - 2, 2, "\r\n") == 0; end -= 2)
        ++have;
      for (int i = have; i < pending_; ++i)
        out_ += "\r\n";
    }
    pending_ = 0;
    tab_ = false;
  }

  void TrimLineEnd() {
    while (!out_.empty() && (out_.back() == ' ' || out_.back() == '\t'))
      out_.pop_back();
  }

  std::string out_;
  int pending_ = 0;
  bool space_ = false;
  bool tab_ = false;
};

// The text of a link's content, to tell whether its address must be added after it.
void AppendContentText(const xmlNode* node, std::string& text) {
  for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (child->type == XML_TEXT_NODE && child->content != nullptr)
      text += reinterpret_cast<const char*>(child->content);
    else if (child->type == XML_ELEMENT_NODE && text.size() < 4096)
      AppendContentText(child, text);
  }
}

// What the end of an element adds: a link's address, the line breaks after a block.
void Leave(const xmlNode* node, TextOut& out, int& preDepth) {
  if (node->type != XML_ELEMENT_NODE || IsHidden(node))
    return;
  if (NameIs(node, "a")) {
    const std::string href = Trimmed(Attribute(node, "href"));
    std::string text;
    AppendContentText(node, text);
    text = Trimmed(text);
    std::string bare = href;
    if (bare.rfind("mailto:", 0) == 0)
      bare.erase(0, 7);
    if (!href.empty() && href[0] != '#' && href != text && bare != text &&
        href.rfind("javascript:", 0) != 0)
      out.Text(text.empty() ? href : " <" + href + ">", false);
  }
  if (NameIs(node, "pre"))
    --preDepth;
  if (IsParagraph(node))
    out.Block(2);
  else if (IsLineBlock(node))
    out.Block(1);
}

std::once_flag parserReady;

} // namespace

std::string HtmlToPlainText(std::string_view html) {
  if (html.empty())
    return {};
  std::call_once(parserReady, [] { xmlInitParser(); });
  const int size = static_cast<int>(std::min<size_t>(html.size(), INT_MAX));
  htmlDocPtr doc = htmlReadMemory(html.data(), size, nullptr, "UTF-8",
                                  HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                      HTML_PARSE_NONET | HTML_PARSE_COMPACT | HTML_PARSE_NOBLANKS);
  if (doc == nullptr)
    return {};
  TextOut out;
  int preDepth = 0;
  // Walked without recursion: the depth of a hostile document costs nothing here.
  const xmlNode* node = xmlDocGetRootElement(doc);
  while (node != nullptr) {
    bool descend = false;
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      if (node->content != nullptr)
        out.Text(reinterpret_cast<const char*>(node->content), preDepth > 0);
    } else if (node->type == XML_ELEMENT_NODE && !IsHidden(node)) {
      descend = true;
      if (NameIs(node, "br")) {
        out.HardBreak();
      } else if (IsParagraph(node)) {
        out.Block(2);
      } else if (IsLineBlock(node)) {
        out.Block(1);
      } else if (NameIn(node, {"td", "th"})) {
        out.Tab();
      } else if (NameIs(node, "img")) {
        const std::string alt = Trimmed(Attribute(node, "alt"));
        if (!alt.empty())
          out.Text(alt, false);
      }
      if (NameIs(node, "li"))
        out.Text("\u2022 ", true);
      if (NameIs(node, "pre"))
        ++preDepth;
    }
    if (descend && node->children != nullptr) {
      node = node->children;
      continue;
    }
    // Leave the node, and every parent whose last child it was.
    while (node != nullptr) {
      Leave(node, out, preDepth);
      if (node->next != nullptr) {
        node = node->next;
        break;
      }
      node = node->parent;
      if (node != nullptr && node->type != XML_ELEMENT_NODE)
        node = nullptr;
    }
  }
  xmlFreeDoc(doc);
  return out.Finish();
}

} // namespace orlendo
