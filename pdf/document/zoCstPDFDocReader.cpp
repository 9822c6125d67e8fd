// Reading a file: cross-reference tables and streams, objects by number, object streams, the
// encryption dictionary and the password.
#include <algorithm>
#include <unordered_set>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "platform/FileSystem.h"

namespace {

bool IsDigit(uint8_t b) {
  return b >= '0' && b <= '9';
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return IsDigit(c); });
}

[[noreturn]] void Corrupted() {
  RaiseMsg<EPDFFileCorruptedError>(SFileCorrupted);
}

// A non-negative decimal number token, or Corrupted.
int64_t NumberToken(const std::string& token) {
  int64_t v = 0;
  if (!AllDigits(token) || token.size() > 18 || !rtl::TryStrToInt64(token, v)) Corrupted();
  return v;
}

int64_t IntegerOf(const TzoPDFObject* obj, int64_t def) {
  if (!obj) return def;
  if (const auto* i = obj->AsInteger()) return i->Value();
  if (const auto* l = obj->AsInt64()) return l->Value();
  return def;
}

bool NameIs(const TzoPDFObject* obj, std::string_view name) {
  return obj && obj->AsName() && obj->AsName()->Text() == name;
}

}  // namespace

// ---- Loading a file ----

bool TzoCustomPDFDocument::LoadFromFile(const std::string& fileName) {
  // Every load starts from a fresh document state.
  ClearAndReset();
  isEncrypted_ = false;
  workFileName_ = rtl::ExtractFileExt(fileName).empty() ? fileName + ".pdf" : fileName;
  if (!platform::FileExists(workFileName_))
    throw EFileNotFound(rtl::Format("%s ", workFileName_) + LoadMessage(SFileNotFound));
  if (filename_.empty()) filename_ = workFileName_;
  try {
    // The whole file is read now: nothing reads it after the load, so saving over it is safe.
    {
      rtl::TFileStream file(workFileName_,
                            rtl::TFileStream::fmOpenRead | rtl::TFileStream::fmShareDenyNone);
      auto data = std::make_unique<rtl::TMemoryStream>();
      data->LoadFromStream(file);
      inputData_ = std::move(data);
    }
    LoadDocumentStream(*inputData_);
    if (!isEncrypted_) {
      FinishLoad();
    } else if (OnPassword) {
      std::string password;
      bool cont = true;
      int32_t tries = 0;
      bool accepted = false;
      do {
        OnPassword(this, password, cont, tries);
        if (cont)
          accepted = OpenWithPassword(password);
        else
          ClearAndReset();
        ++tries;
      } while (!accepted && cont);
    } else if (!OpenWithPassword("")) {
      // Parsed but locked: nothing of the file can be saved.
      reader_.reset();
      inputData_.reset();
      return false;
    }
  } catch (...) {
    // A failed load leaves nothing of the file behind.
    ClearAndReset();
    isEncrypted_ = false;
    throw;
  }
  reader_.reset();
  inputData_.reset();
  return isLoaded_ && (catalogRead_ || !isEncrypted_);
}

void TzoCustomPDFDocument::SetFilename(const std::string& value) {
  if (value.empty()) {
    filename_.clear();
    return;
  }
  filename_ = value;
  (void)LoadFromFile(value);
}

void TzoCustomPDFDocument::LoadDocumentStream(rtl::TStream& stream) {
  try {
    reader_ = std::make_unique<TzoPDFStreamReader>(documentNumber_, &stream);
    pdfVersion_ = reader_->ReadHeader();
    reader_->SetPosition(reader_->FindStartXRef());
    ReadCrossReference();
    TzoPDFObject* encrypt = trailer_->Encrypt();
    if (encrypt && !encrypt->IsNull()) {
      trailer_->SetEncrypt(ResolveEncrypt(encrypt));
      const TzoPDFObject* resolved = trailer_->Encrypt();  // null when the object holds nothing
      const TzoPDFDictObject* dict = resolved ? resolved->AsDict() : nullptr;
      if (!dict) RaiseMsg<zoCstPDFDoc::EUnexpectedObjectError>(SUnexpectedObject);
      // Handlers other than RC4 revisions 2 and 3 are refused before anything is decrypted.
      CheckSupportedEncryption(*dict);
      isEncrypted_ = true;
    } else {
      isEncrypted_ = false;
    }
    isLoaded_ = true;
  } catch (...) {
    reader_.reset();
    throw;
  }
}

bool TzoCustomPDFDocument::OpenWithPassword(const std::string& password) {
  if (!reader_) return false;
  bool accepted = isEncrypted_ ? OpenEncryption(password) == 1 : true;
  if (accepted) FinishLoad();
  return accepted;
}

