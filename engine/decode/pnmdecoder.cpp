#include "engine/decode/pnmdecoder.h"

#include <QIODevice>

#include <cerrno>

namespace {

struct PnmHeader {
    bool colour = false;
    quint32 width = 0, height = 0, maxval = 0;
    qsizetype size = 0; // bytes up to the samples
};

// Magic, width, height and maxval as whitespace-separated decimals, '#' comments between them,
// one whitespace byte before the samples.
std::optional<PnmHeader> headerOf(QByteArrayView head)
{
    if (head.size() < 3 || head[0] != 'P' || (head[1] != '5' && head[1] != '6'))
        return std::nullopt;
    PnmHeader header{.colour = head[1] == '6'};
    qsizetype at = 2;
    quint32 *fields[] = {&header.width, &header.height, &header.maxval};
    for (quint32 *field : fields) {
        while (at < head.size() && (QChar::isSpace(uchar(head[at])) || head[at] == '#')) {
            if (head[at] == '#')
                while (at < head.size() && head[at] != '\n')
                    ++at;
            ++at;
        }
        const qsizetype start = at;
        quint64 value = 0;
        while (at < head.size() && head[at] >= '0' && head[at] <= '9' && value <= 0xffffffffu)
            value = value * 10 + quint64(head[at++] - '0');
        if (at == start || value > 0xffffffffu)
            return std::nullopt;
        *field = quint32(value);
    }
    if (at >= head.size() || !QChar::isSpace(uchar(head[at])))
        return std::nullopt;
    header.size = at + 1;
    return header;
}

} // namespace

bool isDeepPnm(QByteArrayView head)
{
    const std::optional<PnmHeader> header = headerOf(head);
    return header && header->maxval > 255 && header->maxval <= 65535;
}

Outcome<QImage> decodeDeepPnm(QIODevice &device, const SizeAdmission &admit)
{
    if (!device.seek(0))
        return Failure{Undecodable};
    const std::optional<PnmHeader> header = headerOf(device.peek(1024));
    if (!header || header->width == 0 || header->height == 0 || header->width > INT_MAX || header->height > INT_MAX)
        return Failure{Undecodable};
    const QSize announced(int(header->width), int(header->height));
    if (!admitted(announced, admit))
        return Failure{TooLarge};
    QImage picture(announced, header->colour ? QImage::Format_RGBX64 : QImage::Format_Grayscale16);
    if (picture.isNull())
        return Failure{qt_error_string(ENOMEM)};
    const int channels = header->colour ? 3 : 1;
    const qint64 rowBytes = qint64(announced.width()) * channels * 2;
    QByteArray row(rowBytes, Qt::Uninitialized);
    const quint64 maxval = header->maxval;
    if (!device.seek(header->size))
        return Failure{Undecodable};
    for (int y = 0; y < announced.height(); ++y) {
        // Samples missing from the file are not made up.
        if (device.read(row.data(), rowBytes) != rowBytes)
            return Failure{device.errorString().isEmpty() || device.atEnd() ? Undecodable : device.errorString()};
        auto *out = reinterpret_cast<quint16 *>(picture.scanLine(y));
        const auto *in = reinterpret_cast<const uchar *>(row.constData());
        for (int x = 0; x < announced.width(); ++x) {
            for (int c = 0; c < 4; ++c) {
                const int from = (x * channels + std::min(c, channels - 1)) * 2;
                // Big-endian; a sample over maxval is held at white.
                const quint64 v = std::min<quint64>(quint64(in[from]) << 8 | in[from + 1], maxval);
                const quint16 scaled = quint16((v * 65535 + maxval / 2) / maxval);
                if (header->colour)
                    out[4 * x + c] = c == 3 ? quint16(0xffff) : scaled;
                else if (c == 0)
                    out[x] = scaled;
            }
        }
    }
    return picture;
}
