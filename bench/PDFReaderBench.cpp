// Reads every object of a PDF held in memory with TzoPDFStreamReader, plain and with decryption,
// and measures MD5 and RC4 throughput. Without a file argument a synthetic file of typical objects
// is used. Usage: bench_PDFReaderBench [file.pdf [rounds]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFParsers.h"
#include "pdf/core/zoUtils.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string Synthetic(const TzoPDFEncryption* e) {
  std::string out = "%PDF-1.4\n";
  for (int n = 1; n <= 60000; ++n) {
    std::string title = "Title of object " + std::to_string(n) + " (with parentheses)";
    std::string data = "BT /F1 12 Tf 72 712 Td (Some page text) Tj ET q 1 0 0 1 0 0 cm Q\n";
    if (e) {
      title = e->EncryptData(title, n, 0);
      data = e->EncryptData(data, n, 0);
    }
    out += std::to_string(n) + " 0 obj\n<< /Type /Annot /Subtype /Link /Rect [72.5 100 " +
           std::to_string(n % 600) + ".25 120] /Border [0 0 0] /T (" + EscapePDFString(title) +
           ") /Dest [3 0 R /XYZ null null null] /Parent 2 0 R /F 4 /Hex <48656C6C6F> ";
    if (n % 4 == 0)
      out += "/Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
    else
      out += ">>";
    out += "\nendobj\n";
  }
  return out;
}

// Reads the objects one after another; returns the number read.
int ReadAll(const std::string& bytes, TzoPDFDecrypt* d) {
  rtl::TMemoryStream m(bytes);
  TzoPDFStreamReader r(1, &m);
  r.SetDecryptor(d);
  r.ReadHeader();
  int count = 0;
  while (!r.AtEnd()) {
    int64_t at = r.Position();
    try {
      auto obj = r.ReadObject();
      auto* ind = obj ? obj->AsIndirect() : nullptr;
      if (ind && ind->DirectObject() && ind->DirectObject()->IsStream()) {
        auto* len = ind->DirectObject()->AsStream()->Dict()->GetValue("/Length");
        r.ReadStreamData(len && len->IsInteger() ? len->AsInteger()->Value() : -1,
                         ind->ObjectNumber(), ind->Generation());
      }
      if (ind) ++count;
      r.ReadToken();  // endobj
    } catch (const rtl::Exception&) {
      if (r.Position() == at) r.Skip(1);
    }
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  TzoPDFEncryptionSettings s;
  s.SetUserPassword("user");
  TzoPDFEncryption e("Output1.pdf", "D:20240101", s);
  TzoPDFDecrypt d;
  d.SetRevision(3, 128);
  d.SetFileID(e.GetFileID());
  d.SetOwnerKey(e.GetOwnerKey());
  d.SetUserKey(e.GetUserKey());
  d.SetP(e.PermissionsToP());
  TzoPDFEncryptionSettings got;
  if (d.Authenticate(got, "user") != 1) return 1;

  std::string plain, encrypted;
  if (argc > 1) {
    rtl::TMemoryStream f;
    f.LoadFromFile(argv[1]);
    plain = encrypted = f.ToString();
  } else {
    plain = Synthetic(nullptr);
    encrypted = Synthetic(&e);
  }
  double mib = plain.size() / 1048576.0;

  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  auto t0 = std::chrono::steady_clock::now();
  int n1 = 0;
  for (int i = 0; i < rounds; ++i)
    n1 = ReadAll(plain, nullptr);
  double t1 = Seconds(t0) / rounds;
  t0 = std::chrono::steady_clock::now();
  int n2 = ReadAll(encrypted, &d);
  double t2 = Seconds(t0);
  std::printf(
      "reader: %.1f MiB, %d objects: plain %.3f s (%.0f MiB/s), decrypting %.3f s (%.0f MiB/s)\n",
      mib, n1, t1, mib / t1, t2, mib / t2);
  (void)n2;

  std::string big(64 << 20, 'x');
  t0 = std::chrono::steady_clock::now();
  TMD5Digest h = Md5(big);
  double tm = Seconds(t0);
  t0 = std::chrono::steady_clock::now();
  std::string c = Rc4({h.data(), 16}, big);
  double tr = Seconds(t0);
  std::printf("MD5 %.0f MiB/s, RC4 %.0f MiB/s (%02x%02x)\n", 64 / tm, 64 / tr, h[0],
              static_cast<uint8_t>(c[0]));
  return 0;
}
