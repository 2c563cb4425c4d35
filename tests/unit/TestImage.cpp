// The one decoder and the one PNG encoder.
#include "PhotoFixtures.h"
#include "platform/image/ImageDecoder.h"
#include "platform/image/PngEncoder.h"

#include <QtTest>

#include <sys/stat.h>

using namespace PhotoFixtures;

namespace {

// A gradient with grain, as the rows of a photo, with or without varying transparency.
QImage photoLike(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int i = 0; i < width * height; ++i)
        image.setPixel(i % width, i / width,
                       qRgba((i % width + random.bounded(8)) & 255, (i / width * 3) & 255, random.bounded(256),
                             alpha ? i & 255 : 255));
    return image;
}

} // namespace

class TestImage : public QObject
{
    Q_OBJECT

private slots:
    void photosAreDecodedUpright()
    {
        // Where the stored left (red) half and right (blue) half end up once the photo is upright.
        const QImage photo = halves(80, 40);
        const QPoint left(10, 20), right(70, 20), top(20, 10), bottom(20, 70);
        QList<std::tuple<QByteArray, QSize, QPoint, QPoint>> cases{
            {jpegWithOrientation(photo, 1), QSize(80, 40), left, right},
            {jpegWithOrientation(photo, 3), QSize(80, 40), right, left},
            {jpegWithOrientation(photo, 6), QSize(40, 80), top, bottom},
            {jpegWithOrientation(photo, 8), QSize(40, 80), bottom, top},
            // 144 MB of pixels, past the 128 MB that Qt allows by default.
            {encoded(halves(6000, 6000), "JPEG", 50), QSize(6000, 6000), QPoint(10, 10), QPoint(5990, 10)}};
        if (!heic(photo).isEmpty()) // libheif can make them where it has an HEVC encoder
            cases << std::tuple{heic(photo), QSize(80, 40), left, right}
                  << std::tuple{heic(photo, 6), QSize(40, 80), top, bottom};
        for (int i = 0; i < cases.size(); ++i) {
            const auto& [bytes, size, redAt, blueAt] = cases[i];
            const QImage image = ImageDecoder::decode(bytes);
            QVERIFY2(image.size() == size && near(image.pixel(redAt), Qt::red) && near(image.pixel(blueAt), Qt::blue),
                     qPrintable(QString::number(i)));
        }
        // Found by fuzzing: a HEIC grid that declared 29289 × 25600 pixels made libheif allocate gigabytes.
        QVERIFY(ImageDecoder::decode(readFile(QFINDTESTDATA("../../fuzz/corpus/photos/regression-grid-size.heic")))
                    .isNull());
    }

    // A photo still being copied is refused in every format instead of being taken with grey
    // where its end is missing; bytes after the end of a whole image are harmless.
    void photosCutShortAreRefused()
    {
        const QImage photo = coordinates(96, 64);
        const QByteArray jpeg = encoded(photo, "JPEG"), inner = encoded(photo.scaled(16, 16), "JPEG");
        // A whole JPEG in a comment ahead of the photo's data: its end marker is not the photo's.
        const QByteArray commented = jpeg.left(2) + "\xff\xfe" + char((inner.size() + 2) >> 8) +
                                     char((inner.size() + 2) & 255) + inner + jpeg.mid(2);
        const QByteArray gif = readFile(QFINDTESTDATA("../../fuzz/corpus/photos/tiny.gif"));
        for (const QByteArray& whole :
             {jpeg, jpegWithOrientation(photo, 6), commented, encoded(photo, "PNG"), encoded(photo, "BMP"), gif,
              encoded(photo, "TIFF"), encoded(photo, "WEBP"), heic(photo)}) {
            if (whole.isEmpty())
                continue; // no encoder for the format here
            QVERIFY(!ImageDecoder::decode(whole + QByteArray(64, '\0')).isNull());
            for (const double kept : {0.3, 0.6, 0.9, 0.98}) {
                const QByteArray cut = whole.left(qsizetype(double(whole.size()) * kept));
                QVERIFY2(ImageDecoder::decode(cut).isNull() && ImageDecoder::decodeCentredSquare(cut).isNull(),
                         qPrintable(QStringLiteral("%1 of %2 bytes kept").arg(cut.size()).arg(whole.size())));
            }
        }
        QVERIFY(ImageDecoder::decode(jpeg.chopped(2)).isNull());
    }

