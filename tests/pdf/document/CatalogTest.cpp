// The catalog walk: page tree and inherited attributes, page objects, viewer settings, named
// destinations, outlines built for output and form fields.
#include <gtest/gtest.h>

#include "tests/pdf/document/DocTestSupport.h"

using namespace doctest;

namespace {

Loaded LoadBuilt(PdfBuilder& b) {
  static int n = 0;
  static sv::test::TempDir dir;
  std::string path = dir / ("c" + std::to_string(++n) + ".pdf");
  sv::test::WriteFile(path, b.Build());
  return Load(path);
}

const TzoPDFDictObject& PageDict(const TzoCustomPDFDocument& d, int i) {
  return *d.Pages()[static_cast<size_t>(i)]->DirectObject()->AsDict();
}

std::string Text(const TzoPDFObject* o) {
  if (!o) return "nil";
  if (o->AsInteger()) return o->AsInteger()->GetText();
  if (o->AsName()) return o->AsName()->Text();
  if (o->AsArray()) {
    std::string s = "[";
    for (int32_t i = 0; i < o->AsArray()->Count(); ++i)
      s += (i ? " " : "") + Text(o->AsArray()->GetItem(i));
    return s + "]";
  }
  return "?";
}

// Catalog 1; root node 2 (MediaBox, Rotate 90) with kids 3 (a /Pages with its own MediaBox and
// Rotate 180) and 4 (a page); node 3 has pages 5 (own Rotate 270) and 6.
PdfBuilder ThreeLevels(const std::string& catalogExtra = "") {
  PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>");
  b.Add("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 3 /MediaBox [0 0 10 10] /Rotate 90 >>");
  b.Add("<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /Count 2 /MediaBox [0 0 20 20] >>");
  b.Add("<< /Type /Page /Parent 2 0 R /B [] >>");
  b.Add("<< /Type /Page /Parent 3 0 R /Rotate 270 >>");
  b.Add("<< /Type /Page /Parent 3 0 R /Annots [8 0 R] >>");
  b.Add("<< /Type /Pages >>");
  b.Add("<< /Type /Annot /Subtype /Link /P 6 0 R /Dest [4 0 R /Fit] >>");
  return b;
}

TEST(Catalog, PageTreeIsFlattenedWithInheritedAttributes) {
  PdfBuilder b = ThreeLevels();
  Loaded l = LoadBuilt(b);
  ASSERT_TRUE(l.ok) << l.error;
  const TzoCustomPDFDocument& d = *l.doc;
  ASSERT_EQ(d.PageCount(), 3);
  // Document order: 5, 6 (below node 3), then 4.
  EXPECT_EQ(d.Pages()[0]->ObjectNumber(), 5);
  EXPECT_EQ(d.Pages()[1]->ObjectNumber(), 6);
  EXPECT_EQ(d.Pages()[2]->ObjectNumber(), 4);
  // The parent's MediaBox wins over the grandparent's; a page's own Rotate wins.
  EXPECT_EQ(Text(PageDict(d, 0).GetValue("/MediaBox")), "[0 0 20 20]");
  EXPECT_EQ(Text(PageDict(d, 0).GetValue("/Rotate")), "270");
  EXPECT_EQ(Text(PageDict(d, 1).GetValue("/Rotate")), "90");
  EXPECT_EQ(Text(PageDict(d, 2).GetValue("/MediaBox")), "[0 0 10 10]");
  // No /Parent is kept (the writer sets the root); article beads stay; no page-tree node is kept.
  EXPECT_EQ(PageDict(d, 2).GetValue("/Parent"), nullptr);
  EXPECT_NE(PageDict(d, 2).GetValue("/B"), nullptr);
  for (int32_t i = 0; i < d.InputStore().Count(); ++i) {
    const TzoPDFDictObject* o = d.InputStore().GetItem(i)->DirectObject()->AsDict();
    EXPECT_FALSE(o && o->GetValue("/Type") && Text(o->GetValue("/Type")) == "/Pages");
  }
  for (const TzoPDFIndirectObject* p : d.Pages())
    EXPECT_GT(p->RefCount(), 0);
}

TEST(Catalog, GetPageCopiesThePageAndWhatItUsesButNoOtherPage) {
  PdfBuilder b = ThreeLevels();
  Loaded l = LoadBuilt(b);
  ASSERT_TRUE(l.ok) << l.error;
  auto list = l.doc->GetPage(2);  // page 6, whose annotation points to page 4
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Item(0)->ObjectNumber(), 6);
  EXPECT_EQ(list->Item(1)->ObjectNumber(), 8);
  EXPECT_NE(list->Item(0), l.doc->Pages()[1]);  // a copy
  for (int bad : {0, 4}) {
    try {
      l.doc->GetPage(bad);
      ADD_FAILURE() << bad;
    } catch (const EInvalidPageError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid page number (" + std::to_string(bad) + ")");
    }
  }
}

