// The tag interpreter's loop: a report line is split into text runs and tags,
// text is drawn at the span cursor, and each tag goes to its handler in a fixed
// order. Also the tags that move the cursor and change pitch, spacing, style
// and pages.
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "tags/interpreter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace quillard {

// The text of the rest of a line without its tags, as the alignment of the
// whole line measures it for every run: every "{" goes with everything up to
// the first "}" after it, and a "{" without one removes the rest. It is made
// once from Base and used for each later run while the line is unchanged
// from there on, instead of being made and measured again for every run.
struct TLineTail {
    bool Built = false;
    size_t Base = 0;
    // Line positions before this may have changed since the text was made.
    size_t ValidFrom = 0;
    std::string Text;
    // Line positions Start..End (End inclusive: the "{" that ends the part,
    // or the line's end) are text, read from Text at Offset onwards.
    struct TPart {
        size_t Start, End, Offset;
    };
    std::vector<TPart> Parts;
    size_t Cursor = 0;         // the part the last look-up ended in
    size_t TextEnd = 0;        // Text without its trailing trim bytes
    size_t NonTrimFrom = 0;    // the last search for a non-trim byte: from here
    size_t NonTrimAt = 0;      // it found one here (or TextEnd)
    uint64_t Key = 0;          // names Text for the surfaces' running sums

    void Build(const std::string& Line, size_t From)
    {
        static uint64_t keys = 0;
        Built = true;
        Base = ValidFrom = From;
        Text.clear();
        Parts.clear();
        Cursor = 0;
        Key = ++keys;
        size_t i = std::min(From, Line.size());
        for (;;) {
            const size_t b = Line.find('{', i);
            const size_t end = b == std::string::npos ? Line.size() : b;
            Parts.push_back({i, end, Text.size()});
            Text.append(Line, i, end - i);
            if (b == std::string::npos)
                break;
            const size_t e = Line.find('}', b);
            if (e == std::string::npos)
                break;
            i = e + 1;
        }
        TextEnd = Text.size();
        while (TextEnd > 0 && IsTrimByte(Text[TextEnd - 1]))
            --TextEnd;
        NonTrimFrom = 1;  // nothing searched yet
        NonTrimAt = 0;
    }

    // Where the text of the line from Pos starts in Text; the text is made
    // again from Pos when Pos lies inside a tag of the text made before.
    size_t Offset(const std::string& Line, size_t Pos)
    {
        if (!Built || Pos < ValidFrom || Pos < Base) {
            Build(Line, Pos);
            return 0;
        }
        if (Cursor >= Parts.size() || Parts[Cursor].Start > Pos)
            Cursor = 0;
        while (Cursor < Parts.size() && Parts[Cursor].End < Pos)
            ++Cursor;
        if (Cursor < Parts.size() && Parts[Cursor].Start <= Pos)
            return Parts[Cursor].Offset + (Pos - Parts[Cursor].Start);
        Build(Line, Pos);
        return 0;
    }

    // The first byte of Text at or after From that is no trim byte, or
    // TextEnd; From only grows from one run of a line to the next.
    size_t NonTrim(size_t From)
    {
        if (From < NonTrimFrom || From > NonTrimAt) {
            NonTrimAt = From;
            while (NonTrimAt < TextEnd && IsTrimByte(Text[NonTrimAt]))
                ++NonTrimAt;
        }
        NonTrimFrom = From;
        return std::min(NonTrimAt, TextEnd);
    }
};

namespace {

// The width of the trimmed Run followed by the text of the line from RestPos
// without its tags, on the canvas: what measuring that text gives, without
// making it.
int WholeLineWidth(TRenderingCanvas& C, const std::string& Run, const std::string& Line, size_t RestPos,
                   TLineTail& Tail)
{
    const size_t off = Tail.Offset(Line, RestPos);
    size_t a = 0, b = Run.size();
    while (a < b && IsTrimByte(Run[a]))
        ++a;
    if (a < b) {
        // The text starts in the run; it ends in the tail unless that is
        // all trim bytes.
        if (Tail.TextEnd > off)
            return C.TextWidthJoined(Run.substr(a), Tail.Text, off, Tail.TextEnd, Tail.Key);
        while (b > a && IsTrimByte(Run[b - 1]))
            --b;
        return C.TextWidthJoined(Run.substr(a, b - a), Tail.Text, off, off, Tail.Key);
    }
    // A run of trim bytes only: the text is the tail's, trimmed.
    const size_t from = off < Tail.TextEnd ? Tail.NonTrim(off) : Tail.TextEnd;
    return C.TextWidthJoined(std::string(), Tail.Text, from, std::max(from, Tail.TextEnd), Tail.Key);
}

void CheckedAdd(int& Counter, int Delta)
{
    if (__builtin_add_overflow(Counter, Delta, &Counter))
        throw std::overflow_error("Arithmetic overflow");
}

// Runs a tag handler in its own protected block: a failure shows its message
// under "Error in tRenderer.Render:" and the handler's caption, and the line
// goes on with the next tag.
template <typename F>
void Handler(const char* Caption, F&& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), std::string("Error in tRenderer.Render:") + Caption, TMsgButtons::OK);
    }
}

