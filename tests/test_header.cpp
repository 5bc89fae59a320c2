// The header scan of OpenFile: the {INIT} first line, the legacy page-setup
// tags anywhere, where the scan stops, the gauge, and reports that cannot be
// read. These run on the layer without printers, which keeps the device
// settings the scan writes; the printer tests repeat the essentials on real
// queues.
#include "tests/testutil.h"

#include "engine/header.h"
#include "engine/printer.h"

namespace quillard::test {
namespace {

class HeaderTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        Printer().SetPaperSize(DMPAPER_LETTER);
        Printer().SetDefaultSource(0);
    }
    void TearDown() override
    {
        Printer().SetPaperSize(DMPAPER_LETTER);
        EngineTest::TearDown();
    }
    bool Open(const std::string& Bytes, TGauge* Gauge = nullptr) { return R->OpenFile(Write(Bytes), Gauge); }
};

struct HeaderCase {
    const char* Name;
    std::string Report;
    int Version = 0;
    int Paper = DMPAPER_LETTER;
    int Orientation = 0;
    int Tray = 0;
    bool Colour = true;
    int Cpi10 = 12, Cpi12 = 10, Cpi17 = 7;
};

class HeaderScan : public HeaderTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderScan, SetsThePageSetup)
{
    const HeaderCase& c = GetParam();
    ASSERT_TRUE(Open(c.Report));
    EXPECT_EQ(R->Setup.Version, c.Version);
    EXPECT_EQ(Printer().PaperSize(), c.Paper);
    EXPECT_EQ(R->Setup.Orientation, c.Orientation);
    EXPECT_EQ(R->Setup.Tray, c.Tray);
    EXPECT_EQ(R->Setup.ColourMode, c.Colour);
    EXPECT_EQ(R->Setup.Cpi10Size, c.Cpi10);
    EXPECT_EQ(R->Setup.Cpi12Size, c.Cpi12);
    EXPECT_EQ(R->Setup.Cpi17Size, c.Cpi17);
    EXPECT_TRUE(Services.Messages.empty()) << Services.Messages[0].Caption << ": " << Services.Messages[0].Text;
}

