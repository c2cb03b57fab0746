// The version the program reports to the user and compares with the update document.
#pragma once

namespace orlendo {

inline constexpr const char* kProgramVersion = "v2.6 (build 471)";

} // namespace orlendo
