// The document writer on documents built by hand: the exact layout of a file, object texts,
// encryption of strings and streams, stream lengths and compression, and files judged by qpdf,
// pdfinfo, pdftoppm and pdftotext.
#include <gtest/gtest.h>

#include <regex>

#include "pdf/core/zoFilters.h"
#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoUtils.h"
#include "tests/pdf/document/WriterTestSupport.h"

using namespace sv::test;

namespace {

std::unique_ptr<TzoPDFNameObject> Name(const std::string& s) {
  return std::make_unique<TzoPDFNameObject>(s);
}
std::unique_ptr<TzoPDFIntegerObject> Int(int32_t v) {
  return std::make_unique<TzoPDFIntegerObject>(v);
}

// A document of one page showing text, its content stream, a font and the catalog read.
struct OnePage {
  std::unique_ptr<HandMadeDoc> doc = NewHandMadeDoc();
  TzoPDFIndirectObject* page = nullptr;
  TzoPDFIndirectObject* content = nullptr;

  explicit OnePage(const std::string& text = "Hello writer") {
    auto font = std::make_unique<TzoPDFDictObject>();
    font->AddName("/Type", "/Font");
    font->AddName("/Subtype", "/Type1");
    font->AddName("/BaseFont", "/Helvetica");
    doc->AddObject(6, std::move(font));
    std::string ops = "BT /F1 24 Tf 40 100 Td (" + text + ") Tj ET\n0 0 m 200 200 l S";
    content = doc->AddObject(
        5, std::make_unique<TzoPDFStreamObject>(std::make_unique<TzoPDFDictObject>(),
                                                std::make_unique<rtl::TMemoryStream>(ops)));
    auto fonts = std::make_unique<TzoPDFDictObject>();
    fonts->AddObject("/F1", doc->Ref(6));
    auto res = std::make_unique<TzoPDFDictObject>();
    res->AddObject("/Font", std::move(fonts));
    auto box = std::make_unique<TzoPDFArrayObject>();
    for (int v : {0, 0, 300, 200})
      box->AddInteger(v);
    auto p = std::make_unique<TzoPDFDictObject>();
    p->AddName("/Type", "/Page");
    p->AddObject("/Parent", doc->Ref(99));
    p->AddObject("/MediaBox", std::move(box));
    p->AddObject("/Resources", std::move(res));
    p->AddObject("/Contents", doc->Ref(5));
    page = doc->AddObject(4, std::move(p));
    doc->AddPage(page);
    doc->MarkRead();
  }
  TzoPDFDictObject* ContentDict() const { return content->DirectObject()->AsStream()->Dict(); }
};

void SetEncryption(TzoCustomPDFDocument& doc, TzoPDFEncryptionLevel level,
                   TzoUserPermissions permissions) {
  doc.Encryption().SetEnabled(true);
  doc.Encryption().SetLevel(level);
  doc.Encryption().SetUserPassword("user");
  doc.Encryption().SetOwnerPassword("owner");
  doc.Encryption().SetUserPermissions(permissions);
}

void Compress(TzoCustomPDFDocument& doc, uint8_t method, uint8_t level) {
  doc.Compression().Enabled = true;
  doc.Compression().Method = method;
  doc.Compression().Level = level;
}

// LZW data of 9-bit literal codes only (a clear code every 200 bytes keeps the width at 9 bits).
std::string LzwLiterals(const std::string& bytes) {
  std::vector<int> codes = {256};
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 200 == 0) codes.push_back(256);
    codes.push_back(static_cast<uint8_t>(bytes[i]));
  }
  codes.push_back(257);
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (int c : codes) {
    acc = (acc << 9) | static_cast<uint32_t>(c);
    bits += 9;
    while (bits >= 8) {
      out += static_cast<char>((acc >> (bits - 8)) & 0xFF);
      bits -= 8;
    }
  }
  if (bits > 0) out += static_cast<char>((acc << (8 - bits)) & 0xFF);
  return out;
}

