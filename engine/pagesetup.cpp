// Page set-up from outside the report (the command line's --paper,
// --landscape, --cpi, --lpi, --lines-per-page, --margins, --paginate and
// --plain), plain text reports, and the count of the lines that fall below
// the bottom of a page.
#include "base/bytefile.h"
#include "base/strings.h"
#include "base/textencoding.h"
#include "engine/header.h"
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/pagecheckpoints.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <algorithm>
#include <iterator>
#include <span>
#include <cmath>

namespace quillard {

bool tRenderer::OpenFile(const std::string& AFileName, TGauge* Gauge)
{
    // The report is read afresh: what earlier passes noted of it goes.
    FCheckpoints->Clear();
    if (!ScanHeader(AFileName, Gauge))
        return false;
    const TPageSetupOverrides& o = SetupOverrides;
    if (o.Paper.empty() && !o.Landscape && !o.Portrait)
        return true;
    // As the header's PAPER= and ORIENTATION= go to the printer's settings.
    if (o.Landscape)
        Setup.Orientation = 1;
    else if (o.Portrait)
        Setup.Orientation = 0;
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
    const double sheetWidth = Metrics.PrintableWidth + 2 * Metrics.LeftOffset,
                 sheetHeight = Metrics.PrintableHeight + 2 * Metrics.TopOffset;
    // Plain text is printed as on a line printer's form, inside margins
    // that no printer clips: at least a quarter inch on every side.
    double margins[4] = {o.Margins[0], o.Margins[1], o.Margins[2], o.Margins[3]};
    const bool plainMargins = PlainTextPass() && !o.HasMargins;
    if (plainMargins) {
        margins[0] = margins[2] = std::max(PlainTextMargin, Metrics.LeftOffset);
        margins[1] = margins[3] = std::max(PlainTextMargin, Metrics.TopOffset);
    }
    if (o.HasMargins || plainMargins) {
        // As {INIT LEFT= TOP= RIGHT= BOTTOM=} places them: from the sheet's edges.
        const double left = margins[0], top = margins[1];
        const double right = sheetWidth - margins[2];
        const double bottom = sheetHeight - margins[3];
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
    else if (PlainTextPass() && o.Lpi <= 0)
        // Six lines an inch of the sheet: 66 lines on Letter, 70 on A4, as
        // a line printer fills an 11-inch form, closed up a little to fit
        // within the margins.
        SetLinesPerPage(static_cast<int>(std::clamp(std::lround(sheetHeight * PlainTextLinesPerInch), 1L, 1000L)));
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
    if (o.Paginate || PlainTextPass())
        page.Paginate = true;
    if (PlainTextPass()) {
        const double cpi = o.Cpi > 0 ? o.Cpi : 120.0 / std::max<int>(1, Setup.Cpi10Size);
        const double columns = std::floor((page.Right - page.Left) * cpi + 1e-6);
        Pass.Plain.Columns = static_cast<int>(std::clamp(columns, 1.0, 1e6));
    }
}

// ---------------------------------------------------------------------------
// Plain text

namespace {

bool IsContinuationByte(char C) { return (static_cast<unsigned char>(C) & 0xC0) == 0x80; }

struct TCharRange {
    char32_t From, To;
};

bool InRanges(char32_t C, std::span<const TCharRange> Ranges)
{
    const auto r = std::upper_bound(Ranges.begin(), Ranges.end(), C,
                                    [](char32_t V, const TCharRange& R) { return V < R.From; });
    return r != Ranges.begin() && C <= std::prev(r)->To;
}

// The character cells a character takes in a line of fixed-pitch text, as
// terminals count them: two for the East Asian wide and fullwidth ones
// (ideographs, kana, hangul, fullwidth forms, emoji), none for combining
// marks and zero-width characters, one for every other.
int CharacterCells(char32_t C)
{
    if (C < 0x300)
        return 1;
    static constexpr TCharRange Combining[] = {
        {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
        {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
        {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0E31, 0x0E31},
        {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
        {0x2028, 0x202E}, {0x2060, 0x2064}, {0x20D0, 0x20FF}, {0x302A, 0x302D}, {0x3099, 0x309A},
        {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
    };
    static constexpr TCharRange Wide[] = {
        {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
        {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
        {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
        {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
        {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
        {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
        {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
        {0x2E80, 0x303E},   {0x3041, 0x3247},   {0x3250, 0x4DBF},   {0x4E00, 0xA4CF},   {0xA960, 0xA97F},
        {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},
        {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1AFF0, 0x1B2FF}, {0x1F004, 0x1F004},
        {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F320},
        {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3},
        {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC},
        {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596},
        {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2},
        {0x1F6D5, 0x1F6D7}, {0x1F6DC, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB},
        {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF},
        {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    if (InRanges(C, Combining))
        return 0;
    return InRanges(C, Wide) ? 2 : 1;
}

// Where the piece of Text that starts at From ends when a line holds Columns
// character cells: at the last space that lets it fit (the space goes), else
// before the first character that does not fit. Tabs stop every eight cells,
// a backspace goes back one, escape sequences and other control characters
// take none, and in UTF-8 text a character takes one cell whatever its
// bytes, but two for a wide one and none for a combining mark. Next is
// where the next piece starts.
size_t WrapPoint(const std::string& Text, size_t From, int Columns, bool Utf8, size_t& Next)
{
    const size_t n = Text.size();
    int column = 0;
    size_t lastSpace = std::string::npos;
    size_t i = From;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(Text[i]);
        if (c == 0x1B) {
            // As the line's markup reads it: string sequences (a window
            // title ...) take no room either.
            i = PlainTextEscapeEnd(Text, i);
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
        int cells = 1;
        if (Utf8 && c >= 0xC0) {
            size_t j = i;
            cells = CharacterCells(DecodeUtf8(Text, j));
        }
        const int after = c == '\t' ? (column / 8 + 1) * 8 : column + cells;
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

void tRenderer::NoteRunPastRightEdge(double Right)
{
    if (Pass.LastLinePastRightEdge == Pass.LineNumber || !(Right > Metrics.LeftOffset + Metrics.PrintableWidth + 0.01))
        return;
    Pass.LastLinePastRightEdge = Pass.LineNumber;
    if (LinesPastRightEdge++ == 0)
        FirstPagePastRightEdge = CurrentPage;
}

std::vector<std::string> tRenderer::LostTextMessages() const
{
    std::vector<std::string> out;
    auto lines = [](int64_t n) { return GroupedNumber(n) + (n == 1 ? " line" : " lines"); };
    if (!LinesBelowBottom.empty()) {
        int64_t total = 0;
        for (const auto& [page, n] : LinesBelowBottom)
            total += n;
        const int first = LinesBelowBottom.begin()->first;
        const size_t pages = LinesBelowBottom.size();
        out.push_back(lines(total) + " fell" + " below the bottom of " +
                      (pages == 1 ? "page " + std::to_string(first)
                                  : GroupedNumber(static_cast<int64_t>(pages)) + " pages from page " + std::to_string(first)) +
                      " and " + (total == 1 ? "is" : "are") +
                      " not shown; --plain lays the file out as plain text, --paginate breaks full pages");
    }
    if (LinesPastRightEdge > 0)
        out.push_back(lines(LinesPastRightEdge) + " ran past the right edge of the page (from page " +
                      std::to_string(FirstPagePastRightEdge) + " on) and " + (LinesPastRightEdge == 1 ? "is" : "are") +
                      " cut there; --plain wraps long lines");
    if (PicturesNotDrawn > 0)
        out.push_back(GroupedNumber(PicturesNotDrawn) + (PicturesNotDrawn == 1 ? " picture" : " pictures") +
                      " could not be drawn");
    return out;
}

}  // namespace quillard
