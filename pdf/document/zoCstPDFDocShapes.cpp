// Shape stamps: the content text that draws a line, a curve, a rectangle, a circle, an ellipse
// or a regular polygon on a page.
#include <cmath>
#include <numbers>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"

namespace {

constexpr const char* SPolygonSides = "A polygon needs at least 3 sides (%d given)";

struct Pt {
  double x;
  double y;
};

// Number texts of the page content: never an exponent, '.' as decimal separator.
std::string Num(double v) {
  return FloatToStrDot(v);
}

std::string Point(Pt p) {
  return Num(p.x) + " " + Num(p.y);
}

TColor Visible(TColor c) {
  return c == kNoColor ? clBlack : c;
}

// The painting of a closed path by its two colours; a shape without colours is stroked black.
std::string PaintClosed(const TzoClosedShapeWatermark& s) {
  const bool line = s.LineColor != kNoColor, fill = s.FillColor != kNoColor;
  if (line && fill)
    return ColorToPDFRGB(s.LineColor) + " RG " + ColorToPDFRGB(s.FillColor) + " rg\r";
  if (fill) return ColorToPDFRGB(s.FillColor) + " rg\r";
  return ColorToPDFRGB(Visible(s.LineColor)) + " RG\r";
}

std::string PaintOperator(const TzoClosedShapeWatermark& s) {
  const bool line = s.LineColor != kNoColor, fill = s.FillColor != kNoColor;
  return line && fill ? "B*" : fill ? "f" : "S";
}

// The four Bezier arcs of an ellipse, counter-clockwise from its lowest point.
std::string EllipsePath(Pt c, double rx, double ry) {
  const double kx = rx * BezierCircleFactor, ky = ry * BezierCircleFactor;
  std::string t = Point({c.x, c.y - ry}) + " m\r";
  t += Point({c.x + kx, c.y - ry}) + " " + Point({c.x + rx, c.y - ky}) + " " +
       Point({c.x + rx, c.y}) + " c\r";
  t += Point({c.x + rx, c.y + ky}) + " " + Point({c.x + kx, c.y + ry}) + " " +
       Point({c.x, c.y + ry}) + " c\r";
  t += Point({c.x - kx, c.y + ry}) + " " + Point({c.x - rx, c.y + ky}) + " " +
       Point({c.x - rx, c.y}) + " c\r";
  t += Point({c.x - rx, c.y - ky}) + " " + Point({c.x - kx, c.y - ry}) + " " +
       Point({c.x, c.y - ry}) + " c\r";
  return t;
}

}  // namespace

std::string TzoCustomPDFDocument::DrawShape(const TzoShapeWatermark& shape, int32_t pageNumber,
                                            const std::string& gStateName) {
  const TzoRectD box = GetPageBox(pageNumber, muPoints);
  const TzoMeasurementUnit unit = measurementUnit_;
  auto pt = [unit](double v) { return ConvertToPoints(unit, v); };
  // Page coordinates of a point counted from the box's top-left corner.
  auto at = [&](const TzoShapePoint& p) { return Pt{box.X1 + pt(p.X), box.Y2 - pt(p.Y)}; };

  // The graphics state comes before the path: only path operators may stand inside one.
  std::string state = gStateName.empty() ? std::string() : gStateName + " gs\r";
  state += Num(pt(shape.LineWidth)) + " w\r";
  std::string path;
  std::string paint;

  if (const auto* line = dynamic_cast<const TzoLineWatermarkTemplate*>(&shape)) {
    state += ColorToPDFRGB(Visible(line->LineColor)) + " RG\r";
    path = Point(at(line->StartPoint)) + " m " + Point(at(line->EndPoint)) + " l\r";
    paint = "S";
  } else if (const auto* curve = dynamic_cast<const TzoCurveWaterMarkTemplate*>(&shape)) {
    auto none = [](const TzoShapePoint& p) { return p.X == 0 && p.Y == 0; };
    const TzoShapePoint& c1 = none(curve->ControlPoint1) ? curve->StartPoint : curve->ControlPoint1;
    const TzoShapePoint& c2 = none(curve->ControlPoint2) ? curve->EndPoint : curve->ControlPoint2;
    state += ColorToPDFRGB(Visible(curve->LineColor)) + " RG\r";
    path = Point(at(curve->StartPoint)) + " m " + Point(at(c1)) + " " + Point(at(c2)) + " " +
           Point(at(curve->EndPoint)) + " c\r";
    paint = "S";
  } else if (const auto* rect = dynamic_cast<const TzoRectangleWatermarkTemplate*>(&shape)) {
    state += PaintClosed(*rect);
    path = Point(at(rect->TopLeft)) + " " + Num(pt(rect->BottomRight.X - rect->TopLeft.X)) + " " +
           Num(pt(rect->TopLeft.Y - rect->BottomRight.Y)) + " re\r";
    paint = PaintOperator(*rect);
  } else if (const auto* circle = dynamic_cast<const TzoCircleWaterMarkTemplate*>(&shape)) {
    state += PaintClosed(*circle);
    path = EllipsePath(at(circle->Center), pt(circle->Radius), pt(circle->Radius));
    paint = PaintOperator(*circle);
  } else if (const auto* ellipse = dynamic_cast<const TzoEllipseWaterMarkTemplate*>(&shape)) {
    state += PaintClosed(*ellipse);
    path = EllipsePath(at(ellipse->Center), pt(ellipse->RadiusX), pt(ellipse->RadiusY));
    paint = PaintOperator(*ellipse);
  } else if (const auto* polygon = dynamic_cast<const TzoPolygonWatermark*>(&shape)) {
    const int32_t n = polygon->Sides;
    if (n < 3) throw EPDFException(rtl::Format(SPolygonSides, n));
    const Pt c = at(polygon->Center);
    const double r = pt(polygon->SideLength) / 2 / std::sin(std::numbers::pi / n);
    auto corner = [&](int32_t i) {
      double cosA, sinA;
      CosSinDeg(360.0 / n * i + 90, cosA, sinA);
      return Pt{c.x + cosA * r, c.y + sinA * r};
    };
    state += PaintClosed(*polygon);
    path = Point(corner(0)) + " m";
    for (int32_t i = 1; i < n; ++i)
      path += " " + Point(corner(i)) + " l";
    path += " " + Point(corner(0)) + " l\r";
    paint = PaintOperator(*polygon);
  } else {
    return {};
  }
  return "q\r" + state + path + paint + "\rQ\r";
}
