#pragma once

#include <QIcon>
#include <QImage>

// Renders the tray icon: the whole source stretched to a 22-point square (its aspect
// ratio is not kept, nothing is cropped), drawn source-over at full opacity.
namespace StatusIconRenderer {

inline constexpr int kIconPoints = 22;

// The icon at 22 points for `devicePixelRatio`, plus 44 and 64 pixels for HiDPI panels.
QIcon render(const QImage& source, qreal devicePixelRatio);

// The source stretched to a `pixels` × `pixels` square with an area-averaging downscale.
QImage renderSquare(const QImage& source, int pixels);

// The largest side that render() and renderSquare() take from a source, twice the largest icon: a bigger one is first
// averaged down to it (reduce), so that an icon drawn from the reduction is the icon drawn
// from the source itself.
inline constexpr int kReducedSide = 128;
QImage reduce(const QImage& source);

} // namespace StatusIconRenderer
