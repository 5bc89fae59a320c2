// Spans, divisions, headers and footers: nested regions of the page with
// their own cursor, line height, alignment, font, pen and clipping. {INIT}
// in the body configures the current span without opening one.
#include "engine/markup.h"
#include "engine/renderer.h"

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

void tRenderer::TagSpan(tRenderState&, const std::string& Tag)
{
    std::string mode = "ABSOLUTE";
    AtLineStart = true;
    const bool isInit = StartsWith(Tag, "{INIT");
    const bool isHeader = StartsWith(Tag, "{HEADER");
    const bool isFooter = StartsWith(Tag, "{FOOTER");

    if (!isInit) {
        if (SpanIndex >= MaxSpans)
            throw std::runtime_error("Too many nested spans: at most " + std::to_string(MaxSpans) + " levels");
        tSpan& outer = Span();
        auto span = std::make_unique<tSpan>(Canvas.get(), outer.PageHeight, outer.PageWidth, Scale);
        span->Assign(outer);
        Spans[SpanIndex + 1] = std::move(span);
        ++SpanIndex;
    }
    tSpan& s = Span();
    std::string v;

    // AutoText items are numbered; new ones get a number above every one met.
    if (Given(Tag, "CLASS", v) && SpanIndex > 1 && SameText(Trim(v), "AUTOTEXT")) {
        const std::string name = GetAttribute(Tag, "NAME");
        if (SameText(name.substr(0, 8), "AUTOTEXT")) {
            const std::string digits = name.size() > 8 ? name.substr(8, 10) : std::string();
            size_t used = 0;
            long long n = 0;
            try {
                n = std::stoll(digits, &used);
            } catch (...) {
                used = 0;
            }
            if (used == 0 || used != digits.size() || n < INT32_MIN || n > INT32_MAX - 1)
                throw std::invalid_argument("'" + digits + "' is not a valid integer value");
            if (NextAutoTextNumber < n + 1)
                NextAutoTextNumber = static_cast<int>(n + 1);
        }
    }

    if (Given(Tag, "ABSOLUTE"))
        mode = "ABSOLUTE";
    if (Given(Tag, "PRINTABLE")) {
        mode = "PRINTABLE";
        SetSpanEdge("TOP", "SPAN TOP=0in", "PRINTABLE");
        SetSpanEdge("LEFT", "SPAN LEFT=0in", "PRINTABLE");
        SetSpanEdge("BOTTOM", "SPAN BOTTOM=0in", "PRINTABLE");
        SetSpanEdge("RIGHT", "SPAN RIGHT=0in", "PRINTABLE");
    }
    if (!isHeader && !isFooter) {
        if (Given(Tag, "RELATIVE"))
            mode = "RELATIVE";
        for (const char* edge : {"LEFT", "TOP", "RIGHT", "BOTTOM"})
            if (Given(Tag, edge))
                SetSpanEdge(edge, Tag, mode);
        if (Given(Tag, "WIDTH"))
            SetSpanEdge("WIDTH", Tag, mode);
        if (Given(Tag, "PAGINATE") || Given(Tag, "PAPERHEIGHT") || Given(Tag, "PAPERWIDTH"))
            s.Paginate = true;
    }
    if (isHeader) {
        SetSpanEdge("TOP", "SPAN TOP=0in", "PRINTABLE");
        s.Right = PageSpan().Right;
        s.Bottom = PageSpan().Top;
    }
    if (Given(Tag, "HEIGHT"))
        SetSpanEdge("HEIGHT", Tag, mode);
    if (isFooter) {
        SetSpanEdge("BOTTOM", "SPAN BOTTOM=0in", "PRINTABLE");
        s.Left = PageSpan().Left;
        s.Right = PageSpan().Right;
        if (Given(Tag, "HEIGHT", v))
            s.Top = s.Bottom - Measure(v, 'Y');
        else
            s.Top = PageSpan().Bottom;
    }

    if (Given(Tag, "PAD-TOP", v))
        s.Top += Measure(v, 'Y');
    if (Given(Tag, "PAD-BOTTOM", v))
        s.Bottom -= Measure(v, 'Y');
    if (Given(Tag, "PAD-LEFT", v))
        s.Left += Measure(v, 'X');
    if (Given(Tag, "PAD-RIGHT", v))
        s.Right += Measure(v, 'X');

    if (Given(Tag, "ROTATION;ROTATE;ESC;ESCAPE;ESCAPEMENT;DIRECTION;DIR", v))
        SetSpanRotation(ParseAngle(v));

    if (Given(Tag, "ALIGN", v))
        s.SetAlign(v);
    else if (!isInit && SpanIndex > 1 && Spans[SpanIndex - 1])
        s.SetAlign(Spans[SpanIndex - 1]->GetAlign());

    if (Given(Tag, "CLIP"))
        s.Clip = true;
    if (Given(Tag, "NOCLIP"))
        s.Clip = false;

    if (Given(Tag, "STAYHERE") && SpanIndex > 1 && Spans[SpanIndex - 1]) {
        s.CursorY = Spans[SpanIndex - 1]->CursorY;
        s.CursorX = Spans[SpanIndex - 1]->CursorX;
    }

    int n = ParseIntPrefix(GetAttribute(Tag, "LPP"), 0);
    if (n > 0)
        SetLinesPerPage(n);
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
        SetFontName(v);
    n = ParseIntPrefix(GetAttribute(Tag, "FONTSIZE"), 0);
    if (n > 0)
        SetFontSize(n);
    if (Given(Tag, "FONTCOLOR;FONTCOLOUR", v))
        SetFontColor(v);
    TRenderingCanvas* c = s.Canvas;
    if (Given(Tag, "PENCOLOR;PENCOLOUR", v))
        SetPenColor(ParseColor(v, c ? c->Pen.Color & 0xFFFFFF : 0, ColourMode));
    if (Given(Tag, "COLOR;COLOUR", v)) {
        SetFontColor(v);
        SetPenColor(ParseColor(v, c ? c->Pen.Color & 0xFFFFFF : 0, ColourMode));
    }

    if ((isHeader || isFooter) && Given(Tag, "REPEAT", v) && (v[0] == 'Y' || v[0] == 'y'))
        RepeatHeaderFooter = true;
}

void tRenderer::TagEndSpan(tRenderState&, const std::string& Tag)
{
    const bool header = Tag == "{/HEADER}";
    const bool footer = Tag == "{/FOOTER}";
    if ((header || footer) && RepeatHeaderFooter && SpanIndex > 1 && Spans[SpanIndex - 1]) {
        auto copy = std::make_unique<tSpan>(Canvas.get(), PrintableHeight, PrintableWidth, Scale);
        InitSpan(*copy);
        copy->Assign(Span());
        tSpan& outer = *Spans[SpanIndex - 1];
        (header ? outer.Header : outer.Footer) = std::move(copy);
    }
    if (SpanIndex > 1) {
        Spans[SpanIndex].reset();
        --SpanIndex;
        Span().Assert();
    } else {
        tSpan& page = PageSpan();
        page.Canvas = Canvas.get();
        page.SetAlign("LEFT");
    }
}

}  // namespace quillard
