#include "app/previewwindow.h"

#include "app/aboutwindow.h"
#include "app/opendocumentwindow.h"
#include "app/printoptionswindow.h"
#include "app/findwindow.h"
#include "app/flowlayout.h"
#include "app/progresswindow.h"
#include "app/qtservices.h"
#include "platform/settings.h"
#include "app/switches.h"
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/reportfiles.h"
#include "engine/services.h"
#include "platform/desktop.h"
#include "surfaces/imagecanvas.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QUrl>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>
#include <QValidator>
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
constexpr int SheetLeft = 8;
constexpr int SheetTop = 8;
const char* const NotAvailable = "Not available yet";

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

bool IsLetterCommand(const QString& Text)
{
    const QString t = Text.toUpper();
    return t == QLatin1String("F") || t == QLatin1String("G") || t == QLatin1String("L") || t == QLatin1String("N") ||
           t == QLatin1String("A");
}

QString OnlyDigits(const QString& Text)
{
    QString out;
    for (QChar c : Text)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            out += c;
    return out;
}

// The number in a text of digits, at most INT_MAX.
int DigitsValue(const QString& Digits)
{
    long long v = 0;
    for (QChar c : Digits) {
        v = v * 10 + (c.unicode() - '0');
        if (v > INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(v);
}

// Limits what the user types to a number of characters; texts the program
// puts in the box are not limited.
class TMaxLengthValidator : public QValidator {
public:
    TMaxLengthValidator(int MaxLength, QObject* Parent) : QValidator(Parent), FMax(MaxLength) {}
    State validate(QString& Input, int&) const override { return Input.size() <= FMax ? Acceptable : Invalid; }

private:
    int FMax;
};

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
// Small components

TSpinButton::TSpinButton(QWidget* Parent) : QWidget(Parent)
{
    UpButton = new QToolButton(this);
    UpButton->setArrowType(Qt::UpArrow);
    UpButton->setAutoRepeat(true);
    UpButton->setFocusPolicy(Qt::NoFocus);
    DownButton = new QToolButton(this);
    DownButton->setArrowType(Qt::DownArrow);
    DownButton->setAutoRepeat(true);
    DownButton->setFocusPolicy(Qt::NoFocus);
    // The two arrows share the height of the box beside them.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    for (QToolButton* b : {UpButton, DownButton}) {
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        b->setMinimumSize(8, 6);
        column->addWidget(b);
    }
    connect(UpButton, &QToolButton::clicked, this, &TSpinButton::UpClick);
    connect(DownButton, &QToolButton::clicked, this, &TSpinButton::DownClick);
}

TPageBox::TPageBox(TPreviewWindow* Owner, QWidget* Parent) : QWidget(Parent), FOwner(Owner)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::OpenHandCursor);
    // Moves without a button reach the window too: a drag whose button was
    // let go elsewhere ends at the next move.
    setMouseTracking(true);
}

void TPageBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    FOwner->PageViewPaint(p);
}

void TPageBox::mousePressEvent(QMouseEvent* Event) { FOwner->PageViewMouseDown(Event); }
void TPageBox::mouseMoveEvent(QMouseEvent* Event) { FOwner->PageViewMouseMove(Event); }
void TPageBox::mouseReleaseEvent(QMouseEvent* Event) { FOwner->PageViewMouseUp(Event); }

// ---------------------------------------------------------------------------
// Creation

TPreviewWindow::TPreviewWindow(std::vector<std::string> AParams, QWidget* Parent)
    : QMainWindow(Parent), Params(std::move(AParams)), AutomationServer(MakeAutomationPresence(ParseStartSwitches(Params)))
{
    setObjectName("PreviewWindow");
    setWindowTitle(QStringLiteral("Quillard Previewer"));
    OnTerminate = [](int Code) { QCoreApplication::exit(Code); };
    OpenWithDesktop = [](const std::string& Path) { OpenWithDesktopProgram(Path); };

    FSession.AddObserver(this);
    CreateComponents();
    CreateMenus();
    ConnectAutoTools();
    CreateHttpClient();

    // FormCreate: no report, no tools, tiny and out of sight until the first
    // activation.
    FSession.SetReportFileName({});
    AddTextPending = DrawLineMode = DrawBoxMode = DrawOvalMode = false;
    CloseAfterPrint = false;
    setGeometry(0, -50, 1, 1);
}

TPreviewWindow::~TPreviewWindow() { FormDestroy(); }

