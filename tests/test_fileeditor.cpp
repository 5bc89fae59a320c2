// The report file editor and the one routine every rewrite of a report goes
// through: finding pages, inserting markup, byte-exact round trips, and a
// report that survives a rewrite failing or the program dying half-way.
#include "tests/testutil.h"

#include "engine/fileeditor.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <fcntl.h>
#include <sched.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillard::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The temporary files of rewrites in Folder: "QUILLARD.TMP." and a unique
// ending.
std::vector<std::string> TempFiles(const std::string& Folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Folder)) {
        const std::string n = e.path().filename().string();
        if (n.rfind("QUILLARD.TMP.", 0) == 0)
            names.push_back(e.path().string());
    }
    return names;
}

class FileEditorTest : public EngineTest {
protected:
    // The name an older version wrote through, now another program's.
    std::string Temp() const { return Dir.filePath("QUILLARD.TMP").toStdString(); }
    std::vector<std::string> Temps() const { return TempFiles(Dir.path().toStdString()); }
    void TearDown() override
    {
        detail::ReplaceFileProbe = nullptr;
        EngineTest::TearDown();
    }
    // A report on disk, opened by the renderer.
    std::string Report(const std::string& Bytes, const std::string& Name = "REPORT.TXT")
    {
        const std::string path = Write(Bytes, Name);
        R->FileName = path;
        return path;
    }
};

// ---- FindNth -------------------------------------------------------------------

struct NthCase {
    const char* Name;
    std::string Sub, S;
    int N;
    int Position;  // 0 stands for "below 1"
};

void PrintTo(const NthCase& c, std::ostream* os) { *os << c.Name; }

class FindNthTest : public ::testing::TestWithParam<NthCase> {};

TEST_P(FindNthTest, GivesThePositionOfTheNthOccurrence)
{
    const NthCase& c = GetParam();
    const int p = tFileEditor::FindNth(c.Sub, c.S, c.N);
    if (c.Position == 0)
        EXPECT_LT(p, 1);
    else
        EXPECT_EQ(p, c.Position);
}

