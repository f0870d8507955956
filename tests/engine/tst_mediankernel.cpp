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

// Extremes are 0 and the type's top; AllEqual is often one of them. ByteEdges: 16-bit values
// either side of a change of the high byte, where counting a byte at a time goes wrong.
enum class Fill { Random, Ties, Extremes, AllEqual, ByteEdges };

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
    const auto level = static_cast<T>(rng() % 3 == 0 ? 0 : rng() % 2 ? top : rng());
    for (auto &sample : stack.buffer) {
        switch (fill) {
        case Fill::Random: sample = static_cast<T>(rng()); break;
        case Fill::Ties: sample = static_cast<T>(rng() % 3); break;
        case Fill::Extremes: sample = rng() % 2 ? top : 0; break;
        case Fill::AllEqual: sample = level; break;
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

private:
    template <class T> static void flatImages(const QList<int> &samples, int median);
    template <class T> static void matchAt(int n, Fill fill);
    template <class T> static void deepStackAt(int n, Fill fill, bool checkExchangeSort);
};

void TestMedianKernel::handPicked_data()
{
    QTest::addColumn<QList<int>>("samples");
    QTest::addColumn<int>("median");

    QTest::newRow("two samples, mean rounded down") << QList<int>{10, 13} << 11;
    QTest::newRow("three samples, outlier dropped") << QList<int>{10, 200, 13} << 13;
    QTest::newRow("four samples, middle pair") << QList<int>{0, 255, 100, 101} << 100;
    QTest::newRow("two extremes") << QList<int>{255, 0} << 127;
    QTest::newRow("two 16-bit extremes") << QList<int>{65535, 0} << 32767;
    QTest::newRow("top pair, whose sum overflows") << QList<int>{65534, 65535} << 65534;
    QTest::newRow("middle pair across a byte") << QList<int>{0x1ff, 65535, 0, 0x200} << 0x1ff;
}

// Each image is one flat colour; rows of 1, 20 and 67 pixels reach every path's tail handling.
// Every row runs at 16 bits, and at 8 bits where its values fit.
void TestMedianKernel::handPicked()
{
    QFETCH(QList<int>, samples);
    QFETCH(int, median);

    std::vector<double> list(samples.begin(), samples.end());
    QCOMPARE(static_cast<int>(exchangeSortMedian(list)), median);
    if (*std::max_element(samples.begin(), samples.end()) <= 255)
        flatImages<std::uint8_t>(samples, median);
    flatImages<std::uint16_t>(samples, median);
}

template <class T>
void TestMedianKernel::flatImages(const QList<int> &samples, int median)
{
    const int n = static_cast<int>(samples.size());
    const std::size_t rowLengths[] = {1, 20, 67};
    for (std::size_t count : rowLengths) {
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
}

void TestMedianKernel::matchesExchangeSort_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<Fill>("fill");

    const std::pair<Fill, const char *> fills[] = {{Fill::Random, "random"},
                                                   {Fill::Ties, "ties from {0,1,2}"},
                                                   {Fill::Extremes, "0 and top only"},
                                                   {Fill::AllEqual, "all equal"},
                                                   {Fill::ByteEdges, "either side of a byte"}};
    // Every network size, the first radix size, and either side of the byte counters' limit.
    std::vector<int> stackSizes;
    for (int n = 2; n <= 64; ++n)
        stackSizes.push_back(n);
    stackSizes.insert(stackSizes.end(), {65, 100, 200, 255, 256, 301});
    for (int n : stackSizes)
        for (const auto &[fill, name] : fills)
            QTest::addRow("%d samples, %s", n, name) << n << fill;
}

// Row lengths cover: shorter than any block, one block and a bit, and several blocks with a
// ragged end, for blocks of 8, 16 and 32 pixels.
void TestMedianKernel::matchesExchangeSort()
{
    QFETCH(int, n);
    QFETCH(Fill, fill);
    matchAt<std::uint8_t>(n, fill);
    matchAt<std::uint16_t>(n, fill);
}

template <class T>
void TestMedianKernel::matchAt(int n, Fill fill)
{
    std::mt19937 rng(static_cast<std::uint32_t>(n * 4 + static_cast<int>(fill)));
    const std::size_t rowLengths[] = {1, 9, 15, 16, 31, 33, 67};
    for (std::size_t count : rowLengths) {
        const Stack<T> stack = makeStack<T>(n, count, fill, rng);
        std::vector<T> want(count);
        referenceMedianRow(stack.first(), stack.stride, n, want.data(), count);
        for (const Path<T> &path : paths<T>()) {
            std::vector<T> got(count);
            path.run(stack.first(), stack.stride, n, got.data(), count);
            const QString diff = firstDifference(got, want);
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1 bits, %2, row of %3: %4")
                                                     .arg(8 * sizeof(T))
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
    for (const Path<std::uint8_t> &path : paths<std::uint8_t>()) {
        if (path.run == RowFn<std::uint8_t>{medianRowScalar})
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
    QTest::newRow("32767 samples, 0 and top only") << 32767 << Fill::Extremes << false;
    QTest::newRow("32767 samples, all equal") << 32767 << Fill::AllEqual << false;
}

// Counts past the byte range. Beyond a thousand samples the exchange sort takes too long, so
// the paths are held against each other: the scalar one counts with a plain histogram.
void TestMedianKernel::deepStacks()
{
    QFETCH(int, n);
    QFETCH(Fill, fill);
    QFETCH(bool, checkExchangeSort);
    deepStackAt<std::uint8_t>(n, fill, checkExchangeSort);
    deepStackAt<std::uint16_t>(n, fill, checkExchangeSort);
}

template <class T>
void TestMedianKernel::deepStackAt(int n, Fill fill, bool checkExchangeSort)
{
    std::mt19937 rng(static_cast<std::uint32_t>(n));
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
}

QTEST_MAIN(TestMedianKernel)
#include "tst_mediankernel.moc"
