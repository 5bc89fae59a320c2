// The lexical layer of the markup: attribute look-up in tags and the value
// parsers shared by every tag handler. Every search is linear (lines and tags
// can be megabytes long): substring look-ups go through TTextMatcher.
#include "engine/markup.h"

#include "base/textencoding.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <string_view>
#include <vector>

namespace quillard {

namespace {

COLORREF SwapRedBlue(uint32_t v)
{
    return ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
}

COLORREF ToGrey(COLORREF c)
{
    const uint32_t g = ((c & 0xFFu) + ((c >> 8) & 0xFFu) + ((c >> 16) & 0xFFu)) / 3;
    return g * 0x010101u;
}

// A colour name in both modes; a monochrome value of -1 means the name has
// no grey and the caller's default applies.
struct NamedColour {
    const char* Name;
    COLORREF Colour;
    int64_t Grey;
};

constexpr NamedColour kColourNames[] = {
    {"AQUA", 0xFFFF00, 0xC0C0C0},   {"CYAN", 0xFFFF00, -1},        {"LTBLUE", 0xFFFF00, -1},
    {"BLACK", 0x000000, 0x000000},  {"BLUE", 0xFF0000, 0x000000},  {"DKGRAY", 0x808080, 0x808080},
    {"GRAY", 0x808080, 0x808080},   {"FUCHSIA", 0xFF00FF, 0x808080}, {"MAGENTA", 0xFF00FF, -1},
    {"GREEN", 0x008000, 0x808080},  {"LIME", 0x00FF00, 0xC0C0C0},  {"LTGREEN", 0x00FF00, -1},
    {"LTGRAY", 0xC0C0C0, 0xC0C0C0}, {"SILVER", 0xC0C0C0, 0x808080}, {"MAROON", 0x000080, 0x808080},
    {"NAVY", 0x800000, 0x000000},   {"OLIVE", 0x008080, 0x808080}, {"PURPLE", 0x800080, 0x808080},
    {"RED", 0x0000FF, 0x808080},    {"TEAL", 0x808000, 0x808080},  {"WHITE", 0xFFFFFF, 0xFFFFFF},
    {"YELLOW", 0x00FFFF, 0xC0C0C0},
};

struct ColourWord {
    COLORREF Colour;
    const char* Name;
};

constexpr ColourWord kColourWords[] = {
    {0x000000, "BLACK"},  {0x000080, "MAROON"}, {0x0000FF, "RED"},    {0x008000, "GREEN"},
    {0x008080, "OLIVE"},  {0x00FF00, "LIME"},   {0x00FFFF, "YELLOW"}, {0x800000, "NAVY"},
    {0x800080, "PURPLE"}, {0x808000, "TEAL"},   {0x808080, "GRAY"},   {0xC0C0C0, "LTGRAY"},
    {0xFF0000, "BLUE"},   {0xFF00FF, "MAGENTA"}, {0xFFFF00, "AQUA"},  {0xFFFFFF, "WHITE"},
};

// Compass and direction words, in tenths of a degree counter-clockwise from east.
struct DirectionWord {
    const char* Name;
    int Tenths;
};

constexpr DirectionWord kDirections[] = {
    {"RIGHT", 0},     {"E", 0},      {"EAST", 0},   {"ENE", 225},  {"NE", 450},
    {"NNE", 675},     {"UP", 900},   {"N", 900},    {"NORTH", 900}, {"NNW", 1125},
    {"NW", 1350},     {"WNW", 1575}, {"LEFT", 1800}, {"W", 1800},  {"WEST", 1800},
    {"WSW", 2025},    {"SW", 2250},  {"SSW", 2475}, {"DOWN", 2700}, {"S", 2700},
    {"SOUTH", 2700},  {"SSE", 2925}, {"SE", 3150}, {"ESE", 3375},
};

// Character entity names for the codes 160 to 255, in code order.
constexpr const char* kLatin1Entities[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
    "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
    "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

double DegreesToRadians(double degrees)
{
    return degrees * 2.0 * std::numbers::pi / 360.0;
}

}  // namespace


// ---- tag helpers ----------------------------------------------------------

int FindAttributeName(const std::string& Tag, const std::string& Name)
{
    // The first " NAME" that starts outside a quoted region. Quote openers are
    // never spaces, so a match can only start on an unquoted position.
    if (Tag.size() <= 4096) {
        // Tags are short: a direct scan, without building a matcher, is what
        // the page pass can afford for every attribute of every tag.
        char closer = 0;
        const size_t n = Name.size();
        for (size_t p = 0; p < Tag.size(); ++p) {
            const char c = Tag[p];
            if (closer) {
                if (c == closer)
                    closer = 0;
                continue;
            }
            if (c == '"' || c == '\'')
                closer = c;
            else if (c == '[')
                closer = ']';
            else if (c == ' ' && Tag.size() - p - 1 >= n) {
                size_t i = 0;
                while (i < n && AsciiUpper(Tag[p + 1 + i]) == AsciiUpper(Name[i]))
                    ++i;
                if (i == n)
                    return static_cast<int>(p) + 1;
            }
        }
        return 0;
    }
    const TTextMatcher m(" " + Name, true);
    size_t scanned = 0;  // quote state is known for offsets below this
    char closer = 0;     // closing character of the open quoted region, 0 when none
    bool quotedAtMatch = false;
    size_t found = std::string::npos;
    m.ForEach(Tag, [&](size_t p) {
        for (; scanned <= p; ++scanned) {
            const char c = Tag[scanned];
            if (closer) {
                quotedAtMatch = true;
                if (c == closer)
                    closer = 0;
            } else {
                quotedAtMatch = false;
                if (c == '"' || c == '\'')
                    closer = c;
                else if (c == '[')
                    closer = ']';
            }
        }
        if (quotedAtMatch)
            return true;
        found = p;
        return false;
    });
    if (found == std::string::npos || found >= static_cast<size_t>(std::numeric_limits<int>::max()))
        return 0;
    return static_cast<int>(found) + 1;
}

std::string GetAttribute(const std::string& Tag, const std::string& NameList)
{
    std::string result;

    // One-value tags such as {TRAY=LOWER}: everything after the first "=",
    // without the closing brace, stripped of spaces and quotes.
    if (IsBlank(NameList)) {
        const size_t eq = Tag.find('=');
        if (eq == std::string::npos || eq + 2 > Tag.size())
            return result;
        size_t b = eq + 1;
        size_t e = Tag.size() - 1;
        auto strip = [](char c) { return c == ' ' || c == '"' || c == '\''; };
        while (b < e && strip(Tag[b]))
            ++b;
        while (e > b && strip(Tag[e - 1]))
            --e;
        return Tag.substr(b, e - b);
    }

    size_t start = 0;
    while (IsBlank(result) && start < NameList.size()) {
        size_t sep = NameList.find_first_of(";,", start);
        if (sep == std::string::npos)
            sep = NameList.size();
        const std::string name = NameList.substr(start, sep - start);
        start = sep + 1;
        if (name.empty())
            continue;

        const int pos = FindAttributeName(Tag, name);
        if (pos == 0)
            continue;
        // Only the first occurrence counts: when it is merely the start of a
        // longer word ({X LEFTX=1 LEFT=2}), the attribute is taken as absent.
        const size_t after = static_cast<size_t>(pos) + name.size();  // 0-based offset past the name
        if (after >= Tag.size())
            continue;
        const char next = Tag[after];
        if (next != ' ' && next != '=' && next != '}')
            continue;

        // The next "=" anywhere after the name: a flag followed by another
        // attribute takes that attribute's value, which is why flags are
        // tested as not blank.
        const size_t eq = Tag.find('=', static_cast<size_t>(pos));
        if (eq == std::string::npos) {
            result = "TRUE";
            continue;
        }

        size_t b = eq + 1;
        size_t e = Tag.size();
        while (e > b && IsTrimByte(Tag[e - 1]))
            --e;
        while (b < e && IsTrimByte(Tag[b]))
            ++b;
        if (b >= e) {
            result.clear();
            continue;
        }
        char delim = ' ';
        const char first = Tag[b];
        if (first == ' ' || first == '"' || first == '\'') {
            delim = first;
            ++b;
        } else if (first == '[') {
            delim = ']';
            ++b;
        }
        size_t v = b;
        while (v < e && Tag[v] != delim && Tag[v] != '}')
            ++v;
        result = Tag.substr(b, v - b);
    }
    return result;
}

std::string TagAt(const std::string& Line, int Pos)
{
    const size_t from = Pos <= 1 ? 0 : static_cast<size_t>(Pos) - 1;
    if (from >= Line.size())
        return {};
    const size_t close = Line.find('}', from);
    const size_t len = close == std::string::npos ? std::string::npos : close - from + 1;
    return Trim(Line.substr(from, len));
}

std::string DeleteTagAt(const std::string& Line, int Pos)
{
    const size_t q = Line.find('}');
    if (q == std::string::npos)
        return Line;
    // q is 0-based, so the brace's 1-based position q + 1 must lie after Pos.
    if (static_cast<int64_t>(q) + 1 <= static_cast<int64_t>(Pos))
        return Line;
    const size_t keep = Pos <= 1 ? 0 : static_cast<size_t>(Pos) - 1;
    return Line.substr(0, keep) + Line.substr(q + 1);
}


COLORREF ParseColor(const std::string& s, COLORREF Default, bool ColourMode)
{
    const std::string t = UpperCase(Trim(s));
    if (t.empty())
        return Default;

    if (IsAsciiDigit(t[0]) || t[0] == '#') {
        COLORREF c;
        if (IsAsciiDigit(t[0])) {
            // A decimal number is a COLORREF as it stands.
            c = static_cast<COLORREF>(ParseIntPrefix(s, 0));
        } else {
            int64_t rgb;
            try {
                rgb = ParseHex(s, 0);
            } catch (const EConvertError&) {
                return Default;
            }
            c = SwapRedBlue(static_cast<uint32_t>(rgb));  // #RRGGBB, bits past 24 dropped
        }
        return ColourMode ? c : ToGrey(c);
    }

    for (const NamedColour& n : kColourNames) {
        if (t == n.Name) {
            if (ColourMode)
                return n.Colour;
            return n.Grey < 0 ? Default : static_cast<COLORREF>(n.Grey);
        }
    }
    return Default;
}

std::string ColorName(COLORREF c)
{
    for (const ColourWord& w : kColourWords)
        if (w.Colour == c)
            return w.Name;
    return "#" + IntToHexPad(SwapRedBlue(c), 6);
}

int ParseBrushStyle(const std::string& s, int Default)
{
    const std::string u = UpperCase(s);
    const char first = u.empty() ? '\0' : u[0];
    if (u == "SOLID")
        return 0;
    if (u == "CLEAR" || u == "NONE" || u == "TRANSPARENT")
        return 1;
    if (u == "CROSS" || u == "HATCH" || first == '+')
        return 6;
    if (u == "DIAGCROSS" || u == "CROSSHATCH" || first == 'X')
        return 7;
    if (u == "HORIZONTAL" || u == "HORIZ" || first == '-')
        return 2;
    if (u == "VERTICAL" || u == "VERT" || first == '|')
        return 3;
    if (u == "BDIAGONAL" || u == "BACK" || first == '/')
        return 5;
    if (u == "FDIAGONAL" || u == "FORWARD" || first == '\\')
        return 4;
    return Default;
}

double ParseAngle(const std::string& s)
{
    const std::string t = UpperCase(Trim(s));
    if (!t.empty() && (t[0] == '-' || IsAsciiDigit(t[0]))) {
        size_t n = 0;
        while (n < t.size() && (t[n] == '-' || IsAsciiDigit(t[n])))
            ++n;
        const std::string_view text = std::string_view(t).substr(0, n);
        const std::string suffix = Trim(t.substr(n));

        // Only an optional leading minus followed by digits is a number.
        const bool negative = text[0] == '-';
        const std::string_view digits = text.substr(negative ? 1 : 0);
        int64_t value = 0;
        const bool valid = !digits.empty() && digits.find('-') == std::string_view::npos &&
                           AccumulateDigits(digits, value) &&
                           value <= (negative ? kInt32Max + 1 : kInt32Max);
        if (!valid)
            throw EConvertError("'" + LeftStr(std::string(text), 40) + "' is not a valid integer value");
        if (negative)
            value = -value;

        if (suffix == "R" || suffix == "RAD" || suffix == "PIR" || suffix == "PIRAD") {
            if (value < 0)
                value += 2;
            return static_cast<double>(value) * std::numbers::pi;
        }
        if (value < 0)
            value += 360;
        return DegreesToRadians(static_cast<double>(value));
    }

    for (const DirectionWord& d : kDirections)
        if (t == d.Name)
            return DegreesToRadians(d.Tenths / 10.0);
    return 0.0;
}

std::string EntityText(const std::string& name)
{
    if (name.empty())
        return {};
    if (IsAsciiDigit(name[0])) {
        const int32_t n = ParseIntPrefix(name, -1);
        if (n == 9)
            return std::string(8, ' ');
        if (n >= 32 && n <= 255)
            return std::string(1, static_cast<char>(n));
        return {};
    }
    if (name == "amp")
        return "&";
    if (name == "lt")
        return "<";
    if (name == "gt")
        return ">";
    if (name == "quot")
        return "\"";
    if (name == "lbrace")
        return "{";
    if (name == "rbrace")
        return "}";
    for (int i = 0; i < 96; ++i)
        if (name == kLatin1Entities[i])
            return std::string(1, static_cast<char>(160 + i));
    return {};
}

std::string Utf8EntityText(const std::string& name)
{
    // Numbers name Unicode characters (128 to 159 are taken as
    // Windows-1252, as web pages use them); names give what they give in
    // Windows-1252, as UTF-8.
    if (!name.empty() && IsAsciiDigit(name[0])) {
        const int32_t n = ParseIntPrefix(name, -1);
        if (n == 9)
            return std::string(8, ' ');
        std::string out;
        if (n >= 32 && n <= 0x10FFFF && !(n >= 0xD800 && n <= 0xDFFF))
            AppendUtf8(out, n >= 128 && n <= 159 ? Cp1252ToUnicode(static_cast<unsigned char>(n)) : char32_t(n));
        return out;
    }
    return Cp1252ToUtf8(EntityText(name));
}

std::string DecodeEntities(const std::string& s, bool Utf8)
{
    if (s.find('&') == std::string::npos)
        return s;
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '&') {
            out += s[i++];
            continue;
        }
        // Read the entity: ";" or the end of the text closes it, a space or
        // another "&" means this "&" is plain text. Only letters and digits
        // make up the name; anything else inside is skipped.
        std::string name;
        size_t j = i + 1;
        bool entity = false;
        while (true) {
            if (j >= s.size()) {
                entity = true;
                break;
            }
            const char c = s[j];
            if (c == ';') {
                ++j;
                entity = true;
                break;
            }
            if (c == ' ' || c == '&')
                break;
            if (IsAsciiAlnum(c))
                name += c;
            ++j;
        }
        if (entity) {
            if (Utf8)
                out += Utf8EntityText(name);
            else
                out += EntityText(name);
            i = j;
        } else {
            out += '&';
            ++i;
        }
    }
    return out;
}

