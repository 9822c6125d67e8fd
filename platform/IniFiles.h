// Settings files in ini format, read and written key by key as the platform's private-profile
// functions do: sections and keys are found regardless of ASCII case, every read looks at the
// file as it is now, and every write reads the file, changes one value and writes it back whole
// (other lines and keys kept in their order). Files are byte strings in the ANSI code page with
// CR LF line ends; a file written is its owner's alone (0600), as settings files of the programs'
// own (some hold passwords) must be.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"

namespace rtl {

// A settings file that cannot be written: "<file name> に書き込めません".
class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

class TIniFile : public TObject {
 public:
  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
  const std::string& FileName() const { return fileName_; }

  // The value of the first key ident in the first section named section, blanks around it
  // removed and one pair of enclosing quotes (" or ') taken off; def when the file, the section
  // or the key is missing.
  std::string ReadString(std::string_view section, std::string_view ident,
                         std::string_view def) const;
  // The value as a 32-bit integer (decimal, "$" or "0x" hexadecimal); def when it is missing or is
  // no such number.
  int32_t ReadInteger(std::string_view section, std::string_view ident, int32_t def) const;
  bool ReadBool(std::string_view section, std::string_view ident, bool def) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view ident) const;

  // Sets one key: an existing key keeps its place, a new key goes at the end of its section and
  // a new section at the end of the file. A value with blanks at either end, or one enclosed in
  // quotes, is written in double quotes so that it reads back unchanged; CR and LF in a value
  // become blanks. EIniFileException when the file cannot be read whole or cannot be written.
  void WriteString(std::string_view section, std::string_view ident, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view ident, int32_t value);
  void WriteBool(std::string_view section, std::string_view ident, bool value);

 private:
  // The file's lines; false when the file exists but cannot be read.
  bool Load(std::vector<std::string>& lines) const;
  std::string fileName_;
};

}  // namespace rtl
