// The automation server: the members of IQuillardX acting on the main window,
// the object on a real private session bus called by gdbus, the life of a
// process the bus started, registration and activation, and a whole session
// driven from a shell script, printing to a private cupsd.
#include "tests/dbussession.h"
#include "tests/pdftestutil.h"
#include "tests/printtest.h"
#include "tests/windowtest.h"

#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "app/autoserver.h"
#include "app/automation.h"
#include "engine/header.h"
#include "engine/markup.h"
#include "platform/program.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QScrollBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QSettings>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTest>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <regex>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quillard::test {
namespace {

std::string Pages(int N, const std::string& Word = "Page")
{
    std::string s;
    for (int p = 1; p <= N; ++p) {
        if (p > 1)
            s += "\f";
        s += Word + " " + std::to_string(p) + " of the automated report\r\n";
    }
    return s;
}

// Waits until Done holds, letting events run; false after TimeoutMs.
template <typename F>
bool WaitFor(F Done, int TimeoutMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!Done()) {
        if (t.elapsed() > TimeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

std::vector<std::string> FilesIn(const QString& Dir)
{
    std::vector<std::string> out;
    for (const QString& f : QDir(Dir).entryList(QDir::Files))
        out.push_back(f.toStdString());
    return out;
}

// The main window as a client finds it: made by the program entry, never
// shown, its start-up not run.
class AutomationTest : public WindowTest {
protected:
    std::unique_ptr<TAutomationCommands> X;

    void TearDown() override
    {
        X.reset();
        WindowTest::TearDown();
    }

    void Create(std::vector<std::string> Params = {"-AUTOMATION"})
    {
        MakeWindows(std::move(Params));
        W->NobodyToAsk = true;
        X = std::make_unique<TAutomationCommands>(*W);
    }
};

TEST_F(AutomationTest, CopiesBetweenOneAndNinetyNineAreTakenOthersIgnored)
{
    Create();
    struct {
        int Put, Expected;
    } cases[] = {{5, 5}, {100, 5}, {99, 99}, {0, 99}, {-1, 99}, {1, 1}, {1000, 1}};
    for (const auto& c : cases) {
        X->SetNumberOfCopies(c.Put);
        EXPECT_EQ(X->NumberOfCopies(), c.Expected) << "put " << c.Put;
    }
    // The print window the client set stays the window of the start-up.
    TPrintOptionsWindow* made = W->PrintOptionsWindow;
    X->LoadReport(Pages(1));
    X->SetVisible(true);
    EXPECT_EQ(W->PrintOptionsWindow, made);
    EXPECT_EQ(X->NumberOfCopies(), 1);
}

TEST_F(AutomationTest, ZoomIsTheLeadingDigitsOfTheZoomBoxOrAHundred)
{
    Create();
    struct {
        const char* Text;
        int Zoom;
    } cases[] = {{"abc", 100}, {"", 100}, {"150", 150}, {"75%", 75}, {"99999999999999", INT_MAX}};
    for (const auto& c : cases) {
        W->edtZoom->setText(QString::fromLatin1(c.Text));
        EXPECT_EQ(X->Zoom(), c.Zoom) << c.Text;
    }
}

TEST_F(AutomationTest, LoadFileOnAHiddenWindowLoadsWhenTheWindowFirstShows)
{
    const std::string first = Write(Pages(3), "FIRST.TXT");
    const std::string second = Write(Pages(2, "Second"), "SECOND.TXT");
    Create();
    EXPECT_EQ(X->LoadFile(first), 0);
    EXPECT_EQ(X->Pages(), 0);
    X->SetVisible(true);
    EXPECT_TRUE(X->Visible());
    EXPECT_EQ(X->Pages(), 3);
    EXPECT_EQ(W->Session().Renderer()->FileName, first);

    // Shown before, hidden now: the name is stored, no pages count (the
    // report before is no longer the window's), and the report loads when
    // the window shows again.
    X->SetVisible(false);
    EXPECT_EQ(X->LoadFile(second), 0);
    EXPECT_EQ(X->Pages(), 0);
    X->SetVisible(true);
    EXPECT_EQ(W->Session().Renderer()->FileName, second);
    EXPECT_EQ(X->Pages(), 2);
    EXPECT_EQ(X->LoadFile(first), 1);
    EXPECT_EQ(X->Pages(), 3);
    EXPECT_EQ(X->LoadFile(Dir.filePath("NONE.TXT").toStdString()), 0);
    EXPECT_FALSE(Ended);
}

TEST_F(AutomationTest, LoadReportWritesTheTextToATemporaryReportDeletedAtTheEnd)
{
    Create();
    const std::string text = "{INIT VER=1}\r\nFirst page\fSecond page \x80 without a line end";
    EXPECT_EQ(X->LoadReport(text), 1);
    ASSERT_EQ(TempFiles().size(), 1);
    const std::string name = TempFiles()[0].toStdString();
    EXPECT_TRUE(std::regex_match(name, std::regex("QX[0-9]+\\.TMP"))) << name;
    EXPECT_EQ(ReadFile(Dir.filePath("temp/" + QString::fromStdString(name)).toStdString()), text);
    X->SetVisible(true);
    EXPECT_EQ(X->Pages(), 2);
    // Visible now: the next text loads at once, and the first file goes.
    EXPECT_EQ(X->LoadReport(Pages(4)), 1);
    EXPECT_EQ(X->Pages(), 4);
    EXPECT_EQ(TempFiles().size(), 1);
    W.reset();
    EXPECT_TRUE(TempFiles().isEmpty());
}

// A LoadFile of a name that cannot be opened (mistyped) changes nothing,
// shown or hidden: the report handed over before stays, file and pages.
TEST_F(AutomationTest, AMistypedLoadFileKeepsTheReportBefore)
{
    for (const bool visible : {false, true}) {
        SCOPED_TRACE(visible ? "Visible" : "Hidden");
        Create();
        ASSERT_EQ(X->LoadReport(Pages(3)), 1);
        X->SetVisible(visible);
        EXPECT_EQ(X->LoadFile(Dir.filePath("MISTYPED.TXT").toStdString()), 0);
        EXPECT_EQ(Globals().LastFailure, TFailureKind::NotFound);
        EXPECT_EQ(TempFiles().size(), 1);
        X->SetVisible(true);
        EXPECT_EQ(X->Pages(), 3) << MessagesText();
        const std::string pdf = Dir.filePath("kept.pdf").toStdString();
        EXPECT_EQ(X->SaveAsPDF(pdf), 0);
        EXPECT_NE(PdfText(pdf).find("Page 3 of the automated report"), std::string::npos);
        X.reset();
        W.reset();
        EXPECT_TRUE(TempFiles().isEmpty());
    }
}

TEST_F(AutomationTest, LoadFileAfterLoadReportNeverDeletesTheClientsFile)
{
    const std::string own = Write(Pages(2), "OWN.TXT");
    Create();
    X->LoadReport(Pages(1));
    X->SetVisible(true);
    EXPECT_EQ(X->LoadFile(own), 1);
    EXPECT_TRUE(TempFiles().isEmpty());
    W.reset();
    EXPECT_TRUE(std::filesystem::exists(own));
}

TEST_F(AutomationTest, SaveAsPdfShowsAHiddenWindowWhileWritingAndHidesItAgain)
{
    Create();
    X->LoadReport(Pages(3));
    const std::string pdf = Dir.filePath("OUT.PDF").toStdString();
    bool shownWhileWriting = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { shownWhileWriting = shownWhileWriting || X->Visible(); });
    probe.start(0);
    EXPECT_EQ(X->SaveAsPDF(pdf), 0);
    probe.stop();
    EXPECT_TRUE(shownWhileWriting);
    EXPECT_FALSE(X->Visible());
    EXPECT_EQ(X->Pages(), 3);
    const std::string text = RunProgram("pdftotext", {pdf, "-"});
    EXPECT_NE(text.find("Page 3 of the automated report"), std::string::npos) << text;

    // A failed job gives its code and says why.
    EXPECT_NE(X->SaveAsPDF(Dir.filePath("missing/OUT.PDF").toStdString()), 0);
    EXPECT_FALSE(X->LastErrorMessage().empty());
}

TEST_F(AutomationTest, SaveAsPdfTakesTheFirst255CharactersOfThePath)
{
    Create();
    X->LoadReport(Pages(1));
    std::string path = Dir.path().toStdString() + "/";
    path += std::string(255 - path.size() - 4, 'p') + ".PDF";
    ASSERT_EQ(path.size(), 255u);
    EXPECT_EQ(X->SaveAsPDF(path + "-this-part-is-dropped"), 0) << X->LastErrorMessage();
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(AutomationTest, PageWindowAndPrintControls)
{
    Create();
    X->LoadReport(Pages(3));
    X->SetVisible(true);
    X->SetCurrentPage(3);
    EXPECT_EQ(X->CurrentPage(), 3);
    X->SetCurrentPage(9);
    EXPECT_EQ(X->CurrentPage(), 3);
    X->SetZoom(150);
    EXPECT_EQ(X->Zoom(), 150);
    EXPECT_DOUBLE_EQ(W->Session().Renderer()->GetScale(), 1.5);

    X->SetLeft(40);
    X->SetTop(30);
    X->SetWidth(500);
    X->SetHeight(400);
    EXPECT_EQ(X->Left(), 40);
    EXPECT_EQ(X->Top(), 30);
    EXPECT_EQ(X->Width(), 500);
    EXPECT_EQ(X->Height(), 400);
    X->SetVerticalScrollPosition(50);
    EXPECT_EQ(X->VerticalScrollPosition(), 50);

    EXPECT_TRUE(X->PrintEnabled());
    X->SetPrintEnabled(false);
    EXPECT_FALSE(X->PrintEnabled());
    EXPECT_FALSE(W->cmdPrint->isVisibleTo(W.get()));
    EXPECT_FALSE(W->mnuPrint->isVisible());
    EXPECT_FALSE(W->mnuPrintSetup->isVisible());
    X->SetPrintEnabled(true);
    EXPECT_TRUE(W->cmdPrint->isEnabled() && W->mnuPrint->isEnabled() && W->mnuPrintSetup->isEnabled());

    X->SetCloseAfterPrint(true);
    EXPECT_TRUE(W->CloseAfterPrint);
    X->SetPrintTitle("Client title");
    EXPECT_EQ(X->PrintTitle(), "Client title");
    EXPECT_TRUE(std::regex_match(X->Version(), std::regex("[0-9]+\\.[0-9]+"))) << X->Version();
    EXPECT_EQ(QuillardXSpanText(7), "This would be the text in span 7");
}

TEST_F(AutomationTest, PrintWithoutAReportOrPrinterIsAnError)
{
    Create();
    EXPECT_THROW(X->Print(), TAutomationError);
    X->LoadReport(Pages(1));
    // No printer in this test: the job fails and the client hears of it.
    EXPECT_THROW(X->Print(), TAutomationError);
    EXPECT_FALSE(Ended);
}

// A client's window geometry stays on the working area of the screen: a value
// beyond it is taken as far as the area allows (the value set wins, the
// other edge gives way), a size below a usable window gives the least
// usable one. (A width of 2147483647 once made Qt crash on its backing
// store.) Scroll positions go no further than the scroll bars.
TEST_F(AutomationTest, WindowGeometryFromAClientStaysOnTheScreen)
{
    Create();
    X->LoadReport(Pages(3));
    X->SetVisible(true);
    const QRect a = W->screen()->availableGeometry();
    ASSERT_GE(a.width(), 500);
    ASSERT_GE(a.height(), 400);
    const int right = a.x() + a.width(), bottom = a.y() + a.height();
    const int leastW = std::min(MinWindowWidth, a.width()), leastH = std::min(MinWindowHeight, a.height());
    struct Step {
        const char* Name;
        void (TAutomationCommands::*Set)(int);
        int Value;
        int Left, Top, Width, Height;
    };
    const Step steps[] = {
        {"Width max", &TAutomationCommands::SetWidth, INT_MAX, a.x(), a.y(), a.width(), a.height()},
        {"Height max", &TAutomationCommands::SetHeight, INT_MAX, a.x(), a.y(), a.width(), a.height()},
        {"Width 0", &TAutomationCommands::SetWidth, 0, a.x(), a.y(), leastW, a.height()},
        {"Height -1", &TAutomationCommands::SetHeight, -1, a.x(), a.y(), leastW, leastH},
        {"Left max", &TAutomationCommands::SetLeft, INT_MAX, right - leastW, a.y(), leastW, leastH},
        {"Top max", &TAutomationCommands::SetTop, INT_MAX, right - leastW, bottom - leastH, leastW, leastH},
        {"Width 500 moves left", &TAutomationCommands::SetWidth, 500, right - 500, bottom - leastH, 500, leastH},
        {"Left min", &TAutomationCommands::SetLeft, INT_MIN, a.x(), bottom - leastH, 500, leastH},
        {"Top min", &TAutomationCommands::SetTop, INT_MIN, a.x(), a.y(), 500, leastH},
        {"Height 400", &TAutomationCommands::SetHeight, 400, a.x(), a.y(), 500, 400},
        {"Left near the right shrinks", &TAutomationCommands::SetLeft, right - 400, right - 400, a.y(), 400, 400},
        {"Width max again", &TAutomationCommands::SetWidth, INT_MAX, a.x(), a.y(), a.width(), 400},
        {"Height 1", &TAutomationCommands::SetHeight, 1, a.x(), a.y(), a.width(), leastH},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.Name);
        (X.get()->*s.Set)(s.Value);
        EXPECT_EQ(X->Left(), s.Left);
        EXPECT_EQ(X->Top(), s.Top);
        EXPECT_EQ(X->Width(), s.Width);
        EXPECT_EQ(X->Height(), s.Height);
        EXPECT_TRUE(a.contains(W->frameGeometry())) << W->frameGeometry().x() << "," << W->frameGeometry().y() << " "
                                                    << W->frameGeometry().width() << "x"
                                                    << W->frameGeometry().height();
    }

    X->SetZoom(300);
    QScrollBar* bars[] = {W->ScrollArea->verticalScrollBar(), W->ScrollArea->horizontalScrollBar()};
    ASSERT_GT(bars[0]->maximum(), 0);
    X->SetVerticalScrollPosition(INT_MAX);
    X->SetHorizontalScrollPosition(INT_MAX);
    EXPECT_EQ(X->VerticalScrollPosition(), bars[0]->maximum());
    EXPECT_EQ(X->HorizontalScrollPosition(), bars[1]->maximum());
    X->SetVerticalScrollPosition(INT_MIN);
    X->SetHorizontalScrollPosition(-1);
    EXPECT_EQ(X->VerticalScrollPosition(), 0);
    EXPECT_EQ(X->HorizontalScrollPosition(), 0);
}

// A text over its limit is refused whole: nothing is cut, nothing changes,
// and the client is told why.
TEST_F(AutomationTest, TextsOverTheirLimitsAreRefusedWhole)
{
    const std::string own = Write(Pages(2), "OWN.TXT");
    Create();
    X->SetPrintTitle("Kept title");
    X->LoadFile(own);
    struct Case {
        const char* What;
        size_t Limit;
        std::function<void(const std::string&)> Send;
    };
    const Case cases[] = {
        {"PrintTitle", MaxTitleBytes, [&](const std::string& V) { X->SetPrintTitle(V); }},
        {"LoadReport's report text", MaxReportTextBytes, [&](const std::string& V) { X->LoadReport(V); }},
        {"LoadFile's file name", MaxFileNameBytes, [&](const std::string& V) { X->LoadFile(V); }},
        {"SaveAsPDF's file name", MaxFileNameBytes, [&](const std::string& V) { X->SaveAsPDF(V); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Globals().LastErrorMessage.clear();
        const std::string over = Dir.filePath("x").toStdString() + std::string(c.Limit, 'x');
        EXPECT_THROW(c.Send(over), TAutomationError);
        const std::string says = std::string(c.What) + " of " + std::to_string(over.size()) +
                                 " bytes is refused: the limit is " + std::to_string(c.Limit) + " bytes.";
        EXPECT_EQ(X->LastErrorMessage().rfind(says, 0), 0u) << X->LastErrorMessage();
        EXPECT_EQ(X->PrintTitle(), "Kept title");
        EXPECT_EQ(W->Session().ReportFileName(), own);
        EXPECT_TRUE(TempFiles().isEmpty());
        EXPECT_FALSE(X->Visible());
    }
    // At their limits the texts are taken.
    X->SetPrintTitle(std::string(MaxTitleBytes, 't'));
    EXPECT_EQ(X->PrintTitle(), std::string(MaxTitleBytes, 't'));
    EXPECT_EQ(X->LoadReport(std::string(MaxReportTextBytes, 'r')), 1);
    ASSERT_EQ(TempFiles().size(), 1);
    EXPECT_EQ(std::filesystem::file_size(Dir.filePath("temp/" + TempFiles()[0]).toStdString()), MaxReportTextBytes);
}

// A report a client hands over as text is not trusted with this computer's
// files, as one fetched from a web server: the pictures it marks for
// deletion stay. A report file the client names is the computer's own.
TEST_F(AutomationTest, PicturesOfAReportHandedOverAsTextAreNeverDeleted)
{
    QImage pic(40, 30, QImage::Format_RGB32);
    pic.fill(Qt::blue);
    struct Case {
        const char* Name;
        bool AsText;
        bool Deleted;
    };
    for (const Case& c : {Case{"LoadReport", true, false}, Case{"LoadFile", false, true}}) {
        SCOPED_TRACE(c.Name);
        const QString picture = Dir.filePath("PIC.BMP");
        ASSERT_TRUE(pic.save(picture, "BMP"));
        const std::string report = "{IMAGE SRC=\"" + picture.toStdString() + "\" DELETE=YES}\r\nWith a picture\r\n";
        Create();
        if (c.AsText)
            EXPECT_EQ(X->LoadReport(report), 1);
        else
            EXPECT_EQ(X->LoadFile(Write(report, "PIC.TXT")), 0);
        X->SetVisible(true);
        EXPECT_EQ(W->Session().Renderer()->ReportIsUntrusted, c.AsText);
        ASSERT_TRUE(W->PageBitmap);
        // The picture was drawn.
        EXPECT_FALSE(InkBox(W->PageBitmap->Image(), [](QRgb p) { return qBlue(p) > 200 && qRed(p) < 50; }).Empty());
        // Another report, then the end of the program: the moments pictures
        // marked for deletion go.
        X->LoadReport(Pages(1));
        X.reset();
        W.reset();
        EXPECT_EQ(!QFile::exists(picture), c.Deleted);
    }
}

// ---------------------------------------------------------------------------
// Printers of a real spooler

class AutomationPrinterTest : public PrintTest {
protected:
    void SetUp() override
    {
        PrintTest::SetUp();
        // The window writes its settings when it ends.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.filePath("user"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, Dir.filePath("system"));
    }
    void TearDown() override
    {
        X.reset();
        W.reset();
        PrintTest::TearDown();
    }

    // The window of a server a client started, on the spooler's printers.
    std::unique_ptr<TPreviewWindow> W;
    std::unique_ptr<TAutomationCommands> X;
    void StartServerWindow()
    {
        Layer = std::make_unique<TCupsPrinterLayer>();
        SetPrinterLayer(Layer.get());
        TPrintOptionsWindow::NoPrinterWarningShown = true;
        W = std::make_unique<TPreviewWindow>(std::vector<std::string>{"-AUTOMATION"});
        W->NobodyToAsk = true;
        W->OnTerminate = [](int) {};
        X = std::make_unique<TAutomationCommands>(*W);
        W->EnsureEngine();
    }
};

TEST_F(AutomationPrinterTest, PrinterListIndexAndMetricsComeFromTheSpooler)
{
    StartServerWindow();
    TPreviewWindow& w = *W;
    TAutomationCommands& x = *X;
    ASSERT_EQ(x.PrinterCount(), 3);
    std::vector<std::string> names;
    for (int i = 0; i < x.PrinterCount(); ++i)
        names.push_back(x.Printers(i));
    EXPECT_EQ(x.Printers(x.PrinterCount()), "");
    EXPECT_EQ(x.Printers(-1), "");
    EXPECT_EQ(x.PrinterName(), "FILEPDF");

    const int trays = static_cast<int>(std::find(names.begin(), names.end(), "TRAYS") - names.begin());
    ASSERT_LT(trays, 3);
    x.SetPrinterIndex(trays);
    EXPECT_EQ(x.PrinterIndex(), trays);
    EXPECT_EQ(x.PrinterName(), "TRAYS");
    x.SetPrinterIndex(3);
    EXPECT_EQ(x.PrinterIndex(), trays);
    x.SetPrinterIndex(-1);
    EXPECT_EQ(x.PrinterIndex(), trays);

    // A4 at 300 dpi with 12 points of margin left and top.
    EXPECT_EQ(x.PrinterPageWidth(), Layer->PageWidth());
    EXPECT_EQ(x.PrinterPageHeight(), Layer->PageHeight());
    w.Session().Renderer()->GetCapacities();
    EXPECT_EQ(x.PrinterNonPrintableX(), 50);
    EXPECT_EQ(x.PrinterNonPrintableY(), 50);
    EXPECT_NEAR(x.PrinterNonPrintableX_IN(), 12.0 / 72, 0.01);
    EXPECT_NEAR(x.PrinterPageWidth_IN(), (583.0 - 12) / 72, 0.01);
    EXPECT_NEAR(x.PrinterPageHeight_IN(), (830.0 - 24) / 72, 0.01);
}

// The printer list is the spooler's as it is when a client asks: a queue
// removed or added since is no longer or now counted, and the printer chosen
// stays chosen while it is there.
TEST_F(AutomationPrinterTest, ThePrinterListFollowsTheSpooler)
{
    StartServerWindow();
    TAutomationCommands& x = *X;
    ASSERT_EQ(x.PrinterCount(), 3);
    for (int i = 0; i < 3; ++i)
        if (x.Printers(i) == "TRAYS")
            x.SetPrinterIndex(i);
    ASSERT_EQ(x.PrinterName(), "TRAYS");

    ASSERT_TRUE(Cups->AddQueue("ADDED", "")) << Cups->Log();
    EXPECT_EQ(x.PrinterCount(), 4);
    EXPECT_EQ(x.PrinterName(), "TRAYS");
    ASSERT_TRUE(Cups->Delete("ADDED")) << Cups->Log();
    ASSERT_TRUE(Cups->Delete("FILEPDF")) << Cups->Log();
    EXPECT_EQ(x.PrinterCount(), 2);
    std::vector<std::string> names;
    for (int i = 0; i < x.PrinterCount(); ++i)
        names.push_back(x.Printers(i));
    EXPECT_EQ(std::count(names.begin(), names.end(), "FILEPDF"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "ADDED"), 0);
    EXPECT_EQ(x.PrinterName(), "TRAYS");
}

// A queue that takes no jobs: Print fails with the printer's refusal, of
// the kind PrinterRejected, and prints nothing.
TEST_F(AutomationPrinterTest, AQueueThatRejectsJobsIsAPrinterRefusal)
{
    StartServerWindow();
    ASSERT_EQ(X->PrinterName(), "FILEPDF");
    ASSERT_EQ(X->LoadReport("A report\r\n"), 1);
    X->SetVisible(true);
    ASSERT_TRUE(Cups->Reject("FILEPDF"));
    Globals().LastErrorMessage.clear();
    Globals().LastFailure = TFailureKind::None;
    EXPECT_THROW(X->Print(), TAutomationError);
    EXPECT_EQ(X->LastErrorName(), "com.merrowgate.Quillard.Error.PrinterRejected");
    EXPECT_TRUE(Cups->Jobs().empty());
}

// A printer chosen by a client takes the opened report's paper and
// orientation, not its own defaults.
TEST_F(AutomationPrinterTest, APrinterAClientChoosesTakesTheReportsPaper)
{
    StartServerWindow();
    TPreviewWindow& w = *W;
    TAutomationCommands& x = *X;
    const std::string report = Dir.filePath("A4.TXT").toStdString();
    std::ofstream(report, std::ios::binary) << "{INIT VER=1 PAPER=A4 ORIENTATION=LANSCAPE}\r\nA4 across\r\n";
    ASSERT_TRUE(w.Session().Renderer()->OpenFile(report, nullptr));
    for (int i = 0; i < x.PrinterCount(); ++i) {
        x.SetPrinterIndex(i);
        SCOPED_TRACE(x.PrinterName());
        EXPECT_EQ(Layer->PaperSize(), PaperNumber("A4"));
        EXPECT_EQ(Layer->Orientation(), 1);
    }
}

// A web server in the test's own process on 127.0.0.1, answering while the
// test lets events run: "/drip" promises a long report and sends one byte of
// it every 20 ms until Hangup; any other address is not found.
class TLocalWebServer {
public:
    int DripRequests = 0;
    int64_t DripBytes = 0;

    bool Start()
    {
        QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = FServer.nextPendingConnection())
                Accept(socket);
        });
        return FServer.listen(QHostAddress::LocalHost, 0);
    }
    std::string Url(const std::string& Path) const
    {
        return "http://127.0.0.1:" + std::to_string(FServer.serverPort()) + Path;
    }
    // Ends every connection.
    void Hangup()
    {
        for (QTcpSocket* socket : FServer.findChildren<QTcpSocket*>())
            socket->abort();
    }

private:
    void Accept(QTcpSocket* Socket)
    {
        auto* request = new QByteArray;
        QObject::connect(Socket, &QObject::destroyed, [request] { delete request; });
        QObject::connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
        QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket, request] {
            const bool started = request->contains("\r\n\r\n");
            *request += Socket->readAll();
            if (started || !request->contains("\r\n\r\n"))
                return;
            if (request->startsWith("GET /report ")) {
                const QByteArray body = "Fetched report page\r\n";
                Socket->write("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                              body);
                Socket->disconnectFromHost();
                return;
            }
            if (!request->startsWith("GET /drip ")) {
                Socket->write("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nNot found");
                Socket->disconnectFromHost();
                return;
            }
            ++DripRequests;
            Socket->write("HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n");
            auto* drip = new QTimer(Socket);
            QObject::connect(drip, &QTimer::timeout, Socket, [this, Socket] {
                if (Socket->state() != QAbstractSocket::ConnectedState)
                    return;
                Socket->write("x");
                ++DripBytes;
            });
            drip->start(20);
        });
    }

