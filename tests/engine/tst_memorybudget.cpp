#include "engine/stack/memorybudget.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using Files = QMap<QString, QByteArray>;
using Bytes = std::optional<std::uint64_t>;

Q_DECLARE_METATYPE(Bytes)

class MemoryBudgetTest : public QObject {
    Q_OBJECT
private slots:
    void fakeTrees_data();
    void fakeTrees();
};

namespace {

constexpr std::uint64_t MiB = 1u << 20;

const QByteArray meminfo = "MemTotal:       16000000 kB\nMemFree:         1000 kB\nMemAvailable:    8388608 kB\n";
const QByteArray v1Mount = "34 30 0:31 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n";
const QByteArray v2Mount = "40 30 0:37 / /sys/fs/cgroup rw,relatime - cgroup2 cgroup2 rw\n";
const QByteArray hybridMounts = "31 30 0:28 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu,cpuacct\n" + v1Mount
                                + "41 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";
const QByteArray noLimitV1 = "hierarchical_memory_limit 9223372036854771712\ntotal_inactive_file 0\n";

QByteArray v1Stat(std::uint64_t limit, std::uint64_t inactive)
{
    return "cache 0\ninactive_file 1\nhierarchical_memory_limit " + QByteArray::number(limit)
           + "\ntotal_inactive_file " + QByteArray::number(inactive) + "\n";
}

QByteArray mib(std::uint64_t count)
{
    return QByteArray::number(count * MiB);
}

} // namespace

void MemoryBudgetTest::fakeTrees_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<Bytes>("dataLimit");
    QTest::addColumn<Bytes>("budget");

    QTest::newRow("nothing readable") << Files{} << Bytes() << Bytes();
    QTest::newRow("MemAvailable alone") << Files{{"proc/meminfo", meminfo}, {"proc/self/cgroup", "0::/\n"}} << Bytes()
                                        << Bytes(8192 * MiB);
    QTest::newRow("v1: limit minus usage, inactive page cache counted free")
        << Files{{"proc/meminfo", meminfo},
                 {"proc/self/cgroup", "4:memory:/box\n1:cpu:/\n"},
                 {"proc/self/mountinfo", v1Mount},
                 {"sys/fs/cgroup/memory/memory.stat", noLimitV1},
                 {"sys/fs/cgroup/memory/box/memory.stat", v1Stat(1024 * MiB, 100 * MiB)},
                 {"sys/fs/cgroup/memory/box/memory.usage_in_bytes", mib(300)}}
        << Bytes() << Bytes(824 * MiB);
    QTest::newRow("v1: a huge value means no limit")
        << Files{{"proc/meminfo", meminfo},
                 {"proc/self/cgroup", "4:memory:/box\n"},
                 {"proc/self/mountinfo", v1Mount},
                 {"sys/fs/cgroup/memory/box/memory.stat", v1Stat(std::uint64_t(1) << 62, 0)},
                 {"sys/fs/cgroup/memory/box/memory.usage_in_bytes", mib(300)}}
        << Bytes() << Bytes(8192 * MiB);
    QTest::newRow("v2: the lower of max and high, inactive page cache counted free")
        << Files{{"proc/meminfo", meminfo},
                 {"proc/self/cgroup", "0::/user.slice/app\n"},
                 {"proc/self/mountinfo", v2Mount},
                 {"sys/fs/cgroup/user.slice/app/memory.max", mib(2048)},
                 {"sys/fs/cgroup/user.slice/app/memory.high", mib(1024)},
                 {"sys/fs/cgroup/user.slice/app/memory.current", mib(600)},
                 {"sys/fs/cgroup/user.slice/app/memory.stat", "anon 1\ninactive_file " + mib(200) + "\n"}}
        << Bytes() << Bytes(624 * MiB);
    QTest::newRow("v2: max means no limit")
        << Files{{"proc/meminfo", meminfo},
                 {"proc/self/cgroup", "0::/app\n"},
                 {"proc/self/mountinfo", v2Mount},
                 {"sys/fs/cgroup/app/memory.max", "max\n"},
                 {"sys/fs/cgroup/app/memory.high", "max\n"},
                 {"sys/fs/cgroup/app/memory.current", mib(600)}}
        << Bytes() << Bytes(8192 * MiB);
    QTest::newRow("v2: an ancestor's limit binds")
        << Files{{"proc/meminfo", meminfo},
                 {"proc/self/cgroup", "0::/user.slice/session/app\n"},
                 {"proc/self/mountinfo", v2Mount},
                 {"sys/fs/cgroup/user.slice/session/app/memory.max", mib(4096)},
                 {"sys/fs/cgroup/user.slice/session/app/memory.current", mib(100)},
                 {"sys/fs/cgroup/user.slice/memory.max", mib(512)},
                 {"sys/fs/cgroup/user.slice/memory.current", mib(400)}}
        << Bytes() << Bytes(112 * MiB);
    QTest::newRow("limit below usage: nothing left")
        << Files{{"proc/meminfo", meminfo},
                 {"proc/self/cgroup", "0::/app\n"},
                 {"proc/self/mountinfo", v2Mount},
                 {"sys/fs/cgroup/app/memory.max", mib(256)},
                 {"sys/fs/cgroup/app/memory.current", mib(300)}}
        << Bytes() << Bytes(0);
    QTest::newRow("hybrid: memory on v1 beside a 0:: line")
        << Files{{"proc/meminfo", meminfo},
                 {"proc/self/cgroup", "9:name=systemd:/\n4:memory:/box\n1:cpu,cpuacct:/\n0::/\n"},
                 {"proc/self/mountinfo", hybridMounts},
                 {"sys/fs/cgroup/memory/box/memory.stat", v1Stat(512 * MiB, 0)},
                 {"sys/fs/cgroup/memory/box/memory.usage_in_bytes", mib(12)}}
        << Bytes() << Bytes(500 * MiB);
    QTest::newRow("container: the mount's root is the cgroup's path")
        << Files{{"proc/meminfo", meminfo},
                 {"proc/self/cgroup", "4:memory:/docker/abc\n"},
                 {"proc/self/mountinfo",
                  "34 30 0:31 /docker/abc /sys/fs/cgroup/memory ro - cgroup cgroup rw,memory\n"},
                 {"sys/fs/cgroup/memory/memory.stat", v1Stat(256 * MiB, 0)},
                 {"sys/fs/cgroup/memory/memory.usage_in_bytes", mib(56)}}
        << Bytes() << Bytes(200 * MiB);
    QTest::newRow("data limit minus VmData")
        << Files{{"proc/meminfo", meminfo}, {"proc/self/status", "Name:\tx\nVmData:\t  102400 kB\nVmStk:\t 132 kB\n"}}
        << Bytes(2048 * MiB) << Bytes(1948 * MiB);
}

void MemoryBudgetTest::fakeTrees()
{
    QFETCH(Files, files);
    QFETCH(Bytes, dataLimit);
    QFETCH(Bytes, budget);
    QTemporaryDir root;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        QVERIFY(QDir(root.path()).mkpath(QFileInfo(file.key()).path()));
        QFile out(root.filePath(file.key()));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file.value());
    }
    QCOMPARE(memoryBudget(root.path(), [&] { return dataLimit; }), budget);
}

QTEST_MAIN(MemoryBudgetTest)
#include "tst_memorybudget.moc"
