// The open compound file behind the Storage and Stream handles: the parsed allocation tables of
// its current image, and a tree of nodes (one per storage or stream) that also holds what was
// created or written since the last commit. Commit writes a new image and points every node at
// its place in it, so node ids, and with them the handles, stay valid.
#include "msg/compound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <unordered_map>
#include <utility>

#include "msg/cfb_alloc_table.h"
#include "msg/cfb_chain.h"
#include "msg/cfb_directory.h"
#include "msg/cfb_format.h"
#include "msg/cfb_header.h"
#include "msg/cfb_sector.h"
#include "msg/cfb_writer.h"

namespace orlendo::cfb {

// ---------------------------------------------------------------------------------------------
// Errors

std::string EOleError::TextForCode(uint32_t code) {
  switch (code) {
  case STG_E_INVALIDFUNCTION:
    return "Unable to perform the requested operation";
  case STG_E_FILENOTFOUND:
    return "The file or element could not be found";
  case STG_E_PATHNOTFOUND:
    return "The path could not be found";
  case STG_E_ACCESSDENIED:
    return "Access denied";
  case STG_E_INVALIDHANDLE:
    return "Attempted an operation on an invalid object";
  case STG_E_INSUFFICIENTMEMORY:
    return "There is insufficient memory available to complete the operation";
  case STG_E_INVALIDPOINTER:
    return "Invalid pointer error";
  case STG_E_WRITEFAULT:
    return "A disk error occurred during a write operation";
  case STG_E_READFAULT:
    return "A disk error occurred during a read operation";
  case STG_E_FILEALREADYEXISTS:
    return "The file already exists";
  case STG_E_INVALIDPARAMETER:
    return "Invalid parameter error";
  case STG_E_MEDIUMFULL:
    return "There is insufficient disk space to complete the operation";
  case STG_E_INVALIDHEADER:
    return "The file is not a valid compound file";
  case STG_E_INVALIDNAME:
    return "The name is not valid";
  case STG_E_UNKNOWN:
    return "An unexpected error occurred";
  case STG_E_UNIMPLEMENTEDFUNCTION:
    return "That function is not implemented";
  case STG_E_INVALIDFLAG:
    return "Invalid flag error";
  case STG_E_REVERTED:
    return "The element has been removed or replaced";
  case STG_E_CANTSAVE:
    return "The compound file could not be saved";
  case STG_E_OLDFORMAT:
    return "The compound file was produced with an incompatible version of storage";
  case STG_E_OLDDLL:
    return "The compound file was produced with a newer version of storage";
  case STG_E_SHAREREQUIRED:
    return "File sharing support is required for this operation";
  case STG_E_NOTFILEBASEDSTORAGE:
    return "The operation needs a file-based storage";
  case STG_E_EXTANTMARSHALLINGS:
    return "The operation is not allowed on an object with extant marshallings";
  case STG_E_DOCFILECORRUPT:
    return "The compound file is corrupt";
  default: {
    char buf[32];
    std::snprintf(buf, sizeof buf, "OLE error %.8x", unsigned(code));
    return buf;
  }
  }
}

EOleError::EOleError(uint32_t code, const std::string& details)
    : std::runtime_error(details.empty() ? TextForCode(code) : TextForCode(code) + ": " + details),
      code_(code) {}

void EntryName::Assign(std::u16string_view units) {
  if (units.size() > kMaxUnits) {
    throw EOleError(STG_E_INVALIDNAME,
                    std::to_string(units.size()) + " units, at most " + std::to_string(kMaxUnits));
  }
  std::char_traits<char16_t>::copy(units_, units.data(), units.size());
  size_ = uint8_t(units.size());
}

namespace {

std::string Num(uint64_t v) {
  return std::to_string(v);
}

// Names in messages, as UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

uint64_t CeilDiv(uint64_t a, uint64_t b) {
  return (a + b - 1) / b;
}

// Version 3 stores sizes up to 2 GB.
constexpr uint64_t MAX_STREAM_SIZE_V3 = 0x80000000u;

} // namespace

// ---------------------------------------------------------------------------------------------
// The open file

class CompoundFile : public std::enable_shared_from_this<CompoundFile> {
public:
  struct Node {
    EntryName name;
    EntryKind kind = EntryKind::Stream;
    std::array<uint8_t, 16> clsid{};
    uint32_t stateBits = 0;
    uint64_t creationTime = 0;
    uint64_t modificationTime = 0;
    uint32_t parent = NO_STREAM;
    bool alive = true;
    std::vector<uint32_t> children; // live and removed ones; removed ones are skipped
    // A stream's bytes are either in the image (startSector, size) or owned (data).
    bool owned = false;
    std::string data;
    // An owned stream whose bytes are made on demand instead of held in data.
    std::shared_ptr<StreamSource> source;
    uint32_t startSector = END_OF_CHAIN;
    uint64_t size = 0;
    std::optional<Extents> extents; // the image bytes, resolved once
    // Children by upper-cased name, made when a large storage is first searched, so that
    // opening each of a hundred thousand children by name is not quadratic.
    std::unique_ptr<std::unordered_map<std::u16string, uint32_t>> index;
  };

