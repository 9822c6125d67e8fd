#include "pdf/core/zoConsts.h"

#include <atomic>

#include "platform/RtlSysUtils.h"

namespace {

std::atomic<int32_t> g_ppi{96};

constexpr TColor Rgb(uint32_t r, uint32_t g, uint32_t b) {
  return r | (g << 8) | (b << 16);
}

// Windows' default system colours, by index.
constexpr TColor kSysColors[] = {
    Rgb(200, 200, 200),  // 0 scroll bar
    Rgb(0, 0, 0),        // 1 desktop
    Rgb(153, 180, 209),  // 2 active caption
    Rgb(191, 205, 219),  // 3 inactive caption
    Rgb(240, 240, 240),  // 4 menu
    Rgb(255, 255, 255),  // 5 window
    Rgb(100, 100, 100),  // 6 window frame
    Rgb(0, 0, 0),        // 7 menu text
    Rgb(0, 0, 0),        // 8 window text
    Rgb(0, 0, 0),        // 9 caption text
    Rgb(180, 180, 180),  // 10 active border
    Rgb(244, 247, 252),  // 11 inactive border
    Rgb(171, 171, 171),  // 12 application work space
    Rgb(0, 120, 215),    // 13 highlight
    Rgb(255, 255, 255),  // 14 highlight text
    Rgb(240, 240, 240),  // 15 button face
    Rgb(160, 160, 160),  // 16 button shadow
    Rgb(109, 109, 109),  // 17 grey text
    Rgb(0, 0, 0),        // 18 button text
    Rgb(0, 0, 0),        // 19 inactive caption text
    Rgb(255, 255, 255),  // 20 button highlight
    Rgb(105, 105, 105),  // 21 3-D dark shadow
    Rgb(227, 227, 227),  // 22 3-D light
    Rgb(0, 0, 0),        // 23 tooltip text
    Rgb(255, 255, 225),  // 24 tooltip background
    Rgb(0, 0, 0),        // 25 (none)
    Rgb(0, 102, 204),    // 26 hot-tracked item
    Rgb(185, 209, 234),  // 27 active caption gradient
    Rgb(215, 228, 242),  // 28 inactive caption gradient
    Rgb(0, 120, 215),    // 29 menu highlight
    Rgb(240, 240, 240),  // 30 menu bar
};

}  // namespace

int32_t ScreenPixelsPerInch() {
  return g_ppi.load(std::memory_order_relaxed);
}

void SetScreenPixelsPerInch(int32_t ppi) {
  if (ppi < 1) throw rtl::Exception(rtl::Format("Invalid screen resolution (%d)", ppi));
  g_ppi.store(ppi, std::memory_order_relaxed);
}

double ScreenScale() {
  return ScreenPixelsPerInch() / 72.0;
}

TColor SysColorValue(uint32_t index) {
  return index < std::size(kSysColors) ? kSysColors[index] : 0;
}
