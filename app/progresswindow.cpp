#include "app/progresswindow.h"

#include "app/qtservices.h"

#include <QApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace quillard {

namespace {
const char* const LoadingCaption = "Loading File...";
const char* const PrintingCaption = "Printing...";
const char* const DoneCaption = "Done!";
}  // namespace

TGaugeBar::TGaugeBar(QWidget* Parent) : QProgressBar(Parent)
{
    setRange(0, 1);
    setValue(0);
}

bool TProgressWindow::eventFilter(QObject* Watched, QEvent* Event)
{
    const QEvent::Type type = Event->type();
    if ((type != QEvent::Show && type != QEvent::Hide) || !Watched->isWidgetType() || Watched == this)
        return false;
    auto* w = static_cast<QWidget*>(Watched);
    if (!w->isWindow() || !w->isModal())
        return false;
    FModalWindows.removeAll(nullptr);
    if (type == QEvent::Show) {
        if (!FModalWindows.contains(w))
            FModalWindows.append(w);
        if (isVisible()) {
            FSteppedAside = true;
            hide();
        }
    } else {
        FModalWindows.removeAll(w);
        if (FModalWindows.isEmpty() && FSteppedAside) {
            FSteppedAside = false;
            show();
        }
    }
    return false;
}

void TGaugeBar::Sync()
{
    const int max = std::max(Gauge.MaxValue, 1);
    const int value = std::clamp(Gauge.Progress, 0, max);
    if (maximum() != max)
        setMaximum(max);
    if (this->value() != value)
        setValue(value);
}

void TGaugeBar::Fill()
{
    Gauge.Progress = Gauge.MaxValue;
    Sync();
}

void TGaugeBar::Reset()
{
    Gauge.Progress = 0;
    Sync();
}

// Above its main window, never above other windows: a window of its own
// (a tool window of the main window) with no stays-on-top hint.
TProgressWindow::TProgressWindow(QWidget* Parent) : QWidget(Parent, Qt::Tool | Qt::FramelessWindowHint)
{
    qApp->installEventFilter(this);
    setObjectName("ProgressWindow");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);

    lblCaption = new QLabel(this);
    lblCaption->setObjectName("lblCaption");
    lblCaption->setAlignment(Qt::AlignCenter);
    QFont big = lblCaption->font();
    big.setPointSize(18);
    big.setBold(true);
    lblCaption->setFont(big);
    // Wide and high enough for every caption, so the window keeps its size.
    int captionWidth = 0;
    for (const char* caption : {LoadingCaption, PrintingCaption, DoneCaption})
        captionWidth = std::max(captionWidth, lblCaption->fontMetrics().horizontalAdvance(QString::fromLatin1(caption)));
    lblCaption->setMinimumSize(captionWidth, lblCaption->fontMetrics().height() * 5 / 4);

    ProgressGauge = new TGaugeBar(this);
    ProgressGauge->setObjectName("Gauge1");
    ProgressGauge->setTextVisible(true);
    ProgressGauge->setAlignment(Qt::AlignCenter);
    connect(ProgressGauge, &QProgressBar::valueChanged, this, [this] { UpdateMessageColour(); });

    lblMessage = new QLabel(ProgressGauge);
    lblMessage->setObjectName("lblMessage");
    lblMessage->setAlignment(Qt::AlignCenter);
    lblMessage->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblMessage->hide();
    // The message lies over the whole gauge and never widens it: a long
    // message is cut at the gauge's ends.
    lblMessage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    auto* overGauge = new QVBoxLayout(ProgressGauge);
    overGauge->setContentsMargins(0, 0, 0, 0);
    overGauge->addWidget(lblMessage);
    // Room on the gauge for a message of about 45 characters.
    ProgressGauge->setMinimumWidth(lblMessage->fontMetrics().averageCharWidth() * 45);

    // The caption over the gauge; the window is as large as they need.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 6, 12, 12);
    column->setSpacing(6);
    column->addWidget(lblCaption);
    column->addWidget(ProgressGauge);
    setFixedSize(sizeHint());

    HideTimer = new QTimer(this);
    HideTimer->setObjectName("Timer1");
    HideTimer->setInterval(1000);
    connect(HideTimer, &QTimer::timeout, this, &TProgressWindow::HideTimerFired);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TProgressWindow::~TProgressWindow() { SetBusyCursor(false); }

void TProgressWindow::SetBusyCursor(bool On)
{
    if (On == FBusyCursor)
        return;
    FBusyCursor = On;
    if (On)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

// The message line of the work before goes with a new caption: the gauge
// shows its percentage until the work says more.
void TProgressWindow::ClearMessage()
{
    lblMessage->clear();
    lblMessage->hide();
    ProgressGauge->setTextVisible(true);
}

void TProgressWindow::Working(const char* Caption)
{
    lblCaption->setText(QString::fromLatin1(Caption));
    ClearMessage();
    show();
    HideTimer->stop();
    SetBusyCursor(true);
}

void TProgressWindow::Done()
{
    lblCaption->setText(QString::fromLatin1(DoneCaption));
    ClearMessage();
    SetBusyCursor(false);
    repaint();
    HideTimer->start();
}

void TProgressWindow::Loading() { Working(LoadingCaption); }
void TProgressWindow::Printing() { Working(PrintingCaption); }
void TProgressWindow::DoneLoading() { Done(); }
void TProgressWindow::DonePrinting() { Done(); }

void TProgressWindow::HideTimerFired()
{
    FSteppedAside = false;  // its work is done: it does not come back
    hide();
    HideTimer->stop();
}

void TProgressWindow::UpdateMessageColour()
{
    const bool full = ProgressGauge->value() >= ProgressGauge->maximum();
    QPalette pal = lblMessage->palette();
    pal.setColor(QPalette::WindowText, full ? Qt::white : Qt::black);
    lblMessage->setPalette(pal);
}

void TProgressWindow::SetMessage(const std::string& Text)
{
    FModalWindows.removeAll(nullptr);
    if (!FModalWindows.isEmpty()) {
        FSteppedAside = true;  // shows once the modal windows have gone
    } else if (!isVisible()) {
        show();
        QCoreApplication::processEvents();
    }
    const QString text = FromBytes(Text);
    lblMessage->setText(text);
    if (text.trimmed().isEmpty()) {
        lblMessage->hide();
        ProgressGauge->setTextVisible(true);
    } else {
        lblMessage->show();
        ProgressGauge->setTextVisible(false);
    }
    UpdateMessageColour();
    lblMessage->repaint();
}

}  // namespace quillard
