// TrueType subsets: judged by fontTools (checksums, directory, glyphs byte-equal or empty) and
// FreeType (every kept glyph loads), rendered by pdftoppm like the whole font, embedding rights,
// and hostile font data.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <sstream>

#include "pdf/document/zoPDFFont.h"
#include "platform/CodePage.h"
#include "tests/pdf/document/PDFFontTestSupport.h"

using sv::test::FontData;
using sv::test::FreeTypeFace;
using sv::test::JudgeOutput;
using sv::test::MakeFont;
using sv::test::RunFontJudge;
using sv::test::UseTestFonts;

namespace {

std::string Codes(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
    if (c != ' ') out += (out.empty() ? "" : ",") + std::to_string(c);
  }
  return out;
}

// fontTools' verdict on a subset of source for the characters codes; the glyphs it says must stay.
std::vector<int> JudgeSubset(const std::string& subset, const std::string& source,
                             const std::string& codes, std::vector<std::string>* tags = nullptr) {
  sv::test::TempDir dir;
  sv::test::WriteFile(dir / "subset.ttf", subset);
  sv::test::WriteFile(dir / "source.ttf", source);
  sv::test::CommandResult r =
      RunFontJudge({"subset", dir / "subset.ttf", dir / "source.ttf", codes});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  JudgeOutput j(r.out);
  for (const std::string& p : j.Lines("problem"))
    ADD_FAILURE() << p;
  if (tags && !j.Lines("tags").empty()) {
    std::istringstream in(j.Lines("tags")[0]);
    std::string tag;
    while (std::getline(in, tag, '|'))
      tags->push_back(tag);
  }
  std::vector<int> kept;
  for (double g : j.Numbers("kept"))
    kept.push_back(static_cast<int>(g));
  return kept;
}

struct Case {
  std::string name;
  ui::TFontCharset charset;
  std::u16string text;
  bool hinting;  // the font has cvt, fpgm and prep
};

std::vector<Case> Cases() {
  return {
      {"MS Gothic", 128, u"10～20―円", true},  // long loca
      {"DejaVu Sans", 0, u"Abé", true},        // composite glyphs
      {"SvFixture Short", 0, u"Abé É", true},  // short loca
      {"SvFixture Bare", 0, u"Aé", false},     // no cvt, fpgm, prep
      {"SvFixture CollB", 0, u"Ab", true},     // a face of a collection
  };
}

}  // namespace

TEST(Subset, KeepsTheUsedGlyphsUnderTheirNumbers) {
  SV_REQUIRE_TEST_FONTS();
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    TzoPDFFont font(MakeFont(c.name, 12, c.charset), 0, true, false);
    std::string hex;
    font.EncodeText(c.text, c.charset, hex);
    const std::string whole = FontData(font);
    rtl::TMemoryStream stream;
    ASSERT_TRUE(font.BuildSubset(stream));
    const std::string subset = stream.ToString();
    EXPECT_LT(subset.size(), whole.size());
    EXPECT_TRUE(font.UsedChars().empty());  // consumed

    std::vector<std::string> tags;
    std::vector<int> kept = JudgeSubset(subset, whole, Codes(c.text), &tags);
    ASSERT_GE(kept.size(), 3u);
    std::vector<std::string> expected;
    for (std::string_view tag : TzoPDFFont::TableTags)
      if (c.hinting || (tag != "cvt " && tag != "fpgm" && tag != "prep"))
        expected.emplace_back(tag);
    EXPECT_EQ(tags, expected);

    // FreeType loads every kept glyph with the source's outline, hinted and unhinted.
    FreeTypeFace sub(subset), src(whole);
    ASSERT_TRUE(sub.Face());
    ASSERT_TRUE(src.Face());
    FT_Set_Pixel_Sizes(sub.Face(), 0, 40);
    for (int g : kept) {
      ASSERT_EQ(FT_Load_Glyph(src.Face(), g, FT_LOAD_NO_SCALE), 0);
      const int points = src.Face()->glyph->outline.n_points;
      ASSERT_EQ(FT_Load_Glyph(sub.Face(), g, FT_LOAD_NO_SCALE), 0) << g;
      EXPECT_EQ(sub.Face()->glyph->outline.n_points, points) << g;
      EXPECT_EQ(FT_Load_Glyph(sub.Face(), g, FT_LOAD_DEFAULT), 0) << g;
    }
    // A second subset has nothing left to keep but glyph 0.
    rtl::TMemoryStream again;
    ASSERT_TRUE(font.BuildSubset(again));
    EXPECT_EQ(JudgeSubset(again.ToString(), whole, ""), std::vector<int>{0});
  }
}