  CompoundFile(Validation validation, bool writable, std::string path)
      : validation_(validation), writable_(writable), path_(std::move(path)) {}

  ~CompoundFile() {
    // A file on disk is completed when its last handle goes, as the platform's direct mode
    // does; there is nobody left to tell of a failure.
    if (dirty_ && !path_.empty()) {
      try {
        Commit();
      } catch (...) {
      }
    }
  }

  static std::shared_ptr<CompoundFile> Open(std::shared_ptr<const FileBytes> bytes,
                                            Validation validation, bool writable) {
    auto file = std::make_shared<CompoundFile>(validation, writable, std::string());
    file->bytes_ = std::move(bytes);
    file->LoadImage();
    file->LoadDirectory();
    return file;
  }

  static std::shared_ptr<CompoundFile> Create(const std::string& path) {
    auto file = std::make_shared<CompoundFile>(Validation::Permissive, true, path);
    Node root;
    root.name = u"Root Entry";
    root.kind = EntryKind::Root;
    file->nodes_.push_back(std::move(root));
    file->dirty_ = true;
    file->Commit();
    return file;
  }

  // Handles are made and opened here: CompoundFile is their friend.
  static Storage MakeStorage(std::shared_ptr<CompoundFile> file, uint32_t id) {
    return Storage(std::move(file), id);
  }
  static CompoundFile& Of(const Storage& storage) { return *storage.file_; }

  const Node& LiveNode(uint32_t id) const {
    if (id >= nodes_.size())
      throw EOleError(STG_E_INVALIDHANDLE);
    const Node& n = nodes_[id];
    if (!n.alive)
      throw EOleError(STG_E_REVERTED, ToUtf8(n.name));
    return n;
  }
  Node& LiveNode(uint32_t id) { return const_cast<Node&>(std::as_const(*this).LiveNode(id)); }

  EntryStat Stat(uint32_t id) const {
    const Node& n = LiveNode(id);
    EntryStat s;
    s.name = n.name;
    s.kind = n.kind;
    s.size = n.kind == EntryKind::Stream ? n.size : 0;
    s.creationTime = n.creationTime;
    s.modificationTime = n.modificationTime;
    s.clsid = n.clsid;
    s.stateBits = n.stateBits;
    s.entryId = id;
    return s;
  }

  std::vector<uint32_t> SortedChildren(uint32_t id) const {
    const Node& n = LiveNode(id);
    std::vector<uint32_t> ids;
    ids.reserve(n.children.size());
    for (uint32_t c : n.children) {
      if (nodes_[c].alive)
        ids.push_back(c);
    }
    // In name order; children of equal names (only a damaged file has them) in the order
    // listed. The few children of most storages are sorted in place, without the buffer a
    // stable sort takes.
    const auto before = [&](uint32_t a, uint32_t b) {
      return CompareNames(nodes_[a].name, nodes_[b].name) < 0;
    };
    if (ids.size() <= 64) {
      for (size_t i = 1; i < ids.size(); ++i) {
        const uint32_t id = ids[i];
        size_t j = i;
        for (; j > 0 && before(id, ids[j - 1]); --j)
          ids[j] = ids[j - 1];
        ids[j] = id;
      }
    } else {
      std::stable_sort(ids.begin(), ids.end(), before);
    }
    return ids;
  }

  uint32_t Find(uint32_t parent, std::u16string_view name) {
    Node& p = LiveNode(parent);
    if (p.children.size() < 32) {
      for (uint32_t c : p.children) {
        if (nodes_[c].alive && SameName(nodes_[c].name, name))
          return c;
      }
      return NO_STREAM;
    }
    if (!p.index) {
      p.index = std::make_unique<std::unordered_map<std::u16string, uint32_t>>();
      for (uint32_t c : p.children) {
        if (nodes_[c].alive)
          p.index->emplace(UpperName(nodes_[c].name), c); // the first of equal names wins
      }
    }
    const auto it = p.index->find(UpperName(name));
    return it == p.index->end() ? NO_STREAM : it->second;
  }

