// The font layer in place of the Windows font calls: fontconfig finds a face from a family name
// (after the project's own alias table for Windows names), weight, slant, pitch and a language
// taken from the character set; FreeType reads it. The screen has 96 pixels per inch. Metrics are
// the values GDI's TEXTMETRIC and OUTLINETEXTMETRIC give, computed from the font's tables: a value
// v in font units at ppem pixels per em is round(v * ppem / unitsPerEm). Family names are UTF-8 at
// this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr int kFontPixelsPerInch = 96;

// Bits of TextMetrics::pitchAndFamily, with Windows' names: TMPF_FIXED_PITCH is set when the font
// is NOT fixed pitch.
inline constexpr uint8_t TMPF_FIXED_PITCH = 0x01;
inline constexpr uint8_t TMPF_VECTOR = 0x02;    // outlines
inline constexpr uint8_t TMPF_TRUETYPE = 0x04;  // TrueType outlines (a glyf table)
inline constexpr uint8_t TMPF_DEVICE = 0x08;    // outlines of another kind (CFF, Type 1)
// The family, in the high four bits (an enumeration, not a set of bits).
inline constexpr uint8_t FF_DONTCARE = 0x00;
inline constexpr uint8_t FF_ROMAN = 0x10;
inline constexpr uint8_t FF_SWISS = 0x20;
inline constexpr uint8_t FF_MODERN = 0x30;
inline constexpr uint8_t FF_SCRIPT = 0x40;
inline constexpr uint8_t FF_DECORATIVE = 0x50;
constexpr uint8_t FontFamilyOf(uint8_t pitchAndFamily) {
  return pitchAndFamily & 0xF0;
}

enum class FontPitch : uint8_t { kDefault, kVariable, kFixed };

// What a program asks for, as a LOGFONT does.
struct FontRequest {
  std::string family;  // UTF-8, as the program names it ("MS Gothic", "ＭＳ ゴシック", "Arial")
  // Pixels: < 0 the em height, > 0 the cell height (ascent + descent), 0 12 points; at most
  // 16384 pixels per em.
  int height = 0;
  int weight = 400;  // 100 .. 900; 700 bold
  bool italic = false;
  uint8_t charset = 1;  // GDI character set: the language the face should cover
  FontPitch pitch = FontPitch::kDefault;
  bool trueTypeOnly = false;  // only faces with TrueType outlines
};

// TEXTMETRIC and the OUTLINETEXTMETRIC values the library reads, in pixels at the face's size.
struct TextMetrics {
  int32_t ppem = 0;     // the em height in pixels
  int32_t height = 0;   // ascent + descent
  int32_t ascent = 0;   // OS/2 usWinAscent
  int32_t descent = 0;  // OS/2 usWinDescent (positive below the baseline)
  int32_t internalLeading = 0;
  int32_t externalLeading = 0;
  int32_t aveCharWidth = 0;  // OS/2 xAvgCharWidth
  int32_t maxCharWidth = 0;  // hhea advanceWidthMax
  int32_t weight = 400;      // OS/2 usWeightClass
  uint8_t italic = 0;        // OS/2 fsSelection italic (or oblique)
  uint8_t underlined = 0;
  uint8_t struckOut = 0;
  uint8_t pitchAndFamily = 0;
  uint8_t charSet = 0;
  uint32_t emSquare = 0;           // unitsPerEm
  int32_t italicAngle = 0;         // post italicAngle, tenths of a degree
  int32_t capEmHeight = 0;         // OS/2 sCapHeight (0 when the table has none)
  int32_t strikeoutSize = 0;       // OS/2 yStrikeoutSize
  int32_t strikeoutPosition = 0;   // OS/2 yStrikeoutPosition (above the baseline)
  int32_t underscoreSize = 0;      // post underlineThickness
  int32_t underscorePosition = 0;  // post underlinePosition (negative below the baseline)
  uint16_t fsType = 0;             // OS/2 embedding rights
};

