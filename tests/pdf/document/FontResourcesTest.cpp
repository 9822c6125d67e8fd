// Font resources for stamping: simple and Type0 fonts in each embedding mode, put on a hand-made
// page and on a real file by a minimal content stream written here, saved through the writer and
// judged by qpdf, pdffonts, pdftoppm, pdftotext, mutool, Ghostscript and fontTools; the search of
// a page's fonts for one of ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "pdf/document/zoPDFFont.h"
#include "platform/CodePage.h"
#include "tests/pdf/document/DocTestSupport.h"
#include "tests/pdf/document/PDFFontTestSupport.h"
#include "tests/pdf/document/StampTestSupport.h"

using sv::test::MakeFont;
using sv::test::TempDir;
using sv::test::UseTestFonts;

namespace {

// A page of 400 x 100 points with empty resources and no content of its own.
std::string EmptyPage() {
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 100] /Resources << >> /Contents 4 0 R >>");
  b.Add("<< /Length 0 >>\nstream\n\nendstream");
  return b.Build();
}

// A literal string of bytes, those outside ASCII as octal escapes.
std::string LiteralString(const std::string& bytes) {
  std::string out = "(";
  for (char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    if (b < 0x20 || b > 0x7E || ch == '(' || ch == ')' || ch == '\\') {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\%03o", b);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + ")";
}

// The glyph codes of an Identity-H font for text.
std::string GlyphString(const ui::TFont& font, const std::u16string& text) {
  TzoPDFFont f(font, 0, false, false);
  std::string hex;
  f.EncodeText(text, font.Charset(), hex);
  return "<" + hex + ">";
}

// The codes of a font shown through UniJIS-UTF16-H for text: its UTF-16BE units.
std::string Utf16String(const std::u16string& text) {
  std::string hex = "<";
  for (char16_t unit : text) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(unit));
    hex += digits;
  }
  return hex + ">";
}

// Puts the font resource ref on page index under resName and draws shown (a string operand of
// Tj) with it at 24 points.
void ShowText(TzoCustomPDFDocument& doc, int32_t page, const TzoPDFIndirectReference& ref,
              const std::string& resName, const std::string& shown, int y = 40) {
  doc.AddResourceEntry(doc.PageResources(page), "/Font", &ref, resName);
  doc.AddPageContent(
      page,
      stamptest::AddContentStream(
          doc, "BT " + resName + " 24 Tf 10 " + std::to_string(y) + " Td " + shown + " Tj ET"),
      1);
}

// One row of pdffonts.
struct FontRow {
  std::string name, type, encoding, emb, sub, uni;
};

std::vector<FontRow> PdfFonts(const std::string& path) {
  sv::test::CommandResult r = sv::test::RunCommand({"pdffonts", path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::istringstream in(r.out);
  std::string header, rule, line;
  std::getline(in, header);
  std::getline(in, rule);
  // Columns by the rule of dashes under the header.
  std::vector<std::pair<size_t, size_t>> cols;
  for (size_t i = 0; i < rule.size();) {
    size_t end = rule.find(' ', i);
    if (end == std::string::npos) end = rule.size();
    cols.emplace_back(i, end - i);
    i = end + 1;
  }
  std::vector<FontRow> rows;
  auto cell = [&](const std::string& l, size_t c) {
    if (c >= cols.size() || cols[c].first >= l.size()) return std::string();
    std::string s = l.substr(cols[c].first, cols[c].second);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  };
  while (std::getline(in, line))
    if (cols.size() >= 6)
      rows.push_back({cell(line, 0), cell(line, 1), cell(line, 2), cell(line, 3), cell(line, 4),
                      cell(line, 5)});
  return rows;
}

// What the three text extractors give of a file; their error streams must be empty.
struct Extracted {
  std::string poppler, mupdf, ghostscript;
};

Extracted ExtractText(const std::string& path) {
  Extracted e;
  auto run = [](const std::vector<std::string>& argv, std::string& out) {
    sv::test::CommandResult r = sv::test::RunCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
    // MuPDF's notice about its build, whatever the file.
    const std::string notice = "warning: ICC support is not available\n";
    if (r.err.rfind(notice, 0) == 0) r.err.erase(0, notice.size());
    EXPECT_EQ(r.err, "") << argv[0];
    out = r.out;
  };
  run({"pdftotext", "-q", path, "-"}, e.poppler);
  run({"mutool", "draw", "-q", "-F", "txt", "-o", "-", path}, e.mupdf);
  run({"gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=txtwrite", "-sOutputFile=-", path},
      e.ghostscript);
  return e;
}

// Page 1 rendered in grey at 96 pixels per inch.
std::string RenderGrey(const std::string& path, const TempDir& dir, const std::string& name) {
  sv::test::CommandResult r =
      sv::test::RunCommand({"pdftoppm", "-r", "96", "-gray", "-singlefile", path, dir / name});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  return sv::test::ReadFile(dir / (name + ".pgm"));
}

size_t DarkPixels(const std::string& pgm) {
  return static_cast<size_t>(std::count_if(pgm.begin() + std::min<size_t>(pgm.size(), 20),
                                           pgm.end(),
                                           [](char p) { return static_cast<uint8_t>(p) < 128; }));
}

// The font dictionary of resource name on page index of the saved file, and its parts.
struct SavedFont {
  const doctest::Json* font = nullptr;
  const doctest::Json* descendant = nullptr;  // Type0 only
  const doctest::Json* descriptor = nullptr;
  const doctest::Json* fontFile = nullptr;  // the stream (dict and data), when embedded
};

SavedFont FindSaved(const stamptest::QpdfJson& json, const std::string& resName, int page = 0) {
  SavedFont s;
  const doctest::Json* fonts = json.PageResourceCategory(page, "/Font");
  s.font = fonts ? json.Resolve(fonts->Get(resName)) : nullptr;
  if (!s.font) return s;
  const doctest::Json* holder = s.font;
  if (const doctest::Json* d = json.Resolve(s.font->Get("/DescendantFonts"))) {
    s.descendant = d->items.empty() ? nullptr : json.Resolve(&d->items[0]);
    holder = s.descendant;
  }
  s.descriptor = holder ? json.Resolve(holder->Get("/FontDescriptor")) : nullptr;
  if (s.descriptor) s.fontFile = json.Resolve(s.descriptor->Get("/FontFile2"));
  return s;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The keys of a dictionary, sorted.
std::vector<std::string> Keys(const doctest::Json* dict) {
  std::vector<std::string> keys;
  if (dict)
    for (const auto& [k, v] : dict->members)
      keys.push_back(k);
  return Sorted(keys);
}

std::string FontFileData(const doctest::Json* stream) {
  return stream ? stamptest::Base64Decode(stream->Str("data")) : "";
}

// s without the blanks, line ends and form feeds around it.
std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n\f");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n\f") - first + 1);
}

const std::regex kSubsetName("[A-Z]{6}\\+.+");

}  // namespace

