// libFuzzer target over the PDF reader: header, startxref, trailer and every object of arbitrary
// bytes, read once plainly and once with decryption under a fixed key, through the direct memory
// path and (for short inputs) through a stream's slots. Every outcome must be a result or a
// library error. Built and run by scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFParsers.h"

namespace {

class SlotStream : public rtl::TMemoryStream {
 public:
  using rtl::TMemoryStream::TMemoryStream;
};

// A decryptor that has accepted the user password of a fixed key.
TzoPDFDecrypt& FixedDecryptor() {
  static const std::unique_ptr<TzoPDFDecrypt> d = [] {
    TzoPDFEncryptionSettings s;
    s.SetUserPassword("user");
    s.SetOwnerPassword("owner");
    TzoPDFEncryption e("Output1.pdf", "D:20240101000000", s);
    auto dec = std::make_unique<TzoPDFDecrypt>();
    dec->SetRevision(e.Revision(), static_cast<int32_t>(e.KeyLength() * 8));
    dec->SetFileID(e.GetFileID());
    dec->SetOwnerKey(e.GetOwnerKey());
    dec->SetUserKey(e.GetUserKey());
    dec->SetP(e.PermissionsToP());
    TzoPDFEncryptionSettings got;
    dec->Authenticate(got, "user");
    return dec;
  }();
  return *d;
}

// An encryption dictionary found in the data goes through the handler's checks.
void TryHandler(const TzoPDFDictObject& dict) {
  if (!dict.GetValue("/O")) return;
  try {
    TzoPDFDecrypt d;
    d.SetFileID("0123456789abcdef");
    d.SetEncryptDict(dict);
    TzoPDFEncryptionSettings s;
    d.Authenticate(s, "");
  } catch (const rtl::Exception&) {
  }
}

void ReadEnd(TzoPDFStreamReader& r) {
  try {
    r.ReadHeader();
  } catch (const rtl::Exception&) {
  }
  try {
    int64_t offset = r.FindStartXRef();
    if (offset < r.Size()) {
      r.SetPosition(offset);
      if (r.PeekToken() == "xref") {
        TryHandler(*r.ReadTrailer());
      } else {
        auto obj = r.ReadObject();
        if (obj && obj->IsIndirectObject() && obj->AsIndirect()->DirectObject() &&
            obj->AsIndirect()->DirectObject()->IsStream())
          TryHandler(*obj->AsIndirect()->DirectObject()->AsStream()->Dict());
      }
    }
  } catch (const rtl::Exception&) {
  }
}

// Every object from the start, as a loader would read them one after another.
void ReadObjects(TzoPDFStreamReader& r) {
  r.SetPosition(0);
  for (int rounds = 0; rounds < 200000 && !r.AtEnd(); ++rounds) {
    const int64_t at = r.Position();
    try {
      std::unique_ptr<TzoPDFObject> obj = r.ReadObject();
      if (auto* ind = obj ? obj->AsIndirect() : nullptr) {
        TzoPDFObject* direct = ind->DirectObject();
        if (direct && direct->IsStream()) {
          const TzoPDFObject* len = direct->AsStream()->Dict()->GetValue("/Length");
          int64_t length = len && len->IsInteger() ? len->AsInteger()->Value()
                           : len && len->IsInt64() ? len->AsInt64()->Value()
                                                   : -1;
          r.ReadStreamData(length, ind->ObjectNumber(), ind->Generation());
        } else if (direct && direct->IsDictionary()) {
          TryHandler(*direct->AsDict());
        }
      }
      r.ReadToken();
    } catch (const rtl::Exception&) {
    }
    if (r.Position() <= at) r.SetPosition(at + 1);
  }
}

void ReadAll(rtl::TMemoryStream& source, TzoPDFDecrypt* decryptor) {
  TzoPDFStreamReader r(1, &source);
  r.SetDecryptor(decryptor);
  ReadEnd(r);
  ReadObjects(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  rtl::TMemoryStream memory(bytes);
  ReadAll(memory, nullptr);
  ReadAll(memory, &FixedDecryptor());
  if (size <= 4096) {
    SlotStream slots(bytes);
    ReadAll(slots, &FixedDecryptor());
  }
  return 0;
}
