// Page boxes and sizes in every measurement unit: crop box before media box, boxes inherited
// from the page tree, given by reference or with their corners in any order, and pages without
// a usable box.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/pdf/document/StampTestSupport.h"

using namespace sv::test;

namespace {

// A loaded one-page document whose page dictionary holds pageEntries; more objects follow as
// objects 4, 5, ...
std::unique_ptr<TzoPDFDocument> LoadPage(const TempDir& dir, const std::string& pageEntries,
                                         const std::vector<std::string>& more = {},
                                         const std::string& treeEntries = "") {
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 " + treeEntries + " >>");
  b.Add("<< /Type /Page /Parent 2 0 R " + pageEntries + " >>");
  for (const std::string& body : more)
    b.Add(body);
  return stamptest::LoadFixture(b.Build(), dir);
}

void ExpectBox(const TzoRectD& box, double x1, double y1, double x2, double y2, double eps) {
  EXPECT_NEAR(box.X1, x1, eps);
  EXPECT_NEAR(box.Y1, y1, eps);
  EXPECT_NEAR(box.X2, x2, eps);
  EXPECT_NEAR(box.Y2, y2, eps);
}

}  // namespace

TEST(PageBoxTest, SizeAndBoxInEveryUnit) {
  TempDir dir;
  auto doc = LoadPage(dir, "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]");
  struct Row {
    TzoMeasurementUnit unit;
    double perPoint;  // units per point
  };
  const Row rows[] = {{muPoints, 1},
                      {muInches, 1.0 / 72},
                      {muMM, 1 / 2.83464},
                      {muTwips, 20},
                      {muPixels, 96.0 / 72}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.unit);
    const TzoSizeD size = doc->GetPageSize(1, row.unit);
    EXPECT_NEAR(size.Width, 540 * row.perPoint, 1e-9);
    EXPECT_NEAR(size.Height, 720 * row.perPoint, 1e-9);
    ExpectBox(doc->GetPageBox(1, row.unit), 36 * row.perPoint, 36 * row.perPoint,
              576 * row.perPoint, 756 * row.perPoint, 1e-9);
  }
  // The values a user checks by hand.
  auto letter = LoadPage(dir, "/MediaBox [0 0 612 792]");
  EXPECT_DOUBLE_EQ(letter->GetPageSize(1, muInches).Width, 8.5);
  EXPECT_DOUBLE_EQ(letter->GetPageSize(1, muInches).Height, 11);
  auto a4 = LoadPage(dir, "/MediaBox [0 0 595.276 841.89]");
  EXPECT_NEAR(a4->GetPageSize(1, muMM).Width, 210.00056, 1e-5);
  EXPECT_NEAR(doc->ConvertFromPoints(muMM, doc->ConvertToPoints(muMM, 12.5)), 12.5, 1e-12);
}

TEST(PageBoxTest, BoxesInheritedByReferenceOrWithCornersInAnyOrderAreTheRectangleTheyMean) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string page;
    std::vector<std::string> more;
    std::string tree;
    double x1, y1, x2, y2;
  };
  const Case cases[] = {
      {"inherited media box", "", {}, "/MediaBox [0 0 300 400]", 0, 0, 300, 400},
      {"own crop box over the inherited media box",
       "/CropBox [10 20 110 220]",
       {},
       "/MediaBox [0 0 300 400]",
       10,
       20,
       110,
       220},
      {"box by reference", "/MediaBox 4 0 R", {"[0 0 500 600]"}, "", 0, 0, 500, 600},
      {"numbers by reference",
       "/MediaBox [0 4 0 R 500 5 0 R]",
       {"-20", "700.5"},
       "",
       0,
       -20,
       500,
       700.5},
      {"corners swapped", "/MediaBox [612 792 0 0]", {}, "", 0, 0, 612, 792},
      {"negative origin, mixed order",
       "/MediaBox [300 -400 -300 400]",
       {},
       "",
       -300,
       -400,
       300,
       400},
      {"crop box that is no rectangle",
       "/MediaBox [0 0 200 100] /CropBox [0 0 50]",
       {},
       "",
       0,
       0,
       200,
       100},
      {"crop box that is a name",
       "/MediaBox [0 0 200 100] /CropBox /Letter",
       {},
       "",
       0,
       0,
       200,
       100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = LoadPage(dir, c.page, c.more, c.tree);
    ASSERT_EQ(doc->PageCount(), 1);
    ExpectBox(doc->GetPageBox(1, muPoints), c.x1, c.y1, c.x2, c.y2, 0);
    EXPECT_DOUBLE_EQ(doc->GetPageSize(1, muPoints).Width, c.x2 - c.x1);
  }
}

