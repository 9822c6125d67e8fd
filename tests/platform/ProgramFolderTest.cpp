// Whether a program folder is its administrator's own: a table of layouts, each with the one
// thing another user could write, against the check that a program run as root makes at start.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"

using sv::test::TempDir;
using sv::test::WriteFile;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 54321;

const std::vector<std::string> kEntries = {"bin", "setting", "svui_wx.so", "bin/AHPDFToolCmd26",
                                           "pdfinfo"};

struct Layout {
  TempDir base;  // the folder above the program folder
  std::string prog = base / "prog/";
  Layout() {
    fs::create_directories(prog + "bin");
    fs::create_directories(prog + "setting");
    for (const std::string& f : {base / "tool", prog + "svui_wx.so"})
      WriteFile(f, "x");
    fs::create_symlink(base / "tool", prog + "bin/AHPDFToolCmd26");
    for (const std::string& p : {prog, prog + "bin", base / "tool", prog + "svui_wx.so"})
      ::chmod(p.c_str(), 0755);
    ::chmod((prog + "setting").c_str(), 0700);
    platform::SetProgramFolderForTests(prog, "Sorvane");
  }
  ~Layout() { platform::SetProgramFolderForTests(""); }
};

}  // namespace

TEST(ProgramFolder, IsProtectedOnlyWhenNoOtherUserCanWriteItOrWhatItRuns) {
  using Change = std::function<void(Layout&)>;
  auto mode = [](const char* name, mode_t m) {
    return [=](Layout& l) { ::chmod((l.prog + name).c_str(), m); };
  };
  auto owner = [](const char* name) {
    return [=](Layout& l) {
      ASSERT_EQ(::lchown((l.prog + name).c_str(), kOtherUser, kOtherUser), 0) << name;
    };
  };
  const std::string groupOrOthers = platform::Utf8ToAnsi("グループか他のユーザーが書き込めます");
  const std::string notRoot = platform::Utf8ToAnsi("所有者が root ではありません");
  const struct {
    const char* what;
    Change change;
    const char* named;  // below the base folder; null when the folder passes
    bool asRoot;        // needs root to give a file to another user
    bool owned;         // refused for its owner, else for its mode
  } cases[] = {
      {"as laid out", [](Layout&) {}, nullptr, false, false},
      {"nothing beside the program",
       [](Layout& l) {
         fs::remove_all(l.prog + "bin");
         fs::remove_all(l.prog + "setting");
         fs::remove(l.prog + "svui_wx.so");
       },
       nullptr, false, false},
      {"program folder group-writable", mode("", 0775), "prog", false, false},
      {"program folder world-writable", mode("", 0757), "prog", false, false},
      {"program folder sticky and world-writable", mode("", 01777), "prog", false, false},
      {"bin group-writable", mode("bin", 0775), "prog/bin", false, false},
      {"bin world-writable", mode("bin", 0757), "prog/bin", false, false},
      {"setting world-writable", mode("setting", 0777), "prog/setting", false, false},
      {"module group-writable", mode("svui_wx.so", 0775), "prog/svui_wx.so", false, false},
      {"module world-writable", mode("svui_wx.so", 0666), "prog/svui_wx.so", false, false},
      {"the tool behind its link world-writable",
       [](Layout& l) { ::chmod((l.base / "tool").c_str(), 0777); }, "prog/bin/AHPDFToolCmd26",
       false, false},
      {"a folder above it world-writable", [](Layout& l) { ::chmod(l.base.Path().c_str(), 0777); },
       "", false, false},
      {"a folder above it world-writable with the sticky bit",
       [](Layout& l) { ::chmod(l.base.Path().c_str(), 01777); }, nullptr, false, false},
      {"program folder of another user", owner(""), "prog", true, true},
      {"bin of another user", owner("bin"), "prog/bin", true, true},
      {"setting of another user", owner("setting"), "prog/setting", true, true},
      {"module of another user", owner("svui_wx.so"), "prog/svui_wx.so", true, true},
      {"pdfinfo of another user",
       [](Layout& l) {
         WriteFile(l.prog + "pdfinfo", "#!/bin/sh\n");
         ::chmod((l.prog + "pdfinfo").c_str(), 0755);
         ASSERT_EQ(::chown((l.prog + "pdfinfo").c_str(), kOtherUser, 0), 0);
       },
       "prog/pdfinfo", true, true},
      {"a folder above it of another user",
       [](Layout& l) { ASSERT_EQ(::chown(l.base.Path().c_str(), kOtherUser, 0), 0); }, "", true,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.asRoot && ::geteuid() != 0) {
      std::cout << "skipped without root: " << c.what << "\n";
      continue;
    }
    Layout layout;
    c.change(layout);
    std::string problem;
    const bool passed = platform::ProgramFolderIsProtected(kEntries, &problem);
    EXPECT_EQ(passed, c.named == nullptr) << problem;
    if (!c.named || passed) continue;
    const std::string path = fs::path(layout.base / c.named).lexically_normal().string();
    const std::string shown =
        path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
    EXPECT_EQ(problem.rfind(shown + " ", 0), 0u) << problem;
    EXPECT_NE(problem.find(c.owned ? notRoot : groupOrOthers), std::string::npos) << problem;
  }
}
