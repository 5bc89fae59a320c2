// The CUPS filter quillardtopdf: run as CUPS runs it (arguments, standard
// input and output, messages, TMPDIR), and inside a private cupsd whose
// ServerBin holds it beside the system's filters, printing a report that a
// client submits with lp.
#include "tests/cupsserver.h"

#include "app/cupsfilter.h"
#include "engine/printer.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <cstdlib>
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

// A client's lp to a private cupsd whose filters and MIME files hold ours:
// the report prints on a PDF queue with its header's paper and orientation
// (the queue's own filters put the landscape page on the sheet as it is fed).
TEST(FilterInCups, AReportSubmittedWithLpPrintsWithItsHeadersPaper)
{
    ASSERT_FALSE(GenericPdfPpd().empty()) << "the Generic PDF driver of cups-filters is missing";
    const char* oldServer = std::getenv("CUPS_SERVER");
    const std::optional<std::string> restore = oldServer ? std::optional<std::string>(oldServer) : std::nullopt;
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
    if (restore) {
        ::setenv("CUPS_SERVER", restore->c_str(), 1);
        cupsSetServer(restore->c_str());
    } else {
        ::unsetenv("CUPS_SERVER");
        cupsSetServer(nullptr);
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

}  // namespace
}  // namespace quillard::test
