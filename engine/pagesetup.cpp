// Page set-up from outside the report (the command line's --paper,
// --landscape, --cpi, --lpi, --lines-per-page, --margins, --paginate and
// --plain), plain text reports, and the count of the lines that fall below
// the bottom of a page.
#include "base/bytefile.h"
#include "engine/header.h"
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/pagecheckpoints.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <algorithm>
#include <cmath>

namespace quillard {

bool tRenderer::OpenFile(const std::string& AFileName, TGauge* Gauge)
{
    // The report is read afresh: what earlier passes noted of it goes.
    FCheckpoints->Clear();
    if (!ScanHeader(AFileName, Gauge))
        return false;
    const TPageSetupOverrides& o = SetupOverrides;
    if (o.Paper.empty() && !o.Landscape)
        return true;
    // As the header's PAPER= and ORIENTATION= go to the printer's settings.
    if (o.Landscape)
        Setup.Orientation = 1;
    const std::string paper = UpperCase(Trim(o.Paper));
    if (int n = PaperNumber(paper))
        Setup.Paper = static_cast<int16_t>(n);
    else if (!paper.empty() && paper[0] >= '0' && paper[0] <= '9')
        Setup.Paper = static_cast<int16_t>(ParseIntPrefix(paper, 0));
    ApplySetupToPrinter();
    return true;
}

void tRenderer::ApplyPageSetupOverrides()
{
    const TPageSetupOverrides& o = SetupOverrides;
    if (SpanIndex != 1 || !Spans[1])
        return;
    tSpan& page = *Spans[1];
    if (o.HasMargins) {
        // As {INIT LEFT= TOP= RIGHT= BOTTOM=} places them: from the sheet's edges.
        const double left = o.Margins[0], top = o.Margins[1];
        const double right = Metrics.PrintableWidth + 2 * Metrics.LeftOffset - o.Margins[2];
        const double bottom = Metrics.PrintableHeight + 2 * Metrics.TopOffset - o.Margins[3];
        if (right - left >= 0.1 && bottom - top >= 0.1) {
            page.Left = left;
            page.Top = top;
            page.Right = right;
            page.Bottom = bottom;
            page.CursorX = 0;
            page.CursorY = 0;
            page.SetAlign("");
        } else if (!FMarginsRefused) {
            FMarginsRefused = true;
            ShowMessage("The margins leave no room on the page; the page is laid out without them", "Page Set-up");
        }
    }
    if (o.LinesPerPage > 0)
        SetLinesPerPage(o.LinesPerPage);
    if (o.Lpi > 0) {
        page.LinesPerInch = o.Lpi;
        page.LinesPerPage = 0;
        page.LineHeight = 1.0 / o.Lpi;
        page.Font().LineHeight = page.LineHeight;
    }
    // The fixed-pitch faces have characters 0.6 em wide: 12 points give 10
    // characters an inch.
    if (o.Cpi > 0)
        SetFontSize(std::max(1, static_cast<int>(std::lround(120.0 / o.Cpi))));
    if (o.Paginate || o.PlainText)
        page.Paginate = true;
    if (o.PlainText) {
        const double cpi = o.Cpi > 0 ? o.Cpi : 120.0 / std::max<int>(1, Setup.Cpi10Size);
        const double columns = std::floor((page.Right - page.Left) * cpi + 1e-6);
        Pass.Plain.Columns = static_cast<int>(std::clamp(columns, 1.0, 1e6));
    }
}

// ---------------------------------------------------------------------------
// Plain text

namespace {

bool IsContinuationByte(char C) { return (static_cast<unsigned char>(C) & 0xC0) == 0x80; }

// Where the piece of Text that starts at From ends when a line holds Columns
// character cells: at the last space that lets it fit (the space goes), else
// before the first character that does not fit. Tabs stop every eight cells,
// a backspace goes back one, escape sequences and other control characters
// take none, and in UTF-8 text a character takes one cell whatever its
// bytes. Next is where the next piece starts.
size_t WrapPoint(const std::string& Text, size_t From, int Columns, bool Utf8, size_t& Next)
{
    const size_t n = Text.size();
    int column = 0;
    size_t lastSpace = std::string::npos;
    size_t i = From;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(Text[i]);
        if (c == 0x1B) {
            // ESC [ parameters and intermediates, a final byte; or ESC and one.
            ++i;
            if (i < n && Text[i] == '[') {
                ++i;
                while (i < n && (static_cast<unsigned char>(Text[i]) < 0x40 || static_cast<unsigned char>(Text[i]) > 0x7E))
                    ++i;
            }
            if (i < n)
                ++i;
            continue;
        }
        if (c == '\b') {
            column = std::max(0, column - 1);
            ++i;
            continue;
        }
        // The other bytes of a UTF-8 character take no cell of their own.
        if ((c < 0x20 && c != '\t') || (Utf8 && IsContinuationByte(Text[i]))) {
            ++i;
            continue;
        }
        const int after = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
        if (after > Columns && column > 0) {
            if (c == ' ') {
                Next = i + 1;
                return i;
            }
            if (lastSpace != std::string::npos && lastSpace > From) {
                Next = lastSpace + 1;
                return lastSpace;
            }
            // No space: the line breaks here, though not inside the bytes of
            // a UTF-8 character when it can be helped.
            size_t cut = i;
            while (cut > From + 1 && IsContinuationByte(Text[cut]))
                --cut;
            if (IsContinuationByte(Text[cut]) || cut == From)
                cut = i;
            Next = cut;
            return cut;
        }
        if (c == ' ')
            lastSpace = i;
        column = after;
        ++i;
    }
    Next = n;
    return n;
}

}  // namespace

