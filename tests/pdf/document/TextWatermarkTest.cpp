// Text stamps: the content text of the text template, the simple-font encodings against
// Ghostscript's tables, and stamps put on pages with the library's font resources (simple
// TrueType with /Widths, Type0 with Identity-H, embedded subsets), judged by mutool (glyph
// positions, strokes, colours, opacity), poppler (text, pixels) and qpdf.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>
#include <sstream>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/document/zoPDFFont.h"
#include "platform/CodePage.h"
#include "tests/pdf/document/PDFFontTestSupport.h"
#include "tests/pdf/document/StampTestSupport.h"

using namespace sv::test;
using namespace stamptest;

namespace {

constexpr ui::TFontStyles kUnderline = ui::fsUnderline, kStrikeOut = ui::fsStrikeOut;

TzoTextWatermarkTemplate Template(const std::string& utf8Text, const ui::TFont& font) {
  TzoTextWatermarkTemplate t;
  t.Text = platform::Utf8ToWide(utf8Text);
  t.SetFont(font);
  t.Layer = 1;
  t.EmbedMode = 2;  // as AddPageFont makes the font
  return t;
}

bool Western(const ui::TFont& font) {
  return font.Charset() == ui::ANSI_CHARSET || font.Charset() == ui::SYMBOL_CHARSET;
}

// The width the font resource gives a character (1/1000 em): its /Widths entry (measured in
// code page 1252, or by character for the Mac encodings), or the glyph's /W entry (glyph 0 has
// the default width 1000).
int32_t ResourceWidth(TzoPDFFont& font, char32_t c, uint8_t encoding) {
  if (!Western(font.Font())) {
    const uint16_t g = font.GlyphOf(c);
    return g == 0 ? 1000 : font.GlyphWidths().at(g);
  }
  uint8_t code = '?';
  if (font.Font().Charset() == ui::SYMBOL_CHARSET)
    code = static_cast<uint8_t>(c & 0xFF);  // a symbol font's own codes
  else
    SimpleEncodingCode(encoding, c, code);
  return encoding == 0 ? font.Info().Width(code)
                       : font.CharWidth(SimpleEncodingChar(encoding, code));
}

// The bytes AddFontResource takes for text in font: code page 1252 for the western sets, the
// ANSI code page otherwise.
std::string FontText(const std::u16string& text, const ui::TFont& font) {
  if (!Western(font)) return platform::WideToAnsi(text);
  std::string bytes;
  for (char16_t c : text) {
    uint8_t code = '?';
    SimpleEncodingCode(0, c, code);
    bytes += static_cast<char>(code);
  }
  return bytes;
}

// A font resource of the page and its name.
struct PageFont {
  std::string name;
  std::unique_ptr<TzoPDFIndirectReference> ref;
};
PageFont AddPageFont(TzoCustomPDFDocument& doc, const ui::TFont& font, const std::u16string& text,
                     uint8_t encoding = 0) {
  PageFont f;
  f.name = NewFontResourceName([&](const std::string& n) { return doc.PageHasResourceName(0, n); });
  f.ref = doc.AddFontResource(font, f.name, FontText(text, font), encoding, 2);
  doc.AddResourceEntry(doc.PageResources(0), "/Font", f.ref.get(), f.name);
  return f;
}

// Stamps t on page 1 as the stamping driver does, with the font resource font and, for an
// Opacity below 100, an opacity state of its own; returns the content text.
std::string StampText(TzoCustomPDFDocument& doc, const TzoTextWatermarkTemplate& t,
                      const PageFont& font) {
  std::string gsName;
  if (auto gs = doc.AddOpacityState(t.Opacity, t.Opacity)) {
    gsName =
        NewGStateResourceName([&](const std::string& n) { return doc.PageHasResourceName(0, n); });
    doc.AddPageExtGState(0, gsName, gs.get());
  }
  TzoWatermarkProcessor processor(&doc, doc.MeasurementUnit(), &t);
  TzoPDFIndirectObject* stream = doc.InputStore().Add(
      processor.ProcessPage(font.name, gsName, doc.InputStore().NextObjectNumber(),
                            doc.DocumentNumber(), doc.GetPageBox(1, muPoints)));
  doc.AddPageContent(0, CreateReferenceTo(*stream), t.Layer);
  const std::string text = stream->DirectObject()->AsStream()->Data()->ToString();
  // Numbers never take the exponent form (hexadecimal strings aside).
  const std::string numbers = std::regex_replace(text, std::regex("<[0-9A-F]*>"), "<>");
  EXPECT_FALSE(std::regex_search(numbers, std::regex("[0-9.][eE][-+0-9]"))) << text;
  return text;
}

struct Extracted {
  std::string text, errors;
};
// pdftotext's text of page 1 (UTF-8) and what it wrote on its error stream.
Extracted PdfToText(const std::string& path) {
  CommandResult r = RunCommand({"pdftotext", "-enc", "UTF-8", "-f", "1", "-l", "1", path, "-"});
  EXPECT_EQ(r.exitCode, 0);
  return {r.out, r.err};
}

// The lines of a page's text, without the blank lines and the form feed that end it.
std::string Lines(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\f'))
    text.pop_back();
  return text + "\n";
}

// ---- The judge of positions ----

struct V {
  double x, y;
};
V operator+(V a, V b) {
  return {a.x + b.x, a.y + b.y};
}
V operator-(V a, V b) {
  return {a.x - b.x, a.y - b.y};
}
V operator*(double k, V a) {
  return {k * a.x, k * a.y};
}
double Dot(V a, V b) {
  return a.x * b.x + a.y * b.y;
}

// Where mutool puts one stamp's glyphs: each glyph's cell is its advance wide along the
// baseline and one font size high above it; the box is the rectangle in the text's own
// directions that holds every cell. An advance is the distance to the next glyph of the same
// line, the last one's the width of its character in the font resource plus the character
// spacing found between the line's glyphs (0 when the line has one glyph).
struct TextBox {
  V origin{}, along{}, up{};  // the first glyph's origin, the text's direction and its normal
  Placement at{};  // the box on the page; its top-left corner in the text's own directions
  std::vector<std::vector<std::pair<const Glyph*, double>>> lines;  // glyphs with advances
};

TextBox BoxOf(const std::vector<const Glyph*>& glyphs, double size,
              const std::function<int32_t(const Glyph&)>& widthOf) {
  TextBox b;
  const std::vector<double>& trm = glyphs.front()->trm;
  const double scale = std::hypot(trm[0], trm[1]);
  b.along = {trm[0] / scale, trm[1] / scale};
  b.up = {trm[2] / scale, trm[3] / scale};
  b.origin = {glyphs.front()->x, glyphs.front()->y};
  auto frame = [&](const Glyph& g) {
    V p = V{g.x, g.y} - b.origin;
    return V{Dot(p, b.along), Dot(p, b.up)};
  };
  for (size_t i = 0; i < glyphs.size(); ++i) {
    const V f = frame(*glyphs[i]);
    const bool sameLine =
        i > 0 && std::fabs(frame(*glyphs[i - 1]).y - f.y) < 0.01 && frame(*glyphs[i - 1]).x < f.x;
    if (!sameLine) b.lines.emplace_back();
    b.lines.back().push_back({glyphs[i], NAN});
  }
  for (auto& line : b.lines) {
    double tc = 0;
    for (size_t k = 0; k + 1 < line.size(); ++k) {
      line[k].second = frame(*line[k + 1].first).x - frame(*line[k].first).x;
      tc = line[k].second - widthOf(*line[k].first) * size / 1000;
    }
    line.back().second = widthOf(*line.back().first) * size / 1000 + tc;
  }
  // The rectangle in the text's own directions that holds every cell.
  double lowX = 0, highX = 0, lowY = 0, highY = 0;
  for (const auto& line : b.lines)
    for (const auto& [g, advance] : line) {
      const V o{g->x, g->y};
      for (V corner :
           {o, o + advance * b.along, o + size * b.up, o + advance * b.along + size * b.up}) {
        lowX = std::min(lowX, Dot(corner - b.origin, b.along));
        highX = std::max(highX, Dot(corner - b.origin, b.along));
        lowY = std::min(lowY, Dot(corner - b.origin, b.up));
        highY = std::max(highY, Dot(corner - b.origin, b.up));
      }
    }
  Placement& at = b.at;
  at.minX = at.minY = INFINITY;
  at.maxX = at.maxY = -INFINITY;
  for (double u : {lowX, highX})
    for (double v : {lowY, highY}) {
      const V corner = b.origin + u * b.along + v * b.up;
      at.minX = std::min(at.minX, corner.x);
      at.maxX = std::max(at.maxX, corner.x);
      at.minY = std::min(at.minY, corner.y);
      at.maxY = std::max(at.maxY, corner.y);
    }
  const V topLeft = b.origin + lowX * b.along + highY * b.up;
  at.topLeftX = topLeft.x;
  at.topLeftY = topLeft.y;
  return b;
}

// Every glyph of the trace's text marks, in drawing order.
std::vector<const Glyph*> AllGlyphs(const Trace& trace) {
  std::vector<const Glyph*> out;
  for (const Mark& m : trace.marks)
    for (const Glyph& g : m.glyphs)
      out.push_back(&g);
  return out;
}

double Rad(double degrees) {
  return degrees * std::numbers::pi / 180;
}

}  // namespace

