// The version the program reports to the user and compares with the update document, and the
// mailbox that the About box and the support mail name.
#pragma once

namespace orlendo {

inline constexpr const char* kProgramVersion = "v2.6 (build 471)";
inline constexpr const char* kSupportMailAddress = "support@orlendo.example.org";

} // namespace orlendo
