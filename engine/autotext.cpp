#include "engine/autotext.h"

#include "base/bytefile.h"
#include "engine/fileeditor.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillard {

namespace {

const char* const Dq = "\"";

// 0-based position of Sub in S at or after From, letter case ignored.
size_t FindNoCase(const std::string& S, const std::string& Sub, size_t From = 0)
{
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (Sub.empty() || From > S.size() || Sub.size() > S.size() - From)
        return Sub.empty() && From <= S.size() ? From : std::string::npos;
    for (size_t i = From; i + Sub.size() <= S.size(); ++i) {
        size_t k = 0;
        while (k < Sub.size() && up(S[i + k]) == up(Sub[k]))
            ++k;
        if (k == Sub.size())
            return i;
    }
    return std::string::npos;
}

// The parts from the font name to the end of the span, shared by new items
// and items written back by the edit window.
std::string StyleAndText(const TAutoTextStyle& Style, double X, double Y, const std::string& Text, bool NewItem)
{
    std::string m;
    m += " PRINTABLE NOCLIP";
    m += " FontName=\"" + Style.FontName + Dq;
    m += " FontSize=\"" + std::to_string(Style.FontSize) + Dq;
    m += " FontColor=\"" + std::to_string(Style.Color & 0xFFFFFFu) + Dq;
    if (Style.Rotation != 0)
        m += " ROTATE=\"" + std::to_string(Style.Rotation) + "deg\"";
    m += " TOP=" + GeneralNumber(Y) + "in";
    m += " LEFT=" + GeneralNumber(X) + (NewItem ? "in" : "in}");
    if (NewItem)
        m += " ALIGN=\"LEFT\"}";
    if (Style.Bold)
        m += "{B}";
    if (Style.Italic)
        m += "{I}";
    if (Style.Underline)
        m += "{U}";
    m += Text;
    if (Style.Underline)
        m += "{/U}";
    if (Style.Italic)
        m += "{/I}";
    if (Style.Bold)
        m += "{/B}";
    m += "{/SPAN}";
    return m;
}

bool IsTerminator(char c) { return c == '\n' || c == '\f' || c == '\r'; }

}  // namespace

std::string GeneralNumber(double Value)
{
    if (!std::isfinite(Value) || std::fabs(Value) < 1e-300)
        return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", Value);
    std::string s = buf;
    if (s.find_first_of("eE") == std::string::npos)
        return s;
    // The markup's numbers carry no exponent: write the same 15 digits out.
    const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(Value))));
    const int decimals = std::clamp(14 - exponent, 0, 340);
    std::string f(400, '\0');
    f.resize(static_cast<size_t>(std::snprintf(f.data(), f.size(), "%.*f", decimals, Value)));
    if (f.find('.') != std::string::npos) {
        while (!f.empty() && f.back() == '0')
            f.pop_back();
        if (!f.empty() && f.back() == '.')
            f.pop_back();
    }
    return f == "-0" ? "0" : f;
}

std::string AutoTextMarkup(int Number, const TAutoTextStyle& Style, double X, double Y, const std::string& Text)
{
    return "{SPAN CLASS=\"AutoText\" NAME=\"AutoText" + std::to_string(Number) + Dq +
           StyleAndText(Style, X, Y, Text, true);
}

std::string AutoTextEditMarkup(const std::string& Name, const TAutoTextStyle& Style, double X, double Y,
                               const std::string& Text)
{
    return "{SPAN CLASS=\"AutoText\" NAME=\"" + Name + Dq + StyleAndText(Style, X, Y, Text, false);
}

std::string AutoShapeMarkup(TAutoShapeKind Kind, int Width, COLORREF Color, bool Filled, double X1, double Y1,
                            double X2, double Y2)
{
    const std::string c = ColorName(Color);
    const std::string w = std::to_string(Width);
    const std::string fill =
        Filled ? " FILLCOLOR=\"" + c + "\" FILLSTYLE=\"SOLID\"" : std::string(" FILLSTYLE=\"CLEAR\"");
    const std::string points = " FROM=\"" + GeneralNumber(X1) + "in," + GeneralNumber(Y1) + Dq + " TO=\"" +
                               GeneralNumber(X2) + "in," + GeneralNumber(Y2);
    switch (Kind) {
    case TAutoShapeKind::Line:
        return "{SPAN CLASS=\"AUTOSHAPE\"}{LINE ABSOLUTE  WIDTH=\"" + w + "pt\" COLOR=\"" + c + Dq + points +
               "\"}{/SPAN}";
    case TAutoShapeKind::Box:
        return "{SPAN CLASS=\"AUTOSHAPE\" ABSOLUTE TOP=0 LEFT=0}{PEN WIDTH=\"" + w + "pt\"" + fill + " COLOR=\"" +
               c + "\"}{RECTANGLE " + points + "\"}{/PEN}{/SPAN}";
    case TAutoShapeKind::Oval:
        return "{SPAN CLASS=\"AUTOSHAPE\"}{PEN WIDTH=\"" + w + "pt\"" + fill + " COLOR=\"" + c +
               "\"}{OVAL ABSOLUTE " + points + "\"}{/PEN}{/SPAN}";
    }
    return {};
}

