// Header values of written messages as RFC 2047 encoded-words.
//
// A header may only carry ASCII. Header text that holds other characters is written as
// "=?charset?B?...?=" words: each maximal run of blank-separated words that need it is encoded
// as one piece of text (blanks inside the run included), split over several encoded-words of at
// most 75 characters where it is long, never inside a character. Words that are plain ASCII stay
// as they are, so addresses in angle brackets remain readable to address parsers.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orlendo {

// Encodes text into the bytes of the charset that an encoded-word will declare.
using HeaderTextEncoder = std::function<std::string(std::u16string_view)>;

// True when text can stand in a header as it is: printable ASCII and blanks only, and no "=?"
// that a decoder would take for the start of an encoded-word. Control characters (a line break
// in a subject, for instance) are encoded, so that they can neither end the header early nor be
// lost.
bool IsPlainHeaderText(std::u16string_view text);

// The value for a header line: text itself (narrowed to ASCII) when IsPlainHeaderText, else with
// its runs of non-plain words as B encoded-words in charset, their bytes made by encode.
// Successive encoded-words of one run are separated by a folding line break (CR LF and a blank),
// which decoders remove.
std::string EncodeHeaderWords(std::u16string_view text, const std::string& charset,
                              const HeaderTextEncoder& encode);

// The same, choosing the charset: preferredCharset when it can represent every character of
// text, else "utf-8".
std::string EncodeHeaderValue(std::u16string_view text, const std::string& preferredCharset);

// The whole of text as encoded-words, for a display name in an address header: there an
// encoded-word must stand as a word of its own, and a plain word beside it could hold characters
// that end the name (a comma, a quote). Successive words are separated by a folding line break.
std::string EncodeAsWords(std::u16string_view text, const std::string& charset,
                          const HeaderTextEncoder& encode);
// The same, choosing the charset as EncodeHeaderValue does.
std::string EncodeAsWords(std::u16string_view text, const std::string& preferredCharset);

// A MIME parameter value (a file name) in double quotes: the text itself with '"' and '\'
// escaped when it is plain ASCII; else encoded-words, as mail programs write them, separated by
// blanks inside the quotes. The charset is chosen as by EncodeHeaderValue.
std::string EncodeParameterValue(std::u16string_view text, const std::string& preferredCharset);

} // namespace orlendo
