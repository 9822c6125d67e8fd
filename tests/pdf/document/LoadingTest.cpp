// Loading a file: the corpus against pdfinfo and qpdf, the password loop and the state a load
// leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>

#include "pdf/core/zoPDFCrypt.h"
#include "tests/pdf/document/DocTestSupport.h"

using namespace doctest;

namespace {

TEST(Loading, CorpusPageCountsEqualPdfinfo) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("pdfinfo");
  std::set<std::string> compared;
  for (const std::string& f : AllCorpusFiles()) {
    const std::string pw = PasswordFromName(f);
    Loaded l = Load(f, pw);
    if (!l.ok) continue;  // refused files are judged by their own tests
    sv::test::CommandResult info = sv::test::RunCommand({"pdfinfo", "-opw", pw, f});
    std::smatch m;
    if (info.exitCode != 0) {
      // A file pdfinfo cannot open (a bad key length) is counted by qpdf.
      info = sv::test::RunCommand({"qpdf", "--password=" + pw, "--show-npages", f});
      ASSERT_EQ(info.exitCode, 0) << f;
      info.out = "Pages: " + info.out;
    }
    ASSERT_TRUE(std::regex_search(info.out, m, std::regex("Pages: *([0-9]+)"))) << f;
    EXPECT_EQ(l.doc->PageCount(), std::stoi(m[1])) << f;
    compared.insert(CorpusName(f));
  }
  ExpectCovered(compared, LoadingCorpusFiles());
}

// The outline tree as indented titles. A title that is neither UTF-16 nor ASCII is read in the
// ANSI code page, where qpdf reads PDFDocEncoding: such a title matches any ("*").
void OutlineText(const TzoPDFOutline* item, int depth, std::string& out) {
  for (; item; item = item->Next()) {
    const TzoPDFObject* t = item->Dict() ? item->Dict()->GetValue("/Title") : nullptr;
    std::string title;
    if (t && t->AsString()) {
      std::string bytes = PDFStringBytes(*t->AsString());
      bool unicode = bytes.rfind("\xFE\xFF", 0) == 0;
      bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > 0; });
      title = unicode || ascii ? Utf8(TzoCustomPDFDocument::TextStringOf(*t->AsString())) : "*";
    }
    out += std::string(depth * 2, ' ') + title + "\n";
    OutlineText(item->First(), depth + 1, out);
  }
}

// Line by line equality, "*" in ours matching any title.
bool SameOutlines(const std::string& ours, const std::string& theirs) {
  std::istringstream a(ours), b(theirs);
  std::string la, lb;
  for (;;) {
    bool ga = static_cast<bool>(std::getline(a, la)), gb = static_cast<bool>(std::getline(b, lb));
    if (ga != gb) return false;
    if (!ga) return true;
    size_t ia = la.find_first_not_of(' '), ib = lb.find_first_not_of(' ');
    if (ia != ib) return false;
    if (la.substr(ia == std::string::npos ? la.size() : ia) != "*" && la != lb) return false;
  }
}

void OutlineText(const Json& items, int depth, std::string& out) {
  for (const Json& item : items.items) {
    out += std::string(depth * 2, ' ') + item.Str("title") + "\n";
    if (const Json* kids = item.Get("kids")) OutlineText(*kids, depth + 1, out);
  }
}