std::string InsertAtEndOfPage(const std::string& Report, const std::string& Markup, int TargetPage)
{
    std::string out;
    out.reserve(Report.size() + Markup.size() + 64);
    int page = 1;
    bool inserted = false;

    // Counts the {PAGE} tags of Line and puts Markup in front of the one
    // that ends the target page.
    auto place = [&](std::string& Line) {
        if (inserted)
            return;
        size_t from = 0;
        for (;;) {
            const size_t p = FindNoCase(Line, "{PAGE}", from);
            if (p == std::string::npos)
                return;
            if (++page > TargetPage) {
                Line.insert(p, Markup);
                inserted = true;
                return;
            }
            from = p + 6;
        }
    };

    size_t pos = 0;
    while (pos < Report.size()) {
        size_t end = pos;
        while (end < Report.size() && !IsTerminator(Report[end]))
            ++end;
        std::string line = Report.substr(pos, end - pos);

        // In-line picture data: the line up to the data is handled as text,
        // the data and its closing quote and brace are copied as they are,
        // and reading goes on after them.
        const size_t img = FindNoCase(line, "{IMG");
        if (img != std::string::npos) {
            const std::string rest = line.substr(img);
            const size_t d = FindNoCase(rest, "DATA=\"");
            const size_t l = FindNoCase(rest, "DATALEN=");
            const size_t c = rest.find('}');
            if (d != std::string::npos && l != std::string::npos && (c == std::string::npos || d < c)) {
                const int n = ParseIntPrefix(Trim(GetAttribute(rest.substr(0, d), "DATALEN")), 0);
                if (n > 0) {
                    const size_t dataStart = pos + img + d + 6;
                    std::string head = Report.substr(pos, dataStart - pos);
                    head = ReplaceAll(head, "\f", "{PAGE}");
                    place(head);
                    out += head;
                    const size_t blockEnd = std::min(Report.size(), dataStart + static_cast<size_t>(n) + 2);
                    out.append(Report, dataStart, blockEnd - dataStart);
                    pos = blockEnd;
                    continue;
                }
            }
        }

        // The terminator: up to two of CR, LF and form feed.
        std::string terminator;
        size_t next = end;
        while (next < Report.size() && terminator.size() < 2 && IsTerminator(Report[next]))
            terminator += Report[next++];
        line = ReplaceAll(line, "\f", "{PAGE}");
        std::string kept;
        for (char t : terminator) {
            if (t == '\f')
                line += "{PAGE}";  // every form feed is a page break of its own
            else
                kept += t;
        }
        place(line);
        out += line;
        out += kept;
        pos = next;
    }
    if (!inserted)
        out += Markup;
    return out;
}

bool AddTextToReportFile(const std::string& FileName, const std::string& Markup, int TargetPage)
{
    // A report that may not be rewritten is not read for nothing.
    const std::string refusal = RewriteRefusal(FileName);
    if (!refusal.empty()) {
        ShowMessage(refusal, "Error Adding Text");
        return false;
    }
    std::string report;
    try {
        report = ReadWholeReport(FileName);
    } catch (const std::exception& e) {
        ShowMessage("Error Opening File \"" + FileName + Dq + "\r\n" + e.what(), "Error Adding Text");
        return false;
    }
    return RewriteReport(FileName, InsertAtEndOfPage(report, Markup, TargetPage), "Error Adding Text");
}

