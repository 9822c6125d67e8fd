// Watermark templates and their processor: defaults, the rotation anchor table, placement in a
// page box, one content stream per distinct box, and image stamps traced by mutool for every
// position and angle on a crop-box page, drawn by poppler and put on a real file.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/pdf/document/StampTestSupport.h"

using namespace sv::test;
using namespace stamptest;

namespace {

double Rad(double degrees) {
  return degrees * std::numbers::pi / 180;
}

// A template whose Render reports its anchor (the processor's tests need nothing more).
class AnchorTemplate : public TzoCustomWatermarkTemplate {
 public:
  std::string Render(const std::string& resourceName, const std::string& gStateName,
                     TzoMeasurementUnit, double x, double y) const override {
    return resourceName + " " + gStateName + " " + FloatToStrDot(x) + " " + FloatToStrDot(y);
  }
};

// A picture of width x height pixels, every pixel of one colour.
std::unique_ptr<TBitmap> Picture(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  auto bitmap = std::make_unique<TBitmap>(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap->ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = r;
      row[3 * x + 1] = g;
      row[3 * x + 2] = b;
    }
  }
  return bitmap;
}

// Stamps tmpl on the pages as the stamping driver does: one image resource and opacity state
// for the run, one content stream per distinct page box.
struct ImageRun {
  std::string imageName, gsName;
  int32_t streams = 0;  // content streams made
};
ImageRun StampImage(TzoCustomPDFDocument& doc, const TzoImageWatermarkTemplate& tmpl,
                    const std::vector<int32_t>& pages) {
  ImageRun run;
  auto inUse = [&](const std::string& n) {
    for (int32_t p : pages)
      if (doc.PageHasResourceName(p - 1, n)) return true;
    return false;
  };
  run.imageName = NewImageResourceName(inUse);
  std::unique_ptr<TzoPDFIndirectReference> image =
      doc.AddImageResource(*tmpl.Image(), run.imageName);
  std::unique_ptr<TzoPDFIndirectReference> gs = doc.AddOpacityState(100, tmpl.Opacity);
  if (gs) run.gsName = NewGStateResourceName(inUse);
  TzoWatermarkProcessor processor(&doc, doc.MeasurementUnit(), &tmpl);
  for (int32_t p : pages) {
    const TzoRectD box = doc.GetPageBox(p, muPoints);
    std::unique_ptr<TzoPDFIndirectReference> content;
    if (int32_t i = processor.FindPageBox(box); i >= 0) {
      content = CloneOf(*processor.ContentRef(i));
    } else {
      TzoPDFIndirectObject* stream = doc.InputStore().Add(
          processor.ProcessPage(run.imageName, run.gsName, doc.InputStore().NextObjectNumber(),
                                doc.DocumentNumber(), box));
      content = CreateReferenceTo(*stream);
      ++run.streams;
    }
    doc.AddResourceEntry(doc.PageResources(p - 1), "/XObject", image.get(), run.imageName);
    doc.AddPageExtGState(p - 1, run.gsName, gs.get());
    doc.AddPageContent(p - 1, std::move(content), tmpl.Layer);
  }
  return run;
}

// The bounding box and the top-left corner (the unit square's (0, 1)) of the image that the
// matrix m = [a b c d e f] draws.
Placement CornersOf(const std::vector<double>& m) {
  const double xs[4] = {m[4], m[4] + m[0], m[4] + m[2], m[4] + m[0] + m[2]};
  const double ys[4] = {m[5], m[5] + m[1], m[5] + m[3], m[5] + m[1] + m[3]};
  return {*std::min_element(xs, xs + 4),
          *std::max_element(xs, xs + 4),
          *std::min_element(ys, ys + 4),
          *std::max_element(ys, ys + 4),
          xs[2],
          ys[2]};
}

}  // namespace

