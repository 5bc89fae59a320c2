// The renderer's operations on the current span: font, pen and span setters,
// span edges, and the measurements that depend on the current span.
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "surfaces/fontlist.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace quillard {

void tRenderer::RecomputeLineHeight()
{
    tSpan& s = Span();
    if (s.LinesPerPage == 0 && s.LinesPerInch == 0 && s.Canvas && Metrics.PixelsPerInchY > 0)
        s.LineHeight = s.Canvas->TextHeight("Wyq") / Metrics.PixelsPerInchY;
    s.Font().LineHeight = s.LineHeight;
}

void tRenderer::SetFontName(const std::string& AName)
{
    try {
        std::string Name = AName;
        if (UpperCase(Name) == "MS LINEDRAW" && !Globals().UseLineDrawFont)
            Name = "Courier New";
        bool found = false;
        try {
            const std::vector<std::string>& fonts = SurfaceFontList();
            for (const auto& f : fonts)
                if (f == Name) {
                    found = true;
                    break;
                }
            if (!found) {
                std::string t = Trim(Name);
                for (const auto& f : fonts)
                    if (SameText(Trim(f), t)) {
                        found = true;
                        break;
                    }
            }
            if (!found && !Name.empty()) {
                for (const auto& f : fonts)
                    if (f.size() >= Name.size() && SameText(f.substr(0, Name.size()), Name)) {
                        found = true;
                        break;
                    }
            }
        } catch (const std::exception& e) {
            ShowMessage(e.what(), "Error Setting Selected Font");
            return;
        }
        tSpan& s = Span();
        if (!found && !Trim(Name).empty() && MissingFontNames.size() < MaxMissingFontNames &&
            std::none_of(MissingFontNames.begin(), MissingFontNames.end(),
                         [&](const std::string& n) { return SameText(n, Trim(Name)); }))
            MissingFontNames.push_back(Trim(Name));
        if (found) {
            s.Font().Name = Name;
            if (s.Canvas) {
                int size = s.Canvas->Font.Size;
                s.Canvas->Font.Size = size;
                s.Canvas->Font.Name = Name;
                s.Canvas->Font.Size = size;
            }
        }
        RecomputeLineHeight();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error tRenderer.SetFontName");
    }
}

void tRenderer::SetFontSize(int Points)
{
    tSpan& s = Span();
    double v = static_cast<double>(Points) * Scale;
    s.Font().Size = static_cast<int>(std::clamp<int64_t>(RoundHalfEven(std::clamp(v, -1e9, 1e9)), -100000, 100000));
    if (s.Canvas)
        s.Canvas->Font.Size = s.Font().Size;
    RecomputeLineHeight();
}

void tRenderer::SetFontColor(const std::string& Text)
{
    tSpan& s = Span();
    COLORREF def = s.Canvas ? s.Canvas->Font.Color : 0;
    COLORREF c = ParseColor(Text, def, Setup.ColourMode) | PaletteFlag;
    s.Font().Color = c;
    if (s.Canvas)
        s.Canvas->Font.Color = c;
}

void tRenderer::SetFontBackColor(const std::string& Text) { Span().Font().BackColor = ParseColor(Text, 0xFFFFFF, Setup.ColourMode); }
void tRenderer::SetFontBackStyle(int Style) { Span().Font().BackStyle = static_cast<uint8_t>(Style); }
void tRenderer::SetFontRotation(double Angle) { Span().Font().Rotation = Angle; }

void tRenderer::SetPenColor(COLORREF Color)
{
    tSpan& s = Span();
    if (s.Canvas)
        s.Canvas->Pen.Color = Color | PaletteFlag;
    s.Pen().Color = Color;
}

void tRenderer::SetPenWidth(int Width) { Span().SetPenWidth(Width); }

void tRenderer::SetPenMode(int Mode)
{
    tSpan& s = Span();
    if (s.Canvas)
        s.Canvas->Pen.Mode = ToPenMode(Mode);
    s.Pen().Mode = static_cast<uint8_t>(Mode);
}

void tRenderer::SetPenStyle(int Style)
{
    tSpan& s = Span();
    if (s.Canvas)
        s.Canvas->Pen.Style = ToPenStyle(Style);
    s.Pen().Style = static_cast<uint8_t>(Style);
}

void tRenderer::SetBrushColor(COLORREF Color)
{
    tSpan& s = Span();
    if (s.Canvas)
        s.Canvas->Brush.Color = Color;
    s.Pen().BrushColor = Color;
}

void tRenderer::SetBrushStyle(int Style)
{
    tSpan& s = Span();
    if (s.Canvas)
        s.Canvas->Brush.Style = ToBrushStyle(Style);
    s.Pen().BrushStyle = static_cast<uint8_t>(Style);
}

void tRenderer::SetSpanRotation(double Angle) { Span().Rotation = Angle; }

void tRenderer::SetLinesPerPage(int N)
{
    if (N <= 0)
        return;
    tSpan& s = Span();
    s.LinesPerPage = N;
    s.LinesPerInch = 0;
    s.LineHeight = (PageSpan().Bottom - PageSpan().Top) / N;
    s.Font().LineHeight = s.LineHeight;
}

