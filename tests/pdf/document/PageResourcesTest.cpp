// Page resources for stamping: image XObjects from every kind of picture, graphics states with
// opacity, the deflating helper and font keys. Pictures are put on a page by a minimal content
// stream built here through the object layer, the document is saved through the writer, and the
// result is judged by qpdf, pdfimages and pdftoppm.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <set>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "tests/pdf/document/DocTestSupport.h"
#include "tests/pdf/document/PictureTestSupport.h"
#include "tests/pdf/document/WriterTestSupport.h"

using namespace pictest;
using doctest::Json;
using doctest::JsonReader;
using sv::test::TempDir;

namespace {

std::unique_ptr<TzoPDFDocument> LoadFile(const std::string& path, const std::string& pw = "") {
  doctest::Loaded l = doctest::Load(path, pw);
  if (!l.ok) throw std::runtime_error("cannot load " + path + ": " + l.error);
  l.doc->SetShowSetupDialog(false);
  return std::move(l.doc);
}

// The hand-made one-page document (objects 1 to 4), saved to dir and loaded.
std::unique_ptr<TzoPDFDocument> HandMadePage(const TempDir& dir) {
  sv::test::WriteFile(dir / "in.pdf", doctest::OnePage().Build());
  return LoadFile(dir / "in.pdf");
}

// Files ref under name in the page's resource category and appends a content stream that draws
// content.
void AddToPage(TzoCustomPDFDocument& doc, size_t page, const std::string& category,
               const std::string& name, const TzoPDFIndirectReference& ref,
               const std::string& content) {
  TzoPDFObjectStore& store = doc.InputStore();
  TzoPDFDictObject* pageDict = doc.Pages().at(page)->DirectObject()->AsDict();
  auto child = [&](TzoPDFDictObject* parent, const char* key) {
    TzoPDFDictObject* d = store.GetDict(parent->GetValue(key));
    if (!d) {
      parent->SetValue(key, std::make_unique<TzoPDFDictObject>());
      d = parent->GetValue(key)->AsDict();
    }
    return d;
  };
  child(child(pageDict, "/Resources"), category.c_str())->SetValue(name, ref.Clone());

  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddInteger("/Length", static_cast<int32_t>(content.size()));
  auto stream = std::make_unique<TzoPDFStreamObject>(std::move(dict),
                                                     std::make_unique<rtl::TMemoryStream>(content));
  TzoPDFIndirectObject* obj = store.Add(TzoPDFIndirectObject::CreateReferenced(
      doc.DocumentNumber(), store.NextObjectNumber(), 0, true, std::move(stream)));
  TzoPDFObject* contents = pageDict->GetValue("/Contents");
  TzoPDFObject* target = contents ? store.Resolve(contents) : nullptr;
  if (!contents) {
    pageDict->SetValue("/Contents", CreateReferenceTo(*obj));
  } else if (target && target->IsArray()) {
    target->AsArray()->Add(CreateReferenceTo(*obj));
  } else {
    auto list = std::make_unique<TzoPDFArrayObject>();
    list->Add(contents->Clone());
    list->Add(CreateReferenceTo(*obj));
    pageDict->SetValue("/Contents", std::move(list));
  }
}

// "q w 0 0 h x y cm /Name Do Q": the image at its pixel size.
std::string DrawImage(const std::string& name, int x, int y, int w, int h) {
  return "q " + std::to_string(w) + " 0 0 " + std::to_string(h) + " " + std::to_string(x) + " " +
         std::to_string(y) + " cm " + name + " Do Q\r";
}

// The objects of qpdf --json, by "obj:N 0 R".
Json QpdfObjects(const std::string& pdf) {
  sv::test::CommandResult r = sv::test::RunCommand({"qpdf", "--json", "--json-key=qpdf", pdf});
  if (r.exitCode != 0) throw std::runtime_error("qpdf --json failed: " + r.err);
  return JsonReader(r.out).Parse().Get("qpdf")->items.at(1);
}

// The stream dictionary (or value) of the object whose /Name is name; null when none.
const Json* DictNamed(const Json& objects, const std::string& name) {
  for (const auto& [key, entry] : objects.members) {
    const Json* dict = entry.Get("stream") ? entry.Get("stream")->Get("dict") : entry.Get("value");
    if (dict && dict->kind == Json::Object && dict->Str("/Name") == name) return dict;
  }
  return nullptr;
}

// "key=value" texts of a JSON dictionary, in qpdf's key order.
std::vector<std::string> Entries(const Json& dict) {
  std::vector<std::string> out;
  for (const auto& [k, v] : dict.members) {
    std::string text = v.kind == Json::Number   ? rtl::Format("%g", v.n)
                       : v.kind == Json::String ? v.s
                                                : "?";
    out.push_back(k + "=" + text);
  }
  return out;
}

template <class T>
std::unique_ptr<T> Loaded(const std::string& bytes) {
  auto g = std::make_unique<T>();
  rtl::TMemoryStream mem(bytes);
  g->LoadFromStream(mem);
  return g;
}

Dib ColourDib(int width, int height, int bits) {
  Dib d;
  d.width = width;
  d.height = height;
  d.bits = bits;
  for (int i = 0; i < (bits <= 8 ? 1 << bits : 0); ++i)
    d.palette.push_back({static_cast<uint8_t>(i * 53), static_cast<uint8_t>(200 - i * 11),
                         static_cast<uint8_t>(i * 29 + 7)});
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      d.indices.push_back(static_cast<uint8_t>((x + 3 * y) % (1 << std::min(bits, 8))));
      d.colors.push_back({static_cast<uint8_t>(x * 31), static_cast<uint8_t>(y * 47 + 1),
                          static_cast<uint8_t>(255 - x * y), 9});
    }
  return d;
}