TEST(WatermarkTest, TemplatesHaveUsableDefaults) {
  TzoLineWatermarkTemplate line;
  EXPECT_EQ(line.LineColor, clBlack);
  EXPECT_EQ(line.LineWidth, 1);
  EXPECT_EQ(line.LineOpacity, 100);
  TzoPolygonWatermark polygon;
  EXPECT_EQ(polygon.FillColor, kNoColor);
  EXPECT_EQ(polygon.FillOpacity, 100);
  EXPECT_EQ(polygon.Sides, 3);
  TzoImageWatermarkTemplate image;
  EXPECT_EQ(image.Opacity, 100);
  EXPECT_EQ(image.Layer, 0);
  EXPECT_EQ(image.Image(), nullptr);
  EXPECT_THROW(image.WidthInPoints(muPoints), EPDFException);  // no picture, no width
  class TextFields : public TzoTextWatermarkTemplate {
    std::string Render(const std::string&, const std::string&, TzoMeasurementUnit, double,
                       double) const override {
      return {};
    }
  } text;
  EXPECT_EQ(text.Opacity, 100);
  EXPECT_EQ(text.Font.Charset(), ui::ANSI_CHARSET);
  EXPECT_TRUE(text.Text.empty());
  // Points are held by value: a template is complete without any other object.
  TzoCurveWaterMarkTemplate curve;
  TzoCurveWaterMarkTemplate copy = curve;
  copy.StartPoint.X = 5;
  EXPECT_EQ(curve.StartPoint.X, 0);

  TzoCompositeWatermarkTemplate composite;
  composite.Templates = {&line, &image};
  EXPECT_EQ(composite.Count(), 2);
  EXPECT_EQ(composite.Items(1), &image);
  EXPECT_THROW(composite.Items(2), rtl::EListError);
}

// The anchor table row by row: each row's formula at the ends and inside of its angle range,
// for a stamp 100 wide and 40 high.
TEST(WatermarkTest, RotationAnchorTable) {
  const double W = 100, H = 40;
  struct Row {
    bool horizontal;
    uint8_t position;
    int from, to;  // the row's angles
    double (*change)(double c, double s, double W, double H);
  };
  const Row rows[] = {
      // x, left: the leftmost corner on the point
      {true, 0, 0, 90, [](double, double s, double, double H) { return H * s; }},
      {true, 0, 90, 180,
       [](double c, double s, double W, double H) { return W * std::fabs(c) + H * s; }},
      {true, 0, 180, 270, [](double c, double, double W, double) { return W * std::fabs(c); }},
      {true, 0, 270, 360, [](double, double, double, double) { return 0.0; }},
      // x, centre: the centre on the point
      {true, 1, 0, 360,
       [](double c, double s, double W, double H) { return -(W * c - H * s) / 2; }},
      // x, right: the rightmost corner on the point
      {true, 2, 0, 90, [](double c, double, double W, double) { return -W * c; }},
      {true, 2, 90, 180, [](double, double, double, double) { return 0.0; }},
      {true, 2, 180, 270, [](double, double s, double, double H) { return -H * std::fabs(s); }},
      {true, 2, 270, 360, [](double c, double s, double W, double H) { return -(W * c - H * s); }},
      // x, at X: the top-left corner on the point
      {true, 3, 0, 360, [](double, double s, double, double H) { return H * s; }},
      // y, top: the highest corner on the point
      {false, 0, 0, 90, [](double c, double s, double W, double H) { return -(H * c + W * s); }},
      {false, 0, 90, 180, [](double, double s, double W, double) { return -W * s; }},
      {false, 0, 180, 270, [](double, double, double, double) { return 0.0; }},
      {false, 0, 270, 360, [](double c, double, double, double H) { return -H * c; }},
      // y, middle
      {false, 1, 0, 360,
       [](double c, double s, double W, double H) { return -(W * s + H * c) / 2; }},
      // y, bottom: the lowest corner on the point
      {false, 2, 0, 90, [](double, double, double, double) { return 0.0; }},
      {false, 2, 90, 180, [](double c, double, double, double H) { return H * std::fabs(c); }},
      {false, 2, 180, 270,
       [](double c, double s, double W, double H) { return W * std::fabs(s) + H * std::fabs(c); }},
      {false, 2, 270, 360, [](double, double s, double W, double) { return W * std::fabs(s); }},
      // y, at Y: the top-left corner on the point
      {false, 3, 0, 360, [](double c, double, double, double H) { return -H * c; }},
  };
  for (const Row& row : rows) {
    for (int angle : {row.from, (row.from + row.to) / 2 + 7, row.to}) {
      SCOPED_TRACE((row.horizontal ? "x, position " : "y, position ") +
                   std::to_string(row.position) + ", " + std::to_string(angle) + " degrees");
      AnchorTemplate t;
      t.Angle = angle;
      t.HorizontalPosition = row.position;
      t.VerticalPosition = row.position;
      double x = 1000, y = 2000;
      t.AdjustAnchor(x, y, W, H);
      const double expected = row.change(std::cos(Rad(angle)), std::sin(Rad(angle)), W, H);
      EXPECT_NEAR(row.horizontal ? x - 1000 : y - 2000, expected, 1e-9);
      // The same angle a turn further, or a turn back, is the same row.
      for (int turn : {360, -360, 720}) {
        t.Angle = angle + turn;
        double x2 = 1000, y2 = 2000;
        t.AdjustAnchor(x2, y2, W, H);
        EXPECT_NEAR(x2, x, 1e-9);
        EXPECT_NEAR(y2, y, 1e-9);
      }
    }
  }
  // A stamp without width or height never gets NaN.
  for (uint8_t pos = 0; pos < 4; ++pos)
    for (int angle = 0; angle < 360; angle += 15) {
      AnchorTemplate t;
      t.Angle = angle;
      t.HorizontalPosition = t.VerticalPosition = pos;
      double x = 5, y = 6;
      t.AdjustAnchor(x, y, 0, 0);
      EXPECT_EQ(x, 5);
      EXPECT_EQ(y, 6);
    }
}

