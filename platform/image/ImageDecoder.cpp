#include "platform/image/ImageDecoder.h"

#include "platform/image/HeifDecoding.h"
#include "platform/image/JpegThumbnail.h"
#include "platform/image/TruncatedImage.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace ImageDecoder {
namespace {

// The tray icon alone wants 64 pixels; a thumbnail of fewer is not worth showing.
constexpr int kSmallestThumbnail = 64;

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

// Where `upright`, a rectangle of the image as shown, lies in the image as stored, for a
// reader that turns the stored image upright by `transformation`: mirrored, flipped, then
// turned a quarter clockwise (as QImageReader does).
QRect storedRect(const QRect& upright, QSize stored, QImageIOHandler::Transformations transformation)
{
    const auto toStored = [&](QPoint p) {
        if (transformation & QImageIOHandler::TransformationRotate90)
            p = QPoint(p.y(), stored.height() - 1 - p.x());
        if (transformation & QImageIOHandler::TransformationMirror)
            p.setX(stored.width() - 1 - p.x());
        if (transformation & QImageIOHandler::TransformationFlip)
            p.setY(stored.height() - 1 - p.y());
        return p;
    };
    // Not QRect::normalized(), which reads swapped corners as a negative size and loses a
    // pixel at either end.
    const QPoint a = toStored(upright.topLeft());
    const QPoint b = toStored(upright.bottomRight());
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

QSize uprightSize(QSize stored, QImageIOHandler::Transformations transformation)
{
    return transformation & QImageIOHandler::TransformationRotate90 ? stored.transposed() : stored;
}

QImage cutCentredSquare(const QImage& image)
{
    const QRect square = centredSquare(image.size());
    return square == image.rect() ? image : image.copy(square);
}

// A reader of an image held in memory.
struct BytesReader
{
    explicit BytesReader(const QByteArray& data, const QByteArray& format = {}) : reader(&buffer, format)
    {
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
    }
    QBuffer buffer;
    QImageReader reader;
};

// Prepares `reader`: the stored size (invalid when the format tells it only by decoding), or
// none when the data is no image, or one over the limits.
std::optional<QSize> openReader(QImageReader& reader, const Limits& limits)
{
    raiseQtAllocationLimit();
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return std::nullopt;
    // A top-down BMP states a negative height: the size is checked whatever its sign.
    const QSize stored = reader.size();
    if (stored != QSize() &&
        !acceptableSize(std::abs(qint64(stored.width())), std::abs(qint64(stored.height())), limits))
        return std::nullopt;
    return stored;
}

QImage decodeWithQt(const QByteArray& data, const Limits& limits, bool centredSquareOnly)
{
    BytesReader bytes(data);
    QImageReader& reader = bytes.reader;
    const auto stored = openReader(reader, limits);
    if (!stored)
        return {};
    // The JPEG reader decodes nothing below the clip and allocates only the clip; other
    // readers cut it from the whole image.
    if (centredSquareOnly && stored->isValid()) {
        const auto transformation = reader.transformation();
        reader.setClipRect(storedRect(centredSquare(uprightSize(*stored, transformation)), *stored, transformation));
    }
    QImage image;
    if (!reader.read(&image) || !acceptableSize(image.width(), image.height(), limits))
        return {};
    return centredSquareOnly ? cutCentredSquare(image) : image;
}

QImage stretchedWithQt(const QByteArray& data, int side, const Limits& limits)
{
    BytesReader bytes(data);
    QImageReader& reader = bytes.reader;
    const auto stored = openReader(reader, limits);
    if (!stored)
        return {};
    // A square target needs no care for a quarter turn applied after the scaling.
    if (stored->isValid() && (stored->width() > side || stored->height() > side))
        reader.setScaledSize(QSize(side, side));
    QImage image;
    if (!reader.read(&image))
        return {};
    return image;
}

// The image as shown once `transformation` is applied, in QImageReader's order: mirrored,
// flipped, then turned a quarter clockwise.
QImage upright(const QImage& stored, QImageIOHandler::Transformations transformation)
{
    QImage image = stored.mirrored(transformation & QImageIOHandler::TransformationMirror,
                                   transformation & QImageIOHandler::TransformationFlip);
    return transformation & QImageIOHandler::TransformationRotate90 ? image.transformed(QTransform().rotate(90))
                                                                    : image;
}

// The centre square of a JPEG's EXIF thumbnail, turned as the photo is. Only a thumbnail in
// the photo's proportions shows the same square: cameras that pad one with bars are skipped.
QImage thumbnailSquare(const QByteArray& data, QSize stored, QImageIOHandler::Transformations transformation)
{
    const QByteArray thumbnail = JpegThumbnail::find(data);
    if (thumbnail.isEmpty())
        return {}; // Qt's reader would complain of an empty buffer on standard error
    BytesReader bytes(thumbnail, "jpeg");
    QImageReader& reader = bytes.reader;
    const QSize size = reader.size();
    const qint64 mismatch = std::abs(qint64(size.width()) * stored.height() - qint64(size.height()) * stored.width());
    if (!size.isValid() || std::min(size.width(), size.height()) < kSmallestThumbnail ||
        mismatch * 100 > qint64(size.height()) * stored.width())
        return {};
    QImage image;
    return reader.read(&image) ? cutCentredSquare(upright(image, transformation)) : QImage();
}

QImage previewWithQt(const QByteArray& data, int pixels, const Limits& limits)
{
    BytesReader bytes(data);
    QImageReader& reader = bytes.reader;
    const auto stored = openReader(reader, limits);
    // Only JPEG decodes at a reduced scale in less time: its DCT scaling skips most of the
    // inverse transform. Other readers would decode the whole image and shrink it after.
    if (!stored || !stored->isValid() || reader.format() != "jpeg")
        return {};
    if (const QImage thumbnail = thumbnailSquare(data, *stored, reader.transformation()); !thumbnail.isNull())
        return thumbnail;
    const int side = std::min(stored->width(), stored->height());
    int denominator = 8;
    while (denominator > 1 && side / denominator < pixels)
        denominator /= 2;
    if (denominator == 1)
        return {};
    reader.setScaledSize(QSize(stored->width() / denominator, stored->height() / denominator));
    QImage image;
    if (!reader.read(&image))
        return {};
    return cutCentredSquare(image);
}

// The file's first `limit` bytes, or all of it when `whole` (refused above `limit`); only
// for a regular file.
// Nothing to decode, or a file still being copied: refused before any decoder runs.
bool unusable(const QByteArray& data)
{
    return data.isEmpty() || TruncatedImage::isTruncated(data);
}

// Reads the open file `fd` if it is a regular file, at most `limit` bytes, or all of it
// when `whole` (a larger file is then refused).
std::optional<QByteArray> readRegularDescriptor(int fd, qint64 limit, bool whole)
{
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (whole && info.st_size > limit))
        return std::nullopt;

    QByteArray data;
    data.resize(qsizetype(std::min<qint64>(info.st_size, limit)));
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

std::optional<QByteArray> readRegular(const QString& path, qint64 limit, bool whole)
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
    return readRegularDescriptor(fd, limit, whole);
}

} // namespace

