#include "pdf/document/zoGraphics.h"

// jpeglib.h needs FILE and size_t before it.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <array>
#include <atomic>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/document/zoCstPDFDoc.h"

namespace {

std::atomic<int64_t> gPictureSizeLimit{kDefaultPictureSizeLimit};

constexpr const char* kInvalidBitmap = "Bitmap image is not valid";
constexpr const char* kInvalidIcon = "Icon image is not valid";

[[noreturn]] void Invalid(const char* what, const std::string& why) {
  throw EInvalidGraphic(std::string(what) + ": " + why);
}

[[noreturn]] void Unsupported(const std::string& what) {
  RaiseMsg<EUnsupportedImageError>(SUnsupportedImage, what);
}

// Width × height within 1 .. PictureSizeLimit pixels.
void CheckPictureSize(int64_t width, int64_t height, const char* what) {
  if (width <= 0 || height <= 0)
    Invalid(what, rtl::Format("a size of %d x %d pixels", width, height));
  const int64_t limit = PictureSizeLimit();
  if (width > limit || height > limit || width * height > limit)
    Invalid(what,
            rtl::Format("%d x %d pixels exceed the limit of %d pixels", width, height, limit));
}

// The rest of the stream, refused once it is longer than any picture within the size limit can
// be (four bytes a pixel and room for headers, palettes and profiles).
std::string ReadPictureBytes(rtl::TStream& stream, const char* what) {
  const int64_t cap = PictureSizeLimit() * 4 + (int64_t{16} << 20);
  std::string data;
  char chunk[65536];
  for (;;) {
    const int64_t n = stream.Read(chunk, sizeof chunk);
    if (n <= 0) break;
    if (static_cast<int64_t>(data.size()) + n > cap)
      Invalid(what, rtl::Format("the file is larger than %d bytes", cap));
    data.append(chunk, static_cast<size_t>(n));
  }
  return data;
}

// Little-endian reads within the bytes of a picture file; a read past the end raises
// EInvalidGraphic "<what>: the file ends inside <part>".
class ByteView {
 public:
  ByteView(std::string_view data, const char* what) : data_(data), what_(what) {}

  uint64_t Size() const { return data_.size(); }
  bool Has(uint64_t offset, uint64_t count) const {
    return offset <= data_.size() && count <= data_.size() - offset;
  }
  void Need(uint64_t offset, uint64_t count, const char* part) const {
    if (!Has(offset, count)) Invalid(what_, std::string("the file ends inside ") + part);
  }
  const uint8_t* At(uint64_t offset) const {
    return reinterpret_cast<const uint8_t*>(data_.data()) + offset;
  }
  uint8_t U8(uint64_t offset) const { return *At(offset); }
  uint16_t U16(uint64_t offset) const {
    const uint8_t* p = At(offset);
    return static_cast<uint16_t>(p[0] | p[1] << 8);
  }
  uint32_t U32(uint64_t offset) const {
    const uint8_t* p = At(offset);
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  }
  int32_t I32(uint64_t offset) const { return static_cast<int32_t>(U32(offset)); }
  const char* What() const { return what_; }
  ByteView Sub(uint64_t offset, uint64_t count) const {
    return ByteView(data_.substr(offset, count), what_);
  }