    void theSquareAndItsPreviewAreTheFullDecodesCentre_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("hasPreview");
        // 641 × 400: an odd difference, whose half pixel must fall on the same side however
        // the photo is stored.
        const QImage photo = gradient(641, 400);
        QTest::newRow("png") << encoded(photo, "PNG") << false;
        for (int orientation = 1; orientation <= 8; ++orientation)
            QTest::addRow("jpeg %d", orientation) << jpegWithOrientation(photo, quint16(orientation)) << true;
        for (int orientation : {1, 3, 6, 7})
            QTest::addRow("heic %d", orientation) << heic(photo, orientation, 320) << true;
        QTest::newRow("heic without thumbnail") << heic(photo, 6) << false;
    }
    void theSquareAndItsPreviewAreTheFullDecodesCentre()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, hasPreview);
        if (data.isEmpty())
            QSKIP("libheif has no HEVC encoder here to make the fixture");
        const QImage full = ImageDecoder::decode(data);
        const QImage square = full.copy(ImageDecoder::centredSquare(full.size()));
        QCOMPARE(square.size(), QSize(400, 400));
        QCOMPARE(ImageDecoder::decodeCentredSquare(data), square);
        const QImage preview = ImageDecoder::decodeCentredSquarePreview(data, 100);
        QCOMPARE(preview.isNull(), !hasPreview);
        if (hasPreview)
            QVERIFY2(preview.width() == preview.height() && preview.width() >= 100 && preview.width() < 400 &&
                         difference(preview, square) < 4,
                     qPrintable(QStringLiteral("%1 px, %2 off").arg(preview.width()).arg(difference(preview, square))));
    }

    void onlyRegularFilesAreRead()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath(QStringLiteral("photo.png")),
                      fifo = dir.filePath(QStringLiteral("fifo.png"));
        QVERIFY(writeFile(photo, encoded(halves(8, 8), "PNG")) &&
                QFile::link(photo, dir.filePath(QStringLiteral("link.png"))));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY2(ImageDecoder::readRegularFile(dir.filePath(QStringLiteral("link.png"))), "a link to a photo is read");
        for (const QString& path : {fifo, dir.path(), QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("no"))})
            QVERIFY2(!ImageDecoder::readRegularFile(path), qPrintable(path)); // at once: a FIFO's writer never comes
    }

    void pngRoundTripsExactly_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("threads");
        // Sizes that split into several stripes of uneven height, odd widths, a single row and
        // column, every filter, on one thread and on several; transparency where there is some.
        for (int filter = 0; filter <= 4; ++filter) {
            QTest::addRow("rgb 1201x997 filter %d", filter) << photoLike(1201, 997, false) << filter << 0;
            QTest::addRow("rgba 333x1501 filter %d", filter) << photoLike(333, 1501, true) << filter << 3;
        }
        QTest::addRow("one row") << photoLike(3000, 1, true) << 4 << 0;
        QTest::addRow("one column, one thread") << photoLike(1, 3000, false) << 4 << 1;
        QTest::addRow("greyscale") << photoLike(640, 480, false).convertToFormat(QImage::Format_Grayscale8) << 2 << 0;
        QTest::addRow("palette") << photoLike(64, 64, false).convertToFormat(QImage::Format_Indexed8) << 4 << 0;
        QTest::addRow("palette, transparent")
            << photoLike(64, 64, true).convertToFormat(QImage::Format_Indexed8) << 4 << 0;
        QTest::addRow("packed rgb") << photoLike(501, 301, false).convertToFormat(QImage::Format_RGB888) << 4 << 0;
    }
    void pngRoundTripsExactly()
    {
        QFETCH(QImage, image);
        QFETCH(int, filter);
        QFETCH(int, threads);
        PngEncoder::Options options;
        options.filter = PngEncoder::RowFilter(filter);
        options.threads = threads;
        // Qt's reader checks every CRC and the Adler-32 trailer.
        const QImage decoded = QImage::fromData(PngEncoder::encode(image, options), "PNG");
        const auto format = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        QVERIFY(decoded.hasAlphaChannel() == image.hasAlphaChannel() &&
                decoded.convertToFormat(format) == image.convertToFormat(format));
    }

    void pngOfAViewIsMadeOfItsOwnPixels()
    {
        // A view into a bigger image: its rows are further apart than its width.
        const QImage big = photoLike(300, 200, false);
        const QImage view(big.constScanLine(50) + 40 * 4, 120, 100, big.bytesPerLine(), big.format());
        QCOMPARE(QImage::fromData(PngEncoder::encode(view), "PNG").convertToFormat(QImage::Format_RGB32),
                 big.copy(40, 50, 120, 100));
    }
};

QTEST_GUILESS_MAIN(TestImage)
#include "TestImage.moc"
