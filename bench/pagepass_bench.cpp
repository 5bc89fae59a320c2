// Page-pass benchmark: lays out a generated character-printer report and
// reports the time and memory of counting its pages and of drawing its last
// and middle page after the count (from the page starts the count noted), and
// of the last page by a renderer that counted nothing: the passes a preview
// makes when it opens a long report and pages through it.
#include "engine/globals.h"
#include "engine/renderer.h"
#include "surfaces/fontlist.h"
#include "surfaces/imagecanvas.h"

#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillard;

namespace {

std::string MakeReport(const std::string& Path, int Pages)
{
    std::ofstream out(Path, std::ios::binary);
    for (int p = 1; p <= Pages; ++p) {
        out << "{CPI10}{B}Statement page " << p << "{/B}\r\n{CPI12}";
        for (int l = 0; l < 55; ++l)
            out << "01 Nov 2026  INV-" << (p * 100 + l) << "    Oak boards 22mm x 150mm        {GOTO X=6in}1,240.00\r\n";
        out << "\f";
    }
    return Path;
}

double Seconds(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    InstallFontSubstitutions();
    Globals().PrinterWarningShown = true;  // no printer needed: Letter at 300 dpi
    const int pages = argc > 1 ? std::atoi(argv[1]) : 500;
    const std::string path = "/tmp/quillard_bench_" + std::to_string(::getpid()) + ".txt";
    MakeReport(path, pages);

    tRenderer r;
    r.OpenFile(path, nullptr);
    r.MeasureOnScreen(96, 0.75);
    auto t0 = std::chrono::steady_clock::now();
    int count = r.CountPages();
    double countTime = Seconds(t0);

    r.UsePageSurface(std::make_unique<TImageCanvas>(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx, 96, 96));
    t0 = std::chrono::steady_clock::now();
    r.RenderPages(nullptr, count, nullptr, count);
    double lastTime = Seconds(t0);
    const int lastStart = r.LastPassStart();

    r.UsePageSurface(std::make_unique<TImageCanvas>(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx, 96, 96));
    t0 = std::chrono::steady_clock::now();
    r.RenderPages(nullptr, (count + 1) / 2, nullptr, (count + 1) / 2);
    double middleTime = Seconds(t0);

    tRenderer fresh;
    fresh.OpenFile(path, nullptr);
    fresh.MeasureOnScreen(96, 0.75);
    fresh.UsePageSurface(std::make_unique<TImageCanvas>(fresh.Metrics.PageWidthPx, fresh.Metrics.PageHeightPx, 96, 96));
    t0 = std::chrono::steady_clock::now();
    fresh.RenderPages(nullptr, count, nullptr, count);
    double uncountedTime = Seconds(t0);

    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("pages %d, bytes %lld\n", count, static_cast<long long>(r.FileSize));
    std::printf("count pages: %.3f s (%.1f pages/s)\n", countTime, count / countTime);
    std::printf("draw last page after the count: %.4f s (from page %d)\n", lastTime, lastStart);
    std::printf("draw middle page after that: %.4f s (from page %d)\n", middleTime, r.LastPassStart());
    std::printf("draw last page without a count: %.3f s\n", uncountedTime);
    std::printf("peak memory: %.1f MB\n", ru.ru_maxrss / 1024.0);
    std::remove(path.c_str());
    return 0;
}