TEST(Loading, CorpusOutlinesAndFormFieldsEqualQpdf) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("qpdf");
  std::set<std::string> outlines, forms;
  for (const std::string& f : AllCorpusFiles()) {
    const std::string pw = PasswordFromName(f);
    Loaded l = Load(f, pw);
    if (!l.ok || !l.warnings.empty()) continue;
    sv::test::CommandResult q = sv::test::RunCommand(
        {"qpdf", "--password=" + pw, "--json", "--json-key=outlines", "--json-key=acroform", f});
    if (q.exitCode != 0 || !q.err.empty()) continue;
    Json json = JsonReader(q.out).Parse();

    std::string ours, theirs;
    if (l.doc->OutlineRoot()) OutlineText(l.doc->OutlineRoot()->First(), 0, ours);
    OutlineText(*json.Get("outlines"), 0, theirs);
    EXPECT_TRUE(SameOutlines(ours, theirs)) << f << "\n" << ours << "---\n" << theirs;
    if (!theirs.empty()) outlines.insert(CorpusName(f));

    // Fields: full name, type and value, each field once.
    std::set<std::string> expected, actual;
    for (const Json& field : json.Get("acroform")->Get("fields")->items) {
      std::string value = field.Str("value");
      if (value.rfind("u:", 0) == 0) value = value.substr(2);
      if (value.rfind("/", 0) == 0) value = value.substr(1);
      expected.insert(field.Str("fullname") + " " + field.Str("fieldtype") + " =" + value);
    }
    if (l.doc->FormFields())
      for (const auto& field : *l.doc->FormFields()) {
        static const char* kTypes[] = {"/Btn", "/Btn", "/Btn", "/Tx", "/Ch", "/Sig"};
        std::string value = field->Value;
        if (value.rfind("\xFE\xFF", 0) == 0) {
          std::u16string wide;
          for (size_t i = 2; i + 1 < value.size(); i += 2)
            wide += static_cast<char16_t>((static_cast<uint8_t>(value[i]) << 8) |
                                          static_cast<uint8_t>(value[i + 1]));
          value = Utf8(wide);
        }
        actual.insert(platform::AnsiToUtf8(field->FullName) + " " + kTypes[field->FieldType] +
                      " =" + value);
      }
    EXPECT_EQ(actual, expected) << f;
    if (!expected.empty()) forms.insert(CorpusName(f));
  }
  ExpectCovered(outlines, {
                              "docs/fontconfig-user.pdf",
                              "docs/gnucobol.pdf",
                              "docs/libtasn1.pdf",
                              "docs/nettle.pdf",
                              "docs/shared-mime-info-spec.pdf",
                              "docs/valgrind_manual.pdf",
                              "encrypted/rc4-128_u=_o=owner_noprint.pdf",
                              "encrypted/rc4-128_u=user_o=owner.pdf",
                              "encrypted/rc4-128_u=user_o=owner_big.pdf",
                              "encrypted/rc4-128_u=user_o=owner_objstm.pdf",
                              "encrypted/rc4-40_u=user_o=owner.pdf",
                              "peer/c-linearized.pdf",
                              "peer/direct-outlines.pdf",
                              "peer/enc-R2,V1,O=master.pdf",
                              "peer/enc-R2,V1,U=view,O=master.pdf",
                              "peer/enc-R2,V1.pdf",
                              "peer/enc-R3,V2,O=master.pdf",
                              "peer/enc-R3,V2,U=view,O=master.pdf",
                              "peer/enc-R3,V2.pdf",
                          });
  ExpectCovered(forms, {
                           "peer/form-fields-and-annotations.pdf",
                           "peer/form-filled-by-acrobat.pdf",
                       });
}

// ---- The password loop ----

TEST(Loading, PasswordLoop) {
  SV_REQUIRE_CORPUS();
  const std::string userFile = sv::test::CorpusDir() + "encrypted/rc4-128_u=user_o=owner.pdf";
  const std::string emptyUserFile =
      sv::test::CorpusDir() + "encrypted/rc4-128_u=_o=owner_noprint.pdf";
  struct Case {
    const char* what;
    std::string file;
    bool handler;
    std::vector<std::string> answers;  // one per call; Continue False after the last
    bool result;
    std::vector<int32_t> tries;
    bool owner;
  } cases[] = {
      {"no handler, empty user password", emptyUserFile, false, {}, true, {}, false},
      {"no handler, a user password", userFile, false, {}, false, {}, false},
      {"always wrong until Continue False",
       userFile,
       true,
       {"a", "b", "c"},
       false,
       {0, 1, 2, 3},
       false},
      {"right at the first try", userFile, true, {"owner"}, true, {0}, true},
      {"right at the third try", userFile, true, {"x", "y", "user"}, true, {0, 1, 2}, false},
      {"Continue False at once", userFile, true, {}, false, {0}, false},
      {"handler called even for an empty user password",
       emptyUserFile,
       true,
       {""},
       true,
       {0},
       false},
  };
  for (const Case& c : cases) {
    auto doc = TzoPDFDocument::Create();
    std::vector<int32_t> tries;
    if (c.handler) doc->OnPassword = PasswordAnswers(c.answers, &tries);
    bool ok = doc->LoadFromFile(c.file);
    EXPECT_EQ(ok, c.result) << c.what;
    EXPECT_EQ(tries, c.tries) << c.what;
    if (ok) {
      EXPECT_EQ(doc->IsOwner(), c.owner) << c.what;
      EXPECT_GT(doc->PageCount(), 0) << c.what;
      EXPECT_NO_THROW(doc->CheckCanSave()) << c.what;
    } else {
      EXPECT_EQ(doc->PageCount(), 0) << c.what;
      // A refused file can never be saved over with an empty document.
      if (doc->IsLoaded()) {
        EXPECT_THROW(doc->CheckCanSave(), EPDFException) << c.what;
      }
    }
  }
}

