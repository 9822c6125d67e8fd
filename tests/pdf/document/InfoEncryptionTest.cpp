// Document information texts and the encryption of output.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <regex>

#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoPDFDoc.h"
#include "tests/pdf/document/DocTestSupport.h"
#include "tests/pdf/document/WriterTestSupport.h"
#include "tests/support/FontTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace doctest;
using namespace std::string_literals;

namespace {

// The bytes of an information value as it will be written: Name text "(" escaped ")".
std::string WrittenBytes(const TzoPDFDictObject& dict, const char* key) {
  const TzoPDFObject* v = dict.GetValue(key);
  if (!v || !v->AsName()) return "<missing>";
  const std::string& t = v->AsName()->Text();
  return UnescapePDFString(t.substr(1, t.size() - 2));
}

TEST(DocumentInfo, TextsAreWrittenAsUtf16WithTheirMark) {
  auto d = TzoPDFDocument::Create();
  d->Info().SetTitle(u"ABC");
  d->Info().SetAuthor(u"");
  d->Info().SetCreationDate("2024/05/01 09:30");
  auto out = d->Info().OutputDict();
  EXPECT_EQ(WrittenBytes(*out, "/Title"), "\xFE\xFF\0A\0B\0C"s);
  EXPECT_EQ(WrittenBytes(*out, "/Author"), "\xFE\xFF"s);
  EXPECT_EQ(WrittenBytes(*out, "/CreationDate"),
            "\xFE\xFF\0"
            "2\0"
            "0\0"
            "2\0"
            "4\0/\0"
            "0\0"
            "5\0/\0"
            "0\0"
            "1\0 \0"
            "0\0"
            "9\0:\0"
            "3\0"
            "0"s);
  EXPECT_EQ(d->Info().Title(), u"ABC");
  EXPECT_EQ(d->Info().Author(), u"");
  EXPECT_EQ(d->Info().CreationDate(), "2024/05/01 09:30");
  // Delimiters, the backslash and CR inside the UTF-16 bytes are escaped in the written text.
  d->Info().SetSubject(u"\u2829\\\u0D0A");
  auto withSubject = d->Info().OutputDict();
  EXPECT_EQ(withSubject->GetValue("/Subject")->AsName()->Text(), "(\xFE\xFF\\(\\)\0\\\\\\r\\n)"s);
}

TEST(DocumentInfo, JapaneseAndTextOutsideCodePage932RoundTrip) {
  auto d = TzoPDFDocument::Create();
  const std::u16string texts[] = {u"日本語のタイトル", u"한국어 \U0001F600 Ελληνικά", u"半角ｶﾅ～−"};
  for (const std::u16string& t : texts) {
    d->Info().SetTitle(t);
    d->Info().SetKeywords(t);
    EXPECT_EQ(d->Info().Title(), t);
    auto out = d->Info().OutputDict();
    // What is written reads back as the same text.
    EXPECT_EQ(d->DecodeTextString(out->GetValue("/Title")->AsName()->Text()), t);
    EXPECT_EQ(d->DecodeTextString(out->GetValue("/Keywords")->AsName()->Text()), t);
  }
}

TEST(DocumentInfo, ValuesReadFromAFile) {
  PdfBuilder b = OnePage();
  b.Add(
      "<< /Title <FEFF00410042> /Author (Hello) /Subject (\\376\\377\\000a\\000\\(\\000b) "
      "/Keywords <48692E> /Creator 12 /CreationDate (D:20240501093000) /ModDate <443A32> >>");
  b.trailerExtra = "/Info 5 0 R";
  sv::test::TempDir dir;
  sv::test::WriteFile(dir / "info.pdf", b.Build());
  Loaded l = Load(dir / "info.pdf");
  ASSERT_TRUE(l.ok) << l.error;
  const TzoPDFInfo& info = l.doc->Info();
  EXPECT_EQ(info.Title(), u"AB");
  EXPECT_EQ(info.Author(), u"Hello");
  // Escapes were resolved by the reader once: "\(" is a parenthesis, not an escape again.
  EXPECT_EQ(info.Subject(), u"a(b");
  EXPECT_EQ(info.Keywords(), u"Hi.");
  EXPECT_EQ(info.Creator(), u"");
  EXPECT_EQ(info.CreationDate(), "D:20240501093000");
  EXPECT_EQ(info.ModDate(), "D:2");
  // Values set later win over the file's, and only they are re-encoded.
  l.doc->Info().SetAuthor(u"New");
  auto out = l.doc->Info().OutputDict();
  EXPECT_EQ(WrittenBytes(*out, "/Author"), "\xFE\xFF\0N\0e\0w"s);
  EXPECT_TRUE(out->GetValue("/Title")->AsString());
}

TEST(DocumentInfo, DecodeTextStringForms) {
  auto d = TzoPDFDocument::Create();
  struct Case {
    std::string text;
    std::u16string expected;
  } cases[] = {
      {"()", u""},
      {"<>", u""},
      {"(Hello)", u"Hello"},
      {"<FEFF00410042>", u"AB"},
      {"(\xFE\xFF\x00\x41.\x00\x42)"s, u"AB"},  // a "." at the start of a step is skipped
      {"(\\376\\377\\000A)", u"A"},
      {"(\xFE\xFF\x00\x41\x00\x00\x00\x42)"s, u"A"},  // ends at a unit 0
  };
  for (const Case& c : cases)
    EXPECT_EQ(d->DecodeTextString(c.text), c.expected) << c.text;
}

// ---- Encryption on output ----

std::string Decrypt(const TzoPDFEncryption& e, const std::string& data, int32_t objectNumber) {
  return e.EncryptData(data, objectNumber, 0);  // RC4 is its own inverse
}

TEST(OutputEncryption, InformationIsEncryptedWithTheSettingsOfTheSave) {
  auto d = TzoPDFDocument::Create();
  // Information first, encryption afterwards: the order no longer matters.
  d->Info().SetTitle(u"Secret");
  d->Encryption().SetEnabled(true);
  d->Encryption().SetLevel(el128bit);
  d->Encryption().SetUserPassword("u");
  d->Encryption().SetOwnerPassword("o");
  d->CreateEncryptor();
  auto out = d->Info().OutputDict();
  std::string written = WrittenBytes(*out, "/Title");
  EXPECT_NE(written, "\xFE\xFF\0S\0e\0c\0r\0e\0t"s);
  EXPECT_EQ(Decrypt(*d->Encryptor(), written, 2), "\xFE\xFF\0S\0e\0c\0r\0e\0t"s);

  // New passwords for a second save give new keys.
  const std::string firstO = d->Encryptor()->GetOwnerKey();
  d->Encryption().SetOwnerPassword("other");
  d->CreateEncryptor();
  EXPECT_NE(d->Encryptor()->GetOwnerKey(), firstO);
  std::string second = WrittenBytes(*d->Info().OutputDict(), "/Title");
  EXPECT_EQ(Decrypt(*d->Encryptor(), second, 2), "\xFE\xFF\0S\0e\0c\0r\0e\0t"s);

  // Switched off: plain texts.
  d->Encryption().SetEnabled(false);
  EXPECT_EQ(WrittenBytes(*d->Info().OutputDict(), "/Title"), "\xFE\xFF\0S\0e\0c\0r\0e\0t"s);
}

TEST(OutputEncryption, EveryFileGetsItsOwnIdentifier) {
  auto make = [] {
    auto d = TzoPDFDocument::Create();
    d->Encryption().SetEnabled(true);
    d->Encryption().SetUserPassword("same");
    d->Info().SetCreationDate("2024/05/01 09:30");
    d->CreateEncryptor();
    d->BuildEncryptDict();
    return d;
  };
  // Same passwords and the same creation date, made within one second.
  auto a = make();
  auto b = make();
  ASSERT_NE(a->Trailer().ID(), nullptr);
  const std::string idA = a->Trailer().ID()->GetItem(0)->AsString()->Text();
  const std::string idB = b->Trailer().ID()->GetItem(0)->AsString()->Text();
  EXPECT_NE(idA, idB);
  EXPECT_NE(a->Encryptor()->GetKey(), b->Encryptor()->GetKey());
  // With the random bytes fixed the identifiers are equal: nothing else tells them apart.
  TzoCustomPDFDocument::SetFileIDRandomSource(
      [](void* buffer, size_t length) { std::memset(buffer, 7, length); });
  auto c = make();
  auto e = make();
  TzoCustomPDFDocument::SetFileIDRandomSource(nullptr);
  EXPECT_EQ(c->Trailer().ID()->GetItem(0)->AsString()->Text(),
            e->Trailer().ID()->GetItem(0)->AsString()->Text());
  // The identifier is MD5 of the seed, the creation date and the random bytes.
  TMD5Digest md5 = Md5("Output1.pdf2024/05/01 09:30" + std::string(16, '\7'));
  EXPECT_EQ(c->Trailer().ID()->GetItem(0)->AsString()->Text(),
            "<" + StrToHex(std::string(md5.begin(), md5.end())) + ">");
}

TEST(OutputEncryption, EncryptionDictionaryEntries) {
  for (TzoPDFEncryptionLevel level : {el40bit, el128bit}) {
    auto d = TzoPDFDocument::Create();
    d->Encryption().SetEnabled(true);
    d->Encryption().SetLevel(level);
    d->Encryption().SetOwnerPassword("owner");
    d->CreateEncryptor();
    auto dict = d->BuildEncryptDict();
    ASSERT_EQ(dict->Count(), 7);
    const char* keys[] = {"/Filter", "/O", "/U", "/P", "/V", "/R", "/Length"};
    for (int i = 0; i < 7; ++i)
      EXPECT_EQ(dict->GetKeyAt(i)->Text(), keys[i]);
    EXPECT_EQ(dict->GetValue("/Filter")->AsName()->Text(), "/Standard");
    EXPECT_EQ(dict->GetValue("/O")->AsName()->Text().size(), 66u);
    EXPECT_EQ(dict->GetValue("/V")->AsInteger()->Value(), level == el128bit ? 2 : 1);
    EXPECT_EQ(dict->GetValue("/R")->AsInteger()->Value(), level == el128bit ? 3 : 2);
    EXPECT_EQ(dict->GetValue("/Length")->AsInteger()->Value(), level == el128bit ? 128 : 40);
    EXPECT_EQ(dict->GetValue("/P")->AsInteger()->Value(), d->Encryptor()->PermissionsToP());
    const TzoPDFArrayObject* id = d->Trailer().ID();
    ASSERT_EQ(id->Count(), 2);
    EXPECT_EQ(id->GetItem(0)->AsString()->Text(), id->GetItem(1)->AsString()->Text());
    EXPECT_TRUE(id->GetItem(0)->AsString()->IsHex());
    EXPECT_EQ(id->GetItem(0)->AsString()->Text().size(), 34u);
  }
}

TEST(OutputEncryption, EncryptStringKeepsLengthAndMakesTheEncryptorOnDemand) {
  auto d = TzoPDFDocument::Create();
  d->Encryption().SetEnabled(true);
  EXPECT_EQ(d->Encryptor(), nullptr);
  EXPECT_EQ(d->EncryptString("", 7), "");
  ASSERT_NE(d->Encryptor(), nullptr);
  std::string c = d->EncryptString("hello", 7);
  EXPECT_EQ(c.size(), 5u);
  EXPECT_EQ(Decrypt(*d->Encryptor(), c, 7), "hello");
  EXPECT_NE(d->EncryptString("hello", 8), c);
}

TEST(OutputEncryption, TwoFilesSavedInOneSecondGetDifferentIdentifiersAndKeys) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("qpdf");
  sv::test::TempDir dir;
  std::string ids[2];
  for (int i = 0; i < 2; ++i) {
    auto d = TzoPDFDocument::Create();
    ASSERT_TRUE(d->LoadFromFile(sv::test::CorpusDir() + "peer/11-pages-with-labels.pdf"));
    d->SetShowSetupDialog(false);
    d->Encryption().SetEnabled(true);
    d->Encryption().SetLevel(el128bit);
    d->Encryption().SetUserPassword("user");
    d->Encryption().SetOwnerPassword("owner");
    d->Info().SetCreationDate("2024/05/01 09:30");
    d->Info().SetTitle(u"同じ設定");
    const std::string out = dir / ("out" + std::to_string(i) + ".pdf");
    d->SaveToFile(out, 2);
    // Read back with its password: the information and the identifier of the file.
    Loaded back = Load(out, "user");
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(back.doc->Info().Title(), u"同じ設定");
    ASSERT_NE(back.doc->Trailer().ID(), nullptr);
    ids[i] = back.doc->Trailer().ID()->GetItem(0)->AsString()->Text();
    sv::test::CommandResult q = sv::test::RunCommand({"qpdf", "--password=user", "--check", out});
    EXPECT_EQ(q.exitCode, 0) << q.out << q.err;
  }
  EXPECT_NE(ids[0], ids[1]);
}

