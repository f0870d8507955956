#include "engine/align/localrefinement.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Tiles of TileSide reduced pixels are kept or dropped whole; the field's nodes lie NodeStep
// reduced pixels apart, finer than the flow's own detail.
constexpr int TileSide = 16;
constexpr int NodeStep = 2;
constexpr double FieldBlur = 1.5;
// Parallax between frames of a burst stays within a few per cent of the width; more is a mover.
constexpr double MaxLocalShift = 0.03;
// A kept tile matches within this many times the frame's typical residual, plus grey levels of
// noise; or, where fine detail keeps every residual high, at most half the global fit's.
constexpr double ResidualSpread = 2.0;
constexpr double ResidualFloor = 2.0;
constexpr double ClearGain = 0.5;
// A scene's flow is nearly the same across a tile but where a layer's edge crosses it; a mover's
// or an occlusion's, matched to whatever looks alike, scatters.
constexpr double MaxFlowSpread = 1.5;
// A kept tile needs this many kept neighbours whose flow is within MaxNeighbourGap of its own: a
// layer or a lens moves many tiles alike, a chance match moves one.
constexpr int MinAgreeing = 3;
constexpr double MaxNeighbourGap = 2.0;
// A tile whose flow matches about as well as the global fit tells nothing either way: it takes the
// flow of the kept tiles around it. One that matches clearly worse, or scatters, is dropped.
constexpr double NeutralMargin = 1.25;
enum TileClass : uchar { Dropped = 0, Neutral = 128, Kept = 255 };
// How far, in tiles, kept tiles lend their flow to neutral ones, and the least weight of them.
constexpr double FillReach = 1.5;
constexpr float MinFillWeight = 0.1f;

// Tile (tx, ty) of a reduced picture of `size`, cut at its edges.
cv::Rect tileRect(int tx, int ty, cv::Size size)
{
    return cv::Rect(tx * TileSide, ty * TileSide, TileSide, TileSide) & cv::Rect(cv::Point(), size);
}

struct TileMatch {
    double before = 0; // mean absolute grey difference under the global fit
    double after = 0;  // under the flow
    cv::Point2d flow;  // mean flow
    double spread = 0; // the flow's standard deviation, both axes together
    double covered = 0; // share of the tile the frame reaches
};

// Per tile, how well the global fit and the flow match: one pass over the reduced pixels, each
// frame-reached pixel adding to its tile's sums.
std::vector<TileMatch> matchTiles(const cv::Mat &reference, const cv::Mat &warped, const cv::Mat &reached, const cv::Mat &flow,
                                  cv::Size tiles)
{
    cv::Mat map(flow.size(), CV_32FC2);
    for (int y = 0; y < flow.rows; ++y) {
        const auto *f = flow.ptr<cv::Point2f>(y);
        auto *m = map.ptr<cv::Point2f>(y);
        for (int x = 0; x < flow.cols; ++x)
            m[x] = cv::Point2f(float(x), float(y)) + f[x];
    }
    cv::Mat moved;
    cv::remap(warped, moved, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    struct Sums {
        double count = 0, before = 0, after = 0;
        cv::Point2d flow, squares;
    };
    std::vector<Sums> sums(std::size_t(tiles.area()));
    for (int y = 0; y < flow.rows; ++y) {
        const uchar *ref = reference.ptr(y), *under = warped.ptr(y), *through = moved.ptr(y), *reaches = reached.ptr(y);
        const auto *f = flow.ptr<cv::Point2f>(y);
        Sums *row = sums.data() + std::size_t(y / TileSide) * std::size_t(tiles.width);
        for (int x = 0; x < flow.cols; ++x) {
            if (!reaches[x])
                continue;
            Sums &tile = row[x / TileSide];
            tile.count += 1;
            tile.before += std::abs(ref[x] - under[x]);
            tile.after += std::abs(ref[x] - through[x]);
            tile.flow += cv::Point2d(f[x]);
            tile.squares += cv::Point2d(double(f[x].x) * f[x].x, double(f[x].y) * f[x].y);
        }
    }
    std::vector<TileMatch> matches(sums.size());
    for (int ty = 0; ty < tiles.height; ++ty)
        for (int tx = 0; tx < tiles.width; ++tx) {
            const std::size_t i = std::size_t(ty * tiles.width + tx);
            const Sums &tile = sums[i];
            const double count = std::max(1.0, tile.count);
            const cv::Point2d mean = tile.flow / count;
            const auto deviation = [](double squares, double average) { return std::sqrt(std::max(0.0, squares - average * average)); };
            matches[i] = {tile.before / count, tile.after / count, mean,
                          std::hypot(deviation(tile.squares.x / count, mean.x), deviation(tile.squares.y / count, mean.y)),
                          tile.count / tileRect(tx, ty, flow.size()).area()};
        }
    return matches;
}

double medianAfter(const std::vector<TileMatch> &matches)
{
    std::vector<double> residuals;
    for (const TileMatch &match : matches)
        if (match.covered >= 0.9)
            residuals.push_back(match.after);
    if (residuals.empty())
        return 0;
    auto middle = residuals.begin() + std::ptrdiff_t(residuals.size() / 2);
    std::nth_element(residuals.begin(), middle, residuals.end());
    return *middle;
}

// The tiles as classed, but a kept tile that too few of its kept neighbours agree with is dropped.
cv::Mat agreedTiles(const cv::Mat &kept, const std::vector<TileMatch> &matches)
{
    cv::Mat agreed(kept.size(), CV_8U, cv::Scalar(0));
    const auto flowAt = [&](int ty, int tx) { return matches[std::size_t(ty * kept.cols + tx)].flow; };
    for (int ty = 0; ty < kept.rows; ++ty)
        for (int tx = 0; tx < kept.cols; ++tx) {
            agreed.at<uchar>(ty, tx) = kept.at<uchar>(ty, tx);
            if (kept.at<uchar>(ty, tx) != Kept)
                continue;
            int agreeing = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int y = ty + dy, x = tx + dx;
                    if ((dx || dy) && y >= 0 && x >= 0 && y < kept.rows && x < kept.cols && kept.at<uchar>(y, x) == Kept)
                        agreeing += cv::norm(flowAt(y, x) - flowAt(ty, tx)) <= MaxNeighbourGap;
                }
            agreed.at<uchar>(ty, tx) = agreeing >= MinAgreeing ? Kept : Dropped;
        }
    return agreed;
}

