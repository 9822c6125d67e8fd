#include "pdf/core/zoPDFObjects.h"

#include <algorithm>
#include <limits>

#include "pdf/core/zoPDFConsts.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "platform/CodePage.h"
#include "platform/RtlSysUtils.h"

namespace {

[[noreturn]] void ListIndexError(int64_t index) {
  throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
}

constexpr size_t kMaxCount = static_cast<size_t>(std::numeric_limits<int32_t>::max());

// Keeps a replaced object alive when the caller hands back the very object that stands there.
template <class T>
std::unique_ptr<T> Replace(std::unique_ptr<T>& slot, std::unique_ptr<T> obj) {
  if (obj && obj.get() == slot.get()) {
    (void)obj.release();  // the slot already owns it
    return nullptr;
  }
  std::unique_ptr<T> old = std::move(slot);
  slot = std::move(obj);
  return old;
}

}  // namespace

// ---- TzoPDFObject ----

std::string TzoPDFObject::GetTypeName() const {
  switch (type_) {
    case otBoolean:
    case otInteger:
      return std::string(ObjectTypeNames[type_]);
    case otInt64:
      return std::string(Int64ObjectTypeName);
    default:
      return std::string(ObjectTypeNames[static_cast<size_t>(type_) - 1]);
  }
}

// ---- Scalars ----

std::unique_ptr<TzoPDFObject> TzoPDFBooleanObject::Clone() const {
  return std::make_unique<TzoPDFBooleanObject>(value_);
}

std::string TzoPDFIntegerObject::GetText() const {
  return rtl::IntToStr(value_);
}
std::unique_ptr<TzoPDFObject> TzoPDFIntegerObject::Clone() const {
  return std::make_unique<TzoPDFIntegerObject>(value_);
}

std::string TzoPDFInt64Object::GetText() const {
  return rtl::IntToStr(value_);
}
std::unique_ptr<TzoPDFObject> TzoPDFInt64Object::Clone() const {
  return std::make_unique<TzoPDFInt64Object>(value_);
}

std::string TzoPDFRealObject::GetText() const {
  return RealToPDFText(value_);
}
std::unique_ptr<TzoPDFObject> TzoPDFRealObject::Clone() const {
  return std::make_unique<TzoPDFRealObject>(value_);
}

std::string TzoPDFStringObject::GetValue() const {
  return text_.size() < 2 ? std::string() : text_.substr(1, text_.size() - 2);
}

std::u16string TzoPDFStringObject::GetWideValue() const {
  if (isHex_) return PDFHexToWideString(GetValue());
  return platform::AnsiToWide(GetValue());
}

std::unique_ptr<TzoPDFObject> TzoPDFStringObject::Clone() const {
  return std::make_unique<TzoPDFStringObject>(text_, isHex_);
}

std::unique_ptr<TzoPDFObject> TzoPDFNameObject::Clone() const {
  return std::make_unique<TzoPDFNameObject>(text_);
}

std::unique_ptr<TzoPDFObject> TzoPDFNullObject::Clone() const {
  return std::make_unique<TzoPDFNullObject>();
}

// ---- TzoPDFArrayObject ----

void TzoPDFArrayObject::CheckIndex(int32_t index, int32_t limit) const {
  if (index < 0 || index >= limit) ListIndexError(index);
}

void TzoPDFArrayObject::Add(std::unique_ptr<TzoPDFObject> obj) {
  if (items_.size() >= kMaxCount) ListIndexError(static_cast<int64_t>(items_.size()));
  items_.push_back(std::move(obj));
}

void TzoPDFArrayObject::Reserve(int32_t count) {
  if (count > 0) items_.reserve(std::min<size_t>(static_cast<size_t>(count), kMaxCount));
}

void TzoPDFArrayObject::AddInteger(int32_t value) {
  Add(std::make_unique<TzoPDFIntegerObject>(value));
}

void TzoPDFArrayObject::Insert(int32_t index, std::unique_ptr<TzoPDFObject> obj) {
  CheckIndex(index, GetCount() + (items_.size() < kMaxCount ? 1 : 0));
  items_.insert(items_.begin() + index, std::move(obj));
}

void TzoPDFArrayObject::Delete(int32_t index) {
  CheckIndex(index, GetCount());
  std::unique_ptr<TzoPDFObject> old = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
}

