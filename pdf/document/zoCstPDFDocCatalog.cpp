// The catalog, the page tree, named destinations and per-page object access.
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/document/zoCstPDFDoc.h"

namespace {

bool IsPageDict(const TzoPDFObject* obj) {
  const TzoPDFDictObject* d = obj ? obj->AsDict() : nullptr;
  const TzoPDFObject* type = d ? d->GetValue("/Type") : nullptr;
  return type && type->AsName() && type->AsName()->Text() == "/Page";
}

}  // namespace

std::unique_ptr<TzoPageObjectList> TzoCustomPDFDocument::GetPage(int32_t pageNumber) {
  if (pageNumber < 1 || pageNumber > PageCount())
    RaiseMsg<EInvalidPageError>(SInvalidPageNumber, pageNumber);
  auto list = std::make_unique<TzoPageObjectList>();
  const TzoPDFIndirectObject* page = pages_[static_cast<size_t>(pageNumber - 1)];
  TzoPDFIndirectObject* copy = list->Add(page->Key(), CloneOf(*page));
  CollectPageObjects(*list, copy->DirectObject());
  return list;
}

void TzoCustomPDFDocument::CollectPageObjects(TzoPageObjectList& list, const TzoPDFObject* obj) {
  // An explicit work list: neither nesting nor reference chains of the file make the stack deep.
  std::vector<const TzoPDFObject*> work;
  if (obj) work.push_back(obj);
  while (!work.empty()) {
    const TzoPDFObject* o = work.back();
    work.pop_back();
    switch (o->ObjectType()) {
      case otArray: {
        const TzoPDFArrayObject* a = o->AsArray();
        for (int32_t i = a->Count() - 1; i >= 0; --i)
          if (a->GetItem(i)) work.push_back(a->GetItem(i));
        break;
      }
      case otDictionary: {
        const TzoPDFDictObject* d = o->AsDict();
        for (int32_t i = d->Count() - 1; i >= 0; --i)
          if (d->GetValueAt(i)) work.push_back(d->GetValueAt(i));
        break;
      }
      case otStream:
        work.push_back(o->AsStream()->Dict());
        break;
      case otIndirectObject:
        if (o->AsIndirect()->DirectObject()) work.push_back(o->AsIndirect()->DirectObject());
        break;
      case otIndirectReference: {
        const TzoObjectKey key = o->AsReference()->Key();
        if (list.IndexOfKey(key) >= 0) break;
        TzoPDFIndirectObject* target = inputStore_->Find(o);
        if (!target || IsPageDict(target->DirectObject())) break;
        TzoPDFIndirectObject* copy = list.Add(key, CloneOf(*target));
        if (copy->DirectObject()) work.push_back(copy->DirectObject());
        break;
      }
      default:
        break;
    }
  }
}
