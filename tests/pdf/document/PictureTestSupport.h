// Helpers of the picture tests: BMP and ICO files built byte by byte from a table of pixels, JPEG
// files from libjpeg's compressor and from cjpeg, readers of the PNG and PNM files that pdfimages
// and djpeg write, and pdfimages itself.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "tests/support/TestSupport.h"

namespace pictest {

// ---- Pixels ----

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // R, G, B per pixel, top row first
  const uint8_t* At(int x, int y) const {
    return rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
  }
};

// The largest difference of one sample between a and b (256 when their sizes differ).
inline int MaxDifference(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 256;
  int most = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i)
    most = std::max(most, std::abs(int{a.rgb[i]} - int{b.rgb[i]}));
  return most;
}

inline std::string Le16(uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
inline std::string Le32(uint32_t v) {
  return Le16(v & 0xFFFF) + Le16(v >> 16);
}

// ---- BMP and ICO files ----

// A device-independent bitmap described by its pixels: indices into palette for 1, 4 and 8
// bits, colours (R, G, B, and A for 32 bits) for 24 and 32 bits.
struct Dib {
  int width = 0;
  int height = 0;
  int bits = 24;
  bool topDown = false;
  uint32_t headerSize = 40;  // 12, 40, 108 or 124
  uint32_t colorsUsed = 0;   // written as given (0: the whole palette for the depth)
  std::vector<std::array<uint8_t, 3>> palette;  // R, G, B (written as B, G, R and a zero)
  std::vector<uint8_t> indices;                 // width × height, top row first
  std::vector<std::array<uint8_t, 4>> colors;   // width × height, top row first
  // 32 bits with bit fields: the masks of R, G and B (then the pixel is written through them).
  bool bitFields = false;
  uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
  std::vector<uint8_t> andMask;  // icons: width × height, 1 = transparent

  // The pixels as they should read (palette colours or the given colours), top row first.
  Image Expected() const {
    Image img{width, height, {}};
    for (int i = 0; i < width * height; ++i) {
      if (bits <= 8) {
        const auto& c = palette[indices[i]];
        img.rgb.insert(img.rgb.end(), c.begin(), c.end());
      } else {
        img.rgb.insert(img.rgb.end(), colors[i].begin(), colors[i].begin() + 3);
      }
    }
    return img;
  }

  std::string Header(bool icon) const {
    std::string h;
    if (headerSize == 12) {
      h = Le32(12) + Le16(width) + Le16(height) + Le16(1) + Le16(bits);
      return h;
    }
    const int32_t hv = icon ? height * 2 : (topDown ? -height : height);
    h = Le32(headerSize) + Le32(width) + Le32(static_cast<uint32_t>(hv)) + Le16(1) + Le16(bits) +
        Le32(bitFields ? 3 : 0) + Le32(0) + Le32(2835) + Le32(2835) + Le32(colorsUsed) + Le32(0);
    std::string m = Le32(masks[0]) + Le32(masks[1]) + Le32(masks[2]);
    if (headerSize > 40) {
      std::string rest = bitFields ? m + Le32(0) : std::string(16, '\0');
      rest.resize(headerSize - 40, '\0');
      h += rest;
    } else if (bitFields) {
      h += m;
    }
    return h;
  }

  std::string Palette() const {
    std::string p;
    for (const auto& c : palette) {
      p += static_cast<char>(c[2]);
      p += static_cast<char>(c[1]);
      p += static_cast<char>(c[0]);
      if (headerSize != 12) p += '\0';
    }
    return p;
  }

  std::string Rows() const {
    const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
    std::string out;
    for (int r = 0; r < height; ++r) {
      const int y = topDown ? r : height - 1 - r;
      std::string row(stride, '\0');
      for (int x = 0; x < width; ++x) {
        const int i = y * width + x;
        if (bits <= 8) {
          const size_t bit = static_cast<size_t>(x) * bits;
          row[bit / 8] = static_cast<char>(row[bit / 8] | indices[i] << (8 - bits - bit % 8));
        } else if (bits == 24) {
          row[x * 3] = static_cast<char>(colors[i][2]);
          row[x * 3 + 1] = static_cast<char>(colors[i][1]);
          row[x * 3 + 2] = static_cast<char>(colors[i][0]);
        } else {
          uint32_t v = 0;
          if (bitFields) {
            for (int c = 0; c < 3; ++c) {
              uint32_t m = masks[c];
              int shift = 0;
              while (!(m & 1)) {
                m >>= 1;
                ++shift;
              }
              v |= (static_cast<uint32_t>(colors[i][c]) * m / 255) << shift;
            }
          } else {
            v = colors[i][2] | colors[i][1] << 8 | colors[i][0] << 16 |
                static_cast<uint32_t>(colors[i][3]) << 24;
          }
          std::memcpy(&row[x * 4], Le32(v).data(), 4);
        }
      }
      out += row;
    }
    return out;
  }

  std::string Mask() const {
    const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
    std::string out;
    for (int r = 0; r < height; ++r) {
      const int y = height - 1 - r;
      std::string row(stride, '\0');
      for (int x = 0; x < width; ++x)
        if (!andMask.empty() && andMask[y * width + x])
          row[x / 8] = static_cast<char>(row[x / 8] | 0x80 >> (x % 8));
      out += row;
    }
    return out;
  }

  // The image of an ICO file: header (height doubled), palette, colour rows, mask rows.
  std::string IconImage() const { return Header(true) + Palette() + Rows() + Mask(); }
};

// A BMP file of the bitmap.
inline std::string MakeBmp(const Dib& d) {
  const std::string body = d.Header(false) + d.Palette();
  const std::string rows = d.Rows();
  const uint32_t offset = static_cast<uint32_t>(14 + body.size());
  return "BM" + Le32(static_cast<uint32_t>(offset + rows.size())) + Le32(0) + Le32(offset) + body +
         rows;
}

// An ICO file of the given images (each an IconImage or a PNG file's bytes) with their sizes.
struct IconEntry {
  int width;
  int height;
  std::string data;
};
inline std::string MakeIco(const std::vector<IconEntry>& entries) {
  std::string dir = Le16(0) + Le16(1) + Le16(static_cast<uint32_t>(entries.size()));
  std::string data;
  uint32_t offset = static_cast<uint32_t>(6 + 16 * entries.size());
  for (const IconEntry& e : entries) {
    dir += static_cast<char>(e.width & 0xFF);
    dir += static_cast<char>(e.height & 0xFF);
    dir += std::string("\0\0", 2) + Le16(1) + Le16(0) + Le32(static_cast<uint32_t>(e.data.size())) +
           Le32(offset + data.size());
    data += e.data;
  }
  return dir + data;
}

// ---- PNG and PNM readers ----

inline uint32_t Be32(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3]));
}

