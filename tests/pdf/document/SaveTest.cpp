// Saving a file: the name rule, the settings dialog, /NeedAppearances, status texts, opening the
// saved file, and a target that stays byte for byte as it was whatever fails (faults injected by
// a file-size limit that stops the writing after N bytes).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "pdf/core/zoPDFResStrs.h"
#include "tests/pdf/document/WriterTestSupport.h"
#include "ui/Shell.h"

using namespace sv::test;

namespace {

// A read document of one empty page.
std::unique_ptr<HandMadeDoc> OnePageDoc() {
  auto doc = NewHandMadeDoc();
  auto box = std::make_unique<TzoPDFArrayObject>();
  for (int v : {0, 0, 200, 100})
    box->AddInteger(v);
  auto page = std::make_unique<TzoPDFDictObject>();
  page->AddName("/Type", "/Page");
  page->AddObject("/MediaBox", std::move(box));
  doc->AddPage(doc->AddObject(4, std::move(page)));
  doc->MarkRead();
  doc->SetShowSetupDialog(false);
  return doc;
}

// Every name in a folder, hidden ones included.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Notes the files handed to the default program instead of starting it.
class RecordingShell : public ui::TShell {
 public:
  bool OpenDocument(const std::string& path) override {
    opened.push_back(path);
    return true;
  }
  std::vector<std::string> opened;
};

class RecordingDialog : public TzoBaseDlg {
 public:
  explicit RecordingDialog(int result) : result_(result) {}
  int ShowModal() override {
    ++shown;
    documentWhileShown = Document();
    return result_;
  }
  int shown = 0;
  TzoCustomPDFDocument* documentWhileShown = nullptr;

 private:
  int result_;
};

}  // namespace

TEST(SaveTest, NameGetsPdfUnlessItsExtensionIsPdfInAnyCase) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  TempDir tmp;
  std::filesystem::create_directory(tmp / "dir.pdf");
  struct Case {
    std::string given, written;
  } cases[] = {
      {"report", "report.pdf"},
      {"report.Pdf", "report.Pdf"},
      {"report.pdf.bak", "report.pdf.bak.pdf"},
      {"a.txt", "a.txt.pdf"},
      {"dir.pdf/x", "dir.pdf/x.pdf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    auto doc = OnePageDoc();
    std::vector<std::string> status;
    doc->OnStatusMessage = [&](TzoCustomPDFDocument*, const std::string& s) {
      status.push_back(s);
    };
    EXPECT_TRUE(doc->SaveToFile(tmp / c.given, 2));
    EXPECT_TRUE(FileExists(tmp / c.written));
    EXPECT_EQ(QpdfCheck(tmp / c.written), "");
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status.front(), "Saving File " + (tmp / c.written));
    EXPECT_EQ(status.back(), "Save Complete");
    EXPECT_EQ(status.size(), 6u);  // the writer's four texts in between
  }
}

// A file saved where there was none gets the mode of any newly created file (0666 less the
// umask), whatever the temporary file had while it was written; a file saved over keeps its own.
TEST(SaveTest, ModeOfANewFileAndOfAFileSavedOver) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  TempDir tmp;
  const struct {
    mode_t umask, before, after;  // before 0: no file there
  } cases[] = {
      {022, 0, 0644}, {077, 0, 0600},    {002, 0, 0664},
      {0, 0, 0666},   {022, 0640, 0640}, {077, 0604, 0604},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << "umask " << c.umask << ", before " << c.before);
    const std::string path = tmp / ("f" + std::to_string(n++) + ".pdf");
    if (c.before != 0) {
      WriteFile(path, "old");
      ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
    }
    const mode_t old = ::umask(c.umask);
    const bool saved = OnePageDoc()->SaveToFile(path, 2);
    ::umask(old);
    ASSERT_TRUE(saved);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.after);
    EXPECT_EQ(QpdfCheck(path), "");
  }
}

TEST(SaveTest, DocumentWhoseCatalogWasNotReadIsNotSaved) {
  TempDir tmp;
  auto doc = NewHandMadeDoc();
  doc->SetShowSetupDialog(false);
  WriteFile(tmp / "keep.pdf", "user's bytes");
  EXPECT_THROW(doc->SaveToFile(tmp / "keep.pdf", 2), EPDFException);
  EXPECT_EQ(ReadFile(tmp / "keep.pdf"), "user's bytes");
  EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"keep.pdf"});
}

TEST(SaveTest, FileOpenedWithoutItsPasswordIsNotSaved) {
  SV_REQUIRE_CORPUS();
  TempDir tmp;
  const std::string path = tmp / "locked.pdf";
  CopyFile(CorpusDir() + "encrypted/rc4-40_u=user_o=owner.pdf", path);
  const std::string before = ReadFile(path);
  auto doc = TzoCustomPDFDocument::Create();
  doc->SetShowSetupDialog(false);
  doc->LoadFromFile(path);  // no handler: the empty password is tried and refused
  EXPECT_EQ(doc->PageCount(), 0);
  EXPECT_THROW(doc->SaveToFile(path, 2), EPDFException);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"locked.pdf"});
}

