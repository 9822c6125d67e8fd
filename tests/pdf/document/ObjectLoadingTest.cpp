// Objects read by number, object streams, and encrypted files against qpdf and pdfinfo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <set>

#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoUtils.h"
#include "tests/pdf/document/DocTestSupport.h"

using namespace doctest;

namespace {

Loaded LoadBytes(const std::string& bytes) {
  static int n = 0;
  static sv::test::TempDir dir;
  std::string path = dir / ("o" + std::to_string(++n) + ".pdf");
  sv::test::WriteFile(path, bytes);
  return Load(path);
}

// pdfinfo's value of a field ("Producer"), or "".
std::string PdfInfoField(const std::string& out, const std::string& field) {
  std::smatch m;
  std::regex re("(^|\n)" + field + ": *([^\n]*)");
  return std::regex_search(out, m, re) ? std::string(m[2]) : std::string();
}

const std::vector<std::string> kRc4Files = {
    "encrypted/rc4-40_u=user_o=owner.pdf",
    "encrypted/rc4-128_u=user_o=owner.pdf",
    "encrypted/rc4-128_u=user_o=owner_objstm.pdf",
    "encrypted/rc4-128_u=_o=owner_noprint.pdf",
    "peer/enc-R2,V1,O=master.pdf",
    "peer/enc-R3,V2,O=master.pdf",
    "peer/encrypted-with-images.pdf",
};

TEST(ObjectLoading, EncryptedStreamsAndStringsEqualQpdfAndPdfinfo) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  for (const std::string& name : kRc4Files) {
    const std::string f = sv::test::CorpusDir() + name;
    const std::string pw = PasswordFromName(f);
    Loaded l = Load(f, pw);
    ASSERT_EQ(l.error, "") << name;
    ASSERT_TRUE(l.ok) << name;
    EXPECT_TRUE(l.doc->IsEncrypted()) << name;
    // Decrypted stream data equal qpdf's raw (decrypted, still filtered) data.
    int streams = 0;
    const TzoPDFObjectStore& store = l.doc->InputStore();
    for (int32_t i = 0; i < store.Count() && streams < 6; ++i) {
      const TzoPDFIndirectObject* obj = store.GetItem(i);
      const TzoPDFStreamObject* s = obj->DirectObject() ? obj->DirectObject()->AsStream() : nullptr;
      if (!s || !s->Data() || obj->Generation() != 0) continue;
      sv::test::CommandResult q = sv::test::RunCommand(
          {"qpdf", "--password=" + pw, "--show-object=" + std::to_string(obj->ObjectNumber()),
           "--raw-stream-data", f});
      ASSERT_EQ(q.exitCode, 0) << name << " " << obj->ObjectNumber();
      EXPECT_EQ(s->Data()->ToString(), q.out) << name << " object " << obj->ObjectNumber();
      ++streams;
    }
    EXPECT_GT(streams, 0) << name;
    // The information texts, decrypted and decoded.
    sv::test::CommandResult info = sv::test::RunCommand({"pdfinfo", "-opw", pw, f});
    for (auto [field, value] : {std::pair{"Producer", Utf8(l.doc->Info().Producer())},
                                std::pair{"Creator", Utf8(l.doc->Info().Creator())},
                                std::pair{"Title", Utf8(l.doc->Info().Title())}})
      EXPECT_EQ(value, PdfInfoField(info.out, field)) << name << " " << field;
  }
}

