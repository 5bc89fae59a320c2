// Shared pieces of the engine tests: report files in a scratch folder, a
// renderer drawing on a real 96-dpi page bitmap, message capture through the
// engine's user-interface services, and ink measurements on the bitmap.
#pragma once

#include "engine/globals.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "surfaces/fontlist.h"
#include "surfaces/imagecanvas.h"

#include <QImage>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quillard::test {

// Records every message box instead of showing it; the pump can run a hook.
class TRecordingServices : public IUserServices {
public:
    struct TMessage {
        std::string Text, Caption;
    };
    std::vector<TMessage> Messages;
    std::function<void()> OnPump;
    int Pumps = 0;

    TMsgResult MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons) override
    {
        Messages.push_back({Text, Caption});
        return TMsgResult::OK;
    }
    void ProcessMessages() override
    {
        ++Pumps;
        if (OnPump)
            OnPump();
    }
    void Beep() override {}
};

// Ink: pixels noticeably darker than white.
inline bool IsInk(QRgb c) { return qGray(c) < 160; }

struct TInkBox {
    int Left = -1, Top = -1, Right = -1, Bottom = -1;  // inclusive; -1 when no ink
    bool Empty() const { return Left < 0; }
    int Width() const { return Empty() ? 0 : Right - Left + 1; }
};

template <class Ink = bool (*)(QRgb)>
TInkBox InkBox(const QImage& In, Ink ink = IsInk)
{
    const QImage img = In.format() == QImage::Format_RGB32 || In.format() == QImage::Format_ARGB32
                           ? In
                           : In.convertToFormat(QImage::Format_ARGB32);
    TInkBox b;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (ink(row[x])) {
                if (b.Empty()) {
                    b.Left = b.Right = x;
                    b.Top = b.Bottom = y;
                } else {
                    b.Left = std::min(b.Left, x);
                    b.Right = std::max(b.Right, x);
                    b.Top = std::min(b.Top, y);
                    b.Bottom = std::max(b.Bottom, y);
                }
            }
    }
    return b;
}

class EngineTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TRecordingServices Services;
    std::unique_ptr<tRenderer> R;
    TImageCanvas* Page = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        InstallFontSubstitutions();
        Globals().PrinterWarningShown = true;  // the no-printer warning is tested on its own
        Globals().UseLineDrawFont = false;
        Globals().LineDrawChosen = true;
        Globals().PlainText = TPlainTextChoice::Never;  // the report rules, whatever a test applied before
        SetUserServices(&Services);
        R = std::make_unique<tRenderer>();
        UsePage(1.0);
    }

    void TearDown() override
    {
        R.reset();
        SetUserServices(nullptr);
    }

    // Gives the renderer a fresh white page bitmap at 96 dpi times Zoom.
    void UsePage(double Zoom)
    {
        R->MeasureOnScreen(96, Zoom);
        auto page = std::make_unique<TImageCanvas>(R->Metrics.PageWidthPx, R->Metrics.PageHeightPx, 96, 96);
        Page = page.get();
        R->UsePageSurface(std::move(page));
    }

    std::string Write(const std::string& Bytes, const std::string& Name = "REPORT.TXT")
    {
        std::string path = Dir.filePath(QString::fromStdString(Name)).toStdString();
        std::ofstream(path, std::ios::binary) << Bytes;
        return path;
    }

    // Opens Bytes as the report and draws page N (or counts with N = 0).
    bool RenderReport(const std::string& Bytes, int N = 1)
    {
        R->OpenFile(Write(Bytes), nullptr);
        UsePage(R->GetScale());
        return R->RenderPages(nullptr, N, nullptr, N);
    }

    TInkBox Ink() { return InkBox(Page->Image()); }
    double Ppi() const { return R->Metrics.PixelsPerInchX; }
};

}  // namespace quillard::test
