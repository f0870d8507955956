#include "engine/decode/heifwork.h"

#include "engine/decode/decodelimits.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// A phone's 'meta' box is a few kilobytes; a grid of 256 x 256 tiles needs about 130 KB.
constexpr qint64 MaxMetaBytes = 16 << 20;
constexpr int MaxTopLevelBoxes = 4096;
// Grids and overlays of derived images: libheif itself goes no deeper than a few levels.
constexpr int MaxDerivationDepth = 8;
constexpr quint64 PixelCap = quint64(1) << 62;

constexpr quint32 fourCc(const char (&code)[5])
{
    return quint32(quint8(code[0])) << 24 | quint32(quint8(code[1])) << 16 | quint32(quint8(code[2])) << 8
           | quint8(code[3]);
}

quint64 cappedSum(quint64 a, quint64 b)
{
    return std::min(PixelCap, a + b); // both below 2^62: no wrap
}

quint64 cappedProduct(quint64 a, quint64 b)
{
    return a != 0 && b > PixelCap / a ? PixelCap : a * b;
}

// Big-endian fields over a run of bytes; a read past the end fails it and every later read.
class Fields {
public:
    explicit Fields(QByteArrayView bytes) : m_bytes(bytes) {}

    quint64 read(int size)
    {
        if (m_failed || size < 0 || size > 8 || size > m_bytes.size() - m_at) {
            m_failed = true;
            return 0;
        }
        quint64 value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | quint8(m_bytes[m_at + i]);
        m_at += size;
        return value;
    }
    quint32 u8() { return quint32(read(1)); }
    quint32 u16() { return quint32(read(2)); }
    quint32 u32() { return quint32(read(4)); }
    // An item ID or a count: 16 bits in version 0 of most boxes, 32 bits after.
    quint32 idOfVersion(quint32 version) { return version == 0 ? u16() : u32(); }
    void skip(qint64 count)
    {
        if (count < 0 || count > left())
            m_failed = true;
        else
            m_at += count;
    }
    qint64 left() const { return m_bytes.size() - m_at; }
    QByteArrayView rest() const { return m_bytes.sliced(m_at); }
    bool failed() const { return m_failed; }

private:
    QByteArrayView m_bytes;
    qint64 m_at = 0;
    bool m_failed = false;
};

struct Box {
    quint32 type;
    QByteArrayView payload;
};

// The boxes laid end to end in `bytes`; nullopt where one's size does not fit.
std::optional<std::vector<Box>> boxesIn(QByteArrayView bytes)
{
    std::vector<Box> boxes;
    Fields in(bytes);
    while (in.left() > 0) {
        const qint64 start = bytes.size() - in.left();
        quint64 size = in.u32();
        const quint32 type = in.u32();
        if (size == 1)
            size = in.read(8);
        else if (size == 0)
            size = quint64(bytes.size() - start);
        const qint64 header = bytes.size() - in.left() - start;
        if (in.failed() || size < quint64(header) || size > quint64(bytes.size() - start))
            return std::nullopt;
        boxes.push_back({type, in.rest().first(qint64(size) - header)});
        in.skip(qint64(size) - header);
    }
    return boxes;
}

// The payload of the top-level 'meta' box, read from the device.
std::optional<QByteArray> metaPayload(QIODevice &device)
{
    const qint64 end = device.size();
    qint64 at = 0;
    for (int i = 0; i < MaxTopLevelBoxes && at + 8 <= end; ++i) {
        if (!device.seek(at))
            return std::nullopt;
        const QByteArray header = device.read(16);
        Fields in(header);
        quint64 size = in.u32();
        const quint32 type = in.u32();
        if (size == 1)
            size = in.read(8);
        else if (size == 0)
            size = quint64(end - at);
        const qint64 headerSize = header.size() - in.left();
        if (in.failed() || size < quint64(headerSize) || size > quint64(end - at))
            return std::nullopt;
        if (type == fourCc("meta")) {
            const qint64 length = qint64(size) - headerSize;
            if (length > MaxMetaBytes || !device.seek(at + headerSize))
                return std::nullopt;
            QByteArray payload = device.read(length);
            return payload.size() == length ? std::optional(payload) : std::nullopt;
        }
        at += qint64(size);
    }
    return std::nullopt;
}

struct Extent {
    quint64 offset;
    quint64 length; // 0: to the end of the file
};

struct Item {
    quint32 type = 0;
    quint32 constructionMethod = 0; // 0: file offsets, 1: inside 'idat'
    std::vector<Extent> extents;
    quint64 width = 0, height = 0; // its 'ispe'
    std::vector<quint32> sources;  // its 'dimg' references: tiles, layers or the one it shows
};

struct Meta {
    quint32 primary = 0;
    std::map<quint32, Item> items;
    QByteArrayView idat;
    // 'auxl' references: an alpha or depth image, and the images it belongs to.
    std::vector<std::pair<quint32, std::vector<quint32>>> auxiliaries;
};

