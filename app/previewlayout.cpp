// The preview window's widgets: the panels above the page (page, zoom,
// drawing tools, print and close), the page's scrolling area, the hidden
// diagnostic strip, the menus, and the layouts that place them.
#include "app/appicons.h"
#include "app/flowlayout.h"
#include "app/previewwindow.h"
#include "app/progresswindow.h"

#include <QHBoxLayout>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>

namespace quillard {

namespace {

const char* const NotAvailable = "Not available yet";

// Limits what the user types to a number of characters; texts the program
// puts in the box are not limited.
class TMaxLengthValidator : public QValidator {
public:
    TMaxLengthValidator(int MaxLength, QObject* Parent) : QValidator(Parent), FMax(MaxLength) {}
    State validate(QString& Input, int&) const override { return Input.size() <= FMax ? Acceptable : Invalid; }

private:
    int FMax;
};

QLabel* NewLabel(const char* Name, const char* Caption, QWidget* Parent)
{
    auto* l = new QLabel(QString::fromLatin1(Caption), Parent);
    l->setObjectName(Name);
    return l;
}

// A panel of the strip above the page: its controls side by side.
QFrame* NewToolbarPanel(const char* Name, QWidget* Parent)
{
    auto* p = new QFrame(Parent);
    p->setObjectName(Name);
    p->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(p);
    row->setContentsMargins(3, 1, 3, 1);
    row->setSpacing(2);
    return p;
}

QHBoxLayout* RowOf(QWidget* Panel) { return static_cast<QHBoxLayout*>(Panel->layout()); }

void AddToPanel(QWidget* Panel, std::initializer_list<QWidget*> Widgets)
{
    for (QWidget* w : Widgets)
        RowOf(Panel)->addWidget(w);
}

// A command of a tool this build does not have yet: shown, disabled, and
// saying so.
void MarkUnavailable(QWidget* W)
{
    W->setEnabled(false);
    W->setToolTip(QString::fromLatin1(NotAvailable));
}

// A box as wide as the text Widest in the window's font, with a little room
// either side.
int BoxWidthFor(const QFontMetrics& Fm, const char* Widest)
{
    return Fm.horizontalAdvance(QString::fromLatin1(Widest)) + Fm.averageCharWidth() + 4;
}

// A button as wide as its caption and Padding.
void FitToCaption(const QFontMetrics& Fm, QPushButton* B, int Padding)
{
    B->setFixedWidth(std::max(Fm.horizontalAdvance(B->text()) + Padding, Fm.height() + 8));
}

}  // namespace

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

TSheetShadow::TSheetShadow(QWidget* Parent) : QWidget(Parent)
{
    setObjectName("shpShadow");
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TSheetShadow::paintEvent(QPaintEvent*)
{
    // Rings of faint black, one inside the other: where they overlap, next
    // to the sheet, the shadow is darkest.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 22));
    const QRectF inner = QRectF(rect()).adjusted(Blur, Blur, -Blur, -Blur);
    for (int i = Blur; i >= 1; --i)
        p.drawRoundedRect(inner.adjusted(-i, -i, i, i), i, i);
}

void TPageBox::mousePressEvent(QMouseEvent* Event) { FOwner->PageViewMouseDown(Event); }
void TPageBox::mouseMoveEvent(QMouseEvent* Event) { FOwner->PageViewMouseMove(Event); }
void TPageBox::mouseReleaseEvent(QMouseEvent* Event) { FOwner->PageViewMouseUp(Event); }

// ---------------------------------------------------------------------------
// The widgets

TSpinButton* TPreviewWindow::NewSpinButton(const char* Name, QWidget* Parent)
{
    auto* s = new TSpinButton(Parent);
    s->setObjectName(Name);
    s->setFixedWidth(style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2);
    return s;
}

void TPreviewWindow::CreatePageToolbar(QWidget* Parent)
{
    const QFontMetrics fm = fontMetrics();
    PageToolbar = NewToolbarPanel("PageToolbar", Parent);
    lblPage = NewLabel("lblPage", "Page", PageToolbar);
    edtPageNum = new QLineEdit(QStringLiteral("1"), PageToolbar);
    edtPageNum->setObjectName("edtPageNum");
    edtPageNum->setFixedWidth(BoxWidthFor(fm, "00000"));
    edtPageNum->setToolTip(QStringLiteral("Displayed Page"));
    spnPageNum = NewSpinButton("spnPageNum", PageToolbar);
    spnPageNum->setToolTip(QStringLiteral("Click the Up/Down Arrow to select the Page"));
    lblPageCount = NewLabel("lblPageCount", "out of ...", PageToolbar);
    // Room for "out of" and a four-digit count without the panels moving.
    lblPageCount->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("out of 0000")));
    AddToPanel(PageToolbar, {lblPage, edtPageNum, spnPageNum, lblPageCount});
}

