// How the process's C heap treats memory that is freed.
#pragma once

namespace platform {

// The C heap keeps the memory of freed large blocks (up to 32 MiB each, up to 64 MiB free at its
// top) for the next ones instead of handing it back to the system at once: a program that loads
// and frees one file after another then does not touch fresh pages for every file. Called once,
// early, by the programs.
void KeepFreedHeapMemory();

// Hands the memory that the C heap keeps free (of every thread's part of it) back to the system:
// after a load that took much of it, so that the parts of several threads do not each keep that
// much.
void ReleaseFreedHeapMemory();

}  // namespace platform
