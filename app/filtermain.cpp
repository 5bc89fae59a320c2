// Entry of the CUPS filter quillardtopdf (see app/cupsfilter.h).
#include "app/cupsfilter.h"

int main(int argc, char** argv)
{
    return quillard::RunCupsFilter(argc, argv);
}
