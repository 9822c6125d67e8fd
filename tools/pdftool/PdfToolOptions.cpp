#include "tools/pdftool/PdfToolOptions.h"

#include <set>

namespace pdftool {

namespace {

const char kUsage[] =
    R"(usage: AHPDFToolCmd26 -d "in.pdf" ["open password"] -o "out.pdf" [options]

Rewrites a PDF file: sets its document information, its encryption and its permissions.

  -d "in"          input file; an argument right after it is the password that opens the
                   input (user or owner password) when it does not start with "-" or when
                   -o follows it directly (so a password may start with "-")
  -o "out"         output file; written to a temporary file in its folder and renamed when whole;
                   readable and writable by its owner only (mode 0600)
  -annotFile       accepted; annotations are kept as they are
  -webopt          linearize the output (fast web view)
  -pdfver "1.x"    output version 1.3 to 1.7
  -title "t"       Title          -subtitle "t"  Subject        -author "t"    Author
  -keyword "t"     Keywords       -creator "t"   Creator        -producer "t"  Producer
  -userpwd "pw"    user password; given alone it is the owner password too
  -ownerpwd "pw"   owner password; given alone the user password is empty
  -ppa 1           printing not allowed
  -ncc             no copying or extraction of content
  -nca             no changing and no assembling of the document
  -nff             no adding or changing of annotations
  -nno             no filling of form fields
  -nab             no extraction for accessibility
  -changeInfo      owner check: go on only when the input opens with the given password as its
                   owner password (no password: the empty one); an unencrypted input passes

Encryption: given a password (-userpwd or -ownerpwd, not empty), the output is encrypted by its
version: 1.7 and later AES-256, 1.6 AES-128, 1.4 and 1.5 RC4 128-bit. -pdfver 1.3 with a password
is refused: 128-bit encryption needs 1.4. Without -pdfver the input's version is kept, raised to
1.4 when a password is given to an older file. Without a password the output is not encrypted,
also when the input was, and restriction options are ignored with a warning (nothing could
enforce them).

Texts and paths are read as UTF-8 when they are valid UTF-8, else as code page 932. Passwords are
used byte for byte as given.

Exit codes: 0 the output was written whole; 1 bad command line; 2 the input cannot be opened
(missing, damaged beyond recovery, wrong password, not the owner password with -changeInfo);
3 the output cannot be written. No partial output is left behind on failure.
)";

enum class Kind { kFlag, kValue };

struct OptionSpec {
  const char* name;
  Kind kind;
};

const OptionSpec kOptions[] = {
    {"-d", Kind::kValue},        {"-o", Kind::kValue},         {"-annotFile", Kind::kFlag},
    {"-webopt", Kind::kFlag},    {"-pdfver", Kind::kValue},    {"-title", Kind::kValue},
    {"-subtitle", Kind::kValue}, {"-author", Kind::kValue},    {"-keyword", Kind::kValue},
    {"-creator", Kind::kValue},  {"-producer", Kind::kValue},  {"-userpwd", Kind::kValue},
    {"-ownerpwd", Kind::kValue}, {"-ppa", Kind::kValue},       {"-ncc", Kind::kFlag},
    {"-nca", Kind::kFlag},       {"-nff", Kind::kFlag},        {"-nno", Kind::kFlag},
    {"-nab", Kind::kFlag},       {"-changeInfo", Kind::kFlag},
};

const OptionSpec* FindOption(const std::string& arg) {
  for (const auto& o : kOptions)
    if (arg == o.name) return &o;
  return nullptr;
}

const char* InfoKey(const std::string& option) {
  if (option == "-title") return "/Title";
  if (option == "-subtitle") return "/Subject";
  if (option == "-author") return "/Author";
  if (option == "-keyword") return "/Keywords";
  if (option == "-creator") return "/Creator";
  if (option == "-producer") return "/Producer";
  return nullptr;
}

bool IsKnownVersion(const std::string& v) {
  return v.size() == 3 && v[0] == '1' && v[1] == '.' && v[2] >= '3' && v[2] <= '7';
}

}  // namespace

const char* UsageText() {
  return kUsage;
}

PdfToolOptions ParseCommandLine(const std::vector<std::string>& args) {
  PdfToolOptions o;
  std::set<std::string> seen;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const OptionSpec* spec = FindOption(arg);
    if (!spec) {
      if (!arg.empty() && arg[0] == '-') throw CommandLineError("unknown option " + arg);
      throw CommandLineError("unexpected argument \"" + arg + "\"");
    }
    if (spec->kind == Kind::kFlag) {
      if (arg == "-annotFile")
        o.annotFile = true;
      else if (arg == "-webopt")
        o.webOpt = true;
      else if (arg == "-changeInfo")
        o.changeInfo = true;
      else if (arg == "-ncc")
        o.noCopy = true;
      else if (arg == "-nca")
        o.noChange = true;
      else if (arg == "-nff")
        o.noAnnotations = true;
      else if (arg == "-nno")
        o.noFormFilling = true;
      else if (arg == "-nab")
        o.noAccessibility = true;
      continue;
    }
    if (i + 1 >= args.size()) throw CommandLineError(arg + " needs a value");
    if (!seen.insert(arg).second) throw CommandLineError(arg + " is given more than once");
    const std::string& value = args[++i];
    if (arg == "-d") {
      o.input = value;
      // The callers put the open password right after the input path and -o right after it.
      if (i + 1 < args.size() && (args[i + 1].empty() || args[i + 1][0] != '-' ||
                                  (i + 2 < args.size() && args[i + 2] == "-o")))
        o.openPassword = args[++i];
    } else if (arg == "-o") {
      o.output = value;
    } else if (arg == "-pdfver") {
      if (!IsKnownVersion(value))
        throw CommandLineError("-pdfver \"" + value + "\": the version must be 1.3 to 1.7");
      o.pdfVersion = value;
    } else if (arg == "-userpwd") {
      o.userPassword = value;
    } else if (arg == "-ownerpwd") {
      o.ownerPassword = value;
    } else if (arg == "-ppa") {
      if (value != "1") throw CommandLineError("-ppa \"" + value + "\": the only value is 1");
      o.noPrint = true;
    } else if (const char* key = InfoKey(arg)) {
      o.info.emplace_back(key, value);
    }
  }
  if (o.input.empty()) throw CommandLineError("no input file (-d)");
  if (o.output.empty()) throw CommandLineError("no output file (-o)");
  if (o.pdfVersion && *o.pdfVersion == "1.3" && o.HasPassword())
    throw CommandLineError("-pdfver 1.3 cannot carry a password: 128-bit encryption needs 1.4");
  return o;
}

}  // namespace pdftool
