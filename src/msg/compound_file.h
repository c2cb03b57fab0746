// Public face of our compound-file (structured storage) reader and writer.
//
// A compound file is a tree of storages and streams inside one file. Everything below works the
// same over a file on disk or over a byte buffer in memory. Storage and Stream are cheap handles
// that share the open file; the file stays open while any handle to it is alive.
//
// Failures raise EOleError, which carries an STG_E_* code and a message that names the numbers
// involved. A damaged file never crashes the reader, never makes it loop or recurse without
// bound, and never makes it allocate far beyond the file's own size.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orlendo::cfb {

// HRESULT codes of structured storage.
inline constexpr uint32_t STG_E_INVALIDFUNCTION = 0x80030001;
inline constexpr uint32_t STG_E_FILENOTFOUND = 0x80030002;
inline constexpr uint32_t STG_E_PATHNOTFOUND = 0x80030003;
inline constexpr uint32_t STG_E_ACCESSDENIED = 0x80030005;
inline constexpr uint32_t STG_E_INVALIDHANDLE = 0x80030006;
inline constexpr uint32_t STG_E_INSUFFICIENTMEMORY = 0x80030008;
inline constexpr uint32_t STG_E_INVALIDPOINTER = 0x80030009;
inline constexpr uint32_t STG_E_WRITEFAULT = 0x8003001D;
inline constexpr uint32_t STG_E_READFAULT = 0x8003001E;
inline constexpr uint32_t STG_E_FILEALREADYEXISTS = 0x80030050;
inline constexpr uint32_t STG_E_INVALIDPARAMETER = 0x80030057;
inline constexpr uint32_t STG_E_MEDIUMFULL = 0x80030070;
inline constexpr uint32_t STG_E_INVALIDHEADER = 0x800300FB;
inline constexpr uint32_t STG_E_INVALIDNAME = 0x800300FC;
inline constexpr uint32_t STG_E_UNKNOWN = 0x800300FD;
inline constexpr uint32_t STG_E_UNIMPLEMENTEDFUNCTION = 0x800300FE;
inline constexpr uint32_t STG_E_INVALIDFLAG = 0x800300FF;
inline constexpr uint32_t STG_E_REVERTED = 0x80030102;
inline constexpr uint32_t STG_E_CANTSAVE = 0x80030103;
inline constexpr uint32_t STG_E_OLDFORMAT = 0x80030104;
inline constexpr uint32_t STG_E_OLDDLL = 0x80030105;
inline constexpr uint32_t STG_E_SHAREREQUIRED = 0x80030106;
inline constexpr uint32_t STG_E_NOTFILEBASEDSTORAGE = 0x80030107;
inline constexpr uint32_t STG_E_EXTANTMARSHALLINGS = 0x80030108;
inline constexpr uint32_t STG_E_DOCFILECORRUPT = 0x80030109;

// The platform error exception of the compound-file layer. what() is the message: our own text
// for a known code (with details when there are any), or "OLE error %.8x" for an unknown code.
class EOleError : public std::runtime_error {
public:
  EOleError(uint32_t code, const std::string& details = std::string());
  uint32_t Code() const { return code_; }

  // The text for a code alone: our message for the known STG_E_* codes, "OLE error %.8x" else.
  static std::string TextForCode(uint32_t code);

private:
  uint32_t code_;
};

// How strictly a file is checked when opened. Permissive makes the repairs that are safe (as
// other readers do: a wrong mini-stream size, a directory entry of unknown colour, stale sizes
// in version 3 headers, a truncated last sector); Strict refuses them with an error.
enum class Validation { Permissive, Strict };

enum class EntryKind : uint8_t { Storage = 1, Stream = 2, LockBytes = 3, Property = 4, Root = 5 };

// The name of an element, held in place: the format allows at most 31 UTF-16 units, so a
// directory of many entries, and every listing of it, costs no allocation per name.
class EntryName {
public:
  static constexpr size_t kMaxUnits = 31;

  EntryName() = default;
  // A longer name raises STG_E_INVALIDNAME.
  EntryName(std::u16string_view units) { Assign(units); }
  EntryName(const std::u16string& units) : EntryName(std::u16string_view(units)) {}
  EntryName(const char16_t* units) : EntryName(std::u16string_view(units)) {}

  // The name becomes units, in place (as the constructor takes them).
  void Assign(std::u16string_view units);

  operator std::u16string_view() const noexcept { return {units_, size_}; }
  std::u16string_view view() const noexcept { return {units_, size_}; }
  std::u16string str() const { return std::u16string(units_, size_); }
  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const char16_t* data() const noexcept { return units_; }
  const char16_t* begin() const noexcept { return units_; }
  const char16_t* end() const noexcept { return units_ + size_; }
  char16_t operator[](size_t i) const noexcept { return units_[i]; }

  // One comparison serves all: another name, a std::u16string or a literal all become a view.
  friend bool operator==(const EntryName& a, std::u16string_view b) noexcept {
    // Byte for byte: names of a storage mostly share long prefixes ("__substg1.0_").
    return a.size_ == b.size() && std::memcmp(a.units_, b.data(), 2 * b.size()) == 0;
  }

private:
  char16_t units_[kMaxUnits] = {};
  uint8_t size_ = 0;
};

