// Character classes, colours and the screen resolution of the PDF library.
#pragma once

#include <array>
#include <cstdint>

// ---- Screen resolution ----

// Logical pixels per inch of the screen: 96 unless set otherwise.
int32_t ScreenPixelsPerInch();
// Values below 1 raise rtl::Exception.
void SetScreenPixelsPerInch(int32_t ppi);
// ScreenPixelsPerInch / 72.
double ScreenScale();

// ---- Character classes ----

// 0..15 for '0'..'9', 'A'..'F', 'a'..'f'; -1 for every other byte.
constexpr int HexDigitValue(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                : -1;
}
constexpr bool IsHexDigit(char c) {
  return HexDigitValue(c) >= 0;
}
constexpr bool IsOctalDigit(char c) {
  return c >= '0' && c <= '7';
}
// Word delimiters of the whole-word search: every byte but '0'..'9', 'A'..'Z', 'a'..'z'.
constexpr bool IsWordDelimiter(uint8_t b) {
  return !((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'));
}
// PDF white space: NUL, tab, line feed, form feed, carriage return, blank.
constexpr bool IsPDFWhiteSpace(uint8_t b) {
  return b == 0 || b == 9 || b == 10 || b == 12 || b == 13 || b == 32;
}

// Font character sets accepted from a font enumeration (ANSI, symbol, Macintosh, Shift-JIS,
// Hangul, Johab, GB2312, Big5, Greek, Turkish, Vietnamese, Hebrew, Arabic, Baltic, Russian, Thai,
// East-European, OEM).
inline constexpr std::array<uint8_t, 18> AcceptedFontCharsets = {
    0, 2, 77, 128, 129, 130, 134, 136, 161, 162, 163, 177, 178, 186, 204, 222, 238, 255};

// ---- Colours ----

// A colour as the class library holds it: 0x00BBGGRR, or 0xFF0000nn for system colour nn.
using TColor = uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

inline constexpr TColor clSystemColor = 0xFF000000;
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clActiveCaption = clSystemColor | 2;
inline constexpr TColor clInactiveCaption = clSystemColor | 3;
inline constexpr TColor clMenu = clSystemColor | 4;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowFrame = clSystemColor | 6;
inline constexpr TColor clMenuText = clSystemColor | 7;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clCaptionText = clSystemColor | 9;
inline constexpr TColor clActiveBorder = clSystemColor | 10;
inline constexpr TColor clInactiveBorder = clSystemColor | 11;
inline constexpr TColor clAppWorkSpace = clSystemColor | 12;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clGrayText = clSystemColor | 17;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clInactiveCaptionText = clSystemColor | 19;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;
inline constexpr TColor cl3DDkShadow = clSystemColor | 21;
inline constexpr TColor cl3DLight = clSystemColor | 22;
inline constexpr TColor clInfoText = clSystemColor | 23;
inline constexpr TColor clInfoBk = clSystemColor | 24;
inline constexpr TColor clHotLight = clSystemColor | 26;
inline constexpr TColor clGradientActiveCaption = clSystemColor | 27;
inline constexpr TColor clGradientInactiveCaption = clSystemColor | 28;
inline constexpr TColor clMenuHighlight = clSystemColor | 29;
inline constexpr TColor clMenuBar = clSystemColor | 30;

// The value of system colour index (the default colours of Windows; clWindowText is black);
// 0 for an index that names no system colour.
TColor SysColorValue(uint32_t index);