 private:
  std::string_view data_;
  const char* what_;
};

// ---- Device-independent bitmaps (BMP files and the images of ICO files) ----

constexpr uint32_t kBI_RGB = 0;
constexpr uint32_t kBI_RLE8 = 1;
constexpr uint32_t kBI_RLE4 = 2;
constexpr uint32_t kBI_BITFIELDS = 3;

// One channel of a 32-bit bit-field pixel: its mask's shift and width.
struct BitField {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  uint8_t Of(uint32_t pixel) const {
    const uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
    const uint32_t most = (1u << bits) - 1;
    return static_cast<uint8_t>((v * 255 + most / 2) / most);
  }
};

BitField FieldOf(uint32_t mask, const char* what) {
  if (mask == 0) Invalid(what, "a colour mask is empty");
  BitField f;
  f.mask = mask;
  while (!(mask & 1)) {
    mask >>= 1;
    ++f.shift;
  }
  while (mask & 1) {
    mask >>= 1;
    ++f.bits;
  }
  if (mask != 0) Invalid(what, "a colour mask is not contiguous");
  return f;
}

struct DibInfo {
  int32_t width = 0;
  int32_t height = 0;  // rows of the colour image
  bool topDown = false;
  uint16_t bits = 0;
  bool bitFields = false;
  std::array<BitField, 3> fields;               // R, G, B of a bit-field image
  std::vector<std::array<uint8_t, 3>> palette;  // R, G, B
  uint64_t headerEnd = 0;                       // after the header, its masks and palette
  uint64_t Stride() const { return (static_cast<uint64_t>(width) * bits + 31) / 32 * 4; }
};

// Reads the header at offset (and the masks and palette behind it). For an icon image the height
// counts the colour and the mask rows together and compression must be none.
DibInfo ReadDibHeader(const ByteView& b, uint64_t offset, const std::string& className, bool icon) {
  const char* what = b.What();
  b.Need(offset, 4, "the bitmap header");
  const uint32_t size = b.U32(offset);
  DibInfo d;
  uint32_t compression = kBI_RGB;
  uint32_t colorsUsed = 0;
  int64_t width = 0, height = 0;
  uint16_t planes = 1;
  int paletteEntry = 4;
  if (size == 12) {
    b.Need(offset, 12, "the bitmap header");
    width = b.U16(offset + 4);
    height = b.U16(offset + 6);
    planes = b.U16(offset + 8);
    d.bits = b.U16(offset + 10);
    paletteEntry = 3;
  } else if (size == 40 || size == 52 || size == 56 || size == 108 || size == 124) {
    b.Need(offset, size, "the bitmap header");
    width = b.I32(offset + 4);
    height = b.I32(offset + 8);
    planes = b.U16(offset + 12);
    d.bits = b.U16(offset + 14);
    compression = b.U32(offset + 16);
    colorsUsed = b.U32(offset + 32);
  } else if (size == 16 || size == 64) {
    Unsupported(className + ": OS/2 2.x bitmap header");
  } else {
    Invalid(what, rtl::Format("a bitmap header of %d bytes", size));
  }
  if (planes != 1) Invalid(what, rtl::Format("%d colour planes", planes));
  d.headerEnd = offset + size;

  if (compression == kBI_RLE8 || compression == kBI_RLE4)
    Unsupported(className + ": run-length compressed rows");
  if (compression != kBI_RGB && compression != kBI_BITFIELDS)
    Unsupported(className + rtl::Format(": compression %d", compression));
  if (icon && compression != kBI_RGB) Invalid(what, "a compressed icon image");
  if (d.bits == 16) Unsupported(className + ": 16 bits per pixel");
  if (d.bits != 1 && d.bits != 4 && d.bits != 8 && d.bits != 24 && d.bits != 32)
    Invalid(what, rtl::Format("%d bits per pixel", d.bits));
  if (compression == kBI_BITFIELDS) {
    if (d.bits != 32) Invalid(what, rtl::Format("colour masks with %d bits per pixel", d.bits));
    // The masks stand inside the longer headers, behind the 40-byte one.
    const uint64_t at = offset + 40;
    b.Need(at, 12, "the colour masks");
    for (int i = 0; i < 3; ++i)
      d.fields[i] = FieldOf(b.U32(at + 4 * i), what);
    if (size == 40) d.headerEnd += 12;
    d.bitFields = true;
  }

  if (icon) {
    if (height <= 0 || height % 2 != 0)
      Invalid(what, rtl::Format("an icon image height of %d rows", height));
    height /= 2;
  } else if (height < 0) {
    d.topDown = true;
    height = -height;  // an int32 minimum stays out of range below
  }
  CheckPictureSize(width, height, what);
  d.width = static_cast<int32_t>(width);
  d.height = static_cast<int32_t>(height);

  // The palette: 2^bits entries unless the header says fewer; beyond 8 bits it is only skipped.
  uint64_t entries = colorsUsed;
  if (d.bits <= 8) {
    const uint32_t most = 1u << d.bits;
    if (entries > most)
      Invalid(what, rtl::Format("a palette of %d colours for %d bits per pixel", entries, d.bits));
    if (entries == 0) entries = most;
  }
  b.Need(d.headerEnd, entries * paletteEntry, "the palette");
  if (d.bits <= 8) {
    d.palette.resize(entries);
    for (uint64_t i = 0; i < entries; ++i) {
      const uint8_t* p = b.At(d.headerEnd + i * paletteEntry);
      d.palette[i] = {p[2], p[1], p[0]};
    }
  }
  d.headerEnd += entries * paletteEntry;
  return d;
}

// The colour rows at offset as R, G, B (top row first) into rgb; alpha gets the fourth byte of
// 32-bit pixels when given.
void ReadDibPixels(const ByteView& b, const DibInfo& d, uint64_t offset, std::vector<uint8_t>& rgb,
                   std::vector<uint8_t>* alpha) {
  const uint64_t stride = d.Stride();
  b.Need(offset, stride * static_cast<uint64_t>(d.height), "the pixels");
  const size_t w = static_cast<size_t>(d.width);
  rgb.assign(w * static_cast<size_t>(d.height) * 3, 0);
  if (alpha) alpha->assign(w * static_cast<size_t>(d.height), 0);
  for (int32_t y = 0; y < d.height; ++y) {
    const int32_t fileRow = d.topDown ? y : d.height - 1 - y;
    const uint8_t* src = b.At(offset + static_cast<uint64_t>(fileRow) * stride);
    uint8_t* dst = rgb.data() + static_cast<size_t>(y) * w * 3;
    for (size_t x = 0; x < w; ++x, dst += 3) {
      switch (d.bits) {
        case 1:
        case 4:
        case 8: {
          const size_t bit = x * d.bits;
          const unsigned index = (src[bit / 8] >> (8 - d.bits - bit % 8)) & ((1u << d.bits) - 1);
          if (index >= d.palette.size())
            Invalid(b.What(), rtl::Format("colour index %d beyond a palette of %d colours", index,
                                          d.palette.size()));
          std::memcpy(dst, d.palette[index].data(), 3);
          break;
        }
        case 24:
          dst[0] = src[x * 3 + 2];
          dst[1] = src[x * 3 + 1];
          dst[2] = src[x * 3];
          break;
        case 32: {
          const uint8_t* p = src + x * 4;
          if (d.bitFields) {
            const uint32_t v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                               static_cast<uint32_t>(p[2]) << 16 |
                               static_cast<uint32_t>(p[3]) << 24;
            for (int c = 0; c < 3; ++c)
              dst[c] = d.fields[c].Of(v);
          } else {
            dst[0] = p[2];
            dst[1] = p[1];
            dst[2] = p[0];
            if (alpha) (*alpha)[static_cast<size_t>(y) * w + x] = p[3];
          }
          break;
        }
      }
    }
  }
}

// ---- JPEG decoding through libjpeg ----

constexpr int kMaxJpegScans = 500;

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

// libjpeg's fatal errors come here; the jump goes back to the decoding call, which raises EJPEG.
// Nothing with a destructor may live in the frames the jump leaves (libjpeg's and these).
[[noreturn]] void JpegAbort(j_common_ptr cinfo, const char* text) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::snprintf(err->message, sizeof err->message, "%s", text);
  std::longjmp(err->jump, 1);
}

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  JpegAbort(cinfo, text);
}