void TzoCustomPDFDocument::FinishLoad() {
  if (OnBeginRead) OnBeginRead(this);
  // Object streams are unpacked once a decryptor (if any) is in place.
  LoadObjectStreams();
  ReadCatalog();
  isLoaded_ = true;
  catalogRead_ = true;
  StatusMessage(FmtLoadMessage(SDocumentReadComplete, PageCount()));
  if (OnEndRead) OnEndRead(this);
}

bool TzoCustomPDFDocument::CatalogRead() const {
  return catalogRead_;
}

void TzoCustomPDFDocument::CheckCanSave() const {
  if (isLoaded_ && !catalogRead_) throw EPDFException(SDocumentNotOpened);
}

// ---- Cross-reference data ----

int32_t TzoCustomPDFDocument::MaxObjectNumber() const {
  // Object numbers beyond what the data could hold are damage, not a reason to allocate.
  int64_t size = inputData_ ? inputData_->Size() : (reader_ ? reader_->Size() : 0);
  return static_cast<int32_t>(std::min<int64_t>(size * 8 + 1000000, 0x7FFFFFF0));
}

void TzoCustomPDFDocument::SetXRefEntry(int32_t n, std::unique_ptr<TzoXRefItem> classic,
                                        std::unique_ptr<TzoXRefStmItem> stream,
                                        std::vector<uint8_t>& decided) {
  if (n < 0 || n > MaxObjectNumber()) Corrupted();
  size_t i = static_cast<size_t>(n);
  if (decided.size() <= i) decided.resize(i + 1, 0);
  // Sections are applied newest first: the first entry for a number is its current one.
  if (decided[i]) return;
  decided[i] = 1;
  if (classic) {
    if (xrefItems_.size() <= i) xrefItems_.resize(i + 1);
    xrefItems_[i] = std::move(classic);
  } else if (stream) {
    if (xrefStmItems_.size() <= i) xrefStmItems_.resize(i + 1);
    xrefStmItems_[i] = std::move(stream);
  }
}

void TzoCustomPDFDocument::TakeTrailerValues(const TzoPDFDictObject& dict) {
  if (trailer_->RootNumber() == -1)
    if (const TzoPDFObject* root = dict.GetValue("/Root"); root && root->AsReference())
      trailer_->SetRootNumber(root->AsReference()->ObjectNumber());
  if (!firstFileID_)
    if (const TzoPDFObject* id = dict.GetValue("/ID")) firstFileID_ = id->Clone();
  if (!trailer_->Encrypt())
    if (const TzoPDFObject* e = dict.GetValue("/Encrypt")) trailer_->SetEncrypt(e->Clone());
  if (!trailer_->Info())
    if (const TzoPDFObject* info = dict.GetValue("/Info")) trailer_->SetInfo(info->Clone());
  int64_t size = IntegerOf(dict.GetValue("/Size"), 0);
  if (size > 0)
    xrefSize_ = std::max<int64_t>(xrefSize_, std::min<int64_t>(size, MaxObjectNumber()));
}

// What starts at offset: 1 a classic table, 2 a cross-reference stream, 0 neither.
int TzoCustomPDFDocument::SectionKind(int64_t offset) {
  if (offset <= 0 || offset >= reader_->Size()) return 0;
  reader_->SetPosition(offset);
  std::string head;
  reader_->PeekString(5, head);
  if (head.compare(0, 4, "xref") == 0 || rtl::Trim(head) == "xref") return 1;
  // An offset may point at the end of line before the object's header.
  const std::string t = rtl::TrimLeft(head);
  return !t.empty() && IsDigit(static_cast<uint8_t>(t[0])) ? 2 : 0;
}

void TzoCustomPDFDocument::ReadCrossReference() {
  const int64_t start = reader_->Position();
  const int kind = SectionKind(start);
  if (kind == 0) Corrupted();
  if (kind == 2) StatusMessage(LoadMessage(SReadingXRefStreamTable));
  std::vector<uint8_t> decided;
  std::unordered_set<int64_t> visited;
  int64_t offset = start;
  int k = kind;
  // The /Prev chain, newest section first; an offset met again ends it.
  for (;;) {
    visited.insert(offset);
    int64_t prev = -1;
    if (k == 1)
      prev = ReadXRefTable(offset, decided, visited);
    else
      prev = ReadXRefStream(offset, decided);
    if (prev < 0) break;
    if (visited.count(prev)) {
      Warning(rtl::Format("Cross-reference chain loops back to offset %d", prev));
      break;
    }
    k = SectionKind(prev);
    if (k == 0) {
      Warning(rtl::Format("No cross-reference data at offset %d", prev));
      break;
    }
    offset = prev;
  }
  ResolveFileID();
  int64_t count = std::max(xrefItems_.size(), xrefStmItems_.size());
  inputStore_->SetXRefSize(static_cast<int32_t>(std::max<int64_t>(xrefSize_, count)));
}