TEST(SaveTest, SettingsDialogCanCancelTheSave) {
  TempDir tmp;
  {
    auto doc = OnePageDoc();
    RecordingDialog cancel(2);
    doc->SetSetupDialog(&cancel);
    doc->SetShowSetupDialog(true);
    bool statusSent = false;
    doc->OnStatusMessage = [&](TzoCustomPDFDocument*, const std::string&) { statusSent = true; };
    EXPECT_FALSE(doc->SaveToFile(tmp / "a.pdf", 2));
    EXPECT_EQ(cancel.shown, 1);
    EXPECT_EQ(cancel.documentWhileShown, doc.get());
    EXPECT_EQ(cancel.Document(), nullptr);
    EXPECT_FALSE(statusSent);
    EXPECT_FALSE(FileExists(tmp / "a.pdf"));
  }
  {
    auto doc = OnePageDoc();
    RecordingDialog ok(1);
    doc->SetSetupDialog(&ok);
    doc->SetShowSetupDialog(true);
    EXPECT_TRUE(doc->SaveToFile(tmp / "b.pdf", 2));
    EXPECT_EQ(ok.shown, 1);
    EXPECT_TRUE(FileExists(tmp / "b.pdf"));
    // Switched off, the dialog is not shown.
    doc->SetShowSetupDialog(false);
    EXPECT_TRUE(doc->SaveToFile(tmp / "c.pdf", 2));
    EXPECT_EQ(ok.shown, 1);
  }
  {
    // Without a dialog of its own the document uses the library's, when the program has one.
    auto doc = OnePageDoc();
    doc->SetShowSetupDialog(true);
    int made = 0;
    TzoCustomPDFDocument::SetSetupDialogFactory([&] {
      ++made;
      return std::make_unique<RecordingDialog>(2);
    });
    EXPECT_FALSE(doc->SaveToFile(tmp / "d.pdf", 2));
    TzoCustomPDFDocument::SetSetupDialogFactory({});
    EXPECT_EQ(made, 1);
    EXPECT_FALSE(FileExists(tmp / "d.pdf"));
    EXPECT_TRUE(doc->SaveToFile(tmp / "d.pdf", 2));  // no dialog in this program at all
  }
}

TEST(SaveTest, NeedAppearancesModes) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  TempDir tmp;
  struct Case {
    const char* name;
    int before;  // -1 no key, 0 false, 1 true, 2 a name (not a Boolean)
    uint8_t mode;
    const char* after;  // the text written, "" for no key
  } cases[] = {
      {"set true on a form without it", -1, 0, "true"},
      {"set false on a form without it", -1, 1, "false"},
      {"true to false", 1, 1, "false"},
      {"false to true", 0, 0, "true"},
      {"mode 2 leaves true", 1, 2, "true"},
      {"mode 2 leaves no key", -1, 2, ""},
      {"a name is replaced", 2, 0, "true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = OnePageDoc();
    auto form = std::make_unique<TzoPDFDictObject>();
    form->AddObject("/Fields", std::make_unique<TzoPDFArrayObject>());
    if (c.before == 0 || c.before == 1)
      form->AddObject("/NeedAppearances", std::make_unique<TzoPDFBooleanObject>(c.before == 1));
    if (c.before == 2) form->AddName("/NeedAppearances", "/Yes");
    TzoPDFIndirectObject* obj = doc->AddObject(9, std::move(form));
    doc->Catalog().SetAcroForm(doc->Ref(9));
    ASSERT_TRUE(doc->SaveToFile(tmp / "f.pdf", c.mode));
    CommandResult r =
        RunCommand({"qpdf", "--show-object=" + std::to_string(obj->OutputNumber()), tmp / "f.pdf"});
    if (*c.after)
      EXPECT_NE(r.out.find(std::string("/NeedAppearances ") + c.after), std::string::npos) << r.out;
    else
      EXPECT_EQ(r.out.find("/NeedAppearances"), std::string::npos) << r.out;
    EXPECT_EQ(QpdfCheck(tmp / "f.pdf"), "");
  }
  // A document without a form gets none.
  auto doc = OnePageDoc();
  ASSERT_TRUE(doc->SaveToFile(tmp / "g.pdf", 0));
  EXPECT_EQ(ReadFile(tmp / "g.pdf").find("/AcroForm"), std::string::npos);
}