// ---- A file saved as it was opened ----

// What qpdf --show-encryption --show-encryption-key tells of path opened with password.
struct Shown {
  std::string revision, p, key, supplied;  // supplied: "owner", "user" or ""
  bool encrypted = false;
};

Shown ShowEncryption(const std::string& path, const std::string& password) {
  sv::test::CommandResult r = sv::test::RunCommand(
      {"qpdf", "--show-encryption", "--show-encryption-key", "--password=" + password, path});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  Shown s;
  std::smatch m;
  s.encrypted = r.out.find("File is not encrypted") == std::string::npos;
  if (std::regex_search(r.out, m, std::regex("R = (\\S+)"))) s.revision = m[1];
  if (std::regex_search(r.out, m, std::regex("P = (\\S+)"))) s.p = m[1];
  if (std::regex_search(r.out, m, std::regex("Encryption key = (\\S+)"))) s.key = m[1];
  if (std::regex_search(r.out, m, std::regex("Supplied password is (owner|user) password")))
    s.supplied = m[1];
  return s;
}

// The first string of the trailer's /ID, as qpdf reads it.
std::string FirstFileID(const std::string& path, const std::string& password) {
  sv::test::CommandResult r =
      sv::test::RunCommand({"qpdf", "--show-object=trailer", "--password=" + password, path});
  std::smatch m;
  if (!std::regex_search(r.out, m, std::regex("/ID \\[ <([0-9a-f]*)>")))
    return "<none: " + r.out + r.err + ">";
  return m[1];
}

