// The small part of the class library that the system's code is written against: the exception
// root and its common children, message formatting and number and file-name texts.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace rtl {

// Root of every exception the system raises; it carries one message (bytes in the ANSI code page).
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A text that is not a number of the kind asked for.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An object of another kind than the code expected.
class EInvalidCast : public Exception {
 public:
  EInvalidCast() : Exception("Invalid class typecast") {}
  using Exception::Exception;
};

// An index outside a list.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// Stream errors of the class library.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// Input/output errors of text files.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// One argument of Format: a signed integer, an unsigned integer, a floating-point number or a text.
using FormatArg = std::variant<int64_t, uint64_t, double, std::string>;

// Formats like the class library's Format: %s, %d, %u, %x, %X, %f, %g and %%, with optional
// flags ("-", "0"), width and precision ("%.10d", "%1.4f", "%5s"). A missing argument or one of
// the wrong kind raises EConvertError.
std::string FormatV(std::string_view format, const std::vector<FormatArg>& args);

namespace detail {
inline FormatArg ToFormatArg(const std::string& s) {
  return s;
}
inline FormatArg ToFormatArg(std::string_view s) {
  return std::string(s);
}
inline FormatArg ToFormatArg(const char* s) {
  return std::string(s ? s : "");
}
inline FormatArg ToFormatArg(double d) {
  return d;
}
inline FormatArg ToFormatArg(float d) {
  return static_cast<double>(d);
}
template <typename T>
requires std::is_integral_v<T> FormatArg ToFormatArg(T v) {
  if constexpr (std::is_signed_v<T>)
    return static_cast<int64_t>(v);
  else
    return static_cast<uint64_t>(v);
}
}  // namespace detail

template <typename... Args>
std::string Format(std::string_view format, const Args&... args) {
  return FormatV(format, std::vector<FormatArg>{detail::ToFormatArg(args)...});
}

// Decimal texts of integers.
std::string IntToStr(int64_t value);
// Decimal (optionally signed) or "$"-hexadecimal text to a 32-bit integer; EConvertError
// "'%s' is not a valid integer value" when the whole text is not such a number.
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t def);
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToInt64(std::string_view text, int64_t& value);

// Blanks and control characters (bytes <= 32) removed from both ends, the start or the end.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
// ASCII letters only; other bytes (also double-byte characters) are unchanged.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);

// File-name parts with "/" as the path delimiter.
std::string ExtractFileExt(
    std::string_view path);  // from the last "." of the name part, dot included
std::string ExtractFileName(std::string_view path);  // the part after the last "/"
std::string ExtractFilePath(std::string_view path);  // up to and including the last "/"
std::string ChangeFileExt(std::string_view path, std::string_view ext);
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);

}  // namespace rtl
