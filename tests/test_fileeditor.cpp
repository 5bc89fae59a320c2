// The report file editor and the one routine every rewrite of a report goes
// through: finding pages, inserting markup, byte-exact round trips, and a
// report that survives a rewrite failing or the program dying half-way.
#include "tests/testutil.h"

#include "engine/fileeditor.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
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

class FileEditorTest : public EngineTest {
protected:
    std::string Temp() const { return Dir.filePath("QUILLARD.TMP").toStdString(); }
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
    EXPECT_FALSE(fs::exists(Temp()));
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
    EXPECT_EQ(Services.Messages[0].Text, "Error Opening File \"" + R->FileName + "\"");
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

// A link planted at the temporary name does not lead the rewrite to write
// into the file it points at.
TEST_F(FileEditorTest, LinkAtTheTemporaryNameIsNotWrittenThrough)
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
    EXPECT_FALSE(fs::exists(fs::symlink_status(Temp())));
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
    std::function<void(const std::string& Temp)> Arrange;
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
    GetParam().Arrange(Temp());
    EXPECT_FALSE(e.Save());
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Error Adding Text");
    EXPECT_EQ(Services.Messages[0].Text, "Error Writing File \"QUILLARD.TMP\"");
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_TRUE(!fs::exists(Temp()) || fs::is_directory(Temp()));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SaveFailureTest,
    ::testing::Values(FailCase{"WriteFails", [](const std::string&) {
                                   detail::ReplaceFileProbe = [](const char* s) {
                                       if (!std::strcmp(s, "written"))
                                           throw std::runtime_error("disk full");
                                   };
                               }},
                      FailCase{"FlushFails", [](const std::string&) {
                                   detail::ReplaceFileProbe = [](const char* s) {
                                       if (!std::strcmp(s, "synced"))
                                           throw std::runtime_error("I/O error");
                                   };
                               }},
                      FailCase{"TemporaryNameTakenByAFolder", [](const std::string& d) {
                                   fs::create_directory(d);
                                   std::ofstream(d + "/keep") << "x";
                               }}),
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
// flushed: the report is untouched, and the next rewrite works and cleans up.
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
        EXPECT_EQ(ReadFile(Temp()), "replacement") << step;
    }
    tFileEditor e(R.get());
    ASSERT_TRUE(e.Load());
    e.Text += "added";
    ASSERT_TRUE(e.Save());
    EXPECT_EQ(ReadFile(path), original + "added");
    EXPECT_FALSE(fs::exists(Temp()));
}

}  // namespace
}  // namespace quillard::test
