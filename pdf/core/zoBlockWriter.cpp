#include "pdf/core/zoBlockWriter.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// A written batch whose text grew past this is not kept for the next one.
constexpr size_t kSpareTextBytes = 4 * TzoBlockWriter::kBlockBytes;
constexpr size_t kSpareBatches = 2;

}  // namespace

// ---- TzoOutputBatch ----

void TzoOutputBatch::Clear() {
  Text.clear();
  Pieces.clear();
  DataBytes = 0;
}

void TzoOutputBatch::AddData(TzoOutputPiece::TKind kind, std::string_view data, std::string&& owned,
                             int32_t objectNumber) {
  TzoOutputPiece& p = Pieces.emplace_back();
  p.Kind = kind;
  p.At = Text.size();
  p.ObjectNumber = objectNumber;
  if (!owned.empty())
    p.Owned = std::move(owned);
  else
    p.Data = data;
  DataBytes += p.Bytes().size();
}

void TzoOutputBatch::AddHexEncrypted(std::string_view bytes, int32_t objectNumber) {
  if (bytes.empty()) return;
  TzoOutputPiece& p = Pieces.emplace_back();
  p.Kind = TzoOutputPiece::pkHexEncrypted;
  p.At = Text.size();
  p.Length = bytes.size();
  p.ObjectNumber = objectNumber;
  Text += bytes;
  Text.resize(Text.size() + bytes.size());
}

// ---- TzoBlockWriter ----

TzoBlockWriter::~TzoBlockWriter() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TzoBlockWriter::Begin(rtl::TStream& stream, std::span<const uint8_t> fileKey,
                           bool background) {
  stream_ = &stream;
  fileKeyLength_ = std::min(fileKey.size(), fileKey_.size());
  std::copy_n(fileKey.begin(), fileKeyLength_, fileKey_.begin());
  keyValid_ = false;
  block_.clear();
  block_.reserve(kBlockBytes);
  background_ = background;
  handedOver_ = false;
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = nullptr;
  abandoned_ = false;
}

void TzoBlockWriter::Write(TzoOutputBatch& batch) {
  if (batch.Empty()) return;
  if (background_ && !thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
      background_ = false;  // no thread to be had: written here
    }
  }
  if (!background_) {
    Process(batch);
    batch.Clear();
    return;
  }
  const size_t size = batch.Size();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(
        lock, [&] { return failure_ || queuedBytes_ == 0 || queuedBytes_ + size <= kQueueBytes; });
    if (failure_) std::rethrow_exception(failure_);
    queuedBytes_ += size;
    queue_.push_back(std::move(batch));
    handedOver_ = true;
    Recycle(batch);
  }
  changed_.notify_all();
}

void TzoBlockWriter::End(TzoOutputBatch& batch) {
  if (!handedOver_) {
    // Nothing went to the thread: the whole output is written here.
    Process(batch);
    batch.Clear();
  } else {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!failure_ && !batch.Empty()) {
      queuedBytes_ += batch.Size();
      queue_.push_back(std::move(batch));
      Recycle(batch);
      changed_.notify_all();
    }
    changed_.wait(lock, [&] { return failure_ || (queue_.empty() && !busy_); });
    if (failure_) std::rethrow_exception(failure_);
    handedOver_ = false;  // the thread is done with the stream and the block
  }
  Flush();
  TrimBlock();
  stream_ = nullptr;
}

void TzoBlockWriter::Abandon() noexcept {
  if (handedOver_) {
    abandoned_ = true;
    std::unique_lock<std::mutex> lock(mutex_);
    for (const TzoOutputBatch& b : queue_)
      queuedBytes_ -= b.Size();
    // The batches' pieces are let go of outside the lock.
    std::deque<TzoOutputBatch> dropped;
    dropped.swap(queue_);
    WaitIdle(lock);
    lock.unlock();
    handedOver_ = false;
  }
  block_.clear();
  TrimBlock();
  stream_ = nullptr;
}

std::exception_ptr TzoBlockWriter::Failure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

