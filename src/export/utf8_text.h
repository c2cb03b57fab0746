// Message text for the writers as UTF-8, without the copies that the wide accessors make: a value
// that the model already holds as UTF-8 is viewed where it stands. A hostile message can hold a
// subject or a header block as large as the file, and each wide copy of it costs twice that.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "model/qvmsg.h"

namespace orlendo {

// Either a view of text that the model owns, or text of its own.
class TUtf8Text {
public:
  TUtf8Text() = default;
  static TUtf8Text Viewing(std::string_view text) {
    TUtf8Text t;
    t.view_ = text;
    t.viewing_ = true;
    return t;
  }
  static TUtf8Text Owning(std::string text) {
    TUtf8Text t;
    t.owned_ = std::move(text);
    return t;
  }
  std::string_view View() const { return viewing_ ? view_ : std::string_view(owned_); }
  bool Empty() const { return View().empty(); }
  // True when the text is the model's own (it lives as long as the record it came from).
  bool IsView() const { return viewing_; }

private:
  std::string owned_;
  std::string_view view_;
  bool viewing_ = false;
};

// WideToSystem(record.GetValueText()), viewed where the stored bytes are that text.
TUtf8Text ValueUtf8(const TMSGProperty& record);

// The first non-empty text among exact tags, as FirstText (property_chains.h) finds it.
TUtf8Text FirstUtf8(const TMSGProperties& level, std::initializer_list<uint32_t> tags,
                    bool recursive);

// The record whose text the chain of FirstText gives (the first of the tags found with a
// non-empty text), or null.
const TMSGProperty* FirstTextRecord(const TMSGProperties& level,
                                    std::initializer_list<uint32_t> tags, bool recursive);
// The records of GetSubject, GetBody and GetTransportHeaders.
const TMSGProperty* SubjectRecord(const TMSGProperties& level);
const TMSGProperty* BodyRecord(const TMSGProperties& level);
const TMSGProperty* TransportHeadersRecord(const TMSGProperties& level);

// GetSubject, GetBody and GetTransportHeaders as UTF-8.
TUtf8Text SubjectUtf8(const TMSGProperties& level);
TUtf8Text BodyUtf8(const TMSGProperties& level);
TUtf8Text TransportHeadersUtf8(const TMSGProperties& level);

// The number of UTF-16 units of valid UTF-8.
size_t Utf16Units(std::string_view utf8);

// The end of the first piece of text for a writer that transforms text piece by piece: at most
// about limit bytes (more only where no place near it will do), never inside a UTF-8 sequence,
// after a CR (a CR LF pair is one line break) or after a ']' (a "]]>" must stay whole).
size_t TextPieceEnd(std::string_view text, size_t limit);

} // namespace orlendo
