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

    // Where each x of a row of `width` pixels falls among the node columns, worked out once for
    // all the rows of a picture.
    struct Columns {
        std::vector<int> lower;
        std::vector<float> weight; // of the next column
    };
    Columns columns(int width) const;

    // Row y's displacements at x = 0 .. width - 1 (the columns' width), in reference pixels; zero
    // for an empty field.
    void row(int y, const Columns &columns, float *dx, float *dy) const;

private:
    std::size_t index(int i, int j) const { return std::size_t(i) * std::size_t(m_nodes.width()) + std::size_t(j); }

    QSize m_nodes;
    QPointF m_origin;
    QPointF m_step{1, 1};
    std::vector<float> m_dx;
    std::vector<float> m_dy;
};
