#include "app/cli.h"
#include "app/cupsfilter.h"

#include "app/gui.h"
#include "platform/settings.h"
#include "app/switches.h"
#include "app/webclient.h"

#include "base/bytefile.h"
#include "engine/globals.h"
#include "engine/header.h"
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "engine/reportfiles.h"
#include "engine/services.h"
#include "platform/cupsprinter.h"
#include "surfaces/fontlist.h"
#include "platform/program.h"
#include "surfaces/imagecanvas.h"
#include "surfaces/namedoutput.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageWriter>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard {

namespace {

const char* const Usage =
    "Usage: quillard [SWITCH]... [REPORT]\n"
    "       quillard [OPTION]... REPORT\n"
    "Show a report in the preview window, or lay it out and draw it without a\n"
    "display.\n"
    "\n"
    "Switches of the preview window:\n"
    "  /DELETE, /DEL, /D, --delete   delete the report when the program ends\n"
    "  /PREVIEW, /VIEW, /V, --preview  keep the preview open after /PRINT\n"
    "  /PRINT, /P                   print the report, then end (unless /PREVIEW);\n"
    "                               --print is the same beside another switch\n"
    "  /REGSVR, /REG, /R            register the automation server\n"
    "  /UNREGSVR, /UNREG, /U        remove the automation server's registration\n"
    "Without a report the open-document window asks for one.\n"
    "\n"
    "The automation server (on the session bus as com.merrowgate.Quillard, each\n"
    "switch also with a slash):\n"
    "  -AUTOMATION, -EMBEDDING      run as the server the bus starts for a client: no\n"
    "                               window until a client shows it; the program ends\n"
    "                               when no client is left and the window is hidden,\n"
    "                               after 15 seconds (QUILLARD_AUTOMATION_LINGER_MS),\n"
    "                               and at once when the bus goes away\n"
    "  -REGSERVER, -UNREGSERVER     write or remove the bus's activation file, then end\n"
    "  -NOREGSERVER                 run without offering the automation server\n"
    "SIGTERM, SIGINT and SIGHUP end the program as closing its window does: the\n"
    "report handed over by a client or named with /DELETE is removed.\n"
    "A REPORT that is an http:// or https:// address is fetched first, within the\n"
    "\"Fetch Time Limit\" setting's seconds (300 unless set).\n"
    "\n"
    "Options without a display:\n"
    "  --png OUT.png        draw one page as a PNG picture\n"
    "      --page N         the page to draw (default 1)\n"
    "      --zoom PCT       zoom in percent of 96 dots per inch (default 100)\n"
    "  --pdf OUT.pdf        write the report as a PDF file; the exit status is the\n"
    "                       PDF job's result (0 success, 1 to 4 failure)\n"
    "      --pages A-B      only pages A to B (or one page: --pages A), with --pdf or --print\n"
    "      --embed-fonts    every font embedded (subsets of the faces metric-compatible\n"
    "                       with Arial, Courier New and Times New Roman): the file\n"
    "                       looks the same in every reader (the \"Embed PDF Fonts\"\n"
    "                       setting asks for it always). Characters the standard\n"
    "                       fonts lack are embedded in any case\n"
    "      --compress       page content deflated: a file several times smaller\n"
    "                       (the \"Compress PDF\" setting asks for it always)\n"
    "      --pdfa           PDF/A-2b for archiving: fonts embedded, XMP metadata, an\n"
    "                       sRGB output intent\n"
    "  --count-pages        print the number of pages of the report\n"
    "  --print              print the report and exit, without windows\n"
    "      --printer NAME   the printer to print on (default: the system's default;\n"
    "                       without one a printer must be named)\n"
    "      --copies N       number of copies, each a job of its own (default 1)\n"
    "      --pages A-B      print pages A to B only (or one page: --pages A)\n"
    "      -o NAME=VALUE    a job option handed to the spooler as it is, as lp's -o\n"
    "                       (repeatable; over what the report sets); a NAME alone\n"
    "                       is NAME=true (-o landscape), noNAME is NAME=false\n"
    "      --duplex=long|short|off  two-sided along the long or short edge, or one-sided\n"
    "      --wait[=SECONDS] wait until the printer has printed the jobs (at most SECONDS,\n"
    "                       default 600); a job aborted, cancelled, stopped or held,\n"
    "                       or not done in time, is a failure with the spooler's reason\n"
    "  --list-printers      list the printers, the default one marked\n"
    "  --line-draw-font=yes|no  bytes 0xB3 to 0xDF as text in the line-drawing font\n"
    "                       (yes) or as drawn lines (no); without it the \"Use MS\n"
    "                       LineDraw Font\" setting decides, as in the window\n"
    "  --encoding=auto|utf-8|cp1252|cp437  the character set of the report; auto\n"
    "                       (the default, or the \"Encoding\" setting): a byte-order\n"
    "                       mark or valid UTF-8 means UTF-8; CP437 for a file with\n"
    "                       no CR or with box drawing whose words read as CP437;\n"
    "                       else Windows-1252\n"
    "  --line-ends=auto|printer|unix  a line feed alone ends a line and starts the\n"
    "                       next at the left (unix), or moves down as on a\n"
    "                       character printer, where a carriage return goes back\n"
    "                       to the start of the line (printer); auto: unix for a\n"
    "                       report without a carriage return. Without it the\n"
    "                       \"Line Ends\" setting decides (Auto unless set)\n"
    "  --quiet              no warnings (a run that fails still says why)\n"
    "  --help               show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Page set-up over the report's header (as if its {INIT} asked for it):\n"
    "  --paper NAME         the paper, by the names PAPER= takes: A4, LETTER, LEGAL ...\n"
    "  --landscape          landscape orientation\n"
    "  --cpi N              N characters an inch in the fixed-pitch font (point\n"
    "                       size 120/N)\n"
    "  --lpi N              N lines an inch\n"
    "  --lines-per-page N   the line height that fills the page with N lines (LPP=)\n"
    "  --margins=M          the same margin on every side, or --margins=L,T,R,B:\n"
    "                       from the sheet's edges, each a number with in, cm, mm\n"
    "                       or pt (inches without), e.g. --margins=0.5in\n"
    "  --paginate           a full page breaks onto the next (PAGINATE)\n"
    "  --plain              the report is plain text: braces are text, a full page\n"
    "                       breaks, a line wider than the page goes on on the next\n"
    "                       (at its last space); form feeds still break pages.\n"
    "                       Without --plain or --markup (or the \"Plain Text\"\n"
    "                       setting), a report with no carriage return and no tag\n"
    "                       Quillard knows is laid out as plain text\n"
    "  --markup             the report's rules, never plain text\n"
    "Text that falls below the bottom of a page is said on stderr, a line a page\n"
    "(--quiet leaves it out).\n"
    "\n"
    "OUT.pdf or OUT.png may be -, standard output; REPORT may be -, standard input\n"
    "(at most 1 GiB).\n"
    "A named output is written where the name leads: through symbolic links, into\n"
    "a FIFO or a device; a file is replaced whole, or left as it was on failure.\n";

bool ParsePositive(const std::string& s, int Max, int& Out)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    long v = std::strtol(s.c_str(), nullptr, 10);
    if (v < 1 || v > Max)
        return false;
    Out = static_cast<int>(v);
    return true;
}

