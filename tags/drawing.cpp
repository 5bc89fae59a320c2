// Drawing tags: lines, rectangles, ellipses, arcs and pies, polygons and
// line highlights, drawn with the canvas pen and brush as {PEN} left them.
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/renderer.h"
#include "tags/interpreter.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace quillard {

int PenStyleNumber(const std::string& Word, bool AllowNoneWords);

namespace {

bool Given(const std::string& Tag, const char* Names, std::string& Value)
{
    Value = GetAttribute(Tag, Names);
    return !IsBlank(Value);
}

// A screen-sense angle: the counter-clockwise angle measured the other way.
double ScreenAngle(double a)
{
    double t = 0;
    int guard = 0;
    while (t < a && guard++ < 1000)
        t += 6.283185307179586;
    return t - a;
}

}  // namespace

// The corner of a figure: AT, or FROM when AT is blank, else LEFT;COL and
// TOP;ROW (relative to the span unless absolute).
static TDoublePoint FigureCorner(tRenderer& R, const std::string& Tag, bool Absolute)
{
    tSpan& s = R.Span();
    std::string p = GetAttribute(Tag, "AT");
    if (IsBlank(p))
        p = GetAttribute(Tag, "FROM");
    if (IsBlank(p)) {
        if (Absolute)
            return {R.MeasureAttr(Tag, "LEFT;COL", 'X', s.Left + s.CursorX), R.MeasureAttr(Tag, "TOP;ROW", 'Y', s.Top + s.CursorY)};
        return {s.Left + R.MeasureAttr(Tag, "LEFT;COL", 'X', s.CursorX), s.Top + R.MeasureAttr(Tag, "TOP;ROW", 'Y', s.CursorY)};
    }
    return R.ParsePoint({s.Left + s.CursorX, s.Top + s.CursorY}, p, Absolute);
}

void TTagInterpreter::TagLine(tRenderState&, const std::string& Tag)
{
    tSpan& s = R.Span();
    TRenderingCanvas& c = *s.Canvas;
    s.PushPen();
    const bool absolute = !IsBlank(GetAttribute(Tag, "ABS;ABSOLUTE"));
    const TDoublePoint here{s.Left + s.CursorX, s.Top + s.CursorY};
    TDoublePoint start = here, end = here;
    const std::string to = Trim(GetAttribute(Tag, "TO"));
    const std::string dir = Trim(GetAttribute(Tag, "DIR;DIRECTION"));
    if (to.empty() && dir.empty()) {
        s.PopPen();
        return;
    }
    std::string v;
    if (Given(Tag, "FROM", v))
        start = R.ParsePoint(start, v, absolute);
    if (!to.empty()) {
        end = R.ParsePoint(end, to, absolute);
    } else {
        const double a = ParseAngle(dir);
        const double len = R.MeasureAttr(Tag, "LEN;LENGTH", 'X', 0);
        if (len > 0) {
            end.X = start.X + std::cos(a) * len;
            end.Y = start.Y - std::sin(a) * len * R.Metrics.PixelsPerInchY / R.Metrics.PixelsPerInchX;
        }
    }
    const TColor savedColor = c.Pen.Color;
    if (Given(Tag, "COLOR;COLOUR", v))
        c.Pen.Color = ParseColor(v, c.Pen.Color & 0xFFFFFF, R.Setup.ColourMode) | PaletteFlag;
    const int width = ParseIntPrefix(GetAttribute(Tag, "WIDTH"), 0);
    if (width >= 1)
        c.Pen.Width = ScaledPenWidth(width, R.Scale);
    if (Given(Tag, "STYLE", v)) {
        const int style = PenStyleNumber(UpperCase(Trim(v)), false);
        if (style >= 0)
            c.Pen.Style = ToPenStyle(style);
    }

    TDoublePoint p1 = start, p2 = end;
    if (s.Clip) {
        const double dx = end.X - start.X, dy = end.Y - start.Y;
        auto yAt = [&](double x) { return std::fabs(dy) <= 0.001 ? std::nullopt : std::optional<double>(start.Y + dy * (x - start.X) / dx); };
        auto xAt = [&](double y) { return std::fabs(dx) <= 0.001 ? std::nullopt : std::optional<double>(start.X + dx * (y - start.Y) / dy); };
        if (p1.X < s.Left && s.Left < p2.X) {
            p1.X = s.Left;
            if (auto y = yAt(p1.X))
                p1.Y = *y;
        }
        if (p1.Y < s.Top && s.Top < p2.Y) {
            p1.Y = s.Top;
            if (auto x = xAt(p1.Y))
                p1.X = *x;
        }
        if (p1.X < s.Right && s.Right < p2.X) {
            p2.X = s.Right;
            if (auto y = yAt(p2.X))
                p2.Y = *y;
        }
        if (p1.Y < s.Bottom && s.Bottom < p2.Y) {
            p2.Y = s.Bottom;
            if (auto x = xAt(p2.Y))
                p2.X = *x;
        }
    }
    if (R.Pass.PageDrawn) {
        c.MoveTo(R.DevX(p1.X), R.DevY(p1.Y));
        c.LineTo(R.DevX(p2.X), R.DevY(p2.Y));
    }
    s.PopPen();
    if (Tag.compare(0, 7, "{LINETO") == 0) {
        s.CursorX = end.X - s.Left;
        s.CursorY = end.Y - s.Top;
    }
    c.Pen.Color = savedColor;
}

