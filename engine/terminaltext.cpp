#include "engine/terminaltext.h"

#include "base/strings.h"

#include <cstdio>
#include <vector>

namespace quillard {

namespace {

constexpr char Backspace = '\b';
constexpr char Escape = '\x1b';

// The sixteen colours of the escape sequences, as terminals commonly show
// them (30-37 and 90-97).
const char* const BasicColours[16] = {"#000000", "#AA0000", "#00AA00", "#AA5500", "#0000AA", "#AA00AA",
                                      "#00AAAA", "#AAAAAA", "#555555", "#FF5555", "#55FF55", "#FFFF55",
                                      "#5555FF", "#FF55FF", "#55FFFF", "#FFFFFF"};

std::string Hex(int R, int G, int B)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", R & 0xFF, G & 0xFF, B & 0xFF);
    return buf;
}

// The colour of entry N of the 256-colour palette.
std::string PaletteColour(int N)
{
    if (N < 16)
        return BasicColours[N];
    if (N < 232) {
        const int i = N - 16;
        auto level = [](int v) { return v == 0 ? 0 : 55 + 40 * v; };
        return Hex(level(i / 36), level(i / 6 % 6), level(i % 6));
    }
    const int grey = 8 + 10 * (N - 232);
    return Hex(grey, grey, grey);
}

// The colours a style draws with: the text's and the cell's behind it
// (each "#RRGGBB", or empty for the report's own and none).
struct TCellColours {
    std::string Text, Cell;
    bool operator==(const TCellColours&) const = default;
    bool Any() const { return !Text.empty() || !Cell.empty(); }
};

TCellColours CellColours(const TTerminalStyle& Style)
{
    if (!Style.Reverse)
        return {Style.Colour, Style.Background};
    return {Style.Background.empty() ? "#FFFFFF" : Style.Background, Style.Colour.empty() ? "#000000" : Style.Colour};
}

// Writes the tags that take the style from Now to Want.
void Switch(std::string& Out, TTerminalStyle& Now, const TTerminalStyle& Want)
{
    // Closing goes in the reverse order of opening: colour, underline, bold.
    const TCellColours was = CellColours(Now), will = CellColours(Want);
    const bool colourChanges = was != will;
    if (was.Any() && colourChanges)
        Out += "{/FONT}";
    if (Now.Underline && !Want.Underline)
        Out += "{/U}";
    if (Now.Bold && !Want.Bold)
        Out += "{/B}";
    if (!Now.Bold && Want.Bold)
        Out += "{B}";
    if (!Now.Underline && Want.Underline)
        Out += "{U}";
    if (will.Any() && colourChanges) {
        Out += "{FONT";
        if (!will.Text.empty())
            Out += " COLOR=" + will.Text;
        if (!will.Cell.empty())
            Out += " BGCOLOR=" + will.Cell;
        Out += "}";
    }
    Now = Want;
}

// Applies the parameters of an SGR sequence (ESC [ ... m); background
// colours and reverse video only with Backgrounds.
void ApplySgr(std::string_view Params, TTerminalStyle& Style, bool Backgrounds)
{
    std::vector<int> p;
    int v = -1;
    for (char c : Params) {
        if (c >= '0' && c <= '9') {
            v = (v < 0 ? 0 : v) * 10 + (c - '0');
            if (v > 100000)
                v = 100000;
        } else if (c == ';' || c == ':') {
            p.push_back(v < 0 ? 0 : v);
            v = -1;
        }
    }
    p.push_back(v < 0 ? 0 : v);
    for (size_t i = 0; i < p.size(); ++i) {
        const int n = p[i];
        if (n == 0) {
            Style = TTerminalStyle{};
        } else if (n == 1) {
            Style.Bold = true;
        } else if (n == 22) {
            Style.Bold = false;
        } else if (n == 4) {
            Style.Underline = true;
        } else if (n == 24) {
            Style.Underline = false;
        } else if (n >= 30 && n <= 37) {
            Style.Colour = BasicColours[n - 30];
        } else if (n >= 90 && n <= 97) {
            Style.Colour = BasicColours[n - 90 + 8];
        } else if (n == 39) {
            Style.Colour.clear();
        } else if (Backgrounds && n == 7) {
            Style.Reverse = true;
        } else if (Backgrounds && n == 27) {
            Style.Reverse = false;
        } else if (Backgrounds && n >= 40 && n <= 47) {
            Style.Background = BasicColours[n - 40];
        } else if (Backgrounds && n >= 100 && n <= 107) {
            Style.Background = BasicColours[n - 100 + 8];
        } else if (Backgrounds && n == 49) {
            Style.Background.clear();
        } else if (n == 38 || n == 48) {
            // Extended colours: 5;n or 2;r;g;b.
            std::string colour;
            if (i + 2 < p.size() && p[i + 1] == 5) {
                colour = PaletteColour(p[i + 2] & 0xFF);
                i += 2;
            } else if (i + 4 < p.size() && p[i + 1] == 2) {
                colour = Hex(p[i + 2], p[i + 3], p[i + 4]);
                i += 4;
            } else {
                break;
            }
            if (n == 38)
                Style.Colour = colour;
            else if (Backgrounds)
                Style.Background = colour;
        }
    }
}

// A struck character as text of a run: braces and ampersands as entities.
void PutText(std::string& Out, char C)
{
    if (C == '{')
        Out += "&lbrace;";
    else if (C == '}')
        Out += "&rbrace;";
    else if (C == '&')
        Out += "&amp;";
    else
        Out += C;
}

}  // namespace

