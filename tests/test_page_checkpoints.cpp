// A page drawn after a count goes on from where the count noted that its page
// starts, and looks exactly as the page a pass from the first line draws.
#include "engine/renderer.h"
#include "tests/pdftestutil.h"
#include "test_image_util.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QImage>

#include <functional>

namespace quillard::test {
namespace {

std::string Lines(int N, const std::function<std::string(int)>& Line)
{
    std::string r;
    for (int i = 1; i <= N; ++i)
        r += Line(i) + "\r\n";
    return r;
}

std::string Pages(int N, const std::function<std::string(int)>& Page, const std::string& Between = "\f")
{
    std::string r;
    for (int p = 1; p <= N; ++p)
        r += Page(p) + (p < N ? Between : "");
    return r;
}

struct ReportCase {
    const char* Name;
    std::function<std::string()> Report;
    // Set up on the renderer before the report is opened.
    std::function<void(tRenderer&)> Prepare = {};
    // Extra files beside the report.
    std::vector<std::pair<std::string, std::string>> Files = {};
};

std::string Logo() { return MakeBmp24(30, 12, [](int X, int Y) { return uint32_t((X * 8) << 16 | (Y * 20) << 8 | 90); }); }

const ReportCase Cases[] = {
    {"PlainPagesWithFormFeedsAtLineStarts",
     [] { return Pages(12, [](int p) { return "Statement " + std::to_string(p) + "\r\n" + Lines(50, [](int l) { return "line " + std::to_string(l); }); }); }},
    {"FontsLeftOpenOverPageEnds",
     [] {
         return Pages(9, [](int p) {
             return "{FONT NAME=\"Arial\" SIZE=" + std::to_string(8 + p) + "}{B}Head " + std::to_string(p) + "{/B}\r\n" +
                    Lines(20, [](int l) { return "{I}row{/I} " + std::to_string(l) + "{GOTO X=4in}" + std::to_string(l * 7); }) +
                    "{PEN WIDTH=3 COLOR=RED}{ALIGN CENTER}centred";
         });
     }},
    {"BreaksInsideLinesAndPendingOverBlankLines",
     [] {
         return Pages(8, [](int p) {
             return "first " + std::to_string(p) + "{PAGE}second half\r\n\r\n\r\ntext\fafter feed\r\n" +
                    "one{PAGE}two{PAGE}\r\nthree\r\n" +
                    Lines(10, [](int l) { return "r" + std::to_string(l); }) + "{PAGE}\r\n\r\n\r\n";
         }, "");
     }},
    {"SpansHeadersAndFooters",
     [] {
         return "{HEADER HEIGHT=0.5in REPEAT=YES}{B}Running head{/B}{/HEADER}{FOOTER HEIGHT=0.4in REPEAT=Y}foot{/FOOTER}\r\n" +
                Pages(7, [](int p) {
                    return "{SPAN TOP=2in LEFT=1in WIDTH=3in HEIGHT=2in CLIP}{PEN WIDTH=1}{RECT AT=0in,0in TO=100%,100%}{/PEN}" +
                           Lines(6, [p](int l) { return "in span " + std::to_string(p * 10 + l); }) + "{/SPAN}" +
                           Lines(30, [](int l) { return "body " + std::to_string(l); });
                });
     }},
    {"SpanOpenOverAPageBreak",
     [] {
         return Pages(6, [](int p) {
             return "{SPAN TOP=1in LEFT=1in WIDTH=5in HEIGHT=6in}" + Lines(8, [p](int l) { return "open " + std::to_string(p + l); }) +
                    "{PAGE}still open\r\n{/SPAN}after";
         });
     }},
    {"PageNumberFieldsAndStyles",
     [] {
         return "{FIELD CODE=PAGE START=40 STYLE=ROMAN}\r\n" +
                Pages(10, [](int p) { return "Page {FIELD CODE=PAGE} of ten\r\n" + Lines(5, [p](int l) { return std::to_string(p * l); }); });
     }},
    {"PaginatedWithoutFormFeeds",
     [] { return "{INIT PAGINATE}\r\n" + Lines(400, [](int l) { return "{CPI12}entry " + std::to_string(l) + (l % 7 ? "" : "{GOBY TOP=0.05}"); }); }},
    {"PlainTextWithLongLines",
     [] { return Lines(300, [](int l) { return std::string(l % 5 ? 30 : 260, char('a' + l % 26)) + " {not a tag} & " + std::to_string(l); }); },
     [](tRenderer& R) { R.SetupOverrides.PlainText = true; }},
    {"TerminalStylesOverLines",
     [] {
         return Pages(6, [](int p) {
             return "\x1b[1mbold from here\r\n" + Lines(25, [](int l) { return "still " + std::to_string(l); }) +
                    "N\bNA\bAM\bME\bE " + std::to_string(p) + "\r\n\x1b[0m";
         });
     }},
    {"RotatedFontAcrossPages",
     [] {
         return Pages(5, [](int p) {
             return "{FONT NAME=\"Arial\" SIZE=14 ROTATION=90}{GOTO X=2in Y=5in}up " + std::to_string(p) + "\r\n" +
                    Lines(12, [](int l) { return "x" + std::to_string(l); });
         });
     }},
    {"PicturesFromFilesAndInLine",
     [] {
         const std::string logo = Logo();
         return Pages(6, [&](int p) {
             return "{IMAGE SRC=LOGO.BMP LEFT=5in TOP=0.5in}Page " + std::to_string(p) +
                    "\r\n{IMG LEFT=1in TOP=2in DATALEN=" + std::to_string(logo.size()) + " DATA=\"" + logo + "\"} after data\r\n" +
                    Lines(15, [](int l) { return "row " + std::to_string(l); });
         });
     },
     {},
     {{"LOGO.BMP", Logo()}}},
    {"SearchHighlights",
     [] { return Pages(8, [](int p) { return Lines(30, [p](int l) { return (l % 9 == p % 9 ? "find me " : "other ") + std::to_string(l); }); }); },
     [](tRenderer& R) { R.Find.Text = "find me"; }},
    {"Utf8Report",
     [] { return Pages(6, [](int p) { return "Überschrift " + std::to_string(p) + " — Ωmega\r\n" + Lines(40, [](int l) { return "Straße " + std::to_string(l) + " ┌──┐"; }); }); }},
};

// Every example report, four times over.
std::vector<ReportCase> WithExamples()
{
    std::vector<ReportCase> all(std::begin(Cases), std::end(Cases));
    static const char* const Examples[][2] = {
        {"ExampleStatement", "statement.txt"},         {"ExampleInvoice", "invoice.txt"},
        {"ExampleLedger", "ledger.txt"},               {"ExampleForm", "form.txt"},
        {"ExampleLinuxReadme", "linux/README-lf.txt"}, {"ExampleCp437Ledger", "linux/ledger-cp437.txt"},
        {"ExampleManualPage", "linux/manual-page.txt"}, {"ExampleUtf8Statement", "linux/statement-utf-8.txt"},
    };
    for (const auto& [name, file] : Examples) {
        const std::string path = std::string(QUILLARD_SOURCE_DIR "/examples/") + file;
        all.push_back({name, [path] { return Pages(4, [&](int) { return ReadBytes(path); }); }});
    }
    return all;
}

void PrintTo(const ReportCase& Case, std::ostream* Out) { *Out << Case.Name; }

class PageCheckpointTest : public EngineTest, public ::testing::WithParamInterface<ReportCase> {
protected:
    std::string ReportPath;

