// Basic building blocks of the PDF library: the component base, a big-endian memory stream, thin
// stream wrappers (read-only, read-only with peeking and stepping back, write-only) over a stream
// owned by somebody else, and a list of (key, object) pairs that owns nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"

// ---- Exceptions of this unit ----

// Base of the three errors below; never raised itself.
class TzoException : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// A negative key given to TzoObjectList: "Invalid unique ID (%d)".
class EInvalidID : public TzoException {
 public:
  using TzoException::TzoException;
};

// A stream wrapper created over no stream: "Invalid Stream! Cannot create with null stream".
class EInvalidStream : public TzoException {
 public:
  using TzoException::TzoException;
};

// A write on a read-only wrapper or a read on a write-only one: "A write-only filter cannot
// read". The library's own class: it is not rtl::EReadError, and neither catches the other.
class EReadError : public TzoException {
 public:
  using TzoException::TzoException;
};

// ---- TzoComponent ----

// Base of the library's components. About and Version read as empty; writing them does nothing.
class TzoComponent : public rtl::TComponent {
 public:
  explicit TzoComponent(rtl::TComponent* owner = nullptr) : rtl::TComponent(owner) {}
  const std::string& About() const { return about_; }
  void SetAbout(const std::string&) {}
  const std::string& Version() const { return version_; }
  void SetVersion(const std::string&) {}

 private:
  std::string about_;
  std::string version_;
};

// ---- TzoExtMemStream ----

// A memory stream with big-endian number reads and writes at Position (each call advances it by
// the bytes moved). Bytes that are not there read as 0: a read at or past the end gives 0 for
// the missing bytes (callers detect the end by Position and Size).
class TzoExtMemStream : public rtl::TMemoryStream {
 public:
  TzoExtMemStream() = default;
  explicit TzoExtMemStream(std::string_view bytes) : rtl::TMemoryStream(bytes) {}

  uint8_t ReadByte();
  uint16_t ReadWord();      // 2 bytes, first byte high
  int16_t ReadSmallInt();   // the same 2 bytes as a signed value
  uint32_t ReadLongWord();  // 4 bytes, first byte highest
  // Reads up to count bytes into s; s holds exactly the bytes read. Returns that number.
  int64_t ReadString(int64_t count, std::string& s);
  // Moves Position by count (negative moves back), clamped to 0 .. Size.
  void Skip(int64_t count);

  void WriteByte(uint8_t b);
  void WriteBytes(std::span<const uint8_t> bytes);
  void WriteWord(uint16_t w);      // high byte first
  void WriteLongWord(uint32_t l);  // highest byte first
  // (WriteString of TStream writes each character as one byte.)

  // Moves Position to the end and appends zero bytes up to a multiple of 4; PadCount is the
  // number appended (0 when none were needed).
  void PadToLongWord();
  int64_t PadCount() const { return padCount_; }

 private:
  int64_t padCount_ = 0;
};

// ---- Stream wrappers ----

// A read-only face on a stream that the creator keeps and frees after the filter. Read and Seek
// go to the wrapped stream; Write raises EReadError. Size is the wrapped stream's size taken once,
// at creation.
class TzoReadOnlyFilter : public rtl::TStream {
 public:
  // EInvalidStream when stream is null.
  explicit TzoReadOnlyFilter(rtl::TStream* stream);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;  // raises EReadError
  int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override;
  int64_t Size() override { return size_; }

  rtl::TStream* Stream() const { return stream_; }

 protected:
  rtl::TStream* stream_;
  int64_t size_;
};

// A read-only filter with byte-level reading, peeking and stepping back, all on the wrapped
// stream's Position.
//
// When the wrapped stream is a plain rtl::TMemoryStream (or a TzoExtMemStream) the byte-level
// operations work on its memory directly, without a virtual call per byte; the wrapped stream's
// Position stays the one position (moving it from outside is seen at once). Subclasses that read
// many single bytes may do the same through FastMemory().
//
// At the end of the data: ReadByte gives 0 and does not move; PeekByte gives 0, sets EndOfStream
// and does not move; PeekString and ReadString give only the bytes that are there.
class TzoRandomAccessFilter : public TzoReadOnlyFilter {
 public:
  explicit TzoRandomAccessFilter(rtl::TStream* stream);

  int64_t Read(void* buffer, int64_t count) override;

