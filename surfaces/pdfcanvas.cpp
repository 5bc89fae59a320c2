#include "surfaces/pdfcanvas.h"

#include "surfaces/pdffontmetrics.h"
#include "surfaces/pdffonts.h"
#include "base/strings.h"
#include "base/textencoding.h"

#include <QPageSize>
#include <QSize>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

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

TPdfCanvas::TPdfCanvas() : FWriter(std::make_unique<TPdfWriter>()) {}

TPdfCanvas::~TPdfCanvas() = default;

int32_t TPdfCanvas::ToPoints(int32_t V)
{
    int32_t scaled;
    if (__builtin_mul_overflow(V, 72, &scaled))
        Overflow();
    return scaled / DeviceDpi;
}

int TPdfCanvas::PdfFontFor(const std::string& FaceName, TFontStyles Style)
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

std::string TPdfCanvas::EscapeText(const std::string& Text)
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
    for (;;) {
        // Eight bytes at a time while none needs an escape.
        while (end - p >= 8) {
            const uint64_t w = WordAt(p);
            if (WordHoldsByte(w, '\\') || WordHoldsByte(w, '(') || WordHoldsByte(w, ')') || WordHoldsByte(w, '\t') ||
                WordHoldsByte(w, '\n') || WordHoldsByte(w, '\f') || WordHoldsByte(w, '\r'))
                break;
            p += 8;
        }
        if (p == end)
            break;
        const char* const stop = std::min(end, p + 8);
        for (; p != stop; ++p) {
            const char e = escapes[static_cast<unsigned char>(*p)];
            if (e) {
                out.append(run, p);
                out += '\\';
                out += e;
                run = p + 1;
            }
        }
    }
    out.append(run, end);
    return out;
}

int TPdfCanvas::MappedFont()
{
    if (Font.Name != FMapName || Font.Style != FMapStyle || FMapFont == -2) {
        FMapName = Font.Name;
        FMapStyle = Font.Style;
        FMapFont = PdfFontFor(Font.Name, Font.Style);
        if (FMapFont < 0 && !Font.Name.empty() &&
            std::find(FUnmappedFaces.begin(), FUnmappedFaces.end(), UpperCase(Font.Name)) == FUnmappedFaces.end()) {
            // Said once a face: the PDF has only the standard fonts' faces.
            FUnmappedFaces.push_back(UpperCase(Font.Name));
            const int current = FWriter->Font.FontNumber < PdfStandardFontCount ? FWriter->Font.FontNumber : 4;
            FFaceWarnings.push_back("The font \"" + Font.Name +
                                    "\" is not one of the PDF's faces (those of Arial, Courier New and Times New "
                                    "Roman): its text is written in " + PdfBaseFonts[current]);
        }
    }
    return FMapFont;
}

int TPdfCanvas::MeasuringFont()
{
    const int mapped = MappedFont();
    if (mapped >= 0)
        return mapped;
    const int current = FWriter->Font.FontNumber;
    return current < PdfStandardFontCount ? current : 4;
}

// ---- pen and brush ------------------------------------------------------------

namespace {

constexpr double PointsPerUnit = 72.0 / DeviceDpi;

// Colours as the screen resolves them (system colours to their fixed values);
// clNone stays clNone, the writer's no-fill value.
TColor Plain(TColor C) { return C == clNone ? clNone : ResolveColor(C); }

// Dash lengths of the one-unit styled pens, on and off, in points: the screen's
// lengths in pixels.
std::vector<double> DashesOf(TPenStyle Style)
{
    switch (Style) {
    case psDash: return {18, 6};
    case psDot: return {3, 3};
    case psDashDot: return {9, 6, 3, 6};
    case psDashDotDot: return {9, 3, 3, 3, 3, 3};
    default: return {};
    }
}

constexpr double Pi = 3.14159265358979323846;

}  // namespace

TPdfCanvas::TInk TPdfCanvas::InkOf() const
{
    TInk k;
    if (Pen.Mode == pmNop) {
        k.Skip = true;
        return k;
    }
    k.PenColor = Plain(Pen.Color);
    k.BrushColor = Plain(Brush.Color);
    // The two pen modes that paint a fixed colour; the others combine with
    // the page, which a PDF cannot do: they paint as copies.
    if (Pen.Mode == pmBlack || Pen.Mode == pmWhite) {
        k.PenColor = k.BrushColor = Pen.Mode == pmBlack ? clBlack : clWhite;
    }
    k.BrushStyle = Brush.Style <= bsDiagCross ? Brush.Style : bsSolid;
    k.Interior = k.BrushStyle != bsClear && k.BrushColor != clNone;
    k.Outline = Pen.Style != psClear && Pen.Style <= psInsideFrame;
    k.Width = Pen.Width;
    k.Thin = Pen.Width <= 1;
    k.Inside = Pen.Style == psInsideFrame && !k.Thin;
    if (k.Thin)
        k.Dash = DashesOf(Pen.Style);
    return k;
}

