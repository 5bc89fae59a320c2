// The headless command line, run as a real process: page counts, page
// pictures, and the exit codes and messages of failed runs.
#include "app/cli.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

TRun Quillard(const QStringList& Args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");  // the program must choose offscreen itself
    // No print spooler: pages are laid out on the assumed Letter page.
    env.insert("CUPS_SERVER", "/nonexistent/quillard-no-cups.sock");
    p.setProcessEnvironment(env);
    p.start(QUILLARD_BINARY, Args);
    p.waitForFinished(120000);
    TRun r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput().toStdString();
    r.Err = p.readAllStandardError().toStdString();
    return r;
}

const QString Example = QStringLiteral(QUILLARD_SOURCE_DIR "/examples/statement.txt");

TEST(CommandLine, CountPagesAgreesWithFormFeedsAndPageTags)
{
    TRun r = Quillard({"--count-pages", Example});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "3\n");
}

TEST(CommandLine, PngDrawsThePageAtTheZoom)
{
    QTemporaryDir dir;
    const QString out = dir.filePath("p2.png");
    TRun r = Quillard({"--png", out, "--page", "2", "--zoom", "50", Example});
    ASSERT_EQ(r.Code, 0) << r.Err;
    QImage img(out);
    ASSERT_FALSE(img.isNull());
    // The printable area of the assumed Letter page, 8.25 x 10.96 inches, at 48 dpi.
    EXPECT_EQ(img.width(), 396);
    EXPECT_EQ(img.height(), 526);
    int ink = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ink += qGray(img.pixel(x, y)) < 128;
    EXPECT_GT(ink, 200);

    const QString full = dir.filePath("p1.png");
    ASSERT_EQ(Quillard({"--png", full, Example}).Code, 0);
    EXPECT_EQ(QImage(full).width(), 792);
}

struct FailCase {
    const char* Name;
    QStringList Args;
    int Code;
    const char* Message;
};

class CommandLineFailure : public ::testing::TestWithParam<FailCase> {};

