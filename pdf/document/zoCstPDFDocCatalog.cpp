// The catalog, the page tree, named destinations and per-page object access.
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "pdf/core/zoConsts.h"
#include "pdf/core/zoPDFConsts.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "platform/CodePage.h"

namespace {

std::string NameText(const TzoPDFObject* obj) {
  return obj && obj->AsName() ? obj->AsName()->Text() : std::string();
}

int64_t IntOf(const TzoPDFObject* obj, int64_t def) {
  if (!obj) return def;
  if (const auto* i = obj->AsInteger()) return i->Value();
  if (const auto* l = obj->AsInt64()) return l->Value();
  return def;
}

// The bytes of a string object: hex digits paired, literal text without its delimiters.
std::string StringBytes(const TzoPDFObject* obj) {
  const TzoPDFStringObject* s = obj ? obj->AsString() : nullptr;
  return s ? PDFStringBytes(*s) : std::string();
}

std::vector<std::string> SplitBlanks(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsPDFWhiteSpace(static_cast<uint8_t>(s[i])))
      ++i;
    size_t j = i;
    while (j < s.size() && !IsPDFWhiteSpace(static_cast<uint8_t>(s[j])))
      ++j;
    if (j > i) out.emplace_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

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

// ---- Catalog ----

void TzoCustomPDFDocument::ReadCatalog() {
  const int32_t rootNumber = trailer_->RootNumber();
  TzoPDFIndirectObject* root = rootNumber > 0 ? StoredObject(rootNumber) : nullptr;
  TzoPDFObject* catObj = root ? ResolveLoaded(root->DirectObject()) : nullptr;
  TzoPDFDictObject* cat = catObj ? catObj->AsDict() : nullptr;
  if (!cat) RaiseMsg<EPDFFileCorruptedError>(SFileCorrupted);
  // Room for every object of the cross-reference data at once, not grown step by step.
  walked_.reserve(std::max(xrefItems_.size(), xrefStmItems_.size()));
  // The writer writes its own catalog: a reference to the file's one does not pull it all in.
  walked_.insert(root);

  int16_t mode = IndexOfStr(PageModeNames, NameText(ResolveLoaded(cat->GetValue("/PageMode"))));
  pageMode_ = mode < 0 ? pmNone : static_cast<TzoPageMode>(mode);
  int16_t layout =
      IndexOfStr(PageLayoutNames, NameText(ResolveLoaded(cat->GetValue("/PageLayout"))));
  pageLayout_ = layout < 0 ? plNone : static_cast<TzoPageLayout>(layout);

  if (TzoPDFDictObject* vp = ResolveDict(cat->GetValue("/ViewerPreferences")))
    catalog_->SetViewerPreferencesDict(CloneOf(*vp));
  if (TzoPDFObject* metadata = cat->GetValue("/Metadata")) {
    Walk(metadata);
    catalog_->SetMetadata(metadata->Clone());
  }

  IOProgress(10);
  StatusMessage(LoadMessage(STraversingPages));
  const TzoPDFObject* pagesRef = cat->GetValue("/Pages");
  if (!pagesRef || !pagesRef->AsReference()) RaiseMsg<EPDFFileCorruptedError>(SFileCorrupted);
  ReadPageTree(pagesRef->AsReference()->ObjectNumber());
  IOProgress(75);

  if (TzoPDFObject* dests = cat->GetValue("/Dests")) {
    StatusMessage(LoadMessage(SProcessingDestinations));
    ReadDests(dests);
  }

  IOProgress(30);
  StatusMessage(LoadMessage(SProcessingAnnotations));
  // Annotations are walked once every page is in the store: their links to pages only count.
  for (TzoPDFIndirectObject* page : pages_)
    if (TzoPDFObject* annots = page->DirectObject()->AsDict()->GetValue("/Annots")) Walk(annots);
  IOProgress(90);

  if (TzoPDFObject* form = cat->GetValue("/AcroForm")) {
    catalog_->SetAcroForm(form->Clone());
    ReadAcroForm(catalog_->AcroForm());
    StatusMessage(LoadMessage(SAcroFormsProcessed));
  }
  if (TzoPDFObject* action = cat->GetValue("/OpenAction")) {
    Walk(action);
    catalog_->SetOpenAction(action->Clone());
  }
  if (TzoPDFObject* aa = cat->GetValue("/AA")) {
    Walk(aa);
    catalog_->SetAA(aa->Clone());
  }
  if (TzoPDFObject* names = cat->GetValue("/Names")) {
    StatusMessage(LoadMessage(SProcessingNameTree));
    catalog_->SetNames(names->Clone());
    ReadNameTree(names);
    // The names dictionary and all it reaches are written again.
    Walk(catalog_->Names());
  }

  // The information dictionary of the trailer, when none was set from elsewhere.
  if (info_->Dict()->Count() == 0 && trailer_->Info()) {
    if (TzoPDFDictObject* infoDict = ResolveDict(trailer_->Info())) {
      info_->SetDict(CloneOf(*infoDict));
      Walk(info_->Dict());
    }
  }

  IOProgress(60);
  StatusMessage(LoadMessage(SReadingOutlines));
  if (TzoPDFObject* outlines = cat->GetValue("/Outlines")) outlineRoot_ = ReadOutlines(outlines);
  // The catalog's other entries (page labels, language, structure...) are written as read.
  KeepCatalogEntries(*cat);
  IOProgress(100);
}

void TzoCustomPDFDocument::ReadPageTree(int32_t objectNumber) {
  static constexpr std::string_view kInherited[] = {"/Rotate", "/MediaBox", "/Resources",
                                                    "/CropBox"};
  struct Node {
    TzoPDFObject* ref;
    int32_t number;
    std::shared_ptr<const TzoPDFDictObject> inherited;
  };
  // Depth first with an explicit stack; a node met again (a loop) is reported and skipped.
  std::vector<Node> stack{{nullptr, objectNumber, nullptr}};
  std::unordered_set<int32_t> seen;
  while (!stack.empty()) {
    Node node = std::move(stack.back());
    stack.pop_back();
    if (!seen.insert(node.number).second) {
      Warning(rtl::Format("Page tree node %d is met more than once; skipped", node.number));
      continue;
    }
    std::unique_ptr<TzoPDFIndirectObject> read;
    TzoPDFIndirectObject* obj = FindOrReadObject(node.number, read);
    // A page that cannot be read fails the load: a save would lose it.
    if (!obj) RaiseMsg<EPDFFileCorruptedError>(SFileCorrupted);
    TzoPDFDictObject* dict = obj->DirectObject() ? obj->DirectObject()->AsDict() : nullptr;
    const std::string type = dict ? NameText(ResolveLoaded(dict->GetValue("/Type"))) : "";
    if (type == "/Pages") {
      auto inherited =
          node.inherited ? CloneOf(*node.inherited) : std::make_unique<TzoPDFDictObject>();
      for (std::string_view key : kInherited)
        if (const TzoPDFObject* v = dict->GetValue(key)) inherited->SetValue(key, v->Clone());
      std::shared_ptr<const TzoPDFDictObject> shared(std::move(inherited));
      TzoPDFArrayObject* kids = ResolveArray(dict->GetValue("/Kids"));
      for (int32_t i = kids ? kids->Count() - 1 : -1; i >= 0; --i) {
        const TzoPDFObject* kid = kids->GetItem(i);
        if (!kid || !kid->AsReference()) {
          Warning(rtl::Format("Page tree node %d has a kid that is no reference", node.number));
          continue;
        }
        stack.push_back({nullptr, kid->AsReference()->ObjectNumber(), shared});
      }
    } else if (type == "/Page") {
      if (read) obj = inputStore_->Add(std::move(read));
      obj->AddRef();
      // The writer gives every page the page tree root as its parent. Article beads (/B) stay:
      // they are page content that a rewrite must not lose.
      dict->Remove("/Parent");
      if (node.inherited)
        for (int32_t i = 0; i < node.inherited->Count(); ++i) {
          const std::string& key = node.inherited->GetKeyAt(i)->Text();
          if (dict->IndexOf(key) < 0) dict->AddObject(key, node.inherited->GetValueAt(i)->Clone());
        }
      walked_.insert(obj);
      for (int32_t i = 0; i < dict->Count(); ++i)
        if (dict->GetKeyAt(i)->Text() != "/Annots") Walk(dict->GetValueAt(i));
      pages_.push_back(obj);
    } else {
      RaiseMsg<EUnexpectedError>(SUnexpectedError);
    }
  }
}

// ---- Named destinations ----

void TzoCustomPDFDocument::AddNamedDestination(const std::string& name, TzoPDFObject* value) {
  if (!namedDestinations_)
    namedDestinations_ = std::make_unique<std::vector<TzoNamedDestination>>();
  std::unique_ptr<TzoPDFObject> dest;
  TzoPDFObject* v = value && value->AsReference() ? ResolveLoaded(value) : value;
  if (!v || v->IsNull()) {
    dest = std::make_unique<TzoPDFNullObject>();
  } else if (v->AsArray()) {
    dest = v->Clone();
  } else if (v->AsDict()) {
    TzoPDFObject* d = ResolveLoaded(v->AsDict()->GetValue("/D"));
    dest = d && d->AsArray() ? d->Clone() : std::make_unique<TzoPDFNullObject>();
  } else {
    RaiseMsg<EUnexpectedError>(SUnexpectedObject);
  }
  namedDestinations_->push_back({name, std::move(dest)});
}

void TzoCustomPDFDocument::ReadDests(TzoPDFObject* dests) {
  TzoPDFDictObject* d = ResolveDict(dests);
  if (!d) return;
  for (int32_t i = 0; i < d->Count(); ++i)
    AddNamedDestination(d->GetKeyAt(i)->GetBareName(), d->GetValueAt(i));
}

void TzoCustomPDFDocument::ReadNameTree(TzoPDFObject* names) {
  TzoPDFDictObject* namesDict = ResolveDict(names);
  if (!namesDict) return;
  TzoPDFObject* destsValue = namesDict->GetValue("/Dests");
  if (!destsValue) return;
  if (!destsValue->AsReference() && !destsValue->AsDict())
    RaiseMsg<zoCstPDFDoc::EUnexpectedObjectError>(SUnexpectedObject);
  std::vector<TzoPDFDictObject*> stack;
  std::unordered_set<const TzoPDFDictObject*> seen;
  if (TzoPDFDictObject* root = ResolveDict(destsValue)) stack.push_back(root);
  while (!stack.empty()) {
    TzoPDFDictObject* node = stack.back();
    stack.pop_back();
    if (!seen.insert(node).second) {
      Warning("Name tree node met more than once; skipped");
      continue;
    }
    if (TzoPDFArrayObject* kids = ResolveArray(node->GetValue("/Kids"))) {
      for (int32_t i = kids->Count() - 1; i >= 0; --i)
        if (TzoPDFDictObject* kid = ResolveDict(kids->GetItem(i))) stack.push_back(kid);
      continue;
    }
    TzoPDFArrayObject* pairs = ResolveArray(node->GetValue("/Names"));
    for (int32_t i = 0; pairs && i + 1 < pairs->Count(); i += 2) {
      TzoPDFObject* key = ResolveLoaded(pairs->GetItem(i));
      TzoPDFObject* value = pairs->GetItem(i + 1);
      if (!key || !key->AsString()) continue;
      if (value && !value->AsReference() && !value->AsArray() && !value->IsNull()) continue;
      AddNamedDestination(StringBytes(key), value);
    }
  }
}

std::unique_ptr<TzoPDFObject> TzoCustomPDFDocument::FindNamedDestination(
    const std::string& name) const {
  if (!namedDestinations_) return nullptr;
  for (const TzoNamedDestination& d : *namedDestinations_)
    if (d.Name == name) return d.Destination ? d.Destination->Clone() : nullptr;
  return nullptr;
}

// ---- Outlines ----

bool TzoCustomPDFDocument::PrepareOutlineItem(TzoPDFOutline& item) {
  TzoPDFDictObject* d = item.Dict();
  if (!d) return true;
  if (const TzoPDFObject* count = ResolveLoaded(d->GetValue("/Count")); IntOf(count, 0) < 0)
    item.IsClosed = true;
  if (TzoPDFObject* title = d->GetValue("/Title"); title && !title->AsString()) {
    TzoPDFObject* t = ResolveLoaded(title);
    if (t && t->AsString())
      d->SetValue("/Title", t->Clone());
    else
      d->Remove("/Title");
  }
  bool sound = true;
  if (TzoPDFObject* dest = d->GetValue("/Dest"); dest && !dest->AsArray()) {
    TzoPDFObject* target = dest->AsReference() ? ResolveLoaded(dest) : dest;
    if (target && target->AsDict()) target = ResolveLoaded(target->AsDict()->GetValue("/D"));
    if (target && target->AsArray()) {
      d->SetValue("/Dest", target->Clone());
    } else if (!target || !(target->AsString() || target->AsName())) {
      // A wrong kind of destination: reported, and the item keeps its place without it.
      Warning(rtl::Format("Outline item %d has a destination of the wrong kind; it is left out",
                          item.ObjectNumber()));
      d->Remove("/Dest");
      sound = false;
    }
  }
  if (TzoPDFObject* action = d->GetValue("/A")) {
    TzoPDFObject* a = action->AsReference() ? ResolveLoaded(action) : action;
    if (a && a->AsDict()) {
      if (a != action) d->SetValue("/A", a->Clone());
    } else {
      Warning(rtl::Format("Outline item %d has an action of the wrong kind; it is left out",
                          item.ObjectNumber()));
      d->Remove("/A");
      sound = false;
    }
  }
  if (TzoPDFObject* dest = d->GetValue("/Dest")) Walk(dest);
  if (TzoPDFObject* action = d->GetValue("/A")) Walk(action);
  return sound;
}

std::unique_ptr<TzoPDFOutline> TzoCustomPDFDocument::ReadOutlines(TzoPDFObject* outlines) {
  std::unordered_set<int32_t> seen;
  // Reads one item (number -1: the outline dictionary given directly in the catalog); null for
  // a missing item or one met before (a loop, reported).
  auto makeItem = [&](int32_t number, int32_t& first,
                      int32_t& next) -> std::unique_ptr<TzoPDFOutline> {
    first = next = -1;
    if (number >= 0 && !seen.insert(number).second) {
      Warning(rtl::Format("Outline item %d is met more than once; the loop is cut", number));
      return nullptr;
    }
    std::unique_ptr<TzoPDFIndirectObject> read;
    TzoPDFIndirectObject* obj = number >= 0 ? FindOrReadObject(number, read) : nullptr;
    TzoPDFObject* direct =
        number >= 0 ? (obj ? ResolveLoaded(obj->DirectObject()) : nullptr) : outlines;
    if (!direct || !direct->AsDict()) {
      Warning(rtl::Format("Outline item %d is missing", number));
      return nullptr;
    }
    ++outlineCount_;
    auto dict = CloneOf(*direct->AsDict());
    if (const TzoPDFObject* f = dict->GetValue("/First"); f && f->AsReference())
      first = f->AsReference()->ObjectNumber();
    if (const TzoPDFObject* n = dict->GetValue("/Next"); n && n->AsReference())
      next = n->AsReference()->ObjectNumber();
    for (std::string_view key : {"/Parent", "/Prev", "/Last", "/First", "/Next"})
      dict->Remove(key);
    // The item is rebuilt on output under a number of its own, never one of the file's.
    auto item = std::make_unique<TzoPDFOutline>(
        this, std::move(dict), 0, inputStore_->NextObjectNumber(), documentNumber_, &pages_);
    (void)PrepareOutlineItem(*item);
    item->Dict()->Remove("/Count");
    if (item->Dict()->Count() == 0) item->SetDirectObject(nullptr);
    return item;
  };

  int32_t first = -1, next = -1;
  if (!outlines->AsReference() && !outlines->AsDict()) return nullptr;
  std::unique_ptr<TzoPDFOutline> root =
      makeItem(outlines->AsReference() ? outlines->AsReference()->ObjectNumber() : -1, first, next);
  if (!root) return nullptr;
  struct Pending {
    TzoPDFOutline* parent;
    TzoPDFOutline* prev;
    int32_t number;
  };
  std::vector<Pending> stack;
  if (first > 0) stack.push_back({root.get(), nullptr, first});
  while (!stack.empty()) {
    Pending p = stack.back();
    stack.pop_back();
    int32_t childFirst = -1, childNext = -1;
    std::unique_ptr<TzoPDFOutline> item = makeItem(p.number, childFirst, childNext);
    if (!item) continue;
    TzoPDFOutline* raw = item.get();
    raw->Parent = p.parent;
    raw->Prev = p.prev;
    if (p.prev)
      p.prev->SetNext(std::move(item));
    else
      p.parent->SetFirst(std::move(item));
    if (childNext > 0) stack.push_back({p.parent, raw, childNext});
    if (childFirst > 0) stack.push_back({raw, nullptr, childFirst});
  }
  return root;
}

std::unique_ptr<TzoPDFIndirectReference> TzoCustomPDFDocument::BuildOutlineItem(
    TzoPDFOutline* parent, TzoPDFOutline* prev, int32_t& count,
    std::unique_ptr<TzoPDFIndirectReference>& last, TzoPDFOutline* item) {
  if (!outputStore_) outputStore_ = std::make_unique<TzoPDFObjectStore>();
  // Whether an item stays: an item whose destination page is not written is dropped with its
  // children.
  auto keep = [&](TzoPDFOutline* it) {
    const TzoPDFDictObject* d = it->Dict();
    const TzoPDFArrayObject* dest =
        d && d->GetValue("/Dest") ? d->GetValue("/Dest")->AsArray() : nullptr;
    if (!dest || dest->Count() == 0) return true;
    const TzoPDFObject* first = dest->GetItem(0);
    if (first && first->AsReference()) {
      const TzoPDFIndirectObject* page = inputStore_->Find(first);
      return !(page && page->RefCount() == 0);
    }
    if (first && !first->IsNull()) Warning(LoadMessage(SExpectedPageReference));
    return true;
  };
  auto refTo = [](const TzoPDFOutline* it) {
    return std::make_unique<TzoPDFIndirectReference>(it->DocumentNumber(), it->ObjectNumber(),
                                                     it->Generation());
  };
  struct Level {
    TzoPDFOutline* parent;
    TzoPDFOutline* prev;
    TzoPDFOutline* first;
    TzoPDFDictObject* parentDict;  // null for the level the caller asked for
  };
  std::unique_ptr<TzoPDFIndirectReference> result;
  std::vector<Level> levels{{parent, prev, item, nullptr}};
  while (!levels.empty()) {
    Level level = levels.back();
    levels.pop_back();
    std::vector<TzoPDFOutline*> kept;
    for (TzoPDFOutline* it = level.first; it; it = it->Next())
      if (keep(it)) kept.push_back(it);
    for (size_t i = 0; i < kept.size(); ++i) {
      TzoPDFOutline* it = kept[i];
      auto out = std::make_unique<TzoPDFDictObject>();
      if (const TzoPDFDictObject* d = it->Dict()) {
        for (std::string_view key : {"/Dest", "/Title", "/C", "/F", "/A"}) {
          const TzoPDFObject* v = d->GetValue(key);
          if (key == "/C") v = v ? ResolveLoaded(const_cast<TzoPDFObject*>(v)) : nullptr;
          if (v) out->AddObject(key, v->Clone());
        }
      }
      if (level.parent) out->AddObject("/Parent", refTo(level.parent));
      if (i > 0)
        out->AddObject("/Prev", refTo(kept[i - 1]));
      else if (level.prev)
        out->AddObject("/Prev", refTo(level.prev));
      if (i + 1 < kept.size()) out->AddObject("/Next", refTo(kept[i + 1]));
      TzoPDFDictObject* outDict = out.get();
      auto ind = std::make_unique<TzoPDFIndirectObject>(it->DocumentNumber(), it->ObjectNumber(),
                                                        it->Generation(), std::move(out));
      ind->SetRefCount(1);
      if (outputStore_->IndexOfKey(ind->Key()) < 0) outputStore_->Add(std::move(ind));
      if (it->First()) levels.push_back({it, nullptr, it->First(), outDict});
    }
    const int32_t n = static_cast<int32_t>(kept.size());
    if (!level.parentDict) {
      count += n;
      if (!kept.empty()) {
        result = refTo(kept.front());
        last = refTo(kept.back());
      }
    } else if (n > 0) {
      level.parentDict->SetValue("/First", refTo(kept.front()));
      level.parentDict->SetValue("/Last", refTo(kept.back()));
      const bool closed = level.parent && level.parent->IsClosed;
      level.parentDict->SetValue("/Count", std::make_unique<TzoPDFIntegerObject>(closed ? -n : n));
    }
  }
  return result;
}

// ---- Form fields ----

namespace {

uint8_t FieldTypeOf(const std::string& ft, int64_t ff) {
  if (ft == "/Btn") {
    if (ff == -1) return 2;
    if (ff & 65536) return 0;
    if (ff & 32768) return 1;
    return 2;
  }
  if (ft == "/Tx") return 3;
  if (ft == "/Sig") return 5;
  return 4;
}

void SetFontStyle(const std::string& baseFont, ui::TFont& font) {
  size_t cut = baseFont.find_first_of(",-");
  font.SetName(baseFont.substr(0, cut));
  ui::TFontStyles style = 0;
  if (baseFont.find("Bold") != std::string::npos) style |= ui::fsBold;
  if (baseFont.find("Italic") != std::string::npos) style |= ui::fsItalic;
  font.SetStyle(style);
}

}  // namespace

void TzoCustomPDFDocument::ReadAcroForm(TzoPDFObject* form) {
  TzoPDFDictObject* formDict = nullptr;
  if (form->AsReference()) {
    // Everything the form reaches is written again.
    Walk(form);
    formDict = ResolveDict(form);
  } else if (form->AsDict()) {
    // A direct form dictionary becomes an object of its own, under a number the file does not
    // use, and the catalog refers to it.
    auto ind = std::make_unique<TzoPDFIndirectObject>(
        documentNumber_, inputStore_->NextObjectNumber(), 0, form->Clone());
    ind->SetRefCount(1);
    TzoPDFIndirectObject* stored = inputStore_->Add(std::move(ind));
    catalog_->SetAcroForm(CreateReferenceTo(*stored));
    Walk(stored);
    formDict = stored->DirectObject()->AsDict();
  } else {
    Warning("The interactive form is of the wrong kind; it is left out");
    catalog_->SetAcroForm(nullptr);
    return;
  }
  if (!formDict) return;
  std::shared_ptr<const TzoPDFDictObject> drFont;
  if (TzoPDFDictObject* dr = ResolveDict(formDict->GetValue("/DR")))
    if (TzoPDFDictObject* fonts = ResolveDict(dr->GetValue("/Font"))) drFont = CloneOf(*fonts);
  std::string da;
  if (TzoPDFObject* v = ResolveLoaded(formDict->GetValue("/DA")); v && v->AsString())
    da = v->AsString()->GetValue();
  formFields_ = std::make_unique<std::vector<std::unique_ptr<TzoAcroFormField>>>();

  struct Pending {
    TzoAcroFormField* parentField;
    std::string parentName;
    std::string da;
    std::shared_ptr<const TzoPDFDictObject> drFont;
    TzoPDFObject* ref;
  };
  std::vector<Pending> stack;
  // A /Fields of another kind is reported and read as no fields; the form is written as it is.
  TzoPDFObject* fieldsValue = ResolveLoaded(formDict->GetValue("/Fields"));
  TzoPDFArrayObject* fields = fieldsValue ? fieldsValue->AsArray() : nullptr;
  if (fieldsValue && !fields && !fieldsValue->IsNull())
    Warning("The form's /Fields is not an array; no form fields are read");
  for (int32_t i = fields ? fields->Count() - 1 : -1; i >= 0; --i)
    if (fields->GetItem(i) && fields->GetItem(i)->AsReference())
      stack.push_back({nullptr, "", da, drFont, fields->GetItem(i)});
  std::unordered_set<const TzoPDFIndirectObject*> seen;
  while (!stack.empty()) {
    Pending p = std::move(stack.back());
    stack.pop_back();
    TzoPDFIndirectObject* obj = StoredTarget(p.ref);
    if (!obj) continue;
    if (!seen.insert(obj).second) {
      Warning(rtl::Format("Form field %d is met more than once; skipped", obj->ObjectNumber()));
      continue;
    }
    obj->AddRef();
    TzoPDFDictObject* d = obj->DirectObject() ? obj->DirectObject()->AsDict() : nullptr;
    if (!d) {
      Warning(rtl::Format("Form field %d is of the wrong kind; skipped", obj->ObjectNumber()));
      continue;
    }
    int64_t ff = IntOf(ResolveLoaded(d->GetValue("/Ff")), 0);
    if (p.parentField) {
      ReadFieldOptions(*p.parentField, *d);
      ReadFieldValue(*p.parentField, *d);
      if (const TzoPDFObject* f = ResolveLoaded(d->GetValue("/F")); f && f->AsInteger())
        p.parentField->AnnotFlags = f->AsInteger()->Value();
    }
    std::string defaultValue;
    if (TzoPDFObject* dv = ResolveLoaded(d->GetValue("/DV"))) {
      if (dv->AsString()) defaultValue = StringBytes(dv);
      if (dv->AsName()) defaultValue = dv->AsName()->GetBareName();
    }
    std::string fieldDA = p.da;
    if (TzoPDFObject* v = ResolveLoaded(d->GetValue("/DA")); v && v->AsString())
      fieldDA = v->AsString()->GetValue();
    std::shared_ptr<const TzoPDFDictObject> fontDict = p.drFont;
    if (TzoPDFDictObject* dr = ResolveDict(d->GetValue("/DR"))) {
      auto merged = p.drFont ? CloneOf(*p.drFont) : std::make_unique<TzoPDFDictObject>();
      merged->MergeFrom(ResolveDict(dr->GetValue("/Font")));
      fontDict = std::move(merged);
    }
    std::unique_ptr<TzoFontInfo> fontInfo = ParseDefaultAppearance(fieldDA, fontDict.get());
    if (p.parentField && fontInfo) p.parentField->FontInfo = fontInfo->Copy();

    std::string fullName = p.parentName;
    TzoAcroFormField* newField = nullptr;
    if (TzoPDFObject* t = ResolveLoaded(d->GetValue("/T")); t && t->AsString()) {
      std::string partial = platform::WideToAnsi(TextStringOf(*t->AsString()));
      fullName = p.parentName.empty() ? partial : p.parentName + "." + partial;
      if (TzoPDFObject* ft = ResolveLoaded(d->GetValue("/FT")); ft && ft->AsName()) {
        auto field = std::make_unique<TzoAcroFormField>(inputStore_.get(), obj);
        field->FullName = fullName;
        field->FieldType = FieldTypeOf(ft->AsName()->Text(), ff);
        field->FieldFlags = static_cast<int32_t>(ff);
        field->DefaultValue = defaultValue;
        if (const TzoPDFObject* f = ResolveLoaded(d->GetValue("/F")); f && f->AsInteger())
          field->AnnotFlags = f->AsInteger()->Value();
        field->ReadOnly = (ff & 1) && ff != -1;
        field->Multiline = (ff & 4096) && ff != -1;
        field->MaxLen = static_cast<int32_t>(IntOf(ResolveLoaded(d->GetValue("/MaxLen")), 0));
        field->Quadding = static_cast<uint8_t>(IntOf(ResolveLoaded(d->GetValue("/Q")), 0) & 0xFF);
        ReadFieldValue(*field, *d);
        if (field->FieldType == 2) field->Options.Add("Off");
        ReadFieldOptions(*field, *d);
        if (fontInfo) field->FontInfo = fontInfo->Copy();
        newField = field.get();
        formFields_->push_back(std::move(field));
      }
    }
    TzoPDFArrayObject* kids = ResolveArray(d->GetValue("/Kids"));
    for (int32_t i = kids ? kids->Count() - 1 : -1; i >= 0; --i)
      if (kids->GetItem(i) && kids->GetItem(i)->AsReference())
        stack.push_back({newField, fullName, fieldDA, fontDict, kids->GetItem(i)});
  }
}

void TzoCustomPDFDocument::ReadFieldValue(TzoAcroFormField& field, const TzoPDFDictObject& d) {
  if (!field.Value.empty()) return;
  TzoPDFObject* v = ResolveLoaded(d.GetValue("/V"));
  if (!v) return;
  if (v->AsName()) {
    field.Value = v->AsName()->GetBareName();
  } else if (v->AsString()) {
    field.Value = StringBytes(v);
  } else if (v->AsStream() && v->AsStream()->Data()) {
    TzoPDFStreamObject* s = v->AsStream();
    auto data = DecodeWithinBudget(*s->Data(), ResolveLoaded(s->Dict()->GetValue("/Filter")),
                                   ResolveLoaded(s->Dict()->GetValue("/DecodeParms")));
    field.Value = data->ToString();
  }
}

void TzoCustomPDFDocument::ReadFieldOptions(TzoAcroFormField& field, const TzoPDFDictObject& d) {
  if (field.FieldType == 1 || field.FieldType == 2) {
    TzoPDFDictObject* ap = ResolveDict(d.GetValue("/AP"));
    TzoPDFDictObject* normal = ap ? ResolveDict(ap->GetValue("/N")) : nullptr;
    for (int32_t i = 0; normal && i < normal->Count(); ++i) {
      const std::string name = normal->GetKeyAt(i)->GetBareName();
      if (field.FieldType == 1 && (field.FieldFlags & 16384) && name == "Off") continue;
      if (field.Options.IndexOf(name) < 0) field.Options.Add(name);
    }
  } else if (field.FieldType == 4) {
    TzoPDFArrayObject* opt = ResolveArray(d.GetValue("/Opt"));
    if (!opt) return;
    field.Options.Clear();
    for (int32_t i = 0; i < opt->Count(); ++i) {
      TzoPDFObject* e = ResolveLoaded(opt->GetItem(i));
      if (e && e->AsString()) {
        field.Options.Add(StringBytes(e));
      } else if (e && e->AsArray()) {
        for (int32_t k = 0; k < e->AsArray()->Count(); k += 2)
          if (TzoPDFObject* x = ResolveLoaded(e->AsArray()->GetItem(k)); x && x->AsString())
            field.Options.Add(StringBytes(x));
      }
    }
  }
}

std::unique_ptr<TzoFontInfo> TzoCustomPDFDocument::ParseDefaultAppearance(
    const std::string& da, const TzoPDFDictObject* drFont) {
  if (da.empty() || !drFont) return nullptr;
  auto info = std::make_unique<TzoFontInfo>();
  std::vector<std::string> t = SplitBlanks(da);
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == "rg" && i >= 3) {
      info->Color = t[i - 3] + " " + t[i - 2] + " " + t[i - 1] + " rg";
      break;
    }
  }
  if (info->Color.empty())
    for (size_t i = 1; i < t.size(); ++i)
      if (t[i] == "g") {
        info->Color = t[i - 1] + " g";
        break;
      }
  for (size_t i = 2; i < t.size(); ++i) {
    if (t[i] != "Tf") continue;
    const std::string& name = t[i - 2];
    const TzoPDFObject* ref = drFont->GetValue(name);
    double size = 0;
    if (ref && TryStrToFloatDot(t[i - 1], size) && std::isfinite(size) && std::fabs(size) < 1e6) {
      info->Name = name;
      if (ref->AsReference()) info->FontRef = CloneOf(*ref->AsReference());
      info->Size = size;
      info->Font.SetSize(static_cast<int>(std::lround(size)));
      if (TzoPDFDictObject* font = ResolveDict(const_cast<TzoPDFObject*>(ref)))
        if (TzoPDFObject* base = ResolveLoaded(font->GetValue("/BaseFont")); base && base->AsName())
          SetFontStyle(base->AsName()->GetBareName(), info->Font);
    }
    break;
  }
  return info;
}