// The family fontconfig is asked for in place of a Windows family name ("MS Gothic" and
// "ＭＳ ゴシック" give "IPAGothic", "Arial" gives "Liberation Sans"); other names unchanged. Latin
// letters compare without regard to case.
std::string FontFamilyAlias(std::string_view family);

// The font file of one face, read-only in memory: the file mapped (the mapping its face reads,
// shared), or a face of a collection rebuilt as a file of its own.
class FontFileData {
 public:
  ~FontFileData();
  FontFileData(const FontFileData&) = delete;
  FontFileData& operator=(const FontFileData&) = delete;
  std::span<const uint8_t> Bytes() const { return bytes_; }

 private:
  friend class FontFace;
  FontFileData() = default;
  std::span<const uint8_t> bytes_;
  std::shared_ptr<const void> file_;  // the mapping bytes_ lies in
  std::vector<uint8_t> owned_;
};

// One face at one size, as a font selected into the screen's device context. Faces of one file
// share its mapping: a file is mapped again only when it has changed on disk. Each face has its
// own FreeType face, so faces may be used on different threads.
class FontFace {
 public:
  ~FontFace();
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  // The face fontconfig chooses for the request. Of the faces of the chosen family, one with
  // TrueType outlines wins over one with other outlines. Null only when no scalable font can be
  // found at all. What fontconfig offers for a request is kept (the last few requests) until the
  // configuration changes.
  static std::unique_ptr<FontFace> Find(const FontRequest& request);
  // Face index of a font file, at a height as in FontRequest. Null when the file is no font.
  static std::unique_ptr<FontFace> Open(const std::string& path, int index, int height);

  const std::string& FilePath() const;
  int FaceIndex() const;
  const std::string& FamilyName() const;      // the face's own family name (UTF-8)
  const std::string& PostScriptName() const;  // "" when the face has none
  // Whether the face has TrueType outlines / is an sfnt (TrueType or OpenType) at all.
  bool IsTrueType() const;
  bool IsSfnt() const;
  const TextMetrics& Metrics() const;

  // The glyph of a character (a Unicode code point); 0 when the face lacks it.
  uint32_t GlyphIndex(char32_t c) const;
  // The advance of a glyph in pixels at the face's size (no hinting).
  int32_t GlyphAdvance(uint32_t glyph) const;
  // The width of a text: the sum of the advances of its characters (no kerning). Surrogate pairs
  // count as one character; a lone surrogate draws glyph 0.
  int32_t TextWidth(std::u16string_view text) const;
  // The GDI character sets the face covers (from OS/2 ulCodePageRange1), in bit order.
  std::vector<uint8_t> Charsets() const;

  // The font file of this face alone, as GetFontData(0, 0) gives it: the file itself for a
  // TrueType or OpenType file, the one face rebuilt as a standalone file (its tables, a new
  // directory and checksums) from a collection. Null / false when the face is no sfnt or the
  // file cannot be read or is damaged. MapFontData maps the file instead of reading it.
  std::unique_ptr<FontFileData> MapFontData() const;
  bool FontData(std::vector<uint8_t>& bytes) const;

 private:
  struct Impl;
  explicit FontFace(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The GDI character sets of every installed face of a family (alias table applied), in the order
// of enumeration without duplicates; empty when the family is not installed.
std::vector<uint8_t> FontFamilyCharsets(std::string_view family);

// From now on fonts are found through the fontconfig configuration file confFile (the tests'
// private font set); "" returns to the system's configuration. False when the file cannot be
// loaded (the configuration is then unchanged).
bool UseFontConfiguration(const std::string& confFile);

// A number that changes whenever the configuration fonts are found through changes
// (UseFontConfiguration, or the system's configuration rebuilt): what was measured under one
// value may not hold under another.
uint64_t FontConfigurationGeneration();

}  // namespace platform
