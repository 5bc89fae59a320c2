// The PDF job: a report laid out on the PDF surface and written as a file,
// its result codes and messages, landscape pages, page ranges, and the
// renderer put back as it was on every way out; then the same through the
// command line, as a real process.
#include "base/strings.h"
#include "engine/printer.h"
#include "surfaces/pdfcanvas.h"
#include "tests/pdftestutil.h"
#include "tests/printtest.h"
#include "tests/test_image_util.h"
#include "tests/testutil.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <functional>
#include <QProcess>

namespace quillard::test {
namespace {

class PdfJobTest : public EngineTest {
protected:
    TScopedEnv Epoch{"SOURCE_DATE_EPOCH", "1700000000"};

    void SetUp() override
    {
        EngineTest::SetUp();
        // The paper lives in the printer's settings, which outlive a report.
        Printer().SetPaperSize(DMPAPER_LETTER);
    }

    void TearDown() override
    {
        ExpectEveryPdfChecks(Dir.path());
        Printer().SetPaperSize(DMPAPER_LETTER);
        EngineTest::TearDown();
    }

    std::string Out(const std::string& Name = "out.pdf") { return Dir.filePath(QString::fromStdString(Name)).toStdString(); }

    int MakePdf(const std::string& Report, const std::string& Target)
    {
        R->OpenFile(Write(Report), nullptr);
        Globals().LastErrorMessage.clear();
        return R->MakePDF(nullptr, Target);
    }
};

const std::string ThreePages = "First page, line one\r\nFirst page, line two\r\n\fSecond (page) \\ here\r\n{PAGE}\r\nThird page\r\n";

TEST_F(PdfJobTest, ReportReadsBackPageByPageInOrder)
{
    ASSERT_EQ(MakePdf(ThreePages, Out()), 0) << Globals().LastErrorMessage;
    ASSERT_TRUE(PassesQpdfCheck(Out()));
    EXPECT_EQ(PdfText(Out(), 1, 1), "First page, line one\nFirst page, line two\n\n\f");
    EXPECT_EQ(PdfText(Out(), 2, 2), "Second (page) \\ here\n\n\f");
    EXPECT_EQ(PdfText(Out(), 3, 3), "Third page\n\n\f");
    EXPECT_EQ(PdfInfo(Out(), "Pages"), "3");
    EXPECT_TRUE(Services.Messages.empty());
}

// What lies wholly off the sheet is not written: the document is the same,
// byte for byte, as without it.
TEST_F(PdfJobTest, WhatLiesOffTheSheetAddsNothingToTheDocument)
{
    struct Case {
        const char* Name;
        std::string Shown, WithMore;
    };
    const std::string boxLine(120, '\xCC');
    std::string below = "Visible\r\n{GOTO Y=30in}";
    for (int i = 0; i < 300; ++i)
        below += std::string(80, '\xC4') + " below the sheet\r\n";
    const Case cases[] = {
        {"text right of the sheet", "Visible\r\n", "Visible\r\n{GOTO X=20in}right of the sheet\r\n"},
        {"box drawing running on past the right edge", boxLine + "\r\n", std::string(5000, '\xCC') + "\r\n"},
        {"lines, text and figures below and above the sheet", "Visible\r\n",
         below + "{RECT FROM=-20in,-20in TO=-10in,-10in}{LINE FROM=0,40in TO=8in,40in}{CIRCLE R=1in AT=4in,50in}\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_EQ(MakePdf(c.Shown, Out("shown.pdf")), 0) << Globals().LastErrorMessage;
        ASSERT_EQ(MakePdf(c.WithMore, Out("more.pdf")), 0) << Globals().LastErrorMessage;
        EXPECT_EQ(ReadBytes(Out("more.pdf")), ReadBytes(Out("shown.pdf")));
    }
}

// A page crammed with box drawing holds at most its share of drawn objects;
// the rest is left out and said once.
TEST_F(PdfJobTest, APageHoldsAtMostItsDrawnObjectsAndSaysSoOnce)
{
    std::string report = "{FONT SIZE=1}\r\n";
    for (int i = 0; i < 300; ++i)
        report += std::string(100, '\xCE') + "\r\n";  // 240,000 strokes
    ASSERT_EQ(MakePdf(report, Out()), 0) << Globals().LastErrorMessage;
    const std::string pdf = ReadBytes(Out());  // (checked whole by qpdf at the end)
    int64_t strokes = 0;
    for (size_t at = pdf.find(" l\r\n"); at != std::string::npos; at = pdf.find(" l\r\n", at + 1))
        ++strokes;
    EXPECT_LE(strokes, TPdfCanvas::MaxObjectsPerPage);
    EXPECT_GT(strokes, TPdfCanvas::MaxObjectsPerPage / 2);
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_NE(Services.Messages[0].Text.find("left out of the PDF from page 1 on"), std::string::npos)
        << Services.Messages[0].Text;
}

TEST_F(PdfJobTest, PageIsTheWholeSheetWithoutUnprintableMargin)
{
    ASSERT_EQ(MakePdf("Corner\r\n", Out()), 0);
    std::string pdf = ReadBytes(Out());
    // Courier New 12 points: a cell of 56 device units, 13 points below the top.
    EXPECT_NE(pdf.find("/F5 12 Tf\r\n0 779 Td\r\n(Corner) Tj"), std::string::npos);
    EXPECT_NE(pdf.find("/MediaBox [ 0 0 612 792]"), std::string::npos);
}

TEST_F(PdfJobTest, LandscapePagesAreWideAndLaidOutOnTheWidePage)
{
    R->OpenFile(Write("Wide\r\n\fSecond\r\n"), nullptr);
    R->Setup.Orientation = 1;
    ASSERT_EQ(R->MakePDF(nullptr, Out()), 0);
    std::string pdf = ReadBytes(Out());
    EXPECT_NE(pdf.find("/MediaBox [ 0 0 792 612]"), std::string::npos);
    EXPECT_EQ(pdf.find("/MediaBox [ 0 0 612 792]"), std::string::npos);
    EXPECT_NE(pdf.find("0 599 Td\r\n(Wide) Tj"), std::string::npos);
    ASSERT_TRUE(PassesQpdfCheck(Out()));
    EXPECT_EQ(PdfInfo(Out(), "Page size").rfind("792 x 612 pts", 0), 0u);
    EXPECT_EQ(PdfInfo(Out(), "Pages"), "2");
}

// ---- the paper --------------------------------------------------------------------------

struct PaperCase {
    const char* Name;
    const char* Header;  // what the report's first line starts with
    const char* MediaBox;
    const char* TopLine;  // Courier 12 at the top of the page
};

void PrintTo(const PaperCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfPaperTest : public PdfJobTest, public ::testing::WithParamInterface<PaperCase> {};

TEST_P(PdfPaperTest, PagesAreTheSheetTheReportNames)
{
    const std::string report = std::string(GetParam().Header) + "Top\r\n\fSecond\r\n";
    ASSERT_EQ(MakePdf(report, Out()), 0) << Globals().LastErrorMessage;
    const std::string pdf = ReadBytes(Out());
    EXPECT_NE(pdf.find(std::string("/MediaBox [ 0 0 ") + GetParam().MediaBox + "]"), std::string::npos);
    EXPECT_NE(pdf.find(std::string(GetParam().TopLine) + "\r\n(Top) Tj"), std::string::npos);
    ASSERT_TRUE(PassesQpdfCheck(Out()));
    std::string size = GetParam().MediaBox;
    size.replace(size.find(' '), 1, " x ");
    EXPECT_EQ(PdfInfo(Out(), "Page size").rfind(size + " pts", 0), 0u) << PdfInfo(Out(), "Page size");
    EXPECT_EQ(PdfInfo(Out(), "Pages"), "2");
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, PdfPaperTest,
    ::testing::Values(PaperCase{"None", "", "612 792", "0 779 Td"},
                      PaperCase{"Letter", "{INIT PAPER=LETTER}", "612 792", "0 779 Td"},
                      PaperCase{"A4", "{INIT PAPER=A4}", "595 842", "0 829 Td"},
                      PaperCase{"A4ByNumber", "{INIT PAPERSIZE=9}", "595 842", "0 829 Td"},
                      PaperCase{"A4Landscape", "{INIT PAPER=A4 ORIENTATION=LANSCAPE}", "842 595", "0 582 Td"},
                      PaperCase{"Legal", "{INIT PAPER=LEGAL}", "612 1008", "0 995 Td"},
                      PaperCase{"A3", "{INIT PAPER=A3}", "842 1191", "0 1178 Td"},
                      PaperCase{"EnvelopeDL", "{INIT PAPER=ENV_DL}", "312 624", "0 611 Td"},
                      PaperCase{"NumberWithoutASize", "{INIT PAPER=999}", "612 792", "0 779 Td"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PdfJobTest, PageLayoutSpansTheWholeSheet)
{
    // Right-aligned text ends at the right edge of an A4 page.
    ASSERT_EQ(MakePdf("{INIT PAPER=A4}{ALIGN=RIGHT}WWWWWWWWWW{/ALIGN}\r\n", Out()), 0);
    // Ten Courier characters of 12 points are 300 device units wide; the
    // page is 2479 wide: trunc(2179 x 0.24) = 522.
    EXPECT_NE(ReadBytes(Out()).find("522 829 Td\r\n(WWWWWWWWWW) Tj"), std::string::npos);
}

// The paper comes from the report, not from the printer that keeps it: an
// A4 printer's settings give Legal pages to a Legal report, and the Letter
// printer's A4 pages to an A4 report.
struct SpoolerPaperCase {
    const char* Name;
    const char* Queue;
    const char* Header;
    const char* MediaBox;
};

void PrintTo(const SpoolerPaperCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfPaperOverSpoolerTest : public PrintTest, public ::testing::WithParamInterface<SpoolerPaperCase> {};

TEST_P(PdfPaperOverSpoolerTest, PagesAreTheReportsSheet)
{
    UseLayer(GetParam().Queue);
    const std::string report = Dir.filePath("R.TXT").toStdString();
    std::ofstream(report, std::ios::binary) << GetParam().Header << "Top\r\n";
    ASSERT_TRUE(R->OpenFile(report, nullptr));
    const std::string pdf = Dir.filePath("out.pdf").toStdString();
    ASSERT_EQ(R->MakePDF(nullptr, pdf), 0) << Globals().LastErrorMessage;
    ASSERT_TRUE(PassesQpdfCheck(pdf));
    EXPECT_NE(ReadBytes(pdf).find(std::string("/MediaBox [ 0 0 ") + GetParam().MediaBox + "]"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Queues, PdfPaperOverSpoolerTest,
                         ::testing::Values(SpoolerPaperCase{"A4OnTheLetterPrinter", "FILEPDF", "{INIT PAPER=A4}", "595 842"},
                                           SpoolerPaperCase{"LegalOnTheA4Printer", "TRAYS", "{INIT PAPER=LEGAL}", "612 1008"},
                                           SpoolerPaperCase{"NoneOnTheLetterPrinter", "FILEPDF", "", "612 792"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- pictures ---------------------------------------------------------------------------

TEST_F(PdfJobTest, JpegLogoKeepsItsBytesOnEveryPage)
{
    const std::string logo = EncodeJpeg(90, 60, [](int x, int y) { return uint32_t(x * 2 << 16 | y * 4 << 8 | 0x80); });
    Write(logo, "LOGO.JPG");
    ASSERT_EQ(MakePdf("{IMAGE SRC=LOGO.JPG LEFT=1in TOP=1in}\r\n{PAGE}{IMAGE SRC=LOGO.JPG LEFT=2in TOP=1in WIDTH=2in}\r\n",
                      Out()),
              0)
        << Globals().LastErrorMessage;
    ASSERT_TRUE(PassesQpdfCheck(Out()));
    const std::string pdf = ReadBytes(Out());
    const size_t at = pdf.find(logo);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(pdf.find(logo, at + 1), std::string::npos) << "the logo is in the file once";
    EXPECT_NE(pdf.find("/Filter /DCTDecode"), std::string::npos);
    // pdfimages gives the file back as it was, drawn on both pages.
    TToolRun r = RunTool("pdfimages", {"-j", QString::fromStdString(Out()), QString::fromStdString(Out("logo"))});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadBytes(Out("logo-000.jpg")), logo);
    EXPECT_EQ(ReadBytes(Out("logo-001.jpg")), logo);
    // The first at its natural size, one picture pixel per 300th of an inch.
    EXPECT_NE(pdf.find("q\r\n21.6 0 0 14.4 72 705.6 cm\r\n/Im1 Do\r\nQ"), std::string::npos);
}

TEST_F(PdfJobTest, BitmapPictureReadsBackPixelForPixel)
{
    auto colour = [](int x, int y) { return (x + y) % 3 == 0 ? 0x102030u : 0xF0E0D0u; };
    Write(MakeBmp24(7, 5, colour), "PIC.BMP");
    ASSERT_EQ(MakePdf("{IMAGE SRC=PIC.BMP LEFT=1in TOP=1in}\r\n", Out()), 0) << Globals().LastErrorMessage;
    TToolRun r = RunTool("pdfimages", {"-png", QString::fromStdString(Out()), QString::fromStdString(Out("pic"))});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const QImage back(QString::fromStdString(Out("pic-000.png")));
    ASSERT_EQ(back.size(), QSize(7, 5));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(back.pixel(x, y) & 0xFFFFFF, colour(x, y)) << x << "," << y;
}

TEST_F(PdfJobTest, RangeHoldsExactlyItsPages)
{
    R->OpenFile(Write("one\r\n\ftwo\r\n\fthree\r\n\ffour\r\n"), nullptr);
    R->Job.UsePageRange = 2;
    R->Job.RangeFrom = 2;
    R->Job.RangeTo = 3;
    ASSERT_EQ(R->MakePDF(nullptr, Out()), 0);
    ASSERT_TRUE(PassesQpdfCheck(Out()));
    EXPECT_EQ(PdfText(Out()), "two\n\n\fthree\n\n\f");
}

TEST_F(PdfJobTest, TitleComesFromTheJobTitle)
{
    R->Job.Title = "Statement (June) C:\\x";
    ASSERT_EQ(MakePdf("x\r\n", Out()), 0);
    EXPECT_EQ(PdfInfo(Out(), "Title"), "Statement (June) C:\\x");
}

TEST_F(PdfJobTest, GaugeCountsTheCopiesAndIsGivenBack)
{
    TGauge gauge;
    gauge.MaxValue = 10;
    int maxDuringPass = 0;
    Services.OnPump = [&] { maxDuringPass = std::max(maxDuringPass, gauge.MaxValue); };
    R->Job.Copies = 3;
    R->OpenFile(Write("a\r\nb\r\n"), nullptr);
    ASSERT_EQ(R->MakePDF(&gauge, Out()), 0);
    EXPECT_EQ(maxDuringPass, 30);
    EXPECT_EQ(gauge.MaxValue, 10);
    EXPECT_EQ(gauge.Progress, 10);
}

// ---- failures and the renderer afterwards --------------------------------------------

struct TRendererSnapshot {
    TRenderingCanvas* Canvas;
    double PixelsPerInchX, PixelsPerInchY, Scale, DpiX, LeftOffset;
    int PageWidthPx, PageHeightPx;
    bool operator==(const TRendererSnapshot&) const = default;
};

TRendererSnapshot Snapshot(const tRenderer& R)
{
    return {R.Canvas.get(), R.Metrics.PixelsPerInchX, R.Metrics.PixelsPerInchY, R.GetScale(), R.Metrics.DpiX, R.Metrics.LeftOffset, R.Metrics.PageWidthPx,
            R.Metrics.PageHeightPx};
}

enum class TTrouble { None, AbortOnPageTwo, ThrowOnPageTwo };

struct OutcomeCase {
    const char* Name;
    std::string Report;
    const char* Target;  // file name in the scratch folder
    TTrouble Trouble;
    int Result;
    const char* Message;  // start of LastErrorMessage
    bool FileWritten;
};

class PdfJobOutcomeTest : public PdfJobTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(PdfJobOutcomeTest, ReportsTheResultAndPutsTheRendererBack)
{
    const OutcomeCase& c = GetParam();
    UsePage(0.75);
    const TRendererSnapshot before = Snapshot(*R);
    if (c.Trouble != TTrouble::None)
        Services.OnPump = [&] {
            if (R->CurrentPage < 2)
                return;
            if (c.Trouble == TTrouble::ThrowOnPageTwo)
                throw std::runtime_error("unexpected");
            R->Abort();
        };
    const std::string target = Out(c.Target);
    EXPECT_EQ(MakePdf(c.Report, target), c.Result);
    EXPECT_EQ(Globals().LastErrorMessage.rfind(c.Message, 0), 0u) << Globals().LastErrorMessage;

    EXPECT_TRUE(Snapshot(*R) == before);
    EXPECT_FALSE(R->Printing);
    EXPECT_FALSE(R->MakingPdf);
    EXPECT_EQ(R->PdfMaker, nullptr);
    EXPECT_EQ(R->Span().Canvas, before.Canvas);

    EXPECT_EQ(FileExists(target), c.FileWritten);
    if (c.FileWritten) {
        EXPECT_TRUE(PassesQpdfCheck(target));
    }

    // The renderer still draws on its own surface.
    Services.OnPump = nullptr;
    ASSERT_TRUE(RenderReport("After the job\r\n"));
    EXPECT_FALSE(Ink().Empty());
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PdfJobOutcomeTest,
    ::testing::Values(OutcomeCase{"Success", ThreePages, "ok.pdf", TTrouble::None, 0, "", true},
                      // A failed job writes no file.
                      OutcomeCase{"PassFails", ThreePages, "aborted.pdf", TTrouble::AbortOnPageTwo, 4,
                                  "MakePDF: Render Returned Error (error opening document)", false},
                      OutcomeCase{"FileCannotBeMade", ThreePages, "missing/folder/x.pdf", TTrouble::None, 3,
                                  "MakePDF: Cannot create file \"", false},
                      OutcomeCase{"RenderingFails", ThreePages, "failed.pdf", TTrouble::ThrowOnPageTwo, 2,
                                  "MakePDF: Error Rendering Document", false}),
    [](const auto& info) { return std::string(info.param.Name); });

// The job draws on a target of its own: a zoom, a printer measurement or a
// new page surface the preview asks for while the job's pass runs changes
// the preview, never the pages being written, and the preview keeps it
// after the job.
TEST_F(PdfJobTest, AZoomAskedForDuringTheJobIsThePreviews)
{
    UsePage(0.75);
    TRenderingCanvas* preview = nullptr;
    ASSERT_EQ(MakePdf(ThreePages, Out("calm.pdf")), 0) << Globals().LastErrorMessage;
    int asked = 0;
    Services.OnPump = [&] {
        if (R->CurrentPage == 2 && asked++ == 0) {
            auto surface = std::make_unique<TImageCanvas>(50, 50, 96, 96);
            preview = surface.get();
            R->UsePageSurface(std::move(surface));
            R->SetScale(1.5);
            R->GetCapacities();
            EXPECT_DOUBLE_EQ(R->GetScale(), 1.5);
        }
    };
    ASSERT_EQ(MakePdf(ThreePages, Out("zoomed.pdf")), 0) << Globals().LastErrorMessage;
    Services.OnPump = nullptr;
    ASSERT_GE(asked, 1);
    EXPECT_EQ(ReadBytes(Out("zoomed.pdf")), ReadBytes(Out("calm.pdf")));

    EXPECT_EQ(R->Canvas.get(), preview);
    EXPECT_DOUBLE_EQ(R->GetScale(), 1.5);
    EXPECT_DOUBLE_EQ(R->Metrics.PixelsPerInchX, preview->GetDeviceCaps(LOGPIXELSX) * 1.5);
    EXPECT_EQ(R->Metrics.PageWidthPx, static_cast<int>(RoundHalfEven(R->Metrics.PixelsPerInchX * R->Metrics.PrintableWidth)));
    for (int i = 1; i <= MaxSpans; ++i) {
        if (R->Spans[i]) {
            EXPECT_DOUBLE_EQ(R->Spans[i]->Scale, 1.5);
        }
    }
}

// A PDF job asked for while a pass runs (from the message pump) is refused
// with its reason and writes nothing; the running count goes on undisturbed.
TEST_F(PdfJobTest, AJobAskedForDuringAPassIsRefused)
{
    R->OpenFile(Write(ThreePages), nullptr);
    int result = -1;
    Services.OnPump = [&] {
        if (result == -1 && R->CurrentPage == 2)
            result = R->MakePDF(nullptr, Out("nested.pdf"));
    };
    EXPECT_EQ(R->CountPages(), 3);
    Services.OnPump = nullptr;
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Globals().LastErrorMessage, "MakePDF: A print or PDF job or a page pass is already running");
    EXPECT_FALSE(FileExists(Out("nested.pdf")));
    EXPECT_FALSE(R->Printing || R->MakingPdf);
    ASSERT_EQ(MakePdf(ThreePages, Out()), 0) << Globals().LastErrorMessage;
    EXPECT_EQ(PdfInfo(Out(), "Pages"), "3");
}

// A pass that fails or is stopped writes no file: an older file of that
// name stays as it was, and no temporary file is left beside it.
TEST_F(PdfJobTest, FailedPassLeavesAnEarlierFileWhole)
{
    Write("an earlier document", "out.pdf");
    Services.OnPump = [&] {
        if (R->CurrentPage >= 2)
            R->Abort();
    };
    ASSERT_EQ(MakePdf(ThreePages, Out()), 4);
    EXPECT_EQ(ReadBytes(Out()), "an earlier document");
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "the report and the earlier file";
    Services.OnPump = nullptr;
    ASSERT_EQ(MakePdf(ThreePages, Out()), 0);
    EXPECT_EQ(PdfInfo(Out(), "Pages"), "3");
}

// A job without a report to lay out writes nothing and says why: the pass
// of no report would write an empty page, which was reported as success.
struct MissingReportCase {
    const char* Name;
    std::function<std::string(EngineTest&, tRenderer&)> Lose;  // gives the message's reason
};

class PdfJobWithoutReportTest : public PdfJobTest, public ::testing::WithParamInterface<MissingReportCase> {};

TEST_P(PdfJobWithoutReportTest, WritesNothingAndSaysWhy)
{
    Write("an earlier document", "earlier.out");
    R->OpenFile(Write(ThreePages), nullptr);
    const std::string reason = GetParam().Lose(*this, *R);
    Globals().LastErrorMessage.clear();
    EXPECT_EQ(R->MakePDF(nullptr, Out("earlier.out")), 4);
    EXPECT_NE(Globals().LastErrorMessage.find("MakePDF: " + reason), std::string::npos) << Globals().LastErrorMessage;
    EXPECT_EQ(ReadBytes(Out("earlier.out")), "an earlier document");
    Globals().LastErrorMessage.clear();
    EXPECT_EQ(R->MakePDF(nullptr, Out("new.pdf")), 4);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Out("new.pdf"))));
}

INSTANTIATE_TEST_SUITE_P(
    Reports, PdfJobWithoutReportTest,
    ::testing::Values(MissingReportCase{"NoneOpened",
                                        [](EngineTest&, tRenderer& R) {
                                            R.FileName.clear();
                                            return std::string("There is no report");
                                        }},
                      MissingReportCase{"DeletedSinceItWasOpened",
                                        [](EngineTest&, tRenderer& R) {
                                            std::remove(R.FileName.c_str());
                                            return "The report \"" + R.FileName + "\" cannot be read: No such file";
                                        }},
                      MissingReportCase{"AFolderInItsPlace", [](EngineTest&, tRenderer& R) {
                                            std::remove(R.FileName.c_str());
                                            QDir().mkpath(QString::fromStdString(R.FileName));
                                            return "The report \"" + R.FileName + "\" cannot be read: not a regular file";
                                        }}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Text sent beyond any position a PDF can hold ({GOTO X=100000in}) lies off
// every page: it is left out, and the rest of the report is written.
TEST_F(PdfJobTest, TextBeyondThePdfsReachIsLeftOut)
{
    ASSERT_EQ(MakePdf("Before\r\n{GOTO X=100000in}Lost\r\nAfter\r\n{GOTO Y=-200000in}Lost too\r\n{PAGE}Page two\r\n", Out()),
              0)
        << Globals().LastErrorMessage;
    EXPECT_EQ(PdfText(Out(), 1, 1), "Before\nAfter\n\n\f");
    EXPECT_EQ(PdfText(Out(), 2, 2), "Page two\n\n\f");
    EXPECT_TRUE(Services.Messages.empty());
}

// ---- the command line --------------------------------------------------------------------

TToolRun Quillard(const QStringList& Args, const QProcessEnvironment& Extra = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("SOURCE_DATE_EPOCH", "1700000000");
    for (const QString& k : Extra.keys())
        env.insert(k, Extra.value(k));
    return RunTool(QUILLARD_BINARY, Args, env);
}

const QString Example = QStringLiteral(QUILLARD_SOURCE_DIR "/examples/statement.txt");

class PdfCommandLineTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    void TearDown() override { ExpectEveryPdfChecks(Dir.path()); }
    QString Path(const QString& Name) { return Dir.filePath(Name); }
};

TEST_F(PdfCommandLineTest, ExampleBecomesACheckedReadablePdf)
{
    TToolRun r = Quillard({"--pdf", Path("statement.pdf"), Example});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string pdf = Path("statement.pdf").toStdString();
    ASSERT_TRUE(PassesQpdfCheck(pdf));
    const std::string text = PdfText(pdf);
    EXPECT_EQ(text.rfind("MERROW & GATE HARDWARE SUPPLY", 0), 0u) << text;
    EXPECT_NE(text.find("REMITTANCE ADVICE"), std::string::npos);
    EXPECT_NE(text.find("NOTES"), std::string::npos);
    EXPECT_EQ(PdfInfo(pdf, "Pages"), "3");
}

TEST_F(PdfCommandLineTest, SourceDateEpochMakesRunsIdentical)
{
    ASSERT_EQ(Quillard({"--pdf", Path("a.pdf"), Example}).Code, 0);
    ASSERT_EQ(Quillard({"--pdf", Path("b.pdf"), Example}).Code, 0);
    const std::string a = ReadBytes(Path("a.pdf").toStdString());
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, ReadBytes(Path("b.pdf").toStdString()));
    EXPECT_NE(a.find("/CreationDate (D:20231114221320)"), std::string::npos);
}

TEST_F(PdfCommandLineTest, InstalledFontsDoNotChangeThePdf)
{
    // A font configuration that finds no fonts at all.
    const QString conf = Path("nofonts.conf");
    std::ofstream(conf.toStdString()) << "<?xml version=\"1.0\"?>\n<fontconfig><cachedir>" << Path("cache").toStdString()
                                      << "</cachedir></fontconfig>\n";
    QProcessEnvironment noFonts;
    noFonts.insert("FONTCONFIG_FILE", conf);
    noFonts.insert("QT_QPA_FONTDIR", Path("nofonts"));
    ASSERT_EQ(Quillard({"--pdf", Path("with.pdf"), Example}).Code, 0);
    TToolRun r = Quillard({"--pdf", Path("without.pdf"), Example}, noFonts);
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadBytes(Path("with.pdf").toStdString()), ReadBytes(Path("without.pdf").toStdString()));
}

TEST_F(PdfCommandLineTest, PagesOptionWritesTheRange)
{
    TToolRun r = Quillard({"--pdf", Path("range.pdf"), "--pages", "2-3", Example});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string text = PdfText(Path("range.pdf").toStdString());
    EXPECT_EQ(text.rfind("REMITTANCE ADVICE", 0), 0u) << text;
    EXPECT_EQ(text.find("MERROW"), std::string::npos);
    TToolRun one = Quillard({"--pdf", Path("one.pdf"), "--pages", "3", Example});
    ASSERT_EQ(one.Code, 0) << one.Err;
    EXPECT_EQ(PdfText(Path("one.pdf").toStdString()).rfind("NOTES", 0), 0u);
}

struct PdfFailCase {
    const char* Name;
    QStringList Args;
    int Code;
    const char* Message;
};

class PdfCommandLineFailure : public PdfCommandLineTest, public ::testing::WithParamInterface<PdfFailCase> {};

TEST_P(PdfCommandLineFailure, ExitsWithTheCodeAndSaysWhy)
{
    QStringList args;
    for (const QString& a : GetParam().Args)
        args << (a.startsWith("@") ? Path(a.mid(1)) : a);
    TToolRun r = Quillard(args);
    EXPECT_EQ(r.Code, GetParam().Code);
    EXPECT_NE(r.Err.find(GetParam().Message), std::string::npos) << r.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PdfCommandLineFailure,
    ::testing::Values(
        PdfFailCase{"UnwritableTarget", {"--pdf", "@no/such/dir/x.pdf", Example}, 3, "MakePDF: Cannot create file"},
        PdfFailCase{"NoFileName", {"--pdf"}, 2, "--pdf needs"},
        PdfFailCase{"NoReport", {"--pdf", "@x.pdf"}, 2, "no report named"},
        PdfFailCase{"MissingReport", {"--pdf", "@x.pdf", "/nonexistent/R.TXT"}, 1, "cannot open"},
        PdfFailCase{"ReversedRange", {"--pdf", "@x.pdf", "--pages", "3-2", Example}, 2, "--pages needs"},
        PdfFailCase{"ZeroPage", {"--pdf", "@x.pdf", "--pages", "0-2", Example}, 2, "--pages needs"},
        PdfFailCase{"NotARange", {"--pdf", "@x.pdf", "--pages", "two", Example}, 2, "--pages needs"},
        PdfFailCase{"PagesWithoutPdf", {"--png", "@x.png", "--pages", "1-2", Example}, 2, "--pages goes with --pdf"},
        PdfFailCase{"RangePastTheEnd", {"--pdf", "@x.pdf", "--pages", "7-9", Example}, 1, "there is no page 7"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quillard::test
