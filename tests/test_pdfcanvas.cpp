// The PDF surface and its facade: device units to points, the font map, text
// escaping and placement, the operations that become PDF operators and the
// ones that write nothing, and text measured from the compiled-in metrics of
// the standard fonts.
#include "surfaces/pdfcanvas.h"
#include "surfaces/pdffontmetrics.h"
#include "tests/pdftestutil.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <climits>
#include <functional>

namespace quillard::test {
namespace {

class PdfCanvasTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TScopedEnv Epoch{"SOURCE_DATE_EPOCH", "1700000000"};
    TPdfDocument Maker;
    TPdfCanvas& C = *Maker.Canvas();

    void SetUp() override
    {
        Maker.SetFileName(Dir.filePath("canvas.pdf").toStdString());
        Maker.BeginDoc();
    }

    // Ends the document and returns the content of each page.
    std::vector<std::string> Pages()
    {
        Maker.EndDoc();
        EXPECT_TRUE(PassesQpdfCheck(Maker.FileName()));
        return ContentStreams(ReadBytes(Maker.FileName()));
    }

    std::string Content()
    {
        std::vector<std::string> p = Pages();
        EXPECT_EQ(p.size(), 1u);
        return p.empty() ? "" : p[0];
    }

    void UseFont(const std::string& Name, int Size, TFontStyles Style = 0)
    {
        C.Font.Name = Name;
        C.Font.Size = Size;
        C.Font.Style = Style;
    }
};

// ---- units --------------------------------------------------------------------------

TEST(PdfCanvasUnits, DeviceUnitsTruncateTowardZero)
{
    const std::pair<int, int> cases[] = {{0, 0},     {299, 71},     {-299, -71},  {300, 72},
                                         {301, 72},  {2550, 612},   {3300, 792},  {-1, 0},
                                         {INT_MAX / 72, INT_MAX / 72 * 72 / 300}};
    for (auto [device, points] : cases)
        EXPECT_EQ(TPdfCanvas::ToPoints(device), points) << device;
    EXPECT_THROW(TPdfCanvas::ToPoints(INT_MAX / 72 + 1), std::overflow_error);
    EXPECT_THROW(TPdfCanvas::ToPoints(INT_MIN / 72 - 1), std::overflow_error);
}

TEST_F(PdfCanvasTest, OnlyTheTwoResolutionsAreReported)
{
    const std::pair<int, int> caps[] = {{LOGPIXELSX, 300}, {LOGPIXELSY, 300}, {8, 0}, {PHYSICALOFFSETX, 0}, {-1, 0}};
    for (auto [index, value] : caps)
        EXPECT_EQ(C.GetDeviceCaps(index), value) << index;
}

TEST(PdfMakerFacade, PageSizeReadsAndWritesInDeviceUnits)
{
    TPdfDocument m;
    EXPECT_EQ(m.PageWidth(), 2550);
    EXPECT_EQ(m.PageHeight(), 3300);
    m.SetPageWidth(3300);
    m.SetPageHeight(2550);
    EXPECT_EQ(m.Canvas()->Writer().PageWidth, 792);
    EXPECT_EQ(m.Canvas()->Writer().PageHeight, 612);
    m.SetPageWidth(299);
    EXPECT_EQ(m.Canvas()->Writer().PageWidth, 71);
    EXPECT_EQ(m.PageWidth(), 295);
}

TEST(PdfMakerFacade, LentSurfaceComesBack)
{
    TPdfDocument m;
    TPdfCanvas* surface = m.Canvas();
    std::unique_ptr<TRenderingCanvas> lent = m.LendCanvas();
    EXPECT_EQ(lent.get(), surface);
    EXPECT_THROW(m.LendCanvas(), std::logic_error);
    m.TakeBackCanvas(std::move(lent));
    EXPECT_EQ(m.LendCanvas().get(), surface);  // lent again; freed here by its holder
}

// ---- lines and rectangles ---------------------------------------------------------

TEST_F(PdfCanvasTest, EachLineToIsAPathOfItsOwn)
{
    C.Pen.Width = 2;
    C.Pen.Color = 0x020000FF;  // red, palette-relative
    C.MoveTo(300, 300);
    C.LineTo(600, 300);
    C.LineTo(600, 600);
    EXPECT_EQ(C.CurrentX(), 600);
    EXPECT_EQ(Content(), Lines({"72 720 m", "144 720 l", "2 w", "1 0 0 RG", "1 J", "1 j", "S", "144 720 m", "144 648 l",
                                "2 w", "1 0 0 RG", "1 J", "1 j", "S"}));
}

TEST_F(PdfCanvasTest, CurrentPointOutlivesThePage)
{
    C.MoveTo(300, 300);
    Maker.NewPage();
    C.LineTo(0, 0);
    std::vector<std::string> pages = Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0], "");
    EXPECT_EQ(pages[1].substr(0, 19), Lines({"72 720 m", "0 792 l"}));
}

