// Shape stamps: what mutool traces of every shape (points, colours, opacity, line width) on a
// crop-box page whose content leaves a scale in force, on a page with a negative origin and on a
// real file; the painting rules; polygons; and pixels as poppler draws them.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <regex>

#include "tests/pdf/document/StampTestSupport.h"

using namespace sv::test;
using namespace stamptest;

namespace {

struct P {
  double x, y;
};

// What a shape must leave in the trace: the mark kinds with their colours and opacities, the
// line width, and the path's points in user space (each operator's points in order).
struct Expected {
  std::vector<std::string> kinds;           // "fill_path", "stroke_path"
  std::vector<std::vector<double>> colors;  // one per kind
  std::vector<double> alphas;               // one per kind
  double lineWidth = 0;
  std::vector<std::pair<std::string, std::vector<P>>> path;
};

double Alpha(const Mark& m) {
  const double a = m.Num("alpha");
  return std::isnan(a) ? 1 : a;
}

// Checks mark m against kind number k of the expectation e.
void ExpectMark(const Trace& trace, const Mark& m, const Expected& e, size_t k) {
  EXPECT_EQ(m.kind, e.kinds[k]);
  const std::vector<double> color = m.Nums("color");
  ASSERT_EQ(color.size(), e.colors[k].size());
  for (size_t j = 0; j < color.size(); ++j)
    EXPECT_NEAR(color[j], e.colors[k][j], 0.001);
  EXPECT_NEAR(Alpha(m), e.alphas[k], 0.002);
  // The page's own scale does not reach the stamp: user space is the page's.
  const std::vector<double> ctm = trace.UserMatrix(m);
  ASSERT_EQ(ctm.size(), 6u);
  for (size_t j = 0; j < 6; ++j)
    EXPECT_NEAR(ctm[j], (j == 0 || j == 3) ? 1 : 0, 1e-4);
  if (m.kind == "stroke_path") {
    EXPECT_NEAR(m.Num("linewidth"), e.lineWidth, 0.001);
  }
  ASSERT_EQ(m.path.size(), e.path.size());
  for (size_t j = 0; j < m.path.size(); ++j) {
    EXPECT_EQ(m.path[j].first, e.path[j].first) << j;
    ASSERT_EQ(m.path[j].second.size(), e.path[j].second.size() * 2) << j;
    for (size_t q = 0; q < e.path[j].second.size(); ++q) {
      EXPECT_NEAR(m.path[j].second[2 * q], e.path[j].second[q].x, 0.01) << j;
      EXPECT_NEAR(m.path[j].second[2 * q + 1], e.path[j].second[q].y, 0.01) << j;
    }
  }
}

// The last marks of the trace against the expectations, shape after shape.
void ExpectLastMarks(const Trace& trace, const std::vector<Expected>& shapes) {
  size_t count = 0;
  for (const Expected& e : shapes)
    count += e.kinds.size();
  ASSERT_GE(trace.marks.size(), count);
  size_t i = trace.marks.size() - count;
  for (size_t s = 0; s < shapes.size(); ++s) {
    SCOPED_TRACE("shape " + std::to_string(s));
    for (size_t k = 0; k < shapes[s].kinds.size(); ++k)
      ExpectMark(trace, trace.marks[i++], shapes[s], k);
  }
}

// The path of an ellipse as mutool reports it: four curves from the lowest point.
std::vector<std::pair<std::string, std::vector<P>>> EllipsePath(P c, double rx, double ry) {
  const double k = 4 * (std::sqrt(2.0) - 1) / 3, kx = rx * k, ky = ry * k;
  return {{"moveto", {{c.x, c.y - ry}}},
          {"curveto", {{c.x + kx, c.y - ry}, {c.x + rx, c.y - ky}, {c.x + rx, c.y}}},
          {"curveto", {{c.x + rx, c.y + ky}, {c.x + kx, c.y + ry}, {c.x, c.y + ry}}},
          {"curveto", {{c.x - kx, c.y + ry}, {c.x - rx, c.y + ky}, {c.x - rx, c.y}}},
          {"curveto", {{c.x - rx, c.y - ky}, {c.x - kx, c.y - ry}, {c.x, c.y - ry}}}};
}

// Stamps shape over page 1 with its own opacity state (none when both are 100).
void Stamp(TzoCustomPDFDocument& doc, const TzoShapeWatermark& shape, int stroke, int fill) {
  std::string gs;
  if (stroke != 100 || fill != 100) {
    gs = NewGStateResourceName([&](const std::string& n) { return doc.PageHasResourceName(0, n); });
    doc.AddPageExtGState(0, gs, AddOpacity(doc, stroke / 100.0, fill / 100.0).get());
  }
  const std::string text = doc.DrawShape(shape, 1, gs);
  // Numbers never take the exponent form.
  EXPECT_FALSE(std::regex_search(text, std::regex("[0-9.][eE]"))) << text;
  doc.AddPageContent(0, AddContentStream(doc, text), 1);
}

}  // namespace