// An 8-bit grey or RGB PNG file without interlace (what pdfimages -png writes for such images).
inline Image ReadPng(const std::string& png) {
  if (png.compare(0, 8, "\x89PNG\r\n\x1A\n") != 0) throw std::runtime_error("not a PNG file");
  size_t at = 8;
  int width = 0, height = 0, channels = 0;
  std::string idat;
  while (at + 8 <= png.size()) {
    const uint32_t len = Be32(png, at);
    const std::string type = png.substr(at + 4, 4);
    const std::string body = png.substr(at + 8, len);
    if (type == "IHDR") {
      width = static_cast<int>(Be32(body, 0));
      height = static_cast<int>(Be32(body, 4));
      if (body[8] != 8 || body[12] != 0) throw std::runtime_error("PNG: not 8 bits / interlaced");
      channels = body[9] == 2 ? 3 : body[9] == 0 ? 1 : 0;
      if (!channels) throw std::runtime_error("PNG: colour type not grey or RGB");
    } else if (type == "IDAT") {
      idat += body;
    }
    at += 12 + len;
  }
  const size_t rowBytes = static_cast<size_t>(width) * channels;
  std::vector<uint8_t> raw((rowBytes + 1) * height);
  uLongf rawSize = raw.size();
  if (uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(idat.data()), idat.size()) !=
          Z_OK ||
      rawSize != raw.size())
    throw std::runtime_error("PNG: bad image data");
  std::vector<uint8_t> pix(rowBytes * height);
  for (int y = 0; y < height; ++y) {
    const uint8_t filter = raw[y * (rowBytes + 1)];
    const uint8_t* in = &raw[y * (rowBytes + 1) + 1];
    uint8_t* out = &pix[y * rowBytes];
    const uint8_t* up = y > 0 ? &pix[(y - 1) * rowBytes] : nullptr;
    for (size_t i = 0; i < rowBytes; ++i) {
      const int a = i >= static_cast<size_t>(channels) ? out[i - channels] : 0;
      const int b = up ? up[i] : 0;
      const int c = up && i >= static_cast<size_t>(channels) ? up[i - channels] : 0;
      int v = in[i];
      switch (filter) {
        case 1:
          v += a;
          break;
        case 2:
          v += b;
          break;
        case 3:
          v += (a + b) / 2;
          break;
        case 4: {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          v += pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
      }
      out[i] = static_cast<uint8_t>(v);
    }
  }
  Image img{width, height, {}};
  for (size_t i = 0; i < pix.size(); i += channels)
    for (int k = 0; k < 3; ++k)
      img.rgb.push_back(pix[i + (channels == 3 ? k : 0)]);
  return img;
}

