// PDF benchmark: generates character-printer reports (60 lines of 80
// characters a page, pages ended by form feeds) of 1,000 and 10,000 pages and
// times `quillard --pdf` on them beside cups-filters' texttopdf in the same
// run, printing report pages per second, bytes per page and the peak memory
// of each program. quillard runs four ways: with the standard fonts, with
// --compress, with --embed-fonts (subsets of the faces embedded) and with
// both.
//
// Usage: quillard_pdf_bench [PAGES...]   (default 1000 10000)
// Targets: at least five times texttopdf's pages per second, peak memory
// under 100 MB at 10,000 pages, and embedded fonts costing no more than a
// fifth of the speed (embedded pages per CPU second at least 0.8 times those
// with the standard fonts).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const TextToPdf = "/usr/lib/cups/filter/texttopdf";
constexpr int Runs = 3;

void MakeReport(const std::string& Path, int Pages)
{
    std::ofstream out(Path, std::ios::binary);
    std::string line;
    for (int p = 1; p <= Pages; ++p) {
        for (int l = 1; l <= 60; ++l) {
            char head[40];
            std::snprintf(head, sizeof head, "Page %05d line %02d  ", p, l);
            line = head;
            while (line.size() < 80)
                line += static_cast<char>('A' + (line.size() + p + l) % 26);
            out << line << "\r\n";
        }
        out << '\f';
    }
}

struct TRun {
    bool Ok = false;
    double Seconds = 0;     // wall clock
    double CpuSeconds = 0;  // user and system time of the program
    double PeakMB = 0;
    long long OutputBytes = 0;
};

// Runs Argv with its standard output going to StdoutPath (or /dev/null) and
// measures the wall time and the child's peak resident memory.
TRun Run(const std::vector<std::string>& Argv, const std::string& StdoutPath, const std::string& OutputFile)
{
    TRun r;
    std::vector<char*> argv;
    for (const std::string& a : Argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int out = ::open(StdoutPath.empty() ? "/dev/null" : StdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_WRONLY);
        if (out >= 0)
            ::dup2(out, 1);
        if (null >= 0)
            ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0)
        return r;
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.PeakMB = ru.ru_maxrss / 1024.0;
    r.CpuSeconds = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    struct stat st {};
    if (::stat(OutputFile.c_str(), &st) == 0)
        r.OutputBytes = st.st_size;
    return r;
}

// The median time of several runs, the largest peak memory.
TRun Measure(const std::vector<std::string>& Argv, const std::string& StdoutPath, const std::string& OutputFile)
{
    std::vector<TRun> runs;
    for (int i = 0; i < Runs; ++i) {
        runs.push_back(Run(Argv, StdoutPath, OutputFile));
        if (!runs.back().Ok)
            return runs.back();
    }
    std::sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.Seconds < b.Seconds; });
    TRun median = runs[runs.size() / 2];
    for (const TRun& r : runs)
        median.PeakMB = std::max(median.PeakMB, r.PeakMB);
    return median;
}

void Print(int Pages, const char* Program, const TRun& R)
{
    std::printf("%8d  %-24s %9.3f %10.0f %9.3f %12.0f %9.1f %10.1f %8.0f\n", Pages, Program, R.Seconds, Pages / R.Seconds,
                R.CpuSeconds, Pages / R.CpuSeconds, R.PeakMB, R.OutputBytes / 1048576.0,
                double(R.OutputBytes) / Pages);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {1000, 10000};

    char dirTemplate[] = "/tmp/quillard-pdf-bench-XXXXXX";
    if (!::mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    const bool haveTextToPdf = ::access(TextToPdf, X_OK) == 0;
    if (!haveTextToPdf)
        std::printf("%s is missing (package cups-filters): timing quillard alone\n", TextToPdf);
    std::printf("median of %d runs; pages are report pages (60 lines of 80 characters)\n\n", Runs);
    std::printf("%8s  %-24s %9s %10s %9s %12s %9s %10s %8s\n", "pages", "program", "seconds", "pages/s", "CPU s",
                "pages/CPU s", "peak MB", "output MB", "B/page");

    bool allMet = true;
    for (int pages : sizes) {
        const std::string report = dir + "/report" + std::to_string(pages) + ".txt";
        MakeReport(report, pages);
        const std::string ours = dir + "/quillard.pdf";
        TRun q = Measure({QUILLARD_BINARY, "--pdf", ours, report}, "", ours);
        if (!q.Ok) {
            std::printf("%8d  quillard failed\n", pages);
            allMet = false;
            continue;
        }
        Print(pages, "quillard", q);
        bool met = !(pages >= 10000 && q.PeakMB >= 100);
        struct TWay {
            const char* Name;
            std::vector<std::string> Options;
        };
        const TWay ways[] = {{"quillard --compress", {"--compress"}},
                             {"quillard --embed-fonts", {"--embed-fonts"}},
                             {"quillard --embed --compress", {"--embed-fonts", "--compress"}}};
        TRun compressed;
        for (const TWay& way : ways) {
            std::vector<std::string> argv{QUILLARD_BINARY};
            argv.insert(argv.end(), way.Options.begin(), way.Options.end());
            argv.insert(argv.end(), {"--pdf", ours, report});
            const TRun w = Measure(argv, "", ours);
            if (!w.Ok) {
                std::printf("%8d  %s failed\n", pages, way.Name);
                met = false;
                continue;
            }
            Print(pages, way.Name, w);
            // Embedding against the same run with the standard fonts.
            if (way.Options.front() == "--compress")
                compressed = w;
            if (way.Options.front() == "--embed-fonts") {
                const TRun& base = way.Options.size() > 1 ? compressed : q;
                const double share = base.CpuSeconds / w.CpuSeconds;
                std::printf("%8s  %.2f of the speed with the standard fonts (target 0.8 or more)\n", "", share);
                met = met && share >= 0.8 && !(pages >= 10000 && w.PeakMB >= 100);
            }
        }
        if (haveTextToPdf) {
            const std::string theirs = dir + "/texttopdf.pdf";
            TRun t = Measure({TextToPdf, "1", "user", "title", "1", "", report}, theirs, theirs);
            if (t.Ok) {
                Print(pages, "texttopdf", t);
                const double ratio = t.Seconds / q.Seconds;
                std::printf("%8s  quillard is %.1f times as fast by the clock, %.1f by CPU time (target 5)%s\n", "", ratio,
                            t.CpuSeconds / q.CpuSeconds,
                            pages >= 10000 ? (q.PeakMB < 100 ? "; peak memory under 100 MB" : "; peak memory 100 MB or more")
                                           : "");
                met = met && ratio >= 5;
            } else {
                std::printf("%8d  texttopdf failed\n", pages);
            }
            std::remove(theirs.c_str());
        }
        allMet = allMet && met;
        std::remove(ours.c_str());
        std::remove(report.c_str());
    }
    ::rmdir(dir.c_str());
    std::printf("\ntargets %s\n", allMet ? "met" : "NOT met");
    return 0;
}