void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  // Data that end early are a cut file, not a picture with a grey bottom.
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) JpegErrorExit(cinfo);
  cinfo->err->num_warnings++;
}

void JpegProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxJpegScans) JpegAbort(cinfo, "Too many scans in the JPEG data");
}

// Everything the decoder touches lives here, outside the frame that sets the jump.
struct JpegDecoder {
  jpeg_decompress_struct cinfo{};
  JpegErrorManager err{};
  jpeg_progress_mgr progress{};
  std::vector<uint8_t> row;
  TBitmap bitmap;
  bool grayscale = false;
  ~JpegDecoder() { jpeg_destroy_decompress(&cinfo); }
};

// Ink to light: an Adobe file holds its inks inverted (0 is full ink).
uint8_t CmykToChannel(unsigned ink, unsigned black, bool inverted) {
  if (!inverted) {
    ink = 255 - ink;
    black = 255 - black;
  }
  return static_cast<uint8_t>((ink * black + 127) / 255);
}

// False when libjpeg gave up (its text in d.err.message). Other failures raise.
bool RunJpegDecoder(JpegDecoder& d, const std::string& data) {
  d.cinfo.err = jpeg_std_error(&d.err.pub);
  d.err.pub.error_exit = JpegErrorExit;
  d.err.pub.emit_message = JpegEmitMessage;
  if (setjmp(d.err.jump)) return false;
  jpeg_create_decompress(&d.cinfo);
  d.progress.progress_monitor = JpegProgress;
  d.cinfo.progress = &d.progress;
  d.cinfo.mem->max_memory_to_use = static_cast<long>(PictureSizeLimit() * 8 + (int64_t{64} << 20));
  jpeg_mem_src(&d.cinfo, reinterpret_cast<const unsigned char*>(data.data()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&d.cinfo, TRUE);
  CheckPictureSize(d.cinfo.image_width, d.cinfo.image_height, "JPEG image is not valid");

  bool cmyk = false;
  switch (d.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      d.cinfo.out_color_space = JCS_GRAYSCALE;
      d.grayscale = true;
      break;
    case JCS_RGB:
    case JCS_YCbCr:
      d.cinfo.out_color_space = JCS_RGB;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      d.cinfo.out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default:
      Unsupported(rtl::Format("TJPEGImage: %d colour components", d.cinfo.num_components));
  }
  jpeg_start_decompress(&d.cinfo);
  const int32_t w = static_cast<int32_t>(d.cinfo.output_width);
  const int32_t h = static_cast<int32_t>(d.cinfo.output_height);
  d.bitmap.SetSize(w, h);
  d.row.resize(static_cast<size_t>(w) * static_cast<size_t>(d.cinfo.output_components));
  const bool inverted = d.cinfo.saw_Adobe_marker;
  while (d.cinfo.output_scanline < d.cinfo.output_height) {
    uint8_t* out = d.bitmap.ScanLine(static_cast<int32_t>(d.cinfo.output_scanline));
    JSAMPROW rows[1] = {d.row.data()};
    if (jpeg_read_scanlines(&d.cinfo, rows, 1) != 1)
      JpegAbort(reinterpret_cast<j_common_ptr>(&d.cinfo), "The JPEG data end early");
    const uint8_t* in = d.row.data();
    for (int32_t x = 0; x < w; ++x, out += 3) {
      if (d.grayscale) {
        out[0] = out[1] = out[2] = in[x];
      } else if (cmyk) {
        const uint8_t* p = in + x * 4;
        for (int c = 0; c < 3; ++c)
          out[c] = CmykToChannel(p[c], p[3], inverted);
      } else {
        std::memcpy(out, in + x * 3, 3);
      }
    }
  }
  // Whatever follows the last row (the end marker, trailing bytes) is not read.
  return true;
}

}  // namespace

