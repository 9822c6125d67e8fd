// The font layer: finding faces through the alias table and fontconfig, metrics as GDI gives
// them (judged by fontTools through the formulas), text widths, a collection face as a standalone
// file, the character sets of a family, what it keeps between calls.
#include "platform/Fonts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/FontTestSupport.h"

using namespace platform;
using sv::test::JudgeOutput;
using sv::test::RunFontJudge;
using sv::test::UseTestFonts;

namespace {

std::string BaseName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

std::unique_ptr<FontFace> Find(const std::string& family, uint8_t charset = 1, int weight = 400,
                               bool italic = false) {
  FontRequest r;
  r.family = family;
  r.height = -16;
  r.charset = charset;
  r.weight = weight;
  r.italic = italic;
  return FontFace::Find(r);
}

JudgeOutput Metrics(const std::string& path) {
  sv::test::CommandResult r = RunFontJudge({"metrics", path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return JudgeOutput(r.out);
}

int32_t Formula(double v, int32_t ppem, double upem) {
  return static_cast<int32_t>(std::lround(v * ppem / upem));
}

}  // namespace

TEST(FontLayer, FindsFacesThroughTheAliasTableAndPrefersTrueType) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  struct Case {
    std::string family;
    uint8_t charset;
    int weight;
    std::string file;  // expected file
    int index;
  } cases[] = {
      {"MS Gothic", 128, 400, t.ipaGothic, 0},
      {"ＭＳ ゴシック", 128, 400, t.ipaGothic, 0},
      {"MS UI Gothic", 128, 400, t.ipaGothic, 0},
      {"ms pgothic", 128, 400, t.ipaPGothic, 0},
      {"ＭＳ Ｐゴシック", 128, 400, t.ipaPGothic, 0},
      {"Meiryo", 1, 400, t.ipaPGothic, 0},
      {"Arial", 0, 400, t.liberationSans, 0},
      {"ARIAL", 0, 700, t.liberationSans, 0},
      {"Courier New", 0, 400, t.liberationMono, 0},
      {"DejaVu Sans Mono", 0, 400, t.dejaVuSansMono, 0},
      {"SvFixture CollB", 0, 400, t.collection, 1},
      {"SvFixture CollA", 0, 400, t.collection, 0},
      // fontconfig ranks the bold CFF face first; the family's TrueType face wins.
      {"SvFixture Mixed", 0, 700, t.mixedTrueType, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family);
    auto face = Find(c.family, c.charset, c.weight);
    ASSERT_TRUE(face);
    EXPECT_EQ(BaseName(face->FilePath()), BaseName(c.file));
    EXPECT_EQ(face->FaceIndex(), c.index);
  }
  // An unknown family: a face that covers the language of the character set.
  auto jp = Find("No Such Family", 128);
  ASSERT_TRUE(jp);
  std::vector<uint8_t> sets = jp->Charsets();
  EXPECT_NE(std::find(sets.begin(), sets.end(), 128), sets.end()) << jp->FamilyName();
  EXPECT_EQ(jp->Metrics().charSet, 128);
  // The CFF face is still there for whoever names it exactly by its own file.
  auto cff = FontFace::Open(t.mixedCff, 0, -16);
  ASSERT_TRUE(cff);
  EXPECT_TRUE(cff->IsSfnt());
  EXPECT_FALSE(cff->IsTrueType());
  EXPECT_EQ(FontFamilyAlias("Times New Roman"), "Liberation Serif");
  EXPECT_EQ(FontFamilyAlias("ＭＳ 明朝"), "IPAMincho");
  EXPECT_EQ(FontFamilyAlias("MS PMincho"), "IPAPMincho");
  EXPECT_EQ(FontFamilyAlias("Verdana"), "Verdana");
}

TEST(FontLayer, MetricsAreTheTablesThroughTheFormulas) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  for (const std::string& path : {t.ipaGothic, t.ipaPGothic, t.dejaVuSans, t.dejaVuSansMono,
                                  t.liberationSans, t.liberationMono, t.shortLoca}) {
    JudgeOutput j = Metrics(path);
    const double upem = j.Number("unitsPerEm");
    ASSERT_GT(upem, 0) << path;
    const double asc = j.Number("winAscent"), desc = j.Number("winDescent");
    for (int height : {-16, -1333, 20}) {
      SCOPED_TRACE(BaseName(path) + " height " + std::to_string(height));
      auto face = FontFace::Open(path, 0, height);
      ASSERT_TRUE(face);
      const TextMetrics& m = face->Metrics();
      int32_t ppem =
          height < 0 ? -height : static_cast<int32_t>(std::lround(height * upem / (asc + desc)));
      EXPECT_EQ(m.ppem, ppem);
      EXPECT_NEAR(m.ascent, Formula(asc, ppem, upem), 1);
      EXPECT_NEAR(m.descent, Formula(desc, ppem, upem), 1);
      EXPECT_EQ(m.height, m.ascent + m.descent);
      EXPECT_EQ(m.internalLeading, m.height - ppem);
      EXPECT_NEAR(m.aveCharWidth, Formula(j.Number("xAvgCharWidth"), ppem, upem), 1);
      EXPECT_NEAR(m.maxCharWidth, Formula(j.Number("advanceWidthMax"), ppem, upem), 1);
      EXPECT_EQ(m.weight, j.Number("weightClass"));
      EXPECT_EQ(m.italic != 0, (static_cast<int>(j.Number("fsSelection")) & 0x201) != 0);
      EXPECT_NEAR(m.underscorePosition, Formula(j.Number("underlinePosition"), ppem, upem), 1);
      EXPECT_NEAR(m.underscoreSize, Formula(j.Number("underlineThickness"), ppem, upem), 1);
      EXPECT_NEAR(m.strikeoutPosition, Formula(j.Number("strikeoutPosition"), ppem, upem), 1);
      EXPECT_NEAR(m.strikeoutSize, Formula(j.Number("strikeoutSize"), ppem, upem), 1);
      EXPECT_NEAR(m.capEmHeight, Formula(j.Number("capHeight"), ppem, upem), 1);
      EXPECT_EQ(m.italicAngle, std::lround(j.Number("italicAngle") * 10));
      EXPECT_EQ(m.fsType, j.Number("fsType"));
      EXPECT_EQ(m.emSquare, upem);
      EXPECT_TRUE(m.pitchAndFamily & TMPF_VECTOR);
      EXPECT_TRUE(m.pitchAndFamily & TMPF_TRUETYPE);
      // Every glyph's advance (those past numberOfHMetrics take the last one).
      std::vector<double> adv = j.Numbers("advances");
      ASSERT_EQ(adv.size(), j.Number("numGlyphs"));
      for (size_t g = 0; g < adv.size(); ++g)
        if (face->GlyphAdvance(static_cast<uint32_t>(g)) != Formula(adv[g], ppem, upem)) {
          ADD_FAILURE() << "advance of glyph " << g;
          break;
        }
    }
  }
}

