// The PDF document component: one document held in memory, loaded from a file, given new
// encryption, information and viewer settings, and written as a complete new file.
//
//   TzoCustomPDFDocument  the document: input data, object store, page list, outlines, form
//                         fields, output choices, events; loading, writing and saving
//   TzoPDFInfo            the document information (title, author, ... , dates)
//   TzoCompression        the output compression choice
//   TzoEMailInfo          e-mail settings kept with the document
//   TzoPDFOutline         one outline item with its links
//   TzoAcroFormField      one interactive form field, with TzoFontInfo for its appearance
//   TzoBaseDlg            what a settings dialog offers the document (the dialog is a GUI part)
//
// Documents are made by TzoCustomPDFDocument::Create<T>(): construction and the virtual set-up
// (CreateDocument, ResetDocument) are two phases, so descendants' overrides take part.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "pdf/core/zoBlockWriter.h"
#include "pdf/core/zoClasses.h"
#include "pdf/core/zoConsts.h"
#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFParsers.h"
#include "pdf/core/zoPDFTypes.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoGraphics.h"
#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"
#include "ui/Graphics.h"

class TzoCustomPDFDocument;
class TzoPDFFont;
class TzoShapeWatermark;
class TzoWatermarkTemplate;

// ---- Exceptions of the document unit ----

namespace zoCstPDFDoc {

class EPDFException : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};
// Declared for cross-reference errors.
class ECrossReferenceError : public EPDFException {
 public:
  using EPDFException::EPDFException;
};
// "File is corrupted"
class EPDFFileCorruptedError : public EPDFException {
 public:
  using EPDFException::EPDFException;
};
// "Unexpected PDF object encountered", "Unexpected filter object, found (%s)". A class of its
// own: not the object layer's ::EUnexpectedObjectError, and neither catches the other.
class EUnexpectedObjectError : public EPDFException {
 public:
  using EPDFException::EPDFException;
};
// "Invalid page number (%d)", "Invalid page range (%s)"
class EInvalidPageError : public EPDFException {
 public:
  using EPDFException::EPDFException;
};
class EUnsupportedImageError : public EPDFException {
 public:
  using EPDFException::EPDFException;
};
class EUnsupportedFontError : public EPDFException {
 public:
  using EPDFException::EPDFException;
};
// "Improper PNG algorithm tag in stream"
class EImproperPNGAlgorithm : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};
// "<path> File Not Found"
class EFileNotFound : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};
// SLoadBudgetExceeded: a file that needs more memory than its load budget.
class ELoadBudgetError : public EPDFException {
 public:
  using EPDFException::EPDFException;
};

}  // namespace zoCstPDFDoc

using zoCstPDFDoc::ECrossReferenceError;
using zoCstPDFDoc::EFileNotFound;
using zoCstPDFDoc::EImproperPNGAlgorithm;
using zoCstPDFDoc::EInvalidPageError;
using zoCstPDFDoc::ELoadBudgetError;
using zoCstPDFDoc::EPDFException;
using zoCstPDFDoc::EPDFFileCorruptedError;
using zoCstPDFDoc::EUnsupportedFontError;
using zoCstPDFDoc::EUnsupportedImageError;

// Texts of the document unit that the message table does not hold.
inline constexpr const char* SImproperPNGAlgorithm = "Improper PNG algorithm tag in stream";
// Raised as EUnsupportedFilterError; %s names the parameter and its value ("/Predictor 7").
inline constexpr const char* SUnsupportedPredictor = "Unsupported predictor (%s)";
inline constexpr const char* SInvalidObjectNumberInPDF = "Invalid Object number in PDF (%d)";
inline constexpr const char* SStreamObjectInArray = "Stream Object found inside Array!";
inline constexpr const char* SLoadBudgetExceeded =
    "The file needs more memory than its load budget (%d bytes)";
inline constexpr const char* SDocumentNotOpened =
    "The document was not opened (password refused): it cannot be saved";
inline constexpr const char* SInvalidFontEncoding =
    "Invalid font encoding (%s): a simple font takes WinAnsiEncoding, MacRomanEncoding or "
    "MacExpertEncoding";

// ---- The load budget (a library setting) ----

// What one load may cost besides its copy of the file: the bytes of stream data copied out of it,
// the bytes that cross-reference, object and field value streams decode to, and the objects read
// (a fixed cost for each plus its bytes) and the cross-reference entries, at most
// LoadBudgetMultiple() times the file's size plus LoadBudgetAllowance(). The size is that of the
// file's data: the holes of a sparse file hold none. A load that needs more, or a file larger than
// its budget, ends with ELoadBudgetError, before the file is copied when its size is too large.
inline constexpr int64_t kDefaultLoadBudgetMultiple = 1;
inline constexpr int64_t kDefaultLoadBudgetAllowance = int64_t{64} * 1024 * 1024;
int64_t LoadBudgetMultiple();
int64_t LoadBudgetAllowance();
// Negative values raise rtl::Exception.
void SetLoadBudget(int64_t multiple, int64_t allowance);
// The budget of a file of fileSize bytes.
int64_t LoadBudgetFor(int64_t fileSize);

// ---- Enumerations ----

enum TzoPageMode : uint8_t { pmNone, pmUseOutlines, pmUseThumbs, pmFullScreen, pmUseAttachments };
enum TzoPageLayout : uint8_t {
  plNone,
  plSinglePage,
  plOneColumn,
  plTwoColumnLeft,
  plTwoColumnRight
};
enum TzoMeasurementUnit : uint8_t { muPixels, muPoints, muInches, muMM, muTwips };
enum TzoMergeOptionsType : uint8_t {
  moIncludeOutlines,
  moIncludeFormFields,
  moRenameLikeNameFields
};
// A set of TzoMergeOptionsType: bit i stands for ordinal i.
using TzoMergeOptions = uint8_t;
constexpr TzoMergeOptions MergeOption(TzoMergeOptionsType t) {
  return static_cast<TzoMergeOptions>(1u << t);
}
// Reported through OnOperationProgress, which this library never raises.
enum TzoOperation : uint8_t { opNone, opMerge, opStamp };

// Output compression filters, indexed by TzoCompression::Method.
inline constexpr std::string_view CompressionFilterNames[2] = {"/FlateDecode", "/RunLengthDecode"};

// The encoding names of stamp fonts, indexed by a text stamp's EncodingIndex. Only the first
// three are encodings of a simple font; AddFontResource refuses the others.
inline constexpr std::array<std::string_view, 5> EncodingNames = {
    "WinAnsiEncoding", "MacRomanEncoding", "MacExpertEncoding", "StandardEncoding",
    "PDFDocEncoding"};
// Raises EUnsupportedFontError SInvalidFontEncoding unless index is one of the first three.
void CheckSimpleFontEncoding(uint8_t index);

// ---- Events ----

using TzoProgressEvent = std::function<void(TzoCustomPDFDocument* sender, int32_t percentage)>;
using TzoOperationProgressEvent =
    std::function<void(TzoCustomPDFDocument* sender, TzoOperation currentOperation,
                       int32_t currentCount, int32_t totalCount)>;
using TzoStatusMessageEvent =
    std::function<void(TzoCustomPDFDocument* sender, const std::string& statMsg)>;
using TzoWarningEvent =
    std::function<void(TzoCustomPDFDocument* sender, const std::string& warning)>;
// Called while an encrypted file waits for a password; the handler sets password and, to give
// up, cont := false. tries counts the calls before this one.
using TzoPasswordEvent =
    std::function<void(rtl::TObject* sender, std::string& password, bool& cont, int32_t tries)>;
// Called before a load takes memory for its copy of the file or from its load budget, with the
// bytes; the handler may wait for memory, or raise to end the load.
using TzoLoadMemoryEvent = std::function<void(TzoCustomPDFDocument* sender, int64_t bytes)>;
using TzoOnCalcVariablesEvent =
    std::function<void(TzoCustomPDFDocument* sender, const std::u16string& variable,
                       std::u16string& value, int32_t pageNo)>;
using TzoOnRenameFieldEvent =
    std::function<void(TzoCustomPDFDocument* sender, const std::string& oldFieldName,
                       std::string& newFieldName, int32_t pageNumber, bool& rename)>;

// ---- TzoCompression ----

// The output compression choice: off after every reset; Method 0 Flate, 1 RunLength; Level 0 to
// 3 (none, fastest, normal, maximum) for Flate.
class TzoCompression {
 public:
  bool Enabled = false;
  uint8_t Method = 0;
  uint8_t Level = 0;
};

