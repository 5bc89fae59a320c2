// Test entry: a widget application on Qt's offscreen platform (fonts, raster
// painting and the preview's windows need one), then every GoogleTest case.
#include "tests/modal.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <cstdlib>

int main(int argc, char** argv)
{
#ifdef QUILLARD_TEST_SCALE_FACTOR
    // The window tests on a screen scaled this much: offscreen, always.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_SCALE_FACTOR", QUILLARD_TEST_SCALE_FACTOR, 1);
#else
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
#endif
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // A window test that ends before its dialog showed leaves no answer
    // waiting for the next test's dialogs.
    struct TCancelAnswers : ::testing::EmptyTestEventListener {
        void OnTestEnd(const ::testing::TestInfo&) override { quillard::test::CancelModalAnswers(); }
    };
    ::testing::UnitTest::GetInstance()->listeners().Append(new TCancelAnswers);
    return RUN_ALL_TESTS();
}