    QTcpServer FServer;
};

// A report fetched for a client takes the place of the one shown: the
// report handed over before goes (it was left behind); a web address named
// while the window is hidden is fetched when the window shows, and a PDF
// saved then is of the fetched report (it was of the report before).
TEST_F(AutomationTest, AFetchedReportTakesThePlaceOfTheOneBefore)
{
    TLocalWebServer web;
    ASSERT_TRUE(web.Start());
    Create();
    ASSERT_EQ(X->LoadReport(Pages(3)), 1);
    X->SetVisible(true);
    const QStringList handedOver = TempFiles();
    ASSERT_EQ(handedOver.size(), 1);
    EXPECT_EQ(X->LoadFile(web.Url("/report")), 1) << MessagesText();
    EXPECT_EQ(X->Pages(), 1);
    EXPECT_FALSE(TempFiles().contains(handedOver[0])) << "the report handed over is still there";

    const std::string own = Write(Pages(3), "OWN.TXT");
    ASSERT_EQ(X->LoadFile(own), 1);
    X->SetVisible(false);
    EXPECT_EQ(X->LoadFile(web.Url("/report")), 0);
    X->SetVisible(true);
    EXPECT_EQ(X->Pages(), 1) << "the web report was not loaded when the window showed";
    X->SetVisible(false);
    EXPECT_EQ(X->LoadFile(web.Url("/report")), 0);
    const std::string pdf = Dir.filePath("which.pdf").toStdString();
    EXPECT_EQ(X->SaveAsPDF(pdf), 0);
    const std::string text = PdfText(pdf);
    EXPECT_EQ(text.find("Page 3 of the automated report"), std::string::npos) << "the PDF is of the report before";
    EXPECT_NE(text.find("Fetched report page"), std::string::npos) << text;
    X.reset();
    W.reset();
    EXPECT_TRUE(TempFiles().isEmpty()) << TempFiles().join(",").toStdString();
}

