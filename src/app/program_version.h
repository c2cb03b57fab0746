// The version the program reports to the user and compares with the update document, and the
// mailbox that the About box and the support mail name.
#pragma once

namespace orlendo {

#define ORLENDO_TEXT_OF(x) #x
#define ORLENDO_NUMBER_TEXT(x) ORLENDO_TEXT_OF(x)

// The numbers come from the build's project version, which the package, the manual page and the
// desktop metadata carry too: 2.6.471 is "v2.6 (build 471)".
inline constexpr const char* kProgramVersion =
    "v" ORLENDO_NUMBER_TEXT(ORLENDO_VERSION_MAJOR) "." ORLENDO_NUMBER_TEXT(
        ORLENDO_VERSION_MINOR) " (build " ORLENDO_NUMBER_TEXT(ORLENDO_VERSION_BUILD) ")";
inline constexpr const char* kSupportMailAddress = "support@orlendo.example.org";

} // namespace orlendo
