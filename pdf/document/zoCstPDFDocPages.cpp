// Pages for stamping: page boxes in the caller's unit, and the edits that give a page a new
// resource and a new content stream under or over what it shows.
#include <algorithm>
#include <cmath>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"

namespace {

constexpr const char* SPageWithoutBox = "Page %d has neither a /CropBox nor a /MediaBox";

// A number of a box, possibly given by reference; false for anything else.
bool BoxNumber(const TzoPDFObjectStore& store, TzoPDFObject* item, double& value) {
  const TzoPDFObject* v = item ? store.Resolve(item) : nullptr;
  if (!v) return false;
  if (v->AsInteger())
    value = v->AsInteger()->Value();
  else if (v->AsInt64())
    value = static_cast<double>(v->AsInt64()->Value());
  else if (v->AsReal())
    value = v->AsReal()->Value();
  else
    return false;
  return std::isfinite(value);
}

// The rectangle a box value means: an array (or a reference to one) whose first four items are
// numbers, corners in any order. False when the value is no such box.
bool ReadBox(const TzoPDFObjectStore& store, TzoPDFObject* value, TzoRectD& box) {
  const TzoPDFObject* v = value ? store.Resolve(value) : nullptr;
  const TzoPDFArrayObject* a = v ? v->AsArray() : nullptr;
  if (!a || a->Count() < 4) return false;
  double n[4];
  for (int32_t i = 0; i < 4; ++i)
    if (!BoxNumber(store, a->GetItem(i), n[i])) return false;
  box = {std::min(n[0], n[2]), std::min(n[1], n[3]), std::max(n[0], n[2]), std::max(n[1], n[3])};
  return true;
}

// The dictionary a resource value stands for; null when there is none (no value, a Null object
// or a reference to nothing). Any other kind raises the store's "Unexpected PDF object
// encountered".
TzoPDFDictObject* ResourceDict(const TzoPDFObjectStore& store, TzoPDFObject* value) {
  TzoPDFObject* v = value ? store.Resolve(value) : nullptr;
  if (!v || v->IsNull()) return nullptr;
  if (TzoPDFDictObject* d = v->AsDict()) return d;
  RaiseMsg<EUnexpectedObjectError>(SUnexpectedObject);
}

// The indirect object at the end of a chain of references; null for a reference to nothing or
// a circle.
TzoPDFIndirectObject* FinalTarget(const TzoPDFObjectStore& store, const TzoPDFObject* ref) {
  TzoPDFIndirectObject* target = nullptr;
  for (int32_t hops = 0; ref && ref->AsReference(); ++hops) {
    if (hops > store.Count()) return nullptr;
    target = store.Find(ref);
    if (!target) return nullptr;
    ref = target->DirectObject();
  }
  return target;
}

}  // namespace

// ---- Page boxes ----

double TzoCustomPDFDocument::ConvertFromPoints(TzoMeasurementUnit unit, double value) {
  switch (unit) {
    case muPixels:
      return PointsToPixels(value);
    case muPoints:
      return value;
    case muInches:
      return value / 72;
    case muMM:
      return value / 2.83464;
    case muTwips:
      return value / 0.05;
  }
  return value;
}

TzoRectD TzoCustomPDFDocument::GetPageBox(int32_t pageNumber, TzoMeasurementUnit unit) {
  if (pageNumber < 1 || pageNumber > PageCount())
    RaiseMsg<EInvalidPageError>(SInvalidPageNumber, pageNumber);
  const TzoPDFObject* direct = pages_[static_cast<size_t>(pageNumber - 1)]->DirectObject();
  const TzoPDFDictObject* page = direct ? direct->AsDict() : nullptr;
  // What readers show: the crop box clipped to the media box. A crop box that is no rectangle,
  // or that lies wholly outside the media box, is passed over, as readers do.
  TzoRectD crop, media;
  const bool hasCrop = page && ReadBox(*inputStore_, page->GetValue("/CropBox"), crop);
  const bool hasMedia = page && ReadBox(*inputStore_, page->GetValue("/MediaBox"), media);
  if (!hasCrop && !hasMedia) throw EInvalidPageError(rtl::Format(SPageWithoutBox, pageNumber));
  TzoRectD box = hasMedia ? media : crop;
  if (hasCrop && hasMedia) {
    const TzoRectD shown = {std::max(crop.X1, media.X1), std::max(crop.Y1, media.Y1),
                            std::min(crop.X2, media.X2), std::min(crop.Y2, media.Y2)};
    if (shown.X1 < shown.X2 && shown.Y1 < shown.Y2) box = shown;
  }
  return {ConvertFromPoints(unit, box.X1), ConvertFromPoints(unit, box.Y1),
          ConvertFromPoints(unit, box.X2), ConvertFromPoints(unit, box.Y2)};
}

