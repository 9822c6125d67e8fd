#include "platform/Fonts.h"

#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <list>
#include <mutex>
#include <utility>

#include "platform/CodePage.h"

namespace platform {

namespace {

// The character set that DEFAULT_CHARSET stands for: the one of the ANSI code page 932.
constexpr uint8_t kDefaultCharset = 128;
// Sizes above this are drawn at this size.
constexpr int64_t kMaxPixelsPerEm = 16384;

// ---- Process-wide state: one FreeType library, the fontconfig configuration in use, caches ----

// A font file mapped read-only, shared by the faces opened on it and the data they hand out.
struct MappedFile {
  MappedFile() = default;
  ~MappedFile() {
    if (data) munmap(const_cast<uint8_t*>(data), size);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  // Whether st describes the file that was mapped: same file, size and modification time.
  bool Is(const struct stat& st) const {
    return st.st_dev == dev && st.st_ino == ino && static_cast<size_t>(st.st_size) == size &&
           st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec;
  }
  const uint8_t* data = nullptr;
  size_t size = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
};

// What Find asks fontconfig for; the height plays no part in the choice.
struct FindKey {
  std::string family;  // after the alias table
  int weight = 400;
  bool italic = false;
  uint8_t charset = 1;
  FontPitch pitch = FontPitch::kDefault;
  bool operator==(const FindKey&) const = default;
};

// A face fontconfig offers for a request, in its order.
struct Candidate {
  std::string file;
  int index = 0;
  bool trueType = false;
  bool familyMatches = false;
};

class FontSystem {
 public:
  static FontSystem& Get() {
    static FontSystem instance;
    return instance;
  }
  ~FontSystem() {
    if (cachedConfig_) FcConfigDestroy(cachedConfig_);
    if (config_) FcConfigDestroy(config_);
    if (library_) FT_Done_FreeType(library_);
  }
  FontSystem(const FontSystem&) = delete;
  FontSystem& operator=(const FontSystem&) = delete;

  std::mutex& Lock() { return mutex_; }
  FT_Library Library() const { return library_; }
  // Null: the system's configuration (fontconfig's current one).
  FcConfig* Config() const { return config_; }
  void SetConfig(FcConfig* config) {
    if (config_) FcConfigDestroy(config_);
    config_ = config;
  }

  // The rest is called with the lock held.

  // The configuration in effect. When it is another one than the cached lookups were made in
  // (UseFontConfiguration, or the system's configuration rebuilt), they are forgotten and the
  // generation counts on. The one they were made in is held, so that no later configuration
  // can take its address.
  FcConfig* CurrentConfig() {
    FcConfig* current = config_ ? config_ : FcConfigGetCurrent();
    if (current != cachedConfig_) {
      candidates_.clear();
      if (cachedConfig_) FcConfigDestroy(cachedConfig_);
      cachedConfig_ = current ? FcConfigReference(current) : nullptr;
      ++generation_;
    }
    return current;
  }
  uint64_t Generation() const { return generation_; }

  // The candidates of an earlier lookup under the current configuration; null when there is none.
  std::shared_ptr<const std::vector<Candidate>> CachedCandidates(const FindKey& key) {
    for (auto it = candidates_.begin(); it != candidates_.end(); ++it)
      if (it->first == key) {
        candidates_.splice(candidates_.begin(), candidates_, it);
        return candidates_.front().second;
      }
    return nullptr;
  }
  void CacheCandidates(const FindKey& key, std::shared_ptr<const std::vector<Candidate>> found) {
    candidates_.emplace_front(key, std::move(found));
    if (candidates_.size() > kCachedLookups) candidates_.pop_back();
  }

