// Document settings operations: page ranges, transitions, rotation, units, compression, e-mail.
#include <gtest/gtest.h>

#include "pdf/core/zoUtils.h"
#include "tests/pdf/document/DocTestSupport.h"

using namespace doctest;

namespace {

TEST(PageRange, Cases) {
  struct Case {
    std::string range;
    std::vector<int32_t> pages;  // empty: error expected
    std::string error;
  } cases[] = {
      {"", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, ""},
      {"-", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, ""},
      {"2,4-6", {2, 4, 5, 6}, ""},
      {"2 4-6", {2, 4, 5, 6}, ""},
      {"3,3", {3, 3}, ""},
      {"8-", {8, 9, 10}, ""},
      {"-3", {1, 2, 3}, ""},
      {" 1 , 10 ", {1, 10}, ""},
      {"\"2\",5", {2, 5}, ""},
      {"5-3", {}, "Invalid page range (5-3)"},
      {"8-12", {}, "Invalid page range (8-12)"},
      {"0-2", {}, "Invalid page range (0-2)"},
      {"11", {}, "Invalid page number (11)"},
      {"0", {}, "Invalid page number (0)"},
      {"1,a-3", {}, "Invalid page range (1,a-3)"},
      {"1,x", {}, "Invalid page range (1,x)"},
      {"1 - 5", {1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 5}, ""},  // three items; "-" is all pages
  };
  for (const Case& c : cases) {
    std::vector<int32_t> pages{99, 98};  // former content is replaced
    if (c.error.empty()) {
      TzoCustomPDFDocument::ParsePageRange(c.range, 10, pages);
      EXPECT_EQ(pages, c.pages) << "[" << c.range << "]";
      continue;
    }
    try {
      TzoCustomPDFDocument::ParsePageRange(c.range, 10, pages);
      ADD_FAILURE() << "[" << c.range << "] gave no error";
    } catch (const EInvalidPageError& e) {
      EXPECT_EQ(std::string(e.what()), c.error) << "[" << c.range << "]";
    }
  }
}

TEST(Transitions, DictionariesByEffect) {
  auto d = TzoPDFDocument::Create();
  struct Case {
    uint8_t effect;
    std::string entries;
  } cases[] = {
      {1, "/S /Split /Dm /H /M /I"},
      {2, "/S /Split /Dm /H /M /O"},
      {3, "/S /Split /Dm /V /M /I"},
      {4, "/S /Split /Dm /V /M /O"},
      {5, "/S /Blinds /Dm /H"},
      {6, "/S /Blinds /Dm /V"},
      {7, "/S /Box /M /I"},
      {8, "/S /Box /M /O"},
      {9, "/S /Wipe /Di 0"},
      {10, "/S /Wipe /Di 90"},
      {11, "/S /Wipe /Di 180"},
      {12, "/S /Wipe /Di 270"},
      {13, "/S /Dissolve"},
      {14, "/S /Glitter /Di 0"},
      {15, "/S /Glitter /Di 270"},
      {16, "/S /Glitter /Di 315"},
      {0, "/S /R"},
      {17, "/S /R"},
  };
  for (const Case& c : cases) {
    auto t = d->BuildTransition(c.effect, 2);
    ASSERT_GE(t->Count(), 3);
    EXPECT_EQ(t->GetKeyAt(0)->Text(), "/Type");
    EXPECT_EQ(t->GetValue("/Type")->AsName()->Text(), "/Trans");
    ASSERT_TRUE(t->GetValue("/D")->AsReal());
    EXPECT_EQ(t->GetValue("/D")->AsReal()->Value(), 2.0);
    std::string rest;
    for (int32_t i = 2; i < t->Count(); ++i) {
      const TzoPDFObject* v = t->GetValueAt(i);
      rest += (i > 2 ? " " : "") + t->GetKeyAt(i)->Text() + " " +
              (v->AsName() ? v->AsName()->Text() : v->AsInteger()->GetText());
    }
    EXPECT_EQ(rest, c.entries) << int(c.effect);
  }
}

Loaded FivePages() {
  PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R] /Count 5 /Rotate 90 >>");
  for (int i = 0; i < 5; ++i)
    b.Add(i == 1 ? "<< /Type /Page /Rotate 8 0 R >>" : "<< /Type /Page >>");
  b.Add("180");
  static sv::test::TempDir dir;
  sv::test::WriteFile(dir / "five.pdf", b.Build());
  return Load(dir / "five.pdf");
}

