// Stamps "社外秘 <%PageNo%> / <%TotPage%>" over every page of a 500-page document in an embedded
// subset font (ＭＳ ゴシック, 50 % opacity) and saves it, against qpdf's overlay of a one-page
// stamp PDF onto every page of the same document (qpdf IN --overlay STAMP --repeat=1 -- OUT) in
// the same run. Each way runs in a child process of its own, so that its peak memory is its own.
// Prints the best and the median time of the rounds, the peak memory and the output sizes.
//
// Usage: bench_StampBench [--rounds N] [PDF-FILE]
// Without a file: the first 500 pages of the manuals in ../shared/corpus/docs beside the source
// tree, joined by qpdf (--empty --pages). The stamp PDF for qpdf is made by this library: a blank
// page of the document's first page size with "社外秘 1 / 500" stamped the same way.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchChild.h"
#include "pdf/document/zoPDFDoc.h"
#include "platform/CodePage.h"

namespace fs = std::filesystem;

namespace {

using Result = bench::ChildRun;
using bench::InChild;

// A command run to its end; true for exit code 0 (or qpdf's 3: warnings).
bool Run(std::vector<std::string> args) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3);
}

// The stamp of the benchmark with the given text.
void Stamp(TzoCustomPDFDocument& doc, const std::u16string& text) {
  TzoTextWatermarkTemplate t;
  t.Text = text;
  ui::TFont font;
  font.SetName(platform::Utf8ToAnsi("ＭＳ ゴシック"));
  font.SetSize(14);
  font.SetCharset(ui::SHIFTJIS_CHARSET);
  t.SetFont(font);
  t.EmbedMode = 2;
  t.Opacity = 50;
  t.Layer = 1;
  t.HorizontalPosition = 1;
  t.VerticalPosition = 2;
  doc.InsertWatermark(t, "");
}

bool StampFile(const std::string& in, const std::string& out) {
  auto doc = TzoPDFDocument::Create();
  doc->SetShowSetupDialog(false);
  if (!doc->LoadFromFile(in)) return false;
  Stamp(*doc, u"社外秘 <%PageNo%> / <%TotPage%>");
  return doc->SaveToFile(out, 2);
}

// A one-page PDF of the first page's size carrying the stamp of page 1.
bool MakeStampPdf(const std::string& document, const std::string& out, const std::string& dir) {
  auto doc = TzoPDFDocument::Create();
  doc->SetShowSetupDialog(false);
  if (!doc->LoadFromFile(document)) return false;
  const TzoSizeD size = doc->GetPageSize(1, muPoints);
  const int32_t pages = doc->PageCount();
  const std::string box =
      "[0 0 " + std::to_string(size.Width) + " " + std::to_string(size.Height) + "]";
  const std::string objects[] = {"<< /Type /Catalog /Pages 2 0 R >>",
                                 "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                 "<< /Type /Page /Parent 2 0 R /MediaBox " + box + " >>"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < 3; ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 4\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  const std::string blank = dir + "/blank.pdf";
  std::ofstream(blank, std::ios::binary) << pdf;
  auto stamp = TzoPDFDocument::Create();
  stamp->SetShowSetupDialog(false);
  if (!stamp->LoadFromFile(blank)) return false;
  Stamp(*stamp, u"社外秘 1 / " + std::u16string(platform::AnsiToWide(std::to_string(pages))));
  return stamp->SaveToFile(out, 2);
}

int32_t PageCountOf(const std::string& path) {
  auto doc = TzoPDFDocument::Create();
  return doc->LoadFromFile(path) ? doc->PageCount() : 0;
}

std::string Kilobytes(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? "?" : std::to_string(size / 1024) + " KiB";
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string input;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else
      input = a;
  }
  char dirTemplate[] = "/tmp/stamp-bench-XXXXXX";
  const char* made = mkdtemp(dirTemplate);
  if (!made) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = made;
  if (input.empty()) {
    const std::string docs = std::string(SV_SOURCE_DIR) + "/../shared/corpus/docs/";
    input = dir + "/joined.pdf";
    if (!Run({"qpdf", "--empty", "--pages", docs + "valgrind_manual.pdf", docs + "nettle.pdf",
              "1-103", "--", input})) {
      std::fprintf(stderr, "qpdf could not join the corpus documents\n");
      return 1;
    }
  }
  const std::string stampPdf = dir + "/stamp.pdf", ours = dir + "/ours.pdf",
                    overlay = dir + "/overlay.pdf";
  if (!MakeStampPdf(input, stampPdf, dir)) {
    std::fprintf(stderr, "the stamp PDF could not be made from %s\n", input.c_str());
    return 1;
  }
  std::printf("document: %s, %d pages, %s; stamp PDF %s; %d round(s)\n", input.c_str(),
              PageCountOf(input), Kilobytes(input).c_str(), Kilobytes(stampPdf).c_str(), rounds);

  struct Way {
    const char* name;
    std::function<bool()> work;
    const std::string* out;
  } ways[] = {
      {"this library: InsertWatermark + SaveToFile", [&] { return StampFile(input, ours); }, &ours},
      {"qpdf --overlay stamp.pdf --repeat=1",
       [&] {
         return Run({"qpdf", input, "--overlay", stampPdf, "--repeat=1", "--", overlay});
       },
       &overlay},
  };
  double best[2] = {0, 0};
  for (size_t w = 0; w < 2; ++w) {
    std::vector<double> times;
    long peak = 0;
    for (int r = 0; r < rounds; ++r) {
      // The qpdf way runs as its own program: the child's peak is the larger of the two.
      Result res = InChild(ways[w].work);
      if (res.seconds < 0) {
        std::fprintf(stderr, "%s failed\n", ways[w].name);
        return 1;
      }
      times.push_back(res.seconds);
      peak = std::max(peak, res.peakKiB);
    }
    std::sort(times.begin(), times.end());
    best[w] = times.front();
    std::printf("%-44s best %.3f s  median %.3f s  peak %ld KiB  output %s\n", ways[w].name,
                times.front(), times[times.size() / 2], peak, Kilobytes(*ways[w].out).c_str());
  }
  std::printf("qpdf's overlay takes %.2f times as long as this library\n", best[1] / best[0]);
  fs::remove_all(dir);
  return 0;
}