// ---- TzoEMailInfo ----

// E-mail settings kept with the document; this library never sends mail.
class TzoEMailInfo : public rtl::TPersistent {
 public:
  TzoEMailInfo();

  std::string Host;
  std::string UserID;
  std::string Password;
  rtl::TStringList* Attachments() const { return attachments_.get(); }
  rtl::TStringList* Body() const { return body_.get(); }
  double Date = 0;  // days since 1899-12-30, as the class library keeps dates
  std::string FromAddress;
  std::string FromName;
  std::string ReplyTo;
  std::string Subject;
  rtl::TStringList* RecipientList() const { return recipientList_.get(); }
  rtl::TStringList* CCList() const { return ccList_.get(); }
  rtl::TStringList* BCCList() const { return bccList_.get(); }
  bool AuthenticationRequired = false;
  int32_t Port = 25;

 private:
  std::unique_ptr<rtl::TStringList> attachments_;
  std::unique_ptr<rtl::TStringList> body_;
  std::unique_ptr<rtl::TStringList> recipientList_;
  std::unique_ptr<rtl::TStringList> ccList_;
  std::unique_ptr<rtl::TStringList> bccList_;
};

// ---- TzoSizeD ----

// A page's width and height.
struct TzoSizeD {
  double Width = 0;
  double Height = 0;
};

// ---- TzoPageRect ----

class TzoPageRect {
 public:
  TzoPageRect(double left, double top, double right, double bottom)
      : Left(left), Top(top), Right(right), Bottom(bottom) {}
  double Left;
  double Top;
  double Right;
  double Bottom;
};

// ---- TzoPDFInfo ----

// The document information. Texts set by the caller are kept as text and encoded (UTF-16BE with
// its mark, encrypted for object 2 when the save encrypts) only when the document is written:
// OutputDict builds the dictionary of a save with that save's settings. Dict holds the file's
// information dictionary as read.
class TzoPDFInfo : public rtl::TPersistent {
 public:
  explicit TzoPDFInfo(TzoCustomPDFDocument* document);

  // The information dictionary read from the file (empty when none); lent.
  TzoPDFDictObject* Dict() const { return dict_.get(); }
  // Takes dict in place of the current one (a null dict reads as empty).
  void SetDict(std::unique_ptr<TzoPDFDictObject> dict);
  TzoCustomPDFDocument* Document() const { return document_; }

  std::u16string Title() const;
  void SetTitle(const std::u16string& value);
  std::u16string Author() const;
  void SetAuthor(const std::u16string& value);
  std::u16string Subject() const;
  void SetSubject(const std::u16string& value);
  std::u16string Keywords() const;
  void SetKeywords(const std::u16string& value);
  std::u16string Creator() const;
  void SetCreator(const std::u16string& value);
  std::u16string Producer() const;
  void SetProducer(const std::u16string& value);
  // Dates are text in the ANSI code page, stored as given (no date format is imposed).
  std::string CreationDate() const;
  void SetCreationDate(const std::string& value);
  std::string ModDate() const;
  void SetModDate(const std::string& value);

  // The dictionary to write as object 2: the file's entries, with every value set through a
  // setter encoded now by the document's EncodeTextString (so encrypted with the document's
  // current encryptor when encryption is on). A new dictionary that the caller owns.
  std::unique_ptr<TzoPDFDictObject> OutputDict() const;

 private:
  struct TextField {
    std::u16string value;
    bool set = false;
  };
  std::u16string GetText(std::string_view key, const TextField& field) const;
  std::string GetDate(std::string_view key, const TextField& field) const;

  std::unique_ptr<TzoPDFDictObject> dict_;
  TzoCustomPDFDocument* document_;
  // Title, Author, Subject, Keywords, Creator, Producer, CreationDate, ModDate (dates held as
  // their wide text).
  TextField fields_[8];
  std::string dates_[2];  // the date texts as the caller gave them
};

// ---- TzoPDFOutline ----

// One outline item: the indirect object of the item (with a copy of its dictionary, stripped of
// the links) and the links of the tree. Freeing an item frees its First and Next chains.
class TzoPDFOutline : public TzoPDFIndirectObject {
 public:
  TzoPDFOutline(TzoCustomPDFDocument* document, std::unique_ptr<TzoPDFDictObject> dict,
                uint16_t generation, int32_t objectNumber, int32_t documentNumber,
                const std::vector<TzoPDFIndirectObject*>* pageList);
  ~TzoPDFOutline() override;

  TzoCustomPDFDocument* Document() const { return document_; }
  // The item's dictionary (null when it was left empty).
  TzoPDFDictObject* Dict() const;
  bool IsClosed = false;
  const std::vector<TzoPDFIndirectObject*>* PageList() const { return pageList_; }
  TzoPDFOutline* Parent = nullptr;  // not owned
  TzoPDFOutline* Prev = nullptr;    // not owned
  TzoPDFOutline* First() const { return first_.get(); }
  void SetFirst(std::unique_ptr<TzoPDFOutline> item) { first_ = std::move(item); }
  TzoPDFOutline* Next() const { return next_.get(); }
  void SetNext(std::unique_ptr<TzoPDFOutline> item) { next_ = std::move(item); }

 private:
  TzoCustomPDFDocument* document_;
  const std::vector<TzoPDFIndirectObject*>* pageList_;
  std::unique_ptr<TzoPDFOutline> first_;
  std::unique_ptr<TzoPDFOutline> next_;
};

// ---- Form fields ----

// A field's default appearance.
class TzoFontInfo {
 public:
  TzoFontInfo() = default;
  std::unique_ptr<TzoFontInfo> Copy() const;

  std::string Name;  // font resource name with its "/"
  std::unique_ptr<TzoPDFIndirectReference> FontRef;
  ui::TFont Font;
  double Size = 0;
  std::string Color;  // "r g b rg" or "g g"
};

class TzoAcroFormField {
 public:
  TzoAcroFormField(TzoPDFObjectStore* store, TzoPDFIndirectObject* fieldObject);

  TzoPDFObjectStore* Store;           // not owned
  TzoPDFIndirectObject* FieldObject;  // not owned
  std::string FullName;               // partial names joined by "." (ANSI code page)
  std::string Value;
  std::string DefaultValue;
  uint8_t FieldType = 0;  // 0 push button, 1 radio, 2 check box, 3 text, 4 choice, 5 signature
  std::unique_ptr<TzoFontInfo> FontInfo;
  bool ReadOnly = false;
  int32_t AnnotFlags = 0;
  bool Multiline = false;
  int32_t MaxLen = 0;
  rtl::TStringList Options;
  int32_t FieldFlags = 0;
  uint8_t Quadding = 0;
};

// ---- TzoBaseDlg ----

// What the document needs of a settings dialog: a modal run (1 OK, 2 Cancel) over the document
// it is given. The dialog itself lives in the GUI part; the library sees only this face.
class TzoBaseDlg {
 public:
  virtual ~TzoBaseDlg() = default;
  TzoCustomPDFDocument* Document() const { return document_; }
  void SetDocument(TzoCustomPDFDocument* document) { document_ = document; }
  // The modal result: 1 OK, 2 Cancel.
  virtual int ShowModal() = 0;

 private:
  TzoCustomPDFDocument* document_ = nullptr;
};

// Makes the library's own settings dialog when the document has no SetupDialog; an empty
// function (no GUI) means no dialog is shown.
using TzoSetupDialogFactory = std::function<std::unique_ptr<TzoBaseDlg>()>;

// ---- Page object lists ----

// Copies of a page's objects filed under their keys, in the order collected; the list owns them.
class TzoPageObjectList {
 public:
  // Files obj under key and takes it over; returns it.
  TzoPDFIndirectObject* Add(const TzoObjectKey& key, std::unique_ptr<TzoPDFIndirectObject> obj);
  const TzoObjectList& List() const { return list_; }
  int32_t Count() const { return list_.Count(); }
  TzoPDFIndirectObject* Item(int32_t index) const;
  int32_t IndexOfKey(const TzoObjectKey& key) const { return list_.IndexOfID(key); }

 private:
  TzoObjectList list_;
  std::vector<std::unique_ptr<TzoPDFIndirectObject>> owned_;
};

// ---- Named destinations ----

struct TzoNamedDestination {
  std::string Name;                           // without delimiters
  std::unique_ptr<TzoPDFObject> Destination;  // a copied array or a null object
};

