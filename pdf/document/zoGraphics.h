// Pictures of the class library: a bitmap (BMP files), an icon (ICO files), a JPEG picture
// (decoded by libjpeg) and a metafile that this library cannot render. Every picture is held or
// drawn as 24-bit RGB rows: a TBitmap is the library's one image type, and the other classes draw
// themselves onto one.
//
//   TGraphic     the common face: Width, Height, ClassName, LoadFromFile / LoadFromStream, Draw
//   TBitmap      rows of R, G, B bytes, top row first; reads BMP files of 1, 4, 8, 24, 32 bits
//   TIcon        one image of an ICO file, drawn with its mask or alpha over what is below it
//   TJPEGImage   a JPEG file decoded to RGB (grey, RGB, YCbCr, CMYK and YCCK files)
//   TMetafile    a placeholder: loading or drawing it raises EUnsupportedImageError
//
// Hostile files are refused with EInvalidGraphic (or its EJPEG) before anything large is
// allocated: the size a header declares is checked against the bytes that are there and against
// PictureSizeLimit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"

// ---- Exceptions ----

// A picture file that cannot be read: cut, inconsistent, or larger than the size limit.
class EInvalidGraphic : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};
// JPEG data that libjpeg refuses (its own text, after "JPEG error: ").
class EJPEG : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// ---- The size limit (a library setting) ----

// The largest number of pixels (width × height) that one picture may have; 64 Mi unless set
// otherwise. Reading or sizing a larger picture raises EInvalidGraphic.
inline constexpr int64_t kDefaultPictureSizeLimit = int64_t{64} * 1024 * 1024;
int64_t PictureSizeLimit();
// Values below 1 raise rtl::Exception.
void SetPictureSizeLimit(int64_t pixels);

class TBitmap;

// ---- TGraphic ----

class TGraphic : public rtl::TPersistent {
 public:
  TGraphic() = default;
  TGraphic(const TGraphic&) = default;
  TGraphic& operator=(const TGraphic&) = default;
  ~TGraphic() override = default;

  // The name of the class ("TBitmap", "TIcon", ...), as error messages show it.
  virtual std::string ClassName() const = 0;
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  // Reads the picture file; rtl::EFOpenError when it cannot be opened, else as LoadFromStream.
  void LoadFromFile(const std::string& fileName);
  // Reads the picture from the stream's position to its end, in place of the current one (which
  // stays unchanged when reading fails).
  virtual void LoadFromStream(rtl::TStream& stream) = 0;
  // Draws the picture onto canvas with its top-left corner at (x, y); what falls outside the
  // canvas is left out.
  virtual void Draw(TBitmap& canvas, int32_t x, int32_t y) const = 0;

 protected:
  int32_t width_ = 0;
  int32_t height_ = 0;
};

// ---- TBitmap ----

class TBitmap : public TGraphic {
 public:
  TBitmap() = default;
  // A white bitmap of that size (SetSize).
  TBitmap(int32_t width, int32_t height);

  std::string ClassName() const override { return "TBitmap"; }

  // Gives the bitmap a new size; the pixels within both sizes are kept, new ones are white.
  // Negative sizes and sizes beyond PictureSizeLimit raise EInvalidGraphic.
  void SetSize(int32_t width, int32_t height);
  void Assign(const TBitmap& source);

  // Row y (0 is the top): Width × 3 bytes, R, G, B for each pixel. EInvalidGraphic outside
  // 0 .. Height - 1.
  uint8_t* ScanLine(int32_t y);
  const uint8_t* ScanLine(int32_t y) const;
  // All rows, top row first, without bytes between them (Width × Height × 3 bytes).
  const std::vector<uint8_t>& Pixels() const { return pixels_; }

  // A BMP file (file header, then a core, info, V4 or V5 header): 1, 4 and 8 bits with a
  // palette, 24 bits, 32 bits (plain or with bit fields); bottom-up or top-down rows. Other
  // depths and compressed rows raise EUnsupportedImageError; damaged files EInvalidGraphic.
  void LoadFromStream(rtl::TStream& stream) override;
  void Draw(TBitmap& canvas, int32_t x, int32_t y) const override;

 private:
  std::vector<uint8_t> pixels_;
};

// ---- TIcon ----

class TIcon : public TGraphic {
 public:
  std::string ClassName() const override { return "TIcon"; }

  // An ICO file; of its images the one nearest to 32 × 32 pixels with the most colours is taken.
  // Images of 1, 4, 8, 24 and 32 bits are read; a file with only PNG images raises
  // EUnsupportedImageError; damaged files EInvalidGraphic.
  void LoadFromStream(rtl::TStream& stream) override;
  // Each pixel over what the canvas holds: an image with alpha is blended by it; otherwise the
  // canvas pixel is masked by the icon's mask and combined with its colour by exclusive or, so
  // transparent pixels leave the canvas as it was.
  void Draw(TBitmap& canvas, int32_t x, int32_t y) const override;

 private:
  std::vector<uint8_t> colors_;  // R, G, B per pixel, top row first
  std::vector<uint8_t> masks_;   // per pixel: alpha (0..255) or the AND mask (0 or 255)
  bool hasAlpha_ = false;
};

// ---- TJPEGImage ----

class TJPEGImage : public TGraphic {
 public:
  std::string ClassName() const override { return "TJPEGImage"; }

  // A JPEG file, decoded at once. Grey pictures become grey RGB; CMYK and YCCK pictures are
  // converted to RGB (Adobe files hold their inks inverted). Other colour spaces raise
  // EUnsupportedImageError; damaged or cut data EJPEG.
  void LoadFromStream(rtl::TStream& stream) override;
  void Draw(TBitmap& canvas, int32_t x, int32_t y) const override;
  // The decoded picture.
  const TBitmap& Bitmap() const { return bitmap_; }
  // True when the file holds one grey component.
  bool Grayscale() const { return grayscale_; }

 private:
  TBitmap bitmap_;
  bool grayscale_ = false;
};

// ---- TMetafile ----

// Metafiles have no renderer here: loading and drawing raise EUnsupportedImageError
// "Unsupported image format (TMetafile)".
class TMetafile : public TGraphic {
 public:
  std::string ClassName() const override { return "TMetafile"; }
  void LoadFromStream(rtl::TStream& stream) override;
  void Draw(TBitmap& canvas, int32_t x, int32_t y) const override;
};
