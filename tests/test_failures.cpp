// Failures from outside the program while it works: the disk fills while a
// PDF or a rewritten report is written, the report is truncated, deleted or
// replaced during a page pass, the print spooler stops a queue or goes away
// in the middle of a job, and a second process rewrites the report while a
// text item is added to it. Each ends with a message saying what happened,
// the user's report as it was (or as one whole version), and nothing
// half-written under the name of the file being made.
#include "tests/pdftestutil.h"
#include "tests/printtest.h"
#include "tests/testutil.h"

#include "engine/autotext.h"
#include "base/bytefile.h"
#include "engine/fileeditor.h"

#include <QDir>
#include <cups/ipp.h>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillard::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Listing(const std::string& Folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Joined(const std::vector<std::string>& Names)
{
    std::string s;
    for (const auto& n : Names)
        s += n + " ";
    return s;
}

// A report of Pages pages, each a few lines long and naming itself.
std::string PagedReport(int Pages, int LinesPerPage = 4)
{
    std::string s;
    for (int p = 1; p <= Pages; ++p) {
        if (p > 1)
            s += "{PAGE}\r\n";
        for (int l = 1; l <= LinesPerPage; ++l)
            s += "Page " + std::to_string(p) + " line " + std::to_string(l) + " {B}of the report{/B}\r\n";
    }
    return s;
}

// ---- a full disk ---------------------------------------------------------------

// The two ways a disk is full here. A limit on the size of the files this
// process writes (with SIGXFSZ ignored, a write past it fails with EFBIG as
// it would on a full disk) works everywhere. A small tmpfs gives the real
// ENOSPC; mounting one needs the right to, so it is made in a mount
// namespace of the test's own thread and skipped where that is refused.
enum class TFullKind { SizeLimit, SmallFileSystem };

class TFullDisk {
public:
    // Folder: where the files go; the tmpfs, when used, is mounted there.
    TFullDisk(TFullKind Kind, const std::string& Folder) : FKind(Kind), FFolder(Folder)
    {
        if (Kind == TFullKind::SmallFileSystem)
            Mount();
    }
    ~TFullDisk()
    {
        Lift();
        if (FMounted)
            ::umount2(FFolder.c_str(), MNT_DETACH);
        if (FOldNs >= 0) {
            ::setns(FOldNs, CLONE_NEWNS);
            ::close(FOldNs);
        }
    }
    bool Ready() const { return FKind == TFullKind::SizeLimit || FMounted; }
    const std::string& Why() const { return FWhy; }

    // From now on writing more than Room bytes fails: through the limit, or
    // by filling the small file system up to Room bytes of free space.
    void Fill(size_t Room)
    {
        if (FKind == TFullKind::SizeLimit) {
            ::getrlimit(RLIMIT_FSIZE, &FOldLimit);
            rlimit limit = FOldLimit;
            limit.rlim_cur = Room;
            FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &limit);
            FLimited = true;
            return;
        }
        // Fill the file system with a ballast file, then give back Room.
        const std::string ballast = FFolder + "/.ballast";
        const int fd = ::open(ballast.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::string block(4096, 'B');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        struct stat st {};
        ::fstat(fd, &st);
        if (::ftruncate(fd, st.st_size > off_t(Room) ? st.st_size - off_t(Room) : 0) != 0)
            ADD_FAILURE() << "the file could not be cut short";
        ::close(fd);
    }
    void Lift()
    {
        if (FLimited) {
            ::setrlimit(RLIMIT_FSIZE, &FOldLimit);
            std::signal(SIGXFSZ, FOldHandler);
            FLimited = false;
        }
        if (FMounted)
            ::unlink((FFolder + "/.ballast").c_str());
    }

private:
    void Mount()
    {
        FOldNs = ::open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
        if (FOldNs < 0 || ::unshare(CLONE_NEWNS) != 0) {
            FWhy = std::string("no mount namespace of our own: ") + std::strerror(errno);
            return;
        }
        // Nothing mounted here reaches the rest of the machine.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", FFolder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") != 0) {
            FWhy = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
            return;
        }
        FMounted = true;
    }

    TFullKind FKind;
    std::string FFolder, FWhy;
    bool FMounted = false, FLimited = false;
    int FOldNs = -1;
    rlimit FOldLimit{};
    void (*FOldHandler)(int) = SIG_DFL;
};

struct DiskFullCase {
    const char* Name;
    TFullKind Kind;
};