// ---- TzoCustomPDFDocument ----

class TzoCustomPDFDocument : public TzoComponent {
 protected:
  // Only TzoCustomPDFDocument makes keys: documents come from Create.
  class ConstructKey {
    friend class TzoCustomPDFDocument;
    ConstructKey() = default;
  };

 public:
  // A new document of class T, fully set up (CreateDocument has run).
  template <class T = TzoCustomPDFDocument>
  static std::unique_ptr<T> Create(rtl::TComponent* owner = nullptr) {
    std::unique_ptr<T> doc(new T(ConstructKey(), owner));
    doc->CreateDocument();
    return doc;
  }

  TzoCustomPDFDocument(ConstructKey, rtl::TComponent* owner);
  ~TzoCustomPDFDocument() override;

  // ---- Virtual operations ----

  // The second phase of construction: defaults, e-mail settings, ResetDocument.
  virtual void CreateDocument();
  // Copies of page pageNumber (1-based) and of everything it refers to, in a new list that the
  // caller owns. EInvalidPageError "Invalid page number (%d)" for a bad number.
  virtual std::unique_ptr<TzoPageObjectList> GetPage(int32_t pageNumber);
  // Adds to list a copy of every stored object that obj refers to, directly or through other
  // objects; other pages are not followed.
  virtual void CollectPageObjects(TzoPageObjectList& list, const TzoPDFObject* obj);
  // A fresh empty document state with a new document number.
  virtual void ResetDocument();

  // ClearDocument then ResetDocument: a fresh, empty document state.
  void ClearAndReset();

  // ---- Process-wide document counter ----

  // The counter's value (100 before the first document state).
  static int32_t DocumentCounter();

  // ---- Published properties ----

  bool OpenAfterSave() const { return openAfterSave_; }
  void SetOpenAfterSave(bool v) { openAfterSave_ = v; }
  TzoMergeOptions MergeOptions() const { return mergeOptions_; }
  void SetMergeOptions(TzoMergeOptions v) { mergeOptions_ = v; }
  TzoMeasurementUnit MeasurementUnit() const { return measurementUnit_; }
  void SetMeasurementUnit(TzoMeasurementUnit value);

  TzoOperationProgressEvent OnOperationProgress;
  TzoProgressEvent OnIOProgress;
  TzoStatusMessageEvent OnStatusMessage;
  TzoWarningEvent OnWarning;
  TzoPasswordEvent OnPassword;
  TzoOnCalcVariablesEvent OnCalcVariables;
  TzoOnRenameFieldEvent OnRenameField;
  rtl::TNotifyEvent OnBeginRead;
  rtl::TNotifyEvent OnEndRead;
  TzoLoadMemoryEvent OnLoadMemory;

  bool IsLoaded() const { return isLoaded_; }
  bool IsEncrypted() const { return isEncrypted_; }
  TzoPDFVersion PDFVersion() const { return pdfVersion_; }
  void SetPDFVersion(TzoPDFVersion v) { pdfVersion_ = v; }
  int32_t PageCount() const { return GetPageCount(); }
  int32_t GetPageCount() const;
  TzoPageMode PageMode() const { return pageMode_; }
  void SetPageMode(TzoPageMode v) { pageMode_ = v; }
  TzoPageLayout PageLayout() const { return pageLayout_; }
  void SetPageLayout(TzoPageLayout v) { pageLayout_ = v; }
  const std::string& Filename() const { return filename_; }
  // An empty value only clears the name; any other loads that file.
  void SetFilename(const std::string& value);
  TzoBaseDlg* SetupDialog() const { return setupDialog_; }
  void SetSetupDialog(TzoBaseDlg* dialog) { setupDialog_ = dialog; }
  bool ShowSetupDialog() const { return showSetupDialog_; }
  void SetShowSetupDialog(bool v) { showSetupDialog_ = v; }
  bool IsOwner() const { return GetIsOwner(); }
  bool GetIsOwner() const;
  // The document's encryption settings (lent; the object stays the document's). Change them
  // through their setters, or copy another settings object in with SetEncryption.
  TzoPDFEncryptionSettings& Encryption() const { return *encryption_; }
  // Copies value's choices into the document's settings through their setters (so a document
  // opened with its user password refuses the change).
  void SetEncryption(const TzoPDFEncryptionSettings& value);
  TzoPDFViewerPreferences* ViewerPreferences() const { return GetViewerPreferences(); }
  TzoPDFViewerPreferences* GetViewerPreferences() const;
  TzoEMailInfo* EMailInfo() const { return emailInfo_.get(); }
  // The document takes value over; the object it held before is freed.
  void SetEMailInfo(std::unique_ptr<TzoEMailInfo> value);
  const std::string& WorkFileName() const { return workFileName_; }
  void SetWorkFileName(const std::string& v) { workFileName_ = v; }
  bool EMailAfterSave() const { return emailAfterSave_; }
  void SetEMailAfterSave(bool v) { emailAfterSave_ = v; }
  // True (the default): a save's stream data is encrypted and its output written on a thread of
  // the document's own while the next objects are made; false: all of it on the saving thread.
  // The bytes are the same either way.
  bool BackgroundOutput() const { return backgroundOutput_; }
  void SetBackgroundOutput(bool v) { backgroundOutput_ = v; }

  // ---- Document state (lent) ----

  int32_t DocumentNumber() const { return documentNumber_; }
  TzoPDFInfo& Info() const { return *info_; }
  TzoPDFCatalog& Catalog() const { return *catalog_; }
  TzoPDFTrailer& Trailer() const { return *trailer_; }
  TzoPDFObjectStore& InputStore() const { return *inputStore_; }
  TzoPDFObjectStore* OutputStore() const { return outputStore_.get(); }
  const std::vector<TzoPDFIndirectObject*>& Pages() const { return pages_; }
  const std::vector<std::unique_ptr<TzoXRefItem>>& XRefItems() const { return xrefItems_; }
  const std::vector<std::unique_ptr<TzoXRefStmItem>>& XRefStmItems() const { return xrefStmItems_; }
  TzoPDFOutline* OutlineRoot() const { return outlineRoot_.get(); }
  int32_t OutlineCount() const { return outlineCount_; }
  // Null until a form has been read.
  const std::vector<std::unique_ptr<TzoAcroFormField>>* FormFields() const {
    return formFields_.get();
  }
  // Null until the first destination was read.
  const std::vector<TzoNamedDestination>* NamedDestinations() const {
    return namedDestinations_.get();
  }
  TzoCompression& Compression() const { return *compression_; }
  TzoPDFDecrypt* Decryptor() const { return decryptor_.get(); }
  TzoPDFEncryption* Encryptor() const { return encryptor_.get(); }
  int32_t LastObjectNumber() const { return lastObjectNumber_; }
  int32_t SaveStateObjectNumber() const { return saveStateObjectNumber_; }
  int32_t RestoreStateObjectNumber() const { return restoreStateObjectNumber_; }

  // ---- Loading ----

  // Loads the file (".pdf" added to a name without extension), asking OnPassword while an
  // encrypted file's password is refused (without a handler the empty password is tried once).
  // True when the document ends loaded with its pages; False when the password was refused or
  // the handler gave up. Every load starts from a fresh document state. EFileNotFound for a
  // missing file; the reader's errors for a damaged one (the document is then empty).
  bool LoadFromFile(const std::string& fileName);
  // As LoadFromFile, from an open file read from its start (the descriptor stays the caller's);
  // fileName names it in messages and becomes WorkFileName.
  bool LoadFromDescriptor(int fd, const std::string& fileName);
  // As LoadFromFile, from a stream read from where it stands; fileName names it in messages.
  bool LoadFrom(rtl::TStream& file, const std::string& fileName);
  // Parses a PDF held in stream: header, cross-reference data, /Encrypt.
  void LoadDocumentStream(rtl::TStream& stream);
  // Tries password on an encrypted file (a plain file accepts at once); FinishLoad on acceptance.
  bool OpenWithPassword(const std::string& password);
  // The byte offset of an object from the cross-reference data; 0 when not found.
  int64_t GetObjectOffset(int32_t objectNumber) const;
  // False while an encrypted file waits for its password: such a document cannot be saved.
  bool CatalogRead() const;
  // Raises EPDFException SDocumentNotOpened when a file was parsed but never opened (its
  // password refused): saving it would write a document without its pages.
  void CheckCanSave() const;
  // A copy of the named destination (name without delimiters), or null.
  std::unique_ptr<TzoPDFObject> FindNamedDestination(const std::string& name) const;

