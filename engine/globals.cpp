#include "engine/globals.h"

#include <cerrno>
#include <sys/stat.h>

namespace quillard {

TProgramGlobals& Globals()
{
    static TProgramGlobals g;
    return g;
}

void NoteOpenFailure(const std::string& Path)
{
    struct stat st;
    if (::stat(Path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        Globals().LastFailure = TFailureKind::NotFound;
}

}  // namespace quillard
