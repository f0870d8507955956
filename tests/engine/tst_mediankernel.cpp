#include "engine/stack/mediankernel.h"
#include "engine/stack/mediankernel_paths.h"
#include "reference/exchangesortmedian.h"

#include <QtTest>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using RowFn = void (*)(const std::uint8_t *, std::size_t, int, std::uint8_t *, std::size_t);

struct Path {
    const char *name;
    RowFn run;
};

std::vector<Path> paths()
{
    std::vector<Path> all = {{"dispatch", medianRow},
                             {"scalar", medianRowScalar},
                             {"vec16", medianRowVec16}};
#if defined(__x86_64__)
    if (avx2Supported())
        all.push_back({"avx2", medianRowAvx2});
#endif
    return all;
}

enum class Fill { Random, Ties, Extremes, AllEqual };

// n images of one row each, `stride` apart, from a random offset into the buffer so that
// block loads are unaligned. Bytes between the rows are filled too and must not matter.
struct Stack {
    std::vector<std::uint8_t> buffer;
    std::size_t offset = 0;
    std::size_t stride = 0;

    const std::uint8_t *first() const { return buffer.data() + offset; }
};

Stack makeStack(int n, std::size_t count, Fill fill, std::mt19937 &rng)
{
    Stack stack;
    stack.offset = 1 + rng() % 31;
    stack.stride = count + rng() % 40;
    stack.buffer.resize(stack.offset + static_cast<std::size_t>(n) * stack.stride + 64);
    const auto level = static_cast<std::uint8_t>(rng());
    for (auto &byte : stack.buffer) {
        switch (fill) {
        case Fill::Random: byte = static_cast<std::uint8_t>(rng()); break;
        case Fill::Ties: byte = static_cast<std::uint8_t>(rng() % 3); break;
        case Fill::Extremes: byte = rng() % 2 ? 255 : 0; break;
        case Fill::AllEqual: byte = level; break;
        }
    }
    return stack;
}

// Empty when equal, else where and how they differ.
QString firstDifference(const std::vector<std::uint8_t> &got, const std::vector<std::uint8_t> &want)
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
    QTest::addColumn<QList<int>>("samples");
    QTest::addColumn<int>("median");

    QTest::newRow("two samples, mean rounded down") << QList<int>{10, 13} << 11;
    QTest::newRow("three samples, outlier dropped") << QList<int>{10, 200, 13} << 13;
    QTest::newRow("four samples, middle pair") << QList<int>{0, 255, 100, 101} << 100;
    QTest::newRow("two extremes") << QList<int>{255, 0} << 127;
}

// Each image is one flat colour; rows of 1, 20 and 67 pixels reach every path's tail handling.
void TestMedianKernel::handPicked()
{
    QFETCH(QList<int>, samples);
    QFETCH(int, median);

    std::vector<double> list(samples.begin(), samples.end());
    QCOMPARE(static_cast<int>(exchangeSortMedian(list)), median);

    const int n = static_cast<int>(samples.size());
    const std::size_t rowLengths[] = {1, 20, 67};
    for (std::size_t count : rowLengths) {
        std::vector<std::uint8_t> planes;
        for (int value : samples)
            planes.insert(planes.end(), count, static_cast<std::uint8_t>(value));
        const std::vector<std::uint8_t> want(count, static_cast<std::uint8_t>(median));
        for (const Path &path : paths()) {
            std::vector<std::uint8_t> got(count);
            path.run(planes.data(), count, n, got.data(), count);
            const QString diff = firstDifference(got, want);
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(path.name, diff)));
        }
    }
}

void TestMedianKernel::matchesExchangeSort_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<Fill>("fill");

    const std::pair<Fill, const char *> fills[] = {{Fill::Random, "random"},
                                                   {Fill::Ties, "ties from {0,1,2}"},
                                                   {Fill::Extremes, "0 and 255 only"},
                                                   {Fill::AllEqual, "all equal"}};
    // Every network size, the first radix size, and either side of the byte counters' limit.
    std::vector<int> stackSizes;
    for (int n = 2; n <= 64; ++n)
        stackSizes.push_back(n);
    stackSizes.insert(stackSizes.end(), {65, 100, 255, 256, 301});
    for (int n : stackSizes)
        for (const auto &[fill, name] : fills)
            QTest::addRow("%d samples, %s", n, name) << n << fill;
}

