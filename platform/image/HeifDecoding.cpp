#include "platform/image/HeifDecoding.h"

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

// The decoded image as 8-bit RGB, or RGBA when it has alpha, or its centred square; the
// QImage owns the libheif image from then on.
QImage decodeHandle(heif_image_handle* handle, const ImageDecoder::Limits& limits, bool centredSquareOnly)
{
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    HeifOptions options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1; // version 2 field; Debian's libheif is newer
    heif_image* raw = nullptr;
    if (heif_decode_image(handle, &raw, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get())
            .code != heif_error_Ok)
        return {};
    HeifImage image(raw);

    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || stride <= 0 || !acceptableSize(width, height, limits))
        return {};
    const QRect cut =
        centredSquareOnly ? ImageDecoder::centredSquare(QSize(width, height)) : QRect(0, 0, width, height);
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