// The text of object n in a file written by the writer ("" when it is not there).
std::string ObjectIn(const std::string& file, int n) {
  std::string head = "\r\n" + std::to_string(n) + " 0 obj\r\n";
  size_t at = file.find(head);
  if (at == std::string::npos) return "";
  at += head.size();
  size_t end = file.find("\r\nendobj\r\n", at);
  return file.substr(at, end - at);
}

}  // namespace

TEST(WriterTest, EmptyDocumentIsCatalogInfoAndPageTreeWithExactLayout) {
  auto doc = NewHandMadeDoc();
  const std::string file = doc->WriteToString();
  const std::string header = "%PDF-1.4\r\n%\xE2\xE3\xCF\xD3\r\n";
  const std::string o1 = "\r\n1 0 obj\r\n<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n>>\r\nendobj\r\n";
  const std::string o2 = "\r\n2 0 obj\r\n<<\r\n>>\r\nendobj\r\n";
  const std::string o3 =
      "\r\n3 0 obj\r\n<<\r\n/Type /Pages\r\n/Count 0\r\n/Kids [ ]\r\n>>\r\nendobj\r\n";
  const size_t x = header.size() + o1.size() + o2.size() + o3.size();
  char xref[200];
  std::snprintf(xref, sizeof xref,
                "xref\r\n0 4\r\n0000000000 65535 f\r\n%010zu 00000 n\r\n%010zu 00000 n\r\n"
                "%010zu 00000 n\r\n",
                header.size() + 2, header.size() + o1.size() + 2,
                header.size() + o1.size() + o2.size() + 2);
  EXPECT_EQ(header.size(), 17u);
  EXPECT_EQ(file,
            header + o1 + o2 + o3 + xref +
                "trailer\r\n<<\r\n/Size 4\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\nstartxref\r\n" +
                std::to_string(x) + "\r\n%%EOF\r\n");
  EXPECT_NE(file.find("0000000019 00000 n"), std::string::npos);

  // With encryption the encryption dictionary is object 4 (/Size 5), and the file gets an /ID.
  SetEncryption(*doc, el128bit, TzoUserPermissions::All());
  const std::string enc = doc->WriteToString();
  EXPECT_NE(enc.find("/Size 5\r\n"), std::string::npos);
  EXPECT_NE(enc.find("/Encrypt 4 0 R\r\n"), std::string::npos);
  std::string dict = ObjectIn(enc, 4);
  EXPECT_NE(dict.find("/Filter /Standard\r\n"), std::string::npos);
  EXPECT_NE(dict.find("/V 2\r\n/R 3\r\n/Length 128\r\n"), std::string::npos);
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(enc, m, std::regex("/ID \\[ <([0-9A-F]{32})> <([0-9A-F]{32})> \\]")));
  EXPECT_EQ(m[1], m[2]);
}

TEST(WriterTest, OnePageFilePassesOutsideToolsPlainAnd40And128Bit) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  TempDir tmp;
  struct Case {
    const char* name;
    bool encrypt;
    TzoPDFEncryptionLevel level;
    TzoUserPermissions permissions;
    const char* pdfinfoEncrypted;  // the start of pdfinfo's "Encrypted" line
  } cases[] = {
      {"plain", false, el40bit, TzoUserPermissions::All(), "no"},
      {"rc4-40", true, el40bit, TzoUserPermissions{AllowCopy, AllowAnnotation},
       "yes (print:no copy:yes change:no addNotes:yes algorithm:RC4)"},
      {"rc4-128", true, el128bit, TzoUserPermissions{AllowPrint, AllowHighResPrint},
       "yes (print:yes copy:no change:no addNotes:no algorithm:RC4)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnePage one;
    if (c.encrypt) SetEncryption(*one.doc, c.level, c.permissions);
    const std::string path = tmp / (std::string(c.name) + ".pdf");
    WriteFile(path, one.doc->WriteToString());
    const std::string upw = c.encrypt ? "user" : "";
    EXPECT_EQ(QpdfCheck(path, upw), "");
    auto info = PdfInfo(path, upw);
    EXPECT_EQ(info["Pages"], "1");
    EXPECT_EQ(info["Encrypted"], c.pdfinfoEncrypted);
    if (c.encrypt) {
      EXPECT_TRUE(PdfInfo(path).empty()) << "opens without the user password";
      EXPECT_EQ(PdfInfo(path, "owner", "-opw")["Pages"], "1");
    }
    EXPECT_NE(PdfText(path, upw).value_or("").find("Hello writer"), std::string::npos);
  }
}

