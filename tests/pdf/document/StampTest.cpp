// InsertWatermark end to end: image, shape and composite stamps on small pages in every
// /Contents form, without /Resources, on a crop box with an offset origin, on turned pages and
// on a page that leaves a `cm` in force, loaded, stamped and saved through the public API and
// judged by qpdf, mutool trace and pdftoppm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>

#include "tests/pdf/document/PDFFontTestSupport.h"
#include "tests/pdf/document/StampTestSupport.h"

using namespace sv::test;
using namespace stamptest;

namespace {

// A picture of width x height pixels: the left half red, the right half blue.
std::unique_ptr<TBitmap> RedBlue(int width, int height) {
  auto bmp = std::make_unique<TBitmap>(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bmp->ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const bool red = x < width / 2;
      row[3 * x] = red ? 255 : 0;
      row[3 * x + 1] = 0;
      row[3 * x + 2] = red ? 0 : 255;
    }
  }
  return bmp;
}

// An image stamp of RedBlue(2, 1) drawn w x h points with its top-left corner at (x, y) below
// the box's top-left corner.
std::unique_ptr<TzoImageWatermarkTemplate> ImageAt(double x, double y, double w, double h,
                                                   uint8_t layer = 1) {
  auto t = std::make_unique<TzoImageWatermarkTemplate>();
  t->SetImage(RedBlue(2, 1));
  t->HorizontalPosition = 3;
  t->VerticalPosition = 3;
  t->X = x;
  t->Y = y;
  t->Width = w;
  t->Height = h;
  t->Layer = layer;
  return t;
}

bool Near(const Rgb& c, int r, int g, int b, int tolerance = 8) {
  return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance &&
         std::abs(c.b - b) <= tolerance;
}

std::string Str(const Rgb& c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

#define EXPECT_RGB(c, R, G, B) EXPECT_TRUE(Near((c), R, G, B)) << "got " << Str(c)

void ExpectMatrix(const std::vector<double>& m, const std::vector<double>& want) {
  ASSERT_EQ(m.size(), 6u);
  for (size_t i = 0; i < 6; ++i)
    EXPECT_NEAR(m[i], want[i], 0.01) << "element " << i;
}

}  // namespace

// An over-stamp image lands where the template says on every form of /Contents, with and
// without /Resources; the page's own content stays; the shared array's other page stays as it
// was.
TEST(StampTest, ImageOnEveryContentsForm) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  const Contents forms[] = {Contents::Reference, Contents::DirectArray, Contents::ReferencedArray,
                            Contents::SharedArray, Contents::Absent};
  for (Contents form : forms) {
    for (bool resources : {true, false}) {
      SCOPED_TRACE("contents form " + std::to_string(static_cast<int>(form)) +
                   (resources ? " with" : " without") + " /Resources");
      TempDir dir;
      Fixture f;
      f.contents = form;
      f.resources = resources;
      auto doc = LoadFixture(BuildFixture(f), dir);
      ASSERT_TRUE(doc);
      doc->SetMeasurementUnit(muPoints);
      auto t = ImageAt(100, 100, 50, 40);
      t->Opacity = 50;
      doc->InsertWatermark(*t, "1");
      // The template's placement is as it was.
      EXPECT_EQ(t->X, 100);
      EXPECT_EQ(t->Y, 100);
      Save(*doc, dir / "out.pdf");

      Trace trace = RunTrace(dir / "out.pdf", {0, 0, 612, 792});
      EXPECT_EQ(trace.errors, "");
      std::vector<const Mark*> images = trace.Of("fill_image");
      ASSERT_EQ(images.size(), 1u);
      ExpectMatrix(trace.ImageMatrix(*images[0]), {50, 0, 0, 40, 100, 652});
      EXPECT_NEAR(images[0]->Num("alpha"), 0.5, 0.01);

      Raster r = Render(dir / "out.pdf", dir, {0, 0, 612, 792});
      EXPECT_RGB(r.At(110, 670), 255, 128, 128);  // red at 50 % over white
      EXPECT_RGB(r.At(140, 670), 128, 128, 255);
      if (form != Contents::Absent) {
        EXPECT_RGB(r.At(20, 20), 0, 0, 255);  // the page's own squares
        EXPECT_RGB(r.At(50, 20), 0, 255, 0);
      }
      if (form == Contents::SharedArray) {
        Trace other = RunTrace(dir / "out.pdf", {0, 0, 612, 792}, 2);
        EXPECT_TRUE(other.Of("fill_image").empty());
        EXPECT_EQ(other.Of("fill_path").size(), 2u);
      }
    }
  }
}

// Under the page's content the stamp shows only where the page does not paint; over it, it
// covers the page. A page that leaves a scale in force does not scale an over-stamp.
TEST(StampTest, LayersAndThePagesOwnState) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  struct Case {
    const char* name;
    uint8_t layer;
    std::string ownContent;
  };
  const Case cases[] = {
      {"under", 0, ""},
      {"over", 1, ""},
      {"over a page leaving a cm", 1,
       "2 0 0 2 0 0 cm 0 0 1 rg 5 5 10 10 re f 0 1 0 rg 20 5 10 10 re f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Fixture f;
    f.ownContent = c.ownContent;
    auto doc = LoadFixture(BuildFixture(f), dir);
    doc->SetMeasurementUnit(muPoints);
    // 100 x 50 points at the bottom-left corner: under both squares and the gap between them.
    auto t = ImageAt(0, 742, 100, 50, c.layer);
    doc->InsertWatermark(*t, "");
    Save(*doc, dir / "out.pdf");

    Trace trace = RunTrace(dir / "out.pdf", {0, 0, 612, 792});
    std::vector<const Mark*> images = trace.Of("fill_image");
    ASSERT_EQ(images.size(), 1u);
    ExpectMatrix(trace.ImageMatrix(*images[0]), {100, 0, 0, 50, 0, 0});
    // Under: the image is the first mark; over: the last.
    EXPECT_EQ(&trace.marks.front() == images[0], c.layer == 0);
    EXPECT_EQ(&trace.marks.back() == images[0], c.layer != 0);

    Raster r = Render(dir / "out.pdf", dir, {0, 0, 612, 792});
    EXPECT_RGB(r.At(35, 20), 255, 0, 0);  // between the squares: the stamp
    EXPECT_RGB(r.At(80, 20), 0, 0, 255);  // the right half of the picture
    if (c.layer == 0) {
      EXPECT_RGB(r.At(20, 20), 0, 0, 255);  // the page paints over the stamp
      EXPECT_RGB(r.At(50, 20), 0, 255, 0);
    } else {
      EXPECT_RGB(r.At(20, 20), 255, 0, 0);
      EXPECT_RGB(r.At(45, 20), 255, 0, 0);
    }
  }
}

