// The command line's batch conversion: "quillet --convert [--to FORMAT] [--out DIR|FILE]
// [--jobs N] [--recursive] [--report FILE.json] [--quiet] PATH...", with its progress line and
// its exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orlendo {

// Runs the conversion that args ask for (args[0] is "--convert"). Failures are named with their
// reasons on err, progress goes to err unless --quiet; names of "-" are read from in. The exit
// status: 0 when every message converted, 1 when some failed, 2 when nothing could start (a
// wrong switch, an output that cannot be made).
int RunConvertCommand(const std::vector<std::string>& args, std::FILE* in, std::FILE* err);

// The usage lines of --convert, for --help.
extern const char kConvertUsage[];

} // namespace orlendo
