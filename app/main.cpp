// Program entry. The headless command line draws pages and counts them
// without a display; it runs on Qt's offscreen platform when no display is
// set.
#include "app/cli.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    return quillard::RunCommandLine(argc, argv);
}
