// Byte streams: the abstract stream the readers and writers work on, and the memory and file
// streams behind it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

namespace orlendo {

// Raised by the streams for I/O failures, and by the model and readers for their own failures:
// what() is the message the user sees ("File %s is not found." and the like).
class EMSGError : public std::exception {
public:
  explicit EMSGError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }

private:
  std::string message_;
};

enum class TSeekOrigin { Beginning = 0, Current = 1, End = 2 };

class TStream {
public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns the number read (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes count bytes; returns the number written. Read-only streams raise EMSGError.
  virtual size_t Write(const void* buffer, size_t count) = 0;
  // Moves the position and returns the new one. A position before 0 raises EMSGError.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::Beginning); }
  // The size, from Seek; leaves the position where it was.
  virtual int64_t Size();

  // Writes all bytes or raises EMSGError.
  void WriteBuffer(const void* buffer, size_t count);
  void WriteString(const std::string& s) { WriteBuffer(s.data(), s.size()); }
  // Copies count bytes (all that remain when count is 0) from source at its position.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A growable byte buffer with a position.
class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

  const std::string& Data() const { return data_; }
  std::string& MutableData() { return data_; }
  std::string TakeData() {
    pos_ = 0;
    return std::move(data_);
  }
  void Clear() {
    data_.clear();
    pos_ = 0;
  }

private:
  std::string data_;
  size_t pos_ = 0;
};

// A file on disk. Mode Create makes the file anew (replacing an existing one); OpenRead opens
// for reading only. Failures raise EMSGError naming the file.
class TFileStream : public TStream {
public:
  enum Mode { OpenRead, Create };
  TFileStream(const std::string& path, Mode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Flushes and closes; raises EMSGError when the data could not be written.
  void Close();

private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool readOnly_ = true;
};

} // namespace orlendo
