// The page resources that stamping adds, measured one by one: a JPEG picture of 2000 × 1500
// pixels read (decoded by libjpeg) and made into an image XObject of a one-page document (drawn
// onto a bitmap, turned into RGB samples and deflated); and a Type0 font resource of IPAGothic
// ("MS Gothic") embedding a subset for a Japanese text of 2,000 characters (the font measured,
// its maps read, the text encoded, the subset built and deflated with the font's /W and
// ToUnicode CMap). Each round runs in a child process of its own, so that its peak memory is its
// own; an idle child that holds the same input shows what the process needs without the work.
// The font's rounds time a first resource (the font layer's start-up included) and a second one
// of the same font in the same process. Prints the sizes of the inputs and of what was made,
// the best and the median time and the peak memory.
//
// Usage: bench_StampResourcesBench [--rounds N] [JPEG-FILE]
// Without a file: a photo-like 2000 × 1500 picture compressed by libjpeg at quality 85 (4:2:0).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pdf/document/zoGraphics.h"
#include "pdf/document/zoPDFDoc.h"
#include "pdf/document/zoPDFFont.h"
#include "platform/CodePage.h"
#include "platform/Fonts.h"
#include "platform/RtlClasses.h"

namespace {

// Smooth gradients, a few hard edges and some noise, as a photograph has them.
std::string MakeJpeg(int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  uint32_t seed = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      seed = seed * 1103515245 + 12345;
      const int noise = static_cast<int>((seed >> 16) % 17) - 8;
      const double r = std::hypot(x - width / 2.0, y - height / 2.0);
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(std::clamp(x * 255 / width + noise, 0, 255));
      p[1] = static_cast<uint8_t>(
          std::clamp(static_cast<int>(128 + 100 * std::sin(r / 40)) + noise, 0, 255));
      p[2] = static_cast<uint8_t>(((x / 100 + y / 100) % 2 ? 210 : 60) + noise);
    }
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 85, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = &rgb[static_cast<size_t>(c.next_scanline) * width * 3];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::string jpeg(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&c);
  std::free(buffer);
  return jpeg;
}

struct Result {
  double readSeconds = 0;
  double addSeconds = 0;
  double secondSeconds = 0;  // the font's second resource
  long peakKiB = 0;
  int64_t streamBytes = 0;  // the image's or the font file's Flate data
  int64_t rawBytes = 0;     // the font file before deflating (/Length1)
  int64_t toUnicodeBytes = 0;
  int32_t width = 0;
  int32_t height = 0;
};

enum class Work { kIdle, kJpeg, kFont };

// Stamp font and text of the font rounds.
struct FontInput {
  ui::TFont font;
  std::string text;  // code page 932
};

// The size of the data of the stream that ref (or entry key of ref's dictionary) refers to.
int64_t StreamSize(TzoPDFObjectStore& store, TzoPDFObject* ref) {
  const TzoPDFIndirectObject* obj = ref ? store.Find(ref) : nullptr;
  const TzoPDFObject* direct = obj ? obj->DirectObject() : nullptr;
  return direct && direct->AsStream() ? direct->AsStream()->Data()->Size() : 0;
}

