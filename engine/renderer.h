// The document engine's central object: one per loaded report. It owns the
// report's file name, the page setup of its header, the printer metrics, the
// current output surface, the span stack and the state of the running pass.
// Every output is a page pass (RenderPages) that re-reads the report from its
// first byte and hands each line to the tag interpreter (Render).
#pragma once

#include "engine/globals.h"
#include "engine/picturecache.h"
#include "engine/span.h"
#include "engine/terminaltext.h"
#include "surfaces/canvas.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillard {

class TByteFile;
class TPdfDocument;
class TPageCheckpoints;
struct TLayoutKey;
struct TPageCheckpoint;
struct TLineTail;

// Progress gauge: any object with these two integers.
struct TGauge {
    int MaxValue = 0;
    int Progress = 0;
};

struct TDoublePoint {
    double X = 0;
    double Y = 0;
};

// A picture the report asked to have deleted ({IMAGE ... DELETE=YES}), as it
// was when it decoded: the clean-up deletes that file and no other.
struct TPictureToDelete {
    std::string Path;          // the absolute name it was found by
    std::string Folder;        // the real path of the folder holding it
    std::string Name;          // its name in that folder
    std::string ReportFolder;  // the real path of the report's folder: Folder is it or below it
    TFileIdentity Picture;     // the file that decoded
    TFileIdentity Report;      // the report that named it, never deleted
};

class tRenderer {
public:
    tRenderer();
    ~tRenderer();
    tRenderer(const tRenderer&) = delete;
    tRenderer& operator=(const tRenderer&) = delete;

    // ---- the report's page set-up -----------------------------------
    // What the header of the report sets (OpenFile reads it; the print
    // options window may change it for a run).
    struct TReportSetup {
        uint8_t Version = 0;
        bool ColourMode = true;
        uint8_t Orientation = 0;  // 1: landscape
        int16_t Tray = 0;         // 0: the printer's own
        int16_t Paper = 0;        // the paper the report asked for; 0: the printer's own
        std::string FixedFontName = "Courier New";
        std::string PropFontName = "Times New Roman";
        uint8_t Cpi10Size = 12, Cpi12Size = 10, Cpi17Size = 7;
        bool operator==(const TReportSetup&) const = default;
    } Setup;

    // ---- a job's options --------------------------------------------------
    struct TJobOptions {
        int Copies = 1;
        std::string Title;
        // Only RangeFrom..RangeTo is printed or written.
        uint8_t UsePageRange = 0;
        int RangeFrom = 0, RangeTo = 0;
        // A PDF laid out as a printer lays a page out: on the sheet less
        // these unprintable margins (inches, of the portrait sheet), its
        // drawing starting at the printable area's corner. All zero: on the
        // whole sheet.
        double PdfMarginLeft = 0, PdfMarginTop = 0, PdfMarginRight = 0, PdfMarginBottom = 0;
        // The PDF's fonts all embedded, its page content deflated, or the
        // file made PDF/A-2b (over the settings, which may ask for the first two).
        bool PdfEmbedFonts = false, PdfCompress = false, PdfA = false;
    } Job;

    // ---- the page on the current surface ----------------------------------
    // In inches unless said: the printable area and its offset from the
    // sheet's corner, the surface's dots per inch, and the page in pixels at
    // the renderer's zoom.
    struct TPageMetrics {
        double PrintableHeight = 0, PrintableWidth = 0;
        double DpiX = 300, DpiY = 300;
        double OffsetXPx = 75, OffsetYPx = 12;  // pixels of the printer
        int PageHeightPx = 0, PageWidthPx = 0;
        double LeftOffset = 0, TopOffset = 0;
        double PixelsPerInchX = 1, PixelsPerInchY = 1;
        bool operator==(const TPageMetrics&) const = default;
    } Metrics;

    // ---- what a pass draws on ----------------------------------------------
    // A surface, the page on it and the zoom. Canvas, Metrics and the zoom of
    // the renderer are its own target (the preview's, or a picture's); a
    // print or PDF job makes a target of its own and hands it to the pass
    // (RenderPagesOn), and the renderer's own stays as it was.
    struct TPageTarget {
        std::unique_ptr<TRenderingCanvas> Canvas;
        TPageMetrics Metrics;
        double Scale = 1;
    };