int64_t TzoCustomPDFDocument::ReadXRefTable(int64_t offset, std::vector<uint8_t>& decided,
                                            std::unordered_set<int64_t>& visited) {
  StatusMessage(LoadMessage(SReadingXRefTable));
  const int64_t size = reader_->Size();
  reader_->SetPosition(offset);
  reader_->SkipWhiteSpace();
  reader_->Skip(4);  // "xref"
  reader_->SkipWhiteSpace();
  std::vector<std::pair<int32_t, std::unique_ptr<TzoXRefItem>>> entries;
  std::vector<int32_t> freed;
  for (;;) {
    std::string head;
    reader_->PeekString(7, head);
    if (head == "trailer") break;
    if (head.empty() || !IsDigit(static_cast<uint8_t>(head[0]))) Corrupted();
    int64_t first = NumberToken(reader_->ReadToken());
    int64_t count = NumberToken(reader_->ReadToken());
    // Every entry takes at least six bytes ("0 0 n" and an end of line).
    if (count > (size - reader_->Position()) / 6 + 1) Corrupted();
    if (first + count - 1 > MaxObjectNumber()) Corrupted();
    // A subsection of no entries is skipped.
    for (int64_t i = 0; i < count; ++i) {
      int64_t off = NumberToken(reader_->ReadToken());
      int64_t gen = NumberToken(reader_->ReadToken());
      std::string kindText = reader_->ReadToken();
      if (kindText != "n" && kindText != "f") Corrupted();
      int32_t n = static_cast<int32_t>(first + i);
      if (kindText == "n")
        entries.emplace_back(n,
                             std::make_unique<TzoXRefItem>(
                                 off, static_cast<int32_t>(std::min<int64_t>(gen, 65535)), 'n', n));
      else
        freed.push_back(n);
    }
  }
  std::unique_ptr<TzoPDFDictObject> trailer = reader_->ReadTrailer();
  TakeTrailerValues(*trailer);
  // In-use entries of this table, then the stream it names (a hybrid file), then its free entries.
  for (auto& [n, item] : entries)
    SetXRefEntry(n, std::move(item), nullptr, decided);
  int64_t xrefStm = IntegerOf(trailer->GetValue("/XRefStm"), -1);
  if (xrefStm > 0 && !visited.count(xrefStm)) {
    visited.insert(xrefStm);
    if (SectionKind(xrefStm) == 2)
      (void)ReadXRefStream(xrefStm, decided);
    else
      Warning(rtl::Format("No cross-reference data at offset %d", xrefStm));
  }
  for (int32_t n : freed)
    SetXRefEntry(n, nullptr, nullptr, decided);
  return IntegerOf(trailer->GetValue("/Prev"), -1);
}

int64_t TzoCustomPDFDocument::ReadXRefStream(int64_t offset, std::vector<uint8_t>& decided) {
  reader_->SetPosition(offset);
  std::unique_ptr<TzoPDFIndirectObject> obj = ReadIndirectObject(-1);
  TzoPDFStreamObject* stream =
      obj && obj->DirectObject() ? obj->DirectObject()->AsStream() : nullptr;
  if (!stream) Corrupted();
  const TzoPDFDictObject& dict = *stream->Dict();
  std::unique_ptr<rtl::TMemoryStream> data = DecodeStreamData(*stream);
  TakeTrailerValues(dict);

  const TzoPDFArrayObject* w = dict.GetValue("/W") ? dict.GetValue("/W")->AsArray() : nullptr;
  if (!w || w->Count() < 3) Corrupted();
  int64_t widths[3];
  for (int i = 0; i < 3; ++i) {
    widths[i] = IntegerOf(w->GetItem(i), -1);
    if (widths[i] < 0 || widths[i] > 8) Corrupted();
  }
  const int64_t entrySize = widths[0] + widths[1] + widths[2];
  std::vector<std::pair<int64_t, int64_t>> sections;
  if (const TzoPDFObject* index = dict.GetValue("/Index"); index && index->AsArray()) {
    const TzoPDFArrayObject* a = index->AsArray();
    for (int32_t p = 0; p + 1 < a->Count(); p += 2) {
      int64_t first = IntegerOf(a->GetItem(p), -1), count = IntegerOf(a->GetItem(p + 1), -1);
      if (first < 0 || count < 0) Corrupted();
      sections.emplace_back(first, count);
    }
  } else {
    int64_t count = IntegerOf(dict.GetValue("/Size"), -1);
    if (count < 0) Corrupted();
    sections.emplace_back(0, count);
  }
  const int64_t dataSize = data->Size();
  int64_t total = 0;
  for (const auto& [first, count] : sections) {
    if (count > 0 && first + count - 1 > MaxObjectNumber()) Corrupted();
    total += count;
    if (entrySize > 0 ? total > dataSize / entrySize : total > MaxObjectNumber()) Corrupted();
  }
  const uint8_t* bytes = data->Memory();
  int64_t pos = 0;
  auto field = [&](int64_t width, int64_t def) -> int64_t {
    if (width == 0) return def;
    uint64_t v = 0;
    for (int64_t i = 0; i < width; ++i)
      v = (v << 8) | bytes[pos++];
    return static_cast<int64_t>(v);
  };
  for (const auto& [first, count] : sections) {
    for (int64_t i = 0; i < count; ++i) {
      // A type field of no width means type 1.
      int64_t type = field(widths[0], 1);
      int64_t f2 = field(widths[1], 0);
      int64_t f3 = field(widths[2], 0);
      if (type < 0 || type > 2) continue;  // unknown types are ignored, as null references
      SetXRefEntry(static_cast<int32_t>(first + i), nullptr,
                   std::make_unique<TzoXRefStmItem>(static_cast<int32_t>(type), f2, f3), decided);
    }
  }
  return IntegerOf(dict.GetValue("/Prev"), -1);
}