  // The child that a listing of parent gave as entry, when it is still there under that name.
  uint32_t FindListed(uint32_t parent, const EntryStat& entry) {
    const uint32_t id = entry.entryId;
    if (id < nodes_.size() && id != parent && nodes_[id].alive && nodes_[id].parent == parent &&
        nodes_[id].name == entry.name)
      return id;
    return Find(parent, entry.name);
  }

  uint32_t OpenChild(uint32_t parent, std::u16string_view name, bool wantStorage) {
    return OpenFound(Find(parent, name), name, wantStorage);
  }

  uint32_t OpenListedChild(uint32_t parent, const EntryStat& entry, bool wantStorage) {
    return OpenFound(FindListed(parent, entry), entry.name, wantStorage);
  }

  uint32_t OpenFound(uint32_t id, std::u16string_view name, bool wantStorage) {
    const bool isStorage = id != NO_STREAM && nodes_[id].kind != EntryKind::Stream;
    if (id == NO_STREAM || isStorage != wantStorage) {
      throw EOleError(STG_E_FILENOTFOUND,
                      std::string(wantStorage ? "No storage named \"" : "No stream named \"") +
                          ToUtf8(name) + "\"");
    }
    if (!wantStorage)
      Resolve(id);
    return id;
  }

  // Names that come from a file are copied as they are: the characters that callers may not use
  // are a rule of the interface, not of the format, and refusing them would lose the element.
  uint32_t CreateChild(uint32_t parent, std::u16string_view name, EntryKind kind,
                       bool checkName = true) {
    RequireWritable();
    LiveNode(parent);
    if (name.size() > DIR_NAME_MAX_UNITS ||
        (checkName && (name.empty() || name.find_first_of(u"/\\:!") != std::u16string::npos))) {
      throw EOleError(STG_E_INVALIDNAME, "\"" + ToUtf8(name) + "\" (" + Num(name.size()) +
                                             " units, at most " + Num(DIR_NAME_MAX_UNITS) + ")");
    }
    const uint32_t old = Find(parent, name);
    if (old != NO_STREAM)
      Remove(old);
    Node n;
    n.name = name;
    n.kind = kind;
    n.parent = parent;
    n.owned = kind == EntryKind::Stream;
    const uint32_t id = uint32_t(nodes_.size());
    nodes_.push_back(std::move(n));
    Node& p = nodes_[parent];
    p.children.push_back(id);
    if (p.index)
      p.index->emplace(UpperName(name), id);
    dirty_ = true;
    return id;
  }

  void SetClsid(uint32_t id, const std::array<uint8_t, 16>& clsid) {
    RequireWritable();
    LiveNode(id).clsid = clsid;
    dirty_ = true;
  }

  // Copies the subtree below source (not source itself) into target, which may be in this or
  // another file. Iterative, so any depth of nesting is fine.
  void CopyChildren(uint32_t source, CompoundFile& target, uint32_t targetId) {
    if (&target == this) {
      // Copy a snapshot, so that copying into the source's own subtree, or over the source,
      // cannot feed on itself.
      auto temp = Create(std::string());
      CopyChildren(source, *temp, 0);
      temp->CopyChildren(0, target, targetId);
      return;
    }
    target.RequireWritable();
    // The storage's own class id and state bits go with its contents: they say what the
    // contents are (an OLE object's class, for example).
    const Node& top = LiveNode(source);
    Node& targetTop = target.LiveNode(targetId);
    targetTop.clsid = top.clsid;
    targetTop.stateBits = top.stateBits;
    target.dirty_ = true;
    std::vector<std::pair<uint32_t, uint32_t>> pending{{source, targetId}};
    while (!pending.empty()) {
      const auto [from, to] = pending.back();
      pending.pop_back();
      for (uint32_t c : SortedChildren(from)) {
        const Node& src = nodes_[c];
        const bool storage = src.kind != EntryKind::Stream;
        const uint32_t made = target.CreateChild(
            to, src.name, storage ? EntryKind::Storage : EntryKind::Stream, false);
        Node& dst = target.nodes_[made];
        dst.clsid = src.clsid;
        dst.stateBits = src.stateBits;
        dst.creationTime = src.creationTime;
        dst.modificationTime = src.modificationTime;
        if (storage) {
          pending.push_back({c, made});
        } else {
          Resolve(c);
          dst.data.resize(size_t(src.size));
          ReadAt(c, 0, dst.data.data(), dst.data.size());
          dst.size = src.size;
        }
      }
    }
  }

