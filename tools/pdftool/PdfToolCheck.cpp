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

namespace pdftool {

namespace {

class DiscardContents : public QPDFObjectHandle::ParserCallbacks {
 public:
  void handleObject(QPDFObjectHandle) override {}
  void handleEOF() override {}
};

}  // namespace

std::optional<std::string> ReadBackProblem(const std::string& path, const std::string& password,
                                           size_t expectedPages, bool linearized) {
  try {
    QPDF pdf;
    auto logger = QPDFLogger::create();
    logger->setInfo(logger->discard());
    logger->setWarn(logger->discard());
    pdf.setLogger(logger);
    pdf.setSuppressWarnings(true);
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "it cannot be read back";
    pdf.processFile("the rewritten file", file, true, password.c_str());
    Pl_Discard discard;
    QPDFWriter w(pdf);
    w.setOutputPipeline(&discard);
    w.setDecodeLevel(qpdf_dl_all);
    w.write();
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    if (pages.size() != expectedPages)
      return "it has " + std::to_string(pages.size()) + " pages, the input " +
             std::to_string(expectedPages);
    DiscardContents contents;
    for (auto& page : pages)
      page.parseContents(&contents);
    if (linearized && !pdf.checkLinearization()) return "its linearization is not valid";
    if (pdf.anyWarnings()) return pdf.getWarnings().front().what();
  } catch (const std::exception& e) {
    return e.what();
  }
  return std::nullopt;
}

}  // namespace pdftool
