// What the message fuzzers do with a loaded message: every accessor, then every writer into
// memory, so that a tree any reader builds is also safe for everything downstream.
#pragma once

#include <cstdint>
#include <string>

#include "export/ics_writer.h"
#include "export/report_writers.h"
#include "export/vcard_writer.h"
#include "model/qvmsg.h"
#include "msg/msg_writer.h"

namespace orlendo::fuzz {

inline void ExerciseMessage(const TQvMessage& message) {
  const TMSGProperties& p = message.Properties();
  (void)p.GetSubject();
  (void)p.GetBody();
  (void)p.GetBodyHTML();
  (void)p.GetBodyRTF();
  (void)p.GetTransportHeaders();
  (void)p.GetMessageID();
  (void)p.GetFrom();
  (void)p.GetTo();
  (void)p.GetCc();
  (void)p.GetBcc();
  (void)p.GetSentDate();
  (void)p.GetPriority();
  (void)p.GetCharset();
  for (int i = 0, n = p.AttachmentCount(); i < n && i < 64; ++i) {
    TMemoryStream data;
    p.SaveAttachmentToStream(i, data);
    if (TMSGProperty* node = p.GetAttachment(i)) {
      (void)node->GetAttachmentName(i);
      (void)node->IsEmbeddedMessage();
    }
  }
  if (HasICalendar(p))
    (void)MakeICalendar(p);
  if (HasVCard(p))
    (void)MakeVCard(p);
  for (bool all : {true, false}) {
    TMemoryStream txt, html, xml;
    SaveToTXT(p, &txt, all);
    SaveToHTML(p, &html, all);
    SaveToXML(p, &xml, all);
    (void)SaveToMSGImage(p, all);
  }
}

}  // namespace orlendo::fuzz
