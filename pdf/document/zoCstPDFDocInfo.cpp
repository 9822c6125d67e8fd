// Encryption on output and the document information.
#include <mutex>

#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "platform/CodePage.h"
#include "platform/OsRandom.h"

namespace {

constexpr std::string_view kInfoKeys[8] = {"/Title",   "/Author",   "/Subject",      "/Keywords",
                                           "/Creator", "/Producer", "/CreationDate", "/ModDate"};
enum : int { kTitle, kAuthor, kSubject, kKeywords, kCreator, kProducer, kCreationDate, kModDate };

// The seed of every output file identifier.
constexpr std::string_view kFileIDSeed = "Output1.pdf";
constexpr size_t kFileIDRandomBytes = 16;

std::mutex gRandomSourceLock;
std::function<void(void*, size_t)> gRandomSource;

void FileIDRandomBytes(void* buffer, size_t length) {
  std::function<void(void*, size_t)> source;
  {
    std::lock_guard<std::mutex> lock(gRandomSourceLock);
    source = gRandomSource;
  }
  if (source)
    source(buffer, length);
  else
    platform::CryptoRandomBytes(buffer, length);
}

std::string Utf16BE(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
  return out;
}

// Steps of the text-string decoding that follow the removal of the delimiters: s holds the bytes.
std::u16string DecodeTextBytes(std::string s) {
  if (s.empty() || s == "()" || s == "<>") return {};
  bool utf16 = false;
  if (s.size() >= 2 && static_cast<uint8_t>(s[0]) == 0xFE && static_cast<uint8_t>(s[1]) == 0xFF) {
    s.erase(0, 2);
    utf16 = true;
  }
  if (s.empty() || s == "()" || s == "<>") return {};
  if (s.size() >= 4 && rtl::UpperCase(s.substr(0, 4)) == "FEFF") return PDFHexToWideString(s);
  if (static_cast<uint8_t>(s[0]) <= 32 || utf16) {
    std::u16string out;
    size_t i = 0;
    for (;;) {
      if (i < s.size() && s[i] == '.') ++i;
      if (i + 2 > s.size()) break;
      char16_t c =
          static_cast<char16_t>((static_cast<uint8_t>(s[i]) << 8) | static_cast<uint8_t>(s[i + 1]));
      if (c == 0) break;
      out.push_back(c);
      i += 2;
    }
    return out;
  }
  return platform::AnsiToWide(s);
}

}  // namespace

// ---- TzoPDFInfo ----

TzoPDFInfo::TzoPDFInfo(TzoCustomPDFDocument* document)
    : dict_(std::make_unique<TzoPDFDictObject>()), document_(document) {}

void TzoPDFInfo::SetDict(std::unique_ptr<TzoPDFDictObject> dict) {
  dict_ = dict ? std::move(dict) : std::make_unique<TzoPDFDictObject>();
}

std::u16string TzoPDFInfo::GetText(std::string_view key, const TextField& field) const {
  if (field.set) return field.value;
  const TzoPDFObject* v = dict_->GetValue(key);
  return v && v->AsString() ? TzoCustomPDFDocument::TextStringOf(*v->AsString()) : std::u16string();
}

std::string TzoPDFInfo::GetDate(std::string_view key, const TextField& field) const {
  if (field.set) return dates_[&field == &fields_[kCreationDate] ? 0 : 1];
  const TzoPDFObject* v = dict_->GetValue(key);
  if (!v || !v->AsString()) return {};
  const TzoPDFStringObject* s = v->AsString();
  return s->IsHex() ? HexToStr(s->GetValue()) : s->GetValue();
}

std::u16string TzoPDFInfo::Title() const {
  return GetText(kInfoKeys[kTitle], fields_[kTitle]);
}
std::u16string TzoPDFInfo::Author() const {
  return GetText(kInfoKeys[kAuthor], fields_[kAuthor]);
}
std::u16string TzoPDFInfo::Subject() const {
  return GetText(kInfoKeys[kSubject], fields_[kSubject]);
}
std::u16string TzoPDFInfo::Keywords() const {
  return GetText(kInfoKeys[kKeywords], fields_[kKeywords]);
}
std::u16string TzoPDFInfo::Creator() const {
  return GetText(kInfoKeys[kCreator], fields_[kCreator]);
}
std::u16string TzoPDFInfo::Producer() const {
  return GetText(kInfoKeys[kProducer], fields_[kProducer]);
}
std::string TzoPDFInfo::CreationDate() const {
  return GetDate(kInfoKeys[kCreationDate], fields_[kCreationDate]);
}
std::string TzoPDFInfo::ModDate() const {
  return GetDate(kInfoKeys[kModDate], fields_[kModDate]);
}

