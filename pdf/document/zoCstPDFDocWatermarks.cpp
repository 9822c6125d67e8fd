// Watermark templates and their processor: placement of a stamp in a page box, the anchor of a
// rotated stamp, the image stamp's content and one content stream per distinct page box.
#include <algorithm>
#include <cmath>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"

// ---- Templates ----

void TzoCustomWatermarkTemplate::AdjustAnchor(double& x, double& y, double width,
                                              double height) const {
  double c, s;
  CosSinDeg(Angle, c, s);
  // The corners of the stamp relative to its anchor, after the rotation.
  const double cx[4] = {0, width * c, -height * s, width * c - height * s};
  const double cy[4] = {0, width * s, height * c, width * s + height * c};
  // The offset of the point of the stamp that its position puts on the placement point: an
  // edge of its bounding box (position 0 left or top, 2 right or bottom), the centre (1), or
  // the top-left corner (3).
  auto offset = [](uint8_t position, const double(&v)[4], bool topDown) {
    const double low = *std::min_element(v, v + 4), high = *std::max_element(v, v + 4);
    switch (position) {
      case 1:
        return (low + high) / 2;
      case 2:
        return topDown ? low : high;
      case 3:
        return v[2];
      default:
        return topDown ? high : low;
    }
  };
  x -= offset(HorizontalPosition, cx, false);
  y -= offset(VerticalPosition, cy, true);
}

// ---- TzoImageWatermarkTemplate ----

namespace {

constexpr const char* SImageStampWithoutPicture =
    "The image stamp has no picture to take its size from";

// Page-content numbers of the image stamp: fixed notation with `decimals` decimals.
std::string Fixed(double v, int decimals) {
  return FloatToStrFDot(v, ffFixed, 10, decimals);
}

}  // namespace

double TzoImageWatermarkTemplate::WidthInPoints(TzoMeasurementUnit unit) const {
  if (Width != 0) return TzoCustomPDFDocument::ConvertToPoints(unit, Width);
  if (!image_) throw EPDFException(SImageStampWithoutPicture);
  return PixelsToPoints(image_->Width());
}

double TzoImageWatermarkTemplate::HeightInPoints(TzoMeasurementUnit unit) const {
  if (Height != 0) return TzoCustomPDFDocument::ConvertToPoints(unit, Height);
  if (!image_) throw EPDFException(SImageStampWithoutPicture);
  return PixelsToPoints(image_->Height());
}

std::string TzoImageWatermarkTemplate::Render(const std::string& resourceName,
                                              const std::string& gStateName,
                                              TzoMeasurementUnit unit, double x, double y) const {
  const double w = WidthInPoints(unit), h = HeightInPoints(unit);
  AdjustAnchor(x, y, w, h);
  double c, s;
  CosSinDeg(Angle, c, s);
  // Translation, rotation about the anchor, then the picture's size; the rotation keeps four
  // decimals so that the corners of a large picture stay within a hundredth of a point.
  std::string t = "q\r0 g 0 G\r";
  t += "1 0 0 1 " + Fixed(x, 3) + " " + Fixed(y, 3) + " cm\r";
  t += Fixed(c, 4) + " " + Fixed(s, 4) + " " + Fixed(-s, 4) + " " + Fixed(c, 4) + " 0 0 cm\r";
  t += Fixed(w, 3) + " 0 0 " + Fixed(h, 3) + " 0 0 cm\r";
  if (!gStateName.empty()) t += gStateName + " gs \r";
  t += resourceName + " Do\r";
  t += "Q\r\n";
  return t;
}

// ---- TzoTextWatermarkTemplate, TzoCompositeWatermarkTemplate ----

TzoTextWatermarkTemplate::TzoTextWatermarkTemplate() {
  Font.SetCharset(ui::ANSI_CHARSET);
}

TzoWatermarkTemplate* TzoCompositeWatermarkTemplate::Items(int32_t index) const {
  if (index < 0 || index >= Count()) RaiseMsg<rtl::EListError>(SListIndexOutOfBounds, index);
  return Templates[static_cast<size_t>(index)];
}

// ---- TzoWatermarkProcessor ----

TzoWatermarkProcessor::TzoWatermarkProcessor(TzoCustomPDFDocument* document,
                                             TzoMeasurementUnit unit,
                                             const TzoCustomWatermarkTemplate* tmpl)
    : document_(document), template_(tmpl), unit_(unit) {}

int32_t TzoWatermarkProcessor::FindPageBox(const TzoRectD& box) const {
  auto it = std::find(pageBoxes_.begin(), pageBoxes_.end(), box);
  return it == pageBoxes_.end() ? -1 : static_cast<int32_t>(it - pageBoxes_.begin());
}

TzoPDFIndirectReference* TzoWatermarkProcessor::ContentRef(int32_t index) const {
  if (index < 0 || index >= Count()) RaiseMsg<rtl::EListError>(SListIndexOutOfBounds, index);
  return contentRefs_[static_cast<size_t>(index)].get();
}

void TzoWatermarkProcessor::PlaceInBox(const TzoRectD& box, double& x, double& y) const {
  if (!template_) RaiseMsg<EUnexpectedError>(SUnexpectedError);
  switch (template_->HorizontalPosition) {
    case 1:
      x = box.X1 + (box.X2 - box.X1) / 2;
      break;
    case 2:
      x = box.X2;
      break;
    case 3:
      x = box.X1 + TzoCustomPDFDocument::ConvertToPoints(unit_, template_->X);
      break;
    default:
      x = box.X1;
      break;
  }
  switch (template_->VerticalPosition) {
    case 1:
      y = box.Y1 + (box.Y2 - box.Y1) / 2;
      break;
    case 2:
      y = box.Y1;
      break;
    case 3:
      y = box.Y2 - TzoCustomPDFDocument::ConvertToPoints(unit_, template_->Y);
      break;
    default:
      y = box.Y2;
      break;
  }
}

std::unique_ptr<TzoPDFIndirectObject> TzoWatermarkProcessor::ProcessPage(
    const std::string& resourceName, const std::string& gStateName, int32_t objectNumber,
    int32_t documentNumber, const TzoRectD& box) {
  double x = 0, y = 0;
  PlaceInBox(box, x, y);
  const std::string text = template_->Render(resourceName, gStateName, unit_, x, y);

  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddInteger("/Length", static_cast<int32_t>(text.size()));
  auto stream = std::make_unique<TzoPDFStreamObject>(std::move(dict),
                                                     std::make_unique<rtl::TMemoryStream>(text));
  auto content = TzoPDFIndirectObject::CreateReferenced(documentNumber, objectNumber, 0, true,
                                                        std::move(stream));
  contentRefs_.reserve(contentRefs_.size() + 1);
  pageBoxes_.reserve(pageBoxes_.size() + 1);
  contentRefs_.push_back(CreateReferenceTo(*content));
  pageBoxes_.push_back(box);
  return content;
}
