// A whole page pass over arbitrary report bytes on the raster surface: the
// pages are counted, page 1 and page 2 are drawn, and the pages are counted
// again, at 24 dots per inch so that an input runs in milliseconds.
//
// Input: one byte of options, then the report.
//   bit 0     box-drawing bytes are drawn with the line-drawing font
//   bits 1-2  search text: none, "E", "Total" or "}"
//   bit 3     the search is case-sensitive
//   bit 4     zoom 50% instead of 100%
#include "tests/fuzz/fuzzutil.h"

#include "engine/renderer.h"
#include "surfaces/imagecanvas.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

using namespace quillard;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 1)
        return 0;
    const uint8_t options = Data[0];
    const std::string& path = fuzz::WriteScratch(Data + 1, Size - 1);

    static const char* const findTexts[] = {"", "E", "Total", "}"};
    Globals().UseLineDrawFont = options & 1;
    const double zoom = (options & 16) ? 0.5 : 1.0;
    constexpr int Dpi = 24;

    {
        tRenderer r;
        r.Find.Text = findTexts[(options >> 1) & 3];
        r.Find.CaseSensitive = options & 8;
        TGauge gauge;
        r.OpenFile(path, &gauge);
        r.MeasureOnScreen(Dpi, zoom);
        r.UsePageSurface(std::make_unique<TImageCanvas>(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx, Dpi, Dpi));

        const int pages = r.CountPages();
        if (pages < 1) {
            std::fprintf(stderr, "CountPages gave %d\n", pages);
            std::abort();
        }
        r.RenderPages(&gauge, 1, nullptr, 1);
        r.RenderPages(&gauge, 2, nullptr, 2);
        // Every pass starts from the first byte with a fresh state: drawing
        // pages in between must not change the count.
        const int again = r.CountPages();
        if (again != pages) {
            std::fprintf(stderr, "CountPages gave %d, then %d after drawing pages 1 and 2\n", pages, again);
            std::abort();
        }
    }
    Globals().UseLineDrawFont = false;
    // Qt trims its font caches from timer events, as the program's event
    // loop would run them.
    QCoreApplication::processEvents();
    return 0;
}