TEST(WriterTest, ObjectTextsOfScalarsStringsArraysAndReferences) {
  auto doc = NewHandMadeDoc();
  doc->AddObject(7, Int(1));
  doc->AddObject(8, Int(2), /*refCount=*/0);
  doc->WriteToString();  // numbers the objects: 7 becomes 4, 8 gets none
  struct Case {
    std::unique_ptr<TzoPDFObject> obj;
    std::string text;
  };
  std::vector<Case> cases;
  cases.push_back({std::make_unique<TzoPDFStringObject>("(a(b)"), "(a\\(b)"});
  cases.push_back({std::make_unique<TzoPDFStringObject>("(x\ry\\)"), "(x\\ry\\\\)"});
  cases.push_back({std::make_unique<TzoPDFStringObject>("<48 65 6c>", true), "<48 65 6c>"});
  cases.push_back({std::make_unique<TzoPDFRealObject>(0.00001), "0.0000100000"});
  cases.push_back({std::make_unique<TzoPDFRealObject>(1e12), "1000000000000.0000000000"});
  cases.push_back({std::make_unique<TzoPDFInt64Object>(4294967296LL), "4294967296"});
  cases.push_back({std::make_unique<TzoPDFNullObject>(), "null"});
  cases.push_back({doc->Ref(7), "4 0 R"});
  cases.push_back({doc->Ref(8), "null"});   // in the store, but not in use
  cases.push_back({doc->Ref(42), "null"});  // not there at all
  auto arr = std::make_unique<TzoPDFArrayObject>();
  arr->Add(Name("/A"));
  arr->Add(nullptr);
  arr->AddInteger(-3);
  cases.push_back({std::move(arr), "[ /A null -3 ]"});
  cases.push_back({std::make_unique<TzoPDFArrayObject>(), "[ ]"});
  auto d = std::make_unique<TzoPDFDictObject>();
  d->AddObject("/Gone", nullptr);
  d->AddObject("/Kept", Int(5));
  cases.push_back({std::move(d), "<<\r\n/Kept 5\r\n>>"});
  for (Case& c : cases)
    EXPECT_EQ(doc->ObjectText(9, c.obj.get()), c.text);
}

TEST(WriterTest, PageDictionaryGetsThePageTreeAsItsOnlyParentOnItsLastLine) {
  OnePage one;
  const std::string file = one.doc->WriteToString();
  const std::string page = ObjectIn(file, one.page->OutputNumber());
  EXPECT_EQ(page.find("/Parent 99"), std::string::npos);
  const std::string tail = "/Parent 3 0 R\r\n>>";
  ASSERT_GE(page.size(), tail.size());
  EXPECT_EQ(page.substr(page.size() - tail.size()), tail);
  EXPECT_EQ(page.find("/Parent"), page.size() - tail.size());
}

