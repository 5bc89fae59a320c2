// The print options window over a real spooler: the printer list and the
// selection, what OK hands to the renderer and the printer, Cancel, the
// sizes and monochrome box filled by the load, the system's print dialog,
// and the warnings without printers.
#include "tests/printtest.h"
#include "tests/modal.h"

#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/printoptionswindow.h"

#include <QApplication>
#include <QComboBox>
#include <QRadioButton>
#include <QDialogButtonBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>
#include <QTimer>

namespace quillard::test {
namespace {

std::string Report(const std::string& Header = "")
{
    std::string r = Header;
    for (int k = 1; k <= 3; ++k)
        r += "{CPI10}{FONT COLOR=Red}Page " + std::to_string(k) + " in red{/FONT}\r\n" + (k < 3 ? "\f" : "");
    return r;
}


// The preview started as the program does, on the spooler's printers.
class PrintWindowTest : public PrintTest {
protected:
    std::unique_ptr<TOpenDocumentWindow> OpenDocument;
    std::unique_ptr<TPreviewWindow> W;
    TPrintOptionsWindow* P = nullptr;

    void SetUp() override
    {
        PrintTest::SetUp();
        if (HasFatalFailure())
            return;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.filePath("user"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, Dir.filePath("system"));
        Globals().ZoomLevel = 75;
        Globals().UseLineDrawFont = false;
        Layer = std::make_unique<TCupsPrinterLayer>();
        SetPrinterLayer(Layer.get());
    }

    void TearDown() override
    {
        W.reset();
        OpenDocument.reset();
        Globals().UseLineDrawFont = false;
        PrintTest::TearDown();
    }

    void Start(const std::string& Bytes)
    {
        W = std::make_unique<TPreviewWindow>(std::vector<std::string>{Write(Bytes)});
        OpenDocument = std::make_unique<TOpenDocumentWindow>();
        W->OpenDocumentWindow = OpenDocument.get();
        W->OnTerminate = [](int) {};
        W->FormActivate();
        ASSERT_NE(W->PrintOptionsWindow, nullptr);
        P = W->PrintOptionsWindow;
        ASSERT_EQ(P->Renderer, W->Session().Renderer());
    }

    void OpenSetup()
    {
        ASSERT_TRUE(W->mnuPrintSetup->isEnabled());
        W->mnuPrintSetup->trigger();
        ASSERT_TRUE(P->isVisible());
    }