void TzoCustomPDFDocument::ResolveFileID() {
  if (!firstFileID_) return;
  std::unique_ptr<TzoPDFObject> id = std::move(firstFileID_);
  if (id->AsArray()) {
    trailer_->SetID(TakeAs<TzoPDFArrayObject>(id));
  } else if (id->AsReference()) {
    std::unique_ptr<TzoPDFObject> target = LoadReferenced(id.get());
    if (target && target->AsArray()) trailer_->SetID(TakeAs<TzoPDFArrayObject>(target));
  }
}

int64_t TzoCustomPDFDocument::GetObjectOffset(int32_t objectNumber) const {
  if (objectNumber < 0) return 0;
  size_t i = static_cast<size_t>(objectNumber);
  if (i < xrefItems_.size() && xrefItems_[i] && xrefItems_[i]->ObjectNumber == objectNumber)
    return xrefItems_[i]->Offset;
  if (i < xrefStmItems_.size() && xrefStmItems_[i] && xrefStmItems_[i]->EntryType == 1)
    return xrefStmItems_[i]->OffsetOrStreamNumber;
  return 0;
}

uint16_t TzoCustomPDFDocument::ObjectGeneration(int32_t objectNumber) const {
  if (objectNumber < 0) return 0;
  size_t i = static_cast<size_t>(objectNumber);
  if (i < xrefItems_.size() && xrefItems_[i])
    return static_cast<uint16_t>(std::clamp(xrefItems_[i]->Generation, 0, 65535));
  if (i < xrefStmItems_.size() && xrefStmItems_[i] && xrefStmItems_[i]->EntryType == 1)
    return static_cast<uint16_t>(
        std::clamp<int64_t>(xrefStmItems_[i]->GenerationOrIndex, 0, 65535));
  return 0;
}

std::unique_ptr<rtl::TMemoryStream> TzoCustomPDFDocument::PNGUnpredict(rtl::TStream& source,
                                                                       int32_t columns) {
  if (columns < 1) columns = 1;
  auto out = std::make_unique<rtl::TMemoryStream>();
  const size_t n = static_cast<size_t>(columns);
  std::vector<uint8_t> prev(n, 0), row(n + 1), cur(n);
  for (;;) {
    int64_t got = source.Read(row.data(), static_cast<int64_t>(n + 1));
    if (got <= 0) break;
    // A short last row counts as padded with zero bytes.
    std::fill(row.begin() + got, row.end(), 0);
    const uint8_t tag = row[0];
    for (size_t i = 0; i < n; ++i) {
      const int raw = row[i + 1];
      const int left = i > 0 ? cur[i - 1] : 0;
      const int up = prev[i];
      const int upLeft = i > 0 ? prev[i - 1] : 0;
      int v;
      switch (tag) {
        case 0:
          v = raw;
          break;
        case 1:
          v = raw + left;
          break;
        case 2:
          v = raw + up;
          break;
        case 3:
          v = raw + (left + up) / 2;
          break;
        case 4: {
          int p = left + up - upLeft;
          int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
          v = raw + (pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft);
          break;
        }
        default:
          throw EImproperPNGAlgorithm(SImproperPNGAlgorithm);
      }
      cur[i] = static_cast<uint8_t>(v & 0xFF);
    }
    out->Write(cur.data(), static_cast<int64_t>(n));
    prev = cur;
    if (got < static_cast<int64_t>(n + 1)) break;
  }
  return out;
}

