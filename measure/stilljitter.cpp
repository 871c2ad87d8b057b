#include "stilljitter.h"

#include <algorithm>
#include <cmath>

void StillJitter::add(const Sample& sample)
{
    if (!m_offsets.empty()) {
        const double dx = sample.x - m_anchor.x;
        const double dy = sample.y - m_anchor.y;
        if (dx * dx + dy * dy > Radius * Radius)
            endRun();
    }
    if (m_offsets.empty())
        m_anchor = sample;
    const Offset offset{sample.x - m_anchor.x, sample.y - m_anchor.y};
    m_offsets.push_back(offset);
    m_sumX += offset.x;
    m_sumY += offset.y;
    m_sumSquares += offset.x * offset.x + offset.y * offset.y;
    m_lastMs = sample.ms;
    if (!isStill())
        return;
    if (m_offsets.size() >= 2 * m_measuredAt) {
        measureAll();
    } else {
        const double n = double(m_offsets.size());
        const double dx = offset.x - m_sumX / n;
        const double dy = offset.y - m_sumY / n;
        m_largestSquare = std::max(m_largestSquare, dx * dx + dy * dy);
    }
}

void StillJitter::measureAll()
{
    const double n = double(m_offsets.size());
    const double meanX = m_sumX / n;
    const double meanY = m_sumY / n;
    m_largestSquare = 0;
    for (const Offset& offset : m_offsets) {
        const double dx = offset.x - meanX;
        const double dy = offset.y - meanY;
        m_largestSquare = std::max(m_largestSquare, dx * dx + dy * dy);
    }
    m_measuredAt = m_offsets.size();
}

StillJitter::Run StillJitter::run() const
{
    const double n = double(m_offsets.size());
    const double meanX = m_sumX / n;
    const double meanY = m_sumY / n;
    Run run;
    run.x = m_anchor.x + meanX;
    run.y = m_anchor.y + meanY;
    run.jitter = std::sqrt(m_largestSquare);
    // Mean squared distance from the mean: that from the anchor less the
    // mean's own, which rounding can take a hair below zero.
    run.rms = std::sqrt(std::max(0.0, m_sumSquares / n - meanX * meanX - meanY * meanY));
    run.startMs = m_anchor.ms;
    run.endMs = m_lastMs;
    run.reports = m_offsets.size();
    return run;
}

std::optional<StillJitter::Run> StillJitter::current() const
{
    if (!isStill())
        return std::nullopt;
    return run();
}

void StillJitter::endRun()
{
    if (isStill()) {
        measureAll();
        const Run ended = run();
        if (!m_largest || ended.jitter > m_largest->jitter)
            m_largest = ended;
        m_largestRms = std::max(m_largestRms.value_or(0.0), ended.rms);
        m_last = ended;
    }
    m_offsets.clear();
    m_sumX = m_sumY = m_sumSquares = 0;
    m_largestSquare = 0;
    m_measuredAt = 0;
}

void StillJitter::finish()
{
    endRun();
}

void StillJitter::reset()
{
    endRun();
    m_largest.reset();
    m_largestRms.reset();
    m_last.reset();
}