// Pages with equal boxes share one image content stream; a page listed twice is stamped twice;
// the picture and the opacity state are made once.
TEST(StampTest, ImageStreamsAreSharedByEqualBoxes) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  TempDir dir;
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 /MediaBox [0 0 300 300] >>");
  for (int i = 0; i < 3; ++i)
    b.Add(i == 2 ? "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 250] >>"
                 : "<< /Type /Page /Parent 2 0 R >>");
  auto doc = LoadFixture(b.Build(), dir);
  doc->SetMeasurementUnit(muPoints);
  auto t = ImageAt(10, 10, 20, 20);
  t->Opacity = 40;
  doc->InsertWatermark(*t, "1-3,2");
  Save(*doc, dir / "out.pdf");

  QpdfJson json(dir / "out.pdf");
  std::vector<std::string> first = json.PageStreams(0);
  ASSERT_EQ(first.size(), 1u);
  // Page 2 twice: its first stamp is then enclosed as the page's content.
  EXPECT_EQ(json.PageStreams(1), (std::vector<std::string>{"q", first[0], "Q", first[0]}));
  ASSERT_EQ(json.PageStreams(2).size(), 1u);
  EXPECT_NE(json.PageStreams(2)[0], first[0]);  // another box: its own stream
  const doctest::Json* pages = json.root.Get("pages");
  ASSERT_TRUE(pages);
  auto ref = [&](int page, int i) {
    return pages->items[static_cast<size_t>(page)].Get("contents")->items[static_cast<size_t>(i)].s;
  };
  EXPECT_EQ(ref(0, 0), ref(1, 1));
  EXPECT_EQ(ref(0, 0), ref(1, 3));
  EXPECT_NE(ref(0, 0), ref(2, 0));
  // One picture, one opacity state for all pages.
  std::set<std::string> xobjects, states;
  for (int p = 0; p < 3; ++p) {
    const doctest::Json* x = json.PageResourceCategory(p, "/XObject");
    const doctest::Json* g = json.PageResourceCategory(p, "/ExtGState");
    ASSERT_TRUE(x && g);
    ASSERT_EQ(x->members.size(), 1u);
    ASSERT_EQ(g->members.size(), 1u);
    xobjects.insert(x->members[0].second.s);
    states.insert(g->members[0].second.s);
  }
  EXPECT_EQ(xobjects.size(), 1u);
  EXPECT_EQ(states.size(), 1u);
  for (int p = 1; p <= 3; ++p) {
    Trace trace =
        RunTrace(dir / "out.pdf", {0, 0, p == 3 ? 200.0 : 300.0, p == 3 ? 250.0 : 300}, p);
    EXPECT_EQ(trace.Of("fill_image").size(), p == 2 ? 2u : 1u) << "page " << p;
  }
}

// On a crop box with an offset origin the positions count from the crop box; the angle is taken
// into [0, 360) and the template keeps its own.
TEST(StampTest, CropBoxOriginAndAngles) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  struct Case {
    uint8_t h, v;
    int32_t angle;
    std::vector<double> matrix;  // the image matrix mutool reports
  };
  // Crop box [36 36 576 756]; the picture 60 x 30.
  const Case cases[] = {
      {0, 0, 0, {60, 0, 0, 30, 36, 726}},     // top-left corner on the box's
      {1, 1, 0, {60, 0, 0, 30, 276, 381}},    // centred
      {2, 2, 0, {60, 0, 0, 30, 516, 36}},     // bottom-right corner on the box's
      {3, 3, 0, {60, 0, 0, 30, 46, 716}},     // at (10, 10) below the top-left corner
      {0, 0, -90, {0, -60, 30, 0, 36, 756}},  // -90 is 270: the bounding box's corner
      {0, 0, 270, {0, -60, 30, 0, 36, 756}}, {0, 0, 450, {0, 60, -30, 0, 66, 696}},  // 450 is 90
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("position " + std::to_string(c.h) + "/" + std::to_string(c.v) + " angle " +
                 std::to_string(c.angle));
    TempDir dir;
    Fixture f;
    f.box = "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]";
    auto doc = LoadFixture(BuildFixture(f), dir);
    doc->SetMeasurementUnit(muPoints);
    auto t = ImageAt(10, 10, 60, 30);
    t->HorizontalPosition = c.h;
    t->VerticalPosition = c.v;
    t->Angle = c.angle;
    doc->InsertWatermark(*t, "1");
    EXPECT_EQ(t->Angle, c.angle);
    Save(*doc, dir / "out.pdf");
    Trace trace = RunTrace(dir / "out.pdf", {36, 36, 576, 756});
    std::vector<const Mark*> images = trace.Of("fill_image");
    ASSERT_EQ(images.size(), 1u);
    ExpectMatrix(trace.ImageMatrix(*images[0]), c.matrix);
  }
}

// On a turned page a stamp is upright and placed as the page is shown: the picture's red half
// stays on the left of what pdftoppm shows, and the positions count from the shown corners.
TEST(StampTest, TurnedPagesShowTheStampUpright) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  for (int rotate : {0, 90, 180, 270, -90, 450}) {
    SCOPED_TRACE("/Rotate " + std::to_string(rotate));
    TempDir dir;
    Fixture f;
    f.box = "/MediaBox [0 0 400 300] /Rotate " + std::to_string(rotate);
    auto doc = LoadFixture(BuildFixture(f), dir);
    doc->SetMeasurementUnit(muPoints);
    auto topLeft = ImageAt(0, 0, 60, 30);
    topLeft->HorizontalPosition = 0;
    topLeft->VerticalPosition = 0;
    auto bottomRight = ImageAt(0, 0, 40, 20);
    bottomRight->HorizontalPosition = 2;
    bottomRight->VerticalPosition = 2;
    TzoRectangleWatermarkTemplate rect;  // 50 x 20 points, 100 from the left, 60 from the top
    rect.TopLeft = {100, 60};
    rect.BottomRight = {150, 80};
    rect.LineColor = kNoColor;
    rect.FillColor = 0x008000;  // green, as the class library writes colours: 0x00BBGGRR
    TzoCompositeWatermarkTemplate all;
    all.Templates = {topLeft.get(), bottomRight.get(), &rect};
    doc->InsertWatermark(all, "");
    Save(*doc, dir / "out.pdf");

    const bool turned = rotate % 180 != 0;
    const double w = turned ? 300 : 400, h = turned ? 400 : 300;  // as shown
    Raster r = Render(dir / "out.pdf", dir, {0, 0, w, h});
    ASSERT_EQ(r.width, static_cast<int>(w));
    // Points counted from the shown top-left corner.
    auto at = [&](double x, double y) { return r.At(x, h - y); };
    EXPECT_RGB(at(10, 10), 255, 0, 0);
    EXPECT_RGB(at(50, 20), 0, 0, 255);
    EXPECT_RGB(at(w - 30, h - 5), 255, 0, 0);
    EXPECT_RGB(at(w - 10, h - 15), 0, 0, 255);
    EXPECT_RGB(at(w - 45, h - 5), 255, 255, 255);
    EXPECT_RGB(at(125, 70), 0, 128, 0);
    EXPECT_RGB(at(125, 90), 255, 255, 255);
    EXPECT_RGB(at(160, 70), 255, 255, 255);
    EXPECT_EQ(r.errors, "");
  }
}

