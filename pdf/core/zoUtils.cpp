#include "pdf/core/zoUtils.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <numbers>
#include <random>

#include "platform/CodePage.h"
#include "platform/Fonts.h"
#include "platform/RtlSysUtils.h"

// ---- Number texts ----

namespace {

void CheckFinite(double v) {
  if (std::isnan(v)) throw rtl::EConvertError("Invalid floating point value (NAN)");
  if (std::isinf(v))
    throw rtl::EConvertError(v > 0 ? "Invalid floating point value (INF)"
                                   : "Invalid floating point value (-INF)");
}

// value = digits[0].digits[1..] * 10^exp (digits without sign or point).
struct Decimal {
  bool negative = false;
  std::string digits;
  int exp = 0;
};

// Scientific digits of v with `count` significant digits (correctly rounded).
Decimal Scientific(double v, int count) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, count - 1);
  std::string_view t(buf, static_cast<size_t>(r.ptr - buf));
  Decimal d;
  if (!t.empty() && t[0] == '-') {
    d.negative = true;
    t.remove_prefix(1);
  }
  size_t e = t.find('e');
  for (char c : t.substr(0, e))
    if (c != '.') d.digits += c;
  std::from_chars(t.data() + e + 1 + (t[e + 1] == '+' ? 1 : 0), t.data() + t.size(), d.exp);
  return d;
}

bool AllZero(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == '0' || c == '.' || c == ','; });
}

// Fixed notation, rounded to `precision` significant digits and to `decimals` decimals; with
// `trim` the trailing zeros of the fraction (and a bare point) are dropped.
std::string FixedText(double v, int precision, int decimals, bool trim) {
  CheckFinite(v);
  std::string intPart, frac;
  bool negative = std::signbit(v);
  Decimal d;
  if (v != 0) d = Scientific(v, precision);
  if (v == 0) {
    intPart = "0";
  } else if (precision - 1 <= d.exp + decimals) {
    // All the significant digits fit in the decimals allowed.
    if (d.exp >= 0) {
      size_t n = static_cast<size_t>(d.exp) + 1;
      intPart = d.digits.substr(0, std::min(n, d.digits.size()));
      if (n > d.digits.size()) intPart.append(n - d.digits.size(), '0');
      if (n < d.digits.size()) frac = d.digits.substr(n);
    } else {
      intPart = "0";
      frac.assign(static_cast<size_t>(-d.exp - 1), '0');
      frac += d.digits;
    }
  } else {
    // The decimals limit the digits: one rounding at the last decimal place.
    char buf[128];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed, decimals);
    std::string_view t(buf, static_cast<size_t>(r.ptr - buf));
    size_t dot = t.find('.');
    intPart = std::string(t.substr(0, dot));
    if (dot != std::string_view::npos) frac = std::string(t.substr(dot + 1));
  }
  if (trim) {
    while (!frac.empty() && frac.back() == '0')
      frac.pop_back();
  } else {
    frac.resize(static_cast<size_t>(decimals), '0');
  }
  std::string out = frac.empty() ? intPart : intPart + "." + frac;
  if (negative && !AllZero(out)) out.insert(out.begin(), '-');
  return out;
}

std::string GroupThousands(const std::string& fixed) {
  size_t start = fixed[0] == '-' ? 1 : 0;
  size_t dot = fixed.find('.');
  size_t end = dot == std::string::npos ? fixed.size() : dot;
  std::string out = fixed.substr(0, start);
  for (size_t i = start; i < end; ++i) {
    out += fixed[i];
    size_t left = end - i - 1;
    if (left > 0 && left % 3 == 0) out += ',';
  }
  out += fixed.substr(end);
  return out;
}

std::string ExponentText(double v, int precision, int digits) {
  CheckFinite(v);
  Decimal d;
  if (v == 0) {
    d.digits.assign(static_cast<size_t>(precision), '0');
  } else {
    d = Scientific(v, precision);
  }
  std::string out;
  if (d.negative && !AllZero(d.digits)) out += '-';
  out += d.digits[0];
  if (d.digits.size() > 1) out += "." + d.digits.substr(1);
  out += d.exp < 0 ? "E-" : "E+";
  std::string e = std::to_string(std::abs(d.exp));
  if (static_cast<int>(e.size()) < digits) e.insert(0, static_cast<size_t>(digits) - e.size(), '0');
  return out + e;
}

}  // namespace

std::string FloatToStrDot(double value) {
  return FixedText(value, 15, 15, true);
}

