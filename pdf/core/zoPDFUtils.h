// PDF utility functions: object keys, hex strings with a byte-order mark, reading words backwards,
// names for new page resources, references, numbers and rectangles read from PDF objects, the
// filter names and the decoding of stream data through its filters; and the exception classes of
// the object layer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoUtils.h"
#include "platform/RtlSysUtils.h"

class TzoPDFObject;
class TzoPDFArrayObject;
class TzoPDFDictObject;
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

// ---- Stream filters ----

// The filters of the /Filter entry, in the order of FilterNames.
enum FilterKind : uint8_t {
  fkASCIIHex = 0,
  fkASCII85 = 1,
  fkFlate = 2,
  fkRunLength = 3,
  fkLZW = 4,
  fkCCITTFax = 5,
  fkDCT = 6,
};

// The full filter names in kind order.
inline constexpr std::array<std::string_view, 7> FilterNames = {
    "/ASCIIHexDecode", "/ASCII85Decode",  "/FlateDecode", "/RunLengthDecode",
    "/LZWDecode",      "/CCITTFaxDecode", "/DCTDecode"};

// The kind of a filter name (with its "/", compared exactly; "/A85" is the one abbreviation
// accepted). Any other name raises EUnsupportedFilterError "Unsupported filter (%s)" with the name.
FilterKind FilterKindOf(std::string_view name);

// The kinds of a /Filter value: a Name gives one kind, an Array the kinds of its elements in
// order (an element that is not a Name raises rtl::EInvalidCast); any other object raises
// EUnexpectedFilterObject "Unexpected filter object, found (%s)" with its type name. No value
// (null) and a Null object give no kinds. References are not followed: resolve them first.
std::vector<FilterKind> GetFilterKinds(const TzoPDFObject* filterValue);

// Decodes data through one filter. ASCIIHex and ASCII85 data lose their trailing white space
// first, and ASCIIHex data without the final '>' are taken as if they had it; the bytes of the
// other kinds are used exactly as given. DCT data come back unchanged. CCITTFax and kinds above 6
// raise EUnsupportedFilterError "Unsupported filter". decodeParms (optional) gives LZW its
// /EarlyChange. The filters' errors pass through (EFilterError, EZDecompressionError).
void DecodeFilterString(FilterKind kind, std::string_view data, std::string& out,
                        const TzoPDFDictObject* decodeParms = nullptr);

// As DecodeFilterString on the whole of stream (read from position 0; the stream is not changed),
// with a new memory stream that the caller owns as the result, for every kind: CCITTFax and DCT
// give a copy of the data at position 0. Kinds above 6 raise EUnsupportedFilterError
// "Unsupported filter".
std::unique_ptr<rtl::TMemoryStream> DecodeFilterStream(
    FilterKind kind, rtl::TStream& stream, const TzoPDFDictObject* decodeParms = nullptr);

// The data of stream decoded through every filter of filterValue in order (none when it is null),
// as a new memory stream at position 0 that the caller owns; stream itself is not changed.
// CCITTFax and DCT leave the data as they are (image data stay encoded for their consumer).
// decodeParms is the stream's /DecodeParms: a dictionary, or an array with one dictionary (or
// null) per filter; references in it are not followed. Predictors are not applied here.
std::unique_ptr<rtl::TMemoryStream> DecodeStreamFilters(rtl::TStream& stream,
                                                        const TzoPDFObject* filterValue,
                                                        const TzoPDFObject* decodeParms = nullptr);
