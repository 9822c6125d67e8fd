// The library engine: files whose target version is not 1.6 or 1.7 are rewritten by the PDF
// library (load, put the job's encryption, permissions and document information on, save), and
// the header's version digits are set to the target version.
#pragma once

#include <cstdint>
#include <string>

#include "pdf/core/zoPDFCrypt.h"

class TzoCustomPDFDocument;
namespace platform {
class ReplacementFile;
}

// Results of LockWithLibrary besides 0.
constexpr int32_t kLibraryPasswordRefused = -1;
constexpr int32_t kLibraryNotSaved = -2;  // the save was called off (the settings dialog)

// The permissions the job leaves: all eight, less those whose restriction flag is on.
TzoUserPermissions JobUserPermissions();

// The local date and time as the document information gets it: "2026/12/09 10:05".
std::string InfoDateText();

// Sets the version digits of the header ("%PDF-x.y", the letters in either case, after the first
// "%") of the file written into file to the job's target version, when VerEn is on; nothing else
// of it changes. A file without such a header is left as it is. EStreamError when the file cannot
// be read or written.
void PatchHeaderVersion(platform::ReplacementFile& file);

// Rewrites one file with doc: 0 on success, -1 when the open password is refused. The document is
// saved into one new file beside the user's file (private to its owner while it is written), its
// header patched there, and put in its place in one step, when the file is still the one that
// was read. On any failure
// (a file that may not be replaced, an exception of the library, a file that changed or cannot be
// written) the file is left byte for byte as it was and an exception propagates.
int32_t LockWithLibrary(TzoCustomPDFDocument& doc, const std::string& path);
