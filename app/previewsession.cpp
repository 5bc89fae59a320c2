#include "app/previewsession.h"

#include "base/strings.h"
#include "engine/globals.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "surfaces/imagecanvas.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <exception>
#include <sys/stat.h>

namespace quillard {

namespace {

// The version of the file at Path as its status tells now (unknown when
// there is none).
TFileVersion VersionNow(const std::string& Path)
{
    struct stat st {};
    if (Path.empty() || ::stat(Path.c_str(), &st) != 0)
        return {};
    TFileVersion v;
    v.File = TFileIdentity{st.st_dev, st.st_ino, true};
    v.Size = st.st_size;
    v.ModifiedNs = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    v.ChangedNs = int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
    return v;
}

}  // namespace

TPreviewSession::TPreviewSession() = default;
TPreviewSession::~TPreviewSession() = default;

void TPreviewSession::AddObserver(TPreviewSessionObserver* Observer)
{
    if (Observer && std::find(FObservers.begin(), FObservers.end(), Observer) == FObservers.end())
        FObservers.push_back(Observer);
}

void TPreviewSession::RemoveObserver(TPreviewSessionObserver* Observer)
{
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), Observer), FObservers.end());
}

tRenderer& TPreviewSession::MakeRenderer()
{
    if (!FRenderer) {
        FRenderer = std::make_unique<tRenderer>();
        FRenderer->SetCanvas(std::make_unique<TImageCanvas>(1, 1, ScreenDpi, ScreenDpi));
    }
    return *FRenderer;
}

void TPreviewSession::DropRenderer() { FRenderer.reset(); }

bool TPreviewSession::OpenReport(TGauge* Gauge)
{
    if (!FRenderer || FReportFileName.empty())
        return false;
    FRenderer->ReportIsUntrusted = !FUntrustedReportFile.empty() && FReportFileName == FUntrustedReportFile;
    return FRenderer->OpenFile(FReportFileName, Gauge);
}

void TPreviewSession::ReportWasLoaded()
{
    NotifyObservers([&](TPreviewSessionObserver& o) { o.ReportLoaded(FReportFileName); });
}

bool TPreviewSession::SetCurrentPage(int Page)
{
    if (!FRenderer)
        return false;
    Page = std::clamp(Page, 0, std::max(0, FPageCount));
    if (Page == FCurrentPage)
        return false;
    FCurrentPage = Page;
    NotifyObservers([&](TPreviewSessionObserver& o) { o.PageChanged(FCurrentPage); });
    return true;
}

void TPreviewSession::ResetPage()
{
    if (FCurrentPage == 1)
        return;
    FCurrentPage = 1;
    NotifyObservers([&](TPreviewSessionObserver& o) { o.PageChanged(FCurrentPage); });
}

void TPreviewSession::SetPageCount(int Count)
{
    Count = std::max(0, Count);
    FCountVersion = Count > 0 ? FPassVersion : TFileVersion{};
    if (Count == FPageCount)
        return;
    FPageCount = Count;
    NotifyObservers([&](TPreviewSessionObserver& o) { o.PageCountChanged(FPageCount); });
}

int TPreviewSession::CountPages(TGauge* Gauge)
{
    if (!FRenderer || IsBlank(FReportFileName))
        return 0;
    if (FRenderer->Rendering || FRenderer->Printing)
        return FPageCount;  // no pass within a pass
    int count = 0;
    FCounting = true;
    // Noted before the pass: a report changed during it counts as changed.
    FPassVersion = VersionNow(FReportFileName);
    try {
        count = FRenderer->CountPages(Gauge);
    } catch (const std::exception& e) {
        FRenderer->Rendering = false;
        ShowMessage(e.what(), "x: Error Counting Pages " + FReportFileName + AreaText());
        count = 0;
    }
    FCounting = false;
    return count;
}

bool TPreviewSession::ReportChangedSinceCount() const
{
    return !(VersionNow(FReportFileName) == FCountVersion);
}

