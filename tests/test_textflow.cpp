// Text flow on a real page bitmap: cursor moves, pitch and spacing, style
// toggles, super- and subscript, alignment, entities, and the span, scale and
// metric operations behind them.
#include "tests/testutil.h"

#include "engine/markup.h"
#include "engine/printer.h"

#include <cmath>

namespace quillard::test {
namespace {

constexpr double Inch = 96.0;

// ---- cursor moves ------------------------------------------------------------------

struct GotoCase {
    const char* Name;
    std::string Report;
    double ExpectedInches;  // left edge of the ink, from the printable area's corner
};

class GotoTest : public EngineTest, public ::testing::WithParamInterface<GotoCase> {};

TEST_P(GotoTest, TextStartsAtTheColumn)
{
    ASSERT_TRUE(RenderReport(GetParam().Report));
    TInkBox ink = Ink();
    ASSERT_FALSE(ink.Empty());
    const double expected = GetParam().ExpectedInches * Inch;
    EXPECT_GE(ink.Left, std::lround(expected) - 1);
    EXPECT_LE(ink.Left, std::lround(expected) + 4);  // the glyph's own side bearing
    EXPECT_TRUE(Services.Messages.empty());
}

// The page span starts at the printable area (a quarter inch from the paper
// edge with the assumed printer metrics); ABS positions count from the paper.
INSTANTIATE_TEST_SUITE_P(
    Columns, GotoTest,
    ::testing::Values(GotoCase{"Relative", "{GOTO X=2in}HHHH", 2.0}, GotoCase{"Absolute", "{GOTO ABS X=2in}HHHH", 2.0 - 0.25},
                      GotoCase{"Points", "{GOTO COL=72PT}HHHH", 1.0}, GotoCase{"Centimetres", "{GOTO LEFT=2.54CM}HHHH", 1.0},
                      GotoCase{"Pixels", "{GOTO X=96PX}HHHH", 1.0}, GotoCase{"Percent", "{GOTO X=50%}HHHH", 8.25 / 2},
                      GotoCase{"GobyAddsUp", "{GOBY X=1in}{GOBY X=0.5}HHHH", 1.5},
                      GotoCase{"SplitOverTwoLines", "{GOTO\r\n X=2in}HHHH", 2.0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EngineTest, TagNeverClosedRunsToTheEndOfItsLine)
{
    ASSERT_TRUE(RenderReport("HH{GOTO X=3in"));
    TInkBox ink = Ink();
    EXPECT_LE(ink.Left, 2);
    EXPECT_NEAR(R->PageSpan().CursorX, 3.0, 1e-9);
}

TEST_F(EngineTest, GotoVerticalLeavesTheColumn)
{
    ASSERT_TRUE(RenderReport("HH{GOTO Y=1in}HH"));
    const double x = R->PageSpan().CursorX;
    ASSERT_TRUE(RenderReport("HH{GOTO ABS Y=1in}HH"));
    EXPECT_NEAR(R->PageSpan().CursorX, x, 1e-9);
    TInkBox ink = Ink();
    EXPECT_NEAR(ink.Bottom, std::lround((1.0 - R->Metrics.TopOffset) * Inch), 6);
}

// ---- line ends and spacing ----------------------------------------------------------------

struct CursorCase {
    const char* Name;
    std::string Report;
    double LinesDown;  // CursorY after the pass, in line heights
};

class CursorTest : public EngineTest, public ::testing::WithParamInterface<CursorCase> {};

TEST_P(CursorTest, LineEndsMoveTheCursor)
{
    ASSERT_TRUE(RenderReport(GetParam().Report));
    const tSpan& s = R->PageSpan();
    EXPECT_NEAR(s.CursorY, GetParam().LinesDown * s.LineHeight, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CursorTest,
    ::testing::Values(CursorCase{"FirstLineGetsNoLineFeed", "A", 1}, CursorCase{"CrLf", "A\r\nB", 2},
                      CursorCase{"LfLfIsOneTerminatorInAPrinterReport", "A\n\nB\r", 2}, CursorCase{"BlankLineKept", "A\r\n\r\nB", 3},
                      CursorCase{"CrOnlyReturnsWithoutMovingDown", "AAAA\rB", 1},
                      CursorCase{"PageBreakStartsAtTheTop", "A\r\nB\r\n{PAGE}C", 1}),
    [](const auto& info) { return std::string(info.param.Name); });

// Line ends as a character printer takes them, or as a Linux text file
// writes them: a report without a carriage return in its text is a Linux
// text file unless the choice says otherwise. The cursor ends on line Lines,
// Columns characters from the left.
struct LineEndCase {
    const char* Name;
    std::string Report;
    tRenderer::TLineEnds Choice;
    int Lines;
    int Columns;
    int Page = 1;
};
void PrintTo(const LineEndCase& c, std::ostream* os) { *os << c.Name; }

class LineEndTest : public EngineTest, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(LineEndTest, PlacesTheLastLine)
{
    const LineEndCase& c = GetParam();
    R->LineEndChoice = c.Choice;
    ASSERT_TRUE(RenderReport(c.Report, 0));
    const tSpan& s = R->PageSpan();
    EXPECT_NEAR(s.CursorY, c.Lines * s.LineHeight, 1e-9);
    const double column = R->Canvas->TextWidth("A") / R->Metrics.PixelsPerInchX;
    EXPECT_NEAR(s.CursorX, c.Columns * column, column / 2);
    EXPECT_EQ(R->CurrentPage, c.Page);
}

using E = tRenderer::TLineEnds;
INSTANTIATE_TEST_SUITE_P(
    Reports, LineEndTest,
    ::testing::Values(LineEndCase{"LinuxFileReturnsToTheLeft", "AAAA\nB", E::Auto, 2, 1},
                      LineEndCase{"PrinterChoiceKeepsTheStaircase", "AAAA\nB", E::Printer, 2, 5},
                      LineEndCase{"ACarriageReturnMakesAPrinterReport", "AAAA\nB\r\nCC", E::Auto, 3, 2},
                      LineEndCase{"LinuxFileKeepsEmptyLines", "A\n\n\nB", E::Auto, 4, 1},
                      LineEndCase{"PrinterJoinsTwoLineFeeds", "A\n\nB", E::Printer, 2, 2},
                      LineEndCase{"UnixChoiceTakesCrLfAsOneLineEnd", "A\r\n\r\nB", E::Unix, 3, 1},
                      LineEndCase{"FormFeedInALinuxFile", "A\n\fB", E::Auto, 1, 1, 2},
                      LineEndCase{"CarriageReturnInPictureDataIsNoText",
                                  "A\n{IMG DATALEN=1 DATA=\"\r\"}\nB", E::Auto, 3, 1},
                      // After a page break the line that made it ends; each
                      // empty line after that is a line of the next page.
                      LineEndCase{"PageTagThenEmptyLines", "A{PAGE}\r\n\r\n\r\nB", E::Auto, 3, 1, 2},
                      LineEndCase{"PageTagOnItsLineStartsAtTheTop", "A\r\n{PAGE}\r\nB", E::Auto, 1, 1, 2},
                      LineEndCase{"FormFeedThenEmptyLines", "A\r\n\f\r\n\r\n\r\nB", E::Auto, 3, 1, 2},
                      LineEndCase{"PageTagThenEmptyLinesInALinuxFile", "A{PAGE}\n\nB", E::Auto, 2, 1, 2}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EngineTest, CarriageReturnAloneOverprintsTheLine)
{
    ASSERT_TRUE(RenderReport("____\rHHHH"));
    TInkBox both = Ink();
    ASSERT_TRUE(RenderReport("HHHH"));
    TInkBox letters = Ink();
    EXPECT_LE(both.Left, letters.Left);
    EXPECT_LE(both.Bottom - both.Top, (letters.Bottom - letters.Top) * 2);
}

TEST_F(EngineTest, LinesPerInchFixesTheLineHeight)
{
    ASSERT_TRUE(RenderReport("{LPI=6}a\r\nb\r\nc{CPI17}\r\nd"));
    const tSpan& s = R->PageSpan();
    EXPECT_DOUBLE_EQ(s.LineHeight, 1.0 / 6);
    EXPECT_NEAR(s.CursorY, 4.0 / 6, 1e-9);  // the pitch tag no longer changes it
    EXPECT_EQ(s.LinesPerInch, 6);
}

TEST_F(EngineTest, LinesPerPageDividesThePageSpan)
{
    ASSERT_TRUE(RenderReport("{LPP}x"));
    const tSpan& s = R->PageSpan();
    EXPECT_NEAR(s.LineHeight, (s.Bottom - s.Top) / 2, 1e-9);
    // Every pass makes a new page span: look at the new one.
    ASSERT_TRUE(RenderReport("{LPP=66}x"));
    const tSpan& t = R->PageSpan();
    EXPECT_NEAR(t.LineHeight, (t.Bottom - t.Top) / 66, 1e-9);
    EXPECT_EQ(t.LinesPerPage, 66);
}

TEST_F(EngineTest, PitchTagsChangeSizeNotFace)
{
    ASSERT_TRUE(RenderReport("{CPI10}MMMMMMMMMM"));
    const int w10 = Ink().Width();
    ASSERT_TRUE(RenderReport("{CPI12}MMMMMMMMMM"));
    const int w12 = Ink().Width();
    ASSERT_TRUE(RenderReport("{17CPI}MMMMMMMMMM"));
    const int w17 = Ink().Width();
    // Courier New is 0.6 em wide: 12, 10 and 7 points.
    EXPECT_NEAR(w10, 10 * 0.6 * 12 * Inch / 72, 4);
    EXPECT_NEAR(w12, 10 * 0.6 * 10 * Inch / 72, 4);
    EXPECT_NEAR(w17, 10 * 0.6 * 7 * Inch / 72, 4);
    EXPECT_EQ(R->PageSpan().Font().Name, "Courier New");
}

TEST_F(EngineTest, PropAndCpiSwitchFaces)
{
    ASSERT_TRUE(RenderReport("{PROP}iiiiiiiiii"));
    const int prop = Ink().Width();
    EXPECT_EQ(R->PageSpan().Font().Name, "Times New Roman");
    ASSERT_TRUE(RenderReport("{PROP}{CPI}iiiiiiiiii"));
    const int fixed = Ink().Width();
    EXPECT_EQ(R->PageSpan().Font().Name, "Courier New");
    EXPECT_GT(fixed, prop * 2);
}

// ---- styles --------------------------------------------------------------------------------

TEST_F(EngineTest, BoldIsWiderThanRegular)
{
    ASSERT_TRUE(RenderReport("{PROP}{B}WWWWWWWW{/B}"));
    const int bold = Ink().Width();
    ASSERT_TRUE(RenderReport("{PROP}WWWWWWWW"));
    const int regular = Ink().Width();
    EXPECT_GT(bold, regular);
}

struct StyleCase {
    const char* Name;
    std::string Report;
    std::string Same;  // a report that must draw the same pixels
};

class StyleTest : public EngineTest, public ::testing::WithParamInterface<StyleCase> {};

TEST_P(StyleTest, DrawsLikeItsEquivalent)
{
    ASSERT_TRUE(RenderReport(GetParam().Report));
    QImage a = Page->Image().copy();
    ASSERT_TRUE(RenderReport(GetParam().Same));
    EXPECT_EQ(a, Page->Image());
}

INSTANTIATE_TEST_SUITE_P(
    Toggles, StyleTest,
    ::testing::Values(StyleCase{"CloserWithoutOpenerCancelsTheNextOpener", "{PROP}{/B}{B}x", "{PROP}x"},
                      StyleCase{"NestedOpenersNeedAsManyClosers", "{PROP}{B}{B}{/B}x", "{PROP}{B}x"},
                      StyleCase{"BoldTurnedOff", "{PROP}{B}{/B}x", "{PROP}x"},
                      StyleCase{"SuperAndSubCancel", "{SUPER}{SUB}2", "2"},
                      StyleCase{"NumericEntity", "&#65;&#66;", "AB"},
                      StyleCase{"UnknownTagsDrawNothing", "{FOO}{CHR 65}{RESET}{LANDSCAPE}x", "x"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EngineTest, EscapedBraceIsNotATag)
{
    ASSERT_TRUE(RenderReport("&lbrace;B&rbrace;x"));
    EXPECT_EQ(R->PageSpan().BoldLevel, 0);
    EXPECT_FALSE(Ink().Empty());
}

TEST_F(EngineTest, UnderlineAndStrikeAddInk)
{
    ASSERT_TRUE(RenderReport("{PROP}aaaa"));
    TInkBox plain = Ink();
    ASSERT_TRUE(RenderReport("{PROP}{U}aaaa{/U}"));
    EXPECT_GT(Ink().Bottom, plain.Bottom);
    ASSERT_TRUE(RenderReport("{PROP}{STRIKE}aaaa{/STRIKE}"));
    EXPECT_NE(Page->Image(), QImage());
}

TEST_F(EngineTest, SuperscriptRaisesAndSubscriptLowers)
{
    ASSERT_TRUE(RenderReport("2"));
    const TInkBox base = Ink();
    const double line = R->PageSpan().LineHeight * Inch;
    ASSERT_TRUE(RenderReport("{SUPER}2"));
    EXPECT_NEAR(Ink().Bottom, base.Bottom - line * 0.5, 1.5);
    ASSERT_TRUE(RenderReport("{SUB}2"));
    EXPECT_NEAR(Ink().Bottom, base.Bottom + line / 3, 1.5);
}

TEST_F(EngineTest, BraceAtColumn1000IsText)
{
    ASSERT_TRUE(RenderReport(std::string(999, ' ') + "{B}x"));
    EXPECT_EQ(R->PageSpan().BoldLevel, 0);
    ASSERT_TRUE(RenderReport(std::string(998, ' ') + "{B}x"));
    EXPECT_EQ(R->PageSpan().BoldLevel, 1);
}

// ---- alignment -------------------------------------------------------------------------------

// Draws Line on page 1 of an empty report with the page span aligned as
// given, the way a line after an {ALIGN} tag is drawn.
void DrawAligned(tRenderer& r, const std::string& Align, std::string Line)
{
    tRenderState state;
    r.PageSpan().SetAlign(Align);
    r.Pass.AlignWholeLine = true;
    r.Pass.AtLineStart = true;
    r.Render(state, Line);
}

TEST_F(EngineTest, RightAlignedRunEndsAtTheSpansRightEdge)
{
    ASSERT_TRUE(RenderReport(""));
    DrawAligned(*R, "RIGHT", "Total 123.45");
    TInkBox ink = Ink();
    const int right = R->DevX(R->PageSpan().Right);
    EXPECT_LE(ink.Right, right);
    EXPECT_GE(ink.Right, right - 4);
}

TEST_F(EngineTest, CentredLineIsCentredAsAWhole)
{
    ASSERT_TRUE(RenderReport(""));
    DrawAligned(*R, "CENTER", "Hello {B}World");
    TInkBox ink = Ink();
    const double mid = (R->DevX(R->PageSpan().Left) + R->DevX(R->PageSpan().Right)) / 2.0;
    EXPECT_NEAR((ink.Left + ink.Right) / 2.0, mid, 6);
}

// ---- span state ---------------------------------------------------------------------------------

TEST_F(EngineTest, FontStackIsBoundedAndPopRestores)
{
    tSpan& s = R->PageSpan();
    for (int i = 0; i < 51; ++i)
        s.PushFont();
    EXPECT_EQ(s.FontIndex, 50);
    while (s.FontIndex > 1)
        s.PopFont();
    s.PopFont();
    EXPECT_EQ(s.FontIndex, 1);

    ASSERT_TRUE(RenderReport(""));
    tSpan& p = R->PageSpan();
    const double height = p.LineHeight;
    const TFont before = Page->Font;
    p.PushFont();
    R->SetFontName("Arial");
    R->SetFontSize(30);
    EXPECT_GT(p.LineHeight, height);
    p.PopFont();
    EXPECT_EQ(p.LineHeight, height);
    EXPECT_EQ(Page->Font.Name, before.Name);
    EXPECT_EQ(Page->Font.Size, before.Size);
    EXPECT_TRUE(Services.Messages.empty());
}

TEST_F(EngineTest, AlignmentWords)
{
    tSpan& s = R->PageSpan();
    s.SetAlign("center");
    EXPECT_EQ(s.GetAlign(), "CENTER");
    EXPECT_DOUBLE_EQ(s.CursorX, (s.Right - s.Left) / 2);
    s.CursorX = 1.25;
    s.SetAlign("justified123");
    EXPECT_EQ(s.GetAlign(), "JUSTIFIED1");
    EXPECT_DOUBLE_EQ(s.CursorX, 1.25);
    for (int i = 0; i < 30; ++i)
        s.PushAlign();
    EXPECT_EQ(s.AlignIndex, 20);
    s.PopAlign();
    EXPECT_EQ(s.AlignIndex, 19);
}

TEST_F(EngineTest, PenWidthFollowsTheScaleFromTwoOn)
{
    tSpan& s = R->PageSpan();
    struct {
        double Scale;
        int Width, Canvas;
    } cases[] = {{3.0, 1, 1}, {3.0, 0, 0}, {0.3, 3, 1}, {2.0, 3, 6}, {0.1, 2, 1}};
    for (const auto& c : cases) {
        s.Scale = c.Scale;
        s.SetPenWidth(c.Width);
        EXPECT_EQ(Page->Pen.Width, c.Canvas) << c.Scale << " " << c.Width;
        EXPECT_EQ(s.Pen().Width, c.Width);
    }
}

// The zoom belongs to a renderer: making a second one, or drawing with it at
// another zoom, leaves the first drawing at its own.
TEST_F(EngineTest, EachRendererDrawsAtItsOwnZoom)
{
    const std::string path = Write("{CPI10}MMMMMMMMMM\r\n");
    auto inkWidth = [&](tRenderer& r, TImageCanvas*& page, double zoom) {
        r.OpenFile(path, nullptr);
        r.MeasureOnScreen(96, zoom);
        auto canvas = std::make_unique<TImageCanvas>(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx, 96, 96);
        page = canvas.get();
        r.UsePageSurface(std::move(canvas));
        EXPECT_TRUE(r.RenderPages(nullptr, 1, nullptr, 1));
        return InkBox(page->Image()).Width();
    };
    R->OpenFile(path, nullptr);
    UsePage(1.5);
    // A second renderer made and drawing at 100 % after the first was set up.
    tRenderer second;
    TImageCanvas* secondPage = nullptr;
    const int atOne = inkWidth(second, secondPage, 1.0);
    ASSERT_TRUE(R->RenderPages(nullptr, 1, nullptr, 1));
    EXPECT_DOUBLE_EQ(R->GetScale(), 1.5);
    EXPECT_DOUBLE_EQ(second.GetScale(), 1.0);
    // Courier New is 0.6 em wide: ten letters of 12 points at 96 dpi.
    EXPECT_NEAR(atOne, 10 * 0.6 * 12 * Inch / 72, 4);
    EXPECT_NEAR(Ink().Width(), 1.5 * atOne, 6);
}

TEST_F(EngineTest, FontNamesAreLookedUpInTheFontList)
{
    ASSERT_TRUE(RenderReport(""));
    tSpan& s = R->PageSpan();
    R->SetFontName("No Such Face At All");
    EXPECT_EQ(s.Font().Name, "Courier New");
    R->SetFontName("times new roman");
    EXPECT_EQ(s.Font().Name, "times new roman");
    R->SetFontName("Couri");  // the first letters of an installed name
    EXPECT_EQ(s.Font().Name, "Couri");
    R->SetFontName("MS LineDraw");
    EXPECT_EQ(s.Font().Name, "Courier New");
}

TEST_F(EngineTest, SpanEdges)
{
    ASSERT_TRUE(RenderReport(""));
    tSpan& s = R->PageSpan();
    R->SetSpanEdge("LEFT", "{SPAN LEFT=1IN}", "PRINTABLE");
    EXPECT_DOUBLE_EQ(s.Left, R->Metrics.LeftOffset + 1);
    R->SetSpanEdge("LEFT", "{SPAN LEFT=1IN}", "ABSOLUTE");
    EXPECT_DOUBLE_EQ(s.Left, 1);
    R->SetSpanEdge("RIGHT", "{SPAN RIGHT=1IN}", "ABSOLUTE");
    EXPECT_DOUBLE_EQ(s.Right, R->Metrics.PrintableWidth + 2 * R->Metrics.LeftOffset - 1);
    s.CursorX = 0.5;
    R->SetSpanEdge("WIDTH", "{SPAN WIDTH=HERE}", "ABSOLUTE");
    EXPECT_DOUBLE_EQ(s.CursorX, 0.5);
    R->SetSpanEdge("WIDTH", "{SPAN WIDTH=2IN}", "ABSOLUTE");
    EXPECT_DOUBLE_EQ(s.Right, s.Left + 2);
    EXPECT_DOUBLE_EQ(s.CursorX, 0);
    // HERE needs an enclosing span, which the page span has not.
    EXPECT_THROW(R->SetSpanEdge("TOP", "{SPAN TOP=HERE}", "ABSOLUTE"), std::exception);
}

// ---- measurements ----------------------------------------------------------------------------------

struct MeasureCase {
    std::string Text;
    char Axis;
    double Inches;
};

class MeasureTest : public EngineTest, public ::testing::WithParamInterface<MeasureCase> {};

TEST_P(MeasureTest, ReadsUnitsAndKeywords)
{
    tSpan& s = R->PageSpan();
    s.Left = 1;
    s.Right = 7;
    s.Top = 0.5;
    s.Bottom = 10.5;
    EXPECT_NEAR(R->Measure(GetParam().Text, GetParam().Axis), GetParam().Inches, 1e-12) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(
    Units, MeasureTest,
    ::testing::Values(MeasureCase{"1.5", 'X', 1.5}, MeasureCase{"72PT", 'X', 1.0}, MeasureCase{"2.54CM", 'Y', 1.0},
                      MeasureCase{"50%", 'X', 3.0}, MeasureCase{"50%", 'Y', 5.0}, MeasureCase{"1 CM", 'X', 1.0},
                      MeasureCase{"-0.5", 'X', -0.5}, MeasureCase{"+0.5", 'X', 0.5}, MeasureCase{".5in", 'X', 0.5},
                      MeasureCase{"abc", 'X', 0}, MeasureCase{"1.2.3in", 'X', 0}, MeasureCase{"", 'X', 0},
                      MeasureCase{"2\"", 'Y', 2}, MeasureCase{"96PX", 'X', 1.0}, MeasureCase{"48PIXELS", 'Y', 0.5},
                      MeasureCase{"LEFT", 'Y', 1}, MeasureCase{"RIGHT", 'Y', 7}, MeasureCase{"BOTT", 'X', 10.5},
                      MeasureCase{"TOP", 'X', 0.5}, MeasureCase{"100%%A", 'X', 8.25}, MeasureCase{"3XYZ", 'X', 3}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(EngineTest, ParsePointWords)
{
    tSpan& s = R->PageSpan();
    s.Left = 1;
    s.Top = 2;
    s.Right = 7;
    s.Bottom = 9;
    TDoublePoint d{0.1, 0.2};
    auto p = R->ParsePoint(d, "1IN,2IN", false);
    EXPECT_DOUBLE_EQ(p.X, 2);
    EXPECT_DOUBLE_EQ(p.Y, 4);
    p = R->ParsePoint(d, "1IN,2IN", true);
    EXPECT_DOUBLE_EQ(p.X, 1);
    EXPECT_DOUBLE_EQ(p.Y, 2);
    p = R->ParsePoint(d, "BOTTOM,RIGHT", false);  // each word sets its own coordinate
    EXPECT_DOUBLE_EQ(p.X, 7);
    EXPECT_DOUBLE_EQ(p.Y, 9);
    p = R->ParsePoint(d, "1IN", false);
    EXPECT_DOUBLE_EQ(p.X, 0.1);
    EXPECT_DOUBLE_EQ(p.Y, 0.2);
}

// ---- scale and metrics ----------------------------------------------------------------------------

TEST_F(EngineTest, ScaleValues)
{
    struct {
        double In, Out;
    } cases[] = {{75, 0.75}, {0, 0.75}, {-3, 0.75}, {10, 10.0}, {10.5, 0.105}, {1.0, 1.0}};
    R->SetScale(1.0);
    for (const auto& c : cases) {
        R->SetScale(c.In);
        EXPECT_DOUBLE_EQ(R->GetScale(), c.Out) << c.In;
    }
    R->SetScale(0.5);
    EXPECT_DOUBLE_EQ(R->Metrics.PixelsPerInchX, 48);
    EXPECT_EQ(R->Metrics.PageWidthPx, std::lround(48 * R->Metrics.PrintableWidth));
}

TEST(RendererMetrics, WithoutAPrinterTheAssumedMetricsApplyAndTheWarningShowsOnce)
{
    TRecordingServices services;
    SetUserServices(&services);
    Globals().PrinterWarningShown = false;
    {
        tRenderer r;
        EXPECT_EQ(r.Metrics.DpiX, 300);
        EXPECT_EQ(r.Metrics.OffsetXPx, 75);
        EXPECT_EQ(r.Metrics.OffsetYPx, 12);
        EXPECT_DOUBLE_EQ(r.Metrics.LeftOffset, 0.25);
        EXPECT_DOUBLE_EQ(r.Metrics.TopOffset, 0.04);
        EXPECT_DOUBLE_EQ(r.Metrics.PrintableWidth, 2475 / 300.0);
        EXPECT_DOUBLE_EQ(r.Metrics.PrintableHeight, 3288 / 300.0);
        tRenderer again;
    }
    ASSERT_EQ(services.Messages.size(), 1u);
    EXPECT_EQ(services.Messages[0].Caption, "Printer Error");
    EXPECT_EQ(services.Messages[0].Text.rfind("There was a problem accessing the printer driver\r\n"
                                              "Preview paper size may not match printed output.\r\n"
                                              "No printers are installed.\r\n",
                                              0),
              0u);
    EXPECT_NE(services.Messages[0].Text.find("(code 36,1,23)"), std::string::npos);
    SetUserServices(nullptr);
}

// ---- test pattern ------------------------------------------------------------------------------------

TEST_F(EngineTest, PrintableAreaOutlineAndTestPattern)
{
    R->DrawPrintableArea();
    const QImage& img = Page->Image();
    auto blue = [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 60 && qGreen(c) < 60; };
    int blueTop = 0;
    for (int x = 0; x < img.width(); ++x)
        blueTop += blue(img.pixel(x, 0));
    EXPECT_GT(blueTop, img.width() / 4);       // dashed, not solid
    EXPECT_LT(blueTop, img.width());
    EXPECT_TRUE(blue(img.pixel(0, img.height() / 2)) || blue(img.pixel(0, img.height() / 2 + 1)) ||
                blue(img.pixel(0, img.height() / 2 + 2)) || blue(img.pixel(0, img.height() / 2 + 3)));

    R->TestPattern = true;
    ASSERT_TRUE(RenderReport("x"));
    TInkBox green = InkBox(Page->Image(), [](QRgb c) { return qGreen(c) > 100 && qRed(c) < 60 && qBlue(c) < 60; });
    EXPECT_FALSE(green.Empty());
}

}  // namespace
}  // namespace quillard::test
