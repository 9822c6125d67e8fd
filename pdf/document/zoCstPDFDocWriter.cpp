// The document writer and saving: every object still in use is renumbered and written as PDF text,
// after the catalog, the information dictionary and one flat page tree, followed by the encryption
// dictionary, one cross-reference table and the trailer. The text goes to the block writer in
// batches of about 64 KiB, with the stream data and the strings to encrypt placed in them; the
// block writer encrypts them and writes blocks of 64 KiB to the output stream (stream data larger
// than that in one piece of its own) on its own thread, and the writer counts the offsets itself.
// Saving writes a temporary file in the target's folder and puts it in place of the target only
// when it is complete; a caller that owns such a file saves into its stream.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <span>

#include "pdf/core/zoFilters.h"
#include "pdf/core/zoPDFConsts.h"
#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "platform/FileSystem.h"
#include "ui/Shell.h"

namespace {

constexpr std::string_view kCRLF = "\r\n";
// Output is gathered into batches of about this size before it goes to the block writer.
constexpr size_t kOutputBlock = TzoBlockWriter::kBlockBytes;
// Plain stream data shorter than this is copied into the batch's text; longer data is written
// from where it is.
constexpr size_t kCopiedData = 16 * 1024;
// While the block writer has this much stream data still to encrypt or write, the saving thread
// encrypts the next stream's data itself: the two share the work.
constexpr size_t kEncryptBacklog = 1024 * 1024;
// The freshly compressed data that data views, moved out so that the piece keeps it alive; empty
// when data lives in the document.
std::string TakeWhenOwn(std::string_view data, std::string& compressed) {
  const bool own = !compressed.empty() && data.data() == compressed.data();
  return own ? std::move(compressed) : std::string();
}
// "%PDF-1.4", then a comment of four bytes above 127 that marks the file as binary.
constexpr std::string_view kHeader = "%PDF-1.4\r\n%\xE2\xE3\xCF\xD3\r\n";

constexpr const char* SStreamWithoutData = "Stream without data (object %d)";
constexpr const char* SNotReadCannotSave = "No document has been read: there is nothing to save";
constexpr const char* SXRefGap = "Object %d was numbered but not written";

// Catalog keys that the writer builds from the document model (and that the catalog reader reads
// into it); every other entry of the file's catalog is kept as read and written as it was.
constexpr std::string_view kModelCatalogKeys[] = {
    "/Type",       "/Pages",      "/Metadata", "/PageMode",
    "/PageLayout", "/Names",      "/Outlines", "/ViewerPreferences",
    "/AcroForm",   "/OpenAction", "/AA"};

bool IsOneOf(std::string_view key, std::span<const std::string_view> keys) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool IsPageDict(const TzoPDFDictObject& d) {
  const TzoPDFObject* type = d.GetValue("/Type");
  return type && type->IsName() && type->AsName()->Text() == "/Page";
}

[[noreturn]] void RaiseFilterObject(const TzoPDFObject* obj) {
  throw zoCstPDFDoc::EUnexpectedObjectError(FmtLoadMessage(
      SUnexpectedFilterObject, obj ? obj->GetTypeName() : std::string(ObjectTypeNames[8])));
}

// The lower-cased extension of the file part of name, from its last "." (dot included).
std::string LowerExtension(const std::string& name) {
  size_t slash = name.find_last_of('/');
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

TzoSetupDialogFactory& SetupDialogFactory() {
  static TzoSetupDialogFactory factory;
  return factory;
}

}  // namespace

// ---- Small texts ----

std::string TzoCustomPDFDocument::ObjectHeaderText(int32_t objectNumber) {
  return std::to_string(objectNumber) + " 0 obj";
}

std::string TzoCustomPDFDocument::ReferenceText(int32_t objectNumber) {
  return std::to_string(objectNumber) + " 0 R";
}

std::string TzoCustomPDFDocument::WrapObject(int32_t objectNumber, const std::string& body) {
  std::string out;
  out.reserve(body.size() + 32);
  out += kCRLF;
  out += ObjectHeaderText(objectNumber);
  out += kCRLF;
  out += body;
  out += kCRLF;
  out += "endobj";
  out += kCRLF;
  return out;
}

std::string TzoCustomPDFDocument::WrapDict(const std::string& body) {
  return "<<\r\n" + body + ">>";
}

std::string TzoCustomPDFDocument::KeyValueLine(std::string_view key, const std::string& valueText) {
  if (valueText.empty()) return {};
  std::string out;
  out.reserve(key.size() + valueText.size() + 3);
  out += key;
  out += ' ';
  out += valueText;
  out += kCRLF;
  return out;
}

std::string TzoCustomPDFDocument::XRefLine(int64_t offset, int32_t generation, char kind) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10lld %.5d %c", static_cast<long long>(offset), generation,
                kind);
  return buf;
}

