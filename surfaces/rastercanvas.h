// The raster surface: a device context over a QImage (page bitmap, preview,
// pictures) or any other Qt paint device (a printer), and the wrapper that
// gives it the TRenderingCanvas interface with the drawing semantics of the
// classic Windows GDI calls.
#pragma once

#include "surfaces/canvas.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPaintDevice;

namespace quillard {

// Device context: the paint device, its painter, its resolution, the current
// point and the font selected into it. Borrowed by the wrappers built on it.
class TDeviceContext {
public:
    // Paints on an image owned by the caller; the resolution is the image's
    // dots per meter converted to dots per inch (96 when unset).
    explicit TDeviceContext(QImage* Image);
    // Paints on any paint device at the given resolution and physical offsets.
    TDeviceContext(QPaintDevice* Device, int DpiX, int DpiY, int OffsetX = 0, int OffsetY = 0);
    ~TDeviceContext();
    TDeviceContext(const TDeviceContext&) = delete;
    TDeviceContext& operator=(const TDeviceContext&) = delete;

    QPainter& Painter() { return *FPainter; }
    QPaintDevice* Device() const { return FDevice; }
    QImage* Image() const { return FImage; }
    int DpiX() const { return FDpiX; }
    int DpiY() const { return FDpiY; }
    int OffsetX() const { return FOffsetX; }
    int OffsetY() const { return FOffsetY; }

    // Ends painting (flushes everything into the device). The context can not
    // draw afterwards.
    void End();

    // State that lives in the device context, not in the wrapper.
    QPoint Current;                      // MoveTo / LineTo / TextOut current point
    std::optional<QFont> RotatedFont;    // font made by SetFontAngle, while selected
    double RotatedAngle = 0;             // its escapement (whole tenths of a degree), in radians
    bool BrushForcedClear = false;       // text has no background while the rotated font is selected
    // The font attributes last copied into the context (or that SetFontAngle
    // built the rotated font from), to tell whether a copy changes the font;
    // a change drops the rotated font and the forced clear brush.
    std::optional<TFont> LastFont;
    // Which canvas last copied its font in, and its font serial then: a font
    // assignment since (TRenderingCanvas::FontChanged) drops a rotated font.
    const void* LastFontOwner = nullptr;
    uint32_t LastFontSerial = 0;

private:
    QPaintDevice* FDevice = nullptr;
    QImage* FImage = nullptr;
    std::unique_ptr<QPainter> FPainter;
    int FDpiX = 96, FDpiY = 96, FOffsetX = 0, FOffsetY = 0;
};

// Builds the Qt font for a surface font at a device resolution: the pixel
// height is MulDiv(Size, Dpi, 72), as a character height request (a negative
// size asks for the cell height instead). Hinting, kerning and shaping are
// off, so advance widths scale linearly with the size, as the layout expects.
QFont MakeDeviceFont(const TFont& Font, int DpiY);

class TRasterCanvas : public TRenderingCanvas {
public:
    explicit TRasterCanvas(TDeviceContext* DC);
    ~TRasterCanvas() override;

    TDeviceContext* DeviceContext() const { return FDC; }

    void Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void Chord(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void CopyRect(const TRect& Dest, const TGraphic& Source, const TRect& SourceRect) override;
    void Draw(int X, int Y, const TGraphic& Graphic) override;
    void DrawFocusRect(const TRect& R) override;
    void Ellipse(int X1, int Y1, int X2, int Y2) override;
    void FillRect(const TRect& R) override;
    void FloodFill(int X, int Y, TColor Color, TFillStyle FillStyle) override;
    void FrameRect(const TRect& R) override;
    void LineTo(int X, int Y) override;
    void MoveTo(int X, int Y) override;
    void Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void Rectangle(int X1, int Y1, int X2, int Y2) override;
    void Polygon(const std::vector<TPoint>& Points) override;
    void Polyline(const std::vector<TPoint>& Points) override;
    void StretchDraw(const TRect& R, const TGraphic& Graphic) override;
    TSize TextExtent(const std::string& Text) override;
    int TextWidthJoined(const std::string& Head, const std::string& Tail, size_t From, size_t To,
                        uint64_t TailKey) override;
    void TextOut(int X, int Y, const std::string& Text) override;
    void TextRect(const TRect& R, int X, int Y, const std::string& Text) override;
    int GetDeviceCaps(int Index) override;
    void SetFontAngle(double Angle) override;
    bool DeviceArea(TRect& Area) override;

    // Set when a drawing operation combined its pixels with what was there
    // (a pen mode other than copy, black, white and nop, or a focus
    // rectangle): a surface that cannot combine pixels draws such a page as
    // a picture. Whoever watches for it clears it.
    bool RasterOpsDrawn = false;

protected:
    // Draws on DC from now on (a surface that draws a page elsewhere).
    void UseDeviceContext(TDeviceContext* DC) { FDC = DC; }

private:
    struct TTextState;

    bool Ready() const;
    // The font copy of the text operations: takes Font into the device
    // context and returns the font the context now draws with.
    const QFont& SelectFont();
    void BoxShape(int Kind, int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4);

    TDeviceContext* FDC;  // borrowed
    // The part of a long run that can reach the device from (X, Y).
    std::string VisiblePart(const std::string& Text, int X, int Y);
    // Report text as the characters the surface draws.
    QString SurfaceText(const std::string& Text) const;
    std::unique_ptr<TTextState> FText;  // fonts and metrics built for FDC
};

// A white picture of a page at a device's resolution, for a surface that
// draws a page elsewhere than on its device and puts the picture there.
class TPagePicture {
public:
    // Width x Height pixels at Dpi; nullptr when it cannot be had (more
    // than MaxPixels, or no memory).
    static std::unique_ptr<TPagePicture> Make(int Width, int Height, int Dpi, qint64 MaxPixels);
    ~TPagePicture();
    TDeviceContext& Context() { return *FContext; }
    // Ends the drawing and puts the picture on Target at its origin.
    void DrawOn(TDeviceContext& Target);

private:
    TPagePicture() = default;
    QImage FImage;
    std::unique_ptr<TDeviceContext> FContext;
};

// Report text is Windows-1252; surfaces convert it when they draw or measure.
QString Cp1252ToQString(const std::string& Bytes);
// Report text as the surface draws it in a face: the line-drawing face shows
// the PC box-drawing characters at bytes 179 to 223.
QString ReportTextToQString(const std::string& Bytes, bool LineDraw);
bool IsLineDrawFace(const std::string& Name);

}  // namespace quillard
