// The markup helpers on split input: attribute look-up, measurements, angles,
// colours, points, brush styles, integer prefixes and search highlighting,
// each checked against what must hold whatever the input.
//
// Input: up to four pieces separated by line feeds:
//   tag (also the line searched) \n name list \n value \n search text
#include "tests/fuzz/fuzzutil.h"

#include "engine/markup.h"
#include "engine/renderer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

using namespace quillard;

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail = {})
{
    std::fprintf(stderr, "fuzz_markup: %s %s\n", What, Detail.c_str());
    std::abort();
}

void Check(bool Ok, const char* What, const std::string& Detail = {})
{
    if (!Ok)
        Fail(What, Detail);
}

char Up(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// Straightforward versions of the substring helpers, for comparison.
bool MatchAt(std::string_view s, size_t at, std::string_view sub, bool noCase)
{
    if (at + sub.size() > s.size())
        return false;
    for (size_t k = 0; k < sub.size(); ++k)
        if (noCase ? Up(s[at + k]) != Up(sub[k]) : s[at + k] != sub[k])
            return false;
    return true;
}

int NaivePosNoCase(const std::string& sub, const std::string& s)
{
    if (sub.empty())
        return 0;
    for (size_t i = 0; i + sub.size() <= s.size(); ++i)
        if (MatchAt(s, i, sub, true))
            return int(i) + 1;
    return 0;
}

std::string NaiveReplaceAll(const std::string& s, const std::string& find, const std::string& repl, bool noCase)
{
    if (find.empty())
        return s;
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        if (MatchAt(s, i, find, noCase)) {
            out += repl;
            i += find.size();
        } else {
            out += s[i++];
        }
    }
    return out;
}

bool OracleTrimByte(char c) { return c == ' ' || c == '\r' || static_cast<unsigned char>(c) == 0xFF; }

tRenderer* Renderer = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    Renderer = new tRenderer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    std::vector<std::string> piece(4);
    {
        size_t k = 0;
        for (size_t i = 0; i < Size; ++i) {
            const char c = static_cast<char>(Data[i]);
            if (c == '\n' && k < 3)
                ++k;
            else
                piece[k] += c;
        }
    }
    const std::string& tag = piece[0];
    const std::string& names = piece[1];
    const std::string& value = piece[2];
    const std::string& find = piece[3];
    tRenderer& r = *Renderer;

    // ---- tag helpers
    const std::string attr = GetAttribute(tag, names);
    if (!IsBlank(names) && attr != "TRUE")
        Check(attr.find('}') == std::string::npos, "GetAttribute value holds a closing brace:", attr);
    const int at = FindAttributeName(tag, value);
    Check(at >= 0 && size_t(at) <= tag.size(), "FindAttributeName out of range");
    if (at > 0)
        Check(MatchAt(tag, size_t(at) - 1, " " + value, true), "FindAttributeName found no name");
    const int pos = int(value.size() % (tag.size() + 2));
    const std::string t = TagAt(tag, pos);
    Check(t.size() <= tag.size(), "TagAt grew");
    const std::string d = DeleteTagAt(tag, pos);
    Check(d.size() <= tag.size(), "DeleteTagAt grew");

    // ---- string helpers against plain versions
    Check(PosNoCase(value, tag) == NaivePosNoCase(value, tag), "PosNoCase differs");
    Check(ReplaceAll(tag, value, find) == NaiveReplaceAll(tag, value, find, false), "ReplaceAll differs");
    Check(ReplaceAllNoCase(tag, value, find) == NaiveReplaceAll(tag, value, find, true), "ReplaceAllNoCase differs");
    const std::string trimmed = Trim(value);
    Check(trimmed.empty() || (!OracleTrimByte(trimmed.front()) && !OracleTrimByte(trimmed.back())), "Trim left a trim byte");

    // ---- value parsers
    const int32_t n = ParseIntPrefix(value, -7);
    {
        size_t digits = 0;
        while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9')
            ++digits;
        long long expect = -7;
        if (digits > 0) {
            size_t first = 0;
            while (first + 1 < digits && value[first] == '0')
                ++first;
            if (digits - first <= 10) {
                const long long v = std::stoll(value.substr(first, digits - first));
                if (v <= 2147483647LL)
                    expect = v;
            }
        }
        Check(n == expect, "ParseIntPrefix differs:", std::to_string(n) + " " + std::to_string(expect));
    }
    try {
        const int64_t h = ParseHex(value, -1);
        Check(h >= -1 && h <= 0x7FFFFFFF, "ParseHex out of range");
    } catch (const EConvertError&) {
    }
    const COLORREF colour = ParseColor(value, 0x123456, true);
    (void)colour;
    const COLORREF grey = ParseColor(value, 0x123456, false);
    Check(grey == 0x123456 || (grey & 0xFF) * 0x010101u == grey, "ParseColor monochrome gave a colour");
    (void)ColorName(colour);
    const int brush = ParseBrushStyle(value, -1);
    Check(brush >= -1 && brush <= 7, "ParseBrushStyle out of range");
    try {
        const double a = ParseAngle(value);
        Check(std::isfinite(a), "ParseAngle not finite");
    } catch (const EConvertError&) {
    }
    Check(std::isfinite(r.Measure(value, 'X')) && std::isfinite(r.Measure(value, 'Y')), "Measure not finite");
    Check(std::isfinite(r.MeasureAttr(tag, names, 'X', 1.5)), "MeasureAttr not finite");
    for (bool absolute : {false, true}) {
        const TDoublePoint p = r.ParsePoint({1.25, 2.5}, value, absolute);
        Check(std::isfinite(p.X) && std::isfinite(p.Y), "ParsePoint not finite");
        if (value.find(',') == std::string::npos)
            Check(p.X == 1.25 && p.Y == 2.5, "ParsePoint without a comma moved the point");
    }
    if (n >= 0 && n <= 100000) {
        (void)RomanNumeral(n);
        Check(!AlphaNumeral(n).empty(), "AlphaNumeral empty");
    }

    // ---- search highlighting
    for (bool caseSensitive : {false, true}) {
        // With markers that the line does not hold, taking them out again
        // must give the line back.
        std::string line = tag;
        const int count = HighlightMatches(line, find, caseSensitive, "\x02", "\x01", "", "");
        Check(count >= 0, "HighlightMatches count negative");
        if (count == 0)
            Check(line == tag, "HighlightMatches changed a line without matches");
        if (tag.find_first_of("\x01\x02") == std::string::npos && find.find_first_of("\x01\x02") == std::string::npos) {
            std::string back;
            size_t opens = 0;
            for (char c : line) {
                if (c == '\x01')
                    ++opens;
                else if (c != '\x02')
                    back += c;
            }
            Check(back == tag, "HighlightMatches lost text");
            Check(opens == size_t(count), "HighlightMatches count differs from the matches marked");
        }
        std::string marked = tag;
        HighlightMatches(marked, find, caseSensitive, "{/FONT}", "{FONT COLOR=BLACK BGCOLOR=Cyan BGSTYLE=\"Solid\"}", "",
                         "{HIGHLIGHTLINE COLOR=Yellow STYLE=\"Solid\"}");
    }
    return 0;
}