// Start of the last "DATA=" (any letter case) in s that starts at From or
// later, or npos.
size_t LastDataPos(const std::string& s, size_t From = 0)
{
    // Lines hold few "=": look back from each of them.
    size_t end = s.size();
    while (end > From + 4) {
        const void* hit = memrchr(s.data() + From + 4, '=', end - From - 4);
        if (!hit)
            break;
        const size_t eq = static_cast<const char*>(hit) - s.data();
        const size_t i = eq - 4;
        if ((s[i] == 'D' || s[i] == 'd') && (s[i + 1] == 'A' || s[i + 1] == 'a') && (s[i + 2] == 'T' || s[i + 2] == 't') &&
            (s[i + 3] == 'A' || s[i + 3] == 'a'))
            return i;
        end = eq;
    }
    return std::string::npos;
}

// Whether s holds "DATA=" (any letter case) between From and To.
bool HasDataBetween(const std::string& s, size_t From, size_t To)
{
    To = std::min(To, s.size());
    for (size_t i = From; i + 5 <= To; ++i)
        if ((s[i] == 'D' || s[i] == 'd') && (s[i + 1] == 'A' || s[i + 1] == 'a') && (s[i + 2] == 'T' || s[i + 2] == 't') &&
            (s[i + 3] == 'A' || s[i + 3] == 'a') && s[i + 4] == '=')
            return true;
    return false;
}

}  // namespace

bool TTagInterpreter::PageInRange(const tRenderState& State) const
{
    if (R.FCountOnly)
        return false;
    if (State.FromPage > 0 && R.CurrentPage < State.FromPage)
        return false;
    if (State.ToPage > 0 && R.CurrentPage > State.ToPage)
        return false;
    return true;
}

void TTagInterpreter::StartPendingPage(tRenderState& State)
{
    // The counters stop at their largest value ({FIELD CODE=PAGE} may start
    // the page numbers there) instead of overflowing.
    R.EndSurfacePage();
    if (R.CurrentPage < INT32_MAX)
        ++R.CurrentPage;
    if (R.Pass.PageNumber < INT32_MAX)
        ++R.Pass.PageNumber;
    R.Pass.AtLineStart = true;
    State.PageBreakPending = false;
    // The spans keep what they processed on the page in hand; holding the
    // whole report there would make memory grow with the page count.
    for (auto& span : R.Spans)
        if (span)
            span->Text.clear();
    R.StartSurfacePage(State);
}

void TTagInterpreter::NoteUndrawnRunBelowBottom(const std::string& Run)
{
    tSpan& s = R.Span();
    if (!s.Canvas || R.Metrics.PixelsPerInchY == 0)
        return;
    // The baseline lies above the cursor: a cursor on the page needs no
    // measuring.
    if (!(s.Top + s.CursorY > R.Metrics.TopOffset + R.Metrics.PrintableHeight + 1e-9))
        return;
    // The run's cell is as high as the span's font; the surface's font is
    // left as undrawn text leaves it.
    TRenderingCanvas& c = *s.Canvas;
    const TFont surfaceFont = c.Font;
    const tFontInfo& f = s.Font();
    c.Font.Name = f.Name;
    c.Font.Size = f.Size;
    c.Font.Style = f.Style;
    c.FontChanged();
    const int cellHeight = c.TextHeight(std::string());
    c.Font = surfaceFont;
    c.FontChanged();
    R.NoteRunBelowBottom(Run, cellHeight / R.Metrics.PixelsPerInchY);
}

