#pragma once

// Photos made at test time, so that no binary fixtures are needed: the EXIF orientation that
// Qt cannot write and the HEIF transformations are added here.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <libheif/heif.h>

#include <cstdlib>

namespace PhotoFixtures {

inline QImage solid(const QColor& colour, int width = 60, int height = 40)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Left half red, right half blue: which way up a photo is shows at a glance.
inline QImage halves(int width, int height)
{
    QImage image = solid(Qt::blue, width, height);
    QPainter(&image).fillRect(0, 0, width / 2, height, Qt::red);
    return image;
}

// No two pixels alike, so that a crop or an encoding can be compared exactly.
inline QImage coordinates(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x & 255, y & 255, (x >> 8) | ((y >> 8) << 4)));
    return image;
}

// Red grows to the right, green downwards, blue marks the top-left quarter: smooth enough to
// survive scaling, yet a square cut in the wrong place or turned the wrong way differs in
// most of its pixels.
inline QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(255 * x / width, 255 * y / height, x < width / 2 && y < height / 2 ? 255 : 0));
    return image;
}

// Mean difference per channel of two pictures brought to the same 48-pixel square.
inline double difference(const QImage& a, const QImage& b)
{
    const auto small = [](const QImage& image) {
        return image.scaled(48, 48, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB888);
    };
    const QImage x = small(a), y = small(b);
    double sum = 0;
    for (int row = 0; row < 48; ++row)
        for (int i = 0; i < 48 * 3; ++i)
            sum += std::abs(x.constScanLine(row)[i] - y.constScanLine(row)[i]);
    return sum / (48 * 48 * 3);
}

inline QByteArray encoded(const QImage& image, const char* format, int quality = 95)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// A JPEG with an APP1 segment after its SOI marker: "Exif", a big-endian TIFF header and one
// IFD whose single entry is the Orientation (SHORT, count 1), 1 to 8.
inline QByteArray jpegWithOrientation(const QImage& image, quint16 orientation)
{
    QByteArray exif("\xff\xe1\0\x22"
                    "Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01",
                    28);
    exif.append(char(orientation >> 8)).append(char(orientation & 255)).append(6, '\0');
    const QByteArray jpeg = encoded(image, "JPEG");
    return jpeg.left(2) + exif + jpeg.mid(2);
}

// A HEIC file shown with `orientation` (EXIF numbering), with a thumbnail of at most
// `thumbnail` pixels a side as cameras add one, or none; empty without an HEVC encoder.
inline QByteArray heic(const QImage& source, int orientation = 1, int thumbnail = 0)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    QByteArray out;
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* picture = nullptr;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok &&
        heif_image_create(image.width(), image.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture)
                .code == heif_error_Ok) {
        heif_encoder_set_lossy_quality(encoder, 95);
        heif_encoder_set_parameter_string(encoder, "chroma", "444");
        heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        for (int y = 0; y < image.height(); ++y)
            memcpy(plane + y * stride, image.constScanLine(y), size_t(image.width()) * 3);
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = heif_orientation(orientation);
        heif_image_handle* handle = nullptr;
        heif_context_encode_image(context, picture, encoder, options, &handle);
        if (thumbnail > 0)
            heif_context_encode_thumbnail(context, picture, handle, encoder, options, thumbnail, nullptr);
        heif_image_handle_release(handle);
        heif_encoding_options_free(options);
        heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* bytes) {
                               static_cast<QByteArray*>(bytes)->append(static_cast<const char*>(data), qsizetype(size));
                               return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                           }};
        heif_context_write(context, &writer, &out);
    }
    heif_image_release(picture);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Colour distance that tolerates lossy codecs.
inline bool near(QRgb pixel, const QColor& colour, int tolerance = 40)
{
    return qAbs(qRed(pixel) - colour.red()) <= tolerance && qAbs(qGreen(pixel) - colour.green()) <= tolerance &&
           qAbs(qBlue(pixel) - colour.blue()) <= tolerance;
}

} // namespace PhotoFixtures
