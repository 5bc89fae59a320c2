// The print job: a target of its own, the printer's surface measured at the
// printer's resolution, and one page pass on it per copy (each copy a
// document of its own). The renderer's own surface and metrics stay as they
// are; only its page is measured again afterwards.
#include "base/bytefile.h"
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "surfaces/rastercanvas.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <set>
#include <stdexcept>

namespace quillard {

namespace {

// The largest page drawn as a picture, in pixels (a Letter page at 600 dpi
// is 34 million): a larger one is drawn as it is, without its pen modes.
constexpr long long MaxPicturePagePixels = 80LL * 1000 * 1000;

// The printer's surface for the running document: each page of the pass
// after the first is a new sheet of the job. The printer's document takes
// shapes and text, but cannot combine pixels with what is on the page: a
// page whose pen modes do (XOR, NOT, MERGE ...) is drawn on a picture of
// the page at the printer's resolution, as the preview draws it, and the
// picture goes on the sheet.
class TPrintJobCanvas : public TRasterCanvas {
public:
    TPrintJobCanvas(TDeviceContext* Context, TPrinterLayer& Printer, tRenderer& Renderer,
                    const std::set<int>& PicturePages)
        : TRasterCanvas(Context), FPrinter(Printer), FRenderer(Renderer), FContext(Context),
          FPicturePages(PicturePages)
    {
    }
    // A page left half drawn (the job stopped) is dropped.
    ~TPrintJobCanvas() override { UseDeviceContext(FContext); }

    void StartPage(int Page) override
    {
        if (FPageEnded && FPrinter.Printing()) {
            FPageEnded = false;
            FRenderer.Pass.AreaCode = 5;
            try {
                FPrinter.NewPage();
            } catch (const std::exception&) {
                MessageBeep();
            }
        }
        if (FPicturePages.count(Page))
            StartPicturePage();
    }
    void EndPage(int) override
    {
        FinishPicturePage();
        FPageEnded = true;
    }

    // Puts a page drawn as a picture on its sheet (before the document ends).
    void FinishPicturePage()
    {
        if (!FPicture)
            return;
        UseDeviceContext(FContext);
        FPicture->DrawOn(*FContext);
        FPicture.reset();
    }

private:
    void StartPicturePage()
    {
        // Without room for the picture the page is drawn as it is.
        FPicture = TPagePicture::Make(FPrinter.PageWidth(), FPrinter.PageHeight(), FContext->DpiX(),
                                      MaxPicturePagePixels);
        if (FPicture)
            UseDeviceContext(&FPicture->Context());
    }

