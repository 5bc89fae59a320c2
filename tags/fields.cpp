// Field tags: box-drawing characters drawn as strokes in a character cell
// (block and shade characters as fills),
// page numbers in five styles, and the white pen.
#include "engine/markup.h"
#include "engine/renderer.h"
#include "tags/interpreter.h"
#include "engine/services.h"
#include "base/textencoding.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace quillard {

namespace {

struct TStroke {
    float A, B, C, D;  // (A, B) to (C, D) in fractions of the cell
};

struct TLineChar {
    const char* Char;
    std::initializer_list<TStroke> Strokes;
};

const TLineChar LineChars[] = {
    {"#179", {{0.5f, 0, 0.5f, 1}}},
    {"#180", {{0, 0.5f, 0.5f, 0.5f}, {0.5f, 0, 0.5f, 1}}},
    {"#181", {{0, 0.4f, 0.5f, 0.4f}, {0, 0.6f, 0.5f, 0.6f}, {0.5f, 0, 0.5f, 1}}},
    {"#182", {{0, 0.5f, 0.4f, 0.5f}, {0.4f, 0, 0.4f, 1}, {0.6f, 0, 0.6f, 1}}},
    {"#183", {{0, 0.5f, 0.6f, 0.5f}, {0.4f, 0.5f, 0.4f, 1}, {0.6f, 0.5f, 0.6f, 1}}},
    {"#184", {{0, 0.4f, 0.5f, 0.4f}, {0, 0.6f, 0.5f, 0.6f}, {0.5f, 0.4f, 0.5f, 1}}},
    {"#185", {{0, 0.4f, 0.4f, 0.4f}, {0, 0.6f, 0.4f, 0.6f}, {0.4f, 0, 0.4f, 1}, {0.6f, 0, 0.6f, 1}}},
    {"#186", {{0.4f, 0, 0.4f, 1}, {0.6f, 0, 0.6f, 1}}},
    {"#187", {{0, 0.4f, 0.6f, 0.4f}, {0, 0.6f, 0.4f, 0.6f}, {0.4f, 0.6f, 0.4f, 1}, {0.6f, 0.4f, 0.6f, 1}}},
    {"#188", {{0, 0.4f, 0.4f, 0.4f}, {0, 0.6f, 0.6f, 0.6f}, {0.4f, 0, 0.4f, 0.4f}, {0.6f, 0, 0.6f, 0.6f}}},
    {"#189", {{0, 0.5f, 0.6f, 0.5f}, {0.4f, 0, 0.4f, 0.5f}, {0.6f, 0, 0.6f, 0.5f}}},
    {"#190", {{0, 0.4f, 0.5f, 0.4f}, {0, 0.6f, 0.5f, 0.6f}, {0.5f, 0, 0.5f, 0.6f}}},
    {"#191", {{0, 0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f, 1}}},
    {"#192", {{0.5f, 0.5f, 1, 0.5f}, {0.5f, 0, 0.5f, 0.5f}}},
    {"#193", {{0, 0.5f, 1, 0.5f}, {0.5f, 0, 0.5f, 0.5f}}},
    {"#194", {{0, 0.5f, 1, 0.5f}, {0.5f, 0.5f, 0.5f, 1}}},
    {"#195", {{0.5f, 0.5f, 1, 0.5f}, {0.5f, 0, 0.5f, 1}}},
    {"#196", {{0, 0.5f, 1, 0.5f}}},
    {"#197", {{0, 0.5f, 1, 0.5f}, {0.5f, 0, 0.5f, 1}}},
    {"#198", {{0.5f, 0, 0.5f, 1}, {0.5f, 0.4f, 1, 0.4f}, {0.5f, 0.6f, 1, 0.6f}}},
    {"#199", {{0.4f, 0, 0.4f, 1}, {0.6f, 0, 0.6f, 1}, {0.6f, 0.5f, 1, 0.5f}}},
    {"#200", {{0.6f, 0.4f, 1, 0.4f}, {0.4f, 0.6f, 1, 0.6f}, {0.6f, 0, 0.6f, 0.4f}, {0.4f, 0, 0.4f, 0.6f}}},
    {"#201", {{0.4f, 0.4f, 1, 0.4f}, {0.6f, 0.6f, 1, 0.6f}, {0.4f, 0.4f, 0.4f, 1}, {0.6f, 0.6f, 0.6f, 1}}},
    {"#202", {{0, 0.4f, 0.4f, 0.4f}, {0.6f, 0.4f, 1, 0.4f}, {0, 0.6f, 1, 0.6f}, {0.4f, 0, 0.4f, 0.4f}, {0.6f, 0, 0.6f, 0.4f}}},
    {"#203", {{0, 0.4f, 1, 0.4f}, {0, 0.6f, 0.4f, 0.6f}, {0.6f, 0.6f, 1, 0.6f}, {0.4f, 0.6f, 0.4f, 1}, {0.6f, 0.6f, 0.6f, 1}}},
    {"#204", {{0.6f, 0.4f, 1, 0.4f}, {0.6f, 0.6f, 1, 0.6f}, {0.4f, 0, 0.4f, 1}, {0.6f, 0, 0.6f, 0.4f}, {0.6f, 0.6f, 0.6f, 1}}},
    {"#205", {{0, 0.4f, 1, 0.4f}, {0, 0.6f, 1, 0.6f}}},
    {"#206", {{0, 0.4f, 0.4f, 0.4f}, {0.6f, 0.4f, 1, 0.4f}, {0, 0.6f, 0.4f, 0.6f}, {0.6f, 0.6f, 1, 0.6f},
              {0.4f, 0, 0.4f, 0.4f}, {0.6f, 0, 0.6f, 0.4f}, {0.4f, 0.6f, 0.4f, 1}, {0.6f, 0.6f, 0.6f, 1}}},
    {"#207", {{0, 0.4f, 1, 0.4f}, {0, 0.6f, 1, 0.6f}, {0.5f, 0, 0.5f, 0.4f}}},
    {"#208", {{0, 0.5f, 1, 0.5f}, {0.4f, 0, 0.4f, 0.5f}, {0.6f, 0, 0.6f, 0.5f}}},
    {"#209", {{0, 0.4f, 1, 0.4f}, {0, 0.6f, 1, 0.6f}, {0.5f, 0.6f, 0.5f, 1}}},
    {"#210", {{0, 0.5f, 1, 0.5f}, {0.4f, 0.5f, 0.4f, 1}, {0.6f, 0.5f, 0.6f, 1}}},
    {"#211", {{0.4f, 0, 0.4f, 0.5f}, {0.6f, 0, 0.6f, 0.5f}, {0.4f, 0.5f, 1, 0.5f}}},
    {"#212", {{0.5f, 0, 0.5f, 0.6f}, {0.5f, 0.4f, 1, 0.4f}, {0.5f, 0.6f, 1, 0.6f}}},
    {"#213", {{0.5f, 0.4f, 0.5f, 1}, {0.5f, 0.4f, 1, 0.4f}, {0.5f, 0.6f, 1, 0.6f}}},
    {"#214", {{0.4f, 0.5f, 1, 0.5f}, {0.4f, 0.5f, 0.4f, 1}, {0.6f, 0.5f, 0.6f, 1}}},
    {"#215", {{0, 0.5f, 1, 0.5f}, {0.4f, 0, 0.4f, 1}, {0.6f, 0, 0.6f, 1}}},
    {"#216", {{0, 0.4f, 1, 0.4f}, {0, 0.6f, 1, 0.6f}, {0.5f, 0, 0.5f, 1}}},
    {"#217", {{0, 0.5f, 0.5f, 0.5f}, {0.5f, 0, 0.5f, 0.5f}}},
    {"#218", {{0.5f, 0.5f, 1, 0.5f}, {0.5f, 0.5f, 0.5f, 1}}},
    {"BOX", {{0, 0, 1, 1}, {1, 0, 0, 1}, {0, 0, 1, 0}, {1, 0, 1, 1}, {1, 1, 0, 1}, {0, 1, 0, 0}}},
};

// Block and shade characters: a part of the cell filled with the pen's
// colour, or the whole cell with a tint of it.
struct TBlockChar {
    const char* Char;
    float Left, Top, Right, Bottom;  // fractions of the cell
    int Ink;                         // percent of the pen's colour over white
};

const TBlockChar BlockChars[] = {
    {"#176", 0, 0, 1, 1, 25}, {"#177", 0, 0, 1, 1, 50},   {"#178", 0, 0, 1, 1, 75},
    {"#219", 0, 0, 1, 1, 100}, {"#220", 0, 0.5f, 1, 1, 100}, {"#221", 0, 0, 0.5f, 1, 100},
    {"#222", 0.5f, 0, 1, 1, 100}, {"#223", 0, 0, 1, 0.5f, 100},
};

TColor Tint(TColor Colour, int Percent)
{
    const uint32_t c = ResolveColor(Colour);
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t v = (c >> shift) & 0xFF;
        out |= ((v * Percent + 255 * (100 - Percent) + 50) / 100) << shift;
    }
    return out;
}

