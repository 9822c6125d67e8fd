// Page content editing: a new content stream under or over a page's content in every /Contents
// form, the q ... Q that keeps the page's graphics state from an over-stamp, and resource
// entries, judged by qpdf on the saved files, by mutool and poppler on what they draw.
#include <gtest/gtest.h>

#include "pdf/core/zoPDFResStrs.h"
#include "tests/pdf/document/StampTestSupport.h"

using namespace sv::test;
using namespace stamptest;

namespace {

const std::string kStamp = "1 0 0 rg 100 100 50 50 re f";
const std::string kBoth = std::string(kFirstPart) + " " + kSecondPart;

const char* FormName(Contents c) {
  switch (c) {
    case Contents::Reference:
      return "reference";
    case Contents::DirectArray:
      return "direct array";
    case Contents::ReferencedArray:
      return "referenced array";
    case Contents::SharedArray:
      return "shared array";
    case Contents::Absent:
      return "absent";
  }
  return "";
}

// The JSON value of a key of page index's dictionary ("" when absent; references as "N 0 R").
std::string PageValueKind(const QpdfJson& json, int index, const std::string& key) {
  const doctest::Json* page = json.Page(index);
  const doctest::Json* v = page ? page->Get(key) : nullptr;
  if (!v) return "";
  return v->kind == doctest::Json::String  ? "reference"
         : v->kind == doctest::Json::Array ? "array"
                                           : "other";
}

std::vector<std::string> Keys(const doctest::Json* dict) {
  std::vector<std::string> keys;
  if (dict)
    for (const auto& [k, v] : dict->members)
      keys.push_back(k);
  return keys;
}

}  // namespace

TEST(PageContentTest, StampUnderOrOverEveryContentsForm) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  struct Case {
    Contents form;
    uint8_t layer;
    std::vector<std::string> streams;  // the page's content streams afterwards, in order
    std::string contentsKind;          // how /Contents is written afterwards
  };
  const std::string a = kFirstPart, b = kSecondPart;
  const Case cases[] = {
      {Contents::Reference, 1, {"q", kBoth, "Q", kStamp}, "array"},
      {Contents::Reference, 0, {kStamp, kBoth}, "array"},
      {Contents::DirectArray, 1, {"q", a, b, "Q", kStamp}, "array"},
      {Contents::DirectArray, 0, {kStamp, a, b}, "array"},
      {Contents::ReferencedArray, 1, {"q", a, b, "Q", kStamp}, "reference"},
      {Contents::ReferencedArray, 0, {kStamp, a, b}, "reference"},
      {Contents::SharedArray, 1, {"q", a, b, "Q", kStamp}, "array"},
      {Contents::SharedArray, 0, {kStamp, a, b}, "array"},
      {Contents::Absent, 1, {kStamp}, "array"},
      {Contents::Absent, 0, {kStamp}, "array"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(FormName(c.form)) + (c.layer ? ", over" : ", under"));
    TempDir dir;
    auto doc = LoadFixture(BuildFixture(c.form), dir);
    doc->AddPageContent(0, AddContentStream(*doc, kStamp), c.layer);
    // Stamps that go under never need the wrapping streams.
    EXPECT_EQ(doc->SaveStateObjectNumber() != -1, c.layer != 0 && c.form != Contents::Absent);
    Save(*doc, dir / "out.pdf");
    QpdfJson json(dir / "out.pdf");
    EXPECT_EQ(json.PageStreams(0), c.streams);
    EXPECT_EQ(PageValueKind(json, 0, "/Contents"), c.contentsKind);
    if (c.form == Contents::SharedArray) {
      // The other page keeps the shared array as it was.
      EXPECT_EQ(json.PageStreams(1), (std::vector<std::string>{a, b}));
      EXPECT_EQ(PageValueKind(json, 1, "/Contents"), "reference");
    }
    // The page still shows its own squares, and the stamp.
    Raster page = Render(dir / "out.pdf", dir, {0, 0, 612, 792});
    EXPECT_EQ(page.errors, "");
    const Rgb blue = page.At(15, 15), green = page.At(45, 15), red = page.At(120, 120);
    if (c.form != Contents::Absent) {
      EXPECT_EQ(blue.b, 255);
      EXPECT_EQ(green.g, 255);
    }
    EXPECT_EQ(red.r, 255);
    EXPECT_EQ(red.g, 0);
  }
}

