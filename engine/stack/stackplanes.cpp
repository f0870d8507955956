#include "engine/stack/stackplanes.h"

#include <cerrno>

namespace {

// Three frames of four samples a pixel.
constexpr std::uint64_t DecodingSamplesPerPixel = 12;

} // namespace

std::uint64_t decodingRoom(QSize area, SampleDepth depth)
{
    return DecodingSamplesPerPixel * std::uint64_t(bytesPerSample(depth)) * std::uint64_t(area.width())
         * std::uint64_t(area.height());
}

StackPlanes::StackPlanes(QSize area, int imageCount, SampleDepth depth, std::optional<std::uint64_t> budget,
                         const QString &scratchFolder, ScratchIo &io)
{
    const std::uint64_t decoding = decodingRoom(area, depth);
    if (!budget || ChannelPlanes::bytesNeeded(area, imageCount, depth) + decoding <= *budget) {
        // Memory can still refuse what the budget allows, under an address-space limit say;
        // the disk is the next place then.
        if (m_planes.emplace<ChannelPlanes>(area, imageCount, depth).valid() || !budget)
            return;
    }
    const std::uint64_t left = *budget > decoding ? *budget - decoding : 0;
    m_planes.emplace<SpilledPlanes>(area, imageCount, depth, scratchFolder, left / 2, io);
}

bool StackPlanes::valid() const
{
    if (const auto *planes = std::get_if<ChannelPlanes>(&m_planes))
        return planes->valid();
    if (const auto *planes = std::get_if<SpilledPlanes>(&m_planes))
        return planes->valid();
    return false;
}

void StackPlanes::prefault(int index) const
{
    // A spilled stack writes through its own band buffers; nothing to fault in.
    if (const auto *planes = std::get_if<ChannelPlanes>(&m_planes))
        planes->prefault(index);
}

Outcome<> StackPlanes::copyImage(int index, const QImage &picture)
{
    if (auto *planes = std::get_if<ChannelPlanes>(&m_planes)) {
        planes->copyImage(index, picture);
        return {};
    }
    auto *spilled = std::get_if<SpilledPlanes>(&m_planes);
    if (spilled && spilled->copyImage(index, picture))
        return {};
    return failure();
}

Outcome<> StackPlanes::paint(QImage &surface, const StackOptions &options, const FrameCoverage *coverage)
{
    bool painted = false;
    if (auto *planes = std::get_if<ChannelPlanes>(&m_planes))
        painted = planes->paint(surface, options, coverage);
    else if (auto *spilled = std::get_if<SpilledPlanes>(&m_planes))
        painted = spilled->paint(surface, options, coverage);
    if (painted)
        return {};
    return failure();
}

Failure StackPlanes::failure() const
{
    const auto *spilled = std::get_if<SpilledPlanes>(&m_planes);
    return {qt_error_string(spilled && spilled->error() ? spilled->error() : ENOMEM)};
}
