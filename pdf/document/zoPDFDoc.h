// The document class that applications place on their windows.
#pragma once

#include <memory>

#include "pdf/document/zoExProPDFDoc.h"

class TzoPDFDocument : public TzoExProPDFDocument {
 public:
  using TzoExProPDFDocument::TzoExProPDFDocument;

  // A new, fully set-up document.
  static std::unique_ptr<TzoPDFDocument> Create(rtl::TComponent* owner = nullptr);
};