// ---- The encodings of simple fonts ----

// Each code of the three encodings against Ghostscript's encoding vectors, their glyph names
// read through the Adobe Glyph List of fontTools.
TEST(TextWatermarkTest, SimpleEncodingsFollowTheStandardTables) {
  SV_REQUIRE_JUDGES("gs", "fontTools");
  const char* script = R"(
import subprocess, sys
from fontTools.agl import LEGACY_AGL2UV
for i, enc in enumerate(["WinAnsiEncoding", "MacRomanEncoding", "MacExpertEncoding"]):
    out = subprocess.run(["gs", "-q", "-dNODISPLAY", "-dNOSAFER", "-c",
                          "/%s findencoding { == } forall quit" % enc],
                         capture_output=True, text=True, check=True).stdout.split()
    for code, name in enumerate(out):
        name = name.lstrip("/")
        uv = 0 if name == ".notdef" else LEGACY_AGL2UV[name][0]
        print(i, code, uv, name)
)";
  CommandResult r = RunCommand({FontToolsPython(), "-I", "-c", script});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream in(r.out);
  int encoding, code, lines = 0;
  uint32_t uv;
  std::string name;
  while (in >> encoding >> code >> uv >> name) {
    ++lines;
    SCOPED_TRACE(std::to_string(encoding) + " code " + std::to_string(code) + " " + name);
    const char32_t mine =
        SimpleEncodingChar(static_cast<uint8_t>(encoding), static_cast<uint8_t>(code));
    if (code < 32) {
      EXPECT_EQ(mine, 0u);  // control codes stand for nothing
    } else if (name == "space" && code >= 0x80) {
      EXPECT_EQ(mine, 0xA0u);  // the second space is the no-break space
    } else if (name == "hyphen" && encoding == 0 && code == 0xAD) {
      EXPECT_EQ(mine, 0xADu);  // soft hyphen
    } else if (name == "bullet" && encoding == 0 && code != 0x95) {
      EXPECT_EQ(mine, 0u);  // undefined codes, which readers draw as a bullet
    } else {
      EXPECT_EQ(mine, uv);
    }
    uint8_t back = 0;
    if (mine != 0) {
      ASSERT_TRUE(SimpleEncodingCode(static_cast<uint8_t>(encoding), mine, back));
      EXPECT_EQ(SimpleEncodingChar(static_cast<uint8_t>(encoding), back), mine);
    }
  }
  EXPECT_EQ(lines, 3 * 256);
  uint8_t code8 = 0;
  EXPECT_FALSE(SimpleEncodingCode(1, U'\u2260', code8));  // not in the PDF's MacRoman
  EXPECT_FALSE(SimpleEncodingCode(0, U'表', code8));
  EXPECT_FALSE(SimpleEncodingCode(3, U'A', code8));  // no encoding of that index
  EXPECT_EQ(SimpleEncodingChar(3, 'A'), 0u);

  // WinAnsi is code page 1252, whose bytes the font's own widths are measured in, and the
  // widths of characters measured one by one agree with them.
  SV_REQUIRE_TEST_FONTS();
  TzoPDFFont font(MakeFont("Arial", 12, 0), 0, false, false);
  for (int b = 32; b <= 255; ++b) {
    const char byte = static_cast<char>(b);
    const std::u16string cp1252 = platform::MultiByteToWide(1252, std::string_view(&byte, 1));
    const char32_t c = SimpleEncodingChar(0, static_cast<uint8_t>(b));
    if (c == 0) continue;
    EXPECT_EQ(cp1252, std::u16string(1, static_cast<char16_t>(c))) << b;
    EXPECT_EQ(font.CharWidth(c), font.Info().Width(b)) << b;
  }
}