std::string TzoCustomPDFDocument::CompressData(const std::string& data, uint8_t method,
                                               uint8_t level) {
  std::string out;
  if (method == 0) {
    TzoFlateFilter().EncodeString(data, static_cast<TCompressionLevel>(level), out);
  } else if (method == 1) {
    TzoRLEFilter().EncodeString(data, out);
  } else {
    out = data;
  }
  return out;
}

int32_t TzoCustomPDFDocument::NextObjectNumber() {
  return ++lastObjectNumber_;
}

// ---- Object texts ----

std::string TzoCustomPDFDocument::ObjectText(int32_t objectNumber, TzoPDFObject* obj) {
  std::string out;
  AppendObjectText(out, objectNumber, obj);
  return out;
}

void TzoCustomPDFDocument::AppendObjectText(std::string& out, int32_t objectNumber,
                                            TzoPDFObject* obj) {
  if (!obj) return;
  switch (obj->ObjectType()) {
    case otBoolean:
      out += obj->AsBoolean()->GetText();
      return;
    case otInteger:
      out += obj->AsInteger()->GetText();
      return;
    case otInt64:
      out += obj->AsInt64()->GetText();
      return;
    case otReal:
      out += obj->AsReal()->GetText();
      return;
    case otString: {
      const TzoPDFStringObject* s = obj->AsString();
      if (IsEncryptionOn() && objectNumber != -1) {
        // The string's own bytes, whatever they encode (UTF-16 text, binary data). In the output
        // batch, the block writer encrypts them and writes their digits into the room left.
        out += '<';
        if (outputKeyed_ && &out == &output_.Text)
          output_.AddHexEncrypted(PDFStringBytes(*s), objectNumber);
        else
          out += StrToHex(EncryptString(PDFStringBytes(*s), objectNumber));
        out += '>';
      } else if (s->IsHex()) {
        out += s->Text();
      } else {
        out += '(';
        out += EscapePDFString(s->GetValue());
        out += ')';
      }
      return;
    }
    case otName:
      out += obj->AsName()->Text();
      return;
    case otArray: {
      const TzoPDFArrayObject* a = obj->AsArray();
      out += "[ ";
      for (int32_t i = 0; i < a->Count(); ++i) {
        const size_t at = out.size();
        AppendObjectText(out, objectNumber, a->GetItem(i));
        if (out.size() == at) out += "null";
        out += ' ';
      }
      out += ']';
      return;
    }
    case otDictionary:
      AppendDictText(out, objectNumber, *obj->AsDict(), nullptr);
      return;
    case otStream:
      out += StreamText(objectNumber, obj->AsStream());
      return;
    case otNull:
      out += "null";
      return;
    case otIndirectReference: {
      TzoPDFIndirectObject* target = inputStore_->Find(obj);
      if (!target && outputStore_) target = outputStore_->Find(obj);
      AppendReference(out, target && target->RefCount() != 0 ? target->OutputNumber() : 0);
      return;
    }
    case otIndirectObject: {
      // An indirect object met as a value stands for a reference to it; writing it here would
      // put it out of its place in the cross-reference order.
      const TzoPDFIndirectObject* ind = obj->AsIndirect();
      AppendReference(out, ind->RefCount() != 0 ? ind->OutputNumber() : 0);
      return;
    }
  }
}