void readItemInfo(Fields in, Meta &meta)
{
    const quint32 version = in.u8();
    in.skip(3);
    in.skip(version == 0 ? 2 : 4); // the count: the boxes themselves say
    const std::optional<std::vector<Box>> entries = boxesIn(in.rest());
    for (const Box &entry : entries.value_or(std::vector<Box>())) {
        Fields infe(entry.payload);
        const quint32 infeVersion = infe.u8();
        infe.skip(3);
        if (entry.type != fourCc("infe") || infeVersion < 2)
            continue;
        const quint32 id = infeVersion == 2 ? infe.u16() : infe.u32();
        infe.skip(2); // protection index
        const quint32 type = infe.u32();
        if (!infe.failed())
            meta.items[id].type = type;
    }
}

void readLocations(Fields in, Meta &meta)
{
    const quint32 version = in.u8();
    in.skip(3);
    const quint32 sizes = in.u8(), moreSizes = in.u8();
    const int offsetSize = int(sizes >> 4), lengthSize = int(sizes & 15), baseSize = int(moreSizes >> 4);
    const int indexSize = version == 1 || version == 2 ? int(moreSizes & 15) : 0;
    const quint32 count = version < 2 ? in.u16() : in.u32();
    for (quint32 i = 0; i < count && !in.failed(); ++i) {
        Item &item = meta.items[version < 2 ? in.u16() : in.u32()];
        if (version == 1 || version == 2)
            item.constructionMethod = in.u16() & 15;
        in.skip(2); // data reference index
        const quint64 base = in.read(baseSize);
        const quint32 extents = in.u16();
        item.extents.clear();
        for (quint32 e = 0; e < extents && !in.failed(); ++e) {
            in.read(indexSize);
            const quint64 offset = in.read(offsetSize);
            item.extents.push_back({base + offset, in.read(lengthSize)});
        }
    }
}

void readReferences(Fields in, Meta &meta)
{
    const quint32 version = in.u8();
    in.skip(3);
    const std::optional<std::vector<Box>> references = boxesIn(in.rest());
    for (const Box &reference : references.value_or(std::vector<Box>())) {
        Fields ids(reference.payload);
        const quint32 from = ids.idOfVersion(version);
        const quint32 count = ids.u16();
        std::vector<quint32> to;
        for (quint32 i = 0; i < count && !ids.failed(); ++i)
            to.push_back(ids.idOfVersion(version));
        if (ids.failed())
            continue;
        if (reference.type == fourCc("dimg"))
            meta.items[from].sources = std::move(to);
        else if (reference.type == fourCc("auxl"))
            meta.auxiliaries.emplace_back(from, std::move(to));
    }
}

void readProperties(QByteArrayView payload, Meta &meta)
{
    const std::optional<std::vector<Box>> boxes = boxesIn(payload);
    std::vector<Box> properties;
    for (const Box &box : boxes.value_or(std::vector<Box>()))
        if (box.type == fourCc("ipco"))
            properties = boxesIn(box.payload).value_or(std::vector<Box>());
    for (const Box &box : boxes.value_or(std::vector<Box>())) {
        if (box.type != fourCc("ipma"))
            continue;
        Fields in(box.payload);
        const quint32 version = in.u8();
        const auto flags = quint32(in.read(3));
        const quint32 count = in.u32();
        for (quint32 i = 0; i < count && !in.failed(); ++i) {
            const quint32 id = version < 1 ? in.u16() : in.u32();
            const quint32 associations = in.u8();
            for (quint32 a = 0; a < associations && !in.failed(); ++a) {
                const quint32 index = flags & 1 ? in.u16() & 0x7fff : in.u8() & 0x7f; // 1-based
                if (index == 0 || index > properties.size() || properties[index - 1].type != fourCc("ispe"))
                    continue;
                Fields ispe(properties[index - 1].payload);
                ispe.skip(4);
                const quint64 width = ispe.u32(), height = ispe.u32();
                if (!ispe.failed())
                    std::tie(meta.items[id].width, meta.items[id].height) = std::pair(width, height);
            }
        }
    }
}

std::optional<Meta> readMeta(const QByteArray &payload)
{
    Fields full(payload);
    full.skip(4); // version and flags
    const std::optional<std::vector<Box>> boxes = boxesIn(full.rest());
    if (!boxes)
        return std::nullopt;
    Meta meta;
    for (const Box &box : *boxes) {
        if (box.type == fourCc("pitm")) {
            Fields in(box.payload);
            const quint32 version = in.u8();
            in.skip(3);
            meta.primary = in.idOfVersion(version);
        } else if (box.type == fourCc("iinf")) {
            readItemInfo(Fields(box.payload), meta);
        } else if (box.type == fourCc("iloc")) {
            readLocations(Fields(box.payload), meta);
        } else if (box.type == fourCc("iref")) {
            readReferences(Fields(box.payload), meta);
        } else if (box.type == fourCc("iprp")) {
            readProperties(box.payload, meta);
        } else if (box.type == fourCc("idat")) {
            meta.idat = box.payload;
        }
    }
    return meta;
}

