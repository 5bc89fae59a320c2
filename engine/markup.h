// The lexical layer of the markup: string helpers, tag attribute look-up and
// value parsers. Strings are 8-bit byte strings; positions are 1-based where
// the interface returns or takes a position, as the markup's users count them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quillard {

using COLORREF = uint32_t;

// Raised by ParseHex on overflow and ParseAngle on an invalid number, for the
// calling tag handler to report.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

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

// ---- tag helpers ----------------------------------------------------------
std::string GetAttribute(const std::string& Tag, const std::string& NameList);
int FindAttributeName(const std::string& Tag, const std::string& Name);  // 1-based, 0 if absent
std::string TagAt(const std::string& Line, int Pos);
std::string DeleteTagAt(const std::string& Line, int Pos);

// ---- value helpers --------------------------------------------------------
int32_t ParseIntPrefix(const std::string& s, int32_t Default);
int64_t ParseHex(const std::string& s, int64_t Default);   // throws EConvertError past 32 bits
std::string IntToHexPad(int64_t Value, int MinDigits);
COLORREF ParseColor(const std::string& s, COLORREF Default, bool ColourMode);
std::string ColorName(COLORREF c);
int ParseBrushStyle(const std::string& s, int Default);
double ParseAngle(const std::string& s);                   // radians; throws EConvertError
// Entities of a text run as characters: Windows-1252 bytes, or UTF-8 when
// the text is UTF-8 (where a number may name any Unicode character).
std::string DecodeEntities(const std::string& s, bool Utf8 = false);
std::string Utf8EntityText(const std::string& name);
std::string EntityText(const std::string& name);
std::string RomanNumeral(int n);
std::string AlphaNumeral(int n);
// Wraps each match of Find in Line (outside tags and entities) in
// MatchPrefix and MatchSuffix, and a line with matches in LinePrefix and
// LineSuffix; the number of matches. Utf8: Line and Find are UTF-8.
int HighlightMatches(std::string& Line, const std::string& Find, bool CaseSensitive,
                     const std::string& MatchSuffix, const std::string& MatchPrefix,
                     const std::string& LineSuffix, const std::string& LinePrefix, bool Utf8 = false);

// Round half to even, as device coordinates and sizes are rounded.
int64_t RoundHalfEven(double v);

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