// A two-page file encrypted by qpdf with RC4 of bits (40 or 128), printing not allowed.
std::string QpdfEncrypted(const sv::test::TempDir& dir, const std::string& bits) {
  PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 300 200] >>");
  b.Add("<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>");
  b.Add("<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>");
  const std::string content = "0 0 1 rg 10 10 20 20 re f";
  b.Add("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  sv::test::WriteFile(dir / "plain.pdf", b.Build());
  const std::string out = dir / ("rc4-" + bits + ".pdf");
  std::vector<std::string> argv = {"qpdf", "--allow-weak-crypto", "--encrypt", "USER", "OWNER",
                                   bits};
  argv.push_back(bits == "40" ? "--print=n" : "--print=none");
  if (bits == "128") argv.push_back("--use-aes=n");
  argv.insert(argv.end(), {"--", dir / "plain.pdf", out});
  sv::test::CommandResult r = sv::test::RunCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return out;
}

// A text stamp over every page of doc.
void StampPages(TzoCustomPDFDocument& doc) {
  TzoTextWatermarkTemplate t;
  t.Text = u"Kept <%PageNo%>";
  t.Font.SetName("Arial");
  t.Font.SetSize(12);
  t.HorizontalPosition = 1;
  t.VerticalPosition = 1;
  t.Layer = 1;
  doc.InsertWatermark(t, "");
}

}  // namespace

