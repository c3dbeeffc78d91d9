#pragma once
// Finding short clicks in a recorded channel and pairing the clicks of two channels, to measure
// how far apart two recording paths put the same sound.

#include <vector>

// Times (seconds) of the first sample of each click: a sample whose magnitude exceeds threshold
// after at least minGapSeconds without such a sample.
std::vector<double> FindClickOnsets(const std::vector<float>& samples, int rate, double threshold,
                                    double minGapSeconds);

// A click of channel a and its partner in channel b.
struct ClickPair {
    double at = 0;     // onset in a (seconds)
    double offset = 0; // onset in b minus onset in a (seconds)
};

// For each onset in a, the nearest onset in b within maxDistance seconds. Onsets of a without a
// partner are left out.
std::vector<ClickPair> PairOnsets(const std::vector<double>& a, const std::vector<double>& b, double maxDistance);

// Median of values (0 for none).
double Median(std::vector<double> values);
