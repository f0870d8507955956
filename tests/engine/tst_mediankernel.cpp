#include "engine/stack/mediankernel.h"
#include "engine/stack/mediankernel_paths.h"
#include "reference/exchangesortmedian.h"

#include <QtTest>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

template <class T>
using RowFn = void (*)(const T *, std::size_t, int, T *, std::size_t);

template <class T>
struct Path {
    const char *name;
    RowFn<T> run;
};

template <class T>
std::vector<Path<T>> paths()
{
    std::vector<Path<T>> all = {{"dispatch", medianRow}, {"scalar", medianRowScalar}};
    if constexpr (sizeof(T) == 1)
        all.push_back({"vec16", medianRowVec16});
#if defined(__x86_64__)
    if constexpr (sizeof(T) == 2)
        if (sse41Supported())
            all.push_back({"sse4.1", medianRowSse41});
    if (avx2Supported())
        all.push_back({"avx2", medianRowAvx2});
#endif
    return all;
}

// Runs body<T>() with T the sample type of `depth` bits.
template <class Body>
void atDepth(int depth, Body body)
{
    if (depth == 8)
        body.template operator()<std::uint8_t>();
    else
        body.template operator()<std::uint16_t>();
}

// ByteEdges: 16-bit values either side of a high byte's change, where counting a byte at a
// time and lane mix-ups go wrong.
enum class Fill { Random, Ties, Extremes, AllEqual, AllZero, AllTop, ByteEdges };

// n images of one row each, `stride` apart, from a random offset into the buffer so that
// block loads are unaligned. Samples between the rows are filled too and must not matter.
template <class T>
struct Stack {
    std::vector<T> buffer;
    std::size_t offset = 0;
    std::size_t stride = 0;

    const T *first() const { return buffer.data() + offset; }
};

template <class T>
Stack<T> makeStack(int n, std::size_t count, Fill fill, std::mt19937 &rng)
{
    constexpr T top = std::numeric_limits<T>::max();
    constexpr T edges[] = {T(0x00ff), T(0x0100), T(0x01ff), T(0xfeff), T(0xff00)};
    Stack<T> stack;
    stack.offset = 1 + rng() % 31;
    stack.stride = count + rng() % 40;
    stack.buffer.resize(stack.offset + static_cast<std::size_t>(n) * stack.stride + 64);
    const auto level = static_cast<T>(rng());
    for (auto &sample : stack.buffer) {
        switch (fill) {
        case Fill::Random: sample = static_cast<T>(rng()); break;
        case Fill::Ties: sample = static_cast<T>(rng() % 3); break;
        case Fill::Extremes: sample = rng() % 2 ? top : 0; break;
        case Fill::AllEqual: sample = level; break;
        case Fill::AllZero: sample = 0; break;
        case Fill::AllTop: sample = top; break;
        case Fill::ByteEdges: sample = edges[rng() % 5]; break;
        }
    }
    return stack;
}

// Empty when equal, else where and how they differ.
template <class T>
QString firstDifference(const std::vector<T> &got, const std::vector<T> &want)
{
    for (std::size_t p = 0; p < want.size(); ++p)
        if (got[p] != want[p])
            return QStringLiteral("pixel %1 of %2: got %3, want %4")
                .arg(p)
                .arg(want.size())
                .arg(got[p])
                .arg(want[p]);
    return {};
}

} // namespace

class TestMedianKernel : public QObject {
    Q_OBJECT

private slots:
    void handPicked_data();
    void handPicked();
    void matchesExchangeSort_data();
    void matchesExchangeSort();
    void zeroOneInputs_data();
    void zeroOneInputs();
    void deepStacks_data();
    void deepStacks();
};

void TestMedianKernel::handPicked_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<QList<int>>("samples");
    QTest::addColumn<int>("median");

    QTest::newRow("two samples, mean rounded down") << 8 << QList<int>{10, 13} << 11;
    QTest::newRow("three samples, outlier dropped") << 8 << QList<int>{10, 200, 13} << 13;
    QTest::newRow("four samples, middle pair") << 8 << QList<int>{0, 255, 100, 101} << 100;
    QTest::newRow("two extremes") << 8 << QList<int>{255, 0} << 127;
    QTest::newRow("16 bits, two extremes") << 16 << QList<int>{65535, 0} << 32767;
    QTest::newRow("16 bits, top pair whose sum overflows") << 16 << QList<int>{65534, 65535} << 65534;
    QTest::newRow("16 bits, middle pair across a byte") << 16 << QList<int>{0x1ff, 65535, 0, 0x200} << 0x1ff;
}

// Each image is one flat colour; rows of 1, 20 and 67 pixels reach every path's tail handling.
void TestMedianKernel::handPicked()
{
    QFETCH(int, depth);
    QFETCH(QList<int>, samples);
    QFETCH(int, median);

    std::vector<double> list(samples.begin(), samples.end());
    QCOMPARE(exchangeSortMedian(list), median);

    const int n = static_cast<int>(samples.size());
    atDepth(depth, [&]<class T>() {
        for (std::size_t count : {1, 20, 67}) {
            std::vector<T> planes;
            for (int value : samples)
                planes.insert(planes.end(), count, static_cast<T>(value));
            const std::vector<T> want(count, static_cast<T>(median));
            for (const Path<T> &path : paths<T>()) {
                std::vector<T> got(count);
                path.run(planes.data(), count, n, got.data(), count);
                const QString diff = firstDifference(got, want);
                QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(path.name, diff)));
            }
        }
    });
}

