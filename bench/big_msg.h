// A .msg-shaped compound file with one large attachment, for the compound-file benchmarks:
// the usual storages and property streams of a message with one recipient and one attachment
// whose data stream holds attachmentBytes bytes. Shared by bench_generate_bigmsg (which writes
// it where it is told) and orlendo_bench (which makes it in /tmp when it is missing).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "msg/compound_file.h"

namespace orlendo::bench {

inline void WriteBytes(cfb::Storage& parent, const std::u16string& name, const std::string& data) {
  cfb::Stream s = parent.CreateStream(name);
  s.Write(data.data(), data.size());
}

inline std::string Utf16(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += char(c & 0xFF);
    out += char(c >> 8);
  }
  return out + std::string(2, '\0');
}

inline void GenerateBigMsg(const std::string& path, uint64_t attachmentBytes) {
  cfb::Storage root = cfb::CreateFile(path);
  cfb::Storage nameid = root.CreateStorage(u"__nameid_version1.0");
  WriteBytes(nameid, u"__substg1.0_00020102", std::string(16, '\x11'));
  WriteBytes(nameid, u"__substg1.0_00030102", std::string(8, '\x22'));
  WriteBytes(nameid, u"__substg1.0_00040102", std::string());
  WriteBytes(root, u"__substg1.0_001A001F", Utf16(u"IPM.Note"));
  WriteBytes(root, u"__substg1.0_0037001F", Utf16(u"A message with a large attachment"));
  WriteBytes(root, u"__substg1.0_1000001F", Utf16(u"See the attached file."));
  WriteBytes(root, u"__properties_version1.0", std::string(32 + 3 * 16, '\0'));
  cfb::Storage recip = root.CreateStorage(u"__recip_version1.0_#00000000");
  WriteBytes(recip, u"__substg1.0_3001001F", Utf16(u"Recipient"));
  WriteBytes(recip, u"__properties_version1.0", std::string(8 + 16, '\0'));
  cfb::Storage attach = root.CreateStorage(u"__attach_version1.0_#00000000");
  WriteBytes(attach, u"__substg1.0_3707001F", Utf16(u"large.bin"));
  WriteBytes(attach, u"__properties_version1.0", std::string(8 + 2 * 16, '\0'));
  cfb::Stream data = attach.CreateStream(u"__substg1.0_37010102");
  std::string chunk(1 << 20, '\0');
  uint32_t x = 2463534242u;
  for (uint64_t done = 0; done < attachmentBytes;) {
    for (size_t i = 0; i < chunk.size(); i += 4) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      std::memcpy(&chunk[i], &x, 4);
    }
    const size_t n = size_t(std::min<uint64_t>(chunk.size(), attachmentBytes - done));
    data.Write(chunk.data(), n);
    done += n;
  }
  cfb::Commit(root);
}

} // namespace orlendo::bench
