#include "support/childload.h"

#include <QProcess>
#include <QProcessEnvironment>

ChildLoad loadInChild(const QString &path, int timeoutMs, ChildLoad::Pixels pixels)
{
    ChildLoad result;
    QProcess child;
    // Under AddressSanitizer the probe cannot take an address-space cap; bound its memory here.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("hard_rss_limit_mb=4096"));
    // glibc hands out freed memory filled with this byte: a pixel the decoder never wrote shows.
    environment.insert(QStringLiteral("MALLOC_PERTURB_"), QStringLiteral("165"));
    child.setProcessEnvironment(environment);
    QStringList arguments{path};
    if (pixels == ChildLoad::Pixels::NotHashed)
        arguments.prepend(QStringLiteral("--no-hash"));
    child.start(QStringLiteral(OMBRELUX_LOADPROBE), arguments);
    if (!child.waitForStarted()) {
        result.detail = QStringLiteral("probe did not start: ") + child.errorString();
        return result;
    }
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished();
        result.outcome = ChildLoad::Outcome::TimedOut;
        result.detail = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
        return result;
    }
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
    const QString err = QString::fromLocal8Bit(child.readAllStandardError()).trimmed();
    result.detail = QStringLiteral("exit %1%2, output \"%3\"%4")
                        .arg(child.exitCode())
                        .arg(child.exitStatus() == QProcess::CrashExit ? QStringLiteral(" (crashed)") : QString())
                        .arg(out, err.isEmpty() ? QString() : QStringLiteral(", stderr: ") + err.left(600));
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return result;
    // "ok WxH sha256", "ok WxH" or "fail REASON", then "rss KB" (the child's peak resident memory)
    const QStringList lines = out.split(QLatin1Char('\n'));
    const QStringList words = lines.value(0).split(QLatin1Char(' '));
    const QStringList rss = lines.value(1).split(QLatin1Char(' '));
    if (lines.size() != 2 || rss.size() != 2 || rss[0] != QLatin1String("rss"))
        return result;
    result.peakRssKb = rss[1].toLongLong();
    if (words.size() >= 2 && words[0] == QLatin1String("fail")) {
        result.outcome = ChildLoad::Outcome::Refused;
        result.reason = lines[0].section(QLatin1Char(' '), 1);
    } else if (words.size() >= 2 && words.size() <= 3 && words[0] == QLatin1String("ok")) {
        const QStringList dims = words[1].split(QLatin1Char('x'));
        if (dims.size() == 2) {
            result.outcome = ChildLoad::Outcome::Loaded;
            result.size = QSize(dims[0].toInt(), dims[1].toInt());
            result.sha256 = words.value(2).toLatin1();
        }
    }
    return result;
}