TzoSizeD TzoCustomPDFDocument::GetPageSize(int32_t pageNumber, TzoMeasurementUnit unit) {
  const TzoRectD box = GetPageBox(pageNumber, muPoints);
  return {ConvertFromPoints(unit, box.X2 - box.X1), ConvertFromPoints(unit, box.Y2 - box.Y1)};
}

// ---- Resources ----

void TzoCustomPDFDocument::AddResourceEntry(TzoPDFDictObject* resources, std::string_view category,
                                            const TzoPDFObject* resource, const std::string& name) {
  if (!resources || !resource) RaiseMsg<EUnexpectedError>(SErrorInsertingPageResource);
  TzoPDFDictObject* entries = ResourceDict(*inputStore_, resources->GetValue(category));
  if (!entries) {
    auto made = std::make_unique<TzoPDFDictObject>();
    made->AddObject(name, resource->Clone());
    // In place of a null or dangling value, never beside it.
    resources->SetValue(category, std::move(made));
    return;
  }
  if (entries->IndexOf(name) >= 0) return;
  entries->AddObject(name, resource->Clone());
}

TzoPDFDictObject* TzoCustomPDFDocument::PageResources(int32_t pageIndex) {
  if (pageIndex < 0 || pageIndex >= PageCount())
    RaiseMsg<EInvalidPageError>(SInvalidPageNumber, pageIndex + 1);
  TzoPDFObject* direct = pages_[static_cast<size_t>(pageIndex)]->DirectObject();
  TzoPDFDictObject* page = direct ? direct->AsDict() : nullptr;
  if (!page) RaiseMsg<EUnexpectedError>(SErrorInsertingPageResource);
  if (TzoPDFDictObject* found = ResourceDict(*inputStore_, page->GetValue("/Resources")))
    return found;
  TzoPDFIndirectObject* made = inputStore_->Add(
      TzoPDFIndirectObject::CreateReferenced(documentNumber_, inputStore_->NextObjectNumber(), 0,
                                             true, std::make_unique<TzoPDFDictObject>()));
  page->SetValue("/Resources", CreateReferenceTo(*made));
  return made->DirectObject()->AsDict();
}

bool TzoCustomPDFDocument::PageHasResourceName(int32_t pageIndex, std::string_view name) {
  if (pageIndex < 0 || pageIndex >= PageCount())
    RaiseMsg<EInvalidPageError>(SInvalidPageNumber, pageIndex + 1);
  const TzoPDFObject* direct = pages_[static_cast<size_t>(pageIndex)]->DirectObject();
  const TzoPDFDictObject* page = direct ? direct->AsDict() : nullptr;
  const TzoPDFObject* value = page ? inputStore_->Resolve(page->GetValue("/Resources")) : nullptr;
  const TzoPDFDictObject* resources = value ? value->AsDict() : nullptr;
  if (!resources) return false;
  for (int32_t i = 0; i < resources->Count(); ++i) {
    const TzoPDFObject* category = inputStore_->Resolve(resources->GetValueAt(i));
    if (category && category->AsDict() && category->AsDict()->IndexOf(name) >= 0) return true;
  }
  return false;
}

void TzoCustomPDFDocument::AddPageExtGState(int32_t pageIndex, const std::string& name,
                                            const TzoPDFObject* gState) {
  if (!gState) return;
  AddResourceEntry(PageResources(pageIndex), "/ExtGState", gState, name);
}

// ---- Content streams ----

void TzoCustomPDFDocument::EnsureWrapStreams() {
  if (saveStateObjectNumber_ != -1) return;
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddInteger("/Length", 1);
  std::unique_ptr<TzoPDFDictObject> restoreDict = CloneOf(*dict);
  auto stream = [](std::unique_ptr<TzoPDFDictObject> d, std::string_view op) {
    return std::make_unique<TzoPDFStreamObject>(std::move(d),
                                                std::make_unique<rtl::TMemoryStream>(op));
  };
  const int32_t save = inputStore_->NextObjectNumber();
  inputStore_->Add(std::make_unique<TzoPDFIndirectObject>(documentNumber_, save, 0,
                                                          stream(std::move(dict), "q")));
  const int32_t restore = inputStore_->NextObjectNumber();
  inputStore_->Add(std::make_unique<TzoPDFIndirectObject>(documentNumber_, restore, 0,
                                                          stream(std::move(restoreDict), "Q")));
  saveStateObjectNumber_ = save;
  restoreStateObjectNumber_ = restore;
}

bool TzoCustomPDFDocument::HasReferenceTo(const TzoPDFArrayObject& contents, int32_t objectNumber) {
  for (int32_t i = 0; i < contents.Count(); ++i) {
    const TzoPDFObject* e = contents.GetItem(i);
    if (e && e->AsReference() && e->AsReference()->ObjectNumber() == objectNumber) return true;
  }
  return false;
}