// Compares an object as read with qpdf's JSON of it; differences go to diffs. Strings that are
// neither UTF-16 nor ASCII are not compared (qpdf reads them as PDFDocEncoding).
void CompareWithJson(const TzoPDFObject* o, const Json& j, const std::string& path,
                     std::vector<std::string>& diffs, const Json& objects) {
  auto differ = [&](const std::string& what) { diffs.push_back(path + ": " + what); };
  if (!o) {
    if (j.kind != Json::Null) differ("missing");
    return;
  }
  switch (o->ObjectType()) {
    case otInteger:
      if (j.kind != Json::Number || j.n != o->AsInteger()->Value()) differ("integer");
      break;
    case otReal:
      if (j.kind != Json::Number || std::abs(j.n - o->AsReal()->Value()) > 1e-4) differ("real");
      break;
    case otBoolean:
      if (j.kind != Json::Bool || j.b != o->AsBoolean()->Value()) differ("boolean");
      break;
    case otNull:
      if (j.kind != Json::Null) differ("null");
      break;
    case otName:
      if (j.kind != Json::String ||
          (j.s != o->AsName()->Text() && j.s.find('#') == std::string::npos &&
           o->AsName()->Text().find('#') == std::string::npos))
        differ("name " + o->AsName()->Text() + " / " + j.s);
      break;
    case otIndirectReference: {
      const TzoPDFIndirectReference* r = o->AsReference();
      std::string text =
          std::to_string(r->ObjectNumber()) + " " + std::to_string(r->Generation()) + " R";
      if (j.kind != Json::String || j.s != text) differ("reference " + text + " / " + j.s);
      break;
    }
    case otString: {
      const std::string bytes = PDFStringBytes(*o->AsString());
      if (j.kind != Json::String) {
        differ("string");
      } else if (j.s.rfind("b:", 0) == 0) {
        std::string hex = StrToHex(bytes);
        for (char& c : hex)
          c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (j.s.substr(2) != hex) differ("binary string");
      } else if (bytes.rfind("\xFE\xFF", 0) == 0) {
        if (j.s.substr(2) != Utf8(TzoCustomPDFDocument::TextStringOf(*o->AsString())))
          differ("text string");
      } else if (std::all_of(bytes.begin(), bytes.end(),
                             [](char c) { return c >= 0x20 && c < 0x7F; })) {
        if (j.s.substr(2) != bytes) differ("string (" + bytes + ") / " + j.s);
      }
      break;
    }
    case otArray: {
      const TzoPDFArrayObject* a = o->AsArray();
      if (j.kind != Json::Array || static_cast<size_t>(a->Count()) != j.items.size()) {
        differ("array");
        break;
      }
      for (int32_t i = 0; i < a->Count(); ++i)
        CompareWithJson(a->GetItem(i), j.items[static_cast<size_t>(i)],
                        path + "[" + std::to_string(i) + "]", diffs, objects);
      break;
    }
    case otDictionary: {
      const TzoPDFDictObject* d = o->AsDict();
      if (j.kind != Json::Object) {
        differ("dictionary");
        break;
      }
      for (int32_t i = 0; i < d->Count(); ++i) {
        const std::string& key = d->GetKeyAt(i)->Text();
        const Json* v = j.Get(key);
        // qpdf leaves out keys whose value is null, a reference to a missing object included.
        if (!v) {
          const TzoPDFObject* value = d->GetValueAt(i);
          const TzoPDFIndirectReference* r = value ? value->AsReference() : nullptr;
          const Json* target = r ? objects.Get("obj:" + std::to_string(r->ObjectNumber()) + " " +
                                               std::to_string(r->Generation()) + " R")
                                 : nullptr;
          const Json* targetValue = target ? target->Get("value") : nullptr;
          bool dangling = r && (!target || (targetValue && targetValue->kind == Json::Null));
          if (value && !value->IsNull() && !dangling) differ("key " + key);
          continue;
        }
        CompareWithJson(d->GetValueAt(i), *v, path + key, diffs, objects);
      }
      break;
    }
    case otStream:
      if (const Json* st = j.Get("stream"))
        CompareWithJson(o->AsStream()->Dict(), *st->Get("dict"), path, diffs, objects);
      else
        differ("stream");
      break;
    default:
      break;
  }
}

