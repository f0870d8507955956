// One fuzz entry point for the loader and the pixel operations; the first byte picks the mode.
//   0 loader: the rest is a file's bytes, decoded as the program decodes a picked file.
//   1 ops:    a 20-byte header of sizes, then pixel bytes (R, G, B, cycled) for every picture;
//             each operation is checked against the reference, and the median saved and reloaded.
//   2 kernel: a 3-byte header (stack depth, row length, slack), then samples (cycled); every
//             median row path is checked against the reference row.
// A mismatch aborts, so libFuzzer keeps the input. tests/fuzz/replay.cpp runs the same entry.
#include "fuzz_ombrelux.h"

#include "engine/decode/imageloader.h"
#include "imaging/saving.h"
#include "engine/stack/pointops.h"
#include "engine/stack/channelplanes.h"
#include "engine/stack/mediankernel.h"
#include "engine/stack/mediankernel_paths.h"
#include "reference/exchangesortmedian.h"
#include "reference/pointops.h"

#include <QBuffer>
#include <QIODevice>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_ombrelux: %s\n", what);
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

// Header bytes read past the end count as 0; pixel bytes cycle over what follows the header.
class Input {
public:
    Input(const std::uint8_t *data, std::size_t size, std::size_t headerSize)
        : m_header(data), m_headerSize(size < headerSize ? size : headerSize),
          m_body(data + m_headerSize), m_bodySize(size - m_headerSize)
    {
    }

    int header(std::size_t index) const { return index < m_headerSize ? m_header[index] : 0; }

    std::uint8_t next()
    {
        if (m_bodySize == 0)
            return 0;
        const std::uint8_t byte = m_body[m_position];
        m_position = (m_position + 1) % m_bodySize;
        return byte;
    }

private:
    const std::uint8_t *m_header;
    std::size_t m_headerSize;
    const std::uint8_t *m_body;
    std::size_t m_bodySize;
    std::size_t m_position = 0;
};

bool isOpaqueRgb32(const QImage &image)
{
    if (image.format() != QImage::Format_RGB32)
        return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) != 0xff)
                return false;
    }
    return true;
}

// Every byte of every pixel, alpha included; QImage::operator== would forgive some.
bool sameBytes(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    const auto rowBytes = static_cast<std::size_t>(a.width()) * 4u;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), rowBytes) != 0)
            return false;
    return true;
}

void fuzzLoader(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const Outcome<QImage> picture = decodeImageData(bytes);
    if (!picture)
        return;
    check(!picture->isNull(), "loader: null picture");
    check(qint64(picture->width()) * picture->height() <= MaxPicturePixels, "loader: over the pixel budget");
    check(isOpaqueRgb32(*picture), "loader: not opaque RGB32");
    // The same file at 16 bits: the same picture, deeper.
    const Outcome<QImage> deep = decodeImageData(bytes, SampleDepth::Sixteen);
    check(deep && deep->format() == QImage::Format_RGBX64 && deep->size() == picture->size(),
          "loader: not the same RGBX64 picture at 16 bits");
}

// Sizes from 1 to 64: small enough for the reference to keep up, odd widths included.
int side(int byte)
{
    return 1 + byte % 64;
}

QImage picture(int width, int height, Input &input)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::uint8_t red = input.next();
            const std::uint8_t green = input.next();
            const std::uint8_t blue = input.next();
            row[x] = qRgb(red, green, blue);
        }
    }
    return image;
}

// Takes bytes up to a cap and then refuses, like a disk that fills part-way through a save.
class CappedDevice : public QIODevice {
public:
    explicit CappedDevice(qint64 cap) : m_cap(cap) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 length) override
    {
        const qint64 taken = length < m_cap - m_written ? length : m_cap - m_written;
        if (taken <= 0)
            return -1;
        m_written += taken;
        return taken;
    }

private:
    qint64 m_cap;
    qint64 m_written = 0;
};

void checkSave(const QImage &surface, int capByte)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    check(writeBmp(surface, buffer), "save: write to memory failed");
    const Outcome<QImage> reloaded = decodeImageData(buffer.data());
    check(reloaded && sameBytes(*reloaded, surface), "save: reload differs");

    // Any cut short of the whole file must be reported, or the user loses the picture.
    CappedDevice capped(buffer.size() * capByte / 256);
    check(!writeBmp(surface, capped), "save: a cut-short write reported success");
}

