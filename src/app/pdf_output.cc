#include "app/pdf_output.h"

#include <mutex>

namespace orlendo {

namespace {

std::mutex& WriterMutex() {
  static std::mutex mutex;
  return mutex;
}

TPdfWriter& Writer() {
  static TPdfWriter writer;
  return writer;
}

} // namespace

void SetPdfWriter(TPdfWriter writer) {
  std::lock_guard<std::mutex> lock(WriterMutex());
  Writer() = std::move(writer);
}

TPdfWriter GetPdfWriter() {
  std::lock_guard<std::mutex> lock(WriterMutex());
  return Writer();
}

} // namespace orlendo
