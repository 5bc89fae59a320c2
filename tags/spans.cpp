// Spans, divisions, headers and footers: nested regions of the page with
// their own cursor, line height, alignment, font, pen and clipping. {INIT}
// in the body configures the current span without opening one.
#include "engine/markup.h"
#include "engine/renderer.h"
#include "tags/interpreter.h"

#include <stdexcept>
#include <string>

namespace quillard {

namespace {

bool Given(const std::string& Tag, const char* Names, std::string& Value)
{
    Value = GetAttribute(Tag, Names);
    return !IsBlank(Value);
}

bool Given(const std::string& Tag, const char* Names)
{
    std::string v;
    return Given(Tag, Names, v);
}

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0; }

}  // namespace

void TTagInterpreter::TagSpan(tRenderState&, const std::string& Tag)
{
    std::string mode = "ABSOLUTE";
    R.Pass.AtLineStart = true;
    const bool isInit = StartsWith(Tag, "{INIT");
    const bool isHeader = StartsWith(Tag, "{HEADER");
    const bool isFooter = StartsWith(Tag, "{FOOTER");

    if (!isInit) {
        if (R.SpanIndex >= MaxSpans)
            throw std::runtime_error("Too many nested spans: at most " + std::to_string(MaxSpans) + " levels");
        tSpan& outer = R.Span();
        auto span = std::make_unique<tSpan>(R.Canvas.get(), outer.PageHeight, outer.PageWidth, R.Scale);
        span->Assign(outer);
        R.Spans[R.SpanIndex + 1] = std::move(span);
        ++R.SpanIndex;
    }
    tSpan& s = R.Span();
    std::string v;

    // AutoText items are numbered; new ones get a number above every one met.
    if (Given(Tag, "CLASS", v) && R.SpanIndex > 1 && SameText(Trim(v), "AUTOTEXT")) {
        const std::string name = GetAttribute(Tag, "NAME");
        if (SameText(name.substr(0, 8), "AUTOTEXT")) {
            const std::string digits = name.size() > 8 ? name.substr(8, 10) : std::string();
            size_t used = 0;
            long long n = 0;
            try {
                n = std::stoll(digits, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != digits.size() || n < INT32_MIN || n > INT32_MAX - 1)
                throw std::invalid_argument("'" + digits + "' is not a valid integer value");
            if (R.NextAutoTextNumber < n + 1)
                R.NextAutoTextNumber = static_cast<int>(n + 1);
        }
    }

    if (Given(Tag, "ABSOLUTE"))
        mode = "ABSOLUTE";
    if (Given(Tag, "PRINTABLE")) {
        mode = "PRINTABLE";
        R.SetSpanEdge("TOP", "SPAN TOP=0in", "PRINTABLE");
        R.SetSpanEdge("LEFT", "SPAN LEFT=0in", "PRINTABLE");
        R.SetSpanEdge("BOTTOM", "SPAN BOTTOM=0in", "PRINTABLE");
        R.SetSpanEdge("RIGHT", "SPAN RIGHT=0in", "PRINTABLE");
    }
    if (!isHeader && !isFooter) {
        if (Given(Tag, "RELATIVE"))
            mode = "RELATIVE";
        for (const char* edge : {"LEFT", "TOP", "RIGHT", "BOTTOM"})
            if (Given(Tag, edge))
                R.SetSpanEdge(edge, Tag, mode);
        if (Given(Tag, "WIDTH"))
            R.SetSpanEdge("WIDTH", Tag, mode);
        if (Given(Tag, "PAGINATE") || Given(Tag, "PAPERHEIGHT") || Given(Tag, "PAPERWIDTH"))
            s.Paginate = true;
    }
    if (isHeader) {
        R.SetSpanEdge("TOP", "SPAN TOP=0in", "PRINTABLE");
        s.Right = R.PageSpan().Right;
        s.Bottom = R.PageSpan().Top;
    }
    if (Given(Tag, "HEIGHT"))
        R.SetSpanEdge("HEIGHT", Tag, mode);
    if (isFooter) {
        R.SetSpanEdge("BOTTOM", "SPAN BOTTOM=0in", "PRINTABLE");
        s.Left = R.PageSpan().Left;
        s.Right = R.PageSpan().Right;
        if (Given(Tag, "HEIGHT", v))
            s.Top = s.Bottom - R.Measure(v, 'Y');
        else
            s.Top = R.PageSpan().Bottom;
    }

    if (Given(Tag, "PAD-TOP", v))
        s.Top += R.Measure(v, 'Y');
    if (Given(Tag, "PAD-BOTTOM", v))
        s.Bottom -= R.Measure(v, 'Y');
    if (Given(Tag, "PAD-LEFT", v))
        s.Left += R.Measure(v, 'X');
    if (Given(Tag, "PAD-RIGHT", v))
        s.Right += R.Measure(v, 'X');

    if (Given(Tag, "ROTATION;ROTATE;ESC;ESCAPE;ESCAPEMENT;DIRECTION;DIR", v))
        R.SetSpanRotation(ParseAngle(v));

    if (Given(Tag, "ALIGN", v))
        s.SetAlign(v);
    else if (!isInit && R.SpanIndex > 1 && R.Spans[R.SpanIndex - 1])
        s.SetAlign(R.Spans[R.SpanIndex - 1]->GetAlign());

    if (Given(Tag, "CLIP"))
        s.Clip = true;
    if (Given(Tag, "NOCLIP"))
        s.Clip = false;

    if (Given(Tag, "STAYHERE") && R.SpanIndex > 1 && R.Spans[R.SpanIndex - 1]) {
        s.CursorY = R.Spans[R.SpanIndex - 1]->CursorY;
        s.CursorX = R.Spans[R.SpanIndex - 1]->CursorX;
    }

    int n = ParseIntPrefix(GetAttribute(Tag, "LPP"), 0);
    if (n > 0)
        R.SetLinesPerPage(n);
    n = ParseIntPrefix(GetAttribute(Tag, "LINES"), 0);
    if (n > 0) {
        s.LinesPerPage = 0;
        s.LinesPerInch = 0;
        s.LineHeight = (s.Bottom - s.Top) / n;
        s.Font().LineHeight = s.LineHeight;
    }
    n = ParseIntPrefix(GetAttribute(Tag, "LPI"), 0);
    if (n > 0) {
        s.LinesPerInch = n;
        s.LinesPerPage = 0;
        s.LineHeight = 1.0 / n;
        s.Font().LineHeight = s.LineHeight;
    }

    if (Given(Tag, "FONTNAME", v))
        R.SetFontName(v);
    n = ParseIntPrefix(GetAttribute(Tag, "FONTSIZE"), 0);
    if (n > 0)
        R.SetFontSize(n);
    if (Given(Tag, "FONTCOLOR;FONTCOLOUR", v))
        R.SetFontColor(v);
    TRenderingCanvas* c = s.Canvas;
    if (Given(Tag, "PENCOLOR;PENCOLOUR", v))
        R.SetPenColor(ParseColor(v, c ? c->Pen.Color & 0xFFFFFF : 0, R.Setup.ColourMode));
    if (Given(Tag, "COLOR;COLOUR", v)) {
        R.SetFontColor(v);
        R.SetPenColor(ParseColor(v, c ? c->Pen.Color & 0xFFFFFF : 0, R.Setup.ColourMode));
    }

    if ((isHeader || isFooter) && Given(Tag, "REPEAT", v) && (v[0] == 'Y' || v[0] == 'y'))
        R.Pass.RepeatHeaderFooter = true;
}

void TTagInterpreter::TagEndSpan(tRenderState&, const std::string& Tag)
{
    const bool header = Tag == "{/HEADER}";
    const bool footer = Tag == "{/FOOTER}";
    if ((header || footer) && R.Pass.RepeatHeaderFooter && R.SpanIndex > 1 && R.Spans[R.SpanIndex - 1]) {
        auto copy = std::make_unique<tSpan>(R.Canvas.get(), R.Metrics.PrintableHeight, R.Metrics.PrintableWidth, R.Scale);
        R.InitSpan(*copy);
        copy->Assign(R.Span());
        tSpan& outer = *R.Spans[R.SpanIndex - 1];
        (header ? outer.Header : outer.Footer) = std::move(copy);
    }
    if (R.SpanIndex > 1) {
        R.Spans[R.SpanIndex].reset();
        --R.SpanIndex;
        R.Span().Assert();
    } else {
        tSpan& page = R.PageSpan();
        page.Canvas = R.Canvas.get();
        page.SetAlign("LEFT");
    }
}

}  // namespace quillard
