// The records with which the document engine keeps a PDF document in memory: cross-reference
// entries, the store of a document's indirect objects with its resolving getters, the viewer
// preferences, and what the engine carries over from the catalog and the trailer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoPDFObjects.h"
#include "platform/RtlClasses.h"

// ---- Cross-reference entries ----

// One entry of a classic cross-reference table (one 20-byte line).
class TzoXRefItem {
 public:
  TzoXRefItem() = default;
  TzoXRefItem(int64_t offset, int32_t generation, char kind, int32_t objectNumber)
      : Generation(generation), Kind(kind), ObjectNumber(objectNumber), Offset(offset) {}

  int32_t Generation = 0;
  char Kind = 'f';  // 'n' in use, 'f' free
  int32_t ObjectNumber = 0;
  int64_t Offset = 0;  // from the start of the file

  bool InUse() const { return Kind == 'n'; }
  // True when Offset points into data of dataSize bytes.
  bool OffsetWithin(int64_t dataSize) const { return Offset >= 0 && Offset < dataSize; }
};

// One entry of a cross-reference stream, its three fields as read with the stream's /W widths.
class TzoXRefStmItem {
 public:
  TzoXRefStmItem() = default;
  TzoXRefStmItem(int32_t entryType, int64_t offsetOrStreamNumber, int64_t generationOrIndex)
      : EntryType(entryType),
        OffsetOrStreamNumber(offsetOrStreamNumber),
        GenerationOrIndex(generationOrIndex) {}

  // 0 free, 1 object at a byte offset, 2 object inside an object stream.
  int32_t EntryType = 0;
  // The byte offset (type 1) or the object number of the object stream (type 2).
  int64_t OffsetOrStreamNumber = 0;
  // The generation (type 1) or the index of the object within the object stream (type 2).
  int64_t GenerationOrIndex = 0;

  // True for a type 1 entry whose offset points into data of dataSize bytes.
  bool OffsetWithin(int64_t dataSize) const {
    return EntryType == 1 && OffsetOrStreamNumber >= 0 && OffsetOrStreamNumber < dataSize;
  }
};

// ---- TzoPDFObjectStore ----

// The indirect objects of one document, keyed by (document number, object number, generation).
// The store owns them and lends them; lookups by key take constant time. The first object added
// under a key is the one found.
class TzoPDFObjectStore {
 public:
  TzoPDFObjectStore() = default;
  ~TzoPDFObjectStore();
  TzoPDFObjectStore(const TzoPDFObjectStore&) = delete;
  TzoPDFObjectStore& operator=(const TzoPDFObjectStore&) = delete;

  // The last object number handed out (0 at creation).
  int32_t LastNumber() const { return lastNumber_; }
  void SetLastNumber(int32_t v) { lastNumber_ = v; }
  // The /Size of the file's cross-reference data (0 when not told): numbers below it are taken.
  int32_t XRefSize() const { return xrefSize_; }
  void SetXRefSize(int32_t v) { xrefSize_ = v; }
  // The highest object number added so far (0 when none).
  int32_t HighestNumber() const { return highestNumber_; }

  // A number for a new object: one above LastNumber, above every number added or handed out
  // before, and at least XRefSize; it becomes the new LastNumber. EInvalidObjectNo "Invalid
  // object number" when the numbers are used up.
  int32_t NextObjectNumber();

  // Stores the object under its key and takes it over; returns it. A null object raises
  // ENullObjectError "Expected PDF null object", a negative number EInvalidID; the store is
  // unchanged then.
  TzoPDFIndirectObject* Add(std::unique_ptr<TzoPDFIndirectObject> indObj);

  // The stored object with the key of obj (a reference or an indirect object), or null.
  TzoPDFIndirectObject* Find(const TzoPDFObject* obj) const;
  int32_t IndexOf(int32_t documentNumber, int32_t objectNumber, uint16_t generation) const;
  int32_t IndexOfKey(const TzoObjectKey& key) const { return items_.IndexOfID(key); }
  int32_t Count() const { return items_.Count(); }
  // rtl::Exception "List index out of bounds (%d)" outside 0 .. Count - 1.
  TzoPDFIndirectObject* GetItem(int32_t index) const;
  const TzoObjectList& Items() const { return items_; }

