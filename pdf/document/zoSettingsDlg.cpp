#include "pdf/document/zoSettingsDlg.h"

#include <cmath>
#include <limits>
#include <vector>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoUtils.h"
#include "platform/CodePage.h"
#include "platform/RtlSysUtils.h"

namespace {

// The last compression method and level chosen, for a list left without a selection.
uint8_t gLastCompressionMethod = 0;
uint8_t gLastCompressionLevel = 0;

std::string J(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

constexpr int kCompRunlength = 1;

// A label with its edit on one row: the label at x, the edit at editX.
void PlaceRow(ui::TWinControl& parent, ui::TLabel& label, const char* caption, ui::TEdit& edit,
              int x, int editX, int top, int editWidth) {
  label.SetParent(&parent);
  label.SetBounds(x, top + 4, editX - x - 4, 12);
  label.SetCaption(J(caption));
  edit.SetParent(&parent);
  edit.SetBounds(editX, top, editWidth, 20);
}

void PlaceCombo(ui::TWinControl& parent, ui::TLabel& label, const char* caption,
                ui::TComboBox& combo, int x, int comboX, int top, int comboWidth) {
  label.SetParent(&parent);
  label.SetBounds(x, top + 4, comboX - x - 4, 12);
  label.SetCaption(J(caption));
  combo.SetParent(&parent);
  combo.SetBounds(comboX, top - 2, comboWidth, 24);
  combo.SetStyle(ui::csDropDownList);
}

void Fill(ui::TControlStrings& items, std::initializer_list<uint16_t> ids) {
  items.BeginUpdate();
  items.Clear();
  for (uint16_t id : ids)
    items.Add(LoadMessage(id));
  items.EndUpdate();
}

// The items of a comma text, as the class library splits one: an item ends at a comma or a
// blank, runs of blanks and one comma between items are skipped, a double-quoted part ("" inside
// for one quote) is one item.
void SetCommaText(rtl::TStringList& list, const std::string& text) {
  list.Clear();
  size_t p = 0;
  const size_t n = text.size();
  auto blank = [&](size_t i) { return static_cast<unsigned char>(text[i]) <= ' '; };
  while (p < n && blank(p))
    ++p;
  while (p < n) {
    std::string item;
    if (text[p] == '"') {
      ++p;
      while (p < n) {
        if (text[p] == '"') {
          if (p + 1 < n && text[p + 1] == '"') {
            item += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      while (p < n && text[p] != ',' && !blank(p))
        item += text[p++];
    }
    list.Add(std::move(item));
    while (p < n && blank(p))
      ++p;
    if (p < n && text[p] == ',') {
      ++p;
      while (p < n && blank(p))
        ++p;
    }
  }
}

}  // namespace

TzoPDFSettingsDlg::TzoPDFSettingsDlg(rtl::TComponent* owner) : ui::TForm(owner) {
  SetCaption(J("ＰＤＦドキュメントに関する設定"));
  SetBorderStyle(ui::bsDialog);
  SetBorderIcons(ui::biSystemMenu | ui::biMinimize);
  SetPosition(ui::poScreenCenter);
  Font().SetName(J("ＭＳ Ｐゴシック"));
  Font().SetCharset(ui::SHIFTJIS_CHARSET);
  Font().SetHeight(-12);
  SetClientWidth(364);
  SetClientHeight(449);

  pcSettings.SetParent(this);
  pcSettings.SetBounds(4, 4, 356, 406);
  btnOK.SetParent(this);
  btnOK.SetBounds(196, 416, 75, 25);
  btnOK.SetCaption("OK");
  btnOK.SetDefault(true);
  btnOK.SetModalResult(ui::mrOk);
  btnCancel.SetParent(this);
  btnCancel.SetBounds(280, 416, 75, 25);
  btnCancel.SetCaption("Cancel");
  btnCancel.SetCancel(true);
  btnCancel.SetModalResult(ui::mrCancel);

  // Pages: 348 x 378 each (less under a toolkit with taller tabs: kept within 360).
  const std::pair<ui::TTabSheet*, const char*> sheets[] = {
      {&tsDocInfo, "一般"},   {&tsSecurity, "セキュリティ"}, {&tsView, "開き方"},
      {&tsEmailDoc, "Email"}, {&tsCompress, "圧縮"},
  };
  for (auto [sheet, caption] : sheets) {
    sheet->SetPageControl(&pcSettings);
    sheet->SetCaption(J(caption));
  }

  // "一般"
  gbDocInfo.SetParent(&tsDocInfo);
  gbDocInfo.SetBounds(6, 6, 336, 296);
  gbDocInfo.SetCaption(J("ＰＤＦ情報"));
  const struct {
    ui::TLabel* label;
    const char* caption;
    ui::TEdit* edit;
  } infoRows[] = {
      {&lblTitle, "タイトル:", &edtTitle},       {&lblDocSubject, "サブタイトル:", &edtDocSubject},
      {&lblAuthor, "著作者:", &edtAuthor},       {&lblKeywords, "キーワード:", &edtKeywords},
      {&lblCreator, "ＰＤＦ変換:", &edtCreator}, {&lblProducer, "作成者:", &edtProducer},
      {&lblVersion, "バージョン:", &edtVersion}, {&lblNoPages, "ページ数:", &edtNoPages},
  };
  int top = 22;
  for (const auto& row : infoRows) {
    PlaceRow(gbDocInfo, *row.label, row.caption, *row.edit, 12, 96, top, 228);
    top += 34;
  }
  for (ui::TEdit* e : {&edtCreator, &edtProducer, &edtVersion, &edtNoPages})
    e->SetReadOnly(true);
  chkOpenAfterSave.SetParent(&tsDocInfo);
  chkOpenAfterSave.SetBounds(12, 314, 200, 20);
  chkOpenAfterSave.SetCaption(J("完了後開く"));
  chkOpenAfterSave.SetChecked(true);

  // "セキュリティ"
  chkEnableEncryption.SetParent(&tsSecurity);
  chkEnableEncryption.SetBounds(12, 6, 200, 20);
  chkEnableEncryption.SetCaption(J("文書のセキュリティ"));
  gbEncryption.SetParent(&tsSecurity);
  gbEncryption.SetBounds(6, 28, 336, 330);
  const struct {
    ui::TLabel* label;
    const char* caption;
    ui::TEdit* edit;
  } passwordRows[] = {
      {&lblOwnerPassword, "オーナーパスワード:", &edtOwnerPassword},
      {&lblConfirmOwnerPassword, "オーナーパスワード（確認）:", &edtConfirmOwnerPassword},
      {&lblUserPassword, "ユーザパスワード:", &edtUserPassword},
      {&lblConfirmUserPassword, "ユーザパスワード（確認）:", &edtConfirmUserPassword},
  };
  top = 14;
  for (const auto& row : passwordRows) {
    PlaceRow(gbEncryption, *row.label, row.caption, *row.edit, 10, 164, top, 160);
    row.edit->SetPasswordChar('*');
    top += 24;
  }
  rgEncryptionLevel.SetParent(&gbEncryption);
  rgEncryptionLevel.SetBounds(10, 112, 316, 44);
  rgEncryptionLevel.SetCaption(J(" 暗号化レベル"));
  rgEncryptionLevel.SetColumns(2);
  gbUserPermissions.SetParent(&gbEncryption);
  gbUserPermissions.SetBounds(10, 160, 316, 164);
  gbUserPermissions.SetCaption(J("文書に関する制限（許可） "));
  chklstUserPermissions.SetParent(&gbUserPermissions);
  chklstUserPermissions.SetBounds(8, 18, 300, 140);

  // "開き方"
  PlaceCombo(tsView, lblPageLayout, "ページレイアウト:", cbPageLayout, 10, 110, 8, 228);
  PlaceCombo(tsView, lblPageMode, "表示:", cbPageMode, 10, 110, 36, 228);
  gbPresentation.SetParent(&tsView);
  gbPresentation.SetBounds(6, 62, 336, 156);
  gbPresentation.SetCaption(J("プレゼンテーション・モード"));
  PlaceCombo(gbPresentation, lblPageTransitionEffect, "ページ表示効果:", cbPageTransitionEffect, 10,
             104, 20, 222);
  cbPageTransitionEffect.SetDropDownCount(17);
  PlaceRow(gbPresentation, lblDur, "表示時間:", edtDur, 10, 104, 48, 50);
  lblSeconds.SetParent(&gbPresentation);
  lblSeconds.SetBounds(160, 52, 20, 12);
  lblSeconds.SetCaption(J("秒"));
  gbPresentationPages.SetParent(&gbPresentation);
  gbPresentationPages.SetBounds(10, 74, 316, 76);
  gbPresentationPages.SetCaption(J("プレゼンテーション・ページ範囲"));
  rbAllPages.SetParent(&gbPresentationPages);
  rbAllPages.SetBounds(10, 18, 60, 20);
  rbAllPages.SetCaption(J("全て"));
  rbAllPages.SetChecked(true);
  rbPages.SetParent(&gbPresentationPages);
  rbPages.SetBounds(74, 18, 60, 20);
  rbPages.SetCaption(J("指定"));
  edtPresentationPages.SetParent(&gbPresentationPages);
  edtPresentationPages.SetBounds(136, 18, 170, 20);
  lblPageRangeHint.SetParent(&gbPresentationPages);
  lblPageRangeHint.SetAutoSize(false);
  lblPageRangeHint.SetWordWrap(true);
  lblPageRangeHint.SetBounds(10, 42, 296, 30);
  lblPageRangeHint.SetCaption(LoadMessage(SPageRangeHint));
  gbViewerPreferences.SetParent(&tsView);
  gbViewerPreferences.SetBounds(6, 222, 336, 136);
  gbViewerPreferences.SetCaption(J("表示設定 "));
  chklstViewerPreferences.SetParent(&gbViewerPreferences);
  chklstViewerPreferences.SetBounds(8, 18, 320, 112);

  // "Email"
  chkEmailAfterSave.SetParent(&tsEmailDoc);
  chkEmailAfterSave.SetBounds(12, 6, 200, 20);
  chkEmailAfterSave.SetCaption(J("保存後Emailする"));
  gbConnection.SetParent(&tsEmailDoc);
  gbConnection.SetBounds(6, 28, 336, 88);
  PlaceRow(gbConnection, lblHost, "ホスト: ", edtHost, 10, 84, 12, 240);
  PlaceRow(gbConnection, lblUserID, "ユーザＩＤ: ", edtUserID, 10, 84, 36, 240);
  PlaceRow(gbConnection, lblPassword, "パスワード: ", edtPassword, 10, 84, 60, 240);
  edtPassword.SetPasswordChar('*');
  gbAddresses.SetParent(&tsEmailDoc);
  gbAddresses.SetBounds(6, 120, 336, 112);
  PlaceRow(gbAddresses, lblFrom, "送信者: ", edtFrom, 10, 84, 12, 240);
  PlaceRow(gbAddresses, lblTo, "宛先: ", edtTo, 10, 84, 36, 240);
  PlaceRow(gbAddresses, lblCC, "CC: ", edtCC, 10, 84, 60, 240);
  PlaceRow(gbAddresses, lblBCC, "BCC: ", edtBCC, 10, 84, 84, 240);
  gbMessage.SetParent(&tsEmailDoc);
  gbMessage.SetBounds(6, 236, 336, 122);
  PlaceRow(gbMessage, lblSubject, "件名: ", edtSubject, 10, 84, 12, 240);
  lblBody.SetParent(&gbMessage);
  lblBody.SetBounds(10, 42, 70, 12);
  lblBody.SetCaption(J("本文:"));
  memoBody.SetParent(&gbMessage);
  memoBody.SetBounds(84, 38, 240, 76);
  memoBody.SetScrollBars(ui::ssVertical);

  // "圧縮"
  chkCompressDoc.SetParent(&tsCompress);
  chkCompressDoc.SetBounds(12, 6, 200, 20);
  chkCompressDoc.SetCaption(J("文書を圧縮する"));
  chkCompressDoc.SetChecked(true);
  gbCompType.SetParent(&tsCompress);
  gbCompType.SetBounds(6, 28, 336, 80);
  PlaceCombo(gbCompType, lblCompType, "圧縮方式:", cbCompType, 10, 100, 18, 224);
  PlaceCombo(gbCompType, lblCompLevel, "圧縮レベル:", cbCompLevel, 10, 100, 48, 224);

  OnCreate = [this](rtl::TObject* s) { FormCreate(s); };
  OnShow = [this](rtl::TObject* s) { FormShow(s); };
  btnOK.OnClick = [this](rtl::TObject* s) { btnOKClick(s); };
  chkEnableEncryption.OnClick = [this](rtl::TObject* s) { chkEnableEncryptionClick(s); };
  chkEmailAfterSave.OnClick = [this](rtl::TObject* s) { chkEmailAfterSaveClick(s); };
  edtDur.OnKeyPress = [this](rtl::TObject* s, char& key) { edtDurKeyPress(s, key); };
  edtPresentationPages.OnKeyPress = [this](rtl::TObject* s, char& key) {
    edtPresentationPagesKeyPress(s, key);
  };
  rbAllPages.OnClick = [this](rtl::TObject* s) { rbAllPagesClick(s); };
  rbPages.OnClick = [this](rtl::TObject* s) { rbPagesClick(s); };
  cbPageTransitionEffect.OnChange = [this](rtl::TObject* s) { cbPageTransitionEffectChange(s); };
  cbPageLayout.OnChange = [this](rtl::TObject* s) { cbPageLayoutChange(s); };
  chkCompressDoc.OnClick = [this](rtl::TObject* s) { chkCompressDocClick(s); };
  cbCompType.OnChange = [this](rtl::TObject* s) { cbCompTypeChange(s); };
}

void TzoPDFSettingsDlg::EnableGroup(ui::TWinControl* container, bool enabled) {
  for (int i = 0; i < container->ControlCount(); ++i) {
    ui::TControl* child = container->Controls(i);
    auto* inner = dynamic_cast<ui::TWinControl*>(child);
    if (inner && inner->ControlCount() > 0) EnableGroup(inner, enabled);
    if (dynamic_cast<ui::TEdit*>(child) || dynamic_cast<ui::TComboBox*>(child))
      child->SetColor(enabled ? ui::clWindow : ui::clInactiveBorder);
    child->SetEnabled(enabled);
  }
}

void TzoPDFSettingsDlg::FormCreate(rtl::TObject*) {
  Fill(cbPageLayout.Items(), {SLevelNone, SLayoutSinglePage, SLayoutOneColumn, SLayoutTwoColumnLeft,
                              SLayoutTwoColumnRight});
  Fill(cbPageMode.Items(),
       {SLevelNone, SModeUseOutlines, SModeUseThumbs, SModeFullScreen, SModeUseAttachments});
  Fill(cbPageTransitionEffect.Items(),
       {SLevelNone, STransSplitHorizontalInward, STransSplitHorizontalOutward,
        STransSplitVerticalInward, STransSplitVerticalOutward, STransBlindsHorizontal,
        STransBlindsVertical, STransBoxInward, STransBoxOutward, STransWipeLeftToRight,
        STransWipeBottomToTop, STransWipeRightToLeft, STransWipeTopToBottom, STransDissolve,
        STransGlitterLeftToRight, STransGlitterTopToBottom, STransGlitterTopLeftToBottomRight});
  Fill(cbCompLevel.Items(), {SLevelNone, SLevelFastest, SLevelNormal, SLevelMaximum});
  Fill(chklstViewerPreferences.Items(),
       {SHideToolbars, SHideMenuBar, SHideWindowUI, SFitWindow, SCenterWindow, SDisplayDocTitle});
  Fill(chklstUserPermissions.Items(),
       {SAllowPrint, SAllowModify, SAllowCopy, SAllowAnnotation, SAllowFormFill,
        SAllowAccessibility, SAllowDocAssembly, SAllowHighResPrint});
  Fill(rgEncryptionLevel.Items(), {S40Bit, S128Bit});
  Fill(cbCompType.Items(), {SMethodFlate, SMethodRunlength});
  rgEncryptionLevel.SetItemIndex(0);
  cbPageLayout.SetItemIndex(0);
  cbPageMode.SetItemIndex(0);
  cbPageTransitionEffect.SetItemIndex(0);
  EnableGroup(&gbEncryption, false);
  EnableGroup(&gbConnection, false);
  EnableGroup(&gbAddresses, false);
  EnableGroup(&gbMessage, false);
  EnableGroup(&gbCompType, false);
}

namespace {

// The permission of each item of the permission list, in list order.
constexpr TzoUserPermissionsType kPermissionItems[] = {
    AllowPrint,    AllowModify,        AllowCopy,        AllowAnnotation,
    AllowFormFill, AllowAccessibility, AllowDocAssembly, AllowHighResPrint,
};

// The viewer preferences in the order of their list.
constexpr int kPreferenceCount = 6;

bool GetPreference(const TzoPDFViewerPreferences& p, int item) {
  switch (item) {
    case 0:
      return p.HideToolbar();
    case 1:
      return p.HideMenubar();
    case 2:
      return p.HideWindowUI();
    case 3:
      return p.FitWindow();
    case 4:
      return p.CenterWindow();
    default:
      return p.DisplayDocTitle();
  }
}

void SetPreference(TzoPDFViewerPreferences& p, int item, bool on) {
  switch (item) {
    case 0:
      return p.SetHideToolbar(on);
    case 1:
      return p.SetHideMenubar(on);
    case 2:
      return p.SetHideWindowUI(on);
    case 3:
      return p.SetFitWindow(on);
    case 4:
      return p.SetCenterWindow(on);
    default:
      return p.SetDisplayDocTitle(on);
  }
}

const char* const kVersionTexts[] = {
    "1.0 (Acrobat 1.x)", "1.1 (Acrobat 2.x)", "1.2 (Acrobat 3.x)",
    "1.3 (Acrobat 4.x)", "1.4 (Acrobat 5.x)", "1.5 (Acrobat 6.x)",
};

const char kProducerText[] = "Quorrane Leafwright V2.5";

// The duration text as a number of seconds a page can be shown: a finite, non-negative value that
// fits the single-precision field it is kept in.
bool ReadDuration(const std::string& text, float& seconds) {
  double value = 0;
  if (!TryStrToFloatDot(text, value)) return false;
  if (!std::isfinite(value) || value < 0 || value > std::numeric_limits<float>::max()) return false;
  seconds = static_cast<float>(value);
  return true;
}

}  // namespace

bool TzoPDFSettingsDlg::MayChangeEncryption() const {
  TzoCustomPDFDocument* d = Document();
  return d && d->IsOwner() && d->Encryption().CanChange();
}

void TzoPDFSettingsDlg::FormShow(rtl::TObject*) {
  TzoCustomPDFDocument* d = Document();
  pcSettings.SetActivePageIndex(0);
  if (!d) return;

  // The texts whole: characters the ANSI code page lacks stay as they are.
  TzoPDFInfo& info = d->Info();
  edtTitle.SetWideText(info.Title());
  edtDocSubject.SetWideText(info.Subject());
  edtAuthor.SetWideText(info.Author());
  edtCreator.SetWideText(info.Creator());
  edtKeywords.SetWideText(info.Keywords());
  edtProducer.SetText(kProducerText);

  chkCompressDoc.SetChecked(true);
  chkCompressDocClick(&chkCompressDoc);
  cbCompType.SetItemIndex(0);
  cbCompLevel.SetItemIndex(1);

  chkEmailAfterSave.SetChecked(false);

  // The box shows whether the save encrypts; only the owner may change that.
  TzoPDFEncryptionSettings& enc = d->Encryption();
  SetCheckedQuietly(chkEnableEncryption, enc.Enabled());
  EnableGroup(&gbEncryption, enc.Enabled() && MayChangeEncryption());
  edtOwnerPassword.SetText(enc.OwnerPassword());
  edtConfirmOwnerPassword.SetText(enc.OwnerPassword());
  edtUserPassword.SetText(enc.UserPassword());
  edtConfirmUserPassword.SetText(enc.UserPassword());
  rgEncryptionLevel.SetItemIndex(enc.Level() == el128bit ? 1 : 0);
  for (int i = 0; i < 8; ++i)
    chklstUserPermissions.SetChecked(i, enc.UserPermissions().Contains(kPermissionItems[i]));

  size_t version = d->PDFVersion();
  edtVersion.SetText(version < std::size(kVersionTexts) ? kVersionTexts[version] : "");
  edtNoPages.SetText(rtl::IntToStr(d->PageCount()));
  edtDur.SetText("1");

  cbPageLayout.SetItemIndex(d->PageLayout());
  cbPageMode.SetItemIndex(d->PageMode());

  TzoPDFViewerPreferences* prefs = d->ViewerPreferences();
  for (int i = 0; i < kPreferenceCount; ++i)
    chklstViewerPreferences.SetChecked(i, prefs && GetPreference(*prefs, i));
}

void TzoPDFSettingsDlg::Refuse(ui::TWinControl& field, const std::string& message) {
  ui::Application().MessageBox(message, "", ui::MB_OK | ui::MB_ICONERROR);
  for (ui::TControl* c = &field; c; c = c->Parent()) {
    if (auto* sheet = dynamic_cast<ui::TTabSheet*>(c)) {
      pcSettings.SetActivePage(sheet);
      break;
    }
  }
  field.SetFocus();
  SetModalResult(ui::mrNone);
}

bool TzoPDFSettingsDlg::CheckFields() {
  TzoCustomPDFDocument* d = Document();
  if (chkEnableEncryption.Checked() && MayChangeEncryption()) {
    if (edtOwnerPassword.Text() != edtConfirmOwnerPassword.Text()) {
      Refuse(edtOwnerPassword, FmtLoadMessage(SPasswordsDoNotMatch, std::string("Owner")));
      return false;
    }
    if (edtUserPassword.Text() != edtConfirmUserPassword.Text()) {
      Refuse(edtUserPassword, FmtLoadMessage(SPasswordsDoNotMatch, std::string("User")));
      return false;
    }
  }
  if (edtDur.Text().empty()) edtDur.SetText("1");
  if (cbPageTransitionEffect.ItemIndex() > 0) {
    float seconds = 0;
    if (!ReadDuration(edtDur.Text(), seconds)) {
      Refuse(edtDur, rtl::Format("'%s' is not a valid floating point value", edtDur.Text()));
      return false;
    }
    if (rbPages.Checked()) {
      std::vector<int32_t> pages;
      try {
        TzoCustomPDFDocument::ParsePageRange(edtPresentationPages.Text(), d->PageCount(), pages);
      } catch (const EInvalidPageError& e) {
        Refuse(edtPresentationPages, e.Message());
        return false;
      }
    }
  }
  return true;
}

void TzoPDFSettingsDlg::btnOKClick(rtl::TObject*) {
  TzoCustomPDFDocument* d = Document();
  if (!d || !CheckFields()) return;

  // Security: a ticked box sets the encryption, an unticked one switches it off.
  if (MayChangeEncryption()) {
    TzoPDFEncryptionSettings& enc = d->Encryption();
    if (chkEnableEncryption.Checked()) {
      enc.SetEnabled(true);
      enc.SetLevel(rgEncryptionLevel.ItemIndex() == 1 ? el128bit : el40bit);
      if (!edtOwnerPassword.Text().empty()) enc.SetOwnerPassword(edtOwnerPassword.Text());
      enc.SetUserPassword(edtUserPassword.Text());
      TzoUserPermissions permissions = TzoUserPermissions::All();
      for (int i = 0; i < 8; ++i)
        if (!chklstUserPermissions.Checked(i)) permissions.Exclude(kPermissionItems[i]);
      enc.SetUserPermissions(permissions);
    } else if (enc.Enabled()) {
      enc.SetEnabled(false);
    }
  }

  TzoPDFInfo& info = d->Info();
  info.SetTitle(edtTitle.WideText());
  info.SetSubject(edtDocSubject.WideText());
  info.SetAuthor(edtAuthor.WideText());
  info.SetKeywords(edtKeywords.WideText());
  info.SetCreator(edtCreator.WideText());

  d->SetOpenAfterSave(chkOpenAfterSave.Checked());

  int effect = cbPageTransitionEffect.ItemIndex();
  if (effect > 0) {
    float seconds = 1;
    ReadDuration(edtDur.Text(), seconds);
    // All pages of a document without pages: nothing to apply the effect to.
    if (rbPages.Checked() || d->PageCount() > 0) {
      std::string range =
          rbPages.Checked() ? edtPresentationPages.Text() : "1-" + rtl::IntToStr(d->PageCount());
      d->ApplyTransitions(range, static_cast<uint8_t>(effect), seconds);
    }
  }

  if (cbPageLayout.ItemIndex() != -1)
    d->SetPageLayout(static_cast<TzoPageLayout>(cbPageLayout.ItemIndex()));
  if (cbPageMode.ItemIndex() != -1)
    d->SetPageMode(static_cast<TzoPageMode>(cbPageMode.ItemIndex()));

  if (TzoPDFViewerPreferences* prefs = d->ViewerPreferences()) {
    for (int i = 0; i < kPreferenceCount; ++i)
      SetPreference(*prefs, i, chklstViewerPreferences.Checked(i));
  }

  if (chkEmailAfterSave.Checked()) {
    d->SetEMailAfterSave(true);
    TzoEMailInfo& mail = *d->EMailInfo();
    mail.Host = edtHost.Text();
    mail.UserID = edtUserID.Text();
    mail.Password = edtPassword.Text();
    mail.Body()->SetText(memoBody.Text());
    mail.FromAddress = edtFrom.Text();
    mail.Subject = edtSubject.Text();
    SetCommaText(*mail.RecipientList(), edtTo.Text());
    SetCommaText(*mail.CCList(), edtCC.Text());
    SetCommaText(*mail.BCCList(), edtBCC.Text());
  } else {
    d->SetEMailAfterSave(false);
  }

  if (chkCompressDoc.Checked()) {
    // The level list reads as the levels of the Flate encoder: None, Fastest, Normal, Maximum.
    if (cbCompType.ItemIndex() != -1)
      gLastCompressionMethod = static_cast<uint8_t>(cbCompType.ItemIndex());
    if (cbCompLevel.ItemIndex() != -1)
      gLastCompressionLevel = static_cast<uint8_t>(cbCompLevel.ItemIndex());
    d->SetCompression(gLastCompressionMethod, gLastCompressionLevel);
  }
}

void TzoPDFSettingsDlg::chkEnableEncryptionClick(rtl::TObject*) {
  if (quiet_ > 0) return;
  TzoCustomPDFDocument* d = Document();
  if (d && !MayChangeEncryption()) {
    ui::Application().MessageBox(LoadMessage(SOnlyOwnerCanChangeEncryption), "",
                                 ui::MB_OK | ui::MB_ICONINFORMATION);
    SetCheckedQuietly(chkEnableEncryption, !chkEnableEncryption.Checked());
    return;
  }
  EnableGroup(&gbEncryption, chkEnableEncryption.Checked());
}

void TzoPDFSettingsDlg::chkEmailAfterSaveClick(rtl::TObject*) {
  bool on = chkEmailAfterSave.Checked();
  EnableGroup(&gbConnection, on);
  EnableGroup(&gbAddresses, on);
  EnableGroup(&gbMessage, on);
}

void TzoPDFSettingsDlg::chkCompressDocClick(rtl::TObject*) {
  EnableGroup(&gbCompType, chkCompressDoc.Checked());
}

void TzoPDFSettingsDlg::cbCompTypeChange(rtl::TObject*) {
  if (cbCompType.ItemIndex() == kCompRunlength) {
    cbCompLevel.SetEnabled(false);
    cbCompLevel.SetItemIndex(0);
  } else {
    cbCompLevel.SetEnabled(true);
    cbCompLevel.SetItemIndex(3);
  }
}

void TzoPDFSettingsDlg::cbPageTransitionEffectChange(rtl::TObject*) {
  if (cbPageTransitionEffect.ItemIndex() > 0) cbPageLayout.SetItemIndex(plSinglePage);
}

void TzoPDFSettingsDlg::cbPageLayoutChange(rtl::TObject*) {
  if (cbPageTransitionEffect.ItemIndex() > 0) cbPageLayout.SetItemIndex(plSinglePage);
}

void TzoPDFSettingsDlg::edtDurKeyPress(rtl::TObject*, char& key) {
  if (!(key >= '0' && key <= '9') && key != ui::VK_BACK) key = 0;
}

void TzoPDFSettingsDlg::edtPresentationPagesKeyPress(rtl::TObject*, char& key) {
  if (!(key >= '0' && key <= '9') && key != ui::VK_BACK && key != ',' && key != '-') {
    key = 0;
    return;
  }
  rbPages.SetChecked(true);
}

void TzoPDFSettingsDlg::rbAllPagesClick(rtl::TObject*) {
  if (rbAllPages.Checked()) edtPresentationPages.Clear();
}

void TzoPDFSettingsDlg::rbPagesClick(rtl::TObject*) {
  edtPresentationPages.SetEnabled(true);
  edtPresentationPages.SetColor(ui::clWhite);
}

void InstallPDFSettingsDlg() {
  TzoCustomPDFDocument::SetSetupDialogFactory(
      []() -> std::unique_ptr<TzoBaseDlg> { return ui::MakeForm<TzoPDFSettingsDlg>(); });
}
