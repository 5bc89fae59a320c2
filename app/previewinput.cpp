// The preview window's input: the page and zoom boxes and their arrows, the
// key table, and dragging the page with the mouse.
#include "app/previewwindow.h"

#include "engine/globals.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <QNativeGestureEvent>
#include <algorithm>
#include <cmath>
#include <climits>

namespace quillard {

namespace {

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

}  // namespace

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
// The arrows beside the boxes

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

void TPreviewWindow::FitZoom(bool WholePage)
{
    if (!Renderer() || !ScrollArea)
        return;
    // The sheet at the zoom shown, and the room for it with the margin on
    // each side: the window's room without scroll bars, less the vertical
    // one when a sheet fitted by its width is taller than the room.
    const double w = std::max(1, shpNonPrintable->width()), h = std::max(1, shpNonPrintable->height());
    QSize room = ScrollArea->maximumViewportSize() - QSize(2 * PageMargin, 2 * PageMargin);
    double ratio = room.width() / w;
    if (WholePage) {
        ratio = std::min(ratio, room.height() / h);
    } else if (h * ratio > room.height()) {
        room.rwidth() -= ScrollArea->verticalScrollBar()->sizeHint().width();
        ratio = room.width() / w;
    }
    int zoom = std::clamp(static_cast<int>(std::floor(Globals().ZoomLevel * ratio)), MinZoom, MaxFitZoom);
    ZoomTo(zoom);
    // The sheet's parts are rounded one by one: a sheet a pixel too large
    // takes the zoom a step down.
    const QSize fitted = shpNonPrintable->size();
    if (zoom > MinZoom && (fitted.width() > room.width() || (WholePage && fitted.height() > room.height())))
        ZoomTo(zoom - 1);
}

void TPreviewWindow::FirstPage1Click() { SetPage(1); }

void TPreviewWindow::LastPage1Click() { SetPage(FSession.PageCount()); }

// ---------------------------------------------------------------------------
// Keys

bool TPreviewWindow::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == lblPage || Watched == lblPageCount || Watched == ZoomLabel) {
        // A quick second click arrives as a double click.
        if (Event->type() == QEvent::MouseButtonPress || Event->type() == QEvent::MouseButtonDblClick)
            LabelClick();
        return false;
    }
    if (ScrollArea && Watched == ScrollArea->viewport() && Event->type() == QEvent::Wheel) {
        // Ctrl and the wheel zoom in steps of ten percent, a notch a step
        // (a touchpad's small steps add up); the wheel alone scrolls.
        auto* w = static_cast<QWheelEvent*>(Event);
        if (!(w->modifiers() & Qt::ControlModifier))
            return false;
        FWheelZoom += w->angleDelta().y();
        const int notches = FWheelZoom / 120;
        if (notches != 0) {
            FWheelZoom -= notches * 120;
            ZoomTo(std::clamp(Globals().ZoomLevel + 10 * notches, MinZoom, MaxFitZoom));
        }
        return true;
    }
    if (ScrollArea && Watched == ScrollArea->viewport() && Event->type() == QEvent::NativeGesture) {
        // Two fingers pinched on a touchpad: the zoom follows the spread,
        // in whole percent.
        auto* g = static_cast<QNativeGestureEvent*>(Event);
        if (g->gestureType() == Qt::BeginNativeGesture || g->gestureType() == Qt::EndNativeGesture) {
            FPinchZoom = 0;
            return true;
        }
        if (g->gestureType() != Qt::ZoomNativeGesture)
            return false;
        FPinchZoom = (FPinchZoom > 0 ? FPinchZoom : Globals().ZoomLevel) * (1 + g->value());
        const int zoom = std::clamp(static_cast<int>(std::lround(FPinchZoom)), MinZoom, MaxFitZoom);
        if (zoom != Globals().ZoomLevel)
            ZoomTo(zoom);
        if (zoom != static_cast<int>(std::lround(FPinchZoom)))
            FPinchZoom = zoom;  // at a limit the spread starts again from it
        return true;
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
            // Esc puts down a tool in hand, then ends a search, and only
            // then ends the program.
            if (!CancelActiveTool() && !EndSearch() && ExitOnEsc)
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

}  // namespace quillard
