// Where the pages of a laid-out report start. A page pass notes, at the first
// line it reads on a page, everything it needs to go on from there: the
// reading position, the spans, the pass's own state and the surface's font
// and pen. A later pass for a page further on goes on from the last such
// point before that page instead of laying out every page before it again.
// The notes hold for one layout only: the same version of the report, on the
// same kind of surface, at the same zoom, page and settings (TLayoutKey).
#pragma once

#include "engine/renderer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillard {

// Everything the layout of a pass follows from: two passes with equal keys
// lay the report out alike, page by page.
struct TLayoutKey {
    std::string FileName;
    TFileVersion Report;
    std::string SurfaceKind;
    int SurfaceDpiX = 0, SurfaceDpiY = 0;
    double Scale = 1;
    tRenderer::TPageMetrics Metrics;
    tRenderer::TReportSetup Setup;
    tRenderer::TPageSetupOverrides Overrides;
    bool UnixLineEnds = false, PlainLayout = false;
    tRenderer::TReportEncoding Encoding = tRenderer::TReportEncoding::Cp1252;
    bool ReportHasBom = false, ReportHasBoxRuns = false;
    bool UseLineDrawFont = false, LineDrawChosen = false;
    bool Untrusted = false, FromNetwork = false;
    std::string NetworkPictureFolder;
    std::string FindText, FindTextUtf8;
    bool FindCaseSensitive = false;
    int64_t PicturePixels = 0;
    int64_t FieldTextBase = 0;
    bool operator==(const TLayoutKey& Other) const = default;
};

// The state of a page pass at the start of a line of page Page.
struct TPageCheckpoint {
    // The pass was on this page: pages after it can be laid out from here.
    int Page = 0;
    int64_t FilePos = 0;  // where the next line starts
    std::vector<std::pair<int, tSpan::TSaved>> Spans;  // slot and span
    int SpanIndex = 1;
    tRenderer::TPassState Pass;
    bool PageBreakPending = false, BreakLineEnded = false;
    double LastRotation = 0;
    std::string LineEnd;
    TFont Font;
    TPen Pen;
    TBrush Brush;
    uint32_t CopyMode = 0;
    TPictureBudget Budget;
    // The length of the pass's found pages by then.
    size_t FoundPagesLength = 0;
    // Bytes it holds, roughly.
    size_t Bytes() const;
};

class TPageCheckpoints {
public:
    // At most this many are kept: past it every other one goes and the
    // pages between two grow twice as far apart, so that a report of any
    // length is held in the same memory.
    static constexpr size_t MaxCheckpoints = 512;
    // A state larger than this (a long line held in hand) is not kept.
    static constexpr size_t MaxCheckpointBytes = 256 << 10;

    // A pass of Key starts: notes of another layout go.
    void StartPass(const TLayoutKey& Key);
    // The last checkpoint before FromPage, or nullptr.
    const TPageCheckpoint* Before(int FromPage) const;
    // Whether a checkpoint of Page is wanted (none of it or after it yet,
    // and far enough from the last one).
    bool Wants(int Page) const;
    void Add(TPageCheckpoint Checkpoint);
    // The pages a pass that laid the report out from its first page (or
    // went on from a checkpoint of this table) had found when it stopped on
    // page UpToPage. (The lines below the bottom are noted of the pages a
    // pass draws, and a pass goes on from a page before the ones it draws.)
    void NoteFoundPages(int UpToPage, const std::string& FoundPages);
    // The pages found before Checkpoint.
    std::string FoundPagesBefore(const TPageCheckpoint& Checkpoint) const;
    void Clear();

private:
    std::optional<TLayoutKey> FKey;
    std::vector<TPageCheckpoint> FPoints;  // by page
    int FStep = 1;
    int FFindingsPage = 0;
    std::string FFoundPages;
};

}  // namespace quillard
