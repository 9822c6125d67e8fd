// The ANSI code page of the system is code page 932 (Shift-JIS as Windows defines it). Byte strings
// inside the programs are in it; these conversions reach UTF-16 and, for the OS and the toolkit,
// UTF-8. A character that code page 932 cannot hold becomes "?".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

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
std::u16string Utf8ToWide(std::string_view utf8);  // invalid sequences become U+FFFD

}  // namespace platform
