// Document information texts and the encryption of output.
#include <gtest/gtest.h>

#include <cstring>

#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoUtils.h"
#include "tests/pdf/document/DocTestSupport.h"
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

}  // namespace
