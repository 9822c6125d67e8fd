#include "pdf/document/zoPDFFont.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoUtils.h"
#include "platform/Fonts.h"

// ---- Character sets and code pages ----

uint32_t CodePageOfCharset(uint8_t charset) {
  return platform::CodePageOfCharset(charset);
}

std::u16string CharToWide(std::string_view s, uint8_t charset) {
  return platform::MultiByteToWide(CodePageOfCharset(charset), s);
}

// ---- Simple-font encodings ----

namespace {

// WinAnsiEncoding 0x80 .. 0x9F (0 where it is undefined); 0x20 .. 0x7E are ASCII and 0xA0 ..
// 0xFF Latin-1.
constexpr char16_t kWinAnsiHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 0x88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 0x98
};

// MacRomanEncoding 0x80 .. 0xFF; 0x20 .. 0x7E are ASCII. 0xCA draws the space glyph and stands
// for the no-break space here.
constexpr char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 0x80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 0x88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 0x90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 0x98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // 0xA0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0,      0x00C6, 0x00D8,  // 0xA8
    0,      0x00B1, 0,      0,      0x00A5, 0x00B5, 0,      0,       // 0xB0
    0,      0,      0,      0x00AA, 0x00BA, 0,      0x00E6, 0x00F8,  // 0xB8
    0x00BF, 0x00A1, 0x00AC, 0,      0x0192, 0,      0,      0x00AB,  // 0xC0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // 0xC8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0,       // 0xD0
    0x00FF, 0x0178, 0x2044, 0x00A4, 0x2039, 0x203A, 0xFB01, 0xFB02,  // 0xD8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // 0xE0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // 0xE8
    0,      0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // 0xF0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // 0xF8
};

// MacExpertEncoding 0x20 .. 0xFF. Small capitals and old-style figures have no characters of
// their own: they stand for the private-use characters of the Adobe Glyph List.
constexpr char16_t kMacExpert[224] = {
    0x0020, 0xF721, 0xF6F8, 0xF7A2, 0xF724, 0xF6E4, 0xF726, 0xF7B4,  // 0x20
    0x207D, 0x207E, 0x2025, 0x2024, 0x002C, 0x002D, 0x002E, 0x2044,  // 0x28
    0xF730, 0xF731, 0xF732, 0xF733, 0xF734, 0xF735, 0xF736, 0xF737,  // 0x30
    0xF738, 0xF739, 0x003A, 0x003B, 0,      0xF6DE, 0,      0xF73F,  // 0x38
    0,      0,      0,      0,      0xF7F0, 0,      0,      0x00BC,  // 0x40
    0x00BD, 0x00BE, 0x215B, 0x215C, 0x215D, 0x215E, 0x2153, 0x2154,  // 0x48
    0,      0,      0,      0,      0,      0,      0xFB00, 0xFB01,  // 0x50
    0xFB02, 0xFB03, 0xFB04, 0x208D, 0,      0x208E, 0xF6F6, 0xF6E5,  // 0x58
    0xF760, 0xF761, 0xF762, 0xF763, 0xF764, 0xF765, 0xF766, 0xF767,  // 0x60
    0xF768, 0xF769, 0xF76A, 0xF76B, 0xF76C, 0xF76D, 0xF76E, 0xF76F,  // 0x68
    0xF770, 0xF771, 0xF772, 0xF773, 0xF774, 0xF775, 0xF776, 0xF777,  // 0x70
    0xF778, 0xF779, 0xF77A, 0x20A1, 0xF6DC, 0xF6DD, 0xF6FE, 0,       // 0x78
    0,      0xF6E9, 0xF6E0, 0,      0,      0,      0,      0xF7E1,  // 0x80
    0xF7E0, 0xF7E2, 0xF7E4, 0xF7E3, 0xF7E5, 0xF7E7, 0xF7E9, 0xF7E8,  // 0x88
    0xF7EA, 0xF7EB, 0xF7ED, 0xF7EC, 0xF7EE, 0xF7EF, 0xF7F1, 0xF7F3,  // 0x90
    0xF7F2, 0xF7F4, 0xF7F6, 0xF7F5, 0xF7FA, 0xF7F9, 0xF7FB, 0xF7FC,  // 0x98
    0,      0x2078, 0x2084, 0x2083, 0x2086, 0x2088, 0x2087, 0xF6FD,  // 0xA0
    0,      0xF6DF, 0x2082, 0,      0xF7A8, 0,      0xF6F5, 0xF6F0,  // 0xA8
    0x2085, 0,      0xF6E1, 0xF6E7, 0xF7FD, 0,      0xF6E3, 0,       // 0xB0
    0,      0xF7FE, 0,      0x2089, 0x2080, 0xF6FF, 0xF7E6, 0xF7F8,  // 0xB8
    0xF7BF, 0x2081, 0xF6F9, 0,      0,      0,      0,      0,       // 0xC0
    0,      0xF7B8, 0,      0,      0,      0,      0,      0xF6FA,  // 0xC8
    0x2012, 0xF6E6, 0,      0,      0,      0,      0xF7A1, 0,       // 0xD0
    0xF7FF, 0,      0x00B9, 0x00B2, 0x00B3, 0x2074, 0x2075, 0x2076,  // 0xD8
    0x2077, 0x2079, 0x2070, 0,      0xF6EC, 0xF6F1, 0xF6F3, 0,       // 0xE0
    0,      0xF6ED, 0xF6F2, 0xF6EB, 0,      0,      0,      0,       // 0xE8
    0,      0xF6EE, 0xF6FB, 0xF6F4, 0xF7AF, 0xF6EA, 0x207F, 0xF6EF,  // 0xF0
    0xF6E2, 0xF6E8, 0xF6F7, 0xF6FC, 0,      0,      0,      0,       // 0xF8
};

}  // namespace

char32_t SimpleEncodingChar(uint8_t encoding, uint8_t code) {
  if (code < 0x20) return 0;
  switch (encoding) {
    case 0:
      if (code < 0x7F || code >= 0xA0) return code;
      return code == 0x7F ? 0 : kWinAnsiHigh[code - 0x80];
    case 1:
      if (code < 0x7F) return code;
      return code == 0x7F ? 0 : kMacRomanHigh[code - 0x80];
    case 2:
      return kMacExpert[code - 0x20];
    default:
      return 0;
  }
}