void TPreviewWindow::CreateZoomToolbar(QWidget* Parent)
{
    ZoomToolbar = NewToolbarPanel("ZoomToolbar", Parent);
    ZoomLabel = NewLabel("ZoomLabel", "Zoom", ZoomToolbar);
    edtZoom = new QLineEdit(QStringLiteral("75"), ZoomToolbar);
    edtZoom->setObjectName("edtZoom");
    edtZoom->setFixedWidth(BoxWidthFor(fontMetrics(), "0000"));
    edtZoom->setValidator(new TMaxLengthValidator(3, edtZoom));
    edtZoom->setToolTip(QStringLiteral("Zoom Percentage"));
    spnZoom = NewSpinButton("spnZoom", ZoomToolbar);
    spnZoom->setToolTip(QStringLiteral("Click the arrows to zoom in or out"));
    lblPercent = NewLabel("lblPercent", "%", ZoomToolbar);
    AddToPanel(ZoomToolbar, {ZoomLabel, edtZoom, spnZoom, lblPercent});
}

void TPreviewWindow::CreateDrawingToolbar(QWidget* Parent)
{
    const QFontMetrics fm = fontMetrics();
    DrawingToolbar = NewToolbarPanel("DrawingToolbar", Parent);
    auto tool = [&](QPushButton*& B, const char* Name, const QString& Caption) {
        B = new QPushButton(Caption, DrawingToolbar);
        B->setObjectName(Name);
        FitToCaption(fm, B, fm.averageCharWidth() + 4);
        MarkUnavailable(B);
        AddToPanel(DrawingToolbar, {B});
    };
    tool(cmdAddText, "cmdAddText", QStringLiteral("A"));
    tool(cmdEditText, "cmdEditText", QStringLiteral("Ed"));
    tool(cmdDrawLine, "cmdDrawLine", QStringLiteral("\u2571"));
    tool(cmdDrawCircle, "cmdDrawCircle", QStringLiteral("\u25CB"));
    tool(cmdDrawBox, "cmdDrawBox", QStringLiteral("\u25A1"));
    tool(cmdPickColor, "cmdPickColor", QStringLiteral("\u25A0"));
    // The tool in hand shows pressed (ShowToolState).
    for (QPushButton* b : {cmdAddText, cmdDrawLine, cmdDrawCircle, cmdDrawBox})
        b->setCheckable(true);
    chkFilled = new QCheckBox(QStringLiteral("Filled"), DrawingToolbar);
    chkFilled->setObjectName("chkFilled");
    MarkUnavailable(chkFilled);
    cboWidth = new QComboBox(DrawingToolbar);
    cboWidth->setObjectName("cboWidth");
    cboWidth->setEditable(true);
    for (int i = 1; i <= 20; ++i)
        cboWidth->addItem(QString::number(i));
    cboWidth->setEditText(QStringLiteral("1"));
    cboWidth->setMinimumContentsLength(2);
    cboWidth->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    MarkUnavailable(cboWidth);
    RowOf(DrawingToolbar)->addSpacing(4);
    AddToPanel(DrawingToolbar, {chkFilled, cboWidth});
}