TEST(WatermarkTest, PlacementInThePageBox) {
  struct Case {
    TzoRectD box;
    uint8_t h, v;
    double x, y;  // expected placement point
  };
  // X 10 mm and Y 20 mm from the box's top-left corner.
  const double X = 10 * 2.83464, Y = 20 * 2.83464;
  const TzoRectD letter = MakeRectD(0, 0, 612, 792), shifted = MakeRectD(10, 20, 622, 812),
                 negative = MakeRectD(-300, -400, 300, 400);
  const Case cases[] = {
      {letter, 0, 0, 0, 792},      {letter, 1, 1, 306, 396},
      {letter, 2, 2, 612, 0},      {letter, 3, 3, X, 792 - Y},
      {shifted, 0, 0, 10, 812},    {shifted, 1, 1, 316, 416},
      {shifted, 2, 2, 622, 20},    {shifted, 3, 3, 10 + X, 812 - Y},
      {negative, 0, 0, -300, 400}, {negative, 1, 1, 0, 0},
      {negative, 2, 2, 300, -400}, {negative, 3, 3, -300 + X, 400 - Y},
      {negative, 7, 9, -300, 400},  // unknown positions count as left and top
  };
  for (const Case& c : cases) {
    AnchorTemplate t;
    t.HorizontalPosition = c.h;
    t.VerticalPosition = c.v;
    t.X = 10;
    t.Y = 20;
    TzoWatermarkProcessor processor(nullptr, muMM, &t);
    double x = NAN, y = NAN;
    processor.PlaceInBox(c.box, x, y);
    EXPECT_NEAR(x, c.x, 1e-9) << int(c.h) << " " << c.box.X1;
    EXPECT_NEAR(y, c.y, 1e-9) << int(c.v) << " " << c.box.X1;
  }
}

