// Reading the user's items back out of a report and the edit window that
// changes and deletes them: every rewrite touches the one span and leaves
// every other byte of the report as it was.
#include "tests/testutil.h"

#include "app/edittextwindow.h"
#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "engine/autotext.h"

#include <QApplication>
#include <QSettings>
#include <QTest>
#include <QTimer>
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

TAutoTextStyle Look(int Size, bool Bold, bool Italic, bool Underline, COLORREF Color = 0, int Rotation = 0)
{
    TAutoTextStyle s;
    s.FontName = "Arial";
    s.FontSize = Size;
    s.Bold = Bold;
    s.Italic = Italic;
    s.Underline = Underline;
    s.Color = Color;
    s.Rotation = Rotation;
    return s;
}

const std::string Head = "Line one\r\n{span class=\"note\"}kept{/span}\r\n";
const std::string TextItem = AutoTextMarkup(4, Look(12, true, false, true, 255, 90), 1.5, 2.25, "Paid in full, thank you");
const std::string LowerItem =
    "{span class=\"autotext\" name=\"AutoText9\" printable top=0.5in left=3in fontname=\"Courier New\" "
    "fontsize=\"14\" fontcolor=\"#0000FF\"}{i}low{/i}{/span}";
const std::string BoxItem = AutoShapeMarkup(TAutoShapeKind::Box, 2, 0x0000FF, true, 1, 1, 2, 3);
const std::string LineItem = AutoShapeMarkup(TAutoShapeKind::Line, 4, 0, false, 0.5, 4, 6.5, 4);
const std::string Tail = "\r\n{PAGE}Last\r\nline\n";
const std::string Report = Head + TextItem + "\r\n" + LowerItem + BoxItem + "\f" + LineItem + Tail;

class ReadSpansTest : public EngineTest {};

TEST_F(ReadSpansTest, FindsEveryItemWithItsFields)
{
    int errors = -1;
    const auto items = ReadAutoTextSpans(*R, Report, errors);
    EXPECT_EQ(errors, 0);
    ASSERT_EQ(items.size(), 4u);

    const auto& t = items[0];
    EXPECT_EQ(t.Kind, "AUTOTEXT");
    EXPECT_EQ(t.SpanName, "AutoText4");
    EXPECT_EQ(t.SpanPos, static_cast<int>(Head.size()) + 1);
    EXPECT_EQ(t.DisplayText, "Paid in full, thank you");
    EXPECT_DOUBLE_EQ(t.PosX, 1.5);
    EXPECT_DOUBLE_EQ(t.PosY, 2.25);
    EXPECT_EQ(t.FontName, "Arial");
    EXPECT_EQ(t.FontSizeOrWidth, 12);
    EXPECT_TRUE(t.Bold);
    EXPECT_FALSE(t.Italic);
    EXPECT_TRUE(t.Underline);
    EXPECT_EQ(t.Color, 255u);
    EXPECT_EQ(t.Rotation, 90);
    EXPECT_EQ(ListEntryText(t.DisplayText), "Paid in full, t...");

    const auto& l = items[1];
    EXPECT_EQ(l.Kind, "AUTOTEXT") << "lower-case tags are found";
    EXPECT_EQ(l.SpanName, "AutoText9");
    EXPECT_EQ(l.DisplayText, "low");
    EXPECT_TRUE(l.Italic);
    EXPECT_EQ(l.FontName, "Courier New");
    EXPECT_EQ(l.FontSizeOrWidth, 14);
    EXPECT_EQ(l.Color, 0xFF0000u);
    EXPECT_DOUBLE_EQ(l.PosX, 3);
    EXPECT_DOUBLE_EQ(l.PosY, 0.5);
    EXPECT_EQ(ListEntryText(l.DisplayText), "low");

    const auto& b = items[2];
    EXPECT_EQ(b.Kind, "RECT");
    EXPECT_EQ(b.DisplayText, "RECT");
    EXPECT_EQ(b.FontName, "%DISABLE%");
    EXPECT_EQ(b.FontSizeOrWidth, 2) << "WIDTH=\"2pt\" reads back as 2";
    EXPECT_TRUE(b.Filled);
    EXPECT_EQ(b.Color, 0x0000FFu);
    EXPECT_DOUBLE_EQ(b.PosX, 1);
    EXPECT_DOUBLE_EQ(b.PosY, 1);
    EXPECT_DOUBLE_EQ(b.EndX, 2);
    EXPECT_DOUBLE_EQ(b.EndY, 3);

    const auto& n = items[3];
    EXPECT_EQ(n.Kind, "LINE");
    EXPECT_EQ(n.FontSizeOrWidth, 4);
    EXPECT_FALSE(n.Filled);
    EXPECT_DOUBLE_EQ(n.EndX, 6.5);
}

