#pragma once

#include "engine/stack/scratchio.h"
#include "engine/align/coverage.h"
#include "engine/stack/stackmode.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <cstdint>

// The channel planes of a stack too large for memory, in an unnamed scratch file: the layout of
// ChannelPlanes with the three planes one after another, moved through private buffers in
// bands of rows of at most `bandBytes`. Any failure of the file ends its use: a plane with a
// band missing would give medians that look right and are not. The file has no name, so the kernel drops it however
// the program ends.
class SpilledPlanes {
public:
    // Zeroed; empty (valid() false) when the folder is missing or lives in memory (tmpfs,
    // ramfs), when its file system cannot reserve the planes plus a margin, or when one row
    // of all images exceeds bandBytes.
    SpilledPlanes(QSize area, int imageCount, SampleDepth depth, const QString &folder, std::uint64_t bandBytes,
                  ScratchIo &io = ScratchIo::system());
    ~SpilledPlanes();
    SpilledPlanes(const SpilledPlanes &) = delete;
    SpilledPlanes &operator=(const SpilledPlanes &) = delete;

    bool valid() const { return m_file >= 0; }
    // The errno of the first read, write, flush or allocation that failed; 0 while none has.
    // Nothing is done after it.
    int error() const { return m_error; }

    // Copies the picture's part inside the area as image `index`; beyond the picture the
    // cells are 0. Images of different indices may be copied from several threads at once.
    // False once anything failed.
    bool copyImage(int index, const QImage &picture);

    // Writes the stacked values over the part of the area that the surface covers. On a failure
    // part-way, false, and the bands before it hold medians already.
    bool paint(QImage &surface, const StackOptions &options, const FrameCoverage *coverage = nullptr);

private:
    std::int64_t offset(int channel, int index, int row) const;
    bool writeAll(const std::uint8_t *data, std::size_t size, std::int64_t at);
    bool readAll(std::uint8_t *data, std::size_t size, std::int64_t at);
    bool fail(int error);

    QSize m_area;
    int m_count;
    std::size_t m_sampleBytes;
    std::uint64_t m_bandBytes;
    ScratchIo &m_io;
    int m_file = -1;
    std::atomic<int> m_error = 0;
};

// Where scratch files go: the user's cache folder, ~/.cache.
QString defaultScratchFolder();