TEST(WatermarkTest, ProcessorRendersOnceForEachDistinctBox) {
  AnchorTemplate t;
  t.HorizontalPosition = 1;
  t.VerticalPosition = 1;
  TzoWatermarkProcessor processor(nullptr, muPoints, &t);
  const TzoRectD a = MakeRectD(0, 0, 612, 792), b = MakeRectD(0, 0, 612, 792.5);
  EXPECT_EQ(processor.FindPageBox(a), -1);
  std::unique_ptr<TzoPDFIndirectObject> first = processor.ProcessPage("/Im1", "/GS1", 40, 101, a);
  std::unique_ptr<TzoPDFIndirectObject> second = processor.ProcessPage("/Im1", "", 41, 101, b);
  EXPECT_EQ(processor.Count(), 2);
  EXPECT_EQ(processor.FindPageBox(a), 0);
  EXPECT_EQ(processor.FindPageBox(b), 1);
  EXPECT_EQ(processor.FindPageBox(MakeRectD(0, 0, 612, 792.0001)), -1);
  EXPECT_EQ(processor.ContentRef(1)->ObjectNumber(), 41);
  EXPECT_EQ(processor.ContentRef(1)->DocumentNumber(), 101);
  EXPECT_THROW(processor.ContentRef(2), rtl::EListError);
  EXPECT_EQ(first->ObjectNumber(), 40);
  EXPECT_EQ(first->RefCount(), 1);
  const TzoPDFStreamObject* stream = first->DirectObject()->AsStream();
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->Data()->ToString(), "/Im1 /GS1 306 396");
  EXPECT_EQ(stream->Dict()->GetValue("/Length")->AsInteger()->Value(), 17);
  EXPECT_EQ(second->DirectObject()->AsStream()->Data()->ToString(), "/Im1  306 396.25");
}

TEST(WatermarkTest, ImageStampText) {
  TzoImageWatermarkTemplate t;
  t.SetImage(Picture(96, 48, 0, 0, 0));  // 72 x 36 points on a 96 pixels-per-inch screen
  t.Angle = 90;
  t.HorizontalPosition = 3;
  t.VerticalPosition = 3;
  EXPECT_EQ(t.Render("/Im1", "/GS1", muPoints, 100, 700),
            "q\r0 g 0 G\r1 0 0 1 136.000 700.000 cm\r0.0000 1.0000 -1.0000 0.0000 0 0 cm\r"
            "72.000 0 0 36.000 0 0 cm\r/GS1 gs \r/Im1 Do\rQ\r\n");
  // Sizes given in the unit; the same result every time, the template unchanged.
  t.Angle = 0;
  t.Width = 1;
  t.Height = 0.5;
  const std::string once = t.Render("/Im1", "", muInches, 0, 0);
  EXPECT_EQ(once, t.Render("/Im1", "", muInches, 0, 0));
  EXPECT_EQ(once,
            "q\r0 g 0 G\r1 0 0 1 0.000 -36.000 cm\r1.0000 0.0000 0.0000 1.0000 0 0 cm\r"
            "72.000 0 0 36.000 0 0 cm\r/Im1 Do\rQ\r\n");
  EXPECT_EQ(t.Width, 1);
}

