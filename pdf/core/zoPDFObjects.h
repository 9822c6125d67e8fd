// The PDF object model: one base class with a one-byte type code, twelve concrete kinds, deep copy
// through Clone, and containers that own what they hold (through std::unique_ptr). Getters lend
// raw pointers that stay owned by the container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoObjectPool.h"
#include "platform/RtlClasses.h"

enum TzoPDFObjectType : uint8_t {
  otBoolean = 0,
  otInteger = 1,
  otInt64 = 2,
  otReal = 3,
  otString = 4,
  otName = 5,
  otArray = 6,
  otDictionary = 7,
  otStream = 8,
  otNull = 9,
  otIndirectReference = 10,
  otIndirectObject = 11,
};

class TzoPDFBooleanObject;
class TzoPDFIntegerObject;
class TzoPDFInt64Object;
class TzoPDFRealObject;
class TzoPDFStringObject;
class TzoPDFNameObject;
class TzoPDFArrayObject;
class TzoPDFDictObject;
class TzoPDFStreamObject;
class TzoPDFNullObject;
class TzoPDFIndirectReference;
class TzoPDFIndirectObject;

class TzoPDFObject : public rtl::TObject {
 public:
  TzoPDFObject(const TzoPDFObject&) = delete;
  TzoPDFObject& operator=(const TzoPDFObject&) = delete;

  // Nodes live in the object pool; the deleting destructor gives the size of the node's kind.
  static void* operator new(std::size_t size) { return ObjectPoolAllocate(size); }
  static void operator delete(void* node, std::size_t size) noexcept { ObjectPoolFree(node, size); }

  TzoPDFObjectType ObjectType() const { return type_; }

  bool IsBoolean() const { return type_ == otBoolean; }
  bool IsInteger() const { return type_ == otInteger; }
  bool IsInt64() const { return type_ == otInt64; }
  bool IsReal() const { return type_ == otReal; }
  bool IsString() const { return type_ == otString; }
  bool IsName() const { return type_ == otName; }
  bool IsArray() const { return type_ == otArray; }
  bool IsDictionary() const { return type_ == otDictionary; }
  bool IsStream() const { return type_ == otStream; }
  bool IsNull() const { return type_ == otNull; }
  bool IsIndirectReference() const { return type_ == otIndirectReference; }
  bool IsIndirectObject() const { return type_ == otIndirectObject; }

  // "Boolean Object", "Integer Object", ... (the 64-bit integer kind: "Int64 Object").
  std::string GetTypeName() const;

  // A new, independent deep copy that the caller owns.
  virtual std::unique_ptr<TzoPDFObject> Clone() const = 0;

  // This object as kind T, or null when it is of another kind.
  template <class T>
  T* As() {
    return type_ == T::kObjectType ? static_cast<T*>(this) : nullptr;
  }
  template <class T>
  const T* As() const {
    return type_ == T::kObjectType ? static_cast<const T*>(this) : nullptr;
  }
  TzoPDFBooleanObject* AsBoolean() { return As<TzoPDFBooleanObject>(); }
  TzoPDFIntegerObject* AsInteger() { return As<TzoPDFIntegerObject>(); }
  TzoPDFInt64Object* AsInt64() { return As<TzoPDFInt64Object>(); }
  TzoPDFRealObject* AsReal() { return As<TzoPDFRealObject>(); }
  TzoPDFStringObject* AsString() { return As<TzoPDFStringObject>(); }
  TzoPDFNameObject* AsName() { return As<TzoPDFNameObject>(); }
  TzoPDFArrayObject* AsArray() { return As<TzoPDFArrayObject>(); }
  TzoPDFDictObject* AsDict() { return As<TzoPDFDictObject>(); }
  TzoPDFStreamObject* AsStream() { return As<TzoPDFStreamObject>(); }
  TzoPDFNullObject* AsNull() { return As<TzoPDFNullObject>(); }
  TzoPDFIndirectReference* AsReference() { return As<TzoPDFIndirectReference>(); }
  TzoPDFIndirectObject* AsIndirect() { return As<TzoPDFIndirectObject>(); }
  const TzoPDFBooleanObject* AsBoolean() const { return As<TzoPDFBooleanObject>(); }
  const TzoPDFIntegerObject* AsInteger() const { return As<TzoPDFIntegerObject>(); }
  const TzoPDFInt64Object* AsInt64() const { return As<TzoPDFInt64Object>(); }
  const TzoPDFRealObject* AsReal() const { return As<TzoPDFRealObject>(); }
  const TzoPDFStringObject* AsString() const { return As<TzoPDFStringObject>(); }
  const TzoPDFNameObject* AsName() const { return As<TzoPDFNameObject>(); }
  const TzoPDFArrayObject* AsArray() const { return As<TzoPDFArrayObject>(); }
  const TzoPDFDictObject* AsDict() const { return As<TzoPDFDictObject>(); }
  const TzoPDFStreamObject* AsStream() const { return As<TzoPDFStreamObject>(); }
  const TzoPDFNullObject* AsNull() const { return As<TzoPDFNullObject>(); }
  const TzoPDFIndirectReference* AsReference() const { return As<TzoPDFIndirectReference>(); }
  const TzoPDFIndirectObject* AsIndirect() const { return As<TzoPDFIndirectObject>(); }

