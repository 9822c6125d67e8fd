// The built Kettrin, in a program folder of its own with the toolkit module, started with a list
// and no switch under the private Xvfb: it opens its window through the module, checks the list
// there and closes it, as the user sees it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/apps/kettrin/KettrinTestSupport.h"
#include "tests/ui/wx/XvfbDisplay.h"

using namespace sv::test;
namespace fs = std::filesystem;

TEST(KettrinProgramWindow, AListRunOpensTheWindowThroughTheModuleAndEndsWhenDone) {
  std::string error;
  if (!StartPrivateDisplay(error)) GTEST_SKIP() << error;
  if (!FileExists(ProgramDir() + "Kettrin")) GTEST_SKIP() << "Kettrin was not built";
  SV_REQUIRE_JUDGES("pdfinfo");
  TempDir prog, log;
  for (const char* file : {"Kettrin", "svui_wx.so"})
    fs::copy_file(ProgramDir() + file, prog / file);
  const std::string plain = SourceDir() + "examples/plain.pdf";
  WriteFile(prog / "list.csv", plain + ",,,1.4\r\n");

  // Fontconfig keeps what it read for the life of the process (a sanitizer build's leak check).
  CommandResult r = RunCommand({"env", "LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + (log / "ld"),
                                "LSAN_OPTIONS=print_suppressions=0:suppressions=" + SourceDir() +
                                    "tests/examples/lsan-fontconfig.supp",
                                prog / "Kettrin", "/f" + (prog / "list.csv")},
                               prog.Path());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(prog / "list_log.csv"), plain + ",OK,OK,NG,NG\r\n");

  std::string loaded;
  for (const auto& entry : fs::directory_iterator(log.Path()))
    loaded += ReadFile(entry.path().string());
  EXPECT_NE(loaded.find(prog / "svui_wx.so"), std::string::npos);
  EXPECT_NE(loaded.find("libgtk-3"), std::string::npos);
}
