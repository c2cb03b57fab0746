// Opens the input as a compound file in memory, walks every storage and reads every stream.
#include <cstdint>
#include <string>
#include <vector>

#include "msg/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo::cfb;
  for (Validation validation : {Validation::Permissive, Validation::Strict}) {
    try {
      Storage root = OpenMemory(std::string(reinterpret_cast<const char*>(data), size), validation);
      std::vector<Storage> pending{root};
      size_t visited = 0;
      char buffer[4096];
      while (!pending.empty() && visited < 100000) {
        Storage storage = pending.back();
        pending.pop_back();
        ++visited;
        std::vector<EntryStat> children;
        try {
          children = storage.Children();
        } catch (const EOleError&) {
          continue;
        }
        for (const EntryStat& child : children) {
          try {
            if (child.kind == EntryKind::Storage) {
              pending.push_back(storage.OpenStorage(child.name));
            } else if (child.kind == EntryKind::Stream) {
              Stream stream = storage.OpenStream(child.name);
              while (stream.Read(buffer, sizeof buffer) > 0) {
              }
              stream.Seek(-1, SeekOrigin::End);
              stream.Read(buffer, 1);
            }
          } catch (const EOleError&) {
          }
        }
      }
      // Copying the whole file exercises the writer on whatever the reader accepted.
      if (validation == Validation::Permissive && size < (1 << 20)) {
        Storage copy = CreateMemory();
        root.CopyTo(copy);
        std::string image = MemoryImage(copy);
        OpenMemory(image, Validation::Strict).Children();
      }
    } catch (const EOleError&) {
    }
  }
  return 0;
}
