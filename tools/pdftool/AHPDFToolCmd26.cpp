// AHPDFToolCmd26: the outside PDF tool that Sorvane and Kettrin start, built on libqpdf.
#include <iostream>
#include <string>
#include <vector>

#include "tools/pdftool/PdfToolOptions.h"
#include "tools/pdftool/PdfToolOutput.h"
#include "tools/pdftool/PdfToolRewrite.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  pdftool::PdfToolOptions options;
  try {
    options = pdftool::ParseCommandLine(args);
  } catch (const pdftool::CommandLineError& e) {
    std::cerr << "AHPDFToolCmd26: " << e.what() << "\n\n" << pdftool::UsageText();
    return pdftool::kExitCommandLine;
  }
  pdftool::InstallCleanupOnSignals();
  try {
    return pdftool::RewritePdf(options, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "AHPDFToolCmd26: " << e.what() << "\n";
    return pdftool::kExitInput;
  }
}
