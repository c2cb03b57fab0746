#include "text/rfc2047_encode.h"

#include <vector>

#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr size_t kMaxEncodedWordLength = 75;
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool IsPlainChar(char16_t c) {
  return (c >= 0x20 && c < 0x7F) || c == u'\t';
}

// Plain base64 without line breaks, as encoded-words need it.
std::string Base64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) |
                       (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += kBase64Alphabet[(n >> 18) & 63];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += kBase64Alphabet[(n >> 6) & 63];
    out += kBase64Alphabet[n & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2)
      n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kBase64Alphabet[(n >> 18) & 63];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += rest == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Narrow(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char16_t c : text)
    out += static_cast<char>(c);
  return out;
}

// Appends the encoded-words of one run of text to out, in the order they are written, with
// separator between them. Written straight into out: a run can be as large as the file.
void AppendEncodedWords(std::u16string_view text, const std::string& charset,
                        const HeaderTextEncoder& encode, std::string_view separator,
                        std::string& out) {
  const std::string prefix = "=?" + charset + "?B?";
  const size_t overhead = prefix.size() + 2;
  // Base64 characters that fit into one word, in whole groups of four; at least one group so
  // that an absurdly long charset name still makes progress.
  size_t maxBase64 =
      overhead < kMaxEncodedWordLength ? (kMaxEncodedWordLength - overhead) / 4 * 4 : 0;
  if (maxBase64 < 4)
    maxBase64 = 4;
  const size_t maxBytes = maxBase64 / 4 * 3;

  bool first = true;
  const auto emit = [&](const std::string& bytes) {
    if (!first)
      out += separator;
    first = false;
    out += prefix;
    out += Base64(bytes);
    out += "?=";
  };
  size_t start = 0;
  std::string chunkBytes;
  size_t end = start;
  while (end < text.size()) {
    // One character: a surrogate pair stays together.
    size_t next = end + 1;
    if (text[end] >= 0xD800 && text[end] <= 0xDBFF && next < text.size() && text[next] >= 0xDC00 &&
        text[next] <= 0xDFFF) {
      ++next;
    }
    std::string candidate = encode(text.substr(start, next - start));
    if (candidate.size() > maxBytes && end > start) {
      emit(chunkBytes);
      start = end;
      chunkBytes = encode(text.substr(start, next - start));
    } else {
      chunkBytes = std::move(candidate);
    }
    end = next;
  }
  if (end > start)
    emit(chunkBytes);
}

} // namespace

bool IsPlainHeaderText(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (!IsPlainChar(text[i]))
      return false;
    if (text[i] == u'=' && i + 1 < text.size() && text[i + 1] == u'?')
      return false;
  }
  return true;
}

std::string EncodeHeaderWords(std::u16string_view text, const std::string& charset,
                              const HeaderTextEncoder& encode) {
  if (IsPlainHeaderText(text))
    return Narrow(text);

  // Words are separated by runs of blanks. A word needs encoding when it is not plain text by
  // itself; a run of such words is encoded as a whole, the blanks between them included, because
  // decoders drop the white space between adjacent encoded-words.
  struct Word {
    size_t begin, end;
    bool encode;
  };
  std::vector<Word> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == u' ')
      ++i;
    if (i >= text.size())
      break;
    const size_t begin = i;
    while (i < text.size() && text[i] != u' ')
      ++i;
    words.push_back({begin, i, !IsPlainHeaderText(text.substr(begin, i - begin))});
  }

  std::string out;
  size_t written = 0; // text before this position is in out
  for (size_t w = 0; w < words.size();) {
    if (!words[w].encode) {
      ++w;
      continue;
    }
    size_t last = w;
    while (last + 1 < words.size() && words[last + 1].encode)
      ++last;
    const size_t runBegin = words[w].begin;
    const size_t runEnd = words[last].end;
    out += Narrow(text.substr(written, runBegin - written));
    AppendEncodedWords(text.substr(runBegin, runEnd - runBegin), charset, encode, "\r\n ", out);
    written = runEnd;
    w = last + 1;
  }
  out += Narrow(text.substr(written));
  return out;
}

namespace {

// The charset for text and the encoder that goes with it.
std::pair<std::string, HeaderTextEncoder> ChooseCharset(std::u16string_view text,
                                                        const std::string& preferredCharset) {
  std::string probe;
  if (!preferredCharset.empty() && TryEncodeCharset(preferredCharset, text, probe)) {
    return {preferredCharset, [preferredCharset](std::u16string_view part) {
              return EncodeCharset(preferredCharset, part);
            }};
  }
  return {"utf-8", [](std::u16string_view part) { return EncodeUtf8(part); }};
}

} // namespace

std::string EncodeHeaderValue(std::u16string_view text, const std::string& preferredCharset) {
  if (IsPlainHeaderText(text))
    return Narrow(text);
  const auto [charset, encode] = ChooseCharset(text, preferredCharset);
  return EncodeHeaderWords(text, charset, encode);
}

std::string EncodeAsWords(std::u16string_view text, const std::string& charset,
                          const HeaderTextEncoder& encode) {
  std::string out;
  // ASCII text takes 4/3 of its size in base64 and a little more for the words' frames:
  // reserved once, so that a huge text is not copied as it grows.
  out.reserve(text.size() / 10 * 17 + 64);
  AppendEncodedWords(text, charset, encode, "\r\n ", out);
  return out;
}

std::string EncodeAsWords(std::u16string_view text, const std::string& preferredCharset) {
  const auto [charset, encode] = ChooseCharset(text, preferredCharset);
  return EncodeAsWords(text, charset, encode);
}

std::string EncodeParameterValue(std::u16string_view text, const std::string& preferredCharset) {
  std::string out = "\"";
  if (IsPlainHeaderText(text)) {
    for (const char16_t c : text) {
      if (c == u'"' || c == u'\\')
        out += '\\';
      out += static_cast<char>(c);
    }
  } else {
    const auto [charset, encode] = ChooseCharset(text, preferredCharset);
    AppendEncodedWords(text, charset, encode, " ", out);
  }
  out += '"';
  return out;
}

} // namespace orlendo
