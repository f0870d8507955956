#include "engine/core/workerpool.h"

#include <QFile>

#include <sched.h>

#include <algorithm>
#include <system_error>

namespace {

int threadsAsked = 0; // 0: the usable CPUs

std::optional<int> quotaIn(const QString &folder)
{
    QFile file(folder + QStringLiteral("/cpu.max"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
    bool quotaOk = false, periodOk = false;
    const qint64 quota = fields.value(0).toLongLong(&quotaOk);
    const qint64 period = fields.value(1).toLongLong(&periodOk);
    if (!quotaOk || !periodOk || quota <= 0 || period <= 0)
        return std::nullopt; // "max": no quota
    return int(std::max<qint64>(1, (quota + period - 1) / period));
}

} // namespace

std::optional<int> cgroupCpuLimit(const QString &cgroupRoot, const QByteArray &procSelfCgroup)
{
    // cgroup v2 names the process's group on its one line "0::/path".
    QString path;
    for (const QByteArray &line : procSelfCgroup.split('\n'))
        if (line.startsWith("0::"))
            path = QString::fromUtf8(line.mid(3)).trimmed();
    if (path.isEmpty() || path.contains(QStringLiteral("..")))
        return std::nullopt;
    std::optional<int> limit;
    for (QString folder = path;; folder = folder.left(std::max<qsizetype>(0, folder.lastIndexOf(u'/')))) {
        if (const std::optional<int> quota = quotaIn(cgroupRoot + folder))
            limit = std::min(limit.value_or(*quota), *quota);
        if (folder.isEmpty())
            break;
    }
    return limit;
}

int usableCpus()
{
    int cpus = 1;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        cpus = std::max(1, CPU_COUNT(&set));
    else
        cpus = std::max(1, int(std::thread::hardware_concurrency()));
    QFile self(QStringLiteral("/proc/self/cgroup"));
    if (self.open(QIODevice::ReadOnly))
        if (const std::optional<int> limit = cgroupCpuLimit(QStringLiteral("/sys/fs/cgroup"), self.readAll()))
            cpus = std::min(cpus, *limit);
    return cpus;
}

WorkerPool::WorkerPool(int threads)
{
    for (int i = 0; i < threads; ++i) {
        try {
            m_threads.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            break; // the callers run what no worker can
        }
    }
}

WorkerPool::~WorkerPool()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_queued.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

WorkerPool &WorkerPool::shared()
{
    static WorkerPool pool(threadsAsked > 0 ? threadsAsked : usableCpus());
    return pool;
}

void WorkerPool::setSharedThreads(int threads)
{
    threadsAsked = threads;
}

void WorkerPool::work()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_queued.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

bool WorkerPool::post(std::function<void()> task)
{
    if (m_threads.empty())
        return false;
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_queued.notify_one();
    return true;
}

namespace {

// Indices handed out and finished; shared with helpers that may start after the caller is done.
struct ForEachState {
    std::atomic<int> next{0};
    int count = 0;
    int finished = 0;
    std::mutex mutex;
    std::condition_variable allDone;
    const std::function<void(int)> *body = nullptr;

    void runIndices()
    {
        int done = 0;
        for (int i = next++; i < count; i = next++) {
            (*body)(i);
            ++done;
        }
        if (done == 0)
            return;
        const std::lock_guard lock(mutex);
        finished += done;
        if (finished == count)
            allDone.notify_all();
    }
};

} // namespace

void WorkerPool::forEach(int count, const std::function<void(int)> &body)
{
    if (count <= 0)
        return;
    auto state = std::make_shared<ForEachState>();
    state->count = count;
    state->body = &body;
    for (int helper = 0; helper < std::min(count - 1, threads()); ++helper)
        post([state] { state->runIndices(); });
    state->runIndices();
    std::unique_lock lock(state->mutex);
    state->allDone.wait(lock, [&] { return state->finished == count; });
}

struct PoolTask::State {
    enum class Stage { Queued, Running, Over };
    std::mutex mutex;
    std::condition_variable over;
    Stage stage = Stage::Queued;
    std::atomic<bool> stopAsked{false};
};

PoolTask WorkerPool::start(std::function<void(const std::atomic<bool> &stop)> task)
{
    PoolTask handle;
    auto state = std::make_shared<PoolTask::State>();
    const bool queued = post([state, task = std::move(task)] {
        {
            const std::lock_guard lock(state->mutex);
            if (state->stage == PoolTask::State::Stage::Over)
                return; // stopped before it began
            state->stage = PoolTask::State::Stage::Running;
        }
        task(state->stopAsked);
        const std::lock_guard lock(state->mutex);
        state->stage = PoolTask::State::Stage::Over;
        state->over.notify_all();
    });
    if (queued)
        handle.m_state = std::move(state);
    return handle;
}

void PoolTask::stop()
{
    if (!m_state)
        return;
    m_state->stopAsked = true;
    std::unique_lock lock(m_state->mutex);
    if (m_state->stage == State::Stage::Queued)
        m_state->stage = State::Stage::Over;
    m_state->over.wait(lock, [&] { return m_state->stage == State::Stage::Over; });
    lock.unlock();
    m_state.reset();
}

PoolTask &PoolTask::operator=(PoolTask &&other) noexcept
{
    if (this != &other) {
        stop();
        m_state = std::move(other.m_state);
    }
    return *this;
}

PoolTask::~PoolTask()
{
    stop();
}
