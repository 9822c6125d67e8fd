// The PDF lexer and object reader: turns the bytes of a PDF file into objects, checks the header,
// finds the cross-reference offset, reads the trailer and stream data, and decrypts strings and
// streams once a decryptor is set.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoPDFObjects.h"

class TzoPDFDecrypt;

// The version of a file header.
enum TzoPDFVersion : uint8_t { pvPDF10, pvPDF11, pvPDF12, pvPDF13, pvPDF14, pvPDF15, pvPDF16 };

// Reads PDF syntax at the position of a source stream (not owned). Every read stops at the end of
// the data: a token, a number or a comment simply ends there; a string, a name inside an array or
// dictionary, an array or a dictionary that the data cuts off raises its read error.
//
// Strings are decrypted with the key of the indirect object being read; outside indirect objects
// (the trailer, values read on their own) the current numbers are -1 and nothing is decrypted.
// Arrays, dictionaries and indirect objects nest at most MaxDepth levels; deeper input raises the
// array or dictionary read error.
class TzoPDFStreamReader : public TzoRandomAccessFilter {
 public:
  static constexpr int32_t MaxDepth = 512;

  // EInvalidStream when source is null.
  TzoPDFStreamReader(int32_t documentNumber, rtl::TStream* source);

  int32_t DocumentNumber() const { return documentNumber_; }
  // Not owned; null means no decryption.
  TzoPDFDecrypt* Decryptor() const { return decryptor_; }
  void SetDecryptor(TzoPDFDecrypt* decryptor) { decryptor_ = decryptor; }

  // The indirect object whose strings are being read: set by every "obj" header, -1 (no object)
  // at creation and whenever ReadObject, ReadArray, ReadDictionary or ReadStringObject starts
  // outside an object.
  int32_t CurrentObjectNumber() const { return currentObjectNumber_; }
  int32_t CurrentGeneration() const { return currentGeneration_; }
  // For callers that read the parts of an object themselves; (-1, -1) stands for no object.
  void SetCurrentObject(int32_t objectNumber, int32_t generation);

  // What the objects read so far hold in memory, roughly: ObjectCost for each object plus the
  // bytes of its text and of its elements' slots. Once that reaches step, charge gets it (and may
  // raise to end the read) and counting starts again from 0. No charge by default.
  static constexpr int64_t ObjectCost = 64;
  void SetCharge(int64_t step, std::function<void(int64_t)> charge);
  // Hands what was counted since the last charge over to the charge now.
  void ChargeMade();

  // Skips white space (NUL, HT, LF, CR, SP) and comments.
  void SkipWhiteSpace();
  // True when the next byte is LF or CR (not taken).
  bool AtEndOfLine();
  // The next byte, whatever it is, and every following byte up to a token delimiter (white space
  // or one of ( ) / < > [ ]); then SkipWhiteSpace. "" at the end of the data.
  std::string ReadToken();
  // SkipWhiteSpace, then the bytes up to the next delimiter (HT, LF, CR, SP, ( ) / < > [ ]); the
  // position is left behind the white space.
  std::string PeekToken();

  // The next object; null when the next byte is ")", ">", "]" or "}" (not taken). The caller owns
  // the result. "N G obj" gives an indirect object holding the value that follows, or holding a
  // stream object without data when "stream" follows its dictionary (the reader then stands in
  // front of the keyword).
  std::unique_ptr<TzoPDFObject> ReadObject();
  std::unique_ptr<TzoPDFStringObject> ReadStringObject();
  std::unique_ptr<TzoPDFArrayObject> ReadArray();
  std::unique_ptr<TzoPDFNameObject> ReadName();
  std::unique_ptr<TzoPDFDictObject> ReadDictionary();

  // The data of a stream, the reader standing in front of its "stream" keyword; decrypted with
  // the key of (objectNumber, generation) when a decryptor is set. The length is used when
  // "endstream" follows it; otherwise (also for a negative, zero or too large length with data
  // before "endstream") the data runs from its start to the first "endstream", less the end of
  // line in front of it. The reader is left behind "endstream". EStreamReadError without
  // "stream", EEndStreamError without "endstream". end (when not negative) is where the next
  // object starts: the data and their "endstream" lie before it, and no "endstream" at or beyond
  // it belongs to this stream.
  std::unique_ptr<rtl::TMemoryStream> ReadStreamData(int64_t length, int32_t objectNumber,
                                                     int32_t generation, int64_t end = -1);

  // The offset written after the last "startxref" of the whole source. rtl::Exception "Invalid
  // PDF File" when there is none, EOffsetError when no number follows it.
  int64_t FindStartXRef();
  // From the current position: the bytes up to and including the keyword "trailer" (else
  // ETrailerError), then the trailer dictionary (anything else raises rtl::EInvalidCast).
  std::unique_ptr<TzoPDFDictObject> ReadTrailer();
  // The version of the header at the first byte: "%PDF-1.0" to "%PDF-1.6". EInvalidHeader for
  // anything not starting with "%PDF-1." and a digit, EUnsupportedVersion for 1.7 and above.
  TzoPDFVersion ReadHeader();

 private:
  std::unique_ptr<TzoPDFObject> ReadNumberOrObject();
  std::unique_ptr<TzoPDFObject> ReadIndirect(int32_t objectNumber, int32_t generation);
  // Outside any object (depth 0): forget the current object.
  void BeginValue();
  // The text of the name at the position, its "/" included (ReadName without the object).
  std::string ReadNameText();

  // One object made, holding bytes of its own.
  void Made(int64_t bytes) {
    made_ += ObjectCost + bytes;
    if (made_ >= chargeStep_) ChargeMade();
  }

  int32_t documentNumber_;
  TzoPDFDecrypt* decryptor_ = nullptr;
  int64_t made_ = 0;
  int64_t chargeStep_ = std::numeric_limits<int64_t>::max();
  std::function<void(int64_t)> charge_;
  int32_t currentObjectNumber_ = -1;
  int32_t currentGeneration_ = -1;
  // The elements of the arrays and dictionaries being read (a dictionary's values, and its keys
  // apart), innermost last: each container is made once its count is known.
  std::vector<std::unique_ptr<TzoPDFObject>> pending_;
  std::vector<std::string> pendingKeys_;
  int32_t depth_ = 0;           // arrays, dictionaries and objects being read
  int32_t containerDepth_ = 0;  // arrays and dictionaries being read
  // The earliest data start from which no "endstream" was found, for a source of missingSize_.
  int64_t missingFrom_ = -1;
  int64_t missingSize_ = -1;
};