std::string FloatToStrFDot(double value, TFloatFormat format, int precision, int digits) {
  precision = std::clamp(precision, 1, 17);
  switch (format) {
    case ffExponent:
      return ExponentText(value, precision, std::clamp(digits, 0, 4));
    case ffFixed:
      return FixedText(value, precision, std::clamp(digits, 0, 18), false);
    case ffNumber:
      return GroupThousands(FixedText(value, precision, std::clamp(digits, 0, 18), false));
    case ffGeneral:
    default:
      return FixedText(value, precision, 15, true);
  }
}

std::string RealToPDFText(double value) {
  return FixedText(value, 10, 10, false);
}

bool TryStrToFloatDot(std::string_view text, double& value) {
  std::string t = rtl::Trim(text);
  std::string_view s = t;
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  }
  if (s.empty()) return false;
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

double StrToFloatDot(std::string_view text) {
  double v = 0;
  if (!TryStrToFloatDot(text, v))
    throw rtl::EConvertError(rtl::Format("'%s' is not a valid floating point value", text));
  return v;
}

// ---- PDF literal strings ----

std::string EscapePDFString(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  for (char c : s) {
    switch (c) {
      case 8:
        out += "\\b";
        break;
      case 10:
        out += "\\n";
        break;
      case 12:
        out += "\\f";
        break;
      case 13:
        out += "\\r";
        break;
      case '(':
        out += "\\(";
        break;
      case ')':
        out += "\\)";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

// Calls put(byte) for each byte of the unescaped text while it returns true.
template <class Put>
void Unescape(std::string_view s, Put put) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    char c = s[i++];
    if (c != '\\') {
      if (!put(c)) return;
      continue;
    }
    if (i >= n) return;  // a backslash at the very end is dropped
    char d = s[i];
    char out = 0;
    bool have = true;
    switch (d) {
      case 'n':
        out = '\n';
        ++i;
        break;
      case 'r':
        out = '\r';
        ++i;
        break;
      case 't':
        out = '\t';
        ++i;
        break;
      case 'b':
        out = '\b';
        ++i;
        break;
      case 'f':
        out = '\f';
        ++i;
        break;
      case '(':
      case ')':
      case '\\':
        out = d;
        ++i;
        break;
      case '\r':  // line continuation: the backslash and the end of line go
        ++i;
        if (i < n && s[i] == '\n') ++i;
        have = false;
        break;
      case '\n':
        ++i;
        have = false;
        break;
      default:
        if (d >= '0' && d <= '7') {
          unsigned v = 0;
          for (int k = 0; k < 3 && i < n && s[i] >= '0' && s[i] <= '7'; ++k, ++i)
            v = v * 8 + static_cast<unsigned>(s[i] - '0');
          out = static_cast<char>(v & 0xFF);
        } else {
          have = false;  // no escape: the backslash is dropped, the byte is read normally
        }
    }
    if (have && !put(out)) return;
  }
}

}  // namespace

std::string UnescapePDFString(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  Unescape(s, [&](char c) {
    out += c;
    return true;
  });
  return out;
}

size_t UnescapePDFBytes(std::string_view s, std::span<uint8_t> buf) {
  size_t n = 0;
  if (buf.empty()) return 0;
  Unescape(s, [&](char c) {
    buf[n++] = static_cast<uint8_t>(c);
    return n < buf.size();
  });
  return n;
}

// ---- Hexadecimal and octal ----

std::string StrToHex(std::string_view s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool IsHexText(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return IsHexDigit(c); });
}

int HexToByte(std::string_view s, uint8_t& b) {
  b = 0;
  if (!IsHexText(s)) return -1;
  unsigned v = 0;
  for (char c : s)
    v = ((v << 4) | static_cast<unsigned>(HexDigitValue(c))) & 0xFF;
  b = static_cast<uint8_t>(v);
  return 0;
}

namespace {
template <class Out>
void PairHexDigits(std::string_view s, Out& out) {
  int high = -1;
  for (char c : s) {
    int v = HexDigitValue(c);
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<typename Out::value_type>((high << 4) | v));
      high = -1;
    }
  }
  if (high >= 0) out.push_back(static_cast<typename Out::value_type>(high << 4));
}
}  // namespace

std::string HexToStr(std::string_view s) {
  std::string out;
  out.reserve(s.size() / 2 + 1);
  PairHexDigits(s, out);
  return out;
}

std::vector<uint8_t> HexToBytes(std::string_view s) {
  std::vector<uint8_t> out;
  out.reserve(s.size() / 2 + 1);
  PairHexDigits(s, out);
  return out;
}

bool IsOctalText(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return IsOctalDigit(c); });
}

void OctalToByte(std::string_view s, uint8_t& b) {
  b = 0;
  if (!IsOctalText(s)) return;
  unsigned v = 0;
  for (char c : s)
    v = ((v << 3) | static_cast<unsigned>(c - '0')) & 0xFF;
  b = static_cast<uint8_t>(v);
}

// ---- Text ----

