// Runs an incremental decoder over an input cut into pieces of a given size.
#pragma once

#include <string>
#include <string_view>

namespace orlendo::testing {

// The output of Decoder on `input` fed in pieces of `chunk` bytes (0: all at once), with the last
// piece given to Complete.
template <typename Decoder> std::string RunInChunks(std::string_view input, std::size_t chunk) {
  Decoder decoder;
  std::string out;
  if (chunk == 0 || chunk >= input.size()) {
    decoder.Complete(input, out);
    return out;
  }
  std::size_t i = 0;
  for (; i + chunk < input.size(); i += chunk)
    decoder.Filter(input.substr(i, chunk), out);
  decoder.Complete(input.substr(i), out);
  return out;
}

// "" when pieces of 1, 2, 3 and 5 bytes give `whole`, else a message naming the first piece size
// that differs.
template <typename Decoder>
std::string SameInAllChunkings(std::string_view input, const std::string& whole) {
  for (std::size_t chunk : {1, 2, 3, 5}) {
    if (RunInChunks<Decoder>(input, chunk) != whole)
      return "differs in pieces of " + std::to_string(chunk);
  }
  return "";
}

} // namespace orlendo::testing
