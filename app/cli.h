// The headless command line: every output without a display.
#pragma once

#include <string>
#include <vector>

namespace quillard {

struct TCommandLine {
    enum class TMode { None, Help, Version, Png, CountPages, Pdf } Mode = TMode::None;
    std::string Output;
    std::string Report;
    int Page = 1;
    int Zoom = 100;
    int FirstPage = 0, LastPage = 0;  // --pages A-B; 0 = all pages
    std::string Error;  // set when the arguments cannot be used
};

TCommandLine ParseCommandLine(const std::vector<std::string>& Args);
int RunCommandLine(int argc, char** argv);

}  // namespace quillard
