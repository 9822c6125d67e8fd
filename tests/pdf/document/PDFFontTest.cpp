// Fonts measured for PDF output: the character map against FreeType and fontTools, glyph widths
// against hmtx, the descriptor metrics against the font tables through the formulas, base font
// names, text encoding with the used characters, and the ToUnicode CMap.
#include "pdf/document/zoPDFFont.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "pdf/core/zoUtils.h"
#include "platform/CodePage.h"
#include "platform/Fonts.h"
#include "tests/pdf/document/PDFFontTestSupport.h"

using sv::test::FontData;
using sv::test::FreeTypeFace;
using sv::test::JudgeOutput;
using sv::test::MakeFont;
using sv::test::RunFontJudge;
using sv::test::UseTestFonts;

namespace {

std::vector<std::pair<uint32_t, uint16_t>> JudgeCmap(const std::string& path, int index = 0) {
  sv::test::CommandResult r = RunFontJudge({"cmap", path, std::to_string(index)});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::pair<uint32_t, uint16_t>> pairs;
  const JudgeOutput j(r.out);
  for (const std::string& line : j.Lines("pairs")) {
    std::istringstream in(line);
    uint32_t code, glyph;
    in >> code >> glyph;
    pairs.emplace_back(code, static_cast<uint16_t>(glyph));
  }
  return pairs;
}

JudgeOutput Metrics(const std::string& path) {
  sv::test::CommandResult r = RunFontJudge({"metrics", path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return JudgeOutput(r.out);
}

struct FontCase {
  std::string name;  // UTF-8
  ui::TFontCharset charset;
  std::string file;
  int index;
};

std::vector<FontCase> CmapCases() {
  const auto& t = UseTestFonts();
  return {{"MS Gothic", 128, t.ipaGothic, 0},      {"DejaVu Sans", 0, t.dejaVuSans, 0},
          {"Arial", 0, t.liberationSans, 0},       {"SvFixture Short", 0, t.shortLoca, 0},
          {"SvFixture CollB", 0, t.collection, 1}, {"DejaVu Sans Mono", 0, t.dejaVuSansMono, 0}};
}

}  // namespace

TEST(PDFFont, CharacterMapAgainstFreeTypeAndFontTools) {
  SV_REQUIRE_TEST_FONTS();
  for (const FontCase& c : CmapCases()) {
    SCOPED_TRACE(c.name);
    TzoPDFFont font(MakeFont(c.name, 12, c.charset), 0, true, false);
    ASSERT_EQ(font.Info().FontKind, fkTrueType);
    ASSERT_TRUE(font.HasGlyphLists());
    ASSERT_EQ(font.GlyphIds().size(), font.CharCodes().size());
    std::vector<std::pair<uint32_t, uint16_t>> mine;
    for (size_t k = 0; k < font.GlyphIds().size(); ++k)
      mine.emplace_back(font.CharCodes()[k], font.GlyphIds()[k]);
    std::sort(mine.begin(), mine.end());
    std::vector<std::pair<uint32_t, uint16_t>> judge = JudgeCmap(c.file, c.index);
    ASSERT_GT(judge.size(), 20u);
    EXPECT_EQ(mine, judge);

    std::string data = FontData(font);
    FreeTypeFace ft(data);
    ASSERT_TRUE(ft.Face());
    size_t wrong = 0;
    for (auto [code, glyph] : mine) {
      if (FT_Get_Char_Index(ft.Face(), code) != glyph) ++wrong;
      if (font.GlyphOf(code) != glyph) ++wrong;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(font.GlyphOf(0x10FFFF), 0);
  }
}

TEST(PDFFont, GlyphWidthsAgainstHmtx) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  // DejaVu Sans Mono lists 4 metrics for 3377 glyphs: the others take the last advance.
  for (auto [name, path] :
       {std::pair<std::string, std::string>{"DejaVu Sans Mono", t.dejaVuSansMono},
        {"IPAGothic", t.ipaGothic},
        {"SvFixture Short", t.shortLoca}}) {
    SCOPED_TRACE(name);
    TzoPDFFont font(MakeFont(name, 12, 0), 0, true, false);
    JudgeOutput j = Metrics(path);
    std::vector<double> advances = j.Numbers("advances");
    const double upem = j.Number("unitsPerEm");
    ASSERT_EQ(font.GlyphWidths().size(), advances.size());
    for (size_t g = 0; g < advances.size(); ++g)
      ASSERT_EQ(font.GlyphWidths()[g], static_cast<int32_t>(advances[g] * 1000 / upem)) << g;
  }
}

TEST(PDFFont, DescriptorMetricsFollowTheTables) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  struct Case {
    std::string name;
    ui::TFontCharset charset;
    std::string path;
    bool fixedPitch;
    bool serif;
  } cases[] = {
      {"MS Gothic", 128, t.ipaGothic, true, false},  // fixed pitch by PANOSE
      {"MS PGothic", 128, t.ipaPGothic, false, false},
      {"DejaVu Sans Mono", 0, t.dejaVuSansMono, true, false},  // measured like any other font
      {"Arial", 0, t.liberationSans, false, false},
      {"Times New Roman", 0, t.liberationSerif, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TzoPDFFont font(MakeFont(c.name, 12, c.charset), 0, false, false);
    const TzoPDFFontInfo& info = font.Info();
    JudgeOutput j = Metrics(c.path);
    const double upem = j.Number("unitsPerEm");
    // Measured at 1000 points: ppem 1333, a pixel value round(v * 1333 / upem), in points
    // nearest(pixels * 72 / 96).
    auto pixels = [&](double v) { return std::lround(v * 1333 / upem); };
    auto em = [&](const char* key) { return PixelsToPoints(pixels(j.Number(key))); };
    auto own = [&](const char* key) {  // in points at the font's size, 12
      return std::nearbyint(12 * PixelsToPoints(pixels(j.Number(key))) / 1000);
    };
    EXPECT_EQ(info.FontKind, fkTrueType);
    EXPECT_EQ(info.FixedPitch, c.fixedPitch);
    EXPECT_NEAR(info.Ascent, em("winAscent"), 1);
    EXPECT_NEAR(info.Ascent, j.Number("winAscent") * 1000 / upem, 1);
    EXPECT_NEAR(info.Descent, -em("winDescent"), 1);
    EXPECT_EQ(info.CapHeight, info.Ascent);
    EXPECT_NEAR(info.AvgWidth, em("xAvgCharWidth"), 1);
    EXPECT_NEAR(info.MaxWidth, em("advanceWidthMax"), 1);
    EXPECT_EQ(info.FontBBox,
              (ui::TRect{-250, static_cast<int>(std::nearbyint(info.Ascent)), info.MaxWidth,
                         static_cast<int>(std::nearbyint(info.Descent))}));
    EXPECT_EQ(info.Flags, (c.fixedPitch ? 1 : 0) | (c.serif ? 2 : 0) | 32);
    EXPECT_EQ(info.StemV, 78);
    EXPECT_EQ(info.ItalicAngle, 0);
    // In points at the font's own size (12).
    EXPECT_NEAR(info.UnderlinePosition, own("underlinePosition"), 1);
    EXPECT_NEAR(info.UnderlineSize, own("underlineThickness"), 1);
    EXPECT_NEAR(info.StrikeoutPosition, own("strikeoutPosition"), 1);
    EXPECT_NEAR(info.StrikeoutSize, own("strikeoutSize"), 1);
    EXPECT_TRUE(info.Embeddable);
    EXPECT_TRUE(info.Subsettable);
    EXPECT_EQ(info.FsType, 0);
    // Every single-byte code, read in the character set's code page.
    std::string data = FontData(TzoPDFFont(MakeFont(c.name, 12, c.charset), 0, true, false));
    FreeTypeFace ft(data);
    ASSERT_TRUE(ft.Face());
    std::vector<double> advances = j.Numbers("advances");
    for (int code = 32; code <= 255; ++code) {
      const char byte = static_cast<char>(code);
      std::u16string w = platform::MultiByteToWide(platform::CodePageOfCharset(c.charset),
                                                   std::string_view(&byte, 1));
      ASSERT_EQ(w.size(), 1u);
      size_t glyph = FT_Get_Char_Index(ft.Face(), w[0]);
      EXPECT_NEAR(info.Width(code), std::nearbyint(PixelsToPoints(pixels(advances.at(glyph)))), 1)
          << code;
    }
  }
}

TEST(PDFFont, InformationBeforeMeasurementAndFontsThatAreNotTrueType) {
  SV_REQUIRE_TEST_FONTS();
  TzoPDFFontInfo info(MakeFont("Arial", 24, 0));
  EXPECT_TRUE(
      std::all_of(info.Widths.begin(), info.Widths.end(), [](int32_t w) { return w == 600; }));
  EXPECT_EQ(info.FontBBox, (ui::TRect{-250, -200, 1000, 900}));
  EXPECT_EQ(info.StrikeoutSize, 1);      // 24 div 20
  EXPECT_EQ(info.StrikeoutPosition, 6);  // |-32| div 5
  EXPECT_EQ(info.UnderlineSize, 2);      // 24 div 10
  EXPECT_EQ(info.UnderlinePosition, -1);
  EXPECT_EQ(info.FontKind, fkOther);

  // Any height, even the most negative one, is measured without overflow.
  ui::TFont huge = MakeFont("Arial", 12, 0);
  huge.SetHeight(INT32_MIN);
  TzoPDFFontInfo hugeInfo(huge);
  EXPECT_EQ(hugeInfo.StrikeoutPosition, 429496729);
  TzoPDFFont hugeFont(huge, 0, false, false);
  EXPECT_EQ(hugeFont.Info().FontKind, fkTrueType);
  int32_t w = 0, h = 0;
  GetTextExtent(std::u16string(200000, u'W'), huge, w, h);  // 16384 pixels per em at most
  EXPECT_EQ(w, INT32_MAX);
  EXPECT_GT(h, 16384);

  // CFF outlines: a device font; no glyph lists, no font data, no subset.
  TzoPDFFont cff(MakeFont("SvFixture Cff", 12, 0), 0, true, false);
  EXPECT_EQ(cff.Info().FontKind, fkDevice);
  EXPECT_FALSE(cff.HasGlyphLists());
  EXPECT_FALSE(cff.TracksUsedChars());
  rtl::TMemoryStream s;
  s.Assign("kept");
  cff.LoadFontData(s);
  EXPECT_EQ(s.ToString(), "kept");
  EXPECT_FALSE(cff.BuildSubset(s));
  EXPECT_EQ(s.Size(), 0);
  // Measured all the same.
  EXPECT_NE(cff.Info().Ascent, 800.0);
  EXPECT_FALSE(std::all_of(cff.Info().Widths.begin(), cff.Info().Widths.end(),
                           [](int32_t w) { return w == 600; }));
}

TEST(PDFFont, BaseFontNames) {
  SV_REQUIRE_TEST_FONTS();
  constexpr ui::TFontStyles B = ui::fsBold, I = ui::fsItalic;
  struct Case {
    std::string name;
    ui::TFontCharset charset;
    ui::TFontStyles style;
    bool checkCharset;
    TzoFontKind kind;
    std::string baseFont;  // UTF-8
  } cases[] = {
      {"Arial", 0, B | I, false, fkTrueType, "Arial,BoldItalic"},
      {"Arial", 0, B, false, fkTrueType, "Arial,Bold"},
      {"Arial", 0, I, false, fkTrueType, "Arial,Italic"},
      {"Arial", 0, 0, true, fkTrueType, "Arial"},
      {"Times New Roman", 0, 0, false, fkTrueType, "TimesNewRoman"},
      {"MS Gothic", 128, 0, true, fkTrueType, "MSGothic"},
      {"ＭＳ ゴシック", 128, 0, false, fkTrueType, "ＭＳゴシック"},
      {"Symbol", 2, B, false, fkTrueType, "Symbol"},
      {"SvFixture Cff", 0, B, false, fkDevice, "SvFixtureCff,Bold"},
      // The family does not list the character set: a standard font by family and style.
      {"Arial", 1, 0, true, fkOther, "Helvetica"},
      {"Times New Roman", 1, 0, true, fkOther, "Times-Roman"},
      {"Times New Roman", 1, B, true, fkOther, "Times-Bold"},
      {"DejaVu Sans Mono", 1, 0, true, fkOther, "Courier"},
      {"Courier", 2, 0, true, fkOther, "Courier"},
      {"Arial", 2, 0, true, fkOther, "ZapfDingbats"},
      {"Arial", 129, 0, true, fkOther, "Symbol"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " " + std::to_string(c.charset) + " " + std::to_string(c.style));
    TzoPDFFont font(MakeFont(c.name, 12, c.charset, c.style), 0, false, c.checkCharset);
    EXPECT_EQ(font.Info().FontKind, c.kind);
    EXPECT_EQ(font.BaseFontName(), platform::Utf8ToAnsi(c.baseFont));
  }
  // As a PDF name: code-page bytes escaped.
  TzoPDFFont jp(MakeFont("ＭＳ ゴシック", 12, 128), 0, false, false);
  EXPECT_EQ(jp.PDFBaseFontName(), "/#82l#82r#83S#83V#83b#83N");
  EXPECT_EQ(TzoPDFFont(MakeFont("Arial", 12, 0, B), 0, false, false).PDFBaseFontName(),
            "/Arial,Bold");
  EXPECT_EQ(PDFNameText("A (b)#/%"), "A#20#28b#29#23#2F#25");
}

TEST(PDFFont, EncodeTextRecordsTheUsedCharacters) {
  SV_REQUIRE_TEST_FONTS();
  TzoPDFFont font(MakeFont("DejaVu Sans", 12, 0), 0, true, false);
  ASSERT_TRUE(font.TracksUsedChars());
  const std::string a = sv::test::Hex4(font.GlyphOf('A')), sp = sv::test::Hex4(font.GlyphOf(' ')),
                    b = sv::test::Hex4(font.GlyphOf('B'));
  std::string hex = "unchanged";
  font.EncodeText(u"", 0, hex);
  EXPECT_EQ(hex, "unchanged");
  font.EncodeText(u"A B", 0, hex);
  EXPECT_EQ(hex, a + sp + b);
  EXPECT_EQ(font.UsedChars(), (std::vector<uint32_t>{'A', 'B'}));
  font.EncodeText(u"BA", 0, hex);
  EXPECT_EQ(hex, b + a);
  EXPECT_EQ(font.UsedChars().size(), 2u);
  // A character the font lacks draws glyph 0 (and is still counted as used).
  font.EncodeText(u"\u4E00", 0, hex);
  EXPECT_EQ(hex, "0000");
  EXPECT_TRUE(font.TakeUsedChar(0x4E00));
  EXPECT_FALSE(font.TakeUsedChar(0x4E00));
  EXPECT_EQ(font.UsedChars(), (std::vector<uint32_t>{'A', 'B'}));

  // A supplementary character is one glyph; glyph ids need four digits, not more.
  TzoPDFFont ipa(MakeFont("MS Gothic", 12, 128), 0, false, false);
  ASSERT_TRUE(ipa.HasGlyphLists());  // not western: the map is read without embedding
  EXPECT_FALSE(ipa.TracksUsedChars());
  ipa.EncodeText(u"\U0002000B\u5186", 128, hex);
  EXPECT_EQ(hex, sv::test::Hex4(ipa.GlyphOf(0x2000B)) + sv::test::Hex4(ipa.GlyphOf(0x5186)));
  EXPECT_NE(ipa.GlyphOf(0x2000B), 0);
  EXPECT_TRUE(ipa.UsedChars().empty());
  // A western font measured for drawing only has no glyph lists.
  TzoPDFFont western(MakeFont("Arial", 12, 0), 0, false, false);
  EXPECT_FALSE(western.HasGlyphLists());
}

namespace {

// The ToUnicode CMap's mappings: glyph -> UTF-16BE hex; problems with its syntax.
std::map<uint16_t, std::string> ParseToUnicode(const std::string& text, std::string& problems) {
  std::map<uint16_t, std::string> map;
  std::vector<std::string> lines;
  for (size_t at = 0;;) {
    size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  if (lines.back() != "%%EOF") problems += "no %%EOF at the end; ";
  if (std::find(lines.begin(), lines.end(), "<0000> <FFFF>") == lines.end())
    problems += "codespace is not <0000> <FFFF>; ";
  auto add = [&](uint32_t glyph, const std::string& dest) {
    if (!map.emplace(static_cast<uint16_t>(glyph), dest).second)
      problems += "glyph " + std::to_string(glyph) + " mapped twice; ";
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    std::istringstream head(lines[i]);
    size_t count;
    std::string kind;
    if (!(head >> count >> kind) || (kind != "beginbfchar" && kind != "beginbfrange")) continue;
    if (count == 0 || count > 100) problems += "a block of " + std::to_string(count) + "; ";
    for (size_t k = 1; k <= count; ++k) {
      std::string l = lines.at(i + k);
      std::vector<std::string> hex;
      for (size_t p = l.find('<'); p != std::string::npos; p = l.find('<', p + 1))
        hex.push_back(l.substr(p + 1, l.find('>', p) - p - 1));
      if (kind == "beginbfchar" && hex.size() == 2 && hex[0].size() == 4) {
        add(std::stoul(hex[0], nullptr, 16), hex[1]);
      } else if (kind == "beginbfrange" && hex.size() == 3 && hex[2].size() == 4) {
        uint32_t lo = std::stoul(hex[0], nullptr, 16), hi = std::stoul(hex[1], nullptr, 16);
        uint32_t dest = std::stoul(hex[2], nullptr, 16);
        if (hi < lo || (lo >> 8) != (hi >> 8) || (dest & 0xFF) + (hi - lo) > 0xFF)
          problems += "bad range " + l + "; ";
        for (uint32_t g = lo; g <= hi; ++g)
          add(g, sv::test::Hex4(dest + (g - lo)));
      } else {
        problems += "bad entry " + l + "; ";
      }
    }
    if (lines.at(i + count + 1) != (kind == "beginbfchar" ? "endbfchar" : "endbfrange"))
      problems += "block of " + std::to_string(count) + " not ended; ";
  }
  return map;
}

uint32_t DecodeUtf16Hex(const std::string& hex) {
  uint32_t hi = std::stoul(hex.substr(0, 4), nullptr, 16);
  if (hex.size() == 8)
    return 0x10000 + ((hi - 0xD800) << 10) + (std::stoul(hex.substr(4), nullptr, 16) - 0xDC00);
  return hi;
}

}  // namespace

TEST(PDFFont, ToUnicodeCMapMapsEveryGlyphOnce) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  std::vector<std::pair<uint32_t, uint16_t>> judge = JudgeCmap(t.ipaGothic);
  // A glyph that two characters share, and the second of them.
  std::map<uint16_t, std::vector<uint32_t>> byGlyph;
  for (auto [code, glyph] : judge)
    byGlyph[glyph].push_back(code);
  auto shared =
      std::find_if(byGlyph.begin(), byGlyph.end(), [](auto& e) { return e.second.size() > 1; });
  ASSERT_NE(shared, byGlyph.end());
  const uint32_t second = shared->second[1];

  TzoPDFFont font(MakeFont("MS Gothic", 12, 128), 0, true, false);
  std::string hex;
  font.EncodeText(std::u16string(1, static_cast<char16_t>(second)), 128, hex);
  rtl::TMemoryStream out;
  font.BuildToUnicodeCMap(out);
  EXPECT_EQ(out.ToString(), font.CMapText());
  std::string problems;
  std::map<uint16_t, std::string> cmap = ParseToUnicode(font.CMapText(), problems);
  EXPECT_EQ(problems, "");
  EXPECT_EQ(cmap.size(), byGlyph.size());  // one line per glyph
  std::string data = FontData(font);
  FreeTypeFace ft(data);
  ASSERT_TRUE(ft.Face());
  size_t wrong = 0;
  for (auto& [glyph, codes] : byGlyph) {
    auto it = cmap.find(glyph);
    if (it == cmap.end() || FT_Get_Char_Index(ft.Face(), DecodeUtf16Hex(it->second)) != glyph)
      ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(DecodeUtf16Hex(cmap.at(shared->first)), second);  // the character used wins
  EXPECT_EQ(cmap.at(font.GlyphOf(0x2000B)), "D840DC0B");      // a surrogate pair
  EXPECT_EQ(font.CMapText().substr(0, 30), "%!PS-Adobe-3.0 Resource-CMap\r\n");

  // Nothing without glyph lists.
  TzoPDFFont western(MakeFont("Arial", 12, 0), 0, false, false);
  rtl::TMemoryStream none;
  western.BuildToUnicodeCMap(none);
  EXPECT_EQ(none.Size(), 0);
}

TEST(PDFFont, WithoutAnyFontInstalled) {
  SV_REQUIRE_TEST_FONTS();
  sv::test::TempDir dir;
  sv::test::WriteFile(dir / "empty.conf", "<?xml version=\"1.0\"?>\n<fontconfig><dir>" +
                                              dir / "none" + "</dir><cachedir>" + dir / "cache" +
                                              "</cachedir></fontconfig>\n");
  ASSERT_TRUE(platform::UseFontConfiguration(dir / "empty.conf"));
  struct Restore {
    ~Restore() { EXPECT_TRUE(platform::UseFontConfiguration(UseTestFonts().config)); }
  } restore;

  int32_t w = -1, h = -1;
  GetTextExtent(std::string_view("abc"), MakeFont("Arial", 12, 0), w, h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  std::vector<uint8_t> sets;
  GetFontCharsets("Arial", sets);
  EXPECT_TRUE(sets.empty());
  TzoPDFFont font(MakeFont("Arial", 12, 0), 7, true, true);
  EXPECT_EQ(font.Info().UserValue, 7);
  EXPECT_EQ(font.Info().FontKind, fkOther);
  EXPECT_EQ(font.Info().Width('A'), 600);
  EXPECT_EQ(font.BaseFontName(), "Arial");
  EXPECT_FALSE(font.HasGlyphLists());
  std::string hex;
  font.EncodeText(u"ab", 0, hex);
  EXPECT_EQ(hex, "00000000");
  rtl::TMemoryStream s;
  EXPECT_FALSE(font.BuildSubset(s));
  EXPECT_EQ(TzoPDFFont(MakeFont("Helvetica", 12, 0), 0, false, false).BaseFontName(), "Helvetica");
}

TEST(PDFFont, CharacterSetsAndCodePages) {
  EXPECT_EQ(CharsetOfACP(), 128);
  EXPECT_EQ(DefaultCharset, 128);
  const std::pair<uint32_t, uint8_t> table[] = {
      {1252, 0},   {932, 128},  {936, 134},  {949, 129},  {950, 136},  {874, 222},
      {1250, 238}, {1251, 204}, {1253, 161}, {1254, 162}, {1255, 177}, {1256, 178},
      {1257, 186}, {1258, 163}, {1361, 130}, {437, 0},    {65001, 0}};
  for (auto [codePage, charset] : table)
    EXPECT_EQ(CharsetOfCodePage(codePage), charset) << codePage;
  EXPECT_EQ(CodePageOfCharset(77), 932u);  // outside the table: the ANSI code page
  // No trailing NULs where double bytes give fewer characters than bytes.
  EXPECT_EQ(CharToWide("\x82\xA0\x82\xA2", 128), u"\u3042\u3044");
  EXPECT_EQ(CharToWide("\xE9", 0), u"\u00E9");
  EXPECT_EQ(StandardFontNames[13], "ZapfDingbats");
}
