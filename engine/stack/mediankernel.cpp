#include "engine/stack/mediankernel.h"
#include "engine/stack/mediankernel_paths.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

// The median phase reads every sample once, so the kernel aims at memory speed. It works on a
// block of pixels at a time with lane-wide min/max, written with GCC vector extensions so that
// one template serves bytes and 16-bit samples, 16 bytes (SSE2, or SSE4.1 for the unsigned
// 16-bit min/max) and 32 bytes (AVX2) at a time. Everything that touches a vector is
// always_inline: it is then compiled with the instruction set of the entry point it lands in,
// which is what lets a baseline template run as AVX2 inside a target("avx2") function.

namespace {

// Stacks up to this size go through a selection network, larger ones through radix selection.
// At 64 the network is still about three times faster, but each larger one would add 10 KB or
// more of code per instruction set, for stacks deeper than a burst usually is.
constexpr int kMaxNetworkSamples = 64;

// L bytes of T: L / sizeof(T) lanes.
template <class T, int L>
using Vec [[gnu::vector_size(L)]] = T;

template <int L>
using HalfWords = Vec<std::int16_t, L>;

template <class V>
using LaneOf = std::remove_cvref_t<decltype(std::declval<V>()[0])>;

// How far ahead along each image's row to prefetch. The hardware prefetcher loses track of
// dozens of interleaved streams, and the loads of a big network come late in each block.
// Prefetches never fault, so running past the planes' end is harmless.
constexpr std::size_t kPrefetchAhead = 256; // bytes

template <class T>
[[gnu::always_inline]] inline void prefetchAhead(const T *first, std::size_t stride, int n)
{
    for (int i = 0; i < n; ++i)
        __builtin_prefetch(
            reinterpret_cast<const char *>(first + static_cast<std::size_t>(i) * stride) +
            kPrefetchAhead);
}

template <class T>
using NetworkFn = void (*)(const T *, std::size_t, T *, std::size_t);

template <class V, class T>
[[gnu::always_inline]] inline void loadSample(V &v, const T *p)
{
    std::memcpy(&v, p, sizeof v);
}

// floor((a + b) / 2) without widening. pavgb rounds up, so it is not used.
template <class V>
[[gnu::always_inline]] inline void floorAverage(V &out, const V &a, const V &b)
{
    out = static_cast<V>((a & b) + ((a ^ b) >> 1));
}

// Descending ranks of the two middle samples; equal for odd n.
constexpr int upperMiddleRank(int n) { return (n + 1) / 2; }
constexpr int lowerMiddleRank(int n) { return n / 2 + 1; }

// ---- Selection networks

// Compare-exchange of wires lo < hi: the minimum goes to lo, the maximum to hi. Pruning leaves
// out the outputs that nothing downstream reads. A wire's sample is loaded just before its
// first comparator, so that it takes a register only from then on.
struct Comparator {
    std::uint8_t lo = 0;
    std::uint8_t hi = 0;
    bool keepMin = true;
    bool keepMax = true;
    bool loadLo = false;
    bool loadHi = false;
};

constexpr int kMaxComparators = 1024; // Batcher's network on 64 wires has 543

struct NetworkDraft {
    std::array<Comparator, kMaxComparators> comparators{};
    int size = 0;
};

// Wires at n and beyond would hold +infinity and never swap, so comparators that touch them
// are dropped.
constexpr void addComparator(NetworkDraft &draft, int n, int lo, int hi)
{
    if (hi < n)
        draft.comparators[static_cast<std::size_t>(draft.size++)] = {
            static_cast<std::uint8_t>(lo), static_cast<std::uint8_t>(hi), true, true};
}

// Merges the sorted halves of wires lo, lo + step, lo + 2 * step, ... within a run of `width`.
constexpr void oddEvenMerge(NetworkDraft &draft, int n, int lo, int width, int step)
{
    const int next = 2 * step;
    if (next >= width) {
        addComparator(draft, n, lo, lo + step);
        return;
    }
    oddEvenMerge(draft, n, lo, width, next);
    oddEvenMerge(draft, n, lo + step, width, next);
    for (int i = lo + step; i + step < lo + width; i += next)
        addComparator(draft, n, i, i + step);
}

// Depth first, so that one sub-sort finishes before the next starts: far fewer wires are
// live at once than in the usual layer-by-layer order, and the unrolled code spills less.
constexpr void oddEvenMergeSort(NetworkDraft &draft, int n, int lo, int width)
{
    if (width < 2)
        return;
    oddEvenMergeSort(draft, n, lo, width / 2);
    oddEvenMergeSort(draft, n, lo + width / 2, width / 2);
    oddEvenMerge(draft, n, lo, width, 1);
}

// Batcher's odd-even merge sort into ascending order, pruned to the comparators that feed the
// middle wire(s). The result comes out in reverse order.
constexpr NetworkDraft draftNetwork(int n)
{
    NetworkDraft sorter;
    int width = 1;
    while (width < n)
        width *= 2;
    oddEvenMergeSort(sorter, n, 0, width);

    std::array<bool, kMaxNetworkSamples> live{};
    live[static_cast<std::size_t>(n - upperMiddleRank(n))] = true;
    live[static_cast<std::size_t>(n - lowerMiddleRank(n))] = true;
    NetworkDraft pruned;
    for (int c = sorter.size - 1; c >= 0; --c) {
        Comparator cmp = sorter.comparators[static_cast<std::size_t>(c)];
        cmp.keepMin = live[cmp.lo];
        cmp.keepMax = live[cmp.hi];
        if (!cmp.keepMin && !cmp.keepMax)
            continue;
        live[cmp.lo] = true;
        live[cmp.hi] = true;
        pruned.comparators[static_cast<std::size_t>(pruned.size++)] = cmp;
    }
    return pruned;
}

template <int N>
constexpr auto kNetwork = [] {
    constexpr NetworkDraft draft = draftNetwork(N);
    std::array<Comparator, static_cast<std::size_t>(draft.size)> network{};
    std::array<bool, kMaxNetworkSamples> loaded{};
    for (std::size_t c = 0; c < network.size(); ++c) {
        Comparator &cmp = network[c];
        cmp = draft.comparators[network.size() - 1 - c];
        cmp.loadLo = !loaded[cmp.lo];
        cmp.loadHi = !loaded[cmp.hi];
        loaded[cmp.lo] = true;
        loaded[cmp.hi] = true;
    }
    return network;
}();

template <Comparator C, class V>
[[gnu::always_inline]] inline void compareExchange(V *wire, const LaneOf<V> *first,
                                                   std::size_t stride)
{
    if constexpr (C.loadLo)
        loadSample(wire[C.lo], first + C.lo * stride);
    if constexpr (C.loadHi)
        loadSample(wire[C.hi], first + C.hi * stride);
    const V a = wire[C.lo];
    const V b = wire[C.hi];
    if constexpr (C.keepMin)
        wire[C.lo] = a < b ? a : b;
    if constexpr (C.keepMax)
        wire[C.hi] = a < b ? b : a;
}

// Fully unrolled, so the wires can live in registers. The comparators run in list order from
// a braced list rather than a fold expression, which Clang caps at 256 terms.
template <int N, class V, std::size_t... C>
[[gnu::always_inline]] inline void networkBlock(const LaneOf<V> *first, std::size_t stride,
                                                LaneOf<V> *out, std::index_sequence<C...>)
{
    prefetchAhead(first, stride, N);
    V wire[N];
    [[maybe_unused]] const int inOrder[] = {
        (compareExchange<kNetwork<N>[C]>(wire, first, stride), 0)...};
    V median;
    floorAverage(median, wire[N - upperMiddleRank(N)], wire[N - lowerMiddleRank(N)]);
    std::memcpy(out, &median, sizeof median);
}

// A short last block is redone flush with the row's end, overlapping the one before; the row
// must hold at least one block.
template <int N, class V>
[[gnu::always_inline]] inline void networkRow(const LaneOf<V> *first, std::size_t stride,
                                              LaneOf<V> *out, std::size_t count)
{
    constexpr std::size_t lanes = sizeof(V) / sizeof(LaneOf<V>);
    for (std::size_t p = 0; p < count; p += lanes) {
        const std::size_t at = std::min(p, count - lanes);
        networkBlock<N, V>(first + at, stride, out + at,
                           std::make_index_sequence<kNetwork<N>.size()>{});
    }
}

// ---- Radix selection

// Finds the wanted sample bit by bit from the top. Per pixel it counts the samples that match
// the bits decided so far and have the next bit set: if at least `rank` do, the wanted sample
// has that bit; if not, all of them rank above it and the rank drops by their count.
// Byte counters take 255 samples at a time and spill into 16-bit totals (n <= 32767). The
// totals hold the even and the odd bytes of each 16-bit lane apart: widening is then a mask
// and a shift, where a whole-vector widening would be compiled lane by lane. A 16-bit sample's
// lane is its own counter, so at 16 bits a run is the whole stack and only the even fields
// are used.
template <class T, int L>
struct RadixPick {
    using V = Vec<T, L>;
    using H = HalfWords<L>;