bool SimpleEncodingCode(uint8_t encoding, char32_t c, uint8_t& code) {
  if (c == 0) return false;
  for (int b = 0x20; b <= 0xFF; ++b)
    if (SimpleEncodingChar(encoding, static_cast<uint8_t>(b)) == c) {
      code = static_cast<uint8_t>(b);
      return true;
    }
  return false;
}

uint8_t SymbolByteCode(char32_t c) {
  if (c >= 0x20 && c <= 0xFF) return static_cast<uint8_t>(c);
  if (c >= 0xF020 && c <= 0xF0FF) return static_cast<uint8_t>(c & 0xFF);
  return '?';
}

std::string PDFNameText(std::string_view name) {
  static constexpr std::string_view kDelimiters = "()<>[]{}/%#";
  std::string out;
  for (char ch : name) {
    auto b = static_cast<uint8_t>(ch);
    if (b < 0x21 || b > 0x7E || kDelimiters.find(ch) != std::string_view::npos) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "#%02X", b);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

namespace {

// To the nearest integer, halves to even.
int32_t Nearest(double x) {
  return static_cast<int32_t>(std::nearbyint(x));
}

void AppendHex4(std::string& out, uint32_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4)
    out += kDigits[(v >> shift) & 0xF];
}

// The face that draws a font. "Symbol" is asked for as Windows' symbol font: the symbol
// character set, regular, TrueType outlines.
std::unique_ptr<platform::FontFace> SelectFace(const ui::TFont& font) {
  if (font.Name() != "Symbol") return ui::CreateFontFace(font);
  platform::FontRequest request;
  request.family = "Symbol";
  request.height = font.Height();
  request.charset = ui::SYMBOL_CHARSET;
  request.trueTypeOnly = true;
  return platform::FontFace::Find(request);
}

}  // namespace

// ---- Adobe-Japan1 ----

namespace {

struct Japan1Run {
  uint32_t first;  // character
  uint16_t count;
  uint16_t cidAt;  // index into kJapan1Cids
};

#include "pdf/document/zoPDFFontJapan1.inc"

}  // namespace

uint16_t Japan1Supplement() {
  return kJapan1Supplement;
}

uint16_t Japan1CID(char32_t c) {
  const auto* end = std::end(kJapan1Runs);
  const auto* run = std::upper_bound(std::begin(kJapan1Runs), end, c,
                                     [](char32_t v, const Japan1Run& r) { return v < r.first; });
  if (run == std::begin(kJapan1Runs)) return 0;
  --run;
  if (c - run->first >= run->count) return 0;
  return kJapan1Cids[run->cidAt + (c - run->first)];
}

bool InJapan1(std::u16string_view text) {
  for (size_t i = 0; i < text.size();) {
    const char32_t c = platform::NextCodePoint(text, i);
    if (c >= 0x20 && Japan1CID(c) == 0) return false;
  }
  return true;
}

// ---- TzoPDFFontInfo ----

TzoPDFFontInfo::TzoPDFFontInfo(const ui::TFont& font)
    : FontBBox{-250, -200, 1000, 900},
      StrikeoutSize(font.Size() / 20),
      StrikeoutPosition(static_cast<int32_t>(std::abs(static_cast<int64_t>(font.Height())) / 5)),
      UnderlineSize(font.Size() / 10) {
  Widths.fill(600);
}

// ---- TzoPDFFont ----

TzoPDFFont::TzoPDFFont(const ui::TFont& font, int32_t userValue, bool prepareEmbedding,
                       bool checkCharset)
    : info_(font) {
  font_.Assign(font);
  info_.UserValue = userValue;
  prepareEmbedding_ = prepareEmbedding;
  Measure(prepareEmbedding, checkCharset);
  ChooseBaseFontName();
  if (info_.FontKind == fkTrueType && (!IsWesternCharset() || prepareEmbedding)) ReadMaps();
  tracksUsedChars_ = info_.FontKind == fkTrueType && prepareEmbedding;
}

TzoPDFFont::~TzoPDFFont() = default;

void TzoPDFFont::FontError(const std::string& reason) const {
  RaiseMsg<EUnsupportedFontError>(SUnsupportedFont, font_.Name() + ": " + reason);
}

void TzoPDFFont::Measure(bool /*prepareEmbedding*/, bool checkCharset) {
  ui::TFont m;
  m.SetCharset(font_.Charset());
  m.SetName(font_.Name());
  m.SetPitch(font_.Pitch());
  m.SetStyle(font_.Style());
  m.SetSize(1000);
  face_ = SelectFace(m);
  if (!face_) return;  // no font installed at all: the defaults stand
  const platform::TextMetrics& tm = face_->Metrics();
  const uint8_t pf = tm.pitchAndFamily;
  const uint8_t family = platform::FontFamilyOf(pf);
  TzoPDFFontInfo& info = info_;

  if ((pf & platform::TMPF_TRUETYPE) && CanEmbed(checkCharset))
    info.FontKind = fkTrueType;
  else if ((pf & 0x0B) == 0x0B)
    info.FontKind = fkDevice;
  info.FixedPitch = (pf & platform::TMPF_FIXED_PITCH) == 0;

  // Every single-byte code is measured, fixed pitch or not.
  for (int code = 32; code <= 255; ++code) {
    const char byte = static_cast<char>(code);
    int32_t px = face_->TextWidth(DecodeFontText(std::string_view(&byte, 1), font_.Charset()));
    info.Widths[static_cast<size_t>(code - 32)] = Nearest(PixelsToPoints(px));
  }

  info.Flags = 0;
  if (info.FixedPitch) info.Flags |= 1;
  if (family == platform::FF_ROMAN) info.Flags |= 2;
  info.Flags |= tm.charSet == ui::SYMBOL_CHARSET ? 4 : 32;
  if (family == platform::FF_SCRIPT) info.Flags |= 8;
  if (tm.italic) info.Flags |= 64;

  info.Ascent = PixelsToPoints(tm.ascent);
  info.Descent = -PixelsToPoints(std::abs(tm.descent));
  info.CapHeight = info.Ascent;
  info.AvgWidth = Nearest(PixelsToPoints(tm.aveCharWidth));
  info.MaxWidth = Nearest(PixelsToPoints(tm.maxCharWidth));
  info.FontBBox.Top = Nearest(info.Ascent);
  info.FontBBox.Right = info.MaxWidth;
  info.FontBBox.Bottom = Nearest(info.Descent);

  if (info.FontKind == fkTrueType) {
    info.ItalicAngle = tm.italicAngle / 10;
    info.StemV = 78;
    const double size = font_.Size();
    auto own = [&](int32_t v) { return Nearest(size * PixelsToPoints(v) / 1000.0); };
    info.StrikeoutSize = own(tm.strikeoutSize);
    info.StrikeoutPosition = own(tm.strikeoutPosition);
    info.UnderlineSize = own(tm.underscoreSize);
    info.UnderlinePosition = own(tm.underscorePosition);
    // Embedding rights: restricted licence (bit 1 without a less restrictive bit) and bitmap
    // embedding only (bit 9) forbid embedding the outlines; bit 8 forbids subsetting.
    info.FsType = tm.fsType;
    info.Embeddable = (tm.fsType & 0x000E) != 0x0002 && (tm.fsType & 0x0200) == 0;
    info.Subsettable = info.Embeddable && (tm.fsType & 0x0100) == 0;
  }
}

