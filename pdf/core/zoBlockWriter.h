// The output of a save on a thread of its own: the writer hands over its text in batches, with
// stream data (to copy or to encrypt) and strings to encrypt placed in it, and the block writer
// encrypts them and gives the bytes to the output stream in blocks of 64 KiB or more, in order,
// while the writer goes on with the next objects.
//
//   TzoOutputPiece   one piece of a batch: data placed in the text, or a string in it to encrypt
//   TzoOutputBatch   a run of output: text and its pieces
//   TzoBlockWriter   the queue of batches, the thread that writes them and the blocks
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "pdf/core/zoPDFCrypt.h"
#include "platform/RtlClasses.h"

struct TzoOutputPiece {
  enum TKind : uint8_t {
    // Data goes into the output at At, as it is.
    pkData,
    // Data goes into the output at At, encrypted for ObjectNumber.
    pkEncrypted,
    // The Length bytes of the text from At are a string's bytes, followed by Length bytes of room:
    // the 2 * Length bytes become the hex digits of the string encrypted for ObjectNumber.
    pkHexEncrypted,
  };

  TKind Kind = pkData;
  size_t At = 0;
  size_t Length = 0;  // pkHexEncrypted only
  int32_t ObjectNumber = 0;
  // The data of pkData and pkEncrypted: Owned when it is not empty, else Data, whose bytes must
  // stay alive until the save's output has ended.
  std::string_view Data;
  std::string Owned;

  std::string_view Bytes() const { return Owned.empty() ? Data : std::string_view(Owned); }
};

// A run of output: Text with its pieces in ascending order of At (data pieces at the same place
// in the order they go out).
struct TzoOutputBatch {
  std::string Text;
  std::vector<TzoOutputPiece> Pieces;
  // The bytes of the data pieces.
  size_t DataBytes = 0;

  // The bytes this batch puts into the output.
  size_t Size() const { return Text.size() + DataBytes; }
  bool Empty() const { return Text.empty() && Pieces.empty(); }
  // Empty again, its buffers kept.
  void Clear();
  // Adds data to go out at the end of the text so far (moved from owned when it is not empty;
  // data then is ignored).
  void AddData(TzoOutputPiece::TKind kind, std::string_view data, std::string&& owned,
               int32_t objectNumber);
  // Appends bytes and as many bytes of room: their hex digits once encrypted for objectNumber.
  void AddHexEncrypted(std::string_view bytes, int32_t objectNumber);
};

// Writes the batches of one save after another into a stream. A save that ends with its first
// batch is written on the saving thread; otherwise the batches wait in a queue of at most
// kQueueBytes (one batch of any size when the queue is empty) for the block writer's thread, which
// is started on first use and serves every save until the block writer is destroyed. A failure
// there (a stream that refuses bytes or throws) ends the save: the batches after it are dropped,
// and the next call on the saving thread raises the same exception. Memory is taken and given back
// on the saving thread only. One save at a time; all calls from the thread that saves.
class TzoBlockWriter {
 public:
  // Bytes gathered before they go to the stream; data of this size or more goes in one piece.
  static constexpr size_t kBlockBytes = 64 * 1024;
  // The most bytes of batches waiting for the thread.
  static constexpr size_t kQueueBytes = 4 * 1024 * 1024;

  TzoBlockWriter() = default;
  // Ends the thread (no save may be under way).
  ~TzoBlockWriter();
  TzoBlockWriter(const TzoBlockWriter&) = delete;
  TzoBlockWriter& operator=(const TzoBlockWriter&) = delete;

  // Starts a save into stream. fileKey: the file key that the encrypted pieces are encrypted
  // with (copied). With background false every batch is written on the caller's thread.
  void Begin(rtl::TStream& stream, std::span<const uint8_t> fileKey, bool background);
  // Hands batch over and leaves it empty to be filled again. Waits while the queue is full.
  // Raises the failure of an earlier batch.
  void Write(TzoOutputBatch& batch);
  // Writes batch after everything handed over, and returns when all of it has reached the
  // stream. Raises the failure of any batch.
  void End(TzoOutputBatch& batch);
  // For a save that ends otherwise: drops the batches not written yet and returns once the
  // stream is no longer used.
  void Abandon() noexcept;
  // The failure of a batch of this save, or null.
  std::exception_ptr Failure();
  // The bytes of the batches handed over and not yet written: how far the thread is behind.
  size_t Backlog() const { return queuedBytes_.load(std::memory_order_relaxed); }

 private:
  using TBatches = std::list<TzoOutputBatch>;

  // Starts the thread unless it runs; false when none can be had.
  bool StartThread();
  void Loop();
  // Puts batch into the output (pieces encrypted, text and data gathered into blocks).
  void Process(TzoOutputBatch& batch);
  void Put(std::string_view bytes);
  void PutEncrypted(std::string_view data, int32_t objectNumber);
  void Crypt(const void* source, void* destination, size_t length, int32_t objectNumber);
  void Flush();
  // After a save: the keys forgotten, the written batches emptied and a few kept, and the memory
  // of the block and of the scratch buffer given up when they grew large.
  void Release();

  // What the batches are written with: used by one thread at a time, the caller's until it hands
  // over a batch of a save, then the block writer's thread until the save ends.
  rtl::TStream* stream_ = nullptr;
  std::array<uint8_t, 16> fileKey_{};
  size_t fileKeyLength_ = 0;
  bool keyValid_ = false;  // the object key kept below
  int32_t keyNumber_ = 0;
  TMD5Digest key_{};
  size_t keyLength_ = 0;
  std::string block_;
  // Data of a block or more encrypted here, to go out in one piece.
  std::unique_ptr<char[]> scratch_;
  size_t scratchBytes_ = 0;

  // The caller's thread only.
  bool background_ = false;
  bool handedOver_ = false;  // a batch of this save went to the thread

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Batches move between these lists without being made or freed by the thread: handed over,
  // being written (one at most), written (emptied by the caller's thread when taken again).
  TBatches queue_;
  TBatches current_;
  TBatches spare_;
  std::atomic<size_t> queuedBytes_{0};  // of the batches queued or being written
  std::atomic<bool> abandoned_{false};  // the thread leaves the batch it holds
  std::exception_ptr failure_;
  bool quit_ = false;
};
