#pragma once

#include <QPointF>
#include <QSize>

#include <cstddef>
#include <vector>

// What the global fit leaves to mend where the scene is not one plane (a near layer's parallax,
// a lens breathing, a rolling shutter's skew): reference pixel p takes the frame's content from
// toFrame(p + field(p)) instead of toFrame(p). Held on nodes `step` reference pixels apart,
// bilinear between them and held at the outer ones beyond them, so a 12 MP frame's field takes
// about 2 MB.
class LocalField {
public:
    LocalField() = default; // none: zero everywhere
    // Zero at every node; node (i, j) lies at reference pixel (origin.x + j step.x, origin.y + i step.y).
    LocalField(QSize nodes, QPointF origin, QPointF step);

    bool empty() const { return m_dx.empty(); }

    float &dx(int i, int j) { return m_dx[index(i, j)]; }
    float &dy(int i, int j) { return m_dy[index(i, j)]; }

    // Row-by-row evaluation over `width` pixels: where each x falls among the node columns,
    // worked out once, and the two node rows around the last row asked for, expanded along x;
    // rows between the same node rows then cost one blend a pixel. It reads the field it was
    // made from, which must outlive it.
    class Rows {
    public:
        explicit Rows(const LocalField &field, int width);
        // Row y's displacements at x = 0 .. width - 1, in reference pixels; zero for an empty field.
        void row(int y, float *dx, float *dy);

    private:
        void expand(int i, std::vector<float> &dx, std::vector<float> &dy) const;

        const LocalField &m_field;
        std::vector<int> m_lower;
        std::vector<float> m_weight; // of the next column
        int m_expandedRow = -1;
        std::vector<float> m_aboveDx, m_aboveDy, m_belowDx, m_belowDy;
    };

private:
    std::size_t index(int i, int j) const { return std::size_t(i) * std::size_t(m_nodes.width()) + std::size_t(j); }

    QSize m_nodes;
    QPointF m_origin;
    QPointF m_step{1, 1};
    std::vector<float> m_dx;
    std::vector<float> m_dy;
};