    // ---- the pass --------------------------------------------------------
    std::array<std::unique_ptr<tSpan>, MaxSpans + 1> Spans;  // 1..20, 1 = page span
    int SpanIndex = 1;
    TPdfDocument* PdfMaker = nullptr;
    bool TestPattern = false;
    int64_t FileSize = 0;
    bool FormFeedsConverted = false;
    std::unique_ptr<TRenderingCanvas> Canvas;
    bool Printing = false;
    bool MakingPdf = false;
    // The pictures to delete when the report is done with (CleanUpImageFiles).
    std::vector<TPictureToDelete> ImagesToDelete;
    std::string FileName;
    bool Rendering = false;
    int CurrentPage = 1;
    // What the page pass searches for and where it found it.
    struct TFindState {
        std::string Text;
        // The same text as UTF-8, searched for in UTF-8 reports (empty: Text
        // is taken as Windows-1252).
        std::string TextUtf8;
        bool CaseSensitive = false;
        // The pages with a match, each as ",N," in the order found.
        std::string FoundPages;
    } Find;

    // ---- the running pass ------------------------------------------------
    // What a page pass keeps as it reads the report line by line: set up as
    // the pass starts, worked on by the pass and the tag interpreter. Outside
    // the engine it is read, for what the last pass met.
    struct TPassState {
        bool Aborted = false;
        int Depth = 0;  // passes under way (one runs at a time)
        int64_t LineStartPos = 0;  // where the line being interpreted starts in the file
        int64_t LineNumber = 0;
        // The line's text is aligned as a whole (set by the tags in it).
        bool AlignWholeLine = true;
        bool AtLineStart = true;
        int PageNumber = 1;
        uint8_t PageNumberStyle = 0;
        // The page of the pass's range the surface was told has started and
        // not yet that it ended (0: none).
        int OpenPage = 0;
        // Which part of the pass is at work, for messages about failures.
        int AreaCode = 0;
        // Set by {HEADER ... REPEAT=Y} for the rest of the line being interpreted.
        bool RepeatHeaderFooter = false;
        // Text a field handler puts in front of the rest of the line.
        std::string FieldText;
        // Whether the page of the tag being interpreted is drawn by this pass;
        // handlers that draw leave the canvas alone when it is not.
        bool PageDrawn = true;
        // Text that a handler read from the report after the current line's
        // end (the rest of the physical line after in-line picture data):
        // Render goes on with it as part of the line.
        std::string LineRest;
        // The tag being handled as the report spells it (handlers get it
        // upper-cased): file names in it keep their letter case.
        std::string TagAsWritten;
        // What the escape sequences of the pass's lines have switched on.
        TTerminalStyle TerminalStyle;
        // The last GetLn stopped before the end of the physical line, at the
        // in-line data of an image tag, which nobody has read yet.
        bool LineCut = false;
        // The last GetLn stopped because the line reached its MaxBytes.
        bool LineTooLong = false;
        // The limits met in the running pass, each said once.
        struct TLimitsMet {
            int64_t FieldText = 0;
            bool FieldTextSpent = false;
            bool RomanTooLong = false;
            bool LongLine = false;
            bool LongTag = false;
        } Limits;
        // The reading of a plain text report: the line read, or the part of
        // it that is held for the next line of the page.
        struct TPlainReading {
            std::string Text;   // the line read, or the part of it that is held
            size_t Pos = 0;     // the first byte of Text not handed out
            std::string End;    // its line end
            bool Open = false;  // the line goes on in the file
            int Columns = 1;    // character cells in a line of the page span
        } Plain;
        // The counting of LinesBelowBottom: the last line counted and its page.
        int64_t LastLineBelowBottom = -1;
        int LastPageBelowBottom = 0;
        int64_t LastLinePastRightEdge = -1;
    } Pass;
    int NextAutoTextNumber = 0;
    bool FileOpen = false;

    // ---- the current span ----------------------------------------------
    tSpan& Span();           // Spans[SpanIndex]; throws when the slot is empty
    tSpan& PageSpan();       // Spans[1]

