// Libraries opened at run time: a real system library (zlib, which the PDF library links) and
// files that are no library.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "platform/SharedModule.h"
#include "tests/support/TestSupport.h"

using platform::TSharedModule;
using sv::test::TempDir;
using sv::test::WriteFile;

namespace {
using ZlibVersion = const char* (*)();
}

TEST(SharedModule, OpensALibraryFindsItsFunctionsAndClosesItWhenItGoes) {
  TSharedModule zlib;
  ASSERT_TRUE(zlib.Open("libz.so.1")) << zlib.Error();
  auto version = zlib.Function<ZlibVersion>("zlibVersion");
  ASSERT_NE(version, nullptr) << zlib.Error();
  EXPECT_EQ(std::string(version()).substr(0, 2), "1.");
  EXPECT_EQ(zlib.Error(), "");

  // A name the library does not export: null, the loader's reason naming it.
  EXPECT_EQ(zlib.Symbol("noSuchFunction"), nullptr);
  EXPECT_NE(zlib.Error().find("noSuchFunction"), std::string::npos) << zlib.Error();
  EXPECT_NE(zlib.Symbol("zlibVersion"), nullptr);
  EXPECT_EQ(zlib.Error(), "");

  // The handle moves with the object; the one left behind has none.
  TSharedModule moved = std::move(zlib);
  EXPECT_FALSE(zlib.IsOpen());
  EXPECT_EQ(zlib.Symbol("zlibVersion"), nullptr);
  ASSERT_TRUE(moved.IsOpen());
  EXPECT_NE(moved.Symbol("zlibVersion"), nullptr);
  moved.Close();
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_EQ(moved.Symbol("zlibVersion"), nullptr);
}

TEST(SharedModule, AFileThatCannotBeLoadedGivesTheLoadersReason) {
  TempDir dir;
  WriteFile(dir / "text.so", std::string(4096, 'x'));
  WriteFile(dir / "short.so", "not a library\n");
  std::filesystem::create_directory(dir / "folder.so");
  const struct {
    std::string path;
    const char* reason;  // a part of the loader's text
  } cases[] = {
      {dir / "missing.so", "No such file"},
      {dir / "text.so", "invalid ELF header"},
      {dir / "short.so", "file too short"},
      {dir / "folder.so", "folder.so"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    TSharedModule module;
    EXPECT_FALSE(module.Open(c.path));
    EXPECT_FALSE(module.IsOpen());
    EXPECT_EQ(module.Path(), c.path);
    EXPECT_NE(module.Error().find(c.reason), std::string::npos) << module.Error();
    EXPECT_EQ(module.Symbol("zlibVersion"), nullptr);
  }
  // A failed Open closes the library opened before.
  TSharedModule module;
  ASSERT_TRUE(module.Open("libz.so.1"));
  EXPECT_FALSE(module.Open(dir / "missing.so"));
  EXPECT_FALSE(module.IsOpen());
}