  // ---- Encryption on output ----

  bool IsEncryptionOn() const;
  // Makes the output security handler from the current settings and Info's creation date, with
  // a file identifier of its own (16 random bytes in its seed). When the document came from an
  // encrypted file and no setter of Encryption has been called since the password was accepted,
  // the file's own handler is kept instead (key, /O, /U, /P and first /ID), so that both of its
  // passwords open the output as they opened the file; only the second /ID string is new.
  void CreateEncryptor();
  // True when a save keeps the handler of the encrypted file it was loaded from (see above).
  bool KeepsOpenedEncryption() const;
  // data encrypted with the key of (objectNumber, 0); makes the encryptor when there is none.
  std::string EncryptString(std::string_view data, int32_t objectNumber);
  // The /Encrypt dictionary of the current encryptor (caller owns it); replaces Trailer().ID()
  // by two hex strings of the encryptor's file identifier.
  std::unique_ptr<TzoPDFDictObject> BuildEncryptDict();
  // Replaces the source of the random bytes in file identifiers (tests); empty restores the
  // system's cryptographic source.
  static void SetFileIDRandomSource(std::function<void(void* buffer, size_t length)> source);

  // ---- Document information texts ----

  // The body of a literal string (escaped, without parentheses): FE FF and the UTF-16BE units of
  // value, encrypted for objectNumber when encryption is on.
  std::string EncodeTextString(const std::u16string& value, int32_t objectNumber);
  // A PDF text string given as its written text (delimiters and escapes as in the file).
  std::u16string DecodeTextString(std::string_view text) const;
  // The text of a string object as read (escapes already resolved): UTF-16BE after its mark, or
  // the ANSI code page.
  static std::u16string TextStringOf(const TzoPDFStringObject& s);

  // ---- Settings operations ----

  void SetCompression(uint8_t method, uint8_t level);
  // A new /Trans dictionary for effect 0 to 16 (caller owns it).
  std::unique_ptr<TzoPDFDictObject> BuildTransition(uint8_t effect, float duration) const;
  void ApplyTransitions(const std::string& pageRange, uint8_t effect, float duration);
  int32_t GetPageRotation(int32_t pageNumber);
  static double ConvertToPoints(TzoMeasurementUnit unit, double value);
  // The pages of range (1-based, in order, duplicates kept) for pageCount pages; replaces the
  // content of pages. EInvalidPageError for a bad range.
  static void ParsePageRange(const std::string& range, int32_t pageCount,
                             std::vector<int32_t>& pages);

  // ---- Writing (document writer) ----

  // Writes the whole document to OutputStream. When encryption is on it makes a new encryptor
  // first (CreateEncryptor: the keys and file identifier of this save's settings) and writes
  // Info().OutputDict() as object 2.
  void WriteDocument();
  // LastObjectNumber + 1, stored and returned.
  int32_t NextObjectNumber();
  // Puts the outline root into OutputStore and points Catalog().Outlines at it.
  void BuildOutlines();
  // The PDF text of obj as a value inside object objectNumber (-1: no encryption).
  std::string ObjectText(int32_t objectNumber, TzoPDFObject* obj);
  std::string StreamText(int32_t objectNumber, TzoPDFStreamObject* stream);
  void WriteIndirectObject(TzoPDFIndirectObject* obj);
  static std::string ObjectHeaderText(int32_t objectNumber);
  static std::string ReferenceText(int32_t objectNumber);
  static std::string WrapObject(int32_t objectNumber, const std::string& body);
  static std::string WrapDict(const std::string& body);
  static std::string KeyValueLine(std::string_view key, const std::string& valueText);
  void WriteObjectText(const std::string& text, int32_t objectNumber);
  static std::string XRefLine(int64_t offset, int32_t generation, char kind);
  static std::string CompressData(const std::string& data, uint8_t method, uint8_t level);
  // Output item of one outline item (and its following siblings and children): adds their
  // objects to OutputStore, counts them in count, sets last to the level's last item. Returns a
  // reference to the output object of item (null when it and all its following siblings were
  // dropped).
  std::unique_ptr<TzoPDFIndirectReference> BuildOutlineItem(
      TzoPDFOutline* parent, TzoPDFOutline* prev, int32_t& count,
      std::unique_ptr<TzoPDFIndirectReference>& last, TzoPDFOutline* item);

  // ---- Saving ----

  // Writes the document to fileName (".pdf" added unless it ends so); neededAppearancesMode 0
  // sets the form's /NeedAppearances true, 1 false, others leave it. The file is written to a
  // temporary file beside it and put in its place only when complete: on any error the target is
  // as it was. False when the settings dialog was cancelled (nothing written). A document whose
  // catalog has not been read raises.
  bool SaveToFile(const std::string& fileName, uint8_t needAppearancesMode);
  // Saves as SaveToFile does (the dialog, /NeedAppearances, the status texts, name standing for
  // the file in them), but writes the document into stream, from its position, for a caller that
  // makes the file itself; OpenAfterSave plays no part. False when the dialog was cancelled
  // (nothing written).
  bool SaveToStream(rtl::TStream& stream, const std::string& name, uint8_t needAppearancesMode);
  int RunSetupDialog();
  void SetNeedAppearances(uint8_t mode);
  // The library's settings dialog for documents without a SetupDialog.
  static void SetSetupDialogFactory(TzoSetupDialogFactory factory);

  // ---- Stamping: page resources (images, opacity states, fonts) ----

  // New objects made here carry the document's number, a number from InputStore's
  // NextObjectNumber (above every number of the file), generation 0 and RefCount 1; they are added
  // to InputStore, and the reference returned belongs to the caller.

  // A new image XObject of graphic (a TBitmap, or a TIcon or TJPEGImage drawn onto a white
  // bitmap): 8-bit /DeviceRGB samples, Flate-compressed, with /Name name. A TMetafile or any other
  // class raises EUnsupportedImageError "Unsupported image format (%s)" with its class name, an
  // empty picture EInvalidGraphic; nothing is added then.
  std::unique_ptr<TzoPDFIndirectReference> AddImageResource(const TGraphic& graphic,
                                                            const std::string& name);
  // The bitmap's samples: rows of R, G, B bytes, top row first, nothing between rows.
  static std::unique_ptr<rtl::TMemoryStream> BitmapToRGB(const TBitmap& bitmap);
  // A new /ExtGState with /CA strokeOpacity / 100 and /ca fillOpacity / 100 (the values are
  // percentages), or null when both are 100.
  std::unique_ptr<TzoPDFIndirectReference> AddOpacityState(double strokeOpacity,
                                                           double fillOpacity);
  // Deflates all of source (from its start) into dest at zlib's default level; returns the number
  // of bytes dest grew by.
  static int64_t DeflateInto(rtl::TMemoryStream& source, rtl::TStream& dest);
  // The font's name without blanks, then ",Bold", ",Italic" or ",BoldItalic" for its style.
  static std::string FontKey(const ui::TFont& font);

