// Formatted text drawn end to end: load, DrawFormattedText, save, and what mutool's structured
// text, mutool trace, pdftoppm, pdffonts and qpdf find in the file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "pdf/document/zoPDFDoc.h"
#include "platform/CodePage.h"
#include "tests/pdf/document/StampTestSupport.h"
#include "tests/support/FontTestSupport.h"

using namespace sv::test;
using namespace stamptest;

namespace {

// ---- mutool draw -F stext ----

// One character as mutool's structured text gives it: its font, size and colour, its origin
// on the baseline and the right edge of its box (device space: y down from the top of the
// page's box).
struct Char {
  std::string font;
  double size = 0;
  std::string color;  // "#rrggbb"
  double x = 0, y = 0, right = 0;
  std::string c;  // UTF-8
};

// Characters of equal font, size, colour and baseline that follow one another.
struct TextRun {
  std::string text, font, color;
  double size = 0, x = 0, y = 0, right = 0;
  // The character spacing: from the end of a character's box to the next one's start (NaN for
  // a run of one character).
  double spacing = NAN;
};

std::string Attr(const std::string& line, const std::string& key) {
  const std::string k = " " + key + "=\"";
  size_t at = line.find(k);
  if (at == std::string::npos) return "";
  at += k.size();
  std::string v = line.substr(at, line.find('"', at) - at);
  // The entities mutool writes: XML's own and &#xHEX; for characters beyond ASCII.
  std::string out;
  for (size_t i = 0; i < v.size();) {
    if (v.compare(i, 3, "&#x") == 0) {
      const size_t end = v.find(';', i);
      uint32_t c = static_cast<uint32_t>(std::stoul(v.substr(i + 3, end - i - 3), nullptr, 16));
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
      i = end + 1;
      continue;
    }
    bool entity = false;
    for (auto [name, ch] : {std::pair{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&amp;", '&'}})
      if (v.compare(i, std::strlen(name), name) == 0) {
        out += ch;
        i += std::strlen(name);
        entity = true;
        break;
      }
    if (!entity) out += v[i++];
  }
  v = out;
  return v;
}

std::vector<Char> SText(const std::string& path, int page = 1) {
  CommandResult r =
      RunCommand({"mutool", "draw", "-F", "stext", "-o", "-", path, std::to_string(page)});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<Char> chars;
  std::string font;
  double size = 0;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    if (line.find("<font ") != std::string::npos) {
      font = Attr(line, "name");
      size = std::stod(Attr(line, "size"));
    } else if (line.find("<char ") != std::string::npos) {
      Char c{font,
             size,
             Attr(line, "color"),
             std::stod(Attr(line, "x")),
             std::stod(Attr(line, "y")),
             0,
             Attr(line, "c")};
      std::istringstream quad(Attr(line, "quad"));
      double q[8] = {};
      for (double& v : q)
        quad >> v;
      c.right = std::max(q[2], q[6]);
      chars.push_back(c);
    }
  }
  return chars;
}

std::vector<TextRun> Runs(const std::vector<Char>& chars) {
  std::vector<TextRun> runs;
  for (const Char& c : chars) {
    if (runs.empty() || runs.back().font != c.font || runs.back().size != c.size ||
        runs.back().color != c.color || std::fabs(runs.back().y - c.y) > 0.01) {
      runs.push_back({"", c.font, c.color, c.size, c.x, c.y, c.right});
    }
    if (!runs.back().text.empty()) runs.back().spacing = c.x - runs.back().right;
    runs.back().text += c.c;
    runs.back().right = c.right;
  }
  return runs;
}

// "text|font|size|colour" of each run, for comparing with a table.
std::vector<std::string> Describe(const std::vector<TextRun>& runs) {
  std::vector<std::string> out;
  for (const TextRun& r : runs) {
    std::ostringstream s;
    s << r.text << "|" << r.font << "|" << r.size << "|" << r.color;
    out.push_back(s.str());
  }
  return out;
}

// The pixels of raster (a 612 x 792 page) within the lower seven tenths of a run's cell, where
// its letters are, that pred accepts.
template <class Pred>
int Pixels(const Raster& raster, const TextRun& r, Pred pred) {
  int n = 0;
  for (double x = r.x; x < r.right; x += 0.25)
    for (double y = r.y - r.size * 0.7; y < r.y; y += 0.25)
      if (pred(raster.At(x, 792 - y))) ++n;
  return n;
}
bool Red(Rgb p) {
  return p.r > 200 && p.g < 80 && p.b < 80;
}
bool Dark(Rgb p) {
  return p.r < 80 && p.g < 80 && p.b < 80;
}

// ---- Fixtures ----

// The stamp fixture (a 612 x 792 page) loaded; the test fonts in use.
std::unique_ptr<TzoPDFDocument> LoadPage(const TempDir& dir, const std::string& name = "in.pdf") {
  return LoadFixture(BuildFixture(Contents::Reference), dir, name);
}

std::string SavedBytes(TzoCustomPDFDocument& doc, const TempDir& dir, const std::string& name) {
  EXPECT_TRUE(doc.SaveToFile(dir / name, 2));
  return ReadFile(dir / name);
}

// ---- The runs of a tagged text ----

TEST(FormattedText, JapaneseAndWesternRunsKeepTheirFontsSizesColoursAndOneBaseline) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadPage(dir);
  doc->SetMeasurementUnit(muInches);
  doc->DrawFormattedText(
      u"Plain <B>bold</B> <FONT SIZE=20 COLOR=#FF0000>Red<FONT FACE=\"ＭＳ ゴシック\" "
      u"CHARSET=SHIFTJIS_CHARSET>社外秘</FONT></FONT> <i>end</I>",
      "1", 1, 0.5);
  EXPECT_EQ(doc->MeasurementUnit(), muInches);
  Save(*doc, dir / "out.pdf");

  const std::vector<TextRun> runs = Runs(SText(dir / "out.pdf"));
  // mutool gives the base font name as the bytes of the file: the face name in code page 932.
  const std::string gothic = platform::Utf8ToAnsi("ＭＳゴシック");
  EXPECT_EQ(Describe(runs),
            (std::vector<std::string>{"Plain |Arial|12|#000000", "bold|Arial,Bold|12|#000000",
                                      " |Arial|12|#000000", "Red|Arial|20|#ff0000",
                                      "社外秘|" + gothic + "|20|#ff0000", " |Arial|12|#000000",
                                      "end|Arial,Italic|12|#000000"}));
  ASSERT_EQ(runs.size(), 7u);
  // The top-left corner at (72, 36); the line's baseline one size of its largest font lower.
  EXPECT_NEAR(runs[0].x, 72, 0.01);
  for (const TextRun& r : runs)
    EXPECT_NEAR(r.y, 36 + 20, 0.01) << r.text;
  // Each run starts where the one before ends: after its last character and the character
  // spacing that follows it (within a screen pixel where a run of one character shows none).
  for (size_t i = 1; i < runs.size(); ++i) {
    const TextRun& before = runs[i - 1];
    if (std::isnan(before.spacing))
      EXPECT_NEAR(runs[i].x, before.right, 0.75) << runs[i].text;
    else
      EXPECT_NEAR(runs[i].x, before.right + before.spacing, 0.02) << runs[i].text;
  }

  // The red run is red on the page, the plain one black.
  const Raster raster = Render(dir / "out.pdf", dir, {0, 0, 612, 792}, 144);
  auto count = [&](const TextRun& r, auto pred) { return Pixels(raster, r, pred); };
  EXPECT_GT(count(runs[3], Red), 20);
  EXPECT_EQ(count(runs[3], Dark), 0);
  // The Japanese run is drawn, not left to a stand-in that lacks its glyphs.
  EXPECT_TRUE(raster.errors.empty()) << raster.errors;
  EXPECT_GT(count(runs[4], Red), 100);
  EXPECT_GT(count(runs[0], Dark), 20);
  EXPECT_EQ(count(runs[0], Red), 0);
}

struct TagCase {
  const char16_t* text;
  std::vector<std::string> runs;  // "text|font|size|colour"
};

TEST(FormattedText, TagLanguage) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  const TagCase cases[] = {
      {u"no tags at all", {"no tags at all|Arial|12|#000000"}},
      // Tags in any case; a closing tag spelled otherwise closes the same style.
      {u"x<b>y</B>z", {"x|Arial|12|#000000", "y|Arial,Bold|12|#000000", "z|Arial|12|#000000"}},
      {u"<I><B>bi</b></i>", {"bi|Arial,BoldItalic|12|#000000"}},
      // A "<" that starts none of the tags is text.
      {u"a<X>b < c <Bold>", {"a<X>b < c <Bold>|Arial|12|#000000"}},
      // FONT with its attributes; the default font comes back after it, and a closing FONT
      // without an open one does nothing.
      {u"<FONT SIZE=20 COLOR=#ff0000 FACE=\"Times New Roman\">x</FONT>y</FONT>z",
       {"x|TimesNewRoman|20|#ff0000", "yz|Arial|12|#000000"}},
      // Colours as written, names in any case.
      {u"<FONT COLOR=#FF8000>o</FONT><FONT color=Navy>n</FONT><FONT COLOR=\"teal\">t</FONT>",
       {"o|Arial|12|#ff8000", "n|Arial|12|#000080", "t|Arial|12|#008080"}},
      // A FONT inherits face, size, colour and style from the enclosing one.
      {u"<FONT SIZE=16 COLOR=red><B><FONT FACE=\"Courier New\">i</FONT>o</B></FONT>e",
       {"i|CourierNew,Bold|16|#ff0000", "o|Arial,Bold|16|#ff0000", "e|Arial|12|#000000"}},
      // A style set inside a FONT ends with it.
      {u"<FONT SIZE=14><U>u</FONT>p", {"u|Arial|14|#000000", "p|Arial|12|#000000"}},
      // An unquoted FACE ends at ">" or a blank; blanks around "=" are allowed.
      {u"<FONT FACE=Courier>c</FONT><FONT SIZE = 9 FACE=Arial>a",
       {"c|Courier|12|#000000", "a|Arial|9|#000000"}},
      // A known attribute without a value changes nothing.
      {u"<FONT SIZE>s", {"s|Arial|12|#000000"}},
  };
  TempDir dir;
  int n = 0;
  for (const TagCase& c : cases) {
    const std::string name = "out" + std::to_string(n++) + ".pdf";
    auto doc = LoadPage(dir);
    doc->DrawFormattedText(c.text, "", 72, 72);
    Save(*doc, dir / name);
    EXPECT_EQ(Describe(Runs(SText(dir / name))), c.runs)
        << platform::AnsiToUtf8(platform::WideToAnsi(c.text));
  }
}

TEST(FormattedText, UnderlineAndStrikeOutStrokeTheirRunsOnly) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadPage(dir);
  doc->SetMeasurementUnit(muPoints);
  doc->DrawFormattedText(u"<U>under</U> plain <strikeout>struck</StrikeOut> plain", "1", 72, 100);
  Save(*doc, dir / "out.pdf");
  const std::vector<TextRun> runs = Runs(SText(dir / "out.pdf"));
  ASSERT_EQ(runs.size(), 1u);  // one font throughout: the styles are strokes
  const std::string& text = runs[0].text;
  ASSERT_EQ(text, "under plain struck plain");
  std::vector<Char> chars = SText(dir / "out.pdf");
  const double baseline = 792 - chars[0].y;  // user space
  auto span = [&](size_t first, size_t count) {
    return std::pair{chars[first].x, chars[first + count - 1].right};
  };
  const auto under = span(0, 5);
  const auto struck = span(std::string("under plain ").size(), 6);

