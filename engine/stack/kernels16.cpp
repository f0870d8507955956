// Placeholder 16-bit kernels, straight from the definitions, until the vector ones land.
#include "engine/stack/mediankernel.h"
#include "engine/stack/stackmode.h"

#include <algorithm>
#include <vector>

void medianRow(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out, std::size_t count)
{
    std::vector<std::uint16_t> s(static_cast<std::size_t>(n));
    for (std::size_t x = 0; x < count; ++x) {
        for (int i = 0; i < n; ++i)
            s[std::size_t(i)] = first[std::size_t(i) * imageStride + x];
        std::sort(s.begin(), s.end());
        out[x] = std::uint16_t((unsigned(s[std::size_t((n - 1) / 2)]) + s[std::size_t(n / 2)]) / 2);
    }
}

void sigmaClippedMeanRow(const std::uint16_t *first, std::size_t imageStride, int n, int kappaHundredths,
                         std::uint16_t *out, std::size_t count)
{
    __extension__ typedef __int128 Wide;
    std::vector<int> s;
    for (std::size_t x = 0; x < count; ++x) {
        s.clear();
        for (int i = 0; i < n; ++i)
            s.push_back(first[std::size_t(i) * imageStride + x]);
        for (int round = 0; round < 10; ++round) {
            Wide m = Wide(s.size()), sum = 0, sq = 0;
            for (int v : s) { sum += v; sq += Wide(v) * v; }
            std::vector<int> left;
            for (int v : s) { const Wide d = m * v - sum; if (!(10000 * d * d > Wide(kappaHundredths) * kappaHundredths * (m * sq - sum * sum))) left.push_back(v); }
            if (left.size() == s.size()) break;
            s = left;
        }
        Wide sum = 0;
        for (int v : s) sum += v;
        out[x] = std::uint16_t((2 * sum + Wide(s.size())) / (2 * Wide(s.size())));
    }
}