// ---- State after a load ----

TEST(Loading, EveryLoadStartsFreshAndAFailedOneLeavesNothing) {
  SV_REQUIRE_CORPUS();
  auto doc = TzoPDFDocument::Create();
  doc->OnPassword = PasswordAnswers({"owner", "owner"});
  ASSERT_TRUE(doc->LoadFromFile(sv::test::CorpusDir() + "encrypted/rc4-40_u=user_o=owner.pdf"));
  const int32_t first = doc->DocumentNumber();
  EXPECT_TRUE(doc->Encryption().Enabled());

  ASSERT_TRUE(doc->LoadFromFile(sv::test::CorpusDir() + "peer/11-pages-with-labels.pdf"));
  EXPECT_GT(doc->DocumentNumber(), first);
  EXPECT_EQ(doc->PageCount(), 11);
  EXPECT_FALSE(doc->IsEncrypted());
  EXPECT_FALSE(doc->Encryption().Enabled());
  EXPECT_EQ(doc->Decryptor(), nullptr);
  for (int32_t i = 0; i < doc->InputStore().Count(); ++i)
    EXPECT_EQ(doc->InputStore().GetItem(i)->DocumentNumber(), doc->DocumentNumber());

  ASSERT_TRUE(doc->LoadFromFile(sv::test::CorpusDir() + "encrypted/rc4-40_u=user_o=owner.pdf"));
  EXPECT_THROW(doc->LoadFromFile(sv::test::CorpusDir() + "peer/bad33.pdf"), EPDFFileCorruptedError);
  EXPECT_FALSE(doc->IsEncrypted());
  EXPECT_EQ(doc->Decryptor(), nullptr);
  EXPECT_FALSE(doc->Encryption().Enabled());
  EXPECT_FALSE(doc->IsLoaded());
  EXPECT_EQ(doc->PageCount(), 0);
  EXPECT_EQ(doc->InputStore().Count(), 0);
  EXPECT_TRUE(doc->XRefItems().empty());
  EXPECT_TRUE(doc->XRefStmItems().empty());
  EXPECT_EQ(doc->Trailer().RootNumber(), -1);
  EXPECT_EQ(doc->OutlineRoot(), nullptr);
}

TEST(Loading, FileNamesAndEvents) {
  SV_REQUIRE_CORPUS();
  sv::test::TempDir dir;
  sv::test::CopyFile(sv::test::CorpusDir() + "peer/11-pages-with-labels.pdf", dir / "doc.pdf");
  sv::test::CopyFile(sv::test::CorpusDir() + "peer/11-pages-with-labels.pdf", dir / "doc.txt");
  auto doc = TzoPDFDocument::Create();
  std::vector<std::string> events;
  doc->OnBeginRead = [&](rtl::TObject*) { events.push_back("begin"); };
  doc->OnEndRead = [&](rtl::TObject*) { events.push_back("end"); };
  doc->OnStatusMessage = [&](TzoCustomPDFDocument*, const std::string& m) {
    if (m.rfind("Document read", 0) == 0) events.push_back(m);
  };
  // A name without extension gets ".pdf"; any other extension is kept.
  EXPECT_TRUE(doc->LoadFromFile(dir / "doc"));
  EXPECT_EQ(doc->WorkFileName(), dir / "doc.pdf");
  EXPECT_EQ(doc->Filename(), dir / "doc.pdf");
  EXPECT_TRUE(doc->LoadFromFile(dir / "doc.txt"));
  EXPECT_EQ(doc->WorkFileName(), dir / "doc.txt");
  EXPECT_EQ(events,
            (std::vector<std::string>{"begin", "Document read complete. Pages read = 11", "end",
                                      "begin", "Document read complete. Pages read = 11", "end"}));

  try {
    doc->LoadFromFile(dir / "missing");
    ADD_FAILURE() << "no exception";
  } catch (const EFileNotFound& e) {
    EXPECT_EQ(std::string(e.what()), dir / "missing.pdf" + " File Not Found");
  }
  // Clearing the name does not unload; setting it loads.
  doc->SetFilename(dir / "doc.pdf");
  EXPECT_EQ(doc->PageCount(), 11);
  doc->SetFilename("");
  EXPECT_EQ(doc->Filename(), "");
  EXPECT_EQ(doc->PageCount(), 11);
}