  // The file mapped, the mapping shared with every face of it while the file on disk is the one
  // that was mapped. Null when it cannot be mapped.
  std::shared_ptr<const MappedFile> Map(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return nullptr;
    for (auto it = files_.begin(); it != files_.end(); ++it) {
      if (it->first != path) continue;
      if (it->second->Is(st)) {
        files_.splice(files_.begin(), files_, it);
        return files_.front().second;
      }
      files_.erase(it);
      break;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto file = std::make_shared<MappedFile>();
    void* map = MAP_FAILED;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
      map = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return nullptr;
    file->data = static_cast<const uint8_t*>(map);
    file->size = static_cast<size_t>(st.st_size);
    file->dev = st.st_dev;
    file->ino = st.st_ino;
    file->mtime = st.st_mtim;
    files_.emplace_front(path, file);
    if (files_.size() > kMappedFiles) files_.pop_back();
    return file;
  }

 private:
  static constexpr size_t kCachedLookups = 32;
  static constexpr size_t kMappedFiles = 8;

  FontSystem() {
    if (FT_Init_FreeType(&library_) != 0) library_ = nullptr;
  }
  std::mutex mutex_;
  FT_Library library_ = nullptr;
  FcConfig* config_ = nullptr;
  FcConfig* cachedConfig_ = nullptr;
  uint64_t generation_ = 0;
  // Most recently used first.
  std::list<std::pair<FindKey, std::shared_ptr<const std::vector<Candidate>>>> candidates_;
  std::list<std::pair<std::string, std::shared_ptr<const MappedFile>>> files_;
};

// ---- Names ----

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

struct Alias {
  std::string_view windowsName;
  std::string_view family;
};
constexpr Alias kAliases[] = {
    {"MS Gothic", "IPAGothic"},
    {"ＭＳ ゴシック", "IPAGothic"},
    {"MS UI Gothic", "IPAGothic"},
    {"MS PGothic", "IPAPGothic"},
    {"ＭＳ Ｐゴシック", "IPAPGothic"},
    {"Meiryo", "IPAPGothic"},
    {"メイリオ", "IPAPGothic"},
    {"MS Mincho", "IPAMincho"},
    {"ＭＳ 明朝", "IPAMincho"},
    {"MS PMincho", "IPAPMincho"},
    {"ＭＳ Ｐ明朝", "IPAPMincho"},
    {"Arial", "Liberation Sans"},
    {"Times New Roman", "Liberation Serif"},
    {"Courier New", "Liberation Mono"},
};

// The fontconfig language of a GDI character set; "" when the set names none.
const char* LanguageOfCharset(uint8_t charset) {
  switch (charset == 1 ? kDefaultCharset : charset) {
    case 128:
      return "ja";
    case 129:
    case 130:
      return "ko";
    case 134:
      return "zh-cn";
    case 136:
      return "zh-tw";
    case 161:
      return "el";
    case 162:
      return "tr";
    case 163:
      return "vi";
    case 177:
      return "he";
    case 178:
      return "ar";
    case 186:
      return "lt";
    case 204:
      return "ru";
    case 222:
      return "th";
    case 238:
      return "pl";
    default:
      return "";
  }
}

// GDI character sets by bit of OS/2 ulCodePageRange1.
constexpr std::pair<int, uint8_t> kCodePageBits[] = {
    {0, 0},   {1, 238},  {2, 204},  {3, 161},  {4, 162},  {5, 177},  {6, 178},  {7, 186},
    {8, 163}, {16, 222}, {17, 128}, {18, 134}, {19, 129}, {20, 136}, {21, 130}, {31, 2},
};

// ---- Reading sfnt data ----

using Bytes = std::vector<uint8_t>;

using View = std::span<const uint8_t>;

uint16_t BE16(View d, size_t at) {
  return static_cast<uint16_t>((d[at] << 8) | d[at + 1]);
}
uint32_t BE32(View d, size_t at) {
  return (static_cast<uint32_t>(BE16(d, at)) << 16) | BE16(d, at + 2);
}
void PutBE16(Bytes& d, uint16_t v) {
  d.push_back(static_cast<uint8_t>(v >> 8));
  d.push_back(static_cast<uint8_t>(v & 0xFF));
}
void PutBE32(Bytes& d, uint32_t v) {
  PutBE16(d, static_cast<uint16_t>(v >> 16));
  PutBE16(d, static_cast<uint16_t>(v & 0xFFFF));
}
uint32_t Checksum(View d, size_t at, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i < length; i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4; ++k)
      word = (word << 8) | (i + k < length ? d[at + i + k] : 0u);
    sum += word;
  }
  return sum;
}

// Face index of a collection as a standalone sfnt: its tables in its directory order, a new
// directory with fresh checksums and head's checkSumAdjustment. False on damaged data.
bool ExtractCollectionFace(View ttc, int index, Bytes& out) {
  if (ttc.size() < 12 || index < 0) return false;
  uint32_t numFonts = BE32(ttc, 8);
  if (static_cast<uint32_t>(index) >= numFonts ||
      12 + 4 * static_cast<uint64_t>(numFonts) > ttc.size())
    return false;
  uint64_t dir = BE32(ttc, 12 + 4 * static_cast<size_t>(index));
  if (dir + 12 > ttc.size()) return false;
  uint16_t numTables = BE16(ttc, dir + 4);
  if (dir + 12 + 16 * static_cast<uint64_t>(numTables) > ttc.size()) return false;
  struct Rec {
    uint32_t tag, offset, length;
  };
  std::vector<Rec> recs;
  uint64_t total = 12 + 16 * static_cast<uint64_t>(numTables);
  for (uint16_t i = 0; i < numTables; ++i) {
    size_t r = static_cast<size_t>(dir) + 12 + 16 * i;
    Rec rec{BE32(ttc, r), BE32(ttc, r + 8), BE32(ttc, r + 12)};
    if (static_cast<uint64_t>(rec.offset) + rec.length > ttc.size()) return false;
    total += (static_cast<uint64_t>(rec.length) + 3) & ~uint64_t{3};
    recs.push_back(rec);
  }
  if (total > 0xFFFFFFFFu) return false;
  uint16_t pow2 = 1, log2 = 0;
  while (pow2 * 2 <= numTables) {
    pow2 = static_cast<uint16_t>(pow2 * 2);
    ++log2;
  }
  out.clear();
  out.reserve(static_cast<size_t>(total));
  PutBE32(out, BE32(ttc, dir));
  PutBE16(out, numTables);
  PutBE16(out, static_cast<uint16_t>(pow2 * 16));
  PutBE16(out, log2);
  PutBE16(out, static_cast<uint16_t>(numTables * 16 - pow2 * 16));
  out.resize(12 + 16 * static_cast<size_t>(numTables));
  size_t headAt = std::string::npos;
  for (uint16_t i = 0; i < numTables; ++i) {
    const Rec& rec = recs[i];
    size_t at = out.size();
    out.insert(out.end(), ttc.begin() + rec.offset, ttc.begin() + rec.offset + rec.length);
    if (rec.tag == TTAG_head && rec.length >= 12) {
      headAt = at;
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(at + 8),
                out.begin() + static_cast<std::ptrdiff_t>(at + 12), 0);
    }
    uint32_t sum = Checksum(out, at, rec.length);
    out.resize((out.size() + 3) & ~size_t{3}, 0);
    Bytes record;
    PutBE32(record, rec.tag);
    PutBE32(record, sum);
    PutBE32(record, static_cast<uint32_t>(at));
    PutBE32(record, rec.length);
    std::copy(record.begin(), record.end(), out.begin() + 12 + 16 * i);
  }
  if (headAt != std::string::npos) {
    uint32_t adjustment = 0xB1B0AFBAu - Checksum(out, 0, out.size());
    for (int k = 0; k < 4; ++k)
      out[headAt + 8 + static_cast<size_t>(k)] = static_cast<uint8_t>(adjustment >> (24 - 8 * k));
  }
  return true;
}

// The faces fontconfig offers for a request, best first: the scalable ones of its sorted list.
std::vector<Candidate> LookUp(FcConfig* config, const FindKey& key) {
  const std::string& family = key.family;
  std::vector<Candidate> candidates;
  FcPattern* pattern = FcPatternCreate();
  if (!family.empty())
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(key.weight));
  FcPatternAddInteger(pattern, FC_SLANT, key.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if (const char* lang = LanguageOfCharset(key.charset); *lang)
    FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(lang));
  if (key.pitch == FontPitch::kFixed) FcPatternAddInteger(pattern, FC_SPACING, FC_MONO);
  if (key.pitch == FontPitch::kVariable) FcPatternAddInteger(pattern, FC_SPACING, FC_PROPORTIONAL);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcFontSet* set = FcFontSort(config, pattern, FcFalse, nullptr, &result);
  for (int i = 0; set && i < set->nfont; ++i) {
    FcPattern* font = set->fonts[i];
    FcChar8* file = nullptr;
    FcBool scalable = FcFalse;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
    if (FcPatternGetBool(font, FC_SCALABLE, 0, &scalable) != FcResultMatch || !scalable) continue;
    Candidate c;
    c.file = reinterpret_cast<const char*>(file);
    FcPatternGetInteger(font, FC_INDEX, 0, &c.index);
    FcChar8* format = nullptr;
    c.trueType = FcPatternGetString(font, FC_FONTFORMAT, 0, &format) == FcResultMatch &&
                 FcStrCmp(format, reinterpret_cast<const FcChar8*>("TrueType")) == 0;
    FcChar8* name = nullptr;
    for (int k = 0; FcPatternGetString(font, FC_FAMILY, k, &name) == FcResultMatch; ++k)
      if (!family.empty() &&
          FcStrCmpIgnoreCase(name, reinterpret_cast<const FcChar8*>(family.c_str())) == 0)
        c.familyMatches = true;
    candidates.push_back(std::move(c));
  }
  if (set) FcFontSetDestroy(set);
  FcPatternDestroy(pattern);
  return candidates;
}

