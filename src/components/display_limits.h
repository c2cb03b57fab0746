// How much of a text each kind of widget receives. A message may hold a 20 MB subject or a body
// that is one line of millions of characters; a widget given all of it lays it out for minutes
// and holds gigabytes. Each view gets what it can show, and says what it leaves out.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace orlendo {

// One-line edits (the header fields of the preview, the property name).
inline constexpr qsizetype kOneLineChars = 4096;
// Multi-line views: the characters of one line, and of the whole text.
inline constexpr qsizetype kViewLineChars = 20000;
inline constexpr qsizetype kViewChars = 4 * 1024 * 1024;
// The Value page of the property inspector.
inline constexpr qsizetype kValueChars = 256 * 1024;

// The first kOneLineChars characters of text, with "…" when there is more.
QString OneLineText(std::u16string_view text);
// The same for valid UTF-8, from a prefix of it.
QString OneLineUtf8Text(std::string_view text);

// text for a multi-line view: lines longer than maxLine are cut, ending in "… [N more
// characters]"; after maxChars characters the text ends with a line "[N more characters not
// shown]". A text within both limits comes back unchanged. A surrogate pair is never split.
QString BoundedText(std::u16string_view text, qsizetype maxChars = kViewChars,
                    qsizetype maxLine = kViewLineChars);
// The same for valid UTF-8 (a stored value that is read as UTF-8 as it stands), without a wide
// copy of all of it; the counts are of characters as BoundedText counts them.
QString BoundedUtf8Text(std::string_view text, qsizetype maxChars = kViewChars,
                        qsizetype maxLine = kViewLineChars);

} // namespace orlendo
