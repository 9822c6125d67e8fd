// The built programs started as root from a program folder that another user could change: each
// refuses to start, says so on standard error and ends with 2, touching nothing; from a folder
// that is root's own they run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 54321;

class ProgramStart : public testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: the check is made only by root";
    for (const char* program : {"Sorvane", "Kettrin", "svui_wx.so", "bin/AHPDFToolCmd26"})
      if (!FileExists(ProgramDir() + program)) GTEST_SKIP() << program << " was not built";
    if (!HasCommand("pdfinfo")) GTEST_SKIP() << "pdfinfo is needed";
  }
  // A program folder laid out as an installation: the programs, the module, the tool in bin/.
  void Layout(const std::string& prog) {
    fs::create_directories(prog + "bin");
    fs::create_directories(prog + "setting");
    for (const char* file : {"Sorvane", "Kettrin", "svui_wx.so"})
      fs::copy_file(ProgramDir() + file, prog + file);
    fs::create_symlink(ProgramDir() + "bin/AHPDFToolCmd26", prog + "bin/AHPDFToolCmd26");
    for (const char* folder : {"", "bin", "setting"})
      ::chmod((prog + folder).c_str(), 0755);
    WriteFile(prog + "empty.csv", "");
  }
  static CommandResult Start(const std::string& prog, const std::string& program) {
    V argv{"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", prog + program};
    if (program == "Sorvane")
      argv.push_back("/s");
    else
      argv.insert(argv.end(), {"/n", "/f" + prog + "empty.csv"});
    return RunCommand(argv, prog);
  }
};

}  // namespace

TEST_F(ProgramStart, RunAsRootNeitherProgramStartsFromAFolderAnotherUserCanChange) {
  using Change = std::function<void(const std::string& prog)>;
  auto mode = [](const char* name, mode_t m) {
    return [=](const std::string& prog) { ASSERT_EQ(::chmod((prog + name).c_str(), m), 0); };
  };
  auto owner = [](const char* name) {
    return [=](const std::string& prog) {
      ASSERT_EQ(::lchown((prog + name).c_str(), kOtherUser, kOtherUser), 0);
    };
  };
  const struct {
    const char* what;
    Change change;
    const char* named;  // what the message names, below the program folder
  } cases[] = {
      {"bin group-writable", mode("bin", 0775), "bin"},
      {"bin world-writable", mode("bin", 0757), "bin"},
      {"bin of another user", owner("bin"), "bin"},
      {"the module world-writable", mode("svui_wx.so", 0666), "svui_wx.so"},
      {"the module group-writable", mode("svui_wx.so", 0775), "svui_wx.so"},
      {"the module of another user", owner("svui_wx.so"), "svui_wx.so"},
      {"setting world-writable", mode("setting", 0777), "setting"},
      {"setting of another user", owner("setting"), "setting"},
      {"the program folder group-writable", mode("", 0775), ""},
      {"the program folder of another user", owner(""), ""},
  };
  for (const char* program : {"Sorvane", "Kettrin"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(program) + ": " + c.what);
      TempDir dir;
      const std::string prog = dir / "prog/";
      Layout(prog);
      c.change(prog);
      const CommandResult r = Start(prog, program);
      EXPECT_EQ(r.exitCode, 2) << r.err;
      const std::string named = *c.named ? prog + c.named : prog.substr(0, prog.size() - 1);
      EXPECT_EQ(r.err.rfind(named + " は他のユーザーが書き換えられるため起動しません (", 0), 0u)
          << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
      EXPECT_EQ(r.out, "");
      // Nothing was made or written.
      for (const char* made : {"log", "temp", "Sorvane.ini", "Kettrin.ini", "empty_log.csv"})
        EXPECT_FALSE(fs::exists(prog + made)) << made;
    }
  }
}

TEST_F(ProgramStart, RunAsRootBothProgramsStartFromAFolderThatIsRootsOwn) {
  TempDir dir;
  const std::string prog = dir / "prog/";
  Layout(prog);
  // A folder above it that everybody may write, with the sticky bit, as /tmp is.
  ::chmod(dir.Path().c_str(), 01777);
  CommandResult r = Start(prog, "Sorvane");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(prog + "log/log_result.csv"));
  r = Start(prog, "Kettrin");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(prog + "empty_log.csv"));

  // Without the sticky bit the folder above lets others move the program folder away.
  ::chmod(dir.Path().c_str(), 0777);
  r = Start(prog, "Kettrin");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind(dir.Path().substr(0, dir.Path().size() - 1) + " は", 0), 0u) << r.err;
  ::chmod(dir.Path().c_str(), 0700);
}
