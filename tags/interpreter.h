// The tag interpreter: works through one report line on a renderer. Text runs
// are drawn at the cursor of the current span; each tag goes to its handler
// through the tag table, in the table's order. The handlers live one family
// to a file: render.cpp (the line, cursor, pitch, style and page tags),
// fonts.cpp, spans.cpp, fields.cpp, drawing.cpp and image.cpp.
#pragma once

#include "engine/renderer.h"

#include <span>
#include <string>
#include <string_view>

namespace quillard {

struct TLineTail;

class TTagInterpreter {
public:
    explicit TTagInterpreter(tRenderer& Renderer) : R(Renderer) {}

    // Interprets one line of the report: its text runs and its tags. Line
    // may grow by what a handler reads after the line's end (in-line data).
    void InterpretLine(tRenderState& State, std::string& Line);
    // Handles one tag, upper-cased and with its braces.
    void HandleTag(tRenderState& State, const std::string& Tag);

    using THandler = void (TTagInterpreter::*)(tRenderState& State, const std::string& Tag);
    // A row of the tag table. A tag is handled by the first row whose Name
    // it equals (or, for a prefix row, starts with).
    struct TTagRow {
        std::string_view Name;
        bool Prefix;
        // The handler runs in a protected block: a failure shows its text
        // under "Error in tRenderer.Render:" and Caption, and the line goes
        // on. Without a caption the handler is not protected.
        const char* Caption;
        // The progress area the handler works in (0: no change).
        int AreaCode;
        // The tag draws or reads: nothing is done once the pass is aborted.
        bool SkippedWhenAborted;
        THandler Handle;
    };
    static std::span<const TTagRow> TagTable();

private:
    tRenderer& R;

    bool PageInRange(const tRenderState& State) const;
    void StartPendingPage(tRenderState& State);
    // Draws a text run; the rest of the line (from RestPos) counts for
    // alignment of the whole line. Tail keeps that rest's text for the runs
    // of one line.
    void DrawTextRun(tRenderState& State, std::string Run, const std::string& Line, size_t RestPos, TLineTail& Tail);
    // Draws a run without tabs on a page that is drawn.
    void DrawTextPiece(tRenderState& State, std::string Run, const std::string& Line, size_t RestPos, TLineTail& Tail);
    // A count draws no text but notes a run whose line falls below the
    // bottom of its page, as drawing it would.
    void NoteUndrawnRunBelowBottom(const std::string& Run);
    void SetStyleBit(int& Level, TFontStyles Bit, int Delta);
    void TagFixedOrProp(const std::string& Name);
    void TagPitch(uint8_t Size);

    // Handlers of the tag table.
    void TagPage(tRenderState& State, const std::string& Tag);
    void TagFixedPitch(tRenderState& State, const std::string& Tag);
    void TagProportional(tRenderState& State, const std::string& Tag);
    void TagCpi10(tRenderState& State, const std::string& Tag);
    void TagCpi12(tRenderState& State, const std::string& Tag);
    void TagCpi17(tRenderState& State, const std::string& Tag);
    void TagStyle(tRenderState& State, const std::string& Tag);
    void TagRaiseOrLower(tRenderState& State, const std::string& Tag);
    void TagSpanFamily(tRenderState& State, const std::string& Tag);
    void TagGoto(tRenderState& State, const std::string& Tag);
    void TagGoby(tRenderState& State, const std::string& Tag);
    void TagLpp(tRenderState& State, const std::string& Tag);
    void TagLpi(tRenderState& State, const std::string& Tag);
    void TagSpan(tRenderState& State, const std::string& Tag);
    void TagEndSpan(tRenderState& State, const std::string& Tag);
    void TagFont(tRenderState& State, const std::string& Tag);
    void TagAlign(tRenderState& State, const std::string& Tag);
    void TagPen(tRenderState& State, const std::string& Tag);
    void TagField(tRenderState& State, const std::string& Tag);
    void TagLine(tRenderState& State, const std::string& Tag);
    void TagRect(tRenderState& State, const std::string& Tag);
    void TagCircle(tRenderState& State, const std::string& Tag);
    void TagPolygon(tRenderState& State, const std::string& Tag);
    void TagHighlight(tRenderState& State, const std::string& Tag);
    void TagImage(tRenderState& State, const std::string& Tag);
};

}  // namespace quillard
