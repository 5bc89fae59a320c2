// Text written for terminals and line printers: backspace overstrike and ANSI
// escape sequences turned into markup, and tab stops on the page.
#include "tests/pdftestutil.h"
#include "tests/testutil.h"

#include "engine/terminaltext.h"

#include <regex>

namespace quillard::test {
namespace {

struct TerminalCase {
    const char* Name;
    std::string Line;
    std::string Markup;
};

class TerminalMarkupTest : public ::testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalMarkupTest, BecomesMarkup)
{
    TTerminalStyle style;
    EXPECT_EQ(TerminalTextToMarkup(GetParam().Line, style), GetParam().Markup);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TerminalMarkupTest,
    ::testing::Values(
        // man pages: a character struck twice is bold, struck with an
        // underscore (before or after) is underlined
        TerminalCase{"StruckTwiceIsBold", "N\bNA\bAM\bME\bE", "{B}NAME{/B}"},
        TerminalCase{"UnderscoreFirstUnderlines", "_\bo_\bp_\bt x", "{U}opt{/U} x"},
        TerminalCase{"UnderscoreAfterUnderlines", "o\b_p\b_", "{U}op{/U}"},
        TerminalCase{"BoldAndUnderlined", "_\bX\bX", "{B}{U}X{/U}{/B}"},
        TerminalCase{"UnderscoreStruckTwice", "_\b_", "{B}_{/B}"},
        TerminalCase{"BoldThenPlain", "a\bab", "{B}a{/B}b"},
        // a backspace that strikes nothing stays where it is
        TerminalCase{"BackspaceAtTheStart", "\bab", "\bab"},
        TerminalCase{"BackspaceAtTheEnd", "ab\b", "ab\b"},
        TerminalCase{"DifferentCharacters", "a\bb", "a\bb"},
        TerminalCase{"TwoBackspaces", "a\b\bb", "a\b\bb"},
        // a struck brace stays text
        TerminalCase{"StruckBrace", "{\b{", "{B}&lbrace;{/B}"},
        // escape sequences
        TerminalCase{"BoldSequence", "\x1b[1mBold\x1b[0m plain", "{B}Bold{/B} plain"},
        TerminalCase{"UnderlineOffSequence", "\x1b[4mu\x1b[24mv", "{U}u{/U}v"},
        TerminalCase{"BasicColour", "\x1b[31mred\x1b[39m", "{FONT COLOR=#AA0000}red{/FONT}"},
        TerminalCase{"BrightColour", "\x1b[94mx\x1b[m", "{FONT COLOR=#5555FF}x{/FONT}"},
        TerminalCase{"PaletteColour", "\x1b[38;5;196mx\x1b[0m", "{FONT COLOR=#FF0000}x{/FONT}"},
        TerminalCase{"GreyRamp", "\x1b[38;5;232mx\x1b[0m", "{FONT COLOR=#080808}x{/FONT}"},
        TerminalCase{"TrueColour", "\x1b[38;2;1;2;255mx\x1b[0m", "{FONT COLOR=#0102FF}x{/FONT}"},
        TerminalCase{"BackgroundIsDropped", "\x1b[48;5;21mx\x1b[0m", "x"},
        TerminalCase{"CombinedParameters", "\x1b[1;4;32mx\x1b[0m",
                     "{B}{U}{FONT COLOR=#00AA00}x{/FONT}{/U}{/B}"},
        TerminalCase{"OtherSequencesAreDropped", "\x1b[2J\x1b[1;1Hx\x1b(By\x1b", "xy"},
        TerminalCase{"SequenceCutOffAtTheEnd", "x\x1b[1;3", "x"},
        TerminalCase{"HugeParameterIsHarmless", "\x1b[99999999999999999999mx", "x"},
        TerminalCase{"TruncatedExtendedColour", "\x1b[38;5mx", "x"}),
    [](const auto& info) { return std::string(info.param.Name); });

class PlainTerminalMarkupTest : public ::testing::TestWithParam<TerminalCase> {};

// In plain text files (written on Linux) string sequences go whole, and
// backgrounds and reverse video become a filled cell behind the text.
TEST_P(PlainTerminalMarkupTest, BecomesMarkup)
{
    TTerminalStyle style;
    EXPECT_EQ(PlainTextToMarkup(GetParam().Line, style), GetParam().Markup);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PlainTerminalMarkupTest,
    ::testing::Values(
        TerminalCase{"WindowTitleEndedByBell", "\x1b]0;title\apwd", "pwd"},
        TerminalCase{"HyperlinkEndedByStringTerminator", "a\x1b]8;;http://x/\x1b\\link\x1b]8;;\x1b\\b", "alinkb"},
        TerminalCase{"DeviceControlString", "\x1bPq#0;2;0;0;0#0~~\x1b\\x", "x"},
        TerminalCase{"OtherStrings", "\x1bXsos\x1b\\\x1b^pm\x1b\\\x1b_apc\x1b\\y", "y"},
        TerminalCase{"UnterminatedStringEndsWithTheLine", "x\x1b]0;title {B}", "x"},
        TerminalCase{"EscapeInAStringStartsTheNext", "\x1b]2;t\x1b[1mb\x1b[m", "{B}b{/B}"},
        TerminalCase{"Reverse", "\x1b[7mrev\x1b[27m n", "{FONT COLOR=#FFFFFF BGCOLOR=#000000}rev{/FONT} n"},
        TerminalCase{"ReverseOfAColour", "\x1b[31;7mx\x1b[0m", "{FONT COLOR=#FFFFFF BGCOLOR=#AA0000}x{/FONT}"},
        TerminalCase{"ReverseOnABackground", "\x1b[43m\x1b[7mx\x1b[m", "{FONT COLOR=#AA5500 BGCOLOR=#000000}x{/FONT}"},
        TerminalCase{"BasicBackground", "\x1b[44mx\x1b[49my", "{FONT BGCOLOR=#0000AA}x{/FONT}y"},
        TerminalCase{"BrightBackground", "\x1b[103mx\x1b[0m", "{FONT BGCOLOR=#FFFF55}x{/FONT}"},
        TerminalCase{"PaletteBackground", "\x1b[48;5;21mx\x1b[0m", "{FONT BGCOLOR=#0000FF}x{/FONT}"},
        TerminalCase{"TrueColourOnTrueColour", "\x1b[32;48;2;1;2;3mx\x1b[0m", "{FONT COLOR=#00AA00 BGCOLOR=#010203}x{/FONT}"},
        TerminalCase{"BoldKeepsTheCell", "\x1b[7ma\x1b[1mb\x1b[0m", "{FONT COLOR=#FFFFFF BGCOLOR=#000000}a{B}b{/FONT}{/B}"},
        TerminalCase{"BracesInAReversedCellAreText", "\x1b[7m{B}&\x1b[m",
                     "{FONT COLOR=#FFFFFF BGCOLOR=#000000}&lbrace;B&rbrace;&amp;{/FONT}"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TerminalMarkup, EscapeStyleCarriesIntoTheNextLineButOverstrikeDoesNot)
{
    TTerminalStyle style;
    EXPECT_EQ(TerminalTextToMarkup("\x1b[1ma", style), "{B}a");
    EXPECT_TRUE(style.Bold);
    EXPECT_EQ(TerminalTextToMarkup("b\x1b[0m", style), "b{/B}");
    EXPECT_FALSE(style.Bold);
    EXPECT_EQ(TerminalTextToMarkup("_\bc", style), "{U}c{/U}");
    EXPECT_FALSE(style.Underline);
}

// ---- on the page ---------------------------------------------------------------------

// Overstruck text draws like the same text in bold.
TEST_F(EngineTest, OverstrikeDrawsLikeBold)
{
    ASSERT_TRUE(RenderReport("N\bNA\bAM\bME\bE\r\n"));
    const QImage struck = Page->Image().copy();
    ASSERT_TRUE(RenderReport("{B}NAME{/B}\r\n"));
    EXPECT_EQ(struck, Page->Image());
    EXPECT_TRUE(Services.Messages.empty());
}

TEST_F(EngineTest, EscapeSequencesDrawNothingOfTheirOwn)
{
    ASSERT_TRUE(RenderReport("\x1b[1mab\x1b[0m\r\n"));
    const QImage escaped = Page->Image().copy();
    ASSERT_TRUE(RenderReport("{B}ab{/B}\r\n"));
    EXPECT_EQ(escaped, Page->Image());
}

// A style left on at the end of one page pass does not reach the next: the
// next pass draws the report as the first did.
TEST_F(EngineTest, EscapeStyleEndsWithThePass)
{
    const std::string report = "plain\r\n\x1b[1mbold\r\n";
    ASSERT_TRUE(RenderReport(report));
    const QImage first = Page->Image().copy();
    ASSERT_TRUE(RenderReport(report));
    EXPECT_EQ(first, Page->Image());
    ASSERT_TRUE(RenderReport("plain\r\n{B}bold\r\n"));
    EXPECT_EQ(first, Page->Image());
}

struct TabCase {
    const char* Name;
    std::string Report;
    std::string Spaced;  // the same line with spaces up to the stops
};

class TabStopTest : public EngineTest, public ::testing::WithParamInterface<TabCase> {};

// Stops are eight cells of the current font apart: the cursor ends where the
// spaces up to the stop take it (within the pixel the surfaces measure in).
TEST_P(TabStopTest, CursorEndsAtTheStop)
{
    ASSERT_TRUE(RenderReport(GetParam().Report));
    const double tabbed = R->PageSpan().CursorX;
    ASSERT_TRUE(RenderReport(GetParam().Spaced));
    EXPECT_NEAR(tabbed, R->PageSpan().CursorX, 1.5 / Ppi()) << GetParam().Report;
    EXPECT_GT(tabbed, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, TabStopTest,
    ::testing::Values(TabCase{"TabAtTheStart", "{FONT FACE=\"Courier New\"}\tx", "{FONT FACE=\"Courier New\"}        x"},
                      TabCase{"TextThenTab", "{FONT FACE=\"Courier New\"}abc\tx", "{FONT FACE=\"Courier New\"}abc     x"},
                      TabCase{"TabAfterAFullCell", "{FONT FACE=\"Courier New\"}abcdefgh\tx",
                              "{FONT FACE=\"Courier New\"}abcdefgh        x"},
                      TabCase{"TwoTabs", "{FONT FACE=\"Courier New\"}\t\tx", "{FONT FACE=\"Courier New\"}                x"},
                      TabCase{"TabBetweenTags", "{FONT FACE=\"Courier New\"}ab{B}\t{/B}x",
                              "{FONT FACE=\"Courier New\"}ab      x"},
                      // a proportional face: its space is the cell
                      TabCase{"ProportionalFaceUsesItsSpace", "{FONT FACE=Arial}\t\tx", "{FONT FACE=Arial}                x"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Text after a tab lands on the stop on the page too, and the tab draws no ink.
TEST_F(EngineTest, TextAfterATabStartsAtTheStop)
{
    ASSERT_TRUE(RenderReport("{FONT FACE=\"Courier New\"}\tHHHH"));
    const TInkBox tabbed = Ink();
    ASSERT_TRUE(RenderReport("{FONT FACE=\"Courier New\"}        HHHH"));
    const TInkBox spaced = Ink();
    ASSERT_FALSE(tabbed.Empty());
    EXPECT_NEAR(tabbed.Left, spaced.Left, 1);
    EXPECT_NEAR(tabbed.Right, spaced.Right, 1);
}

// Centred and right-aligned lines have no stops: a tab is the spaces to the
// next eighth column, and the line is measured with them.
TEST_F(EngineTest, TabInCentredOrRightAlignedTextIsSpaces)
{
    for (const std::string align : {"{ALIGN=CENTER}", "{ALIGN=RIGHT}"}) {
        ASSERT_TRUE(RenderReport("{FONT FACE=\"Courier New\"}" + align + "\r\nab\tcd"));
        const QImage tabbed = Page->Image().copy();
        ASSERT_TRUE(RenderReport("{FONT FACE=\"Courier New\"}" + align + "\r\nab      cd"));
        EXPECT_EQ(tabbed, Page->Image()) << align;
    }
}

// A long line of tabs is laid out without trouble.
TEST_F(EngineTest, ManyTabsOnOneLine)
{
    ASSERT_TRUE(RenderReport(std::string(100000, '\t') + "x", 0));
    EXPECT_TRUE(Services.Messages.empty());
}

// ---- plain text files on the page ---------------------------------------------------

struct CellCase {
    const char* Name;
    std::string Line;
    QRgb Cell, Text;
};

class FilledCellTest : public EngineTest, public ::testing::WithParamInterface<CellCase> {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        R->SetupOverrides.PlainText = true;
    }
};

bool Near(QRgb A, QRgb B)
{
    return std::abs(qRed(A) - qRed(B)) <= 8 && std::abs(qGreen(A) - qGreen(B)) <= 8 && std::abs(qBlue(A) - qBlue(B)) <= 8;
}

// The cell behind the text is filled in its colour, around the whole of the
// text's ink, and the text shows in its own colour inside it.
TEST_P(FilledCellTest, FillsTheCellOnTheRasterPage)
{
    ASSERT_TRUE(RenderReport("HHHH\n"));
    const TInkBox text = Ink();
    ASSERT_FALSE(text.Empty());
    ASSERT_TRUE(RenderReport(GetParam().Line + "\n"));
    const QImage img = Page->Image().convertToFormat(QImage::Format_RGB32);
    const TInkBox cell = InkBox(img, [](QRgb c) { return qGray(c) < 250 || qRed(c) != qBlue(c); });
    ASSERT_FALSE(cell.Empty());
    EXPECT_LE(cell.Left, text.Left);
    EXPECT_GE(cell.Right, text.Right);
    EXPECT_LE(cell.Top, text.Top);
    EXPECT_GE(cell.Bottom, text.Bottom);
    int filled = 0, lettered = 0, all = 0;
    for (int y = cell.Top; y <= cell.Bottom; ++y)
        for (int x = cell.Left; x <= cell.Right; ++x, ++all) {
            filled += Near(img.pixel(x, y), GetParam().Cell);
            lettered += Near(img.pixel(x, y), GetParam().Text);
        }
    EXPECT_GT(filled, all * 6 / 10);
    EXPECT_GT(lettered, all / 20);
    EXPECT_TRUE(Services.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FilledCellTest,
    ::testing::Values(CellCase{"Reverse", "\x1b[7mHHHH\x1b[27m", qRgb(0, 0, 0), qRgb(255, 255, 255)},
                      CellCase{"ReverseOfRed", "\x1b[31;7mHHHH\x1b[0m", qRgb(0xAA, 0, 0), qRgb(255, 255, 255)},
                      CellCase{"BlueBackground", "\x1b[44mHHHH\x1b[49m", qRgb(0, 0, 0xAA), qRgb(0, 0, 0)},
                      CellCase{"TrueColourBackground", "\x1b[48;2;0;128;0mHHHH\x1b[m", qRgb(0, 128, 0), qRgb(0, 0, 0)}),
    [](const auto& info) { return std::string(info.param.Name); });

// In the PDF the reversed cell is a rectangle filled black where the text
// starts, the text is white within it, and pdftotext gives the text back.
TEST_F(FilledCellTest, FillsTheCellInThePdf)
{
    ASSERT_TRUE(R->OpenFile(Write("a \x1b[7mHHHH\x1b[27m b\n"), nullptr));
    const std::string pdf = Dir.filePath("reverse.pdf").toStdString();
    ASSERT_EQ(R->MakePDF(nullptr, pdf), 0) << Globals().LastErrorMessage;
    std::string content;
    for (const std::string& s : ContentStreams(ReadBytes(pdf)))
        content += s;
    const std::regex cell(R"((\d+) (\d+) (\d+) (\d+) re\s+0 0 0 rg\s+f\s+BT\s+1 1 1 rg\s+[^()]*?(\d+) (\d+) Td\s+\(HHHH\) Tj)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(content, m, cell)) << content;
    EXPECT_EQ(m[1], m[5]);          // the cell starts where the text does
    EXPECT_GT(std::stoi(m[3]), 0);  // and has a width
    EXPECT_GE(std::stoi(m[6]), std::stoi(m[2]));
    EXPECT_LE(std::stoi(m[6]), std::stoi(m[2]) + std::stoi(m[4]));
    EXPECT_NE(PdfText(pdf).find("a HHHH b"), std::string::npos) << PdfText(pdf);
}

// A window title, however long, draws nothing and takes no room: the line
// neither shows it nor wraps for it.
TEST_F(FilledCellTest, StringSequencesTakeNoRoom)
{
    ASSERT_TRUE(RenderReport("HHHH\n", 0));
    const double lineEnd = R->PageSpan().CursorY;
    ASSERT_TRUE(RenderReport("HHHH\n"));
    const QImage plain = Page->Image().copy();
    for (const std::string& title : {"\x1b]0;" + std::string(300, 't') + "\a", "\x1bP" + std::string(300, 'q') + "\x1b\\"}) {
        ASSERT_TRUE(RenderReport(title + "HHHH\n"));
        EXPECT_EQ(Page->Image(), plain);
        ASSERT_TRUE(RenderReport(title + "HHHH\n", 0));
        EXPECT_EQ(R->PageSpan().CursorY, lineEnd);
    }
}

}  // namespace
}  // namespace quillard::test