TEST(ShapesTest, LineText) {
  TempDir dir;
  auto doc = LoadFixture(BuildFixture(Contents::Reference), dir);
  TzoLineWatermarkTemplate line;
  line.StartPoint = {10, 10};
  line.EndPoint = {110, 10};
  doc->SetMeasurementUnit(muPoints);
  EXPECT_EQ(doc->DrawShape(line, 1, ""),
            "q\r1 w\r0.0000 0.0000 0.0000 RG\r10 782 m 110 782 l\rS\rQ\r");
  line.LineColor = kNoColor;
  line.LineWidth = 0.25;
  EXPECT_EQ(doc->DrawShape(line, 1, "/GS7"),
            "q\r/GS7 gs\r0.25 w\r0.0000 0.0000 0.0000 RG\r10 782 m 110 782 l\rS\rQ\r");
  // The base classes draw nothing.
  EXPECT_EQ(doc->DrawShape(TzoShapeWatermark(), 1, ""), "");
  EXPECT_EQ(doc->DrawShape(TzoClosedShapeWatermark(), 1, ""), "");
  EXPECT_THROW(doc->DrawShape(line, 2, ""), EInvalidPageError);
}

TEST(ShapesTest, EveryShapeLandsWhereItsTemplateSays) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  struct Page {
    const char* what;
    std::string file;  // "" for the fixture
    Fixture fixture;
    TzoMeasurementUnit unit;
    double ptPerUnit;
  };
  Fixture cropped;
  cropped.box = "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]";
  cropped.ownContent = "2 0 0 2 0 0 cm 1 0 0 rg 0.5 w";  // left in force
  Fixture negative;
  negative.box = "/MediaBox [-300 -400 300 400]";
  const Page pages[] = {
      {"crop box, a scale left in force, millimetres", "", cropped, muMM, 2.83464},
      {"negative origin, points", "", negative, muPoints, 1},
      {"real file, inches", CorpusDir() + "docs/nettle.pdf", {}, muInches, 72},
  };
  for (const Page& pg : pages) {
    SCOPED_TRACE(pg.what);
    if (!pg.file.empty() && !HasCorpus()) continue;
    TempDir dir;
    std::unique_ptr<TzoPDFDocument> doc;
    if (pg.file.empty()) {
      doc = LoadFixture(BuildFixture(pg.fixture), dir);
    } else {
      doctest::Loaded loaded = doctest::Load(pg.file);
      ASSERT_TRUE(loaded.ok) << loaded.error;
      doc = std::move(loaded.doc);
      doc->SetShowSetupDialog(false);
    }
    doc->SetMeasurementUnit(pg.unit);
    const TzoRectD box = doc->GetPageBox(1, muPoints);
    const double f = pg.ptPerUnit;
    // Where a point given in points from the box's top-left corner lies on the page.
    auto at = [&](double x, double y) { return P{box.X1 + x, box.Y2 - y}; };
    // Lengths in points, written in the unit.
    auto u = [&](double points) { return points / f; };

    TzoLineWatermarkTemplate line;
    line.StartPoint = {u(5), u(10)};
    line.EndPoint = {u(105), u(10)};
    line.LineWidth = u(0.5);
    line.LineColor = clRed;
    TzoCurveWaterMarkTemplate curve;  // no colour: black; no second control point: the end
    curve.LineColor = kNoColor;
    curve.StartPoint = {u(10), u(20)};
    curve.EndPoint = {u(60), u(20)};
    curve.ControlPoint1 = {u(20), u(40)};
    TzoCurveWaterMarkTemplate bare;  // no control points: start and end
    bare.StartPoint = {u(10), u(60)};
    bare.EndPoint = {u(60), u(70)};
    TzoRectangleWatermarkTemplate rect;
    rect.TopLeft = {u(10), u(80)};
    rect.BottomRight = {u(40), u(100)};
    rect.LineColor = clBlue;
    rect.FillColor = clLime;
    rect.LineWidth = u(2);
    TzoCircleWaterMarkTemplate circle;
    circle.Center = {u(70), u(90)};
    circle.Radius = u(10);
    circle.LineColor = kNoColor;
    circle.FillColor = clRed;
    TzoEllipseWaterMarkTemplate ellipse;  // no colours: stroked black
    ellipse.Center = {u(110), u(90)};
    ellipse.RadiusX = u(15);
    ellipse.RadiusY = u(8);
    ellipse.LineColor = kNoColor;
    TzoPolygonWatermark polygon;
    polygon.Center = {u(150), u(90)};
    polygon.Sides = 5;
    polygon.SideLength = u(12);
    polygon.LineColor = clGreen;

    Stamp(*doc, line, 50, 100);
    Stamp(*doc, curve, 100, 100);
    Stamp(*doc, bare, 100, 100);
    Stamp(*doc, rect, 100, 25);
    Stamp(*doc, circle, 100, 50);
    Stamp(*doc, ellipse, 100, 100);
    Stamp(*doc, polygon, 30, 100);
    Save(*doc, dir / "out.pdf");

    const P c = at(70, 90), e = at(110, 90), m = at(150, 90);
    const P r0 = at(10, 80), r1 = at(40, 100);
    const double radius = 12 / 2 / std::sin(std::numbers::pi / 5);
    std::vector<std::pair<std::string, std::vector<P>>> poly = {{"moveto", {{m.x, m.y + radius}}}};
    for (int i = 1; i <= 5; ++i) {
      const double a = 2 * std::numbers::pi / 5 * (i % 5) + std::numbers::pi / 2;
      poly.push_back({"lineto", {{m.x + std::cos(a) * radius, m.y + std::sin(a) * radius}}});
    }
    const std::vector<Expected> expected = {
        {{"stroke_path"},
         {{1, 0, 0}},
         {0.5},
         0.5,
         {{"moveto", {at(5, 10)}}, {"lineto", {at(105, 10)}}}},
        {{"stroke_path"},
         {{0, 0, 0}},
         {1},
         1 * f,
         {{"moveto", {at(10, 20)}}, {"curveto", {at(20, 40), at(60, 20), at(60, 20)}}}},
        {{"stroke_path"},
         {{0, 0, 0}},
         {1},
         1 * f,
         // Control points on the end points: MuPDF keeps the straight line it is.
         {{"moveto", {at(10, 60)}}, {"lineto", {at(60, 70)}}}},
        {{"fill_path", "stroke_path"},
         {{0, 1, 0}, {0, 0, 1}},
         {0.25, 1},
         2,
         {{"moveto", {r0}},
          {"lineto", {{r1.x, r0.y}}},
          {"lineto", {r1}},
          {"lineto", {{r0.x, r1.y}}}}},
        {{"fill_path"}, {{1, 0, 0}}, {0.5}, 0, EllipsePath(c, 10, 10)},
        {{"stroke_path"}, {{0, 0, 0}}, {1}, 1 * f, EllipsePath(e, 15, 8)},
        {{"stroke_path"}, {{0, 128 / 255.0, 0}}, {0.3}, 1 * f, poly},
    };
    Trace trace = RunTrace(dir / "out.pdf", box);
    EXPECT_EQ(trace.errors, "");
    ExpectLastMarks(trace, expected);
  }
}

