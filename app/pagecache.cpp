#include "app/pagecache.h"

#include <algorithm>
#include <cstdlib>

namespace quillard {

const QImage* TPageCache::Find(int Page, const TKey& Key) const
{
    for (const TEntry& e : FEntries)
        if (e.Page == Page && e.Key == Key)
            return &e.Picture;
    return nullptr;
}

void TPageCache::Put(int Page, const TKey& Key, QImage Picture)
{
    if (Picture.isNull() || Picture.sizeInBytes() > MaxPageBytes)
        return;
    FEntries.erase(std::remove_if(FEntries.begin(), FEntries.end(),
                                  [&](const TEntry& e) { return e.Page == Page || !(e.Key == Key); }),
                   FEntries.end());
    FEntries.push_back({Page, Key, std::move(Picture)});
    while (FEntries.size() > MaxPages) {
        auto farthest = std::max_element(FEntries.begin(), FEntries.end(), [&](const TEntry& a, const TEntry& b) {
            return std::abs(a.Page - Page) < std::abs(b.Page - Page);
        });
        FEntries.erase(farthest);
    }
}

void TPageCache::KeepAround(int Page)
{
    FEntries.erase(std::remove_if(FEntries.begin(), FEntries.end(),
                                  [&](const TEntry& e) { return std::abs(e.Page - Page) > 1; }),
                   FEntries.end());
}

}  // namespace quillard