std::string CjpegFile(const TempDir& tmp, const Image& img, const std::vector<std::string>& opts) {
  sv::test::WriteFile(tmp / "pic.ppm", MakePpm(img));
  std::vector<std::string> argv = {"cjpeg"};
  argv.insert(argv.end(), opts.begin(), opts.end());
  argv.insert(argv.end(), {"-outfile", tmp / "pic.jpg", tmp / "pic.ppm"});
  if (sv::test::RunCommand(argv).exitCode != 0) throw std::runtime_error("cjpeg failed");
  return sv::test::ReadFile(tmp / "pic.jpg");
}

Image DjpegOf(const TempDir& tmp, const std::string& jpeg) {
  sv::test::WriteFile(tmp / "ref.jpg", jpeg);
  sv::test::CommandResult r =
      sv::test::RunCommand({"djpeg", "-pnm", "-outfile", tmp / "ref.pnm", tmp / "ref.jpg"});
  if (r.exitCode != 0) throw std::runtime_error("djpeg failed");
  return ReadPnm(sv::test::ReadFile(tmp / "ref.pnm"));
}

struct Picture {
  std::string name;
  std::unique_ptr<TGraphic> graphic;
  Image expected;
  int tolerance = 0;
};

// Pictures of every kind with the pixels that a reader must get back from the image XObject.
std::vector<Picture> EveryKindOfPicture(const TempDir& tmp) {
  std::vector<Picture> pics;
  auto bmp = [&](const std::string& name, Dib d) {
    pics.push_back({name, Loaded<TBitmap>(MakeBmp(d)), d.Expected()});
  };
  bmp("1 bit", ColourDib(17, 3, 1));
  bmp("4 bits", ColourDib(5, 3, 4));
  Dib topDown = ColourDib(3, 4, 8);
  topDown.topDown = true;
  bmp("8 bits, top-down", topDown);
  Dib core = ColourDib(6, 2, 8);
  core.headerSize = 12;
  bmp("8 bits, core header", core);
  bmp("24 bits", ColourDib(3, 2, 24));
  bmp("32 bits", ColourDib(4, 3, 32));
  Dib fields = ColourDib(3, 2, 32);
  fields.bitFields = true;
  bmp("32 bits, bit fields", fields);

  // Two pixels: red, then a blue-green, as the samples' first six bytes R G B R G B.
  auto two = std::make_unique<TBitmap>(2, 1);
  const uint8_t px[6] = {255, 0, 0, 0, 128, 255};
  std::memcpy(two->ScanLine(0), px, 6);
  pics.push_back({"2 x 1 bitmap", std::move(two), Image{2, 1, {px, px + 6}}});

  // An icon with a mask: the masked pixels come out white.
  Dib icon = ColourDib(16, 16, 4);
  icon.palette[0] = {0, 0, 0};
  icon.andMask.assign(256, 0);
  Image iconExpected;
  for (int i = 0; i < 256; ++i)
    if (i % 5 == 0) {
      icon.andMask[i] = 1;
      icon.indices[i] = 0;
    }
  iconExpected = icon.Expected();
  for (int i = 0; i < 256; ++i)
    if (icon.andMask[i]) std::memset(&iconExpected.rgb[i * 3], 255, 3);
  pics.push_back({"icon, 4 bits with a mask", Loaded<TIcon>(MakeIco({{16, 16, icon.IconImage()}})),
                  iconExpected});

  // An icon with alpha, blended over white.
  Dib alpha = ColourDib(8, 8, 32);
  alpha.andMask.assign(64, 0);
  Image alphaExpected = alpha.Expected();
  for (size_t i = 0; i < alpha.colors.size(); ++i) {
    alpha.colors[i][3] = static_cast<uint8_t>(i * 4);
    for (int k = 0; k < 3; ++k)
      alphaExpected.rgb[i * 3 + k] =
          static_cast<uint8_t>((alpha.colors[i][k] * (i * 4) + 255 * (255 - i * 4) + 127) / 255);
  }
  pics.push_back({"icon, 32 bits with alpha", Loaded<TIcon>(MakeIco({{8, 8, alpha.IconImage()}})),
                  alphaExpected});

  // JPEG pictures, against libjpeg's own decode.
  const Image source = TestPicture(37, 23);
  for (const auto& [name, opts] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"JPEG, colour", {"-quality", "85"}}, {"JPEG, grey", {"-grayscale"}}}) {
    const std::string jpeg = CjpegFile(tmp, source, opts);
    pics.push_back({name, Loaded<TJPEGImage>(jpeg), DjpegOf(tmp, jpeg), 1});
  }
  return pics;
}

