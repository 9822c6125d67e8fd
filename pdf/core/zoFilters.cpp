#include "pdf/core/zoFilters.h"

#include <algorithm>
#include <array>
#include <limits>
#include <typeinfo>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoConsts.h"

namespace {

// ---- Output helpers (std::string and std::vector<uint8_t>) ----

template <class Out>
void Put(Out& out, uint8_t b) {
  out.push_back(static_cast<typename Out::value_type>(b));
}

template <class Out>
void PutBytes(Out& out, const uint8_t* p, size_t n) {
  out.insert(out.end(), p, p + n);
}

template <class Out>
void PutRepeated(Out& out, size_t n, uint8_t b) {
  out.insert(out.end(), n, static_cast<typename Out::value_type>(b));
}

// Raises when the output would grow to more than the decoded-size limit.
void CheckDecodedSize(size_t size) {
  int64_t limit = DecodedSizeLimit();
  if (static_cast<uint64_t>(size) > static_cast<uint64_t>(limit))
    throw EFilterError(rtl::Format(SDecodedSizeLimit, limit));
}

std::unique_ptr<rtl::TMemoryStream> StreamOf(std::vector<uint8_t>&& bytes, bool atEnd) {
  auto ms = std::make_unique<rtl::TMemoryStream>();
  ms->Buffer().swap(bytes);
  ms->SetPosition(atEnd ? ms->Size() : 0);
  return ms;
}

std::unique_ptr<rtl::TMemoryStream> StreamOf(const std::string& bytes, bool atEnd) {
  auto ms = std::make_unique<rtl::TMemoryStream>(bytes);
  ms->SetPosition(atEnd ? ms->Size() : 0);
  return ms;
}

// A read-only stream over bytes that somebody else holds.
class TSpanStream : public rtl::TStream {
 public:
  explicit TSpanStream(TzoByteSpan bytes) : bytes_(bytes) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t size = Size();
    if (count <= 0 || pos_ >= size) return 0;
    int64_t n = std::min(count, size - pos_);
    std::copy_n(bytes_.data() + pos_, n, static_cast<uint8_t*>(buffer));
    pos_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { throw rtl::EWriteError("Stream write error"); }
  int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override {
    int64_t base = origin == rtl::TSeekOrigin::soBeginning ? 0
                   : origin == rtl::TSeekOrigin::soCurrent ? pos_
                                                           : Size();
    int64_t p = base + std::clamp<int64_t>(offset, -base, Size() - base);
    pos_ = p;
    return pos_;
  }
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

 private:
  TzoByteSpan bytes_;
  int64_t pos_ = 0;
};

// ---- ASCIIHex ----

template <class Out>
void AsciiHexDecode(TzoByteSpan in, Out& out, bool requireEndMarker) {
  const size_t n = in.size();
  if (requireEndMarker && (n == 0 || in[n - 1] != '>')) throw EFilterError(SEndOfDataMarkerWrong);
  out.clear();
  out.resize(n / 2 + 1);
  auto* dst = reinterpret_cast<uint8_t*>(out.data());
  size_t j = 0;
  int high = -1;
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = in[i];
    int v = HexDigitValue(static_cast<char>(b));
    if (v < 0) {
      if (IsPDFWhiteSpace(b)) continue;
      if (b == '>') break;
      throw EFilterError(SIllegalCharacter);
    }
    if (high < 0) {
      high = v;
    } else {
      dst[j++] = static_cast<uint8_t>((high << 4) | v);
      high = -1;
    }
  }
  if (high >= 0) dst[j++] = static_cast<uint8_t>(high << 4);
  out.resize(j);
}

void AsciiHexEncode(TzoByteSpan in, std::string& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.clear();
  out.resize(in.size() * 2 + 1);
  size_t j = 0;
  for (uint8_t b : in) {
    out[j++] = kDigits[b >> 4];
    out[j++] = kDigits[b & 15];
  }
  out[j] = '>';
}

// ---- ASCII85 ----

