#include "platform/image/TruncatedImage.h"

#include <cstdlib>
#include <cstring>

namespace TruncatedImage {
namespace {

using Bytes = const unsigned char*;

quint32 le16(Bytes p)
{
    return quint32(p[0]) | quint32(p[1]) << 8;
}

quint32 le32(Bytes p)
{
    return le16(p) | le16(p + 2) << 16;
}

// A JPEG ends with its end-of-image marker after the last scan. The marker segments
// before a scan are skipped by their length, so a thumbnail inside the metadata does not
// count; in the coded data a 0xFF byte is followed by a zero byte or a restart marker, so
// any other marker there is real.
bool jpegIsTruncated(Bytes p, qsizetype size)
{
    qsizetype i = 2; // after the start-of-image marker
    for (;;) {
        const void* next = i < size ? std::memchr(p + i, 0xFF, size_t(size - i)) : nullptr;
        if (!next)
            return true;
        i = static_cast<Bytes>(next) - p;
        while (i < size && p[i] == 0xFF)
            ++i;
        if (i >= size)
            return true;
        const unsigned char marker = p[i++];
        if (marker == 0xD9)
            return false;
        const bool standalone = marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);
        if (standalone)
            continue;
        if (i + 2 > size)
            return true;
        const qsizetype length = qsizetype(p[i]) << 8 | p[i + 1];
        if (length < 2)
            return false; // damaged rather than cut: the decoder decides
        i += length;
        if (i > size)
            return true;
    }
}

// A GIF is a chain of blocks, each either of fixed size or a run of length-prefixed
// sub-blocks. It is cut when the chain ends inside a block, or before its first image;
// a trailer missing after a whole image is tolerated, as decoders do.
bool gifIsTruncated(Bytes p, qsizetype size)
{
    if (size < 13)
        return true;
    const auto colorTable = [](unsigned char flags) { return (flags & 0x80) ? 3 * (2 << (flags & 7)) : 0; };
    qsizetype i = 13 + colorTable(p[10]);
    const auto skipSubBlocks = [&] {
        for (;;) {
            if (i >= size)
                return false;
            const qsizetype length = p[i++];
            if (length == 0)
                return true;
            i += length;
        }
    };
    bool imageSeen = false;
    for (;;) {
        if (i >= size)
            return !imageSeen;
        switch (p[i++]) {
        case 0x3B: // trailer
            return false;
        case 0x21: // extension: a label, then sub-blocks
            ++i;
            if (!skipSubBlocks())
                return true;
            break;
        case 0x2C: // image: a descriptor, a colour table, the code size, then sub-blocks
            if (i + 9 > size)
                return true;
            i += 9 + colorTable(p[i + 8]) + 1;
            if (!skipSubBlocks())
                return true;
            imageSeen = true;
            break;
        default:
            return false; // damaged rather than cut: the decoder decides
        }
    }
}

// A BMP says where its pixels start and, from its size and depth, how many bytes they
// take; compressed ones give that count in their header.
bool bmpIsTruncated(Bytes p, qsizetype size)
{
    if (size < 18)
        return true;
    const qint64 pixelsAt = le32(p + 10);
    const quint32 headerSize = le32(p + 14);
    if (size < 14 + qint64(headerSize))
        return true;
    qint64 width = 0, height = 0, depth = 0, compression = 0, imageSize = 0;
    if (headerSize == 12) {
        width = le16(p + 18);
        height = le16(p + 20);
        depth = le16(p + 24);
    } else if (headerSize >= 40) {
        width = qint32(le32(p + 18));
        height = std::abs(qint64(qint32(le32(p + 22))));
        depth = le16(p + 28);
        compression = le32(p + 30);
        imageSize = le32(p + 34);
    } else {
        return false;
    }
    if (width <= 0)
        return false; // no image at all, which the decoder refuses
    if (size < pixelsAt)
        return true;
    // Rows counted by division: a hostile height times the row's bytes (under 2^47) would overflow.
    const qint64 rowBytes = (width * depth + 31) / 32 * 4;
    if ((compression == 0 || compression == 3 || compression == 6) && rowBytes > 0) // plain rows, or with bit masks
        return height > (size - pixelsAt) / rowBytes;
    if (compression == 1 || compression == 2) // run-length coded
        return size < pixelsAt + imageSize;
    return false;
}

} // namespace

bool isTruncated(const QByteArray& data)
{
    const auto p = reinterpret_cast<Bytes>(data.constData());
    if (data.startsWith("\xFF\xD8\xFF"))
        return jpegIsTruncated(p, data.size());
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a"))
        return gifIsTruncated(p, data.size());
    if (data.startsWith("BM"))
        return bmpIsTruncated(p, data.size());
    return false;
}

} // namespace TruncatedImage