void TzoPDFFont::ChooseBaseFontName() {
  const ui::TFontStyles style = font_.Style();
  const bool bold = style & ui::fsBold, italic = style & ui::fsItalic;
  if (info_.FontKind == fkTrueType || info_.FontKind == fkDevice) {
    baseFontName_ =
        platform::WideToAnsi(WideReplaceText(platform::AnsiToWide(font_.Name()), u" ", u""));
    if (font_.Name() == "Symbol") return;
    if (bold || italic) baseFontName_ += ',';
    if (bold) baseFontName_ += "Bold";
    if (italic) baseFontName_ += "Italic";
    return;
  }
  for (std::string_view standard : StandardFontNames)
    if (font_.Name() == standard) {
      baseFontName_ = std::string(standard);
      return;
    }
  const uint8_t charset = font_.Charset();
  if (charset == ui::SYMBOL_CHARSET) {
    baseFontName_ = "ZapfDingbats";
    return;
  }
  if (charset != ui::ANSI_CHARSET && charset != ui::DEFAULT_CHARSET &&
      platform::kAnsiCodePage != 1252) {
    baseFontName_ = "Symbol";
    return;
  }
  baseFontName_ = font_.Name();
  if (!face_) return;
  const platform::TextMetrics& tm = face_->Metrics();
  const uint8_t family = platform::FontFamilyOf(tm.pitchAndFamily);
  size_t first;
  if (family == platform::FF_SWISS)
    first = 4;
  else if (family == platform::FF_ROMAN)
    first = 0;
  else if ((tm.pitchAndFamily & platform::TMPF_FIXED_PITCH) == 0)
    first = 8;
  else
    return;
  const bool heavy = tm.weight >= 700, slanted = tm.italic != 0;
  size_t offset = heavy && slanted ? 3 : slanted ? 2 : heavy ? 1 : 0;
  baseFontName_ = std::string(StandardFontNames[first + offset]);
}

std::string TzoPDFFont::PDFBaseFontName() const {
  return "/" + PDFNameText(baseFontName_);
}

int32_t TzoPDFFont::CharWidth(char32_t c) const {
  if (!face_) return 600;
  if (c > 0x10FFFF) c = 0xFFFF;  // no character: glyph 0
  std::u16string text;
  if (c >= 0x10000) {
    text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    text += static_cast<char16_t>(c);
  }
  return Nearest(PixelsToPoints(face_->TextWidth(text)));
}

bool TzoPDFFont::IsWesternCharset() const {
  return font_.Charset() == ui::ANSI_CHARSET ||
         (font_.Charset() == ui::DEFAULT_CHARSET && platform::kAnsiCodePage == 1252);
}

bool TzoPDFFont::CanEmbed(bool checkCharset) const {
  if (!face_ || !face_->IsSfnt()) return false;
  if (!checkCharset) return true;
  uint8_t charset = font_.Charset() == ui::DEFAULT_CHARSET ? DefaultCharset : font_.Charset();
  std::vector<uint8_t> sets;
  GetFontCharsets(font_.Name(), sets);
  return std::find(sets.begin(), sets.end(), charset) != sets.end();
}

std::unique_ptr<platform::FontFileData> TzoPDFFont::MapFontData() const {
  std::unique_ptr<platform::FontFileData> file = face_->MapFontData();
  if (!file) FontError("the font file cannot be read");
  return file;
}

void TzoPDFFont::LoadFontData(rtl::TMemoryStream& stream) const {
  if (info_.FontKind != fkTrueType || !face_) return;
  std::unique_ptr<platform::FontFileData> mapped;
  const platform::FontFileData& file = fontFile_ ? *fontFile_ : *(mapped = MapFontData());
  stream.Buffer().assign(file.Bytes().begin(), file.Bytes().end());
  stream.SetPosition(0);
}

void TzoPDFFont::ReadMaps() {
  std::unique_ptr<platform::FontFileData> file = MapFontData();
  TzoTrueTypeData data(file->Bytes(), font_.Name());
  std::vector<std::pair<uint32_t, uint16_t>> map = data.ReadCmap();
  glyphIds_.reserve(map.size());
  charCodes_.reserve(map.size());
  glyphOf_.reserve(map.size());
  for (auto [code, glyph] : map) {
    charCodes_.push_back(code);
    glyphIds_.push_back(glyph);
    glyphOf_.emplace(code, glyph);
  }
  glyphWidths_ = data.ReadGlyphWidths();
  hasGlyphLists_ = true;
  // A font prepared for embedding keeps the file for its subset.
  if (prepareEmbedding_) fontFile_ = std::move(file);
}

uint16_t TzoPDFFont::GlyphOf(uint32_t code) const {
  auto it = glyphOf_.find(code);
  return it == glyphOf_.end() ? 0 : it->second;
}