TEST(Subset, RendersLikeTheWholeFont) {
  SV_REQUIRE_TEST_FONTS();
  SV_REQUIRE_JUDGES("pdftoppm", "pdftotext", "pdffonts", "mutool");
  for (const Case& c : {Cases()[0], Cases()[1]}) {
    SCOPED_TRACE(c.name);
    TzoPDFFont font(MakeFont(c.name, 12, c.charset), 0, true, false);
    std::string hex;
    font.EncodeText(c.text, c.charset, hex);
    rtl::TMemoryStream cmap, stream;
    font.BuildToUnicodeCMap(cmap);
    const std::string whole = FontData(font);
    ASSERT_TRUE(font.BuildSubset(stream));
    sv::test::TempDir dir;
    sv::test::WriteFile(dir / "whole.pdf",
                        sv::test::OnePagePDF(whole, hex, font.GlyphWidths(), cmap.ToString()));
    sv::test::WriteFile(
        dir / "subset.pdf",
        sv::test::OnePagePDF(stream.ToString(), hex, font.GlyphWidths(), cmap.ToString()));
    for (const char* name : {"whole", "subset"}) {
      auto r = sv::test::RunCommand(
          {"pdftoppm", "-r", "96", "-gray", dir / (std::string(name) + ".pdf"), dir / name});
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    const std::string a = sv::test::ReadFile(dir / "whole-1.pgm");
    const std::string b = sv::test::ReadFile(dir / "subset-1.pgm");
    EXPECT_TRUE(a == b) << "the subset renders differently";
    size_t dark = std::count_if(a.begin() + 20, a.end(),
                                [](char p) { return static_cast<uint8_t>(p) < 128; });
    EXPECT_GT(dark, 200u) << "nothing drawn";

    // Text extraction through the ToUnicode CMap, by poppler and by MuPDF.
    const std::string utf8 = platform::WideToUtf8(c.text);
    auto text = sv::test::RunCommand({"pdftotext", dir / "subset.pdf", "-"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.substr(0, utf8.size()), utf8);
    auto mu =
        sv::test::RunCommand({"mutool", "draw", "-q", "-F", "txt", "-o", "-", dir / "subset.pdf"});
    ASSERT_EQ(mu.exitCode, 0) << mu.err;
    EXPECT_EQ(mu.out.substr(0, utf8.size()), utf8);
    auto fonts = sv::test::RunCommand({"pdffonts", dir / "subset.pdf"});
    EXPECT_NE(fonts.out.find("CID TrueType"), std::string::npos) << fonts.out;
    EXPECT_EQ(fonts.err, "");
  }
}

TEST(Subset, SpacesSharedGlyphsAndEmbeddingRights) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  {
    // Spaces only: nothing is used; the subset holds glyph 0 and is far smaller.
    TzoPDFFont font(MakeFont("DejaVu Sans", 12, 0), 0, true, false);
    std::string hex;
    font.EncodeText(u"   ", 0, hex);
    EXPECT_TRUE(font.UsedChars().empty());
    rtl::TMemoryStream s;
    ASSERT_TRUE(font.BuildSubset(s));
    const std::string whole = FontData(font);
    EXPECT_LT(s.Size() * 10, static_cast<int64_t>(whole.size()));
    EXPECT_EQ(JudgeSubset(s.ToString(), whole, ""), std::vector<int>{0});
  }
  {
    // Two characters of one glyph: the glyph stays, both characters are taken.
    TzoPDFFont font(MakeFont("MS Gothic", 12, 128), 0, true, false);
    std::map<uint16_t, uint32_t> first;
    std::pair<uint32_t, uint32_t> pair{0, 0};
    for (size_t k = 0; k < font.GlyphIds().size() && !pair.first; ++k) {
      auto [it, fresh] = first.emplace(font.GlyphIds()[k], font.CharCodes()[k]);
      if (!fresh && font.CharCodes()[k] < 0x10000) pair = {it->second, font.CharCodes()[k]};
    }
    ASSERT_NE(pair.first, 0u);
    std::string hex;
    font.EncodeText(
        std::u16string{static_cast<char16_t>(pair.first), static_cast<char16_t>(pair.second)}, 128,
        hex);
    EXPECT_EQ(hex.substr(0, 4), hex.substr(4, 4));
    rtl::TMemoryStream s;
    ASSERT_TRUE(font.BuildSubset(s));
    EXPECT_TRUE(font.UsedChars().empty());
    std::vector<int> kept =
        JudgeSubset(s.ToString(), FontData(font),
                    std::to_string(pair.first) + "," + std::to_string(pair.second));
    EXPECT_EQ(kept.size(), 2u);
  }
  {
    // Restricted licence: not embedded; the text still uses the font.
    TzoPDFFont font(MakeFont("SvFixture Restricted", 12, 0), 0, true, false);
    EXPECT_EQ(font.Info().FontKind, fkTrueType);
    EXPECT_EQ(font.Info().FsType, 2);
    EXPECT_FALSE(font.Info().Embeddable);
    std::string hex;
    font.EncodeText(u"Ab", 0, hex);
    EXPECT_EQ(hex, sv::test::Hex4(font.GlyphOf('A')) + sv::test::Hex4(font.GlyphOf('b')));
    rtl::TMemoryStream s;
    s.Assign("old");
    EXPECT_FALSE(font.BuildSubset(s));
    EXPECT_EQ(s.Size(), 0);
  }
  {
    // No subsetting: the whole font.
    TzoPDFFont font(MakeFont("SvFixture NoSubset", 12, 0), 0, true, false);
    EXPECT_TRUE(font.Info().Embeddable);
    EXPECT_FALSE(font.Info().Subsettable);
    std::string hex;
    font.EncodeText(u"Ab", 0, hex);
    rtl::TMemoryStream s;
    ASSERT_TRUE(font.BuildSubset(s));
    EXPECT_EQ(s.ToString(), sv::test::ReadFile(t.noSubset));
  }
}

TEST(Subset, TableChecksums) {
  const uint8_t five[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(TzoPDFFont::TableChecksum(five), 0x01020304u + 0x05000000u);
  EXPECT_EQ(TzoPDFFont::TableChecksum({}), 0u);
  const uint8_t wrap[] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2};
  EXPECT_EQ(TzoPDFFont::TableChecksum(wrap), 1u);
  EXPECT_TRUE(TzoPDFFont::IsSubsetTable("cvt "));
  EXPECT_FALSE(TzoPDFFont::IsSubsetTable("cvt"));
  EXPECT_FALSE(TzoPDFFont::IsSubsetTable("OS/2"));
}

namespace {

// A font file with helpers to patch it: tables found through its directory.
struct Patchable {
  std::string bytes;
  uint32_t U32(size_t at) const {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k)
      v = (v << 8) | static_cast<uint8_t>(bytes.at(at + k));
    return v;
  }
  uint16_t U16(size_t at) const { return static_cast<uint16_t>(U32(at) >> 16); }
  void Put16(size_t at, uint32_t v) {
    bytes.at(at) = static_cast<char>(v >> 8);
    bytes.at(at + 1) = static_cast<char>(v);
  }
  void Put32(size_t at, uint32_t v) {
    Put16(at, v >> 16);
    Put16(at + 2, v & 0xFFFF);
  }
  size_t Record(const char* tag) const {
    for (size_t i = 0; i < U16(4); ++i)
      if (bytes.compare(12 + 16 * i, 4, tag) == 0) return 12 + 16 * i;
    throw std::runtime_error(std::string("no table ") + tag);
  }
  size_t Table(const char* tag) const { return U32(Record(tag) + 8); }
  // Offset of a glyph in the file (short loca fixture).
  size_t Glyph(uint16_t g) const { return Table("glyf") + 2u * U16(Table("loca") + 2u * g); }
  size_t Cmap4() const {
    size_t cmap = Table("cmap");
    for (size_t i = 0; i < U16(cmap + 2); ++i) {
      size_t sub = cmap + U32(cmap + 4 + 8 * i + 4);
      if (U16(cmap + 4 + 8 * i) == 3 && U16(sub) == 4) return sub;
    }
    throw std::runtime_error("no format 4 subtable");
  }
};

// Everything the font code reads of a font, over all its glyphs.
void UseAll(const std::string& bytes) {
  TzoTrueTypeData data(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                       "Hostile");
  data.ReadCmap();
  data.ReadGlyphWidths();
  std::vector<bool> all(data.NumGlyphs(), true);
  data.BuildSubset(data.CloseOverComposites(all));
}

}  // namespace

