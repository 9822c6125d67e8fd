// Helpers of the stamping tests: small pages in each /Contents form, objects put into a loaded
// document by hand, and the outside judges read back (qpdf --json, mutool trace, pdftoppm).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pdf/core/zoPDFUtils.h"
#include "pdf/document/zoPDFDoc.h"
#include "tests/pdf/document/DocTestSupport.h"
#include "tests/pdf/document/WriterTestSupport.h"
#include "tests/support/TestSupport.h"

namespace stamptest {

// ---- Fixture pages ----

// How the page's own content is given: a reference to one stream, a direct array of two
// streams, a reference to such an array, a referenced array shared by two pages, or none.
enum class Contents { Reference, DirectArray, ReferencedArray, SharedArray, Absent };

// The page's own content: a blue square at (10, 10) and a green one at (40, 10), 20 wide.
inline constexpr const char* kFirstPart = "0 0 1 rg 10 10 20 20 re f";
inline constexpr const char* kSecondPart = "0 1 0 rg 40 10 20 20 re f";

struct Fixture {
  Contents contents = Contents::Reference;
  std::string box = "/MediaBox [0 0 612 792]";
  bool resources = true;
  // In place of the two parts (Reference form only): the page's content as one stream.
  std::string ownContent;
};

// A PDF file of the fixture: catalog 1, page tree 2, the page (and for SharedArray a second page
// with the same content array), then the content objects.
inline std::string BuildFixture(const Fixture& f) {
  doctest::PdfBuilder b;
  const bool two = f.contents == Contents::SharedArray;
  b.Add("<< /Type /Catalog /Pages 2 0 R >>");
  b.Add(two ? "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"
            : "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  const int first = two ? 5 : 4;  // the first content object
  std::string contents;
  switch (f.contents) {
    case Contents::Reference:
      contents = "/Contents " + std::to_string(first) + " 0 R";
      break;
    case Contents::DirectArray:
      contents =
          "/Contents [" + std::to_string(first) + " 0 R " + std::to_string(first + 1) + " 0 R]";
      break;
    case Contents::ReferencedArray:
    case Contents::SharedArray:
      contents = "/Contents " + std::to_string(first + 2) + " 0 R";
      break;
    case Contents::Absent:
      break;
  }
  const std::string resources = f.resources ? "/Resources << /ProcSet [/PDF] >>" : "";
  const std::string page =
      "<< /Type /Page /Parent 2 0 R " + f.box + " " + resources + " " + contents + " >>";
  b.Add(page);
  if (two) b.Add(page);
  auto stream = [](const std::string& data) {
    return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
  };
  if (f.contents == Contents::Reference) {
    b.Add(
        stream(f.ownContent.empty() ? std::string(kFirstPart) + " " + kSecondPart : f.ownContent));
  } else if (f.contents != Contents::Absent) {
    b.Add(stream(kFirstPart));
    b.Add(stream(kSecondPart));
    if (f.contents != Contents::DirectArray)
      b.Add("[" + std::to_string(first) + " 0 R " + std::to_string(first + 1) + " 0 R]");
  }
  return b.Build();
}

inline std::string BuildFixture(Contents contents) {
  Fixture f;
  f.contents = contents;
  return BuildFixture(f);
}

// The fixture written into dir and loaded; fails the test when it does not load.
inline std::unique_ptr<TzoPDFDocument> LoadFixture(const std::string& pdf,
                                                   const sv::test::TempDir& dir,
                                                   const std::string& name = "in.pdf") {
  sv::test::WriteFile(dir / name, pdf);
  doctest::Loaded r = doctest::Load(dir / name);
  EXPECT_TRUE(r.ok) << r.error;
  r.doc->SetShowSetupDialog(false);
  return std::move(r.doc);
}

// ---- Objects put into a document by hand ----

// obj as a new object of doc (RefCount 1); a reference to it.
inline std::unique_ptr<TzoPDFIndirectReference> AddObject(TzoCustomPDFDocument& doc,
                                                          std::unique_ptr<TzoPDFObject> obj) {
  TzoPDFIndirectObject* ind = doc.InputStore().Add(TzoPDFIndirectObject::CreateReferenced(
      doc.DocumentNumber(), doc.InputStore().NextObjectNumber(), 0, true, std::move(obj)));
  return CreateReferenceTo(*ind);
}

inline std::unique_ptr<TzoPDFIndirectReference> AddStream(TzoCustomPDFDocument& doc,
                                                          std::unique_ptr<TzoPDFDictObject> dict,
                                                          const std::string& data) {
  dict->SetInteger("/Length", static_cast<int32_t>(data.size()));
  return AddObject(doc, std::make_unique<TzoPDFStreamObject>(
                            std::move(dict), std::make_unique<rtl::TMemoryStream>(data)));
}

inline std::unique_ptr<TzoPDFIndirectReference> AddContentStream(TzoCustomPDFDocument& doc,
                                                                 const std::string& text) {
  return AddStream(doc, std::make_unique<TzoPDFDictObject>(), text);
}

// An RGB image XObject of width x height pixels, every pixel of colour rgb.
inline std::unique_ptr<TzoPDFIndirectReference> AddImage(TzoCustomPDFDocument& doc, int width,
                                                         int height, uint8_t r, uint8_t g,
                                                         uint8_t b) {
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/Type", "/XObject");
  dict->AddName("/Subtype", "/Image");
  dict->AddInteger("/Width", width);
  dict->AddInteger("/Height", height);
  dict->AddName("/ColorSpace", "/DeviceRGB");
  dict->AddInteger("/BitsPerComponent", 8);
  std::string data;
  for (int i = 0; i < width * height; ++i)
    data += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
  return AddStream(doc, std::move(dict), data);
}

// An /ExtGState with stroking opacity /CA and non-stroking opacity /ca (0 to 1).
inline std::unique_ptr<TzoPDFIndirectReference> AddOpacity(TzoCustomPDFDocument& doc, double stroke,
                                                           double fill) {
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/Type", "/ExtGState");
  dict->AddReal("/CA", stroke);
  dict->AddReal("/ca", fill);
  return AddObject(doc, std::move(dict));
}

// The document saved to path through the writer; qpdf --check must find nothing.
inline void Save(TzoCustomPDFDocument& doc, const std::string& path) {
  ASSERT_TRUE(doc.SaveToFile(path, 2));
  EXPECT_EQ(sv::test::QpdfCheck(path), "");
}

// ---- qpdf --json ----

inline std::string Base64Decode(const std::string& in) {
  std::string out;
  int bits = 0, value = 0;
  for (char c : in) {
    int d = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
                                   : -1;
    if (d < 0) continue;
    value = (value << 6) | d;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

// What qpdf --json tells of a file: its pages and objects (stream data decoded).
struct QpdfJson {
  doctest::Json root;
  const doctest::Json* objects = nullptr;

  explicit QpdfJson(const std::string& path) {
    sv::test::CommandResult r =
        sv::test::RunCommand({"qpdf", "--json=2", "--json-key=qpdf", "--json-key=pages",
                              "--json-stream-data=inline", "--decode-level=generalized", path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    root = doctest::JsonReader(r.out).Parse();
    const doctest::Json* q = root.Get("qpdf");
    if (q && q->items.size() > 1) objects = &q->items[1];
  }
  // The object "N 0 R" (its "value" or "stream" member), or null.
  const doctest::Json* Object(const std::string& ref) const {
    const doctest::Json* o = objects ? objects->Get("obj:" + ref) : nullptr;
    if (!o) return nullptr;
    if (const doctest::Json* v = o->Get("value")) return v;
    return o->Get("stream");
  }
  // A value with references followed.
  const doctest::Json* Resolve(const doctest::Json* v) const {
    for (int hops = 0; v && v->kind == doctest::Json::String && v->s.size() > 2 &&
                       v->s.compare(v->s.size() - 2, 2, " R") == 0 && hops < 10;
         ++hops)
      v = Object(v->s);
    return v;
  }
  const doctest::Json* Page(int index) const {
    const doctest::Json* pages = root.Get("pages");
    if (!pages || index >= static_cast<int>(pages->items.size())) return nullptr;
    return Object(pages->items[static_cast<size_t>(index)].Str("object"));
  }
  // The decoded data of each content stream of page index, in /Contents order.
  std::vector<std::string> PageStreams(int index) const {
    std::vector<std::string> out;
    const doctest::Json* pages = root.Get("pages");
    if (!pages || index >= static_cast<int>(pages->items.size())) return out;
    const doctest::Json* contents = pages->items[static_cast<size_t>(index)].Get("contents");
    for (const doctest::Json& ref : contents ? contents->items : std::vector<doctest::Json>()) {
      const doctest::Json* s = Object(ref.s);
      out.push_back(s ? Base64Decode(s->Str("data")) : "<missing " + ref.s + ">");
    }
    return out;
  }
  // The /Resources category dictionary of page index, references followed.
  const doctest::Json* PageResourceCategory(int index, const std::string& category) const {
    const doctest::Json* page = Page(index);
    const doctest::Json* res = page ? Resolve(page->Get("/Resources")) : nullptr;
    return res ? Resolve(res->Get(category)) : nullptr;
  }
};

// ---- mutool trace ----

// One glyph of a text mark: its character, its origin in the text's user space and the
// matrix of its span (the text matrix times the font size, without the translation).
struct Glyph {
  std::string unicode;
  double x = 0, y = 0;
  std::vector<double> trm;
};

// One mark of mutool trace (fill_path, stroke_path, fill_image, fill_text, ...): its attributes,
// for paths the path operators with their points in user space, for text its glyphs.
struct Mark {
  std::string kind;
  std::map<std::string, std::string> attrs;
  std::vector<std::pair<std::string, std::vector<double>>> path;  // moveto, lineto, curveto
  std::vector<Glyph> glyphs;

  double Num(const std::string& key) const {
    auto it = attrs.find(key);
    return it == attrs.end() || it->second.empty() ? NAN : std::stod(it->second);
  }
  std::vector<double> Nums(const std::string& key) const {
    std::vector<double> v;
    auto it = attrs.find(key);
    if (it == attrs.end()) return v;
    size_t pos = 0;
    const std::string& s = it->second;
    while (pos < s.size()) {
      size_t used = 0;
      v.push_back(std::stod(s.substr(pos), &used));
      pos += used;
      while (pos < s.size() && s[pos] == ' ')
        ++pos;
    }
    return v;
  }
};

struct Trace {
  std::vector<Mark> marks;
  TzoRectD box;        // the page's visible box (points)
  std::string errors;  // what mutool wrote besides its usual ICC notice

  // The transformation of a mark in the page's user space (mutool reports it in device space,
  // y down from the top of the page's visible box).
  std::vector<double> UserMatrix(const Mark& m) const {
    std::vector<double> t = m.Nums("transform");
    if (t.size() != 6) return {};
    return {t[0], -t[1], t[2], -t[3], t[4] + box.X1, box.Y2 - t[5]};
  }
  // The same for an image, whose unit square mutool turns upside down first: the matrix that
  // the content set for the image's Do.
  std::vector<double> ImageMatrix(const Mark& m) const {
    std::vector<double> u = UserMatrix(m);
    if (u.size() != 6) return u;
    return {u[0], u[1], -u[2], -u[3], u[4] + u[2], u[5] + u[3]};
  }
  std::vector<const Mark*> Of(const std::string& kind) const {
    std::vector<const Mark*> found;
    for (const Mark& m : marks)
      if (m.kind == kind) found.push_back(&m);
    return found;
  }
};

// What mutool trace tells of page page, whose visible box is box.
inline Trace RunTrace(const std::string& path, const TzoRectD& box, int page = 1) {
  Trace trace;
  trace.box = box;
  sv::test::CommandResult r = sv::test::RunCommand({"mutool", "trace", path, std::to_string(page)});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  size_t pos = 0;
  while (pos < r.err.size()) {
    size_t end = r.err.find('\n', pos);
    if (end == std::string::npos) end = r.err.size();
    std::string line = r.err.substr(pos, end - pos);
    if (!line.empty() && line.find("ICC support is not available") == std::string::npos)
      trace.errors += line + "\n";
    pos = end + 1;
  }
  auto parseAttrs = [](const std::string& line, size_t from) {
    std::map<std::string, std::string> attrs;
    size_t i = from;
    for (;;) {
      size_t eq = line.find("=\"", i);
      if (eq == std::string::npos) break;
      size_t keyStart = line.rfind(' ', eq);
      std::string key = line.substr(keyStart + 1, eq - keyStart - 1);
      size_t close = line.find('"', eq + 2);
      attrs[key] = line.substr(eq + 2, close - eq - 2);
      i = close + 1;
    }
    return attrs;
  };
  pos = 0;
  Mark* open = nullptr;
  std::vector<double> trm;  // of the open span
  while (pos < r.out.size()) {
    size_t end = r.out.find('\n', pos);
    if (end == std::string::npos) end = r.out.size();
    std::string line = r.out.substr(pos, end - pos);
    pos = end + 1;
    size_t lt = line.find('<');
    if (lt == std::string::npos || lt + 1 >= line.size() || line[lt + 1] == '/') {
      // A span closes inside its text mark; any other closing tag ends the open mark.
      if (line.find("</") != std::string::npos && line.find("</span") == std::string::npos)
        open = nullptr;
      continue;
    }
    size_t nameEnd = line.find_first_of(" />", lt + 1);
    std::string name = line.substr(lt + 1, nameEnd - lt - 1);
    std::map<std::string, std::string> attrs = parseAttrs(line, nameEnd);
    if (name == "span") {
      trm = Mark{name, attrs, {}, {}}.Nums("trm");
    } else if (name == "g") {
      if (open)
        open->glyphs.push_back(
            {attrs["unicode"], std::stod(attrs["x"]), std::stod(attrs["y"]), trm});
    } else if (name == "moveto" || name == "lineto" || name == "curveto") {
      if (!open) continue;
      std::vector<double> pts;
      for (const char* k : {"x1", "y1", "x2", "y2", "x3", "y3", "x", "y"}) {
        auto it = attrs.find(k);
        if (it != attrs.end()) pts.push_back(std::stod(it->second));
      }
      open->path.emplace_back(name, pts);
    } else if (name == "fill_path" || name == "stroke_path" || name == "fill_image" ||
               name == "fill_text" || name == "stroke_text" || name == "clip_path") {
      trace.marks.push_back({name, attrs, {}, {}});
      open = line.find("/>") == std::string::npos ? &trace.marks.back() : nullptr;
    }
  }
  return trace;
}

// ---- Placement ----

// Where a stamp lies: the bounds of its rotated box on the page and the top-left corner of the
// stamp before the rotation.
struct Placement {
  double minX, maxX, minY, maxY, topLeftX, topLeftY;
};

// Expects the stamp where positions h and v put it in box, within 0.01 point: the left, right,
// top or bottom edge of its box on the box's edge (0 and 2), its centre on the box's centre (1),
// its top-left corner offsetX right of and offsetY below the box's top-left corner (3).
inline void ExpectPlaced(const Placement& p, const TzoRectD& box, uint8_t h, uint8_t v,
                         double offsetX, double offsetY) {
  switch (h) {
    case 0:
      EXPECT_NEAR(p.minX, box.X1, 0.01);
      break;
    case 1:
      EXPECT_NEAR((p.minX + p.maxX) / 2, (box.X1 + box.X2) / 2, 0.01);
      break;
    case 2:
      EXPECT_NEAR(p.maxX, box.X2, 0.01);
      break;
    default:
      EXPECT_NEAR(p.topLeftX, box.X1 + offsetX, 0.01);
      break;
  }
  switch (v) {
    case 0:
      EXPECT_NEAR(p.maxY, box.Y2, 0.01);
      break;
    case 1:
      EXPECT_NEAR((p.minY + p.maxY) / 2, (box.Y1 + box.Y2) / 2, 0.01);
      break;
    case 2:
      EXPECT_NEAR(p.minY, box.Y1, 0.01);
      break;
    default:
      EXPECT_NEAR(p.topLeftY, box.Y2 - offsetY, 0.01);
      break;
  }
}

// ---- pdftoppm ----

struct Rgb {
  int r = -1, g = -1, b = -1;
};

// Page page of a file rendered in colour at dpi (its crop box); At reads the pixel under a point
// of the page's user space (box: the page's crop box, or media box when it has none, in points).
struct Raster {
  int width = 0, height = 0, dpi = 72;
  std::vector<double> box;  // x1 y1 x2 y2
  std::string pixels;
  std::string errors;

  Rgb At(double x, double y) const {
    const int col = static_cast<int>(std::floor((x - box[0]) * dpi / 72));
    const int row = static_cast<int>(std::floor((box[3] - y) * dpi / 72));
    if (col < 0 || row < 0 || col >= width || row >= height) return {};
    const size_t i = (static_cast<size_t>(row) * width + col) * 3;
    return {static_cast<uint8_t>(pixels[i]), static_cast<uint8_t>(pixels[i + 1]),
            static_cast<uint8_t>(pixels[i + 2])};
  }
};

inline Raster Render(const std::string& path, const sv::test::TempDir& dir,
                     const std::vector<double>& box, int dpi = 72, int page = 1) {
  Raster raster;
  raster.dpi = dpi;
  raster.box = box;
  const std::string out = dir / ("render" + std::to_string(page));
  sv::test::CommandResult r = sv::test::RunCommand(
      {"pdftoppm", "-cropbox", "-r", std::to_string(dpi), "-f", std::to_string(page), "-l",
       std::to_string(page), "-singlefile", path, out});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  raster.errors = r.err;
  std::string ppm = sv::test::ReadFile(out + ".ppm");
  int maxValue = 0, consumed = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &raster.width, &raster.height, &maxValue,
                  &consumed) == 3)
    raster.pixels = ppm.substr(static_cast<size_t>(consumed) + 1);
  return raster;
}

}  // namespace stamptest
