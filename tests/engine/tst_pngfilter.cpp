// The vector weighing of PNG row filters against the plain loop, on seeded rows of every tail.
#include "engine/write/pngfilter_paths.h"

#include <QtTest>

#include <random>
#include <vector>

class PngFilterTest : public QObject {
    Q_OBJECT

private slots:
    void vectorCostsMatchScalar_data();
    void vectorCostsMatchScalar();
};

void PngFilterTest::vectorCostsMatchScalar_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("spread"); // residuals from a level: small ones, and any byte at 255
    for (const int bytes : {4, 18, 19, 34, 3 * 997})
        for (const int spread : {3, 255})
            QTest::addRow("%d bytes, spread %d", bytes, spread) << bytes << spread;
}

void PngFilterTest::vectorCostsMatchScalar()
{
#if defined(__SSE2__)
    QFETCH(int, bytes);
    QFETCH(int, spread);
    std::mt19937 random(std::uint32_t(bytes + spread));
    std::uniform_int_distribution<int> offset(-spread, spread);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bytes)), above(row.size());
    for (std::size_t i = 0; i < row.size(); ++i) {
        row[i] = std::uint8_t(128 + offset(random));
        above[i] = std::uint8_t(128 + offset(random));
    }
    for (const std::size_t pixel : {3, 6}) // bytes of a pixel at 8 and 16 bits a sample
        QCOMPARE(filterCostsSse2(row.data(), above.data(), pixel, pixel, row.size()),
                 filterCostsScalar(row.data(), above.data(), pixel, pixel, row.size()));
#else
    QSKIP("no vector path on this target");
#endif
}

QTEST_MAIN(PngFilterTest)
#include "tst_pngfilter.moc"
