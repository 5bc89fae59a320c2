// The CUPS printer layer against a real spooler: the printer list and the
// default, metrics taken from each queue's driver description in both
// orientations, papers a printer lacks, the header reaching the printer, the
// renderer's metrics (GetCapacities) on real queues with their warnings, and
// a machine without a spooler.
#include "tests/printtest.h"

#include "engine/header.h"

#include <cups/cups.h>

namespace quillard::test {
namespace {

TEST_F(PrintTest, ListsTheQueuesWithTheDefault)
{
    UseLayer();
    EXPECT_EQ(Layer->Printers(), (std::vector<std::string>{"FILEPDF", "RAW", "TRAYS"}));
    EXPECT_EQ(Layer->Count(), 3);
    EXPECT_EQ(Layer->DefaultIndex(), 0);
    EXPECT_EQ(Layer->PrinterIndex(), 0);
    EXPECT_TRUE(Layer->HasHandle());
    EXPECT_TRUE(Layer->LastError().empty()) << Layer->LastError();
    EXPECT_EQ(Layer->IndexOf("trays"), 2);
    EXPECT_EQ(Layer->IndexOf("NOPE"), -1);

    // A new default shows after Refresh; the selected printer stays.
    Layer->SetPrinterIndex(1);
    ASSERT_TRUE(Cups->SetDefault("TRAYS"));
    Layer->Refresh();
    EXPECT_EQ(Layer->DefaultIndex(), 2);
    EXPECT_EQ(Layer->PrinterIndex(), 1);
    Layer->SetPrinterIndex(-1);
    EXPECT_EQ(Layer->PrinterIndex(), 2);
    EXPECT_THROW(Layer->SetPrinterIndex(3), std::out_of_range);
}

TEST_F(PrintTest, LpdestNamesTheDefault)
{
    setenv("LPDEST", "TRAYS", 1);
    UseLayer();
    unsetenv("LPDEST");
    EXPECT_EQ(Layer->DefaultIndex(), 2);
    EXPECT_EQ(Layer->Printers()[Layer->PrinterIndex()], "TRAYS");
}

TEST_F(PrintTest, WithoutADefaultTheFirstQueueServes)
{
    ASSERT_TRUE(Cups->Delete("FILEPDF"));
    UseLayer();
    EXPECT_EQ(Layer->DefaultIndex(), -1);
    EXPECT_EQ(Layer->PrinterIndex(), 0);
    EXPECT_EQ(Layer->Printers()[0], "RAW");
}

struct MetricsCase {
    const char* Name;
    const char* Queue;
    int Paper;        // DMPAPER, 0: the printer's own
    int Orientation;
    int Dpi, OffsetX, OffsetY, Width, Height;
};

class QueueMetrics : public PrintTest, public ::testing::WithParamInterface<MetricsCase> {};

// Device pixels are the driver's points times dpi / 72, the sheet and each
// margin rounded on their own.
TEST_P(QueueMetrics, ComeFromTheDriverDescription)
{
    const MetricsCase& c = GetParam();
    UseLayer(c.Queue);
    if (c.Paper)
        Layer->SetPaperSize(static_cast<int16_t>(c.Paper));
    Layer->SetOrientation(c.Orientation);
    EXPECT_EQ(Layer->GetDeviceCaps(LOGPIXELSX), c.Dpi);
    EXPECT_EQ(Layer->GetDeviceCaps(LOGPIXELSY), c.Dpi);
    EXPECT_EQ(Layer->GetDeviceCaps(PHYSICALOFFSETX), c.OffsetX);
    EXPECT_EQ(Layer->GetDeviceCaps(PHYSICALOFFSETY), c.OffsetY);
    EXPECT_EQ(Layer->PageWidth(), c.Width);
    EXPECT_EQ(Layer->PageHeight(), c.Height);
    EXPECT_EQ(Layer->GetDeviceCaps(HORZRES), c.Width);
    EXPECT_EQ(Layer->PaperProblem(), "");

    // The renderer measures the same.
    R->Setup.Orientation = static_cast<uint8_t>(c.Orientation);
    R->GetCapacities();
    EXPECT_EQ(R->Metrics.DpiX, c.Dpi);
    EXPECT_EQ(R->Metrics.OffsetXPx, c.OffsetX);
    EXPECT_EQ(R->Metrics.OffsetYPx, c.OffsetY);
    EXPECT_DOUBLE_EQ(R->Metrics.LeftOffset, double(c.OffsetX) / c.Dpi);
    EXPECT_DOUBLE_EQ(R->Metrics.PrintableWidth, double(c.Width) / c.Dpi);
    EXPECT_DOUBLE_EQ(R->Metrics.PrintableHeight, double(c.Height) / c.Dpi);
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
}

INSTANTIATE_TEST_SUITE_P(
    Queues, QueueMetrics,
    ::testing::Values(
        // Letter 612 x 792, imageable 18 36 594 756.
        MetricsCase{"GenericLetterPortrait", "FILEPDF", 0, 0, 600, 150, 300, 4800, 6000},
        // Landscape turns left: the bottom margin becomes the left one.
        MetricsCase{"GenericLetterLandscape", "FILEPDF", 0, 1, 600, 300, 150, 6000, 4800},
        // A4 595 x 842 (4958 x 7017 pixels), imageable 18 36 577 806.
        MetricsCase{"GenericA4Portrait", "FILEPDF", 9, 0, 600, 150, 300, 4658, 6417},
        MetricsCase{"GenericA4Landscape", "FILEPDF", 9, 1, 600, 300, 150, 6417, 4658},
        // Legal 612 x 1008.
        MetricsCase{"GenericLegal", "FILEPDF", 5, 0, 600, 150, 300, 4800, 7800},
        // A4 at 300 dpi (2479 x 3508), imageable 12 24 583 830.
        MetricsCase{"TraysA4Portrait", "TRAYS", 0, 0, 300, 50, 50, 2379, 3358},
        // Landscape turns right: the top margin becomes the left one and the
        // left one the bottom.
        MetricsCase{"TraysA4Landscape", "TRAYS", 0, 1, 300, 50, 50, 3358, 2379},
        MetricsCase{"TraysLetter", "TRAYS", 1, 0, 300, 75, 150, 2400, 3000},
        // Without a driver: the whole sheet, at the assumed 600 dpi (A3 is
        // 842 x 1191 points).
        MetricsCase{"RawLetter", "RAW", 0, 0, 600, 0, 0, 5100, 6600},
        MetricsCase{"RawA3Landscape", "RAW", 8, 1, 600, 0, 0, 9925, 7017}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PrintTest, APaperThePrinterLacksFallsBackToItsOwnPaperAndSaysSo)
{
    UseLayer("FILEPDF");
    EXPECT_EQ(Layer->PaperSize(), 1);  // Letter, the driver's default
    const int letterWidth = Layer->PageWidth();

    struct Case {
        int Paper;
        const char* Says;
    };
    for (const Case& c : {Case{8, "has no paper A3 (number 8)"}, Case{256, "has no paper number 256"},
                          Case{0, "has no paper number 0"}, Case{-3, "has no paper number -3"}}) {
        Layer->SetPaperSize(static_cast<int16_t>(c.Paper));
        EXPECT_EQ(Layer->PaperSize(), c.Paper);
        EXPECT_EQ(Layer->PageWidth(), letterWidth) << c.Paper;
        const std::string problem = Layer->PaperProblem();
        EXPECT_NE(problem.find("The printer \"FILEPDF\" " + std::string(c.Says)), std::string::npos) << problem;
        EXPECT_NE(problem.find("default paper, Letter."), std::string::npos) << problem;
    }
    // ENV_DL is the driver's EnvDL, 311 x 623 points.
    Layer->SetPaperSize(27);
    EXPECT_EQ(Layer->PaperProblem(), "");
    EXPECT_EQ(Layer->PageWidth(), 2592 - 2 * 150);
}

TEST_F(PrintTest, EachPrinterHasItsOwnDeviceSettings)
{
    UseLayer("FILEPDF");
    Layer->SetPaperSize(9);
    Layer->SetDefaultSource(2);
    Layer->SetOrientation(1);
    Layer->SetCopies(4);
    // Selecting the same printer again keeps them.
    Layer->SetPrinterIndex(Layer->PrinterIndex());
    EXPECT_EQ(Layer->PaperSize(), 9);
    EXPECT_EQ(Layer->DefaultSource(), 2);
    EXPECT_EQ(Layer->Orientation(), 1);
    EXPECT_EQ(Layer->Copies(), 4);
    // Another printer starts from its own.
    Layer->SetPrinterIndex(Layer->IndexOf("TRAYS"));
    EXPECT_EQ(Layer->PaperSize(), 9);  // A4 is its own paper
    EXPECT_EQ(Layer->DefaultSource(), 0);
    EXPECT_EQ(Layer->Orientation(), 0);
    EXPECT_EQ(Layer->Copies(), 1);
    SetPaperSource(5);
    EXPECT_EQ(Layer->DefaultSource(), 5);
}

TEST_F(PrintTest, TheHeaderWritesIntoTheCurrentPrinter)
{
    UseLayer("FILEPDF");
    Open("{INIT VER=1 PAPER=A4 ORIENTATION=LANSCAPE TRAY=LOWER MONO=YES}\r\nrest\r\n");
    EXPECT_EQ(R->Setup.Version, 1);
    EXPECT_EQ(Layer->PaperSize(), 9);
    EXPECT_EQ(Layer->Orientation(), 1);
    EXPECT_EQ(R->Setup.Orientation, 1);
    EXPECT_EQ(R->Setup.Tray, 2);
    EXPECT_EQ(Layer->DefaultSource(), 0);  // the tray waits for the print job
    EXPECT_FALSE(R->Setup.ColourMode);
    // The preview now lays out A4 landscape.
    EXPECT_DOUBLE_EQ(R->Metrics.PrintableWidth, 6417 / 600.0);
    EXPECT_DOUBLE_EQ(R->Metrics.PrintableHeight, 4658 / 600.0);
    EXPECT_DOUBLE_EQ(R->Metrics.LeftOffset, 0.5);
    EXPECT_DOUBLE_EQ(R->Metrics.TopOffset, 0.25);

    // The paper stays for the next report; the orientation comes from the
    // printer when a report does not set it.
    Open("plain\r\n");
    EXPECT_EQ(Layer->PaperSize(), 9);
    EXPECT_EQ(R->Setup.Orientation, 1);
    Open("{PORTRAIT}\r\n");
    EXPECT_EQ(Layer->Orientation(), 0);
    EXPECT_DOUBLE_EQ(R->Metrics.PrintableWidth, 4658 / 600.0);
}

TEST_F(PrintTest, MetricsBeyondReasonWarnOnceAndFallBack)
{
    // A driver whose Letter sheet is 114 inches wide with an unprintable left
    // margin of 11 inches (a printable width of 103 inches).
    const std::string ppd = WritePpd(Dir.filePath("huge.ppd").toStdString(),
                                     {{"*ImageableArea Letter/Letter:", "*ImageableArea Letter/Letter: \"800 0 8200 800\""},
                                      {"*PaperDimension Letter/Letter:", "*PaperDimension Letter/Letter: \"8200 800\""}});
    ASSERT_TRUE(Cups->AddQueue("HUGE", ppd));
    ASSERT_TRUE(Cups->SetDefault("HUGE"));
    Globals().PrinterWarningShown = false;
    UseLayer();
    ASSERT_EQ(Layer->Printers()[Layer->PrinterIndex()], "HUGE");
    EXPECT_EQ(R->Metrics.DpiX, 600);
    EXPECT_EQ(R->Metrics.OffsetXPx, 150);  // a quarter inch
    EXPECT_EQ(R->Metrics.OffsetYPx, 0);
    EXPECT_EQ(R->Metrics.PageWidthPx, 96 * (5100 - 150) / 600);  // the Letter fallback, measured on the preview
    EXPECT_DOUBLE_EQ(R->Metrics.PrintableWidth, 4950 / 600.0);
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Printer Error");
    EXPECT_EQ(Services.Messages[0].Text,
              "There was a problem accessing the printer driver\r\nPreview paper size may not match printed output.\r\n"
              "(code 36,11,25)");
    R->GetCapacities();
    EXPECT_EQ(Services.Messages.size(), 1u);  // once per run
    Globals().PrinterWarningShown = true;
}

TEST_F(PrintTest, WithoutASpoolerThereAreNoPrintersAndTheAssumedMetrics)
{
    const std::string dead = Dir.filePath("no-such.sock").toStdString();
    cupsSetServer(dead.c_str());
    struct TBack {
        std::string Server;
        ~TBack() { cupsSetServer(Server.c_str()); }
    } back{Cups->Socket()};
    UseLayer();
    EXPECT_EQ(Layer->Count(), 0);
    EXPECT_EQ(Layer->PrinterIndex(), -1);
    EXPECT_FALSE(Layer->HasHandle());
    EXPECT_NE(Layer->LastError().find("cannot be reached"), std::string::npos) << Layer->LastError();
    EXPECT_THROW(Layer->PageWidth(), std::runtime_error);
    EXPECT_THROW(Layer->BeginDoc(), std::runtime_error);
    EXPECT_FALSE(Layer->Printing());
    EXPECT_EQ(R->Metrics.DpiX, 300);
    EXPECT_DOUBLE_EQ(R->Metrics.PrintableWidth, 2475 / 300.0);

    // The preview still works on the assumed Letter page.
    Open("{INIT VER=1 PAPER=A4}\r\nhello\r\n");
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_EQ(R->CurrentPage, 1);
}

TEST_F(PrintTest, AnEmptySpoolerHasNoPrinters)
{
    Cups->Reset();
    UseLayer();
    EXPECT_EQ(Layer->Count(), 0);
    EXPECT_EQ(Layer->LastError(), "No printers are installed.");
    EXPECT_FALSE(Layer->CanOrientation());
    // The report's paper is kept all the same, for the PDF job.
    Layer->SetPaperSize(9);
    EXPECT_EQ(Layer->PaperSize(), 9);
}

TEST_F(PrintTest, MediaSourceKeywords)
{
    const std::vector<std::pair<int, std::string>> sources = {
        {1, "top"},   {2, "bottom"},      {3, "middle"},         {4, "manual"},        {5, "envelope"},
        {6, "manual"}, {7, "auto"},       {8, "main-roll"},      {9, "by-pass-tray"},  {10, "alternate"},
        {11, "large-capacity"}, {14, "main"}, {15, "auto"},      {256, "tray-1"},      {258, "tray-3"},
        {12, ""},     {0, ""},            {-1, ""},              {400, ""}};
    for (const auto& [bin, source] : sources)
        EXPECT_EQ(TCupsPrinterLayer::MediaSourceOf(bin), source) << bin;
}

}  // namespace
}  // namespace quillard::test
