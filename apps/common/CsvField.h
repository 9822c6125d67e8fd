// One field of a CSV line that the programs write for each other (Sorvane's check list, Kettrin's
// result CSV): quoted, with inner quotes doubled, when it holds a comma or a quote, so that a path
// or a password with one still reads back as one field; any other text as it stands.
#pragma once

#include <string>

inline std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}