// ---- The content text ----

TEST(TextWatermarkTest, ContentText) {
  SV_REQUIRE_TEST_FONTS();
  TzoTextWatermarkTemplate t = Template("A(B)\\", MakeFont("Arial", 12, 0));
  t.Font.SetColor(0x0000FF);  // red
  t.OutlineColor = 0xFF0000;  // blue
  t.RenderMode = 2;
  t.HorizontalPosition = 3;
  t.VerticalPosition = 3;
  const std::string text = t.Render("/F1", "/GS1", muPoints, 100, 700);
  // The opacity state first; the text state; the top-left corner of the text (one font size
  // above its baseline) on the point; the delimiters escaped.
  const std::regex expected(
      "q\r/GS1 gs\rBT\r-?[0-9]+\\.[0-9]{8} Tc 0 Tw 100 Tz 12 TL \r"
      "1\\.0000 0\\.0000 0\\.0000 rg\r0\\.0000 0\\.0000 1\\.0000 RG\r2 Tr\r/F1 12 Tf\r"
      "1\\.0000 0\\.0000 0\\.0000 1\\.0000 100\\.000 688\\.000 Tm\r"
      "\\(A\\\\\\(B\\\\\\)\\\\\\\\\\) Tj\rET\rQ\r\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
  EXPECT_EQ(t.Render("/F1", "/GS1", muPoints, 100, 700), text);  // the same every time
  EXPECT_EQ(t.Text, u"A(B)\\");

  // Two lines one font size apart; control characters are not shown; no opacity state.
  t.Text = u"x\r\ny\tz";
  std::string two = t.Render("/F1", "", muPoints, 100, 700);
  EXPECT_NE(two.find("12 TL \r"), std::string::npos);
  EXPECT_NE(two.find("(x) Tj\rT*\r(yz) Tj\rET"), std::string::npos) << two;
  EXPECT_EQ(two.find("gs"), std::string::npos);

  // A negative anchor stays where it is.
  t.Text = u"A";
  EXPECT_NE(t.Render("/F1", "", muPoints, -300, -400).find(" -300.000 -412.000 Tm"),
            std::string::npos);
  // An empty text shows nothing and places without NaN.
  t.Text.clear();
  t.Angle = 45;
  t.HorizontalPosition = t.VerticalPosition = 1;
  const std::string empty = t.Render("/F1", "", muPoints, 50, 60);
  EXPECT_EQ(empty.find("Tj"), std::string::npos);
  EXPECT_EQ(empty.find("nan"), std::string::npos);
}

// The strings of each kind of font: bytes of the simple font's encoding, glyph ids of a Type0
// font, code page 932 bytes for a font the library makes no Type0 resource for.
TEST(TextWatermarkTest, StringsOfEachKindOfFont) {
  SV_REQUIRE_TEST_FONTS();
  // Characters beyond the encoding become "?", those in it their own code.
  TzoTextWatermarkTemplate t = Template("é表", MakeFont("Arial", 12, 0));
  EXPECT_NE(t.Render("/F1", "", muPoints, 0, 0).find("(\xE9?) Tj"), std::string::npos);
  t.EncodingIndex = 1;  // MacRoman
  EXPECT_NE(t.Render("/F1", "", muPoints, 0, 0).find("(\x8E?) Tj"), std::string::npos);
  for (uint8_t index : {3, 4, 200}) {
    t.EncodingIndex = index;
    EXPECT_THROW(t.Render("/F1", "", muPoints, 0, 0), EUnsupportedFontError) << int(index);
  }

  // A symbol font shows the low bytes of its characters.
  TzoTextWatermarkTemplate symbol =
      Template("A(\uF041\u00E9", MakeFont("DejaVu Sans", 12, ui::SYMBOL_CHARSET));
  EXPECT_NE(symbol.Render("/F1", "", muPoints, 0, 0).find("(A\\(A\xE9) Tj"), std::string::npos);

  // Japanese text in an embeddable TrueType font: glyph ids, one string a line.
  TzoTextWatermarkTemplate jp = Template("社外\n秘", MakeFont("MS Gothic", 12, 128));
  TzoPDFFont ipa(jp.Font, 0, false, false);
  const std::string hex = Hex4(ipa.GlyphOf(U'社')) + Hex4(ipa.GlyphOf(U'外'));
  const std::string jpText = jp.Render("/F2", "/GS1", muPoints, 0, 0);
  EXPECT_NE(jpText.find("<" + hex + "> Tj\rT*\r<" + Hex4(ipa.GlyphOf(U'秘')) + "> Tj"),
            std::string::npos)
      << jpText;
  EXPECT_EQ(jpText.find("/GS1 gs"), 2u);
  // Its vertical form: a glyph a string, each under the one before.
  jp.Vertical = true;
  const std::string vertical = jp.Render("/F2", "", muPoints, 0, 0);
  EXPECT_NE(vertical.find("<" + Hex4(ipa.GlyphOf(U'社')) + "> Tj\r0 -"), std::string::npos)
      << vertical;

  // Japanese text in a font the library makes no Type0 resource for is written in code page
  // 932; a trail byte 0x5C (as in 表) is escaped like every backslash.
  TzoTextWatermarkTemplate cff = Template("表(A)", MakeFont("SvFixture Cff", 12, 128));
  EXPECT_NE(cff.Render("/F3", "", muPoints, 0, 0).find("(\x95\\\\\\(A\\)) Tj"), std::string::npos);
}

// A template measures its font once and again when the font or the font configuration has
// changed: one template rendered through a series of fonts and a switch of the configuration
// gives what a fresh copy of it gives each time.
TEST(TextWatermarkTest, AReusedTemplateRendersAsAFreshOne) {
  SV_REQUIRE_TEST_FONTS();
  TzoTextWatermarkTemplate reused = Template("社外秘 Wavy 12", MakeFont("Arial", 12, 0));
  reused.HorizontalPosition = reused.VerticalPosition = 1;
  auto render = [](const TzoTextWatermarkTemplate& t) {
    return t.Render("/F1", "", muPoints, 300, 400);
  };
  auto fresh = [&] {
    const TzoTextWatermarkTemplate copy = reused;
    return render(copy);
  };
  const std::string first = render(reused);
  const std::function<void()> changes[] = {
      [&] { reused.Font.SetSize(20); },
      [&] { reused.Font.SetStyle(ui::fsBold); },
      [&] { reused.SetFont(MakeFont("MS Gothic", 12, 128)); },
      [&] { reused.SetFont(MakeFont("SvFixture Cff", 12, 128)); },
      [&] { reused.SetFont(MakeFont("Arial", 12, 0)); },
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    SCOPED_TRACE(i);
    changes[i]();
    EXPECT_EQ(render(reused), fresh());
  }
  EXPECT_EQ(render(reused), first);
  {
    // Under a configuration where Arial is DejaVu Sans Mono the text is wider.
    OtherFontConfiguration other({UseTestFonts().dejaVuSansMono});
    ASSERT_TRUE(other.Ok());
    const std::string mono = render(reused);
    EXPECT_NE(mono, first);
    EXPECT_EQ(mono, fresh());
  }
  EXPECT_EQ(render(reused), first);
}

// ---- Stamps on pages ----

// What poppler reads back: delimiters, backslashes, two lines, accented letters in both
// encodings, Japanese lines in a Type0 font, and code page 932 bytes with a trail byte 0x5C.
TEST(TextWatermarkTest, TextReadsBack) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "gs");
  SV_REQUIRE_TEST_FONTS();
  struct Case {
    const char* what;
    std::string text;
    ui::TFont font;
    uint8_t encoding;
    bool vertical;
    std::string expected;  // pdftotext's lines
  };
  const Case cases[] = {
      {"delimiters", "A(B) C:\\Temp\\", MakeFont("Arial", 14, 0), 0, false, "A(B) C:\\Temp\\\n"},
      {"two lines", "First line\nSecond line", MakeFont("Arial", 14, 0), 0, false,
       "First line\nSecond line\n"},
      {"WinAnsi", "Café ü ß", MakeFont("Arial", 14, 0), 0, false, "Café ü ß\n"},
      {"MacRoman", "Café ü ß", MakeFont("Arial", 14, 0), 1, false, "Café ü ß\n"},
      {"Japanese", "社外秘 10～20\n表示", MakeFont("MS Gothic", 14, 128), 0, false,
       "社外秘 10～20\n表示\n"},
      {"Japanese, vertical", "社外秘", MakeFont("MS Gothic", 14, 128), 0, true, "社\n外\n秘\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    auto doc = LoadFixture(BuildFixture(Contents::Reference), dir);
    TzoTextWatermarkTemplate t = Template(c.text, c.font);
    t.EncodingIndex = c.encoding;
    t.Vertical = c.vertical;
    t.HorizontalPosition = 1;
    t.VerticalPosition = 1;
    StampText(*doc, t, AddPageFont(*doc, t.Font, t.Text, c.encoding));
    Save(*doc, dir / "out.pdf");
    const Extracted e = PdfToText(dir / "out.pdf");
    EXPECT_EQ(e.errors, "");
    EXPECT_EQ(Lines(e.text), c.expected);
    EXPECT_EQ(RunTrace(dir / "out.pdf", doc->GetPageBox(1, muPoints)).errors, "");
  }

  // Code page 932 bytes: a hand-made font that reads them (a CMap of the Japanese standard).
  TempDir dir;
  auto doc = LoadFixture(BuildFixture(Contents::Reference), dir);
  PageFont rksj;
  rksj.name = "/FJ";
  auto descriptor = std::make_unique<TzoPDFDictObject>();
  descriptor->AddName("/Type", "/FontDescriptor");
  descriptor->AddName("/FontName", "/MSGothic");
  descriptor->AddInteger("/Flags", 4);
  descriptor->AddName("/FontBBox", "[0 -141 1000 859]");
  descriptor->AddInteger("/ItalicAngle", 0);
  descriptor->AddInteger("/Ascent", 859);
  descriptor->AddInteger("/Descent", -141);
  descriptor->AddInteger("/CapHeight", 859);
  descriptor->AddInteger("/StemV", 80);
  auto cid = std::make_unique<TzoPDFDictObject>();
  cid->AddName("/Type", "/Font");
  cid->AddName("/Subtype", "/CIDFontType2");
  cid->AddName("/BaseFont", "/MSGothic");
  cid->AddName("/CIDSystemInfo", "<< /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >>");
  cid->AddObject("/FontDescriptor", AddObject(*doc, std::move(descriptor)));
  auto descendants = std::make_unique<TzoPDFArrayObject>();
  descendants->Add(AddObject(*doc, std::move(cid)));
  auto type0 = std::make_unique<TzoPDFDictObject>();
  type0->AddName("/Type", "/Font");
  type0->AddName("/Subtype", "/Type0");
  type0->AddName("/BaseFont", "/MSGothic");
  type0->AddName("/Encoding", "/90ms-RKSJ-H");
  type0->AddObject("/DescendantFonts", std::move(descendants));
  rksj.ref = AddObject(*doc, std::move(type0));
  doc->AddResourceEntry(doc->PageResources(0), "/Font", rksj.ref.get(), rksj.name);
  TzoTextWatermarkTemplate t = Template("表(A)", MakeFont("SvFixture Cff", 14, 128));
  t.VerticalPosition = 1;
  StampText(*doc, t, rksj);
  Save(*doc, dir / "out.pdf");
  EXPECT_EQ(Lines(PdfToText(dir / "out.pdf").text), "表(A)\n");
}

