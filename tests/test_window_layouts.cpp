// The windows placed by layouts: at their default size and squeezed to
// 640 x 480 every visible control stays inside its window, no two labels or
// buttons of one parent cover each other, and every label is wide (for a
// wrapping label: tall) enough for its text. The text windows give their
// spare room to their lists and text, and the text and progress windows
// grow with their font.
#include "tests/windowtest.h"

#include "app/aboutwindow.h"
#include "app/addtextwindow.h"
#include "app/edittextwindow.h"
#include "app/findwindow.h"
#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "app/progresswindow.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <functional>

namespace quillard::test {
namespace {

// Whether W is part of what a scrolling area scrolls (the page and its
// shapes): content placed by drawing, not by a layout.
bool IsScrolledContent(const QWidget* W, const QWidget* Window)
{
    for (const QWidget* p = W->parentWidget(); p && p != Window; p = p->parentWidget())
        if (auto* area = qobject_cast<const QAbstractScrollArea*>(p->parentWidget()); area && area->viewport() == p)
            return true;
    return false;
}

QString Describe(const QWidget* W)
{
    return QString::fromLatin1(W->metaObject()->className()) + " '" + W->objectName() + "' " +
           QString::number(W->x()) + "," + QString::number(W->y()) + " " + QString::number(W->width()) + "x" +
           QString::number(W->height());
}

// What is wrong with Window's layout, one line a fault; empty when nothing.
QStringList LayoutFaults(QWidget* Window)
{
    QStringList faults;
    QList<QWidget*> shown;
    for (QWidget* w : Window->findChildren<QWidget*>()) {
        if (w->isWindow() || !w->isVisibleTo(Window) || IsScrolledContent(w, Window))
            continue;
        shown.append(w);
        const QRect inWindow(w->mapTo(Window, QPoint(0, 0)), w->size());
        if (!Window->rect().contains(inWindow))
            faults << "outside the window: " + Describe(w);
        if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty()) {
            const int room = l->contentsRect().width();
            if (l->wordWrap()) {
                if (l->height() < l->heightForWidth(l->width()))
                    faults << "too low for its wrapped text: " + Describe(w);
            } else if (room < l->fontMetrics().horizontalAdvance(l->text())) {
                faults << "too narrow for \"" + l->text() + "\": " + Describe(w);
            }
        }
    }
    auto textControl = [](QWidget* w) { return qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w); };
    for (int i = 0; i < shown.size(); ++i)
        for (int j = i + 1; j < shown.size(); ++j) {
            QWidget *a = shown[i], *b = shown[j];
            if (a->parentWidget() == b->parentWidget() && textControl(a) && textControl(b) &&
                a->geometry().intersects(b->geometry()))
                faults << "overlap: " + Describe(a) + " and " + Describe(b);
        }
    return faults;
}

class WindowLayoutTest;

struct WindowCase {
    const char* Name;
    std::function<QWidget*(WindowLayoutTest&)> Make;
};

class WindowLayoutTest : public WindowTest, public ::testing::WithParamInterface<WindowCase> {
public:
    std::unique_ptr<QWidget> Dialog;

    // The preview window started on a short report as the program starts it.
    QWidget* Preview()
    {
        MakeWindows({Write("{CPI10}First line of the report\r\nSecond line\r\n")});
        W->FormActivate();
        return W.get();
    }

    template <class T> QWidget* Make()
    {
        Dialog = std::make_unique<T>();
        Dialog->show();
        return Dialog.get();
    }

    QWidget* PrintOptions()
    {
        MakeWindows({Write("Report\r\n")});
        Dialog = std::make_unique<TPrintOptionsWindow>(W.get());
        Dialog->show();
        return Dialog.get();
    }

    void TearDown() override
    {
        Dialog.reset();
        WindowTest::TearDown();
    }
};

// Lets the layouts run until Window has the size it was given; false when
// it never takes that size.
bool Settle(QWidget* Window, QSize Size)
{
    const bool sized = QTest::qWaitFor([&] { return Window->size() == Size; }, 2000);
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QApplication::processEvents();
    return sized;
}

TEST_P(WindowLayoutTest, ControlsFitAtTheDefaultSizeAndAt640x480)
{
    QWidget* window = GetParam().Make(*this);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(Settle(window, window->size()));
    EXPECT_EQ(LayoutFaults(window).join('\n').toStdString(), "") << "at the default size " << window->width() << "x"
                                                                << window->height();

    if (window->isMaximized())
        window->showNormal();
    const QSize small = QSize(640, 480).expandedTo(window->minimumSize());
    window->resize(small);
    EXPECT_TRUE(Settle(window, small)) << "the window stays " << window->width() << "x" << window->height();
    EXPECT_LE(window->minimumSizeHint().width(), 640) << "the window cannot be made 640 pixels wide";
    EXPECT_EQ(LayoutFaults(window).join('\n').toStdString(), "") << "at " << window->width() << "x" << window->height();
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowLayoutTest,
    ::testing::Values(WindowCase{"Preview", [](WindowLayoutTest& T) { return T.Preview(); }},
                      WindowCase{"PrintOptions", [](WindowLayoutTest& T) { return T.PrintOptions(); }},
                      WindowCase{"About", [](WindowLayoutTest& T) { return T.Make<TAboutWindow>(); }},
                      WindowCase{"Find", [](WindowLayoutTest& T) { return T.Make<TFindWindow>(); }},
                      WindowCase{"OpenDocument", [](WindowLayoutTest& T) { return T.Make<TOpenDocumentWindow>(); }},
                      WindowCase{"AddText", [](WindowLayoutTest& T) { return T.Make<TAddTextWindow>(); }},
                      WindowCase{"EditText", [](WindowLayoutTest& T) { return T.Make<TEditTextWindow>(); }}),
    [](const ::testing::TestParamInfo<WindowCase>& Info) { return std::string(Info.param.Name); });