    V value = {};
    H evenRank = {};
    H oddRank = {};
    H evenCount = {};
    H oddCount = {};
    V part = {}; // counts of the current run of samples
};

template <class T>
constexpr int kRunLength = sizeof(T) == 1 ? 255 : 32767;

template <class P>
[[gnu::always_inline]] inline void startPick(P &pick, int rank)
{
    pick.evenRank = typename P::H{} + static_cast<std::int16_t>(rank);
    pick.oddRank = pick.evenRank;
}

template <class P>
[[gnu::always_inline]] inline void spillCount(P &pick)
{
    const auto words = __builtin_bit_cast(typename P::H, pick.part);
    if constexpr (sizeof(LaneOf<typename P::V>) == 1) {
        pick.evenCount += words & 0xff;
        pick.oddCount += (words >> 8) & 0xff;
    } else {
        pick.evenCount += words;
    }
    pick.part = typename P::V{};
}

template <class P, class T>
[[gnu::always_inline]] inline void decideBit(P &pick, T mark)
{
    const auto evenHas = pick.evenCount >= pick.evenRank;
    pick.evenRank -= pick.evenCount & ~evenHas;
    pick.evenCount = typename P::H{};
    if constexpr (sizeof(T) == 1) {
        const auto oddHas = pick.oddCount >= pick.oddRank;
        pick.oddRank -= pick.oddCount & ~oddHas;
        pick.oddCount = typename P::H{};
        const auto has = (evenHas & 0xff) | (oddHas & static_cast<std::int16_t>(0xff00));
        pick.value |= __builtin_bit_cast(typename P::V, has) & mark;
    } else {
        pick.value |= __builtin_bit_cast(typename P::V, evenHas) & mark;
    }
}

template <class T, int L, bool Even>
[[gnu::always_inline]] inline void radixBlock(const T *first, std::size_t stride, int n, T *out)
{
    using V = Vec<T, L>;
    prefetchAhead(first, stride, n);
    RadixPick<T, L> upper;
    RadixPick<T, L> lower;
    startPick(upper, upperMiddleRank(n));
    startPick(lower, lowerMiddleRank(n));
    for (int bit = 8 * static_cast<int>(sizeof(T)) - 1; bit >= 0; --bit) {
        const auto decided = static_cast<T>(std::numeric_limits<T>::max() << bit);
        const auto mark = static_cast<T>(1u << bit);
        const V upperWant = upper.value | mark;
        const V lowerWant = lower.value | mark;
        for (int start = 0; start < n; start += kRunLength<T>) {
            const int end = std::min(n, start + kRunLength<T>);
            for (int i = start; i < end; ++i) {
                V sample;
                loadSample(sample, first + static_cast<std::size_t>(i) * stride);
                const V top = sample & decided;
                upper.part -= static_cast<V>(top == upperWant);
                if constexpr (Even)
                    lower.part -= static_cast<V>(top == lowerWant);
            }
            spillCount(upper);
            if constexpr (Even)
                spillCount(lower);
        }
        decideBit(upper, mark);
        if constexpr (Even)
            decideBit(lower, mark);
    }
    V median = upper.value;
    if constexpr (Even)
        floorAverage(median, upper.value, lower.value);
    std::memcpy(out, &median, sizeof median);
}

template <class T, int L>
[[gnu::always_inline]] inline void radixRow(const T *first, std::size_t stride, int n, T *out,
                                            std::size_t count)
{
    constexpr std::size_t lanes = L / sizeof(T);
    for (std::size_t p = 0; p < count; p += lanes) {
        const std::size_t at = std::min(p, count - lanes);
        if (n % 2 == 0)
            radixBlock<T, L, true>(first + at, stride, n, out + at);
        else
            radixBlock<T, L, false>(first + at, stride, n, out + at);
    }
}

// ---- Entry points, one per instruction set, each compiling the templates above for itself

struct Baseline {
    static constexpr int bytes = 16;

