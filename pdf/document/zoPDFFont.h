// Fonts measured for PDF output: the widths of the single-byte characters, the font-descriptor
// metrics and flags, a base font name and, for TrueType fonts, the character-to-glyph map, the
// glyph widths, text as two-byte glyph ids, the ToUnicode CMap and TrueType subsets that keep
// every glyph number.
//
// Widths and metrics are in PDF glyph space (1000 units per em), measured at 1000 points on the
// screen (PixelsToPoints). The font data comes from the platform's font layer; everything read
// from it is bounds-checked, and damaged data raises EUnsupportedFontError.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "pdf/document/zoCstPDFDoc.h"
#include "platform/CodePage.h"
#include "platform/RtlClasses.h"
#include "ui/Graphics.h"

namespace platform {
class FontFace;
class FontFileData;
}  // namespace platform

// ---- Character sets and code pages ----

// The GDI character set of a code page: 1252 -> 0, 932 -> 128, 936 -> 134, 949 -> 129,
// 950 -> 136, 874 -> 222, 1250 -> 238, 1251 -> 204, 1253 -> 161, 1254 -> 162, 1255 -> 177,
// 1256 -> 178, 1257 -> 186, 1258 -> 163, 1361 -> 130; any other -> 0.
constexpr uint8_t CharsetOfCodePage(uint32_t codePage) {
  switch (codePage) {
    case 932:
      return 128;
    case 936:
      return 134;
    case 949:
      return 129;
    case 950:
      return 136;
    case 874:
      return 222;
    case 1250:
      return 238;
    case 1251:
      return 204;
    case 1253:
      return 161;
    case 1254:
      return 162;
    case 1255:
      return 177;
    case 1256:
      return 178;
    case 1257:
      return 186;
    case 1258:
      return 163;
    case 1361:
      return 130;
    default:
      return 0;
  }
}
// The character set of the system's ANSI code page (932: 128).
constexpr uint8_t CharsetOfACP() {
  return CharsetOfCodePage(platform::kAnsiCodePage);
}
// What DEFAULT_CHARSET stands for.
inline constexpr uint8_t DefaultCharset = CharsetOfACP();

// The code page of a character set: 0 -> 1252, 128 -> 932, 129 -> 949, 130 -> 1361,
// 134 -> 936, 136 -> 950, 161 -> 1253, 162 -> 1254, 163 -> 1258, 177 -> 1255, 178 -> 1256,
// 186 -> 1257, 222 -> 874, 238 -> 1250, 204 -> 1251; any other -> the ANSI code page.
uint32_t CodePageOfCharset(uint8_t charset);

// s converted from the code page of the character set (no trailing NULs).
std::u16string CharToWide(std::string_view s, uint8_t charset);

// The fourteen standard PDF font names.
inline constexpr std::array<std::string_view, 14> StandardFontNames = {
    "Times-Roman", "Times-Bold",     "Times-Italic",      "Times-BoldItalic",
    "Helvetica",   "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
    "Courier",     "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique",
    "Symbol",      "ZapfDingbats"};

// ---- Simple-font encodings ----

// The encodings a simple font resource can name, by their index into the encoding names:
// 0 WinAnsiEncoding, 1 MacRomanEncoding, 2 MacExpertEncoding (as the PDF standard defines them;
// a character the standard leaves out, such as MacRoman's math symbols, has no code).
inline constexpr uint8_t kSimpleFontEncodings = 3;
// The character code stands for in the encoding; 0 for a code it leaves undefined, a code below
// 32 and any code of an encoding index outside 0 .. 2.
char32_t SimpleEncodingChar(uint8_t encoding, uint8_t code);
// The code of c in the encoding (the first one where the encoding has several); false when the
// encoding has none.
bool SimpleEncodingCode(uint8_t encoding, char32_t c, uint8_t& code);

// The byte code of c in a symbol font: the low byte of U+0020 .. U+00FF or of the private-use
// block U+F020 .. U+F0FF where symbol fonts keep their glyphs; "?" for anything else.
uint8_t SymbolByteCode(char32_t c);

// A font name as the text of a PDF name (without the "/"): bytes outside "!".."~", the
// delimiters ()<>[]{}/% and "#" are written as #xx.
std::string PDFNameText(std::string_view name);

// ---- Adobe-Japan1 ----

// The CID that the predefined CMap UniJIS-UTF16-H gives character c in the character collection
// Adobe-Japan1; 0 for a character outside it.
uint16_t Japan1CID(char32_t c);
// The collection's supplement that the map reaches.
uint16_t Japan1Supplement();
// Whether every character of text but the control characters has a CID.
bool InJapan1(std::u16string_view text);