#define SV_REQUIRE_PICTURE_TOOLS() SV_REQUIRE_JUDGES("qpdf", "pdfimages", "cjpeg", "djpeg")

}  // namespace

// ---- Image XObjects ----

TEST(ImageResource, EveryKindOfPictureComesBackExactlyFromAHandMadePage) {
  SV_REQUIRE_PICTURE_TOOLS();
  TempDir tmp;
  std::unique_ptr<TzoPDFDocument> doc = HandMadePage(tmp);
  std::vector<Picture> pics = EveryKindOfPicture(tmp);
  std::set<int32_t> numbers;
  for (size_t i = 0; i < pics.size(); ++i) {
    const std::string name = "/RVNImg" + std::to_string(i);
    std::unique_ptr<TzoPDFIndirectReference> ref = doc->AddImageResource(*pics[i].graphic, name);
    ASSERT_TRUE(ref);
    EXPECT_GT(ref->ObjectNumber(), 4) << "a number of the file";  // the file has objects 1 to 4
    EXPECT_TRUE(numbers.insert(ref->ObjectNumber()).second);
    const TzoPDFIndirectObject* obj = doc->InputStore().Find(ref.get());
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->RefCount(), 1);
    EXPECT_EQ(obj->DocumentNumber(), doc->DocumentNumber());
    AddToPage(*doc, 0, "/XObject", name, *ref,
              DrawImage(name, 0, static_cast<int>(i) * 10, pics[i].graphic->Width(),
                        pics[i].graphic->Height()));
  }
  const std::string out = tmp / "out.pdf";
  ASSERT_TRUE(doc->SaveToFile(out, 2));
  EXPECT_EQ(sv::test::QpdfCheck(out), "");

  // The dictionaries, as qpdf reads them, and their keys in the order written.
  const Json objects = QpdfObjects(out);
  const std::string text = sv::test::ReadFile(out);
  for (size_t i = 0; i < pics.size(); ++i) {
    SCOPED_TRACE(pics[i].name);
    const std::string name = "/RVNImg" + std::to_string(i);
    const Json* dict = DictNamed(objects, name);
    ASSERT_TRUE(dict);
    const Json* length = dict->Get("/Length");
    ASSERT_TRUE(length && length->kind == Json::Number);
    const std::string w = std::to_string(pics[i].graphic->Width()),
                      h = std::to_string(pics[i].graphic->Height());
    EXPECT_EQ(Entries(*dict),
              (std::vector<std::string>{"/BitsPerComponent=8", "/ColorSpace=/DeviceRGB",
                                        "/Filter=/FlateDecode", "/Height=" + h,
                                        "/Length=" + rtl::Format("%g", length->n), "/Name=" + name,
                                        "/Subtype=/Image", "/Type=/XObject", "/Width=" + w}));
    EXPECT_NE(text.find("<<\r\n/Type /XObject\r\n/Subtype /Image\r\n/Name " + name + "\r\n/Width " +
                        w + "\r\n/Height " + h +
                        "\r\n/BitsPerComponent 8\r\n/ColorSpace /DeviceRGB\r\n/Filter "
                        "/FlateDecode\r\n/Length "),
              std::string::npos);
  }

  // What pdfimages finds and the pixels it gives back.
  const std::vector<ListedImage> list = PdfImagesList(out);
  ASSERT_EQ(list.size(), pics.size());
  const std::vector<Image> images = PdfImagesPng(out, tmp);
  ASSERT_EQ(images.size(), pics.size());
  for (size_t i = 0; i < pics.size(); ++i) {
    SCOPED_TRACE(pics[i].name);
    EXPECT_EQ(list[i].page, 1);
    EXPECT_EQ(list[i].type, "image");
    EXPECT_EQ(list[i].width, pics[i].graphic->Width());
    EXPECT_EQ(list[i].height, pics[i].graphic->Height());
    EXPECT_EQ(list[i].color, "rgb");
    EXPECT_EQ(list[i].components, 3);
    EXPECT_EQ(list[i].bits, 8);
    EXPECT_EQ(list[i].encoding, "image");
    EXPECT_LE(MaxDifference(images[i], pics[i].expected), pics[i].tolerance);
  }
}