    template <class T, int N>
    static void network(const T *first, std::size_t stride, T *out, std::size_t count)
    {
        networkRow<N, Vec<T, bytes>>(first, stride, out, count);
    }

    template <class T>
    static void radix(const T *first, std::size_t stride, int n, T *out, std::size_t count)
    {
        radixRow<T, bytes>(first, stride, n, out, count);
    }
};

#if defined(__x86_64__)

// pminuw and pmaxuw: without them GCC builds unsigned 16-bit min/max from several instructions.
struct Sse41 {
    static constexpr int bytes = 16;

    template <class T, int N>
    [[gnu::target("sse4.1")]] static void network(const T *first, std::size_t stride, T *out,
                                                  std::size_t count)
    {
        networkRow<N, Vec<T, bytes>>(first, stride, out, count);
    }

    template <class T>
    [[gnu::target("sse4.1")]] static void radix(const T *first, std::size_t stride, int n, T *out,
                                                std::size_t count)
    {
        radixRow<T, bytes>(first, stride, n, out, count);
    }
};

struct Avx2 {
    static constexpr int bytes = 32;

    template <class T, int N>
    [[gnu::target("avx2")]] static void network(const T *first, std::size_t stride, T *out,
                                                std::size_t count)
    {
        networkRow<N, Vec<T, bytes>>(first, stride, out, count);
    }

