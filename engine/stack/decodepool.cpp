#include "engine/stack/decodepool.h"

#include "engine/core/filenames.h"
#include "engine/decode/imageloader.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <utility>

struct DecodePool::Job {
    enum class State { Queued, Decoding, Done, Dropped };
    QString path;
    State state = State::Queued;
    LoadedPicture loaded;
    std::optional<FileIdentity> identity;
    // Not read ahead: its announced size did not fit the room left.
    bool refused = false;
    std::int64_t reserved = 0;
};

struct DecodePool::Run {
    FrameDecoder decoder;
    FrameAligner aligner;
    std::vector<Job> jobs;
    std::size_t next = 0;
    std::atomic<bool> cancelled{false};
    std::atomic<std::int64_t> room{0};
    std::int64_t pixelBytes = 4; // of a decoded frame
};

namespace {

// Reads fail from the moment its run is cancelled, so a decoder gives up within one buffer.
class CancellableFile : public QFile {
public:
    CancellableFile(const QString &path, const std::atomic<bool> &cancelled) : QFile(path), m_cancelled(cancelled) {}

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_cancelled.load(std::memory_order_relaxed)) {
            giveUpDecoding();
            return -1;
        }
        return QFile::readData(data, maxSize);
    }

private:
    const std::atomic<bool> &m_cancelled;
};

struct Decoded {
    LoadedPicture loaded;
    std::optional<FileIdentity> identity;
    bool refused = false;
    std::int64_t reserved = 0;
};

// Takes room for a decoded frame from the run's budget, or refuses it there.
bool reserveRoom(DecodePool::Run &run, QSize announced, Decoded &decoded)
{
    std::atomic<std::int64_t> &room = run.room;
    const std::int64_t bytes = run.pixelBytes * std::int64_t(announced.width()) * std::int64_t(announced.height());
    std::int64_t left = room.load();
    do {
        if (!announced.isValid() || left < bytes) {
            decoded.refused = true;
            return false;
        }
    } while (!room.compare_exchange_weak(left, left - bytes));
    decoded.reserved = bytes;
    return true;
}

// The identity comes from the opened file, so a file swapped in after the open never matches.
Decoded decodeAhead(DecodePool::Run &run, const QString &path)
{
    Decoded decoded;
    CancellableFile file(path, run.cancelled);
    if (const Outcome<> opened = openForDecoding(file); !opened) {
        decoded.loaded.failure = opened.reason();
        decoded.identity = identityOf(path);
        return decoded;
    }
    decoded.identity = identityOf(file);
    if (!decoded.identity)
        return decoded;
    Outcome<QImage> frame
        = run.decoder(file, [&](QSize announced) { return reserveRoom(run, announced, decoded); });
    if (!frame)
        decoded.loaded.failure = frame.reason();
    else if (run.aligner)
        decoded.loaded = run.aligner(std::move(*frame));
    else
        decoded.loaded.picture = std::move(*frame);
    return decoded;
}

} // namespace

DecodePool::DecodePool(WorkerPool &workers, int framesInFlight)
    : m_workers(workers), m_maxFramesInFlight(framesInFlight)
{
}

DecodePool::DecodePool(int workers, int framesInFlight)
    : m_ownWorkers(std::make_unique<WorkerPool>(workers)), m_workers(*m_ownWorkers),
      m_maxFramesInFlight(framesInFlight)
{
}

DecodePool::~DecodePool()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    waitForQueued();
}

void DecodePool::waitForQueued()
{
    std::unique_lock lock(m_mutex);
    m_jobDone.wait(lock, [this] { return m_decodesQueued == 0; });
}

DecodePool &DecodePool::shared()
{
    WorkerPool &workers = WorkerPool::shared();
    static DecodePool pool(workers, std::max(1, workers.threads()) + 1);
    return pool;
}

bool DecodePool::nextJob(std::shared_ptr<Run> &run, std::size_t &index)
{
    if (m_stopping || m_framesInFlight >= m_maxFramesInFlight)
        return false;
    for (const std::shared_ptr<Run> &candidate : m_runs) {
        while (candidate->next < candidate->jobs.size() && candidate->jobs[candidate->next].state != Job::State::Queued)
            ++candidate->next;
        if (candidate->next == candidate->jobs.size())
            continue;
        run = candidate;
        index = candidate->next++;
        run->jobs[index].state = Job::State::Decoding;
        ++m_framesInFlight;
        return true;
    }
    return false;
}

// A job is marked decoding only when a worker is there for it, so a loop that finds its frame
// queued decodes it itself; whatever no worker runs is decoded so at its turn.
void DecodePool::schedule()
{
    std::shared_ptr<Run> run;
    std::size_t index = 0;
    while (m_decodesQueued < m_workers.threads() && nextJob(run, index)) {
        ++m_decodesQueued;
        m_workers.post([this, run, index] { decode(run, index); });
    }
}