TEST(PageContentTest, PageContentIsWrappedOnceAndTheWrapStreamsAreShared) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  TempDir dir;
  auto doc = LoadFixture(BuildFixture(Contents::SharedArray), dir);
  const std::string second = "0 0 0 rg 200 200 10 10 re f";
  doc->AddPageContent(0, AddContentStream(*doc, kStamp), 1);
  doc->AddPageContent(0, AddContentStream(*doc, second), 1);
  doc->AddPageContent(0, AddContentStream(*doc, "0 g"), 0);
  doc->AddPageContent(1, AddContentStream(*doc, second), 1);
  const int32_t save = doc->SaveStateObjectNumber(), restore = doc->RestoreStateObjectNumber();
  doc->EnsureWrapStreams();  // made once per document state
  EXPECT_EQ(doc->SaveStateObjectNumber(), save);
  EXPECT_EQ(doc->RestoreStateObjectNumber(), restore);
  Save(*doc, dir / "out.pdf");
  QpdfJson json(dir / "out.pdf");
  const std::string a = kFirstPart, b = kSecondPart;
  EXPECT_EQ(json.PageStreams(0), (std::vector<std::string>{"0 g", "q", a, b, "Q", kStamp, second}));
  EXPECT_EQ(json.PageStreams(1), (std::vector<std::string>{"q", a, b, "Q", second}));
  // Both pages name the same two wrapping objects.
  const doctest::Json* c0 = json.Page(0)->Get("/Contents");
  const doctest::Json* c1 = json.Resolve(json.Page(1)->Get("/Contents"));
  ASSERT_TRUE(c0 && c1);
  EXPECT_EQ(c0->items[1].s, c1->items[0].s);
  EXPECT_EQ(c0->items[4].s, c1->items[3].s);
}

// Many stamps on one page keep their order, the page's content wrapped once; an array that was
// changed since the last stamp (replaced, or given an item that is no reference) is cleaned and
// looked at for the wrap again.
TEST(PageContentTest, ManyStampsOnOnePageAndContentsChangedBetweenThem) {
  TempDir dir;
  auto doc = LoadFixture(BuildFixture(Contents::DirectArray), dir);
  const std::string a = kFirstPart, b = kSecondPart;
  std::vector<std::string> want = {"q", a, b, "Q"};
  for (int i = 0; i < 40; ++i) {
    const std::string text = "% over " + std::to_string(i);
    doc->AddPageContent(0, AddContentStream(*doc, text), 1);
    want.push_back(text);
    if (i % 10 == 9) {
      const std::string under = "% under " + std::to_string(i);
      doc->AddPageContent(0, AddContentStream(*doc, under), 0);
      want.insert(want.begin(), under);
    }
  }
  TzoPDFDictObject* page = doc->Pages()[0]->DirectObject()->AsDict();
  // A number put at the end of the array, then a stamp: the number goes.
  page->GetValue("/Contents")->AsArray()->AddInteger(12);
  doc->AddPageContent(0, AddContentStream(*doc, "% after the number"), 1);
  want.push_back("% after the number");
  Save(*doc, dir / "out.pdf");
  EXPECT_EQ(QpdfJson(dir / "out.pdf").PageStreams(0), want);

  // The array replaced by one of the page's two streams and a number: wrapped anew.
  auto replaced = std::make_unique<TzoPDFArrayObject>();
  replaced->Add(AddContentStream(*doc, a));
  replaced->AddInteger(7);
  page->SetValue("/Contents", std::move(replaced));
  doc->AddPageContent(0, AddContentStream(*doc, "% new"), 1);
  doc->AddPageContent(0, AddContentStream(*doc, "% newer"), 1);
  Save(*doc, dir / "out2.pdf");
  EXPECT_EQ(QpdfJson(dir / "out2.pdf").PageStreams(0),
            (std::vector<std::string>{"q", a, "Q", "% new", "% newer"}));
}

