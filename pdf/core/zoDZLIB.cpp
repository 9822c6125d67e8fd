#include "pdf/core/zoDZLIB.h"

#include <algorithm>
#include <atomic>
#include <limits>

namespace {

std::atomic<int64_t> gDecodedSizeLimit{kDefaultDecodedSizeLimit};
thread_local int64_t tThreadSizeLimit = std::numeric_limits<int64_t>::max();

constexpr int64_t kMaxChunk = std::numeric_limits<uInt>::max();

// zlib's texts of its return codes 2 .. -6.
const char* ZLibErrorText(int code) {
  switch (code) {
    case Z_NEED_DICT:
      return "need dictionary";
    case Z_STREAM_END:
      return "stream end";
    case Z_OK:
      return "";
    case Z_ERRNO:
      return "file error";
    case Z_STREAM_ERROR:
      return "stream error";
    case Z_DATA_ERROR:
      return "data error";
    case Z_MEM_ERROR:
      return "insufficient memory";
    case Z_BUF_ERROR:
      return "buffer error";
    case Z_VERSION_ERROR:
      return "incompatible version";
    default:
      return "unknown zlib error";
  }
}

}  // namespace

int64_t DecodedSizeLimit() {
  return std::min(gDecodedSizeLimit.load(std::memory_order_relaxed), tThreadSizeLimit);
}

TDecodedSizeLimitScope::TDecodedSizeLimitScope(int64_t limit) : previous_(tThreadSizeLimit) {
  tThreadSizeLimit = std::min(previous_, std::max<int64_t>(limit, 1));
}

TDecodedSizeLimitScope::~TDecodedSizeLimitScope() {
  tThreadSizeLimit = previous_;
}

void SetDecodedSizeLimit(int64_t limit) {
  if (limit < 1) throw rtl::Exception(rtl::Format("Invalid decoded size limit (%d)", limit));
  gDecodedSizeLimit.store(limit, std::memory_order_relaxed);
}

int ZLibLevelOf(TCompressionLevel level) {
  static constexpr int kLevels[] = {Z_NO_COMPRESSION, Z_BEST_SPEED, Z_DEFAULT_COMPRESSION,
                                    Z_BEST_COMPRESSION};
  if (level > clMax) throw EZCompressionError(ZLibErrorText(Z_STREAM_ERROR));
  return kLevels[level];
}

int CompressCheck(int code) {
  if (code < 0) throw EZCompressionError(ZLibErrorText(code));
  return code;
}

int DecompressCheck(int code) {
  if (code < 0) throw EZDecompressionError(ZLibErrorText(code));
  return code;
}

// ---- TCustomZStream ----

TCustomZStream::TCustomZStream(rtl::TStream* strm)
    : strm_(strm), strmPos_(strm ? strm->Position() : 0) {}

void TCustomZStream::Progress() {
  if (OnProgress) OnProgress(this);
}

// ---- TCompressionStream ----

TCompressionStream::TCompressionStream(TCompressionLevel level, rtl::TStream* dest)
    : TCustomZStream(dest) {
  if (!dest) throw EZCompressionError(ZLibErrorText(Z_STREAM_ERROR));
  int zlevel = ZLibLevelOf(level);
  zstream_.next_out = buffer_.data();
  zstream_.avail_out = static_cast<uInt>(kBufferSize);
  CompressCheck(deflateInit(&zstream_, zlevel));
  initialised_ = true;
}

TCompressionStream::~TCompressionStream() {
  if (!finished_) {
    try {
      Finish();
    } catch (...) {
      // A destructor never throws; callers that need the outcome call Finish themselves.
    }
  }
  if (initialised_) deflateEnd(&zstream_);
}

int64_t TCompressionStream::Read(void*, int64_t) {
  throw EZCompressionError(SZInvalidOperation);
}

void TCompressionStream::FlushBuffer(int64_t count) {
  strm_->WriteBuffer(buffer_.data(), count);
  zstream_.next_out = buffer_.data();
  zstream_.avail_out = static_cast<uInt>(kBufferSize);
  strmPos_ = strm_->Position();
}

int64_t TCompressionStream::Write(const void* buffer, int64_t count) {
  if (count < 0 || finished_ || !initialised_) throw EZCompressionError(SZInvalidOperation);
  if (count == 0) return 0;
  if (strm_->Position() != strmPos_) strm_->SetPosition(strmPos_);
  const Bytef* in = static_cast<const Bytef*>(buffer);
  int64_t left = count;
  while (left > 0) {
    uInt chunk = static_cast<uInt>(std::min(left, kMaxChunk));
    zstream_.next_in = const_cast<Bytef*>(in);
    zstream_.avail_in = chunk;
    while (zstream_.avail_in > 0) {
      CompressCheck(deflate(&zstream_, Z_NO_FLUSH));
      if (zstream_.avail_out == 0) {
        FlushBuffer(kBufferSize);
        Progress();
      }
    }
    in += chunk;
    left -= chunk;
  }
  return count;
}