TEST(WriterTest, EncryptedStringsAreTheirOwnBytesEncrypted) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  // A title in UTF-16 (Japanese, outside any single-byte code page) and a binary string: read
  // back by poppler and qpdf, which decrypt them with the user password.
  OnePage one;
  auto info = std::make_unique<TzoPDFDictObject>();
  info->AddObject("/Title", std::make_unique<TzoPDFStringObject>(
                                std::string("(\xFE\xFF\x65\xE5\x67\x2C\x00\x41)", 10)));
  info->AddObject("/Subject", std::make_unique<TzoPDFStringObject>("<FEFF00E9>", true));
  one.doc->Info().SetDict(std::move(info));
  auto annot = std::make_unique<TzoPDFDictObject>();
  annot->AddObject("/Bin",
                   std::make_unique<TzoPDFStringObject>(std::string("(\x00\x01\xFF\x80)", 6)));
  one.doc->AddObject(10, std::move(annot));
  one.page->DirectObject()->AsDict()->AddObject("/Extra", one.doc->Ref(10));
  SetEncryption(*one.doc, el128bit, TzoUserPermissions::All());

  TempDir tmp;
  const std::string path = tmp / "strings.pdf";
  const std::string file = one.doc->WriteToString();
  WriteFile(path, file);
  EXPECT_EQ(QpdfCheck(path, "user"), "");
  auto meta = PdfInfo(path, "user");
  EXPECT_EQ(meta["Title"],
            "\xE6\x97\xA5\xE6\x9C\xAC"
            "A");                          // 日本A in UTF-8
  EXPECT_EQ(meta["Subject"], "\xC3\xA9");  // é
  // The binary string decrypts to its four bytes.
  CommandResult r = RunCommand(
      {"qpdf", "--password=user",
       "--show-object=" +
           std::to_string(one.doc->InputStore().Find(one.doc->Ref(10).get())->OutputNumber()),
       path});
  EXPECT_NE(r.out.find("<0001ff80>"), std::string::npos) << r.out << r.err;
  // Every string of the file is hex (encrypted); the /ID is not encrypted.
  EXPECT_EQ(file.find("(\xFE\xFF"), std::string::npos);
}

