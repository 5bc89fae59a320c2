// The preview window printing on a real spooler: "/PRINT" alone prints
// every page and ends, with "/PREVIEW" the preview stays, the Print button
// prints and the preview comes back as it was; the program as a process
// prints and deletes its report on request.
#include "tests/printtest.h"

#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/progresswindow.h"

#include <QProcess>
#include <QSettings>
#include <QTest>
#include <filesystem>

namespace quillard::test {
namespace {

std::string ThreePages()
{
    std::string r;
    for (int k = 1; k <= 3; ++k)
        r += "{CPI10}Page " + std::to_string(k) + " of the printed report\r\n" + (k < 3 ? "\f" : "");
    return r;
}

class GuiPrintTest : public PrintTest {
protected:
    std::unique_ptr<TOpenDocumentWindow> OpenDocument;
    std::unique_ptr<TPreviewWindow> W;
    bool Ended = false;
    int EndCode = -1;

    void SetUp() override
    {
        PrintTest::SetUp();
        if (HasFatalFailure())
            return;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.filePath("user"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, Dir.filePath("system"));
        Globals().ZoomLevel = 75;
        Layer = std::make_unique<TCupsPrinterLayer>();
        SetPrinterLayer(Layer.get());
    }

    void TearDown() override
    {
        W.reset();
        OpenDocument.reset();
        Globals().ZoomLevel = 75;
        PrintTest::TearDown();
    }

    void Start(std::vector<std::string> Params)
    {
        W = std::make_unique<TPreviewWindow>(std::move(Params));
        OpenDocument = std::make_unique<TOpenDocumentWindow>();
        W->OpenDocumentWindow = OpenDocument.get();
        W->OnTerminate = [this](int Code) {
            Ended = true;
            EndCode = Code;
        };
        W->FormActivate();
    }

    // The pages the default queue printed, as text.
    std::vector<std::string> PrintedPages()
    {
        EXPECT_TRUE(Cups->WaitUntilIdle());
        return PdfPageTexts(Cups->OutputFile("FILEPDF"));
    }
};

TEST_F(GuiPrintTest, PrintSwitchPrintsEveryPageOnTheDefaultPrinterAndEnds)
{
    const std::string path = Write(ThreePages());
    Start({path, "/PRINT"});
    EXPECT_TRUE(Ended);
    EXPECT_EQ(EndCode, 0) << MessagesText();
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    ASSERT_EQ(Layer->SubmittedJobs().size(), 1u);
    const std::vector<std::string> pages = PrintedPages();
    ASSERT_EQ(pages.size(), 3u);
    for (int k = 1; k <= 3; ++k)
        EXPECT_NE(pages[k - 1].find("Page " + std::to_string(k) + " of the printed report"), std::string::npos)
            << pages[k - 1];
    const auto attrs = Cups->JobAttributes(SubmittedIds()[0]);
    EXPECT_EQ(One(attrs, "job-name"), "Quillard -- " + path);
    EXPECT_EQ(One(attrs, "job-state"), "completed");
    EXPECT_EQ(W->ProgressWindow->lblCaption->text(), "Done!");
}

TEST_F(GuiPrintTest, PrintWithPreviewPrintsAndKeepsTheWindow)
{
    Start({"/P", Write(ThreePages()), "/PREVIEW"});
    EXPECT_FALSE(Ended);
    EXPECT_EQ(Layer->SubmittedJobs().size(), 1u) << MessagesText();
    EXPECT_EQ(PrintedPages().size(), 3u);
    EXPECT_FALSE(W->PrintMode);
    EXPECT_TRUE(W->edtPageNum->isEnabled());
}

TEST_F(GuiPrintTest, PrintButtonPrintsAndThePreviewComesBackAsItWas)
{
    Start({Write(ThreePages())});
    ASSERT_FALSE(Ended);
    ASSERT_NE(W->PageBitmap, nullptr);
    const QImage before = W->PageBitmap->Image().copy();
    const int width = W->PageView->width();
    W->cmdPrint->click();
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    EXPECT_EQ(Layer->SubmittedJobs().size(), 1u);
    EXPECT_EQ(PrintedPages().size(), 3u);
    // The preview: same zoom, same page, same bitmap, and paging works.
    EXPECT_DOUBLE_EQ(W->Session().Renderer()->GetScale(), 0.75);
    ASSERT_NE(W->PageBitmap, nullptr);
    EXPECT_EQ(W->PageBitmap->Image(), before);
    EXPECT_EQ(W->PageView->width(), width);
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_NE(W->PageBitmap->Image(), before);
    QTest::keyClick(W->edtPageNum, Qt::Key_PageUp);
    EXPECT_EQ(W->PageBitmap->Image(), before);
    EXPECT_TRUE(W->cmdPrint->isEnabled());
}

TEST_F(GuiPrintTest, PageChangeDuringThePrintIsShownAfterIt)
{
    Start({Write(ThreePages())});
    int pumps = 0;
    Services.OnPump = [&] {
        // A page key arrives while the job draws.
        if (W->Session().Renderer()->Printing && pumps++ == 0)
            W->HandleKey(Qt::Key_PageDown, Qt::NoModifier);
    };
    W->DoPrint();
    Services.OnPump = nullptr;
    EXPECT_GT(pumps, 0);
    EXPECT_EQ(PrintedPages().size(), 3u);
    EXPECT_EQ(W->Session().CurrentPage(), 2);
    // The job was not disturbed and the preview shows the new page.
    EXPECT_EQ(Layer->SubmittedJobs().size(), 1u);
    EXPECT_DOUBLE_EQ(W->Session().Renderer()->GetScale(), 0.75);
    EXPECT_EQ(W->Session().Renderer()->Canvas.get(), static_cast<TRenderingCanvas*>(W->PageBitmap));
    EXPECT_FALSE(InkBox(W->PageBitmap->Image()).Empty());
}

TEST_F(GuiPrintTest, DebugInformationSaysSoWhenThePrinterIsGone)
{
    Start({Write(ThreePages())});
    Cups->Reset();
    Layer->Refresh();
    W->cmdViewStats->click();
    ASSERT_FALSE(Services.Messages.empty());
    EXPECT_EQ(Services.Messages.back().Caption, "Debug Information");
    EXPECT_NE(Services.Messages.back().Text.find("Printer Capacitites:"), std::string::npos);
}

TEST_F(GuiPrintTest, TheProgramPrintsEndsAndDeletesItsReport)
{
    const std::string path = Write(ThreePages());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", Dir.filePath("config"));
    env.insert("CUPS_SERVER", QString::fromStdString(Cups->Socket()));
    p.setProcessEnvironment(env);
    p.start(QUILLARD_BINARY, {"/D", QString::fromStdString(path), "/PRINT"});
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_FALSE(std::filesystem::exists(path));
    const std::vector<std::string> pages = PrintedPages();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_NE(pages[2].find("Page 3 of the printed report"), std::string::npos) << pages[2];
    ASSERT_EQ(Cups->Jobs().size(), 1u);
    EXPECT_EQ(Cups->Jobs()[0].Name, "Quillard -- " + path);
}

}  // namespace
}  // namespace quillard::test
