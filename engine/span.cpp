#include "engine/span.h"

#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/services.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace quillard {

namespace {
// Runs one span operation in its own protected block: a failure is shown
// under the operation's caption and the span stays usable.
template <typename F>
void Protected(const char* Caption, F&& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), Caption);
    }
}
}  // namespace

int ScaledPenWidth(int Width, double Scale)
{
    if (Width < 2)
        return Width;
    int64_t w = RoundHalfEven(Width * Scale);
    return static_cast<int>(std::clamp<int64_t>(w, 1, 1 << 20));
}

tSpan::tSpan(TRenderingCanvas* ACanvas, double APageHeight, double APageWidth, double AScale)
{
    Protected("Error in tSpan.Create", [&] {
        Canvas = ACanvas;
        Scale = AScale;
        AlignStack[1] = "LEFT";
        PageWidth = APageWidth;
        PageHeight = APageHeight;
        if (Canvas) {
            tFontInfo& f = FontStack[1];
            f.Name = Canvas->Font.Name;
            f.Size = Canvas->Font.Size;
            f.Style = Canvas->Font.Style;
            f.Color = Canvas->Font.Color;
            f.BackColor = 0xFFFFFF;
            f.BackStyle = bsClear;
            tPenInfo& p = PenStack[1];
            p.Color = Canvas->Pen.Color;
            p.Mode = Canvas->Pen.Mode;
            p.Style = Canvas->Pen.Style;
            const double scale = Scale;
            p.Width = scale > 0 ? static_cast<int>(RoundHalfEven(Canvas->Pen.Width / scale)) : Canvas->Pen.Width;
            p.BrushColor = Canvas->Brush.Color;
            p.BrushStyle = Canvas->Brush.Style;
        }
    });
}

tSpan::~tSpan() = default;

tFontInfo& tSpan::Font()
{
    if (FontIndex < 1 || FontIndex > MaxFonts)
        throw std::out_of_range("Font stack index out of range");
    return FontStack[FontIndex];
}
const tFontInfo& tSpan::Font() const { return const_cast<tSpan*>(this)->Font(); }

tPenInfo& tSpan::Pen()
{
    if (PenIndex < 1 || PenIndex > MaxPens)
        throw std::out_of_range("Pen stack index out of range");
    return PenStack[PenIndex];
}
const tPenInfo& tSpan::Pen() const { return const_cast<tSpan*>(this)->Pen(); }

void tSpan::Assign(const tSpan& Source)
{
    Protected("Error tSpan.Assign", [&] {
        LineHeight = Source.LineHeight;
        LinesPerPage = Source.LinesPerPage;
        LinesPerInch = Source.LinesPerInch;
        CursorY = Source.CursorY;
        CursorX = Source.CursorX;
        Rotation = Source.Rotation;
        Column = Source.Column;
        Clip = Source.Clip;
        Left = Source.Left;
        Top = Source.Top;
        Right = Source.Right;
        Bottom = Source.Bottom;
        Paginate = Source.Paginate;
        if (AlignIndex < 1 || AlignIndex > MaxAlign || Source.AlignIndex < 1 || Source.AlignIndex > MaxAlign)
            throw std::out_of_range("Alignment stack index out of range");
        AlignStack[AlignIndex] = Source.AlignStack[Source.AlignIndex];
        const tFontInfo& sf = Source.Font();
        tFontInfo& f = Font();
        double keepRotation = f.Rotation;
        f = sf;
        f.Rotation = keepRotation;
        Pen() = Source.Pen();
        if (Source.Header)
            Header = Source.Header;
        if (Source.Footer)
            Footer = Source.Footer;
    });
}

tSpan::TSaved tSpan::Save() const
{
    TSaved s;
    const int aligns = std::clamp(AlignIndex, 1, MaxAlign), fonts = std::clamp(FontIndex, 1, MaxFonts),
              pens = std::clamp(PenIndex, 1, MaxPens);
    s.Aligns.assign(AlignStack.begin() + 1, AlignStack.begin() + 1 + aligns);
    s.Fonts.assign(FontStack.begin() + 1, FontStack.begin() + 1 + fonts);
    s.Pens.assign(PenStack.begin() + 1, PenStack.begin() + 1 + pens);
    s.Clip = Clip;
    s.LinesPerPage = LinesPerPage;
    s.LinesPerInch = LinesPerInch;
    s.PageWidth = PageWidth;
    s.PageHeight = PageHeight;
    s.LineHeight = LineHeight;
    s.CursorY = CursorY;
    s.CursorX = CursorX;
    s.Column = Column;
    s.Left = Left;
    s.Top = Top;
    s.Right = Right;
    s.Bottom = Bottom;
    s.Scale = Scale;
    s.SuperscriptLevel = SuperscriptLevel;
    s.SubscriptLevel = SubscriptLevel;
    s.BoldLevel = BoldLevel;
    s.ItalicLevel = ItalicLevel;
    s.UnderlineLevel = UnderlineLevel;
    s.StrikeLevel = StrikeLevel;
    s.Paginate = Paginate;
    s.Header = Header;
    s.Footer = Footer;
    s.Rotation = Rotation;
    return s;
}

