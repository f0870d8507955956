#include "engine/align/alignment.h"

#include "engine/align/bicubicrow.h"
#include "engine/align/localrefinement.h"
#include "engine/core/framebuffers.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// Long side of the grey copy the features are found on: enough detail for a sub-pixel fit at
// 12 MP, small enough to take a fraction of the frame's decode time.
constexpr int FeatureLongSide = 1200;
// The local refinement's flow works on the copy of FeatureLongSide, its features on one this
// much smaller.
constexpr int LocalFeatureReduction = 2;
constexpr int LocalOctaveLayers = 2;
constexpr int MinInliers = 40;
// Below this a side holds no feature: the detector looks a dozen pixels around each point.
constexpr int MinSide = 32;
// Lowe's ratio: the best match must be clearly better than the second best.
constexpr float MatchRatio = 0.75f;
// RANSAC's inlier distance, in pixels of the grey copy.
constexpr double InlierDistance = 1.5;
// A fitted area outside this ratio of the reference's is a wrong fit, not a hand's movement.
constexpr double MinAreaRatio = 0.5;
constexpr double MaxAreaRatio = 2.0;

// The workers already run one frame each; OpenCV's own threads would only compete with them.
void useCallingThreadOnly()
{
    static std::once_flag once;
    std::call_once(once, [] { cv::setNumThreads(1); });
}

// RGB32 words lie blue first, RGBX64 samples red first.
cv::Mat viewOf(const QImage &picture)
{
    const bool deep = picture.format() == QImage::Format_RGBX64;
    Q_ASSERT(deep || picture.format() == QImage::Format_RGB32);
    return cv::Mat(picture.height(), picture.width(), deep ? CV_16UC4 : CV_8UC4, const_cast<uchar *>(picture.constBits()),
                   static_cast<std::size_t>(picture.bytesPerLine()));
}

// The features are found on 8-bit grey at either depth.
cv::Mat greyOf(const QImage &picture)
{
    cv::Mat grey;
    if (picture.format() != QImage::Format_RGBX64) {
        cv::cvtColor(viewOf(picture), grey, cv::COLOR_BGRA2GRAY);
        return grey;
    }
    cv::cvtColor(viewOf(picture), grey, cv::COLOR_RGBA2GRAY);
    grey.convertTo(grey, CV_8U, 1.0 / 257.0);
    return grey;
}

QString memoryReason()
{
    return qt_error_string(ENOMEM);
}

} // namespace

// Keypoints in the full-resolution pixel grid, with their descriptors, and the reduced grey copy
// they were found on: full x = (reduced x + 0.5) scale.x - 0.5.
struct AlignmentReference::Features {
    std::vector<cv::Point2f> points;
    cv::Mat descriptors;
    cv::Mat grey;
    cv::Point2d scale;
};

// The reference and, once the first frame needs them, its features; the picture is let go then.
struct AlignmentReference::Shared {
    QImage reference;
    std::once_flag found;
    std::optional<Features> features;
};