bool TzoPDFFont::TakeUsedChar(uint32_t code) {
  if (usedSet_.erase(code) == 0) return false;
  usedChars_.erase(std::find(usedChars_.begin(), usedChars_.end(), code));
  return true;
}

void TzoPDFFont::EncodeText(std::u16string_view text, uint8_t /*charset*/, std::string& hex) {
  if (text.empty()) return;
  hex.clear();
  hex.reserve(text.size() * 4);
  for (size_t i = 0; i < text.size();) {
    const uint32_t c = platform::NextCodePoint(text, i);
    const uint16_t glyph = GlyphOf(c);
    if (tracksUsedChars_ && c != 32 && usedSet_.insert(c).second) usedChars_.push_back(c);
    if (glyph != 0) encodedCharOfGlyph_.try_emplace(glyph, c);
    AppendHex4(hex, glyph);
  }
}

namespace {

// The text of a ToUnicode CMap with the codespace ranges and the bfchar and bfrange entries
// given, the entries in blocks of at most 100.
std::string ToUnicodeCMapText(std::initializer_list<std::string_view> codespace,
                              const std::vector<std::string>& chars,
                              const std::vector<std::string>& ranges) {
  std::string t;
  auto line = [&t](std::string_view s) {
    t += s;
    t += "\r\n";
  };
  for (std::string_view s : {
           "%!PS-Adobe-3.0 Resource-CMap",
           "%%DocumentNeededResources: ProcSet (CIDInit)",
           "%%IncludeResource: ProcSet (CIDInit)",
           "%%BeginResource: CMap (Identity-H)",
           "%%Title: (Identity-H Adobe Identity 0)",
           "%%Version: 10.001",
           "%%Copyright: -----------------------------------------------------------",
           "%%Copyright: ToUnicode CMap of an embedded font of this document.",
           "%%Copyright: It maps the two-byte glyph codes that the font's text",
           "%%Copyright: uses to the Unicode characters they stand for.",
           "%%Copyright:",
           "%%Copyright: Glyph codes are the font's own glyph ids; characters",
           "%%Copyright: are written as UTF-16BE.",
           "%%Copyright:",
           "%%Copyright: A bfchar entry maps one glyph, a bfrange entry a run of",
           "%%Copyright: consecutive glyphs to consecutive characters; each",
           "%%Copyright: block holds at most 100 entries.",
           "%%Copyright:",
           "%%Copyright: -----------------------------------------------------------",
           "%%EndComments",
           "",
           "/CIDInit /ProcSet findresource begin",
           "",
           "12 dict begin",
           "",
           "begincmap",
           "",
           "/CIDSystemInfo 3 dict dup begin",
           "/Registry (Adobe) def",
           "/Ordering (Identity) def",
           "/Supplement 0 def",
           "end def",
           "",
           "/CMapName /Identity-H def",
           "/CMapVersion 10.001 def",
           "/CMapType 1 def",
           "",
           "/XUID [1 10 25404 9999] def",
           "",
           "/WMode 0 def",
           "",
       })
    line(s);
  line(std::to_string(codespace.size()) + " begincodespacerange");
  for (std::string_view range : codespace)
    line(range);
  line("endcodespacerange");
  line("");
  auto blocks = [&](const std::vector<std::string>& entries, std::string_view kind) {
    for (size_t i = 0; i < entries.size(); i += 100) {
      size_t count = std::min<size_t>(100, entries.size() - i);
      line(std::to_string(count) + " begin" + std::string(kind));
      for (size_t k = i; k < i + count; ++k)
        line(entries[k]);
      line("end" + std::string(kind));
    }
  };
  blocks(chars, "bfchar");
  blocks(ranges, "bfrange");
  for (std::string_view s : {"endcmap", "CMapName currentdict /CMap defineresource pop", "end",
                             "end", "", "%%EndResource"})
    line(s);
  t += "%%EOF";
  return t;
}

// A character as UTF-16BE hexadecimal digits.
std::string Utf16Hex(uint32_t c) {
  std::string s;
  if (c >= 0x10000) {
    AppendHex4(s, 0xD800 + ((c - 0x10000) >> 10));
    AppendHex4(s, 0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    AppendHex4(s, c);
  }
  return s;
}

}  // namespace

char32_t TzoPDFFont::Japan1Code(char32_t c) const {
  // The full-width form of an ASCII character or of ¢ £ ¬ ¯ ¦ ¥.
  char32_t wide = 0;
  if (c >= 0x21 && c <= 0x7E) {
    wide = c - 0x21 + 0xFF01;
  } else {
    static constexpr char32_t kNarrow[] = {0xA2, 0xA3, 0xAC, 0xAF, 0xA6, 0xA5};
    for (size_t i = 0; i < std::size(kNarrow); ++i)
      if (kNarrow[i] == c) wide = 0xFFE0 + static_cast<char32_t>(i);
  }
  const uint16_t glyph = GlyphOf(c);
  return wide != 0 && glyph != 0 && GlyphOf(wide) == glyph ? wide : c;
}

std::string TzoPDFFont::Japan1ToUnicodeCMap(std::u16string_view text) const {
  std::map<uint32_t, uint32_t> charOf;  // code -> the first character shown with it
  for (size_t i = 0; i < text.size();) {
    const char32_t c = platform::NextCodePoint(text, i);
    if (c >= 0x20 && Japan1CID(c) != 0) charOf.try_emplace(Japan1Code(c), c);
  }
  std::vector<std::string> chars;
  for (auto [code, c] : charOf)
    chars.push_back("<" + Utf16Hex(code) + "> <" + Utf16Hex(c) + ">");
  return ToUnicodeCMapText({"<0000> <D7FF>", "<D800DC00> <DBFFDFFF>", "<E000> <FFFF>"}, chars, {});
}

const std::vector<int32_t>& TzoPDFFont::Japan1Widths() const {
  if (!japan1Widths_.empty()) return japan1Widths_;
  uint16_t last = 0;
  for (uint16_t cid : kJapan1Cids)
    last = std::max(last, cid);
  japan1Widths_.assign(last + 1u, -1);
  for (const Japan1Run& run : kJapan1Runs)
    for (uint32_t k = 0; k < run.count; ++k) {
      int32_t& w = japan1Widths_[kJapan1Cids[run.cidAt + k]];
      const uint16_t glyph = GlyphOf(run.first + k);
      if (w < 0 && glyph != 0 && glyph < glyphWidths_.size()) w = glyphWidths_[glyph];
    }
  return japan1Widths_;
}

int32_t TzoPDFFont::Japan1Width(char32_t c) const {
  const uint16_t cid = Japan1CID(c);
  const std::vector<int32_t>& widths = Japan1Widths();
  return cid != 0 && cid < widths.size() && widths[cid] >= 0 ? widths[cid] : 1000;
}

std::vector<uint16_t> TzoPDFFont::EncodedGlyphs() const {
  std::vector<uint16_t> glyphs;
  glyphs.reserve(encodedCharOfGlyph_.size());
  for (const auto& entry : encodedCharOfGlyph_)
    glyphs.push_back(entry.first);
  std::sort(glyphs.begin(), glyphs.end());
  return glyphs;
}

void TzoPDFFont::BuildToUnicodeCMap(rtl::TStream& stream, bool encodedOnly) {
  if (glyphIds_.empty()) return;
  // One character per glyph: the one the text used, else the first the map gives.
  std::map<uint16_t, uint32_t> charOf;
  if (!encodedOnly)
    for (size_t k = 0; k < glyphIds_.size(); ++k)
      charOf.try_emplace(glyphIds_[k], charCodes_[k]);
  for (auto [glyph, code] : encodedCharOfGlyph_)
    charOf[glyph] = code;

  // Runs of consecutive glyphs with consecutive characters below U+0100, within one high byte
  // of the glyph, become bfrange entries; all others are bfchar entries (Ghostscript reads
  // bfrange destinations above U+00FF wrongly).
  std::vector<std::string> chars, ranges;
  for (auto it = charOf.begin(); it != charOf.end();) {
    const uint16_t g0 = it->first;
    const uint32_t c0 = it->second;
    auto last = it;
    uint32_t n = 1;
    if (c0 <= 0xFF) {
      for (auto next = std::next(it); next != charOf.end(); ++next) {
        if (next->first != g0 + n || next->second != c0 + n || (g0 >> 8) != (next->first >> 8) ||
            c0 + n > 0xFF)
          break;
        last = next;
        ++n;
      }
    }
    std::string src;
    AppendHex4(src, g0);
    if (n == 1) {
      chars.push_back("<" + src + "> <" + Utf16Hex(c0) + ">");
    } else {
      std::string end;
      AppendHex4(end, last->first);
      ranges.push_back("<" + src + "> <" + end + "> <" + Utf16Hex(c0) + ">");
    }
    it = std::next(last);
  }

  cmapText_ = ToUnicodeCMapText({"<0000> <FFFF>"}, chars, ranges);
  stream.WriteString(cmapText_);
}

// ---- Subsets ----

bool TzoPDFFont::IsSubsetTable(std::string_view tag) {
  return std::find(TableTags.begin(), TableTags.end(), tag) != TableTags.end();
}

uint32_t TzoPDFFont::TableChecksum(std::span<const uint8_t> data) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 4 <= data.size(); i += 4)
    sum += (static_cast<uint32_t>(data[i]) << 24) | (static_cast<uint32_t>(data[i + 1]) << 16) |
           (static_cast<uint32_t>(data[i + 2]) << 8) | data[i + 3];
  uint32_t last = 0;
  for (size_t k = 0; k < 4; ++k)
    last = (last << 8) | (i + k < data.size() ? data[i + k] : 0u);
  return i < data.size() ? sum + last : sum;
}

