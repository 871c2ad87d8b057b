#include "stilljitter.h"

#include <algorithm>
#include <cmath>

void StillJitter::add(const Sample& sample)
{
    if (m_count > 0) {
        const double dx = sample.x - m_anchor.x;
        const double dy = sample.y - m_anchor.y;
        if (dx * dx + dy * dy > Radius * Radius)
            endRun();
    }
    if (m_count == 0)
        m_anchor = sample;
    const double x = sample.x - m_anchor.x, y = sample.y - m_anchor.y;
    m_offsets.add({x, y});
    ++m_count;
    m_sumX += x;
    m_sumY += y;
    m_sumSquares += x * x + y * y;
    m_lastMs = sample.ms;
}

StillJitter::Run StillJitter::run() const
{
    const double n = double(m_count);
    const double meanX = m_sumX / n;
    const double meanY = m_sumY / n;
    Run run;
    run.x = m_anchor.x + meanX;
    run.y = m_anchor.y + meanY;
    for (const PointHull::Point& p : m_offsets.corners())
        run.jitter = std::max(run.jitter, std::hypot(p.x - meanX, p.y - meanY));
    // Mean squared distance from the mean: that from the anchor less the
    // mean's own, which rounding can take a hair below zero.
    run.rms = std::sqrt(std::max(0.0, m_sumSquares / n - meanX * meanX - meanY * meanY));
    run.startMs = m_anchor.ms;
    run.endMs = m_lastMs;
    run.reports = m_count;
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
        const Run ended = run();
        if (!m_largest || ended.jitter > m_largest->jitter)
            m_largest = ended;
        m_largestRms = std::max(m_largestRms.value_or(0.0), ended.rms);
        m_last = ended;
    }
    m_offsets.clear();
    m_count = 0;
    m_sumX = m_sumY = m_sumSquares = 0;
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