TEST_F(ReadSpansTest, ShapeWithoutAPenTakesWidthAndColourFromItsTag)
{
    const std::string report = "{SPAN CLASS=\"AutoShape\"}{RECT FROM=\"1in,1\" TO=\"2in,2\" WIDTH=\"3pt\" COLOR=\"RED\"}{/SPAN}"
                               "{SPAN CLASS=\"AUTOSHAPE\"}{OVAL ABSOLUTE FROM=\"0.5in,0.5\" TO=\"1in,1\"}{/SPAN}"
                               "{SPAN CLASS=\"AUTOSHAPE\"}nothing{/SPAN}";
    int errors = 0;
    const auto items = ReadAutoTextSpans(*R, report, errors);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].Kind, "RECT");
    EXPECT_EQ(items[0].FontSizeOrWidth, 3);
    EXPECT_EQ(items[0].Color, 0x0000FFu);
    EXPECT_FALSE(items[0].Filled);
    EXPECT_EQ(items[1].Kind, "OVAL");
    EXPECT_EQ(items[1].FontSizeOrWidth, 10) << "the default width";
    EXPECT_DOUBLE_EQ(items[1].PosX, 0.5);
    EXPECT_EQ(items[2].Kind, "");
    EXPECT_EQ(items[2].DisplayText, "");
}

TEST_F(ReadSpansTest, TypedBoldTagReadsBackAsBold)
{
    const std::string report = AutoTextMarkup(1, Look(10, false, false, false), 1, 1, "{B}x");
    int errors = 0;
    const auto items = ReadAutoTextSpans(*R, report, errors);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0].Bold);
    EXPECT_EQ(items[0].DisplayText, "x");
}

TEST_F(ReadSpansTest, DeletingEachItemRemovesJustItsSpan)
{
    int errors = 0;
    const auto items = ReadAutoTextSpans(*R, Report, errors);
    const std::string spans[] = {TextItem, LowerItem, BoxItem, LineItem};
    ASSERT_EQ(items.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        std::string text = Report;
        EXPECT_TRUE(DeleteSpanFromStr(text, items[i].SpanPos));
        std::string expected = Report;
        expected.erase(expected.find(spans[i]), spans[i].size());
        EXPECT_EQ(text, expected) << i;
    }
}

TEST_F(ReadSpansTest, SpanWithoutItsEndIsNotDeleted)
{
    std::string text = "A{SPAN CLASS=\"AUTOSHAPE\"}{LINE FROM=\"1in,1\" TO=\"2in,1\"}";
    const std::string before = text;
    EXPECT_FALSE(DeleteSpanFromStr(text, 2));
    EXPECT_EQ(text, before);
}

// ---- the window ------------------------------------------------------------------

class EditWindowTest : public EngineTest {
protected:
    std::string Path;
    std::unique_ptr<TEditTextWindow> F;

    void Open(const std::string& Bytes)
    {
        Path = Write(Bytes);
        R->FileName = Path;
        F = std::make_unique<TEditTextWindow>();
        F->Renderer = R.get();
        F->show();
    }
    void TearDown() override
    {
        F.reset();
        EngineTest::TearDown();
    }
    void Select(int Row)
    {
        F->lstObjects->setCurrentRow(Row);
        F->lstObjectsChange();
    }
};

TEST_F(EditWindowTest, ListsTheItemsCutAfterFifteenCharacters)
{
    Open(Report);
    EXPECT_EQ(F->windowTitle(), "Edit User Added Objects");
    ASSERT_EQ(F->lstObjects->count(), 4);
    EXPECT_EQ(F->lstObjects->item(0)->text(), "Paid in full, t...");
    EXPECT_EQ(F->lstObjects->item(1)->text(), "low");
    EXPECT_EQ(F->lstObjects->item(2)->text(), "RECT");
    EXPECT_EQ(F->lstObjects->item(3)->text(), "LINE");
    EXPECT_FALSE(F->txtX->isEnabled());
    EXPECT_FALSE(F->cmdApply->isEnabled());
}