tAddTextSpanCollection ReadAutoTextSpans(tRenderer& Renderer, const std::string& ReportText, int& Errors)
{
    tAddTextSpanCollection items;
    Errors = 0;
    // The report is worked through from left to right: the brace closing
    // each tag, the next "CLASS" and the next "{/SPAN}" are each found once
    // for all spans, so that a report of many spans (or of spans that are
    // never closed) is read in time in proportion to its length.
    TForwardFinder spanStart("{SPAN"), brace("}"), classWord("CLASS"), spanEnd("{/SPAN}");
    size_t pos = 0;
    for (;; pos += 5) {
        const size_t at = spanStart.From(ReportText, pos);
        if (at == std::string::npos)
            break;
        pos = at;  // the next search starts 5 further on
        try {
            // The tag runs to its closing brace, or to the end without one.
            const size_t b = brace.From(ReportText, at);
            const size_t tagEnd = b == std::string::npos ? ReportText.size() : b + 1;
            // Without the word there is no CLASS attribute: not an item.
            const size_t c = classWord.From(ReportText, at);
            if (c == std::string::npos || c >= tagEnd)
                continue;
            const std::string tag = Trim(ReportText.substr(at, tagEnd - at));
            const std::string cls = Trim(GetAttribute(tag, "CLASS"));
            if (!SameText(cls, "AUTOTEXT") && !SameText(cls, "AUTOSHAPE"))
                continue;
            const size_t close = spanEnd.From(ReportText, at);
            const std::string body =
                ReportText.substr(at, close == std::string::npos ? std::string::npos : close - at);
            tAddTextSpanCollectionItem item;
            item.SpanName = GetAttribute(tag, "NAME");
            item.SpanPos = static_cast<int>(at) + 1;
            if (SameText(cls, "AUTOTEXT")) {
                item.Kind = "AUTOTEXT";
                item.PosY = Renderer.Measure(UpperCase(Trim(GetAttribute(tag, "TOP"))), 'Y');
                item.PosX = Renderer.Measure(UpperCase(Trim(GetAttribute(tag, "LEFT"))), 'X');
                item.FontName = GetAttribute(tag, "FONTNAME");
                item.FontSizeOrWidth = ParseIntPrefix(Trim(GetAttribute(tag, "FONTSIZE")), 10);
                item.Color = ParseColor(GetAttribute(tag, "FONTCOLOR"), 0, true);
                item.Rotation = ParseIntPrefix(Trim(GetAttribute(tag, "ROTATE")), 0);
                const size_t brace = body.find('}');
                std::string inner = brace == std::string::npos ? std::string() : body.substr(brace + 1);
                item.Italic = PosNoCase("{I}", inner) > 0;
                item.Bold = PosNoCase("{B}", inner) > 0;
                item.Underline = PosNoCase("{U}", inner) > 0;
                for (const char* t : {"{I}", "{/I}", "{B}", "{/B}", "{U}", "{/U}"})
                    inner = ReplaceAllNoCase(inner, t, "");
                item.DisplayText = inner;
                items.push_back(std::move(item));
            } else if (SameText(cls, "AUTOSHAPE")) {
                item.FontName = "%DISABLE%";
                std::string shape;
                // Boxes are written as {RECTANGLE ...}: that is a RECT too.
                for (auto [find, kind] : {std::pair{"{LINE ", "LINE"}, {"{OVAL ", "OVAL"}, {"{RECT ", "RECT"},
                                          {"{RECTANGLE ", "RECT"}}) {
                    const size_t s = FindNoCase(body, find);
                    if (s != std::string::npos) {
                        item.Kind = kind;
                        shape = TagAt(body, static_cast<int>(s) + 1);
                        break;
                    }
                }
                item.DisplayText = item.Kind;
                const size_t pen = FindNoCase(body, "{PEN ");
                const std::string style = pen != std::string::npos ? TagAt(body, static_cast<int>(pen) + 1) : shape;
                if (pen != std::string::npos)
                    item.Filled = SameText(Trim(GetAttribute(style, "FILLSTYLE")), "SOLID");
                item.Color = ParseColor(GetAttribute(style, "COLOR"), 0, true);
                item.FontSizeOrWidth = ParseIntPrefix(Trim(GetAttribute(style, "WIDTH")), 10);
                const TDoublePoint from =
                    Renderer.ParsePoint({0, 0}, UpperCase(Trim(GetAttribute(shape, "FROM"))), true);
                const TDoublePoint to = Renderer.ParsePoint({0, 0}, UpperCase(Trim(GetAttribute(shape, "TO"))), true);
                item.PosX = from.X;
                item.PosY = from.Y;
                item.EndX = to.X;
                item.EndY = to.Y;
                items.push_back(std::move(item));
            }
        } catch (const std::exception&) {
            ++Errors;
        }
    }
    return items;
}

bool DeleteSpanFromStr(std::string& ReportText, int P)
{
    if (P < 1 || static_cast<size_t>(P) > ReportText.size())
        return false;
    const size_t from = static_cast<size_t>(P) - 1;
    const size_t close = FindNoCase(ReportText, "{/SPAN}", from);
    if (close == std::string::npos)
        return false;
    ReportText.erase(from, close + 7 - from);
    return true;
}

std::string ListEntryText(const std::string& DisplayText)
{
    return DisplayText.size() > 15 ? DisplayText.substr(0, 15) + "..." : DisplayText;
}

}  // namespace quillard
