// Files the user names are written where the name leads: through symbolic
// links (the final file replaced whole with its permissions, the links kept),
// at the end of a dangling link, into a FIFO once the output is whole, "-" on
// the command line as standard output and standard input; a link loop, a
// folder, a FIFO nobody reads are refused with the reason and nothing is
// written. The same cases for the routine, the PDF job, the automation's
// SaveAsPDF and the command line's --pdf and --png.
#include "tests/pdftestutil.h"
#include "tests/windowtest.h"

#include "app/automation.h"
#include "surfaces/namedoutput.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillard::test {
namespace {

const std::string Report = "{CPI10}Page one of the named output\r\n\fPage two\r\n";

TToolRun Quillard(const QStringList& Args, const QProcessEnvironment& Extra = {}, const QByteArray& Input = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* k : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(k);
    env.insert("SOURCE_DATE_EPOCH", "1700000000");
    env.insert("CUPS_SERVER", "/nonexistent/quillard-no-cups.sock");
    for (const QString& k : Extra.keys())
        env.insert(k, Extra.value(k));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QUILLARD_BINARY, Args);
    if (!p.waitForStarted(30000))
        return {-1, "", "not started"};
    p.write(Input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    TToolRun r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput().toStdString();
    r.Err = p.readAllStandardError().toStdString();
    return r;
}

bool IsPdf(const std::string& B) { return B.rfind("%PDF-1.4\r\n", 0) == 0 && B.size() > 7 && B.substr(B.size() - 7) == "%%EOF\r\n"; }
bool IsPng(const std::string& B) { return B.rfind("\x89PNG\r\n\x1a\n", 0) == 0 && B.find("IEND") != std::string::npos; }

mode_t ModeOf(const std::string& Path)
{
    struct stat st {};
    return ::lstat(Path.c_str(), &st) == 0 ? st.st_mode : 0;
}

mode_t DefaultNewFileMode()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// Reads a FIFO from a thread of its own until its writer closes it. Opened
// without waiting, so a writer finds a reader at once; a minute without a
// writer ends it.
class TFifoReader {
public:
    explicit TFifoReader(const std::string& Path) : FFd(::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        FThread = std::thread([this] {
            const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
            while (std::chrono::steady_clock::now() < end) {
                pollfd p{FFd, POLLIN, 0};
                if (::poll(&p, 1, 200) <= 0)
                    continue;
                char block[65536];
                const ssize_t n = ::read(FFd, block, sizeof block);
                if (n > 0)
                    FBytes.append(block, static_cast<size_t>(n));
                else if (n == 0 || errno != EAGAIN)
                    break;
            }
        });
    }
    ~TFifoReader()
    {
        if (FThread.joinable())
            FThread.join();
        ::close(FFd);
    }
    std::string Take()
    {
        FThread.join();
        return FBytes;
    }

private:
    int FFd;
    std::string FBytes;
    std::thread FThread;
};

class NamedOutputTest : public WindowTest {
public:
    std::string ReportFile() { return Write(Report); }
    // The automation object of a window made as the bus would start it,
    // with the report loaded.
    TAutomationCommands& Automation()
    {
        if (!X) {
            MakeWindows({"-AUTOMATION"});
            W->NobodyToAsk = true;
            X = std::make_unique<TAutomationCommands>(*W);
            X->LoadReport(Report);
        }
        return *X;
    }

protected:
    std::unique_ptr<TAutomationCommands> X;
    void TearDown() override
    {
        SetFifoReaderWaitMs(5000);
        X.reset();
        WindowTest::TearDown();
    }
    // What is in the folder and below besides the report, sorted: no
    // temporary file is left.
    QStringList Entries() const
    {
        QStringList e;
        QDirIterator it(Dir.path(), QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString name = QDir(Dir.path()).relativeFilePath(it.next());
            if (name != "REPORT.TXT" && name != "temp" && !name.startsWith("temp/"))
                e << name;
        }
        e.sort();
        return e;
    }
};

// ---- the writers --------------------------------------------------------------

struct TWriter {
    const char* Name;
    // Writes to Target; "" when that worked, else what was said.
    std::function<std::string(NamedOutputTest&, const std::string& Target)> Write;
    std::function<bool(const std::string&)> IsOutput;
};

std::string ByRoutine(NamedOutputTest&, const std::string& Target)
{
    const std::string bytes(600 * 1024, 'q');  // more than one piece
    std::string why;
    return WriteNamedOutput(Target, bytes.data(), bytes.size(), &why) ? "" : why.empty() ? "(no reason)" : why;
}

std::string ByPdfJob(NamedOutputTest& T, const std::string& Target)
{
    tRenderer r;
    r.OpenFile(T.ReportFile(), nullptr);
    Globals().LastErrorMessage.clear();
    return r.MakePDF(nullptr, Target) == 0 ? "" : Globals().LastErrorMessage;
}

std::string BySaveAsPdf(NamedOutputTest& T, const std::string& Target)
{
    TAutomationCommands& x = T.Automation();
    return x.SaveAsPDF(Target) == 0 ? "" : x.LastErrorMessage();
}

std::string ByCommandLine(const char* Option, NamedOutputTest& T, const std::string& Target)
{
    const TToolRun r = Quillard({Option, QString::fromStdString(Target), "--quiet", QString::fromStdString(T.ReportFile())});
    return r.Code == 0 ? "" : r.Err.empty() ? "(nothing said)" : r.Err;
}

void PrintTo(const TWriter& W, std::ostream* Os) { *Os << W.Name; }

const TWriter Writers[] = {
    {"Routine", ByRoutine, [](const std::string& B) { return B == std::string(600 * 1024, 'q'); }},
    {"PdfJob", ByPdfJob, IsPdf},
    {"SaveAsPDF", BySaveAsPdf, IsPdf},
    {"CommandLinePdf", [](NamedOutputTest& T, const std::string& P) { return ByCommandLine("--pdf", T, P); }, IsPdf},
    {"CommandLinePng", [](NamedOutputTest& T, const std::string& P) { return ByCommandLine("--png", T, P); }, IsPng},
};

// ---- what the name leads to ------------------------------------------------------

struct TTarget {
    const char* Name;
    std::function<void(const std::string& Dir)> Make;  // makes "out" and what it leads to
    const char* Written;                               // the file that gets the output; null: refused
    const char* Reason;                                // said when refused
    mode_t Mode;                                       // of the written file; 0: the default for new files
    bool AsRoot = false;                               // gives files to another user
};

void PrintTo(const TTarget& T, std::ostream* Os) { *Os << T.Name; }

void Link(const std::string& Target, const std::string& Name) { ASSERT_EQ(::symlink(Target.c_str(), Name.c_str()), 0); }

// As long as a name in a folder may be.
const std::string LongestName(NAME_MAX, 'n');

// Makes the folder sticky and writable by anybody, as /tmp, with the given
// owner, and "out" in it a link to "real" (made when Existing) owned by
// LinkOwner.
void PlantLink(const std::string& D, uid_t FolderOwner, uid_t LinkOwner, bool Existing)
{
    ASSERT_EQ(::chmod(D.c_str(), 01777), 0);
    ASSERT_EQ(::chown(D.c_str(), FolderOwner, static_cast<gid_t>(-1)), 0);
    if (Existing) {
        std::ofstream(D + "/real") << "old content";
        ::chmod((D + "/real").c_str(), 0640);
    }
    Link("real", D + "/out");
    ASSERT_EQ(::lchown((D + "/out").c_str(), LinkOwner, LinkOwner), 0);
}
constexpr uid_t Stranger = 12345;

const TTarget Targets[] = {
    {"NewFile", [](const std::string&) {}, "out", nullptr, 0},
    {"LinkToFile",
     [](const std::string& D) {
         std::ofstream(D + "/real") << "old content";
         ::chmod((D + "/real").c_str(), 0640);
         Link("real", D + "/out");
     },
     "real", nullptr, 0640},
    {"ChainOfLinksAcrossFolders",
     [](const std::string& D) {
         ::mkdir((D + "/sub").c_str(), 0700);
         std::ofstream(D + "/sub/real") << "old content";
         ::chmod((D + "/sub/real").c_str(), 0604);
         Link("real", D + "/sub/second");
         Link(D + "/sub/second", D + "/out");
     },
     "sub/real", nullptr, 0604},
    {"DanglingLink", [](const std::string& D) { Link("made", D + "/out"); }, "made", nullptr, 0},
    {"DanglingLinkIntoAMissingFolder", [](const std::string& D) { Link("no/such/made", D + "/out"); }, nullptr,
     "No such file or directory", 0},
    {"LinkLoop",
     [](const std::string& D) {
         Link("loop", D + "/out");
         Link("out", D + "/loop");
     },
     nullptr, "Too many levels of symbolic links", 0},
    {"Folder", [](const std::string& D) { ::mkdir((D + "/out").c_str(), 0700); }, nullptr, "Is a directory", 0},
    // The file beside the target is named apart from the target's name.
    {"LinkToANewFileOfTheLongestName", [](const std::string& D) { Link(LongestName, D + "/out"); },
     LongestName.c_str(), nullptr, 0},
    {"LinkToAFileOfTheLongestName",
     [](const std::string& D) {
         std::ofstream(D + "/" + LongestName) << "old content";
         ::chmod((D + "/" + LongestName).c_str(), 0604);
         Link(LongestName, D + "/out");
     },
     LongestName.c_str(), nullptr, 0604},
    // A link in a sticky folder anybody may write is followed only when it
    // is the writer's or the folder owner's.
    {"OwnLinkInAStickyFolder", [](const std::string& D) { PlantLink(D, 0, 0, true); }, "real", nullptr, 0640, true},
    {"FolderOwnersLinkInAStickyFolder", [](const std::string& D) { PlantLink(D, Stranger, Stranger, true); }, "real",
     nullptr, 0640, true},
    {"StrangersLinkInAStickyFolder", [](const std::string& D) { PlantLink(D, 0, Stranger, true); }, nullptr,
     "Permission denied", 0, true},
    {"StrangersDanglingLinkInAStickyFolder", [](const std::string& D) { PlantLink(D, 0, Stranger, false); }, nullptr,
     "Permission denied", 0, true},
};

class NamedOutputTarget : public NamedOutputTest,
                          public ::testing::WithParamInterface<std::tuple<TWriter, TTarget>> {};

TEST_P(NamedOutputTarget, LandsWhereTheNameLeadsOrIsRefusedSayingWhy)
{
    const auto& [writer, target] = GetParam();
    if (target.AsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "gives a file to another user";
    const std::string dir = Dir.path().toStdString();
    target.Make(dir);
    if (HasFatalFailure())
        return;
    const QStringList before = Entries();
    const bool wasLink = S_ISLNK(ModeOf(dir + "/out"));
    const std::string said = writer.Write(*this, dir + "/out");
    if (!target.Written) {
        EXPECT_NE(said.find(target.Reason), std::string::npos) << said;
        EXPECT_EQ(Entries(), before);  // nothing made, nothing left
        if (FileExists(dir + "/real")) {
            EXPECT_EQ(ReadBytes(dir + "/real"), "old content");
        }
        return;
    }
    ASSERT_EQ(said, "");
    const std::string written = dir + "/" + target.Written;
    EXPECT_TRUE(writer.IsOutput(ReadBytes(written)));
    EXPECT_TRUE(S_ISREG(ModeOf(written)));
    EXPECT_EQ(ModeOf(written) & 07777, target.Mode ? target.Mode : DefaultNewFileMode());
    EXPECT_EQ(S_ISLNK(ModeOf(dir + "/out")), wasLink);  // a link stays a link
    QStringList after = before;
    if (!after.contains(QString::fromLatin1(target.Written)))
        after << QString::fromLatin1(target.Written);
    after.sort();
    EXPECT_EQ(Entries(), after);
}

INSTANTIATE_TEST_SUITE_P(Outputs, NamedOutputTarget, ::testing::Combine(::testing::ValuesIn(Writers), ::testing::ValuesIn(Targets)),
                         [](const auto& Info) {
                             return std::string(std::get<0>(Info.param).Name) + "_" + std::get<1>(Info.param).Name;
                         });

// ---- FIFOs -------------------------------------------------------------------------

class NamedOutputFifo : public NamedOutputTest, public ::testing::WithParamInterface<TWriter> {
protected:
    std::string MakeFifo()
    {
        const std::string path = Path("fifo");
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        return path;
    }
};

TEST_P(NamedOutputFifo, ReaderReceivesTheWholeOutputThroughALink)
{
    const std::string fifo = MakeFifo();
    Link("fifo", Path("out"));
    TFifoReader reader(fifo);
    ASSERT_EQ(GetParam().Write(*this, Path("out")), "");
    const std::string got = reader.Take();
    EXPECT_TRUE(GetParam().IsOutput(got)) << got.size() << " bytes";
    EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));
    if (IsPdf(got)) {
        std::ofstream(Path("got.pdf"), std::ios::binary) << got;
        EXPECT_TRUE(PassesQpdfCheck(Path("got.pdf")));
    }
}

