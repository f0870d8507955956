// Runs a median over the given files, the canvas starting as the first of them, and prints the
// steps the run took ("BeginWork|Cap:...|EndWork"), then "sha256 HASH" of the canvas and
// "ms N", the run's time. With --data-headroom MIB it first caps its own RLIMIT_DATA that far
// above what it uses; with --budget MIB the run sees that memory budget instead of the real one.
// Tests run it as a child process under a real data limit; bench/spill.sh times it.
#include "engine/decode/imageloader.h"
#include "ops/median.h"
#include "support/window/fakes.h"
#include "support/rgbhash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <sys/resource.h>

#include <cstdio>

namespace {

std::uint64_t vmData()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmData:"))
            return line.mid(7).trimmed().split(' ').constFirst().toULongLong() * 1024u;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    std::optional<std::uint64_t> headroom;
    MemoryProbe probe = processMemoryBudget;
    QString scratch = defaultScratchFolder();
    while (arguments.size() >= 2 && arguments[0].startsWith(QStringLiteral("--"))) {
        const std::uint64_t mib = arguments[1].toULongLong() << 20;
        if (arguments[0] == QStringLiteral("--data-headroom"))
            headroom = mib;
        else if (arguments[0] == QStringLiteral("--budget"))
            probe = [mib] { return std::optional<std::uint64_t>(mib); };
        else if (arguments[0] == QStringLiteral("--scratch"))
            scratch = arguments[1];
        else
            break;
        arguments = arguments.mid(2);
    }
    if (arguments.isEmpty() || arguments[0].startsWith(QStringLiteral("--"))) {
        std::fputs("usage: medianprobe [--data-headroom MIB] [--budget MIB] [--scratch DIR] FILE...\n", stderr);
        return 2;
    }
    FakeHost host;
    host.paths = arguments;
    if (Outcome<QImage> first = decodeImageFile(arguments[0]))
        host.setCanvas(std::move(*first));
    if (headroom) {
        const rlimit limit{vmData() + *headroom, RLIM_INFINITY};
        if (setrlimit(RLIMIT_DATA, &limit) != 0)
            std::perror("setrlimit");
    }
    QElapsedTimer timer;
    timer.start();
    runMedian(host, {.memory = probe, .scratchFolder = scratch});
    const qint64 elapsed = timer.elapsed();
    std::printf("%s\nsha256 %s\nms %lld\n", qPrintable(host.log.join(u'|')), rgbSha256(host.canvas()).constData(),
                static_cast<long long>(elapsed));
    return 0;
}