int32_t Scale(int64_t v, int32_t ppem, int32_t upem) {
  return static_cast<int32_t>(std::lround(static_cast<double>(v) * ppem / upem));
}

}  // namespace

// ---- Aliases ----

std::string FontFamilyAlias(std::string_view family) {
  for (const Alias& a : kAliases)
    if (EqualIgnoringAsciiCase(family, a.windowsName)) return std::string(a.family);
  return std::string(family);
}

// ---- FontFace ----

struct FontFace::Impl {
  ~Impl() {
    if (face) {
      std::lock_guard<std::mutex> lock(FontSystem::Get().Lock());
      FT_Done_Face(face);
    }
  }
  std::shared_ptr<const MappedFile> file;  // the bytes the face reads; null: FreeType's own
  FT_Face face = nullptr;
  std::string path;
  int index = 0;
  std::string family;
  std::string postScriptName;
  bool trueType = false;
  bool symbolMap = false;  // only a (3,0) symbol character map: byte codes are U+F0xx
  int32_t upem = 0;
  TextMetrics metrics;
};

FontFace::FontFace(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FontFace::~FontFace() = default;

const std::string& FontFace::FilePath() const {
  return impl_->path;
}
int FontFace::FaceIndex() const {
  return impl_->index;
}
const std::string& FontFace::FamilyName() const {
  return impl_->family;
}
const std::string& FontFace::PostScriptName() const {
  return impl_->postScriptName;
}
bool FontFace::IsTrueType() const {
  return impl_->trueType;
}
bool FontFace::IsSfnt() const {
  return FT_IS_SFNT(impl_->face);
}
const TextMetrics& FontFace::Metrics() const {
  return impl_->metrics;
}

std::unique_ptr<FontFace> FontFace::Open(const std::string& path, int index, int height) {
  auto impl = std::make_unique<Impl>();
  {
    FontSystem& fs = FontSystem::Get();
    std::lock_guard<std::mutex> lock(fs.Lock());
    if (!fs.Library()) return nullptr;
    impl->file = fs.Map(path);
    const FT_Error error =
        impl->file ? FT_New_Memory_Face(fs.Library(), impl->file->data,
                                        static_cast<FT_Long>(impl->file->size), index, &impl->face)
                   : FT_New_Face(fs.Library(), path.c_str(), index, &impl->face);
    if (error != 0) {
      impl->face = nullptr;
      return nullptr;
    }
  }
  FT_Face face = impl->face;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;
  impl->path = path;
  impl->index = index;
  impl->family = face->family_name ? face->family_name : "";
  const char* ps = FT_Get_Postscript_Name(face);
  impl->postScriptName = ps ? ps : "";
  FT_ULong glyfLength = 0;
  impl->trueType =
      FT_IS_SFNT(face) && FT_Load_Sfnt_Table(face, TTAG_glyf, 0, nullptr, &glyfLength) == 0;
  if (!face->charmap) {
    for (int i = 0; i < face->num_charmaps; ++i)
      if (face->charmaps[i]->encoding == FT_ENCODING_MS_SYMBOL) {
        FT_Set_Charmap(face, face->charmaps[i]);
        impl->symbolMap = true;
        break;
      }
  }

  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
  const auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST));
  if (os2 && os2->version == 0xFFFF) os2 = nullptr;
  const int32_t upem = face->units_per_EM;
  impl->upem = upem;

  int64_t winAscent, winDescent;
  if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    winAscent = os2->usWinAscent;
    winDescent = os2->usWinDescent;
  } else if (hhea && hhea->Ascender - hhea->Descender > 0) {
    winAscent = hhea->Ascender;
    winDescent = -hhea->Descender;
  } else {
    winAscent = face->ascender;
    winDescent = -face->descender;
  }
  int64_t ppem;
  if (height < 0)
    ppem = -static_cast<int64_t>(height);
  else if (height > 0)
    ppem = winAscent + winDescent > 0 ? std::lround(static_cast<double>(height) * upem /
                                                    static_cast<double>(winAscent + winDescent))
                                      : height;
  else
    ppem = 16;  // 12 points
  ppem = std::clamp<int64_t>(ppem, 1, kMaxPixelsPerEm);

  TextMetrics& m = impl->metrics;
  auto scale = [&](int64_t v) { return Scale(v, static_cast<int32_t>(ppem), upem); };
  m.ppem = static_cast<int32_t>(ppem);
  m.ascent = scale(winAscent);
  m.descent = scale(winDescent);
  m.height = m.ascent + m.descent;
  m.internalLeading = m.height - ppem;
  if (hhea)
    m.externalLeading = std::max<int32_t>(
        0, scale(hhea->Line_Gap - ((winAscent + winDescent) - (hhea->Ascender - hhea->Descender))));
  auto unitsAdvance = [&](uint32_t glyph) -> int64_t {
    FT_Fixed adv = 0;
    return FT_Get_Advance(face, glyph, FT_LOAD_NO_SCALE, &adv) == 0 ? adv : 0;
  };
  if (os2 && os2->xAvgCharWidth > 0) {
    m.aveCharWidth = scale(os2->xAvgCharWidth);
  } else {
    uint32_t x = FT_Get_Char_Index(face, 'x');
    m.aveCharWidth = x ? scale(unitsAdvance(x)) : scale(face->max_advance_width / 2);
  }
  m.maxCharWidth = scale(hhea ? hhea->advance_Width_Max : face->max_advance_width);
  if (os2 && os2->usWeightClass > 0)
    m.weight = os2->usWeightClass < 10 ? os2->usWeightClass * 100 : os2->usWeightClass;
  else
    m.weight = (face->style_flags & FT_STYLE_FLAG_BOLD) ? 700 : 400;
  m.italic =
      os2 ? ((os2->fsSelection & 0x0201) != 0) : ((face->style_flags & FT_STYLE_FLAG_ITALIC) != 0);

  // Fixed pitch: the post table says so, or the PANOSE proportion is "monospaced" (IPAGothic
  // says proportional in post and monospaced in PANOSE; it counts as fixed pitch).
  bool fixedPitch;
  if (FT_IS_SFNT(face))
    fixedPitch =
        (post && post->isFixedPitch != 0) || (os2 && os2->panose[0] == 2 && os2->panose[3] == 9);
  else
    fixedPitch = FT_IS_FIXED_WIDTH(face);
  uint8_t family = FF_DONTCARE;
  if (os2) {
    const uint8_t familyType = os2->panose[0], serifStyle = os2->panose[1];
    if (familyType == 2) {
      if (os2->panose[3] == 9)
        family = FF_MODERN;
      else if (serifStyle >= 11 && serifStyle <= 15)
        family = FF_SWISS;
      else if (serifStyle >= 2 && serifStyle <= 10)
        family = FF_ROMAN;
    } else if (familyType == 3) {
      family = FF_SCRIPT;
    } else if (familyType == 4 || familyType == 5) {
      family = FF_DECORATIVE;
    }
    if (family == FF_DONTCARE) {
      switch (os2->sFamilyClass >> 8) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 7:
          family = FF_ROMAN;
          break;
        case 8:
          family = FF_SWISS;
          break;
        case 9:
        case 12:
          family = FF_DECORATIVE;
          break;
        case 10:
          family = FF_SCRIPT;
          break;
        default:
          break;
      }
    }
  }
  if (family == FF_DONTCARE && fixedPitch) family = FF_MODERN;
  m.pitchAndFamily =
      static_cast<uint8_t>(family | TMPF_VECTOR | (fixedPitch ? 0 : TMPF_FIXED_PITCH) |
                           (impl->trueType ? TMPF_TRUETYPE : TMPF_DEVICE));

  m.emSquare = static_cast<uint32_t>(upem);
  if (post) m.italicAngle = static_cast<int32_t>(std::lround(post->italicAngle / 65536.0 * 10.0));
  if (os2 && os2->version >= 2) m.capEmHeight = scale(os2->sCapHeight);
  int64_t underlineThickness = post ? post->underlineThickness : face->underline_thickness;
  int64_t underlinePosition = post ? post->underlinePosition : face->underline_position;
  m.underscoreSize = scale(underlineThickness);
  m.underscorePosition = scale(underlinePosition);
  if (os2) {
    m.strikeoutSize = scale(os2->yStrikeoutSize);
    m.strikeoutPosition = scale(os2->yStrikeoutPosition);
  } else {
    m.strikeoutSize = m.underscoreSize;
    m.strikeoutPosition = scale(winAscent / 3);
  }
  m.fsType = FT_Get_FSType_Flags(face);

  auto result = std::unique_ptr<FontFace>(new FontFace(std::move(impl)));
  std::vector<uint8_t> charsets = result->Charsets();
  result->impl_->metrics.charSet = charsets.empty() ? 0 : charsets.front();
  return result;
}