namespace {

// A grey copy of about `longSide` pixels on its long side.
cv::Mat reducedGrey(const cv::Mat &grey, int longSide)
{
    const double scale = std::min(1.0, double(longSide) / std::max(grey.cols, grey.rows));
    const cv::Size small(std::max(1, int(std::lround(grey.cols * scale))), std::max(1, int(std::lround(grey.rows * scale))));
    if (small == grey.size())
        return grey;
    cv::Mat reduced;
    cv::resize(grey, reduced, small, 0, 0, cv::INTER_AREA);
    return reduced;
}

AlignmentReference::Features featuresOf(const QImage &picture, AlignMethod method)
{
    AlignmentReference::Features features;
    features.grey = reducedGrey(greyOf(picture), FeatureLongSide);
    const cv::Mat detected = method == AlignMethod::Local ? reducedGrey(features.grey, FeatureLongSide / LocalFeatureReduction)
                                                          : features.grey;
    std::vector<cv::KeyPoint> keypoints;
    // The global fit alone needs the full detector: fewer layers per octave saved a third of the
    // time but missed 0.3 px at 12 MP and 0.5 px at 640 x 480 on some hand-held frames; ORB,
    // faster still, missed by 2 px. The field mends such fractions, so Local takes half the layers.
    const cv::Ptr<cv::AKAZE> detector = cv::AKAZE::create();
    if (method == AlignMethod::Local)
        detector->setNOctaveLayers(LocalOctaveLayers);
    detector->detectAndCompute(detected, cv::noArray(), keypoints, features.descriptors);
    // Pixel centres at integers on both grids: the copy's x stands for (x + 0.5) / s - 0.5.
    features.scale = {double(picture.width()) / features.grey.cols, double(picture.height()) / features.grey.rows};
    const double sx = double(picture.width()) / detected.cols, sy = double(picture.height()) / detected.rows;
    features.points.reserve(keypoints.size());
    for (const cv::KeyPoint &k : keypoints)
        features.points.emplace_back(float((k.pt.x + 0.5) * sx - 0.5), float((k.pt.y + 0.5) * sy - 0.5));
    return features;
}

// In pixels of the copy the features were found on.
double inlierDistanceFor(QSize frame, AlignMethod method)
{
    const int side = method == AlignMethod::Local ? FeatureLongSide / LocalFeatureReduction : FeatureLongSide;
    return InlierDistance * std::max(1.0, double(std::max(frame.width(), frame.height())) / side);
}

// Orientation kept over the whole area (the denominator stays positive on its corners, so
// everywhere inside, and the determinant's sign is the Jacobian's) and a sane change of size.
bool keepsShape(const cv::Matx33d &h, QSize area)
{
    if (!(cv::determinant(h) > 0))
        return false;
    const double w = area.width() - 1, ht = area.height() - 1;
    const cv::Vec3d corners[] = {{0, 0, 1}, {w, 0, 1}, {w, ht, 1}, {0, ht, 1}};
    cv::Point2d mapped[4];
    for (int i = 0; i < 4; ++i) {
        const cv::Vec3d p = h * corners[i];
        if (!(p[2] > 0))
            return false;
        mapped[i] = {p[0] / p[2], p[1] / p[2]};
    }
    double twiceArea = 0;
    for (int i = 0; i < 4; ++i)
        twiceArea += mapped[i].cross(mapped[(i + 1) % 4]);
    const double ratio = twiceArea / 2 / std::max(1.0, w * ht);
    return ratio >= MinAreaRatio && ratio <= MaxAreaRatio;
}

bool isFinite(const cv::Matx33d &h)
{
    return std::all_of(h.val, h.val + 9, [](double v) { return std::isfinite(v); });
}

// Reduced pixels to full ones: (x + 0.5) s - 0.5.
cv::Matx33d fullFromReduced(cv::Point2d scale)
{
    return {scale.x, 0, 0.5 * scale.x - 0.5, 0, scale.y, 0.5 * scale.y - 0.5, 0, 0, 1};
}

double rmsResidual(const cv::Matx33d &h, const std::vector<cv::Point2f> &from, const std::vector<cv::Point2f> &to,
                   const std::vector<uchar> &inliers)
{
    double sum = 0;
    int count = 0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (!inliers[i])
            continue;
        const cv::Vec3d p = h * cv::Vec3d(from[i].x, from[i].y, 1);
        sum += std::pow(p[0] / p[2] - to[i].x, 2) + std::pow(p[1] / p[2] - to[i].y, 2);
        ++count;
    }
    return count ? std::sqrt(sum / count) : 0;
}

} // namespace

AlignmentReference::AlignmentReference(const QImage &reference, AlignMethod method)
    : m_area(reference.size()), m_method(method), m_shared(std::make_shared<Shared>())
{
    m_shared->reference = reference;
    keepScratchMemory();
}

