#pragma once

#include <array>
#include <bitset>
#include <mutex>

// The ids that board packets give their contacts, per kind (touch, eraser,
// pen). Records do not say which board sent them, so the translators of
// several devices share one of these: no two contacts down at the same time
// hold the same id, whichever device they are on, and each id held says by
// which. Thread-safe.
class ContactIds
{
public:
    enum Kind
    {
        Touch,
        Eraser,
        Pen,
        Kinds
    };

    static constexpr int MaxId = 127;

    // A free id for the holder (0 or above), or -1 when every one is held.
    // Touch ids go round, so that a lifted contact's id is the last to come
    // back; a pen or an eraser takes the lowest, so that one alone keeps 0.
    int take(Kind kind, int holder = 0);
    void release(Kind kind, int id);
    // Who holds the id; -1 when nobody does.
    int holder(Kind kind, int id);

private:
    std::mutex m_mutex;
    std::array<std::bitset<MaxId + 1>, Kinds> m_taken;
    std::array<std::array<int, MaxId + 1>, Kinds> m_holders{};
    int m_lastTouch = MaxId;
};
