// Test entry of the layers below the windows: a GUI application (fonts and
// raster painting need one) on Qt's offscreen platform, then every
// GoogleTest case. No widget library is linked.
#include <QGuiApplication>
#include <gtest/gtest.h>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