void TPdfCanvas::PaintPath(const TInk& Ink, const std::function<void()>& Build, bool Closed, bool EvenOdd)
{
    TPdfWriter& w = *FWriter;
    bool fill = Ink.Interior && Closed;
    const bool stroke = Ink.Outline;
    if (Ink.Skip || (!fill && !stroke))
        return;
    w.PenColor = Ink.PenColor;
    w.FillColor = Ink.BrushColor;
    w.FillStyle = Ink.BrushStyle;
    w.LineWidth = Ink.Width;
    if (stroke && !Ink.Dash.empty() && Ink.BrushStyle == bsSolid && Ink.BrushColor != clNone) {
        // The gaps between the dashes show the brush colour.
        if (fill) {
            Build();
            w.Fill(EvenOdd);
            fill = false;
        }
        w.Dash.clear();
        w.PenColor = Ink.BrushColor;
        Build();
        w.Stroke();
        w.PenColor = Ink.PenColor;
    }
    w.Dash = stroke ? Ink.Dash : std::vector<double>{};
    Build();
    if (fill && stroke)
        w.FillAndStroke(EvenOdd);
    else if (fill)
        w.Fill(EvenOdd);
    else
        w.Stroke();
    w.Dash.clear();
    w.FillStyle = bsSolid;
}

// ---- what goes into the page ------------------------------------------------------

bool TPdfCanvas::Admit(int64_t Left, int64_t Top, int64_t Right, int64_t Bottom, int64_t Reach)
{
    // The sheet in device units: the drawing starts at the writer's origin.
    const TPdfWriter& w = *FWriter;
    const double unitsPerPoint = DeviceDpi / 72.0;
    const double sheetLeft = -w.OriginX * unitsPerPoint, sheetTop = -w.OriginY * unitsPerPoint;
    const double sheetRight = (std::abs(w.PageWidth) - w.OriginX) * unitsPerPoint,
                 sheetBottom = (std::abs(w.PageHeight) - w.OriginY) * unitsPerPoint;
    if (Left > Right)
        std::swap(Left, Right);
    if (Top > Bottom)
        std::swap(Top, Bottom);
    Reach = std::max<int64_t>(Reach, 0) + DeviceDpi;  // an inch more, whatever the object
    if (double(Right) + Reach < sheetLeft || double(Left) - Reach > sheetRight ||
        double(Bottom) + Reach < sheetTop || double(Top) - Reach > sheetBottom)
        return false;
    if (FPageObjects >= MaxObjectsPerPage || FDocumentObjects >= MaxObjectsPerDocument) {
        if (ObjectsLeftOut++ == 0)
            FirstPageOverLimit = FPage;
        return false;
    }
    ++FPageObjects;
    ++FDocumentObjects;
    return true;
}

bool TPdfCanvas::AdmitFigure(int64_t X1, int64_t Y1, int64_t X2, int64_t Y2)
{
    return Admit(X1, Y1, X2, Y2, std::abs(int64_t{Pen.Width}));
}

// ---- operations a PDF cannot express ------------------------------------------------

// The pixels a flood fill would reach are not known here; the focus
// rectangle inverts what is on the page.
void TPdfCanvas::DrawFocusRect(const TRect&) {}
void TPdfCanvas::FloodFill(int, int, TColor, TFillStyle) {}

// ---- figures --------------------------------------------------------------------------

void TPdfCanvas::MoveTo(int X, int Y)
{
    FCurrentX = X;
    FCurrentY = Y;
}

void TPdfCanvas::LineTo(int X, int Y)
{
    // Each segment is a path of its own.
    if (!AdmitFigure(FCurrentX, FCurrentY, X, Y)) {
        FCurrentX = X;
        FCurrentY = Y;
        return;
    }
    const int32_t x0 = ToPoints(FCurrentX), y0 = ToPoints(FCurrentY);
    const int32_t x1 = ToPoints(X), y1 = ToPoints(Y);
    TPdfWriter& w = *FWriter;
    TInk ink = InkOf();
    ink.Interior = false;
    // The screen counts a styled line's dashes in pixels along its major
    // axis: a slanting line's dashes are longer by its length over that.
    const double dx = std::abs(double(X) - FCurrentX), dy = std::abs(double(Y) - FCurrentY);
    if (std::max(dx, dy) > 0)
        for (double& d : ink.Dash)
            d *= std::hypot(dx, dy) / std::max(dx, dy);
    PaintPath(ink, [&] {
        w.MoveTo(x0, y0);
        w.LineTo(x1, y1);
    }, false, false);
    FCurrentX = X;
    FCurrentY = Y;
}

void TPdfCanvas::Rectangle(int X1, int Y1, int X2, int Y2)
{
    if (!AdmitFigure(X1, Y1, X2, Y2))
        return;
    const int32_t x1 = ToPoints(X1), y1 = ToPoints(Y1), x2 = ToPoints(X2), y2 = ToPoints(Y2);
    TPdfWriter& w = *FWriter;
    const TInk ink = InkOf();
    if (ink.Outline && !ink.Dash.empty()) {
        // Dashes run round from the top-left corner, to the right first.
        const int32_t l = std::min(x1, x2), r = std::max(x1, x2), t = std::min(y1, y2), b = std::max(y1, y2);
        PaintPath(ink, [&] {
            w.MoveTo(l, t);
            w.LineTo(r, t);
            w.LineTo(r, b);
            w.LineTo(l, b);
            w.ClosePath();
        }, true, false);
        return;
    }
    PaintPath(ink, [&] { w.RectanglePath(x1, y1, x2, y2); }, true, false);
}

void TPdfCanvas::FillRect(const TRect& R)
{
    if (Brush.Style == bsClear || !Admit(R.Left, R.Top, R.Right, R.Bottom, 0))
        return;
    const TRect p{ToPoints(R.Left), ToPoints(R.Top), ToPoints(R.Right), ToPoints(R.Bottom)};
    TPdfWriter& w = *FWriter;
    w.FillColor = Plain(Brush.Color);
    w.FillStyle = Brush.Style <= bsDiagCross ? Brush.Style : bsSolid;
    w.FillRectangle(p);
    w.FillStyle = bsSolid;
}