HeaderCase Case(const char* Name, std::string Report, std::function<void(HeaderCase&)> Set = nullptr)
{
    HeaderCase c;
    c.Name = Name;
    c.Report = std::move(Report);
    if (Set)
        Set(c);
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderScan,
    ::testing::Values(
        Case("FullInitLineEndsTheScan",
             "{INIT VER=1 PAPER=A4 ORIENTATION=LANSCAPE TRAY=LOWER MONO=YES}\r\n{PORTRAIT}{TRAY=7}{FONTSIZE10=20}\r\n",
             [](HeaderCase& c) { c.Version = 1, c.Paper = 9, c.Orientation = 1, c.Tray = 2, c.Colour = false; }),
        Case("InitWithoutVersionLetsLegacyTagsFollow", "{INIT PAPER=LEGAL}\r\nDear customer,\r\n{LANDSCAPE}\r\n",
             [](HeaderCase& c) { c.Paper = 5, c.Orientation = 1; }),
        Case("LandscapeSpelledRightIsNotRecognised", "{INIT VER=1 ORIENTATION=LANDSCAPE}\r\n",
             [](HeaderCase& c) { c.Version = 1; }),
        Case("PaperNamesStartingWithADigit", "{INIT PAPER=11X17}\r\n", [](HeaderCase& c) { c.Paper = 17; }),
        Case("PaperNumbersPassUnchecked", "{INIT VER=1 PAPER=256}\r\n", [](HeaderCase& c) { c.Version = 1, c.Paper = 256; }),
        Case("UnknownPaperNameLeavesThePaper", "{INIT VER=1 PAPER=FOOLSCAP}\r\n", [](HeaderCase& c) { c.Version = 1; }),
        Case("BareMonoFlagStaysInColour", "{INIT VER=1 MONO}\r\n", [](HeaderCase& c) { c.Version = 1; }),
        Case("MonochromeStartingWithY", "{INIT VER=2 MONOCHROME=Y}\r\n", [](HeaderCase& c) { c.Version = 2, c.Colour = false; }),
        Case("SynonymsVersionPapersizePapertray", "{INIT VERSION=3 PAPERSIZE=A3 PAPERTRAY=MANUAL}\r\n",
             [](HeaderCase& c) { c.Version = 3, c.Paper = 8, c.Tray = 4; }),
        Case("LowerCaseMarkup", "{init ver=1 paper=a5 orientation=lanscape tray=\"envelope manual\"}\r\n",
             [](HeaderCase& c) { c.Version = 1, c.Paper = 11, c.Orientation = 1, c.Tray = 6; }),
        Case("BlankValuesLeaveSettingsAlone", "{INIT VER=1 PAPER=\"\" TRAY=\"  \" ORIENTATION=\"\"}\r\n",
             [](HeaderCase& c) { c.Version = 1; }),
        Case("InitOnTheSecondLineIsNoHeader", "Statement\r\n{INIT VER=1 PAPER=A4 TRAY=2}\r\n"),
        Case("InitWithoutClosingBraceFindsNothing", "{INIT VER=1 PAPER=A4\r\n{LANDSCAPE}\r\n",
             [](HeaderCase& c) { c.Orientation = 1; }),
        Case("LandscapeOnPageFiveTurnsTheWholeReport", "p1\fp2\fp3\fp4\fp5 {LANDSCAPE}\fp6\r\n",
             [](HeaderCase& c) { c.Orientation = 1; }),
        Case("PortraitWinsOnTheSameLine", "{PORTRAIT}{LANDSCAPE}\r\n"),
        Case("TheLaterLineWins", "{PORTRAIT}\r\n{LANDSCAPE}\r\n", [](HeaderCase& c) { c.Orientation = 1; }),
        Case("LegacyTagsInsideOtherTags", "{FONT NAME=\"{MONO}\"}\r\n", [](HeaderCase& c) { c.Colour = false; }),
        Case("EscapedBraceIsNoTag", "\\{LANDSCAPE}\r\n\\{MONO}\r\n"),
        Case("PitchSizes", "{FONTSIZE10=14}{FONTSIZE12=9}\r\n{FONTSIZE17=5}\r\n",
             [](HeaderCase& c) { c.Cpi10 = 14, c.Cpi12 = 9, c.Cpi17 = 5; }),
        Case("PitchSizeWithoutValueTakesItsDefault", "{FONTSIZE10=30}{FONTSIZE12=30}{FONTSIZE17=30}\r\n{FONTSIZE10}{FONTSIZE12}{FONTSIZE17}\r\n"),
        Case("TrayNumber", "{TRAY=7}\r\n", [](HeaderCase& c) { c.Tray = 7; }),
        Case("TrayWordOutsideTheTable", "{TRAY=2}\r\n{TRAY=SIDEWAYS}\r\n", [](HeaderCase& c) { c.Tray = 2; }),
        Case("TwoWordTrayWithoutQuotes", "{PAPERTRAY=ENVELOPE MANUAL}\r\n", [](HeaderCase& c) { c.Tray = 6; }),
        Case("TrayTagNeedsItsEqualsSign", "{TRAY LOWER}\r\n"),
        Case("HugeTrayNumberIsNoNumber", "{TRAY=99999999999}\r\n"),
        Case("MonoTags", "{MONOCHROME}\r\n", [](HeaderCase& c) { c.Colour = false; }),
        Case("InlinePictureDataEndsTheScan",
             "{MONO}\r\n{IMG DATALEN=4 DATA=\"\x01\x02\r\n\"}\r\n{LANDSCAPE}{TRAY=5}\r\n",
             [](HeaderCase& c) { c.Colour = false; }),
        Case("FormFeedsAndOddLineEnds", "{TRAY=3}\f\n\r{LANDSCAPE}\n\n{MONO}",
             [](HeaderCase& c) { c.Tray = 3, c.Orientation = 1, c.Colour = false; }),
        Case("BinaryBytesAndNoLineEnd", std::string("\0\xff{TRAY=4}\x80\x1a", 12), [](HeaderCase& c) { c.Tray = 4; }),
        // Lines after the first are looked at only where such a tag may
        // stand, in any letter case, among tags the scan passes over.
        Case("LaterLinesInAnyLetterCase",
             "Statement\r\n{B}x{/B} {fontSize12=8}\r\n{GOTO X=1in}{Landscape}\r\n{CPI12}{PaperTray=3}{mono}\r\n",
             [](HeaderCase& c) { c.Cpi12 = 8, c.Orientation = 1, c.Tray = 3, c.Colour = false; }),
        Case("LowerCaseDataEndsTheScan",
             "Statement\r\n{img datalen=2 data=\"{L\"}\r\n{LANDSCAPE}\r\n"),
        Case("DataWithoutAQuoteGoesOn", "Statement\r\nDATA= {TRAY=2}\r\n{LANDSCAPE}\r\n",
             [](HeaderCase& c) { c.Tray = 2, c.Orientation = 1; })),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(HeaderTest, EveryPaperNameHasItsNumber)
{
    const std::vector<std::pair<std::string, int>> known = {
        {"LETTER", 1}, {"A4", 9}, {"ENV_DL", 27}, {"RESERVED_49", 49}, {"A2", 66}, {"A3_EXTRA_TRANSVERSE", 68}};
    for (const auto& [name, number] : known)
        EXPECT_EQ(PaperNumber(name), number) << name;
    for (int n = 1; n <= 68; ++n) {
        const std::string name = PaperName(n);
        ASSERT_FALSE(name.empty()) << n;
        ASSERT_TRUE(Open("{INIT VER=1 PAPER=" + name + "}\r\n"));
        EXPECT_EQ(Printer().PaperSize(), n) << name;
    }
    EXPECT_EQ(PaperName(69), "");
    EXPECT_EQ(PaperNumber("A4 "), 0);
}

TEST_F(HeaderTest, EveryTrayNameHasItsNumber)
{
    const std::vector<std::pair<std::string, int>> trays = {
        {"UPPER", 1},     {"DEFAULT", 1},         {"LOWER", 2},         {"MIDDLE", 3}, {"MANUAL", 4},
        {"ENVELOPE", 5},  {"ENVELOPE MANUAL", 6}, {"AUTOMATIC", 7},     {"AUTO", 7},   {"TRACTOR", 8},
        {"SMALL-FORMAT", 9}, {"LARGE-FORMAT", 10}, {"LARGE", 11},       {"CASSETTE", 14}};
    for (const auto& [name, number] : trays) {
        ASSERT_TRUE(Open("{INIT VER=1 TRAY=\"" + name + "\"}\r\n"));
        EXPECT_EQ(R->Setup.Tray, number) << name;
        ASSERT_TRUE(Open("{TRAY=" + name + "}\r\n"));
        EXPECT_EQ(R->Setup.Tray, number) << name;
    }
}

TEST_F(HeaderTest, EachOpenResetsTheReportValuesButKeepsVersionAndPitch)
{
    ASSERT_TRUE(Open("{INIT VER=1 TRAY=LOWER MONO=YES}\r\n"));
    R->Setup.FixedFontName = "Arial";
    R->Setup.PropFontName = "Arial";
    R->PageSpan().LinesPerPage = 60;
    ASSERT_TRUE(Open("{FONTSIZE10=16}\r\n"));
    ASSERT_TRUE(Open("plain text\r\n"));
    EXPECT_EQ(R->Setup.Version, 1);
    EXPECT_EQ(R->Setup.Tray, 0);
    EXPECT_TRUE(R->Setup.ColourMode);
    EXPECT_EQ(R->Setup.FixedFontName, "Courier New");
    EXPECT_EQ(R->Setup.PropFontName, "Times New Roman");
    EXPECT_EQ(R->PageSpan().LinesPerPage, 0);
    EXPECT_EQ(R->Setup.Cpi10Size, 16);

    // A paper written into the device settings stays for later reports.
    ASSERT_TRUE(Open("{INIT VER=1 PAPER=LEGAL}\r\n"));
    ASSERT_TRUE(Open("no header\r\n"));
    EXPECT_EQ(Printer().PaperSize(), 5);
}

TEST_F(HeaderTest, GaugeRunsOverTheFileAndEndsAtTheLineCount)
{
    TGauge g;
    ASSERT_TRUE(Open("abc\r\nde\r\n\r\nf", &g));
    EXPECT_EQ(g.MaxValue, 4);
    EXPECT_EQ(g.Progress, 4);

    // A header that ends the scan leaves the gauge where the first line took it.
    TGauge h;
    const std::string first = "{INIT VER=1}";
    ASSERT_TRUE(Open(first + "\r\nmore\r\n", &h));
    EXPECT_EQ(h.MaxValue, static_cast<int>(first.size() + 2 + 6));
    EXPECT_EQ(h.Progress, static_cast<int>(1 + first.size() + 2));
}

TEST_F(HeaderTest, TheMessagePumpRunsOncePerLine)
{
    ASSERT_TRUE(Open("a\r\nb\r\nc\r\n"));
    EXPECT_EQ(Services.Pumps, 3);
}

TEST_F(HeaderTest, AReportThatCannotBeOpened)
{
    const std::string missing = Dir.filePath("NOPE.TXT").toStdString();
    EXPECT_FALSE(R->OpenFile(missing, nullptr));
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Cannot Open File");
    EXPECT_EQ(Services.Messages[0].Text.rfind("Error opening \"" + missing + "\"\r\n", 0), 0u);
    EXPECT_EQ(R->FileName, missing);

    Services.Messages.clear();
    EXPECT_FALSE(R->OpenFile(Dir.path().toStdString(), nullptr));  // a folder
    EXPECT_EQ(Services.Messages.size(), 1u);

    Services.Messages.clear();
    EXPECT_TRUE(R->OpenFile("", nullptr));
    EXPECT_TRUE(Services.Messages.empty());
}

TEST_F(HeaderTest, LongLinesAndManyLinesScanWithoutTrouble)
{
    std::string report(300000, 'x');
    report += "{LANDSCAPE}\r\n";
    for (int i = 0; i < 20000; ++i)
        report += "{GOTO X=1}\r\n";
    // A tag without its closing brace at the very end: its value loses its
    // last character (LOWE is no tray), as if the brace were there.
    report += "{TRAY=MIDDLE}\r\n{TRAY=LOWER";
    ASSERT_TRUE(Open(report));
    EXPECT_EQ(R->Setup.Orientation, 1);
    EXPECT_EQ(R->Setup.Tray, 3);
}

}  // namespace
}  // namespace quillard::test
