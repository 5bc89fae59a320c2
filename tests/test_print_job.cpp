// The print job against a real spooler: what arrives there (job name, media,
// orientation, paper source, pages and where the text lands on the sheet),
// copies as separate jobs, page ranges, aborted jobs, queues that refuse or
// vanish, and the renderer back in its preview state after every job.
#include "tests/printtest.h"
#include "tests/pdffidelityutil.h"

#include "engine/header.h"

#include <cups/cups.h>

namespace quillard::test {
namespace {

// A report of N pages; page k says "PAGE k" and "MARKk", the latter standing
// on a point two inches from the left edge of the sheet and three from its
// top.
std::string Pages(int N, const std::string& Header = "")
{
    std::string r = Header.empty() ? "" : Header + "\r\n";
    for (int k = 1; k <= N; ++k) {
        r += "PAGE " + std::to_string(k) + "\r\n{GOTO ABS X=2 Y=3}MARK" + std::to_string(k) + "\r\n";
        if (k < N)
            r += "{PAGE}";
    }
    return r;
}

const TPdfWord* Find(const std::vector<TPdfWord>& Words, const std::string& Text)
{
    for (const TPdfWord& w : Words)
        if (w.Text == Text)
            return &w;
    return nullptr;
}

class PrintJobTest : public PrintTest {
protected:
    // The preview state the renderer must come back to.
    struct TPreview {
        TRenderingCanvas* Canvas;
        double Scale, PixelsPerInchX, DpiX, OffsetXPx, PrintableWidth;
        int PageWidthPx;
    };
    TPreview Preview() const
    {
        return {R->Canvas.get(), R->GetScale(), R->Metrics.PixelsPerInchX, R->Metrics.DpiX, R->Metrics.OffsetXPx, R->Metrics.PrintableWidth, R->Metrics.PageWidthPx};
    }
    void ExpectPreview(const TPreview& p) const
    {
        EXPECT_FALSE(R->Printing);
        EXPECT_FALSE(Layer->Printing());
        EXPECT_EQ(R->Canvas.get(), p.Canvas);
        EXPECT_DOUBLE_EQ(R->GetScale(), p.Scale);
        EXPECT_DOUBLE_EQ(R->Metrics.PixelsPerInchX, p.PixelsPerInchX);
        EXPECT_DOUBLE_EQ(R->Metrics.DpiX, p.DpiX);
        EXPECT_DOUBLE_EQ(R->Metrics.OffsetXPx, p.OffsetXPx);
        EXPECT_DOUBLE_EQ(R->Metrics.PrintableWidth, p.PrintableWidth);
        EXPECT_EQ(R->Metrics.PageWidthPx, p.PageWidthPx);
        for (int i = 1; i <= MaxSpans; ++i) {
            if (R->Spans[i]) {
                EXPECT_EQ(R->Spans[i]->Canvas, p.Canvas);
            }
        }
    }
    bool Print(TGauge* Gauge = nullptr)
    {
        const bool ok = R->Print(Gauge);
        EXPECT_TRUE(Cups->WaitUntilIdle()) << Cups->Log();
        return ok;
    }
};

// The report of the header line {INIT VER=1 PAPER=A4 ORIENTATION=LANSCAPE
// TRAY=LOWER} arrives as an A4 landscape job from the lower tray, with the
// report's name as its title and its pages, on a Letter printer.
TEST_F(PrintJobTest, TheHeaderReachesTheSpooler)
{
    UseLayer();
    const std::string path = Open(Pages(2, "{INIT VER=1 PAPER=A4 ORIENTATION=LANSCAPE TRAY=LOWER}"));
    const TPreview before = Preview();
    ASSERT_TRUE(Print()) << MessagesText();
    // The PDF printer has no trays: the user hears so, and the job still
    // carries the tray for a spooler that knows one.
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Text.rfind("The report asks for the Lower tray", 0), 0u) << MessagesText();
    ExpectPreview(before);

    ASSERT_EQ(Layer->SubmittedJobs().size(), 1u);
    const int id = SubmittedIds()[0];
    const auto attrs = Cups->JobAttributes(id);
    EXPECT_EQ(One(attrs, "job-name"), "Quillard -- " + path);
    EXPECT_EQ(One(attrs, "media"), "iso_a4_210x297mm");
    EXPECT_EQ(One(attrs, "orientation-requested"), "landscape");
    EXPECT_EQ(One(attrs, "media-source"), "bottom");
    EXPECT_NE(One(attrs, "copies"), "2");
    EXPECT_EQ(One(attrs, "job-state"), "completed");
    EXPECT_EQ(One(attrs, "document-format"), "application/pdf");