TEST(WriterTest, StreamLengthIsTheBytesWrittenAsADirectNumber) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  OnePage one;
  // A /Length given by reference and wrong: the output has the true length, directly.
  one.doc->AddObject(11, Int(3));
  one.ContentDict()->SetValue("/Length", one.doc->Ref(11));
  const std::string file = one.doc->WriteToString();
  const std::string data = one.content->DirectObject()->AsStream()->Data()->ToString();
  const std::string text = ObjectIn(file, one.content->OutputNumber());
  EXPECT_NE(text.find("/Length " + std::to_string(data.size()) + "\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("stream\r\n" + data + "\r\nendstream"), std::string::npos);
  TempDir tmp;
  WriteFile(tmp / "len.pdf", file);
  EXPECT_EQ(QpdfCheck(tmp / "len.pdf"), "");
}

// The text of a stream as a value is the very text the save writes for the stream's object:
// its dictionary, plain, compressed or encrypted as the save sets it, and its data.
TEST(WriterTest, StreamTextIsWhatTheSaveWritesForTheStream) {
  const struct {
    const char* name;
    bool compress;
    bool encrypt;
    TzoPDFEncryptionLevel level;
  } cases[] = {{"plain", false, false, el40bit},
               {"compressed", true, false, el40bit},
               {"rc4-40", false, true, el40bit},
               {"compressed rc4-128", true, true, el128bit}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OnePage one;
    if (c.compress) Compress(*one.doc, 0, 2);
    if (c.encrypt) SetEncryption(*one.doc, c.level, TzoUserPermissions::All());
    const std::string file = one.doc->WriteToString();
    const int32_t n = one.content->OutputNumber();
    const std::string written = ObjectIn(file, n);
    ASSERT_NE(written, "");
    EXPECT_EQ(one.doc->StreamText(n, one.content->DirectObject()->AsStream()), written);
    EXPECT_EQ(one.doc->ObjectText(n, one.content->DirectObject()), written);
  }
}

TEST(WriterTest, CompressionPutsItsFilterInFrontAndRealignsDecodeParms) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  TempDir tmp;
  OnePage plain;
  WriteFile(tmp / "plain.pdf", plain.doc->WriteToString());

  struct Case {
    const char* name;
    std::function<void(OnePage&)> setUp;
    std::string filter, parms;  // expected texts of /Filter and /DecodeParms ("" = none)
    uint8_t method = 0;
  };
  const std::vector<Case> cases = {
      {"no filter", [](OnePage&) {}, "/FlateDecode", ""},
      {"run length", [](OnePage&) {}, "/RunLengthDecode", "", 1},
      {"run length before LZW",
       [](OnePage& o) {
         std::string lzw = LzwLiterals(o.content->DirectObject()->AsStream()->Data()->ToString());
         o.content->DirectObject()->AsStream()->SetData(std::make_unique<rtl::TMemoryStream>(lzw));
         o.ContentDict()->AddObject("/Filter", Name("/LZWDecode"));
       },
       "[ /RunLengthDecode /LZWDecode ]", "", 1},
      {"LZW with parameters",
       [](OnePage& o) {
         std::string lzw = LzwLiterals(o.content->DirectObject()->AsStream()->Data()->ToString());
         o.content->DirectObject()->AsStream()->SetData(std::make_unique<rtl::TMemoryStream>(lzw));
         o.ContentDict()->AddObject("/Filter", Name("/LZWDecode"));
         auto parms = std::make_unique<TzoPDFDictObject>();
         parms->AddInteger("/EarlyChange", 0);
         o.ContentDict()->AddObject("/DecodeParms", std::move(parms));
       },
       "[ /FlateDecode /LZWDecode ]", "[ null <<\r\n/EarlyChange 0\r\n>> ]"},
      {"shared filter array by reference",
       [](OnePage& o) {
         std::string a85;
         TzoAscii85Filter::Encode(
             BytesOf(o.content->DirectObject()->AsStream()->Data()->ToString()), a85);
         o.content->DirectObject()->AsStream()->SetData(std::make_unique<rtl::TMemoryStream>(a85));
         auto shared = std::make_unique<TzoPDFArrayObject>();
         shared->Add(Name("/ASCII85Decode"));
         o.doc->AddObject(12, std::move(shared));
         o.ContentDict()->AddObject("/Filter", o.doc->Ref(12));
         o.ContentDict()->AddObject("/DecodeParms", std::make_unique<TzoPDFNullObject>());
       },
       "[ /FlateDecode /ASCII85Decode ]", ""},
      {"parameters without a filter are dropped",
       [](OnePage& o) {
         o.ContentDict()->AddObject("/DecodeParms", std::make_unique<TzoPDFDictObject>());
       },
       "/FlateDecode", ""},
  };
  const auto reference = RenderPages(tmp / "plain.pdf", "", 24, tmp / "");
  ASSERT_EQ(reference.size(), 1u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnePage one;
    c.setUp(one);
    Compress(*one.doc, c.method, 3);
    const std::string file = one.doc->WriteToString();
    const std::string text = ObjectIn(file, one.content->OutputNumber());
    EXPECT_NE(text.find("/Filter " + c.filter + "\r\n"), std::string::npos) << text;
    if (c.parms.empty())
      EXPECT_EQ(text.find("/DecodeParms"), std::string::npos) << text;
    else
      EXPECT_NE(text.find("/DecodeParms " + c.parms + "\r\n"), std::string::npos) << text;
    // The shared array of the input is not changed, and is written as it was.
    if (auto* shared = one.doc->InputStore().Find(one.doc->Ref(12).get())) {
      EXPECT_EQ(shared->DirectObject()->AsArray()->Count(), 1);
      EXPECT_EQ(ObjectIn(file, shared->OutputNumber()), "[ /ASCII85Decode ]");
    }
    const std::string path = tmp / (std::string(c.name) + ".pdf");
    WriteFile(path, file);
    EXPECT_EQ(QpdfCheck(path), "");
    EXPECT_EQ(RenderPages(path, "", 24, tmp / "r"), reference);
    EXPECT_NE(PdfText(path).value_or("").find("Hello writer"), std::string::npos);
  }
}

