// The progress window: a small frameless window in the middle of the screen
// with a large caption, a progress gauge and a message line laid over the
// gauge. It shows start-up, loading and printing, and hides itself a second
// after the work is done.
#pragma once

#include "engine/renderer.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <string>

namespace quillard {

// A progress bar showing an engine gauge. The engine only counts; Sync
// brings the bar up to date with the count.
class TGaugeBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TGaugeBar(QWidget* Parent = nullptr);
    TGauge Gauge;
    void Sync();
    // Progress := MaxValue.
    void Fill();
    // Progress := 0.
    void Reset();
};

class TProgressWindow : public QWidget {
    Q_OBJECT
public:
    explicit TProgressWindow(QWidget* Parent = nullptr);
    ~TProgressWindow() override;

    void Loading();
    void Printing();
    void DoneLoading();
    void DonePrinting();
    // Shows the window when hidden; puts Text on the message line. A blank
    // text shows the gauge's percentage instead.
    void SetMessage(const std::string& Text);
    void HideTimerFired();

    QLabel* lblCaption = nullptr;
    TGaugeBar* ProgressGauge = nullptr;
    QLabel* lblMessage = nullptr;
    QTimer* HideTimer = nullptr;

protected:
    // Steps aside while a modal window (a message, the open-document or
    // save window, a print dialog) is up, and comes back when it goes.
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void Working(const char* Caption);
    void Done();
    void ClearMessage();
    void SetBusyCursor(bool On);
    void UpdateMessageColour();
    bool FBusyCursor = false;
    QList<QPointer<QWidget>> FModalWindows;  // the modal windows up now
    bool FSteppedAside = false;                // hidden for them, to come back
};

}  // namespace quillard