void TPreviewWindow::CreateCommandToolbar(QWidget* Parent)
{
    const QFontMetrics fm = fontMetrics();
    // Print, close and the rendering gauge; this panel takes the rest of
    // its row.
    CommandToolbar = NewToolbarPanel("CommandToolbar", Parent);
    CommandToolbar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    cmdPrint = new QPushButton(QStringLiteral("Print"), CommandToolbar);
    cmdPrint->setObjectName("cmdPrint");
    FitToCaption(fm, cmdPrint, 3 * fm.averageCharWidth());
    cmdPrint->setToolTip(QStringLiteral("Click this button to print this report"));
    cmdClose = new QPushButton(QStringLiteral("Close"), CommandToolbar);
    cmdClose->setObjectName("cmdClose");
    FitToCaption(fm, cmdClose, 3 * fm.averageCharWidth());
    cmdClose->setToolTip(QStringLiteral("Click this button to close this preview window"));
    RenderGauge = new TGaugeBar(CommandToolbar);
    RenderGauge->setObjectName("RenderGauge");
    RenderGauge->setTextVisible(false);
    RenderGauge->setToolTip(QStringLiteral("Rendering Progress"));
    RenderGauge->setFixedSize(fm.horizontalAdvance(QLatin1Char('0')) * 11, fm.height() + 1);
    AddToPanel(CommandToolbar, {cmdPrint, cmdClose});
    RowOf(CommandToolbar)->addSpacing(4);
    RowOf(CommandToolbar)->addWidget(RenderGauge, 0, Qt::AlignVCenter);
    RowOf(CommandToolbar)->addStretch(1);
}

void TPreviewWindow::CreatePageArea(QWidget* Parent)
{
    // The page: shadow, sizer, sheet and paint box, back to front.
    ScrollArea = new QScrollArea(Parent);
    ScrollArea->setObjectName("PageScrollArea");
    ScrollArea->setWidgetResizable(false);
    ScrollArea->setAlignment(Qt::AlignCenter);
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
    shpShadow = new TSheetShadow(ScrollContent);
    lblSizer = new QLabel(ScrollContent);
    lblSizer->setObjectName("lblSizer");
    shpNonPrintable = shape("shpNonPrintable", Qt::white);
    PageView = new TPageBox(this, ScrollContent);
    PageView->setObjectName("PageView");
    ScrollArea->setWidget(ScrollContent);
    ScrollArea->viewport()->setPalette(workspace);
    ScrollArea->viewport()->setAutoFillBackground(true);
    ScrollArea->horizontalScrollBar()->setSingleStep(8);
    ScrollArea->verticalScrollBar()->setSingleStep(8);
}

