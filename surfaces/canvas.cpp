// Colour resolution shared by every surface.
#include "surfaces/canvas.h"

namespace quillard {

namespace {

// Default values of the system colours (index = low byte of the colour value),
// in the order of the Windows COLOR_* indexes, as 0x00BBGGRR. A surface has
// no desktop theme to ask, so these are fixed.
constexpr uint32_t SystemColors[] = {
    0xC8C8C8,  //  0 scroll bar
    0x000000,  //  1 background (desktop)
    0xD1B499,  //  2 active caption
    0xDBCDBF,  //  3 inactive caption
    0xF0F0F0,  //  4 menu
    0xFFFFFF,  //  5 window
    0x646464,  //  6 window frame
    0x000000,  //  7 menu text
    0x000000,  //  8 window text
    0x000000,  //  9 caption text
    0xB4B4B4,  // 10 active border
    0xFCF7F4,  // 11 inactive border
    0xABABAB,  // 12 application workspace
    0xFF9933,  // 13 highlight
    0xFFFFFF,  // 14 highlight text
    0xF0F0F0,  // 15 button face
    0xA0A0A0,  // 16 button shadow
    0x6D6D6D,  // 17 grey text
    0x000000,  // 18 button text
    0x000000,  // 19 inactive caption text
    0xFFFFFF,  // 20 button highlight
    0x696969,  // 21 3-D dark shadow
    0xE3E3E3,  // 22 3-D light
    0x000000,  // 23 tooltip text
    0xE1FFFF,  // 24 tooltip background
    0x000000,  // 25 (unused)
    0xCC6600,  // 26 hot light
    0xEAD1B9,  // 27 gradient active caption
    0xF2E4D7,  // 28 gradient inactive caption
    0xFF9933,  // 29 menu highlight
    0xF0F0F0,  // 30 menu bar
};

}  // namespace

uint32_t ResolveColor(TColor c)
{
    if (c & 0x80000000u) {
        const uint32_t index = c & 0xFF;
        if (index < sizeof(SystemColors) / sizeof(SystemColors[0]))
            return SystemColors[index];
        return 0x000000;
    }
    // Plain colours, palette-relative ones (0x02...) and clNone alike: the
    // flag byte carries no colour, the low three bytes are the colour.
    return c & 0x00FFFFFFu;
}

}  // namespace quillard
