#include "app/previewwindow.h"

#include "app/appicons.h"

#include "app/aboutwindow.h"
#include "app/opendocumentwindow.h"
#include "app/printoptionswindow.h"
#include "app/findwindow.h"
#include "app/progresswindow.h"
#include "app/qtservices.h"
#include "platform/settings.h"
#include "app/switches.h"
#include "app/webclient.h"
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/reportfiles.h"
#include "engine/services.h"
#include "platform/desktop.h"
#include "surfaces/imagecanvas.h"
#include "surfaces/namedoutput.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QUrl>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QLocale>
#include <QProcess>
#include <QScreen>
#include <QWindow>
#include <cstring>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard {

namespace {

// Where the sheet sits in the scrolling area.

// A page that cannot be had at the zoom asked for.
struct TOutOfResources : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// R(x) of the layout: x rounded to the nearest integer (halves to even).
int R(double x)
{
    if (!(x == x))
        return 0;
    return static_cast<int>(std::clamp<int64_t>(RoundHalfEven(std::clamp(x, -1e9, 1e9)), INT_MIN, INT_MAX));
}

// How long the reader of a client's output into a FIFO or socket may take
// nothing before the writing stops: meanwhile the other clients' calls that
// change something are refused as busy.
constexpr int ClientStalledOutputMs = 5000;

}  // namespace

TPageCanvas::TPageCanvas(int Width, int Height, int Dpi, TPreviewWindow* Owner)
    : TImageCanvas(Width, Height, Dpi, Dpi), FOwner(Owner)
{
}

TPageCanvas::~TPageCanvas()
{
    if (FOwner)
        FOwner->PageBitmapFreed(this);
}

// ---------------------------------------------------------------------------
// Creation

TPreviewWindow::TPreviewWindow(std::vector<std::string> AParams, QWidget* Parent)
    : QMainWindow(Parent), Params(std::move(AParams)), AutomationServer(MakeAutomationPresence(ParseStartSwitches(Params)))
{
    setObjectName("PreviewWindow");
    setWindowTitle(QStringLiteral("Quillard Previewer"));
    OnTerminate = [](int Code) { QCoreApplication::exit(Code); };
    OpenWithDesktop = [](const std::string& Path) { return OpenWithDesktopProgram(Path); };

    FSession.AddObserver(this);
    CreateComponents();
    CreateMenus();
    ConnectAutoTools();
    ApplyIconsAndNames();
    CreateHttpClient();

    // FormCreate: no report, no tools, tiny and out of sight until the first
    // activation.
    FSession.SetReportFileName({});
    AddTextPending = DrawLineMode = DrawBoxMode = DrawOvalMode = false;
    CloseAfterPrint = false;
    setGeometry(0, -50, 1, 1);

    // A PDF or picture written into a FIFO or socket whose reader is slow:
    // the window and the automation's other clients go on meanwhile (the
    // events run at every call of the hook, not at the page pass's pace).
    // The writing stops when the program ends, when a client's Close waits
    // for its turn, and for a client's call when the reader has taken
    // nothing for ClientStalledOutputMs.
    SetStreamWaitHook([this](int StalledMs, std::string& Reason) {
        QCoreApplication::processEvents();
        if (FSession.Terminated()) {
            Reason = "Quillard is ending";
            return false;
        }
        if (AutomationServer && AutomationServer->CloseWaiting()) {
            Reason = "The writing was stopped by a client's Close";
            return false;
        }
        if (ClientCallDepth > 0 && StalledMs >= ClientStalledOutputMs) {
            Reason = "The program reading it took nothing for " + std::to_string(ClientStalledOutputMs / 1000) +
                     " seconds";
            return false;
        }
        return true;
    });
}

TPreviewWindow::~TPreviewWindow()
{
    SetStreamWaitHook(nullptr);
    FormDestroy();
}

// ---------------------------------------------------------------------------
// Start-up

void TPreviewWindow::showEvent(QShowEvent* Event)
{
    QMainWindow::showEvent(Event);
    AutomationServer->CheckIdle();
    if (QWindow* handle = windowHandle(); handle && !FFollowingScreen) {
        // Moved to a screen of another scale, the page is drawn at its
        // pixels.
        FFollowingScreen = true;
        connect(handle, &QWindow::screenChanged, this, &TPreviewWindow::FollowPixelRatio, Qt::QueuedConnection);
    }
    QTimer::singleShot(0, this, &TPreviewWindow::FollowPixelRatio);
    // The first activation runs from the message loop once the window is up.
    if (FirstActivation && !FActivationPosted) {
        FActivationPosted = true;
        QTimer::singleShot(0, this, [this] {
            if (FirstActivation)
                FormActivate();
        });
    }
}

void TPreviewWindow::changeEvent(QEvent* Event)
{
    QMainWindow::changeEvent(Event);
    if (Event->type() == QEvent::ActivationChange && isActiveWindow() && !FirstActivation && !FSession.Terminated())
        FormActivate();
}

void TPreviewWindow::FormActivate()
{
    // Start-up lets messages run; an activation arriving then is part of it.
    if (FInFormActivate || FSession.Terminated())
        return;
    FInFormActivate = true;
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    } reset{FInFormActivate};

    if (FirstActivation) {
        FirstActivation = false;
        if (!StartUp() || FSession.Terminated())
            return;
    }

    // Every activation.
    LabelClickCount = 0;
    if (PrintOptionsWindow && PrintOptionsWindow->isVisible())
        PrintOptionsWindow->raise();
    if (PrintSwitch) {
        PrintSwitch = false;
        DoPrint();
        if (!PreviewSwitch && !FSession.Terminated())
            EndApplication(FSession.PrintFailed() ? 1 : 0);
    }
}

