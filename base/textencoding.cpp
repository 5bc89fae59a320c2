#include "base/textencoding.h"

#include "base/strings.h"

namespace quillard {

namespace {

}  // namespace

const char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

namespace {

// 0x80..0xFF of CP437.
constexpr char16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

}  // namespace

char32_t Cp437ToUnicode(unsigned char Byte) { return Byte < 0x80 ? Byte : Cp437High[Byte - 0x80]; }

void AppendUtf16Hex(std::string& Out, char32_t C)
{
    if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF))
        C = 0xFFFD;
    static const char digits[] = "0123456789ABCDEF";
    auto unit = [&](uint32_t U) {
        for (int shift = 12; shift >= 0; shift -= 4)
            Out += digits[(U >> shift) & 0xF];
    };
    if (C >= 0x10000) {
        unit(0xD800 + ((C - 0x10000) >> 10));
        unit(0xDC00 + ((C - 0x10000) & 0x3FF));
    } else {
        unit(C);
    }
}

void AppendUtf8(std::string& Out, char32_t C)
{
    if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF))
        C = 0xFFFD;
    if (C < 0x80) {
        Out += static_cast<char>(C);
    } else if (C < 0x800) {
        Out += static_cast<char>(0xC0 | (C >> 6));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
        Out += static_cast<char>(0xE0 | (C >> 12));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (C >> 18));
        Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    }
}

namespace {

// What a byte that starts a UTF-8 sequence says: how many continuation
// bytes follow, the bits it holds, and the range of the first continuation
// byte (narrower after E0, ED, F0 and F4, which keeps out overlong forms,
// surrogates and code points past U+10FFFF). False for a byte that starts
// no sequence.
struct TUtf8Lead {
    int More = 0;
    char32_t Bits = 0;
    unsigned char Low = 0x80, High = 0xBF;
};

bool ReadUtf8Lead(unsigned char B, TUtf8Lead& Lead)
{
    Lead = TUtf8Lead{};
    if (B >= 0xC2 && B <= 0xDF) {
        Lead.More = 1;
        Lead.Bits = B & 0x1F;
    } else if (B >= 0xE0 && B <= 0xEF) {
        Lead.More = 2;
        Lead.Bits = B & 0x0F;
        if (B == 0xE0)
            Lead.Low = 0xA0;
        else if (B == 0xED)
            Lead.High = 0x9F;
    } else if (B >= 0xF0 && B <= 0xF4) {
        Lead.More = 3;
        Lead.Bits = B & 0x07;
        if (B == 0xF0)
            Lead.Low = 0x90;
        else if (B == 0xF4)
            Lead.High = 0x8F;
    } else {
        return false;
    }
    return true;
}

}  // namespace

char32_t DecodeUtf8(const std::string& Text, size_t& I)
{
    const size_t n = Text.size();
    const unsigned char b = static_cast<unsigned char>(Text[I]);
    if (b < 0x80) {
        ++I;
        return b;
    }
    TUtf8Lead lead;
    if (!ReadUtf8Lead(b, lead)) {
        ++I;
        return 0xFFFD;
    }
    char32_t c = lead.Bits;
    unsigned char low = lead.Low, high = lead.High;
    size_t j = I + 1;
    for (int k = 0; k < lead.More; ++k, ++j) {
        const unsigned char t = j < n ? static_cast<unsigned char>(Text[j]) : 0;
        if (j >= n || t < low || t > high) {
            ++I;
            return 0xFFFD;
        }
        low = 0x80;
        high = 0xBF;
        c = (c << 6) | (t & 0x3F);
    }
    I = j;
    return c;
}

std::string Cp1252ToUtf8(const std::string& Text)
{
    std::string out;
    out.reserve(Text.size() + Text.size() / 8);
    for (char c : Text)
        AppendUtf8(out, Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string Cp437ToUtf8(const std::string& Text)
{
    std::string out;
    out.reserve(Text.size() + Text.size() / 4);
    for (char c : Text)
        AppendUtf8(out, Cp437ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

unsigned char UnicodeToCp1252(char32_t C)
{
    if (C < 0x80 || (C >= 0xA0 && C <= 0xFF))
        return static_cast<unsigned char>(C);
    for (int i = 0; i < 32; ++i)
        if (Cp1252High[i] == C)
            return static_cast<unsigned char>(0x80 + i);
    return 0;
}

std::string Utf8ToCp1252(const std::string& Text, size_t* Unmapped)
{
    std::string out;
    out.reserve(Text.size());
    size_t i = 0;
    while (i < Text.size()) {
        const unsigned char b = static_cast<unsigned char>(Text[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        const char32_t c = DecodeUtf8(Text, i);
        const unsigned char m = UnicodeToCp1252(c);
        if (m != 0) {
            out += static_cast<char>(m);
        } else {
            out += '?';
            if (Unmapped)
                ++*Unmapped;
        }
    }
    return out;
}

void TUtf8Validator::Feed(const char* Bytes, size_t Size)
{
    for (size_t i = 0; i < Size && Valid; ++i) {
        // Eight ASCII bytes at a time between sequences.
        while (Pending == 0 && Size - i >= 8 && IsAsciiWord(Bytes + i))
            i += 8;
        if (i == Size)
            break;
        const unsigned char b = static_cast<unsigned char>(Bytes[i]);
        if (Pending > 0) {
            if (b < Low || b > High) {
                Valid = false;
                return;
            }
            --Pending;
            Low = 0x80;
            High = 0xBF;
            continue;
        }
        if (b < 0x80)
            continue;
        NonAscii = true;
        TUtf8Lead lead;
        if (!ReadUtf8Lead(b, lead)) {
            Valid = false;
            return;
        }
        Pending = lead.More;
        Low = lead.Low;
        High = lead.High;
    }
}

namespace {

char32_t SmallLetter(char32_t C)
{
    if (C >= 'A' && C <= 'Z')
        return C + 0x20;
    if (C >= 0xC0 && C <= 0xDE && C != 0xD7)
        return C + 0x20;
    if ((C >= 0x100 && C <= 0x137) || (C >= 0x14A && C <= 0x177))
        return C | 1;
    if ((C >= 0x139 && C <= 0x148) || (C >= 0x179 && C <= 0x17E))
        return (C & 1) ? C + 1 : C;
    if (C == 0x178)
        return 0xFF;
    if (C >= 0x391 && C <= 0x3A9 && C != 0x3A2)
        return C + 0x20;
    if (C >= 0x410 && C <= 0x42F)
        return C + 0x20;
    if (C >= 0x400 && C <= 0x40F)
        return C + 0x50;
    return C;
}

}  // namespace

std::string FoldUtf8Case(const std::string& Text)
{
    std::string out;
    out.reserve(Text.size());
    size_t i = 0;
    while (i < Text.size()) {
        const unsigned char b = static_cast<unsigned char>(Text[i]);
        if (b < 0x80) {
            out += static_cast<char>(b >= 'A' && b <= 'Z' ? b + 0x20 : b);
            ++i;
            continue;
        }
        const size_t from = i;
        const char32_t c = DecodeUtf8(Text, i);
        const char32_t small = SmallLetter(c);
        std::string bytes;
        AppendUtf8(bytes, small);
        if (c != 0xFFFD && small != c && bytes.size() == i - from)
            out += bytes;
        else
            out.append(Text, from, i - from);
    }
    return out;
}

bool StartsWithUtf8Bom(const std::string& Text) { return Text.compare(0, 3, "\xEF\xBB\xBF") == 0; }

}  // namespace quillard