void TTagInterpreter::InterpretLine(tRenderState& State, std::string& Line)
{
    if (R.Pass.Aborted)
        return;
    R.Pass.RepeatHeaderFooter = false;
    R.Pass.LineRest.clear();
    size_t pos = 0;  // start of the part of Line not yet processed
    int64_t counter = static_cast<int64_t>(Line.size()) + 1;
    size_t dataPos = LastDataPos(Line);
    TLineTail tail;

    do {
        --counter;
        std::string run, tag;

        // Split off one text run and one tag. Only the first 999 columns are
        // searched for a brace: one further right is plain text.
        const size_t window = std::min(Line.size() - pos, static_cast<size_t>(999));
        const void* hit = window ? std::memchr(Line.data() + pos, '{', window) : nullptr;
        if (!hit) {
            run = Line.substr(pos);
            pos = Line.size();
        } else {
            const size_t brace = static_cast<const char*>(hit) - Line.data();
            size_t searchFrom = brace;
            for (;;) {
                const size_t close = Line.find('}', searchFrom);
                // A tag with DATA= before its first "}" carries in-line
                // picture bytes: it runs to the end of the line.
                const bool hasData = dataPos != std::string::npos && dataPos >= brace &&
                                     (close == std::string::npos || HasDataBetween(Line, brace, close));
                if (hasData || (close == std::string::npos && State.ReportFile.Eof())) {
                    run = Line.substr(pos, brace - pos);
                    tag = UpperCase(Line.substr(brace));
                    pos = Line.size();
                    // The tag belongs to the page a pending break starts.
                    const int tagPage = R.CurrentPage + (State.PageBreakPending ? 1 : 0);
                    if ((State.FromPage > 0 && tagPage < State.FromPage) || (State.ToPage > 0 && tagPage > State.ToPage))
                        R.DelImageData(State.ReportFile, R.Pass.LineStartPos, State.LineEnd, tag);
                    break;
                }
                if (close == std::string::npos && Line.size() - brace >= R.MaxTagBytes) {
                    // A tag longer than any a report needs ends here; the
                    // lines after it are read as lines again.
                    if (!R.Pass.Limits.LongTag) {
                        R.Pass.Limits.LongTag = true;
                        ShowMessage("A tag runs on for more than " + std::to_string(R.MaxTagBytes >> 20) +
                                        " MB without its closing brace; it ends at byte " +
                                        std::to_string(State.ReportFile.Position()) + " of the report",
                                    "Error in tRenderer.Render");
                    }
                    run = Line.substr(pos, brace - pos);
                    tag = UpperCase(Line.substr(brace));
                    pos = Line.size();
                    break;
                }
                if (close == std::string::npos) {
                    // The tag goes on on the next line.
                    const int64_t before = State.ReportFile.Position();
                    std::string next, lineEnd;
                    R.GetPassLine(State.ReportFile, next, lineEnd);
                    State.LineEnd = lineEnd;
                    searchFrom = Line.size();
                    Line += next;
                    if (lineEnd.find('\f') != std::string::npos)
                        Line += "{PAGE}";
                    tail.Built = false;
                    // A later "DATA=" can only lie in the joined part (its
                    // "=" does), or straddle the join. Searching only there
                    // keeps a tag that runs on over many lines linear.
                    if (next.find('=') != std::string::npos) {
                        const size_t found = LastDataPos(Line, searchFrom >= 4 ? searchFrom - 4 : 0);
                        if (found != std::string::npos)
                            dataPos = found;
                    }
                    if (State.ReportFile.Position() == before && !State.ReportFile.Eof()) {
                        // Nothing more can be read: take the tag as it stands.
                        run = Line.substr(pos, brace - pos);
                        tag = UpperCase(Line.substr(brace));
                        pos = Line.size();
                        break;
                    }
                    continue;
                }
                run = Line.substr(pos, brace - pos);
                tag = UpperCase(Line.substr(brace, close - brace + 1));
                pos = close + 1;
                break;
            }
        }

        if ((!run.empty() || !IsBlank(tag)) && State.PageBreakPending)
            StartPendingPage(State);

        if (!run.empty())
            DrawTextRun(State, std::move(run), Line, pos, tail);

        ProcessMessages();
        if (R.Pass.Aborted)
            break;
        if (!IsBlank(tag)) {
            R.Span().KeepText(tag);
            R.Pass.FieldText.clear();
            R.Pass.PageDrawn = PageInRange(State);
            // The tag as written ends where the processed part of the line does.
            R.Pass.TagAsWritten.assign(Line, pos - std::min(pos, tag.size()), tag.size());
            HandleTag(State, tag);
            if (!R.Pass.FieldText.empty()) {
                // A field's text is drawn as the next run of the line. It
                // goes in just before the unprocessed part, over text already
                // processed (which is dropped when the line is done), so that
                // the rest of a long line is not moved for every field.
                const size_t k = R.Pass.FieldText.size();
                if (pos < k) {
                    // Room in front: what this field needs, and as much
                    // again as the line is long (up to a megabyte), so that
                    // the fields after it find room too.
                    const size_t room = k - pos + std::min(Line.size(), static_cast<size_t>(1) << 20) + k;
                    Line.insert(0, room, ' ');
                    pos += room;
                    if (dataPos != std::string::npos)
                        dataPos += room;
                    tail.Built = false;
                }
                tail.ValidFrom = std::max(tail.ValidFrom, pos);
                // A "DATA=" before the field was passed over already; it must
                // not come back into play under the field's text.
                if (dataPos != std::string::npos && dataPos < pos)
                    dataPos = std::string::npos;
                pos -= k;
                Line.replace(pos, k, R.Pass.FieldText);
                counter += 1;
                R.Pass.FieldText.clear();
            }
            if (!R.Pass.LineRest.empty()) {
                // The physical line goes on after in-line picture data.
                counter += static_cast<int64_t>(R.Pass.LineRest.size());
                Line += R.Pass.LineRest;
                R.Pass.LineRest.clear();
                tail.Built = false;
                dataPos = LastDataPos(Line);
            }
        }

        ProcessMessages();
        if (R.Pass.Aborted)
            break;
    } while (counter > 0 && Line.find_first_not_of(' ', pos) != std::string::npos);

    Line.erase(0, std::min(pos, Line.size()));
    if (R.Pass.LineCut) {
        // The line was read up to in-line picture data that no tag took: the
        // data belongs to the line, which ends where the physical line does.
        std::string rest, lineEnd;
        do
            R.GetLn(State.ReportFile, rest, lineEnd, tRenderer::TLineReading{false, R.MaxLineBytes, R.UnixLineEnds});
        while (R.Pass.LineTooLong);
        State.LineEnd = lineEnd;
    }
    if (!R.Pass.Aborted) {
        // A line has been placed; but after a page break that waits for the
        // next page, no line of that page is placed yet: its first line takes
        // the line height of the font it is drawn in.
        tSpan& s = R.Span();
        if (s.CursorY == 0 && !State.PageBreakPending)
            s.CursorY = s.LineHeight;
    }
}

