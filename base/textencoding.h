// The character sets of report text: Windows-1252 (one byte a character, as
// reports written on Windows have it), UTF-8 (as Linux programs write it) and
// the PC character set CP437 (line printers' box drawing), with the
// conversions between them that the surfaces and the page pass need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillard {

// The characters of Windows-1252's bytes 0x80 to 0x9F (the five undefined
// codes keep their own value); every other byte is its own character.
extern const char16_t Cp1252High[32];

// The Unicode character of a Windows-1252 byte.
inline char32_t Cp1252ToUnicode(unsigned char Byte)
{
    return (Byte >= 0x80 && Byte <= 0x9F) ? Cp1252High[Byte - 0x80] : Byte;
}
// The Unicode character of a CP437 byte (0x00-0x7F are ASCII).
char32_t Cp437ToUnicode(unsigned char Byte);

// The UTF-8 bytes of a character.
void AppendUtf8(std::string& Out, char32_t Char);
// The UTF-16BE code units of a character in hexadecimal capitals: four
// digits, or eight for a surrogate pair (as PDF hex strings write them).
void AppendUtf16Hex(std::string& Out, char32_t Char);

// The character at Text[I], advancing I past it. A byte that starts no valid
// sequence (a stray continuation byte, an overlong form, a surrogate, a
// sequence cut short) is U+FFFD and takes one byte.
char32_t DecodeUtf8(const std::string& Text, size_t& I);

// Windows-1252 text, or CP437 text, as UTF-8.
std::string Cp1252ToUtf8(const std::string& Text);
std::string Cp437ToUtf8(const std::string& Text);

// UTF-8 text as Windows-1252: a character that has no byte there becomes
// "?", and Unmapped counts those characters.
std::string Utf8ToCp1252(const std::string& Text, size_t* Unmapped = nullptr);
// The Windows-1252 byte of a character, or 0 when it has none.
unsigned char UnicodeToCp1252(char32_t Char);

// Checks text given in pieces: whether it is valid UTF-8 and whether it holds
// any byte above 0x7F. A sequence may run across pieces.
class TUtf8Validator {
public:
    void Feed(const char* Bytes, size_t Size);
    // Valid so far and no sequence left open.
    bool Complete() const { return Valid && Pending == 0; }
    bool Valid = true;
    bool NonAscii = false;

private:
    int Pending = 0;                 // continuation bytes still expected
    unsigned char Low = 0x80, High = 0xBF;  // the range of the next one
};

// UTF-8 text with the capital letters of the Latin, Greek and Cyrillic
// alphabets made small, where the small letter takes as many bytes (so that
// positions in the result are positions in Text). Bytes that are no valid
// UTF-8 stay as they are.
std::string FoldUtf8Case(const std::string& Text);

// Whether Text starts with the UTF-8 byte-order mark.
bool StartsWithUtf8Bom(const std::string& Text);

}  // namespace quillard
