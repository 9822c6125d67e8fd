// The document with formatted-text drawing: the first descendant of the document component.
#pragma once

#include <functional>
#include <string>

#include "pdf/document/zoCstPDFDoc.h"

using TzoChangeAttachmentNameEvent = std::function<void(
    TzoCustomPDFDocument* sender, const std::string& fileName, std::string& newFileName)>;

class TzoExPDFDocument : public TzoCustomPDFDocument {
 public:
  TzoExPDFDocument(ConstructKey key, rtl::TComponent* owner);

  TzoChangeAttachmentNameEvent OnAttachmentNameChange;
};