TEST(ImageResource, PicturesOnARealFile) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_PICTURE_TOOLS();
  TempDir tmp;
  const std::string in = sv::test::CorpusDir() + "docs/fontconfig-user.pdf";
  const std::vector<ListedImage> before = PdfImagesList(in);
  std::unique_ptr<TzoPDFDocument> doc = LoadFile(in);
  const int32_t fileNumbers =
      static_cast<int32_t>(std::max(doc->XRefItems().size(), doc->XRefStmItems().size()));

  const std::string jpeg = CjpegFile(tmp, TestPicture(120, 80), {"-quality", "75"});
  const Image jpegPixels = DjpegOf(tmp, jpeg);
  const Dib dib = ColourDib(33, 7, 8);
  Picture pics[] = {{"JPEG", Loaded<TJPEGImage>(jpeg), jpegPixels, 1},
                    {"8-bit BMP", Loaded<TBitmap>(MakeBmp(dib)), dib.Expected(), 0}};
  for (size_t i = 0; i < 2; ++i) {
    const std::string name = "/RVNImg" + std::to_string(900 + i);
    std::unique_ptr<TzoPDFIndirectReference> ref = doc->AddImageResource(*pics[i].graphic, name);
    EXPECT_GE(ref->ObjectNumber(), fileNumbers) << "a number of the file";
    AddToPage(*doc, i, "/XObject", name, *ref,
              DrawImage(name, 100, 100, pics[i].graphic->Width(), pics[i].graphic->Height()));
  }
  doc->SetCompression(0, 2);  // the writer leaves Flate data as it is
  const std::string out = tmp / "out.pdf";
  ASSERT_TRUE(doc->SaveToFile(out, 2));
  EXPECT_EQ(sv::test::QpdfCheck(out), "");
  EXPECT_EQ(sv::test::PdfInfo(out)["Pages"], sv::test::PdfInfo(in)["Pages"]);

  // The file's own images and ours, each on its page, with the pixels given.
  const std::vector<ListedImage> after = PdfImagesList(out);
  ASSERT_EQ(after.size(), before.size() + 2);
  const std::vector<Image> images = PdfImagesPng(out, tmp);
  ASSERT_EQ(images.size(), after.size());
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(pics[i].name);
    bool found = false;
    for (size_t k = 0; k < after.size(); ++k) {
      if (after[k].page != static_cast<int>(i) + 1 || after[k].width != pics[i].graphic->Width() ||
          after[k].height != pics[i].graphic->Height())
        continue;
      found = true;
      EXPECT_EQ(after[k].color, "rgb");
      EXPECT_EQ(after[k].bits, 8);
      EXPECT_LE(MaxDifference(images[k], pics[i].expected), pics[i].tolerance);
    }
    EXPECT_TRUE(found);
  }
  // The pages still show their own text.
  EXPECT_EQ(sv::test::PdfText(out), sv::test::PdfText(in));
}