  uint64_t StreamSize(uint32_t id) const { return LiveNode(id).size; }

  size_t ReadAt(uint32_t id, uint64_t pos, void* buffer, size_t count) {
    Node& n = LiveNode(id);
    if (pos >= n.size || count == 0)
      return 0;
    const size_t wanted = size_t(std::min<uint64_t>(count, n.size - pos));
    if (n.owned) {
      if (n.source)
        n.source->Read(pos, buffer, wanted);
      else
        std::memcpy(buffer, n.data.data() + pos, wanted);
      return wanted;
    }
    const Extents& ext = Resolve(id);
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    size_t i = ext.Find(pos);
    while (done < wanted && i < ext.Count()) {
      const Extent& e = ext.At(i);
      const uint64_t within = pos + done - e.logicalStart;
      const size_t n2 = size_t(std::min<uint64_t>(e.length - within, wanted - done));
      sectors_.Read(e.fileOffset + within, out + done, n2);
      done += n2;
      ++i;
    }
    return done;
  }

  size_t WriteAt(uint32_t id, uint64_t pos, const void* buffer, size_t count) {
    RequireWritable();
    if (count == 0)
      return 0;
    if (pos > MAX_STREAM_SIZE_V3 || count > MAX_STREAM_SIZE_V3 - pos)
      TooLarge(pos + count);
    Node& n = Materialize(id);
    if (pos + count > n.data.size())
      n.data.resize(size_t(pos + count));
    std::memcpy(n.data.data() + pos, buffer, count);
    n.size = n.data.size();
    dirty_ = true;
    return count;
  }

  void SetSource(uint32_t id, std::shared_ptr<StreamSource> source) {
    RequireWritable();
    const uint64_t size = source ? source->Size() : 0;
    if (size > MAX_STREAM_SIZE_V3)
      TooLarge(size);
    Node& n = LiveNode(id);
    if (n.kind != EntryKind::Stream)
      throw EOleError(STG_E_INVALIDFUNCTION);
    n.owned = true;
    n.extents.reset();
    std::string().swap(n.data);
    n.source = std::move(source);
    n.size = size;
    dirty_ = true;
  }

  void SetSize(uint32_t id, uint64_t size) {
    RequireWritable();
    if (size > MAX_STREAM_SIZE_V3)
      TooLarge(size);
    Node& n = Materialize(id);
    n.data.resize(size_t(size));
    n.size = size;
    dirty_ = true;
  }

  void Commit() {
    if (!dirty_)
      return;
    // The live tree, root first; the writer's entry i stands for node nodeOf[i].
    std::vector<WriterEntry> entries;
    std::vector<uint32_t> nodeOf{0};
    for (size_t i = 0; i < nodeOf.size(); ++i) {
      const Node& n = nodes_[nodeOf[i]];
      WriterEntry w;
      w.name = n.name;
      w.objectType = n.kind == EntryKind::Root     ? OBJ_TYPE_ROOT
                     : n.kind == EntryKind::Stream ? OBJ_TYPE_STREAM
                                                   : OBJ_TYPE_STORAGE;
      w.clsid = n.clsid;
      w.stateBits = n.stateBits;
      w.creationTime = n.creationTime;
      w.modificationTime = n.modificationTime;
      w.size = n.kind == EntryKind::Stream ? n.size : 0;
      if (n.kind != EntryKind::Stream) {
        for (uint32_t c : n.children) {
          if (!nodes_[c].alive)
            continue;
          w.children.push_back(uint32_t(nodeOf.size()));
          nodeOf.push_back(c);
        }
      }
      entries.push_back(std::move(w));
    }
    const StreamReader read = [&](uint32_t entry, uint64_t offset, uint8_t* dst, size_t count) {
      ReadAt(nodeOf[entry], offset, dst, count);
    };
    std::vector<uint32_t> startSector;
    if (!path_.empty()) {
      // Straight to the disk, a piece at a time: the image of a large message is never held
      // whole. Written as a new file that then takes the name, so that the image read so far
      // (which may be that file, mapped) stays readable while the new one is written.
      DiskFile file(path_);
      startSector = WriteImageTo(entries, read,
                                 [&](const uint8_t* data, size_t size) { file.Write(data, size); });
      file.Complete();
      bytes_ = FileBytes::MapFile(path_);
    } else {
      std::string image;
      startSector = WriteImageTo(entries, read, [&](const uint8_t* data, size_t size) {
        image.append(reinterpret_cast<const char*>(data), size);
      });
      bytes_ = FileBytes::Own(std::move(image));
    }
    LoadImage();
    for (size_t i = 0; i < nodeOf.size(); ++i) {
      Node& n = nodes_[nodeOf[i]];
      if (n.kind != EntryKind::Stream)
        continue;
      n.owned = false;
      std::string().swap(n.data);
      n.source.reset();
      n.startSector = startSector[i];
      n.extents.reset();
    }
    dirty_ = false;
  }

