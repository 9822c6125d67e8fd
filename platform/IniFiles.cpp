#include "platform/IniFiles.h"

#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace rtl {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

// The name of a section header line, or nothing when the line is no header.
std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view t = TrimBlanks(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  t.remove_prefix(1);
  size_t close = t.find(']');
  if (close != std::string_view::npos) t = t.substr(0, close);
  return TrimBlanks(t);
}

// The key of a "key=value" line.
std::optional<std::string_view> KeyOf(std::string_view line) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return TrimBlanks(line.substr(0, eq));
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n')
      ++j;
    lines.emplace_back(text.substr(i, j - i));
    if (j < text.size() && text[j] == '\r') {
      ++j;
      if (j < text.size() && text[j] == '\n') ++j;
    } else if (j < text.size()) {
      ++j;
    }
    i = j;
  }
  return lines;
}

// Index range [begin, end) of the body of the first section named section; begin is the header.
struct SectionRange {
  size_t header;
  size_t end;
};

std::optional<SectionRange> FindSection(const std::vector<std::string>& lines,
                                        std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i]);
    if (!name || !SameText(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end]))
      ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<std::string>& lines, const SectionRange& r,
                              std::string_view ident) {
  for (size_t i = r.header + 1; i < r.end; ++i) {
    auto key = KeyOf(lines[i]);
    if (key && SameText(*key, ident)) return i;
  }
  return std::nullopt;
}

std::string ValueOf(std::string_view line) {
  std::string_view v = TrimBlanks(line.substr(line.find('=') + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

std::string EncodeValue(std::string_view value) {
  std::string v(value);
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  bool quote =
      !v.empty() &&
      (IsBlank(v.front()) || IsBlank(v.back()) ||
       (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()));
  return quote ? "\"" + v + "\"" : v;
}

}  // namespace

bool TIniFile::Load(std::vector<std::string>& lines) const {
  lines.clear();
  std::string bytes;
  if (!platform::ReadFileBytes(fileName_, bytes)) return errno == ENOENT;
  lines = SplitLines(bytes);
  return true;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view ident,
                                 std::string_view def) const {
  std::vector<std::string> lines;
  Load(lines);
  auto r = FindSection(lines, section);
  if (!r) return std::string(def);
  auto k = FindKey(lines, *r, ident);
  return k ? ValueOf(lines[*k]) : std::string(def);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view ident, int32_t def) const {
  std::string s = ReadString(section, ident, "");
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = "$" + s.substr(2);
  return StrToIntDef(s, def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view ident, bool def) const {
  return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view section) const {
  std::vector<std::string> lines;
  Load(lines);
  return FindSection(lines, section).has_value();
}

bool TIniFile::ValueExists(std::string_view section, std::string_view ident) const {
  std::vector<std::string> lines;
  Load(lines);
  auto r = FindSection(lines, section);
  return r && FindKey(lines, *r, ident).has_value();
}

void TIniFile::WriteString(std::string_view section, std::string_view ident,
                           std::string_view value) {
  auto cannotWrite = [&] {
    return EIniFileException(Format(platform::Utf8ToAnsi("%s に書き込めません"), fileName_));
  };
  std::vector<std::string> lines;
  if (!Load(lines)) throw cannotWrite();
  // A file that exists but may not be written stays as it is (the rename below would not ask).
  if (platform::FileExists(fileName_) && ::access(platform::OsPath(fileName_).c_str(), W_OK) != 0)
    throw cannotWrite();
  std::string line = std::string(ident) + "=" + EncodeValue(value);
  auto r = FindSection(lines, section);
  if (!r) {
    if (!lines.empty() && !TrimBlanks(lines.back()).empty()) lines.emplace_back();
    lines.emplace_back("[" + std::string(section) + "]");
    lines.push_back(std::move(line));
  } else if (auto k = FindKey(lines, *r, ident)) {
    lines[*k] = std::string(*KeyOf(lines[*k])) + "=" + EncodeValue(value);
  } else {
    size_t at = r->end;
    while (at > r->header + 1 && TrimBlanks(lines[at - 1]).empty())
      --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  }
  std::string text;
  for (const auto& l : lines)
    text += l + "\r\n";
  if (!platform::WritePrivateFile(fileName_, text)) throw cannotWrite();
}

void TIniFile::WriteInteger(std::string_view section, std::string_view ident, int32_t value) {
  WriteString(section, ident, IntToStr(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

}  // namespace rtl
