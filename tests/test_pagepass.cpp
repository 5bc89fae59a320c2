// The page pass: line reading, line ends, form feeds, page counting, page
// ranges, search highlighting, abort, and bad input that must neither crash
// nor hang.
#include <cstdlib>
#include "tests/testutil.h"

#include "base/bytefile.h"
#include "engine/markup.h"

#include <chrono>
#include <map>
#include <random>

namespace quillard::test {
namespace {

// ---- GetLn ------------------------------------------------------------------

struct LineCase {
    const char* Name;
    std::string Bytes;
    std::vector<std::pair<std::string, std::string>> Lines;  // line, terminator
};

class GetLnTest : public EngineTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(GetLnTest, SplitsLinesAndTerminators)
{
    const LineCase& c = GetParam();
    TByteFile f;
    f.Open(Write(c.Bytes));
    std::vector<std::pair<std::string, std::string>> got;
    while (!f.Eof()) {
        std::string line, end;
        R->GetLn(f, line, end);
        got.emplace_back(line, end);
    }
    EXPECT_EQ(got, c.Lines);
}

INSTANTIATE_TEST_SUITE_P(
    LineEnds, GetLnTest,
    ::testing::Values(
        LineCase{"CrLf", "A\r\nB", {{"A", "\r\n"}, {"B", ""}}},
        LineCase{"Lf", "A\nB", {{"A", "\n"}, {"B", ""}}},
        LineCase{"Cr", "A\rB", {{"A", "\r"}, {"B", ""}}},
        LineCase{"LfLfAbsorbsBlankLine", "A\n\nB", {{"A", "\n\n"}, {"B", ""}}},
        LineCase{"CrLfCrLfKeepsBlankLine", "A\r\n\r\nB", {{"A", "\r\n"}, {"", "\r\n"}, {"B", ""}}},
        LineCase{"LfCr", "A\n\rB", {{"A", "\n\r"}, {"B", ""}}},
        LineCase{"FormFeedTerminates", "A\fB", {{"A", "\f"}, {"B", ""}}},
        LineCase{"CrLfThenFormFeed", "A\r\n\fB", {{"A", "\r\n"}, {"", "\f"}, {"B", ""}}},
        LineCase{"TabsAndBinaryStay", std::string("a\tb\0c\x01", 6) + "\n", {{std::string("a\tb\0c\x01", 6), "\n"}}},
        LineCase{"LongLineAcrossBlocks", std::string(1234, 'x') + "\r\n", {{std::string(1234, 'x'), "\r\n"}}},
        LineCase{"TerminatorAtBlockEdge", std::string(499, 'y') + "\r\nZ", {{std::string(499, 'y'), "\r\n"}, {"Z", ""}}}),
    [](const auto& info) { return std::string(info.param.Name); });

// The reader steps over text eight bytes at a time: a line end or the "{"
// of in-line data is found at every offset, near the edge of the file's
// buffer too, and a byte just below or above them is text.
TEST_F(EngineTest, GetLnFindsEveryStopAtEveryOffset)
{
    const size_t bufferEdge = 64 * 1024;
    for (size_t lead : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(15), bufferEdge - 9, bufferEdge - 3,
                        bufferEdge - 1, bufferEdge, bufferEdge + 5}) {
        for (const std::string& end : {std::string("\r\n"), std::string("\n"), std::string("\f"), std::string("\r")}) {
            // Bytes next to the line ends' values (0x0B, 0x0E, 0x09) and the
            // brace's (0x7A, 0x7C) are text.
            std::string text(lead, 'x');
            for (size_t i = 0; i < lead; i += 5)
                text[i] = "\x0b\x0e\x09\x7a\x7c"[i / 5 % 5];
            TByteFile f;
            f.Open(Write(text + end + "next"));
            std::string line, lineEnd;
            R->GetLn(f, line, lineEnd);
            ASSERT_EQ(line, text) << "lead " << lead;
            ASSERT_EQ(lineEnd, end) << "lead " << lead;
            R->GetLn(f, line, lineEnd);
            EXPECT_EQ(line, "next");
        }
        // A pass's reading stops right after the DATA=" of an image tag.
        const std::string tag = "{IMG DATALEN=2 DATA=\"";
        TByteFile f;
        f.Open(Write(std::string(lead, 'x') + tag + "ab\"}\r\n"));
        std::string line, lineEnd;
        R->GetLn(f, line, lineEnd, tRenderer::TLineReading{true});
        EXPECT_EQ(line, std::string(lead, 'x') + tag) << "lead " << lead;
        EXPECT_TRUE(R->Pass.LineCut);
        EXPECT_EQ(f.Position(), static_cast<int64_t>(lead + tag.size()));
    }
}

// ---- page counting ------------------------------------------------------------

struct CountCase {
    const char* Name;
    std::string Bytes;
    int Pages;
};

class CountPagesTest : public EngineTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(CountPagesTest, CountsPhysicalPages)
{
    R->OpenFile(Write(GetParam().Bytes), nullptr);
    EXPECT_EQ(R->CountPages(), GetParam().Pages);
    EXPECT_TRUE(Services.Messages.empty()) << Services.Messages.front().Caption;
}

INSTANTIATE_TEST_SUITE_P(
    Breaks, CountPagesTest,
    ::testing::Values(CountCase{"Empty", "", 1}, CountCase{"OneLine", "A\r\nB\r\n", 1},
                      CountCase{"TrailingPageTag", "A\r\n{PAGE}", 1}, CountCase{"TrailingPageTagAndLineEnd", "A\r\n{PAGE}\r\n", 1},
                      CountCase{"PageTagBetweenLines", "A\r\n{PAGE}\r\nB", 2}, CountCase{"PageTagInLine", "A{PAGE}B", 2},
                      CountCase{"FormFeedInLine", "A\fB", 2}, CountCase{"FormFeedInsideLine", "AB\fCD\r\n", 2},
                      CountCase{"TrailingFormFeed", "A\r\n\f", 1}, CountCase{"FormFeedTerminator", "A\f\r\nB", 2},
                      CountCase{"TwoPageTagsInARow", "{PAGE}{PAGE}x", 3}, CountCase{"LowerCasePageTag", "a{page}b", 2},
                      CountCase{"ThreeFormFeeds", "1\f2\f3\f", 3}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EngineTest, MissingReportDrawsNothingAndKeepsThePageCount)
{
    R->OpenFile(Write("1\f2\f3"), nullptr);
    ASSERT_EQ(R->CountPages(), 3);
    R->FileName = Dir.filePath("NOPE.TXT").toStdString();
    UsePage(1.0);
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_EQ(R->CurrentPage, 3);
    EXPECT_TRUE(Ink().Empty());
    EXPECT_EQ(R->Pass.Depth, 0);
    EXPECT_FALSE(R->Rendering);
}

TEST_F(EngineTest, UnreadableReportIsReportedAndForgotten)
{
    std::string dir = Dir.filePath("FOLDER.TXT").toStdString();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir)));
    R->FileName = dir;
    EXPECT_FALSE(R->RenderPages(nullptr, 0, nullptr, 0));
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Cannot Open File");
    EXPECT_EQ(Services.Messages[0].Text.rfind("Error opening \"" + dir + "\"\r\n", 0), 0u);
    EXPECT_TRUE(R->FileName.empty());
    EXPECT_EQ(R->Pass.Depth, 0);
}

