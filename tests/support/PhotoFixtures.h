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

// A JPEG as cameras write it: EXIF data with the Orientation, 1 to 8, and, unless `thumbnail`
// is null, a small JPEG copy of the photo in IFD1; in big-endian or (`intel`) little-endian.
inline QByteArray jpegWithOrientation(const QImage& image, quint16 orientation, const QImage& thumbnail = {},
                                      bool intel = false)
{
    const auto number = [](quint32 value, int bytes, bool little) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out.append(char(value >> (8 * (little ? i : bytes - 1 - i))));
        return out;
    };
    const auto put = [&](quint32 value, int bytes) { return number(value, bytes, intel); };
    const QByteArray small = thumbnail.isNull() ? QByteArray() : encoded(thumbnail, "JPEG");
    QByteArray exif = QByteArray("Exif\0\0", 6) + (intel ? QByteArray("II\x2a\0", 4) : QByteArray("MM\0\x2a", 4)) +
                      put(8, 4) + put(1, 2) + put(0x0112, 2) + put(3, 2) + put(1, 4) +
                      put(intel ? orientation : quint32(orientation) << 16, 4) + put(small.isEmpty() ? 0 : 26, 4);
    if (!small.isEmpty()) // IFD1 at 26: the thumbnail's offset and length, then the thumbnail at 56
        exif += put(2, 2) + put(0x0201, 2) + put(4, 2) + put(1, 4) + put(56, 4) + put(0x0202, 2) + put(4, 2) +
                put(1, 4) + put(quint32(small.size()), 4) + put(0, 4) + small;
    const QByteArray jpeg = encoded(image, "JPEG");
    return jpeg.left(2) + "\xff\xe1" + number(quint32(exif.size()) + 2, 2, false) + exif + jpeg.mid(2);
}

// A HEIC file shown with `orientation` (EXIF numbering), with a thumbnail of at most
// `thumbnail` pixels a side as cameras add one, or none, with alpha if the source has it;
// with `streamColours`, no colour box: BT.709 in limited range only in the HEVC stream.
// Empty without an HEVC encoder.
inline QByteArray heic(const QImage& source, int orientation = 1, int thumbnail = 0, const char* chroma = "444",
                       bool streamColours = false)
{
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    QByteArray out;
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* picture = nullptr;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok &&
        heif_image_create(image.width(), image.height(), heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &picture)
                .code == heif_error_Ok) {
        heif_encoder_set_lossy_quality(encoder, 95);
        heif_encoder_set_parameter_string(encoder, "chroma", chroma);
        heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        for (int y = 0; y < image.height(); ++y)
            memcpy(plane + y * stride, image.constScanLine(y), size_t(image.width()) * (alpha ? 4 : 3));
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = heif_orientation(orientation);
        heif_color_profile_nclx* colours = heif_nclx_color_profile_alloc();
        colours->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_709_5;
        colours->full_range_flag = 0;
        if (streamColours)
            heif_image_set_nclx_color_profile(picture, colours);
        options->macOS_compatibility_workaround_no_nclx_profile = streamColours;
        heif_image_handle* handle = nullptr;
        heif_context_encode_image(context, picture, encoder, options, &handle);
        if (thumbnail > 0)
            heif_context_encode_thumbnail(context, picture, handle, encoder, options, thumbnail, nullptr);
        heif_image_handle_release(handle);
        heif_encoding_options_free(options);
        heif_nclx_color_profile_free(colours);
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

// The primary image as libheif decodes it with its own HEVC decoder, interleaved.
inline QImage libheifsOwnDecode(const QByteArray& data)
{
    QImage out;
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    if (heif_context_read_from_memory_without_copy(context, data.constData(), size_t(data.size()), nullptr).code ==
            heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok) {
        const bool alpha = heif_image_handle_has_alpha_channel(handle);
        const auto chroma = alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
        if (heif_decode_image(handle, &image, heif_colorspace_RGB, chroma, nullptr).code == heif_error_Ok) {
            int stride = 0;
            const uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
            const QImage view(plane, heif_image_get_primary_width(image), heif_image_get_primary_height(image), stride,
                              alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
            out = view.copy().convertToFormat(QImage::Format_RGBA8888); // a copy: libheif's buffer goes
        }
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
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