void TzoCustomPDFDocument::AppendReference(std::string& out, int32_t outputNumber) {
  if (outputNumber == 0) {
    out += "null";
    return;
  }
  out += std::to_string(outputNumber);
  out += " 0 R";
}

void TzoCustomPDFDocument::AppendDictText(std::string& out, int32_t objectNumber,
                                          const TzoPDFDictObject& d, const int64_t* length) {
  const bool isPage = IsPageDict(d);
  bool lengthWritten = false;
  out += "<<\r\n";
  for (int32_t i = 0; i < d.Count(); ++i) {
    const std::string& key = d.GetKeyAt(i)->Text();
    if (isPage && key == "/Parent") continue;  // pages hang below the one page tree node
    if (length && !lengthWritten && key == "/Length") {
      // The first /Length entry, in its place, gets the length given.
      out += key;
      out += ' ';
      out += std::to_string(*length);
      out += kCRLF;
      lengthWritten = true;
      continue;
    }
    // An entry without a value text is left out: a key alone would take the next key as its
    // value.
    const size_t at = out.size();
    out += key;
    out += ' ';
    const size_t valueAt = out.size();
    AppendObjectText(out, objectNumber, d.GetValueAt(i));
    if (out.size() == valueAt)
      out.resize(at);
    else
      out += kCRLF;
  }
  if (length && !lengthWritten) {
    out += "/Length ";
    out += std::to_string(*length);
    out += kCRLF;
  }
  if (isPage) {
    out += "/Parent ";
    AppendReference(out, pagesNumber_);
    out += kCRLF;
  }
  out += ">>";
}

void TzoCustomPDFDocument::AppendStreamDict(std::string& out, int32_t objectNumber,
                                            TzoPDFStreamObject* stream, std::string& compressed,
                                            std::string_view& data) {
  rtl::TMemoryStream* mem = stream->Data();
  if (!mem) throw EPDFException(rtl::Format(SStreamWithoutData, objectNumber));
  data = std::string_view(reinterpret_cast<const char*>(mem->Memory()),
                          static_cast<size_t>(mem->Size()));
  if (!compression_ || !compression_->Enabled || compression_->Method > 1) {
    // The dictionary as it is, with the length of the data as a direct number.
    const int64_t length = static_cast<int64_t>(data.size());
    AppendDictText(out, objectNumber, *stream->Dict(), &length);
    return;
  }

  std::unique_ptr<TzoPDFDictObject> dict = CloneOf(*stream->Dict());
  const std::string_view newName = CompressionFilterNames[compression_->Method];
  TzoPDFObject* rawFilter = dict->GetValue("/Filter");
  TzoPDFObject* filter = rawFilter ? inputStore_->Resolve(rawFilter) : nullptr;
  bool compress = true;
  std::vector<std::unique_ptr<TzoPDFObject>> filters;  // the filters after the new one
  if (rawFilter) {
    if (!filter || filter->IsNull()) RaiseFilterObject(filter ? filter : rawFilter);
    if (filter->IsName()) {
      const std::string& n = filter->AsName()->Text();
      if (n == "/DCTDecode" || n == "/JBIG2Decode" || n == "/CCITTFaxDecode" || n == newName)
        compress = false;
      filters.push_back(filter->Clone());
    } else if (filter->IsArray()) {
      const TzoPDFArrayObject* a = filter->AsArray();
      for (int32_t i = 0; i < a->Count(); ++i) {
        TzoPDFObject* e = inputStore_->Resolve(a->GetItem(i));
        if (!e || !e->IsName()) RaiseFilterObject(e ? e : a->GetItem(i));
        const std::string& n = e->AsName()->Text();
        if (n == "/FlateDecode" || n == "/RunLengthDecode" || n == "/CCITTFaxDecode")
          compress = false;
        filters.push_back(e->Clone());
      }
    } else {
      RaiseFilterObject(filter);
    }
  }
  if (compress) {
    compressed = CompressData(std::string(data), compression_->Method, compression_->Level);
    data = compressed;
    // The clone gets a direct filter list of its own; the decode parameters keep their
    // filters' places, with null for the new filter.
    TzoPDFObject* rawParms = dict->GetValue("/DecodeParms");
    TzoPDFObject* parms = rawParms ? inputStore_->Resolve(rawParms) : nullptr;
    std::unique_ptr<TzoPDFArrayObject> newParms;
    if (!filters.empty() && parms && !parms->IsNull()) {
      newParms = std::make_unique<TzoPDFArrayObject>();
      newParms->Add(std::make_unique<TzoPDFNullObject>());
      if (parms->IsArray()) {
        const TzoPDFArrayObject* pa = parms->AsArray();
        for (int32_t i = 0; i < pa->Count(); ++i) {
          TzoPDFObject* e = pa->GetItem(i);
          newParms->Add(e ? e->Clone() : std::make_unique<TzoPDFNullObject>());
        }
      } else {
        newParms->Add(parms->Clone());
      }
    }
    if (filters.empty()) {
      dict->SetValue("/Filter", std::make_unique<TzoPDFNameObject>(std::string(newName)));
      dict->Remove("/DecodeParms");  // parameters without a filter belong to none
    } else {
      auto list = std::make_unique<TzoPDFArrayObject>();
      list->Add(std::make_unique<TzoPDFNameObject>(std::string(newName)));
      for (auto& f : filters)
        list->Add(std::move(f));
      dict->SetValue("/Filter", std::move(list));
      if (newParms)
        dict->SetValue("/DecodeParms", std::move(newParms));
      else
        dict->Remove("/DecodeParms");
    }
  }
  const int64_t length = static_cast<int64_t>(data.size());
  AppendDictText(out, objectNumber, *dict, &length);
}

