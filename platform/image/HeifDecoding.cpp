#include "platform/image/HeifDecoding.h"

#include "platform/image/HevcDecoderPlugin.h"

#include <QThread>

#include <libheif/heif.h>

#include <cstdlib>
#include <memory>

namespace HeifDecoding {
namespace {

template <typename T, void (*Release)(T*)> struct HeifDeleter
{
    void operator()(T* p) const { Release(p); }
};
void releaseHandle(heif_image_handle* handle)
{
    heif_image_handle_release(handle);
}
void releaseImage(heif_image* image)
{
    heif_image_release(image);
}
using HeifContext = std::unique_ptr<heif_context, HeifDeleter<heif_context, heif_context_free>>;
using HeifHandle = std::unique_ptr<heif_image_handle, HeifDeleter<heif_image_handle, releaseHandle>>;
using HeifImage = std::unique_ptr<heif_image, HeifDeleter<heif_image, releaseImage>>;
using HeifOptions =
    std::unique_ptr<heif_decoding_options, HeifDeleter<heif_decoding_options, heif_decoding_options_free>>;

bool acceptableSize(qint64 width, qint64 height, const ImageDecoder::Limits& limits)
{
    return width > 0 && height > 0 && width * height <= limits.maxPixels;
}

// The file's context; `data` must outlive it, since libheif reads it in place.
HeifContext readContext(const QByteArray& data, const ImageDecoder::Limits& limits)
{
    HeifContext context(heif_context_alloc());
    if (!context)
        return {};
    // A grid image declares its output size apart from the size its handle reports, and
    // libheif allocates that output whole; a mutated grid once asked for 750 megapixels.
    // The per-side limit must be set before the file is read to cover grids too.
    heif_context_set_maximum_image_size_limit(context.get(), limits.maxHeifSide);
    if (heif_context_read_from_memory_without_copy(context.get(), data.constData(), size_t(data.size()), nullptr)
            .code != heif_error_Ok)
        return {};
    heif_context_set_max_decoding_threads(context.get(), QThread::idealThreadCount());
    HevcDecoderPlugin::registerWith(context.get()); // without it, libheif's own decoder still decodes
    return context;
}

HeifHandle primaryHandle(heif_context* context, const ImageDecoder::Limits& limits)
{
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context, &raw).code != heif_error_Ok)
        return {};
    HeifHandle handle(raw);
    // The handle's size already has the container's rotation applied.
    if (!acceptableSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()),
                        limits) ||
        !acceptableSize(heif_image_handle_get_ispe_width(handle.get()), heif_image_handle_get_ispe_height(handle.get()),
                        limits))
        return {};
    return handle;
}

// The image in 8-bit RGB of the given layout; null when libheif cannot decode it.
heif_image* decodeTo(heif_image_handle* handle, heif_chroma chroma)
{
    HeifOptions options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1; // version 2 field; Debian's libheif is newer
    heif_image* image = nullptr;
    if (heif_decode_image(handle, &image, heif_colorspace_RGB, chroma, options.get()).code != heif_error_Ok)
        return nullptr;
    return image;
}

