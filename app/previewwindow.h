// The main window: one page of the report at a time as a white sheet with a
// drop shadow in a scrolling area, at a chosen zoom. It owns the renderer
// from its first activation to the end of the program, and runs start-up,
// paging, zoom, keys, dragging, printing and the end of the program.
#pragma once

#include "app/automationpresence.h"
#include "app/pagecache.h"
#include "app/previewsession.h"
#include "app/printoptionswindow.h"
#include "engine/renderer.h"
#include "surfaces/imagecanvas.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPainter;

namespace quillard {

class TAboutWindow;
class TAddTextWindow;
class TEditTextWindow;
class TFindWindow;
class TPrintOptionsWindow;
class TProgressWindow;
class TOpenDocumentWindow;
class TGaugeBar;
class TPreviewWindow;
class THttpClient;

// The page bitmap: a screen surface that the renderer owns while it draws
// on it. The window keeps a pointer to it and is told when it goes.
class TPageCanvas : public TImageCanvas {
public:
    TPageCanvas(int Width, int Height, int Dpi, TPreviewWindow* Owner);
    ~TPageCanvas() override;

private:
    TPreviewWindow* FOwner;
};

// The two arrows of a spin button; each click (held down, each repeat) is
// one step.
class TSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TSpinButton(QWidget* Parent = nullptr);
    QToolButton* UpButton = nullptr;
    QToolButton* DownButton = nullptr;
signals:
    void UpClick();
    void DownClick();
};

// The paint box of the page (PageView): paints the page bitmap and passes the
// mouse on to the window.
class TPageBox : public QWidget {
    Q_OBJECT
public:
    TPageBox(TPreviewWindow* Owner, QWidget* Parent);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;

private:
    TPreviewWindow* FOwner;
};

// The sheet's shadow: soft, a few pixels wide, darkest next to the sheet.
class TSheetShadow : public QWidget {
public:
    explicit TSheetShadow(QWidget* Parent);
    static constexpr int Blur = 6;                  // pixels from the sheet's edge to nothing
    static constexpr QPoint Offset = QPoint(1, 2);  // down and to the right of the sheet

protected:
    void paintEvent(QPaintEvent* Event) override;
};

// The number at the start of Text (at most INT_MAX), Default when it starts
// with no digit.
int LeadingNumber(const QString& Text, int Default);

class TPreviewWindow : public QMainWindow, public TPrintOptionsHost, private TPreviewSessionObserver {
    Q_OBJECT
public:
    // Params: the command-line parameters without the program name.
    explicit TPreviewWindow(std::vector<std::string> Params, QWidget* Parent = nullptr);
    ~TPreviewWindow() override;

    // What the window shows: the renderer, the report, the page, the zoom.
    TPreviewSession& Session() { return FSession; }
    const TPreviewSession& Session() const { return FSession; }

    // ---- start-up and the end of the program ---------------------------
    // The window's activation: the first one starts the program (windows,
    // settings, switches, renderer, report); every one handles "/PRINT".
    void FormActivate();
    void FormResize();
    void FormDestroy();
    // Hides the windows and ends the program unless a client started it.
    void QuitQuillard();
    // Deletes the report when "/D" asked for it, and the pictures the
    // report marked for deletion.
    void CleanUpFiles();
    // Ends the program with an exit code; the first code that is not 0
    // stays. In a process a client started, while clients remain, the user
    // is asked first; false when the end was called off.
    bool EndApplication(int Code);
    // Ends the program with an exit code without asking anyone: the system
    // asked for the end (a signal), or the bus that started the program is
    // gone.
    void EndWithoutAsking(int Code);
    // Makes what the automation interface needs before the first
    // activation has run: the progress window, the print options window
    // and the renderer. The start-up later takes them over.
    void EnsureEngine();
    // Whether nobody can answer windows (a server without a display): the
    // open-document window is not offered then.
    bool NobodyToAsk = false;
    // Asks "Automation Warning"; true to end anyway. Replaceable so that a
    // test can answer.
    std::function<bool()> ConfirmEndWithClients;
    // How many automation calls are being carried out (one inside another
    // while a call lets messages run). Nobody is at the window for them:
    // no window asks anything meanwhile.
    int ClientCallDepth = 0;

