// The preview's tools for adding to the report: text items placed by a
// click on the page, and lines, boxes and ovals drawn on it. Whatever is
// added is written into the report file and the report is read again.
#include "app/addtextwindow.h"
#include "app/edittextwindow.h"
#include "app/previewwindow.h"
#include "engine/autotext.h"
#include "engine/fileeditor.h"
#include "engine/services.h"

#include <QApplication>
#include <QColorDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <climits>

namespace quillard {

int LeadingNumber(const QString& Text, int Default)
{
    long long v = 0;
    int digits = 0;
    for (QChar c : Text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        v = std::min<long long>(v * 10 + (c.unicode() - '0'), INT_MAX);
        ++digits;
    }
    return digits == 0 ? Default : static_cast<int>(v);
}

namespace {

QColor ColorOf(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

}  // namespace

void TPreviewWindow::ConnectAutoTools()
{
    auto enable = [](QWidget* W, const char* Hint) {
        W->setEnabled(true);
        W->setToolTip(QString::fromLatin1(Hint));
    };
    enable(cmdAddText, "Click this button then click on the report where you want to add text");
    enable(cmdEditText, "Edit User Added Objects");
    enable(cmdDrawLine, "Draw a Line");
    enable(cmdDrawBox, "Draw a Box");
    enable(cmdDrawCircle, "Draw a Circle");
    enable(cmdPickColor, "Select the Drawing Color");
    enable(chkFilled, "Fill boxes and ovals with the drawing colour");
    enable(cboWidth, "Line width in points");
    for (QAction* a : {actAddAutoText, actEditAutoText}) {
        a->setEnabled(true);
        a->setToolTip(QString());
    }
    connect(cmdAddText, &QPushButton::clicked, this, &TPreviewWindow::cmdAddTextClick);
    connect(actAddAutoText, &QAction::triggered, this, &TPreviewWindow::AddAutoText1Click);
    connect(cmdDrawLine, &QPushButton::clicked, this, &TPreviewWindow::cmdDrawLineClick);
    connect(cmdDrawBox, &QPushButton::clicked, this, &TPreviewWindow::cmdDrawBoxClick);
    connect(cmdDrawCircle, &QPushButton::clicked, this, &TPreviewWindow::cmdDrawCircleClick);
    connect(cmdPickColor, &QPushButton::clicked, this, &TPreviewWindow::cmdPickColorClick);
    connect(chkFilled, &QCheckBox::clicked, this, &TPreviewWindow::chkFilledClick);
    connect(cboWidth, &QComboBox::currentTextChanged, this, &TPreviewWindow::cboWidthChange);
    connect(cmdEditText, &QPushButton::clicked, this, &TPreviewWindow::cmdEditTextClick);
    connect(actEditAutoText, &QAction::triggered, this, &TPreviewWindow::cmdEditTextClick);
}

// ---------------------------------------------------------------------------
// Text items

void TPreviewWindow::ShowToolState()
{
    if (!cmdAddText)
        return;
    cmdAddText->setChecked(AddTextPending);
    cmdDrawLine->setChecked(DrawLineMode);
    cmdDrawBox->setChecked(DrawBoxMode);
    cmdDrawCircle->setChecked(DrawOvalMode);
}

void TPreviewWindow::cmdAddTextClick()
{
    DrawLineMode = DrawBoxMode = DrawOvalMode = false;
    PageView->setCursor(Qt::IBeamCursor);
    AddTextPending = true;
    ShowToolState();
}

void TPreviewWindow::AddAutoText1Click()
{
    if (ShowMessage("Click at the location where you would like to add some text\r\n(Click OK first)",
                    "Add Custom Text", TMsgButtons::OKCancel) == TMsgResult::OK)
        cmdAddTextClick();
}

void TPreviewWindow::AddTextAt(QPoint Release)
{
    if (!Renderer() || Renderer()->FileName.empty()) {
        PageView->setCursor(Qt::OpenHandCursor);
        return;
    }
    if (!AddTextWindow)
        AddTextWindow = new TAddTextWindow(this);
    AddTextWindow->TargetX = Release.x() / ScreenPpiX();
    AddTextWindow->TargetY = Release.y() / ScreenPpiY();
    AddTextWindow->TargetPage = FSession.CurrentPage();
    AddTextWindow->Renderer = Renderer();
    const int result = AddTextWindow->ShowModal();
    AddTextWindow->Renderer = nullptr;
    PageView->setCursor(Qt::OpenHandCursor);
    if (result == QDialog::Accepted)
        RefreshReport();
}

// ---------------------------------------------------------------------------
// Shapes

void TPreviewWindow::SetDrawMode(bool& Mode)
{
    AddTextPending = false;
    DrawLineMode = DrawBoxMode = DrawOvalMode = false;
    Mode = true;
    ShapeStart = ShapePrevEnd = ShapeEnd = QPoint(-1, -1);
    PageView->setCursor(Qt::CrossCursor);
    ShowToolState();
    cboWidth->setFocus();
}

bool TPreviewWindow::CancelActiveTool()
{
    if (!AddTextPending && !DrawLineMode && !DrawBoxMode && !DrawOvalMode)
        return false;
    AddTextPending = false;
    DrawLineMode = DrawBoxMode = DrawOvalMode = false;
    ShapeStart = ShapePrevEnd = ShapeEnd = QPoint(-1, -1);
    PageView->setCursor(Qt::OpenHandCursor);
    PageView->update();
    ShowToolState();
    return true;
}

void TPreviewWindow::cmdDrawLineClick() { SetDrawMode(DrawLineMode); }
void TPreviewWindow::cmdDrawBoxClick() { SetDrawMode(DrawBoxMode); }
void TPreviewWindow::cmdDrawCircleClick() { SetDrawMode(DrawOvalMode); }

void TPreviewWindow::cmdPickColorClick()
{
    const QColor c = QColorDialog::getColor(ColorOf(DrawColor), this, QStringLiteral("Drawing Color"));
    if (c.isValid()) {
        DrawColor = static_cast<uint32_t>(c.red() | (c.green() << 8) | (c.blue() << 16));
        QPalette p = cmdPickColor->palette();
        p.setColor(QPalette::ButtonText, c);
        cmdPickColor->setPalette(p);
    }
    cboWidth->setFocus();
}

void TPreviewWindow::chkFilledClick() { DrawFilled = chkFilled->isChecked(); }

void TPreviewWindow::cboWidthChange() { DrawWidth = LeadingNumber(cboWidth->currentText(), 1); }

QPoint TPreviewWindow::SheetPoint(QPoint PageViewPoint) const
{
    return PageViewPoint + PageView->pos() - shpNonPrintable->pos();
}

bool TPreviewWindow::ToolMouseDown(QMouseEvent* Event)
{
    if (AddTextPending)
        return true;
    if (!(DrawLineMode || DrawBoxMode || DrawOvalMode))
        return false;
    ShapeStart = ShapePrevEnd = ShapeEnd = SheetPoint(Event->position().toPoint());
    return true;
}

bool TPreviewWindow::ToolMouseMove(QMouseEvent* Event)
{
    if (AddTextPending)
        return true;
    if (!(DrawLineMode || DrawBoxMode || DrawOvalMode))
        return false;
    if (ShapeStart.x() > 0 && (Event->buttons() & Qt::LeftButton)) {
        ShapePrevEnd = ShapeEnd;
        ShapeEnd = SheetPoint(Event->position().toPoint());
        // The band is painted over the page bitmap, so the page under the
        // previous outline comes back as it was.
        PageView->update();
    }
    return true;
}

bool TPreviewWindow::ToolMouseUp(QMouseEvent* Event)
{
    if (AddTextPending) {
        AddTextPending = false;
        ShowToolState();
        AddTextAt(Event->position().toPoint());
        return true;
    }
    if (!(DrawLineMode || DrawBoxMode || DrawOvalMode))
        return false;
    ShapeEnd = SheetPoint(Event->position().toPoint());
    const bool pressed = ShapeStart.x() >= 0;
    if (pressed)
        WriteAutoShape();
    DrawLineMode = DrawBoxMode = DrawOvalMode = false;
    PageView->setCursor(Qt::OpenHandCursor);
    ShapeStart = ShapePrevEnd = ShapeEnd = QPoint(-1, -1);
    PageView->update();
    ShowToolState();
    return true;
}

void TPreviewWindow::WriteAutoShape()
{
    if (!Renderer() || Renderer()->FileName.empty())
        return;
    const double ppiX = ScreenPpiX(), ppiY = ScreenPpiY();
    const TAutoShapeKind kind =
        DrawLineMode ? TAutoShapeKind::Line : DrawBoxMode ? TAutoShapeKind::Box : TAutoShapeKind::Oval;
    const std::string markup = AutoShapeMarkup(kind, DrawWidth, DrawColor, DrawFilled, ShapeStart.x() / ppiX,
                                               ShapeStart.y() / ppiY, ShapeEnd.x() / ppiX, ShapeEnd.y() / ppiY);
    tFileEditor editor(Renderer());
    if (!editor.Load())
        return;
    // Form feeds end pages as {PAGE} tags do, so the shape lands on the page
    // it was drawn on in reports paged either way.
    editor.Text = InsertAtEndOfPage(editor.Text, markup, FSession.CurrentPage());
    if (editor.Save())
        RefreshReport();
}

void TPreviewWindow::PaintRubberBand(QPainter& Painter)
{
    if (!(DrawLineMode || DrawBoxMode || DrawOvalMode) || ShapeStart.x() <= 0 || ShapeEnd == ShapeStart)
        return;
    Painter.save();
    Painter.translate(shpNonPrintable->pos() - PageView->pos());
    const QColor colour = ColorOf(DrawColor);
    Painter.setPen(QPen(colour, std::max(1, DrawWidth)));
    Painter.setBrush(DrawFilled ? QBrush(colour) : QBrush(Qt::NoBrush));
    const QRect box = QRect(ShapeStart, ShapeEnd).normalized();
    if (DrawLineMode)
        Painter.drawLine(ShapeStart, ShapeEnd);
    else if (DrawBoxMode)
        Painter.drawRect(box);
    else
        Painter.drawEllipse(box);
    Painter.restore();
}

// ---------------------------------------------------------------------------
// Changing and deleting what was added

void TPreviewWindow::cmdEditTextClick()
{
    if (!Renderer() || Renderer()->FileName.empty())
        return;
    if (!EditTextWindow)
        EditTextWindow = new TEditTextWindow(this);
    EditTextWindow->Renderer = Renderer();
    EditTextWindow->ShowModal();
    EditTextWindow->Renderer = nullptr;
    // The window closes with OK either way: what it changed is shown.
    RefreshReport();
}

// ---------------------------------------------------------------------------

void TPreviewWindow::RefreshReport()
{
    SuppressRender = true;
    const QString pageText = edtPageNum->text();
    const int page = FSession.CurrentPage();
    SetPaperSize();
    LoadFile();
    if (FSession.PageCount() >= LeadingNumber(pageText, 99999)) {
        FSession.SetCurrentPage(page);
        const QSignalBlocker block(edtPageNum);
        edtPageNum->setText(pageText);
        PrevPageText = pageText;
    }
    SuppressRender = false;
    Render();
}

}  // namespace quillard