bool TPreviewWindow::StartUp()
{
    // (A client may have had them made already, before the window showed.)
    if (!ProgressWindow)
        ProgressWindow = new TProgressWindow(this);
    ProgressWindow->SetMessage("Initializing.");
    if (!PrintOptionsWindow)
        PrintOptionsWindow = new TPrintOptionsWindow(this, this);
    FPrintSetupAvailable = true;
    ProgressWindow->SetMessage("Initializing..");
    ProgressWindow->SetMessage("Initializing...");
    ProgressWindow->SetMessage("Initializing....");

    ExitOnEsc = true;
    FLoadingReport = true;
    FSession.ResetPage();
    FLoadingReport = false;
    PrevPageText = PrevZoomText = QStringLiteral("1");
    FSession.ClearFoundPages();
    SuppressRender = false;
    SaveTextFileName.clear();
    SaveGraphicFileName.clear();
    DrawColor = 0;
    DrawWidth = 1;
    DrawFilled = false;
    edtZoom->setText(QString::number(Globals().ZoomLevel));

    ReadSettings();
    if (NoOpenOrSave()) {
        for (QAction* a : {mnuOpenFile, mnuSepFile1, mnuSaveAs, mnuSaveAsGraphic, mnuSepFile2})
            a->setVisible(false);
    }

    PageDrawn = false;
    edtPageNum->setText(QString::number(FSession.CurrentPage()));

    if (!ApplySwitches())
        return false;

    // The documentation report beside the program.
    const QString programDir = QCoreApplication::applicationDirPath();
    if (UpperCase(FSession.ReportFileName()).find("QUILLARD.TXT") == std::string::npos &&
        QFileInfo(QDir(programDir).filePath(QStringLiteral("QUILLARD.TXT"))).isFile())
        actDocumentation->setVisible(true);

    try {
        if (!FSession.ReportFileName().empty())
            ProgressWindow->show();
        ProgressWindow->SetMessage("Initializing.....");
        QCoreApplication::processEvents();
        ProgressWindow->SetMessage("Initializing......");

        SetUpRenderer();

        setGeometry(x(), 0, 591, 395);
        // Without a window manager nobody maximises: take the screen's
        // working area ourselves as well.
        if (QScreen* s = screen())
            setGeometry(s->availableGeometry());
        showMaximized();
        FormResize();

        // A web address is fetched by LoadFile below, which then loads the
        // fetched report once.
        if (IsHttpAddress(FSession.ReportFileName()) && OpenDocumentWindow)
            OpenDocumentWindow->SelectedPath = FSession.ReportFileName();

        ProgressWindow->SetMessage("Initializing......");
        if (!LoadFile()) {
            // Cancelling the open-document window ends the program normally.
            EndApplication(FSession.ReportFileName().empty() ? 0 : 1);
            return false;
        }
        if (FSession.Terminated())
            return false;

        show();
        raise();
        activateWindow();
        edtPageNum->setFocus();
    } catch (const std::bad_alloc& e) {
        ShowMessage(std::string("Ran out of resources while loading Quillard") + "\r\n" + e.what(), "Error",
                    TMsgButtons::OKCancel);
        QCoreApplication::processEvents();
        EndApplication(1);
        return false;
    } catch (const std::exception& e) {
        ShowMessage(std::string("Error Loading Quillard") + "\r\n" + e.what(), "Error", TMsgButtons::OKCancel);
        QCoreApplication::processEvents();
        EndApplication(1);
        return false;
    }
    return true;
}

void TPreviewWindow::ReadSettings()
{
    const TUserSettings s = ReadUserSettings();
    if (s.ZoomLevel) {
        bool replaced = false;
        Globals().ZoomLevel = ParseZoomLevel(*s.ZoomLevel, Globals().ZoomLevel, &replaced);
        edtZoom->setText(FromBytes(*s.ZoomLevel));
        if (replaced)
            edtZoom->setText(QStringLiteral("70"));
    }
    if (s.SaveTxtDir)
        SaveTextDir = *s.SaveTxtDir;
    if (s.SavePdfDir)
        SavePdfDir = *s.SavePdfDir;
    if (s.SaveGraphicDir)
        SaveGraphicDir = *s.SaveGraphicDir;
    if (s.OpenDir) {
        OpenDir = *s.OpenDir;
        if (OpenDocumentWindow)
            OpenDocumentWindow->OpenDir = OpenDir;
    }
    if (s.ExitOnEsc)
        ExitOnEsc = SettingIsYes(*s.ExitOnEsc);
    ApplyDrawingSettings(s);
    // A renderer made before the settings were read takes them too.
    if (Renderer()) {
        Renderer()->LineEndChoice = Globals().LineEnds;
        Renderer()->PlainTextChoice = Globals().PlainText;
        if (!tRenderer::EncodingChoiceOf(Globals().ReportEncoding, Renderer()->EncodingChoice))
            Renderer()->EncodingChoice = tRenderer::TEncodingChoice::Auto;
    }
}

