#pragma once

#include <cstddef>
#include <vector>

// Values gathered one by one, and the order statistics of them all. Every
// percentile is by nearest rank: a value that was added, never one between.
class Distribution
{
public:
    void add(double value);
    // Forgets the values but keeps the room they took, so that a
    // distribution used again and again stops allocating.
    void clear();

    std::size_t count() const { return values.size(); }
    bool isEmpty() const { return values.empty(); }

    // The smallest value that at least the fraction p (0..1) of the values
    // does not exceed; p 0 gives the smallest. Needs a value.
    double percentile(double p) const;
    double median() const { return percentile(0.5); }
    double largest() const;

private:
    // In no particular order: a percentile moves the value of its rank into
    // place (linear time) rather than sorting them all, since the measuring
    // core asks for one rank of every contact that lifts. Values that came
    // in order need no moving.
    mutable std::vector<double> values;
    bool sorted = true;
};