bool TzoPDFFont::BuildSubset(rtl::TMemoryStream& stream) {
  if (info_.FontKind != fkTrueType || !info_.Embeddable || !face_) {
    stream.Clear();
    return false;
  }
  std::unique_ptr<platform::FontFileData> file = fontFile_ ? std::move(fontFile_) : MapFontData();
  const std::span<const uint8_t> whole = file->Bytes();
  std::vector<uint32_t> used;
  used.swap(usedChars_);
  usedSet_.clear();
  std::vector<uint8_t> subset;
  if (info_.Subsettable) {
    TzoTrueTypeData data(whole, font_.Name());
    std::vector<bool> keep(data.NumGlyphs(), false);
    if (!keep.empty()) keep[0] = true;  // .notdef draws what the font lacks
    // The space is never recorded as used, but a simple font's text reaches its glyph through
    // the character map.
    used.push_back(32);
    for (uint32_t c : used) {
      uint16_t g = GlyphOf(c);
      if (g < keep.size()) keep[g] = true;
    }
    // The subset's character map holds the used characters only.
    std::vector<std::pair<uint32_t, uint16_t>> map;
    for (uint32_t c : used)
      if (uint16_t g = GlyphOf(c); g != 0) map.emplace_back(c, g);
    std::sort(map.begin(), map.end());
    subset = data.BuildSubset(data.CloseOverComposites(keep), &map);
  }
  if (!subset.empty() && subset.size() < whole.size())
    stream.Buffer().swap(subset);
  else
    stream.Buffer().assign(whole.begin(), whole.end());
  stream.SetPosition(0);
  return true;
}

// ---- TzoTrueTypeData ----

namespace {

constexpr uint32_t Tag(std::string_view t) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(t[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(t[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(t[2])) << 8) | static_cast<uint8_t>(t[3]);
}

std::string TagText(uint32_t tag) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    char c = static_cast<char>((tag >> shift) & 0xFF);
    s += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return s;
}

void Put16(std::vector<uint8_t>& d, uint32_t v) {
  d.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  d.push_back(static_cast<uint8_t>(v & 0xFF));
}
void Put32(std::vector<uint8_t>& d, uint32_t v) {
  Put16(d, v >> 16);
  Put16(d, v & 0xFFFF);
}

}  // namespace

