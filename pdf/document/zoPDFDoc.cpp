#include "pdf/document/zoPDFDoc.h"

std::unique_ptr<TzoPDFDocument> TzoPDFDocument::Create(rtl::TComponent* owner) {
  return TzoCustomPDFDocument::Create<TzoPDFDocument>(owner);
}