std::unique_ptr<FontFace> FontFace::Find(const FontRequest& request) {
  FindKey key;
  key.family = FontFamilyAlias(request.family);
  key.weight = std::clamp(request.weight, 1, 1000);
  key.italic = request.italic;
  key.charset = request.charset;
  key.pitch = request.pitch;
  std::shared_ptr<const std::vector<Candidate>> found;
  {
    FontSystem& fs = FontSystem::Get();
    std::lock_guard<std::mutex> lock(fs.Lock());
    fs.CurrentConfig();
    found = fs.CachedCandidates(key);
    if (!found) {
      found = std::make_shared<const std::vector<Candidate>>(LookUp(fs.Config(), key));
      fs.CacheCandidates(key, found);
    }
  }
  const std::vector<Candidate>& candidates = *found;
  // The faces of the asked family when there are any, else all; TrueType outlines first. Asked
  // for TrueType only, any family's TrueType face comes before another face of the family.
  bool anyFamily = std::any_of(candidates.begin(), candidates.end(),
                               [](const Candidate& c) { return c.familyMatches; });
  std::vector<const Candidate*> order;
  auto take = [&](bool familyOnly, bool trueType) {
    for (const Candidate& c : candidates)
      if ((!familyOnly || c.familyMatches) && c.trueType == trueType) order.push_back(&c);
  };
  take(anyFamily, true);
  if (request.trueTypeOnly && anyFamily) take(false, true);
  take(anyFamily, false);
  for (const Candidate* c : order) {
    if (auto face = Open(c->file, c->index, request.height)) {
      std::vector<uint8_t> charsets = face->Charsets();
      uint8_t want = request.charset == 1 ? kDefaultCharset : request.charset;
      if (std::find(charsets.begin(), charsets.end(), want) != charsets.end())
        face->impl_->metrics.charSet = want;
      return face;
    }
  }
  return nullptr;
}