void TPdfCanvas::FrameRect(const TRect& R)
{
    if (Brush.Style == bsClear || R.Right <= R.Left || R.Bottom <= R.Top || !Admit(R.Left, R.Top, R.Right, R.Bottom, 0))
        return;
    // A frame one device unit wide, inside the rectangle, in the brush.
    TPdfWriter& w = *FWriter;
    const double l = R.Left * PointsPerUnit, t = R.Top * PointsPerUnit, r = R.Right * PointsPerUnit,
                 b = R.Bottom * PointsPerUnit;
    const double in = std::min({PointsPerUnit, (r - l) / 2, (b - t) / 2});
    w.MoveTo(l, t);
    w.LineTo(r, t);
    w.LineTo(r, b);
    w.LineTo(l, b);
    w.ClosePath();
    w.MoveTo(l + in, t + in);
    w.LineTo(r - in, t + in);
    w.LineTo(r - in, b - in);
    w.LineTo(l + in, b - in);
    w.ClosePath();
    w.FillColor = Plain(Brush.Color);
    w.FillStyle = Brush.Style <= bsDiagCross ? Brush.Style : bsSolid;
    w.Fill(true);
    w.FillStyle = bsSolid;
}

void TPdfCanvas::PointsPath(const std::vector<TPoint>& Points, bool Closed)
{
    if (Points.size() < 2)
        return;
    int64_t l = Points[0].X, t = Points[0].Y, r = l, b = t;
    for (const TPoint& p : Points) {
        l = std::min<int64_t>(l, p.X);
        r = std::max<int64_t>(r, p.X);
        t = std::min<int64_t>(t, p.Y);
        b = std::max<int64_t>(b, p.Y);
    }
    if (!AdmitFigure(l, t, r, b))
        return;
    TPdfWriter& w = *FWriter;
    TInk ink = InkOf();
    ink.Width = std::max<int32_t>(ink.Width, 1);
    // A polygon is closed by its last side and filled by alternate filling.
    PaintPath(ink, [&] {
        w.MoveTo(Points[0].X * PointsPerUnit, Points[0].Y * PointsPerUnit);
        for (size_t i = 1; i < Points.size(); ++i)
            w.LineTo(Points[i].X * PointsPerUnit, Points[i].Y * PointsPerUnit);
        if (Closed)
            w.ClosePath();
    }, Closed, Closed);
}

void TPdfCanvas::Polygon(const std::vector<TPoint>& Points) { PointsPath(Points, true); }

void TPdfCanvas::Polyline(const std::vector<TPoint>& Points) { PointsPath(Points, false); }

enum TBoxKind { bkEllipse, bkArc, bkChord, bkPie };

void TPdfCanvas::BoxShape(int Kind, int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    int L = std::min(X1, X2), R = std::max(X1, X2), T = std::min(Y1, Y2), B = std::max(Y1, Y2);
    if (R <= L || B <= T)
        return;
    TInk ink = InkOf();
    ink.Width = std::max<int32_t>(ink.Width, 1);
    if (ink.Skip || (Kind == bkArc && !ink.Outline) || !AdmitFigure(L, T, R, B))
        return;

    // The figure's box in points; a wide inside-frame pen keeps the outline
    // within it.
    double l = L * PointsPerUnit, t = T * PointsPerUnit, r = R * PointsPerUnit, b = B * PointsPerUnit;
    if (ink.Inside && ink.Outline) {
        const double half = ink.Width / 2.0;
        const double dx = std::min(half, (r - l) / 2), dy = std::min(half, (b - t) / 2);
        l += dx;
        r -= dx;
        t += dy;
        b -= dy;
    }
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    // A point of the ellipse by the angle of its parametric form,
    // counter-clockwise as seen on the page (y runs downwards).
    auto at = [&](double a) { return std::pair<double, double>(cx + rx * std::cos(a), cy - ry * std::sin(a)); };

    // The radial points to angles: where the rays from the centre through
    // them meet the ellipse. Equal angles make the whole figure.
    double start = 0, sweep = 2 * Pi;
    if (Kind != bkEllipse) {
        const double ccx = (double(L) + R) / 2 * PointsPerUnit, ccy = (double(T) + B) / 2 * PointsPerUnit;
        auto angleOf = [&](int PX, int PY) {
            const double dx = PX * PointsPerUnit - ccx, dy = ccy - PY * PointsPerUnit;
            if (dx == 0 && dy == 0)
                return 0.0;
            return std::atan2(dy * rx, dx * ry);
        };
        start = angleOf(X3, Y3);
        sweep = angleOf(X4, Y4) - start;
        while (sweep <= 1e-9)
            sweep += 2 * Pi;
        sweep = std::min(sweep, 2 * Pi);
    }

    TPdfWriter& w = *FWriter;
    auto build = [&] {
        const auto p0 = at(start);
        if (Kind == bkPie) {
            w.MoveTo(cx, cy);
            w.LineTo(p0.first, p0.second);
        } else {
            w.MoveTo(p0.first, p0.second);
        }
        // Bezier curves of at most a quarter turn each.
        const int n = std::max(1, int(std::ceil(sweep / (Pi / 2) - 1e-9)));
        const double step = sweep / n, k = 4.0 / 3.0 * std::tan(step / 4);
        for (int i = 0; i < n; ++i) {
            const double a = start + i * step, e = a + step;
            const auto p = at(a), q = at(e);
            w.CurveTo(p.first - k * rx * std::sin(a), p.second - k * ry * std::cos(a), q.first + k * rx * std::sin(e),
                      q.second + k * ry * std::cos(e), q.first, q.second);
        }
        if (Kind != bkArc)
            w.ClosePath();
    };
    if (Kind == bkArc)
        ink.Interior = false;
    PaintPath(ink, build, Kind != bkArc, false);
}