 protected:
  explicit TzoPDFObject(TzoPDFObjectType type) : type_(type) {}

 private:
  const TzoPDFObjectType type_;
};

using TzoPDFObjectPtr = std::unique_ptr<TzoPDFObject>;

// Takes the object out of p when it is of kind T (p is then empty); else null, p unchanged.
template <class T>
std::unique_ptr<T> TakeAs(std::unique_ptr<TzoPDFObject>& p) {
  if (!p || p->ObjectType() != T::kObjectType) return nullptr;
  return std::unique_ptr<T>(static_cast<T*>(p.release()));
}

// Clone with the static kind kept.
template <class T>
std::unique_ptr<T> CloneOf(const T& obj) {
  return std::unique_ptr<T>(static_cast<T*>(obj.Clone().release()));
}
// Clone of a possibly null object (null gives null).
inline std::unique_ptr<TzoPDFObject> CloneOrNull(const TzoPDFObject* obj) {
  return obj ? obj->Clone() : nullptr;
}

// ---- Scalars ----

class TzoPDFBooleanObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otBoolean;
  explicit TzoPDFBooleanObject(bool value) : TzoPDFObject(kObjectType), value_(value) {}
  bool Value() const { return value_; }
  void SetValue(bool value) { value_ = value; }
  std::string GetText() const { return value_ ? "true" : "false"; }
  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  bool value_;
};

class TzoPDFIntegerObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otInteger;
  explicit TzoPDFIntegerObject(int32_t value) : TzoPDFObject(kObjectType), value_(value) {}
  int32_t Value() const { return value_; }
  void SetValue(int32_t value) { value_ = value; }
  std::string GetText() const;  // decimal, "-" for negative values
  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  int32_t value_;
};

class TzoPDFInt64Object : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otInt64;
  explicit TzoPDFInt64Object(int64_t value) : TzoPDFObject(kObjectType), value_(value) {}
  int64_t Value() const { return value_; }
  void SetValue(int64_t value) { value_ = value; }
  std::string GetText() const;
  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  int64_t value_;
};

class TzoPDFRealObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otReal;
  explicit TzoPDFRealObject(double value) : TzoPDFObject(kObjectType), value_(value) {}
  double Value() const { return value_; }
  void SetValue(double value) { value_ = value; }
  // Ten significant digits, exactly ten decimals, fixed notation (RealToPDFText); NaN and
  // infinities raise rtl::EConvertError.
  std::string GetText() const;
  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  double value_;
};

// Text holds the delimiters: "(" bytes ")" for a literal string (escapes already resolved), "<"
// digits ">" for a hex string (IsHex true).
class TzoPDFStringObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otString;
  explicit TzoPDFStringObject(std::string text, bool isHex = false)
      : TzoPDFObject(kObjectType), text_(std::move(text)), isHex_(isHex) {}
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }
  bool IsHex() const { return isHex_; }
  void SetIsHex(bool isHex) { isHex_ = isHex; }
  // Text without its first and last character; "" when Text has fewer than two.
  std::string GetValue() const;
  // Hex: PDFHexToWideString of the digits; literal: GetValue from the ANSI code page.
  std::u16string GetWideValue() const;
  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  std::string text_;
  bool isHex_;
};

// Text is the name with its "/" exactly as written ("#" escapes are not resolved).
class TzoPDFNameObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otName;
  explicit TzoPDFNameObject(std::string text) : TzoPDFObject(kObjectType), text_(std::move(text)) {}
  // The text moves to the new name: for containers that hold names in place.
  TzoPDFNameObject(TzoPDFNameObject&& other) noexcept
      : TzoPDFObject(kObjectType), text_(std::move(other.text_)) {}
  TzoPDFNameObject& operator=(TzoPDFNameObject&& other) noexcept {
    text_ = std::move(other.text_);
    return *this;
  }
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }
  // Text without its first byte.
  std::string GetBareName() const { return text_.empty() ? std::string() : text_.substr(1); }
  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  std::string text_;
};

class TzoPDFNullObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otNull;
  TzoPDFNullObject() : TzoPDFObject(kObjectType) {}
  std::unique_ptr<TzoPDFObject> Clone() const override;
};