std::unique_ptr<rtl::TMemoryStream> TzoCustomPDFDocument::DecodeStreamData(
    const TzoPDFStreamObject& stream) {
  const TzoPDFDictObject& dict = *stream.Dict();
  rtl::TMemoryStream empty;
  rtl::TStream& raw = stream.Data() ? static_cast<rtl::TStream&>(*stream.Data()) : empty;
  TzoPDFObject* filter = inputStore_->Resolve(dict.GetValue("/Filter"));
  TzoPDFObject* parms = inputStore_->Resolve(dict.GetValue("/DecodeParms"));
  std::unique_ptr<rtl::TMemoryStream> data = DecodeStreamFilters(raw, filter, parms);
  // The PNG predictors of cross-reference and object streams.
  const TzoPDFDictObject* p = parms ? parms->AsDict() : nullptr;
  if (!p && parms && parms->AsArray())
    for (int32_t i = 0; i < parms->AsArray()->Count() && !p; ++i)
      if (TzoPDFObject* e = inputStore_->Resolve(parms->AsArray()->GetItem(i))) p = e->AsDict();
  if (p) {
    int64_t predictor = IntegerOf(inputStore_->Resolve(p->GetValue("/Predictor")), 1);
    if (predictor >= 10) {
      int64_t columns = IntegerOf(inputStore_->Resolve(p->GetValue("/Columns")), 1);
      if (columns < 1 || columns > (int64_t{1} << 20)) Corrupted();
      data->SetPosition(0);
      data = PNGUnpredict(*data, static_cast<int32_t>(columns));
    } else if (predictor != 1) {
      Corrupted();
    }
  }
  data->SetPosition(0);
  return data;
}

// ---- Objects ----

std::unique_ptr<TzoPDFIndirectObject> TzoCustomPDFDocument::ReadIndirectObject(
    int32_t expectedNumber) {
  const int64_t start = reader_->Position();
  if (start <= 0) return nullptr;
  if (start >= reader_->Size()) {
    Warning(rtl::Format("Object %d not found at offset %d", expectedNumber, start));
    return nullptr;
  }
  // The header must be the object asked for; anything else counts as a missing object.
  reader_->SkipWhiteSpace();
  const int64_t headerAt = reader_->Position();
  std::string num = reader_->ReadToken();
  std::string gen = reader_->ReadToken();
  std::string word = reader_->ReadToken();
  if (!AllDigits(num) || !AllDigits(gen) || word != "obj" || num.size() > 10 ||
      (expectedNumber >= 0 && rtl::StrToInt64(num) != expectedNumber)) {
    Warning(rtl::Format("Object %d not found at offset %d", expectedNumber, start));
    return nullptr;
  }
  reader_->SetPosition(headerAt);
  std::unique_ptr<TzoPDFObject> obj = reader_->ReadObject();
  std::unique_ptr<TzoPDFIndirectObject> ind = TakeAs<TzoPDFIndirectObject>(obj);
  if (!ind) {
    Warning(rtl::Format("Object %d not found at offset %d", expectedNumber, start));
    return nullptr;
  }
  if (TzoPDFStreamObject* stream =
          ind->DirectObject() ? ind->DirectObject()->AsStream() : nullptr) {
    const int64_t dataAt = reader_->Position();
    int64_t length = StreamLength(*stream->Dict(), ind->ObjectNumber());
    reader_->SetPosition(dataAt);
    // A wrong /Length is corrected by the reader's search for "endstream"; data that cannot be
    // found at all fail the load rather than being replaced by nothing.
    stream->SetData(reader_->ReadStreamData(length, ind->ObjectNumber(), ind->Generation()));
  }
  return ind;
}

int64_t TzoCustomPDFDocument::StreamLength(const TzoPDFDictObject& dict, int32_t streamNumber) {
  const TzoPDFObject* len = dict.GetValue("/Length");
  if (!len) return -1;
  if (!len->AsReference()) return IntegerOf(len, -1);
  const TzoPDFIndirectReference* ref = len->AsReference();
  if (ref->ObjectNumber() == streamNumber) return -1;
  if (TzoPDFIndirectObject* found = inputStore_->Find(ref))
    return IntegerOf(found->DirectObject(), -1);
  int64_t offset = GetObjectOffset(ref->ObjectNumber());
  if (offset <= 0) return -1;
  reader_->SetPosition(offset);
  // A length is a number: read it without following anything further.
  reader_->SkipWhiteSpace();
  std::string num = reader_->ReadToken(), gen = reader_->ReadToken(), word = reader_->ReadToken();
  if (!AllDigits(num) || num.size() > 10 || rtl::StrToInt64(num) != ref->ObjectNumber() ||
      word != "obj")
    return -1;
  std::unique_ptr<TzoPDFObject> value = reader_->ReadObject();
  if (!value || !(value->AsInteger() || value->AsInt64())) return -1;
  int64_t v = IntegerOf(value.get(), -1);
  inputStore_->Add(std::make_unique<TzoPDFIndirectObject>(documentNumber_, ref->ObjectNumber(),
                                                          ref->Generation(), std::move(value)));
  return v;
}