// "A-B" or "A", 1 <= A <= B.
bool ParsePageRange(const std::string& s, int& From, int& To)
{
    const size_t dash = s.find('-');
    if (dash == std::string::npos)
        return ParsePositive(s, 1000000, From) && (To = From, true);
    return ParsePositive(s.substr(0, dash), 1000000, From) && ParsePositive(s.substr(dash + 1), 1000000, To) && From <= To;
}

}  // namespace

namespace {

const char* const PageSetupOptions[] = {"--paper", "--landscape", "--cpi", "--lpi", "--lines-per-page",
                                        "--margins", "--paginate", "--plain"};

// The option's name: what comes before an "=".
std::string OptionName(const std::string& a) { return a.substr(0, a.find('=')); }

bool IsPageSetupOption(const std::string& a)
{
    const std::string name = OptionName(a);
    return std::any_of(std::begin(PageSetupOptions), std::end(PageSetupOptions),
                       [&](const char* o) { return name == o; });
}

// A decimal number such as 12 or 0.75 (no sign, no exponent), in the C
// locale whatever the user's.
bool ParseDecimal(const std::string& s, double Max, double& Out)
{
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(s.begin(), s.end(), '.') > 1 || s.find_first_of("0123456789") == std::string::npos)
        return false;
    double v = 0, scale = 0;
    for (char c : s) {
        if (c == '.') {
            scale = 1;
            continue;
        }
        if (scale > 0)
            v += (c - '0') * (scale /= 10);
        else
            v = v * 10 + (c - '0');
    }
    if (v > Max)
        return false;
    Out = v;
    return true;
}

// A margin: a number with in, cm, mm or pt after it (inches without), in inches.
bool ParseMargin(const std::string& s, double& Inches)
{
    const size_t unitAt = s.find_first_not_of("0123456789.");
    const std::string unit = unitAt == std::string::npos ? std::string() : LowerCase(s.substr(unitAt));
    double v = 0;
    if (!ParseDecimal(s.substr(0, unitAt), 10000, v))
        return false;
    if (unit.empty() || unit == "in" || unit == "\"")
        Inches = v;
    else if (unit == "cm")
        Inches = v / 2.54;
    else if (unit == "mm")
        Inches = v / 25.4;
    else if (unit == "pt")
        Inches = v / 72;
    else
        return false;
    return Inches <= 100;
}

// --margins=ALL or --margins=LEFT,TOP,RIGHT,BOTTOM.
bool ParseMargins(const std::string& s, double (&Margins)[4])
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t comma = s.find(',', from);
        parts.push_back(s.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    if (parts.size() != 1 && parts.size() != 4)
        return false;
    for (size_t i = 0; i < 4; ++i)
        if (!ParseMargin(parts[parts.size() == 1 ? 0 : i], Margins[i]))
            return false;
    return true;
}

bool IsHeadlessOption(const std::string& a)
{
    return a == "--help" || a == "-h" || a == "--version" || a == "--png" || a == "--pdf" || a == "--count-pages" ||
           a == "--list-printers" || a == "--printer" || a == "--copies" || a == "--pages" || a == "--page" ||
           a == "-o" || a == "--option" || a.rfind("--duplex", 0) == 0 || a == "--wait" || a.rfind("--wait=", 0) == 0 ||
           a == "--zoom" || a == "--quiet" || a.rfind("--line-draw-font", 0) == 0 || a.rfind("--line-ends", 0) == 0 ||
           a == "--embed-fonts" || a == "--compress" || a == "--pdfa" || a == "--markup" ||
           a.rfind("--encoding", 0) == 0 || IsPageSetupOption(a);
}

// A switch of the preview window other than --print.
bool IsWindowSwitch(const std::string& a)
{
    if (a == "--print")
        return false;
    const TSwitch s = ClassifyParameter(a);
    return s != TSwitch::ReportPath && s != TSwitch::Ignored;
}

