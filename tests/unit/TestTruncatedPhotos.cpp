// A photo cut short, as one still being copied or downloaded, is refused in every format
// instead of being taken with its missing part filled with grey; whole photos still load.
#include "PhotoFixtures.h"

#include "platform/image/ImageDecoder.h"

#include <QTest>

using namespace PhotoFixtures;

namespace {

// A whole JPEG inside a comment segment ahead of the photo's own data: its end marker
// must not pass for the photo's.
QByteArray jpegWithThumbnailInComment(const QImage& image)
{
    const QByteArray jpeg = encoded(image, "JPEG");
    const QByteArray thumbnail = encoded(image.scaled(16, 16), "JPEG");
    const int length = int(thumbnail.size()) + 2;
    return jpeg.left(2) + "\xff\xfe" + char(length >> 8) + char(length & 255) + thumbnail + jpeg.mid(2);
}

} // namespace

class TestTruncatedPhotos : public QObject
{
    Q_OBJECT

private slots:
    void photoCutShortIsRefused_data()
    {
        const QImage photo = coordinates(96, 64);
        QTest::addColumn<QByteArray>("whole");
        QTest::newRow("jpeg") << encoded(photo, "JPEG");
        QTest::newRow("jpeg with exif") << jpegWithOrientation(photo, 6);
        QTest::newRow("jpeg with a thumbnail") << jpegWithThumbnailInComment(photo);
        QTest::newRow("png") << encoded(photo, "PNG");
        QTest::newRow("bmp") << encoded(photo, "BMP");
        QFile gif(QFINDTESTDATA("../../fuzz/corpus/photos/tiny.gif"));
        QTest::newRow("gif") << (gif.open(QIODevice::ReadOnly) ? gif.readAll() : QByteArray());
        QTest::newRow("tiff") << encoded(photo, "TIFF");
        QTest::newRow("webp") << encoded(photo, "WEBP");
        QTest::newRow("heic") << heic(photo);
    }

    void photoCutShortIsRefused()
    {
        QFETCH(QByteArray, whole);
        if (whole.isEmpty())
            QSKIP("no encoder for this format here");
        QVERIFY(!ImageDecoder::decode(whole).isNull());
        // Some cameras and editors leave bytes after the end of the image.
        QVERIFY(!ImageDecoder::decode(whole + QByteArray(64, '\0')).isNull());
        for (const double kept : {0.3, 0.6, 0.9, 0.98}) {
            const QByteArray cut = whole.left(qsizetype(whole.size() * kept));
            QVERIFY2(ImageDecoder::decode(cut).isNull(),
                     qPrintable(QStringLiteral("%1 of %2 bytes kept").arg(cut.size()).arg(whole.size())));
        }
    }

    void jpegWithoutItsEndMarkerIsRefused()
    {
        QVERIFY(ImageDecoder::decode(encoded(coordinates(96, 64), "JPEG").chopped(2)).isNull());
    }
};

QTEST_GUILESS_MAIN(TestTruncatedPhotos)
#include "TestTruncatedPhotos.moc"
