#include "engine/stack/memorybudget.h"

#include <QDir>
#include <QFile>

#include <sys/resource.h>

#include <algorithm>

namespace {

// v1 writes "no limit" as the largest page-aligned signed value; anything this large means none.
constexpr std::uint64_t NoV1Limit = std::uint64_t(1) << 62;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<std::uint64_t> number(const QByteArray &text)
{
    bool ok = false;
    const qulonglong value = text.trimmed().toULongLong(&ok);
    return ok ? std::optional<std::uint64_t>(value) : std::nullopt;
}

// The value after "key" (then blanks or a colon) on its own line of a key-value file.
std::optional<std::uint64_t> field(const QByteArray &text, const QByteArray &key)
{
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith(key) && line.size() > key.size() && (line[key.size()] == ' ' || line[key.size()] == ':'))
            return number(line.mid(key.size() + 1).trimmed().split(' ').constFirst());
    return std::nullopt;
}

void lower(std::optional<std::uint64_t> &budget, std::optional<std::uint64_t> value)
{
    if (value)
        budget = budget ? std::min(*budget, *value) : *value;
}

std::optional<std::uint64_t> roomUnder(std::uint64_t limit, std::uint64_t usage)
{
    return limit > usage ? limit - usage : 0;
}

// mountinfo escapes blanks and backslashes in paths as \ooo.
QString unescaped(const QByteArray &path)
{
    QByteArray plain;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' && i + 3 < path.size()) {
            bool ok = false;
            const int code = path.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                plain += char(code);
                i += 3;
                continue;
            }
        }
        plain += path[i];
    }
    return QString::fromLocal8Bit(plain);
}

struct Hierarchy {
    bool v2 = false;
    QString cgroup; // the process's path inside the hierarchy, from /proc/self/cgroup
};

// The memory hierarchies the process is in: a v1 one carrying the memory controller, and the
// v2 one ("0::"). Hybrid layouts have both, and only one of them holds memory files.
std::vector<Hierarchy> memoryHierarchies(const QByteArray &cgroups)
{
    std::vector<Hierarchy> found;
    for (const QByteArray &line : cgroups.split('\n')) {
        const qsizetype first = line.indexOf(':');
        const qsizetype second = line.indexOf(':', first + 1);
        if (first < 0 || second < 0)
            continue;
        const QByteArray controllers = line.mid(first + 1, second - first - 1);
        const QString path = QString::fromLocal8Bit(line.mid(second + 1));
        if (line.left(first) == "0" && controllers.isEmpty())
            found.push_back({true, path});
        else if (controllers.split(',').contains("memory"))
            found.push_back({false, path});
    }
    return found;
}

struct CgroupFolders {
    QString mount; // the hierarchy's top as far as this mount shows it
    QString own;   // the process's cgroup under it
};

// The process's cgroup folder, through the mount whose root contains its path.
std::optional<CgroupFolders> cgroupFolders(const QString &root, const QByteArray &mountinfo, const Hierarchy &hierarchy)
{
    for (const QByteArray &line : mountinfo.split('\n')) {
        const qsizetype dash = line.indexOf(" - ");
        if (dash < 0)
            continue;
        const QList<QByteArray> mount = line.left(dash).split(' ');
        const QList<QByteArray> source = line.mid(dash + 3).split(' ');
        if (mount.size() < 5 || source.size() < 3)
            continue;
        const bool matches = hierarchy.v2 ? source[0] == "cgroup2"
                                          : source[0] == "cgroup" && source[2].split(',').contains("memory");
        if (!matches)
            continue;
        QString mountRoot = unescaped(mount[3]);
        if (mountRoot.endsWith(u'/'))
            mountRoot.chop(1);
        if (hierarchy.cgroup != mountRoot && !hierarchy.cgroup.startsWith(mountRoot + u'/'))
            continue;
        const QString top = QDir::cleanPath(root + u'/' + unescaped(mount[4]));
        return CgroupFolders{top, QDir::cleanPath(top + u'/' + hierarchy.cgroup.mid(mountRoot.size()))};
    }
    return std::nullopt;
}

// Limit minus usage of one cgroup; nullopt when it has no limit.
std::optional<std::uint64_t> cgroupRoom(const QString &folder, bool v2)
{
    if (v2) {
        const QByteArray stat = readFile(folder + QStringLiteral("/memory.stat"));
        std::optional<std::uint64_t> limit;
        lower(limit, number(readFile(folder + QStringLiteral("/memory.max")))); // "max" reads as none
        lower(limit, number(readFile(folder + QStringLiteral("/memory.high"))));
        const std::optional<std::uint64_t> current = number(readFile(folder + QStringLiteral("/memory.current")));
        if (!limit)
            return std::nullopt;
        const std::uint64_t usage = current.value_or(0);
        return roomUnder(*limit, usage - std::min(usage, field(stat, "inactive_file").value_or(0)));
    }
    const QByteArray stat = readFile(folder + QStringLiteral("/memory.stat"));
    const std::optional<std::uint64_t> limit = field(stat, "hierarchical_memory_limit");
    if (!limit || *limit >= NoV1Limit)
        return std::nullopt;
    // v1 usage covers the descendants, so its page cache is the hierarchical one.
    const std::uint64_t usage = number(readFile(folder + QStringLiteral("/memory.usage_in_bytes"))).value_or(0);
    const std::optional<std::uint64_t> inactive = field(stat, "total_inactive_file");
    return roomUnder(*limit, usage - std::min(usage, inactive ? *inactive : field(stat, "inactive_file").value_or(0)));
}

// An ancestor's limit binds the whole subtree, so every cgroup up to the mount counts.
std::optional<std::uint64_t> cgroupBudget(const QString &root)
{
    const QByteArray mountinfo = readFile(root + QStringLiteral("/proc/self/mountinfo"));
    std::optional<std::uint64_t> budget;
    for (const Hierarchy &hierarchy : memoryHierarchies(readFile(root + QStringLiteral("/proc/self/cgroup")))) {
        const std::optional<CgroupFolders> folders = cgroupFolders(root, mountinfo, hierarchy);
        if (!folders)
            continue;
        for (QString level = folders->own;; level = QDir::cleanPath(level + QStringLiteral("/.."))) {
            lower(budget, cgroupRoom(level, hierarchy.v2));
            if (level.size() <= folders->mount.size())
                break;
        }
    }
    return budget;
}

} // namespace

std::optional<std::uint64_t> softDataLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_DATA, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return std::uint64_t(limit.rlim_cur);
}

std::optional<std::uint64_t> memoryBudget(const QString &root, const DataLimit &dataLimit)
{
    std::optional<std::uint64_t> budget;
    if (const std::optional<std::uint64_t> kib = field(readFile(root + QStringLiteral("/proc/meminfo")), "MemAvailable"))
        budget = *kib * 1024u;
    lower(budget, cgroupBudget(root));
    if (const std::optional<std::uint64_t> limit = dataLimit()) {
        const std::uint64_t used = field(readFile(root + QStringLiteral("/proc/self/status")), "VmData").value_or(0) * 1024u;
        lower(budget, roomUnder(*limit, used));
    }
    return budget;
}

std::optional<std::uint64_t> processMemoryBudget()
{
    return memoryBudget(QStringLiteral("/"), softDataLimit);
}