// One rule for fixed pitch: post.isFixedPitch or a PANOSE proportion of "monospaced". IPAGothic
// says proportional in post and monospaced in PANOSE: it is fixed pitch, as its model is.
TEST(FontLayer, PitchAndFamilyAsWindowsSetsThem) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  struct Case {
    std::string path;
    bool fixed;
    uint8_t family;
  } cases[] = {
      {t.ipaGothic, true, FF_MODERN},      {t.ipaPGothic, false, FF_SWISS},
      {t.dejaVuSans, false, FF_SWISS},     {t.dejaVuSansMono, true, FF_MODERN},
      {t.liberationSans, false, FF_SWISS}, {t.liberationMono, true, FF_MODERN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(BaseName(c.path));
    auto face = FontFace::Open(c.path, 0, -16);
    ASSERT_TRUE(face);
    uint8_t pf = face->Metrics().pitchAndFamily;
    EXPECT_EQ((pf & TMPF_FIXED_PITCH) == 0, c.fixed);
    EXPECT_EQ(FontFamilyOf(pf), c.family);
    EXPECT_EQ(pf & (TMPF_VECTOR | TMPF_TRUETYPE | TMPF_DEVICE), TMPF_VECTOR | TMPF_TRUETYPE);
  }
  JudgeOutput ipa = Metrics(t.ipaGothic);
  EXPECT_EQ(ipa.Number("isFixedPitch"), 0);
  EXPECT_EQ(ipa.Numbers("panose").at(3), 9);
  auto cff = FontFace::Open(t.mixedCff, 0, -16);
  ASSERT_TRUE(cff);
  EXPECT_EQ(cff->Metrics().pitchAndFamily & (TMPF_TRUETYPE | TMPF_DEVICE), TMPF_DEVICE);
}