std::string TzoCustomPDFDocument::StreamText(int32_t objectNumber, TzoPDFStreamObject* stream) {
  std::string out;
  std::string compressed;
  std::string_view data;
  AppendStreamDict(out, objectNumber, stream, compressed, data);
  out += "\r\nstream\r\n";
  if (IsEncryptionOn())
    out += EncryptString(data, objectNumber);
  else
    out += data;
  out += "\r\nendstream";
  return out;
}

// ---- Writing ----

void TzoCustomPDFDocument::BeginOutput() {
  output_.Clear();
  output_.Text.reserve(kOutputBlock + kOutputBlock / 4);
  outputPosition_ = outputStream_->Position();
  if (!blockWriter_) blockWriter_ = std::make_unique<TzoBlockWriter>();
  std::string key;
  outputKeyed_ = IsEncryptionOn() && encryptor_;
  if (outputKeyed_) key = encryptor_->GetKey();
  blockWriter_->Begin(*outputStream_, {reinterpret_cast<const uint8_t*>(key.data()), key.size()},
                      backgroundOutput_);
}

void TzoCustomPDFDocument::FlushOutput() {
  if (output_.Empty()) return;
  outputPosition_ += static_cast<int64_t>(output_.Size());
  blockWriter_->Write(output_);
}

void TzoCustomPDFDocument::EndOutput() {
  outputPosition_ += static_cast<int64_t>(output_.Size());
  blockWriter_->End(output_);
  output_ = TzoOutputBatch();
}

std::exception_ptr TzoCustomPDFDocument::AbandonOutput() noexcept {
  if (!blockWriter_) return nullptr;
  blockWriter_->Abandon();
  return blockWriter_->Failure();
}

void TzoCustomPDFDocument::WriteOutput(std::string_view bytes) {
  output_.Text += bytes;
  if (output_.Size() >= kOutputBlock) FlushOutput();
}