TEST(SaveTest, AFailureAfterAnyNumberOfBytesLeavesTheTargetAsItWas) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext");
  TempDir tmp;
  const std::string target = tmp / "doc.pdf";
  const std::string old = "%PDF-1.4 the user's file, which must survive\n";
  WriteFile(target, old);
  auto doc = OnePageDoc();
  const size_t full = doc->WriteToString().size();
  for (size_t n : {size_t(0), size_t(1), size_t(17), size_t(100), full / 2, full - 1}) {
    SCOPED_TRACE("limit " + std::to_string(n));
    bool raised = false;
    {
      FileSizeLimit limit(n);
      try {
        doc->SaveToFile(target, 2);
      } catch (const rtl::EStreamError& e) {
        raised = true;
      }
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(ReadFile(target), old);
    EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"doc.pdf"});
  }
  // Room for the whole file: the save goes through.
  {
    FileSizeLimit limit(full);
    EXPECT_TRUE(doc->SaveToFile(target, 2));
  }
  EXPECT_EQ(ReadFile(target).size(), full);
  EXPECT_EQ(QpdfCheck(target), "");
  EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"doc.pdf"});
}

TEST(SaveTest, AWriterErrorOrAnUncreatableFileLeavesEverythingAsItWas) {
  TempDir tmp;
  const std::string target = tmp / "doc.pdf";
  WriteFile(target, "old bytes");
  auto doc = OnePageDoc();
  auto stream = std::make_unique<TzoPDFStreamObject>(std::make_unique<TzoPDFDictObject>());
  doc->AddObject(8, std::move(stream));  // a stream whose data was never read
  bool complete = false;
  doc->OnStatusMessage = [&](TzoCustomPDFDocument*, const std::string& s) {
    if (s == "Save Complete") complete = true;
  };
  EXPECT_THROW(doc->SaveToFile(target, 2), EPDFException);
  EXPECT_FALSE(complete);
  EXPECT_EQ(ReadFile(target), "old bytes");
  EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"doc.pdf"});

  auto fine = OnePageDoc();
  try {
    fine->SaveToFile(tmp / "no such folder/out.pdf", 2);
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const rtl::EFCreateError& e) {
    EXPECT_NE(e.Message().find(tmp / "no such folder/out.pdf"), std::string::npos) << e.Message();
  }
}

TEST(SaveTest, OpenAfterSaveHandsTheSavedFileToTheDefaultProgram) {
  RecordingShell shell;
  ui::TShell* previous = ui::SetShell(&shell);
  TempDir tmp;
  auto doc = OnePageDoc();
  EXPECT_TRUE(doc->SaveToFile(tmp / "quiet", 2));
  EXPECT_TRUE(shell.opened.empty());
  doc->SetOpenAfterSave(true);
  EXPECT_TRUE(doc->SaveToFile(tmp / "shown", 2));
  ui::SetShell(previous);
  EXPECT_EQ(shell.opened, std::vector<std::string>{tmp / "shown.pdf"});
}

TEST(SaveTest, SaveToStreamSavesAsSaveToFileDoesIntoTheCallersStream) {
  RecordingShell shell;
  ui::TShell* previous = ui::SetShell(&shell);
  TempDir tmp;
  auto doc = OnePageDoc();
  doc->SetOpenAfterSave(true);
  ASSERT_TRUE(doc->SaveToFile(tmp / "file.pdf", 2));
  std::vector<std::string> status;
  doc->OnStatusMessage = [&](TzoCustomPDFDocument*, const std::string& s) { status.push_back(s); };
  // The name stands for the file in the status texts only.
  rtl::TMemoryStream stream;
  EXPECT_TRUE(doc->SaveToStream(stream, "/somewhere/else.pdf", 2));
  ui::SetShell(previous);
  EXPECT_EQ(shell.opened, std::vector<std::string>{tmp / "file.pdf"});  // the file save only
  EXPECT_TRUE(stream.ToString() == ReadFile(tmp / "file.pdf"));
  ASSERT_EQ(status.size(), 6u);
  EXPECT_EQ(status.front(), "Saving File /somewhere/else.pdf");
  EXPECT_EQ(status.back(), "Save Complete");
  EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"file.pdf"});

  // A cancelled dialog and a document that was not read write nothing.
  RecordingDialog cancel(2);
  doc->SetSetupDialog(&cancel);
  doc->SetShowSetupDialog(true);
  rtl::TMemoryStream untouched;
  EXPECT_FALSE(doc->SaveToStream(untouched, "x.pdf", 2));
  EXPECT_EQ(cancel.shown, 1);
  auto unread = NewHandMadeDoc();
  unread->SetShowSetupDialog(false);
  EXPECT_THROW(unread->SaveToStream(untouched, "x.pdf", 2), EPDFException);
  EXPECT_EQ(untouched.Size(), 0);
}
