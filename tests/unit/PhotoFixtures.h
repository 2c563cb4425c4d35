#pragma once

// Small photos made at test time: the EXIF orientation that Qt cannot write and the
// HEIF transformations are added here, so no binary fixtures are needed.

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <libheif/heif.h>

namespace PhotoFixtures {

// Left half red, right half blue: which way up a photo is shows at a glance.
inline QImage halves(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, w / 2, h, Qt::red);
    p.fillRect(w / 2, 0, w - w / 2, h, Qt::blue);
    return image;
}

// Every pixel tells where it is, so a crop can be located exactly.
inline QImage coordinates(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x & 255, y & 255, (x >> 8) | ((y >> 8) << 4)));
    return image;
}

inline QPoint whereFrom(QRgb pixel)
{
    return {qRed(pixel) | ((qBlue(pixel) & 15) << 8), qGreen(pixel) | ((qBlue(pixel) >> 4) << 8)};
}

inline QByteArray encoded(const QImage& image, const char* format, int quality = 95)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// A JPEG carrying an EXIF Orientation tag (1 to 8) in an APP1 segment after the SOI marker.
inline QByteArray jpegWithOrientation(const QImage& image, quint16 orientation)
{
    const QByteArray jpeg = encoded(image, "JPEG");
    QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08", 8);   // big-endian TIFF header, IFD at 8
    tiff.append("\x00\x01", 2);                         // one entry
    tiff.append("\x01\x12\x00\x03\x00\x00\x00\x01", 8); // Orientation, SHORT, count 1
    tiff.append(char(orientation >> 8)).append(char(orientation & 255)).append(2, '\0');
    tiff.append(4, '\0'); // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xff\xe1", 2);
    segment.append(char(length >> 8)).append(char(length & 255)).append(payload);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

inline heif_error writeToBuffer(heif_context*, const void* data, size_t size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// A HEIC file of `image`, marked to be shown with `orientation` (EXIF numbering).
inline QByteArray heic(const QImage& source, heif_orientation orientation = heif_orientation_normal)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    QByteArray out;
    if (encoder) {
        heif_encoder_set_lossy_quality(encoder, 95);
        heif_encoder_set_parameter_string(encoder, "chroma", "444");
        heif_image* picture = nullptr;
        heif_image_create(image.width(), image.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture);
        heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        for (int y = 0; y < image.height(); ++y)
            memcpy(plane + y * stride, image.constScanLine(y), size_t(image.width()) * 3);
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = orientation;
        heif_context_encode_image(context, picture, encoder, options, nullptr);
        heif_encoding_options_free(options);
        heif_image_release(picture);
        heif_encoder_release(encoder);
        heif_writer writer{1, &writeToBuffer};
        heif_context_write(context, &writer, &out);
    }
    heif_context_free(context);
    return out;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Colour distance that tolerates lossy codecs.
inline bool near(QRgb a, QColor b, int tolerance = 40)
{
    return qAbs(qRed(a) - b.red()) <= tolerance && qAbs(qGreen(a) - b.green()) <= tolerance &&
           qAbs(qBlue(a) - b.blue()) <= tolerance;
}

} // namespace PhotoFixtures
