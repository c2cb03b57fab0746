// The program's translatable message strings: one table of keys (the names a language file
// uses in its "Custom" section) with their built-in English texts and the texts now in force.
#pragma once

#include <string>
#include <vector>

namespace orlendo {

struct TMessageString {
  const char* Key;
  const char* Default;
};

// Every key with its English default, in table order.
const std::vector<TMessageString>& MessageStringTable();

// The current text of key: the text a language file gave it, else the default. An unknown key
// gives the key itself, so that a typing error shows instead of vanishing.
const std::string& MessageString(const std::string& key);
// Replaces the current text of a key of the table; unknown keys are ignored.
void SetMessageString(const std::string& key, const std::string& text);
// Puts every key back to its default.
void ResetMessageStrings();

} // namespace orlendo