void TzoPDFInfo::SetTitle(const std::u16string& value) {
  fields_[kTitle] = {value, true};
}
void TzoPDFInfo::SetAuthor(const std::u16string& value) {
  fields_[kAuthor] = {value, true};
}
void TzoPDFInfo::SetSubject(const std::u16string& value) {
  fields_[kSubject] = {value, true};
}
void TzoPDFInfo::SetKeywords(const std::u16string& value) {
  fields_[kKeywords] = {value, true};
}
void TzoPDFInfo::SetCreator(const std::u16string& value) {
  fields_[kCreator] = {value, true};
}
void TzoPDFInfo::SetProducer(const std::u16string& value) {
  fields_[kProducer] = {value, true};
}
void TzoPDFInfo::SetCreationDate(const std::string& value) {
  dates_[0] = value;
  fields_[kCreationDate] = {platform::AnsiToWide(value), true};
}
void TzoPDFInfo::SetModDate(const std::string& value) {
  dates_[1] = value;
  fields_[kModDate] = {platform::AnsiToWide(value), true};
}

std::unique_ptr<TzoPDFDictObject> TzoPDFInfo::OutputDict() const {
  auto out = CloneOf(*dict_);
  for (int i = 0; i < 8; ++i) {
    if (!fields_[i].set) continue;
    out->SetName(kInfoKeys[i], "(" + document_->EncodeTextString(fields_[i].value, 2) + ")");
  }
  return out;
}

// ---- Text strings ----

std::string TzoCustomPDFDocument::EncodeTextString(const std::u16string& value,
                                                   int32_t objectNumber) {
  std::string b = "\xFE\xFF" + Utf16BE(value);
  if (IsEncryptionOn()) b = EncryptString(b, objectNumber);
  return EscapePDFString(b);
}

std::u16string TzoCustomPDFDocument::DecodeTextString(std::string_view text) const {
  if (text.empty() || text == "()" || text == "<>") return {};
  std::string s = UnescapePDFString(text);
  if (!s.empty() && (s[0] == '(' || s[0] == '<'))
    s = s.size() >= 2 ? s.substr(1, s.size() - 2) : "";
  return DecodeTextBytes(std::move(s));
}

std::u16string TzoCustomPDFDocument::TextStringOf(const TzoPDFStringObject& s) {
  // The reader has resolved the escapes already: the bytes are used as they stand.
  if (!s.IsHex()) {
    std::string bytes = s.GetValue();
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE &&
        static_cast<uint8_t>(bytes[1]) == 0xFF)
      return DecodeTextBytes(std::move(bytes));
    return platform::AnsiToWide(bytes);
  }
  std::string digits = s.GetValue();
  if (digits.size() >= 4 && rtl::UpperCase(digits.substr(0, 4)) == "FEFF")
    return PDFHexToWideString(digits);
  return platform::AnsiToWide(HexToStr(digits));
}

// ---- Encryption on output ----

bool TzoCustomPDFDocument::IsEncryptionOn() const {
  return encryption_ && encryption_->Enabled();
}

void TzoCustomPDFDocument::CreateEncryptor() {
  encryptor_.reset();
  // Each file gets its own identifier, so two files with equal passwords never share a key.
  std::string seed2 = info_->CreationDate();
  std::string random(kFileIDRandomBytes, '\0');
  FileIDRandomBytes(random.data(), random.size());
  seed2 += random;
  if (KeepsOpenedEncryption())
    encryptor_ = std::make_unique<TzoPDFEncryption>(*decryptor_, kFileIDSeed, seed2);
  else
    encryptor_ = std::make_unique<TzoPDFEncryption>(kFileIDSeed, seed2, *encryption_);
}

bool TzoCustomPDFDocument::KeepsOpenedEncryption() const {
  return encryption_ && encryption_->Enabled() && decryptor_ && decryptor_->HasFileKey() &&
         encryptionChangesAtOpen_ == encryption_->Changes();
}

std::string TzoCustomPDFDocument::EncryptString(std::string_view data, int32_t objectNumber) {
  if (!encryptor_) CreateEncryptor();
  return encryptor_->EncryptData(data, objectNumber, 0);
}

std::unique_ptr<TzoPDFDictObject> TzoCustomPDFDocument::BuildEncryptDict() {
  if (!encryptor_) CreateEncryptor();
  auto d = std::make_unique<TzoPDFDictObject>();
  d->AddName("/Filter", "/Standard");
  d->AddName("/O", "<" + StrToHex(encryptor_->GetOwnerKey()) + ">");
  d->AddName("/U", "<" + StrToHex(encryptor_->GetUserKey()) + ">");
  d->AddInteger("/P", encryptor_->PermissionsToP());
  const bool r3 = encryptor_->Revision() >= 3;
  d->AddInteger("/V", r3 ? 2 : 1);
  d->AddInteger("/R", r3 ? 3 : 2);
  d->AddInteger("/Length", static_cast<int32_t>(encryptor_->KeyLength() * 8));
  auto id = std::make_unique<TzoPDFArrayObject>();
  id->Add(
      std::make_unique<TzoPDFStringObject>("<" + StrToHex(encryptor_->GetFileID()) + ">", true));
  id->Add(
      std::make_unique<TzoPDFStringObject>("<" + StrToHex(encryptor_->GetUpdateID()) + ">", true));
  trailer_->SetID(std::move(id));
  return d;
}

void TzoCustomPDFDocument::SetFileIDRandomSource(
    std::function<void(void* buffer, size_t length)> source) {
  std::lock_guard<std::mutex> lock(gRandomSourceLock);
  gRandomSource = std::move(source);
}