    // ---- passes ----------------------------------------------------------
    // The header scan, then the page set-up of SetupOverrides over it.
    bool OpenFile(const std::string& AFileName, TGauge* Gauge);
    bool RenderPages(TGauge* Gauge, int FromPage, tRenderState* State, int ToPage);
    // The page pass (FromPage..ToPage, -1 for all) drawn on a job's Target
    // instead of the renderer's own target, which is kept aside meanwhile:
    // a zoom or printer change asked for during the pass goes to it, and it
    // comes back as the pass ends, whatever happens. Target keeps its surface.
    bool RenderPagesOn(TPageTarget& Target, TGauge* Gauge, int FromPage, int ToPage);
    // A job's pass on its Target: the job's page range, or every page.
    bool RenderJobPages(TPageTarget& Target, TGauge* Gauge)
    {
        return Job.UsePageRange ? RenderPagesOn(Target, Gauge, Job.RangeFrom, Job.RangeTo)
                                : RenderPagesOn(Target, Gauge, -1, -1);
    }
    // A pass that lays every page out and draws none (no text is drawn, no
    // picture decoded but those to be deleted, the surface hears of no page)
    // and notes the lines that fall below the bottom. False when the report
    // could not be read to its end; CurrentPage is the number of pages.
    // Gauge, when given, moves with the lines read.
    bool CountPass(TGauge* Gauge = nullptr);
    // The number of pages, by a CountPass.
    int CountPages(TGauge* Gauge = nullptr)
    {
        CountPass(Gauge);
        return CurrentPage;
    }
    // The page the last pass went on from: a pass for a page far into a
    // report that was laid out before (counted, or drawn at a page after
    // it) starts at the last page start noted before that page; 1 when it
    // laid the report out from its first line.
    int LastPassStart() const { return FLastPassStart; }
    // What a pass on the renderer's own surface would lay out and draw from
    // now: the report as it is on disk, the surface, zoom and page, the
    // settings and the search. Two passes of one page with the same key draw
    // the same pixels. None when the report cannot be opened.
    std::optional<TLayoutKey> ViewKey();
    // How GetLn reads a line.
    struct TLineReading {
        // Stop right after the DATA=" of an image tag that carries in-line
        // data, whose bytes follow and are no text (LineEnd stays empty and
        // LineCut is set).
        bool StopAfterInlineData = false;
        // Stop once the line holds this much (LineTooLong is set): the rest
        // is the next piece of the same line.
        size_t MaxBytes = SIZE_MAX;
        // Line ends of a Linux text file: a line feed is a line end of its
        // own, never joined with the next one (LF LF is two line ends).
        bool UnixLineEnds = false;
    };
    // Reads the next line of File and its terminator into Line and LineEnd:
    // CR, LF or FF, and the next byte too when it is one of them (except LF
    // LF, FF LF and the like when reading a Linux text file, where only CR LF
    // and LF CR stay one line end).
    void GetLn(TByteFile& File, std::string& Line, std::string& LineEnd, const TLineReading& How);
    void GetLn(TByteFile& File, std::string& Line, std::string& LineEnd) { GetLn(File, Line, LineEnd, TLineReading{}); }

    // How the report's line ends are taken. As a character printer takes
    // them (a line feed moves down, a carriage return goes back to the start
    // of the line, LF LF is one line end), or as a Linux text file writes
    // them (every LF ends a line and starts the next at the left). Auto: a
    // report without a carriage return in its text (before any in-line
    // picture) is a Linux text file. A new renderer takes the application's
    // choice (Globals().LineEnds); OpenFile decides.
    using TLineEnds = TLineEndChoice;
    TLineEnds LineEndChoice = TLineEnds::Auto;
    // What OpenFile decided for the report.
    bool UnixLineEnds = false;
    // Whether reports are laid out as plain text (braces and ampersands are
    // text, pages break when full, long lines wrap at their last space, no
    // header is read): never (the report rules, a renderer's own default),
    // always, or (Auto) for a report whose text holds no carriage return and
    // no tag the report reader knows, as ordinary Linux text files are. The
    // application sets it from its setting or option; SetupOverrides.PlainText
    // (--plain) means always. OpenFile decides PlainLayout.
    TPlainTextChoice PlainTextChoice = TPlainTextChoice::Never;
    bool PlainLayout = false;
    // Whether the pass lays the report out as plain text: as OpenFile
    // decided, or as asked for since.
    bool PlainTextPass() const { return PlainLayout || SetupOverrides.PlainText; }
    // Plain text's page, unless the options say otherwise: margins of at
    // least this many inches, and lines for every inch of the sheet's height.
    static constexpr double PlainTextMargin = 0.25;
    static constexpr double PlainTextLinesPerInch = 6;