TEST(FontResource, EachModeAsPdffontsAndQpdfSeeIt) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts", "gs");
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  struct Case {
    const char* what;
    const char* font;  // UTF-8
    ui::TFontCharset charset;
    ui::TFontStyles style;
    uint8_t encoding, embed;
    std::string text;  // bytes of the font's character set
    std::string name, type, enc, emb, sub;
    std::string wholeFile;  // the font file that must be embedded whole
  } cases[] = {
      {"TrueType, not embedded", "Arial", 0, 0, 0, 0, "Caf\xE9", "Arial", "TrueType", "WinAnsi",
       "no", "no", ""},
      {"TrueType, whole", "Arial", 0, 0, 0, 1, "Caf\xE9", "Arial", "TrueType", "WinAnsi", "yes",
       "no", t.liberationSans},
      {"TrueType, subset", "Arial", 0, 0, 0, 2, "Caf\xE9", "Arial", "TrueType", "WinAnsi", "yes",
       "yes", ""},
      {"MacRoman subset", "Arial", 0, 0, 1, 2, "Caf\xE9", "Arial", "TrueType", "MacRoman", "yes",
       "yes", ""},
      {"MacExpert", "DejaVu Sans", 0, 0, 2, 0, "1/2", "DejaVuSans", "TrueType", "MacExpert", "no",
       "no", ""},
      {"bold, whole", "Times New Roman", 0, ui::fsBold, 0, 1, "Caf\xE9", "TimesNewRoman,Bold",
       "TrueType", "WinAnsi", "yes", "no", t.liberationSerifBold},
      // Named by the Japanese character collection, which readers fill with a font they have.
      {"Type0, not embedded", "MS Gothic", 128, 0, 0, 0, platform::Utf8ToAnsi("社外秘"), "MSGothic",
       "CID TrueType", "UniJIS-UTF16-H", "no", "no", ""},
      {"Type0, whole", "MS Gothic", 128, 0, 0, 1, platform::Utf8ToAnsi("社外秘"), "MSGothic",
       "CID TrueType", "Identity-H", "yes", "no", t.ipaGothic},
      // The encoding index is no concern of a Type0 font.
      {"Type0, subset", "MS Gothic", 128, 0, 4, 2, platform::Utf8ToAnsi("社外秘"), "MSGothic",
       "CID TrueType", "Identity-H", "yes", "yes", ""},
      {"CFF outlines: Type1, never embedded", "SvFixture Cff", 0, 0, 0, 2, "Caf\xE9",
       "SvFixtureCff", "Type 1", "WinAnsi", "no", "no", ""},
      {"licence forbids embedding", "SvFixture Restricted", 0, 0, 0, 2, "Ab", "SvFixtureRestricted",
       "TrueType", "WinAnsi", "no", "no", ""},
      {"licence forbids subsetting", "SvFixture NoSubset", 0, 0, 0, 2, "Ab", "SvFixtureNoSubset",
       "TrueType", "WinAnsi", "yes", "no", t.noSubset},
      {"symbol font with only a (3,0) map", "SvFixture Symbol", 2, 0, 0, 2, "ABC",
       "SvFixtureSymbol", "TrueType", "WinAnsi", "yes", "no", t.symbol},
      {"no glyph for a text that is not blank", "DejaVu Sans", 128, 0, 0, 2,
       platform::Utf8ToAnsi("社外秘"), "DejaVuSans", "CID TrueType", "Identity-H", "yes", "no",
       t.dejaVuSans},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
    const int32_t before = doc->InputStore().HighestNumber();
    const ui::TFont font = MakeFont(c.font, 24, c.charset, c.style);
    const bool composite = c.charset == 128;
    std::unique_ptr<TzoPDFIndirectReference> ref =
        doc->AddFontResource(font, "/RVNFnt1", c.text, c.encoding, c.embed);
    ASSERT_TRUE(ref);
    EXPECT_GT(ref->ObjectNumber(), before);
    {
      // New objects, numbered one after the other above the file's numbers, in the order
      // ToUnicode, font file, descriptor, CID font, font (simple fonts: font file, descriptor,
      // font).
      TzoPDFObjectStore& store = doc->InputStore();
      auto numberOf = [](const TzoPDFObject* r) {
        return r && r->AsReference() ? r->AsReference()->ObjectNumber() : -1;
      };
      const TzoPDFDictObject* dict = store.Find(ref.get())->DirectObject()->AsDict();
      TzoPDFObject* cid = nullptr;
      if (composite) cid = store.GetArray(dict->GetValue("/DescendantFonts"))->GetItem(0);
      TzoPDFObject* descriptor = (cid ? store.GetDict(cid) : dict)->GetValue("/FontDescriptor");
      std::vector<int32_t> order;
      if (cid) order.push_back(numberOf(dict->GetValue("/ToUnicode")));
      if (c.emb == "yes")
        order.push_back(numberOf(store.GetDict(descriptor)->GetValue("/FontFile2")));
      order.push_back(numberOf(descriptor));
      if (cid) order.push_back(numberOf(cid));
      order.push_back(ref->ObjectNumber());
      EXPECT_GT(order.front(), before);
      for (size_t i = 1; i < order.size(); ++i)
        EXPECT_EQ(order[i], order[i - 1] + 1) << i;
    }
    const bool japan1 = c.enc == "UniJIS-UTF16-H";
    ShowText(*doc, 0, *ref, "/RVNFnt1",
             japan1      ? Utf16String(CharToWide(c.text, c.charset))
             : composite ? GlyphString(font, CharToWide(c.text, c.charset))
                         : LiteralString(c.text));
    const std::string out = dir / "out.pdf";
    stamptest::Save(*doc, out);

    std::vector<FontRow> rows = PdfFonts(out);
    ASSERT_EQ(rows.size(), 1u);
    const FontRow& row = rows[0];
    if (c.sub == "yes") {
      EXPECT_TRUE(std::regex_match(row.name, kSubsetName)) << row.name;
      EXPECT_EQ(row.name.substr(7), c.name);
    } else {
      EXPECT_EQ(row.name, c.name);
    }
    EXPECT_EQ(row.type, c.type);
    EXPECT_EQ(row.encoding, c.enc);
    EXPECT_EQ(row.emb, c.emb);
    EXPECT_EQ(row.sub, c.sub);
    EXPECT_EQ(row.uni, composite ? "yes" : "no");

    stamptest::QpdfJson json(out);
    SavedFont s = FindSaved(json, "/RVNFnt1");
    ASSERT_TRUE(s.font && s.descriptor);
    const std::string baseFont = s.font->Str("/BaseFont");
    EXPECT_EQ(baseFont, "/" + row.name);
    EXPECT_EQ(s.descriptor->Str("/FontName"), baseFont);
    EXPECT_EQ(s.font->Str("/Name"), "/RVNFnt1");
    std::vector<std::string> descriptorKeys = {
        "/Ascent",   "/AvgWidth",    "/CapHeight", "/Descent",      "/Flags", "/FontBBox",
        "/FontName", "/ItalicAngle", "/MaxWidth",  "/MissingWidth", "/StemV", "/Type"};
    if (c.emb == "yes") descriptorKeys.push_back("/FontFile2");
    EXPECT_EQ(Keys(s.descriptor), Sorted(descriptorKeys));
    if (composite) {
      ASSERT_TRUE(s.descendant);
      EXPECT_EQ(Keys(s.font), Sorted({"/BaseFont", "/DescendantFonts", "/Encoding", "/Name",
                                      "/Subtype", "/ToUnicode", "/Type", "/ZoFontKey"}));
      std::vector<std::string> cidKeys = {"/BaseFont", "/CIDSystemInfo", "/DW", "/FontDescriptor",
                                          "/Subtype",  "/Type",          "/W"};
      if (!japan1) cidKeys.push_back("/CIDToGIDMap");
      EXPECT_EQ(Keys(s.descendant), Sorted(cidKeys));
      EXPECT_EQ(s.descendant->Str("/Subtype"), "/CIDFontType2");
      EXPECT_EQ(s.descendant->Str("/BaseFont"), baseFont);
      if (!japan1) {
        EXPECT_EQ(s.descendant->Str("/CIDToGIDMap"), "/Identity");
      }
      const doctest::Json* info = s.descendant->Get("/CIDSystemInfo");
      ASSERT_TRUE(info);
      EXPECT_EQ(info->Str("/Registry"), "u:Adobe");
      EXPECT_EQ(info->Str("/Ordering"), japan1 ? "u:Japan1" : "u:Identity");
    } else {
      EXPECT_EQ(Keys(s.font),
                Sorted({"/BaseFont", "/Encoding", "/FirstChar", "/FontDescriptor", "/LastChar",
                        "/Name", "/Subtype", "/Type", "/Widths", "/ZoFontKey"}));
      const doctest::Json* widths = s.font->Get("/Widths");
      ASSERT_TRUE(widths);
      EXPECT_EQ(widths->items.size(), 224u);
    }
    if (c.emb == "yes") {
      ASSERT_TRUE(s.fontFile);
      const std::string data = FontFileData(s.fontFile);
      EXPECT_EQ(s.fontFile->Get("dict")->Get("/Length1")->n, static_cast<double>(data.size()));
      if (!c.wholeFile.empty()) {
        EXPECT_TRUE(data == sv::test::ReadFile(c.wholeFile)) << "not the whole font file";
      } else {
        EXPECT_LT(data.size() * 4,
                  sv::test::ReadFile(composite ? t.ipaGothic : t.liberationSans).size());
      }
    }
  }
}