INSTANTIATE_TEST_SUITE_P(Occurrences, FindNthTest,
                         ::testing::Values(NthCase{"First", "{PAGE}", "A{PAGE}B{PAGE}C", 1, 2},
                                           NthCase{"Second", "{PAGE}", "A{PAGE}B{PAGE}C", 2, 9},
                                           NthCase{"FewerThanN", "{PAGE}", "A{PAGE}B{PAGE}C", 3, 0},
                                           NthCase{"FourthOfFourAdjacent", "{PAGE}", "{PAGE}{PAGE}{PAGE}{PAGE}", 4, 19},
                                           NthCase{"LetterCaseIgnored", "{PAGE}", "a{page}b{Page}", 2, 9},
                                           NthCase{"OverlappingFinds", "AA", "xAAAA", 3, 4},
                                           NthCase{"NZero", "{PAGE}", "A{PAGE}B", 0, 0},
                                           NthCase{"NNegative", "{PAGE}", "A{PAGE}B", -3, 0},
                                           NthCase{"EmptyText", "{PAGE}", "", 1, 0}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- InsertText ------------------------------------------------------------------

struct InsertCase {
    const char* Name;
    std::string Text;
    int Page;
    std::string After;
};

void PrintTo(const InsertCase& c, std::ostream* os) { *os << c.Name; }

class InsertTextTest : public ::testing::TestWithParam<InsertCase> {};

TEST_P(InsertTextTest, PutsTheMarkupAtTheEndOfThePage)
{
    tFileEditor e(nullptr);
    e.Text = GetParam().Text;
    EXPECT_TRUE(e.InsertText("[M]", GetParam().Page));
    EXPECT_EQ(e.Text, GetParam().After);
}

INSTANTIATE_TEST_SUITE_P(Pages, InsertTextTest,
                         ::testing::Values(InsertCase{"PageOne", "A{PAGE}B{PAGE}C", 1, "A[M]{PAGE}B{PAGE}C"},
                                           InsertCase{"PageTwo", "A{PAGE}B{PAGE}C", 2, "A{PAGE}B[M]{PAGE}C"},
                                           InsertCase{"PageThreeAppends", "A{PAGE}B{PAGE}C", 3, "A{PAGE}B{PAGE}C[M]"},
                                           InsertCase{"LowerCaseTag", "A{page}B", 1, "A[M]{page}B"},
                                           InsertCase{"PageZeroAppends", "A{PAGE}B", 0, "A{PAGE}B[M]"},
                                           InsertCase{"FormFeedsDoNotCount", "A\fB{PAGE}C", 1, "A\fB[M]{PAGE}C"},
                                           InsertCase{"EmptyReport", "", 1, "[M]"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Load and Save ------------------------------------------------------------------

struct RoundTripCase {
    const char* Name;
    std::function<std::string()> Bytes;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.Name; }

class RoundTripTest : public FileEditorTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTripTest, LoadThenSaveKeepsEveryByte)
{
    const std::string bytes = GetParam().Bytes();
    const std::string path = Report(bytes);
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    EXPECT_EQ(e.Text, bytes);
    ASSERT_TRUE(e.Save());
    EXPECT_EQ(ReadFile(path), bytes);
    EXPECT_TRUE(Temps().empty());
    EXPECT_TRUE(Services.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, RoundTripTest,
    ::testing::Values(RoundTripCase{"Empty", [] { return std::string(); }},
                      RoundTripCase{"CrLf", [] { return std::string("one\r\ntwo\r\n\r\nthree\r\n"); }},
                      RoundTripCase{"Lf", [] { return std::string("one\ntwo\n\nthree"); }},
                      RoundTripCase{"Cr", [] { return std::string("one\rtwo\r\rthree\r"); }},
                      RoundTripCase{"MixedWithFormFeeds", [] { return std::string("a\r\n\fb\n\rc\f\f\r\r\nd"); }},
                      RoundTripCase{"HighBytesAndNul", [] { return std::string("\xFF\xFE{PAGE}\0\0x\xFF\r\n\0", 16); }},
                      RoundTripCase{"RandomBytes",
                                    [] {
                                        std::mt19937 rng(7);
                                        std::string s(300000, '\0');
                                        for (char& c : s)
                                            c = char(rng());
                                        return s;
                                    }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FileEditorTest, InsertedMarkupReachesTheReport)
{
    const std::string path = Report("Page one\r\n{PAGE}\r\nPage two\r\n");
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    e.InsertText("{SPAN CLASS=\"AutoText\"}Hi{/SPAN}", 1);
    ASSERT_TRUE(e.Save());
    EXPECT_EQ(ReadFile(path), "Page one\r\n{SPAN CLASS=\"AutoText\"}Hi{/SPAN}{PAGE}\r\nPage two\r\n");
}

TEST_F(FileEditorTest, MissingReportCannotBeLoaded)
{
    R->FileName = Dir.filePath("GONE.TXT").toStdString();
    tFileEditor e(R.get());
    EXPECT_FALSE(e.Load());
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Error Editing Text");
    EXPECT_EQ(Services.Messages[0].Text, "Error Opening File \"" + R->FileName + "\"\r\nNo such file or directory");
}

TEST_F(FileEditorTest, RewriteKeepsPermissionsAndFollowsLinks)
{
    const std::string path = Report("old\r\n", "REAL.TXT");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const std::string link = Dir.filePath("LINK.TXT").toStdString();
    fs::create_symlink(path, link);
    R->FileName = link;
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    e.Text += "new\r\n";
    ASSERT_TRUE(e.Save());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(path), "old\r\nnew\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Whatever lies at the plain temporary name (a link planted there, another
// user's file in a shared folder) is neither written through nor removed:
// every rewrite makes a new file of its own.
TEST_F(FileEditorTest, FileOrLinkAtThePlainTemporaryNameIsLeftAlone)
{
    const std::string victim = Write("precious", "VICTIM.TXT");
    fs::create_symlink(victim, Temp());
    const std::string path = Report("report\r\n");
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    e.Text = "rewritten";
    ASSERT_TRUE(e.Save());
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_EQ(ReadFile(path), "rewritten");
    EXPECT_TRUE(fs::is_symlink(Temp()));
    EXPECT_TRUE(Temps().empty());
}

TEST_F(FileEditorTest, ReportNamedLikeTheTemporaryFile)
{
    const std::string path = Report("mine\r\n", "QUILLARD.TMP");
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    e.Text += "more";
    ASSERT_TRUE(e.Save());
    EXPECT_EQ(ReadFile(path), "mine\r\nmore");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir.path().toStdString()), fs::directory_iterator()), 1);
}

// ---- failures leave the report as it was ------------------------------------------

struct FailCase {
    const char* Name;
    const char* Step;  // the step of the rewrite that fails
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.Name; }

class SaveFailureTest : public FileEditorTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(SaveFailureTest, ReportStaysAndTemporaryFileGoes)
{
    const std::string original = "the report\r\n{PAGE}\r\nsecond page\r\n";
    const std::string path = Report(original);
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    e.InsertText("{SPAN}added{/SPAN}", 1);
    const std::string failing = GetParam().Step;
    detail::ReplaceFileProbe = [failing](const char* s) {
        if (s == failing)
            throw std::runtime_error("the step failed");
    };
    EXPECT_FALSE(e.Save());
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Error Adding Text");
    EXPECT_EQ(Services.Messages[0].Text, "Error Writing File \"QUILLARD.TMP\"");
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_TRUE(Temps().empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir.path().toStdString()), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(Failures, SaveFailureTest,
                         ::testing::Values(FailCase{"JustCreated", "created"}, FailCase{"OwnerAndModeGiven", "owned"},
                                           FailCase{"WriteFails", "written"}, FailCase{"FlushFails", "synced"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FileEditorTest, ReportInAMissingFolderIsNotCreated)
{
    R->FileName = Dir.filePath("NO/SUCH/REPORT.TXT").toStdString();
    tFileEditor e(R.get());
    e.Text = "text";
    EXPECT_FALSE(e.Save());
    EXPECT_FALSE(fs::exists(R->FileName));
}

// The program dies right after the temporary file is written, or after it is
// flushed: the report is untouched, and the next rewrite works. What the dead
// rewrite left keeps its recognisable name (no rewrite removes a file it did
// not make: it might be another one's, still at work).
TEST_F(FileEditorTest, DyingInTheMiddleLeavesTheReportIntact)
{
    const std::string original = "original report\r\n";
    const std::string path = Report(original);
    for (const char* step : {"written", "synced"}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            detail::ReplaceFileProbe = [step](const char* s) {
                if (!std::strcmp(s, step))
                    ::raise(SIGKILL);
            };
            ReplaceFileSafely(path, "replacement");
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << step;
        EXPECT_EQ(ReadFile(path), original) << step;
    }
    const std::vector<std::string> left = Temps();
    ASSERT_EQ(left.size(), 2u);
    for (const std::string& t : left)
        EXPECT_EQ(ReadFile(t), "replacement");
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    e.Text += "added";
    ASSERT_TRUE(e.Save());
    EXPECT_EQ(ReadFile(path), original + "added");
    EXPECT_EQ(Temps(), left);
}

// ---- who may read the temporary file -------------------------------------------------

// Whether a file of status Temp lets anyone read or write it who may not do
// so with the report (status Report); Writer is the user rewriting it, who
// has the report's text anyway.
std::string WiderThan(const struct stat& Temp, const struct stat& Report, uid_t Writer)
{
    if (Temp.st_uid != Writer && Temp.st_uid != Report.st_uid)
        return "owned by " + std::to_string(Temp.st_uid);
    if ((Temp.st_mode & 07) & ~(Report.st_mode & 07))
        return "others may do more";
    if ((Temp.st_mode & 070) && (Temp.st_gid != Report.st_gid || ((Temp.st_mode & 070) & ~(Report.st_mode & 070))))
        return "a group may do more";
    return {};
}

struct ModeCase {
    const char* Name;
    mode_t Mode;
    bool OtherOwner;  // the report belongs to another user and group (needs root)
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.Name; }

class TemporaryFileModeTest : public FileEditorTest, public ::testing::WithParamInterface<ModeCase> {};

// At every step of the rewrite, from the moment the temporary file exists,
// nobody may read it who may not read the report; the new report has the
// old one's mode, owner and group.
TEST_P(TemporaryFileModeTest, IsNeverOpenToMoreThanTheReport)
{
    const ModeCase& c = GetParam();
    if (c.OtherOwner && ::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    const std::string path = Report("private\r\n");
    ASSERT_EQ(::chmod(path.c_str(), c.Mode), 0);
    if (c.OtherOwner) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    struct stat report {};
    ASSERT_EQ(::stat(path.c_str(), &report), 0);
    std::vector<std::string> seen;
    detail::ReplaceFileProbe = [&](const char* Step) {
        const std::vector<std::string> temps = Temps();
        ASSERT_EQ(temps.size(), 1u) << Step;
        struct stat st {};
        ASSERT_EQ(::lstat(temps[0].c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(WiderThan(st, report, ::geteuid()), "") << Step << std::oct << " mode " << (st.st_mode & 07777);
        seen.push_back(Step);
    };
    std::string why;
    ASSERT_TRUE(ReplaceFileSafely(path, "private and more\r\n", &why)) << why;
    EXPECT_EQ(seen, (std::vector<std::string>{"created", "owned", "written", "synced"}));
    struct stat now {};
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, c.Mode);
    EXPECT_EQ(now.st_uid, report.st_uid);
    EXPECT_EQ(now.st_gid, report.st_gid);
    EXPECT_EQ(ReadFile(path), "private and more\r\n");
}

INSTANTIATE_TEST_SUITE_P(Modes, TemporaryFileModeTest,
                         ::testing::Values(ModeCase{"OwnerOnly", 0600, false}, ModeCase{"GroupReads", 0640, false},
                                           ModeCase{"AllRead", 0644, false}, ModeCase{"AllWrite", 0666, false},
                                           ModeCase{"OthersButNotGroup", 0604, false},
                                           ModeCase{"AnotherUsersPrivateReport", 0600, true},
                                           ModeCase{"AnotherUsersGroupReport", 0660, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A user who may write the report but can give the new file neither its
// owner nor its group: the group's rights are not handed to this user's own
// group; others keep theirs. A report this user may not write is refused.
TEST_F(FileEditorTest, UserWhoCannotKeepTheGroupGivesItsRightsToNobody)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    // The nobody user reaches the scratch folder and writes a folder of its own.
    ASSERT_EQ(::chmod(Dir.path().toLocal8Bit().constData(), 0711), 0);
    const std::string shared = Dir.filePath("shared").toStdString();
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    const std::string writable = shared + "/WRITABLE.TXT", closed = shared + "/CLOSED.TXT";
    std::ofstream(writable) << "report\r\n";
    std::ofstream(closed) << "report\r\n";
    ASSERT_EQ(::chmod(writable.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(closed.c_str(), 0644), 0);
    ASSERT_EQ(::chown(writable.c_str(), 0, 0), 0);
    ASSERT_EQ(::chown(closed.c_str(), 0, 0), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(10);
        std::string why;
        if (!ReplaceFileSafely(writable, "rewritten\r\n", &why))
            ::_exit(11);
        if (ReplaceFileSafely(closed, "rewritten\r\n", &why) || why.find("is read-only") == std::string::npos)
            ::_exit(12);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    struct stat st {};
    ASSERT_EQ(::stat(writable.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0606u);
    EXPECT_EQ(ReadFile(writable), "rewritten\r\n");
    EXPECT_EQ(ReadFile(closed), "report\r\n");
    EXPECT_TRUE(TempFiles(shared).empty());
}

// ---- rewrites that are refused or must not wait --------------------------------------

// A read-only report is not rewritten: a clear message, the report as it
// was, no temporary file.
TEST_F(FileEditorTest, ReadOnlyReportIsRefused)
{
    const std::string original = "read only\r\n";
    const std::string path = Report(original);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    e.InsertText("{SPAN}added{/SPAN}", 1);
    EXPECT_FALSE(e.Save());
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Error Adding Text");
    EXPECT_EQ(Services.Messages[0].Text, "File \"" + path + "\" is read-only and was left as it is");
    EXPECT_EQ(ReadFile(path), original);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_TRUE(Temps().empty());
    std::string why;
    EXPECT_FALSE(ReplaceFileSafely(path, "other", &why));
    EXPECT_EQ(why, Services.Messages[0].Text);
}

// Another program holding a lock on the report's folder (the rewrite once
// took one and waited half a minute for it) does not hold the rewrite up.
TEST_F(FileEditorTest, LockOnTheFolderHeldElsewhereIsNoHindrance)
{
    const std::string path = Report("report\r\n");
    const int dir = ::open(Dir.path().toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::flock(dir, LOCK_EX);
        ::pause();
        ::_exit(0);
    }
    // The lock is the child's once a lock of our own on a new descriptor of
    // the folder is refused.
    const int probe = ::open(Dir.path().toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (::flock(probe, LOCK_EX | LOCK_NB) == 0) {
        ::flock(probe, LOCK_UN);
        sched_yield();
    }
    ::close(probe);
    std::string why;
    const bool ok = ReplaceFileSafely(path, "rewritten", &why);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(dir);
    EXPECT_TRUE(ok) << why;
    EXPECT_EQ(ReadFile(path), "rewritten");
}

// A shared folder (sticky, writable by all) where another user left a
// QUILLARD.TMP: rewrites there go on, and that file stays as it is.
TEST_F(FileEditorTest, AnotherUsersTemporaryFileInASharedFolder)
{
    const std::string shared = Dir.filePath("shared").toStdString();
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string theirs = shared + "/QUILLARD.TMP";
    std::ofstream(theirs) << "theirs";
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(theirs.c_str(), 0600), 0);
    const std::string path = shared + "/REPORT.TXT";
    std::ofstream(path) << "report\r\n";
    for (int i = 0; i < 3; ++i) {
        std::string why;
        EXPECT_TRUE(ReplaceFileSafely(path, "rewrite " + std::to_string(i), &why)) << why;
    }
    EXPECT_EQ(ReadFile(path), "rewrite 2");
    EXPECT_EQ(ReadFile(theirs), "theirs");
    EXPECT_TRUE(TempFiles(shared).empty());
}

}  // namespace
}  // namespace quillard::test
