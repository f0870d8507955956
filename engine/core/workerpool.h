#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// CPUs this process may use: those of its affinity mask, no more than its cgroup's CPU quota
// allows, at least 1.
int usableCpus();

// The CPUs a cgroup v2 quota allows (quota / period, rounded up) over the cgroup named in
// `procSelfCgroup` and its ancestors under `cgroupRoot`; nullopt where none is set.
std::optional<int> cgroupCpuLimit(const QString &cgroupRoot, const QByteArray &procSelfCgroup);

class PoolTask;

// The engine's one set of worker threads: decode-ahead, alignment, band painting, PNG bands and
// page fault-in all run on it. Tasks never touch widgets.
class WorkerPool {
public:
    // Starts up to `threads` workers; fewer when the system refuses more.
    explicit WorkerPool(int threads);
    // Runs what is queued, then joins.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // The process's pool: usableCpus() workers, or what setSharedThreads() said before it was
    // first used.
    static WorkerPool &shared();
    static void setSharedThreads(int threads);

    int threads() const { return int(m_threads.size()); }

    // Queues a task; false, with nothing queued, where no worker runs.
    bool post(std::function<void()> task);

    // body(i) for every i < count, on the workers and the calling thread; returns when all are
    // done. The caller takes indices too, so it never waits on a busy pool.
    void forEach(int count, const std::function<void(int)> &body);

    // A long task that stops when asked; see PoolTask.
    PoolTask start(std::function<void(const std::atomic<bool> &stop)> task);

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// A long task on the pool. Dropping or stopping it asks it to stop and waits until it has,
// or cancels it where it has not begun.
class PoolTask {
public:
    PoolTask() = default;
    PoolTask(PoolTask &&) noexcept = default;
    PoolTask &operator=(PoolTask &&other) noexcept;
    ~PoolTask();

    void stop();

    struct State;

private:
    friend class WorkerPool;
    std::shared_ptr<State> m_state;
};
