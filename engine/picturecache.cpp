#include "engine/picturecache.h"

#include <QCryptographicHash>

namespace quillard {

std::string ContentKey(const std::vector<uint8_t>& Bytes)
{
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(Bytes.data()), qsizetype(Bytes.size())));
    return hash.result().toStdString();
}

std::shared_ptr<const TGraphic> TPictureCache::Find(const std::string& Key)
{
    const auto it = FByKey.find(Key);
    if (it == FByKey.end())
        return nullptr;
    FEntries.splice(FEntries.begin(), FEntries, it->second);
    return it->second->Picture;
}

void TPictureCache::Add(const std::string& Key, std::shared_ptr<const TGraphic> Picture)
{
    if (!Picture)
        return;
    const size_t bytes = Picture->Pixels.size() * sizeof(uint32_t) + Picture->JpegData.size() + Key.size();
    if (bytes > FMaxBytes)
        return;
    if (const auto it = FByKey.find(Key); it != FByKey.end()) {
        FBytes -= it->second->Bytes;
        FEntries.erase(it->second);
        FByKey.erase(it);
    }
    while (!FEntries.empty() && FBytes + bytes > FMaxBytes) {
        FBytes -= FEntries.back().Bytes;
        FByKey.erase(FEntries.back().Key);
        FEntries.pop_back();
    }
    FEntries.push_front(TEntry{Key, std::move(Picture), bytes});
    FByKey[Key] = FEntries.begin();
    FBytes += bytes;
}

namespace {

TPictureCache::TFileRead StateOf(const struct stat& St)
{
    TPictureCache::TFileRead r;
    r.Device = static_cast<uint64_t>(St.st_dev);
    r.Inode = static_cast<uint64_t>(St.st_ino);
    r.Size = static_cast<int64_t>(St.st_size);
    r.ModifiedNs = int64_t(St.st_mtim.tv_sec) * 1'000'000'000 + St.st_mtim.tv_nsec;
    r.ChangedNs = int64_t(St.st_ctim.tv_sec) * 1'000'000'000 + St.st_ctim.tv_nsec;
    return r;
}

}  // namespace

const TPictureCache::TFileRead* TPictureCache::FindFile(const std::string& Path, const struct stat& St) const
{
    const auto it = FFiles.find(Path);
    if (it == FFiles.end())
        return nullptr;
    const TFileRead now = StateOf(St);
    const TFileRead& r = it->second;
    const bool same = r.Device == now.Device && r.Inode == now.Inode && r.Size == now.Size &&
                      r.ModifiedNs == now.ModifiedNs && r.ChangedNs == now.ChangedNs;
    return same ? &r : nullptr;
}

void TPictureCache::AddFile(const std::string& Path, const struct stat& St, const std::string& ContentKey, int Width,
                            int Height)
{
    // Names are few; a pass naming more files than this starts over.
    if (FFiles.size() >= 4096)
        FFiles.clear();
    TFileRead r = StateOf(St);
    r.ContentKey = ContentKey;
    r.Width = Width;
    r.Height = Height;
    FFiles[Path] = std::move(r);
}

void TPictureCache::Clear()
{
    FFiles.clear();
    FEntries.clear();
    FByKey.clear();
    FBytes = 0;
}

bool TPictureBudget::Spend(int64_t Pixels)
{
    if (Pixels < 0 || Pixels > FAllowed - FSpent) {
        FExhausted = true;
        return false;
    }
    FSpent += Pixels;
    return true;
}

}  // namespace quillard