// ---- page ranges ----------------------------------------------------------------

TEST_F(EngineTest, RangeDrawsOnlyItsPageAndStopsReadingAfterIt)
{
    const std::string report = "PAGE ONE\r\n\fPAGE TWO\r\n\fPAGE THREE\r\n\fPAGE FOUR\r\n\fPAGE FIVE findme\r\n";
    R->Find.Text = "FINDME";
    ASSERT_TRUE(RenderReport(report, 3));
    EXPECT_FALSE(Ink().Empty());
    EXPECT_EQ(R->CurrentPage, 3);
    EXPECT_EQ(R->Find.FoundPages, "");  // page five was never read
    EXPECT_NE(R->PageSpan().Text.find("PAGE THREE"), std::string::npos);
    EXPECT_EQ(R->PageSpan().Text.find("PAGE FOUR"), std::string::npos);

    // The same page drawn alone looks the same as page three drawn after
    // pages one and two were laid out.
    QImage third = Page->Image().copy();
    ASSERT_TRUE(RenderReport("PAGE THREE\r\n", 1));
    EXPECT_EQ(third, Page->Image());
}

// ---- the surface hears of the pages of the range -------------------------------

// A page surface that writes down what the pass tells it of its pages.
class TPageLogCanvas : public TImageCanvas {
public:
    using TImageCanvas::TImageCanvas;
    void StartPage(int Page) override { Log += "S" + std::to_string(Page) + " "; }
    void EndPage(int Page) override { Log += "E" + std::to_string(Page) + " "; }
    std::string Log;
};

