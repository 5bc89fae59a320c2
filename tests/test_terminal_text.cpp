// Text written for terminals and line printers: backspace overstrike and ANSI
// escape sequences turned into markup, and tab stops on the page.
#include "tests/testutil.h"

#include "engine/terminaltext.h"

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

}  // namespace
}  // namespace quillard::test
