#include "app/cupsfilter.h"

#include "base/bytefile.h"
#include "base/strings.h"
#include "engine/globals.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "platform/settings.h"
#include "surfaces/fontlist.h"
#include "surfaces/namedoutput.h"
#include "surfaces/pdfcanvas.h"

#include <QGuiApplication>
#include <QPageSize>
#include <QSizeF>
#include <cups/cups.h>
#include <cups/ppd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <csignal>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <fcntl.h>

namespace quillard {

namespace {

// One line for CUPS: the engine's line breaks become spaces.
std::string OneLine(std::string Text)
{
    for (char& c : Text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return Trim(Text);
}

// The engine's messages during the job: warnings in the job's log.
class TFilterServices : public IUserServices {
public:
    TMsgResult MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons) override
    {
        std::fprintf(stderr, "WARNING: %s%s%s\n", OneLine(Caption).c_str(), Caption.empty() ? "" : ": ",
                     OneLine(Text).c_str());
        return Buttons == TMsgButtons::YesNo || Buttons == TMsgButtons::YesNoCancel ? TMsgResult::No
                                                                                      : TMsgResult::OK;
    }
    void ProcessMessages() override {}
    void Beep() override {}
};

// The queue as the filter sees it: no device of its own, the job's paper
// and orientation until the report's header asks for others.
class TFilterPrinterLayer : public TPrinterLayer {
public:
    explicit TFilterPrinterLayer(const TFilterJob& Job) : FOrientation(Job.Landscape ? 1 : 0)
    {
        if (Job.Paper > 0)
            FPaperSize = static_cast<int16_t>(Job.Paper);
    }
    bool CanOrientation() const override { return true; }
    int Orientation() const override { return FOrientation; }
    void SetOrientation(int Orientation) override { FOrientation = Orientation == 1 ? 1 : 0; }

private:
    int FOrientation = 0;
};

// A folder of the job's own under TMPDIR (the job's temporary folder that
// CUPS gives), holding the report read from standard input and whatever Qt
// and fontconfig would keep in the user's folders; removed at the end.
struct TJobFolder {
    std::string Path;
    ~TJobFolder()
    {
        if (!Path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
    }
};

// A job cancelled ends without leaving its folder: cupsd stops a filter
// with SIGTERM, a terminal with SIGINT or SIGHUP. The signals are blocked in
// every thread (the ones Qt starts later inherit the mask) and one thread
// of the filter's own waits for them with sigwait. It runs as an ordinary
// thread, not inside a handler, so it may remove the folder with whatever
// it holds (the report's copy, Qt's and fontconfig's files); then it ends
// the filter by the signal itself, as the signal's default action would
// have: whoever sent it sees the filter ended by its own signal.
sigset_t CancelSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, sig);
    return set;
}

// Before the job's folder is made: a signal that comes in between stays
// pending until the watcher takes it.
void BlockCancelSignals()
{
    const sigset_t set = CancelSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void RemoveFolderWhenCancelled(const std::string& Folder)
{
    // When no thread can be started the signals are unblocked again: they
    // then end the filter at once, leaving the folder behind.
    auto watch = [Folder] {
        const sigset_t set = CancelSignals();
        int sig = 0;
        if (::sigwait(&set, &sig) != 0)
            return;
        // The job's other threads run on meanwhile and may add a file as a
        // round removes the folder: a few rounds.
        for (int round = 0; round < 5; ++round) {
            std::error_code failed;
            std::filesystem::remove_all(Folder, failed);
            if (!failed)
                break;
        }
        std::signal(sig, SIG_DFL);
        sigset_t taken;
        sigemptyset(&taken);
        sigaddset(&taken, sig);
        ::pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
        ::pthread_kill(::pthread_self(), sig);
        ::_exit(1);
    };
    try {
        std::thread(watch).detach();
    } catch (const std::system_error&) {
        const sigset_t set = CancelSignals();
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

bool CopyStandardInput(const std::string& Path, std::string& Why)
{
    const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        Why = std::strerror(errno);
        return false;
    }
    const TCopyResult copied = CopyUpTo(STDIN_FILENO, fd, MaxStandardInputBytes);
    bool ok = copied.End == TCopyResult::TEnd::Done;
    if (copied.End == TCopyResult::TEnd::ReadFailed)
        Why = std::string("reading standard input: ") + std::strerror(copied.Err);
    else if (copied.End == TCopyResult::TEnd::WriteFailed)
        Why = std::string("writing the job's copy of the report: ") + std::strerror(copied.Err);
    else if (copied.End == TCopyResult::TEnd::TooLarge)
        Why = std::string("standard input holds more than ") + MaxStandardInputText + ", the most taken from it";
    if (::close(fd) != 0 && ok) {
        Why = std::strerror(errno);
        ok = false;
    }
    return ok;
}

// A job's backstops, whatever its report does: CPU time, memory and the
// size of any file it writes (the spooled PDF included). Past the time the
// system ends the filter, past the memory an allocation fails, past the
// size a write fails; either way the job fails and prints nothing. A
// limit set lower by whoever started the filter stays.
constexpr rlim_t JobCpuSeconds = 600;
[[maybe_unused]] constexpr rlim_t JobAddressSpaceBytes = rlim_t{4} << 30;
constexpr rlim_t JobFileBytes = rlim_t{2} << 30;

void LowerLimit(int Resource, rlim_t Value)
{
    rlimit l {};
    if (::getrlimit(Resource, &l) != 0)
        return;
    if (l.rlim_max != RLIM_INFINITY && l.rlim_max < Value)
        Value = l.rlim_max;
    if (l.rlim_cur == RLIM_INFINITY || l.rlim_cur > Value) {
        l.rlim_cur = Value;
        ::setrlimit(Resource, &l);
    }
}

void SetJobLimits()
{
    LowerLimit(RLIMIT_CPU, JobCpuSeconds);
    LowerLimit(RLIMIT_FSIZE, JobFileBytes);
    // A write past the size is a write error, not the end of the program.
    std::signal(SIGXFSZ, SIG_IGN);
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLARD_ADDRESS_SANITIZER 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(QUILLARD_ADDRESS_SANITIZER)
    // (The address sanitizer reserves its shadow memory up front: under it
    // the address space cannot be limited.)
    LowerLimit(RLIMIT_AS, JobAddressSpaceBytes);
#endif
}

int Fail(const std::string& Why)
{
    std::fprintf(stderr, "ERROR: %s\n", OneLine(Why).c_str());
    return 1;
}

// The unprintable margins (inches) the PPD gives the sheet of DmPaper (its
// ImageableArea); false when it has no such sheet.
bool PpdMargins(const std::string& PpdFile, int DmPaper, double& Left, double& Top, double& Right, double& Bottom)
{
    int32_t width = 0, length = 0;
    if (PpdFile.empty() || !PaperSizeInPoints(DmPaper, width, length))
        return false;
    bool found = false;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (ppd_file_t* ppd = ppdOpenFile(PpdFile.c_str())) {
        for (int i = 0; i < ppd->num_sizes && !found; ++i) {
            const ppd_size_t& s = ppd->sizes[i];
            if (std::fabs(s.width - width) > 2 || std::fabs(s.length - length) > 2 || s.right <= s.left ||
                s.top <= s.bottom)
                continue;
            Left = std::max(0.0, s.left / 72.0);
            Bottom = std::max(0.0, s.bottom / 72.0);
            Right = std::max(0.0, (s.width - s.right) / 72.0);
            Top = std::max(0.0, (s.length - s.top) / 72.0);
            found = true;
        }
        ppdClose(ppd);
    }
#pragma GCC diagnostic pop
    return found;
}

// A whole number from 1 to Max, digits only.
bool WholeNumberUpTo(const std::string& s, int Max, int& Out)
{
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long v = std::strtol(s.c_str(), nullptr, 10);
    if (v < 1 || v > Max)
        return false;
    Out = static_cast<int>(v);
    return true;
}

// A number such as 12 or 16.67 from Min to Max (no sign, no exponent), read
// the same in every locale.
bool DecimalBetween(const std::string& s, double Min, double Max, double& Out)
{
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(s.begin(), s.end(), '.') > 1 || s.find_first_of("0123456789") == std::string::npos)
        return false;
    double v = 0, scale = 0;
    for (char c : s) {
        if (c == '.')
            scale = 1;
        else if (scale > 0)
            v += (c - '0') * (scale /= 10);
        else
            v = v * 10 + (c - '0');
    }
    if (v < Min || v > Max)
        return false;
    Out = v;
    return true;
}

// true, yes or on; false, no or off (CUPS's own words for a switch, "-o
// plain" and "-o noplain" among them).
std::optional<bool> SwitchValue(const std::string& Value)
{
    const std::string v = LowerCase(Value);
    if (v == "true" || v == "yes" || v == "on")
        return true;
    if (v == "false" || v == "no" || v == "off")
        return false;
    return std::nullopt;
}

// The layout options of a job (see ReadFilterJob); Option gives an option's
// value, nullptr when the job does not set it.
template <typename TOption>
void ReadLayoutOptions(TFilterJob& Job, TOption Option)
{
    auto refuse = [&](const char* Name, const char* Value, const std::string& Wanted) {
        Job.Warnings.push_back(std::string("the job option ") + Name + "=" + Value + " is not " + Wanted +
                               "; the option is left out");
    };
    if (const char* v = Option("plain")) {
        const std::optional<bool> on = SwitchValue(v);
        if (on)
            Job.PlainText = *on ? TPlainTextChoice::Always : TPlainTextChoice::Never;
        else if (LowerCase(v) == "auto")
            Job.PlainText = TPlainTextChoice::Auto;
        else
            refuse("plain", v, "true, false or auto");
    }
    if (const char* v = Option("paginate")) {
        if (const std::optional<bool> on = SwitchValue(v))
            Job.Paginate = *on;
        else
            refuse("paginate", v, "true or false");
    }
    if (const char* v = Option("cpi"); v && !DecimalBetween(v, 1, 120, Job.Cpi))
        refuse("cpi", v, "a number of characters an inch from 1 to 120, such as 12 or 16.67");
    if (const char* v = Option("lpi"); v && !WholeNumberUpTo(v, 100, Job.Lpi))
        refuse("lpi", v, "a number of lines an inch from 1 to 100");
    if (const char* v = Option("lines-per-page"); v && !WholeNumberUpTo(v, 1000, Job.LinesPerPage))
        refuse("lines-per-page", v, "a number of lines from 1 to 1000");
    if (Job.Lpi > 0 && Job.LinesPerPage > 0) {
        Job.Warnings.push_back("the job options lpi=" + std::to_string(Job.Lpi) + " and lines-per-page=" +
                               std::to_string(Job.LinesPerPage) +
                               " both set the line height; lines-per-page is taken");
        Job.Lpi = 0;
    }
    if (const char* v = Option("encoding"); v && !tRenderer::EncodingChoiceOf(v, Job.Encoding)) {
        Job.Encoding = tRenderer::TEncodingChoice::Auto;
        refuse("encoding", v, "auto, utf-8, cp1252 or cp437");
    }
    if (const char* v = Option("line-ends")) {
        if (const std::optional<TLineEndChoice> ends = ParseLineEnds(v))
            Job.LineEnds = *ends;
        else
            refuse("line-ends", v, "auto, printer or unix");
    }
}

// The engine's word for what a pass lost names the command line's options:
// a job's log names the job options that do the same.
std::string InJobOptions(std::string Message)
{
    Message = ReplaceAll(Message, "--plain", "the job option plain=true");
    return ReplaceAll(Message, "--paginate", "paginate=true");
}

}  // namespace

int PaperOfMedia(const std::string& Media)
{
    if (Media.empty())
        return 0;
    // The names CUPS and PPDs use, in hundredths of millimetres.
    pwg_media_t* m = pwgMediaForPWG(Media.c_str());
    if (!m)
        m = pwgMediaForPPD(Media.c_str());
    if (!m)
        m = pwgMediaForLegacy(Media.c_str());
    if (!m || m->width <= 0 || m->length <= 0)
        return 0;
    const QPageSize size(QSizeF(m->width / 100.0, m->length / 100.0), QPageSize::Millimeter, QString(),
                         QPageSize::FuzzyMatch);
    const int id = size.windowsId();
    return id > 0 && id < DMPAPER_USER ? id : 0;
}

TFilterJob ReadFilterJob(const std::string& Title, const std::string& Options, const std::string& PpdFile)
{
    TFilterJob job;
    job.Title = Title;
    cups_option_t* options = nullptr;
    const int count = cupsParseOptions(Options.c_str(), 0, &options);
    auto option = [&](const char* Name) {
        const char* v = cupsGetOption(Name, count, options);
        return std::string(v ? v : "");
    };

    std::string media = option("PageSize");
    if (media.empty())
        media = option("page-size");
    if (media.empty()) {
        // "media" may list a size, a type and a source: the first one that
        // is a size.
        std::string list = option("media");
        size_t at = 0;
        while (at <= list.size() && media.empty()) {
            const size_t comma = list.find(',', at);
            const std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
            if (PaperOfMedia(item) > 0)
                media = item;
            if (comma == std::string::npos)
                break;
            at = comma + 1;
        }
        if (media.empty() && !list.empty())
            job.Warnings.push_back("media \"" + list + "\" is no paper Quillard knows; the PPD's default is used");
    }
    if (media.empty() && !PpdFile.empty()) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (ppd_file_t* ppd = ppdOpenFile(PpdFile.c_str())) {
            ppdMarkDefaults(ppd);
            if (ppd_choice_t* choice = ppdFindMarkedChoice(ppd, "PageSize"))
                media = choice->choice;
            ppdClose(ppd);
        } else {
            job.Warnings.push_back("the queue's PPD " + PpdFile + " cannot be read");
        }
#pragma GCC diagnostic pop
    }
    job.Paper = PaperOfMedia(media);
    if (!media.empty() && job.Paper == 0)
        job.Warnings.push_back("paper \"" + media + "\" is no paper Quillard knows; Letter is used");