  // The direct object behind obj: references are followed (null when a target is missing or the
  // references run in a circle), an indirect object gives what its direct object resolves to; any
  // other object is itself.
  TzoPDFObject* Resolve(TzoPDFObject* obj) const;

  // The object of the kind wanted, following references: null for null, a missing target or
  // references that run in a circle; any object of another kind (an indirect object included)
  // raises EUnexpectedObjectError "Unexpected PDF object encountered".
  TzoPDFDictObject* GetDict(TzoPDFObject* obj) const;
  TzoPDFIntegerObject* GetInteger(TzoPDFObject* obj) const;
  TzoPDFNameObject* GetName(TzoPDFObject* obj) const;
  TzoPDFStringObject* GetString(TzoPDFObject* obj) const;
  // As the getters above; in addition a Null object gives null and a Name a one-element array
  // holding that very Name. The store keeps that array (one per Name) until it is destroyed; the
  // array lends the Name and never frees it. Callers only read such an array.
  TzoPDFArrayObject* GetArray(TzoPDFObject* obj);

 private:
  // Follows references from obj until an object that is no reference; null for a missing target
  // or a circle.
  TzoPDFObject* Follow(TzoPDFObject* obj) const;
  template <class T>
  T* GetTyped(TzoPDFObject* obj) const;

  int32_t lastNumber_ = 0;
  int32_t xrefSize_ = 0;
  int32_t highestNumber_ = 0;
  int32_t highestIssued_ = 0;
  TzoObjectList items_;
  std::vector<std::unique_ptr<TzoPDFIndirectObject>> owned_;
  std::unordered_map<const TzoPDFNameObject*, std::unique_ptr<TzoPDFArrayObject>> nameArrays_;
};

// ---- TzoPDFViewerPreferences ----

// The catalog's /ViewerPreferences. Each flag reads true exactly when its key holds a Boolean
// true (references are not followed); setting it true stores a Boolean true, false removes the
// key.
class TzoPDFViewerPreferences : public rtl::TPersistent {
 public:
  TzoPDFViewerPreferences();

  // The dictionary (owned; empty at creation).
  TzoPDFDictObject* Dict() const { return dict_.get(); }
  // Puts dict in place of the dictionary (a null dict reads as empty).
  void SetDict(std::unique_ptr<TzoPDFDictObject> dict);

  bool HideToolbar() const { return GetFlag("/HideToolbar"); }
  void SetHideToolbar(bool v) { SetFlag("/HideToolbar", v); }
  bool HideMenubar() const { return GetFlag("/HideMenubar"); }
  void SetHideMenubar(bool v) { SetFlag("/HideMenubar", v); }
  bool HideWindowUI() const { return GetFlag("/HideWindowUI"); }
  void SetHideWindowUI(bool v) { SetFlag("/HideWindowUI", v); }
  bool FitWindow() const { return GetFlag("/FitWindow"); }
  void SetFitWindow(bool v) { SetFlag("/FitWindow", v); }
  bool CenterWindow() const { return GetFlag("/CenterWindow"); }
  void SetCenterWindow(bool v) { SetFlag("/CenterWindow", v); }
  bool DisplayDocTitle() const { return GetFlag("/DisplayDocTitle"); }
  void SetDisplayDocTitle(bool v) { SetFlag("/DisplayDocTitle", v); }

  // The dictionary's text for the catalog: "<<\r\n", one line "key value\r\n" per known key with
  // a true Boolean or a Name value, ">>"; "" when there is no such key.
  std::string GetDictText() const;

 private:
  bool GetFlag(std::string_view key) const;
  void SetFlag(std::string_view key, bool value);
  std::unique_ptr<TzoPDFDictObject> dict_;
};