TEST(Subset, HostileFontDataGivesTheFontError) {
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  const Patchable original{sv::test::ReadFile(t.shortLoca)};
  ASSERT_NO_THROW(UseAll(original.bytes));
  TzoPDFFont probe(MakeFont("SvFixture Short", 12, 0), 0, true, false);
  const uint16_t e = probe.GlyphOf(u'é'), egrave = probe.GlyphOf(u'è'), a = probe.GlyphOf('A');
  ASSERT_TRUE(e && egrave && a);

  struct Mutation {
    const char* what;
    std::function<void(Patchable&)> apply;
  } mutations[] = {
      {"empty", [](Patchable& f) { f.bytes.clear(); }},
      {"cut in the offset table", [](Patchable& f) { f.bytes.resize(11); }},
      {"cut in the directory", [](Patchable& f) { f.bytes.resize(40); }},
      {"cut in the tables", [](Patchable& f) { f.bytes.resize(f.bytes.size() * 3 / 5); }},
      {"table offset past the end",
       [](Patchable& f) { f.Put32(f.Record("glyf") + 8, 0xFFFFFF00u); }},
      {"table length past the end",
       [](Patchable& f) { f.Put32(f.Record("hmtx") + 12, 0x7FFFFFFFu); }},
      {"no head", [](Patchable& f) { f.bytes.replace(f.Record("head"), 4, "xxxx"); }},
      {"unitsPerEm 0", [](Patchable& f) { f.Put16(f.Table("head") + 18, 0); }},
      {"unknown loca format", [](Patchable& f) { f.Put16(f.Table("head") + 50, 7); }},
      {"more glyphs than loca", [](Patchable& f) { f.Put16(f.Table("maxp") + 4, 0xFFFF); }},
      {"loca out of order", [a](Patchable& f) { f.Put16(f.Table("loca") + 2u * a, 0x7FFF); }},
      {"loca past glyf",
       [&](Patchable& f) {
         uint16_t n = f.U16(f.Table("maxp") + 4);
         f.Put16(f.Table("loca") + 2u * n, f.U32(f.Record("glyf") + 12) / 2 + 2);
       }},
      {"composite naming itself", [e](Patchable& f) { f.Put16(f.Glyph(e) + 12, e); }},
      {"composites naming each other",
       [e, egrave](Patchable& f) {
         f.Put16(f.Glyph(e) + 12, egrave);
         f.Put16(f.Glyph(egrave) + 12, e);
       }},
      {"component past the glyph count", [e](Patchable& f) { f.Put16(f.Glyph(e) + 12, 0xFFF0); }},
      {"composite without end",
       [e](Patchable& f) {
         // Every component claims another after it.
         size_t p = f.Glyph(e) + 10;
         for (int k = 0; k < 8; ++k) {
           uint16_t flags = f.U16(p);
           f.Put16(p, flags | 0x20);
           p += 4 + ((flags & 1) ? 4 : 2) +
                ((flags & 8)      ? 2
                 : (flags & 0x40) ? 4
                 : (flags & 0x80) ? 8
                                  : 0);
         }
       }},
      {"cmap subtables past the table",
       [](Patchable& f) {
         size_t cmap = f.Table("cmap");
         for (size_t i = 0; i < f.U16(cmap + 2); ++i)
           f.Put32(cmap + 4 + 8 * i + 4, 0xFFFFFF00u);
       }},
      {"cmap records past the table", [](Patchable& f) { f.Put16(f.Table("cmap") + 2, 0xFFFF); }},
      {"odd segment count", [](Patchable& f) { f.Put16(f.Cmap4() + 6, 7); }},
      {"segments past the table", [](Patchable& f) { f.Put16(f.Cmap4() + 6, 0xFFFE); }},
      {"glyph index past the table",
       [](Patchable& f) {
         size_t sub = f.Cmap4();
         uint16_t segX2 = f.U16(sub + 6);
         f.Put16(sub + 16 + 3u * segX2, 0x7FF0);  // idRangeOffset of the first segment
       }},
      {"no horizontal metrics", [](Patchable& f) { f.Put16(f.Table("hhea") + 34, 0); }},
      {"more metrics than hmtx", [](Patchable& f) { f.Put16(f.Table("hhea") + 34, 0xFFFF); }},
  };
  for (const Mutation& m : mutations) {
    SCOPED_TRACE(m.what);
    Patchable f = original;
    m.apply(f);
    try {
      UseAll(f.bytes);
      ADD_FAILURE() << "no error";
    } catch (const EUnsupportedFontError& err) {
      EXPECT_EQ(std::string(err.what()).rfind("Unsupported Font (Hostile: ", 0), 0u) << err.what();
    }
  }

  // Random damage: either it works or it is the font error, nothing else.
  std::mt19937 rng(16);
  int errors = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = original.bytes;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < flips; ++k)
      bytes[rng() % (round % 2 ? 400 : bytes.size())] = static_cast<char>(rng());
    if (round % 7 == 0) bytes.resize(rng() % bytes.size());
    try {
      UseAll(bytes);
    } catch (const EUnsupportedFontError&) {
      ++errors;
    }
  }
  EXPECT_GT(errors, 100);
}