  const Trace trace = RunTrace(dir / "out.pdf", {0, 0, 612, 792});
  std::vector<const Mark*> strokes;
  for (const Mark* m : trace.Of("stroke_path"))
    if (m->path.size() == 2) strokes.push_back(m);
  ASSERT_EQ(strokes.size(), 2u);
  for (const Mark* m : strokes) {
    const std::vector<double> u = trace.UserMatrix(*m);
    ASSERT_EQ(u.size(), 6u);
    auto at = [&](const std::vector<double>& p) {
      return std::pair{u[0] * p[0] + u[2] * p[1] + u[4], u[1] * p[0] + u[3] * p[1] + u[5]};
    };
    const auto [x1, y1] = at(m->path[0].second);
    const auto [x2, y2] = at(m->path[1].second);
    EXPECT_NEAR(y1, y2, 0.01);
    if (y1 < baseline) {  // the underline, along "under"
      EXPECT_NEAR(std::min(x1, x2), under.first, 0.1);
      EXPECT_NEAR(std::max(x1, x2), under.second, 0.1);
    } else {  // the strike-out, through "struck"
      EXPECT_LT(y1, baseline + 12);
      EXPECT_NEAR(std::min(x1, x2), struck.first, 0.1);
      EXPECT_NEAR(std::max(x1, x2), struck.second, 0.1);
    }
  }
}