// Every position at 0, 45, 90, 135, 180, 270 and 300 degrees, on a crop-box page whose content
// leaves a scale in force and on a page with a negative origin: the box of the glyph cells that
// mutool reports lies where the template says, within 0.01 point. (The cells come from the
// glyph origins mutool computes from the font resource's widths, so nothing but the rounding of
// the written numbers, below 0.005 point, stands between them and the template.)
TEST(TextWatermarkTest, TextLandsWhereItsTemplateSays) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "gs");
  SV_REQUIRE_TEST_FONTS();
  struct Text {
    const char* what;
    std::string text;
    ui::TFont font;
    bool vertical;
  };
  const Text texts[] = {
      {"western line", "Tag(1) W", MakeFont("Arial", 14, 0), false},
      {"western, two lines", "AB\nCDEFG", MakeFont("Times New Roman", 20, 0, ui::fsBold), false},
      {"western, vertical", "Ab", MakeFont("Arial", 10, 0), true},
      {"Japanese line", "社外秘です", MakeFont("MS Gothic", 12, 128), false},
      {"Japanese, vertical, two lines", "社外\n秘", MakeFont("MS Gothic", 16, 128), true},
  };
  Fixture cropped;
  cropped.box = "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]";
  cropped.ownContent = "2 0 0 2 0 0 cm 1 0 0 rg";
  Fixture negative;
  negative.box = "/MediaBox [-300 -400 300 400]";
  const std::pair<const char*, Fixture> fixtures[] = {{"crop box", cropped},
                                                      {"negative origin", negative}};
  const double offsetX = 30, offsetY = 50;  // points
  for (const auto& [fixtureName, fixture] : fixtures) {
    SCOPED_TRACE(fixtureName);
    TempDir dir;
    auto doc = LoadFixture(BuildFixture(fixture), dir);
    doc->SetMeasurementUnit(muMM);
    const TzoRectD box = doc->GetPageBox(1, muPoints);
    struct Stamp {
      const Text* text;
      uint8_t h, v;
      int angle;
    };
    std::vector<Stamp> stamps;
    for (const Text& tx : texts) {
      TzoTextWatermarkTemplate t = Template(tx.text, tx.font);
      const PageFont font = AddPageFont(*doc, t.Font, t.Text);
      for (int angle : {0, 45, 90, 135, 180, 270, 300})
        for (uint8_t h = 0; h < 4; ++h)
          for (uint8_t v = 0; v < 4; ++v) {
            t.Vertical = tx.vertical;
            t.Angle = angle;
            t.HorizontalPosition = h;
            t.VerticalPosition = v;
            t.X = offsetX / 2.83464;
            t.Y = offsetY / 2.83464;
            StampText(*doc, t, font);
            stamps.push_back({&tx, h, v, angle});
          }
    }
    Save(*doc, dir / "out.pdf");
    Trace trace = RunTrace(dir / "out.pdf", box);
    EXPECT_EQ(trace.errors, "");
    // The page's scale does not reach the stamps.
    for (const Mark* m : trace.Of("fill_text")) {
      const std::vector<double> ctm = trace.UserMatrix(*m);
      ASSERT_EQ(ctm.size(), 6u);
      for (size_t j = 0; j < 6; ++j)
        ASSERT_NEAR(ctm[j], (j == 0 || j == 3) ? 1 : 0, 1e-4);
    }
    const std::vector<const Glyph*> glyphs = AllGlyphs(trace);
    size_t next = 0;
    for (const Stamp& s : stamps) {
      SCOPED_TRACE(std::string(s.text->what) + ", position " + std::to_string(s.h) + "/" +
                   std::to_string(s.v) + ", " + std::to_string(s.angle) + " degrees");
      TzoPDFFont font(s.text->font, 0, false, false);
      const std::u16string chars = platform::Utf8ToWide(s.text->text);
      std::vector<const Glyph*> own;
      for (char16_t ch : chars)
        if (ch != u'\n') {
          ASSERT_LT(next, glyphs.size());
          own.push_back(glyphs[next++]);
        }
      const double size = s.text->font.Size();
      const TextBox b = BoxOf(own, size, [&](const Glyph& g) {
        return ResourceWidth(font, platform::Utf8ToWide(g.unicode).front(), 0);
      });
      EXPECT_NEAR(b.along.x, std::cos(Rad(s.angle)), 1e-4);
      EXPECT_NEAR(b.along.y, std::sin(Rad(s.angle)), 1e-4);
      EXPECT_NEAR(own.front()->trm[3], size * std::cos(Rad(s.angle)), 0.01);
      ExpectPlaced(b.at, box, s.h, s.v, offsetX, offsetY);
      // Lines one font size apart (down for horizontal text, leftwards for vertical), the
      // characters of vertical text one text height apart.
      int32_t w = 0, h = 0;
      GetTextExtent(std::u16string_view(chars), s.text->font, w, h);
      for (size_t i = 1; i < b.lines.size(); ++i) {
        const V step = V{b.lines[i].front().first->x, b.lines[i].front().first->y} -
                       V{b.lines[i - 1].front().first->x, b.lines[i - 1].front().first->y};
        if (!s.text->vertical) {
          EXPECT_NEAR(Dot(step, b.up), -size, 0.01);
          EXPECT_NEAR(Dot(step, b.along), 0, 0.01);
        } else if (std::fabs(Dot(step, b.along)) < 0.01) {
          EXPECT_NEAR(Dot(step, b.up), -PixelsToPoints(h), 0.01);
        } else {
          EXPECT_NEAR(Dot(step, b.along), -size, 0.01);
        }
      }
    }
    EXPECT_EQ(next, glyphs.size());
  }
}

