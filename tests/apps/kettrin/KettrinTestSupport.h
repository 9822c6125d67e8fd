// A program folder of Kettrin's own for one test: bin/ holds the built outside tool, the settings
// record is at its defaults, and everything goes back afterwards. PDF files for the checks are
// made by qpdf and by the outside tool from the project's own example files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/kettrin/Rw_ini.h"
#include "apps/kettrin/Unit1.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"
#include "ui/Forms.h"

namespace sv::test {

inline std::string J(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

// The marks, short.
inline std::string Y() {
  return MarkYes();
}
inline std::string N() {
  return MarkNo();
}
inline std::string D() {
  return MarkNone();
}

// Sets an environment variable for one scope.
class EnvScope {
 public:
  EnvScope(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (old) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvScope() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

class KettrinFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(prog_ / "bin");
    std::filesystem::create_directories(prog_ / "data");
    // Whatever the file mode mask, writable by no one else: run as root, the program starts only
    // so.
    std::filesystem::permissions(prog_ / "bin", std::filesystem::perms(0755));
    std::filesystem::create_symlink(ProgramDir() + "bin/AHPDFToolCmd26",
                                    prog_ / "bin/AHPDFToolCmd26");
    platform::SetProgramFolderForTests(prog_.Path(), "Kettrin");
    CheckSettings = TCheckSettings();
    ui::Application().SetExitCode(0);
  }
  void TearDown() override {
    platform::SetProgramFolderForTests("");
    platform::SetPendingEventsHook(nullptr);
    CheckSettings = TCheckSettings();
    ui::Application().SetExitCode(0);
    ui::Application().SetToolWindow(false);
    ui::Application().SetMessageBoxHook(nullptr);
  }
  std::string Prog() const { return prog_.Path(); }

  // A form as the program makes it, with these command-line arguments.
  static std::unique_ptr<TForm1> Form(std::vector<std::string> arguments = {}) {
    return ui::MakeForm<TForm1>(std::move(arguments));
  }

  // data/<name>: the example file plain.pdf (version 1.4, unprotected) as qpdf writes it with
  // the given options, e.g. {"--encrypt", "u", "o", "256", "--"}.
  std::string Qpdf(const std::string& name, std::vector<std::string> options) {
    std::string out = Prog() + "data/" + name;
    std::vector<std::string> argv{"qpdf"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(SourceDir() + "examples/plain.pdf");
    argv.push_back(out);
    CommandResult r = RunCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return out;
  }
  // data/<name>: plain.pdf rewritten by the outside tool as Sorvane's tool engine starts it.
  std::string Tool(const std::string& name, const std::string& version, const std::string& user,
                   const std::string& owner) {
    std::string out = Prog() + "data/" + name;
    CommandResult r =
        RunCommand({ProgramDir() + "bin/AHPDFToolCmd26", "-annotFile", "-d",
                    SourceDir() + "examples/plain.pdf", "-o", out, "-webopt", "-pdfver", version,
                    "-userpwd", user, "-ownerpwd", owner, "-ncc"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return out;
  }
  // Writes the list (lines ended by CR LF) and makes it the one to check.
  std::string List(const std::vector<std::string>& lines, const std::string& name = "list.csv") {
    std::string text;
    for (const std::string& l : lines)
      text += l + "\r\n";
    std::string path = Prog() + name;  // ANSI code page; the file system's name is UTF-8
    WriteFile(platform::AnsiToUtf8(path), text);
    CheckSettings.CsvPath = path;
    return path;
  }

  // A row's caption and its four columns.
  static std::vector<std::string> Row(const ui::TListItem& item) {
    std::vector<std::string> r{item.Caption()};
    for (int c = 1; c <= 4; ++c)
      r.push_back(item.ColumnText(c));
    return r;
  }
  static std::vector<std::string> Lines(const rtl::TStringList& list) {
    std::vector<std::string> r;
    for (int i = 0; i < list.Count(); ++i)
      r.push_back(list.Strings(i));
    return r;
  }

  TempDir prog_;
};

}  // namespace sv::test
