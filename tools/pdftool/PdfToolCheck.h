// Reading a written file back the way an outside checker reads it: every object, every stream
// decoded, every page's content parsed, the linearization checked. The tool only reports success
// for an output that reads back clean.
#pragma once

#include <optional>
#include <string>

namespace pdftool {

// The first problem of the file at path (opened with password), or nothing when it reads back
// clean with the expected number of pages.
std::optional<std::string> ReadBackProblem(const std::string& path, const std::string& password,
                                           size_t expectedPages, bool linearized);

}  // namespace pdftool
