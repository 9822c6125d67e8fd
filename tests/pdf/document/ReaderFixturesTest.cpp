// Small files of kinds that other readers take, and damaged ones (fixtures/reader, made by its
// make-fixtures.py by the rules of the PDF standard and of those readers): each opens as qpdf
// opens it and its rewrite holds by the judgement of qpdf, poppler and pdftoppm, or it is refused
// with its message.
#include <gtest/gtest.h>

#include "pdf/core/zoPDFUtils.h"
#include "tests/pdf/document/DocTestSupport.h"
#include "tests/pdf/document/WriterTestSupport.h"

using namespace doctest;

namespace {

std::string Fixture(const std::string& name) {
  return sv::test::SourceDir() + "tests/pdf/document/fixtures/reader/" + name;
}

// The passwords of the Japanese fixtures, in the code page that the library is given.
const std::string kJapaneseUser = platform::Utf8ToAnsi("利用者");
const std::string kJapaneseOwner = platform::Utf8ToAnsi("管理者");

enum Opened { kOwner, kUser, kRefused, kError };

struct Case {
  const char* file;
  std::string password;
  Opened opened;
  const char* message = nullptr;  // the error, or a warning that must be given
  const char* text = "Hello reader";
};

std::vector<Case> Cases() {
  return {
      {"prev-white-space.pdf", "", kOwner, nullptr, "Hello update"},
      {"prev-inside-number.pdf", "", kOwner, nullptr, "Hello update"},
      {"prev-white-space-table.pdf", "", kOwner, nullptr, "Hello update"},
      {"startxref-white-space.pdf", "", kOwner},
      {"tiff-predictor.pdf", "", kOwner},
      {"tiff-predictor-16bit.pdf", "", kOwner},
      {"png-predictor-colors.pdf", "", kOwner},
      {"fields-not-array.pdf", "", kOwner, "The form's /Fields is not an array"},
      {"rc4-r3-40.pdf", "owner", kOwner},
      {"rc4-r3-40.pdf", "user", kUser},
      {"rc4-r3-56.pdf", "owner", kOwner},
      {"rc4-r3-96.pdf", "owner", kOwner},
      {"rc4-r3-96.pdf", "user", kUser},
      {"rc4-r3-120.pdf", "owner", kOwner},
      {"rc4-r3-64-owner-rounds-16.pdf", "owner", kRefused},
      {"rc4-r3-64-owner-rounds-16.pdf", "user", kUser},
      {"rc4-utf8-passwords.pdf", kJapaneseOwner, kOwner},
      {"rc4-utf8-passwords.pdf", kJapaneseUser, kUser},
      {"rc4-cp932-passwords.pdf", kJapaneseOwner, kOwner},
      {"rc4-cp932-passwords.pdf", kJapaneseUser, kUser},
      {"predictor-undefined.pdf", "", kError, "Unsupported predictor (/Predictor 7)"},
      {"cut-off.pdf", "", kError, "Invalid PDF File"},
      {"startxref-nowhere.pdf", "", kError, "File is corrupted"},
  };
}

// What qpdf makes of a password: kOwner, kUser or kRefused. The password goes as the bytes the
// key of the file holds: UTF-8 for the UTF-8 file, code page 932 for the other.
Opened QpdfOpens(const std::string& file, const std::string& password) {
  std::string bytes = file == "rc4-cp932-passwords.pdf" ? password : platform::AnsiToUtf8(password);
  sv::test::CommandResult q =
      sv::test::RunCommand({"qpdf", "--show-encryption", "--password=" + bytes, Fixture(file)});
  if (q.out.find("Supplied password is owner password") != std::string::npos) return kOwner;
  if (q.out.find("Supplied password is user password") != std::string::npos) return kUser;
  return kRefused;
}

TEST(ReaderFixtures, EachOpensAsQpdfOpensItOrIsRefusedWithItsMessage) {
  SV_REQUIRE_JUDGES("qpdf");
  for (const Case& c : Cases()) {
    SCOPED_TRACE(std::string(c.file) + " with \"" + platform::AnsiToUtf8(c.password) + "\"");
    Loaded l = Load(Fixture(c.file), c.password);
    if (c.opened == kError) {
      EXPECT_EQ(l.error, c.message);
      EXPECT_FALSE(l.doc->IsLoaded());
      continue;
    }
    ASSERT_EQ(l.error, "");
    if (l.doc->IsEncrypted()) {
      EXPECT_EQ(QpdfOpens(c.file, c.password), c.opened);
    }
    if (c.opened == kRefused) {
      EXPECT_FALSE(l.ok);
      EXPECT_EQ(l.doc->PageCount(), 0);
      continue;
    }
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.doc->IsOwner(), c.opened == kOwner);
    ASSERT_EQ(l.doc->PageCount(), 1);
    // The page shows the newest content: the stream of the update, decrypted.
    auto page = l.doc->GetPage(1);
    std::string content;
    for (int32_t i = 1; i < page->Count(); ++i)
      if (const TzoPDFStreamObject* s = page->Item(i)->DirectObject()->AsStream())
        if (!s->Dict()->GetValue("/Type")) content += s->Data()->ToString();
    EXPECT_NE(content.find(std::string("(") + c.text + ")"), std::string::npos) << content;
    if (c.message) {
      ASSERT_EQ(l.warnings.size(), 1u);
      EXPECT_EQ(l.warnings[0].rfind(c.message, 0), 0u) << l.warnings[0];
    } else {
      EXPECT_EQ(l.warnings, std::vector<std::string>());
    }
  }
}