// The command line is for the preview window unless it names a headless
// option. --print alone prints without windows, as /PRINT alone prints and
// ends; beside a switch of the window (--preview, --delete, /D ...) it is the
// window's print switch.
bool ForTheWindow(const std::vector<std::string>& Args)
{
    if (std::any_of(Args.begin(), Args.end(), IsHeadlessOption))
        return false;
    const bool print = std::find(Args.begin(), Args.end(), "--print") != Args.end();
    return !print || std::any_of(Args.begin(), Args.end(), IsWindowSwitch);
}

}  // namespace

namespace {

// "--zoom=150" is "--zoom 150": the options that take a value take it either
// way. (The page set-up options and those whose value follows an equals sign
// only read theirs themselves.)
std::vector<std::string> SplitValueOptions(const std::vector<std::string>& Args)
{
    static const char* const valueOptions[] = {"--png",    "--pdf",  "--printer", "--copies",
                                               "--pages",  "--page", "--zoom",    "--option"};
    std::vector<std::string> out;
    out.reserve(Args.size());
    for (const std::string& a : Args) {
        const size_t eq = a.find('=');
        if (eq != std::string::npos && a.compare(0, 2, "--") == 0 &&
            std::any_of(std::begin(valueOptions), std::end(valueOptions),
                        [&](const char* o) { return a.compare(0, eq, o) == 0; })) {
            out.push_back(a.substr(0, eq));
            out.push_back(a.substr(eq + 1));
        } else {
            out.push_back(a);
        }
    }
    return out;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& GivenArgs)
{
    const std::vector<std::string> Args = SplitValueOptions(GivenArgs);
    TCommandLine cl;
    auto fail = [&](const std::string& msg) {
        cl.Error = msg;
        return cl;
    };
    // A usage error names the value that was typed, if one was:
    // '--zoom needs a percentage from 1 to 1000, not "big"'; else the form
    // the option is written in may follow.
    auto failValue = [&](const std::string& msg, bool Typed, const std::string& Value, const std::string& Form = {}) {
        return fail(Typed ? msg + ", not \"" + Value + "\"" : msg + Form);
    };
    if (ForTheWindow(Args)) {
        // The preview window, with its switches; of the long options it
        // knows only its own.
        for (const std::string& a : Args)
            if (a.size() > 2 && a.compare(0, 2, "--") == 0 && ClassifyParameter(a) == TSwitch::Ignored)
                return fail("unknown option " + a);
        cl.Mode = TCommandLine::TMode::Gui;
        return cl;
    }
    // The first of the options that go with one mode only, as typed, for
    // the message when the mode is another.
    std::string pagesTyped, jobOptionTyped, waitTyped;
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string& a = Args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= Args.size())
                return false;
            out = Args[++i];
            return true;
        };
        // --NAME or --NAME=VALUE; Typed tells whether "=" was there.
        bool typed = false;
        std::string v;
        auto equalsForm = [&](const char* Name) {
            const size_t n = std::strlen(Name);
            if (a.compare(0, n, Name) != 0 || (a.size() > n && a[n] != '='))
                return false;
            typed = a.size() > n;
            v = typed ? a.substr(n + 1) : std::string();
            return true;
        };
        if (a == "--help" || a == "-h") {
            cl.Mode = TCommandLine::TMode::Help;
            return cl;
        }
        if (a == "--version") {
            cl.Mode = TCommandLine::TMode::Version;
            return cl;
        }
        if (a == "--png") {
            typed = value(cl.Output);
            if (!typed || cl.Output.empty())
                return failValue("--png needs the name of the picture to write", typed, cl.Output);
            cl.Mode = TCommandLine::TMode::Png;
        } else if (a == "--pdf") {
            typed = value(cl.Output);
            if (!typed || cl.Output.empty())
                return failValue("--pdf needs the name of the PDF file to write", typed, cl.Output);
            cl.Mode = TCommandLine::TMode::Pdf;
        } else if (a == "--count-pages") {
            cl.Mode = TCommandLine::TMode::CountPages;
        } else if (a == "--print") {
            cl.Mode = TCommandLine::TMode::Print;
        } else if (a == "--list-printers") {
            cl.Mode = TCommandLine::TMode::ListPrinters;
        } else if (a == "--printer") {
            typed = value(cl.Printer);
            if (!typed || cl.Printer.empty())
                return failValue("--printer needs the name of a printer", typed, cl.Printer);
        } else if (a == "-o" || a == "--option") {
            // As lp's -o: NAME=VALUE, or a NAME alone, which is NAME=true
            // (noNAME is NAME=false): -o landscape, -o fit-to-page.
            typed = value(v);
            const size_t eq = v.find('=');
            const std::string name = v.substr(0, eq);
            if (name.empty() || name.find_first_of(" \t") != std::string::npos)
                return failValue(a + " needs an option as NAME=VALUE or a NAME alone", typed, v,
                                 ", such as -o sides=two-sided-long-edge or -o landscape");
            if (eq != std::string::npos)
                cl.JobOptions.emplace_back(name, v.substr(eq + 1));
            else if (name.size() > 2 && LowerCase(name.substr(0, 2)) == "no")
                cl.JobOptions.emplace_back(name.substr(2), "false");
            else
                cl.JobOptions.emplace_back(name, "true");
            if (jobOptionTyped.empty())
                jobOptionTyped = a + " " + v;
        } else if (equalsForm("--duplex")) {
            const std::string side = UpperCase(v);
            const char* sides = side == "LONG" ? "two-sided-long-edge" : side == "SHORT" ? "two-sided-short-edge"
                                : side == "OFF"  ? "one-sided"
                                                 : nullptr;
            if (!sides)
                return failValue("--duplex needs long, short or off", typed, v, ": --duplex=long");
            cl.JobOptions.emplace_back("sides", sides);
            if (jobOptionTyped.empty())
                jobOptionTyped = a;
        } else if (equalsForm("--wait")) {
            cl.WaitSeconds = 600;
            if (typed && !ParsePositive(v, 86400, cl.WaitSeconds))
                return failValue("--wait needs a number of seconds from 1 to 86400", typed, v);
            waitTyped = a;
        } else if (a == "--copies") {
            typed = value(v);
            if (!ParsePositive(v, 999, cl.Copies))
                return failValue("--copies needs a number from 1 to 999", typed, v);
        } else if (a == "--pages") {
            typed = value(v);
            if (!ParsePageRange(v, cl.RangeFrom, cl.RangeTo))
                return failValue("--pages needs a page range such as 2-5 (pages from 1 to 1000000)", typed, v);
            pagesTyped = "--pages " + v;
        } else if (a == "--page") {
            typed = value(v);
            if (!ParsePositive(v, 1000000, cl.Page))
                return failValue("--page needs a page number from 1 to 1000000", typed, v);
        } else if (a == "--zoom") {
            typed = value(v);
            if (!ParsePositive(v, 1000, cl.Zoom))
                return failValue("--zoom needs a percentage from 1 to 1000", typed, v);
        } else if (a == "--quiet") {
            cl.Quiet = true;
        } else if (a == "--embed-fonts") {
            cl.EmbedFonts = true;
        } else if (a == "--compress") {
            cl.Compress = true;
        } else if (a == "--pdfa") {
            cl.PdfA = true;
        } else if (equalsForm("--line-draw-font")) {
            const std::string yesNo = UpperCase(v);
            if (yesNo != "YES" && yesNo != "NO")
                return failValue("--line-draw-font needs yes or no", typed, v, ": --line-draw-font=yes");
            cl.LineDrawFont = yesNo == "YES";
        } else if (a == "--markup") {
            cl.Markup = true;
        } else if (equalsForm("--encoding")) {
            tRenderer::TEncodingChoice choice;
            if (!tRenderer::EncodingChoiceOf(v, choice))
                return failValue("--encoding needs auto, utf-8, cp1252 or cp437", typed, v, ": --encoding=utf-8");
            cl.Encoding = UpperCase(v);
        } else if (IsPageSetupOption(a)) {
            // The page set-up over the header's: --NAME VALUE or --NAME=VALUE.
            const std::string name = OptionName(a);
            tRenderer::TPageSetupOverrides& o = cl.PageSetup;
            const bool flag = name == "--landscape" || name == "--paginate" || name == "--plain";
            if (flag) {
                if (name != a)
                    return fail(name + " takes no value, not \"" + a.substr(name.size() + 1) + "\"");
            } else if (name != a) {
                typed = true;
                v = a.substr(name.size() + 1);
            } else {
                typed = value(v);
            }
            int n = 0;
            if (name == "--landscape") {
                o.Landscape = true;
            } else if (name == "--paginate") {
                o.Paginate = true;
            } else if (name == "--plain") {
                o.PlainText = true;
            } else if (name == "--paper") {
                const std::string paper = UpperCase(v);
                if (!PaperNumber(paper) && !(ParsePositive(paper, 68, n)))
                    return failValue("--paper needs a paper name as the header's PAPER= takes it, such as A4, LETTER "
                                     "or LEGAL",
                                     typed, v);
                o.Paper = paper;
            } else if (name == "--cpi") {
                if (!ParseDecimal(v, 120, o.Cpi) || o.Cpi < 1)
                    return failValue("--cpi needs a number of characters an inch from 1 to 120, such as 12 or 16.67",
                                     typed, v);
            } else if (name == "--lpi") {
                if (!ParsePositive(v, 100, o.Lpi))
                    return failValue("--lpi needs a number of lines an inch from 1 to 100", typed, v);
            } else if (name == "--lines-per-page") {
                if (!ParsePositive(v, 1000, o.LinesPerPage))
                    return failValue("--lines-per-page needs a number of lines from 1 to 1000", typed, v);
            } else if (name == "--margins") {
                if (!ParseMargins(v, o.Margins))
                    return failValue("--margins needs one margin for all four sides or four (left,top,right,bottom), "
                                     "each a number with in, cm, mm or pt",
                                     typed, v, ": --margins=0.5in or --margins=1in,0.5in,1in,0.5in");
                o.HasMargins = true;
            }
            if (o.Lpi > 0 && o.LinesPerPage > 0)
                return fail("--lpi " + std::to_string(o.Lpi) + " and --lines-per-page " +
                            std::to_string(o.LinesPerPage) + " both set the line height: choose one");
        } else if (equalsForm("--line-ends")) {
            const std::optional<TLineEndChoice> ends = typed ? ParseLineEnds(v) : std::nullopt;
            if (!ends)
                return failValue("--line-ends needs auto, printer or unix", typed, v, ": --line-ends=unix");
            cl.LineEnds = ends;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return fail("unknown option " + a);
        } else if (cl.Report.empty()) {
            cl.Report = a;
        } else {
            return fail("more than one report named: " + cl.Report + " and " + a);
        }
    }
    if ((cl.Mode == TCommandLine::TMode::Png || cl.Mode == TCommandLine::TMode::CountPages ||
         cl.Mode == TCommandLine::TMode::Pdf || cl.Mode == TCommandLine::TMode::Print) &&
        cl.Report.empty())
        return fail("no report named");
    if (cl.RangeFrom > 0 && cl.Mode != TCommandLine::TMode::Pdf && cl.Mode != TCommandLine::TMode::Print)
        return fail("--pages goes with --pdf or --print; a picture takes --page N (\"" + pagesTyped + "\" was given)");
    if (!cl.JobOptions.empty() && cl.Mode != TCommandLine::TMode::Print)
        return fail("-o and --duplex go with --print (\"" + jobOptionTyped + "\" was given)");
    if (cl.WaitSeconds > 0 && cl.Mode != TCommandLine::TMode::Print)
        return fail("--wait goes with --print (\"" + waitTyped + "\" was given)");
    return cl;
}