  // A new font resource for font, with /Name name, for drawing text (bytes in the code page of
  // the font's character set: 1252 for the western sets, 932 for the Japanese one; the text
  // decides the glyphs of a subset).
  //   A western (ANSI, or DEFAULT while the ANSI code page is 1252) or symbol character set gives
  //   a simple font: /TrueType for a TrueType font, else /Type1, with /Encoding
  //   EncodingNames[encodingIndex] and the /Widths of the codes 32 .. 255 in that encoding
  //   (symbol fonts: in the font's own codes). Any other set gives a /Type0 font over a
  //   /CIDFontType2 with /Identity-H, /W, /CIDToGIDMap /Identity and (for a font with a Unicode
  //   character map) a /ToUnicode CMap; a font without TrueType data raises
  //   EUnsupportedFontError "Unsupported Font (%s)".
  //   embedMode 0 writes no font file; 1 embeds the whole TrueType font; 2 (or more) a subset of
  //   the glyphs of text, its names tagged by six capital letters from the glyph set. The whole
  //   font stands in for a subset that may not be made or would draw nothing (a font without a
  //   Unicode character map, a text that is not blank and none of whose characters the font
  //   has); a font whose licence forbids embedding, and any font but TrueType, is not embedded.
  // Objects are added in the order ToUnicode, font file, descriptor, CID font, font (simple
  // fonts: font file, descriptor, font). The font dictionary carries /ZoFontKey, the fingerprint
  // that FindFontResource checks. An encoding index that is no simple font's encoding raises
  // EUnsupportedFontError SInvalidFontEncoding (for simple fonts only); nothing is added then.
  std::unique_ptr<TzoPDFIndirectReference> AddFontResource(const ui::TFont& font,
                                                           const std::string& name,
                                                           const std::string& text,
                                                           uint8_t encodingIndex,
                                                           uint8_t embedMode);
  // The same for the characters of text themselves, as the content draws them: a subset holds
  // the glyph of each, its character map and ToUnicode CMap list just those characters (each
  // glyph for the character it was drawn for), and its /W the glyphs drawn.
  std::unique_ptr<TzoPDFIndirectReference> AddFontResource(const ui::TFont& font,
                                                           const std::string& name,
                                                           const std::u16string& text,
                                                           uint8_t encodingIndex,
                                                           uint8_t embedMode);
  // The /FontDescriptor of font named fontName (with its "/"); with fontFile, that data
  // Flate-compressed as a new /FontFile2 object (/Length1 its own size).
  std::unique_ptr<TzoPDFDictObject> BuildFontDescriptor(const TzoPDFFont& font,
                                                        const std::string& fontName,
                                                        rtl::TMemoryStream* fontFile);
  // The /CIDFontType2 dictionary of font named baseFont, its descriptor (and font file) added as
  // new objects: /W the advance of every glyph from 1 in runs of equal widths, /DW 1000,
  // /CIDToGIDMap /Identity.
  // With drawnOnly (a subset), /W lists only the glyphs that the font's EncodeText gave.
  std::unique_ptr<TzoPDFDictObject> BuildCIDFont(const TzoPDFFont& font,
                                                 const std::string& baseFont,
                                                 rtl::TMemoryStream* fontFile,
                                                 bool drawnOnly = false);
  // The font's ToUnicode CMap (BuildToUnicodeCMap, encodedOnly as it takes it) as a
  // Flate-compressed stream.
  static std::unique_ptr<TzoPDFStreamObject> BuildToUnicodeStream(TzoPDFFont& font,
                                                                  bool encodedOnly = false);

  // ---- Stamping: page boxes and stamp fonts ----

  // The box of page pageNumber (from 1) in unit, as readers show it: its /CropBox clipped to its
  // /MediaBox (boxes inherited from the page tree included); the media box alone when the crop
  // box is no rectangle or lies outside it, the crop box alone when there is no media box. A box
  // given by reference, with numbers given by reference or with its corners in any order is read
  // as the rectangle it means (X1 <= X2, Y1 <= Y2). EInvalidPageError for a number outside the
  // page list or a page without a usable box.
  TzoRectD GetPageBox(int32_t pageNumber, TzoMeasurementUnit unit);
  // Width and height of GetPageBox in unit.
  TzoSizeD GetPageSize(int32_t pageNumber, TzoMeasurementUnit unit);
  // A length in points given in unit (the inverse of ConvertToPoints).
  static double ConvertFromPoints(TzoMeasurementUnit unit, double value);
  // Sets name to the key (with its "/") of the first entry of fonts (a page's /Font dictionary;
  // null for none) that is a font resource this library made as AddFontResource would make it
  // for font and encodingIndex, without a subset: the same /Subtype, /BaseFont and /Encoding,
  // its /ZoFontKey fingerprint, and the /Widths (simple fonts) or the /W and /CIDToGIDMap
  // /Identity (Type0 fonts) that AddFontResource writes. True when one was found; otherwise name
  // is left as it was. Entries that are no dictionary, or have no /Subtype, are passed over.
  // Encoding indexes as AddFontResource takes them.
  // A Japanese font with embedMode 0 finds none: its font resource is shown through
  // UniJIS-UTF16-H (see AddFontResource) with a ToUnicode CMap of its own text only.
  bool FindFontResource(const TzoPDFDictObject* fonts, const ui::TFont& font, std::string& name,
                        uint8_t encodingIndex, uint8_t embedMode = 1);
  // The embedding mode that AddFontResource uses for font, embedMode and text: embedMode, but 2
  // (a subset) for a composite font with embedMode 0 that ShowsThroughJapan1 cannot show (a
  // font of another character set than the Japanese one, or a character outside Adobe-Japan1):
  // only glyph ids of an embedded font draw such text elsewhere.
  static uint8_t FontEmbedMode(const ui::TFont& font, uint8_t embedMode, std::u16string_view text);
  // Whether a font resource for font, embedMode and text is shown through the predefined CMap
  // UniJIS-UTF16-H: a Japanese character set (SHIFTJIS, or DEFAULT while the ANSI code page is
  // 932), embedMode 0 and every character of text (control characters aside) in Adobe-Japan1.
  static bool ShowsThroughJapan1(const ui::TFont& font, uint8_t embedMode,
                                 std::u16string_view text);

  // ---- Stamping: page content editing ----

  // Puts a clone of resource under name (with its "/") in the category dictionary ("/Font",
  // "/XObject", "/ExtGState") of resources, making the category when it is missing, null or a
  // reference to nothing. A category that holds name already keeps its entry. A category that
  // is shared through a reference gets the entry for every page that shares it.
  // EUnexpectedError "Error inserting page resource" when resources is null.
  void AddResourceEntry(TzoPDFDictObject* resources, std::string_view category,
                        const TzoPDFObject* resource, const std::string& name);
  // The resource dictionary of page pageIndex (from 0). A page without one (no /Resources, null,
  // or a reference to nothing) gets a new empty dictionary as an object of its own.
  TzoPDFDictObject* PageResources(int32_t pageIndex);
  // True when any resource category of page pageIndex holds name: a new resource name must not
  // be one of these.
  bool PageHasResourceName(int32_t pageIndex, std::string_view name);
  // AddResourceEntry of gState under name in "/ExtGState" of the page's resources (made when
  // the page has none); nothing when gState is null.
  void AddPageExtGState(int32_t pageIndex, const std::string& name, const TzoPDFObject* gState);
  // Makes the two shared content streams "q" and "Q" that enclose a page's own content under
  // over-stamps, once per document state.
  void EnsureWrapStreams();
  // True when an element of contents is a reference to objectNumber (other elements are
  // skipped).
  static bool HasReferenceTo(const TzoPDFArrayObject& contents, int32_t objectNumber);
  // Adds the content stream newContent to page pageIndex (from 0): layer 0 before the page's
  // content (under it), any other layer after it, the page's own content then enclosed once
  // in q ... Q so that its graphics state does not reach the stamp. A page without content gets
  // /Contents [newContent]; a content array that other pages share is copied first, so that only
  // this page changes. EUnexpectedError "Unexpected content object for page %d" for a /Contents
  // that is neither a reference nor an array.
  void AddPageContent(int32_t pageIndex, std::unique_ptr<TzoPDFIndirectReference> newContent,
                      uint8_t layer);
  // The content text that draws shape on page pageNumber (from 1), inside q ... Q, with the
  // graphics state gStateName ("" for none); "" for the base classes. Coordinates count from the
  // top-left corner of the page's box, in the document's MeasurementUnit. Given to
  // AddPageContent with a layer other than 0, it is drawn over the page's content without that
  // content's graphics state. EPDFException for a polygon with fewer than 3 sides.
  std::string DrawShape(const TzoShapeWatermark& shape, int32_t pageNumber,
                        const std::string& gStateName);

  // ---- Stamping: driver ----

  // Stamps tmpl on the pages of pageRange (ParsePageRange's form; "" for all pages, a page
  // listed twice is stamped twice):
  //   composite  each member in order, on the same pages (a composite that contains itself,
  //              directly or further down, raises EPDFException before anything is stamped)
  //   text       Text with its variables filled in for each page: <%PageNo%>, <%TotPage%>,
  //              <%ShortDate%>, <%ShortTime%>, <%LongDate%>, <%LongTime%> (the clock read once
  //              per call), <%Author%>, <%Creator%>, <%Subject%>, <%Title%> and, through
  //              OnCalcVariables, any other <%name%>; nothing when Text is empty
  //   image      Image drawn Width x Height
  //   shape      drawn over the page's content
  //   other      nothing
  // Text and image stamps go under the page's content for Layer 0, over it otherwise. A stamp is
  // placed and upright as the page is shown, its /Rotate applied. The fonts, picture and opacity
  // state are made once per call and shared by its pages; a page that already holds a font of
  // this library equal to the stamp's uses its own, unless the template brings its FontResource.
  // The template's Text, Angle, X and Y are as they were when the call ends, however it ends, so
  // a template can be used again. EInvalidPageError for a bad range
  // or a page without a box, before any page changes; the resource makers' errors pass through.
  void InsertWatermark(TzoWatermarkTemplate& tmpl, const std::string& pageRange);