std::string RomanNumeral(int n)
{
    std::string r;
    if (n <= 0)
        return r;
    r.append(static_cast<size_t>(n / 1000), 'M');
    n %= 1000;
    // There is no D: 400 is CCCC and 500 is CCCCC, but 800-999 use CCM and CM.
    if (n >= 900) {
        r += "CM";
        n -= 900;
    } else if (n >= 800) {
        r += "CCM";
        n -= 800;
    }
    r.append(static_cast<size_t>(n / 100), 'C');
    n %= 100;
    if (n >= 90) {
        r += "XC";
        n -= 90;
    }
    if (n >= 50) {
        r += 'L';
        n -= 50;
    }
    r.append(static_cast<size_t>(n / 10), 'X');
    n %= 10;
    static const char* const kUnits[] = {"", "I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX"};
    r += kUnits[n];
    return r;
}

std::string AlphaNumeral(int n)
{
    // Base-26 digits of n - 1; anything below 1 counts as 1.
    int64_t v = n < 1 ? 0 : static_cast<int64_t>(n) - 1;
    std::string r;
    do {
        r.insert(r.begin(), static_cast<char>('a' + v % 26));
        v /= 26;
    } while (v > 0);
    return r;
}

int HighlightMatches(std::string& Line, const std::string& Find, bool CaseSensitive,
                     const std::string& MatchSuffix, const std::string& MatchPrefix,
                     const std::string& LineSuffix, const std::string& LinePrefix, bool Utf8)
{
    // In UTF-8 text letters of any alphabet match their other case: both
    // sides are folded, keeping every position.
    const bool fold = Utf8 && !CaseSensitive;
    const TTextMatcher m(fold ? FoldUtf8Case(Find) : Find, !CaseSensitive);
    std::vector<bool> matchAt;
    auto continuation = [&](size_t p) {
        return p < Line.size() && (static_cast<unsigned char>(Line[p]) & 0xC0) == 0x80;
    };
    m.ForEach(fold ? FoldUtf8Case(Line) : Line, [&](size_t p) {
        // In UTF-8 a match starts and ends between characters.
        if (Utf8 && (continuation(p) || continuation(p + m.Length())))
            return true;
        if (matchAt.empty())
            matchAt.assign(Line.size(), false);
        matchAt[p] = true;
        return true;
    });
    if (matchAt.empty())
        return 0;

    std::string out;
    out.reserve(Line.size() + 64);
    int count = 0;
    int64_t depth = 0;
    bool inEntity = false;
    size_t i = 0;
    while (i < Line.size()) {
        const char c = Line[i];
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            --depth;
        } else if (c == '&' &&
                   std::string_view(Line).substr(i, 10).find(';') != std::string_view::npos) {
            // An "&" with a ";" among its next ten characters opens an entity.
            inEntity = true;
        } else if (c == ';' && inEntity) {
            inEntity = false;
        } else if (depth == 0 && !inEntity && matchAt[i]) {
            out += MatchPrefix;
            out.append(Line, i, m.Length());
            out += MatchSuffix;
            if (count < std::numeric_limits<int>::max())
                ++count;
            i += m.Length();
            continue;
        }
        out += c;
        ++i;
    }
    if (count > 0)
        Line = LinePrefix + out + LineSuffix;
    return count;
}

