#pragma once

#include <QImage>

// Caches that items gone left behind, kept for new items to take. A
// screen-sized cache costs two thousand fresh pages to allocate, and under a
// flood of absurdly large contacts markers come and go many times a second.
class CachePool
{
public:
    // A premultiplied ARGB image of at least this size: a kept one that is
    // not much larger, else a new one.
    static QImage* take(int width, int height);
    // Keeps the image for a later take, as long as the pool stays small;
    // else frees it.
    static void give(QImage* image);
    // What the kept images hold.
    static qsizetype keptBytes();
};
