// The lexical layer of the markup: tag attribute look-up and value parsers.
// Strings are 8-bit byte strings; positions are 1-based where
// the interface returns or takes a position, as the markup's users count them.
#pragma once

#include "base/strings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quillard {

using COLORREF = uint32_t;

// ---- tag helpers ----------------------------------------------------------
std::string GetAttribute(const std::string& Tag, const std::string& NameList);
int FindAttributeName(const std::string& Tag, const std::string& Name);  // 1-based, 0 if absent
std::string TagAt(const std::string& Line, int Pos);
// Whether the "{" at Brace of Text opens a tag the report reader knows,
// written as report-writing programs write them: its name in capitals
// ("{B}", "{FONT ", "{LPI=", "{/SPAN}", "{INIT" in any letter case), then
// "}", a space, a tab or "=", and not after a backquote (quoted as code) or
// a dollar sign (a shell's or a template's variable).
// Text that says so is a report, not plain text.
bool IsKnownTagAt(std::string_view Text, size_t Brace);
std::string DeleteTagAt(const std::string& Line, int Pos);

// ---- value helpers --------------------------------------------------------
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

}  // namespace quillard
