#include "pdf/document/zoPDFFont.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

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

void TzoPDFFont::BuildToUnicodeCMap(rtl::TStream& stream) {
  if (glyphIds_.empty()) return;
  // One character per glyph: the one the text used, else the first the map gives.
  std::map<uint16_t, uint32_t> charOf;
  for (size_t k = 0; k < glyphIds_.size(); ++k)
    charOf.try_emplace(glyphIds_[k], charCodes_[k]);
  for (auto [glyph, code] : encodedCharOfGlyph_)
    charOf[glyph] = code;

  auto utf16 = [](uint32_t c) {
    std::string s;
    if (c >= 0x10000) {
      AppendHex4(s, 0xD800 + ((c - 0x10000) >> 10));
      AppendHex4(s, 0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      AppendHex4(s, c);
    }
    return s;
  };
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
      chars.push_back("<" + src + "> <" + utf16(c0) + ">");
    } else {
      std::string end;
      AppendHex4(end, last->first);
      ranges.push_back("<" + src + "> <" + end + "> <" + utf16(c0) + ">");
    }
    it = std::next(last);
  }

  std::string& t = cmapText_;
  t.clear();
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
           "1 begincodespacerange",
           "<0000> <FFFF>",
           "endcodespacerange",
           "",
       })
    line(s);
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
  stream.WriteString(t);
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
    for (uint32_t c : used) {
      uint16_t g = GlyphOf(c);
      if (g < keep.size()) keep[g] = true;
    }
    subset = data.BuildSubset(data.CloseOverComposites(keep));
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

std::vector<uint8_t> TzoTrueTypeData::BuildSubset(const std::vector<bool>& keep) const {
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