    const std::string orientation = option("orientation-requested");
    if (orientation == "4" || orientation == "5")
        job.Landscape = true;
    const std::string landscape = option("landscape");
    if (cupsGetOption("landscape", count, options) && landscape != "false" && landscape != "no" && landscape != "off")
        job.Landscape = true;
    ReadLayoutOptions(job, [&](const char* Name) { return cupsGetOption(Name, count, options); });
    cupsFreeOptions(count, options);
    return job;
}

int RunCupsFilter(int argc, char** argv)
{
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: quillardtopdf job-id user title copies options [file]\n");
        return 1;
    }
    SetJobLimits();
    const char* ppd = std::getenv("PPD");
    const TFilterJob job = ReadFilterJob(argv[3], argv[5], ppd ? ppd : "");
    for (const std::string& w : job.Warnings)
        std::fprintf(stderr, "WARNING: %s\n", OneLine(w).c_str());

    // Everything the job writes stays in its temporary folder, and goes with
    // the job, cancelled or not.
    BlockCancelSignals();
    const char* tmp = std::getenv("TMPDIR");
    TJobFolder folder;
    folder.Path = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillardtopdf.XXXXXX";
    if (!::mkdtemp(folder.Path.data())) {
        const std::string why = std::strerror(errno);
        folder.Path.clear();
        return Fail("no folder for the job could be made in the temporary folder: " + why);
    }
    RemoveFolderWhenCancelled(folder.Path);
    for (const char* name : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "HOME"})
        ::setenv(name, folder.Path.c_str(), 1);

    std::string report;
    if (argc == 7) {
        report = argv[6];
    } else {
        report = folder.Path + "/report.txt";
        std::string why;
        if (!CopyStandardInput(report, why))
            return Fail("the report could not be read: " + why);
    }
    struct stat st {};
    if (::stat(report.c_str(), &st) != 0)
        return Fail("the report " + report + " cannot be read: " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return Fail("the report " + report + " is not a regular file");
    if (st.st_size == 0)
        return Fail("the report is empty: there is nothing to print");

    // The job's log says each message once, with how often it came.
    TFilterServices log;
    TOnceServices services(log);
    SetUserServices(&services);
    struct TRestoreServices {
        TOnceServices& Services;
        ~TRestoreServices()
        {
            Services.SayRepeats();
            SetUserServices(nullptr);
        }
    } restoreServices{services};
    TFilterPrinterLayer queue(job);
    SetPrinterLayer(&queue);
    // The queue has no device here to be missed: nothing to warn of.
    Globals().PrinterWarningShown = true;
    struct TRestorePrinter {
        ~TRestorePrinter() { SetPrinterLayer(nullptr); }
    } restorePrinter;

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qargc = 1;
    char* qargv[] = {argv[0], nullptr};
    QGuiApplication app(qargc, qargv);
    InstallFontSubstitutions();
    SetDashMeansStandardOutput(true);

    std::fprintf(stderr, "INFO: Laying out the report\n");
    tRenderer r;
    r.Job.Title = job.Title;
    // A job comes from whoever may print here: its report reads no file of
    // the server but pictures in the folder the administrator names, and
    // deletes nothing.
    r.ReportIsUntrusted = true;
    r.ReportFromNetwork = true;
    if (const char* pictures = std::getenv("QUILLARD_PICTURE_FOLDER"))
        r.NetworkPictureFolder = pictures;
    // The job's options over the report's own layout; without them a text
    // file with no tag and no carriage return prints as plain text (the
    // renderer started with the program's choice, which the filter has no
    // setting for).
    r.PlainTextChoice = job.PlainText;
    r.SetupOverrides.Paginate = job.Paginate;
    r.SetupOverrides.Cpi = job.Cpi;
    r.SetupOverrides.Lpi = job.Lpi;
    r.SetupOverrides.LinesPerPage = job.LinesPerPage;
    r.EncodingChoice = job.Encoding;
    r.LineEndChoice = job.LineEnds;
    if (!r.OpenFile(report, nullptr))
        return Fail("the report could not be opened: " + Globals().LastErrorMessage);
    // The page is the printable area of the queue's sheet, as a printer
    // lays it out (the header has chosen the sheet by now).
    PpdMargins(ppd ? ppd : "", queue.PaperSize(), r.Job.PdfMarginLeft, r.Job.PdfMarginTop, r.Job.PdfMarginRight,
               r.Job.PdfMarginBottom);
    Globals().LastErrorMessage.clear();
    const int result = r.MakePDF(nullptr, "-");
    if (result != 0)
        return Fail("the PDF could not be written: " + Globals().LastErrorMessage);
    std::fflush(stdout);
    for (const std::string& lost : r.LostTextMessages())
        std::fprintf(stderr, "WARNING: %s\n", OneLine(InJobOptions(lost)).c_str());
    std::fprintf(stderr, "ATTR: job-impressions=%d\n", r.CurrentPage);
    std::fprintf(stderr, "INFO: The report's %d page%s laid out\n", r.CurrentPage, r.CurrentPage == 1 ? "" : "s");
    return 0;
}

}  // namespace quillard
