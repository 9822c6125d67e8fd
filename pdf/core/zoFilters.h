// The stream filters of PDF: ASCIIHex, ASCII85, Flate, RunLength (decode and encode) and LZW
// (decode). Each filter works on a whole string or stream at once; every stream it returns is a
// new memory stream that the caller owns.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/core/zoDZLIB.h"
#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"

// ---- Errors ----

// The filters' own errors. Their texts are fixed (not from the message table).
class EFilterError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

inline constexpr const char* SEndOfDataMarkerWrong = "EndOfData marker is wrong";
inline constexpr const char* SIllegalCharacter = "Illeagal character within stream";
inline constexpr const char* SZInappropriatePosition = "\"z\" found at inappropriate position";
inline constexpr const char* SSingleFinalCharacter = "Single Final Character";
inline constexpr const char* SASCII85GroupOutOfRange = "ASCII85 group out of range";
inline constexpr const char* SRLEEndOfDataMarkerWrong = "EndOfData Marker is wrong";
inline constexpr const char* SUnexpectedEndOfFile = "Unexpected EndOfFile found";
inline constexpr const char* SPrematureEndOfData = "Premature EndOfData Marker found";
inline constexpr const char* SInvalidLZWCode = "Invalid LZW code (%d)";
// Decoded data past DecodedSizeLimit (zoDZLIB) raise EFilterError SDecodedSizeLimit; Flate data
// raise EZDecompressionError with the same text.

using TzoByteSpan = std::span<const uint8_t>;