// One stamp over pages of one size that are turned differently: on every page it is upright and
// where it was asked, as pdftoppm shows each page (not where the first page's turn would put it).
TEST(StampTest, OneStampOverPagesOfOneSizeTurnedDifferently) {
  SV_REQUIRE_JUDGES("qpdf", "pdftoppm");
  const struct {
    double width, height;
    std::vector<int> rotates;
  } cases[] = {{400, 300, {0, 180, 0, 180}}, {300, 300, {90, 270, 0, 180, 270}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.width)) + " x " +
                 std::to_string(static_cast<int>(c.height)));
    TempDir dir;
    doctest::PdfBuilder b;
    b.Add("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < c.rotates.size(); ++i)
      kids += std::to_string(3 + i) + " 0 R ";
    b.Add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(c.rotates.size()) +
          " >>");
    for (int rotate : c.rotates)
      b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " +
            std::to_string(static_cast<int>(c.width)) + " " +
            std::to_string(static_cast<int>(c.height)) + "] /Rotate " + std::to_string(rotate) +
            " /Resources << /ProcSet [/PDF] >> >>");
    auto doc = LoadFixture(b.Build(), dir);
    doc->SetMeasurementUnit(muPoints);
    auto topLeft = ImageAt(0, 0, 60, 30);
    topLeft->HorizontalPosition = 0;
    topLeft->VerticalPosition = 0;
    TzoRectangleWatermarkTemplate rect;  // 50 x 20 points, 100 from the left, 60 from the top
    rect.TopLeft = {100, 60};
    rect.BottomRight = {150, 80};
    rect.LineColor = kNoColor;
    rect.FillColor = 0x008000;
    TzoCompositeWatermarkTemplate all;
    all.Templates = {topLeft.get(), &rect};
    doc->InsertWatermark(all, "");
    Save(*doc, dir / "out.pdf");

    for (size_t i = 0; i < c.rotates.size(); ++i) {
      SCOPED_TRACE("page " + std::to_string(i + 1) + ", /Rotate " + std::to_string(c.rotates[i]));
      const bool turned = c.rotates[i] % 180 != 0;
      const double w = turned ? c.height : c.width, h = turned ? c.width : c.height;
      Raster r = Render(dir / "out.pdf", dir, {0, 0, w, h}, 72, static_cast<int>(i + 1));
      ASSERT_EQ(r.width, static_cast<int>(w));
      auto at = [&](double x, double y) { return r.At(x, h - y); };  // from the shown top left
      EXPECT_RGB(at(10, 10), 255, 0, 0);
      EXPECT_RGB(at(50, 20), 0, 0, 255);
      EXPECT_RGB(at(125, 70), 0, 128, 0);
      EXPECT_RGB(at(w - 10, h - 10), 255, 255, 255);
      EXPECT_RGB(at(w - 125, h - 70), 255, 255, 255);
      EXPECT_RGB(at(125, 90), 255, 255, 255);
      EXPECT_EQ(r.errors, "");
    }
  }
}

// Every shape through the driver, over a page without /Resources that leaves a scale in force
// and over a page without content: each mark where the template says, in its colour and
// opacity, drawn in the page's own user space; one opacity state per shape.
TEST(StampTest, EveryShapeOverThePage) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  TzoLineWatermarkTemplate line;
  line.StartPoint = {10, 10};
  line.EndPoint = {110, 10};
  line.LineColor = 0x0000FF;  // red
  line.LineWidth = 4;
  line.LineOpacity = 50;
  TzoCurveWaterMarkTemplate curve;
  curve.StartPoint = {10, 40};
  curve.EndPoint = {110, 40};
  curve.ControlPoint1 = {40, 20};
  curve.ControlPoint2 = {80, 60};
  curve.LineWidth = 2;
  TzoRectangleWatermarkTemplate rect;
  rect.TopLeft = {10, 100};
  rect.BottomRight = {60, 140};
  rect.LineColor = kNoColor;
  rect.FillColor = 0x00FF00;  // green
  rect.FillOpacity = 25;
  TzoCircleWaterMarkTemplate circle;
  circle.Center = {200, 120};
  circle.Radius = 20;
  circle.LineColor = 0xFF0000;  // blue
  circle.FillColor = 0x00FFFF;  // yellow
  TzoEllipseWaterMarkTemplate ellipse;
  ellipse.Center = {300, 120};
  ellipse.RadiusX = 40;
  ellipse.RadiusY = 10;
  ellipse.LineColor = kNoColor;
  ellipse.FillColor = 0xFF0000;
  TzoPolygonWatermark polygon;
  polygon.Center = {400, 120};
  polygon.Sides = 6;
  polygon.SideLength = 20;
  polygon.FillColor = 0x0000FF;
  polygon.LineOpacity = 70;
  polygon.FillOpacity = 30;

  struct Drawn {
    const TzoShapeWatermark* shape;
    std::vector<std::string> kinds;
    std::vector<double> alphas;
    std::vector<double> color;  // of the first mark
    double x, y;                // a point of the page (from the box's top-left) inside the mark
  };
  const Drawn shapes[] = {
      {&line, {"stroke_path"}, {0.5}, {1, 0, 0}, 60, 10},
      {&curve, {"stroke_path"}, {1}, {0, 0, 0}, 10, 40},
      {&rect, {"fill_path"}, {0.25}, {0, 1, 0}, 35, 120},
      {&circle, {"fill_path", "stroke_path"}, {1, 1}, {1, 1, 0}, 200, 120},
      {&ellipse, {"fill_path"}, {1}, {0, 0, 1}, 300, 120},
      {&polygon, {"fill_path", "stroke_path"}, {0.3, 0.7}, {1, 0, 0}, 400, 120},
  };
  struct Page {
    const char* name;
    Fixture f;
  };
  Fixture scaled;
  scaled.resources = false;
  scaled.ownContent = "3 0 0 3 0 0 cm 0 0 1 rg 0 0 1 1 re f";  // the scale stays in force
  Fixture empty;
  empty.contents = Contents::Absent;
  empty.box = "/MediaBox [0 0 612 792] /CropBox [20 30 600 780]";
  for (const Page& page : {Page{"scaled, no resources", scaled}, Page{"no content", empty}}) {
    SCOPED_TRACE(page.name);
    TempDir dir;
    auto doc = LoadFixture(BuildFixture(page.f), dir);
    doc->SetMeasurementUnit(muPoints);
    const TzoRectD box = doc->GetPageBox(1, muPoints);
    TzoCompositeWatermarkTemplate all;
    for (const Drawn& d : shapes)
      all.Templates.push_back(const_cast<TzoShapeWatermark*>(d.shape));
    doc->InsertWatermark(all, "1");
    Save(*doc, dir / "out.pdf");

    Trace trace = RunTrace(dir / "out.pdf", box);
    EXPECT_EQ(trace.errors, "");
    size_t count = 0;
    for (const Drawn& d : shapes)
      count += d.kinds.size();
    ASSERT_GE(trace.marks.size(), count);
    size_t i = trace.marks.size() - count;
    for (const Drawn& d : shapes) {
      for (size_t k = 0; k < d.kinds.size(); ++k, ++i) {
        const Mark& m = trace.marks[i];
        SCOPED_TRACE("mark " + std::to_string(i) + " " + m.kind);
        EXPECT_EQ(m.kind, d.kinds[k]);
        const double alpha = std::isnan(m.Num("alpha")) ? 1 : m.Num("alpha");
        EXPECT_NEAR(alpha, d.alphas[k], 0.002);
        ExpectMatrix(trace.UserMatrix(m), {1, 0, 0, 1, 0, 0});
        if (k == 0) {
          const std::vector<double> color = m.Nums("color");
          ASSERT_EQ(color.size(), 3u);
          for (size_t j = 0; j < 3; ++j)
            EXPECT_NEAR(color[j], d.color[j], 0.001);
        }
        if (m.kind == "stroke_path" && d.shape == &line) {
          EXPECT_NEAR(m.Num("linewidth"), 4, 0.001);
        }
      }
    }
    // The rectangle's path starts at its top-left corner in page space.
    const Mark& r = trace.marks[trace.marks.size() - count + 2];
    ASSERT_FALSE(r.path.empty());
    EXPECT_NEAR(r.path[0].second[0], box.X1 + 10, 0.01);
    EXPECT_NEAR(r.path[0].second[1], box.Y2 - 100, 0.01);

    Raster px = Render(dir / "out.pdf", dir, {box.X1, box.Y1, box.X2, box.Y2});
    auto at = [&](double x, double y) { return px.At(box.X1 + x, box.Y2 - y); };
    EXPECT_RGB(at(60, 10), 255, 128, 128);   // red line at 50 %
    EXPECT_RGB(at(35, 120), 191, 255, 191);  // green at 25 %
    EXPECT_RGB(at(200, 120), 255, 255, 0);
    EXPECT_RGB(at(300, 120), 0, 0, 255);
    EXPECT_RGB(at(400, 120), 255, 179, 179);  // red at 30 %
    EXPECT_RGB(at(35, 160), 255, 255, 255);
  }
}

