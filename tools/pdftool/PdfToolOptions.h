// The command line of AHPDFToolCmd26: what it accepts, what each option means, the usage text.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pdftool {

// Exit codes of the tool.
enum ExitCode : int {
  kExitOk = 0,           // the output was written whole
  kExitCommandLine = 1,  // the command line cannot be carried out
  kExitInput = 2,        // the input cannot be opened (missing, damaged, wrong password)
  kExitOutput = 3,       // the output cannot be written
};

struct PdfToolOptions {
  std::string input;                        // -d, as given
  std::optional<std::string> openPassword;  // the bare argument after the input path
  std::string output;                       // -o, as given
  bool annotFile = false;                   // -annotFile
  bool webOpt = false;                      // -webopt
  bool changeInfo = false;                  // -changeInfo
  std::optional<std::string> pdfVersion;    // -pdfver, "1.3" to "1.7"
  // Information entries in command-line order: (dictionary key, value as given).
  std::vector<std::pair<std::string, std::string>> info;
  std::string userPassword;      // -userpwd, as given (bytes)
  std::string ownerPassword;     // -ownerpwd, as given (bytes)
  bool noPrint = false;          // -ppa 1
  bool noCopy = false;           // -ncc
  bool noChange = false;         // -nca
  bool noAnnotations = false;    // -nff
  bool noFormFilling = false;    // -nno
  bool noAccessibility = false;  // -nab

  bool HasPassword() const { return !userPassword.empty() || !ownerPassword.empty(); }
  bool HasRestriction() const {
    return noPrint || noCopy || noChange || noAnnotations || noFormFilling || noAccessibility;
  }
};

// A command line that cannot be carried out.
class CommandLineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the arguments after the program name. Throws CommandLineError.
PdfToolOptions ParseCommandLine(const std::vector<std::string>& args);

// The text printed with every command-line error.
const char* UsageText();

}  // namespace pdftool