class DiskFullTest : public EngineTest, public ::testing::WithParamInterface<DiskFullCase> {
protected:
    std::string Folder;
    std::unique_ptr<TFullDisk> Disk;

    void SetUp() override
    {
        EngineTest::SetUp();
        Folder = Dir.filePath("disk").toStdString();
        fs::create_directory(Folder);
        Disk = std::make_unique<TFullDisk>(GetParam().Kind, Folder);
        if (!Disk->Ready())
            GTEST_SKIP() << Disk->Why();
    }
    void TearDown() override
    {
        Disk.reset();
        EngineTest::TearDown();
    }
    std::string Put(const std::string& Name, const std::string& Bytes)
    {
        const std::string p = Folder + "/" + Name;
        std::ofstream(p, std::ios::binary) << Bytes;
        return p;
    }
    // What the system says about a full disk of this kind.
    std::string Reason() const { return std::strerror(GetParam().Kind == TFullKind::SizeLimit ? EFBIG : ENOSPC); }
};

// A PDF job whose file cannot be written: the job fails with the system's
// reason, nothing is left under the PDF's name (an older PDF there stays as
// it was) and no temporary file is left beside it.
TEST_P(DiskFullTest, PdfJobFailsAndLeavesNoPdf)
{
    const std::string report = PagedReport(30, 20);
    const std::string path = Put("REPORT.TXT", report);
    const std::string fresh = Folder + "/NEW.PDF";
    const std::string old = Put("OLD.PDF", "%PDF-1.4 an older document\n");
    ASSERT_TRUE(R->OpenFile(path, nullptr));
    const auto before = Listing(Folder);

    for (const std::string& target : {fresh, old}) {
        SCOPED_TRACE(target);
        Globals().LastErrorMessage.clear();
        Disk->Fill(4096);
        const int result = R->MakePDF(nullptr, target);
        Disk->Lift();
        EXPECT_EQ(result, 3);
        EXPECT_NE(Globals().LastErrorMessage.find("Cannot write file"), std::string::npos) << Globals().LastErrorMessage;
        EXPECT_NE(Globals().LastErrorMessage.find(Reason()), std::string::npos) << Globals().LastErrorMessage;
        EXPECT_EQ(Joined(Listing(Folder)), Joined(before));
        EXPECT_EQ(ReadFile(old), "%PDF-1.4 an older document\n");
        EXPECT_EQ(ReadFile(path), report);
        EXPECT_FALSE(R->Printing || R->MakingPdf || R->Rendering);
    }
    // With room again the same renderer writes the document.
    ASSERT_EQ(R->MakePDF(nullptr, fresh), 0) << Globals().LastErrorMessage;
    EXPECT_TRUE(PassesQpdfCheck(fresh));
}

// Every way a report is rewritten: the routine itself, the file editor and
// the insertion of a text item. Each fails with its message, leaves the
// report byte for byte as it was and no QUILLARD.TMP beside it.
struct RewriteWay {
    const char* Name;
    // Rewrites Path with Markup inserted; true on success. Reason gets the
    // routine's own reason where it gives one.
    std::function<bool(tRenderer&, const std::string& Path, const std::string& Markup, std::string& Reason)> Run;
    const char* Caption;  // the message shown, or "" when the caller is told instead
};

const RewriteWay RewriteWays[] = {
    {"ReplaceFileSafely",
     [](tRenderer&, const std::string& Path, const std::string& Markup, std::string& Reason) {
         std::string text;
         try {
             text = ReadWholeReport(Path);
         } catch (const std::exception&) {
         }
         return ReplaceFileSafely(Path, text + Markup, &Reason);
     },
     ""},
    {"FileEditor",
     [](tRenderer& R, const std::string& Path, const std::string& Markup, std::string&) {
         R.FileName = Path;
         tFileEditor editor(&R);
         return editor.Load() && editor.InsertText(Markup, 1) && editor.Save();
     },
     "Error Adding Text"},
    {"AddText",
     [](tRenderer&, const std::string& Path, const std::string& Markup, std::string&) {
         return AddTextToReportFile(Path, Markup, 1);
     },
     "Error Adding Text"},
};

