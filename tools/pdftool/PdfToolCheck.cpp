#include "tools/pdftool/PdfToolCheck.h"

#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>

#include "tools/pdftool/PdfToolNames.h"

namespace pdftool {

namespace {

class DiscardContents : public QPDFObjectHandle::ParserCallbacks {
 public:
  void handleObject(QPDFObjectHandle) override {}
  void handleEOF() override {}
};

}  // namespace

std::optional<std::string> ReadBackProblem(FILE* file, const std::string& password,
                                           const ReadBackExpectation& expected) {
  try {
    QPDF pdf;
    auto logger = QPDFLogger::create();
    logger->setInfo(logger->discard());
    logger->setWarn(logger->discard());
    pdf.setLogger(logger);
    pdf.setSuppressWarnings(true);
    std::rewind(file);
    pdf.processFile("the rewritten file", file, false, password.c_str());
    Pl_Discard discard;
    QPDFWriter w(pdf);
    w.setOutputPipeline(&discard);
    w.setDecodeLevel(qpdf_dl_all);
    w.write();
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    if (pages.size() != expected.pages)
      return "it has " + std::to_string(pages.size()) + " pages, the input " +
             std::to_string(expected.pages);
    DiscardContents contents;
    for (auto& page : pages)
      page.parseContents(&contents);
    if (expected.linearized && !pdf.checkLinearization()) return "its linearization is not valid";
    if (pdf.anyWarnings()) return pdf.getWarnings().front().what();
    if (HashNames(pdf) != expected.hashNames)
      return "the names that hold \"#\" do not read back as the input has them";
  } catch (const std::exception& e) {
    return e.what();
  }
  return std::nullopt;
}

}  // namespace pdftool
