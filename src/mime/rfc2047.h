// Encoded words (RFC 2047) in header values.
#pragma once

#include <string>
#include <string_view>

#include "model/qvmsg.h"

namespace orlendo {

// Decodes the encoded words ("=?charset?B?...?=" and "=?charset?Q?...?=") of a header value and
// returns the whole value as wide text. The raw bytes around the words are read as UTF-8 where
// they are valid UTF-8, else in `rawCharset` (the charset of the message or part), or
// Windows-1252 when that is empty, unknown or UTF-8. The B form is undone with DecodeBase64 and the
// Q form with DecodeQuotedPrintable after its underscores have become spaces; any other letter
// gives an empty word. The decoded bytes are converted from the word's charset by `hook` when it is
// set and the word is not empty, otherwise by DefaultDecodeCodepage. White space between two
// adjacent words is dropped; white space between a word and other text stays. A word without the
// "?" after its charset or without its closing "?=" ends the decoding: the rest of the value stays
// as written. Linear in the length of the value.
std::u16string DecodeEncodedWords(std::string_view value, const TQvMSGConvertCodepage& hook,
                                  void* sender, const std::string& rawCharset = {});

} // namespace orlendo