TEST(Loading, LoopsInTheCorpusEndWithAWarning) {
  SV_REQUIRE_CORPUS();
  Loaded pages = Load(sv::test::CorpusDir() + "peer/pages-loop.pdf");
  ASSERT_TRUE(pages.ok) << pages.error;
  EXPECT_EQ(pages.doc->PageCount(), 1);
  ASSERT_EQ(pages.warnings.size(), 1u);
  EXPECT_NE(pages.warnings[0].find("more than once"), std::string::npos);

  Loaded outlines = Load(sv::test::CorpusDir() + "peer/outlines-with-loop.pdf");
  ASSERT_TRUE(outlines.ok) << outlines.error;
  ASSERT_EQ(outlines.warnings.size(), 1u);
  EXPECT_NE(outlines.warnings[0].find("loop is cut"), std::string::npos);
  // Every item is reached once.
  std::set<const TzoPDFOutline*> seen;
  std::vector<const TzoPDFOutline*> stack{outlines.doc->OutlineRoot()};
  while (!stack.empty()) {
    const TzoPDFOutline* it = stack.back();
    stack.pop_back();
    if (!it) continue;
    EXPECT_TRUE(seen.insert(it).second);
    stack.push_back(it->First());
    stack.push_back(it->Next());
  }
  EXPECT_EQ(static_cast<int32_t>(seen.size()), outlines.doc->OutlineCount());
}

TEST(Loading, NothingReadsTheFileAfterTheLoad) {
  PdfBuilder b = OnePage();
  sv::test::TempDir dir;
  sv::test::WriteFile(dir / "one.pdf", b.Build());
  auto doc = TzoPDFDocument::Create();
  std::vector<int32_t> progress;
  doc->OnIOProgress = [&](TzoCustomPDFDocument*, int32_t p) { progress.push_back(p); };
  ASSERT_TRUE(doc->LoadFromFile(dir / "one.pdf"));
  EXPECT_EQ(progress, (std::vector<int32_t>{10, 75, 30, 90, 60, 100}));
  // The file may be replaced at once (a save over it): the document holds all it needs.
  sv::test::WriteFile(dir / "one.pdf", "junk");
  auto page = doc->GetPage(1);
  ASSERT_EQ(page->Count(), 2);
  EXPECT_EQ(page->Item(1)->DirectObject()->AsStream()->Data()->ToString(), "0 0 m S\n");
}

}  // namespace

// ---- RC4 files of every revision and key length ----