// ---------------------------------------------------------------------------
// The object on a private session bus

class AutomationBusTest : public AutomationTest {
protected:
    TDBusSession Bus;
    QString ConnectionName;

    void SetUp() override
    {
        AutomationTest::SetUp();
        ASSERT_TRUE(Bus.Start(Dir.path(), Dir.filePath("services"), QProcessEnvironment::systemEnvironment()))
            << Bus.Error();
        static int serial = 0;
        ConnectionName = QStringLiteral("automation-test-%1").arg(++serial);
    }

    void TearDown() override
    {
        if (W)
            ServerLayerOf(*W).Withdraw();
        QDBusConnection::disconnectFromBus(ConnectionName);
        Bus.Stop();
        AutomationTest::TearDown();
    }

    void Publish(std::vector<std::string> Params = {"-AUTOMATION"})
    {
        Create(std::move(Params));
        std::string why;
        ASSERT_TRUE(ServerLayerOf(*W).Publish(W.get(), QDBusConnection::connectToBus(Bus.Address(), ConnectionName),
                                                &why))
            << why;
    }

    TGdbusResult Call(const QStringList& Args) { return Gdbus(Bus.Address(), Args, true); }
};

TEST_F(AutomationBusTest, PropertiesAndMethodsAnswerGdbus)
{
    Publish();
    EXPECT_TRUE(ServerLayerOf(*W).Exists());
    EXPECT_FALSE(ServerLayerOf(*W).StandAlone());
    struct {
        QStringList Args;
        const char* Out;
    } steps[] = {
        {QxCall("LoadReport", {"'{INIT VER=1}\\r\\nOne\\fTwo\\fThree'"}), "(1,)"},
        {QxGet("Pages"), "(<0>,)"},
        {QxSet("Visible", "true"), "()"},
        {QxGet("Visible"), "(<true>,)"},
        {QxGet("Pages"), "(<3>,)"},
        {QxSet("CurrentPage", "2"), "()"},
        {QxGet("CurrentPage"), "(<2>,)"},
        {QxSet("Zoom", "120"), "()"},
        {QxGet("Zoom"), "(<120>,)"},
        {QxSet("NumberOfCopies", "100"), "()"},
        {QxGet("NumberOfCopies"), "(<1>,)"},
        {QxSet("NumberOfCopies", "99"), "()"},
        {QxGet("NumberOfCopies"), "(<99>,)"},
        {QxGet("PrinterCount"), "(<0>,)"},
        {QxCall("Printers", {"0"}), "('',)"},
        {QxSet("LastErrorMessage", "'ignored'"), "()"},
        {QxGet("Document"), "(<objectpath '/QuillardX/Document'>,)"},
        {QxCall("Document.Span", {"7"}), "(objectpath '/QuillardX/Document/Span/7',)"},
        {QxCall("Document.Span", {"--", "-3"}), "(objectpath '/QuillardX/Document/Span/m3',)"},
    };
    for (const auto& s : steps) {
        const TGdbusResult r = Call(s.Args);
        EXPECT_EQ(r.Out, s.Out) << s.Args.join(' ').toStdString() << "\n" << r.Err;
    }
    for (const char* span : {"7", "m3"}) {
        const QString path = QStringLiteral("/QuillardX/Document/Span/") + QLatin1String(span);
        const QStringList get = {"call", "--session", "--dest", "com.merrowgate.Quillard", "--object-path", path,
                                 "--method", "org.freedesktop.DBus.Properties.Get",
                                 "com.merrowgate.Quillard.IQuillardXSpan", "Text"};
        const std::string index = span[0] == 'm' ? "-3" : "7";
        EXPECT_EQ(Call(get).Out, "(<'This would be the text in span " + index + "'>,)");
        QStringList set = get;
        set[7] = "org.freedesktop.DBus.Properties.Set";
        set << "<'new text'>";
        EXPECT_EQ(Call(set).Code, 0);
        EXPECT_EQ(Call(get).Out, "(<'This would be the text in span " + index + "'>,)");
    }
    const TGdbusResult all = Call(QxCall("org.freedesktop.DBus.Properties.GetAll", {"com.merrowgate.Quillard.IQuillardX"}));
    EXPECT_NE(all.Out.find("'Pages': <3>"), std::string::npos) << all.Out;
    EXPECT_NE(all.Out.find("'Version': <'"), std::string::npos) << all.Out;
}

TEST_F(AutomationBusTest, WrongCallsGetTheBusErrors)
{
    Publish();
    struct {
        QStringList Args;
        const char* Error;
    } cases[] = {
        {QxSet("Zoom", "'abc'"), "org.freedesktop.DBus.Error.InvalidArgs"},
        {QxSet("Pages", "4"), "org.freedesktop.DBus.Error.PropertyReadOnly"},
        {QxGet("Colour"), "org.freedesktop.DBus.Error.UnknownProperty"},
        {QxCall("Explode"), "org.freedesktop.DBus.Error.UnknownMethod"},
        {QxCall("Print"), "com.merrowgate.Quillard.Error.NoReport: There is no report to print."},
        {{"call", "--session", "--dest", "com.merrowgate.Quillard", "--object-path", "/QuillardX/Other", "--method",
          "org.freedesktop.DBus.Properties.Get", "x", "y"},
         "org.freedesktop.DBus.Error.UnknownObject"},
    };
    for (const auto& c : cases) {
        const TGdbusResult r = Call(c.Args);
        EXPECT_NE(r.Code, 0) << c.Args.join(' ').toStdString();
        EXPECT_NE(r.Err.find(c.Error), std::string::npos) << c.Args.join(' ').toStdString() << "\n" << r.Err;
    }
}

TEST_F(AutomationBusTest, IntrospectionListsEveryMember)
{
    Publish();
    const TGdbusResult r = Gdbus(Bus.Address(),
                                 {"introspect", "--session", "--dest", "com.merrowgate.Quillard", "--object-path",
                                  "/QuillardX", "--recurse"},
                                 true);
    ASSERT_EQ(r.Code, 0) << r.Err;
    for (const char* member :
         {"Print()", "Printers(in  i nIndex", "Close()", "LoadFile(in  s cFileName", "LoadReport(in  s TextReport",
          "SaveAsPDF(in  s TextReport", "readwrite i NumberOfCopies", "readonly s PrinterName",
          "readwrite i PrinterIndex", "readwrite s PrintTitle", "readwrite b Visible", "readonly i PrinterCount",
          "readonly i Pages", "readwrite i CurrentPage", "readwrite i Zoom", "readwrite i Top", "readwrite i Left",
          "readwrite i Height", "readwrite i Width", "readwrite i VerticalScrollPosition",
          "readwrite i HorizontalScrollPosition", "readonly i PrinterPageWidth", "readonly i PrinterPageHeight",
          "readonly d PrinterPageWidth_IN", "readonly d PrinterPageHeight_IN", "readonly i PrinterNonPrintableX",
          "readonly i PrinterNonPrintableY", "readonly d PrinterNonPrintableX_IN", "readonly d PrinterNonPrintableY_IN",
          "readwrite b CloseAfterPrint", "readwrite b PrintEnabled", "readonly s Version", "readonly o Document",
          "readwrite s LastErrorMessage", "readonly s LastErrorName", "interface com.merrowgate.Quillard.IQuillardXDocument",
          "Span(in  i index"})
        EXPECT_NE(r.Out.find(member), std::string::npos) << member;
}

TEST_F(AutomationBusTest, CallsWaitWhileAPageIsBeingDrawn)
{
    Publish();
    ServerLayerOf(*W).BusyAfterMs = 600000;
    X->LoadReport(Pages(2));
    X->SetVisible(true);
    W->Session().Renderer()->Rendering = true;
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address());
    client.setProcessEnvironment(env);
    client.start("gdbus", QxSet("CurrentPage", "2"));
    QTest::qWait(300);
    EXPECT_EQ(client.state(), QProcess::Running);
    EXPECT_EQ(X->CurrentPage(), 1);
    W->Session().Renderer()->Rendering = false;
    ASSERT_TRUE(WaitFor([&] { return client.state() == QProcess::NotRunning; }));
    EXPECT_EQ(client.exitCode(), 0);
    EXPECT_EQ(X->CurrentPage(), 2);
}

// Pages drawn ahead while the window is idle give way to a client: a call
// that arrives during such a pass stops it and goes next, not waiting for it.
TEST_F(AutomationBusTest, DrawingAheadGivesWayToAClientsCall)
{
    Publish();
    X->LoadReport(Pages(3));
    X->SetVisible(true);
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address());
    client.setProcessEnvironment(env);
    bool caught = false, stopped = false;
    Services.OnPump = [&] {
        if (caught || !W->DrawingAhead())
            return;
        // Caught in a page's pass drawn ahead: the client calls, and the
        // pass goes on letting events run until the call has stopped it.
        caught = true;
        client.start("gdbus", QxSet("CurrentPage", "3"));
        stopped = WaitFor([&] { return W->Session().Renderer()->Pass.Aborted; });
    };
    ASSERT_TRUE(WaitFor([&] { return caught && client.state() == QProcess::NotRunning; }));
    Services.OnPump = nullptr;
    EXPECT_TRUE(stopped) << "the pass drawing ahead went on while a client waited";
    EXPECT_EQ(client.exitCode(), 0) << client.readAllStandardError().toStdString();
    EXPECT_EQ(X->CurrentPage(), 3);
    EXPECT_FALSE(W->DrawingAhead());
}

