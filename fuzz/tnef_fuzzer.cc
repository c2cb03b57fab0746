// Loads the input as a TNEF stream, loose and strict, and as the winmail.dat attachment of a
// message, then runs every accessor and writer on the trees.
#include <cstdint>
#include <exception>
#include <string>

#include "fuzz_common.h"
#include "mime/tnef_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (TTnefCompliance mode : {TTnefCompliance::Loose, TTnefCompliance::Strict}) {
    TQvTNEFFile message;
    message.Compliance = mode;
    TMemoryStream input(bytes);
    try {
      message.LoadFromStream(input);
    } catch (const std::exception&) {
      // A failed load keeps what was read; that part must be safe to use too.
    }
    try {
      fuzz::ExerciseMessage(message);
    } catch (const std::exception&) {
      // The .msg writer refuses an OLE object whose compound file is corrupt, with its reason.
    }
  }

  TQvMessage outer;
  TMSGProperty* node = outer.Properties().Add();
  node->TagID = TAG_ATTACHMENT_NODE;
  node->SubProperties().AddProperty(0x370E001E, TVariant::FromBytes("application/ms-tnef"));
  TMSGProperty* stream = node->SubProperties().Add();
  stream->TagID = TAG_ATTACH_DATA_BIN;
  stream->Value = TVariant::FromBytes(bytes);
  stream->DataSize = static_cast<int32_t>(bytes.size());
  ExpandTnefAttachments(outer.Properties());
  try {
    fuzz::ExerciseMessage(outer);
  } catch (const std::exception&) {
  }
  return 0;
}
