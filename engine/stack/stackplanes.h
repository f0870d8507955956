#pragma once

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
std::uint64_t decodingRoom(QSize area);

// The planes of one stack: in memory when they and the room for decoding fit the memory
// budget, otherwise in a scratch file worked through in bands of at most half what is left.
class StackPlanes {
public:
    // An unknown budget (nullopt) lets memory be tried alone. Empty (valid() false) when
    // neither memory nor the scratch folder can hold the planes.
    StackPlanes(QSize area, int imageCount, std::optional<std::uint64_t> budget, const QString &scratchFolder,
                ScratchIo &io = ScratchIo::system());

    bool valid() const;
    // Whether they live in a scratch file, where painting can fail part-way.
    bool spilled() const { return std::holds_alternative<SpilledPlanes>(m_planes); }
    // Faults image `index`'s pages in ahead of its copy; safe beside copyImage() of another image.
    void prefault(int index) const;
    // False, and error() says why, when the image could not be stored; the planes are then spoilt.
    bool copyImage(int index, const QImage &picture);
    // False, and error() says why, when the stacked values could not all be painted. With a
    // coverage, a pixel's samples are those of the images that cover it alone.
    bool paint(QImage &surface, const StackOptions &options, const FrameCoverage *coverage = nullptr);
    // The errno of the failure; ENOMEM when memory ran out.
    int error() const;

private:
    std::variant<std::monostate, ChannelPlanes, SpilledPlanes> m_planes;
};
