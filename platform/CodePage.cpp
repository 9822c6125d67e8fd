#include "platform/CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace platform {

namespace {

constexpr char16_t kInvalid = 0xFFFF;      // no character in the decode table
constexpr char16_t kDefaultWide = 0x30FB;  // what Windows gives for an undefined double byte

// Both directions of code page 932, built once from iconv's "CP932" with the single bytes that
// glibc leaves out mapped as Windows maps them.
struct Tables {
  std::array<char16_t, 256> single{};
  std::vector<char16_t> dbcs;    // (lead << 8) | trail -> UTF-16, kInvalid when undefined
  std::vector<uint16_t> encode;  // UTF-16 -> code (one or two bytes), 0 when none

  Tables() : dbcs(65536, kInvalid), encode(65536, 0) {
    iconv_t dec = iconv_open("UTF-16LE", "CP932");
    iconv_t enc = iconv_open("CP932", "UTF-16LE");
    auto decode = [&](const char* in, size_t len, char16_t& out) {
      char buf[8];
      char* ip = const_cast<char*>(in);
      char* op = buf;
      size_t il = len, ol = sizeof buf;
      iconv(dec, nullptr, nullptr, nullptr, nullptr);
      if (iconv(dec, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 || op - buf != 2)
        return false;
      out =
          static_cast<char16_t>(static_cast<uint8_t>(buf[0]) | (static_cast<uint8_t>(buf[1]) << 8));
      return true;
    };
    for (int b = 0; b < 256; ++b) {
      char c = static_cast<char>(b);
      char16_t w;
      single[static_cast<size_t>(b)] =
          (!IsDBCSLeadByte(static_cast<uint8_t>(b)) && decode(&c, 1, w)) ? w : kInvalid;
    }
    single[0x80] = 0x0080;
    single[0xA0] = 0xF8F0;
    single[0xFD] = 0xF8F1;
    single[0xFE] = 0xF8F2;
    single[0xFF] = 0xF8F3;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsDBCSLeadByte(static_cast<uint8_t>(lead))) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char16_t w;
        if (decode(in, 2, w)) dbcs[static_cast<size_t>((lead << 8) | trail)] = w;
      }
    }
    // The encoder takes iconv's choice among codes that decode to the same character.
    for (uint32_t cp = 1; cp < 65536; ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      char in[2] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8)};
      char out[4];
      char* ip = in;
      char* op = out;
      size_t il = 2, ol = sizeof out;
      iconv(enc, nullptr, nullptr, nullptr, nullptr);
      if (iconv(enc, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) continue;
      size_t n = static_cast<size_t>(op - out);
      if (n == 1)
        encode[cp] = static_cast<uint8_t>(out[0]);
      else if (n == 2)
        encode[cp] = static_cast<uint16_t>((static_cast<uint8_t>(out[0]) << 8) |
                                           static_cast<uint8_t>(out[1]));
    }
    encode[0x0080] = 0x80;
    encode[0xF8F0] = 0xA0;
    encode[0xF8F1] = 0xFD;
    encode[0xF8F2] = 0xFE;
    encode[0xF8F3] = 0xFF;
    iconv_close(dec);
    iconv_close(enc);
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

// Code page 1252 as Windows decodes it: iconv's table with the five bytes it leaves out (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) as the C1 controls of the same value.
const std::array<char16_t, 256>& Cp1252() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    iconv_t dec = iconv_open("UTF-16LE", "CP1252");
    for (int b = 0; b < 256; ++b) {
      char in = static_cast<char>(b);
      char out[4];
      char* ip = &in;
      char* op = out;
      size_t il = 1, ol = sizeof out;
      t[static_cast<size_t>(b)] = static_cast<char16_t>(b);
      if (dec == reinterpret_cast<iconv_t>(-1)) continue;
      iconv(dec, nullptr, nullptr, nullptr, nullptr);
      if (iconv(dec, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && op - out == 2)
        t[static_cast<size_t>(b)] = static_cast<char16_t>(static_cast<uint8_t>(out[0]) |
                                                          (static_cast<uint8_t>(out[1]) << 8));
    }
    if (dec != reinterpret_cast<iconv_t>(-1)) iconv_close(dec);
    return t;
  }();
  return table;
}