// The window's own controls that are empty or cover one another.
QStringList Overlaps(QWidget* Window)
{
    QStringList faults;
    QList<QWidget*> placed;
    for (QWidget* w : Window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisibleTo(Window))
            placed << w;
    for (int i = 0; i < placed.size(); ++i) {
        if (placed[i]->geometry().isEmpty())
            faults << "empty: " + Describe(placed[i]);
        for (int j = i + 1; j < placed.size(); ++j)
            if (placed[i]->geometry().intersects(placed[j]->geometry()))
                faults << "overlap: " + Describe(placed[i]) + " and " + Describe(placed[j]);
    }
    return faults;
}

// The text and progress windows at the program's font and at a font 1.6
// times as large.
class TextWindowTest : public WindowLayoutTest {
protected:
    const QFont FSavedFont = QApplication::font();
    void TearDown() override
    {
        WindowLayoutTest::TearDown();
        QApplication::setFont(FSavedFont);
    }
};

TEST_P(TextWindowTest, ControlsStayApartAndGrowWithTheFont)
{
    QWidget* window = GetParam().Make(*this);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(Settle(window, window->size()));
    EXPECT_EQ((LayoutFaults(window) + Overlaps(window)).join('\n').toStdString(), "");
    const QSize normal = window->size();

    QFont larger = QApplication::font();
    larger.setPointSizeF(larger.pointSizeF() * 1.6);
    QApplication::setFont(larger);
    window = GetParam().Make(*this);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(Settle(window, window->size()));
    EXPECT_GT(window->width(), normal.width());
    EXPECT_GE(window->height(), normal.height());
    EXPECT_EQ((LayoutFaults(window) + Overlaps(window)).join('\n').toStdString(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Windows, TextWindowTest,
    ::testing::Values(WindowCase{"AddText", [](WindowLayoutTest& T) { return T.Make<TAddTextWindow>(); }},
                      WindowCase{"EditText", [](WindowLayoutTest& T) { return T.Make<TEditTextWindow>(); }},
                      WindowCase{"Progress", [](WindowLayoutTest& T) { return T.Make<TProgressWindow>(); }}),
    [](const ::testing::TestParamInfo<WindowCase>& Info) { return std::string(Info.param.Name); });

// A text window made larger.
class ResizedTextWindowTest : public WindowLayoutTest {};

TEST_P(ResizedTextWindowTest, TextAndListsTakeTheSpareRoom)
{
    QWidget* window = GetParam().Make(*this);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(Settle(window, window->size()));
    auto* text = window->findChild<QLineEdit*>("txtTextToAdd");
    auto* fonts = window->findChild<QListWidget*>("lstFont");
    ASSERT_TRUE(text && fonts);
    const QSize textSize = text->size(), fontsSize = fonts->size();

    const QSize larger = window->size() + QSize(200, 150);
    window->resize(larger);
    ASSERT_TRUE(Settle(window, larger));
    EXPECT_GT(text->width(), textSize.width());
    EXPECT_GT(fonts->width(), fontsSize.width());
    EXPECT_GT(fonts->height(), fontsSize.height());
    EXPECT_EQ((LayoutFaults(window) + Overlaps(window)).join('\n').toStdString(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ResizedTextWindowTest,
    ::testing::Values(WindowCase{"AddText", [](WindowLayoutTest& T) { return T.Make<TAddTextWindow>(); }},
                      WindowCase{"EditText", [](WindowLayoutTest& T) { return T.Make<TEditTextWindow>(); }}),
    [](const ::testing::TestParamInfo<WindowCase>& Info) { return std::string(Info.param.Name); });

// The progress window's message on its gauge.
class ProgressWindowLayoutTest : public WindowTest {};

TEST_F(ProgressWindowLayoutTest, MessageCoversTheGaugeAndALongOneLeavesTheWindowsSize)
{
    TProgressWindow w;
    EXPECT_EQ(w.size(), w.sizeHint());
    const QSize size = w.size();
    w.SetMessage("Retrieving http://127.0.0.1/a/rather/long/address/of/a/report/REPORT.TXT");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.lblMessage->geometry() == w.ProgressGauge->rect(); }, 2000));
    EXPECT_EQ(w.size(), size);
}

}  // namespace
}  // namespace quillard::test