TzoTrueTypeData::TzoTrueTypeData(std::span<const uint8_t> data, std::string name)
    : data_(data), name_(std::move(name)) {
  Need(0, 12, "the table directory");
  const uint32_t version = U32(0);
  if (version == Tag("ttcf")) Error("a font collection, not one font");
  if (version != 0x00010000u && version != Tag("true") && version != Tag("OTTO"))
    Error("not a TrueType font");
  const uint16_t numTables = U16(4);
  Need(12, 16u * numTables, "the table directory");
  for (uint32_t i = 0; i < numTables; ++i) {
    const uint32_t r = 12 + 16 * i;
    const uint32_t tag = U32(r);
    Table t{U32(r + 4), U32(r + 8), U32(r + 12)};
    if (static_cast<uint64_t>(t.offset) + t.length > data_.size())
      Error("table " + TagText(tag) + " lies past the end of the data");
    if (std::none_of(tables_.begin(), tables_.end(), [&](const auto& e) { return e.first == tag; }))
      tables_.emplace_back(tag, t);
  }
  const Table& head = Required("head");
  if (head.length < 54) Error("head table too short");
  unitsPerEm_ = U16(head.offset + 18);
  if (unitsPerEm_ == 0) Error("unitsPerEm is 0");
  const uint16_t locFormat = U16(head.offset + 50);
  if (locFormat > 1) Error("unknown loca format " + std::to_string(locFormat));
  longLoca_ = locFormat == 1;
  const Table& maxp = Required("maxp");
  if (maxp.length < 6) Error("maxp table too short");
  numGlyphs_ = U16(maxp.offset + 4);
}

void TzoTrueTypeData::Error(const std::string& what) const {
  RaiseMsg<EUnsupportedFontError>(SUnsupportedFont, name_ + ": " + what);
}

void TzoTrueTypeData::Need(uint64_t at, uint64_t count, std::string_view what) const {
  if (at + count > data_.size()) Error("data ends inside " + std::string(what));
}

uint16_t TzoTrueTypeData::U16(uint64_t at) const {
  Need(at, 2, "a table");
  return static_cast<uint16_t>((data_[at] << 8) | data_[at + 1]);
}

uint32_t TzoTrueTypeData::U32(uint64_t at) const {
  return (static_cast<uint32_t>(U16(at)) << 16) | U16(at + 2);
}

const TzoTrueTypeData::Table* TzoTrueTypeData::FindTable(std::string_view tag) const {
  if (tag.size() != 4) return nullptr;
  const uint32_t t = Tag(tag);
  for (const auto& [k, table] : tables_)
    if (k == t) return &table;
  return nullptr;
}

const TzoTrueTypeData::Table& TzoTrueTypeData::Required(std::string_view tag) const {
  const Table* t = FindTable(tag);
  if (!t) Error("no " + std::string(tag) + " table");
  return *t;
}

std::vector<std::pair<uint32_t, uint16_t>> TzoTrueTypeData::ReadCmap() const {
  const Table* cmap = FindTable("cmap");
  if (!cmap) return {};
  const uint64_t base = cmap->offset, end = base + cmap->length;
  if (cmap->length < 4) Error("cmap table too short");
  const uint16_t n = U16(base + 2);
  if (4 + 8ull * n > cmap->length) Error("cmap encoding records past the table");
  // The best Unicode subtable: (3,10) format 12, (0,x) format 12, (3,1) format 4, (0,x) format 4.
  int best = 4;
  uint64_t bestAt = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t r = base + 4 + 8ull * i;
    const uint16_t platformId = U16(r), encodingId = U16(r + 2);
    const uint64_t at = base + U32(r + 4);
    if (platformId != 0 && !(platformId == 3 && (encodingId == 1 || encodingId == 10))) continue;
    if (at + 2 > end) Error("cmap subtable past the table");
    const uint16_t format = U16(at);
    int rank = 4;
    if (format == 12) rank = platformId == 3 ? 0 : 1;
    if (format == 4) rank = platformId == 3 ? 2 : 3;
    if (platformId == 3 && encodingId == 1 && format != 4) rank = 4;
    if (platformId == 3 && encodingId == 10 && format != 12) rank = 4;
    if (rank < best) {
      best = rank;
      bestAt = at;
    }
  }
  if (best == 4) return {};
  return best <= 1 ? ReadFormat12(bestAt, end) : ReadFormat4(bestAt, end);
}

std::vector<std::pair<uint32_t, uint16_t>> TzoTrueTypeData::ReadFormat4(uint64_t at,
                                                                        uint64_t end) const {
  if (at + 14 > end) Error("cmap format 4 header past the table");
  const uint32_t segX2 = U16(at + 6);
  if (segX2 == 0 || segX2 % 2 != 0) Error("cmap format 4 with a bad segment count");
  const uint64_t ends = at + 14, starts = at + 16 + segX2, deltas = starts + segX2,
                 rangeOffsets = deltas + segX2;
  if (rangeOffsets + segX2 > end) Error("cmap format 4 segments past the table");
  std::vector<std::pair<uint32_t, uint16_t>> out;
  int64_t done = -1;  // codes up to here are mapped (segments are in order)
  for (uint32_t i = 0; i < segX2 / 2; ++i) {
    const uint32_t last = U16(ends + 2 * i), first = U16(starts + 2 * i);
    const uint16_t delta = U16(deltas + 2 * i);
    const uint64_t rangeAt = rangeOffsets + 2 * i;
    const uint16_t rangeOffset = U16(rangeAt);
    for (int64_t c = std::max<int64_t>(first, done + 1); c <= last && c < 0xFFFF; ++c) {
      uint32_t glyph;
      if (rangeOffset == 0) {
        glyph = (static_cast<uint32_t>(c) + delta) & 0xFFFF;
      } else if (rangeOffset == 0xFFFF) {
        glyph = 0;
      } else {
        const uint64_t p = rangeAt + rangeOffset + 2 * static_cast<uint64_t>(c - first);
        if (p + 2 > end) Error("cmap glyph index past the table");
        glyph = U16(p);
        if (glyph != 0) glyph = (glyph + delta) & 0xFFFF;
      }
      if (glyph != 0 && glyph < numGlyphs_)
        out.emplace_back(static_cast<uint32_t>(c), static_cast<uint16_t>(glyph));
    }
    done = std::max<int64_t>(done, last);
  }
  return out;
}

