// Helpers of the font tests: fonts of the private test font set, FreeType as a judge of font data,
// and a one-page PDF that shows glyphs of an embedded TrueType font.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pdf/document/zoPDFFont.h"
#include "platform/CodePage.h"
#include "tests/pdf/document/WriterTestSupport.h"
#include "tests/support/FontTestSupport.h"
#include "ui/Graphics.h"

namespace sv::test {

// A font as the programs make one: name in UTF-8 here, size in points.
inline ui::TFont MakeFont(const std::string& utf8Name, int size, ui::TFontCharset charset,
                          ui::TFontStyles style = 0) {
  ui::TFont f;
  f.SetName(platform::Utf8ToAnsi(utf8Name));
  f.SetSize(size);
  f.SetCharset(charset);
  f.SetStyle(style);
  return f;
}

// One face loaded by FreeType from bytes in memory (the bytes must outlive it).
class FreeTypeFace {
 public:
  explicit FreeTypeFace(const std::string& bytes) {
    if (FT_Init_FreeType(&library_) != 0) return;
    if (FT_New_Memory_Face(library_, reinterpret_cast<const FT_Byte*>(bytes.data()),
                           static_cast<FT_Long>(bytes.size()), 0, &face_) != 0)
      face_ = nullptr;
  }
  ~FreeTypeFace() {
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
  }
  FreeTypeFace(const FreeTypeFace&) = delete;
  FreeTypeFace& operator=(const FreeTypeFace&) = delete;
  FT_Face Face() const { return face_; }

 private:
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
};

// The whole font file of a font, as LoadFontData gives it.
inline std::string FontData(const TzoPDFFont& font) {
  rtl::TMemoryStream s;
  font.LoadFontData(s);
  return s.ToString();
}

inline std::string Hex4(uint32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v);
  return buf;
}

// A one-page PDF that shows the glyphs `hexGlyphs` (four hex digits each) at 40 points with
// fontFile embedded as /FontFile2 of a Type0 font (CIDFontType2, Identity-H,
// /CIDToGIDMap /Identity, the glyphs' widths from glyphWidths), with the ToUnicode CMap when
// given.
inline std::string OnePagePDF(const std::string& fontFile, const std::string& hexGlyphs,
                              const std::vector<int32_t>& glyphWidths,
                              const std::string& toUnicode) {
  std::string w;
  for (size_t i = 0; i + 4 <= hexGlyphs.size(); i += 4) {
    size_t g = std::stoul(hexGlyphs.substr(i, 4), nullptr, 16);
    if (g < glyphWidths.size())
      w += std::to_string(g) + " [" + std::to_string(glyphWidths[g]) + "] ";
  }
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 320 80] /Resources << /Font << /F1 5 0 R >> "
      ">> /Contents 4 0 R >>",
  };
  std::string content = "BT /F1 40 Tf 10 20 Td <" + hexGlyphs + "> Tj ET";
  objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                    "\nendstream");
  objects.push_back(
      "<< /Type /Font /Subtype /Type0 /BaseFont /TestFont /Encoding /Identity-H /DescendantFonts "
      "[6 0 R]" +
      std::string(toUnicode.empty() ? "" : " /ToUnicode 9 0 R") + " >>");
  objects.push_back(
      "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /TestFont /CIDSystemInfo << /Registry "
      "(Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor 7 0 R /DW 1000 /W [" +
      w + "] /CIDToGIDMap /Identity >>");
  objects.push_back(
      "<< /Type /FontDescriptor /FontName /TestFont /Flags 32 /FontBBox [-250 -300 1200 1000] "
      "/ItalicAngle 0 /Ascent 900 /Descent -250 /CapHeight 700 /StemV 80 /FontFile2 8 0 R >>");
  objects.push_back("<< /Length " + std::to_string(fontFile.size()) + " /Length1 " +
                    std::to_string(fontFile.size()) + " >>\nstream\n" + fontFile + "\nendstream");
  if (!toUnicode.empty())
    objects.push_back("<< /Length " + std::to_string(toUnicode.size()) + " >>\nstream\n" +
                      toUnicode + "\nendstream");
  return BuildPdf(objects);
}

}  // namespace sv::test
