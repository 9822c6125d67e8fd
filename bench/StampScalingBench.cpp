// How the time of stamping grows with the work (Google Benchmark): a text stamp with page
// variables over every page of documents of 20,000, 40,000 and 80,000 pages, and formatted text
// of 10,000, 20,000 and 40,000 short lines drawn on one page. Only InsertWatermark and
// DrawFormattedText are timed; making and loading the document are not. Time that grows with the
// work shows as a time per page or per line (the counters) that stays the same down each table.
//
// Usage: bench_StampScalingBench [Google Benchmark options, e.g. --benchmark_filter=Pages]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pdf/document/zoPDFDoc.h"

namespace {

// A folder of its own under $TMPDIR, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/stamp-scaling-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

const ScratchDir& Scratch() {
  static const ScratchDir dir;
  return dir;
}

// A file of pages pages of 612 x 792 points, each with a content stream of its own, written once.
std::string DocumentOf(int pages) {
  const std::string path = Scratch().Path() + "/pages-" + std::to_string(pages) + ".pdf";
  if (std::filesystem::exists(path)) return path;
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
  std::string kids;
  const std::string content = "0 0 1 rg 72 72 144 144 re f";
  for (int i = 0; i < pages; ++i) {
    const int page = 3 + 2 * i;
    kids += std::to_string(page) + " 0 R ";
    objects.push_back(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << >> "
        "/Contents " +
        std::to_string(page + 1) + " 0 R >>");
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                      "\nendstream");
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  std::ofstream(path, std::ios::binary) << pdf;
  return path;
}

std::unique_ptr<TzoPDFDocument> Load(const std::string& path, benchmark::State& state) {
  auto doc = TzoPDFDocument::Create();
  doc->SetShowSetupDialog(false);
  if (!doc->LoadFromFile(path)) state.SkipWithError(("cannot load " + path).c_str());
  doc->SetMeasurementUnit(muPoints);
  return doc;
}

// "Page P of N" at the bottom centre of every page, over its content.
void BM_TextStampOnEveryPage(benchmark::State& state) {
  const int pages = static_cast<int>(state.range(0));
  const std::string path = DocumentOf(pages);
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<TzoPDFDocument> doc = Load(path, state);
    TzoTextWatermarkTemplate t;
    t.Text = u"Page <%PageNo%> of <%TotPage%>";
    t.Font.SetName("Arial");
    t.Font.SetSize(10);
    t.HorizontalPosition = 1;
    t.VerticalPosition = 2;
    t.Layer = 1;
    state.ResumeTiming();
    doc->InsertWatermark(t, "");
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.counters["per_page"] =
      benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}
BENCHMARK(BM_TextStampOnEveryPage)
    ->Arg(20000)
    ->Arg(40000)
    ->Arg(80000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Lines "Line i" one below the other on one page, every tenth one in bold.
void BM_FormattedTextLines(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string path = DocumentOf(1);
  std::u16string text;
  for (int i = 0; i < lines; ++i) {
    const std::string n = std::to_string(i);
    const std::u16string line = u"Line " + std::u16string(n.begin(), n.end());
    text += i % 10 == 0 ? u"<B>" + line + u"</B>\n" : line + u"\n";
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<TzoPDFDocument> doc = Load(path, state);
    state.ResumeTiming();
    doc->DrawFormattedText(text, "1", 10, 10);
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.counters["per_line"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}
BENCHMARK(BM_FormattedTextLines)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
