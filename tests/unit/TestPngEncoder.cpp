#include "platform/image/PngEncoder.h"

#include <QRandomGenerator>
#include <QTest>

// Decodes with Qt's own PNG reader, which checks every CRC and the Adler-32 trailer.
static QImage decodedByQt(const QByteArray& png)
{
    return QImage::fromData(png, "PNG");
}

static QImage photoLike(int w, int h, bool alpha)
{
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgba((x * 255 / std::max(1, w - 1) + random.bounded(8)) & 255, (y * 3) & 255,
                            random.bounded(256), alpha ? (x + y) & 255 : 255);
    }
    return image;
}

class TestPngEncoder : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsExactly_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("threads");
        // Sizes that split into several stripes of uneven height, odd widths, a single
        // row and column, and every filter, on one thread and on several.
        for (int filter = 0; filter <= 4; ++filter) {
            QTest::addRow("rgb 1201x997 filter %d", filter) << photoLike(1201, 997, false) << filter << 0;
            QTest::addRow("rgba 333x1501 filter %d", filter) << photoLike(333, 1501, true) << filter << 3;
        }
        QTest::addRow("one pixel") << photoLike(1, 1, false) << 4 << 0;
        QTest::addRow("one row") << photoLike(3000, 1, true) << 4 << 0;
        QTest::addRow("one column") << photoLike(1, 3000, false) << 4 << 2;
        QTest::addRow("single thread") << photoLike(800, 2000, false) << 4 << 1;
        QImage grey = photoLike(640, 480, false).convertToFormat(QImage::Format_Grayscale8);
        QTest::addRow("greyscale source") << grey << 2 << 0;
        QImage indexed = photoLike(64, 64, false).convertToFormat(QImage::Format_Indexed8);
        QTest::addRow("palette source") << indexed << 4 << 0;
        QImage rgb888 = photoLike(501, 301, false).convertToFormat(QImage::Format_RGB888);
        QTest::addRow("packed rgb source") << rgb888 << 4 << 0;
    }

    void roundTripsExactly()
    {
        QFETCH(QImage, image);
        QFETCH(int, filter);
        QFETCH(int, threads);
        PngEncoder::Options options;
        options.filter = PngEncoder::RowFilter(filter);
        options.threads = threads;
        const QByteArray png = PngEncoder::encode(image, options);
        QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
        const QImage decoded = decodedByQt(png);
        QCOMPARE(decoded.size(), image.size());
        const auto format = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        QCOMPARE(decoded.convertToFormat(format), image.convertToFormat(format));
    }

    void transparencyIsKeptOnlyWhenPresent()
    {
        QCOMPARE(decodedByQt(PngEncoder::encode(photoLike(20, 20, true))).hasAlphaChannel(), true);
        QCOMPARE(decodedByQt(PngEncoder::encode(photoLike(20, 20, false))).hasAlphaChannel(), false);
    }

    void subImageWithStrideIsEncodedFromItsOwnPixels()
    {
        // A view into a bigger image: the rows are further apart than its width.
        const QImage big = photoLike(300, 200, false);
        const QImage view(big.constScanLine(50) + 40 * 4, 120, 100, big.bytesPerLine(), big.format());
        QCOMPARE(decodedByQt(PngEncoder::encode(view)).convertToFormat(QImage::Format_RGB32),
                 big.copy(40, 50, 120, 100));
    }

    void nullImageGivesNothing() { QVERIFY(PngEncoder::encode(QImage()).isEmpty()); }
};

QTEST_GUILESS_MAIN(TestPngEncoder)
#include "TestPngEncoder.moc"