TEST(ImageResource, NewNumbersStayAboveAFileThatUnderstatesItsSize) {
  SV_REQUIRE_PICTURE_TOOLS();
  // Objects 1 to 4 and 10 (the page's content), the trailer's /Size saying 5.
  const std::string bodies[] = {"<< /Type /Catalog /Pages 2 0 R >>",
                                "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
                                "/Contents 10 0 R >>",
                                "<< /Producer (hand) >>"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (int i = 0; i < 4; ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
  }
  const size_t off10 = pdf.size();
  pdf += "10 0 obj\n<< /Length 17 >>\nstream\n0 0 m 200 200 l S\nendstream\nendobj\n";
  const size_t xref = pdf.size();
  pdf += "xref\n0 5\n0000000000 65535 f \n";
  for (size_t o : offsets)
    pdf += rtl::Format("%.10d 00000 n \n", static_cast<int64_t>(o));
  pdf += "10 1\n" + rtl::Format("%.10d 00000 n \n", static_cast<int64_t>(off10));
  pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  TempDir tmp;
  sv::test::WriteFile(tmp / "in.pdf", pdf);
  std::unique_ptr<TzoPDFDocument> doc = LoadFile(tmp / "in.pdf");

  TBitmap pic(4, 4);
  for (int i = 0; i < 7; ++i) {
    const std::string name = "/Im" + std::to_string(i);
    std::unique_ptr<TzoPDFIndirectReference> ref = doc->AddImageResource(pic, name);
    EXPECT_GT(ref->ObjectNumber(), 10);
    const TzoPDFIndirectObject* obj = doc->InputStore().Find(ref.get());
    ASSERT_TRUE(obj && obj->DirectObject()->IsStream());
    EXPECT_EQ(obj->DirectObject()->AsStream()->Dict()->GetValue("/Name")->AsName()->Text(), name);
    AddToPage(*doc, 0, "/XObject", name, *ref, DrawImage(name, i * 20, 0, 4, 4));
  }
  const std::string out = tmp / "out.pdf";
  ASSERT_TRUE(doc->SaveToFile(out, 2));
  EXPECT_EQ(sv::test::QpdfCheck(out), "");
  EXPECT_EQ(PdfImagesList(out).size(), 7u);
  EXPECT_NE(sv::test::ReadFile(out).find("0 0 m 200 200 l S"), std::string::npos)
      << "the file's own content is lost";
}

TEST(ImageResource, RefusedPicturesAddNothing) {
  TempDir tmp;
  std::unique_ptr<TzoPDFDocument> doc = HandMadePage(tmp);
  class TPngImage : public TGraphic {
   public:
    std::string ClassName() const override { return "TPngImage"; }
    void LoadFromStream(rtl::TStream&) override {}
    void Draw(TBitmap&, int32_t, int32_t) const override {}
  };
  const int32_t count = doc->InputStore().Count();
  const int32_t last = doc->InputStore().LastNumber();
  struct Case {
    std::unique_ptr<TGraphic> graphic;
    std::string message;  // empty: the empty-picture error
  };
  Case cases[3];
  cases[0] = {std::make_unique<TMetafile>(), "Unsupported image format (TMetafile)"};
  cases[1] = {std::make_unique<TPngImage>(), "Unsupported image format (TPngImage)"};
  cases[2] = {std::make_unique<TBitmap>(), ""};
  for (Case& c : cases) {
    SCOPED_TRACE(c.graphic->ClassName());
    if (c.message.empty()) {
      EXPECT_THROW(doc->AddImageResource(*c.graphic, "/Im"), EInvalidGraphic);
    } else {
      try {
        doc->AddImageResource(*c.graphic, "/Im");
        ADD_FAILURE() << "taken";
      } catch (const EUnsupportedImageError& e) {
        EXPECT_EQ(e.Message(), c.message);
      }
    }
    EXPECT_EQ(doc->InputStore().Count(), count);
    EXPECT_EQ(doc->InputStore().LastNumber(), last);
  }
}

TEST(ImageResource, BitmapToRgbGivesRowsTopFirst) {
  TBitmap b(2, 2);
  const uint8_t top[6] = {1, 2, 3, 4, 5, 6}, bottom[6] = {7, 8, 9, 10, 11, 12};
  std::memcpy(b.ScanLine(0), top, 6);
  std::memcpy(b.ScanLine(1), bottom, 6);
  std::unique_ptr<rtl::TMemoryStream> rgb = TzoCustomPDFDocument::BitmapToRGB(b);
  EXPECT_EQ(rgb->ToString(), std::string("\1\2\3\4\5\6\7\10\11\12\13\14"));
}

// ---- Opacity ----

TEST(OpacityState, ValuesAndTheirTexts) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "pdftotext", "pdfimages");
  TempDir tmp;
  std::unique_ptr<TzoPDFDocument> doc = HandMadePage(tmp);
  struct Case {
    double stroke, fill;
    const char* ca;      // /CA
    const char* caFill;  // /ca
  };
  const Case cases[] = {
      {100, 50, "1", "0.5"},          {0, 100, "0", "1"},
      {33.3, 12.5, "0.333", "0.125"}, {0.0001, 99.99, "0.000001", "0.9999"},
      {150, -20, "1", "0"},  // beyond 0 .. 100: the nearest valid opacity
  };
  std::vector<std::string> names;
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::unique_ptr<TzoPDFIndirectReference> ref =
        doc->AddOpacityState(cases[i].stroke, cases[i].fill);
    ASSERT_TRUE(ref);
    EXPECT_GT(ref->ObjectNumber(), 4);
    names.push_back("/GS" + std::to_string(i));
    AddToPage(*doc, 0, "/ExtGState", names.back(), *ref, "q " + names.back() + " gs Q\r");
  }
  const std::string out = tmp / "out.pdf";
  ASSERT_TRUE(doc->SaveToFile(out, 2));
  EXPECT_EQ(sv::test::QpdfCheck(out), "");
  const std::string text = sv::test::ReadFile(out);
  const Json objects = QpdfObjects(out);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ca + std::string(" ") + c.caFill);
    // Keys in their order, numbers in fixed notation.
    const std::string body =
        std::string("<<\r\n/CA ") + c.ca + "\r\n/ca " + c.caFill + "\r\n/Type /ExtGState\r\n>>";
    EXPECT_NE(text.find(body), std::string::npos);
    bool found = false;
    for (const auto& [key, entry] : objects.members) {
      const Json* v = entry.Get("value");
      if (!v || v->Str("/Type") != "/ExtGState") continue;
      const Json* a = v->Get("/CA");
      const Json* b = v->Get("/ca");
      if (a && b && a->kind == Json::Number && b->kind == Json::Number && a->n == std::stod(c.ca) &&
          b->n == std::stod(c.caFill))
        found = true;
    }
    EXPECT_TRUE(found) << "qpdf does not read the numbers";
  }

  // Both opaque: no object at all.
  const int32_t count = doc->InputStore().Count();
  EXPECT_EQ(doc->AddOpacityState(100, 100), nullptr);
  EXPECT_EQ(doc->InputStore().Count(), count);
}

