// Stamping: a text, image, shape or composite stamp put on a range of pages, with the variables
// of a text stamp filled in page by page.
//
// Every path first works out what each page gets (its box as shown, its content text), so that
// bad input raises before a page changes; then it makes the shared resources and edits the pages.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <unordered_map>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "platform/LocalTime.h"

namespace {

constexpr const char* SCompositeContainsItself =
    "The composite stamp contains itself: it cannot be stamped";
constexpr const char* SImageStampWithoutImage = "The image stamp has no picture";

// Degrees brought into [0, 360).
int32_t NormalAngle(int32_t degrees) {
  const int32_t r = degrees % 360;
  return r < 0 ? r + 360 : r;
}

// Puts a template's Angle, X and Y back as they were when the call ends, however it ends.
class PlacementGuard {
 public:
  explicit PlacementGuard(TzoCustomWatermarkTemplate& t)
      : t_(t), angle_(t.Angle), x_(t.X), y_(t.Y) {}
  ~PlacementGuard() {
    t_.Angle = angle_;
    t_.X = x_;
    t_.Y = y_;
  }
  PlacementGuard(const PlacementGuard&) = delete;
  PlacementGuard& operator=(const PlacementGuard&) = delete;

 private:
  TzoCustomWatermarkTemplate& t_;
  int32_t angle_;
  double x_, y_;
};

// Puts a text template's Text back as it was when the call ends, however it ends: the template
// can be used again.
class TextGuard {
 public:
  explicit TextGuard(TzoTextWatermarkTemplate& t) : t_(t), text_(t.Text) {}
  ~TextGuard() { t_.Text = std::move(text_); }
  TextGuard(const TextGuard&) = delete;
  TextGuard& operator=(const TextGuard&) = delete;