// A composite stamps its members in order, nested composites included; a composite that holds
// itself, directly or further down, is refused before any page changes, as are a bad range, a
// page without a box, an image stamp without a picture and a polygon of two sides.
TEST(StampTest, CompositesAndRefusals) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  TempDir dir;
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
  b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
  b.Add("<< /Type /Page /Parent 2 0 R >>");  // no box at all
  const std::string pdf = b.Build();
  auto doc = LoadFixture(pdf, dir);
  doc->SetMeasurementUnit(muPoints);

  auto image = ImageAt(10, 10, 20, 20);
  TzoRectangleWatermarkTemplate rect;
  rect.TopLeft = {50, 50};
  rect.BottomRight = {60, 60};
  TzoCompositeWatermarkTemplate inner, outer, self, loopA, loopB;
  inner.Templates = {&rect, nullptr};
  outer.Templates = {image.get(), &inner, image.get()};
  self.Templates = {image.get(), &self};
  loopA.Templates = {&rect, &loopB};
  loopB.Templates = {&inner, &loopA};
  TzoImageWatermarkTemplate noPicture;
  noPicture.Width = noPicture.Height = 10;
  TzoPolygonWatermark twoSides;
  twoSides.Sides = 2;
  twoSides.SideLength = 10;

  struct Refusal {
    const char* name;
    TzoWatermarkTemplate* t;
    const char* range;
  };
  const Refusal refusals[] = {
      {"holds itself", &self, "1"},
      {"holds itself further down", &loopA, "1"},
      {"range 0", &outer, "0"},
      {"range beyond the pages", &outer, "1-3"},
      {"range that is no range", &outer, "x"},
      {"page without a box", &outer, "1-2"},
      {"image without picture", &noPicture, "1"},
      {"polygon of two sides", &twoSides, "1"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    try {
      doc->InsertWatermark(*r.t, r.range);
      ADD_FAILURE() << "not refused";
    } catch (const EPDFException& e) {
      EXPECT_FALSE(e.Message().empty());
    }
  }
  // Nothing was stamped: the first page has no content yet.
  Save(*doc, dir / "refused.pdf");
  EXPECT_EQ(QpdfJson(dir / "refused.pdf").PageStreams(0).size(), 0u);
  EXPECT_TRUE(RunTrace(dir / "refused.pdf", {0, 0, 200, 200}).marks.empty());

  doc->InsertWatermark(outer, "1");
  Save(*doc, dir / "out.pdf");
  Trace trace = RunTrace(dir / "out.pdf", {0, 0, 200, 200});
  std::vector<std::string> kinds;
  for (const Mark& m : trace.marks)
    kinds.push_back(m.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"fill_image", "stroke_path", "fill_image"}));
}

// ---- Text stamps ----

namespace {

// A text stamp in font (UTF-8 name), its top-left corner at (x, y) below the box's top-left
// corner, over the page.
std::unique_ptr<TzoTextWatermarkTemplate> TextAt(const std::u16string& text,
                                                 const std::string& font, int size,
                                                 ui::TFontCharset charset, double x, double y,
                                                 uint8_t embed = 2) {
  auto t = std::make_unique<TzoTextWatermarkTemplate>();
  t->Text = text;
  t->SetFont(MakeFont(font, size, charset));
  t->EmbedMode = embed;
  t->HorizontalPosition = 3;
  t->VerticalPosition = 3;
  t->X = x;
  t->Y = y;
  t->Layer = 1;
  return t;
}

// A document of n pages of 300 x 200 points without content, /Resources on none.
std::string Pages(int n, const std::string& pageExtra = "") {
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < n; ++i)
    kids += std::to_string(i + 4) + " 0 R ";
  b.Add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) +
        " /MediaBox [0 0 300 200] >>");
  b.Add("<< /Title (The Title) /Author (An Author) /Subject (A Subject) /Creator (A Creator) >>");
  for (int i = 0; i < n; ++i)
    b.Add("<< /Type /Page /Parent 2 0 R " + pageExtra + " >>");
  b.trailerExtra = "/Info 3 0 R";
  return b.Build();
}

// pdftotext of each page (split at its form feeds), blanks and line ends folded to one blank;
// none when pdftotext fails.
std::vector<std::string> PageTexts(const std::string& path, const std::string& password = "") {
  const std::string all = PdfText(path, password).value_or("");
  std::vector<std::string> pages;
  std::string cur;
  bool blank = false;
  for (char c : all) {
    if (c == '\f') {
      while (!cur.empty() && cur.back() == ' ')
        cur.pop_back();
      pages.push_back(cur);
      cur.clear();
      blank = false;
    } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      blank = !cur.empty();
    } else {
      if (blank) cur += ' ';
      blank = false;
      cur += c;
    }
  }
  return pages;
}

}  // namespace