void tSpan::Restore(const TSaved& s)
{
    // Indexes outside the stacks were saved as the nearest inside: a span
    // never holds those between lines.
    AlignIndex = static_cast<int>(s.Aligns.size());
    FontIndex = static_cast<int>(s.Fonts.size());
    PenIndex = static_cast<int>(s.Pens.size());
    std::copy(s.Aligns.begin(), s.Aligns.end(), AlignStack.begin() + 1);
    std::copy(s.Fonts.begin(), s.Fonts.end(), FontStack.begin() + 1);
    std::copy(s.Pens.begin(), s.Pens.end(), PenStack.begin() + 1);
    Clip = s.Clip;
    LinesPerPage = s.LinesPerPage;
    LinesPerInch = s.LinesPerInch;
    PageWidth = s.PageWidth;
    PageHeight = s.PageHeight;
    LineHeight = s.LineHeight;
    CursorY = s.CursorY;
    CursorX = s.CursorX;
    Column = s.Column;
    Left = s.Left;
    Top = s.Top;
    Right = s.Right;
    Bottom = s.Bottom;
    Scale = s.Scale;
    SuperscriptLevel = s.SuperscriptLevel;
    SubscriptLevel = s.SubscriptLevel;
    BoldLevel = s.BoldLevel;
    ItalicLevel = s.ItalicLevel;
    UnderlineLevel = s.UnderlineLevel;
    StrikeLevel = s.StrikeLevel;
    Paginate = s.Paginate;
    Header = s.Header;
    Footer = s.Footer;
    Rotation = s.Rotation;
    Text.clear();
}

size_t tSpan::TSaved::Bytes() const
{
    size_t n = sizeof(TSaved) + Fonts.size() * sizeof(tFontInfo) + Pens.size() * sizeof(tPenInfo);
    for (const std::string& a : Aligns)
        n += sizeof(std::string) + a.capacity();
    for (const tFontInfo& f : Fonts)
        n += f.Name.capacity();
    return n;
}

void tSpan::Assert()
{
    Protected("Error tSpan.Assert", [&] {
        if (!Canvas)
            return;
        if (FontIndex >= 1 && FontIndex <= MaxFonts)
            ApplyFont(FontStack[FontIndex]);
        if (PenIndex >= 1 && PenIndex <= MaxPens)
            ApplyPen(PenStack[PenIndex]);
    });
}

void tSpan::ApplyFont(const tFontInfo& f)
{
    Canvas->Font.Name = f.Name;
    Canvas->Font.Style = f.Style;
    Canvas->Font.Color = f.Color | PaletteFlag;
    Canvas->Font.Size = f.Size;
    Canvas->FontChanged();
}

void tSpan::ApplyPen(const tPenInfo& p)
{
    Canvas->Pen.Color = p.Color | PaletteFlag;
    Canvas->Pen.Width = ScaledPenWidth(p.Width, Scale);
    Canvas->Pen.Mode = ToPenMode(p.Mode);
    Canvas->Pen.Style = ToPenStyle(p.Style);
    Canvas->Brush.Color = p.BrushColor;
    Canvas->Brush.Style = ToBrushStyle(p.BrushStyle);
}

void tSpan::PushFont()
{
    Protected("Error tSpan.PushFont", [&] {
        if (FontIndex >= MaxFonts)
            return;
        if (FontIndex < 1)
            throw std::out_of_range("Font stack index out of range");
        ++FontIndex;
        FontStack[FontIndex] = FontStack[FontIndex - 1];
        FontStack[FontIndex].LineHeight = LineHeight;
    });
}

void tSpan::PopFont()
{
    Protected("Error tSpan.PopFont", [&] {
        if (FontIndex < 2)
            return;
        if (FontIndex > MaxFonts)
            throw std::out_of_range("Font stack index out of range");
        --FontIndex;
        const tFontInfo& f = FontStack[FontIndex];
        if (Canvas)
            ApplyFont(f);
        LineHeight = f.LineHeight;
    });
}

void tSpan::PushPen()
{
    Protected("Error tSpan.PushPen", [&] {
        if (PenIndex >= MaxPens)
            return;
        if (PenIndex < 1)
            throw std::out_of_range("Pen stack index out of range");
        ++PenIndex;
        PenStack[PenIndex] = PenStack[PenIndex - 1];
    });
}

void tSpan::PopPen()
{
    Protected("Error tSpan.PopPen", [&] {
        if (PenIndex < 2)
            return;
        if (PenIndex > MaxPens)
            throw std::out_of_range("Pen stack index out of range");
        --PenIndex;
        if (Canvas)
            ApplyPen(PenStack[PenIndex]);
    });
}

void tSpan::PushAlign()
{
    if (AlignIndex < 1 || AlignIndex > MaxAlign)
        throw std::out_of_range("Alignment stack index out of range");
    std::string top = AlignStack[AlignIndex];
    if (AlignIndex >= MaxAlign) {
        for (int i = 1; i < MaxAlign; ++i)
            AlignStack[i] = AlignStack[i + 1];
        AlignIndex = MaxAlign;
    } else {
        ++AlignIndex;
    }
    AlignStack[AlignIndex] = top;
}

void tSpan::PopAlign()
{
    if (AlignIndex >= 2 && AlignIndex <= MaxAlign) {
        AlignStack[AlignIndex].clear();
        --AlignIndex;
        SetAlign("");
    }
}

void tSpan::SetAlign(const std::string& Name)
{
    if (AlignIndex < 1 || AlignIndex > MaxAlign)
        throw std::out_of_range("Alignment stack index out of range");
    if (!Name.empty())
        AlignStack[AlignIndex] = LeftStr(UpperCase(Trim(Name)), 10);
    const std::string& a = AlignStack[AlignIndex];
    if (a == "LEFT")
        CursorX = 0;
    else if (a == "CENTER")
        CursorX = (Right - Left) * 0.5;
    else if (a == "RIGHT")
        CursorX = Right - Left;
}

std::string tSpan::GetAlign() const
{
    if (AlignIndex < 1 || AlignIndex > MaxAlign)
        throw std::out_of_range("Alignment stack index out of range");
    return AlignStack[AlignIndex];
}

void tSpan::SetPenWidth(int Width)
{
    if (Canvas)
        Canvas->Pen.Width = ScaledPenWidth(Width, Scale);
    Pen().Width = Width;
}

}  // namespace quillard
