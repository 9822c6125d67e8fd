#include <gtest/gtest.h>

#include <set>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "platform/CodePage.h"

namespace {

struct Message {
  uint16_t id;
  const char* utf8;
};

// Every text of the table as the library's messages read (UTF-8 here; the table gives CP932).
const Message kExpected[] = {
    {65168, "BCC:"},
    {65169, "From:"},
    {65170, "本文:"},
    {65171, "Subject:"},
    {65172, "圧縮"},
    {65173, "圧縮方式"},
    {65174, "圧縮レベル"},
    {65175, "Compress Document"},
    {65176, "Owner Password:"},
    {65177, "Owner Password（確認）:"},
    {65178, "User Password:"},
    {65179, "User Password（確認）:"},
    {65184, "プレゼンテーションモード"},
    {65185, "ページ表示効果:"},
    {65186, "秒"},
    {65187, "表示時間:"},
    {65188, "プレゼンテーション範囲の指定"},
    {65189, "ページ番号を\",\"で区切るか、範囲を\"-\"で区切って入力します（例: 1,3,5-12）"},
    {65190, "全ページ:"},
    {65191, "ページ:"},
    {65192, "表示設定"},
    {65193, "Email"},
    {65194, "保存後Email"},
    {65195, "Host:"},
    {65196, "UserID:"},
    {65197, "Password:"},
    {65198, "To:"},
    {65199, "CC:"},
    {65200, "保存後開く"},
    {65201, "ドキュメント情報"},
    {65202, "作成者:"},
    {65203, "PDF変換: "},
    {65204, "PDF Version:"},
    {65205, "ページ数:"},
    {65206, "タイトル:"},
    {65207, "サブタイトル:"},
    {65208, "著作者:"},
    {65209, "キーワード:"},
    {65210, "セキュリティ"},
    {65211, "文書に関する制限（許可）"},
    {65212, "文書のセキュリティ"},
    {65213, "開き方"},
    {65214, "ページレイアウト"},
    {65215, "表示"},
    {65216, "Print"},
    {65217, "Modify"},
    {65218, "Copy"},
    {65219, "Annotation"},
    {65220, "Form Fill"},
    {65221, "Accessebility"},
    {65222, "Document Assembly"},
    {65223, "High Resolution Printing"},
    {65224, "40 Bit"},
    {65225, "128 Bit"},
    {65226, "The %s Passwords do not match.\r\nPlease re-enter."},
    {65227, "Only the owner can change the encryption settings"},
    {65228, "Document Settings and Preferences"},
    {65229, "OK"},
    {65230, "Cancel"},
    {65231, "一般"},
    {65232, "Dissolve"},
    {65233, "Glitter Left To Right"},
    {65234, "Glitter Top To Bottom"},
    {65235, "Glitter Top-Left To Bottom-Right"},
    {65236, "None"},
    {65237, "Fastest"},
    {65238, "Normal"},
    {65239, "Maximum"},
    {65240, "Flate"},
    {65241, "Runlength"},
    {65242, "Hide Toolbars"},
    {65243, "Hide Menu Bar"},
    {65244, "Hide Window UI"},
    {65245, "Fit Window"},
    {65246, "Center Window"},
    {65247, "Display Document Title"},
    {65248, "Use Outlines"},
    {65249, "Use Thumbs"},
    {65250, "Full Screen"},
    {65251, "Use Attachments"},
    {65252, "Split Horizontal Inward"},
    {65253, "Split Horizontal Outward"},
    {65254, "Split Vertical Inward"},
    {65255, "Split Vertical Outward"},
    {65256, "Blinds Horizontal"},
    {65257, "Blinds Vertical"},
    {65258, "Box Inward"},
    {65259, "Box Outward"},
    {65260, "Wipe Left To Right"},
    {65261, "Wipe Bottom To Top"},
    {65262, "Wipe Right To Left"},
    {65263, "Wipe Top To Bottom"},
    {65264, "AcroForms Processed"},
    {65265, "Traversing Pages..."},
    {65266, "Processing Annotations..."},
    {65267, "Processing Name Tree..."},
    {65268, "Reading Outlines..."},
    {65269, "Processing Destinations"},
    {65270, "Reading Cross-Reference Table"},
    {65271, "Reading Cross-Reference Stream Table"},
    {65272, "Writing Cross-Reference Table"},
    {65273, "Writing Pages"},
    {65274, "Building Outlines..."},
    {65275, "Building Objects..."},
    {65276, "Single Page"},
    {65277, "One Column"},
    {65278, "Two Column Left"},
    {65279, "Two Column Right"},
    {65280, "Unsupported filter (%s)"},
    {65281, "Unsupported filter"},
    {65282, "Unexpected filter object, found (%s)"},
    {65283, "Unexpected content object for page %d"},
    {65284, "Error inserting page resource"},
    {65285, "Invalid page number (%d)"},
    {65286, "Invalid page range (%s)"},
    {65287, "Unexpected Error"},
    {65288, "Unsupported Font (%s)"},
    {65289, "Error reading cross-referenece table"},
    {65290, "File is corrupted"},
    {65291, "Index Out Of Bounds!"},
    {65292, "Expected Page Indirect Reference in Outline Destination!"},
    {65293, "Save Complete"},
    {65294, "Saving File %s"},
    {65295, "Document read complete. Pages read = %d"},
    {65296, "Error reading PDF trailer"},
    {65297, "Error reading PDF string (%s)"},
    {65298, "Error reading PDF array (%s)"},
    {65299, "Error reading PDF name string (%s)"},
    {65300, "Error reading PDF dictionary (%s)"},
    {65301, "Error reading PDF stream"},
    {65302, "Invalid object number"},
    {65303, "Expected PDF endstream"},
    {65304, "Expected boolean (%s) object"},
    {65305, "Expected PDF null object"},
    {65306, "Error reading document. Unable to read offset"},
    {65307, "Invalid PDF Header (%s)"},
    {65308, "Unsupported PDF Version (%s)"},
    {65309, "Invalid permission in encryption dictionary"},
    {65310, "Unexpected PDF object encountered"},
    {65311, "Unsupported image format (%s)"},
    {65319, "Invalid unique ID (%d)"},
    {65320, "Invalid Stream! Cannot create with null stream"},
    {65321, "A write-only filter cannot read"},
    {65322, "List index out of bounds (%d)"},
    {65326, "File Not Found"},
    {65327, "'%s' is not a valid integer value"},
    {65328, "Unsupported encryption (%s)"},
};

}  // namespace