// Every position at 0, 45, 90, 180 and 270 degrees on a crop-box page whose content leaves a
// scale in force: mutool's matrix of each image puts its corners where the template says.
TEST(WatermarkTest, ImageLandsWhereItsTemplateSays) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  struct Page {
    const char* what;
    Fixture fixture;
    TzoMeasurementUnit unit;
    double ptPerUnit;
    double width, height;  // in the unit; 0: the picture's own size
  };
  Fixture cropped;
  cropped.box = "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]";
  cropped.ownContent = "2 0 0 2 0 0 cm 1 0 0 rg";
  Fixture negative;
  negative.box = "/MediaBox [-300 -400 300 400]";
  const Page pages[] = {
      {"crop box, picture size", cropped, muPixels, 0.75, 0, 0},
      {"crop box, size in millimetres", cropped, muMM, 2.83464, 80, 30},
      {"negative origin, size in points", negative, muPoints, 1, 150, 40},
  };
  for (const Page& pg : pages) {
    SCOPED_TRACE(pg.what);
    TempDir dir;
    auto doc = LoadFixture(BuildFixture(pg.fixture), dir);
    doc->SetMeasurementUnit(pg.unit);
    const TzoRectD box = doc->GetPageBox(1, muPoints);
    const double offsetX = 30, offsetY = 50;  // points, for the positions at X and Y
    struct Stamp {
      uint8_t h, v;
      int angle;
    };
    std::vector<Stamp> stamps;
    for (int angle : {0, 45, 90, 180, 270})
      for (uint8_t h = 0; h < 4; ++h)
        for (uint8_t v = 0; v < 4; ++v) {
          TzoImageWatermarkTemplate t;
          t.SetImage(Picture(96, 48, 0, 0, 255));
          t.Width = pg.width;
          t.Height = pg.height;
          t.Angle = angle;
          t.HorizontalPosition = h;
          t.VerticalPosition = v;
          t.X = offsetX / pg.ptPerUnit;
          t.Y = offsetY / pg.ptPerUnit;
          t.Opacity = 60;
          t.Layer = 1;
          StampImage(*doc, t, {1});
          stamps.push_back({h, v, angle});
        }
    Save(*doc, dir / "out.pdf");
    Trace trace = RunTrace(dir / "out.pdf", box);
    EXPECT_EQ(trace.errors, "");
    std::vector<const Mark*> images = trace.Of("fill_image");
    ASSERT_EQ(images.size(), stamps.size());
    const double w = pg.width ? pg.width * pg.ptPerUnit : 72,
                 h = pg.height ? pg.height * pg.ptPerUnit : 36;
    for (size_t i = 0; i < stamps.size(); ++i) {
      const Stamp& s = stamps[i];
      SCOPED_TRACE("position " + std::to_string(s.h) + "/" + std::to_string(s.v) + ", " +
                   std::to_string(s.angle) + " degrees");
      EXPECT_NEAR(images[i]->Num("alpha"), 0.6, 0.002);
      const std::vector<double> m = trace.ImageMatrix(*images[i]);
      ASSERT_EQ(m.size(), 6u);
      // Size and angle.
      EXPECT_NEAR(std::hypot(m[0], m[1]), w, 0.01);
      EXPECT_NEAR(std::hypot(m[2], m[3]), h, 0.01);
      EXPECT_NEAR(m[0], w * std::cos(Rad(s.angle)), 0.01);
      EXPECT_NEAR(m[1], w * std::sin(Rad(s.angle)), 0.01);
      ExpectPlaced(CornersOf(m), box, s.h, s.v, offsetX, offsetY);
    }
  }
}