TEST(FontResource, SubsetDrawsAndReadsLikeTheWholeFont) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts", "gs");
  SV_REQUIRE_TEST_FONTS();
  struct Case {
    const char* what;
    const char* font;
    ui::TFontCharset charset;
    uint8_t encoding;
    std::string text;   // bytes of the font's character set
    std::string shown;  // the bytes of the string operand, for simple fonts
    std::string utf8;   // what the extractors must give
  } cases[] = {
      {"Type0", "MS Gothic", 128, 0, platform::Utf8ToAnsi("「社外秘」10～20―円"), "",
       "「社外秘」10～20―円"},
      {"TrueType", "Arial", 0, 0, "Caf\xE9", "Caf\xE9", "Café"},
      {"composite glyphs", "DejaVu Sans", 0, 0, "Ab\xE9 Caf\xE9", "Ab\xE9 Caf\xE9", "Abé Café"},
      // The same characters, shown by their MacRoman codes.
      {"MacRoman", "Arial", 0, 1, "Caf\xE9", "Caf\x8E", "Café"},
      // Its codes are its own; the "subset" is the whole font.
      {"symbol font", "SvFixture Symbol", 2, 0, "AbC", "AbC", "AbC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const ui::TFont font = MakeFont(c.font, 24, c.charset);
    std::string renders[3];
    for (uint8_t embed : {0, 1, 2}) {
      SCOPED_TRACE("embed mode " + std::to_string(embed));
      std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
      std::unique_ptr<TzoPDFIndirectReference> ref =
          doc->AddFontResource(font, "/RVNFnt1", c.text, c.encoding, embed);
      // An unembedded Type0 font is shown through UniJIS-UTF16-H: its codes are the text's.
      ShowText(*doc, 0, *ref, "/RVNFnt1",
               !c.shown.empty() ? LiteralString(c.shown)
               : embed == 0     ? Utf16String(CharToWide(c.text, c.charset))
                                : GlyphString(font, CharToWide(c.text, c.charset)));
      const std::string out = dir / ("out" + std::to_string(embed) + ".pdf");
      stamptest::Save(*doc, out);
      if (embed != 0) renders[embed] = RenderGrey(out, dir, "page" + std::to_string(embed));
      // The readers' stand-in for an unembedded Type0 font: poppler reads its text (the other
      // readers are judged on their own elsewhere).
      if (embed == 0 && c.charset == 128) {
        sv::test::CommandResult r = sv::test::RunCommand({"pdftotext", "-q", out, "-"});
        EXPECT_EQ(Trimmed(r.out), c.utf8);
        continue;
      }
      const Extracted text = ExtractText(out);
      EXPECT_EQ(Trimmed(text.poppler), c.utf8);
      EXPECT_EQ(Trimmed(text.mupdf), c.utf8);
      EXPECT_EQ(Trimmed(text.ghostscript), c.utf8);
    }
    EXPECT_GT(DarkPixels(renders[1]), 300u) << "nothing drawn";
    EXPECT_TRUE(renders[1] == renders[2]) << "the subset draws differently";
  }
}

namespace {

// The glyph names of codes 32 .. 255 of a standard encoding, as Ghostscript defines it.
std::vector<std::string> EncodingGlyphNames(const std::string& encoding) {
  sv::test::CommandResult r = sv::test::RunCommand(
      {"gs", "-q", "-dNODISPLAY", "-dSAFER", "-dBATCH", "-c",
       "/" + encoding +
           " findencoding 32 1 255 { 1 index exch get =only ( ) print } for pop () ="});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> names;
  std::istringstream in(r.out);
  for (std::string n; in >> n;)
    names.push_back(n);
  return names;
}

// fontTools' widths (1/1000 em, rounded) of the glyphs that the names stand for in a font: the
// glyph of the name's character (Adobe's glyph list), glyph 0 when the font has none.
std::vector<int> JudgeWidths(const std::string& fontFile, const std::vector<std::string>& names) {
  std::vector<std::string> argv = {sv::test::FontToolsPython(), "-I", "-c",
                                   "import sys\n"
                                   "from fontTools.ttLib import TTFont\n"
                                   "from fontTools import agl\n"
                                   "f = TTFont(sys.argv[1])\n"
                                   "cmap, hmtx = f.getBestCmap(), f['hmtx']\n"
                                   "upem, notdef = f['head'].unitsPerEm, f.getGlyphOrder()[0]\n"
                                   "out = []\n"
                                   "for name in sys.argv[2:]:\n"
                                   "    u = agl.LEGACY_AGL2UV.get(name, [None])[0]\n"
                                   "    g = cmap.get(u, notdef) if name != '.notdef' else notdef\n"
                                   "    out.append(str(round(hmtx[g][0] * 1000 / upem)))\n"
                                   "print(' '.join(out))\n",
                                   fontFile};
  argv.insert(argv.end(), names.begin(), names.end());
  sv::test::CommandResult r = sv::test::RunCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<int> widths;
  std::istringstream in(r.out);
  for (int w; in >> w;)
    widths.push_back(w);
  return widths;
}

}  // namespace