// A neutral tile's flow from the kept ones around it, weighted by distance (normalised
// convolution): what the scene does there, as far as its neighbours tell. Far from any, and on
// kept and dropped tiles, none.
cv::Mat filledTiles(const cv::Mat &keptTiles, const std::vector<TileMatch> &matches)
{
    cv::Mat flow(keptTiles.size(), CV_32FC2, cv::Scalar::all(0)), weight(keptTiles.size(), CV_32F, cv::Scalar(0));
    for (int ty = 0; ty < keptTiles.rows; ++ty)
        for (int tx = 0; tx < keptTiles.cols; ++tx)
            if (keptTiles.at<uchar>(ty, tx) == Kept) {
                const cv::Point2d f = matches[std::size_t(ty * keptTiles.cols + tx)].flow;
                flow.at<cv::Point2f>(ty, tx) = cv::Point2f(float(f.x), float(f.y));
                weight.at<float>(ty, tx) = 1;
            }
    cv::GaussianBlur(flow, flow, cv::Size(), FillReach, 0, cv::BORDER_CONSTANT);
    cv::GaussianBlur(weight, weight, cv::Size(), FillReach, 0, cv::BORDER_CONSTANT);
    for (int ty = 0; ty < flow.rows; ++ty)
        for (int tx = 0; tx < flow.cols; ++tx) {
            const float w = weight.at<float>(ty, tx);
            const bool fills = keptTiles.at<uchar>(ty, tx) == Neutral && w > MinFillWeight;
            flow.at<cv::Point2f>(ty, tx) = fills ? flow.at<cv::Point2f>(ty, tx) / w : cv::Point2f();
        }
    return flow;
}

// The kept tiles' own flow, the neutral ones' filled in from their neighbours, none on dropped
// ones; blurred a little so a tile's edge does not end in a step a resampling kernel would ring on.
cv::Mat fieldFlow(const cv::Mat &flow, const cv::Mat &keptTiles, const std::vector<TileMatch> &matches)
{
    const cv::Size padded(keptTiles.cols * TileSide, keptTiles.rows * TileSide);
    cv::Mat mask, field;
    cv::resize(keptTiles == Kept, mask, padded, 0, 0, cv::INTER_NEAREST);
    cv::resize(filledTiles(keptTiles, matches), field, padded, 0, 0, cv::INTER_NEAREST);
    field = field(cv::Rect(0, 0, flow.cols, flow.rows)).clone();
    flow.copyTo(field, mask(cv::Rect(0, 0, flow.cols, flow.rows)));
    cv::GaussianBlur(field, field, cv::Size(), FieldBlur);
    return field;
}

