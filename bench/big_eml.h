// A large Internet message for the reader's benchmark: a text body, an HTML body and several
// attachments of random bytes in base64 with 76-character lines, as mail programs write them.
#pragma once

#include <cstddef>
#include <random>
#include <string>

namespace orlendo::bench {

inline std::string Base64Lines(const std::string& data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(data.size() / 3 * 4 + data.size() / 57 * 2 + 8);
  size_t column = 0;
  for (size_t i = 0; i < data.size(); i += 3) {
    const size_t n = std::min<size_t>(3, data.size() - i);
    unsigned v = static_cast<unsigned char>(data[i]) << 16;
    if (n > 1)
      v |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (n > 2)
      v |= static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[v & 63] : '=';
    if ((column += 4) == 76) {
      out += "\r\n";
      column = 0;
    }
  }
  if (column != 0)
    out += "\r\n";
  return out;
}

// About totalBytes of message; the attachments take all but a few kilobytes of it.
inline std::string BigEml(size_t totalBytes = 20u << 20, int attachments = 4) {
  std::mt19937 random(4242);
  std::string message = "From: Sender Name <sender@example.com>\r\n"
                        "To: First <first@example.com>, Second <second@example.com>\r\n"
                        "Subject: =?utf-8?Q?Quarterly_figures_=E2=80=93_attachments?=\r\n"
                        "Date: Mon, 7 Dec 2026 10:20:30 +0100\r\n"
                        "Message-ID: <big.1@example.com>\r\n"
                        "MIME-Version: 1.0\r\n"
                        "Content-Type: multipart/mixed; boundary=\"=_outer_boundary\"\r\n"
                        "\r\n"
                        "This is a multi-part message in MIME format.\r\n"
                        "\r\n"
                        "--=_outer_boundary\r\n"
                        "Content-Type: multipart/alternative; boundary=\"=_inner_boundary\"\r\n"
                        "\r\n"
                        "--=_inner_boundary\r\n"
                        "Content-Type: text/plain; charset=utf-8\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n"
                        "\r\n";
  for (int i = 0; i < 40; ++i)
    message += "Please find the figures attached. Gr=C3=BC=C3=9Fe aus K=C3=B6ln.\r\n";
  message += "\r\n--=_inner_boundary\r\n"
             "Content-Type: text/html; charset=utf-8\r\n"
             "Content-Transfer-Encoding: quoted-printable\r\n"
             "\r\n<html><body>\r\n";
  for (int i = 0; i < 40; ++i)
    message += "<p>Please find the figures attached. Gr=C3=BC=C3=9Fe aus K=C3=B6ln.</p>\r\n";
  message += "</body></html>\r\n\r\n--=_inner_boundary--\r\n\r\n";
  const size_t encodedEach =
      (totalBytes - std::min(totalBytes, message.size())) / static_cast<size_t>(attachments);
  const size_t rawEach = encodedEach / 78 * 57;
  for (int a = 0; a < attachments; ++a) {
    std::string data(rawEach, '\0');
    for (char& c : data)
      c = static_cast<char>(random());
    message += "--=_outer_boundary\r\n"
               "Content-Type: application/octet-stream; name=\"data" +
               std::to_string(a) +
               ".bin\"\r\n"
               "Content-Disposition: attachment; filename=\"data" +
               std::to_string(a) +
               ".bin\"\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n";
    message += Base64Lines(data);
  }
  message += "--=_outer_boundary--\r\n";
  return message;
}

} // namespace orlendo::bench
