#include "tools/pdftool/PdfToolEncryption.h"

#include <qpdf/BufferInputSource.hh>
#include <qpdf/QUtil.hh>

#include <stdexcept>

namespace pdftool {

namespace {

std::string Hex(const std::string& bytes) {
  return "<" + QUtil::hex_encode(bytes) + ">";
}

// A one-object PDF whose trailer holds the encryption dictionary; qpdf opens it with the owner
// password and the writer copies its parameters.
std::string TemplateFile(const std::string& encryptDict, const std::string& id1) {
  std::string pdf = "%PDF-1.7\n";
  size_t catalog = pdf.size();
  pdf += "1 0 obj\n<< /Type /Catalog >>\nendobj\n";
  size_t encrypt = pdf.size();
  pdf += "2 0 obj\n" + encryptDict + "\nendobj\n";
  size_t xref = pdf.size();
  auto entry = [](size_t offset) {
    std::string s = std::to_string(offset);
    return std::string(10 - s.size(), '0') + s + " 00000 n \n";
  };
  pdf += "xref\n0 3\n0000000000 65535 f \n" + entry(catalog) + entry(encrypt);
  pdf += "trailer\n<< /Size 3 /Root 1 0 R /Encrypt 2 0 R /ID [" + Hex(id1) + " " + Hex(id1) +
         "] >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace

int32_t PermissionBits(const Permissions& p) {
  uint32_t bits = 0xFFFFFFFCu;  // bits 1 and 2 are 0, every other bit is granted
  auto clear = [&bits](int bit) { bits &= ~(1u << (bit - 1)); };
  if (!p.print) clear(3), clear(12);
  if (!p.modify) clear(4);
  if (!p.extract) clear(5);
  if (!p.annotate) clear(6);
  if (!p.fillForms) clear(9);
  if (!p.accessibility) clear(10);
  if (!p.assemble) clear(11);
  return static_cast<int32_t>(bits);
}

std::string InputFirstId(QPDF& pdf) {
  QPDFObjectHandle id = pdf.getTrailer().getKey("/ID");
  if (!id.isArray() || id.getArrayNItems() < 1) return "";
  QPDFObjectHandle first = id.getArrayItem(0);
  return first.isString() ? first.getStringValue() : "";
}

std::unique_ptr<QPDF> SetOutputEncryption(QPDFWriter& w, EncryptionMethod method,
                                          const std::string& firstId,
                                          const std::string& userPassword,
                                          const std::string& ownerPassword,
                                          const Permissions& permissions) {
  if (method == EncryptionMethod::kNone) {
    w.setPreserveEncryption(false);
    return nullptr;
  }
  const int P = PermissionBits(permissions);
  std::string id1 = firstId;
  if (id1.empty()) {
    id1.assign(16, '\0');
    QUtil::initializeWithRandomBytes(reinterpret_cast<unsigned char*>(id1.data()), id1.size());
  }
  const char* user = userPassword.c_str();
  const char* owner = ownerPassword.c_str();
  std::string O, U, dict;
  const std::string common = "/Filter /Standard /P " + std::to_string(P);
  if (method == EncryptionMethod::kAes256) {
    std::string key, OE, UE, Perms;
    QPDF::compute_encryption_parameters_V5(user, owner, 5, 6, 32, P, true, id1, key, O, U, OE, UE,
                                           Perms);
    dict = "<< " + common + " /V 5 /R 6 /Length 256 /O " + Hex(O) + " /U " + Hex(U) + " /OE " +
           Hex(OE) + " /UE " + Hex(UE) + " /Perms " + Hex(Perms) +
           " /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >>"
           " /StmF /StdCF /StrF /StdCF >>";
  } else if (method == EncryptionMethod::kAes128) {
    QPDF::compute_encryption_O_U(user, owner, 4, 4, 16, P, true, id1, O, U);
    dict = "<< " + common + " /V 4 /R 4 /Length 128 /O " + Hex(O) + " /U " + Hex(U) +
           " /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >>"
           " /StmF /StdCF /StrF /StdCF >>";
  } else {
    QPDF::compute_encryption_O_U(user, owner, 2, 3, 16, P, true, id1, O, U);
    dict = "<< " + common + " /V 2 /R 3 /Length 128 /O " + Hex(O) + " /U " + Hex(U) + " >>";
  }
  auto tmpl = std::make_unique<QPDF>();
  tmpl->setSuppressWarnings(true);
  tmpl->processInputSource(
      std::make_shared<BufferInputSource>("encryption parameters", TemplateFile(dict, id1)), owner);
  if (!tmpl->isEncrypted() || !tmpl->ownerPasswordMatched())
    throw std::logic_error("the encryption parameters do not verify");
  w.copyEncryptionParameters(*tmpl);
  return tmpl;
}

}  // namespace pdftool
