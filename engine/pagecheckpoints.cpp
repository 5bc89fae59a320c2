#include "engine/pagecheckpoints.h"

#include <algorithm>

namespace quillard {

size_t TPageCheckpoint::Bytes() const
{
    size_t n = sizeof(TPageCheckpoint) + LineEnd.capacity() + Font.Name.capacity() + Pass.FieldText.capacity() +
               Pass.LineRest.capacity() + Pass.TagAsWritten.capacity() + Pass.Plain.Text.capacity() +
               Pass.Plain.End.capacity();
    for (const auto& [slot, span] : Spans)
        n += span.Bytes();
    return n;
}

void TPageCheckpoints::StartPass(const TLayoutKey& Key)
{
    if (FKey && *FKey == Key)
        return;
    Clear();
    FKey = Key;
}

void TPageCheckpoints::Clear()
{
    FKey.reset();
    FPoints.clear();
    FPoints.shrink_to_fit();
    FStep = 1;
    FFindingsPage = 0;
    FFoundPages.clear();
}

const TPageCheckpoint* TPageCheckpoints::Before(int FromPage) const
{
    auto after = std::lower_bound(FPoints.begin(), FPoints.end(), FromPage,
                                  [](const TPageCheckpoint& c, int Page) { return c.Page < Page; });
    if (after == FPoints.begin())
        return nullptr;
    const TPageCheckpoint& c = *std::prev(after);
    // The findings before it must be known to go on from it.
    return c.Page <= FFindingsPage ? &c : nullptr;
}

bool TPageCheckpoints::Wants(int Page) const
{
    if (!FKey)
        return false;
    return FPoints.empty() || Page >= FPoints.back().Page + FStep;
}

void TPageCheckpoints::Add(TPageCheckpoint Checkpoint)
{
    if (!Wants(Checkpoint.Page) || Checkpoint.Bytes() > MaxCheckpointBytes)
        return;
    // A pass goes on only from a page span and a current span.
    auto holds = [&](int Slot) {
        return std::any_of(Checkpoint.Spans.begin(), Checkpoint.Spans.end(),
                           [Slot](const auto& Saved) { return Saved.first == Slot; });
    };
    if (!holds(1) || !holds(Checkpoint.SpanIndex))
        return;
    FPoints.push_back(std::move(Checkpoint));
    if (FPoints.size() < MaxCheckpoints)
        return;
    // Every other one goes, the first stays.
    size_t kept = 0;
    for (size_t i = 0; i < FPoints.size(); i += 2, ++kept)
        if (kept != i)
            FPoints[kept] = std::move(FPoints[i]);
    FPoints.resize(kept);
    FStep *= 2;
}

void TPageCheckpoints::NoteFoundPages(int UpToPage, const std::string& FoundPages)
{
    if (!FKey || UpToPage < FFindingsPage)
        return;
    FFindingsPage = UpToPage;
    FFoundPages = FoundPages;
}

std::string TPageCheckpoints::FoundPagesBefore(const TPageCheckpoint& Checkpoint) const
{
    return FFoundPages.substr(0, std::min(Checkpoint.FoundPagesLength, FFoundPages.size()));
}

}  // namespace quillard