int64_t TCompressionStream::Seek(int64_t offset, rtl::TSeekOrigin origin) {
  if (offset == 0 && origin == rtl::TSeekOrigin::soCurrent) return TotalIn();
  throw EZCompressionError(SZInvalidOperation);
}

void TCompressionStream::Finish() {
  if (finished_) return;
  if (!initialised_) throw EZCompressionError(SZInvalidOperation);
  zstream_.next_in = nullptr;
  zstream_.avail_in = 0;
  if (strm_->Position() != strmPos_) strm_->SetPosition(strmPos_);
  int rc;
  do {
    rc = CompressCheck(deflate(&zstream_, Z_FINISH));
    int64_t filled = kBufferSize - zstream_.avail_out;
    if (filled > 0) FlushBuffer(filled);
  } while (rc != Z_STREAM_END);
  initialised_ = false;
  finished_ = true;
  CompressCheck(deflateEnd(&zstream_));
}

// ---- TDecompressionStream ----

TDecompressionStream::TDecompressionStream(rtl::TStream* source)
    : TCustomZStream(source), sizeLimit_(DecodedSizeLimit()) {
  if (!source) throw EZDecompressionError(ZLibErrorText(Z_STREAM_ERROR));
  zstream_.next_in = nullptr;
  zstream_.avail_in = 0;
  DecompressCheck(inflateInit(&zstream_));
}

TDecompressionStream::~TDecompressionStream() {
  inflateEnd(&zstream_);
}

int64_t TDecompressionStream::Read(void* buffer, int64_t count) {
  if (count < 0) throw EZDecompressionError(SZInvalidOperation);
  if (count == 0 || streamEnd_) return 0;
  if (strm_->Position() != strmPos_) strm_->SetPosition(strmPos_);
  Bytef* out = static_cast<Bytef*>(buffer);
  int64_t left = count;
  while (left > 0 && !streamEnd_) {
    if (TotalOut() > sizeLimit_)
      throw EZDecompressionError(rtl::Format(SDecodedSizeLimit, sizeLimit_));
    if (zstream_.avail_in == 0) {
      int64_t n = strm_->Read(buffer_.data(), kBufferSize);
      if (n <= 0) break;  // the source ended before the zlib stream did
      zstream_.next_in = buffer_.data();
      zstream_.avail_in = static_cast<uInt>(n);
      strmPos_ = strm_->Position();
      Progress();
    }
    // Never more than one byte past the limit, so that a bomb stops before it fills memory.
    int64_t room = sizeLimit_ - TotalOut();
    if (room < std::numeric_limits<int64_t>::max()) ++room;
    uInt chunk = static_cast<uInt>(std::min({left, room, kMaxChunk}));
    zstream_.next_out = out;
    zstream_.avail_out = chunk;
    int rc = inflate(&zstream_, Z_NO_FLUSH);
    int64_t produced = static_cast<int64_t>(chunk - zstream_.avail_out);
    out += produced;
    left -= produced;
    // A preset dictionary is not part of PDF data; zlib would wait for it for ever.
    if (rc == Z_NEED_DICT) throw EZDecompressionError(ZLibErrorText(Z_NEED_DICT));
    DecompressCheck(rc);
    if (TotalOut() > sizeLimit_)
      throw EZDecompressionError(rtl::Format(SDecodedSizeLimit, sizeLimit_));
    if (rc == Z_STREAM_END) streamEnd_ = true;
  }
  if (streamEnd_ && zstream_.avail_in > 0) {
    // Leave the source right after the zlib stream.
    strm_->Seek(-static_cast<int64_t>(zstream_.avail_in), rtl::TSeekOrigin::soCurrent);
    strmPos_ = strm_->Position();
    zstream_.avail_in = 0;
  }
  return count - left;
}

int64_t TDecompressionStream::Write(const void*, int64_t) {
  throw EZDecompressionError(SZInvalidOperation);
}

void TDecompressionStream::Skip(int64_t count) {
  Bytef scratch[8192];
  while (count > 0) {
    int64_t n = std::min<int64_t>(count, sizeof scratch);
    ReadBuffer(scratch, n);
    count -= n;
  }
}

int64_t TDecompressionStream::Seek(int64_t offset, rtl::TSeekOrigin origin) {
  using rtl::TSeekOrigin;
  if (origin == TSeekOrigin::soBeginning && offset == 0) {
    DecompressCheck(inflateReset(&zstream_));
    zstream_.next_in = nullptr;
    zstream_.avail_in = 0;
    streamEnd_ = false;
    strm_->SetPosition(0);
    strmPos_ = 0;
  } else if (origin == TSeekOrigin::soCurrent && offset >= 0) {
    Skip(offset);
  } else if (origin == TSeekOrigin::soBeginning && offset >= TotalOut()) {
    Skip(offset - TotalOut());
  } else if (origin == TSeekOrigin::soEnd && offset == 0) {
    Bytef scratch[8192];
    while (Read(scratch, sizeof scratch) > 0) {
    }
  } else {
    throw EZDecompressionError(SZInvalidOperation);
  }
  return TotalOut();
}