 private:
  TzoTextWatermarkTemplate& t_;
  std::u16string text_;
};

// ---- Pages as they are shown ----

// A page as a viewer shows it. Stamps are placed in `shown`: the page's box turned by its
// /Rotate, with the box's top-left corner kept, so that a point counted from the top-left corner
// is the same in both. `matrix` takes the shown box onto the page's own space ("" when the page
// is not turned).
struct PageView {
  int32_t page = 0;      // from 1
  int32_t rotation = 0;  // clockwise quarter turns in degrees: 0, 90, 180 or 270
  TzoRectD box;          // the page's box, points
  TzoRectD shown;
  std::string matrix;  // "a b c d e f cm\r"
};

// The page's /Rotate as 0, 90, 180 or 270; a value that is no multiple of 90 counts as 0, as
// readers take it.
int32_t PageRotation(TzoCustomPDFDocument& doc, int32_t pageNumber) {
  TzoPDFObject* direct = doc.Pages()[static_cast<size_t>(pageNumber - 1)]->DirectObject();
  TzoPDFDictObject* page = direct ? direct->AsDict() : nullptr;
  TzoPDFObject* v = page ? doc.InputStore().Resolve(page->GetValue("/Rotate")) : nullptr;
  double degrees = 0;
  if (v && v->AsInteger())
    degrees = v->AsInteger()->Value();
  else if (v && v->AsReal())
    degrees = v->AsReal()->Value();
  if (!std::isfinite(degrees) || std::fmod(degrees, 90) != 0) return 0;
  return NormalAngle(static_cast<int32_t>(std::fmod(degrees, 360)));
}

PageView ViewOf(TzoCustomPDFDocument& doc, int32_t pageNumber) {
  PageView v;
  v.page = pageNumber;
  v.box = doc.GetPageBox(pageNumber, muPoints);  // EInvalidPageError for a page without a box
  v.rotation = PageRotation(doc, pageNumber);
  v.shown = v.box;
  const double x1 = v.box.X1, y1 = v.box.Y1, x2 = v.box.X2, y2 = v.box.Y2;
  const double w = x2 - x1, h = y2 - y1;
  double m[6] = {1, 0, 0, 1, 0, 0};
  switch (v.rotation) {
    case 90:
      v.shown = {x1, y2 - w, x1 + h, y2};
      m[0] = 0, m[1] = 1, m[2] = -1, m[3] = 0, m[4] = x1 + y2, m[5] = y1 - x1;
      break;
    case 180:
      m[0] = -1, m[3] = -1, m[4] = x1 + x2, m[5] = y1 + y2;
      break;
    case 270:
      v.shown = {x1, y2 - w, x1 + h, y2};
      m[0] = 0, m[1] = -1, m[2] = 1, m[3] = 0, m[4] = x2 - y2, m[5] = x1 + y2;
      break;
    default:
      return v;
  }
  for (double n : m)
    v.matrix += FloatToStrDot(n) + " ";
  v.matrix += "cm\r";
  return v;
}

std::vector<PageView> ViewsOf(TzoCustomPDFDocument& doc, const std::vector<int32_t>& pages) {
  std::vector<PageView> views;
  views.reserve(pages.size());
  for (int32_t p : pages)
    views.push_back(ViewOf(doc, p));
  return views;
}

// content drawn in the shown box, put onto the page.
std::string Upright(const PageView& v, std::string content) {
  if (v.matrix.empty()) return content;
  return "q\r" + v.matrix + content + "Q\r";
}

// The same for a content stream made by the processor.
void Upright(const PageView& v, TzoPDFIndirectObject& content) {
  if (v.matrix.empty()) return;
  TzoPDFStreamObject* stream = content.DirectObject()->AsStream();
  const std::string text = Upright(v, stream->Data()->ToString());
  stream->Dict()->SetInteger("/Length", static_cast<int32_t>(text.size()));
  stream->SetData(std::make_unique<rtl::TMemoryStream>(text));
}

// ---- Resources ----

// A test for resource names: true when any page of views already uses the name.
TzoNameInUse UsedOnAny(TzoCustomPDFDocument& doc, const std::vector<PageView>& views) {
  std::set<int32_t> pages;
  for (const PageView& v : views)
    pages.insert(v.page);
  return [&doc, pages](const std::string& name) {
    return std::any_of(pages.begin(), pages.end(),
                       [&](int32_t p) { return doc.PageHasResourceName(p - 1, name); });
  };
}

// The stroking and non-stroking opacities of a stamp, in percent.
struct Opacity {
  double stroke = 100;
  double fill = 100;
  bool Wanted() const { return stroke != 100 || fill != 100; }
};

Opacity ShapeOpacity(const TzoShapeWatermark& shape) {
  if (dynamic_cast<const TzoLineWatermarkTemplate*>(&shape) ||
      dynamic_cast<const TzoCurveWaterMarkTemplate*>(&shape))
    return {static_cast<double>(shape.LineOpacity), 100};
  if (const auto* closed = dynamic_cast<const TzoClosedShapeWatermark*>(&shape))
    if (dynamic_cast<const TzoRectangleWatermarkTemplate*>(closed) ||
        dynamic_cast<const TzoCircleWaterMarkTemplate*>(closed) ||
        dynamic_cast<const TzoEllipseWaterMarkTemplate*>(closed) ||
        dynamic_cast<const TzoPolygonWatermark*>(closed))
      return {static_cast<double>(closed->LineOpacity), static_cast<double>(closed->FillOpacity)};
  return {};
}

// The opacity state of a call: its name (free on every page of views) and object, or none.
struct GState {
  std::string name;
  std::unique_ptr<TzoPDFIndirectReference> ref;
};

GState MakeGState(TzoCustomPDFDocument& doc, const Opacity& o, const std::vector<PageView>& views) {
  GState g;
  if (!o.Wanted()) return g;
  g.name = NewGStateResourceName(UsedOnAny(doc, views));
  g.ref = doc.AddOpacityState(o.stroke, o.fill);
  return g;
}

// A new content stream of text as an object of the document; a reference to it.
std::unique_ptr<TzoPDFIndirectReference> AddContentStream(TzoCustomPDFDocument& doc,
                                                          const std::string& text) {
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddInteger("/Length", static_cast<int32_t>(text.size()));
  auto stream = std::make_unique<TzoPDFStreamObject>(std::move(dict),
                                                     std::make_unique<rtl::TMemoryStream>(text));
  TzoPDFObjectStore& store = doc.InputStore();
  TzoPDFIndirectObject* added = store.Add(TzoPDFIndirectObject::CreateReferenced(
      doc.DocumentNumber(), store.NextObjectNumber(), 0, true, std::move(stream)));
  return CreateReferenceTo(*added);
}

// One more reference to a stream that an earlier page shows already.
std::unique_ptr<TzoPDFIndirectReference> ShareContent(TzoCustomPDFDocument& doc,
                                                      const TzoPDFIndirectReference& ref) {
  if (TzoPDFIndirectObject* target = doc.InputStore().Find(&ref)) target->AddRef();
  return std::unique_ptr<TzoPDFIndirectReference>(
      static_cast<TzoPDFIndirectReference*>(ref.Clone().release()));
}

// One processor for each quarter turn: pages turned alike with equal shown boxes share what is
// rendered for the first of them.
class Processors {
 public:
  Processors(TzoCustomPDFDocument& doc, const TzoCustomWatermarkTemplate& t) : doc_(doc), t_(t) {}
  TzoWatermarkProcessor& For(const PageView& v) {
    std::unique_ptr<TzoWatermarkProcessor>& p = slots_[static_cast<size_t>(v.rotation / 90)];
    if (!p) p = std::make_unique<TzoWatermarkProcessor>(&doc_, doc_.MeasurementUnit(), &t_);
    return *p;
  }