TEST(Catalog, MalformedPageTrees) {
  struct Case {
    const char* what;
    std::string node2;
    std::string error;
    int pages;
    size_t warnings;
  } cases[] = {
      {"a node without /Type", "<< /Kids [3 0 R] /Count 1 >>", "Unexpected Error", 0, 0},
      {"a node of another type", "<< /Type /Catalog /Kids [3 0 R] >>", "Unexpected Error", 0, 0},
      {"a missing kid", "<< /Type /Pages /Kids [3 0 R 9 0 R] /Count 2 >>", "File is corrupted", 0,
       0},
      {"a kid listed twice", "<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>", "", 1, 1},
      {"a node that is its own kid", "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 1 >>", "", 1, 1},
  };
  for (const Case& c : cases) {
    PdfBuilder b = OnePage();
    b.bodies[1] = c.node2;
    Loaded l = LoadBuilt(b);
    EXPECT_EQ(l.error, c.error) << c.what;
    EXPECT_EQ(l.doc->PageCount(), c.pages) << c.what;
    EXPECT_EQ(l.warnings.size(), c.warnings) << c.what;
  }
}

TEST(Catalog, PageModeLayoutAndViewerPreferences) {
  struct Case {
    const char* entries;
    TzoPageMode mode;
    TzoPageLayout layout;
  } cases[] = {
      {"/PageMode /UseOutlines /PageLayout /TwoColumnRight", pmUseOutlines, plTwoColumnRight},
      {"/PageMode /UseAttachments /PageLayout /SinglePage", pmUseAttachments, plSinglePage},
      {"/PageMode /UseOC /PageLayout /TwoPageLeft", pmNone, plNone},
      {"/PageMode /useoutlines", pmNone, plNone},
      {"", pmNone, plNone},
  };
  for (const Case& c : cases) {
    PdfBuilder b = OnePage();
    b.bodies[0] = std::string("<< /Type /Catalog /Pages 2 0 R ") + c.entries +
                  " /ViewerPreferences << /HideToolbar true /FitWindow false >> >>";
    Loaded l = LoadBuilt(b);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.doc->PageMode(), c.mode) << c.entries;
    EXPECT_EQ(l.doc->PageLayout(), c.layout) << c.entries;
    EXPECT_TRUE(l.doc->ViewerPreferences()->HideToolbar());
    EXPECT_FALSE(l.doc->ViewerPreferences()->FitWindow());
  }
}

