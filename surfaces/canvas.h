// The abstract drawing surface every page is drawn through, and the types it
// passes around. Coordinates are integer device units of the surface, x to the
// right and y downwards; font sizes are points; angles are radians,
// counter-clockwise.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillard {

// 0x00BBGGRR, with the platform's special values (system colours with the top
// bit set, clNone).
using TColor = uint32_t;
using COLORREF = uint32_t;

constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clWindowText = 0x80000008;
constexpr TColor PaletteFlag = 0x02000000;

// Turns any colour value the engine passes to a surface into plain 0x00BBGGRR:
// the palette-relative flag is dropped and the system colours map to fixed ones.
uint32_t ResolveColor(TColor c);

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
};

struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
};

struct TSize {
    int cx = 0;
    int cy = 0;
};

enum TBrushStyle : uint8_t { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode : uint8_t {
    pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
    pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
enum TFillStyle : uint8_t { fsSurface, fsBorder };

// Styles stored as bytes (in spans and markup) back to their enumerations;
// values out of range give the plain solid style.
inline TPenStyle ToPenStyle(int v) { return v >= 0 && v <= psInsideFrame ? static_cast<TPenStyle>(v) : psSolid; }
inline TBrushStyle ToBrushStyle(int v) { return v >= 0 && v <= bsDiagCross ? static_cast<TBrushStyle>(v) : bsSolid; }
inline TPenMode ToPenMode(int v) { return static_cast<TPenMode>(v & 15); }

// Font style set, one byte.
using TFontStyles = uint8_t;
constexpr TFontStyles fsBold = 1;
constexpr TFontStyles fsItalic = 2;
constexpr TFontStyles fsUnderline = 4;
constexpr TFontStyles fsStrikeOut = 8;

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

struct TFont {
    std::string Name = "MS Sans Serif";
    int Size = 8;
    TFontStyles Style = 0;
    TColor Color = clWindowText;
};

struct TPen {
    TColor Color = clBlack;
    int Width = 1;
    TPenStyle Style = psSolid;
    TPenMode Mode = pmCopy;
};

// A decoded picture: 32-bit pixels, 0xAARRGGBB, rows top-down.
struct TGraphic {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
    // The file's own bytes when the picture was decoded from a JPEG file, for
    // surfaces that embed JPEG data as it is; empty otherwise.
    std::vector<uint8_t> JpegData{};
    // What a surface that keeps pictures once per document (the PDF writer)
    // made of this one's content, kept for its next drawing; the pixels
    // never change once a picture has been drawn.
    mutable std::string ContentDigest{};
    bool Empty() const { return Width <= 0 || Height <= 0; }
};

// GetDeviceCaps indexes the engine asks for.
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int PHYSICALOFFSETX = 112;
constexpr int PHYSICALOFFSETY = 113;

class ECannotCreateFont : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TRenderingCanvas {
public:
    TRenderingCanvas() = default;
    virtual ~TRenderingCanvas() = default;
    TRenderingCanvas(const TRenderingCanvas&) = delete;
    TRenderingCanvas& operator=(const TRenderingCanvas&) = delete;

    TBrush Brush;
    TFont Font;
    TPen Pen;
    TPoint PenPos;          // always (0, 0): no surface moves it
    uint32_t CopyMode = 0xCC0020;

    // Assigning a font attribute rebuilds the surface's font: a rotated font
    // selected by SetFontAngle is dropped at the next text operation even if
    // the attributes end up as they were. Writers of Font call this after a
    // change that must take effect that way.
    void FontChanged() { ++FontSerial; }
    uint32_t FontSerial = 0;
    // The text given to the text operations is UTF-8; otherwise each byte is
    // a Windows-1252 character.
    bool Utf8Text = false;

    virtual void Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) = 0;
    virtual void Chord(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) = 0;
    virtual void CopyRect(const TRect& Dest, const TGraphic& Source, const TRect& SourceRect) = 0;
    virtual void Draw(int X, int Y, const TGraphic& Graphic) = 0;
    virtual void DrawFocusRect(const TRect& R) = 0;
    virtual void Ellipse(int X1, int Y1, int X2, int Y2) = 0;
    virtual void FillRect(const TRect& R) = 0;
    virtual void FloodFill(int X, int Y, TColor Color, TFillStyle FillStyle) = 0;
    virtual void FrameRect(const TRect& R) = 0;
    virtual void LineTo(int X, int Y) = 0;
    virtual void MoveTo(int X, int Y) = 0;
    virtual void Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) = 0;
    virtual void Rectangle(int X1, int Y1, int X2, int Y2) = 0;
    virtual void Polygon(const std::vector<TPoint>& Points) = 0;
    virtual void Polyline(const std::vector<TPoint>& Points) = 0;
    virtual void StretchDraw(const TRect& R, const TGraphic& Graphic) = 0;
    virtual TSize TextExtent(const std::string& Text) = 0;
    virtual int TextHeight(const std::string& Text) { return TextExtent(Text).cy; }
    virtual void TextOut(int X, int Y, const std::string& Text) = 0;
    virtual void TextRect(const TRect& R, int X, int Y, const std::string& Text) = 0;
    virtual int TextWidth(const std::string& Text) { return TextExtent(Text).cx; }
    // TextWidth of Head followed by Tail[From, To). Measuring the many
    // tails of one long text this way costs no more than measuring it once
    // on surfaces that keep running sums of character widths over a tail:
    // TailKey names the tail's content (a new key whenever it changes).
    virtual int TextWidthJoined(const std::string& Head, const std::string& Tail, size_t From, size_t To,
                                uint64_t TailKey)
    {
        return TextWidth(Head + Tail.substr(From, To - From));
    }
    virtual int GetDeviceCaps(int Index) = 0;
    virtual void SetFontAngle(double Angle) = 0;
    // The device area in which anything drawn can show: what lies outside
    // is cut off. False when the surface cannot tell.
    virtual bool DeviceArea(TRect& Area) { return false; }
    // The text a figure stands for (a box-drawing character drawn as lines),
    // UTF-8, in the current font over the text cell the figure stands in: a
    // surface that keeps text (the PDF) keeps it there unseen, to be found
    // and copied. Others draw nothing.
    virtual void FigureText(const TRect& Cell, const std::string& Text) {}
    // The page pass tells the surface of each page of its range as it
    // starts and as it ends (Page: its number in the report). A surface of
    // many pages (a PDF document, a print job) starts a new sheet for a page
    // that follows an ended one; a surface of one page (the preview, a
    // picture) has nothing to do.
    virtual void StartPage(int Page) {}
    virtual void EndPage(int Page) {}
};

}  // namespace quillard