    template <class T>
    [[gnu::target("avx2")]] static void radix(const T *first, std::size_t stride, int n, T *out,
                                              std::size_t count)
    {
        radixRow<T, bytes>(first, stride, n, out, count);
    }
};

#endif

// Tables indexed by n - 2.
template <class Isa, class T, std::size_t... I>
constexpr std::array<NetworkFn<T>, sizeof...(I)> networkTable(std::index_sequence<I...>)
{
    return {&Isa::template network<T, static_cast<int>(I) + 2>...};
}

template <class Isa, class T>
constexpr auto kNetworks = networkTable<Isa, T>(std::make_index_sequence<kMaxNetworkSamples - 1>{});

template <class T>
using MedianFn = void (*)(const T *, std::size_t, int, T *, std::size_t);

// Whole blocks of Isa's width; a row shorter than one block goes to `shorter`.
template <class Isa, class T>
void blockRow(const T *first, std::size_t stride, int n, T *out, std::size_t count,
              std::type_identity_t<MedianFn<T>> shorter)
{
    if (count < static_cast<std::size_t>(Isa::bytes) / sizeof(T))
        shorter(first, stride, n, out, count);
    else if (n <= kMaxNetworkSamples)
        kNetworks<Isa, T>[static_cast<std::size_t>(n - 2)](first, stride, out, count);
    else
        Isa::radix(first, stride, n, out, count);
}

// One pixel by counting: the scalar path, short enough to trust on its own.
std::uint8_t histogramMedian(const std::uint8_t *sample, std::size_t stride, int n)
{
    std::array<int, 256> histogram{};
    for (int i = 0; i < n; ++i)
        ++histogram[sample[static_cast<std::size_t>(i) * stride]];
    int seen = 0;
    int upper = -1;
    for (int value = 255; value >= 0; --value) {
        seen += histogram[static_cast<std::size_t>(value)];
        if (upper < 0 && seen >= upperMiddleRank(n))
            upper = value;
        if (seen >= lowerMiddleRank(n))
            return static_cast<std::uint8_t>((upper + value) / 2);
    }
    return 0; // not reached: all n samples are counted by value 0
}

// The sample of descending rank `rank` among one pixel's 16-bit samples, counted a byte at a
// time: the high byte picks a bucket, then the low bytes of the samples in that bucket.
std::uint16_t countedPick(const std::uint16_t *sample, std::size_t stride, int n, int rank)
{
    std::array<int, 256> high{};
    for (int i = 0; i < n; ++i)
        ++high[sample[static_cast<std::size_t>(i) * stride] >> 8];
    int top = 255;
    for (; rank > high[static_cast<std::size_t>(top)]; --top)
        rank -= high[static_cast<std::size_t>(top)];
    std::array<int, 256> low{};
    for (int i = 0; i < n; ++i) {
        const unsigned v = sample[static_cast<std::size_t>(i) * stride];
        if (static_cast<int>(v >> 8) == top)
            ++low[v & 0xff];
    }
    int bottom = 255;
    for (; rank > low[static_cast<std::size_t>(bottom)]; --bottom)
        rank -= low[static_cast<std::size_t>(bottom)];
    return static_cast<std::uint16_t>(top << 8 | bottom);
}

std::uint16_t countedMedian(const std::uint16_t *sample, std::size_t stride, int n)
{
    const int upper = countedPick(sample, stride, n, upperMiddleRank(n));
    const int lower = n % 2 ? upper : countedPick(sample, stride, n, lowerMiddleRank(n));
    return static_cast<std::uint16_t>((upper + lower) / 2);
}

} // namespace