struct RectCase {
    const char* Name;
    std::function<void(TRenderingCanvas&)> Draw;
    std::string Content;
};

class PdfCanvasRectTest : public PdfCanvasTest, public ::testing::WithParamInterface<RectCase> {};

TEST_P(PdfCanvasRectTest, WritesTheRectangle)
{
    GetParam().Draw(C);
    EXPECT_EQ(Content(), GetParam().Content);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PdfCanvasRectTest,
    ::testing::Values(
        RectCase{"SolidBrushFillsAndStrokes",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = clWhite;
                     c.Pen.Width = 3;
                     c.Rectangle(300, 300, 600, 900);
                 },
                 Lines({"72 576 72 144 re", "3 w", "0 0 0 RG", "1 1 1 rg", "B"})},
        RectCase{"ClearBrushOnlyStrokes",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = clWhite;
                     c.Brush.Style = bsClear;
                     c.Pen.Width = 3;
                     c.Rectangle(300, 300, 600, 900);
                 },
                 Lines({"72 576 72 144 re", "3 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        RectCase{"NoBrushColourOnlyStrokes",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = clNone;
                     c.Rectangle(600, 900, 300, 300);
                 },
                 Lines({"72 576 72 144 re", "1 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        RectCase{"ClearPenOnlyFills",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = 0x00FF00;
                     c.Pen.Style = psClear;
                     c.Pen.Width = 9;
                     c.Rectangle(0, 0, 300, 300);
                 },
                 Lines({"0 720 72 72 re", "0 1 0 rg", "f"})},
        RectCase{"ClearPenAndClearBrushDrawNothing",
                 [](TRenderingCanvas& c) {
                     c.Brush.Style = bsClear;
                     c.Pen.Style = psClear;
                     c.Rectangle(0, 0, 300, 300);
                 },
                 ""},
        RectCase{"NopPenModeDrawsNothing",
                 [](TRenderingCanvas& c) {
                     c.Pen.Mode = pmNop;
                     c.Rectangle(0, 0, 300, 300);
                     c.MoveTo(0, 0);
                     c.LineTo(300, 300);
                     c.Ellipse(0, 0, 300, 300);
                 },
                 ""},
        RectCase{"BlackPenModePaintsBlack",
                 [](TRenderingCanvas& c) {
                     c.Pen.Mode = pmBlack;
                     c.Pen.Color = 0x0000FF;
                     c.Brush.Color = 0x00FF00;
                     c.Rectangle(0, 0, 300, 300);
                 },
                 Lines({"0 720 72 72 re", "1 w", "0 0 0 RG", "0 0 0 rg", "B"})},
        RectCase{"SystemColoursAreResolved",
                 [](TRenderingCanvas& c) {
                     c.Pen.Color = 0x80000005;  // window: white
                     c.Brush.Color = 0x8000000D;  // highlight
                     c.Rectangle(0, 0, 300, 300);
                 },
                 Lines({"0 720 72 72 re", "1 w", "1 1 1 RG", "0.2 0.6 1 rg", "B"})},
        RectCase{"FillRectWithASolidBrush",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = 0x00FF00;
                     c.FillRect(TRect{0, 0, 299, 301});
                 },
                 Lines({"0 720 71 72 re", "0 1 0 rg", "f"})},
        RectCase{"FillRectWithAClearBrushFillsNothing",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = 0x00FF00;
                     c.Brush.Style = bsClear;
                     c.FillRect(TRect{0, 0, 299, 301});
                 },
                 ""},
        RectCase{"HatchedBrushFillsWithItsPattern",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = 0x800000;
                     c.Brush.Style = bsCross;
                     c.Rectangle(0, 0, 300, 300);
                     c.FillRect(TRect{300, 0, 600, 300});
                 },
                 Lines({"0 720 72 72 re", "1 w", "0 0 0 RG", "/Pattern cs", "/P1 scn", "B", "72 720 72 72 re",
                        "/Pattern cs", "/P1 scn", "f"})},
        RectCase{"DashedOutlineRunsFromTheTopLeftCorner",
                 [](TRenderingCanvas& c) {
                     c.Brush.Style = bsClear;
                     c.Pen.Style = psDash;
                     c.Rectangle(0, 0, 300, 600);
                     c.Pen.Style = psSolid;
                     c.Rectangle(0, 0, 300, 600);
                 },
                 Lines({"0 792 m", "72 792 l", "72 648 l", "0 648 l", "h", "1 w", "[18 6] 0 d", "0 0 0 RG", "0 J",
                        "1 j", "S", "0 648 72 144 re", "1 w", "[] 0 d", "0 0 0 RG", "1 J", "1 j", "S"})},
        RectCase{"OperationsThatReadOrInvertThePageWriteNothing",
                 [](TRenderingCanvas& c) {
                     c.DrawFocusRect(TRect{0, 0, 5, 5});
                     c.FloodFill(1, 1, 0, fsSurface);
                     c.SetFontAngle(1.0);
                 },
                 ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- text -------------------------------------------------------------------------------

TEST_F(PdfCanvasTest, BoldArialTextSitsOnTheBottomOfItsCell)
{
    UseFont("Arial", 10, fsBold);
    C.Font.Color = 0;
    const int h = C.TextHeight("Total");
    C.TextOut(300, 600, "Total");
    const std::string y = std::to_string(792 - (600 + h) * 72 / 300);
    EXPECT_EQ(Content(), "BT\r\n0 0 0 rg\r\n0 Tr\r\n/F2 10 Tf\r\n72 " + y + " Td\r\n(Total) Tj\r\nET\r\n");
}

struct FontCase {
    const char* Name;
    const char* Face;
    TFontStyles Style;
    int Resource;  // /F number written
};

class PdfFontMapTest : public PdfCanvasTest, public ::testing::WithParamInterface<FontCase> {};

TEST_P(PdfFontMapTest, FaceAndStyleChooseTheStandardFont)
{
    // A Times text first, so that a face outside the map shows it keeps the
    // font chosen before.
    UseFont("Times New Roman", 12);
    C.TextOut(0, 0, "before");
    UseFont(GetParam().Face, 12, GetParam().Style);
    C.TextOut(0, 0, "x");
    std::string content = Content();
    const std::string tf = "/F" + std::to_string(GetParam().Resource) + " 12 Tf\r\n0 ";
    EXPECT_NE(content.find(tf, content.find("(before)")), std::string::npos) << content;
}

INSTANTIATE_TEST_SUITE_P(
    Faces, PdfFontMapTest,
    ::testing::Values(FontCase{"Helvetica", "Helvetica", 0, 1}, FontCase{"ArialBold", "ARIAL", fsBold, 2},
                      FontCase{"ArialItalicUnderlined", "arial", fsItalic | fsUnderline, 3},
                      FontCase{"HelveticaBoldItalic", "Helvetica", fsBold | fsItalic, 4},
                      FontCase{"CourierNewMixedCase", "cOuRiEr NeW", 0, 5}, FontCase{"CourierBold", "Courier", fsBold, 6},
                      FontCase{"CourierNewItalic", "courier new", fsItalic, 7},
                      FontCase{"CourierBoldItalic", "COURIER", fsBold | fsItalic, 8}, FontCase{"Times", "Times", 0, 9},
                      FontCase{"TimesNewRomanBold", "Times New Roman", fsBold, 10},
                      FontCase{"TimesItalic", "TIMES", fsItalic, 11},
                      FontCase{"TimesBoldItalic", "times new roman", fsBold | fsItalic, 12},
                      FontCase{"SymbolBoldIsSymbol", "Symbol", fsBold, 13}, FontCase{"Zapf", "Zapf", fsItalic, 14},
                      FontCase{"ZapfDingbats", "ZapfDingbats", 0, 14}, FontCase{"ZapfSpaced", "Zapf Dingbats", 0, 14},
                      FontCase{"MsSansSerifKeepsTimes", "MS Sans Serif", 0, 9},
                      FontCase{"BoldUnknownFaceKeepsTimesRoman", "Verdana", fsBold, 9},
                      FontCase{"NameWithTrailingSpaceIsUnknown", "Arial ", 0, 9}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PdfCanvasTest, NewSurfaceWritesUnknownFacesInCourier)
{
    UseFont("MS Sans Serif", 8);
    C.TextOut(0, 0, "x");
    EXPECT_NE(Content().find("/F5 8 Tf"), std::string::npos);
}

TEST_F(PdfCanvasTest, TextIsEscapedForThePdfString)
{
    C.TextOut(0, 0, "a\\b(c)d\te\nf\fg\rh\bi\xE9");
    EXPECT_NE(Content().find(std::string("(a\\\\b\\(c\\)d\\te\\nf\\fg\\rh\bi\xE9) Tj\r\n")), std::string::npos);
}

// The escaping steps over eight bytes at a time: each byte that needs an
// escape is escaped at every offset, and its neighbours in value are not.
TEST(PdfTextEscape, EveryEscapeAtEveryOffset)
{
    const std::string needs = "\\()\t\n\f\r";
    const std::string escaped[] = {"\\\\", "\\(", "\\)", "\\t", "\\n", "\\f", "\\r"};
    for (size_t k = 0; k < needs.size(); ++k)
        for (size_t lead = 0; lead < 20; ++lead)
            for (size_t trail : {size_t(0), size_t(3), size_t(9)}) {
                // 0x27, 0x2A, 0x5B, 0x5D, 0x08, 0x0B, 0x0E: close to them, no escape.
                std::string plain;
                for (size_t i = 0; i < lead; ++i)
                    plain += "'*[]\x08\x0b\x0e"[i % 7];
                const std::string tail(trail, 'z');
                EXPECT_EQ(TPdfCanvas::EscapeText(plain + needs[k] + tail), plain + escaped[k] + tail)
                    << "byte " << int(needs[k]) << " after " << lead;
            }
    EXPECT_EQ(TPdfCanvas::EscapeText(std::string(100, 'a') + "()" + std::string(100, 'b')),
              std::string(100, 'a') + "\\(\\)" + std::string(100, 'b'));
}

// Text far off the sheet, even where its place has no number in a PDF, is
// left out without a word: it would show nowhere.
TEST_F(PdfCanvasTest, TextFarOffThePageIsLeftOut)
{
    EXPECT_NO_THROW(C.TextOut(0, INT_MAX - 10, "x"));
    EXPECT_NO_THROW(C.TextOut(0, 100000000, "x"));
    EXPECT_NO_THROW(C.TextOut(INT_MAX - 10, 0, "x"));
    EXPECT_EQ(Content(), "");
}

// ---- measuring ------------------------------------------------------------------------

struct MeasureCase {
    const char* Name;
    const char* Face;
    int Size;
    TFontStyles Style;
    std::string Text;
    TSize Extent;
};

class PdfMeasureTest : public PdfCanvasTest, public ::testing::WithParamInterface<MeasureCase> {};

TEST_P(PdfMeasureTest, MeasuresFromTheStandardFontMetrics)
{
    const MeasureCase& m = GetParam();
    UseFont(m.Face, m.Size, m.Style);
    TSize got = C.TextExtent(m.Text);
    EXPECT_EQ(got.cx, m.Extent.cx);
    EXPECT_EQ(got.cy, m.Extent.cy);
    EXPECT_EQ(C.TextWidth(m.Text), m.Extent.cx);
    EXPECT_EQ(C.TextHeight(m.Text), m.Extent.cy);
}

INSTANTIATE_TEST_SUITE_P(
    Metrics, PdfMeasureTest,
    ::testing::Values(
        // Pitch fonts: ten characters an inch at 12 points, twelve at 10.
        MeasureCase{"Courier12TenPerInch", "Courier New", 12, 0, std::string(10, 'W'), {300, 56}},
        MeasureCase{"Courier10TwelvePerInch", "Courier New", 10, 0, std::string(12, 'i'), {300, 47}},
        MeasureCase{"CourierBoldSameWidths", "Courier", 12, fsBold, std::string(10, '.'), {300, 56}},
        MeasureCase{"Courier7", "Courier New", 7, 0, std::string(17, 'x'), {297, 32}},
        // Proportional faces: per-character widths of the fonts.
        MeasureCase{"Helvetica10", "Helvetica", 10, 0, "Hello", {95, 46}},
        MeasureCase{"ArialBold10", "Arial", 10, fsBold, "Hello", {101, 46}},
        MeasureCase{"TimesRoman12", "Times New Roman", 12, 0, "Wyq", {97, 55}},
        MeasureCase{"TimesItalic12", "Times New Roman", 12, fsItalic, "Wyq", {88, 55}},
        MeasureCase{"EuroSign", "Arial", 12, 0, "\x80", {27, 55}},
        MeasureCase{"ControlBytesHaveNoWidth", "Arial", 12, 0, "\x01\x02", {0, 55}},
        MeasureCase{"SymbolOwnEncoding", "Symbol", 12, 0, "a", {31, 50}},
        MeasureCase{"EmptyTextHasTheCellHeight", "Times", 12, 0, "", {0, 55}},
        MeasureCase{"UnknownFaceMeasuresAsTheFontWritten", "Verdana", 12, 0, std::string(10, 'W'), {300, 56}},
        MeasureCase{"NegativeSizeAsPositive", "Courier New", -12, 0, std::string(10, 'W'), {300, 56}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PdfCanvasTest, MetricsTableFollowsTheWritersFontOrder)
{
    for (int k = 0; k < PdfStandardFontCount; ++k)
        EXPECT_STREQ(PdfStandardFontMetrics[k].BaseFont, PdfBaseFonts[k]);
}

TEST(PdfFontMetricsTable, MatchesItsSources)
{
    if (QStandardPaths::findExecutable("python3").isEmpty() || !QFile::exists("/usr/share/a2ps/afm/phvr.afm") || !QFile::exists("/usr/share/fonts/type1/urw-base35") ||
        !QFile::exists("/usr/share/fonts/truetype/liberation2"))
        GTEST_SKIP() << "python3 or the font metric sources (a2ps, fonts-urw-base35, fonts-liberation2) are missing";
    QTemporaryDir dir;
    const QString out = dir.filePath("pdffontmetrics.cpp");
    TToolRun r = RunTool("python3", {QUILLARD_SOURCE_DIR "/tools/gen_pdffontmetrics.py", out});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadBytes(out.toStdString()), ReadBytes(QUILLARD_SOURCE_DIR "/surfaces/pdffontmetrics.cpp"));
}

TEST_F(PdfCanvasTest, TextRectFillsItsRectangleAndClipsTheText)
{
    UseFont("Courier New", 12);
    C.Font.Color = 0;
    C.Brush.Color = 0x00FFFF;  // yellow
    C.TextRect(TRect{300, 300, 1200, 600}, 1000, 400, "cut");
    EXPECT_EQ(Content(), Lines({"72 648 216 72 re", "1 1 0 rg", "f", "q", "72 648 216 72 re", "W n", "BT", "0 0 0 rg",
                                "0 Tr", "/F5 12 Tf", "240 683 Td", "(cut) Tj", "ET", "Q"}));
}

TEST_F(PdfCanvasTest, TextRectWithAHatchedBrushFillsInTheComplement)
{
    C.Brush.Color = 0x0000FF;
    C.Brush.Style = bsDiagCross;
    C.TextRect(TRect{0, 0, 300, 300}, 0, 0, "");
    EXPECT_EQ(Content(), Lines({"0 720 72 72 re", "0 1 1 rg", "f"}));
}

TEST_F(PdfCanvasTest, TextRectWithAClearBrushOnlyClips)
{
    UseFont("Courier New", 12);
    C.Brush.Style = bsClear;
    C.TextRect(TRect{0, 0, 300, 300}, 100, 100, "in");
    const std::string content = Content();
    EXPECT_EQ(content.rfind("q\r\n0 720 72 72 re\r\nW n\r\nBT\r\n", 0), 0u) << content;
    EXPECT_EQ(content.find(" rg\r\nf\r\n"), std::string::npos);
}

TEST_F(PdfCanvasTest, TextWhollyOutsideItsRectangleIsNotWritten)
{
    UseFont("Courier New", 12);
    C.Brush.Style = bsClear;
    C.TextRect(TRect{0, 0, 10, 10}, 3000, 3000, "outside");
    C.TextRect(TRect{0, 0, 300, 300}, -400, 0, "left");
    C.TextRect(TRect{0, 0, 10, 0}, 0, 0, "empty rectangle");
    EXPECT_EQ(Content(), "");
}

TEST_F(PdfCanvasTest, RotatedTextTurnsAboutItsTopLeftCorner)
{
    UseFont("Courier New", 12);
    C.Font.Color = 0;
    C.SetFontAngle(3.14159265358979323846 / 2);
    EXPECT_DOUBLE_EQ(C.TextAngle(), 3.14159265358979323846 / 2);
    C.TextOut(300, 600, "Up");
    // The baseline starts the cell's ascent (133 of 181 screen pixels of the
    // 56-unit cell) to the right of the corner and runs up the page.
    EXPECT_EQ(Content(), Lines({"BT", "0 0 0 rg", "0 Tr", "/F5 12 Tf", "0 1 -1 0 81.975 648 Tm", "(Up) Tj", "ET"}));
}

TEST_F(PdfCanvasTest, RotationLastsUntilTheFontChanges)
{
    UseFont("Arial", 10);
    C.SetFontAngle(-3.14159265358979323846 / 6);  // -30 degrees
    C.TextOut(0, 0, "a");
    C.TextExtent("measured in the same font");
    C.TextOut(0, 0, "b");
    C.Font.Size = 11;
    C.TextOut(0, 0, "c");
    EXPECT_EQ(C.TextAngle(), 0);
    C.Font.Size = 10;
    C.SetFontAngle(0.5);
    C.FontChanged();  // the font assigned again, even unchanged
    C.TextOut(0, 0, "d");
    const std::string content = Content();
    EXPECT_NE(content.find("0.86603 -0.5 0.5 0.86603 "), std::string::npos) << content;
    EXPECT_NE(content.find(" Tm\r\n(b) Tj"), std::string::npos) << content;
    EXPECT_NE(content.find(" Td\r\n(c) Tj"), std::string::npos) << content;
    EXPECT_NE(content.find(" Td\r\n(d) Tj"), std::string::npos) << content;
}

TEST_F(PdfCanvasTest, AngleZeroWritesLevelTextButNoBackground)
{
    UseFont("Courier New", 12);
    C.Font.Color = 0;
    C.TextOut(0, 0, "level");
    C.SetFontAngle(0);
    C.TextOut(0, 0, "level");
    C.TextRect(TRect{0, 0, 300, 300}, 0, 0, "");  // the brush is white and solid
    const std::vector<std::string> pages = Pages();
    ASSERT_EQ(pages.size(), 1u);
    const std::string one = Lines({"BT", "0 0 0 rg", "0 Tr", "/F5 12 Tf", "0 779 Td", "(level) Tj", "ET"});
    EXPECT_EQ(pages[0], one + one);
}

TEST_F(PdfCanvasTest, UnderlineAndStrikeOutAreBarsAsLongAsTheText)
{
    UseFont("Courier New", 10, fsUnderline | fsStrikeOut);
    C.Font.Color = 0x0000FF;
    C.TextOut(0, 0, "12345");  // 6 points a character
    const std::string content = Content();
    const size_t et = content.find("ET\r\n");
    ASSERT_NE(et, std::string::npos);
    // The baseline at 792 - trunc(47 x 0.24) = 781; bars half a point thick,
    // the underline centred one tenth of the size below it, the strike-out
    // three tenths above.
    EXPECT_EQ(content.substr(et + 4), Lines({"0 779.75 m", "30 779.75 l", "30 780.25 l", "0 780.25 l", "h", "1 0 0 rg", "f",
                                             "0 783.75 m", "30 783.75 l", "30 784.25 l", "0 784.25 l", "h", "1 0 0 rg",
                                             "f"}));
}

// ---- figures ---------------------------------------------------------------------

TEST_F(PdfCanvasTest, EllipseIsFourQuarterCurvesFromEast)
{
    C.Ellipse(0, 0, 300, 300);
    EXPECT_EQ(Content(), Lines({"72 756 m", "72 775.882 55.882 792 36 792 c", "16.118 792 0 775.882 0 756 c",
                                "0 736.118 16.118 720 36 720 c", "55.882 720 72 736.118 72 756 c", "h", "1 w", "0 0 0 RG",
                                "1 1 1 rg", "B"}));
}

struct BoxFigureCase {
    const char* Name;
    std::function<void(TRenderingCanvas&)> Draw;
    std::string Content;
};

void PrintTo(const BoxFigureCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfCanvasFigureTest : public PdfCanvasTest, public ::testing::WithParamInterface<BoxFigureCase> {};

TEST_P(PdfCanvasFigureTest, WritesThePath)
{
    GetParam().Draw(C);
    EXPECT_EQ(Content(), GetParam().Content);
}

// The quarter from east to north of the circle in (0, 0, 300, 300), given by
// radial points on the two axes.
const char* const QuarterCurve = "72 775.882 55.882 792 36 792 c";

INSTANTIATE_TEST_SUITE_P(
    Figures, PdfCanvasFigureTest,
    ::testing::Values(
        BoxFigureCase{"PieFromTheCentre", [](TRenderingCanvas& c) { c.Pie(0, 0, 300, 300, 600, 150, 150, -50); },
                      Lines({"36 756 m", "72 756 l", QuarterCurve, "h", "1 w", "0 0 0 RG", "1 1 1 rg", "B"})},
        BoxFigureCase{"ChordClosesItsArc", [](TRenderingCanvas& c) { c.Chord(300, 300, 0, 0, 300, 150, 150, 0); },
                      Lines({"72 756 m", QuarterCurve, "h", "1 w", "0 0 0 RG", "1 1 1 rg", "B"})},
        BoxFigureCase{"ArcIsOnlyStroked", [](TRenderingCanvas& c) { c.Arc(0, 0, 300, 300, 300, 150, 150, 0); },
                      Lines({"72 756 m", QuarterCurve, "1 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        BoxFigureCase{"ArcGoesCounterClockwiseTheLongWay",
                      [](TRenderingCanvas& c) { c.Arc(0, 0, 300, 300, 150, 0, 300, 150); },
                      Lines({"36 792 m", "16.118 792 0 775.882 0 756 c", "0 736.118 16.118 720 36 720 c",
                             "55.882 720 72 736.118 72 756 c", "1 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        BoxFigureCase{"ArcWithAClearPenDrawsNothing",
                      [](TRenderingCanvas& c) {
                          c.Pen.Style = psClear;
                          c.Arc(0, 0, 300, 300, 300, 150, 150, 0);
                      },
                      ""},
        BoxFigureCase{"EmptyBoxDrawsNothing",
                      [](TRenderingCanvas& c) {
                          c.Ellipse(10, 10, 10, 500);
                          c.Pie(0, 0, 300, 0, 1, 1, 2, 2);
                      },
                      ""},
        BoxFigureCase{"PolygonIsClosedAndFilledAlternately",
                      [](TRenderingCanvas& c) { c.Polygon({{0, 0}, {300, 0}, {0, 300}}); },
                      Lines({"0 792 m", "72 792 l", "0 720 l", "h", "1 w", "0 0 0 RG", "1 1 1 rg", "B*"})},
        BoxFigureCase{"PolygonWithAClearBrushIsOnlyStroked",
                      [](TRenderingCanvas& c) {
                          c.Brush.Style = bsClear;
                          c.Pen.Width = 2;
                          c.Polygon({{0, 0}, {125, 0}});
                          c.Polygon({{7, 7}});
                      },
                      Lines({"0 792 m", "30 792 l", "h", "2 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        BoxFigureCase{"PolylineIsOnlyStrokedWhateverTheBrush",
                      [](TRenderingCanvas& c) { c.Polyline({{0, 0}, {300, 0}, {300, 25}}); },
                      Lines({"0 792 m", "72 792 l", "72 786 l", "1 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        BoxFigureCase{"WideInsideFramePenStaysInTheBox",
                      [](TRenderingCanvas& c) {
                          c.Brush.Style = bsClear;
                          c.Pen.Style = psInsideFrame;
                          c.Pen.Width = 8;
                          c.Arc(0, 0, 300, 300, 300, 150, 150, 0);
                      },
                      Lines({"68 756 m", "68 773.673 53.673 788 36 788 c", "8 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        BoxFigureCase{"FrameRectIsOneUnitWide",
                      [](TRenderingCanvas& c) {
                          c.Brush.Color = 0x0000FF;
                          c.FrameRect(TRect{0, 0, 300, 300});
                      },
                      Lines({"0 792 m", "72 792 l", "72 720 l", "0 720 l", "h", "0.24 791.76 m", "71.76 791.76 l",
                             "71.76 720.24 l", "0.24 720.24 l", "h", "1 0 0 rg", "f*"})}),
    [](const auto& info) { return std::string(info.param.Name); });

struct DashCase {
    const char* Name;
    TPenStyle Style;
    int Width;
    TBrushStyle Brush;
    std::string Content;
};

void PrintTo(const DashCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfCanvasDashTest : public PdfCanvasTest, public ::testing::WithParamInterface<DashCase> {};

TEST_P(PdfCanvasDashTest, LineStrokesWithThePensDashes)
{
    C.Pen.Style = GetParam().Style;
    C.Pen.Width = GetParam().Width;
    C.Brush.Style = GetParam().Brush;
    C.Brush.Color = 0x00FFFF;
    C.MoveTo(0, 0);
    C.LineTo(300, 0);
    EXPECT_EQ(Content(), GetParam().Content);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, PdfCanvasDashTest,
    ::testing::Values(
        DashCase{"Dash", psDash, 1, bsClear,
                 Lines({"0 792 m", "72 792 l", "1 w", "[18 6] 0 d", "0 0 0 RG", "0 J", "1 j", "S"})},
        DashCase{"Dot", psDot, 0, bsClear, Lines({"0 792 m", "72 792 l", "[3 3] 0 d", "0 0 0 RG", "0 J", "1 j", "S"})},
        DashCase{"DashDot", psDashDot, 1, bsClear,
                 Lines({"0 792 m", "72 792 l", "1 w", "[9 6 3 6] 0 d", "0 0 0 RG", "0 J", "1 j", "S"})},
        DashCase{"DashDotDot", psDashDotDot, 1, bsClear,
                 Lines({"0 792 m", "72 792 l", "1 w", "[9 3 3 3 3 3] 0 d", "0 0 0 RG", "0 J", "1 j", "S"})},
        DashCase{"GapsInTheSolidBrushColour", psDash, 1, bsSolid,
                 Lines({"0 792 m", "72 792 l", "1 w", "1 1 0 RG", "1 J", "1 j", "S", "0 792 m", "72 792 l", "1 w",
                        "[18 6] 0 d", "0 0 0 RG", "0 J", "1 j", "S"})},
        DashCase{"WidePenIsSolid", psDash, 2, bsClear,
                 Lines({"0 792 m", "72 792 l", "2 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        DashCase{"ClearPenDrawsNothing", psClear, 1, bsSolid, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PdfCanvasTest, SlantingDashesAreLongerAsOnTheScreen)
{
    C.Pen.Style = psDash;
    C.Brush.Style = bsClear;
    C.MoveTo(0, 0);
    C.LineTo(400, 300);  // 500 long, 400 along its major axis
    EXPECT_NE(Content().find("[22.5 7.5] 0 d"), std::string::npos);
}

TEST_F(PdfCanvasTest, EachPageStartsWithSolidLines)
{
    C.Pen.Style = psDot;
    C.Brush.Style = bsClear;
    C.MoveTo(0, 0);
    C.LineTo(300, 0);
    Maker.NewPage();
    C.LineTo(600, 0);
    const std::vector<std::string> pages = Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_NE(pages[1].find("[3 3] 0 d"), std::string::npos) << pages[1];
}

// ---- pictures -------------------------------------------------------------------------

TGraphic Picture(int W, int H, const std::function<uint32_t(int, int)>& Argb)
{
    TGraphic g;
    g.Width = W;
    g.Height = H;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            g.Pixels.push_back(Argb(x, y));
    return g;
}

TEST_F(PdfCanvasTest, PicturesArePlacedWithTheirSizeInDeviceUnits)
{
    const TGraphic g = Picture(100, 50, [](int x, int) { return 0xFF000000u | uint32_t(x); });
    C.Draw(300, 600, g);
    C.StretchDraw(TRect{600, 600, 0, 900}, g);  // mirrored
    C.StretchDraw(TRect{0, 0, 0, 100}, g);      // no width
    C.Draw(0, 0, TGraphic{});
    EXPECT_EQ(Content(), Lines({"q", "24 0 0 12 72 636 cm", "/Im1 Do", "Q", "q", "-144 0 0 72 144 576 cm", "/Im1 Do", "Q"}));
}

TEST_F(PdfCanvasTest, CopyRectDrawsThePartOfThePictureOnIt)
{
    const TGraphic g = Picture(4, 4, [](int x, int y) { return 0xFF000000u | uint32_t(y * 4 + x); });
    C.CopyRect(TRect{0, 0, 300, 300}, g, TRect{-2, 2, 2, 6});  // the left half of the bottom half, and beyond
    Maker.EndDoc();
    const std::string pdf = ReadBytes(Maker.FileName());
    EXPECT_TRUE(PassesQpdfCheck(Maker.FileName()));
    // The part on the picture (2 x 2 pixels) over the right half of the top of Dest.
    EXPECT_NE(pdf.find("q\r\n36 0 0 36 36 756 cm\r\n/Im1 Do\r\nQ"), std::string::npos);
    EXPECT_NE(pdf.find("/Width 2\r\n/Height 2\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quillard::test
