#include "engine/renderer.h"

#include "base/bytefile.h"
#include "base/textencoding.h"
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/pagecheckpoints.h"
#include "engine/printer.h"
#include "engine/services.h"
#include "surfaces/fontlist.h"
#include "surfaces/imagecanvas.h"
#include "surfaces/linedraw.h"
#include "tags/interpreter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <typeinfo>
#include <unistd.h>

namespace quillard {

namespace {

// Raised by failures a pass passes on to its caller after showing them.
struct TPassFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

int ClampToInt(double v)
{
    if (!(v == v))
        return 0;
    return static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0));
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

tRenderer::tRenderer() : FCheckpoints(std::make_unique<TPageCheckpoints>())
{
    try {
        GetCapacities();
        Setup.Version = 0;
        Pass.Depth = 0;
        Find.Text.clear();
        Find.CaseSensitive = false;
        TestPattern = false;
        Printing = false;
        Job.Title.clear();
        SpanIndex = 1;
        // Without a printer the renderer measures on a small bitmap at the
        // resolution the metrics assume; the application hands it the real
        // surface before anything is drawn.
        Canvas = std::make_unique<TImageCanvas>(1, 1, ClampToInt(Metrics.DpiX), ClampToInt(Metrics.DpiY));
        Spans[1] = std::make_unique<tSpan>(Canvas.get(), Metrics.PrintableHeight, Metrics.PrintableWidth, Scale);
        InitSpan(*Spans[1]);
        Pass.Aborted = false;
        Setup.Cpi10Size = 12;
        Setup.Cpi12Size = 10;
        Setup.Cpi17Size = 7;
        FileName.clear();
        Job.Copies = 1;
        FileSize = 0;
        if (!EncodingChoiceOf(Globals().ReportEncoding, EncodingChoice))
            EncodingChoice = TEncodingChoice::Auto;
        LineEndChoice = Globals().LineEnds;
        PlainTextChoice = Globals().PlainText;
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error tRenderer.Create");
    }
}

tRenderer::~tRenderer()
{
    for (int i = MaxSpans; i >= 1; --i)
        Spans[i].reset();
}

tSpan& tRenderer::Span()
{
    if (SpanIndex < 1 || SpanIndex > MaxSpans || !Spans[SpanIndex])
        throw std::out_of_range("Span index out of range");
    return *Spans[SpanIndex];
}

tSpan& tRenderer::PageSpan()
{
    if (!Spans[1])
        throw std::out_of_range("Span index out of range");
    return *Spans[1];
}

void tRenderer::SetCanvas(std::unique_ptr<TRenderingCanvas> ACanvas)
{
    // While a job's pass runs, a surface handed to the renderer is its own:
    // it waits aside with the renderer's metrics and zoom.
    if (FOwnTargetAside) {
        FOwnTargetAside->Canvas = std::move(ACanvas);
        return;
    }
    PutCanvas(std::move(ACanvas));
}

void tRenderer::PutCanvas(std::unique_ptr<TRenderingCanvas> ACanvas)
{
    // Spans point at the canvas they were made on: move them along.
    for (auto& s : Spans)
        if (s)
            s->Canvas = ACanvas.get();
    Canvas = std::move(ACanvas);
}

void tRenderer::MeasureOnScreen(int Dpi, double Scale)
{
    SetCanvas(std::make_unique<TImageCanvas>(1, 1, Dpi, Dpi));
    SetScale(Scale);
}

void tRenderer::UsePageSurface(std::unique_ptr<TRenderingCanvas> Surface)
{
    SetCanvas(std::move(Surface));
    SetScale(GetScale());
}

void tRenderer::ExchangeTarget(TPageTarget& Target)
{
    std::unique_ptr<TRenderingCanvas> current = std::move(Canvas);
    PutCanvas(std::move(Target.Canvas));
    Target.Canvas = std::move(current);
    std::swap(Metrics, Target.Metrics);
    std::swap(Scale, Target.Scale);
    for (auto& s : Spans)
        if (s)
            s->Scale = Scale;
}

bool tRenderer::RenderPagesOn(TPageTarget& Target, TGauge* Gauge, int FromPage, int ToPage)
{
    if (FOwnTargetAside || Pass.Depth > 0)
        throw std::logic_error("A page pass is already under way");
    // The renderer's own target waits in Target's place until the pass ends.
    struct TGiveBack {
        tRenderer& R;
        TPageTarget& T;
        ~TGiveBack()
        {
            R.FOwnTargetAside = nullptr;
            R.ExchangeTarget(T);
        }
    };
    ExchangeTarget(Target);
    FOwnTargetAside = &Target;
    TGiveBack giveBack{*this, Target};
    return RenderPages(Gauge, FromPage, nullptr, ToPage);
}

// ---------------------------------------------------------------------------
// Spans

void tRenderer::InitSpan(tSpan& S)
{
    S.PageWidth = Metrics.PrintableWidth;
    S.PageHeight = Metrics.PrintableHeight;
    S.Left = Metrics.LeftOffset;
    S.Top = Metrics.TopOffset;
    S.Right = Metrics.PrintableWidth + Metrics.LeftOffset;
    S.Bottom = Metrics.PrintableHeight + Metrics.TopOffset;
}

void tRenderer::ResetSpans()
{
    try {
        if (SpanIndex > MaxSpans)
            SpanIndex = MaxSpans;
        while (SpanIndex >= 1) {
            Spans[SpanIndex].reset();
            --SpanIndex;
        }
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error Resetting Spans");
    }
    for (auto& s : Spans)
        s.reset();
    SpanIndex = 1;
    Spans[1] = std::make_unique<tSpan>(Canvas.get(), Metrics.PrintableHeight, Metrics.PrintableWidth, Scale);
    InitSpan(*Spans[1]);
}

void tRenderer::FreeCurrentSpan()
{
    if (SpanIndex >= 1 && SpanIndex <= MaxSpans)
        Spans[SpanIndex].reset();
}

// ---------------------------------------------------------------------------
// Reading lines

namespace {

// Watches the bytes of a line for the DATA=" of an image tag that carries
// in-line data ("{IMG" or "{IMAGE", then "DATALEN=", then DATA=" before any
// "}"): what follows are the picture's bytes, not text.
class TInlineDataWatch {
public:
    // Outside a tag every byte but "{" is passed over unseen.
    bool OutsideTag() const { return FSinceBrace < 0; }
    // True when C completes such a DATA=".
    bool Feed(char C)
    {
        if (FSinceBrace < 0 && C != '{')
            return false;  // outside tags: nothing to watch
        const uint8_t u = static_cast<uint8_t>(C >= 'a' && C <= 'z' ? C - 32 : C);
        FLast = FLast << 8 | u;
        if (C == '}') {
            FSinceBrace = -1;
            FImage = FLength = false;
            return false;
        }
        if (C == '{') {
            FSinceBrace = 0;
            FImage = FLength = false;
            return false;
        }
        if (FSinceBrace < 5) {
            ++FSinceBrace;
            if (FSinceBrace == 3)
                FImage = (FLast & 0xFFFFFFFFu) == Word("{IMG");
            else if (FSinceBrace == 5 && (FLast & 0xFFFFFFFFFFFFull) == Word("{IMAGE"))
                FImage = true;
        }
        if (!FImage)
            return false;
        if (FLast == Word("DATALEN="))
            FLength = true;
        return C == '"' && FLength && (FLast & 0xFFFFFFFFFFFFull) == Word("DATA=\"");
    }

private:
    static constexpr uint64_t Word(const char* S)
    {
        uint64_t v = 0;
        for (; *S; ++S)
            v = v << 8 | static_cast<uint8_t>(*S);
        return v;
    }
    uint64_t FLast = 0;      // the last eight bytes, upper-cased, the newest lowest
    int FSinceBrace = -1;    // bytes since the last "{" not followed by "}" (up to 5)
    bool FImage = false;     // that "{" opened an image tag
    bool FLength = false;    // with a DATALEN= in it so far
};

// The bytes the line reader must look at one by one: the line ends, and,
// when it watches for in-line picture data, the "{" that opens a tag.
struct TStopBytes {
    bool AtLineEnd[256] = {};
    bool AtLineEndOrTag[256] = {};
    constexpr TStopBytes()
    {
        for (unsigned char c : {'\r', '\n', '\f'})
            AtLineEnd[c] = AtLineEndOrTag[c] = true;
        AtLineEndOrTag[static_cast<unsigned char>('{')] = true;
    }
};
constexpr TStopBytes StopBytes;

}  // namespace

void tRenderer::GetLn(TByteFile& File, std::string& Line, std::string& LineEnd, const TLineReading& How)
{
    const bool StopAfterInlineData = How.StopAfterInlineData;
    const size_t MaxBytes = How.MaxBytes;
    Line.clear();
    LineEnd.clear();
    Pass.LineCut = false;
    Pass.LineTooLong = false;
    int64_t start = 0;
    int64_t count = 0;
    TInlineDataWatch watch;
    try {
        start = File.Position();
        // The line is taken from the file's buffer in pieces that end every
        // Chunk bytes from its start, where a long line is looked at: a
        // line longer than MaxBytes is cut where it was always cut.
        constexpr size_t Chunk = 500;
        bool done = false;
        while (!done) {
            const std::string_view buffered = File.Buffered();
            if (buffered.empty())
                break;
            const size_t toChunkEnd = Chunk - static_cast<size_t>(count % Chunk);
            const size_t n = std::min(buffered.size(), toChunkEnd);
            const char* const block = buffered.data();
            File.Seek(File.Position() + static_cast<int64_t>(n));
            size_t runStart = 0;
            const bool* stop = StopAfterInlineData ? StopBytes.AtLineEndOrTag : StopBytes.AtLineEnd;
            for (size_t i = 0; i < n; ++i) {
                if (LineEnd.empty() && watch.OutsideTag()) {
                    // Text: stepped over up to the next byte that matters,
                    // eight bytes at a time while none of them does.
                    size_t j = i;
                    while (n - j >= 8) {
                        // The line ends are control bytes below 14: a word
                        // without any of those holds none of them.
                        const uint64_t w = WordAt(block + j);
                        if (WordHoldsByteBelow(w, 14) &&
                            (WordHoldsByte(w, '\r') || WordHoldsByte(w, '\n') || WordHoldsByte(w, '\f')))
                            break;
                        if (StopAfterInlineData && WordHoldsByte(w, '{'))
                            break;
                        j += 8;
                    }
                    while (j < n && !stop[static_cast<unsigned char>(block[j])])
                        ++j;
                    count += static_cast<int64_t>(j - i);
                    i = j;
                    if (i == n)
                        break;
                }
                char c = block[i];
                ++count;
                bool term = c == '\n' || c == '\f' || c == '\r';
                if (LineEnd.empty() && !term) {
                    if (StopAfterInlineData && watch.Feed(c)) {
                        // The picture's bytes follow: the line stops here.
                        Line.append(block + runStart, i + 1 - runStart);
                        runStart = n;
                        Pass.LineCut = true;
                        done = true;
                        break;
                    }
                    continue;  // part of the line; appended in one piece below
                }
                if (LineEnd.empty()) {
                    Line.append(block + runStart, i - runStart);
                } else if (How.UnixLineEnds && !((LineEnd[0] == '\r' && c == '\n') || (LineEnd[0] == '\n' && c == '\r'))) {
                    // In a Linux text file only CR LF (and LF CR) is one line
                    // end of two bytes: this byte starts the next line.
                    --count;
                    done = true;
                    break;
                }
                LineEnd += c;
                if (LineEnd.size() == 2) {
                    done = true;
                    break;
                }
            }
            if (LineEnd.empty() && !Pass.LineCut)
                Line.append(block + runStart, n - runStart);
            if (!done && LineEnd.empty() && Line.size() >= MaxBytes && (n == toChunkEnd || File.Eof())) {
                // The rest is read as the next piece of the same line.
                Pass.LineTooLong = true;
                done = true;
            }
        }
        if (LineEnd.size() == 2) {
            char c = LineEnd[1];
            if (c != '\n' && c != '\f' && c != '\r') {
                LineEnd.pop_back();
                --count;
            }
        }
        File.Seek(start + count);
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error tRenderer.GetLn");
    }
}

// ---------------------------------------------------------------------------
// The page pass

void tRenderer::SetUpPassPageSpan(tRenderState& State)
{
    // Initial state of the page span and the canvas.
    tSpan& page = *Spans[1];
    {
        tFontInfo& f = page.FontStack[1];
        f.Name = Setup.FixedFontName;
        f.Size = static_cast<int>(RoundHalfEven(Scale * Setup.Cpi10Size));
        f.Style = 0;
        f.Color = 0;
        f.BackColor = 0xFFFFFF;
        f.BackStyle = bsClear;
        Canvas->Font.Name = f.Name;
        Canvas->Font.Size = f.Size;
        Canvas->Font.Color = 0;
        Canvas->Font.Style = 0;
        tPenInfo& p = page.PenStack[1];
        p.Style = psInsideFrame;
        p.Color = 0;
        p.Mode = pmCopy;
        p.BrushStyle = bsClear;
        p.BrushColor = 0xFFFFFF;
        page.SetPenWidth(2);
        Canvas->Pen.Style = psInsideFrame;
        Canvas->Pen.Color = 0;
        Canvas->Pen.Mode = pmCopy;
        Canvas->CopyMode = 0xCC0020;
        Canvas->Brush.Style = bsClear;
        Canvas->Brush.Color = 0xFFFFFF;
    }
    InitSpan(page);
    page.SetAlign("LEFT");
    page.LineHeight = Canvas->TextHeight("Wyq") / Metrics.PixelsPerInchY;
    page.FontStack[1].LineHeight = page.LineHeight;
    Canvas->MoveTo(0, 0);
    page.CursorX = 0;
    page.CursorY = 0;
    State.PageBreakPending = false;
    State.LastRotation = 0;
    Find.FoundPages.clear();
    LinesBelowBottom.clear();
    LinesPastRightEdge = 0;
    FirstPagePastRightEdge = 0;
    PicturesNotDrawn = 0;
    Pass.LineNumber = 0;
    Pass.LastLineBelowBottom = -1;
    Pass.LastLinePastRightEdge = -1;
    Pass.Plain = TPassState::TPlainReading{};
    ApplyPageSetupOverrides();
}

void tRenderer::AdvanceForLineEnd(tRenderState& State, bool ExactFit)
{
    // The previous line's terminator moves the cursor of the current span.
    // While a page break waits, the next page has no line yet: the line
    // feed that ends the line of the break is not counted (its first line
    // is placed at the top as on the first page), but each empty line
    // after it is a line of the next page, placed and passed.
    tSpan& span = Span();
    if (State.LineEnd.find('\n') != std::string::npos) {
        if (!State.PageBreakPending) {
            span.CursorY += span.LineHeight;
        } else if (!State.BreakLineEnded) {
            State.BreakLineEnded = true;
        } else {
            if (span.CursorY == 0)
                span.CursorY = span.LineHeight;
            span.CursorY += span.LineHeight;
        }
    }
    if (State.LineEnd.find('\r') != std::string::npos ||
        (UnixLineEnds && State.LineEnd.find('\n') != std::string::npos))
        span.SetAlign("");

    // A page break asked for from outside the report (--paginate,
    // --plain) comes when this line does not fit; the header's PAGINATE
    // keeps room for one line more.
    const double room = ExactFit ? -1e-6 : span.LineHeight;
    if (span.Paginate && span.CursorY + room > span.Bottom - span.Top) {
        State.PageBreakPending = true;
        State.BreakLineEnded = false;
        span.CursorX = 0;
        span.CursorY = 0;
    }
}

void tRenderer::PrepareLineText(const tRenderState& State, std::string& Line, bool Utf8Pass, bool Plain)
{
    // The page pass works in UTF-8 or in Windows-1252: a CP437 report's
    // text becomes UTF-8, and a byte-order mark is no text.
    if (Utf8Pass && Pass.LineStartPos == 0 && ReportHasBom && ReportEncoding == TReportEncoding::Utf8)
        Line.erase(0, 3);
    if (ReportEncoding == TReportEncoding::Cp437)
        Line = Cp437ToUtf8(Line);
    // Overstrike and escape sequences of text written for terminals and
    // line printers become markup.
    // (A plain text report's reader has made its lines markup already.)
    if (!Plain && HasTerminalControls(Line))
        Line = TerminalTextToMarkup(Line, Pass.TerminalStyle);
    // Centred and right-aligned lines have no tab stops: their tabs are
    // spaces, measured with the rest of the line.
    if (Line.find('\t') != std::string::npos) {
        const std::string align = Span().GetAlign();
        if (align == "CENTER" || align == "RIGHT")
            Line = ExpandTabsToColumns(Line);
    }
    if (Line.find('\f') != std::string::npos)
        Line = ReplaceAll(Line, "\f", "{PAGE}");
    if (State.LineEnd.find('\f') != std::string::npos)
        Line += "{PAGE}";
}

void tRenderer::HighlightFoundText(const tRenderState& State, std::string& Line, const std::string& FindWhat, bool Utf8Pass)
{
    int n = HighlightMatches(Line, FindWhat, Find.CaseSensitive, "{/FONT}",
                             "{FONT COLOR=BLACK BGCOLOR=Cyan BGSTYLE=\"Solid\"}", "",
                             "{HIGHLIGHTLINE COLOR=Yellow STYLE=\"Solid\"}{HIGHLIGHTLINE COLOR=LIME STYLE=\"//\"}",
                             Utf8Pass);
    // A line read while a page break waits belongs to the next page.
    const int64_t page = int64_t(CurrentPage) + (State.PageBreakPending ? 1 : 0);
    std::string mark = "," + std::to_string(page) + ",";
    // Pages only grow during a pass, so a page already recorded is the
    // last one: looking only there keeps a long report with many
    // hits from searching the whole list for every line.
    const bool recorded = Find.FoundPages.size() >= mark.size() &&
                          Find.FoundPages.compare(Find.FoundPages.size() - mark.size(), mark.size(), mark) == 0;
    if (n > 0 && !recorded)
        Find.FoundPages += mark;
}

void tRenderer::ReplaceBoxDrawing(std::string& Line, bool Utf8Pass)
{
    if (Utf8Pass) {
        if (ContainsUtf8LineDrawChars(Line))
            Line = ReplaceUtf8LineDrawChars(Line);
    } else if (!Globals().UseLineDrawFont && (Globals().LineDrawChosen || ReportHasBoxRuns) &&
               ContainsLineDrawChars(Line)) {
        Line = ReplaceLineDrawChars(Line);
    }
}

bool tRenderer::RenderPages(TGauge* Gauge, int FromPage, tRenderState* State, int ToPage)
{
    std::unique_ptr<tRenderState> ownState;
    if (!State) {
        ownState = std::make_unique<tRenderState>();
        State = ownState.get();
    }
    State->FromPage = FromPage;
    State->ToPage = ToPage;
    TTagInterpreter interpreter(*this);
    ++Pass.Depth;
    Pass.AreaCode = 100;
    Rendering = true;
    Pass.Aborted = false;
    Pass.AreaCode = 101;
    Pass.AreaCode = 102;
    ResetSpans();

    // Whether this pass notes where its pages start.
    bool noting = false;
    struct TPassEnd {
        tRenderer& R;
        tRenderState& S;
        const bool& Noting;
        ~TPassEnd()
        {
            if (Noting)
                R.FCheckpoints->NoteFoundPages(R.CurrentPage, R.Find.FoundPages);
            S.ReportFile.Close();
            R.FileOpen = false;
            R.Rendering = false;
            --R.Pass.Depth;
        }
    } passEnd{*this, *State, noting};

    if (FileName.empty() || ::access(FileName.c_str(), F_OK) != 0)
        return true;

    Pass.AreaCode = 103;
    PictureBudget.Reset();
    PictureCache.NewPass();
    Pass.Limits = TPassState::TLimitsMet{};
    Pass.TerminalStyle = TTerminalStyle{};
    if (TestPattern && !FCountOnly) {
        DrawPrintableArea();
        DrawTestPattern();
    }

    Pass.AreaCode = 105;
    try {
        State->ReportFile.Open(FileName);
    } catch (const std::exception& e) {
        NoteOpenFailure(FileName);
        ShowMessage("Error opening " + Quoted(FileName) + "\r\n" + e.what(), "Cannot Open File");
        FileName.clear();
        return false;
    }
    FileSize = State->ReportFile.Size();
    FileOpen = true;
    Pass.AreaCode = 106;
    if (!Printing && Gauge)
        Gauge->Progress = 1;

    SetUpPassPageSpan(*State);
    Pass.AreaCode = 107;

    try {
        State->ReportFile.Seek(0);
    } catch (const std::exception& e) {
        ShowMessage("Error resetting " + Quoted(FileName) + "\r\n" + e.what(), "Cannot Reset File");
        return false;
    }
    CurrentPage = 1;
    Pass.PageNumber = 1;
    Pass.OpenPage = 0;
    StartSurfacePage(*State);
    Pass.AreaCode = 108;
    State->LineEnd = "\r";
    // A pass on the renderer's own target notes where the pages start, and a
    // pass for a page after one noted goes on from the last one before it.
    FLastPassStart = 1;
    if (!FOwnTargetAside) {
        FCheckpoints->StartPass(LayoutKey(State->ReportFile));
        noting = true;
        if (FromPage > 1 && !FCountOnly)
            if (const TPageCheckpoint* from = FCheckpoints->Before(FromPage))
                GoOnFrom(*from, *State);
    }
    int pageNoted = CurrentPage;
    ProcessMessages();
    Pass.AreaCode = 109;

    const bool utf8Pass = ReportEncoding != TReportEncoding::Cp1252;
    Canvas->Utf8Text = utf8Pass;
    const std::string findText = Trim(utf8Pass && !Find.TextUtf8.empty() ? Find.TextUtf8 : Find.Text);
    std::string line;
    const bool plain = PlainTextPass();
    const bool exactFit = plain || SetupOverrides.Paginate;
    while (!Pass.Aborted && (!State->ReportFile.Eof() || (plain && PlainTextPending()))) {
        if (noting && CurrentPage != pageNoted) {
            pageNoted = CurrentPage;
            if (FCheckpoints->Wants(CurrentPage))
                FCheckpoints->Add(MakeCheckpoint(*State));
        }
        Pass.AreaCode = 1;
        try {
            if (Gauge && Gauge->Progress < Gauge->MaxValue)
                ++Gauge->Progress;
        } catch (const std::exception& e) {
            ShowMessage(e.what(), "Error updating Gauge");
        }

        AdvanceForLineEnd(*State, exactFit);

        Pass.AreaCode = 111;
        Pass.LineStartPos = State->ReportFile.Position();
        Pass.AreaCode = 3;
        ++Pass.LineNumber;
        // A plain text report's line may be a piece of one held from before.
        const bool read = plain ? GetPlainLine(State->ReportFile, line, State->LineEnd)
                                : (GetPassLine(State->ReportFile, line, State->LineEnd), true);
        if (!plain && Pass.LineTooLong && !Pass.Limits.LongLine) {
            Pass.Limits.LongLine = true;
            ShowMessage("A line of " + Quoted(FileName) + " is longer than " + std::to_string(MaxLineBytes >> 20) +
                            " MB; it is laid out in pieces of that length",
                        "Error tRenderer.GetLn");
        }
        if (read && State->ReportFile.Position() == Pass.LineStartPos && !State->ReportFile.Eof()) {
            // The reader could not move on (a read error it has reported):
            // stop rather than read the same place forever.
            ShowMessage("Error reading from file " + Quoted(FileName) + "\r\n" + "The file could not be read past byte " +
                            std::to_string(Pass.LineStartPos),
                        "Cannot Read File");
            break;
        }
        Span().Column = 0;
        Pass.AlignWholeLine = true;
        Pass.AtLineStart = true;

        PrepareLineText(*State, line, utf8Pass, plain);

        if (!findText.empty())
            HighlightFoundText(*State, line, findText, utf8Pass);

        ReplaceBoxDrawing(line, utf8Pass);

        if (State->ToPage >= 1 &&
            ((State->PageBreakPending && CurrentPage == State->ToPage) || CurrentPage > State->ToPage)) {
            Pass.AreaCode = CurrentPage > State->ToPage ? 4 : 3;
            line.clear();
            State->ReportFile.Seek(State->ReportFile.Size());
            break;
        }

        ProcessMessages();
        interpreter.InterpretLine(*State, line);
        ProcessMessages();
        if (State->ReportFile.Shrunk())
            break;
    }

    Pass.AreaCode = 99;
    EndSurfacePage();
    if (State->ReportFile.Shrunk()) {
        // Another program cut the report short while it was read: what was
        // laid out is not the report, and the caller must not take it for it.
        ShowMessage("Error reading from file " + Quoted(FileName) + "\r\n" +
                        "The file became shorter while it was read (it ends at byte " +
                        std::to_string(State->ReportFile.Size()) + " now)",
                    "Cannot Read File");
        return false;
    }
    return !Pass.Aborted;
}

void tRenderer::StartSurfacePage(const tRenderState& State)
{
    if (FCountOnly)
        return;
    if (State.FromPage > 0 && CurrentPage < State.FromPage)
        return;
    if (State.ToPage > 0 && CurrentPage > State.ToPage)
        return;
    Pass.OpenPage = CurrentPage;
    if (Canvas)
        Canvas->StartPage(CurrentPage);
}

void tRenderer::EndSurfacePage()
{
    if (Pass.OpenPage == 0)
        return;
    const int page = Pass.OpenPage;
    Pass.OpenPage = 0;
    if (Canvas)
        Canvas->EndPage(page);
}

TLayoutKey tRenderer::LayoutKey(const TByteFile& Report)
{
    TLayoutKey k;
    k.FileName = FileName;
    k.Report = Report.Version();
    const TRenderingCanvas& surface = *Canvas;
    k.SurfaceKind = typeid(surface).name();
    k.SurfaceDpiX = Canvas->GetDeviceCaps(LOGPIXELSX);
    k.SurfaceDpiY = Canvas->GetDeviceCaps(LOGPIXELSY);
    k.Scale = Scale;
    k.Metrics = Metrics;
    k.Setup = Setup;
    k.Overrides = SetupOverrides;
    k.UnixLineEnds = UnixLineEnds;
    k.PlainLayout = PlainLayout;
    k.Encoding = ReportEncoding;
    k.ReportHasBom = ReportHasBom;
    k.ReportHasBoxRuns = ReportHasBoxRuns;
    k.UseLineDrawFont = Globals().UseLineDrawFont;
    k.LineDrawChosen = Globals().LineDrawChosen;
    k.Untrusted = ReportIsUntrusted;
    k.FromNetwork = ReportFromNetwork;
    k.NetworkPictureFolder = NetworkPictureFolder;
    k.FindText = Find.Text;
    k.FindTextUtf8 = Find.TextUtf8;
    k.FindCaseSensitive = Find.CaseSensitive;
    k.PicturePixels = PictureBudget.BaseAllowance();
    k.FieldTextBase = FieldTextBase;
    return k;
}

std::optional<TLayoutKey> tRenderer::ViewKey()
{
    if (FileName.empty() || !Canvas)
        return std::nullopt;
    TByteFile report;
    try {
        report.Open(FileName);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return LayoutKey(report);
}

TPageCheckpoint tRenderer::MakeCheckpoint(const tRenderState& State) const
{
    TPageCheckpoint c;
    c.Page = CurrentPage;
    c.FilePos = State.ReportFile.Position();
    for (int i = 1; i <= MaxSpans; ++i)
        if (Spans[i])
            c.Spans.emplace_back(i, Spans[i]->Save());
    c.SpanIndex = SpanIndex;
    c.Pass = Pass;
    c.PageBreakPending = State.PageBreakPending;
    c.BreakLineEnded = State.BreakLineEnded;
    c.LastRotation = State.LastRotation;
    c.LineEnd = State.LineEnd;
    c.Font = Canvas->Font;
    c.Pen = Canvas->Pen;
    c.Brush = Canvas->Brush;
    c.CopyMode = Canvas->CopyMode;
    c.Budget = PictureBudget;
    c.FoundPagesLength = Find.FoundPages.size();
    return c;
}

void tRenderer::GoOnFrom(const TPageCheckpoint& c, tRenderState& State)
{
    State.ReportFile.Seek(c.FilePos);
    for (auto& span : Spans)
        span.reset();
    for (const auto& [slot, saved] : c.Spans) {
        Spans[slot] = std::make_unique<tSpan>(Canvas.get(), Metrics.PrintableHeight, Metrics.PrintableWidth, Scale);
        Spans[slot]->Restore(saved);
    }
    SpanIndex = c.SpanIndex;
    // The pass's own bookkeeping stays this pass's.
    const int depth = Pass.Depth, openPage = Pass.OpenPage, area = Pass.AreaCode;
    const bool aborted = Pass.Aborted;
    Pass = c.Pass;
    Pass.Depth = depth;
    Pass.OpenPage = openPage;
    Pass.AreaCode = area;
    Pass.Aborted = aborted;
    CurrentPage = c.Page;
    State.PageBreakPending = c.PageBreakPending;
    State.BreakLineEnded = c.BreakLineEnded;
    State.LastRotation = c.LastRotation;
    State.LineEnd = c.LineEnd;
    Canvas->Font = c.Font;
    Canvas->FontChanged();
    Canvas->Pen = c.Pen;
    Canvas->Brush = c.Brush;
    Canvas->CopyMode = c.CopyMode;
    if (c.LastRotation != 0) {
        try {
            Canvas->SetFontAngle(c.LastRotation);
        } catch (const ECannotCreateFont&) {
            // Said when the pass that noted the page made the font.
        }
    }
    PictureBudget = c.Budget;
    Find.FoundPages = FCheckpoints->FoundPagesBefore(c);
    FLastPassStart = c.Page;
}

void tRenderer::ApplySetupToPrinter()
{
    TPrinterLayer& printer = Printer();
    try {
        if (Setup.Paper != 0)
            printer.SetPaperSize(Setup.Paper);
    } catch (const std::exception&) {
        // A printer without that paper keeps its own, as when the report opened.
    }
    try {
        if (printer.CanOrientation())
            printer.SetOrientation(Setup.Orientation);
    } catch (const std::exception&) {
    }
}

bool tRenderer::ReportReadableForJob(std::string* Reason) const
{
    if (IsBlank(FileName)) {
        Globals().LastFailure = TFailureKind::NoReport;
        SayWhy(Reason, "There is no report");
        return false;
    }
    TByteFile report;
    try {
        report.Open(FileName);
    } catch (const std::exception& e) {
        Globals().LastFailure = TFailureKind::NoReport;
        SayWhy(Reason, "The report " + Quoted(FileName) + " cannot be read: " + e.what());
        return false;
    }
    return true;
}

bool tRenderer::CountPass(TGauge* Gauge)
{
    struct TDrawAgain {
        bool& CountOnly;
        ~TDrawAgain() { CountOnly = false; }
    } drawAgain{FCountOnly};
    FCountOnly = true;
    return RenderPages(Gauge, 0, nullptr, 0);
}

// ---------------------------------------------------------------------------
// Scale and metrics

double tRenderer::GetScale() const { return FOwnTargetAside ? FOwnTargetAside->Scale : Scale; }

void tRenderer::ScaleMetrics(TPageMetrics& M, TRenderingCanvas* Surface, double Value)
{
    if (Surface) {
        M.PixelsPerInchX = Surface->GetDeviceCaps(LOGPIXELSX) * Value;
        M.PixelsPerInchY = Surface->GetDeviceCaps(LOGPIXELSY) * Value;
    } else {
        M.PixelsPerInchX = Value;
        M.PixelsPerInchY = Value;
    }
    M.PageWidthPx = ClampToInt(static_cast<double>(RoundHalfEven(M.PixelsPerInchX * M.PrintableWidth)));
    M.PageHeightPx = ClampToInt(static_cast<double>(RoundHalfEven(M.PixelsPerInchY * M.PrintableHeight)));
}

void tRenderer::SetScale(double Value)
{
    if (!(Value > 0))
        return;
    if (Value > 10)
        Value *= 0.01;
    try {
        // While a job's pass runs, the zoom asked for is the renderer's own:
        // it waits aside with its surface and metrics.
        if (FOwnTargetAside) {
            FOwnTargetAside->Scale = Value;
            ScaleMetrics(FOwnTargetAside->Metrics, FOwnTargetAside->Canvas.get(), Value);
            return;
        }
        Scale = Value;
        // The spans of a pass under way draw their pens at the new zoom too.
        for (auto& s : Spans)
            if (s)
                s->Scale = Value;
        ScaleMetrics(Metrics, Canvas.get(), Value);
    } catch (const std::exception& e) {
        ShowMessage(std::string(e.what()) + "\r\n(Code 2)", "Error in tRenderer.SetScale");
    }
}

void tRenderer::GetCapacities()
{
    MeasurePrinter(FOwnTargetAside ? FOwnTargetAside->Metrics : Metrics);
    SetScale(GetScale());
}

void tRenderer::MeasurePrinter(TPageMetrics& M)
{
    int step = 0;
    bool warning = false;
    std::string codes, errors;
    try {
        try {
            step = 1;
            TPrinterLayer& pr = Printer();
            if (pr.Count() == 0)
                throw std::runtime_error("No printers are installed.");
            step = 2;
            if (pr.CanOrientation())
                pr.SetOrientation(Setup.Orientation);
            step = 3;
            if (!pr.HasHandle()) {
                pr.SetPrinterIndex(pr.PrinterIndex());
                if (!pr.HasHandle()) {
                    ShowMessage("Cannot Load Printer Driver", "Cannot Load Printer Driver");
                    throw std::runtime_error("Error retrieving Printer Handle");
                }
            }
            step = 7;
            M.DpiX = std::abs(pr.GetDeviceCaps(LOGPIXELSX));
            step = 8;
            M.DpiY = std::abs(pr.GetDeviceCaps(LOGPIXELSY));
            step = 9;
            M.OffsetXPx = std::abs(pr.GetDeviceCaps(PHYSICALOFFSETX));
            step = 10;
            M.OffsetYPx = std::abs(pr.GetDeviceCaps(PHYSICALOFFSETY));
            if (M.DpiX <= 0 || M.DpiY <= 0)
                throw std::runtime_error("The printer reports no resolution");
            step = 11;
            if (M.OffsetXPx / M.DpiX > 10) {
                codes += ",11";
                warning = true;
                M.OffsetXPx = static_cast<double>(RoundHalfEven(M.DpiX * 0.25));
            }
            step = 13;
            if (M.OffsetYPx / M.DpiY > 10) {
                codes += ",13";
                warning = true;
                M.OffsetYPx = static_cast<double>(RoundHalfEven(M.DpiY * 0.25));
            }
            step = 14;
        } catch (const std::exception& e) {
            codes += "," + std::to_string(step);
            errors += std::string(e.what()) + "\r\n";
            M.DpiX = 300;
            M.DpiY = 300;
            M.OffsetXPx = 75;
            M.OffsetYPx = 12;
            warning = true;
        }
        step = 20;
        M.LeftOffset = M.OffsetXPx / M.DpiX;
        M.TopOffset = M.OffsetYPx / M.DpiY;
        auto letterWidth = [&] { return ClampToInt(static_cast<double>(RoundHalfEven(RoundHalfEven(M.DpiX * 8.5) - M.OffsetXPx))); };
        auto letterHeight = [&] { return ClampToInt(static_cast<double>(RoundHalfEven(RoundHalfEven(M.DpiY * 11) - M.OffsetYPx))); };
        try {
            step = 23;
            M.PageWidthPx = std::abs(Printer().PageWidth());
            step = 24;
            M.PageHeightPx = std::abs(Printer().PageHeight());
            step = 25;
            if (M.PageWidthPx / M.DpiX > 100) {
                codes += ",25";
                warning = true;
                M.PageWidthPx = letterWidth();
            }
            step = 27;
            if (M.PageHeightPx / M.DpiY > 100) {
                codes += ",27";
                warning = true;
                M.PageHeightPx = letterHeight();
            }
        } catch (const std::exception& e) {
            errors += std::string(e.what()) + "\r\n";
            codes += "," + std::to_string(step);
            M.PageWidthPx = letterWidth();
            M.PageHeightPx = letterHeight();
            warning = true;
        }
        step = 30;
        M.PrintableWidth = M.PageWidthPx / M.DpiX;
        M.PrintableHeight = M.PageHeightPx / M.DpiY;
        step = 36;
        if (warning && !Globals().PrinterWarningShown) {
            Globals().PrinterWarningShown = true;
            ShowMessage("There was a problem accessing the printer driver\r\nPreview paper size may not match printed output.\r\n" +
                            errors + "(code " + std::to_string(step) + codes + ")",
                        "Printer Error");
        }
    } catch (const std::exception& e) {
        ShowMessage(std::string(e.what()) + "\r\n(code " + std::to_string(step) + errors + ")",
                    "Error tRenderer.GetCapacities");
    }
}

// ---------------------------------------------------------------------------
// Test pattern

void tRenderer::ToggleTestPattern()
{
    TestPattern = !TestPattern;
    if (TestPattern) {
        DrawPrintableArea();
        DrawTestPattern();
    }
}

void tRenderer::DrawPrintableArea()
{
    if (!Canvas)
        return;
    TPen saved = Canvas->Pen;
    Canvas->Pen.Color = 0x02FF0000;
    Canvas->Pen.Width = 1;
    Canvas->Pen.Style = psDash;
    Canvas->MoveTo(0, Metrics.PageHeightPx - 1);
    Canvas->LineTo(0, 0);
    Canvas->LineTo(Metrics.PageWidthPx - 1, 0);
    Canvas->LineTo(Metrics.PageWidthPx - 1, Metrics.PageHeightPx - 1);
    Canvas->LineTo(0, Metrics.PageHeightPx - 1);
    Canvas->Pen.Color = saved.Color;
    Canvas->Pen.Width = saved.Width;
    Canvas->Pen.Style = saved.Style;
}

void tRenderer::DrawTestPattern()
{
    if (!Canvas)
        return;
    TRenderingCanvas& c = *Canvas;
    TPen savedPen = c.Pen;
    TFont savedFont = c.Font;
    const double px = Metrics.PixelsPerInchX, py = Metrics.PixelsPerInchY;
    c.Pen.Color = 0x02008000;
    c.Pen.Width = 1;
    c.Pen.Style = psInsideFrame;
    c.Font.Name = "Arial";
    c.Font.Size = static_cast<int>(RoundHalfEven(Scale * 9));
    c.Font.Style = 0;
    c.Font.Color = 0x02008000;
    auto line = [&](double x1, double y1, double x2, double y2) {
        c.MoveTo(ClampToInt(x1), ClampToInt(y1));
        c.LineTo(ClampToInt(x2), ClampToInt(y2));
    };

    // Vertical ruler along the left edge.
    const int inchesDown = static_cast<int>(std::trunc(std::min(Metrics.PrintableHeight, 1000.0))) + 1;
    for (int i = 1; i <= inchesDown; ++i) {
        double y = std::trunc((i - 1 - Metrics.TopOffset) * py);
        double x0 = std::trunc(px / 2);
        line(x0, y, x0, y + py);
        line(x0, y, x0 + px / 2, y);
        line(x0, y + py / 4, x0 + px / 8, y + py / 4);
        line(x0, y + py / 2, x0 + px / 4, y + py / 2);
        line(x0, y + 3 * py / 4, x0 + px / 8, y + 3 * py / 4);
        line(x0, y + py, x0 + px / 2, y + py);
        std::string n = std::to_string(i);
        TSize sz = c.TextExtent(n);
        c.TextOut(ClampToInt(x0 - sz.cx), ClampToInt(y + py - sz.cy / 2.0), n);
    }
    // Horizontal ruler along the top edge.
    const int inchesAcross = static_cast<int>(std::trunc(std::min(Metrics.PrintableWidth, 1000.0))) + 1;
    for (int i = 1; i <= inchesAcross; ++i) {
        double x = std::trunc((i - 1 - Metrics.LeftOffset) * px);
        double y0 = std::trunc(py / 2);
        line(x, y0, x + px, y0);
        line(x, y0, x, y0 + py / 2);
        line(x + px / 4, y0, x + px / 4, y0 + py / 8);
        line(x + px / 2, y0, x + px / 2, y0 + py / 4);
        line(x + 3 * px / 4, y0, x + 3 * px / 4, y0 + py / 8);
        line(x + px, y0, x + px, y0 + py / 2);
        std::string n = std::to_string(i);
        TSize sz = c.TextExtent(n);
        c.TextOut(ClampToInt(x + px - sz.cx / 2.0), ClampToInt(y0 - c.TextHeight("1")), n);
    }
    // Colour ramps.
    for (uint32_t v = 0; v <= 255; ++v) {
        int y = ClampToInt(static_cast<double>(RoundHalfEven(v * static_cast<double>(Metrics.PageHeightPx) / 255)) + 200);
        const uint32_t colours[7] = {v | v << 8 | v << 16, v << 8 | v << 16, v | v << 16, v << 16, v | v << 8, v << 8, v};
        double x = static_cast<double>(RoundHalfEven(px + 200));
        for (uint32_t colour : colours) {
            c.Pen.Color = colour;
            line(x, y, x + 50, y);
            x += 50;
        }
    }
    // Fan of lines.
    c.Pen.Color = 0x02008000;
    for (int k = 0; k <= 50; ++k)
        line(static_cast<double>(RoundHalfEven(k * Metrics.PageWidthPx * 0.02)), Metrics.PageHeightPx, Metrics.PageWidthPx,
             static_cast<double>(RoundHalfEven((50 - k) * Metrics.PageHeightPx * 0.02)));
    c.Pen = savedPen;
    c.Font = savedFont;
}

// ---------------------------------------------------------------------------
// Device coordinates

int tRenderer::DevX(double Inches) const
{
    return ClampToInt(static_cast<double>(RoundHalfEven(std::clamp((Inches - Metrics.LeftOffset) * Metrics.PixelsPerInchX, -1e9, 1e9))));
}

int tRenderer::DevY(double Inches) const
{
    return ClampToInt(static_cast<double>(RoundHalfEven(std::clamp((Inches - Metrics.TopOffset) * Metrics.PixelsPerInchY, -1e9, 1e9))));
}

bool tRenderer::EncodingChoiceOf(const std::string& Name, TEncodingChoice& Choice)
{
    const std::string n = UpperCase(Trim(Name));
    if (n == "AUTO")
        Choice = TEncodingChoice::Auto;
    else if (n == "UTF-8" || n == "UTF8")
        Choice = TEncodingChoice::Utf8;
    else if (n == "CP1252" || n == "WINDOWS-1252")
        Choice = TEncodingChoice::Cp1252;
    else if (n == "CP437" || n == "IBM437")
        Choice = TEncodingChoice::Cp437;
    else
        return false;
    return true;
}

void tRenderer::Render(tRenderState& State, std::string& Line) { TTagInterpreter(*this).InterpretLine(State, Line); }

}  // namespace quillard
