#include "app/progresswindow.h"

#include "app/qtservices.h"

#include <QApplication>
#include <QScreen>
#include <algorithm>

namespace quillard {

TGaugeBar::TGaugeBar(QWidget* Parent) : QProgressBar(Parent)
{
    setRange(0, 1);
    setValue(0);
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

TProgressWindow::TProgressWindow(QWidget* Parent) : QWidget(Parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("ProgressWindow");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(293, 86);
    setAutoFillBackground(true);

    lblCaption = new QLabel(this);
    lblCaption->setObjectName("lblCaption");
    lblCaption->setGeometry(8, 6, 277, 36);
    lblCaption->setAlignment(Qt::AlignCenter);
    QFont big = lblCaption->font();
    big.setPointSize(18);
    big.setBold(true);
    lblCaption->setFont(big);

    ProgressGauge = new TGaugeBar(this);
    ProgressGauge->setObjectName("Gauge1");
    ProgressGauge->setGeometry(12, 50, 269, 24);
    ProgressGauge->setTextVisible(true);
    ProgressGauge->setAlignment(Qt::AlignCenter);
    connect(ProgressGauge, &QProgressBar::valueChanged, this, [this] { UpdateMessageColour(); });

    lblMessage = new QLabel(ProgressGauge);
    lblMessage->setObjectName("lblMessage");
    lblMessage->setGeometry(ProgressGauge->rect());
    lblMessage->setAlignment(Qt::AlignCenter);
    lblMessage->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblMessage->hide();

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

void TProgressWindow::Working(const char* Caption)
{
    lblCaption->setText(QString::fromLatin1(Caption));
    show();
    HideTimer->stop();
    SetBusyCursor(true);
}

void TProgressWindow::Done()
{
    lblCaption->setText(QStringLiteral("Done!"));
    SetBusyCursor(false);
    repaint();
    HideTimer->start();
}

void TProgressWindow::Loading() { Working("Loading File..."); }
void TProgressWindow::Printing() { Working("Printing..."); }
void TProgressWindow::DoneLoading() { Done(); }
void TProgressWindow::DonePrinting() { Done(); }

void TProgressWindow::HideTimerFired()
{
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
    if (!isVisible()) {
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