TEST(FormattedText, ALineFeedStartsALineOneLineSizeLower) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadPage(dir);
  doc->SetMeasurementUnit(muMM);
  doc->DrawFormattedText(
      u"first <FONT SIZE=8>small</FONT>\n<FONT SIZE=24>big</FONT> line\r\n\nlast", "1", 25.4, 25.4);
  EXPECT_EQ(doc->MeasurementUnit(), muMM);
  Save(*doc, dir / "out.pdf");
  const std::vector<TextRun> runs = Runs(SText(dir / "out.pdf"));
  ASSERT_EQ(Describe(runs),
            (std::vector<std::string>{"first |Arial|12|#000000", "small|Arial|8|#000000",
                                      "big|Arial|24|#000000", " line|Arial|12|#000000",
                                      "last|Arial|12|#000000"}));
  const double top = 25.4 * 2.83464;
  EXPECT_NEAR(runs[0].x, top, 0.01);  // x and y are both 72 points
  EXPECT_NEAR(runs[0].y, top + 12, 0.01);
  EXPECT_NEAR(runs[1].y, top + 12, 0.01);
  EXPECT_NEAR(runs[2].x, top, 0.01);
  EXPECT_NEAR(runs[2].y, top + 12 + 24, 0.01);
  EXPECT_NEAR(runs[3].y, top + 12 + 24, 0.01);
  EXPECT_NEAR(runs[4].x, top, 0.01);
  EXPECT_NEAR(runs[4].y, top + 12 + 24 + 12 + 12, 0.01);  // after an empty line
}