// The variables of a text stamp, filled in for each page of the range: the page number and
// count in any case, the document information, custom variables through the handler with the
// page number; without a handler a custom variable stays.
TEST(StampTest, TextVariablesPerPage) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadFixture(Pages(4), dir);
  doc->SetMeasurementUnit(muPoints);
  auto t = TextAt(u"<%pageno%>/<%TotPage%> <%Title%>; <%AUTHOR%>; <%Subject%>; <%Creator%>",
                  "Arial", 10, ui::ANSI_CHARSET, 10, 10, 1);
  doc->InsertWatermark(*t, "2-3");
  // The template ends with its own text, its placement as it was.
  EXPECT_EQ(t->Text, u"<%pageno%>/<%TotPage%> <%Title%>; <%AUTHOR%>; <%Subject%>; <%Creator%>");
  EXPECT_EQ(t->X, 10);
  EXPECT_EQ(t->HorizontalPosition, 3);
  auto custom = TextAt(u"[<%Customer%>] [<%customer%>]", "Arial", 10, ui::ANSI_CHARSET, 10, 40, 1);
  doc->InsertWatermark(*custom, "1");
  std::vector<std::pair<std::u16string, int32_t>> asked;
  doc->OnCalcVariables = [&](TzoCustomPDFDocument*, const std::u16string& name,
                             std::u16string& value, int32_t page) {
    asked.emplace_back(name, page);
    value = u"ACME " + std::u16string(1, static_cast<char16_t>(u'0' + page));
  };
  custom->Text = u"[<%Customer%>] [<%customer%>]";
  doc->InsertWatermark(*custom, "3,4");
  Save(*doc, dir / "out.pdf");

  EXPECT_EQ(PageTexts(dir / "out.pdf"),
            (std::vector<std::string>{
                "[<%Customer%>] [<%customer%>]", "2/4 The Title; An Author; A Subject; A Creator",
                "3/4 The Title; An Author; A Subject; A Creator [ACME 3] [ACME 3]",
                "[ACME 4] [ACME 4]"}));
  // Asked once per page: the lower-case form is the same variable.
  EXPECT_EQ(asked,
            (std::vector<std::pair<std::u16string, int32_t>>{{u"Customer", 3}, {u"Customer", 4}}));
}

// A template is used again as it was made: its variables are filled in afresh for every call,
// also after a call that raised; a composite's member as well (pdftotext of each page).
TEST(StampTest, ATemplateUsedAgainFillsItsVariablesAgain) {
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadFixture(Pages(5), dir);
  doc->SetMeasurementUnit(muPoints);
  const std::u16string text = u"Page <%PageNo%> of <%TotPage%>";
  auto t = TextAt(text, "Arial", 10, ui::ANSI_CHARSET, 10, 10, 0);
  doc->InsertWatermark(*t, "1");
  EXPECT_EQ(t->Text, text);
  doc->InsertWatermark(*t, "2-3");
  EXPECT_EQ(t->Text, text);
  // A font resource the library does not make raises after the pages' texts are filled in.
  t->EncodingIndex = 3;
  EXPECT_THROW(doc->InsertWatermark(*t, "4"), EUnsupportedFontError);
  EXPECT_EQ(t->Text, text);
  t->EncodingIndex = 0;
  TzoCompositeWatermarkTemplate both;
  both.Templates.push_back(t.get());
  doc->InsertWatermark(both, "4");
  doc->InsertWatermark(both, "5");
  EXPECT_EQ(t->Text, text);
  Save(*doc, dir / "out.pdf");
  EXPECT_EQ(PageTexts(dir / "out.pdf"),
            (std::vector<std::string>{"Page 1 of 5", "Page 2 of 5", "Page 3 of 5", "Page 4 of 5",
                                      "Page 5 of 5"}));
}

// The custom-variable scan goes on after each value it inserts: a handler that answers with the
// variable itself, or with another variable, ends; marks with nothing between them are no
// variable; an inner "<%" starts the variable.
TEST(StampTest, VariableScanEndsWhateverTheHandlerAnswers) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadFixture(Pages(1), dir);
  doc->SetMeasurementUnit(muPoints);
  std::vector<std::u16string> asked;
  doc->OnCalcVariables = [&](TzoCustomPDFDocument*, const std::u16string& name,
                             std::u16string& value, int32_t) {
    asked.push_back(name);
    if (name == u"Self") value = u"<%Self%>";
    if (name == u"Other") value = u"<%Self%><%Other%>";
    if (name == u"b") value = u"B";
  };
  auto t = TextAt(u"<%Self%> <%Other%> <%%> <%> <%a<%b%> <%Gone%>.", "Arial", 10, ui::ANSI_CHARSET,
                  10, 10, 1);
  doc->InsertWatermark(*t, "");
  EXPECT_EQ(t->Text, u"<%Self%> <%Other%> <%%> <%> <%a<%b%> <%Gone%>.");
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"Self", u"Other", u"b", u"Gone"}));
  Save(*doc, dir / "out.pdf");
  EXPECT_EQ(PageTexts(dir / "out.pdf"),
            std::vector<std::string>{"<%Self%> <%Self%><%Other%> <%%> <%> <%aB ."});
}

// Dates and times come in the Japanese formats, from one reading of the clock taken during the
// call.
TEST(StampTest, DateAndTimeVariables) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadFixture(Pages(1), dir);
  doc->SetMeasurementUnit(muPoints);
  auto t = TextAt(u"<%ShortDate%>|<%ShortTime%>|<%LongDate%>|<%LongTime%>", "ＭＳ ゴシック", 10,
                  ui::SHIFTJIS_CHARSET, 10, 10);
  auto now = [] {
    std::time_t s = std::time(nullptr);
    std::tm tm{};
    localtime_r(&s, &tm);
    return tm;
  };
  const std::tm before = now();
  doc->InsertWatermark(*t, "1");
  const std::tm after = now();
  Save(*doc, dir / "out.pdf");
  const std::vector<std::string> texts = PageTexts(dir / "out.pdf");
  ASSERT_EQ(texts.size(), 1u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(texts[0], m,
                               std::regex("(\\d{4})/(\\d{2})/(\\d{2})\\|(\\d{1,2}):(\\d{2})\\|"
                                          "(\\d{4})年(\\d{1,2})月(\\d{1,2})日\\|"
                                          "(\\d{1,2}):(\\d{2}):(\\d{2})")))
      << texts[0];
  auto n = [&](int i) { return std::stoi(m[i].str()); };
  // One reading: the two dates and the two times agree.
  EXPECT_EQ(n(1), n(6));
  EXPECT_EQ(n(2), n(7));
  EXPECT_EQ(n(3), n(8));
  EXPECT_EQ(n(4), n(9));
  EXPECT_EQ(n(5), n(10));
  // And it lies between the moments before and after the call.
  auto minutes = [](int y, int mo, int d, int h, int mi) {
    return (((static_cast<int64_t>(y) * 13 + mo) * 32 + d) * 24 + h) * 60 + mi;
  };
  const int64_t got = minutes(n(1), n(2), n(3), n(4), n(5));
  EXPECT_GE(got, minutes(before.tm_year + 1900, before.tm_mon + 1, before.tm_mday, before.tm_hour,
                         before.tm_min));
  EXPECT_LE(got, minutes(after.tm_year + 1900, after.tm_mon + 1, after.tm_mday, after.tm_hour,
                         after.tm_min));
}