QImage decode(const QByteArray& data, const Limits& limits)
{
    if (unusable(data))
        return {};
    return HeifDecoding::isHeif(data) ? HeifDecoding::decode(data, limits, false) : decodeWithQt(data, limits, false);
}

QImage decodeStretched(const QByteArray& data, int side, const Limits& limits)
{
    if (unusable(data) || side <= 0)
        return {};
    QImage image =
        HeifDecoding::isHeif(data) ? HeifDecoding::decode(data, limits, false) : stretchedWithQt(data, side, limits);
    if (image.width() > side || image.height() > side)
        image = image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage decodeFile(const QString& path)
{
    const auto data = readRegularFile(path);
    return data ? decode(*data) : QImage();
}

QImage decodeCentredSquare(const QByteArray& data, const Limits& limits)
{
    if (unusable(data))
        return {};
    return HeifDecoding::isHeif(data) ? HeifDecoding::decode(data, limits, true) : decodeWithQt(data, limits, true);
}

std::unique_ptr<JpegSquareStream> streamCentredSquare(const QByteArray& data, const Limits& limits)
{
    if (unusable(data) || HeifDecoding::isHeif(data))
        return nullptr;
    BytesReader bytes(data);
    QImageReader& reader = bytes.reader;
    const auto stored = openReader(reader, limits);
    if (!stored || !stored->isValid() || reader.format() != "jpeg" ||
        reader.transformation() != QImageIOHandler::TransformationNone)
        return nullptr;
    return JpegSquareStream::open(data, centredSquare(*stored));
}

QImage decodeCentredSquarePreview(const QByteArray& data, int pixels, const Limits& limits)
{
    if (unusable(data) || pixels <= 0)
        return {};
    return HeifDecoding::isHeif(data) ? HeifDecoding::decodeThumbnailSquare(data, limits, kSmallestThumbnail)
                                      : previewWithQt(data, pixels, limits);
}

std::optional<QByteArray> readRegularFile(const QString& path)
{
    return readRegular(path, kMaxFileBytes, true);
}

std::optional<QByteArray> readRegularFile(int descriptor)
{
    return readRegularDescriptor(descriptor, kMaxFileBytes, true);
}

bool isPhotoFile(const QString& path)
{
    // Enough for every reader's signature check, and for a HEIF file's type box.
    constexpr qint64 kHeadBytes = 64 * 1024;
    const auto head = readRegular(path, kHeadBytes, false);
    if (!head || head->isEmpty())
        return false;
    if (HeifDecoding::isHeif(*head))
        return true;
    return BytesReader(*head).reader.canRead();
}

} // namespace ImageDecoder