// ---- Resources and pages ----

// pdffonts' rows: the columns of each font.
std::vector<std::vector<std::string>> FontRows(const std::string& path) {
  CommandResult r = RunCommand({"pdffonts", path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(r.out);
  int row = 0;
  for (std::string line; std::getline(lines, line); ++row) {
    if (row < 2) continue;
    std::istringstream words(line);
    rows.emplace_back();
    for (std::string w; words >> w;)
      rows.back().push_back(w);
  }
  return rows;
}

std::string PageText(const std::string& path, int page) {
  CommandResult t =
      RunCommand({"pdftotext", "-f", std::to_string(page), "-l", std::to_string(page), path, "-"});
  EXPECT_EQ(t.exitCode, 0) << t.err;
  return t.out;
}

TEST(FormattedText, OneFontResourceServesEveryRunOfTheSameFont) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadFixture(BuildFixture(Contents::SharedArray), dir);
  doc->DrawFormattedTextAllPages(
      u"a<B>b</B>c<B>d</B>e<FONT SIZE=30>f</FONT> <FONT FACE=\"ＭＳ ゴシック\" "
      u"CHARSET=SHIFTJIS_CHARSET>社外<FONT COLOR=red>秘</FONT>です</FONT>",
      10, 10);
  Save(*doc, dir / "out.pdf");
  const QpdfJson json(dir / "out.pdf");
  for (int page = 0; page < 2; ++page) {
    const doctest::Json* fonts = json.PageResourceCategory(page, "/Font");
    ASSERT_NE(fonts, nullptr);
    EXPECT_EQ(fonts->members.size(), 3u) << "page " << page + 1;
  }
  // Three fonts in the file, each once; the Japanese one a subset that holds the glyphs of all
  // three of its runs.
  const std::vector<std::vector<std::string>> rows = FontRows(dir / "out.pdf");
  std::vector<std::string> names;
  for (const std::vector<std::string>& row : rows) {
    ASSERT_GE(row.size(), 7u);
    const std::string& name = row[0];
    const bool subset = name.size() > 7 && name[6] == '+';
    names.push_back(subset ? "+" + name.substr(7) : name);
    EXPECT_EQ(row[row.size() - 5], subset ? "yes" : "no") << name;  // embedded
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"+" + platform::Utf8ToAnsi("ＭＳゴシック"), "Arial",
                                             "Arial,Bold"}));
  const Raster raster = Render(dir / "out.pdf", dir, {0, 0, 612, 792});
  EXPECT_TRUE(raster.errors.empty()) << raster.errors;
  for (int page = 1; page <= 2; ++page) {
    const std::string text = PageText(dir / "out.pdf", page);
    EXPECT_NE(text.find("abcde"), std::string::npos) << text;
    EXPECT_NE(text.find("社外秘です"), std::string::npos) << text;
  }
}

