// The whole photo intake on arbitrary bytes: decode (every format, orientation applied),
// cut the centred square, encode it as PNG and read that back. Nothing may crash, hang
// or leak, and the stored PNG must be the square that was cut.
#include "platform/image/ImageDecoder.h"
#include "platform/image/PngEncoder.h"
#include "views/PopoverView.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>

namespace {
// Keeps each run short: an image close below the program's own limits (a HEIF grid may
// declare 16384 pixels a side in a few hundred bytes) takes seconds per input here.
const ImageDecoder::Limits kFuzzLimits{1024 * 1024, 1024};
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QGuiApplication application(*argc, *argv); // image plugins and fonts
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QImage photo = ImageDecoder::decode(bytes, kFuzzLimits);
    // The preview reads what the decoder does not: a JPEG's EXIF thumbnail, a HEIF's own.
    const QImage preview = ImageDecoder::decodeCentredSquarePreview(bytes, 64, kFuzzLimits);
    if (preview.width() != preview.height())
        __builtin_trap();
    // The square as the intake streams it from an upright JPEG.
    if (const auto stream = ImageDecoder::streamCentredSquare(bytes, kFuzzLimits)) {
        if (stream->decode() && stream->image().width() != stream->image().height())
            __builtin_trap();
    }
    if (photo.isNull())
        return 0;
    const QImage square = PopoverView::cropToSquare(photo);
    if (square.isNull())
        return 0;
    const int side = std::min(photo.width(), photo.height());
    if (square.width() != side || square.height() != side)
        __builtin_trap();
    const QByteArray png = PngEncoder::encode(square);
    const QImage stored = QImage::fromData(png, "PNG");
    if (stored.size() != square.size())
        __builtin_trap();
    return 0;
}
