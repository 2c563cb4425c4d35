#include "platform/image/JpegSquareStream.h"

#include "platform/base/ProcessMemory.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE declared
#include <cstdlib>

#include <jpeglib.h>

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back
// to the call that set `jump`. Only plain data lives between those calls and the jumps.
struct JpegSquareStream::Decompressor
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};
    bool created = false;

    ~Decompressor()
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

namespace {

[[noreturn]] void jumpBack(j_common_ptr info)
{
    std::longjmp(static_cast<std::jmp_buf*>(info->client_data)[0], 1);
}

// Warnings about damaged data are Qt's reader's to ignore too: it decodes what it can.
void ignoreMessage(j_common_ptr) {}

// Rows decoded between two reports of progress: an encoder's stripe is hundreds of rows.
constexpr int kRowsPerReport = 16;

} // namespace

JpegSquareStream::JpegSquareStream() : m_decompressor(std::make_unique<Decompressor>()) {}

JpegSquareStream::~JpegSquareStream() = default;

std::unique_ptr<JpegSquareStream> JpegSquareStream::open(const QByteArray& jpeg, QRect square)
{
    if (jpeg.isEmpty() || square.isEmpty() || square.width() != square.height())
        return nullptr;
    std::unique_ptr<JpegSquareStream> stream(new JpegSquareStream);
    stream->m_jpeg = jpeg;
    if (!stream->start(square))
        return nullptr;
    return stream;
}

bool JpegSquareStream::start(QRect square)
{
    Decompressor& d = *m_decompressor;
    d.info.err = jpeg_std_error(&d.errors);
    d.errors.error_exit = jumpBack;
    d.errors.output_message = ignoreMessage;
    d.info.client_data = &d.jump;
    if (setjmp(d.jump))
        return false;
    jpeg_create_decompress(&d.info);
    d.created = true;
    jpeg_mem_src(&d.info, reinterpret_cast<const unsigned char*>(m_jpeg.constData()),
                 static_cast<unsigned long>(m_jpeg.size()));
    if (jpeg_read_header(&d.info, TRUE) != JPEG_HEADER_OK)
        return false;
    if (d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK)
        return false;
    if (square.right() >= int(d.info.image_width) || square.bottom() >= int(d.info.image_height))
        return false;
    // Format_RGB32's byte order. The DCT and upsampling stay libjpeg's defaults, as in Qt's
    // reader at its default quality.
    d.info.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    if (!jpeg_start_decompress(&d.info))
        return false;
    // libjpeg widens the columns to whole blocks, and upsamples the chroma of the outermost
    // ones from their own edge, not from their neighbours: a block more on either side keeps
    // the square's edges as a full decode has them. The image keeps the square's columns
    // alone, in rows as wide as libjpeg writes them.
    const int margin = d.info.max_h_samp_factor * DCTSIZE;
    const int first = std::max(0, square.x() - margin);
    JDIMENSION left = JDIMENSION(first);
    JDIMENSION width = JDIMENSION(std::min(square.right() + 1 + margin, int(d.info.image_width)) - first);
    jpeg_crop_scanline(&d.info, &left, &width);
    m_rowBytes = qsizetype(width) * 4;
    const size_t bytes = size_t(m_rowBytes) * size_t(square.height());
    m_rows = static_cast<uchar*>(std::malloc(bytes));
    if (!m_rows)
        return false;
    ProcessMemory::adviseHugePages(m_rows, bytes);
    m_image = QImage(m_rows + (square.x() - int(left)) * 4, square.width(), square.height(), m_rowBytes,
                     QImage::Format_RGB32, std::free, m_rows);
    if (m_image.isNull()) {
        std::free(m_rows);
        return false;
    }
    m_skipRows = square.y();
    return true;
}

bool JpegSquareStream::decode()
{
    Decompressor& d = *m_decompressor;
    const int rows = m_image.height();
    int done = 0;
    if (setjmp(d.jump)) {
        m_progress->fail();
        return false;
    }
    if (m_skipRows > 0 && jpeg_skip_scanlines(&d.info, JDIMENSION(m_skipRows)) != JDIMENSION(m_skipRows)) {
        m_progress->fail();
        return false;
    }
    while (done < rows) {
        JSAMPROW batch[kRowsPerReport];
        const int wanted = std::min(kRowsPerReport, rows - done);
        for (int i = 0; i < wanted; ++i)
            batch[i] = m_rows + qsizetype(done + i) * m_rowBytes;
        int read = 0;
        while (read < wanted) {
            const JDIMENSION got = jpeg_read_scanlines(&d.info, batch + read, JDIMENSION(wanted - read));
            if (got == 0) {
                m_progress->fail();
                return false;
            }
            read += int(got);
        }
        done += read;
        m_progress->publish(done);
    }
    jpeg_abort_decompress(&d.info);
    return true;
}