TEST(PageContentTest, ContentsThatAreNoContent) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  struct Case {
    std::string contents;
    std::vector<std::string> more;
    std::string error;  // "" when the page takes the stamp
  };
  const Case cases[] = {
      {"/Contents null", {}, ""},
      {"/Contents 9 0 R", {}, ""},  // a reference to nothing
      {"/Contents 4 0 R", {"null"}, ""},
      // A number among the streams, which would make poppler drop the page's content, goes.
      {"/Contents [4 0 R 12 5 0 R]", {StreamBody("", kFirstPart), StreamBody("", kSecondPart)}, ""},
      {"/Contents 12", {}, "Unexpected content object for page 1"},
      {"/Contents 4 0 R", {"<< /A 1 >>"}, "Unexpected content object for page 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.contents);
    TempDir dir;
    doctest::PdfBuilder builder;
    builder.Add("<< /Type /Catalog /Pages 2 0 R >>");
    builder.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    builder.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + c.contents + " >>");
    for (const std::string& body : c.more)
      builder.Add(body);
    auto doc = LoadFixture(builder.Build(), dir);
    TzoPDFDictObject* page = doc->Pages()[0]->DirectObject()->AsDict();
    const std::string before = doc->ObjectText(-1, page);
    if (!c.error.empty()) {
      try {
        doc->AddPageContent(0, AddContentStream(*doc, kStamp), 1);
        ADD_FAILURE() << "no error";
      } catch (const EUnexpectedError& e) {
        EXPECT_EQ(std::string(e.what()), c.error);
      }
      EXPECT_EQ(doc->ObjectText(-1, page), before);  // unchanged
      continue;
    }
    doc->AddPageContent(0, AddContentStream(*doc, kStamp), 1);
    Save(*doc, dir / "out.pdf");
    Raster raster = Render(dir / "out.pdf", dir, {0, 0, 612, 792});
    EXPECT_EQ(raster.errors, "");
    EXPECT_EQ(raster.At(120, 120).r, 255);
    EXPECT_EQ(raster.At(120, 120).g, 0);
  }
  // Only references count when looking for the wrapping stream.
  TzoPDFArrayObject mixed;
  mixed.AddInteger(7);
  mixed.Add(std::make_unique<TzoPDFNullObject>());
  mixed.Add(std::make_unique<TzoPDFIndirectReference>(101, 8, 0));
  EXPECT_FALSE(TzoCustomPDFDocument::HasReferenceTo(mixed, 7));
  EXPECT_TRUE(TzoCustomPDFDocument::HasReferenceTo(mixed, 8));
}

// The page's own content leaves a scale, a clip and a colour in force: the over-stamp is drawn
// as it would be on a blank page, the under-stamp is not changed either.
TEST(PageContentTest, PageStateDoesNotReachTheStamp) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  TempDir dir;
  Fixture f;
  f.ownContent = "2 0 0 2 0 0 cm 0 0 100 100 re W n 0 1 0 rg 0.5 0.5 0.5 RG 9 w";
  auto doc = LoadFixture(BuildFixture(f), dir);
  doc->AddPageContent(0, AddContentStream(*doc, "300 400 50 50 re f"), 1);
  doc->AddPageContent(0, AddContentStream(*doc, "q 0 0 1 rg 400 500 20 20 re f Q"), 0);
  Save(*doc, dir / "out.pdf");
  Trace trace = RunTrace(dir / "out.pdf", MakeRectD(0, 0, 612, 792));
  EXPECT_EQ(trace.errors, "");
  ASSERT_EQ(trace.marks.size(), 3u);  // the under-stamp, the page's clip, the over-stamp
  const Mark& under = trace.marks[0];
  const Mark& over = trace.marks.back();
  for (const Mark* m : {&under, &over}) {
    EXPECT_EQ(m->kind, "fill_path");
    EXPECT_EQ(trace.UserMatrix(*m), (std::vector<double>{1, 0, 0, 1, 0, 0}));
  }
  EXPECT_EQ(over.attrs.at("color"), "0");  // black: the page's green stays inside its q ... Q
  EXPECT_EQ(over.path.front().second, (std::vector<double>{300, 400}));
  EXPECT_EQ(under.attrs.at("color"), "0 0 1");
  // Poppler draws the over-stamp unclipped and black.
  Raster raster = Render(dir / "out.pdf", dir, {0, 0, 612, 792});
  EXPECT_EQ(raster.At(320, 420).r, 0);
  EXPECT_EQ(raster.At(320, 420).g, 0);
}

