// Program entry. Without a headless option the preview window starts; the
// headless options draw pages and count them without a display, on Qt's
// offscreen platform.
#include "app/cli.h"

int main(int argc, char** argv)
{
    return quillard::RunCommandLine(argc, argv);
}