 protected:
  // Frees everything the document holds (its accessors must not be used until ResetDocument):
  // the destructor's and ClearAndReset's first step.
  virtual void ClearDocument();

  // ---- Loading internals ----

  void ReadCrossReference();
  // One section each; the offset of the section that /Prev names, or -1.
  int64_t ReadXRefTable(int64_t offset, std::vector<uint8_t>& decided,
                        std::unordered_set<int64_t>& visited);
  int64_t ReadXRefStream(const TzoPDFIndirectObject& obj, std::vector<uint8_t>& decided);
  // The cross-reference section at offset, white space in front of it skipped: 1 a classic table,
  // 2 a cross-reference stream (/Type /XRef; its object is read into stream), 0 neither. offset
  // moves to the section's first byte.
  int SectionKind(int64_t& offset, std::unique_ptr<TzoPDFIndirectObject>& stream);
  void SetXRefEntry(int32_t n, std::unique_ptr<TzoXRefItem> classic,
                    std::unique_ptr<TzoXRefStmItem> stream, std::vector<uint8_t>& decided);
  void TakeTrailerValues(const TzoPDFDictObject& dict);
  void ResolveFileID();
  int32_t MaxObjectNumber() const;
  uint16_t ObjectGeneration(int32_t objectNumber) const;
  // The rows of predicted data from the source's position: PNG rows (a tag byte, then the row)
  // and TIFF predictor 2 rows, of columns pixels of colors samples of bitsPerComponent bits. A new
  // stream left at its end; a short last row counts as padded with zero bytes.
  static std::unique_ptr<rtl::TMemoryStream> PNGUnpredict(rtl::TStream& source, int32_t columns,
                                                          int32_t colors = 1,
                                                          int32_t bitsPerComponent = 8);
  static std::unique_ptr<rtl::TMemoryStream> TIFFUnpredict(rtl::TStream& source, int32_t columns,
                                                           int32_t colors,
                                                           int32_t bitsPerComponent);
  // The stream's data decoded through its filters and predictor, at position 0; charged to the
  // load budget.
  std::unique_ptr<rtl::TMemoryStream> DecodeStreamData(const TzoPDFStreamObject& stream);
  // DecodeStreamFilters within what is left of the load budget, and charged to it.
  std::unique_ptr<rtl::TMemoryStream> DecodeWithinBudget(rtl::TStream& data,
                                                         const TzoPDFObject* filter,
                                                         const TzoPDFObject* decodeParms);
  // Takes bytes from the load budget; ELoadBudgetError when less is left.
  void ChargeLoad(int64_t bytes);
  // A new load budget, for a file of size bytes of data; the readers charge it for what they make.
  void StartLoadBudget(int64_t size);
  // LoadDocumentStream within the budget already started.
  void ParseDocumentStream(rtl::TStream& stream);
  // Where the first object after offset starts (from the cross-reference data); -1 when none.
  int64_t NextObjectOffset(int64_t offset) const;

  // The indirect object at the reader's position, with its stream data; null (and a warning)
  // when no "N G obj" of expectedNumber (-1: any) stands there.
  std::unique_ptr<TzoPDFIndirectObject> ReadIndirectObject(int32_t expectedNumber);
  int64_t StreamLength(const TzoPDFDictObject& dict, int32_t streamNumber);
  // The stored object, or the object read from the file into read (not stored).
  TzoPDFIndirectObject* FindOrReadObject(int32_t objectNumber,
                                         std::unique_ptr<TzoPDFIndirectObject>& read);
  // The object in the store, read and added when needed; null when missing.
  TzoPDFIndirectObject* StoredObject(int32_t objectNumber);
  // As StoredObject, with its RefCount raised.
  TzoPDFIndirectObject* LoadIndirectObject(int32_t objectNumber);
  // The stored target of a reference (read and added when needed), or null.
  TzoPDFIndirectObject* StoredTarget(const TzoPDFObject* ref);
  std::unique_ptr<TzoPDFObject> LoadReferenced(const TzoPDFObject* ref);
  // obj with references followed through the store (loading what is needed); null for a missing
  // target or a circle.
  TzoPDFObject* ResolveLoaded(TzoPDFObject* obj);
  // ResolveLoaded of the kind wanted (null and Null give null); another kind raises
  // EUnexpectedObjectError.
  TzoPDFDictObject* ResolveDict(TzoPDFObject* obj);
  TzoPDFArrayObject* ResolveArray(TzoPDFObject* obj);
  void Walk(TzoPDFObject* obj);
  void LoadObjectStreams();
  void UnpackObjectStream(int32_t streamNumber);
  std::unique_ptr<TzoPDFObject> ResolveEncrypt(const TzoPDFObject* obj);
  int32_t OpenEncryption(const std::string& password);
  static TzoUserPermissions MapPermissions(int32_t keyLength, int64_t p);
  void FinishLoad();

  void ReadCatalog();
  // Keeps a clone of the file's catalog dictionary for the writer (Catalog().Dict()) and walks the
  // entries that the catalog reader does not read into the model, so that everything they refer
  // to is written again. Called by ReadCatalog.
  void KeepCatalogEntries(const TzoPDFDictObject& catalog);
  void ReadPageTree(int32_t objectNumber);
  void ReadDests(TzoPDFObject* dests);
  void ReadNameTree(TzoPDFObject* names);
  void AddNamedDestination(const std::string& name, TzoPDFObject* value);
  std::unique_ptr<TzoPDFOutline> ReadOutlines(TzoPDFObject* outlines);
  bool PrepareOutlineItem(TzoPDFOutline& item);
  void ReadAcroForm(TzoPDFObject* form);
  void ReadFieldValue(TzoAcroFormField& field, const TzoPDFDictObject& dict);
  void ReadFieldOptions(TzoAcroFormField& field, const TzoPDFDictObject& dict);
  std::unique_ptr<TzoFontInfo> ParseDefaultAppearance(const std::string& da,
                                                      const TzoPDFDictObject* drFont);

  void Warning(const std::string& text);
  void StatusMessage(const std::string& text);
  void IOProgress(int32_t percentage);

  // ---- Writing internals ----

  // ObjectText of obj appended to out.
  void AppendObjectText(std::string& out, int32_t objectNumber, TzoPDFObject* obj);
  // The text of a dictionary appended to out. With length, its first /Length entry (or a new one
  // after the others) holds that number.
  void AppendDictText(std::string& out, int32_t objectNumber, const TzoPDFDictObject& dict,
                      const int64_t* length);
  // The reference text of an output number appended to out; "null" for 0.
  static void AppendReference(std::string& out, int32_t outputNumber);
  // The dictionary text of a stream as written appended to out (compressed when Compression asks
  // for it, with the length of its data), and data set to the bytes to write before encryption:
  // the stream's own, or new ones kept in compressed.
  void AppendStreamDict(std::string& out, int32_t objectNumber, TzoPDFStreamObject* stream,
                        std::string& compressed, std::string_view& data);
  // The output: bytes gather in a batch that goes to the block writer (and from there to
  // OutputStream) about a block at a time; the writer counts the position itself (OutputStream's
  // position taken once, by BeginOutput).
  void BeginOutput();
  void WriteOutput(std::string_view bytes);
  // A stream's data into the output, encrypted for objectNumber when encryption is on. data is
  // the stream's own, alive for the whole save, or held by compressed, which is then taken over.
  void WriteStreamData(std::string_view data, std::string& compressed, int32_t objectNumber);
  // data encrypted for objectNumber into the output: by the block writer, or here while the block
  // writer is behind (data held by compressed, which is then taken over, or alive until the
  // output ends).
  void WriteEncrypted(std::string_view data, std::string& compressed, int32_t objectNumber);
  // Hands the batch to the block writer.
  void FlushOutput();
  // Everything to the stream, and the batch's memory freed.
  void EndOutput();
  // For a save that failed: the block writer stops using the stream; its failure, if any.
  std::exception_ptr AbandonOutput() noexcept;
  // The output position of the next byte.
  int64_t OutputPosition() const { return outputPosition_ + static_cast<int64_t>(output_.Size()); }
  // Records the offset of the object whose text follows in the output.
  void RecordOffset(int32_t objectNumber);
  // WriteDocument into stream.
  void WriteDocumentTo(rtl::TStream& stream);
  // The steps of a save around write, which writes the document: the checks, the settings dialog
  // (false when it was cancelled, write not called), /NeedAppearances and the status texts.
  bool SaveWith(const std::string& name, uint8_t needAppearancesMode,
                const std::function<void()>& write);

