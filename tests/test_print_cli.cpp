// Printing from the command line, run as a real process against the private
// spooler: --list-printers, --print with its printer, copies and page range,
// and the exit codes and messages of prints that cannot be made.
#include "tests/printtest.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>

namespace quillard::test {
namespace {

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

TRun Quillard(const QStringList& Args, const QString& CupsServer = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    if (!CupsServer.isEmpty())
        env.insert("CUPS_SERVER", CupsServer);
    p.setProcessEnvironment(env);
    p.start(QUILLARD_BINARY, Args);
    p.waitForFinished(120000);
    TRun r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput().toStdString();
    r.Err = p.readAllStandardError().toStdString();
    return r;
}

std::vector<int> JobIds(const std::string& Out)
{
    std::vector<int> ids;
    std::istringstream in(Out);
    std::string line;
    while (std::getline(in, line))
        ids.push_back(std::stoi(line.substr(line.rfind('-') + 1)));
    return ids;
}

std::string FourPages()
{
    std::string r;
    for (int k = 1; k <= 4; ++k)
        r += "Page " + std::to_string(k) + " of the statement\r\n" + (k < 4 ? "\f" : "");
    return r;
}

using CommandLinePrint = PrintTest;

TEST_F(CommandLinePrint, ListsThePrintersWithTheDefaultMarked)
{
    TRun r = Quillard({"--list-printers"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "FILEPDF (default)\nRAW\nTRAYS\n");
}

// The report of {INIT VER=1 PAPER=A4 ORIENTATION=LANSCAPE TRAY=LOWER}
// printed with quillard --print arrives as an A4 landscape job from the lower
// tray with the right title and pages.
TEST_F(CommandLinePrint, PrintsTheReportAsItsHeaderSays)
{
    const std::string report = Write("{INIT VER=1 PAPER=A4 ORIENTATION=LANSCAPE TRAY=LOWER}\r\n" + FourPages(), "STATEMENT.TXT");
    TRun r = Quillard({"--print", QString::fromStdString(report)});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::vector<int> ids = JobIds(r.Out);
    ASSERT_EQ(ids.size(), 1u) << r.Out;
    ASSERT_TRUE(Cups->WaitUntilIdle());

    const auto attrs = Cups->JobAttributes(ids[0]);
    EXPECT_EQ(One(attrs, "job-printer-uri").substr(One(attrs, "job-printer-uri").rfind('/') + 1), "FILEPDF");
    EXPECT_EQ(One(attrs, "job-name"), "Quillard -- " + report);
    EXPECT_EQ(One(attrs, "media"), "iso_a4_210x297mm");
    EXPECT_EQ(One(attrs, "orientation-requested"), "landscape");
    EXPECT_EQ(One(attrs, "media-source"), "bottom");
    EXPECT_EQ(One(attrs, "job-state"), "completed");
    EXPECT_EQ(One(attrs, "job-media-sheets-completed"), "4");

    const std::string out = Cups->OutputFile("FILEPDF");
    const auto info = PdfInfo(out);
    EXPECT_EQ(info.at("Pages"), "4");
    EXPECT_NE(info.at("Page size").find("842 x 595 pts (A4)"), std::string::npos) << info.at("Page size");
    const auto pages = PdfPageTexts(out);
    ASSERT_GE(pages.size(), 4u);
    for (int k = 1; k <= 4; ++k)
        EXPECT_NE(pages[k - 1].find("Page " + std::to_string(k) + " of the statement"), std::string::npos) << pages[k - 1];
}

TEST_F(CommandLinePrint, PrinterCopiesAndPages)
{
    const std::string report = Write(FourPages());
    TRun r = Quillard({"--print", "--printer", "trays", "--copies", "2", "--pages", "2-3", QString::fromStdString(report)});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::vector<int> ids = JobIds(r.Out);
    ASSERT_EQ(ids.size(), 2u) << r.Out;
    ASSERT_TRUE(Cups->WaitUntilIdle());
    for (int id : ids) {
        const auto attrs = Cups->JobAttributes(id);
        EXPECT_EQ(One(attrs, "media"), "iso_a4_210x297mm");  // the A4 printer's own paper
        EXPECT_EQ(One(attrs, "job-state"), "completed");
        const auto pages = PdfPageTexts(Cups->SpooledDocument(id));
        EXPECT_EQ(PdfInfo(Cups->SpooledDocument(id)).at("Pages"), "2");
        ASSERT_GE(pages.size(), 2u);
        EXPECT_NE(pages[0].find("Page 2 of"), std::string::npos) << pages[0];
        EXPECT_NE(pages[1].find("Page 3 of"), std::string::npos) << pages[1];
    }

    // One page.
    r = Quillard({"--print", "--pages", "4", QString::fromStdString(report)});
    ASSERT_EQ(r.Code, 0) << r.Err;
    ASSERT_TRUE(Cups->WaitUntilIdle());
    const auto pages = PdfPageTexts(Cups->SpooledDocument(JobIds(r.Out).at(0)));
    ASSERT_GE(pages.size(), 1u);
    EXPECT_NE(pages[0].find("Page 4 of"), std::string::npos);
}

// The user's "Use MS LineDraw Font" holds for a print from the command line
// as in the window: bytes 0xC9, 0xDC and 0xDF are the letters É, Ü and ß,
// not box strokes.
TEST_F(CommandLinePrint, PrintsByTheUsersLineDrawSetting)
{
    const QString config = Dir.filePath("config");
    QSettings(config + "/Merrowgate/Quillard.conf", QSettings::IniFormat).setValue("Use MS LineDraw Font", "Yes");
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    const TRun r = Quillard({"--print", QString::fromStdString(Write("{CPI10}Gr\xfc\xdf \xc9\xdc\xdf\r\n"))});
    if (old.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", old);
    ASSERT_EQ(r.Code, 0) << r.Err;
    ASSERT_TRUE(Cups->WaitUntilIdle());
    const auto pages = PdfPageTexts(Cups->SpooledDocument(JobIds(r.Out).at(0)));
    ASSERT_GE(pages.size(), 1u);
    EXPECT_NE(pages[0].find("Gr\xc3\xbc\xc3\x9f \xc3\x89\xc3\x9c\xc3\x9f"), std::string::npos) << pages[0];
}

// Text below the bottom of a page is said for a print as for a PDF; the
// page set-up options go to the printed job.
TEST_F(CommandLinePrint, SaysTextBelowTheBottomAndTakesThePageSetUp)
{
    std::string lines;
    for (int i = 1; i <= 127; ++i)
        lines += "Line " + std::to_string(i) + "\n";
    const QString report = QString::fromStdString(Write(lines));
    TRun r = Quillard({"--print", "--markup", report});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(r.Err.find(" lines fell below the bottom of page 1 and are not shown; --plain lays the file out as plain "
                         "text, --paginate breaks full pages\n"),
              std::string::npos)
        << r.Err;
    r = Quillard({"--print", "--plain", "--landscape", report});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err.find("fell below"), std::string::npos) << r.Err;
    ASSERT_TRUE(Cups->WaitUntilIdle());
    const int id = JobIds(r.Out).at(0);
    EXPECT_EQ(One(Cups->JobAttributes(id), "orientation-requested"), "landscape");
    EXPECT_NE(PdfPageTexts(Cups->SpooledDocument(id)).back().find("Line 127"), std::string::npos);
}

// Pictures a report marks DELETE=YES go when --print has handed its job to
// the spooler; a print that failed keeps them for the host to try again.
TEST_F(CommandLinePrint, MarkedPicturesGoAfterAPrintAndStayAfterAFailedOne)
{
    QImage pic(30, 20, QImage::Format_RGB32);
    pic.fill(Qt::blue);
    const QString picture = Dir.filePath("PIC.BMP");
    ASSERT_TRUE(pic.save(picture, "BMP"));
    const QString report = QString::fromStdString(Write("{IMAGE SRC=PIC.BMP DELETE=YES}\r\n" + FourPages()));
    ASSERT_TRUE(Cups->Reject("RAW"));
    TRun r = Quillard({"--print", "--printer", "RAW", report});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_TRUE(QFileInfo::exists(picture));
    r = Quillard({"--print", report});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_FALSE(QFileInfo::exists(picture));
    EXPECT_TRUE(QFileInfo::exists(report));
    ASSERT_TRUE(Cups->WaitUntilIdle());
}

struct CliFailCase {
    const char* Name;
    QStringList Args;  // REPORT stands for a four-page report
    int Code;
    const char* Message;
    bool NoSpooler = false;
};

class CommandLinePrintFailure : public PrintTest, public ::testing::WithParamInterface<CliFailCase> {};

TEST_P(CommandLinePrintFailure, ExitsNonZeroWithAMessage)
{
    const CliFailCase& c = GetParam();
    ASSERT_TRUE(Cups->Reject("RAW"));
    const QString report = QString::fromStdString(Write(FourPages()));
    QStringList args = c.Args;
    args.replaceInStrings("REPORT", report);
    TRun r = Quillard(args, c.NoSpooler ? Dir.filePath("no.sock") : QString());
    EXPECT_EQ(r.Code, c.Code) << r.Err;
    EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
    EXPECT_TRUE(r.Out.empty()) << r.Out;
    ASSERT_TRUE(Cups->WaitUntilIdle());
    for (const auto& j : Cups->Jobs())
        EXPECT_NE(j.State, 9) << "job " << j.Id << " printed";
}

// Job options the caller gives reach the job as they are, over what the
// report and the settings make; --duplex is the sides option.
TEST_F(CommandLinePrint, JobOptionsReachTheJob)
{
    const QString report = QString::fromStdString(Write(FourPages()));
    struct Case {
        const char* Name;
        QStringList Args;
        std::map<std::string, std::string> Expected;
    };
    const Case cases[] = {
        {"Sides", {"-o", "sides=two-sided-long-edge"}, {{"sides", "two-sided-long-edge"}}},
        {"DuplexShort", {"--duplex=short"}, {{"sides", "two-sided-short-edge"}}},
        {"OverTheReportAndRepeated", {"-o", "orientation-requested=4", "--option", "job-priority=80"},
         {{"orientation-requested", "landscape"}, {"job-priority", "80"}}},
        {"ValueWithSpacesAndQuotes", {"-o", "job-sheets=none,none", "-o", "x-note=a 'quoted' \"value\""},
         {{"job-sheets", "none"}, {"x-note", "a 'quoted' \"value\""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const size_t before = Cups->Jobs().size();
        TRun r = Quillard(QStringList{"--print"} + c.Args + QStringList{report});
        ASSERT_EQ(r.Code, 0) << r.Err;
        ASSERT_TRUE(Cups->WaitUntilIdle());
        const auto jobs = Cups->Jobs();
        ASSERT_EQ(jobs.size(), before + 1);
        const auto attrs = Cups->JobAttributes(jobs.back().Id);
        for (const auto& [name, value] : c.Expected)
            EXPECT_EQ(One(attrs, name), value) << name;
    }
}

// The paper and orientation a job option names are the layout's, as
// --paper and --landscape are: the report is laid out on that sheet, not put
// onto it from another.
TEST_F(CommandLinePrint, PaperAndOrientationOptionsLayTheReportOut)
{
    const QString report = QString::fromStdString(Write(FourPages()));
    const QString landscapeReport = QString::fromStdString(Write("{INIT PAPER=A4 ORIENTATION=LANSCAPE}\r\n" + FourPages(), "WIDE.TXT"));
    struct Case {
        const char* Name;
        QStringList Args;
        const char* PageSize;  // pdfinfo's, of the printed file
        const char* Media;     // the job's
    };
    const Case cases[] = {
        {"MediaA5", {"-o", "media=A5", report}, "420 x 595", "iso_a5_148x210mm"},
        {"MediaWithASource", {"-o", "media=iso_a5_148x210mm,tray-1", report}, "420 x 595", nullptr},
        {"OrientationLandscape", {"-o", "orientation-requested=4", report}, "792 x 612", "na_letter_8.5x11in"},
        {"LandscapeFlag", {"-o", "landscape=true", report}, "792 x 612", nullptr},
        {"PortraitOverTheHeader", {"-o", "orientation-requested=3", landscapeReport}, "595 x 842", "iso_a4_210x297mm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TRun r = Quillard(QStringList{"--print"} + c.Args);
        ASSERT_EQ(r.Code, 0) << r.Err;
        ASSERT_TRUE(Cups->WaitUntilIdle());
        const int id = JobIds(r.Out).at(0);
        const std::string out = Cups->OutputFile("FILEPDF");
        EXPECT_EQ(PdfInfo(out).at("Page size").substr(0, std::string(c.PageSize).size()), c.PageSize);
        EXPECT_NE(PdfPageTexts(out).at(0).find("Page 1 of the statement"), std::string::npos);
        if (c.Media) {
            EXPECT_EQ(One(Cups->JobAttributes(id), "media"), c.Media);
        }
    }
    for (const char* refused : {"media=Plywood", "orientation-requested=5"}) {
        const TRun r = Quillard({"--print", "-o", refused, report});
        EXPECT_EQ(r.Code, 2) << refused;
        EXPECT_NE(r.Err.find(refused), std::string::npos) << r.Err;
    }
}

// --wait waits for the printer: a job printed is a success; a job the
// spooler aborted, one kept on a stopped queue or held, is a failure with
// the spooler's reason (the job ids are still listed).
TEST_F(CommandLinePrint, WaitTellsWhatBecameOfTheJob)
{
    const QString report = QString::fromStdString(Write(FourPages()));
    // A driver whose last filter fails, on a queue that aborts such jobs.
    const std::string failing = WritePpd(Dir.filePath("failing.ppd").toStdString(),
                                         {{"*cupsFilter:", "*cupsFilter: \"application/vnd.cups-pdf 0 /bin/false\""}});
    ASSERT_TRUE(Cups->AddQueue("BROKEN", failing, {"-o", "printer-error-policy=abort-job"})) << Cups->Log();
    ASSERT_TRUE(Cups->AddQueue("STOPPED", "")) << Cups->Log();
    ASSERT_TRUE(Cups->Disable("STOPPED")) << Cups->Log();
    struct Case {
        const char* Name;
        QStringList Args;
        int Code;
        const char* Says;  // on standard error
    };
    const Case cases[] = {
        {"Printed", {"--printer", "FILEPDF", "--wait"}, 0, ""},
        {"FilterFailed", {"--printer", "BROKEN", "--wait=60"}, 1, "Filter failed"},
        {"StoppedQueue", {"--printer", "STOPPED", "--wait"}, 1, " waits in the queue: the printer \"STOPPED\" is stopped"},
        {"Held", {"--printer", "RAW", "-o", "job-hold-until=indefinite", "--wait=5"}, 1, " is held in the queue"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const TRun r = Quillard(QStringList{"--print"} + c.Args + QStringList{report});
        EXPECT_EQ(r.Code, c.Code) << r.Err;
        EXPECT_EQ(JobIds(r.Out).size(), 1u) << r.Out;
        if (*c.Says) {
            EXPECT_NE(r.Err.find("quillard: the job "), std::string::npos) << r.Err;
            EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
        } else {
            EXPECT_EQ(r.Err.find("quillard: the job "), std::string::npos) << r.Err;
        }
    }
    const TRun refused = Quillard({"--pdf", Dir.filePath("x.pdf"), "--wait", report});
    EXPECT_EQ(refused.Code, 2) << refused.Err;
    EXPECT_NE(refused.Err.find("--wait goes with --print"), std::string::npos) << refused.Err;
}

// Without a default printer --print names none by itself (it took the first
// queue by name); a printer named still prints.
TEST_F(CommandLinePrint, WithoutADefaultPrinterOneMustBeNamed)
{
    ASSERT_TRUE(Cups->Delete("FILEPDF")) << Cups->Log();
    const QString report = QString::fromStdString(Write(FourPages()));
    TRun r = Quillard({"--print", report});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_NE(r.Err.find("no default printer; name one with --printer"), std::string::npos) << r.Err;
    ASSERT_TRUE(Cups->WaitUntilIdle());
    EXPECT_TRUE(Cups->Jobs().empty());
    r = Quillard({"--print", "--printer", "TRAYS", report});
    EXPECT_EQ(r.Code, 0) << r.Err;
    ASSERT_TRUE(Cups->WaitUntilIdle());
    EXPECT_EQ(Cups->Jobs().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CommandLinePrintFailure,
    ::testing::Values(
        CliFailCase{"UnknownPrinter", {"--print", "--printer", "NOPE", "REPORT"}, 1, "there is no printer named NOPE"},
        CliFailCase{"PagesPastTheEnd", {"--print", "--pages", "7-9", "REPORT"}, 1, "has 4 pages; there is no page 7"},
        CliFailCase{"RejectingQueue", {"--print", "--printer", "RAW", "REPORT"}, 1, "did not take the job"},
        CliFailCase{"NoSpooler", {"--print", "REPORT"}, 1, "no printer to print on: The print spooler", true},
        CliFailCase{"NoSpoolerToList", {"--list-printers"}, 1, "no printers: The print spooler", true},
        CliFailCase{"MissingReport", {"--print", "/nonexistent/R.TXT"}, 1, "cannot open"},
        CliFailCase{"NoCopies", {"--print", "--copies", "0", "REPORT"}, 2, "--copies needs"},
        CliFailCase{"BackwardsRange", {"--print", "--pages", "3-2", "REPORT"}, 2, "--pages needs"},
        CliFailCase{"RangeWithoutNumbers", {"--print", "--pages", "a-b", "REPORT"}, 2, "--pages needs"},
        CliFailCase{"PrinterWithoutName", {"--print", "--printer"}, 2, "--printer needs"},
        CliFailCase{"OptionNameWithASpace", {"--print", "-o", "paper size=A4", "REPORT"}, 2,
                    "-o needs an option as NAME=VALUE or a NAME alone"},
        CliFailCase{"OptionWithoutName", {"--print", "-o", "=x", "REPORT"}, 2, "-o needs an option as NAME=VALUE"},
        CliFailCase{"DuplexUnknown", {"--print", "--duplex=both", "REPORT"}, 2, "--duplex needs long, short or off"},
        CliFailCase{"OptionWithoutPrint", {"--pdf", "x.pdf", "-o", "sides=one-sided", "REPORT"}, 2,
                    "-o and --duplex go with --print"},
        CliFailCase{"PrintWithoutReport", {"--print"}, 2, "no report named"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quillard::test