// ---- TzoPDFFontInfo ----

enum TzoFontKind : uint8_t {
  fkTrueType = 0,  // TrueType font whose data the platform delivers
  fkDevice = 1,    // outline font of another kind (CFF, Type 1)
  fkOther = 2,     // anything else; the default
};

// What a font resource needs of a font. Constructed with the defaults below; the font's
// measurement fills it.
class TzoPDFFontInfo {
 public:
  // Widths 600 each; FontBBox (-250, -200, 1000, 900); Ascent 800, Descent -200, CapHeight 700;
  // AvgWidth and MaxWidth 576; StrikeoutSize Size div 20, StrikeoutPosition |Height| div 5,
  // UnderlineSize Size div 10, UnderlinePosition -1; FontKind fkOther.
  explicit TzoPDFFontInfo(const ui::TFont& font);

  int32_t UserValue = 0;
  // Widths of the single-byte codes 32 .. 255 (index code - 32).
  std::array<int32_t, 224> Widths{};
  int32_t Width(int code) const { return code >= 32 && code <= 255 ? Widths[code - 32] : 0; }
  int32_t Flags = 0;      // PDF font-descriptor flags
  ui::TRect FontBBox;     // Left, Top (ascent), Right (max width), Bottom (descent)
  double Ascent = 800.0;  // glyph space
  double Descent = -200.0;
  double CapHeight = 700.0;
  int32_t AvgWidth = 576;
  int32_t MaxWidth = 576;
  int32_t StemV = 0;
  int32_t ItalicAngle = 0;
  // In points at the font's own size.
  int32_t StrikeoutSize = 0;
  int32_t StrikeoutPosition = 0;
  int32_t UnderlineSize = 0;
  int32_t UnderlinePosition = -1;
  TzoFontKind FontKind = fkOther;
  bool FixedPitch = false;
  // The OS/2 fsType of a TrueType font, and what it allows: Embeddable is false for a font with
  // restricted-licence or bitmap-only embedding (the text then uses the font unembedded: no font
  // file may be written); Subsettable is false when the font may only be embedded whole.
  uint16_t FsType = 0;
  bool Embeddable = false;
  bool Subsettable = false;
};

// ---- TzoPDFFont ----

// A font measured for PDF output. Built complete by its constructor (measured, named, maps
// read); afterwards only the used characters change.
class TzoPDFFont {
 public:
  // Measures the font (at 1000 points), chooses the base font name and, for a TrueType font
  // (FontKind fkTrueType) whose character set is not western or with prepareEmbedding, reads the
  // character map and the glyph widths. With prepareEmbedding the characters that EncodeText
  // meets are recorded for BuildSubset. With checkCharset the font counts as TrueType only when
  // its family lists the font's character set. Damaged font data: EUnsupportedFontError.
  TzoPDFFont(const ui::TFont& font, int32_t userValue, bool prepareEmbedding, bool checkCharset);
  ~TzoPDFFont();
  TzoPDFFont(const TzoPDFFont&) = delete;
  TzoPDFFont& operator=(const TzoPDFFont&) = delete;

  const ui::TFont& Font() const { return font_; }
  const TzoPDFFontInfo& Info() const { return info_; }
  bool PrepareEmbedding() const { return prepareEmbedding_; }

  // The font's name without spaces, for fkTrueType and fkDevice fonts with ",Bold", ",Italic" or
  // ",BoldItalic" after it (not for "Symbol"); for other fonts a standard font name chosen by
  // the font's family, weight and slant, or the name itself. Bytes in the ANSI code page.
  const std::string& BaseFontName() const { return baseFontName_; }
  // BaseFontName as a PDF name, with its "/" (PDFNameText).
  std::string PDFBaseFontName() const;

  // The character map, as two parallel lists in the font's cmap order: character CharCodes()[k]
  // (a Unicode code point) is drawn with glyph GlyphIds()[k]. Characters that map to glyph 0 are
  // not listed. HasGlyphLists is false when the lists were not read (they are then empty).
  bool HasGlyphLists() const { return hasGlyphLists_; }
  const std::vector<uint16_t>& GlyphIds() const { return glyphIds_; }
  const std::vector<uint32_t>& CharCodes() const { return charCodes_; }
  // The glyph of a character; 0 when the font lacks it.
  uint16_t GlyphOf(uint32_t code) const;
  // Advance width of every glyph of the font (index: glyph id), 1/1000 em, truncated; glyphs
  // past the font's numberOfHMetrics take the last advance. Empty without an hmtx table.
  const std::vector<int32_t>& GlyphWidths() const { return glyphWidths_; }