template <class Out>
void Ascii85Decode(TzoByteSpan in, Out& out) {
  const size_t n = in.size();
  if (n < 2 || in[n - 2] != '~' || in[n - 1] != '>') throw EFilterError(SEndOfDataMarkerWrong);
  const size_t end = n - 2;
  out.clear();
  // Five characters give four bytes; only 'z' gives more (four for one), counted as it comes.
  out.resize(end / 5 * 4 + 4);
  size_t j = 0;
  auto room = [&](size_t k) {
    if (j + k > out.size()) {
      CheckDecodedSize(j + k);
      size_t limit = static_cast<size_t>(DecodedSizeLimit());
      out.resize(std::max(std::min(out.size() * 2, limit), j + k));
    }
    return reinterpret_cast<uint8_t*>(out.data()) + j;
  };
  auto putGroup = [&](uint32_t v, int count) {
    uint8_t* p = room(4);
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
    j += static_cast<size_t>(count);
  };
  uint64_t value = 0;
  int k = 0;
  for (size_t i = 0; i < end; ++i) {
    uint8_t b = in[i];
    if (b >= '!' && b <= 'u') {
      value = value * 85 + (b - '!');
      if (++k == 5) {
        if (value > 0xFFFFFFFFu) throw EFilterError(SASCII85GroupOutOfRange);
        putGroup(static_cast<uint32_t>(value), 4);
        value = 0;
        k = 0;
      }
    } else if (b == 'z') {
      if (k != 0) throw EFilterError(SZInappropriatePosition);
      CheckDecodedSize(j + 4);
      putGroup(0, 4);
    } else if (!IsPDFWhiteSpace(b)) {
      throw EFilterError(SIllegalCharacter);
    }
  }
  if (k == 1) throw EFilterError(SSingleFinalCharacter);
  if (k > 1) {
    // A final group of k characters is padded with 'u' and gives k - 1 bytes.
    for (int m = k; m < 5; ++m)
      value = value * 85 + 84;
    if (value > 0xFFFFFFFFu) throw EFilterError(SASCII85GroupOutOfRange);
    putGroup(static_cast<uint32_t>(value), k - 1);
  }
  out.resize(j);
}

void Ascii85EncodeGroup(uint32_t v, char digits[5]) {
  for (int i = 4; i >= 0; --i) {
    digits[i] = static_cast<char>('!' + v % 85);
    v /= 85;
  }
}

// ---- RunLength ----

template <class Out>
void RLEDecode(TzoByteSpan in, Out& out) {
  const size_t n = in.size();
  if (n == 0 || in[n - 1] != 128) throw EFilterError(SRLEEndOfDataMarkerWrong);
  const size_t last = n - 1;
  out.clear();
  out.reserve(std::min<size_t>(n * 2, static_cast<size_t>(DecodedSizeLimit())));
  size_t pos = 0;
  while (pos < last) {
    uint8_t len = in[pos++];
    if (len < 128) {
      size_t count = size_t{len} + 1;
      if (pos + count > last) throw EFilterError(SUnexpectedEndOfFile);
      CheckDecodedSize(out.size() + count);
      PutBytes(out, in.data() + pos, count);
      pos += count;
    } else if (len == 128) {
      throw EFilterError(SPrematureEndOfData);
    } else {
      if (pos >= last) throw EFilterError(SUnexpectedEndOfFile);
      size_t count = 257 - size_t{len};
      CheckDecodedSize(out.size() + count);
      PutRepeated(out, count, in[pos++]);
    }
  }
}

// ---- LZW ----

class TLZWTable {
 public:
  static constexpr int kClear = 256;
  static constexpr int kEnd = 257;
  static constexpr int kFirst = 258;
  static constexpr int kSize = 4096;

  TLZWTable() {
    for (int i = 0; i < 256; ++i) {
      prefix_[i] = 0;
      suffix_[i] = static_cast<uint8_t>(i);
      first_[i] = static_cast<uint8_t>(i);
      length_[i] = 1;
    }
  }

  template <class Out>
  void Decode(TzoByteSpan in, Out& out, int early) {
    out.clear();
    out.reserve(std::min<size_t>(in.size() * 3, static_cast<size_t>(DecodedSizeLimit())));
    int next = kFirst;
    int width = 9;
    int prev = -1;
    uint32_t acc = 0;
    int bits = 0;
    size_t pos = 0;
    const size_t n = in.size();
    for (;;) {
      while (bits < width && pos < n) {
        acc = (acc << 8) | in[pos++];
        bits += 8;
      }
      if (bits < width) break;  // the bits ran out
      bits -= width;
      int code = static_cast<int>((acc >> bits) & ((1u << width) - 1));
      if (code == kClear) {
        next = kFirst;
        width = 9;
        prev = -1;
        continue;
      }
      if (code == kEnd) break;
      if (prev < 0) {
        if (code > 255) throw EFilterError(rtl::Format(SInvalidLZWCode, code));
      } else {
        if (code > next) throw EFilterError(rtl::Format(SInvalidLZWCode, code));
        if (next < kSize) {
          // The new entry: the previous string plus the first byte of the current one (which,
          // for the code about to be defined, is the previous string's own first byte).
          prefix_[next] = static_cast<uint16_t>(prev);
          suffix_[next] = code < next ? first_[code] : first_[prev];
          first_[next] = first_[prev];
          length_[next] = static_cast<uint16_t>(length_[prev] + 1);
          ++next;
          if (next + early >= (1 << width) && width < 12) ++width;
        }
      }
      Emit(code, out);
      prev = code;
    }
  }

