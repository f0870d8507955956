#pragma once

#include <QSize>

#include <cstddef>
#include <vector>

// Covered pixels x in [begin, end) of one row of the stacked area; begin >= end: none.
struct RowSpan {
    int begin = 0;
    int end = 0;
};
// One span per row of the area.
using Coverage = std::vector<RowSpan>;

// Where to cut a row and which frames cover a run of it; reserved up front with reserve(), so
// painting never allocates.
struct RunScratch {
    std::vector<int> cuts;
    std::vector<int> covering;
};

// Which frames of a stack give a sample where, once they are warped into one grid: a pixel's
// samples are only those of the frames that cover it. A frame not yet given covers nothing.
class FrameCoverage {
public:
    FrameCoverage(QSize area, int frames);

    // A coverage shorter than the area covers nothing below its last row.
    void set(int frame, const Coverage &coverage);
    void setWhole(int frame);

    int frames() const { return m_frames; }
    void reserve(RunScratch &scratch) const;

    // Cuts row y's first `width` pixels into runs over which the same frames cover every pixel
    // and calls visit(begin, end, covering) for each, `covering` holding those frames' indices in
    // increasing order.
    template <typename Visit>
    void forEachRun(int y, int width, RunScratch &scratch, Visit &&visit) const
    {
        cutRow(y, width, scratch.cuts);
        for (std::size_t c = 0; c + 1 < scratch.cuts.size(); ++c) {
            const int begin = scratch.cuts[c], end = scratch.cuts[c + 1];
            scratch.covering.clear();
            for (int frame = 0; frame < m_frames; ++frame)
                if (const RowSpan &s = span(frame, y); s.begin <= begin && end <= s.end)
                    scratch.covering.push_back(frame);
            visit(begin, end, scratch.covering);
        }
    }

private:
    const RowSpan &span(int frame, int y) const
    {
        return m_spans[std::size_t(frame) * std::size_t(m_area.height()) + std::size_t(y)];
    }
    // 0, width and every span's ends between them, sorted, each once.
    void cutRow(int y, int width, std::vector<int> &cuts) const;

    QSize m_area;
    int m_frames;
    std::vector<RowSpan> m_spans;
};