  // ---- Fields ----

  // Indirect objects whose members the walk has visited.
  std::unordered_set<const TzoPDFIndirectObject*> walked_;
  // The buffer of the walk's work list, kept between walks.
  std::vector<TzoPDFObject*> walkWork_;
  // The largest /Size of the cross-reference data.
  int64_t xrefSize_ = 0;
  // What is left of the load budget, and the size of data it was given for.
  int64_t loadBudget_ = 0;
  int64_t loadBudgetSize_ = 0;
  // The offsets of the objects in the cross-reference data, in ascending order (once read).
  std::vector<int64_t> objectOffsets_;

  int32_t documentNumber_ = 0;
  std::string workFileName_;
  TzoPDFVersion pdfVersion_ = pvPDF14;
  // The whole input file, held from the start of a load to its end.
  std::unique_ptr<rtl::TMemoryStream> inputData_;
  std::unique_ptr<TzoPDFStreamReader> reader_;
  std::unique_ptr<TzoPDFStreamReader> objectStreamReader_;
  std::vector<std::unique_ptr<TzoXRefItem>> xrefItems_;
  std::vector<std::unique_ptr<TzoXRefStmItem>> xrefStmItems_;
  TzoMeasurementUnit measurementUnit_ = muPixels;
  std::unique_ptr<TzoPDFOutline> outlineRoot_;
  bool isLoaded_ = false;
  bool isEncrypted_ = false;
  std::unique_ptr<TzoCompression> compression_;
  TzoPageLayout pageLayout_ = plNone;
  TzoPageMode pageMode_ = pmNone;
  std::unique_ptr<TzoPDFDecrypt> decryptor_;
  std::unique_ptr<TzoPDFEncryptionSettings> encryption_;
  std::unique_ptr<TzoPDFEncryption> encryptor_;
  // Encryption().Changes() when the file's password was accepted; none for a plain file.
  std::optional<uint64_t> encryptionChangesAtOpen_;
  std::unique_ptr<TzoPDFObjectStore> inputStore_;
  std::unique_ptr<TzoPDFObjectStore> outputStore_;
  std::unique_ptr<TzoPDFObject> firstFileID_;
  std::vector<TzoPDFIndirectObject*> pages_;  // owned by inputStore_
  std::unique_ptr<TzoPDFTrailer> trailer_;
  std::unique_ptr<TzoPDFInfo> info_;
  std::unique_ptr<TzoPDFCatalog> catalog_;
  std::unique_ptr<std::vector<TzoNamedDestination>> namedDestinations_;
  // The font programs that AddFontResource added: a hash of the compressed data -> the object
  // number of its /FontFile2 stream (checked against the store before it serves again).
  std::unordered_map<uint64_t, int32_t> fontPrograms_;
  int32_t outlineCount_ = 0;
  int32_t lastObjectNumber_ = 3;
  // The stream being written while saving.
  std::unique_ptr<TzoWriteOnlyFilter> outputStream_;
  // Output not yet handed to the block writer, and the stream position where it goes.
  TzoOutputBatch output_;
  int64_t outputPosition_ = 0;
  // The encrypted pieces of the output are encrypted by the block writer.
  bool outputKeyed_ = false;
  // Writes the output of the document's saves; made on the first save.
  std::unique_ptr<TzoBlockWriter> blockWriter_;
  bool backgroundOutput_ = true;
  bool openAfterSave_ = false;
  TzoMergeOptions mergeOptions_ = 0;
  bool showSetupDialog_ = true;
  std::unique_ptr<TzoEMailInfo> emailInfo_;
  bool emailAfterSave_ = false;
  TzoBaseDlg* setupDialog_ = nullptr;  // not owned
  std::string filename_;
  int32_t catalogNumber_ = 1;
  int32_t infoNumber_ = 2;
  int32_t pagesNumber_ = 3;
  // Byte offsets of the written objects, in writing order.
  std::vector<int64_t> xrefOffsets_;
  int32_t saveStateObjectNumber_ = -1;
  int32_t restoreStateObjectNumber_ = -1;
  // What AddPageContent left in a page's /Contents array (by page index): the array, its length
  // and last item then, and whether it holds the save-state stream. An array found so again is
  // known to hold references only, and is not walked again for the next stamp.
  struct ContentsMemo {
    const TzoPDFArrayObject* array = nullptr;
    int32_t count = 0;
    const TzoPDFObject* last = nullptr;
    bool wrapped = false;
  };
  std::unordered_map<int32_t, ContentsMemo> contentsMemo_;
  std::unique_ptr<std::vector<std::unique_ptr<TzoAcroFormField>>> formFields_;
  // True once the catalog has been read (a document without it cannot be saved).
  bool catalogRead_ = false;
};

// ---- Watermark templates and their processor ----

// A stamp is described by a template; the processor renders a template once per distinct page
// box and hands out the content stream that draws it.
//
//   TzoWatermarkTemplate                 root
//     TzoShapeWatermark                  line colour, width and opacity (DrawShape draws them)
//       TzoOpenShapeWatermark            TzoLineWatermarkTemplate, TzoCurveWaterMarkTemplate
//       TzoClosedShapeWatermark          fill colour and opacity: rectangle, circle, ellipse,
//                                        polygon
//     TzoCustomWatermarkTemplate         angle, layer, position; Render writes the content
//       TzoTextWatermarkTemplate, TzoImageWatermarkTemplate
//     TzoCompositeWatermarkTemplate      several templates stamped one after the other
//
// Lengths and coordinates are in the document's MeasurementUnit; colours are class-library
// colours (ui::clNone: no colour); opacities are percentages.

// The class library's "no colour".
inline constexpr TColor kNoColor = static_cast<TColor>(ui::clNone);

// A point of a shape; Y counts down from the top edge of the page's box.
struct TzoShapePoint {
  double X = 0;
  double Y = 0;
};

class TzoWatermarkTemplate {
 public:
  virtual ~TzoWatermarkTemplate() = default;
  // Free for the template's user; the stamping path does not read it.
  int32_t Tag = 0;
};

// ---- Shapes ----

class TzoShapeWatermark : public TzoWatermarkTemplate {
 public:
  TColor LineColor = clBlack;  // kNoColor strokes in black
  double LineWidth = 1;
  int32_t LineOpacity = 100;  // stroking opacity
};

class TzoOpenShapeWatermark : public TzoShapeWatermark {
 public:
  TzoShapePoint EndPoint;
  TzoShapePoint StartPoint;
};

class TzoClosedShapeWatermark : public TzoShapeWatermark {
 public:
  TColor FillColor = kNoColor;  // not filled
  int32_t FillOpacity = 100;    // non-stroking opacity
};

class TzoLineWatermarkTemplate : public TzoOpenShapeWatermark {};

// One cubic Bezier segment from StartPoint to EndPoint. A control point at (0, 0) counts as
// none: the first then falls back to the start point, the second to the end point.
class TzoCurveWaterMarkTemplate : public TzoOpenShapeWatermark {
 public:
  TzoShapePoint ControlPoint1;
  TzoShapePoint ControlPoint2;
};

class TzoRectangleWatermarkTemplate : public TzoClosedShapeWatermark {
 public:
  TzoShapePoint TopLeft;
  TzoShapePoint BottomRight;
};

class TzoCircleWaterMarkTemplate : public TzoClosedShapeWatermark {
 public:
  double Radius = 0;
  TzoShapePoint Center;
};

class TzoEllipseWaterMarkTemplate : public TzoClosedShapeWatermark {
 public:
  TzoShapePoint Center;
  double RadiusX = 0;
  double RadiusY = 0;
};

// A regular polygon with its first corner straight above the centre, the others following
// counter-clockwise. DrawShape refuses fewer than 3 sides.
class TzoPolygonWatermark : public TzoClosedShapeWatermark {
 public:
  TzoShapePoint Center;
  int32_t Sides = 3;
  double SideLength = 0;
};

