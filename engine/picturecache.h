// What a report's pictures may cost: decoded pictures kept for the next
// reference to the same picture, and the decoding work one page pass may
// spend on pictures.
#pragma once

#include "surfaces/canvas.h"

#include <cstdint>
#include <list>
#include <sys/stat.h>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillard {

// A key that tells picture files apart by their contents.
std::string ContentKey(const std::vector<uint8_t>& Bytes);

// Decoded pictures by key, the least recently used dropped first once they
// hold more than MaxBytes of pixels.
class TPictureCache {
public:
    static constexpr size_t DefaultMaxBytes = 128u << 20;
    explicit TPictureCache(size_t MaxBytes = DefaultMaxBytes) : FMaxBytes(MaxBytes) {}

    std::shared_ptr<const TGraphic> Find(const std::string& Key);
    // A picture larger than the whole cache is not kept.
    void Add(const std::string& Key, std::shared_ptr<const TGraphic> Picture);
    void Clear();
    size_t Bytes() const { return FBytes; }

    // What a picture file held when the running pass read it: named again
    // unchanged (the same file, size and times), it is not read again in the
    // pass. Width 0: it held no picture.
    struct TFileRead {
        uint64_t Device = 0, Inode = 0;
        int64_t Size = 0, ModifiedNs = 0, ChangedNs = 0;
        std::string ContentKey;
        int Width = 0, Height = 0;
    };
    // The record of Path when St (its state now) matches it, else nullptr.
    const TFileRead* FindFile(const std::string& Path, const struct stat& St) const;
    // Records Path as read in state St.
    void AddFile(const std::string& Path, const struct stat& St, const std::string& ContentKey, int Width, int Height);
    // A pass starts: files may have changed since the last one.
    void NewPass() { FFiles.clear(); }

private:
    struct TEntry {
        std::string Key;
        std::shared_ptr<const TGraphic> Picture;
        size_t Bytes;
    };
    size_t FMaxBytes;
    size_t FBytes = 0;
    std::list<TEntry> FEntries;  // most recently used first
    std::unordered_map<std::string, std::list<TEntry>::iterator> FByKey;
    std::unordered_map<std::string, TFileRead> FFiles;
};

// The decoding work of one page pass: a fixed allowance of pixels, and more
// for every byte of picture data the pass reads, so that what a report's
// pictures cost follows what the report carries, not the sizes their
// headers declare.
class TPictureBudget {
public:
    static constexpr int64_t BasePixels = 512'000'000;
    static constexpr int64_t PixelsPerByte = 256;

    // A new pass: the base allowance again.
    void Reset()
    {
        FAllowed = FBase;
        FSpent = 0;
        FExhausted = false;
    }
    // The allowance every pass starts with (BasePixels unless changed).
    void SetBasePixels(int64_t Pixels) { FBase = Pixels; }
    int64_t BaseAllowance() const { return FBase; }
    void AddBytes(size_t Bytes) { FAllowed += static_cast<int64_t>(Bytes) * PixelsPerByte; }
    // Takes Pixels from the allowance; false (taking nothing) when they are
    // not left.
    bool Spend(int64_t Pixels);
    int64_t Spent() const { return FSpent; }
    int64_t Allowed() const { return FAllowed; }
    // Whether a picture has been refused in this pass.
    bool Exhausted() const { return FExhausted; }

private:
    int64_t FBase = BasePixels;
    int64_t FAllowed = BasePixels;
    int64_t FSpent = 0;
    bool FExhausted = false;
};

}  // namespace quillard
