// A private font set for the font tests: named font files of the machine (found once through the
// system's fontconfig) and small fixture fonts cut from them with fontTools, behind a fontconfig
// configuration of their own, so that tests never depend on whatever else is installed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace sv::test {

struct TestFonts {
  std::string folder;  // the private font folder, with a trailing "/"
  std::string config;  // its fontconfig configuration file
  // Installed fonts (their real paths).
  std::string ipaGothic, ipaPGothic, dejaVuSans, dejaVuSansMono, liberationSans, liberationMono,
      liberationSerif, liberationSerifBold;
  // Fixtures in folder: "SvFixture Short" (short loca, composites), "SvFixture Bare" (no cvt,
  // fpgm, prep), "SvFixture Restricted" (fsType 2), "SvFixture NoSubset" (fsType 0x100), and a
  // collection of "SvFixture CollA" and "SvFixture CollB"; "SvFixture Mixed" as a regular face
  // with TrueType outlines and a bold one with CFF outlines; "SvFixture Cff" (CFF only);
  // "SvFixture Loop" (a composite glyph that names itself); "SvFixture Symbol" (only a (3,0)
  // character map).
  std::string shortLoca, bare, restricted, noSubset, collection, mixedTrueType, mixedCff, cff, loop,
      symbol;
  std::string error;  // why the set could not be made ("" when it stands)
};

// Makes the set once per process and switches the platform's font layer to it. Tests that need
// it begin with SV_REQUIRE_TEST_FONTS().
const TestFonts& UseTestFonts();

// While it lives, the platform's font layer finds fonts through a configuration of its own that
// holds only the given font files (linked into a private folder); afterwards through the tests'
// set again. Ok() is false when fontconfig did not take it.
class OtherFontConfiguration {
 public:
  explicit OtherFontConfiguration(const std::vector<std::string>& fonts);
  ~OtherFontConfiguration();
  OtherFontConfiguration(const OtherFontConfiguration&) = delete;
  OtherFontConfiguration& operator=(const OtherFontConfiguration&) = delete;
  bool Ok() const { return ok_; }

 private:
  TempDir dir_;
  bool ok_ = false;
};

// The output of the judge: for each key, the rest of every line that begins with it, in order.
class JudgeOutput {
 public:
  explicit JudgeOutput(const std::string& text);
  const std::vector<std::string>& Lines(const std::string& key) const;
  // The numbers of the first line of key (none when the key is missing).
  std::vector<double> Numbers(const std::string& key) const;
  double Number(const std::string& key) const;  // the first of them; NaN when missing

 private:
  std::map<std::string, std::vector<std::string>> lines_;
};

// Debian's python3 with python3-fonttools (the fontTools judge).
std::string FontToolsPython();
// Runs tests/support/font_judge.py with the arguments through FontToolsPython().
CommandResult RunFontJudge(const std::vector<std::string>& args);

}  // namespace sv::test

#define SV_REQUIRE_TEST_FONTS()                                                                \
  do {                                                                                         \
    SV_REQUIRE_JUDGES("fontTools");                                                            \
    const ::sv::test::TestFonts& svTestFonts = ::sv::test::UseTestFonts();                     \
    ASSERT_TRUE(svTestFonts.error.empty()) << "test fonts unavailable: " << svTestFonts.error; \
  } while (0)