namespace {

// A file made by tests/pdf/document/make_rc4_file.py (the published algorithms, not this
// library): one page, a title, passwords "user" and "owner".
std::string MakeRc4File(const sv::test::TempDir& dir, int revision, int lengthBits, int64_t p) {
  const std::string path = dir / ("r" + std::to_string(revision) + "-" +
                                  std::to_string(lengthBits) + "-" + std::to_string(p) + ".pdf");
  sv::test::CommandResult r = sv::test::RunCommand(
      {"/usr/bin/python3", sv::test::SourceDir() + "tests/pdf/document/make_rc4_file.py", path,
       std::to_string(revision), std::to_string(lengthBits), std::to_string(p), "user", "owner"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return path;
}

// The eight permissions in the words of qpdf --show-encryption.
const std::pair<TzoUserPermissionsType, const char*> kQpdfPermissionNames[] = {
    {AllowPrint, "print low resolution"},
    {AllowHighResPrint, "print high resolution"},
    {AllowModify, "modify other"},
    {AllowCopy, "extract for any purpose"},
    {AllowAnnotation, "modify annotations"},
    {AllowFormFill, "modify forms"},
    {AllowAccessibility, "extract for accessibility"},
    {AllowDocAssembly, "modify document assembly"},
};

}  // namespace

// Bits 9 to 12 of /P grant nothing below revision 3, and take nothing away: opened with the user
// password, a revision 2 file keeps the four upper permissions, whose use its four lower bits
// govern, and those four are what qpdf reads from the same file. From revision 3 on every bit
// counts: the eight are what qpdf reads (qpdf's high-resolution printing also needs printing,
// which the writer asks too; the set keeps bit 12 as the file has it).
TEST(Loading, PermissionsOfRevisionTwoAndThreeFilesAreWhatQpdfReads) {
  SV_REQUIRE_JUDGES("python3", "qpdf");
  sv::test::TempDir dir;
  const int64_t lowFour = 4 | 8 | 16 | 32;
  const int64_t highFour = 0x100 | 0x200 | 0x400 | 0x800;
  const int64_t base = ~(lowFour | highFour) | 0xC0;  // bits 7 and 8 and 13 up set
  std::vector<std::pair<int, int32_t>> cases;
  for (int revision : {2, 3})
    for (int64_t bits : {int64_t{0}, lowFour, highFour, lowFour | highFour, int64_t{4 | 0x800},
                         int64_t{4 | 16 | 0x200}, int64_t{8 | 32 | 0x100 | 0x400}, int64_t{16 | 32},
                         int64_t{4}, int64_t{0x800}})
      cases.push_back({revision, static_cast<int32_t>(base | bits)});
  const std::set<TzoUserPermissionsType> upper = {AllowFormFill, AllowAccessibility,
                                                  AllowDocAssembly, AllowHighResPrint};
  for (const auto& [revision, p] : cases) {
    SCOPED_TRACE("R " + std::to_string(revision) + ", P " + std::to_string(p));
    const std::string file = MakeRc4File(dir, revision, revision == 2 ? 40 : 128, p);
    sv::test::CommandResult q =
        sv::test::RunCommand({"qpdf", "--show-encryption", "--password=user", file});
    ASSERT_EQ(q.exitCode, 0) << q.err;
    ASSERT_NE(q.out.find("R = " + std::to_string(revision) + "\n"), std::string::npos) << q.out;
    auto doc = TzoPDFDocument::Create();
    doc->OnPassword = PasswordAnswers({"user"});
    ASSERT_TRUE(doc->LoadFromFile(file));
    EXPECT_FALSE(doc->IsOwner());
    const TzoUserPermissions ours = doc->Encryption().UserPermissions();
    std::string expected, got;
    for (const auto& [kind, name] : kQpdfPermissionNames) {
      const std::regex line(std::string("(^|\n)") + name + ": (allowed|not allowed)\n");
      std::smatch m;
      ASSERT_TRUE(std::regex_search(q.out, m, line)) << name << "\n" << q.out;
      bool allowed = m[2].str() == "allowed";
      if (revision == 2 && upper.count(kind)) allowed = true;
      if (revision >= 3 && kind == AllowHighResPrint) allowed = (p & 0x800) != 0;
      expected += std::string(name) + (allowed ? ": allowed\n" : ": not allowed\n");
      got += std::string(name) + (ours.Contains(kind) ? ": allowed\n" : ": not allowed\n");
    }
    EXPECT_EQ(got, expected);
    if (revision >= 3 && (p & 4)) {
      EXPECT_NE(q.out.find(std::string("print high resolution: ") +
                           ((p & 0x800) ? "allowed\n" : "not allowed\n")),
                std::string::npos)
          << q.out;
    }
  }
}

// Revision 3 with a key of 40 bits named by no /Length, of 40 bits named, and of other lengths:
// each opens with its user password and with its owner password, also after a wrong one, and its
// text and title read as pdftotext and pdfinfo read them.
TEST(Loading, RevisionThreeFilesOfEveryKeyLengthOpenWithEitherPassword) {
  SV_REQUIRE_JUDGES("python3", "pdfinfo", "pdftotext");
  sv::test::TempDir dir;
  for (int bits : {0, 40, 48, 64, 96, 120, 128}) {
    SCOPED_TRACE("/Length " + (bits ? std::to_string(bits) : std::string("missing")));
    const std::string file = MakeRc4File(dir, 3, bits, -4);
    // The outside judges open it with both passwords (qpdf takes a missing /Length for 128 bits,
    // so poppler judges).
    for (const char* option : {"-upw user", "-opw owner"}) {
      const std::string flag(option, 4), password(option + 5);
      sv::test::CommandResult t = sv::test::RunCommand({"pdftotext", flag, password, file, "-"});
      ASSERT_EQ(t.exitCode, 0) << option << t.err;
      ASSERT_NE(t.out.find("Hello"), std::string::npos) << option;
    }
    const struct {
      std::vector<std::string> answers;
      bool owner;
    } tries[] = {{{"user"}, false},
                 {{"owner"}, true},
                 {{"wrong owner", "owner"}, true},
                 {{"wrong owner", "user"}, false},
                 {{"ownerx", "use", "owner"}, true}};
    for (const auto& t : tries) {
      SCOPED_TRACE(t.answers.back() + " after " + std::to_string(t.answers.size() - 1));
      auto doc = TzoPDFDocument::Create();
      doc->OnPassword = PasswordAnswers(t.answers);
      ASSERT_TRUE(doc->LoadFromFile(file));
      EXPECT_EQ(doc->IsOwner(), t.owner);
      EXPECT_EQ(doc->PageCount(), 1);
      EXPECT_EQ(doc->Info().Title(), u"Encrypted title");
    }
    auto refused = TzoPDFDocument::Create();
    refused->OnPassword = PasswordAnswers({"nothing", "neither"});
    EXPECT_FALSE(refused->LoadFromFile(file));
  }
}
