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

std::string Lines(std::initializer_list<const char*> L)
{
    std::string s;
    for (const char* l : L)
        (s += l) += "\r\n";
    return s;
}

class PdfCanvasTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TScopedEnv Epoch{"SOURCE_DATE_EPOCH", "1700000000"};
    tPDFMaker Maker;
    tPDFCanvasWrapper& C = *Maker.Canvas();

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
        EXPECT_EQ(tPDFCanvasWrapper::ToPoints(device), points) << device;
    EXPECT_THROW(tPDFCanvasWrapper::ToPoints(INT_MAX / 72 + 1), std::overflow_error);
    EXPECT_THROW(tPDFCanvasWrapper::ToPoints(INT_MIN / 72 - 1), std::overflow_error);
}

TEST_F(PdfCanvasTest, OnlyTheTwoResolutionsAreReported)
{
    const std::pair<int, int> caps[] = {{LOGPIXELSX, 300}, {LOGPIXELSY, 300}, {8, 0}, {PHYSICALOFFSETX, 0}, {-1, 0}};
    for (auto [index, value] : caps)
        EXPECT_EQ(C.GetDeviceCaps(index), value) << index;
}

TEST(PdfMakerFacade, PageSizeReadsAndWritesInDeviceUnits)
{
    tPDFMaker m;
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
    tPDFMaker m;
    tPDFCanvasWrapper* surface = m.Canvas();
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
        RectCase{"ClearWhiteBrushStillFillsWhite",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = clWhite;
                     c.Brush.Style = bsClear;
                     c.Pen.Width = 3;
                     c.Rectangle(300, 300, 600, 900);
                 },
                 Lines({"72 576 72 144 re", "3 w", "0 0 0 RG", "1 1 1 rg", "B"})},
        RectCase{"NoBrushColourOnlyStrokes",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = clNone;
                     c.Rectangle(600, 900, 300, 300);
                 },
                 Lines({"72 576 72 144 re", "1 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        RectCase{"ClearPenWritesNoWidthButStrokes",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = clNone;
                     c.Pen.Style = psClear;
                     c.Pen.Width = 9;
                     c.Rectangle(0, 0, 300, 300);
                 },
                 Lines({"0 720 72 72 re", "0 0 0 RG", "1 J", "1 j", "S"})},
        RectCase{"FillRectUsesTheBrushColourWhateverTheStyle",
                 [](TRenderingCanvas& c) {
                     c.Brush.Color = 0x00FF00;
                     c.Brush.Style = bsClear;
                     c.FillRect(TRect{0, 0, 299, 301});
                 },
                 Lines({"0 720 71 72 re", "0 1 0 rg", "f"})},
        RectCase{"ShapesAPdfCannotShowWriteNothing",
                 [](TRenderingCanvas& c) {
                     TGraphic g;
                     g.Width = g.Height = 1;
                     g.Pixels = {0xFF000000};
                     c.Ellipse(0, 0, 100, 100);
                     c.Polygon({{0, 0}, {10, 0}, {0, 10}});
                     c.Polyline({{0, 0}, {10, 0}});
                     c.Arc(0, 0, 9, 9, 0, 0, 9, 9);
                     c.Pie(0, 0, 9, 9, 0, 0, 9, 9);
                     c.Chord(0, 0, 9, 9, 0, 0, 9, 9);
                     c.Draw(10, 10, g);
                     c.StretchDraw(TRect{0, 0, 5, 5}, g);
                     c.FrameRect(TRect{0, 0, 5, 5});
                     c.DrawFocusRect(TRect{0, 0, 5, 5});
                     c.FloodFill(1, 1, 0, fsSurface);
                     c.CopyRect(TRect{0, 0, 5, 5}, g, TRect{0, 0, 1, 1});
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

TEST_F(PdfCanvasTest, TextRectIgnoresItsRectangle)
{
    UseFont("Courier New", 12);
    C.TextRect(TRect{0, 0, 10, 10}, 3000, 3000, "outside");
    EXPECT_NE(Content().find("720 59 Td\r\n(outside) Tj"), std::string::npos);
}

TEST_F(PdfCanvasTest, TextFarBelowThePageIsAnOverflowError)
{
    EXPECT_THROW(C.TextOut(0, INT_MAX - 10, "x"), std::overflow_error);
    EXPECT_THROW(C.TextOut(0, 100000000, "x"), std::overflow_error);
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

}  // namespace
}  // namespace quillard::test