  // One byte, or 0 at the end of the data (no move).
  uint8_t ReadByte() {
    if (mem_) {
      int64_t p = mem_->CurrentPosition();
      const std::vector<uint8_t>& b = mem_->Buffer();
      if (p >= static_cast<int64_t>(b.size())) return 0;
      mem_->SetCurrentPosition(p + 1);
      return b[static_cast<size_t>(p)];
    }
    return ReadByteSlow();
  }
  // Reads one byte and steps back by the bytes read. EndOfStream := the position after the read
  // is at (or past) the end. Gives 0 when no byte was there.
  uint8_t PeekByte() {
    if (mem_) {
      int64_t p = mem_->CurrentPosition();
      const std::vector<uint8_t>& b = mem_->Buffer();
      int64_t n = static_cast<int64_t>(b.size());
      endOfStream_ = p >= n - 1;
      return p < n ? b[static_cast<size_t>(p)] : 0;
    }
    return PeekByteSlow();
  }
  // Reads up to count bytes into s (s holds exactly the bytes read) and steps back by their
  // number. Returns that number.
  int64_t PeekString(int64_t count, std::string& s);
  // Reads up to count bytes into s (s holds exactly the bytes read). Returns that number.
  int64_t ReadString(int64_t count, std::string& s);
  // Moves back one byte (not before the start).
  void StepBack();
  // Moves by count, not clamped at the end (never before the start).
  void Skip(int64_t count);

  // Set only by PeekByte; false after creation.
  bool EndOfStream() const { return endOfStream_; }
  // True when no byte is left at the position.
  bool AtEnd() {
    if (mem_) return mem_->CurrentPosition() >= static_cast<int64_t>(mem_->Buffer().size());
    return AtEndSlow();
  }

 protected:
  // The wrapped stream when it is a plain rtl::TMemoryStream or TzoExtMemStream, else null. Its
  // Buffer(), CurrentPosition() and SetCurrentPosition() may then be used directly.
  rtl::TMemoryStream* FastMemory() const { return mem_; }

 private:
  uint8_t ReadByteSlow();
  uint8_t PeekByteSlow();
  bool AtEndSlow();
  rtl::TMemoryStream* mem_ = nullptr;
  bool endOfStream_ = false;
};

// A write-only face on a stream that the creator keeps. Write and Seek go to the wrapped stream;
// Read raises EReadError.
class TzoWriteOnlyFilter : public rtl::TStream {
 public:
  // EInvalidStream when stream is null.
  explicit TzoWriteOnlyFilter(rtl::TStream* stream);

  int64_t Read(void* buffer, int64_t count) override;  // raises EReadError
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override;

  rtl::TStream* Stream() const { return stream_; }

 private:
  rtl::TStream* stream_;
};

// ---- Object keys and the ID-keyed list ----

// The key under which an indirect object is filed within the whole process: its document number,
// object number and generation, compared exactly. Made by MakeObjectKey (zoPDFUtils).
struct TzoObjectKey {
  int32_t DocumentNumber = 0;
  int32_t ObjectNumber = 0;
  uint16_t Generation = 0;

  friend bool operator==(const TzoObjectKey&, const TzoObjectKey&) = default;
};

struct TzoObjectKeyHash {
  size_t operator()(const TzoObjectKey& k) const noexcept;
};

// A list of (key, object) pairs in insertion order. Owns nothing: Clear and destruction never
// free the objects. Duplicate keys are allowed; IndexOfID finds the first one, in constant time.
class TzoObjectList : public rtl::TPersistent {
 public:
  TzoObjectList() = default;
  TzoObjectList(const TzoObjectList&) = delete;
  TzoObjectList& operator=(const TzoObjectList&) = delete;

  // Insert(Count, id, obj); returns the new pair's index.
  int32_t Add(const TzoObjectKey& id, rtl::TObject* obj);
  // EInvalidID "Invalid unique ID (%d)" for a key with a negative number (the list is unchanged);
  // index must lie in 0 .. Count (else the list index error of GetObject).
  void Insert(int32_t index, const TzoObjectKey& id, rtl::TObject* obj);
  // Index of the first pair with this key; -1 when none.
  int32_t IndexOfID(const TzoObjectKey& id) const;
  // rtl::Exception "List index out of bounds (%d)" for an index outside 0 .. Count-1.
  rtl::TObject* GetObject(int32_t index) const;
  const TzoObjectKey& GetID(int32_t index) const;
  int32_t GetCount() const { return static_cast<int32_t>(items_.size()); }
  int32_t Count() const { return GetCount(); }
  // Pairs allocated (grows by 4, 16, or a quarter, as the list fills).
  int32_t Capacity() const { return capacity_; }
  // Removes every pair and releases the storage; the objects are not freed.
  void Clear();

 private:
  struct Item {
    TzoObjectKey id;
    rtl::TObject* obj;
  };
  // A slot of the open-addressing table from key to the index of its first pair; index -1 marks
  // a free slot.
  struct Slot {
    TzoObjectKey id;
    int32_t index = -1;
  };
  void CheckIndex(int32_t index) const;
  // The slot holding id, or the free slot where it belongs; the table must not be empty.
  size_t SlotOf(const TzoObjectKey& id) const;
  // Records index as the first pair of id unless an earlier one is recorded.
  void NoteFirst(const TzoObjectKey& id, int32_t index);
  void GrowTable();
  std::vector<Item> items_;
  int32_t capacity_ = 0;
  std::vector<Slot> first_;  // size 0 or a power of two, at most 7/10 used
  size_t used_ = 0;
};
