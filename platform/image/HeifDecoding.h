#pragma once

#include "platform/image/ImageDecoder.h"

// The HEIC and HEIF half of ImageDecoder, through libheif. Images come back upright (the
// container's rotation and mirroring applied) and share libheif's pixel buffer instead of
// copying it: a read-only QImage that releases the buffer when its last copy goes.
namespace HeifDecoding {

bool isHeif(const QByteArray& data);

// The primary image, or just its centred square, which is a view into the whole decoded
// image: nothing is copied, but the whole image stays in memory while the square lives.
QImage decode(const QByteArray& data, const ImageDecoder::Limits& limits, bool centredSquareOnly);

// The centred square of the primary image's own thumbnail; null when it has none, or none
// of at least `minimumSide` pixels on the square's side.
QImage decodeThumbnailSquare(const QByteArray& data, const ImageDecoder::Limits& limits, int minimumSide);

} // namespace HeifDecoding
