// libFuzzer target over picture loading: arbitrary bytes are read as a BMP file, an ICO file and
// a JPEG file, and each picture that loads becomes an image XObject of a document (drawn onto a
// bitmap, turned into RGB samples and deflated). Refusals are expected; only crashes, leaks,
// undefined behaviour, hangs and large allocations count. Built and run by scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "pdf/document/zoGraphics.h"
#include "pdf/document/zoPDFDoc.h"

namespace {

template <class T>
void LoadAndAdd(TzoPDFDocument& doc, const std::string& bytes) {
  try {
    T picture;
    rtl::TMemoryStream mem(bytes);
    picture.LoadFromStream(mem);
    doc.AddImageResource(picture, "/Im");
  } catch (const rtl::Exception&) {
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Pictures of up to a million pixels: large enough for every kind of damage, small enough to
  // keep each run quick.
  SetPictureSizeLimit(1 << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  auto doc = TzoPDFDocument::Create();
  LoadAndAdd<TBitmap>(*doc, bytes);
  LoadAndAdd<TIcon>(*doc, bytes);
  LoadAndAdd<TJPEGImage>(*doc, bytes);
  return 0;
}