  // The characters encoded since construction or the last BuildSubset, in order, without
  // duplicates and never the space. TracksUsedChars: fkTrueType with prepareEmbedding.
  bool TracksUsedChars() const { return tracksUsedChars_; }
  const std::vector<uint32_t>& UsedChars() const { return usedChars_; }
  // Removes code from UsedChars; true when it was there.
  bool TakeUsedChar(uint32_t code);

  // The width of each Adobe-Japan1 CID (index) in the font: the advance of the glyph of the
  // first character (in code order) that the font has of those the CID stands for; -1 where
  // the font has none. Japan1Width: the width of character c's CID, 1000 (the default width)
  // where the font has none or c is outside the collection.
  const std::vector<int32_t>& Japan1Widths() const;
  int32_t Japan1Width(char32_t c) const;
  // The character whose UTF-16 code shows c through UniJIS-UTF16-H: the full-width form of an
  // ASCII character or of ¢ £ ¬ ¯ ¦ ¥ where the font draws both with one glyph (so that a reader
  // takes a full-width stand-in for its full-width glyph), else c itself.
  char32_t Japan1Code(char32_t c) const;
  // The ToUnicode CMap text of the font shown through UniJIS-UTF16-H: the code of each
  // character of text in the collection to the first character shown with it.
  std::string Japan1ToUnicodeCMap(std::u16string_view text) const;

  // The glyphs (not 0) that EncodeText has given since construction, in ascending order.
  std::vector<uint16_t> EncodedGlyphs() const;

  // The CMap text last built by BuildToUnicodeCMap.
  const std::string& CMapText() const { return cmapText_; }

  // The width of character c (a Unicode code point) in glyph space, measured as the Widths are:
  // the advance of the glyph that draws it, glyph 0 when the font lacks it; 600 (the default
  // width) when no font could be found at all.
  int32_t CharWidth(char32_t c) const;

  // Character set 0, or DEFAULT_CHARSET while the ANSI code page is 1252.
  bool IsWesternCharset() const;
  // Whether the platform delivers the font's data (and, with checkCharset, the font's family
  // lists its character set, DEFAULT_CHARSET standing for DefaultCharset).
  bool CanEmbed(bool checkCharset) const;

  // For an fkTrueType font: the whole font file (one face, standalone) in place of the stream's
  // content. Otherwise the stream is left as it is. Check Info().Embeddable before writing it
  // into a document.
  void LoadFontData(rtl::TMemoryStream& stream) const;

  // The text as four upper-case hexadecimal digits per glyph id: each character (a surrogate pair
  // is one character) gives its glyph, 0 when the font lacks it. With prepareEmbedding, each
  // character but the space is recorded in UsedChars. An empty text leaves hex unchanged. The
  // character set is not needed for the mapping.
  void EncodeText(std::u16string_view text, uint8_t charset, std::string& hex);

  // Builds CMapText, the ToUnicode CMap of the font's Identity-H glyph codes (codespace
  // <0000> <FFFF>, bfchar and bfrange blocks of at most 100 entries, UTF-16BE destinations), one
  // line per glyph of the character map, a character used by EncodeText winning where several
  // share a glyph, and writes it to the stream; with encodedOnly (a subset's map) only the
  // glyphs that EncodeText gave, each for the first character it was given for. Nothing when the
  // font has no glyph lists.
  void BuildToUnicodeCMap(rtl::TStream& stream, bool encodedOnly = false);

  // The font file to embed: a subset holding the glyphs of the characters in UsedChars and of
  // the space (with the components of composite glyphs and glyph 0) under their own numbers,
  // every other glyph empty, and the tables cmap (those characters only), cvt , fpgm, glyf, head,
  // hhea, hmtx, loca, maxp and prep that the font has; or the whole font when the subset is not
  // smaller or the font may not be subset.
  // UsedChars is consumed. Returns false, with the stream emptied, for a font whose data may not
  // be embedded or is not TrueType (not fkTrueType or not Embeddable).
  bool BuildSubset(rtl::TMemoryStream& stream);

  // The tables a subset keeps, in tag order.
  static constexpr std::array<std::string_view, 10> TableTags = {
      "cmap", "cvt ", "fpgm", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "prep"};
  static bool IsSubsetTable(std::string_view tag);
  // The TrueType checksum of data: the sum of its big-endian 32-bit words modulo 2^32, a last
  // incomplete word completed with zero bytes.
  static uint32_t TableChecksum(std::span<const uint8_t> data);