// The character spacing comes from the font resource's widths glyph by glyph: each line is as
// wide as the screen measures it, for a fixed-pitch font (whose widths are not 600), a
// proportional one in both encodings, a Type0 font and a symbol font.
TEST(TextWatermarkTest, CharacterSpacingMakesLinesAsWideAsTheScreen) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "gs");
  SV_REQUIRE_TEST_FONTS();
  struct Case {
    const char* what;
    std::string text;
    ui::TFont font;
    uint8_t encoding;
  };
  const Case cases[] = {
      {"fixed pitch", "monospace 0123456789 (fixed)", MakeFont("DejaVu Sans Mono", 11, 0), 0},
      {"proportional", "Wavy lines ||| and WWW\nsecond one", MakeFont("Arial", 13, 0), 0},
      {"MacRoman", "Crème brûlée ½", MakeFont("Times New Roman", 15, 0), 1},
      {"Type0", "社外秘 ABC abc", MakeFont("MS Gothic", 12, 128), 0},
      {"symbol font", "Symbols \uF041\uF042", MakeFont("SvFixture Symbol", 12, ui::SYMBOL_CHARSET),
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    auto doc = LoadFixture(BuildFixture(Contents::Absent), dir);
    TzoTextWatermarkTemplate t = Template(c.text, c.font);
    t.EncodingIndex = c.encoding;
    t.Angle = 30;
    t.HorizontalPosition = t.VerticalPosition = 1;
    StampText(*doc, t, AddPageFont(*doc, t.Font, t.Text, c.encoding));
    Save(*doc, dir / "out.pdf");
    Trace trace = RunTrace(dir / "out.pdf", doc->GetPageBox(1, muPoints));
    EXPECT_EQ(trace.errors, "");
    TzoPDFFont font(c.font, 0, false, false);
    const double size = c.font.Size();
    const TextBox b = BoxOf(AllGlyphs(trace), size, [&](const Glyph& g) {
      return ResourceWidth(font, platform::Utf8ToWide(g.unicode).front(), c.encoding);
    });
    double screen = 0, drawn = 0, spacing = NAN;
    size_t count = 0;
    std::u16string lineText;
    for (const auto& line : b.lines) {
      lineText.clear();
      for (const auto& [g, advance] : line) {
        drawn += advance;
        lineText += platform::Utf8ToWide(g->unicode);
        const char32_t ch = platform::Utf8ToWide(g->unicode).front();
        const double tc = advance - ResourceWidth(font, ch, c.encoding) * size / 1000;
        if (std::isnan(spacing)) spacing = tc;
        EXPECT_NEAR(tc, spacing, 0.001) << platform::WideToUtf8(lineText);  // one spacing
        ++count;
      }
      int32_t w = 0, h = 0;
      GetTextExtent(std::u16string_view(lineText), c.font, w, h);
      screen += PixelsToPoints(w);
    }
    // mutool reports a space between words as a glyph too: the characters all came through.
    EXPECT_EQ(count + b.lines.size() - 1, platform::Utf8ToWide(c.text).size());
    EXPECT_NEAR(drawn, screen, 0.01);
  }
}

