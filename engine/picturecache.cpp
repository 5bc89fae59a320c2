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

void TPictureCache::Clear()
{
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
