// The preview window on the offscreen platform: start-up with its switches
// and settings, the page and zoom boxes, the keys with their repeat, the
// spin buttons, dragging the page, the sheet's geometry, the diagnostic
// triple-click, printing as far as this build goes, and the end of the
// program with its clean-up and settings.
#include "tests/windowtest.h"
#include "tests/modal.h"

#include "app/aboutwindow.h"
#include "app/findwindow.h"
#include "app/edittextwindow.h"
#include "app/addtextwindow.h"
#include "app/appicons.h"
#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "app/progresswindow.h"
#include "engine/markup.h"

#include <QApplication>
#include <QAbstractButton>
#include <QComboBox>
#include <QAbstractSpinBox>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QMessageBox>
#include <QDialog>
#include <QWheelEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QFile>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <map>
#include <sys/stat.h>

namespace quillard::test {
namespace {

// A report of Pages pages separated by form feeds; each page names itself.
std::string PagedReport(int Pages, int LinesPerPage = 3)
{
    std::string s;
    for (int p = 1; p <= Pages; ++p) {
        if (p > 1)
            s += "\f";
        s += "{CPI10}Page " + std::to_string(p) + " of the test report\r\n";
        for (int l = 1; l < LinesPerPage; ++l)
            s += "Line " + std::to_string(l) + " of page " + std::to_string(p) + "   {GOTO X=5in}" +
                 std::to_string(p * 100 + l) + ".00\r\n";
    }
    return s;
}

class GuiTest : public WindowTest {
protected:
    // Creates the windows as the program entry does and runs the first
    // activation.
    void Start(std::vector<std::string> Params)
    {
        MakeWindows(std::move(Params));
        W->FormActivate();
    }

    // Ends the program: the window's end cleans up and writes the settings.
    void Finish() { W.reset(); }

    void WriteUserSetting(const char* Name, const QString& Value)
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Merrowgate", "Quillard");
        s.setValue(QString::fromLatin1(Name), Value);
        s.sync();
    }

    QVariant UserSetting(const char* Name)
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Merrowgate", "Quillard");
        return s.value(QString::fromLatin1(Name));
    }

    // Types Text into a box as a user would after selecting its text.
    static void Type(QLineEdit* Box, const QString& Text)
    {
        Box->setFocus();
        Box->selectAll();
        QTest::keyClicks(Box, Text);
    }

    bool ShowsPage(int Page)
    {
        if (!W->PageBitmap)
            return false;
        return W->PageBitmap->Image() == ReferencePage(W->Session().ReportFileName(), Page, W->Session().Renderer()->GetScale());
    }

};

// ---- start-up ---------------------------------------------------------------

TEST_F(GuiTest, LoadsTheReportNamedOnTheCommandLineAndShowsItsFirstPage)
{
    const std::string path = Write(PagedReport(5));
    Start({path});
    ASSERT_FALSE(Ended);
    EXPECT_EQ(W->Session().PageCount(), 5);
    EXPECT_EQ(W->Session().CurrentPage(), 1);
    EXPECT_EQ(W->lblPageCount->text(), "out of 5");
    EXPECT_EQ(W->edtPageNum->text(), "1");
    EXPECT_EQ(W->edtZoom->text(), "75");
    EXPECT_EQ(W->windowTitle().toStdString(), path + " -- Quillard Previewer");
    EXPECT_TRUE(W->isMaximized());
    EXPECT_TRUE(ShowsPage(1));
    EXPECT_FALSE(ShowsPage(2));
    EXPECT_EQ(W->ProgressWindow->lblCaption->text(), "Done!");
    EXPECT_TRUE(Services.Messages.empty()) << Services.Messages.front().Caption;
}

// The first page shows while the pages are counted, drawn on the zoom and
// paper the count lays out on; the count keeps the page and tells the rest.
TEST_F(GuiTest, TheFirstPageShowsWhileThePagesAreCounted)
{
    const std::string path = Write(PagedReport(400));
    bool sawCount = false, pageShown = false;
    QString countShown;
    Services.OnPump = [&] {
        if (sawCount || !W || !W->Session().Counting())
            return;
        sawCount = true;
        pageShown = ShowsPage(1);
        countShown = W->lblPageCount->text();
    };
    Start({path});
    Services.OnPump = nullptr;
    ASSERT_FALSE(Ended);
    EXPECT_TRUE(sawCount);
    EXPECT_TRUE(pageShown) << "the first page was not on the screen during the count";
    EXPECT_EQ(countShown, "out of ...");
    EXPECT_EQ(W->Session().PageCount(), 400);
    EXPECT_EQ(W->lblPageCount->text(), "out of 400");
    EXPECT_TRUE(ShowsPage(1));
    // The count noted where the pages start at the zoom shown: a page far
    // into the report goes on from one of them.
    Type(W->edtPageNum, "390");
    WAIT_UNTIL(W->Session().CurrentPage() == 390 && !W->Session().Renderer()->Rendering, 10000);
    EXPECT_TRUE(ShowsPage(390));
    EXPECT_GT(W->Session().Renderer()->LastPassStart(), 300);
}

// While the load counts, the progress window tells the pages laid out so far
// and its gauge moves; the page box's "out of" follows. Once done, no count
// is left standing under "Done!".
TEST_F(GuiTest, TheCountTellsItsPagesAsTheyGrow)
{
    const std::string path = Write(PagedReport(1500));
    std::vector<int> told;
    std::vector<int> gauge;
    QStringList boxTexts;
    int pumps = 0;
    Services.OnPump = [&] {
        if (!W || !W->Session().Counting() || ++pumps % 40 != 0)
            return;
        W->CountTellMs = 0;  // told at every look
        W->SyncGauges();  // what the program's pump does before it lets events run
        const QString text = W->ProgressWindow->lblMessage->text();
        const QString prefix = QStringLiteral("Counting Pages... ");
        if (!text.startsWith(prefix))
            return;
        told.push_back(text.mid(prefix.size()).remove(QLatin1Char(',')).toInt());
        gauge.push_back(W->ProgressWindow->ProgressGauge->value());
        boxTexts << W->lblPageCount->text();
    };
    Start({path});
    Services.OnPump = nullptr;
    ASSERT_FALSE(Ended);
    ASSERT_GE(told.size(), 3u);
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_GT(told.back(), told.front());
    EXPECT_LE(told.back(), 1500);
    EXPECT_TRUE(std::is_sorted(gauge.begin(), gauge.end()));
    EXPECT_GT(gauge.back(), gauge.front()) << "the progress window's gauge stood still during the count";
    EXPECT_EQ(boxTexts.back(), QStringLiteral("out of ") + QLocale(QLocale::English).toString(told.back()) + "...");
    EXPECT_EQ(W->lblPageCount->text(), "out of 1500");
    EXPECT_EQ(W->ProgressWindow->lblCaption->text(), "Done!");
    EXPECT_FALSE(W->ProgressWindow->lblMessage->isVisible());
    EXPECT_TRUE(W->ProgressWindow->ProgressGauge->isTextVisible());
}

