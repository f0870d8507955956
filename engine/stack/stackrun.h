#pragma once

#include "engine/align/alignment.h"
#include "engine/align/coverage.h"
#include "engine/core/outcome.h"
#include "engine/core/workerpool.h"
#include "engine/stack/decodepool.h"
#include "engine/decode/imageloader.h"
#include "engine/stack/memorybudget.h"
#include "engine/stack/runningstack.h"
#include "engine/stack/scratchio.h"
#include "engine/stack/stackmode.h"
#include "engine/stack/stackplanes.h"
#include "engine/stack/stackresources.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

// One stack over the files of a list: made for the stacked area and a mode, it reads the files
// ahead on the decode pool, takes each frame by its index and ends with the stacked values
// painted, or the system's reason why they could not be. Frames come from one thread, in any
// order. The median and sigma clipping keep every sample, in memory or in a scratch file; the
// others fold each frame into running values. Given a reference, every frame taken is first
// warped into its grid on the decode workers, and each pixel's samples are only those of the
// frames that cover it.
class StackRun {
public:
    // An empty path is a frame the caller brings itself; it is not read ahead, nor taken. The
    // reference, when not null, is a picture of the area's size.
    StackRun(QSize area, const QStringList &paths, const StackResources &resources = {},
             const StackOptions &options = {}, const QImage &alignTo = {}, AlignMethod method = AlignMethod::Local);
    ~StackRun();
    StackRun(const StackRun &) = delete;
    StackRun &operator=(const StackRun &) = delete;

    // Whether the run can start at all, or why not: "Not enough memory to stack N images of
    // P x Q pixels."
    Outcome<> admitted() const;

    // Frame `index` as the file at `path` is now, read ahead where it still is that file, or why
    // it gives no picture; aligned to the reference, with its coverage, when there is one.
    LoadedPicture take(int index, const QString &path);
    // Frame `index` will not be taken; its read-ahead is dropped.
    void skip(int index);

    // Stores frame `index`: its part inside the area, black beyond a smaller frame's edges. In an
    // aligned run, only what its coverage covers; without one, the frame is in the reference's
    // grid already and covers it whole. A frame never added there gives no samples.
    // Or the system's reason (strerror) why the run is over.
    Outcome<> add(int index, const QImage &frame, const std::optional<Coverage> &coverage = std::nullopt);

    // Frees what loading holds (frames read ahead, kept buffers, the fault-in worker), so that
    // nothing of it reaches a later run. finish() does it too.
    void endLoading();

    // Paints the stacked values over the part of `surface` inside the area and frees what the
    // run holds; or the reason, with the surface left as it was.
    Outcome<> finish(QImage &surface);

private:
    void startFaulting();

    QSize m_area;
    int m_count;
    StackOptions m_options;
    bool m_refused = false;
    std::optional<StackPlanes> m_planes;
    std::optional<RunningStack> m_running;
    std::optional<FrameCoverage> m_coverage;
    std::optional<FramesAhead> m_ahead;
    bool m_faultingStarted = false;
    PoolTask m_faulting;
};