 private:
  template <class Out>
  void Emit(int code, Out& out) {
    size_t len = length_[code];
    size_t old = out.size();
    CheckDecodedSize(old + len);
    out.resize(old + len);
    auto* p = reinterpret_cast<uint8_t*>(out.data()) + old + len;
    for (;;) {
      *--p = suffix_[code];
      if (--len == 0) break;
      code = prefix_[code];
    }
  }

  std::array<uint16_t, kSize> prefix_;
  std::array<uint8_t, kSize> suffix_;
  std::array<uint8_t, kSize> first_;
  std::array<uint16_t, kSize> length_;
};

// ---- Flate ----

template <class Out>
void FlateDecode(TzoByteSpan in, Out& out) {
  TSpanStream source(in);
  TDecompressionStream z(&source);
  const int64_t limit = z.SizeLimit();
  out.clear();
  int64_t chunk = std::clamp<int64_t>(static_cast<int64_t>(in.size()) * 4, 16384, 1 << 22);
  for (;;) {
    int64_t old = static_cast<int64_t>(out.size());
    // Never room for more than one byte past the limit: the stream raises there.
    int64_t room = limit - old;
    if (room < std::numeric_limits<int64_t>::max()) ++room;
    int64_t want = std::max<int64_t>(1, std::min(chunk, room));
    out.resize(static_cast<size_t>(old + want));
    int64_t got = z.Read(reinterpret_cast<uint8_t*>(out.data()) + old, want);
    out.resize(static_cast<size_t>(old + got));
    if (got < want) break;
    chunk = std::min<int64_t>(chunk * 2, int64_t{1} << 26);
  }
}

}  // namespace

// ---- TzoFilter ----

std::unique_ptr<rtl::TMemoryStream> TzoFilter::EncodeStream(rtl::TStream&, TCompressionLevel) {
  return nullptr;
}
void TzoFilter::EncodeString(std::string_view, TCompressionLevel, std::string& out) {
  out.clear();
}
std::unique_ptr<rtl::TMemoryStream> TzoFilter::EncodeStream(rtl::TStream&) {
  return nullptr;
}
void TzoFilter::EncodeString(std::string_view, std::string& out) {
  out.clear();
}

TzoByteSpan StreamBytes(rtl::TStream& stream, std::vector<uint8_t>& scratch) {
  const std::type_info& t = typeid(stream);
  if (t == typeid(rtl::TMemoryStream) || t == typeid(TzoExtMemStream)) {
    auto& ms = static_cast<rtl::TMemoryStream&>(stream);
    return {ms.Memory(), static_cast<size_t>(ms.Size())};
  }
  stream.SetPosition(0);
  int64_t size = stream.Size();
  scratch.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  stream.SetPosition(0);
  stream.ReadBuffer(scratch.data(), static_cast<int64_t>(scratch.size()));
  return {scratch.data(), scratch.size()};
}

// ---- TzoAsciiHexFilter ----

void TzoAsciiHexFilter::Decode(TzoByteSpan in, std::string& out, bool requireEndMarker) {
  AsciiHexDecode(in, out, requireEndMarker);
}
void TzoAsciiHexFilter::Decode(TzoByteSpan in, std::vector<uint8_t>& out, bool requireEndMarker) {
  AsciiHexDecode(in, out, requireEndMarker);
}