TEST(FormattedText, VariablesAreFilledInPageByPage) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadFixture(BuildFixture(Contents::SharedArray), dir);
  doc->DrawFormattedTextAllPages(
      u"<B>p.</B><FONT FACE=\"ＭＳ ゴシック\" CHARSET=SHIFTJIS_CHARSET>頁 "
      u"<%PageNo%>／<%TotPage%></FONT>",
      10, 10);
  Save(*doc, dir / "out.pdf");
  for (int page = 1; page <= 2; ++page) {
    const std::string text = PageText(dir / "out.pdf", page);
    EXPECT_NE(text.find("p.頁 " + std::to_string(page) + "／2"), std::string::npos) << text;
    // The page's own digits are drawn: the font holds their glyphs.
    const Raster raster = Render(dir / "out.pdf", dir, {0, 0, 612, 792}, 144, page);
    EXPECT_TRUE(raster.errors.empty()) << raster.errors;
    int digits = 0;
    for (const Char& c : SText(dir / "out.pdf", page))
      if (c.c == std::to_string(page) || c.c == "2") {
        EXPECT_GT(Pixels(raster, {c.c, c.font, c.color, c.size, c.x, c.y, c.right}, Dark), 10)
            << "page " << page << ": " << c.c;
        ++digits;
      }
    EXPECT_EQ(digits, 2) << "page " << page;
  }
}

