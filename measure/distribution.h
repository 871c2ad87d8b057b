#pragma once

#include <cstddef>
#include <vector>

// Values gathered one by one, and the order statistics of them all. Every
// percentile is by nearest rank: a value that was added, never one between.
class Distribution
{
public:
    void add(double value);

    std::size_t count() const { return values.size(); }
    bool isEmpty() const { return values.empty(); }

    // The smallest value that at least the fraction p (0..1) of the values
    // does not exceed; p 0 gives the smallest. Needs a value.
    double percentile(double p) const;
    double median() const { return percentile(0.5); }
    double largest() const;

private:
    // Sorted when asked for, not at every value.
    mutable std::vector<double> values;
    mutable bool sorted = true;

    void sort() const;
};
