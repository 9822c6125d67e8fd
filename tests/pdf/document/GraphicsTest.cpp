// Pictures: BMP files of every depth and header, ICO images with masks and alpha, JPEG files
// against libjpeg's own decode (djpeg), outside-written BMPs, and a table of damaged and hostile
// files that must be refused without harm.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "pdf/document/zoGraphics.h"
#include "tests/pdf/document/PictureTestSupport.h"

using namespace pictest;
using sv::test::RunCommand;
using sv::test::TempDir;

namespace {

template <class T>
void LoadBytes(T& graphic, const std::string& bytes) {
  rtl::TMemoryStream mem(bytes);
  graphic.LoadFromStream(mem);
}

// The picture drawn onto a white bitmap of its size, as an Image.
Image Drawn(const TGraphic& g) {
  TBitmap canvas(g.Width(), g.Height());
  g.Draw(canvas, 0, 0);
  return Image{canvas.Width(), canvas.Height(), canvas.Pixels()};
}

std::vector<std::array<uint8_t, 3>> Palette(int n) {
  std::vector<std::array<uint8_t, 3>> p;
  for (int i = 0; i < n; ++i)
    p.push_back({static_cast<uint8_t>(i * 37 + 11), static_cast<uint8_t>(255 - i * 13),
                 static_cast<uint8_t>(i * i * 7 + 3)});
  return p;
}

// A bitmap whose pixels use the palette's entries in turn, or colours of their own.
Dib Pattern(int width, int height, int bits, int paletteSize = 0) {
  Dib d;
  d.width = width;
  d.height = height;
  d.bits = bits;
  if (bits <= 8) {
    d.palette = Palette(paletteSize ? paletteSize : 1 << bits);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        d.indices.push_back(static_cast<uint8_t>((x * 7 + y * 3) % d.palette.size()));
  } else {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        d.colors.push_back({static_cast<uint8_t>(x * 40 + 10), static_cast<uint8_t>(y * 60 + 5),
                            static_cast<uint8_t>((x * y * 13) % 256),
                            static_cast<uint8_t>(x * 50)});
  }
  return d;
}

Dib With(Dib d, const std::function<void(Dib&)>& change) {
  change(d);
  return d;
}

std::string Patch(std::string s, size_t at, const std::string& bytes) {
  s.replace(at, bytes.size(), bytes);
  return s;
}

bool Tool(const char* name) {
  return sv::test::HasCommand(name);
}

#define SV_REQUIRE_JPEG_TOOLS()                                                                 \
  do {                                                                                          \
    if (!Tool("cjpeg") || !Tool("djpeg"))                                                       \
      GTEST_SKIP() << "cjpeg / djpeg not found (libjpeg-turbo-progs, scripts/install-deps.sh)"; \
  } while (0)

// cjpeg of the picture with the options; the JPEG file's bytes.
std::string Cjpeg(const TempDir& tmp, const Image& img, std::vector<std::string> options) {
  sv::test::WriteFile(tmp / "in.ppm", MakePpm(img));
  std::vector<std::string> argv = {"cjpeg"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {"-outfile", tmp / "out.jpg", tmp / "in.ppm"});
  sv::test::CommandResult r = RunCommand(argv);
  if (r.exitCode != 0) throw std::runtime_error("cjpeg failed: " + r.err);
  return sv::test::ReadFile(tmp / "out.jpg");
}

// djpeg of a file with the options; its output's bytes.
std::string Djpeg(const TempDir& tmp, const std::string& file, std::vector<std::string> options) {
  std::vector<std::string> argv = {"djpeg"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {"-outfile", tmp / "djpeg.out", file});
  sv::test::CommandResult r = RunCommand(argv);
  if (r.exitCode != 0) throw std::runtime_error("djpeg failed: " + r.err);
  return sv::test::ReadFile(tmp / "djpeg.out");
}

// Restores the picture size limit when it goes.
struct LimitScope {
  int64_t saved = PictureSizeLimit();
  ~LimitScope() { SetPictureSizeLimit(saved); }
};

}  // namespace

// ---- Bitmaps ----