// One round in a child process.
Result InChild(const std::string& jpeg, const FontInput& font, Work work) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(2);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Result r;
    auto doc = TzoPDFDocument::Create();
    using Clock = std::chrono::steady_clock;
    if (work == Work::kJpeg) {
      const auto t0 = Clock::now();
      TJPEGImage picture;
      rtl::TMemoryStream mem(jpeg);
      picture.LoadFromStream(mem);
      const auto t1 = Clock::now();
      std::unique_ptr<TzoPDFIndirectReference> ref = doc->AddImageResource(picture, "/RVNImg1");
      const auto t2 = Clock::now();
      r.readSeconds = std::chrono::duration<double>(t1 - t0).count();
      r.addSeconds = std::chrono::duration<double>(t2 - t1).count();
      r.width = picture.Width();
      r.height = picture.Height();
      const TzoPDFIndirectObject* obj = doc->InputStore().Find(ref.get());
      r.streamBytes = obj->DirectObject()->AsStream()->Data()->Size();
    } else if (work == Work::kFont) {
      const auto t0 = Clock::now();
      std::unique_ptr<TzoPDFIndirectReference> ref =
          doc->AddFontResource(font.font, "/RVNFnt1", font.text, 0, 2);
      const auto t1 = Clock::now();
      doc->AddFontResource(font.font, "/RVNFnt2", font.text, 0, 2);
      const auto t2 = Clock::now();
      r.addSeconds = std::chrono::duration<double>(t1 - t0).count();
      r.secondSeconds = std::chrono::duration<double>(t2 - t1).count();
      TzoPDFObjectStore& store = doc->InputStore();
      TzoPDFDictObject* type0 = store.Find(ref.get())->DirectObject()->AsDict();
      TzoPDFDictObject* cid =
          store.GetDict(store.GetArray(type0->GetValue("/DescendantFonts"))->GetItem(0));
      TzoPDFDictObject* descriptor = store.GetDict(cid->GetValue("/FontDescriptor"));
      TzoPDFObject* file = descriptor->GetValue("/FontFile2");
      r.streamBytes = StreamSize(store, file);
      const TzoPDFObject* length1 =
          store.Find(file)->DirectObject()->AsStream()->Dict()->GetValue("/Length1");
      r.rawBytes = length1 && length1->AsInteger() ? length1->AsInteger()->Value() : 0;
      r.toUnicodeBytes = StreamSize(store, type0->GetValue("/ToUnicode"));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    r.peakKiB = usage.ru_maxrss;
    const bool ok = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  Result r;
  const bool ok = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "the measuring child failed\n");
    std::exit(1);
  }
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else
      file = a;
  }
  std::string jpeg;
  if (file.empty()) {
    jpeg = MakeJpeg(2000, 1500);
  } else {
    std::ifstream f(file, std::ios::binary);
    jpeg.assign(std::istreambuf_iterator<char>(f), {});
    if (jpeg.empty()) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
  }

  // 2,000 characters that IPAGothic has and code page 932 holds: the kana, then kanji from
  // U+4E00.
  platform::FontRequest request;
  request.family = "IPAGothic";
  request.charset = ui::SHIFTJIS_CHARSET;
  std::unique_ptr<platform::FontFace> face = platform::FontFace::Find(request);
  if (!face || face->FamilyName() != "IPAGothic") {
    std::fprintf(stderr, "IPAGothic is not installed (fonts-ipafont-gothic)\n");
    return 2;
  }
  const std::string fontFile = face->FilePath();
  std::u16string text;
  auto take = [&](char16_t from, char16_t to) {
    for (char16_t c = from; c <= to && text.size() < 2000; ++c) {
      const std::u16string one(1, c);
      if (face->GlyphIndex(c) != 0 && platform::AnsiToWide(platform::WideToAnsi(one)) == one)
        text += c;
    }
  };
  take(0x3041, 0x3096);
  take(0x30A1, 0x30FA);
  take(0x4E00, 0x9FFF);
  face.reset();
  FontInput font;
  font.font.SetName("MS Gothic");
  font.font.SetSize(24);
  font.font.SetCharset(ui::SHIFTJIS_CHARSET);
  font.text = platform::WideToAnsi(text);

  const Result idle = InChild(jpeg, font, Work::kIdle);
  std::vector<double> reads, adds, totals, fontFirst, fontSecond;
  long peak = 0, fontPeak = 0;
  Result last, lastFont;
  for (int i = 0; i < rounds; ++i) {
    last = InChild(jpeg, font, Work::kJpeg);
    reads.push_back(last.readSeconds);
    adds.push_back(last.addSeconds);
    totals.push_back(last.readSeconds + last.addSeconds);
    peak = std::max(peak, last.peakKiB);
    lastFont = InChild(jpeg, font, Work::kFont);
    fontFirst.push_back(lastFont.addSeconds);
    fontSecond.push_back(lastFont.secondSeconds);
    fontPeak = std::max(fontPeak, lastFont.peakKiB);
  }
  const double rgbMiB = static_cast<double>(last.width) * last.height * 3 / (1 << 20);
  std::printf("JPEG picture %d x %d pixels, %zu bytes (%.2f MiB as RGB samples)\n", last.width,
              last.height, jpeg.size(), rgbMiB);
  std::printf("image XObject: %lld bytes of Flate data (%.1f %% of the samples)\n",
              static_cast<long long>(last.streamBytes),
              100.0 * static_cast<double>(last.streamBytes) / (rgbMiB * (1 << 20)));
  std::printf("%d rounds, each in a child process of its own\n", rounds);
  std::printf("  read (libjpeg decode)        best %7.1f ms   median %7.1f ms\n",
              *std::min_element(reads.begin(), reads.end()) * 1000, Median(reads) * 1000);
  std::printf("  add (draw, RGB, deflate)     best %7.1f ms   median %7.1f ms\n",
              *std::min_element(adds.begin(), adds.end()) * 1000, Median(adds) * 1000);
  std::printf("  read and add                 best %7.1f ms   median %7.1f ms\n",
              *std::min_element(totals.begin(), totals.end()) * 1000, Median(totals) * 1000);
  std::printf("peak memory: %.1f MiB (%.1f MiB above the idle child)\n", peak / 1024.0,
              (peak - idle.peakKiB) / 1024.0);

  const double fileMiB = static_cast<double>(std::filesystem::file_size(fontFile)) / (1 << 20);
  std::printf("\nfont: %s (%.2f MiB), subset Type0 resource for %zu characters\n", fontFile.c_str(),
              fileMiB, text.size());
  std::printf("font file: %lld bytes as subset, %lld bytes of Flate data; ToUnicode %lld bytes\n",
              static_cast<long long>(lastFont.rawBytes),
              static_cast<long long>(lastFont.streamBytes),
              static_cast<long long>(lastFont.toUnicodeBytes));
  std::printf("  first resource (font layer start-up included)  best %7.1f ms   median %7.1f ms\n",
              *std::min_element(fontFirst.begin(), fontFirst.end()) * 1000,
              Median(fontFirst) * 1000);
  std::printf("  second resource of the same font                best %7.1f ms   median %7.1f ms\n",
              *std::min_element(fontSecond.begin(), fontSecond.end()) * 1000,
              Median(fontSecond) * 1000);
  std::printf("peak memory: %.1f MiB (%.1f MiB above the idle child, %.1f times the font file)\n",
              fontPeak / 1024.0, (fontPeak - idle.peakKiB) / 1024.0,
              (fontPeak - idle.peakKiB) / 1024.0 / fileMiB);
  return 0;
}