void TestMedianKernel::matchesExchangeSort_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("n");
    QTest::addColumn<Fill>("fill");

    const std::pair<Fill, const char *> fills[] = {{Fill::Random, "random"},
                                                   {Fill::Ties, "ties from {0,1,2}"},
                                                   {Fill::Extremes, "0 and top only"},
                                                   {Fill::AllEqual, "all equal"},
                                                   {Fill::AllZero, "all 0"},
                                                   {Fill::AllTop, "all top"},
                                                   {Fill::ByteEdges, "either side of a byte"}};
    // Every network size, the first radix size, and either side of the byte counters' limit.
    std::vector<int> stackSizes;
    for (int n = 2; n <= 64; ++n)
        stackSizes.push_back(n);
    stackSizes.insert(stackSizes.end(), {65, 100, 200, 255, 256, 301});
    for (int depth : {8, 16})
        for (int n : stackSizes)
            for (const auto &[fill, name] : fills)
                QTest::addRow("%d bits, %d samples, %s", depth, n, name) << depth << n << fill;
}

// Row lengths cover: shorter than any block, one block and a bit, and several blocks with a
// ragged end, for blocks of 8, 16 and 32 pixels.
void TestMedianKernel::matchesExchangeSort()
{
    QFETCH(int, depth);
    QFETCH(int, n);
    QFETCH(Fill, fill);

    std::mt19937 rng(static_cast<std::uint32_t>(n * 16 + static_cast<int>(fill) * 2 + depth / 16));
    atDepth(depth, [&]<class T>() {
        for (std::size_t count : {1, 9, 15, 16, 31, 33, 67}) {
            const Stack<T> stack = makeStack<T>(n, count, fill, rng);
            std::vector<T> want(count);
            referenceMedianRow(stack.first(), stack.stride, n, want.data(), count);
            for (const Path<T> &path : paths<T>()) {
                std::vector<T> got(count);
                path.run(stack.first(), stack.stride, n, got.data(), count);
                const QString diff = firstDifference(got, want);
                QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1, row of %2: %3")
                                                         .arg(path.name)
                                                         .arg(count)
                                                         .arg(diff)));
            }
        }
    });
}

void TestMedianKernel::zeroOneInputs_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("n");
    for (int depth : {8, 16})
        for (int n = 2; n <= 20; ++n)
            QTest::addRow("%d bits, %d samples", depth, n) << depth << n;
}

// Every pattern of 0 and the top value over n images, one pattern per pixel. A comparator
// network that gets all of these right gets every input right, so this proves the networks for
// small n. The scalar path counts instead and is left out.
void TestMedianKernel::zeroOneInputs()
{
    QFETCH(int, depth);
    QFETCH(int, n);

    atDepth(depth, [&]<class T>() {
        constexpr int top = std::numeric_limits<T>::max();
        const std::size_t count = std::size_t{1} << n;
        std::vector<T> planes(static_cast<std::size_t>(n) * count);
        std::vector<T> want(count);
        for (std::size_t p = 0; p < count; ++p) {
            for (int i = 0; i < n; ++i)
                planes[static_cast<std::size_t>(i) * count + p] = (p >> i) & 1 ? top : 0;
            // Sorted descending, the first `high` samples are the top value.
            const int high = std::popcount(p);
            const int upper = high >= (n + 1) / 2 ? top : 0;
            const int lower = high >= n / 2 + 1 ? top : 0;
            want[p] = static_cast<T>((upper + lower) / 2);
        }
        for (const Path<T> &path : paths<T>()) {
            if (path.run == RowFn<T>{medianRowScalar})
                continue;
            std::vector<T> got(count);
            path.run(planes.data(), count, n, got.data(), count);
            const QString diff = firstDifference(got, want);
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(path.name, diff)));
        }
    });
}

void TestMedianKernel::deepStacks_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("n");
    QTest::addColumn<Fill>("fill");
    QTest::addColumn<bool>("checkExchangeSort");

    for (int depth : {8, 16}) {
        const auto row = [depth](const char *name) -> QTestData & {
            return QTest::addRow("%d bits, %s", depth, name) << depth;
        };
        row("1000 samples, random") << 1000 << Fill::Random << true;
        row("1001 samples, ties") << 1001 << Fill::Ties << true;
        row("32766 samples, random") << 32766 << Fill::Random << false;
        row("32767 samples, 0 and top only") << 32767 << Fill::Extremes << false;
        row("32767 samples, all equal") << 32767 << Fill::AllEqual << false;
    }
}

// Counts past the byte range. Beyond a thousand samples the exchange sort takes too long, so
// the paths are held against each other: the scalar one counts with a plain histogram.
void TestMedianKernel::deepStacks()
{
    QFETCH(int, depth);
    QFETCH(int, n);
    QFETCH(Fill, fill);
    QFETCH(bool, checkExchangeSort);

    std::mt19937 rng(static_cast<std::uint32_t>(n + depth));
    atDepth(depth, [&]<class T>() {
        const std::size_t count = 37;
        const Stack<T> stack = makeStack<T>(n, count, fill, rng);
        std::vector<T> want(count);
        if (checkExchangeSort)
            referenceMedianRow(stack.first(), stack.stride, n, want.data(), count);
        else
            medianRowScalar(stack.first(), stack.stride, n, want.data(), count);
        for (const Path<T> &path : paths<T>()) {
            std::vector<T> got(count);
            path.run(stack.first(), stack.stride, n, got.data(), count);
            const QString diff = firstDifference(got, want);
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(path.name, diff)));
        }
    });
}

QTEST_MAIN(TestMedianKernel)
#include "tst_mediankernel.moc"