    // ---- the report and the page ---------------------------------------
    // Loads the report named in the session (fetching it first when it is a
    // web address) and shows its first page; true when it was loaded.
    bool LoadFile();
    // The work under way (a page pass, a print or PDF job, a fetch) and how
    // far it has come: Done of Total (bytes of the report, or pages of a
    // job). False when no such work is under way.
    bool WorkUnderWay(int& Done, int& Total) const;
    void Render();
    // ---- pages drawn ahead -----------------------------------------------------
    // The pages beside the one shown, drawn while nothing else happens, and
    // the pages drawn before, kept for the layout they were drawn in.
    TPageCache PageCache;
    // Draws the pages beside the one shown into the cache, one pass each,
    // when the window is idle; a key, a click or a client's call stops it.
    void DrawPagesAhead();
    void ScheduleDrawAhead();
    // Whether a page is being drawn ahead now (the page shown is painted
    // from its picture meanwhile).
    bool DrawingAhead() const { return FDrawingAhead; }
    int CountPages() override;
    // The count shown in the page box ("out of N") once the load has made
    // it; a count pass before that.
    int KnownPageCount() override;
    // The print options window was closed with OK (PrintOptionsTaken) or
    // cancelled (PrintOptionsLeft).
    void PrintOptionsTaken() override;
    void PrintOptionsLeft() override;
    void SetPaperSize();
    void Clear();
    void PageViewPaint(QPainter& Painter);
    // The page's pixels per inch in the window's pixels (the renderer's are
    // the screen's device pixels).
    double ScreenPpiX() const;
    double ScreenPpiY() const;
    // Takes the device pixel ratio of the screen the window is on: the page
    // is laid out and drawn again when it changed.
    void FollowPixelRatio();
    void DoPrint();
    void SetPrintMode(bool On);

    // ---- reports from a web server (previewweb.cpp) ---------------------
    // Fetches Url into a temporary file and loads it; true when the report
    // was retrieved and loaded.
    bool LoadFromWeb(const std::string& Url);
    void FinishedLoadFromWeb();
    void HttpClientDisconnected(int StatusCode, const std::string& Description);
    void HttpClientError(int ErrorCode, const std::string& Description);
    // The diagnostic button: fetches ExampleReportUrl.
    void cmdFetchExampleClick();
    THttpClient* HttpClient = nullptr;
    std::string ExampleReportUrl;

    // ---- keys -----------------------------------------------------------
    void HandleKey(int Key, Qt::KeyboardModifiers Shift);
    void HandleKeyDown(int Key, Qt::KeyboardModifiers Shift);
    void HandleKeyUp();
    void tmrKeyRepeatTimer();

    // ---- event handlers of the components ------------------------------
    void edtPageChange();
    void edtZoomChange();
    void spnPageNumUpClick();
    void spnPageNumDownClick();
    void spnZoomUpClick();
    // The zoom that shows the page's whole width (or the whole page) in the
    // window.
    void FitZoom(bool WholePage);
    static constexpr int MinZoom = 5, MaxFitZoom = 1000;
    static constexpr int PageMargin = 16;  // the workspace's pixels on each side of the sheet
    int FWheelZoom = 0;                    // wheel turns not yet a zoom step
    double FPinchZoom = 0;                 // the zoom a pinch has reached, unrounded (0: no pinch)
    void spnZoomDownClick();
    void PageViewMouseDown(QMouseEvent* Event);
    void PageViewMouseMove(QMouseEvent* Event);
    void PageViewMouseUp(QMouseEvent* Event);
    void LabelClick();
    void FirstPage1Click();
    void LastPage1Click();
    void QuillardDocumentation1Click();
    void About1Click();
    void cmdTestPatternClick();
    void cmdSetPaperSizeClick();
    void cmdRepaintClick();
    void cmdClearClick();
    void cmdViewStatsClick();
    void cmdShowPrintableClick();
    void cmdDemoRotateClick();
    void cmdRenderClick();
    // "Print &Setup...": the print options window.
    void PrintSetup1Click();

