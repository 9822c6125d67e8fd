// A program folder of Sorvane's own for one test: setting/, temp/, log/ and bin/ below a fresh
// temporary folder, the settings records at their defaults, and everything back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
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

// Lines as the logs write them, each ended by CR LF.
inline std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines)
    text += l + "\r\n";
  return text;
}

// The text after "<name>:" on its line of pdfinfo's or qpdf's output.
inline std::string Field(const std::string& out, const std::string& name) {
  std::smatch m;
  std::regex re("(^|\n)" + name + ": *([^\n]*)");
  return std::regex_search(out, m, re) ? m[2].str() : "<none: " + name + ">";
}

// The text with the name of each private copy that the outside tool reads in place of its input
// (".~in" and ten letters or digits, ".pdf") written as "<copy>".
inline std::string WithCopiesNamed(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\.~in[a-z0-9]{10}\.pdf)"), "<copy>");
}

class SorvaneFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Whatever the file mode mask, writable by no one else: run as root, the program starts only
    // so.
    for (const char* sub : {"setting", "temp", "log", "bin"}) {
      std::filesystem::create_directories(prog_ / sub);
      std::filesystem::permissions(prog_ / sub, std::filesystem::perms(0755));
    }
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

#include <functional>
#include <memory>
#include <vector>

#include "apps/sorvane/ToolEngine.h"
#include "apps/sorvane/Unit1.h"
#include "ui/Forms.h"

namespace sv::test {

// The main window made as the program makes it, over a program folder of its own; message boxes
// are recorded instead of shown.
class SorvaneFormTest : public SorvaneFolderTest {
 protected:
  void SetUp() override {
    SorvaneFolderTest::SetUp();
    ui::Application().SetExitCode(0);
    oldHook_ = ui::Application().SetMessageBoxHook(
        [this](const std::string& text, const std::string&, int) {
          boxes_.push_back(text);
          shownBoxes_.push_back(platform::AnsiToUtf8(text));
          return ui::IDOK;
        });
    oldWHook_ = ui::Application().SetMessageBoxWHook(
        [this](const std::u16string& text, const std::string&, int) {
          boxes_.push_back(platform::WideToAnsi(text));
          shownBoxes_.push_back(platform::WideToUtf8(text));
          return ui::IDOK;
        });
  }
  void TearDown() override {
    ui::Application().SetMessageBoxWHook(oldWHook_);
    ui::Application().SetMessageBoxHook(oldHook_);
    ui::Application().SetToolWindow(false);
    ui::Application().SetExitCode(0);
    SorvaneFolderTest::TearDown();
  }
  static std::unique_ptr<TForm1> Form(std::vector<std::string> arguments = {}) {
    return ui::MakeForm<TForm1>(std::move(arguments));
  }
  // A job file for folder: the defaults with the changes of edit.
  static void Job(const std::string& folder,
                  const std::function<void(TJobSettings&)>& edit = nullptr) {
    const TJobSettings kept = JobSettings;
    JobSettings = TJobSettings();
    if (edit) edit(JobSettings);
    WriteJobIni(JobIniPath(folder));
    JobSettings = kept;
  }
  // The settings a job file holds.
  static TJobSettings ReadJob(const std::string& path) {
    const TJobSettings kept = JobSettings;
    ReadJobIni(path);
    TJobSettings read = JobSettings;
    JobSettings = kept;
    return read;
  }
  static std::vector<std::string> Entries(const TForm1& form) {
    return form.ListBoxJob.Items().Items();
  }
  // A folder below the program folder (a UTF-8 name on disk; the path returned in ANSI).
  std::string Folder(const std::string& ansiName) {
    std::string path = Prog() + ansiName;
    std::filesystem::create_directories(platform::AnsiToUtf8(path));
    return path;
  }

  std::vector<std::string> boxes_;       // the texts of the message boxes (ANSI)
  std::vector<std::string> shownBoxes_;  // the same as the user reads them (UTF-8)
  ui::TApplication::TMessageBoxHook oldHook_;
  ui::TApplication::TMessageBoxWHook oldWHook_;
};

// The main window with the built outside tool in bin/, for runs of both engines.
class SorvaneRunTest : public SorvaneFormTest {
 protected:
  void SetUp() override {
    SorvaneFormTest::SetUp();
    const std::string tool = ProgramDir() + "bin/AHPDFToolCmd26";
    ASSERT_TRUE(FileExists(tool)) << "the built tool is missing: " << tool;
    std::filesystem::create_symlink(tool, ToolPath());
    SV_REQUIRE_JUDGES("pdfinfo", "qpdf");
  }
};

}  // namespace sv::test
