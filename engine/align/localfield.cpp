#include "engine/align/localfield.h"

#include <algorithm>
#include <cmath>

LocalField::LocalField(QSize nodes, QPointF origin, QPointF step)
    : m_nodes(nodes), m_origin(origin), m_step(step),
      m_dx(std::size_t(nodes.width()) * std::size_t(nodes.height())), m_dy(m_dx.size())
{
}

namespace {

// A coordinate's place among `count` nodes: the lower node and the weight of the next one.
struct Between {
    int lower;
    float weight;
};

Between between(double position, int count)
{
    const double clamped = std::clamp(position, 0.0, double(count - 1));
    const int lower = std::min(int(clamped), std::max(count - 2, 0));
    return {lower, float(clamped - lower)};
}

} // namespace

LocalField::Columns LocalField::columns(int width) const
{
    Columns columns{std::vector<int>(std::size_t(width)), std::vector<float>(std::size_t(width))};
    for (int x = 0; !empty() && x < width; ++x) {
        const Between column = between((x - m_origin.x()) / m_step.x(), m_nodes.width());
        columns.lower[std::size_t(x)] = column.lower;
        columns.weight[std::size_t(x)] = column.weight;
    }
    return columns;
}

void LocalField::row(int y, const Columns &columns, float *dx, float *dy) const
{
    const auto width = columns.lower.size();
    if (empty()) {
        std::fill_n(dx, width, 0.0f);
        std::fill_n(dy, width, 0.0f);
        return;
    }
    // The two node rows blended once, then along the row.
    const Between row = between((y - m_origin.y()) / m_step.y(), m_nodes.height());
    const int i1 = std::min(row.lower + 1, m_nodes.height() - 1);
    std::vector<float> columnDx(std::size_t(m_nodes.width())), columnDy(columnDx.size());
    for (int j = 0; j < m_nodes.width(); ++j) {
        columnDx[std::size_t(j)] = m_dx[index(row.lower, j)] * (1 - row.weight) + m_dx[index(i1, j)] * row.weight;
        columnDy[std::size_t(j)] = m_dy[index(row.lower, j)] * (1 - row.weight) + m_dy[index(i1, j)] * row.weight;
    }
    for (std::size_t x = 0; x < width; ++x) {
        const auto j0 = std::size_t(columns.lower[x]), j1 = std::min(j0 + 1, columnDx.size() - 1);
        const float w = columns.weight[x];
        dx[x] = columnDx[j0] * (1 - w) + columnDx[j1] * w;
        dy[x] = columnDy[j0] * (1 - w) + columnDy[j1] * w;
    }
}
