// Colours, points and fonts of the controls, with the class library's values.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {
class FontFace;
}

namespace ui {

// 0x00BBGGRR, or a system colour: 0x80000000 | the system colour index.
using TColor = int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr TColor SystemColor(int index) {
  return static_cast<TColor>(0x80000000u | index);
}
constexpr TColor clScrollBar = SystemColor(0);
constexpr TColor clBackground = SystemColor(1);
constexpr TColor clWindow = SystemColor(5);
constexpr TColor clWindowFrame = SystemColor(6);
constexpr TColor clMenu = SystemColor(4);
constexpr TColor clWindowText = SystemColor(8);
constexpr TColor clInactiveBorder = SystemColor(11);
constexpr TColor clHighlight = SystemColor(13);
constexpr TColor clHighlightText = SystemColor(14);
constexpr TColor clBtnFace = SystemColor(15);
constexpr TColor clGrayText = SystemColor(17);
constexpr TColor clBtnText = SystemColor(18);
constexpr TColor clInfoBk = SystemColor(24);

constexpr bool IsSystemColor(TColor c) {
  return (static_cast<uint32_t>(c) & 0xFF000000u) == 0x80000000u;
}
constexpr int SystemColorIndex(TColor c) {
  return static_cast<int>(static_cast<uint32_t>(c) & 0xFF);
}
constexpr int RedOf(TColor c) {
  return c & 0xFF;
}
constexpr int GreenOf(TColor c) {
  return (c >> 8) & 0xFF;
}
constexpr int BlueOf(TColor c) {
  return (c >> 16) & 0xFF;
}

struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

using TFontCharset = uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;
constexpr TFontCharset MAC_CHARSET = 77;
constexpr TFontCharset SHIFTJIS_CHARSET = 128;
constexpr TFontCharset HANGEUL_CHARSET = 129;
constexpr TFontCharset JOHAB_CHARSET = 130;
constexpr TFontCharset GB2312_CHARSET = 134;
constexpr TFontCharset CHINESEBIG5_CHARSET = 136;
constexpr TFontCharset GREEK_CHARSET = 161;
constexpr TFontCharset TURKISH_CHARSET = 162;
constexpr TFontCharset VIETNAMESE_CHARSET = 163;
constexpr TFontCharset HEBREW_CHARSET = 177;
constexpr TFontCharset ARABIC_CHARSET = 178;
constexpr TFontCharset BALTIC_CHARSET = 186;
constexpr TFontCharset RUSSIAN_CHARSET = 204;
constexpr TFontCharset THAI_CHARSET = 222;
constexpr TFontCharset EASTEUROPE_CHARSET = 238;
constexpr TFontCharset OEM_CHARSET = 255;

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t;
enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };

// The screen has 96 pixels per inch: Height is the negative pixel height of the characters,
// Size the points (Size = -Height * 72 / 96).
constexpr int kScreenPixelsPerInch = 96;

// A control's font. Names are byte strings in the ANSI code page ("ＭＳ Ｐゴシック").
class TFont {
 public:
  TFont();
  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  int Size() const;
  void SetSize(int points);
  int Height() const { return height_; }
  void SetHeight(int height);
  TFontCharset Charset() const { return charset_; }
  void SetCharset(TFontCharset charset);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style);
  TFontPitch Pitch() const { return pitch_; }
  void SetPitch(TFontPitch pitch);

  void Assign(const TFont& other);
  bool SameAs(const TFont& other) const;

  // Called after every change (the owning control passes it on to its window and children).
  std::function<void()> OnChange;

 private:
  void Changed();
  std::string name_;
  int height_;
  TFontCharset charset_;
  TColor color_;
  TFontStyles style_;
  TFontPitch pitch_ = fpDefault;
};

// The face that draws the font on the screen (96 pixels per inch) at its Height, chosen by name,
// style, pitch and character set through the platform's font layer (the font's handle). Null
// only when no font is installed at all.
std::unique_ptr<platform::FontFace> CreateFontFace(const TFont& font);

// The forms' default font: "ＭＳ Ｐゴシック", 9 points, Shift-JIS character set.
std::string DefaultFontName();

}  // namespace ui