TEST(ReaderFixtures, AnOwnerOpenGivesTheUserPasswordInTheCodePage) {
  for (const char* file : {"rc4-utf8-passwords.pdf", "rc4-cp932-passwords.pdf"}) {
    SCOPED_TRACE(file);
    Loaded l = Load(Fixture(file), kJapaneseOwner);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.doc->Encryption().UserPassword(), kJapaneseUser);
    EXPECT_EQ(l.doc->Encryption().OwnerPassword(), kJapaneseOwner);
  }
}

TEST(ReaderFixtures, TheFormIsWrittenAsItWasWithoutFields) {
  Loaded l = Load(Fixture("fields-not-array.pdf"));
  ASSERT_TRUE(l.ok) << l.error;
  ASSERT_NE(l.doc->FormFields(), nullptr);
  EXPECT_TRUE(l.doc->FormFields()->empty());
  SV_REQUIRE_JUDGES("qpdf");
  sv::test::TempDir dir;
  l.doc->SetShowSetupDialog(false);
  ASSERT_TRUE(l.doc->SaveToFile(dir / "out.pdf", 2));
  // The form's /Fields still names the field (whose value is there), as qpdf reads it.
  sv::test::CommandResult q =
      sv::test::RunCommand({"qpdf", "--json", "--json-key=qpdf", dir / "out.pdf"});
  ASSERT_EQ(q.exitCode, 0) << q.err;
  Json json = JsonReader(q.out).Parse();
  const Json& objects = json.Get("qpdf")->items.at(1);
  auto value = [&](const std::string& ref) -> const Json* {
    const Json* o = objects.Get("obj:" + ref);
    return o ? o->Get("value") : nullptr;
  };
  const Json* catalog = value(objects.Get("trailer")->Get("value")->Str("/Root"));
  ASSERT_NE(catalog, nullptr);
  const Json* form = value(catalog->Str("/AcroForm"));
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->Str("/DA"), "u:/Helv 0 Tf 0 g");
  const Json* field = value(form->Str("/Fields"));
  ASSERT_NE(field, nullptr) << "/Fields is no reference to the field";
  EXPECT_EQ(field->Str("/T"), "u:name");
  EXPECT_EQ(field->Str("/V"), "u:Alice");
}

// Every fixture that opens, saved plain and with new RC4 passwords, holds against the input, or
// against a plain copy that qpdf made of an encrypted input and of the 16-bit TIFF predictor that
// poppler misreads. (A /Prev into "15 0 obj" makes qpdf and MuPDF take the stream for object 5,
// so no copy of theirs would do there; poppler reads that file as we do.)
TEST(ReaderFixtures, RewritesHoldByTheJudgementOfOtherReaders) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "python3", "../shared/tools");
  const std::string verify = sv::test::SharedToolsDir() + "verify-rewrite";
  sv::test::TempDir dir;
  int n = 0;
  for (const Case& c : Cases()) {
    if (c.opened != kOwner) continue;
    SCOPED_TRACE(c.file);
    std::string ref = Fixture(c.file);
    ++n;
    if (!c.password.empty() || std::string(c.file) == "tiff-predictor-16bit.pdf") {
      ref = dir / (std::to_string(n) + "-ref.pdf");
      std::vector<std::string> argv = {"qpdf", "--decrypt", "--object-streams=disable"};
      if (!c.password.empty())
        argv.push_back("--password=" + (std::string(c.file) == "rc4-cp932-passwords.pdf"
                                            ? c.password
                                            : platform::AnsiToUtf8(c.password)));
      argv.insert(argv.end(), {Fixture(c.file), ref});
      ASSERT_EQ(sv::test::RunCommand(argv).exitCode, 0);
    }
    Loaded l = Load(Fixture(c.file), c.password);
    ASSERT_TRUE(l.ok) << l.error;
    l.doc->SetShowSetupDialog(false);
    struct Out {
      const char* name;
      bool encrypt;
      std::string user, owner;  // UTF-8
    } outs[] = {{"plain", false, "", ""},
                {"rc4", true, "nu", "no"},
                {"rc4-japanese", true, "新しい", "持ち主"}};
    for (const Out& o : outs) {
      SCOPED_TRACE(o.name);
      l.doc->Encryption().SetEnabled(o.encrypt);
      l.doc->Encryption().SetLevel(el128bit);
      l.doc->Encryption().SetUserPassword(platform::Utf8ToAnsi(o.user));
      l.doc->Encryption().SetOwnerPassword(platform::Utf8ToAnsi(o.owner));
      const std::string out = dir / (std::to_string(n) + "-" + o.name + ".pdf");
      ASSERT_TRUE(l.doc->SaveToFile(out, 2));
      sv::test::CommandResult v = sv::test::RunCommand({verify, ref, out, o.user, o.owner});
      EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
    }
  }
}

}  // namespace
