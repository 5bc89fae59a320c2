// The tag families on a real 96-dpi page: fonts, alignment and pens, spans
// and their frames, drawing tags, fields and box-drawing bytes.
#include "tests/testutil.h"

#include "engine/markup.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <queue>
#include <set>
#include <sys/stat.h>

namespace quillard::test {
namespace {

constexpr double Inch = 96.0;

// Page inches of the page span (which starts at the printable area) to pixels.
int Px(double InchesFromSpan) { return static_cast<int>(std::lround(InchesFromSpan * Inch)); }

class TagTest : public EngineTest {
protected:
    QImage Draw(const std::string& Report, int Page = 1)
    {
        EXPECT_TRUE(RenderReport(Report, Page));
        return Page_().copy();
    }
    const QImage& Page_() { return Page->Image(); }

    // Whether the white region around (X, Y) is closed off from the border.
    bool Enclosed(int X, int Y)
    {
        const QImage& img = Page_();
        std::vector<char> seen(size_t(img.width()) * img.height(), 0);
        std::queue<std::pair<int, int>> todo;
        todo.push({X, Y});
        while (!todo.empty()) {
            auto [x, y] = todo.front();
            todo.pop();
            if (x < 0 || y < 0 || x >= img.width() || y >= img.height())
                continue;
            char& s = seen[size_t(y) * img.width() + x];
            if (s || IsInk(img.pixel(x, y)))
                continue;
            s = 1;
            if (x == 0 || y == 0 || x == img.width() - 1 || y == img.height() - 1)
                return false;
            todo.push({x + 1, y});
            todo.push({x - 1, y});
            todo.push({x, y + 1});
            todo.push({x, y - 1});
        }
        return true;
    }
};

// ---- figures at their pixels ------------------------------------------------------

struct FigureCase {
    const char* Name;
    std::string Report;
    TInkBox Expected;  // tolerance of one pixel on each side
};

class FigureTest : public TagTest, public ::testing::WithParamInterface<FigureCase> {};

TEST_P(FigureTest, InkFillsItsBox)
{
    Draw(GetParam().Report);
    TInkBox ink = Ink();
    const TInkBox& e = GetParam().Expected;
    ASSERT_FALSE(ink.Empty());
    EXPECT_NEAR(ink.Left, e.Left, 1);
    EXPECT_NEAR(ink.Top, e.Top, 1);
    EXPECT_NEAR(ink.Right, e.Right, 1);
    EXPECT_NEAR(ink.Bottom, e.Bottom, 1);
    EXPECT_TRUE(Services.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FigureTest,
    ::testing::Values(
        FigureCase{"RectAtTo", "{RECT AT=1in,1in TO=3in,2in}", {Px(1), Px(1), Px(3) - 1, Px(2) - 1}},
        FigureCase{"RectWidthHeight", "{GOTO X=1in Y=1in}{RECT WIDTH=2in HEIGHT=1in}", {Px(1), Px(1), Px(3) - 1, Px(2) - 1}},
        FigureCase{"RectSize", "{RECT AT=1in,1in SIZE=2in,1in}", {Px(1), Px(1), Px(3) - 1, Px(2) - 1}},
        FigureCase{"RectAbsolute", "{RECT ABS AT=1.25in,1.04in TO=3.25in,2.04in}", {Px(1), Px(1), Px(3) - 1, Px(2) - 1}},
        FigureCase{"CircleCentred", "{CIRCLE AT=2in,2in RADIUS=1in}", {Px(1), Px(1), Px(3) - 1, Px(3) - 1}},
        FigureCase{"OvalAtCursor", "{GOTO X=1in Y=1in}{OVAL WIDTH=2in HEIGHT=1in}", {Px(1), Px(1), Px(3) - 1, Px(2) - 1}},
        FigureCase{"LineTo", "{GOTO X=1in Y=1in}{LINE TO=2in,1in}", {Px(1), Px(1), Px(2) - 1, Px(1) + 1}},
        FigureCase{"LineEast", "{GOTO X=1in Y=1in}{LINE DIR=EAST LEN=3in}", {Px(1), Px(1), Px(4) - 1, Px(1) + 1}},
        FigureCase{"LineNorth", "{GOTO X=1in Y=2in}{LINE DIR=NORTH LEN=1in}", {Px(1), Px(1) + 1, Px(1) + 1, Px(2)}},
        FigureCase{"LineWide", "{GOTO X=1in Y=1in}{LINE TO=2in,1in WIDTH=6}", {Px(1) - 3, Px(1) - 3, Px(2) + 2, Px(1) + 2}},
        FigureCase{"PieQuarter", "{PIE AT=2in,2in RADIUS=1in BEGIN=0 END=90}", {Px(2), Px(1), Px(3) - 1, Px(2)}},
        FigureCase{"Triangle", "{POLYGON POINTS=1in,1in;2in,1in;2in,2in}", {Px(1), Px(1), Px(2), Px(2)}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TagTest, HighlightPaintsTheLineBandAcrossTheSpan)
{
    Draw("x{HIGHLIGHTLINE COLOR=YELLOW}");
    auto yellow = [](QRgb c) { return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) < 60; };
    TInkBox band = InkBox(Page_(), yellow);
    ASSERT_FALSE(band.Empty());
    EXPECT_EQ(band.Left, 0);
    EXPECT_NEAR(band.Right, Page_().width() - 1, 1);  // a rectangle without outline ends a pixel short
    EXPECT_NEAR(band.Bottom - band.Top + 1, R->PageSpan().LineHeight * Inch, 1.5);
}

TEST_F(TagTest, LineWithoutEndDrawsNothingAndKeepsThePen)
{
    Draw("{LINE}{LINE DIR=45}");
    EXPECT_TRUE(Ink().Empty());
    EXPECT_EQ(R->PageSpan().PenIndex, 1);
}

TEST_F(TagTest, LineToChainsSegments)
{
    Draw("{GOTO X=1in Y=1in}{LINETO TO=2in,1in}{LINETO TO=2in,2in}");
    TInkBox ink = Ink();
    EXPECT_NEAR(ink.Right, Px(2), 2);
    EXPECT_NEAR(ink.Bottom, Px(2), 2);
    EXPECT_NEAR(R->PageSpan().CursorX, 2.0, 1e-9);
    EXPECT_NEAR(R->PageSpan().CursorY, 2.0, 1e-9);
}

TEST_F(TagTest, LineColourIsRestoredAndClippedAtTheSpanEdge)
{
    Draw("{SPAN LEFT=0.25in WIDTH=6in CLIP}{GOTO X=1in Y=1in}{LINE TO=9in,1in COLOR=RED WIDTH=3}x");
    auto red = [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60; };
    TInkBox line = InkBox(Page_(), red);
    ASSERT_FALSE(line.Empty());
    EXPECT_LE(line.Right, Px(6) + 1);
    EXPECT_EQ(Page->Pen.Color & 0xFFFFFF, 0u);
}

TEST_F(TagTest, PolygonTakesAtMostThirtyPoints)
{
    std::string points;
    for (int i = 0; i < 40; ++i)
        points += std::to_string(i < 30 ? 1 + (i % 2) : 7) + "in," + std::to_string(1 + i * 0.1) + "in;";
    Draw("{POLYGON POINTS=" + points + "}");
    EXPECT_LE(Ink().Right, Px(2) + 1);
}

// ---- pens ------------------------------------------------------------------------------

TEST_F(TagTest, XorPenInvertsWhatItCrosses)
{
    Draw("{PEN FILLCOLOR=BLACK FILLSTYLE=SOLID}{RECT AT=1in,1in TO=2in,2in}{/PEN}"
         "{PEN MODE=XOR COLOR=WHITE WIDTH=3}{GOTO X=0.5in Y=1.5in}{LINE TO=2.5in,1.5in}");
    const QImage& img = Page_();
    const int y = Px(1.5);
    EXPECT_EQ(qGray(img.pixel(Px(1.5), y)), 255);  // black box turned white
    EXPECT_LT(qGray(img.pixel(Px(0.75), y)), 10);  // white paper turned black
    EXPECT_LT(qGray(img.pixel(Px(1.5), Px(1.25))), 10);
}

TEST_F(TagTest, PenStyleNoneHidesOutlinesAndUnknownWordsKeepTheStyle)
{
    Draw("{PEN STYLE=NONE}{RECT AT=1in,1in TO=2in,2in}");
    EXPECT_TRUE(Ink().Empty());
    Draw("{PEN STYLE=WAVY}{RECT AT=1in,1in TO=2in,2in}");
    EXPECT_FALSE(Ink().Empty());
    EXPECT_EQ(R->PageSpan().Pen().Style, psInsideFrame);
}

TEST_F(TagTest, PenStackIsBoundedAndPopsBack)
{
    std::string r;
    for (int i = 0; i < 25; ++i)
        r += "{PEN WIDTH=" + std::to_string(i + 1) + "}";
    Draw(r);
    EXPECT_EQ(R->PageSpan().PenIndex, 20);
    EXPECT_EQ(R->PageSpan().Pen().Width, 25);  // changed in place at the top
    r.clear();
    for (int i = 0; i < 25; ++i)
        r += "{/PEN}";
    Draw("{PEN WIDTH=9}" + r);
    EXPECT_EQ(R->PageSpan().PenIndex, 1);
    EXPECT_EQ(Page->Pen.Width, 2);
}

// ---- fonts and alignment ---------------------------------------------------------------------

TEST_F(TagTest, FontChangesAndPopsBackWithItsLineHeight)
{
    Draw("{FONT NAME=ARIAL SIZE=14}x");
    const double big = R->PageSpan().LineHeight;
    Draw("x");
    const double normal = R->PageSpan().LineHeight;
    Draw("{FONT NAME=ARIAL SIZE=40}x{/FONT}y");
    EXPECT_DOUBLE_EQ(R->PageSpan().LineHeight, normal);
    EXPECT_EQ(R->PageSpan().Font().Name, "Courier New");
    EXPECT_NE(big, normal);
}

TEST_F(TagTest, FontSizeZeroOrTextChangesNothingButPushes)
{
    Draw("{FONT SIZE=0}{FONT SIZE=ABC}x");
    EXPECT_EQ(R->PageSpan().FontIndex, 3);
    EXPECT_EQ(R->PageSpan().Font().Size, 12);
}

TEST_F(TagTest, BackgroundColourAloneShows)
{
    Draw("{FONT BGCOLOR=YELLOW}xx");
    auto yellow = [](QRgb c) { return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) < 60; };
    EXPECT_FALSE(InkBox(Page_(), yellow).Empty());
}

TEST_F(TagTest, FiftyOneNestedFontsEndAtTheFirstEntry)
{
    std::string r;
    for (int i = 0; i < 51; ++i)
        r += "{FONT SIZE=" + std::to_string(10 + i % 5) + "}";
    for (int i = 0; i < 51; ++i)
        r += "{/FONT}";
    Draw(r + "x");
    EXPECT_EQ(R->PageSpan().FontIndex, 1);
    EXPECT_EQ(R->PageSpan().Font().Size, 12);
}

TEST_F(TagTest, FontColourAndRotation)
{
    Draw("{FONT COLOR=RED}HHHH");
    auto red = [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80; };
    EXPECT_FALSE(InkBox(Page_(), red).Empty());

    Draw("{GOTO X=2in Y=3in}{FONT ROTATION=90}HHHHHHHH");
    TInkBox up = Ink();
    EXPECT_GT(up.Bottom - up.Top, up.Right - up.Left);  // runs upwards
    EXPECT_LE(up.Bottom, Px(3 - 0.04 + 0.1) + 2);
}

TEST_F(TagTest, AlignRightEndsAtTheEdgeAndPopsBack)
{
    Draw("{ALIGN=RIGHT}Total");
    TInkBox ink = Ink();
    EXPECT_NEAR(ink.Right, Px(8.25) - 1, 4);
    Draw("{ALIGN=RIGHT}{/ALIGN}Left");
    EXPECT_LE(Ink().Left, 2);
    Draw("{ALIGN=MIDDLE}x");
    EXPECT_EQ(R->PageSpan().AlignIndex, 1);
    Draw("{ALIGN CENTER}x");
    EXPECT_EQ(R->PageSpan().AlignIndex, 1);
}

TEST_F(TagTest, CentredTextCentresOnTheSpan)
{
    Draw("{ALIGN=CENTER}Hello {B}World{/B}");
    TInkBox ink = Ink();
    EXPECT_NEAR((ink.Left + ink.Right) / 2.0, Px(8.25) / 2.0, 6);
}

// ---- spans ---------------------------------------------------------------------------------------

TEST_F(TagTest, InitInTheBodySetsTheMarginsOfThePageSpan)
{
    Draw("{INIT LEFT=1in TOP=1in RIGHT=1in BOTTOM=1in PAGINATE}x");
    const tSpan& s = R->PageSpan();
    EXPECT_EQ(R->SpanIndex, 1);
    EXPECT_DOUBLE_EQ(s.Left, 1);
    EXPECT_DOUBLE_EQ(s.Top, 1);
    EXPECT_DOUBLE_EQ(s.Right, R->Metrics.PrintableWidth + 2 * R->Metrics.LeftOffset - 1);
    EXPECT_DOUBLE_EQ(s.Bottom, R->Metrics.PrintableHeight + 2 * R->Metrics.TopOffset - 1);
    EXPECT_TRUE(s.Paginate);
}

TEST_F(TagTest, PaginationBreaksPagesAtTheSpanBottom)
{
    std::string r = "{INIT TOP=1in BOTTOM=1in PAGINATE}{LPI=2}";
    for (int i = 0; i < 30; ++i)
        r += "line " + std::to_string(i) + "\r\n";
    R->OpenFile(Write(r), nullptr);
    // About 9 inches of span height at two lines an inch: 17 lines a page.
    EXPECT_EQ(R->CountPages(), 2);
}

TEST_F(TagTest, SpanPlacesTextAndTheOuterCursorContinues)
{
    Draw("{SPAN LEFT=2in TOP=3in WIDTH=2in}HHHH{/SPAN}HH");
    TInkBox ink = Ink();
    EXPECT_NEAR(ink.Right, Px(2 - 0.25 + 4 * 0.1) , 12);
    Draw("{SPAN LEFT=2in TOP=3in WIDTH=2in}HHHH");
    const tSpan& s = R->Span();
    EXPECT_EQ(R->SpanIndex, 2);
    EXPECT_DOUBLE_EQ(s.Left, 2);
    EXPECT_DOUBLE_EQ(s.Top, 3);
    EXPECT_DOUBLE_EQ(s.Right, 4);
    TInkBox text = Ink();
    EXPECT_NEAR(text.Left, Px(2 - 0.25), 2);
    EXPECT_LE(text.Bottom, Px(3 - 0.04 + s.LineHeight));  // the cell ends one line below the top
    EXPECT_GE(text.Bottom, Px(3 - 0.04 + s.LineHeight) - 8);
}

TEST_F(TagTest, StayHereContinuesAtTheOuterOffsets)
{
    Draw("{GOTO Y=2in}{SPAN STAYHERE TOP=3in}");
    EXPECT_NEAR(R->Span().CursorY, 2.0, 1e-9);
    Draw("{GOTO Y=2in}{SPAN TOP=3in}");
    EXPECT_NEAR(R->Span().CursorY, R->Span().LineHeight, 1e-9);  // from its top, one line down
    Draw("{GOTO Y=2in}{DIV}");
    EXPECT_NEAR(R->Span().CursorY, 2.0, 1e-9);
}

struct SpanCase {
    const char* Name;
    std::string Tag;
    std::function<void(tRenderer&, const tSpan&)> Check;
};

class SpanFrameTest : public TagTest, public ::testing::WithParamInterface<SpanCase> {};

TEST_P(SpanFrameTest, Edges)
{
    Draw(GetParam().Tag);
    ASSERT_EQ(R->SpanIndex, 2) << (Services.Messages.empty() ? "" : Services.Messages[0].Text);
    GetParam().Check(*R, R->Span());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SpanFrameTest,
    ::testing::Values(
        SpanCase{"Relative", "{SPAN RELATIVE LEFT=0.5in}",
                 [](tRenderer& r, const tSpan& s) { EXPECT_DOUBLE_EQ(s.Left, r.PageSpan().Left + 0.5); }},
        SpanCase{"Printable", "{SPAN PRINTABLE}",
                 [](tRenderer& r, const tSpan& s) {
                     EXPECT_DOUBLE_EQ(s.Left, r.Metrics.LeftOffset);
                     EXPECT_DOUBLE_EQ(s.Top, r.Metrics.TopOffset);
                     EXPECT_DOUBLE_EQ(s.Right, r.Metrics.PrintableWidth);
                     EXPECT_DOUBLE_EQ(s.Bottom, r.Metrics.PrintableHeight);
                 }},
        SpanCase{"Header", "{HEADER HEIGHT=0.5in}",
                 [](tRenderer& r, const tSpan& s) {
                     EXPECT_DOUBLE_EQ(s.Top, r.Metrics.TopOffset);
                     EXPECT_DOUBLE_EQ(s.Bottom, r.Metrics.TopOffset + 0.5);
                     EXPECT_DOUBLE_EQ(s.Right, r.PageSpan().Right);
                 }},
        SpanCase{"Footer", "{FOOTER}",
                 [](tRenderer& r, const tSpan& s) {
                     EXPECT_DOUBLE_EQ(s.Top, r.PageSpan().Bottom);
                     EXPECT_DOUBLE_EQ(s.Bottom, r.Metrics.PrintableHeight);
                 }},
        SpanCase{"FooterHeight", "{FOOTER HEIGHT=1in}",
                 [](tRenderer& r, const tSpan& s) { EXPECT_DOUBLE_EQ(s.Top, r.Metrics.PrintableHeight - 1); }},
        SpanCase{"PadRightWidens", "{SPAN LEFT=1in WIDTH=2in PAD-RIGHT=0.25in PAD-LEFT=0.5in PAD-TOP=1in}",
                 [](tRenderer&, const tSpan& s) {
                     EXPECT_DOUBLE_EQ(s.Right, 3.25);
                     EXPECT_DOUBLE_EQ(s.Left, 1.5);
                 }},
        SpanCase{"Lines", "{SPAN TOP=1in HEIGHT=5in LINES=10}",
                 [](tRenderer&, const tSpan& s) { EXPECT_DOUBLE_EQ(s.LineHeight, 0.5); }},
        SpanCase{"AlignRight", "{SPAN LEFT=1in WIDTH=2in ALIGN=RIGHT}",
                 [](tRenderer&, const tSpan& s) {
                     EXPECT_EQ(s.GetAlign(), "RIGHT");
                     EXPECT_DOUBLE_EQ(s.CursorX, 2);
                 }},
        SpanCase{"ClipNoClip", "{SPAN CLIP NOCLIP}", [](tRenderer&, const tSpan& s) { EXPECT_FALSE(s.Clip); }},
        SpanCase{"Rotation", "{SPAN ROTATE=90}",
                 [](tRenderer&, const tSpan& s) { EXPECT_NEAR(s.Rotation, M_PI / 2, 1e-9); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TagTest, ClippedSpanCutsTextAtItsEdge)
{
    Draw("{SPAN LEFT=1in WIDTH=1in CLIP}WWWWWWWWWWWWWWWWWWWW");
    EXPECT_LE(Ink().Right, Px(2 - 0.25));
    Draw("{SPAN LEFT=1in WIDTH=1in}WWWWWWWWWWWWWWWWWWWW");
    EXPECT_GT(Ink().Right, Px(2 - 0.25) + 20);
}

TEST_F(TagTest, AutoTextNumbering)
{
    Draw("{SPAN CLASS=AutoText NAME=AutoText7 LEFT=1in}x{/SPAN}{SPAN CLASS=AUTOTEXT NAME=AUTOTEXT3}{/SPAN}");
    EXPECT_EQ(R->NextAutoTextNumber, 8);
    Draw("{SPAN CLASS=AutoText NAME=AutoTextXY}");
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Error in tRenderer.Render:{SPAN}");
}

TEST_F(TagTest, TwentyOneSpansIsOneTooMany)
{
    std::string r;
    for (int i = 0; i < 25; ++i)
        r += "{SPAN}";
    Draw(r);
    EXPECT_EQ(R->SpanIndex, 20);
    ASSERT_EQ(Services.Messages.size(), 6u);
    EXPECT_EQ(Services.Messages[0].Caption, "Error in tRenderer.Render:{SPAN}");
    r.clear();
    for (int i = 0; i < 25; ++i)
        r += "{/SPAN}";
    Draw("{SPAN}{SPAN}" + r + "x");
    EXPECT_EQ(R->SpanIndex, 1);
}

TEST_F(TagTest, RepeatedHeaderIsKeptByThePageSpan)
{
    Draw("{HEADER HEIGHT=0.5in REPEAT=YES}Title{/HEADER}");
    EXPECT_TRUE(R->PageSpan().Header);
    Draw("{HEADER HEIGHT=0.5in}Title{/HEADER}");
    EXPECT_FALSE(R->PageSpan().Header);
}

// ---- fields ------------------------------------------------------------------------------------------

TEST_F(TagTest, TenHorizontalCellsDrawOneContinuousLine)
{
    std::string r;
    for (int i = 0; i < 10; ++i)
        r += "{FIELD CODE=LINE CHAR=#196}";
    Draw(r);
    TInkBox ink = Ink();
    const double cell = 0.6 * 12 / 72 * Inch;  // Courier New at 12 points
    EXPECT_NEAR(ink.Left, 0, 1);
    EXPECT_NEAR(ink.Right - ink.Left + 1, 10 * cell, 2);
    EXPECT_LE(ink.Bottom - ink.Top, 2);
    int y = (ink.Top + ink.Bottom) / 2;
    for (int x = ink.Left; x <= ink.Right; ++x)
        ASSERT_TRUE(IsInk(Page_().pixel(x, y)) || IsInk(Page_().pixel(x, ink.Top)) || IsInk(Page_().pixel(x, ink.Bottom)))
            << "gap at " << x;
}

TEST_F(TagTest, BoxDrawingBytesMakeAClosedBox)
{
    Draw("\xDA\xC4\xC4\xC4\xBF\r\n\xB3   \xB3\r\n\xC0\xC4\xC4\xC4\xD9\r\n");
    TInkBox ink = Ink();
    ASSERT_FALSE(ink.Empty());
    EXPECT_TRUE(Enclosed((ink.Left + ink.Right) / 2, (ink.Top + ink.Bottom) / 2));
    Draw("\xDA\xC4\xC4\xC4\xBF\r\n\xC0\xC4\xC4\xC4\xD9\r\n");
    ink = Ink();
    EXPECT_TRUE(Enclosed((ink.Left + ink.Right) / 2, (ink.Top + ink.Bottom) / 2));
}

TEST_F(TagTest, UnknownLineCharacterAdvancesOnly)
{
    Draw("{FIELD CODE=LINE CHAR=#250}");
    EXPECT_TRUE(Ink().Empty());
    EXPECT_NEAR(R->PageSpan().CursorX, 0.1, 1e-9);
    EXPECT_EQ(R->PageSpan().Column, 1);
}

struct PageNumberCase {
    const char* Name;
    std::string Report;
    int Page;
    std::string Same;
};

class PageNumberTest : public TagTest, public ::testing::WithParamInterface<PageNumberCase> {};

TEST_P(PageNumberTest, DrawsAsItsText)
{
    const QImage field = Draw(GetParam().Report, GetParam().Page);
    EXPECT_FALSE(Ink().Empty());
    EXPECT_EQ(field, Draw(GetParam().Same, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Styles, PageNumberTest,
    ::testing::Values(PageNumberCase{"Arabic", "a\fb\fc\f{FIELD CODE=PAGE}", 4, "4"},
                      PageNumberCase{"Roman", "a\fb\fc\f{FIELD CODE=PAGE STYLE=ROMAN}", 4, "IV"},
                      PageNumberCase{"LowerRoman", "a\fb\fc\f{FIELD CODE=PAGENUM STYLE=LOWER-ROMAN}", 4, "iv"},
                      PageNumberCase{"Alpha", DupeString("x\f", 26) + "{FIELD CODE=PAGE STYLE=ALPHA}", 27, "BA"},
                      PageNumberCase{"LowerAlpha", "a\f{FIELD CODE=PAGE STYLE=LOWERALPHA}", 2, "b"},
                      PageNumberCase{"StartAt10", "{FIELD CODE=PAGE START=10}\f{FIELD CODE=PAGE}", 2, "11"},
                      PageNumberCase{"StyleResets", "{FIELD CODE=PAGE STYLE=ROMAN}\fb\f{FIELD CODE=PAGE}", 3, "3"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TagTest, WhiteFieldTurnsThePenWhite)
{
    Draw("{FIELD CODE=WHITE}{GOTO X=1in Y=1in}{LINE TO=2in,1in}");
    EXPECT_TRUE(Ink().Empty());
}

}  // namespace
}  // namespace quillard::test

namespace quillard::test {
namespace {

// ---- whole reports ---------------------------------------------------------------------------------

struct ExampleCase {
    const char* File;
    int Pages;
};

class ExampleTest : public TagTest, public ::testing::WithParamInterface<ExampleCase> {};

TEST_P(ExampleTest, EveryPageDrawsWithoutComplaint)
{
    const std::string path = std::string(QUILLARD_SOURCE_DIR "/examples/") + GetParam().File;
    R->OpenFile(path, nullptr);
    ASSERT_EQ(R->CountPages(), GetParam().Pages);
    int firstTop = -1;
    for (int page = 1; page <= GetParam().Pages; ++page) {
        UsePage(1.0);
        ASSERT_TRUE(R->RenderPages(nullptr, page, nullptr, page));
        TInkBox ink = Ink();
        EXPECT_FALSE(ink.Empty()) << "page " << page;
        if (page == 1)
            firstTop = ink.Top;
        else
            EXPECT_GE(ink.Top, firstTop) << "page " << page << ": the first line is cut at the top";
    }
    EXPECT_TRUE(Services.Messages.empty()) << Services.Messages.front().Caption << ": " << Services.Messages.front().Text;
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleTest,
                         ::testing::Values(ExampleCase{"statement.txt", 3}, ExampleCase{"invoice.txt", 2},
                                           ExampleCase{"ledger.txt", 3}, ExampleCase{"form.txt", 1}),
                         [](const auto& info) { return std::string(info.param.File).substr(0, std::string(info.param.File).find('.')); });

TEST_F(TagTest, RightAlignedRunsKeepTheirOrder)
{
    // Each run is placed against the same anchor: the line ends at the
    // span's edge and starts eight cells before it.
    Draw("{ALIGN=RIGHT}MMMM{B}{/B}MMMM");
    TInkBox ink = Ink();
    EXPECT_NEAR(ink.Right, Px(8.25), 3);
    EXPECT_NEAR(ink.Left, Px(8.25) - 8 * 9.6, 3);
}

TEST_F(TagTest, FirstLineAfterAFormFeedIsNotCutByThePreviousPitch)
{
    Draw("{CPI17}small\r\n\f{CPI10}{FONT SIZE=30}BIG", 2);
    EXPECT_GT(Ink().Top, 0);
    const QImage second = Page_().copy();
    Draw("{CPI10}{FONT SIZE=30}BIG", 1);
    EXPECT_EQ(second, Page_());
    // A {PAGE} line followed by a line end starts the next page the same way.
    EXPECT_EQ(Draw("{CPI17}small\r\n{PAGE}\r\n{CPI10}{FONT SIZE=30}BIG", 2), second);
}

TEST_F(TagTest, FiguresOnUndrawnPagesAreNotDrawn)
{
    Draw("{RECT AT=1in,1in TO=3in,2in}{HIGHLIGHTLINE}{GOTO X=1in Y=1in}{LINE TO=2in,1in}{CIRCLE RADIUS=1in}"
         "{POLYGON POINTS=0,0;1,1;0,1}\xC4\xC4{PAGE}",
         2);
    EXPECT_TRUE(Ink().Empty());
}

}  // namespace
}  // namespace quillard::test

namespace quillard::test {
namespace {

TEST_F(TagTest, WithTheLineDrawFontBoxBytesAreDrawnAsItsCharacters)
{
    Globals().UseLineDrawFont = true;
    Draw("{FONT NAME=\"MS LineDraw\"}\xC4\xC4\xC4\xC4\xC4\xC4");
    TInkBox ink = Ink();
    ASSERT_FALSE(ink.Empty());
    EXPECT_NEAR(ink.Width(), 6 * 9.6, 3);  // six cells of a 12-point fixed-pitch face
    EXPECT_LE(ink.Bottom - ink.Top, 2);    // one horizontal stroke, not letters
    EXPECT_NE(R->PageSpan().Text.find('\xC4'), std::string::npos);  // no line fields were made
    Globals().UseLineDrawFont = false;
}

}  // namespace
}  // namespace quillard::test
