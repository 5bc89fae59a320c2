// The command line: the headless options that make every output without a
// display, or else the windowed program with its switches.
#pragma once

#include "engine/globals.h"
#include "engine/renderer.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillard {

struct TCommandLine {
    enum class TMode { None, Help, Version, Png, CountPages, Pdf, Print, ListPrinters, Gui } Mode = TMode::None;
    std::string Output;
    std::string Report;
    int Page = 1;
    int Zoom = 100;
    std::string Printer;          // --printer: queue to print on (blank: the default)
    // -o NAME=VALUE and --duplex: job options handed to the spooler as they are.
    std::vector<std::pair<std::string, std::string>> JobOptions;
    int Copies = 1;               // --copies
    int WaitSeconds = 0;          // --wait[=SECONDS]: how long to wait for the jobs' end (0: not at all)
    int RangeFrom = 0, RangeTo = 0;  // --pages A-B (0: all pages)
    bool ReportIsUntrusted = false;  // the report was fetched from a web server
    std::string ReportLabel;         // how messages name the report when not by Report
    bool Quiet = false;              // --quiet: warnings are not shown
    bool Markup = false;             // --markup: the report rules, never plain text
    // --embed-fonts, --compress, --pdfa: how the PDF is written.
    bool EmbedFonts = false, Compress = false, PdfA = false;
    std::optional<bool> LineDrawFont;  // --line-draw-font=yes|no over the user's setting
    std::string Encoding;              // --encoding=NAME over the user's setting
    std::optional<TLineEndChoice> LineEnds;  // --line-ends=auto|printer|unix over the user's setting
    // --paper, --landscape, --cpi, --lpi, --lines-per-page, --margins,
    // --paginate and --plain: over what the report's header says.
    tRenderer::TPageSetupOverrides PageSetup;
    std::string Error;  // set when the arguments cannot be used
};

TCommandLine ParseCommandLine(const std::vector<std::string>& Args);
int RunCommandLine(int argc, char** argv);

}  // namespace quillard