void TzoCustomPDFDocument::WriteStreamData(std::string_view data, std::string& compressed,
                                           int32_t objectNumber) {
  if (IsEncryptionOn()) {
    WriteEncrypted(data, compressed, objectNumber);
    return;
  }
  if (data.size() < kCopiedData) {
    output_.Text += data;
    return;
  }
  output_.AddData(TzoOutputPiece::pkData, data, TakeWhenOwn(data, compressed), objectNumber);
  if (output_.Size() >= kOutputBlock) FlushOutput();
}

void TzoCustomPDFDocument::WriteEncrypted(std::string_view data, std::string& compressed,
                                          int32_t objectNumber) {
  if (data.empty()) return;
  if (!encryptor_) CreateEncryptor();
  if (!outputKeyed_ || blockWriter_->Backlog() + output_.DataBytes >= kEncryptBacklog) {
    // Encrypted here: the block writer is that far behind (or has no key, when encryption was
    // switched on during the save).
    const size_t at = output_.Text.size();
    output_.Text.resize(at + data.size());
    encryptor_->EncryptData(data.data(), output_.Text.data() + at, data.size(), objectNumber, 0);
  } else {
    output_.AddData(TzoOutputPiece::pkEncrypted, data, TakeWhenOwn(data, compressed), objectNumber);
  }
  if (output_.Size() >= kOutputBlock) FlushOutput();
}

void TzoCustomPDFDocument::RecordOffset(int32_t objectNumber) {
  // The offset of the object number's first digit, behind the CR LF that opens the text.
  const int64_t offset = OutputPosition() + 2;
  if (objectNumber < 1) throw EPDFException(rtl::Format(SXRefGap, objectNumber));
  const size_t index = static_cast<size_t>(objectNumber - 1);
  if (xrefOffsets_.size() <= index) xrefOffsets_.resize(index + 1, 0);
  xrefOffsets_[index] = offset;
}

void TzoCustomPDFDocument::WriteObjectText(const std::string& text, int32_t objectNumber) {
  RecordOffset(objectNumber);
  WriteOutput(text);
}

void TzoCustomPDFDocument::WriteIndirectObject(TzoPDFIndirectObject* obj) {
  const int32_t n = obj->OutputNumber();
  RecordOffset(n);
  // The text is built at the end of the output batch itself.
  std::string& out = output_.Text;
  out += kCRLF;
  out += ObjectHeaderText(n);
  out += kCRLF;
  TzoPDFObject* direct = obj->DirectObject();
  if (direct && direct->IsStream()) {
    std::string compressed;
    std::string_view data;
    AppendStreamDict(out, n, direct->AsStream(), compressed, data);
    out += "\r\nstream\r\n";
    WriteStreamData(data, compressed, n);
    out += "\r\nendstream";
  } else {
    const size_t bodyAt = out.size();
    AppendObjectText(out, n, direct);
    if (out.size() == bodyAt) out += "null";
  }
  out += kCRLF;
  out += "endobj";
  out += kCRLF;
  if (output_.Size() >= kOutputBlock) FlushOutput();
}

void TzoCustomPDFDocument::BuildOutlines() {
  TzoPDFOutline* root = outlineRoot_.get();
  if (!root) return;
  // The root and its items carry numbers that no object of the input has (given when they were
  // read), so their output objects and the items' links meet only each other.
  auto dict = std::make_unique<TzoPDFDictObject>();
  int32_t count = 0;
  std::unique_ptr<TzoPDFIndirectReference> last;
  if (root->First()) {
    std::unique_ptr<TzoPDFIndirectReference> first =
        BuildOutlineItem(root, nullptr, count, last, root->First());
    if (first) {
      dict->AddObject("/First", std::move(first));
      if (last) dict->AddObject("/Last", std::move(last));
    }
  }
  dict->AddInteger("/Count", count);
  outputStore_->Add(TzoPDFIndirectObject::CreateReferenced(
      root->DocumentNumber(), root->ObjectNumber(), root->Generation(), true, std::move(dict)));
  catalog_->SetOutlines(CreateReferenceTo(*root));
}