TEST(ShapesTest, PaintingByLineAndFillColour) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  struct Case {
    TColor line, fill;
    std::vector<std::string> kinds, colors;
  };
  const Case cases[] = {
      {clRed, clBlue, {"fill_path", "stroke_path"}, {"0 0 1", "1 0 0"}},
      {clRed, kNoColor, {"stroke_path"}, {"1 0 0"}},
      {kNoColor, clBlue, {"fill_path"}, {"0 0 1"}},
      {kNoColor, kNoColor, {"stroke_path"}, {"0 0 0"}},
  };
  TempDir dir;
  auto doc = LoadFixture(BuildFixture(Contents::Absent), dir);
  doc->SetMeasurementUnit(muPoints);
  for (const Case& c : cases) {
    TzoRectangleWatermarkTemplate rect;
    rect.TopLeft = {100, 100};
    rect.BottomRight = {150, 150};
    rect.LineColor = c.line;
    rect.FillColor = c.fill;
    Stamp(*doc, rect, 100, 100);
  }
  Save(*doc, dir / "out.pdf");
  Trace trace = RunTrace(dir / "out.pdf", MakeRectD(0, 0, 612, 792));
  size_t i = 0;
  for (const Case& c : cases)
    for (size_t k = 0; k < c.kinds.size(); ++k, ++i) {
      ASSERT_LT(i, trace.marks.size());
      EXPECT_EQ(trace.marks[i].kind, c.kinds[k]) << i;
      EXPECT_EQ(trace.marks[i].attrs["color"], c.colors[k]) << i;
      // Filled and stroked: even-odd (B*); filled only: non-zero (f).
      if (c.kinds[k] == "fill_path") {
        EXPECT_EQ(trace.marks[i].attrs["winding"], c.kinds.size() == 2 ? "eofill" : "nonzero");
      }
    }
  EXPECT_EQ(i, trace.marks.size());
}