// The statistics of one element, as the structure view shows them.
struct EntryStat {
  EntryName name;
  EntryKind kind = EntryKind::Stream;
  uint64_t size = 0;               // stream size; 0 for storages
  uint64_t creationTime = 0;       // FILETIME, 100 ns since 1601-01-01 UTC; 0 when unset
  uint64_t modificationTime = 0;   // FILETIME
  uint64_t accessTime = 0;         // always 0: the format keeps none
  std::array<uint8_t, 16> clsid{}; // class id, as stored
  uint32_t stateBits = 0;
  // Where the element is in its open file: opening it from this record then needs no search by
  // name. Records made by hand leave it unset.
  uint32_t entryId = UINT32_MAX;
};

class CompoundFile; // the open file, shared by all handles (private)
class Stream;

// A storage: the root of a compound file or one of its sub-storages.
class Storage {
public:
  Storage() = default;
  bool IsValid() const { return file_ != nullptr; }

  // The root storage reports EntryKind::Root.
  EntryStat Stat() const;

  // The children in compound-file order: by name length, then by the upper-cased name (the
  // order the readers rely on). The file's own red-black tree is not trusted for the order.
  std::vector<EntryStat> Children() const;

  // Opening a child that is missing, or of the other kind, raises STG_E_FILENOTFOUND.
  Storage OpenStorage(std::u16string_view name) const;
  Stream OpenStream(std::u16string_view name) const;
  // The same for an element that Children() of this storage listed: found at once when it is
  // still the child listed, else by its name.
  Storage OpenStorage(const EntryStat& child) const;
  Stream OpenStream(const EntryStat& child) const;
  bool Exists(std::u16string_view name) const;

  // Creating replaces an existing element of the same name (with its subtree). Names are at most
  // 31 UTF-16 units and may not contain '/', '\\', ':' or '!' (STG_E_INVALIDNAME).
  Storage CreateStorage(std::u16string_view name);
  Stream CreateStream(std::u16string_view name);

  // Copies every child of this storage (recursively, with CLSIDs and state bits) into target.
  // Target also takes this storage's own CLSID and state bits. Children of target with the names
  // of copied children are replaced; target may lie inside this storage (a snapshot is copied).
  // A stream that cannot be read fails the copy with its EOleError.
  void CopyTo(Storage& target) const;

  // Sets the class id of this storage (written on commit).
  void SetClsid(const std::array<uint8_t, 16>& clsid);

private:
  friend class CompoundFile;
  friend class Stream;
  Storage(std::shared_ptr<CompoundFile> file, uint32_t id) : file_(std::move(file)), id_(id) {}
  std::shared_ptr<CompoundFile> file_;
  uint32_t id_ = 0;
};

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// The bytes of a stream made only when the file is written (Stream::SetSource): a stream whose
// content would otherwise be held whole in memory until the commit, such as a text converted from
// one that the caller holds anyway. Commits read it front to back.
class StreamSource {
public:
  virtual ~StreamSource() = default;
  virtual uint64_t Size() const = 0;
  // Copies the bytes [offset, offset + count) to buffer; offset and count stay within Size.
  virtual void Read(uint64_t offset, void* buffer, size_t count) = 0;
};

// A stream of a compound file, with its own position.
class Stream {
public:
  Stream() = default;
  bool IsValid() const { return file_ != nullptr; }

  uint64_t Size() const;
  uint64_t Position() const { return pos_; }

  // Reads up to count bytes at the position and advances it; returns the number read (short
  // only at the end of the stream).
  size_t Read(void* buffer, size_t count);
  // Reads the whole stream from the start, whatever the position; the position is unchanged.
  std::string ReadAll();

  // Writes count bytes at the position (growing the stream) and advances it.
  size_t Write(const void* buffer, size_t count);
  // Sets the size (truncates or zero-extends).
  void SetSize(uint64_t size);
  // The stream's bytes become those of source, made when they are read or committed (a write
  // before then takes them into memory first). The position is unchanged.
  void SetSource(std::shared_ptr<StreamSource> source);

  // Moves the position; a position before 0 raises STG_E_INVALIDFUNCTION. Returns the new
  // position. Seeking past the end is allowed (reads there return 0 bytes).
  uint64_t Seek(int64_t offset, SeekOrigin origin);

private:
  friend class CompoundFile;
  friend class Storage;
  Stream(std::shared_ptr<CompoundFile> file, uint32_t id) : file_(std::move(file)), id_(id) {}
  std::shared_ptr<CompoundFile> file_;
  uint32_t id_ = 0;
  uint64_t pos_ = 0;
};

// True only when the file exists and begins with the compound-file signature and a header whose
// version and sector shift are ones we read.
bool IsCompoundFile(const std::string& path);
bool IsCompoundFile(const void* data, size_t size);

// Opens a root storage read-only from a path (UTF-8). Missing file: STG_E_FILENOTFOUND; not a
// compound file: STG_E_INVALIDHEADER (or STG_E_OLDFORMAT / STG_E_DOCFILECORRUPT with details).
Storage OpenFile(const std::string& path, Validation validation = Validation::Permissive);

// Opens a root storage over a copy of the bytes of a file image; it may be modified and
// committed in memory (see MemoryImage).
Storage OpenMemory(std::string bytes, Validation validation = Validation::Permissive);

// Creates an empty compound file (version 3) on disk, replacing an existing file, or in memory.
Storage CreateFile(const std::string& path);
Storage CreateMemory();

// Writes everything to the file (or the memory image): the complete compound file, version 3,
// with the mini stream for streams under 4096 bytes and DIFAT sectors when needed.
void Commit(const Storage& anyStorageOfTheFile);

// The current image of an in-memory compound file (commits first).
std::string MemoryImage(const Storage& anyStorageOfTheFile);

} // namespace orlendo::cfb
