#include "pdf/document/zoExPDFDoc.h"

TzoExPDFDocument::TzoExPDFDocument(ConstructKey key, rtl::TComponent* owner)
    : TzoCustomPDFDocument(key, owner) {}
