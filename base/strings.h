// Byte-string helpers and value parsers that every layer uses: trimming,
// case-blind comparison and search, replacement, decimal and hexadecimal
// numbers. Strings are 8-bit byte strings; positions are 1-based where the
// interface returns or takes a position, as the markup's users count them.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillard {

// Whether Text holds any of the bytes Set names. Each byte is looked for
// over the whole text at once (std::string::find_first_of looks up the set
// for every byte of the text, which costs far more on long lines).
inline bool HoldsAnyOf(std::string_view Text, std::string_view Set)
{
    for (char c : Set)
        if (std::memchr(Text.data(), c, Text.size()))
            return true;
    return false;
}

// The eight bytes at P as one word (in the machine's order).
inline uint64_t WordAt(const char* P)
{
    uint64_t Word;
    std::memcpy(&Word, P, sizeof Word);
    return Word;
}

// Whether the eight bytes at P are all ASCII (a scan steps over text that
// way).
inline bool IsAsciiWord(const char* P) { return (WordAt(P) & 0x8080808080808080ull) == 0; }

// Whether one of the eight bytes of Word is C: a scan that looks for a few
// bytes steps over text eight bytes at a time that way.
constexpr bool WordHoldsByte(uint64_t Word, unsigned char C)
{
    constexpr uint64_t Ones = 0x0101010101010101ull, Highs = 0x8080808080808080ull;
    const uint64_t x = Word ^ (Ones * C);
    return ((x - Ones) & ~x & Highs) != 0;
}

// Whether one of the eight bytes of Word is below Limit (at most 128).
constexpr bool WordHoldsByteBelow(uint64_t Word, unsigned char Limit)
{
    constexpr uint64_t Ones = 0x0101010101010101ull, Highs = 0x8080808080808080ull;
    return ((Word - Ones * Limit) & ~Word & Highs) != 0;
}

// Whether every byte of Text is ASCII.
inline bool IsAsciiText(std::string_view Text)
{
    size_t i = 0;
    while (Text.size() - i >= 8 && IsAsciiWord(Text.data() + i))
        i += 8;
    for (; i < Text.size(); ++i)
        if (static_cast<unsigned char>(Text[i]) >= 0x80)
            return false;
    return true;
}

// A function that can fail in a way its caller handles returns false (or an
// empty result) and says why through Reason, which the caller may leave null
// when the why does not matter to it.
inline void SayWhy(std::string* Reason, std::string Why)
{
    if (Reason)
        *Reason = std::move(Why);
}

// Raised by ParseHex on overflow and by the markup's value parsers on an
// invalid number, for the caller to report.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsAsciiAlnum(char c) { return IsAsciiDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// The bytes our trim takes off the ends: space, carriage return and 0xFF.
inline bool IsTrimByte(char c) { return c == ' ' || c == '\r' || static_cast<unsigned char>(c) == 0xFF; }

// ---- string helpers -------------------------------------------------------
// Trim removes only spaces, carriage returns and bytes 0xFF from the ends.
std::string Trim(const std::string& s);
std::string TrimRight(const std::string& s);
std::string TrimLeft(const std::string& s);
bool IsBlank(const std::string& s);                       // empty or spaces only
int PosNoCase(const std::string& sub, const std::string& s);  // 1-based, 0 if absent
std::string ReplaceAllNoCase(const std::string& s, const std::string& find, const std::string& repl);
std::string ReplaceAll(const std::string& s, const std::string& find, const std::string& repl);
std::string LeftStr(const std::string& s, int n);
std::string RightStr(const std::string& s, int n);
std::string DupeString(const std::string& s, int n);
std::string InsertAt(const std::string& s, const std::string& insert, int pos);
std::string IncludeBackslash(const std::string& path);
std::string GetEnvVar(const std::string& name);
std::string Choose(bool flag, const std::string& a, const std::string& b);
std::string UpperCase(const std::string& s);   // ASCII letters only
std::string LowerCase(const std::string& s);
bool SameText(const std::string& a, const std::string& b);  // ASCII case-insensitive

// ---- numbers ----------------------------------------------------------------
int32_t ParseIntPrefix(const std::string& s, int32_t Default);
int64_t ParseHex(const std::string& s, int64_t Default);   // throws EConvertError past 32 bits
std::string IntToHexPad(int64_t Value, int MinDigits);
// A whole number with commas between its groups of three digits: "1,234,567".
std::string GroupedNumber(int64_t Value);
// Accumulates a run of decimal digits; false once the value passes the
// 32-bit signed range (the whole run is still consumed by the caller).
bool AccumulateDigits(std::string_view digits, int64_t& value);
// Round half to even, as device coordinates and sizes are rounded.
int64_t RoundHalfEven(double v);

// Lines and tags can be very long (a report line of several megabytes is not
// unusual when a host dumps data), so every search is linear: substring
// look-ups go through this matcher instead of naive rescans.
// Knuth-Morris-Pratt matcher, optionally ignoring ASCII letter case. Reports
// every occurrence, overlapping ones included, in one linear pass.
class TTextMatcher {
public:
    TTextMatcher(std::string_view pattern, bool noCase) : NoCase(noCase)
    {
        Pat.reserve(pattern.size());
        for (char c : pattern)
            Pat.push_back(Fold(c));
        Fail.assign(Pat.size(), 0);
        size_t k = 0;
        for (size_t i = 1; i < Pat.size(); ++i) {
            while (k > 0 && Pat[i] != Pat[k])
                k = Fail[k - 1];
            if (Pat[i] == Pat[k])
                ++k;
            Fail[i] = k;
        }
    }

    // Calls f(start) with the 0-based start of each occurrence, in order,
    // until f returns false. An empty pattern never matches.
    template <class F>
    void ForEach(std::string_view text, F&& f) const
    {
        if (Pat.empty() || Pat.size() > text.size())
            return;
        size_t k = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = Fold(text[i]);
            while (k > 0 && c != Pat[k])
                k = Fail[k - 1];
            if (c == Pat[k])
                ++k;
            if (k == Pat.size()) {
                if (!f(i + 1 - Pat.size()))
                    return;
                k = Fail[k - 1];
            }
        }
    }

    size_t First(std::string_view text) const
    {
        size_t found = std::string::npos;
        ForEach(text, [&](size_t p) {
            found = p;
            return false;
        });
        return found;
    }

    size_t Length() const { return Pat.size(); }

private:
    char Fold(char c) const { return NoCase ? AsciiUpper(c) : c; }

    std::string Pat;
    std::vector<size_t> Fail;
    bool NoCase;
};

// The first place of a word in a text (ASCII letter case ignored) at or
// after a position that only moves forward, as when a text is worked through
// from left to right: each search goes on from where the last one stopped,
// so all of them together read the text once. The text must not change.
class TForwardFinder {
public:
    explicit TForwardFinder(std::string Word);
    // 0-based position, or npos when there is none at or after Pos.
    size_t From(const std::string& Text, size_t Pos);

private:
    std::string FWord;  // upper case
    size_t FFound = 0;
    bool FSearched = false;
};

}  // namespace quillard