void TTagInterpreter::DrawTextRun(tRenderState& State, std::string Run, const std::string& Line, size_t RestPos,
                            TLineTail& Tail)
{
    if (Run.find('&') != std::string::npos)
        Run = DecodeEntities(Run, R.ReportEncoding != tRenderer::TReportEncoding::Cp1252);
    tSpan& s = R.Span();
    s.KeepText(Run);
    if (!PageInRange(State)) {
        // A run stands on its line as it would drawn, so that the cursor of
        // an undrawn page moves as on a drawn one.
        if (s.CursorY == 0)
            s.CursorY = s.LineHeight;
        if (R.FCountOnly)
            NoteUndrawnRunBelowBottom(Run);
        return;
    }
    if (Run.find('\t') == std::string::npos) {
        DrawTextPiece(State, std::move(Run), Line, RestPos, Tail);
        return;
    }
    // Tabs stop every eight character cells of the current font (the width
    // of its space), counted from the span's left edge, on every surface.
    // Centred and right-aligned text has no stops: a tab there is the spaces
    // up to the next eighth column.
    const std::string align = s.GetAlign();
    if (align == "CENTER" || align == "RIGHT") {
        std::string expanded;
        int column = s.Column;
        for (char ch : Run) {
            if (ch == '\t') {
                const int spaces = 8 - column % 8;
                expanded.append(static_cast<size_t>(spaces), ' ');
                column += spaces;
            } else {
                expanded += ch;
                if (R.ReportEncoding == tRenderer::TReportEncoding::Cp1252 || (static_cast<unsigned char>(ch) & 0xC0) != 0x80)
                    ++column;
            }
        }
        DrawTextPiece(State, std::move(expanded), Line, RestPos, Tail);
        return;
    }
    TRenderingCanvas& c = *s.Canvas;
    const tFontInfo& f = s.Font();
    c.Font.Name = f.Name;
    c.Font.Size = f.Size;
    c.Font.Style = f.Style;
    // Eight spaces measured together, as a run of eight characters of a
    // fixed-pitch face is measured.
    const double stop = R.Metrics.PixelsPerInchX != 0 ? c.TextWidth("        ") / R.Metrics.PixelsPerInchX : 0.0;
    size_t from = 0;
    for (;;) {
        const size_t tab = Run.find('\t', from);
        if (tab != from)
            DrawTextPiece(State, Run.substr(from, tab == std::string::npos ? std::string::npos : tab - from), Line, RestPos,
                          Tail);
        if (tab == std::string::npos)
            break;
        if (stop > 0)
            s.CursorX = (std::floor(s.CursorX / stop + 1e-9) + 1) * stop;
        if (s.Column < INT32_MAX - 8)
            s.Column = (s.Column / 8 + 1) * 8;
        R.Pass.AtLineStart = false;
        from = tab + 1;
    }
}