TEST(OpacityState, ARendererDrawsThroughIt) {
  SV_REQUIRE_JUDGES("pdftoppm");
  TempDir tmp;
  std::unique_ptr<TzoPDFDocument> doc = HandMadePage(tmp);
  // Black filled at half opacity on the left, a black line stroked at half opacity on the right.
  AddToPage(*doc, 0, "/ExtGState", "/GSFill", *doc->AddOpacityState(100, 50),
            "q /GSFill gs 0 g 0 0 100 200 re f Q\r");
  AddToPage(*doc, 0, "/ExtGState", "/GSStroke", *doc->AddOpacityState(50, 100),
            "q /GSStroke gs 0 G 20 w 150 0 m 150 200 l S Q\r");
  const std::string out = tmp / "out.pdf";
  ASSERT_TRUE(doc->SaveToFile(out, 2));
  const std::vector<std::string> pages = sv::test::RenderPages(out, "", 72, tmp.Path());
  ASSERT_EQ(pages.size(), 1u);
  const Image page = ReadPnm(pages[0]);
  ASSERT_EQ(page.width, 200);
  EXPECT_NEAR(page.At(50, 60)[0], 128, 2);   // the fill
  EXPECT_NEAR(page.At(150, 60)[0], 128, 2);  // the line
  EXPECT_EQ(page.At(120, 60)[0], 255);       // white between them
}

