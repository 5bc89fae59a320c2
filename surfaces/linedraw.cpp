#include "surfaces/linedraw.h"

#include "base/textencoding.h"

namespace quillard {

namespace {
bool IsLineDrawByte(char c)
{
    auto b = static_cast<unsigned char>(c);
    return b >= 179 && b <= 223;
}
}  // namespace

bool ContainsLineDrawChars(const std::string& Line)
{
    for (char c : Line)
        if (IsLineDrawByte(c))
            return true;
    return false;
}

std::string ReplaceLineDrawChars(const std::string& Line)
{
    // The inserted tags hold no box-drawing byte, so one left-to-right scan
    // gives the same text as replacing each byte value in turn.
    std::string out;
    out.reserve(Line.size() + 32);
    for (char c : Line) {
        if (IsLineDrawByte(c)) {
            out += "{FIELD CODE=\"LINE\" CHAR=\"#";
            out += std::to_string(static_cast<unsigned char>(c));
            out += "\"}";
        } else {
            out += c;
        }
    }
    return out;
}

int LineDrawCodeOf(char32_t C)
{
    if (C < 0x2500 || C > 0x259F)
        return 0;
    // The characters of the PC set itself.
    for (int b = 176; b <= 223; ++b)
        if (Cp437ToUnicode(static_cast<unsigned char>(b)) == C)
            return b;
    struct TRange {
        char32_t From, To;
        int Code;
    };
    // Heavy and mixed-weight lines, dashes and rounded corners as the plain
    // line of the same shape.
    static constexpr TRange Like[] = {
        {0x2501, 0x2501, 196}, {0x2503, 0x2503, 179}, {0x2504, 0x2505, 196}, {0x2506, 0x2507, 179},
        {0x2508, 0x2509, 196}, {0x250A, 0x250B, 179}, {0x250D, 0x250F, 218}, {0x2511, 0x2513, 191},
        {0x2515, 0x2517, 192}, {0x2519, 0x251B, 217}, {0x251D, 0x2523, 195}, {0x2525, 0x252B, 180},
        {0x252D, 0x2533, 194}, {0x2535, 0x253B, 193}, {0x253D, 0x254B, 197}, {0x254C, 0x254D, 196},
        {0x254E, 0x254F, 179}, {0x256D, 0x256D, 218}, {0x256E, 0x256E, 191}, {0x256F, 0x256F, 217},
        {0x2570, 0x2570, 192}, {0x257C, 0x257C, 196}, {0x257D, 0x257D, 179}, {0x257E, 0x257E, 196},
        {0x257F, 0x257F, 179},
    };
    for (const TRange& r : Like)
        if (C >= r.From && C <= r.To)
            return r.Code;
    return 0;
}

namespace {
// Box drawing and block characters are U+2500 to U+259F: E2 94 80 to E2 96 9F.
bool MayBeLineDrawSequence(const std::string& Line, size_t I)
{
    return I + 2 < Line.size() && static_cast<unsigned char>(Line[I]) == 0xE2 &&
           static_cast<unsigned char>(Line[I + 1]) >= 0x94 && static_cast<unsigned char>(Line[I + 1]) <= 0x96;
}
}  // namespace

bool ContainsUtf8LineDrawChars(const std::string& Line)
{
    for (size_t i = Line.find('\xE2'); i != std::string::npos; i = Line.find('\xE2', i + 1)) {
        if (!MayBeLineDrawSequence(Line, i))
            continue;
        size_t j = i;
        if (LineDrawCodeOf(DecodeUtf8(Line, j)) != 0)
            return true;
    }
    return false;
}

std::string ReplaceUtf8LineDrawChars(const std::string& Line)
{
    std::string out;
    out.reserve(Line.size() + 32);
    size_t i = 0;
    while (i < Line.size()) {
        if (MayBeLineDrawSequence(Line, i)) {
            size_t j = i;
            const char32_t ch = DecodeUtf8(Line, j);
            const int code = LineDrawCodeOf(ch);
            if (code != 0) {
                out += "{FIELD CODE=\"LINE\" CHAR=\"#";
                out += std::to_string(code);
                out += "\" TEXT=\"#";
                out += std::to_string(static_cast<uint32_t>(ch));
                out += "\"}";
                i = j;
                continue;
            }
        }
        out += Line[i++];
    }
    return out;
}

}  // namespace quillard