constexpr std::size_t OpsHeader = 20;

void fuzzOps(const std::uint8_t *data, std::size_t size)
{
    Input input(data, size, OpsHeader);
    // Whole units per pixel from 2 up: there the reference's float walk visits each pixel once.
    const UnitsPerPixel units{float(2 + input.header(7) % 19), float(2 + input.header(8) % 19)};
    const QImage canvas = picture(side(input.header(0)), side(input.header(1)), input);
    // The extent may miss or overrun the canvas: a picture loaded mid-operation changes its size.
    const QSize extent(input.header(2) % 72, input.header(3) % 72);
    const float extentWidth = float(extent.width()) * units.x;
    const float extentHeight = float(extent.height()) * units.y;

    QImage fast = canvas.copy();
    brightenSurface(fast, extent);
    QImage slow = canvas.copy();
    referenceBrighten(slow, units, extentWidth, extentHeight);
    check(sameBytes(fast, slow), "brighten differs from the reference");

    const QImage second = picture(side(input.header(4)), side(input.header(5)), input);
    fast = canvas.copy();
    subtractSurface(fast, second, extent);
    slow = canvas.copy();
    referenceSubtract(slow, second, units, extentWidth, extentHeight);
    check(sameBytes(fast, slow), "subtract differs from the reference");

    // As runMedian stacks: the area is the canvas before the first load, and the last picture
    // loaded is what the medians are painted onto.
    const int count = 2 + input.header(6) % 4;
    std::vector<QImage> held;
    for (int i = 0; i < count; ++i) {
        const auto at = 9 + 2 * static_cast<std::size_t>(i);
        held.push_back(picture(side(input.header(at)), side(input.header(at + 1)), input));
    }
    ChannelPlanes planes(canvas.size(), count, SampleDepth::Eight);
    check(planes.valid(), "median: no planes for a small stack");
    for (int i = 0; i < count; ++i)
        planes.copyImage(i, held[static_cast<std::size_t>(i)]);
    fast = held.back().copy();
    planes.paint(fast, {});
    slow = held.back().copy();
    referenceMedian(slow, held, units, scaleWidth(canvas, units), scaleHeight(canvas, units));
    check(sameBytes(fast, slow), "median differs from the reference");

    checkSave(fast, input.header(19));
}

constexpr std::size_t KernelHeader = 3;

void checkRow(const std::vector<std::uint8_t> &want, const std::vector<std::uint8_t> &got, const char *path)
{
    if (want != got)
        fail(path);
}

void fuzzKernel(const std::uint8_t *data, std::size_t size)
{
    Input input(data, size, KernelHeader);
    // Past 64 samples the kernel switches from selection networks to radix selection.
    const int n = 2 + input.header(0) % 129;
    const auto count = static_cast<std::size_t>(1 + input.header(1) % 96);
    const std::size_t stride = count + static_cast<std::size_t>(input.header(2) % 8);
    std::vector<std::uint8_t> samples(stride * static_cast<std::size_t>(n));
    for (std::uint8_t &sample : samples)
        sample = input.next();

    std::vector<std::uint8_t> want(count);
    referenceMedianRow(samples.data(), stride, n, want.data(), count);
    std::vector<std::uint8_t> got(count);
    medianRowScalar(samples.data(), stride, n, got.data(), count);
    checkRow(want, got, "kernel: scalar path differs");
    medianRowVec16(samples.data(), stride, n, got.data(), count);
    checkRow(want, got, "kernel: 16-lane path differs");
#if defined(__x86_64__)
    if (avx2Supported()) {
        medianRowAvx2(samples.data(), stride, n, got.data(), count);
        checkRow(want, got, "kernel: AVX2 path differs");
    }
#endif
    medianRow(samples.data(), stride, n, got.data(), count);
    checkRow(want, got, "kernel: dispatched path differs");
}

// Decoders warn about every broken file; at fuzzing speed the log would hold nothing else.
void dropWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    [[maybe_unused]] static const QtMessageHandler previous = qInstallMessageHandler(dropWarnings);
    if (size == 0)
        return 0;
    switch (data[0] % 3) {
    case FuzzLoader:
        fuzzLoader(data + 1, size - 1);
        break;
    case FuzzOps:
        fuzzOps(data + 1, size - 1);
        break;
    default:
        fuzzKernel(data + 1, size - 1);
        break;
    }
    return 0;
}