// While the window stays busy (another client's long call, a job), a call
// that changes something is refused as busy after a second instead of
// waiting on; the window's own work is untouched.
TEST_F(AutomationBusTest, ACallWaitingOnOtherWorkIsRefusedAsBusyAfterASecond)
{
    Publish();
    X->LoadReport(Pages(2));
    X->SetVisible(true);
    W->Session().Renderer()->Rendering = true;
    QElapsedTimer waited;
    waited.start();
    const TGdbusResult r = Call(QxSet("CurrentPage", "2"));
    EXPECT_GE(waited.elapsed(), ServerLayerOf(*W).BusyAfterMs);
    EXPECT_NE(r.Err.find("com.merrowgate.Quillard.Busy: Quillard is busy with other work"), std::string::npos)
        << r.Err;
    W->Session().Renderer()->Rendering = false;
    EXPECT_EQ(X->CurrentPage(), 1);
    EXPECT_EQ(Call(QxSet("CurrentPage", "2")).Code, 0);
    EXPECT_EQ(X->CurrentPage(), 2);
}

// Reads are answered at once while a page is drawn, and so are refusals;
// a call that changes something waits its turn, and a client's read waits
// behind that client's own earlier call.
TEST_F(AutomationBusTest, ReadsAndRefusalsAreAnsweredWhileAPageIsBeingDrawn)
{
    Publish();
    ServerLayerOf(*W).BusyAfterMs = 600000;
    X->LoadReport(Pages(2));
    X->SetVisible(true);
    W->Session().Renderer()->Rendering = true;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address());
    QProcess setter;
    setter.setProcessEnvironment(env);
    setter.start("gdbus", QxSet("CurrentPage", "2"));
    const QString name = ConnectionName + "-client";
    QDBusConnection client = QDBusConnection::connectToBus(Bus.Address(), name);
    QDBusMessage set = QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX",
                                                      "org.freedesktop.DBus.Properties", "Set");
    set << QStringLiteral("com.merrowgate.Quillard.IQuillardX") << QStringLiteral("Zoom")
        << QVariant::fromValue(QDBusVariant(150));
    QDBusMessage get = QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << QStringLiteral("com.merrowgate.Quillard.IQuillardX") << QStringLiteral("Zoom");
    QDBusPendingCall zoomSet = client.asyncCall(set);
    QDBusPendingCall zoomGet = client.asyncCall(get);

    EXPECT_EQ(Call(QxGet("Pages")).Out, "(<2>,)");
    EXPECT_EQ(Call(QxGet("CurrentPage")).Out, "(<1>,)");
    const TGdbusResult refused = Call(QxSet("PrintTitle", "'" + QString(MaxTitleBytes + 1, 'T') + "'"));
    EXPECT_NE(refused.Err.find("LimitsExceeded"), std::string::npos) << refused.Err;
    EXPECT_EQ(setter.state(), QProcess::Running);
    EXPECT_FALSE(zoomSet.isFinished());
    EXPECT_FALSE(zoomGet.isFinished());

    W->Session().Renderer()->Rendering = false;
    ASSERT_TRUE(WaitFor([&] { return setter.state() == QProcess::NotRunning && zoomGet.isFinished(); }));
    EXPECT_EQ(setter.exitCode(), 0);
    EXPECT_EQ(X->CurrentPage(), 2);
    ASSERT_EQ(zoomGet.reply().type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(zoomGet.reply().arguments().value(0).value<QDBusVariant>().variant().toInt(), 150);
    QDBusConnection::disconnectFromBus(name);
}

// A failure carries its kind: a call that fails gives the D-Bus error of
// that kind, and LastErrorName names it for members that answer with a
// number; a later success clears it.
TEST_F(AutomationBusTest, FailuresCarryTheirKind)
{
    TLocalWebServer web;
    ASSERT_TRUE(web.Start());
    // A port nobody listens on.
    quint16 closedPort = 0;
    {
        QTcpServer s;
        ASSERT_TRUE(s.listen(QHostAddress::LocalHost, 0));
        closedPort = s.serverPort();
    }
    Publish();
    auto quoted = [](const std::string& Text) { return QString::fromStdString("'" + Text + "'"); };
    const std::string missing = Dir.filePath("MISSING.TXT").toStdString();
    const struct {
        const char* Name;
        QStringList Args;
        const char* Out;    // the answer, or nullptr for an error
        const char* Error;  // its name, or the name LastErrorName gives ("" for none)
    } steps[] = {
        {"PrintWithoutAReport", QxCall("Print"), nullptr, "com.merrowgate.Quillard.Error.NoReport"},
        {"SaveWithoutAReport", QxCall("SaveAsPDF", {quoted(Dir.filePath("none.pdf").toStdString())}), "(4,)",
         "com.merrowgate.Quillard.Error.NoReport"},
        {"LoadReport", QxCall("LoadReport", {"'A report\\r\\n'"}), "(1,)", ""},
        {"Show", QxSet("Visible", "true"), "()", ""},
        {"MissingFile", QxCall("LoadFile", {quoted(missing)}), "(0,)", "com.merrowgate.Quillard.Error.NotFound"},
        {"MissingPage", QxCall("LoadFile", {quoted(web.Url("/missing"))}), "(0,)",
         "com.merrowgate.Quillard.Error.NotFound"},
        {"NobodyListens", QxCall("LoadFile", {quoted("http://127.0.0.1:" + std::to_string(closedPort) + "/r")}),
         "(0,)", "com.merrowgate.Quillard.Error.Unreachable"},
        {"AgainAReport", QxCall("LoadReport", {"'Another report\\r\\n'"}), "(1,)", ""},
        {"PrintWithoutAPrinter", QxCall("Print"), nullptr, "com.merrowgate.Quillard.Error.NoPrinter"},
        {"ReadingLeavesIt", QxGet("Pages"), "(<1>,)", "com.merrowgate.Quillard.Error.NoPrinter"},
        // A read that fails has its own kind, not the one of the failure before.
        {"AFailingReadIsOfItsOwnKind", QxGet("PrinterPageWidth"), nullptr, "com.merrowgate.Quillard.Error"},
        {"SuccessClearsIt", QxSet("Zoom", "100"), "()", ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Name);
        const TGdbusResult r = Call(step.Args);
        if (step.Out) {
            EXPECT_EQ(r.Out, step.Out) << r.Err;
        } else {
            EXPECT_NE(r.Code, 0);
            EXPECT_NE(r.Err.find(std::string(step.Error) + ": "), std::string::npos) << r.Err;
        }
        EXPECT_EQ(Call(QxGet("LastErrorName")).Out, "(<'" + std::string(step.Error) + "'>,)");
    }
    // The report loaded last is still the window's.
    EXPECT_EQ(Call(QxGet("Pages")).Out, "(<1>,)");
}

// LastErrorMessage tells of the last call that did something: a later
// success clears it, reading a property leaves it.
TEST_F(AutomationBusTest, ALaterSuccessClearsTheLastError)
{
    Publish();
    const QString name = ConnectionName + "-errors";
    QDBusConnection client = QDBusConnection::connectToBus(Bus.Address(), name);
    const QString qx = QStringLiteral("com.merrowgate.Quillard.IQuillardX");
    auto call = [&](const QString& Interface, const QString& Member, const QVariantList& Args) {
        QDBusMessage m = QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX", Interface, Member);
        m.setArguments(Args);
        return client.call(m, QDBus::BlockWithGui, 60000);
    };
    auto lastError = [&] {
        const QDBusMessage r = call("org.freedesktop.DBus.Properties", "Get", {qx, QStringLiteral("LastErrorMessage")});
        return r.arguments().value(0).value<QDBusVariant>().variant().toString().toStdString();
    };
    struct Step {
        const char* Name;
        std::function<QDBusMessage()> Send;
        bool Cleared;
    };
    const Step after[] = {
        {"ReadingAProperty", [&] { return call("org.freedesktop.DBus.Properties", "Get", {qx, QStringLiteral("Pages")}); }, false},
        {"SettingAProperty",
         [&] {
             return call("org.freedesktop.DBus.Properties", "Set",
                         {qx, QStringLiteral("PrintTitle"), QVariant::fromValue(QDBusVariant(QStringLiteral("t")))});
         },
         true},
        {"CallingAMember", [&] { return call(qx, "Printers", {0}); }, true},
    };
    for (const Step& s : after) {
        SCOPED_TRACE(s.Name);
        const QDBusMessage failed = call(qx, "SaveAsPDF", {QString::fromStdString(Dir.filePath("x.pdf").toStdString())});
        ASSERT_EQ(failed.type(), QDBusMessage::ReplyMessage);
        ASSERT_NE(failed.arguments().value(0).toInt(), 0);
        // Without a report nothing is written, and that is no success.
        EXPECT_EQ(failed.arguments().value(0).toInt(), 4);
        EXPECT_FALSE(QFileInfo::exists(Dir.filePath("x.pdf")));
        const std::string error = lastError();
        EXPECT_EQ(error, "MakePDF: There is no report");
        ASSERT_EQ(s.Send().type(), QDBusMessage::ReplyMessage);
        EXPECT_EQ(lastError(), s.Cleared ? std::string() : error);
    }
    // GetAll leaves out what cannot be read now (the printer's page without
    // a printer) and says which, or leaves the error as it was.
    Globals().LastErrorMessage = "before";
    const QDBusMessage all = call("org.freedesktop.DBus.Properties", "GetAll", {qx});
    ASSERT_EQ(all.type(), QDBusMessage::ReplyMessage);
    const QVariantMap got = qdbus_cast<QVariantMap>(all.arguments().value(0));
    const std::string said = lastError();
    if (got.contains("PrinterPageWidth")) {
        EXPECT_EQ(said, "before");
    } else {
        EXPECT_EQ(said.rfind("GetAll left out PrinterPageWidth", 0), 0u) << said;
    }
    EXPECT_TRUE(got.contains("Pages"));
    QDBusConnection::disconnectFromBus(name);
}

