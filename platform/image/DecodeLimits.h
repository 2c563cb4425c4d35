#pragma once

#include <QRect>
#include <QSize>

#include <algorithm>

// What every decoder of the program (ImageDecoder and the HEIF half behind it) shares: the
// sizes it refuses before any pixel is allocated, and the square it cuts.
namespace ImageDecoder {

// Images larger than this are refused from their header, before any pixel is allocated.
// It admits photos well beyond 100 megapixels while keeping a hostile header from asking
// for tens of gigabytes.
inline constexpr qint64 kMaxPixels = 250'000'000;
// HEIF images, grids included, may not be longer than this on either side; the square
// of it stays near kMaxPixels.
inline constexpr int kMaxHeifSide = 16384;
// Files larger than this are not read at all.
inline constexpr qint64 kMaxFileBytes = qint64(1) << 30;

// The size limits above; tests and the fuzzer may ask for smaller ones.
struct Limits
{
    qint64 maxPixels = kMaxPixels;
    int maxHeifSide = kMaxHeifSide;
};

// The centred square of an image of `size`: the longer side is trimmed by equal amounts at
// both ends. An odd difference leaves an offset of a half pixel, which is rounded down, so
// the extra column (or row) is dropped from the right (or bottom) edge.
inline QRect centredSquare(QSize size)
{
    const int side = std::min(size.width(), size.height());
    return QRect((size.width() - side) / 2, (size.height() - side) / 2, side, side);
}

} // namespace ImageDecoder
