// The preview session: what the preview shows, apart from the widgets that
// show it. It owns the renderer and knows the report, the page shown, the
// page count, the zoom, the pages the last search found and how the program
// is to end. The preview window (and the automation interface) change the
// session; the window observes it and brings its widgets up to date.
#pragma once

#include "base/bytefile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillard {

// The page bitmap has the screen's resolution of 96 dots per inch; the zoom
// scales it.
inline constexpr int ScreenDpi = 96;
// The largest page bitmap the preview makes (4 bytes a pixel): a zoom that
// needs more is refused as out of resources.
inline constexpr int64_t MaxPagePixels = 100'000'000;

class tRenderer;
struct TGauge;

// Told of every change of a session, once per change.
class TPreviewSessionObserver {
public:
    virtual ~TPreviewSessionObserver() = default;
    // The page shown is now Page.
    virtual void PageChanged(int Page) { (void)Page; }
    // The zoom is now Percent and the renderer's scale follows it. An
    // observer that cannot show the page at that zoom throws; the session
    // then goes back to the zoom before (ZoomRefused).
    virtual void ZoomChanged(int Percent) { (void)Percent; }
    // A zoom asked for could not be had: the zoom before stays.
    virtual void ZoomRefused() {}
    // The report has Count pages.
    virtual void PageCountChanged(int Count) { (void)Count; }
    // The report was read and counted.
    virtual void ReportLoaded(const std::string& FileName) { (void)FileName; }
};

// How a zoom asked of the session went.
enum class TZoomChange {
    Applied,    // the zoom changed
    Unchanged,  // it was the zoom already
    Busy,       // a page count or a print job runs at the zoom it started with
    Refused,    // the page would not fit in memory at that zoom
};

class TPreviewSession {
public:
    TPreviewSession();
    ~TPreviewSession();
    TPreviewSession(const TPreviewSession&) = delete;
    TPreviewSession& operator=(const TPreviewSession&) = delete;

    void AddObserver(TPreviewSessionObserver* Observer);
    void RemoveObserver(TPreviewSessionObserver* Observer);

    // ---- the renderer ------------------------------------------------------
    // The renderer, null until MakeRenderer.
    tRenderer* Renderer() const { return FRenderer.get(); }
    // Makes the renderer when there is none (on a 1 x 1 screen surface) and
    // returns it. One renderer serves the whole run.
    tRenderer& MakeRenderer();
    void DropRenderer();

    // ---- the report ----------------------------------------------------------
    const std::string& ReportFileName() const { return FReportFileName; }
    void SetReportFileName(std::string FileName) { FReportFileName = std::move(FileName); }
    // The report last fetched from a web server or handed over as text by an
    // automation client; while it is the report the renderer does not let it
    // act on this computer's files.
    const std::string& UntrustedReportFile() const { return FUntrustedReportFile; }
    void SetUntrustedReportFile(std::string FileName) { FUntrustedReportFile = std::move(FileName); }
    // The report is deleted when it is let go (at the end, or when another
    // report is opened).
    bool DeleteReportOnExit() const { return FDeleteReportOnExit; }
    void SetDeleteReportOnExit(bool Value) { FDeleteReportOnExit = Value; }
    // Opens the report on the renderer (false when there is no renderer or
    // the renderer refused it and said why). A report fetched from a web
    // server or handed over by a client may not act on this computer's
    // files; any other report may.
    bool OpenReport(TGauge* Gauge);
    // Tells the observers that the report was read and counted.
    void ReportWasLoaded();

