// The preview on a screen scaled twice (QT_SCALE_FACTOR=2): the page is laid
// out and drawn at the screen's device pixels, one bitmap pixel to each, not
// a bitmap of the window's pixels stretched.
#include "tests/windowtest.h"

#include "app/previewwindow.h"
#include "engine/globals.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <cmath>

namespace quillard::test {
namespace {

class HiDpiTest : public WindowTest {
protected:
    void Start(std::vector<std::string> Params)
    {
        MakeWindows(std::move(Params));
        W->FormActivate();
    }

    static void Type(QLineEdit* Box, const QString& Text)
    {
        Box->setFocus();
        Box->selectAll();
        QTest::keyClicks(Box, Text);
    }

    std::string TwoPages()
    {
        return Write("{CPI10}{B}First page of the report{/B}\r\nA line with some words on it\r\n\f"
                     "Second page\r\n");
    }
};

TEST_F(HiDpiTest, ThePageHasADevicePixelForEachOfTheScreens)
{
    const std::string path = TwoPages();
    Start({path});
    ASSERT_FALSE(Ended);
    ASSERT_DOUBLE_EQ(W->devicePixelRatioF(), 2.0);
    EXPECT_DOUBLE_EQ(W->Session().PixelRatio(), 2.0);
    // The zoom shown stays the user's; the renderer lays out at twice it.
    EXPECT_EQ(W->edtZoom->text(), "75");
    EXPECT_EQ(Globals().ZoomLevel, 75);
    EXPECT_DOUBLE_EQ(W->Session().Renderer()->GetScale(), 1.5);
    // (A copy: the page bitmap is replaced when pages are drawn ahead.)
    const QImage page = W->PageBitmap->Image();
    EXPECT_LE(std::abs(page.width() - 2 * W->PageView->width()), 1);
    EXPECT_LE(std::abs(page.height() - 2 * W->PageView->height()), 1);
    // It is the page as drawn at that scale, and its text twice as wide as
    // at the zoom on a screen of one pixel to one.
    EXPECT_EQ(page, ReferencePage(path, 1, 1.5));
    const TInkBox sharp = InkBox(page), plain = InkBox(ReferencePage(path, 1, 0.75));
    ASSERT_FALSE(plain.Empty());
    EXPECT_NEAR(sharp.Width(), 2.0 * plain.Width(), 4);
    // On the screen every pixel of the bitmap is one device pixel.
    W->show();
    QApplication::processEvents();
    const QImage shown = W->PageView->grab().toImage().convertToFormat(page.format());
    ASSERT_DOUBLE_EQ(shown.devicePixelRatio(), 2.0);
    EXPECT_EQ(shown.copy(0, 0, page.width(), page.height()), page);
}

// What the window measures in its own pixels stays in them: inches of a
// point on the page, the fitted zoom, paging.
TEST_F(HiDpiTest, TheWindowsMeasuresStayInItsPixels)
{
    Start({TwoPages()});
    ASSERT_FALSE(Ended);
    Type(W->edtZoom, "100");
    EXPECT_DOUBLE_EQ(W->ScreenPpiX(), 96.0);
    EXPECT_DOUBLE_EQ(W->ScreenPpiY(), 96.0);
    EXPECT_DOUBLE_EQ(W->Session().Renderer()->Metrics.PixelsPerInchX, 192.0);
    W->resize(900, 700);
    W->show();
    QApplication::processEvents();
    W->actFitPage->trigger();
    QApplication::processEvents();
    EXPECT_EQ(W->ScrollArea->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(W->ScrollArea->verticalScrollBar()->maximum(), 0);
    const double oneMore = W->shpNonPrintable->height() * (Globals().ZoomLevel + 1.0) / Globals().ZoomLevel;
    EXPECT_GT(oneMore, W->ScrollArea->maximumViewportSize().height() - 2 * TPreviewWindow::PageMargin - 1);
    QTest::keyClick(W->edtPageNum, Qt::Key_PageDown);
    EXPECT_EQ(W->Session().CurrentPage(), 2);
    EXPECT_EQ(W->PageBitmap->Image(),
              ReferencePage(W->Session().ReportFileName(), 2, W->Session().Renderer()->GetScale()));
}

}  // namespace
}  // namespace quillard::test