TzoPDFObject* TzoPDFArrayObject::GetItem(int32_t index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

std::unique_ptr<TzoPDFObject> TzoPDFArrayObject::SetItem(int32_t index,
                                                         std::unique_ptr<TzoPDFObject> obj) {
  CheckIndex(index, GetCount());
  return Replace(items_[static_cast<size_t>(index)], std::move(obj));
}

std::unique_ptr<TzoPDFObject> TzoPDFArrayObject::Clone() const {
  auto copy = std::make_unique<TzoPDFArrayObject>();
  copy->items_.reserve(items_.size());
  for (const auto& item : items_)
    copy->items_.push_back(CloneOrNull(item.get()));
  return copy;
}

// ---- TzoPDFDictObject ----

void TzoPDFDictObject::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count()) ListIndexError(index);
}

void TzoPDFDictObject::Reserve(int32_t count) {
  if (count > 0) entries_.reserve(std::min<size_t>(static_cast<size_t>(count), kMaxCount));
}

int32_t TzoPDFDictObject::IndexOf(std::string_view key) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].key.Text() == key) return static_cast<int32_t>(i);
  return -1;
}

TzoPDFObject* TzoPDFDictObject::GetValue(std::string_view key) const {
  int32_t i = IndexOf(key);
  return i < 0 ? nullptr : entries_[static_cast<size_t>(i)].value.get();
}

TzoPDFNameObject* TzoPDFDictObject::GetKeyAt(int32_t index) const {
  CheckIndex(index);
  // Lent like the values: the dictionary's own key object, changeable by the caller.
  return const_cast<TzoPDFNameObject*>(&entries_[static_cast<size_t>(index)].key);
}

TzoPDFObject* TzoPDFDictObject::GetValueAt(int32_t index) const {
  CheckIndex(index);
  return entries_[static_cast<size_t>(index)].value.get();
}

void TzoPDFDictObject::AddPair(std::unique_ptr<TzoPDFNameObject> key,
                               std::unique_ptr<TzoPDFObject> value) {
  if (!key) RaiseMsg<EUnexpectedObjectError>(SUnexpectedObject);
  std::string text = key->Text();
  Append(std::move(text), std::move(value));
}

void TzoPDFDictObject::Append(std::string key, std::unique_ptr<TzoPDFObject> value) {
  if (entries_.size() >= kMaxCount) ListIndexError(static_cast<int64_t>(entries_.size()));
  ReserveOneMore(entries_);
  entries_.emplace_back(std::move(key), std::move(value));
}

void TzoPDFDictObject::AddName(std::string_view key, std::string_view value) {
  if (value.empty()) return;
  AddObject(key, std::make_unique<TzoPDFNameObject>(std::string(value)));
}

void TzoPDFDictObject::AddInteger(std::string_view key, int32_t value) {
  AddObject(key, std::make_unique<TzoPDFIntegerObject>(value));
}

void TzoPDFDictObject::AddReal(std::string_view key, double value) {
  AddObject(key, std::make_unique<TzoPDFRealObject>(value));
}

void TzoPDFDictObject::AddObject(std::string_view key, std::unique_ptr<TzoPDFObject> obj) {
  Append(std::string(key), std::move(obj));
}

void TzoPDFDictObject::SetValue(std::string_view key, std::unique_ptr<TzoPDFObject> obj) {
  int32_t i = IndexOf(key);
  if (i < 0) {
    AddObject(key, std::move(obj));
    return;
  }
  Replace(entries_[static_cast<size_t>(i)].value, std::move(obj));  // the old value is freed here
}

void TzoPDFDictObject::SetName(std::string_view key, std::string_view text) {
  SetValue(key, std::make_unique<TzoPDFNameObject>(std::string(text)));
}

void TzoPDFDictObject::SetBoolean(std::string_view key, bool value) {
  SetValue(key, std::make_unique<TzoPDFBooleanObject>(value));
}

void TzoPDFDictObject::SetInteger(std::string_view key, int32_t value) {
  SetValue(key, std::make_unique<TzoPDFIntegerObject>(value));
}

void TzoPDFDictObject::SetEntry(const TzoPDFNameObject& keyObj, std::unique_ptr<TzoPDFObject> obj) {
  std::string key = keyObj.Text();  // keyObj may be a key of this very dictionary
  SetValue(key, std::move(obj));
}

