// The preview's tools for adding to the report: text items placed by a
// click on the page, and lines, boxes and ovals drawn on it. Whatever is
// added is written into the report file and the report is read again.
#include "app/AddText.h"
#include "app/EditText.h"
#include "app/Preview.h"
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

void TfrmPreviewer::ConnectAutoTools()
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
    for (QAction* a : {AddAutoText1, EditAutoText1}) {
        a->setEnabled(true);
        a->setToolTip(QString());
    }
    connect(cmdAddText, &QPushButton::clicked, this, &TfrmPreviewer::cmdAddTextClick);
    connect(AddAutoText1, &QAction::triggered, this, &TfrmPreviewer::AddAutoText1Click);
    connect(cmdDrawLine, &QPushButton::clicked, this, &TfrmPreviewer::cmdDrawLineClick);
    connect(cmdDrawBox, &QPushButton::clicked, this, &TfrmPreviewer::cmdDrawBoxClick);
    connect(cmdDrawCircle, &QPushButton::clicked, this, &TfrmPreviewer::cmdDrawCircleClick);
    connect(cmdPickColor, &QPushButton::clicked, this, &TfrmPreviewer::cmdPickColorClick);
    connect(chkFilled, &QCheckBox::clicked, this, &TfrmPreviewer::chkFilledClick);
    connect(cboWidth, &QComboBox::currentTextChanged, this, &TfrmPreviewer::cboWidthChange);
    connect(cmdEditText, &QPushButton::clicked, this, &TfrmPreviewer::cmdEditTextClick);
    connect(EditAutoText1, &QAction::triggered, this, &TfrmPreviewer::cmdEditTextClick);
}

// ---------------------------------------------------------------------------
// Text items

void TfrmPreviewer::cmdAddTextClick()
{
    DrawLineMode = DrawBoxMode = DrawOvalMode = false;
    Image1->setCursor(Qt::IBeamCursor);
    AddTextPending = true;
}

void TfrmPreviewer::AddAutoText1Click()
{
    if (ShowMessage("Click at the location where you would like to add some text\r\n(Click OK first)",
                    "Add Custom Text", TMsgButtons::OKCancel) == TMsgResult::OK)
        cmdAddTextClick();
}

void TfrmPreviewer::AddTextAt(QPoint Release)
{
    if (!Renderer || Renderer->FileName.empty()) {
        Image1->setCursor(Qt::OpenHandCursor);
        return;
    }
    if (!frmAddText)
        frmAddText = new TfrmAddText(this);
    frmAddText->TargetX = Release.x() / Renderer->PixelsPerInchX;
    frmAddText->TargetY = Release.y() / Renderer->PixelsPerInchY;
    frmAddText->TargetPage = CurrentPage;
    frmAddText->Renderer = Renderer.get();
    const int result = frmAddText->ShowModal();
    frmAddText->Renderer = nullptr;
    Image1->setCursor(Qt::OpenHandCursor);
    if (result == QDialog::Accepted)
        RefreshReport();
}

// ---------------------------------------------------------------------------
// Shapes

void TfrmPreviewer::SetDrawMode(bool& Mode)
{
    AddTextPending = false;
    DrawLineMode = DrawBoxMode = DrawOvalMode = false;
    Mode = true;
    ShapeStart = ShapePrevEnd = ShapeEnd = QPoint(-1, -1);
    Image1->setCursor(Qt::CrossCursor);
    cboWidth->setFocus();
}

void TfrmPreviewer::cmdDrawLineClick() { SetDrawMode(DrawLineMode); }
void TfrmPreviewer::cmdDrawBoxClick() { SetDrawMode(DrawBoxMode); }
void TfrmPreviewer::cmdDrawCircleClick() { SetDrawMode(DrawOvalMode); }

void TfrmPreviewer::cmdPickColorClick()
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

void TfrmPreviewer::chkFilledClick() { DrawFilled = chkFilled->isChecked(); }

void TfrmPreviewer::cboWidthChange() { DrawWidth = LeadingNumber(cboWidth->currentText(), 1); }

QPoint TfrmPreviewer::SheetPoint(QPoint Image1Point) const
{
    return Image1Point + Image1->pos() - shpNonPrintable->pos();
}

bool TfrmPreviewer::ToolMouseDown(QMouseEvent* Event)
{
    if (AddTextPending)
        return true;
    if (!(DrawLineMode || DrawBoxMode || DrawOvalMode))
        return false;
    ShapeStart = ShapePrevEnd = ShapeEnd = SheetPoint(Event->position().toPoint());
    return true;
}

bool TfrmPreviewer::ToolMouseMove(QMouseEvent* Event)
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
        Image1->update();
    }
    return true;
}

bool TfrmPreviewer::ToolMouseUp(QMouseEvent* Event)
{
    if (AddTextPending) {
        AddTextPending = false;
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
    Image1->setCursor(Qt::OpenHandCursor);
    ShapeStart = ShapePrevEnd = ShapeEnd = QPoint(-1, -1);
    Image1->update();
    return true;
}

void TfrmPreviewer::WriteAutoShape()
{
    if (!Renderer || Renderer->FileName.empty())
        return;
    const double ppiX = Renderer->PixelsPerInchX, ppiY = Renderer->PixelsPerInchY;
    const TAutoShapeKind kind =
        DrawLineMode ? TAutoShapeKind::Line : DrawBoxMode ? TAutoShapeKind::Box : TAutoShapeKind::Oval;
    const std::string markup = AutoShapeMarkup(kind, DrawWidth, DrawColor, DrawFilled, ShapeStart.x() / ppiX,
                                               ShapeStart.y() / ppiY, ShapeEnd.x() / ppiX, ShapeEnd.y() / ppiY);
    tFileEditor editor(Renderer.get());
    if (!editor.Load())
        return;
    // Form feeds end pages as {PAGE} tags do, so the shape lands on the page
    // it was drawn on in reports paged either way.
    editor.Text = InsertAtEndOfPage(editor.Text, markup, CurrentPage);
    if (editor.Save())
        RefreshReport();
}

void TfrmPreviewer::PaintRubberBand(QPainter& Painter)
{
    if (!(DrawLineMode || DrawBoxMode || DrawOvalMode) || ShapeStart.x() <= 0 || ShapeEnd == ShapeStart)
        return;
    Painter.save();
    Painter.translate(shpNonPrintable->pos() - Image1->pos());
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

void TfrmPreviewer::cmdEditTextClick()
{
    if (!Renderer || Renderer->FileName.empty())
        return;
    if (!frmEditText)
        frmEditText = new TfrmEditText(this);
    frmEditText->Renderer = Renderer.get();
    frmEditText->ShowModal();
    frmEditText->Renderer = nullptr;
    // The window closes with OK either way: what it changed is shown.
    RefreshReport();
}

// ---------------------------------------------------------------------------

void TfrmPreviewer::RefreshReport()
{
    SuppressRender = true;
    const QString pageText = edtPageNum->text();
    const int page = CurrentPage;
    SetPaperSize();
    LoadFile();
    if (PageCount >= LeadingNumber(pageText, 99999)) {
        CurrentPage = page;
        const QSignalBlocker block(edtPageNum);
        edtPageNum->setText(pageText);
        PrevPageText = pageText;
    }
    SuppressRender = false;
    Render();
}

}  // namespace quillard
