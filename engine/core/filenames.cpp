#include "engine/core/filenames.h"

namespace {

constexpr char32_t EscapeBase = 0xdc00;

// Lead bytes 0xc0, 0xc1 and 0xf5 up could only start overlong or out-of-range forms: 0.
qsizetype lengthFromLead(uchar lead)
{
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    if (lead >= 0xf0 && lead <= 0xf4)
        return 4;
    return 0;
}

// The length of the valid UTF-8 sequence at `at`, or 0: overlong forms, surrogates and code
// points past U+10FFFF are invalid, like a sequence cut short.
qsizetype validSequenceAt(QByteArrayView bytes, qsizetype at, char32_t *decoded)
{
    const auto lead = uchar(bytes[at]);
    const qsizetype length = lengthFromLead(lead);
    if (length == 0)
        return 0;
    constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    char32_t point = lead & (0x7fu >> length);
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        const auto next = uchar(bytes[at + i]);
        if ((next & 0xc0u) != 0x80u)
            return 0;
        point = (point << 6) | (next & 0x3fu);
    }
    if (point < least[length] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
        return 0;
    *decoded = point;
    return length;
}

void appendUtf8(QByteArray &out, char32_t point)
{
    if (point < 0x80) {
        out += char(point);
    } else if (point < 0x800) {
        out += char(0xc0 | (point >> 6));
        out += char(0x80 | (point & 0x3f));
    } else if (point < 0x10000) {
        out += char(0xe0 | (point >> 12));
        out += char(0x80 | ((point >> 6) & 0x3f));
        out += char(0x80 | (point & 0x3f));
    } else {
        out += char(0xf0 | (point >> 18));
        out += char(0x80 | ((point >> 12) & 0x3f));
        out += char(0x80 | ((point >> 6) & 0x3f));
        out += char(0x80 | (point & 0x3f));
    }
}

} // namespace

QString nameFromBytes(QByteArrayView bytes)
{
    QString name;
    name.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t point = 0;
        if (const qsizetype length = validSequenceAt(bytes, at, &point)) {
            name += QChar::fromUcs4(point);
            at += length;
        } else if (const auto byte = uchar(bytes[at++]); byte < 0x80) {
            name += QChar(byte);
        } else {
            name += QChar(char16_t(EscapeBase + byte));
        }
    }
    return name;
}

QByteArray bytesOfName(QStringView name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t unit = name[at].unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < name.size() && name[at + 1].isLowSurrogate()) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, name[++at].unicode()));
        } else if (unit >= EscapeBase + 0x80 && unit <= EscapeBase + 0xff) {
            bytes += char(unit - EscapeBase);
        } else {
            // Other lone surrogates name nothing on disk; Qt writes them as U+FFFD too.
            appendUtf8(bytes, QChar::isSurrogate(unit) ? char32_t(QChar::ReplacementCharacter) : unit);
        }
    }
    return bytes;
}
