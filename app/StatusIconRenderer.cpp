#include "app/StatusIconRenderer.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace StatusIconRenderer {
namespace {

// A block of source pixels is averaged from about this many samples per side, few enough
// that a 4000 × 4000 photo takes a few milliseconds. Each sample is taken at a random
// place within its own cell of the block (stratified sampling): a regular grid of samples
// would alias with a pattern of the same period, random places average it out.
constexpr int kSamplesPerBlockSide = 8;

// Averages blocks of the (premultiplied) source down to at most kReducedSide per side.
QImage boxAverage(const QImage& source)
{
    const int w = source.width();
    const int h = source.height();
    const int outW = std::min(w, kReducedSide);
    const int outH = std::min(h, kReducedSide);
    const int strideX = std::max(1, w / outW / kSamplesPerBlockSide);
    const int strideY = std::max(1, h / outH / kSamplesPerBlockSide);

    std::vector<int> columnOf(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x)
        columnOf[size_t(x)] = int(qint64(x) * outW / w);

    QImage result(outW, outH, QImage::Format_ARGB32_Premultiplied);
    std::vector<quint64> sums(size_t(outW) * 4);
    std::vector<quint32> counts(static_cast<size_t>(outW));
    quint32 state = 0x9E3779B9u; // fixed seed: the same photo always gives the same icon
    auto offsetWithin = [&state](int cell) {
        if (cell == 1)
            return 0;
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return int(state % quint32(cell));
    };
    int y = 0;
    for (int oy = 0; oy < outH; ++oy) {
        std::fill(sums.begin(), sums.end(), 0);
        std::fill(counts.begin(), counts.end(), 0);
        const int rowEnd = int(qint64(oy + 1) * h / outH);
        for (; y < rowEnd; y += strideY) {
            const int sampleY = std::min(rowEnd - 1, y + offsetWithin(strideY));
            const auto* line = reinterpret_cast<const QRgb*>(source.constScanLine(sampleY));
            for (int x = 0; x < w; x += strideX) {
                const int sampleX = std::min(w - 1, x + offsetWithin(strideX));
                const QRgb p = line[sampleX];
                const size_t c = size_t(columnOf[size_t(sampleX)]);
                quint64* s = &sums[c * 4];
                s[0] += qAlpha(p);
                s[1] += qRed(p);
                s[2] += qGreen(p);
                s[3] += qBlue(p);
                ++counts[c];
            }
        }
        y = rowEnd;
        auto* out = reinterpret_cast<QRgb*>(result.scanLine(oy));
        for (int ox = 0; ox < outW; ++ox) {
            const quint64 n = std::max<quint32>(1, counts[size_t(ox)]);
            const quint64* s = &sums[size_t(ox) * 4];
            out[ox] = qRgba(int(s[1] / n), int(s[2] / n), int(s[3] / n), int(s[0] / n));
        }
    }
    return result;
}

QImage premultiplied(const QImage& source)
{
    if (source.format() == QImage::Format_ARGB32_Premultiplied || source.format() == QImage::Format_RGB32)
        return source;
    return source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

QImage renderSquare(const QImage& source, int pixels)
{
    QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    if (source.isNull() || pixels <= 0)
        return canvas;
    const QImage scaled = reduce(source).scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(0, 0, scaled);
    return canvas;
}

QImage reduce(const QImage& source)
{
    const QImage reduced = premultiplied(source);
    if (reduced.width() > kReducedSide || reduced.height() > kReducedSide)
        return boxAverage(reduced);
    return reduced;
}

QIcon render(const QImage& source, qreal devicePixelRatio)
{
    std::set<int> sizes{kIconPoints, 44, 64, int(std::lround(kIconPoints * std::max(1.0, devicePixelRatio)))};
    const QImage reduced = reduce(source); // once, for every size below
    QIcon icon;
    for (int pixels : sizes)
        icon.addPixmap(QPixmap::fromImage(renderSquare(reduced, pixels)));
    return icon;
}

} // namespace StatusIconRenderer
