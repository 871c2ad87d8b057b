#include "cachepool.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// A few screens' worth: enough for the giant markers of one frame.
constexpr qsizetype MostKeptBytes = qsizetype(32) << 20;
// A kept image serves a request at most this many times its area: a
// marker's refresh fills and copies its whole cache.
constexpr qsizetype MostWaste = 2;

struct Pool
{
    std::mutex mutex;
    std::vector<std::unique_ptr<QImage>> kept;
    qsizetype keptBytes = 0;
};

Pool& pool()
{
    static Pool instance;
    return instance;
}

} // namespace

QImage* CachePool::take(int width, int height)
{
    Pool& p = pool();
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        const qsizetype area = qsizetype(width) * height;
        auto best = p.kept.end();
        for (auto it = p.kept.begin(); it != p.kept.end(); ++it) {
            const QImage& image = **it;
            const qsizetype keptArea = qsizetype(image.width()) * image.height();
            if (image.width() >= width && image.height() >= height &&
                keptArea <= MostWaste * area &&
                (best == p.kept.end() ||
                 keptArea < qsizetype((*best)->width()) * (*best)->height()))
                best = it;
        }
        if (best != p.kept.end()) {
            QImage* image = best->release();
            p.kept.erase(best);
            p.keptBytes -= image->sizeInBytes();
            return image;
        }
    }
    return new QImage(width, height, QImage::Format_ARGB32_Premultiplied);
}

void CachePool::give(QImage* image)
{
    if (!image)
        return;
    Pool& p = pool();
    std::unique_ptr<QImage> owned(image);
    std::lock_guard<std::mutex> lock(p.mutex);
    if (image->sizeInBytes() > MostKeptBytes)
        return;
    // The oldest go first to make room.
    while (p.keptBytes + image->sizeInBytes() > MostKeptBytes) {
        p.keptBytes -= p.kept.front()->sizeInBytes();
        p.kept.erase(p.kept.begin());
    }
    p.keptBytes += image->sizeInBytes();
    p.kept.push_back(std::move(owned));
}

qsizetype CachePool::keptBytes()
{
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.keptBytes;
}