// A binary PGM (P5) or PPM (P6) file of 8-bit samples, grey expanded to RGB.
inline Image ReadPnm(const std::string& pnm) {
  size_t at = 2;
  auto number = [&]() {
    while (at < pnm.size() && (std::isspace(static_cast<unsigned char>(pnm[at])) || pnm[at] == '#'))
      if (pnm[at] == '#')
        while (at < pnm.size() && pnm[at] != '\n')
          ++at;
      else
        ++at;
    int v = 0;
    while (at < pnm.size() && std::isdigit(static_cast<unsigned char>(pnm[at])))
      v = v * 10 + (pnm[at++] - '0');
    return v;
  };
  const bool grey = pnm.compare(0, 2, "P5") == 0;
  if (!grey && pnm.compare(0, 2, "P6") != 0) throw std::runtime_error("not a binary PNM file");
  Image img;
  img.width = number();
  img.height = number();
  if (number() != 255) throw std::runtime_error("PNM: not 8 bits");
  ++at;
  const size_t n = static_cast<size_t>(img.width) * img.height;
  if (pnm.size() < at + n * (grey ? 1 : 3)) throw std::runtime_error("PNM: cut");
  for (size_t i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k)
      img.rgb.push_back(static_cast<uint8_t>(pnm[at + (grey ? i : i * 3 + k)]));
  return img;
}

// A PPM file of the image.
inline std::string MakePpm(const Image& img) {
  return "P6\n" + std::to_string(img.width) + " " + std::to_string(img.height) + "\n255\n" +
         std::string(img.rgb.begin(), img.rgb.end());
}

// ---- JPEG files ----

// A JPEG file of the samples (components per pixel as the colour space wants) made by libjpeg.
// adobe false leaves out the Adobe marker that libjpeg writes for CMYK and YCCK files.
inline std::string MakeJpeg(int width, int height, int components, J_COLOR_SPACE in,
                            J_COLOR_SPACE out, const std::vector<uint8_t>& samples,
                            bool adobe = true, int quality = 95) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = components;
  c.in_color_space = in;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, out);
  if (!adobe) c.write_Adobe_marker = FALSE;
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&samples[c.next_scanline * width * components]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::string jpeg(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&c);
  std::free(buffer);
  return jpeg;
}

// A picture with some detail: gradients and a few sharp edges.
inline Image TestPicture(int width, int height) {
  Image img{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      img.rgb.push_back(static_cast<uint8_t>(x * 255 / std::max(1, width - 1)));
      img.rgb.push_back(static_cast<uint8_t>(y * 255 / std::max(1, height - 1)));
      img.rgb.push_back(static_cast<uint8_t>((x / 8 + y / 8) % 2 ? 200 : 40));
    }
  return img;
}

// ---- pdfimages ----

struct ListedImage {
  int page = 0;
  std::string type;
  int width = 0;
  int height = 0;
  std::string color;
  int components = 0;
  int bits = 0;
  std::string encoding;
};

// The rows of pdfimages -list.
inline std::vector<ListedImage> PdfImagesList(const std::string& pdf) {
  sv::test::CommandResult r = sv::test::RunCommand({"pdfimages", "-list", pdf});
  if (r.exitCode != 0) throw std::runtime_error("pdfimages -list failed: " + r.err);
  std::vector<ListedImage> rows;
  size_t pos = 0;
  int line = 0;
  while (pos < r.out.size()) {
    size_t end = r.out.find('\n', pos);
    if (end == std::string::npos) end = r.out.size();
    const std::string text = r.out.substr(pos, end - pos);
    pos = end + 1;
    if (++line <= 2 || text.empty()) continue;  // the heading and its rule
    char type[32] = {}, color[32] = {}, enc[32] = {};
    ListedImage li;
    if (std::sscanf(text.c_str(), "%d %*d %31s %d %d %31s %d %d %31s", &li.page, type, &li.width,
                    &li.height, color, &li.components, &li.bits, enc) == 8) {
      li.type = type;
      li.color = color;
      li.encoding = enc;
      rows.push_back(li);
    }
  }
  return rows;
}

// The images of the file as pdfimages -png writes them, in its order.
inline std::vector<Image> PdfImagesPng(const std::string& pdf, const sv::test::TempDir& dir) {
  sv::test::CommandResult r = sv::test::RunCommand({"pdfimages", "-png", pdf, dir / "img"});
  if (r.exitCode != 0) throw std::runtime_error("pdfimages -png failed: " + r.err);
  std::vector<Image> images;
  for (int i = 0;; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "img-%03d.png", i);
    if (!sv::test::FileExists(dir / name)) break;
    images.push_back(ReadPng(sv::test::ReadFile(dir / name)));
  }
  return images;
}

}  // namespace pictest
