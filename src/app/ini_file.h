// A small INI file: sections of key=value lines, read and written the way profile files are.
//
// Section and key names compare without regard to ASCII letter case; values are kept byte for
// byte (only the line end is removed; a leading UTF-8 byte-order mark is dropped). Lines that are
// not sections or keys (comments, blank lines) are kept in place, so that a file written back
// differs only where values changed. Saving is atomic: the text goes to a temporary file in the
// same folder, which then replaces the target by a rename, so a crash never leaves half a file
// behind.
#pragma once

#include <string>
#include <vector>

namespace orlendo {

class TIniFile {
public:
  TIniFile() = default;
  // Loads path when it exists; a missing or unreadable file gives an empty INI.
  explicit TIniFile(const std::string& path);

  const std::string& FileName() const { return path_; }
  bool Load(const std::string& path);

  bool ValueExists(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  // A decimal (or "0x" hexadecimal) integer; anything else gives def.
  long ReadInteger(const std::string& section, const std::string& key, long def) const;
  // Read as an integer, any non-zero value being true; unreadable gives def.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, long value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void EraseSection(const std::string& section);
  // Removes the first line of key in section; other lines stay where they are.
  void DeleteKey(const std::string& section, const std::string& key);
  // Section names, and the key names of one section, in file order (a key written twice is
  // listed twice).
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(const std::string& section) const;

  std::string Text() const;
  // Writes the file atomically to FileName() (or to path). Raises EMSGError
  // "Unable to write to %s" with the file name when it cannot, leaving any old file unchanged.
  void UpdateFile() const;
  void SaveAs(const std::string& path) const;

private:
  struct Line {
    std::string raw; // the line as read (for non-key lines) or the key as written
    std::string key; // empty for section headers and other lines
    std::string value;
    bool isSection = false;
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };
  Section* FindSection(const std::string& name);
  const Section* FindSection(const std::string& name) const;
  const Line* FindKey(const std::string& section, const std::string& key) const;

  std::string path_;
  std::vector<Line> preamble_; // lines before the first section
  std::vector<Section> sections_;
};

} // namespace orlendo