// An RC4 file opened with either of its passwords, stamped and saved without a change to its
// security settings, is encrypted as it was: the same key, revision, /P and first /ID string,
// so that its owner password and its user password open the output as they opened the file.
TEST(OutputEncryption, AFileSavedWithItsSettingsUntouchedKeepsItsPasswords) {
  if (!sv::test::HasCommand("qpdf")) GTEST_SKIP() << "qpdf not installed";
  SV_REQUIRE_TEST_FONTS();
  for (const std::string bits : {"40", "128"}) {
    for (const std::string opened : {"USER", "OWNER"}) {
      SCOPED_TRACE(bits + "-bit file opened with " + opened);
      sv::test::TempDir dir;
      const std::string in = QpdfEncrypted(dir, bits);
      const Shown before = ShowEncryption(in, "OWNER");
      ASSERT_EQ(before.supplied, "owner");
      Loaded l = Load(in, opened);
      ASSERT_TRUE(l.ok) << l.error;
      EXPECT_EQ(l.doc->Encryption().CanChange(), opened == "OWNER");
      l.doc->SetShowSetupDialog(false);
      StampPages(*l.doc);
      const std::string out = dir / "out.pdf";
      ASSERT_TRUE(l.doc->SaveToFile(out, 2));

      for (const std::string password : {"OWNER", "USER"}) {
        SCOPED_TRACE("judged with " + password);
        const Shown after = ShowEncryption(out, password);
        EXPECT_EQ(after.supplied, password == "OWNER" ? "owner" : "user");
        EXPECT_EQ(after.revision, before.revision);
        EXPECT_EQ(after.p, before.p);
        EXPECT_EQ(after.key, before.key);
        EXPECT_EQ(sv::test::QpdfCheck(out, password), "");
      }
      EXPECT_EQ(ShowEncryption(out, "wrong").supplied, "");
      EXPECT_EQ(FirstFileID(out, "USER"), FirstFileID(in, "USER"));
      const std::optional<std::string> text = sv::test::PdfText(out, "USER");
      ASSERT_TRUE(text);
      EXPECT_NE(text->find("Kept 2"), std::string::npos) << *text;
    }
  }
}