void TPdfCanvas::Ellipse(int X1, int Y1, int X2, int Y2) { BoxShape(bkEllipse, X1, Y1, X2, Y2, 0, 0, 0, 0); }

void TPdfCanvas::Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    BoxShape(bkArc, X1, Y1, X2, Y2, X3, Y3, X4, Y4);
}

void TPdfCanvas::Chord(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    BoxShape(bkChord, X1, Y1, X2, Y2, X3, Y3, X4, Y4);
}

void TPdfCanvas::Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    BoxShape(bkPie, X1, Y1, X2, Y2, X3, Y3, X4, Y4);
}

// ---- pictures -------------------------------------------------------------------------

void TPdfCanvas::Draw(int X, int Y, const TGraphic& Graphic)
{
    if (!Admit(X, Y, int64_t{X} + Graphic.Width, int64_t{Y} + Graphic.Height, 0))
        return;
    // One picture pixel per device unit.
    FWriter->DrawImage(X * PointsPerUnit, Y * PointsPerUnit, Graphic.Width * PointsPerUnit, Graphic.Height * PointsPerUnit,
                       Graphic);
}

void TPdfCanvas::StretchDraw(const TRect& R, const TGraphic& Graphic)
{
    if (!Admit(R.Left, R.Top, R.Right, R.Bottom, 0))
        return;
    FWriter->DrawImage(R.Left * PointsPerUnit, R.Top * PointsPerUnit, (double(R.Right) - R.Left) * PointsPerUnit,
                       (double(R.Bottom) - R.Top) * PointsPerUnit, Graphic);
}

void TPdfCanvas::CopyRect(const TRect& Dest, const TGraphic& Source, const TRect& SourceRect)
{
    // The part of the picture inside the source rectangle, stretched over
    // Dest; a source given right to left or bottom to top mirrors it.
    if (Source.Empty() || Source.Pixels.size() < size_t(Source.Width) * size_t(Source.Height) ||
        !Admit(Dest.Left, Dest.Top, Dest.Right, Dest.Bottom, 0))
        return;
    double dLeft = Dest.Left, dRight = Dest.Right, dTop = Dest.Top, dBottom = Dest.Bottom;
    int sl = SourceRect.Left, sr = SourceRect.Right, st = SourceRect.Top, sb = SourceRect.Bottom;
    if (sr < sl) {
        std::swap(sl, sr);
        std::swap(dLeft, dRight);
    }
    if (sb < st) {
        std::swap(st, sb);
        std::swap(dTop, dBottom);
    }
    const int cl = std::max(sl, 0), ct = std::max(st, 0), cr = std::min(sr, Source.Width), cb = std::min(sb, Source.Height);
    if (cr <= cl || cb <= ct)
        return;
    // The destination of the part that lies on the picture.
    const double kx = (dRight - dLeft) / (double(sr) - sl), ky = (dBottom - dTop) / (double(sb) - st);
    const double dl = dLeft + (double(cl) - sl) * kx, dt = dTop + (double(ct) - st) * ky;
    const double dr = dLeft + (double(cr) - sl) * kx, db = dTop + (double(cb) - st) * ky;
    TGraphic part;
    part.Width = cr - cl;
    part.Height = cb - ct;
    part.Pixels.reserve(size_t(part.Width) * size_t(part.Height));
    for (int y = ct; y < cb; ++y) {
        const uint32_t* row = Source.Pixels.data() + size_t(y) * size_t(Source.Width);
        part.Pixels.insert(part.Pixels.end(), row + cl, row + cr);
    }
    FWriter->DrawImage(dl * PointsPerUnit, dt * PointsPerUnit, (dr - dl) * PointsPerUnit, (db - dt) * PointsPerUnit, part);
}

// ---- text ---------------------------------------------------------------------------

void TPdfCanvas::PrepareMeasure()
{
    const int font = MeasuringFont();
    const int64_t size = std::llabs(static_cast<int64_t>(Font.Size));
    const int64_t ppem = (size * 10 * ScreenDpi + 36) / 72;
    if (FCache.Font != font || FCache.PixelsPerEm != ppem) {
        const TPdfFontMetrics& m = PdfStandardFontMetrics[font];
        for (int b = 0; b < 256; ++b)
            FCache.Advance[b] = ClampInt((m.Widths[b] * ppem + 500) / 1000);
        const int64_t upm = m.UnitsPerEm;
        FCache.Ascent = ClampInt((m.Ascent * ppem + upm / 2) / upm);
        FCache.Height = ClampInt(FCache.Ascent + (m.Descent * ppem + upm / 2) / upm);
        FCache.Font = font;
        FCache.PixelsPerEm = ppem;
    }
}

TSize TPdfCanvas::TextExtent(const std::string& Text)
{
    // The measure of a screen font of ten times the size at 96 dpi, whole
    // pixels per character as the screen gives them, scaled to 300 dpi.
    SelectFont();
    PrepareMeasure();
    const int64_t width = TextAdvance(Text);
    return TSize{ClampInt(width * DeviceDpi / 10 / ScreenDpi), ClampInt(int64_t{FCache.Height} * DeviceDpi / 10 / ScreenDpi)};
}

