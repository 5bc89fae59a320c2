// Items a user adds to a report from the preview: the exact markup of text
// items and shapes, where it lands in the report, how it shows once
// rendered, and how the edit window reads it back and rewrites it.
#include "tests/testutil.h"

#include "engine/autotext.h"
#include "engine/fileeditor.h"

#include <QDir>
#include <fstream>
#include <iterator>

namespace quillard::test {
namespace {

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- markup ----------------------------------------------------------------

struct MarkupCase {
    const char* Name;
    std::string Markup;
    std::string Expected;
};

void PrintTo(const MarkupCase& c, std::ostream* os) { *os << c.Name; }

TAutoTextStyle Style(int Size, COLORREF Color, int Rotation, bool B, bool I, bool U, const char* Font = "Arial")
{
    TAutoTextStyle s;
    s.FontName = Font;
    s.FontSize = Size;
    s.Color = Color;
    s.Rotation = Rotation;
    s.Bold = B;
    s.Italic = I;
    s.Underline = U;
    return s;
}

class MarkupTest : public ::testing::TestWithParam<MarkupCase> {};

TEST_P(MarkupTest, IsWrittenByteForByte) { EXPECT_EQ(GetParam().Markup, GetParam().Expected); }

INSTANTIATE_TEST_SUITE_P(
    AutoText, MarkupTest,
    ::testing::Values(
        MarkupCase{"BoldTwelvePointPaid",
                   AutoTextMarkup(3, Style(12, 0, 0, true, false, false), 1.5, 2.25, "Paid"),
                   "{SPAN CLASS=\"AutoText\" NAME=\"AutoText3\" PRINTABLE NOCLIP FontName=\"Arial\" FontSize=\"12\" "
                   "FontColor=\"0\" TOP=2.25in LEFT=1.5in ALIGN=\"LEFT\"}{B}Paid{/B}{/SPAN}"},
        MarkupCase{"AllStylesNestInOrder",
                   AutoTextMarkup(1, Style(8, 255, 0, true, true, true, "Courier New"), 0, 1, "x"),
                   "{SPAN CLASS=\"AutoText\" NAME=\"AutoText1\" PRINTABLE NOCLIP FontName=\"Courier New\" "
                   "FontSize=\"8\" FontColor=\"255\" TOP=1in LEFT=0in ALIGN=\"LEFT\"}{B}{I}{U}x{/U}{/I}{/B}{/SPAN}"},
        MarkupCase{"RotationNinetyAndBlue",
                   AutoTextMarkup(12, Style(19, 0xFF0000, 90, false, false, false), 0.3, 1.0 / 3, "Up"),
                   "{SPAN CLASS=\"AutoText\" NAME=\"AutoText12\" PRINTABLE NOCLIP FontName=\"Arial\" FontSize=\"19\" "
                   "FontColor=\"16711680\" ROTATE=\"90deg\" TOP=0.333333333333333in LEFT=0.3in "
                   "ALIGN=\"LEFT\"}Up{/SPAN}"},
        MarkupCase{"TypedBoldTagWithBoldOffIsKept",
                   AutoTextMarkup(2, Style(10, 0, 0, false, false, false), 1, 1, "{B}x"),
                   "{SPAN CLASS=\"AutoText\" NAME=\"AutoText2\" PRINTABLE NOCLIP FontName=\"Arial\" FontSize=\"10\" "
                   "FontColor=\"0\" TOP=1in LEFT=1in ALIGN=\"LEFT\"}{B}x{/SPAN}"},
        MarkupCase{"EditWindowRewrite",
                   AutoTextEditMarkup("AutoText3", Style(12, 0, 45, false, true, false), 1.5, 2.25, "Paid"),
                   "{SPAN CLASS=\"AutoText\" NAME=\"AutoText3\" PRINTABLE NOCLIP FontName=\"Arial\" FontSize=\"12\" "
                   "FontColor=\"0\" ROTATE=\"45deg\" TOP=2.25in LEFT=1.5in}{I}Paid{/I}{/SPAN}"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    AutoShape, MarkupTest,
    ::testing::Values(
        MarkupCase{"RedLine", AutoShapeMarkup(TAutoShapeKind::Line, 2, 0x0000FF, false, 1, 1, 3, 1),
                   "{SPAN CLASS=\"AUTOSHAPE\"}{LINE ABSOLUTE  WIDTH=\"2pt\" COLOR=\"RED\" FROM=\"1in,1\" "
                   "TO=\"3in,1\"}{/SPAN}"},
        MarkupCase{"HollowBlackBox", AutoShapeMarkup(TAutoShapeKind::Box, 1, 0, false, 1, 1, 2, 2),
                   "{SPAN CLASS=\"AUTOSHAPE\" ABSOLUTE TOP=0 LEFT=0}{PEN WIDTH=\"1pt\" FILLSTYLE=\"CLEAR\" "
                   "COLOR=\"BLACK\"}{RECTANGLE  FROM=\"1in,1\" TO=\"2in,2\"}{/PEN}{/SPAN}"},
        MarkupCase{"FilledOval", AutoShapeMarkup(TAutoShapeKind::Oval, 3, 0x123456, true, 0.5, 0.25, 1.75, 2),
                   "{SPAN CLASS=\"AUTOSHAPE\"}{PEN WIDTH=\"3pt\" FILLCOLOR=\"#563412\" FILLSTYLE=\"SOLID\" "
                   "COLOR=\"#563412\"}{OVAL ABSOLUTE  FROM=\"0.5in,0.25\" TO=\"1.75in,2\"}{/PEN}{/SPAN}"},
        MarkupCase{"FilledBox", AutoShapeMarkup(TAutoShapeKind::Box, 1, 0, true, 1, 1, 2, 2),
                   "{SPAN CLASS=\"AUTOSHAPE\" ABSOLUTE TOP=0 LEFT=0}{PEN WIDTH=\"1pt\" FILLCOLOR=\"BLACK\" "
                   "FILLSTYLE=\"SOLID\" COLOR=\"BLACK\"}{RECTANGLE  FROM=\"1in,1\" TO=\"2in,2\"}{/PEN}{/SPAN}"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(GeneralNumberTest, WritesPlainDecimalsWithFifteenDigitsAtMost)
{
    const std::pair<double, const char*> cases[] = {
        {0, "0"},       {1, "1"},   {1.5, "1.5"}, {2.25, "2.25"}, {-0.125, "-0.125"}, {2.0 / 3, "0.666666666666667"},
        {1e-5, "0.00001"}, {123456.75, "123456.75"}, {1e20, "100000000000000000000"}};
    for (auto [value, text] : cases)
        EXPECT_EQ(GeneralNumber(value), text) << value;
}

// ---- where the markup lands ---------------------------------------------------

struct InsertCase {
    const char* Name;
    std::string Report;
    int Page;
    std::string Expected;
};

void PrintTo(const InsertCase& c, std::ostream* os) { *os << c.Name; }

class InsertAtEndOfPageTest : public ::testing::TestWithParam<InsertCase> {};

TEST_P(InsertAtEndOfPageTest, PutsTheMarkupBeforeThePageBreak)
{
    EXPECT_EQ(InsertAtEndOfPage(GetParam().Report, "<M>", GetParam().Page), GetParam().Expected);
}

const std::string Png = std::string("\x89PNG\r\n\x1a\n\f\x00{PAGE}\f", 16);

INSTANTIATE_TEST_SUITE_P(
    Reports, InsertAtEndOfPageTest,
    ::testing::Values(
        InsertCase{"FirstPage", "A\r\n{PAGE}B\r\n", 1, "A\r\n<M>{PAGE}B\r\n"},
        InsertCase{"SecondOfThree", "A{PAGE}B{PAGE}C", 2, "A{PAGE}B<M>{PAGE}C"},
        InsertCase{"PageThreeOfTwoGoesToTheEnd", "A\r\n{PAGE}B\r\n", 3, "A\r\n{PAGE}B\r\n<M>"},
        InsertCase{"LastPageGoesToTheEnd", "A\r\n{PAGE}B", 2, "A\r\n{PAGE}B<M>"},
        InsertCase{"LowerCaseTag", "a{page}b", 1, "a<M>{page}b"},
        InsertCase{"FormFeedInTerminator", "A\r\f\nB\r\n", 1, "A<M>{PAGE}\r\nB\r\n"},
        InsertCase{"FormFeedAlone", "A\fB\fC", 2, "A{PAGE}B<M>{PAGE}C"},
        InsertCase{"TwoFormFeedsAreTwoPages", "A\f\fC", 2, "A{PAGE}<M>{PAGE}C"},
        InsertCase{"FormFeedInsideLine", "A\fB", 3, "A{PAGE}B<M>"},
        InsertCase{"TwoTagsOnALine", "A{PAGE}B{PAGE}C\r\n", 2, "A{PAGE}B<M>{PAGE}C\r\n"},
        InsertCase{"EmptyReport", "", 1, "<M>"},
        InsertCase{"PictureDataIsCopiedAsItIs",
                   "X{IMG DATALEN=16 DATA=\"" + Png + "\"} after\r\n{PAGE}Z", 1,
                   "X{IMG DATALEN=16 DATA=\"" + Png + "\"} after\r\n<M>{PAGE}Z"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

class AutoTextFileTest : public EngineTest {};

TEST_F(AutoTextFileTest, TextOnPageThreeOfATwoPageReportLandsAtTheEnd)
{
    const std::string report = "Page one\r\n{PAGE}Page two\r\n";
    const std::string path = Write(report);
    const std::string markup = AutoTextMarkup(1, Style(12, 0, 0, false, false, false), 1, 1, "Late");
    ASSERT_TRUE(AddTextToReportFile(path, markup, 3));
    EXPECT_EQ(ReadFile(path), report + markup);
    EXPECT_TRUE(QDir(Dir.path()).entryList({"QUILLARD.TMP*"}, QDir::AllEntries | QDir::System).isEmpty());
    EXPECT_TRUE(Services.Messages.empty());
}

TEST_F(AutoTextFileTest, MissingReportIsReportedAndNothingIsWritten)
{
    const std::string path = Dir.filePath("NONE.TXT").toStdString();
    EXPECT_FALSE(AddTextToReportFile(path, "<M>", 1));
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Text, "Error Opening File \"" + path + "\"\r\nNo such file or directory");
    EXPECT_EQ(Services.Messages[0].Caption, "Error Adding Text");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
}

// ---- what the added markup draws ---------------------------------------------

TEST_F(AutoTextFileTest, AddedTextIsDrawnAtItsPlaceOnItsPage)
{
    const std::string report = "{PAGE}\r\n\r\n";
    const std::string path = Write(report);
    const std::string markup = AutoTextMarkup(1, Style(20, 0, 0, true, false, false), 1.5, 2.25, "MMMM");
    ASSERT_TRUE(AddTextToReportFile(path, markup, 2));
    const std::string text = ReadFile(path);
    ASSERT_EQ(text, report + markup);

    R->OpenFile(path, nullptr);
    UsePage(1.0);
    R->RenderPages(nullptr, 1, nullptr, 1);
    EXPECT_TRUE(Ink().Empty()) << "page 1 stays blank";

    UsePage(1.0);
    R->RenderPages(nullptr, 2, nullptr, 2);
    const TInkBox ink = Ink();
    ASSERT_FALSE(ink.Empty());
    // The text's cell starts at the point given, measured in the printable
    // area, which the page bitmap is.
    EXPECT_NEAR(ink.Left, 1.5 * Ppi(), 4);
    EXPECT_GE(ink.Top, 2.25 * Ppi() - 1);
    EXPECT_LE(ink.Top, 2.25 * Ppi() + 12);
    EXPECT_GT(ink.Width(), 40);
}

TEST_F(AutoTextFileTest, AddedBoxIsDrawnOnThePageInPageCoordinates)
{
    const std::string path = Write("Text\r\n");
    tFileEditor editor(R.get());
    R->FileName = path;
    ASSERT_TRUE(editor.Load());
    editor.InsertText(AutoShapeMarkup(TAutoShapeKind::Box, 2, 0, true, 1, 1, 2, 2), 1);
    ASSERT_TRUE(editor.Save());

    R->OpenFile(path, nullptr);
    UsePage(1.0);
    R->RenderPages(nullptr, 1, nullptr, 1);
    // Only the box: the word "Text" lies above it, at the top left.
    const TInkBox ink = InkBox(Page->Image().copy(R->DevX(0.8), R->DevY(0.8), 200, 200));
    ASSERT_FALSE(ink.Empty());
    EXPECT_NEAR(ink.Left + R->DevX(0.8), R->DevX(1), 2);
    EXPECT_NEAR(ink.Top + R->DevY(0.8), R->DevY(1), 2);
    EXPECT_NEAR(ink.Right + R->DevX(0.8), R->DevX(2), 2);
    EXPECT_NEAR(ink.Bottom + R->DevY(0.8), R->DevY(2), 2);
    // Filled: the middle is inked too.
    EXPECT_TRUE(IsInk(Page->Image().pixel(R->DevX(1.5), R->DevY(1.5))));
}

}  // namespace
}  // namespace quillard::test
