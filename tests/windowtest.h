// The common ground of the window tests: settings stores and a temporary
// folder of the test's own, the program-wide values reset, messages
// recorded, no desktop program ever started, automation registration kept
// in the test's folder, and the windows made as the program entry makes
// them.
#pragma once

#include "tests/modal.h"
#include "tests/testutil.h"

#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "surfaces/fontlist.h"
#include "surfaces/imagecanvas.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillard::test {

// Page N of a report drawn by a renderer of its own at Zoom, as the
// headless command line draws it.
inline QImage ReferencePage(const std::string& Path, int Page, double Zoom)
{
    QImage out;
    {
        tRenderer r;
        r.OpenFile(Path, nullptr);
        r.MeasureOnScreen(96, Zoom);
        auto canvas = std::make_unique<TImageCanvas>(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx, 96, 96);
        TImageCanvas* page = canvas.get();
        r.UsePageSurface(std::move(canvas));
        r.RenderPages(nullptr, Page, nullptr, Page);
        out = page->Image().copy();
    }
    return out;
}

// Answers the next open-document window with Path and OK.
inline void AnswerOpenDocument(const std::string& Path)
{
    WhenDialog<TOpenDocumentWindow>([Path](TOpenDocumentWindow* d) {
        d->edtPath->setText(QString::fromStdString(Path));
        d->cmdOk->click();
    });
}

// Lets events run until Condition holds, for at most Ms milliseconds; the
// test fails and ends when it does not hold by then. (Qt's QTRY macros
// report to a QtTest run, not to GoogleTest: in a GoogleTest case a failed
// one would end the case as passed.)
#define WAIT_UNTIL(Condition, Ms)                                                   \
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(Condition); }, Ms)) \
        << "waited " << (Ms) << " ms in vain for: " #Condition

class WindowTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TRecordingServices Services;
    std::unique_ptr<TOpenDocumentWindow> OpenDocument;
    std::unique_ptr<TPreviewWindow> W;
    bool Ended = false;
    int EndCode = -1;
    std::vector<std::string> Opened;  // what went to the desktop's programs
    bool DesktopOpens = true;         // whether a program of the desktop took it

    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.filePath("user"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, Dir.filePath("system"));
        InstallFontSubstitutions();
        Globals().PrinterWarningShown = true;  // no printer here; that warning is tested elsewhere
        TPrintOptionsWindow::NoPrinterWarningShown = true;
        Globals().UseLineDrawFont = false;
        Globals().ZoomLevel = 75;
        Globals().LastErrorMessage.clear();
        SetUserServices(&Services);
        QDir(Dir.path()).mkdir("temp");
        SetEnv("TEMP", Dir.filePath("temp").toStdString());
        SetEnv("XDG_DATA_HOME", Dir.filePath("data").toStdString());
        // No editor of the desktop may start from a test.
        SetEnv("VISUAL", "true");
        SetEnv("EDITOR", std::nullopt);
    }

    void TearDown() override
    {
        W.reset();
        OpenDocument.reset();
        SetUserServices(nullptr);
        Globals().ZoomLevel = 75;
        Globals().UseLineDrawFont = false;
        for (const auto& [name, value] : FSavedEnv) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        FSavedEnv.clear();
    }

    // Sets (or with no value removes) an environment variable until the
    // test ends.
    void SetEnv(const std::string& Name, const std::optional<std::string>& Value)
    {
        if (!FSavedEnv.count(Name)) {
            const char* old = std::getenv(Name.c_str());
            FSavedEnv[Name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (Value)
            ::setenv(Name.c_str(), Value->c_str(), 1);
        else
            ::unsetenv(Name.c_str());
    }

    std::string Path(const std::string& Name) const
    {
        return Dir.filePath(QString::fromStdString(Name)).toStdString();
    }

    std::string Write(const std::string& Bytes, const std::string& Name = "REPORT.TXT")
    {
        const std::string p = Path(Name);
        std::ofstream(p, std::ios::binary) << Bytes;
        return p;
    }

    // The files in the test's TEMP folder.
    QStringList TempFiles() const { return QDir(Dir.filePath("temp")).entryList(QDir::Files | QDir::System); }

    // Makes the windows as the program entry does; the first activation
    // has not run.
    void MakeWindows(std::vector<std::string> Params)
    {
        W = std::make_unique<TPreviewWindow>(std::move(Params));
        OpenDocument = std::make_unique<TOpenDocumentWindow>();
        W->OpenDocumentWindow = OpenDocument.get();
        W->OnTerminate = [this](int Code) {
            Ended = true;
            EndCode = Code;
        };
        W->OpenWithDesktop = [this](const std::string& P) {
            Opened.push_back(P);
            return DesktopOpens;
        };
    }

    bool HasMessage(const std::string& Caption, const std::string& Text) const
    {
        for (const auto& m : Services.Messages)
            if (m.Caption == Caption && m.Text.find(Text) != std::string::npos)
                return true;
        return false;
    }

    std::string MessagesText() const
    {
        std::string s;
        for (const auto& m : Services.Messages)
            s += "[" + m.Caption + "] " + m.Text + "\n";
        return s;
    }

private:
    std::map<std::string, std::optional<std::string>> FSavedEnv;
};

}  // namespace quillard::test
