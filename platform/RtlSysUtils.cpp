#include "platform/RtlSysUtils.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace rtl {

namespace {

struct Spec {
  bool left = false;
  bool zero = false;
  int width = -1;
  int precision = -1;
  char conv = 0;
};

std::string Pad(std::string body, const Spec& spec) {
  if (spec.width < 0 || static_cast<int>(body.size()) >= spec.width) return body;
  size_t fill = static_cast<size_t>(spec.width) - body.size();
  if (spec.left) return body + std::string(fill, ' ');
  if (spec.zero && spec.conv != 's') {
    size_t signPos = (!body.empty() && (body[0] == '-' || body[0] == '+')) ? 1 : 0;
    return body.insert(signPos, std::string(fill, '0'));
  }
  return std::string(fill, ' ') + body;
}

std::string FormatInteger(const FormatArg& arg, const Spec& spec) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (const auto* i = std::get_if<int64_t>(&arg)) {
    negative = *i < 0;
    magnitude =
        negative ? static_cast<uint64_t>(0) - static_cast<uint64_t>(*i) : static_cast<uint64_t>(*i);
  } else if (const auto* u = std::get_if<uint64_t>(&arg)) {
    magnitude = *u;
  } else {
    throw EConvertError("Format: argument is not an integer");
  }
  int base = (spec.conv == 'x' || spec.conv == 'X') ? 16 : 10;
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, magnitude, base);
  std::string digits(buf, res.ptr);
  if (spec.conv == 'X')
    for (char& c : digits)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (spec.precision > 0 && static_cast<int>(digits.size()) < spec.precision)
    digits.insert(0, static_cast<size_t>(spec.precision) - digits.size(), '0');
  if (negative) digits.insert(0, 1, '-');
  return Pad(digits, spec);
}

std::string FormatFloat(const FormatArg& arg, const Spec& spec) {
  double v;
  if (const auto* d = std::get_if<double>(&arg))
    v = *d;
  else if (const auto* i = std::get_if<int64_t>(&arg))
    v = static_cast<double>(*i);
  else if (const auto* u = std::get_if<uint64_t>(&arg))
    v = static_cast<double>(*u);
  else
    throw EConvertError("Format: argument is not a number");
  if (!std::isfinite(v)) throw EConvertError("Format: number is not finite");
  char buf[512];
  std::to_chars_result res;
  if (spec.conv == 'f') {
    int prec = spec.precision < 0 ? 2 : std::min(spec.precision, 60);
    res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, prec);
  } else {
    int prec = spec.precision < 0 ? 15 : std::max(1, std::min(spec.precision, 17));
    res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, prec);
  }
  if (res.ec != std::errc()) throw EConvertError("Format: number too large");
  return Pad(std::string(buf, res.ptr), spec);
}

bool ParseInt64(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i >= text.size()) return false;
  int base = 10;
  if (text[i] == '$') {
    base = 16;
    ++i;
  } else if (text.size() > i + 1 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t magnitude = 0;
  auto res = std::from_chars(text.data() + i, text.data() + text.size(), magnitude, base);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return false;
  if (negative) {
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return false;
    value = magnitude == static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1
                ? std::numeric_limits<int64_t>::min()
                : -static_cast<int64_t>(magnitude);
  } else {
    if (base == 10 && magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
      return false;
    value = static_cast<int64_t>(magnitude);  // hexadecimal texts may fill all 64 bits
  }
  return true;
}

std::string NotAnInteger(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

}  // namespace

std::string FormatV(std::string_view format, const std::vector<FormatArg>& args) {
  std::string out;
  out.reserve(format.size() + 16);
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    Spec spec;
    size_t j = i + 1;
    for (; j < format.size(); ++j) {
      if (format[j] == '-')
        spec.left = true;
      else if (format[j] == '0')
        spec.zero = true;
      else
        break;
    }
    auto readNumber = [&](int& target) {
      int n = 0;
      bool any = false;
      while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
        n = std::min(n * 10 + (format[j] - '0'), 1000);
        ++j;
        any = true;
      }
      if (any) target = n;
    };
    readNumber(spec.width);
    if (j < format.size() && format[j] == '.') {
      ++j;
      spec.precision = 0;
      readNumber(spec.precision);
    }
    if (j >= format.size()) throw EConvertError("Format '" + std::string(format) + "' invalid");
    spec.conv = format[j];
    if (next >= args.size())
      throw EConvertError("Format '" + std::string(format) +
                          "' invalid or incompatible with argument");
    const FormatArg& arg = args[next++];
    switch (spec.conv) {
      case 's': {
        const auto* s = std::get_if<std::string>(&arg);
        if (!s) throw EConvertError("Format: argument is not a string");
        std::string body =
            spec.precision >= 0 ? s->substr(0, static_cast<size_t>(spec.precision)) : *s;
        out += Pad(body, spec);
        break;
      }
      case 'd':
      case 'u':
      case 'x':
      case 'X':
        out += FormatInteger(arg, spec);
        break;
      case 'f':
      case 'g':
        out += FormatFloat(arg, spec);
        break;
      default:
        throw EConvertError("Format '" + std::string(format) + "' invalid");
    }
    i = j;
  }
  return out;
}

std::string IntToStr(int64_t value) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  return ParseInt64(text, value);
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  int64_t v;
  if (!ParseInt64(text, v)) return false;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    // "$FFFFFFFF" style texts fill the 32 bits
    if (text.find('$') != std::string_view::npos && v >= 0 && v <= 0xFFFFFFFFLL) {
      value = static_cast<int32_t>(static_cast<uint32_t>(v));
      return true;
    }
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t v;
  if (!TryStrToInt(text, v)) throw EConvertError(NotAnInteger(text));
  return v;
}

int64_t StrToInt64(std::string_view text) {
  int64_t v;
  if (!ParseInt64(text, v)) throw EConvertError(NotAnInteger(text));
  return v;
}

int32_t StrToIntDef(std::string_view text, int32_t def) {
  int32_t v;
  return TryStrToInt(text, v) ? v : def;
}

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && static_cast<unsigned char>(s[b]) <= ' ')
    ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= ' ')
    --e;
  return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) {
  return TrimRight(TrimLeft(s));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  return LowerCase(a) == LowerCase(b);
}

std::string ExtractFileName(std::string_view path) {
  size_t p = path.rfind('/');
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string ExtractFilePath(std::string_view path) {
  size_t p = path.rfind('/');
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string ExtractFileExt(std::string_view path) {
  std::string name = ExtractFileName(path);
  size_t p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  std::string dir = ExtractFilePath(path);
  std::string name = ExtractFileName(path);
  size_t p = name.rfind('.');
  if (p != std::string::npos) name.resize(p);
  return dir + name + std::string(ext);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (r.empty() || r.back() != '/') r += '/';
  return r;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

}  // namespace rtl