namespace {

// Pictures a report marked for deletion go when the program ends, after the
// report was printed or written as a PDF. Counting its pages or drawing one
// of them only looks at the report: a host may do that before it prints. A
// job that failed keeps them, for the host to try again.
struct TCleanUpAtExit {
    tRenderer& R;
    bool JobDone = false;
    ~TCleanUpAtExit()
    {
        if (JobDone)
            CleanUpImageFiles(R);
    }
};

const char* ReportShown(const TCommandLine& cl)
{
    return (cl.ReportLabel.empty() ? cl.Report : cl.ReportLabel).c_str();
}

bool CheckReadable(const std::string& Report)
{
    struct stat st {};
    if (::stat(Report.c_str(), &st) != 0) {
        std::fprintf(stderr, "quillard: cannot open %s: %s\n", Report.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "quillard: %s is a folder, not a report\n", Report.c_str());
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "quillard: cannot open %s: %s\n", Report.c_str(), NotRegularReason(st.st_mode).c_str());
        return false;
    }
    return true;
}

// The pass's text below the printable bottom of its pages, a line a page on
// stderr: nothing of it is on the page. A warning, which --quiet leaves out.
void SayWhatThePassNoted(const TCommandLine& cl, const tRenderer& r)
{
    if (cl.Quiet)
        return;
    for (const std::string& name : r.MissingFontNames)
        std::fprintf(stderr, "quillard: warning: the font \"%s\" is not installed: its text is drawn in the font before it\n",
                     name.c_str());
    for (const std::string& lost : r.LostTextMessages())
        std::fprintf(stderr, "quillard: warning: %s\n", lost.c_str());
}

