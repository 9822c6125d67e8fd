#include "pdf/core/zoBlockWriter.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Written batches kept for the next save, unless their text grew past the size given.
constexpr size_t kSpareBatches = 2;
constexpr size_t kSpareTextBytes = 4 * TzoBlockWriter::kBlockBytes;

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

bool TzoBlockWriter::StartThread() {
  if (thread_.joinable()) return true;
  try {
    thread_ = std::thread([this] { Loop(); });
  } catch (const std::system_error&) {
    background_ = false;  // no thread to be had: everything is written here
    return false;
  }
  return true;
}

void TzoBlockWriter::Write(TzoOutputBatch& batch) {
  if (batch.Empty()) return;
  if (!handedOver_ && (!background_ || !StartThread())) {
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
    TBatches node;
    if (spare_.empty())
      node.emplace_back();
    else
      node.splice(node.end(), spare_, spare_.begin());
    std::swap(node.front(), batch);
    queuedBytes_ += size;
    queue_.splice(queue_.end(), node);
    handedOver_ = true;
  }
  changed_.notify_all();
  batch.Clear();  // a written batch, emptied here
}

void TzoBlockWriter::End(TzoOutputBatch& batch) {
  if (!handedOver_) {
    // Nothing went to the thread: the rest is written here.
    Process(batch);
    batch.Clear();
  } else {
    Write(batch);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failure_ || (queue_.empty() && current_.empty()); });
    if (failure_) std::rethrow_exception(failure_);
    handedOver_ = false;  // the thread is done with the stream and the block
  }
  Flush();
  Release();
  stream_ = nullptr;
}

void TzoBlockWriter::Abandon() noexcept {
  if (handedOver_) {
    abandoned_ = true;
    std::unique_lock<std::mutex> lock(mutex_);
    for (const TzoOutputBatch& b : queue_)
      queuedBytes_ -= b.Size();
    spare_.splice(spare_.end(), queue_);
    changed_.wait(lock, [&] { return current_.empty(); });
    handedOver_ = false;
  }
  block_.clear();
  Release();
  stream_ = nullptr;
}

std::exception_ptr TzoBlockWriter::Failure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

void TzoBlockWriter::Release() {
  TBatches written;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    written.splice(written.end(), spare_);
  }
  for (auto it = written.begin(); it != written.end();) {
    it->Clear();
    if (it->Text.capacity() > kSpareTextBytes)
      it = written.erase(it);
    else
      ++it;
  }
  while (written.size() > kSpareBatches)
    written.pop_back();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    spare_.splice(spare_.end(), written);
  }
  fileKey_.fill(0);
  keyValid_ = false;
  key_.fill(0);
  if (block_.capacity() > 2 * kBlockBytes) std::string().swap(block_);
  if (scratchBytes_ > kQueueBytes) {
    scratch_.reset();
    scratchBytes_ = 0;
  }
}

void TzoBlockWriter::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (quit_) return;
    current_.splice(current_.end(), queue_, queue_.begin());
    TzoOutputBatch& batch = current_.front();
    const size_t size = batch.Size();
    lock.unlock();
    std::exception_ptr failure;
    try {
      Process(batch);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    queuedBytes_ -= size;
    spare_.splice(spare_.end(), current_);
    if (failure && !failure_) {
      // The rest of the save is not written.
      failure_ = failure;
      for (const TzoOutputBatch& b : queue_)
        queuedBytes_ -= b.Size();
      spare_.splice(spare_.end(), queue_);
    }
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
  if (block_.size() + data.size() > kBlockBytes) Flush();
  if (data.size() >= kBlockBytes) {
    // In one piece of its own, from a buffer kept for the next such data.
    if (scratchBytes_ < data.size()) {
      scratch_.reset();
      scratch_ = std::make_unique_for_overwrite<char[]>(data.size());
      scratchBytes_ = data.size();
    }
    Crypt(data.data(), scratch_.get(), data.size(), objectNumber);
    stream_->WriteBuffer(scratch_.get(), static_cast<int64_t>(data.size()));
    return;
  }
  // Encrypted straight into the block.
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