std::unique_ptr<rtl::TMemoryStream> TzoAsciiHexFilter::EncodeStream(rtl::TStream& stream) {
  std::vector<uint8_t> scratch;
  std::string out;
  AsciiHexEncode(StreamBytes(stream, scratch), out);
  return StreamOf(out, true);
}
void TzoAsciiHexFilter::EncodeString(std::string_view s, std::string& out) {
  std::string result;
  AsciiHexEncode(BytesOf(s), result);
  out = std::move(result);
}
std::unique_ptr<rtl::TMemoryStream> TzoAsciiHexFilter::DecodeStream(rtl::TStream& stream) {
  std::vector<uint8_t> scratch, out;
  Decode(StreamBytes(stream, scratch), out);
  return StreamOf(std::move(out), true);
}
void TzoAsciiHexFilter::DecodeString(std::string_view s, std::string& out) {
  std::string result;
  Decode(BytesOf(s), result);
  out = std::move(result);
}

// ---- TzoAscii85Filter ----

void TzoAscii85Filter::Decode(TzoByteSpan in, std::string& out) {
  Ascii85Decode(in, out);
}
void TzoAscii85Filter::Decode(TzoByteSpan in, std::vector<uint8_t>& out) {
  Ascii85Decode(in, out);
}

void TzoAscii85Filter::Encode(TzoByteSpan in, std::string& out) {
  out.clear();
  out.reserve(in.size() / 4 * 5 + 7);
  const size_t n = in.size();
  size_t i = 0;
  char digits[5];
  for (; i + 4 <= n; i += 4) {
    uint32_t v = (uint32_t{in[i]} << 24) | (uint32_t{in[i + 1]} << 16) |
                 (uint32_t{in[i + 2]} << 8) | uint32_t{in[i + 3]};
    if (v == 0) {
      out += 'z';
    } else {
      Ascii85EncodeGroup(v, digits);
      out.append(digits, 5);
    }
  }
  if (size_t rest = n - i; rest > 0) {
    uint32_t v = 0;
    for (size_t j = 0; j < 4; ++j)
      v = (v << 8) | (j < rest ? in[i + j] : 0);
    Ascii85EncodeGroup(v, digits);
    out.append(digits, rest + 1);
  }
  out += "~>";
}

std::unique_ptr<rtl::TMemoryStream> TzoAscii85Filter::EncodeStream(rtl::TStream& stream) {
  std::vector<uint8_t> scratch;
  std::string out;
  Encode(StreamBytes(stream, scratch), out);
  return StreamOf(out, true);
}
void TzoAscii85Filter::EncodeString(std::string_view s, std::string& out) {
  std::string result;
  Encode(BytesOf(s), result);
  out = std::move(result);
}
std::unique_ptr<rtl::TMemoryStream> TzoAscii85Filter::DecodeStream(rtl::TStream& stream) {
  std::vector<uint8_t> scratch, out;
  Decode(StreamBytes(stream, scratch), out);
  return StreamOf(std::move(out), true);
}
void TzoAscii85Filter::DecodeString(std::string_view s, std::string& out) {
  std::string result;
  Decode(BytesOf(s), result);
  out = std::move(result);
}

// ---- TzoFlateFilter ----

void TzoFlateFilter::Decode(TzoByteSpan in, std::string& out) {
  FlateDecode(in, out);
}
void TzoFlateFilter::Decode(TzoByteSpan in, std::vector<uint8_t>& out) {
  FlateDecode(in, out);
}

std::unique_ptr<rtl::TMemoryStream> TzoFlateFilter::EncodeStream(rtl::TStream& stream,
                                                                 TCompressionLevel level) {
  std::vector<uint8_t> scratch;
  TzoByteSpan in = StreamBytes(stream, scratch);
  auto result = std::make_unique<rtl::TMemoryStream>();
  result->Reserve(static_cast<int64_t>(in.size() / 2 + 64));
  {
    TCompressionStream z(level, result.get());
    z.WriteBuffer(in.data(), static_cast<int64_t>(in.size()));
    z.Finish();
  }
  result->SetPosition(0);
  return result;
}
void TzoFlateFilter::EncodeString(std::string_view s, TCompressionLevel level, std::string& out) {
  TSpanStream in(BytesOf(s));
  out = EncodeStream(in, level)->ToString();
}
std::unique_ptr<rtl::TMemoryStream> TzoFlateFilter::DecodeStream(rtl::TStream& stream) {
  std::vector<uint8_t> scratch, out;
  Decode(StreamBytes(stream, scratch), out);
  return StreamOf(std::move(out), false);
}
void TzoFlateFilter::DecodeString(std::string_view s, std::string& out) {
  std::string result;
  Decode(BytesOf(s), result);
  out = std::move(result);
}

// ---- TzoRLEFilter ----