void TzoBlockWriter::Recycle(TzoOutputBatch& batch) {
  if (spare_.empty()) {
    batch = TzoOutputBatch();
    return;
  }
  batch = std::move(spare_.back());
  spare_.pop_back();
}

void TzoBlockWriter::WaitIdle(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [&] { return !busy_; });
}

void TzoBlockWriter::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (quit_) return;
    TzoOutputBatch batch = std::move(queue_.front());
    queue_.pop_front();
    const size_t size = batch.Size();
    busy_ = true;
    lock.unlock();
    std::exception_ptr failure;
    try {
      Process(batch);
    } catch (...) {
      failure = std::current_exception();
    }
    batch.Clear();
    lock.lock();
    busy_ = false;
    queuedBytes_ -= size;
    if (failure && !failure_) {
      // The rest of the save is not written.
      failure_ = failure;
      for (const TzoOutputBatch& b : queue_)
        queuedBytes_ -= b.Size();
      queue_.clear();
    }
    if (spare_.size() < kSpareBatches && batch.Text.capacity() <= kSpareTextBytes)
      spare_.push_back(std::move(batch));
    changed_.notify_all();
  }
}

void TzoBlockWriter::Process(TzoOutputBatch& batch) {
  char* text = batch.Text.data();
  size_t emitted = 0;
  for (const TzoOutputPiece& p : batch.Pieces) {
    if (abandoned_.load(std::memory_order_relaxed)) return;
    if (p.Kind == TzoOutputPiece::pkHexEncrypted) {
      char* s = text + p.At;
      Crypt(s, s, p.Length, p.ObjectNumber);
      // Two digits for each byte, from the last byte back: no byte is overwritten before it is
      // read.
      for (size_t i = p.Length; i-- > 0;) {
        const auto c = static_cast<uint8_t>(s[i]);
        s[2 * i] = kHexDigits[c >> 4];
        s[2 * i + 1] = kHexDigits[c & 15];
      }
      continue;
    }
    Put(std::string_view(text + emitted, p.At - emitted));
    emitted = p.At;
    if (p.Kind == TzoOutputPiece::pkData)
      Put(p.Bytes());
    else
      PutEncrypted(p.Bytes(), p.ObjectNumber);
  }
  Put(std::string_view(text + emitted, batch.Text.size() - emitted));
}

void TzoBlockWriter::Put(std::string_view bytes) {
  if (bytes.empty()) return;
  if (block_.size() + bytes.size() > kBlockBytes) Flush();
  if (bytes.size() >= kBlockBytes) {
    stream_->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return;
  }
  block_ += bytes;
}

void TzoBlockWriter::PutEncrypted(std::string_view data, int32_t objectNumber) {
  if (data.empty()) return;
  // Encrypted straight into the block, which holds data larger than a block alone.
  if (block_.size() + data.size() > kBlockBytes) Flush();
  const size_t at = block_.size();
  block_.resize(at + data.size());
  Crypt(data.data(), block_.data() + at, data.size(), objectNumber);
  if (block_.size() >= kBlockBytes) Flush();
}

void TzoBlockWriter::Crypt(const void* source, void* destination, size_t length,
                           int32_t objectNumber) {
  if (length == 0) return;
  // The strings and the stream of one object come one after another: their key is made once.
  if (!keyValid_ || keyNumber_ != objectNumber) {
    keyLength_ = ObjectKeyOf({fileKey_.data(), fileKeyLength_}, objectNumber, 0, key_);
    keyNumber_ = objectNumber;
    keyValid_ = true;
  }
  Rc4Crypt({key_.data(), keyLength_}, source, destination, length);
}

void TzoBlockWriter::Flush() {
  if (block_.empty()) return;
  stream_->WriteBuffer(block_.data(), static_cast<int64_t>(block_.size()));
  block_.clear();
}

void TzoBlockWriter::TrimBlock() {
  if (block_.capacity() > 2 * kBlockBytes) std::string().swap(block_);
}
