#include "testutil/cfb_tree.h"

#include <cstdio>

#include "testutil/sha256.h"

namespace orlendo::testutil {

using namespace orlendo::cfb;

std::string NameKey(std::u16string_view name) {
  std::string out;
  char buf[8];
  for (char16_t c : name) {
    std::snprintf(buf, sizeof buf, "%02x%02x", unsigned(c & 0xFF), unsigned(c >> 8));
    out += buf;
  }
  return out;
}

std::string ClsidText(const std::array<uint8_t, 16>& c) {
  bool zero = true;
  for (uint8_t b : c)
    zero = zero && b == 0;
  if (zero)
    return "";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                unsigned(c[0] | c[1] << 8 | c[2] << 16 | unsigned(c[3]) << 24),
                unsigned(c[4] | c[5] << 8), unsigned(c[6] | c[7] << 8), c[8], c[9], c[10], c[11],
                c[12], c[13], c[14], c[15]);
  return buf;
}

std::vector<std::string> DumpCompoundTree(const Storage& root) {
  std::vector<std::string> lines;
  // Depth first without recursion: the trees under test may be nested thousands deep.
  struct Frame {
    Storage storage;
    std::string prefix;
    std::vector<EntryStat> children;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  stack.push_back({root, "", root.Children()});
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next == f.children.size()) {
      stack.pop_back();
      continue;
    }
    const EntryStat e = f.children[f.next++];
    const std::string path = f.prefix.empty() ? NameKey(e.name) : f.prefix + "/" + NameKey(e.name);
    if (e.kind == EntryKind::Stream) {
      std::string line = path + " S " + std::to_string(e.size) + " ";
      try {
        Stream s = f.storage.OpenStream(e.name);
        line += Sha256Hex(s.ReadAll());
      } catch (const EOleError& err) {
        char code[16];
        std::snprintf(code, sizeof code, "%08x", unsigned(err.Code()));
        line += std::string("error ") + code;
      }
      lines.push_back(line);
    } else {
      lines.push_back(path + " D " + ClsidText(e.clsid));
      Storage sub = f.storage.OpenStorage(e.name);
      std::vector<EntryStat> children = sub.Children();
      stack.push_back({std::move(sub), path, std::move(children)}); // f is stale from here
    }
  }
  return lines;
}

const char* const kOlefileTreeScript = R"PY(
import hashlib, sys
import olefile

def key(name):
    return name.encode('utf-16-le').hex()

def order(entry):
    return (len(entry.name.encode('utf-16-le')), entry.name.upper())

for path in sys.argv[1:]:
    print('FILE', path)
    if not olefile.isOleFile(path):
        print('NOTOLE')
        continue
    ole = olefile.OleFileIO(path)
    try:
        strict = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    except Exception:
        strict = None
    # olefile links an entry wherever the directory points to it, even back up the tree; like
    # our reader, list each entry only where it is first reached, and stop at a sane size.
    seen = {ole.root.sid}
    lines = 0
    stack = [[ole.root, [], [], sorted(ole.root.kids, key=order), 0]]
    while stack:
        frame = stack[-1]
        entry, names, keys, kids, nxt = frame
        if nxt == len(kids):
            stack.pop()
            continue
        frame[4] += 1
        kid = kids[nxt]
        # Entries of other types (unused ones, in damaged files) are no elements: olefile's own
        # listdir leaves them out too.
        if kid.sid in seen or kid.entry_type not in (olefile.STGTY_STORAGE, olefile.STGTY_STREAM):
            continue
        seen.add(kid.sid)
        lines += 1
        if lines > 1000000:
            sys.exit('more than a million entries in ' + path)
        p = names + [kid.name]
        k = '/'.join(keys + [key(kid.name)])
        if kid.entry_type == olefile.STGTY_STREAM:
            data = ole.openstream(p).read()
            line = '%s S %d %s' % (k, kid.size, hashlib.sha256(data).hexdigest())
            try:
                strict.openstream(p).read()
            except Exception:
                line += ' defect'
            print(line)
        else:
            print('%s D %s' % (k, kid.clsid))
            stack.append([kid, p, keys + [key(kid.name)], sorted(kid.kids, key=order), 0])
)PY";

} // namespace orlendo::testutil
