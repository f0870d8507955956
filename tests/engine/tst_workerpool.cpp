// The one pool: how many CPUs it counts, and that every index and task runs or is cancelled.
#include "engine/core/workerpool.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>

#include <atomic>
#include <latch>

class WorkerPoolTest : public QObject {
    Q_OBJECT
private slots:
    void cgroupQuota_data();
    void cgroupQuota();
    void affinityLimitsTheCount();
    void forEachRunsEveryIndexOnce_data();
    void forEachRunsEveryIndexOnce();
    void taskStoppedBeforeItBegins();
};

void WorkerPoolTest::cgroupQuota_data()
{
    QTest::addColumn<QStringList>("quotas"); // cpu.max of the root, "a", "a/b"; empty: no file
    QTest::addColumn<int>("expected");       // 0: no limit
    QTest::newRow("no quota anywhere") << QStringList{"max 100000", "max 100000", "max 100000"} << 0;
    QTest::newRow("one and a half rounds up") << QStringList{"", "", "150000 100000"} << 2;
    QTest::newRow("below one is one") << QStringList{"", "", "20000 100000"} << 1;
    QTest::newRow("a parent's is lower") << QStringList{"", "300000 100000", "800000 100000"} << 3;
    QTest::newRow("garbage is no quota") << QStringList{"", "", "lots"} << 0;
}

void WorkerPoolTest::cgroupQuota()
{
    QFETCH(QStringList, quotas);
    QFETCH(int, expected);
    QTemporaryDir root;
    const QStringList folders{root.path(), root.path() + "/a", root.path() + "/a/b"};
    for (int i = 0; i < folders.size(); ++i) {
        QVERIFY(QDir().mkpath(folders[i]));
        if (quotas[i].isEmpty())
            continue;
        QFile file(folders[i] + "/cpu.max");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(quotas[i].toUtf8() + "\n");
    }
    const std::optional<int> limit = cgroupCpuLimit(root.path(), "0::/a/b\n");
    QCOMPARE(limit.value_or(0), expected);
}

// As under `taskset -c 0`.
void WorkerPoolTest::affinityLimitsTheCount()
{
    cpu_set_t all, one;
    QCOMPARE(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    QCOMPARE(sched_setaffinity(0, sizeof one, &one), 0);
    const int counted = usableCpus();
    QCOMPARE(sched_setaffinity(0, sizeof all, &all), 0);
    QCOMPARE(counted, 1);
}

void WorkerPoolTest::forEachRunsEveryIndexOnce_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("count");
    QTest::newRow("no worker: the caller alone") << 0 << 5;
    QTest::newRow("more indices than workers") << 3 << 100;
    QTest::newRow("more workers than indices") << 3 << 2;
    QTest::newRow("nothing to do") << 3 << 0;
}

void WorkerPoolTest::forEachRunsEveryIndexOnce()
{
    QFETCH(int, threads);
    QFETCH(int, count);
    WorkerPool pool(threads);
    QCOMPARE(pool.threads(), threads);
    std::vector<std::atomic<int>> runs(std::size_t(count) + 1);
    pool.forEach(count, [&](int i) { ++runs[std::size_t(i)]; });
    for (int i = 0; i < count; ++i)
        QCOMPARE(runs[std::size_t(i)].load(), 1);
}

// A long task queued behind a busy worker is cancelled, never run, and stop() does not wait.
void WorkerPoolTest::taskStoppedBeforeItBegins()
{
    bool ran = false;
    {
        WorkerPool pool(1);
        std::latch busy(1), release(1);
        QVERIFY(pool.post([&] {
            busy.count_down();
            release.wait();
        }));
        busy.wait();
        PoolTask task = pool.start([&](const std::atomic<bool> &) { ran = true; });
        task.stop();
        release.count_down();
    } // the worker has passed the cancelled task
    QVERIFY(!ran);
}

QTEST_MAIN(WorkerPoolTest)
#include "tst_workerpool.moc"
