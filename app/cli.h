// The command line: the headless options that make every output without a
// display, or else the windowed program with its switches.
#pragma once

#include <string>
#include <vector>

namespace quillard {

struct TCommandLine {
    enum class TMode { None, Help, Version, Png, CountPages, Gui } Mode = TMode::None;
    std::string Output;
    std::string Report;
    int Page = 1;
    int Zoom = 100;
    std::string Error;  // set when the arguments cannot be used
};

TCommandLine ParseCommandLine(const std::vector<std::string>& Args);
int RunCommandLine(int argc, char** argv);

}  // namespace quillard
