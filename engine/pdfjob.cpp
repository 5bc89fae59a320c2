// The PDF job: a target of its own, the PDF surface laid out on the whole
// sheet at 300 dpi, on which one page pass writes the document. The
// renderer's own surface and metrics are left as they are.
#include "base/strings.h"
#include "engine/globals.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "engine/services.h"
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
    // A job started from inside a running job or pass (through the message
    // pump) would take their surface and state away from them.
    if (Printing || Pass.Depth > 0) {
        Globals().LastErrorMessage = "MakePDF: A print or PDF job or a page pass is already running";
        return 1;
    }
    // Without a report the pass would write an empty page as if it were
    // the report, and nothing is written.
    if (std::string why; !ReportReadableForJob(&why)) {
        Globals().LastErrorMessage = "MakePDF: " + why;
        return 4;
    }
    int result = 0;
    std::unique_ptr<TPdfDocument> maker;
    // The job's own target: the PDF surface, laid out on the whole sheet.
    TPageTarget target;

    // The job ends on every way out: its flags go down, the gauge gets its
    // range back and the surface goes back to the maker, which frees it.
    struct TJobEnd {
        tRenderer& R;
        std::unique_ptr<TPdfDocument>& Maker;
        TPageTarget& Target;
        TGauge* Gauge;
        bool GaugeScaled = false;
        int GaugeMax = 0;
        ~TJobEnd()
        {
            R.Printing = false;
            R.MakingPdf = false;
            R.PdfMaker = nullptr;
            if (Maker)
                Maker->TakeBackCanvas(std::move(Target.Canvas));
            if (Gauge && GaugeScaled) {
                Gauge->MaxValue = GaugeMax;
                Gauge->Progress = Gauge->MaxValue;
            }
        }
    } jobEnd{*this, maker, target, Gauge};

    Printing = true;
    MakingPdf = true;
    try {
        maker = std::make_unique<TPdfDocument>();
        PdfMaker = maker.get();
        target.Canvas = maker->LendCanvas();
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
        // An archived file carries a title: the print title, or else the
        // report's file name.
        std::string title = Job.Title;
        if (title.empty() && Job.PdfA)
            title = FileName.substr(FileName.rfind('/') == std::string::npos ? 0 : FileName.rfind('/') + 1);
        maker->SetTitle(title);
        maker->SetEmbedFonts(Job.PdfEmbedFonts || Globals().EmbedPdfFonts);
        maker->SetCompress(Job.PdfCompress || Globals().CompressPdf);
        maker->SetPdfA(Job.PdfA);

        // The whole sheet is the page: no unprintable margin, at the
        // surface's resolution and a zoom of 1.
        TPageMetrics& m = target.Metrics;
        m.DpiX = target.Canvas->GetDeviceCaps(LOGPIXELSX);
        m.DpiY = target.Canvas->GetDeviceCaps(LOGPIXELSY);
        m.OffsetXPx = 0;
        m.OffsetYPx = 0;
        m.LeftOffset = 0;
        m.TopOffset = 0;
        m.PageWidthPx = std::abs(maker->PageWidth());
        m.PageHeightPx = std::abs(maker->PageHeight());
        // A printer's unprintable margins: the page is its printable area
        // (margins of the portrait sheet turn with a landscape page, whose
        // top is the sheet's left edge).
        const bool turned = Setup.Orientation == 1;
        const double left = std::max(0.0, turned ? Job.PdfMarginBottom : Job.PdfMarginLeft),
                     top = std::max(0.0, turned ? Job.PdfMarginLeft : Job.PdfMarginTop),
                     right = std::max(0.0, turned ? Job.PdfMarginTop : Job.PdfMarginRight),
                     bottom = std::max(0.0, turned ? Job.PdfMarginRight : Job.PdfMarginBottom);
        if (left + right > 0 || top + bottom > 0) {
            const int shrinkX = static_cast<int>(std::lround((left + right) * m.DpiX)),
                      shrinkY = static_cast<int>(std::lround((top + bottom) * m.DpiY));
            if (shrinkX < m.PageWidthPx && shrinkY < m.PageHeightPx) {
                m.LeftOffset = left;
                m.TopOffset = top;
                m.OffsetXPx = left * m.DpiX;
                m.OffsetYPx = top * m.DpiY;
                m.PageWidthPx -= shrinkX;
                m.PageHeightPx -= shrinkY;
                maker->SetOrigin(left * 72, top * 72);
            }
        }
        m.PrintableWidth = m.PageWidthPx / m.DpiX;
        m.PrintableHeight = m.PageHeightPx / m.DpiY;
        target.Scale = 1;
        ScaleMetrics(m, target.Canvas.get(), target.Scale);

        maker->BeginDoc();
        begun = true;

        if (Gauge) {
            jobEnd.GaugeMax = Gauge->MaxValue;
            Gauge->MaxValue = ScaledMax(jobEnd.GaugeMax, Job.Copies);
            Gauge->Progress = 1;
            jobEnd.GaugeScaled = true;
        }
        PdfUnmappedCharacters = 0;
        PdfMissingGlyphs = 0;
        PdfFontWarnings.clear();
        // What the document may hold grows with the report that makes it.
        maker->Canvas()->MaxObjectsPerDocument = MaxPdfObjectsBase + MaxPdfObjectsPerReportByte * std::max<int64_t>(FileSize, 0);
        const bool ok = RenderJobPages(target, Gauge);
        if (maker->Canvas() && maker->Canvas()->ObjectsLeftOut > 0) {
            const TPdfCanvas& c = *maker->Canvas();
            ShowMessage(GroupedNumber(c.ObjectsLeftOut) + " drawn object" + (c.ObjectsLeftOut == 1 ? " was" : "s were") +
                            " left out of the PDF from page " + std::to_string(c.FirstPageOverLimit) +
                            " on: a page holds at most " + GroupedNumber(TPdfCanvas::MaxObjectsPerPage) +
                            " lines, fills, pictures and runs of text, and this document at most " +
                            GroupedNumber(c.MaxObjectsPerDocument),
                        "MakePDF");
        }
        if (maker->Canvas()) {
            PdfUnmappedCharacters = maker->Canvas()->UnmappedCharacters;
            PdfMissingGlyphs = maker->Canvas()->MissingGlyphs;
            PdfFontWarnings = maker->Canvas()->TakeFontWarnings();
        }
        if (!ok) {
            Globals().LastErrorMessage = "MakePDF: Render Returned Error (error opening document)";
            result = 4;
        }
        if (Gauge) {
            Gauge->MaxValue = jobEnd.GaugeMax;
            Gauge->Progress = Gauge->MaxValue;
            jobEnd.GaugeScaled = false;
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