// Roman page numbers from here on would take a thousand letters or more.
constexpr int MaxRomanPageNumber = 1'000'000;

int PageNumberStyleOf(const std::string& Style)
{
    if (Style == "ROMAN" || Style == "I")
        return 1;
    if (Style == "LOWER-ROMAN" || Style == "LOWERROMAN")
        return 2;
    if (Style == "ALPHA" || Style == "ABC" || Style == "A")
        return 3;
    if (Style == "LOWER-ALPHA" || Style == "LOWERALPHA")
        return 4;
    return 0;  // ARABIC, 1, 123, NORMAL, anything else, or none
}

}  // namespace

void TTagInterpreter::TagField(tRenderState&, const std::string& Tag)
{
    const std::string code = UpperCase(Trim(GetAttribute(Tag, "CODE")));
    tSpan& s = R.Span();
    TRenderingCanvas& c = *s.Canvas;
    if (code == "LINE") {
        // As for text: a cursor still at 0 means no line is placed yet, and
        // the cell is the first line's, not one above the span.
        if (s.CursorY == 0)
            s.CursorY = s.LineHeight;
        const double w = c.TextWidth("WWWWWWWWWW") / 10.0 / R.Metrics.PixelsPerInchX;
        const double h = s.LineHeight;
        const double t = c.TextHeight("WWWWWWWWWW") / R.Metrics.PixelsPerInchY;
        const double x0 = s.Left + s.Column * w;
        const double y0 = s.Top + s.CursorY - (h + t) / 2;
        const std::string ch = UpperCase(Trim(GetAttribute(Tag, "CHAR")));
        // A cell wholly off the surface draws nothing: a long line of box
        // characters costs its surface only what shows.
        TRect area;
        const bool shows = !c.DeviceArea(area) ||
                           (R.DevX(x0 + w) >= area.Left && R.DevX(x0) <= area.Right && R.DevY(y0 + h) >= area.Top &&
                            R.DevY(y0) <= area.Bottom);
        if (R.Pass.PageDrawn && shows) {
            // The character the figure stands for: as the report wrote it,
            // or the PC character set's.
            const std::string text = Trim(GetAttribute(Tag, "TEXT"));
            const int given = text.size() > 1 && text[0] == '#' ? ParseIntPrefix(text.substr(1), 0) : 0;
            const int pc = ch.size() > 1 && ch[0] == '#' ? ParseIntPrefix(ch.substr(1), 0) : 0;
            const char32_t shown = given > 0 && given <= 0x10FFFF ? char32_t(given)
                                   : pc >= 176 && pc <= 223   ? Cp437ToUnicode(static_cast<unsigned char>(pc))
                                                              : 0;
            if (shown) {
                std::string utf8;
                AppendUtf8(utf8, shown);
                // Over the text cell of the line, where its letters stand.
                c.FigureText(TRect{R.DevX(x0), R.DevY(y0 + (h - t) / 2), R.DevX(x0 + w), R.DevY(y0 + (h + t) / 2)}, utf8);
            }
        }
        for (const TBlockChar& bc : BlockChars) {
            if (!R.Pass.PageDrawn || !shows || ch != bc.Char)
                continue;
            const TBrush brush = c.Brush;
            c.Brush.Style = bsSolid;
            c.Brush.Color = Tint(c.Pen.Color, bc.Ink);
            c.FillRect(TRect{R.DevX(x0 + bc.Left * w), R.DevY(y0 + bc.Top * h), R.DevX(x0 + bc.Right * w),
                             R.DevY(y0 + bc.Bottom * h)});
            c.Brush = brush;
            break;
        }
        for (const TLineChar& lc : LineChars) {
            if (!R.Pass.PageDrawn || !shows)
                break;
            if (ch != lc.Char)
                continue;
            for (const TStroke& st : lc.Strokes) {
                c.MoveTo(R.DevX(x0 + st.A * w), R.DevY(y0 + st.B * h));
                c.LineTo(R.DevX(x0 + st.C * w), R.DevY(y0 + st.D * h));
            }
            break;
        }
        s.CursorX += w;
        if (s.Column < INT32_MAX)
            ++s.Column;
    } else if (code == "PAGENUM" || code == "PAGE") {
        R.Pass.PageNumber = ParseIntPrefix(Trim(GetAttribute(Tag, "START")), R.Pass.PageNumber);
        R.Pass.PageNumberStyle = static_cast<uint8_t>(PageNumberStyleOf(UpperCase(Trim(GetAttribute(Tag, "STYLE")))));
        int style = R.Pass.PageNumberStyle;
        if ((style == 1 || style == 2) && R.Pass.PageNumber >= MaxRomanPageNumber) {
            // A letter M for every thousand: from a million on, digits.
            style = 0;
            if (!R.Pass.Limits.RomanTooLong) {
                R.Pass.Limits.RomanTooLong = true;
                ShowMessage("Page number " + std::to_string(R.Pass.PageNumber) +
                                " is too large for Roman numerals; it is written in digits",
                            "Error in tRenderer.Render:{FIELD}");
            }
        }
        std::string text;
        switch (style) {
        case 1: text = UpperCase(RomanNumeral(R.Pass.PageNumber)); break;
        case 2: text = LowerCase(RomanNumeral(R.Pass.PageNumber)); break;
        case 3: text = UpperCase(AlphaNumeral(R.Pass.PageNumber)); break;
        case 4: text = LowerCase(AlphaNumeral(R.Pass.PageNumber)); break;
        default: text = std::to_string(R.Pass.PageNumber); break;
        }
        // The text all fields of a pass make is bounded by what the report
        // carries.
        const int64_t allowed = R.FieldTextBase + R.FieldTextBytesPerReportByte * R.FileSize;
        R.Pass.Limits.FieldText += static_cast<int64_t>(text.size());
        if (R.Pass.Limits.FieldText > allowed) {
            if (!R.Pass.Limits.FieldTextSpent) {
                R.Pass.Limits.FieldTextSpent = true;
                throw std::runtime_error("The fields of this report would make more than " +
                                         std::to_string(allowed >> 20) +
                                         " MB of text in one pass; the fields from here on are left empty");
            }
            return;
        }
        R.Pass.FieldText = Trim(text);
    } else if (code == "WHITE") {
        c.Pen.Mode = pmWhite;
    }
}

}  // namespace quillard
