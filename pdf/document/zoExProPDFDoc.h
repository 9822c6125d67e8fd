// The document with a text-rendering hook: stored settings that no operation reads.
#pragma once

#include <functional>
#include <string>

#include "pdf/document/zoExPDFDoc.h"
#include "ui/Graphics.h"

class TzoTextInfo;

using TzoOnRenderTextEvent =
    std::function<void(TzoCustomPDFDocument* sender, TzoTextInfo* textInfo,
                       ui::TFontStyles& fontStyle, std::u16string& text, ui::TColor& textColor)>;

class TzoExProPDFDocument : public TzoExPDFDocument {
 public:
  TzoExProPDFDocument(ConstructKey key, rtl::TComponent* owner);
  ~TzoExProPDFDocument() override;

  TzoOnRenderTextEvent OnRenderText;
  bool CustomRenderText() const { return customRenderText_; }
  void SetCustomRenderText(bool v) { customRenderText_ = v; }

 private:
  bool customRenderText_ = false;
};
