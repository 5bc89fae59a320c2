// Preview benchmark: the time from a change of the page number to the
// painted page, in the preview window on the offscreen platform, for
// character-printer reports of 1,000 and 10,000 pages (first, middle and
// last page). Showing page N goes on from the start of a page before it that
// the count noted; the pages beside the one shown are drawn ahead while the
// window is idle, and the last line says how soon the next one shows (and how many pages the cache keeps after it).
//   quillard_gui_bench [PAGES...]      (default: 1000 10000)
#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "app/qtservices.h"
#include "engine/globals.h"
#include "surfaces/fontlist.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace quillard;

namespace {

// A statement printed for a character printer: pitch tags, bold, a tab stop
// by GOTO, 56 lines a page, pages ended by form feeds.
void MakeReport(const std::string& Path, int Pages)
{
    std::ofstream out(Path, std::ios::binary);
    for (int p = 1; p <= Pages; ++p) {
        out << "{CPI10}{B}Statement page " << p << "{/B}\r\n{CPI12}";
        for (int l = 0; l < 55; ++l)
            out << "01 Nov 2026  INV-" << (p * 100 + l) << "    Oak boards 22mm x 150mm        {GOTO X=6in}1,240.00\r\n";
        out << "\f";
    }
}

double Ms(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("config"));
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {1000, 10000};

    TQtUserServices services;
    SetUserServices(&services);
    Globals().PrinterWarningShown = true;
    TPrintOptionsWindow::NoPrinterWarningShown = true;

    for (int pages : sizes) {
        const std::string path = dir.filePath(QString("REPORT%1.TXT").arg(pages)).toStdString();
        MakeReport(path, pages);

        TOpenDocumentWindow open;
        TPreviewWindow w({path});
        w.OpenDocumentWindow = &open;
        w.OnTerminate = [](int) {};
        auto t0 = std::chrono::steady_clock::now();
        // The first page is on the screen when the count starts.
        double firstPage = -1;
        services.BeforePump = [&] {
            w.SyncGauges();
            if (firstPage < 0 && w.Session().Counting())
                firstPage = Ms(t0);
        };
        w.FormActivate();
        const double load = Ms(t0);
        std::printf("%d pages (%d counted): first page shown after %.0f ms, load with page count %.0f ms\n", pages,
                    w.Session().PageCount(), firstPage, load);

        for (int target : {1, (pages + 1) / 2, pages}) {
            std::vector<double> runs;
            for (int run = 0; run < 3; ++run) {
                // Start from another page so that each run is a change.
                w.edtPageNum->setText(QString::number(target == 1 ? 2 : 1));
                QCoreApplication::processEvents();
                t0 = std::chrono::steady_clock::now();
                w.edtPageNum->setText(QString::number(target));  // draws the page
                w.PageView->repaint();                              // paints it
                runs.push_back(Ms(t0));
            }
            std::sort(runs.begin(), runs.end());
            std::printf("  page %5d: change to painted page %8.1f ms (best %.1f, worst %.1f of 3)\n", target, runs[1],
                        runs[0], runs[2]);
        }
        // Paging on from the middle: the next page was drawn ahead while
        // the window was idle.
        w.edtPageNum->setText(QString::number(pages / 2));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((w.PageCache.Size() < 3 || w.DrawingAhead()) && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        t0 = std::chrono::steady_clock::now();
        w.edtPageNum->setText(QString::number(pages / 2 + 1));
        w.PageView->repaint();
        std::printf("  page %5d: the next page, drawn ahead, painted after %.1f ms (%zu pages kept)\n", pages / 2 + 1,
                    Ms(t0), w.PageCache.Size());
        services.BeforePump = nullptr;
    }
    SetUserServices(nullptr);
    return 0;
}
