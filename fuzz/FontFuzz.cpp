// Font loading and subsetting over arbitrary bytes: the table directory, the character map, the
// glyph widths, the composite closure and the subset, which must read back with the same glyph
// count and character map. Damaged data may only raise the library's font error.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "pdf/document/zoPDFFont.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TzoTrueTypeData font(std::span<const uint8_t>(data, size), "fuzz");
    const auto map = font.ReadCmap();
    const auto widths = font.ReadGlyphWidths();
    if (!widths.empty() && widths.size() != font.NumGlyphs()) std::abort();
    std::vector<bool> keep(font.NumGlyphs(), false);
    if (!keep.empty()) keep[0] = true;
    for (size_t i = 0; i < map.size(); i += 5)
      keep.at(map[i].second) = true;
    const std::vector<bool> closed = font.CloseOverComposites(keep);
    const std::vector<uint8_t> subset = font.BuildSubset(closed);
    TzoTrueTypeData again(subset, "fuzz subset");
    if (again.NumGlyphs() != font.NumGlyphs()) std::abort();
    if (font.FindTable("cmap") && again.ReadCmap() != map) std::abort();
    if (again.CloseOverComposites(closed) != closed) std::abort();
  } catch (const EUnsupportedFontError&) {
  }
  return 0;
}