// Underline and strike-out: one stroke along each line, in the text's direction, the font's
// own sizes in points, with the font's colour and the stamp's opacity; for vertical text along
// each column, the underline right of it and the strike-out through its middle.
TEST(TextWatermarkTest, UnderlineAndStrikeOutRunAlongTheText) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "gs");
  SV_REQUIRE_TEST_FONTS();
  struct Case {
    std::string text;
    ui::TFont font;
    bool vertical;
    int angle;
  };
  const Case cases[] = {
      {"Under and\nthrough it", MakeFont("Arial", 24, 0, kUnderline | kStrikeOut), false, 0},
      {"Under and\nthrough it", MakeFont("Arial", 24, 0, kUnderline | kStrikeOut), false, 30},
      {"社外秘\n表示", MakeFont("MS Gothic", 20, 128, kUnderline | kStrikeOut), false, 270},
      {"縦書き\n二行", MakeFont("MS Gothic", 20, 128, kUnderline | kStrikeOut), true, 0},
      {"Ab c", MakeFont("Arial", 20, 0, kUnderline | kStrikeOut), true, 90},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + (c.vertical ? ", vertical, " : ", ") + std::to_string(c.angle));
    TempDir dir;
    auto doc = LoadFixture(BuildFixture(Contents::Reference), dir);
    TzoTextWatermarkTemplate t = Template(c.text, c.font);
    t.Font.SetColor(0x00FF00);  // green
    t.Vertical = c.vertical;
    t.Angle = c.angle;
    t.Opacity = 70;
    t.HorizontalPosition = t.VerticalPosition = 1;
    StampText(*doc, t, AddPageFont(*doc, t.Font, t.Text));
    Save(*doc, dir / "out.pdf");
    Trace trace = RunTrace(dir / "out.pdf", doc->GetPageBox(1, muPoints));
    EXPECT_EQ(trace.errors, "");
    TzoPDFFont font(c.font, 0, false, false);
    const TzoPDFFontInfo& info = font.Info();
    const double size = c.font.Size();
    const TextBox b = BoxOf(AllGlyphs(trace), size, [&](const Glyph& g) {
      return ResourceWidth(font, platform::Utf8ToWide(g.unicode).front(), 0);
    });
    std::vector<const Mark*> strokes = trace.Of("stroke_path");
    const double underSize = info.UnderlineSize, strikeSize = info.StrikeoutSize;
    ASSERT_GT(underSize, 0);
    // In vertical text a line is a column: its glyphs share their position along the text.
    std::vector<std::vector<std::pair<const Glyph*, double>>> lines = b.lines;
    if (c.vertical) {
      lines.clear();
      for (const auto& l : b.lines) {
        const double a = Dot(V{l.front().first->x, l.front().first->y} - b.origin, b.along);
        if (lines.empty() ||
            std::fabs(
                Dot(V{lines.back().front().first->x, lines.back().front().first->y} - b.origin,
                    b.along) -
                a) > 0.01)
          lines.emplace_back();
        lines.back().push_back(l.front());
      }
    }
    ASSERT_EQ(strokes.size(), 2 * lines.size());
    for (size_t i = 0; i < strokes.size(); ++i) {
      SCOPED_TRACE("stroke " + std::to_string(i));
      const Mark& m = *strokes[i];
      const bool under = i < lines.size();
      const auto& line = lines[i % lines.size()];
      EXPECT_NEAR(m.Num("linewidth"), under ? underSize : strikeSize, 0.001);
      EXPECT_EQ(m.Nums("color"), (std::vector<double>{0, 1, 0}));
      EXPECT_NEAR(m.Num("alpha"), 0.7, 0.002);
      ASSERT_EQ(m.path.size(), 2u);
      const V from{m.path[0].second[0], m.path[0].second[1]},
          to{m.path[1].second[0], m.path[1].second[1]};
      const V o{line.front().first->x, line.front().first->y};
      // Positions in the text's own directions, from the line's first glyph.
      auto a = [&](V p) { return Dot(p - o, b.along); };
      auto n = [&](V p) { return Dot(p - o, b.up); };
      if (!c.vertical) {
        double length = 0;
        for (const auto& [g, advance] : line)
          length += advance;
        EXPECT_NEAR(a(from), 0, 0.01);
        EXPECT_NEAR(a(to), length, 0.01);
        const double rise = under ? -std::abs(info.UnderlinePosition) - underSize / 2
                                  : std::abs(info.StrikeoutPosition) - strikeSize / 2;
        EXPECT_NEAR(n(from), rise, 0.01);
        EXPECT_NEAR(n(to), rise, 0.01);
      } else {
        double column = 0;
        for (const auto& [g, advance] : line)
          column = std::max(column, advance);
        const double across =
            under ? column + std::abs(info.UnderlinePosition) + underSize / 2 : column / 2;
        EXPECT_NEAR(a(from), across, 0.01);
        EXPECT_NEAR(a(to), across, 0.01);
        EXPECT_NEAR(n(from), size, 0.01);  // from the top of the first cell
        const V last{line.back().first->x, line.back().first->y};
        EXPECT_NEAR(n(to), n(last), 0.01);  // to the last baseline
      }
    }
  }
}