TEST_F(EditWindowTest, SelectingFillsTheControlsAndEnablesByKind)
{
    Open(Report);
    Select(0);
    EXPECT_EQ(F->txtTextToAdd->text(), "Paid in full, thank you");
    EXPECT_EQ(F->txtX->text(), "1.5");
    EXPECT_EQ(F->txtY->text(), "2.25");
    EXPECT_EQ(F->Controls.lstSize->currentItem()->text(), "12");
    EXPECT_TRUE(F->Controls.chkBold->isChecked());
    EXPECT_TRUE(F->Controls.chkUnderline->isChecked());
    EXPECT_EQ(F->Controls.sbRotate->value(), 90);
    EXPECT_EQ(F->Controls.lblRotate->text(), "Rotate Angle: 90deg");
    EXPECT_TRUE(F->txtTextToAdd->isEnabled());
    EXPECT_FALSE(F->cmdApply->isEnabled()) << "filling is not a change";

    Select(2);
    EXPECT_FALSE(F->txtTextToAdd->isEnabled());
    EXPECT_FALSE(F->Controls.chkBold->isEnabled());
    EXPECT_TRUE(F->txtX->isEnabled());
    EXPECT_TRUE(F->Controls.lstSize->isEnabled());
    EXPECT_EQ(F->Controls.lstSize->currentRow(), -1) << "width 2 is not a listed size";
}

TEST_F(EditWindowTest, ApplyRewritesTheOneSpanInPlace)
{
    Open(Report);
    Select(0);
    F->txtX->selectAll();
    QTest::keyClicks(F->txtX, "2");
    EXPECT_TRUE(F->cmdApply->isEnabled());
    F->Controls.chkBold->setChecked(false);
    F->txtTextToAdd->setText("  Paid  ");
    F->cmdApply->click();

    const std::string rewritten = AutoTextEditMarkup("AutoText4", Look(12, false, false, true, 255, 90), 2, 2.25, "Paid");
    std::string expected = Report;
    expected.replace(expected.find(TextItem), TextItem.size(), rewritten);
    EXPECT_EQ(ReadFile(Path), expected);
    EXPECT_EQ(F->lstObjects->item(0)->text(), "Paid");
    EXPECT_TRUE(QDir(Dir.path()).entryList({"QUILLARD.TMP*"}, QDir::AllEntries | QDir::System).isEmpty());
}

TEST_F(EditWindowTest, ApplyOnAShapeChangesNothing)
{
    Open(Report);
    Select(2);
    F->txtX->selectAll();
    QTest::keyClicks(F->txtX, "5");
    F->cmdApply->click();
    EXPECT_EQ(ReadFile(Path), Report);
}

TEST_F(EditWindowTest, DeleteRoundTripsLeaveTheRestByteIdentical)
{
    Open(Report);
    Select(1);  // the lower-case item
    F->cmdDel->click();
    std::string expected = Report;
    expected.erase(expected.find(LowerItem), LowerItem.size());
    EXPECT_EQ(ReadFile(Path), expected);
    ASSERT_EQ(F->lstObjects->count(), 3);

    Select(1);  // now the box
    F->cmdDel->click();
    expected.erase(expected.find(BoxItem), BoxItem.size());
    EXPECT_EQ(ReadFile(Path), expected);
    EXPECT_EQ(F->lstObjects->count(), 2);
    EXPECT_TRUE(Services.Messages.empty());
}

TEST_F(EditWindowTest, MissingReportIsReported)
{
    R->FileName = Dir.filePath("GONE.TXT").toStdString();
    F = std::make_unique<TEditTextWindow>();
    F->Renderer = R.get();
    F->show();
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Error Editing Text");
    EXPECT_EQ(Services.Messages[0].Text, "Error Opening File \"" + R->FileName + "\"\r\nNo such file or directory");
    EXPECT_EQ(F->lstObjects->count(), 0);
}

TEST_F(EditWindowTest, CancelAndEscapeCloseWithOk)
{
    Open(Report);
    F->cmdCancel->click();
    EXPECT_EQ(F->result(), QDialog::Accepted);
}

}  // namespace
}  // namespace quillard::test