void TTagInterpreter::DrawTextPiece(tRenderState& State, std::string Run, const std::string& Line, size_t RestPos,
                              TLineTail& Tail)
{
    tSpan& s = R.Span();
    TRenderingCanvas& c = *s.Canvas;
    const double ppx = R.Metrics.PixelsPerInchX;
    auto widthIn = [&](const std::string& t) { return ppx != 0 ? c.TextWidth(t) / ppx : 0.0; };

    const std::string align = s.GetAlign();
    if (align == "CENTER") {
        if (!R.Pass.AlignWholeLine) {
            s.CursorX -= widthIn(Trim(Run)) / 2;
        } else if (R.Pass.AtLineStart) {
            s.CursorX -= (ppx != 0 ? WholeLineWidth(c, Run, Line, RestPos, Tail) / ppx : 0.0) / 2;
            Run = TrimLeft(Run);
        }
    }
    R.Pass.AtLineStart = false;
    const double anchor = s.CursorX;
    if (align == "RIGHT")
        s.CursorX -= R.Pass.AlignWholeLine ? (ppx != 0 ? WholeLineWidth(c, Run, Line, RestPos, Tail) / ppx : 0.0)
                                    : widthIn(Trim(Run));

    if (s.CursorY == 0)
        s.CursorY = s.LineHeight;
    const TRect clip{R.DevX(s.Left), R.DevY(s.Top), R.DevX(s.Right), R.DevY(s.Bottom)};
    double y = s.CursorY;
    if (s.SubscriptLevel < s.SuperscriptLevel)
        y = s.CursorY - s.LineHeight * 0.5;
    else if (s.SuperscriptLevel < s.SubscriptLevel)
        y = s.CursorY + s.LineHeight / 3;

    const tFontInfo& f = s.Font();
    c.Font.Color = f.Color;
    const double rotation = f.Rotation + s.Rotation;
    if (std::fabs(rotation) > 0 || State.LastRotation > 0) {
        try {
            c.SetFontAngle(rotation);
        } catch (const ECannotCreateFont&) {
            ShowMessage("Could not create rotated Font! (Error #" + std::to_string(errno) + ")", "Error");
        }
    } else {
        c.Font.Name = f.Name;
        c.Font.Size = f.Size + 1;
        c.Font.Size = f.Size;
        c.Font.Style = f.Style;
        c.FontChanged();
    }
    State.LastRotation = rotation;

    const std::string text = align == "RIGHT" ? Trim(Run) : Run;
    const TSize extent = c.TextExtent(Run);
    R.NoteRunBelowBottom(Run, R.Metrics.PixelsPerInchY != 0 ? extent.cy / R.Metrics.PixelsPerInchY : 0.0);
    const int top = R.DevY(s.Top + y) - extent.cy;
    const int left = R.DevX(s.Left + s.CursorX);
    if (rotation == 0 && ppx != 0 && s.Left + s.CursorX + extent.cx / ppx > R.Metrics.LeftOffset + R.Metrics.PrintableWidth) {
        // Only ink counts: the spaces at the run's end cut off lose nothing.
        const size_t inked = text.find_last_not_of(" \t");
        if (inked != std::string::npos)
            R.NoteRunPastRightEdge(s.Left + s.CursorX + widthIn(text.substr(0, inked + 1)));
    }

    const tPenInfo& pen = s.Pen();
    try {
        if (!(f.BackColor == 0xFFFFFF && f.BackStyle == bsClear)) {
            c.Brush.Color = f.BackColor;
            c.Brush.Style = ToBrushStyle(f.BackStyle);
            c.Pen.Style = psClear;
            c.Pen.Mode = pmCopy;
            c.FillRect(TRect{left, top, left + extent.cx, top + extent.cy});
            c.Pen.Mode = ToPenMode(pen.Mode);
            c.Pen.Color = pen.Color | PaletteFlag;
        }
        c.Brush.Color = 0xFFFFFF;
        c.Brush.Style = bsClear;

        if (s.Clip)
            c.TextRect(clip, left, top, text);
        else
            c.TextOut(left, top, text);
    } catch (const std::overflow_error&) {
        // A surface that cannot express the position (the PDF's points) has
        // the run beyond every page: nothing of it would show, as on the
        // screen, and the line goes on.
    }

    // Columns count characters: in UTF-8 the bytes that start one.
    size_t characters = Run.size();
    if (R.ReportEncoding != tRenderer::TReportEncoding::Cp1252)
        characters = static_cast<size_t>(
            std::count_if(Run.begin(), Run.end(), [](char b) { return (static_cast<unsigned char>(b) & 0xC0) != 0x80; }));
    s.Column += static_cast<int>(std::min<size_t>(characters, INT32_MAX / 2));
    c.Pen.Mode = ToPenMode(pen.Mode);
    c.Pen.Style = ToPenStyle(pen.Style);
    c.Brush.Color = pen.BrushColor;
    c.Brush.Style = ToBrushStyle(pen.BrushStyle);

    // A right-aligned run leaves the cursor at its anchor, so the next run of
    // the line is measured against the same anchor and lands after this one.
    if (align != "RIGHT")
        s.CursorX += extent.cx / ppx;
    else
        s.CursorX = anchor;
}