 private:
  TzoCustomPDFDocument& doc_;
  const TzoCustomWatermarkTemplate& t_;
  std::array<std::unique_ptr<TzoWatermarkProcessor>, 4> slots_;
};

// ---- Composite ----

// True when a composite reached from c contains itself: c among its own members, directly or
// further down.
bool HasCircle(const TzoCompositeWatermarkTemplate& c,
               std::set<const TzoCompositeWatermarkTemplate*>& path) {
  if (!path.insert(&c).second) return true;
  for (const TzoWatermarkTemplate* item : c.Templates)
    if (const auto* inner = dynamic_cast<const TzoCompositeWatermarkTemplate*>(item))
      if (HasCircle(*inner, path)) return true;
  path.erase(&c);
  return false;
}

// ---- Text variables ----

// The clock's date and time in the formats of a Japanese Windows: short date 2026/12/09, short
// time 9:05, long date 2026年12月9日, long time 9:05:03.
struct ClockTexts {
  std::u16string shortDate, shortTime, longDate, longTime;
};

std::u16string Wide(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

ClockTexts ReadClock() {
  const std::string d = platform::LocalDateTimeDigits();  // yyyymmddhhnnss
  auto part = [&](size_t at, size_t n) { return Wide(d.substr(at, n)); };
  auto unpadded = [&](size_t at) { return Wide(std::to_string(std::stoi(d.substr(at, 2)))); };
  ClockTexts c;
  c.shortDate = part(0, 4) + u"/" + part(4, 2) + u"/" + part(6, 2);
  c.shortTime = unpadded(8) + u":" + part(10, 2);
  c.longDate = part(0, 4) + u"年" + unpadded(4) + u"月" + unpadded(6) + u"日";
  c.longTime = c.shortTime + u":" + part(12, 2);
  return c;
}

// text with the variables that are the same on every page filled in.
std::u16string FillDocumentVariables(TzoCustomPDFDocument& doc, std::u16string text) {
  const ClockTexts clock = ReadClock();
  const TzoPDFInfo& info = doc.Info();
  const std::pair<std::u16string_view, std::u16string> values[] = {
      {u"<%TotPage%>", Wide(std::to_string(doc.PageCount()))},
      {u"<%ShortDate%>", clock.shortDate},
      {u"<%ShortTime%>", clock.shortTime},
      {u"<%LongDate%>", clock.longDate},
      {u"<%LongTime%>", clock.longTime},
      {u"<%Author%>", info.Author()},
      {u"<%Creator%>", info.Creator()},
      {u"<%Subject%>", info.Subject()},
      {u"<%Title%>", info.Title()},
  };
  for (const auto& [variable, value] : values)
    text = WideReplaceText(text, variable, value);
  return text;
}

// text with every other <%name%> replaced by what OnCalcVariables gives for it on page. The scan
// goes on after each inserted value, so a value is never scanned again; a name met twice (in any
// case) is asked for once. "<%%>" and the overlapping "<%>" are no variables; in "<%a<%b%>" the
// inner mark starts the variable.
std::u16string FillCustomVariables(TzoCustomPDFDocument& doc, const std::u16string& text,
                                   int32_t page) {
  std::unordered_map<std::u16string, std::u16string> asked;
  std::u16string out;
  size_t copied = 0, pos = 0;
  for (;;) {
    const size_t s = text.find(u"<%", pos);
    if (s == std::u16string::npos) break;
    const size_t e = text.find(u"%>", s + 1);
    if (e == std::u16string::npos) break;
    if (e - s < 3) {
      pos = e + 2;
      continue;
    }
    const size_t inner = text.find(u"<%", s + 2);
    if (inner < e) {
      pos = inner;
      continue;
    }
    const std::u16string name = text.substr(s + 2, e - s - 2);
    const std::u16string key = WideUpperCase(name);
    auto it = asked.find(key);
    if (it == asked.end()) {
      std::u16string value;
      doc.OnCalcVariables(&doc, name, value, page);
      it = asked.emplace(key, std::move(value)).first;
    }
    out.append(text, copied, s - copied);
    out += it->second;
    copied = pos = e + 2;
  }
  out.append(text, copied, std::u16string::npos);
  return out;
}

// Every character of texts once, in the order met (a surrogate pair kept whole).
std::u16string DistinctCharacters(const std::vector<const std::u16string*>& texts) {
  std::set<std::u16string> seen;
  std::u16string out;
  for (const std::u16string* t : texts)
    for (size_t i = 0; i < t->size();) {
      const bool pair =
          i + 1 < t->size() && ((*t)[i] & 0xFC00) == 0xD800 && ((*t)[i + 1] & 0xFC00) == 0xDC00;
      std::u16string c = t->substr(i, pair ? 2 : 1);
      i += c.size();
      if (seen.insert(c).second) out += c;
    }
  return out;
}

// The font dictionary of a page's resources, or null.
TzoPDFDictObject* PageFonts(TzoCustomPDFDocument& doc, int32_t pageNumber) {
  TzoPDFObjectStore& store = doc.InputStore();
  TzoPDFObject* direct = doc.Pages()[static_cast<size_t>(pageNumber - 1)]->DirectObject();
  TzoPDFDictObject* page = direct ? direct->AsDict() : nullptr;
  TzoPDFObject* res = page ? store.Resolve(page->GetValue("/Resources")) : nullptr;
  TzoPDFObject* fonts =
      res && res->AsDict() ? store.Resolve(res->AsDict()->GetValue("/Font")) : nullptr;
  return fonts ? fonts->AsDict() : nullptr;
}

// Whether a font dictionary holds a font that this library made (marked by /ZoFontKey): only
// such a font can serve a stamp, and the full search measures the stamp's font first.
bool HoldsLibraryFont(TzoCustomPDFDocument& doc, const TzoPDFDictObject& fonts) {
  for (int32_t i = 0; i < fonts.Count(); ++i) {
    TzoPDFObject* v = doc.InputStore().Resolve(fonts.GetValueAt(i));
    if (v && v->AsDict() && v->AsDict()->GetValue("/ZoFontKey")) return true;
  }
  return false;
}

// ---- Text ----

// Puts a text template's embedding mode back as it was, however the call ends.
class EmbedModeGuard {
 public:
  explicit EmbedModeGuard(TzoTextWatermarkTemplate& t) : t_(t), saved_(t.EmbedMode) {}
  ~EmbedModeGuard() { t_.EmbedMode = saved_; }
  EmbedModeGuard(const EmbedModeGuard&) = delete;
  EmbedModeGuard& operator=(const EmbedModeGuard&) = delete;

 private:
  TzoTextWatermarkTemplate& t_;
  uint8_t saved_;
};

void InsertText(TzoCustomPDFDocument& doc, TzoTextWatermarkTemplate& t,
                const std::vector<int32_t>& pages) {
  if (t.Text.empty()) return;
  const std::vector<PageView> views = ViewsOf(doc, pages);

  // Each page's text.
  const std::u16string prepared = FillDocumentVariables(doc, t.Text);
  std::vector<std::u16string> texts;
  texts.reserve(views.size());
  for (const PageView& v : views) {
    std::u16string text = WideReplaceText(prepared, u"<%PageNo%>", Wide(std::to_string(v.page)));
    if (doc.OnCalcVariables) text = FillCustomVariables(doc, text, v.page);
    texts.push_back(std::move(text));
  }

  // A Japanese font that is not embedded is shown through its character collection only when
  // every page's text lies in it; otherwise every page draws with an embedded subset.
  EmbedModeGuard embedGuard(t);
  if (!t.FontResource) {
    std::vector<const std::u16string*> all;
    for (const std::u16string& text : texts)
      all.push_back(&text);
    t.EmbedMode = TzoCustomPDFDocument::FontEmbedMode(t.Font, t.EmbedMode, DistinctCharacters(all));
  }

  // Each page's font: one of its own that this library made for the same font, else the
  // call's, which then holds the glyphs of every page that uses it.
  std::vector<std::string> fontNames(views.size());
  std::unordered_map<const TzoPDFDictObject*, std::string> foundIn;
  std::vector<PageView> onOwnFont;
  std::vector<const std::u16string*> ownTexts;
  for (size_t i = 0; i < views.size(); ++i) {
    TzoPDFDictObject* fonts = t.FontResource ? nullptr : PageFonts(doc, views[i].page);
    if (fonts && HoldsLibraryFont(doc, *fonts)) {
      auto it = foundIn.find(fonts);
      if (it == foundIn.end()) {
        std::string name;
        doc.FindFontResource(fonts, t.Font, name, t.EncodingIndex, t.EmbedMode);
        it = foundIn.emplace(fonts, name).first;
      }
      fontNames[i] = it->second;
    }
    if (fontNames[i].empty()) {
      onOwnFont.push_back(views[i]);
      ownTexts.push_back(&texts[i]);
    }
  }
  const std::string ownFont = t.FontResource      ? t.FontResourceName
                              : onOwnFont.empty() ? std::string()
                                                  : NewFontResourceName(UsedOnAny(doc, onOwnFont));
  const Opacity opacity{static_cast<double>(t.Opacity), static_cast<double>(t.Opacity)};
  const std::string gsName =
      opacity.Wanted() ? NewGStateResourceName(UsedOnAny(doc, views)) : std::string();

  // Each page's stream.
  std::vector<std::unique_ptr<TzoPDFIndirectObject>> contents;
  contents.reserve(views.size());
  {
    PlacementGuard guard(t);
    TextGuard text(t);
    t.Angle = NormalAngle(t.Angle);
    TzoWatermarkProcessor processor(&doc, doc.MeasurementUnit(), &t);
    for (size_t i = 0; i < views.size(); ++i) {
      t.Text = texts[i];
      contents.push_back(processor.ProcessPage(fontNames[i].empty() ? ownFont : fontNames[i],
                                               gsName, doc.InputStore().NextObjectNumber(),
                                               doc.DocumentNumber(), views[i].shown));
      Upright(views[i], *contents.back());
    }
  }

  std::unique_ptr<TzoPDFIndirectReference> made;
  if (!onOwnFont.empty() && !t.FontResource)
    made = doc.AddFontResource(t.Font, ownFont, DistinctCharacters(ownTexts), t.EncodingIndex,
                               t.EmbedMode);
  const TzoPDFIndirectReference* font = t.FontResource ? t.FontResource : made.get();
  std::unique_ptr<TzoPDFIndirectReference> gs =
      opacity.Wanted() ? doc.AddOpacityState(opacity.stroke, opacity.fill) : nullptr;
  for (size_t i = 0; i < views.size(); ++i) {
    const int32_t index = views[i].page - 1;
    TzoPDFDictObject* resources = doc.PageResources(index);
    if (fontNames[i].empty()) doc.AddResourceEntry(resources, "/Font", font, ownFont);
    doc.AddPageExtGState(index, gsName, gs.get());
    doc.AddPageContent(index, CreateReferenceTo(*doc.InputStore().Add(std::move(contents[i]))),
                       t.Layer);
  }
}

// ---- Image ----

void InsertImage(TzoCustomPDFDocument& doc, TzoImageWatermarkTemplate& t,
                 const std::vector<int32_t>& pages) {
  if (!t.Image()) throw EPDFException(SImageStampWithoutImage);
  const std::vector<PageView> views = ViewsOf(doc, pages);
  PlacementGuard guard(t);
  t.Angle = NormalAngle(t.Angle);

  const std::string imageName = NewImageResourceName(UsedOnAny(doc, views));
  std::unique_ptr<TzoPDFIndirectReference> image = doc.AddImageResource(*t.Image(), imageName);
  const GState gs = MakeGState(doc, {100, static_cast<double>(t.Opacity)}, views);

  Processors processors(doc, t);
  for (const PageView& v : views) {
    TzoWatermarkProcessor& processor = processors.For(v);
    std::unique_ptr<TzoPDFIndirectReference> content;
    if (int32_t i = processor.FindPageBox(v.shown); i != -1) {
      content = ShareContent(doc, *processor.ContentRef(i));
    } else {
      TzoPDFObjectStore& store = doc.InputStore();
      TzoPDFIndirectObject* made = store.Add(processor.ProcessPage(
          imageName, gs.name, store.NextObjectNumber(), doc.DocumentNumber(), v.shown));
      Upright(v, *made);
      content = CreateReferenceTo(*made);
    }
    TzoPDFDictObject* resources = doc.PageResources(v.page - 1);
    doc.AddResourceEntry(resources, "/XObject", image.get(), imageName);
    doc.AddPageExtGState(v.page - 1, gs.name, gs.ref.get());
    doc.AddPageContent(v.page - 1, std::move(content), t.Layer);
  }
}

// ---- Shapes ----

void InsertShape(TzoCustomPDFDocument& doc, const TzoShapeWatermark& shape,
                 const std::vector<int32_t>& pages) {
  const std::vector<PageView> views = ViewsOf(doc, pages);
  const Opacity opacity = ShapeOpacity(shape);
  // The gs name is chosen before the texts are drawn, which name it; the state itself is made
  // only once they all stand.
  const std::string gsName =
      opacity.Wanted() ? NewGStateResourceName(UsedOnAny(doc, views)) : std::string();
  std::vector<std::string> texts;
  texts.reserve(views.size());
  for (const PageView& v : views) {
    std::string text = doc.DrawShape(shape, v.page, gsName);
    texts.push_back(text.empty() ? text : Upright(v, std::move(text)));
  }
  if (texts.front().empty()) return;  // a base class: nothing to draw
  std::unique_ptr<TzoPDFIndirectReference> gs =
      opacity.Wanted() ? doc.AddOpacityState(opacity.stroke, opacity.fill) : nullptr;

  // Pages whose shape comes out alike share one stream.
  std::map<std::string, std::unique_ptr<TzoPDFIndirectReference>> streams;
  for (size_t i = 0; i < views.size(); ++i) {
    const int32_t index = views[i].page - 1;
    doc.PageResources(index);
    doc.AddPageExtGState(index, gsName, gs.get());
    std::unique_ptr<TzoPDFIndirectReference>& made = streams[texts[i]];
    std::unique_ptr<TzoPDFIndirectReference> content;
    if (made) {
      content = ShareContent(doc, *made);
    } else {
      content = AddContentStream(doc, texts[i]);
      made = std::unique_ptr<TzoPDFIndirectReference>(
          static_cast<TzoPDFIndirectReference*>(content->Clone().release()));
    }
    doc.AddPageContent(index, std::move(content), 1);
  }
}

}  // namespace

// ---- InsertWatermark ----

void TzoCustomPDFDocument::InsertWatermark(TzoWatermarkTemplate& tmpl,
                                           const std::string& pageRange) {
  std::vector<int32_t> pages;
  ParsePageRange(pageRange, PageCount(), pages);  // a bad range raises before anything changes
  if (pages.empty()) return;

  if (auto* composite = dynamic_cast<TzoCompositeWatermarkTemplate*>(&tmpl)) {
    std::set<const TzoCompositeWatermarkTemplate*> path;
    if (HasCircle(*composite, path)) throw EPDFException(SCompositeContainsItself);
    for (TzoWatermarkTemplate* item : composite->Templates)
      if (item) InsertWatermark(*item, pageRange);
  } else if (auto* text = dynamic_cast<TzoTextWatermarkTemplate*>(&tmpl)) {
    InsertText(*this, *text, pages);
  } else if (auto* image = dynamic_cast<TzoImageWatermarkTemplate*>(&tmpl)) {
    InsertImage(*this, *image, pages);
  } else if (auto* shape = dynamic_cast<TzoShapeWatermark*>(&tmpl)) {
    InsertShape(*this, *shape, pages);
  }
}
