// Measures IPAGothic and subsets it to 2,000 kanji and kana with this library (the font made from
// a TFont: measured, its character map and widths read; the text encoded; the subset built), and
// subsets the same font to the same glyph set with fontTools' subsetter (pyftsubset, keeping the
// glyph ids) in the same run: the whole command, and its subsetting alone timed inside the
// interpreter. Prints both times (median of the rounds; ours also for the first
// round, which pays the process's one-time set-up: the code page tables, fontconfig's first
// sort), the ratio, our peak memory above the process before the first font (and the font
// file's size for comparison).
//
// Usage: bench_FontSubsetBench [--rounds N]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pdf/document/zoPDFFont.h"
#include "platform/CodePage.h"
#include "platform/Fonts.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

long PeakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Runs a program and waits; its exit code, -1 when it did not start.
int Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 7;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));

  platform::FontRequest request;
  request.family = "IPAGothic";
  request.charset = 128;
  auto face = platform::FontFace::Find(request);
  if (!face || face->FamilyName() != "IPAGothic") {
    std::fprintf(stderr, "IPAGothic is not installed (fonts-ipafont-gothic)\n");
    return 2;
  }
  const std::string fontFile = face->FilePath();
  const auto fontSize = std::filesystem::file_size(fontFile);

  // 2,000 characters the font has: the kana, then kanji from U+4E00.
  std::u16string text;
  auto take = [&](char16_t from, char16_t to) {
    for (char32_t c = from; c <= to && text.size() < 2000; ++c)
      if (face->GlyphIndex(c) != 0) text += static_cast<char16_t>(c);
  };
  take(0x3041, 0x3096);
  take(0x30A1, 0x30FA);
  take(0x4E00, 0x9FFF);
  face.reset();

  ui::TFont font;
  font.SetName("IPAGothic");
  font.SetSize(12);
  font.SetCharset(ui::SHIFTJIS_CHARSET);

  const long before = PeakRssKiB();
  std::vector<double> whole, make, encode, subset;
  size_t subsetSize = 0;
  std::vector<uint16_t> glyphs;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = Clock::now();
    TzoPDFFont pdfFont(font, 0, true, false);
    auto t1 = Clock::now();
    std::string hex;
    pdfFont.EncodeText(text, ui::SHIFTJIS_CHARSET, hex);
    auto t2 = Clock::now();
    rtl::TMemoryStream stream;
    if (!pdfFont.BuildSubset(stream)) {
      std::fprintf(stderr, "no subset\n");
      return 1;
    }
    auto t3 = Clock::now();
    make.push_back(Ms(t1 - t0));
    encode.push_back(Ms(t2 - t1));
    subset.push_back(Ms(t3 - t2));
    whole.push_back(Ms(t3 - t0));
    subsetSize = static_cast<size_t>(stream.Size());
    if (glyphs.empty()) {
      glyphs.push_back(0);
      for (char16_t c : text)
        glyphs.push_back(pdfFont.GlyphOf(c));
    }
  }
  const long peak = PeakRssKiB();

  // fontTools on the same glyph set, keeping glyph ids as this library does.
  char tmpl[4096];
  const char* tmp = std::getenv("TMPDIR");
  std::snprintf(tmpl, sizeof tmpl, "%s/svfontbench-XXXXXX", tmp && *tmp ? tmp : "/tmp");
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  {
    std::ofstream gids(dir + "/gids.txt");
    for (uint16_t g : glyphs)
      gids << g << "\n";
  }
  const std::string out = dir + "/subset.ttf";
  std::vector<double> fontTools, fontToolsInside;
  const std::vector<std::string> options = {fontFile,
                                            "--gids-file=" + dir + "/gids.txt",
                                            "--retain-gids",
                                            "--notdef-outline",
                                            "--layout-features=",
                                            "--output-file=" + out};
  // The subsetter's own time, from inside the interpreter (no start-up, no imports).
  const std::string inside =
      "import sys, time\nfrom fontTools import subset\nt = time.perf_counter()\n"
      "subset.main(sys.argv[2:])\nopen(sys.argv[1], 'w').write(repr(time.perf_counter() - t))\n";
  for (int r = 0; r < std::min(rounds, 3); ++r) {
    std::vector<std::string> command = {"/usr/bin/python3", "-I", "-m", "fontTools.subset"};
    command.insert(command.end(), options.begin(), options.end());
    auto t0 = Clock::now();
    int code = Run(command);
    auto t1 = Clock::now();
    std::vector<std::string> timed = {"/usr/bin/python3", "-I", "-c", inside, dir + "/time.txt"};
    timed.insert(timed.end(), options.begin(), options.end());
    if (code != 0 || Run(timed) != 0) {
      std::fprintf(stderr, "pyftsubset failed (%d): python3-fonttools installed?\n", code);
      std::filesystem::remove_all(dir);
      return 1;
    }
    fontTools.push_back(Ms(t1 - t0));
    std::ifstream in(dir + "/time.txt");
    double seconds = 0;
    in >> seconds;
    fontToolsInside.push_back(seconds * 1000);
  }
  const auto theirSize = std::filesystem::file_size(out);
  std::filesystem::remove_all(dir);

  const double ours = Median(whole), theirs = Median(fontTools);
  const double peakMiB = (peak - before) / 1024.0, fileMiB = fontSize / 1048576.0;
  std::printf("font: %s (%.2f MiB), %zu characters, %zu glyphs with .notdef\n", fontFile.c_str(),
              fileMiB, text.size(), glyphs.size());
  std::printf(
      "this library: %8.2f ms (measure and read the maps %.2f, encode %.2f, subset %.2f);"
      " subset %zu bytes; first round %.2f ms\n",
      ours, Median(make), Median(encode), Median(subset), subsetSize, whole.front());
  std::printf(
      "pyftsubset:   %8.2f ms (the whole command), %.2f ms inside the interpreter; subset "
      "%zu bytes\n",
      theirs, Median(fontToolsInside), static_cast<size_t>(theirSize));
  std::printf(
      "ratio:        %8.1f times faster (goal: at least 10); %.1f against the subsetter "
      "inside the interpreter; first round against the whole command %.1f\n",
      theirs / ours, Median(fontToolsInside) / ours, theirs / whole.front());
  std::printf(
      "peak memory:  %8.2f MiB above the process before the first font (%.1f times the "
      "font file; goal: under 3); process peak %.2f MiB\n",
      peakMiB, peakMiB / fileMiB, peak / 1024.0);
  return 0;
}