// ---- The size limit ----

int64_t PictureSizeLimit() {
  return gPictureSizeLimit.load(std::memory_order_relaxed);
}

void SetPictureSizeLimit(int64_t pixels) {
  if (pixels < 1) throw rtl::Exception(rtl::Format("Invalid picture size limit (%d)", pixels));
  gPictureSizeLimit.store(pixels, std::memory_order_relaxed);
}

// ---- TGraphic ----

void TGraphic::LoadFromFile(const std::string& fileName) {
  rtl::TFileStream file(fileName, rtl::TFileStream::fmOpenRead | rtl::TFileStream::fmShareDenyNone);
  LoadFromStream(file);
}

// ---- TBitmap ----

TBitmap::TBitmap(int32_t width, int32_t height) {
  SetSize(width, height);
}

void TBitmap::SetSize(int32_t width, int32_t height) {
  if (width < 0 || height < 0)
    Invalid(kInvalidBitmap, rtl::Format("a size of %d x %d pixels", width, height));
  if (width != 0 && height != 0) CheckPictureSize(width, height, kInvalidBitmap);
  if (width == width_ && height == height_) return;
  const size_t w = static_cast<size_t>(width);
  std::vector<uint8_t> pixels(w * static_cast<size_t>(height) * 3, 255);
  const size_t keepW = static_cast<size_t>(std::min(width, width_)) * 3;
  const int32_t keepH = std::min(height, height_);
  for (int32_t y = 0; y < keepH; ++y)
    std::memcpy(pixels.data() + static_cast<size_t>(y) * w * 3, ScanLine(y), keepW);
  pixels_ = std::move(pixels);
  width_ = width;
  height_ = height;
}

