#include "pdf/document/zoExProPDFDoc.h"

TzoExProPDFDocument::TzoExProPDFDocument(ConstructKey key, rtl::TComponent* owner)
    : TzoExPDFDocument(key, owner) {}

TzoExProPDFDocument::~TzoExProPDFDocument() = default;