// A subset font holds the glyphs of every page's text: the page numbers, which only the pages
// have, are drawn on every page (poppler draws nothing for a glyph the subset lacks).
TEST(StampTest, SubsetHoldsEveryPagesGlyphs) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadFixture(Pages(10), dir);
  doc->SetMeasurementUnit(muPoints);
  auto t = TextAt(u"頁<%PageNo%>", "ＭＳ ゴシック", 40, ui::SHIFTJIS_CHARSET, 10, 10);
  doc->InsertWatermark(*t, "");
  Save(*doc, dir / "out.pdf");
  const std::vector<std::string> texts = PageTexts(dir / "out.pdf");
  ASSERT_EQ(texts.size(), 10u);
  for (int p = 1; p <= 10; ++p) {
    SCOPED_TRACE("page " + std::to_string(p));
    EXPECT_EQ(texts[static_cast<size_t>(p - 1)], "頁" + std::to_string(p));
    Raster r = Render(dir / "out.pdf", dir, {0, 0, 300, 200}, 72, p);
    // Ink to the right of the first character (50 .. 100 across, 10 .. 50 down).
    int dark = 0;
    for (int x = 52; x < 100; ++x)
      for (int y = 12; y < 50; ++y)
        if (r.At(x, 200 - y).r < 128) ++dark;
    EXPECT_GT(dark, 40);
  }
  // One font, embedded as a subset with its ToUnicode map.
  CommandResult fonts = RunCommand({"pdffonts", dir / "out.pdf"});
  EXPECT_EQ(std::count(fonts.out.begin(), fonts.out.end(), '\n'), 3) << fonts.out;
  EXPECT_TRUE(std::regex_search(fonts.out, std::regex("[A-Z]{6}\\+\\S+ +CID TrueType +Identity-H +"
                                                      "yes +yes +yes")))
      << fonts.out;
}

// A font of this library that a page already holds is used on that page only; the other pages
// get the call's own font, made once. Every page names only fonts it has.
TEST(StampTest, FontsFoundOnAPageServeThatPageOnly) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  auto doc = LoadFixture(Pages(3), dir);
  doc->SetMeasurementUnit(muPoints);
  auto first = TextAt(u"first", "Arial", 12, ui::ANSI_CHARSET, 10, 10, 1);
  doc->InsertWatermark(*first, "2");
  auto second = TextAt(u"second <%PageNo%>", "Arial", 12, ui::ANSI_CHARSET, 10, 60, 1);
  doc->InsertWatermark(*second, "1-3");
  Save(*doc, dir / "out.pdf");

  QpdfJson json(dir / "out.pdf");
  std::vector<std::string> names, refs;
  for (int p = 0; p < 3; ++p) {
    const doctest::Json* fonts = json.PageResourceCategory(p, "/Font");
    ASSERT_TRUE(fonts) << "page " << p + 1;
    ASSERT_EQ(fonts->members.size(), 1u) << "page " << p + 1;
    names.push_back(fonts->members[0].first);
    refs.push_back(fonts->members[0].second.s);
  }
  EXPECT_NE(refs[1], refs[0]);  // page 2 keeps the font of the first stamp
  EXPECT_EQ(refs[2], refs[0]);  // pages 1 and 3 share the call's own
  for (int p = 1; p <= 3; ++p) {
    Trace trace = RunTrace(dir / "out.pdf", {0, 0, 300, 200}, p);
    EXPECT_EQ(trace.errors, "") << "page " << p;
  }
  EXPECT_EQ(PageTexts(dir / "out.pdf"),
            (std::vector<std::string>{"second 1", "first second 2", "second 3"}));
}

// A translucent text stamp on pages without /Resources, under the content, upright on a turned
// page; an empty text changes nothing at all.
TEST(StampTest, TextOnBarePagesAndTurnedPages) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm", "pdffonts");
  SV_REQUIRE_TEST_FONTS();
  for (int rotate : {0, 90, 270}) {
    SCOPED_TRACE("/Rotate " + std::to_string(rotate));
    TempDir dir;
    auto doc = LoadFixture(Pages(1, "/Rotate " + std::to_string(rotate)), dir);
    doc->SetMeasurementUnit(muPoints);
    auto empty = TextAt(u"", "Arial", 12, ui::ANSI_CHARSET, 0, 0);
    doc->InsertWatermark(*empty, "1");
    EXPECT_EQ(doc->SaveStateObjectNumber(), -1);
    auto t = TextAt(u"社外秘", "ＭＳ ゴシック", 30, ui::SHIFTJIS_CHARSET, 20, 20);
    t->Opacity = 50;
    t->Layer = 0;
    t->Angle = -360;
    doc->InsertWatermark(*t, "");
    EXPECT_EQ(t->Angle, -360);
    Save(*doc, dir / "out.pdf");
    Trace trace = RunTrace(dir / "out.pdf", {0, 0, 300, 200});
    EXPECT_EQ(trace.errors, "");
    std::vector<const Mark*> text = trace.Of("fill_text");
    ASSERT_EQ(text.size(), 1u);
    EXPECT_NEAR(text[0]->Num("alpha"), 0.5, 0.01);
    // Upright as shown: mutool's device space is the page as shown.
    const std::vector<double> m = text[0]->Nums("transform");
    ASSERT_EQ(m.size(), 6u);
    EXPECT_NEAR(m[1], 0, 1e-3);
    EXPECT_NEAR(m[2], 0, 1e-3);
    EXPECT_GT(m[0], 0);
    EXPECT_LT(m[3], 0);
    const bool turned = rotate % 180 != 0;
    Raster r = Render(dir / "out.pdf", dir, {0, 0, turned ? 200.0 : 300, turned ? 300.0 : 200});
    // The first character lies about 20 .. 50 across and 20 .. 50 down from the shown corner.
    int grey = 0;
    for (int x = 20; x < 50; ++x)
      for (int y = 20; y < 50; ++y) {
        const Rgb c = r.At(x, (turned ? 300 : 200) - y);
        if (c.r < 200 && c.r > 60) ++grey;
      }
    EXPECT_GT(grey, 20);
  }
}

namespace {

// The words pdftotext -bbox finds on page page, with their boxes (y down from the top of the
// page as shown) and the size of that page.
struct Word {
  std::string text;
  double xMin, yMin, xMax, yMax;
};
struct BboxPage {
  double width = 0, height = 0;
  std::vector<Word> words;
};

BboxPage WordBoxes(const std::string& path, int page, const std::string& password = "") {
  std::vector<std::string> argv = {"pdftotext",          "-bbox", "-f",
                                   std::to_string(page), "-l",    std::to_string(page)};
  if (!password.empty()) argv.insert(argv.end(), {"-upw", password});
  argv.insert(argv.end(), {path, "-"});
  CommandResult r = RunCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  BboxPage out;
  std::smatch m;
  if (std::regex_search(r.out, m, std::regex(R"re(<page width="([0-9.]+)" height="([0-9.]+)")re")))
    out.width = std::stod(m[1]), out.height = std::stod(m[2]);
  const std::regex word(
      R"re(<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>)re");
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), word);
       it != std::sregex_iterator(); ++it)
    out.words.push_back({(*it)[5], std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]),
                         std::stod((*it)[4])});
  return out;
}

}  // namespace