    // The character set of the report's text. Auto: a report that starts
    // with a UTF-8 byte-order mark, or whose text (before any in-line
    // picture) is valid UTF-8 with bytes above 0x7F, is UTF-8; one whose
    // words read better in CP437 (a text file without a carriage return, or
    // any with box drawing side by side) is CP437; any other is
    // Windows-1252. Set by the application; OpenFile decides.
    enum class TEncodingChoice : uint8_t { Auto, Utf8, Cp1252, Cp437 };
    enum class TReportEncoding : uint8_t { Cp1252, Utf8, Cp437 };
    TEncodingChoice EncodingChoice = TEncodingChoice::Auto;
    // The choice a name gives ("AUTO", "UTF-8", "UTF8", "CP1252",
    // "WINDOWS-1252", "CP437", "IBM437" in any letter case); false for any
    // other name.
    static bool EncodingChoiceOf(const std::string& Name, TEncodingChoice& Choice);
    TReportEncoding ReportEncoding = TReportEncoding::Cp1252;
    // Characters the last PDF job wrote as "?" (no face of the machine could
    // be embedded for them), and those it drew as a missing-glyph box (no
    // installed face has them).
    size_t PdfUnmappedCharacters = 0;
    size_t PdfMissingGlyphs = 0;
    // Font names the report asked for that the surface does not have (each
    // once, at most MaxMissingFontNames): their text stays in the font
    // before them.
    std::vector<std::string> MissingFontNames;
    static constexpr size_t MaxMissingFontNames = 32;
    // What the last PDF job has to say of the machine's fonts (a face not
    // installed, a font file that cannot be used), each once.
    std::vector<std::string> PdfFontWarnings;
    // Page set-up asked for from outside the report (the command line),
    // taken as if the report's header asked for it, over what the header
    // says: paper and orientation when the report is opened, the rest at the
    // start of every pass and again after the {INIT} of the report's first
    // line. Nothing set changes nothing.
    struct TPageSetupOverrides {
        std::string Paper;       // a paper name (A4, LETTER ...) or number, as PAPER= takes it
        bool Landscape = false;
        bool Portrait = false;   // portrait over a header's landscape
        double Cpi = 0;          // characters an inch of the fixed-pitch font
        int Lpi = 0;             // lines an inch
        int LinesPerPage = 0;    // lines that fill the page span's height (LPP=)
        bool HasMargins = false;
        double Margins[4] = {};  // left, top, right, bottom: inches from the sheet's edges
        bool Paginate = false;   // a page that is full breaks (PAGINATE)
        // The report is plain text: braces and ampersands are text, a full
        // page breaks, a line longer than the page span is wide goes on on
        // the next line, and there is no header to scan.
        bool PlainText = false;
        bool operator==(const TPageSetupOverrides&) const = default;
    } SetupOverrides;
    // Lines of text (not runs) whose cells lay below the printable bottom of
    // their page in the last pass, by page: nothing of them shows.
    std::map<int, int> LinesBelowBottom;
    // Lines of text whose runs reached past the right edge of the page in
    // the last pass (cut there), and pictures it could not draw.
    int64_t LinesPastRightEdge = 0;
    int FirstPagePastRightEdge = 0;
    int64_t PicturesNotDrawn = 0;
    // What the last pass lost, each kind said in one sentence with its count
    // and what keeps it; empty when nothing was lost. For runs without a
    // window (the command line, the print server's log).
    std::vector<std::string> LostTextMessages() const;
    void SetCanvas(std::unique_ptr<TRenderingCanvas> ACanvas);
    // A screen surface of no page at Dpi dots per inch, at the zoom Scale:
    // afterwards PageWidthPx and PageHeightPx give the size of the page's
    // surface there.
    void MeasureOnScreen(int Dpi, double Scale);
    // Draws on Surface from now on, at the renderer's zoom.
    void UsePageSurface(std::unique_ptr<TRenderingCanvas> Surface);
    void Abort() { Pass.Aborted = true; }
    void ResetSpans();
    void FreeCurrentSpan();
    // The zoom this renderer draws at (1 = 100 %); each renderer has its own.
    double GetScale() const;
    void SetScale(double Value);
    void ToggleTestPattern();
    void DrawPrintableArea();
    void DrawTestPattern();
    // Gives the current printer the paper and orientation the report asked
    // for, as opening the report did: another printer chosen since came
    // with its own defaults. A printer that refuses keeps its own.
    void ApplySetupToPrinter();
    // Measures the current printer's page (the renderer's own metrics) and
    // sets the zoom again over it.
    void GetCapacities();
    // Measures the current printer's page into Into: its resolution, the
    // offset of the printable area and its size. A printer that cannot be
    // asked gives Letter at 300 dpi, and a warning once.
    void MeasurePrinter(TPageMetrics& Into);
    // Prints the report (or its page range) on the current printer, Job.Copies
    // times as separate documents; true when every copy reached the printer.
    bool Print(TGauge* Gauge);