bool HasTerminalControls(const std::string& Line)
{
    return HoldsAnyOf(Line, std::string_view("\b\x1b", 2));
}

namespace {

// Whether ESC C opens a string sequence (OSC, DCS, SOS, PM, APC).
bool IsStringIntroducer(char C) { return C == ']' || C == 'P' || C == 'X' || C == '^' || C == '_'; }

// The end of a string sequence whose text starts at From: after the BEL or
// ESC \ that ends it, or at another ESC, which starts the next sequence, or
// at the end of the line when nothing ends it.
size_t StringEnd(std::string_view Line, size_t From)
{
    for (size_t j = From; j < Line.size(); ++j) {
        if (Line[j] == '\a')
            return j + 1;
        if (Line[j] == Escape)
            return j + 1 < Line.size() && Line[j + 1] == '\\' ? j + 2 : j;
    }
    return Line.size();
}

// The end of the escape sequence that starts at At (an ESC): the index after
// its last byte. A control sequence is ESC [, parameters, intermediates and a
// final byte, and one cut off at the end of the line goes too; with Strings
// a string sequence goes whole; any other is intermediates and one final
// byte (ESC ( B, ESC =, ESC M ...), and a lone escape goes too. Sgr is set to
// the parameters of an SGR sequence (ESC [ ... m), and left alone otherwise.
size_t SequenceEnd(std::string_view Line, size_t At, bool Strings, std::string_view& Sgr)
{
    const size_t n = Line.size();
    auto within = [&](size_t j, unsigned char Low, unsigned char High) {
        return j < n && static_cast<unsigned char>(Line[j]) >= Low && static_cast<unsigned char>(Line[j]) <= High;
    };
    size_t j = At + 1;
    if (Strings && j < n && IsStringIntroducer(Line[j]))
        return StringEnd(Line, j + 1);
    if (j < n && Line[j] == '[') {
        j = At + 2;
        while (within(j, 0x20, 0x3F))
            ++j;
        const std::string_view params = Line.substr(At + 2, j - At - 2);
        while (within(j, 0x20, 0x2F))
            ++j;
        if (j < n && Line[j] == 'm')
            Sgr = params;
        return j < n ? j + 1 : n;
    }
    while (within(j, 0x20, 0x2F))
        ++j;
    return within(j, 0x30, 0x7E) ? j + 1 : j;
}

// The conversion; with PlainText (a line of a plain text file) every
// character of the line is text, the ones not struck over too, string
// sequences go whole, and backgrounds and reverse video are drawn.
std::string ConvertTerminalText(const std::string& Line, TTerminalStyle& Style, bool PlainText)
{
    std::string out;
    out.reserve(Line.size() + 16);
    // What the escape sequences say, and what the tags written so far have
    // set: overstrike adds bold or underline for one character.
    TTerminalStyle said = Style, written = Style;
    auto putCharacter = [&](char C) {
        if (PlainText)
            PutText(out, C);
        else
            out += C;
    };
    const size_t n = Line.size();
    size_t i = 0;
    while (i < n) {
        const char c = Line[i];
        if (c == Escape) {
            std::string_view sgr;
            const size_t end = SequenceEnd(Line, i, PlainText, sgr);
            if (sgr.data() != nullptr)
                ApplySgr(sgr, said, PlainText);
            i = end;
            continue;
        }
        // A chain of characters struck over each other: c BS c2 BS c3 ...
        size_t j = i;
        std::string struck(1, c);
        while (j + 2 < n && Line[j + 1] == Backspace && Line[j + 2] != Backspace && Line[j + 2] != Escape) {
            struck += Line[j + 2];
            j += 2;
        }
        TTerminalStyle want = said;
        char shown = c;
        if (struck.size() > 1) {
            bool bold = false, underline = false;
            shown = '_';
            for (size_t a = 0; a < struck.size(); ++a) {
                if (struck[a] == '_') {
                    continue;
                }
                if (shown != '_' && shown == struck[a])
                    bold = true;
                shown = struck[a];
            }
            const bool anyUnderscore = struck.find('_') != std::string::npos;
            if (shown == '_') {
                bold = struck.size() > 1;  // underscores over underscores
            } else {
                underline = anyUnderscore;
                // Every other character must be the one shown or an
                // underscore; otherwise this is no overstrike.
                for (char s : struck)
                    if (s != '_' && s != shown)
                        bold = underline = false;
                if (!bold && !underline) {
                    // Left as it is: the character, and the backspace with it.
                    Switch(out, written, said);
                    putCharacter(c);
                    ++i;
                    continue;
                }
            }
            want.Bold = want.Bold || bold;
            want.Underline = want.Underline || underline;
            Switch(out, written, want);
            PutText(out, shown);
            i = j + 1;
            continue;
        }
        Switch(out, written, want);
        putCharacter(c);
        ++i;
    }
    // What the sequences said carries on into the next line; a bold or
    // underline made by overstrike does not.
    Switch(out, written, said);
    Style = said;
    return out;
}

}  // namespace