// The pages beside the one shown are drawn ahead while the window is idle:
// paging to one shows it without a pass. A page is taken from the cache only
// in the layout it was drawn in; a page whose pass says something is never
// kept, and drawing ahead says nothing.
TEST_F(GuiTest, PagesBesideTheOneShownAreDrawnAheadAndShowAtOnce)
{
    std::string report = PagedReport(4);
    const std::string speaking = "{FIELD CODE=PAGE START=2000000000 STYLE=ROMAN}\r\n";
    report.insert(report.find("\f{CPI10}Page 4"), speaking);  // page 3 says its page number cannot be Roman
    const std::string path = Write(report);
    Start({path});
    ASSERT_FALSE(Ended);
    ASSERT_TRUE(W->isVisible());
    // Pages 1 and 2 are kept once the window is idle.
    WAIT_UNTIL(W->PageCache.Size() == 2 && !W->DrawingAhead(), 10000);
    EXPECT_TRUE(ShowsPage(1)) << "drawing ahead left another page on the screen";
    // (The count said it of page 3 once.)
    for (const auto& m : Services.Messages)
        EXPECT_EQ(m.Caption, "Error in tRenderer.Render:{FIELD}");
    Services.Messages.clear();
    int pumps = Services.Pumps;
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_EQ(W->Session().CurrentPage(), 2);
    EXPECT_EQ(Services.Pumps, pumps) << "page 2 was drawn again";
    EXPECT_TRUE(ShowsPage(2));
    // Page 3 speaks: drawn ahead, it says nothing and is not kept ...
    WAIT_UNTIL(!W->DrawingAhead() && W->Session().Renderer()->LastPassStart() >= 1 &&
                                 Services.Pumps > pumps, 10000);
    QApplication::processEvents();
    EXPECT_TRUE(Services.Messages.empty()) << Services.Messages.front().Text;
    EXPECT_TRUE(ShowsPage(2));
    // ... and shown, it says it each time.
    // (ShowsPage's own pass of page 3 would say it too.)
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_EQ(W->Session().CurrentPage(), 3);
    ASSERT_EQ(Services.Messages.size(), 1u);
    QTest::keyClick(W->edtPageNum, Qt::Key_PageUp);
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_EQ(Services.Messages.size(), 2u);
    EXPECT_TRUE(ShowsPage(3));
    QTest::keyClick(W->edtPageNum, Qt::Key_PageUp);
    EXPECT_TRUE(ShowsPage(2));

    // A report changed on disk is drawn as it is now.
    WAIT_UNTIL(!W->DrawingAhead() && W->PageCache.Size() >= 2, 10000);
    std::string changed = report;
    changed.replace(changed.find("Page 1 of"), 9, "Page One of the changed");
    Write(changed);
    pumps = Services.Pumps;
    QTest::keyClick(W->edtPageNum, Qt::Key_PageUp);
    EXPECT_GT(Services.Pumps, pumps) << "a page of the report before was shown";
    EXPECT_TRUE(ShowsPage(1));
    // Another zoom draws every page anew.
    WAIT_UNTIL(!W->DrawingAhead() && W->PageCache.Size() == 2, 10000);
    Type(W->edtZoom, "100");
    pumps = Services.Pumps;
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_GT(Services.Pumps, pumps);
    EXPECT_TRUE(ShowsPage(2));
}

TEST_F(GuiTest, ProgressWindowHidesItselfASecondAfterTheLoad)
{
    Start({Write(PagedReport(2))});
    ASSERT_TRUE(W->ProgressWindow->isVisible());
    EXPECT_TRUE(W->ProgressWindow->HideTimer->isActive());
    EXPECT_EQ(W->ProgressWindow->HideTimer->interval(), 1000);
    WAIT_UNTIL(W->ProgressWindow->isHidden(), 3000);
    EXPECT_FALSE(W->ProgressWindow->HideTimer->isActive());
}

// The progress window stays above its main window only: it has no
// stays-on-top hint, and while a modal window is up (a message, the
// open-document or save window) it steps aside, even when asked to show a
// message meanwhile, and comes back when the modal window goes.
TEST_F(GuiTest, ProgressWindowStepsAsideForModalWindows)
{
    Start({Write(PagedReport(2))});
    TProgressWindow& p = *W->ProgressWindow;
    EXPECT_FALSE(p.windowFlags() & Qt::WindowStaysOnTopHint);
    p.HideTimer->stop();
    p.SetMessage("Working");
    ASSERT_TRUE(p.isVisible());
    {
        QDialog modal(W.get());
        modal.setModal(true);
        modal.show();
        EXPECT_FALSE(p.isVisible());
        p.SetMessage("Still working");
        EXPECT_FALSE(p.isVisible());
        QMessageBox box(QMessageBox::NoIcon, "A box", "over the dialog", QMessageBox::Ok, &modal);
        box.setModal(true);
        box.show();
        box.hide();
        EXPECT_FALSE(p.isVisible()) << "one modal window is still up";
        modal.hide();
        EXPECT_TRUE(p.isVisible());
        EXPECT_EQ(p.lblMessage->text(), "Still working");
    }
    // Hidden by its own timer meanwhile, it does not come back.
    QDialog modal(W.get());
    modal.setModal(true);
    modal.show();
    p.HideTimerFired();
    modal.hide();
    EXPECT_FALSE(p.isVisible());
}

