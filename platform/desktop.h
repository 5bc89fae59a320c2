// Handing files to the desktop's programs: the program the desktop opens a
// file with (PDF viewer, picture program, text editor) and the user's own
// text editor.
#pragma once

#include <string>

namespace quillard {

// Opens Path with the desktop's program for its type; false when the
// desktop has none or would not start it.
bool OpenWithDesktopProgram(const std::string& Path);

// Starts the user's text editor on Path: $VISUAL, then $EDITOR (each a
// command line of its own). The editor runs on its own; nobody waits. False
// when neither names a program that starts.
bool StartUserTextEditor(const std::string& Path);

}  // namespace quillard
