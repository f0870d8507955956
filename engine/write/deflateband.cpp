#include "engine/write/deflateband.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

using Byte = std::uint8_t;

constexpr std::size_t Literals = 257; // the byte values, then the end of the block
constexpr std::size_t EndOfBlock = 256;
constexpr std::size_t LengthSymbols = 19;
constexpr int MaxCodeBits = 15;
constexpr int MaxLengthCodeBits = 7;
constexpr std::size_t StoredMax = 65535;
constexpr std::size_t StoredBlockHeader = 5; // 3 bits padded to a byte, then LEN and NLEN
// Where literals alone take under this many bits a byte, runs are long enough for matching.
constexpr std::uint64_t RunBitsPerByte = 2;

template <std::size_t N>
using Counts = std::array<std::uint64_t, N>;
template <std::size_t N>
using Lengths = std::array<Byte, N>;

// Huffman code lengths of at most `limit` bits for the counted symbols, two of them at least.
// Past the limit the counts are halved, none to zero, and the code built again: rare, and
// hardly longer than an optimal limited code.
template <std::size_t N>
Lengths<N> codeLengths(Counts<N> counts, int limit)
{
    struct Node {
        std::uint64_t weight;
        std::size_t left, right;
    };
    for (;;) {
        std::array<std::size_t, N> symbols;
        std::size_t leaves = 0;
        for (std::size_t s = 0; s < N; ++s)
            if (counts[s])
                symbols[leaves++] = s;
        std::sort(symbols.begin(), symbols.begin() + std::ptrdiff_t(leaves),
                  [&](std::size_t a, std::size_t b) { return counts[a] < counts[b]; });
        // Leaves sorted by weight, then the joined nodes, which come out sorted too: two queues.
        std::array<Node, 2 * N> nodes;
        for (std::size_t i = 0; i < leaves; ++i)
            nodes[i] = {counts[symbols[i]], 0, 0};
        std::size_t nextLeaf = 0, nextJoined = leaves, end = leaves;
        const auto lightest = [&] {
            if (nextLeaf < leaves && (nextJoined == end || nodes[nextLeaf].weight <= nodes[nextJoined].weight))
                return nextLeaf++;
            return nextJoined++;
        };
        while (end < 2 * leaves - 1) {
            const std::size_t a = lightest(), b = lightest();
            nodes[end++] = {nodes[a].weight + nodes[b].weight, a, b};
        }
        // Children come before their parent: from the root down, each depth is its parent's plus one.
        std::array<int, 2 * N> depth{};
        for (std::size_t i = end; i-- > leaves;)
            depth[nodes[i].left] = depth[nodes[i].right] = depth[i] + 1;
        Lengths<N> lengths{};
        int deepest = 0;
        for (std::size_t i = 0; i < leaves; ++i) {
            lengths[symbols[i]] = Byte(depth[i]);
            deepest = std::max(deepest, depth[i]);
        }
        if (deepest <= limit)
            return lengths;
        for (std::uint64_t &count : counts)
            if (count)
                count = (count >> 1) | 1;
    }
}

// Canonical codes, bit-reversed: deflate sends Huffman codes from their top bit, into a stream
// filled from each byte's lowest bit.
template <std::size_t N>
std::array<std::uint32_t, N> canonicalCodes(const Lengths<N> &lengths)
{
    std::array<std::uint32_t, MaxCodeBits + 1> perLength{}, next{};
    for (const Byte length : lengths)
        ++perLength[length];
    perLength[0] = 0;
    for (std::size_t bits = 1, code = 0; bits <= MaxCodeBits; ++bits) {
        code = (code + perLength[bits - 1]) << 1;
        next[bits] = std::uint32_t(code);
    }
    std::array<std::uint32_t, N> codes{};
    for (std::size_t s = 0; s < N; ++s) {
        const std::uint32_t code = next[lengths[s]]++;
        for (int bit = 0; bit < lengths[s]; ++bit)
            codes[s] |= ((code >> bit) & 1u) << (lengths[s] - 1 - bit);
    }
    return codes;
}

// Writes into room sized beforehand, 32 bits at a time, with 8 bytes of slack past the end.
class BitWriter {
public:
    explicit BitWriter(Byte *out) : m_out(out), m_start(out) {}

    // At most 32 bits at once.
    void put(std::uint32_t bits, int count)
    {
        m_pending |= std::uint64_t(bits) << m_count;
        m_count += count;
        if (m_count >= 32) {
            const auto word = std::uint32_t(m_pending);
            std::memcpy(m_out, &word, sizeof word);
            m_out += sizeof word;
            m_pending >>= 32;
            m_count -= 32;
        }
    }
    std::size_t alignedSize()
    {
        for (; m_count > 0; m_count -= 8, m_pending >>= 8)
            *m_out++ = Byte(m_pending);
        m_count = 0;
        return std::size_t(m_out - m_start);
    }

private:
    Byte *m_out;
    Byte *m_start;
    std::uint64_t m_pending = 0;
    int m_count = 0;
};

Counts<Literals> byteCounts(std::span<const Byte> data)
{
    // Four tables, so that runs of one value do not wait on one counter.
    std::array<std::array<std::uint64_t, 256>, 4> tables{};
    std::size_t i = 0;
    for (; i + 4 <= data.size(); i += 4)
        for (std::size_t t = 0; t < 4; ++t)
            ++tables[t][data[i + t]];
    for (; i < data.size(); ++i)
        ++tables[0][data[i]];
    Counts<Literals> counts{};
    for (std::size_t value = 0; value < 256; ++value)
        counts[value] = tables[0][value] + tables[1][value] + tables[2][value] + tables[3][value];
    counts[EndOfBlock] = 1;
    return counts;
}

