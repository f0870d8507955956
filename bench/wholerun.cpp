// A whole median run as a person waits for it, in a fresh process: the first file is shown as
// the selected entry, then the time from the "Median" click to "Done" is printed in seconds,
// wall clock and then the CPU time of all the process's threads (user and system) by then, and
// last the wall time to the first "Processing image: 1".
//   ombrelux_wholerun make DIR COUNT jpg|bmp   writes COUNT noisy 12-megapixel frames of one scene
//   ombrelux_wholerun run FILE...              one median run over the files
#include "engine/decode/imageloader.h"
#include "ops/median.h"
#include "ops/ophost.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>

#include <sys/resource.h>

#include <cstdio>
#include <random>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The window's side of a run without a window: event points run pending events, as there.
class TimingHost : public OpHost {
public:
    QStringList paths;
    QImage picture;
    std::optional<FileIdentity> shown;
    QElapsedTimer clock;
    qint64 firstNs = -1;
    qint64 doneNs = -1;
    double doneCpu = 0;

    void BeginWork() override {}
    void EndWork() override {}
    void Cap(const QString &text) override
    {
        QCoreApplication::processEvents();
        if (text == QLatin1String("Processing image: 1") && firstNs < 0)
            firstNs = clock.nsecsElapsed();
        if (text == QLatin1String("Done") && doneNs < 0) {
            doneNs = clock.nsecsElapsed();
            doneCpu = cpuSeconds();
        }
        QCoreApplication::processEvents();
    }
    void letEventsRun() override { QCoreApplication::processEvents(); }
    bool stopFlag() const override { return false; }
    void setStopFlag(bool) override {}
    std::optional<FileIdentity> canvasSource() const override { return shown; }
    QImage &canvas() override
    {
        shown.reset();
        return picture;
    }
    void setCanvas(QImage image) override { picture = std::move(image); }
    void canvasChanged() override {}
    const QImage &secondImage() const override { return picture; }
    void setSecondImage(QImage) override {}
    int imageCount() const override { return int(paths.size()); }
    std::optional<QString> imagePath(int index) const override
    {
        return index < paths.size() ? std::optional(paths[index]) : std::nullopt;
    }
    void beep() override {}
    void showInformation(const QString &) override {}
    void showWarning(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
};

// A smooth scene with independent noise per frame, as a burst from a tripod looks.
int makeFrames(const QString &dir, int count, const QByteArray &format)
{
    QImage scene(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < scene.height(); ++y)
        for (int x = 0; x < scene.width(); ++x)
            scene.setPixel(x, y, qRgb(x * 255 / 400, y * 255 / 300, (x + y) % 256));
    scene = scene.scaled(4000, 3000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::mt19937 random(7);
    for (int i = 0; i < count; ++i) {
        QImage frame = scene.copy();
        for (int y = 0; y < frame.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(frame.scanLine(y));
            for (int x = 0; x < frame.width(); ++x)
                row[x] ^= QRgb(random() & 0x070707u);
        }
        const QString path = QDir(dir).filePath(QStringLiteral("frame%1.%2").arg(i, 2, 10, QChar(u'0')).arg(format));
        if (!frame.save(path, format.constData(), 92))
            return 1;
    }
    return 0;
}

int runOnce(const QStringList &paths)
{
    TimingHost host;
    host.paths = paths;
    std::optional<FileIdentity> identity;
    if (Outcome<QImage> first = decodeImageFile(paths.value(0), &identity)) {
        host.picture = std::move(*first);
        host.shown = identity;
    }
    const double cpuBefore = cpuSeconds();
    host.clock.start();
    runMedian(host);
    if (host.doneNs < 0)
        return 1;
    std::printf("%.3f %.3f %.3f\n", double(host.doneNs) / 1e9, host.doneCpu - cpuBefore, double(host.firstNs) / 1e9);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 4 && args[0] == QLatin1String("make"))
        return makeFrames(args[1], args[2].toInt(), args[3].toLatin1());
    if (args.size() >= 3 && args[0] == QLatin1String("run"))
        return runOnce(args.mid(1));
    std::fprintf(stderr, "usage: ombrelux_wholerun make DIR COUNT jpg|bmp | run FILE FILE...\n");
    return 2;
}
