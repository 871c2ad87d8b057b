#include "contactids.h"

int ContactIds::take(Kind kind, int holder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::bitset<MaxId + 1>& taken = m_taken[kind];
    const int first = kind == Touch ? m_lastTouch + 1 : 0;
    for (int step = 0; step <= MaxId; ++step) {
        const int id = (first + step) % (MaxId + 1);
        if (!taken[std::size_t(id)]) {
            taken[std::size_t(id)] = true;
            m_holders[kind][std::size_t(id)] = holder;
            if (kind == Touch)
                m_lastTouch = id;
            return id;
        }
    }
    return -1;
}

void ContactIds::release(Kind kind, int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (id >= 0 && id <= MaxId)
        m_taken[kind][std::size_t(id)] = false;
}

int ContactIds::holder(Kind kind, int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (id < 0 || id > MaxId || !m_taken[kind][std::size_t(id)])
        return -1;
    return m_holders[kind][std::size_t(id)];
}
