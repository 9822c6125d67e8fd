// PDF utility functions: object keys, hex strings with a byte-order mark, reading words backwards,
// names for new page resources, references, numbers and rectangles read from PDF objects; and
// the exception classes of the object layer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoUtils.h"
#include "platform/RtlSysUtils.h"

class TzoPDFObject;
class TzoPDFArrayObject;
class TzoPDFIndirectObject;
class TzoPDFIndirectReference;

// ---- Exceptions (each a direct child of rtl::Exception) ----

// "Unexpected Error" and page-content errors
class EUnexpectedError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Error reading PDF trailer"
class ETrailerError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Error reading PDF string (%s)"
class EStringReadError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Error reading PDF array (%s)"
class EArrayReadError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Error reading PDF name string (%s)"
class ENameReadError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Error reading PDF dictionary (%s)"
class EDictionaryReadError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Error reading PDF stream"
class EStreamReadError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Invalid object number"
class EInvalidObjectNo : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Expected PDF endstream"
class EEndStreamError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Expected boolean (%s) object"
class EBooleanError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Expected PDF null object"
class ENullObjectError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Error reading document. Unable to read offset"
class EOffsetError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Invalid PDF Header (%s)"
class EInvalidHeader : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Unsupported PDF Version (%s)"
class EUnsupportedVersion : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Invalid permission in encryption dictionary"
class EInvalidPermission : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Unexpected PDF object encountered"
class EUnexpectedObjectError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Unsupported filter (%s)" / "Unsupported filter"
class EUnsupportedFilterError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Unexpected filter object, found (%s)"
class EUnexpectedFilterObject : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Index Out Of Bounds!"
class EInvalidIndex : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// ---- Object keys ----

// The key of an indirect object within the whole process; different triples give different keys.
// TzoObjectList refuses a key with a negative number.
constexpr TzoObjectKey MakeObjectKey(int32_t documentNumber, int32_t objectNumber,
                                     uint16_t generation) {
  return TzoObjectKey{documentNumber, objectNumber, generation};
}

// ---- Names and texts ----

// Index of the first entry equal to s (exact, case-sensitive); -1 when none.
int16_t IndexOfStr(std::span<const std::string_view> names, std::string_view s);

// The text between the angle brackets of a hex string as a wide string. White space between the
// digits is skipped. With the mark FEFF (any case) first: groups of four digits are UTF-16 units,
// most significant byte first; '.' stands for itself; a further FEFF at a group start is skipped;
// a last group of two or three digits gives a unit of its first two digits (high) and the rest
// (low, 0 when none); a single last digit is dropped; the text ends before the first unit 0000.
// Without the mark: HexToStr of the digits, converted from the ANSI code page.
std::u16string PDFHexToWideString(std::string_view digits);

// Reads backwards from the character before the 1-based position pos: skips CR, LF and blanks,
// then collects the characters up to the next CR, LF or blank or the start of text. token is the
// word as it stands; startIndex the 1-based index of the separator in front of it (0 when the
// word begins the text).
void ReadTokenBefore(std::string_view text, int64_t pos, int64_t& startIndex, std::string& token);
// Reads backwards from the character before pos, skipping CR, LF and blanks first, collecting
// until count separators (CR, LF or blank; each one counts) have been passed or the start of text
// is reached; each separator passed becomes one blank in result. count 0 gives "".
void ReadTokensBefore(std::string_view text, int64_t pos, int32_t count, std::string& result);

// ---- New page-resource names ----

// Tells whether a resource name (with its "/") is already in use.
using TzoNameInUse = std::function<bool(const std::string& name)>;

// "/RVNFnt", "/RVNImg" or "/GS" followed by the decimal text of Random(2147483647); never a name
// for which inUse answers true (an empty inUse accepts every name). rtl::Exception when no free
// name is found.
std::string NewFontResourceName(const TzoNameInUse& inUse = {});
std::string NewImageResourceName(const TzoNameInUse& inUse = {});
std::string NewGStateResourceName(const TzoNameInUse& inUse = {});

// ---- Objects ----

// A new reference to the indirect object's document number, object number and generation.
std::unique_ptr<TzoPDFIndirectReference> CreateReferenceTo(const TzoPDFIndirectObject& obj);

// The value of an Integer or Real object; anything else (null included) raises
// EUnexpectedObjectError "Unexpected PDF object encountered".
double NumberToDouble(const TzoPDFObject* obj);
// Elements 0..3 of the array through NumberToDouble; a missing element raises the same way.
void ArrayToRect(const TzoPDFArrayObject* arrayObj, TzoRectD& rect);