const AlignmentReference::Features *AlignmentReference::referenceFeatures() const
{
    Shared &shared = *m_shared;
    std::call_once(shared.found, [&shared, method = m_method] {
        try {
            shared.features = featuresOf(shared.reference, method);
        } catch (const cv::Exception &) {
        } catch (const std::bad_alloc &) {
        }
        shared.reference = QImage();
    });
    return shared.features ? &*shared.features : nullptr;
}

QSize AlignmentReference::area() const
{
    return m_area;
}

Outcome<FrameAlignment> AlignmentReference::align(const QImage &frame) const
{
    const auto tooFew = [](std::size_t found) {
        return Failure{QStringLiteral("too few matching features (%1 of %2 needed)").arg(found).arg(MinInliers)};
    };
    // A smaller picture gives no features, and OpenCV's reduced copy of a line would be empty.
    const auto tooSmall = [](QSize size) { return size.width() < MinSide || size.height() < MinSide; };
    if (tooSmall(m_area) || tooSmall(frame.size()))
        return Failure{QStringLiteral("%1 is too small to align (%2 x %3 pixels; %4 x %4 at least)")
                           .arg(tooSmall(m_area) ? QStringLiteral("the reference") : QStringLiteral("the frame"))
                           .arg((tooSmall(m_area) ? m_area : frame.size()).width())
                           .arg((tooSmall(m_area) ? m_area : frame.size()).height())
                           .arg(MinSide)};
    useCallingThreadOnly();
    try {
        // The frame's own features first: a second worker finds them while the first worker
        // finds the reference's.
        const Features features = featuresOf(frame, m_method);
        const Features *reference = referenceFeatures();
        if (!reference)
            return Failure{memoryReason()};
        if (features.points.size() < std::size_t(MinInliers) || reference->points.size() < std::size_t(MinInliers))
            return tooFew(std::min(features.points.size(), reference->points.size()));
        std::vector<std::vector<cv::DMatch>> candidates;
        cv::BFMatcher(cv::NORM_HAMMING).knnMatch(features.descriptors, reference->descriptors, candidates, 2);
        std::vector<cv::Point2f> from, to;
        for (const auto &pair : candidates)
            if (pair.size() == 2 && pair[0].distance < MatchRatio * pair[1].distance) {
                from.push_back(reference->points[std::size_t(pair[0].trainIdx)]);
                to.push_back(features.points[std::size_t(pair[0].queryIdx)]);
            }
        if (from.size() < std::size_t(MinInliers))
            return tooFew(from.size());
        const double distance = inlierDistanceFor(frame.size(), m_method);
        std::vector<uchar> inliers;
        cv::Mat fit = cv::findHomography(from, to, cv::RANSAC, distance, inliers, 4000, 0.999);
        if (fit.empty() || !isFinite(cv::Matx33d(fit)) || !keepsShape(cv::Matx33d(fit), m_area)) {
            // Matches on a near-flat or repeated scene can give a degenerate projective fit where
            // a shift, turn and zoom still holds.
            const cv::Mat similarity = cv::estimateAffinePartial2D(from, to, inliers, cv::RANSAC, distance);
            if (similarity.empty())
                return tooFew(0);
            fit = cv::Mat::eye(3, 3, CV_64F);
            similarity.copyTo(fit.rowRange(0, 2));
        }
        const auto found = std::size_t(std::count(inliers.begin(), inliers.end(), uchar(1)));
        if (found < std::size_t(MinInliers))
            return tooFew(found);
        cv::Matx33d h(fit);
        h *= 1.0 / h(2, 2);
        if (!isFinite(h) || !keepsShape(h, m_area))
            return Failure{QStringLiteral("the fit folds or shrinks the picture too far")};
        FrameAlignment result;
        std::copy(h.val, h.val + 9, result.toFrame.m.begin());
        result.facts.matches = int(from.size());
        result.facts.inliers = int(found);
        result.facts.residual = rmsResidual(h, from, to, inliers);
        if (m_method == AlignMethod::Local) {
            const cv::Matx33d reduced = fullFromReduced(features.scale).inv() * h * fullFromReduced(reference->scale);
            Refinement refinement = refineLocally(reference->grey, features.grey, reduced, reference->scale);
            result.field = std::move(refinement.field);
            result.facts.refinedTiles = refinement.tiles;
            result.facts.refinedArea = refinement.area;
        }
        return result;
    } catch (const cv::Exception &e) {
        return Failure{e.code == cv::Error::StsNoMem ? memoryReason() : QString::fromStdString(e.err)};
    } catch (const std::bad_alloc &) {
        return Failure{memoryReason()};
    }
}

