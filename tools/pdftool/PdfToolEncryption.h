// Encryption of the tool's output. The permission bits are computed here, so every restriction
// asked for is written with every method (qpdf's writer always grants accessibility above R3).
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdint>
#include <memory>
#include <string>

namespace pdftool {

enum class EncryptionMethod { kNone, kRc4_128, kAes128, kAes256 };

struct Permissions {
  bool print = true;          // bits 3 and 12
  bool modify = true;         // bit 4
  bool extract = true;        // bit 5
  bool annotate = true;       // bit 6
  bool fillForms = true;      // bit 9
  bool accessibility = true;  // bit 10
  bool assemble = true;       // bit 11
};

// The /P value of the permissions (reserved bits as the standard security handler wants them).
int32_t PermissionBits(const Permissions& p);

// Makes w write its output encrypted with the method, passwords and permissions. The returned
// object carries the encryption parameters and must live until w has written.
std::unique_ptr<QPDF> SetOutputEncryption(QPDFWriter& w, EncryptionMethod method,
                                          const std::string& userPassword,
                                          const std::string& ownerPassword,
                                          const Permissions& permissions);

}  // namespace pdftool