    // ---- whole-file commands ---------------------------------------------
    void OpenFile();
    void SaveAs();
    void SaveAsPDF();
    void SaveAsGraphic();
    void ModifyReport1Click();
    void Refresh1Click();
    // ---- find -------------------------------------------------------------
    void FindDialog();
    // Ends the search whose pages are found: its highlights go. False when
    // there is none.
    bool EndSearch();
    // Puts down the text or shape tool in hand; false when none is.
    bool CancelActiveTool();
    // The button of the tool in hand shows pressed, the others not.
    void ShowToolState();
    bool FindNext();

    // The text of the "Debug Information" box.
    std::string ViewStatsText() const;

    // ---- for the automation interface ------------------------------------------
    // Whether "Print", "Print Setup" or the print button can be used.
    bool PrintCommandsEnabled() const;
    // Shows or hides (and enables or disables) the print commands.
    void SetPrintCommandsEnabled(bool Value);
    // The page's scroll position; a value beyond the scroll bar's range goes
    // to its end.
    int ScrollPosition(Qt::Orientation Direction) const;
    void SetScrollPosition(Qt::Orientation Direction, int Value);
    // The progress window's gauge reset for a job (null while there is no
    // progress window).
    TGauge* FreshJobGauge();

    // The renderer lets the page bitmap go.
    void PageBitmapFreed(TPageCanvas* Canvas);
    // Brings the progress gauges up to date with the engine's counts; a
    // load's count tells its pages every CountTellMs.
    void SyncGauges();
    int CountTellMs = 100;

    // ---- AutoText and AutoShapes (previewtools.cpp) ----------------------
    void cmdAddTextClick();
    void AddAutoText1Click();
    void cmdEditTextClick();
    void cmdDrawLineClick();
    void cmdDrawBoxClick();
    void cmdDrawCircleClick();
    void cmdPickColorClick();
    void chkFilledClick();
    void cboWidthChange();
    // Places a text item where the left button was released (pixels within
    // PageView) on the current page.
    void AddTextAt(QPoint Release);
    // Writes the shape drawn from ShapeStart to ShapeEnd into the report.
    void WriteAutoShape();
    // Re-reads the report after a change and shows the page that was shown
    // when the report still has it.
    void RefreshReport();
    // The rubber band of the shape being drawn, on PageView.
    void PaintRubberBand(QPainter& Painter);
    QPoint ShapeStart{-1, -1}, ShapePrevEnd{-1, -1}, ShapeEnd{-1, -1};  // pixels from the sheet's corner
    TAddTextWindow* AddTextWindow = nullptr;
    TEditTextWindow* EditTextWindow = nullptr;

    // ---- fields ---------------------------------------------------------
    TPageCanvas* PageBitmap = nullptr;  // owned by the renderer while it holds it
    QString PrevPageText, PrevZoomText;
    bool PageDrawn = false;
    bool SuppressRender = false;
    bool RenderAgain = false;
    bool PrintMode = false;
    bool ExitOnEsc = true;
    bool CloseAfterPrint = false;
    bool PreviewSwitch = false;
    bool PrintSwitch = false;
    bool Dragging = false;
    QPoint GrabPoint;
    int GrabScrollX = 0, GrabScrollY = 0;
    bool AddTextPending = false, DrawLineMode = false, DrawBoxMode = false, DrawOvalMode = false;
    uint32_t DrawColor = 0;
    bool DrawFilled = false;
    int DrawWidth = 1;
    int LastKey = 0;
    Qt::KeyboardModifiers LastShift;
    bool KeyRepeating = false;
    std::chrono::steady_clock::time_point LabelClickTime;
    int LabelClickCount = 0;
    std::string SaveTextDir, SavePdfDir, SaveGraphicDir;
    std::string SaveTextFileName, SaveGraphicFileName, SavePdfFileName;
    // Opens a saved file with the desktop's program for it (the PDF viewer,
    // the picture program, the text editor); replaceable so that a test can
    // watch instead of starting programs.
    std::function<bool(const std::string&)> OpenWithDesktop;
    // Opens Path with the desktop's program for it; says so when none does.
    void OpenSavedFile(const std::string& Path);
    // "Open Dir" as read, kept when there is no open-document window.
    std::string OpenDir;

