#pragma once

#include <QImage>
#include <QSize>

#include <algorithm>
#include <cstddef>
#include <memory>

// Pixel memory for decoded frames. Fresh memory is faulted in and zeroed by the kernel page by
// page on first touch, which cost more than decoding a JPEG; so a median run keeps the buffers
// its frames free and the next decode of the same size writes into one of them.

// `bytes` of fresh anonymous memory, zeroed, on huge pages where the system gives them: they cut
// the page faults of first touch by a factor of 512. nullptr when refused; free with munmap.
void *freshPages(std::size_t bytes);

// Fresh pages owned: unmapped when it goes.
struct Unmap {
    std::size_t bytes = 0;
    void operator()(void *memory) const;
};
template <typename T>
using FreshPages = std::unique_ptr<T, Unmap>;

// At least one byte of them, empty when refused.
template <typename T>
FreshPages<T> freshArray(std::size_t count)
{
    const std::size_t bytes = std::max<std::size_t>(count * sizeof(T), 1);
    return FreshPages<T>(static_cast<T *>(freshPages(bytes)), Unmap{bytes});
}

// An RGB32 (or RGBX64) picture of that size on a buffer of its own, on huge pages where the system gives
// them; its buffer is kept for reuse when its last copy goes, while a run keeps buffers. Null
// when the memory cannot be had.
QImage recycledImage(QSize size, QImage::Format format = QImage::Format_RGB32);

// Keeps up to `count` freed buffers from now on; 0 frees those kept and keeps none.
void keepFrameBuffers(int count);

// Alignment's copies, flows and fields, a few MB each and new for every frame, are taken from
// memory the process keeps once freed, instead of fresh pages the kernel zeroes each time: that
// took two thirds of a frame's local refinement. Process-wide and for good; frames stay on
// their own buffers above.
void keepScratchMemory();