TEST(BitmapLoading, EveryDepthAndHeaderGivesItsPixels) {
  struct Case {
    const char* name;
    Dib dib;
  };
  const Case cases[] = {
      {"1 bit, 17 pixels wide (rows padded to 4 bytes)", Pattern(17, 3, 1)},
      {"4 bits, whole palette", Pattern(5, 3, 4)},
      {"4 bits, 6 colours used", With(Pattern(5, 3, 4, 6), [](Dib& d) { d.colorsUsed = 6; })},
      {"8 bits, whole palette", Pattern(3, 2, 8)},
      {"8 bits, 5 colours used", With(Pattern(3, 2, 8, 5), [](Dib& d) { d.colorsUsed = 5; })},
      {"8 bits, top-down", With(Pattern(3, 4, 8), [](Dib& d) { d.topDown = true; })},
      {"8 bits, core header", With(Pattern(3, 2, 8), [](Dib& d) { d.headerSize = 12; })},
      {"1 bit, core header", With(Pattern(9, 2, 1), [](Dib& d) { d.headerSize = 12; })},
      {"24 bits (rows of 9 bytes padded to 12)", Pattern(3, 2, 24)},
      {"24 bits, top-down", With(Pattern(3, 2, 24), [](Dib& d) { d.topDown = true; })},
      {"24 bits, V5 header", With(Pattern(4, 3, 24), [](Dib& d) { d.headerSize = 124; })},
      {"24 bits, core header", With(Pattern(2, 2, 24), [](Dib& d) { d.headerSize = 12; })},
      {"32 bits, fourth byte ignored", Pattern(3, 2, 32)},
      {"32 bits, top-down", With(Pattern(3, 2, 32), [](Dib& d) { d.topDown = true; })},
      {"32 bits, bit fields behind the header",
       With(Pattern(3, 2, 32), [](Dib& d) { d.bitFields = true; })},
      {"32 bits, V4 header, bit fields in R G B byte order", With(Pattern(3, 2, 32),
                                                                  [](Dib& d) {
                                                                    d.headerSize = 108;
                                                                    d.bitFields = true;
                                                                    d.masks[0] = 0x000000FF;
                                                                    d.masks[1] = 0x0000FF00;
                                                                    d.masks[2] = 0x00FF0000;
                                                                  })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap bmp;
    LoadBytes(bmp, MakeBmp(c.dib));
    EXPECT_EQ(bmp.Width(), c.dib.width);
    EXPECT_EQ(bmp.Height(), c.dib.height);
    EXPECT_EQ(MaxDifference(Image{bmp.Width(), bmp.Height(), bmp.Pixels()}, c.dib.Expected()), 0);
  }
}

TEST(BitmapLoading, BmpsWrittenByDjpegMatchItsPpm) {
  SV_REQUIRE_JPEG_TOOLS();
  TempDir tmp;
  const std::string jpeg = tmp / "src.jpg";
  sv::test::WriteFile(jpeg, Cjpeg(tmp, TestPicture(41, 27), {"-quality", "80"}));
  struct Case {
    const char* name;
    std::vector<std::string> bmp, ppm;
  };
  const Case cases[] = {
      {"24 bits", {"-bmp"}, {"-pnm"}},
      {"8 bits, quantised", {"-bmp", "-colors", "200"}, {"-pnm", "-colors", "200"}},
      {"8 bits, grey palette", {"-bmp", "-grayscale"}, {"-pnm", "-grayscale"}},
      {"OS/2 24 bits", {"-os2"}, {"-pnm"}},
      {"OS/2 8 bits", {"-os2", "-colors", "16"}, {"-pnm", "-colors", "16"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bmpBytes = Djpeg(tmp, jpeg, c.bmp);
    const Image expected = ReadPnm(Djpeg(tmp, jpeg, c.ppm));
    TBitmap bmp;
    LoadBytes(bmp, bmpBytes);
    EXPECT_EQ(MaxDifference(Image{bmp.Width(), bmp.Height(), bmp.Pixels()}, expected), 0);
  }
}

TEST(BitmapLoading, SizeDrawAndScanLines) {
  TBitmap b(2, 1);
  EXPECT_EQ(b.Pixels(), std::vector<uint8_t>(6, 255));  // a new bitmap is white
  b.ScanLine(0)[0] = 1;
  b.ScanLine(0)[5] = 2;
  b.SetSize(3, 2);  // what was there stays, the rest is white
  EXPECT_EQ(b.Pixels(), (std::vector<uint8_t>{1, 255, 255, 255, 255, 2, 255, 255, 255,  //
                                              255, 255, 255, 255, 255, 255, 255, 255, 255}));
  EXPECT_THROW(b.ScanLine(2), EInvalidGraphic);
  EXPECT_THROW(b.ScanLine(-1), EInvalidGraphic);
  EXPECT_THROW(b.SetSize(-1, 2), EInvalidGraphic);

  // Drawing is clipped to the canvas on every side.
  TBitmap canvas(2, 2);
  TBitmap dot(3, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      std::memset(dot.ScanLine(y) + x * 3, y * 3 + x, 3);
  dot.Draw(canvas, -1, -1);  // pixels (1,1) .. (2,2) of dot land on the canvas
  EXPECT_EQ(canvas.ScanLine(0)[0], 4);
  EXPECT_EQ(canvas.ScanLine(1)[3], 8);
  dot.Draw(canvas, 5, 0);  // wholly outside: nothing changes
  EXPECT_EQ(canvas.ScanLine(0)[3], 5);
  canvas.Draw(canvas, 1, 0);  // onto itself
  EXPECT_EQ(canvas.ScanLine(0)[3], 4);
}

// ---- Icons ----

TEST(IconLoading, MasksAndAlphaAreDrawnOverWhite) {
  // 4 bits with a mask: masked pixels with black let the white through; one masked pixel with a
  // colour inverts what is below it, as the screen does.
  Dib masked = Pattern(16, 16, 4);
  masked.palette[0] = {0, 0, 0};
  masked.andMask.assign(256, 0);
  for (int i = 0; i < 256; ++i)
    if (i % 3 == 0) {
      masked.andMask[i] = 1;
      masked.indices[i] = 0;
    }
  masked.indices[3] = 5;  // masked, not black
  Image maskedExpected = masked.Expected();
  for (int i = 0; i < 256; ++i)
    if (masked.andMask[i])
      for (int k = 0; k < 3; ++k)
        maskedExpected.rgb[i * 3 + k] = static_cast<uint8_t>(255 ^ maskedExpected.rgb[i * 3 + k]);

  // 32 bits with alpha: blended over white; the mask is not used.
  Dib alpha = Pattern(8, 8, 32);
  const uint8_t alphas[] = {0, 255, 128, 64};
  for (size_t i = 0; i < alpha.colors.size(); ++i)
    alpha.colors[i][3] = alphas[i % 4];
  alpha.andMask.assign(64, 1);
  Image alphaExpected = alpha.Expected();
  for (size_t i = 0; i < alpha.colors.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      const unsigned a = alpha.colors[i][3];
      alphaExpected.rgb[i * 3 + k] =
          static_cast<uint8_t>((alpha.colors[i][k] * a + 255 * (255 - a) + 127) / 255);
    }

  // 32 bits with every alpha 0: the mask decides.
  Dib noAlpha = Pattern(4, 4, 32);
  for (auto& c : noAlpha.colors)
    c[3] = 0;
  noAlpha.andMask.assign(16, 0);
  noAlpha.andMask[5] = 1;
  noAlpha.colors[5] = {0, 0, 0, 0};
  Image noAlphaExpected = noAlpha.Expected();
  std::memset(&noAlphaExpected.rgb[15], 255, 3);

  struct Case {
    const char* name;
    Dib dib;
    Image expected;
  };
  const Case cases[] = {{"4 bits with a mask", masked, maskedExpected},
                        {"32 bits with alpha", alpha, alphaExpected},
                        {"32 bits without alpha", noAlpha, noAlphaExpected}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIcon icon;
    LoadBytes(icon, MakeIco({{c.dib.width, c.dib.height, c.dib.IconImage()}}));
    EXPECT_EQ(icon.Width(), c.dib.width);
    EXPECT_EQ(icon.Height(), c.dib.height);
    EXPECT_EQ(MaxDifference(Drawn(icon), c.expected), 0);
  }
}

TEST(IconLoading, TakesTheImageNearest32PixelsWithTheMostColours) {
  auto image = [](int size, int bits) {
    Dib d = Pattern(size, size, bits);
    d.andMask.assign(static_cast<size_t>(size) * size, 0);
    return d;
  };
  const Dib chosen = image(32, 8);
  const std::string png = "\x89PNG\r\n\x1A\n not decoded";
  const std::string file = MakeIco({{16, 16, image(16, 8).IconImage()},
                                    {32, 32, image(32, 4).IconImage()},
                                    {0, 0, png},
                                    {32, 32, chosen.IconImage()},
                                    {48, 48, image(48, 32).IconImage()}});
  TIcon icon;
  LoadBytes(icon, file);
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(MaxDifference(Drawn(icon), chosen.Expected()), 0);

  // Only PNG images: nothing this library can draw.
  TIcon pngOnly;
  try {
    LoadBytes(pngOnly, MakeIco({{0, 0, png}}));
    ADD_FAILURE() << "a PNG-only icon was taken";
  } catch (const EUnsupportedImageError& e) {
    EXPECT_EQ(e.Message(), "Unsupported image format (TIcon: PNG images)");
  }
}

// ---- JPEG pictures ----

TEST(JpegLoading, MatchesLibjpegsOwnDecode) {
  SV_REQUIRE_JPEG_TOOLS();
  TempDir tmp;
  const Image source = TestPicture(37, 23);  // partial blocks on both edges
  struct Case {
    const char* name;
    std::vector<std::string> options;
    bool grey;
  };
  const Case cases[] = {
      {"baseline, 4:2:0", {"-quality", "90"}, false},
      {"progressive", {"-progressive"}, false},
      {"4:4:4, optimised tables, restart markers",
       {"-sample", "1x1", "-optimize", "-restart", "1B"},
       false},
      {"grey", {"-grayscale"}, true},
      {"RGB without colour transform", {"-rgb"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string jpeg = Cjpeg(tmp, source, c.options);
    sv::test::WriteFile(tmp / "t.jpg", jpeg);
    const Image reference = ReadPnm(Djpeg(tmp, tmp / "t.jpg", {"-pnm"}));
    TJPEGImage pic;
    LoadBytes(pic, jpeg);
    EXPECT_EQ(pic.Width(), 37);
    EXPECT_EQ(pic.Height(), 23);
    EXPECT_EQ(pic.Grayscale(), c.grey);
    EXPECT_LE(MaxDifference(Drawn(pic), reference), 1);
  }
}

TEST(JpegLoading, CmykAndYcckBecomeRgb) {
  // Two flat halves of known inks; Adobe files hold the inks inverted.
  const uint8_t inks[2][4] = {{0, 255, 255, 0}, {40, 100, 0, 60}};
  auto samples = [&](bool inverted) {
    std::vector<uint8_t> s;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 32; ++x)
        for (int k = 0; k < 4; ++k)
          s.push_back(static_cast<uint8_t>(inverted ? 255 - inks[x / 16][k] : inks[x / 16][k]));
    return s;
  };
  struct Case {
    const char* name;
    J_COLOR_SPACE stored;
    bool adobe;
  };
  const Case cases[] = {{"Adobe CMYK", JCS_CMYK, true},
                        {"Adobe YCCK", JCS_YCCK, true},
                        {"CMYK without the Adobe marker", JCS_CMYK, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TJPEGImage pic;
    LoadBytes(pic, MakeJpeg(32, 16, 4, JCS_CMYK, c.stored, samples(c.adobe), c.adobe, 100));
    const Image img = Drawn(pic);
    for (int half = 0; half < 2; ++half) {
      const uint8_t* p = img.At(half * 16 + 8, 8);
      for (int k = 0; k < 3; ++k) {
        const int expected = (255 - inks[half][k]) * (255 - inks[half][3]) / 255;
        EXPECT_NEAR(p[k], expected, 3) << "half " << half << " channel " << k;
      }
    }
  }
}

// ---- Damaged and hostile files ----

TEST(PictureLoading, DamagedAndHostileFilesAreRefusedAndChangeNothing) {
  enum Kind { kBmp, kIco, kJpeg };
  enum Outcome { kInvalid, kJpegError, kUnsupported };
  const std::string bmp = MakeBmp(Pattern(4, 4, 8));
  const std::string bmp32 = MakeBmp(With(Pattern(2, 2, 32), [](Dib& d) { d.bitFields = true; }));
  Dib iconImage = Pattern(4, 4, 4);
  iconImage.andMask.assign(16, 0);
  const std::string icon = iconImage.IconImage();
  const std::string ico = MakeIco({{4, 4, icon}});
  const std::string jpeg = MakeJpeg(48, 32, 3, JCS_RGB, JCS_YCbCr, TestPicture(48, 32).rgb);
  const size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  std::vector<uint8_t> two(16 * 16 * 2, 99);

  struct Case {
    const char* name;
    Kind kind;
    std::string bytes;
    Outcome outcome;
  };
  const Case cases[] = {
      {"empty BMP", kBmp, "", kInvalid},
      {"no BM", kBmp, Patch(bmp, 0, "XY"), kInvalid},
      {"cut in the file header", kBmp, bmp.substr(0, 10), kInvalid},
      {"cut in the info header", kBmp, bmp.substr(0, 30), kInvalid},
      {"cut in the palette", kBmp, bmp.substr(0, 64), kInvalid},
      {"cut in the pixels", kBmp, bmp.substr(0, bmp.size() - 1), kInvalid},
      {"a huge declared size", kBmp, Patch(Patch(bmp, 18, Le32(100000)), 22, Le32(100000)),
       kInvalid},
      {"a large declared size without its pixels", kBmp,
       Patch(Patch(bmp, 18, Le32(8000)), 22, Le32(8000)), kInvalid},
      {"no width", kBmp, Patch(bmp, 18, Le32(0)), kInvalid},
      {"no height", kBmp, Patch(bmp, 22, Le32(0)), kInvalid},
      {"the most negative height", kBmp, Patch(bmp, 22, Le32(0x80000000u)), kInvalid},
      {"a negative width", kBmp, Patch(bmp, 18, Le32(0xFFFFFFFCu)), kInvalid},
      {"300 colours for 8 bits", kBmp, Patch(bmp, 46, Le32(300)), kInvalid},
      {"a colour index beyond the palette", kBmp, Patch(bmp, 46, Le32(2)), kInvalid},
      {"an empty colour mask", kBmp, Patch(bmp32, 54, Le32(0)), kInvalid},
      {"a colour mask with a gap", kBmp, Patch(bmp32, 54, Le32(0x00FF00FF)), kInvalid},
      {"colour masks with 24 bits", kBmp, Patch(Patch(bmp, 28, Le16(24)), 30, Le32(3)), kInvalid},
      {"7 bits per pixel", kBmp, Patch(bmp, 28, Le16(7)), kInvalid},
      {"two colour planes", kBmp, Patch(bmp, 26, Le16(2)), kInvalid},
      {"a header of 20 bytes", kBmp, Patch(bmp, 14, Le32(20)), kInvalid},
      {"pixels inside the headers", kBmp, Patch(bmp, 10, Le32(20)), kInvalid},
      {"pixels beyond the file", kBmp, Patch(bmp, 10, Le32(1000000000)), kInvalid},
      {"16 bits per pixel", kBmp, Patch(bmp, 28, Le16(16)), kUnsupported},
      {"run-length rows", kBmp, Patch(bmp, 30, Le32(1)), kUnsupported},
      {"JPEG rows", kBmp, Patch(bmp, 30, Le32(4)), kUnsupported},
      {"an OS/2 2.x header", kBmp, Patch(bmp, 14, Le32(64)), kUnsupported},

      {"empty ICO", kIco, "", kInvalid},
      {"a cursor file", kIco, Patch(ico, 2, Le16(2)), kInvalid},
      {"no image", kIco, Patch(ico, 4, Le16(0)), kInvalid},
      {"cut in the directory", kIco, ico.substr(0, 12), kInvalid},
      {"an image beyond the file", kIco, Patch(ico, 18, Le32(100000)), kInvalid},
      {"an image longer than the file", kIco, Patch(ico, 14, Le32(100000)), kInvalid},
      {"an odd image height", kIco, Patch(ico, 22 + 8, Le32(7)), kInvalid},
      {"cut in the mask", kIco, MakeIco({{4, 4, icon.substr(0, icon.size() - 4)}}), kInvalid},
      {"cut in the palette", kIco, MakeIco({{4, 4, icon.substr(0, 60)}}), kInvalid},
      {"cut in the colours", kIco, MakeIco({{4, 4, icon.substr(0, 108)}}), kInvalid},
      {"a huge declared size", kIco, Patch(Patch(ico, 22 + 4, Le32(60000)), 22 + 8, Le32(120000)),
       kInvalid},
      {"a compressed image", kIco, Patch(Patch(ico, 22 + 14, Le16(32)), 22 + 16, Le32(3)),
       kInvalid},
      {"16 bits per pixel", kIco, Patch(ico, 22 + 14, Le16(16)), kUnsupported},

      {"empty JPEG", kJpeg, "", kJpegError},
      {"no JPEG at all", kJpeg, bmp, kJpegError},
      {"cut in half", kJpeg, jpeg.substr(0, jpeg.size() / 2), kJpegError},
      {"cut in the last rows", kJpeg, jpeg.substr(0, jpeg.size() - 40), kJpegError},
      {"cut after the frame header", kJpeg, jpeg.substr(0, sof + 19), kJpegError},
      {"a huge declared size", kJpeg, Patch(jpeg, sof + 5, "\xFD\xE8\xFD\xE8"), kInvalid},
      {"two colour components", kJpeg, MakeJpeg(16, 16, 2, JCS_UNKNOWN, JCS_UNKNOWN, two),
       kUnsupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap b;
    TIcon i;
    TJPEGImage j;
    LoadBytes(b, bmp);
    LoadBytes(i, ico);
    LoadBytes(j, jpeg);
    TGraphic& g = c.kind == kBmp   ? static_cast<TGraphic&>(b)
                  : c.kind == kIco ? static_cast<TGraphic&>(i)
                                   : static_cast<TGraphic&>(j);
    const Image before = Drawn(g);
    Outcome got = kInvalid;
    bool raised = true;
    std::string message;
    try {
      LoadBytes(g, c.bytes);
      raised = false;
    } catch (const EJPEG& e) {
      got = kJpegError;
      message = e.Message();
    } catch (const EInvalidGraphic& e) {
      got = kInvalid;
      message = e.Message();
    } catch (const EUnsupportedImageError& e) {
      got = kUnsupported;
      message = e.Message();
    }
    ASSERT_TRUE(raised) << "taken as a picture";
    EXPECT_EQ(got, c.outcome) << message;
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(MaxDifference(Drawn(g), before), 0) << "the picture changed";
  }
}

TEST(PictureLoading, TheSizeLimitIsASetting) {
  LimitScope scope;
  SetPictureSizeLimit(100);
  TBitmap b;
  LoadBytes(b, MakeBmp(Pattern(10, 10, 24)));
  EXPECT_EQ(b.Width(), 10);
  EXPECT_THROW(LoadBytes(b, MakeBmp(Pattern(20, 10, 24))), EInvalidGraphic);
  EXPECT_THROW(b.SetSize(11, 10), EInvalidGraphic);
  std::vector<uint8_t> grey(16 * 16, 7);
  TJPEGImage j;
  EXPECT_THROW(LoadBytes(j, MakeJpeg(16, 16, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, grey)),
               EInvalidGraphic);
  EXPECT_THROW(SetPictureSizeLimit(0), rtl::Exception);
}

TEST(PictureLoading, FilesAndMetafiles) {
  TempDir tmp;
  sv::test::WriteFile(tmp / "a.bmp", MakeBmp(Pattern(3, 2, 24)));
  TBitmap b;
  b.LoadFromFile(tmp / "a.bmp");
  EXPECT_EQ(b.Width(), 3);
  EXPECT_THROW(b.LoadFromFile(tmp / "missing.bmp"), rtl::EFOpenError);

  // Metafiles have no renderer: loading and drawing say so with the class name.
  TMetafile m;
  EXPECT_EQ(m.ClassName(), "TMetafile");
  for (const std::function<void()>& f :
       {std::function<void()>([&] { m.LoadFromFile(tmp / "a.bmp"); }),
        std::function<void()>([&] { m.Draw(b, 0, 0); })}) {
    try {
      f();
      ADD_FAILURE() << "a metafile was taken";
    } catch (const EUnsupportedImageError& e) {
      EXPECT_EQ(e.Message(), "Unsupported image format (TMetafile)");
    }
  }
}
