#include "engine/write/pngwriter.h"

#include "engine/core/workerpool.h"
#include "engine/write/deflateband.h"
#include "engine/write/pngfilter.h"
#include "engine/write/rowpacking.h"

#include <QIODevice>
#include <QScopeGuard>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <new>
#include <span>
#include <vector>

namespace {

using Byte = std::uint8_t;
using Bytes = std::span<const Byte>;

// Small enough that two workers share a picture evenly and a few bands ahead stay cheap to hold,
// large enough that each band's block header and flush cost nothing. The bytes written depend on
// the band size alone, never on how many workers there are.
constexpr std::size_t BandBytes = 512 * 1024;
constexpr int Workers = 2;
constexpr int BandsAhead = 2 * Workers;

constexpr std::array<Byte, 8> Signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Deflate with a 32 KiB window, fastest level; the check bits make it a multiple of 31.
constexpr std::array<Byte, 2> ZlibHeader{0x78, 0x01};

std::array<Byte, 4> bigEndian(quint32 value)
{
    std::array<Byte, 4> bytes;
    qToBigEndian(value, bytes.data());
    return bytes;
}

bool writeBytes(QIODevice &device, Bytes bytes)
{
    return bytes.empty()
        || device.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

bool writeChunk(QIODevice &device, const char (&type)[5], std::initializer_list<Bytes> parts)
{
    std::size_t length = 0;
    for (const Bytes part : parts)
        length += part.size();
    if (length > std::numeric_limits<qint32>::max())
        return false;
    const auto *typeBytes = reinterpret_cast<const Byte *>(type);
    uLong crc = crc32_z(0, typeBytes, 4);
    // An empty part is skipped: zlib takes a null pointer as the call for the starting value.
    for (const Bytes part : parts)
        if (!part.empty())
            crc = crc32_z(crc, part.data(), part.size());
    if (!writeBytes(device, bigEndian(quint32(length))) || !writeBytes(device, Bytes(typeBytes, 4)))
        return false;
    for (const Bytes part : parts)
        if (!writeBytes(device, part))
            return false;
    return writeBytes(device, bigEndian(quint32(crc)));
}

// IHDR, then sRGB with the gAMA and cHRM values it stands for, for readers that know only those.
bool writeHeader(QIODevice &device, const QImage &rgb, Byte bitsPerSample)
{
    std::array<Byte, 13> header{};
    qToBigEndian(quint32(rgb.width()), header.data());
    qToBigEndian(quint32(rgb.height()), header.data() + 4);
    header[8] = bitsPerSample;
    header[9] = 2; // RGB; compression, filtering and interlacing stay 0
    constexpr std::array<Byte, 1> Perceptual{0};
    std::array<Byte, 32> chromaticities;
    constexpr std::array<quint32, 8> WhiteRedGreenBlue{31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    for (std::size_t i = 0; i < WhiteRedGreenBlue.size(); ++i)
        qToBigEndian(WhiteRedGreenBlue[i], chromaticities.data() + 4 * i);
    return writeBytes(device, Signature) && writeChunk(device, "IHDR", {header})
        && writeChunk(device, "sRGB", {Perceptual}) && writeChunk(device, "gAMA", {bigEndian(45455)})
        && writeChunk(device, "cHRM", {chromaticities});
}

// Format_RGB32 written at 8 bits a sample, or Format_RGBX64 at 16.
struct Picture {
    const QImage &rgb;
    std::size_t pixel; // bytes a pixel in the file: 3 or 6
    int bandRows;
    int bands;

    void pack(int y, Byte *bytes) const
    {
        const auto width = std::size_t(rgb.width());
        if (pixel == 6)
            packRgb48Row(reinterpret_cast<const QRgba64 *>(rgb.constScanLine(y)), width, bytes);
        else
            packRgbRow(reinterpret_cast<const QRgb *>(rgb.constScanLine(y)), width, bytes);
    }
};

// One band's filtered rows, compressed, with what the zlib trailer needs of them.
struct Band {
    std::vector<Byte> deflated;
    uLong adler = 0;
    std::size_t length = 0;
};

// A worker's rows: the one above, the one being filtered, and the band's filtered rows.
struct Scratch {
    std::vector<Byte> above, row, filtered;
};

// std::bad_alloc when memory runs out.
bool encodeBand(const Picture &picture, int index, Scratch &scratch, Band &band)
{
    const std::size_t bytes = picture.pixel * std::size_t(picture.rgb.width());
    const int first = index * picture.bandRows;
    const int end = std::min(picture.rgb.height(), first + picture.bandRows);
    scratch.above.assign(bytes, 0);
    if (first > 0)
        picture.pack(first - 1, scratch.above.data());
    scratch.row.resize(bytes);
    scratch.filtered.resize((bytes + 1) * std::size_t(end - first));
    for (int y = first; y < end; ++y) {
        picture.pack(y, scratch.row.data());
        filterPngRow(scratch.row.data(), scratch.above.data(), bytes, picture.pixel,
                     scratch.filtered.data() + (bytes + 1) * std::size_t(y - first));
        std::swap(scratch.row, scratch.above);
    }
    band.adler = adler32_z(1, scratch.filtered.data(), scratch.filtered.size());
    band.length = scratch.filtered.size();
    return deflateBand(scratch.filtered, index == picture.bands - 1, band.deflated);
}

// The IDAT chunks: one per band, the zlib header in front of the first, the trailer behind the last.
class ImageData {
public:
    ImageData(QIODevice &device, int bands) : m_device(device), m_bands(bands) {}

    bool write(const Band &band)
    {
        const bool first = m_written == 0, last = ++m_written == m_bands;
        m_adler = first ? band.adler : adler32_combine(m_adler, band.adler, z_off_t(band.length));
        const auto trailer = bigEndian(quint32(m_adler));
        return writeChunk(m_device, "IDAT", {first ? Bytes(ZlibHeader) : Bytes(), band.deflated,
                                             last ? Bytes(trailer) : Bytes()});
    }

private:
    QIODevice &m_device;
    const int m_bands;
    int m_written = 0;
    uLong m_adler = 1;
};

// Bands between the workers and the writing thread. Band k goes to slot k % BandsAhead, and is
// taken only once band k - BandsAhead is written, so a slot is either its taker's or the writer's.
// The mutex guards the counters and flags.
class BandQueue {
public:
    explicit BandQueue(int bands) : m_bands(bands) {}

    // The next band for a worker; -1 when none is left or the writer has gone.
    int take()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_over || m_next < m_written + BandsAhead; });
        return !m_over && m_next < m_bands ? m_next++ : -1;
    }
    // Band `index` for the writer itself, where no worker has taken it yet.
    bool takeInTurn(int index)
    {
        const std::lock_guard lock(m_mutex);
        if (m_next != index)
            return false;
        ++m_next;
        return true;
    }
    void finished(int index, bool compressed)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_ready[std::size_t(index % BandsAhead)] = compressed;
            m_over = m_over || !compressed;
        }
        m_changed.notify_all();
    }
    // The band once compressed; nullptr when a worker failed.
    const Band *waitFor(int index)
    {
        std::unique_lock lock(m_mutex);
        bool &ready = m_ready[std::size_t(index % BandsAhead)];
        m_changed.wait(lock, [&] { return m_over || ready; });
        return ready ? &m_slots[std::size_t(index % BandsAhead)] : nullptr;
    }
    void written(int index)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_ready[std::size_t(index % BandsAhead)] = false;
            ++m_written;
        }
        m_changed.notify_all();
    }
    // The writer has gone: workers take nothing more.
    void close()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_over = true;
        }
        m_changed.notify_all();
    }
    Band &slot(int index) { return m_slots[std::size_t(index % BandsAhead)]; }

