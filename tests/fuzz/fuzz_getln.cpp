// The line reader over arbitrary bytes: the lines and their terminators,
// put back together, must give the file byte for byte; a line holds no
// terminator byte, a terminator is one or two of CR, LF and FF, and only the
// last line may end without one.
//
// Input: one byte choosing a padding of 'x' bytes in front of the rest (odd
// values put the rest across the 64 KiB block edge of the file buffer), then
// the bytes of the file.
#include "tests/fuzz/fuzzutil.h"

#include "base/bytefile.h"
#include "engine/renderer.h"

#include <cstdio>
#include <cstdlib>

using namespace quillard;

namespace {

tRenderer* Renderer = nullptr;

[[noreturn]] void Fail(const char* What)
{
    std::fprintf(stderr, "fuzz_getln: %s\n", What);
    std::abort();
}

bool IsTerminator(char c) { return c == '\r' || c == '\n' || c == '\f'; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    Renderer = new tRenderer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 1)
        return 0;
    std::string bytes;
    if (Data[0] & 1)
        bytes.assign(65536 - 128 + (Data[0] >> 1), 'x');
    bytes.append(reinterpret_cast<const char*>(Data + 1), Size - 1);
    const std::string& path = fuzz::WriteScratch(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

    TByteFile f;
    f.Open(path);
    std::string joined, line, end;
    while (!f.Eof()) {
        const int64_t before = f.Position();
        Renderer->GetLn(f, line, end);
        if (f.Position() <= before)
            Fail("GetLn did not move on");
        if (f.Position() - before != int64_t(line.size() + end.size()))
            Fail("GetLn moved by another length than it returned");
        for (char c : line)
            if (IsTerminator(c))
                Fail("a line holds a terminator byte");
        if (end.size() > 2)
            Fail("a terminator longer than two bytes");
        for (char c : end)
            if (!IsTerminator(c))
                Fail("a terminator holds another byte");
        if (end.empty() && !f.Eof())
            Fail("a line without terminator before the end of the file");
        joined += line;
        joined += end;
    }
    if (joined != bytes)
        Fail("the lines do not give the file back");
    if (fuzz::QuietServices().Messages != 0)
        Fail("GetLn reported an error");
    return 0;
}