// The stamp's colours and opacity for every kind of text (western and Type0, horizontal and
// vertical), as mutool reports each mark and as poppler paints its pixels.
TEST(TextWatermarkTest, ColourAndOpacity) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "gs");
  SV_REQUIRE_TEST_FONTS();
  struct Case {
    const char* what;
    std::string text;
    ui::TFont font;
    bool vertical;
  };
  const Case cases[] = {
      {"western", "HI", MakeFont("Arial", 200, 0, ui::fsBold), false},
      {"western, vertical", "HI", MakeFont("Arial", 200, 0, ui::fsBold), true},
      {"Type0", "■■", MakeFont("MS Gothic", 200, 128), false},
      {"Type0, vertical", "■■", MakeFont("MS Gothic", 200, 128), true},
  };
  for (const Case& c : cases) {
    for (int opacity : {100, 50}) {
      SCOPED_TRACE(std::string(c.what) + ", opacity " + std::to_string(opacity));
      TempDir dir;
      Fixture f;
      f.box = "/MediaBox [0 0 600 600]";
      f.ownContent = "0 0 1 rg";  // left in force
      auto doc = LoadFixture(BuildFixture(f), dir);
      TzoTextWatermarkTemplate t = Template(c.text, c.font);
      t.Font.SetColor(0x0000FF);  // red
      t.OutlineColor = 0xFF0000;  // blue
      t.Vertical = c.vertical;
      t.Opacity = opacity;
      t.HorizontalPosition = t.VerticalPosition = 1;
      const PageFont font = AddPageFont(*doc, t.Font, t.Text);
      StampText(*doc, t, font);
      // The same text stroked in its outline colour (rendering mode 1), in the corner.
      t.RenderMode = 1;
      t.HorizontalPosition = t.VerticalPosition = 0;
      t.Font.SetSize(20);
      StampText(*doc, t, font);
      Save(*doc, dir / "out.pdf");

      Trace trace = RunTrace(dir / "out.pdf", MakeRectD(0, 0, 600, 600));
      EXPECT_EQ(trace.errors, "");
      std::vector<const Mark*> fills = trace.Of("fill_text"), strokes = trace.Of("stroke_text");
      ASSERT_FALSE(fills.empty());
      ASSERT_FALSE(strokes.empty());
      for (const Mark* m : fills) {
        EXPECT_EQ(m->Nums("color"), (std::vector<double>{1, 0, 0}));
        EXPECT_NEAR(std::isnan(m->Num("alpha")) ? 1 : m->Num("alpha"), opacity / 100.0, 0.002);
      }
      for (const Mark* m : strokes) {
        EXPECT_EQ(m->Nums("color"), (std::vector<double>{0, 0, 1}));
        EXPECT_NEAR(std::isnan(m->Num("alpha")) ? 1 : m->Num("alpha"), opacity / 100.0, 0.002);
      }

      // The glyphs' solid parts: red over the white page, blended at the opacity; nothing
      // more saturated anywhere.
      Raster raster = Render(dir / "out.pdf", dir, {0, 0, 600, 600});
      EXPECT_EQ(raster.errors, "");
      const int green = opacity == 100 ? 0 : 128;
      int solid = 0, beyond = 0;
      for (double y = 100.5; y < 500; y += 1)
        for (double x = 100.5; x < 500; x += 1) {
          const Rgb p = raster.At(x, y);
          if (p.r >= 253 && std::abs(p.g - green) <= 2 && std::abs(p.b - green) <= 2) ++solid;
          if (p.g < green - 2) ++beyond;
        }
      EXPECT_GT(solid, 2000);
      EXPECT_EQ(beyond, 0);
    }
  }
}

