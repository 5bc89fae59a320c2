// A raster surface that owns its page bitmap: the preview's page, the
// pictures the command line writes, and the measuring surface of a renderer
// that has no printer.
#pragma once

#include "surfaces/rastercanvas.h"

#include <QImage>
#include <memory>

namespace quillard {

namespace detail {
struct TImageHolder {
    TImageHolder(int Width, int Height, int DpiX, int DpiY, uint32_t Fill);
    QImage Image;
    std::unique_ptr<TDeviceContext> DC;
};
}  // namespace detail

class TImageCanvas : private detail::TImageHolder, public TRasterCanvas {
public:
    // A white bitmap of Width x Height pixels at the given resolution.
    TImageCanvas(int Width, int Height, int DpiX, int DpiY, uint32_t Fill = 0xFFFFFFFF);
    ~TImageCanvas() override;
    // The bitmap with everything drawn so far.
    const QImage& Image();
};

}  // namespace quillard
