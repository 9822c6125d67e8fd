// InsertWatermark end to end: image, shape and composite stamps on small pages in every
// /Contents form, without /Resources, on a crop box with an offset origin, on turned pages and
// on a page that leaves a `cm` in force, loaded, stamped and saved through the public API and
// judged by qpdf, mutool trace and pdftoppm.
#include <gtest/gtest.h>

#include <cmath>

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

// Every shape through the driver, over a page without /Resources that leaves a scale in force
// and over a page without content: each mark where the template says, in its colour and
// opacity, drawn in the page's own user space; one opacity state per shape.
TEST(StampTest, EveryShapeOverThePage) {
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
