// Compression streams over zlib: a write-only stream that deflates into a destination stream and a
// read-only stream that inflates from a source stream. The data is a zlib stream (RFC 1950), the
// contents of a PDF /FlateDecode stream.
#pragma once

#include <zlib.h>

#include <array>
#include <cstdint>

#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"

// ---- Exceptions ----

// Base of the two errors below; never raised itself.
class EZLibError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};
// zlib's text for a failed call of the compressing side, or "Invalid ZStream operation!".
class EZCompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};
// zlib's text for a failed call of the decompressing side, "Invalid ZStream operation!", or the
// size-limit text below.
class EZDecompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};

// The text raised for a refused operation on a compression stream.
inline constexpr const char* SZInvalidOperation = "Invalid ZStream operation!";
// The text raised when decoded data grows past the size limit; %d is the limit in bytes.
inline constexpr const char* SDecodedSizeLimit = "Decoded data exceeds the size limit (%d bytes)";

// ---- The decoded-size limit (a library setting) ----

// The largest number of bytes that one stream may decode to (Flate and the other decoders that
// can grow their input); 256 MiB unless set otherwise, lower inside a TDecodedSizeLimitScope.
// Decoding more raises.
inline constexpr int64_t kDefaultDecodedSizeLimit = int64_t{256} * 1024 * 1024;
int64_t DecodedSizeLimit();
// Values below 1 raise rtl::Exception.
void SetDecodedSizeLimit(int64_t limit);

// Lowers DecodedSizeLimit() for the calling thread while it lives: the lower of the library
// setting and limit (at least 1) holds there. Scopes nest; other threads are not affected.
class TDecodedSizeLimitScope {
 public:
  explicit TDecodedSizeLimitScope(int64_t limit);
  ~TDecodedSizeLimitScope();
  TDecodedSizeLimitScope(const TDecodedSizeLimitScope&) = delete;
  TDecodedSizeLimitScope& operator=(const TDecodedSizeLimitScope&) = delete;

 private:
  int64_t previous_;
};

// ---- Streams ----

// Compression level index: none (stored blocks), fastest, zlib's default, maximum.
enum TCompressionLevel : uint8_t { clNone = 0, clFastest = 1, clDefault = 2, clMax = 3 };

// zlib's level for a level index ({0, 1, -1, 9}); an index outside 0..3 raises EZCompressionError
// "stream error".
int ZLibLevelOf(TCompressionLevel level);

// A negative code raises EZCompressionError (compressing side) or EZDecompressionError with
// zlib's text for it; any other code is returned.
int CompressCheck(int code);
int DecompressCheck(int code);

// The common part of both streams. Strm is not owned; StrmPos is the position in Strm up to which
// data has been consumed (source) or produced (destination). OnProgress is called after each
// exchange of a full buffer with Strm.
class TCustomZStream : public rtl::TStream {
 public:
  TCustomZStream(const TCustomZStream&) = delete;
  TCustomZStream& operator=(const TCustomZStream&) = delete;

  rtl::TNotifyEvent OnProgress;

  rtl::TStream* Strm() const { return strm_; }
  int64_t StrmPos() const { return strmPos_; }

 protected:
  static constexpr int64_t kBufferSize = 65536;

  // StrmPos := strm's position (0 for no stream; the descendants refuse a null stream).
  explicit TCustomZStream(rtl::TStream* strm);
  virtual void Progress();

  rtl::TStream* strm_;
  int64_t strmPos_;
  z_stream zstream_{};
  std::array<Bytef, kBufferSize> buffer_;
};

// Deflates what is written into Dest. The zlib stream in Dest is complete after Finish (which
// reports its errors); the destructor finishes quietly when Finish was not called.
class TCompressionStream : public TCustomZStream {
 public:
  // A null dest raises EZCompressionError "stream error".
  TCompressionStream(TCompressionLevel level, rtl::TStream* dest);
  ~TCompressionStream() override;

  // Raises EZCompressionError "Invalid ZStream operation!".
  int64_t Read(void* buffer, int64_t count) override;
  // Returns count. A negative count, or a write after Finish, raises EZCompressionError
  // "Invalid ZStream operation!".
  int64_t Write(const void* buffer, int64_t count) override;
  // Only Seek(0, soCurrent) is allowed: the number of bytes written into the stream so far.
  int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override;

  // Completes the zlib stream in Dest and frees zlib's state. A second call does nothing.
  void Finish();
  bool Finished() const { return finished_; }
  // Bytes written into the stream so far.
  int64_t TotalIn() const { return static_cast<int64_t>(zstream_.total_in); }
  // Bytes of zlib data produced so far (all of them are in Dest after Finish).
  int64_t TotalOut() const { return static_cast<int64_t>(zstream_.total_out); }

 private:
  void FlushBuffer(int64_t count);
  bool initialised_ = false;
  bool finished_ = false;
};

// Inflates from Source. Reading stops at the end of the zlib stream (Source is then positioned
// right after it) or when Source runs out (truncated data gives what was decoded, without error).
class TDecompressionStream : public TCustomZStream {
 public:
  // A null source raises EZDecompressionError "stream error".
  explicit TDecompressionStream(rtl::TStream* source);
  ~TDecompressionStream() override;

  // Returns the bytes delivered. A negative count raises EZDecompressionError "Invalid ZStream
  // operation!"; damaged data raises zlib's text ("data error"); data that needs a preset
  // dictionary raises "need dictionary"; more than SizeLimit decoded bytes raise SDecodedSizeLimit.
  int64_t Read(void* buffer, int64_t count) override;
  // Raises EZDecompressionError "Invalid ZStream operation!".
  int64_t Write(const void* buffer, int64_t count) override;
  // Returns the number of bytes delivered so far.
  //   (0, soBeginning): starts again from Source position 0.
  //   (n >= 0, soCurrent) and (n >= delivered, soBeginning): decodes and drops bytes up to there
  //   (rtl::EReadError when the data ends first).
  //   (0, soEnd): decodes and drops everything that is left.
  // Any other seek raises EZDecompressionError "Invalid ZStream operation!".
  int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override;

  // True once zlib has reported the end of the zlib stream.
  bool StreamEnded() const { return streamEnd_; }
  int64_t TotalOut() const { return static_cast<int64_t>(zstream_.total_out); }
  // The decoded-size limit of this stream; DecodedSizeLimit() at creation.
  int64_t SizeLimit() const { return sizeLimit_; }
  void SetSizeLimit(int64_t limit) { sizeLimit_ = limit < 1 ? 1 : limit; }

 private:
  void Skip(int64_t count);
  bool streamEnd_ = false;
  int64_t sizeLimit_;
};