// A crop box larger than the media box: the page shown is the media box, and stamps placed at
// its corners and bottom centre lie on it where they lie on a page of that size without the
// larger crop box, whether the crop box is the page's own or inherited from the page tree
// (pdftotext -bbox).
TEST(StampTest, CropBoxLargerThanTheMediaBox) {
  SV_REQUIRE_TEST_FONTS();
  TempDir dir;
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R 4 0 R 6 0 R] /Count 3 /CropBox [0 0 612 792] >>");
  b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 306 396] /CropBox [0 0 612 792] >>");
  b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 306 396] >>");
  b.Add("<< /Type /Pages /Parent 2 0 R /Kids [7 0 R] /Count 1 >>");
  // The same page size without a crop box: where the stamps belong.
  b.Add("<< /Type /Page /Parent 6 0 R /MediaBox [0 0 306 396] /CropBox [0 0 306 396] >>");
  auto doc = LoadFixture(b.Build(), dir);
  doc->SetMeasurementUnit(muPoints);
  for (int page : {1, 2, 3}) {
    EXPECT_EQ(doc->GetPageSize(page, muPoints).Width, 306);
    EXPECT_EQ(doc->GetPageSize(page, muPoints).Height, 396);
  }
  struct Stamp {
    const char16_t* text;
    uint8_t h, v;
  };
  const Stamp stamps[] = {
      {u"Bottom", 1, 2}, {u"TL", 0, 0}, {u"TR", 2, 0}, {u"BL", 0, 2}, {u"BR", 2, 2}};
  for (const Stamp& s : stamps) {
    auto t = TextAt(s.text, "Arial", 12, ui::ANSI_CHARSET, 0, 0, 0);
    t->HorizontalPosition = s.h;
    t->VerticalPosition = s.v;
    doc->InsertWatermark(*t, "");
  }
  Save(*doc, dir / "out.pdf");
  const BboxPage plain = WordBoxes(dir / "out.pdf", 3);
  ASSERT_EQ(plain.words.size(), 5u);
  for (int page : {1, 2}) {
    SCOPED_TRACE("page " + std::to_string(page));
    const BboxPage shown = WordBoxes(dir / "out.pdf", page);
    ASSERT_EQ(shown.words.size(), plain.words.size());
    for (size_t i = 0; i < plain.words.size(); ++i) {
      EXPECT_EQ(shown.words[i].text, plain.words[i].text);
      EXPECT_NEAR(shown.words[i].xMin, plain.words[i].xMin, 0.01);
      EXPECT_NEAR(shown.words[i].yMin, plain.words[i].yMin, 0.01);
      EXPECT_NEAR(shown.words[i].xMax, plain.words[i].xMax, 0.01);
      EXPECT_NEAR(shown.words[i].yMax, plain.words[i].yMax, 0.01);
    }
    EXPECT_EQ(shown.width, 306);
    EXPECT_EQ(shown.height, 396);
    std::map<std::string, Word> found;
    for (const Word& w : shown.words) {
      SCOPED_TRACE(w.text);
      EXPECT_GE(w.xMin, -0.5);
      EXPECT_LE(w.xMax, 306.5);
      EXPECT_GE(w.yMin, -0.5);
      EXPECT_LE(w.yMax, 396 + 4);  // the font's descent may reach below the bottom edge
      found[w.text] = w;
    }
    ASSERT_EQ(found.size(), 5u);
    EXPECT_NEAR((found["Bottom"].xMin + found["Bottom"].xMax) / 2, 153, 1);
    EXPECT_NEAR(found["Bottom"].yMax, 396, 4);
    EXPECT_NEAR(found["TL"].xMin, 0, 1);
    EXPECT_NEAR(found["TL"].yMin, 0, 4);
    EXPECT_NEAR(found["TR"].xMax, 306, 1);
    EXPECT_NEAR(found["TR"].yMin, 0, 4);
    EXPECT_NEAR(found["BL"].xMin, 0, 1);
    EXPECT_NEAR(found["BL"].yMax, 396, 4);
    EXPECT_NEAR(found["BR"].xMax, 306, 1);
    EXPECT_NEAR(found["BR"].yMax, 396, 4);
  }
}

// ---- Every file of the corpus ----

namespace {

// The files of the corpus that the library refuses to open: AES and crypt filters, a file of
// five bytes, user passwords the names do not give, and damaged files beyond repair.
bool RefusedAtLoad(const std::string& name) {
  static const char* refused[] = {"V4-aes.pdf",
                                  "V4.pdf",
                                  "bad1.pdf",
                                  "c-r2.pdf",
                                  "c-r3.pdf",
                                  "encrypted-40-bit-R3.pdf",
                                  "append-xref-loop.pdf",
                                  "bad-xref.pdf",
                                  "bad13.pdf",
                                  "bad33.pdf",
                                  "leading-junk.pdf"};
  return std::find(std::begin(refused), std::end(refused), name) != std::end(refused) ||
         name.rfind("enc-XI-R6", 0) == 0 || name.rfind("aes-", 0) == 0;
}

// The WARNING lines of qpdf --check.
size_t QpdfWarningCount(const std::string& path, const std::string& password) {
  std::vector<std::string> argv = {"qpdf", "--check"};
  if (!password.empty()) argv.push_back("--password=" + password);
  argv.push_back(path);
  CommandResult r = RunCommand(argv);
  const std::string all = r.out + r.err;
  size_t n = 0;
  for (size_t at = all.find("WARNING"); at != std::string::npos; at = all.find("WARNING", at + 1))
    ++n;
  return n;
}

// Page page rendered in grey at 24 dpi: width, height and the samples.
struct Grey {
  int width = 0, height = 0;
  std::string samples;
};

Grey RenderGrey(const std::string& path, const std::string& password, int page,
                const std::string& out) {
  std::vector<std::string> argv = {
      "pdftoppm",           "-r",         "24", "-gray", "-f", std::to_string(page), "-l",
      std::to_string(page), "-singlefile"};
  if (!password.empty()) {
    argv.push_back("-upw");
    argv.push_back(password);
  }
  argv.push_back(path);
  argv.push_back(out);
  Grey g;
  if (RunCommand(argv).exitCode != 0 || !FileExists(out + ".pgm")) return g;
  const std::string pgm = ReadFile(out + ".pgm");
  int maxValue = 0, used = 0;
  if (std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &g.width, &g.height, &maxValue, &used) == 3)
    g.samples = pgm.substr(static_cast<size_t>(used) + 1);
  return g;
}