TEST(PageContentTest, ResourceEntries) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  TempDir dir;
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
  // Page 1: an /ExtGState that names nothing, a /Font that is null, a shared /XObject category.
  b.Add(
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /ExtGState 20 0 R "
      "/Font null /XObject 5 0 R /ColorSpace 7 >> >>");
  b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject 5 0 R >> >>");
  b.Add("<< /Old 6 0 R >>");
  b.Add(StreamBody("/Type /XObject /Subtype /Form /BBox [0 0 1 1]", ""));
  auto doc = LoadFixture(b.Build(), dir);
  auto gs = AddOpacity(*doc, 0.5, 0.25);
  auto image = AddImage(*doc, 1, 1, 255, 0, 0);
  TzoPDFDictObject* resources = doc->PageResources(0);

  doc->AddResourceEntry(resources, "/ExtGState", gs.get(), "/GS1");
  doc->AddResourceEntry(resources, "/Font", gs.get(), "/F1");
  doc->AddResourceEntry(resources, "/XObject", image.get(), "/Im1");
  doc->AddResourceEntry(resources, "/XObject", gs.get(), "/Old");  // taken: stays as it was
  // The resource is cloned: the caller keeps its own object.
  EXPECT_EQ(
      resources->GetValue("/ExtGState")->AsDict()->GetValue("/GS1")->AsReference()->ObjectNumber(),
      gs->ObjectNumber());
  EXPECT_THROW(doc->AddResourceEntry(resources, "/ColorSpace", gs.get(), "/CS1"),
               EUnexpectedObjectError);
  try {
    doc->AddResourceEntry(nullptr, "/Font", gs.get(), "/F1");
    ADD_FAILURE() << "no error";
  } catch (const EUnexpectedError& e) {
    EXPECT_EQ(std::string(e.what()), "Error inserting page resource");
  }
  doc->AddPageContent(0, AddContentStream(*doc, "/GS1 gs /Im1 Do"), 1);
  Save(*doc, dir / "out.pdf");

  QpdfJson json(dir / "out.pdf");
  const doctest::Json* page = json.Page(0);
  ASSERT_TRUE(page);
  // Each category once, the null and dangling ones replaced in their place.
  EXPECT_EQ(Keys(json.Resolve(page->Get("/Resources"))),
            (std::vector<std::string>{"/ColorSpace", "/ExtGState", "/Font", "/XObject"}));
  EXPECT_EQ(Keys(json.PageResourceCategory(0, "/ExtGState")), (std::vector<std::string>{"/GS1"}));
  EXPECT_EQ(Keys(json.PageResourceCategory(0, "/Font")), (std::vector<std::string>{"/F1"}));
  // The shared category changed in place: both pages see the image, /Old is the form still.
  for (int p : {0, 1}) {
    SCOPED_TRACE(p);
    const doctest::Json* xobjects = json.PageResourceCategory(p, "/XObject");
    EXPECT_EQ(Keys(xobjects), (std::vector<std::string>{"/Im1", "/Old"}));
    const doctest::Json* old = xobjects ? json.Resolve(xobjects->Get("/Old")) : nullptr;
    ASSERT_TRUE(old && old->Get("dict"));
    EXPECT_EQ(old->Get("dict")->Str("/Subtype"), "/Form");
  }
  const doctest::Json* gsDict =
      json.Resolve(json.PageResourceCategory(0, "/ExtGState")->Get("/GS1"));
  ASSERT_TRUE(gsDict);
  EXPECT_DOUBLE_EQ(gsDict->Get("/ca")->n, 0.25);
}