// Any other code page through iconv; what it cannot convert becomes U+FFFD, one byte at a time.
std::u16string IconvToWide(const char* charset, std::string_view bytes) {
  std::u16string out;
  iconv_t dec = iconv_open("UTF-16LE", charset);
  if (dec == reinterpret_cast<iconv_t>(-1)) {
    out.assign(bytes.size(), u'\uFFFD');
    return out;
  }
  std::string in(bytes);
  char* ip = in.data();
  size_t il = in.size();
  std::vector<char> buf(in.size() * 4 + 8);
  while (il > 0) {
    char* op = buf.data();
    size_t ol = buf.size();
    size_t r = iconv(dec, &ip, &il, &op, &ol);
    for (char* p = buf.data(); p + 1 < op; p += 2)
      out += static_cast<char16_t>(static_cast<uint8_t>(p[0]) | (static_cast<uint8_t>(p[1]) << 8));
    if (r == static_cast<size_t>(-1) && il > 0) {
      out += u'\uFFFD';
      ++ip;
      --il;
      iconv(dec, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(dec);
  return out;
}

// iconv's name of a code page that neither the 932 nor the 1252 tables serve; "" for one that
// converts as 932.
std::string IconvName(uint32_t codePage) {
  switch (codePage) {
    case 874:
    case 936:
    case 949:
    case 950:
    case 1250:
    case 1251:
    case 1253:
    case 1254:
    case 1255:
    case 1256:
    case 1257:
    case 1258:
      return "CP" + std::to_string(codePage);
    case 1361:
      return "JOHAB";
    default:
      return "";
  }
}

// UTF-16 to any other code page through iconv, a character at a time: what it cannot convert
// becomes "?".
std::string WideToIconv(const char* charset, std::u16string_view wide) {
  std::string out;
  iconv_t enc = iconv_open(charset, "UTF-16LE");
  if (enc == reinterpret_cast<iconv_t>(-1)) return std::string(wide.size(), '?');
  for (size_t i = 0; i < wide.size();) {
    const bool pair =
        i + 1 < wide.size() && (wide[i] & 0xFC00) == 0xD800 && (wide[i + 1] & 0xFC00) == 0xDC00;
    char in[4];
    const size_t units = pair ? 2 : 1;
    for (size_t k = 0; k < units; ++k) {
      in[2 * k] = static_cast<char>(wide[i + k] & 0xFF);
      in[2 * k + 1] = static_cast<char>(wide[i + k] >> 8);
    }
    i += units;
    char buf[16];
    char* ip = in;
    char* op = buf;
    size_t il = units * 2, ol = sizeof buf;
    iconv(enc, nullptr, nullptr, nullptr, nullptr);
    if (iconv(enc, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || op == buf)
      out += '?';
    else
      out.append(buf, static_cast<size_t>(op - buf));
  }
  iconv_close(enc);
  return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  return true;
}

}  // namespace

bool IsDBCSLeadByte(uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsDBCSTrailByte(uint8_t b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

bool IsDoubleByteAt(std::string_view s, size_t i) {
  return i + 1 < s.size() && IsDBCSLeadByte(static_cast<uint8_t>(s[i])) &&
         IsDBCSTrailByte(static_cast<uint8_t>(s[i + 1]));
}

std::u16string AnsiToWide(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  if (IsAscii(ansi)) {
    for (char c : ansi)
      out += static_cast<char16_t>(c);
    return out;
  }
  const Tables& t = T();
  for (size_t i = 0; i < ansi.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(ansi[i]);
    if (IsDBCSLeadByte(b)) {
      if (i + 1 >= ansi.size()) {
        out += kDefaultWide;  // a lead byte without its second byte
        break;
      }
      uint8_t trail = static_cast<uint8_t>(ansi[i + 1]);
      char16_t w = t.dbcs[static_cast<size_t>((b << 8) | trail)];
      if (w == kInvalid) {
        // An undefined pair; a second byte that cannot be one stands for itself.
        out += kDefaultWide;
        if (trail < 0x40) {
          out += static_cast<char16_t>(trail);
        }
      } else {
        out += w;
      }
      ++i;
    } else {
      char16_t w = t.single[b];
      out += w == kInvalid ? kDefaultWide : w;
    }
  }
  return out;
}

std::string WideToAnsi(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size() * 2);
  const Tables* t = nullptr;
  for (size_t i = 0; i < wide.size(); ++i) {
    char16_t w = wide[i];
    if (w < 0x80) {
      out += static_cast<char>(w);
      continue;
    }
    if (w >= 0xD800 && w <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      out += '?';  // a character outside the BMP is never in code page 932
      ++i;
      continue;
    }
    if (!t) t = &T();
    uint16_t code = t->encode[w];
    if (code == 0)
      out += '?';
    else if (code < 0x100)
      out += static_cast<char>(code);
    else {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    }
  }
  return out;
}

char32_t NextCodePoint(std::u16string_view text, size_t& i) {
  char32_t c = text[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
    c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00u);
  return c;
}

std::string WideToUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    uint8_t b = static_cast<uint8_t>(utf8[i]);
    uint32_t cp;
    size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    bool ok = i + len <= utf8.size();
    for (size_t k = 1; ok && k < len; ++k) {
      uint8_t c = static_cast<uint8_t>(utf8[i + k]);
      if ((c & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

uint32_t CodePageOfCharset(uint8_t charset) {
  switch (charset) {
    case 0:
      return 1252;
    case 128:
      return 932;
    case 129:
      return 949;
    case 130:
      return 1361;
    case 134:
      return 936;
    case 136:
      return 950;
    case 161:
      return 1253;
    case 162:
      return 1254;
    case 163:
      return 1258;
    case 177:
      return 1255;
    case 178:
      return 1256;
    case 186:
      return 1257;
    case 222:
      return 874;
    case 238:
      return 1250;
    case 204:
      return 1251;
    default:
      return kAnsiCodePage;
  }
}

std::u16string MultiByteToWide(uint32_t codePage, std::string_view bytes) {
  switch (codePage) {
    case 1252: {
      const auto& t = Cp1252();
      std::u16string out;
      out.reserve(bytes.size());
      for (char c : bytes)
        out += t[static_cast<uint8_t>(c)];
      return out;
    }
    default: {
      const std::string name = IconvName(codePage);
      return name.empty() ? AnsiToWide(bytes) : IconvToWide(name.c_str(), bytes);
    }
  }
}

std::string WideToMultiByte(uint32_t codePage, std::u16string_view wide) {
  switch (codePage) {
    case 1252: {
      const auto& t = Cp1252();
      std::string out;
      out.reserve(wide.size());
      for (char16_t w : wide) {
        const auto* at = std::find(t.begin(), t.end(), w);
        out += at == t.end() ? '?' : static_cast<char>(at - t.begin());
      }
      return out;
    }
    default: {
      const std::string name = IconvName(codePage);
      return name.empty() ? WideToAnsi(wide) : WideToIconv(name.c_str(), wide);
    }
  }
}

std::string AnsiToUtf8(std::string_view ansi) {
  if (IsAscii(ansi)) return std::string(ansi);
  return WideToUtf8(AnsiToWide(ansi));
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return WideToAnsi(Utf8ToWide(utf8));
}

}  // namespace platform