// Every object of every corpus file that loads (RC4 files included), unless qpdf has to repair it.
std::vector<std::string> ObjectTestFiles() {
  std::vector<std::string> files;
  for (const std::string& n : kRc4Files)
    files.push_back(sv::test::CorpusDir() + n);
  for (const char* folder : {"peer", "docs"})
    for (const std::string& f : sv::test::CorpusFiles(folder))
      if (f.size() > 4 && f.compare(f.size() - 4, 4, ".pdf") == 0 &&
          std::find(files.begin(), files.end(), f) == files.end())
        files.push_back(f);
  return files;
}

TEST(ObjectLoading, ObjectsEqualQpdfJson) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("qpdf");
  std::set<std::string> files;
  for (const std::string& f : ObjectTestFiles()) {
    const std::string& name = f;
    const std::string pw = PasswordFromName(f);
    Loaded l = Load(f, pw);
    if (!l.ok) continue;
    sv::test::CommandResult q =
        sv::test::RunCommand({"qpdf", "--password=" + pw, "--json", "--json-key=qpdf", f});
    if (q.exitCode != 0 || !q.err.empty()) continue;
    files.insert(CorpusName(f));
    Json json = JsonReader(q.out).Parse();
    const Json& objects = json.Get("qpdf")->items.at(1);
    std::set<const TzoPDFIndirectObject*> pages(l.doc->Pages().begin(), l.doc->Pages().end());
    std::vector<std::string> diffs;
    int compared = 0;
    const TzoPDFObjectStore& store = l.doc->InputStore();
    for (int32_t i = 0; i < store.Count(); ++i) {
      const TzoPDFIndirectObject* obj = store.GetItem(i);
      if (pages.count(obj)) continue;  // pages carry their inherited attributes now
      // Objects made by the load (a direct form dictionary) are not the file's.
      if (static_cast<size_t>(obj->ObjectNumber()) >=
          std::max(l.doc->XRefItems().size(), l.doc->XRefStmItems().size()))
        continue;
      const std::string key = "obj:" + std::to_string(obj->ObjectNumber()) + " " +
                              std::to_string(obj->Generation()) + " R";
      const Json* entry = objects.Get(key);
      if (!entry) {
        diffs.push_back(key + " unknown to qpdf");
        continue;
      }
      const Json* value = entry->Get("value");
      CompareWithJson(obj->DirectObject(), value ? *value : *entry, key, diffs, objects);
      ++compared;
    }
    EXPECT_GT(compared, 0) << name;
    EXPECT_TRUE(diffs.empty()) << name << ": " << diffs.size() << " differences, first "
                               << (diffs.empty() ? "" : diffs[0]);
  }
  // Not compared: a file the list of files leaves out, and one that qpdf repairs.
  ExpectCovered(files, LoadingCorpusFilesExcept({"encrypted/rc4-128_u=user_o=owner_big.pdf",
                                                 "peer/bad-xref-entry.pdf"}));
}

TEST(ObjectLoading, OtherHandlersAreRefusedAndLeaveTheDocumentEmpty) {
  SV_REQUIRE_CORPUS();
  for (const char* name :
       {"encrypted/aes-128_u=user_o=owner.pdf", "encrypted/aes-256_u=user_o=owner.pdf",
        "peer/V4-aes.pdf", "peer/V4.pdf"}) {
    Loaded l = Load(sv::test::CorpusDir() + name, "owner");
    EXPECT_NE(l.error.find("Unsupported"), std::string::npos) << name << ": " << l.error;
    EXPECT_FALSE(l.doc->IsLoaded()) << name;
    EXPECT_EQ(l.doc->InputStore().Count(), 0) << name;
    EXPECT_EQ(l.doc->Decryptor(), nullptr) << name;
  }
}