bool TPreviewWindow::ApplySwitches()
{
    const bool alone = Params.size() == 1;
    for (const std::string& p : Params) {
        switch (ClassifyParameter(p)) {
        case TSwitch::Delete:
            FSession.SetDeleteReportOnExit(true);
            break;
        case TSwitch::Register:
        case TSwitch::Unregister: {
            const bool reg = ClassifyParameter(p) == TSwitch::Register;
            if (alone)
                ProgressWindow->hide();
            std::string why;
            const bool ok = reg ? AutomationServer->Register(&why) : AutomationServer->Unregister(&why);
            if (reg)
                ShowMessage(ok ? "Register Server Successfull!" : "Register Server Not Successfull!", "");
            else
                ShowMessage(ok ? "Unregister Server Successfull!" : "Unregister Server Not Successfull!", "");
            if (alone) {
                EndApplication(ok ? 0 : 1);
                return false;
            }
            if (!ok)
                FSession.NoteExitCode(1);
            break;
        }
        case TSwitch::Preview:
            PreviewSwitch = true;
            break;
        case TSwitch::Print:
            PrintSwitch = true;
            break;
        case TSwitch::ReportPath:
            FSession.SetReportFileName(p);
            break;
        case TSwitch::Ignored:
            break;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// The end of the program

bool TPreviewWindow::EndApplication(int Code)
{
    if (!AutomationServer->StandAlone() && AutomationServer->ObjectCount() > 0) {
        // Inside a client's call nobody is there to answer: the program
        // stays for its clients.
        const bool endAnyway =
            ClientCallDepth == 0 &&
            (ConfirmEndWithClients
                 ? ConfirmEndWithClients()
                 : AskWarning("This application has been launched via Automation, and one or more clients "
                              "currently have references to this application.  This application should be closed "
                              "from a client, and manually closing this application will likely cause your client "
                              "application(s) to fail.\r\n\r\nAre you sure you want to close this application?",
                              "Automation Warning"));
        if (!endAnyway)
            return false;
    }
    EndWithoutAsking(Code);
    return true;
}

void TPreviewWindow::EndWithoutAsking(int Code)
{
    FSession.Terminate(Code);
    if (Renderer() && Renderer()->Rendering)
        Renderer()->Abort();
    StopWebTransfer();
    tmrKeyRepeat->stop();
    if (OnTerminate)
        OnTerminate(FSession.ExitCode());
}

void TPreviewWindow::EnsureEngine()
{
    if (!ProgressWindow)
        ProgressWindow = new TProgressWindow(this);
    if (!PrintOptionsWindow) {
        PrintOptionsWindow = new TPrintOptionsWindow(this, this);
        FPrintSetupAvailable = true;
    }
    if (!Renderer())
        SetUpRenderer();
}

void TPreviewWindow::SetUpRenderer()
{
    // One renderer serves the whole run; one a client had made before the
    // window showed keeps what the client set (the job title).
    FSession.MakeRenderer();
    FSession.SetPixelRatio(devicePixelRatioF());
    Renderer()->SetScale(FSession.ScaleFor(Globals().ZoomLevel));
    SetPaperSize();
    Clear();
    PrintOptionsWindow->Renderer = Renderer();
}

void TPreviewWindow::QuitQuillard()
{
    if (PrintOptionsWindow)
        PrintOptionsWindow->hide();
    if (ProgressWindow)
        ProgressWindow->hide();
    hide();
    if (AutomationServer->StandAlone())
        EndApplication(FSession.ExitCode());
    else
        AutomationServer->CheckIdle();
}

void TPreviewWindow::closeEvent(QCloseEvent* Event)
{
    // Closing by the frame ends the program (unless the user, asked about
    // the clients of an automation process, calls it off).
    if (!EndApplication(FSession.ExitCode())) {
        Event->ignore();
        return;
    }
    Event->accept();
    if (ProgressWindow)
        ProgressWindow->hide();
}

void TPreviewWindow::hideEvent(QHideEvent* Event)
{
    QMainWindow::hideEvent(Event);
    AutomationServer->CheckIdle();
}

void TPreviewWindow::CleanUpFiles()
{
    // (A web address stands for no file here.) A report named through a
    // link is the file the link leads to; the link stays.
    if (FSession.DeleteReportOnExit() && !IsHttpAddress(FSession.ReportFileName()))
        DeleteReportFile(FSession.ReportFileName());
    // The pictures the report marked for deletion (regular files only, and
    // none of a report that may not touch this computer's files).
    if (Renderer())
        CleanUpImageFiles(*Renderer());
}

void TPreviewWindow::FormDestroy()
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    try {
        FreeAndCleanUp();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error");
    }
    FSession.DropRenderer();
}

void TPreviewWindow::FreeAndCleanUp()
{
    tmrKeyRepeat->stop();
    if (FDragCursor) {
        QApplication::restoreOverrideCursor();
        FDragCursor = false;
    }
    if (Renderer()) {
        Renderer()->FreeCurrentSpan();
        // Frees the page bitmap.
        Renderer()->SetCanvas(std::make_unique<TImageCanvas>(1, 1, ScreenDpi, ScreenDpi));
    }
    PageBitmap = nullptr;
    CleanUpFiles();
    const std::string openDir = OpenDocumentWindow ? OpenDocumentWindow->OpenDir : OpenDir;
    WriteExitSettings(PathFromQ(edtZoom->text()), SaveTextDir, SaveGraphicDir, openDir);
}

// ---------------------------------------------------------------------------
// The report and the page

bool TPreviewWindow::LoadFile()
{
    ++FLoadDepth;
    const bool loaded = LoadReportNow();
    // The automation's clients hear once of a fetch and the load of what
    // it fetched, and nothing when no report was named.
    if (--FLoadDepth == 0 && AutomationServer && (loaded || !FSession.ReportFileName().empty()))
        AutomationServer->LoadEnded(loaded);
    return loaded;
}

bool TPreviewWindow::WorkUnderWay(int& Done, int& Total) const
{
    const tRenderer* r = FSession.Renderer();
    const bool job = r && (r->Printing || r->MakingPdf);
    const bool fetch = HttpClient && HttpClient->Busy();
    if (!job && !fetch && !(r && r->Rendering))
        return false;
    const TGauge* g = nullptr;
    if ((job || fetch) && ProgressWindow)
        g = &ProgressWindow->ProgressGauge->Gauge;
    else if (!job && !fetch && RenderGauge)
        g = &RenderGauge->Gauge;
    Total = g ? std::max(0, g->MaxValue) : 0;
    Done = g ? std::clamp(g->Progress, 0, Total) : 0;
    return true;
}

bool TPreviewWindow::LoadReportNow()
{
    PageDrawn = true;
    PageCache.Clear();
    if (!Renderer())
        return false;
    if (FSession.ReportFileName().empty() && OpenDocumentWindow && !NobodyToAsk && ClientCallDepth == 0) {
        if (OpenDocumentWindow->ShowModal() > 0)
            FSession.SetReportFileName(OpenDocumentWindow->SelectedPath);
    }
    if (IsHttpAddress(FSession.ReportFileName()))
        return LoadFromWeb(FSession.ReportFileName());
    if (FSession.ReportFileName().empty())
        return false;

    ProgressWindow->Loading();
    ProgressWindow->SetMessage("");
    if (!FSession.OpenReport(&ProgressWindow->ProgressGauge->Gauge)) {
        // The failure has been shown; a progress window left in its loading
        // state would keep the busy cursor.
        ProgressWindow->DoneLoading();
        return false;
    }
    ProgressWindow->ProgressGauge->Sync();
    ProgressWindow->SetMessage("Finishing...");
    // The passes move the rendering gauge a line at a time: the header scan
    // counted the lines.
    RenderGauge->Gauge.MaxValue = ProgressWindow->ProgressGauge->Gauge.MaxValue;

    // The page set-up of the report (its paper and the zoom) comes first:
    // the first page and the count are laid out on it.
    Renderer()->GetCapacities();
    edtZoom->setText(QString::number(Globals().ZoomLevel));
    FSession.SetPixelRatio(devicePixelRatioF());
    Renderer()->SetScale(FSession.ScaleFor(Globals().ZoomLevel));
    SetPaperSize();
    {
        // The page box follows without drawing: the page is drawn below.
        FLoadingReport = true;
        // Every report has a first page; the count tells the rest.
        FSession.SetPageCount(1);
        FSession.ResetPage();
        FLoadingReport = false;
        const QSignalBlocker block(edtPageNum);
        edtPageNum->setText(QStringLiteral("1"));
        PrevPageText = edtPageNum->text();
    }
    lblPageCount->setText(QStringLiteral("out of ..."));
    setWindowTitle(FromBytes(FSession.ReportFileName()) + QStringLiteral(" -- Quillard"));

    // The first page shows while the pages are counted: a pass that stops
    // after it takes the time of one page, the count the time of all.
    RenderAgain = false;
    if (!SuppressRender) {
        PageDrawn = false;
        Render();
        PageView->repaint();
        if (FSession.Terminated())
            return false;
    }
    ProgressWindow->SetMessage("Counting Pages...");
    FCountShown = true;
    FCountTold.invalidate();
    const int count = CountPages();
    FCountShown = false;
    if (FSession.Terminated())
        return false;
    FSession.SetPageCount(count);
    ShowPageCount();

    if (PrintOptionsWindow) {
        PrintOptionsWindow->spnSmall->setValue(Renderer()->Setup.Cpi17Size);
        PrintOptionsWindow->spnMedium->setValue(Renderer()->Setup.Cpi12Size);
        PrintOptionsWindow->spnLarge->setValue(Renderer()->Setup.Cpi10Size);
        PrintOptionsWindow->chkMono->setChecked(!Renderer()->Setup.ColourMode);
        PrintOptionsWindow->setWindowTitle(FromBytes(FSession.ReportFileName()) + QStringLiteral(" -- Quillard"));
    }

    RenderGauge->Gauge.MaxValue = ProgressWindow->ProgressGauge->Gauge.MaxValue;
    RenderGauge->Sync();
    // A page asked for while the count ran (a key, a click) is drawn now.
    if (RenderAgain && !SuppressRender)
        Render();
    ProgressWindow->DoneLoading();
    FSession.ReportWasLoaded();
    ScheduleDrawAhead();
    return true;
}

void TPreviewWindow::ShowPageCount() { lblPageCount->setText(QStringLiteral("out of ") + QString::number(FSession.PageCount())); }

void TPreviewWindow::NewPageBitmap()
{
    const int w = std::max(1, Renderer()->Metrics.PageWidthPx), h = std::max(1, Renderer()->Metrics.PageHeightPx);
    if (!FSession.PageFitsInMemory())
        throw TOutOfResources("The page would need " + std::to_string(w) + " x " + std::to_string(h) +
                              " pixels at this zoom: not enough memory");
    auto canvas = std::make_unique<TPageCanvas>(w, h, ScreenDpi, this);
    if (canvas->Image().isNull())
        throw TOutOfResources("Not enough memory for a page of " + std::to_string(w) + " x " + std::to_string(h) +
                              " pixels");
    PageBitmap = canvas.get();
    Renderer()->SetCanvas(std::move(canvas));
}

void TPreviewWindow::PageBitmapFreed(TPageCanvas* Canvas)
{
    if (PageBitmap == Canvas)
        PageBitmap = nullptr;
}

void TPreviewWindow::Render()
{
    PageDrawn = true;
    if (!Renderer() || IsBlank(FSession.ReportFileName()))
        return;
    setWindowTitle(FromBytes(Renderer()->FileName) + QStringLiteral(" -- Quillard Previewer"));
    if (Renderer()->Printing) {
        // The renderer draws on the printer now; the page follows the job.
        FRenderAfterPrint = true;
        return;
    }
    RenderAgain = true;
    if (Renderer()->Rendering) {
        // Asked again while a pass runs (from a key, a click or a paint
        // during the pass): the running call draws the latest page once the
        // pass has stopped. A count is left to finish; the load draws after
        // it.
        if (!FSession.Counting())
            Renderer()->Abort();
        return;
    }
    while (RenderAgain && !FSession.Terminated()) {
        RenderAgain = false;
        if (FSession.CurrentPage() < 1) {
            // A pass for page 0 would be a count, laying every page over the
            // others: the sheet stays empty.
            try {
                NewPageBitmap();
            } catch (const std::exception& e) {
                ShowMessage(e.what(), "x: Error Rendering " + FSession.ReportFileName() + FSession.AreaText());
            }
            Clear();
            RenderGauge->Fill();
            continue;
        }
        try {
            // A fresh bitmap for every pass: the zoom may have changed while
            // the previous pass ran.
            NewPageBitmap();
        } catch (const std::exception& e) {
            ShowMessage(e.what(), "x: Error Rendering " + FSession.ReportFileName() + FSession.AreaText());
            break;
        }
        Clear();
        // A page drawn before in this very layout shows as it was drawn.
        const int page = FSession.CurrentPage();
        const std::optional<TPageCache::TKey> key = PageCacheKey();
        if (key) {
            PageCache.KeepAround(page);
            if (const QImage* drawn = PageCache.Find(page, *key); drawn && ShowPicture(*drawn)) {
                RenderGauge->Fill();
                continue;
            }
        }
        const unsigned messages = MessagesShown();
        try {
            Renderer()->RenderPages(&RenderGauge->Gauge, page, nullptr, page);
        } catch (const std::exception& e) {
            Renderer()->Rendering = false;
            ShowMessage(e.what(), "x: Error Rendering " + FSession.ReportFileName() + FSession.AreaText());
        }
        Renderer()->Rendering = false;
        // A page whose pass said something is drawn again when shown again,
        // and says it again.
        if (key && !Renderer()->Pass.Aborted && !RenderAgain && MessagesShown() == messages && PageBitmap)
            PageCache.Put(page, *key, PageBitmap->Image().copy());
        RenderGauge->Fill();
    }
    RenderAgain = false;
    PageDrawn = true;
    PageView->update();
    ScheduleDrawAhead();
}

std::optional<TPageCache::TKey> TPreviewWindow::PageCacheKey()
{
    if (!Renderer())
        return std::nullopt;
    std::optional<TLayoutKey> layout = Renderer()->ViewKey();
    if (!layout)
        return std::nullopt;
    return TPageCache::TKey{std::move(*layout), Renderer()->TestPattern};
}

bool TPreviewWindow::ShowPicture(const QImage& Picture)
{
    QImage* bitmap = PageBitmap ? PageBitmap->DeviceContext()->Image() : nullptr;
    if (!bitmap || bitmap->size() != Picture.size() || bitmap->format() != Picture.format())
        return false;
    // The raster painter draws straight into the bitmap's rows: they are
    // written the same way.
    const qsizetype row = std::min(bitmap->bytesPerLine(), Picture.bytesPerLine());
    for (int y = 0; y < Picture.height(); ++y)
        std::memcpy(bitmap->scanLine(y), Picture.constScanLine(y), static_cast<size_t>(row));
    return true;
}

void TPreviewWindow::ScheduleDrawAhead()
{
    if (FDrawAheadScheduled || FDrawingAhead)
        return;
    FDrawAheadScheduled = true;
    QTimer::singleShot(0, this, [this] {
        FDrawAheadScheduled = false;
        DrawPagesAhead();
    });
}

namespace {

// The services while a page is drawn ahead: nobody is shown anything (a
// page whose pass has something to say is drawn again when it is shown,
// and says it then); a question stops the pass. Events still run.
class TQuietServices : public IUserServices {
public:
    TQuietServices(IUserServices& Inner, tRenderer& Renderer) : FInner(Inner), FRenderer(Renderer) {}
    bool Spoke = false;
    TMsgResult MessageBox(const std::string&, const std::string&, TMsgButtons Buttons) override
    {
        Spoke = true;
        if (Buttons == TMsgButtons::OK)
            return TMsgResult::OK;
        FRenderer.Abort();
        return Buttons == TMsgButtons::YesNo ? TMsgResult::No : TMsgResult::Cancel;
    }
    void ProcessMessages() override { FInner.ProcessMessages(); }
    void Beep() override {}

private:
    IUserServices& FInner;
    tRenderer& FRenderer;
};

}  // namespace

void TPreviewWindow::DrawPagesAhead()
{
    tRenderer* r = Renderer();
    if (!r || FDrawingAhead || FSession.Terminated() || r->Rendering || r->Printing || r->MakingPdf ||
        FSession.Counting() || PrintMode || !isVisible() || !PageDrawn || RenderAgain || ClientCallDepth > 0 ||
        !PageBitmap || FSession.PageCount() < 2 || QApplication::activeModalWidget())
        return;
    const int shown = FSession.CurrentPage();
    const std::optional<TPageCache::TKey> key = PageCacheKey();
    if (shown < 1 || !key)
        return;
    if (FQuietPagesKey != key) {
        FQuietPagesKey = key;
        FSpeakingPages.clear();
    }
    for (int page : {shown + 1, shown - 1}) {
        if (page < 1 || page > FSession.PageCount() || PageCache.Find(page, *key) ||
            std::find(FSpeakingPages.begin(), FSpeakingPages.end(), page) != FSpeakingPages.end())
            continue;
        if (PageBitmap->Image().sizeInBytes() > TPageCache::MaxPageBytes)
            return;
        // The page shown stays on the screen while the other is drawn on a
        // bitmap of its own; what the pass changes beyond its page (the
        // last failure, the pictures to delete) is put back.
        FShownWhileDrawingAhead = PageBitmap->Image().copy();
        FDrawingAhead = true;
        const std::string lastError = Globals().LastErrorMessage;
        const TFailureKind lastFailure = Globals().LastFailure;
        const std::vector<TPictureToDelete> toDelete = r->ImagesToDelete;
        const std::string report = r->FileName;
        IUserServices& services = UserServices();
        TQuietServices quiet(services, *r);
        bool drawn = false;
        SetUserServices(&quiet);
        try {
            NewPageBitmap();
            Clear();
            TGauge unseen;
            r->RenderPages(&unseen, page, nullptr, page);
            drawn = !r->Pass.Aborted;
        } catch (const std::exception&) {
            drawn = false;
        }
        SetUserServices(&services);
        r->Rendering = false;
        Globals().LastErrorMessage = lastError;
        Globals().LastFailure = lastFailure;
        if (r->FileName == report)
            r->ImagesToDelete = toDelete;  // (another report opened meanwhile keeps its own list)
        const bool sameLayout = drawn && PageBitmap && PageCacheKey() == key;
        if (sameLayout && !quiet.Spoke)
            PageCache.Put(page, *key, PageBitmap->Image().copy());
        else if (sameLayout)
            FSpeakingPages.push_back(page);  // drawn when it is shown, and not ahead again
        // The page shown back on the page bitmap.
        bool restored = false;
        try {
            NewPageBitmap();
            restored = ShowPicture(FShownWhileDrawingAhead);
        } catch (const std::exception&) {
            restored = false;
        }
        FDrawingAhead = false;
        FShownWhileDrawingAhead = QImage();
        if (!restored) {
            // (The zoom changed meanwhile.) The page is drawn anew.
            PageDrawn = false;
            RenderAgain = false;
            Render();
            return;
        }
        PageView->update();
        if (RenderAgain && !FSession.Terminated()) {
            // Another page was asked for while this one was drawn ahead.
            Render();
            return;
        }
        if (!sameLayout || FSession.CurrentPage() != shown || FSession.Terminated())
            return;
    }
}

int TPreviewWindow::KnownPageCount()
{
    if (Renderer() && !FSession.Counting() && FSession.PageCount() > 0 &&
        Renderer()->FileName == FSession.ReportFileName())
        return FSession.PageCount();
    return CountPages();
}

int TPreviewWindow::CountPages()
{
    if (!Renderer() || IsBlank(FSession.ReportFileName()))
        return 0;
    if (Renderer()->Rendering || Renderer()->Printing)
        return FSession.PageCount();  // no pass within a pass
    int count = 0;
    try {
        // A count draws nothing: it lays the pages out on the page bitmap
        // shown (the page starts it notes hold for the passes that draw on
        // it), which keeps its picture.
        if (!PageBitmap)
            NewPageBitmap();
        count = FSession.CountPages(&RenderGauge->Gauge);
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "x: Error Counting Pages " + FSession.ReportFileName() + FSession.AreaText());
        count = 0;
    }
    RenderGauge->Fill();
    return count;
}

void TPreviewWindow::Clear()
{
    if (PageBitmap) {
        TRenderingCanvas& c = *PageBitmap;
        const TBrush saved = c.Brush;
        c.Brush.Color = clWhite;
        c.Brush.Style = bsSolid;
        c.FillRect({0, 0, PageBitmap->Image().width(), PageBitmap->Image().height()});
        c.Brush = saved;
    }
    PageView->update();
}

void TPreviewWindow::SetSheetColour(const QColor& Colour)
{
    QPalette pal = shpNonPrintable->palette();
    if (pal.color(QPalette::Window) == Colour)
        return;
    pal.setColor(QPalette::Window, Colour);
    shpNonPrintable->setPalette(pal);
}

void TPreviewWindow::ScheduleRender()
{
    // Painting does not draw the page itself: a pass lets messages run, and
    // a paint must not. The page is drawn as soon as the paint is over.
    if (FRenderScheduled)
        return;
    FRenderScheduled = true;
    QTimer::singleShot(0, this, [this] {
        FRenderScheduled = false;
        if (!PageDrawn && !FSession.Terminated())
            Render();
    });
}

void TPreviewWindow::PageViewPaint(QPainter& Painter)
{
    if (Renderer()) {
        SetSheetColour(Renderer()->TestPattern ? QColor(0, 128, 128) : QColor(Qt::white));
        if ((!ProgressWindow || ProgressWindow->isHidden()) && !PageDrawn)
            ScheduleRender();
    }
    Painter.fillRect(PageView->rect(), Qt::white);
    if (PageBitmap) {
        // The bitmap holds a device pixel for each of the screen's: it is
        // drawn one to one into the page box's logical size. While a page
        // is drawn ahead, the page shown is painted from its picture.
        const QImage& page = FDrawingAhead ? FShownWhileDrawingAhead : PageBitmap->Image();
        const double ratio = FSession.PixelRatio();
        if (ratio == 1)
            Painter.drawImage(0, 0, page);
        else
            Painter.drawImage(QRectF(0, 0, page.width() / ratio, page.height() / ratio), page);
    }
    PaintRubberBand(Painter);
}

double TPreviewWindow::ScreenPpiX() const
{
    return Renderer() ? Renderer()->Metrics.PixelsPerInchX / FSession.PixelRatio() : ScreenDpi;
}

double TPreviewWindow::ScreenPpiY() const
{
    return Renderer() ? Renderer()->Metrics.PixelsPerInchY / FSession.PixelRatio() : ScreenDpi;
}

void TPreviewWindow::FollowPixelRatio()
{
    if (!Renderer() || FSession.Terminated())
        return;
    if (!FSession.SetPixelRatio(devicePixelRatioF()))
        return;
    SetPaperSize();
    Clear();
    Render();
}

void TPreviewWindow::SetPaperSize()
{
    if (!Renderer())
        return;
    try {
        ApplyPaperSize();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error Getting Paper Size");
    }
}

void TPreviewWindow::ApplyPaperSize()
{
    const int w = std::max(1, Renderer()->Metrics.PageWidthPx), h = std::max(1, Renderer()->Metrics.PageHeightPx);
    if (!FSession.PageFitsInMemory())
        throw TOutOfResources("The page would need " + std::to_string(w) + " x " + std::to_string(h) +
                              " pixels at this zoom: not enough memory");
    // While a pass draws, its bitmap stays; the pass that follows takes one
    // of the new size.
    if (!Renderer()->Rendering && !Renderer()->Printing &&
        (!PageBitmap || PageBitmap->Image().width() != w || PageBitmap->Image().height() != h))
        NewPageBitmap();

    // The widgets in the window's pixels; the bitmap in the screen's.
    const double ppiX = ScreenPpiX(), ppiY = ScreenPpiY();
    const double mX = Renderer()->Metrics.LeftOffset, mY = Renderer()->Metrics.TopOffset;
    const double ratio = FSession.PixelRatio();
    PageView->resize(static_cast<int>(std::ceil(w / ratio)), static_cast<int>(std::ceil(h / ratio)));
    const int sheetW = PageView->width() + R(mX * 2 * ppiX), sheetH = PageView->height() + R(mY * 2 * ppiY);
    // The sheet with a margin of the workspace on every side; the scrolling
    // area centres it when it is smaller than the window. Its shadow lies
    // under it, a little down and to the right.
    const int m = PageMargin;
    shpNonPrintable->setGeometry(m, m, sheetW, sheetH);
    PageView->move(R(mX * ppiX) + m, R(mY * ppiY) + m);
    shpShadow->setGeometry(shpNonPrintable->geometry().adjusted(-TSheetShadow::Blur, -TSheetShadow::Blur,
                                                                TSheetShadow::Blur, TSheetShadow::Blur)
                               .translated(TSheetShadow::Offset));
    const int right = sheetW + 2 * m, bottom = sheetH + 2 * m;
    lblSizer->setGeometry(right - 1, bottom - 1, 1, 1);
    ScrollContent->resize(right, bottom);
    PageView->raise();
}

// ---------------------------------------------------------------------------
// What the session tells

void TPreviewWindow::ShowInBox(QLineEdit* Box, const QString& Text)
{
    if (Box->text() == Text)
        return;
    // What was typed into the box is put right quietly; a change from
    // elsewhere is seen by whoever watches the box.
    if (FTypedInBox || FLoadingReport) {
        const QSignalBlocker block(Box);
        Box->setText(Text);
        return;
    }
    FShowingSession = true;
    Box->setText(Text);
    FShowingSession = false;
}

void TPreviewWindow::PageChanged(int Page)
{
    ShowInBox(edtPageNum, QString::number(Page));
    PrevPageText = edtPageNum->text();
    if (FLoadingReport)
        return;
    Clear();
    Render();
}

void TPreviewWindow::ZoomChanged(int Percent)
{
    ShowInBox(edtZoom, QString::number(Percent));
    if (Renderer()) {
        // Throws when the page cannot be had at this zoom: the session goes
        // back to the zoom before.
        ApplyPaperSize();
        Clear();
        Render();
    }
    PrevZoomText = edtZoom->text();
}

void TPreviewWindow::ZoomRefused()
{
    // Not enough memory for the page at this zoom: back to the previous one.
    SetPaperSize();
    {
        const QSignalBlocker block(edtZoom);
        edtZoom->setText(PrevZoomText);
    }
    FSession.NoteZoom(LeadingNumber(PrevZoomText, 100));
    Clear();
    Render();
    MessageBeep();
}

void TPreviewWindow::PageCountChanged(int) { ShowPageCount(); }

void TPreviewWindow::ReportLoaded(const std::string&) {}

void TPreviewWindow::SetPage(int Page) { FSession.SetCurrentPage(Page); }

void TPreviewWindow::ZoomTo(int Percent) { FSession.SetZoom(Percent); }

// ---------------------------------------------------------------------------
// Printing

void TPreviewWindow::DoPrint()
{
    if (Renderer() && Renderer()->Rendering && !Renderer()->Printing) {
        // Asked while the preview draws (through the message pump): a job
        // started inside that pass would pull its page from under it. The
        // pass stops, and the job starts once it has.
        Renderer()->Abort();
        QTimer::singleShot(0, this, [this] {
            if (!FSession.Terminated())
                DoPrint();
        });
        return;
    }
    if (Renderer()) {
        if (ProgressWindow)
            ProgressWindow->ProgressGauge->Reset();
        cmdPrint->setEnabled(false);
        mnuPrint->setEnabled(false);
        SetPrintMode(true);
        FSession.SetPrintFailed(false);
        try {
            // The job shows its own failures.
            if (!Renderer()->Print(ProgressWindow ? &ProgressWindow->ProgressGauge->Gauge : nullptr))
                FSession.SetPrintFailed(true);
        } catch (const std::exception& e) {
            FSession.SetPrintFailed(true);
            ShowMessage(e.what(), "Error Printing");
        }
        SyncGauges();
    } else {
        FSession.SetPrintFailed(true);
    }
    if (CloseAfterPrint) {
        QuitQuillard();
    } else if (!FSession.Terminated()) {
        // The window comes to the front again as it was (hiding and showing
        // it lost a maximised window's state on some desktops).
        if (isVisible()) {
            raise();
            activateWindow();
        }
        SetPrintMode(false);
        if (FRenderAfterPrint) {
            // The page was changed while the job ran.
            FRenderAfterPrint = false;
            Render();
        }
    }
}

void TPreviewWindow::SetPrintMode(bool On)
{
    if (!Renderer())
        return;
    if (PrintMode && !On)
        Renderer()->Abort();
    PrintMode = On;
    if (ProgressWindow) {
        if (On)
            ProgressWindow->Printing();
        else
            ProgressWindow->DonePrinting();
    }
    mnuPrintSetup->setEnabled(!On && FPrintSetupAvailable);
    for (QWidget* w : {static_cast<QWidget*>(cmdPrint), static_cast<QWidget*>(edtZoom), static_cast<QWidget*>(spnZoom),
                       static_cast<QWidget*>(edtPageNum), static_cast<QWidget*>(spnPageNum)})
        w->setEnabled(!On);
    mnuPrint->setEnabled(!On);
}

// ---------------------------------------------------------------------------
// Gauges

void TPreviewWindow::SyncGauges()
{
    RenderGauge->Sync();
    if (FCountShown && FSession.Counting() && Renderer() && ProgressWindow &&
        (!FCountTold.isValid() || FCountTold.elapsed() >= CountTellMs)) {
        // The count of a load tells how far it has come, ten times a
        // second: the progress window's gauge moves with the lines read, and
        // the pages laid out so far show there and in the page box.
        FCountTold.start();
        ProgressWindow->ProgressGauge->Gauge = RenderGauge->Gauge;
        const QString pages = QLocale(QLocale::English).toString(std::max(1, Renderer()->CurrentPage));
        ProgressWindow->SetMessage("Counting Pages... " + pages.toStdString());
        lblPageCount->setText(QStringLiteral("out of ") + pages + QStringLiteral("..."));
    }
    if (ProgressWindow)
        ProgressWindow->ProgressGauge->Sync();
}

// ---------------------------------------------------------------------------
// Help

void TPreviewWindow::QuillardDocumentation1Click()
{
    const QString dir = QCoreApplication::applicationDirPath();
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {QDir(dir).filePath(QStringLiteral("QUILLARD.TXT"))},
                            dir);
}