TEST(MessageTable, EveryIdAndText) {
  std::set<uint16_t> listed;
  for (const Message& m : kExpected) {
    EXPECT_EQ(LoadMessage(m.id), platform::Utf8ToAnsi(m.utf8)) << m.id;
    listed.insert(m.id);
  }
  EXPECT_EQ(listed.size(), 147u);  // 142 of the library, 4 of zoClasses, 1 of the security handler
  // Every other id is outside the table.
  for (uint32_t id = 0; id <= 65535; ++id)
    if (!listed.count(static_cast<uint16_t>(id))) {
      EXPECT_EQ(LoadMessage(static_cast<uint16_t>(id)), "") << id;
    }
}

TEST(MessageTable, JapaneseTextsAreCodePage932Bytes) {
  EXPECT_EQ(LoadMessage(SSeconds), "\x95\x62");                  // 秒
  EXPECT_EQ(LoadMessage(SCompression), "\x88\xB3\x8F\x6B");      // 圧縮
  EXPECT_EQ(LoadMessage(SOwnerPasswordConfirm),                  // full-width parentheses
            "Owner Password\x81\x69\x8A\x6D\x94\x46\x81\x6A:");  // （確認）
  EXPECT_EQ(platform::AnsiToUtf8(LoadMessage(SPageRangeHint)),
            "ページ番号を\",\"で区切るか、範囲を\"-\"で区切って入力します（例: 1,3,5-12）");
  EXPECT_EQ(LoadMessage(SProducer).back(), ' ');  // "PDF変換: " keeps its trailing blank
}

