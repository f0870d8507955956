#include "engine/decode/imageloader.h"
#include "imaging/saving.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Writes half of the real bytes, then fails as a full disk would.
bool failHalfway(const QImage &surface, QIODevice &device)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeBmp(surface, buffer);
    device.write(buffer.data().left(buffer.data().size() / 2));
    return false;
}

} // namespace

class SavingTest : public QObject {
    Q_OBJECT
private slots:
    void roundTripIsExact_data();
    void roundTripIsExact();
    void nameIsUsedAsGiven_data();
    void nameIsUsedAsGiven();
    void dialogSetUpAndCancel();
    void replacesExistingFile();
    void replacingKeepsLinkAndMode_data();
    void replacingKeepsLinkAndMode();
    void failuresKeepExistingFile_data();
    void failuresKeepExistingFile();
    void readOnlyFolderStillOverwritesWritableFile();
    void fullFileNamesTheReason_data();
    void fullFileNamesTheReason();
};

void SavingTest::roundTripIsExact_data()
{
    QTest::addColumn<QSize>("size");
    for (const QSize size : {QSize(1, 1), QSize(2, 3), QSize(3, 2), QSize(5, 7), QSize(33, 4), QSize(233, 305)})
        QTest::addRow("%dx%d", size.width(), size.height()) << size;
}

void SavingTest::roundTripIsExact()
{
    QFETCH(QSize, size);
    QTemporaryDir dir;
    const QImage picture = randomPicture(size.width(), size.height(), uint(size.width() * 31 + size.height()));
    const QString path = dir.filePath("out.bmp");
    QCOMPARE(writeBmpFile(picture, path), std::nullopt);
    QCOMPARE(contents(path).left(2), QByteArray("BM"));
    const Outcome<QImage> loaded = decodeImageFile(path);
    QVERIFY(loaded);
    QCOMPARE(*loaded, picture);
}

void SavingTest::nameIsUsedAsGiven_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("jpg extension holds BMP") << "result.jpg";
    QTest::newRow("no extension added") << "result";
}

void SavingTest::nameIsUsedAsGiven()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    FakeDialog dialog;
    dialog.answers.push_back(dir.filePath(name));
    QCOMPARE(saveCanvas(dialog, randomPicture(4, 3, 1)), std::nullopt);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{name});
    QCOMPARE(contents(dir.filePath(name)).left(2), QByteArray("BM"));
    QCOMPARE(dialog.fileName(), dir.filePath(name));
}

void SavingTest::dialogSetUpAndCancel()
{
    FakeDialog dialog;
    dialog.setFileName(QStringLiteral("/somewhere/earlier.bmp"));
    dialog.answers.push_back(std::nullopt);
    QCOMPARE(saveCanvas(dialog, randomPicture(2, 2, 1)), std::nullopt);
    QCOMPARE(dialog.filtersShown, QStringList{"Bitmap Files (*.bmp)|*.bmp|All Files (*.*)|*.*|"});
    QCOMPARE(dialog.namesShown, QStringList{QString()});
    QCOMPARE(dialog.modes, QStringList{"save"});
    QCOMPARE(dialog.fileName(), QString());
}

void SavingTest::replacesExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.bmp");
    writeBytes(path, QByteArray(100000, 'x'));
    const QImage picture = randomPicture(3, 3, 2);
    QCOMPARE(writeBmpFile(picture, path), std::nullopt);
    QCOMPARE(*decodeImageFile(path), picture);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.bmp"});
}

void SavingTest::replacingKeepsLinkAndMode_data()
{
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("mode of the old file") << false;
    QTest::newRow("symbolic link to it") << true;
}