void TzoRLEFilter::Decode(TzoByteSpan in, std::string& out) {
  RLEDecode(in, out);
}
void TzoRLEFilter::Decode(TzoByteSpan in, std::vector<uint8_t>& out) {
  RLEDecode(in, out);
}

void TzoRLEFilter::Encode(TzoByteSpan in, std::string& out) {
  out.clear();
  if (in.empty()) {
    out += static_cast<char>(128);
    return;
  }
  out.reserve(in.size() + in.size() / 128 + 2);
  std::string lit;
  uint8_t cur = in[0];
  size_t run = 1;
  bool lastWasRun = true;

  auto flushLit = [&] {
    size_t p = 0;
    while (lit.size() - p > 128) {
      out += static_cast<char>(127);
      out.append(lit, p, 128);
      p += 128;
    }
    out += static_cast<char>(lit.size() - p - 1);
    out.append(lit, p, std::string::npos);
    lit.clear();
  };
  auto flushRun = [&] {
    while (run > 128) {
      out += static_cast<char>(129);
      out += static_cast<char>(cur);
      run -= 128;
    }
    // A remainder of one becomes the length byte 0 (a literal of that byte).
    out += static_cast<char>(static_cast<uint8_t>(257 - run));
    out += static_cast<char>(cur);
  };

  const size_t n = in.size();
  for (size_t i = 1; i < n; ++i) {
    uint8_t b = in[i];
    if (b == cur) {
      ++run;
      if (run > 2 && !lit.empty()) {
        flushLit();
        lastWasRun = true;
      }
    } else if (run >= 3) {
      flushRun();
      cur = b;
      run = 1;
    } else if (run == 1) {
      lit += static_cast<char>(cur);
      lastWasRun = false;
      cur = b;
    } else if (lastWasRun) {  // run == 2
      out += static_cast<char>(255);
      out += static_cast<char>(cur);
      cur = b;
      run = 1;
    } else if (i + 1 < n && in[i + 1] == b) {
      flushLit();
      out += static_cast<char>(255);
      out += static_cast<char>(cur);
      lastWasRun = true;
      cur = b;
      run = 1;
    } else {
      lit += static_cast<char>(cur);
      lit += static_cast<char>(cur);
      lastWasRun = false;
      cur = b;
      run = 1;
    }
  }
  if (run == 1) lit += static_cast<char>(cur);
  if (!lit.empty()) flushLit();
  if (run > 1) flushRun();
  out += static_cast<char>(128);
}

std::unique_ptr<rtl::TMemoryStream> TzoRLEFilter::EncodeStream(rtl::TStream& stream) {
  std::vector<uint8_t> scratch;
  std::string out;
  Encode(StreamBytes(stream, scratch), out);
  return StreamOf(out, false);
}
void TzoRLEFilter::EncodeString(std::string_view s, std::string& out) {
  std::string result;
  Encode(BytesOf(s), result);
  out = std::move(result);
}
std::unique_ptr<rtl::TMemoryStream> TzoRLEFilter::DecodeStream(rtl::TStream& stream) {
  std::vector<uint8_t> scratch, out;
  Decode(StreamBytes(stream, scratch), out);
  return StreamOf(std::move(out), false);
}
void TzoRLEFilter::DecodeString(std::string_view s, std::string& out) {
  std::string result;
  Decode(BytesOf(s), result);
  out = std::move(result);
}

// ---- TzoLZWFilter ----

void TzoLZWFilter::Decode(TzoByteSpan in, std::string& out, int32_t earlyChange) {
  auto table = std::make_unique<TLZWTable>();
  table->Decode(in, out, earlyChange != 0 ? 1 : 0);
}
void TzoLZWFilter::Decode(TzoByteSpan in, std::vector<uint8_t>& out, int32_t earlyChange) {
  auto table = std::make_unique<TLZWTable>();
  table->Decode(in, out, earlyChange != 0 ? 1 : 0);
}

std::unique_ptr<rtl::TMemoryStream> TzoLZWFilter::DecodeStream(rtl::TStream& stream) {
  std::vector<uint8_t> scratch, out;
  Decode(StreamBytes(stream, scratch), out, earlyChange_);
  return StreamOf(std::move(out), true);
}
void TzoLZWFilter::DecodeString(std::string_view s, std::string& out) {
  std::string result;
  Decode(BytesOf(s), result, earlyChange_);
  out = std::move(result);
}