std::string WideLeftStr(std::string_view s, int64_t count) {
  if (count <= 0) return {};
  std::u16string w = platform::AnsiToWide(s);
  return platform::WideToAnsi(std::u16string_view(w).substr(0, static_cast<size_t>(count)));
}

std::string WideRightStr(std::string_view s, int64_t count) {
  if (count <= 0) return {};
  std::u16string w = platform::AnsiToWide(s);
  size_t n = std::min(w.size(), static_cast<size_t>(count));
  return platform::WideToAnsi(std::u16string_view(w).substr(w.size() - n));
}

std::string WideMidStr(std::string_view s, int64_t start, int64_t count) {
  if (count <= 0) return {};
  std::u16string w = platform::AnsiToWide(s);
  if (start < 1) {
    // Units before the first one are counted but not there.
    if (count <= 1 - start) return {};
    count -= 1 - start;
    start = 1;
  }
  if (static_cast<uint64_t>(start) > w.size()) return {};
  return platform::WideToAnsi(
      std::u16string_view(w).substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

int64_t PosEx(std::string_view sub, std::string_view s, int64_t offset) {
  if (sub.empty() || offset < 1 || sub.size() > s.size()) return 0;
  if (offset > static_cast<int64_t>(s.size() - sub.size()) + 1) return 0;
  size_t p = s.find(sub, static_cast<size_t>(offset - 1));
  return p == std::string_view::npos ? 0 : static_cast<int64_t>(p) + 1;
}

bool TryStrToInt(std::string_view s, int32_t& value) {
  return rtl::TryStrToInt(s, value);
}

char16_t WideUpperChar(char16_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return static_cast<char16_t>(c & ~1u);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1) ? c : static_cast<char16_t>(c - 1);
  if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB))
    return static_cast<char16_t>(c - 32);
  if (c == 0x3C2) return 0x3A3;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 37);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 63);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 32);
  return c;
}

std::u16string WideUpperCase(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out)
    c = WideUpperChar(c);
  return out;
}

std::u16string WideReplaceText(std::u16string_view s, std::u16string_view oldPattern,
                               std::u16string_view newPattern) {
  if (s.empty()) return {};
  if (oldPattern.empty()) return std::u16string(s);
  // The upper-case mapping keeps every unit in place, so positions agree between the forms.
  std::u16string us = WideUpperCase(s), up = WideUpperCase(oldPattern);
  std::u16string out;
  size_t from = 0;
  for (;;) {
    size_t p = us.find(up, from);
    if (p == std::u16string::npos) break;
    out.append(s.substr(from, p - from));
    out.append(newPattern);
    from = p + up.size();
  }
  out.append(s.substr(from));
  return out;
}

bool ContainsText(std::string_view text, std::string_view sub) {
  if (sub.empty()) return false;
  std::u16string t = WideUpperCase(platform::AnsiToWide(text));
  std::u16string u = WideUpperCase(platform::AnsiToWide(sub));
  return t.find(u) != std::u16string::npos;
}

