#include "engine/align/localrefinement.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Nodes every Cell reduced pixels, at the cells' centres; a tile of Tile x Tile cells is kept or
// dropped whole.
constexpr int Cell = 8;
constexpr int Tile = 2;
// Parallax between frames of a burst stays within a few per cent of the width; more is a mover.
constexpr double MaxLocalShift = 0.03;
// A kept tile matches within this many times the frame's typical residual, plus grey levels of noise.
constexpr double ResidualSpread = 2.0;
constexpr double ResidualFloor = 2.0;
// The mapping's Jacobian determinant may shrink a cell to this share of its area, no further.
constexpr double MinCellArea = 0.1;
// A layer's edge that moves over its background would fold the mapping there; relaxing the nodes
// around it widens the step into a ramp, within this many passes.
constexpr int RelaxPasses = 64;

struct TileMatch {
    double before = 0; // mean absolute grey difference under the global fit
    double after = 0;  // under the flow
    cv::Point2d flow;  // mean flow
    double covered = 0; // share of the tile the frame reaches
};

// Per tile of TileSide reduced pixels, how well the global fit and the flow match.
std::vector<TileMatch> matchTiles(const cv::Mat &reference, const cv::Mat &warped, const cv::Mat &reached, const cv::Mat &flow,
                                  cv::Size tiles, int side)
{
    cv::Mat map(flow.size(), CV_32FC2);
    for (int y = 0; y < flow.rows; ++y)
        for (int x = 0; x < flow.cols; ++x)
            map.at<cv::Point2f>(y, x) = cv::Point2f(float(x), float(y)) + flow.at<cv::Point2f>(y, x);
    cv::Mat moved, before, after;
    cv::remap(warped, moved, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::absdiff(reference, warped, before);
    cv::absdiff(reference, moved, after);
    std::vector<TileMatch> matches(std::size_t(tiles.area()));
    for (int ty = 0; ty < tiles.height; ++ty)
        for (int tx = 0; tx < tiles.width; ++tx) {
            const cv::Rect rect = cv::Rect(tx * side, ty * side, side, side) & cv::Rect(0, 0, flow.cols, flow.rows);
            const cv::Mat mask = reached(rect);
            const double count = std::max(1, cv::countNonZero(mask));
            TileMatch &match = matches[std::size_t(ty * tiles.width + tx)];
            match.covered = count / rect.area();
            match.before = cv::sum(before(rect) & mask)[0] / count;
            match.after = cv::sum(after(rect) & mask)[0] / count;
            const cv::Scalar mean = cv::mean(flow(rect), mask);
            match.flow = {mean[0], mean[1]};
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

// Smoothed once with a [1 2 1] kernel each way, held at the edges.
cv::Mat smoothed(const cv::Mat &nodes)
{
    cv::Mat result;
    const cv::Mat kernel = (cv::Mat_<float>(1, 3) << 0.25f, 0.5f, 0.25f);
    cv::sepFilter2D(nodes, result, -1, kernel, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    return result;
}

// The cells where p + field(p) would fold or crush, marked on their four nodes.
cv::Mat foldedNodes(const cv::Mat &nodes)
{
    cv::Mat marked(nodes.size(), CV_8U, cv::Scalar(0));
    for (int i = 0; i + 1 < nodes.rows; ++i)
        for (int j = 0; j + 1 < nodes.cols; ++j) {
            const auto n = [&](int a, int b) { return nodes.at<cv::Point2f>(a, b); };
            const cv::Point2f alongX = (n(i, j + 1) - n(i, j) + n(i + 1, j + 1) - n(i + 1, j)) / (2.0f * Cell);
            const cv::Point2f alongY = (n(i + 1, j) - n(i, j) + n(i + 1, j + 1) - n(i, j + 1)) / (2.0f * Cell);
            if ((1 + alongX.x) * (1 + alongY.y) - alongX.y * alongY.x < MinCellArea)
                marked(cv::Rect(j, i, 2, 2)).setTo(255);
        }
    return marked;
}

// Relaxes the nodes of folded cells towards their neighbours' mean until none folds; false when
// some still do after the passes.
bool unfold(cv::Mat &nodes)
{
    for (int pass = 0; pass < RelaxPasses; ++pass) {
        cv::Mat marked = foldedNodes(nodes);
        if (cv::countNonZero(marked) == 0)
            return true;
        // The neighbourhood of a fold relaxes with it, so the ramp widens rather than moves.
        cv::dilate(marked, marked, cv::Mat());
        smoothed(nodes).copyTo(nodes, marked);
    }
    return cv::countNonZero(foldedNodes(nodes)) == 0;
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
    cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM)->calc(referenceGrey, warped, flow);

    const int side = Cell * Tile;
    const cv::Size tiles((referenceGrey.cols + side - 1) / side, (referenceGrey.rows + side - 1) / side);
    const std::vector<TileMatch> matches = matchTiles(referenceGrey, warped, reached, flow, tiles, side);
    const double typical = medianAfter(matches);
    const double maxShift = MaxLocalShift * referenceGrey.cols;
    cv::Mat nodes(tiles.height * Tile, tiles.width * Tile, CV_32FC2, cv::Scalar::all(0));
    int kept = 0, covered = 0;
    for (int ty = 0; ty < tiles.height; ++ty)
        for (int tx = 0; tx < tiles.width; ++tx) {
            const TileMatch &match = matches[std::size_t(ty * tiles.width + tx)];
            if (match.covered < 0.9)
                continue;
            ++covered;
            if (match.after > match.before || match.after > ResidualSpread * typical + ResidualFloor
                || std::hypot(match.flow.x, match.flow.y) > maxShift)
                continue;
            ++kept;
            for (int i = 0; i < Tile; ++i)
                for (int j = 0; j < Tile; ++j) {
                    const cv::Rect cell = cv::Rect((tx * Tile + j) * Cell, (ty * Tile + i) * Cell, Cell, Cell)
                                          & cv::Rect(0, 0, flow.cols, flow.rows);
                    const cv::Scalar mean = cv::mean(flow(cell));
                    nodes.at<cv::Point2f>(ty * Tile + i, tx * Tile + j) = {float(mean[0]), float(mean[1])};
                }
        }
    Refinement refinement;
    if (kept == 0)
        return refinement;
    nodes = smoothed(nodes);
    if (!unfold(nodes))
        return refinement;
    refinement.tiles = double(kept) / covered;
    refinement.area = double(kept) / tiles.area();
    // Nodes at the cells' centres, in full reference pixels.
    const auto full = [&](double reduced, double s) { return (reduced + 0.5) * s - 0.5; };
    refinement.field = LocalField(QSize(nodes.cols, nodes.rows), QPointF(full(Cell / 2.0 - 0.5, scale.x), full(Cell / 2.0 - 0.5, scale.y)),
                                  QPointF(Cell * scale.x, Cell * scale.y));
    for (int i = 0; i < nodes.rows; ++i)
        for (int j = 0; j < nodes.cols; ++j) {
            const cv::Point2f node = nodes.at<cv::Point2f>(i, j);
            refinement.field.dx(i, j) = float(node.x * scale.x);
            refinement.field.dy(i, j) = float(node.y * scale.y);
        }
    return refinement;
}