TEST(FontResource, WidthsAreMeasuredInTheEncoding) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts", "gs");
  SV_REQUIRE_TEST_FONTS();
  const auto& t = UseTestFonts();
  for (auto [family, file] : {std::pair<std::string, std::string>{"DejaVu Sans", t.dejaVuSans},
                              {"Arial", t.liberationSans}}) {
    for (uint8_t encoding : {0, 1, 2}) {
      const std::string encodingName(EncodingNames[encoding]);
      SCOPED_TRACE(family + ", " + encodingName);
      TempDir dir;
      std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
      std::unique_ptr<TzoPDFIndirectReference> ref =
          doc->AddFontResource(MakeFont(family, 12, 0), "/RVNFnt1", "Ab", encoding, 0);
      ShowText(*doc, 0, *ref, "/RVNFnt1", "(Ab)");
      stamptest::Save(*doc, dir / "out.pdf");
      stamptest::QpdfJson json(dir / "out.pdf");
      const SavedFont s = FindSaved(json, "/RVNFnt1");
      ASSERT_TRUE(s.font);
      EXPECT_EQ(s.font->Str("/Encoding"), "/" + encodingName);
      const doctest::Json* widths = json.Resolve(s.font->Get("/Widths"));
      ASSERT_TRUE(widths);
      ASSERT_EQ(widths->items.size(), 224u);

      const std::vector<std::string> names = EncodingGlyphNames(encodingName);
      const std::vector<int> judge = JudgeWidths(file, names);
      ASSERT_EQ(judge.size(), 224u);
      int differ = 0;
      for (size_t i = 0; i < 224; ++i) {
        // WinAnsiEncoding draws the bullet at the codes that code page 1252 leaves free; the
        // widths there are those of code page 1252, as the text measurement takes them.
        if (encoding == 0 && names[i] == "bullet" && i + 32 != 0x95) continue;
        const int w = static_cast<int>(widths->items[i].n);
        if (std::abs(w - judge[i]) > 1 && ++differ <= 5)
          ADD_FAILURE() << "code " << i + 32 << " (" << names[i] << "): " << w << " against "
                        << judge[i];
      }
      EXPECT_EQ(differ, 0);
    }
  }
}

TEST(FontResource, SubsetTagsFollowTheGlyphSet) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts", "gs");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
  const ui::TFont gothic = MakeFont("MS Gothic", 20, 128);
  const std::u16string texts[] = {u"社外秘", u"秘外社", u"極秘", u"社外秘 "};
  std::vector<std::string> names;
  for (size_t i = 0; i < std::size(texts); ++i) {
    const std::string res = "/RVNFnt" + std::to_string(i + 1);
    std::unique_ptr<TzoPDFIndirectReference> ref =
        doc->AddFontResource(gothic, res, platform::WideToAnsi(texts[i]), 0, 2);
    ShowText(*doc, 0, *ref, res, GlyphString(gothic, texts[i]), 10 + 20 * static_cast<int>(i));
    const TzoPDFObject* font = doc->InputStore().Find(ref.get())->DirectObject();
    const std::string base = font->AsDict()->GetValue("/BaseFont")->AsName()->Text();
    EXPECT_TRUE(std::regex_match(base.substr(1), kSubsetName)) << base;
    names.push_back(base);
  }
  // The same glyphs in another order or with a blank give the same name; other glyphs another.
  EXPECT_EQ(names[0], names[1]);
  EXPECT_EQ(names[0], names[3]);
  EXPECT_NE(names[0], names[2]);
  EXPECT_EQ(names[0].substr(7), names[2].substr(7));
  stamptest::Save(*doc, dir / "out.pdf");
  std::vector<FontRow> rows = PdfFonts(dir / "out.pdf");
  ASSERT_EQ(rows.size(), 4u);
  std::set<std::string> distinct;
  for (const FontRow& row : rows)
    distinct.insert(row.name);
  EXPECT_EQ(distinct.size(), 2u);
  const Extracted text = ExtractText(dir / "out.pdf");
  for (const char* want : {"社外秘", "秘外社", "極秘"})
    EXPECT_NE(text.poppler.find(want), std::string::npos) << want << " in " << text.poppler;
}