// The block header's order of the code length code's lengths.
constexpr std::array<std::size_t, LengthSymbols> LengthOrder{16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A dynamic block of literals alone. Its distance code is two unused codes of one bit: a
// complete code, which every inflater takes.
struct LiteralBlock {
    Lengths<Literals> lengths;
    Lengths<LengthSymbols> lengthLengths;
    std::uint64_t bits;

    explicit LiteralBlock(std::span<const Byte> data)
    {
        const Counts<Literals> counts = byteCounts(data);
        // Two symbols at least: the end of the block and a filter type byte.
        lengths = codeLengths(counts, MaxCodeBits);
        // Two at least again: the distances' length 1 and, with 257 literals, some other.
        Counts<LengthSymbols> lengthCounts{};
        for (const Byte length : lengths)
            ++lengthCounts[length];
        lengthCounts[1] += 2;
        lengthLengths = codeLengths(lengthCounts, MaxLengthCodeBits);
        bits = 3 + 5 + 5 + 4 + 3 * LengthSymbols;
        for (std::size_t length = 0; length < LengthSymbols; ++length)
            bits += lengthCounts[length] * lengthLengths[length];
        for (std::size_t s = 0; s < Literals; ++s)
            bits += counts[s] * lengths[s];
    }

    std::size_t write(std::span<const Byte> data, bool last, Byte *out) const
    {
        const auto codes = canonicalCodes(lengths);
        const auto lengthCodes = canonicalCodes(lengthLengths);
        BitWriter writer(out);
        writer.put(last ? 1 : 0, 1);
        writer.put(2, 2);                          // dynamic Huffman codes
        writer.put(Literals - 257, 5);             // HLIT
        writer.put(2 - 1, 5);                      // HDIST
        writer.put(LengthSymbols - 4, 4);          // HCLEN
        for (const std::size_t symbol : LengthOrder)
            writer.put(lengthLengths[symbol], 3);
        for (const Byte length : lengths)
            writer.put(lengthCodes[length], lengthLengths[length]);
        for (int distance = 0; distance < 2; ++distance)
            writer.put(lengthCodes[1], lengthLengths[1]);
        std::size_t i = 0;
        // Two literals of at most 15 bits fill one put.
        for (; i + 2 <= data.size(); i += 2) {
            const Byte a = data[i], b = data[i + 1];
            writer.put(codes[a] | (codes[b] << lengths[a]), lengths[a] + lengths[b]);
        }
        for (; i < data.size(); ++i)
            writer.put(codes[data[i]], lengths[data[i]]);
        writer.put(codes[EndOfBlock], lengths[EndOfBlock]);
        if (last)
            return writer.alignedSize();
        // An empty stored block leaves the stream open on a byte boundary.
        writer.put(0, 3);
        const std::size_t size = writer.alignedSize();
        const std::array<Byte, 4> emptyStored{0, 0, 0xff, 0xff};
        std::memcpy(out + size, emptyStored.data(), emptyStored.size());
        return size + emptyStored.size();
    }
};

std::size_t storedSize(std::size_t bytes)
{
    return bytes + StoredBlockHeader * std::max<std::size_t>(1, (bytes + StoredMax - 1) / StoredMax);
}

void writeStored(std::span<const Byte> data, bool last, std::vector<Byte> &out)
{
    out.resize(storedSize(data.size()));
    Byte *at = out.data();
    std::size_t from = 0;
    do {
        const std::size_t length = std::min(StoredMax, data.size() - from);
        const bool final = last && from + length == data.size();
        const std::array<Byte, StoredBlockHeader> header{Byte(final ? 1 : 0), Byte(length), Byte(length >> 8),
                                                         Byte(~length), Byte(~length >> 8)};
        at = std::copy(header.begin(), header.end(), at);
        at = std::copy_n(data.data() + from, length, at);
        from += length;
    } while (from < data.size());
}

// zlib's run-length matching at its fastest level; a raw stream, flushed to a byte boundary.
bool writeRuns(std::span<const Byte> data, bool last, std::vector<Byte> &out)
{
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_RLE) != Z_OK)
        return false;
    out.resize(deflateBound(&stream, uLong(data.size())) + 16);
    stream.next_in = const_cast<Byte *>(data.data());
    stream.avail_in = uInt(data.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool done = status == (last ? Z_STREAM_END : Z_OK) && stream.avail_in == 0;
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return done;
}

} // namespace

bool deflateBand(std::span<const std::uint8_t> data, bool last, std::vector<std::uint8_t> &out)
{
    // zlib counts in uInt; a band is a bounded number of rows and a row at most 750 MB.
    if (data.size() > std::numeric_limits<uInt>::max() / 2)
        return false;
    const LiteralBlock block(data);
    const std::size_t literalSize = std::size_t(block.bits / 8) + 8;
    if (block.bits < RunBitsPerByte * data.size()) {
        if (!writeRuns(data, last, out))
            return false;
        if (out.size() <= literalSize)
            return true;
    }
    if (storedSize(data.size()) <= literalSize) {
        writeStored(data, last, out);
        return true;
    }
    out.resize(literalSize + 8);
    out.resize(block.write(data, last, out.data()));
    return true;
}
