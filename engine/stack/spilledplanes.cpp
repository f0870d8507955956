#include "engine/stack/spilledplanes.h"

#include "engine/stack/channelplanes.h"
#include "engine/stack/planerows.h"

#include <QStandardPaths>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Larger writes go no faster, and the buffer adds to each decoded frame.
constexpr std::uint64_t CopyChunkBytes = 16u << 20;
// What the file system keeps free beside the planes: 5 % of it, at most 1 GiB.
constexpr std::uint64_t MaxMargin = 1u << 30;

// A file system with room for `bytes` beyond its margin, on a disk: spilling into memory-backed
// tmpfs or ramfs would only move the shortage.
bool diskHasRoom(const QByteArray &folder, std::uint64_t bytes)
{
    struct statfs disk{};
    if (statfs(folder.constData(), &disk) != 0)
        return false;
    if (disk.f_type == TMPFS_MAGIC || disk.f_type == RAMFS_MAGIC)
        return false;
    const auto unit = std::uint64_t(disk.f_frsize > 0 ? disk.f_frsize : disk.f_bsize);
    const std::uint64_t margin = std::min(MaxMargin, std::uint64_t(disk.f_blocks) * unit / 20);
    return std::uint64_t(disk.f_bavail) * unit >= bytes + margin;
}

// Opened without a name where the file system allows; elsewhere named for a moment only.
int unnamedFile(const QByteArray &folder)
{
    const int file = open(folder.constData(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (file >= 0 || (errno != EOPNOTSUPP && errno != EISDIR))
        return file;
    QByteArray name = folder + "/.ombrelux-planes-XXXXXX";
    const int named = mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        unlink(name.constData());
    return named;
}

// Repeats a positioned read or write until all `size` bytes have moved; 0, or the errno of the
// failure (EIO for an early end of file).
template <typename Io>
int moveAll(std::size_t size, std::int64_t at, Io io)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t moved = io(done, size - done, off_t(at + std::int64_t(done)));
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0)
            return errno;
        if (moved == 0)
            return EIO;
        done += std::size_t(moved);
    }
    return 0;
}

// File systems without the call still keep the data; only they say these.
bool flushUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ESPIPE;
}

} // namespace

SpilledPlanes::SpilledPlanes(QSize area, int imageCount, SampleDepth depth, const QString &folder,
                             std::uint64_t bandBytes, ScratchIo &io)
    : m_area(area), m_count(imageCount), m_sampleBytes(std::size_t(bytesPerSample(depth))), m_bandBytes(bandBytes),
      m_io(io)
{
    const std::uint64_t bytes = ChannelPlanes::bytesNeeded(area, imageCount, depth);
    const QByteArray path = folder.toLocal8Bit();
    if (folder.isEmpty() || 3u * m_sampleBytes * std::uint64_t(imageCount) * std::uint64_t(area.width()) > bandBytes
        || !diskHasRoom(path, bytes))
        return;
    m_file = unnamedFile(path);
    // Reserved up front, so no write can meet a full disk. Not posix_fallocate: where the file
    // system cannot reserve, it writes the whole file out instead.
    if (m_file >= 0 && bytes > 0 && fallocate(m_file, 0, 0, off_t(bytes)) != 0) {
        close(m_file);
        m_file = -1;
    }
}

SpilledPlanes::~SpilledPlanes()
{
    if (m_file >= 0)
        close(m_file);
}

std::int64_t SpilledPlanes::offset(int channel, int index, int row) const
{
    return ((std::int64_t(channel) * m_count + index) * m_area.height() + row) * m_area.width()
         * std::int64_t(m_sampleBytes);
}

namespace {

// A buffer of `rows` rows, fewer where memory is short: under a tight limit smaller pieces only
// take more calls, where failing would end a run the disk could still hold. Null when not even
// one row can be had.
std::unique_ptr<std::uint8_t[]> rowsBuffer(int &rows, std::size_t rowBytes)
{
    for (;;) {
        std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[std::size_t(rows) * rowBytes]);
        if (buffer || rows == 1)
            return buffer;
        rows = (rows + 1) / 2;
    }
}

} // namespace

bool SpilledPlanes::fail(int error)
{
    int none = 0;
    m_error.compare_exchange_strong(none, error);
    return false;
}

