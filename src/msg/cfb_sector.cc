#include "msg/cfb_sector.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orlendo::cfb {

namespace {

uint32_t CodeForErrno(int err) {
  switch (err) {
  case ENOENT:
    return STG_E_FILENOTFOUND;
  case ENOTDIR:
    return STG_E_PATHNOTFOUND;
  case EACCES:
  case EPERM:
    return STG_E_ACCESSDENIED;
  case ENOMEM:
    return STG_E_INSUFFICIENTMEMORY;
  default:
    return STG_E_READFAULT;
  }
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0)
      ::close(fd);
  }
};

} // namespace

std::shared_ptr<const FileBytes> FileBytes::MapFile(const std::string& path) {
  Fd f;
  f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f.fd < 0) {
    const int err = errno;
    throw EOleError(CodeForErrno(err), path);
  }
  struct stat st {};
  if (::fstat(f.fd, &st) != 0)
    throw EOleError(STG_E_READFAULT, path);
  if (S_ISDIR(st.st_mode))
    throw EOleError(STG_E_ACCESSDENIED, path + " is a folder");
  std::shared_ptr<FileBytes> result(new FileBytes());
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    void* map = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, f.fd, 0);
    if (map != MAP_FAILED) {
      ::madvise(map, size_t(st.st_size), MADV_SEQUENTIAL);
      result->map_ = map;
      result->data_ = static_cast<const uint8_t*>(map);
      result->size_ = uint64_t(st.st_size);
      return result;
    }
  }
  // Not mappable (a pipe, an empty file, a file system without mmap): read it.
  std::string bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw EOleError(STG_E_READFAULT, path);
    }
    if (n == 0)
      break;
    bytes.append(buf, size_t(n));
  }
  return Own(std::move(bytes));
}

std::shared_ptr<const FileBytes> FileBytes::Own(std::string bytes) {
  std::shared_ptr<FileBytes> result(new FileBytes());
  result->owned_ = std::move(bytes);
  result->data_ = reinterpret_cast<const uint8_t*>(result->owned_.data());
  result->size_ = result->owned_.size();
  return result;
}

FileBytes::~FileBytes() {
  if (map_)
    ::munmap(map_, size_t(size_));
}

void FileBytes::Release(uint64_t offset, uint64_t n) const {
  if (!map_ || offset >= size_)
    return;
  static const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
  const uint64_t end = std::min(size_, offset + n);
  // Only pages wholly inside the range: a page shared with other data stays.
  const uint64_t first = (offset + page - 1) / page * page;
  const uint64_t last = end / page * page;
  if (last > first)
    ::madvise(static_cast<uint8_t*>(map_) + first, size_t(last - first), MADV_DONTNEED);
}

Sectors::Sectors(std::shared_ptr<const FileBytes> bytes, uint16_t sectorShift,
                 Validation validation)
    : bytes_(std::move(bytes)), shift_(sectorShift) {
  const uint64_t len = uint64_t(1) << shift_;
  const uint64_t size = bytes_->Size();
  uint64_t n = 0;
  if (size > len) {
    n = (size - len) / len;
    if (validation == Validation::Permissive && (size - len) % len != 0)
      ++n;
  }
  // Sector ids above MAX_REGULAR_SECTOR are markers, so no file can address more sectors.
  count_ = uint32_t(std::min<uint64_t>(n, uint64_t(MAX_REGULAR_SECTOR) + 1));
}

} // namespace orlendo::cfb
