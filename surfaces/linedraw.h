// Box-drawing characters in report lines become line fields, which the tag
// interpreter draws as strokes and fills: in Windows-1252 text the bytes of
// the PC character set's box range (179 to 223), in UTF-8 text the box
// drawing and block characters (U+2500 to U+259F).
#pragma once

#include <string>

namespace quillard {

bool ContainsLineDrawChars(const std::string& Line);
std::string ReplaceLineDrawChars(const std::string& Line);

// The PC character set's code (176 to 223) of a box-drawing or block
// character, or 0. Heavy, dashed and rounded lines take the code of the
// plain line; characters with no such line have none.
int LineDrawCodeOf(char32_t Char);
bool ContainsUtf8LineDrawChars(const std::string& Line);
std::string ReplaceUtf8LineDrawChars(const std::string& Line);

}  // namespace quillard
