#include "pdf/document/zoCstPDFDoc.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "pdf/core/zoConsts.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "platform/CodePage.h"
#include "platform/OsRandom.h"

namespace {

// The process-wide document counter: 100 at start, incremented before each use.
std::atomic<int32_t> gDocumentCounter{100};

// Module start: the process's random generator is seeded from the system.
struct ModuleStart {
  ModuleStart() { Randomize(); }
} gModuleStart;

}  // namespace

// ---- TzoEMailInfo ----

TzoEMailInfo::TzoEMailInfo()
    : attachments_(std::make_unique<rtl::TStringList>()),
      body_(std::make_unique<rtl::TStringList>()),
      recipientList_(std::make_unique<rtl::TStringList>()),
      ccList_(std::make_unique<rtl::TStringList>()),
      bccList_(std::make_unique<rtl::TStringList>()) {}

// ---- TzoPageObjectList ----

TzoPDFIndirectObject* TzoPageObjectList::Add(const TzoObjectKey& key,
                                             std::unique_ptr<TzoPDFIndirectObject> obj) {
  ReserveOneMore(owned_);
  TzoPDFIndirectObject* p = obj.get();
  list_.Add(key, p);
  owned_.push_back(std::move(obj));
  return p;
}

TzoPDFIndirectObject* TzoPageObjectList::Item(int32_t index) const {
  return static_cast<TzoPDFIndirectObject*>(list_.GetObject(index));
}

// ---- TzoPDFOutline ----

TzoPDFOutline::TzoPDFOutline(TzoCustomPDFDocument* document, std::unique_ptr<TzoPDFDictObject> dict,
                             uint16_t generation, int32_t objectNumber, int32_t documentNumber,
                             const std::vector<TzoPDFIndirectObject*>* pageList)
    : TzoPDFIndirectObject(documentNumber, objectNumber, generation, std::move(dict)),
      document_(document),
      pageList_(pageList) {}

TzoPDFOutline::~TzoPDFOutline() {
  // The tree is taken apart item by item, not by a recursion as deep as the file makes it.
  std::vector<std::unique_ptr<TzoPDFOutline>> stack;
  if (first_) stack.push_back(std::move(first_));
  if (next_) stack.push_back(std::move(next_));
  while (!stack.empty()) {
    std::unique_ptr<TzoPDFOutline> item = std::move(stack.back());
    stack.pop_back();
    if (item->first_) stack.push_back(std::move(item->first_));
    if (item->next_) stack.push_back(std::move(item->next_));
  }
}

TzoPDFDictObject* TzoPDFOutline::Dict() const {
  return DirectObject() ? DirectObject()->AsDict() : nullptr;
}

// ---- TzoFontInfo, TzoAcroFormField ----

std::unique_ptr<TzoFontInfo> TzoFontInfo::Copy() const {
  auto c = std::make_unique<TzoFontInfo>();
  c->Name = Name;
  c->Color = Color;
  c->Size = Size;
  if (FontRef) c->FontRef = CloneOf(*FontRef);
  c->Font.Assign(Font);
  return c;
}

TzoAcroFormField::TzoAcroFormField(TzoPDFObjectStore* store, TzoPDFIndirectObject* fieldObject)
    : Store(store), FieldObject(fieldObject) {}

// ---- TzoCustomPDFDocument: life cycle ----

TzoCustomPDFDocument::TzoCustomPDFDocument(ConstructKey, rtl::TComponent* owner)
    : TzoComponent(owner) {}

TzoCustomPDFDocument::~TzoCustomPDFDocument() {
  emailInfo_.reset();
  // Each class frees its own part; this is the base's.
  TzoCustomPDFDocument::ClearDocument();
}

void TzoCustomPDFDocument::CreateDocument() {
  measurementUnit_ = muPixels;
  emailInfo_ = std::make_unique<TzoEMailInfo>();
  ResetDocument();
  showSetupDialog_ = true;
  mergeOptions_ = MergeOption(moIncludeOutlines) | MergeOption(moIncludeFormFields);
}

int32_t TzoCustomPDFDocument::DocumentCounter() {
  return gDocumentCounter.load();
}