void DecodePool::decode(const std::shared_ptr<Run> &run, std::size_t index)
{
    QString path;
    {
        const std::lock_guard lock(m_mutex);
        path = run->jobs[index].path;
    }
    Decoded decoded = run->cancelled ? Decoded() : decodeAhead(*run, path);
    {
        const std::lock_guard lock(m_mutex);
        Job &job = run->jobs[index];
        const bool held = job.state == Job::State::Decoding && decoded.loaded.picture;
        if (held) {
            job.state = Job::State::Done;
            job.reserved = decoded.reserved;
        } else {
            // Dropped meanwhile, or nothing to hold: the slot and the room are free again.
            if (job.state == Job::State::Decoding)
                job.state = Job::State::Done;
            --m_framesInFlight;
            run->room += decoded.reserved;
        }
        if (held || !decoded.loaded.picture)
            job.loaded = std::move(decoded.loaded);
        job.identity = decoded.identity;
        job.refused = decoded.refused;
        --m_decodesQueued;
        schedule();
        // Under the lock: once it is released the destructor may already have ended the pool.
        m_jobDone.notify_all();
    }
    // A dropped frame is freed here, outside the lock.
}

namespace {

// Ends a job wherever it stands; hands back what it held. Call with the mutex held.
LoadedPicture release(DecodePool::Job &job, std::atomic<std::int64_t> &room, int &framesInFlight)
{
    LoadedPicture loaded;
    if (job.state == DecodePool::Job::State::Done && job.loaded.picture) {
        --framesInFlight;
        room += job.reserved;
    }
    if (job.state == DecodePool::Job::State::Done)
        loaded = std::exchange(job.loaded, {});
    // A job still decoding gives its slot back when its worker finishes.
    job.state = DecodePool::Job::State::Dropped;
    return loaded;
}

} // namespace

FramesAhead::FramesAhead(DecodePool &pool, FrameDecoder decoder, SampleDepth depth, const QStringList &paths,
                         std::int64_t room, FrameAligner aligner)
    : m_pool(pool), m_run(std::make_shared<DecodePool::Run>())
{
    m_run->decoder = std::move(decoder);
    m_run->pixelBytes = 4 * bytesPerSample(depth);
    m_run->aligner = std::move(aligner);
    m_run->room = room;
    for (const QString &path : paths) {
        DecodePool::Job &job = m_run->jobs.emplace_back();
        job.path = path;
        if (path.isEmpty())
            job.state = DecodePool::Job::State::Dropped;
    }
    const std::lock_guard lock(m_pool.m_mutex);
    m_pool.m_runs.push_back(m_run);
    m_pool.schedule();
}

FramesAhead::~FramesAhead()
{
    m_run->cancelled = true;
    std::vector<LoadedPicture> dropped;
    {
        const std::lock_guard lock(m_pool.m_mutex);
        for (DecodePool::Job &job : m_run->jobs)
            dropped.push_back(release(job, m_run->room, m_pool.m_framesInFlight));
        std::erase(m_pool.m_runs, m_run);
        m_pool.schedule();
    }
}

LoadedPicture FramesAhead::take(int index, const QString &path)
{
    LoadedPicture loaded;
    std::optional<FileIdentity> identity;
    bool readAhead = false;
    {
        std::unique_lock lock(m_pool.m_mutex);
        DecodePool::Job &job = m_run->jobs[std::size_t(index)];
        // A job no worker has started yet is decoded here rather than waited for; but an aligned
        // frame costs several decodes, and decoded here it would compete with the workers for the
        // cores while they, at their limit of frames in flight, wait for this loop. So it is
        // waited for whenever a worker can still take it.
        if (job.path == path && m_run->aligner && m_pool.m_workers.threads() > 0)
            m_pool.m_jobDone.wait(lock, [&] {
                return job.state != DecodePool::Job::State::Queued ||
                       m_pool.m_framesInFlight >= m_pool.m_maxFramesInFlight;
            });
        if (job.path == path && job.state != DecodePool::Job::State::Queued) {
            m_pool.m_jobDone.wait(lock, [&] { return job.state != DecodePool::Job::State::Decoding; });
            readAhead = job.state == DecodePool::Job::State::Done && !job.refused;
            identity = job.identity;
        }
        loaded = release(job, m_run->room, m_pool.m_framesInFlight);
        m_pool.schedule();
    }
    if (!readAhead)
        return decodeNow(path);
    if (identityOf(path) != identity)
        return decodeNow(path);
    return loaded;
}

void FramesAhead::skip(int index)
{
    LoadedPicture dropped;
    {
        const std::lock_guard lock(m_pool.m_mutex);
        dropped = release(m_run->jobs[std::size_t(index)], m_run->room, m_pool.m_framesInFlight);
        m_pool.schedule();
    }
}

LoadedPicture FramesAhead::decodeNow(const QString &path) const
{
    LoadedPicture loaded;
    QFile file(path);
    if (const Outcome<> opened = openForDecoding(file); !opened) {
        loaded.failure = opened.reason();
        return loaded;
    }
    Outcome<QImage> frame = m_run->decoder(file, {});
    if (!frame)
        loaded.failure = frame.reason();
    else if (m_run->aligner)
        return m_run->aligner(std::move(*frame));
    else
        loaded.picture = std::move(*frame);
    return loaded;
}
