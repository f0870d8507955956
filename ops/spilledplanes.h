#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <cstdint>

// The channel planes of a stack too large for memory, in an unnamed scratch file: the layout of
// ChannelPlanes with the three planes one after another, moved through private buffers in
// bands of rows of at most `bandBytes`. The file has no name, so the kernel drops it however
// the program ends.
class SpilledPlanes {
public:
    // Zeroed; empty (valid() false) when the folder is missing or lives in memory (tmpfs,
    // ramfs), when its file system cannot reserve the planes plus a margin, or when one row
    // of all images exceeds bandBytes.
    SpilledPlanes(QSize area, int imageCount, const QString &folder, std::uint64_t bandBytes);
    ~SpilledPlanes();
    SpilledPlanes(const SpilledPlanes &) = delete;
    SpilledPlanes &operator=(const SpilledPlanes &) = delete;

    // False also once a read or write of the file failed.
    bool valid() const { return m_file >= 0 && !m_failed; }

    // Copies the picture's part inside the area as image `index`; beyond the picture the
    // cells stay 0. Images of different indices may be copied from several threads at once.
    void copyImage(int index, const QImage &picture);

    // Writes the medians over the part of the area that the surface covers; after a failed
    // read, the bands from there on keep the surface's own pixels.
    void paintMedians(QImage &surface);

private:
    std::int64_t offset(int channel, int index, int row) const;
    bool writeAll(const std::uint8_t *data, std::size_t size, std::int64_t at);
    bool readAll(std::uint8_t *data, std::size_t size, std::int64_t at);

    QSize m_area;
    int m_count;
    std::uint64_t m_bandBytes;
    int m_file = -1;
    std::atomic<bool> m_failed = false;
};

// Where scratch files go: the user's cache folder, ~/.cache.
QString defaultScratchFolder();