// "" when the top three quarters of the two renderings are equal and the bottom quarter differs
// (the stamp is there); else what is wrong.
std::string CompareRendering(const Grey& before, const Grey& after) {
  if (after.samples.empty()) return "pdftoppm failed";
  if (before.width != after.width || before.height != after.height) return "page size changed";
  const size_t row = static_cast<size_t>(before.width);
  const size_t top = row * static_cast<size_t>(before.height * 3 / 4);
  if (before.samples.compare(0, top, after.samples, 0, top) != 0)
    return "the page outside the stamp renders differently";
  if (before.samples.compare(top, std::string::npos, after.samples, top, std::string::npos) == 0)
    return "the stamp is not drawn";
  return "";
}

}  // namespace

// Every readable file of the corpus, plain and encrypted, gets "社外秘 P / N" at the bottom of
// every page in an embedded subset font at 50 % opacity, and is saved: qpdf --check finds
// nothing new, the page count stays, pdftotext finds "P / N" on page P, pdffonts shows the
// subset with its ToUnicode map, and the first and last pages render as before outside the
// stamp. Files the library refuses stay refused and unchanged. Prints a table: file, outcome,
// reason.
TEST(StampCorpusTest, EveryCorpusFileStampedOnEveryPage) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_TEST_FONTS();
  TempDir tmp;
  struct Row {
    std::string file, outcome, reason;
  };
  std::vector<Row> rows;
  int index = 0;
  for (const std::string& path : doctest::AllCorpusFiles()) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const std::string folder = path.substr(0, path.find_last_of('/'));
    Row row{folder.substr(folder.find_last_of('/') + 1) + "/" + name, "stamped", ""};
    auto fail = [&](const std::string& why) {
      row.outcome = "FAILED";
      row.reason += (row.reason.empty() ? "" : "; ") + why;
    };
    const std::string dir = tmp / (std::to_string(index++) + "/");
    std::filesystem::create_directories(dir);
    const std::string work = dir + name, out = dir + "stamped.pdf";
    CopyFile(path, work);
    const std::string owner = doctest::PasswordFromName(name, true);
    const std::string user = doctest::PasswordFromName(name, false);

    auto doc = TzoPDFDocument::Create();
    doc->SetShowSetupDialog(false);
    doc->OnPassword = [&](rtl::TObject*, std::string& password, bool& cont, int32_t tries) {
      if (tries == 0)
        password = owner;
      else if (tries == 1 && user != owner)
        password = user;
      else
        cont = false;
    };
    bool loaded = false;
    try {
      loaded = doc->LoadFromFile(work);
      if (!loaded) row.reason = "password refused";
    } catch (const rtl::Exception& e) {
      row.reason = e.Message();
    }
    if (!loaded) {
      row.outcome = "refused";
      if (!RefusedAtLoad(name)) fail("must be stamped");
      if (ReadFile(work) != ReadFile(path)) fail("refused file changed");
      rows.push_back(row);
      continue;
    }
    if (RefusedAtLoad(name)) fail("loaded, but refused before");
    // Opened with the user password only: saved with its own encryption.
    std::string outPassword;
    if (doc->Encryption().CanChange())
      doc->Encryption().SetEnabled(false);
    else
      outPassword = user;

    const int32_t pages = doc->PageCount();
    TzoTextWatermarkTemplate t;
    t.Text = u"社外秘 <%PageNo%> / <%TotPage%>";
    t.SetFont(MakeFont("ＭＳ ゴシック", 14, ui::SHIFTJIS_CHARSET));
    t.EmbedMode = 2;
    t.Opacity = 50;
    t.Layer = 1;
    t.HorizontalPosition = 1;
    t.VerticalPosition = 2;
    try {
      doc->InsertWatermark(t, "");
      if (!doc->SaveToFile(out, 2)) fail("not saved");
    } catch (const std::exception& e) {
      fail(std::string("stamp or save: ") + e.what());
    }
    if (row.outcome == "FAILED") {
      rows.push_back(row);
      continue;
    }

    const std::string inPassword = owner.empty() ? user : owner;
    if (QpdfWarningCount(out, outPassword) > QpdfWarningCount(path, inPassword))
      fail("qpdf --check: " + QpdfCheck(out, outPassword));
    if (PdfInfo(out, outPassword)["Pages"] != std::to_string(pages)) fail("page count changed");
    const std::vector<std::string> texts = PageTexts(out, outPassword);
    if (texts.size() != static_cast<size_t>(pages)) fail("pdftotext pages differ");
    for (int32_t p = 1; p <= pages && p <= static_cast<int32_t>(texts.size()); ++p) {
      const std::string& text = texts[static_cast<size_t>(p - 1)];
      if (text.find(std::to_string(p) + " / " + std::to_string(pages)) == std::string::npos ||
          text.find("社外秘") == std::string::npos) {
        fail("page " + std::to_string(p) + " lacks its stamp text");
        break;
      }
    }
    std::vector<std::string> fontsArgv = {"pdffonts"};
    if (!outPassword.empty()) fontsArgv.insert(fontsArgv.end(), {"-upw", outPassword});
    fontsArgv.push_back(out);
    const std::string fonts = RunCommand(fontsArgv).out;
    if (!std::regex_search(fonts, std::regex("[A-Z]{6}\\+\\S+ +CID TrueType +Identity-H +yes +"
                                             "yes +yes")))
      fail("pdffonts shows no subset with a ToUnicode map");
    for (int32_t p : {1, pages}) {
      const Grey before = RenderGrey(path, user, p, dir + "a" + std::to_string(p));
      const Grey after = RenderGrey(out, outPassword, p, dir + "b" + std::to_string(p));
      if (before.samples.empty() && !after.samples.empty()) {
        // poppler cannot open the input itself: the output renders, nothing to compare with.
        if (row.reason.empty()) row.reason = "the input does not render in poppler";
        continue;
      }
      const std::string verdict = CompareRendering(before, after);
      if (!verdict.empty()) fail("page " + std::to_string(p) + ": " + verdict);
    }
    rows.push_back(row);
    std::filesystem::remove_all(dir);
  }

  size_t width = 4;
  for (const Row& r : rows)
    width = std::max(width, r.file.size());
  std::string table = "\n";
  char line[2048];
  std::snprintf(line, sizeof line, "%-*s  %-8s  %s\n", static_cast<int>(width), "file", "outcome",
                "reason");
  table += line;
  int stamped = 0, refused = 0, failed = 0;
  for (const Row& r : rows) {
    std::snprintf(line, sizeof line, "%-*s  %-8s  %.1500s\n", static_cast<int>(width),
                  r.file.c_str(), r.outcome.c_str(), r.reason.c_str());
    table += line;
    stamped += r.outcome == "stamped";
    refused += r.outcome == "refused";
    failed += r.outcome == "FAILED";
  }
  std::printf("%s%zu files: %d stamped, %d refused, %d failed\n", table.c_str(), rows.size(),
              stamped, refused, failed);
  EXPECT_EQ(failed, 0) << table;
}