  std::string Image() {
    Commit();
    return std::string(reinterpret_cast<const char*>(bytes_->Data()), size_t(bytes_->Size()));
  }

private:
  // Reads the header and the FAT of the current image, and forgets the mini stream.
  void LoadImage() {
    header_ = ParseHeader(bytes_->Data(), bytes_->Size(), validation_);
    sectors_ = Sectors(bytes_, header_.sectorShift, validation_);
    fat_ = LoadFat(header_, sectors_, validation_);
    fatGuard_.Resize(fat_.entries.size());
    miniLoaded_ = false;
    miniError_.reset();
    miniFat_.clear();
    miniStream_ = Extents();
    miniSectors_ = 0;
    // The root entry holds where the mini stream is; read it again, it moves with each commit.
    const std::vector<uint32_t> dirChain = FollowChain(fat_.entries, header_.firstDirSector, 1,
                                                       sectors_.Count(), fatGuard_, FAT_CHAIN);
    if (dirChain.empty()) {
      throw EOleError(STG_E_DOCFILECORRUPT,
                      "The directory is empty: it starts at " + HexString(header_.firstDirSector));
    }
    uint8_t raw[DIR_ENTRY_LEN];
    sectors_.Read(sectors_.Offset(dirChain[0]), raw, DIR_ENTRY_LEN);
    const DirEntry root = ParseDirEntry(raw, 0, header_.majorVersion, validation_);
    miniStreamStart_ = root.startSector;
    miniStreamSize_ = root.streamSize;
  }

  void LoadDirectory() {
    const std::vector<uint32_t> chain = FollowChain(
        fat_.entries, header_.firstDirSector, UINT64_MAX, sectors_.Count(), fatGuard_, FAT_CHAIN);
    const uint32_t perSector = sectors_.SectorLen() / DIR_ENTRY_LEN;
    // Each entry is read straight into its place in the list.
    std::vector<DirEntry> entries(chain.size() * perSector);
    std::vector<uint8_t> buf(sectors_.SectorLen());
    uint32_t index = 0;
    for (uint32_t s : chain) {
      sectors_.Read(sectors_.Offset(s), buf.data(), buf.size());
      for (uint32_t i = 0; i < perSector; ++i, ++index) {
        ParseDirEntry(&buf[i * DIR_ENTRY_LEN], index, header_.majorVersion, validation_,
                      entries[index]);
      }
    }
    const uint8_t rootType = entries[0].objectType;
    if (rootType != OBJ_TYPE_ROOT &&
        !(rootType == OBJ_TYPE_STORAGE && validation_ == Validation::Permissive)) {
      throw EOleError(STG_E_DOCFILECORRUPT, "Directory entry 0 has type " + Num(rootType) +
                                                " (expected the root, " + Num(OBJ_TYPE_ROOT) + ")");
    }
    std::vector<std::vector<uint32_t>> children = CollectChildren(entries, validation_);
    nodes_.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      DirEntry& e = entries[i];
      Node& n = nodes_[i];
      n.name = std::move(e.name);
      n.kind = i == 0                            ? EntryKind::Root
               : e.objectType == OBJ_TYPE_STREAM ? EntryKind::Stream
                                                 : EntryKind::Storage;
      n.clsid = e.clsid;
      n.stateBits = e.stateBits;
      n.creationTime = e.creationTime;
      n.modificationTime = e.modificationTime;
      n.startSector = e.startSector;
      n.size = n.kind == EntryKind::Stream ? e.streamSize : 0;
      n.children = std::move(children[i]);
      n.alive = false;
    }
    // Only what the tree reaches is part of the file.
    nodes_[0].alive = true;
    std::vector<uint32_t> pending;
    pending.reserve(nodes_.size());
    pending.push_back(0);
    while (!pending.empty()) {
      const uint32_t id = pending.back();
      pending.pop_back();
      for (uint32_t c : nodes_[id].children) {
        nodes_[c].alive = true;
        nodes_[c].parent = id;
        pending.push_back(c);
      }
    }
  }

