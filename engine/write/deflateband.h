#pragma once

#include <cstdint>
#include <span>
#include <vector>

// One band of a zlib stream's deflate data, byte-aligned at its end so that bands compressed
// apart concatenate into one stream: the last band ends the stream, the others end open. Of a
// block of literals under one Huffman code, stored blocks and zlib's run-length matching (tried
// only where literals alone take under 2 bits a byte) `out` gets the smallest. False when zlib
// cannot start; std::bad_alloc when memory runs out.
bool deflateBand(std::span<const std::uint8_t> data, bool last, std::vector<std::uint8_t> &out);
