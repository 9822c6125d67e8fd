// Decodes (and encodes) a few MiB of page-content-like data through every filter, as loading and
// saving do for each stream, and prints the throughput of each.
// Usage: bench_FiltersBench [MiB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "pdf/core/zoFilters.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFUtils.h"

namespace {

std::string Content(size_t n) {
  std::mt19937 rnd(42);
  static const char* ops[] = {"BT /F1 12 Tf ",
                              "72 712 Td ",
                              "(Hello, world) Tj ",
                              "ET\n",
                              "0.5 0 0 RG ",
                              "1 0 0 1 0 0 cm ",
                              "q ",
                              "Q\n",
                              "612 792 re f\n"};
  std::string s;
  s.reserve(n + 64);
  while (s.size() < n) {
    s += ops[rnd() % 9];
    if (rnd() % 16 == 0) s += static_cast<char>(rnd() & 0xFF);
  }
  s.resize(n);
  return s;
}

// A plain LZW encoder (clear code at a full table, EarlyChange 1) to make decoder input.
std::string LzwEncode(const std::string& in) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0, width = 9, decNext = 258;
  bool first = true;
  auto put = [&](int code) {
    acc = (acc << width) | static_cast<uint32_t>(code);
    bits += width;
    while (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  };
  auto emit = [&](int code) {
    put(code);
    if (!first && decNext < 4096) ++decNext;
    if (!first && decNext + 1 >= (1 << width) && width < 12) ++width;
    first = false;
  };
  // child[code * 256 + byte]: the code of string(code) + byte, 0 when none.
  std::vector<uint16_t> child(4096 * 256);
  int next = 258;
  auto clear = [&] {
    put(256);
    width = 9;
    decNext = 258;
    first = true;
    std::fill(child.begin(), child.end(), 0);
    next = 258;
  };
  clear();
  int w = -1;
  for (unsigned char c : in) {
    if (w < 0) {
      w = c;
      continue;
    }
    uint16_t k = child[static_cast<size_t>(w) * 256 + c];
    if (k) {
      w = k;
      continue;
    }
    emit(w);
    if (next < 4096)
      child[static_cast<size_t>(w) * 256 + c] = static_cast<uint16_t>(next++);
    else
      clear();
    w = c;
  }
  if (w >= 0) emit(w);
  put(257);
  if (bits > 0) out += static_cast<char>((acc << (8 - bits)) & 0xFF);
  return out;
}

double Seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 16;
  if (mib < 1) mib = 1;
  const std::string data = Content(static_cast<size_t>(mib) << 20);
  std::string flate, a85, hex, rle;
  TzoFlateFilter().EncodeString(data, clDefault, flate);
  TzoAscii85Filter().EncodeString(data, a85);
  TzoAsciiHexFilter().EncodeString(data, hex);
  TzoRLEFilter().EncodeString(data, rle);
  const std::string lzw = LzwEncode(data);

  bool allSame = true;
  auto decode = [&](const char* name, FilterKind kind, const std::string& encoded) {
    rtl::TMemoryStream in(encoded);
    TzoPDFNameObject filter{std::string(FilterNames[kind])};
    std::string out;
    double t = Seconds([&] { out = DecodeStreamFilters(in, &filter)->ToString(); });
    bool same = out == data;
    allSame = allSame && same;
    std::printf("decode %-10s %8.1f MiB/s  %s\n", name, mib / t, same ? "" : "DIFFERENT BYTES");
  };
  decode("Flate", fkFlate, flate);
  decode("LZW", fkLZW, lzw);
  decode("RunLength", fkRunLength, rle);
  decode("ASCII85", fkASCII85, a85);
  decode("ASCIIHex", fkASCIIHex, hex);

  auto encode = [&](const char* name, const std::function<void(std::string&)>& f) {
    std::string out;
    double t = Seconds([&] { f(out); });
    std::printf("encode %-10s %8.1f MiB/s\n", name, mib / t);
  };
  encode("Flate", [&](std::string& o) { TzoFlateFilter().EncodeString(data, clDefault, o); });
  encode("RunLength", [&](std::string& o) { TzoRLEFilter().EncodeString(data, o); });
  encode("ASCII85", [&](std::string& o) { TzoAscii85Filter().EncodeString(data, o); });
  encode("ASCIIHex", [&](std::string& o) { TzoAsciiHexFilter().EncodeString(data, o); });
  return allSame ? 0 : 1;
}
