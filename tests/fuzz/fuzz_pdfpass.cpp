// A whole page pass over arbitrary report bytes on the PDF surface: the
// report is opened (header scan), written as a PDF file by the PDF job, and
// the file is checked for a sound structure: every cross-reference entry
// points at the object it names, "startxref" points at the cross-reference
// section, the trailer's /Size matches, and a document of the whole report
// has as many pages as the pass counted.
//
// Input: one byte of options, then the report.
//   bit 0     box-drawing bytes are drawn with the line-drawing font
//   bits 1-2  page range: all pages, 1-1, 2-3 or 3-2
//   bit 3     search text "E" (the PDF job draws search highlighting too)
#include "tests/fuzz/fuzzutil.h"

#include "engine/globals.h"
#include "engine/renderer.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quillard;

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail = {})
{
    std::fprintf(stderr, "fuzz_pdfpass: %s %s\n", What, Detail.c_str());
    std::abort();
}

const std::string& PdfPath()
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/quillard-fuzz-" + std::to_string(::getpid()) + ".pdf";
        std::atexit([] { std::remove(PdfPath().c_str()); });
        return p;
    }();
    return path;
}

std::string ReadAll(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A non-negative decimal number at Pos (spaces skipped first); -1 when there
// is none. Pos moves past it.
long long NumberAt(const std::string& S, size_t& Pos)
{
    while (Pos < S.size() && (S[Pos] == ' ' || S[Pos] == '\r' || S[Pos] == '\n'))
        ++Pos;
    long long v = -1;
    while (Pos < S.size() && S[Pos] >= '0' && S[Pos] <= '9') {
        v = (v < 0 ? 0 : v * 10) + (S[Pos] - '0');
        if (v > (1LL << 40))
            return -1;
        ++Pos;
    }
    return v;
}

void SkipEol(const std::string& S, size_t& Pos)
{
    while (Pos < S.size() && (S[Pos] == '\r' || S[Pos] == '\n' || S[Pos] == ' '))
        ++Pos;
}

// The structure of the file; returns the /Count of the page tree.
long long CheckPdf(const std::string& Pdf)
{
    if (Pdf.compare(0, 5, "%PDF-") != 0)
        Fail("no PDF header");
    const size_t eof = Pdf.rfind("%%EOF");
    if (eof == std::string::npos || Pdf.find_first_not_of("\r\n", eof + 5) != std::string::npos)
        Fail("the file does not end with %%EOF");
    const size_t sx = Pdf.rfind("startxref");
    if (sx == std::string::npos || sx > eof)
        Fail("no startxref");
    size_t p = sx + 9;
    const long long xrefAt = NumberAt(Pdf, p);
    if (xrefAt < 0 || size_t(xrefAt) >= Pdf.size() || Pdf.compare(size_t(xrefAt), 4, "xref") != 0)
        Fail("startxref does not point at xref:", std::to_string(xrefAt));
    p = size_t(xrefAt) + 4;
    const long long first = NumberAt(Pdf, p);
    const long long count = NumberAt(Pdf, p);
    if (first != 0 || count < 1)
        Fail("bad cross-reference subsection");
    SkipEol(Pdf, p);
    std::vector<size_t> offsets(size_t(count), 0);
    for (long long k = 0; k < count; ++k) {
        // Each entry is 20 bytes: ten digits, space, five digits, space, the
        // type, and a two-byte line end.
        if (p + 20 > Pdf.size())
            Fail("cross-reference section cut short");
        const std::string entry = Pdf.substr(p, 20);
        p += 20;
        if (entry[10] != ' ' || entry[16] != ' ' || (entry[17] != 'n' && entry[17] != 'f'))
            Fail("bad cross-reference entry:", entry);
        if (k == 0) {
            if (entry[17] != 'f')
                Fail("object 0 is not free");
            continue;
        }
        if (entry[17] != 'n')
            continue;
        size_t q = 0;
        const long long at = NumberAt(entry, q);
        const std::string head = std::to_string(k) + " 0 obj";
        if (at < 0 || size_t(at) + head.size() > Pdf.size() || Pdf.compare(size_t(at), head.size(), head) != 0)
            Fail("cross-reference entry does not point at its object:", head + " at " + std::to_string(at));
        if (at > 0 && Pdf[size_t(at) - 1] != '\n' && Pdf[size_t(at) - 1] != '\r')
            Fail("object does not start a line:", head);
        // The object ends before the next one begins.
        const size_t end = Pdf.find("endobj", size_t(at));
        if (end == std::string::npos || end > size_t(xrefAt))
            Fail("object without endobj:", head);
        offsets[size_t(k)] = size_t(at);
    }
    const size_t trailer = Pdf.find("trailer", p);
    if (trailer == std::string::npos || trailer > sx)
        Fail("no trailer after the cross-reference section");
    size_t s = Pdf.find("/Size", trailer);
    if (s == std::string::npos || s > sx)
        Fail("trailer without /Size");
    s += 5;
    if (NumberAt(Pdf, s) != count)
        Fail("trailer /Size differs from the cross-reference section");

    // The page tree, through the catalog the trailer names.
    auto object = [&](const char* Key, size_t From, size_t To) {
        size_t k = Pdf.find(Key, From);
        if (k == std::string::npos || k > To)
            Fail("missing", Key);
        k += std::strlen(Key);
        const long long n = NumberAt(Pdf, k);
        if (n < 1 || n >= count || offsets[size_t(n)] == 0)
            Fail("reference to a missing object after", Key);
        return offsets[size_t(n)];
    };
    const size_t catalog = object("/Root", trailer, sx);
    const size_t pages = object("/Pages", catalog, Pdf.find("endobj", catalog));
    const size_t pagesEnd = Pdf.find("endobj", pages);
    if (Pdf.find("/Type /Pages", pages) > pagesEnd)
        Fail("the catalog's /Pages is not a page tree");
    size_t c = Pdf.find("/Count", pages);
    if (c == std::string::npos || c > pagesEnd)
        Fail("page tree without /Count");
    c += 6;
    return NumberAt(Pdf, c);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 1)
        return 0;
    const uint8_t options = Data[0];
    const std::string& path = fuzz::WriteScratch(Data + 1, Size - 1);
    const std::string& pdf = PdfPath();
    std::remove(pdf.c_str());

    Globals().UseLineDrawFont = options & 1;
    Globals().LastErrorMessage.clear();
    static const int ranges[4][2] = {{0, 0}, {1, 1}, {2, 3}, {3, 2}};
    const int range = (options >> 1) & 3;
    {
        tRenderer r;
        r.Find.Text = (options & 8) ? "E" : "";
        TGauge gauge;
        r.OpenFile(path, &gauge);
        r.Job.UsePageRange = range ? 2 : 0;
        r.Job.RangeFrom = ranges[range][0];
        r.Job.RangeTo = ranges[range][1];
        const int result = r.MakePDF(&gauge, pdf);
        // A failure inside the pass that no tag handler catches (a text
        // position the PDF cannot express, a nesting counter past its range)
        // ends the job with result 2; what was drawn is still written.
        if (result != 0 && !(result == 2 && Globals().LastErrorMessage == "MakePDF: Error Rendering Document"))
            Fail("MakePDF failed:", std::to_string(result) + " " + Globals().LastErrorMessage);
        if (r.Printing || r.MakingPdf || r.PdfMaker || r.Rendering || r.Pass.Depth != 0)
            Fail("the renderer was not put back after the job");
        const std::string bytes = ReadAll(pdf);
        const long long pages = CheckPdf(bytes);
        if (pages < 1)
            Fail("a document without pages");
        if (range == 0 && result == 0 && pages != r.CurrentPage)
            Fail("page count differs from the pass:", std::to_string(pages) + " " + std::to_string(r.CurrentPage));
    }
    Globals().UseLineDrawFont = false;
    std::remove(pdf.c_str());
    fuzz::RemoveScratch();
    QCoreApplication::processEvents();
    return 0;
}