// ---- Containers ----

// Elements are owned; an element may be null. Bad indexes raise rtl::EListError
// "List index out of bounds (%d)" (GetItem answers null instead); nothing is changed then.
class TzoPDFArrayObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otArray;
  TzoPDFArrayObject() : TzoPDFObject(kObjectType) {}

  void Add(std::unique_ptr<TzoPDFObject> obj);
  void AddInteger(int32_t value);
  // Before index; index = count appends.
  void Insert(int32_t index, std::unique_ptr<TzoPDFObject> obj);
  // Removes and frees element index.
  void Delete(int32_t index);
  int32_t GetCount() const { return static_cast<int32_t>(items_.size()); }
  int32_t Count() const { return GetCount(); }
  // Room for count elements in all, so that adding up to that many allocates nothing more.
  void Reserve(int32_t count);
  // Element index, or null when index is out of range.
  TzoPDFObject* GetItem(int32_t index) const;
  // Puts obj at index and hands the old element back to the caller (SetItem(i, nullptr) takes an
  // element out). Putting back the very object that stands there changes nothing (null returned).
  std::unique_ptr<TzoPDFObject> SetItem(int32_t index, std::unique_ptr<TzoPDFObject> obj);

  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  void CheckIndex(int32_t index, int32_t limit) const;
  std::vector<std::unique_ptr<TzoPDFObject>, TzoPoolAllocator<std::unique_ptr<TzoPDFObject>>>
      items_;
};

// Entries (key, value) in insertion order; keys are Name objects, given to the operations as the
// name text with its "/" ("/Type"), compared byte for byte. A key may stand twice; lookups see the
// first. Values are owned and may be null. The keys are held in the entries themselves: a key
// lent by GetKeyAt lasts until the dictionary gains or loses an entry.
class TzoPDFDictObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otDictionary;
  TzoPDFDictObject() : TzoPDFObject(kObjectType) {}

  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  int32_t GetCount() const { return Count(); }
  // Room for count entries in all, so that adding up to that many allocates nothing more.
  void Reserve(int32_t count);

  // Index of the first entry with this key; -1 when none.
  int32_t IndexOf(std::string_view key) const;
  // Value of the first entry with this key, or null.
  TzoPDFObject* GetValue(std::string_view key) const;
  // Key / value of entry index; rtl::EListError for a bad index.
  TzoPDFNameObject* GetKeyAt(int32_t index) const;
  TzoPDFObject* GetValueAt(int32_t index) const;

  // Appends the pair without looking for an existing key (the key's text is taken, the key object
  // freed). A null key raises EUnexpectedObjectError.
  void AddPair(std::unique_ptr<TzoPDFNameObject> key, std::unique_ptr<TzoPDFObject> value);
  // Appends key -> Name(value); nothing at all when value is empty.
  void AddName(std::string_view key, std::string_view value);
  void AddInteger(std::string_view key, int32_t value);
  void AddReal(std::string_view key, double value);
  void AddObject(std::string_view key, std::unique_ptr<TzoPDFObject> obj);
  // AddObject with the key's text taken over rather than copied (for a reader that made it).
  void AppendEntry(std::string key, std::unique_ptr<TzoPDFObject> obj) {
    Append(std::move(key), std::move(obj));
  }

  // Replaces (and frees) the value of the first entry with this key, keeping its place; else
  // appends key -> obj.
  void SetValue(std::string_view key, std::unique_ptr<TzoPDFObject> obj);
  void SetName(std::string_view key, std::string_view text);  // any text, also ""
  void SetBoolean(std::string_view key, bool value);
  void SetInteger(std::string_view key, int32_t value);
  // SetValue with keyObj's text; keyObj itself is not taken.
  void SetEntry(const TzoPDFNameObject& keyObj, std::unique_ptr<TzoPDFObject> obj);
  // Puts obj as value of entry index and hands the old value back to the caller. An index outside
  // 0 .. Count-1 raises EInvalidIndex "Index Out Of Bounds!". Putting back the very object that
  // stands there changes nothing (null returned).
  std::unique_ptr<TzoPDFObject> SetValueAt(int32_t index, std::unique_ptr<TzoPDFObject> obj);

  // Removes entry index, freeing its key and value; rtl::EListError for a bad index.
  void Delete(int32_t index);
  // Delete of the first entry with this key; nothing when there is none.
  void Remove(std::string_view key);
  void RemoveKey(std::string_view key) { Remove(key); }

  // For each entry of other in order: SetEntry with its key and a clone of its value. Nothing
  // when other is null; other is not changed.
  void MergeFrom(const TzoPDFDictObject* other);

  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  struct Entry {
    Entry(std::string k, std::unique_ptr<TzoPDFObject> v)
        : key(std::move(k)), value(std::move(v)) {}
    TzoPDFNameObject key;
    std::unique_ptr<TzoPDFObject> value;
  };
  // Appends key -> value, making room for it first (a list index error past the largest count).
  void Append(std::string key, std::unique_ptr<TzoPDFObject> value);
  void CheckIndex(int32_t index) const;
  std::vector<Entry, TzoPoolAllocator<Entry>> entries_;
};