// `cut` of 8-bit R, G, B (and alpha) planes, interleaved four bytes a pixel: RGBX is what
// Qt scales for the well without first converting the whole photo.
QImage interleaved(const heif_image* image, const QRect& cut, bool alpha)
{
    const heif_channel channels[] = {heif_channel_R, heif_channel_G, heif_channel_B, heif_channel_Alpha};
    const uint8_t* planes[4] = {};
    int strides[4] = {};
    for (int c = 0; c < (alpha ? 4 : 3); ++c) {
        if (heif_image_get_bits_per_pixel_range(image, channels[c]) != 8 ||
            heif_image_get_width(image, channels[c]) < cut.right() + 1 ||
            heif_image_get_height(image, channels[c]) < cut.bottom() + 1)
            return {};
        planes[c] = heif_image_get_plane_readonly(image, channels[c], &strides[c]);
        if (!planes[c] || strides[c] <= 0)
            return {};
        planes[c] += qsizetype(cut.y()) * strides[c] + cut.x();
    }
    QImage out(cut.size(), alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    if (out.isNull())
        return {};
    for (int y = 0; y < cut.height(); ++y) {
        uchar* pixel = out.scanLine(y);
        const uint8_t* r = planes[0] + qsizetype(y) * strides[0];
        const uint8_t* g = planes[1] + qsizetype(y) * strides[1];
        const uint8_t* b = planes[2] + qsizetype(y) * strides[2];
        const uint8_t* a = alpha ? planes[3] + qsizetype(y) * strides[3] : nullptr;
        for (int x = 0; x < cut.width(); ++x, pixel += 4) {
            pixel[0] = r[x];
            pixel[1] = g[x];
            pixel[2] = b[x];
            pixel[3] = a ? a[x] : 255;
        }
    }
    return out;
}

// The decoded image as 8-bit RGB, or RGBA when it has alpha, or its centred square.
QImage decodeHandle(heif_image_handle* handle, const ImageDecoder::Limits& limits, bool centredSquareOnly)
{
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    const auto cutOf = [&](int width, int height) {
        return centredSquareOnly ? ImageDecoder::centredSquare(QSize(width, height)) : QRect(0, 0, width, height);
    };

    // libheif decodes to planar RGB and then interleaves the whole image into a copy; from
    // the planes only the part kept is interleaved, so the whole photo is not held twice.
    if (heif_image_handle_get_luma_bits_per_pixel(handle) == 8 &&
        heif_image_handle_get_chroma_bits_per_pixel(handle) == 8) {
        const HeifImage image(decodeTo(handle, heif_chroma_444));
        if (!image)
            return {};
        const int width = heif_image_get_primary_width(image.get());
        const int height = heif_image_get_primary_height(image.get());
        if (!acceptableSize(width, height, limits))
            return {};
        if (heif_image_get_colorspace(image.get()) == heif_colorspace_RGB &&
            heif_image_get_chroma_format(image.get()) == heif_chroma_444)
            return interleaved(image.get(), cutOf(width, height), alpha);
    }

    // Deeper samples, or planes libheif did not give: its own 8-bit interleaved conversion,
    // shared instead of copied.
    HeifImage image(decodeTo(handle, alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB));
    if (!image)
        return {};
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || stride <= 0 || !acceptableSize(width, height, limits))
        return {};
    const QRect cut = cutOf(width, height);
    const int bytesPerPixel = alpha ? 4 : 3;
    const uchar* first = plane + qsizetype(cut.y()) * stride + qsizetype(cut.x()) * bytesPerPixel;
    heif_image* owner = image.release();
    QImage view(
        first, cut.width(), cut.height(), stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
        [](void* released) { heif_image_release(static_cast<heif_image*>(released)); }, owner);
    if (view.isNull()) // QImage took no ownership
        heif_image_release(owner);
    return view;
}

} // namespace

bool isHeif(const QByteArray& data)
{
    if (data.size() < 12)
        return false;
    const auto kind = heif_check_filetype(reinterpret_cast<const uint8_t*>(data.constData()), int(data.size()));
    return kind == heif_filetype_yes_supported;
}

QImage decode(const QByteArray& data, const ImageDecoder::Limits& limits, bool centredSquareOnly)
{
    const HeifContext context = readContext(data, limits);
    if (!context)
        return {};
    const HeifHandle handle = primaryHandle(context.get(), limits);
    return handle ? decodeHandle(handle.get(), limits, centredSquareOnly) : QImage();
}

QImage decodeThumbnailSquare(const QByteArray& data, const ImageDecoder::Limits& limits, int minimumSide)
{
    const HeifContext context = readContext(data, limits);
    if (!context)
        return {};
    const HeifHandle primary = primaryHandle(context.get(), limits);
    heif_item_id id = 0;
    if (!primary || heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), &id, 1) != 1)
        return {};
    heif_image_handle* raw = nullptr;
    if (heif_image_handle_get_thumbnail(primary.get(), id, &raw).code != heif_error_Ok)
        return {};
    const HeifHandle thumbnail(raw);
    const qint64 width = heif_image_handle_get_width(thumbnail.get());
    const qint64 height = heif_image_handle_get_height(thumbnail.get());
    if (!acceptableSize(width, height, limits) || std::min(width, height) < minimumSide)
        return {};
    // A thumbnail of other proportions than the photo (one not turned like it, say) would
    // show another part of it than the stored square.
    const qint64 photoWidth = heif_image_handle_get_width(primary.get());
    const qint64 photoHeight = heif_image_handle_get_height(primary.get());
    if (std::llabs(width * photoHeight - height * photoWidth) * 50 > width * photoHeight)
        return {};
    return decodeHandle(thumbnail.get(), limits, true);
}

} // namespace HeifDecoding
