// Text written for terminals and line printers, as markup: backspace
// overstrike (a character struck twice is bold, struck with an underscore is
// underlined, as man pages and line-printer output make them) and the ANSI
// escape sequences that set bold, underline and colour. Other escape
// sequences are dropped, never drawn.
#pragma once

#include <string>

namespace quillard {

// What the escape sequences of the lines so far have switched on; a line
// starts with the style the line before left.
struct TTerminalStyle {
    bool Bold = false;
    bool Underline = false;
    std::string Colour;  // "#RRGGBB", or empty for the report's own colour
};

// Whether Line holds a backspace or an escape character.
bool HasTerminalControls(const std::string& Line);

// Line with its overstruck characters and escape sequences turned into the
// tags {B}, {U} and {FONT COLOR=...} and their closing tags. A backspace that
// strikes nothing (at the start or end of the line, or between two different
// characters neither of which is an underscore) stays as it is. A brace that
// is struck over is written as a character entity, so that it stays text.
std::string TerminalTextToMarkup(const std::string& Line, TTerminalStyle& Style);

// A line of a plain text file as markup: every brace and ampersand is text
// (a character entity); overstrike and escape sequences as above.
std::string PlainTextToMarkup(const std::string& Line, TTerminalStyle& Style);

// Line with each tab outside the tags replaced by the spaces up to the next
// eighth column, counting the characters of its text from column 0. For
// centred and right-aligned lines, which have no tab stops.
std::string ExpandTabsToColumns(const std::string& Line);

}  // namespace quillard