void TPreviewWindow::About1Click()
{
    if (!AboutWindow)
        AboutWindow = new TAboutWindow(this);
    AboutWindow->show();
    AboutWindow->raise();
}

// ---------------------------------------------------------------------------
// Diagnostics

void TPreviewWindow::LabelClick()
{
    const auto now = std::chrono::steady_clock::now();
    if (LabelClickCount > 0 && now - LabelClickTime <= std::chrono::milliseconds(600))
        ++LabelClickCount;
    else
        LabelClickCount = 1;
    LabelClickTime = now;
    if (LabelClickCount >= 3) {
        LabelClickCount = 0;
        DiagnosticPanel->setVisible(!DiagnosticPanel->isVisible());
        DiagnosticPanel->raise();
    }
}

void TPreviewWindow::cmdTestPatternClick()
{
    if (!Renderer())
        return;
    try {
        Renderer()->ToggleTestPattern();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "DrawTestPattern");
    }
    PageView->update();
    shpNonPrintable->update();
}

void TPreviewWindow::cmdSetPaperSizeClick()
{
    SetPaperSize();
    PageView->update();
}

void TPreviewWindow::cmdRepaintClick() { ScrollArea->viewport()->repaint(); }

void TPreviewWindow::cmdClearClick() { Clear(); }