void TPreviewWindow::CreateComponents()
{
    auto* central = new QWidget(this);
    central->setObjectName("ClientArea");
    setCentralWidget(central);

    auto label = [](const char* Name, const char* Caption, QWidget* Parent) {
        auto* l = new QLabel(QString::fromLatin1(Caption), Parent);
        l->setObjectName(Name);
        return l;
    };
    // A panel of the strip above the page: its controls side by side.
    auto panel = [&](const char* Name) {
        auto* p = new QFrame(central);
        p->setObjectName(Name);
        p->setFrameShape(QFrame::StyledPanel);
        auto* row = new QHBoxLayout(p);
        row->setContentsMargins(3, 1, 3, 1);
        row->setSpacing(2);
        return p;
    };
    auto add = [](QWidget* Panel, QWidget* W, Qt::Alignment Align = {}) {
        static_cast<QHBoxLayout*>(Panel->layout())->addWidget(W, 0, Align);
    };
    auto unavailable = [](QWidget* W) {
        W->setEnabled(false);
        W->setToolTip(QString::fromLatin1(NotAvailable));
    };
    // Boxes and buttons as wide as their text in the window's font, with a
    // little room either side.
    const QFontMetrics fm = fontMetrics();
    auto boxWidth = [&](const char* Widest) {
        return fm.horizontalAdvance(QString::fromLatin1(Widest)) + fm.averageCharWidth() + 4;
    };
    auto compact = [&](QPushButton* B, int Padding) {
        B->setFixedWidth(std::max(fm.horizontalAdvance(B->text()) + Padding, fm.height() + 8));
    };
    auto spin = [&](const char* Name, QWidget* Parent) {
        auto* s = new TSpinButton(Parent);
        s->setObjectName(Name);
        s->setFixedWidth(style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2);
        return s;
    };

    // Page selector.
    PageToolbar = panel("Panel1");
    lblPage = label("lblPage", "Page", PageToolbar);
    edtPageNum = new QLineEdit(QStringLiteral("1"), PageToolbar);
    edtPageNum->setObjectName("edtPageNum");
    edtPageNum->setFixedWidth(boxWidth("00000"));
    edtPageNum->setToolTip(QStringLiteral("Displayed Page"));
    spnPageNum = spin("spnPageNum", PageToolbar);
    spnPageNum->setToolTip(QStringLiteral("Click the Up/Down Arrow to select the Page"));
    lblPageCount = label("lblPageCount", "out of ...", PageToolbar);
    // Room for "out of" and a four-digit count without the panels moving.
    lblPageCount->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("out of 0000")));
    for (QWidget* w : {static_cast<QWidget*>(lblPage), static_cast<QWidget*>(edtPageNum),
                       static_cast<QWidget*>(spnPageNum), static_cast<QWidget*>(lblPageCount)})
        add(PageToolbar, w);

    // Zoom selector.
    ZoomToolbar = panel("Panel2");
    ZoomLabel = label("Label2", "Zoom", ZoomToolbar);
    edtZoom = new QLineEdit(QStringLiteral("75"), ZoomToolbar);
    edtZoom->setObjectName("edtZoom");
    edtZoom->setFixedWidth(boxWidth("0000"));
    edtZoom->setValidator(new TMaxLengthValidator(3, edtZoom));
    edtZoom->setToolTip(QStringLiteral("Zoom Percentage"));
    spnZoom = spin("spnZoom", ZoomToolbar);
    spnZoom->setToolTip(QStringLiteral("Click the arrows to zoom in or out"));
    lblPercent = label("lblPercent", "%", ZoomToolbar);
    for (QWidget* w : {static_cast<QWidget*>(ZoomLabel), static_cast<QWidget*>(edtZoom),
                       static_cast<QWidget*>(spnZoom), static_cast<QWidget*>(lblPercent)})
        add(ZoomToolbar, w);

    // AutoText and AutoShape tools.
    DrawingToolbar = panel("Panel3");
    auto tool = [&](QPushButton*& B, const char* Name, const QString& Caption) {
        B = new QPushButton(Caption, DrawingToolbar);
        B->setObjectName(Name);
        compact(B, fm.averageCharWidth() + 4);
        unavailable(B);
        add(DrawingToolbar, B);
    };
    tool(cmdAddText, "cmdAddText", QStringLiteral("A"));
    tool(cmdEditText, "cmdEditText", QStringLiteral("Ed"));
    tool(cmdDrawLine, "cmdDrawLine", QStringLiteral("\u2571"));
    tool(cmdDrawCircle, "cmdDrawCircle", QStringLiteral("\u25CB"));
    tool(cmdDrawBox, "cmdDrawBox", QStringLiteral("\u25A1"));
    tool(cmdPickColor, "cmdPickColor", QStringLiteral("\u25A0"));
    chkFilled = new QCheckBox(QStringLiteral("Filled"), DrawingToolbar);
    chkFilled->setObjectName("chkFilled");
    unavailable(chkFilled);
    cboWidth = new QComboBox(DrawingToolbar);
    cboWidth->setObjectName("cboWidth");
    cboWidth->setEditable(true);
    for (int i = 1; i <= 20; ++i)
        cboWidth->addItem(QString::number(i));
    cboWidth->setEditText(QStringLiteral("1"));
    cboWidth->setMinimumContentsLength(2);
    cboWidth->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    unavailable(cboWidth);
    static_cast<QHBoxLayout*>(DrawingToolbar->layout())->addSpacing(4);
    add(DrawingToolbar, chkFilled);
    add(DrawingToolbar, cboWidth);

    // Print, close and the rendering gauge; this panel takes the rest of
    // its row.
    CommandToolbar = panel("Panel4");
    CommandToolbar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    cmdPrint = new QPushButton(QStringLiteral("Print"), CommandToolbar);
    cmdPrint->setObjectName("cmdPrint");
    compact(cmdPrint, 3 * fm.averageCharWidth());
    cmdPrint->setToolTip(QStringLiteral("Click this button to print this report"));
    cmdClose = new QPushButton(QStringLiteral("Close"), CommandToolbar);
    cmdClose->setObjectName("cmdClose");
    compact(cmdClose, 3 * fm.averageCharWidth());
    cmdClose->setToolTip(QStringLiteral("Click this button to close this preview window"));
    RenderGauge = new TGaugeBar(CommandToolbar);
    RenderGauge->setObjectName("RenderGauge");
    RenderGauge->setTextVisible(false);
    RenderGauge->setToolTip(QStringLiteral("Rendering Progress"));
    RenderGauge->setFixedSize(fm.horizontalAdvance(QLatin1Char('0')) * 11, fm.height() + 1);
    add(CommandToolbar, cmdPrint);
    add(CommandToolbar, cmdClose);
    static_cast<QHBoxLayout*>(CommandToolbar->layout())->addSpacing(4);
    add(CommandToolbar, RenderGauge, Qt::AlignVCenter);
    static_cast<QHBoxLayout*>(CommandToolbar->layout())->addStretch(1);

    // The page: shadow, sizer, sheet and paint box, back to front.
    ScrollArea = new QScrollArea(central);
    ScrollArea->setObjectName("ScrollBox1");
    ScrollArea->setWidgetResizable(false);
    ScrollArea->setFocusPolicy(Qt::NoFocus);
    ScrollContent = new QWidget;
    ScrollContent->setObjectName("ScrollContent");
    QPalette workspace = ScrollContent->palette();
    workspace.setColor(QPalette::Window, QColor(128, 128, 128));
    ScrollContent->setPalette(workspace);
    ScrollContent->setAutoFillBackground(true);
    auto shape = [&](const char* Name, const QColor& Colour) {
        auto* w = new QWidget(ScrollContent);
        w->setObjectName(Name);
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, Colour);
        w->setPalette(pal);
        w->setAutoFillBackground(true);
        return w;
    };
    shpShadow = shape("shpShadow", Qt::black);
    lblSizer = new QLabel(ScrollContent);
    lblSizer->setObjectName("lblSizer");
    shpNonPrintable = shape("shpNonPrintable", Qt::white);
    PageView = new TPageBox(this, ScrollContent);
    PageView->setObjectName("Image1");
    ScrollArea->setWidget(ScrollContent);
    ScrollArea->viewport()->setPalette(workspace);
    ScrollArea->viewport()->setAutoFillBackground(true);
    ScrollArea->horizontalScrollBar()->setSingleStep(8);
    ScrollArea->verticalScrollBar()->setSingleStep(8);

    StatusBar = statusBar();
    StatusBar->setObjectName("StatusBar");

    tmrKeyRepeat = new QTimer(this);
    tmrKeyRepeat->setObjectName("tmrKeyRepeat");
    tmrKeyRepeat->setInterval(100);
    tmrKeyRepeat->setTimerType(Qt::PreciseTimer);

    // The hidden diagnostic buttons, a strip of their own between the
    // panels and the page while they are shown.
    DiagnosticPanel = new QFrame(central);
    DiagnosticPanel->setObjectName("DiagnosticPanel");
    DiagnosticPanel->setAutoFillBackground(true);
    auto* diagnosticRow = new TFlowLayout(DiagnosticPanel, 2);
    diagnosticRow->setContentsMargins(2, 2, 2, 2);
    auto diag = [&](QPushButton*& B, const char* Name, const char* Caption) {
        B = new QPushButton(QString::fromLatin1(Caption), DiagnosticPanel);
        B->setObjectName(Name);
        compact(B, 3 * fm.averageCharWidth());
        diagnosticRow->addWidget(B);
    };
    diag(cmdTestPattern, "cmdTestPattern", "DrawTestPattern");
    diag(cmdSetPaperSize, "cmdSetPaperSize", "SetPaperSize");
    diag(cmdRepaint, "cmdRepaint", "Repaint");
    diag(cmdClear, "cmdClear", "Clear");
    diag(cmdViewStats, "cmdViewStats", "ViewStats");
    diag(cmdShowPrintable, "cmdShowPrintable", "Show Printable");
    diag(cmdDemoRotate, "cmdDemoRotate", "Demo Rotated Text");
    diag(cmdRender, "cmdRender", "Render");
    diag(cmdFetchExample, "Button1", "LoadFromWeb");
    DiagnosticPanel->hide();

    // The panels in a row that wraps in a narrow window, the diagnostic
    // strip, then the page's scrolling area taking the rest.
    auto* panels = new TFlowLayout;
    for (QWidget* p : {PageToolbar, ZoomToolbar, DrawingToolbar, CommandToolbar})
        panels->addWidget(p);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 2, 2);
    column->setSpacing(0);
    column->addLayout(panels);
    column->addWidget(DiagnosticPanel);
    column->addWidget(ScrollArea, 1);

    // Events.
    connect(edtPageNum, &QLineEdit::textChanged, this, [this] { edtPageChange(); });
    connect(edtZoom, &QLineEdit::textChanged, this, [this] { edtZoomChange(); });
    connect(spnPageNum, &TSpinButton::UpClick, this, &TPreviewWindow::spnPageNumUpClick);
    connect(spnPageNum, &TSpinButton::DownClick, this, &TPreviewWindow::spnPageNumDownClick);
    connect(spnZoom, &TSpinButton::UpClick, this, &TPreviewWindow::spnZoomUpClick);
    connect(spnZoom, &TSpinButton::DownClick, this, &TPreviewWindow::spnZoomDownClick);
    connect(cmdPrint, &QPushButton::clicked, this, &TPreviewWindow::DoPrint);
    connect(cmdClose, &QPushButton::clicked, this, &TPreviewWindow::QuitQuillard);
    connect(tmrKeyRepeat, &QTimer::timeout, this, &TPreviewWindow::tmrKeyRepeatTimer);
    connect(cmdTestPattern, &QPushButton::clicked, this, &TPreviewWindow::cmdTestPatternClick);
    connect(cmdSetPaperSize, &QPushButton::clicked, this, &TPreviewWindow::cmdSetPaperSizeClick);
    connect(cmdRepaint, &QPushButton::clicked, this, &TPreviewWindow::cmdRepaintClick);
    connect(cmdClear, &QPushButton::clicked, this, &TPreviewWindow::cmdClearClick);
    connect(cmdViewStats, &QPushButton::clicked, this, &TPreviewWindow::cmdViewStatsClick);
    connect(cmdShowPrintable, &QPushButton::clicked, this, &TPreviewWindow::cmdShowPrintableClick);
    connect(cmdDemoRotate, &QPushButton::clicked, this, &TPreviewWindow::cmdDemoRotateClick);
    connect(cmdRender, &QPushButton::clicked, this, &TPreviewWindow::cmdRenderClick);

    // The keys of the key table reach HandleKey from these components.
    FKeyTargets = {edtPageNum, edtZoom, cmdAddText, cmdEditText, cmdDrawLine, cmdDrawCircle, cmdDrawBox,
                   cmdPickColor, chkFilled, cboWidth, cmdPrint, cmdClose};
    for (QObject* o : FKeyTargets)
        o->installEventFilter(this);
    for (QObject* o : {static_cast<QObject*>(lblPage), static_cast<QObject*>(lblPageCount), static_cast<QObject*>(ZoomLabel)})
        o->installEventFilter(this);
}