std::string TerminalTextToMarkup(const std::string& Line, TTerminalStyle& Style)
{
    return ConvertTerminalText(Line, Style, false);
}

std::string PlainTextToMarkup(const std::string& Line, TTerminalStyle& Style)
{
    if (HasTerminalControls(Line))
        return ConvertTerminalText(Line, Style, true);
    if (!HoldsAnyOf(Line, "{}&"))
        return Line;
    std::string out;
    out.reserve(Line.size() + 16);
    for (char c : Line)
        PutText(out, c);
    return out;
}

size_t PlainTextEscapeEnd(std::string_view Line, size_t At)
{
    std::string_view sgr;
    return SequenceEnd(Line, At, true, sgr);
}

std::string ExpandTabsToColumns(const std::string& Line)
{
    std::string out;
    out.reserve(Line.size() + 16);
    size_t column = 0;
    bool inTag = false;
    for (char c : Line) {
        if (inTag) {
            out += c;
            inTag = c != '}';
        } else if (c == '{') {
            out += c;
            inTag = true;
        } else if (c == '\t') {
            const size_t spaces = 8 - column % 8;
            out.append(spaces, ' ');
            column += spaces;
        } else {
            out += c;
            // UTF-8 continuation bytes are part of the character before
            if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
                ++column;
        }
    }
    return out;
}

}  // namespace quillard
