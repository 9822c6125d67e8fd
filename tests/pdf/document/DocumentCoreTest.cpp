#include <gtest/gtest.h>

#include "pdf/document/zoCstPDFDoc.h"
#include "pdf/document/zoPDFDoc.h"

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

}  // namespace