TEST(PageContentTest, PageWithoutResourcesGetsItsOwnDictionary) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  TempDir dir;
  Fixture f;
  f.resources = false;
  auto doc = LoadFixture(BuildFixture(f), dir);
  doc->AddPageExtGState(0, "/GS1", nullptr);  // no state: nothing changes
  EXPECT_EQ(doc->Pages()[0]->DirectObject()->AsDict()->GetValue("/Resources"), nullptr);
  EXPECT_FALSE(doc->PageHasResourceName(0, "/GS1"));

  doc->AddPageExtGState(0, "/GS1", AddOpacity(*doc, 1, 0.5).get());
  EXPECT_TRUE(doc->PageHasResourceName(0, "/GS1"));
  doc->AddResourceEntry(doc->PageResources(0), "/XObject", AddImage(*doc, 2, 2, 0, 0, 255).get(),
                        "/Im1");
  doc->AddPageContent(0, AddContentStream(*doc, "q /GS1 gs 100 0 0 100 200 300 cm /Im1 Do Q"), 1);
  Save(*doc, dir / "out.pdf");
  QpdfJson json(dir / "out.pdf");
  EXPECT_EQ(PageValueKind(json, 0, "/Resources"), "reference");
  EXPECT_EQ(Keys(json.PageResourceCategory(0, "/ExtGState")), (std::vector<std::string>{"/GS1"}));
  Trace trace = RunTrace(dir / "out.pdf", MakeRectD(0, 0, 612, 792));
  ASSERT_EQ(trace.marks.size(), 3u);
  EXPECT_EQ(trace.marks[2].kind, "fill_image");
  EXPECT_EQ(trace.marks[2].Num("alpha"), 0.5);
  EXPECT_EQ(trace.ImageMatrix(trace.marks[2]), (std::vector<double>{100, 0, 0, 100, 200, 300}));
}

// Names for new resources pass over every name the page uses, whatever its category.
TEST(PageContentTest, NewResourceNamesAvoidThePagesNames) {
  TempDir dir;
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources 4 0 R >>");
  b.Add("<< /Font << /GS1 5 0 R >> /ExtGState 6 0 R >>");
  b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.Add("<< /GS2 << /CA 1 >> >>");
  auto doc = LoadFixture(b.Build(), dir);
  EXPECT_TRUE(doc->PageHasResourceName(0, "/GS1"));
  EXPECT_TRUE(doc->PageHasResourceName(0, "/GS2"));
  EXPECT_FALSE(doc->PageHasResourceName(0, "/GS3"));
  std::vector<int32_t> draws = {1, 2, 3};
  SetRandomSource([&draws](int32_t) {
    int32_t v = draws.front();
    draws.erase(draws.begin());
    return v;
  });
  const std::string name =
      NewGStateResourceName([&](const std::string& n) { return doc->PageHasResourceName(0, n); });
  SetRandomSource({});
  EXPECT_EQ(name, "/GS3");
}

// A real document stamped over every page: every reader still draws its pages, with the stamp.
TEST(PageContentTest, CorpusDocumentStampedOnEveryPage) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  SV_REQUIRE_CORPUS();
  TempDir dir;
  const std::string in = CorpusDir() + "docs/fontconfig-user.pdf";
  doctest::Loaded loaded = doctest::Load(in);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  TzoPDFDocument& doc = *loaded.doc;
  doc.SetShowSetupDialog(false);
  for (int32_t i = 0; i < doc.PageCount(); ++i)
    doc.AddPageContent(i, AddContentStream(doc, "1 0 0 rg 0 0 30 30 re f"), 1);
  Save(doc, dir / "out.pdf");
  EXPECT_EQ(PdfText(dir / "out.pdf"), PdfText(in));
  for (int page : {1, doc.PageCount()}) {
    SCOPED_TRACE(page);
    const TzoRectD box = doc.GetPageBox(page, muPoints);
    Raster raster = Render(dir / "out.pdf", dir, {box.X1, box.Y1, box.X2, box.Y2}, 72, page);
    EXPECT_EQ(raster.errors, "");
    const Rgb corner = raster.At(box.X1 + 10, box.Y1 + 10);
    EXPECT_EQ(corner.r, 255);
    EXPECT_EQ(corner.g, 0);
    EXPECT_EQ(RunTrace(dir / "out.pdf", box, page).errors, "");
  }
}