// Settings changed after the load are the ones the output gets: new passwords, permissions or
// level, or no encryption at all; a setter called with the value already there counts as a
// change too.
TEST(OutputEncryption, SettingsChangedAfterTheLoadAreTheOnesSaved) {
  if (!sv::test::HasCommand("qpdf")) GTEST_SKIP() << "qpdf not installed";
  struct Case {
    const char* what;
    std::function<void(TzoPDFEncryptionSettings&)> change;
    std::string owner, user;  // the passwords of the output ("" user: none)
    bool encrypted;
    std::string revision;
  };
  const Case cases[] = {
      {"new passwords",
       [](TzoPDFEncryptionSettings& e) {
         e.SetOwnerPassword("NEWOWNER");
         e.SetUserPassword("NEWUSER");
       },
       "NEWOWNER", "NEWUSER", true, "3"},
      {"40 bits", [](TzoPDFEncryptionSettings& e) { e.SetLevel(el40bit); }, "OWNER", "USER", true,
       "2"},
      {"permissions", [](TzoPDFEncryptionSettings& e) { e.SetUserPermissions({AllowCopy}); },
       "OWNER", "USER", true, "3"},
      {"the same owner password set again",
       [](TzoPDFEncryptionSettings& e) { e.SetOwnerPassword(e.OwnerPassword()); }, "OWNER", "USER",
       true, "3"},
      {"switched off", [](TzoPDFEncryptionSettings& e) { e.SetEnabled(false); }, "", "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sv::test::TempDir dir;
    const std::string in = QpdfEncrypted(dir, "128");
    const Shown before = ShowEncryption(in, "OWNER");
    Loaded l = Load(in, "OWNER");
    ASSERT_TRUE(l.ok) << l.error;
    l.doc->SetShowSetupDialog(false);
    c.change(l.doc->Encryption());
    const std::string out = dir / "out.pdf";
    ASSERT_TRUE(l.doc->SaveToFile(out, 2));
    const Shown after = ShowEncryption(out, c.owner);
    EXPECT_EQ(after.encrypted, c.encrypted);
    EXPECT_EQ(sv::test::QpdfCheck(out, c.owner), "");
    if (!c.encrypted) continue;
    EXPECT_EQ(after.supplied, "owner");
    EXPECT_EQ(after.revision, c.revision);
    EXPECT_EQ(ShowEncryption(out, c.user).supplied, "user");
    // A handler of its own: another file identifier, another key.
    EXPECT_NE(after.key, before.key);
    EXPECT_NE(FirstFileID(out, c.owner), FirstFileID(in, "OWNER"));
    if (std::string(c.what) == "permissions") {
      EXPECT_NE(after.p, before.p);
    }
    if (c.owner != "OWNER") {
      EXPECT_EQ(ShowEncryption(out, "OWNER").supplied, "");
    }
  }
}
