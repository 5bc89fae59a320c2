// The print job: a target of its own, the printer's surface measured at the
// printer's resolution, and one page pass on it per copy (each copy a
// document of its own). The renderer's own surface and metrics stay as they
// are; only its page is measured again afterwards.
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "surfaces/rastercanvas.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace quillard {

namespace {

// The printer's surface for the running document: each page of the pass
// after the first is a new sheet of the job.
class TPrintJobCanvas : public TRasterCanvas {
public:
    TPrintJobCanvas(TDeviceContext* Context, TPrinterLayer& Printer, tRenderer& Renderer)
        : TRasterCanvas(Context), FPrinter(Printer), FRenderer(Renderer)
    {
    }
    void StartPage(int) override
    {
        if (!FPageEnded || !FPrinter.Printing())
            return;
        FPageEnded = false;
        FRenderer.Pass.AreaCode = 5;
        try {
            FPrinter.NewPage();
        } catch (const std::exception&) {
            MessageBeep();
        }
    }
    void EndPage(int) override { FPageEnded = true; }

private:
    TPrinterLayer& FPrinter;
    tRenderer& FRenderer;
    bool FPageEnded = false;  // a sheet of the document has ended: the next page starts a new one
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

        // The printer's surface for the running document.
        auto usePrinterCanvas = [&] {
            TDeviceContext* dc = printer.DeviceContext();
            if (!dc)
                throw std::runtime_error("The printer gave no surface to draw on");
            target.Canvas = std::make_unique<TPrintJobCanvas>(dc, printer, *this);
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
                    target.Canvas.reset();
                    printer.EndDoc();
                    printer.BeginDoc();
                    usePrinterCanvas();
                }
            }
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