TEST(WriterTest, CompressionLeavesImagesAndCompressedDataAlone) {
  for (const char* filter : {"/DCTDecode", "/FlateDecode", "/CCITTFaxDecode", "/JBIG2Decode"}) {
    SCOPED_TRACE(filter);
    OnePage one;
    auto img = std::make_unique<TzoPDFDictObject>();
    img->AddObject("/Filter", Name(filter));
    img->AddInteger("/Length", 4);
    auto* obj = one.doc->AddObject(
        13, std::make_unique<TzoPDFStreamObject>(
                std::move(img), std::make_unique<rtl::TMemoryStream>("\x01\x02\x03\x04")));
    Compress(*one.doc, 0, 2);
    const std::string file = one.doc->WriteToString();
    const std::string text = ObjectIn(file, obj->OutputNumber());
    EXPECT_NE(text.find(std::string("/Filter ") + filter + "\r\n/Length 4\r\n"), std::string::npos)
        << "[" << text << "]";
    EXPECT_NE(text.find("stream\r\n\x01\x02\x03\x04\r\nendstream"), std::string::npos);
  }
}

TEST(WriterTest, StreamsTheWriterCannotWriteRaise) {
  struct Case {
    const char* name;
    std::function<void(OnePage&)> setUp;
    bool compression;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"null filter",
       [](OnePage& o) {
         o.ContentDict()->AddObject("/Filter", std::make_unique<TzoPDFNullObject>());
       },
       true, "Unexpected filter object, found (Null Object)"},
      {"number as filter", [](OnePage& o) { o.ContentDict()->AddObject("/Filter", Int(5)); }, true,
       "Unexpected filter object, found (Integer Object)"},
      {"filter array with a number",
       [](OnePage& o) {
         auto a = std::make_unique<TzoPDFArrayObject>();
         a->AddInteger(1);
         o.ContentDict()->AddObject("/Filter", std::move(a));
       },
       true, "Unexpected filter object, found (Integer Object)"},
      {"filter reference to nothing",
       [](OnePage& o) { o.ContentDict()->AddObject("/Filter", o.doc->Ref(77)); }, true,
       "Unexpected filter object, found (IndirectReference Object)"},
      {"stream without data",
       [](OnePage& o) { o.content->DirectObject()->AsStream()->SetData(nullptr); }, false,
       "Stream without data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnePage one;
    c.setUp(one);
    if (c.compression) Compress(*one.doc, 0, 2);
    try {
      one.doc->WriteToString();
      ADD_FAILURE() << "no error";
    } catch (const rtl::Exception& e) {
      EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
    }
  }
}

