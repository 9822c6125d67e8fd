#include "tools/pdftool/PdfToolRewrite.h"

#include <sys/stat.h>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <memory>
#include <ostream>
#include <set>

#include "platform/CodePage.h"
#include "tools/pdftool/PdfToolCheck.h"
#include "tools/pdftool/PdfToolEncryption.h"
#include "tools/pdftool/PdfToolNames.h"
#include "tools/pdftool/PdfToolOutput.h"

namespace pdftool {

namespace {

bool IsValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      n = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      n = 2;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      n = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

// A PDF version as (major, minor); what cannot be read counts as 1.3.
struct Version {
  int major = 1, minor = 3;
  auto operator<=>(const Version&) const = default;
};

Version ParseVersion(const std::string& text) {
  Version v;
  size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size()) return v;
  int major = 0, minor = 0;
  for (size_t i = 0; i < dot; ++i) {
    if (text[i] < '0' || text[i] > '9' || major > 99) return v;
    major = major * 10 + (text[i] - '0');
  }
  for (size_t i = dot + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9' || minor > 99) return v;
    minor = minor * 10 + (text[i] - '0');
  }
  return {major, minor};
}

EncryptionMethod MethodFor(const PdfToolOptions& o, Version target) {
  if (!o.HasPassword()) return EncryptionMethod::kNone;
  if (target >= Version{1, 7}) return EncryptionMethod::kAes256;
  if (target == Version{1, 6}) return EncryptionMethod::kAes128;
  return EncryptionMethod::kRc4_128;
}

void SetInformation(QPDF& pdf, const PdfToolOptions& o) {
  if (o.info.empty()) return;
  QPDFObjectHandle trailer = pdf.getTrailer();
  QPDFObjectHandle info = trailer.getKey("/Info");
  if (!info.isDictionary()) {
    info = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    trailer.replaceKey("/Info", info);
  }
  for (const auto& [key, value] : o.info)
    info.replaceKey(key, QPDFObjectHandle::newUnicodeString(ArgumentToUtf8(value)));
}

Permissions PermissionsOf(const PdfToolOptions& o) {
  Permissions p;
  p.print = !o.noPrint;
  p.extract = !o.noCopy;
  p.modify = p.assemble = !o.noChange;
  p.annotate = !o.noAnnotations;
  p.fillForms = !o.noFormFilling;
  p.accessibility = !o.noAccessibility;
  return p;
}

// Whether one object number is in use with two generations: the linearizer refuses such a file.
bool HasSeveralGenerations(QPDF& pdf) {
  std::set<int> numbers;
  for (const auto& [og, entry] : pdf.getXRefTable())
    if (!numbers.insert(og.getObj()).second) return true;
  return false;
}

// The file written once without linearization and read again, so that every object has a
// number of its own. It stays in memory: no plain copy of an encrypted input reaches the disk.
std::unique_ptr<QPDF> Renumbered(QPDF& pdf, const std::shared_ptr<QPDFLogger>& logger) {
  PrepareHashNamesForWriting(pdf);
  QPDFWriter w(pdf);
  w.setOutputMemory();
  w.setPreserveEncryption(false);
  w.write();
  auto renumbered = std::make_unique<QPDF>();
  renumbered->setLogger(logger);
  // The input source owns the buffer that getBuffer hands over.
  renumbered->processInputSource(
      std::make_shared<BufferInputSource>("the renumbered input", w.getBuffer(), true));
  return renumbered;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string ArgumentToUtf8(const std::string& arg) {
  return IsValidUtf8(arg) ? arg : platform::AnsiToUtf8(arg);
}

int RewritePdf(const PdfToolOptions& o, std::ostream& err) {
  const std::string inPath = ArgumentToUtf8(o.input);
  const std::string outPath = ArgumentToUtf8(o.output);

  QPDF pdf;
  // Nothing of the tool goes to standard output.
  auto logger = QPDFLogger::create();
  logger->setInfo(logger->standardError());
  pdf.setLogger(logger);
  if (!IsRegularFile(inPath)) {
    err << "AHPDFToolCmd26: cannot open the input " << inPath << ": no such file\n";
    return kExitInput;
  }
  try {
    pdf.processFile(inPath.c_str(), o.openPassword ? o.openPassword->c_str() : nullptr);
  } catch (const QPDFExc& e) {
    if (e.getErrorCode() == qpdf_e_password)
      err << "AHPDFToolCmd26: " << inPath
          << (o.openPassword ? ": the password does not open it\n" : ": it needs a password\n");
    else
      err << "AHPDFToolCmd26: cannot open the input: " << e.what() << "\n";
    return kExitInput;
  } catch (const std::exception& e) {
    err << "AHPDFToolCmd26: cannot open the input: " << e.what() << "\n";
    return kExitInput;
  }
  if (o.changeInfo && pdf.isEncrypted() && !pdf.ownerPasswordMatched()) {
    err << "AHPDFToolCmd26: " << inPath << ": the password is not its owner password\n";
    return kExitInput;
  }
  if (o.HasRestriction() && !o.HasPassword())
    err << "AHPDFToolCmd26: warning: restrictions need a password (-userpwd or -ownerpwd); "
           "the output has none\n";

  const Version target = ParseVersion(o.pdfVersion ? *o.pdfVersion : pdf.getPDFVersion());
  const EncryptionMethod method = MethodFor(o, target);
  // A user password alone is the owner password too.
  const std::string& owner = o.ownerPassword.empty() ? o.userPassword : o.ownerPassword;
  try {
    ReadBackExpectation expected;
    expected.pages = QPDFPageDocumentHelper(pdf).getAllPages().size();
    expected.linearized = o.webOpt;
    expected.hashNames = HashNames(pdf);
    SetInformation(pdf, o);
    std::unique_ptr<QPDF> renumbered;
    if (o.webOpt && HasSeveralGenerations(pdf)) renumbered = Renumbered(pdf, logger);
    QPDF& source = renumbered ? *renumbered : pdf;
    PrepareHashNamesForWriting(source);
    PendingOutput out(outPath);
    QPDFWriter w(source);
    w.setOutputPipeline(out.Sink());
    std::unique_ptr<QPDF> encryption = SetOutputEncryption(w, method, InputFirstId(source),
                                                           o.userPassword, owner, PermissionsOf(o));
    if (o.pdfVersion) {
      // AES-256 in PDF 1.7 is Adobe's extension level 8.
      int extension = method == EncryptionMethod::kAes256 ? 8 : 0;
      if (target == ParseVersion(pdf.getPDFVersion()) && method != EncryptionMethod::kAes256)
        extension = pdf.getExtensionLevel();
      w.forcePDFVersion(*o.pdfVersion, extension);
    }
    // Versions 1.6 and 1.7 allow object streams: objects that may go into one are packed.
    if (target >= Version{1, 6}) w.setObjectStreamMode(qpdf_o_generate);
    w.setLinearization(o.webOpt);
    w.write();
    out.CheckWritten();
    if (auto problem = ReadBackProblem(out.OpenWritten().get(), owner, expected)) {
      err << "AHPDFToolCmd26: the input is damaged beyond repair: its rewrite does not read back "
             "clean: "
          << *problem << "\n";
      return kExitInput;
    }
    out.Commit();
  } catch (const OutputError& e) {
    err << "AHPDFToolCmd26: " << e.what() << "\n";
    return kExitOutput;
  } catch (const std::exception& e) {
    err << "AHPDFToolCmd26: cannot rewrite the input: " << e.what() << "\n";
    return kExitInput;
  }
  return kExitOk;
}

}  // namespace pdftool