void TzoCustomPDFDocument::ResetDocument() {
  documentNumber_ = gDocumentCounter.fetch_add(1) + 1;
  lastObjectNumber_ = 3;
  outlineCount_ = 0;
  isLoaded_ = false;
  catalogRead_ = false;
  workFileName_.clear();
  outlineRoot_.reset();
  formFields_.reset();
  saveStateObjectNumber_ = -1;
  restoreStateObjectNumber_ = -1;
  contentsMemo_.clear();
  inputStore_ = std::make_unique<TzoPDFObjectStore>();
  walked_.clear();
  xrefSize_ = 0;
  loadBudget_ = 0;
  objectOffsets_.clear();
  namedDestinations_.reset();
  firstFileID_.reset();
  pages_.clear();
  xrefItems_.clear();
  xrefStmItems_.clear();
  decryptor_.reset();
  encryptor_.reset();
  encryptionChangesAtOpen_.reset();
  encryption_ = std::make_unique<TzoPDFEncryptionSettings>();
  encryption_->SetEnabled(false);
  encryption_->SetLevel(el40bit);
  encryption_->SetOwnerPassword("");
  encryption_->SetUserPassword("");
  compression_ = std::make_unique<TzoCompression>();
  pdfVersion_ = pvPDF14;
  pageMode_ = pmNone;
  pageLayout_ = plNone;
  info_ = std::make_unique<TzoPDFInfo>(this);
  catalog_ = std::make_unique<TzoPDFCatalog>();
  trailer_ = std::make_unique<TzoPDFTrailer>();
}

void TzoCustomPDFDocument::ClearDocument() {
  pages_.clear();  // lent from the store
  walked_.clear();
  contentsMemo_.clear();
  outlineRoot_.reset();
  namedDestinations_.reset();
  formFields_.reset();
  inputStore_.reset();
  outputStore_.reset();
  trailer_.reset();
  catalog_.reset();
  info_.reset();
  encryption_.reset();
  encryptor_.reset();
  encryptionChangesAtOpen_.reset();
  objectStreamReader_.reset();
  reader_.reset();
  decryptor_.reset();
  compression_.reset();
  xrefItems_.clear();
  xrefStmItems_.clear();
  firstFileID_.reset();
  inputData_.reset();
  isLoaded_ = false;
  catalogRead_ = false;
}

void TzoCustomPDFDocument::ClearAndReset() {
  ClearDocument();
  ResetDocument();
}

// ---- Properties ----

int32_t TzoCustomPDFDocument::GetPageCount() const {
  return static_cast<int32_t>(pages_.size());
}

bool TzoCustomPDFDocument::GetIsOwner() const {
  return !decryptor_ || decryptor_->OwnerAuthenticated();
}

TzoPDFViewerPreferences* TzoCustomPDFDocument::GetViewerPreferences() const {
  return catalog_ ? catalog_->ViewerPreferences() : nullptr;
}

void TzoCustomPDFDocument::SetMeasurementUnit(TzoMeasurementUnit value) {
  measurementUnit_ = value;
}

void TzoCustomPDFDocument::SetEMailInfo(std::unique_ptr<TzoEMailInfo> value) {
  emailInfo_ = std::move(value);
}

void TzoCustomPDFDocument::SetEncryption(const TzoPDFEncryptionSettings& value) {
  if (&value == encryption_.get()) return;
  encryption_->SetEnabled(value.Enabled());
  encryption_->SetLevel(value.Level());
  encryption_->SetOwnerPassword(value.OwnerPassword());
  encryption_->SetUserPassword(value.UserPassword());
  encryption_->SetUserPermissions(value.UserPermissions());
}

// ---- Events ----

void TzoCustomPDFDocument::Warning(const std::string& text) {
  if (OnWarning) OnWarning(this, text);
}

void TzoCustomPDFDocument::StatusMessage(const std::string& text) {
  if (OnStatusMessage) OnStatusMessage(this, text);
}

void TzoCustomPDFDocument::IOProgress(int32_t percentage) {
  if (OnIOProgress) OnIOProgress(this, percentage);
}
