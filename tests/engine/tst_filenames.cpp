#include "engine/core/filenames.h"

#include <QtTest>

class FileNamesTest : public QObject {
    Q_OBJECT
private slots:
    void bytesSurviveTheName_data();
    void bytesSurviveTheName();
};

void FileNamesTest::bytesSurviveTheName_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("utf8");
    QTest::newRow("ascii") << QByteArray("/tmp/a b.bmp") << true;
    QTest::newRow("two to four bytes") << QByteArray("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80") << true;
    QTest::newRow("U+FFFD itself") << QByteArray("\xef\xbf\xbd") << true;
    QTest::newRow("lone continuation") << QByteArray("a\x80z") << false;
    QTest::newRow("0xff") << QByteArray("\xff.bmp") << false;
    QTest::newRow("cut short at the end") << QByteArray("a\xe2\x82") << false;
    QTest::newRow("cut short by ascii") << QByteArray("\xf0\x9f/x") << false;
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xb2\x80") << false;
    QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
}

void FileNamesTest::bytesSurviveTheName()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, utf8);
    const QString name = nameFromBytes(bytes);
    QCOMPARE(bytesOfName(name), bytes);
    // Valid names read as Qt reads them; others never pass for the name Qt would make of them.
    QCOMPARE(name == QString::fromUtf8(bytes), utf8);
}

QTEST_MAIN(FileNamesTest)
#include "tst_filenames.moc"
