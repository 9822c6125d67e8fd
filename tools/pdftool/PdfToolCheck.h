// Reading a written file back the way an outside checker reads it: every object, every stream
// decoded, every page's content parsed, the linearization checked, the names that hold "#"
// compared. The tool only reports success for an output that reads back clean.
#pragma once

#include <cstdio>
#include <optional>
#include <set>
#include <string>

namespace pdftool {

// What the output must hold.
struct ReadBackExpectation {
  size_t pages = 0;
  bool linearized = false;
  std::multiset<std::string> hashNames;  // HashNames of the input
};

// The first problem of the file (read from its start, opened with password), or nothing when it
// reads back clean and as expected. The file stays open.
std::optional<std::string> ReadBackProblem(FILE* file, const std::string& password,
                                           const ReadBackExpectation& expected);

}  // namespace pdftool
