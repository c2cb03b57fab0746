// The generated Outlook messages of the batch benchmarks: message i has a few recipients, a body
// of 31 lines and, on every tenth, a 20 KB attachment; the same bytes on every run. Shared by
// orlendo_bench (BM_ConvertGenerated) and bench_generate_batch (for compare.sh and the peers).
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "../tools/message_builder.h"
#include "msg/msg_writer.h"
#include "noisy_bytes.h"

namespace orlendo::bench {

inline void WriteGeneratedMessage(const std::string& path, int i) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  const uint32_t attachments = i % 10 == 0 ? 1 : 0;
  tools::LevelBuilder m = tools::BeginMessage<TMSGPropertyTopLevel>(root, 3, attachments);
  const std::string subject = "Generated message " + std::to_string(i);
  m.Text(0x001A, "IPM.Note");
  m.Text(0x0037, subject);
  m.Text(0x0070, subject);
  m.Text(0x0C1A, "Bench Sender");
  m.Text(0x0C1F, "sender@example.org");
  m.Text(0x0042, "Bench Sender");
  m.Text(0x0065, "sender@example.org");
  m.Text(0x0E04, "Recipient 0; Recipient 1");
  std::string body;
  for (int line = 0; line < 30; ++line)
    body += "Line " + std::to_string(line) + " of a message made for the batch benchmark.\r\n";
  body += "From the archive, the end.\r\n";
  m.Text(0x1000, body);
  m.Long(0x0017, 1);
  m.Long(0x0E07, i % 3 ? 1 : 0);
  m.Long(0x3FFD, 65001);
  m.Time(0x0039, 1796983200 + i * 60);
  tools::AddRecipient(root, 0, "Recipient 0", "r0@example.org", 1);
  tools::AddRecipient(root, 1, "Recipient 1", "r1@example.org", 1);
  tools::AddRecipient(root, 2, "Recipient 2", "r2@example.org", 2);
  if (attachments)
    tools::AddFileAttachment(root, 0, "data.bin", "application/octet-stream",
                             NoisyBytes(20000, static_cast<uint64_t>(i) + 1));
  tools::AddEmptyNameMap(root);
  SaveToMSG(root, path, true);
}

// count messages in folder, a hundred to a subfolder (000/m0.msg ... 099/m9999.msg), made once:
// a folder marked complete for at least count messages is left as it is.
inline void MakeGeneratedFolder(const std::string& folder, int count) {
  namespace fs = std::filesystem;
  const std::string done = folder + "/.complete";
  int made = 0;
  if (std::ifstream in(done); in >> made && made >= count)
    return;
  fs::create_directories(folder);
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/%03d", i / 100);
    fs::create_directories(folder + name);
    WriteGeneratedMessage(folder + name + "/m" + std::to_string(i) + ".msg", i);
  }
  std::ofstream(done) << count << "\n";
}

} // namespace orlendo::bench
