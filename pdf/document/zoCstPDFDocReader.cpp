// Reading a file: cross-reference tables and streams, objects by number, object streams, the
// encryption dictionary and the password.
#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <unordered_set>

#include "pdf/core/zoDZLIB.h"
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

// The value of decimal digits that fit in 64 bits (at most 18 of them).
int64_t DigitsValue(std::string_view digits) {
  int64_t v = 0;
  for (char c : digits)
    v = v * 10 + (c - '0');
  return v;
}

// A non-negative decimal number token, or Corrupted.
int64_t NumberToken(const std::string& token) {
  if (!AllDigits(token) || token.size() > 18) Corrupted();
  return DigitsValue(token);
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

// The targets met while a chain of references is followed. Chains are short: the first targets
// are kept in place, and only a long chain makes a hash set.
class TargetsMet {
 public:
  // False when target was met before.
  bool Insert(const TzoPDFIndirectObject* target) {
    if (!more_.empty()) return more_.insert(target).second;
    for (size_t i = 0; i < count_; ++i)
      if (first_[i] == target) return false;
    if (count_ < first_.size()) {
      first_[count_++] = target;
      return true;
    }
    more_.insert(first_.begin(), first_.end());
    return more_.insert(target).second;
  }

 private:
  std::array<const TzoPDFIndirectObject*, 8> first_{};
  size_t count_ = 0;
  std::unordered_set<const TzoPDFIndirectObject*> more_;
};

std::atomic<int64_t> gLoadBudgetMultiple{kDefaultLoadBudgetMultiple};
std::atomic<int64_t> gLoadBudgetAllowance{kDefaultLoadBudgetAllowance};

}  // namespace

// ---- The load budget ----

int64_t LoadBudgetMultiple() {
  return gLoadBudgetMultiple.load(std::memory_order_relaxed);
}

int64_t LoadBudgetAllowance() {
  return gLoadBudgetAllowance.load(std::memory_order_relaxed);
}

void SetLoadBudget(int64_t multiple, int64_t allowance) {
  if (multiple < 0 || allowance < 0)
    throw rtl::Exception(rtl::Format("Invalid load budget (%d, %d)", multiple, allowance));
  gLoadBudgetMultiple.store(multiple, std::memory_order_relaxed);
  gLoadBudgetAllowance.store(allowance, std::memory_order_relaxed);
}

int64_t LoadBudgetFor(int64_t fileSize) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const int64_t size = std::max<int64_t>(fileSize, 0), multiple = LoadBudgetMultiple();
  const int64_t scaled = multiple > 0 && size > kMax / multiple ? kMax : size * multiple;
  return scaled > kMax - LoadBudgetAllowance() ? kMax : scaled + LoadBudgetAllowance();
}

namespace {

[[noreturn]] void RaiseLoadBudget(int64_t fileSize) {
  throw ELoadBudgetError(rtl::Format(SLoadBudgetExceeded, LoadBudgetFor(fileSize)));
}

// The readers hand what they made to the budget in steps of this many bytes.
constexpr int64_t kChargeStep = 64 * 1024;
// A cross-reference entry in use, its slot and its offset.
constexpr int64_t kXRefEntryCost = 64;
// The bytes at the start of a file in which its header is looked for before the file is read.
constexpr int64_t kHeaderProbe = 1024;

}  // namespace

void TzoCustomPDFDocument::ChargeLoad(int64_t bytes) {
  if (bytes > loadBudget_) RaiseLoadBudget(loadBudgetSize_);
  if (OnLoadMemory) OnLoadMemory(this, bytes);
  loadBudget_ -= bytes;
}

void TzoCustomPDFDocument::StartLoadBudget(int64_t size) {
  loadBudgetSize_ = std::max<int64_t>(size, 0);
  loadBudget_ = LoadBudgetFor(loadBudgetSize_);
}