std::vector<std::pair<uint32_t, uint16_t>> TzoTrueTypeData::ReadFormat12(uint64_t at,
                                                                         uint64_t end) const {
  if (at + 16 > end) Error("cmap format 12 header past the table");
  const uint32_t groups = U32(at + 12);
  if (static_cast<uint64_t>(groups) * 12 > end - at - 16)
    Error("cmap format 12 groups past the table");
  std::vector<std::pair<uint32_t, uint16_t>> out;
  int64_t done = -1;
  for (uint32_t i = 0; i < groups; ++i) {
    const uint64_t g = at + 16 + 12ull * i;
    const int64_t first = U32(g), last = std::min<int64_t>(U32(g + 4), 0x10FFFF);
    const int64_t startGlyph = U32(g + 8);
    for (int64_t c = std::max(first, done + 1); c <= last; ++c) {
      const int64_t glyph = startGlyph + (c - first);
      if (glyph >= numGlyphs_) break;
      if (glyph != 0 && c != 0xFFFF)
        out.emplace_back(static_cast<uint32_t>(c), static_cast<uint16_t>(glyph));
    }
    done = std::max(done, last);
  }
  return out;
}

std::vector<int32_t> TzoTrueTypeData::ReadGlyphWidths() const {
  const Table* hmtx = FindTable("hmtx");
  if (!hmtx || numGlyphs_ == 0) return {};
  const Table& hhea = Required("hhea");
  if (hhea.length < 36) Error("hhea table too short");
  const uint32_t metrics = U16(hhea.offset + 34);
  if (metrics == 0) Error("numberOfHMetrics is 0");
  if (4ull * metrics > hmtx->length) Error("hmtx table shorter than its metrics");
  std::vector<int32_t> widths(numGlyphs_);
  for (uint32_t g = 0; g < numGlyphs_; ++g)
    widths[g] = g < metrics
                    ? static_cast<int32_t>(U16(hmtx->offset + 4ull * g) * 1000u / unitsPerEm_)
                    : widths[g - 1];
  return widths;
}

std::pair<uint64_t, uint32_t> TzoTrueTypeData::GlyphRange(uint16_t glyph) const {
  if (glyph >= numGlyphs_) Error("glyph " + std::to_string(glyph) + " past the glyph count");
  const Table& loca = Required("loca");
  const Table& glyf = Required("glyf");
  const uint32_t entry = longLoca_ ? 4 : 2;
  if (static_cast<uint64_t>(numGlyphs_ + 1) * entry > loca.length)
    Error("loca table shorter than the glyph count");
  const uint64_t at = loca.offset + static_cast<uint64_t>(glyph) * entry;
  const uint64_t start = longLoca_ ? U32(at) : 2ull * U16(at);
  const uint64_t next = longLoca_ ? U32(at + 4) : 2ull * U16(at + 2);
  if (start > next || next > glyf.length)
    Error("loca entry of glyph " + std::to_string(glyph) + " outside the glyf table");
  return {glyf.offset + start, static_cast<uint32_t>(next - start)};
}

void TzoTrueTypeData::Components(uint16_t glyph, std::vector<uint16_t>& out) const {
  out.clear();
  const auto [at, length] = GlyphRange(glyph);
  if (length == 0) return;
  if (length < 10) Error("glyph " + std::to_string(glyph) + " shorter than its header");
  if (static_cast<int16_t>(U16(at)) >= 0) return;  // simple glyph
  const uint64_t end = at + length;
  uint64_t p = at + 10;
  uint16_t flags;
  do {
    if (p + 4 > end) Error("composite glyph " + std::to_string(glyph) + " truncated");
    flags = U16(p);
    const uint16_t component = U16(p + 2);
    p += 4 + ((flags & 0x0001) ? 4 : 2);
    if (flags & 0x0008)
      p += 2;
    else if (flags & 0x0040)
      p += 4;
    else if (flags & 0x0080)
      p += 8;
    if (p > end) Error("composite glyph " + std::to_string(glyph) + " truncated");
    if (component >= numGlyphs_)
      Error("composite glyph " + std::to_string(glyph) + " names glyph " +
            std::to_string(component) + " past the glyph count");
    out.push_back(component);
  } while (flags & 0x0020);
}

std::vector<bool> TzoTrueTypeData::CloseOverComposites(const std::vector<bool>& glyphs) const {
  std::vector<bool> keep(numGlyphs_, false);
  // Depth-first over the component graph; a component still being walked is a loop.
  enum : uint8_t { kNew, kWalking, kDone };
  std::vector<uint8_t> state(numGlyphs_, kNew);
  struct Frame {
    uint16_t glyph;
    std::vector<uint16_t> components;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  for (uint32_t root = 0; root < numGlyphs_ && root < glyphs.size(); ++root) {
    if (!glyphs[root] || state[root] != kNew) continue;
    stack.push_back({static_cast<uint16_t>(root), {}, 0});
    Components(static_cast<uint16_t>(root), stack.back().components);
    state[root] = kWalking;
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next == f.components.size()) {
        state[f.glyph] = kDone;
        keep[f.glyph] = true;
        stack.pop_back();
        continue;
      }
      const uint16_t c = f.components[f.next++];
      if (state[c] == kWalking)
        Error("composite glyphs " + std::to_string(f.glyph) + " and " + std::to_string(c) +
              " refer to each other in a loop");
      if (state[c] == kDone) continue;
      state[c] = kWalking;
      Frame child{c, {}, 0};
      Components(c, child.components);
      stack.push_back(std::move(child));
    }
  }
  return keep;
}

