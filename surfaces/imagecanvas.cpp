#include "surfaces/imagecanvas.h"

#include <algorithm>
#include <cmath>

namespace quillard {

namespace detail {
TImageHolder::TImageHolder(int Width, int Height, int DpiX, int DpiY, uint32_t Fill)
    : Image(std::max(1, Width), std::max(1, Height), QImage::Format_RGB32)
{
    Image.fill(Fill);
    Image.setDotsPerMeterX(static_cast<int>(std::lround(DpiX / 0.0254)));
    Image.setDotsPerMeterY(static_cast<int>(std::lround(DpiY / 0.0254)));
    DC = std::make_unique<TDeviceContext>(&Image);
}
}  // namespace detail

TImageCanvas::TImageCanvas(int Width, int Height, int DpiX, int DpiY, uint32_t Fill)
    : detail::TImageHolder(Width, Height, DpiX, DpiY, Fill), TRasterCanvas(DC.get())
{
}

TImageCanvas::~TImageCanvas() = default;

const QImage& TImageCanvas::Image()
{
    // The raster painter writes straight into the bitmap, so it can be read
    // while the painter is still active.
    return detail::TImageHolder::Image;
}

}  // namespace quillard