// The first bytes of an item's data: enough for a grid's or an overlay's descriptor.
std::optional<QByteArray> itemHead(const Item &item, const Meta &meta, QIODevice &device)
{
    constexpr qint64 HeadBytes = 32;
    QByteArray head;
    for (const Extent &extent : item.extents) {
        const qint64 wanted = HeadBytes - head.size();
        if (wanted <= 0)
            break;
        const quint64 length = extent.length == 0 ? quint64(wanted) : std::min(extent.length, quint64(wanted));
        if (item.constructionMethod == 1) {
            if (extent.offset > quint64(meta.idat.size()))
                return std::nullopt;
            head += meta.idat.sliced(qint64(extent.offset)).first(std::min(qint64(length), meta.idat.size() - qint64(extent.offset)));
        } else if (item.constructionMethod == 0) {
            if (extent.offset > quint64(device.size()) || !device.seek(qint64(extent.offset)))
                return std::nullopt;
            head += device.read(qint64(length));
        } else {
            return std::nullopt;
        }
    }
    return head;
}

// The canvas a grid ('grid') or an overlay ('iovl') says it fills, and a grid's rows and columns.
struct Canvas {
    quint64 width = 0, height = 0;
    quint64 rows = 1, columns = 1;
};

std::optional<Canvas> canvasOf(const Item &item, const Meta &meta, QIODevice &device)
{
    const std::optional<QByteArray> head = itemHead(item, meta, device);
    if (!head)
        return std::nullopt;
    Fields in(*head);
    in.skip(1); // version
    const quint32 flags = in.u8();
    Canvas canvas;
    if (item.type == fourCc("grid")) {
        canvas.rows = in.u8() + 1ull;
        canvas.columns = in.u8() + 1ull;
    } else {
        in.skip(8); // an overlay's fill colour
    }
    const int field = flags & 1 ? 4 : 2;
    canvas.width = in.read(field);
    canvas.height = in.read(field);
    if (in.failed())
        return std::nullopt;
    return canvas;
}

struct Work {
    quint64 width = 0, height = 0;
    quint64 coded = 0;
};

std::optional<Work> workOf(quint32 id, const Meta &meta, QIODevice &device, int depth)
{
    const auto found = meta.items.find(id);
    if (depth > MaxDerivationDepth || found == meta.items.end())
        return std::nullopt;
    const Item &item = found->second;
    const bool composed = item.type == fourCc("grid") || item.type == fourCc("iovl");
    if (!composed && item.type != fourCc("iden"))
        return Work{item.width, item.height, cappedProduct(item.width, item.height)};
    if (item.sources.empty() || (item.type == fourCc("iden") && item.sources.size() != 1))
        return std::nullopt;
    Work work;
    for (const quint32 source : item.sources) {
        const std::optional<Work> part = workOf(source, meta, device, depth + 1);
        if (!part)
            return std::nullopt;
        work.coded = cappedSum(work.coded, part->coded);
        std::tie(work.width, work.height) = std::pair(part->width, part->height);
    }
    if (composed) {
        const std::optional<Canvas> canvas = canvasOf(item, meta, device);
        if (!canvas)
            return std::nullopt;
        // A grid's tiles, all of the last one's size, must cover its canvas: libheif would build
        // a canvas of any size within the budget from one small tile, 2.6 GB from 600 bytes.
        // One beyond the budget is left to its check, for its reason.
        const bool grid = item.type == fourCc("grid")
                          && cappedProduct(canvas->width, canvas->height) <= quint64(MaxPicturePixels);
        if (grid && (canvas->rows * canvas->columns != item.sources.size() || canvas->columns * work.width < canvas->width
                     || canvas->rows * work.height < canvas->height))
            return std::nullopt;
        std::tie(work.width, work.height) = std::pair(canvas->width, canvas->height);
    }
    return work;
}

int heldSide(quint64 side)
{
    return int(std::min<quint64>(side, INT_MAX));
}

} // namespace

std::optional<HeifWork> heifWork(QIODevice &device)
{
    const std::optional<QByteArray> payload = metaPayload(device);
    if (!payload)
        return std::nullopt;
    const std::optional<Meta> meta = readMeta(*payload);
    if (!meta)
        return std::nullopt;
    std::optional<Work> work = workOf(meta->primary, *meta, device, 0);
    if (!work)
        return std::nullopt;
    // libheif decodes the primary's alpha with it.
    for (const auto &[auxiliary, masters] : meta->auxiliaries) {
        if (std::find(masters.begin(), masters.end(), meta->primary) == masters.end())
            continue;
        if (const std::optional<Work> part = workOf(auxiliary, *meta, device, 0))
            work->coded = cappedSum(work->coded, part->coded);
    }
    return HeifWork{QSize(heldSide(work->width), heldSide(work->height)), qint64(work->coded)};
}
