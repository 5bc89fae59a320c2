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

    Gauge1 = new TGaugeBar(this);
    Gauge1->setObjectName("Gauge1");
    Gauge1->setGeometry(12, 50, 269, 24);
    Gauge1->setTextVisible(true);
    Gauge1->setAlignment(Qt::AlignCenter);
    connect(Gauge1, &QProgressBar::valueChanged, this, [this] { UpdateMessageColour(); });

    lblMessage = new QLabel(Gauge1);
    lblMessage->setObjectName("lblMessage");
    lblMessage->setGeometry(Gauge1->rect());
    lblMessage->setAlignment(Qt::AlignCenter);
    lblMessage->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblMessage->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TProgressWindow::Timer1Timer);

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
    Timer1->stop();
    SetBusyCursor(true);
}

void TProgressWindow::Done()
{
    lblCaption->setText(QStringLiteral("Done!"));
    SetBusyCursor(false);
    repaint();
    Timer1->start();
}

void TProgressWindow::Loading() { Working("Loading File..."); }
void TProgressWindow::Printing() { Working("Printing..."); }
void TProgressWindow::DoneLoading() { Done(); }
void TProgressWindow::DonePrinting() { Done(); }

void TProgressWindow::Timer1Timer()
{
    hide();
    Timer1->stop();
}

void TProgressWindow::UpdateMessageColour()
{
    const bool full = Gauge1->value() >= Gauge1->maximum();
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
        Gauge1->setTextVisible(true);
    } else {
        lblMessage->show();
        Gauge1->setTextVisible(false);
    }
    UpdateMessageColour();
    lblMessage->repaint();
}

}  // namespace quillard
