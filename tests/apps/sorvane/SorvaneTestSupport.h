// A program folder of Sorvane's own for one test: setting/, temp/, log/ and bin/ below a fresh
// temporary folder, the settings records at their defaults, and everything back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "apps/sorvane/Rw_ini.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"

namespace sv::test {

inline std::string Ansi(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

class SorvaneFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"setting", "temp", "log", "bin"})
      std::filesystem::create_directories(prog_ / sub);
    platform::SetProgramFolderForTests(prog_.Path(), "Sorvane");
    AppSettings = TAppSettings();
    AppSettings.Wait = 5;
    JobSettings = TJobSettings();
    ResultCode = 0;
    CurrentFile.clear();
  }
  void TearDown() override {
    platform::SetProgramFolderForTests("");
    platform::SetPendingEventsHook(nullptr);
    AppSettings = TAppSettings();
    JobSettings = TJobSettings();
  }
  std::string Prog() const { return prog_.Path(); }

  TempDir prog_;
};

}  // namespace sv::test