TEST_P(CommandLineFailure, ExitsNonZeroWithAMessage)
{
    TRun r = Quillard(GetParam().Args);
    EXPECT_EQ(r.Code, GetParam().Code);
    EXPECT_NE(r.Err.find(GetParam().Message), std::string::npos) << r.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CommandLineFailure,
    ::testing::Values(FailCase{"MissingReport", {"--count-pages", "/nonexistent/REPORT.TXT"}, 1, "cannot open"},
                      FailCase{"FolderAsReport", {"--count-pages", "/tmp"}, 1, "is a folder"},
                      FailCase{"PageBeyondTheEnd", {"--png", "/tmp/quillard-never.png", "--page", "9", Example}, 1, "there is no page 9"},
                      FailCase{"BadPage", {"--png", "/tmp/x.png", "--page", "0", Example}, 2, "--page needs"},
                      FailCase{"BadZoom", {"--png", "/tmp/x.png", "--zoom", "abc", Example}, 2, "--zoom needs"},
                      FailCase{"UnknownOption", {"--frobnicate", Example}, 2, "unknown option"},
                      FailCase{"NoReport", {"--count-pages"}, 2, "no report named"},
                      FailCase{"UnwritablePicture", {"--png", "/nonexistent/dir/x.png", Example}, 1, "cannot write"},
                      FailCase{"BadLineEnds", {"--count-pages", "--line-ends=dos", Example}, 2, "--line-ends needs auto, printer or unix"},
                      FailCase{"BadPaper", {"--count-pages", "--paper", "A9", Example}, 2, "--paper needs a paper name"},
                      FailCase{"BadMargins", {"--count-pages", "--margins=1in,2in", Example}, 2, "--margins needs one margin"},
                      FailCase{"TwoLineHeights", {"--count-pages", "--lpi=6", "--lines-per-page=60", Example}, 2, "choose one"},
                      FailCase{"WaitOfNoSeconds", {"--print", "--wait=0", Example}, 2,
                               "quillard: --wait needs a number of seconds from 1 to 86400, not \"0\"\n"},
                      // lp's value-less -o passes: the run goes on to find no spooler.
                      FailCase{"LandscapeAsLpTakesIt", {"--print", "-o", "landscape", "-o", "fit-to-page", Example}, 1,
                               "no printer to print on"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Every usage error names the option and what was typed with it (an
// option with nothing after it says the form it is written in).
TEST(CommandLine, UsageErrorsNameWhatWasTyped)
{
    struct Case {
        std::vector<std::string> Args;
        const char* Error;
    };
    const Case cases[] = {
        {{"--print", "--wait=0", "r.txt"}, "--wait needs a number of seconds from 1 to 86400, not \"0\""},
        {{"--print", "--copies", "1000", "r.txt"}, "--copies needs a number from 1 to 999, not \"1000\""},
        {{"--print", "--copies"}, "--copies needs a number from 1 to 999"},
        {{"--pdf", "o.pdf", "--pages=3-2", "r.txt"},
         "--pages needs a page range such as 2-5 (pages from 1 to 1000000), not \"3-2\""},
        {{"--png", "p.png", "--page=0", "r.txt"}, "--page needs a page number from 1 to 1000000, not \"0\""},
        {{"--png"}, "--png needs the name of the picture to write"},
        {{"--png", "p.png", "--pdf"}, "--pdf needs the name of the PDF file to write"},
        {{"--print", "--printer=", "r.txt"}, "--printer needs the name of a printer, not \"\""},
        {{"--print", "-o", "=x", "r.txt"}, "-o needs an option as NAME=VALUE or a NAME alone, not \"=x\""},
        {{"--print", "--option", "two words", "r.txt"},
         "--option needs an option as NAME=VALUE or a NAME alone, not \"two words\""},
        {{"--print", "-o"},
         "-o needs an option as NAME=VALUE or a NAME alone, such as -o sides=two-sided-long-edge or -o landscape"},
        {{"--print", "--duplex=both", "r.txt"}, "--duplex needs long, short or off, not \"both\""},
        {{"--print", "--duplex", "r.txt"}, "--duplex needs long, short or off: --duplex=long"},
        {{"--pdf", "o.pdf", "--line-draw-font=maybe", "r.txt"}, "--line-draw-font needs yes or no, not \"maybe\""},
        {{"--count-pages", "--encoding=latin1", "r.txt"}, "--encoding needs auto, utf-8, cp1252 or cp437, not \"latin1\""},
        {{"--count-pages", "--line-ends", "r.txt"}, "--line-ends needs auto, printer or unix: --line-ends=unix"},
        {{"--count-pages", "--paper", "A9", "r.txt"},
         "--paper needs a paper name as the header's PAPER= takes it, such as A4, LETTER or LEGAL, not \"A9\""},
        {{"--count-pages", "--cpi=0", "r.txt"},
         "--cpi needs a number of characters an inch from 1 to 120, such as 12 or 16.67, not \"0\""},
        {{"--count-pages", "--lines-per-page", "x", "r.txt"}, "--lines-per-page needs a number of lines from 1 to 1000, not \"x\""},
        {{"--count-pages", "--margins=1in,2in", "r.txt"},
         "--margins needs one margin for all four sides or four (left,top,right,bottom), each a number with in, cm, "
         "mm or pt, not \"1in,2in\""},
        {{"--count-pages", "--landscape=yes", "r.txt"}, "--landscape takes no value, not \"yes\""},
        {{"--count-pages", "--lpi=6", "--lines-per-page=60", "r.txt"},
         "--lpi 6 and --lines-per-page 60 both set the line height: choose one"},
        {{"--png", "p.png", "--pages", "1-2", "r.txt"},
         "--pages goes with --pdf or --print; a picture takes --page N (\"--pages 1-2\" was given)"},
        {{"--pdf", "o.pdf", "-o", "sides=one-sided", "r.txt"},
         "-o and --duplex go with --print (\"-o sides=one-sided\" was given)"},
        {{"--pdf", "o.pdf", "--wait=5", "r.txt"}, "--wait goes with --print (\"--wait=5\" was given)"},
        {{"--count-pages", "--duplexes", "r.txt"}, "unknown option --duplexes"},
    };
    for (const Case& c : cases) {
        std::string typed;
        for (const std::string& a : c.Args)
            typed += " " + a;
        SCOPED_TRACE(typed);
        EXPECT_EQ(quillard::ParseCommandLine(c.Args).Error, c.Error);
    }
}

// -o takes lp's forms: NAME=VALUE, a NAME alone for NAME=true and noNAME
// for NAME=false; landscape=true is the layout's orientation when printed.
TEST(CommandLine, ValueLessJobOptionsAreTrueOrFalseAsInLp)
{
    const quillard::TCommandLine cl = quillard::ParseCommandLine(
        {"--print", "-o", "landscape", "--option", "fit-to-page", "-o", "nocollate", "-o", "job-priority=80", "r.txt"});
    ASSERT_EQ(cl.Error, "");
    using Options = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(cl.JobOptions,
              (Options{{"landscape", "true"}, {"fit-to-page", "true"}, {"collate", "false"}, {"job-priority", "80"}}));
}

// A FIFO as the report once held the program in open() for ever; a device
// was read as an empty report. Each run ends at once saying what it is.
TEST(CommandLine, ReportThatIsNoRegularFileEndsAtOnceSayingWhatItIs)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("REPORT.TXT"), link = dir.filePath("LINK.TXT");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ASSERT_EQ(::symlink(fifo.toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);
    struct Case {
        QString Report;
        const char* Says;
    };
    for (const Case& c : {Case{fifo, "not a regular file (a FIFO)"}, Case{link, "not a regular file (a FIFO)"},
                          Case{"/dev/zero", "not a regular file (a character device)"}}) {
        for (const QStringList& mode : {QStringList{"--count-pages"}, QStringList{"--png", dir.filePath("p.png")},
                                        QStringList{"--pdf", dir.filePath("p.pdf")}}) {
            SCOPED_TRACE(c.Report.toStdString() + " " + mode.join(' ').toStdString());
            const TRun r = Quillard(mode + QStringList{c.Report});
            EXPECT_EQ(r.Code, 1);
            EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
        }
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("p.png")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("p.pdf")));
}

// Counting the pages of a report or drawing one of its pages only looks at
// it: the pictures it marks DELETE=YES stay (a host counts before it prints).
// Writing it as a PDF is the job done: they go when the program ends, unless
// the job failed.
struct DeleteRunCase {
    const char* Name;
    std::function<QStringList(const QString& Dir)> Args;
    int Code;
    bool PictureGone;
};

void PrintTo(const DeleteRunCase& c, std::ostream* os) { *os << c.Name; }

class DeleteYesRun : public ::testing::TestWithParam<DeleteRunCase> {};

TEST_P(DeleteYesRun, PicturesGoOnlyAfterAJobDone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage pic(30, 20, QImage::Format_RGB32);
    pic.fill(Qt::blue);
    const QString picture = dir.filePath("PIC.BMP");
    ASSERT_TRUE(pic.save(picture, "BMP"));
    const QString report = dir.filePath("REPORT.TXT");
    std::ofstream(report.toStdString(), std::ios::binary) << "{IMAGE SRC=pic.bmp DELETE=YES}\r\nWith a picture\r\n";
    const TRun r = Quillard(GetParam().Args(dir.path()) + QStringList{report});
    EXPECT_EQ(r.Code, GetParam().Code) << r.Err;
    EXPECT_EQ(!QFileInfo::exists(picture), GetParam().PictureGone);
    EXPECT_TRUE(QFileInfo::exists(report));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DeleteYesRun,
    ::testing::Values(DeleteRunCase{"CountPages", [](const QString&) { return QStringList{"--count-pages"}; }, 0, false},
                      DeleteRunCase{"Png", [](const QString& d) { return QStringList{"--png", d + "/p.png"}; }, 0, false},
                      DeleteRunCase{"Pdf", [](const QString& d) { return QStringList{"--pdf", d + "/p.pdf"}; }, 0, true},
                      DeleteRunCase{"PdfThatFails",
                                    [](const QString& d) { return QStringList{"--pdf", d + "/no/such/folder/p.pdf"}; }, 3,
                                    false}),
    [](const auto& info) { return std::string(info.param.Name); });

// A report on standard input that never ends (a pipe the test fills as fast
// as it is read) stops being copied at 1 GiB: the run fails saying so and
// leaves nothing in TMPDIR, the program's and the CUPS filter's alike.
TEST(CommandLine, EndlessStandardInputStopsAtTheLimitLeavingNothing)
{
    struct Case {
        const char* Program;
        QStringList Args;
        const char* Says;
    };
    for (const Case& c : {Case{QUILLARD_BINARY, {"--count-pages", "-"},
                               "the report from standard input is larger than 1 GiB"},
                          Case{QUILLARD_FILTER, {"1", "ann", "Statement", "1", ""},
                               "ERROR: the report could not be read: standard input holds more than 1 GiB"}}) {
        SCOPED_TRACE(c.Program);
        QTemporaryDir tmp;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        env.insert("CUPS_SERVER", "/nonexistent/quillard-no-cups.sock");
        p.setProcessEnvironment(env);
        p.start(c.Program, c.Args);
        ASSERT_TRUE(p.waitForStarted(10000));
        // Lines of a report, 2 GiB at most: a program without a limit ends
        // reading them and succeeds.
        const QByteArray block = QByteArray("A line of a report that never ends\r\n").repeated(30000);
        qint64 fed = 0;
        while (p.state() == QProcess::Running && fed < (qint64(2) << 30)) {
            if (p.bytesToWrite() < 4 * block.size())
                fed += p.write(block);
            p.waitForBytesWritten(1000);
        }
        p.closeWriteChannel();
        p.waitForFinished(60000);
        ASSERT_EQ(p.state(), QProcess::NotRunning);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_LT(fed, qint64(2) << 30);
        const std::string err = p.readAllStandardError().toStdString();
        EXPECT_NE(err.find(c.Says), std::string::npos) << err;
        EXPECT_EQ(QDir(tmp.path()).entryList({"quillard*"}, QDir::AllEntries | QDir::Hidden), QStringList{});
    }
}

TEST(CommandLine, HelpAndVersion)
{
    TRun h = Quillard({"--help"});
    EXPECT_EQ(h.Code, 0);
    EXPECT_NE(h.Out.find("--png"), std::string::npos);
    TRun v = Quillard({"--version"});
    EXPECT_EQ(v.Code, 0);
    EXPECT_EQ(v.Out.rfind("quillard ", 0), 0u);
}

}  // namespace
