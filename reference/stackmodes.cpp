#include "reference/stackmodes.h"

#include "reference/exchangesortmedian.h"

#include <algorithm>
#include <numeric>

namespace {

__extension__ typedef __int128 Exact;

int meanOf(const std::vector<int> &samples)
{
    const Exact k = Exact(samples.size());
    const Exact sum = std::accumulate(samples.begin(), samples.end(), Exact(0));
    return int((2 * sum + k) / (2 * k));
}

int sigmaClipped(std::vector<int> samples, int p)
{
    for (int round = 0; round < 10; ++round) {
        const Exact n = Exact(samples.size());
        Exact sum = 0, squares = 0;
        for (const int v : samples) {
            sum += v;
            squares += Exact(v) * v;
        }
        std::vector<int> left;
        for (const int v : samples) {
            const Exact d = n * v - sum;
            if (!(10000 * d * d > Exact(p) * p * (n * squares - sum * sum)))
                left.push_back(v);
        }
        if (left.size() == samples.size())
            break;
        samples = std::move(left);
    }
    return meanOf(samples);
}

} // namespace

int referenceStack(const StackOptions &options, std::vector<int> samples)
{
    switch (options.mode) {
    case StackMode::Median:
        return samples.size() == 1 ? samples[0]
                                   : exchangeSortMedian(std::vector<double>(samples.begin(), samples.end()));
    case StackMode::Mean:
        return meanOf(samples);
    case StackMode::SigmaClippedMean:
        return sigmaClipped(std::move(samples), options.kappaHundredths);
    case StackMode::Minimum:
        return *std::min_element(samples.begin(), samples.end());
    case StackMode::Maximum:
        return *std::max_element(samples.begin(), samples.end());
    }
    return 0;
}