bool SpilledPlanes::writeAll(const std::uint8_t *data, std::size_t size, std::int64_t at)
{
    if (const int error = moveAll(size, at, [&](std::size_t done, std::size_t left, off_t where) {
            return m_io.write(m_file, data + done, left, where);
        }))
        return fail(error);
    // Dirty pages of a file count against a memory cgroup, and cgroup v1 does not throttle
    // them: start writing them out now rather than when the limit is hit.
    if (m_io.flush(m_file, off_t(at), off_t(size)) != 0 && !flushUnsupported(errno))
        return fail(errno);
    return true;
}

bool SpilledPlanes::readAll(std::uint8_t *data, std::size_t size, std::int64_t at)
{
    if (const int error = moveAll(size, at, [&](std::size_t done, std::size_t left, off_t where) {
            return m_io.read(m_file, data + done, left, where);
        }))
        return fail(error);
    return true;
}

bool SpilledPlanes::copyImage(int index, const QImage &picture)
{
    const QSize copied = m_area.boundedTo(picture.size());
    if (!valid() || m_error)
        return false;
    if (copied.isEmpty())
        return true;
    // Row sizes in bytes.
    const std::size_t width = std::size_t(m_area.width()) * m_sampleBytes;
    const std::size_t copiedWidth = std::size_t(copied.width()) * m_sampleBytes;
    auto chunkRows = int(std::clamp<std::uint64_t>(std::min(CopyChunkBytes, m_bandBytes) / (3 * width), 1,
                                                  std::uint64_t(copied.height())));
    const std::unique_ptr<std::uint8_t[]> chunk = rowsBuffer(chunkRows, 3 * width);
    if (!chunk)
        return fail(ENOMEM);
    const std::size_t channelBytes = std::size_t(chunkRows) * width;
    std::uint8_t *red = chunk.get();
    std::uint8_t *green = red + channelBytes;
    std::uint8_t *blue = green + channelBytes;
    for (int first = 0; first < copied.height(); first += chunkRows) {
        const int rows = std::min(chunkRows, copied.height() - first);
        for (int y = 0; y < rows; ++y) {
            const std::size_t row = std::size_t(y) * width;
            splitRow(picture, first + y, red + row, green + row, blue + row, copied.width());
            const std::size_t tail = width - copiedWidth;
            std::memset(red + row + copiedWidth, 0, tail);
            std::memset(green + row + copiedWidth, 0, tail);
            std::memset(blue + row + copiedWidth, 0, tail);
        }
        const std::size_t bytes = std::size_t(rows) * width;
        if (!writeAll(red, bytes, offset(0, index, first)) || !writeAll(green, bytes, offset(1, index, first))
            || !writeAll(blue, bytes, offset(2, index, first)))
            return false;
    }
    return true;
}

bool SpilledPlanes::paint(QImage &surface, const StackOptions &options, const FrameCoverage *coverage)
{
    const QSize painted = m_area.boundedTo(surface.size());
    if (!valid() || m_error)
        return false;
    if (painted.isEmpty())
        return true;
    const auto width = std::size_t(m_area.width());
    const std::uint64_t rowBytes = 3u * std::uint64_t(m_count) * width * m_sampleBytes;
    auto bandRows = int(std::clamp<std::uint64_t>(m_bandBytes / rowBytes, 1, std::uint64_t(painted.height())));
    const std::unique_ptr<std::uint8_t[]> band = rowsBuffer(bandRows, std::size_t(rowBytes));
    if (!band)
        return fail(ENOMEM);
    // Detach here, on the calling thread, before workers get row pointers.
    std::uint8_t *bits = surface.bits();
    if (!bits)
        return fail(ENOMEM);
    const qsizetype bytesPerLine = surface.bytesPerLine();
    for (int first = 0; first < painted.height(); first += bandRows) {
        const int rows = std::min(bandRows, painted.height() - first);
        // An image's band of a channel, in samples and in bytes.
        const std::size_t stride = std::size_t(rows) * width;
        const std::size_t bytes = stride * m_sampleBytes;
        for (int channel = 0; channel < 3; ++channel)
            for (int index = 0; index < m_count; ++index)
                if (!readAll(band.get() + (std::size_t(channel) * std::size_t(m_count) + std::size_t(index)) * bytes,
                             bytes, offset(channel, index, first)))
                    return false;
        const std::uint8_t *red = band.get();
        const std::size_t plane = std::size_t(m_count) * bytes;
        if (!paintStackRows(options, {red, red + plane, red + 2 * plane, stride, m_count, m_area.width(), coverage, first},
                             bits + first * bytesPerLine, bytesPerLine, painted.width(), rows))
            return fail(ENOMEM);
    }
    return true;
}

QString defaultScratchFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}