void medianRowScalar(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out,
                     std::size_t count)
{
    for (std::size_t p = 0; p < count; ++p)
        out[p] = histogramMedian(first + p, imageStride, n);
}

void medianRowScalar(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out,
                     std::size_t count)
{
    for (std::size_t p = 0; p < count; ++p)
        out[p] = countedMedian(first + p, imageStride, n);
}

void medianRowVec16(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out,
                    std::size_t count)
{
    blockRow<Baseline>(first, imageStride, n, out, count, medianRowScalar);
}

#if defined(__x86_64__)

void medianRowAvx2(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out,
                   std::size_t count)
{
    blockRow<Avx2>(first, imageStride, n, out, count, medianRowVec16);
}

void medianRowSse41(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out,
                    std::size_t count)
{
    blockRow<Sse41>(first, imageStride, n, out, count, medianRowScalar);
}

void medianRowAvx2(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out,
                   std::size_t count)
{
    blockRow<Avx2>(first, imageStride, n, out, count, medianRowSse41);
}

#endif

void medianRow(const std::uint8_t *first, std::size_t imageStride, int n, std::uint8_t *out,
               std::size_t count)
{
    assert(n >= 2);
    // The vector paths count in 16-bit lanes; deeper stacks are counted one pixel at a time.
    if (n > 32767) {
        medianRowScalar(first, imageStride, n, out, count);
        return;
    }
#if defined(__x86_64__)
    if (avx2Supported()) {
        medianRowAvx2(first, imageStride, n, out, count);
        return;
    }
#endif
    medianRowVec16(first, imageStride, n, out, count);
}

void medianRow(const std::uint16_t *first, std::size_t imageStride, int n, std::uint16_t *out,
               std::size_t count)
{
    assert(n >= 2);
#if defined(__x86_64__)
    // As at 8 bits, the vector paths count in 16-bit lanes.
    if (n <= 32767 && avx2Supported()) {
        medianRowAvx2(first, imageStride, n, out, count);
        return;
    }
    if (n <= 32767 && sse41Supported()) {
        medianRowSse41(first, imageStride, n, out, count);
        return;
    }
#endif
    medianRowScalar(first, imageStride, n, out, count);
}