    void OpenReport(tRenderer& Renderer)
    {
        if (GetParam().Prepare)
            GetParam().Prepare(Renderer);
        ASSERT_TRUE(Renderer.OpenFile(ReportPath, nullptr));
    }

    // Page N drawn by a renderer that laid nothing out before.
    QImage DrawnFromTheStart(int N, int& PagesLaidOut, std::map<int, int>& Below, std::string& Found)
    {
        R = std::make_unique<tRenderer>();
        OpenReport(*R);
        UsePage(1.0);
        EXPECT_TRUE(R->RenderPages(nullptr, N, nullptr, N));
        EXPECT_EQ(R->LastPassStart(), 1);
        PagesLaidOut = R->CurrentPage;
        Below = R->LinesBelowBottom;
        Found = R->Find.FoundPages;
        return Page->Image().copy();
    }
};

TEST_P(PageCheckpointTest, EveryPageAfterACountLooksAsFromTheFirstLine)
{
    for (const auto& [name, bytes] : GetParam().Files)
        Write(bytes, name);
    ReportPath = Write(GetParam().Report());

    // A second renderer counts, then draws every page: each goes on from
    // where the count (or the pass before) noted the page before it starts.
    auto counted = std::make_unique<tRenderer>();
    std::swap(R, counted);
    OpenReport(*R);
    UsePage(1.0);
    ASSERT_TRUE(R->CountPass());
    const int pages = R->CurrentPage;
    std::swap(R, counted);
    ASSERT_GE(pages, 4) << "the report should run over several pages";

    int wentOn = 0;
    for (int n = 1; n <= pages + 1; ++n) {
        int laidOut = 0;
        std::map<int, int> below;
        std::string found;
        const QImage expected = DrawnFromTheStart(n, laidOut, below, found);
        std::swap(R, counted);
        UsePage(1.0);
        ASSERT_TRUE(R->RenderPages(nullptr, n, nullptr, n));
        const QImage got = Page->Image().copy();
        const int start = R->LastPassStart();
        const int gotPages = R->CurrentPage;
        const std::map<int, int> gotBelow = R->LinesBelowBottom;
        const std::string gotFound = R->Find.FoundPages;
        std::swap(R, counted);
        EXPECT_LT(start, std::max(n, 2)) << "page " << n;
        if (start > 1)
            ++wentOn;
        EXPECT_EQ(gotPages, laidOut) << "page " << n;
        EXPECT_EQ(gotBelow, below) << "page " << n;
        EXPECT_EQ(gotFound, found) << "page " << n;
        EXPECT_TRUE(got == expected) << "page " << n << " went on from page " << start << " and differs";
    }
    // Every page from the third on goes on from a page noted before it.
    EXPECT_GE(wentOn, pages - 2);
}

INSTANTIATE_TEST_SUITE_P(Reports, PageCheckpointTest, ::testing::ValuesIn(WithExamples()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// What a count noted holds for the layout it counted: after any change
// that may move a line the next page is laid out from the first line again,
// and looks as a fresh renderer draws it.
struct ChangeCase {
    const char* Name;
    std::function<void(EngineTest&, tRenderer&, const std::string& Report)> Change;
};

class LayoutChangeTest : public EngineTest, public ::testing::WithParamInterface<ChangeCase> {
protected:
    void Expose(double Zoom) { UsePage(Zoom); }
    friend struct ChangeCase;
};

std::string NumberedPages(int N, const std::string& Word)
{
    return Pages(N, [&](int p) { return Word + " " + std::to_string(p) + "\r\n" + Lines(20, [](int l) { return "line " + std::to_string(l); }); });
}

TEST_P(LayoutChangeTest, TheNextPassStartsAtTheFirstLine)
{
    const std::string report = Write(NumberedPages(8, "page"));
    ASSERT_TRUE(R->OpenFile(report, nullptr));
    UsePage(1.0);
    ASSERT_TRUE(R->CountPass());
    ASSERT_EQ(R->CurrentPage, 8);
    GetParam().Change(*this, *R, report);
    const double zoom = R->GetScale();
    UsePage(zoom);
    ASSERT_TRUE(R->RenderPages(nullptr, 6, nullptr, 6));
    EXPECT_EQ(R->LastPassStart(), 1);
    const QImage got = Page->Image().copy();

    auto fresh = std::make_unique<tRenderer>();
    fresh->SetupOverrides = R->SetupOverrides;
    fresh->Find = R->Find;
    std::swap(R, fresh);
    ASSERT_TRUE(R->OpenFile(report, nullptr));
    UsePage(zoom);
    ASSERT_TRUE(R->RenderPages(nullptr, 6, nullptr, 6));
    EXPECT_TRUE(Page->Image() == got);
    // Drawn again, the page goes on from what the pass before noted.
    std::swap(R, fresh);
    UsePage(zoom);
    ASSERT_TRUE(R->RenderPages(nullptr, 6, nullptr, 6));
    EXPECT_GT(R->LastPassStart(), 1);
    EXPECT_TRUE(Page->Image() == got);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, LayoutChangeTest,
    ::testing::Values(ChangeCase{"Zoom", [](EngineTest&, tRenderer& R, const std::string&) { R.SetScale(1.5); }},
                      ChangeCase{"ReportRewritten",
                                 [](EngineTest&, tRenderer&, const std::string& Report) {
                                     std::ofstream(Report, std::ios::binary | std::ios::trunc) << NumberedPages(9, "sheet");
                                 }},
                      ChangeCase{"SearchText", [](EngineTest&, tRenderer& R, const std::string&) { R.Find.Text = "line 1"; }},
                      ChangeCase{"LinesPerPage",
                                 [](EngineTest&, tRenderer& R, const std::string&) { R.SetupOverrides.LinesPerPage = 30; }},
                      ChangeCase{"PlainText",
                                 [](EngineTest&, tRenderer& R, const std::string&) { R.SetupOverrides.PlainText = true; }}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// However long the report, the pages a pass lays out before the one it
// draws stay few: the noted pages thin out as they grow in number.
TEST_F(EngineTest, ALongReportKeepsPageStartsNearEveryPage)
{
    const int pages = 3000;
    R->OpenFile(Write(Pages(pages, [](int p) { return "p" + std::to_string(p) + "\r\nx"; })), nullptr);
    UsePage(1.0);
    ASSERT_TRUE(R->CountPass());
    ASSERT_EQ(R->CurrentPage, pages);
    for (int n : {2, 3, 700, 2048, 2999, 3000}) {
        UsePage(1.0);
        ASSERT_TRUE(R->RenderPages(nullptr, n, nullptr, n));
        EXPECT_LT(R->LastPassStart(), n);
        EXPECT_GE(R->LastPassStart(), n - 16) << "page " << n;
        EXPECT_FALSE(Ink().Empty());
    }
}

}  // namespace
}  // namespace quillard::test
