#include "PhotoFixtures.h"

#include "platform/image/ImageDecoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace PhotoFixtures;

class TestImageDecoder : public QObject
{
    Q_OBJECT

private slots:
    void heifGridClaimingHugeOutputIsRefused()
    {
        // Found by fuzzing: a 64 × 48 HEIC whose grid declared 29289 × 25600 made libheif
        // allocate gigabytes before failing.
        QFile file(QFINDTESTDATA("../../fuzz/corpus/photos/regression-grid-size.heic"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(ImageDecoder::decode(file.readAll()).isNull());
    }

    void jpegIsShownUpright_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("size");
        // Where the stored left (red) half ends up once the photo is upright.
        QTest::addColumn<QPoint>("redAt");
        QTest::addColumn<QPoint>("blueAt");
        QTest::newRow("1 as stored") << 1 << QSize(80, 40) << QPoint(10, 20) << QPoint(70, 20);
        QTest::newRow("3 turned half round") << 3 << QSize(80, 40) << QPoint(70, 20) << QPoint(10, 20);
        QTest::newRow("6 turned clockwise") << 6 << QSize(40, 80) << QPoint(20, 10) << QPoint(20, 70);
        QTest::newRow("8 turned anticlockwise") << 8 << QSize(40, 80) << QPoint(20, 70) << QPoint(20, 10);
    }

    void jpegIsShownUpright()
    {
        QFETCH(int, orientation);
        QFETCH(QSize, size);
        QFETCH(QPoint, redAt);
        QFETCH(QPoint, blueAt);
        const QImage image = ImageDecoder::decode(jpegWithOrientation(halves(80, 40), quint16(orientation)));
        QCOMPARE(image.size(), size);
        QVERIFY(near(image.pixel(redAt), Qt::red));
        QVERIFY(near(image.pixel(blueAt), Qt::blue));
    }

    void heifIsDecodedUpright()
    {
        const QByteArray plain = heic(halves(128, 64));
        if (plain.isEmpty())
            QSKIP("libheif has no HEVC encoder here to make the fixture");
        QImage image = ImageDecoder::decode(plain);
        QCOMPARE(image.size(), QSize(128, 64));
        QVERIFY(near(image.pixel(10, 32), Qt::red));
        QVERIFY(near(image.pixel(118, 32), Qt::blue));

        image = ImageDecoder::decode(heic(halves(128, 64), heif_orientation_rotate_90_cw));
        QCOMPARE(image.size(), QSize(64, 128));
        QVERIFY(near(image.pixel(32, 10), Qt::red));
        QVERIFY(near(image.pixel(32, 118), Qt::blue));
    }

    void photoOverQtsDefaultLimitLoads()
    {
        // 6000 × 6000 pixels take 144 MB, past the 128 MB that Qt allows by default.
        QImage big(6000, 6000, QImage::Format_RGB32);
        big.fill(Qt::darkGreen);
        const QImage decoded = ImageDecoder::decode(encoded(big, "JPEG", 50));
        QCOMPARE(decoded.size(), big.size());
    }

    void onlyRegularFilesAreRead()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.png");
        QVERIFY(writeFile(photo, encoded(halves(8, 8), "PNG")));
        QVERIFY(ImageDecoder::readRegularFile(photo).has_value());
        const QString link = dir.filePath("link.png");
        QVERIFY(QFile::link(photo, link));
        QVERIFY2(ImageDecoder::readRegularFile(link).has_value(), "a link to a photo is followed");

        const QString fifo = dir.filePath("fifo.png");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!ImageDecoder::readRegularFile(fifo)); // returns at once: a writer never comes
        QVERIFY(!ImageDecoder::readRegularFile(dir.path()));
        QVERIFY(!ImageDecoder::readRegularFile(QStringLiteral("/dev/zero")));
        QVERIFY(!ImageDecoder::readRegularFile(dir.filePath("missing.png")));
    }

    void readingLeavesTheFileAsItWas()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("photo.jpg");
        const QByteArray bytes = jpegWithOrientation(halves(40, 20), 6);
        QVERIFY(writeFile(path, bytes));
        QFile::setPermissions(path, QFileDevice::ReadOwner);
        struct stat before
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
        QVERIFY(!ImageDecoder::decodeFile(path).isNull());
        struct stat after
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
    }
};

QTEST_GUILESS_MAIN(TestImageDecoder)
#include "TestImageDecoder.moc"