std::string TPreviewWindow::ViewStatsText() const
{
    auto num = [](double v) {
        QString s = QString::number(v, 'f', 2);
        return s.toStdString();
    };
    std::string t;
    t += "Position of Image:\r\n";
    t += "  Top: " + std::to_string(PageView->y()) + "  Left: " + std::to_string(PageView->x()) +
         "  Height: " + std::to_string(PageView->height()) + "  Width: " + std::to_string(PageView->width()) + "\r\n";
    if (Renderer())
        t += "  Pixels per inch: " + num(Renderer()->Metrics.PixelsPerInchX) + " x " + num(Renderer()->Metrics.PixelsPerInchY) + "\r\n";
    t += "Size of Invisible Bitmap:\r\n";
    if (PageBitmap)
        t += "  " + std::to_string(PageBitmap->Image().width()) + " x " + std::to_string(PageBitmap->Image().height()) +
             "\r\n";
    else
        t += "  none\r\n";
    t += "Position of Shadow:\r\n";
    t += "  Top: " + std::to_string(shpShadow->y()) + "  Left: " + std::to_string(shpShadow->x()) +
         "  Height: " + std::to_string(shpShadow->height()) + "  Width: " + std::to_string(shpShadow->width()) + "\r\n";
    if (Renderer()) {
        const tRenderer& r = *Renderer();
        const double heightIn = r.Metrics.PrintableHeight, widthIn = r.Metrics.PrintableWidth;
        t += "Printer Attributes:=\r\n";
        t += "  Page height: " + num(heightIn * r.Metrics.DpiY) + " pixels (" + num(heightIn) + " in)\r\n";
        t += "  Page width: " + num(widthIn * r.Metrics.DpiX) + " pixels (" + num(widthIn) + " in)\r\n";
        t += "  Non-printable left: " + num(r.Metrics.OffsetXPx) + " pixels (" + num(r.Metrics.LeftOffset) + " in)\r\n";
        t += "  Non-printable top: " + num(r.Metrics.OffsetYPx) + " pixels (" + num(r.Metrics.TopOffset) + " in)\r\n";
        t += "  Printer pixels per inch: " + num(r.Metrics.DpiX) + " x " + num(r.Metrics.DpiY) + "\r\n";
    }
    constexpr int TEXTCAPS = 34, BITSPIXEL = 12, SIZEPALETTE = 104;
    t += "Printer Capacitites:\r\n";
    try {
        t += "  Text capabilities: " + std::to_string(Printer().GetDeviceCaps(TEXTCAPS)) +
             "  Palette: " + std::to_string(Printer().GetDeviceCaps(SIZEPALETTE)) +
             "  Bits per pixel: " + std::to_string(Printer().GetDeviceCaps(BITSPIXEL)) + "\r\n";
    } catch (const std::exception& e) {
        t += std::string("  ") + e.what() + "\r\n";
    }
    if (AutomationServer->Exists())
        t += "Objects dependent on me: " + std::to_string(AutomationServer->ObjectCount());
    else
        t += "COM Server is not initialized.";
    return t;
}