int64_t TPdfCanvas::Cp1252Advance(const std::string& Text) const
{
    // Four sums side by side: the additions do not wait on each other.
    const auto* p = reinterpret_cast<const unsigned char*>(Text.data());
    const size_t n = Text.size();
    int64_t w0 = 0, w1 = 0, w2 = 0, w3 = 0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        w0 += FCache.Advance[p[i]];
        w1 += FCache.Advance[p[i + 1]];
        w2 += FCache.Advance[p[i + 2]];
        w3 += FCache.Advance[p[i + 3]];
    }
    for (; i < n; ++i)
        w0 += FCache.Advance[p[i]];
    return w0 + w1 + w2 + w3;
}

int32_t TPdfCanvas::FaceAdvance(char32_t C)
{
    const TFaceGlyph& g = FWriter->Fonts().Lookup(FCache.Font, C);
    if (!g.Face)
        return FCache.Advance[static_cast<unsigned char>('?')];
    // Whole pixels, as the screen font gives them.
    return ClampInt((int64_t{g.Advance} * FCache.PixelsPerEm * 2 + g.UnitsPerEm) / (2 * int64_t{g.UnitsPerEm}));
}

int64_t TPdfCanvas::TextAdvance(const std::string& Text)
{
    if (!Utf8Text)
        return Cp1252Advance(Text);
    size_t unmapped = 0;
    const std::string bytes = Utf8ToCp1252(Text, &unmapped);
    if (unmapped == 0)
        return Cp1252Advance(bytes);
    int64_t width = 0;
    for (size_t i = 0; i < Text.size();) {
        const char32_t c = DecodeUtf8(Text, i);
        const unsigned char b = UnicodeToCp1252(c);
        width += b != 0 ? FCache.Advance[b] : FaceAdvance(c);
    }
    return width;
}

std::vector<std::string> TPdfCanvas::TakeFontWarnings()
{
    std::vector<std::string> out = std::exchange(FFaceWarnings, {});
    for (std::string& w : FWriter->Fonts().TakeWarnings())
        out.push_back(std::move(w));
    return out;
}

namespace {

// A run of text being put together: its font and its operand, with the
// displacements that put characters at the widths the text was measured
// with.
class TRunBuilder {
public:
    explicit TRunBuilder(std::vector<TPdfTextPiece>& Pieces) : FPieces(Pieces) {}

    // Starts a piece unless the open one is of Kind and Font.
    void Font(TPdfTextPiece::TKind Kind, int Font)
    {
        if (FOpen && FKind == Kind && FFont == Font)
            return;
        Close();
        FOpen = true;
        FKind = Kind;
        FFont = Font;
    }
    std::string& Raw() { return FRaw; }
    // The next character stands Displacement thousandths of an em left.
    void Displace(int32_t Displacement)
    {
        if (Displacement == 0)
            return;
        FArray += String();
        FArray += ' ';
        FArray += std::to_string(Displacement);
        FArray += ' ';
        FRaw.clear();
    }
    void Close()
    {
        if (!FOpen)
            return;
        std::string operand = FArray.empty() ? String() : "[" + FArray + String() + "]";
        FPieces.push_back({FKind, FFont, std::move(operand)});
        FRaw.clear();
        FArray.clear();
        FOpen = false;
    }

private:
    // Codes need no escape; standard fonts' bytes do.
    std::string String() const
    {
        return "(" + (FKind == TPdfTextPiece::Composite ? FRaw : TPdfCanvas::EscapeText(FRaw)) + ")";
    }

    std::vector<TPdfTextPiece>& FPieces;
    bool FOpen = false;
    TPdfTextPiece::TKind FKind = TPdfTextPiece::Standard;
    int FFont = 0;
    std::string FRaw, FArray;
};

}  // namespace

const TFaceGlyph& TPdfCanvas::ShownGlyph(const TFaceGlyph& Found)
{
    // PDF/A shows no missing-glyph box: the replacement character stands in
    // (at the box's place and width), and the text stays the character.
    return Found.Glyph == 0 && FWriter->PdfA ? FWriter->Fonts().StandIn(FCache.Font) : Found;
}