void TzoCustomPDFDocument::WriteDocument() {
  catalogNumber_ = 1;
  infoNumber_ = 2;
  pagesNumber_ = 3;
  xrefOffsets_.clear();
  lastObjectNumber_ = 3;
  // Objects made for this save are gone with it, also when it fails (once the block writer has
  // let go of their data and of the stream).
  struct OutputScope {
    TzoCustomPDFDocument& doc;
    ~OutputScope() {
      doc.AbandonOutput();
      doc.outputStore_.reset();
      doc.xrefOffsets_.clear();
      doc.output_ = TzoOutputBatch();
      doc.outputKeyed_ = false;
    }
  } scope{*this};

  if (IsEncryptionOn()) CreateEncryptor();
  outputStore_ = std::make_unique<TzoPDFObjectStore>();
  // Numbers for new objects begin above every number of the input.
  outputStore_->SetXRefSize(std::max(inputStore_->XRefSize(), inputStore_->HighestNumber() + 1));
  outputStore_->SetLastNumber(inputStore_->LastNumber());

  StatusMessage(LoadMessage(SBuildingOutlines));
  BuildOutlines();

  StatusMessage(LoadMessage(SBuildingObjects));
  // Every page of the page list is written, whatever its count says.
  for (TzoPDFIndirectObject* page : pages_)
    if (page->RefCount() == 0) page->AddRef();
  for (const TzoPDFObjectStore* store : {inputStore_.get(), outputStore_.get()}) {
    for (int32_t i = 0; i < store->Count(); ++i) {
      TzoPDFIndirectObject* obj = store->GetItem(i);
      obj->SetOutputNumber(obj->RefCount() != 0 ? NextObjectNumber() : 0);
    }
  }

  BeginOutput();
  WriteOutput(kHeader);

  // Catalog.
  std::string body = KeyValueLine("/Type", "/Catalog");
  body += KeyValueLine("/Pages", ReferenceText(pagesNumber_));
  const TzoPDFDictObject* read = catalog_->Dict();
  if (catalog_->Metadata()) body += KeyValueLine("/Metadata", ObjectText(1, catalog_->Metadata()));
  if (pageMode_ != pmNone)
    body += KeyValueLine("/PageMode", std::string(PageModeNames[pageMode_]));
  else if (read && read->GetValue("/PageMode"))  // a mode the model has no value for
    body += KeyValueLine("/PageMode", ObjectText(1, read->GetValue("/PageMode")));
  if (pageLayout_ != plNone)
    body += KeyValueLine("/PageLayout", std::string(PageLayoutNames[pageLayout_]));
  else if (read && read->GetValue("/PageLayout"))
    body += KeyValueLine("/PageLayout", ObjectText(1, read->GetValue("/PageLayout")));
  body += KeyValueLine("/Names", ObjectText(1, catalog_->Names()));
  body += KeyValueLine("/Outlines", ObjectText(1, catalog_->Outlines()));
  if (catalog_->ViewerPreferences() && catalog_->ViewerPreferences()->Dict()->Count() > 0)
    body +=
        KeyValueLine("/ViewerPreferences", ObjectText(1, catalog_->ViewerPreferences()->Dict()));
  body += KeyValueLine("/AcroForm", ObjectText(1, catalog_->AcroForm()));
  body += KeyValueLine("/OpenAction", ObjectText(1, catalog_->OpenAction()));
  body += KeyValueLine("/AA", ObjectText(1, catalog_->AA()));
  if (read) {
    for (int32_t i = 0; i < read->Count(); ++i) {
      const std::string& key = read->GetKeyAt(i)->Text();
      if (IsOneOf(key, kModelCatalogKeys)) continue;
      body += KeyValueLine(key, ObjectText(1, read->GetValueAt(i)));
    }
  }
  WriteObjectText(WrapObject(catalogNumber_, WrapDict(body)), catalogNumber_);

  // Information dictionary.
  std::unique_ptr<TzoPDFDictObject> infoDict = info_->OutputDict();
  WriteObjectText(WrapObject(infoNumber_, ObjectText(infoNumber_, infoDict.get())), infoNumber_);
  infoDict.reset();

  // Page tree: one node with every page as its direct kid.
  StatusMessage(LoadMessage(SWritingPages));
  std::string kids = "[ ";
  for (const TzoPDFIndirectObject* page : pages_) {
    kids += ReferenceText(page->OutputNumber());
    kids += ' ';
  }
  kids += ']';
  body = KeyValueLine("/Type", "/Pages");
  body += KeyValueLine("/Count", std::to_string(pages_.size()));
  body += KeyValueLine("/Kids", kids);
  WriteObjectText(WrapObject(pagesNumber_, WrapDict(body)), pagesNumber_);

  const int64_t total = static_cast<int64_t>(inputStore_->Count()) + outputStore_->Count();
  int64_t done = 0;
  for (const TzoPDFObjectStore* store : {inputStore_.get(), outputStore_.get()}) {
    for (int32_t i = 0; i < store->Count(); ++i) {
      TzoPDFIndirectObject* obj = store->GetItem(i);
      if (obj->RefCount() != 0) WriteIndirectObject(obj);
      ++done;
      if (OnIOProgress) IOProgress(static_cast<int32_t>(done * 100 / total));
    }
  }

  // Encryption dictionary, cross-reference table, trailer.
  StatusMessage(LoadMessage(SWritingXRefTable));
  int32_t encryptNumber = -1;
  if (IsEncryptionOn()) {
    std::unique_ptr<TzoPDFDictObject> d = BuildEncryptDict();
    std::string text = ObjectText(-1, d.get());
    encryptNumber = NextObjectNumber();
    WriteObjectText(WrapObject(encryptNumber, text), encryptNumber);
  }
  if (xrefOffsets_.size() != static_cast<size_t>(lastObjectNumber_))
    throw EPDFException(rtl::Format(SXRefGap, static_cast<int32_t>(xrefOffsets_.size()) + 1));
  for (size_t i = 0; i < xrefOffsets_.size(); ++i)
    if (xrefOffsets_[i] == 0)
      throw EPDFException(rtl::Format(SXRefGap, static_cast<int32_t>(i + 1)));

  const int64_t xrefAt = OutputPosition();
  const size_t entries = xrefOffsets_.size() + 1;
  std::string text;
  text.reserve(entries * 20 + 256);
  text += "xref\r\n0 " + std::to_string(entries) + "\r\n";
  text += XRefLine(0, 65535, 'f');
  text += kCRLF;
  for (int64_t offset : xrefOffsets_) {
    text += XRefLine(offset, 0, 'n');
    text += kCRLF;
  }
  body = KeyValueLine("/Size", std::to_string(entries));
  body += KeyValueLine("/Root", ReferenceText(catalogNumber_));
  body += KeyValueLine("/Info", ReferenceText(infoNumber_));
  if (trailer_->ID()) body += KeyValueLine("/ID", ObjectText(-1, trailer_->ID()));
  if (encryptNumber != -1) body += KeyValueLine("/Encrypt", ReferenceText(encryptNumber));
  text += "trailer\r\n" + WrapDict(body) + "\r\nstartxref\r\n" + std::to_string(xrefAt) +
          "\r\n%%EOF\r\n";
  WriteOutput(text);
  EndOutput();
}

