// The preview's tools on the offscreen platform: a text item placed by a
// click on the page and a shape drawn with the mouse end up in the report
// file and on the page shown afterwards.
#include "tests/windowtest.h"
#include "tests/modal.h"

#include "app/addtextwindow.h"
#include "app/edittextwindow.h"
#include "app/opendocumentwindow.h"
#include "app/printoptionswindow.h"
#include "app/previewwindow.h"
#include "engine/autotext.h"

#include <QApplication>
#include <QColorDialog>
#include <QMouseEvent>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <iterator>

namespace quillard::test {
namespace {

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class AutoToolsTest : public WindowTest {
protected:
    std::string Path;

    void SetUp() override
    {
        WindowTest::SetUp();
        Globals().ZoomLevel = 100;
    }

    void Start(const std::string& Report)
    {
        Path = Write(Report);
        MakeWindows({Path});
        W->FormActivate();
    }

    void Mouse(QEvent::Type Type, QPoint At, Qt::MouseButtons Held)
    {
        QMouseEvent e(Type, QPointF(At), W->PageView->mapToGlobal(QPointF(At)),
                      Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Held, Qt::NoModifier);
        if (Type == QEvent::MouseButtonPress)
            W->PageViewMouseDown(&e);
        else if (Type == QEvent::MouseMove)
            W->PageViewMouseMove(&e);
        else
            W->PageViewMouseUp(&e);
    }

    // Ink of a colour near a point of the page bitmap.
    bool InkNear(QPoint At, const std::function<bool(QRgb)>& Ink, int Radius = 2)
    {
        const QImage& img = W->PageBitmap->Image();
        for (int y = At.y() - Radius; y <= At.y() + Radius; ++y)
            for (int x = At.x() - Radius; x <= At.x() + Radius; ++x)
                if (img.valid(x, y) && Ink(img.pixel(x, y)))
                    return true;
        return false;
    }
};

bool IsRed(QRgb c) { return qRed(c) > 180 && qGreen(c) < 90 && qBlue(c) < 90; }

TEST_F(AutoToolsTest, ToolsAreOfferedWithTheirHints)
{
    Start("Text\r\n");
    EXPECT_TRUE(W->cmdAddText->isEnabled());
    EXPECT_EQ(W->cmdAddText->toolTip(), "Click this button then click on the report where you want to add text");
    EXPECT_EQ(W->cmdDrawLine->toolTip(), "Draw a Line");
    EXPECT_EQ(W->cmdDrawBox->toolTip(), "Draw a Box");
    EXPECT_EQ(W->cmdDrawCircle->toolTip(), "Draw a Circle");
    EXPECT_EQ(W->cmdPickColor->toolTip(), "Select the Drawing Color");
    EXPECT_TRUE(W->actAddAutoText->isEnabled());
}

TEST_F(AutoToolsTest, TextPlacedByAClickIsWrittenBeforeThePageEndAndShown)
{
    const std::string report = "First page\r\n{PAGE}Second page\r\n{PAGE}Third\r\n";
    Start(report);
    ASSERT_EQ(W->Session().PageCount(), 3);
    W->edtPageNum->setText("2");
    ASSERT_EQ(W->Session().CurrentPage(), 2);
    const double ppi = W->Session().Renderer()->Metrics.PixelsPerInchX;
    ASSERT_DOUBLE_EQ(ppi, 96);

    W->cmdAddText->click();
    EXPECT_TRUE(W->AddTextPending);
    std::string shownLocation;
    WhenDialog<TAddTextWindow>([&](TAddTextWindow* d) {
        EXPECT_EQ(d->windowTitle(), "Add Text to Report");
        shownLocation = d->lblLocation->text().toStdString();
        EXPECT_EQ(d->lstSize->currentItem()->text(), "19");
        const auto arial = d->lstFont->findItems("Arial", Qt::MatchExactly);
        ASSERT_FALSE(arial.isEmpty());
        d->lstFont->setCurrentItem(arial.first());
        d->lstSize->setCurrentRow(20);  // 24 points
        d->chkBold->setChecked(true);
        d->txtTextToAdd->setText("WWWW");
        d->cmdOk->click();
    });
    Mouse(QEvent::MouseButtonPress, {144, 216}, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, {144, 216}, Qt::NoButton);
    EXPECT_FALSE(W->AddTextPending);
    EXPECT_EQ(shownLocation, "( Location: 1.5, 2.25 )");

    const std::string markup =
        "{SPAN CLASS=\"AutoText\" NAME=\"AutoText0\" PRINTABLE NOCLIP FontName=\"Arial\" FontSize=\"24\" "
        "FontColor=\"0\" TOP=2.25in LEFT=1.5in ALIGN=\"LEFT\"}{B}WWWW{/B}{/SPAN}";
    EXPECT_EQ(ReadFile(Path), "First page\r\n{PAGE}Second page\r\n" + markup + "{PAGE}Third\r\n")
        << "the item goes in front of the break that ends page 2";
    // The preview was refreshed and stays on page 2, now with the text.
    EXPECT_EQ(W->Session().CurrentPage(), 2);
    EXPECT_EQ(W->edtPageNum->text(), "2");
    const TInkBox ink = InkBox(W->PageBitmap->Image().copy(100, 150, 300, 200));
    ASSERT_FALSE(ink.Empty());
    EXPECT_NEAR(ink.Left + 100, 144, 4);
    EXPECT_GE(ink.Top + 150, 215);
    EXPECT_LE(ink.Top + 150, 216 + 16);
    EXPECT_TRUE(Services.Messages.empty());
}

TEST_F(AutoToolsTest, MenuItemAsksFirstAndCancelLeavesNoTool)
{
    Start("Text\r\n");
    W->actAddAutoText->trigger();
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Add Custom Text");
    EXPECT_EQ(Services.Messages[0].Text, "Click at the location where you would like to add some text\r\n(Click OK first)");
    // The recording services answer OK.
    EXPECT_TRUE(W->AddTextPending);
}

TEST_F(AutoToolsTest, EmptyTextAddsNothing)
{
    const std::string report = "Text\r\n";
    Start(report);
    W->cmdAddText->click();
    WhenDialog<TAddTextWindow>([](TAddTextWindow* d) {
        d->txtTextToAdd->setText("   ");
        d->cmdOk->click();
    });
    Mouse(QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, {10, 10}, Qt::NoButton);
    EXPECT_EQ(ReadFile(Path), report);
}

TEST_F(AutoToolsTest, BoxDrawnWithTheMouseShowsABandThenLandsInTheReport)
{
    const std::string report = "Only page\r\n";
    Start(report);
    WhenDialog<QColorDialog>([](QColorDialog* d) {
        d->setCurrentColor(Qt::red);
        d->accept();
    });
    W->cmdPickColor->click();
    EXPECT_EQ(W->DrawColor, 0x0000FFu);
    W->cboWidth->setEditText("3");
    EXPECT_EQ(W->DrawWidth, 3);
    W->cmdDrawBox->click();
    EXPECT_TRUE(W->DrawBoxMode);

    const QPoint a(96, 192), b(288, 288);
    Mouse(QEvent::MouseButtonPress, a, Qt::LeftButton);
    Mouse(QEvent::MouseMove, QPoint(200, 250), Qt::LeftButton);
    Mouse(QEvent::MouseMove, b, Qt::LeftButton);
    // The band follows the mouse on screen; the page bitmap is untouched.
    const QImage screen = W->PageView->grab().toImage();
    EXPECT_TRUE(IsRed(screen.pixel(a.x(), (a.y() + b.y()) / 2)));
    EXPECT_TRUE(IsRed(screen.pixel(b.x(), (a.y() + b.y()) / 2)));
    EXPECT_FALSE(IsRed(screen.pixel(200, 220))) << "the earlier outline is gone";
    EXPECT_FALSE(InkNear({a.x(), 240}, IsRed, 0));

    Mouse(QEvent::MouseButtonRelease, b, Qt::NoButton);
    EXPECT_FALSE(W->DrawBoxMode);
    const QPoint off = W->PageView->pos() - W->shpNonPrintable->pos();
    const double ppi = W->Session().Renderer()->Metrics.PixelsPerInchX;
    const std::string markup = AutoShapeMarkup(TAutoShapeKind::Box, 3, 0x0000FF, false, (a.x() + off.x()) / ppi,
                                               (a.y() + off.y()) / ppi, (b.x() + off.x()) / ppi,
                                               (b.y() + off.y()) / ppi);
    EXPECT_EQ(ReadFile(Path), report + markup);
    EXPECT_NE(markup.find("COLOR=\"RED\""), std::string::npos);
    // Refreshed: the box is on the page, where it was drawn.
    EXPECT_TRUE(InkNear({a.x(), 240}, IsRed));
    EXPECT_TRUE(InkNear({b.x(), 240}, IsRed));
    EXPECT_TRUE(InkNear({190, a.y()}, IsRed));
    EXPECT_FALSE(InkNear({190, 240}, IsRed)) << "hollow";
}

TEST_F(AutoToolsTest, FilledOvalAndLineUseTheirModes)
{
    Start("A\fB\r\n");
    ASSERT_EQ(W->Session().PageCount(), 2);
    W->chkFilled->click();
    EXPECT_TRUE(W->DrawFilled);
    W->cmdDrawCircle->click();
    Mouse(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, {200, 160}, Qt::NoButton);
    const std::string afterOval = ReadFile(Path);
    EXPECT_EQ(afterOval.find("A{SPAN CLASS=\"AUTOSHAPE\"}{PEN WIDTH=\"1pt\" FILLCOLOR=\"BLACK\" FILLSTYLE=\"SOLID\""),
              0u)
        << "the oval goes on page 1, before the form feed that ends it, now a page tag: " << afterOval;
    EXPECT_NE(afterOval.find("{/PEN}{/SPAN}{PAGE}B\r\n"), std::string::npos);
    EXPECT_TRUE(InkNear({150, 130}, IsInk)) << "filled";

    W->cmdDrawLine->click();
    EXPECT_TRUE(W->DrawLineMode);
    EXPECT_FALSE(W->DrawOvalMode);
    Mouse(QEvent::MouseButtonPress, {50, 300}, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, {250, 300}, Qt::NoButton);
    EXPECT_NE(ReadFile(Path).find("{LINE ABSOLUTE  WIDTH=\"1pt\" COLOR=\"BLACK\""), std::string::npos);
    EXPECT_TRUE(InkNear({150, 300}, IsInk));
}

TEST_F(AutoToolsTest, EditWindowDeletesAnItemAndThePreviewFollows)
{
    TAutoTextStyle style;
    style.FontSize = 24;
    const std::string item = AutoTextMarkup(1, style, 2, 3, "WWWW");
    const std::string report = "Top line\r\n" + item + "\r\n";
    Start(report);
    EXPECT_TRUE(W->cmdEditText->isEnabled());
    EXPECT_TRUE(W->actEditAutoText->isEnabled());
    const QRect place(170, 270, 200, 60);
    ASSERT_FALSE(InkBox(W->PageBitmap->Image().copy(place)).Empty());

    int listed = -1;
    WhenDialog<TEditTextWindow>([&](TEditTextWindow* d) {
        listed = d->lstObjects->count();
        d->lstObjects->setCurrentRow(0);
        d->cmdDel->click();
        d->cmdOk->click();
    });
    W->actEditAutoText->trigger();
    EXPECT_EQ(listed, 1);
    EXPECT_EQ(ReadFile(Path), "Top line\r\n\r\n");
    EXPECT_TRUE(InkBox(W->PageBitmap->Image().copy(place)).Empty()) << "refreshed without the item";
}

}  // namespace
}  // namespace quillard::test
