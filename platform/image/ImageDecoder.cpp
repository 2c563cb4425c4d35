#include "platform/image/ImageDecoder.h"

#include "platform/image/TruncatedImage.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QScopeGuard>
#include <QThread>

#include <libheif/heif.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace ImageDecoder {
namespace {

bool acceptableSize(qint64 width, qint64 height, const Limits& limits)
{
    return width > 0 && height > 0 && width * height <= limits.maxPixels;
}

// Qt refuses any image over 128 MB by default, which a 48 MP photo already is. Our own
// header check above is the real guard; Qt's limit is raised to match it, and it still
// protects the readers whose header we cannot see before decoding.
void raiseQtAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        constexpr qint64 bytesPerPixel = 8; // the widest format a reader allocates for a photo
        QImageReader::setAllocationLimit(int(kMaxPixels * bytesPerPixel / (1024 * 1024)) + 1);
    });
}

bool looksLikeHeif(const QByteArray& data)
{
    if (data.size() < 12)
        return false;
    const auto kind = heif_check_filetype(reinterpret_cast<const uint8_t*>(data.constData()), int(data.size()));
    return kind == heif_filetype_yes_supported;
}

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

QImage decodeHeif(const QByteArray& data, const Limits& limits)
{
    HeifContext context(heif_context_alloc());
    if (!context)
        return {};
    // A grid image declares its output size apart from the size its handle reports, and
    // libheif allocates that output whole; a mutated grid once asked for 750 megapixels.
    // The per-side limit must be set before the file is read to cover grids too.
    heif_context_set_maximum_image_size_limit(context.get(), limits.maxHeifSide);
    // `data` outlives the context, so libheif may read it in place.
    if (heif_context_read_from_memory_without_copy(context.get(), data.constData(), size_t(data.size()), nullptr)
            .code != heif_error_Ok)
        return {};
    heif_context_set_max_decoding_threads(context.get(), QThread::idealThreadCount());

    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return {};
    HeifHandle handle(rawHandle);
    // The handle's size already has the container's rotation applied.
    if (!acceptableSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()),
                        limits) ||
        !acceptableSize(heif_image_handle_get_ispe_width(handle.get()), heif_image_handle_get_ispe_height(handle.get()),
                        limits))
        return {};

    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    HeifOptions options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1; // version 2 field; Debian's libheif is newer
    heif_image* rawImage = nullptr;
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get())
            .code != heif_error_Ok)
        return {};
    HeifImage image(rawImage);

    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || !acceptableSize(width, height, limits))
        return {};
    QImage result(width, height, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (result.isNull())
        return {};
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    for (int y = 0; y < height; ++y)
        std::memcpy(result.scanLine(y), plane + size_t(y) * size_t(stride), rowBytes);
    return result;
}

QImage decodeWithQt(const QByteArray& data, const Limits& limits)
{
    raiseQtAllocationLimit();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return {};
    const QSize stored = reader.size();
    if (stored.isValid() && !acceptableSize(stored.width(), stored.height(), limits))
        return {};
    QImage image;
    if (!reader.read(&image) || !acceptableSize(image.width(), image.height(), limits))
        return {};
    return image;
}

} // namespace

QImage decode(const QByteArray& data, const Limits& limits)
{
    if (data.isEmpty() || TruncatedImage::isTruncated(data))
        return {};
    return looksLikeHeif(data) ? decodeHeif(data, limits) : decodeWithQt(data, limits);
}

QImage decodeFile(const QString& path)
{
    const auto data = readRegularFile(path);
    return data ? decode(*data) : QImage();
}

std::optional<QByteArray> readRegularFile(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QByteArray native = QFile::encodeName(path);
    struct stat info
    {
    };
    // A FIFO or device is never opened: opening one can block or have side effects.
    if (::stat(native.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    // O_NONBLOCK: should the path have become a FIFO since the check, open still returns.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes)
        return std::nullopt;

    QByteArray data;
    data.resize(qsizetype(info.st_size));
    qsizetype filled = 0;
    while (filled < data.size()) {
        const ssize_t n = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break; // the file shrank while we read it
        filled += n;
    }
    data.truncate(filled);
    return data;
}

} // namespace ImageDecoder