bool tRenderer::GetPlainLine(TByteFile& File, std::string& Line, std::string& LineEnd)
{
    TPassState::TPlainReading& p = Pass.Plain;
    bool read = false;
    auto readOn = [&](std::string& Into) {
        GetLn(File, Into, p.End, TLineReading{false, MaxLineBytes, UnixLineEnds});
        p.Open = Pass.LineTooLong && !File.Eof();
        read = true;
    };
    if (p.Pos >= p.Text.size() && !p.Open) {
        p.Text.clear();
        p.Pos = 0;
        readOn(p.Text);
    }
    size_t next = 0;
    size_t end = WrapPoint(p.Text, p.Pos, p.Columns, ReportEncoding == TReportEncoding::Utf8, next);
    // The rest fits, but the line goes on in the file: read on (what is held
    // stays below a line's worth of bytes).
    while (end == p.Text.size() && p.Open && p.Text.size() - p.Pos < MaxLineBytes) {
        p.Text.erase(0, p.Pos);
        p.Pos = 0;
        std::string more;
        readOn(more);
        p.Text += more;
        end = WrapPoint(p.Text, p.Pos, p.Columns, ReportEncoding == TReportEncoding::Utf8, next);
    }
    Line = PlainTextToMarkup(p.Text.substr(p.Pos, end - p.Pos), Pass.TerminalStyle);
    p.Pos = next;
    if (p.Pos >= p.Text.size() && !p.Open) {
        LineEnd = p.End;
        p.Text.clear();
        p.Pos = 0;
    } else {
        // A piece of a longer line: the next one starts on the next line.
        LineEnd = "\r\n";
    }
    return read;
}

// ---------------------------------------------------------------------------
// Lines below the bottom

void tRenderer::NoteRunBelowBottom(const std::string& Run, double CellHeight)
{
    if (Pass.LastLineBelowBottom == Pass.LineNumber && Pass.LastPageBelowBottom == CurrentPage)
        return;
    // The cell ends at the cursor; its baseline lies about a fifth of it
    // higher (the descent of the faces). A line whose baseline is on the page
    // shows, only its descenders may be cut.
    const tSpan& s = Span();
    const double baseline = s.Top + s.CursorY - 0.2 * CellHeight;
    if (!(baseline > Metrics.TopOffset + Metrics.PrintableHeight + 1e-9))
        return;
    if (Run.find_first_not_of(" \t\r") == std::string::npos)
        return;
    Pass.LastLineBelowBottom = Pass.LineNumber;
    Pass.LastPageBelowBottom = CurrentPage;
    ++LinesBelowBottom[CurrentPage];
}

}  // namespace quillard