void TTagInterpreter::TagRect(tRenderState&, const std::string& Tag)
{
    if (!R.Pass.PageDrawn)
        return;
    const bool absolute = !IsBlank(GetAttribute(Tag, "ABS;ABSOLUTE"));
    const TDoublePoint corner = FigureCorner(R, Tag, absolute);
    TDoublePoint other;
    std::string v;
    if (Given(Tag, "TO", v)) {
        other = R.ParsePoint(corner, v, absolute);
    } else if (IsBlank(v = GetAttribute(Tag, "SIZE"))) {
        other.X = corner.X + R.MeasureAttr(Tag, "WIDTH;WID", 'X', 0);
        other.Y = corner.Y + R.MeasureAttr(Tag, "HEIGHT;HIG;HT", 'Y', 0);
    } else {
        tSpan& s = R.Span();
        TDoublePoint size = R.ParsePoint({0, 0}, v, absolute);
        if (!absolute) {
            size.X -= s.Left;
            size.Y -= s.Top;
        }
        other = {corner.X + size.X, corner.Y + size.Y};
    }
    R.Span().Canvas->Rectangle(R.DevX(corner.X), R.DevY(corner.Y), R.DevX(other.X), R.DevY(other.Y));
}

void TTagInterpreter::TagCircle(tRenderState&, const std::string& Tag)
{
    if (!R.Pass.PageDrawn)
        return;
    const bool absolute = !IsBlank(GetAttribute(Tag, "ABS;ABSOLUTE"));
    TDoublePoint p = FigureCorner(R, Tag, absolute);
    double w = 0, h = 0;
    std::string v;
    if (!Given(Tag, "TO", v)) {
        const double r = R.MeasureAttr(Tag, "RADIUS;RAD", 'X', 0);
        if (r == 0) {
            h = R.MeasureAttr(Tag, "HEIGHT;HIG;HT", 'Y', 0);
            w = R.MeasureAttr(Tag, "WIDTH;WID", 'X', 0);
        } else {
            w = h = 2 * r;
            p.X -= r;
            p.Y -= r;
        }
    } else {
        const TDoublePoint q = R.ParsePoint(p, v, absolute);
        w = q.X - p.X;
        h = q.Y - p.Y;
    }
    TRenderingCanvas& c = *R.Span().Canvas;
    const int x1 = R.DevX(p.X), y1 = R.DevY(p.Y), x2 = R.DevX(p.X + w), y2 = R.DevY(p.Y + h);
    const bool arc = Tag.compare(0, 4, "{ARC") == 0;
    const bool pie = Tag.compare(0, 4, "{PIE") == 0;
    if (arc || pie) {
        const double b = ScreenAngle(ParseAngle(GetAttribute(Tag, "BEGIN;START")));
        const double e = ScreenAngle(ParseAngle(GetAttribute(Tag, "END;STOP")));
        const double cx = p.X + w / 2, cy = p.Y + h / 2;
        const int x3 = R.DevX(cx + std::cos(b)), y3 = R.DevY(cy + std::sin(b));
        const int x4 = R.DevX(cx + std::cos(e)), y4 = R.DevY(cy + std::sin(e));
        if (arc)
            c.Arc(x1, y1, x2, y2, x3, y3, x4, y4);
        else
            c.Pie(x1, y1, x2, y2, x3, y3, x4, y4);
        return;
    }
    c.Ellipse(x1, y1, x2, y2);
}

void TTagInterpreter::TagPolygon(tRenderState&, const std::string& Tag)
{
    if (!R.Pass.PageDrawn)
        return;
    const bool absolute = !IsBlank(GetAttribute(Tag, "ABS;ABSOLUTE"));
    std::string points = Trim(GetAttribute(Tag, "POINTS"));
    if (points.empty() || points.back() != ';')
        points += ';';
    tSpan& s = R.Span();
    std::vector<TPoint> device;
    size_t from = 0;
    while (device.size() < 30) {
        const size_t semi = points.find(';', from);
        if (semi == std::string::npos)
            break;
        const std::string item = points.substr(from, semi - from);
        from = semi + 1;
        if (item.find(',') == std::string::npos)
            continue;
        const TDoublePoint p = R.ParsePoint({s.Left + s.CursorX, s.Top + s.CursorY}, item, absolute);
        device.push_back({R.DevX(p.X), R.DevY(p.Y)});
    }
    s.Canvas->Polygon(device);
}

void TTagInterpreter::TagHighlight(tRenderState&, const std::string& Tag)
{
    if (!R.Pass.PageDrawn)
        return;
    tSpan& s = R.Span();
    TRenderingCanvas& c = *s.Canvas;
    const tFontInfo& f = s.Font();
    std::string v = GetAttribute(Tag, "COLOR;COLOUR;BACKCOLOR;BACKCOLOUR;BKCOLOR;BKCOLOUR;BACK;BK;BG;BGCOLOR;BGCOLOUR");
    c.Brush.Color = IsBlank(v) ? f.BackColor : ParseColor(v, f.BackColor, R.Setup.ColourMode);
    v = GetAttribute(Tag, "STYLE;BACKSTYLE;BKSTYLE;BGSTYLE");
    c.Brush.Style = IsBlank(v) ? bsSolid : ToBrushStyle(ParseBrushStyle(v, bsClear));
    c.Pen.Style = psClear;
    c.Pen.Mode = pmCopy;
    c.Rectangle(R.DevX(s.Left), R.DevY(s.Top + s.CursorY - s.LineHeight), R.DevX(s.Right), R.DevY(s.Top + s.CursorY));
    const tPenInfo& p = s.Pen();
    c.Pen.Mode = ToPenMode(p.Mode);
    c.Pen.Style = ToPenStyle(p.Style);
    c.Brush.Color = p.BrushColor;
    c.Brush.Style = ToBrushStyle(p.BrushStyle);
}

}  // namespace quillard
