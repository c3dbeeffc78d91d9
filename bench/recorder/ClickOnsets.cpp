#include "ClickOnsets.h"

#include <algorithm>
#include <cmath>

std::vector<double> FindClickOnsets(const std::vector<float>& samples, int rate, double threshold,
                                    double minGapSeconds)
{
    std::vector<double> onsets;
    const auto minGap = static_cast<long long>(minGapSeconds * rate);
    long long lastLoud = -minGap - 1;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) <= threshold)
            continue;
        const auto at = static_cast<long long>(i);
        if (at - lastLoud > minGap)
            onsets.push_back(static_cast<double>(i) / rate);
        lastLoud = at;
    }
    return onsets;
}

std::vector<ClickPair> PairOnsets(const std::vector<double>& a, const std::vector<double>& b, double maxDistance)
{
    std::vector<ClickPair> pairs;
    for (double t : a) {
        const auto it = std::lower_bound(b.begin(), b.end(), t);
        double best = maxDistance + 1;
        if (it != b.end())
            best = *it - t;
        if (it != b.begin() && std::fabs(*(it - 1) - t) < std::fabs(best))
            best = *(it - 1) - t;
        if (std::fabs(best) <= maxDistance)
            pairs.push_back({t, best});
    }
    return pairs;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
