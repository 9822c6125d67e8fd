#include "platform/ProgramFolder.h"

#include <unistd.h>

#include <mutex>
#include <vector>

#include "platform/CodePage.h"
#include "platform/RtlSysUtils.h"

namespace platform {

namespace {

std::mutex gMutex;
std::string gFolderOverride;
std::string gFileOverride;

std::string RealProgramFile() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) return Utf8ToAnsi(std::string_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

std::string ProgramFile() {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gFolderOverride.empty()) return gFolderOverride + gFileOverride;
  }
  return RealProgramFile();
}

std::string ProgramFolder() {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gFolderOverride.empty()) return gFolderOverride;
  }
  std::string folder = rtl::ExtractFilePath(RealProgramFile());
  return folder.empty() ? std::string("/") : folder;
}

void SetProgramFolderForTests(const std::string& folder, const std::string& fileName) {
  std::string name = fileName.empty() ? rtl::ExtractFileName(RealProgramFile()) : fileName;
  std::lock_guard<std::mutex> lock(gMutex);
  gFolderOverride = folder.empty() ? std::string() : rtl::IncludeTrailingPathDelimiter(folder);
  gFileOverride = name;
}

std::string ArgumentToAnsi(const char* utf8Argument) {
  return utf8Argument ? Utf8ToAnsi(utf8Argument) : std::string();
}

}  // namespace platform