// ---- Deflating and font keys ----

TEST(DeflateInto, AppendsACompleteZlibStream) {
  struct Case {
    const char* name;
    std::string data;
  };
  std::string big;
  for (int i = 0; i < 300000; ++i)
    big += static_cast<char>((static_cast<uint32_t>(i) * 7919u) >> 3);
  const Case cases[] = {{"nothing", ""}, {"text", "BT /F1 12 Tf (Hello) Tj ET"}, {"300 kB", big}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rtl::TMemoryStream source(c.data);
    source.SetPosition(static_cast<int64_t>(c.data.size() / 2));  // the whole is taken anyway
    rtl::TMemoryStream dest("head");
    dest.SetPosition(4);
    const int64_t added = TzoCustomPDFDocument::DeflateInto(source, dest);
    EXPECT_EQ(added, dest.Size() - 4);
    const std::string z = dest.ToString().substr(4);
    EXPECT_EQ(dest.ToString().substr(0, 4), "head");
    std::vector<uint8_t> back(c.data.size() + 1);
    uLongf size = back.size();
    ASSERT_EQ(uncompress(back.data(), &size, reinterpret_cast<const Bytef*>(z.data()), z.size()),
              Z_OK);
    EXPECT_EQ(std::string(back.begin(), back.begin() + size), c.data);
  }
}

TEST(FontKey, NameWithoutBlanksAndTheStyle) {
  struct Case {
    std::string name;
    ui::TFontStyles style;
    std::string key;
  };
  const Case cases[] = {
      {"Arial", 0, "Arial"},
      {"Times New Roman", ui::fsBold, "TimesNewRoman,Bold"},
      {"Courier New", ui::fsItalic, "CourierNew,Italic"},
      {"Arial", ui::fsBold | ui::fsItalic, "Arial,BoldItalic"},
      {"Arial", ui::fsUnderline | ui::fsStrikeOut, "Arial"},
      // ＭＳ Ｐゴシック in code page 932: its full-width letters and blank stay as they are.
      {"\x82\x6C\x82\x72 \x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E", ui::fsBold,
       "\x82\x6C\x82\x72\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E,Bold"},
      {"\x82\x6C\x82\x72\x81\x40\x96\xBE\x92\xA9", 0, "\x82\x6C\x82\x72\x81\x40\x96\xBE\x92\xA9"},
  };
  for (const Case& c : cases) {
    ui::TFont font;
    font.SetName(c.name);
    font.SetStyle(c.style);
    EXPECT_EQ(TzoCustomPDFDocument::FontKey(font), c.key) << c.name;
  }
}
