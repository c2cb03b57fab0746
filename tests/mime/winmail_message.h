// An Outlook message that carries a winmail.dat as its one attachment, for the tests that read
// a TNEF stream through a .msg.
#pragma once

#include <string>

#include "model/qvmsg.h"
#include "msg/msg_writer.h"

namespace orlendo::mimetest {

// The .msg image of a message with this subject and one attachment, "winmail.dat", holding tnef.
inline std::string OutlookImageWithWinmailDat(const std::u16string& subject,
                                              const std::string& tnef) {
  TQvMessage outer;
  outer.Properties().AddRecord<TMSGPropertyTopLevel>()->Header = std::string(32, '\0');
  outer.Properties().AddProperty(0x0037001F, TVariant::FromWide(subject));
  TMSGProperty* node = outer.Properties().Add();
  node->TagID = TAG_ATTACHMENT_NODE;
  node->SubProperties().AddProperty(0x3707001F, TVariant::FromWide(u"winmail.dat"));
  node->SubProperties().AddProperty(0x37050003, TVariant::FromInteger(1));
  TMSGProperty* stream = node->SubProperties().Add();
  stream->TagID = TAG_ATTACH_DATA_BIN;
  stream->Value = TVariant::FromBytes(tnef);
  stream->DataSize = static_cast<int32_t>(tnef.size());
  return SaveToMSGImage(outer.Properties(), true);
}

} // namespace orlendo::mimetest