TEST(ObjectLoading, PermissionsAfterOwnerAndUserOpens) {
  SV_REQUIRE_CORPUS();
  const std::string f = sv::test::CorpusDir() + "encrypted/rc4-128_u=_o=owner_noprint.pdf";
  // The owner keeps the file's restrictions (/P -3376: copy and accessibility only).
  Loaded owner = Load(f, "owner");
  ASSERT_TRUE(owner.ok);
  EXPECT_TRUE(owner.doc->IsOwner());
  EXPECT_EQ(owner.doc->Encryption().UserPermissions(),
            (TzoUserPermissions{AllowCopy, AllowAccessibility}));
  EXPECT_EQ(owner.doc->Encryption().OwnerPassword(), "owner");
  EXPECT_EQ(owner.doc->Encryption().Level(), el128bit);
  // The empty user password opens it for a user, who cannot change the settings.
  Loaded user = Load(f, "");
  ASSERT_TRUE(user.ok);
  EXPECT_FALSE(user.doc->IsOwner());
  EXPECT_THROW(user.doc->Encryption().SetEnabled(false), rtl::Exception);

  Loaded forty = Load(sv::test::CorpusDir() + "encrypted/rc4-40_u=user_o=owner.pdf", "owner");
  ASSERT_TRUE(forty.ok);
  EXPECT_EQ(forty.doc->Encryption().Level(), el40bit);
}

// ---- Hand-made objects ----

std::string WithEncrypt(const std::string& encryptBody) {
  PdfBuilder b = OnePage();
  b.Add(encryptBody);
  b.trailerExtra = "/Encrypt 5 0 R /ID [<00112233445566778899AABBCCDDEEFF> <00>]";
  return b.Build();
}

TEST(ObjectLoading, BrokenEncryptionDictionariesRaise) {
  const std::string o(64, 'A');
  struct Case {
    const char* what;
    std::string body;
  } cases[] = {
      {"no /O", "<< /Filter /Standard /V 1 /R 2 /U <" + o + "> /P -4 >>"},
      {"no /U", "<< /Filter /Standard /V 1 /R 2 /O <" + o + "> /P -4 >>"},
      {"a /P that is no number",
       "<< /Filter /Standard /V 1 /R 2 /O <" + o + "> /U <" + o + "> /P /x >>"},
      {"an /Encrypt that is no dictionary", "[1 2 3]"},
      {"an /Encrypt object that starts with a dictionary end", ">> /Filter /Standard >>"},
      {"a crypt filter handler",
       "<< /Filter /Standard /V 4 /R 4 /O <" + o + "> /U <" + o + "> /P -4 >>"},
  };
  for (const Case& c : cases) {
    Loaded l = LoadBytes(WithEncrypt(c.body));
    EXPECT_NE(l.error, "") << c.what;
    EXPECT_FALSE(l.ok) << c.what;
    EXPECT_FALSE(l.doc->IsLoaded()) << c.what;
  }
}

TEST(ObjectLoading, HeaderOfAnotherObjectCountsAsMissingWithAWarning) {
  PdfBuilder b = OnePage();
  b.Add("(five)");
  b.bodies[2] = "<< /Type /Page /MediaBox [0 0 200 200] /Contents 4 0 R /Thumb 5 0 R >>";
  std::string pdf = b.Build();
  // The entry of object 5 points at object 4.
  char wrong[32], right[32];
  std::snprintf(right, sizeof right, "%010zu 00000 n", b.offsets[4]);
  std::snprintf(wrong, sizeof wrong, "%010zu 00000 n", b.offsets[3]);
  pdf.replace(pdf.rfind(right), 18, wrong);
  Loaded l = LoadBytes(pdf);
  ASSERT_EQ(l.error, "");
  EXPECT_EQ(l.doc->PageCount(), 1);
  ASSERT_EQ(l.warnings.size(), 1u);
  EXPECT_NE(l.warnings[0].find("Object 5 not found"), std::string::npos);
  EXPECT_EQ(l.doc->InputStore().IndexOf(l.doc->DocumentNumber(), 5, 0), -1);
}