TEST(FontLayer, TextWidthIsTheSumOfTheAdvances) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  auto lib = FontFace::Open(t.liberationSans, 0, -40);
  ASSERT_TRUE(lib);
  // "AV" is a kerning pair of the font; widths take no kerning.
  int32_t a = lib->GlyphAdvance(lib->GlyphIndex('A')), v = lib->GlyphAdvance(lib->GlyphIndex('V'));
  EXPECT_GT(a, 0);
  EXPECT_EQ(lib->TextWidth(u"AVAV"), 2 * a + 2 * v);
  EXPECT_EQ(lib->TextWidth(u""), 0);
  EXPECT_EQ(lib->GlyphIndex(0x4E00), 0u);  // a character the font lacks draws glyph 0
  EXPECT_EQ(lib->TextWidth(u"\u4E00"), lib->GlyphAdvance(0));

  auto ipa = FontFace::Open(t.ipaGothic, 0, -16);
  ASSERT_TRUE(ipa);
  uint32_t g = ipa->GlyphIndex(0x2000B);  // a supplementary character of the font
  ASSERT_NE(g, 0u);
  EXPECT_EQ(ipa->TextWidth(u"\U0002000B"), ipa->GlyphAdvance(g));
  EXPECT_EQ(ipa->TextWidth(u"\xD840"), ipa->GlyphAdvance(0));  // a lone surrogate
  EXPECT_EQ(ipa->TextWidth(u"日本"), 2 * ipa->GlyphAdvance(ipa->GlyphIndex(u'日')));
}

TEST(FontLayer, FontDataIsOneStandaloneFace) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  sv::test::TempDir dir;
  for (int index : {0, 1}) {
    SCOPED_TRACE(index);
    auto face = FontFace::Open(t.collection, index, -16);
    ASSERT_TRUE(face);
    std::vector<uint8_t> data;
    ASSERT_TRUE(face->FontData(data));
    EXPECT_NE(std::string(data.begin(), data.begin() + 4), "ttcf");
    std::string file = dir / ("face" + std::to_string(index) + ".ttf");
    sv::test::WriteFile(file, std::string(data.begin(), data.end()));
    sv::test::CommandResult r = RunFontJudge({"face", file, t.collection, std::to_string(index)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    JudgeOutput j(r.out);
    EXPECT_TRUE(j.Lines("problem").empty()) << r.out;
    EXPECT_EQ(j.Lines("family").at(0), index == 0 ? "SvFixture CollA" : "SvFixture CollB");
    // FreeType reads the standalone face as the same face.
    auto again = FontFace::Open(file, 0, -16);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->FamilyName(), face->FamilyName());
    EXPECT_EQ(again->GlyphIndex('A'), face->GlyphIndex('A'));
  }
  // A single-face file is delivered as it is.
  auto plain = FontFace::Open(t.dejaVuSansMono, 0, -16);
  ASSERT_TRUE(plain);
  std::vector<uint8_t> data;
  ASSERT_TRUE(plain->FontData(data));
  EXPECT_EQ(std::string(data.begin(), data.end()), sv::test::ReadFile(t.dejaVuSansMono));
  // Neither a file that is no font nor a missing file opens.
  sv::test::WriteFile(dir / "junk.ttf", std::string(100, 'x'));
  EXPECT_FALSE(FontFace::Open(dir / "junk.ttf", 0, -16));
  EXPECT_FALSE(FontFace::Open(dir / "missing.ttf", 0, -16));
}