TzoPDFIndirectObject* TzoCustomPDFDocument::FindOrReadObject(
    int32_t objectNumber, std::unique_ptr<TzoPDFIndirectObject>& read) {
  if (int32_t i =
          inputStore_->IndexOf(documentNumber_, objectNumber, ObjectGeneration(objectNumber));
      i >= 0)
    return inputStore_->GetItem(i);
  if (!reader_) return nullptr;
  int64_t offset = GetObjectOffset(objectNumber);
  if (offset <= 0) return nullptr;
  reader_->SetPosition(offset);
  read = ReadIndirectObject(objectNumber);
  return read.get();
}

TzoPDFIndirectObject* TzoCustomPDFDocument::StoredObject(int32_t objectNumber) {
  std::unique_ptr<TzoPDFIndirectObject> read;
  TzoPDFIndirectObject* obj = FindOrReadObject(objectNumber, read);
  if (read) obj = inputStore_->Add(std::move(read));
  return obj;
}

TzoPDFIndirectObject* TzoCustomPDFDocument::LoadIndirectObject(int32_t objectNumber) {
  TzoPDFIndirectObject* obj = StoredObject(objectNumber);
  if (obj) obj->AddRef();
  return obj;
}

TzoPDFIndirectObject* TzoCustomPDFDocument::StoredTarget(const TzoPDFObject* ref) {
  if (!ref || !ref->AsReference()) return nullptr;
  if (TzoPDFIndirectObject* found = inputStore_->Find(ref)) return found;
  if (ref->AsReference()->ObjectNumber() <= 0) return nullptr;
  TzoPDFIndirectObject* obj = StoredObject(ref->AsReference()->ObjectNumber());
  // Only the object the reference names (number and generation) answers it.
  if (obj && obj->Generation() != ref->AsReference()->Generation()) return nullptr;
  return obj;
}

std::unique_ptr<TzoPDFObject> TzoCustomPDFDocument::LoadReferenced(const TzoPDFObject* ref) {
  std::unordered_set<TzoPDFIndirectObject*> seen;
  const TzoPDFObject* cur = ref;
  while (cur && cur->AsReference()) {
    TzoPDFIndirectObject* target = StoredTarget(cur);
    if (!target || !seen.insert(target).second) return nullptr;
    target->AddRef();
    cur = target->DirectObject();
  }
  return cur ? cur->Clone() : nullptr;
}

TzoPDFObject* TzoCustomPDFDocument::ResolveLoaded(TzoPDFObject* obj) {
  std::unordered_set<TzoPDFIndirectObject*> seen;
  while (obj && obj->AsReference()) {
    TzoPDFIndirectObject* target = StoredTarget(obj);
    if (!target || !seen.insert(target).second) return nullptr;
    obj = target->DirectObject();
  }
  if (obj && obj->AsIndirect()) obj = obj->AsIndirect()->DirectObject();
  return obj;
}

TzoPDFDictObject* TzoCustomPDFDocument::ResolveDict(TzoPDFObject* obj) {
  TzoPDFObject* r = ResolveLoaded(obj);
  if (!r || r->IsNull()) return nullptr;
  if (!r->AsDict()) RaiseMsg<zoCstPDFDoc::EUnexpectedObjectError>(SUnexpectedObject);
  return r->AsDict();
}

TzoPDFArrayObject* TzoCustomPDFDocument::ResolveArray(TzoPDFObject* obj) {
  TzoPDFObject* r = ResolveLoaded(obj);
  if (!r || r->IsNull()) return nullptr;
  if (!r->AsArray()) RaiseMsg<zoCstPDFDoc::EUnexpectedObjectError>(SUnexpectedObject);
  return r->AsArray();
}