std::unique_ptr<rtl::TMemoryStream> TzoCustomPDFDocument::DecodeWithinBudget(
    rtl::TStream& data, const TzoPDFObject* filter, const TzoPDFObject* decodeParms) {
  std::unique_ptr<rtl::TMemoryStream> decoded;
  {
    // No filter may decode more than is left of the budget; when that is what stops it, the
    // budget is what was exceeded.
    TDecodedSizeLimitScope scope(loadBudget_);
    const int64_t limit = DecodedSizeLimit();
    const bool budgetBinds = limit == std::max<int64_t>(loadBudget_, 1);
    try {
      decoded = DecodeStreamFilters(data, filter, decodeParms);
    } catch (const rtl::Exception& e) {
      if (budgetBinds && e.Message() == rtl::Format(SDecodedSizeLimit, limit))
        RaiseLoadBudget(loadBudgetSize_);
      throw;
    }
  }
  ChargeLoad(decoded->Size());
  return decoded;
}

int64_t TzoCustomPDFDocument::NextObjectOffset(int64_t offset) const {
  auto it = std::upper_bound(objectOffsets_.begin(), objectOffsets_.end(), offset);
  return it == objectOffsets_.end() ? -1 : *it;
}

// ---- Loading a file ----

bool TzoCustomPDFDocument::LoadFromFile(const std::string& fileName) {
  const std::string name = rtl::ExtractFileExt(fileName).empty() ? fileName + ".pdf" : fileName;
  if (!platform::FileExists(name))
    throw EFileNotFound(rtl::Format("%s ", name) + LoadMessage(SFileNotFound));
  rtl::TFileStream file(name, rtl::TFileStream::fmOpenRead | rtl::TFileStream::fmShareDenyNone);
  return LoadFrom(file, name);
}

bool TzoCustomPDFDocument::LoadFromDescriptor(int fd, const std::string& fileName) {
  rtl::THandleStream file(fd, fileName);
  file.SetPosition(0);
  return LoadFrom(file, fileName);
}

