#pragma once

#include "engine/core/outcome.h"
#include "engine/stack/channelplanes.h"
#include "engine/stack/spilledplanes.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

// Beside the planes, each load still needs room to decode a picture and convert it; frames
// decoded ahead of the loop live in the same room.
std::uint64_t decodingRoom(QSize area, SampleDepth depth);

// The planes of one stack: in memory when they and the room for decoding fit the memory
// budget, otherwise in a scratch file worked through in bands of at most half what is left.
class StackPlanes {
public:
    // An unknown budget (nullopt) lets memory be tried alone. Empty (valid() false) when
    // neither memory nor the scratch folder can hold the planes.
    StackPlanes(QSize area, int imageCount, SampleDepth depth, std::optional<std::uint64_t> budget,
                const QString &scratchFolder, ScratchIo &io = ScratchIo::system());

    bool valid() const;
    // Whether they live in a scratch file, where painting can fail part-way.
    bool spilled() const { return std::holds_alternative<SpilledPlanes>(m_planes); }
    // Faults image `index`'s pages in ahead of its copy; safe beside copyImage() of another image.
    void prefault(int index) const;
    // Stores the image, or says why not (the system's reason); the planes are then spoilt.
    Outcome<> copyImage(int index, const QImage &picture);
    // Paints the stacked values, or says why they could not all be painted. With a coverage, a
    // pixel's samples are those of the images that cover it alone.
    Outcome<> paint(QImage &surface, const StackOptions &options, const FrameCoverage *coverage = nullptr);

private:
    // The reason of the failure: the disk's, or want of memory.
    Failure failure() const;

    std::variant<std::monostate, ChannelPlanes, SpilledPlanes> m_planes;
};
