#include "surfaces/pdfcanvas.h"

#include "surfaces/pdffontmetrics.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace quillard {

namespace {

constexpr int DeviceDpi = 300;
// The resolution of the screen text is measured at. Fixed, so that the
// measure is the same on every machine.
constexpr int ScreenDpi = 96;

[[noreturn]] void Overflow() { throw std::overflow_error("Integer overflow"); }

bool SameUpper(const std::string& Name, const char* Upper)
{
    const size_t n = std::strlen(Upper);
    if (Name.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = Name[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != Upper[i])
            return false;
    }
    return true;
}

int32_t ClampInt(int64_t V)
{
    if (V > INT32_MAX)
        return INT32_MAX;
    if (V < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(V);
}

}  // namespace

tPDFCanvasWrapper::tPDFCanvasWrapper() : FWriter(std::make_unique<TPrintPDF>()) {}

tPDFCanvasWrapper::~tPDFCanvasWrapper() = default;

int32_t tPDFCanvasWrapper::ToPoints(int32_t V)
{
    int32_t scaled;
    if (__builtin_mul_overflow(V, 72, &scaled))
        Overflow();
    return scaled / DeviceDpi;
}

int tPDFCanvasWrapper::PdfFontFor(const std::string& FaceName, TFontStyles Style)
{
    int family;
    if (SameUpper(FaceName, "HELVETICA") || SameUpper(FaceName, "ARIAL"))
        family = 0;
    else if (SameUpper(FaceName, "COURIER") || SameUpper(FaceName, "COURIER NEW"))
        family = 4;
    else if (SameUpper(FaceName, "TIMES") || SameUpper(FaceName, "TIMES NEW ROMAN"))
        family = 8;
    else if (SameUpper(FaceName, "SYMBOL"))
        return 12;
    else if (SameUpper(FaceName, "ZAPFDINGBATS") || SameUpper(FaceName, "ZAPF") || SameUpper(FaceName, "ZAPF DINGBATS"))
        return 13;
    else
        return -1;
    const bool bold = Style & fsBold, italic = Style & fsItalic;
    if (bold && italic)
        return family + 3;
    if (bold)
        return family + 1;
    if (italic)
        return family + 2;
    return family;
}

std::string tPDFCanvasWrapper::EscapeText(const std::string& Text)
{
    // The escape of every byte that needs one (0 for the others).
    static const auto escapes = [] {
        std::array<char, 256> t{};
        t[static_cast<unsigned char>('\\')] = '\\';
        t[static_cast<unsigned char>('(')] = '(';
        t[static_cast<unsigned char>(')')] = ')';
        t[static_cast<unsigned char>('\t')] = 't';
        t[static_cast<unsigned char>('\n')] = 'n';
        t[static_cast<unsigned char>('\f')] = 'f';
        t[static_cast<unsigned char>('\r')] = 'r';
        return t;
    }();
    std::string out;
    out.reserve(Text.size() + 8);
    const char* p = Text.data();
    const char* end = p + Text.size();
    const char* run = p;
    for (; p != end; ++p) {
        const char e = escapes[static_cast<unsigned char>(*p)];
        if (e) {
            out.append(run, p);
            out += '\\';
            out += e;
            run = p + 1;
        }
    }
    out.append(run, end);
    return out;
}

int tPDFCanvasWrapper::MappedFont()
{
    if (Font.Name != FMapName || Font.Style != FMapStyle || FMapFont == -2) {
        FMapName = Font.Name;
        FMapStyle = Font.Style;
        FMapFont = PdfFontFor(Font.Name, Font.Style);
    }
    return FMapFont;
}

int tPDFCanvasWrapper::MeasuringFont()
{
    const int mapped = MappedFont();
    if (mapped >= 0)
        return mapped;
    const int current = FWriter->Font.FontNumber;
    return current < PdfStandardFontCount ? current : 4;
}

// ---- operations that draw nothing in a PDF ------------------------------------

void tPDFCanvasWrapper::Arc(int, int, int, int, int, int, int, int) {}
void tPDFCanvasWrapper::Chord(int, int, int, int, int, int, int, int) {}
void tPDFCanvasWrapper::CopyRect(const TRect&, const TGraphic&, const TRect&) {}
void tPDFCanvasWrapper::DrawFocusRect(const TRect&) {}
void tPDFCanvasWrapper::Ellipse(int, int, int, int) {}
void tPDFCanvasWrapper::FloodFill(int, int, TColor, TFillStyle) {}
void tPDFCanvasWrapper::FrameRect(const TRect&) {}
void tPDFCanvasWrapper::Pie(int, int, int, int, int, int, int, int) {}
void tPDFCanvasWrapper::Polygon(const std::vector<TPoint>&) {}
void tPDFCanvasWrapper::Polyline(const std::vector<TPoint>&) {}
void tPDFCanvasWrapper::StretchDraw(const TRect&, const TGraphic&) {}
void tPDFCanvasWrapper::SetFontAngle(double) {}

// ---- drawing ----------------------------------------------------------------------

void tPDFCanvasWrapper::Draw(int X, int Y, const TGraphic& Graphic)
{
    FWriter->DrawImage(ToPoints(X), ToPoints(Y), Graphic);
}

void tPDFCanvasWrapper::FillRect(const TRect& R)
{
    const TRect p{ToPoints(R.Left), ToPoints(R.Top), ToPoints(R.Right), ToPoints(R.Bottom)};
    FWriter->FillColor = Brush.Color;
    FWriter->FillRectangle(p);
}

void tPDFCanvasWrapper::MoveTo(int X, int Y)
{
    FCurrentX = X;
    FCurrentY = Y;
}

void tPDFCanvasWrapper::LineTo(int X, int Y)
{
    // Each segment is a path of its own.
    const int32_t x0 = ToPoints(FCurrentX), y0 = ToPoints(FCurrentY);
    const int32_t x1 = ToPoints(X), y1 = ToPoints(Y);
    TPrintPDF& w = *FWriter;
    w.MoveTo(x0, y0);
    w.PenColor = Pen.Color;
    w.LineWidth = Pen.Width;
    w.LineTo(x1, y1);
    w.Stroke();
    FCurrentX = X;
    FCurrentY = Y;
}

void tPDFCanvasWrapper::Rectangle(int X1, int Y1, int X2, int Y2)
{
    const int32_t x1 = ToPoints(X1), y1 = ToPoints(Y1), x2 = ToPoints(X2), y2 = ToPoints(Y2);
    TPrintPDF& w = *FWriter;
    w.PenColor = Pen.Color;
    w.FillColor = Brush.Color;
    // A clear pen writes no width: the width in force strokes the outline.
    w.LineWidth = Pen.Style == psClear ? 0 : Pen.Width;
    w.DrawRectangle(x1, y1, x2, y2);
}

// ---- text ---------------------------------------------------------------------------

void tPDFCanvasWrapper::PrepareMeasure()
{
    const int font = MeasuringFont();
    const int64_t size = std::llabs(static_cast<int64_t>(Font.Size));
    const int64_t ppem = (size * 10 * ScreenDpi + 36) / 72;
    if (FCache.Font != font || FCache.PixelsPerEm != ppem) {
        const TPdfFontMetrics& m = PdfStandardFontMetrics[font];
        for (int b = 0; b < 256; ++b)
            FCache.Advance[b] = ClampInt((m.Widths[b] * ppem + 500) / 1000);
        const int64_t upm = m.UnitsPerEm;
        FCache.Height = ClampInt((m.Ascent * ppem + upm / 2) / upm + (m.Descent * ppem + upm / 2) / upm);
        FCache.Font = font;
        FCache.PixelsPerEm = ppem;
    }
}

TSize tPDFCanvasWrapper::TextExtent(const std::string& Text)
{
    // The measure of a screen font of ten times the size at 96 dpi, whole
    // pixels per character as the screen gives them, scaled to 300 dpi.
    PrepareMeasure();
    int64_t width = 0;
    for (unsigned char c : Text)
        width += FCache.Advance[c];
    return TSize{ClampInt(width * DeviceDpi / 10 / ScreenDpi), ClampInt(int64_t{FCache.Height} * DeviceDpi / 10 / ScreenDpi)};
}

int tPDFCanvasWrapper::TextHeight(const std::string& Text)
{
    // The cell height does not depend on the text.
    PrepareMeasure();
    return ClampInt(int64_t{FCache.Height} * DeviceDpi / 10 / ScreenDpi);
}

void tPDFCanvasWrapper::TextOut(int X, int Y, const std::string& Text)
{
    TPrintPDF& w = *FWriter;
    const int mapped = MappedFont();
    if (mapped >= 0)
        w.Font.FontNumber = static_cast<uint8_t>(mapped);
    w.Font.Size = Font.Size;
    w.Font.Color = Font.Color;
    const std::string escaped = EscapeText(Text);
    const int h = TextHeight(escaped);
    int32_t bottom;
    if (__builtin_add_overflow(static_cast<int32_t>(Y), static_cast<int32_t>(h), &bottom))
        Overflow();
    // The baseline sits at the bottom of the measured cell, so that (X, Y) is
    // the text's top-left corner as on the other surfaces.
    w.TextOut(ToPoints(X), ToPoints(bottom), escaped);
}

void tPDFCanvasWrapper::TextRect(const TRect& R, int X, int Y, const std::string& Text) { TextOut(X, Y, Text); }

int tPDFCanvasWrapper::GetDeviceCaps(int Index)
{
    return Index == LOGPIXELSX || Index == LOGPIXELSY ? DeviceDpi : 0;
}

// ---------------------------------------------------------------------------
// The facade

tPDFMaker::tPDFMaker() : FOwned(std::make_unique<tPDFCanvasWrapper>()), FCanvas(FOwned.get()) {}

tPDFMaker::~tPDFMaker() = default;

std::unique_ptr<TRenderingCanvas> tPDFMaker::LendCanvas()
{
    if (!FOwned)
        throw std::logic_error("The PDF surface is already lent");
    return std::unique_ptr<TRenderingCanvas>(FOwned.release());
}

void tPDFMaker::TakeBackCanvas(std::unique_ptr<TRenderingCanvas> C)
{
    if (C && C.get() == FCanvas && !FOwned)
        FOwned.reset(static_cast<tPDFCanvasWrapper*>(C.release()));
}

namespace {

int PointsToDevice(int32_t Points)
{
    const int64_t v = int64_t{Points} * DeviceDpi / 72;
    if (v > INT32_MAX || v < INT32_MIN)
        Overflow();
    return static_cast<int>(v);
}

}  // namespace

int tPDFMaker::PageWidth() const { return PointsToDevice(Writer().PageWidth); }

int tPDFMaker::PageHeight() const { return PointsToDevice(Writer().PageHeight); }

void tPDFMaker::SetPageWidth(int V) { Writer().PageWidth = tPDFCanvasWrapper::ToPoints(V); }

void tPDFMaker::SetPageHeight(int V) { Writer().PageHeight = tPDFCanvasWrapper::ToPoints(V); }

}  // namespace quillard
