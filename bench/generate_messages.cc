// Makes the large inputs of the benchmarks, the same bytes on every run:
//   big_attachment.msg   one 100 MB attachment
//   many_recipients.msg  2 000 recipients and 200 small attachments
//   big.eml              a 20 MB Internet message with base64 attachments
//   one_line.eml         20 MB without a line end: one Subject header of 20 MB
// Usage: bench_generate_messages FOLDER
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "../tools/message_builder.h"
#include "msg/msg_writer.h"
#include "text/base64.h"

namespace {

using namespace orlendo;
using namespace orlendo::tools;

// Deterministic bytes that do not compress (xorshift64*).
std::string PseudoRandomBytes(size_t size, uint64_t seed) {
  std::string out(size, '\0');
  uint64_t x = seed | 1;
  for (size_t i = 0; i < size; i += 8) {
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    const uint64_t v = x * 0x2545F4914F6CDD1DULL;
    for (size_t k = 0; k < 8 && i + k < size; ++k)
      out[i + k] = static_cast<char>(v >> (8 * k));
  }
  return out;
}

void CommonHeader(LevelBuilder& m, const std::string& subject, int recipients) {
  m.Text(0x001A, "IPM.Note");
  m.Text(0x0037, subject);
  m.Text(0x0070, subject);
  m.Text(0x0C1A, "Bench Sender");
  m.Text(0x0C1F, "sender@example.org");
  m.Text(0x0042, "Bench Sender");
  m.Text(0x0065, "sender@example.org");
  std::string to;
  for (int i = 0; i < recipients && i < 50; ++i)
    to += (i ? "; " : "") + std::string("Recipient ") + std::to_string(i);
  m.Text(0x0E04, to);
  m.Text(0x1000, "A message made for benchmarks.\r\n");
  m.Long(0x0017, 1);
  m.Long(0x3FFD, 65001);
  m.Time(0x0039, 1796983200);
}

void BigAttachment(const std::string& path) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  LevelBuilder m = BeginMessage<TMSGPropertyTopLevel>(root, 1, 1);
  CommonHeader(m, "One 100 MB attachment", 1);
  AddRecipient(root, 0, "Recipient 0", "r0@example.org", 1);
  AddFileAttachment(root, 0, "data.bin", "application/octet-stream",
                    PseudoRandomBytes(100u << 20, 42));
  AddEmptyNameMap(root);
  SaveToMSG(root, path, true);
}

void ManyRecipients(const std::string& path) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  LevelBuilder m = BeginMessage<TMSGPropertyTopLevel>(root, 2000, 200);
  CommonHeader(m, "2000 recipients and 200 attachments", 2000);
  for (uint32_t i = 0; i < 2000; ++i)
    AddRecipient(root, i, "Recipient " + std::to_string(i),
                 "r" + std::to_string(i) + "@example.org", i % 10 == 9 ? 2 : 1);
  for (uint32_t i = 0; i < 200; ++i)
    AddFileAttachment(root, i, "file" + std::to_string(i) + ".bin", "application/octet-stream",
                      PseudoRandomBytes(2000 + 37 * i, i + 1));
  AddEmptyNameMap(root);
  SaveToMSG(root, path, true);
}

void BigEml(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "From: Bench Sender <sender@example.org>\r\n"
         "To: Recipient <r0@example.org>\r\n"
         "Subject: =?utf-8?B?MjAgTUIgd2l0aCBhdHRhY2htZW50cyDigJMgYmVuY2g=?=\r\n"
         "Date: Fri, 11 Dec 2026 10:00:00 +0000\r\n"
         "Message-ID: <bench-eml@example.org>\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"=_bench_boundary\"\r\n\r\n"
         "This is a multi-part message in MIME format.\r\n\r\n"
         "--=_bench_boundary\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
         "A message made for benchmarks: four attachments of about 3.6 MB each.=\r\n\r\n";
  for (int i = 0; i < 4; ++i) {
    const std::string encoded = EncodeBase64(PseudoRandomBytes(3700000, 100 + i));
    out << "--=_bench_boundary\r\n"
        << "Content-Type: application/octet-stream; name=\"part" << i << ".bin\"\r\n"
        << "Content-Transfer-Encoding: base64\r\n"
        << "Content-Disposition: attachment; filename=\"part" << i << ".bin\"\r\n\r\n";
    // Lines of 76 characters, as mail programs write them.
    std::string clean;
    clean.reserve(encoded.size());
    for (char c : encoded)
      if (c != '\r' && c != '\n')
        clean += c;
    for (size_t at = 0; at < clean.size(); at += 76)
      out << clean.substr(at, 76) << "\r\n";
  }
  out << "--=_bench_boundary--\r\n";
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

void OneLine(const std::string& path) {
  std::string text = "Subject: ";
  const std::string words = "one line of twenty megabytes without a line end ";
  while (text.size() < (20u << 20))
    text += words;
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  try {
    BigAttachment(folder + "/big_attachment.msg");
    ManyRecipients(folder + "/many_recipients.msg");
    BigEml(folder + "/big.eml");
    OneLine(folder + "/one_line.eml");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