TEST(PageBoxTest, PageWithoutBoxOrBadPageNumberRaisesThePageError) {
  TempDir dir;
  for (const char* entries :
       {"", "/MediaBox null", "/MediaBox 9 0 R", "/MediaBox [0 0 (a) 5]", "/CropBox [1 2 3]"}) {
    SCOPED_TRACE(entries);
    auto doc = LoadPage(dir, entries);
    ASSERT_EQ(doc->PageCount(), 1);
    try {
      doc->GetPageBox(1, muPoints);
      ADD_FAILURE() << "no error";
    } catch (const EInvalidPageError& e) {
      EXPECT_EQ(std::string(e.what()), "Page 1 has neither a /CropBox nor a /MediaBox");
    }
    EXPECT_THROW(doc->GetPageSize(1, muInches), EInvalidPageError);
  }
  auto doc = LoadPage(dir, "/MediaBox [0 0 10 10]");
  EXPECT_THROW(doc->GetPageBox(0, muPoints), EInvalidPageError);
  EXPECT_THROW(doc->GetPageBox(2, muPoints), EInvalidPageError);
}

// Every page of the corpus files that both open: the box is the crop box pdfinfo reports.
TEST(PageBoxTest, CorpusPagesHaveTheBoxesPdfinfoReports) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "mutool", "pdftoppm");
  SV_REQUIRE_CORPUS();
  int compared = 0;
  for (const std::string& path : doctest::AllCorpusFiles()) {
    if (path.find("/encrypted/") != std::string::npos) continue;
    doctest::Loaded loaded = doctest::Load(path, doctest::PasswordFromName(path));
    if (!loaded.ok || loaded.doc->PageCount() == 0) continue;
    SCOPED_TRACE(path);
    const int pages = loaded.doc->PageCount();
    std::vector<std::string> argv = {"pdfinfo", "-box", "-f", "1", "-l", std::to_string(pages)};
    const std::string password = doctest::PasswordFromName(path);
    if (!password.empty()) argv.insert(argv.end(), {"-opw", password});
    argv.push_back(path);
    CommandResult r = RunCommand(argv);
    if (r.exitCode != 0) continue;  // a file poppler does not open
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
      int page = 0;
      double x1, y1, x2, y2;
      if (std::sscanf(line.c_str(), "Page %d CropBox: %lf %lf %lf %lf", &page, &x1, &y1, &x2,
                      &y2) != 5)
        continue;
      ExpectBox(loaded.doc->GetPageBox(page, muPoints), x1, y1, x2, y2, 0.006);
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
}

// The box is what readers show: the crop box clipped to the media box, whether the boxes are the
// page's own or inherited from the page tree. MuPDF shows a page of that size.
TEST(PageBoxTest, CropBoxIsClippedToTheMediaBox) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string page, tree;
    double x1, y1, x2, y2;
    bool judgedByMupdf;
  };
  const Case cases[] = {
      {"crop box twice the media box", "/MediaBox [0 0 306 396] /CropBox [0 0 612 792]", "", 0, 0,
       306, 396, true},
      {"crop box inherited, media box own", "/MediaBox [0 0 306 396]", "/CropBox [0 0 612 792]", 0,
       0, 306, 396, true},
      {"media box inherited, crop box own", "/CropBox [-50 100 200 900]", "/MediaBox [0 0 306 396]",
       0, 100, 200, 396, true},
      {"crop box overlapping one corner", "/MediaBox [10 20 310 420] /CropBox [300 400 0 0]", "",
       10, 20, 300, 400, true},
      // Readers show the media box for a crop box that lies wholly outside it.
      {"crop box outside the media box", "/MediaBox [0 0 306 396] /CropBox [400 0 500 100]", "", 0,
       0, 306, 396, false},
      {"crop box without a media box", "/CropBox [0 0 100 50]", "", 0, 0, 100, 50, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = LoadPage(dir, c.page, {}, c.tree);
    ASSERT_EQ(doc->PageCount(), 1);
    ExpectBox(doc->GetPageBox(1, muPoints), c.x1, c.y1, c.x2, c.y2, 0);
    const TzoSizeD size = doc->GetPageSize(1, muInches);
    EXPECT_DOUBLE_EQ(size.Width, (c.x2 - c.x1) / 72);
    EXPECT_DOUBLE_EQ(size.Height, (c.y2 - c.y1) / 72);
    if (!c.judgedByMupdf) continue;
    CommandResult r = RunCommand({"mutool", "draw", "-F", "stext", "-o", "-", dir / "in.pdf"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    double width = 0, height = 0;
    const size_t at = r.out.find("<page ");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + r.out.find("width=", at), "width=\"%lf\" height=\"%lf\"",
                          &width, &height),
              2);
    EXPECT_DOUBLE_EQ(doc->GetPageSize(1, muPoints).Width, width);
    EXPECT_DOUBLE_EQ(doc->GetPageSize(1, muPoints).Height, height);
  }
}
