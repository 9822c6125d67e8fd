// libFuzzer target over the stream decoders and the filter dispatch: the first byte picks the
// filter chain, the rest is the data. Every outcome must be a result or a library error.
// By hand: clang++-14 -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//   fuzz/FilterFuzz.cpp pdf/core/*.cpp platform/*.cpp -lz -o filterfuzz
// Seeds: the files of tests/pdf/core/fixtures/filters, each behind a selector byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "pdf/core/zoDZLIB.h"
#include "pdf/core/zoFilters.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = [] {
    SetDecodedSizeLimit(int64_t{16} << 20);
    return true;
  }();
  (void)limited;
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    // One filter through the string form, or a chain of two through the stream form.
    if (selector < 0x80) {
      std::string out;
      TzoPDFDictObject parms;
      parms.AddInteger("/EarlyChange", selector & 0x08 ? 0 : 1);
      DecodeFilterString(static_cast<FilterKind>(selector % 8), bytes, out, &parms);
    } else {
      TzoPDFArrayObject chain;
      chain.Add(std::make_unique<TzoPDFNameObject>(std::string(FilterNames[selector % 7])));
      chain.Add(std::make_unique<TzoPDFNameObject>(std::string(FilterNames[(selector >> 3) % 7])));
      rtl::TMemoryStream in(bytes);
      DecodeStreamFilters(in, &chain);
    }
  } catch (const rtl::Exception&) {
  }
  return 0;
}
