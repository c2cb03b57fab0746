// Makes resources/sample.msg, the message the program opens when it is given none: plain and
// HTML bodies, high importance, two recipients and a Cc, two file attachments and one embedded
// message. Run it again after changing the message:  make_sample resources/sample.msg
#include <cstdio>
#include <exception>
#include <string>

#include "message_builder.h"
#include "msg/msg_writer.h"

namespace {

using namespace orlendo;
using namespace orlendo::tools;

constexpr std::time_t kSent = 1796983200; // 2026-12-11 10:00:00 UTC

void FillInnerMessage(TMSGProperties& inner) {
  LevelBuilder m = BeginMessage<TMSGPropertyEmbeddedMessage>(inner, 1, 0);
  m.Text(0x001A, "IPM.Note");
  m.Text(0x0037, "Agenda for Thursday");
  m.Text(0x0070, "Agenda for Thursday");
  m.Text(0x0C1A, "Jonas Weber");
  m.Text(0x0C1F, "jonas.weber@example.org");
  m.Text(0x0042, "Jonas Weber");
  m.Text(0x0065, "jonas.weber@example.org");
  m.Text(0x0E04, "Maria Lindqvist");
  m.Text(0x1000, "1. Release dates\r\n2. Translations\r\n3. Anything else\r\n");
  m.Long(0x0017, 1);
  m.Long(0x0E07, 1);
  m.Long(0x3FFD, 65001);
  m.Time(0x0039, kSent - 86400);
  m.Time(0x0E06, kSent - 86300);
  AddRecipient(inner, 0, "Maria Lindqvist", "maria.lindqvist@example.org", 1);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: make_sample OUTPUT.msg\n");
    return 2;
  }
  try {
    TQvMessage message;
    TMSGProperties& root = message.Properties();
    LevelBuilder m = BeginMessage<TMSGPropertyTopLevel>(root, 3, 3);
    m.Text(0x001A, "IPM.Note");
    m.Text(0x0037, "Welcome to Orlendo \xE2\x80\x93 your sample message");
    m.Text(0x0070, "Welcome to Orlendo \xE2\x80\x93 your sample message");
    m.Text(0x0C1A, "Maria Lindqvist");
    m.Text(0x0C1F, "maria.lindqvist@example.org");
    m.Text(0x5D01, "maria.lindqvist@example.org");
    m.Text(0x0042, "Maria Lindqvist");
    m.Text(0x0065, "maria.lindqvist@example.org");
    m.Text(0x0E04, "Jonas Weber; Aiko Tanaka");
    m.Text(0x0E03, "Zo\xC3\xAB Dupont");
    m.Text(0x1035, "<sample-0001@orlendo.example.org>");
    m.Text(0x1000,
           "Hello,\r\n\r\nthis message comes with Orlendo so that there is always something to "
           "open.\r\nIt has a plain-text and an HTML body, two attached files and an embedded "
           "message.\r\n\r\nGr\xC3\xBC\xC3\x9F"
           "e, \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
           "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\r\nMaria\r\n");
    m.Binary(0x1013,
             "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>Sample</title></head>"
             "<body><p>Hello,</p><p>this message comes with <b>Orlendo</b> so that there is "
             "always something to open.<br>It has a plain-text and an <i>HTML</i> body, two "
             "attached files and an embedded message.</p><p>Gr\xC3\xBC\xC3\x9F"
             "e, "
             "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
             "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF<br>Maria</p>"
             "</body></html>\r\n");
    m.Long(0x0017, 2); // IMPORTANCE: high
    m.Long(0x0026, 1); // PRIORITY: urgent
    m.Long(0x0E07, 1); // MESSAGE_FLAGS: read
    m.Long(0x3FFD, 65001);
    m.Long(0x3FDE, 65001);
    m.Boolean(0x0E1B, true); // HASATTACH
    m.Time(0x0039, kSent);
    m.Time(0x0E06, kSent + 60);
    AddRecipient(root, 0, "Jonas Weber", "jonas.weber@example.org", 1);
    AddRecipient(root, 1, "Aiko Tanaka", "aiko.tanaka@example.org", 1);
    AddRecipient(root, 2, "Zo\xC3\xAB Dupont", "zoe.dupont@example.org", 2);
    AddFileAttachment(root, 0, "notes.txt", "text/plain",
                      "Things to try:\r\n- the Properties page\r\n- the Structure page\r\n"
                      "- File > Save As ... EML, HTML, XML, text or .msg\r\n");
    // A 1x1 transparent PNG.
    AddFileAttachment(root, 1, "pixel.png", "image/png",
                      std::string("\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52"
                                  "\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00\x00\x1f\x15\xc4"
                                  "\x89\x00\x00\x00\x0b\x49\x44\x41\x54\x78\x9c\x63\x60\x00\x02\x00"
                                  "\x00\x05\x00\x01\x7a\x5e\xab\x3f\x00\x00\x00\x00\x49\x45\x4e\x44"
                                  "\xae\x42\x60\x82",
                                  68));
    FillInnerMessage(AddEmbeddedMessage(root, 2, "Agenda for Thursday"));
    AddEmptyNameMap(root);
    SaveToMSG(root, argv[1], true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_sample: %s\n", e.what());
    return 1;
  }
  return 0;
}