namespace {

// The names of the tags the report reader acts on, the header's and the
// legacy set-up tags among them; "/" closes the ones that take it.
constexpr std::string_view KnownTagNames[] = {
    "PAGE", "CPI", "PROP", "GOTO", "GOBY", "CPI10", "10CPI", "CPI12", "12CPI", "CPI17", "17CPI", "B", "I", "U",
    "STRIKE", "SUPER", "SUP", "SUPERSCRIPT", "SUB", "SUBSCRIPT", "SPAN", "INIT", "DIV", "HEADER", "FOOTER", "LPP",
    "LPI", "FONT", "ALIGN", "PEN", "FIELD", "LINE", "LINETO", "RECTANGLE", "RECT", "CIRCLE", "OVAL", "ELLIPSE", "ARC",
    "PIE", "POLYGON", "POLY", "HIGHLIGHTLINE", "HIGHLIGHT", "IMAGE", "IMG", "LANDSCAPE", "PORTRAIT", "MONO",
    "MONOCHROME", "TRAY", "PAPERTRAY", "FONTSIZE10", "FONTSIZE12", "FONTSIZE17", "CHR", "RESET",
};

}  // namespace

bool IsKnownTagAt(std::string_view Text, size_t Brace)
{
    // A tag quoted as code (`{B}`), as Markdown and other documentation
    // quote them, is about markup, not markup; and ${PAGE} is a variable of
    // a shell script or a template.
    if (Brace >= Text.size() || Text[Brace] != '{' || (Brace > 0 && (Text[Brace - 1] == '`' || Text[Brace - 1] == '$')))
        return false;
    size_t i = Brace + 1;
    if (i < Text.size() && Text[i] == '/')
        ++i;
    const size_t start = i;
    while (i < Text.size() && i - start <= 16 &&
           ((Text[i] >= 'A' && Text[i] <= 'Z') || (Text[i] >= 'a' && Text[i] <= 'z') || (Text[i] >= '0' && Text[i] <= '9')))
        ++i;
    if (i == start || i >= Text.size() || !(Text[i] == '}' || Text[i] == ' ' || Text[i] == '\t' || Text[i] == '='))
        return false;
    std::string name(Text.substr(start, i - start));
    const std::string upper = UpperCase(name);
    if (name != upper && upper != "INIT")
        return false;
    for (std::string_view known : KnownTagNames)
        if (upper == known)
            return true;
    return false;
}

}  // namespace quillard