void TPreviewWindow::CreateMenus()
{
    // An item without an action belongs to a command this build does not
    // have: it is shown, disabled, and says so.
    auto item = [this](QMenu* Menu, QAction*& A, const char* Name, const char* Caption, QKeySequence Shortcut,
                       std::function<void()> Action) {
        A = Menu->addAction(QString::fromLatin1(Caption));
        A->setObjectName(Name);
        if (!Shortcut.isEmpty())
            A->setShortcut(Shortcut);
        if (Action) {
            connect(A, &QAction::triggered, this, std::move(Action));
        } else {
            A->setEnabled(false);
            A->setToolTip(QString::fromLatin1(NotAvailable));
        }
    };
    auto call = [this](void (TPreviewWindow::*Slot)()) { return [this, Slot] { (this->*Slot)(); }; };
    auto separator = [](QMenu* Menu, const char* Name) {
        QAction* s = Menu->addSeparator();
        s->setObjectName(Name);
        return s;
    };
    auto menu = [this](const char* Name, const char* Caption) {
        QMenu* m = menuBar()->addMenu(QString::fromLatin1(Caption));
        m->setObjectName(Name);
        m->setToolTipsVisible(true);
        return m;
    };

    mnuFile = menu("mnuFile", "&File");
    item(mnuFile, mnuOpenFile, "mnuOpenFile", "&Open File...", QKeySequence(Qt::CTRL | Qt::Key_O),
         call(&TPreviewWindow::OpenFile));
    mnuSepFile1 = separator(mnuFile, "mnuSepFile1");
    item(mnuFile, mnuSaveAs, "mnuSaveAs", "Save &As...", QKeySequence(Qt::CTRL | Qt::Key_S),
         call(&TPreviewWindow::SaveAs));
    item(mnuFile, mnuSaveAsPDF, "mnuSaveAsPDF", "Save As PD&F...", {}, call(&TPreviewWindow::SaveAsPDF));
    item(mnuFile, mnuSaveAsGraphic, "mnuSaveAsGraphic", "Save As &Graphic...", QKeySequence(Qt::CTRL | Qt::Key_G),
         call(&TPreviewWindow::SaveAsGraphic));
    mnuSepFile2 = separator(mnuFile, "mnuSepFile2");
    item(mnuFile, mnuPrintSetup, "mnuPrintSetup", "Print &Setup...", {}, call(&TPreviewWindow::PrintSetup1Click));
    item(mnuFile, mnuPrint, "mnuPrint", "&Print", QKeySequence(Qt::CTRL | Qt::Key_P), call(&TPreviewWindow::DoPrint));
    mnuSepFile3 = separator(mnuFile, "mnuSepFile3");
    item(mnuFile, mnuExit, "mnuExit", "E&xit", {}, call(&TPreviewWindow::QuitQuillard));

    mnuEdit = menu("mnuEdit", "&Edit");
    item(mnuEdit, actAddAutoText, "AddAutoText1", "Add &Auto Text", {}, nullptr);
    item(mnuEdit, actEditAutoText, "EditAutoText1", "Edit &Auto Text", {}, nullptr);
    separator(mnuEdit, "mnuSepEdit1");
    item(mnuEdit, actModifyReport, "ModifyReport1", "&Modify Report", QKeySequence(Qt::CTRL | Qt::Key_M),
         call(&TPreviewWindow::ModifyReport1Click));
    item(mnuEdit, actFind, "Find1", "&Find", QKeySequence(Qt::CTRL | Qt::Key_F), call(&TPreviewWindow::FindDialog));
    item(mnuEdit, actFindAgain, "Again1", "&Again", QKeySequence(Qt::CTRL | Qt::Key_A), [this] { FindNext(); });
    // Disabled until a find succeeds.
    actFindAgain->setEnabled(false);

    mnuView = menu("mnuView", "&View");
    // Zoom Out and Zoom In act as the keypad's minus and plus keys.
    item(mnuView, actZoomOut, "ZoomOut1", "Zoom &Out", {}, [this] { HandleKey(Qt::Key_Minus, Qt::KeypadModifier); });
    item(mnuView, actZoomIn, "ZoomIn1", "Zoom &In", {}, [this] { HandleKey(Qt::Key_Plus, Qt::KeypadModifier); });
    separator(mnuView, "mnuSepView1");
    item(mnuView, actPrevPage, "PrevPage1", "&Prev Page", {}, call(&TPreviewWindow::spnPageNumUpClick));
    item(mnuView, actNextPage, "NextPage1", "&Next Page", {}, call(&TPreviewWindow::spnPageNumDownClick));
    separator(mnuView, "mnuSepView2");
    item(mnuView, actFirstPage, "FirstPage1", "&First Page", {}, call(&TPreviewWindow::FirstPage1Click));
    item(mnuView, actLastPage, "LastPage1", "&Last Page", {}, call(&TPreviewWindow::LastPage1Click));
    separator(mnuView, "mnuSepView3");
    item(mnuView, actSource, "Source1", "&Source", {}, call(&TPreviewWindow::ModifyReport1Click));
    item(mnuView, actRefresh, "Refresh1", "&Refresh", QKeySequence(Qt::Key_F5), call(&TPreviewWindow::Refresh1Click));

    mnuHelp = menu("mnuHelp", "&Help");
    item(mnuHelp, actDocumentation, "QuillardDocumentation1", "Quillard Documentation", {},
         call(&TPreviewWindow::QuillardDocumentation1Click));
    actDocumentation->setVisible(false);
    item(mnuHelp, actAbout, "About1", "&About", {}, call(&TPreviewWindow::About1Click));
}