// Row lengths cover: shorter than any block, one block and a bit, and several blocks with a
// ragged end.
void TestMedianKernel::matchesExchangeSort()
{
    QFETCH(int, n);
    QFETCH(Fill, fill);

    std::mt19937 rng(static_cast<std::uint32_t>(n * 4 + static_cast<int>(fill)));
    const std::size_t rowLengths[] = {1, 15, 16, 31, 33, 67};
    for (std::size_t count : rowLengths) {
        const Stack stack = makeStack(n, count, fill, rng);
        std::vector<std::uint8_t> want(count);
        referenceMedianRow(stack.first(), stack.stride, n, want.data(), count);
        for (const Path &path : paths()) {
            std::vector<std::uint8_t> got(count);
            path.run(stack.first(), stack.stride, n, got.data(), count);
            const QString diff = firstDifference(got, want);
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1, row of %2: %3")
                                                     .arg(path.name)
                                                     .arg(count)
                                                     .arg(diff)));
        }
    }
}

void TestMedianKernel::zeroOneInputs_data()
{
    QTest::addColumn<int>("n");
    for (int n = 2; n <= 20; ++n)
        QTest::addRow("%d samples", n) << n;
}

// Every pattern of 0 and 255 over n images, one pattern per pixel. A comparator network that
// gets all of these right gets every input right, so this proves the networks for small n.
// The scalar path counts instead and is left out.
void TestMedianKernel::zeroOneInputs()
{
    QFETCH(int, n);

    const std::size_t count = std::size_t{1} << n;
    std::vector<std::uint8_t> planes(static_cast<std::size_t>(n) * count);
    std::vector<std::uint8_t> want(count);
    for (std::size_t p = 0; p < count; ++p) {
        for (int i = 0; i < n; ++i)
            planes[static_cast<std::size_t>(i) * count + p] = (p >> i) & 1 ? 255 : 0;
        // Sorted descending, the first `high` samples are 255.
        const int high = std::popcount(p);
        const int upper = high >= (n + 1) / 2 ? 255 : 0;
        const int lower = high >= n / 2 + 1 ? 255 : 0;
        want[p] = static_cast<std::uint8_t>((upper + lower) / 2);
    }
    for (const Path &path : paths()) {
        if (path.run == medianRowScalar)
            continue;
        std::vector<std::uint8_t> got(count);
        path.run(planes.data(), count, n, got.data(), count);
        const QString diff = firstDifference(got, want);
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(path.name, diff)));
    }
}

void TestMedianKernel::deepStacks_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<Fill>("fill");
    QTest::addColumn<bool>("checkExchangeSort");

    QTest::newRow("1000 samples, random") << 1000 << Fill::Random << true;
    QTest::newRow("1001 samples, ties") << 1001 << Fill::Ties << true;
    QTest::newRow("32766 samples, random") << 32766 << Fill::Random << false;
    QTest::newRow("32767 samples, 0 and 255 only") << 32767 << Fill::Extremes << false;
    QTest::newRow("32767 samples, all equal") << 32767 << Fill::AllEqual << false;
}

// Counts past the byte range. Beyond a thousand samples the exchange sort takes too long, so
// the paths are held against each other: the scalar one counts with a plain histogram.
void TestMedianKernel::deepStacks()
{
    QFETCH(int, n);
    QFETCH(Fill, fill);
    QFETCH(bool, checkExchangeSort);

    std::mt19937 rng(static_cast<std::uint32_t>(n));
    const std::size_t count = 37;
    const Stack stack = makeStack(n, count, fill, rng);
    std::vector<std::uint8_t> want(count);
    if (checkExchangeSort)
        referenceMedianRow(stack.first(), stack.stride, n, want.data(), count);
    else
        medianRowScalar(stack.first(), stack.stride, n, want.data(), count);
    for (const Path &path : paths()) {
        std::vector<std::uint8_t> got(count);
        path.run(stack.first(), stack.stride, n, got.data(), count);
        const QString diff = firstDifference(got, want);
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(path.name, diff)));
    }
}

QTEST_MAIN(TestMedianKernel)
#include "tst_mediankernel.moc"