struct SurfacePagesCase {
    const char* Name;
    int From, To;
    int AbortOnPage;  // 0: the pass runs to its end
    std::string Log;
};

class SurfacePagesTest : public EngineTest, public ::testing::WithParamInterface<SurfacePagesCase> {};

// Each page of the range starts and ends once, in order, and nothing is said
// of the pages outside it; a stopped pass still ends the page it was on.
TEST_P(SurfacePagesTest, EachPageOfTheRangeStartsAndEndsOnce)
{
    const SurfacePagesCase& c = GetParam();
    R->OpenFile(Write("one\r\n\ftwo\r\n{PAGE}three\r\n\ffour\r\n\ffive\r\n"), nullptr);
    R->MeasureOnScreen(96, 1.0);
    auto surface = std::make_unique<TPageLogCanvas>(R->Metrics.PageWidthPx, R->Metrics.PageHeightPx, 96, 96);
    TPageLogCanvas* log = surface.get();
    R->UsePageSurface(std::move(surface));
    if (c.AbortOnPage > 0)
        Services.OnPump = [&] {
            if (R->CurrentPage == c.AbortOnPage)
                R->Abort();
        };
    EXPECT_EQ(R->RenderPages(nullptr, c.From, nullptr, c.To), c.AbortOnPage == 0);
    Services.OnPump = nullptr;
    EXPECT_EQ(log->Log, c.Log);
    EXPECT_EQ(R->Pass.OpenPage, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, SurfacePagesTest,
    ::testing::Values(SurfacePagesCase{"All", -1, -1, 0, "S1 E1 S2 E2 S3 E3 S4 E4 S5 E5 "},
                      SurfacePagesCase{"Counting", 0, 0, 0, "S1 E1 S2 E2 S3 E3 S4 E4 S5 E5 "},
                      SurfacePagesCase{"Middle", 2, 3, 0, "S2 E2 S3 E3 "},
                      SurfacePagesCase{"One", 4, 4, 0, "S4 E4 "},
                      SurfacePagesCase{"RunsPastTheEnd", 5, 9, 0, "S5 E5 "},
                      SurfacePagesCase{"BeyondTheReport", 7, 9, 0, ""},
                      SurfacePagesCase{"Stopped", -1, -1, 3, "S1 E1 S2 E2 S3 E3 "}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- the count ------------------------------------------------------------------

struct CountNotesCase {
    const char* Name;
    std::string Report;
};

class CountNotesTest : public EngineTest, public ::testing::WithParamInterface<CountNotesCase> {};

// A count draws nothing, yet it gives the page count and the lines below
// the bottom of each page that a pass drawing every page gives, and leaves
// the page white.
TEST_P(CountNotesTest, CountsAndNotesAsAPassThatDrawsEveryPage)
{
    R->OpenFile(Write(GetParam().Report), nullptr);
    UsePage(1.0);
    ASSERT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    const int drawnPages = R->CurrentPage;
    const std::map<int, int> drawnBelow = R->LinesBelowBottom;
    UsePage(1.0);
    ASSERT_TRUE(R->CountPass());
    EXPECT_EQ(R->CurrentPage, drawnPages);
    EXPECT_EQ(R->LinesBelowBottom, drawnBelow);
    EXPECT_TRUE(Ink().Empty());
}

std::string Repeated(const std::string& Line, int N)
{
    std::string r;
    for (int i = 0; i < N; ++i)
        r += Line;
    return r;
}

std::string NumberedLines(int N, const std::string& Before = "")
{
    std::string r = Before;
    for (int i = 1; i <= N; ++i)
        r += "Line " + std::to_string(i) + "\r\n";
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Reports, CountNotesTest,
    ::testing::Values(CountNotesCase{"Fits", NumberedLines(40)},
                      CountNotesCase{"RunsOver", NumberedLines(90)},
                      CountNotesCase{"RunsOverTwoPages", NumberedLines(70) + "\f" + NumberedLines(75)},
                      CountNotesCase{"BlankAndTabLinesBelow", NumberedLines(60) + "\r\n\t\r\n   \r\nlast\r\n"},
                      CountNotesCase{"LargeFont", NumberedLines(50, "{FONT SIZE=24}")},
                      CountNotesCase{"SmallPitch", NumberedLines(120, "{CPI17}")},
                      CountNotesCase{"Superscript", NumberedLines(64) + "x{SUP}2{/SUP}\r\n"},
                      CountNotesCase{"PagePerForm", NumberedLines(30) + "{PAGE}" + NumberedLines(80)},
                      // A tag after a line's first run moves the cursor from
                      // where the run put it.
                      CountNotesCase{"TagAfterTheFirstRun", Repeated("Line{GOBY TOP=0.01}\r\n", 70)},
                      CountNotesCase{"TagAfterTheFirstRunPaginated",
                                     "{INIT PAGINATE}\r\n" + Repeated("Line{GOBY TOP=0.01}\r\n", 56)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EngineTest, PageBeyondTheReportDrawsNothing)
{
    ASSERT_TRUE(RenderReport("one\ftwo", 5));
    EXPECT_TRUE(Ink().Empty());
    EXPECT_EQ(R->CurrentPage, 2);
}

// ---- search highlighting ----------------------------------------------------------

TEST_F(EngineTest, SearchRecordsEachPageWithHitsOnce)
{
    R->Find.Text = "  widget ";
    R->Find.CaseSensitive = false;
    RenderReport("nothing here\r\n\fWidget and WIDGET\r\nmore widgets\r\n\fnone\r\n\fa widget{PAGE}", 0);
    EXPECT_EQ(R->Find.FoundPages, ",2,,4,");
    EXPECT_NE(R->PageSpan().Text.find("{FONT COLOR=BLACK BGCOLOR=CYAN BGSTYLE=\"SOLID\"}"), std::string::npos);

    R->Find.CaseSensitive = true;
    R->Find.Text = "WIDGET";
    RenderReport("nothing here\r\n\fWidget and WIDGET\r\nmore widgets\r\n\fnone\r\n\fa widget{PAGE}", 0);
    EXPECT_EQ(R->Find.FoundPages, ",2,");
}

TEST_F(EngineTest, SearchNeverMatchesInsideTags)
{
    R->Find.Text = "PAGE";
    RenderReport("a{PAGE}b", 0);
    EXPECT_EQ(R->Find.FoundPages, "");
    EXPECT_EQ(R->CurrentPage, 2);
}

// ---- abort ---------------------------------------------------------------------------

TEST_F(EngineTest, AbortStopsThePassBeforeTheNextLine)
{
    std::string report;
    for (int i = 0; i < 200; ++i)
        report += "line " + std::to_string(i) + "\f";
    R->OpenFile(Write(report), nullptr);
    Services.Pumps = 0;  // the header scan pumps once per line too
    Services.OnPump = [&] {
        if (Services.Pumps == 20)
            R->Abort();
    };
    EXPECT_FALSE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_LT(R->CurrentPage, 20);
    EXPECT_FALSE(R->Rendering);
    EXPECT_FALSE(R->FileOpen);
    EXPECT_EQ(R->Pass.Depth, 0);

    // The next pass starts afresh.
    Services.OnPump = nullptr;
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_EQ(R->CurrentPage, 200);
}

TEST_F(EngineTest, GaugeAdvancesOncePerLine)
{
    R->OpenFile(Write("a\r\nb\r\nc\r\nd"), nullptr);
    TGauge g;
    g.MaxValue = 100;
    ASSERT_TRUE(R->RenderPages(&g, 0, nullptr, 0));
    EXPECT_EQ(g.Progress, 1 + 4);
}

// ---- line-drawing bytes ------------------------------------------------------------

TEST_F(EngineTest, BoxDrawingBytesBecomeLineFieldsUnlessTheLineDrawFontIsOn)
{
    // (C4 B3 alone would also be valid UTF-8: the report is Windows-1252.)
    R->EncodingChoice = tRenderer::TEncodingChoice::Cp1252;
    RenderReport("a\xC4\xB3z", 0);
    EXPECT_EQ(R->PageSpan().Text, "a{FIELD CODE=\"LINE\" CHAR=\"#196\"}{FIELD CODE=\"LINE\" CHAR=\"#179\"}z");
    Globals().UseLineDrawFont = true;
    RenderReport("a\xC4\xB3z", 0);
    EXPECT_EQ(R->PageSpan().Text, "a\xC4\xB3z");
}

// ---- bad input ------------------------------------------------------------------------

struct BadInput {
    const char* Name;
    std::function<std::string()> Make;
};

class BadInputTest : public EngineTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, PassEndsWithoutCrashOrHang)
{
    // A hang is caught by the test's time limit in ctest; how fast these
    // passes are is measured by the benchmarks (bench/longline_bench).
    const std::string bytes = GetParam().Make();
    R->OpenFile(Write(bytes), nullptr);
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_GE(R->CurrentPage, 1);
    ASSERT_TRUE(RenderReport(bytes, 1));
    EXPECT_EQ(R->Pass.Depth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, BadInputTest,
    ::testing::Values(
        BadInput{"BinaryGarbage",
                 [] {
                     std::mt19937 rng(7);
                     std::string s(256 * 1024, '\0');
                     for (char& c : s)
                         c = static_cast<char>(rng());
                     return s;
                 }},
        BadInput{"TenMegabyteLine", [] { return std::string(10 * 1024 * 1024, 'x'); }},
        BadInput{"TenMegabytesOfTags",
                 [] {
                     std::string s;
                     for (int i = 0; i < 400000; ++i)
                         s += "{B}x{/B}{U}";
                     return s;
                 }},
        BadInput{"UnbalancedBraces", [] { return std::string("}}}{{{\r\n{B{I}x}}\r\n{\r\n}\r\n{{{{"); }},
        BadInput{"TagNeverClosed", [] { return std::string("text {GOTO X=1in\r\nmore\r\nand more\r\n"); }},
        BadInput{"HugeBraceFreeThenTagPast1000", [] { return std::string(5000, 'a') + "{B}" + std::string(5000, 'b'); }},
        BadInput{"ThirtyNestedStyles",
                 [] {
                     std::string s;
                     for (int i = 0; i < 30; ++i)
                         s += "{B}{I}{U}{STRIKE}{SUPER}";
                     s += "deep";
                     for (int i = 0; i < 31; ++i)
                         s += "{/B}{/I}{/U}{/STRIKE}{/SUPER}";
                     return s + "\r\nshallow";
                 }},
        BadInput{"HugeNumbers",
                 [] {
                     return std::string("{GOTO X=99999999999999999999in Y=-1e308}x{GOBY X=1e400 Y=.}y{LPI=99999999999}z\r\n"
                                        "{LPP=2147483647}a{LPI=1}{LPP=0}{CPI17}b{GOTO X=100000%}c");
                 }},
        BadInput{"InlineDataClaimingTooMuch", [] { return std::string("{IMG DATALEN=999999999 DATA=\"abc\"}\r\nnext\r\n"); }},
        BadInput{"OnlyLineEnds", [] { return std::string(100000, '\n') + std::string(100000, '\f'); }}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quillard::test
