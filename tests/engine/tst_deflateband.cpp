// A band whose byte counts would need Huffman codes deeper than deflate allows, inflated back.
#include "engine/write/deflateband.h"

#include <QtTest>

#include <zlib.h>

#include <algorithm>
#include <random>

class DeflateBandTest : public QObject {
    Q_OBJECT

private slots:
    void deepCodeLimited_data();
    void deepCodeLimited();
};

void DeflateBandTest::deepCodeLimited_data()
{
    QTest::addColumn<bool>("last");
    QTest::newRow("band left open") << false;
    QTest::newRow("last band") << true;
}

void DeflateBandTest::deepCodeLimited()
{
    QFETCH(bool, last);
    // Fibonacci counts of 25 values: an unlimited code would be 24 bits deep. Over 2 bits a byte,
    // so literals under one code, not runs.
    std::vector<std::uint8_t> data;
    for (unsigned long value = 0, count = 1, next = 1; value < 25; ++value) {
        data.insert(data.end(), count, std::uint8_t(7 * value));
        count = std::exchange(next, count + next);
    }
    std::shuffle(data.begin(), data.end(), std::mt19937(3));
    std::vector<std::uint8_t> deflated;
    QVERIFY(deflateBand(data, last, deflated));
    std::vector<std::uint8_t> inflated(data.size() + 1);
    z_stream stream{};
    QCOMPARE(inflateInit2(&stream, -MAX_WBITS), Z_OK);
    stream.next_in = deflated.data();
    stream.avail_in = uInt(deflated.size());
    stream.next_out = inflated.data();
    stream.avail_out = uInt(inflated.size());
    const int status = inflate(&stream, Z_SYNC_FLUSH);
    const std::size_t length = inflated.size() - stream.avail_out;
    inflateEnd(&stream);
    QCOMPARE(status, last ? Z_STREAM_END : Z_OK);
    QCOMPARE(stream.avail_in, 0u);
    inflated.resize(length);
    QVERIFY(inflated == data);
}

QTEST_MAIN(DeflateBandTest)
#include "tst_deflateband.moc"