 private:
  void Measure(bool prepareEmbedding, bool checkCharset);
  void ChooseBaseFontName();
  void ReadMaps();
  std::unique_ptr<platform::FontFileData> MapFontData() const;
  [[noreturn]] void FontError(const std::string& reason) const;

  ui::TFont font_;
  TzoPDFFontInfo info_;
  std::unique_ptr<platform::FontFace> face_;          // the measured face (1000 points)
  std::unique_ptr<platform::FontFileData> fontFile_;  // kept for the next subset
  bool prepareEmbedding_ = false;
  std::string baseFontName_;
  bool hasGlyphLists_ = false;
  std::vector<uint16_t> glyphIds_;
  std::vector<uint32_t> charCodes_;
  std::unordered_map<uint32_t, uint16_t> glyphOf_;
  std::vector<int32_t> glyphWidths_;
  bool tracksUsedChars_ = false;
  std::vector<uint32_t> usedChars_;
  std::unordered_set<uint32_t> usedSet_;
  std::unordered_map<uint16_t, uint32_t> encodedCharOfGlyph_;  // the first character per glyph
  std::string cmapText_;
  mutable std::vector<int32_t> japan1Widths_;
};

// Fonts; the list owns them.
using TzoPDFFontList = std::vector<std::unique_ptr<TzoPDFFont>>;

// ---- TrueType data ----

// One standalone TrueType file (sfnt) as the font code reads it: the table directory, the
// character map, the glyph widths and subsets. Every read is bounds-checked; damaged data raises
// EUnsupportedFontError with the message "Unsupported Font (<name>: <what is wrong>)".
class TzoTrueTypeData {
 public:
  // The data is lent and must outlive the object. name goes into error messages.
  TzoTrueTypeData(std::span<const uint8_t> data, std::string name);

  struct Table {
    uint32_t checksum = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
  };
  // The table of a tag; null when the font has none.
  const Table* FindTable(std::string_view tag) const;
  uint16_t NumGlyphs() const { return numGlyphs_; }
  uint16_t UnitsPerEm() const { return unitsPerEm_; }
  bool LongLoca() const { return longLoca_; }

  // (character, glyph) pairs of the best Unicode subtable (3,10 format 12; 0,x format 12; 3,1
  // format 4; 0,x format 4), in the subtable's order, without glyph 0 and without 0xFFFF; glyph
  // ids past the font's glyph count read as 0. Empty without a cmap or such a subtable.
  std::vector<std::pair<uint32_t, uint16_t>> ReadCmap() const;
  // Advance widths of all glyphs in 1/1000 em (advance * 1000 div unitsPerEm); empty without hmtx.
  std::vector<int32_t> ReadGlyphWidths() const;
  // The bytes of a glyph: offset into the data and length, from its loca entries (checked
  // against the glyf table).
  std::pair<uint64_t, uint32_t> GlyphRange(uint16_t glyph) const;
  // The glyphs with the components of every composite among them, closed; a loop of composite
  // references raises.
  std::vector<bool> CloseOverComposites(const std::vector<bool>& glyphs) const;
  // A font file with the subset tables the font has, the glyphs marked in keep copied byte for
  // byte and all others empty (no renumbering), with new checksums. With cmap, the character
  // map holds just those (character, glyph) pairs (sorted by character, no glyph 0) in place of
  // the font's own.
  std::vector<uint8_t> BuildSubset(
      const std::vector<bool>& keep,
      const std::vector<std::pair<uint32_t, uint16_t>>* cmap = nullptr) const;

 private:
  [[noreturn]] void Error(const std::string& what) const;
  void Need(uint64_t at, uint64_t count, std::string_view what) const;
  uint16_t U16(uint64_t at) const;
  uint32_t U32(uint64_t at) const;
  const Table& Required(std::string_view tag) const;
  std::vector<std::pair<uint32_t, uint16_t>> ReadFormat4(uint64_t at, uint64_t end) const;
  std::vector<std::pair<uint32_t, uint16_t>> ReadFormat12(uint64_t at, uint64_t end) const;
  void Components(uint16_t glyph, std::vector<uint16_t>& out) const;

  std::span<const uint8_t> data_;
  std::string name_;
  std::vector<std::pair<uint32_t, Table>> tables_;  // tag (big-endian) -> table, directory order
  uint16_t numGlyphs_ = 0;
  uint16_t unitsPerEm_ = 0;
  bool longLoca_ = false;
};