TEST_P(NamedOutputFifo, WithoutAReaderSaysSoInsteadOfWaiting)
{
    const std::string fifo = MakeFifo();
    SetFifoReaderWaitMs(300);  // the command line waits its own 5 seconds
    const std::string said = GetParam().Write(*this, fifo);
    EXPECT_NE(said.find("No program reads from the FIFO"), std::string::npos) << said;
    EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));
}

INSTANTIATE_TEST_SUITE_P(Outputs, NamedOutputFifo, ::testing::ValuesIn(Writers),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// A reader that goes away early makes the write fail with the reason; the
// program is not ended by SIGPIPE.
TEST_F(NamedOutputTest, ReaderThatGoesAwaySaysBrokenPipe)
{
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::thread quitter([reader] {
        pollfd p{reader, POLLIN, 0};
        ::poll(&p, 1, 60000);
        char c;
        (void)::read(reader, &c, 1);
        ::close(reader);
    });
    const std::string bytes(600 * 1024, 'q');  // more than the pipe holds
    std::string why;
    EXPECT_FALSE(WriteNamedOutput(fifo, bytes.data(), bytes.size(), &why));
    quitter.join();
    EXPECT_EQ(why, std::strerror(EPIPE));
}

// While a FIFO's reader is slow the wait hook runs (the program's events go
// on): a reader that takes the output within it gets all of it, and a hook
// that says stop ends the writing with a reason.
TEST_F(NamedOutputTest, ASlowReaderRunsTheWaitHookWhichCanStopTheWriting)
{
    struct Case {
        const char* Name;
        bool Read;  // the hook reads what is there
        int StopAfter;  // calls after which the hook says stop (0: never)
    };
    for (const Case& c : {Case{"ReadInTheHook", true, 0}, Case{"Stopped", false, 3}}) {
        SCOPED_TRACE(c.Name);
        const std::string fifo = Path(std::string("fifo-") + c.Name);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        std::string received;
        int calls = 0;
        SetStreamWaitHook([&](int StalledMs) {
            EXPECT_GE(StalledMs, 0);
            ++calls;
            char block[65536];
            for (ssize_t n; c.Read && (n = ::read(reader, block, sizeof block)) > 0;)
                received.append(block, size_t(n));
            return c.StopAfter == 0 || calls < c.StopAfter;
        });
        const std::string bytes(600 * 1024, 'q');  // more than the pipe holds
        std::string why;
        const bool written = WriteNamedOutput(fifo, bytes.data(), bytes.size(), &why);
        SetStreamWaitHook(nullptr);
        char block[65536];
        for (ssize_t n; (n = ::read(reader, block, sizeof block)) > 0;)
            received.append(block, size_t(n));
        ::close(reader);
        EXPECT_GT(calls, 0);
        if (c.StopAfter == 0) {
            EXPECT_TRUE(written) << why;
            EXPECT_EQ(received, bytes);
        } else {
            EXPECT_FALSE(written);
            EXPECT_EQ(calls, c.StopAfter);
            EXPECT_EQ(why, "The writing was stopped");
        }
    }
}

// A terminal (a pseudo-terminal of the test's own) and a socket are written in
// place.
TEST_F(NamedOutputTest, TerminalAndSocketAreWrittenInPlace)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    Link(terminal, Path("tty"));
    std::string why;
    ASSERT_TRUE(WriteNamedOutput(Path("tty"), "to the terminal", 15, &why)) << why;
    std::string got;
    for (pollfd p{master, POLLIN, 0}; got.size() < 15 && ::poll(&p, 1, 10000) > 0;) {
        char block[64];
        const ssize_t n = ::read(master, block, sizeof block);
        if (n <= 0)
            break;
        got.append(block, static_cast<size_t>(n));
    }
    ::close(master);
    EXPECT_EQ(got, "to the terminal");

    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = Path("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::string received;
    std::thread server([&] {
        const int c = ::accept(listener, nullptr, nullptr);
        char block[65536];
        for (ssize_t n; (n = ::read(c, block, sizeof block)) > 0;)
            received.append(block, static_cast<size_t>(n));
        ::close(c);
    });
    const std::string bytes(600 * 1024, 's');
    const bool sent = WriteNamedOutput(socketPath, bytes.data(), bytes.size(), &why);
    if (!sent)
        ::shutdown(listener, SHUT_RDWR);  // the server stops waiting
    server.join();
    EXPECT_TRUE(sent) << why;
    ::close(listener);
    EXPECT_EQ(received, bytes);
}

// A job that fails never opens the FIFO: its reader sees no writer and no byte.
TEST_F(NamedOutputTest, FailedPdfJobWritesNothingIntoAFifo)
{
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    tRenderer r;
    r.OpenFile(Write(Report + "\fPage three\r\n"), nullptr);
    Services.OnPump = [&] {
        if (r.CurrentPage >= 2)
            r.Abort();
    };
    EXPECT_EQ(r.MakePDF(nullptr, fifo), 4);
    Services.OnPump = nullptr;
    pollfd p{reader, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "a writer came: " << p.revents;
    char c;
    EXPECT_LE(::read(reader, &c, 1), 0);
    ::close(reader);
}

// The disk fills while the output is written (a limit on file sizes, with
// SIGXFSZ ignored): the file the link leads to keeps its old content whole.
TEST_F(NamedOutputTest, FailedWriteLeavesTheOldFileWhole)
{
    std::ofstream(Path("real")) << "old content";
    Link("real", Path("out"));
    const std::string bigReport = [] {
        std::string s;
        for (int p = 0; p < 60; ++p)
            s += "{CPI10}A page of a long report\r\n\f";
        return s;
    }();
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::string bytes(600 * 1024, 'q');
    std::string why;
    const bool routine = WriteNamedOutput(Path("out"), bytes.data(), bytes.size(), &why);
    tRenderer r;
    r.OpenFile(Write(bigReport), nullptr);
    const int job = r.MakePDF(nullptr, Path("out"));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(routine);
    EXPECT_EQ(why, std::strerror(EFBIG));
    EXPECT_EQ(job, 3);
    EXPECT_EQ(Globals().LastErrorMessage, "MakePDF: Cannot write file \"" + Path("out") + "\". " + std::strerror(EFBIG));
    EXPECT_EQ(ReadBytes(Path("real")), "old content");
    EXPECT_EQ(Entries(), (QStringList{"out", "real"}));
}

// ---- "-" on the command line -------------------------------------------------------

TEST_F(NamedOutputTest, DashIsStandardOutputForPdfAndPng)
{
    const QString report = QString::fromStdString(Write(Report));
    for (const char* option : {"--pdf", "--png"}) {
        SCOPED_TRACE(option);
        const TToolRun file = Quillard({option, QString::fromStdString(Path("file")), report});
        ASSERT_EQ(file.Code, 0) << file.Err;
        const TToolRun out = Quillard({option, "-", report});
        ASSERT_EQ(out.Code, 0) << out.Err;
        EXPECT_FALSE(out.Out.empty());
        EXPECT_EQ(out.Out, ReadBytes(Path("file")));
        EXPECT_FALSE(FileExists(Path("-")));
    }
}

TEST_F(NamedOutputTest, ReportDashIsReadFromStandardInputIntoAPrivateFileThatGoes)
{
    ::mkdir(Path("tmp").c_str(), 0700);
    QProcessEnvironment env;
    env.insert("TMPDIR", QString::fromStdString(Path("tmp")));
    const TToolRun r = Quillard({"--pdf", QString::fromStdString(Path("in.pdf")), "-"}, env, QByteArray::fromStdString(Report));
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(PdfText(Path("in.pdf")), "Page one of the named output\n\n\fPage two\n\n\f");
    EXPECT_EQ(QDir(QString::fromStdString(Path("tmp"))).entryList({"quillard*"}, QDir::AllEntries | QDir::Hidden), QStringList{});
    const TToolRun count = Quillard({"--count-pages", "-"}, env, QByteArray::fromStdString(Report));
    EXPECT_EQ(count.Out, "2\n") << count.Err;
    const TToolRun past = Quillard({"--png", QString::fromStdString(Path("p.png")), "--page", "5", "-"}, env,
                                   QByteArray::fromStdString(Report));
    EXPECT_NE(past.Err.find("standard input has 2 pages; there is no page 5"), std::string::npos) << past.Err;
}

// ---- settings and messages of runs without a display ---------------------------------

struct TLineDrawCase {
    const char* Name;
    const char* Setting;  // "Use MS LineDraw Font" of the user; null: none
    const char* Option;   // null: none
    bool Letters;         // É, Ü and ß come out as text
};

void PrintTo(const TLineDrawCase& C, std::ostream* Os) { *Os << C.Name; }

class HeadlessLineDraw : public NamedOutputTest, public ::testing::WithParamInterface<TLineDrawCase> {};

TEST_P(HeadlessLineDraw, FollowsTheUsersSettingUnlessTheOptionSaysOtherwise)
{
    const QString config = Dir.filePath("config");
    if (GetParam().Setting) {
        QSettings s(config + "/Merrowgate/Quillard.conf", QSettings::IniFormat);
        s.setValue("Use MS LineDraw Font", GetParam().Setting);
    }
    QProcessEnvironment env;
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_CONFIG_DIRS", Dir.filePath("system"));
    QStringList args{"--pdf", QString::fromStdString(Path("out.pdf"))};
    if (GetParam().Option)
        args << GetParam().Option;
    const TToolRun r = Quillard(args << QString::fromStdString(Write("{CPI10}M\xfcller \xc9\xdc\xdf\r\n")), env);
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string text = PdfText(Path("out.pdf"));
    EXPECT_EQ(text.find("\xc3\x89\xc3\x9c\xc3\x9f") != std::string::npos, GetParam().Letters) << text;
    EXPECT_NE(text.find("M\xc3\xbcller"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Cases, HeadlessLineDraw,
                         ::testing::Values(TLineDrawCase{"NoSetting", nullptr, nullptr, false},
                                           TLineDrawCase{"SettingYes", "Yes", nullptr, true},
                                           TLineDrawCase{"SettingYesInAnyCase", "yES", nullptr, true},
                                           TLineDrawCase{"SettingNo", "No", nullptr, false},
                                           TLineDrawCase{"OptionNoOverSettingYes", "Yes", "--line-draw-font=no", false},
                                           TLineDrawCase{"OptionYesWithoutSetting", nullptr, "--line-draw-font=yes", true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(NamedOutputTest, WithoutAPrinterARunSaysSoInOneLineAndQuietSaysNothing)
{
    const QString report = QString::fromStdString(Write(Report));
    // --png and --count-pages lay out on the printer's page, and say that
    // the assumed one stands in; a PDF's page is the report's sheet, which
    // needs no printer: it says nothing.
    struct Case {
        QStringList Mode;
        int Lines;
    };
    for (const Case& c : {Case{{"--count-pages"}, 1}, Case{{"--pdf", QString::fromStdString(Path("o.pdf"))}, 0},
                          Case{{"--png", QString::fromStdString(Path("o.png"))}, 1}}) {
        const QStringList& mode = c.Mode;
        SCOPED_TRACE(mode.join(' ').toStdString());
        const TToolRun r = Quillard(mode + QStringList{report});
        EXPECT_EQ(r.Code, 0);
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), c.Lines) << r.Err;
        if (c.Lines > 0)
            EXPECT_EQ(r.Err.rfind("quillard: warning: no printer (", 0), 0u) << r.Err;
        EXPECT_EQ(r.Err.find("QStandardPaths"), std::string::npos);
        const TToolRun quiet = Quillard(mode + QStringList{"--quiet", report});
        EXPECT_EQ(quiet.Code, 0);
        EXPECT_EQ(quiet.Err, "");
    }
    // A run that fails says why all the same.
    const TToolRun failed = Quillard({"--quiet", "--count-pages", QString::fromStdString(Path("NONE.TXT"))});
    EXPECT_EQ(failed.Code, 1);
    EXPECT_NE(failed.Err.find("cannot open"), std::string::npos);
    const TToolRun bad = Quillard({"--pdf", "x.pdf", "--line-draw-font=maybe", report});
    EXPECT_EQ(bad.Code, 2);
    EXPECT_NE(bad.Err.find("--line-draw-font needs yes or no"), std::string::npos) << bad.Err;
}

}  // namespace
}  // namespace quillard::test