void TPreviewWindow::CreateDiagnosticPanel(QWidget* Parent)
{
    const QFontMetrics fm = fontMetrics();
    // The hidden diagnostic buttons, a strip of their own between the
    // panels and the page while they are shown.
    DiagnosticPanel = new QFrame(Parent);
    DiagnosticPanel->setObjectName("DiagnosticPanel");
    DiagnosticPanel->setAutoFillBackground(true);
    auto* diagnosticRow = new TFlowLayout(DiagnosticPanel, 2);
    diagnosticRow->setContentsMargins(2, 2, 2, 2);
    auto diag = [&](QPushButton*& B, const char* Name, const char* Caption) {
        B = new QPushButton(QString::fromLatin1(Caption), DiagnosticPanel);
        B->setObjectName(Name);
        FitToCaption(fm, B, 3 * fm.averageCharWidth());
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
    diag(cmdFetchExample, "cmdFetchExample", "LoadFromWeb");
    DiagnosticPanel->hide();
}

void TPreviewWindow::CreateComponents()
{
    auto* central = new QWidget(this);
    central->setObjectName("ClientArea");
    setCentralWidget(central);

    CreatePageToolbar(central);
    CreateZoomToolbar(central);
    CreateDrawingToolbar(central);
    CreateCommandToolbar(central);
    CreatePageArea(central);
    CreateDiagnosticPanel(central);

    StatusBar = statusBar();
    StatusBar->setObjectName("StatusBar");

    tmrKeyRepeat = new QTimer(this);
    tmrKeyRepeat->setObjectName("tmrKeyRepeat");
    tmrKeyRepeat->setInterval(100);
    tmrKeyRepeat->setTimerType(Qt::PreciseTimer);

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

    ConnectComponents();
}

void TPreviewWindow::ConnectComponents()
{
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
    // Ctrl and the wheel over the page zoom.
    ScrollArea->viewport()->installEventFilter(this);
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
    item(mnuView, actFitPage, "FitPage1", "Fit &Page", QKeySequence(Qt::CTRL | Qt::Key_0), [this] { FitZoom(true); });
    item(mnuView, actFitWidth, "FitWidth1", "Fit &Width", QKeySequence(Qt::CTRL | Qt::Key_2), [this] { FitZoom(false); });
    item(mnuView, actActualSize, "ActualSize1", "A&ctual Size", QKeySequence(Qt::CTRL | Qt::Key_1),
         [this] { ZoomTo(100); });
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
// Layout

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
// Icons and names

void TPreviewWindow::ApplyIconsAndNames()
{
    setWindowIcon(ApplicationIcon());

    // The commands with the desktop theme's icons beside their texts; a
    // theme without one leaves the text alone.
    for (auto [button, icon] : {std::pair<QPushButton*, const char*>{cmdPrint, "document-print"},
                                {cmdClose, "window-close"}}) {
        if (SetThemeIcon(button, icon))
            button->setFixedWidth(button->sizeHint().width());
    }
    SetThemeIcon(cmdAddText, "insert-text");
    // The shapes as drawn shapes (a theme seldom has them).
    for (auto [button, shape] : {std::pair<QPushButton*, TShapeIcon>{cmdDrawLine, TShapeIcon::Line},
                                 {cmdDrawBox, TShapeIcon::Box},
                                 {cmdDrawCircle, TShapeIcon::Oval}}) {
        button->setText(QString());
        button->setIcon(ShapeIcon(shape));
    }
    if (!cmdAddText->icon().isNull())
        cmdAddText->setText(QString());
    for (auto [action, icon] : std::initializer_list<std::pair<QAction*, const char*>>{
             {mnuOpenFile, "document-open"},
             {mnuSaveAs, "document-save-as"},
             {mnuPrintSetup, "document-page-setup"},
             {mnuPrint, "document-print"},
             {mnuExit, "application-exit"},
             {actAddAutoText, "insert-text"},
             {actModifyReport, "accessories-text-editor"},
             {actFind, "edit-find"},
             {actZoomOut, "zoom-out"},
             {actZoomIn, "zoom-in"},
             {actFitPage, "zoom-fit-best"},
             {actActualSize, "zoom-original"},
             {actPrevPage, "go-previous"},
             {actNextPage, "go-next"},
             {actFirstPage, "go-first"},
             {actLastPage, "go-last"},
             {actRefresh, "view-refresh"},
             {actDocumentation, "help-contents"},
             {actAbout, "help-about"}})
        SetThemeIcon(action, icon);

    // What a screen reader says of each control whose text does not say it.
    const std::initializer_list<std::pair<QWidget*, const char*>> names = {
        {edtPageNum, "Page number"},
        {spnPageNum->UpButton, "Previous page"},
        {spnPageNum->DownButton, "Next page"},
        {lblPageCount, "Page count"},
        {edtZoom, "Zoom percent"},
        {spnZoom->UpButton, "Zoom in"},
        {spnZoom->DownButton, "Zoom out"},
        {cmdAddText, "Add text"},
        {cmdEditText, "Edit added objects"},
        {cmdDrawLine, "Draw a line"},
        {cmdDrawCircle, "Draw a circle"},
        {cmdDrawBox, "Draw a box"},
        {cmdPickColor, "Drawing colour"},
        {chkFilled, "Filled shapes"},
        {cboWidth, "Line width"},
        {cmdPrint, "Print"},
        {cmdClose, "Close"},
        {RenderGauge, "Rendering progress"},
        {ScrollArea, "Page"},
        {PageView, "Page"}};
    for (auto [widget, name] : names)
        widget->setAccessibleName(QString::fromLatin1(name));
    if (QLineEdit* typed = cboWidth->lineEdit())
        typed->setAccessibleName(cboWidth->accessibleName());
    edtPageNum->setAccessibleDescription(QStringLiteral("The page shown; type a number to go to that page"));
    edtZoom->setAccessibleDescription(QStringLiteral("The zoom in percent; type a number to zoom"));

    // Tab goes along the toolbar, left to right.
    QWidget* const order[] = {edtPageNum, edtZoom, cmdAddText, cmdEditText, cmdDrawLine, cmdDrawCircle,
                              cmdDrawBox, cmdPickColor, chkFilled, cboWidth, cmdPrint, cmdClose};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

}  // namespace quillard