void TzoCustomPDFDocument::Walk(TzoPDFObject* obj) {
  // An explicit work list: the depth of the file's structures never reaches the stack.
  std::vector<TzoPDFObject*> work;
  if (obj) work.push_back(obj);
  while (!work.empty()) {
    TzoPDFObject* o = work.back();
    work.pop_back();
    switch (o->ObjectType()) {
      case otArray: {
        TzoPDFArrayObject* a = o->AsArray();
        for (int32_t i = a->Count() - 1; i >= 0; --i) {
          TzoPDFObject* e = a->GetItem(i);
          if (!e) continue;
          if (e->IsStream())
            Warning(SStreamObjectInArray);
          else
            work.push_back(e);
        }
        break;
      }
      case otDictionary: {
        TzoPDFDictObject* d = o->AsDict();
        for (int32_t i = d->Count() - 1; i >= 0; --i)
          if (TzoPDFObject* v = d->GetValueAt(i);
              v && (v->IsArray() || v->IsDictionary() || v->IsIndirectReference()))
            work.push_back(v);
        break;
      }
      case otStream:
        work.push_back(o->AsStream()->Dict());
        break;
      case otIndirectObject:
        if (walked_.insert(o->AsIndirect()).second && o->AsIndirect()->DirectObject())
          work.push_back(o->AsIndirect()->DirectObject());
        break;
      case otIndirectReference: {
        const TzoPDFIndirectReference* ref = o->AsReference();
        if (ref->ObjectNumber() <= 0) {
          Warning(rtl::Format(SInvalidObjectNumberInPDF, ref->ObjectNumber()));
          break;
        }
        // The object is in the store before its members are walked, and walked once.
        TzoPDFIndirectObject* target = StoredTarget(ref);
        if (!target) break;
        target->AddRef();
        if (walked_.insert(target).second && target->DirectObject())
          work.push_back(target->DirectObject());
        break;
      }
      default:
        break;
    }
  }
}

void TzoCustomPDFDocument::LoadObjectStreams() {
  std::unordered_set<int64_t> done;
  for (size_t i = 0; i < xrefStmItems_.size(); ++i) {
    const TzoXRefStmItem* e = xrefStmItems_[i].get();
    if (!e || e->EntryType != 2) continue;
    const int64_t s = e->OffsetOrStreamNumber;
    if (!done.insert(s).second) continue;
    if (s <= 0 || s > MaxObjectNumber()) {
      Warning(rtl::Format("Invalid object stream number (%d)", s));
      continue;
    }
    UnpackObjectStream(static_cast<int32_t>(s));
  }
}

void TzoCustomPDFDocument::UnpackObjectStream(int32_t s) {
  // The object stream's own position comes from an uncompressed entry only.
  int64_t offset = GetObjectOffset(s);
  if (offset <= 0) {
    Warning(rtl::Format("Object stream %d not found", s));
    return;
  }
  reader_->SetPosition(offset);
  std::unique_ptr<TzoPDFIndirectObject> obj = ReadIndirectObject(s);
  TzoPDFStreamObject* stream =
      obj && obj->DirectObject() ? obj->DirectObject()->AsStream() : nullptr;
  if (!stream) {
    Warning(rtl::Format("Object stream %d not found", s));
    return;
  }
  const TzoPDFDictObject& dict = *stream->Dict();
  if (!NameIs(dict.GetValue("/Type"), "/ObjStm")) return;
  std::unique_ptr<rtl::TMemoryStream> data = DecodeStreamData(*stream);
  const int64_t n = IntegerOf(dict.GetValue("/N"), -1);
  const int64_t first = IntegerOf(dict.GetValue("/First"), -1);
  if (n < 0 || first < 0 || first > data->Size() || n > data->Size() / 2 + 1) Corrupted();
  objectStreamReader_ = std::make_unique<TzoPDFStreamReader>(documentNumber_, data.get());
  TzoPDFStreamReader& r = *objectStreamReader_;
  std::vector<std::pair<int64_t, int64_t>> pairs;
  r.SetPosition(0);
  for (int64_t k = 0; k < n; ++k) {
    std::string o = r.ReadToken(), rel = r.ReadToken();
    if (!AllDigits(o) || !AllDigits(rel) || o.size() > 10 || rel.size() > 18) Corrupted();
    pairs.emplace_back(rtl::StrToInt64(o), rtl::StrToInt64(rel));
  }
  for (const auto& [o, rel] : pairs) {
    // Only objects whose current entry names this stream come from it.
    if (o <= 0 || o >= static_cast<int64_t>(xrefStmItems_.size())) continue;
    const TzoXRefStmItem* e = xrefStmItems_[static_cast<size_t>(o)].get();
    if (!e || e->EntryType != 2 || e->OffsetOrStreamNumber != s) continue;
    const int32_t on = static_cast<int32_t>(o);
    if (inputStore_->IndexOf(documentNumber_, on, 0) >= 0) continue;
    if (first + rel >= data->Size()) Corrupted();
    r.SetPosition(first + rel);
    r.SetCurrentObject(-1, -1);
    std::unique_ptr<TzoPDFObject> x = r.ReadObject();
    if (!x) x = std::make_unique<TzoPDFNullObject>();
    inputStore_->Add(std::make_unique<TzoPDFIndirectObject>(documentNumber_, on, 0, std::move(x)));
  }
  objectStreamReader_.reset();
}

