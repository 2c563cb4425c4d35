#include "platform/image/PngEncoder.h"

#include "platform/base/ProcessMemory.h"
#include "platform/image/RowProgress.h"
#include "platform/image/RunLengthDeflater.h"

#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace PngEncoder {
namespace {

// Rows converted and filtered at a time: bounds the working memory of a stripe.
constexpr int kBatchRows = 32;
// Stripes much smaller than this lose compression to their fresh dictionaries.
constexpr int kMinStripeBytes = 1 << 20;
// Stripes a thread takes on average: a few, so that the threads end together. While rows are
// still decoding, many more, so that the encode follows the decoder closely.
constexpr int kStripesPerThread = 2;
constexpr int kStreamedStripesPerThread = 8;

// Room for `size` bytes in `out`, in huge pages where the system has them.
void reserveLarge(QByteArray& out, qsizetype size)
{
    out.reserve(size);
    ProcessMemory::adviseHugePages(out.data(), size_t(out.capacity()));
}

void putBigEndian(QByteArray& out, quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

quint32 chunkCrc(const char type[4], const char* data, qsizetype size)
{
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    // zlib treats a null buffer as a request for the initial value
    return quint32(size > 0 ? crc32_z(crc, reinterpret_cast<const Bytef*>(data), size_t(size)) : crc);
}

void appendChunk(QByteArray& out, const char type[4], const char* data, qsizetype size, quint32 crc)
{
    putBigEndian(out, quint32(size));
    out.append(type, 4);
    out.append(data, size);
    putBigEndian(out, crc);
}

void appendChunk(QByteArray& out, const char type[4], const char* data, qsizetype size)
{
    appendChunk(out, type, data, size, chunkCrc(type, data, size));
}

inline quint8 paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    return quint8(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
}

// Writes the filter type byte and the filtered row; `previous` is null for the first row.
void filterRow(RowFilter filter, const quint8* row, const quint8* previous, int bytes, int bpp, quint8* out)
{
    std::vector<quint8> zeroRow;
    if (!previous) {
        zeroRow.assign(size_t(bytes), 0);
        previous = zeroRow.data();
    }
    *out++ = quint8(filter);
    switch (filter) {
    case RowFilter::None:
        std::memcpy(out, row, size_t(bytes));
        break;
    case RowFilter::Sub:
        for (int i = 0; i < bytes; ++i)
            out[i] = quint8(row[i] - (i >= bpp ? row[i - bpp] : 0));
        break;
    case RowFilter::Up:
        for (int i = 0; i < bytes; ++i)
            out[i] = quint8(row[i] - previous[i]);
        break;
    case RowFilter::Average:
        for (int i = 0; i < bytes; ++i)
            out[i] = quint8(row[i] - (((i >= bpp ? row[i - bpp] : 0) + previous[i]) >> 1));
        break;
    case RowFilter::Paeth:
        for (int i = 0; i < bpp; ++i)
            out[i] = quint8(row[i] - previous[i]);
        for (int i = bpp; i < bytes; ++i)
            out[i] = quint8(row[i] - paeth(row[i - bpp], previous[i], previous[i - bpp]));
        break;
    }
}

struct Stripe
{
    int firstRow = 0;
    int rows = 0;
    bool last = false;
    QByteArray deflated;
    quint32 crc = 0; // of its IDAT chunk
    uLong adler = 1;
    qint64 rawBytes = 0;
    bool ok = false;
};

// zlib's deflate with the run-length strategy, ending as RunLengthDeflater does.
class ZlibDeflater
{
public:
    explicit ZlibDeflater(QByteArray& out) : m_out(out)
    {
        if (deflateInit2(&m_stream, 1, Z_DEFLATED, -15, 8, Z_RLE) != Z_OK)
            throw std::bad_alloc();
    }
    ~ZlibDeflater() { deflateEnd(&m_stream); }
    ZlibDeflater(const ZlibDeflater&) = delete;
    ZlibDeflater& operator=(const ZlibDeflater&) = delete;

    void write(const quint8* data, qsizetype size) { deflateAll(data, size, Z_NO_FLUSH); }
    void finish(bool last) { deflateAll(nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH); }

private:
    void deflateAll(const quint8* data, qsizetype size, int flush)
    {
        m_stream.next_in = const_cast<Bytef*>(data);
        m_stream.avail_in = uInt(size);
        std::vector<Bytef> buffer(1 << 16);
        do {
            m_stream.next_out = buffer.data();
            m_stream.avail_out = uInt(buffer.size());
            deflate(&m_stream, flush);
            m_out.append(reinterpret_cast<const char*>(buffer.data()), qsizetype(buffer.size() - m_stream.avail_out));
        } while (m_stream.avail_out == 0);
    }

    QByteArray& m_out;
    z_stream m_stream{};
};

class StripeEncoder
{
public:
    StripeEncoder(const QImage& image, QImage::Format rawFormat, const Options& options)
        : m_image(image), m_rawFormat(rawFormat), m_options(options),
          m_bpp(rawFormat == QImage::Format_RGBA8888 ? 4 : 3), m_rowBytes(image.width() * m_bpp)
    {
    }

    void operator()(Stripe& stripe) const
    {
        try {
            encode(stripe);
        } catch (const std::bad_alloc&) {
            stripe.ok = false; // the encode as a whole fails
        }
    }

private:
    void encode(Stripe& stripe) const
    {
        if (m_options.zlibReference)
            encodeWith<ZlibDeflater>(stripe);
        else
            encodeWith<RunLengthDeflater>(stripe);
    }

    template <typename Deflater> void encodeWith(Stripe& stripe) const
    {
        // Room for the stripe as it came, which deflate seldom exceeds: it grows past that
        // when it must.
        reserveLarge(stripe.deflated, qsizetype(stripe.rows) * (m_rowBytes + 1));
        Deflater deflater(stripe.deflated);
        if (!written(stripe.firstRow))
            return;
        // The row above the stripe is needed by the Up, Average and Paeth filters.
        QImage previous = stripe.firstRow > 0 ? rawRows(stripe.firstRow - 1, 1) : QImage();
        std::vector<quint8> filtered(size_t(kBatchRows) * size_t(m_rowBytes + 1));
        for (int y = stripe.firstRow; y < stripe.firstRow + stripe.rows; y += kBatchRows) {
            const int count = std::min(kBatchRows, stripe.firstRow + stripe.rows - y);
            if (!written(y + count))
                return;
            const QImage batch = rawRows(y, count);
            if (batch.isNull())
                return;
            for (int r = 0; r < count; ++r) {
                const quint8* above =
                    r > 0 ? batch.constScanLine(r - 1) : (previous.isNull() ? nullptr : previous.constScanLine(0));
                filterRow(m_options.filter, batch.constScanLine(r), above, m_rowBytes, m_bpp,
                          filtered.data() + size_t(r) * size_t(m_rowBytes + 1));
            }
            const auto size = qsizetype(count) * (m_rowBytes + 1);
            stripe.adler = adler32_z(stripe.adler, filtered.data(), size_t(size));
            deflater.write(filtered.data(), size);
            previous = batch.copy(0, count - 1, batch.width(), 1);
        }
        deflater.finish(stripe.last);
        stripe.crc = chunkCrc("IDAT", stripe.deflated.constData(), stripe.deflated.size());
        stripe.rawBytes = qint64(stripe.rows) * (m_rowBytes + 1);
        stripe.ok = true;
    }

    // Whether the image's first `rows` rows are final, waiting for them while they decode.
    bool written(int rows) const { return !m_options.rowsWritten || m_options.rowsWritten->waitFor(rows); }

    // `count` rows from `first` on, as tightly packed RGB or RGBA bytes.
    QImage rawRows(int first, int count) const
    {
        const QImage view(m_image.constScanLine(first), m_image.width(), count, m_image.bytesPerLine(),
                          m_image.format());
        return view.convertToFormat(m_rawFormat);
    }

    const QImage& m_image;
    QImage::Format m_rawFormat;
    Options m_options;
    int m_bpp;
    int m_rowBytes;
};

} // namespace

QByteArray encode(const QImage& source, const Options& options)
{
    if (source.isNull())
        return {};
    // Palette and sub-byte formats cannot be viewed row by row; everything else can.
    QImage image = source;
    if (image.depth() < 8 || image.format() == QImage::Format_Indexed8)
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format rawFormat = alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    const int width = image.width();
    const int height = image.height();
    const qint64 rowBytes = qint64(width) * (alpha ? 4 : 3) + 1;

    const int threads = options.threads > 0 ? options.threads : std::max(1, QThread::idealThreadCount());
    const int byRows = int(std::clamp<qint64>(qint64(height) * rowBytes / kMinStripeBytes, 1, height));
    const int count = std::min(byRows, threads * (options.rowsWritten ? kStreamedStripesPerThread : kStripesPerThread));
    std::vector<Stripe> stripes(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        stripes[size_t(i)].firstRow = int(qint64(height) * i / count);
        stripes[size_t(i)].rows = int(qint64(height) * (i + 1) / count) - stripes[size_t(i)].firstRow;
    }
    stripes.back().last = true;

    const StripeEncoder encoder(image, rawFormat, options);
    if (count == 1 || threads == 1) {
        for (Stripe& stripe : stripes)
            encoder(stripe);
    } else {
        QThreadPool ownPool;
        QThreadPool* pool = options.pool ? options.pool : &ownPool;
        if (!options.pool)
            ownPool.setMaxThreadCount(threads);
        QtConcurrent::blockingMap(pool, stripes, encoder);
    }
    if (!std::all_of(stripes.begin(), stripes.end(), [](const Stripe& s) { return s.ok; }))
        return {};

    uLong adler = 1;
    qsizetype deflatedSize = 0;
    for (const Stripe& stripe : stripes) {
        adler = adler32_combine(adler, stripe.adler, z_off_t(stripe.rawBytes));
        deflatedSize += stripe.deflated.size();
    }

    QByteArray png;
    // All of it, or the last chunks would copy the whole file once more: the signature, IHDR,
    // the IDATs of the zlib header, of each stripe and of the trailer, and IEND.
    constexpr qsizetype kChunk = 12; // length, type and CRC
    reserveLarge(png, 8 + (kChunk + 13) + (kChunk + 2) + deflatedSize + qsizetype(stripes.size()) * kChunk +
                          (kChunk + 4) + kChunk);
    png.append("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    putBigEndian(header, quint32(width));
    putBigEndian(header, quint32(height));
    header.append(char(8));                // bit depth
    header.append(char(alpha ? 6 : 2));    // colour type: RGBA or RGB
    header.append(QByteArray(3, char(0))); // deflate, adaptive filtering, no interlace
    appendChunk(png, "IHDR", header.constData(), header.size());
    // The zlib stream (header, the stripes, the Adler-32 trailer) spans the IDAT chunks.
    const char zlibHeader[2] = {0x78, 0x01};
    appendChunk(png, "IDAT", zlibHeader, 2);
    // Each stripe is let go once copied, so the file and its parts are not all held at once.
    for (Stripe& stripe : stripes) {
        appendChunk(png, "IDAT", stripe.deflated.constData(), stripe.deflated.size(), stripe.crc);
        stripe.deflated = QByteArray();
    }
    QByteArray trailer;
    putBigEndian(trailer, quint32(adler));
    appendChunk(png, "IDAT", trailer.constData(), trailer.size());
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace PngEncoder