void SavingTest::replacingKeepsLinkAndMode()
{
    QFETCH(bool, throughLink);
    QTemporaryDir dir;
    const QString target = dir.filePath("target.bmp");
    writeBytes(target, "old");
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QFile::Permissions mode = QFile::permissions(target);
    const QString named = throughLink ? dir.filePath("link.bmp") : target;
    if (throughLink)
        QVERIFY(QFile::link(QStringLiteral("target.bmp"), named));
    const QImage picture = randomPicture(3, 3, 5);
    QCOMPARE(writeBmpFile(picture, named), std::nullopt);
    QCOMPARE(*decodeImageFile(target), picture);
    QCOMPARE(QFileInfo(named).isSymLink(), throughLink);
    QCOMPARE(QFile::permissions(target), mode);
}

void SavingTest::failuresKeepExistingFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("write fails part-way") << "halfway";
    QTest::newRow("missing folder") << "missing";
    QTest::newRow("named pipe") << "fifo";
}

void SavingTest::failuresKeepExistingFile()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString existing = dir.filePath("keep.bmp");
    const QByteArray old = "old content that must survive";
    writeBytes(existing, old);
    const QImage picture = randomPicture(64, 64, 3);

    std::optional<QString> reason;
    if (kind == u"halfway") {
        reason = writeBmpFile(picture, existing, failHalfway);
    } else if (kind == u"missing") {
        reason = writeBmpFile(picture, dir.filePath("no/such/folder/out.bmp"));
    } else {
        const QString fifo = dir.filePath("pipe.bmp");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        reason = writeBmpFile(picture, fifo);
        QVERIFY(!QFileInfo(fifo).isFile());
    }
    QVERIFY(reason);
    QVERIFY(!reason->isEmpty());
    QCOMPARE(contents(existing), old);
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::System);
    QVERIFY2(left.size() <= 2, qPrintable(left.join(u' '))); // no temporary file left behind
}

void SavingTest::readOnlyFolderStillOverwritesWritableFile()
{
    if (geteuid() == 0)
        QSKIP("permissions do not bind for root");
    QTemporaryDir dir;
    const QString path = dir.filePath("out.bmp");
    writeBytes(path, "old");
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const QImage picture = randomPicture(3, 2, 4);
    const std::optional<QString> reason = writeBmpFile(picture, path);
    const std::optional<QString> refused = writeBmpFile(picture, dir.filePath("new.bmp"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(reason, std::nullopt);
    QCOMPARE(*decodeImageFile(path), picture);
    QVERIFY(refused);
}

void SavingTest::fullFileNamesTheReason_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::addColumn<QString>("afterReason");
    QTest::newRow("temporary file beside the old one") << false << QString();
    QTest::newRow("read-only folder, written in place") << true << QStringLiteral(" (the old file was overwritten)");
}

// The child's file size limit fails the write part-way, as a full disk does.
void SavingTest::fullFileNamesTheReason()
{
    QFETCH(bool, readOnlyFolder);
    QFETCH(QString, afterReason);
    QTemporaryDir dir;
    const QString path = dir.filePath("keep.bmp");
    const QByteArray old = "old content that must survive";
    writeBytes(path, old);
    QStringList arguments{QStringLiteral("4096"), path};
    if (readOnlyFolder) {
        // Permissions do not bind root: the child becomes nobody, the owner of both.
        const uid_t nobody = 65534;
        if (geteuid() == 0) {
            QCOMPARE(chown(QFile::encodeName(dir.path()).constData(), nobody, nobody), 0);
            QCOMPARE(chown(QFile::encodeName(path).constData(), nobody, nobody), 0);
            arguments << QString::number(nobody);
        }
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    }
    QProcess child;
    child.start(QStringLiteral(OMBRELUX_SAVEPROBE), arguments);
    QVERIFY(child.waitForFinished());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(QString::fromLocal8Bit(child.readAll()).trimmed(),
             QStringLiteral("Could not save %1: File too large").arg(path) + afterReason);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.bmp"});
    if (!readOnlyFolder)
        QCOMPARE(contents(path), old);
}

QTEST_MAIN(SavingTest)
#include "tst_saving.moc"