TPdfCanvas::TTextRoute TPdfCanvas::TextRuns(const std::string& Text, std::vector<TPdfTextPiece>& Pieces,
                                            std::string& Bytes)
{
    TPdfWriter& w = *FWriter;
    const bool every = w.EmbedsEveryFont();
    if (!every && !Utf8Text) {
        Bytes = Text;
        return TTextRoute::StandardBytes;
    }
    size_t unmapped = 0;
    std::string bytes;
    if (!every || Utf8Text) {
        bytes = Utf8Text ? Utf8ToCp1252(Text, &unmapped) : Text;
        if (!every && unmapped == 0) {
            Bytes = std::move(bytes);
            return TTextRoute::StandardBytes;
        }
    }
    const int standard = FCache.Font;
    TPdfFontSet& fonts = w.Fonts();
    if (!fonts.HasFace(standard)) {
        // No face to embed: the standard font's bytes, "?" for the others.
        UnmappedCharacters += unmapped;
        Bytes = Utf8Text ? std::move(bytes) : Text;
        return TTextRoute::StandardBytes;
    }
    const TPdfFontMetrics& metrics = PdfStandardFontMetrics[standard];
    const int16_t* simpleWidths = fonts.SimpleWidths(standard);
    bool* simpleUsed = fonts.SimpleUsed(standard);
    if (every && unmapped == 0) {
        // Windows-1252 text that the face shows at the standard font's
        // widths: the same bytes as the standard font takes (the common case).
        const std::string& cp = Utf8Text ? bytes : Text;
        bool same = true;
        for (const char ch : cp) {
            const auto b = static_cast<unsigned char>(ch);
            if (simpleWidths[b] != metrics.Widths[b]) {
                same = false;
                break;
            }
            simpleUsed[b] = true;
        }
        if (same) {
            Bytes = Utf8Text ? std::move(bytes) : Text;
            return TTextRoute::EmbeddedBytes;
        }
    }
    TRunBuilder run(Pieces);
    for (size_t i = 0; i < Text.size();) {
        char32_t c;
        unsigned char b;
        if (Utf8Text) {
            c = DecodeUtf8(Text, i);
            b = UnicodeToCp1252(c);
        } else {
            b = static_cast<unsigned char>(Text[i++]);
            c = Cp1252ToUnicode(b);
        }
        const bool byte = b != 0 || !Utf8Text;  // measured at the standard font's width
        if (byte && !every) {
            run.Font(TPdfTextPiece::Standard, standard);
            run.Raw() += static_cast<char>(b);
            continue;
        }
        if (byte && simpleWidths[b] >= 0) {
            run.Font(TPdfTextPiece::Simple, standard);
            run.Raw() += static_cast<char>(b);
            simpleUsed[b] = true;
            run.Displace(simpleWidths[b] - int32_t{metrics.Widths[b]});
            continue;
        }
        const TFaceGlyph& g = fonts.Lookup(standard, c);
        if (g.Glyph == 0 && !IsControlCharacter(c))
            ++MissingGlyphs;
        const TFaceGlyph& shown = ShownGlyph(g);
        const TEmbeddedCode code = fonts.Use(shown, c);
        run.Font(TPdfTextPiece::Composite, code.Font);
        AppendCode(run.Raw(), code.Cid);
        if (&shown != &g && !byte)
            run.Displace(shown.Width() - g.Width());
        // A character the standard font measures stands at its width.
        if (byte)
            run.Displace(shown.Width() - int32_t{metrics.Widths[b]});
    }
    run.Close();
    return TTextRoute::Runs;
}

int TPdfCanvas::TextWidthJoined(const std::string& Head, const std::string& Tail, size_t From, size_t To,
                                       uint64_t TailKey)
{
    // As TextExtent measures, with the tail's part taken from running sums:
    // whole-pixel advances add up the same however the text is split.
    To = std::min(To, Tail.size());
    From = std::min(From, To);
    SelectFont();
    PrepareMeasure();
    const TTailSums* sums = nullptr;
    for (size_t i = FTailSums.size(); i-- > 0;) {
        const TTailSums& t = FTailSums[i];
        if (t.Key == TailKey && t.Font == FCache.Font && t.PixelsPerEm == FCache.PixelsPerEm &&
            t.Sums.size() == Tail.size() + 1) {
            sums = &t;
            break;
        }
    }
    if (!sums) {
        if (FTailSums.size() >= 8)
            FTailSums.erase(FTailSums.begin());
        TTailSums t;
        t.Key = TailKey;
        t.Font = FCache.Font;
        t.PixelsPerEm = FCache.PixelsPerEm;
        t.Sums.resize(Tail.size() + 1);
        int64_t sum = 0;
        if (Utf8Text) {
            // A character counts at its first byte; its other bytes add nothing.
            for (size_t i = 0; i < Tail.size();) {
                const size_t from = i;
                const char32_t c = DecodeUtf8(Tail, i);
                const unsigned char b = UnicodeToCp1252(c);
                sum += b != 0 ? FCache.Advance[b] : FaceAdvance(c);
                for (size_t k = from; k < i; ++k)
                    t.Sums[k + 1] = sum;
            }
        } else {
            for (size_t i = 0; i < Tail.size(); ++i) {
                sum += FCache.Advance[static_cast<unsigned char>(Tail[i])];
                t.Sums[i + 1] = sum;
            }
        }
        FTailSums.push_back(std::move(t));
        sums = &FTailSums.back();
    }
    int64_t width = sums->Sums[To] - sums->Sums[From];
    width += TextAdvance(Head);
    return ClampInt(width * DeviceDpi / 10 / ScreenDpi);
}

int TPdfCanvas::TextHeight(const std::string& Text)
{
    // The cell height does not depend on the text.
    SelectFont();
    PrepareMeasure();
    return ClampInt(int64_t{FCache.Height} * DeviceDpi / 10 / ScreenDpi);
}

void TPdfCanvas::SelectFont()
{
    const bool same = FLastSerial == FontSerial && FLastFont && FLastFont->Size == Font.Size &&
                      FLastFont->Style == Font.Style && FLastFont->Color == Font.Color && FLastFont->Name == Font.Name;
    if (!same) {
        FLastFont = Font;
        FLastSerial = FontSerial;
        FRotated = false;
        FAngle = 0;
    }
}

