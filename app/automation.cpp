#include "app/automation.h"

#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "app/progresswindow.h"
#include "app/qtservices.h"
#include "app/switches.h"
#include "base/bytefile.h"
#include "base/strings.h"
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/services.h"
#include "platform/program.h"
#include "platform/settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <iterator>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillard {

namespace {

// Writes Bytes into the file Path, which exists and is empty; false, saying
// why, when it cannot.
bool WriteWhole(const std::string& Path, const std::string& Bytes, std::string* Reason)
{
    const int fd = ::open(Path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        SayWhy(Reason, std::strerror(errno));
        return false;
    }
    if (const int err = WriteFully(fd, Bytes.data(), Bytes.size())) {
        SayWhy(Reason, std::strerror(err));
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        SayWhy(Reason, std::strerror(errno));
        return false;
    }
    return true;
}

// Window geometry is asked of a normal window: a maximised one is restored
// first, so that the values a client sets stay.
void Unmaximise(TPreviewWindow& W)
{
    if (W.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        W.setWindowState(W.windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
}

// The working area of the screen the window is on (the primary screen's
// while it has none).
QRect WorkArea(const TPreviewWindow& W)
{
    const QScreen* screen = W.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    return area.isValid() ? area : QRect(0, 0, 640, 480);
}

// One direction of the window's frame: Start and Length are made to lie
// within the area from AreaStart of AreaLength, Length no less than Least
// (nor than the area). The value a client set (the start when StartSet,
// else the length) is kept as far as the area allows; the other gives way.
void FitAxis(long long& Start, long long& Length, long long AreaStart, long long AreaLength, long long Least,
             bool StartSet)
{
    Least = std::min(Least, AreaLength);
    if (StartSet) {
        Start = std::clamp(Start, AreaStart, AreaStart + AreaLength - Least);
        Length = std::clamp(Length, Least, AreaStart + AreaLength - Start);
    } else {
        Length = std::clamp(Length, Least, AreaLength);
        Start = std::clamp(Start, AreaStart, AreaStart + AreaLength - Length);
    }
}

// A page or zoom a client sets is taken without its sign, as the page and
// zoom boxes take the digits of a number typed into them.
int WithoutSign(int Value) { return Value >= 0 ? Value : Value == INT_MIN ? INT_MAX : -Value; }

// Refuses a text of Size bytes for What when it is over Limit.
void RefuseOverLimit(const std::string& What, size_t Size, size_t Limit)
{
    if (Size <= Limit)
        return;
    Globals().LastErrorMessage = OverLimitMessage(What, Size, Limit);
    throw TAutomationError(Globals().LastErrorMessage);
}

}  // namespace

std::string OverLimitMessage(const std::string& What, size_t Size, size_t Limit)
{
    std::string m = What + " of " + std::to_string(Size) + " bytes is refused: the limit is " +
                    std::to_string(Limit) + " bytes.";
    if (Limit == MaxReportTextBytes)
        m += " A larger report is passed with LoadReportFd, or written to a file and loaded with LoadFile.";
    return m;
}

// ---------------------------------------------------------------------------
// Printing and the printer

namespace {

// Whether a report was named while the window was hidden and is not laid
// out yet (the renderer still holds the one before, or none).
bool NamedReportWaits(TPreviewWindow& W)
{
    const std::string& named = W.Session().ReportFileName();
    const tRenderer* r = W.Session().Renderer();
    // A web address waits for its fetch (which names the file it fetched).
    return !named.empty() && (IsHttpAddress(named) || !r || r->FileName != named);
}

}  // namespace

void TAutomationCommands::Print()
{
    W.EnsureEngine();
    if (W.Session().Renderer()->FileName.empty() || NamedReportWaits(W)) {
        // A report named while the window was hidden loads now.
        if (W.Session().ReportFileName().empty() || !W.LoadFile())
            throw TAutomationError("There is no report to print.", TFailureKind::NoReport);
    }
    W.DoPrint();
    if (W.Session().PrintFailed()) {
        if (Globals().LastErrorMessage.empty())
            Globals().LastErrorMessage = "The report was not printed.";
        throw TAutomationError(Globals().LastErrorMessage);
    }
}

int TAutomationCommands::NumberOfCopies()
{
    W.EnsureEngine();
    return W.PrintOptionsWindow->Copies();
}

void TAutomationCommands::SetNumberOfCopies(int Value)
{
    W.EnsureEngine();
    if (Value >= 1 && Value <= 99)
        W.PrintOptionsWindow->SetCopies(Value);
}

namespace {

// The spooler's queues as they are now: a queue added or removed since the
// list was read counts as it is. (Not while a job prints: its printer stays.)
void ReadPrintersAgain()
{
    TPrinterLayer& printers = Printer();
    if (!printers.Printing())
        printers.FollowQueues();
}

}  // namespace

std::string TAutomationCommands::PrinterName()
{
    ReadPrintersAgain();
    const int index = Printer().PrinterIndex();
    const std::vector<std::string> names = Printer().Printers();
    return index >= 0 && index < static_cast<int>(names.size()) ? names[static_cast<size_t>(index)] : std::string();
}

int TAutomationCommands::PrinterIndex()
{
    ReadPrintersAgain();
    return Printer().PrinterIndex();
}

void TAutomationCommands::SetPrinterIndex(int Value)
{
    ReadPrintersAgain();
    if (Value >= 0 && Value < Printer().Count()) {
        Printer().SetPrinterIndex(Value);
        // The report's paper and orientation go with it to the new printer.
        if (tRenderer* r = W.Session().Renderer(); r && !r->FileName.empty())
            r->ApplySetupToPrinter();
    }
}

std::string TAutomationCommands::Printers(int Index)
{
    ReadPrintersAgain();
    const std::vector<std::string> names = Printer().Printers();
    return Index >= 0 && Index < static_cast<int>(names.size()) ? names[static_cast<size_t>(Index)] : std::string();
}

int TAutomationCommands::PrinterCount()
{
    ReadPrintersAgain();
    return Printer().Count();
}

std::string TAutomationCommands::PrintTitle()
{
    W.EnsureEngine();
    return W.Session().Renderer()->Job.Title;
}

void TAutomationCommands::SetPrintTitle(const std::string& Value)
{
    RefuseOverLimit("PrintTitle", Value.size(), MaxTitleBytes);
    W.EnsureEngine();
    W.Session().Renderer()->Job.Title = Value;
}

int TAutomationCommands::PrinterPageWidth() { return Printer().PageWidth(); }
int TAutomationCommands::PrinterPageHeight() { return Printer().PageHeight(); }

double TAutomationCommands::PrinterPageWidth_IN()
{
    W.EnsureEngine();
    return W.Session().Renderer()->Metrics.PrintableWidth;
}

double TAutomationCommands::PrinterPageHeight_IN()
{
    W.EnsureEngine();
    return W.Session().Renderer()->Metrics.PrintableHeight;
}

int TAutomationCommands::PrinterNonPrintableX()
{
    W.EnsureEngine();
    return static_cast<int>(std::lround(W.Session().Renderer()->Metrics.OffsetXPx));
}

int TAutomationCommands::PrinterNonPrintableY()
{
    W.EnsureEngine();
    return static_cast<int>(std::lround(W.Session().Renderer()->Metrics.OffsetYPx));
}

double TAutomationCommands::PrinterNonPrintableX_IN()
{
    W.EnsureEngine();
    return W.Session().Renderer()->Metrics.LeftOffset;
}

double TAutomationCommands::PrinterNonPrintableY_IN()
{
    W.EnsureEngine();
    return W.Session().Renderer()->Metrics.TopOffset;
}

bool TAutomationCommands::CloseAfterPrint() { return W.CloseAfterPrint; }
void TAutomationCommands::SetCloseAfterPrint(bool Value) { W.CloseAfterPrint = Value; }

bool TAutomationCommands::PrintEnabled() { return W.PrintCommandsEnabled(); }

void TAutomationCommands::SetPrintEnabled(bool Value) { W.SetPrintCommandsEnabled(Value); }

// ---------------------------------------------------------------------------
// The window

void TAutomationCommands::Close() { W.QuitQuillard(); }

bool TAutomationCommands::Visible() { return W.isVisible(); }

void TAutomationCommands::SetVisible(bool Value)
{
    if (!Value) {
        W.hide();
        return;
    }
    W.show();
    W.raise();
    W.activateWindow();
    // The first showing runs the start-up (and loads the report) before
    // the client's next call; a window shown before loads a report named
    // while it was hidden.
    if (W.FirstActivation)
        W.FormActivate();
    else if (NamedReportWaits(W))
        W.LoadFile();
}

int TAutomationCommands::LoadNamedReport(int ResultWhenWaiting)
{
    if (W.isVisible() && !W.FirstActivation) {
        if (W.LoadFile())
            return 1;
        // The report shown before is gone: no pages count.
        W.Session().SetPageCount(0);
        return 0;
    }
    // The report loads when the window shows. The report laid out before
    // is no longer the window's: no pages are counted until then.
    if (!W.FirstActivation)
        W.Session().SetPageCount(0);
    return ResultWhenWaiting;
}

int TAutomationCommands::LoadFile(const std::string& FileName)
{
    RefuseOverLimit("LoadFile's file name", FileName.size(), MaxFileNameBytes);
    const bool now = W.isVisible() && !W.FirstActivation;
    if (now && IsHttpAddress(FileName)) {
        // The report shown stays until the fetched one has arrived, which
        // then takes its place (its files, a report handed over included,
        // go then), and stays when the fetch fails.
        const std::string before = W.Session().ReportFileName();
        const bool loaded = W.LoadFromWeb(FileName);
        // A fetch that ended before anything was loaded has not been told.
        if (!loaded && W.Session().ReportFileName() == before && W.AutomationServer)
            W.AutomationServer->LoadEnded(false);
        return loaded ? 1 : 0;
    }
    if (!IsHttpAddress(FileName)) {
        // A report that cannot be opened leaves the one shown (or named) as
        // it is.
        TByteFile probe;
        try {
            probe.Open(FileName);
        } catch (const std::exception& e) {
            NoteOpenFailure(FileName);
            ShowMessage("Error opening \"" + FileName + "\"\r\n" + e.what(), "Cannot Open File");
            if (W.AutomationServer)
                W.AutomationServer->LoadEnded(false);
            return 0;
        }
    }
    // The report shown so far goes as when another report is opened: a
    // report that was to be deleted at the end (a text handed over by
    // LoadReport, or one named with "/D") is deleted now, and the new one
    // is the client's own file, never deleted.
    W.CleanUpFiles();
    W.Session().SetDeleteReportOnExit(false);
    W.Session().SetReportFileName(FileName);
    return LoadNamedReport(0);
}

int TAutomationCommands::LoadReport(const std::string& Text)
{
    RefuseOverLimit("LoadReport's report text", Text.size(), MaxReportTextBytes);
    const std::string name = MakeTempFileName();
    if (name.empty())
        throw TAutomationError("No temporary file could be made for the report.");
    std::string why;
    if (!WriteWhole(name, Text, &why)) {
        std::remove(name.c_str());
        throw TAutomationError("The report could not be written to " + name + ": " + why);
    }
    return TakeHandedOverReport(name);
}

int TAutomationCommands::TakeHandedOverReport(const std::string& Name)
{
    W.CleanUpFiles();
    W.Session().SetReportFileName(Name);
    W.Session().SetDeleteReportOnExit(true);
    // Whoever sent the text may not act on this computer's files through
    // it (its pictures marked for deletion stay), as with a fetched report.
    W.Session().SetUntrustedReportFile(Name);
    return LoadNamedReport(1);
}

namespace {

bool GReceivingReport = false;
bool GStopReceiving = false;
long long GReceivedBytes = 0, GExpectedBytes = 0;

// Copies what the descriptor Fd gives into the file Path (existing, empty)
// while messages run: a regular file from its start, without moving its
// offset, anything else to its end. Stops when Ended() says so, or past
// DeadlineMs. False, saying why (and what kind of failure), when it cannot.
bool CopyFromDescriptor(int Fd, const std::string& Path, int DeadlineMs, const std::function<bool()>& Ended,
                        std::string* Reason, TFailureKind* Kind)
{
    struct stat st;
    if (::fstat(Fd, &st) != 0) {
        SayWhy(Reason, std::string("the file descriptor cannot be used: ") + std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        SayWhy(Reason, "the file descriptor is a folder's");
        return false;
    }
    const bool regular = S_ISREG(st.st_mode);
    GExpectedBytes = regular ? st.st_size : 0;
    GReceivedBytes = 0;
    const int out = ::open(Path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        SayWhy(Reason, "cannot write " + Path + ": " + std::strerror(errno));
        return false;
    }
    struct TClose {
        int Fd;
        ~TClose() { ::close(Fd); }
    } closeOut{out};
    using TClock = std::chrono::steady_clock;
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(DeadlineMs);
    TClock::time_point lastPump = TClock::now();
    std::vector<char> buffer(1 << 20);
    long long total = 0;
    for (;;) {
        if (Ended()) {
            SayWhy(Reason, "the reading was stopped (Quillard was closed)");
            return false;
        }
        const TClock::time_point now = TClock::now();
        if (now >= deadline) {
            *Kind = TFailureKind::Timeout;
            SayWhy(Reason, "the report did not arrive within " + std::to_string(DeadlineMs / 1000) +
                               " seconds (the \"Fetch Time Limit\")");
            return false;
        }
        if (now - lastPump >= std::chrono::milliseconds(20)) {
            UserServices().ProcessMessages();
            lastPump = TClock::now();
        }
        if (!regular) {
            pollfd p{Fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, 20);
            if (ready < 0 && errno != EINTR) {
                SayWhy(Reason, std::string("cannot wait for the report: ") + std::strerror(errno));
                return false;
            }
            if (ready <= 0)
                continue;
        }
        const ssize_t n = regular ? ::pread(Fd, buffer.data(), buffer.size(), static_cast<off_t>(total))
                                  : ::read(Fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            SayWhy(Reason, std::string("the report cannot be read: ") + std::strerror(errno));
            return false;
        }
        if (n == 0)
            return true;
        total += n;
        GReceivedBytes = total;
        if (total > MaxReportFdBytes) {
            SayWhy(Reason, "the report is larger than " + std::to_string(MaxReportFdBytes) + " bytes");
            return false;
        }
        if (const int err = WriteFully(out, buffer.data(), static_cast<size_t>(n))) {
            SayWhy(Reason, "cannot write " + Path + ": " + std::strerror(err));
            return false;
        }
    }
}

}  // namespace

bool TAutomationCommands::ReceivingReport() { return GReceivingReport; }

bool TAutomationCommands::ReceivedSoFar(int& Done, int& Total)
{
    if (!GReceivingReport)
        return false;
    Done = static_cast<int>(std::min<long long>(GReceivedBytes, INT_MAX));
    Total = static_cast<int>(std::min<long long>(GExpectedBytes, INT_MAX));
    return true;
}

void TAutomationCommands::StopReceiving()
{
    if (GReceivingReport)
        GStopReceiving = true;
}

int TAutomationCommands::LoadReportFd(int Fd)
{
    const std::string name = MakeTempFileName();
    if (name.empty())
        throw TAutomationError("No temporary file could be made for the report.");
    std::string why;
    TFailureKind kind = TFailureKind::None;
    bool received = false;
    {
        GReceivingReport = true;
        GStopReceiving = false;
        struct TReset {
            ~TReset() { GReceivingReport = GStopReceiving = false; }
        } reset;
        try {
            received = CopyFromDescriptor(Fd, name, ReadFetchTimeLimit() * 1000,
                                          [this] { return GStopReceiving || W.Session().Terminated(); }, &why, &kind);
        } catch (...) {
            ::unlink(name.c_str());
            throw;
        }
    }
    if (!received) {
        ::unlink(name.c_str());
        throw TAutomationError("LoadReportFd: " + why, kind);
    }
    return TakeHandedOverReport(name);
}

int TAutomationCommands::Pages()
{
    // The count was made from the report as it was then: one cut short,
    // written again or replaced on disk since is counted again (the window
    // shows the new count too). Never within a pass or job, nor inside
    // another client's call, which keep the count they have.
    TPreviewSession& session = W.Session();
    const tRenderer* r = session.Renderer();
    if (session.PageCount() > 0 && r && !W.FirstActivation && W.ClientCallDepth <= 1 && !session.Counting() &&
        !r->Rendering && !r->Printing && !r->MakingPdf && r->FileName == session.ReportFileName() &&
        session.ReportChangedSinceCount()) {
        const int count = W.CountPages();
        if (!session.Terminated())
            session.SetPageCount(count);
    }
    return session.PageCount();
}
int TAutomationCommands::CurrentPage() { return W.Session().CurrentPage(); }
void TAutomationCommands::SetCurrentPage(int Value) { W.Session().SetCurrentPage(WithoutSign(Value)); }

int TAutomationCommands::Zoom() { return W.Session().Zoom(); }

void TAutomationCommands::SetZoom(int Value) { W.Session().SetZoom(WithoutSign(Value)); }

int TAutomationCommands::Top() { return W.pos().y(); }
int TAutomationCommands::Left() { return W.pos().x(); }
int TAutomationCommands::Height() { return W.frameGeometry().height(); }
int TAutomationCommands::Width() { return W.frameGeometry().width(); }

void TAutomationCommands::PlaceFrame(long long Left, long long Top, long long Width, long long Height, bool KeepLeft,
                            bool KeepTop)
{
    const QRect area = WorkArea(W);
    FitAxis(Left, Width, area.left(), area.width(), MinWindowWidth, KeepLeft);
    FitAxis(Top, Height, area.top(), area.height(), MinWindowHeight, KeepTop);
    // The frame around the client area (none before the window was shown).
    const int frameWidth = std::max(0, W.frameGeometry().width() - W.width());
    const int frameHeight = std::max(0, W.frameGeometry().height() - W.height());
    W.resize(std::max(1, static_cast<int>(Width) - frameWidth), std::max(1, static_cast<int>(Height) - frameHeight));
    W.move(static_cast<int>(Left), static_cast<int>(Top));
}

void TAutomationCommands::SetTop(int Value)
{
    Unmaximise(W);
    PlaceFrame(Left(), Value, Width(), Height(), false, true);
}

void TAutomationCommands::SetLeft(int Value)
{
    Unmaximise(W);
    PlaceFrame(Value, Top(), Width(), Height(), true, false);
}

void TAutomationCommands::SetHeight(int Value)
{
    Unmaximise(W);
    PlaceFrame(Left(), Top(), Width(), Value, false, false);
}

void TAutomationCommands::SetWidth(int Value)
{
    Unmaximise(W);
    PlaceFrame(Left(), Top(), Value, Height(), false, false);
}

int TAutomationCommands::VerticalScrollPosition() { return W.ScrollPosition(Qt::Vertical); }
int TAutomationCommands::HorizontalScrollPosition() { return W.ScrollPosition(Qt::Horizontal); }
void TAutomationCommands::SetVerticalScrollPosition(int Value) { W.SetScrollPosition(Qt::Vertical, Value); }
void TAutomationCommands::SetHorizontalScrollPosition(int Value) { W.SetScrollPosition(Qt::Horizontal, Value); }

// ---------------------------------------------------------------------------
// Files and the rest

std::string TAutomationCommands::Version() { return ShortVersion(FileVersionValue("FileVersion")); }

int TAutomationCommands::SaveAsPDF(const std::string& Path, const std::string& Folder)
{
    RefuseOverLimit("SaveAsPDF's file name", Path.size(), MaxFileNameBytes);
    int result = 100;
    // At most the first 255 characters of the name the client gave.
    const std::string name = PathFromQ(PathToQ(Path).left(255));
    const std::string path = Folder.empty() ? name : Folder + "/" + name;
    const bool wasVisible = W.isVisible();
    try {
        SetVisible(true);
        W.EnsureEngine();
        // A report handed over while the window was hidden is not loaded yet:
        // the PDF is of that report, never of the one before.
        if (NamedReportWaits(W) && !W.LoadFile()) {
            Globals().LastErrorMessage = "MakePDF: the report " + W.Session().ReportFileName() + " could not be loaded";
            if (Globals().LastFailure == TFailureKind::None)
                Globals().LastFailure = TFailureKind::NoReport;
            if (!wasVisible)
                W.hide();
            return 4;
        }
        result = W.Session().Renderer()->MakePDF(W.FreshJobGauge(), path);
        W.SyncGauges();
    } catch (const std::exception& e) {
        Globals().LastErrorMessage = e.what();
        result = 2;
    }
    // The job drew on a surface of its own: the preview page is drawn again.
    if (!W.PageBitmap && !W.Session().Terminated() && !W.FirstActivation)
        W.Render();
    if (!wasVisible)
        W.hide();
    return result;
}

std::string TAutomationCommands::LastErrorMessage() { return Globals().LastErrorMessage; }

std::string TAutomationCommands::LastErrorName()
{
    return Globals().LastErrorMessage.empty() ? std::string() : FailureName(Globals().LastFailure);
}

std::string FailureName(TFailureKind Kind)
{
    // By TFailureKind, None first.
    static const char* const Suffixes[] = {"", ".NoReport", ".NotFound", ".Unreachable", ".Timeout", ".NoPrinter",
                                           ".PrinterRejected"};
    const size_t k = static_cast<size_t>(Kind);
    return std::string("com.merrowgate.Quillard.Error") + (k < std::size(Suffixes) ? Suffixes[k] : "");
}

std::string QuillardXSpanText(int Index) { return "This would be the text in span " + std::to_string(Index); }

}  // namespace quillard