namespace {

// A cmap table of the pairs (sorted by character, no glyph 0): a (3,1) format 4 subtable of the
// characters below U+10000 and, when there are others, a (3,10) format 12 subtable of all.
std::vector<uint8_t> MakeCmap(const std::vector<std::pair<uint32_t, uint16_t>>& pairs) {
  // Runs of consecutive characters with consecutive glyphs.
  struct Run {
    uint32_t first, last;
    uint16_t glyph;
  };
  std::vector<Run> bmp, all;
  for (auto [c, g] : pairs) {
    for (std::vector<Run>* runs : {&bmp, &all}) {
      if (runs == &bmp && c > 0xFFFE) continue;
      if (!runs->empty() && runs->back().last + 1 == c &&
          runs->back().glyph + (c - runs->back().first) == g)
        runs->back().last = c;
      else
        runs->push_back({c, c, g});
    }
  }
  const bool wide = !pairs.empty() && pairs.back().first > 0xFFFF;
  std::vector<uint8_t> out;
  const uint32_t records = wide ? 2 : 1;
  Put16(out, 0);
  Put16(out, records);
  const uint32_t format4At = 4 + 8 * records;
  const uint32_t segments = static_cast<uint32_t>(bmp.size()) + 1;  // and the closing 0xFFFF
  const uint32_t format4Length = 16 + 8 * segments;
  Put16(out, 3);
  Put16(out, 1);
  Put32(out, format4At);
  if (wide) {
    Put16(out, 3);
    Put16(out, 10);
    Put32(out, format4At + format4Length);
  }
  uint32_t pow2 = 1, log2 = 0;
  while (pow2 * 2 <= segments) {
    pow2 *= 2;
    ++log2;
  }
  Put16(out, 4);
  Put16(out, format4Length);
  Put16(out, 0);  // language
  Put16(out, segments * 2);
  Put16(out, pow2 * 2);
  Put16(out, log2);
  Put16(out, segments * 2 - pow2 * 2);
  for (const Run& r : bmp)
    Put16(out, r.last);
  Put16(out, 0xFFFF);
  Put16(out, 0);  // reservedPad
  for (const Run& r : bmp)
    Put16(out, r.first);
  Put16(out, 0xFFFF);
  for (const Run& r : bmp)
    Put16(out, (r.glyph - r.first) & 0xFFFF);
  Put16(out, 1);
  for (size_t i = 0; i < segments; ++i)
    Put16(out, 0);  // idRangeOffset
  if (wide) {
    Put16(out, 12);
    Put16(out, 0);
    Put32(out, 16 + 12 * static_cast<uint32_t>(all.size()));
    Put32(out, 0);  // language
    Put32(out, static_cast<uint32_t>(all.size()));
    for (const Run& r : all) {
      Put32(out, r.first);
      Put32(out, r.last);
      Put32(out, r.glyph);
    }
  }
  return out;
}

}  // namespace

std::vector<uint8_t> TzoTrueTypeData::BuildSubset(
    const std::vector<bool>& keep, const std::vector<std::pair<uint32_t, uint16_t>>* cmap) const {
  // The subset tables the font has, in tag order (the directory's required order), written in
  // one pass after a directory that is filled in at the end.
  std::vector<std::string_view> tags;
  uint64_t estimate = 12;
  for (std::string_view tag : TzoPDFFont::TableTags)
    if (const Table* t = FindTable(tag)) {
      tags.push_back(tag);
      estimate += 16 + ((t->length + 3ull) & ~3ull);
    }
  const uint32_t n = static_cast<uint32_t>(tags.size());
  uint32_t pow2 = 1, log2 = 0;
  while (pow2 * 2 <= n) {
    pow2 *= 2;
    ++log2;
  }
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(std::min<uint64_t>(estimate, data_.size() + 16ull * n + 64)));
  Put32(out, U32(0));
  Put16(out, n);
  Put16(out, pow2 * 16);
  Put16(out, log2);
  Put16(out, n * 16 - pow2 * 16);
  out.resize(12 + 16 * static_cast<size_t>(n), 0);

  std::vector<uint8_t> loca;  // made while glyf is written; glyf comes first in tag order
  size_t headAt = SIZE_MAX;
  for (uint32_t i = 0; i < n; ++i) {
    const std::string_view tag = tags[i];
    const Table& source = *FindTable(tag);
    const size_t start = out.size();
    if (tag == "glyf") {
      // The kept glyphs byte for byte, every glyph keeping its number.
      auto putLoca = [&] {
        const size_t at = out.size() - start;
        if (longLoca_) {
          Put32(loca, static_cast<uint32_t>(at));
        } else {
          if (at / 2 > 0xFFFF) Error("glyphs too large for the short loca format");
          Put16(loca, static_cast<uint32_t>(at / 2));
        }
      };
      for (uint32_t g = 0; g < numGlyphs_; ++g) {
        putLoca();
        if (g < keep.size() && keep[g]) {
          const auto [at, length] = GlyphRange(static_cast<uint16_t>(g));
          out.insert(out.end(), data_.begin() + static_cast<std::ptrdiff_t>(at),
                     data_.begin() + static_cast<std::ptrdiff_t>(at + length));
        }
      }
      putLoca();
    } else if (tag == "loca") {
      if (loca.empty()) loca.resize((numGlyphs_ + 1ull) * (longLoca_ ? 4 : 2), 0);
      out.insert(out.end(), loca.begin(), loca.end());
    } else if (tag == "cmap" && cmap) {
      const std::vector<uint8_t> table = MakeCmap(*cmap);
      out.insert(out.end(), table.begin(), table.end());
    } else {
      const auto bytes = data_.subspan(source.offset, source.length);
      out.insert(out.end(), bytes.begin(), bytes.end());
      if (tag == "head") {
        headAt = start;
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(start + 8),
                  out.begin() + static_cast<std::ptrdiff_t>(start + 12), 0);  // checkSumAdjustment
      }
    }
    const size_t length = out.size() - start;
    out.resize((out.size() + 3) & ~size_t{3}, 0);
    if (out.size() > 0xFFFFFFFFu) Error("subset too large");
    std::vector<uint8_t> record;
    Put32(record, Tag(tag));
    Put32(record, TzoPDFFont::TableChecksum(std::span(out).subspan(start, length)));
    Put32(record, static_cast<uint32_t>(start));
    Put32(record, static_cast<uint32_t>(length));
    std::copy(record.begin(), record.end(), out.begin() + 12 + 16 * static_cast<std::ptrdiff_t>(i));
  }
  if (headAt != SIZE_MAX) {
    const uint32_t adjustment = 0xB1B0AFBAu - TzoPDFFont::TableChecksum(out);
    for (size_t k = 0; k < 4; ++k)
      out[headAt + 8 + k] = static_cast<uint8_t>(adjustment >> (24 - 8 * k));
  }
  return out;
}
