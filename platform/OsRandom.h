// Random bytes from the operating system's cryptographic source.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Fills buffer with length bytes from the system's cryptographic random source (getrandom).
// rtl::Exception when the source cannot be read.
void CryptoRandomBytes(void* buffer, size_t length);

// A uniformly distributed number in 0 .. range - 1 from the same source (0 when range is 0).
uint32_t CryptoRandom(uint32_t range);

}  // namespace platform