// Pages with equal boxes share one content stream; the picture's colour and opacity as poppler
// draws them.
TEST(WatermarkTest, ImageStampOnSeveralPages) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  TempDir dir;
  doctest::PdfBuilder b;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add("<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 /MediaBox [0 0 400 300] >>");
  b.Add("<< /Type /Page /Parent 2 0 R >>");
  b.Add("<< /Type /Page /Parent 2 0 R /CropBox [50 50 350 250] >>");
  b.Add("<< /Type /Page /Parent 2 0 R /MediaBox [400 300 0 0] >>");  // the same box, reversed
  auto doc = LoadFixture(b.Build(), dir);
  doc->SetMeasurementUnit(muPoints);
  TzoImageWatermarkTemplate t;
  t.SetImage(Picture(8, 8, 255, 0, 0));
  t.Width = 100;
  t.Height = 100;
  t.HorizontalPosition = 1;
  t.VerticalPosition = 1;
  t.Opacity = 50;
  const ImageRun run = StampImage(*doc, t, {1, 2, 3});
  EXPECT_EQ(run.streams, 2);
  Save(*doc, dir / "out.pdf");
  QpdfJson json(dir / "out.pdf");
  const doctest::Json* pages = json.root.Get("pages");
  ASSERT_TRUE(pages && pages->items.size() == 3);
  auto contents = [&](int i) {
    return pages->items[static_cast<size_t>(i)].Get("contents")->items;
  };
  ASSERT_EQ(contents(0).size(), 1u);
  EXPECT_EQ(contents(0)[0].s, contents(2)[0].s);
  EXPECT_NE(contents(0)[0].s, contents(1)[0].s);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const doctest::Json* xobjects = json.PageResourceCategory(i, "/XObject");
    ASSERT_TRUE(xobjects && xobjects->Get(run.imageName));
    const doctest::Json* states = json.PageResourceCategory(i, "/ExtGState");
    const doctest::Json* gs = states ? json.Resolve(states->Get(run.gsName)) : nullptr;
    ASSERT_TRUE(gs);
    EXPECT_DOUBLE_EQ(gs->Get("/ca")->n, 0.5);
    const TzoRectD box = doc->GetPageBox(i + 1, muPoints);
    Raster raster = Render(dir / "out.pdf", dir, {box.X1, box.Y1, box.X2, box.Y2}, 72, i + 1);
    EXPECT_EQ(raster.errors, "");
    const double cx = (box.X1 + box.X2) / 2, cy = (box.Y1 + box.Y2) / 2;
    const Rgb inside = raster.At(cx, cy), outside = raster.At(cx + 55, cy);
    EXPECT_EQ(inside.r, 255);
    EXPECT_NEAR(inside.g, 128, 2);
    EXPECT_NEAR(inside.b, 128, 2);
    EXPECT_EQ(outside.g, 255);
  }
}

// A real file stamped on every page under its content: one stream for all its equal pages.
TEST(WatermarkTest, CorpusDocumentWithAnImageUnderEveryPage) {
  SV_REQUIRE_JUDGES("qpdf", "mutool", "pdftoppm");
  SV_REQUIRE_CORPUS();
  TempDir dir;
  const std::string in = CorpusDir() + "docs/libtasn1.pdf";
  doctest::Loaded loaded = doctest::Load(in);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  TzoPDFDocument& doc = *loaded.doc;
  doc.SetShowSetupDialog(false);
  TzoImageWatermarkTemplate t;
  t.SetImage(Picture(40, 40, 255, 255, 0));  // yellow
  t.HorizontalPosition = 2;
  t.VerticalPosition = 2;
  t.Angle = 45;
  std::vector<int32_t> pages;
  for (int32_t p = 1; p <= doc.PageCount(); ++p)
    pages.push_back(p);
  const ImageRun run = StampImage(doc, t, pages);
  EXPECT_EQ(run.streams, 1);
  Save(doc, dir / "out.pdf");
  EXPECT_EQ(PdfText(dir / "out.pdf"), PdfText(in));
  for (int page : {1, doc.PageCount()}) {
    SCOPED_TRACE(page);
    const TzoRectD box = doc.GetPageBox(page, muPoints);
    Trace trace = RunTrace(dir / "out.pdf", box, page);
    EXPECT_EQ(trace.errors, "");
    std::vector<const Mark*> images = trace.Of("fill_image");
    ASSERT_FALSE(images.empty());
    const Placement c = CornersOf(trace.ImageMatrix(*images.front()));
    EXPECT_NEAR(c.maxX, box.X2, 0.01);
    EXPECT_NEAR(c.minY, box.Y1, 0.01);
    Raster raster = Render(dir / "out.pdf", dir, {box.X1, box.Y1, box.X2, box.Y2}, 72, page);
    EXPECT_EQ(raster.errors, "");
    const Rgb px = raster.At((c.minX + c.maxX) / 2, (c.minY + c.maxY) / 2);
    EXPECT_EQ(px.r, 255);
    EXPECT_EQ(px.b, 0);
  }
}