// Draws one page on a screen surface at Zoom percent of 96 dots per inch,
// as the preview does.
int RunPng(const TCommandLine& cl)
{
    tRenderer r;
    r.ReportIsUntrusted = cl.ReportIsUntrusted;
    r.SetupOverrides = cl.PageSetup;
    r.PlainTextChoice = Globals().PlainText;
    if (!r.OpenFile(cl.Report, nullptr))
        return 1;
    r.GetCapacities();
    r.MeasureOnScreen(96, cl.Zoom / 100.0 > 10 ? 10 : cl.Zoom / 100.0);
    if (cl.Zoom > 1000 || r.Metrics.PageWidthPx < 1 || r.Metrics.PageHeightPx < 1 ||
        static_cast<int64_t>(r.Metrics.PageWidthPx) * r.Metrics.PageHeightPx > 400LL * 1000 * 1000) {
        std::fprintf(stderr, "quillard: the page at %d%% would be %d x %d pixels; choose a smaller zoom\n", cl.Zoom,
                     r.Metrics.PageWidthPx, r.Metrics.PageHeightPx);
        return 1;
    }
    auto owned = std::make_unique<TImageCanvas>(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx, 96, 96);
    TImageCanvas* page = owned.get();
    r.UsePageSurface(std::move(owned));
    bool ok = r.RenderPages(nullptr, cl.Page, nullptr, cl.Page);
    if (!ok) {
        std::fprintf(stderr, "quillard: the page could not be drawn\n");
        return 1;
    }
    if (r.CurrentPage < cl.Page) {
        std::fprintf(stderr, "quillard: %s has %d page%s; there is no page %d\n", ReportShown(cl), r.CurrentPage,
                     r.CurrentPage == 1 ? "" : "s", cl.Page);
        return 1;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    std::string why;
    if (!writer.write(page->Image()))
        why = writer.errorString().toLocal8Bit().toStdString();
    else if (WriteNamedOutput(cl.Output, png.constData(), static_cast<size_t>(png.size()), &why)) {
        SayWhatThePassNoted(cl, r);
        return 0;
    }
    std::fprintf(stderr, "quillard: cannot write %s: %s\n", cl.Output.c_str(), why.c_str());
    return 1;
}

// Writes the report as a PDF through the PDF job; the exit status is the
// job's result code.
int RunPdf(const TCommandLine& cl)
{
    tRenderer r;
    r.ReportIsUntrusted = cl.ReportIsUntrusted;
    r.SetupOverrides = cl.PageSetup;
    r.PlainTextChoice = Globals().PlainText;
    TCleanUpAtExit cleanUp{r};
    if (!r.OpenFile(cl.Report, nullptr))
        return 1;
    if (cl.RangeFrom > 0) {
        r.Job.UsePageRange = 2;
        r.Job.RangeFrom = cl.RangeFrom;
        r.Job.RangeTo = cl.RangeTo;
    }
    r.Job.PdfEmbedFonts = cl.EmbedFonts;
    r.Job.PdfCompress = cl.Compress;
    r.Job.PdfA = cl.PdfA;
    Globals().LastErrorMessage.clear();
    const int result = r.MakePDF(nullptr, cl.Output);
    if (!cl.Quiet)
        for (const std::string& w : r.PdfFontWarnings)
            std::fprintf(stderr, "quillard: warning: %s\n", w.c_str());
    if (result != 0) {
        std::fprintf(stderr, "quillard: %s\n", Globals().LastErrorMessage.c_str());
        return result;
    }
    if (cl.RangeFrom > r.CurrentPage) {
        std::fprintf(stderr, "quillard: %s has %d page%s; there is no page %d (%s holds one empty page)\n",
                     ReportShown(cl), r.CurrentPage, r.CurrentPage == 1 ? "" : "s", cl.RangeFrom,
                     cl.Output == "-" ? "standard output" : cl.Output.c_str());
        return 1;
    }
    if (r.PdfUnmappedCharacters > 0 && !cl.Quiet)
        std::fprintf(stderr,
                     "quillard: warning: %zu character%s of %s the PDF's standard fonts cannot show %s written as \"?\"\n",
                     r.PdfUnmappedCharacters, r.PdfUnmappedCharacters == 1 ? "" : "s", ReportShown(cl),
                     r.PdfUnmappedCharacters == 1 ? "is" : "are");
    if (r.PdfMissingGlyphs > 0 && !cl.Quiet)
        std::fprintf(stderr,
                     "quillard: warning: %zu character%s of %s no installed font has %s drawn as %s (and "
                     "copied as %s)\n",
                     r.PdfMissingGlyphs, r.PdfMissingGlyphs == 1 ? "" : "s", ReportShown(cl),
                     r.PdfMissingGlyphs == 1 ? "is" : "are",
                     cl.PdfA ? "the replacement character" : "the font's missing-glyph box",
                     r.PdfMissingGlyphs == 1 ? "itself" : "themselves");
    cleanUp.JobDone = true;
    SayWhatThePassNoted(cl, r);
    return 0;
}

int RunCountPages(const TCommandLine& cl)
{
    tRenderer r;
    r.ReportIsUntrusted = cl.ReportIsUntrusted;
    r.SetupOverrides = cl.PageSetup;
    r.PlainTextChoice = Globals().PlainText;
    if (!r.OpenFile(cl.Report, nullptr))
        return 1;
    r.GetCapacities();
    r.MeasureOnScreen(96, r.GetScale());
    if (!r.CountPass()) {
        std::fprintf(stderr, "quillard: the report could not be read to its end\n");
        return 1;
    }
    std::printf("%d\n", r.CurrentPage);
    SayWhatThePassNoted(cl, r);
    return 0;
}

int RunListPrinters(TCupsPrinterLayer& Layer)
{
    const std::vector<std::string> names = Layer.Printers();
    if (names.empty()) {
        std::fprintf(stderr, "quillard: no printers: %s\n", Layer.LastError().c_str());
        return 1;
    }
    for (int i = 0; i < static_cast<int>(names.size()); ++i)
        std::printf("%s%s\n", names[i].c_str(), i == Layer.DefaultIndex() ? " (default)" : "");
    return 0;
}

// Prints the report as the print job does, one job per copy; the jobs handed
// to the spooler are listed on standard output.
int RunPrint(const TCommandLine& cl, TCupsPrinterLayer& Layer)
{
    if (Layer.Count() == 0) {
        std::fprintf(stderr, "quillard: no printer to print on: %s\n", Layer.LastError().c_str());
        return 1;
    }
    if (cl.Printer.empty() && Layer.DefaultIndex() < 0) {
        // As lp: without a default nobody said which printer is meant.
        std::fprintf(stderr, "quillard: no default printer; name one with --printer\n");
        return 1;
    }
    if (!cl.Printer.empty()) {
        const int index = Layer.IndexOf(cl.Printer);
        if (index < 0) {
            std::fprintf(stderr, "quillard: there is no printer named %s\n", cl.Printer.c_str());
            return 1;
        }
        Layer.SetPrinterIndex(index);
    }
    // The paper and orientation a job option asks for are the layout's, as
    // --paper and --landscape: the report is laid out on them, and the job
    // is sent with them (a job option alone would put a page laid out on
    // another sheet onto this one).
    tRenderer::TPageSetupOverrides setup = cl.PageSetup;
    std::vector<std::pair<std::string, std::string>> jobOptions;
    for (const auto& [name, value] : cl.JobOptions) {
        const std::string v = LowerCase(Trim(value));
        if (name == "media" || name == "PageSize" || name == "page-size") {
            int paper = 0;
            for (size_t at = 0; at <= value.size() && paper == 0;) {
                const size_t comma = value.find(',', at);
                paper = PaperOfMedia(Trim(value.substr(at, comma == std::string::npos ? std::string::npos : comma - at)));
                if (comma == std::string::npos)
                    break;
                at = comma + 1;
            }
            if (paper == 0) {
                std::fprintf(stderr, "quillard: -o %s=%s names no paper a report can be laid out on; name one such as A4, "
                                     "Letter or iso_a5_148x210mm\n",
                             name.c_str(), value.c_str());
                return 2;
            }
            setup.Paper = std::to_string(paper);
            // The job names the sheet as the printer lists it; a source or
            // type named with it goes on with the job as given.
            if (name == "media" && value.find(',') != std::string::npos)
                jobOptions.emplace_back(name, value);
        } else if (name == "orientation-requested" || name == "landscape" || name == "portrait") {
            const bool landscape = name == "landscape" ? v.empty() || v == "true" || v == "yes" || v == "on"
                                   : name == "portrait" ? !(v.empty() || v == "true" || v == "yes" || v == "on")
                                                        : v == "4" || v == "landscape";
            const bool portrait = name == "orientation-requested" ? v == "3" || v == "portrait" : !landscape;
            if (!landscape && !portrait) {
                std::fprintf(stderr, "quillard: -o %s=%s: a report is laid out in portrait (3) or landscape (4); the "
                                     "reversed orientations are not offered\n",
                             name.c_str(), value.c_str());
                return 2;
            }
            setup.Landscape = landscape;
            setup.Portrait = portrait;
        } else {
            jobOptions.emplace_back(name, value);
        }
    }
    Layer.SetJobOptions(jobOptions);
    tRenderer r;
    r.ReportIsUntrusted = cl.ReportIsUntrusted;
    r.SetupOverrides = setup;
    r.PlainTextChoice = Globals().PlainText;
    TCleanUpAtExit cleanUp{r};
    if (!r.OpenFile(cl.Report, nullptr))
        return 1;
    r.GetCapacities();
    if (cl.RangeFrom > 0) {
        // A range past the end would print an empty page.
        const int pages = r.CountPages();
        if (pages < cl.RangeFrom) {
            std::fprintf(stderr, "quillard: %s has %d page%s; there is no page %d\n", ReportShown(cl), pages,
                         pages == 1 ? "" : "s", cl.RangeFrom);
            return 1;
        }
        r.Job.UsePageRange = 2;
        r.Job.RangeFrom = cl.RangeFrom;
        r.Job.RangeTo = cl.RangeTo;
    }
    r.Job.Copies = cl.Copies;
    const bool printed = r.Print(nullptr);
    for (const std::string& job : Layer.SubmittedJobs())
        std::printf("%s\n", job.c_str());
    if (!printed) {
        std::fprintf(stderr, "quillard: the report was not printed\n");
        return 1;
    }
    cleanUp.JobDone = true;
    SayWhatThePassNoted(cl, r);
    if (cl.WaitSeconds > 0) {
        // The jobs were handed over; whether the printer printed them is
        // the spooler's to say.
        // One time limit for all of them (each copy is a job).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(cl.WaitSeconds);
        int failed = 0;
        for (const std::string& job : Layer.SubmittedJobs()) {
            const std::string outcome = Layer.WaitForJob(job, deadline, cl.WaitSeconds);
            if (outcome.empty())
                continue;
            std::fprintf(stderr, "quillard: the job %s %s\n", job.c_str(), outcome.c_str());
            ++failed;
        }
        if (failed)
            return 1;
    }
    return 0;
}

// A report named by a web address, fetched into a temporary file that goes
// when the program ends.
struct TFetchedReport {
    std::string Path;
    ~TFetchedReport()
    {
        if (!Path.empty())
            ::unlink(Path.c_str());
    }
};

bool FetchReport(const std::string& Url, TFetchedReport& Fetched)
{
    const TProxySetting proxy = ReadProxySetting();
    if (!proxy.Error.empty()) {
        std::fprintf(stderr, "quillard: %s\n", proxy.Error.c_str());
        return false;
    }
    THttpClient client;
    client.UserAgent = "QX3";
    if (proxy.Use) {
        client.ProxyServer = proxy.Server;
        client.ProxyPort = proxy.Port;
    }
    Fetched.Path = MakeTempFileName();
    if (Fetched.Path.empty()) {
        std::fprintf(stderr, "quillard: no temporary file could be made for the report (check TEMP)\n");
        return false;
    }
    client.LocalFile = Fetched.Path;
    client.URL = Url;
    client.DeadlineMs = ReadFetchTimeLimit() * 1000;
    client.OnError = [&](int Code, const std::string& Text) {
        std::fprintf(stderr, "quillard: cannot fetch %s: error %d: %s\n", Url.c_str(), Code, Text.c_str());
    };
    if (!client.Get()) {
        Fetched.Path.clear();  // the client left no file
        return false;
    }
    return true;
}

// A report read from standard input ("-"): the page passes read a report
// more than once, so it is copied first into a file of a private folder in
// $TMPDIR (else /tmp), readable by this user alone; both go when the program
// ends. The folder holds nothing else, so the report's pictures are looked
// for in the working folder, as they would be beside a report there. A
// report of more than MaxStandardInputBytes fails the run before it can
// fill the disk.
struct TSpooledReport {
    std::string Folder, Path;
    ~TSpooledReport()
    {
        if (!Path.empty())
            ::unlink(Path.c_str());
        if (!Folder.empty())
            ::rmdir(Folder.c_str());
    }
};

bool SpoolStandardInput(TSpooledReport& Spooled)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillard-stdin.XXXXXX";
    if (!::mkdtemp(folder.data())) {
        std::fprintf(stderr, "quillard: no temporary file could be made for the report from standard input: %s\n",
                     std::strerror(errno));
        return false;
    }
    Spooled.Folder = folder;
    const std::string path = folder + "/standard-input.txt";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "quillard: no temporary file could be made for the report from standard input: %s\n",
                     std::strerror(errno));
        return false;
    }
    Spooled.Path = path;
    const TCopyResult copied = CopyUpTo(STDIN_FILENO, fd, MaxStandardInputBytes);
    const int closed = ::close(fd) == 0 ? 0 : errno;
    switch (copied.End) {
    case TCopyResult::TEnd::ReadFailed:
        std::fprintf(stderr, "quillard: cannot read the report from standard input: %s\n", std::strerror(copied.Err));
        return false;
    case TCopyResult::TEnd::WriteFailed:
        std::fprintf(stderr, "quillard: cannot keep the report from standard input: %s\n", std::strerror(copied.Err));
        return false;
    case TCopyResult::TEnd::TooLarge:
        std::fprintf(stderr, "quillard: the report from standard input is larger than %s, the most taken from it\n",
                     MaxStandardInputText);
        return false;
    case TCopyResult::TEnd::Done:
        break;
    }
    if (closed != 0) {
        std::fprintf(stderr, "quillard: cannot keep the report from standard input: %s\n", std::strerror(closed));
        return false;
    }
    return true;
}