void TTagInterpreter::SetStyleBit(int& Level, TFontStyles Bit, int Delta)
{
    CheckedAdd(Level, Delta);
    tSpan& s = R.Span();
    tFontInfo& f = s.Font();
    if (Delta > 0 && Level > 0)
        f.Style |= Bit;
    else if (Delta < 0 && Level < 1)
        f.Style &= static_cast<TFontStyles>(~Bit);
    else
        return;
    if (s.Canvas) {
        s.Canvas->Font.Style = f.Style;
        s.Canvas->Font.Size = f.Size;
        s.Canvas->FontChanged();
    }
}

void TTagInterpreter::TagFixedOrProp(const std::string& Name)
{
    tSpan& s = R.Span();
    tFontInfo& f = s.Font();
    f.Name = Name;
    if (s.Canvas) {
        s.Canvas->Font.Name = Name;
        s.Canvas->Font.Size = f.Size;
        s.Canvas->FontChanged();
    }
    R.RecomputeLineHeight();
}

void TTagInterpreter::TagPitch(uint8_t Size)
{
    tSpan& s = R.Span();
    tFontInfo& f = s.Font();
    f.Size = static_cast<int>(RoundHalfEven(R.Scale * Size));
    if (s.Canvas) {
        s.Canvas->Font.Size = f.Size;
        s.Canvas->FontChanged();
    }
    R.RecomputeLineHeight();
}

void TTagInterpreter::TagGoto(tRenderState&, const std::string& Tag)
{
    tSpan& s = R.Span();
    const bool absolute = !IsBlank(GetAttribute(Tag, "ABS;ABSOLUTE"));
    if (absolute) {
        s.CursorX = R.MeasureAttr(Tag, "LEFT;COL;X", 'X', s.CursorX + s.Left) - s.Left;
        s.CursorY = R.MeasureAttr(Tag, "TOP;ROW;Y", 'Y', s.CursorY + s.Top) - s.Top;
    } else {
        s.CursorX = R.MeasureAttr(Tag, "LEFT;COL;X", 'X', s.CursorX);
        s.CursorY = R.MeasureAttr(Tag, "TOP;ROW;Y", 'Y', s.CursorY);
    }
    R.Pass.AlignWholeLine = false;
}

void TTagInterpreter::TagGoby(tRenderState&, const std::string& Tag)
{
    tSpan& s = R.Span();
    s.CursorX += R.MeasureAttr(Tag, "LEFT;COL;X", 'X', 0);
    s.CursorY += R.MeasureAttr(Tag, "TOP;ROW;Y", 'Y', 0);
    R.Pass.AlignWholeLine = false;
}

void TTagInterpreter::TagLpp(tRenderState&, const std::string& Tag)
{
    int n = ParseIntPrefix(GetAttribute(Tag, ""), 2);
    if (n > 0)
        R.SetLinesPerPage(n);
}

void TTagInterpreter::TagLpi(tRenderState&, const std::string& Tag)
{
    tSpan& s = R.Span();
    s.LinesPerInch = ParseIntPrefix(GetAttribute(Tag, ""), 0);
    if (s.LinesPerInch > 0) {
        s.LinesPerPage = 0;
        s.LineHeight = 1.0 / s.LinesPerInch;
        s.Font().LineHeight = s.LineHeight;
    }
}

