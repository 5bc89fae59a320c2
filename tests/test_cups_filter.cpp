// The CUPS filter quillardtopdf: run as CUPS runs it (arguments, standard
// input and output, messages, TMPDIR), and inside a private cupsd whose
// ServerBin holds it beside the system's filters, printing a report that a
// client submits with lp.
#include "tests/cupsserver.h"
#include "tests/windowtest.h"

#include "app/cupsfilter.h"
#include "engine/printer.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <optional>
#include <string>
#include <vector>

namespace quillard::test {
namespace {

struct TFilterRun {
    int Code = -1;
    std::string Pdf, Messages;
    QStringList LeftInTmp;  // what the run left in its TMPDIR
};

// Runs the filter with Args after its name, Input on standard input, in a
// TMPDIR of its own.
TFilterRun RunFilter(const QStringList& Args, const std::string& Input, const std::string& Ppd = {})
{
    QTemporaryDir tmp;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp.path());
    if (!Ppd.empty())
        env.insert("PPD", QString::fromStdString(Ppd));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QUILLARD_FILTER), Args);
    TFilterRun run;
    if (!p.waitForStarted(10000))
        return run;
    p.write(Input.data(), static_cast<qint64>(Input.size()));
    p.closeWriteChannel();
    p.waitForFinished(60000);
    run.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.Pdf = p.readAllStandardOutput().toStdString();
    run.Messages = p.readAllStandardError().toStdString();
    run.LeftInTmp = QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    return run;
}

std::string WriteTo(const QTemporaryDir& Dir, const std::string& Name, const std::string& Bytes)
{
    const std::string path = Dir.filePath(QString::fromStdString(Name)).toStdString();
    std::ofstream(path, std::ios::binary) << Bytes;
    return path;
}

const std::string HeaderA4Landscape = "{INIT PAPER=A4 ORIENTATION=LANSCAPE}\r\nQuarterly statement\r\n\fSecond page\r\n";
const std::string NoHeader = "Quarterly statement\r\nwithout a header\r\n";

struct FilterCase {
    const char* Name;
    std::string Report;
    std::string Options;
    const char* Size;  // as pdfinfo says it, "" for a failed run
    int Pages;
    const char* Said;  // a line the run must say on stderr
};

class FilterConventionTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterConventionTest, ReportInPdfOutMessagesOnStderr)
{
    const FilterCase& c = GetParam();
    const TFilterRun run = RunFilter({"42", "ann", "Statement", "1", QString::fromStdString(c.Options)}, c.Report);
    EXPECT_TRUE(run.LeftInTmp.isEmpty()) << run.LeftInTmp.join(", ").toStdString();
    EXPECT_NE(run.Messages.find(c.Said), std::string::npos) << run.Messages;
    if (*c.Size == '\0') {
        EXPECT_EQ(run.Code, 1);
        EXPECT_TRUE(run.Pdf.empty());
        return;
    }
    ASSERT_EQ(run.Code, 0) << run.Messages;
    ASSERT_EQ(run.Pdf.compare(0, 5, "%PDF-"), 0);
    QTemporaryDir dir;
    const std::string pdf = WriteTo(dir, "out.pdf", run.Pdf);
    const auto info = PdfInfo(pdf);
    EXPECT_EQ(info.at("Pages"), std::to_string(c.Pages));
    EXPECT_EQ(info.at("Page size").substr(0, std::string(c.Size).size()), c.Size);
    EXPECT_EQ(info.at("Title"), "Statement");
    EXPECT_EQ(PdfPageTexts(pdf).at(0).find("Quarterly statement"), 0u) << PdfPageTexts(pdf).at(0);
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, FilterConventionTest,
    ::testing::Values(
        // The report's header goes over the queue's paper and orientation.
        FilterCase{"HeaderOverTheJobsMedia", HeaderA4Landscape, "media=Letter", "842 x 595", 2, "ATTR: job-impressions=2"},
        // Without a header: the job's media and orientation.
        FilterCase{"JobsMediaAndOrientation", NoHeader, "media=iso_a5_148x210mm orientation-requested=4", "595 x 420",
                   1, "INFO: "},
        FilterCase{"PpdNameOfTheMedia", NoHeader, "PageSize=Legal", "612 x 1008", 1, "INFO: "},
        FilterCase{"MediaWithTypeAndSource", NoHeader, "media=A4,plain,tray-1", "595 x 842", 1, "INFO: "},
        // Options the filter does not know are the queue's business.
        FilterCase{"UnknownOptionsAreLeftAlone", NoHeader, "job-uuid=urn:uuid:1 frobnicate=yes", "612 x 792", 1,
                   "INFO: "},
        FilterCase{"UnknownPaperIsSaidAndLetterUsed", NoHeader, "media=na_unheard-of_3x3in", "612 x 792", 1,
                   "WARNING: "},
        FilterCase{"EmptyInputIsAnError", "", "", "", 0, "ERROR: the report is empty"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(FilterConvention, WrongArgumentsAndAReportFileNamed)
{
    TFilterRun usage = RunFilter({"42", "ann", "t"}, NoHeader);
    EXPECT_EQ(usage.Code, 1);
    EXPECT_NE(usage.Messages.find("Usage: quillardtopdf job-id user title copies options [file]"), std::string::npos);

    QTemporaryDir dir;
    const std::string report = WriteTo(dir, "report.txt", HeaderA4Landscape);
    const TFilterRun named = RunFilter({"42", "ann", "Statement", "1", "", QString::fromStdString(report)}, "");
    EXPECT_EQ(named.Code, 0) << named.Messages;
    EXPECT_EQ(named.Pdf.compare(0, 5, "%PDF-"), 0);
    EXPECT_TRUE(named.LeftInTmp.isEmpty());

    const TFilterRun missing =
        RunFilter({"42", "ann", "t", "1", "", QString::fromStdString(dir.filePath("absent.txt").toStdString())}, "");
    EXPECT_EQ(missing.Code, 1);
    EXPECT_NE(missing.Messages.find("ERROR: the report "), std::string::npos) << missing.Messages;
}

// A job cancelled while its report still comes in (cupsd sends SIGTERM; a
// terminal SIGINT or SIGHUP) takes its folder, and the copy of the report
// in it, with it: TMPDIR is left as it was, and the filter ends by the
// signal sent.
TEST(FilterConvention, ACancelledJobLeavesNothingInTmpdir)
{
    std::string report = "{INIT PAPER=A4}\r\n";
    while (report.size() < 256 * 1024)
        report += "Quarterly statement, a line of a long report still being sent\r\n";
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(::strsignal(sig));
        QTemporaryDir tmp;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(QUILLARD_FILTER), {"42", "ann", "Statement", "1", ""});
        ASSERT_TRUE(p.waitForStarted(10000));
        // Part of the report; standard input stays open.
        p.write(report.data(), static_cast<qint64>(report.size()));
        auto spooled = [&] {
            const QStringList jobs = QDir(tmp.path()).entryList({"quillardtopdf.*"}, QDir::Dirs);
            return jobs.size() == 1 &&
                   QFileInfo(tmp.filePath(jobs[0] + "/report.txt")).size() >= static_cast<qint64>(report.size());
        };
        WAIT_UNTIL(spooled(), 30000);
        ASSERT_EQ(::kill(static_cast<pid_t>(p.processId()), sig), 0);
        ASSERT_TRUE(p.waitForFinished(30000)) << "the filter did not end on " << ::strsignal(sig);
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << p.readAllStandardError().toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
        const QStringList left = QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
    }
}

// The queue's PPD gives the paper when the job names none.
TEST(FilterConvention, ThePpdsDefaultPaperWhenTheJobNamesNone)
{
    QTemporaryDir dir;
    const std::string ppd =
        WritePpd(dir.filePath("a4.ppd").toStdString(), {{"*DefaultPageSize:", "*DefaultPageSize: A4"}});
    const TFilterRun run = RunFilter({"42", "ann", "Statement", "1", ""}, NoHeader, ppd);
    ASSERT_EQ(run.Code, 0) << run.Messages;
    const std::string pdf = WriteTo(dir, "out.pdf", run.Pdf);
    EXPECT_EQ(PdfInfo(pdf).at("Page size").substr(0, 9), "595 x 842");
}

// With the queue's PPD the page is the printable area of its sheet, as a
// printer lays a report out: text at the page's left edge starts at the
// unprintable margin, and a margin the header gives from the sheet's edge
// stays where it is. A landscape page turns the margins with it.
TEST(FilterConvention, ThePageIsThePrintableAreaOfThePpdsSheet)
{
    QTemporaryDir dir;
    // Letter with half an inch unprintable left and right, a quarter inch
    // at the top and the bottom.
    const std::string ppd = WritePpd(dir.filePath("margins.ppd").toStdString(),
                                     {{"*ImageableArea Letter/", "*ImageableArea Letter/Letter: \"36 18 576 774\""}});
    auto firstWord = [&](const std::string& Report, const std::string& Ppd) {
        const TFilterRun run = RunFilter({"42", "ann", "t", "1", "media=Letter"}, Report, Ppd);
        EXPECT_EQ(run.Code, 0) << run.Messages;
        const std::string pdf = WriteTo(dir, "out.pdf", run.Pdf);
        const std::vector<TPdfWord> words = PdfWords(pdf);
        return words.empty() ? TPdfWord{} : words.front();
    };
    const std::string plain = "Margins\r\n";
    const TPdfWord sheet = firstWord(plain, ""), printable = firstWord(plain, ppd);
    EXPECT_NEAR(printable.XMin - sheet.XMin, 36, 1);
    EXPECT_NEAR(printable.YMin - sheet.YMin, 18, 1);
    const std::string fromEdges = "{INIT LEFT=1 TOP=1}\r\nMargins\r\n";
    const TPdfWord edgeSheet = firstWord(fromEdges, ""), edgePrintable = firstWord(fromEdges, ppd);
    EXPECT_NEAR(edgePrintable.XMin, edgeSheet.XMin, 1);
    EXPECT_NEAR(edgePrintable.YMin, edgeSheet.YMin, 1);
    EXPECT_NEAR(edgeSheet.XMin, 72, 3);
    // Landscape: the page's top is the sheet's left edge (half an inch), its
    // left the sheet's bottom (a quarter inch).
    const std::string turned = "{INIT ORIENTATION=LANSCAPE}\r\nMargins\r\n";
    const TPdfWord turnedSheet = firstWord(turned, ""), turnedPrintable = firstWord(turned, ppd);
    EXPECT_NEAR(turnedPrintable.XMin - turnedSheet.XMin, 18, 1);
    EXPECT_NEAR(turnedPrintable.YMin - turnedSheet.YMin, 36, 1);
}

TEST(FilterPaper, MediaNamesOfCupsAndPpds)
{
    EXPECT_EQ(PaperOfMedia("A4"), 9);  // DMPAPER_A4
    EXPECT_EQ(PaperOfMedia("iso_a4_210x297mm"), 9);
    EXPECT_EQ(PaperOfMedia("Letter"), DMPAPER_LETTER);
    EXPECT_EQ(PaperOfMedia("na_legal_8.5x14in"), 5);  // DMPAPER_LEGAL
    EXPECT_EQ(PaperOfMedia("plain"), 0);
    EXPECT_EQ(PaperOfMedia(""), 0);
}

// The spooler a test started is no longer the one asked once the test ends:
// CUPS_SERVER goes back to what it was.
struct TServerRestored {
    std::optional<std::string> Old;
    TServerRestored()
    {
        if (const char* old = std::getenv("CUPS_SERVER"))
            Old = old;
    }
    ~TServerRestored()
    {
        if (Old) {
            ::setenv("CUPS_SERVER", Old->c_str(), 1);
            cupsSetServer(Old->c_str());
        } else {
            ::unsetenv("CUPS_SERVER");
            cupsSetServer(nullptr);
        }
    }
};

// A client's lp to a private cupsd whose filters and MIME files hold ours:
// the report prints on a PDF queue with its header's paper and orientation
// (the queue's own filters put the landscape page on the sheet as it is fed).
TEST(FilterInCups, AReportSubmittedWithLpPrintsWithItsHeadersPaper)
{
    ASSERT_FALSE(GenericPdfPpd().empty()) << "the Generic PDF driver of cups-filters is missing";
    const TServerRestored restored;
    {
        TCupsServer cups;
        cups.AddFilter(QUILLARD_FILTER);
        cups.AddConfFile("quillard.types", ReadFile(QUILLARD_SOURCE_DIR "/packaging/quillard.types"));
        cups.AddConfFile("quillard.convs", ReadFile(QUILLARD_SOURCE_DIR "/packaging/quillard.convs"));
        ASSERT_TRUE(cups.Start()) << cups.Error();
        ASSERT_TRUE(cups.AddQueue("OFFICE", GenericPdfPpd(), {"-o", "media=A4"}));
        QTemporaryDir dir;
        const std::string report = WriteTo(dir, "statement.txt", HeaderA4Landscape);
        int code = -1;
        std::string err;
        RunProgram("lp", {"-h", cups.Socket(), "-d", "OFFICE", "-o", "document-format=application/vnd.quillard-report",
                          report},
                   &code, &err);
        ASSERT_EQ(code, 0) << err;
        ASSERT_TRUE(cups.WaitUntilIdle(60)) << cups.Log();
        const std::vector<TCupsServer::TJob> jobs = cups.Jobs();
        ASSERT_EQ(jobs.size(), 1u);
        EXPECT_EQ(jobs[0].State, IPP_JSTATE_COMPLETED) << cups.Log();
        const std::string printed = cups.OutputFile("OFFICE");
        const auto info = PdfInfo(printed);
        EXPECT_EQ(info.count("Pages") ? info.at("Pages") : "", "2") << cups.Log();
        std::string all;
        for (const auto& [k, v] : info)
            all += k + "=" + v + "; ";
        EXPECT_EQ(info.count("Page size") ? info.at("Page size").substr(0, 9) : "", "595 x 842") << all;
        // A landscape page on the sheet as the printer feeds it: its lines
        // run up the portrait A4 sheet.
        bool sideways = false;
        for (const TPdfWord& w : PdfWords(printed))
            if (w.Page == 1 && w.Text == "Quarterly")
                sideways = (w.YMax - w.YMin) > 2 * (w.XMax - w.XMin);
        EXPECT_TRUE(sideways) << "the landscape page was not turned onto the sheet";
        const std::vector<std::string> pages = PdfPageTexts(printed);
        ASSERT_EQ(pages.size(), 2u);
        EXPECT_NE(pages[0].find("Quarterly statement"), std::string::npos) << pages[0];
        EXPECT_NE(pages[1].find("Second page"), std::string::npos) << pages[1];

        // A page range is the queue's to honour, as for any PDF.
        RunProgram("lp", {"-h", cups.Socket(), "-d", "OFFICE", "-o", "document-format=application/vnd.quillard-report",
                          "-o", "page-ranges=2", report},
                   &code, &err);
        ASSERT_EQ(code, 0) << err;
        ASSERT_TRUE(cups.WaitUntilIdle(60)) << cups.Log();
        const std::vector<std::string> ranged = PdfPageTexts(printed);
        ASSERT_EQ(ranged.size(), 1u) << cups.Log();
        EXPECT_NE(ranged[0].find("Second page"), std::string::npos) << ranged[0];
        cups.Stop();
    }
}

// The job's log says a message the report makes again and again once, and
// how often at the end.
TEST(FilterConvention, ARepeatedMessageIsLoggedOnceWithItsCount)
{
    std::string spans;
    for (int i = 0; i < 10000; ++i)
        spans += "{SPAN}";
    const TFilterRun run = RunFilter({"42", "ann", "t", "1", ""}, spans + "x\r\n");
    ASSERT_EQ(run.Code, 0) << run.Messages;
    std::vector<std::string> warnings;
    for (const QString& line : QString::fromStdString(run.Messages).split('\n'))
        if (line.startsWith("WARNING:"))
            warnings.push_back(line.toStdString());
    ASSERT_EQ(warnings.size(), 2u) << run.Messages;
    EXPECT_EQ(warnings[1], warnings[0] + " (9,981 times in all)");
}

// A job is a stranger's: run as CUPS runs filters (the user lp, in the spool
// folder, whose files the group lp may read), its report cannot bring
// another job's file, or any file of the server, into its PDF, and the PDF
// is the same whether what it names exists or not. Only the folder of
// pictures the administrator names is open to it, and nothing in it goes.
TEST(FilterTrust, AJobReadsNoFileOfTheServerButThePictureFolder)
{
    const passwd* lp = ::getpwnam("lp");
    ASSERT_NE(lp, nullptr) << "no user lp";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string root = dir.path().toStdString(), spool = root + "/spool", tmp = root + "/tmp",
                      pictures = root + "/pictures";
    ::chmod(root.c_str(), 0755);
    for (const std::string& d : {spool, tmp, pictures})
        ASSERT_EQ(::mkdir(d.c_str(), 0755), 0);
    // CUPS's own permissions: the spool folder and its files are root's,
    // for the group lp to reach and read.
    ASSERT_EQ(::chown(spool.c_str(), 0, lp->pw_gid), 0);
    ::chmod(spool.c_str(), 0710);
    ASSERT_EQ(::chown(tmp.c_str(), lp->pw_uid, lp->pw_gid), 0);
    QImage blue(40, 30, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    const std::string otherJob = spool + "/d00041-001";
    ASSERT_TRUE(blue.save(QString::fromStdString(pictures + "/LOGO.BMP"), "BMP"));
    ASSERT_EQ(::symlink(otherJob.c_str(), (pictures + "/LINK.BMP").c_str()), 0);
    const std::string report = "{IMAGE SRC=d00041-001 FORMAT=BMP}\r\n{IMAGE SRC=" + otherJob +
                               " FORMAT=BMP}\r\n{IMAGE SRC=../spool/d00041-001 FORMAT=BMP}\r\n"
                               "{IMAGE SRC=LINK.BMP}\r\n{IMAGE SRC=logo.bmp DELETE=YES}\r\nEnd\r\n";
    const std::string job = spool + "/d00042-001";
    std::ofstream(job, std::ios::binary) << report;
    ASSERT_EQ(::chown(job.c_str(), 0, lp->pw_gid), 0);
    ::chmod(job.c_str(), 0640);

    auto print = [&] {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", QString::fromStdString(tmp));
        env.insert("SOURCE_DATE_EPOCH", "1700000000");
        env.insert("QUILLARD_PICTURE_FOLDER", QString::fromStdString(pictures));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(QString::fromStdString(spool));
        p.start("setpriv", {"--reuid=" + QString::number(lp->pw_uid), "--regid=" + QString::number(lp->pw_gid),
                            "--clear-groups", "--", QStringLiteral(QUILLARD_FILTER), "42", "ann", "t", "1", "",
                            QString::fromStdString(job)});
        p.closeWriteChannel();
        p.waitForFinished(60000);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return p.readAllStandardOutput().toStdString();
    };
    auto images = [](const std::string& Pdf) {
        int n = 0;
        for (size_t at = Pdf.find("/Subtype /Image"); at != std::string::npos; at = Pdf.find("/Subtype /Image", at + 1))
            ++n;
        return n;
    };

    // The other job's picture there (readable by the group lp), then gone.
    ASSERT_TRUE(blue.save(QString::fromStdString(otherJob), "BMP"));
    ASSERT_EQ(::chown(otherJob.c_str(), 0, lp->pw_gid), 0);
    ::chmod(otherJob.c_str(), 0640);
    const std::string withFile = print();
    ASSERT_EQ(std::remove(otherJob.c_str()), 0);
    const std::string withoutFile = print();

    ASSERT_TRUE(withFile.starts_with("%PDF-"));
    EXPECT_EQ(withFile, withoutFile) << "the PDF tells whether the server has the file";
    EXPECT_EQ(images(withFile), 1) << "only the picture folder's LOGO.BMP is drawn";
    for (const char* name : {"D00041-001", "../SPOOL/D00041-001", "LINK.BMP"})
        EXPECT_NE(withFile.find(std::string("Could Not Load Graphic: ") + name), std::string::npos) << name;
    EXPECT_TRUE(QFile::exists(QString::fromStdString(pictures + "/LOGO.BMP"))) << "a job deleted a picture";
}

// Numbered lines of text, each ending with End.
std::string NumberedLines(int Count, const std::string& End)
{
    std::string text;
    for (int i = 1; i <= Count; ++i)
        text += "line " + std::to_string(i) + " of the listing" + End;
    return text;
}

std::string AllText(const std::string& Pdf)
{
    std::string all;
    for (const std::string& page : PdfPageTexts(Pdf))
        all += page;
    return all;
}

// The job options that lay a report out, each changing what prints.
struct FilterOptionCase {
    const char* Name;
    std::string Report;
    std::string Options;
    int Pages;
    std::string Shows;    // text the PDF must hold, "" for none
    std::string Hides;    // text it must not, "" for none
    const char* Said;     // a line start the run must say on stderr, "" for none
};

const std::string Tagged = "Total {B}due{/B} today\n";
const std::string Twenty = [] {
    std::string s;
    for (int i = 0; i < 20; ++i)
        s += i ? " word" : "word";
    return s;
}();  // 99 characters: wider than Letter's 8 inches at 10 an inch (80), not at 17 (136)

class FilterOptionTest : public ::testing::TestWithParam<FilterOptionCase> {};

TEST_P(FilterOptionTest, TheJobsOptionsLayTheReportOut)
{
    const FilterOptionCase& c = GetParam();
    const TFilterRun run = RunFilter({"42", "ann", "t", "1", QString::fromStdString(c.Options)}, c.Report);
    ASSERT_EQ(run.Code, 0) << run.Messages;
    EXPECT_NE(run.Messages.find(c.Said), std::string::npos) << run.Messages;
    QTemporaryDir dir;
    const std::string pdf = WriteTo(dir, "out.pdf", run.Pdf);
    EXPECT_EQ(PdfInfo(pdf).at("Pages"), std::to_string(c.Pages));
    const std::string text = AllText(pdf);
    if (!c.Shows.empty())
        EXPECT_NE(text.find(c.Shows), std::string::npos) << text;
    if (!c.Hides.empty())
        EXPECT_EQ(text.find(c.Hides), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    FilterOptions, FilterOptionTest,
    ::testing::Values(
        // A text file with a tag is a report unless the job says plain.
        FilterOptionCase{"TaggedTextIsAReport", Tagged, "", 1, "Total due today", "{B}", ""},
        FilterOptionCase{"PlainTrueKeepsTheBraces", Tagged, "plain=true", 1, "Total {B}due{/B} today", "", ""},
        FilterOptionCase{"BarePlainMeansTrue", Tagged, "plain", 1, "Total {B}due{/B} today", "", ""},
        // 100 lines of a text file: two line printer's pages, or one report
        // page whose lines run off its bottom.
        FilterOptionCase{"UntaggedTextIsPlain", NumberedLines(100, "\n"), "", 2, "line 100 of", "", ""},
        FilterOptionCase{"PlainFalseLaysItOutAsAReport", NumberedLines(100, "\n"), "plain=false", 1, "line 1 of",
                         "line 100 of", "WARNING: "},
        FilterOptionCase{"PaginateBreaksAReportsFullPages", NumberedLines(100, "\r\n"), "paginate=true", 2,
                         "line 100 of", "", ""},
        FilterOptionCase{"LinesPerPage", NumberedLines(25, "\n"), "lines-per-page=10", 3, "line 25 of", "", ""},
        // Two lines an inch down 10.5 inches within the margins: 21 a page.
        FilterOptionCase{"LinesAnInch", NumberedLines(50, "\n"), "lpi=2", 3, "line 50 of", "", ""},
        // 99 characters wrap at 10 an inch, not at 17.
        FilterOptionCase{"CharactersAnInch", Twenty + "\n", "cpi=17", 1, Twenty, "", ""},
        FilterOptionCase{"TenAnInchWithout", Twenty + "\n", "", 1, "", Twenty, ""},
        FilterOptionCase{"DecimalCharactersAnInch", Twenty + "\n", "cpi=16.67", 1, Twenty, "", ""},
        // Byte 0x82 is é in CP437, a low quotation mark in Windows-1252 (a
        // report with carriage returns is read as Windows-1252 by itself).
        FilterOptionCase{"EncodingCp437", "caf\x82 cr\x8ame\r\n", "encoding=cp437", 1, "café crème", "", ""},
        FilterOptionCase{"EncodingAutoOfAReport", "caf\x82\r\n", "", 1, "caf\u201a", "", ""},
        // A value the filter cannot take is said, and the option left out.
        FilterOptionCase{"BadLinesPerPage", NumberedLines(25, "\n"), "lines-per-page=0", 1, "line 25 of", "",
                         "WARNING: the job option lines-per-page=0 is not"},
        FilterOptionCase{"BadCpi", Twenty + "\n", "cpi=12,5", 1, "", Twenty, "WARNING: the job option cpi=12,5 is not"},
        FilterOptionCase{"BadPlain", Tagged, "plain=maybe", 1, "Total due today", "",
                         "WARNING: the job option plain=maybe is not"},
        FilterOptionCase{"BadEncoding", "caf\x82\r\n", "encoding=latin9", 1, "caf\u201a", "",
                         "WARNING: the job option encoding=latin9 is not"},
        FilterOptionCase{"BadLineEnds", Tagged, "line-ends=dos", 1, "Total due today", "",
                         "WARNING: the job option line-ends=dos is not"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A manual page as `man -P cat` writes it (LF line ends, indented words,
// braces and ampersands of its own) prints whole: every word back, on as
// many pages as a line printer's sheet takes (66 lines on Letter, 70 on A4).
TEST(FilterPlainText, AManualPagePrintsEveryWordOnALinePrintersPages)
{
    std::string page;
    for (int i = 1; i <= 139; ++i)
        page += (i % 7 == 1 ? "SECTION " : "       ") + std::to_string(i) + " cp {a,b} x && y | z <file> $HOME\n";
    std::vector<std::string> words;
    for (const QString& w : QString::fromStdString(page).split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        words.push_back(w.toStdString());
    QTemporaryDir dir;
    for (const auto& [media, pages] : {std::pair{"media=Letter", 3}, std::pair{"media=A4", 2}}) {
        const TFilterRun run = RunFilter({"42", "ann", "t", "1", media}, page);
        ASSERT_EQ(run.Code, 0) << run.Messages;
        EXPECT_EQ(run.Messages.find("WARNING:"), std::string::npos) << run.Messages;
        const std::string pdf = WriteTo(dir, "man.pdf", run.Pdf);
        EXPECT_EQ(PdfInfo(pdf).at("Pages"), std::to_string(pages)) << media;
        std::vector<std::string> printed;
        for (const QString& w :
             QString::fromStdString(AllText(pdf)).split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
            printed.push_back(w.toStdString());
        EXPECT_EQ(printed, words) << media;
    }
}

// A report's lines below the bottom of its page (carriage returns, no
// PAGINATE) are said in the job's log with their count, before the page
// count.
TEST(FilterPlainText, LinesBelowTheBottomAreSaidWithTheirCount)
{
    const TFilterRun run = RunFilter({"42", "ann", "t", "1", ""}, NumberedLines(100, "\r\n"));
    ASSERT_EQ(run.Code, 0) << run.Messages;
    QTemporaryDir dir;
    const std::string pdf = WriteTo(dir, "out.pdf", run.Pdf);
    ASSERT_EQ(PdfInfo(pdf).at("Pages"), "1");
    int shown = 0;
    for (const TPdfWord& w : PdfWords(pdf))
        shown += w.Text == "line";
    ASSERT_GT(shown, 0);
    ASSERT_LT(shown, 100);
    const std::string said = "WARNING: " + std::to_string(100 - shown) + " lines fell below the bottom of page 1";
    const size_t at = run.Messages.find(said);
    EXPECT_NE(at, std::string::npos) << run.Messages;
    EXPECT_LT(at, run.Messages.find("INFO: The report's")) << run.Messages;
    EXPECT_NE(run.Messages.find("plain=true"), std::string::npos) << run.Messages;
}

// What the spooler printed: the filters it started for the job, from its
// log, and the text of the output.
struct TPrinted {
    int State = 0;
    std::string Filters, Text;
};

// lp of a file without a document format: the spooler types it by its
// content and runs the filters of that type.
TPrinted PrintWithLp(TCupsServer& Cups, const std::string& File)
{
    int code = -1;
    std::string err;
    const size_t logAt = ReadFile(Cups.Dir() + "/log/error_log").size();
    RunProgram("lp", {"-h", Cups.Socket(), "-d", "OFFICE", File}, &code, &err);
    TPrinted printed;
    EXPECT_EQ(code, 0) << err;
    EXPECT_TRUE(Cups.WaitUntilIdle(60)) << Cups.Log();
    const std::vector<TCupsServer::TJob> jobs = Cups.Jobs();
    if (code != 0 || jobs.empty())
        return printed;
    printed.State = jobs.back().State;
    const std::string log = ReadFile(Cups.Dir() + "/log/error_log").substr(logAt);
    for (const QString& line : QString::fromStdString(log).split('\n'))
        if (line.contains("Started filter "))
            printed.Filters += line.section('/', -1).section(' ', 0, 0).toStdString() + " ";
    printed.Text = AllText(Cups.OutputFile("OFFICE"));
    return printed;
}

// A report is known by its content: lp of QUILLARD.TXT holding markup,
// with or without a UTF-8 byte-order mark, goes through quillardtopdf,
// while a text file without tags keeps the system's own text filter,
// unless the administrator has put the commented text/plain line of
// quillard.convs in place.
TEST(FilterInCups, ReportsAreTypedByTheirContentAndPlainTextIsNotTaken)
{
    ASSERT_FALSE(GenericPdfPpd().empty()) << "the Generic PDF driver of cups-filters is missing";
    const TServerRestored restored;
    const std::string convs = ReadFile(QUILLARD_SOURCE_DIR "/packaging/quillard.convs");
    const size_t optIn = convs.find("\n#text/plain ");
    ASSERT_NE(optIn, std::string::npos) << "quillard.convs has no commented text/plain line";
    const std::string textLine = convs.substr(optIn + 2, convs.find('\n', optIn + 1) - optIn - 2);
    QTemporaryDir dir;
    const std::string report = WriteTo(dir, "QUILLARD.TXT", "{INIT PAPER=A4}\r\n{B}Quarterly{/B} statement\r\n");
    ASSERT_TRUE(QDir(dir.path()).mkdir("bom"));
    const std::string withBom = WriteTo(dir, "bom/QUILLARD.TXT", "\xEF\xBB\xBFNotes {FONT NAME=Arial}in Arial\r\n");
    const std::string notes = WriteTo(dir, "notes.txt", "Plain notes {about} braces\n");
    for (const bool textOptIn : {false, true}) {
        TCupsServer cups;
        cups.AddFilter(QUILLARD_FILTER);
        cups.AddConfFile("quillard.types", ReadFile(QUILLARD_SOURCE_DIR "/packaging/quillard.types"));
        cups.AddConfFile("quillard.convs", convs);
        if (textOptIn)
            cups.AddConfFile("quillard-text.convs", textLine + "\n");
        ASSERT_TRUE(cups.Start()) << cups.Error();
        ASSERT_TRUE(cups.AddQueue("OFFICE", GenericPdfPpd(), {"-o", "media=A4"}));
        if (!textOptIn) {
            const TPrinted printed = PrintWithLp(cups, report);
            EXPECT_EQ(printed.State, IPP_JSTATE_COMPLETED) << cups.Log();
            EXPECT_EQ(printed.Filters.find("quillardtopdf "), 0u) << printed.Filters;
            EXPECT_NE(printed.Text.find("Quarterly statement"), std::string::npos) << printed.Text;
            EXPECT_EQ(printed.Text.find('{'), std::string::npos) << printed.Text;
            const TPrinted bom = PrintWithLp(cups, withBom);
            EXPECT_EQ(bom.Filters.find("quillardtopdf "), 0u) << bom.Filters;
            EXPECT_NE(bom.Text.find("Notes in Arial"), std::string::npos) << bom.Text;
        }
        const TPrinted text = PrintWithLp(cups, notes);
        EXPECT_EQ(text.State, IPP_JSTATE_COMPLETED) << cups.Log();
        EXPECT_EQ(text.Filters.find(textOptIn ? "quillardtopdf " : "texttopdf "), 0u) << text.Filters;
        // (texttopdf's PDF has no text to read back.)
        if (textOptIn)
            EXPECT_NE(text.Text.find("Plain notes {about} braces"), std::string::npos) << text.Text;
        cups.Stop();
    }
}

}  // namespace
}  // namespace quillard::test