TEST(Catalog, NamedDestinationsAndEverythingTheCatalogReachesAreCounted) {
  PdfBuilder b = OnePage();
  b.bodies[0] =
      "<< /Type /Catalog /Pages 2 0 R /Names 5 0 R /OpenAction 9 0 R /AcroForm << /Fields [] >> >>";
  b.Add("<< /Dests 6 0 R /JavaScript 10 0 R >>");       // 5
  b.Add("<< /Kids [7 0 R 8 0 R] >>");                   // 6
  b.Add("<< /Names [(a) [3 0 R /Fit] (b) 11 0 R] >>");  // 7
  b.Add("<< /Names [(c) null] /Kids [6 0 R] >>");       // 8: loops back
  b.Add("<< /S /GoTo /D [3 0 R /XYZ 0 0 0] >>");        // 9
  b.Add("<< /Names [] >>");                             // 10
  b.Add("<< /D [3 0 R /FitH 5] >>");                    // 11
  Loaded l = LoadBuilt(b);
  ASSERT_TRUE(l.ok) << l.error;
  const auto* dests = l.doc->NamedDestinations();
  ASSERT_NE(dests, nullptr);
  ASSERT_EQ(dests->size(), 2u);
  EXPECT_EQ((*dests)[0].Name, "a");
  EXPECT_EQ(Text((*dests)[0].Destination.get()), "[? /Fit]");
  EXPECT_EQ((*dests)[1].Name, "b");
  EXPECT_EQ(Text((*dests)[1].Destination.get()), "[? /FitH 5]");
  ASSERT_NE(l.doc->FindNamedDestination("b"), nullptr);
  EXPECT_EQ(l.doc->FindNamedDestination("(b)"), nullptr);
  EXPECT_EQ(l.warnings.size(), 1u);  // the tree's loop
  // Everything the catalog keeps is written: every reached object has a use count.
  for (int n : {5, 6, 7, 8, 9, 10, 11}) {
    int32_t i = l.doc->InputStore().IndexOf(l.doc->DocumentNumber(), n, 0);
    ASSERT_GE(i, 0) << n;
    EXPECT_GT(l.doc->InputStore().GetItem(i)->RefCount(), 0) << n;
  }
  // A direct form dictionary becomes an object of a number the file does not use.
  const TzoPDFObject* form = l.doc->Catalog().AcroForm();
  ASSERT_TRUE(form && form->AsReference());
  EXPECT_GE(form->AsReference()->ObjectNumber(), 12);
  EXPECT_EQ(l.doc->InputStore().Find(form)->RefCount(), 1);
}

// ---- Outlines ----

// Outline dictionary 5 with items 6 (closed, children 7 and 8) and 9; item 8 points to page 3.
PdfBuilder WithOutlines(const std::string& item9) {
  PdfBuilder b = OnePage();
  b.bodies[0] = "<< /Type /Catalog /Pages 2 0 R /Outlines 5 0 R >>";
  b.Add("<< /Type /Outlines /First 6 0 R /Last 9 0 R /Count 2 >>");
  b.Add(
      "<< /Title (One) /Parent 5 0 R /Next 9 0 R /First 7 0 R /Last 8 0 R /Count -2 "
      "/A 10 0 R >>");
  b.Add("<< /Title (One.a) /Parent 6 0 R /Next 8 0 R /Dest [3 0 R /Fit] >>");
  b.Add(
      "<< /Title <FEFF00620062> /Parent 6 0 R /Prev 7 0 R /Dest [3 0 R /XYZ 0 0 0] /C [1 0 0] >>");
  b.Add(item9);
  b.Add("<< /S /URI /URI (http://example.com/) >>");
  return b;
}

TEST(Outlines, ItemsAreReadWithTheirLinksAndChecked) {
  PdfBuilder b = WithOutlines("<< /Title (Two) /Parent 5 0 R /Prev 6 0 R /Dest 12 >>");
  Loaded l = LoadBuilt(b);
  ASSERT_TRUE(l.ok) << l.error;
  const TzoPDFOutline* root = l.doc->OutlineRoot();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(l.doc->OutlineCount(), 5);
  const TzoPDFOutline* one = root->First();
  ASSERT_NE(one, nullptr);
  EXPECT_TRUE(one->IsClosed);
  EXPECT_EQ(one->Parent, root);
  // The action given by reference is now a copy of its dictionary.
  EXPECT_TRUE(one->Dict()->GetValue("/A")->AsDict());
  EXPECT_EQ(one->Dict()->GetValue("/First"), nullptr);
  ASSERT_NE(one->First(), nullptr);
  ASSERT_NE(one->First()->Next(), nullptr);
  EXPECT_EQ(one->First()->Next()->Prev, one->First());
  // A destination of a wrong kind is reported; the item stays without it.
  const TzoPDFOutline* two = one->Next();
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->Dict()->GetValue("/Dest"), nullptr);
  ASSERT_EQ(l.warnings.size(), 1u);
  EXPECT_NE(l.warnings[0].find("wrong kind"), std::string::npos);
}