    // What the queue printed: A4, two pages, turned onto the portrait sheet.
    const std::string out = Cups->OutputFile("FILEPDF");
    const auto info = PdfInfo(out);
    EXPECT_EQ(info.at("Pages"), "2");
    EXPECT_NE(info.at("Page size").find("842 x 595 pts (A4)"), std::string::npos) << info.at("Page size");
    EXPECT_EQ(info.at("Title"), "Quillard -- " + path);
    const auto pages = PdfPageTexts(out);
    ASSERT_GE(pages.size(), 2u);
    EXPECT_NE(pages[0].find("PAGE 1"), std::string::npos) << pages[0];
    EXPECT_NE(pages[0].find("MARK1"), std::string::npos);
    EXPECT_NE(pages[1].find("PAGE 2"), std::string::npos) << pages[1];

    // The document as the spooler received it: landscape A4 pages with the
    // mark two inches from the left edge and three from the top.
    const std::string doc = Cups->SpooledDocument(id);
    EXPECT_NE(PdfInfo(doc).at("Page size").find("842 x 595"), std::string::npos);
    const auto words = PdfWords(doc);
    const TPdfWord* mark = Find(words, "MARK2");
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->Page, 2);
    EXPECT_NEAR(mark->XMin, 144, 1.0);
    EXPECT_NEAR(mark->YMax, 216, 2.0);  // a line of text stands on the cursor
    // The first line starts at the corner of the printable area: 36 points
    // in (the sheet's bottom margin), 18 down (its left margin).
    const TPdfWord* first = Find(words, "PAGE");
    ASSERT_NE(first, nullptr);
    EXPECT_NEAR(first->XMin, 36, 1.0);
}

// Another printer chosen after the report was opened comes with its own
// paper and orientation; the report's header goes with it, on the window's
// and the automation's way of choosing, and the job carries it.
TEST_F(PrintJobTest, TheHeaderStaysAfterAnotherPrinterIsChosen)
{
    UseLayer();
    Open(Pages(2, "{INIT VER=1 PAPER=LEGAL ORIENTATION=LANSCAPE}"));
    const int trays = Layer->IndexOf("TRAYS"), pdf = Layer->IndexOf("FILEPDF");
    ASSERT_GE(trays, 0);
    Layer->SetPrinterIndex(trays);
    Layer->SetPrinterIndex(pdf);
    EXPECT_NE(Layer->PaperSize(), PaperNumber("LEGAL")) << "a printer chosen again starts from its own defaults";
    R->ApplySetupToPrinter();
    EXPECT_EQ(Layer->PaperSize(), PaperNumber("LEGAL"));
    R->GetCapacities();
    ASSERT_TRUE(Print()) << MessagesText();
    ASSERT_EQ(Layer->SubmittedJobs().size(), 1u);
    const auto attrs = Cups->JobAttributes(SubmittedIds()[0]);
    EXPECT_EQ(One(attrs, "media"), "na_legal_8.5x14in");
    EXPECT_EQ(One(attrs, "orientation-requested"), "landscape");
}

// The report's colour mode reaches the job: grey for MONO=YES (or the
// Monochrome box), colour otherwise on a colour device.
TEST_F(PrintJobTest, TheColourModeReachesTheJob)
{
    struct Case {
        const char* Name;
        std::string Header;
        bool MonochromeBox;
        const char* Mode;
    };
    const Case cases[] = {
        {"Colour", "{INIT VER=1}", false, "color"},
        {"MonoInTheHeader", "{INIT VER=1 MONO=YES}", false, "monochrome"},
        {"MonochromeBox", "{INIT VER=1}", true, "monochrome"},
    };
    UseLayer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const size_t before = Layer->SubmittedJobs().size();
        Open(Pages(1, c.Header));
        if (c.MonochromeBox)
            R->Setup.ColourMode = false;
        ASSERT_TRUE(Print()) << MessagesText();
        ASSERT_EQ(Layer->SubmittedJobs().size(), before + 1);
        EXPECT_EQ(One(Cups->JobAttributes(SubmittedIds().back()), "print-color-mode"), c.Mode);
    }
}