// ---- Catalog entries kept for the writer ----

void TzoCustomPDFDocument::KeepCatalogEntries(const TzoPDFDictObject& catalog) {
  std::unique_ptr<TzoPDFDictObject> kept = CloneOf(catalog);
  for (int32_t i = 0; i < kept->Count(); ++i) {
    if (IsOneOf(kept->GetKeyAt(i)->Text(), kModelCatalogKeys)) continue;
    Walk(kept->GetValueAt(i));
  }
  catalog_->SetDict(std::move(kept));
}

// ---- Saving ----

void TzoCustomPDFDocument::SetSetupDialogFactory(TzoSetupDialogFactory factory) {
  SetupDialogFactory() = std::move(factory);
}

int TzoCustomPDFDocument::RunSetupDialog() {
  if (setupDialog_) {
    struct Attach {
      TzoBaseDlg& dlg;
      ~Attach() { dlg.SetDocument(nullptr); }
    } attach{*setupDialog_};
    setupDialog_->SetDocument(this);
    return setupDialog_->ShowModal();
  }
  if (!SetupDialogFactory()) return 1;  // no dialog in this program: go on as with OK
  std::unique_ptr<TzoBaseDlg> dlg = SetupDialogFactory()();
  if (!dlg) return 1;
  dlg->SetDocument(this);
  int r = dlg->ShowModal();
  dlg->SetDocument(nullptr);
  return r;
}

