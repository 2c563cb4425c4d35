#include "platform/image/JpegThumbnail.h"

#include <optional>

namespace JpegThumbnail {
namespace {

constexpr int kStartOfScan = 0xDA;
constexpr int kApp1 = 0xE1;
constexpr quint16 kThumbnailOffset = 0x0201; // JPEGInterchangeFormat
constexpr quint16 kThumbnailLength = 0x0202; // JPEGInterchangeFormatLength
constexpr quint16 kShort = 3;

// The TIFF structure inside the EXIF segment; every read is bounds-checked, since the
// bytes come from any file the user picks.
class Tiff
{
public:
    explicit Tiff(QByteArray bytes) : m_bytes(std::move(bytes)), m_bigEndian(m_bytes.startsWith("MM")) {}

    bool isValid() const { return m_bytes.startsWith("MM\0\x2a") || m_bytes.startsWith("II\x2a\0"); }

    std::optional<quint32> number(qint64 at, int size) const
    {
        if (at < 0 || at + size > m_bytes.size())
            return std::nullopt;
        quint32 value = 0;
        for (int i = 0; i < size; ++i) {
            const auto byte = quint8(m_bytes[qsizetype(at + (m_bigEndian ? i : size - 1 - i))]);
            value = (value << 8) | byte;
        }
        return value;
    }

    // The JPEG that IFD1, the thumbnail's directory, points at.
    QByteArray thumbnail() const
    {
        const auto ifd0 = number(4, 4);
        const auto entries0 = ifd0 ? number(*ifd0, 2) : std::nullopt;
        const auto ifd1 = entries0 ? number(qint64(*ifd0) + 2 + 12 * qint64(*entries0), 4) : std::nullopt;
        const auto entries1 = ifd1 && *ifd1 ? number(*ifd1, 2) : std::nullopt;
        std::optional<quint32> offset, length;
        for (quint32 i = 0; entries1 && i < *entries1; ++i) {
            const qint64 entry = qint64(*ifd1) + 2 + 12 * qint64(i);
            const auto tag = number(entry, 2);
            const auto type = number(entry + 2, 2);
            if (!tag || !type)
                break;
            const auto value = number(entry + 8, *type == kShort ? 2 : 4);
            if (*tag == kThumbnailOffset)
                offset = value;
            else if (*tag == kThumbnailLength)
                length = value;
        }
        if (!offset || !length || qint64(*offset) + qint64(*length) > m_bytes.size())
            return {};
        const QByteArray jpeg = m_bytes.mid(*offset, *length);
        return jpeg.startsWith("\xFF\xD8") ? jpeg : QByteArray();
    }

private:
    QByteArray m_bytes;
    bool m_bigEndian;
};

} // namespace

QByteArray find(const QByteArray& jpeg)
{
    const auto byte = [&jpeg](qsizetype at) { return int(quint8(jpeg[at])); };
    // Walks the segments ahead of the compressed data, where EXIF data lives.
    for (qsizetype at = 2; jpeg.startsWith("\xFF\xD8") && at + 4 <= jpeg.size() && byte(at) == 0xFF;) {
        const int marker = byte(at + 1);
        const qsizetype end = at + 2 + (byte(at + 2) << 8 | byte(at + 3));
        if (marker == kStartOfScan || end < at + 4 || end > jpeg.size())
            return {};
        if (marker == kApp1 && jpeg.mid(at + 4, 6) == QByteArray("Exif\0\0", 6)) {
            const Tiff tiff(jpeg.mid(at + 10, end - at - 10));
            return tiff.isValid() ? tiff.thumbnail() : QByteArray();
        }
        at = end;
    }
    return {};
}

} // namespace JpegThumbnail
