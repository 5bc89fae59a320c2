// The CUPS filter quillardtopdf: a report (application/vnd.quillard-report)
// in, its PDF out, for any print queue of a CUPS server.
#pragma once

#include "engine/globals.h"
#include "engine/renderer.h"

#include <string>
#include <vector>

namespace quillard {

// What a filter job asks for, from its options and the queue's PPD.
struct TFilterJob {
    std::string Title;
    // The paper: a DMPAPER number, 0 when neither the options nor the PPD
    // name one the table knows.
    int Paper = 0;
    bool Landscape = false;
    // How the report is laid out (plain=, paginate=, cpi=, lpi=,
    // lines-per-page=) and read (encoding=, line-ends=): nothing set, as
    // the report and its text decide.
    TPlainTextChoice PlainText = TPlainTextChoice::Auto;
    bool Paginate = false;
    double Cpi = 0;
    int Lpi = 0;
    int LinesPerPage = 0;
    tRenderer::TEncodingChoice Encoding = tRenderer::TEncodingChoice::Auto;
    TLineEndChoice LineEnds = TLineEndChoice::Auto;
    std::vector<std::string> Warnings;  // said with WARNING: lines
};

// Reads the job options (as CUPS passes them in argv[5]) and the PPD (its
// file name, empty without one): media, PageSize or page-size; and
// orientation-requested or landscape; and the options of the report's
// layout: plain=true|false|auto, paginate=true|false, cpi=N (decimals
// allowed), lpi=N, lines-per-page=N, encoding=auto|utf-8|cp1252|cp437 and
// line-ends=auto|printer|unix. A value the filter cannot take is a warning,
// and the option is left as if not given.
TFilterJob ReadFilterJob(const std::string& Title, const std::string& Options, const std::string& PpdFile);

// The DMPAPER number of a media name as CUPS and PPDs write them ("A4",
// "Letter", "iso_a4_210x297mm", "na_legal_8.5x14in", "Custom.8.5x13in"), 0
// for one not known.
int PaperOfMedia(const std::string& Media);

// The filter's entry: quillardtopdf job-id user title copies options [file].
// The report comes from the file or standard input; the PDF goes to
// standard output; messages are CUPS's "ERROR:", "WARNING:", "INFO:" and
// "ATTR:" lines on standard error. Exit status 0 when the PDF was written.
int RunCupsFilter(int argc, char** argv);

}  // namespace quillard