    QStringList Listed() const
    {
        QStringList names;
        for (int k = 0; k < P->cboPrinterName->count(); ++k)
            names << P->cboPrinterName->itemText(k);
        return names;
    }
};

TEST_F(PrintWindowTest, ListsTheSpoolersPrintersWithTheDefaultSelected)
{
    Start(Report());
    OpenSetup();
    const QStringList names = Listed();
    EXPECT_EQ(names.size(), 3) << names.join(",").toStdString();
    for (const char* q : {"FILEPDF", "TRAYS", "RAW"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(q))) << q;
    EXPECT_EQ(P->cboPrinterName->currentText(), "FILEPDF");
    EXPECT_EQ(P->lblPrintername->text(), "FILEPDF:FILEPDF");
    EXPECT_TRUE(P->lblPrintername->isHidden());
    P->CurrentPrinterLabelClick();
    EXPECT_FALSE(P->lblPrintername->isHidden());
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
}

TEST_F(PrintWindowTest, ChoosingAPrinterMakesItTheCurrentOne)
{
    Start(Report());
    OpenSetup();
    const int trays = P->cboPrinterName->findText("TRAYS");
    ASSERT_GE(trays, 0);
    P->cboPrinterName->setCurrentIndex(trays);
    P->cboPrinterNameChange();
    EXPECT_EQ(Layer->PrinterIndex(), Layer->IndexOf("TRAYS"));
    EXPECT_EQ(P->lblPrintername->text(), "TRAYS:TRAYS");
    // OK takes the A4 printer's metrics into the preview.
    P->cmdOk->click();
    EXPECT_FALSE(P->isVisible());
    EXPECT_NEAR(W->Session().Renderer()->Metrics.DpiX, 300, 0.5);
    EXPECT_EQ(W->PageView->width(), W->Session().Renderer()->Metrics.PageWidthPx);
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
}

TEST_F(PrintWindowTest, LoadingFillsTheSizesTheMonochromeBoxAndTheCaption)
{
    Start(Report("{FONTSIZE10=14}{FONTSIZE12=11}{FONTSIZE17=8}{MONO}\r\n"));
    EXPECT_EQ(P->spnSmall->value(), 8);
    EXPECT_EQ(P->spnMedium->value(), 11);
    EXPECT_EQ(P->spnLarge->value(), 14);
    EXPECT_TRUE(P->chkMono->isChecked());
    EXPECT_EQ(P->windowTitle(), QString::fromStdString(W->Session().ReportFileName()) + " -- Quillard");

    // The renderer keeps its sizes for a report that names none; colour
    // is the report's own.
    std::ofstream(W->Session().ReportFileName(), std::ios::binary) << Report("{FONTSIZE17=6}\r\n");
    W->Refresh1Click();
    EXPECT_EQ(P->spnSmall->value(), 6);
    EXPECT_EQ(P->spnMedium->value(), 11);
    EXPECT_EQ(P->spnLarge->value(), 14);
    EXPECT_FALSE(P->chkMono->isChecked());
}

TEST_F(PrintWindowTest, OkHandsSizesMonoCopiesAndLineDrawToTheRendererAndPrinter)
{
    Start(Report());
    ASSERT_NE(W->PageBitmap, nullptr);
    const QImage colour = W->PageBitmap->Image().copy();
    OpenSetup();
    P->spnSmall->setValue(9);
    P->spnMedium->setValue(13);
    P->spnLarge->setValue(20);
    P->spnCopies->setValue(2);
    P->chkMono->setChecked(true);
    P->chkUseLineDraw->setChecked(true);
    P->cmdOk->click();

    tRenderer& r = *W->Session().Renderer();
    EXPECT_EQ(r.Setup.Cpi17Size, 9);
    EXPECT_EQ(r.Setup.Cpi12Size, 13);
    EXPECT_EQ(r.Setup.Cpi10Size, 20);
    EXPECT_EQ(r.Job.Copies, 2);
    EXPECT_FALSE(r.Setup.ColourMode);
    EXPECT_EQ(r.Job.UsePageRange, 0);
    EXPECT_TRUE(Globals().UseLineDrawFont);
    EXPECT_EQ(Layer->Copies(), 2);
    EXPECT_FALSE(P->isVisible());
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Merrowgate", "Quillard");
    EXPECT_EQ(s.value("Use MS LineDraw Font").toString(), "Yes");

    // The preview was drawn again: larger and without red.
    ASSERT_NE(W->PageBitmap, nullptr);
    const QImage mono = W->PageBitmap->Image();
    auto redPixels = [](const QImage& I) {
        int n = 0;
        for (int y = 0; y < I.height(); ++y)
            for (int x = 0; x < I.width(); ++x) {
                const QRgb c = I.pixel(x, y);
                n += qRed(c) > 160 && qGreen(c) < 90 && qBlue(c) < 90;
            }
        return n;
    };
    EXPECT_GT(redPixels(colour), 20);
    EXPECT_EQ(redPixels(mono), 0);
    EXPECT_GT(InkBox(mono).Width(), InkBox(colour).Width());

    // Unticking Monochrome brings the colour back.
    OpenSetup();
    P->chkMono->setChecked(false);
    P->chkUseLineDraw->setChecked(false);
    P->cmdOk->click();
    EXPECT_TRUE(W->Session().Renderer()->Setup.ColourMode);
    EXPECT_GT(redPixels(W->PageBitmap->Image()), 20);
    QSettings again(QSettings::NativeFormat, QSettings::UserScope, "Merrowgate", "Quillard");
    EXPECT_EQ(again.value("Use MS LineDraw Font").toString(), "No");
}

TEST_F(PrintWindowTest, CancelLeavesTheRendererAlone)
{
    Start(Report());
    const QImage before = W->PageBitmap->Image().copy();
    OpenSetup();
    P->spnSmall->setValue(30);
    P->spnLarge->setValue(40);
    P->spnCopies->setValue(5);
    P->chkMono->setChecked(true);
    P->Cancel->click();
    EXPECT_FALSE(P->isVisible());
    EXPECT_EQ(W->Session().Renderer()->Setup.Cpi17Size, 7);
    EXPECT_EQ(W->Session().Renderer()->Setup.Cpi10Size, 12);
    EXPECT_EQ(W->Session().Renderer()->Job.Copies, 1);
    EXPECT_TRUE(W->Session().Renderer()->Setup.ColourMode);
    EXPECT_EQ(Layer->Copies(), 1);
    EXPECT_EQ(W->PageBitmap->Image(), before);
    // Opened again, the window shows what holds, not what was cancelled.
    OpenSetup();
    EXPECT_EQ(P->spnSmall->value(), 7);
    EXPECT_EQ(P->spnLarge->value(), 12);
    EXPECT_EQ(P->spnCopies->value(), 1);
    EXPECT_FALSE(P->chkMono->isChecked());
    P->Cancel->click();
}

TEST_F(PrintWindowTest, ThePrintDialogOffersThePagesAndCopies)
{
    Start(Report());
    // The dialog takes the count the preview made (a count pass now would
    // find the pages added to the file since).
    {
        std::ofstream more(W->Session().ReportFileName(), std::ios::binary | std::ios::app);
        more << "\fA fourth page written after the load\r\n";
    }
    OpenSetup();
    P->spnCopies->setValue(3);
    int minPage = -1, maxPage = -1, copies = -1;
    QString printer, title, okText;
    bool ranges = false;
    WhenDialog<QPrintDialog>([&](QPrintDialog* d) {
        // It sets the job up: its button says OK, not Print.
        title = d->windowTitle();
        if (auto* box = d->findChild<QDialogButtonBox*>())
            if (QPushButton* ok = box->button(QDialogButtonBox::Ok))
                okText = ok->text();
        minPage = d->minPage();
        maxPage = d->maxPage();
        ranges = d->testOption(QAbstractPrintDialog::PrintPageRange);
        copies = d->printer()->copyCount();
        printer = d->printer()->printerName();
        d->accept();
    });
    const size_t jobsBefore = Cups->Jobs().size();
    P->prtSetup->click();
    EXPECT_EQ(title, "Printer Setup");
    EXPECT_EQ(okText, "&OK");
    EXPECT_EQ(Cups->Jobs().size(), jobsBefore) << "the setup printed";
    EXPECT_TRUE(ranges);
    EXPECT_EQ(minPage, 1);
    EXPECT_EQ(maxPage, 3);
    EXPECT_EQ(copies, 3);
    EXPECT_EQ(printer, "FILEPDF");
    EXPECT_EQ(P->spnCopies->value(), 3);
    EXPECT_TRUE(P->prtSetup->isEnabled());
    EXPECT_EQ(P->cboPrinterName->currentText(), "FILEPDF");
    P->cmdOk->click();
    EXPECT_EQ(W->Session().Renderer()->Job.Copies, 3);
    EXPECT_EQ(W->Session().Renderer()->Job.UsePageRange, 0);
    EXPECT_EQ(Layer->Copies(), 3);
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
}

// What the user chooses in the print dialog beyond copies and range reaches
// the job: two-sided printing and the pages to print (odd ones); cancelling
// the print options window, or another printer, leaves them out.
TEST_F(PrintWindowTest, ThePrintDialogsChoicesReachTheJob)
{
    // A driver with two-sided printing.
    const std::string duplex = WritePpd(Dir.filePath("duplex.ppd").toStdString(),
                                        {{"*OpenUI *Duplex", "*OpenUI *Duplex/2-Sided Printing: PickOne\n"
                                                             "*OrderDependency: 10 AnySetup *Duplex\n"
                                                             "*DefaultDuplex: None\n"
                                                             "*Duplex None/Off: \"\"\n"
                                                             "*Duplex DuplexNoTumble/Long Edge: \"\"\n"
                                                             "*Duplex DuplexTumble/Short Edge: \"\"\n"
                                                             "*CloseUI: *Duplex"}});
    ASSERT_TRUE(Cups->AddQueue("DUPLEX", duplex)) << Cups->Log();
    ASSERT_TRUE(Cups->SetDefault("DUPLEX")) << Cups->Log();
    Layer = std::make_unique<TCupsPrinterLayer>();
    SetPrinterLayer(Layer.get());
    Start(Report());
    auto choose = [&](bool Ok) {
        OpenSetup();
        bool found = false;
        WhenDialog<QPrintDialog>([&](QPrintDialog* d) {
            auto* longEdge = d->findChild<QRadioButton*>("duplexLong");
            auto* pageSet = d->findChild<QComboBox*>("pageSetCombo");
            found = longEdge && longEdge->isEnabled() && pageSet;
            if (found) {
                longEdge->setChecked(true);
                const int odd = pageSet->findData(QVariant::fromValue(1));  // odd pages
                pageSet->setCurrentIndex(odd >= 0 ? odd : 1);
            }
            d->accept();
        });
        P->prtSetup->click();
        EXPECT_TRUE(found) << "the dialog's two-sided and page set choices";
        (Ok ? P->cmdOk : P->Cancel)->click();
    };
    struct Case {
        const char* Name;
        bool Ok;
        const char* Sides;
        const char* PageSet;
    };
    for (const Case& c : {Case{"Cancelled", false, "(none)", "(none)"},
                          Case{"Taken", true, "two-sided-long-edge", "odd"}}) {
        SCOPED_TRACE(c.Name);
        choose(c.Ok);
        const size_t before = Cups->Jobs().size();
        W->DoPrint();
        ASSERT_TRUE(Cups->WaitUntilIdle());
        const auto jobs = Cups->Jobs();
        ASSERT_EQ(jobs.size(), before + 1) << MessagesText();
        const auto attrs = Cups->JobAttributes(jobs.back().Id);
        EXPECT_EQ(One(attrs, "sides"), c.Sides);
        EXPECT_EQ(One(attrs, "page-set"), c.PageSet);
        EXPECT_EQ(One(attrs, "media"), "na_letter_8.5x11in") << "the report's paper stays";
    }
    // Another printer chosen in the window: the choices were for the one
    // before, and OK does not hand them to the new one.
    OpenSetup();
    P->cboPrinterName->setCurrentIndex(P->cboPrinterName->findText("FILEPDF"));
    P->cboPrinterNameChange();
    P->cmdOk->click();
    ASSERT_EQ(Layer->Printers().at(size_t(Layer->PrinterIndex())), "FILEPDF");
    const size_t before = Cups->Jobs().size();
    W->DoPrint();
    ASSERT_TRUE(Cups->WaitUntilIdle());
    const auto jobs = Cups->Jobs();
    ASSERT_EQ(jobs.size(), before + 1);
    EXPECT_EQ(jobs.back().Queue, "FILEPDF");
    EXPECT_EQ(One(Cups->JobAttributes(jobs.back().Id), "page-set"), "(none)");
}

// After a print the window is as it was: maximised stays maximised, and it
// is never hidden on the way.
TEST_F(PrintWindowTest, AMaximisedWindowStaysSoAcrossPrinting)
{
    Start(Report());
    W->showMaximized();
    ASSERT_TRUE(W->windowState() & Qt::WindowMaximized);
    struct THideCounter : QObject {
        int Hides = 0;
        bool eventFilter(QObject*, QEvent* E) override
        {
            Hides += E->type() == QEvent::Hide;
            return false;
        }
    } counter;
    W->installEventFilter(&counter);
    W->DoPrint();
    W->removeEventFilter(&counter);
    ASSERT_TRUE(Cups->WaitUntilIdle());
    EXPECT_EQ(counter.Hides, 0);
    EXPECT_TRUE(W->isVisible());
    EXPECT_TRUE(W->windowState() & Qt::WindowMaximized);
    EXPECT_FALSE(Cups->Jobs().empty());
}

TEST_F(PrintWindowTest, PrintSetupIsDisabledWhilePrinting)
{
    Start(Report());
    bool enabledDuring = true;
    Services.OnPump = [&] {
        if (W->Session().Renderer()->Printing)
            enabledDuring = enabledDuring && W->mnuPrintSetup->isEnabled();
    };
    W->DoPrint();
    Services.OnPump = nullptr;
    EXPECT_FALSE(enabledDuring);
    EXPECT_TRUE(W->mnuPrintSetup->isEnabled());
    EXPECT_TRUE(Cups->WaitUntilIdle());
}

// ---- without printers ------------------------------------------------------

TEST_F(PrintWindowTest, WithoutPrintersTheWarningComesOncePerProcess)
{
    SetPrinterLayer(nullptr);
    TPrintOptionsWindow::NoPrinterWarningShown = false;
    {
        TPrintOptionsWindow first(nullptr);
        TPrintOptionsWindow second(nullptr);
        EXPECT_EQ(first.cboPrinterName->count(), 0);
    }
    int warnings = 0;
    for (const auto& m : Services.Messages)
        if (m.Caption == "No Printers Installed") {
            ++warnings;
            EXPECT_EQ(m.Text, "Quillard could not find any installed printers\r\nPrint Preview may not be stable");
        }
    EXPECT_EQ(warnings, 1);
}

TEST_F(PrintWindowTest, CopiesWithoutMultipleCopySupportAreRefusedByTheDialogButKeptForTheRenderer)
{
    SetPrinterLayer(nullptr);
    TPrintOptionsWindow::NoPrinterWarningShown = true;
    tRenderer renderer;
    TPrintOptionsWindow p(nullptr);
    p.Renderer = &renderer;
    p.spnCopies->setValue(3);
    WhenModal([](QWidget* w) { w->close(); });
    p.prtSetupClick();
    ASSERT_FALSE(Services.Messages.empty());
    EXPECT_EQ(Services.Messages[0].Caption, "Error");
    EXPECT_EQ(Services.Messages[0].Text, "Printer does not support Multiple Copies");
    p.cmdOkClick();
    EXPECT_EQ(renderer.Job.Copies, 3);
}

}  // namespace
}  // namespace quillard::test
