// Helpers of the writer and saving tests: a document whose state a test can build by hand, small
// PDF files made from object texts, and the outside judges (qpdf, pdfinfo, pdftoppm, pdftotext).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pdf/document/zoCstPDFDoc.h"
#include "platform/RtlClasses.h"
#include "tests/support/TestSupport.h"

namespace sv::test {

// A document whose pages and objects a test puts in place directly, and that writes to memory.
class HandMadeDoc : public TzoCustomPDFDocument {
 public:
  HandMadeDoc(ConstructKey key, rtl::TComponent* owner) : TzoCustomPDFDocument(key, owner) {}

  // Stores dict as object number (RefCount 1); returns it.
  TzoPDFIndirectObject* AddObject(int32_t number, std::unique_ptr<TzoPDFObject> obj,
                                  int32_t refCount = 1) {
    auto ind = std::make_unique<TzoPDFIndirectObject>(DocumentNumber(), number, 0, std::move(obj));
    ind->SetRefCount(refCount);
    return InputStore().Add(std::move(ind));
  }
  void AddPage(TzoPDFIndirectObject* page) { pages_.push_back(page); }
  void MarkRead() { catalogRead_ = true; }
  std::unique_ptr<TzoPDFIndirectReference> Ref(int32_t number) const {
    return std::make_unique<TzoPDFIndirectReference>(DocumentNumber(), number, 0);
  }

  // The whole file as WriteDocument writes it.
  std::string WriteToString() {
    rtl::TMemoryStream mem;
    WriteDocumentTo(mem);
    return mem.ToString();
  }
};

inline std::unique_ptr<HandMadeDoc> NewHandMadeDoc() {
  return TzoCustomPDFDocument::Create<HandMadeDoc>();
}

// A PDF file of the given object texts (object i + 1 is bodies[i]), a classic cross-reference
// table and a trailer with /Root 1 0 R and the extra trailer entries given.
inline std::string BuildPdf(const std::vector<std::string>& bodies,
                            const std::string& trailerExtra = "") {
  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < bodies.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
  }
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) + " /Root 1 0 R " + trailerExtra +
         " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// A stream object's text with its /Length.
inline std::string StreamBody(const std::string& dictEntries, const std::string& data) {
  return "<< " + dictEntries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
         "\nendstream";
}

// ---- Outside judges ----

// "" when qpdf --check finds nothing to say (exit 0, no warning); else its complaint.
inline std::string QpdfCheck(const std::string& path, const std::string& password = "") {
  std::vector<std::string> argv = {"qpdf", "--check"};
  if (!password.empty()) argv.push_back("--password=" + password);
  argv.push_back(path);
  CommandResult r = RunCommand(argv);
  std::string all = r.out + r.err;
  if (r.exitCode != 0 || all.find("WARNING") != std::string::npos)
    return "qpdf --check exit " + std::to_string(r.exitCode) + ": " + all.substr(0, 400);
  return "";
}

// pdfinfo's "Key: value" lines; empty when it cannot open the file. passwordOption is "-upw" or
// "-opw".
inline std::map<std::string, std::string> PdfInfo(const std::string& path,
                                                  const std::string& password = "",
                                                  const std::string& passwordOption = "-upw") {
  std::vector<std::string> argv = {"pdfinfo"};
  if (!password.empty()) {
    argv.push_back(passwordOption);
    argv.push_back(password);
  }
  argv.push_back(path);
  CommandResult r = RunCommand(argv);
  std::map<std::string, std::string> info;
  if (r.exitCode != 0) return info;
  size_t pos = 0;
  while (pos < r.out.size()) {
    size_t end = r.out.find('\n', pos);
    if (end == std::string::npos) end = r.out.size();
    std::string line = r.out.substr(pos, end - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      size_t v = line.find_first_not_of(' ', colon + 1);
      info[line.substr(0, colon)] = v == std::string::npos ? "" : line.substr(v);
    }
    pos = end + 1;
  }
  return info;
}

// Every page rendered in grey at dpi, as the bytes of one PGM file each (empty on failure: check
// that it is not before comparing two renderings).
inline std::vector<std::string> RenderPages(const std::string& path, const std::string& password,
                                            int dpi, const std::string& workDir) {
  std::vector<std::string> argv = {"pdftoppm", "-r", std::to_string(dpi), "-gray"};
  if (!password.empty()) {
    argv.push_back("-upw");
    argv.push_back(password);
  }
  argv.push_back(path);
  argv.push_back(workDir + "p");
  std::vector<std::string> pages;
  if (RunCommand(argv).exitCode != 0) return pages;
  std::vector<std::string> names;
  for (int i = 1;; ++i) {
    bool found = false;
    for (int width = 1; width <= 6 && !found; ++width) {
      char name[32];
      std::snprintf(name, sizeof name, "p-%0*d.pgm", width, i);
      if (FileExists(workDir + name)) {
        pages.push_back(ReadFile(workDir + name));
        found = true;
      }
    }
    if (!found) break;
  }
  return pages;
}

// The text pdftotext finds (raw order); none when pdftotext fails (a failed judge is no match).
inline std::optional<std::string> PdfText(const std::string& path,
                                          const std::string& password = "") {
  std::vector<std::string> argv = {"pdftotext", "-q"};
  if (!password.empty()) {
    argv.push_back("-upw");
    argv.push_back(password);
  }
  argv.push_back(path);
  argv.push_back("-");
  CommandResult r = RunCommand(argv);
  if (r.exitCode != 0) return std::nullopt;
  return r.out;
}

// The deep comparison of catalog entries, pages and outlines (compare_structure.py): "" when
// equal, else the differences. ignoreFilters: streams may differ in /Filter and /DecodeParms.
inline std::string CompareStructure(const std::string& in, const std::string& out,
                                    const std::string& inPassword, const std::string& outPassword,
                                    bool ignoreFilters = false) {
  std::vector<std::string> argv = {
      "python3", "-I", "-S",       SourceDir() + "tests/pdf/document/compare_structure.py",
      in,        out,  inPassword, outPassword};
  if (ignoreFilters) argv.push_back("--ignore-filters");
  CommandResult r = RunCommand(argv);
  if (r.exitCode == 0) return "";
  std::string msg = r.out + r.err;
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r'))
    msg.pop_back();
  return msg.empty() ? "structure comparison failed" : msg;
}

}  // namespace sv::test