TEST(Subset, AFontWithACompositeLoopIsAFontError) {
  SV_REQUIRE_TEST_FONTS();
  // FreeType opens the font; only the loop in "é" is wrong.
  TzoPDFFont font(MakeFont("SvFixture Loop", 12, 0), 0, true, false);
  ASSERT_EQ(font.Info().FontKind, fkTrueType);
  std::string hex;
  font.EncodeText(u"Aé", 0, hex);
  rtl::TMemoryStream s;
  try {
    font.BuildSubset(s);
    ADD_FAILURE() << "no error";
  } catch (const EUnsupportedFontError& e) {
    EXPECT_NE(std::string(e.what()).find("loop"), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).rfind("Unsupported Font (SvFixture Loop: ", 0), 0u) << e.what();
  }
}

// The subset's character map holds the characters encoded and the space, each with its glyph,
// as fontTools reads it: a format 4 map, and a format 12 one when a character lies beyond
// U+FFFF.
TEST(Subset, ItsCharacterMapHoldsTheUsedCharactersOnly) {
  SV_REQUIRE_TEST_FONTS();
  const struct {
    const char* name;
    std::u16string text;
  } cases[] = {
      {"MS Gothic", u"10～20―円 社外秘"},
      {"DejaVu Sans", u"Aé \U00010300\U00010301b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TzoPDFFont font(MakeFont(c.name, 12, 128), 0, true, false);
    std::string hex;
    font.EncodeText(c.text, 128, hex);
    std::set<std::pair<uint32_t, uint16_t>> expected = {{32, font.GlyphOf(32)}};
    for (size_t i = 0; i < c.text.size();) {
      const uint32_t code = platform::NextCodePoint(c.text, i);
      ASSERT_NE(font.GlyphOf(code), 0) << code;
      expected.emplace(code, font.GlyphOf(code));
    }
    rtl::TMemoryStream stream;
    ASSERT_TRUE(font.BuildSubset(stream));
    sv::test::TempDir dir;
    sv::test::WriteFile(dir / "subset.ttf", stream.ToString());
    sv::test::CommandResult r = RunFontJudge({"cmap", dir / "subset.ttf"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const JudgeOutput j(r.out);
    std::set<std::pair<uint32_t, uint16_t>> listed;
    for (const std::string& line : j.Lines("pairs")) {
      std::istringstream in(line);
      uint32_t code = 0, glyph = 0;
      in >> code >> glyph;
      listed.emplace(code, static_cast<uint16_t>(glyph));
    }
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(JudgeSubset(stream.ToString(), FontData(font), Codes(c.text)).size() >= 3);
  }
}