// ---- Encryption ----

std::unique_ptr<TzoPDFObject> TzoCustomPDFDocument::ResolveEncrypt(const TzoPDFObject* obj) {
  // A self-contained copy: references are replaced by copies of what they name (each reference
  // followed at most once along a path).
  std::unordered_set<int32_t> path;
  std::function<std::unique_ptr<TzoPDFObject>(const TzoPDFObject*, int)> resolve =
      [&](const TzoPDFObject* o, int depth) -> std::unique_ptr<TzoPDFObject> {
    if (!o) return nullptr;
    if (depth > 32) Corrupted();
    if (const TzoPDFIndirectReference* ref = o->AsReference()) {
      if (!path.insert(ref->ObjectNumber()).second) Corrupted();
      std::unique_ptr<TzoPDFIndirectObject> read;
      TzoPDFIndirectObject* target = FindOrReadObject(ref->ObjectNumber(), read);
      std::unique_ptr<TzoPDFObject> out = target ? resolve(target->DirectObject(), depth + 1)
                                                 : std::make_unique<TzoPDFNullObject>();
      path.erase(ref->ObjectNumber());
      return out;
    }
    if (const TzoPDFIndirectObject* ind = o->AsIndirect())
      return resolve(ind->DirectObject(), depth + 1);
    if (const TzoPDFArrayObject* a = o->AsArray()) {
      auto out = std::make_unique<TzoPDFArrayObject>();
      for (int32_t i = 0; i < a->Count(); ++i)
        out->Add(resolve(a->GetItem(i), depth + 1));
      return out;
    }
    if (const TzoPDFDictObject* d = o->AsDict()) {
      auto out = std::make_unique<TzoPDFDictObject>();
      for (int32_t i = 0; i < d->Count(); ++i)
        out->AddPair(CloneOf(*d->GetKeyAt(i)), resolve(d->GetValueAt(i), depth + 1));
      return out;
    }
    return o->Clone();
  };
  return resolve(obj, 0);
}

TzoUserPermissions TzoCustomPDFDocument::MapPermissions(int32_t keyLength, int64_t p) {
  TzoUserPermissions result;
  auto map = [&](int64_t bit, TzoUserPermissionsType t) {
    if (p & bit) result.Include(t);
  };
  map(4, AllowPrint);
  map(8, AllowModify);
  map(16, AllowCopy);
  map(32, AllowAnnotation);
  if (keyLength == 128) {
    map(256, AllowFormFill);
    map(512, AllowAccessibility);
    map(1024, AllowDocAssembly);
    map(2048, AllowHighResPrint);
  }
  return result;
}

int32_t TzoCustomPDFDocument::OpenEncryption(const std::string& password) {
  const TzoPDFDictObject* dict = trailer_->Encrypt() ? trailer_->Encrypt()->AsDict() : nullptr;
  if (!dict) RaiseMsg<zoCstPDFDoc::EUnexpectedObjectError>(SUnexpectedObject);
  decryptor_ = std::make_unique<TzoPDFDecrypt>();
  if (const TzoPDFArrayObject* id = trailer_->ID(); id && id->Count() > 0 && id->GetItem(0)) {
    if (const TzoPDFStringObject* s = id->GetItem(0)->AsString())
      decryptor_->SetFileID(PDFStringBytes(*s));
  }
  // /O, /U and /P must be there and sound; the handler must be one we open.
  decryptor_->SetEncryptDict(*dict);
  const int64_t keyLength = IntegerOf(dict->GetValue("/Length"), 40);
  const int64_t p = IntegerOf(dict->GetValue("/P"), 0);
  reader_->SetDecryptor(decryptor_.get());
  if (encryption_->CanChange()) {
    encryption_->SetEnabled(true);
    encryption_->SetLevel(decryptor_->Level() == 0 ? el40bit : el128bit);
  }
  int32_t accepted = decryptor_->Authenticate(*encryption_, password);
  if (accepted == 1 && decryptor_->OwnerAuthenticated()) {
    // The owner keeps the file's restrictions unless he changes them.
    encryption_->SetUserPermissions(
        MapPermissions(static_cast<int32_t>(std::clamp<int64_t>(keyLength, 0, 0x7FFFFFFF)), p));
  }
  if (accepted != 1) reader_->SetDecryptor(nullptr);
  return accepted;
}
