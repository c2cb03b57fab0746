// File-name masks of the file explorer's filter: "*" for any run of characters, "?" for exactly
// one, everything else literal; letter case is ignored.
#pragma once

#include <string>

namespace orlendo {

// Whether the file name (UTF-8, no folder part) matches mask. "*" and "*.*" match every name;
// otherwise an empty name or mask matches nothing.
bool MatchesFileMask(const std::string& name, const std::string& mask);

} // namespace orlendo