void TzoCustomPDFDocument::AddPageContent(int32_t pageIndex,
                                          std::unique_ptr<TzoPDFIndirectReference> newContent,
                                          uint8_t layer) {
  if (pageIndex < 0 || pageIndex >= PageCount())
    RaiseMsg<EInvalidPageError>(SInvalidPageNumber, pageIndex + 1);
  TzoPDFObject* direct = pages_[static_cast<size_t>(pageIndex)]->DirectObject();
  TzoPDFDictObject* page = direct ? direct->AsDict() : nullptr;
  if (!newContent || !page) RaiseMsg<EUnexpectedError>(SUnexpectedError);

  TzoPDFObject* contents = page->GetValue("/Contents");
  // What the page shows now: nothing, an array (direct or referenced) or one stream.
  TzoPDFArrayObject* array = nullptr;
  TzoPDFIndirectObject* arrayObject = nullptr;
  bool empty = !contents || contents->IsNull();
  if (!empty && contents->AsArray()) {
    array = contents->AsArray();
  } else if (!empty && contents->AsReference()) {
    TzoPDFIndirectObject* target = FinalTarget(*inputStore_, contents);
    TzoPDFObject* value = target ? target->DirectObject() : nullptr;
    if (!value || value->IsNull()) {
      empty = true;  // a reference to nothing draws nothing
    } else if (value->AsArray()) {
      array = value->AsArray();
      arrayObject = target;
    } else if (!value->AsStream()) {
      RaiseMsg<EUnexpectedError>(SUnexpectedContentObject, pageIndex + 1);
    }
  } else if (!empty) {
    RaiseMsg<EUnexpectedError>(SUnexpectedContentObject, pageIndex + 1);
  }

  if (empty) {
    auto made = std::make_unique<TzoPDFArrayObject>();
    made->Add(std::move(newContent));
    page->SetValue("/Contents", std::move(made));
    return;
  }

  if (layer != 0) EnsureWrapStreams();
  auto wrapRef = [this](int32_t number) {
    auto ref = std::make_unique<TzoPDFIndirectReference>(documentNumber_, number, 0);
    if (TzoPDFIndirectObject* obj = inputStore_->Find(ref.get())) obj->AddRef();
    return ref;
  };

  if (!array) {
    // One stream: the page gets an array of it and the stamp.
    auto made = std::make_unique<TzoPDFArrayObject>();
    if (layer != 0) {
      made->Add(wrapRef(saveStateObjectNumber_));
      made->Add(contents->Clone());
      made->Add(wrapRef(restoreStateObjectNumber_));
      made->Add(std::move(newContent));
    } else {
      made->Add(std::move(newContent));
      made->Add(contents->Clone());
    }
    page->SetValue("/Contents", std::move(made));
    return;
  }

  // An array that other pages share is not changed: this page gets a copy of its own.
  std::unique_ptr<TzoPDFArrayObject> copy;
  if (arrayObject && arrayObject->RefCount() > 1) {
    for (int32_t i = 0; i < PageCount() && !copy; ++i) {
      if (i == pageIndex) continue;
      const TzoPDFObject* other = pages_[static_cast<size_t>(i)]->DirectObject();
      const TzoPDFObject* otherContents =
          other && other->AsDict() ? other->AsDict()->GetValue("/Contents") : nullptr;
      if (otherContents && otherContents->AsReference() &&
          FinalTarget(*inputStore_, otherContents) == arrayObject)
        copy = CloneOf(*array);
    }
    if (copy) {
      array = copy.get();
      for (int32_t i = 0; i < array->Count(); ++i) {
        const TzoPDFObject* e = array->GetItem(i);
        const int32_t n = e && e->AsReference() ? e->AsReference()->ObjectNumber() : -1;
        if (n != -1 && (n == saveStateObjectNumber_ || n == restoreStateObjectNumber_))
          if (TzoPDFIndirectObject* obj = inputStore_->Find(e)) obj->AddRef();
      }
    }
  }

  // Only references name content streams: anything else in the array makes readers drop the
  // page's content. An array as this function left it is known; it is not walked again, so that
  // many stamps on one page take time in proportion to their number.
  ContentsMemo& memo = contentsMemo_[pageIndex];
  const bool known = memo.array == array && memo.count == array->Count() && memo.count > 0 &&
                     memo.last == array->GetItem(memo.count - 1);
  if (!known) {
    for (int32_t i = array->Count() - 1; i >= 0; --i)
      if (!array->GetItem(i) || !array->GetItem(i)->AsReference()) array->Delete(i);
    memo.wrapped = HasReferenceTo(*array, saveStateObjectNumber_);
  }

  if (layer == 0) {
    array->Insert(0, std::move(newContent));
  } else {
    // The page's own content is enclosed once; later over-stamps follow the first.
    if (!memo.wrapped) {
      array->Insert(0, wrapRef(saveStateObjectNumber_));
      array->Add(wrapRef(restoreStateObjectNumber_));
      memo.wrapped = true;
    }
    array->Add(std::move(newContent));
  }
  memo.array = array;
  memo.count = array->Count();
  memo.last = array->GetItem(memo.count - 1);
  if (copy) page->SetValue("/Contents", std::move(copy));
}