TEST(FontResource, RefusesWhatNoFontResourceCanBe) {
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
  const int32_t objects = doc->InputStore().Count();
  const ui::TFont arial = MakeFont("Arial", 12, 0);
  struct Case {
    uint8_t index;
    const char* named;
  } cases[] = {{3, "StandardEncoding"}, {4, "PDFDocEncoding"}, {5, "5"}, {255, "255"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    for (uint8_t embed : {0, 2}) {
      try {
        doc->AddFontResource(arial, "/RVNFnt1", "Ab", c.index, embed);
        ADD_FAILURE() << "no error";
      } catch (const EUnsupportedFontError& e) {
        EXPECT_EQ(std::string(e.what()), rtl::Format(SInvalidFontEncoding, c.named));
      }
    }
    std::string name = "/Kept";
    EXPECT_THROW(doc->FindFontResource(nullptr, arial, name, c.index), EUnsupportedFontError);
    EXPECT_EQ(name, "/Kept");
  }
  // A composite font needs TrueType data.
  try {
    doc->AddFontResource(MakeFont("SvFixture Cff", 12, 128), "/RVNFnt1", "Ab", 0, 2);
    ADD_FAILURE() << "no error";
  } catch (const EUnsupportedFontError& e) {
    EXPECT_EQ(std::string(e.what()), "Unsupported Font (SvFixture Cff)");
  }
  // Damaged font data (a composite glyph that names itself) is found before anything is added.
  try {
    doc->AddFontResource(MakeFont("SvFixture Loop", 12, 0), "/RVNFnt1", "A\xE9", 0, 2);
    ADD_FAILURE() << "no error";
  } catch (const EUnsupportedFontError& e) {
    EXPECT_NE(std::string(e.what()).find("loop"), std::string::npos) << e.what();
  }
  EXPECT_EQ(doc->InputStore().Count(), objects);
}

TEST(FindFontResource, ReusesOnlyFontsThisLibraryMade) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts", "gs");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
  // A font of another maker under the same name comes first.
  {
    auto foreign = std::make_unique<TzoPDFDictObject>();
    foreign->AddName("/Type", "/Font");
    foreign->AddName("/Subtype", "/TrueType");
    foreign->AddName("/BaseFont", "/Arial");
    foreign->AddName("/Encoding", "/WinAnsiEncoding");
    foreign->AddInteger("/FirstChar", 65);
    foreign->AddInteger("/LastChar", 66);
    auto widths = std::make_unique<TzoPDFArrayObject>();
    widths->AddInteger(667);
    widths->AddInteger(667);
    foreign->AddObject("/Widths", std::move(widths));
    ShowText(*doc, 0, *stamptest::AddObject(*doc, std::move(foreign)), "/F0", "(AB)", 80);
  }
  const ui::TFont arial = MakeFont("Arial", 12, 0), gothic = MakeFont("MS Gothic", 12, 128);
  struct Made {
    ui::TFont font;
    uint8_t encoding, embed;
  } made[] = {{arial, 0, 0},
              {gothic, 0, 1},
              {MakeFont("Times New Roman", 12, 0, ui::fsBold), 0, 1},
              {arial, 1, 0},
              {MakeFont("DejaVu Sans", 12, 0), 0, 2}};  // a subset
  for (size_t i = 0; i < std::size(made); ++i) {
    const std::string res = "/F" + std::to_string(i + 1);
    const Made& m = made[i];
    std::unique_ptr<TzoPDFIndirectReference> ref =
        doc->AddFontResource(m.font, res, "Ab", m.encoding, m.embed);
    ShowText(*doc, 0, *ref, res,
             m.font.Charset() == 128 ? GlyphString(m.font, u"Ab") : std::string("(Ab)"),
             10 + 12 * static_cast<int>(i));
  }
  stamptest::Save(*doc, dir / "out.pdf");

  // Read back from the file.
  std::unique_ptr<TzoPDFDocument> again =
      stamptest::LoadFixture(sv::test::ReadFile(dir / "out.pdf"), dir, "again.pdf");
  TzoPDFObjectStore& store = again->InputStore();
  TzoPDFDictObject* resources =
      store.GetDict(again->Pages()[0]->DirectObject()->AsDict()->GetValue("/Resources"));
  ASSERT_TRUE(resources);
  const TzoPDFDictObject* fonts = store.GetDict(resources->GetValue("/Font"));
  ASSERT_TRUE(fonts);
  struct Ask {
    const char* what;
    ui::TFont font;
    uint8_t encoding;
    std::string found;  // "" for none
  } asks[] = {
      {"Arial, WinAnsi", arial, 0, "/F1"},
      {"Arial, MacRoman", arial, 1, "/F4"},
      {"Arial, MacExpert", arial, 2, ""},
      {"Arial bold", MakeFont("Arial", 12, 0, ui::fsBold), 0, ""},
      {"Type0 (the encoding is not its concern)", gothic, 3, "/F2"},
      {"Times New Roman bold", MakeFont("Times New Roman", 12, 0, ui::fsBold), 0, "/F3"},
      {"a subset is never reused", MakeFont("DejaVu Sans", 12, 0), 0, ""},
      {"another Japanese font", MakeFont("MS PGothic", 12, 128), 0, ""},
  };
  for (const Ask& a : asks) {
    SCOPED_TRACE(a.what);
    std::string name = "/Kept";
    EXPECT_EQ(again->FindFontResource(fonts, a.font, name, a.encoding), !a.found.empty());
    EXPECT_EQ(name, a.found.empty() ? "/Kept" : a.found);
  }

  // Our own dictionaries, changed in one respect each, are not ours any more.
  auto dictOf = [&](const char* res) { return CloneOf(*store.GetDict(fonts->GetValue(res))); };
  auto descendant = [&](TzoPDFDictObject& type0) {
    auto cid =
        CloneOf(*store.GetDict(store.GetArray(type0.GetValue("/DescendantFonts"))->GetItem(0)));
    TzoPDFDictObject* raw = cid.get();
    auto list = std::make_unique<TzoPDFArrayObject>();
    list->Add(std::move(cid));
    type0.SetValue("/DescendantFonts", std::move(list));
    return raw;
  };
  struct Mutation {
    const char* what;
    const char* res;
    ui::TFont font;
    std::function<void(TzoPDFDictObject&)> apply;
    bool stillOurs;
  } mutations[] = {
      {"unchanged", "/F1", arial, [](TzoPDFDictObject&) {}, true},
      {"one width changed", "/F1", arial,
       [&](TzoPDFDictObject& d) {
         auto w = CloneOf(*store.GetArray(d.GetValue("/Widths")));
         w->SetItem(33, std::make_unique<TzoPDFIntegerObject>(1));
         d.SetValue("/Widths", std::move(w));
       },
       false},
      {"partial widths", "/F1", arial,
       [&](TzoPDFDictObject& d) {
         auto w = CloneOf(*store.GetArray(d.GetValue("/Widths")));
         w->Delete(w->Count() - 1);
         d.SetValue("/Widths", std::move(w));
         d.SetInteger("/LastChar", 254);
       },
       false},
      {"FirstChar", "/F1", arial, [](TzoPDFDictObject& d) { d.SetInteger("/FirstChar", 33); },
       false},
      {"no fingerprint", "/F1", arial, [](TzoPDFDictObject& d) { d.Remove("/ZoFontKey"); }, false},
      {"another fingerprint", "/F1", arial,
       [](TzoPDFDictObject& d) { d.SetName("/ZoFontKey", "/0123456789ABCDEF"); }, false},
      {"a subset tag", "/F1", arial,
       [](TzoPDFDictObject& d) { d.SetName("/BaseFont", "/ABCDEF+Arial"); }, false},
      {"Type0 unchanged", "/F2", gothic, [&](TzoPDFDictObject& d) { descendant(d); }, true},
      {"CIDToGIDMap", "/F2", gothic,
       [&](TzoPDFDictObject& d) {
         descendant(d)->SetValue("/CIDToGIDMap",
                                 stamptest::AddContentStream(*again, std::string("\x00\x01", 2)));
       },
       false},
      {"one glyph width changed", "/F2", gothic,
       [&](TzoPDFDictObject& d) {
         TzoPDFDictObject* cid = descendant(d);
         auto w = CloneOf(*store.GetArray(cid->GetValue("/W")));
         w->SetItem(2, std::make_unique<TzoPDFIntegerObject>(1));
         cid->SetValue("/W", std::move(w));
       },
       false},
      {"no descendant", "/F2", gothic, [](TzoPDFDictObject& d) { d.Remove("/DescendantFonts"); },
       false},
  };
  for (const Mutation& m : mutations) {
    SCOPED_TRACE(m.what);
    std::unique_ptr<TzoPDFDictObject> dict = dictOf(m.res);
    m.apply(*dict);
    TzoPDFDictObject one;
    one.AddObject("/X", std::move(dict));
    std::string name;
    EXPECT_EQ(again->FindFontResource(&one, m.font, name, 0), m.stillOurs);
    EXPECT_EQ(name, m.stillOurs ? "/X" : "");
  }

  // Entries that are no font dictionaries are passed over, each on its own values.
  TzoPDFDictObject odd;
  odd.AddObject("/A", std::make_unique<TzoPDFIntegerObject>(5));
  odd.AddObject("/B", std::make_unique<TzoPDFDictObject>());  // no /Subtype
  odd.AddObject("/C", std::make_unique<TzoPDFIndirectReference>(again->DocumentNumber(), 9999, 0));
  std::string name = "/Kept";
  EXPECT_FALSE(again->FindFontResource(&odd, arial, name, 0));
  EXPECT_EQ(name, "/Kept");
  odd.AddObject("/D", dictOf("/F1"));
  EXPECT_TRUE(again->FindFontResource(&odd, arial, name, 0));
  EXPECT_EQ(name, "/D");
  EXPECT_FALSE(again->FindFontResource(nullptr, arial, name, 0));
}

