// Small routines used throughout the PDF library: locale-free number texts, PDF literal-string
// escapes, hexadecimal and octal digits, wide-string slices, a buffer search, colours as PDF
// operands, unit conversions and the process's pseudo-random numbers. Strings are byte strings in
// the ANSI code page; wide strings are UTF-16.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/core/zoConsts.h"
#include "platform/RtlSysUtils.h"
#include "ui/Graphics.h"

// ---- Number texts ('.' as decimal separator whatever the locale) ----

enum TFloatFormat : uint8_t { ffGeneral, ffExponent, ffFixed, ffNumber };

// The shortest text of value with up to 15 significant digits, in fixed notation (never an
// exponent): trailing zeros dropped, at most 15 decimals; a value that rounds to zero gives "0"
// (never "-0"). NaN and infinities raise rtl::EConvertError.
std::string FloatToStrDot(double value);

// Formats value; precision is the number of significant digits (1..17), digits the decimals
// (0..18) for ffFixed/ffNumber and the minimum exponent digits (0..4) for ffExponent.
//   ffGeneral: like FloatToStrDot with precision significant digits (at most 15 decimals).
//   ffFixed:   rounded to precision significant digits and to digits decimals, written with
//              exactly digits decimals, always in fixed notation.
//   ffNumber:  ffFixed with "," between groups of three integer digits.
//   ffExponent: "d.dddE+dd" with precision digits in all.
// A text that is all zeros never has a "-". NaN and infinities raise rtl::EConvertError.
std::string FloatToStrFDot(double value, TFloatFormat format, int precision, int digits);

// The text of a PDF real number: ten significant digits, exactly ten decimals, fixed notation
// (0.5 gives 0.5000000000, 612 gives 612.0000000000). NaN and infinities raise rtl::EConvertError.
std::string RealToPDFText(double value);

// Reads a number written with '.' (optional sign, optional exponent; blanks around it allowed).
// Anything else, or a value out of range, raises rtl::EConvertError
// "'%s' is not a valid floating point value".
double StrToFloatDot(std::string_view text);
bool TryStrToFloatDot(std::string_view text, double& value);

// ---- PDF literal strings ----

// \b \n \f \r for bytes 8, 10, 12, 13; \( \) \\ for the delimiters and the backslash; every other
// byte unchanged. No enclosing parentheses.
std::string EscapePDFString(std::string_view s);

// Resolves the escapes of a literal string: \n \r \t \b \f \( \) \\, one to three octal digits
// (modulo 256), a backslash before an end of line (CR, LF or CR LF) removes both, and a
// backslash before any other byte (or at the end) is dropped.
std::string UnescapePDFString(std::string_view s);
// The same into buf, at most buf.size() bytes; returns the number of bytes written.
size_t UnescapePDFBytes(std::string_view s, std::span<uint8_t> buf);

// ---- Hexadecimal and octal ----

std::string StrToHex(std::string_view s);  // two upper-case digits per byte, high nibble first
bool IsHexText(std::string_view s);        // every character a hex digit ("" is true)
// b := the value of the digits modulo 256; returns 0. Not hex text: b := 0, returns -1.
int HexToByte(std::string_view s, uint8_t& b);
// Pairs the hex digits of s into bytes left to right, skipping other characters; an odd last
// digit counts as followed by 0.
std::string HexToStr(std::string_view s);
std::vector<uint8_t> HexToBytes(std::string_view s);
bool IsOctalText(std::string_view s);  // every character an octal digit ("" is true)
// b := the value of the digits modulo 256; 0 when s is not octal text.
void OctalToByte(std::string_view s, uint8_t& b);

// ---- Text ----

// Slices counted in UTF-16 units of s converted from the ANSI code page; the result converted
// back. Start is 1-based; counts below 0 give "".
std::string WideLeftStr(std::string_view s, int64_t count);
std::string WideRightStr(std::string_view s, int64_t count);
std::string WideMidStr(std::string_view s, int64_t start, int64_t count);

// 1-based position of the first occurrence of sub in s at or after offset; 0 when none, when sub
// is empty or when offset < 1.
int64_t PosEx(std::string_view sub, std::string_view s, int64_t offset = 1);

// Decimal (or '$' hexadecimal) integer; true only when the whole text converted.
bool TryStrToInt(std::string_view s, int32_t& value);

// Upper case of one UTF-16 unit (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic, full-width
// Latin letters).
char16_t WideUpperChar(char16_t c);
std::u16string WideUpperCase(std::u16string_view s);