TEST(WriterTest, CatalogKeepsEntriesOfTheFileAndWholeViewerPreferences) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  OnePage one;
  auto labels = std::make_unique<TzoPDFDictObject>();
  labels->AddObject("/Nums", std::make_unique<TzoPDFArrayObject>());
  one.doc->AddObject(20, std::move(labels));
  auto read = std::make_unique<TzoPDFDictObject>();
  read->AddName("/Type", "/Catalog");
  read->AddObject("/Pages", one.doc->Ref(99));
  read->AddObject("/PageLabels", one.doc->Ref(20));
  read->AddObject("/Lang", std::make_unique<TzoPDFStringObject>("(ja-JP)"));
  read->AddName("/PageMode", "/UseOC");  // no value of the model
  read->AddName("/PageLayout", "/TwoPageLeft");
  read->AddObject("/Outlines", one.doc->Ref(98));  // rebuilt by the writer, never copied
  one.doc->Catalog().SetDict(std::move(read));
  auto prefs = std::make_unique<TzoPDFDictObject>();
  prefs->AddName("/Direction", "/R2L");
  prefs->SetBoolean("/HideToolbar", true);
  prefs->AddObject("/PrintPageRange", std::make_unique<TzoPDFArrayObject>());
  one.doc->Catalog().SetViewerPreferencesDict(std::move(prefs));

  std::string file = one.doc->WriteToString();
  std::string cat = ObjectIn(file, 1);
  const int labelsNumber = one.doc->InputStore().Find(one.doc->Ref(20).get())->OutputNumber();
  EXPECT_NE(cat.find("/PageLabels " + std::to_string(labelsNumber) + " 0 R\r\n"), std::string::npos)
      << cat;
  EXPECT_NE(cat.find("/Lang (ja-JP)\r\n"), std::string::npos);
  EXPECT_NE(cat.find("/PageMode /UseOC\r\n"), std::string::npos);
  EXPECT_NE(cat.find("/PageLayout /TwoPageLeft\r\n"), std::string::npos);
  EXPECT_NE(cat.find("/ViewerPreferences <<\r\n/Direction /R2L\r\n/HideToolbar "
                     "true\r\n/PrintPageRange [ ]\r\n>>"),
            std::string::npos)
      << cat;
  EXPECT_EQ(cat.find("/Outlines"), std::string::npos);
  EXPECT_EQ(cat.find("/Pages 99"), std::string::npos);
  EXPECT_EQ(ObjectIn(file, labelsNumber), "<<\r\n/Nums [ ]\r\n>>");

  // A mode the model knows wins over the file's entry.
  one.doc->SetPageMode(pmUseOutlines);
  cat = ObjectIn(one.doc->WriteToString(), 1);
  EXPECT_NE(cat.find("/PageMode /UseOutlines\r\n"), std::string::npos);
  EXPECT_EQ(cat.find("/UseOC"), std::string::npos);

  // With encryption, the catalog's strings are encrypted for object 1.
  SetEncryption(*one.doc, el40bit, TzoUserPermissions::All());
  TempDir tmp;
  WriteFile(tmp / "cat.pdf", one.doc->WriteToString());
  CommandResult r = RunCommand({"qpdf", "--password=user", "--show-object=1", tmp / "cat.pdf"});
  EXPECT_NE(r.out.find("/Lang (ja-JP)"), std::string::npos) << r.out << r.err;
  EXPECT_EQ(QpdfCheck(tmp / "cat.pdf", "user"), "");
}

TEST(WriterTest, ProgressAndStatusTexts) {
  OnePage one;
  std::vector<std::string> status;
  std::vector<int> progress;
  one.doc->OnStatusMessage = [&](TzoCustomPDFDocument*, const std::string& s) {
    status.push_back(s);
  };
  one.doc->OnIOProgress = [&](TzoCustomPDFDocument*, int32_t p) { progress.push_back(p); };
  one.doc->WriteToString();
  EXPECT_EQ(status, (std::vector<std::string>{"Building Outlines...", "Building Objects...",
                                              "Writing Pages", "Writing Cross-Reference Table"}));
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);
}

TEST(WriterTest, LoadedCatalogEntriesReachTheOutputWithWhatTheyReference) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  TempDir tmp;
  const std::string in = tmp / "catalog.pdf";
  WriteFile(
      in, BuildPdf({"<< /Type /Catalog /Pages 2 0 R /Dests 4 0 R /StructTreeRoot 5 0 R "
                    "/MarkInfo << /Marked true >> /Lang (ja-JP) /OCProperties << /OCGs [6 0 R] "
                    "/D << /Order [6 0 R] >> >> /URI << /Base (http://example.org/) >> "
                    "/Extensions << /ADBE << /BaseVersion /1.7 /ExtensionLevel 3 >> >> "
                    "/OutputIntents [7 0 R] /PageLabels << /Nums [0 << /S /r >>] >> "
                    "/Collection << /View /D >> /Threads [10 0 R] /PageMode /UseOC "
                    "/ViewerPreferences << /Direction /R2L /PrintScaling /None >> >>",
                    "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /StructParents 0 "
                    "/Contents 8 0 R /B [11 0 R] >>",
                    "<< /chap1 [3 0 R /Fit] >>", "<< /Type /StructTreeRoot /K [] >>",
                    "<< /Type /OCG /Name (Layer) >>",
                    "<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB) "
                    "/DestOutputProfile 9 0 R >>",
                    StreamBody("", "0 0 m 100 100 l S"), StreamBody("/N 3", "profile bytes"),
                    "<< /Type /Thread /F 11 0 R >>",
                    "<< /Type /Bead /T 10 0 R /N 11 0 R /V 11 0 R /P 3 0 R /R [0 0 100 100] >>"}));
  for (bool encrypt : {false, true}) {
    SCOPED_TRACE(encrypt ? "rc4-128" : "plain");
    auto doc = TzoCustomPDFDocument::Create();
    doc->SetShowSetupDialog(false);
    ASSERT_TRUE(doc->LoadFromFile(in));
    if (encrypt) SetEncryption(*doc, el128bit, TzoUserPermissions::All());
    const std::string out = tmp / (encrypt ? "enc.pdf" : "plain.pdf");
    ASSERT_TRUE(doc->SaveToFile(out, 2));
    const std::string upw = encrypt ? "user" : "";
    EXPECT_EQ(QpdfCheck(out, upw), "");
    EXPECT_EQ(CompareStructure(in, out, "", upw), "");
  }
}