void TzoCustomPDFDocument::SetNeedAppearances(uint8_t mode) {
  if (mode > 1) return;
  TzoPDFDictObject* form = inputStore_->GetDict(catalog_->AcroForm());
  if (!form) return;
  const bool value = mode == 0;
  TzoPDFObject* cur = form->GetValue("/NeedAppearances");
  if (cur && cur->IsBoolean())
    cur->AsBoolean()->SetValue(value);
  else
    form->SetValue("/NeedAppearances", std::make_unique<TzoPDFBooleanObject>(value));
}

bool TzoCustomPDFDocument::SaveWith(const std::string& name, uint8_t needAppearancesMode,
                                    const std::function<void()>& write) {
  CheckCanSave();
  if (!catalogRead_) throw EPDFException(SNotReadCannotSave);
  if (showSetupDialog_ && RunSetupDialog() == 2) return false;
  SetNeedAppearances(needAppearancesMode);
  StatusMessage(FmtLoadMessage(SSavingFile, name));
  write();
  StatusMessage(LoadMessage(SSaveComplete));
  return true;
}

void TzoCustomPDFDocument::WriteDocumentTo(rtl::TStream& stream) {
  outputStream_ = std::make_unique<TzoWriteOnlyFilter>(&stream);
  try {
    WriteDocument();
  } catch (...) {
    // The block writer has let go of the stream; a failure of its writing came before whatever
    // failed here, and is what the save raises.
    const std::exception_ptr failure = AbandonOutput();
    outputStream_.reset();
    if (failure) std::rethrow_exception(failure);
    throw;
  }
  outputStream_.reset();
}

bool TzoCustomPDFDocument::SaveToFile(const std::string& fileName, uint8_t needAppearancesMode) {
  const std::string name = LowerExtension(fileName) == ".pdf" ? fileName : fileName + ".pdf";
  return SaveWith(name, needAppearancesMode, [&] {
    // The target is replaced only by a complete file: a temporary file in its folder is written
    // through its own descriptor, flushed and renamed over it. Whatever fails leaves the target
    // as it was.
    platform::ReplacementFile file;
    std::string error;
    if (!file.Create(name, &error, /*followLink=*/true))
      throw rtl::EFCreateError("Cannot create file \"" + name + "\". " + error);
    {
      rtl::THandleStream stream(file.Descriptor(), name);
      WriteDocumentTo(stream);
    }
    if (!file.Commit(nullptr, &error))
      throw rtl::EWriteError("Cannot write \"" + name + "\". " + error);
    // The viewer runs on its own; whether it could be started is not looked at.
    if (openAfterSave_) ui::Shell().OpenDocument(name);
  });
}

bool TzoCustomPDFDocument::SaveToStream(rtl::TStream& stream, const std::string& name,
                                        uint8_t needAppearancesMode) {
  return SaveWith(name, needAppearancesMode, [&] { WriteDocumentTo(stream); });
}