uint32_t FontFace::GlyphIndex(char32_t c) const {
  FT_Face face = impl_->face;
  if (impl_->symbolMap) {
    if (c < 0x100) c += 0xF000;
    return FT_Get_Char_Index(face, c);
  }
  return face->charmap ? FT_Get_Char_Index(face, c) : 0;
}

int32_t FontFace::GlyphAdvance(uint32_t glyph) const {
  FT_Fixed adv = 0;
  if (FT_Get_Advance(impl_->face, glyph, FT_LOAD_NO_SCALE, &adv) != 0) return 0;
  return Scale(adv, impl_->metrics.ppem, impl_->upem);
}

int32_t FontFace::TextWidth(std::u16string_view text) const {
  int64_t width = 0;
  for (size_t i = 0; i < text.size() && width < INT32_MAX;) {
    char32_t c = NextCodePoint(text, i);
    width += GlyphAdvance(c >= 0xD800 && c <= 0xDFFF ? 0 : GlyphIndex(c));
  }
  return static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX));
}

std::vector<uint8_t> FontFace::Charsets() const {
  std::vector<uint8_t> out;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(impl_->face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->version >= 1) {
    for (auto [bit, charset] : kCodePageBits)
      if (os2->ulCodePageRange1 & (1u << bit)) out.push_back(charset);
  }
  if (out.empty()) out.push_back(impl_->symbolMap ? 2 : 0);
  return out;
}