// Tiles where p + field(p) turns most of the tile over (a negative Jacobian determinant): a flow
// that crossed itself, not a scene. A layer's edge only crushes a thin band and stays.
cv::Mat foldedTiles(const cv::Mat &field, cv::Size tiles)
{
    cv::Mat gx, gy;
    cv::Sobel(field, gx, CV_32F, 1, 0, 3, 1.0 / 8);
    cv::Sobel(field, gy, CV_32F, 0, 1, 3, 1.0 / 8);
    cv::Mat folded(tiles, CV_8U, cv::Scalar(0));
    for (int ty = 0; ty < tiles.height; ++ty)
        for (int tx = 0; tx < tiles.width; ++tx) {
            const cv::Rect rect = tileRect(tx, ty, field.size());
            int turned = 0;
            for (int y = rect.y; y < rect.y + rect.height; ++y)
                for (int x = rect.x; x < rect.x + rect.width; ++x) {
                    const cv::Point2f dx = gx.at<cv::Point2f>(y, x), dy = gy.at<cv::Point2f>(y, x);
                    turned += (1 + dx.x) * (1 + dy.y) - dx.y * dy.x < 0;
                }
            folded.at<uchar>(ty, tx) = turned * 2 > rect.area() ? 255 : 0;
        }
    return folded;
}

} // namespace

Refinement refineLocally(const cv::Mat &referenceGrey, const cv::Mat &frameGrey, const cv::Matx33d &toFrame,
                         cv::Point2d scale)
{
    const int flags = cv::INTER_LINEAR | cv::WARP_INVERSE_MAP;
    cv::Mat warped, reached;
    cv::warpPerspective(frameGrey, warped, toFrame, referenceGrey.size(), flags, cv::BORDER_REPLICATE);
    cv::warpPerspective(cv::Mat(frameGrey.size(), CV_8U, cv::Scalar(255)), reached, toFrame, referenceGrey.size(),
                        cv::INTER_NEAREST | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, 0);
    cv::Mat flow;
    cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_ULTRAFAST)->calc(referenceGrey, warped, flow);

    const cv::Size tiles((referenceGrey.cols + TileSide - 1) / TileSide, (referenceGrey.rows + TileSide - 1) / TileSide);
    const std::vector<TileMatch> matches = matchTiles(referenceGrey, warped, reached, flow, tiles);
    const double typical = medianAfter(matches);
    const double maxShift = MaxLocalShift * referenceGrey.cols;
    cv::Mat keptTiles(tiles, CV_8U, cv::Scalar(0));
    int covered = 0;
    for (int ty = 0; ty < tiles.height; ++ty)
        for (int tx = 0; tx < tiles.width; ++tx) {
            const TileMatch &match = matches[std::size_t(ty * tiles.width + tx)];
            if (match.covered < 0.9)
                continue;
            ++covered;
            const bool coherent = match.spread <= MaxFlowSpread && std::hypot(match.flow.x, match.flow.y) <= maxShift;
            const bool matched = coherent && match.after <= match.before
                                 && (match.after <= ResidualSpread * typical + ResidualFloor || match.after <= ClearGain * match.before);
            const bool neutral = coherent && match.after <= NeutralMargin * match.before;
            keptTiles.at<uchar>(ty, tx) = matched ? Kept : neutral ? Neutral : Dropped;
        }
    keptTiles = agreedTiles(keptTiles, matches);
    cv::Mat field = fieldFlow(flow, keptTiles, matches);
    if (const cv::Mat folded = foldedTiles(field, tiles); cv::countNonZero(folded) > 0) {
        keptTiles.setTo(Dropped, folded);
        field = fieldFlow(flow, keptTiles, matches);
    }
    Refinement refinement;
    const int kept = cv::countNonZero(keptTiles == Kept);
    if (kept == 0)
        return refinement;
    refinement.tiles = double(kept) / covered;
    refinement.area = double(kept) / tiles.area();
    // Padded to whole blocks, so each node averages exactly its own.
    cv::copyMakeBorder(field, field, 0, (NodeStep - field.rows % NodeStep) % NodeStep, 0,
                       (NodeStep - field.cols % NodeStep) % NodeStep, cv::BORDER_REPLICATE);
    cv::Mat nodes;
    cv::resize(field, nodes, cv::Size(field.cols / NodeStep, field.rows / NodeStep), 0, 0, cv::INTER_AREA);
    // Node (i, j) stands for the block of reduced pixels it averages, at the block's centre.
    const auto full = [](double reduced, double s) { return (reduced + 0.5) * s - 0.5; };
    const double centre = (NodeStep - 1) / 2.0;
    refinement.field = LocalField(QSize(nodes.cols, nodes.rows), QPointF(full(centre, scale.x), full(centre, scale.y)),
                                  QPointF(NodeStep * scale.x, NodeStep * scale.y));
    for (int i = 0; i < nodes.rows; ++i)
        for (int j = 0; j < nodes.cols; ++j) {
            const cv::Point2f node = nodes.at<cv::Point2f>(i, j);
            refinement.field.dx(i, j) = float(node.x * scale.x);
            refinement.field.dy(i, j) = float(node.y * scale.y);
        }
    return refinement;
}