// ---- TzoPDFCatalog ----

// What the document engine carries over from the file's catalog; every value is owned and null
// until the catalog reader stores a clone of it.
class TzoPDFCatalog {
 public:
  TzoPDFCatalog();
  TzoPDFCatalog(const TzoPDFCatalog&) = delete;
  TzoPDFCatalog& operator=(const TzoPDFCatalog&) = delete;

  TzoPDFViewerPreferences* ViewerPreferences() const { return viewerPreferences_.get(); }
  // Frees the viewer preferences' dictionary and puts dict (owned from then on) in its place.
  void SetViewerPreferencesDict(std::unique_ptr<TzoPDFDictObject> dict);

  TzoPDFObject* Names() const { return names_.get(); }
  void SetNames(std::unique_ptr<TzoPDFObject> v) { names_ = std::move(v); }
  TzoPDFObject* Outlines() const { return outlines_.get(); }
  void SetOutlines(std::unique_ptr<TzoPDFObject> v) { outlines_ = std::move(v); }
  TzoPDFObject* OpenAction() const { return openAction_.get(); }
  void SetOpenAction(std::unique_ptr<TzoPDFObject> v) { openAction_ = std::move(v); }
  TzoPDFObject* AcroForm() const { return acroForm_.get(); }
  void SetAcroForm(std::unique_ptr<TzoPDFObject> v) { acroForm_ = std::move(v); }
  TzoPDFObject* Metadata() const { return metadata_.get(); }
  void SetMetadata(std::unique_ptr<TzoPDFObject> v) { metadata_ = std::move(v); }
  TzoPDFObject* AA() const { return aa_.get(); }
  void SetAA(std::unique_ptr<TzoPDFObject> v) { aa_ = std::move(v); }
  // The whole catalog dictionary as read, for the entries that have no part above.
  TzoPDFDictObject* Dict() const { return dict_.get(); }
  void SetDict(std::unique_ptr<TzoPDFDictObject> v) { dict_ = std::move(v); }

 private:
  std::unique_ptr<TzoPDFViewerPreferences> viewerPreferences_;
  std::unique_ptr<TzoPDFObject> names_;
  std::unique_ptr<TzoPDFObject> outlines_;
  std::unique_ptr<TzoPDFObject> openAction_;
  std::unique_ptr<TzoPDFObject> acroForm_;
  std::unique_ptr<TzoPDFObject> metadata_;
  std::unique_ptr<TzoPDFObject> aa_;
  std::unique_ptr<TzoPDFDictObject> dict_;
};

// ---- TzoPDFTrailer ----

// What the document engine carries over from the trailer.
class TzoPDFTrailer {
 public:
  TzoPDFTrailer() = default;
  TzoPDFTrailer(const TzoPDFTrailer&) = delete;
  TzoPDFTrailer& operator=(const TzoPDFTrailer&) = delete;

  // The object number of the first trailer's /Root; -1 until it is read.
  int32_t RootNumber() const { return rootNumber_; }
  void SetRootNumber(int32_t v) { rootNumber_ = v; }
  // A clone of the /Encrypt value.
  TzoPDFObject* Encrypt() const { return encrypt_.get(); }
  void SetEncrypt(std::unique_ptr<TzoPDFObject> v) { encrypt_ = std::move(v); }
  // A clone of the /Info reference.
  TzoPDFObject* Info() const { return info_.get(); }
  void SetInfo(std::unique_ptr<TzoPDFObject> v) { info_ = std::move(v); }
  // The /ID array.
  TzoPDFArrayObject* ID() const { return id_.get(); }
  void SetID(std::unique_ptr<TzoPDFArrayObject> v) { id_ = std::move(v); }

 private:
  int32_t rootNumber_ = -1;
  std::unique_ptr<TzoPDFObject> encrypt_;
  std::unique_ptr<TzoPDFObject> info_;
  std::unique_ptr<TzoPDFArrayObject> id_;
};