inline TzoByteSpan BytesOf(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// ---- TzoFilter ----

// Base of the filters. A filter has no state worth keeping: create, call, free. The forms without
// a level of EncodeStream / EncodeString, and both forms with one, answer null / "" here.
// Streams given to a filter are read whole from position 0.
class TzoFilter : public rtl::TObject {
 public:
  TzoFilter() = default;
  TzoFilter(const TzoFilter&) = delete;
  TzoFilter& operator=(const TzoFilter&) = delete;

  virtual std::unique_ptr<rtl::TMemoryStream> EncodeStream(rtl::TStream& stream,
                                                           TCompressionLevel level);
  virtual void EncodeString(std::string_view s, TCompressionLevel level, std::string& out);
  virtual std::unique_ptr<rtl::TMemoryStream> EncodeStream(rtl::TStream& stream);
  virtual void EncodeString(std::string_view s, std::string& out);
  virtual std::unique_ptr<rtl::TMemoryStream> DecodeStream(rtl::TStream& stream) = 0;
  virtual void DecodeString(std::string_view s, std::string& out) = 0;
};

// The bytes of a whole stream: its memory when it is a plain memory stream, else a copy in
// scratch.
TzoByteSpan StreamBytes(rtl::TStream& stream, std::vector<uint8_t>& scratch);

// ---- ASCIIHex ----

// Decoding: the data must end with '>' (else SEndOfDataMarkerWrong); PDF white space is skipped,
// the first '>' ends the data, any other non-hex-digit raises SIllegalCharacter; an odd last digit
// counts as followed by 0. Encoding: two upper-case digits per byte, then '>'. The stream that
// DecodeStream / EncodeStream return stands at its end.
class TzoAsciiHexFilter : public TzoFilter {
 public:
  using TzoFilter::EncodeStream;
  using TzoFilter::EncodeString;
  std::unique_ptr<rtl::TMemoryStream> EncodeStream(rtl::TStream& stream) override;
  void EncodeString(std::string_view s, std::string& out) override;
  std::unique_ptr<rtl::TMemoryStream> DecodeStream(rtl::TStream& stream) override;
  void DecodeString(std::string_view s, std::string& out) override;

  // The decoding core (out is replaced; it must not overlap in). With requireEndMarker false a
  // missing final '>' is taken as given.
  static void Decode(TzoByteSpan in, std::string& out, bool requireEndMarker = true);
  static void Decode(TzoByteSpan in, std::vector<uint8_t>& out, bool requireEndMarker = true);
};

// ---- ASCII85 ----

// Decoding: the data must end with "~>" (else SEndOfDataMarkerWrong); PDF white space is
// skipped; 'z' stands for four zero bytes between groups (SZInappropriatePosition inside one);
// bytes outside '!'..'u' raise SIllegalCharacter; a group above 2^32 - 1 raises
// SASCII85GroupOutOfRange; a final group of one character raises SSingleFinalCharacter.
// Encoding: 'z' for a zero group, "~>" at the end, no line breaks. Streams returned stand at
// their end.
class TzoAscii85Filter : public TzoFilter {
 public:
  using TzoFilter::EncodeStream;
  using TzoFilter::EncodeString;
  std::unique_ptr<rtl::TMemoryStream> EncodeStream(rtl::TStream& stream) override;
  void EncodeString(std::string_view s, std::string& out) override;
  std::unique_ptr<rtl::TMemoryStream> DecodeStream(rtl::TStream& stream) override;
  void DecodeString(std::string_view s, std::string& out) override;

  // The cores of both directions (out is replaced; it must not overlap in).
  static void Decode(TzoByteSpan in, std::string& out);
  static void Decode(TzoByteSpan in, std::vector<uint8_t>& out);
  static void Encode(TzoByteSpan in, std::string& out);
};

// ---- Flate ----

// Decoding through TDecompressionStream: damaged data raise EZDecompressionError, data that end
// early give the bytes decoded so far. Encoding through TCompressionStream with a level (the only
// filter that takes one). Streams returned stand at position 0.
class TzoFlateFilter : public TzoFilter {
 public:
  using TzoFilter::EncodeStream;
  using TzoFilter::EncodeString;
  std::unique_ptr<rtl::TMemoryStream> EncodeStream(rtl::TStream& stream,
                                                   TCompressionLevel level) override;
  void EncodeString(std::string_view s, TCompressionLevel level, std::string& out) override;
  std::unique_ptr<rtl::TMemoryStream> DecodeStream(rtl::TStream& stream) override;
  void DecodeString(std::string_view s, std::string& out) override;

  static void Decode(TzoByteSpan in, std::string& out);
  static void Decode(TzoByteSpan in, std::vector<uint8_t>& out);
};

// ---- RunLength ----

// Decoding: the data must end with the byte 128 (else SRLEEndOfDataMarkerWrong); a length byte
// below 128 copies that many + 1 bytes, above 128 repeats the next byte 257 - length times; a run
// that reaches the final marker raises SUnexpectedEndOfFile, a 128 before it
// SPrematureEndOfData. Encoding: the library's own choice of runs, then 128. Streams returned
// stand at position 0.
class TzoRLEFilter : public TzoFilter {
 public:
  using TzoFilter::EncodeStream;
  using TzoFilter::EncodeString;
  std::unique_ptr<rtl::TMemoryStream> EncodeStream(rtl::TStream& stream) override;
  void EncodeString(std::string_view s, std::string& out) override;
  std::unique_ptr<rtl::TMemoryStream> DecodeStream(rtl::TStream& stream) override;
  void DecodeString(std::string_view s, std::string& out) override;

  static void Decode(TzoByteSpan in, std::string& out);
  static void Decode(TzoByteSpan in, std::vector<uint8_t>& out);
  static void Encode(TzoByteSpan in, std::string& out);
};

// ---- LZW ----

// Decoding only, as the PDF standard has it: codes of 9 to 12 bits, most significant bit first;
// 256 clears the table, 257 ends the data; the width grows one code early (EarlyChange 1, the
// default) or when the table is full to the width (EarlyChange 0); no entry is added past 4095.
// A code beyond the next free one raises SInvalidLZWCode. The data also end when the bits run
// out. The stream DecodeStream returns stands at its end.
class TzoLZWFilter : public TzoFilter {
 public:
  TzoLZWFilter() = default;
  explicit TzoLZWFilter(int32_t earlyChange) : earlyChange_(earlyChange != 0 ? 1 : 0) {}

  std::unique_ptr<rtl::TMemoryStream> DecodeStream(rtl::TStream& stream) override;
  void DecodeString(std::string_view s, std::string& out) override;

  // 1 or 0 (any value other than 0 counts as 1).
  int32_t EarlyChange() const { return earlyChange_; }
  void SetEarlyChange(int32_t v) { earlyChange_ = v != 0 ? 1 : 0; }

  static void Decode(TzoByteSpan in, std::string& out, int32_t earlyChange = 1);
  static void Decode(TzoByteSpan in, std::vector<uint8_t>& out, int32_t earlyChange = 1);

 private:
  int32_t earlyChange_ = 1;
};