TEST(WriterTest, TheOutputGoesOutInLargeBlocksWithoutASeekPerObject) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  // A memory stream that counts the calls it gets.
  class CountingStream : public rtl::TMemoryStream {
   public:
    int64_t Write(const void* buffer, int64_t count) override {
      writes.push_back(count);
      return rtl::TMemoryStream::Write(buffer, count);
    }
    int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override {
      ++seeks;
      return rtl::TMemoryStream::Seek(offset, origin);
    }
    std::vector<int64_t> writes;
    int seeks = 0;
  };
  TempDir tmp;
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    OnePage one("Blocks");
    // Many small objects and one stream of 300 000 bytes, hung on the page.
    auto list = std::make_unique<TzoPDFArrayObject>();
    for (int32_t i = 0; i < 3000; ++i) {
      auto d = std::make_unique<TzoPDFDictObject>();
      d->AddInteger("/Index", i);
      d->AddName("/Kind", "/Small");
      one.doc->AddObject(100 + i, std::move(d));
      list->Add(one.doc->Ref(100 + i));
    }
    const std::string big(300000, 'x');
    TzoPDFIndirectObject* bigObject = one.doc->AddObject(
        20, std::make_unique<TzoPDFStreamObject>(std::make_unique<TzoPDFDictObject>(),
                                                 std::make_unique<rtl::TMemoryStream>(big)));
    one.page->DirectObject()->AsDict()->AddObject("/PieceInfo", std::move(list));
    one.page->DirectObject()->AsDict()->AddObject("/Big", one.doc->Ref(20));
    if (encrypted) SetEncryption(*one.doc, el128bit, TzoUserPermissions::All());

    CountingStream out;
    one.doc->SetShowSetupDialog(false);
    ASSERT_TRUE(one.doc->SaveToStream(out, "blocks.pdf", 2));
    const int64_t size = out.Size();
    EXPECT_LE(out.seeks, 1);
    EXPECT_LE(static_cast<int64_t>(out.writes.size()), size / 32768 + 3)
        << out.writes.size() << " writes for " << size << " bytes";
    EXPECT_GE(*std::max_element(out.writes.begin(), out.writes.end()),
              static_cast<int64_t>(big.size()));
    if (!encrypted) {
      EXPECT_TRUE(out.ToString() == one.doc->WriteToString());
    }
    const std::string path = tmp / (encrypted ? "encrypted.pdf" : "plain.pdf");
    WriteFile(path, out.ToString());
    const std::string upw = encrypted ? "user" : "";
    EXPECT_EQ(QpdfCheck(path, upw), "");
    EXPECT_NE(PdfText(path, upw).value_or("").find("Blocks"), std::string::npos);
    CommandResult shown = RunCommand({"qpdf", "--password=" + upw,
                                      "--show-object=" + std::to_string(bigObject->OutputNumber()),
                                      "--filtered-stream-data", path});
    EXPECT_TRUE(shown.out == big) << shown.out.size() << " bytes";
  }
}