  // The mini FAT and the mini stream, read at the first small stream. A failure here makes
  // every small stream unreadable, but leaves the rest of the file readable.
  void LoadMini() {
    if (miniLoaded_) {
      if (miniError_)
        throw *miniError_;
      return;
    }
    miniLoaded_ = true;
    try {
      miniFat_ = LoadMiniFat(header_, sectors_, fat_, fatGuard_, validation_);
      miniGuard_.Resize(miniFat_.size());
      const bool strict = validation_ == Validation::Strict;
      const uint32_t sectorLen = sectors_.SectorLen();
      uint64_t maxSectors = UINT64_MAX;
      if (strict)
        maxSectors = CeilDiv(miniStreamSize_, sectorLen);
      std::vector<uint32_t> chain;
      if (miniStreamStart_ != END_OF_CHAIN || strict) {
        chain = FollowChain(fat_.entries, miniStreamStart_, maxSectors, sectors_.Count(), fatGuard_,
                            FAT_CHAIN);
      }
      const uint64_t chainBytes = uint64_t(chain.size()) * sectorLen;
      if (strict && chainBytes < miniStreamSize_) {
        throw EOleError(STG_E_DOCFILECORRUPT, "Mini stream of " + Num(miniStreamSize_) +
                                                  " bytes needs " + Num(maxSectors) +
                                                  " sectors, but its chain ends after " +
                                                  Num(chain.size()));
      }
      for (uint32_t s : chain)
        miniStream_.Append(sectors_.Offset(s), sectorLen);
      // Permissive: the chain, not the root's size, says how long the mini stream is.
      const uint64_t usable = strict ? miniStreamSize_ : chainBytes;
      miniSectors_ = uint32_t(std::min<uint64_t>(usable / MINI_SECTOR_LEN, MAX_REGULAR_SECTOR));
    } catch (const EOleError& e) {
      miniError_ = e;
      throw;
    }
  }

  // The extents of a stream in the image, found once. Raises EOleError for a damaged stream.
  const Extents& Resolve(uint32_t id) {
    Node& n = LiveNode(id);
    if (n.owned) {
      static const Extents none;
      return none;
    }
    if (n.extents)
      return *n.extents;
    Extents resolved;
    const uint64_t size = n.size;
    if (size >= MINI_STREAM_CUTOFF) {
      if (size > sectors_.FileSize()) {
        throw EOleError(STG_E_DOCFILECORRUPT, "Stream \"" + ToUtf8(n.name) + "\" claims " +
                                                  Num(size) + " bytes, but the file has only " +
                                                  Num(sectors_.FileSize()) + " bytes");
      }
      const uint32_t len = sectors_.SectorLen();
      const uint64_t need = CeilDiv(size, len);
      // Straight into the runs: contiguous sectors merge as they come.
      uint64_t left = size;
      const uint64_t found = WalkChain(fat_.entries, n.startSector, need, sectors_.Count(),
                                       fatGuard_, FAT_CHAIN, [&](uint32_t sector) {
                                         const uint64_t part = std::min<uint64_t>(len, left);
                                         resolved.Append(sectors_.Offset(sector), part);
                                         left -= part;
                                       });
      if (found < need) {
        throw EOleError(STG_E_DOCFILECORRUPT,
                        "Stream \"" + ToUtf8(n.name) + "\" of " + Num(size) + " bytes needs " +
                            Num(need) + " sectors, but its chain ends after " + Num(found));
      }
    } else if (size > 0) {
      LoadMini();
      const uint64_t need = CeilDiv(size, MINI_SECTOR_LEN);
      uint64_t left = size;
      const uint64_t found =
          WalkChain(miniFat_, n.startSector, need, miniSectors_, miniGuard_, MINI_FAT_CHAIN,
                    [&](uint32_t sector) {
                      // Mini sectors never straddle two sectors: both sizes are powers of two.
                      const uint64_t at =
                          miniStream_.FileOffset(uint64_t(sector) * MINI_SECTOR_LEN, nullptr);
                      const uint64_t part = std::min<uint64_t>(MINI_SECTOR_LEN, left);
                      resolved.Append(at, part);
                      left -= part;
                    });
      if (found < need) {
        throw EOleError(STG_E_DOCFILECORRUPT,
                        "Stream \"" + ToUtf8(n.name) + "\" of " + Num(size) + " bytes needs " +
                            Num(need) + " mini sectors, but its chain ends after " + Num(found));
      }
    }
    return n.extents.emplace(std::move(resolved));
  }