namespace {

// Whether reference pixel (x, y) has its pre-image within [0, w-1] x [0, h-1] of the frame.
bool mapsInside(const Homography &h, QSize frame, int x, int y)
{
    const auto &m = h.m;
    const double w = m[6] * x + m[7] * y + m[8];
    if (!(w > 0))
        return false;
    const double u = (m[0] * x + m[1] * y + m[2]) / w;
    const double v = (m[3] * x + m[4] * y + m[5]) / w;
    return u >= 0 && u <= frame.width() - 1 && v >= 0 && v <= frame.height() - 1;
}

// Each condition is linear in x along a row (after multiplying by the positive denominator), so
// the row's covered set is one interval: solved in closed form, then settled pixel by pixel on
// the exact test so that rounding never claims a pixel the test refuses.
RowSpan spanOf(const Homography &h, QSize frame, int width, int y)
{
    const auto &m = h.m;
    const double wa = m[6], wb = m[7] * y + m[8];
    const double ua = m[0], ub = m[1] * y + m[2];
    const double va = m[3], vb = m[4] * y + m[5];
    const double fw = frame.width() - 1, fh = frame.height() - 1;
    // a x + b >= 0 for each
    const double conditions[][2] = {{wa, wb}, {ua, ub}, {fw * wa - ua, fw * wb - ub}, {va, vb}, {fh * wa - va, fh * wb - vb}};
    double lo = 0, hi = width - 1;
    for (const auto &[a, b] : conditions) {
        if (a > 0)
            lo = std::max(lo, -b / a);
        else if (a < 0)
            hi = std::min(hi, -b / a);
        else if (b < 0)
            return {};
    }
    if (!(lo <= hi + 1))
        return {};
    RowSpan span{int(std::ceil(lo)), int(std::floor(hi)) + 1};
    span.begin = std::clamp(span.begin, 0, width);
    span.end = std::clamp(span.end, span.begin, width);
    while (span.begin < span.end && !mapsInside(h, frame, span.begin, y))
        ++span.begin;
    while (span.end > span.begin && !mapsInside(h, frame, span.end - 1, y))
        --span.end;
    if (span.begin < span.end) {
        while (span.begin > 0 && mapsInside(h, frame, span.begin - 1, y))
            --span.begin;
        while (span.end < width && mapsInside(h, frame, span.end, y))
            ++span.end;
    }
    return span;
}

} // namespace

namespace {

// Rows of the area mapped at a time: the maps of a whole 12 MP frame would take 96 MB.
constexpr int BandRows = 32;

// The longest run of x in [0, width) where the pre-image (u[x], v[x]) lies within [0, lastX] x
// [0, lastY]: flagged in vector lanes first, then each run's end found by memchr.
RowSpan longestRun(const float *u, const float *v, int width, float lastX, float lastY, std::vector<std::uint8_t> &inside)
{
    inside.resize(std::size_t(width));
    std::uint8_t *flags = inside.data();
    for (int x = 0; x < width; ++x)
        flags[x] = std::uint8_t((u[x] >= 0) & (u[x] <= lastX) & (v[x] >= 0) & (v[x] <= lastY));
    RowSpan longest;
    for (int x = 0; x < width;) {
        if (!flags[x]) {
            ++x;
            continue;
        }
        const auto *stop = static_cast<const std::uint8_t *>(std::memchr(flags + x, 0, std::size_t(width - x)));
        const int end = stop ? int(stop - flags) : width;
        if (end - x > longest.end - longest.begin)
            longest = {x, end};
        x = end;
    }
    return longest;
}

// Row y's pre-images toFrame(p + field(p)), in float: a thousandth of a pixel at 12 MP, far
// below the resampler's 1/256 grid, and a loop the compiler turns into vector code.
class RowMapper {
public:
    RowMapper(const Homography &toFrame, const LocalField &field, int width)
        : m_rows(field, width), m_dx(std::size_t(width)), m_dy(std::size_t(width))
    {
        std::transform(toFrame.m.begin(), toFrame.m.end(), m_m.begin(), [](double v) { return float(v); });
    }

