#include "app/qtservices.h"

#include "surfaces/rastercanvas.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace quillard {

namespace {

bool IsValidUtf8(const std::string& s)
{
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int more = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(more) >= n)
            return false;
        for (int k = 1; k <= more; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms, surrogates and values past the last code point.
        if ((more == 1 && cp < 0x80) || (more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += more + 1;
    }
    return true;
}

}  // namespace

QString FromBytes(const std::string& Bytes)
{
    if (IsValidUtf8(Bytes))
        return QString::fromUtf8(Bytes.data(), static_cast<qsizetype>(Bytes.size()));
    return Cp1252ToQString(Bytes);
}

QString MessageText(const std::string& Bytes)
{
    QString s = FromBytes(Bytes);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

QString PathToQ(const std::string& Path) { return QString::fromLocal8Bit(Path.data(), static_cast<qsizetype>(Path.size())); }

std::string PathFromQ(const QString& Path) { return Path.toLocal8Bit().toStdString(); }

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
