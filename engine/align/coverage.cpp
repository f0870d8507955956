#include "engine/align/coverage.h"

#include <algorithm>

FrameCoverage::FrameCoverage(QSize area, int frames)
    : m_area(area), m_frames(frames), m_spans(std::size_t(frames) * std::size_t(std::max(0, area.height())))
{
}

void FrameCoverage::set(int frame, const Coverage &coverage)
{
    const auto rows = std::min(coverage.size(), std::size_t(m_area.height()));
    const auto first = m_spans.begin() + std::ptrdiff_t(std::size_t(frame) * std::size_t(m_area.height()));
    std::copy_n(coverage.begin(), rows, first);
    std::fill(first + std::ptrdiff_t(rows), first + m_area.height(), RowSpan{});
}

void FrameCoverage::setWhole(int frame)
{
    set(frame, Coverage(std::size_t(m_area.height()), RowSpan{0, m_area.width()}));
}

void FrameCoverage::reserve(RunScratch &scratch) const
{
    scratch.cuts.reserve(2 * std::size_t(m_frames) + 2);
    scratch.covering.reserve(std::size_t(m_frames));
}

void FrameCoverage::cutRow(int y, int width, std::vector<int> &cuts) const
{
    cuts.clear();
    cuts.push_back(0);
    cuts.push_back(width);
    for (int frame = 0; frame < m_frames; ++frame) {
        const RowSpan &s = span(frame, y);
        if (s.begin >= s.end)
            continue;
        cuts.push_back(std::clamp(s.begin, 0, width));
        cuts.push_back(std::clamp(s.end, 0, width));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
}