std::unique_ptr<TzoPDFObject> TzoPDFDictObject::SetValueAt(int32_t index,
                                                           std::unique_ptr<TzoPDFObject> obj) {
  if (index < 0 || index >= Count()) RaiseMsg<EInvalidIndex>(SIndexOutOfBounds);
  return Replace(entries_[static_cast<size_t>(index)].value, std::move(obj));
}

void TzoPDFDictObject::Delete(int32_t index) {
  CheckIndex(index);
  Entry old = std::move(entries_[static_cast<size_t>(index)]);
  entries_.erase(entries_.begin() + index);
}

void TzoPDFDictObject::Remove(std::string_view key) {
  int32_t i = IndexOf(key);
  if (i >= 0) Delete(i);
}

void TzoPDFDictObject::MergeFrom(const TzoPDFDictObject* other) {
  if (!other) return;
  const int32_t n = other->Count();  // fixed first: other may be this dictionary
  for (int32_t i = 0; i < n; ++i) {
    const Entry& e = other->entries_[static_cast<size_t>(i)];
    std::string key = e.key.Text();
    SetValue(key, CloneOrNull(e.value.get()));
  }
}

std::unique_ptr<TzoPDFObject> TzoPDFDictObject::Clone() const {
  auto copy = std::make_unique<TzoPDFDictObject>();
  copy->entries_.reserve(entries_.size());
  for (const Entry& e : entries_) {
    std::unique_ptr<TzoPDFObject> value = CloneOrNull(e.value.get());
    copy->Append(e.key.Text(), std::move(value));
  }
  return copy;
}

// ---- TzoPDFStreamObject ----

TzoPDFStreamObject::TzoPDFStreamObject(std::unique_ptr<TzoPDFDictObject> dict,
                                       std::unique_ptr<rtl::TMemoryStream> data)
    : TzoPDFObject(kObjectType),
      dict_(dict ? std::move(dict) : std::make_unique<TzoPDFDictObject>()),
      data_(std::move(data)) {}

void TzoPDFStreamObject::SetData(std::unique_ptr<rtl::TMemoryStream> data) {
  Replace(data_, std::move(data));
}

std::unique_ptr<TzoPDFObject> TzoPDFStreamObject::Clone() const {
  std::unique_ptr<rtl::TMemoryStream> data;
  if (data_) {
    data = std::make_unique<rtl::TMemoryStream>();
    data->Buffer() = data_->Buffer();
    data->SetCurrentPosition(data->Size());
  }
  return std::make_unique<TzoPDFStreamObject>(CloneOf(*dict_), std::move(data));
}

// ---- References and indirect objects ----

std::unique_ptr<TzoPDFObject> TzoPDFIndirectReference::Clone() const {
  return std::make_unique<TzoPDFIndirectReference>(documentNumber_, objectNumber_, generation_);
}

TzoPDFIndirectObject::TzoPDFIndirectObject(int32_t documentNumber, int32_t objectNumber,
                                           uint16_t generation,
                                           std::unique_ptr<TzoPDFObject> directObject)
    : TzoPDFObject(kObjectType),
      documentNumber_(documentNumber),
      objectNumber_(objectNumber),
      generation_(generation),
      direct_(std::move(directObject)) {}

std::unique_ptr<TzoPDFIndirectObject> TzoPDFIndirectObject::CreateReferenced(
    int32_t documentNumber, int32_t objectNumber, uint16_t generation, bool addRef,
    std::unique_ptr<TzoPDFObject> directObject) {
  auto obj = std::make_unique<TzoPDFIndirectObject>(documentNumber, objectNumber, generation,
                                                    std::move(directObject));
  if (addRef) obj->AddRef();
  return obj;
}

void TzoPDFIndirectObject::AddRef() {
  if (refCount_ < std::numeric_limits<int32_t>::max()) ++refCount_;
}

void TzoPDFIndirectObject::SetDirectObject(std::unique_ptr<TzoPDFObject> obj) {
  Replace(direct_, std::move(obj));
}

std::unique_ptr<TzoPDFObject> TzoPDFIndirectObject::Clone() const {
  auto copy = std::make_unique<TzoPDFIndirectObject>(documentNumber_, objectNumber_, generation_,
                                                     CloneOrNull(direct_.get()));
  copy->outputNumber_ = outputNumber_;
  copy->refCount_ = refCount_;
  return copy;
}