TEST(ObjectLoading, StreamWithoutEndFailsTheLoad) {
  PdfBuilder b = OnePage();
  b.bodies[3] = "<< /Length 8 >>\nstream\n0 0 m S\n";  // no "endstream" anywhere
  Loaded l = LoadBytes(b.Build());
  EXPECT_EQ(l.error, "Expected PDF endstream");
  EXPECT_FALSE(l.doc->IsLoaded());
  EXPECT_EQ(l.doc->PageCount(), 0);
}

TEST(ObjectLoading, WrongLengthIsCorrectedBySearchingForEndstream) {
  PdfBuilder b = OnePage();
  b.bodies[3] = "<< /Length 5 0 R >>\nstream\n0 0 m S\nendstream";
  b.Add("3");  // a /Length too short for the data
  Loaded l = LoadBytes(b.Build());
  ASSERT_EQ(l.error, "");
  auto page = l.doc->GetPage(1);
  const TzoPDFStreamObject* content = nullptr;
  for (int32_t i = 0; i < page->Count(); ++i)
    if (page->Item(i)->DirectObject()->AsStream())
      content = page->Item(i)->DirectObject()->AsStream();
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->Data()->ToString(), "0 0 m S");
}

// A file whose catalog, page tree and page live in an object stream (object 5), with a stream
// cross-reference table; extra lets a test add an update.
std::string ObjectStreamFile(const std::string& extraObjects = "") {
  size_t off4 = 0, off5 = 0;
  std::string pdf = ObjectStreamFileStart(off4, off5);
  pdf += extraObjects;
  size_t off6 = pdf.size();
  std::string x;
  auto entry = [&](int t, uint32_t f2, int f3) {
    x += static_cast<char>(t);
    for (int k = 3; k >= 0; --k)
      x += static_cast<char>((f2 >> (8 * k)) & 0xFF);
    x += static_cast<char>(f3);
  };
  entry(0, 0, 255);
  entry(2, 5, 0);
  entry(2, 5, 1);
  entry(2, 5, 2);
  entry(1, static_cast<uint32_t>(off4), 0);
  entry(1, static_cast<uint32_t>(off5), 0);
  entry(1, static_cast<uint32_t>(off6), 0);
  pdf += "6 0 obj\n<< /Type /XRef /Size 7 /Root 1 0 R /W [1 4 1] /Length " +
         std::to_string(x.size()) + " >>\nstream\n" + x + "\nendstream\nendobj\nstartxref\n" +
         std::to_string(off6) + "\n%%EOF\n";
  return pdf;
}

TEST(ObjectLoading, CatalogInsideAnObjectStreamLoads) {
  Loaded l = LoadBytes(ObjectStreamFile());
  ASSERT_EQ(l.error, "");
  EXPECT_EQ(l.doc->PageCount(), 1);
  EXPECT_EQ(l.doc->Pages()[0]->ObjectNumber(), 3);
}

TEST(ObjectLoading, UpdatedObjectIsNotTakenFromTheObjectStream) {
  std::string pdf = ObjectStreamFile();
  // An update gives page 3 a rotation outside the object stream.
  size_t at = pdf.size();
  pdf += "3 0 obj\n<< /Type /Page /MediaBox [0 0 100 100] /Contents 4 0 R /Rotate 180 >>\nendobj\n";
  size_t xref = pdf.size();
  char line[32];
  std::snprintf(line, sizeof line, "%010zu 00000 n \n", at);
  size_t prev = std::stoul(pdf.substr(pdf.rfind("startxref") + 10));
  pdf += "xref\n3 1\n" + std::string(line) + "trailer\n<< /Size 7 /Root 1 0 R /Prev " +
         std::to_string(prev) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  Loaded l = LoadBytes(pdf);
  ASSERT_EQ(l.error, "");
  ASSERT_EQ(l.doc->PageCount(), 1);
  EXPECT_EQ(l.doc->GetPageRotation(1), 180);
}

}  // namespace