    TPrinterLayer& FPrinter;
    tRenderer& FRenderer;
    TDeviceContext* FContext;  // the printer's
    const std::set<int>& FPicturePages;
    std::unique_ptr<TPagePicture> FPicture;
    bool FPageEnded = false;  // a sheet of the document has ended: the next page starts a new one
};

// A job stopped before its pages were drawn (the program is ending).
struct TJobStopped {};

// Whether the report's text holds the word MODE in any letter case: only
// then can it set a pen mode ({PEN MODE=XOR}).
bool MayHoldPenModes(const std::string& FileName)
{
    TByteFile file;
    try {
        file.Open(FileName);
        std::string block(1 << 20, '\0');
        std::string tail;
        for (;;) {
            const size_t n = file.Read(block.data(), block.size());
            if (n == 0)
                return false;
            std::string text = tail + block.substr(0, n);
            for (char& c : text)
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            if (text.find("MODE") != std::string::npos)
                return true;
            tail = text.substr(text.size() - std::min<size_t>(3, text.size()));
        }
    } catch (const std::exception&) {
        return true;  // the pass will say what is wrong
    }
}

// A surface that draws nowhere (a one-pixel picture at the printer's
// resolution) and notes the pages whose drawing combines pixels.
class TPenModeScanCanvas : public TRasterCanvas {
public:
    explicit TPenModeScanCanvas(TDeviceContext* Context) : TRasterCanvas(Context) {}
    void StartPage(int) override { RasterOpsDrawn = false; }
    void EndPage(int Page) override
    {
        if (RasterOpsDrawn)
            Pages.insert(Page);
        RasterOpsDrawn = false;
    }
    std::set<int> Pages;
};

}  // namespace

bool tRenderer::Print(TGauge* Gauge)
{
    TPrinterLayer& printer = Printer();
    // A job started from inside a running one (through the message pump)
    // would take the running job's surface and state away from it.
    if (Printing) {
        ShowMessage("A print or PDF job is already running.", "Error tRenderer.Print");
        return false;
    }
    if (Pass.Depth > 0) {
        ShowMessage("A page pass is already running.", "Error tRenderer.Print");
        return false;
    }
    // Without a report the pass would print an empty page as if it were the
    // report, and nothing goes to the printer.
    if (std::string why; !ReportReadableForJob(&why)) {
        Globals().LastErrorMessage = why + ": nothing was printed.";
        ShowMessage(Globals().LastErrorMessage, "Error tRenderer.Print");
        return false;
    }
    // A job that fails on the way: with no printer chosen there was none to
    // print on, else the printer or its spooler refused it.
    auto noteRefusal = [&printer] {
        Globals().LastFailure = printer.PrinterIndex() < 0 ? TFailureKind::NoPrinter : TFailureKind::PrinterRejected;
    };
    bool printed = false;
    // The job's own target: the printer's sheet at the printer's resolution.
    TPageTarget target;
    try {
        Printing = true;

        if (printer.CanOrientation())
            printer.SetOrientation(Setup.Orientation);
        printer.SetTitle(!IsBlank(Job.Title) ? Job.Title : "Quillard -- " + FileName);
        printer.SetMonochrome(!Setup.ColourMode);
        if (Setup.Tray > 0)
            SetPaperSource(Setup.Tray);
        MeasurePrinter(target.Metrics);
        try {
            if (printer.CanCopies())
                printer.SetCopies(1);
        } catch (const std::exception&) {
            ShowMessage("#1# Error checking \"Copies\" capability of printer", "Error", TMsgButtons::OKCancel);
        }
        const std::string paperProblem = printer.PaperProblem();
        if (!paperProblem.empty())
            ShowMessage(paperProblem, "Printer Error");

        // The pages whose pen modes combine pixels, from a pass that draws
        // nowhere, laid out as the job lays them out (only for a report that
        // can set a pen mode at all). Without it every page prints as it is.
        // False when the job was stopped meanwhile.
        std::set<int> picturePages;
        auto findPicturePages = [&] {
            if (!MayHoldPenModes(FileName))
                return true;
            try {
                const std::unique_ptr<TPagePicture> nowhere = TPagePicture::Make(1, 1, target.Metrics.DpiX, 1);
                if (!nowhere)
                    return true;
                TPageTarget scan;
                scan.Metrics = target.Metrics;
                scan.Scale = 1;
                auto scanCanvas = std::make_unique<TPenModeScanCanvas>(&nowhere->Context());
                TPenModeScanCanvas* scanning = scanCanvas.get();
                scan.Canvas = std::move(scanCanvas);
                if (RenderJobPages(scan, nullptr))
                    picturePages = scanning->Pages;
                else if (Pass.Aborted)
                    return false;
            } catch (const std::exception&) {
                picturePages.clear();
            }
            return true;
        };

        // The printer's surface for the running document.
        TPrintJobCanvas* jobCanvas = nullptr;
        auto usePrinterCanvas = [&] {
            TDeviceContext* dc = printer.DeviceContext();
            if (!dc)
                throw std::runtime_error("The printer gave no surface to draw on");
            auto canvas = std::make_unique<TPrintJobCanvas>(dc, printer, *this, picturePages);
            jobCanvas = canvas.get();
            target.Canvas = std::move(canvas);
        };

        const int oldMax = Gauge ? Gauge->MaxValue : 0;
        bool passOk = false;
        try {
            printer.BeginDoc();
            // A zoom of 1: a page inch is the printer's inch.
            target.Scale = 1;
            target.Metrics.PixelsPerInchX = target.Metrics.DpiX;
            target.Metrics.PixelsPerInchY = target.Metrics.DpiY;
            target.Metrics.PageWidthPx = printer.PageWidth();
            target.Metrics.PageHeightPx = printer.PageHeight();
            // A job stopped during the scan prints nothing.
            if (!findPicturePages())
                throw TJobStopped();
            usePrinterCanvas();
            if (Gauge) {
                Gauge->MaxValue = static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(oldMax) * Job.Copies, INT_MIN, INT_MAX));
                Gauge->Progress = 1;
            }
            const int copies = std::max(Job.Copies, 1);
            for (int copy = 1; copy <= copies; ++copy) {
                passOk = RenderJobPages(target, Gauge);
                if (!passOk)
                    break;
                if (copy < copies) {
                    // Each copy is a document of its own. The surface of the
                    // ended document is let go before the next one begins.
                    jobCanvas->FinishPicturePage();
                    target.Canvas.reset();
                    printer.EndDoc();
                    printer.BeginDoc();
                    usePrinterCanvas();
                }
            }
        } catch (const TJobStopped&) {
            passOk = false;
        } catch (const std::exception& e) {
            passOk = false;
            noteRefusal();
            ShowMessage(e.what(), "Error Printing Document!");
        }
        if (Gauge) {
            Gauge->MaxValue = oldMax;
            Gauge->Progress = Gauge->MaxValue;
        }

        try {
            if (printer.Printing()) {
                if (passOk) {
                    if (jobCanvas)
                        jobCanvas->FinishPicturePage();
                    printer.EndDoc();
                    printed = true;
                    const std::string notice = printer.JobNotice();
                    if (!notice.empty())
                        ShowMessage(notice, "Printer Stopped");
                } else {
                    printer.Abort();
                    ShowMessage("#2# \"Status\"=False... Printing aborted!", "Error", TMsgButtons::OKCancel);
                }
            }
        } catch (const std::exception& e) {
            printed = false;
            noteRefusal();
            ShowMessage(e.what(), "Error Printing Document!");
        }
    } catch (const std::exception& e) {
        printed = false;
        noteRefusal();
        ShowMessage(e.what(), "Error tRenderer.Print");
    }

    // The job may have turned the printer or chosen its tray: the
    // renderer's own page is measured again.
    Printing = false;
    target.Canvas.reset();
    GetCapacities();
    return printed;
}

}  // namespace quillard
