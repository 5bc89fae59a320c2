// Spans: rectangular regions of the page with their own cursor and stacks of
// alignment, font and pen settings; and the state of one page pass.
#pragma once

#include "base/bytefile.h"
#include "surfaces/canvas.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace quillard {

struct tFontInfo {
    double LineHeight = 0;
    std::string Name;
    int Size = 0;                 // points, already multiplied by the scale
    TFontStyles Style = 0;
    COLORREF Color = 0;           // with the palette flag when set from a tag
    COLORREF BackColor = 0;       // 0xFFFFFF = none
    uint8_t BackStyle = 0;        // brush style; 1 (clear) = none
    double Rotation = 0;
};

struct tPenInfo {
    COLORREF Color = 0;           // without the palette flag
    uint8_t Mode = 0;             // TPenMode
    uint8_t Style = 0;            // TPenStyle
    int Width = 0;                // points from the report, before the scale
    COLORREF BrushColor = 0;
    uint8_t BrushStyle = 0;       // brush style numbering of the markup
};

constexpr int MaxAlign = 20;
constexpr int MaxFonts = 50;
constexpr int MaxPens = 20;
constexpr int MaxSpans = 20;

// Canvas pen width for a pen width from the report: 0 and 1 stay device-thin
// lines, wider pens follow the scale but never vanish.
// A pen width at a zoom: widths of 2 and more follow it, 0 and 1 stay.
int ScaledPenWidth(int Width, double Scale);

class tSpan {
public:
    // Scale: the zoom of the renderer the span belongs to.
    tSpan(TRenderingCanvas* Canvas, double PageHeight, double PageWidth, double Scale = 1.0);
    virtual ~tSpan();
    tSpan(const tSpan&) = delete;
    tSpan& operator=(const tSpan&) = delete;

    virtual void Assign(const tSpan& Source);

    // Index 0 of each stack is unused; the stacks run 1..limit.
    std::array<std::string, MaxAlign + 1> AlignStack;
    int AlignIndex = 1;
    std::array<tFontInfo, MaxFonts + 1> FontStack;
    int FontIndex = 1;
    std::array<tPenInfo, MaxPens + 1> PenStack;
    int PenIndex = 1;
    bool Clip = false;
    int LinesPerPage = 0;
    int LinesPerInch = 0;
    double PageWidth = 0, PageHeight = 0;
    double LineHeight = 0;
    double CursorY = 0;
    double CursorX = 0;
    int Column = 0;
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
    TRenderingCanvas* Canvas = nullptr;  // not owned
    // The zoom pen widths of 2 and more follow: the renderer's.
    double Scale = 1.0;
    int SuperscriptLevel = 0, SubscriptLevel = 0, BoldLevel = 0, ItalicLevel = 0,
        UnderlineLevel = 0, StrikeLevel = 0;
    bool Paginate = false;
    std::string Text;  // what the interpreter processed in the span on the current page
    // Adds to Text, which keeps at most the first MaxKeptText bytes of a
    // page: a page of one endless line must not be held twice.
    static constexpr size_t MaxKeptText = 64 * 1024;
    void KeepText(const std::string& S)
    {
        if (Text.size() < MaxKeptText)
            Text.append(S, 0, MaxKeptText - Text.size());
    }
    // Saved copies of a repeated header and footer ({/HEADER} and {/FOOTER}
    // with REPEAT=Y). They never change once made, so the spans that copy
    // this one share them instead of copying them again: copying them whole
    // made a copy of the copies of the copies, doubling with each header
    // closed on a line.
    std::shared_ptr<const tSpan> Header, Footer;
    double Rotation = 0;

    // The top entries; an index outside the stack raises std::out_of_range.
    tFontInfo& Font();
    const tFontInfo& Font() const;
    tPenInfo& Pen();
    const tPenInfo& Pen() const;

    void Assert();
    void PushFont();
    void PopFont();
    void PushPen();
    void PopPen();
    void PushAlign();
    void PopAlign();
    void SetAlign(const std::string& Name);
    std::string GetAlign() const;
    void SetPenWidth(int Width);

    // What a page pass needs of the span to go on from where it was: every
    // member but the canvas and Text (kept, never read back), the stacks cut
    // to the entries in use (the ones above are copied over before use).
    // A member added to the span is saved here too.
    struct TSaved {
        std::vector<std::string> Aligns;
        std::vector<tFontInfo> Fonts;
        std::vector<tPenInfo> Pens;
        bool Clip = false;
        int LinesPerPage = 0, LinesPerInch = 0;
        double PageWidth = 0, PageHeight = 0, LineHeight = 0, CursorY = 0, CursorX = 0;
        int Column = 0;
        double Left = 0, Top = 0, Right = 0, Bottom = 0;
        double Scale = 1.0;
        int SuperscriptLevel = 0, SubscriptLevel = 0, BoldLevel = 0, ItalicLevel = 0, UnderlineLevel = 0,
            StrikeLevel = 0;
        bool Paginate = false;
        std::shared_ptr<const tSpan> Header, Footer;
        double Rotation = 0;
        // Bytes it holds, roughly.
        size_t Bytes() const;
    };
    TSaved Save() const;
    // The span as Saved has it, on the canvas it has now.
    void Restore(const TSaved& Saved);

    // Gives the canvas the attributes of a font or pen entry.
    void ApplyFont(const tFontInfo& Entry);
    void ApplyPen(const tPenInfo& Entry);
};

// The state of one page pass.
class tRenderState {
public:
    TByteFile ReportFile;
    bool PageBreakPending = false;
    // The line that made the pending break has ended: line feeds after this
    // are empty lines at the top of the next page.
    bool BreakLineEnded = false;
    double LastRotation = 0;
    std::string LineEnd;
    int FromPage = 0, ToPage = 0;
};

}  // namespace quillard
