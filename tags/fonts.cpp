// Font, alignment and pen tags: each opener pushes a copy of the current
// entry of the span's stack and changes it; the closer pops it.
#include "engine/markup.h"
#include "engine/renderer.h"
#include "tags/interpreter.h"

#include <string>

namespace quillard {

namespace {

bool Given(const std::string& Tag, const char* Names, std::string& Value)
{
    Value = GetAttribute(Tag, Names);
    return !IsBlank(Value);
}

// Pen mix modes by name; -1 for a word that is not one.
int PenModeNumber(const std::string& Word)
{
    static const char* const Names[] = {"BLACK",       "WHITE",      "NOP",         "NOT",   "COPY",    "NOTCOPY",
                                        "MERGEPENNOT", "MASKPENNOT", "MERGENOTPEN", "MASKNOTPEN", "MERGE", "NOTMERGE",
                                        "MASK",        "NOTMASK",    "XOR",         "NOTXOR"};
    for (int i = 0; i < 16; ++i)
        if (Word == Names[i])
            return i;
    return -1;
}

}  // namespace

// Pen styles by name; the words "TRANSPARENT" and "NONE" are accepted only
// where AllowNoneWords is set (the {PEN} tag, not {LINE}).
int PenStyleNumber(const std::string& Word, bool AllowNoneWords)
{
    static const char* const Names[] = {"SOLID", "DASH", "DOT", "DASHDOT", "DASHDOTDOT", "CLEAR", "INSIDEFRAME"};
    for (int i = 0; i < 7; ++i)
        if (Word == Names[i])
            return i;
    if (AllowNoneWords && (Word == "TRANSPARENT" || Word == "NONE"))
        return psClear;
    return -1;
}

void TTagInterpreter::TagFont(tRenderState&, const std::string& Tag)
{
    if (Tag.compare(0, 6, "{/FONT") == 0) {
        R.Span().PopFont();
        return;
    }
    tSpan& s = R.Span();
    s.PushFont();
    std::string v;
    if (Given(Tag, "NAME", v))
        R.SetFontName(v);
    v = GetAttribute(Tag, "SIZE");
    int size = 0;
    try {
        size = ParseIntPrefix(v, 0);
    } catch (const std::exception&) {
        size = 0;
    }
    if (size > 0)
        R.SetFontSize(size);
    if (Given(Tag, "COLOR;COLOUR", v))
        R.SetFontColor(v);
    if (Given(Tag, "BACKCOLOR;BACKCOLOUR;BKCOLOR;BKCOLOUR;BACK;BK;BG;BGCOLOR;BGCOLOUR", v)) {
        R.SetFontBackColor(v);
        if (R.Span().Font().BackStyle == bsClear)
            R.SetFontBackStyle(bsSolid);
    }
    if (Given(Tag, "BACKSTYLE;BKSTYLE;BGSTYLE", v))
        R.SetFontBackStyle(ParseBrushStyle(v, bsClear));
    if (Given(Tag, "ROTATION;ROTATE;ESCAPEMENT;ESCAPE;ESC;DIR;DIRECTION", v))
        R.SetFontRotation(ParseAngle(v));
}

void TTagInterpreter::TagAlign(tRenderState&, const std::string& Tag)
{
    R.Pass.AtLineStart = true;
    tSpan& s = R.Span();
    if (Tag.compare(0, 7, "{/ALIGN") == 0) {
        s.PopAlign();
        return;
    }
    const std::string value = GetAttribute(Tag, "");
    if (value == "LEFT" || value == "RIGHT" || value == "CENTER") {
        s.PushAlign();
        s.SetAlign(value);
    }
}

void TTagInterpreter::TagPen(tRenderState&, const std::string& Tag)
{
    tSpan& s = R.Span();
    if (Tag.compare(0, 5, "{/PEN") == 0) {
        s.PopPen();
        return;
    }
    s.PushPen();
    TRenderingCanvas* c = s.Canvas;
    std::string v;
    if (Given(Tag, "COLOR;COLOUR", v))
        R.SetPenColor(ParseColor(Trim(v), c ? c->Pen.Color & 0xFFFFFF : 0, R.Setup.ColourMode));
    if (Given(Tag, "MODE", v)) {
        int mode = PenModeNumber(UpperCase(Trim(v)));
        if (mode >= 0)
            R.SetPenMode(mode);
    }
    if (Given(Tag, "STYLE", v)) {
        int style = PenStyleNumber(UpperCase(Trim(v)), true);
        if (style >= 0)
            R.SetPenStyle(style);
    }
    if (Given(Tag, "FILLCOLOR;FILLCOLOUR", v))
        R.SetBrushColor(ParseColor(Trim(v), c ? c->Brush.Color : 0xFFFFFF, R.Setup.ColourMode));
    if (Given(Tag, "FILLSTYLE", v))
        R.SetBrushStyle(ParseBrushStyle(UpperCase(Trim(v)), c ? c->Brush.Style : bsClear));
    const int width = ParseIntPrefix(GetAttribute(Tag, "WIDTH"), 0);
    if (width > 0)
        R.SetPenWidth(width);
}

}  // namespace quillard
