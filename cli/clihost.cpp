#include "cli/clihost.h"

#include "cli/console.h"

#include <algorithm>

CliHost::CliHost(QStringList frames, QImage first)
    : m_frames(std::move(frames)), m_area(first.size()), m_canvas(std::move(first))
{
}

void CliHost::Cap(const QString &text)
{
    // The median sets this title after each frame reached the canvas, or failed to, and asks
    // for the stop flag right after it.
    if (text.startsWith(QLatin1String("Processing image: "))) {
        if (!m_loaded && !m_failedFrame)
            m_failedFrame = m_titled;
        m_loaded = false;
        ++m_titled;
        // Names the frame being read next; the last one stays until the median starts.
        const qsizetype next = std::min<qsizetype>(m_titled + 1, m_frames.size());
        showProgress(QStringLiteral("loading %1/%2").arg(next).arg(m_frames.size()));
    } else if (text == u"Generating Median...") {
        // The window paints the medians over whatever the last frame left on the canvas; here
        // the result is the stacked area exactly, and the medians cover all of it.
        if (m_canvas.size() != m_area)
            m_canvas = QImage(m_area, QImage::Format_RGB32);
        showProgress(QStringLiteral("median"));
    }
}

void CliHost::setCanvas(QImage picture)
{
    m_canvas = std::move(picture);
    m_loaded = true;
}

std::optional<QString> CliHost::imagePath(int index) const
{
    // No path for the first frame: the median then copies the canvas, which holds it, as the
    // window does for an entry removed during a run.
    if (index <= 0 || index >= m_frames.size())
        return std::nullopt;
    return m_frames[index];
}