void TPreviewWindow::cmdViewStatsClick() { ShowMessage(ViewStatsText(), "Debug Information"); }

void TPreviewWindow::cmdShowPrintableClick()
{
    if (!Renderer())
        return;
    try {
        Renderer()->DrawPrintableArea();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Show Printable");
    }
    PageView->update();
}

void TPreviewWindow::cmdDemoRotateClick()
{
    if (!Renderer() || !Renderer()->Canvas)
        return;
    TRenderingCanvas& c = *Renderer()->Canvas;
    const TFont savedFont = c.Font;
    const TBrush savedBrush = c.Brush;
    const int cx = Renderer()->Metrics.PageWidthPx / 2, cy = Renderer()->Metrics.PageHeightPx / 2;
    const double pi = 3.14159265358979;
    try {
        c.Brush.Style = bsClear;
        for (int i = 0; i <= 40; ++i) {
            c.Font.Name = "Arial";
            c.Font.Size = std::max(1, static_cast<int>(RoundHalfEven((8 + i * 0.5) * Renderer()->GetScale())));
            c.Font.Style = 0;
            // From blue through purple to red.
            const uint32_t red = static_cast<uint32_t>(i * 255 / 40), blue = 255 - red;
            c.Font.Color = PaletteFlag | (blue << 16) | red;
            c.FontChanged();
            c.SetFontAngle(i * 2 * pi / 40);
            c.TextOut(cx, cy, "Rotated Text");
        }
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Demo Rotated Text");
    }
    c.Font = savedFont;
    c.Brush = savedBrush;
    c.FontChanged();
    PageView->update();
}

