#include "platform/OsRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/RtlSysUtils.h"

namespace platform {

void CryptoRandomBytes(void* buffer, size_t length) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (length > 0) {
    ssize_t n = getrandom(p, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw rtl::Exception(std::string("Cannot read the system random source: ") +
                           std::strerror(errno));
    }
    p += n;
    length -= static_cast<size_t>(n);
  }
}

uint32_t CryptoRandom(uint32_t range) {
  if (range == 0) return 0;
  // Rejects the top values that would make some results more likely than others.
  const uint32_t limit = UINT32_MAX - UINT32_MAX % range;
  uint32_t v;
  do {
    CryptoRandomBytes(&v, sizeof v);
  } while (v >= limit);
  return v % range;
}

}  // namespace platform