  // Gives the stream its own copy of its bytes, so that it can be changed.
  Node& Materialize(uint32_t id) {
    Node& n = LiveNode(id);
    if (n.kind != EntryKind::Stream)
      throw EOleError(STG_E_INVALIDFUNCTION);
    if (n.source) {
      std::string data(size_t(n.size), '\0');
      ReadAt(id, 0, data.data(), data.size());
      n.source.reset();
      n.data = std::move(data);
    }
    if (!n.owned) {
      std::string data(size_t(n.size), '\0');
      ReadAt(id, 0, data.data(), data.size());
      n.data = std::move(data);
      n.owned = true;
      n.extents.reset();
    }
    return n;
  }

  // Takes an element and everything below it out of the tree.
  void Remove(uint32_t id) {
    Node& n = nodes_[id];
    auto& siblings = nodes_[n.parent].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
    nodes_[n.parent].index.reset(); // made again when next needed
    std::vector<uint32_t> pending{id};
    while (!pending.empty()) {
      Node& r = nodes_[pending.back()];
      pending.pop_back();
      r.alive = false;
      std::string().swap(r.data);
      r.extents.reset();
      r.index.reset();
      for (uint32_t c : r.children) {
        if (nodes_[c].alive)
          pending.push_back(c);
      }
      std::vector<uint32_t>().swap(r.children);
    }
    dirty_ = true;
  }

  void RequireWritable() const {
    if (!writable_)
      throw EOleError(STG_E_ACCESSDENIED, "The compound file is open read-only");
  }

  [[noreturn]] static void TooLarge(uint64_t size) {
    throw EOleError(STG_E_MEDIUMFULL, "A stream of " + Num(size) +
                                          " bytes is larger than version 3 stores (" +
                                          Num(MAX_STREAM_SIZE_V3) + ")");
  }

  // A new file beside path that replaces it when complete.
  class DiskFile {
  public:
    explicit DiskFile(const std::string& path) : path_(path), temp_(path + ".XXXXXX") {
      fd_ = ::mkstemp(temp_.data());
      if (fd_ < 0) {
        const int err = errno;
        throw EOleError(err == ENOENT || err == ENOTDIR ? STG_E_PATHNOTFOUND
                        : err == EACCES || err == EPERM || err == EISDIR || err == EROFS
                            ? STG_E_ACCESSDENIED
                            : STG_E_WRITEFAULT,
                        path_);
      }
      // The mode of any new file, as creating it under its name would give it.
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(fd_, 0666 & ~mask);
    }
    ~DiskFile() {
      if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.c_str());
      }
    }
    void Write(const uint8_t* data, size_t size) {
      size_t done = 0;
      while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0) {
          if (errno == EINTR)
            continue;
          const int err = errno;
          throw EOleError(err == ENOSPC || err == EDQUOT ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT,
                          path_);
        }
        done += size_t(n);
      }
    }
    void Complete() {
      const int fd = fd_;
      fd_ = -1;
      if (::close(fd) != 0 || ::rename(temp_.c_str(), path_.c_str()) != 0) {
        ::unlink(temp_.c_str());
        throw EOleError(STG_E_WRITEFAULT, path_);
      }
    }

  private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
  };

  Validation validation_;
  bool writable_;
  std::string path_; // the file on disk that commits write; empty for files in memory
  bool dirty_ = false;
  std::shared_ptr<const FileBytes> bytes_;
  Header header_;
  Sectors sectors_;
  Fat fat_;
  LoopGuard fatGuard_;
  uint32_t miniStreamStart_ = END_OF_CHAIN;
  uint64_t miniStreamSize_ = 0;
  bool miniLoaded_ = false;
  std::optional<EOleError> miniError_;
  std::vector<uint32_t> miniFat_;
  LoopGuard miniGuard_;
  Extents miniStream_;
  uint32_t miniSectors_ = 0; // mini sectors that the mini stream holds
  std::vector<Node> nodes_;
};

// ---------------------------------------------------------------------------------------------
// Handles

namespace {

template <typename Handle> void RequireValid(const Handle& h) {
  if (!h.IsValid())
    throw EOleError(STG_E_INVALIDHANDLE);
}

} // namespace

EntryStat Storage::Stat() const {
  RequireValid(*this);
  return file_->Stat(id_);
}

std::vector<EntryStat> Storage::Children() const {
  RequireValid(*this);
  std::vector<EntryStat> out;
  const std::vector<uint32_t> ids = file_->SortedChildren(id_);
  out.reserve(ids.size());
  for (uint32_t c : ids)
    out.push_back(file_->Stat(c));
  return out;
}

Storage Storage::OpenStorage(std::u16string_view name) const {
  RequireValid(*this);
  return Storage(file_, file_->OpenChild(id_, name, true));
}