TEST(ShapesTest, PolygonsNeedThreeSides) {
  TempDir dir;
  auto doc = LoadFixture(BuildFixture(Contents::Reference), dir);
  doc->SetMeasurementUnit(muPoints);
  TzoPolygonWatermark polygon;
  polygon.SideLength = 100;
  for (int sides : {2, 1, 0, -3}) {
    polygon.Sides = sides;
    try {
      doc->DrawShape(polygon, 1, "");
      ADD_FAILURE() << sides << " sides drawn";
    } catch (const EPDFException& e) {
      EXPECT_EQ(std::string(e.what()),
                "A polygon needs at least 3 sides (" + std::to_string(sides) + " given)");
    }
  }
  // A square centred on the box's left edge: its top corner lies 70.71 points above the
  // centre at x = 0 exactly (cos(pi/2) * R is not written as a tiny exponent number).
  polygon.Sides = 4;
  polygon.Center = {0, 100};
  EXPECT_EQ(doc->DrawShape(polygon, 1, ""),
            "q\r1 w\r0.0000 0.0000 0.0000 RG\r0 762.710678118655 m -70.7106781186548 692 l 0 "
            "621.289321881345 l 70.7106781186548 692 l 0 762.710678118655 l\rS\rQ\r");
}

// Colour and opacity as poppler draws them, placed from the crop box's top-left corner.
TEST(ShapesTest, PixelsOfColourAndOpacity) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  TempDir dir;
  Fixture f;
  f.box = "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]";
  f.contents = Contents::Absent;
  auto doc = LoadFixture(BuildFixture(f), dir);
  doc->SetMeasurementUnit(muPoints);
  TzoRectangleWatermarkTemplate square;  // red, half transparent, no outline
  square.TopLeft = {0, 0};
  square.BottomRight = {40, 40};
  square.LineColor = kNoColor;
  square.FillColor = clRed;
  TzoCircleWaterMarkTemplate disc;  // blue, opaque
  disc.Center = {100, 20};
  disc.Radius = 15;
  disc.LineColor = kNoColor;
  disc.FillColor = clBlue;
  TzoLineWatermarkTemplate thick;  // a green bar at 25 % stroke opacity
  thick.StartPoint = {0, 100};
  thick.EndPoint = {200, 100};
  thick.LineWidth = 20;
  thick.LineColor = clLime;
  Stamp(*doc, square, 100, 50);
  Stamp(*doc, disc, 100, 100);
  Stamp(*doc, thick, 25, 100);
  Save(*doc, dir / "out.pdf");
  Raster raster = Render(dir / "out.pdf", dir, {36, 36, 576, 756});
  EXPECT_EQ(raster.errors, "");
  struct Probe {
    double x, y;  // from the crop box's top-left corner, y down
    int r, g, b;
  };
  const Probe probes[] = {
      {20, 20, 255, 128, 128},   // red at half opacity over white
      {45, 20, 255, 255, 255},   // beside the square
      {100, 20, 0, 0, 255},      // the disc's centre
      {100, 38, 255, 255, 255},  // below the disc
      {100, 100, 191, 255, 191}, {100, 115, 255, 255, 255},
  };
  for (const Probe& p : probes) {
    SCOPED_TRACE(std::to_string(p.x) + ", " + std::to_string(p.y));
    const Rgb px = raster.At(36 + p.x, 756 - p.y);
    EXPECT_NEAR(px.r, p.r, 2);
    EXPECT_NEAR(px.g, p.g, 2);
    EXPECT_NEAR(px.b, p.b, 2);
  }
}