TEST(FormattedText, BadTagsAndBadRangesChangeNoPage) {
  SV_REQUIRE_TEST_FONTS();
  enum class Kind { kTag, kSize, kRange };
  struct Bad {
    const char16_t* text;
    std::string range;
    Kind kind;
    std::string message;  // a part of the error's text
  };
  const Bad bad[] = {
      {u"ok <B", "1", Kind::kTag, "character 4 has no closing \">\""},
      {u"x</B", "1", Kind::kTag, "has no closing \">\""},
      {u"a<FONT SIZE=20", "1", Kind::kTag, "has no closing \">\""},
      {u"<FONT SIZE=20 ", "1", Kind::kTag, "has no closing \">\""},
      {u"<FONT FACE=\"Arial>x", "1", Kind::kTag, "has no closing quote"},
      {u"<FONT WEIGHT=3>x</FONT>", "1", Kind::kTag, "unknown attribute WEIGHT"},
      {u"<FONT FACE=Courier New>x", "1", Kind::kTag, "unknown attribute NEW"},
      {u"<FONT BOLD>x", "1", Kind::kTag, "unknown attribute BOLD"},
      {u"<FONT COLOR=#FF80>x", "1", Kind::kTag, "COLOR #FF80"},
      {u"<FONT COLOR=#GG0000>x", "1", Kind::kTag, "COLOR #GG0000"},
      {u"<FONT COLOR=FF8000>x", "1", Kind::kTag, "COLOR FF8000"},
      {u"<FONT COLOR=#FF80001>x", "1", Kind::kTag, "COLOR #FF80001"},
      {u"<FONT COLOR=orange>x", "1", Kind::kTag, "COLOR orange"},
      {u"<FONT CHARSET=KLINGON_CHARSET>x", "1", Kind::kTag, "CHARSET KLINGON_CHARSET"},
      {u"<FONT FACE=\"\">x", "1", Kind::kTag, "empty FACE"},
      {u"<FONT SIZE=abc>x", "1", Kind::kSize, "SIZE abc"},
      {u"<FONT SIZE=0>x", "1", Kind::kSize, "SIZE 0"},
      {u"<FONT SIZE=-3>x", "1", Kind::kSize, "SIZE -3"},
      {u"<FONT SIZE=99999>x", "1", Kind::kSize, "SIZE 99999"},
      // Runs that stand before the error are not drawn either.
      {u"drawn <B>first</B> then <FONT SIZE=1.5>x", "1", Kind::kSize, "SIZE 1.5"},
      {u"fine", "2", Kind::kRange, "2"},
      {u"fine", "1-x", Kind::kRange, "1-x"},
  };
  TempDir dir;
  const std::string plain = [&] {
    auto doc = LoadPage(dir);
    return SavedBytes(*doc, dir, "plain.pdf");
  }();
  for (const Bad& b : bad) {
    const std::string text = platform::AnsiToUtf8(platform::WideToAnsi(b.text));
    auto doc = LoadPage(dir);
    doc->SetMeasurementUnit(muTwips);
    try {
      doc->DrawFormattedText(b.text, b.range, 100, 100);
      ADD_FAILURE() << text << ": no error";
    } catch (const EInvalidPageError& e) {
      EXPECT_EQ(b.kind, Kind::kRange) << text << ": " << e.Message();
      EXPECT_NE(e.Message().find(b.message), std::string::npos) << e.Message();
    } catch (const rtl::EConvertError& e) {
      EXPECT_EQ(b.kind, Kind::kSize) << text << ": " << e.Message();
      EXPECT_NE(e.Message().find(b.message), std::string::npos) << e.Message();
    } catch (const EPDFException& e) {
      EXPECT_EQ(b.kind, Kind::kTag) << text << ": " << e.Message();
      EXPECT_NE(e.Message().find(b.message), std::string::npos) << e.Message();
    }
    EXPECT_EQ(doc->MeasurementUnit(), muTwips) << text;
    EXPECT_TRUE(SavedBytes(*doc, dir, "bad.pdf") == plain) << text << ": the file changed";
  }
  // Texts with nothing to draw change nothing either.
  for (const char16_t* empty : {u"", u"<B></B><FONT SIZE=30></FONT>"}) {
    auto doc = LoadPage(dir);
    doc->DrawFormattedText(empty, "1", 100, 100);
    EXPECT_TRUE(SavedBytes(*doc, dir, "empty.pdf") == plain);
  }
}

}  // namespace
