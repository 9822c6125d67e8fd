// Page resources for stamping: image XObjects made from pictures, graphics states with opacity,
// and the names of font resources.
#include <algorithm>
#include <cstring>
#include <limits>

#include "pdf/core/zoDZLIB.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"

namespace {

// Wraps obj as a new indirect object of the document (a number above every number of the file,
// generation 0, one reference), adds it to the input store and returns a reference to it.
std::unique_ptr<TzoPDFIndirectReference> AddNewObject(TzoCustomPDFDocument& doc,
                                                      std::unique_ptr<TzoPDFObject> obj) {
  TzoPDFObjectStore& store = doc.InputStore();
  TzoPDFIndirectObject* added = store.Add(TzoPDFIndirectObject::CreateReferenced(
      doc.DocumentNumber(), store.NextObjectNumber(), 0, true, std::move(obj)));
  return CreateReferenceTo(*added);
}

}  // namespace

std::unique_ptr<TzoPDFIndirectReference> TzoCustomPDFDocument::AddImageResource(
    const TGraphic& graphic, const std::string& name) {
  // Every picture becomes a plain bitmap first: icons and JPEG pictures are drawn onto a white one.
  TBitmap bitmap;
  if (const auto* b = dynamic_cast<const TBitmap*>(&graphic)) {
    bitmap.Assign(*b);
  } else if (dynamic_cast<const TIcon*>(&graphic) || dynamic_cast<const TJPEGImage*>(&graphic)) {
    bitmap.SetSize(graphic.Width(), graphic.Height());
    graphic.Draw(bitmap, 0, 0);
  } else {
    // TMetafile has no renderer here; other classes are unknown.
    RaiseMsg<EUnsupportedImageError>(SUnsupportedImage, graphic.ClassName());
  }
  // An image of no pixels is no valid XObject.
  if (bitmap.Empty())
    throw EInvalidGraphic(rtl::Format("The picture is empty (%s)", graphic.ClassName()));

  std::unique_ptr<rtl::TMemoryStream> samples = BitmapToRGB(bitmap);
  auto data = std::make_unique<rtl::TMemoryStream>();
  DeflateInto(*samples, *data);
  samples.reset();

  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/Type", "/XObject");
  dict->AddName("/Subtype", "/Image");
  dict->AddName("/Name", name);
  dict->AddInteger("/Width", bitmap.Width());
  dict->AddInteger("/Height", bitmap.Height());
  dict->AddInteger("/BitsPerComponent", 8);
  dict->AddName("/ColorSpace", "/DeviceRGB");
  dict->AddName("/Filter", "/FlateDecode");
  if (data->Size() > std::numeric_limits<int32_t>::max())
    dict->AddObject("/Length", std::make_unique<TzoPDFInt64Object>(data->Size()));
  else
    dict->AddInteger("/Length", static_cast<int32_t>(data->Size()));
  return AddNewObject(*this,
                      std::make_unique<TzoPDFStreamObject>(std::move(dict), std::move(data)));
}

std::unique_ptr<rtl::TMemoryStream> TzoCustomPDFDocument::BitmapToRGB(const TBitmap& bitmap) {
  // The bitmap's rows already are R, G, B bytes, top row first, with nothing between them.
  const std::vector<uint8_t>& pixels = bitmap.Pixels();
  auto out = std::make_unique<rtl::TMemoryStream>();
  out->WriteBuffer(pixels.data(), static_cast<int64_t>(pixels.size()));
  return out;
}

std::unique_ptr<TzoPDFIndirectReference> TzoCustomPDFDocument::AddOpacityState(double strokeOpacity,
                                                                               double fillOpacity) {
  if (strokeOpacity == 100 && fillOpacity == 100) return nullptr;
  // Opacities beyond 0 .. 1 are no valid values; NaN raises in the number text.
  auto fraction = [](double percent) { return FloatToStrDot(std::clamp(percent / 100, 0.0, 1.0)); };
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/CA", fraction(strokeOpacity));
  dict->AddName("/ca", fraction(fillOpacity));
  dict->AddName("/Type", "/ExtGState");
  return AddNewObject(*this, std::move(dict));
}

int64_t TzoCustomPDFDocument::DeflateInto(rtl::TMemoryStream& source, rtl::TStream& dest) {
  const int64_t before = dest.Size();
  TCompressionStream z(clDefault, &dest);
  z.WriteBuffer(source.Memory(), source.Size());
  z.Finish();
  return dest.Size() - before;
}

std::string TzoCustomPDFDocument::FontKey(const ui::TFont& font) {
  // A blank byte is never the second byte of a double-byte character.
  std::string key = font.Name();
  key.erase(std::remove(key.begin(), key.end(), ' '), key.end());
  const bool bold = font.Style() & ui::fsBold, italic = font.Style() & ui::fsItalic;
  if (bold || italic) key += ',';
  if (bold) key += "Bold";
  if (italic) key += "Italic";
  return key;
}
