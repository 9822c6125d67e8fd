#include "platform/ProcessHeap.h"

#include <malloc.h>

namespace platform {

void KeepFreedHeapMemory() {
#if defined(__GLIBC__)
  // Fixed values also end glibc's own adjustment of the two thresholds.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

void ReleaseFreedHeapMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace platform