Stream Storage::OpenStream(std::u16string_view name) const {
  RequireValid(*this);
  return Stream(file_, file_->OpenChild(id_, name, false));
}

Storage Storage::OpenStorage(const EntryStat& child) const {
  RequireValid(*this);
  return Storage(file_, file_->OpenListedChild(id_, child, true));
}

Stream Storage::OpenStream(const EntryStat& child) const {
  RequireValid(*this);
  return Stream(file_, file_->OpenListedChild(id_, child, false));
}

bool Storage::Exists(std::u16string_view name) const {
  RequireValid(*this);
  return file_->Find(id_, name) != NO_STREAM;
}

Storage Storage::CreateStorage(std::u16string_view name) {
  RequireValid(*this);
  return Storage(file_, file_->CreateChild(id_, name, EntryKind::Storage));
}

Stream Storage::CreateStream(std::u16string_view name) {
  RequireValid(*this);
  return Stream(file_, file_->CreateChild(id_, name, EntryKind::Stream));
}

void Storage::CopyTo(Storage& target) const {
  RequireValid(*this);
  RequireValid(target);
  file_->CopyChildren(id_, *target.file_, target.id_);
}

void Storage::SetClsid(const std::array<uint8_t, 16>& clsid) {
  RequireValid(*this);
  file_->SetClsid(id_, clsid);
}

uint64_t Stream::Size() const {
  RequireValid(*this);
  return file_->StreamSize(id_);
}

size_t Stream::Read(void* buffer, size_t count) {
  RequireValid(*this);
  const size_t n = file_->ReadAt(id_, pos_, buffer, count);
  pos_ += n;
  return n;
}

std::string Stream::ReadAll() {
  RequireValid(*this);
  std::string out(size_t(file_->StreamSize(id_)), '\0');
  out.resize(file_->ReadAt(id_, 0, out.data(), out.size()));
  return out;
}

size_t Stream::Write(const void* buffer, size_t count) {
  RequireValid(*this);
  const size_t n = file_->WriteAt(id_, pos_, buffer, count);
  pos_ += n;
  return n;
}

void Stream::SetSize(uint64_t size) {
  RequireValid(*this);
  file_->SetSize(id_, size);
}

void Stream::SetSource(std::shared_ptr<StreamSource> source) {
  RequireValid(*this);
  file_->SetSource(id_, std::move(source));
}

uint64_t Stream::Seek(int64_t offset, SeekOrigin origin) {
  RequireValid(*this);
  int64_t base = 0;
  switch (origin) {
  case SeekOrigin::Begin:
    base = 0;
    break;
  case SeekOrigin::Current:
    base = int64_t(pos_);
    break;
  case SeekOrigin::End:
    base = int64_t(file_->StreamSize(id_));
    break;
  }
  if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset)) {
    throw EOleError(STG_E_INVALIDFUNCTION,
                    "Seek to " + std::to_string(base) + " + " + std::to_string(offset));
  }
  pos_ = uint64_t(base + offset);
  return pos_;
}

// ---------------------------------------------------------------------------------------------
// Opening and creating

bool IsCompoundFile(const void* data, size_t size) {
  try {
    ParseHeader(static_cast<const uint8_t*>(data), size, Validation::Permissive);
    return true;
  } catch (const EOleError&) {
    return false;
  }
}

bool IsCompoundFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  char buf[HEADER_LEN];
  in.read(buf, sizeof buf);
  return IsCompoundFile(buf, size_t(in.gcount()));
}

Storage OpenFile(const std::string& path, Validation validation) {
  return CompoundFile::MakeStorage(CompoundFile::Open(FileBytes::MapFile(path), validation, false),
                                   0);
}

Storage OpenMemory(std::string bytes, Validation validation) {
  return CompoundFile::MakeStorage(
      CompoundFile::Open(FileBytes::Own(std::move(bytes)), validation, true), 0);
}

Storage CreateFile(const std::string& path) {
  if (path.empty())
    throw EOleError(STG_E_INVALIDNAME, "Empty path");
  return CompoundFile::MakeStorage(CompoundFile::Create(path), 0);
}

Storage CreateMemory() {
  return CompoundFile::MakeStorage(CompoundFile::Create(std::string()), 0);
}

void Commit(const Storage& anyStorageOfTheFile) {
  RequireValid(anyStorageOfTheFile);
  CompoundFile::Of(anyStorageOfTheFile).Commit();
}

std::string MemoryImage(const Storage& anyStorageOfTheFile) {
  RequireValid(anyStorageOfTheFile);
  return CompoundFile::Of(anyStorageOfTheFile).Image();
}

} // namespace orlendo::cfb