void TBitmap::Assign(const TBitmap& source) {
  if (&source == this) return;
  pixels_ = source.pixels_;
  width_ = source.width_;
  height_ = source.height_;
}

uint8_t* TBitmap::ScanLine(int32_t y) {
  return const_cast<uint8_t*>(std::as_const(*this).ScanLine(y));
}

const uint8_t* TBitmap::ScanLine(int32_t y) const {
  if (y < 0 || y >= height_)
    throw EInvalidGraphic(rtl::Format("Scan line index out of range (%d)", y));
  return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_) * 3;
}

void TBitmap::LoadFromStream(rtl::TStream& stream) {
  const std::string data = ReadPictureBytes(stream, kInvalidBitmap);
  const ByteView b(data, kInvalidBitmap);
  b.Need(0, 14, "the file header");
  if (b.U8(0) != 'B' || b.U8(1) != 'M') Invalid(kInvalidBitmap, "the file does not start with BM");
  const DibInfo d = ReadDibHeader(b, 14, ClassName(), false);
  const uint64_t pixelOffset = b.U32(10);
  if (pixelOffset < d.headerEnd) Invalid(kInvalidBitmap, "the pixels overlap the headers");
  std::vector<uint8_t> rgb;
  ReadDibPixels(b, d, pixelOffset, rgb, nullptr);
  pixels_ = std::move(rgb);
  width_ = d.width;
  height_ = d.height;
}

void TBitmap::Draw(TBitmap& canvas, int32_t x, int32_t y) const {
  if (&canvas == this) {
    const TBitmap copy(*this);
    copy.Draw(canvas, x, y);
    return;
  }
  const int64_t x0 = std::max<int64_t>(x, 0),
                x1 = std::min<int64_t>(int64_t{x} + width_, canvas.width_);
  const int64_t y0 = std::max<int64_t>(y, 0),
                y1 = std::min<int64_t>(int64_t{y} + height_, canvas.height_);
  if (x0 >= x1 || y0 >= y1) return;
  for (int64_t row = y0; row < y1; ++row)
    std::memcpy(canvas.ScanLine(static_cast<int32_t>(row)) + x0 * 3,
                ScanLine(static_cast<int32_t>(row - y)) + (x0 - x) * 3,
                static_cast<size_t>(x1 - x0) * 3);
}

// ---- TIcon ----