    bool FirstActivation = true;
    // Ends the program; replaceable so that a test can watch the end.
    std::function<void(int)> OnTerminate;

    std::vector<std::string> Params;
    // The automation server of the process (autoserver.h).
    std::unique_ptr<TAutomationPresence> AutomationServer;
    TOpenDocumentWindow* OpenDocumentWindow = nullptr;  // made by the program entry
    TProgressWindow* ProgressWindow = nullptr;
    TAboutWindow* AboutWindow = nullptr;
    TPrintOptionsWindow* PrintOptionsWindow = nullptr;  // made at the first activation
    TFindWindow* FindWindow = nullptr;                // made on first use

    // ---- components -----------------------------------------------------
    QWidget* PageToolbar = nullptr;
    QLabel* lblPage = nullptr;
    QLineEdit* edtPageNum = nullptr;
    TSpinButton* spnPageNum = nullptr;
    QLabel* lblPageCount = nullptr;
    QWidget* ZoomToolbar = nullptr;
    QLabel* ZoomLabel = nullptr;
    QLineEdit* edtZoom = nullptr;
    TSpinButton* spnZoom = nullptr;
    QLabel* lblPercent = nullptr;
    QWidget* DrawingToolbar = nullptr;
    QPushButton *cmdAddText = nullptr, *cmdEditText = nullptr, *cmdDrawLine = nullptr, *cmdDrawCircle = nullptr,
                *cmdDrawBox = nullptr, *cmdPickColor = nullptr;
    QCheckBox* chkFilled = nullptr;
    QComboBox* cboWidth = nullptr;
    QWidget* CommandToolbar = nullptr;
    QPushButton* cmdPrint = nullptr;
    QPushButton* cmdClose = nullptr;
    TGaugeBar* RenderGauge = nullptr;
    QScrollArea* ScrollArea = nullptr;
    QWidget* ScrollContent = nullptr;
    QWidget* shpShadow = nullptr;
    QLabel* lblSizer = nullptr;
    QWidget* shpNonPrintable = nullptr;
    TPageBox* PageView = nullptr;
    QStatusBar* StatusBar = nullptr;
    QTimer* tmrKeyRepeat = nullptr;
    QWidget* DiagnosticPanel = nullptr;
    QPushButton *cmdTestPattern = nullptr, *cmdSetPaperSize = nullptr, *cmdRepaint = nullptr, *cmdClear = nullptr,
                *cmdViewStats = nullptr, *cmdShowPrintable = nullptr, *cmdDemoRotate = nullptr, *cmdRender = nullptr,
                *cmdFetchExample = nullptr;

    QMenu *mnuFile = nullptr, *mnuEdit = nullptr, *mnuView = nullptr, *mnuHelp = nullptr;
    QAction *mnuOpenFile = nullptr, *mnuSepFile1 = nullptr, *mnuSaveAs = nullptr, *mnuSaveAsPDF = nullptr,
            *mnuSaveAsGraphic = nullptr, *mnuSepFile2 = nullptr, *mnuPrintSetup = nullptr, *mnuPrint = nullptr,
            *mnuSepFile3 = nullptr, *mnuExit = nullptr;
    QAction *actAddAutoText = nullptr, *actEditAutoText = nullptr, *actModifyReport = nullptr, *actFind = nullptr,
            *actFindAgain = nullptr;
    QAction *actFitPage = nullptr, *actFitWidth = nullptr, *actActualSize = nullptr;
    QAction *actZoomOut = nullptr, *actZoomIn = nullptr, *actPrevPage = nullptr, *actNextPage = nullptr,
            *actFirstPage = nullptr, *actLastPage = nullptr, *actSource = nullptr, *actRefresh = nullptr;
    QAction *actDocumentation = nullptr, *actAbout = nullptr;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    // ---- what the session tells ---------------------------------------------
    void PageChanged(int Page) override;
    void ZoomChanged(int Percent) override;
    void ZoomRefused() override;
    void PageCountChanged(int Count) override;
    void ReportLoaded(const std::string& FileName) override;

