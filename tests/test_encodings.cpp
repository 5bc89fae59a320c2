// Character sets of reports: which one a report is read in, UTF-8 and CP437
// text drawn as the characters they name, box drawing and block characters
// as strokes and fills, and what the PDF gives back through pdftotext.
#include "tests/pdftestutil.h"
#include "tests/testutil.h"

#include "app/addtextwindow.h"
#include "surfaces/linedraw.h"
#include "base/strings.h"
#include "base/textencoding.h"

#include <QProcessEnvironment>
#include <QSettings>
#include <algorithm>
#include <fstream>
#include <iterator>

namespace quillard::test {
namespace {

using Choice = tRenderer::TEncodingChoice;
using Encoding = tRenderer::TReportEncoding;

// ---- conversions -------------------------------------------------------------------

struct DecodeCase {
    const char* Name;
    std::string Bytes;
    std::u32string Chars;
};

class Utf8DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8DecodeTest, GivesTheCharacters)
{
    const std::string& b = GetParam().Bytes;
    std::u32string chars;
    for (size_t i = 0; i < b.size();)
        chars += DecodeUtf8(b, i);
    EXPECT_EQ(chars, GetParam().Chars);
    TUtf8Validator v;
    v.Feed(b.data(), b.size());
    EXPECT_EQ(v.Complete(), chars.find(U'\xFFFD') == std::u32string::npos) << "validator and decoder disagree";
}

// The validator steps over ASCII eight bytes at a time: the sequence, at any
// offset in long ASCII text and fed in pieces of any size, is judged as the
// decoder reads it.
TEST_P(Utf8DecodeTest, ValidatorAgreesAtEveryOffsetAndInPieces)
{
    const std::string& b = GetParam().Bytes;
    const bool complete = GetParam().Chars.find(U'\xFFFD') == std::u32string::npos;
    // A sequence cut short by the end of the text is not cut short when text follows.
    const bool cutAtEnd = std::string(GetParam().Name) == "CutShort";
    for (size_t offset = 0; offset < 17; ++offset)
        for (size_t piece : {size_t(1), size_t(3), size_t(8), size_t(1000)}) {
            const std::string text = std::string(offset, 'x') + b + std::string(cutAtEnd ? 0 : 20, 'y');
            TUtf8Validator v;
            for (size_t i = 0; i < text.size(); i += piece)
                v.Feed(text.data() + i, std::min(piece, text.size() - i));
            EXPECT_EQ(v.Complete(), complete) << "offset " << offset << ", pieces of " << piece;
            EXPECT_EQ(v.NonAscii, std::any_of(b.begin(), b.end(), [](char c) { return (c & 0x80) != 0; }))
                << "offset " << offset;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf8DecodeTest,
    ::testing::Values(DecodeCase{"Ascii", "Ab", U"Ab"}, DecodeCase{"TwoBytes", "\xC3\xA9", U"\u00E9"},
                      DecodeCase{"ThreeBytes", "\xE2\x82\xAC", U"\u20AC"},
                      DecodeCase{"FourBytes", "\xF0\x9F\x98\x80", U"\U0001F600"},
                      DecodeCase{"StrayContinuation", "\x80" "a", U"\xFFFD" "a"},
                      DecodeCase{"Overlong", "\xC0\xAF", U"\xFFFD\xFFFD"},
                      DecodeCase{"OverlongThree", "\xE0\x80\xAF", U"\xFFFD\xFFFD\xFFFD"},
                      DecodeCase{"Surrogate", "\xED\xA0\x80", U"\xFFFD\xFFFD\xFFFD"},
                      DecodeCase{"BeyondUnicode", "\xF4\x90\x80\x80", U"\xFFFD\xFFFD\xFFFD\xFFFD"},
                      DecodeCase{"CutShort", "a\xE2\x82", U"a\xFFFD\xFFFD"},
                      DecodeCase{"Windows1252Letter", "caf\xE9!", U"caf\xFFFD!"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TextEncoding, ValidatorFollowsASequenceAcrossPieces)
{
    TUtf8Validator v;
    v.Feed("\xE2", 1);
    EXPECT_FALSE(v.Complete());
    v.Feed("\x82\xAC", 2);
    EXPECT_TRUE(v.Complete());
    EXPECT_TRUE(v.NonAscii);
}

TEST(TextEncoding, ConversionsBetweenTheCharacterSets)
{
    EXPECT_EQ(Cp1252ToUtf8("\x80\xE9\x81"), "\xE2\x82\xAC\xC3\xA9\xC2\x81");
    EXPECT_EQ(Cp437ToUtf8("\x82\xC9\xB0\xE1"), "\xC3\xA9\xE2\x95\x94\xE2\x96\x91\xC3\x9F");
    size_t unmapped = 0;
    EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC \xC3\xA9 \xCE\xA9 \xF0\x9F\x98\x80", &unmapped), "\x80 \xE9 ? ?");
    EXPECT_EQ(unmapped, 2u);
}

TEST(TextEncoding, LineDrawCodes)
{
    EXPECT_EQ(LineDrawCodeOf(U'\u2500'), 196);
    EXPECT_EQ(LineDrawCodeOf(U'\u2550'), 205);
    EXPECT_EQ(LineDrawCodeOf(U'\u256C'), 206);
    EXPECT_EQ(LineDrawCodeOf(U'\u2588'), 219);
    EXPECT_EQ(LineDrawCodeOf(U'\u2591'), 176);
    EXPECT_EQ(LineDrawCodeOf(U'\u2501'), 196);  // heavy as plain
    EXPECT_EQ(LineDrawCodeOf(U'\u256D'), 218);  // rounded as square
    EXPECT_EQ(LineDrawCodeOf(U'\u2571'), 0);    // a diagonal has no stroke
    EXPECT_EQ(LineDrawCodeOf(U'A'), 0);
    // the character itself goes along, for surfaces that keep text
    EXPECT_EQ(ReplaceUtf8LineDrawChars("a\xE2\x94\x82" "b\xE2\x82\xAC"),
              "a{FIELD CODE=\"LINE\" CHAR=\"#179\" TEXT=\"#9474\"}b\xE2\x82\xAC");
    EXPECT_EQ(ReplaceUtf8LineDrawChars("\xE2\x94\x81"), "{FIELD CODE=\"LINE\" CHAR=\"#196\" TEXT=\"#9473\"}");
}

TEST(TextEncoding, CaseFoldingKeepsPositions)
{
    struct {
        std::string In, Out;
    } cases[] = {
        {"ABC \xC3\x89t\xC3\xA9", "abc \xC3\xA9t\xC3\xA9"},           // É
        {"\xC3\x97\xC3\x9F", "\xC3\x97\xC3\x9F"},                       // × and ß stay
        {"\xC5\x81\xC5\xBD\xC5\xB8", "\xC5\x82\xC5\xBE\xC3\xBF"},   // Ł Ž Ÿ
        {"\xCE\xA9\xCE\x91", "\xCF\x89\xCE\xB1"},                       // Ω Α
        {"\xD0\x90\xD0\xAF\xD0\x81", "\xD0\xB0\xD1\x8F\xD1\x91"},   // А Я Ё
        {"\xFF\xC3", "\xFF\xC3"},                                           // no UTF-8
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FoldUtf8Case(c.In), c.Out) << c.In;
        EXPECT_EQ(FoldUtf8Case(c.In).size(), c.In.size());
    }
}

// Find in a UTF-8 report matches letters of any case, never half a character.
TEST_F(EngineTest, FindMatchesCharactersInUtf8)
{
    R->Find.Text = "x";
    R->Find.TextUtf8 = "\xC3\x89T\xC3\x89";  // ÉTÉ
    ASSERT_TRUE(RenderReport("page one \xC3\xA9t\xC3\xA9\n\fpage two\n\fpage three \xC3\x89T\xC3\x89\n", 0));
    EXPECT_EQ(R->Find.FoundPages, ",1,,3,");
    R->Find.TextUtf8 = "\xA9";  // the second byte of é alone is no character
    ASSERT_TRUE(RenderReport("\xC3\xA9t\xC3\xA9\n", 0));
    EXPECT_EQ(R->Find.FoundPages, "");
}

// ---- which character set -------------------------------------------------------------

struct DetectCase {
    const char* Name;
    std::string Report;
    Choice Chosen;
    Encoding Expected;
};

class EncodingDetectionTest : public EngineTest, public ::testing::WithParamInterface<DetectCase> {};

TEST_P(EncodingDetectionTest, DecidesTheCharacterSet)
{
    R->EncodingChoice = GetParam().Chosen;
    ASSERT_TRUE(R->OpenFile(Write(GetParam().Report), nullptr));
    EXPECT_EQ(R->ReportEncoding, GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, EncodingDetectionTest,
    ::testing::Values(DetectCase{"AsciiIsWindows", "plain text\r\n", Choice::Auto, Encoding::Cp1252},
                      DetectCase{"ValidUtf8", "caf\xC3\xA9\n", Choice::Auto, Encoding::Utf8},
                      DetectCase{"WindowsBytes", "caf\xE9\r\n", Choice::Auto, Encoding::Cp1252},
                      DetectCase{"ByteOrderMark", "\xEF\xBB\xBFplain\n", Choice::Auto, Encoding::Utf8},
                      DetectCase{"MarkFollowedByNothing", "\xEF\xBB\xBF", Choice::Auto, Encoding::Utf8},
                      DetectCase{"MarkBeforeInvalidText", "\xEF\xBB\xBF\xE9t\xE9", Choice::Auto, Encoding::Utf8},
                      DetectCase{"OneInvalidByteLate", "\xC3\xA9 ... \xE9", Choice::Auto, Encoding::Cp1252},
                      // the bytes of an in-line picture are no text
                      DetectCase{"PictureDataIsNoText", "caf\xC3\xA9{IMG DATALEN=2 DATA=\"\xFF\xFE\"}", Choice::Auto,
                                 Encoding::Utf8},
                      DetectCase{"ChosenWindows", "caf\xC3\xA9\n", Choice::Cp1252, Encoding::Cp1252},
                      DetectCase{"ChosenUtf8", "caf\xE9\n", Choice::Utf8, Encoding::Utf8},
                      DetectCase{"ChosenCp437", "caf\x82\n", Choice::Cp437, Encoding::Cp437}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TextEncoding, ChoiceNames)
{
    Choice c = Choice::Auto;
    EXPECT_TRUE(tRenderer::EncodingChoiceOf("utf-8", c));
    EXPECT_EQ(c, Choice::Utf8);
    EXPECT_TRUE(tRenderer::EncodingChoiceOf(" Windows-1252 ", c));
    EXPECT_EQ(c, Choice::Cp1252);
    EXPECT_TRUE(tRenderer::EncodingChoiceOf("CP437", c));
    EXPECT_EQ(c, Choice::Cp437);
    EXPECT_FALSE(tRenderer::EncodingChoiceOf("latin-9", c));
}

// A byte-order mark hides no header.
TEST_F(EngineTest, ByteOrderMarkBeforeTheHeader)
{
    ASSERT_TRUE(R->OpenFile(Write("\xEF\xBB\xBF{LANDSCAPE}\nx\n"), nullptr));
    EXPECT_EQ(R->Setup.Orientation, 1);
    ASSERT_TRUE(RenderReport("\xEF\xBB\xBF" "HHHH\n"));
    const QImage marked = Page->Image().copy();
    ASSERT_TRUE(RenderReport("HHHH\n"));
    EXPECT_EQ(marked, Page->Image());
}

// ---- drawing -------------------------------------------------------------------------

struct SameDrawingCase {
    const char* Name;
    std::string Report, Choice1;
    std::string Same, Choice2;
};

class SameDrawingTest : public EngineTest, public ::testing::WithParamInterface<SameDrawingCase> {};

// The same characters in two character sets draw the same pixels.
TEST_P(SameDrawingTest, DrawsTheSamePixels)
{
    auto render = [&](const std::string& Report, const std::string& Name) {
        tRenderer::EncodingChoiceOf(Name, R->EncodingChoice);
        EXPECT_TRUE(RenderReport(Report));
        return Page->Image().copy();
    };
    const QImage a = render(GetParam().Report, GetParam().Choice1);
    const QImage b = render(GetParam().Same, GetParam().Choice2);
    EXPECT_EQ(a, b);
    EXPECT_FALSE(InkBox(a).Empty());
    EXPECT_TRUE(Services.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Reports, SameDrawingTest,
    ::testing::Values(
        SameDrawingCase{"AccentedLetters", "Z\xC3\xB6" "e caf\xC3\xA9 \xE2\x82\xAC\r\n", "auto", "Z\xF6" "e caf\xE9 \x80\r\n", "auto"},
        SameDrawingCase{"Cp437Letters", "caf\x82 \x81\r\n", "cp437", "caf\xE9 \xFC\r\n", "cp1252"},
        SameDrawingCase{"EntitiesInUtf8", "&copy; &#937; &#128;\r\n", "utf-8", "\xC2\xA9 \xCE\xA9 \xE2\x82\xAC\r\n", "utf-8"},
        // box characters are strokes in every character set
        SameDrawingCase{"Utf8BoxAsStrokes", "\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x90\r\n", "utf-8", "\xDA\xC4\xBF\r\n", "cp1252"},
        SameDrawingCase{"Cp437DoubleLines", "\xC9\xCD\xBB\r\n", "cp437", "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97\r\n", "utf-8"},
        // a character after a multi-byte one takes one column
        SameDrawingCase{"ColumnsCountCharacters", "\xE2\x82\xAC\xE2\x94\x82\r\n", "utf-8", "\x80\xB3\r\n", "cp1252"},
        SameDrawingCase{"InvalidUtf8DrawsReplacements", "a\xFF" "b\r\n", "utf-8", "a\xEF\xBF\xBD" "b\r\n", "utf-8"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct BoxInkCase {
    const char* Name;
    std::string Report;
    double MinInkShare;  // of the cell's pixels
    double MaxInkShare;
};

class BoxInkTest : public EngineTest, public ::testing::WithParamInterface<BoxInkCase> {};

// Every character of the box range draws something; blocks fill, shades tint.
TEST_P(BoxInkTest, DrawsItsShape)
{
    R->EncodingChoice = Choice::Cp437;
    ASSERT_TRUE(RenderReport("{CPI10}" + GetParam().Report + "\r\n"));
    const QImage img = Page->Image();
    const TInkBox box = InkBox(img, [](QRgb c) { return qGray(c) < 250; });
    ASSERT_FALSE(box.Empty());
    int ink = 0;
    for (int y = box.Top; y <= box.Bottom; ++y)
        for (int x = box.Left; x <= box.Right; ++x)
            ink += qGray(img.pixel(x, y)) < 250;
    const double share = double(ink) / ((box.Right - box.Left + 1) * (box.Bottom - box.Top + 1));
    EXPECT_GE(share, GetParam().MinInkShare);
    EXPECT_LE(share, GetParam().MaxInkShare);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, BoxInkTest,
    ::testing::Values(BoxInkCase{"FullBlock", "\xDB", 0.99, 1}, BoxInkCase{"LowerHalf", "\xDC", 0.99, 1},
                      BoxInkCase{"LightShade", "\xB0", 0.99, 1}, BoxInkCase{"DoubleCross", "\xCE", 0.05, 0.6},
                      BoxInkCase{"DoubleLeftT", "\xB9", 0.05, 0.6}, BoxInkCase{"MixedCorner", "\xD5", 0.05, 0.6},
                      BoxInkCase{"DoubleUpSingleHorizontal", "\xD0", 0.05, 0.6}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EngineTest, ShadesAreTintsOfThePen)
{
    R->EncodingChoice = Choice::Cp437;
    int grey[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(RenderReport("{CPI10}" + std::string(1, char(0xB0 + i)) + "\r\n"));
        const TInkBox box = InkBox(Page->Image(), [](QRgb c) { return qGray(c) < 250; });
        ASSERT_FALSE(box.Empty());
        grey[i] = qGray(Page->Image().pixel((box.Left + box.Right) / 2, (box.Top + box.Bottom) / 2));
    }
    EXPECT_GT(grey[0], grey[1]);
    EXPECT_GT(grey[1], grey[2]);
    EXPECT_GT(grey[2], 0);
}

// Until someone chooses, a Windows-1252 report whose box-range bytes never
// stand side by side holds letters; one with a run of them draws boxes.
TEST_F(EngineTest, BoxBytesAreLettersUnlessTheyRunTogether)
{
    Globals().LineDrawChosen = false;
    ASSERT_TRUE(RenderReport("Gr\xFC\xDF \xAB ma\xEEtre \xBB \xC9t\xE9\r\n", 0));
    EXPECT_EQ(R->PageSpan().Text.find("FIELD"), std::string::npos) << R->PageSpan().Text;
    ASSERT_TRUE(RenderReport("\xDA\xC4\xBF\r\n\xB3\xDF\xB3\r\n", 0));
    EXPECT_NE(R->PageSpan().Text.find("{FIELD CODE=\"LINE\" CHAR=\"#223\"}"), std::string::npos) << R->PageSpan().Text;
    // once chosen, the choice holds for every report
    Globals().LineDrawChosen = true;
    ASSERT_TRUE(RenderReport("Gr\xFC\xDF\r\n", 0));
    EXPECT_NE(R->PageSpan().Text.find("{FIELD CODE=\"LINE\" CHAR=\"#223\"}"), std::string::npos);
}

// Windows-1252 reports keep their degree, plus-minus and squared signs.
TEST_F(EngineTest, ShadeBytesStayLettersInWindowsText)
{
    ASSERT_TRUE(RenderReport("25\xB0 \xB1 \xB2\r\n"));
    const QImage windows = Page->Image().copy();
    ASSERT_TRUE(RenderReport("25\xC2\xB0 \xC2\xB1 \xC2\xB2\r\n"));
    EXPECT_EQ(windows, Page->Image());
}

// Text typed into the window goes into the report in the report's own
// character set, and comes back out the same.
TEST_F(EngineTest, TypedTextInTheReportsCharacterSet)
{
    const QString typed = QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC \xCE\xA9");
    struct {
        Encoding Set;
        std::string Bytes;
    } cases[] = {
        {Encoding::Cp1252, "Caf\xE9 \x80 ?"},
        {Encoding::Utf8, "Caf\xC3\xA9 \xE2\x82\xAC \xCE\xA9"},
        {Encoding::Cp437, "Caf\x82 ? \xEA"},
    };
    for (const auto& c : cases) {
        R->ReportEncoding = c.Set;
        EXPECT_EQ(TextForReport(typed, R.get()), c.Bytes);
        const QString back = TextOfReport(c.Bytes, R.get());
        EXPECT_TRUE(back.startsWith(QString::fromUtf8("Caf\xC3\xA9 "))) << back.toStdString();
    }
}

// ---- through the PDF -----------------------------------------------------------------

// The program run on Bytes as report.txt in Dir, writing out.pdf there.
TToolRun RunToPdf(const QTemporaryDir& Dir, const std::string& Bytes, const QStringList& Options)
{
    std::ofstream(Dir.filePath("report.txt").toStdString(), std::ios::binary) << Bytes;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("CUPS_SERVER", "/nonexistent/quillard-no-cups.sock");
    env.insert("XDG_CONFIG_HOME", Dir.filePath("config"));
    env.insert("XDG_CONFIG_DIRS", Dir.filePath("system"));
    return RunTool(QUILLARD_BINARY, QStringList(Options) << "--pdf" << Dir.filePath("out.pdf") << Dir.filePath("report.txt"),
                   env);
}

class EncodingPdfTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;

    std::string Path(const char* Name) const { return Dir.filePath(Name).toStdString(); }

    TToolRun Run(const std::string& Bytes, const QStringList& Options) { return RunToPdf(Dir, Bytes, Options); }
};

// ---- guessing CP437 ------------------------------------------------------------------

struct GuessCase {
    const char* Name;
    std::string Report;  // or, when Example is given, that file of examples/ without its carriage returns
    const char* Example;
    Encoding Expected;
    std::vector<std::string> Words;  // in UTF-8, as pdftotext gives them back
};

class EncodingGuessTest : public EngineTest, public ::testing::WithParamInterface<GuessCase> {};

// Which character set auto reads a text file in, and the words that come out.
TEST_P(EncodingGuessTest, ReadsTheFileInItsCharacterSet)
{
    std::string report = GetParam().Report;
    if (GetParam().Example) {
        std::ifstream in(std::string(QUILLARD_SOURCE_DIR) + "/examples/" + GetParam().Example, std::ios::binary);
        report.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_FALSE(report.empty());
        std::erase(report, '\r');
    }
    R->EncodingChoice = Choice::Auto;
    ASSERT_TRUE(R->OpenFile(Write(report), nullptr));
    EXPECT_EQ(R->ReportEncoding, GetParam().Expected);
    const TToolRun r = RunToPdf(Dir, report, {});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string text = PdfText(Dir.filePath("out.pdf").toStdString(), 0, 0, true);
    for (const std::string& word : GetParam().Words)
        EXPECT_NE(text.find(word), std::string::npos) << word << " in\n" << text;
}

// The CP437 samples: a ledger framed in double lines, a list of names.
const std::string Cp437Ledger = "\xC9\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCB\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBB\n"
                                "\xBA Soci\x82t\x82 G\x82n\x82rale \xBA  120,00 \xBA\n"
                                "\xBA M\x81ller & S\x94hne    \xBA   45,50 \xBA\n"
                                "\xBA Fran\x87oise B\x82rard  \xBA    3,20 \xBA\n"
                                "\xC8\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCA\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBC\n";
const std::string Cp437Names = "Membres 2026\nG\x82rard Dupr\x82, Gen\x8Ave\nAnna M\x81ller, Z\x81rich\nJos\x82 Pe\xA4" "a, M\xA0laga\n";

INSTANTIATE_TEST_SUITE_P(
    Files, EncodingGuessTest,
    ::testing::Values(
        GuessCase{"Cp437LedgerWithFrame", Cp437Ledger, nullptr, Encoding::Cp437,
                  {"Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale", "M\xC3\xBCller", "S\xC3\xB6hne", "Fran\xC3\xA7oise",
                   "\xE2\x95\x94\xE2\x95\x90"}},
        GuessCase{"Cp437NamesWithoutBoxes", Cp437Names, nullptr, Encoding::Cp437,
                  {"G\xC3\xA9rard", "Dupr\xC3\xA9,", "Gen\xC3\xA8ve", "Z\xC3\xBCrich", "Pe\xC3\xB1" "a,", "M\xC3\xA1laga"}},
        // curly quotes, dashes and the euro sign beside letters stay punctuation
        GuessCase{"Windows1252Letter",
                  "Ch\xE8re H\xE9l\xE8ne,\nvoici la facture n\xB0 4711 \x96 \x93" "Caf\xE9 du Nord\x94 \x97 49,40 \x80.\n"
                  "Merci d\x92" "avance\x85 J\xFCrgen M\xFCller\n",
                  nullptr, Encoding::Cp1252,
                  {"Ch\xC3\xA8re", "H\xC3\xA9l\xC3\xA8ne,", "\xE2\x80\x9C" "Caf\xC3\xA9", "Nord\xE2\x80\x9D", "\xE2\x82\xAC",
                   "d\xE2\x80\x99" "avance\xE2\x80\xA6", "J\xC3\xBCrgen"}},
        // capitals of the box range side by side (\xDC\xDF, \xC9\xC9): the words
        // around them still read better as Windows-1252
        GuessCase{"Windows1252ReportWithBoxCapitals",
                  "GR\xDC\xDF" "E AUS M\xDCNCHEN \x96 R\xC9\xC9" "DITION\n\x93Stra\xDF" "e\x94 M\xFCller, K\xF6ln: 12 \x80\n"
                  "Kunde \x84Sch\xF6n\x93 \x96 B\xE4" "ckerei\n",
                  nullptr, Encoding::Cp1252, {"M\xC3\xBCller,", "K\xC3\xB6ln:", "B\xC3\xA4" "ckerei", "\xE2\x82\xAC"}},
        GuessCase{"Utf8", "Soci\xC3\xA9t\xC3\xA9 \xE2\x95\x94\xE2\x95\x90\xE2\x95\x97 M\xC3\xBCller\n", nullptr, Encoding::Utf8,
                  {"Soci\xC3\xA9t\xC3\xA9", "M\xC3\xBCller"}},
        GuessCase{"Ascii", "Total 120.00\n", nullptr, Encoding::Cp1252, {"Total 120.00"}},
        // a DOS program's ledger, with carriage returns and box drawing
        GuessCase{"Cp437LedgerWithCarriageReturns", ReplaceAll(Cp437Ledger, "\n", "\r\n"), nullptr, Encoding::Cp437,
                  {"Soci\xC3\xA9t\xC3\xA9"}},
        // the examples, as Linux files
        GuessCase{"ExampleLedger", "", "linux/ledger-cp437.txt", Encoding::Cp437,
                  {"M\xC3\xBCller", "S\xC3\xB6hne", "Er\xC3\xB6" "ffnung", "\xC3\x84nderung"}},
        GuessCase{"ExampleStatement", "", "linux/statement-cp1252.txt", Encoding::Cp1252,
                  {"Cr\xC3\xA8me", "br\xC3\xBBl\xC3\xA9" "e", "ma\xC3\xAEtre", "d\xE2\x80\x99" "Alsace,"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EncodingPdfTest, Utf8StatementGivesBackItsWords)
{
    const TToolRun r = Run("\xEF\xBB\xBF{LANDSCAPE}\nStatement for J\xC3\xBCrgen M\xC3\xBCller, Z\xC3\xBCrich\n"
                           "\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x80\xE2\x94\x90\n"
                           "Total \xE2\x82\xAC 1\xE2\x80\xAF" "234,50 \xE2\x80\x94 pay by 5 d\xC3\xA9" "c.\n"
                           "Greek: \xCE\xB1\xCE\xB2\n",
                           {});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string text = PdfText(Path("out.pdf"), 0, 0, true);
    for (const char* word : {"J\xC3\xBCrgen", "M\xC3\xBCller,", "Z\xC3\xBCrich", "\xE2\x82\xAC", "\xE2\x80\x94", "d\xC3\xA9" "c."})
        EXPECT_NE(text.find(word), std::string::npos) << word << " in\n" << text;
    EXPECT_EQ(PdfInfo(Path("out.pdf"), "Page size").rfind("792 x 612", 0), 0u);
    // the Greek letters, the narrow space and the box drawing come back
    // from the embedded fonts, and nothing was left out
    for (const char* word : {"Greek: \xCE\xB1\xCE\xB2", "\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x80\xE2\x94\x90"})
        EXPECT_NE(text.find(word), std::string::npos) << word << " in\n" << text;
    EXPECT_EQ(r.Err.find("written as"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find("missing-glyph"), std::string::npos) << r.Err;
}

TEST_F(EncodingPdfTest, Cp437LedgerGivesBackItsWords)
{
    const TToolRun r = Run("\xC9\xCD\xCD\xCB\xCD\xCD\xBB\r\n\xBA" "Caf\x82 M\x81nchen \x9C" "5\xBA\r\n\xC8\xCD\xCD\xCA\xCD\xCD\xBC\r\n",
                           {"--encoding=cp437"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string text = PdfText(Path("out.pdf"), 0, 0, true);
    for (const char* word : {"Caf\xC3\xA9", "M\xC3\xBCnchen", "\xC2\xA3" "5"})
        EXPECT_NE(text.find(word), std::string::npos) << word << " in\n" << text;
    EXPECT_EQ(r.Err.find("written as"), std::string::npos) << r.Err;
}

TEST_F(EncodingPdfTest, Windows1252StatementIsUnchanged)
{
    const TToolRun r = Run("Caf\xE9 \x80 5 \x96 M\xFCller\r\n", {});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string text = PdfText(Path("out.pdf"));
    EXPECT_NE(text.find("Caf\xC3\xA9 \xE2\x82\xAC 5 \xE2\x80\x93 M\xC3\xBCller"), std::string::npos) << text;
}

TEST_F(EncodingPdfTest, SettingAndOption)
{
    {
        QSettings s(Dir.filePath("config/Merrowgate/Quillard.conf"), QSettings::IniFormat);
        s.setValue("Encoding", "CP437");
    }
    ASSERT_EQ(Run("caf\x82\r\n", {}).Code, 0);
    EXPECT_NE(PdfText(Path("out.pdf")).find("caf\xC3\xA9"), std::string::npos);
    ASSERT_EQ(Run("caf\xE9\r\n", {"--encoding=cp1252"}).Code, 0);
    EXPECT_NE(PdfText(Path("out.pdf")).find("caf\xC3\xA9"), std::string::npos);
    const TToolRun bad = Run("x", {"--encoding=ebcdic"});
    EXPECT_EQ(bad.Code, 2);
    EXPECT_NE(bad.Err.find("--encoding needs"), std::string::npos) << bad.Err;
}

}  // namespace
}  // namespace quillard::test