FontFileData::~FontFileData() = default;

std::unique_ptr<FontFileData> FontFace::MapFontData() const {
  if (!IsSfnt()) return nullptr;
  std::shared_ptr<const MappedFile> mapped = impl_->file;
  if (!mapped) {
    FontSystem& fs = FontSystem::Get();
    std::lock_guard<std::mutex> lock(fs.Lock());
    mapped = fs.Map(impl_->path);
  }
  if (!mapped || mapped->size < 12) return nullptr;
  auto file = std::unique_ptr<FontFileData>(new FontFileData);
  const View bytes(mapped->data, mapped->size);
  const uint32_t tag = BE32(bytes, 0);
  if (tag == TTAG_ttcf) {
    if (!ExtractCollectionFace(bytes, impl_->index, file->owned_)) return nullptr;
    file->bytes_ = file->owned_;
    return file;
  }
  if (tag != 0x00010000u && tag != TTAG_true && tag != TTAG_OTTO) return nullptr;
  file->file_ = std::move(mapped);
  file->bytes_ = bytes;
  return file;
}

bool FontFace::FontData(std::vector<uint8_t>& bytes) const {
  std::unique_ptr<FontFileData> file = MapFontData();
  if (!file) return false;
  bytes.assign(file->Bytes().begin(), file->Bytes().end());
  return true;
}

