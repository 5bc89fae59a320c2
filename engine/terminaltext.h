// Text written for terminals and line printers, as markup: backspace
// overstrike (a character struck twice is bold, struck with an underscore is
// underlined, as man pages and line-printer output make them) and the ANSI
// escape sequences that set bold, underline and colour, and in plain text
// files also background colours and reverse video. Other escape sequences
// are dropped, never drawn.
#pragma once

#include <string>
#include <string_view>

namespace quillard {

// What the escape sequences of the lines so far have switched on; a line
// starts with the style the line before left.
struct TTerminalStyle {
    bool Bold = false;
    bool Underline = false;
    std::string Colour;  // "#RRGGBB", or empty for the report's own colour
    // Plain text files only: the colour of the cell behind the text
    // ("#RRGGBB", or empty for none), and reverse video, which draws the
    // text in the cell's colour (white for none) on a cell in the text's
    // colour (black for the report's own).
    std::string Background;
    bool Reverse = false;
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
// (a character entity); overstrike and escape sequences as above, and also
// background colours (SGR 40-47, 100-107, 48;5;n, 48;2;r;g;b, 49) and
// reverse video (7, 27), which write {FONT ... BGCOLOR=...}: a filled cell
// behind the text. The string sequences (OSC ESC ], DCS ESC P, SOS ESC X,
// PM ESC ^, APC ESC _) go whole, up to a BEL or ESC \ or the line's end.
std::string PlainTextToMarkup(const std::string& Line, TTerminalStyle& Style);

// Where the escape sequence that starts at At (an ESC) in a line of a plain
// text file ends, as PlainTextToMarkup reads it: the index after its last
// byte. For laying out such a line, whose sequences take no room.
size_t PlainTextEscapeEnd(std::string_view Line, size_t At);

// Line with each tab outside the tags replaced by the spaces up to the next
// eighth column, counting the characters of its text from column 0. For
// centred and right-aligned lines, which have no tab stops.
std::string ExpandTabsToColumns(const std::string& Line);

}  // namespace quillard
