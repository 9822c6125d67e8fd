// stamp-example IN.pdf OUT.pdf [PASSWORD]
// Stamps a PDF file as a program that uses the library would: on every page the text watermark
// "社外秘 <page> / <pages>" in ＭＳ ゴシック (IPAGothic here), embedded as a subset, half opaque,
// at the bottom centre; on the first page a banner at the top (a rectangle, a small picture and
// a line of formatted text). IN is opened with PASSWORD when given; OUT keeps IN's protection.
// Exit code 0 when OUT was written; 1, with one line on standard error, when IN was refused or
// could not be stamped (OUT is then not created); 2 for a wrong command line.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "pdf/document/zoPDFDoc.h"
#include "platform/CodePage.h"
#include "platform/ProgramFolder.h"  // ArgumentToAnsi

namespace {

// A small picture drawn here: a blue square with a white diagonal band.
std::unique_ptr<TBitmap> Badge() {
  constexpr int kSize = 48;
  auto bitmap = std::make_unique<TBitmap>(kSize, kSize);
  for (int y = 0; y < kSize; ++y) {
    uint8_t* row = bitmap->ScanLine(y);
    for (int x = 0; x < kSize; ++x) {
      const bool band = std::abs(x - y) < 6;
      row[3 * x] = band ? 255 : 30;
      row[3 * x + 1] = band ? 255 : 90;
      row[3 * x + 2] = band ? 255 : 200;
    }
  }
  return bitmap;
}

void Stamp(TzoPDFDocument& doc) {
  doc.SetMeasurementUnit(muPoints);
  const double width = doc.GetPageSize(1, muPoints).Width;

  // The watermark on every page.
  TzoTextWatermarkTemplate mark;
  mark.Text = u"社外秘 <%PageNo%> / <%TotPage%>";
  mark.Font.SetName(platform::Utf8ToAnsi("ＭＳ ゴシック"));
  mark.Font.SetCharset(ui::SHIFTJIS_CHARSET);
  mark.Font.SetSize(18);
  mark.Font.SetColor(0x0000C0);  // dark red
  mark.EmbedMode = 2;            // a subset of the glyphs the pages show
  mark.Opacity = 50;
  mark.HorizontalPosition = 1;  // centre
  mark.VerticalPosition = 2;    // bottom
  mark.Layer = 1;               // over the page's content
  doc.InsertWatermark(mark, "");

  // The banner on the first page: coordinates from the top-left corner of the page, in points.
  TzoRectangleWatermarkTemplate banner;
  banner.TopLeft = {24, 12};
  banner.BottomRight = {width - 24, 52};
  banner.LineColor = 0x804000;  // dark blue
  banner.FillColor = 0xD0F0FF;  // pale yellow
  banner.FillOpacity = 80;
  doc.InsertWatermark(banner, "1");

  TzoImageWatermarkTemplate picture;
  picture.SetImage(Badge());
  picture.Width = 32;
  picture.Height = 32;
  picture.HorizontalPosition = 3;
  picture.VerticalPosition = 3;
  picture.X = width - 24 - 4 - 32;
  picture.Y = 16;
  picture.Layer = 1;
  doc.InsertWatermark(picture, "1");

  doc.DrawFormattedText(
      u"<FONT SIZE=16><B>Sorvane</B> stamp example: <FONT COLOR=#C00000><I>confidential</I></FONT> "
      u"<FONT FACE=\"ＭＳ ゴシック\" CHARSET=SHIFTJIS_CHARSET>社外秘</FONT></FONT>",
      "1", 32, 22);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: stamp-example IN.pdf OUT.pdf [PASSWORD]\n");
    return 2;
  }
  const std::string in = platform::ArgumentToAnsi(argv[1]);
  const std::string out = platform::ArgumentToAnsi(argv[2]);
  const char* subject = argv[1];  // the file an error is about
  try {
    std::unique_ptr<TzoPDFDocument> doc = TzoPDFDocument::Create();
    if (argc == 4) {
      const std::string password = platform::ArgumentToAnsi(argv[3]);
      doc->OnPassword = [password](rtl::TObject*, std::string& answer, bool& cont, int32_t tries) {
        if (tries == 0)
          answer = password;
        else
          cont = false;
      };
    }
    if (!doc->LoadFromFile(in)) {
      std::fprintf(stderr, "stamp-example: %s: the password was refused\n", argv[1]);
      return 1;
    }
    Stamp(*doc);
    subject = argv[2];
    doc->SetShowSetupDialog(false);
    if (!doc->SaveToFile(out, 2)) {
      std::fprintf(stderr, "stamp-example: %s: not saved\n", subject);
      return 1;
    }
  } catch (const std::exception& e) {
    std::string message = platform::AnsiToUtf8(e.what());
    for (char& c : message)
      if (c == '\r' || c == '\n') c = ' ';
    std::fprintf(stderr, "stamp-example: %s: %s\n", subject, message.c_str());
    return 1;
  }
  return 0;
}