void TIcon::LoadFromStream(rtl::TStream& stream) {
  const std::string data = ReadPictureBytes(stream, kInvalidIcon);
  const ByteView b(data, kInvalidIcon);
  b.Need(0, 6, "the icon header");
  if (b.U16(0) != 0 || b.U16(2) != 1) Invalid(kInvalidIcon, "the file is no icon file");
  const uint16_t count = b.U16(4);
  if (count == 0) Invalid(kInvalidIcon, "the file holds no image");
  b.Need(6, uint64_t{count} * 16, "the icon directory");

  // The image nearest to 32 x 32 pixels, of those the one with the most colours.
  struct Candidate {
    ByteView bytes;
    DibInfo info;
  };
  std::vector<Candidate> candidates;
  int pngImages = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const uint64_t entry = 6 + uint64_t{i} * 16;
    const uint32_t size = b.U32(entry + 8), offset = b.U32(entry + 12);
    b.Need(offset, size, "an icon image");
    const ByteView image = b.Sub(offset, size);
    if (image.Has(0, 4) && std::memcmp(image.At(0), "\x89PNG", 4) == 0) {
      ++pngImages;
      continue;
    }
    DibInfo info = ReadDibHeader(image, 0, ClassName(), true);
    candidates.push_back({image, std::move(info)});
  }
  if (candidates.empty()) Unsupported(ClassName() + ": PNG images");
  auto distance = [](const DibInfo& d) {
    return std::abs(int64_t{d.width} - 32) + std::abs(int64_t{d.height} - 32);
  };
  const Candidate* best = &candidates[0];
  for (const Candidate& c : candidates)
    if (distance(c.info) < distance(best->info) ||
        (distance(c.info) == distance(best->info) && c.info.bits > best->info.bits))
      best = &c;

  const DibInfo& d = best->info;
  std::vector<uint8_t> colors, alpha;
  ReadDibPixels(best->bytes, d, d.headerEnd, colors, d.bits == 32 ? &alpha : nullptr);
  const bool hasAlpha = std::any_of(alpha.begin(), alpha.end(), [](uint8_t a) { return a != 0; });
  std::vector<uint8_t> masks;
  if (hasAlpha) {
    masks = std::move(alpha);
  } else {
    // The AND mask: one bit a pixel, 1 where the icon lets through what lies below.
    const uint64_t maskOffset = d.headerEnd + d.Stride() * static_cast<uint64_t>(d.height);
    const uint64_t maskStride = (static_cast<uint64_t>(d.width) + 31) / 32 * 4;
    best->bytes.Need(maskOffset, maskStride * static_cast<uint64_t>(d.height), "the icon mask");
    const size_t w = static_cast<size_t>(d.width);
    masks.assign(w * static_cast<size_t>(d.height), 0);
    for (int32_t y = 0; y < d.height; ++y) {
      const uint8_t* src =
          best->bytes.At(maskOffset + static_cast<uint64_t>(d.height - 1 - y) * maskStride);
      for (size_t x = 0; x < w; ++x)
        masks[static_cast<size_t>(y) * w + x] = (src[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
    }
  }
  colors_ = std::move(colors);
  masks_ = std::move(masks);
  hasAlpha_ = hasAlpha;
  width_ = d.width;
  height_ = d.height;
}

void TIcon::Draw(TBitmap& canvas, int32_t x, int32_t y) const {
  const int64_t x0 = std::max<int64_t>(x, 0),
                x1 = std::min<int64_t>(int64_t{x} + width_, canvas.Width());
  const int64_t y0 = std::max<int64_t>(y, 0),
                y1 = std::min<int64_t>(int64_t{y} + height_, canvas.Height());
  const size_t w = static_cast<size_t>(width_);
  for (int64_t row = y0; row < y1; ++row) {
    uint8_t* dst = canvas.ScanLine(static_cast<int32_t>(row));
    const size_t srcRow = static_cast<size_t>(row - y) * w;
    for (int64_t col = x0; col < x1; ++col) {
      const size_t i = srcRow + static_cast<size_t>(col - x);
      const uint8_t* c = colors_.data() + i * 3;
      uint8_t* p = dst + col * 3;
      const unsigned m = masks_[i];
      for (int k = 0; k < 3; ++k)
        p[k] = hasAlpha_ ? static_cast<uint8_t>((c[k] * m + p[k] * (255 - m) + 127) / 255)
                         : static_cast<uint8_t>((p[k] & m) ^ c[k]);
    }
  }
}

// ---- TJPEGImage ----

void TJPEGImage::LoadFromStream(rtl::TStream& stream) {
  const std::string data = ReadPictureBytes(stream, "JPEG image is not valid");
  auto d = std::make_unique<JpegDecoder>();
  if (!RunJpegDecoder(*d, data)) throw EJPEG(std::string("JPEG error: ") + d->err.message);
  bitmap_ = std::move(d->bitmap);
  grayscale_ = d->grayscale;
  width_ = bitmap_.Width();
  height_ = bitmap_.Height();
}

void TJPEGImage::Draw(TBitmap& canvas, int32_t x, int32_t y) const {
  bitmap_.Draw(canvas, x, y);
}

// ---- TMetafile ----

void TMetafile::LoadFromStream(rtl::TStream&) {
  Unsupported(ClassName());
}

void TMetafile::Draw(TBitmap&, int32_t, int32_t) const {
  Unsupported(ClassName());
}
