#include "pdf/core/zoPDFTypes.h"

#include <algorithm>
#include <array>
#include <limits>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"

// ---- TzoPDFObjectStore ----

TzoPDFObjectStore::~TzoPDFObjectStore() {
  // The one-element arrays made for Names lend their element: take it out before they go.
  for (auto& [name, arr] : nameArrays_)
    if (arr->Count() > 0 && arr->GetItem(0) == name) (void)arr->SetItem(0, nullptr).release();
}

int32_t TzoPDFObjectStore::NextObjectNumber() {
  int64_t n =
      std::max<int64_t>({lastNumber_, highestNumber_, highestIssued_, int64_t{xrefSize_} - 1, 0}) +
      1;
  if (n > std::numeric_limits<int32_t>::max()) RaiseMsg<EInvalidObjectNo>(SInvalidObjectNumber);
  lastNumber_ = static_cast<int32_t>(n);
  highestIssued_ = lastNumber_;
  return lastNumber_;
}

TzoPDFIndirectObject* TzoPDFObjectStore::Add(std::unique_ptr<TzoPDFIndirectObject> indObj) {
  if (!indObj) RaiseMsg<ENullObjectError>(SExpectedNull);
  ReserveOneMore(owned_);  // the push below cannot fail once the list holds the object
  TzoPDFIndirectObject* obj = indObj.get();
  items_.Add(obj->Key(), obj);  // EInvalidID for a negative number, before anything changed
  owned_.push_back(std::move(indObj));
  highestNumber_ = std::max(highestNumber_, obj->ObjectNumber());
  return obj;
}

TzoPDFIndirectObject* TzoPDFObjectStore::Find(const TzoPDFObject* obj) const {
  if (!obj) return nullptr;
  TzoObjectKey key;
  if (const auto* ref = obj->AsReference())
    key = ref->Key();
  else if (const auto* ind = obj->AsIndirect())
    key = ind->Key();
  else
    return nullptr;
  int32_t i = items_.IndexOfID(key);
  return i < 0 ? nullptr : static_cast<TzoPDFIndirectObject*>(items_.GetObject(i));
}

int32_t TzoPDFObjectStore::IndexOf(int32_t documentNumber, int32_t objectNumber,
                                   uint16_t generation) const {
  return items_.IndexOfID(MakeObjectKey(documentNumber, objectNumber, generation));
}

TzoPDFIndirectObject* TzoPDFObjectStore::GetItem(int32_t index) const {
  return static_cast<TzoPDFIndirectObject*>(items_.GetObject(index));
}

// Every reference followed lands on a stored object; more hops than there are objects means the
// chain has come back to one it passed, and would go round for ever.
TzoPDFObject* TzoPDFObjectStore::Follow(TzoPDFObject* obj) const {
  int64_t hops = 0;
  while (obj && obj->IsIndirectReference()) {
    if (++hops > Count()) return nullptr;
    TzoPDFIndirectObject* target = Find(obj);
    if (!target) return nullptr;
    obj = target->DirectObject();
  }
  return obj;
}

TzoPDFObject* TzoPDFObjectStore::Resolve(TzoPDFObject* obj) const {
  int64_t hops = 0;
  while (obj) {
    if (obj->IsIndirectReference()) {
      if (++hops > Count()) return nullptr;
      TzoPDFIndirectObject* target = Find(obj);
      if (!target) return nullptr;
      obj = target->DirectObject();
    } else if (auto* ind = obj->AsIndirect()) {
      obj = ind->DirectObject();
    } else {
      return obj;
    }
  }
  return nullptr;
}

template <class T>
T* TzoPDFObjectStore::GetTyped(TzoPDFObject* obj) const {
  obj = Follow(obj);
  if (!obj) return nullptr;
  if (T* t = obj->As<T>()) return t;
  RaiseMsg<EUnexpectedObjectError>(SUnexpectedObject);
}

TzoPDFDictObject* TzoPDFObjectStore::GetDict(TzoPDFObject* obj) const {
  return GetTyped<TzoPDFDictObject>(obj);
}
TzoPDFIntegerObject* TzoPDFObjectStore::GetInteger(TzoPDFObject* obj) const {
  return GetTyped<TzoPDFIntegerObject>(obj);
}
TzoPDFNameObject* TzoPDFObjectStore::GetName(TzoPDFObject* obj) const {
  return GetTyped<TzoPDFNameObject>(obj);
}
TzoPDFStringObject* TzoPDFObjectStore::GetString(TzoPDFObject* obj) const {
  return GetTyped<TzoPDFStringObject>(obj);
}

