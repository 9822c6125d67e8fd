// The ANSI code page of the system is code page 932 (Shift-JIS as Windows defines it). Byte strings
// inside the programs are in it; these conversions reach UTF-16 and, for the OS and the toolkit,
// UTF-8. A character that code page 932 cannot hold becomes "?".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The process's ANSI code page, fixed (it is not taken from the locale).
inline constexpr uint32_t kAnsiCodePage = 932;

// True for the first byte of a double-byte character (0x81-0x9F, 0xE0-0xFC).
bool IsDBCSLeadByte(uint8_t b);
// True for a byte that can follow a lead byte as the second byte (0x40-0x7E, 0x80-0xFC).
bool IsDBCSTrailByte(uint8_t b);
// True when a double-byte character starts at s[i]: a lead byte with a second byte after it.
bool IsDoubleByteAt(std::string_view s, size_t i);

std::u16string AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::u16string_view wide);

std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

std::string WideToUtf8(std::u16string_view wide);
// The code point at text[i], a surrogate pair taken whole (a lone surrogate is returned as it
// is); i moves past it. i must be below text.size().
char32_t NextCodePoint(std::u16string_view text, size_t& i);
std::u16string Utf8ToWide(std::string_view utf8);  // invalid sequences become U+FFFD

// The code page of a GDI character set: 0 -> 1252, 128 -> 932, 129 -> 949, 130 -> 1361,
// 134 -> 936, 136 -> 950, 161 -> 1253, 162 -> 1254, 163 -> 1258, 177 -> 1255, 178 -> 1256,
// 186 -> 1257, 222 -> 874, 238 -> 1250, 204 -> 1251; any other -> the ANSI code page.
uint32_t CodePageOfCharset(uint8_t charset);

// Bytes of a Windows code page to UTF-16, as MultiByteToWideChar without flags gives them: 932 as
// AnsiToWide; 1252 with 0x81, 0x8D, 0x8F, 0x90 and 0x9D as U+0081 .. U+009D; other code pages
// through the C library's tables, a byte sequence they cannot convert giving U+FFFD. An unknown
// code page converts as 932.
std::u16string MultiByteToWide(uint32_t codePage, std::string_view bytes);
// UTF-16 to the bytes of a Windows code page, the inverse of MultiByteToWide: a character the
// code page cannot hold becomes "?". 932 and unknown code pages as WideToAnsi.
std::string WideToMultiByte(uint32_t codePage, std::u16string_view wide);

}  // namespace platform