// A stream: its dictionary (owned, never null) and its data (owned; null until the engine reads
// it). The data are the bytes as stored (still encoded by the filters).
class TzoPDFStreamObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otStream;
  // A null dict is taken as an empty dictionary.
  explicit TzoPDFStreamObject(std::unique_ptr<TzoPDFDictObject> dict,
                              std::unique_ptr<rtl::TMemoryStream> data = nullptr);

  TzoPDFDictObject* Dict() const { return dict_.get(); }
  rtl::TMemoryStream* Data() const { return data_.get(); }
  // Replaces (and frees) the data; giving the very stream that stands there changes nothing.
  void SetData(std::unique_ptr<rtl::TMemoryStream> data);
  std::unique_ptr<rtl::TMemoryStream> TakeData() { return std::move(data_); }

  // A clone of the dictionary and a copy of all of the data (positioned at its end), or no data
  // when there is none. The source is not moved.
  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  std::unique_ptr<TzoPDFDictObject> dict_;
  std::unique_ptr<rtl::TMemoryStream> data_;
};

// ---- References and indirect objects ----

class TzoPDFIndirectReference : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otIndirectReference;
  TzoPDFIndirectReference(int32_t documentNumber, int32_t objectNumber, uint16_t generation)
      : TzoPDFObject(kObjectType),
        documentNumber_(documentNumber),
        objectNumber_(objectNumber),
        generation_(generation) {}

  int32_t DocumentNumber() const { return documentNumber_; }
  void SetDocumentNumber(int32_t v) { documentNumber_ = v; }
  int32_t ObjectNumber() const { return objectNumber_; }
  void SetObjectNumber(int32_t v) { objectNumber_ = v; }
  uint16_t Generation() const { return generation_; }
  void SetGeneration(uint16_t v) { generation_ = v; }
  // MakeObjectKey of the three numbers.
  TzoObjectKey Key() const { return TzoObjectKey{documentNumber_, objectNumber_, generation_}; }

  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  int32_t documentNumber_;
  int32_t objectNumber_;
  uint16_t generation_;
};

class TzoPDFIndirectObject : public TzoPDFObject {
 public:
  static constexpr TzoPDFObjectType kObjectType = otIndirectObject;
  // RefCount 0, OutputNumber 0; directObject is taken over (may be null).
  TzoPDFIndirectObject(int32_t documentNumber, int32_t objectNumber, uint16_t generation,
                       std::unique_ptr<TzoPDFObject> directObject);
  // As the constructor, then AddRef once when addRef is true.
  static std::unique_ptr<TzoPDFIndirectObject> CreateReferenced(
      int32_t documentNumber, int32_t objectNumber, uint16_t generation, bool addRef,
      std::unique_ptr<TzoPDFObject> directObject);

  int32_t DocumentNumber() const { return documentNumber_; }
  void SetDocumentNumber(int32_t v) { documentNumber_ = v; }
  int32_t ObjectNumber() const { return objectNumber_; }
  void SetObjectNumber(int32_t v) { objectNumber_ = v; }
  uint16_t Generation() const { return generation_; }
  void SetGeneration(uint16_t v) { generation_ = v; }
  TzoObjectKey Key() const { return TzoObjectKey{documentNumber_, objectNumber_, generation_}; }

  // The object number given when a document is written; 0 = none yet.
  int32_t OutputNumber() const { return outputNumber_; }
  void SetOutputNumber(int32_t v) { outputNumber_ = v; }
  int32_t RefCount() const { return refCount_; }
  void SetRefCount(int32_t v) { refCount_ = v; }
  // RefCount + 1 (it stops at the largest 32-bit value).
  void AddRef();

  TzoPDFObject* DirectObject() const { return direct_.get(); }
  // Replaces (and frees) the direct object; giving the very object that stands there changes
  // nothing.
  void SetDirectObject(std::unique_ptr<TzoPDFObject> obj);
  std::unique_ptr<TzoPDFObject> TakeDirectObject() { return std::move(direct_); }

  std::unique_ptr<TzoPDFObject> Clone() const override;

 private:
  int32_t documentNumber_;
  int32_t objectNumber_;
  uint16_t generation_;
  int32_t outputNumber_ = 0;
  int32_t refCount_ = 0;
  std::unique_ptr<TzoPDFObject> direct_;
};
