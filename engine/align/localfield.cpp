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

LocalField::Rows::Rows(const LocalField &field, int width)
    : m_field(field), m_lower(std::size_t(width)), m_weight(std::size_t(width)), m_aboveDx(m_weight.size()),
      m_aboveDy(m_weight.size()), m_belowDx(m_weight.size()), m_belowDy(m_weight.size())
{
    for (int x = 0; !field.empty() && x < width; ++x) {
        const Between column = between((x - field.m_origin.x()) / field.m_step.x(), field.m_nodes.width());
        m_lower[std::size_t(x)] = column.lower;
        m_weight[std::size_t(x)] = column.weight;
    }
}

// Node row i interpolated along x.
void LocalField::Rows::expand(int i, std::vector<float> &dx, std::vector<float> &dy) const
{
    const LocalField &f = m_field;
    const int last = f.m_nodes.width() - 1;
    for (std::size_t x = 0; x < m_lower.size(); ++x) {
        const int j0 = m_lower[x], j1 = std::min(j0 + 1, last);
        const float w = m_weight[x];
        dx[x] = f.m_dx[f.index(i, j0)] * (1 - w) + f.m_dx[f.index(i, j1)] * w;
        dy[x] = f.m_dy[f.index(i, j0)] * (1 - w) + f.m_dy[f.index(i, j1)] * w;
    }
}

void LocalField::Rows::row(int y, float *dx, float *dy)
{
    const std::size_t width = m_lower.size();
    if (m_field.empty()) {
        std::fill_n(dx, width, 0.0f);
        std::fill_n(dy, width, 0.0f);
        return;
    }
    const Between place = between((y - m_field.m_origin.y()) / m_field.m_step.y(), m_field.m_nodes.height());
    if (place.lower != m_expandedRow) {
        expand(place.lower, m_aboveDx, m_aboveDy);
        expand(std::min(place.lower + 1, m_field.m_nodes.height() - 1), m_belowDx, m_belowDy);
        m_expandedRow = place.lower;
    }
    const float w = place.weight;
    for (std::size_t x = 0; x < width; ++x) {
        dx[x] = m_aboveDx[x] * (1 - w) + m_belowDx[x] * w;
        dy[x] = m_aboveDy[x] * (1 - w) + m_belowDy[x] * w;
    }
}
