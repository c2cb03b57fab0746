// Writes a meeting request, a task and a contact with a picture as .msg files into a folder, for
// looking at the preview of kinds that the corpus does not hold:  make_items FOLDER
#include <cstdio>
#include <exception>
#include <string>

#include "item_builder.h"
#include "msg/msg_writer.h"

int main(int argc, char** argv) {
  using namespace orlendo;
  if (argc != 2) {
    std::fprintf(stderr, "Usage: make_items FOLDER\n");
    return 2;
  }
  try {
    const std::string folder = argv[1];
    TQvMessage meeting;
    tools::BuildMeetingRequest(meeting.Properties());
    SaveToMSG(meeting.Properties(), folder + "/meeting_request.msg", true);
    TQvMessage task;
    tools::BuildTask(task.Properties());
    SaveToMSG(task.Properties(), folder + "/task.msg", true);
    TQvMessage contact;
    tools::BuildContact(contact.Properties());
    SaveToMSG(contact.Properties(), folder + "/contact.msg", true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