// ---- Families ----

std::vector<uint8_t> FontFamilyCharsets(std::string_view familyName) {
  const std::string family = FontFamilyAlias(familyName);
  std::vector<std::pair<std::string, int>> faces;
  {
    FontSystem& fs = FontSystem::Get();
    std::lock_guard<std::mutex> lock(fs.Lock());
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_SCALABLE, nullptr);
    FcFontSet* set = FcFontList(fs.Config(), pattern, objects);
    for (int i = 0; set && i < set->nfont; ++i) {
      FcChar8* file = nullptr;
      int index = 0;
      FcBool scalable = FcFalse;
      if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
      if (FcPatternGetBool(set->fonts[i], FC_SCALABLE, 0, &scalable) != FcResultMatch || !scalable)
        continue;
      FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
      faces.emplace_back(reinterpret_cast<const char*>(file), index);
    }
    if (set) FcFontSetDestroy(set);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
  }
  std::sort(faces.begin(), faces.end());
  std::vector<uint8_t> out;
  for (const auto& [file, index] : faces) {
    auto face = FontFace::Open(file, index, 0);
    if (!face) continue;
    for (uint8_t charset : face->Charsets())
      if (std::find(out.begin(), out.end(), charset) == out.end()) out.push_back(charset);
  }
  return out;
}

uint64_t FontConfigurationGeneration() {
  FontSystem& fs = FontSystem::Get();
  std::lock_guard<std::mutex> lock(fs.Lock());
  fs.CurrentConfig();
  return fs.Generation();
}

bool UseFontConfiguration(const std::string& confFile) {
  FontSystem& fs = FontSystem::Get();
  std::lock_guard<std::mutex> lock(fs.Lock());
  if (confFile.empty()) {
    fs.SetConfig(nullptr);
    return true;
  }
  FcConfig* config = FcConfigCreate();
  if (!config) return false;
  if (!FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(confFile.c_str()), FcTrue) ||
      !FcConfigBuildFonts(config)) {
    FcConfigDestroy(config);
    return false;
  }
  fs.SetConfig(config);
  return true;
}

}  // namespace platform