void TTagInterpreter::TagPage(tRenderState& State, const std::string&)
{
    State.PageBreakPending = true;
    State.BreakLineEnded = false;
    R.Span().CursorX = 0;
    R.Span().CursorY = 0;
}

void TTagInterpreter::TagFixedPitch(tRenderState&, const std::string&) { TagFixedOrProp(R.Setup.FixedFontName); }
void TTagInterpreter::TagProportional(tRenderState&, const std::string&) { TagFixedOrProp(R.Setup.PropFontName); }
void TTagInterpreter::TagCpi10(tRenderState&, const std::string&) { TagPitch(R.Setup.Cpi10Size); }
void TTagInterpreter::TagCpi12(tRenderState&, const std::string&) { TagPitch(R.Setup.Cpi12Size); }
void TTagInterpreter::TagCpi17(tRenderState&, const std::string&) { TagPitch(R.Setup.Cpi17Size); }

void TTagInterpreter::TagStyle(tRenderState&, const std::string& Tag)
{
    struct TStyleTag {
        const char* Open;
        const char* Close;
        int tSpan::*Level;
        TFontStyles Bit;
    };
    static const TStyleTag styles[] = {
        {"{B}", "{/B}", &tSpan::BoldLevel, fsBold},
        {"{I}", "{/I}", &tSpan::ItalicLevel, fsItalic},
        {"{U}", "{/U}", &tSpan::UnderlineLevel, fsUnderline},
        {"{STRIKE}", "{/STRIKE}", &tSpan::StrikeLevel, fsStrikeOut},
    };
    for (const TStyleTag& st : styles) {
        if (Tag == st.Open || Tag == st.Close) {
            tSpan& s = R.Span();
            SetStyleBit(s.*st.Level, st.Bit, Tag == st.Open ? 1 : -1);
            return;
        }
    }
}

void TTagInterpreter::TagRaiseOrLower(tRenderState&, const std::string& Tag)
{
    const bool closing = Tag.compare(0, 2, "{/") == 0;
    const bool super = Tag.find("SUP") != std::string::npos;
    tSpan& s = R.Span();
    CheckedAdd(super ? s.SuperscriptLevel : s.SubscriptLevel, closing ? -1 : 1);
}

void TTagInterpreter::TagSpanFamily(tRenderState& State, const std::string& Tag)
{
    Handler("{SPAN}", [&] { TagSpan(State, Tag); });
    // The page set-up asked for from outside goes over the header's.
    if (R.Pass.LineStartPos == 0 && Tag.compare(0, 5, "{INIT") == 0)
        Handler("{INIT}", [&] { R.ApplyPageSetupOverrides(); });
}

