// Program-wide values shared by the engine and the application.
#pragma once

#include <cstdint>
#include <string>

namespace quillard {

// How the line ends of reports are taken (tRenderer::LineEndChoice): as a
// character printer takes them, as a Linux text file writes them, or decided
// for each report by whether its text holds a carriage return.
enum class TLineEndChoice : uint8_t { Auto, Printer, Unix };

// Whether a report is laid out as plain text (tRenderer::PlainTextChoice):
// never (the report rules), always, or when its text has no carriage return
// and no tag the report reader knows.
enum class TPlainTextChoice : uint8_t { Auto, Never, Always };

// What kind of failure LastErrorMessage tells of, for a client that acts on
// the kind rather than reading the text.
enum class TFailureKind : uint8_t {
    None,             // nothing, or a failure of no kind below
    NoReport,         // no report to lay out: none loaded, or its file is gone
    NotFound,         // the report named (a file, a web address) is not there
    Unreachable,      // the web server or proxy could not be reached
    Timeout,          // the transfer or the reading did not end in time
    NoPrinter,        // no printer to print on
    PrinterRejected,  // the printer or its spooler refused the job
};

struct TProgramGlobals {
    // Box-drawing bytes are drawn with the line-drawing font instead of lines.
    bool UseLineDrawFont = false;
    // Someone chose UseLineDrawFont (a setting, an option, the print
    // window). Until then each Windows-1252 report decides by its bytes: one
    // where no two of the bytes 179 to 223 stand side by side holds letters
    // (É, Ü, ß, »), not box drawing, and shows them as letters.
    bool LineDrawChosen = false;
    // The character set reports are read in: "AUTO", "UTF-8", "CP1252" or
    // "CP437" (see tRenderer::TEncodingChoice); renderers start with it.
    std::string ReportEncoding = "AUTO";
    // The line ends a new renderer takes reports in ("Line Ends" setting).
    TLineEndChoice LineEnds = TLineEndChoice::Auto;
    // Which reports a new renderer lays out as plain text: the report rules
    // until the application applies its "Plain Text" setting (Auto unless set).
    TPlainTextChoice PlainText = TPlainTextChoice::Never;
    // PDF files embed every font ("Embed PDF Fonts") and deflate their page
    // content ("Compress PDF"); a job may ask for either besides.
    bool EmbedPdfFonts = false;
    bool CompressPdf = false;
    // The printer warning of the metrics read has been shown in this run.
    bool PrinterWarningShown = false;
    // Preview zoom in percent.
    int ZoomLevel = 75;
    // Text of the last engine failure, read by automation clients.
    std::string LastErrorMessage;
    // Its kind, where the failure's origin knows it.
    TFailureKind LastFailure = TFailureKind::None;
};

TProgramGlobals& Globals();

// After a report file could not be opened: a file that is not there makes
// the failure's kind NotFound.
void NoteOpenFailure(const std::string& Path);

}  // namespace quillard