    // ---- jobs ------------------------------------------------------------
    // Writes the report (or Job.RangeFrom..RangeTo when Job.UsePageRange is set) as
    // the PDF file AFileName. 0 on success; 1 to 4 on failure, with the text
    // in Globals().LastErrorMessage.
    int MakePDF(TGauge* Gauge, const std::string& AFileName);

    // ---- span setters ----------------------------------------------------
    void SetFontName(const std::string& Name);
    void SetFontSize(int Points);
    void SetFontColor(const std::string& Text);
    void SetFontBackColor(const std::string& Text);
    void SetFontBackStyle(int Style);
    void SetFontRotation(double Angle);
    void SetPenColor(COLORREF Color);
    void SetPenWidth(int Width);
    void SetPenMode(int Mode);
    void SetPenStyle(int Style);
    void SetBrushColor(COLORREF Color);
    void SetBrushStyle(int Style);
    void SetSpanRotation(double Angle);
    void SetLinesPerPage(int N);
    void SetSpanEdge(const std::string& EdgeName, const std::string& Tag, const std::string& FrameMode);

    // ---- measurements ----------------------------------------------------
    double Measure(const std::string& s, char Axis);
    double MeasureAttr(const std::string& Tag, const std::string& NameList, char Axis, double Default);
    TDoublePoint ParsePoint(TDoublePoint Default, const std::string& s, bool Absolute);
    // Page inches to device coordinates of the current surface.
    int DevX(double Inches) const;
    int DevY(double Inches) const;

    // ---- the tag interpreter -------------------------------------------
    // Interprets one line of the report (tags/interpreter.h).
    void Render(tRenderState& State, std::string& Line);

