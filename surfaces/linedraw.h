// Box-drawing bytes of the PC character set (179 to 223) in report lines
// become line fields, which the tag interpreter draws as strokes.
#pragma once

#include <string>

namespace quillard {

bool ContainsLineDrawChars(const std::string& Line);
std::string ReplaceLineDrawChars(const std::string& Line);

}  // namespace quillard
