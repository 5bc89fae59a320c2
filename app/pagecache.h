// The pages the preview has drawn, kept as pictures: the page shown and the
// pages beside it, drawn ahead while nothing else happens, so that paging to
// them shows them at once. A page is taken from here only for the very
// layout it was drawn in (the report as it is on disk, zoom, surface,
// settings, search, test pattern).
#pragma once

#include "engine/pagecheckpoints.h"

#include <QImage>
#include <cstddef>
#include <vector>

namespace quillard {

class TPageCache {
public:
    // The key of a drawing: the layout and whether the test pattern is on.
    struct TKey {
        TLayoutKey Layout;
        bool TestPattern = false;
        bool operator==(const TKey& Other) const = default;
    };

    // At most this many pages (the page shown and one on each side), and no
    // page larger than MaxPageBytes.
    static constexpr size_t MaxPages = 3;
    static constexpr qsizetype MaxPageBytes = 64 << 20;

    // The picture of Page drawn for Key; null when there is none.
    const QImage* Find(int Page, const TKey& Key) const;
    // Keeps Page's picture (a page too large is not kept). The pages kept
    // before for another key go; beyond MaxPages the page farthest from
    // Page goes.
    void Put(int Page, const TKey& Key, QImage Picture);
    // Drops the pages that are not within one page of Page.
    void KeepAround(int Page);
    void Clear() { FEntries.clear(); }
    size_t Size() const { return FEntries.size(); }

private:
    struct TEntry {
        int Page = 0;
        TKey Key;
        QImage Picture;
    };
    std::vector<TEntry> FEntries;
};

}  // namespace quillard