int64_t SearchBuf(const uint8_t* buf, int64_t bufLen, int64_t selStart, int64_t selLength,
                  std::string_view search, uint32_t options) {
  // Numbers beyond this bound are no real buffer or selection; refusing them keeps every sum
  // below in range.
  constexpr int64_t kBound = int64_t{1} << 60;
  const int64_t len = static_cast<int64_t>(search.size());
  if (!buf || bufLen <= 0 || len == 0) return -1;
  if (bufLen > kBound || len > kBound || selStart < -kBound || selStart > kBound ||
      selLength < -kBound || selLength > kBound)
    return -1;
  const bool down = (options & soDown) != 0;
  const bool wholeWord = (options & soWholeWord) != 0;
  const int64_t dir = down ? 1 : -1;
  int64_t start, count;
  if (down) {
    start = selStart + selLength;
    count = bufLen - start - len + 1;
    if (count < 0 || bufLen < start + count) return -1;
  } else {
    start = selStart - len;
    count = start + 1;
  }
  if (start < 0 || start > bufLen) return -1;

  auto delimiter = [&](int64_t i) { return i < 0 || i >= bufLen || IsWordDelimiter(buf[i]); };
  auto matchesAt = [&](int64_t p) {
    if (p < 0 || p > bufLen - len) return false;
    return std::equal(search.begin(), search.end(), buf + p,
                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
  };
  // Moves p to the start of the next word in the search direction; false when none is left.
  auto nextWordStart = [&](int64_t& p) {
    while (count > 0 && (down != delimiter(p))) {
      p += dir;
      --count;
    }
    while (count > 0 && (down == delimiter(p))) {
      p += dir;
      --count;
    }
    if (!down) {
      // Back onto the first byte of the word; the start of the buffer counts as a delimiter, so
      // a word that begins the buffer is found too.
      p -= dir;
      ++count;
    }
    return count > 0;
  };

  int64_t p = start;
  while (count > 0) {
    if (wholeWord && p != start && !nextWordStart(p)) return -1;
    if (matchesAt(p) && (!wholeWord || count == 0 || delimiter(p + len))) return p;
    p += dir;
    --count;
  }
  return -1;
}

// ---- Colours ----

void ResolveSysColor(TColor& color) {
  if ((color >> 24) == 0xFF) color = SysColorValue(color & 0xFFFFFF);
}

std::string ColorToPDFRGB(TColor color) {
  ResolveSysColor(color);
  auto part = [](uint32_t c) { return FloatToStrFDot((c & 0xFF) / 255.0, ffFixed, 15, 4); };
  return part(color) + " " + part(color >> 8) + " " + part(color >> 16);
}

// ---- Fonts ----

void GetFontCharsets(std::string_view faceName, std::vector<uint8_t>& list) {
  for (uint8_t charset : platform::FontFamilyCharsets(platform::AnsiToUtf8(faceName))) {
    bool accepted = std::find(AcceptedFontCharsets.begin(), AcceptedFontCharsets.end(), charset) !=
                    AcceptedFontCharsets.end();
    if (accepted && std::find(list.begin(), list.end(), charset) == list.end())
      list.push_back(charset);
  }
}

void GetTextExtent(std::u16string_view text, const ui::TFont& font, int32_t& width,
                   int32_t& height) {
  GetTextExtent(text, ui::CreateFontFace(font).get(), width, height);
}

void GetTextExtent(std::u16string_view text, const platform::FontFace* face, int32_t& width,
                   int32_t& height) {
  width = 0;
  height = 0;
  if (!face) return;
  width = face->TextWidth(text);
  height = face->Metrics().height;
}

std::u16string DecodeFontText(std::string_view text, uint8_t charset) {
  if (charset != ui::SYMBOL_CHARSET)
    return platform::MultiByteToWide(platform::CodePageOfCharset(charset), text);
  std::u16string wide;
  for (char c : text)
    wide += static_cast<char16_t>(static_cast<uint8_t>(c));
  return wide;
}

std::string EncodeFontText(std::u16string_view text, uint8_t charset) {
  if (charset != ui::SYMBOL_CHARSET)
    return platform::WideToMultiByte(platform::CodePageOfCharset(charset), text);
  std::string bytes;
  for (char16_t c : text)
    bytes += static_cast<char>(c & 0xFF);
  return bytes;
}

void GetTextExtent(std::string_view text, const ui::TFont& font, int32_t& width, int32_t& height) {
  GetTextExtent(std::u16string_view(DecodeFontText(text, font.Charset())), font, width, height);
}

// ---- Units ----

double DegToRad(double x) {
  return x * std::numbers::pi / 180.0;
}
void CosSinDeg(double degrees, double& c, double& s) {
  const double d = std::fmod(degrees, 360.0);
  if (std::fmod(d, 90.0) == 0) {
    static constexpr double kCos[4] = {1, 0, -1, 0};
    const int quarter = static_cast<int>(d < 0 ? d + 360 : d) / 90 % 4;
    c = kCos[quarter];
    s = kCos[(quarter + 3) % 4];
    return;
  }
  c = std::cos(DegToRad(d));
  s = std::sin(DegToRad(d));
}
double PixelsToPoints(double x) {
  return x / ScreenPixelsPerInch() * 72.0;
}
double PointsToPixels(double x) {
  return x * ScreenScale();
}

// ---- Pseudo-random numbers ----

namespace {
struct RandomState {
  std::mutex lock;
  std::mt19937 engine;
  std::function<int32_t(int32_t)> source;
};
RandomState& Rng() {
  static RandomState state;
  return state;
}
}  // namespace

void Randomize() {
  RandomState& r = Rng();
  std::lock_guard<std::mutex> g(r.lock);
  auto t = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  r.engine.seed(static_cast<std::mt19937::result_type>(t ^ (t >> 32)));
}

int32_t Random(int32_t range) {
  if (range < 1) return 0;
  RandomState& r = Rng();
  std::function<int32_t(int32_t)> source;
  {
    std::lock_guard<std::mutex> g(r.lock);
    if (!r.source) return std::uniform_int_distribution<int32_t>(0, range - 1)(r.engine);
    source = r.source;
  }
  int32_t v = source(range);
  return v < 0 || v >= range ? 0 : v;
}

void SetRandomSource(std::function<int32_t(int32_t range)> source) {
  RandomState& r = Rng();
  std::lock_guard<std::mutex> g(r.lock);
  r.source = std::move(source);
}