bool TzoCustomPDFDocument::LoadFrom(rtl::TStream& file, const std::string& fileName) {
  // Every load starts from a fresh document state.
  ClearAndReset();
  isEncrypted_ = false;
  workFileName_ = fileName;
  if (filename_.empty()) filename_ = workFileName_;
  try {
    // The header is checked before anything else is read.
    {
      rtl::TMemoryStream head;
      file.SetPosition(0);
      head.SetSize(kHeaderProbe);
      head.SetSize(std::max<int64_t>(file.Read(head.Memory(), kHeaderProbe), 0));
      TzoPDFStreamReader(documentNumber_, &head).ReadHeader();
    }
    // The budget follows the file's data; a file larger than that (the holes of a sparse file)
    // is refused before it is copied.
    auto* handle = dynamic_cast<rtl::THandleStream*>(&file);
    StartLoadBudget(handle ? handle->DataSize() : file.Size());
    const int64_t size = file.Size();
    if (size > loadBudget_) RaiseLoadBudget(loadBudgetSize_);
    if (OnLoadMemory) OnLoadMemory(this, size);
    // The whole file is read now: nothing reads it after the load, so saving over it is safe.
    {
      auto data = std::make_unique<rtl::TMemoryStream>();
      data->LoadFromStream(file);
      inputData_ = std::move(data);
    }
    ParseDocumentStream(*inputData_);
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
  StartLoadBudget(stream.Size());
  ParseDocumentStream(stream);
}

void TzoCustomPDFDocument::ParseDocumentStream(rtl::TStream& stream) {
  objectOffsets_.clear();
  try {
    reader_ = std::make_unique<TzoPDFStreamReader>(documentNumber_, &stream);
    reader_->SetCharge(kChargeStep, [this](int64_t bytes) { ChargeLoad(bytes); });
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
  if (reader_) reader_->ChargeMade();
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
  // The slots up to a number cost their bytes, each entry in use its own.
  auto grow = [this, i](auto& slots, int64_t slotBytes) {
    if (slots.size() > i) return;
    ChargeLoad(static_cast<int64_t>(i + 1 - slots.size()) * slotBytes);
    slots.resize(i + 1);
  };
  grow(decided, 1);
  // Sections are applied newest first: the first entry for a number is its current one.
  if (decided[i]) return;
  decided[i] = 1;
  if (classic) {
    grow(xrefItems_, static_cast<int64_t>(sizeof(xrefItems_[0])));
    ChargeLoad(kXRefEntryCost);
    xrefItems_[i] = std::move(classic);
  } else if (stream) {
    grow(xrefStmItems_, static_cast<int64_t>(sizeof(xrefStmItems_[0])));
    ChargeLoad(kXRefEntryCost);
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

int TzoCustomPDFDocument::SectionKind(int64_t& offset,
                                      std::unique_ptr<TzoPDFIndirectObject>& stream) {
  stream.reset();
  if (offset <= 0 || offset >= reader_->Size()) return 0;
  // Offsets that editors write may point at the white space in front of a section.
  reader_->SetPosition(offset);
  reader_->SkipWhiteSpace();
  const int64_t at = reader_->Position();
  std::string head;
  reader_->PeekString(4, head);
  if (head == "xref") {
    offset = at;
    return 1;
  }
  // A cross-reference stream is known by its dictionary, whatever number its header shows (an
  // offset one byte into "15 0 obj" reads "5 0 obj").
  const std::string num = reader_->ReadToken(), gen = reader_->ReadToken(),
                    word = reader_->ReadToken();
  if (!AllDigits(num) || num.size() > 10 || !AllDigits(gen) || gen.size() > 5 || word != "obj")
    return 0;
  reader_->SetPosition(at);
  std::unique_ptr<TzoPDFIndirectObject> obj = ReadIndirectObject(-1);
  const TzoPDFStreamObject* s =
      obj && obj->DirectObject() ? obj->DirectObject()->AsStream() : nullptr;
  if (!s || !NameIs(s->Dict()->GetValue("/Type"), "/XRef")) return 0;
  offset = at;
  stream = std::move(obj);
  return 2;
}

void TzoCustomPDFDocument::ReadCrossReference() {
  int64_t offset = reader_->Position();
  std::unique_ptr<TzoPDFIndirectObject> stream;
  int kind = SectionKind(offset, stream);
  if (kind == 0) Corrupted();
  if (kind == 2) StatusMessage(LoadMessage(SReadingXRefStreamTable));
  std::vector<uint8_t> decided;
  std::unordered_set<int64_t> visited;
  // The /Prev chain, newest section first; an offset met again ends it.
  for (;;) {
    visited.insert(offset);
    int64_t prev = -1;
    if (kind == 1)
      prev = ReadXRefTable(offset, decided, visited);
    else
      prev = ReadXRefStream(*stream, decided);
    if (prev < 0) break;
    const int64_t given = prev;
    kind = SectionKind(prev, stream);
    if (kind == 0) {
      Warning(rtl::Format("No cross-reference data at offset %d", given));
      break;
    }
    if (visited.count(prev)) {
      Warning(rtl::Format("Cross-reference chain loops back to offset %d", given));
      break;
    }
    offset = prev;
  }
  stream.reset();
  // Where objects start: the stream data of one object end before the next one's header.
  objectOffsets_.clear();
  for (const auto& e : xrefItems_)
    if (e && e->Offset > 0) objectOffsets_.push_back(e->Offset);
  for (const auto& e : xrefStmItems_)
    if (e && e->EntryType == 1 && e->OffsetOrStreamNumber > 0)
      objectOffsets_.push_back(e->OffsetOrStreamNumber);
  std::sort(objectOffsets_.begin(), objectOffsets_.end());
  objectOffsets_.erase(std::unique(objectOffsets_.begin(), objectOffsets_.end()),
                       objectOffsets_.end());
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
  if (xrefStm > 0) {
    const int64_t given = xrefStm;
    std::unique_ptr<TzoPDFIndirectObject> stream;
    if (SectionKind(xrefStm, stream) != 2) {
      Warning(rtl::Format("No cross-reference data at offset %d", given));
    } else if (visited.insert(xrefStm).second) {
      (void)ReadXRefStream(*stream, decided);
    }
  }
  for (int32_t n : freed)
    SetXRefEntry(n, nullptr, nullptr, decided);
  return IntegerOf(trailer->GetValue("/Prev"), -1);
}

int64_t TzoCustomPDFDocument::ReadXRefStream(const TzoPDFIndirectObject& obj,
                                             std::vector<uint8_t>& decided) {
  const TzoPDFStreamObject* stream = obj.DirectObject() ? obj.DirectObject()->AsStream() : nullptr;
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

namespace {

// Bytes of one row of predicted samples and of one pixel (at least one byte).
struct RowLayout {
  size_t rowBytes;
  size_t pixelBytes;
};

RowLayout LayoutOf(int32_t columns, int32_t colors, int32_t bitsPerComponent) {
  const int64_t bits = int64_t{std::max(columns, 1)} * std::max(colors, 1) * bitsPerComponent;
  const int64_t pixelBits = int64_t{std::max(colors, 1)} * bitsPerComponent;
  return {static_cast<size_t>((bits + 7) / 8),
          static_cast<size_t>(std::max<int64_t>(1, (pixelBits + 7) / 8))};
}

// Reads one row of count bytes; false at the end. A short last row counts as padded with zero
// bytes (last is then set).
bool ReadRow(rtl::TStream& source, std::vector<uint8_t>& row, bool& last) {
  const int64_t got = source.Read(row.data(), static_cast<int64_t>(row.size()));
  if (got <= 0) return false;
  std::fill(row.begin() + got, row.end(), 0);
  last = got < static_cast<int64_t>(row.size());
  return true;
}

}  // namespace

std::unique_ptr<rtl::TMemoryStream> TzoCustomPDFDocument::PNGUnpredict(rtl::TStream& source,
                                                                       int32_t columns,
                                                                       int32_t colors,
                                                                       int32_t bitsPerComponent) {
  const RowLayout layout = LayoutOf(columns, colors, bitsPerComponent);
  const size_t n = layout.rowBytes, bpp = layout.pixelBytes;
  auto out = std::make_unique<rtl::TMemoryStream>();
  std::vector<uint8_t> prev(n, 0), row(n + 1), cur(n);
  bool last = false;
  while (!last && ReadRow(source, row, last)) {
    const uint8_t tag = row[0];
    for (size_t i = 0; i < n; ++i) {
      const int raw = row[i + 1];
      const int left = i >= bpp ? cur[i - bpp] : 0;
      const int up = prev[i];
      const int upLeft = i >= bpp ? prev[i - bpp] : 0;
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
    prev.swap(cur);
  }
  return out;
}

std::unique_ptr<rtl::TMemoryStream> TzoCustomPDFDocument::TIFFUnpredict(rtl::TStream& source,
                                                                        int32_t columns,
                                                                        int32_t colors,
                                                                        int32_t bitsPerComponent) {
  const RowLayout layout = LayoutOf(columns, colors, bitsPerComponent);
  const size_t n = layout.rowBytes;
  const size_t c = static_cast<size_t>(std::max(colors, 1));
  const int bits = bitsPerComponent;
  auto out = std::make_unique<rtl::TMemoryStream>();
  std::vector<uint8_t> row(n);
  bool last = false;
  while (!last && ReadRow(source, row, last)) {
    // Every sample but those of the first pixel is the difference to the same component of the
    // pixel on its left.
    if (bits == 8) {
      for (size_t i = c; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + row[i - c]);
    } else if (bits == 16) {
      for (size_t i = 2 * c; i + 1 < n; i += 2) {
        const unsigned v =
            ((row[i] << 8) | row[i + 1]) + ((row[i - 2 * c] << 8) | row[i - 2 * c + 1]);
        row[i] = static_cast<uint8_t>(v >> 8);
        row[i + 1] = static_cast<uint8_t>(v);
      }
    } else {
      const size_t samples = static_cast<size_t>(std::max(columns, 1)) * c;
      const unsigned mask = (1u << bits) - 1;
      auto get = [&](size_t k) {
        const size_t bit = k * static_cast<size_t>(bits);
        return (row[bit / 8] >> (8 - bits - static_cast<int>(bit % 8))) & mask;
      };
      auto put = [&](size_t k, unsigned v) {
        const size_t bit = k * static_cast<size_t>(bits);
        const int shift = 8 - bits - static_cast<int>(bit % 8);
        row[bit / 8] =
            static_cast<uint8_t>((row[bit / 8] & ~(mask << shift)) | ((v & mask) << shift));
      };
      for (size_t k = c; k < samples; ++k)
        put(k, get(k) + get(k - c));
    }
    out->Write(row.data(), static_cast<int64_t>(n));
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
  std::unique_ptr<rtl::TMemoryStream> data = DecodeWithinBudget(raw, filter, parms);
  // The predictors of cross-reference and object streams: TIFF (2) and PNG (10 to 15).
  const TzoPDFDictObject* p = parms ? parms->AsDict() : nullptr;
  if (!p && parms && parms->AsArray())
    for (int32_t i = 0; i < parms->AsArray()->Count() && !p; ++i)
      if (TzoPDFObject* e = inputStore_->Resolve(parms->AsArray()->GetItem(i))) p = e->AsDict();
  if (p) {
    auto parm = [&](std::string_view key, int64_t def) {
      return IntegerOf(inputStore_->Resolve(p->GetValue(key)), def);
    };
    const int64_t predictor = parm("/Predictor", 1);
    if (predictor != 1) {
      auto unsupported = [](std::string_view key, int64_t value) {
        return EUnsupportedFilterError(
            rtl::Format(SUnsupportedPredictor, std::string(key) + " " + rtl::IntToStr(value)));
      };
      if (predictor != 2 && (predictor < 10 || predictor > 15))
        throw unsupported("/Predictor", predictor);
      const int64_t colors = parm("/Colors", 1);
      const int64_t bits = parm("/BitsPerComponent", 8);
      const int64_t columns = parm("/Columns", 1);
      if (colors < 1 || colors > 32) throw unsupported("/Colors", colors);
      if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16)
        throw unsupported("/BitsPerComponent", bits);
      // Rows of cross-reference and object streams are short; a row beyond 1 MiB is damage.
      if (columns < 1 || columns > (int64_t{8} << 20) / (colors * bits))
        throw unsupported("/Columns", columns);
      data->SetPosition(0);
      const auto c = static_cast<int32_t>(columns), k = static_cast<int32_t>(colors),
                 b = static_cast<int32_t>(bits);
      data = predictor == 2 ? TIFFUnpredict(*data, c, k, b) : PNGUnpredict(*data, c, k, b);
      ChargeLoad(data->Size());
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
      (expectedNumber >= 0 && DigitsValue(num) != expectedNumber)) {
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
    // A wrong /Length is corrected by the reader's search for "endstream", which never runs into
    // the next object; data that cannot be found at all fail the load rather than being replaced
    // by nothing.
    std::unique_ptr<rtl::TMemoryStream> data = reader_->ReadStreamData(
        length, ind->ObjectNumber(), ind->Generation(), NextObjectOffset(headerAt));
    ChargeLoad(data->Size());
    stream->SetData(std::move(data));
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
  if (!AllDigits(num) || num.size() > 10 || DigitsValue(num) != ref->ObjectNumber() ||
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
  TargetsMet seen;
  const TzoPDFObject* cur = ref;
  while (cur && cur->AsReference()) {
    TzoPDFIndirectObject* target = StoredTarget(cur);
    if (!target || !seen.Insert(target)) return nullptr;
    target->AddRef();
    cur = target->DirectObject();
  }
  return cur ? cur->Clone() : nullptr;
}

TzoPDFObject* TzoCustomPDFDocument::ResolveLoaded(TzoPDFObject* obj) {
  TargetsMet seen;
  while (obj && obj->AsReference()) {
    TzoPDFIndirectObject* target = StoredTarget(obj);
    if (!target || !seen.Insert(target)) return nullptr;
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
  // An explicit work list: the depth of the file's structures never reaches the stack. Its buffer
  // is kept for the next walk (a walk begun within this one makes its own).
  std::vector<TzoPDFObject*> work = std::move(walkWork_);
  work.clear();
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
  walkWork_ = std::move(work);
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
  objectStreamReader_->SetCharge(kChargeStep, [this](int64_t bytes) { ChargeLoad(bytes); });
  TzoPDFStreamReader& r = *objectStreamReader_;
  std::vector<std::pair<int64_t, int64_t>> pairs;
  r.SetPosition(0);
  for (int64_t k = 0; k < n; ++k) {
    std::string o = r.ReadToken(), rel = r.ReadToken();
    if (!AllDigits(o) || !AllDigits(rel) || o.size() > 10 || rel.size() > 18) Corrupted();
    pairs.emplace_back(DigitsValue(o), DigitsValue(rel));
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
  r.ChargeMade();
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
  if (accepted == 1) encryptionChangesAtOpen_ = encryption_->Changes();
  return accepted;
}