void TPdfCanvas::SetFontAngle(double Angle)
{
    // Whole tenths of a degree, truncated toward zero, in extended precision
    // with pi to 14 decimals, as the screen's rotated font takes the angle.
    const long double K = 1.0L / (2.0L * 3.14159265358979L);
    const long double Tenths = static_cast<long double>(Angle) * K * 3600.0L;
    long long escapement = 0;
    if (std::isfinite(Tenths))
        escapement = static_cast<long long>(std::truncl(std::clamp(Tenths, -1.0e12L, 1.0e12L)));
    FAngle = double(escapement % 3600) / 10.0 * Pi / 180.0;
    FRotated = true;
    FLastFont = Font;
    FLastSerial = FontSerial;
}

void TPdfCanvas::WriteText(int X, int Y, const std::string& Text)
{
    TPdfWriter& w = *FWriter;
    const int mapped = MappedFont();
    if (mapped >= 0)
        w.Font.FontNumber = static_cast<uint8_t>(mapped);
    w.Font.Size = Font.Size;
    w.Font.Color = Plain(Font.Color);
    const int h = TextHeight(Text);  // also prepares the measure of the font
    {
        // The text's cell (its descenders and slant within a cell's height
        // more); turned text anywhere within its length of its corner.
        const int64_t reach = 2 * int64_t{std::abs(h)};
        const bool level = TextAngle() == 0;
        const int64_t length = level && (X >= 0 || Text.empty())
                                   ? 0
                                   : TextAdvance(Text) * DeviceDpi / 10 / ScreenDpi;
        const bool admitted = level ? Admit(X, Y, int64_t{X} + length, int64_t{Y} + h, reach)
                                    : Admit(int64_t{X} - length, int64_t{Y} - length, int64_t{X} + length,
                                            int64_t{Y} + length, reach);
        if (!admitted)
            return;
    }
    std::vector<TPdfTextPiece> pieces;
    std::string escaped;
    const TTextRoute route = TextRuns(Text, pieces, escaped);
    if (route != TTextRoute::Runs)
        escaped = EscapeText(escaped);
    w.Font.Embedded = route == TTextRoute::EmbeddedBytes;
    const double a = TextAngle();
    // The baseline of level text sits at the bottom of the measured cell.
    // Rotated text turns about the cell's top-left corner (X, Y) with its
    // baseline at the cell's ascent below it, as the screen draws it.
    double bx, by;
    if (a == 0) {
        int32_t bottom;
        if (__builtin_add_overflow(static_cast<int32_t>(Y), static_cast<int32_t>(h), &bottom))
            Overflow();
        if (pieces.empty())
            w.TextOut(ToPoints(X), ToPoints(bottom), escaped);
        else
            w.TextOut(ToPoints(X), ToPoints(bottom), pieces);
        bx = ToPoints(X);
        by = ToPoints(bottom);
    } else {
        const double ascent = double(FCache.Ascent) * DeviceDpi / 10 / ScreenDpi;
        bx = (X + ascent * std::sin(a)) * PointsPerUnit;
        by = (Y + ascent * std::cos(a)) * PointsPerUnit;
        if (pieces.empty())
            w.TextOut(bx, by, a, escaped);
        else
            w.TextOut(bx, by, a, pieces);
    }
    w.Font.Embedded = false;

    // Underline and strike-out: bars along the baseline as long as the text,
    // where the standard fonts put them.
    if (!(Font.Style & (fsUnderline | fsStrikeOut)) || Text.empty())
        return;
    const double length = ClampInt(TextAdvance(Text) * DeviceDpi / 10 / ScreenDpi) * PointsPerUnit;
    const double em = std::abs(double(Font.Size)), thick = em * 0.05;
    const double ux = std::cos(a), uy = -std::sin(a);  // along the baseline
    const double vx = -std::sin(a), vy = -std::cos(a); // upwards from it
    auto bar = [&](double Centre) {
        const double lo = Centre - thick / 2, hi = Centre + thick / 2;
        auto corner = [&](double U, double V) { return std::pair<double, double>(bx + U * ux + V * vx, by + U * uy + V * vy); };
        const auto p1 = corner(0, lo), p2 = corner(length, lo), p3 = corner(length, hi), p4 = corner(0, hi);
        w.MoveTo(p1.first, p1.second);
        w.LineTo(p2.first, p2.second);
        w.LineTo(p3.first, p3.second);
        w.LineTo(p4.first, p4.second);
        w.ClosePath();
        w.FillColor = Plain(Font.Color);
        w.FillStyle = bsSolid;
        w.Fill();
    };
    if (Font.Style & fsUnderline)
        bar(-0.1 * em);
    if (Font.Style & fsStrikeOut)
        bar(0.3 * em);
}

void TPdfCanvas::TextOut(int X, int Y, const std::string& Text)
{
    SelectFont();
    WriteText(X, Y, Text);
}

void TPdfCanvas::TextRect(const TRect& R, int X, int Y, const std::string& Text)
{
    SelectFont();
    if (R.Right <= R.Left || R.Bottom <= R.Top || !Admit(R.Left, R.Top, R.Right, R.Bottom, 0))
        return;  // nothing to fill, and the text is clipped away
    TPdfWriter& w = *FWriter;
    const int32_t l = ToPoints(R.Left), t = ToPoints(R.Top), r = ToPoints(R.Right), b = ToPoints(R.Bottom);
    if (Brush.Style != bsClear && !FRotated) {
        // The background colour: the brush colour for a solid brush, its
        // complement for a hatched one.
        const TColor c = ResolveColor(Brush.Color);
        w.FillColor = Brush.Style == bsSolid ? c : (~c & 0xFFFFFFu);
        w.FillStyle = bsSolid;
        w.FillRectangle(TRect{l, t, r, b});
    }
    if (Text.empty())
        return;
    if (TextAngle() == 0) {
        // Text that lies wholly outside the rectangle is not written at all,
        // so that it is not found in the file either. (Descenders reach below
        // the cell by less than its height.)
        const int64_t right = int64_t{X} + TextExtent(Text).cx, h = TextHeight(Text);
        if (right <= R.Left || X >= R.Right || int64_t{Y} + 2 * h <= R.Top || Y >= R.Bottom)
            return;
    }
    w.SaveState();
    w.ClipRectangle(l, t, r, b);
    WriteText(X, Y, Text);
    w.RestoreState();
}