// The engine's messages in a run without windows go to stderr as they come;
// with --quiet they are held back and shown only when the run fails, where
// they may say why.
class TCommandLineServices : public IUserServices {
public:
    bool Quiet = false;

    TMsgResult MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons) override
    {
        if (!Quiet)
            return FHeadless.MessageBox(Text, Caption, Buttons);
        FHeld.emplace_back(Text, Caption);
        return Buttons == TMsgButtons::YesNo || Buttons == TMsgButtons::YesNoCancel ? TMsgResult::Yes : TMsgResult::OK;
    }
    void ProcessMessages() override {}
    void Beep() override {}

    void ShowHeld()
    {
        for (const auto& [text, caption] : FHeld)
            FHeadless.MessageBox(text, caption, TMsgButtons::OK);
        FHeld.clear();
    }

private:
    THeadlessServices FHeadless;
    std::vector<std::pair<std::string, std::string>> FHeld;
};

// Qt's notes about its own folders ("QStandardPaths: XDG_RUNTIME_DIR not
// set, defaulting to ...") say nothing about the report and are dropped;
// every other message of Qt goes where it always went.
QtMessageHandler gQtHandler = nullptr;

void CommandLineQtMessage(QtMsgType Type, const QMessageLogContext& Context, const QString& Text)
{
    if (Text.startsWith(QLatin1String("QStandardPaths: ")))
        return;
    if (gQtHandler)
        gQtHandler(Type, Context, Text);
}