private:
    const int m_bands;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_next = 0;
    int m_written = 0;
    bool m_over = false;
    std::array<bool, BandsAhead> m_ready{};
    std::array<Band, BandsAhead> m_slots;
};

bool encodeSafely(const Picture &picture, int index, Scratch &scratch, Band &band)
{
    try {
        return encodeBand(picture, index, scratch, band);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

void compressBands(const Picture &picture, BandQueue &queue)
{
    Scratch scratch;
    for (int index; (index = queue.take()) >= 0;)
        queue.finished(index, encodeSafely(picture, index, scratch, queue.slot(index)));
}

// Writes the bands in order, compressing itself any band no worker has taken, so it never waits
// on workers the pool has not started.
bool writeInOrder(const Picture &picture, BandQueue &queue, ImageData &data)
{
    Scratch scratch;
    for (int index = 0; index < picture.bands; ++index) {
        const bool own = queue.takeInTurn(index);
        if (own && !encodeSafely(picture, index, scratch, queue.slot(index)))
            return false;
        const Band *band = own ? &queue.slot(index) : queue.waitFor(index);
        if (!band || !data.write(*band))
            return false;
        queue.written(index);
    }
    return true;
}

bool writeBands(const Picture &picture, QIODevice &device)
{
    ImageData data(device, picture.bands);
    BandQueue queue(picture.bands);
    WorkerPool &pool = WorkerPool::shared();
    std::vector<PoolTask> workers;
    // Runs before the workers are dropped, which waits for them: none waits on a slot any more.
    const auto closeQueue = qScopeGuard([&] { queue.close(); });
    for (int i = 0; i < std::min(Workers, pool.threads()) && picture.bands > 1; ++i)
        workers.push_back(pool.start([&](const std::atomic<bool> &) { compressBands(picture, queue); }));
    return writeInOrder(picture, queue, data);
}

} // namespace

int pngBandRows(int width, int bitsPerSample)
{
    const std::size_t rowBytes = std::size_t(bitsPerSample / 8 * 3) * std::size_t(width) + 1;
    return int(std::max<std::size_t>(1, BandBytes / rowBytes));
}

bool writePng(const QImage &picture, QIODevice &device)
{
    try {
        const bool deep = hasDeepSamples(picture);
        const QImage rgb = picture.convertToFormat(deep ? QImage::Format_RGBX64 : QImage::Format_RGB32);
        if (rgb.isNull())
            return false;
        const int bits = deep ? 16 : 8;
        const int bandRows = pngBandRows(rgb.width(), bits);
        const Picture bands{rgb, std::size_t(bits / 8 * 3), bandRows, (rgb.height() + bandRows - 1) / bandRows};
        return writeHeader(device, rgb, Byte(bits)) && writeBands(bands, device) && writeChunk(device, "IEND", {});
    } catch (const std::bad_alloc &) {
        return false;
    }
}
