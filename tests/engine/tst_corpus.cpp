#include "engine/decode/imageloader.h"
#include "support/childload.h"
#include "support/rgbhash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// Every file of the shared decoder corpus through the loader, checked against manifest.json.
class TestCorpus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void group_data();
    void group();

private:
    QDir m_corpus;
    QJsonArray m_files;
};

void TestCorpus::initTestCase()
{
    m_corpus = QDir(QStringLiteral(OMBRELUX_TESTDATA));
    QFile manifest(m_corpus.filePath(QStringLiteral("manifest.json")));
    if (!manifest.exists())
        QSKIP(qPrintable(QStringLiteral("no image corpus at %1: it lives beside the repository in "
                                        "../shared/testdata; -DOMBRELUX_TESTDATA=<folder> points elsewhere")
                             .arg(m_corpus.path())));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(manifest.readAll(), &error);
    QVERIFY2(document.isObject(), qPrintable(error.errorString()));
    m_files = document[QLatin1String("files")].toArray();
    QVERIFY(!m_files.isEmpty());
    QCOMPARE(m_files.size(), document[QLatin1String("meta")][QLatin1String("count")].toInteger());
}

void TestCorpus::group_data()
{
    QTest::addColumn<QString>("group");
    QStringList groups;
    for (const QJsonValue entry : std::as_const(m_files)) {
        const QString group = entry[QLatin1String("group")].toString();
        if (!groups.contains(group))
            groups << group;
    }
    for (const QString &group : std::as_const(groups))
        QTest::newRow(qPrintable(group)) << group;
}

// expected_decode true: loads with the manifest's size and pixels (the autotransformed ones
// where EXIF rotates); false: refused; null: either. Bad and "either" files load in a child
// process so that a hang, crash or runaway allocation fails the row instead of the run.
void TestCorpus::group()
{
    QFETCH(QString, group);
    QStringList failures;
    int loaded = 0;
    int refused = 0;
    int checked = 0;
    for (const QJsonValue value : std::as_const(m_files)) {
        const QJsonObject entry = value.toObject();
        if (entry[QLatin1String("group")].toString() != group)
            continue;
        const QString name = entry[QLatin1String("name")].toString();
        // Not stored (git keeps no permissions); tst_hostilefiles makes that case itself.
        if (entry.contains(QLatin1String("recipe")))
            continue;
        ++checked;
        const QString path = m_corpus.filePath(name);
        if (!QFileInfo::exists(path)) {
            failures << name + QStringLiteral(": missing from the corpus");
            continue;
        }
        const QJsonValue expected = entry[QLatin1String("expected_decode")];

        QSize size;
        QByteArray sha;
        if (group == QLatin1String("bad") || expected.isNull()) {
            const ChildLoad child = loadInChild(path);
            if (child.outcome == ChildLoad::Outcome::Crashed || child.outcome == ChildLoad::Outcome::TimedOut) {
                failures << name + QStringLiteral(": ") + child.detail;
                continue;
            }
            size = child.size;
            sha = child.sha256;
        } else if (const Outcome<QImage> picture = decodeImageFile(path)) {
            if (picture->format() != QImage::Format_RGB32)
                failures << name + QStringLiteral(": format %1, not RGB32").arg(picture->format());
            size = picture->size();
            sha = rgbSha256(*picture);
        }
        const bool decoded = size.isValid();
        if (decoded)
            ++loaded;
        else
            ++refused;

        if (expected.isBool() && !expected.toBool()) {
            if (decoded)
                failures << name + QStringLiteral(": decoded %1x%2, must be refused").arg(size.width()).arg(size.height());
        } else if (expected.isBool()) {
            const QJsonObject reference = entry.contains(QLatin1String("qt_autotransform"))
                                              ? entry[QLatin1String("qt_autotransform")].toObject()
                                              : entry;
            const QSize wanted(reference[QLatin1String("width")].toInt(), reference[QLatin1String("height")].toInt());
            const QByteArray wantedSha = reference[QLatin1String("sha256_rgb")].toString().toLatin1();
            if (!decoded)
                failures << name + QStringLiteral(": not decoded");
            else if (size != wanted || sha != wantedSha)
                failures << name + QStringLiteral(": %1x%2 %3, expected %4x%5 %6")
                                       .arg(size.width()).arg(size.height()).arg(QString::fromLatin1(sha))
                                       .arg(wanted.width()).arg(wanted.height()).arg(QString::fromLatin1(wantedSha));
        } else if (decoded && qint64(size.width()) * size.height() > MaxPicturePixels) {
            failures << name + QStringLiteral(": decoded %1x%2, over the pixel budget").arg(size.width()).arg(size.height());
        }
    }
    qInfo("%s: %d files, %d loaded, %d refused", qPrintable(group), checked, loaded, refused);
    QVERIFY(checked > 0);
    QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("%1 of %2 files:\n  ").arg(failures.size()).arg(checked)
                                            + failures.join(QStringLiteral("\n  "))));
}

QTEST_MAIN(TestCorpus)
#include "tst_corpus.moc"