TzoPDFArrayObject* TzoPDFObjectStore::GetArray(TzoPDFObject* obj) {
  obj = Follow(obj);
  if (!obj || obj->IsNull()) return nullptr;
  if (auto* arr = obj->AsArray()) return arr;
  if (auto* name = obj->AsName()) {
    auto it = nameArrays_.find(name);
    if (it != nameArrays_.end() && it->second->Count() == 1 && it->second->GetItem(0) == name)
      return it->second.get();
    auto arr = std::make_unique<TzoPDFArrayObject>();
    arr->Add(nullptr);
    // Lent: taken back out in the destructor. SetItem of a valid index does not throw.
    (void)arr->SetItem(0, std::unique_ptr<TzoPDFObject>(name));
    TzoPDFArrayObject* result = arr.get();
    if (it != nameArrays_.end()) {
      // An array left from an earlier Name at this address: it no longer lends the Name.
      TzoPDFArrayObject* old = it->second.get();
      if (old->Count() > 0 && old->GetItem(0) == name) (void)old->SetItem(0, nullptr).release();
      it->second = std::move(arr);
    } else {
      try {
        nameArrays_.emplace(name, std::move(arr));
      } catch (...) {
        (void)result->SetItem(0, nullptr).release();
        throw;
      }
    }
    return result;
  }
  RaiseMsg<EUnexpectedObjectError>(SUnexpectedObject);
}

// ---- TzoPDFViewerPreferences ----

TzoPDFViewerPreferences::TzoPDFViewerPreferences() : dict_(std::make_unique<TzoPDFDictObject>()) {}

void TzoPDFViewerPreferences::SetDict(std::unique_ptr<TzoPDFDictObject> dict) {
  if (dict && dict.get() == dict_.get()) {
    (void)dict.release();
    return;
  }
  dict_ = std::move(dict);
}

bool TzoPDFViewerPreferences::GetFlag(std::string_view key) const {
  if (!dict_) return false;
  const TzoPDFObject* v = dict_->GetValue(key);
  const TzoPDFBooleanObject* b = v ? v->AsBoolean() : nullptr;
  return b && b->Value();
}

void TzoPDFViewerPreferences::SetFlag(std::string_view key, bool value) {
  if (value) {
    if (!dict_) dict_ = std::make_unique<TzoPDFDictObject>();
    dict_->SetBoolean(key, true);
  } else if (dict_) {
    dict_->Remove(key);
  }
}

std::string TzoPDFViewerPreferences::GetDictText() const {
  static constexpr std::array<std::string_view, 12> kKeys = {"/HideToolbar",
                                                             "/HideMenubar",
                                                             "/HideWindowUI",
                                                             "/FitWindow",
                                                             "/CenterWindow",
                                                             "/DisplayDocTitle",
                                                             "/NonFullScreenPageMode",
                                                             "/Direction",
                                                             "/ViewArea",
                                                             "/ViewClip",
                                                             "/PrintArea",
                                                             "/PrintClip"};
  if (!dict_ || dict_->Count() == 0) return "";
  std::string lines;
  for (std::string_view key : kKeys) {
    const TzoPDFObject* v = dict_->GetValue(key);
    std::string text;
    if (v) {
      if (const auto* b = v->AsBoolean())
        text = b->Value() ? "true" : "";
      else if (const auto* n = v->AsName())
        text = n->Text();
    }
    if (text.empty()) continue;
    lines.append(key);
    lines += ' ';
    lines += text;
    lines += "\r\n";
  }
  if (lines.empty()) return "";
  return "<<\r\n" + lines + ">>";
}

// ---- TzoPDFCatalog ----

TzoPDFCatalog::TzoPDFCatalog() : viewerPreferences_(std::make_unique<TzoPDFViewerPreferences>()) {}

void TzoPDFCatalog::SetViewerPreferencesDict(std::unique_ptr<TzoPDFDictObject> dict) {
  viewerPreferences_->SetDict(std::move(dict));
}