TEST(FontLayer, CharacterSetsOfAFamily) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  EXPECT_EQ(FontFamilyCharsets("IPAGothic"), (std::vector<uint8_t>{0, 128}));
  EXPECT_EQ(FontFamilyCharsets("MS Gothic"), (std::vector<uint8_t>{0, 128}));
  EXPECT_TRUE(FontFamilyCharsets("No Such Family").empty());
  // Liberation Sans: the GDI sets of its code-page bits, in bit order.
  uint32_t bits = static_cast<uint32_t>(Metrics(t.liberationSans).Number("codePageRange1"));
  const std::pair<int, uint8_t> table[] = {{0, 0},   {1, 238}, {2, 204}, {3, 161}, {4, 162},
                                           {5, 177}, {6, 178}, {7, 186}, {8, 163}};
  std::vector<uint8_t> expected;
  for (auto [bit, set] : table)
    if (bits & (1u << bit)) expected.push_back(set);
  EXPECT_EQ(FontFamilyCharsets("Arial"), expected);
  EXPECT_FALSE(expected.empty());
}

// What the layer keeps between calls follows the configuration: fontconfig's answers are asked
// again under another configuration, and the generation tells that it changed.
TEST(FontLayer, KeptLookupsFollowTheConfiguration) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  const uint64_t before = FontConfigurationGeneration();
  EXPECT_EQ(FontConfigurationGeneration(), before);
  ASSERT_TRUE(Find("Arial"));
  EXPECT_EQ(BaseName(Find("Arial")->FilePath()), BaseName(t.liberationSans));
  uint64_t during = 0;
  {
    sv::test::OtherFontConfiguration other({t.dejaVuSansMono});
    ASSERT_TRUE(other.Ok());
    during = FontConfigurationGeneration();
    EXPECT_NE(during, before);
    auto face = Find("Arial");
    ASSERT_TRUE(face);
    EXPECT_EQ(BaseName(face->FilePath()), BaseName(t.dejaVuSansMono));
  }
  EXPECT_NE(FontConfigurationGeneration(), during);
  EXPECT_NE(FontConfigurationGeneration(), before);
  EXPECT_EQ(BaseName(Find("Arial")->FilePath()), BaseName(t.liberationSans));
}

// A font file replaced on disk is read afresh; the data handed out before stays the old file's,
// also after its face is gone.
TEST(FontLayer, AFontFileReplacedOnDiskIsReadAfresh) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  sv::test::TempDir dir;
  const std::string path = dir / "font.ttf";
  sv::test::CopyFile(t.dejaVuSansMono, path);
  auto first = FontFace::Open(path, 0, -16);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->FamilyName(), "DejaVu Sans Mono");
  std::unique_ptr<FontFileData> data = first->MapFontData();
  ASSERT_TRUE(data);
  first.reset();

  sv::test::CopyFile(t.liberationSans, dir / "new.ttf");
  std::filesystem::rename(dir / "new.ttf", path);
  auto second = FontFace::Open(path, 0, -16);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->FamilyName(), "Liberation Sans");
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(second->FontData(bytes));
  EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == sv::test::ReadFile(t.liberationSans));
  EXPECT_TRUE(std::string(data->Bytes().begin(), data->Bytes().end()) ==
              sv::test::ReadFile(t.dejaVuSansMono));
}