TEST(MessageTable, SpellingsAndFormatting) {
  EXPECT_EQ(LoadMessage(65221), "Accessebility");
  EXPECT_EQ(LoadMessage(65289), "Error reading cross-referenece table");
  EXPECT_EQ(FmtLoadMessage(SUnsupportedFilter, "/JBIG2Decode"),
            "Unsupported filter (/JBIG2Decode)");
  EXPECT_EQ(FmtLoadMessage(SUnsupportedFilterKind), "Unsupported filter");
  EXPECT_EQ(FmtLoadMessage(SPasswordsDoNotMatch, "Owner"),
            "The Owner Passwords do not match.\r\nPlease re-enter.");
  EXPECT_EQ(FmtLoadMessage(SDocumentReadComplete, 12), "Document read complete. Pages read = 12");
  EXPECT_EQ(FmtLoadMessage(SUnsupportedEncryption, "/AESV3"), "Unsupported encryption (/AESV3)");
}

TEST(MessageTable, RaiseMsgCarriesClassAndFormattedText) {
  try {
    RaiseMsg<EUnsupportedFilterError>(SUnsupportedFilter, "/AHx");
    FAIL();
  } catch (const EUnsupportedFilterError& e) {
    EXPECT_EQ(e.Message(), "Unsupported filter (/AHx)");
  }
  try {
    RaiseMsg<EInvalidPermission>(SInvalidPermission);
    FAIL();
  } catch (const rtl::Exception& e) {
    EXPECT_NE(dynamic_cast<const EInvalidPermission*>(&e), nullptr);
    EXPECT_EQ(e.Message(), "Invalid permission in encryption dictionary");
  }
}

// Each library exception is an rtl::Exception of its own class; the zoClasses three share
// TzoException.
TEST(LibraryExceptions, Hierarchy) {
  auto isRtl = [](auto&& raise) {
    try {
      raise();
    } catch (const rtl::Exception&) {
      return true;
    } catch (...) {
    }
    return false;
  };
  EXPECT_TRUE(isRtl([] { throw EUnexpectedError("x"); }));
  EXPECT_TRUE(isRtl([] { throw EInvalidIndex("x"); }));
  EXPECT_TRUE(isRtl([] { throw EUnexpectedFilterObject("x"); }));
  static_assert(std::is_base_of_v<TzoException, EInvalidID>);
  static_assert(std::is_base_of_v<TzoException, EInvalidStream>);
  static_assert(std::is_base_of_v<TzoException, EReadError>);
  static_assert(std::is_base_of_v<rtl::Exception, TzoException>);
  static_assert(!std::is_base_of_v<TzoException, EUnexpectedObjectError>);
  static_assert(!std::is_base_of_v<EUnexpectedObjectError, EUnexpectedError>);
}

TEST(LibraryExceptions, LibraryReadErrorIsNotTheStreamReadError) {
  bool caughtLibrary = false, escaped = false;
  try {
    try {
      throw rtl::EReadError("Stream read error");
    } catch (const ::EReadError&) {
      caughtLibrary = true;
    }
  } catch (const rtl::EReadError&) {
    escaped = true;
  }
  EXPECT_FALSE(caughtLibrary);
  EXPECT_TRUE(escaped);

  bool caughtStream = false;
  escaped = false;
  try {
    try {
      throw ::EReadError(LoadMessage(SWriteOnlyCannotRead));
    } catch (const rtl::EReadError&) {
      caughtStream = true;
    }
  } catch (const ::EReadError& e) {
    escaped = true;
    EXPECT_EQ(e.Message(), "A write-only filter cannot read");
  }
  EXPECT_FALSE(caughtStream);
  EXPECT_TRUE(escaped);
}