    // The page mouse while a tool is active; true when the event was the
    // tool's.
    bool ToolMouseDown(QMouseEvent* Event);
    bool ToolMouseMove(QMouseEvent* Event);
    bool ToolMouseUp(QMouseEvent* Event);
    void ConnectAutoTools();
    void SetDrawMode(bool& Mode);
    QPoint SheetPoint(QPoint PageViewPoint) const;
    // The widgets, panel by panel, then the layouts that place them and the
    // connections of their signals.
    void CreateComponents();
    void CreatePageToolbar(QWidget* Parent);
    void CreateZoomToolbar(QWidget* Parent);
    void CreateDrawingToolbar(QWidget* Parent);
    void CreateCommandToolbar(QWidget* Parent);
    void CreatePageArea(QWidget* Parent);
    void CreateDiagnosticPanel(QWidget* Parent);
    void ConnectComponents();
    TSpinButton* NewSpinButton(const char* Name, QWidget* Parent);
    void CreateHttpClient();
    void StopWebTransfer();
    void CreateMenus();
    // The window's icon, the theme's icons on the commands, the names a
    // screen reader says, and the order Tab goes through the toolbar.
    void ApplyIconsAndNames();
    bool StartUp();
    // Makes the renderer when there is none, on a screen surface at the
    // zoom, and hands it to the print options window.
    void SetUpRenderer();
    void FreeAndCleanUp();
    void ReadSettings();
    bool ApplySwitches();
    void NewPageBitmap();
    // SetPaperSize without its message: throws when the page cannot be
    // had at this zoom.
    void ApplyPaperSize();
    void SetPage(int Page);
    void ZoomTo(int Percent);
    // The renderer of the session (null before the start-up).
    tRenderer* Renderer() const { return FSession.Renderer(); }
    void ScrollBy(bool Horizontal, int Direction);
    void EndDrag();
    void ScheduleRender();
    void ShowPageCount();
    void SetSheetColour(const QColor& Colour);
    // The save dialog (SaveDialog1); the chosen name, empty when cancelled.
    std::string RunSaveDialog(const char* Title, const std::string& Dir, const std::string& Name,
                              const char* DefaultSuffix, const QStringList& Filters);

    TPreviewSession FSession;
    // Puts Text into the page or zoom box for a change of the session.
    void ShowInBox(QLineEdit* Box, const QString& Text);
    // LoadFile's work; FLoadDepth counts the loads under way, one inside
    // another for a fetch.
    bool LoadReportNow();
    int FLoadDepth = 0;
    // While a report loads the page box follows the session without drawing.
    bool FLoadingReport = false;
    // The change of the session comes from typing into a box.
    bool FTypedInBox = false;
    // A box is being given what the session holds.
    bool FShowingSession = false;
    bool FInFormActivate = false;
    bool FActivationPosted = false;
    bool FCounting = false;
    bool FCountShown = false;
    QElapsedTimer FCountTold;  // when the count last told its pages
    bool FDrawingAhead = false;
    bool FDrawAheadScheduled = false;
    QImage FShownWhileDrawingAhead;  // the page shown, while another is drawn ahead
    // The pages whose pass said something when drawn ahead, in the layout
    // of FQuietPagesKey: they are not drawn ahead again.
    std::vector<int> FSpeakingPages;
    std::optional<TPageCache::TKey> FQuietPagesKey;
    // The cache's key for the page drawn now; none without a report.
    std::optional<TPageCache::TKey> PageCacheKey();
    // Puts Picture on a fresh page bitmap; false when it does not fit it.
    bool ShowPicture(const QImage& Picture);
    bool FFollowingScreen = false;  // the load's count, told in the progress window
    bool FRenderScheduled = false;
    bool FRenderAfterPrint = false;
    bool FDragCursor = false;
    bool FDestroyed = false;
    bool FPrintSetupAvailable = false;
    bool FWebLoaded = false;
    std::vector<QObject*> FKeyTargets;
};

}  // namespace quillard
