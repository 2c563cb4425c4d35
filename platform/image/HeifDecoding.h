#pragma once

#include "platform/image/DecodeLimits.h"

#include <QByteArray>
#include <QImage>

// The HEIC and HEIF half of ImageDecoder, through libheif. Images come back upright (the
// container's rotation and mirroring applied), with the pixels libheif itself gives: 8-bit
// images as RGBX (RGBA with alpha) made from libheif's planes; deeper ones as libheif's own
// 8-bit conversion, a read-only QImage sharing its buffer.
namespace HeifDecoding {

bool isHeif(const QByteArray& data);

// The primary image, or just its centred square. Of a deeper image the square is a view,
// and the whole image stays in memory while the square lives.
QImage decode(const QByteArray& data, const ImageDecoder::Limits& limits, bool centredSquareOnly);

// The centred square of the primary image's own thumbnail; null when it has none, or none
// of at least `minimumSide` pixels on the square's side.
QImage decodeThumbnailSquare(const QByteArray& data, const ImageDecoder::Limits& limits, int minimumSide);

} // namespace HeifDecoding