TEST(Outlines, OutputItemsGetNewNumbersAreCountedAndLinked) {
  PdfBuilder b = WithOutlines("<< /Title (Two) /Parent 5 0 R /Prev 6 0 R /Dest [3 0 R /Fit] >>");
  Loaded l = LoadBuilt(b);
  ASSERT_TRUE(l.ok) << l.error;
  TzoPDFOutline* root = l.doc->OutlineRoot();
  int32_t count = 0;
  std::unique_ptr<TzoPDFIndirectReference> last;
  auto first = l.doc->BuildOutlineItem(root, nullptr, count, last, root->First());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(count, 2);
  const TzoPDFObjectStore& out = *l.doc->OutputStore();
  EXPECT_EQ(out.Count(), 4);
  for (int32_t i = 0; i < out.Count(); ++i) {
    const TzoPDFIndirectObject* o = out.GetItem(i);
    EXPECT_EQ(o->RefCount(), 1);
    // No output item shares a key with an object of the file.
    EXPECT_GT(o->ObjectNumber(), 11);
    EXPECT_EQ(l.doc->InputStore().Find(o), nullptr);
  }
  const TzoPDFDictObject* one = out.Find(first.get())->DirectObject()->AsDict();
  EXPECT_EQ(Text(one->GetValue("/Count")), "-2");
  EXPECT_EQ(one->GetValue("/Parent")->AsReference()->ObjectNumber(), root->ObjectNumber());
  EXPECT_EQ(last->ObjectNumber(), root->First()->Next()->ObjectNumber());
}

TEST(Outlines, ItemsOnPagesNotWrittenAreDroppedAndTheLastLinksStayRight) {
  PdfBuilder b = WithOutlines("<< /Title (Two) /Parent 5 0 R /Prev 6 0 R /Dest [3 0 R /Fit] >>");
  Loaded l = LoadBuilt(b);
  ASSERT_TRUE(l.ok) << l.error;
  TzoPDFOutline* root = l.doc->OutlineRoot();
  // Page 3 will not be written: every item pointing to it goes.
  l.doc->Pages()[0]->SetRefCount(0);
  int32_t count = 0;
  std::unique_ptr<TzoPDFIndirectReference> last;
  auto first = l.doc->BuildOutlineItem(root, nullptr, count, last, root->First());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(count, 1);  // "One" stays (an action, no destination); "Two" is dropped
  EXPECT_EQ(first->ObjectNumber(), root->First()->ObjectNumber());
  EXPECT_EQ(last->ObjectNumber(), first->ObjectNumber());
  const TzoPDFDictObject* one = l.doc->OutputStore()->Find(first.get())->DirectObject()->AsDict();
  EXPECT_EQ(one->GetValue("/Next"), nullptr);
  EXPECT_EQ(one->GetValue("/First"), nullptr);
  EXPECT_EQ(one->GetValue("/Count"), nullptr);
  EXPECT_EQ(l.doc->OutputStore()->Count(), 1);
}

// ---- Form fields ----