    // ---- pages ---------------------------------------------------------------
    int CurrentPage() const { return FCurrentPage; }
    // Shows page Page, kept within 0 .. PageCount (page 0 is the empty
    // sheet). Without a renderer nothing is shown and the page stays. True
    // when the page changed (the observers were told).
    bool SetCurrentPage(int Page);
    // Goes back to page 1 of a report being loaded, telling the observers
    // only when the page changes.
    void ResetPage();
    int PageCount() const { return FPageCount; }
    // Takes Count as the report's page count: a count of the report as the
    // last CountPages found it on disk.
    void SetPageCount(int Count);
    // Counts the report's pages with a page pass on the renderer's surface
    // (0 without a report; the count known when a pass or print job runs,
    // as there is no pass within a pass). A failing pass is shown and
    // counts 0.
    int CountPages(TGauge* Gauge);
    // Whether the report on disk is no longer the one the page count was
    // made from: cut short, written again or replaced (its identity, size
    // or times differ), or gone.
    bool ReportChangedSinceCount() const;
    // Whether a page count runs now.
    bool Counting() const { return FCounting; }

    // ---- zoom ------------------------------------------------------------------
    // The zoom in percent as the user and clients see it.
    int Zoom() const { return FZoom; }
    // Asks for the zoom Percent. With a renderer its scale follows and the
    // observers are told (ZoomChanged); a zoom whose page would not fit in
    // memory goes back to the zoom before (ZoomRefused). Without a renderer
    // the zoom is only noted and shown.
    TZoomChange SetZoom(int Percent);
    // Notes the zoom the window shows without telling anyone.
    void NoteZoom(int Percent) { FZoom = Percent; }
    // Whether the renderer's page at its scale fits in MaxPagePixels.
    bool PageFitsInMemory() const;

    // ---- the screen's pixels -------------------------------------------------
    // Device pixels per pixel of the window (2 on a screen scaled twice,
    // 1.25 with 120-dpi fonts): the page is laid out and drawn at the zoom
    // times this ratio, so that every device pixel of the page is its own.
    double PixelRatio() const { return FPixelRatio; }
    // Takes another ratio (kept within 1 .. 4); the renderer's scale
    // follows. A ratio whose page would not fit in memory is not taken.
    // True when the ratio changed.
    bool SetPixelRatio(double Ratio);
    // The renderer's scale for a zoom in percent on this screen.
    double ScaleFor(int Percent) const { return Percent / 100.0 * FPixelRatio; }

    // ---- find ------------------------------------------------------------------
    // The pages the last search found, as ",1,,3," (each page between
    // commas); empty when there was no search.
    const std::string& FoundPages() const { return FFoundPages; }
    void ClearFoundPages() { FFoundPages.clear(); }
    // Adds Page to the found pages; false when it was there already.
    bool AddFoundPage(int Page);
    // The list written tidily: one comma between pages.
    void TidyFoundPages();
    bool PageWasFound(int Page) const;
    // The first found page after Page, 0 when none.
    int NextFoundPage(int Page) const;

    // ---- the end of the program ----------------------------------------------
    bool Terminated() const { return FTerminated; }
    int ExitCode() const { return FExitCode; }
    // Records an exit code without ending; the first code that is not 0
    // stays.
    void NoteExitCode(int Code);
    // The program ends with Code (or the code that stays).
    void Terminate(int Code);
    bool PrintFailed() const { return FPrintFailed; }
    void SetPrintFailed(bool Value) { FPrintFailed = Value; }

    // "(area:N)" of the renderer, after a line break: where a failure
    // happened.
    std::string AreaText() const;

private:
    // Tells every observer, going through a copy of the list: an observer
    // may add or remove observers meanwhile.
    template <class F>
    void NotifyObservers(F&& Tell)
    {
        for (TPreviewSessionObserver* o : std::vector<TPreviewSessionObserver*>(FObservers))
            Tell(*o);
    }

    std::unique_ptr<tRenderer> FRenderer;
    std::vector<TPreviewSessionObserver*> FObservers;
    std::string FReportFileName;
    std::string FUntrustedReportFile;
    bool FDeleteReportOnExit = false;
    int FCurrentPage = 1;
    int FPageCount = 0;
    TFileVersion FPassVersion;   // the report as the last count pass found it
    TFileVersion FCountVersion;  // the report the page count is of
    int FZoom = 100;
    double FPixelRatio = 1;
    bool FCounting = false;
    std::string FFoundPages;
    bool FTerminated = false;
    int FExitCode = 0;
    bool FPrintFailed = false;
};

}  // namespace quillard
