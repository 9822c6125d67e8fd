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

// The first word of the trailer's /ID when it is a string that is not empty, else "". QPDFWriter
// keeps that word in its output.
std::string InputFirstId(QPDF& pdf);

// Makes w write its output encrypted with the method, passwords and permissions. firstId is the
// first /ID word the output gets: InputFirstId of the file written, or "" for a fresh random one.
// (The keys of RC4 and AES-128 depend on it, and a linearized write sizes its first pass by the
// input's word: another length there moves every offset of the file.) The returned object
// carries the encryption parameters and must live until w has written.
std::unique_ptr<QPDF> SetOutputEncryption(QPDFWriter& w, EncryptionMethod method,
                                          const std::string& firstId,
                                          const std::string& userPassword,
                                          const std::string& ownerPassword,
                                          const Permissions& permissions);

}  // namespace pdftool