struct PlacementCase {
    const char* Name;
    const char* Queue;
    std::string Header;
    double Width, Height;  // the sheet in points, as laid out
};

class MarkPlacement : public PrintJobTest, public ::testing::WithParamInterface<PlacementCase> {};

// Text placed at a point of the sheet lands on that point of the printed
// page, whatever the printer's margins, resolution and orientation.
TEST_P(MarkPlacement, LandsWhereTheReportPutsIt)
{
    const PlacementCase& c = GetParam();
    UseLayer(c.Queue);
    Open(Pages(1, c.Header));
    ASSERT_TRUE(Print()) << MessagesText();
    const std::string doc = Cups->SpooledDocument(SubmittedIds().at(0));
    const auto info = PdfInfo(doc);
    char size[64];
    std::snprintf(size, sizeof size, "%g x %g pts", c.Width, c.Height);
    EXPECT_EQ(info.at("Page size").rfind(size, 0), 0u) << info.at("Page size");
    const auto words = PdfWords(doc);  // Find points into this list
    const TPdfWord* mark = Find(words, "MARK1");
    ASSERT_NE(mark, nullptr);
    EXPECT_NEAR(mark->XMin, 144, 1.0);
    EXPECT_NEAR(mark->YMax, 216, 2.0);  // a line of text stands on the cursor
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, MarkPlacement,
    ::testing::Values(PlacementCase{"GenericLetter", "FILEPDF", "", 612, 792},
                      PlacementCase{"GenericLegalLandscape", "FILEPDF", "{INIT PAPER=LEGAL}{LANDSCAPE}", 1008, 612},
                      PlacementCase{"TraysA4", "TRAYS", "", 595, 842},
                      PlacementCase{"TraysA4Landscape", "TRAYS", "{LANDSCAPE}", 842, 595},
                      PlacementCase{"RawExecutive", "RAW", "{INIT VER=1 PAPER=EXECUTIVE}", 522, 756}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PrintJobTest, ThreeCopiesAreThreeJobsOfAllPages)
{
    UseLayer();
    Open(Pages(3));
    R->Job.Copies = 3;
    R->Job.Title = "Monthly statement";
    TGauge gauge;
    gauge.MaxValue = 40;
    int maxDuringJob = 0;
    Services.OnPump = [&] { maxDuringJob = std::max(maxDuringJob, gauge.MaxValue); };
    ASSERT_TRUE(Print(&gauge)) << MessagesText();
    Services.OnPump = nullptr;
    EXPECT_EQ(maxDuringJob, 120);
    EXPECT_EQ(gauge.MaxValue, 40);
    EXPECT_EQ(gauge.Progress, 40);
    EXPECT_EQ(Layer->Copies(), 1);  // copies are made by repeating the job

    const std::vector<int> ids = SubmittedIds();
    ASSERT_EQ(ids.size(), 3u);
    for (int id : ids) {
        const auto attrs = Cups->JobAttributes(id);
        EXPECT_EQ(One(attrs, "job-name"), "Monthly statement");
        EXPECT_NE(One(attrs, "copies"), "3");
        EXPECT_EQ(One(attrs, "job-state"), "completed");
        const auto pages = PdfPageTexts(Cups->SpooledDocument(id));
        ASSERT_GE(pages.size(), 3u) << id;
        for (int k = 1; k <= 3; ++k)
            EXPECT_NE(pages[k - 1].find("PAGE " + std::to_string(k)), std::string::npos) << id << " " << k;
    }
    EXPECT_EQ(PdfInfo(Cups->OutputFile("FILEPDF")).at("Pages"), "3");
}

struct RangeCase {
    const char* Name;
    int From, To;
    std::vector<int> Printed;
};

class PageRange : public PrintJobTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(PageRange, PrintsExactlyThosePages)
{
    const RangeCase& c = GetParam();
    UseLayer();
    Open(Pages(5));
    R->Job.UsePageRange = 2;
    R->Job.RangeFrom = c.From;
    R->Job.RangeTo = c.To;
    ASSERT_TRUE(Print()) << MessagesText();
    const std::string doc = Cups->SpooledDocument(SubmittedIds().at(0));
    EXPECT_EQ(PdfInfo(doc).at("Pages"), std::to_string(c.Printed.size()));
    const auto pages = PdfPageTexts(doc);
    for (size_t i = 0; i < c.Printed.size(); ++i) {
        ASSERT_LT(i, pages.size());
        EXPECT_NE(pages[i].find("PAGE " + std::to_string(c.Printed[i]) + "\n"), std::string::npos) << pages[i];
        EXPECT_NE(pages[i].find("MARK" + std::to_string(c.Printed[i])), std::string::npos) << pages[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, PageRange,
                         ::testing::Values(RangeCase{"Middle", 2, 4, {2, 3, 4}}, RangeCase{"First", 1, 1, {1}},
                                           RangeCase{"Last", 5, 5, {5}}, RangeCase{"PastTheEnd", 4, 9, {4, 5}}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TrayCase {
    const char* Name;
    std::string Header;
    const char* Source;  // media-source of the job
    const char* Slot;    // InputSlot of the job
    const char* Queue = "TRAYS";
    const char* Says = "";  // what the user is told of the tray, "" for nothing
};

class TrayReachesTheJob : public PrintJobTest, public ::testing::WithParamInterface<TrayCase> {};

TEST_P(TrayReachesTheJob, AsMediaSourceAndTheDriversSlot)
{
    const TrayCase& c = GetParam();
    // A driver that numbers its trays.
    const std::string numbered =
        WritePpd(Dir.filePath("numbered.ppd").toStdString(),
                 {{"*OpenUI *InputSlot", "*OpenUI *InputSlot/Media Source: PickOne\n"
                                         "*OrderDependency: 10 AnySetup *InputSlot\n"
                                         "*DefaultInputSlot: 1Tray\n"
                                         "*InputSlot 1Tray/Tray 1: \"\"\n"
                                         "*InputSlot 2Tray/Tray 2: \"\"\n"
                                         "*InputSlot 3Tray/Tray 3: \"\"\n"
                                         "*InputSlot 4Tray/Tray 4: \"\"\n"
                                         "*InputSlot 5Tray/Tray 5: \"\"\n"
                                         "*CloseUI: *InputSlot"}});
    ASSERT_TRUE(Cups->AddQueue("NUMBERED", numbered)) << Cups->Log();
    UseLayer(c.Queue);
    Open(c.Header + "\r\nhello\r\n");
    ASSERT_TRUE(Print()) << MessagesText();
    const auto attrs = Cups->JobAttributes(SubmittedIds().at(0));
    EXPECT_EQ(One(attrs, "media-source"), c.Source);
    EXPECT_EQ(One(attrs, "InputSlot"), c.Slot);
    EXPECT_EQ(One(attrs, "job-state"), "completed");
    std::string said;
    for (const auto& m : Services.Messages)
        if (m.Text.find("The report asks for") != std::string::npos)
            said += "[" + m.Caption + "] " + m.Text;
    if (*c.Says) {
        EXPECT_EQ(said, std::string("[Printer Error] ") + c.Says);
    } else {
        EXPECT_EQ(said, "");
    }
    // Told once in a run: the next job of the same tray prints without it.
    Services.Messages.clear();
    ASSERT_TRUE(Print()) << MessagesText();
    EXPECT_EQ(MessagesText().find("The report asks for"), std::string::npos) << MessagesText();
}

INSTANTIATE_TEST_SUITE_P(
    Trays, TrayReachesTheJob,
    ::testing::Values(TrayCase{"Lower", "{INIT VER=1 TRAY=LOWER}", "bottom", "Lower"},
                      TrayCase{"UpperByItsOtherName", "{TRAY=DEFAULT}", "top", "Upper"},
                      TrayCase{"Manual", "{TRAY=MANUAL}", "manual", "Manual"},
                      TrayCase{"Envelope", "{PAPERTRAY=ENVELOPE}", "envelope", "Envelope"},
                      TrayCase{"DriverTrayNumber", "{TRAY=258}", "tray-3", "Tray3"},
                      TrayCase{"AutoWithoutSuchSlot", "{TRAY=AUTO}", "auto", "(none)"},
                      TrayCase{"NoTray", "{INIT VER=1}", "(none)", "(none)"},
                      TrayCase{"NumberWithoutKeyword", "{TRAY=12}", "(none)", "(none)", "TRAYS",
                               "The report asks for tray number 12, which the printer \"TRAYS\" does not have (its "
                               "trays: Upper, Lower, Manual, Envelope, Tray3): the printer chooses the tray."},
                      TrayCase{"LowerOnNumberedSlots", "{TRAY=LOWER}", "bottom", "2Tray", "NUMBERED"},
                      TrayCase{"UpperOnNumberedSlots", "{TRAY=UPPER}", "top", "1Tray", "NUMBERED"},
                      TrayCase{"DriverTrayOnNumberedSlots", "{TRAY=259}", "tray-4", "4Tray", "NUMBERED"},
                      TrayCase{"ManualOnNumberedSlotsIsSaid", "{TRAY=MANUAL}", "manual", "(none)", "NUMBERED",
                               "The report asks for the Manual tray, which the printer \"NUMBERED\" does not have "
                               "(its trays: 1Tray, 2Tray, 3Tray, 4Tray, 5Tray): the printer chooses the tray."},
                      TrayCase{"NoSlotsIsSaid", "{TRAY=LOWER}", "bottom", "(none)", "FILEPDF",
                               "The report asks for the Lower tray, which the printer \"FILEPDF\" does not have: "
                               "it has no trays to choose from."}),
    [](const auto& info) { return std::string(info.param.Name); });

// A paper the driver has no size of its own for (Folio, 8.5 x 13 inches) is
// printed as a custom size on a queue that takes them, and said on one that
// does not (the printer's default paper is used there).
TEST_F(PrintJobTest, APaperWithoutADriverSizeIsACustomSizeWhereTheQueueTakesThem)
{
    const std::string custom =
        WritePpd(Dir.filePath("custom.ppd").toStdString(),
                 {{"*VariablePaperSize:", "*VariablePaperSize: True"},
                  {"*MaxMediaWidth:", "*MaxMediaWidth: \"1000\""},
                  {"*MaxMediaHeight:", "*MaxMediaHeight: \"2000\""},
                  {"*HWMargins:", "*HWMargins: 12 12 12 12"},
                  {"*CustomPageSize True:", "*CustomPageSize True: \"pop pop pop pop pop\""},
                  {"*ParamCustomPageSize Width:", "*ParamCustomPageSize Width: 1 points 36 1000"},
                  {"*ParamCustomPageSize Height:", "*ParamCustomPageSize Height: 2 points 36 2000"},
                  {"*ParamCustomPageSize WidthOffset:", "*ParamCustomPageSize WidthOffset: 3 points 0 0"},
                  {"*ParamCustomPageSize HeightOffset:", "*ParamCustomPageSize HeightOffset: 4 points 0 0"},
                  {"*ParamCustomPageSize Orientation:", "*ParamCustomPageSize Orientation: 5 int 0 3"}});
    ASSERT_TRUE(Cups->AddQueue("CUSTOM", custom)) << Cups->Log();
    struct Case {
        const char* Queue;
        const char* Media;
        bool Said;
    };
    for (const Case& c : {Case{"CUSTOM", "na_foolscap_8.5x13in", false}, Case{"FILEPDF", "na_letter_8.5x11in", true}}) {
        SCOPED_TRACE(c.Queue);
        Services.Messages.clear();
        UseLayer(c.Queue);
        Open("{INIT VER=1 PAPER=FOLIO}\r\nOn Folio\r\n");
        ASSERT_TRUE(Print()) << MessagesText();
        EXPECT_EQ(MessagesText().find("has no paper") != std::string::npos, c.Said) << MessagesText();
        const auto attrs = Cups->JobAttributes(SubmittedIds().back());
        EXPECT_EQ(One(attrs, "media"), c.Media);
        EXPECT_EQ(One(attrs, "job-state"), "completed");
    }
}

// A pen mode that combines pixels prints as the preview draws it: a white
// XOR line turns the black box it crosses white and the white paper black.
// The page with it goes to the printer as a picture; a page without keeps
// its text as text.
TEST_F(PrintJobTest, PenModesPrintAsThePreviewDrawsThem)
{
    UseLayer();
    Open("Text of page one\r\n"
         "{PEN FILLCOLOR=BLACK FILLSTYLE=SOLID}{RECT AT=1in,1in TO=2in,2in}{/PEN}"
         "{PEN MODE=XOR COLOR=WHITE WIDTH=3}{GOTO X=0.5in Y=1.5in}{LINE TO=2.5in,1.5in}{/PEN}\f"
         "Text of page two\r\n");
    ASSERT_TRUE(Print()) << MessagesText();
    const std::string pdf = Dir.filePath("printed.pdf").toStdString();
    ASSERT_TRUE(QFile::copy(QString::fromStdString(Cups->SpooledDocument(SubmittedIds().at(0))),
                            QString::fromStdString(pdf)));
    const QImage page = RenderedPdfPage(pdf, 1, 300);
    ASSERT_FALSE(page.isNull());
    // The ink of the page: the box and the line's two ends beside it.
    QRect ink;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (qGray(page.pixel(x, y)) < 100)
                ink |= QRect(x, y, 1, 1);
    // (The text of page one is above the box, in the first line.)
    QRect box;
    for (int y = ink.top(); y <= ink.bottom(); ++y)
        for (int x = ink.left(); x <= ink.right(); ++x)
            if (qGray(page.pixel(x, y)) < 100 && y > ink.top() + 150)
                box |= QRect(x, y, 1, 1);
    EXPECT_NEAR(box.width(), 600, 12) << "the line beside the box is black on the paper";
    EXPECT_NEAR(box.height(), 300, 12);
    const int lineY = box.center().y();
    int whiteInside = 0;
    for (int dy = -4; dy <= 4; ++dy)
        whiteInside += qGray(page.pixel(box.center().x(), lineY + dy)) > 200;
    EXPECT_GT(whiteInside, 0) << "the line across the box is white";
    EXPECT_LT(qGray(page.pixel(box.center().x(), box.top() + 20)), 100) << "the box stays black";
    // Page two has no pen mode: its text is text.
    EXPECT_NE(PdfText(pdf, 2, 2).find("Text of page two"), std::string::npos);
}

// A job stopped while its pen modes are looked for (the program ends)
// prints nothing.
TEST_F(PrintJobTest, AJobStoppedWhileItsPenModesAreLookedForPrintsNothing)
{
    UseLayer();
    Open("Text of page one\r\n{PEN MODE=XOR COLOR=WHITE WIDTH=3}{GOTO X=0.5in Y=1.5in}{LINE TO=2.5in,1.5in}{/PEN}\f"
         "Page two\r\n\fPage three\r\n");
    int aborts = 0;
    Services.OnPump = [&] {
        if (R->Printing && R->Rendering && aborts == 0 && Layer->SubmittedJobs().empty()) {
            R->Abort();
            ++aborts;
        }
    };
    const bool printed = Print();
    Services.OnPump = nullptr;
    EXPECT_EQ(aborts, 1);
    EXPECT_FALSE(printed);
    EXPECT_TRUE(Layer->SubmittedJobs().empty());
    EXPECT_TRUE(Cups->Jobs().empty() || Cups->Jobs().back().State != 9);
}

TEST_F(PrintJobTest, APrintAskedForDuringAPrintIsRefused)
{
    UseLayer();
    Open(Pages(2));
    bool asked = false, nested = true;
    Services.OnPump = [&] {
        if (R->Printing && R->CurrentPage == 2 && !asked) {
            asked = true;
            nested = R->Print(nullptr);
        }
    };
    ASSERT_TRUE(Print()) << MessagesText();
    Services.OnPump = nullptr;
    EXPECT_TRUE(asked);
    EXPECT_FALSE(nested);
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Error tRenderer.Print");
    EXPECT_EQ(Layer->SubmittedJobs().size(), 1u);
    EXPECT_EQ(PdfInfo(Cups->OutputFile("FILEPDF")).at("Pages"), "2");
}

// A print without a report to lay out sends nothing to the printer and says
// why; it used to print an empty page and report success.
TEST_F(PrintJobTest, APrintWithoutItsReportSendsNothing)
{
    UseLayer();
    Open(Pages(2));
    std::remove(R->FileName.c_str());
    Globals().LastErrorMessage.clear();
    EXPECT_FALSE(Print());
    EXPECT_TRUE(Layer->SubmittedJobs().empty());
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Error tRenderer.Print");
    EXPECT_NE(Globals().LastErrorMessage.find("cannot be read: No such file"), std::string::npos)
        << Globals().LastErrorMessage;
    R->FileName.clear();
    EXPECT_FALSE(Print());
    EXPECT_TRUE(Layer->SubmittedJobs().empty());
    EXPECT_EQ(Globals().LastErrorMessage, "There is no report: nothing was printed.");
}

// A zoom the preview asks for while the printer's pass runs is the
// preview's: the printed pages stay at the printer's inch and the preview
// draws at the new zoom afterwards.
TEST_F(PrintJobTest, AZoomAskedForDuringAPrintIsThePreviews)
{
    UseLayer();
    Open(Pages(2));
    const TPreview before = Preview();
    bool asked = false;
    Services.OnPump = [&] {
        if (R->Printing && R->CurrentPage == 2 && !asked) {
            asked = true;
            R->SetScale(before.Scale * 2);
        }
    };
    ASSERT_TRUE(Print()) << MessagesText();
    Services.OnPump = nullptr;
    ASSERT_TRUE(asked);
    const auto words = PdfWords(Cups->SpooledDocument(SubmittedIds().at(0)));
    int marks = 0;
    for (const TPdfWord& w : words) {
        if (w.Text == "MARK1" || w.Text == "MARK2") {
            ++marks;
            EXPECT_NEAR(w.XMin, 144, 1.0) << w.Text;
        }
    }
    EXPECT_EQ(marks, 2);
    EXPECT_EQ(R->Canvas.get(), before.Canvas);
    EXPECT_DOUBLE_EQ(R->GetScale(), before.Scale * 2);
    EXPECT_DOUBLE_EQ(R->Metrics.PixelsPerInchX, before.PixelsPerInchX * 2);
}

TEST_F(PrintJobTest, TheTrayBecomesThePrintersDefaultSource)
{
    UseLayer();
    Open("{TRAY=LOWER}\r\nx\r\n");
    ASSERT_TRUE(Print());
    EXPECT_EQ(Layer->DefaultSource(), 2);
}

TEST_F(PrintJobTest, AnAbortedPrintLeavesNoJobAndThePreview)
{
    UseLayer();
    Open(Pages(6));
    const TPreview before = Preview();
    Services.OnPump = [&] {
        if (R->Printing && R->CurrentPage >= 2)
            R->Abort();
    };
    EXPECT_FALSE(Print());
    Services.OnPump = nullptr;
    ExpectPreview(before);
    int aborted = 0;
    for (const auto& m : Services.Messages)
        aborted += m.Caption == "Error" && m.Text == "#2# \"Status\"=False... Printing aborted!";
    EXPECT_EQ(aborted, 1) << MessagesText();
    EXPECT_TRUE(Layer->SubmittedJobs().empty());
    for (const auto& j : Cups->Jobs())
        EXPECT_EQ(j.State, IPP_JSTATE_CANCELED) << j.Id << " " << j.Name;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Cups->OutputFile("FILEPDF"))));

    // The renderer prints again afterwards.
    ASSERT_TRUE(Print()) << MessagesText();
    EXPECT_EQ(PdfInfo(Cups->OutputFile("FILEPDF")).at("Pages"), "6");
}

TEST_F(PrintJobTest, AbortInTheSecondCopyKeepsTheFirst)
{
    UseLayer();
    Open(Pages(2));
    R->Job.Copies = 3;
    int passes = 0;
    Services.OnPump = [&] {
        if (R->Printing && R->CurrentPage == 1 && R->Rendering && !R->Pass.Aborted && Layer->SubmittedJobs().size() == 1)
            R->Abort(), ++passes;
    };
    EXPECT_FALSE(Print());
    Services.OnPump = nullptr;
    EXPECT_EQ(passes, 1);
    ASSERT_EQ(Layer->SubmittedJobs().size(), 1u);
    int completed = 0, canceled = 0;
    for (const auto& j : Cups->Jobs()) {
        completed += j.State == IPP_JSTATE_COMPLETED;
        canceled += j.State == IPP_JSTATE_CANCELED;
    }
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(canceled, 1);
}

TEST_F(PrintJobTest, AQueueThatRejectsJobs)
{
    UseLayer();
    Open(Pages(1));
    const TPreview before = Preview();
    ASSERT_TRUE(Cups->Reject("FILEPDF"));
    EXPECT_FALSE(Print());
    ExpectPreview(before);
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Error Printing Document!");
    EXPECT_EQ(Services.Messages[0].Text.rfind("The printer \"FILEPDF\" did not take the job: ", 0), 0u)
        << Services.Messages[0].Text;
    EXPECT_TRUE(Cups->Jobs().empty());
}

TEST_F(PrintJobTest, APrinterThatVanishesMidJob)
{
    UseLayer();
    Open(Pages(3));
    const TPreview before = Preview();
    bool deleted = false;
    Services.OnPump = [&] {
        if (R->Printing && R->CurrentPage == 2 && !deleted)
            deleted = Cups->Delete("FILEPDF");
    };
    EXPECT_FALSE(Print());
    Services.OnPump = nullptr;
    EXPECT_TRUE(deleted);
    ExpectPreview(before);
    bool reported = false;
    for (const auto& m : Services.Messages)
        reported = reported || (m.Caption == "Error Printing Document!" &&
                                m.Text.find("could not be handed to the printer \"FILEPDF\"") != std::string::npos);
    EXPECT_TRUE(reported) << MessagesText();
    EXPECT_TRUE(Layer->SubmittedJobs().empty());
}

TEST_F(PrintJobTest, NoPrintersAtAll)
{
    Cups->Reset();
    UseLayer();
    // Without a tray the job fails to begin; with one, already choosing the
    // tray fails.
    struct Case {
        std::string Header, Caption;
    };
    for (const Case& c : {Case{"{INIT VER=1}", "Error Printing Document!"}, Case{"{INIT VER=1 TRAY=LOWER}", "Error tRenderer.Print"}}) {
        Services.Messages.clear();
        Open(Pages(2, c.Header));
        const TPreview before = Preview();
        EXPECT_FALSE(Print());
        ExpectPreview(before);
        ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
        EXPECT_EQ(Services.Messages[0].Caption, c.Caption);
        EXPECT_EQ(Services.Messages[0].Text, "There is no default printer currently selected");
    }
    // The preview goes on with the assumed metrics.
    EXPECT_EQ(R->Metrics.DpiX, 300);
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_EQ(R->CurrentPage, 2);
}

TEST_F(PrintJobTest, APaperThePrinterLacksPrintsOnItsOwnAndSaysSo)
{
    UseLayer();
    Open(Pages(1, "{INIT VER=1 PAPER=A3}"));
    ASSERT_TRUE(Print());
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Printer Error");
    EXPECT_NE(Services.Messages[0].Text.find("has no paper A3"), std::string::npos);
    const auto attrs = Cups->JobAttributes(SubmittedIds().at(0));
    EXPECT_EQ(One(attrs, "media"), "na_letter_8.5x11in");
}

TEST_F(PrintJobTest, JobTitles)
{
    UseLayer();
    Open("x\r\n");
    struct Case {
        std::string Title, JobName;
    };
    const std::string longTitle(300, 'Q');
    for (const Case& c : {Case{"Invoice 42", "Invoice 42"}, Case{"Re\xe7u \x80 12", "Re\xc3\xa7u \xe2\x82\xac 12"},
                          Case{"Déjà vu", "Déjà vu"}, Case{longTitle, longTitle.substr(0, 255)}}) {
        R->Job.Title = c.Title;
        ASSERT_TRUE(Print()) << MessagesText();
        EXPECT_EQ(One(Cups->JobAttributes(SubmittedIds().back()), "job-name"), c.JobName);
    }
}

TEST_F(PrintJobTest, PrintingToAQueueWithoutADriver)
{
    UseLayer("RAW");
    Open(Pages(2, "{INIT VER=1 PAPER=A4}"));
    ASSERT_TRUE(Print()) << MessagesText();
    const auto attrs = Cups->JobAttributes(SubmittedIds().at(0));
    EXPECT_EQ(One(attrs, "media"), "iso_a4_210x297mm");
    EXPECT_EQ(One(attrs, "job-state"), "completed");
    // The queue passes the document on as it was drawn.
    const auto info = PdfInfo(Cups->SpooledDocument(SubmittedIds().at(0)));
    EXPECT_EQ(info.at("Pages"), "2");
    EXPECT_EQ(info.at("Page size").rfind("595 x 842", 0), 0u) << info.at("Page size");
}

}  // namespace
}  // namespace quillard::test