// Every occurrence of oldPattern replaced by newPattern, letters compared without regard to case;
// the text between matches is copied unchanged. An empty oldPattern leaves s unchanged.
std::u16string WideReplaceText(std::u16string_view s, std::u16string_view oldPattern,
                               std::u16string_view newPattern);
// True when sub occurs in text, letters compared without regard to case (an empty sub: false).
bool ContainsText(std::string_view text, std::string_view sub);

// SearchBuf options.
enum : uint32_t { soDown = 1, soMatchCase = 2, soWholeWord = 4 };
// Finds search in buf[0 .. bufLen), forward (soDown) or backward from the selection, optionally
// as a whole word; the comparison is always exact. Returns the position, or -1. Never reads
// outside the buffer (its ends count as delimiters); an empty search finds nothing.
int64_t SearchBuf(const uint8_t* buf, int64_t bufLen, int64_t selStart, int64_t selLength,
                  std::string_view search, uint32_t options);

inline int32_t IfThenInt(bool cond, int32_t a, int32_t b) {
  return cond ? a : b;
}
inline int64_t IfThenInt64(bool cond, int64_t a, int64_t b) {
  return cond ? a : b;
}

// Empties the owner, then frees what it held.
template <class T>
void FreeAndNil(std::unique_ptr<T>& p) {
  std::unique_ptr<T> old = std::move(p);
  old.reset();
}

// Four numbers, for page boxes in the order of the PDF array: lower-left x and y, upper-right
// x and y.
struct TzoRectD {
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  friend bool operator==(const TzoRectD&, const TzoRectD&) = default;
};
inline TzoRectD MakeRectD(double a, double b, double c, double d) {
  return {a, b, c, d};
}

// ---- Colours ----

// A system colour (high byte FF) becomes its value; other colours are unchanged.
void ResolveSysColor(TColor& color);
// "r g b", each component / 255 with four decimals ("0.0000 0.0000 0.0000" for black).
std::string ColorToPDFRGB(TColor color);

// ---- Fonts ----

// Adds to list each character set that the installed faces of the family faceName (ANSI code
// page) report, when it is one of AcceptedFontCharsets and not yet in the list.
void GetFontCharsets(std::string_view faceName, std::vector<uint8_t>& list);
// The characters a byte string stands for in a font of the character set: read in the set's code
// page (1252 for ANSI_CHARSET, 932 for DEFAULT_CHARSET), the bytes as character codes for
// SYMBOL_CHARSET.
std::u16string DecodeFontText(std::string_view text, uint8_t charset);
// The byte string that DecodeFontText reads as text (a character the code page lacks as "?";
// for SYMBOL_CHARSET the low byte of each character).
std::string EncodeFontText(std::u16string_view text, uint8_t charset);
// The extent in pixels of text drawn with font on the screen: the sum of the characters'
// advances (no kerning) and the font's ascent + descent; a byte string as DecodeFontText reads it
// in the font's character set. 0 and 0 when no font is installed.
void GetTextExtent(std::string_view text, const ui::TFont& font, int32_t& width, int32_t& height);
void GetTextExtent(std::u16string_view text, const ui::TFont& font, int32_t& width,
                   int32_t& height);
// The same with the screen face of a font (ui::CreateFontFace); 0 and 0 for null.
void GetTextExtent(std::u16string_view text, const platform::FontFace* face, int32_t& width,
                   int32_t& height);

// ---- Units ----

double DegToRad(double x);
// Cosine and sine of an angle in degrees; exactly 0, 1 or -1 at the multiples of 90.
void CosSinDeg(double degrees, double& c, double& s);
double PixelsToPoints(double x);  // x / ScreenPixelsPerInch * 72
double PointsToPixels(double x);  // x * ScreenScale

// ---- Containers ----

// Makes room for one more element of v, doubling its storage when full, so that a push_back that
// follows cannot fail (and n of them cost O(n) copies, not the O(n^2) of reserve(size() + 1)).
template <class T, class A>
void ReserveOneMore(std::vector<T, A>& v) {
  if (v.size() == v.capacity()) v.reserve(v.size() < 4 ? 4 : v.size() * 2);
}

// ---- Pseudo-random numbers (the process's generator) ----

// Seeds the generator from the clock.
void Randomize();
// A number in 0 .. range - 1 (0 when range < 1).
int32_t Random(int32_t range);
// Replaces the generator (for tests): source(range) must give a number in 0 .. range - 1. An empty
// function restores the built-in generator.
void SetRandomSource(std::function<int32_t(int32_t range)> source);
