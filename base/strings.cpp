#include "base/strings.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace quillard {

namespace {

std::string ReplaceAllImpl(const std::string& s, const std::string& find, const std::string& repl,
                           bool noCase)
{
    TTextMatcher m(find, noCase);
    std::string out;
    size_t copied = 0;  // everything before this offset is already in out
    m.ForEach(s, [&](size_t p) {
        if (p < copied)
            return true;  // overlaps the previous replacement
        out.append(s, copied, p - copied);
        out += repl;
        copied = p + m.Length();
        return true;
    });
    if (copied == 0 && out.empty())
        return s;
    out.append(s, copied, std::string::npos);
    return out;
}

}  // namespace

bool AccumulateDigits(std::string_view digits, int64_t& value)
{
    value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > kInt32Max + 1)  // keeps room for the most negative value
            return false;
    }
    return true;
}

// ---- string helpers -------------------------------------------------------

std::string TrimRight(const std::string& s)
{
    size_t e = s.size();
    while (e > 0 && IsTrimByte(s[e - 1]))
        --e;
    return s.substr(0, e);
}

std::string TrimLeft(const std::string& s)
{
    size_t b = 0;
    while (b < s.size() && IsTrimByte(s[b]))
        ++b;
    return s.substr(b);
}

std::string Trim(const std::string& s)
{
    return TrimLeft(TrimRight(s));
}

bool IsBlank(const std::string& s)
{
    return s.find_first_not_of(' ') == std::string::npos;
}

int PosNoCase(const std::string& sub, const std::string& s)
{
    const size_t p = TTextMatcher(sub, true).First(s);
    if (p == std::string::npos || p >= static_cast<size_t>(std::numeric_limits<int>::max()))
        return 0;
    return static_cast<int>(p) + 1;
}

std::string ReplaceAllNoCase(const std::string& s, const std::string& find, const std::string& repl)
{
    return ReplaceAllImpl(s, find, repl, true);
}

std::string ReplaceAll(const std::string& s, const std::string& find, const std::string& repl)
{
    return ReplaceAllImpl(s, find, repl, false);
}

std::string LeftStr(const std::string& s, int n)
{
    if (n <= 0)
        return {};
    return s.substr(0, static_cast<size_t>(n));
}

std::string RightStr(const std::string& s, int n)
{
    if (n <= 0)
        return {};
    if (static_cast<size_t>(n) >= s.size())
        return s;
    return s.substr(s.size() - static_cast<size_t>(n));
}

std::string DupeString(const std::string& s, int n)
{
    std::string out;
    if (n < 1 || s.empty())
        return out;
    out.reserve(s.size() * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

std::string InsertAt(const std::string& s, const std::string& insert, int pos)
{
    size_t at = pos <= 1 ? 0 : static_cast<size_t>(pos) - 1;
    if (at > s.size())
        at = s.size();
    std::string out;
    out.reserve(s.size() + insert.size());
    out.append(s, 0, at);
    out += insert;
    out.append(s, at, std::string::npos);
    return out;
}

std::string IncludeBackslash(const std::string& path)
{
    if (!path.empty() && path.back() == '\\')
        return path;
    return path + '\\';
}

std::string GetEnvVar(const std::string& name)
{
    if (name.empty() || name.find('=') != std::string::npos)
        return {};
    const char* v = std::getenv(name.c_str());
    if (!v)
        return {};
    std::string value(v, strnlen(v, 100));
    return Trim(value);
}

std::string Choose(bool flag, const std::string& a, const std::string& b)
{
    return flag ? a : b;
}

std::string UpperCase(const std::string& s)
{
    std::string out(s);
    for (char& c : out)
        c = AsciiUpper(c);
    return out;
}

std::string LowerCase(const std::string& s)
{
    std::string out(s);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

// ---- value helpers --------------------------------------------------------

int32_t ParseIntPrefix(const std::string& s, int32_t Default)
{
    size_t n = 0;
    while (n < s.size() && IsAsciiDigit(s[n]))
        ++n;
    if (n == 0)
        return Default;
    int64_t value = 0;
    if (!AccumulateDigits(std::string_view(s).substr(0, n), value) || value > kInt32Max)
        return Default;
    return static_cast<int32_t>(value);
}

int64_t ParseHex(const std::string& s, int64_t Default)
{
    size_t i = (!s.empty() && s[0] == '#') ? 1 : 0;
    int64_t value = 0;
    bool any = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int digit;
        if (IsAsciiDigit(c))
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c == '#')
            digit = 0;
        else
            break;
        any = true;
        value = value * 16 + digit;
        if (value > kInt32Max)
            throw EConvertError("'" + LeftStr(s, 40) + "' is not a valid hexadecimal value");
    }
    return any ? value : Default;
}

std::string IntToHexPad(int64_t Value, int MinDigits)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string digits;
    if (Value == 0)
        digits = "0";
    for (uint64_t v = Value > 0 ? static_cast<uint64_t>(Value) : 0; v > 0; v /= 16)
        digits.insert(digits.begin(), kHex[v % 16]);
    if (MinDigits > 0 && digits.size() < static_cast<size_t>(MinDigits))
        digits.insert(0, static_cast<size_t>(MinDigits) - digits.size(), '0');
    return digits;
}

int64_t RoundHalfEven(double v)
{
    if (std::isnan(v))
        return 0;
    const double r = std::nearbyint(v);
    if (r >= 9.2233720368547758e18)
        return std::numeric_limits<int64_t>::max();
    if (r <= -9.2233720368547758e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(r);
}

TForwardFinder::TForwardFinder(std::string Word) : FWord(std::move(Word))
{
    for (char& c : FWord)
        c = AsciiUpper(c);
}

size_t TForwardFinder::From(const std::string& Text, size_t Pos)
{
    // Nothing at or after an earlier position is nothing after a later one;
    // a find at or after Pos is still the first one.
    if (FFound == std::string::npos || (FSearched && FFound >= Pos))
        return FFound;
    FSearched = true;
    const size_t m = FWord.size();
    for (size_t i = Pos; i + m <= Text.size(); ++i) {
        size_t k = 0;
        while (k < m && AsciiUpper(Text[i + k]) == FWord[k])
            ++k;
        if (k == m)
            return FFound = i;
    }
    return FFound = std::string::npos;
}

std::string GroupedNumber(int64_t Value)
{
    const std::string digits = std::to_string(Value);
    const size_t sign = Value < 0 ? 1 : 0;
    std::string out = digits.substr(0, sign);
    for (size_t i = sign; i < digits.size(); ++i) {
        if (i > sign && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace quillard
