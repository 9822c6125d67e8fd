// Reads a large buffer byte by byte through TzoRandomAccessFilter, once over a plain memory
// stream (direct memory path) and once over a stream read through its slots, as the PDF reader
// reads whole files. Usage: bench_RandomAccessFilterBench [MiB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pdf/core/zoClasses.h"

namespace {

class SlotStream : public rtl::TMemoryStream {
 public:
  using rtl::TMemoryStream::TMemoryStream;
};

double Run(rtl::TMemoryStream& m, uint64_t& sum) {
  TzoRandomAccessFilter f(&m);
  auto t0 = std::chrono::steady_clock::now();
  f.SetPosition(0);
  while (!f.AtEnd()) {
    uint8_t b = f.PeekByte();
    sum += b;
    if (b == '\n') f.StepBack();  // a little back-and-forth, as a lexer does
    f.ReadByte();
    if (b == '\n') f.ReadByte();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 64;
  if (mib < 1) mib = 1;
  std::string data(static_cast<size_t>(mib) << 20, 'x');
  for (size_t i = 0; i < data.size(); i += 61)
    data[i] = '\n';
  rtl::TMemoryStream fast(data);
  SlotStream slow(data);
  uint64_t s1 = 0, s2 = 0;
  double tf = Run(fast, s1), ts = Run(slow, s2);
  std::printf("%ld MiB  memory path %.3f s (%.0f MiB/s)  slots %.3f s (%.0f MiB/s)  %s\n", mib, tf,
              mib / tf, ts, mib / ts, s1 == s2 ? "same bytes" : "DIFFERENT BYTES");
  return s1 == s2 ? 0 : 1;
}
