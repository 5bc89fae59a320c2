// Tests of the markup's lexical layer: string helpers, attribute look-up and
// the value parsers every tag handler relies on.
#include "engine/markup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

using namespace quillard;

namespace {

constexpr double kPi = std::numbers::pi;

double Deg(double d) { return d * kPi / 180.0; }

// ---- string helpers -------------------------------------------------------

TEST(MarkupStrings, TrimTakesOnlySpacesCarriageReturnsAndFF)
{
    struct Case { std::string in, trimmed, right, left; };
    const std::vector<Case> cases = {
        {"", "", "", ""},
        {"  abc  ", "abc", "  abc", "abc  "},
        {"\r\xFF x \xFF\r", "x", "\r\xFF x", "x \xFF\r"},
        {"\tx\t", "\tx\t", "\tx\t", "\tx\t"},   // tabs stay
        {"\nx\n", "\nx\n", "\nx\n", "\nx\n"},   // line feeds stay
        {"a b", "a b", "a b", "a b"},
        {" \r\xFF ", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(Trim(c.in), c.trimmed);
        EXPECT_EQ(TrimRight(c.in), c.right);
        EXPECT_EQ(TrimLeft(c.in), c.left);
    }
}

TEST(MarkupStrings, BlankMeansEmptyOrSpaces)
{
    EXPECT_TRUE(IsBlank(""));
    EXPECT_TRUE(IsBlank("   "));
    EXPECT_FALSE(IsBlank(" \r "));
    EXPECT_FALSE(IsBlank("\t"));
    EXPECT_FALSE(IsBlank(" x "));
}

TEST(MarkupStrings, SearchAndReplace)
{
    struct Pos { std::string sub, s; int expected; };
    for (const Pos& c : std::vector<Pos>{{"b", "abc", 2}, {"ABC", "xxabc", 3}, {"z", "abc", 0},
                                         {"", "abc", 0}, {"abcd", "abc", 0}, {"aab", "aaab", 2},
                                         {"\xE9", "caf\xC9\xE9", 5}}) {
        SCOPED_TRACE(c.sub + " in " + c.s);
        EXPECT_EQ(PosNoCase(c.sub, c.s), c.expected);
    }

    struct Repl { std::string s, find, repl, exact, noCase; };
    const std::vector<Repl> cases = {
        {"a-A-a", "a", "b", "b-A-b", "b-b-b"},
        {"aaa", "aa", "x", "xa", "xa"},              // left to right, no overlap
        {"abab", "ab", "abab", "abababab", "abababab"},  // replaced text is not rescanned
        {"Hello", "", "x", "Hello", "Hello"},
        {"x{Y}x", "y", "", "x{Y}x", "x{}x"},
    };
    for (const Repl& c : cases) {
        SCOPED_TRACE(c.s + " / " + c.find);
        EXPECT_EQ(ReplaceAll(c.s, c.find, c.repl), c.exact);
        EXPECT_EQ(ReplaceAllNoCase(c.s, c.find, c.repl), c.noCase);
    }
}

TEST(MarkupStrings, SlicingAndBuilding)
{
    EXPECT_EQ(LeftStr("abcdef", 3), "abc");
    EXPECT_EQ(LeftStr("ab", 5), "ab");
    EXPECT_EQ(LeftStr("ab", -1), "");
    EXPECT_EQ(RightStr("abcdef", 2), "ef");
    EXPECT_EQ(RightStr("ab", 5), "ab");
    EXPECT_EQ(RightStr("ab", 0), "");
    EXPECT_EQ(DupeString("ab", 3), "ababab");
    EXPECT_EQ(DupeString("ab", 0), "");
    EXPECT_EQ(DupeString("ab", -4), "");
    EXPECT_EQ(InsertAt("abcd", "XY", 1), "XYabcd");
    EXPECT_EQ(InsertAt("abcd", "XY", 3), "abXYcd");
    EXPECT_EQ(InsertAt("abcd", "XY", 5), "abcdXY");
    EXPECT_EQ(InsertAt("abcd", "XY", 99), "abcdXY");
    EXPECT_EQ(IncludeBackslash("C:\\dir"), "C:\\dir\\");
    EXPECT_EQ(IncludeBackslash("C:\\dir\\"), "C:\\dir\\");
    EXPECT_EQ(IncludeBackslash(""), "\\");
    EXPECT_EQ(Choose(true, "a", "b"), "a");
    EXPECT_EQ(Choose(false, "a", "b"), "b");
    EXPECT_EQ(UpperCase("ab\xE9z"), "AB\xE9Z");  // ASCII letters only
    EXPECT_EQ(LowerCase("AB\xC9Z"), "ab\xC9z");
    EXPECT_TRUE(SameText("Font", "FONT"));
    EXPECT_FALSE(SameText("\xE9", "\xC9"));
    EXPECT_FALSE(SameText("FONT", "FONTS"));
}

TEST(MarkupStrings, EnvironmentValuesAreTrimmedAndCapped)
{
    setenv("QUILLARD_TEST_ENV", "  value \r", 1);
    EXPECT_EQ(GetEnvVar("QUILLARD_TEST_ENV"), "value");
    setenv("QUILLARD_TEST_ENV", std::string(150, 'x').c_str(), 1);
    EXPECT_EQ(GetEnvVar("QUILLARD_TEST_ENV"), std::string(100, 'x'));
    unsetenv("QUILLARD_TEST_ENV");
    EXPECT_EQ(GetEnvVar("QUILLARD_TEST_ENV"), "");
    EXPECT_EQ(GetEnvVar(""), "");
}

// ---- tag helpers ----------------------------------------------------------

struct AttrCase { std::string tag, names, expected; };

std::ostream& operator<<(std::ostream& os, const AttrCase& c)
{
    return os << c.tag << " [" << c.names << "]";
}

class GetAttributeTest : public testing::TestWithParam<AttrCase> {};

TEST_P(GetAttributeTest, Value)
{
    EXPECT_EQ(GetAttribute(GetParam().tag, GetParam().names), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Named, GetAttributeTest, testing::Values(
    AttrCase{R"({FONT NAME="Courier New" SIZE=10})", "NAME;FACE", "Courier New"},
    AttrCase{R"({FONT NAME="Courier New" SIZE=10})", "SIZE", "10"},
    AttrCase{R"({FONT NAME="Courier New" SIZE=10})", "COLOR;COLOUR", ""},
    AttrCase{R"({FONT FACE='Arial' SIZE=10})", "NAME,FACE", "Arial"},      // comma separates too
    AttrCase{"{font size=12}", "SIZE", "12"},                             // names ignore case
    AttrCase{"{X A=1 B=2}", "B;A", "2"},                                  // list order wins
    AttrCase{"{X A= B=2}", "A", "B=2"},                                   // value after trimming
    AttrCase{"{X A=}", "A;B", ""},
    AttrCase{"{X A=} {Y B=3}", "A", ""},                                  // a brace ends the value
    AttrCase{"{IMAGE SRC=[C:\\a b.bmp]}", "SRC", "C:\\a b.bmp"},
    AttrCase{"{X T='say \"hi\" = {ok'}", "T", "say \"hi\" = {ok"},
    AttrCase{"{X T=\"a}b\"}", "T", "a"},                                  // no value holds "}"
    AttrCase{"{X T=\"unterminated}", "T", "unterminated"},
    AttrCase{"{X A=1", "A", "1"}));

INSTANTIATE_TEST_SUITE_P(Flags, GetAttributeTest, testing::Values(
    AttrCase{"{SPAN NOCLIP}", "NOCLIP", "TRUE"},
    AttrCase{"{SPAN NOCLIP LEFT=2}", "NOCLIP", "2"},
    AttrCase{"{SPAN NOCLIP LEFT=1in}", "NOCLIP", "1in"},
    AttrCase{"{SPAN NOCLIP LEFT=2}", "LEFT", "2"},
    AttrCase{"{SPAN NOCLIP", "NOCLIP", ""},                              // nothing after the name
    AttrCase{"{SPAN NOCLIPX}", "NOCLIP", ""}));

INSTANTIATE_TEST_SUITE_P(NameMatching, GetAttributeTest, testing::Values(
    AttrCase{"{X LEFTX=1 LEFT=2}", "LEFT", ""},                           // first occurrence only
    AttrCase{"{X LEFTX=1 LEFT=2}", "LEFT;LEFTX", "1"},
    AttrCase{"{X TEXT='A LEFT=1' TOP=2}", "LEFT", ""},
    AttrCase{"{X TEXT='A LEFT=1' TOP=2}", "TOP", "2"},
    AttrCase{"{X TEXT=[A LEFT=1] TOP=2}", "LEFT", ""},
    AttrCase{"{X TEXT=\"A LEFT=1\" LEFT=3}", "LEFT", "3"},
    AttrCase{"{XLEFT=1}", "LEFT", ""},                                    // needs a space before
    AttrCase{"{X  A=1}", " A", "1"}));                                    // spaces belong to a name

INSTANTIATE_TEST_SUITE_P(BlankNameList, GetAttributeTest, testing::Values(
    AttrCase{"{TRAY=LOWER}", "", "LOWER"},
    AttrCase{"{TRAY=\"LOWER\"}", "", "LOWER"},
    AttrCase{"{TRAY= ' \"LOWER\" ' }", "  ", "LOWER"},
    AttrCase{"{LPP=66}", "", "66"},
    AttrCase{"{TRAY}", "", ""},
    AttrCase{"{TRAY=}", "", ""},
    AttrCase{"{A=B=C}", "", "B=C"}));

TEST(MarkupTags, FindAttributeNameGivesTheSpaceBeforeTheName)
{
    struct Case { std::string tag, name; int expected; };
    for (const Case& c : std::vector<Case>{
             {"{FONT SIZE=1}", "SIZE", 6},
             {"{FONT size=1}", "SIZE", 6},
             {"{X T=\"a SIZE\" SIZE=1}", "SIZE", 14},
             {"{X T='a SIZE' SIZE=1}", "SIZE", 14},
             {"{X T=[a SIZE] SIZE=1}", "SIZE", 14},
             {"{X T=[a \"SIZE] SIZE=1}", "SIZE", 15},  // a bracket is closed only by "]"
             {"{X T=\"a SIZE}", "SIZE", 0},
             {"{SIZE=1}", "SIZE", 0},
             {"", "SIZE", 0}}) {
        SCOPED_TRACE(c.tag);
        EXPECT_EQ(FindAttributeName(c.tag, c.name), c.expected);
    }
}

TEST(MarkupTags, TagAtAndDeleteTagAt)
{
    EXPECT_EQ(TagAt("ab{PAGE}cd", 3), "{PAGE}");
    EXPECT_EQ(TagAt("ab{PAGE  }cd{X}", 3), "{PAGE  }");
    EXPECT_EQ(TagAt("ab{PAGE   ", 3), "{PAGE");
    EXPECT_EQ(TagAt("ab{PAGE}", 20), "");
    EXPECT_EQ(DeleteTagAt("ab{PAGE}cd", 3), "abcd");
    EXPECT_EQ(DeleteTagAt("ab{PAGE}cd{X}", 3), "abcd{X}");
    // The first "}" of the whole line decides: one before Pos leaves the line alone.
    EXPECT_EQ(DeleteTagAt("{A}b{C}", 5), "{A}b{C}");
    EXPECT_EQ(DeleteTagAt("ab{PAGE", 3), "ab{PAGE");
}

// ---- numbers --------------------------------------------------------------

TEST(MarkupValues, ParseIntPrefix)
{
    struct Case { std::string s; int32_t expected; };
    for (const Case& c : std::vector<Case>{
             {"12PT", 12}, {"007", 7}, {"0", 0}, {"", -1}, {"-5", -1}, {" 5", -1}, {"+5", -1},
             {"2147483647", 2147483647}, {"2147483648", -1}, {"12345678901", -1},
             {"00000000000042x", 42}, {"abc", -1}}) {
        SCOPED_TRACE(c.s);
        EXPECT_EQ(ParseIntPrefix(c.s, -1), c.expected);
    }
}

TEST(MarkupValues, ParseHex)
{
    struct Case { std::string s; int64_t expected; };
    for (const Case& c : std::vector<Case>{
             {"#FF0000", 0xFF0000}, {"ff", 0xFF}, {"#aBc", 0xABC}, {"1#2", 0x102},
             {"##F", 0x0F}, {"#", -7}, {"", -7}, {"xyz", -7}, {"12G4", 0x12},
             {"#7FFFFFFF", 0x7FFFFFFF}, {"000000000001", 1}, {" 12", -7}}) {
        SCOPED_TRACE(c.s);
        EXPECT_EQ(ParseHex(c.s, -7), c.expected);
    }
    EXPECT_THROW(ParseHex("#80000000", 0), EConvertError);
    EXPECT_THROW(ParseHex("FFFFFFFFFFFF", 0), EConvertError);
}

TEST(MarkupValues, IntToHexPad)
{
    EXPECT_EQ(IntToHexPad(0, 0), "0");
    EXPECT_EQ(IntToHexPad(255, 0), "FF");
    EXPECT_EQ(IntToHexPad(255, 6), "0000FF");
    EXPECT_EQ(IntToHexPad(0x1234567, 2), "1234567");
    EXPECT_EQ(IntToHexPad(-1, 0), "");
    EXPECT_EQ(IntToHexPad(-1, 3), "000");
}

TEST(MarkupValues, RoundHalfEven)
{
    struct Case { double v; int64_t expected; };
    for (const Case& c : std::vector<Case>{{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2},
                                           {2.4999, 2}, {2.5001, 3}, {-2.6, -3}, {1e300, INT64_MAX},
                                           {NAN, 0}}) {
        SCOPED_TRACE(c.v);
        EXPECT_EQ(RoundHalfEven(c.v), c.expected);
    }
}

// ---- colours and brushes --------------------------------------------------

struct ColorCase { std::string s; bool colour; COLORREF expected; };

std::ostream& operator<<(std::ostream& os, const ColorCase& c)
{
    return os << c.s << (c.colour ? " (colour)" : " (mono)");
}

class ParseColorTest : public testing::TestWithParam<ColorCase> {};

constexpr COLORREF kDefault = 0x123456;

TEST_P(ParseColorTest, Value)
{
    EXPECT_EQ(ParseColor(GetParam().s, kDefault, GetParam().colour), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Numbers, ParseColorTest, testing::Values(
    ColorCase{"#0000FF", true, 0xFF0000},
    ColorCase{"#0000FF", false, 0x555555},
    ColorCase{"#FF0000", true, 0x0000FF},
    ColorCase{"#ff8000", true, 0x0080FF},
    ColorCase{"#1FF0000", true, 0x0000FF},        // bits past 24 dropped
    ColorCase{"#FFFFFFFFF", true, kDefault},      // overflow falls back
    ColorCase{"16711680", true, 0xFF0000},
    ColorCase{"16711680", false, 0x555555},
    ColorCase{"255 ", true, 0x0000FF},
    ColorCase{"99999999999", true, 0},            // out of range reads as 0
    ColorCase{"#808080", false, 0x808080},
    ColorCase{"#010203", false, 0x020202}));

INSTANTIATE_TEST_SUITE_P(Names, ParseColorTest, testing::Values(
    ColorCase{"red", true, 0x0000FF}, ColorCase{"RED", false, 0x808080},
    ColorCase{" Blue ", true, 0xFF0000}, ColorCase{"BLUE", false, 0},
    ColorCase{"AQUA", true, 0xFFFF00}, ColorCase{"AQUA", false, 0xC0C0C0},
    ColorCase{"CYAN", true, 0xFFFF00}, ColorCase{"CYAN", false, kDefault},
    ColorCase{"LTBLUE", false, kDefault}, ColorCase{"MAGENTA", true, 0xFF00FF},
    ColorCase{"MAGENTA", false, kDefault}, ColorCase{"FUCHSIA", false, 0x808080},
    ColorCase{"LTGREEN", true, 0x00FF00}, ColorCase{"LTGREEN", false, kDefault},
    ColorCase{"LIME", false, 0xC0C0C0}, ColorCase{"SILVER", true, 0xC0C0C0},
    ColorCase{"SILVER", false, 0x808080}, ColorCase{"LTGRAY", false, 0xC0C0C0},
    ColorCase{"DKGRAY", true, 0x808080}, ColorCase{"NAVY", true, 0x800000},
    ColorCase{"NAVY", false, 0}, ColorCase{"MAROON", true, 0x000080},
    ColorCase{"OLIVE", true, 0x008080}, ColorCase{"PURPLE", true, 0x800080},
    ColorCase{"TEAL", true, 0x808000}, ColorCase{"GREEN", true, 0x008000},
    ColorCase{"WHITE", false, 0xFFFFFF}, ColorCase{"YELLOW", true, 0x00FFFF},
    ColorCase{"YELLOW", false, 0xC0C0C0}, ColorCase{"PINK", true, kDefault},
    ColorCase{"", true, kDefault}, ColorCase{"-1", true, kDefault}));

TEST(MarkupColours, ColorNameWritesNamesOrRRGGBB)
{
    struct Case { COLORREF c; std::string name; };
    for (const Case& c : std::vector<Case>{
             {0, "BLACK"}, {0x0000FF, "RED"}, {0xFF0000, "BLUE"}, {0xFF00FF, "MAGENTA"},
             {0xFFFF00, "AQUA"}, {0x808080, "GRAY"}, {0xC0C0C0, "LTGRAY"}, {0xFFFFFF, "WHITE"},
             {0x0080FF, "#FF8000"}, {0x010203, "#030201"}, {0x000001, "#010000"}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ColorName(c.c), c.name);
        EXPECT_EQ(ParseColor(ColorName(c.c), 0x777777, true), c.c);  // reads back
    }
}

TEST(MarkupColours, BrushStylesFollowTheFirstMatchingRule)
{
    struct Case { std::string s; int expected; };
    for (const Case& c : std::vector<Case>{
             {"SOLID", 0}, {"solid", 0}, {"CLEAR", 1}, {"NONE", 1}, {"Transparent", 1},
             {"CROSS", 6}, {"HATCH", 6}, {"+", 6}, {"DIAGCROSS", 7}, {"CROSSHATCH", 7},
             {"X", 7}, {"XYZ", 7}, {"HORIZONTAL", 2}, {"HORIZ", 2}, {"-", 2}, {"VERTICAL", 3},
             {"VERT", 3}, {"|", 3}, {"BDIAGONAL", 5}, {"BACK", 5}, {"//", 5}, {"FDIAGONAL", 4},
             {"FORWARD", 4}, {"\\", 4}, {"", -1}, {" SOLID", -1}, {"DOTS", -1}}) {
        SCOPED_TRACE(c.s);
        EXPECT_EQ(ParseBrushStyle(c.s, -1), c.expected);
    }
}

// ---- angles ---------------------------------------------------------------

TEST(MarkupAngles, NumbersAndWords)
{
    struct Case { std::string s; double radians; };
    for (const Case& c : std::vector<Case>{
             {"0", 0}, {"90", Deg(90)}, {"-90", Deg(270)}, {"-45", Deg(315)},
             {"-400", Deg(-40)}, {"22.5", Deg(22)}, {"  45 DEG ", Deg(45)}, {"720", Deg(720)},
             {"1R", kPi}, {"1 rad", kPi}, {"2PIR", 2 * kPi}, {"1PIRAD", kPi}, {"-1R", kPi},
             {"-3R", -kPi}, {"east", 0}, {"RIGHT", 0}, {"ENE", Deg(22.5)}, {"NE", Deg(45)},
             {"NNE", Deg(67.5)}, {"UP", Deg(90)}, {"N", Deg(90)}, {"NNW", Deg(112.5)},
             {"NW", Deg(135)}, {"WNW", Deg(157.5)}, {"LEFT", kPi}, {"WEST", kPi},
             {"WSW", Deg(202.5)}, {"SW", Deg(225)}, {"SSW", Deg(247.5)}, {"DOWN", Deg(270)},
             {"S", Deg(270)}, {"SSE", Deg(292.5)}, {"SE", Deg(315)}, {"ESE", Deg(337.5)},
             {"NORTHWEST", 0}, {"", 0}, {"+90", 0}}) {
        SCOPED_TRACE(c.s);
        EXPECT_NEAR(ParseAngle(c.s), c.radians, 1e-12);
    }
}

TEST(MarkupAngles, InvalidNumbersRaise)
{
    for (const char* s : {"1-2", "12-", "-", "--5", "-R", "2147483648", "99999999999999999999"}) {
        SCOPED_TRACE(s);
        EXPECT_THROW(ParseAngle(s), EConvertError);
    }
    EXPECT_NO_THROW(ParseAngle("-2147483648"));
}

// ---- entities -------------------------------------------------------------

TEST(MarkupEntities, Decode)
{
    struct Case { std::string in, out; };
    for (const Case& c : std::vector<Case>{
             {"plain", "plain"}, {"&amp;", "&"}, {"a &lt;b&gt;", "a <b>"}, {"&#65;", "A"},
             {"& x", "& x"}, {"x &lt", "x <"}, {"AT&T", "AT"}, {"&lbrace;B&rbrace;", "{B}"},
             {"&&amp;", "&&"}, {"&quot;q&quot;", "\"q\""}, {"&#9;|", "        |"},
             {"&#10;x", "x"}, {"&#256;x", "x"}, {"&#31;x", "x"}, {"&#255;", "\xFF"},
             {"&a-m.p;", "&"}, {"&eacute;t&eacute;", "\xE9t\xE9"}, {"&Eacute;", "\xC9"},
             {"&EACUTE;", ""}, {"x&", "x"}, {"&;", ""}, {"&#99999999999;", ""}}) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(DecodeEntities(c.in), c.out);
    }
}

TEST(MarkupEntities, Latin1Names)
{
    struct Case { const char* name; int code; };
    for (const Case& c : std::vector<Case>{
             {"nbsp", 160}, {"iexcl", 161}, {"copy", 169}, {"shy", 173}, {"reg", 174},
             {"deg", 176}, {"frac34", 190}, {"iquest", 191}, {"Agrave", 192}, {"AElig", 198},
             {"ETH", 208}, {"times", 215}, {"THORN", 222}, {"szlig", 223}, {"agrave", 224},
             {"aelig", 230}, {"eth", 240}, {"divide", 247}, {"thorn", 254}, {"yuml", 255}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EntityText(c.name), std::string(1, static_cast<char>(c.code)));
    }
    EXPECT_EQ(EntityText("Yuml"), "");
    EXPECT_EQ(EntityText("AMP"), "");
    EXPECT_EQ(EntityText("65"), "A");
    EXPECT_EQ(EntityText("9"), "        ");
}

// ---- numerals -------------------------------------------------------------

TEST(MarkupNumerals, Roman)
{
    struct Case { int n; const char* roman; };
    for (const Case& c : std::vector<Case>{
             {0, ""}, {-3, ""}, {1, "I"}, {4, "IV"}, {9, "IX"}, {14, "XIV"}, {40, "XXXX"},
             {49, "XXXXIX"}, {50, "L"}, {90, "XC"}, {99, "XCIX"}, {400, "CCCC"},
             {500, "CCCCC"}, {444, "CCCCXXXXIV"}, {800, "CCM"}, {900, "CM"}, {1999, "MCMXCIX"},
             {2024, "MMXXIV"}}) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(RomanNumeral(c.n), c.roman);
    }
}

TEST(MarkupNumerals, Alpha)
{
    struct Case { int n; const char* alpha; };
    for (const Case& c : std::vector<Case>{
             {1, "a"}, {2, "b"}, {26, "z"}, {27, "ba"}, {52, "bz"}, {53, "ca"}, {676, "zz"},
             {677, "baa"}, {0, "a"}}) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(AlphaNumeral(c.n), c.alpha);
    }
}

// ---- highlighting ---------------------------------------------------------

TEST(MarkupHighlight, WrapsMatchesOutsideTagsAndEntities)
{
    struct Case { std::string line, find; bool caseSensitive; std::string out; int count; };
    const std::vector<Case> cases = {
        {"no match here", "xyz", false, "no match here", 0},
        {"Total: total", "total", false, "<L>[Total]: [total]</L>", 2},
        {"Total: total", "total", true, "<L>Total: [total]</L>", 1},
        {"{FONT total}total", "TOTAL", false, "<L>{FONT total}[total]</L>", 1},
        {"{B}{I}x{/I}{/B}x", "x", false, "<L>{B}{I}[x]{/I}{/B}[x]</L>", 2},
        {"{FONT x}", "x", false, "{FONT x}", 0},                     // only inside a tag
        {"&amp; amp", "amp", false, "<L>&amp; [amp]</L>", 1},
        {"& amp", "amp", false, "<L>& [amp]</L>", 1},
        {"&xxxxxxxxxxxxx; amp", "amp", false, "<L>&xxxxxxxxxxxxx; [amp]</L>", 1},
        {"aaaa", "aa", false, "<L>[aa][aa]</L>", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line + " / " + c.find);
        std::string line = c.line;
        EXPECT_EQ(HighlightMatches(line, c.find, c.caseSensitive, "]", "[", "</L>", "<L>"), c.count);
        EXPECT_EQ(line, c.out);
    }
}

// ---- robustness -----------------------------------------------------------

// Ten-megabyte inputs: quadratic work here would run past the test's time
// limit in ctest.
TEST(MarkupRobustness, LongAndHostileInputsStayFast)
{
    const std::string spaces(10'000'000, ' ');
    const std::string tag = "{X" + spaces + "A=1}";
    EXPECT_EQ(GetAttribute(tag, "A"), "1");
    EXPECT_EQ(GetAttribute("{X T='" + spaces + "'}", std::string(200, ' ') + "Z;T"), spaces);
    EXPECT_EQ(FindAttributeName(spaces, std::string(5'000, ' ') + "x"), 0);
    EXPECT_EQ(PosNoCase(std::string(5'000, 'a') + "b", std::string(10'000'000, 'A') + "B"),
              10'000'000 - 5'000 + 1);

    std::string line(10'000'000, 'a');
    EXPECT_EQ(HighlightMatches(line, "a", true, "", "", "", ""), 10'000'000);
    std::string amps(10'000'000, '&');
    EXPECT_EQ(HighlightMatches(amps, "&&", true, ")", "(", "", ""), 5'000'000);
    EXPECT_EQ(DecodeEntities(std::string(10'000'000, '&') + " "), std::string(10'000'000, '&') + " ");
    EXPECT_EQ(ReplaceAllNoCase(std::string(10'000'000, 'a'), std::string(1000, 'A') + "b", "x").size(),
              10'000'000u);
    EXPECT_EQ(ParseIntPrefix(std::string(10'000'000, '9'), 3), 3);
    EXPECT_THROW(ParseAngle(std::string(10'000'000, '-')), EConvertError);
}

TEST(MarkupRobustness, GarbageBytesNeverThrowFromQuietParsers)
{
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919 + 13) & 0xFF);
    for (size_t len : {0u, 1u, 2u, 17u, 255u, 4096u}) {
        const std::string s = garbage.substr(0, len);
        EXPECT_NO_THROW({
            GetAttribute(s, "A;B");
            GetAttribute(s, "");
            ParseColor(s, 0, true);
            ParseColor(s, 0, false);
            ParseBrushStyle(s, 0);
            DecodeEntities(s);
            TagAt(s, 3);
            DeleteTagAt(s, 3);
            std::string line = s;
            HighlightMatches(line, "{", false, "", "", "", "");
        });
    }
}

}  // namespace
