#include "app/qtservices.h"


#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace quillard {

bool Unattended() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

TMsgResult TQtUserServices::MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons)
{
    if (Unattended() || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        THeadlessServices headless;
        return headless.MessageBox(Text, Caption, Buttons);
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
    switch (Buttons) {
    case TMsgButtons::OK:
        break;
    case TMsgButtons::OKCancel:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case TMsgButtons::YesNo:
        buttons = QMessageBox::Yes | QMessageBox::No;
        defaultButton = QMessageBox::Yes;
        break;
    case TMsgButtons::YesNoCancel:
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        defaultButton = QMessageBox::Yes;
        break;
    }
    QMessageBox box(QMessageBox::NoIcon, MessageText(Caption), MessageText(Text), buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return TMsgResult::Cancel;
    case QMessageBox::Yes:
        return TMsgResult::Yes;
    case QMessageBox::No:
        return TMsgResult::No;
    default:
        // Closing a box that has only OK answers OK; one with Cancel gets
        // Cancel from Escape through the Cancel case above.
        return Buttons == TMsgButtons::YesNo ? TMsgResult::No : TMsgResult::OK;
    }
}

bool AskWarning(const std::string& Text, const std::string& Caption)
{
    if (Unattended() || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s [No]\n", Caption.c_str(), MessageText(Text).toLocal8Bit().constData());
        return false;
    }
    QMessageBox box(QMessageBox::Warning, MessageText(Caption), MessageText(Text), QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TQtUserServices::ProcessMessages()
{
    // Reading the clock costs more than a short line of the report takes to
    // lay out: look at it every 16th call only.
    if (++FCalls % 16 != 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - FLastPump < PumpInterval)
        return;
    FLastPump = now;
    if (BeforePump)
        BeforePump();
    QCoreApplication::processEvents();
}

void TQtUserServices::Beep() { QApplication::beep(); }

}  // namespace quillard