std::span<const TTagInterpreter::TTagRow> TTagInterpreter::TagTable()
{
    using T = TTagInterpreter;
    constexpr bool exact = false, prefix = true, always = false, unlessAborted = true;
    static const TTagRow rows[] = {
        {"{PAGE}", exact, nullptr, 0, always, &T::TagPage},
        {"{CPI}", exact, "{CPI}", 6, always, &T::TagFixedPitch},
        {"{PROP}", exact, "{PROP}", 7, always, &T::TagProportional},
        {"{GOTO", prefix, "{GOTO}", 8, always, &T::TagGoto},
        {"{GOBY", prefix, "{GOBY}", 9, always, &T::TagGoby},
        {"{CPI10}", exact, "{CPI10}", 10, always, &T::TagCpi10},
        {"{10CPI}", exact, "{CPI10}", 10, always, &T::TagCpi10},
        {"{CPI12}", exact, "{CPI12}", 11, always, &T::TagCpi12},
        {"{12CPI}", exact, "{CPI12}", 11, always, &T::TagCpi12},
        {"{CPI17}", exact, "{CPI17}", 12, always, &T::TagCpi17},
        {"{17CPI}", exact, "{CPI17}", 12, always, &T::TagCpi17},
        {"{B}", exact, "{B}", 13, always, &T::TagStyle},
        {"{/B}", exact, "{/B}", 14, always, &T::TagStyle},
        {"{I}", exact, "{I}", 0, always, &T::TagStyle},
        {"{/I}", exact, "{/I}", 0, always, &T::TagStyle},
        {"{U}", exact, "{U}", 0, always, &T::TagStyle},
        {"{/U}", exact, "{/U}", 0, always, &T::TagStyle},
        {"{STRIKE}", exact, "{STRIKE}", 0, always, &T::TagStyle},
        {"{/STRIKE}", exact, "{/STRIKE}", 0, always, &T::TagStyle},
        {"{SUPER}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{SUP}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{SUPERSCRIPT}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{/SUPER}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{/SUP}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{/SUPERSCRIPT}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{SUB}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{SUBSCRIPT}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{/SUB}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{/SUBSCRIPT}", exact, nullptr, 0, always, &T::TagRaiseOrLower},
        {"{SPAN", prefix, nullptr, 0, always, &T::TagSpanFamily},
        {"{INIT", prefix, nullptr, 0, always, &T::TagSpanFamily},
        {"{DIV", prefix, nullptr, 0, always, &T::TagSpanFamily},
        {"{HEADER", prefix, nullptr, 0, always, &T::TagSpanFamily},
        {"{FOOTER", prefix, nullptr, 0, always, &T::TagSpanFamily},
        {"{/SPAN}", exact, "{/SPAN}", 0, always, &T::TagEndSpan},
        {"{/DIV}", exact, "{/SPAN}", 0, always, &T::TagEndSpan},
        {"{/HEADER}", exact, "{/SPAN}", 0, always, &T::TagEndSpan},
        {"{/FOOTER}", exact, "{/SPAN}", 0, always, &T::TagEndSpan},
        {"{LPP", prefix, "{LPP}", 0, always, &T::TagLpp},
        {"{LPI", prefix, "{LPI}", 0, always, &T::TagLpi},
        // Tags that draw or read: not once the pass is aborted.
        {"{FONT", prefix, "{FONT}", 0, unlessAborted, &T::TagFont},
        {"{/FONT", prefix, "{/FONT}", 0, unlessAborted, &T::TagFont},
        {"{ALIGN", prefix, "{ALIGN}", 0, unlessAborted, &T::TagAlign},
        {"{/ALIGN", prefix, "{/ALIGN}", 0, unlessAborted, &T::TagAlign},
        {"{PEN", prefix, "{PEN}", 0, unlessAborted, &T::TagPen},
        {"{/PEN", prefix, "{/PEN}", 0, unlessAborted, &T::TagPen},
        {"{FIELD", prefix, "{FIELD}", 0, unlessAborted, &T::TagField},
        {"{LINE", prefix, "{LINE}", 0, unlessAborted, &T::TagLine},
        {"{RECTANGLE", prefix, "{RECT}", 0, unlessAborted, &T::TagRect},
        {"{RECT", prefix, "{RECT}", 0, unlessAborted, &T::TagRect},
        {"{CIRCLE", prefix, "{CIRCLE}", 0, unlessAborted, &T::TagCircle},
        {"{OVAL", prefix, "{CIRCLE}", 0, unlessAborted, &T::TagCircle},
        {"{ELLIPSE", prefix, "{CIRCLE}", 0, unlessAborted, &T::TagCircle},
        {"{ARC", prefix, "{CIRCLE}", 0, unlessAborted, &T::TagCircle},
        {"{PIE", prefix, "{CIRCLE}", 0, unlessAborted, &T::TagCircle},
        {"{POLYGON", prefix, "{POLYGON}", 0, unlessAborted, &T::TagPolygon},
        {"{POLY", prefix, "{POLYGON}", 0, unlessAborted, &T::TagPolygon},
        {"{HIGHLIGHTLINE", prefix, "{HIGHLIGHT}", 0, unlessAborted, &T::TagHighlight},
        {"{HIGHLIGHT", prefix, "{HIGHLIGHT}", 0, unlessAborted, &T::TagHighlight},
        {"{IMAGE", prefix, "{IMAGE}", 0, unlessAborted, &T::TagImage},
        {"{IMG", prefix, "{IMAGE}", 0, unlessAborted, &T::TagImage},
        // {CHR, {LANDSCAPE, {PORTRAIT, {RESET and every unknown tag: nothing.
    };
    return rows;
}

void TTagInterpreter::HandleTag(tRenderState& State, const std::string& Tag)
{
    for (const TTagRow& row : TagTable()) {
        if (row.Prefix ? Tag.compare(0, row.Name.size(), row.Name) != 0 : Tag != row.Name)
            continue;
        if (row.SkippedWhenAborted && R.Pass.Aborted)
            return;
        if (row.AreaCode != 0)
            R.Pass.AreaCode = row.AreaCode;
        if (row.Caption)
            Handler(row.Caption, [&] { (this->*row.Handle)(State, Tag); });
        else
            (this->*row.Handle)(State, Tag);
        return;
    }
}

}  // namespace quillard