TEST_F(GuiTest, ProgressWindowMessageLineReplacesThePercentage)
{
    TProgressWindow w;
    w.SetMessage("Counting Pages...");
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.lblMessage->isVisible());
    EXPECT_FALSE(w.ProgressGauge->isTextVisible());
    EXPECT_EQ(w.lblMessage->palette().color(QPalette::WindowText), QColor(Qt::black));
    w.ProgressGauge->Gauge.MaxValue = 10;
    w.ProgressGauge->Fill();
    EXPECT_EQ(w.lblMessage->palette().color(QPalette::WindowText), QColor(Qt::white));
    w.SetMessage("  ");
    EXPECT_FALSE(w.lblMessage->isVisible());
    EXPECT_TRUE(w.ProgressGauge->isTextVisible());
    w.Printing();
    EXPECT_EQ(w.lblCaption->text(), "Printing...");
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    w.DonePrinting();
    EXPECT_EQ(w.lblCaption->text(), "Done!");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(GuiTest, MissingReportEndsTheProgramWithTheOpenFailure)
{
    Start({Dir.filePath("NOSUCH.TXT").toStdString()});
    EXPECT_TRUE(Ended);
    EXPECT_EQ(EndCode, 1);
    EXPECT_TRUE(HasMessage("Cannot Open File", "NOSUCH.TXT"));
    // The progress window does not stay in its busy state.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(GuiTest, WithoutAReportTheOpenDocumentWindowAsksAndCancelEnds)
{
    bool shown = false;
    WhenDialog<TOpenDocumentWindow>([&](TOpenDocumentWindow* d) {
        shown = true;
        EXPECT_EQ(d->windowTitle(), "Open Quillard Document");
        d->cmdCancel->click();
    });
    Start({});
    EXPECT_TRUE(shown);
    EXPECT_TRUE(Ended);
    EXPECT_EQ(EndCode, 0);
}

TEST_F(GuiTest, TheOpenDocumentWindowsPathIsLoaded)
{
    const std::string path = Write(PagedReport(4));
    AnswerOpenDocument(path);
    Start({});
    ASSERT_FALSE(Ended);
    EXPECT_EQ(W->Session().ReportFileName(), path);
    EXPECT_EQ(W->Session().PageCount(), 4);
}

// ---- switches ---------------------------------------------------------------

TEST_F(GuiTest, DeleteSwitchRemovesTheReportAtExit)
{
    const std::string path = Write(PagedReport(2));
    Start({path, "/D"});
    ASSERT_FALSE(Ended);
    EXPECT_EQ(W->Session().PageCount(), 2);
    EXPECT_TRUE(std::filesystem::exists(path));
    Finish();
    EXPECT_FALSE(std::filesystem::exists(path));
}

// /D with a report named through a link deletes the report the link leads
// to (the file the name stands for); the link stays, leading nowhere. A link
// to a folder deletes nothing.
TEST_F(GuiTest, DeleteSwitchThroughALinkDeletesTheReportItLeadsTo)
{
    std::filesystem::create_directories(Dir.filePath("real").toStdString());
    const std::string report = Write(PagedReport(2), "real/REPORT.TXT");
    const std::string link = Dir.filePath("LINK.TXT").toStdString();
    std::filesystem::create_symlink(report, link);
    Start({"/D", link});
    ASSERT_FALSE(Ended);
    EXPECT_EQ(W->Session().PageCount(), 2);
    Finish();
    EXPECT_FALSE(std::filesystem::exists(report));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
}

// A FIFO, a folder or a device named as the report: the open fails at once
// with a message saying what it is (opening a FIFO once waited for a writer
// for ever).
TEST_F(GuiTest, ReportThatIsNoRegularFileFailsAtOnceSayingWhatItIs)
{
    const std::string fifo = Dir.filePath("FIFO.TXT").toStdString(), link = Dir.filePath("LINK.TXT").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink(fifo, link);
    struct Case {
        std::string Path;
        const char* Kind;
    };
    for (const Case& c : {Case{fifo, "not a regular file (a FIFO)"}, Case{link, "not a regular file (a FIFO)"},
                          Case{"/dev/zero", "not a regular file (a character device)"}}) {
        SCOPED_TRACE(c.Path);
        Services.Messages.clear();
        Ended = false;
        EndCode = -1;
        Start({c.Path});
        EXPECT_TRUE(Ended);
        EXPECT_EQ(EndCode, 1);
        EXPECT_TRUE(HasMessage("Cannot Open File", c.Kind)) << MessagesText();
        Finish();
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST_F(GuiTest, ReportIsKeptWithoutTheDeleteSwitchOrWithItsDashForm)
{
    const std::string path = Write(PagedReport(2));
    Start({"-DELETE", path});
    ASSERT_FALSE(Ended);
    EXPECT_FALSE(W->Session().DeleteReportOnExit());
    EXPECT_EQ(W->Session().ReportFileName(), path);
    Finish();
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(GuiTest, LaterReportPathReplacesAnEarlierOne)
{
    const std::string a = Write(PagedReport(2), "A.TXT"), b = Write(PagedReport(3), "B.TXT");
    Start({a, "--delete", b});
    ASSERT_FALSE(Ended);
    EXPECT_EQ(W->Session().ReportFileName(), b);
    EXPECT_EQ(W->Session().PageCount(), 3);
    Finish();
    EXPECT_TRUE(std::filesystem::exists(a));
    EXPECT_FALSE(std::filesystem::exists(b));
}

TEST_F(GuiTest, RegisterAloneReportsAndEndsBeforeAnyRenderer)
{
    Start({"/R"});
    EXPECT_TRUE(Ended);
    EXPECT_EQ(EndCode, 0);
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Text, "Register Server Successfull!");
    EXPECT_EQ(Services.Messages[0].Caption, "");
    EXPECT_EQ(W->Session().Renderer(), nullptr);
    EXPECT_TRUE(QFileInfo::exists(Dir.filePath("data/dbus-1/services/com.merrowgate.Quillard.service")));
}

TEST_F(GuiTest, UnregisterWithAReportReportsAndGoesOnToThePreview)
{
    Start({"/UNREG", Write(PagedReport(2))});
    EXPECT_FALSE(Ended);
    EXPECT_TRUE(HasMessage("", "Unregister Server Successfull!"));
    EXPECT_EQ(W->Session().PageCount(), 2);
}

TEST_F(GuiTest, RegisterIntoAFolderThatCannotBeMadeSaysItFailed)
{
    Write("a file where the data folder should be", "blocked");
    setenv("XDG_DATA_HOME", Dir.filePath("blocked").toLocal8Bit().constData(), 1);
    Start({"/REGSVR", Write(PagedReport(1))});
    EXPECT_FALSE(Ended);
    EXPECT_TRUE(HasMessage("", "Register Server Not Successfull!"));
    EXPECT_EQ(W->Session().PageCount(), 1);
}

// Printing on real printers is in test_gui_print.cpp; here there is none.
TEST_F(GuiTest, PrintSwitchAloneWithoutAPrinterReportsTheFailureAndEndsWithIt)
{
    Start({Write(PagedReport(2)), "/PRINT"});
    EXPECT_TRUE(HasMessage("Error Printing Document!", "printer"));
    EXPECT_TRUE(Ended);
    EXPECT_EQ(EndCode, 1);
}

TEST_F(GuiTest, PrintWithPreviewKeepsThePreviewOpenAfterAFailedPrint)
{
    Start({"/P", "/V", Write(PagedReport(2))});
    EXPECT_TRUE(HasMessage("Error Printing Document!", "printer"));
    EXPECT_FALSE(Ended);
    EXPECT_FALSE(W->PrintSwitch);
    EXPECT_FALSE(W->PrintMode);
    // Print mode has ended: the page controls work again.
    EXPECT_TRUE(W->edtPageNum->isEnabled());
    EXPECT_TRUE(W->cmdPrint->isEnabled());
    EXPECT_TRUE(ShowsPage(1));
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_TRUE(ShowsPage(2));
    // A later activation does not print again.
    Services.Messages.clear();
    W->FormActivate();
    EXPECT_TRUE(Services.Messages.empty());
}

TEST_F(GuiTest, WebAddressNobodyAnswersEndsTheProgram)
{
    const QByteArray proxy = qgetenv("http_proxy");
    qunsetenv("http_proxy");
    Start({"http://127.0.0.1:1/REPORT.TXT"});
    if (!proxy.isNull())
        qputenv("http_proxy", proxy);
    EXPECT_TRUE(Ended);
    EXPECT_EQ(EndCode, 1);
    EXPECT_TRUE(HasMessage("Error Transferring File", "Error Code:1\r\n"));
    EXPECT_TRUE(HasMessage("Error", "No file was retrieved from the server"));
}

// ---- settings ---------------------------------------------------------------

struct ZoomSettingCase {
    const char* Name;
    const char* Stored;
    int Zoom;
};

class ZoomSettingTest : public GuiTest, public ::testing::WithParamInterface<ZoomSettingCase> {};

TEST_P(ZoomSettingTest, ZoomLevelIsReadAtStart)
{
    WriteUserSetting("Zoom Level", QString::fromLatin1(GetParam().Stored));
    Start({Write(PagedReport(1))});
    EXPECT_EQ(Globals().ZoomLevel, GetParam().Zoom);
    EXPECT_EQ(W->edtZoom->text(), QString::number(GetParam().Zoom));
    EXPECT_DOUBLE_EQ(W->Session().Renderer()->GetScale(), GetParam().Zoom / 100.0);
    EXPECT_EQ(W->PageView->width(), W->Session().Renderer()->Metrics.PageWidthPx);
}

INSTANTIATE_TEST_SUITE_P(Values, ZoomSettingTest,
                         ::testing::Values(ZoomSettingCase{"Plain", "150", 150}, ZoomSettingCase{"LeadingDigits", "120abc", 120},
                                           ZoomSettingCase{"Above300", "500", 70}, ZoomSettingCase{"Exactly300", "300", 300},
                                           ZoomSettingCase{"NoDigitsKeepDefault", "big", 75},
                                           ZoomSettingCase{"HugeNumber", "99999999999999", 70}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GuiTest, SettingsAreWrittenAtExitAndReadAtTheNextStart)
{
    WriteUserSetting("Save TXT Dir", "/srv/reports/text");
    WriteUserSetting("Save Graphic Dir", "/srv/reports/pictures");
    WriteUserSetting("Open Dir", "/srv/reports");
    const std::string path = Write(PagedReport(3));
    Start({path});
    EXPECT_EQ(W->SaveTextDir, "/srv/reports/text");
    EXPECT_EQ(OpenDocument->OpenDir, "/srv/reports");
    Type(W->edtZoom, "90");
    EXPECT_EQ(Globals().ZoomLevel, 90);
    Finish();
    EXPECT_EQ(UserSetting("Zoom Level").toString(), "90");
    EXPECT_EQ(UserSetting("Save TXT Dir").toString(), "/srv/reports/text");
    EXPECT_EQ(UserSetting("Save Graphic Dir").toString(), "/srv/reports/pictures");
    EXPECT_EQ(UserSetting("Open Dir").toString(), "/srv/reports");

    Globals().ZoomLevel = 75;
    Start({path});
    EXPECT_EQ(W->edtZoom->text(), "90");
    EXPECT_DOUBLE_EQ(W->Session().Renderer()->GetScale(), 0.9);
    EXPECT_TRUE(ShowsPage(1));
}

TEST_F(GuiTest, LineDrawSettingIsRead)
{
    WriteUserSetting("Use MS LineDraw Font", "yes");
    Start({Write(PagedReport(1))});
    EXPECT_TRUE(Globals().UseLineDrawFont);
}

TEST_F(GuiTest, NoOpenOrSaveInTheSystemScopeHidesOpenAndSaveButNotPdf)
{
    {
        QSettings s(QSettings::NativeFormat, QSettings::SystemScope, "Merrowgate", "Quillard");
        s.setValue("No Open or Save", "");
    }
    Start({Write(PagedReport(1))});
    for (QAction* a : {W->mnuOpenFile, W->mnuSepFile1, W->mnuSaveAs, W->mnuSaveAsGraphic, W->mnuSepFile2})
        EXPECT_FALSE(a->isVisible()) << a->objectName().toStdString();
    EXPECT_TRUE(W->mnuSaveAsPDF->isVisible());
}

TEST_F(GuiTest, OpenAndSaveStayWithoutTheSystemValue)
{
    Start({Write(PagedReport(1))});
    EXPECT_TRUE(W->mnuOpenFile->isVisible());
    EXPECT_TRUE(W->mnuSaveAs->isVisible());
}

// ---- Esc ----------------------------------------------------------------------

struct EscCase {
    const char* Name;
    const char* Stored;  // nullptr: no value
    bool Ends;
};

class EscTest : public GuiTest, public ::testing::WithParamInterface<EscCase> {};

TEST_P(EscTest, EscEndsTheProgramOnlyWhenExitOnEscIsOn)
{
    if (GetParam().Stored)
        WriteUserSetting("Exit On Esc", QString::fromLatin1(GetParam().Stored));
    Start({Write(PagedReport(2))});
    ASSERT_FALSE(Ended);
    QTest::keyClick(W->edtPageNum, Qt::Key_Escape);
    EXPECT_EQ(Ended, GetParam().Ends);
    EXPECT_FALSE(W->tmrKeyRepeat->isActive());
}

// Esc puts down a drawing or text tool first; the program ends only on
// the next Esc.
TEST_F(GuiTest, EscPutsDownAToolBeforeItEndsTheProgram)
{
    Start({Write(PagedReport(2))});
    for (auto take : {&TPreviewWindow::cmdDrawLineClick, &TPreviewWindow::cmdDrawBoxClick,
                      &TPreviewWindow::cmdDrawCircleClick, &TPreviewWindow::cmdAddTextClick}) {
        (W.get()->*take)();
        QTest::keyClick(W->edtPageNum, Qt::Key_Escape);
        ASSERT_FALSE(Ended);
        EXPECT_FALSE(W->DrawLineMode || W->DrawBoxMode || W->DrawOvalMode || W->AddTextPending);
        EXPECT_EQ(W->PageView->cursor().shape(), Qt::OpenHandCursor);
    }
    QTest::keyClick(W->edtPageNum, Qt::Key_Escape);
    EXPECT_TRUE(Ended);
}

// The button of the tool in hand shows pressed, the others not; none once
// the tool is put down.
TEST_F(GuiTest, TheToolInHandShowsPressed)
{
    Start({Write(PagedReport(2))});
    QPushButton* const tools[] = {W->cmdAddText, W->cmdDrawLine, W->cmdDrawBox, W->cmdDrawCircle};
    auto pressed = [&] {
        std::vector<bool> p;
        for (QPushButton* b : tools)
            p.push_back(b->isChecked());
        return p;
    };
    EXPECT_EQ(pressed(), std::vector<bool>({false, false, false, false}));
    for (size_t i = 0; i < std::size(tools); ++i) {
        tools[i]->click();
        std::vector<bool> expected(std::size(tools), false);
        expected[i] = true;
        EXPECT_EQ(pressed(), expected) << i;
        tools[i]->click();  // pressed again, the tool stays in hand
        EXPECT_EQ(pressed(), expected) << i;
    }
    QTest::keyClick(W->edtPageNum, Qt::Key_Escape);
    EXPECT_FALSE(Ended);
    EXPECT_EQ(pressed(), std::vector<bool>({false, false, false, false}));
}

INSTANTIATE_TEST_SUITE_P(Setting, EscTest,
                         ::testing::Values(EscCase{"Absent", nullptr, true}, EscCase{"Yes", "Yes", true},
                                           EscCase{"LowerYes", "yes", true}, EscCase{"No", "No", false},
                                           EscCase{"Other", "sometimes", false}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- page box -------------------------------------------------------------------

struct PageBoxCase {
    const char* Name;
    const char* Typed;
    const char* Box;  // the box afterwards
    int Page;         // CurrentPage afterwards
};

class PageBoxTest : public GuiTest, public ::testing::WithParamInterface<PageBoxCase> {};

TEST_P(PageBoxTest, TypedTextSelectsThePage)
{
    Start({Write(PagedReport(20))});
    Type(W->edtPageNum, "3");
    ASSERT_EQ(W->Session().CurrentPage(), 3);
    // "F" is also the find key: its window is cancelled.
    if (QString::fromLatin1(GetParam().Typed).contains(QLatin1Char('F')))
        WhenModal([](QWidget* w) { w->close(); });
    Type(W->edtPageNum, QString::fromLatin1(GetParam().Typed));
    EXPECT_EQ(W->edtPageNum->text(), QString::fromLatin1(GetParam().Box));
    EXPECT_EQ(W->Session().CurrentPage(), GetParam().Page);
    if (GetParam().Page >= 1) {
        EXPECT_TRUE(ShowsPage(GetParam().Page));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PageBoxTest,
    ::testing::Values(PageBoxCase{"DigitsThenLetter", "12a", "12", 12}, PageBoxCase{"BeyondTheEndClamps", "999", "20", 20},
                      PageBoxCase{"LetterFRestoresThePage", "F", "3", 3}, PageBoxCase{"LetterLowerNRestores", "n", "3", 3},
                      PageBoxCase{"OtherLetterStaysWithoutPage", "x", "x", 3}, PageBoxCase{"PlusSignDropped", "7+", "7", 7},
                      PageBoxCase{"HugeNumberClamps", "99999999999999", "20", 20}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GuiTest, PageZeroShowsAnEmptySheet)
{
    Start({Write(PagedReport(3))});
    Type(W->edtPageNum, "0");
    EXPECT_EQ(W->Session().CurrentPage(), 0);
    ASSERT_NE(W->PageBitmap, nullptr);
    EXPECT_TRUE(InkBox(W->PageBitmap->Image()).Empty());
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_EQ(W->Session().CurrentPage(), 1);
    EXPECT_TRUE(ShowsPage(1));
}

// ---- zoom -------------------------------------------------------------------------

enum class ZoomAction { KeypadPlus, KeypadMinus, SpinUp, SpinDown, MenuIn, MenuOut, CtrlWheelUp, CtrlWheelDown, WheelAlone };

struct ZoomCase {
    const char* Name;
    int From;
    ZoomAction Action;
    int To;
};

class ZoomTest : public GuiTest, public ::testing::WithParamInterface<ZoomCase> {};

TEST_P(ZoomTest, ZoomStepsAndLimits)
{
    Start({Write(PagedReport(2))});
    Type(W->edtZoom, QString::number(GetParam().From));
    ASSERT_EQ(Globals().ZoomLevel, GetParam().From);
    switch (GetParam().Action) {
    case ZoomAction::KeypadPlus:
        QTest::keyClick(W->edtPageNum, Qt::Key_Plus, Qt::KeypadModifier);
        break;
    case ZoomAction::KeypadMinus:
        QTest::keyClick(W->edtPageNum, Qt::Key_Minus, Qt::KeypadModifier);
        break;
    case ZoomAction::SpinUp:
        W->spnZoom->UpButton->click();
        break;
    case ZoomAction::SpinDown:
        W->spnZoom->DownButton->click();
        break;
    case ZoomAction::MenuIn:
        W->actZoomIn->trigger();
        break;
    case ZoomAction::MenuOut:
        W->actZoomOut->trigger();
        break;
    case ZoomAction::CtrlWheelUp:
    case ZoomAction::CtrlWheelDown:
    case ZoomAction::WheelAlone: {
        const int delta = GetParam().Action == ZoomAction::CtrlWheelDown ? -120 : 120;
        QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton,
                          GetParam().Action == ZoomAction::WheelAlone ? Qt::NoModifier : Qt::ControlModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(W->ScrollArea->viewport(), &wheel);
        break;
    }
    }
    EXPECT_EQ(Globals().ZoomLevel, GetParam().To);
    EXPECT_EQ(W->edtZoom->text(), QString::number(GetParam().To));
    EXPECT_DOUBLE_EQ(W->Session().Renderer()->GetScale(), GetParam().To / 100.0);
    EXPECT_EQ(W->edtPageNum->text(), "1");  // the keypad signs stay out of the page box
    EXPECT_TRUE(ShowsPage(1));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ZoomTest,
    ::testing::Values(ZoomCase{"KeypadPlus", 75, ZoomAction::KeypadPlus, 80},
                      ZoomCase{"KeypadMinus", 75, ZoomAction::KeypadMinus, 70},
                      ZoomCase{"KeypadMinusStopsAt5", 8, ZoomAction::KeypadMinus, 5},
                      ZoomCase{"MenuZoomIn", 50, ZoomAction::MenuIn, 55}, ZoomCase{"MenuZoomOut", 50, ZoomAction::MenuOut, 45},
                      ZoomCase{"SpinDownFrom11", 11, ZoomAction::SpinDown, 10},
                      ZoomCase{"SpinDownFrom10Stays", 10, ZoomAction::SpinDown, 10},
                      ZoomCase{"SpinDownFrom8Gives10", 8, ZoomAction::SpinDown, 10},
                      ZoomCase{"SpinUp", 10, ZoomAction::SpinUp, 11},
                      ZoomCase{"SpinUpPastThreeDigits", 999, ZoomAction::SpinUp, 1000},
                      ZoomCase{"CtrlWheelUp", 75, ZoomAction::CtrlWheelUp, 85},
                      ZoomCase{"CtrlWheelDown", 75, ZoomAction::CtrlWheelDown, 65},
                      ZoomCase{"CtrlWheelDownStopsAt5", 8, ZoomAction::CtrlWheelDown, 5},
                      ZoomCase{"WheelAloneScrolls", 75, ZoomAction::WheelAlone, 75}),
    [](const auto& info) { return std::string(info.param.Name); });

// A pinch on a touchpad zooms by its spread: half as wide again is 150 percent
// of the zoom it started at, and the zoom stays within its limits.
TEST_F(GuiTest, PinchZoomFollowsTheSpread)
{
    Start({Write(PagedReport(1))});
    Type(W->edtZoom, "100");
    auto gesture = [&](Qt::NativeGestureType Type, double Value) {
        QNativeGestureEvent e(Type, QPointingDevice::primaryPointingDevice(), 2, QPointF(20, 20), QPointF(20, 20),
                              QPointF(20, 20), Value, QPointF());
        QApplication::sendEvent(W->ScrollArea->viewport(), &e);
    };
    gesture(Qt::BeginNativeGesture, 0);
    for (int step = 0; step < 5; ++step)
        gesture(Qt::ZoomNativeGesture, 0.0844717712);  // 1.0844717712 ^ 5 = 1.5
    gesture(Qt::EndNativeGesture, 0);
    EXPECT_EQ(Globals().ZoomLevel, 150);
    EXPECT_EQ(W->edtZoom->text(), "150");
    EXPECT_TRUE(ShowsPage(1));
    gesture(Qt::BeginNativeGesture, 0);
    for (int step = 0; step < 40; ++step)
        gesture(Qt::ZoomNativeGesture, -0.5);
    EXPECT_EQ(Globals().ZoomLevel, TPreviewWindow::MinZoom);
    gesture(Qt::ZoomNativeGesture, 1.0);  // from the limit, twice the limit
    EXPECT_EQ(Globals().ZoomLevel, 2 * TPreviewWindow::MinZoom);
    gesture(Qt::EndNativeGesture, 0);
}

// Fit Page, Fit Width and Actual Size of the View menu.
TEST_F(GuiTest, FitZoomsShowTheWholePageOrItsWidth)
{
    Start({Write(PagedReport(2))});
    W->resize(900, 700);
    QApplication::processEvents();
    const QSize room = W->ScrollArea->maximumViewportSize();
    const int m = TPreviewWindow::PageMargin;
    const int bar = W->ScrollArea->verticalScrollBar()->sizeHint().width();
    W->actFitWidth->trigger();
    QApplication::processEvents();
    // The sheet fills the width but for the margins and the scroll bar the
    // tall page needs, and nothing scrolls sideways.
    EXPECT_LE(W->shpNonPrintable->width(), room.width() - bar - 2 * m);
    // One percent more would not fit.
    const auto oneMore = [](int Pixels) { return Pixels * (Globals().ZoomLevel + 1.0) / Globals().ZoomLevel; };
    EXPECT_GT(oneMore(W->shpNonPrintable->width()), room.width() - bar - 2 * m - 1);
    EXPECT_EQ(W->ScrollArea->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(W->ScrollArea->verticalScrollBar()->maximum(), 0) << "a Letter page is taller than it is wide";
    W->actFitPage->trigger();
    QApplication::processEvents();
    EXPECT_LE(W->shpNonPrintable->height(), room.height() - 2 * m);
    EXPECT_GT(oneMore(W->shpNonPrintable->height()), room.height() - 2 * m - 1);
    EXPECT_EQ(W->ScrollArea->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(W->ScrollArea->verticalScrollBar()->maximum(), 0);
    // The whole page in the window stands in its middle.
    const QRect sheet(W->shpNonPrintable->mapTo(W->ScrollArea->viewport(), QPoint(0, 0)), W->shpNonPrintable->size());
    const QRect view = W->ScrollArea->viewport()->rect();
    EXPECT_LE(std::abs(sheet.center().x() - view.center().x()), 1);
    EXPECT_LE(std::abs(sheet.center().y() - view.center().y()), 1);
    W->actActualSize->trigger();
    EXPECT_EQ(Globals().ZoomLevel, 100);
    EXPECT_EQ(W->edtZoom->text(), "100");
    EXPECT_TRUE(ShowsPage(1));
}

TEST_F(GuiTest, ZoomBoxTakesAtMostThreeTypedCharactersAndDigitsOnly)
{
    Start({Write(PagedReport(1))});
    Type(W->edtZoom, "1234");
    EXPECT_EQ(W->edtZoom->text(), "123");
    EXPECT_EQ(Globals().ZoomLevel, 123);
    Type(W->edtZoom, "6x");
    EXPECT_EQ(W->edtZoom->text(), "6");
    EXPECT_EQ(Globals().ZoomLevel, 6);
    Type(W->edtZoom, "L");
    EXPECT_EQ(W->edtZoom->text(), "6");
    EXPECT_EQ(Globals().ZoomLevel, 6);
}

// ---- icons and names ------------------------------------------------------------

// With the desktop's theme (Adwaita where no desktop sets one) the commands
// show its icons beside their texts; the shapes are drawn; a theme without
// an icon leaves the text alone. The window has the program's own icon.
TEST_F(GuiTest, CommandsShowTheThemesIconsBesideTheirTexts)
{
    const QString theme = QIcon::themeName();
    struct TRestore {
        QString Theme;
        ~TRestore() { QIcon::setThemeName(Theme); }
    } restore{theme};
    UseDesktopIconTheme();
    ASSERT_FALSE(QIcon::fromTheme("document-print").isNull()) << "no icon theme installed";
    Start({Write(PagedReport(1))});
    EXPECT_FALSE(W->windowIcon().isNull());
    EXPECT_EQ(W->cmdPrint->text(), "Print");
    EXPECT_FALSE(W->cmdPrint->icon().isNull());
    EXPECT_GE(W->cmdPrint->width(), W->cmdPrint->sizeHint().width()) << "the icon squeezed the text";
    EXPECT_FALSE(W->cmdClose->icon().isNull());
    for (QPushButton* shape : {W->cmdDrawLine, W->cmdDrawBox, W->cmdDrawCircle})
        EXPECT_FALSE(shape->icon().isNull()) << shape->objectName().toStdString();
    EXPECT_FALSE(W->actFitPage->icon().isNull());
    EXPECT_FALSE(W->mnuOpenFile->icon().isNull());
    W.reset();

    QIcon::setThemeName(QStringLiteral("NoSuchTheme"));
    QIcon::setFallbackThemeName(QStringLiteral("NoSuchTheme"));
    Start({Write(PagedReport(1))});
    EXPECT_TRUE(W->cmdPrint->icon().isNull());
    EXPECT_EQ(W->cmdPrint->text(), "Print");
    EXPECT_EQ(W->cmdAddText->text(), "A");
    EXPECT_FALSE(W->cmdDrawLine->icon().isNull()) << "the shapes are drawn whatever the theme";
    QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
}

// A screen reader has a name for every control the window shows, and Tab
// goes through the toolbar from left to right.
TEST_F(GuiTest, EveryControlHasANameAndTabFollowsTheToolbar)
{
    Start({Write(PagedReport(2))});
    QStringList unnamed;
    for (QWidget* w : W->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(W.get()) || w->window() != W.get())
            continue;
        const bool control = w->focusPolicy() != Qt::NoFocus || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QProgressBar*>(w);
        if (!control)
            continue;
        QString name = w->accessibleName();
        if (name.isEmpty())
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                name = b->text().remove(QLatin1Char('&'));
        if (name.trimmed().isEmpty())
            unnamed << w->metaObject()->className() + QStringLiteral(" ") + w->objectName();
    }
    EXPECT_EQ(unnamed.join(", ").toStdString(), "");

    QStringList order;
    QWidget* w = W->edtPageNum;
    for (int i = 0; i < 200 && order.size() < 12; ++i, w = w->nextInFocusChain()) {
        // (An editable box's own line takes the focus for it.)
        if (w->window() == W.get() && w->isVisibleTo(W.get()) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
            !qobject_cast<QComboBox*>(w->parentWidget()))
            if (order.isEmpty() || order.last() != w->objectName())
                order << w->objectName();
    }
    EXPECT_EQ(order.join(' ').toStdString(), "edtPageNum edtZoom cmdAddText cmdEditText cmdDrawLine cmdDrawCircle "
                                             "cmdDrawBox cmdPickColor chkFilled cboWidth cmdPrint cmdClose");
}

// The other windows: every control a user can reach has a name a screen
// reader says (its own, its text, or the label that stands for it).
TEST_F(GuiTest, EveryControlOfTheOtherWindowsHasAName)
{
    Start({Write(PagedReport(1))});
    auto unnamedIn = [](QWidget* Window) {
        QStringList unnamed;
        const QList<QLabel*> labels = Window->findChildren<QLabel*>();
        for (QWidget* w : Window->findChildren<QWidget*>()) {
            // (The line of a box with arrows or a list is named with its box.)
            if (!w->isVisibleTo(Window) || w->focusPolicy() == Qt::NoFocus || qobject_cast<QComboBox*>(w->parentWidget()) ||
                qobject_cast<QAbstractSpinBox*>(w->parentWidget()))
                continue;
            QString name = w->accessibleName();
            if (auto* b = qobject_cast<QAbstractButton*>(w); b && name.isEmpty())
                name = b->text().remove(QLatin1Char('&'));
            for (QLabel* l : labels)
                if (name.isEmpty() && l->buddy() == w)
                    name = l->text();
            if (name.trimmed().isEmpty())
                unnamed << w->metaObject()->className() + QStringLiteral(" ") + w->objectName();
        }
        return unnamed.join(", ").toStdString();
    };
    TFindWindow find(W.get());
    EXPECT_EQ(unnamedIn(&find), "");
    TAddTextWindow add(W.get());
    EXPECT_EQ(unnamedIn(&add), "");
    TEditTextWindow edit(W.get());
    EXPECT_EQ(unnamedIn(&edit), "");
    TOpenDocumentWindow open;
    EXPECT_EQ(unnamedIn(&open), "");
    TAboutWindow about(W.get());
    EXPECT_EQ(unnamedIn(&about), "");
    EXPECT_EQ(unnamedIn(W->PrintOptionsWindow), "");
}

// ---- the sheet --------------------------------------------------------------------

class SheetTest : public GuiTest, public ::testing::WithParamInterface<int> {};

TEST_P(SheetTest, SheetShadowAndPageFollowTheZoom)
{
    Start({Write(PagedReport(1))});
    Type(W->edtZoom, QString::number(GetParam()));
    const tRenderer& r = *W->Session().Renderer();
    const double ppi = 96 * GetParam() / 100.0;
    ASSERT_DOUBLE_EQ(r.Metrics.PixelsPerInchX, ppi);
    // The page bitmap and the paint box: the printable area.
    EXPECT_EQ(W->PageBitmap->Image().size(), QSize(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx));
    EXPECT_EQ(W->PageView->size(), QSize(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx));
    // The sheet: the paper, with the unprintable margins on both sides.
    const int mx = static_cast<int>(RoundHalfEven(r.Metrics.LeftOffset * ppi)), my = static_cast<int>(RoundHalfEven(r.Metrics.TopOffset * ppi));
    EXPECT_EQ(W->shpNonPrintable->width(), r.Metrics.PageWidthPx + static_cast<int>(RoundHalfEven(r.Metrics.LeftOffset * 2 * ppi)));
    EXPECT_EQ(W->shpNonPrintable->height(), r.Metrics.PageHeightPx + static_cast<int>(RoundHalfEven(r.Metrics.TopOffset * 2 * ppi)));
    EXPECT_EQ(W->PageView->pos(), W->shpNonPrintable->pos() + QPoint(mx, my));
    // The workspace's margin around the sheet; a soft shadow a little down
    // and to the right, spreading from under the sheet.
    const int m = TPreviewWindow::PageMargin, blur = TSheetShadow::Blur;
    EXPECT_EQ(W->shpNonPrintable->pos(), QPoint(m, m));
    EXPECT_EQ(W->ScrollContent->size(), W->shpNonPrintable->size() + QSize(2 * m, 2 * m));
    EXPECT_EQ(W->shpShadow->geometry(), W->shpNonPrintable->geometry()
                                            .adjusted(-blur, -blur, blur, blur)
                                            .translated(TSheetShadow::Offset));
    // Front to back: page, sheet, sizer, shadow.
    const QObjectList& order = W->ScrollContent->children();
    EXPECT_LT(order.indexOf(W->shpShadow), order.indexOf(W->shpNonPrintable));
    EXPECT_EQ(order.last(), W->PageView);
}

INSTANTIATE_TEST_SUITE_P(Zooms, SheetTest, ::testing::Values(25, 75, 100, 160),
                         [](const auto& info) { return "Zoom" + std::to_string(info.param); });

// ---- keys -------------------------------------------------------------------------

TEST_F(GuiTest, PageKeysAndSpinButtonsStayWithinTheReport)
{
    Start({Write(PagedReport(5))});
    QTest::keyClick(W->edtPageNum, Qt::Key_PageUp);
    EXPECT_EQ(W->Session().CurrentPage(), 1);
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_EQ(W->Session().CurrentPage(), 2);
    EXPECT_EQ(W->edtPageNum->text(), "2");
    EXPECT_TRUE(ShowsPage(2));
    QTest::keyClick(W->edtPageNum, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(W->Session().CurrentPage(), 5);
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_EQ(W->Session().CurrentPage(), 5);
    W->spnPageNum->DownButton->click();  // the down arrow is the next page
    EXPECT_EQ(W->Session().CurrentPage(), 5);
    W->spnPageNum->UpButton->click();
    EXPECT_EQ(W->Session().CurrentPage(), 4);
    EXPECT_TRUE(ShowsPage(4));
    QTest::keyClick(W->edtPageNum, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(W->Session().CurrentPage(), 1);
    W->spnPageNum->UpButton->click();
    EXPECT_EQ(W->Session().CurrentPage(), 1);
    W->actLastPage->trigger();
    EXPECT_EQ(W->Session().CurrentPage(), 5);
    W->actFirstPage->trigger();
    EXPECT_EQ(W->Session().CurrentPage(), 1);
    W->actNextPage->trigger();
    EXPECT_EQ(W->Session().CurrentPage(), 2);
    W->actPrevPage->trigger();
    EXPECT_EQ(W->Session().CurrentPage(), 1);
}

TEST_F(GuiTest, PageDownRepeatsOnTheTimerAfter300AndThenEvery100Milliseconds)
{
    Start({Write(PagedReport(5))});
    QTest::keyPress(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_EQ(W->Session().CurrentPage(), 2);
    ASSERT_TRUE(W->tmrKeyRepeat->isActive());
    EXPECT_EQ(W->tmrKeyRepeat->interval(), 200);
    // First tick, at 200 ms: only arms the repeat.
    W->tmrKeyRepeatTimer();
    EXPECT_EQ(W->Session().CurrentPage(), 2);
    EXPECT_TRUE(W->KeyRepeating);
    EXPECT_EQ(W->tmrKeyRepeat->interval(), 100);
    // Every tick after that, at 300 ms and then each 100 ms: one page.
    W->tmrKeyRepeatTimer();
    EXPECT_EQ(W->Session().CurrentPage(), 3);
    W->tmrKeyRepeatTimer();
    W->tmrKeyRepeatTimer();
    EXPECT_EQ(W->Session().CurrentPage(), 5);
    W->tmrKeyRepeatTimer();
    EXPECT_EQ(W->Session().CurrentPage(), 5);  // stops at the last page
    QTest::keyRelease(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_FALSE(W->tmrKeyRepeat->isActive());
    EXPECT_FALSE(W->KeyRepeating);
}

TEST_F(GuiTest, HeldPageDownKeepsToTheRepeatTimesOnTheClock)
{
    Start({Write(PagedReport(6))});
    QElapsedTimer clock;
    std::map<int, qint64> shown;  // page -> milliseconds after the press
    QObject::connect(W->edtPageNum, &QLineEdit::textChanged,
                     [&](const QString& Text) { shown.emplace(Text.toInt(), clock.elapsed()); });
    clock.start();
    QTest::keyPress(W->edtPageNum, Qt::Key_PageDown);
    ASSERT_EQ(W->Session().CurrentPage(), 2);
    WAIT_UNTIL(W->Session().CurrentPage() == 6, 10000);
    // Timers never run early: page 3 comes 300 ms after the press at the
    // soonest, each further page 100 ms later (a late tick is caught up).
    EXPECT_GE(shown[3], 300);
    EXPECT_GE(shown[4], 400);
    EXPECT_GE(shown[5], 500);
    EXPECT_GE(shown[6], 600);
    QTest::qWait(300);
    EXPECT_EQ(W->Session().CurrentPage(), 6);  // the last page ends it
    QTest::keyRelease(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_FALSE(W->tmrKeyRepeat->isActive());
}

TEST_F(GuiTest, ArrowKeysScrollByTheLineIncrementButNotBelowZero)
{
    Start({Write(PagedReport(1))});
    W->resize(500, 400);
    Type(W->edtZoom, "200");
    QScrollBar* h = W->ScrollArea->horizontalScrollBar();
    QScrollBar* v = W->ScrollArea->verticalScrollBar();
    ASSERT_GT(h->maximum(), 50);
    ASSERT_EQ(h->value(), 0);
    QTest::keyClick(W->edtPageNum, Qt::Key_Left);
    EXPECT_EQ(h->value(), 0);
    QTest::keyClick(W->edtPageNum, Qt::Key_Right);
    QTest::keyClick(W->edtPageNum, Qt::Key_Right);
    EXPECT_EQ(h->value(), 2 * h->singleStep());
    QTest::keyClick(W->edtPageNum, Qt::Key_Down);
    EXPECT_EQ(v->value(), v->singleStep());
    QTest::keyClick(W->edtPageNum, Qt::Key_Up);
    EXPECT_EQ(v->value(), 0);
    QTest::keyClick(W->edtPageNum, Qt::Key_Up);
    EXPECT_EQ(v->value(), 0);
}

// ---- the mouse --------------------------------------------------------------------

// A mouse event at a point of the screen, delivered to the widget under it
// as the window system would: the widget's own position follows from where
// the page is at that moment.
void SendMouse(QWidget* W, QEvent::Type Type, QPoint Global, Qt::MouseButton Button, Qt::MouseButtons Buttons)
{
    QMouseEvent e(Type, QPointF(W->mapFromGlobal(Global)), QPointF(Global), Button, Buttons, Qt::NoModifier);
    QApplication::sendEvent(W, &e);
}

TEST_F(GuiTest, DraggingThePageScrollsItWithHandAndFistCursors)
{
    Start({Write(PagedReport(1))});
    W->resize(500, 400);
    Type(W->edtZoom, "200");
    QScrollBar* h = W->ScrollArea->horizontalScrollBar();
    QScrollBar* v = W->ScrollArea->verticalScrollBar();
    h->setValue(100);
    v->setValue(100);
    EXPECT_EQ(W->PageView->cursor().shape(), Qt::OpenHandCursor);

    const QPoint grab = W->PageView->mapToGlobal(QPoint(300, 300));
    SendMouse(W->PageView, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(W->Dragging);
    EXPECT_EQ(W->PageView->cursor().shape(), Qt::ClosedHandCursor);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ClosedHandCursor);
    // The mouse moves 30 right and 40 up: the page follows it.
    SendMouse(W->PageView, QEvent::MouseMove, grab + QPoint(30, -40), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(h->value(), 70);
    EXPECT_EQ(v->value(), 140);
    // Further moves are measured from the grab, wherever the page now is.
    SendMouse(W->PageView, QEvent::MouseMove, grab + QPoint(10, -10), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(h->value(), 90);
    EXPECT_EQ(v->value(), 110);
    SendMouse(W->PageView, QEvent::MouseButtonRelease, grab, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(W->Dragging);
    EXPECT_EQ(W->PageView->cursor().shape(), Qt::OpenHandCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(W->edtPageNum->hasFocus() || QApplication::focusWidget() == nullptr);
}

TEST_F(GuiTest, DragEndsWhenTheButtonIsNoLongerHeld)
{
    Start({Write(PagedReport(1))});
    const QPoint grab = W->PageView->mapToGlobal(QPoint(50, 50));
    SendMouse(W->PageView, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    ASSERT_TRUE(W->Dragging);
    SendMouse(W->PageView, QEvent::MouseMove, grab + QPoint(10, 10), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(W->Dragging);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(GuiTest, ThreeQuickClicksOnAPageLabelToggleTheDiagnosticButtons)
{
    Start({Write(PagedReport(1))});
    ASSERT_FALSE(W->DiagnosticPanel->isVisible());
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(W->lblPage, Qt::LeftButton);
    EXPECT_FALSE(W->DiagnosticPanel->isVisible());
    QTest::mouseClick(W->lblPage, Qt::LeftButton);
    EXPECT_TRUE(W->DiagnosticPanel->isVisible());
    // Slow clicks start counting again.
    QTest::qWait(700);
    QTest::mouseClick(W->ZoomLabel, Qt::LeftButton);
    QTest::qWait(700);
    QTest::mouseClick(W->ZoomLabel, Qt::LeftButton);
    QTest::qWait(700);
    QTest::mouseClick(W->ZoomLabel, Qt::LeftButton);
    EXPECT_TRUE(W->DiagnosticPanel->isVisible());
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(W->lblPageCount, Qt::LeftButton);
    EXPECT_FALSE(W->DiagnosticPanel->isVisible());
}

TEST_F(GuiTest, DiagnosticButtonsDrawOnThePage)
{
    Start({Write(PagedReport(1))});
    const QImage page = W->PageBitmap->Image().copy();
    W->cmdTestPattern->click();
    EXPECT_TRUE(W->Session().Renderer()->TestPattern);
    EXPECT_NE(W->PageBitmap->Image(), page);
    QImage shot = W->grab().toImage();  // paints the sheet in its test-pattern colour
    EXPECT_EQ(W->shpNonPrintable->palette().color(QPalette::Window), QColor(0, 128, 128));
    W->cmdTestPattern->click();
    W->cmdClear->click();
    EXPECT_TRUE(InkBox(W->PageBitmap->Image()).Empty());
    W->cmdShowPrintable->click();
    // A dashed blue outline along the edges of the printable area.
    const QImage& img = W->PageBitmap->Image();
    int blue = 0;
    for (int y = 0; y < img.height(); ++y)
        blue += img.pixel(0, y) == qRgb(0, 0, 255);
    EXPECT_GT(blue, img.height() / 4);
    EXPECT_LT(blue, img.height());
    W->cmdClear->click();
    W->cmdDemoRotate->click();
    EXPECT_FALSE(InkBox(W->PageBitmap->Image(), [](QRgb c) { return c != qRgb(255, 255, 255); }).Empty());
    W->cmdRender->click();
    EXPECT_TRUE(ShowsPage(1));
    W->cmdViewStats->click();
    ASSERT_FALSE(Services.Messages.empty());
    EXPECT_EQ(Services.Messages.back().Caption, "Debug Information");
    for (const char* part : {"Position of Image:", "Size of Invisible Bitmap:", "Position of Shadow:", "Printer Attributes:=",
                             "Printer Capacitites:", "COM Server is not initialized."})
        EXPECT_NE(Services.Messages.back().Text.find(part), std::string::npos) << part;
}

// ---- rendering while a pass runs --------------------------------------------------

TEST_F(GuiTest, PageChangeDuringAPassStopsItAndDrawsTheLatestPage)
{
    Start({Write(PagedReport(300))});
    int changes = 0;
    Services.OnPump = [&] {
        // The user picks page 3 while page 250 is being drawn.
        if (W->Session().Renderer()->Rendering && W->Session().CurrentPage() == 250 && changes++ == 0)
            W->edtPageNum->setText("3");
    };
    const int pumpsBefore = Services.Pumps;
    Type(W->edtPageNum, "250");
    Services.OnPump = nullptr;
    EXPECT_GT(Services.Pumps, pumpsBefore);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(W->Session().CurrentPage(), 3);
    EXPECT_EQ(W->edtPageNum->text(), "3");
    EXPECT_TRUE(ShowsPage(3));
    EXPECT_FALSE(W->Session().Renderer()->Rendering);
}

TEST_F(GuiTest, EscDuringAPassStopsIt)
{
    Start({Write(PagedReport(300))});
    Services.OnPump = [&] {
        if (W->Session().Renderer()->Rendering && !Ended)
            QTest::keyClick(W->edtPageNum, Qt::Key_Escape);
    };
    Type(W->edtPageNum, "299");
    Services.OnPump = nullptr;
    EXPECT_TRUE(Ended);
    EXPECT_FALSE(W->Session().Renderer()->Rendering);
    EXPECT_LT(W->Session().Renderer()->CurrentPage, 299);  // the pass stopped early
}

// ---- clean-up -----------------------------------------------------------------------

// A picture file of one colour, as a host would write it.
void WritePicture(const std::string& Path)
{
    QImage pic(30, 20, QImage::Format_RGB32);
    pic.fill(Qt::blue);
    ASSERT_TRUE(pic.save(QString::fromStdString(Path), "BMP"));
}

// The pictures a report marks go when another report is opened, never while
// the report is shown (its passes come and go), and only pictures: a link, a
// folder and a picture not marked stay.
TEST_F(GuiTest, MarkedPicturesGoWhenTheReportIsDoneWithNeverBetweenPasses)
{
    for (const char* name : {"ONE.BMP", "TWO.BMP", "KEEP.BMP"})
        WritePicture(Dir.filePath(name).toStdString());
    std::filesystem::create_symlink(Dir.filePath("KEEP.BMP").toStdString(), Dir.filePath("LINK.BMP").toStdString());
    std::filesystem::create_directory(Dir.filePath("FOLDER.BMP").toStdString());
    Start({Write("{IMAGE SRC=ONE.BMP DELETE=YES}{IMAGE SRC=LINK.BMP DELETE=YES}{IMAGE SRC=FOLDER.BMP DELETE=YES}\r\n"
                 "{IMAGE SRC=KEEP.BMP}\fPage two{IMAGE SRC=TWO.BMP DELETE=YES}\r\n")});
    ASSERT_FALSE(Ended);
    ASSERT_EQ(W->Session().PageCount(), 2);
    W->edtPageNum->setText("2");
    ASSERT_EQ(W->Session().CurrentPage(), 2);
    W->Refresh1Click();
    W->edtPageNum->setText("1");
    for (const char* name : {"ONE.BMP", "TWO.BMP", "KEEP.BMP"})
        EXPECT_TRUE(std::filesystem::exists(Dir.filePath(name).toStdString())) << name;

    AnswerOpenDocument(Write(PagedReport(1), "OTHER.TXT"));
    W->OpenFile();
    ASSERT_EQ(W->Session().ReportFileName(), Dir.filePath("OTHER.TXT").toStdString());
    EXPECT_FALSE(std::filesystem::exists(Dir.filePath("ONE.BMP").toStdString()));
    EXPECT_FALSE(std::filesystem::exists(Dir.filePath("TWO.BMP").toStdString()));
    EXPECT_TRUE(std::filesystem::exists(Dir.filePath("KEEP.BMP").toStdString()));
    EXPECT_TRUE(std::filesystem::is_symlink(Dir.filePath("LINK.BMP").toStdString()));
    EXPECT_TRUE(std::filesystem::is_directory(Dir.filePath("FOLDER.BMP").toStdString()));
    EXPECT_TRUE(W->Session().Renderer()->ImagesToDelete.empty());
}

TEST_F(GuiTest, CleanUpLeavesThePicturesOfAnUntrustedReport)
{
    const std::string a = Dir.filePath("A.BMP").toStdString();
    WritePicture(a);
    Start({Write("{IMAGE SRC=A.BMP DELETE=YES}\r\n")});
    ASSERT_EQ(W->Session().Renderer()->ImagesToDelete.size(), 1u);
    W->Session().Renderer()->ReportIsUntrusted = true;
    Finish();
    EXPECT_TRUE(std::filesystem::exists(a));
}

TEST_F(GuiTest, ClosingTheWindowEndsTheProgram)
{
    Start({Write(PagedReport(1))});
    W->close();
    EXPECT_TRUE(Ended);
    EXPECT_EQ(EndCode, 0);
}

TEST_F(GuiTest, CloseButtonAndExitHideAndEnd)
{
    Start({Write(PagedReport(1))});
    W->cmdClose->click();
    EXPECT_TRUE(Ended);
    EXPECT_FALSE(W->isVisible());
    EXPECT_FALSE(W->ProgressWindow->isVisible());
}

// ---- menus and the about window ---------------------------------------------------

struct MenuCase {
    const char* Name;
    const char* Caption;
    const char* Shortcut;
    bool Enabled;
};

class MenuTest : public GuiTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MenuTest, ItemHasItsCaptionShortcutAndState)
{
    Start({Write(PagedReport(1))});
    auto* a = W->findChild<QAction*>(QString::fromLatin1(GetParam().Name));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), QString::fromLatin1(GetParam().Caption));
    EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(GetParam().Shortcut)));
    EXPECT_EQ(a->isEnabled(), GetParam().Enabled);
    if (!GetParam().Enabled && std::string(GetParam().Name) != "Again1") {
        EXPECT_EQ(a->toolTip(), "Not available yet");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Items, MenuTest,
    ::testing::Values(MenuCase{"mnuOpenFile", "&Open File...", "Ctrl+O", true}, MenuCase{"mnuSaveAs", "Save &As...", "Ctrl+S", true},
                      MenuCase{"mnuSaveAsPDF", "Save As PD&F...", "", true},
                      MenuCase{"mnuSaveAsGraphic", "Save As &Graphic...", "Ctrl+G", true},
                      MenuCase{"mnuPrintSetup", "Print &Setup...", "", true}, MenuCase{"mnuPrint", "&Print", "Ctrl+P", true},
                      MenuCase{"mnuExit", "E&xit", "", true}, MenuCase{"AddAutoText1", "Add &Auto Text", "", true},
                      MenuCase{"ModifyReport1", "&Modify Report", "Ctrl+M", true}, MenuCase{"Find1", "&Find", "Ctrl+F", true},
                      MenuCase{"Again1", "&Again", "Ctrl+A", false}, MenuCase{"ZoomOut1", "Zoom &Out", "", true},
                      MenuCase{"NextPage1", "&Next Page", "", true}, MenuCase{"LastPage1", "&Last Page", "", true},
                      MenuCase{"Refresh1", "&Refresh", "F5", true}, MenuCase{"About1", "&About", "", true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GuiTest, AboutWindowShowsTheVersion)
{
    Start({Write(PagedReport(1))});
    W->actAbout->trigger();
    ASSERT_NE(W->AboutWindow, nullptr);
    EXPECT_TRUE(W->AboutWindow->isVisible());
    EXPECT_EQ(W->AboutWindow->lblTitle->text(), QStringLiteral("Quillard v%1.%2").arg(QUILLARD_VERSION_MAJOR).arg(QUILLARD_VERSION_MINOR));
    EXPECT_EQ(W->AboutWindow->lstVersion->item(0)->text(), "-- File Version Info --");
    EXPECT_TRUE(W->AboutWindow->lstVersion->item(2)->text().startsWith("FileVersion: " QUILLARD_VERSION));
    W->AboutWindow->cmdOk->click();
    EXPECT_FALSE(W->AboutWindow->isVisible());
}

TEST_F(GuiTest, PrintButtonWithoutAPrinterReportsAndLeavesThePreviewUsable)
{
    Start({Write(PagedReport(2))});
    W->cmdPrint->click();
    EXPECT_TRUE(HasMessage("Error Printing Document!", "printer"));
    EXPECT_FALSE(Ended);
    EXPECT_TRUE(W->cmdPrint->isEnabled());
    EXPECT_FALSE(W->PrintMode);
    EXPECT_TRUE(ShowsPage(1));
}

TEST_F(GuiTest, CloseAfterPrintEndsEvenWhenPrintingFailed)
{
    Start({Write(PagedReport(1))});
    W->CloseAfterPrint = true;
    W->DoPrint();
    EXPECT_TRUE(Ended);
    EXPECT_FALSE(W->isVisible());
}

}  // namespace
}  // namespace quillard::test
