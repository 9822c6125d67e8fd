// The built programs load the toolkit module of their folder only when they need a window: the
// loader's own record of the files it mapped (LD_DEBUG) tells what a run loaded.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const char kModule[] = "svui_wx.so";

class ToolkitModule : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* program : {"Sorvane", "Kettrin"})
      if (!FileExists(ProgramDir() + program)) GTEST_SKIP() << program << " was not built";
    // Built with them, under the name they load.
    ASSERT_TRUE(FileExists(ProgramDir() + kModule)) << "no " << kModule << " beside the programs";
    SV_REQUIRE_JUDGES("pdfinfo");
    for (const char* program : {"Sorvane", "Kettrin"})
      fs::copy_file(ProgramDir() + program, prog_ / program);
    WriteFile(prog_ / "empty.csv", "");
  }
  void WithModule() { fs::copy_file(ProgramDir() + kModule, prog_ / kModule); }

  // The program run without a display, with what the loader mapped in it.
  struct Run {
    CommandResult result;
    std::string loaded;  // the loader's lines of the files it mapped (of children too)
  };
  Run Start(const std::string& program, const V& args) {
    TempDir log;
    V argv{"env",
           "-u",
           "DISPLAY",
           "-u",
           "WAYLAND_DISPLAY",
           "LD_DEBUG=files",
           "LD_DEBUG_OUTPUT=" + (log / "ld"),
           prog_ / program};
    argv.insert(argv.end(), args.begin(), args.end());
    Run run{RunCommand(argv, prog_.Path()), ""};
    for (const auto& entry : fs::directory_iterator(log.Path()))
      run.loaded += ReadFile(entry.path().string());
    return run;
  }
  static bool LoadedToolkit(const std::string& loaded) {
    return loaded.find(kModule) != std::string::npos ||
           loaded.find("libwx_") != std::string::npos ||
           loaded.find("libgtk-3") != std::string::npos;
  }
  TempDir prog_;
};

}  // namespace

TEST_F(ToolkitModule, TheProgramsLinkNoToolkitAndTheModuleDoes) {
  for (const char* file : {"Sorvane", "Kettrin", kModule}) {
    SCOPED_TRACE(file);
    CommandResult ldd = RunCommand({"ldd", ProgramDir() + file});
    ASSERT_EQ(ldd.exitCode, 0) << ldd.err;
    const bool module = file == std::string(kModule);
    for (const char* toolkit : {"libwx_", "libgtk-3", "libgdk-3"})
      EXPECT_EQ(ldd.out.find(toolkit) != std::string::npos, module) << toolkit << "\n" << ldd.out;
    EXPECT_EQ(ldd.out.find("not found"), std::string::npos) << ldd.out;
  }
}

TEST_F(ToolkitModule, OnlyARunThatNeedsAWindowLoadsIt) {
  WithModule();
  const struct {
    const char* program;
    V args;
    bool window;
  } cases[] = {
      {"Sorvane", {"/s"}, false},
      {"Kettrin", {"/n", "/f" + (prog_ / "empty.csv")}, false},
      {"Sorvane", {}, true},
      {"Kettrin", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + (c.window ? " windowed" : " silent"));
    Run run = Start(c.program, c.args);
    ASSERT_NE(run.loaded.find(c.program), std::string::npos) << "no loader record";
    EXPECT_EQ(LoadedToolkit(run.loaded), c.window);
    if (c.window) {
      // The module loaded with every symbol bound (the widget layer's from the program); only
      // the display is missing.
      EXPECT_EQ(run.result.exitCode, 1);
      EXPECT_EQ(run.result.err,
                std::string(c.program) + ": No display to show windows on (DISPLAY is not set)\n");
    } else {
      EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
      EXPECT_EQ(run.result.err, "");
    }
  }
}

TEST_F(ToolkitModule, AWindowWithoutAUsableModuleIsRefusedWithTheReasonAndStatus2) {
  // A library without the module's entry: the maths library this test runs with.
  Dl_info info{};
  void* cosine = dlsym(RTLD_DEFAULT, "cos");
  ASSERT_TRUE(cosine && dladdr(cosine, &info) && info.dli_fname) << "no maths library";
  const struct {
    const char* variant;
    std::string content;  // of the module's file; none when empty
    const char* reason;
  } cases[] = {
      {"missing", "", "cannot open shared object file: No such file or directory"},
      {"no library", std::string(4096, 'x'), "invalid ELF header"},
      {"no entry", ReadFile(info.dli_fname), "undefined symbol: SvBackendEntry"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.variant);
    fs::remove(prog_ / kModule);
    if (!c.content.empty()) {
      WriteFile(prog_ / kModule, c.content);
      fs::permissions(prog_ / kModule, fs::perms(0644));  // whatever the mask: root's alone
    }
    for (const char* program : {"Sorvane", "Kettrin"}) {
      SCOPED_TRACE(program);
      Run run = Start(program, {});
      EXPECT_EQ(run.result.exitCode, 2);
      const std::string head = std::string(program) + ": The window toolkit module " + kModule +
                               " could not be loaded (";
      EXPECT_EQ(run.result.err.rfind(head, 0), 0u) << run.result.err;
      EXPECT_NE(run.result.err.find(c.reason), std::string::npos) << run.result.err;
      EXPECT_NE(run.result.err.find(prog_ / kModule), std::string::npos) << run.result.err;
      EXPECT_NE(run.result.err.find("\n" + std::string(program) +
                                    ": The user interface could not be started.\n"),
                std::string::npos)
          << run.result.err;
      EXPECT_EQ(run.loaded.find("libwx_"), std::string::npos);
    }
    // A silent run does not miss it.
    Run silent = Start("Sorvane", {"/s"});
    EXPECT_EQ(silent.result.exitCode, 0) << silent.result.err;
    EXPECT_EQ(silent.result.err, "");
  }
}
