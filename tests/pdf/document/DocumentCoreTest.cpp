#include <gtest/gtest.h>

#include "pdf/document/zoCstPDFDoc.h"
#include "pdf/document/zoPDFDoc.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(DocumentCore, NewDocumentsGetConsecutiveNumbersAndResetTakesTheNextFree) {
  auto a = TzoCustomPDFDocument::Create();
  auto b = TzoCustomPDFDocument::Create();
  EXPECT_GT(a->DocumentNumber(), 100);
  EXPECT_EQ(b->DocumentNumber(), a->DocumentNumber() + 1);
  a->ClearAndReset();
  EXPECT_EQ(a->DocumentNumber(), b->DocumentNumber() + 1);
  EXPECT_EQ(TzoCustomPDFDocument::DocumentCounter(), a->DocumentNumber());
}

TEST(DocumentCore, DefaultsOfANewDocument) {
  auto d = TzoCustomPDFDocument::Create();
  EXPECT_EQ(d->PageCount(), 0);
  EXPECT_TRUE(d->IsOwner());
  EXPECT_FALSE(d->IsLoaded());
  ASSERT_NE(d->ViewerPreferences(), nullptr);
  EXPECT_EQ(d->ViewerPreferences()->Dict()->Count(), 0);
  // The reset settles the level at 40 bits, unlike a fresh settings object.
  EXPECT_FALSE(d->Encryption().Enabled());
  EXPECT_EQ(d->Encryption().Level(), el40bit);
  EXPECT_EQ(d->Encryption().UserPermissions(), TzoUserPermissions::All());
  EXPECT_FALSE(d->Compression().Enabled);
  EXPECT_EQ(d->PDFVersion(), pvPDF14);
  EXPECT_EQ(d->LastObjectNumber(), 3);
  EXPECT_EQ(d->SaveStateObjectNumber(), -1);
  EXPECT_EQ(d->RestoreStateObjectNumber(), -1);
  EXPECT_TRUE(d->ShowSetupDialog());
  EXPECT_EQ(d->MergeOptions(), MergeOption(moIncludeOutlines) | MergeOption(moIncludeFormFields));
  EXPECT_EQ(d->MeasurementUnit(), muPixels);
  ASSERT_NE(d->EMailInfo(), nullptr);
  EXPECT_EQ(d->EMailInfo()->Port, 25);
  EXPECT_EQ(d->FormFields(), nullptr);
  EXPECT_EQ(d->NamedDestinations(), nullptr);
  EXPECT_EQ(d->OutlineRoot(), nullptr);
}

TEST(DocumentCore, TheApplicationsClassStartsLikeTheBase) {
  auto d = TzoPDFDocument::Create();
  EXPECT_EQ(d->DocumentNumber(), TzoCustomPDFDocument::DocumentCounter());
  EXPECT_FALSE(d->CustomRenderText());
  EXPECT_EQ(d->Encryption().Level(), el40bit);
  EXPECT_TRUE(d->ShowSetupDialog());
  EXPECT_EQ(d->PageCount(), 0);
}

TEST(DocumentCore, TheRenderTextSettingsChangeNothingInTheOutput) {
  SV_REQUIRE_CORPUS();
  sv::test::TempDir dir;
  const std::string input = sv::test::CorpusDir() + "peer/form-filled-by-acrobat.pdf";
  auto base = TzoCustomPDFDocument::Create();
  auto app = TzoPDFDocument::Create();
  app->SetCustomRenderText(true);
  app->OnRenderText = [](TzoCustomPDFDocument*, TzoTextInfo*, ui::TFontStyles&,
                         std::u16string& text, ui::TColor&) { text = u"changed"; };
  std::vector<std::string> baseStatus, appStatus;
  base->OnStatusMessage = [&](TzoCustomPDFDocument*, const std::string& m) {
    baseStatus.push_back(m);
  };
  app->OnStatusMessage = [&](TzoCustomPDFDocument*, const std::string& m) {
    appStatus.push_back(m);
  };
  for (TzoCustomPDFDocument* d : {static_cast<TzoCustomPDFDocument*>(base.get()),
                                  static_cast<TzoCustomPDFDocument*>(app.get())}) {
    ASSERT_TRUE(d->LoadFromFile(input));
    d->SetShowSetupDialog(false);
  }
  base->SaveToFile(dir / "base.pdf", 2);
  app->SaveToFile(dir / "app.pdf", 2);
  EXPECT_EQ(sv::test::ReadFile(dir / "base.pdf"), sv::test::ReadFile(dir / "app.pdf"));
  // The same events, apart from the file name in the save message.
  ASSERT_EQ(baseStatus.size(), appStatus.size());
  for (size_t i = 0; i < baseStatus.size(); ++i)
    if (baseStatus[i].rfind("Saving File", 0) != 0) {
      EXPECT_EQ(baseStatus[i], appStatus[i]);
    }
}

TEST(DocumentCore, TheApplicationsClassFreesItsFormFieldsOnceOnEveryClear) {
  SV_REQUIRE_CORPUS();
  const std::string input = sv::test::CorpusDir() + "peer/form-filled-by-acrobat.pdf";
  auto d = TzoPDFDocument::Create();
  ASSERT_TRUE(d->LoadFromFile(input));
  ASSERT_NE(d->FormFields(), nullptr);
  ASSERT_FALSE(d->FormFields()->empty());
  d->ClearAndReset();
  EXPECT_EQ(d->FormFields(), nullptr);
  // A second load frees the first one's fields, and the destructor the second one's, each once
  // (the sanitizer build finds a second free).
  ASSERT_TRUE(d->LoadFromFile(input));
  ASSERT_TRUE(d->LoadFromFile(input));
  EXPECT_FALSE(d->FormFields()->empty());
  d.reset();
}

}  // namespace
