// Long-line benchmark: one report line with very many tags, in the shapes
// that once cost time in proportion to the square of the line's length:
//   img      an image tag whose in-line data is skipped on a page that is
//            not drawn, the rest of the line being N empty {IMG} tags
//   right    a right-aligned line of N short runs between style tags
//   center   the same line centred
//   fields   N page-number fields, whose text goes into the line
//   lines    N box-drawing characters (each becomes a field tag)
//   sizes    N one-letter runs, each in a size of its own ({FONT SIZE=1} to
//            {FONT SIZE=10000}, again from 1 after that)
//   plain    a plain text file (--plain) of one line of N words with braces,
//            wrapped onto some N/10 lines and the pages they fill
// Each case is a pass that draws the page holding the line (the "img" case
// draws the page after it, the "plain" case every page) on a 96-dpi page
// bitmap.
//   quillard_longline_bench [N] [CASE...]     (N defaults to 100000)
#include "engine/globals.h"
#include "engine/renderer.h"
#include "surfaces/fontlist.h"
#include "surfaces/imagecanvas.h"

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quillard;

namespace {

struct TCase {
    const char* Name;
    std::string (*Make)(int N);
    int Page;  // the page drawn; 0: every page
    bool Plain = false;
};

std::string Repeat(const std::string& S, int N)
{
    std::string out;
    out.reserve(S.size() * static_cast<size_t>(N));
    for (int i = 0; i < N; ++i)
        out += S;
    return out;
}

const TCase Cases[] = {
    {"img", [](int N) { return "{IMG DATALEN=0 DATA=\"" + Repeat("{IMG}", N) + "\r\n{PAGE}second page\r\n"; }, 2},
    {"right", [](int N) { return "{ALIGN=RIGHT}" + Repeat("ab{B}cd{/B}", N) + "\r\n"; }, 1},
    {"center", [](int N) { return "{ALIGN=CENTER}" + Repeat("ab{B}cd{/B}", N) + "\r\n"; }, 1},
    {"fields", [](int N) { return Repeat("p{FIELD CODE=PAGE}", N) + "\r\n"; }, 1},
    {"lines", [](int N) { return Repeat("\xC4", N) + "\r\n"; }, 1},
    {"sizes",
     [](int N) {
         std::string line;
         for (int i = 0; i < N; ++i)
             line += "{FONT SIZE=" + std::to_string(1 + i % 10000) + "}x";
         return line + "\r\n";
     },
     1},
    {"plain", [](int N) { return Repeat("{word} & ", N) + "\n"; }, 0, true},
};

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
    Globals().PrinterWarningShown = true;
    const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
    std::vector<std::string> wanted(argv + std::min(argc, 2), argv + argc);
    const std::string path = "/tmp/quillard_longline_bench_" + std::to_string(::getpid()) + ".txt";

    for (const TCase& c : Cases) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), c.Name) == wanted.end())
            continue;
        const std::string report = c.Make(n);
        std::ofstream(path, std::ios::binary) << report;

        tRenderer r;
        r.SetupOverrides.PlainText = c.Plain;
        r.OpenFile(path, nullptr);
        r.MeasureOnScreen(96, 1.0);
        r.UsePageSurface(std::make_unique<TImageCanvas>(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx, 96, 96));
        const auto t0 = std::chrono::steady_clock::now();
        r.RenderPages(nullptr, c.Page, nullptr, c.Page);
        std::printf("%-7s N=%d (%zu bytes): %.3f s\n", c.Name, n, report.size(), Seconds(t0));
        std::fflush(stdout);
    }
    std::remove(path.c_str());
    return 0;
}