TEST_P(DiskFullTest, ReportRewriteFailsAndKeepsTheReport)
{
    const std::string report = PagedReport(3, 500);  // some 60 KB
    TAutoTextStyle style;
    const std::string markup = AutoTextMarkup(1, style, 1, 1, "Added");
    for (const RewriteWay& way : RewriteWays) {
        SCOPED_TRACE(way.Name);
        Services.Messages.clear();
        const std::string path = Put("REPORT.TXT", report);
        const auto before = Listing(Folder);
        std::string reason;
        Disk->Fill(report.size() / 4);
        const bool ok = way.Run(*R, path, markup, reason);
        Disk->Lift();
        EXPECT_FALSE(ok);
        EXPECT_EQ(ReadFile(path), report);
        EXPECT_EQ(Joined(Listing(Folder)), Joined(before));
        if (*way.Caption) {
            ASSERT_EQ(Services.Messages.size(), 1u);
            EXPECT_EQ(Services.Messages[0].Caption, way.Caption);
            EXPECT_EQ(Services.Messages[0].Text, "Error Writing File \"QUILLARD.TMP\"");
        } else {
            EXPECT_NE(reason.find("cannot write"), std::string::npos) << reason;
            EXPECT_NE(reason.find(Reason()), std::string::npos) << reason;
            EXPECT_TRUE(Services.Messages.empty());
        }
        // With room again the rewrite goes through.
        EXPECT_TRUE(way.Run(*R, path, markup, reason)) << reason;
        EXPECT_NE(ReadFile(path).find("Added"), std::string::npos);
        fs::remove(path);
    }
}

// A report that may not be rewritten (read-only, or no regular file at all):
// every way refuses at once with a message saying why, and leaves the report
// and its folder as they were.
struct RefusedCase {
    const char* Name;
    std::function<std::string(const std::string& Folder)> Make;  // makes the report, gives its name
    const char* Says;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.Name; }