// ---------------------------------------------------------------------------
// Start-up

void TPreviewWindow::showEvent(QShowEvent* Event)
{
    QMainWindow::showEvent(Event);
    AutomationServer->CheckIdle();
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
    FSession.Terminate(Code);
    if (Renderer() && Renderer()->Rendering)
        Renderer()->Abort();
    StopWebTransfer();
    tmrKeyRepeat->stop();
    if (OnTerminate)
        OnTerminate(FSession.ExitCode());
    return true;
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
    Renderer()->SetScale(Globals().ZoomLevel / 100.0);
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
// Layout

bool TPreviewWindow::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == lblPage || Watched == lblPageCount || Watched == ZoomLabel) {
        // A quick second click arrives as a double click.
        if (Event->type() == QEvent::MouseButtonPress || Event->type() == QEvent::MouseButtonDblClick)
            LabelClick();
        return false;
    }
    if (std::find(FKeyTargets.begin(), FKeyTargets.end(), Watched) != FKeyTargets.end()) {
        if (Event->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(Event);
            const bool keypad = k->modifiers() & Qt::KeypadModifier;
            const bool zoomKey = keypad && (k->key() == Qt::Key_Plus || k->key() == Qt::Key_Minus);
            // The timer makes the repeat: the system's own repeats are not
            // keys of their own.
            if (!k->isAutoRepeat())
                HandleKeyDown(k->key(), k->modifiers());
            // Escape and the keypad's zoom keys are taken here; every other
            // key also goes on to the component.
            if (k->key() == Qt::Key_Escape || zoomKey)
                return true;
        } else if (Event->type() == QEvent::KeyRelease) {
            if (!static_cast<QKeyEvent*>(Event)->isAutoRepeat())
                HandleKeyUp();
        }
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TPreviewWindow::FormResize()
{
    if (isMinimized())
        return;
    // The layouts place the panels and the page's area at once, so that the
    // page that loads next is drawn into the area's final size.
    if (QLayout* l = centralWidget()->layout())
        l->activate();
}

// ---------------------------------------------------------------------------
// The report and the page

bool TPreviewWindow::LoadFile()
{
    PageDrawn = true;
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
    ProgressWindow->SetMessage("Counting Pages...");
    const int count = CountPages();
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
    {
        // The page box follows without drawing: the page is drawn below.
        FLoadingReport = true;
        FSession.ResetPage();
        FLoadingReport = false;
        const QSignalBlocker block(edtPageNum);
        edtPageNum->setText(QStringLiteral("1"));
        PrevPageText = edtPageNum->text();
    }
    Renderer()->GetCapacities();
    edtZoom->setText(QString::number(Globals().ZoomLevel));
    Renderer()->SetScale(Globals().ZoomLevel / 100.0);
    SetPaperSize();

    setWindowTitle(FromBytes(FSession.ReportFileName()) + QStringLiteral(" -- Quillard"));
    PageDrawn = false;
    if (!SuppressRender)
        Render();
    ProgressWindow->DoneLoading();
    FSession.ReportWasLoaded();
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
        try {
            Renderer()->RenderPages(&RenderGauge->Gauge, FSession.CurrentPage(), nullptr, FSession.CurrentPage());
        } catch (const std::exception& e) {
            Renderer()->Rendering = false;
            ShowMessage(e.what(), "x: Error Rendering " + FSession.ReportFileName() + FSession.AreaText());
        }
        Renderer()->Rendering = false;
        RenderGauge->Fill();
    }
    RenderAgain = false;
    PageDrawn = true;
    PageView->update();
}

