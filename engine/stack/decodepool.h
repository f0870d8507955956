#pragma once

#include "engine/align/alignment.h"
#include "engine/align/coverage.h"
#include "engine/core/outcome.h"
#include "engine/core/workerpool.h"
#include "engine/decode/decodelimits.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QIODevice;

// A file's picture, or why it gave none.
struct LoadedPicture {
    std::optional<QImage> picture;
    QString failure;
    // Where a picture warped into a stack's grid covers it; nullopt for a picture as decoded.
    std::optional<Coverage> coverage;
    // Decoded, but it could not be aligned to the stack's reference: `failure` says why.
    bool unaligned = false;
    // Aligned: what the alignment rests on.
    std::optional<AlignmentFacts> alignment;
};

// Decodes one opened regular file, saying why where it gives no picture. Reads fail once the
// file's run is cancelled, which is the only way to cut a QImageReader::read short.
using FrameDecoder = std::function<Outcome<QImage>(QIODevice &file, const SizeAdmission &admit)>;

// Makes a decoded frame the one stacked, warped into a reference's grid, or says why it cannot be.
using FrameAligner = std::function<LoadedPicture(QImage decoded)>;

// Decodes the listed files of stack runs ahead of their loops, on worker threads. One serves
// every run: frames decoding or decoded and not yet taken are bounded over all runs together.
class DecodePool {
public:
    DecodePool(WorkerPool &workers, int framesInFlight);
    // On workers of its own.
    DecodePool(int workers, int framesInFlight);
    // Waits for the decodes it queued, which cancelled runs cut short.
    ~DecodePool();
    DecodePool(const DecodePool &) = delete;
    DecodePool &operator=(const DecodePool &) = delete;

    // On the shared workers, with one frame more than workers in flight.
    static DecodePool &shared();

    // Waits until no decode it queued is in flight, cancelled runs' included.
    void waitForQueued();

    struct Run;
    struct Job;

private:
    friend class FramesAhead;
    // Queues a decode for each job a worker may take now. Call with the mutex held.
    void schedule();
    void decode(const std::shared_ptr<Run> &run, std::size_t index);
    bool nextJob(std::shared_ptr<Run> &run, std::size_t &index);

    std::unique_ptr<WorkerPool> m_ownWorkers;
    WorkerPool &m_workers;
    std::mutex m_mutex;
    std::condition_variable m_jobDone;
    std::deque<std::shared_ptr<Run>> m_runs;
    int m_framesInFlight = 0;
    const int m_maxFramesInFlight;
    int m_decodesQueued = 0;
    bool m_stopping = false;
};

// One run's files, read ahead in list order from the moment it is made. Destroying it cancels
// the run at once: reads in flight fail, frames not taken are dropped, nothing is waited for.
class FramesAhead {
public:
    // `room`: bytes of decoded pixels (four samples of `depth` each) the run may hold ahead of its
    // loop. Empty paths are not read. With an aligner, each frame is aligned on the worker that
    // decoded it.
    FramesAhead(DecodePool &pool, FrameDecoder decoder, SampleDepth depth, const QStringList &paths, std::int64_t room,
                FrameAligner aligner = {});
    ~FramesAhead();
    FramesAhead(const FramesAhead &) = delete;
    FramesAhead &operator=(const FramesAhead &) = delete;

    // Entry `index`'s picture as the file at `path` is now, or why it does not load. The frame
    // read ahead when it is still that file's, else decoded here.
    LoadedPicture take(int index, const QString &path);
    // The entry is gone: its frame is dropped.
    void skip(int index);

private:
    LoadedPicture decodeNow(const QString &path) const;

    DecodePool &m_pool;
    std::shared_ptr<DecodePool::Run> m_run;
};