class RefusedRewriteTest : public EngineTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedRewriteTest, EveryWayRefusesAndKeepsTheReport)
{
    const std::string folder = Dir.path().toStdString();
    const std::string path = GetParam().Make(folder);
    struct stat before {};
    ASSERT_EQ(::lstat(path.c_str(), &before), 0);
    const auto listing = Listing(folder);
    TAutoTextStyle style;
    const std::string markup = AutoTextMarkup(1, style, 1, 1, "Added");
    for (const RewriteWay& way : RewriteWays) {
        SCOPED_TRACE(way.Name);
        Services.Messages.clear();
        std::string reason;
        EXPECT_FALSE(way.Run(*R, path, markup, reason));
        std::string said = reason;
        for (const auto& m : Services.Messages)
            said += "[" + m.Caption + "] " + m.Text;
        EXPECT_NE(said.find(GetParam().Says), std::string::npos) << said;
        EXPECT_LE(Services.Messages.size(), 1u);
        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_mtime, before.st_mtime);
        EXPECT_EQ(Joined(Listing(folder)), Joined(listing));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reports, RefusedRewriteTest,
    ::testing::Values(RefusedCase{"ReadOnly",
                                  [](const std::string& d) {
                                      const std::string p = d + "/REPORT.TXT";
                                      std::ofstream(p) << "read only\r\n";
                                      ::chmod(p.c_str(), 0444);
                                      return p;
                                  },
                                  "is read-only"},
                      RefusedCase{"Fifo",
                                  [](const std::string& d) {
                                      const std::string p = d + "/REPORT.TXT";
                                      ::mkfifo(p.c_str(), 0600);
                                      return p;
                                  },
                                  "not a regular file (a FIFO)"},
                      RefusedCase{"LinkToAFifo",
                                  [](const std::string& d) {
                                      ::mkfifo((d + "/PIPE").c_str(), 0600);
                                      fs::create_symlink(d + "/PIPE", d + "/REPORT.TXT");
                                      return d + "/REPORT.TXT";
                                  },
                                  "not a regular file (a FIFO)"},
                      RefusedCase{"Folder",
                                  [](const std::string& d) {
                                      fs::create_directory(d + "/REPORT.TXT");
                                      return d + "/REPORT.TXT";
                                  },
                                  "not a regular file (a folder)"}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(Kinds, DiskFullTest,
                         ::testing::Values(DiskFullCase{"FileSizeLimit", TFullKind::SizeLimit},
                                           DiskFullCase{"SmallFileSystem", TFullKind::SmallFileSystem}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- the report changes during a pass ------------------------------------------

class ReportChangesTest : public EngineTest {
protected:
    // Page N of Bytes drawn by an undisturbed pass.
    QImage Undisturbed(const std::string& Bytes, int N)
    {
        const std::string path = Write(Bytes, "UNDISTURBED.TXT");
        R->OpenFile(path, nullptr);
        UsePage(1.0);
        EXPECT_TRUE(R->RenderPages(nullptr, N, nullptr, N));
        return Page->Image().copy();
    }
    std::string Open(const std::string& Bytes)
    {
        const std::string path = Write(Bytes);
        EXPECT_TRUE(R->OpenFile(path, nullptr));
        UsePage(1.0);
        return path;
    }
    std::string MessagesText() const
    {
        std::string s;
        for (const auto& m : Services.Messages)
            s += "[" + m.Caption + "] " + m.Text + "\n";
        return s;
    }
};

// Truncated between the page count and the drawing of a later page: the
// pass reads the report as it now is. The pages that are gone draw nothing;
// the page count afterwards is the new one.
TEST_F(ReportChangesTest, TruncatedBetweenCountAndALaterPage)
{
    const std::string report = PagedReport(5);
    const std::string path = Open(report);
    ASSERT_EQ(R->CountPages(), 5);
    const std::string kept = report.substr(0, report.find("Page 3 line 1"));
    fs::resize_file(path, kept.size());

    UsePage(1.0);
    EXPECT_TRUE(R->RenderPages(nullptr, 4, nullptr, 4));
    EXPECT_TRUE(Ink().Empty());
    EXPECT_EQ(R->CountPages(), 2);  // a {PAGE} at the very end adds no page
    UsePage(1.0);
    EXPECT_TRUE(R->RenderPages(nullptr, 2, nullptr, 2));
    const QImage second = Page->Image().copy();
    EXPECT_TRUE(second == Undisturbed(kept, 2));
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    EXPECT_EQ(ReadFile(path), kept);
}

// Truncated while the pass reads it (from the message pump, as another
// program would do it at any moment): the pass says that the report became
// shorter, stops and reports failure, instead of passing off half a report
// as the whole.
struct TruncateCase {
    const char* Name;
    int Pump;       // truncated at this pump of the pass
    size_t KeepOf;  // bytes kept: 0 = none, else report.size() / KeepOf
};

class TruncatedDuringPass : public ReportChangesTest, public ::testing::WithParamInterface<TruncateCase> {};

TEST_P(TruncatedDuringPass, SaysSoAndStops)
{
    const TruncateCase& c = GetParam();
    // Large enough that the pass has not buffered all of it when it is cut.
    const std::string report = PagedReport(40, 100);
    const std::string path = Open(report);
    const size_t keep = c.KeepOf ? report.size() / c.KeepOf : 0;
    Services.Pumps = 0;
    Services.OnPump = [&] {
        if (Services.Pumps == c.Pump)
            fs::resize_file(path, keep);
    };
    EXPECT_FALSE(R->RenderPages(nullptr, 0, nullptr, 0));
    Services.OnPump = nullptr;
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Cannot Read File");
    EXPECT_EQ(Services.Messages[0].Text.rfind("Error reading from file \"" + path + "\"\r\n", 0), 0u)
        << Services.Messages[0].Text;
    EXPECT_NE(Services.Messages[0].Text.find("became shorter"), std::string::npos) << Services.Messages[0].Text;
    EXPECT_FALSE(R->Rendering);
    EXPECT_FALSE(R->FileOpen);

    // The next pass reads what is there, without a message.
    Services.Messages.clear();
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
}

INSTANTIATE_TEST_SUITE_P(Cuts, TruncatedDuringPass,
                         ::testing::Values(TruncateCase{"ToNothingAtTheStart", 2, 0},
                                           TruncateCase{"ToHalfInTheMiddle", 200, 2},
                                           TruncateCase{"ToATenthLate", 2000, 10}),
                         [](const auto& info) { return std::string(info.param.Name); });

// The same in a PDF job: the job reports the failure and writes no file
// (never a document cut short).
TEST_F(ReportChangesTest, TruncatedDuringAPdfJob)
{
    const std::string report = PagedReport(40, 100);
    const std::string path = Open(report);
    const std::string pdf = Dir.filePath("OUT.PDF").toStdString();
    Services.Pumps = 0;
    Services.OnPump = [&] {
        if (Services.Pumps == 300)
            fs::resize_file(path, report.size() / 3);
    };
    EXPECT_EQ(R->MakePDF(nullptr, pdf), 4);
    Services.OnPump = nullptr;
    EXPECT_EQ(Globals().LastErrorMessage, "MakePDF: Render Returned Error (error opening document)");
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Cannot Read File");
    // What was laid out is not the report: no file is written.
    EXPECT_FALSE(fs::exists(pdf));
    EXPECT_FALSE(R->Printing || R->MakingPdf || R->Rendering);
}

// Deleted during a pass: the open report still reads whole, so the pass
// draws what an undisturbed one draws. Afterwards the report is gone: a pass
// draws nothing and keeps the page count (the preview's refresh and find say
// that the report is gone); nothing brings the file back.
TEST_F(ReportChangesTest, DeletedDuringAPass)
{
    const std::string report = PagedReport(6, 30);
    const QImage expected = Undisturbed(report, 5);
    const std::string path = Open(report);
    Services.Pumps = 0;
    Services.OnPump = [&] {
        if (Services.Pumps == 20)
            fs::remove(path);
    };
    EXPECT_TRUE(R->RenderPages(nullptr, 5, nullptr, 5));
    Services.OnPump = nullptr;
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(Page->Image() == expected);
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    const int reached = R->CurrentPage;

    UsePage(1.0);
    EXPECT_TRUE(R->RenderPages(nullptr, 2, nullptr, 2));
    EXPECT_TRUE(Ink().Empty());
    EXPECT_EQ(R->CurrentPage, reached);
    EXPECT_FALSE(fs::exists(path));
}

// Replaced whole by another program during a pass (a new file renamed over
// it): the pass goes on with the report it opened; the next pass shows the
// new one.
TEST_F(ReportChangesTest, ReplacedDuringAPass)
{
    const std::string report = PagedReport(6, 30);
    const std::string other = PagedReport(2, 3) + "{PAGE}The replacement\r\n";
    const QImage expected = Undisturbed(report, 4);
    const QImage replacement = Undisturbed(other, 3);
    const std::string path = Open(report);
    Services.Pumps = 0;
    Services.OnPump = [&] {
        if (Services.Pumps == 20) {
            std::string why;
            EXPECT_TRUE(ReplaceFileSafely(path, other, &why)) << why;
        }
    };
    EXPECT_TRUE(R->RenderPages(nullptr, 4, nullptr, 4));
    Services.OnPump = nullptr;
    EXPECT_TRUE(Page->Image() == expected);
    UsePage(1.0);
    EXPECT_TRUE(R->RenderPages(nullptr, 3, nullptr, 3));
    EXPECT_TRUE(Page->Image() == replacement);
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
}

// ---- two writers ----------------------------------------------------------------

// A second process rewrites the report (through the same routine) again and
// again while text items are added to it. Every state of the file anyone can
// read is one whole version: the other process's report, or one of ours with
// whole items added; never a mix, never a file cut short. The temporary file
// is gone afterwards.
TEST(TwoWriters, ReportIsAlwaysOneWholeVersion)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TRecordingServices services;
    SetUserServices(&services);
    const std::string path = dir.filePath("REPORT.TXT").toStdString();
    // Large versions make the writing slow enough for the two to overlap.
    const std::string ours = "OURS\r\n" + std::string(1'000'000, 'a') + "\r\nEND OF OURS\r\n";
    const std::string theirs = "THEIRS\r\n" + std::string(1'500'000, 'b') + "\r\nEND OF THEIRS\r\n";
    std::ofstream(path, std::ios::binary) << ours;
    TAutoTextStyle style;
    const std::string markup = AutoTextMarkup(1, style, 1, 1, "item");

    // Whether Text is a whole version: either report followed by whole items.
    auto whole = [&](const std::string& Text) {
        for (const std::string* base : {&ours, &theirs}) {
            if (Text.compare(0, base->size(), *base) != 0)
                continue;
            size_t at = base->size();
            while (at < Text.size() && Text.compare(at, markup.size(), markup) == 0)
                at += markup.size();
            return at == Text.size();
        }
        return false;
    };

    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        int failures = 0;
        for (int i = 0; i < 25; ++i)
            failures += !ReplaceFileSafely(path, theirs);
        ::_exit(failures == 0 ? 0 : 1);
    }
    int added = 0, broken = 0;
    std::string sample;
    for (int i = 0; i < 25; ++i) {
        added += AddTextToReportFile(path, markup, 1);
        const std::string now = ReadFile(path);
        if (!whole(now)) {
            ++broken;
            sample = now.substr(0, 40) + "... (" + std::to_string(now.size()) + " bytes)";
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    SetUserServices(nullptr);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other writer saw a rewrite fail";
    EXPECT_EQ(added, 25);
    EXPECT_EQ(broken, 0) << sample;
    EXPECT_TRUE(whole(ReadFile(path)));
    EXPECT_EQ(Joined(Listing(dir.path().toStdString())), "REPORT.TXT ");
    EXPECT_TRUE(services.Messages.empty());
}

// ---- the spooler fails during a job ---------------------------------------------

class SpoolerFailsTest : public PrintTest {
protected:
    void TearDown() override
    {
        // A test that stopped the shared spooler starts it again for the
        // tests after it.
        if (!Cups->Running())
            Cups->Start();
        PrintTest::TearDown();
    }
    std::vector<std::string> PrintFiles() const
    {
        std::vector<std::string> files;
        for (const QString& f : QDir(QDir::tempPath()).entryList({"quillard-print-*"}, QDir::Files))
            files.push_back(f.toStdString());
        return files;
    }
};

// The queue is stopped (cupsdisable) in the middle of a job: the job is
// handed over whole and waits in the queue; the user is told that it waits.
// Started again, the queue prints every page.
TEST_F(SpoolerFailsTest, QueueStoppedMidJobKeepsTheWholeJobWaiting)
{
    UseLayer();
    const std::string report = PagedReport(3);
    const std::string path = Open(report);
    const auto filesBefore = PrintFiles();
    bool stopped = false;
    Services.OnPump = [&] {
        if (R->Printing && R->CurrentPage == 2 && !stopped) {
            int code = 0;
            RunProgram("cupsdisable", {"-h", Cups->Socket(), "FILEPDF"}, &code);
            stopped = code == 0;
        }
    };
    EXPECT_TRUE(R->Print(nullptr)) << MessagesText();
    Services.OnPump = nullptr;
    ASSERT_TRUE(stopped);
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Printer Stopped");
    EXPECT_NE(Services.Messages[0].Text.find("\"FILEPDF\" is stopped"), std::string::npos) << MessagesText();

    const auto jobs = Cups->Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0].State == IPP_JSTATE_PENDING || jobs[0].State == IPP_JSTATE_HELD) << jobs[0].State;
    EXPECT_EQ(PdfInfo(Cups->SpooledDocument(jobs[0].Id))["Pages"], "3");
    EXPECT_EQ(ReadFile(path), report);
    EXPECT_EQ(PrintFiles(), filesBefore);

    int code = 0;
    RunProgram("cupsenable", {"-h", Cups->Socket(), "FILEPDF"}, &code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(Cups->WaitUntilIdle());
    EXPECT_EQ(PdfInfo(Cups->OutputFile("FILEPDF"))["Pages"], "3");
}

// The spooler goes away in the middle of a job: the job ends with a message
// naming the printer and the reason, the preview is as before, and neither
// the report nor any print file is left behind changed.
TEST_F(SpoolerFailsTest, SpoolerGoneMidJobSaysSoAndLeavesNothing)
{
    UseLayer();
    const std::string report = PagedReport(3);
    const std::string path = Open(report);
    const auto filesBefore = PrintFiles();
    const double scale = R->GetScale();
    bool killed = false;
    Services.OnPump = [&] {
        if (R->Printing && R->CurrentPage == 2 && !killed) {
            Cups->Stop();
            killed = true;
        }
    };
    EXPECT_FALSE(R->Print(nullptr));
    Services.OnPump = nullptr;
    ASSERT_TRUE(killed);
    bool reported = false;
    for (const auto& m : Services.Messages)
        reported = reported || (m.Caption == "Error Printing Document!" &&
                                m.Text.find("could not be handed to the printer \"FILEPDF\"") != std::string::npos &&
                                m.Text.find("cannot be reached") != std::string::npos);
    EXPECT_TRUE(reported) << MessagesText();
    EXPECT_FALSE(R->Printing);
    EXPECT_EQ(R->GetScale(), scale);
    EXPECT_EQ(ReadFile(path), report);
    EXPECT_EQ(PrintFiles(), filesBefore);
    EXPECT_TRUE(Layer->SubmittedJobs().empty());
}

}  // namespace
}  // namespace quillard::test