void TPdfCanvas::FigureText(const TRect& Cell, const std::string& Text)
{
    TPdfWriter& w = *FWriter;
    // A report in Windows-1252 keeps its bytes unless every font is embedded.
    if ((!Utf8Text && !w.EmbedsEveryFont()) || Text.empty() || Cell.Right <= Cell.Left || Cell.Bottom <= Cell.Top)
        return;
    if (!Admit(Cell.Left, Cell.Top, Cell.Right, Cell.Bottom, 0))
        return;
    SelectFont();
    PrepareMeasure();
    TPdfFontSet& fonts = w.Fonts();
    if (!fonts.HasFace(FCache.Font))
        return;
    std::vector<TPdfTextPiece> pieces;
    int64_t advance = 0;  // thousandths of an em
    for (size_t i = 0; i < Text.size();) {
        const char32_t c = DecodeUtf8(Text, i);
        const TFaceGlyph& g = ShownGlyph(fonts.Lookup(FCache.Font, c));
        const int32_t width = g.Width();
        const TEmbeddedCode code = fonts.Use(g, c);
        if (pieces.empty() || pieces.back().Font != code.Font)
            pieces.push_back({TPdfTextPiece::Composite, code.Font, "("});
        AppendCode(pieces.back().Operand, code.Cid);
        advance += width;
    }
    for (TPdfTextPiece& p : pieces)
        p.Operand += ')';
    // In the font's size on the cell's baseline, as the line's letters stand
    // (so that the text reads on with them), stretched to the cell's width.
    const double width = (Cell.Right - Cell.Left) * PointsPerUnit;
    const double size = std::max(1.0, std::abs(double(Font.Size)));
    const double scale = advance > 0 ? width / (advance * size / 1000.0) : 1.0;
    // Whole points, as the letters are placed.
    w.UnseenText(ToPoints(Cell.Left), ToPoints(Cell.Bottom), size, std::clamp(scale, 0.01, 100.0), pieces);
}

int TPdfCanvas::GetDeviceCaps(int Index)
{
    return Index == LOGPIXELSX || Index == LOGPIXELSY ? DeviceDpi : 0;
}

bool TPdfCanvas::DeviceArea(TRect& Area)
{
    // The page, in device units, rounded outwards.
    auto device = [](int32_t Points) {
        return static_cast<int32_t>(std::clamp<int64_t>((int64_t{Points} * DeviceDpi + 71) / 72, 0, INT32_MAX));
    };
    Area = TRect{0, 0, device(FWriter->PageWidth), device(FWriter->PageHeight)};
    return true;
}

// ---------------------------------------------------------------------------
// The facade

void TPdfCanvas::StartPage(int Page)
{
    if (FPageEnded)
        Writer().NewPage();
    FPageEnded = false;
    FPage = Page;
    FPageObjects = 0;
}

void TPdfCanvas::EndPage(int) { FPageEnded = true; }

TPdfDocument::TPdfDocument() : FOwned(std::make_unique<TPdfCanvas>()), FCanvas(FOwned.get()) {}

TPdfDocument::~TPdfDocument() = default;

std::unique_ptr<TRenderingCanvas> TPdfDocument::LendCanvas()
{
    if (!FOwned)
        throw std::logic_error("The PDF surface is already lent");
    return std::unique_ptr<TRenderingCanvas>(FOwned.release());
}

void TPdfDocument::TakeBackCanvas(std::unique_ptr<TRenderingCanvas> C)
{
    if (C && C.get() == FCanvas && !FOwned)
        FOwned.reset(static_cast<TPdfCanvas*>(C.release()));
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

int TPdfDocument::PageWidth() const { return PointsToDevice(Writer().PageWidth); }

int TPdfDocument::PageHeight() const { return PointsToDevice(Writer().PageHeight); }

void TPdfDocument::SetPageWidth(int V) { Writer().PageWidth = TPdfCanvas::ToPoints(V); }

void TPdfDocument::SetPageHeight(int V) { Writer().PageHeight = TPdfCanvas::ToPoints(V); }

bool PaperSizeInPoints(int DmPaper, int32_t& Width, int32_t& Height)
{
    // The same table of Windows paper numbers the printers use.
    if (DmPaper <= 0)
        return false;
    const QPageSize::PageSizeId id = QPageSize::id(DmPaper);
    if (id == QPageSize::Custom)
        return false;
    const QSize points = QPageSize(id).sizePoints();
    if (points.width() <= 0 || points.height() <= 0)
        return false;
    Width = points.width();
    Height = points.height();
    return true;
}

void TPdfDocument::SetPaper(int DmPaper, bool Landscape)
{
    int32_t w = 612, h = 792;  // Letter
    PaperSizeInPoints(DmPaper, w, h);
    Writer().PageWidth = Landscape ? h : w;
    Writer().PageHeight = Landscape ? w : h;
}

}  // namespace quillard