void tRenderer::SetSpanEdge(const std::string& EdgeName, const std::string& Tag, const std::string& FrameMode)
{
    const std::string edge = UpperCase(EdgeName);
    if (edge != "TOP" && edge != "BOTTOM" && edge != "HEIGHT" && edge != "LEFT" && edge != "RIGHT" && edge != "WIDTH")
        return;
    tSpan& s = Span();
    const std::string mode = UpperCase(FrameMode);
    double fl, ft, fr, fb;
    if (mode == "RELATIVE") {
        if (SpanIndex < 2 || !Spans[SpanIndex - 1])
            throw std::runtime_error("There is no enclosing span");
        const tSpan& e = *Spans[SpanIndex - 1];
        fl = e.Left;
        ft = e.Top;
        fr = e.Right;
        fb = e.Bottom;
    } else if (mode == "PRINTABLE") {
        fl = Metrics.LeftOffset;
        ft = Metrics.TopOffset;
        fr = Metrics.PrintableWidth;
        fb = Metrics.PrintableHeight;
    } else {
        fl = 0;
        ft = 0;
        fr = Metrics.PrintableWidth + 2 * Metrics.LeftOffset;
        fb = Metrics.PrintableHeight + 2 * Metrics.TopOffset;
    }
    const bool vertical = edge == "TOP" || edge == "BOTTOM" || edge == "HEIGHT";
    std::string value = GetAttribute(Tag, edge);
    double v;
    if (IsBlank(value) || value == "HERE") {
        if (edge == "HEIGHT" || edge == "WIDTH")
            return;
        if (SpanIndex < 2 || !Spans[SpanIndex - 1])
            throw std::runtime_error("There is no enclosing span to place the edge " + edge + " at");
        const tSpan& e = *Spans[SpanIndex - 1];
        v = vertical ? e.Top + e.CursorY : e.Left + e.CursorX;
    } else {
        v = Measure(value, vertical ? 'Y' : 'X');
    }
    if (edge == "HEIGHT")
        s.Bottom = s.Top + v;
    else if (edge == "WIDTH")
        s.Right = s.Left + v;
    else if (edge == "TOP")
        s.Top = ft + v;
    else if (edge == "BOTTOM")
        s.Bottom = fb - v;
    else if (edge == "LEFT")
        s.Left = fl + v;
    else
        s.Right = fr - v;
    s.CursorY = 0;
    s.CursorX = 0;
    s.SetAlign("");
}

// ---------------------------------------------------------------------------
// Measurements

double tRenderer::Measure(const std::string& s, char Axis)
{
    if (s.empty())
        return 0;
    const bool horizontal = Axis == 'X' || Axis == 'x' || Axis == 'R' || Axis == 'r';
    const std::string u = UpperCase(s);
    if (u == "TOP")
        return Span().Top;
    if (u == "LEFT")
        return Span().Left;
    if (u == "BOTTOM" || u == "BOTT")
        return Span().Bottom;
    if (u == "RIGHT")
        return Span().Right;

    size_t i = 0;
    bool negative = false;
    if (u[0] == '+' || u[0] == '-') {
        negative = u[0] == '-';
        i = 1;
    }
    size_t start = i;
    while (i < u.size() && ((u[i] >= '0' && u[i] <= '9') || u[i] == '.'))
        ++i;
    std::string number = u.substr(start, i - start);
    double value = 0;
    if (!number.empty()) {
        // A run such as 1.2.3 or a lone "." is not a number and counts as 0.
        size_t dots = std::count(number.begin(), number.end(), '.');
        bool hasDigit = number.find_first_of("0123456789") != std::string::npos;
        if (dots <= 1 && hasDigit) {
            value = std::strtod(number.c_str(), nullptr);
            if (!std::isfinite(value))
                value = 0;
        }
    }
    if (negative)
        value = -value;
    const std::string unit = u.substr(i);
    if (unit.empty())
        return value;
    const char first = unit[0];
    if (first == '"' || first == 'I')
        return value;
    if (first == 'C')
        return value * 0.39370078740157480316;
    if (unit.compare(0, 2, "PT") == 0 || unit.compare(0, 6, "POINTS") == 0)
        return value * 0.013888888888888888889;
    if (first == 'P') {
        double ppi = horizontal ? Metrics.PixelsPerInchX : Metrics.PixelsPerInchY;
        return ppi != 0 ? value / ppi : 0;
    }
    if (unit == "%") {
        const tSpan& sp = Span();
        return value * (horizontal ? sp.Right - sp.Left : sp.Bottom - sp.Top) * 0.01;
    }
    if (unit == "%%") {
        const tSpan& sp = PageSpan();
        return value * (horizontal ? sp.Right - sp.Left : sp.Bottom - sp.Top) * 0.01;
    }
    if (unit == "%%A")
        return value * (horizontal ? Metrics.PrintableWidth : Metrics.PrintableHeight) * 0.01;
    return value;
}

double tRenderer::MeasureAttr(const std::string& Tag, const std::string& NameList, char Axis, double Default)
{
    std::string v = GetAttribute(Tag, NameList);
    if (IsBlank(v))
        return Default;
    return Measure(v, Axis);
}

TDoublePoint tRenderer::ParsePoint(TDoublePoint Default, const std::string& s, bool Absolute)
{
    size_t comma = s.find(',');
    if (comma == std::string::npos)
        return Default;
    TDoublePoint p = Default;
    auto apply = [&](const std::string& w, bool axisX) {
        if (w == "LEFT")
            p.X = Absolute ? 0 : Span().Left;
        else if (w == "RIGHT")
            p.X = Absolute ? Metrics.PrintableWidth : Span().Right;
        else if (w == "TOP")
            p.Y = Absolute ? 0 : Span().Top;
        else if (w == "BOTTOM" || w == "BOT")
            p.Y = Absolute ? Metrics.PrintableHeight : Span().Bottom;
        else if (axisX)
            p.X = Measure(w, 'X') + (Absolute ? 0 : Span().Left);
        else
            p.Y = Measure(w, 'Y') + (Absolute ? 0 : Span().Top);
    };
    apply(s.substr(0, comma), true);
    apply(s.substr(comma + 1), false);
    return p;
}

}  // namespace quillard