// The control-point distance of a quarter circle drawn as a cubic Bezier curve: 4(sqrt 2 - 1)/3.
inline constexpr double BezierCircleFactor = 0.5522847498307933984;

// ---- Text and image stamps ----

// Positions of a stamp in the page's box.
//   HorizontalPosition: 0 left, 1 centre, 2 right, 3 at X (from the box's left edge)
//   VerticalPosition:   0 top, 1 middle, 2 bottom, 3 at Y (down from the box's top edge)
// Other values count as 0.
class TzoCustomWatermarkTemplate : public TzoWatermarkTemplate {
 public:
  int32_t Angle = 0;  // degrees, counter-clockwise
  uint8_t Layer = 0;  // 0 under the page's content, any other value over it
  uint8_t HorizontalPosition = 0;
  uint8_t VerticalPosition = 0;
  double X = 0;
  double Y = 0;

  // The content text that draws the stamp with its anchor at (x, y) in points, naming the
  // stamp's font or image by resourceName and its opacity state by gStateName ("" for none);
  // unit is the document's measurement unit.
  virtual std::string Render(const std::string& resourceName, const std::string& gStateName,
                             TzoMeasurementUnit unit, double x, double y) const = 0;

  // Moves the anchor (x, y), in points, so that a width x height stamp drawn from it, rotated by
  // Angle about it, sits in its positions: the left, right, top or bottom edge of its bounding
  // box on the placement point, its centre on it for centre and middle, and its top-left corner
  // on it for the positions at X and at Y.
  void AdjustAnchor(double& x, double& y, double width, double height) const;
};

class TzoTextWatermarkTemplate : public TzoCustomWatermarkTemplate {
 public:
  TzoTextWatermarkTemplate();

  std::u16string Text;  // a line feed starts a new line
  ui::TFont Font;       // face, size in points, style, colour, character set (ANSI at first)
  TColor OutlineColor = 0;
  bool Vertical = false;
  uint8_t RenderMode = 0;     // PDF text rendering mode
  uint8_t EncodingIndex = 0;  // index into the encoding names of the stamp font
  // Font embedding mode of the stamp font (see AddFontResource); a Japanese font with mode 0 is
  // shown through UniJIS-UTF16-H unless a page's text leaves Adobe-Japan1 (then a subset).
  uint8_t EmbedMode = 0;
  int32_t Opacity = 100;
  // A font resource of the document that the stamp names on every page (FontResourceName, with
  // its "/", free on those pages) in place of a font of its own: several stamps share one font
  // so (one subset holding all their glyphs). Its maker made it for Font, EncodingIndex and
  // EmbedMode (as FontEmbedMode gives it for the texts it holds) and keeps it; null: the stamp
  // finds or makes its font.
  const TzoPDFIndirectReference* FontResource = nullptr;
  std::string FontResourceName;

  // Copies font's properties into Font.
  void SetFont(const ui::TFont& font) { Font.Assign(font); }

  // One text object naming the font resource resourceName: western character sets as bytes of
  // the simple font's encoding EncodingIndex (0 WinAnsi, 1 MacRoman, 2 MacExpert; a character
  // it lacks as "?"), symbol fonts as their byte codes, embeddable TrueType fonts of other sets
  // as two-byte glyph ids (Identity-H), other fonts as ANSI bytes. Lines lie one font size
  // apart; vertical text stacks its characters one text height apart and puts each further line
  // one font size to the left. The box of the characters' cells (each its advance wide and one
  // font size above its baseline) is placed as AdjustAnchor places a stamp; the character
  // spacing makes each horizontal line as wide as the screen measures it. Underline and
  // strike-out are one stroke along each line. Every mark is drawn with the graphics state
  // gStateName ("" for none). EUnsupportedFontError SInvalidFontEncoding for a western or
  // symbol font whose EncodingIndex is none of the three, and for damaged font data.
  // Font is measured once and kept while it and the font configuration stay as they are;
  // renderings of one template on several threads take turns.
  std::string Render(const std::string& resourceName, const std::string& gStateName,
                     TzoMeasurementUnit unit, double x, double y) const override;

 private:
  // The font measured for Font, for the PDF and on the screen; a copy of the template measures
  // afresh.
  class MeasuredFont {
   public:
    MeasuredFont();
    MeasuredFont(const MeasuredFont&);
    MeasuredFont& operator=(const MeasuredFont&);
    ~MeasuredFont();

    // Held while the font is measured and used.
    std::mutex& Lock() { return mutex_; }
    // Measures font unless it is the one last measured under the current font configuration.
    // With Lock held; PDFFont and ScreenFace are then font's until the lock is released.
    void Measure(const ui::TFont& font);
    TzoPDFFont& PDFFont() { return *font_; }
    // Null when no font is installed at all.
    const platform::FontFace* ScreenFace() const { return screen_.get(); }

   private:
    std::mutex mutex_;
    std::unique_ptr<TzoPDFFont> font_;
    std::unique_ptr<platform::FontFace> screen_;
    uint64_t generation_ = 0;  // the font configuration font_ was measured under
  };
  mutable MeasuredFont measured_;
};

// A picture drawn Width x Height (0: the picture's own size at the screen resolution) with its
// fill opacity Opacity.
class TzoImageWatermarkTemplate : public TzoCustomWatermarkTemplate {
 public:
  // The picture (owned); null until set.
  TGraphic* Image() const { return image_.get(); }
  void SetImage(std::unique_ptr<TGraphic> image) { image_ = std::move(image); }
  double Width = 0;
  double Height = 0;
  int32_t Opacity = 100;

  // The sizes in points that Render draws (the template's fields are not changed).
  // EPDFException when a size is 0 and there is no picture to take it from.
  double WidthInPoints(TzoMeasurementUnit unit) const;
  double HeightInPoints(TzoMeasurementUnit unit) const;

  std::string Render(const std::string& resourceName, const std::string& gStateName,
                     TzoMeasurementUnit unit, double x, double y) const override;

 private:
  std::unique_ptr<TGraphic> image_;
};

class TzoCompositeWatermarkTemplate : public TzoWatermarkTemplate {
 public:
  // Stamped in this order; not owned.
  std::vector<TzoWatermarkTemplate*> Templates;

  // rtl::EListError for an index outside the list.
  TzoWatermarkTemplate* Items(int32_t index) const;
  int32_t Count() const { return static_cast<int32_t>(Templates.size()); }
};

// ---- TzoWatermarkProcessor ----

// Renders one template for the pages of one stamping run: one content stream per distinct page
// box, found again for later pages with an equal box.
class TzoWatermarkProcessor {
 public:
  TzoWatermarkProcessor(TzoCustomPDFDocument* document, TzoMeasurementUnit unit,
                        const TzoCustomWatermarkTemplate* tmpl);

  TzoCustomPDFDocument* Document() const { return document_; }
  const TzoCustomWatermarkTemplate* Template() const { return template_; }
  TzoMeasurementUnit Unit() const { return unit_; }
  // The number of rendered boxes.
  int32_t Count() const { return static_cast<int32_t>(pageBoxes_.size()); }

  // The index of the rendered box equal to box (points, all four numbers exactly), or -1.
  int32_t FindPageBox(const TzoRectD& box) const;
  // The reference to the content stream rendered for box index (lent); rtl::EListError for an
  // index outside 0 .. Count - 1.
  TzoPDFIndirectReference* ContentRef(int32_t index) const;

  // The template's placement point in box (points): x1, x1 + w/2 or x2 across, y2, y1 + h/2 or
  // y1 up, or (x1 + X, y2 - Y) for the positions at X and Y.
  void PlaceInBox(const TzoRectD& box, double& x, double& y) const;

  // Renders the template for box (points) and returns the new content stream as object
  // objectNumber of document documentNumber (generation 0, RefCount 1), for the caller to add to
  // the document; the box and a reference to the stream are kept for FindPageBox and ContentRef.
  std::unique_ptr<TzoPDFIndirectObject> ProcessPage(const std::string& resourceName,
                                                    const std::string& gStateName,
                                                    int32_t objectNumber, int32_t documentNumber,
                                                    const TzoRectD& box);

 private:
  TzoCustomPDFDocument* document_;              // not owned
  const TzoCustomWatermarkTemplate* template_;  // not owned
  TzoMeasurementUnit unit_;
  std::vector<TzoPageRect> pageBoxes_;  // x1, y1, x2, y2 as in the page's array
  std::vector<std::unique_ptr<TzoPDFIndirectReference>> contentRefs_;
};
