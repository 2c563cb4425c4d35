// Prints what must come out the same on every architecture: for each photo named on the
// command line, a digest of the PNG that would be stored and of the tray icon made from
// it; then the daily fire times over two years in time zones with daylight saving.
#include "app/StatusIconRenderer.h"
#include "platform/image/ImageDecoder.h"
#include "platform/image/PngEncoder.h"
#include "platform/usernotifications/DailyTrigger.h"
#include "views/PopoverView.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QTextStream>

namespace {

QByteArray digest(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16);
}

// The icon's pixels as the renderer makes them, premultiplied: Qt's own conversion back to
// straight alpha rounds differently on x86 (SSE4) and arm64, by one level in some
// semi-transparent pixels.
QByteArray pixelDigest(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (int y = 0; y < argb.height(); ++y)
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(argb.constScanLine(y)), argb.width() * 4));
    return hash.result().toHex().left(16);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    for (const QString& path : application.arguments().mid(1)) {
        const QImage square = PopoverView::cropToSquare(ImageDecoder::decodeFile(path));
        out << QFileInfo(path).fileName() << ' ' << square.width() << 'x' << square.height() << " png "
            << digest(PngEncoder::encode(square)) << " icon "
            << pixelDigest(StatusIconRenderer::renderSquare(square, StatusIconRenderer::kIconPoints)) << '\n';
    }
    const QList<QByteArray> zones{"Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kolkata"};
    const QList<std::pair<int, int>> times{{0, 0}, {1, 30}, {2, 30}, {9, 0}, {23, 59}};
    QCryptographicHash fireTimes(QCryptographicHash::Sha256);
    for (const QByteArray& name : zones) {
        const QTimeZone zone(name);
        for (const auto& [hour, minute] : times) {
            QDateTime after(QDate(2025, 1, 1), QTime(12, 0), zone);
            for (int day = 0; day < 730; ++day) {
                after = *DailyTrigger::nextFireTime(hour, minute, after, zone);
                fireTimes.addData(after.toUTC().toString(Qt::ISODate).toLatin1());
            }
        }
    }
    out << "fire times " << fireTimes.result().toHex().left(16) << '\n';
    return 0;
}