void TPreviewWindow::cmdRenderClick() { Render(); }

void TPreviewWindow::PrintOptionsTaken()
{
    SetPaperSize();
    show();
    Render();
}

void TPreviewWindow::PrintOptionsLeft() { show(); }

// ---------------------------------------------------------------------------
// For the automation interface

bool TPreviewWindow::PrintCommandsEnabled() const
{
    return cmdPrint->isEnabled() || mnuPrint->isEnabled() || mnuPrintSetup->isEnabled();
}

void TPreviewWindow::SetPrintCommandsEnabled(bool Value)
{
    cmdPrint->setVisible(Value);
    cmdPrint->setEnabled(Value);
    mnuPrint->setVisible(Value);
    mnuPrint->setEnabled(Value);
    mnuPrintSetup->setVisible(Value);
    mnuPrintSetup->setEnabled(Value);
}

int TPreviewWindow::ScrollPosition(Qt::Orientation Direction) const
{
    const QScrollBar* bar =
        Direction == Qt::Vertical ? ScrollArea->verticalScrollBar() : ScrollArea->horizontalScrollBar();
    return bar->value();
}

void TPreviewWindow::SetScrollPosition(Qt::Orientation Direction, int Value)
{
    QScrollBar* bar = Direction == Qt::Vertical ? ScrollArea->verticalScrollBar() : ScrollArea->horizontalScrollBar();
    bar->setValue(Value);
}

TGauge* TPreviewWindow::FreshJobGauge()
{
    if (!ProgressWindow)
        return nullptr;
    ProgressWindow->ProgressGauge->Reset();
    return &ProgressWindow->ProgressGauge->Gauge;
}

}  // namespace quillard
