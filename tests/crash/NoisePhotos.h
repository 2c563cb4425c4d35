#pragma once

#include <QFile>
#include <QImage>
#include <QList>
#include <QRandomGenerator>
#include <QString>

// Photos for the crash loops: noise does not compress, so each PNG is a few megabytes and
// its write spans many database pages.
namespace NoisePhotos {

inline QString path(const QString& folder, int index)
{
    return QStringLiteral("%1/photo%2.png").arg(folder).arg(index);
}

// Writes `count` noise photos into `folder` and returns their PNG bytes (empty on failure).
inline QList<QByteArray> make(const QString& folder, int count)
{
    QList<QByteArray> pngs;
    for (int i = 0; i < count; ++i) {
        QImage noise(1000, 1000, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
        if (!noise.save(path(folder, i), "PNG"))
            return {};
        QFile file(path(folder, i));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        pngs << file.readAll();
    }
    return pngs;
}

} // namespace NoisePhotos
