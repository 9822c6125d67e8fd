// The PDF library's numbered message table: error messages, status texts of the document engine
// and the captions of the settings dialog. Texts are byte strings in the ANSI code page (932).
#pragma once

#include <cstdint>
#include <string>

#include "platform/RtlSysUtils.h"

// Settings dialog captions, prompts and list entries.
enum : uint16_t {
  SBcc = 65168,
  SFrom = 65169,
  SBody = 65170,
  SSubject = 65171,
  SCompression = 65172,
  SCompressionMethod = 65173,
  SCompressionLevel = 65174,
  SCompressDocument = 65175,
  SOwnerPassword = 65176,
  SOwnerPasswordConfirm = 65177,
  SUserPassword = 65178,
  SUserPasswordConfirm = 65179,
  SPresentationMode = 65184,
  SPageTransitionEffect = 65185,
  SSeconds = 65186,
  SDisplayDuration = 65187,
  SPresentationRange = 65188,
  SPageRangeHint = 65189,
  SAllPages = 65190,
  SPages = 65191,
  SDisplaySettings = 65192,
  SEmail = 65193,
  SEmailAfterSave = 65194,
  SHost = 65195,
  SUserID = 65196,
  SPassword = 65197,
  STo = 65198,
  SCc = 65199,
  SOpenAfterSave = 65200,
  SDocumentInformation = 65201,
  SCreator = 65202,
  SProducer = 65203,
  SPDFVersionCaption = 65204,
  SPageCount = 65205,
  STitle = 65206,
  SSubtitle = 65207,
  SAuthor = 65208,
  SKeywords = 65209,
  SSecurity = 65210,
  SDocumentRestrictions = 65211,
  SDocumentSecurity = 65212,
  SOpenMode = 65213,
  SPageLayoutCaption = 65214,
  SView = 65215,
  SAllowPrint = 65216,
  SAllowModify = 65217,
  SAllowCopy = 65218,
  SAllowAnnotation = 65219,
  SAllowFormFill = 65220,
  SAllowAccessibility = 65221,
  SAllowDocAssembly = 65222,
  SAllowHighResPrint = 65223,
  S40Bit = 65224,
  S128Bit = 65225,
  SPasswordsDoNotMatch = 65226,
  SOnlyOwnerCanChangeEncryption = 65227,
  SDocumentSettingsCaption = 65228,
  SOK = 65229,
  SCancel = 65230,
  SGeneral = 65231,
  STransDissolve = 65232,
  STransGlitterLeftToRight = 65233,
  STransGlitterTopToBottom = 65234,
  STransGlitterTopLeftToBottomRight = 65235,
  SLevelNone = 65236,
  SLevelFastest = 65237,
  SLevelNormal = 65238,
  SLevelMaximum = 65239,
  SMethodFlate = 65240,
  SMethodRunlength = 65241,
  SHideToolbars = 65242,
  SHideMenuBar = 65243,
  SHideWindowUI = 65244,
  SFitWindow = 65245,
  SCenterWindow = 65246,
  SDisplayDocTitle = 65247,
  SModeUseOutlines = 65248,
  SModeUseThumbs = 65249,
  SModeFullScreen = 65250,
  SModeUseAttachments = 65251,
  STransSplitHorizontalInward = 65252,
  STransSplitHorizontalOutward = 65253,
  STransSplitVerticalInward = 65254,
  STransSplitVerticalOutward = 65255,
  STransBlindsHorizontal = 65256,
  STransBlindsVertical = 65257,
  STransBoxInward = 65258,
  STransBoxOutward = 65259,
  STransWipeLeftToRight = 65260,
  STransWipeBottomToTop = 65261,
  STransWipeRightToLeft = 65262,
  STransWipeTopToBottom = 65263,
  SLayoutSinglePage = 65276,
  SLayoutOneColumn = 65277,
  SLayoutTwoColumnLeft = 65278,
  SLayoutTwoColumnRight = 65279,
};

// Status texts that the document engine reports while it reads and writes.
enum : uint16_t {
  SAcroFormsProcessed = 65264,
  STraversingPages = 65265,
  SProcessingAnnotations = 65266,
  SProcessingNameTree = 65267,
  SReadingOutlines = 65268,
  SProcessingDestinations = 65269,
  SReadingXRefTable = 65270,
  SReadingXRefStreamTable = 65271,
  SWritingXRefTable = 65272,
  SWritingPages = 65273,
  SBuildingOutlines = 65274,
  SBuildingObjects = 65275,
  SSaveComplete = 65293,
  SSavingFile = 65294,            // %s: the file name
  SDocumentReadComplete = 65295,  // %d: the page count
};

// Error messages.
enum : uint16_t {
  SUnsupportedFilter = 65280,        // %s: the filter name as the document gives it
  SUnsupportedFilterKind = 65281,    // no placeholder
  SUnexpectedFilterObject = 65282,   // %s: the type name of the object found
  SUnexpectedContentObject = 65283,  // %d: the page
  SErrorInsertingPageResource = 65284,
  SInvalidPageNumber = 65285,  // %d
  SInvalidPageRange = 65286,   // %s
  SUnexpectedError = 65287,
  SUnsupportedFont = 65288,  // %s
  SErrorReadingXRef = 65289,
  SFileCorrupted = 65290,
  SIndexOutOfBounds = 65291,
  SExpectedPageReference = 65292,
  STrailerError = 65296,
  SStringReadError = 65297,      // %s
  SArrayReadError = 65298,       // %s
  SNameReadError = 65299,        // %s
  SDictionaryReadError = 65300,  // %s
  SStreamReadError = 65301,
  SInvalidObjectNumber = 65302,
  SExpectedEndStream = 65303,
  SExpectedBoolean = 65304,  // %s
  SExpectedNull = 65305,
  SOffsetError = 65306,
  SInvalidHeader = 65307,       // %s
  SUnsupportedVersion = 65308,  // %s
  SInvalidPermission = 65309,
  SUnexpectedObject = 65310,
  SUnsupportedImage = 65311,  // %s
  SInvalidUniqueID = 65319,   // %d
  SInvalidStream = 65320,
  SWriteOnlyCannotRead = 65321,
  SListIndexOutOfBounds = 65322,  // %d
  SFileNotFound = 65326,
  SInvalidInteger = 65327,         // %s
  SUnsupportedEncryption = 65328,  // %s: the filter or revision found
};

// The text of a message id (CP932 bytes); "" for an id outside the table. Not cached by callers.
std::string LoadMessage(uint16_t id);

// The text of a message id filled in with the values in placeholder order (%s a string, %d an
// integer). With no values the text is returned as it stands.
template <class... A>
std::string FmtLoadMessage(uint16_t id, const A&... args) {
  if constexpr (sizeof...(A) == 0)
    return LoadMessage(id);
  else
    return rtl::Format(LoadMessage(id), args...);
}

// Raises an exception of class E with the text of a message id, formatted with the values.
//   RaiseMsg<EUnsupportedFilterError>(SUnsupportedFilter, name);
template <class E, class... A>
[[noreturn]] void RaiseMsg(uint16_t id, const A&... args) {
  throw E(FmtLoadMessage(id, args...));
}