TEST(FormFields, NamesTypesValuesOptionsAndAppearance) {
  PdfBuilder b = OnePage();
  b.bodies[0] = "<< /Type /Catalog /Pages 2 0 R /AcroForm 5 0 R >>";
  b.Add(
      "<< /Fields [6 0 R 9 0 R 10 0 R] /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 11 0 R >> >> >>");
  b.Add("<< /T (a) /Kids [7 0 R 8 0 R] >>");  // 6
  b.Add(
      "<< /T (b) /FT /Tx /V (hello) /Ff 4097 /MaxLen 9 /Q 2 /Parent 6 0 R "
      "/DA (0 0 1 rg /Helv 12 Tf) >>");                                                 // 7
  b.Add("<< /T (c) /FT /Btn /Ff 49152 /V /On /Parent 6 0 R /Kids [12 0 R 13 0 R] >>");  // 8
  b.Add("<< /T (box) /FT /Btn /AP << /N << /Yes 14 0 R /Off 14 0 R >> >> /V /Off >>");  // 9
  b.Add("<< /T <FEFF65E5> /FT /Ch /Opt [(x) [(e) (E)]] /Kids [6 0 R] >>");      // 10: a loop
  b.Add("<< /Type /Font /BaseFont /Arial,BoldItalic >>");                       // 11
  b.Add("<< /Parent 8 0 R /AP << /N << /On 14 0 R /Off 14 0 R >> >> /F 4 >>");  // 12
  b.Add("<< /Parent 8 0 R /AP << /N << /Two 14 0 R /Off 14 0 R >> >> >>");      // 13
  b.Add("<< /Length 0 >>\nstream\n\nendstream");                                // 14
  Loaded l = LoadBuilt(b);
  ASSERT_TRUE(l.ok) << l.error;
  const auto* fields = l.doc->FormFields();
  ASSERT_NE(fields, nullptr);
  ASSERT_EQ(fields->size(), 4u);
  const TzoAcroFormField& tb = *(*fields)[0];
  EXPECT_EQ(tb.FullName, "a.b");
  EXPECT_EQ(tb.FieldType, 3);
  EXPECT_EQ(tb.Value, "hello");
  EXPECT_TRUE(tb.ReadOnly);
  EXPECT_TRUE(tb.Multiline);
  EXPECT_EQ(tb.MaxLen, 9);
  EXPECT_EQ(tb.Quadding, 2);
  ASSERT_NE(tb.FontInfo, nullptr);
  EXPECT_EQ(tb.FontInfo->Color, "0 0 1 rg");
  EXPECT_EQ(tb.FontInfo->Name, "/Helv");
  EXPECT_EQ(tb.FontInfo->Size, 12);
  EXPECT_EQ(tb.FontInfo->Font.Name(), "Arial");
  EXPECT_EQ(tb.FontInfo->Font.Style(), ui::fsBold | ui::fsItalic);
  ASSERT_NE(tb.FontInfo->FontRef, nullptr);
  EXPECT_EQ(tb.FontInfo->FontRef->ObjectNumber(), 11);
  // A radio button without toggling to off lists its on states from its widgets.
  const TzoAcroFormField& radio = *(*fields)[1];
  EXPECT_EQ(radio.FullName, "a.c");
  EXPECT_EQ(radio.FieldType, 1);
  EXPECT_EQ(radio.Value, "On");
  EXPECT_EQ(radio.Options.Text(), "On\r\nTwo\r\n");
  EXPECT_EQ(radio.AnnotFlags, 4);
  // A check box lists "Off" first.
  const TzoAcroFormField& box = *(*fields)[2];
  EXPECT_EQ(box.FieldType, 2);
  EXPECT_EQ(box.Options.Text(), "Off\r\nYes\r\n");
  const TzoAcroFormField& choice = *(*fields)[3];
  EXPECT_EQ(choice.FieldType, 4);
  EXPECT_EQ(choice.Options.Text(), "x\r\ne\r\n");
  EXPECT_EQ(platform::AnsiToUtf8(choice.FullName), "\xE6\x97\xA5");
  // The loop through the kids of the choice field is cut with a warning.
  EXPECT_EQ(l.warnings.size(), 1u);
  // Every field and widget is written again.
  for (int n = 5; n <= 14; ++n) {
    int32_t i = l.doc->InputStore().IndexOf(l.doc->DocumentNumber(), n, 0);
    ASSERT_GE(i, 0) << n;
    EXPECT_GT(l.doc->InputStore().GetItem(i)->RefCount(), 0) << n;
  }
}

}  // namespace
