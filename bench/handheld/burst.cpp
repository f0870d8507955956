#include "burst.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <limits>

std::vector<Truth> readTruths(const QDir &dir)
{
    std::vector<Truth> truths;
    QFile file(dir.filePath("transforms.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return truths;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().split(' ', Qt::SkipEmptyParts);
        if (fields.size() != 10 || fields[0].startsWith('#'))
            continue;
        Truth truth{dir.filePath(fields[0]), {}};
        for (std::size_t i = 0; i < 9; ++i)
            truth.toFrame.m[i] = fields[static_cast<int>(i) + 1].toDouble();
        truths.push_back(truth);
    }
    return truths;
}

double cornerSquareError(const Homography &a, const Homography &b, QSize area, QPointF origin)
{
    const double w = area.width() - 1, h = area.height() - 1;
    double sum = 0;
    for (QPointF corner : {QPointF(0, 0), QPointF(w, 0), QPointF(w, h), QPointF(0, h)}) {
        corner += origin;
        const QPointF d = a.map(corner) - b.map(corner);
        sum += QPointF::dotProduct(d, d);
    }
    return sum / 4;
}

Coverage interiorOf(const std::vector<Truth> &truths, QSize frameSize, QSize area)
{
    const double right = frameSize.width() - 1, bottom = frameSize.height() - 1;
    const auto coveredByAll = [&](int x, int y) {
        return std::all_of(truths.begin(), truths.end(), [&](const Truth &truth) {
            const QPointF p = truth.toFrame.map(QPointF(x, y));
            return p.x() >= 0 && p.x() <= right && p.y() >= 0 && p.y() <= bottom;
        });
    };
    Coverage interior(static_cast<std::size_t>(area.height()));
    for (int y = 0; y < area.height(); ++y) {
        RowSpan &span = interior[static_cast<std::size_t>(y)];
        int x = 0;
        while (x < area.width() && !coveredByAll(x, y))
            ++x;
        span.begin = x;
        while (x < area.width() && coveredByAll(x, y))
            ++x;
        span.end = x;
    }
    return interior;
}

QRect largestRectangleIn(const Coverage &coverage)
{
    QRect best;
    qint64 bestArea = 0;
    for (std::size_t top = 0; top < coverage.size(); ++top) {
        int begin = coverage[top].begin, end = coverage[top].end;
        for (std::size_t bottom = top; bottom < coverage.size() && begin < end; ++bottom) {
            begin = std::max(begin, coverage[bottom].begin);
            end = std::min(end, coverage[bottom].end);
            const qint64 area = qint64(std::max(end - begin, 0)) * qint64(bottom - top + 1);
            if (area > bestArea) {
                bestArea = area;
                best = QRect(begin, int(top), end - begin, int(bottom - top + 1));
            }
        }
    }
    return best;
}

std::optional<double> psnr(const QImage &a, const QImage &b, const Coverage *where)
{
    if (a.size() != b.size() || (where && where->size() != std::size_t(a.height())))
        return std::nullopt;
    double sum = 0;
    qint64 samples = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *p = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *q = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        const RowSpan span = where ? (*where)[std::size_t(y)] : RowSpan{0, a.width()};
        for (int x = std::max(span.begin, 0); x < std::min(span.end, a.width()); ++x)
            for (const int shift : {0, 8, 16}) {
                const double d = int((p[x] >> shift) & 0xff) - int((q[x] >> shift) & 0xff);
                sum += d * d;
                ++samples;
            }
    }
    if (!samples)
        return std::nullopt;
    return sum > 0 ? 10 * std::log10(255.0 * 255.0 * double(samples) / sum) : std::numeric_limits<double>::infinity();
}

std::optional<double> worstTilePsnr(const QImage &a, const QImage &b, const Coverage &where, int side)
{
    std::optional<double> worst;
    for (int top = 0; top + side <= a.height(); top += side)
        for (int left = 0; left + side <= a.width(); left += side) {
            Coverage tile(std::size_t(a.height()));
            bool inside = true;
            for (int y = top; y < top + side && inside; ++y) {
                inside = where[std::size_t(y)].begin <= left && left + side <= where[std::size_t(y)].end;
                tile[std::size_t(y)] = {left, left + side};
            }
            if (const std::optional<double> db = inside ? psnr(a, b, &tile) : std::nullopt; db && (!worst || *db < *worst))
                worst = db;
        }
    return worst;
}

QImage medianOfWarped(const std::vector<WarpedFrame> &warped, QSize area)
{
    QImage median(area, QImage::Format_RGB32);
    std::vector<int> values;
    values.reserve(warped.size());
    for (int y = 0; y < area.height(); ++y) {
        auto *out = reinterpret_cast<QRgb *>(median.scanLine(y));
        for (int x = 0; x < area.width(); ++x) {
            int channel[3];
            for (int c = 0; c < 3; ++c) {
                values.clear();
                for (const WarpedFrame &frame : warped)
                    if (const RowSpan s = frame.coverage[std::size_t(y)]; s.begin <= x && x < s.end)
                        values.push_back(int((reinterpret_cast<const QRgb *>(frame.picture.constScanLine(y))[x]
                                              >> (16 - 8 * c)) & 0xff));
                if (values.empty()) {
                    channel[c] = 0;
                    continue;
                }
                const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
                std::nth_element(values.begin(), middle, values.end());
                channel[c] = values.size() % 2 ? *middle : (*std::max_element(values.begin(), middle) + *middle) / 2;
            }
            out[x] = qRgb(channel[0], channel[1], channel[2]);
        }
    }
    return median;
}