    // In-line picture data. GetInlineData reads the Count bytes of the image
    // tag on the current line into Stream and appends the rest of the
    // physical line where they end to Line; DelImageData steps over the data
    // of the image tags in Tag on pages that are not drawn.
    void GetInlineData(TByteFile& File, std::string& Line, std::vector<uint8_t>& Stream, int64_t Count,
                       std::string& LineEnd);
    void DelImageData(TByteFile& File, int64_t LineStart, std::string& LineEnd, std::string& Tag);
    // The report came from somewhere that may not act on this computer's
    // files (loaded over HTTP, or handed over as text by an automation
    // client): its pictures are never deleted.
    bool ReportIsUntrusted = false;
    // The report came from a stranger over the network (a print server's
    // job): it may name no file of this computer but pictures in
    // NetworkPictureFolder, when one is set; it deletes nothing. Every
    // picture it names elsewhere, existing or not, draws the same "(Could
    // Not Load Graphic".
    bool ReportFromNetwork = false;
    std::string NetworkPictureFolder;
    // The decoding work pictures may take in the running pass.
    TPictureBudget PictureBudget;
    // What else a pass holds in memory or makes, whatever the report says: a
    // line (longer ones are read in pieces), a tag that runs on over lines
    // (a longer one ends there), the text of the pass's fields (a fixed
    // allowance and more for every byte of the report).
    static constexpr size_t MaxLineBytes = 1 << 20;
    static constexpr size_t MaxTagBytes = 16 << 20;
    static constexpr int64_t BaseFieldTextBytes = 16 << 20;
    static constexpr int64_t FieldTextBytesPerReportByte = 16;
    int64_t FieldTextBase = BaseFieldTextBytes;
    // The drawn objects a PDF job's document may hold: a fixed allowance and
    // more for every byte of the report (a page holds at most the PDF
    // surface's own limit).
    static constexpr int64_t MaxPdfObjectsBase = 10'000'000;
    static constexpr int64_t MaxPdfObjectsPerReportByte = 16;

private:
    // The tag interpreter works on the renderer's pass state.
    friend class TTagInterpreter;
    // The page pass's reading: both stops, at most MaxLineBytes, in the
    // report's own kind of line ends.
    void GetPassLine(TByteFile& File, std::string& Line, std::string& LineEnd)
    {
        GetLn(File, Line, LineEnd, TLineReading{true, MaxLineBytes, UnixLineEnds});
    }
    // The report starts with a byte-order mark, which is no text.
    bool ReportHasBom = false;
    // Two bytes of the box range 179 to 223 stand side by side somewhere in
    // the report's text: in Windows-1252 it draws boxes, not letters.
    bool ReportHasBoxRuns = false;
    // Whether a job has a report to lay out: FileName names a file that can
    // be opened now (a pass of no report draws an empty page, which a job
    // must not hand over as the report). Why not in Reason.
    bool ReportReadableForJob(std::string* Reason) const;
    // The page set-up of SetupOverrides that a pass applies to the page span.
    void ApplyPageSetupOverrides();
    void InitSpan(tSpan& S);
    // Pictures decoded from files, for the next reference to the same one.
    TPictureCache PictureCache;
    // The zoom: widths of pens, sizes of fonts and pixels per inch follow it.
    double Scale = 1.0;
    // While a job's target is on loan to a pass: the job's target object,
    // which holds the renderer's own surface, metrics and zoom meanwhile.
    TPageTarget* FOwnTargetAside = nullptr;
    // The running pass only counts pages: no page of it is drawn.
    bool FCountOnly = false;
    // Where the pages start, noted by the passes on the renderer's own
    // target (a job's target lays out on another page).
    std::unique_ptr<TPageCheckpoints> FCheckpoints;
    int FLastPassStart = 1;
    TLayoutKey LayoutKey(const TByteFile& Report);
    TPageCheckpoint MakeCheckpoint(const tRenderState& State) const;
    void GoOnFrom(const TPageCheckpoint& Checkpoint, tRenderState& State);
    // Exchanges the renderer's current surface, metrics and zoom with
    // Target's; the spans move along.
    void ExchangeTarget(TPageTarget& Target);
    // Makes ACanvas the current surface, with the spans on it.
    void PutCanvas(std::unique_ptr<TRenderingCanvas> ACanvas);
    // The zoom Value over the page of Metrics on Surface.
    static void ScaleMetrics(TPageMetrics& Metrics, TRenderingCanvas* Surface, double Value);
    bool ScanHeader(const std::string& AFileName, TGauge* Gauge);
    // The page pass's reading of a plain text report: the next line, or the
    // next piece of a line longer than the page span is wide, as markup.
    // True when it read from File (a piece held from before reads nothing).
    bool GetPlainLine(TByteFile& File, std::string& Line, std::string& LineEnd);
    bool PlainTextPending() const { return Pass.Plain.Pos < Pass.Plain.Text.size() || Pass.Plain.Open; }
    // The counting of LinesBelowBottom: a text run drawn at the current
    // cursor of the current span, in a cell CellHeight inches high.
    void NoteRunBelowBottom(const std::string& Run, double CellHeight);
    // A run of the line whose ink ends Right inches from the sheet's left
    // edge: counted once a line when that lies past the page's right edge.
    void NoteRunPastRightEdge(double Right);
    bool FMarginsRefused = false;  // said once
    void RecomputeLineHeight();
    // Steps of the page pass: the page span and the surface as a pass
    // starts; the cursor moved by the previous line's end (and a page break
    // when the page is full); the line's text as the interpreter takes it
    // (character set, terminal controls, tabs, form feeds); the matches of
    // the search marked and their page noted; box-drawing characters as
    // strokes.
    void SetUpPassPageSpan(tRenderState& State);
    // The surface hears of the pages of the pass's range: StartPage as the
    // current page starts (when it is in the range), EndPage as the page it
    // was told of ends.
    void StartSurfacePage(const tRenderState& State);
    void EndSurfacePage();
    void AdvanceForLineEnd(tRenderState& State, bool ExactFit);
    void PrepareLineText(const tRenderState& State, std::string& Line, bool Utf8Pass, bool Plain);
    void HighlightFoundText(const tRenderState& State, std::string& Line, const std::string& FindWhat, bool Utf8Pass);
    void ReplaceBoxDrawing(std::string& Line, bool Utf8Pass);
};

}  // namespace quillard
