#include "pdf/core/zoClasses.h"

#include <algorithm>
#include <limits>
#include <typeinfo>

#include "pdf/core/zoPDFResStrs.h"

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

// a + b without overflow, never below 0.
int64_t MoveBy(int64_t a, int64_t b) {
  if (b > 0 && a > kInt64Max - b) return kInt64Max;
  int64_t r = a + b;  // a >= 0 here, so a negative b cannot overflow
  return r < 0 ? 0 : r;
}

}  // namespace

// ---- TzoExtMemStream ----

uint8_t TzoExtMemStream::ReadByte() {
  uint8_t b = 0;
  Read(&b, 1);
  return b;
}

uint16_t TzoExtMemStream::ReadWord() {
  uint8_t b[2] = {0, 0};
  Read(b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

int16_t TzoExtMemStream::ReadSmallInt() {
  return static_cast<int16_t>(ReadWord());
}

uint32_t TzoExtMemStream::ReadLongWord() {
  uint8_t b[4] = {0, 0, 0, 0};
  Read(b, 4);
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

int64_t TzoExtMemStream::ReadString(int64_t count, std::string& s) {
  int64_t pos = CurrentPosition();
  int64_t left = std::max<int64_t>(0, Size() - pos);
  int64_t n = std::clamp<int64_t>(count, 0, left);
  s.assign(reinterpret_cast<const char*>(Memory()) + (n > 0 ? pos : 0), static_cast<size_t>(n));
  SetCurrentPosition(pos + n);
  return n;
}

void TzoExtMemStream::Skip(int64_t count) {
  int64_t p = MoveBy(CurrentPosition(), count);
  SetCurrentPosition(std::min(p, Size()));
}

void TzoExtMemStream::WriteByte(uint8_t b) {
  WriteBuffer(&b, 1);
}

void TzoExtMemStream::WriteBytes(std::span<const uint8_t> bytes) {
  WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TzoExtMemStream::WriteWord(uint16_t w) {
  uint8_t b[2] = {static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
  WriteBuffer(b, 2);
}

void TzoExtMemStream::WriteLongWord(uint32_t l) {
  uint8_t b[4] = {static_cast<uint8_t>(l >> 24), static_cast<uint8_t>(l >> 16),
                  static_cast<uint8_t>(l >> 8), static_cast<uint8_t>(l)};
  WriteBuffer(b, 4);
}

void TzoExtMemStream::PadToLongWord() {
  SetCurrentPosition(Size());
  int64_t rest = Size() % 4;
  padCount_ = rest == 0 ? 0 : 4 - rest;
  static const uint8_t zeros[4] = {0, 0, 0, 0};
  if (padCount_ > 0) WriteBuffer(zeros, padCount_);
}

// ---- TzoReadOnlyFilter ----

TzoReadOnlyFilter::TzoReadOnlyFilter(rtl::TStream* stream)
    : stream_(stream ? stream : throw EInvalidStream(LoadMessage(SInvalidStream))),
      size_(stream->Size()) {}

int64_t TzoReadOnlyFilter::Read(void* buffer, int64_t count) {
  return stream_->Read(buffer, count);
}

int64_t TzoReadOnlyFilter::Write(const void*, int64_t) {
  RaiseMsg<EReadError>(SWriteOnlyCannotRead);
}

int64_t TzoReadOnlyFilter::Seek(int64_t offset, rtl::TSeekOrigin origin) {
  return stream_->Seek(offset, origin);
}

// ---- TzoRandomAccessFilter ----

TzoRandomAccessFilter::TzoRandomAccessFilter(rtl::TStream* stream) : TzoReadOnlyFilter(stream) {
  // Only streams whose reading and seeking are exactly those of TMemoryStream take the direct
  // path; a subclass with slots of its own is read through them.
  const std::type_info& t = typeid(*stream_);
  if (t == typeid(rtl::TMemoryStream) || t == typeid(TzoExtMemStream))
    mem_ = static_cast<rtl::TMemoryStream*>(stream_);
}

int64_t TzoRandomAccessFilter::Read(void* buffer, int64_t count) {
  if (!mem_) return stream_->Read(buffer, count);
  return mem_->rtl::TMemoryStream::Read(buffer, count);
}

uint8_t TzoRandomAccessFilter::ReadByteSlow() {
  uint8_t b = 0;
  stream_->Read(&b, 1);
  return b;
}

uint8_t TzoRandomAccessFilter::PeekByteSlow() {
  uint8_t b = 0;
  int64_t n = stream_->Read(&b, 1);
  endOfStream_ = stream_->Position() >= stream_->Size();
  if (n > 0) stream_->Seek(-n, rtl::TSeekOrigin::soCurrent);
  return n > 0 ? b : 0;
}

int64_t TzoRandomAccessFilter::ReadString(int64_t count, std::string& s) {
  s.clear();
  if (count <= 0) return 0;
  // Never more than the bytes left: a count taken from damaged data must not allocate blindly.
  int64_t left = std::max<int64_t>(0, stream_->Size() - Position());
  int64_t want = std::min(count, left);
  s.resize(static_cast<size_t>(want));
  int64_t n = want > 0 ? Read(s.data(), want) : 0;
  s.resize(static_cast<size_t>(std::max<int64_t>(n, 0)));
  return static_cast<int64_t>(s.size());
}

int64_t TzoRandomAccessFilter::PeekString(int64_t count, std::string& s) {
  int64_t n = ReadString(count, s);
  if (n > 0) Seek(-n, rtl::TSeekOrigin::soCurrent);
  return n;
}

void TzoRandomAccessFilter::StepBack() {
  if (mem_) {
    int64_t p = mem_->CurrentPosition();
    if (p > 0) mem_->SetCurrentPosition(p - 1);
    return;
  }
  if (stream_->Position() > 0) stream_->Seek(-1, rtl::TSeekOrigin::soCurrent);
}

void TzoRandomAccessFilter::Skip(int64_t count) {
  if (mem_) {
    mem_->SetCurrentPosition(MoveBy(mem_->CurrentPosition(), count));
    return;
  }
  stream_->SetPosition(MoveBy(stream_->Position(), count));
}

bool TzoRandomAccessFilter::AtEndSlow() {
  return stream_->Position() >= stream_->Size();
}

// ---- TzoWriteOnlyFilter ----

TzoWriteOnlyFilter::TzoWriteOnlyFilter(rtl::TStream* stream)
    : stream_(stream ? stream : throw EInvalidStream(LoadMessage(SInvalidStream))) {}

int64_t TzoWriteOnlyFilter::Read(void*, int64_t) {
  RaiseMsg<EReadError>(SWriteOnlyCannotRead);
}

int64_t TzoWriteOnlyFilter::Write(const void* buffer, int64_t count) {
  return stream_->Write(buffer, count);
}

int64_t TzoWriteOnlyFilter::Seek(int64_t offset, rtl::TSeekOrigin origin) {
  return stream_->Seek(offset, origin);
}

// ---- TzoObjectKey ----

size_t TzoObjectKeyHash::operator()(const TzoObjectKey& k) const noexcept {
  // splitmix64 finaliser over the packed numbers.
  uint64_t x = (static_cast<uint64_t>(static_cast<uint32_t>(k.DocumentNumber)) << 32) |
               static_cast<uint32_t>(k.ObjectNumber);
  x ^= static_cast<uint64_t>(k.Generation) * 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return static_cast<size_t>(x ^ (x >> 31));
}

// ---- TzoObjectList ----

int32_t TzoObjectList::Add(const TzoObjectKey& id, rtl::TObject* obj) {
  int32_t index = GetCount();
  Insert(index, id, obj);
  return index;
}

void TzoObjectList::Insert(int32_t index, const TzoObjectKey& id, rtl::TObject* obj) {
  if (id.DocumentNumber < 0) RaiseMsg<EInvalidID>(SInvalidUniqueID, id.DocumentNumber);
  if (id.ObjectNumber < 0) RaiseMsg<EInvalidID>(SInvalidUniqueID, id.ObjectNumber);
  int32_t count = GetCount();
  if (index < 0 || index > count)
    throw rtl::Exception(FmtLoadMessage(SListIndexOutOfBounds, index));
  if (count == std::numeric_limits<int32_t>::max())
    throw rtl::Exception(FmtLoadMessage(SListIndexOutOfBounds, index));
  if (count == capacity_) {
    int64_t step = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
    int64_t grown =
        std::min<int64_t>(int64_t{capacity_} + step, std::numeric_limits<int32_t>::max());
    items_.reserve(static_cast<size_t>(grown));
    capacity_ = static_cast<int32_t>(grown);
  }
  // The table grows first: once the pair is in, nothing below can fail.
  if ((used_ + 1) * 10 > first_.size() * 7) GrowTable();
  if (index < count) {
    // Every pair from index on moves up by one.
    for (Slot& slot : first_)
      if (slot.index >= index) ++slot.index;
  }
  items_.insert(items_.begin() + index, Item{id, obj});
  NoteFirst(id, index);
}

size_t TzoObjectList::SlotOf(const TzoObjectKey& id) const {
  const size_t mask = first_.size() - 1;
  size_t i = TzoObjectKeyHash{}(id)&mask;
  while (first_[i].index >= 0 && !(first_[i].id == id))
    i = (i + 1) & mask;
  return i;
}

void TzoObjectList::NoteFirst(const TzoObjectKey& id, int32_t index) {
  Slot& slot = first_[SlotOf(id)];
  if (slot.index < 0) {
    slot.id = id;
    slot.index = index;
    ++used_;
  } else if (index < slot.index) {
    slot.index = index;
  }
}

void TzoObjectList::GrowTable() {
  std::vector<Slot> old(first_.empty() ? 16 : first_.size() * 2);
  old.swap(first_);
  used_ = 0;
  for (const Slot& slot : old)
    if (slot.index >= 0) NoteFirst(slot.id, slot.index);
}

int32_t TzoObjectList::IndexOfID(const TzoObjectKey& id) const {
  if (first_.empty()) return -1;
  return first_[SlotOf(id)].index;
}

void TzoObjectList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= GetCount())
    throw rtl::Exception(FmtLoadMessage(SListIndexOutOfBounds, index));
}

rtl::TObject* TzoObjectList::GetObject(int32_t index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].obj;
}

const TzoObjectKey& TzoObjectList::GetID(int32_t index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].id;
}

void TzoObjectList::Clear() {
  std::vector<Item>().swap(items_);
  std::vector<Slot>().swap(first_);
  used_ = 0;
  capacity_ = 0;
}
