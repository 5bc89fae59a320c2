#include "surfaces/linedraw.h"

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

}  // namespace quillard