int TPreviewWindow::CountPages()
{
    if (!Renderer() || IsBlank(FSession.ReportFileName()))
        return 0;
    if (Renderer()->Rendering || Renderer()->Printing)
        return FSession.PageCount();  // no pass within a pass
    int count = 0;
    try {
        // The count's pass draws on a page bitmap of its own.
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
    if (PageBitmap)
        Painter.drawImage(0, 0, PageBitmap->Image());
    PaintRubberBand(Painter);
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

    const double ppiX = Renderer()->Metrics.PixelsPerInchX, ppiY = Renderer()->Metrics.PixelsPerInchY;
    const double mX = Renderer()->Metrics.LeftOffset, mY = Renderer()->Metrics.TopOffset;
    PageView->resize(w, h);
    const int sheetW = w + R(mX * 2 * ppiX), sheetH = h + R(mY * 2 * ppiY);
    shpNonPrintable->setGeometry(SheetLeft, SheetTop, sheetW, sheetH);
    PageView->move(R(mX * ppiX) + SheetLeft, R(mY * ppiY) + SheetTop);
    shpShadow->setGeometry(R(ppiX * 0.25 + SheetLeft), R(ppiY * 0.25 + SheetTop), sheetW, sheetH);
    // The sizer's bottom-right corner half an inch beyond the shadow's: the
    // scrolling area scrolls that far.
    const int right = shpShadow->x() + sheetW + R(ppiX * 0.5);
    const int bottom = shpShadow->y() + sheetH + R(ppiY * 0.5);
    lblSizer->setGeometry(right - 1, bottom - 1, 1, 1);
    ScrollContent->resize(right, bottom);
    PageView->raise();
}

// ---------------------------------------------------------------------------
// Page and zoom boxes

void TPreviewWindow::edtPageChange()
{
    if (FShowingSession)
        return;  // the box shows what the session holds
    const QString text = edtPageNum->text();
    if (IsLetterCommand(text)) {
        // These letters are commands (see the keys): the page stays.
        edtPageNum->setText(QString::number(FSession.CurrentPage()));
        return;
    }
    if (Renderer() && !text.isEmpty() && text != PrevPageText) {
        const QString digits = OnlyDigits(text);
        if (!digits.isEmpty()) {
            if (digits != text) {
                // The box's change with the digits alone draws the page.
                edtPageNum->setText(digits);
                return;
            }
            const int remembered = FSession.CurrentPage();
            try {
                // The session keeps the page within the report; the box
                // shows the page it took, which is drawn (PageChanged) or,
                // when it stays, drawn again here.
                FTypedInBox = true;
                const bool changed = FSession.SetCurrentPage(DigitsValue(digits));
                FTypedInBox = false;
                if (!changed) {
                    if (edtPageNum->text() != QString::number(FSession.CurrentPage())) {
                        const QSignalBlocker block(edtPageNum);
                        edtPageNum->setText(QString::number(FSession.CurrentPage()));
                    }
                    Clear();
                    Render();
                }
            } catch (const std::exception&) {
                FTypedInBox = false;
                FLoadingReport = true;
                FSession.SetCurrentPage(remembered);
                FLoadingReport = false;
                const QSignalBlocker block(edtPageNum);
                edtPageNum->setText(QString::number(FSession.CurrentPage()));
            }
        }
    }
    PrevPageText = edtPageNum->text();
}

void TPreviewWindow::edtZoomChange()
{
    if (FShowingSession)
        return;
    const QString text = edtZoom->text();
    if (IsLetterCommand(text)) {
        edtZoom->setText(PrevZoomText);
        return;
    }
    if (Renderer() && !text.isEmpty() && text != PrevZoomText) {
        const QString digits = OnlyDigits(text);
        if (!digits.isEmpty()) {
            if (digits != text) {
                edtZoom->setText(digits);
                return;
            }
            // The session applies the zoom and the page follows
            // (ZoomChanged, ZoomRefused).
            FTypedInBox = true;
            const TZoomChange change = FSession.SetZoom(DigitsValue(digits));
            FTypedInBox = false;
            if (change == TZoomChange::Busy) {
                edtZoom->setText(PrevZoomText);
                return;
            }
            if (change == TZoomChange::Unchanged) {
                // The same zoom written otherwise: the page is drawn again.
                try {
                    ApplyPaperSize();
                    Clear();
                    Render();
                } catch (const std::exception&) {
                    ZoomRefused();
                }
            }
        }
    }
    PrevZoomText = edtZoom->text();
    FSession.NoteZoom(LeadingNumber(PrevZoomText, 100));
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

void TPreviewWindow::spnPageNumDownClick()
{
    SetPage(std::max(1, std::min(FSession.CurrentPage() + 1, FSession.PageCount())));
    edtPageNum->setFocus();
}

void TPreviewWindow::spnPageNumUpClick()
{
    SetPage(std::max(FSession.CurrentPage() - 1, 1));
    edtPageNum->setFocus();
}

void TPreviewWindow::spnZoomDownClick()
{
    int z = Globals().ZoomLevel - 1;
    if (z <= 10)
        z = 10;
    ZoomTo(z);
    edtZoom->setFocus();
}

void TPreviewWindow::spnZoomUpClick()
{
    ZoomTo(Globals().ZoomLevel + 1);
    edtZoom->setFocus();
}

void TPreviewWindow::FirstPage1Click() { SetPage(1); }

void TPreviewWindow::LastPage1Click() { SetPage(FSession.PageCount()); }

// ---------------------------------------------------------------------------
// Keys

void TPreviewWindow::HandleKey(int Key, Qt::KeyboardModifiers Modifiers)
{
    const Qt::KeyboardModifiers shift =
        Modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool none = shift == Qt::NoModifier;
    const bool ctrl = shift == Qt::ControlModifier;
    const bool keypad = Modifiers & Qt::KeypadModifier;
    auto stopRepeat = [this] {
        KeyRepeating = false;
        tmrKeyRepeat->stop();
    };

    switch (Key) {
    case Qt::Key_Escape:
        if (none) {
            stopRepeat();
            if (ExitOnEsc)
                EndApplication(FSession.ExitCode());
        }
        break;
    case Qt::Key_PageUp:
        if (none && FSession.CurrentPage() > 1) {
            SetPage(FSession.CurrentPage() - 1);
            PageView->update();
        }
        break;
    case Qt::Key_PageDown:
        if (none && FSession.CurrentPage() < FSession.PageCount()) {
            SetPage(FSession.CurrentPage() + 1);
            PageView->update();
        }
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
        if (none)
            ScrollBy(Key == Qt::Key_Left, -1);
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        if (none)
            ScrollBy(Key == Qt::Key_Right, 1);
        break;
    case Qt::Key_A:
    case Qt::Key_L:
    case Qt::Key_N:
        if ((none || ctrl) && !FindNext())
            stopRepeat();
        break;
    case Qt::Key_F:
        if (none || ctrl) {
            stopRepeat();
            FindDialog();
        }
        break;
    case Qt::Key_Plus:
        if (none && keypad) {
            ZoomTo(Globals().ZoomLevel + 5);
            if (edtPageNum->text().contains(QLatin1Char('+')))
                edtPageNum->setText(edtPageNum->text().remove(QLatin1Char('+')));
        }
        break;
    case Qt::Key_Minus:
        if (none && keypad) {
            ZoomTo(std::max(Globals().ZoomLevel - 5, 5));
            if (edtPageNum->text().contains(QLatin1Char('-')))
                edtPageNum->setText(edtPageNum->text().remove(QLatin1Char('-')));
        }
        break;
    case Qt::Key_Home:
        if (ctrl)
            edtPageNum->setText(QStringLiteral("1"));
        break;
    case Qt::Key_End:
        if (ctrl)
            edtPageNum->setText(QString::number(FSession.PageCount()));
        break;
    default:
        break;
    }
}

void TPreviewWindow::ScrollBy(bool Horizontal, int Direction)
{
    QScrollBar* bar = Horizontal ? ScrollArea->horizontalScrollBar() : ScrollArea->verticalScrollBar();
    const int target = bar->value() + Direction * bar->singleStep();
    if (Direction < 0 && target < 0)
        return;
    bar->setValue(target);
}

void TPreviewWindow::HandleKeyDown(int Key, Qt::KeyboardModifiers Shift)
{
    LastKey = Key;
    LastShift = Shift;
    KeyRepeating = false;
    tmrKeyRepeat->start(200);
    HandleKey(Key, Shift);
}

void TPreviewWindow::tmrKeyRepeatTimer()
{
    if (KeyRepeating) {
        HandleKey(LastKey, LastShift);
    } else {
        KeyRepeating = true;
        tmrKeyRepeat->setInterval(100);
    }
}

void TPreviewWindow::HandleKeyUp()
{
    KeyRepeating = false;
    tmrKeyRepeat->stop();
}

// ---------------------------------------------------------------------------
// Dragging the page

void TPreviewWindow::PageViewMouseDown(QMouseEvent* Event)
{
    if (Event->button() != Qt::LeftButton)
        return;
    if (ToolMouseDown(Event))
        return;
    if (!FDragCursor) {
        QApplication::setOverrideCursor(Qt::ClosedHandCursor);
        FDragCursor = true;
    }
    PageView->setCursor(Qt::ClosedHandCursor);
    Dragging = true;
    GrabPoint = Event->globalPosition().toPoint();
    GrabScrollX = ScrollArea->horizontalScrollBar()->value();
    GrabScrollY = ScrollArea->verticalScrollBar()->value();
    QCoreApplication::processEvents();
}

void TPreviewWindow::PageViewMouseMove(QMouseEvent* Event)
{
    if (ToolMouseMove(Event))
        return;
    if (!Dragging)
        return;
    if (!(Event->buttons() & Qt::LeftButton)) {
        EndDrag();
        return;
    }
    // The page follows the mouse: the scroll positions move against it by
    // as much as it moved since the grab.
    const QPoint now = Event->globalPosition().toPoint();
    ScrollArea->horizontalScrollBar()->setValue(GrabScrollX + (GrabPoint.x() - now.x()));
    ScrollArea->verticalScrollBar()->setValue(GrabScrollY + (GrabPoint.y() - now.y()));
}

void TPreviewWindow::PageViewMouseUp(QMouseEvent* Event)
{
    if (Event->button() != Qt::LeftButton)
        return;
    if (Dragging)
        EndDrag();
    else
        ToolMouseUp(Event);
    edtPageNum->setFocus();
}

void TPreviewWindow::EndDrag()
{
    Dragging = false;
    PageView->setCursor(Qt::OpenHandCursor);
    if (FDragCursor) {
        QApplication::restoreOverrideCursor();
        FDragCursor = false;
    }
}

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
        if (isVisible()) {
            hide();
            show();
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
