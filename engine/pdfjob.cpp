// The PDF job: the renderer is switched onto a PDF surface laid out on the
// whole sheet at 300 dpi, one page pass writes the document, and the renderer
// goes back to its preview surface and metrics on every way out.
#include "engine/globals.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "surfaces/pdfcanvas.h"

#include <algorithm>
#include <cmath>

namespace quillard {

namespace {

int ScaledMax(int Max, int Copies)
{
    const int64_t v = int64_t{Max} * Copies;
    return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

int tRenderer::MakePDF(TGauge* Gauge, const std::string& AFileName)
{
    int result = 0;
    std::unique_ptr<TPdfDocument> maker;
    std::unique_ptr<TRenderingCanvas> remembered;
    bool swapped = false;
    double rememberedScale = GetScale();
    bool gaugeScaled = false;
    int gaugeMax = 0;

    // Puts the renderer back whatever happened: the surface it had, its
    // printer metrics and its scale. Runs before the maker is freed.
    struct TRestore {
        tRenderer& R;
        std::unique_ptr<TPdfDocument>& Maker;
        std::unique_ptr<TRenderingCanvas>& Remembered;
        bool& Swapped;
        double& Scale;
        TGauge* Gauge;
        bool& GaugeScaled;
        int& GaugeMax;
        ~TRestore()
        {
            R.Printing = false;
            R.MakingPdf = false;
            try {
                if (Swapped) {
                    std::unique_ptr<TRenderingCanvas> pdf = R.SwapCanvas(std::move(Remembered));
                    if (Maker)
                        Maker->TakeBackCanvas(std::move(pdf));
                }
                R.PdfMaker = nullptr;
                if (Gauge && GaugeScaled) {
                    Gauge->MaxValue = GaugeMax;
                    Gauge->Progress = Gauge->MaxValue;
                }
                R.GetCapacities();
                R.SetScale(Scale);
            } catch (...) {
                // Nothing leaves a destructor; the renderer forgets the maker.
                R.PdfMaker = nullptr;
            }
        }
    } restore{*this, maker, remembered, swapped, rememberedScale, Gauge, gaugeScaled, gaugeMax};

    Printing = true;
    MakingPdf = true;
    try {
        maker = std::make_unique<TPdfDocument>();
        PdfMaker = maker.get();
        remembered = SwapCanvas(maker->LendCanvas());
        swapped = true;
        rememberedScale = GetScale();
    } catch (const std::exception&) {
        Globals().LastErrorMessage = "MakePDF: Error Creating PDF Canvas";
        return 1;
    }

    bool begun = false;
    try {
        maker->SetFileName(AFileName);
        maker->SetOrientation(Setup.Orientation == 1 ? poLandscape : poPortrait);
        // The sheet of the report's paper, as the header set it in the
        // printer's settings (Letter when the number names no known size),
        // turned for landscape.
        int paper = DMPAPER_LETTER;
        try {
            paper = Printer().PaperSize();
        } catch (const std::exception&) {
            // No printer to ask: Letter.
        }
        maker->SetPaper(paper, Setup.Orientation == 1);
        maker->SetTitle(Job.Title);

        // The whole sheet is the page: no unprintable margin.
        Metrics.DpiX = Canvas->GetDeviceCaps(LOGPIXELSX);
        Metrics.DpiY = Canvas->GetDeviceCaps(LOGPIXELSY);
        Metrics.OffsetXPx = 0;
        Metrics.OffsetYPx = 0;
        Metrics.LeftOffset = 0;
        Metrics.TopOffset = 0;
        Metrics.PageWidthPx = std::abs(maker->PageWidth());
        Metrics.PageHeightPx = std::abs(maker->PageHeight());
        Metrics.PrintableWidth = Metrics.PageWidthPx / Metrics.DpiX;
        Metrics.PrintableHeight = Metrics.PageHeightPx / Metrics.DpiY;

        maker->BeginDoc();
        begun = true;
        SetScale(1);
        ResetSpans();

        if (Gauge) {
            gaugeMax = Gauge->MaxValue;
            Gauge->MaxValue = ScaledMax(gaugeMax, Job.Copies);
            Gauge->Progress = 1;
            gaugeScaled = true;
        }
        PdfUnmappedCharacters = 0;
        const bool ok = Job.UsePageRange ? RenderPages(Gauge, Job.RangeFrom, nullptr, Job.RangeTo) : RenderPages(Gauge, -1, nullptr, -1);
        if (maker->Canvas())
            PdfUnmappedCharacters = maker->Canvas()->UnmappedCharacters;
        if (!ok) {
            Globals().LastErrorMessage = "MakePDF: Render Returned Error (error opening document)";
            result = 4;
        }
        if (Gauge) {
            Gauge->MaxValue = gaugeMax;
            Gauge->Progress = Gauge->MaxValue;
            gaugeScaled = false;
        }
    } catch (const std::exception&) {
        Globals().LastErrorMessage = "MakePDF: Error Rendering Document";
        result = 2;
    }

    // Only a whole document is written: after a failed or stopped pass the
    // maker's temporary file goes, and a file the user had under that name
    // stays as it was.
    if (begun && result == 0) {
        try {
            maker->EndDoc();
        } catch (const std::exception& e) {
            Globals().LastErrorMessage = std::string("MakePDF: ") + e.what();
            result = 3;
        } catch (...) {
            Globals().LastErrorMessage = "MakePDF: Unknown error";
            result = 3;
        }
    }
    return result;
}

}  // namespace quillard
