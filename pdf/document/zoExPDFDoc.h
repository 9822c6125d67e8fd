// The document with formatted-text drawing: the first descendant of the document component.
// It holds nothing of its own to free: the form-field list and the rest of the document state
// are the base's, freed once by its ClearDocument.
#pragma once

#include <functional>
#include <string>

#include "pdf/document/zoCstPDFDoc.h"

using TzoChangeAttachmentNameEvent = std::function<void(
    TzoCustomPDFDocument* sender, const std::string& fileName, std::string& newFileName)>;

class TzoExPDFDocument : public TzoCustomPDFDocument {
 public:
  TzoExPDFDocument(ConstructKey key, rtl::TComponent* owner);

  // Draws text on the pages of pageRange (InsertWatermark's form) with its top-left corner at
  // (x, y) in the document's MeasurementUnit, counted from the top-left corner of each page's
  // box. The text is cut into runs of one font, each stamped over the page's content, one after
  // the other; the runs of a line share one baseline, and a line feed starts a new line one
  // font size (the line's largest) lower. Tags, their names and attributes in any case:
  //   <B> <I> <U> <StrikeOut>   bold, italic, underline, strike-out on, until </B> ... </StrikeOut>
  //   <FONT ...> ... </FONT>    a font that starts as the enclosing one (at first Arial, 12
  //                             points, black, ANSI), changed by its attributes:
  //     SIZE=points (1 to 12288), COLOR=#RRGGBB or one of the sixteen HTML colour names,
  //     FACE=name ("quoted" when it holds blanks), CHARSET=ANSI_CHARSET, SHIFTJIS_CHARSET, ...
  // A "<" that starts none of these is text. The whole text is read before any page changes: an
  // unterminated tag or quote, an unknown attribute or a bad value raises EPDFException (a bad
  // SIZE rtl::EConvertError), as a bad page range raises EInvalidPageError,
  // and no page is touched. Each distinct font becomes one font resource that all its runs use:
  // western and symbol fonts named only, the others embedded as a subset of all their runs'
  // glyphs (a run with <%variables%> gets the stamp's own font, which holds each page's). The
  // measurement unit is as it was after the call, however it ends.
  virtual void DrawFormattedText(const std::u16string& text, const std::string& pageRange, double x,
                                 double y);
  // DrawFormattedText on every page.
  virtual void DrawFormattedTextAllPages(const std::u16string& text, double x, double y);

  // Raised by no operation of the library.
  TzoChangeAttachmentNameEvent OnAttachmentNameChange;
};