    void map(int y, float *u, float *v)
    {
        m_rows.row(y, m_dx.data(), m_dy.data());
        const auto &m = m_m;
        const int width = int(m_dx.size());
        const float *dx = m_dx.data(), *dy = m_dy.data();
        for (int x = 0; x < width; ++x) {
            const float qx = float(x) + dx[x], qy = float(y) + dy[x];
            const float w = m[6] * qx + m[7] * qy + m[8];
            // Behind the camera: a place no frame pixel is, so the run stops there.
            const float inverse = 1.0f / w;
            u[x] = w > 0 ? (m[0] * qx + m[1] * qy + m[2]) * inverse : -1.0f;
            v[x] = w > 0 ? (m[3] * qx + m[4] * qy + m[5]) * inverse : -1.0f;
        }
    }

private:
    LocalField::Rows m_rows;
    std::array<float, 9> m_m;
    std::vector<float> m_dx, m_dy;
};

// Band by band: the rows' pre-images, their coverage (the homography's exact span alone, the
// longest covered run through a field), then the samples; 8-bit rows through the integer
// resampler, 16-bit bands through OpenCV's.
void warpInBands(const QImage &frame, QImage &warped, const Homography &toFrame, const LocalField &field,
                 Coverage &coverage)
{
    const int width = warped.width();
    const float lastX = float(frame.width() - 1), lastY = float(frame.height() - 1);
    const bool deep = frame.format() == QImage::Format_RGBX64;
    const Rgb32Source source{frame.constBits(), frame.bytesPerLine(), frame.width(), frame.height()};
    const cv::Mat sourceView = viewOf(frame), target = viewOf(warped);
    cv::Mat mapX(BandRows, width, CV_32F), mapY(BandRows, width, CV_32F);
    RowMapper mapper(toFrame, field, width);
    std::vector<std::uint8_t> inside;
    for (int first = 0; first < warped.height(); first += BandRows) {
        const int rows = std::min(BandRows, warped.height() - first);
        for (int r = 0; r < rows; ++r) {
            const int y = first + r;
            auto *u = mapX.ptr<float>(r);
            auto *v = mapY.ptr<float>(r);
            mapper.map(y, u, v);
            coverage[std::size_t(y)] = field.empty() ? spanOf(toFrame, frame.size(), width, y)
                                                     : longestRun(u, v, width, lastX, lastY, inside);
            if (!deep)
                bicubicRow(source, u, v, width, reinterpret_cast<std::uint32_t *>(warped.scanLine(y)));
        }
        if (deep) {
            cv::Mat band = target.rowRange(first, first + rows);
            cv::remap(sourceView, band, mapX.rowRange(0, rows), mapY.rowRange(0, rows), cv::INTER_CUBIC, cv::BORDER_REPLICATE);
        }
    }
}

} // namespace

std::optional<WarpedFrame> warpFrame(const QImage &frame, const Homography &toFrame, QSize area, const LocalField &field)
{
    useCallingThreadOnly();
    try {
        WarpedFrame warped{recycledImage(area, frame.format()), Coverage(std::size_t(std::max(area.height(), 0)))};
        if (warped.picture.isNull())
            return std::nullopt;
        warpInBands(frame, warped.picture, toFrame, field, warped.coverage);
        return warped;
    } catch (const cv::Exception &) {
        return std::nullopt;
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}
