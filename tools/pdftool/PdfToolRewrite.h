// The work of AHPDFToolCmd26 on libqpdf: open the input, check the owner password when asked,
// set the information texts, encrypt, and write the output whole or not at all.
#pragma once

#include <iosfwd>
#include <string>

#include "tools/pdftool/PdfToolOptions.h"

namespace pdftool {

// A command-line value as UTF-8: kept when it is valid UTF-8, else read as code page 932.
std::string ArgumentToUtf8(const std::string& arg);

// Carries out the options; reports errors and warnings to err. Returns the exit code.
int RewritePdf(const PdfToolOptions& options, std::ostream& err);

}  // namespace pdftool
