#include "engine/globals.h"

namespace quillard {

TProgramGlobals& Globals()
{
    static TProgramGlobals g;
    return g;
}

}  // namespace quillard