TEST(Transitions, AppliedToTheRangeOnly) {
  Loaded l = FivePages();
  ASSERT_TRUE(l.ok) << l.error;
  l.doc->ApplyTransitions("1-3", 9, 3);
  for (int p = 0; p < 5; ++p) {
    const TzoPDFDictObject* page = l.doc->Pages()[static_cast<size_t>(p)]->DirectObject()->AsDict();
    if (p < 3) {
      ASSERT_NE(page->GetValue("/Dur"), nullptr);
      EXPECT_EQ(page->GetValue("/Dur")->AsReal()->Value(), 3.0);
      EXPECT_EQ(page->GetValue("/Trans")->AsDict()->GetValue("/S")->AsName()->Text(), "/Wipe");
    } else {
      EXPECT_EQ(page->GetValue("/Dur"), nullptr);
      EXPECT_EQ(page->GetValue("/Trans"), nullptr);
    }
  }
  // Applied again: replaced, not added.
  l.doc->ApplyTransitions("1", 13, 1);
  const TzoPDFDictObject* first = l.doc->Pages()[0]->DirectObject()->AsDict();
  EXPECT_EQ(first->GetValue("/Trans")->AsDict()->GetValue("/S")->AsName()->Text(), "/Dissolve");
  int trans = 0;
  for (int32_t i = 0; i < first->Count(); ++i)
    trans += first->GetKeyAt(i)->Text() == "/Trans";
  EXPECT_EQ(trans, 1);
  EXPECT_THROW(l.doc->ApplyTransitions("4-9", 9, 1), EInvalidPageError);
}

TEST(PageRotation, InheritedThroughReferencesAndBounds) {
  Loaded l = FivePages();
  ASSERT_TRUE(l.ok) << l.error;
  EXPECT_EQ(l.doc->GetPageRotation(1), 90);   // inherited
  EXPECT_EQ(l.doc->GetPageRotation(2), 180);  // the page's own, through a reference
  auto empty = TzoPDFDocument::Create();
  for (int32_t bad : {0, 6}) {
    try {
      l.doc->GetPageRotation(bad);
      ADD_FAILURE() << bad;
    } catch (const EInvalidPageError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid page number (" + std::to_string(bad) + ")");
    }
  }
  PdfBuilder b = OnePage();
  sv::test::TempDir dir;
  sv::test::WriteFile(dir / "one.pdf", b.Build());
  Loaded one = Load(dir / "one.pdf");
  EXPECT_EQ(one.doc->GetPageRotation(1), 0);
}

TEST(Units, ConvertToPoints) {
  EXPECT_DOUBLE_EQ(TzoCustomPDFDocument::ConvertToPoints(muMM, 10), 28.3464);
  EXPECT_DOUBLE_EQ(TzoCustomPDFDocument::ConvertToPoints(muTwips, 20), 1);
  EXPECT_DOUBLE_EQ(TzoCustomPDFDocument::ConvertToPoints(muInches, 2), 144);
  EXPECT_DOUBLE_EQ(TzoCustomPDFDocument::ConvertToPoints(muPoints, 7.5), 7.5);
  EXPECT_DOUBLE_EQ(TzoCustomPDFDocument::ConvertToPoints(muPixels, ScreenPixelsPerInch()), 72);
}

TEST(DocumentSettings, CompressionAndEMailInfo) {
  auto d = TzoPDFDocument::Create();
  d->SetCompression(1, 0);
  EXPECT_TRUE(d->Compression().Enabled);
  EXPECT_EQ(d->Compression().Method, 1);
  EXPECT_EQ(d->Compression().Level, 0);
  // A reset switches compression off again.
  d->ClearAndReset();
  EXPECT_FALSE(d->Compression().Enabled);

  auto mail = std::make_unique<TzoEMailInfo>();
  EXPECT_EQ(mail->Port, 25);
  EXPECT_FALSE(mail->AuthenticationRequired);
  mail->Host = "smtp";
  mail->RecipientList()->Add("a@example.com");
  TzoEMailInfo* raw = mail.get();
  d->SetEMailInfo(std::move(mail));
  EXPECT_EQ(d->EMailInfo(), raw);
  EXPECT_EQ(d->EMailInfo()->RecipientList()->Count(), 1);
}

}  // namespace
