// Text extents and the character sets of a family, on the private test font set.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "pdf/core/zoUtils.h"
#include "platform/CodePage.h"
#include "tests/support/FontTestSupport.h"

using sv::test::JudgeOutput;
using sv::test::RunFontJudge;

namespace {

ui::TFont Font(const std::string& utf8Name, int size, ui::TFontCharset charset) {
  ui::TFont f;
  f.SetName(platform::Utf8ToAnsi(utf8Name));
  f.SetSize(size);
  f.SetCharset(charset);
  return f;
}

// fontTools' advance of a character in pixels at ppem.
struct Judge {
  explicit Judge(const std::string& path) {
    auto m = RunFontJudge({"metrics", path});
    auto c = RunFontJudge({"cmap", path});
    EXPECT_EQ(m.exitCode + c.exitCode, 0) << m.err << c.err;
    JudgeOutput metrics(m.out), cmap(c.out);
    upem = metrics.Number("unitsPerEm");
    ascent = metrics.Number("winAscent");
    descent = metrics.Number("winDescent");
    advances = metrics.Numbers("advances");
    for (const std::string& line : cmap.Lines("pairs")) {
      std::istringstream in(line);
      uint32_t code, glyph;
      in >> code >> glyph;
      glyphs[code] = glyph;
    }
  }
  int32_t Px(double v, int ppem) const {
    return static_cast<int32_t>(std::lround(v * ppem / upem));
  }
  int32_t Advance(char32_t c, int ppem) const {
    auto it = glyphs.find(c);
    return Px(advances.at(it == glyphs.end() ? 0 : it->second), ppem);
  }
  double upem = 0, ascent = 0, descent = 0;
  std::vector<double> advances;
  std::map<uint32_t, uint32_t> glyphs;
};

}  // namespace

TEST(FontUtils, TextExtentIsTheSumOfTheAdvances) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = sv::test::UseTestFonts();
  Judge lib(t.liberationSans), ipa(t.ipaGothic);
  int32_t w = -1, h = -1;
  // 12 points: 16 pixels per em. "AV" is kerned in the font; extents are not.
  GetTextExtent(std::u16string_view(u"AVAV"), Font("Arial", 12, 0), w, h);
  EXPECT_EQ(w, 2 * lib.Advance('A', 16) + 2 * lib.Advance('V', 16));
  EXPECT_EQ(h, lib.Px(lib.ascent, 16) + lib.Px(lib.descent, 16));
  // Bytes of a western font are code page 1252: 0xE9 is é, 0x80 the euro sign.
  GetTextExtent(std::string_view("\xE9\x80"), Font("Arial", 30, 0), w, h);
  EXPECT_EQ(w, lib.Advance(0xE9, 40) + lib.Advance(0x20AC, 40));
  // Bytes of the default character set are code page 932.
  GetTextExtent(std::string_view("\x82\xA0"
                                 "A"),
                Font("MS Gothic", 12, 1), w, h);
  EXPECT_EQ(w, ipa.Advance(0x3042, 16) + ipa.Advance('A', 16));
  EXPECT_EQ(h, ipa.Px(ipa.ascent, 16) + ipa.Px(ipa.descent, 16));
  GetTextExtent(std::string_view(""), Font("MS Gothic", 12, 1), w, h);
  EXPECT_EQ(w, 0);
  EXPECT_GT(h, 0);
}

TEST(FontUtils, CharacterSetsOfAFamilyAreAddedOnce) {
  SV_REQUIRE_TEST_FONTS();
  std::vector<uint8_t> list = {128};
  GetFontCharsets(platform::Utf8ToAnsi("ＭＳ ゴシック"), list);
  EXPECT_EQ(list, (std::vector<uint8_t>{128, 0}));
  GetFontCharsets("No Such Family", list);
  EXPECT_EQ(list, (std::vector<uint8_t>{128, 0}));
  std::vector<uint8_t> dejavu;
  GetFontCharsets("DejaVu Sans", dejavu);
  EXPECT_EQ(dejavu, (std::vector<uint8_t>{0, 238, 204, 161, 162, 177, 178, 186, 163}));
}

// A font text encoded for a character set reads back as the same characters.
TEST(FontTexts, EncodeFontTextInvertsDecodeFontText) {
  const std::pair<uint8_t, std::u16string> table[] = {
      {ui::ANSI_CHARSET, u"Café €"},
      {ui::SHIFTJIS_CHARSET, u"社外秘 1 / 10"},
      {ui::SYMBOL_CHARSET, u"\u00F0\u0041"},
      {204, u"Привет"},  // RUSSIAN_CHARSET
  };
  for (const auto& [charset, text] : table) {
    SCOPED_TRACE(static_cast<int>(charset));
    EXPECT_EQ(DecodeFontText(EncodeFontText(text, charset), charset), text);
  }
  EXPECT_EQ(EncodeFontText(u"a\u3042", ui::ANSI_CHARSET), "a?");
}