bool TPreviewSession::PageFitsInMemory() const
{
    if (!FRenderer)
        return true;
    const int w = std::max(1, FRenderer->Metrics.PageWidthPx), h = std::max(1, FRenderer->Metrics.PageHeightPx);
    return static_cast<int64_t>(w) * h <= MaxPagePixels;
}

TZoomChange TPreviewSession::SetZoom(int Percent)
{
    if (Percent == FZoom)
        return TZoomChange::Unchanged;
    if (!FRenderer) {
        FZoom = Percent;
        NotifyObservers([&](TPreviewSessionObserver& o) { o.ZoomChanged(FZoom); });
        return TZoomChange::Applied;
    }
    // The page count of a report is made at one zoom, and a print job at
    // the printer's.
    if (FCounting || FRenderer->Printing)
        return TZoomChange::Busy;
    const double oldScale = FRenderer->GetScale();
    const int oldZoom = FZoom;
    FRenderer->SetScale(ScaleFor(Percent));
    bool refused = !PageFitsInMemory();
    if (!refused) {
        FZoom = Percent;
        try {
            NotifyObservers([&](TPreviewSessionObserver& o) { o.ZoomChanged(FZoom); });
        } catch (const std::exception&) {
            // Not enough memory for the page at this zoom.
            refused = true;
        }
    }
    if (refused) {
        FRenderer->SetScale(oldScale);
        FZoom = oldZoom;
        NotifyObservers([&](TPreviewSessionObserver& o) { o.ZoomRefused(); });
    }
    Globals().ZoomLevel = static_cast<int>(RoundHalfEven(FRenderer->GetScale() / FPixelRatio * 100));
    return refused ? TZoomChange::Refused : TZoomChange::Applied;
}

bool TPreviewSession::SetPixelRatio(double Ratio)
{
    Ratio = std::clamp(Ratio, 1.0, 4.0);
    if (Ratio == FPixelRatio)
        return false;
    if (FRenderer && (FCounting || FRenderer->Printing || FRenderer->Rendering))
        return false;  // the pass under way keeps its scale
    const double old = FPixelRatio;
    FPixelRatio = Ratio;
    if (FRenderer) {
        const double oldScale = FRenderer->GetScale();
        FRenderer->SetScale(oldScale / old * Ratio);
        if (!PageFitsInMemory()) {
            FRenderer->SetScale(oldScale);
            FPixelRatio = old;
            return false;
        }
    }
    return true;
}

bool TPreviewSession::AddFoundPage(int Page)
{
    const std::string mark = "," + std::to_string(Page) + ",";
    if (FFoundPages.find(mark) != std::string::npos)
        return false;
    FFoundPages += mark;
    return true;
}

void TPreviewSession::TidyFoundPages() { FFoundPages = ReplaceAll(FFoundPages, ",,", ","); }

bool TPreviewSession::PageWasFound(int Page) const
{
    return !FFoundPages.empty() && FFoundPages.find("," + std::to_string(Page) + ",") != std::string::npos;
}

int TPreviewSession::NextFoundPage(int Page) const
{
    size_t p = 0;
    while (p < FFoundPages.size()) {
        const size_t comma = FFoundPages.find(',', p);
        const std::string item = FFoundPages.substr(p, comma == std::string::npos ? std::string::npos : comma - p);
        p = comma == std::string::npos ? FFoundPages.size() : comma + 1;
        if (item.empty())
            continue;
        const int page = static_cast<int>(std::min<long long>(std::atoll(item.c_str()), INT_MAX));
        if (page > Page)
            return page;
    }
    return 0;
}

void TPreviewSession::NoteExitCode(int Code)
{
    if (FExitCode == 0)
        FExitCode = Code;
}

void TPreviewSession::Terminate(int Code)
{
    NoteExitCode(Code);
    FTerminated = true;
}

std::string TPreviewSession::AreaText() const
{
    return "\r\n(area:" + std::to_string(FRenderer ? FRenderer->Pass.AreaCode : 0) + ")";
}

}  // namespace quillard
