// The message texts of the model and the readers. %s stands for a file name.
#pragma once

#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>

namespace orlendo {

inline constexpr char SFileNotFound[] = "File %s is not found.";
inline constexpr char SFileNotCompound[] = "File %s is not valid file (compound storage)";
// A folder, a pipe, a device: nothing that a message is read from.
inline constexpr char SFileNotRegular[] = "File %s is not a regular file.";
// A load note: neither ICU nor the code-page table knows a charset name (%s) of the message. The
// message string of the key translates it.
inline constexpr char SUnknownCharsetKey[] = "strUnknownCharset";
inline constexpr char SUnknownCharset[] =
    "The charset \"%s\" is unknown: its text is read as UTF-8 where it is valid UTF-8, else as "
    "Windows-1252.";
// The fallback file name of an attachment without one; its 1-based number follows.
inline constexpr char SAttachmentDefaultName[] = "Attachment ";

// Streams. The first %s is the file name, the second the system's reason.
inline constexpr char SFOpenError[] = "Cannot open file \"%s\". %s";
inline constexpr char SFCreateError[] = "Cannot create file \"%s\". %s";
inline constexpr char SFReadError[] = "Cannot read file \"%s\". %s";
inline constexpr char SFWriteError[] = "Cannot write file \"%s\". %s";
inline constexpr char SReadError[] = "Stream read error";
inline constexpr char SWriteError[] = "Stream write error";
inline constexpr char SSeekError[] = "Stream seek error";
inline constexpr char SReadOnlyStream[] = "Stream is read-only";

// Fills the %s placeholders of text in order with args; placeholders without an argument stay.
template <class Args> std::string FormatMessageText(std::string_view text, const Args& args) {
  std::string out;
  auto arg = std::begin(args);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 's' && arg != std::end(args)) {
      out += *arg++;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}
inline std::string FormatMessageText(std::string_view text,
                                     std::initializer_list<std::string_view> args) {
  return FormatMessageText<std::initializer_list<std::string_view>>(text, args);
}

} // namespace orlendo
