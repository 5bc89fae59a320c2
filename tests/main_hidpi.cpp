// Test entry of the window tests on a screen scaled twice: the same
// offscreen platform as the other window tests, with Qt's scale factor 2,
// so that every window has two device pixels to each of its pixels.
#include "tests/modal.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_SCALE_FACTOR", "2", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    struct TCancelAnswers : ::testing::EmptyTestEventListener {
        void OnTestEnd(const ::testing::TestInfo&) override { quillard::test::CancelModalAnswers(); }
    };
    ::testing::UnitTest::GetInstance()->listeners().Append(new TCancelAnswers);
    return RUN_ALL_TESTS();
}