// A real file: the stamp over its first page, its own text kept.
TEST(TextWatermarkTest, CorpusDocumentWithATextStamp) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "gs");
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  const std::string in = CorpusDir() + "docs/libtasn1.pdf";
  doctest::Loaded loaded = doctest::Load(in);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  TzoPDFDocument& doc = *loaded.doc;
  doc.SetShowSetupDialog(false);
  TzoTextWatermarkTemplate t = Template("社外秘 (draft)", MakeFont("MS Gothic", 36, 128));
  t.Angle = 45;
  t.Opacity = 40;
  t.HorizontalPosition = t.VerticalPosition = 1;
  StampText(doc, t, AddPageFont(doc, t.Font, t.Text));
  Save(doc, dir / "out.pdf");
  const Extracted before = PdfToText(in), after = PdfToText(dir / "out.pdf");
  EXPECT_EQ(after.errors, "");
  // The page's own words are all still there, and the stamp's characters, drawn last.
  std::istringstream words(before.text + " 社 外 秘 (d ra ft )");
  std::string word;
  while (words >> word)
    EXPECT_NE(after.text.find(word), std::string::npos) << word;
  Trace trace = RunTrace(dir / "out.pdf", doc.GetPageBox(1, muPoints));
  EXPECT_EQ(trace.errors, "");
  const std::vector<const Glyph*> glyphs = AllGlyphs(trace);
  std::string stamp;
  for (size_t i = glyphs.size() - std::min<size_t>(glyphs.size(), 11); i < glyphs.size(); ++i)
    stamp += glyphs[i]->unicode;
  EXPECT_EQ(stamp, "社外秘 (draft)");
}