TEST(FontResource, OnARealFile) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdftotext", "pdffonts", "gs");
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  const std::string in = sv::test::CorpusDir() + "docs/fontconfig-user.pdf";
  const std::vector<FontRow> before = PdfFonts(in);
  std::unique_ptr<TzoPDFDocument> doc =
      stamptest::LoadFixture(sv::test::ReadFile(in), dir, "in.pdf");
  const int32_t fileNumbers =
      static_cast<int32_t>(std::max(doc->XRefItems().size(), doc->XRefStmItems().size()));
  const ui::TFont gothic = MakeFont("MS Gothic", 24, 128), arial = MakeFont("Arial", 24, 0);
  const std::u16string japanese = u"「社外秘」10～20―円";
  std::unique_ptr<TzoPDFIndirectReference> type0 =
      doc->AddFontResource(gothic, "/RVNFnt1", platform::WideToAnsi(japanese), 0, 2);
  std::unique_ptr<TzoPDFIndirectReference> simple =
      doc->AddFontResource(arial, "/RVNFnt2", "Caf\xE9", 0, 1);
  EXPECT_GE(type0->ObjectNumber(), fileNumbers);
  EXPECT_GE(simple->ObjectNumber(), fileNumbers);
  ShowText(*doc, 0, *type0, "/RVNFnt1", GlyphString(gothic, japanese), 60);
  ShowText(*doc, 0, *simple, "/RVNFnt2", LiteralString("Caf\xE9"), 30);
  const std::string out = dir / "out.pdf";
  stamptest::Save(*doc, out);

  const std::vector<FontRow> after = PdfFonts(out);
  ASSERT_EQ(after.size(), before.size() + 2);
  int ours = 0;
  for (const FontRow& row : after) {
    if (row.type == "CID TrueType") {
      ++ours;
      EXPECT_TRUE(std::regex_match(row.name, kSubsetName)) << row.name;
      EXPECT_EQ((std::vector<std::string>{row.encoding, row.emb, row.sub, row.uni}),
                (std::vector<std::string>{"Identity-H", "yes", "yes", "yes"}));
    } else if (row.name == "Arial") {
      ++ours;
      EXPECT_EQ((std::vector<std::string>{row.type, row.encoding, row.emb, row.sub}),
                (std::vector<std::string>{"TrueType", "WinAnsi", "yes", "no"}));
    }
  }
  EXPECT_EQ(ours, 2);
  sv::test::CommandResult text =
      sv::test::RunCommand({"pdftotext", "-q", "-f", "1", "-l", "1", out, "-"});
  EXPECT_NE(text.out.find("「社外秘」10～20―円"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Café"), std::string::npos);
  sv::test::CommandResult gs =
      sv::test::RunCommand({"gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-dFirstPage=1",
                            "-dLastPage=1", "-sDEVICE=txtwrite", "-sOutputFile=-", out});
  EXPECT_EQ(gs.err, "");
  EXPECT_NE(gs.out.find("「社外秘」10～20―円"), std::string::npos) << gs.out;
  EXPECT_NE(gs.out.find("Café"), std::string::npos);

  // Saved and read again, the whole Arial is ours to reuse; the subset is not.
  std::unique_ptr<TzoPDFDocument> again =
      stamptest::LoadFixture(sv::test::ReadFile(out), dir, "again.pdf");
  TzoPDFObjectStore& store = again->InputStore();
  const TzoPDFDictObject* fonts = store.GetDict(
      store.GetDict(again->Pages()[0]->DirectObject()->AsDict()->GetValue("/Resources"))
          ->GetValue("/Font"));
  ASSERT_TRUE(fonts);
  std::string name;
  EXPECT_TRUE(again->FindFontResource(fonts, arial, name, 0));
  EXPECT_EQ(name, "/RVNFnt2");
  EXPECT_FALSE(again->FindFontResource(fonts, gothic, name, 0));
}

namespace {

// Characters code page 932 lacks or maps to others (é, −, ‖, £ and 〜 against ～), and kanji.
const std::u16string kMixed = u"café − ‖ 〜 £ ¢ ¬ 社外秘";

// How a Japanese text comes onto a page: a text stamp, or formatted text.
enum class Drawn { Stamp, Formatted };

// kMixed in MS Gothic at 20 points, its cell's top-left corner at (20, 30) pixels, drawn on the
// empty page and saved to out: by a stamp with embedMode, or by formatted text (always a
// subset).
void DrawMixed(const std::string& out, const TempDir& dir, Drawn how, uint8_t embedMode) {
  std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
  if (how == Drawn::Formatted) {
    doc->SetMeasurementUnit(muPixels);
    doc->DrawFormattedText(
        u"<FONT FACE=\"MS Gothic\" CHARSET=SHIFTJIS_CHARSET SIZE=20 "
        u"COLOR=#000000>" +
            kMixed + u"</FONT>",
        "1", 20, 30);
  } else {
    doc->SetMeasurementUnit(muPixels);
    TzoTextWatermarkTemplate t;
    t.Text = kMixed;
    ui::TFont font = MakeFont("MS Gothic", 20, 128);
    font.SetColor(ui::clBlack);
    t.SetFont(font);
    t.Layer = 1;
    t.HorizontalPosition = 3;
    t.VerticalPosition = 3;
    t.X = 20;
    t.Y = 30;
    t.EmbedMode = embedMode;
    doc->InsertWatermark(t, "1");
  }
  stamptest::Save(*doc, out);
}

// The (character, glyph) pairs that fontTools reads from a font file's best Unicode cmap.
std::vector<std::pair<uint32_t, uint16_t>> JudgeCmap(const std::string& fontFile) {
  sv::test::CommandResult r = sv::test::RunFontJudge({"cmap", fontFile});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::pair<uint32_t, uint16_t>> pairs;
  const sv::test::JudgeOutput judged(r.out);
  for (const std::string& line : judged.Lines("pairs")) {
    std::istringstream in(line);
    uint32_t code = 0, glyph = 0;
    in >> code >> glyph;
    pairs.emplace_back(code, static_cast<uint16_t>(glyph));
  }
  return pairs;
}

// The source ranges of the bfchar and bfrange entries of a ToUnicode CMap, one per glyph.
size_t ToUnicodeEntries(const std::string& cmap) {
  size_t count = 0;
  std::istringstream in(cmap);
  std::string line;
  const std::regex one("<([0-9A-Fa-f]+)> <[0-9A-Fa-f]+>\\s*"),
      range("<([0-9A-Fa-f]+)> <([0-9A-Fa-f]+)> <[0-9A-Fa-f]+>\\s*");
  std::smatch m;
  bool inBlock = false;
  while (std::getline(in, line)) {
    if (line.find("beginbf") != std::string::npos) inBlock = true;
    if (line.find("endbf") != std::string::npos) inBlock = false;
    if (!inBlock) continue;
    if (std::regex_match(line, m, range))
      count += std::stoul(m[2], nullptr, 16) - std::stoul(m[1], nullptr, 16) + 1;
    else if (std::regex_match(line, m, one))
      ++count;
  }
  return count;
}

}  // namespace

// A subset holds the glyph of every character drawn, whatever code page 932 makes of it: the
// page renders pixel for pixel as with the whole font, the text reads back as it was stamped,
// and the subset's own character map and the ToUnicode CMap list only the characters drawn.
TEST(FontResource, SubsetHoldsEveryDrawnGlyphAndReadsBackAsStamped) {
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  const std::string whole = dir / "whole.pdf";
  DrawMixed(whole, dir, Drawn::Stamp, 1);
  const std::string wholeRender = RenderGrey(whole, dir, "whole");
  EXPECT_GT(DarkPixels(wholeRender), 400u) << "nothing drawn";

  // The characters drawn and the glyphs the font draws them with.
  TzoPDFFont gothic(MakeFont("MS Gothic", 20, 128), 0, false, false);
  std::set<std::pair<uint32_t, uint16_t>> drawn;
  for (char16_t c : kMixed) {
    ASSERT_NE(gothic.GlyphOf(c), 0) << "the test font lacks U+" << std::hex << int(c);
    drawn.emplace(c, gothic.GlyphOf(c));
  }

  for (Drawn how : {Drawn::Stamp, Drawn::Formatted}) {
    SCOPED_TRACE(how == Drawn::Stamp ? "stamp" : "formatted text");
    const std::string out = dir / "subset.pdf";
    DrawMixed(out, dir, how, 2);
    EXPECT_TRUE(RenderGrey(out, dir, "subset") == wholeRender) << "the subset draws differently";
    const Extracted text = ExtractText(out);
    EXPECT_EQ(Trimmed(text.poppler), platform::WideToUtf8(kMixed));
    EXPECT_EQ(Trimmed(text.mupdf), platform::WideToUtf8(kMixed));

    const stamptest::QpdfJson json(out);
    const doctest::Json* fonts = json.PageResourceCategory(0, "/Font");
    ASSERT_TRUE(fonts && fonts->members.size() == 1);
    const SavedFont s = FindSaved(json, fonts->members.begin()->first);
    ASSERT_TRUE(s.fontFile && s.font);
    EXPECT_TRUE(std::regex_match(s.font->Str("/BaseFont").substr(1), kSubsetName));
    sv::test::WriteFile(dir / "subset.ttf", FontFileData(s.fontFile));
    const std::vector<std::pair<uint32_t, uint16_t>> cmap = JudgeCmap(dir / "subset.ttf");
    const std::set<std::pair<uint32_t, uint16_t>> listed(cmap.begin(), cmap.end());
    EXPECT_EQ(listed, drawn);
    const doctest::Json* toUnicode = json.Resolve(s.font->Get("/ToUnicode"));
    ASSERT_TRUE(toUnicode);
    EXPECT_EQ(ToUnicodeEntries(FontFileData(toUnicode)), drawn.size()) << FontFileData(toUnicode);
  }
}

// A short Japanese stamp as a subset adds a few kilobytes, not the font's character map; a
// second call that embeds the same subset names the same font program.
TEST(FontResource, AShortSubsetStaysSmallAndIsEmbeddedOnce) {
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  const std::string page = EmptyPage();
  auto stamp = [&](TzoPDFDocument& doc, int32_t vertical) {
    TzoTextWatermarkTemplate t;
    t.Text = u"社外秘";
    t.SetFont(MakeFont("MS Gothic", 20, 128));
    t.Layer = 1;
    t.VerticalPosition = static_cast<uint8_t>(vertical);
    t.EmbedMode = 2;
    doc.InsertWatermark(t, "1");
  };
  for (int calls : {1, 2}) {
    SCOPED_TRACE(std::to_string(calls) + " calls");
    std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(page, dir);
    for (int i = 0; i < calls; ++i)
      stamp(*doc, i * 2);
    const std::string out = dir / "out.pdf";
    stamptest::Save(*doc, out);
    const size_t growth = sv::test::ReadFile(out).size() - page.size();
    EXPECT_LE(growth, calls * 2048u + 28 * 1024u) << "the file grew by " << growth << " bytes";

    const stamptest::QpdfJson json(out);
    const doctest::Json* fonts = json.PageResourceCategory(0, "/Font");
    ASSERT_TRUE(fonts);
    ASSERT_EQ(fonts->members.size(), static_cast<size_t>(calls));
    std::set<std::string> programs;
    for (const auto& [name, value] : fonts->members) {
      const doctest::Json* descendants =
          json.Resolve(json.Resolve(&value)->Get("/DescendantFonts"));
      ASSERT_TRUE(descendants && descendants->items.size() == 1);
      const doctest::Json* descriptor =
          json.Resolve(json.Resolve(&descendants->items[0])->Get("/FontDescriptor"));
      ASSERT_TRUE(descriptor && descriptor->Get("/FontFile2"));
      programs.insert(descriptor->Get("/FontFile2")->s);
    }
    EXPECT_EQ(programs.size(), 1u);
    sv::test::CommandResult text = sv::test::RunCommand({"pdftotext", "-q", out, "-"});
    std::string expected;
    for (int i = 0; i < calls; ++i)
      expected += i == 0 ? "社外秘" : "\n\n社外秘";
    EXPECT_EQ(Trimmed(text.out), expected);
  }
}

namespace {

// While it lives, the outside tools started by the test find fonts through a fontconfig
// configuration of a private folder that holds only the given font file.
class ToolFontConfiguration {
 public:
  explicit ToolFontConfiguration(const std::string& font) {
    std::filesystem::create_directories(dir_ / "fonts");
    std::filesystem::create_symlink(font, dir_ / "fonts/only.ttf");
    sv::test::WriteFile(dir_ / "fonts.conf",
                        "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                        "<fontconfig><dir>" +
                            (dir_ / "fonts") + "</dir><cachedir>" + (dir_ / "cache") +
                            "</cachedir></fontconfig>\n");
    const char* old = std::getenv("FONTCONFIG_FILE");
    if (old) saved_ = old;
    hadOld_ = old != nullptr;
    setenv("FONTCONFIG_FILE", (dir_ / "fonts.conf").c_str(), 1);
  }
  ~ToolFontConfiguration() {
    if (hadOld_)
      setenv("FONTCONFIG_FILE", saved_.c_str(), 1);
    else
      unsetenv("FONTCONFIG_FILE");
  }
  ToolFontConfiguration(const ToolFontConfiguration&) = delete;
  ToolFontConfiguration& operator=(const ToolFontConfiguration&) = delete;

 private:
  TempDir dir_;
  std::string saved_;
  bool hadOld_ = false;
};

// A grey picture read from a binary PGM file: width, height and one byte a pixel.
struct Grey {
  int width = 0, height = 0;
  std::string pixels;
  // The pixels darker than the middle inside the rectangle (pixels, clipped to the picture).
  int Dark(double x1, double y1, double x2, double y2) const {
    int n = 0;
    for (int y = std::max(0, static_cast<int>(y1)); y < std::min(height, static_cast<int>(y2)); ++y)
      for (int x = std::max(0, static_cast<int>(x1)); x < std::min(width, static_cast<int>(x2));
           ++x)
        n += static_cast<uint8_t>(pixels[static_cast<size_t>(y) * width + x]) < 128;
    return n;
  }
};

Grey ReadPgm(const std::string& path) {
  std::istringstream in(sv::test::ReadFile(path));
  std::string magic;
  int maxValue = 0;
  Grey g;
  in >> magic >> g.width >> g.height >> maxValue;
  in.get();
  g.pixels.assign(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(magic, "P5");
  EXPECT_EQ(g.pixels.size(), static_cast<size_t>(g.width) * g.height);
  return g;
}

}  // namespace

// A Japanese stamp that is not embedded names its characters by the Adobe-Japan1 collection, so
// that a reader without the stamped font draws them with the Japanese font it has, where the
// embedded stamp puts them; a character outside the collection makes the stamp an embedded
// subset instead.
TEST(FontResource, AJapaneseStampNotEmbeddedDrawsWithAnotherJapaneseFont) {
  SV_REQUIRE_TEST_FONTS();
  const sv::test::CommandResult mincho =
      sv::test::RunCommand({"fc-match", "-f", "%{file}", "IPAMincho"});
  ASSERT_TRUE(mincho.exitCode == 0 && mincho.out.find("mincho") != std::string::npos)
      << "IPAMincho is not installed: " << mincho.out;
  TempDir dir;
  const std::u16string text = u"社外秘 10〜12時 café ¬ £";
  auto stamp = [&](uint8_t embedMode, const std::u16string& what, const std::string& out) {
    std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
    TzoTextWatermarkTemplate t;
    t.Text = what;
    ui::TFont font = MakeFont("MS Gothic", 20, 128);
    font.SetColor(ui::clBlack);
    t.SetFont(font);
    t.Layer = 1;
    t.HorizontalPosition = 1;
    t.VerticalPosition = 1;
    t.EmbedMode = embedMode;
    doc->InsertWatermark(t, "1");
    EXPECT_EQ(t.EmbedMode, embedMode);
    stamptest::Save(*doc, out);
  };
  const std::string named = dir / "named.pdf", embedded = dir / "embedded.pdf";
  stamp(0, text, named);
  stamp(1, text, embedded);
  const std::vector<FontRow> rows = PdfFonts(named);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ((std::vector<std::string>{rows[0].type, rows[0].encoding, rows[0].emb, rows[0].uni}),
            (std::vector<std::string>{"CID TrueType", "UniJIS-UTF16-H", "no", "yes"}));

  const TzoRectD box{0, 0, 400, 100};
  const stamptest::Trace reference = stamptest::RunTrace(embedded, box);
  {
    ToolFontConfiguration only(mincho.out);
    const stamptest::Trace trace = stamptest::RunTrace(named, box);
    // MuPDF says so of any ToUnicode CMap of a font with a predefined CMap other than
    // Identity-H, whatever its codespace.
    const std::string notice = "warning: CMap is missing codespace range\n";
    EXPECT_TRUE(trace.errors == "" || trace.errors == notice) << trace.errors;
    std::vector<stamptest::Glyph> glyphs, expected;
    for (const stamptest::Mark* m : trace.Of("fill_text"))
      glyphs.insert(glyphs.end(), m->glyphs.begin(), m->glyphs.end());
    for (const stamptest::Mark* m : reference.Of("fill_text"))
      expected.insert(expected.end(), m->glyphs.begin(), m->glyphs.end());
    ASSERT_EQ(glyphs.size(), expected.size());
    ASSERT_EQ(glyphs.size(), text.size());

    // Both renderers draw ink in the cell of every character but the blanks (96 pixels per
    // inch; cells from the glyph origins, one font size high above the baseline).
    sv::test::CommandResult poppler = sv::test::RunCommand(
        {"pdftoppm", "-r", "96", "-gray", "-singlefile", named, dir / "poppler"});
    EXPECT_EQ(poppler.exitCode, 0) << poppler.err;
    EXPECT_EQ(poppler.err, "");
    sv::test::CommandResult mupdf = sv::test::RunCommand(
        {"mutool", "draw", "-q", "-r", "96", "-c", "gray", "-o", dir / "mupdf.pgm", named, "1"});
    EXPECT_EQ(mupdf.exitCode, 0) << mupdf.err;
    const Grey pictures[] = {ReadPgm(dir / "poppler.pgm"), ReadPgm(dir / "mupdf.pgm")};
    const double scale = 96.0 / 72;
    for (size_t i = 0; i < glyphs.size(); ++i) {
      SCOPED_TRACE("character " + std::to_string(i));
      EXPECT_NEAR(glyphs[i].x, expected[i].x, 1.0);
      EXPECT_NEAR(glyphs[i].y, expected[i].y, 1.0);
      if (text[i] == u' ') continue;
      const double right = i + 1 < glyphs.size() ? glyphs[i + 1].x : glyphs[i].x + 10;
      for (const Grey& g : pictures)
        EXPECT_GT(g.Dark(glyphs[i].x * scale, (100 - glyphs[i].y - 20) * scale, right * scale,
                         (100 - glyphs[i].y + 4) * scale),
                  3)
            << (&g == &pictures[0] ? "poppler" : "MuPDF");
    }

    sv::test::CommandResult extracted = sv::test::RunCommand({"pdftotext", "-q", named, "-"});
    EXPECT_EQ(Trimmed(extracted.out), platform::WideToUtf8(text));
    sv::test::CommandResult mupdfText =
        sv::test::RunCommand({"mutool", "draw", "-q", "-F", "txt", "-o", "-", named});
    EXPECT_EQ(mupdfText.exitCode, 0) << mupdfText.err;
    // MuPDF reads the room that a stand-in's narrower blank leaves in its cell as one more blank.
    const std::string mupdfRead =
        std::regex_replace(Trimmed(mupdfText.out), std::regex(" +"), std::string(" "));
    EXPECT_EQ(mupdfRead, platform::WideToUtf8(text));
  }

  // A second stamp of the same font has a font resource of its own, whose ToUnicode CMap maps
  // its own text.
  {
    std::unique_ptr<TzoPDFDocument> doc = stamptest::LoadFixture(EmptyPage(), dir);
    for (uint8_t vertical : {0, 2}) {
      TzoTextWatermarkTemplate t;
      t.Text = vertical == 0 ? u"社外秘" : u"〜12時";
      t.SetFont(MakeFont("MS Gothic", 20, 128));
      t.Layer = 1;
      t.VerticalPosition = vertical;
      doc->InsertWatermark(t, "1");
    }
    const std::string twice = dir / "twice.pdf";
    stamptest::Save(*doc, twice);
    const std::vector<FontRow> two = PdfFonts(twice);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].encoding, "UniJIS-UTF16-H");
    EXPECT_EQ(two[1].encoding, "UniJIS-UTF16-H");
    sv::test::CommandResult both = sv::test::RunCommand({"pdftotext", "-q", twice, "-"});
    EXPECT_EQ(Trimmed(both.out), "社外秘\n\n〜12時");
  }

  // A character outside the collection (Thai, which the font lacks too): an embedded subset.
  const std::string outside = dir / "outside.pdf";
  stamp(0, u"社外秘 ก", outside);
  const std::vector<FontRow> subset = PdfFonts(outside);
  ASSERT_EQ(subset.size(), 1u);
  EXPECT_TRUE(std::regex_match(subset[0].name, kSubsetName)) << subset[0].name;
  EXPECT_EQ((std::vector<std::string>{subset[0].encoding, subset[0].emb, subset[0].sub}),
            (std::vector<std::string>{"Identity-H", "yes", "yes"}));
  sv::test::CommandResult outsideText = sv::test::RunCommand({"pdftotext", "-q", outside, "-"});
  EXPECT_EQ(Trimmed(outsideText.out).substr(0, 9), "社外秘");
}