// The one line that says there is no printer (the engine's own message is
// for a window), for a run whose pages are laid out on a printer's metrics:
// --png and --count-pages take the default printer's page, and without one
// the assumed one. A PDF is laid out on the whole sheet of the report's
// paper whatever the printers are: --pdf says nothing. --quiet leaves it out.
void SayNoPrinter(const TCommandLine& cl, TCupsPrinterLayer& Layer)
{
    // The engine is not to say it again.
    Globals().PrinterWarningShown = true;
    if (cl.Quiet || cl.Mode == TCommandLine::TMode::Pdf)
        return;
    std::string why = Layer.LastError();
    while (!why.empty() && (why.back() == '.' || why.back() == '\n' || why.back() == '\r'))
        why.pop_back();
    std::fprintf(stderr, "quillard: warning: no printer%s%s%s: pages are laid out on the assumed printer metrics "
                         "(Letter, 300 dpi)\n",
                 why.empty() ? "" : " (", why.c_str(), why.empty() ? "" : ")");
}

}  // namespace

int RunCommandLine(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    SetProgramArguments(args);
    TCommandLine cl = ParseCommandLine(args);
    if (!cl.Error.empty()) {
        std::fprintf(stderr, "quillard: %s\nTry 'quillard --help' for more information.\n", cl.Error.c_str());
        return 2;
    }
    switch (cl.Mode) {
    case TCommandLine::TMode::Help:
        std::fputs(Usage, stdout);
        return 0;
    case TCommandLine::TMode::Version:
        std::printf("quillard %s\n", QUILLARD_VERSION);
        return 0;
    case TCommandLine::TMode::Gui:
        return RunGui(argv[0], args);
    case TCommandLine::TMode::None:
        std::fputs(Usage, stderr);
        return 2;
    default:
        break;
    }
    // Qt's notes about its own folders stay out of the output.
    gQtHandler = qInstallMessageHandler(CommandLineQtMessage);
    struct TRestoreQtHandler {
        ~TRestoreQtHandler() { qInstallMessageHandler(gQtHandler); }
    } restoreQtHandler;
    TCommandLineServices services;
    services.Quiet = cl.Quiet;
    // A message the report makes again and again is said once, and how
    // often at the end.
    TOnceServices once(services);
    SetUserServices(&once);
    struct TRestoreServices {
        ~TRestoreServices() { SetUserServices(nullptr); }
    } restoreServices;

    // Printers are those of the print spooler.
    TCupsPrinterLayer printers;
    SetPrinterLayer(&printers);
    struct TRestore {
        ~TRestore() { SetPrinterLayer(nullptr); }
    } restore;
    if (cl.Mode == TCommandLine::TMode::ListPrinters)
        return RunListPrinters(printers);

    // Drawing on bitmaps needs no display: the offscreen platform serves
    // whether or not one is around.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qargc = 1;
    char* qargv[] = {argv[0], nullptr};
    QGuiApplication app(qargc, qargv);
    InstallFontSubstitutions();
    // The user's settings as the window reads them; the option goes first.
    ApplyDrawingSettings(ReadUserSettings());
    if (cl.LineDrawFont) {
        Globals().UseLineDrawFont = *cl.LineDrawFont;
        Globals().LineDrawChosen = true;
    }
    if (!cl.Encoding.empty())
        Globals().ReportEncoding = cl.Encoding;
    if (cl.LineEnds)
        Globals().LineEnds = *cl.LineEnds;
    if (cl.Markup)
        Globals().PlainText = TPlainTextChoice::Never;
    // "-" as the PDF or the picture is standard output.
    SetDashMeansStandardOutput(true);
    if (cl.Mode != TCommandLine::TMode::Print && printers.Count() == 0)
        SayNoPrinter(cl, printers);

    TSpooledReport spooled;
    if (cl.Report == "-") {
        if (!SpoolStandardInput(spooled))
            return 1;
        cl.Report = spooled.Path;
        cl.ReportLabel = "standard input";
    }
    TFetchedReport fetched;
    if (IsHttpAddress(cl.Report)) {
        if (!FetchReport(cl.Report, fetched))
            return 1;
        cl.Report = fetched.Path;
        cl.ReportIsUntrusted = true;
    }
    if (!CheckReadable(cl.Report))
        return 1;

    int code = 0;
    if (cl.Mode == TCommandLine::TMode::Png)
        code = RunPng(cl);
    else if (cl.Mode == TCommandLine::TMode::Pdf)
        code = RunPdf(cl);
    else if (cl.Mode == TCommandLine::TMode::Print)
        code = RunPrint(cl, printers);
    else
        code = RunCountPages(cl);
    once.SayRepeats();
    if (code != 0)
        services.ShowHeld();
    return code;
}

}  // namespace quillard