// A text over its limit is refused at once, before it waits its turn, with
// a message saying which and how long; so is an argument no member takes.
TEST_F(AutomationBusTest, ArgumentsOverTheirLimitsAreRefused)
{
    Publish();
    X->SetPrintTitle("Kept title");
    const QString name = ConnectionName + "-client";
    QDBusConnection client = QDBusConnection::connectToBus(Bus.Address(), name);
    const QString qx = QStringLiteral("com.merrowgate.Quillard.IQuillardX");
    auto call = [&](const QString& Path, const QString& Interface, const QString& Member, const QVariantList& Args) {
        QDBusMessage m = QDBusMessage::createMethodCall("com.merrowgate.Quillard", Path, Interface, Member);
        m.setArguments(Args);
        return client.call(m, QDBus::BlockWithGui, 60000);
    };
    auto set = [&](const QString& Path, const QString& Interface, const QString& Property, const QVariant& Value) {
        return call(Path, "org.freedesktop.DBus.Properties", "Set",
                    {Interface, Property, QVariant::fromValue(QDBusVariant(Value))});
    };
    struct Case {
        const char* Name;
        std::function<QDBusMessage()> Send;
        const char* Error;
        std::string Says;
    };
    const Case cases[] = {
        {"PrintTitle", [&] { return set("/QuillardX", qx, "PrintTitle", QString(1025, 't')); },
         "org.freedesktop.DBus.Error.LimitsExceeded", "PrintTitle of 1025 bytes is refused: the limit is 1024 bytes."},
        // Bytes as the bus carries them: 342 euro signs are 1,026.
        {"PrintTitleInUtf8", [&] { return set("/QuillardX", qx, "PrintTitle", QString(342, QChar(0x20AC))); },
         "org.freedesktop.DBus.Error.LimitsExceeded", "PrintTitle of 1026 bytes is refused"},
        {"LastErrorMessage", [&] { return set("/QuillardX", qx, "LastErrorMessage", QString(1025, 'e')); },
         "org.freedesktop.DBus.Error.LimitsExceeded", "LastErrorMessage of 1025 bytes is refused"},
        {"SpanText",
         [&] {
             return set("/QuillardX/Document/Span/1", "com.merrowgate.Quillard.IQuillardXSpan", "Text",
                        QString(65537, 's'));
         },
         "org.freedesktop.DBus.Error.LimitsExceeded", "The span's Text of 65537 bytes is refused"},
        {"PropertyName",
         [&] { return call("/QuillardX", "org.freedesktop.DBus.Properties", "Get", {qx, QString(256, 'n')}); },
         "org.freedesktop.DBus.Error.LimitsExceeded", "The property name of 256 bytes is refused"},
        {"LoadFile", [&] { return call("/QuillardX", qx, "LoadFile", {QString(8193, 'f')}); },
         "org.freedesktop.DBus.Error.LimitsExceeded", "LoadFile's file name of 8193 bytes is refused"},
        {"SaveAsPDF", [&] { return call("/QuillardX", qx, "SaveAsPDF", {QString(8193, 'f')}); },
         "org.freedesktop.DBus.Error.LimitsExceeded", "SaveAsPDF's file name of 8193 bytes is refused"},
        {"LoadReport",
         [&] { return call("/QuillardX", qx, "LoadReport", {QString(int(MaxReportTextBytes) + 1, 'r')}); },
         "org.freedesktop.DBus.Error.LimitsExceeded",
         "LoadReport's report text of 4194305 bytes is refused: the limit is 4194304 bytes. A larger report is "
         "passed with LoadReportFd, or written to a file and loaded with LoadFile."},
        {"BytesForAName", [&] { return call("/QuillardX", qx, "LoadFile", {QByteArray(100, 'b')}); },
         "org.freedesktop.DBus.Error.InvalidArgs", "Quillard's members take only texts, numbers and truth values"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const QDBusMessage reply = c.Send();
        ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(reply.errorName().toStdString(), c.Error);
        EXPECT_EQ(reply.errorMessage().toStdString().rfind(c.Says, 0), 0u) << reply.errorMessage().toStdString();
        if (std::string(c.Error).find("LimitsExceeded") != std::string::npos) {
            EXPECT_EQ(X->LastErrorMessage(), reply.errorMessage().toStdString());
        }
    }
    EXPECT_EQ(X->PrintTitle(), "Kept title");
    EXPECT_TRUE(TempFiles().isEmpty());
    EXPECT_EQ(W->Session().ReportFileName(), "");

    // At their limits they are taken.
    EXPECT_EQ(set("/QuillardX", qx, "PrintTitle", QString(1024, 't')).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(X->PrintTitle(), std::string(1024, 't'));
    const QDBusMessage loaded = call("/QuillardX", qx, "LoadReport", {QString(int(MaxReportTextBytes), 'r')});
    ASSERT_EQ(loaded.type(), QDBusMessage::ReplyMessage) << loaded.errorMessage().toStdString();
    EXPECT_EQ(loaded.arguments().value(0).toInt(), 1);
    EXPECT_EQ(TempFiles().size(), 1);
    QDBusConnection::disconnectFromBus(name);
}

// A huge window size from a client (it once crashed the server for every
// client) is kept to the screen, and the server goes on answering.
TEST_F(AutomationBusTest, AHugeWindowFromAClientIsKeptToTheScreen)
{
    Publish();
    X->LoadReport(Pages(2));
    ASSERT_EQ(Call(QxSet("Visible", "true")).Code, 0);
    const QRect a = W->screen()->availableGeometry();
    for (const char* property : {"Width", "Height", "Left", "Top"})
        EXPECT_EQ(Call(QxSet(property, "2147483647")).Code, 0) << property;
    EXPECT_EQ(Call(QxGet("Width")).Out, "(<" + std::to_string(std::min(MinWindowWidth, a.width())) + ">,)");
    EXPECT_EQ(Call(QxGet("Height")).Out, "(<" + std::to_string(std::min(MinWindowHeight, a.height())) + ">,)");
    EXPECT_TRUE(a.contains(W->frameGeometry()));
    EXPECT_EQ(Call(QxSet("Width", "2147483647")).Code, 0);
    EXPECT_EQ(Call(QxGet("Width")).Out, "(<" + std::to_string(a.width()) + ">,)");
    EXPECT_EQ(Call(QxGet("Pages")).Out, "(<2>,)");
}

// Nobody is at the window for a client's call: no message box and no
// open-document window appear, even where someone could answer them; what
// the window would have said is LastErrorMessage.
TEST_F(AutomationBusTest, ACallShowsNoWindowAndLeavesItsMessages)
{
    TLocalWebServer web;
    ASSERT_TRUE(web.Start());
    Publish();
    W->NobodyToAsk = false;
    X->LoadReport(Pages(2));
    ASSERT_EQ(Call(QxSet("Visible", "true")).Code, 0);
    bool asked = false;
    WhenModal([&](QWidget* Window) {
        asked = true;
        Window->close();
    });
    const QString missing = QString::fromStdString(web.Url("/MISSING.TXT"));
    EXPECT_EQ(Call(QxCall("LoadFile", {"'" + missing + "'"})).Out, "(0,)");
    const std::string last = X->LastErrorMessage();
    EXPECT_NE(last.find("Error Transferring File: Error Code:404\r\nNot Found"), std::string::npos) << last;
    EXPECT_NE(last.find("No file was retrieved from the server"), std::string::npos) << last;
    EXPECT_EQ(Call(QxCall("LoadFile", {"''"})).Out, "(0,)");
    EXPECT_FALSE(asked);
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    CancelModalAnswers();
}

// Pages is the count of the report as it is on disk now: a report cut
// short, replaced by another file or written again in place since it was
// counted is counted again (the page box follows), with no window opening
// inside the call; an unchanged one keeps its count.
TEST_F(AutomationBusTest, PagesFollowTheReportCutShortOrReplacedOnDisk)
{
    Publish();
    W->NobodyToAsk = false;
    const std::string report = Dir.filePath("CHANGING.TXT").toStdString();
    std::ofstream(report, std::ios::binary) << Pages(5);
    ASSERT_EQ(Call(QxSet("Visible", "true")).Code, 0);
    ASSERT_EQ(Call(QxCall("LoadFile", {QString::fromStdString("'" + report + "'")})).Out, "(1,)");
    ASSERT_EQ(Call(QxGet("Pages")).Out, "(<5>,)");
    bool asked = false;
    WhenModal([&](QWidget* Window) {
        asked = true;
        Window->close();
    });
    // Sets the file's modification time: a rewrite of the same size within
    // the clock's grain is told apart all the same.
    auto stamp = [&](long Seconds) {
        const timespec times[2] = {{Seconds, 0}, {Seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, report.c_str(), times, 0), 0);
    };
    struct Case {
        const char* Name;
        std::function<void()> Change;
        const char* Pages;
    };
    const Case cases[] = {
        {"Unchanged", [] {}, "(<5>,)"},
        {"CutShort",
         [&] {
             ASSERT_EQ(::truncate(report.c_str(), off_t(Pages(2).size())), 0);
         },
         "(<2>,)"},
        {"ReplacedByALongerFile",
         [&] {
             const std::string other = report + ".new";
             std::ofstream(other, std::ios::binary) << Pages(7);
             ASSERT_EQ(::rename(other.c_str(), report.c_str()), 0);
         },
         "(<7>,)"},
        {"RewrittenInPlaceAtTheSameSize",
         [&] {
             // Seven pages' bytes again, three pages of them.
             std::string text = Pages(7);
             for (size_t at = 0, breaks = 0; (at = text.find('\f', at)) != std::string::npos; ++at)
                 if (++breaks > 2)
                     text[at] = ' ';
             std::ofstream(report, std::ios::binary | std::ios::in | std::ios::out) << text;
             stamp(1000000000);
         },
         "(<3>,)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Change();
        EXPECT_EQ(Call(QxGet("Pages")).Out, c.Pages);
        EXPECT_EQ(Call(QxGet("Pages")).Out, c.Pages);
        EXPECT_EQ(W->Session().PageCount(), std::stoi(std::string(c.Pages).substr(2)));
    }
    EXPECT_FALSE(asked);
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    CancelModalAnswers();
}

TEST_F(AutomationBusTest, ClientsCountUntilTheyLeaveTheBus)
{
    Publish();
    const QString name = ConnectionName + "-client";
    {
        QDBusConnection client = QDBusConnection::connectToBus(Bus.Address(), name);
        ASSERT_TRUE(client.isConnected());
        QDBusMessage m = QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX",
                                                        "org.freedesktop.DBus.Properties", "Get");
        m << QStringLiteral("com.merrowgate.Quillard.IQuillardX") << QStringLiteral("Pages");
        const QDBusMessage reply = client.call(m, QDBus::BlockWithGui);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(ServerLayerOf(*W).ObjectCount(), 1);

        // The user closes the window while the client holds on: asked, and
        // No keeps the program.
        int asked = 0;
        W->ConfirmEndWithClients = [&] {
            ++asked;
            return false;
        };
        W->show();
        EXPECT_FALSE(W->close());
        EXPECT_EQ(asked, 1);
        EXPECT_FALSE(Ended);
        W->ConfirmEndWithClients = [&] {
            ++asked;
            return true;
        };
        EXPECT_TRUE(W->close());
        EXPECT_EQ(asked, 2);
        EXPECT_TRUE(Ended);
    }
    QDBusConnection::disconnectFromBus(name);
    EXPECT_TRUE(WaitFor([&] { return ServerLayerOf(*W).ObjectCount() == 0; }));
}

TEST_F(AutomationBusTest, AProcessTheBusStartedEndsWhenNoClientRemainsAndTheWindowIsHidden)
{
    struct {
        const char* Name;
        std::vector<std::string> Params;
        bool Show, Ends;
    } cases[] = {
        {"HiddenAutomation", {"-AUTOMATION"}, false, true},
        {"VisibleAutomation", {"-AUTOMATION"}, true, false},
        {"StandAlone", {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Ended = false;
        if (W)
            ServerLayerOf(*W).Withdraw();
        X.reset();
        W.reset();
        QDBusConnection::disconnectFromBus(ConnectionName);
        ConnectionName += "x";
        Publish(c.Params);
        ServerLayerOf(*W).LingerMs = 100;
        X->LoadReport(Pages(1));
        if (c.Show)
            X->SetVisible(true);
        EXPECT_EQ(Call(QxGet("Pages")).Code, 0);
        QTest::qWait(600);
        QCoreApplication::processEvents();
        EXPECT_EQ(Ended, c.Ends);
        if (c.Show) {
            // Closed by a client: hidden, and then it ends.
            EXPECT_EQ(Call(QxCall("Close")).Code, 0);
            EXPECT_FALSE(W->isVisible());
            EXPECT_TRUE(WaitFor([&] { return Ended; }, 5000));
        }
    }
}

// ---------------------------------------------------------------------------
// The program itself: registration, activation, and a scripted session

class AutomationProcessTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TDBusSession Bus;
    QProcessEnvironment Env;

    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        QDir().mkpath(Dir.filePath("tmp"));
        Env = QProcessEnvironment::systemEnvironment();
        Env.remove("DISPLAY");
        Env.remove("DBUS_SESSION_BUS_ADDRESS");
        Env.insert("QT_QPA_PLATFORM", "offscreen");
        Env.insert("XDG_DATA_HOME", Dir.filePath("data"));
        Env.insert("XDG_CONFIG_HOME", Dir.filePath("config"));
        Env.insert("TEMP", Dir.filePath("tmp"));
        Env.insert("QUILLARD_AUTOMATION_LINGER_MS", "500");
        Env.insert("CUPS_SERVER", Dir.filePath("no-spooler"));
    }

    void StartBus() { ASSERT_TRUE(Bus.Start(Dir.path(), Dir.filePath("data/dbus-1/services"), Env)) << Bus.Error(); }

    // Starts the program as an automation server on the bus, staying while
    // the test needs it.
    void StartServer(QProcess& Server)
    {
        QProcessEnvironment env = Env;
        env.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address());
        env.insert("QUILLARD_AUTOMATION_LINGER_MS", "600000");
        Server.setProcessEnvironment(env);
        Server.start(QUILLARD_BINARY, {"-AUTOMATION"});
        ASSERT_TRUE(Server.waitForStarted());
        ASSERT_TRUE(WaitFor([&] { return Bus.HasOwner("com.merrowgate.Quillard"); }));
    }

    int Quillard(const QStringList& Args, std::string* Err = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(Env);
        p.start(QUILLARD_BINARY, Args);
        if (!p.waitForFinished(60000))
            return -1;
        if (Err)
            *Err = p.readAllStandardError().toStdString();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
};

// One message of 70 MB once left the server deaf for good: libdbus stops
// reading while more than 63 MB of received messages are alive, and the
// switch back on, made from the thread that freed them, never reached
// QtDBus's socket notifier. Such a message is refused, and the server goes
// on answering.
TEST_F(AutomationProcessTest, AHugeMessageLeavesTheServerAnswering)
{
    StartBus();
    QProcess server;
    StartServer(server);
    QDBusConnection client = QDBusConnection::connectToBus(Bus.Address(), "huge-message-client");
    ASSERT_TRUE(client.isConnected());
    auto method = [](const QString& Interface, const QString& Member, const QVariantList& Args) {
        QDBusMessage m = QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX", Interface, Member);
        m.setArguments(Args);
        return m;
    };
    const QString qx = QStringLiteral("com.merrowgate.Quillard.IQuillardX");
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    const int huge = 70 * 1024 * 1024;
    struct Case {
        const char* Name;
        std::function<QDBusMessage()> Make;
        const char* Says;
    };
    const Case cases[] = {
        {"PrintTitle",
         [&] {
             return method(properties, "Set",
                           {qx, QStringLiteral("PrintTitle"), QVariant::fromValue(QDBusVariant(QString(huge, 't')))});
         },
         "PrintTitle of 73400320 bytes is refused"},
        {"LoadReport", [&] { return method(qx, "LoadReport", {QString(huge, 'r')}); },
         "LoadReport's report text of 73400320 bytes is refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const QDBusMessage reply = client.call(c.Make(), QDBus::Block, 120000);
        ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_NE(reply.errorMessage().toStdString().find(c.Says), std::string::npos)
            << reply.errorName().toStdString() << ": " << reply.errorMessage().toStdString();
        const QDBusMessage pages = client.call(method(properties, "Get", {qx, QStringLiteral("Pages")}), QDBus::Block, 10000);
        ASSERT_EQ(pages.type(), QDBusMessage::ReplyMessage) << pages.errorMessage().toStdString();
    }
    EXPECT_NE(Gdbus(Bus.Address(), QxGet("LastErrorMessage")).Out.find("LoadReport's report text of 73400320 bytes"),
              std::string::npos);
    QDBusConnection::disconnectFromBus("huge-message-client");
    server.kill();
    server.waitForFinished();
    const std::string err = server.readAllStandardError().toStdString();
    EXPECT_EQ(err.find("Socket notifiers cannot be enabled or disabled"), std::string::npos) << err;
}

// A server the bus started ends when its bus goes or when the system asks it
// to end, and leaves no temporary report behind: with a client's report
// loaded, with the window shown too.
TEST_F(AutomationProcessTest, TheServerEndsWithItsBusOrOnASignalAndLeavesNoFile)
{
    struct Case {
        const char* Name;
        bool Visible;
        std::function<void(TDBusSession&, QProcess&)> End;
        int ExitCode;
    };
    const Case cases[] = {
        {"BusKilled", false, [](TDBusSession& B, QProcess&) { ASSERT_TRUE(B.EndDaemon(SIGKILL)); }, 0},
        {"BusEndedWithTheWindowShown", true, [](TDBusSession& B, QProcess&) { ASSERT_TRUE(B.EndDaemon(SIGTERM)); }, 0},
        {"Terminated", false, [](TDBusSession&, QProcess& S) { ::kill(static_cast<pid_t>(S.processId()), SIGTERM); }, 128 + SIGTERM},
        {"InterruptedWithTheWindowShown", true,
         [](TDBusSession&, QProcess& S) { ::kill(static_cast<pid_t>(S.processId()), SIGINT); }, 128 + SIGINT},
    };
    const QDir tmp(Dir.filePath("tmp"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        StartBus();
        QProcess server;
        StartServer(server);
        ASSERT_EQ(Gdbus(Bus.Address(), QxCall("LoadReport", {"'A report handed over\\r\\n'"})).Out, "(1,)");
        if (c.Visible) {
            ASSERT_EQ(Gdbus(Bus.Address(), QxSet("Visible", "true")).Code, 0);
        }
        ASSERT_FALSE(tmp.entryList(QDir::Files).isEmpty()) << "the report handed over is kept in a file";
        c.End(Bus, server);
        ASSERT_TRUE(server.waitForFinished(10000)) << "the server lives on";
        EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.exitCode(), c.ExitCode);
        EXPECT_TRUE(tmp.entryList(QDir::Files).isEmpty()) << tmp.entryList(QDir::Files).join(' ').toStdString();
        Bus.Stop();
    }
}

// A relative name a client gives is in the client's folder, not in the
// server's (which the client knows nothing of).
TEST_F(AutomationProcessTest, RelativeNamesAreInTheCallersFolder)
{
    StartBus();
    const QString serverDir = Dir.filePath("server"), clientDir = Dir.filePath("client");
    QDir().mkpath(serverDir);
    QDir().mkpath(clientDir + "/out");
    {
        QFile report(clientDir + "/report.txt");
        ASSERT_TRUE(report.open(QIODevice::WriteOnly));
        report.write("A report named relatively\r\n");
    }
    QProcess server;
    server.setWorkingDirectory(serverDir);
    StartServer(server);
    EXPECT_EQ(Gdbus(Bus.Address(), QxCall("LoadFile", {"'report.txt'"}), false, 60000, clientDir).Code, 0);
    const TGdbusResult saved = Gdbus(Bus.Address(), QxCall("SaveAsPDF", {"'out/report.pdf'"}), false, 60000, clientDir);
    EXPECT_EQ(saved.Out, "(0,)") << saved.Err << Gdbus(Bus.Address(), QxGet("LastErrorMessage")).Out;
    EXPECT_NE(PdfText((clientDir + "/out/report.pdf").toStdString()).find("A report named relatively"), std::string::npos);
    EXPECT_TRUE(QDir(serverDir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    server.kill();
    server.waitForFinished();
}

// A report fetched for one client can take minutes; meanwhile the other
// clients' reads are answered, what would change something is refused as
// busy rather than left waiting, and a Close is answered at once: the fetch
// stops, the report shown before stays, and the window closes.
TEST_F(AutomationProcessTest, OtherClientsAreAnsweredWhileAReportIsFetched)
{
    TLocalWebServer web;
    ASSERT_TRUE(web.Start());
    StartBus();
    QProcess server;
    StartServer(server);
    EXPECT_EQ(Gdbus(Bus.Address(), QxCall("LoadReport", {"'A report of this computer\\r\\n'"})).Out, "(1,)");
    EXPECT_EQ(Gdbus(Bus.Address(), QxSet("Visible", "true")).Code, 0);

    QDBusConnection fetcher = QDBusConnection::connectToBus(Bus.Address(), "fetching-client");
    QDBusMessage load = QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX",
                                                       "com.merrowgate.Quillard.IQuillardX", "LoadFile");
    load << QString::fromStdString(web.Url("/drip"));
    QDBusPendingCall fetch = fetcher.asyncCall(load, 120000);
    ASSERT_TRUE(WaitFor([&] { return web.DripRequests == 1 && web.DripBytes > 0; }));

    struct Step {
        QStringList Args;
        const char* Out;  // nullptr: refused as busy
    };
    const Step steps[] = {
        {QxGet("Pages"), "(<1>,)"},
        {QxGet("Visible"), "(<true>,)"},
        {QxCall("Printers", {"0"}), "('',)"},
        {QxSet("Zoom", "150"), nullptr},
        {QxCall("LoadReport", {"'Another report'"}), nullptr},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.Args.join(' ').toStdString());
        const TGdbusResult r = Gdbus(Bus.Address(), s.Args, true, 20000);
        if (s.Out) {
            EXPECT_EQ(r.Out, s.Out) << r.Err;
        } else {
            EXPECT_NE(r.Code, 0);
            EXPECT_NE(r.Err.find("com.merrowgate.Quillard.Busy: Quillard is busy fetching a report"),
                      std::string::npos)
                << r.Err;
        }
        EXPECT_FALSE(fetch.isFinished());
    }

    EXPECT_EQ(Gdbus(Bus.Address(), QxCall("Close"), true, 20000).Out, "()");
    ASSERT_TRUE(WaitFor([&] { return fetch.isFinished(); }));
    ASSERT_EQ(fetch.reply().type(), QDBusMessage::ReplyMessage) << fetch.reply().errorMessage().toStdString();
    EXPECT_EQ(fetch.reply().arguments().value(0).toInt(), 0);
    // (LastErrorMessage tells of the Close, carried out after the fetch.)
    EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Visible")).Out, "(<false>,)");
    // The report shown before the fetch is still there to save.
    EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Pages")).Out, "(<1>,)");
    const QString pdf = Dir.filePath("kept.pdf");
    EXPECT_EQ(Gdbus(Bus.Address(), QxCall("SaveAsPDF", {"'" + pdf + "'"})).Out, "(0,)");
    EXPECT_NE(PdfText(pdf.toStdString()).find("A report of this computer"), std::string::npos);
    QDBusConnection::disconnectFromBus("fetching-client");
    server.kill();
    server.waitForFinished();
}

// A fetch for a client ends at the "Fetch Time Limit", however steadily the
// server sends.
TEST_F(AutomationProcessTest, AFetchForAClientEndsAtTheFetchTimeLimit)
{
    {
        QSettings s(Dir.filePath("config/Merrowgate/Quillard.conf"), QSettings::IniFormat);
        s.setValue("Fetch Time Limit", "1");
    }
    TLocalWebServer web;
    ASSERT_TRUE(web.Start());
    StartBus();
    QProcess server;
    StartServer(server);
    EXPECT_EQ(Gdbus(Bus.Address(), QxCall("LoadReport", {"'A report of this computer\\r\\n'"})).Out, "(1,)");
    EXPECT_EQ(Gdbus(Bus.Address(), QxSet("Visible", "true")).Code, 0);
    const TGdbusResult r =
        Gdbus(Bus.Address(), QxCall("LoadFile", {QString::fromStdString("'" + web.Url("/drip") + "'")}), true, 60000);
    EXPECT_EQ(r.Out, "(0,)") << r.Err;
    EXPECT_GT(web.DripBytes, 10);
    const std::string last = Gdbus(Bus.Address(), QxGet("LastErrorMessage")).Out;
    EXPECT_NE(last.find("The transfer did not end within 1 second"), std::string::npos) << last;
    EXPECT_EQ(Gdbus(Bus.Address(), QxGet("LastErrorName")).Out, "(<'com.merrowgate.Quillard.Error.Timeout'>,)");
    server.kill();
    server.waitForFinished();
}

// Signals tell every client how the work goes: the end of a load, loaded
// or not, and the end of a client's job, done or not.
TEST_F(AutomationProcessTest, SignalsTellOfLoadsAndJobs)
{
    StartBus();
    QProcess server;
    StartServer(server);
    TSignalMonitor monitor;
    ASSERT_TRUE(monitor.Start(Bus.Address(), "com.merrowgate.Quillard")) << monitor.Output();
    const QString pdf = Dir.filePath("signalled.pdf");
    const struct {
        QStringList Args;
        const char* Out;     // nullptr: an error
        const char* Signal;  // what the monitor shows after the call
    } steps[] = {
        {QxCall("SaveAsPDF", {"'" + pdf + "'"}), "(4,)",
         "com.merrowgate.Quillard.IQuillardX.JobFinished (false, 'MakePDF: There is no report"},
        {QxSet("Visible", "true"), "()", nullptr},
        {QxCall("LoadReport", {"'Signalled\\r\\n'"}), "(1,)",
         "com.merrowgate.Quillard.IQuillardX.LoadFinished (true, '')"},
        {QxCall("SaveAsPDF", {"'" + pdf + "'"}), "(0,)", "com.merrowgate.Quillard.IQuillardX.JobFinished (true, '')"},
        {QxCall("Print"), nullptr, "com.merrowgate.Quillard.IQuillardX.JobFinished (false, 'Error Printing Document!"},
        {QxCall("LoadFile", {"'" + Dir.filePath("MISSING.TXT") + "'"}), "(0,)",
         "com.merrowgate.Quillard.IQuillardX.LoadFinished (false, 'Cannot Open File: Error opening"},
        // The report shown before stays.
        {QxCall("SaveAsPDF", {"'" + pdf + "'"}), "(0,)", "com.merrowgate.Quillard.IQuillardX.JobFinished (true, '')"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Args.join(' ').toStdString());
        const TGdbusResult r = Gdbus(Bus.Address(), step.Args);
        if (step.Out) {
            EXPECT_EQ(r.Out, step.Out) << r.Err;
        } else {
            EXPECT_NE(r.Code, 0);
        }
        if (step.Signal) {
            EXPECT_TRUE(monitor.WaitForLine(step.Signal)) << monitor.Output();
        }
    }
    EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Pages")).Out, "(<1>,)");
    EXPECT_NE(PdfText(pdf.toStdString()).find("Signalled"), std::string::npos);
    server.kill();
    server.waitForFinished();
}

// A report read from a file descriptor the client passes: a regular file
// whole, like the same bytes handed over with LoadReportBytes; a pipe to its
// end while other clients are answered, with Progress telling how much has
// come; a Close from another client is answered at once and stops it.
TEST_F(AutomationProcessTest, AReportFromAFileDescriptor)
{
    StartBus();
    QProcess server;
    StartServer(server);
    QDBusConnection client = QDBusConnection::connectToBus(Bus.Address(), "fd-client");
    ASSERT_TRUE(client.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing);
    auto method = [](const char* Member) {
        return QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX",
                                              "com.merrowgate.Quillard.IQuillardX", QLatin1String(Member));
    };
    ASSERT_EQ(Gdbus(Bus.Address(), QxSet("Visible", "true")).Code, 0);

    // About 1 MB, its last line on the last page.
    std::string big = "{INIT VER=1}\r\n";
    for (int i = 1; big.size() < 1000000; ++i)
        big += "Line " + std::to_string(i) + " of a report passed whole\r\n" + (i % 50 == 0 ? "\f" : "");
    big += "The very last line\r\n";
    const std::string bigPath = Dir.filePath("BIG.TXT").toStdString();
    std::ofstream(bigPath, std::ios::binary) << big;
    std::string pages;
    for (const char* how : {"LoadReportBytes", "LoadReportFd"}) {
        SCOPED_TRACE(how);
        QDBusMessage m = method(how);
        const int fd = ::open(bigPath.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        // The client's offset stays where it was.
        ASSERT_EQ(::lseek(fd, 1000, SEEK_SET), 1000);
        if (std::string(how) == "LoadReportFd")
            m << QVariant::fromValue(QDBusUnixFileDescriptor(fd));
        else
            m << QByteArray::fromStdString(big);
        const QDBusMessage reply = client.call(m, QDBus::Block, 60000);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.arguments().value(0).toInt(), 1);
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 1000);
        ::close(fd);
        const std::string count = Gdbus(Bus.Address(), QxGet("Pages")).Out;
        if (pages.empty())
            pages = count;
        EXPECT_EQ(count, pages);
        const QString pdf = Dir.filePath(QLatin1String(how) + ".pdf");
        ASSERT_EQ(Gdbus(Bus.Address(), QxCall("SaveAsPDF", {"'" + pdf + "'"})).Out, "(0,)");
        const std::string last = PdfText(pdf.toStdString(), 0, 0);
        EXPECT_NE(last.find("Line 1 of a report passed whole"), std::string::npos);
        EXPECT_NE(last.find("The very last line"), std::string::npos);
    }
    EXPECT_NE(pages, "(<1>,)");

    TSignalMonitor monitor;
    ASSERT_TRUE(monitor.Start(Bus.Address(), "com.merrowgate.Quillard")) << monitor.Output();
    struct Case {
        const char* Name;
        bool CloseMeanwhile;
    };
    for (const Case& c : {Case{"ToItsEnd", false}, Case{"ClosedMeanwhile", true}}) {
        SCOPED_TRACE(c.Name);
        const std::string pagesBefore = Gdbus(Bus.Address(), QxGet("Pages")).Out;
        int pipeFds[2];
        ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
        QDBusMessage m = method("LoadReportFd");
        m << QVariant::fromValue(QDBusUnixFileDescriptor(pipeFds[0]));
        ::close(pipeFds[0]);
        QDBusPendingCall load = client.asyncCall(m, 120000);
        const std::string head = "Piped page one\r\n" + std::string(100000, 'x') + "\r\n";
        for (size_t done = 0; done < head.size();) {
            pollfd p{pipeFds[1], POLLOUT, 0};
            if (::poll(&p, 1, 10) > 0) {
                const ssize_t n = ::write(pipeFds[1], head.data() + done, std::min<size_t>(4096, head.size() - done));
                ASSERT_GT(n, 0);
                done += size_t(n);
            }
            QCoreApplication::processEvents();
        }
        // The server has read it all and says so; the others are answered.
        ASSERT_TRUE(monitor.WaitForLine("Progress (" + std::to_string(head.size()) + ", 0)")) << monitor.Output();
        EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Pages")).Out, pagesBefore);
        const TGdbusResult zoom = Gdbus(Bus.Address(), QxSet("Zoom", "150"));
        EXPECT_NE(zoom.Err.find("com.merrowgate.Quillard.Busy: Quillard is busy receiving a report"),
                  std::string::npos)
            << zoom.Err;
        EXPECT_FALSE(load.isFinished());
        if (c.CloseMeanwhile) {
            EXPECT_EQ(Gdbus(Bus.Address(), QxCall("Close")).Out, "()");
            ASSERT_TRUE(WaitFor([&] { return load.isFinished(); }));
            ::close(pipeFds[1]);
            ASSERT_EQ(load.reply().type(), QDBusMessage::ErrorMessage);
            EXPECT_NE(load.reply().errorMessage().toStdString().find("LoadReportFd: the reading was stopped"),
                      std::string::npos)
                << load.reply().errorMessage().toStdString();
            EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Visible")).Out, "(<false>,)");
        } else {
            const std::string tail = "\fPiped page two\r\n";
            ASSERT_EQ(::write(pipeFds[1], tail.data(), tail.size()), ssize_t(tail.size()));
            ::close(pipeFds[1]);
            ASSERT_TRUE(WaitFor([&] { return load.isFinished(); }, 60000));
            ASSERT_EQ(load.reply().type(), QDBusMessage::ReplyMessage) << load.reply().errorMessage().toStdString();
            EXPECT_EQ(load.reply().arguments().value(0).toInt(), 1);
            EXPECT_TRUE(monitor.WaitForLine("LoadFinished (true, '')")) << monitor.Output();
            EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Pages")).Out, "(<2>,)");
        }
    }
    // No report read from a descriptor is left behind.
    QDBusConnection::disconnectFromBus("fd-client");
    server.kill();
    server.waitForFinished();
}

// A report whose PDF is far more than a pipe or a socket holds.
std::string SixHundredPages()
{
    std::string report;
    for (int p = 1; p <= 600; ++p) {
        report += "Page " + std::to_string(p) + "\r\n";
        for (int l = 0; l < 40; ++l)
            report += std::to_string(p * 7919 + l * 104729) + " " + std::to_string(l * p * 31337) + "\r\n";
        report += "\f";
    }
    return report;
}

// A PDF saved into a FIFO whose reader is slow: the other clients are
// answered meanwhile, and the reader gets the whole PDF.
TEST_F(AutomationProcessTest, APdfIntoASlowFifoLeavesOtherClientsAnswered)
{
    StartBus();
    QProcess server;
    StartServer(server);
    const std::string reportPath = Dir.filePath("LONG.TXT").toStdString();
    std::ofstream(reportPath, std::ios::binary) << SixHundredPages();
    ASSERT_EQ(Gdbus(Bus.Address(), QxSet("Visible", "true")).Code, 0);
    ASSERT_EQ(Gdbus(Bus.Address(), QxCall("LoadFile", {QString::fromStdString("'" + reportPath + "'")})).Out, "(1,)");
    const std::string fifo = Dir.filePath("pdf.fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    QDBusConnection saver = QDBusConnection::connectToBus(Bus.Address(), "fifo-saver");
    QDBusMessage save = QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX",
                                                       "com.merrowgate.Quillard.IQuillardX", "SaveAsPDF");
    save << QString::fromStdString(fifo);
    QDBusPendingCall saving = saver.asyncCall(save, 120000);
    // The pipe fills; the server waits for its reader and answers others.
    pollfd ready{reader, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 60000), 1);
    EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Pages")).Out, "(<600>,)");
    EXPECT_FALSE(saving.isFinished());
    std::string pdf;
    char block[65536];
    while (!saving.isFinished() || ::poll(&ready, 1, 0) == 1) {
        const ssize_t n = ::read(reader, block, sizeof block);
        if (n > 0)
            pdf.append(block, size_t(n));
        else if (n == 0 && saving.isFinished())
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ::close(reader);
    ASSERT_EQ(saving.reply().type(), QDBusMessage::ReplyMessage) << saving.reply().errorMessage().toStdString();
    EXPECT_EQ(saving.reply().arguments().value(0).toInt(), 0);
    EXPECT_GT(pdf.size(), 65536u);
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    EXPECT_NE(pdf.find("%%EOF"), std::string::npos);
    QDBusConnection::disconnectFromBus("fifo-saver");
    server.kill();
    server.waitForFinished();
}


// A PDF saved into a FIFO or a socket whose reader opened it and then takes
// nothing: meanwhile the other clients' reads are answered and what would
// change something is refused as busy; a Close is answered at once and stops
// the writing; without one the writing stops once the reader has taken
// nothing for 5 seconds. Either way the call fails saying why, and the
// server goes on serving.
TEST_F(AutomationProcessTest, AReaderThatTakesNothingHoldsTheServerOnlyForAWhile)
{
    StartBus();
    QProcess server;
    StartServer(server);
    TSignalMonitor monitor;
    ASSERT_TRUE(monitor.Start(Bus.Address(), "com.merrowgate.Quillard")) << monitor.Output();
    const std::string reportPath = Dir.filePath("LONG.TXT").toStdString();
    std::ofstream(reportPath, std::ios::binary) << SixHundredPages();
    ASSERT_EQ(Gdbus(Bus.Address(), QxSet("Visible", "true")).Code, 0);
    ASSERT_EQ(Gdbus(Bus.Address(), QxCall("LoadFile", {QString::fromStdString("'" + reportPath + "'")})).Out, "(1,)");

    struct Case {
        const char* Name;
        bool Socket;  // else a FIFO
        bool Close;   // another client closes Quillard meanwhile
        const char* Says;
    };
    const Case cases[] = {
        {"FifoClosed", false, true, "The writing was stopped by a client's Close"},
        {"SocketClosed", true, true, "The writing was stopped by a client's Close"},
        {"FifoStalled", false, false, "The program reading it took nothing for 5 seconds"},
        {"SocketStalled", true, false, "The program reading it took nothing for 5 seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string out = Dir.filePath(QLatin1String(c.Name)).toStdString();
        int reader = -1;  // the FIFO's reader, or the socket listening (never accepting)
        if (c.Socket) {
            reader = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            ASSERT_LT(out.size(), sizeof address.sun_path);
            std::memcpy(address.sun_path, out.c_str(), out.size());
            ASSERT_EQ(::bind(reader, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
            ASSERT_EQ(::listen(reader, 1), 0);
        } else {
            ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
            reader = ::open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
        ASSERT_GE(reader, 0);
        const QString connection = QStringLiteral("saver-") + QLatin1String(c.Name);
        QDBusConnection saver = QDBusConnection::connectToBus(Bus.Address(), connection);
        QDBusMessage save = QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX",
                                                           "com.merrowgate.Quillard.IQuillardX", "SaveAsPDF");
        save << QString::fromStdString(out);
        QDBusPendingCall saving = saver.asyncCall(save, 300000);
        // The whole PDF is made before the output is opened: once the FIFO
        // holds its start (the socket has its connection) the server waits
        // on the reader.
        pollfd ready{reader, POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, 60000), 1);
        EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Pages")).Out, "(<600>,)");
        if (c.Close) {
            EXPECT_EQ(Gdbus(Bus.Address(), QxCall("Close"), false, 20000).Out, "()");
        } else {
            const TGdbusResult zoom = Gdbus(Bus.Address(), QxSet("Zoom", "150"), false, 20000);
            EXPECT_NE(zoom.Err.find("com.merrowgate.Quillard.Busy: Quillard is busy with other work"),
                      std::string::npos)
                << zoom.Err;
        }
        ASSERT_TRUE(WaitFor([&] { return saving.isFinished(); }, 30000)) << "the writing goes on";
        ASSERT_EQ(saving.reply().type(), QDBusMessage::ReplyMessage) << saving.reply().errorMessage().toStdString();
        EXPECT_EQ(saving.reply().arguments().value(0).toInt(), 3);
        // (gdbus quotes the message in double quotes when it holds a single
        // one, escaping the double quotes in it.)
        ASSERT_TRUE(monitor.WaitForLine(c.Says)) << monitor.Output();
        const std::string told = monitor.Output();
        const std::string line = told.substr(told.rfind("JobFinished (false, "));
        EXPECT_TRUE(line.find("MakePDF: Cannot write file \"" + out + "\". " + c.Says) != std::string::npos ||
                    line.find("MakePDF: Cannot write file \\\"" + out + "\\\". " + c.Says) != std::string::npos)
            << line;
        if (c.Close) {
            EXPECT_TRUE(WaitFor([&] { return Gdbus(Bus.Address(), QxGet("Visible")).Out == "(<false>,)"; }));
        }
        ::close(reader);
        ::unlink(out.c_str());
        QDBusConnection::disconnectFromBus(connection);
    }
    // The server serves on.
    const QString pdf = Dir.filePath("whole.pdf");
    EXPECT_EQ(Gdbus(Bus.Address(), QxCall("SaveAsPDF", {"'" + pdf + "'"})).Out, "(0,)");
    EXPECT_NE(PdfText(pdf.toStdString(), 600, 600).find("Page 600"), std::string::npos);
    server.kill();
    server.waitForFinished();
}

// A report handed over as text keeps every character: one with characters
// outside Windows-1252 is written as UTF-8; LoadReportBytes takes bytes as
// they are.
TEST_F(AutomationProcessTest, ReportsHandedOverKeepTheirCharacters)
{
    StartBus();
    QProcess server;
    StartServer(server);
    const QString pdf = Dir.filePath("out.pdf");
    TGdbusResult r = Gdbus(Bus.Address(), QxCall("LoadReport", {"'Caf\u00e9 \u20ac5 \u03a9mega\n'"}));
    ASSERT_EQ(r.Out, "(1,)") << r.Err;
    ASSERT_EQ(Gdbus(Bus.Address(), QxCall("SaveAsPDF", {"'" + pdf + "'"})).Out, "(0,)");
    // (the omega in an embedded font beside the standard fonts)
    EXPECT_NE(RunProgram("pdftotext", {pdf.toStdString(), "-"}).find("Caf\xC3\xA9 \xE2\x82\xAC" "5 \xCE\xA9mega"),
              std::string::npos);

    // CP1252 bytes of "Müller" and UTF-8 bytes of "Zoë", each as they are
    r = Gdbus(Bus.Address(), QxCall("LoadReportBytes", {"[byte 0x4d, 0xfc, 0x6c, 0x6c, 0x65, 0x72, 0x0d, 0x0a]"}));
    ASSERT_EQ(r.Out, "(1,)") << r.Err;
    ASSERT_EQ(Gdbus(Bus.Address(), QxCall("SaveAsPDF", {"'" + pdf + "'"})).Out, "(0,)");
    std::string text = RunProgram("pdftotext", {pdf.toStdString(), "-"});
    EXPECT_NE(text.find("M\xC3\xBCller"), std::string::npos) << text;
    r = Gdbus(Bus.Address(), QxCall("LoadReportBytes", {"[byte 0x5a, 0x6f, 0xc3, 0xab, 0x0a]"}));
    ASSERT_EQ(r.Out, "(1,)") << r.Err;
    ASSERT_EQ(Gdbus(Bus.Address(), QxCall("SaveAsPDF", {"'" + pdf + "'"})).Out, "(0,)");
    EXPECT_NE(RunProgram("pdftotext", {pdf.toStdString(), "-"}).find("Zo\xC3\xAB"), std::string::npos);
    server.kill();
    server.waitForFinished();
}

TEST_F(AutomationProcessTest, RegistrationLetsTheBusStartTheProgramOnTheFirstCall)
{
    ASSERT_EQ(Quillard({"-REGSERVER"}), 0);
    const std::string service = ReadFile(Dir.filePath("data/dbus-1/services/com.merrowgate.Quillard.service").toStdString());
    EXPECT_NE(service.find("[D-BUS Service]\nName=com.merrowgate.Quillard\n"), std::string::npos) << service;
    EXPECT_NE(service.find(std::string("Exec=") + std::filesystem::canonical(QUILLARD_BINARY).string() +
                           " -AUTOMATION\n"),
              std::string::npos)
        << service;
    const std::string xml =
        ReadFile(Dir.filePath("data/dbus-1/interfaces/com.merrowgate.Quillard.IQuillardX.xml").toStdString());
    EXPECT_NE(xml.find("<property name=\"PrinterPageWidth_IN\" type=\"d\" access=\"read\"/>"), std::string::npos);

    StartBus();
    EXPECT_FALSE(Bus.HasOwner("com.merrowgate.Quillard"));
    TGdbusResult r = Gdbus(Bus.Address(), QxCall("LoadReport", {"'Report handed over as text\\r\\n'"}));
    EXPECT_EQ(r.Out, "(1,)") << r.Err;
    EXPECT_TRUE(Bus.HasOwner("com.merrowgate.Quillard"));
    EXPECT_EQ(FilesIn(Dir.filePath("tmp")).size(), 1u);
    r = Gdbus(Bus.Address(), QxCall("SaveAsPDF", {"'" + Dir.filePath("out.pdf") + "'"}));
    EXPECT_EQ(r.Out, "(0,)") << r.Err;
    EXPECT_NE(RunProgram("pdftotext", {Dir.filePath("out.pdf").toStdString(), "-"}).find("Report handed over as text"),
              std::string::npos);

    // No client left, the window hidden: the program ends by itself and
    // takes its temporary report with it.
    EXPECT_TRUE(WaitFor([&] { return !Bus.HasOwner("com.merrowgate.Quillard"); }, 20000));
    EXPECT_TRUE(FilesIn(Dir.filePath("tmp")).empty());

    ASSERT_EQ(Quillard({"-UNREGSERVER"}), 0);
    EXPECT_FALSE(std::filesystem::exists(Dir.filePath("data/dbus-1/services/com.merrowgate.Quillard.service").toStdString()));
    r = Gdbus(Bus.Address(), QxGet("Pages"));
    EXPECT_NE(r.Code, 0);
    EXPECT_NE(r.Err.find("ServiceUnknown"), std::string::npos) << r.Err;
}

TEST_F(AutomationProcessTest, ARunningViewerServesUnlessToldNotTo)
{
    StartBus();
    const std::string report = Dir.filePath("R.TXT").toStdString();
    std::ofstream(report) << "A report\r\n";
    Env.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address());
    struct {
        const char* Name;
        QStringList Args;
        bool Serves;
    } cases[] = {{"Plain", {QString::fromStdString(report)}, true},
                 {"NoRegServer", {QString::fromStdString(report), "-NOREGSERVER"}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QProcess p;
        p.setProcessEnvironment(Env);
        p.start(QUILLARD_BINARY, c.Args);
        ASSERT_TRUE(p.waitForStarted());
        // The viewer is up once it has loaded the report.
        QTest::qWait(1500);
        EXPECT_EQ(p.state(), QProcess::Running);
        EXPECT_EQ(Bus.HasOwner("com.merrowgate.Quillard"), c.Serves);
        if (c.Serves) {
            EXPECT_EQ(Gdbus(Bus.Address(), QxGet("Pages")).Out, "(<1>,)");
            // Close from a client ends a viewer the user started.
            EXPECT_EQ(Gdbus(Bus.Address(), QxCall("Close")).Code, 0);
            EXPECT_TRUE(p.waitForFinished(20000));
        } else {
            p.kill();
            p.waitForFinished();
        }
    }
}

TEST_F(AutomationProcessTest, RegistrationSwitchesOfTheWindowSayWhetherTheyWorked)
{
    std::string err;
    EXPECT_EQ(Quillard({"/R"}, &err), 0);
    EXPECT_NE(err.find("Register Server Successfull!"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::exists(Dir.filePath("data/dbus-1/services/com.merrowgate.Quillard.service").toStdString()));
    EXPECT_EQ(Quillard({"/UNREGSVR"}, &err), 0);
    EXPECT_NE(err.find("Unregister Server Successfull!"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(Dir.filePath("data/dbus-1/services/com.merrowgate.Quillard.service").toStdString()));
    // A data folder that cannot be written.
    std::ofstream(Dir.filePath("blocked").toStdString()) << "a file, not a folder";
    Env.insert("XDG_DATA_HOME", Dir.filePath("blocked"));
    EXPECT_EQ(Quillard({"/REG"}, &err), 1);
    EXPECT_NE(err.find("Register Server Not Successfull!"), std::string::npos) << err;
}

class AutomationScriptTest : public PrintTest {};

TEST_F(AutomationScriptTest, AShellScriptDrivesTheWholeSessionWithGdbus)
{
    TDBusSession bus;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_DATA_HOME", Dir.filePath("data"));
    env.insert("XDG_CONFIG_HOME", Dir.filePath("config"));
    env.insert("CUPS_SERVER", QString::fromStdString(Cups->Socket()));
    env.insert("QUILLARD_AUTOMATION_LINGER_MS", "500");
    QDir().mkpath(Dir.filePath("tmp"));
    env.insert("TEMP", Dir.filePath("tmp"));
    ASSERT_TRUE(bus.Start(Dir.path(), Dir.filePath("data/dbus-1/services"), env)) << bus.Error();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.Address());

    QProcess reg;
    reg.setProcessEnvironment(env);
    reg.start(QUILLARD_BINARY, {"-REGSERVER"});
    ASSERT_TRUE(reg.waitForFinished(60000));
    ASSERT_EQ(reg.exitCode(), 0);

    const std::string report = Dir.filePath("REPORT.TXT").toStdString();
    std::ofstream(report, std::ios::binary)
        << "{INIT VER=1}\r\nIt's page one\\ with a quote\r\n\fPage two\r\n\fPage three\r\n";
    // The demo runs twice against the same server (a client stays on the
    // bus meanwhile, so the server does not end between the runs): the
    // second run loads its report into the window the first one closed.
    const std::string report2 = Dir.filePath("SECOND.TXT").toStdString();
    std::ofstream(report2, std::ios::binary) << "Second run, page one\r\n\fSecond run, page two\r\n";
    auto watcher = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus.Address(), "demo-watcher"));
    ASSERT_EQ(watcher->call(QDBusMessage::createMethodCall("com.merrowgate.Quillard", "/QuillardX",
                                                          "org.freedesktop.DBus.Properties", "Get")
                               << QStringLiteral("com.merrowgate.Quillard.IQuillardX") << QStringLiteral("Version"),
                           QDBus::Block, 60000)
                  .type(),
              QDBusMessage::ReplyMessage);
    qint64 serverPid = 0;
    const struct {
        std::string Report;
        const char* Pdf;
        const char* Pages;
        const char* FirstLine;
        const char* LastLine;
    } runs[] = {
        {report, "out.pdf", "Pages: (<3>,)", "It's page one\\ with a quote", "Page three"},
        {report2, "out2.pdf", "Pages: (<2>,)", "Second run, page one", "Second run, page two"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.Pdf);
        QProcess script;
        script.setProcessEnvironment(env);
        script.start("bash", {QUILLARD_SOURCE_DIR "/examples/automation-demo.sh", QString::fromStdString(run.Report),
                              Dir.filePath(run.Pdf)});
        ASSERT_TRUE(script.waitForFinished(120000));
        const std::string out = script.readAllStandardOutput().toStdString();
        ASSERT_EQ(script.exitCode(), 0) << out << script.readAllStandardError().toStdString();
        for (const char* line : {"LoadReport: (1,)", run.Pages, "CurrentPage: (<2>,)", "Zoom: (<150>,)",
                                 "Printer: (<'FILEPDF'>,)", "Printed.", "SaveAsPDF: (0,)", "LastErrorMessage: (<''>,)"})
            EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
        const std::string text = RunProgram("pdftotext", {Dir.filePath(run.Pdf).toStdString(), "-"});
        EXPECT_NE(text.find(run.FirstLine), std::string::npos) << text;
        EXPECT_NE(text.find(run.LastLine), std::string::npos) << text;
        // Both runs were served by one process.
        const QDBusReply<uint> pid =
            watcher->interface()->call("GetConnectionUnixProcessID", QStringLiteral("com.merrowgate.Quillard"));
        ASSERT_TRUE(pid.isValid());
        if (serverPid == 0)
            serverPid = pid.value();
        EXPECT_EQ(serverPid, qint64(pid.value()));
    }
    ASSERT_TRUE(Cups->WaitUntilIdle());
    const auto jobs = Cups->Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    for (const auto& job : jobs) {
        EXPECT_EQ(job.Name, "Quillard automation demo");
        EXPECT_EQ(job.State, 9);
    }
    watcher.reset();
    QDBusConnection::disconnectFromBus("demo-watcher");
    EXPECT_TRUE(WaitFor([&] { return !bus.HasOwner("com.merrowgate.Quillard"); }, 20000));
}

}  // namespace
}  // namespace quillard::test
