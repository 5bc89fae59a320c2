// The windowed program: the entry that runs when the command line names no
// headless option.
#pragma once

#include <string>
#include <vector>

namespace quillard {

// Params: the command-line parameters without the program name. Returns the
// program's exit code.
int RunGui(char* Argv0, const std::vector<std::string>& Params);

}  // namespace quillard
