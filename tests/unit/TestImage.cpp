// The one decoder and the one PNG encoder.
#include "PhotoFixtures.h"
#include "TimeFactor.h"
#include "platform/image/ImageDecoder.h"
#include "platform/image/PngEncoder.h"
#include "platform/image/RowProgress.h"
#include "platform/image/RunLengthDeflater.h"

#include <QImageWriter>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

#include <zlib.h>

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

// Raw deflate data inflated by zlib into at most `size` bytes, or, without a size, `data`
// deflated with zlib's run-length strategy; "failed" where zlib refuses.
QByteArray rawZlib(const QByteArray& data, std::optional<qsizetype> size = {})
{
    QByteArray out(size.value_or(data.size() * 2 + 64) + 1, Qt::Uninitialized);
    z_stream z{};
    size ? inflateInit2(&z, -15) : deflateInit2(&z, 1, Z_DEFLATED, -15, 9, Z_RLE);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int status = size ? inflate(&z, Z_FINISH) : deflate(&z, Z_FINISH);
    size ? inflateEnd(&z) : deflateEnd(&z);
    return status == Z_STREAM_END && z.avail_in == 0 ? out.left(qsizetype(z.total_out)) : QByteArray("failed");
}

} // namespace

class TestImage : public QObject
{
    Q_OBJECT

private slots:
    void largePhotosAreDecodedWithinTheirLimits()
    {
        // 144 MB of pixels, past the 128 MB that Qt allows by default.
        const QImage large = ImageDecoder::decode(encoded(halves(6000, 6000), "JPEG", 50));
        QVERIFY(large.size() == QSize(6000, 6000));
        QVERIFY(near(large.pixel(10, 10), Qt::red));
        QVERIFY(near(large.pixel(5990, 10), Qt::blue));
        // Found by fuzzing: a HEIC grid that declared 29289 × 25600 pixels made libheif allocate gigabytes;
        // a 1 KB top-down BMP (a negative height) that declared 12 × 16771072 was decoded for seconds.
        const QString corpus = QFINDTESTDATA("../../fuzz/corpus/photos") + QLatin1Char('/');
        for (const char* hostile : {"regression-grid-size.heic", "regression-top-down-height.bmp"})
            QVERIFY2(ImageDecoder::decode(readFile(corpus + QLatin1String(hostile))).isNull(), hostile);
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
        QBuffer progressive;
        QImageWriter writer(&progressive, "JPEG");
        writer.setProgressiveScanWrite(true);
        QVERIFY(writer.write(photo));
        // Cut inside a comment between two scans: the scans before it would give a blurred photo.
        const QByteArray& scans = progressive.data();
        const qsizetype between = scans.indexOf("\xff\xc4", scans.indexOf("\xff\xda"));
        QVERIFY(ImageDecoder::decode(scans.left(between) + "\xff\xfe\x01\x02" + QByteArray(100, 'x')).isNull());
        for (const QByteArray& whole :
             {jpeg, jpegWithOrientation(photo, 6), commented, scans, encoded(photo, "PNG"), encoded(photo, "BMP"), gif,
              encoded(photo, "TIFF"), encoded(photo, "WEBP"), heic(photo)}) {
            if (whole.isEmpty()) { // no encoder for the format here: a set-up fault under CI
                QVERIFY2(!runningUnderCi(), "an image format's encoder (qt6-image-formats-plugins) is missing");
                continue;
            }
            QVERIFY(!ImageDecoder::decode(whole + QByteArray(64, '\0')).isNull());
            for (const double kept : {0.3, 0.6, 0.9, 0.98}) {
                const QByteArray cut = whole.left(qsizetype(double(whole.size()) * kept));
                QVERIFY2(ImageDecoder::decode(cut).isNull() && ImageDecoder::decodeCentredSquare(cut).isNull(),
                         qPrintable(QStringLiteral("%1 of %2 bytes kept").arg(cut.size()).arg(whole.size())));
            }
        }
        QVERIFY(ImageDecoder::decode(jpeg.chopped(2)).isNull());
    }

    void theSquareAndItsPreviewAreTheFullDecodesCentre()
    {
        // 641 × 400: an odd difference, whose half pixel must fall on the same side however the
        // photo is stored. Each photo, and the side of its preview: 100 from a JPEG decoded at a
        // reduced scale, that of its thumbnail (EXIF or HEIF), or none.
        const QImage photo = gradient(641, 400);
        // A thumbnail padded with bars to another shape shows another square: not used.
        QImage padded(256, 192, QImage::Format_RGB32);
        padded.fill(Qt::black);
        QPainter(&padded).drawImage(0, 16, photo.scaled(256, 160));
        QList<std::tuple<QByteArray, int, int>> cases{
            {encoded(photo, "PNG"), 1, 0}, {heic(photo, 6), 6, 0}, {jpegWithOrientation(photo, 6, padded), 6, 100}};
        for (int orientation = 1; orientation <= 8; ++orientation)
            cases << std::tuple{jpegWithOrientation(photo, quint16(orientation)), orientation, 100}
                  << std::tuple{
                         jpegWithOrientation(photo, quint16(orientation), photo.scaled(257, 160), orientation % 2),
                         orientation, 160};
        for (int orientation : {1, 3, 6, 7})
            cases << std::tuple{heic(photo, orientation, 320), orientation, 198};
        // Chroma at half resolution, as cameras store it; an alpha channel, with a corner seen through.
        QImage translucent = photo.convertToFormat(QImage::Format_ARGB32);
        translucent.setPixel(0, 0, qRgba(0, 0, 255, 100));
        cases << std::tuple{heic(photo, 8, 0, "420", true), 8, 0} << std::tuple{heic(translucent, 1, 0, "420"), 1, 0};
        for (int i = 0; i < cases.size(); ++i) {
            const auto& [data, orientation, previewSide] = cases[i];
            if (data.isEmpty()) { // libheif has no HEVC encoder here to make the fixture
                QVERIFY2(!runningUnderCi(), "libheif's HEVC encoder is missing");
                continue;
            }
            // Upright: turned as its orientation says (after turning, the first of every four is
            // as it is, the second mirrored, the third both ways, the fourth upside down).
            const QImage full = ImageDecoder::decode(data);
            if (data.mid(4, 4) == "ftyp") // HEIC: the very pixels of libheif's own decode
                QCOMPARE(full.convertToFormat(QImage::Format_RGBA8888), libheifsOwnDecode(data));
            const QImage turned = orientation >= 5 ? photo.transformed(QTransform(0, 1, 1, 0, 0, 0)) : photo;
            const int mirroring = (orientation - 1) % 4;
            QVERIFY2(difference(full, turned.mirrored(mirroring == 1 || mirroring == 2, mirroring >= 2)) < 4,
                     qPrintable(QStringLiteral("case %1 is not upright").arg(i)));
            // The whole photo stretched to a small square for an icon, upright too; never enlarged.
            const QImage stretched = ImageDecoder::decodeStretched(data, 128);
            QCOMPARE(stretched.size(), QSize(128, 128));
            const double stretchedOff = difference(stretched, full);
            QVERIFY2(stretchedOff < 4, qPrintable(QStringLiteral("case %1: %2 off").arg(i).arg(stretchedOff)));
            QCOMPARE(ImageDecoder::decodeStretched(data, 1000).size(), full.size());
            const QImage square = full.copy(ImageDecoder::centredSquare(full.size()));
            QCOMPARE(square.size(), QSize(400, 400));
            QCOMPARE(ImageDecoder::decodeCentredSquare(data), square);
            const QImage preview = ImageDecoder::decodeCentredSquarePreview(data, 100);
            const double off = preview.isNull() ? 0 : difference(preview, square);
            QVERIFY2(preview.width() == previewSide && preview.height() == previewSide && off < 4,
                     qPrintable(QStringLiteral("case %1: %2 px, %3 off").arg(i).arg(preview.width()).arg(off)));
        }
    }

    void anUprightJpegsSquareIsEncodedWhileItDecodes()
    {
        // Landscape, and portrait (rows above the square skipped), each with its square off the
        // 8-pixel blocks; grey. Turned JPEGs and other formats are not streamed.
        const QImage photo = gradient(641, 400);
        const QImage portrait = photo.transformed(QTransform(0, 1, 1, 0, 0, 0));
        for (const QByteArray& data : {encoded(photo, "JPEG"), encoded(portrait, "JPEG"),
                                       encoded(photo.convertToFormat(QImage::Format_Grayscale8), "JPEG")}) {
            const auto stream = ImageDecoder::streamCentredSquare(data);
            QVERIFY(stream);
            QThreadPool pool;
            auto png = QtConcurrent::run(&pool, [&] {
                PngEncoder::Options options;
                options.pool = &pool;
                options.rowsWritten = stream->progress().get();
                return PngEncoder::encode(stream->image(), options);
            });
            QVERIFY(stream->decode());
            const QImage square = ImageDecoder::decodeCentredSquare(data).convertToFormat(QImage::Format_RGB32);
            QCOMPARE(stream->image(), square);
            QCOMPARE(QImage::fromData(png.result(), "PNG").convertToFormat(QImage::Format_RGB32), square);
        }
        for (const QByteArray& data : {jpegWithOrientation(photo, 6), jpegWithOrientation(photo, 2),
                                       encoded(photo, "PNG"), encoded(photo, "JPEG").left(1000)})
            QVERIFY(!ImageDecoder::streamCentredSquare(data));

        // A decoder that gives up half way: the encode fails rather than store half a photo.
        RowProgress rows;
        PngEncoder::Options options;
        options.rowsWritten = &rows;
        auto png = QtConcurrent::run([&] { return PngEncoder::encode(photo, options); });
        rows.publish(200);
        rows.fail();
        QVERIFY2(png.result().isEmpty(), "a PNG of half-decoded rows");
    }

    void pngRoundTripsExactly()
    {
        // Sizes that split into several stripes of uneven height, odd widths, a single row and
        // column, every filter, on one thread and on several; transparency where there is some.
        // Each image, its row filter and the threads (0: as many as there are cores).
        QList<std::tuple<QImage, int, int>> cases{
            {photoLike(3000, 1, true), 4, 0},
            {photoLike(1, 3000, false), 4, 1},
            {photoLike(640, 480, false).convertToFormat(QImage::Format_Grayscale8), 2, 0},
            {photoLike(64, 64, false).convertToFormat(QImage::Format_Indexed8), 4, 0},
            {photoLike(64, 64, true).convertToFormat(QImage::Format_Indexed8), 4, 0},
            {photoLike(501, 301, false).convertToFormat(QImage::Format_RGB888), 4, 0}};
        for (int filter = 0; filter <= 4; ++filter)
            cases << std::tuple{photoLike(1201, 997, false), filter, 0}
                  << std::tuple{photoLike(333, 1501, true), filter, 3};
        for (const auto& [image, filter, threads] : cases) {
            PngEncoder::Options options;
            options.filter = PngEncoder::RowFilter(filter);
            options.threads = threads;
            // Qt's reader checks every CRC and the Adler-32 trailer.
            const QImage decoded = QImage::fromData(PngEncoder::encode(image, options), "PNG");
            const auto format = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
            const QString what = QStringLiteral("%1x%2 filter %3").arg(image.width()).arg(image.height()).arg(filter);
            QVERIFY2(decoded.hasAlphaChannel() == image.hasAlphaChannel(), qPrintable(what));
            QVERIFY2(decoded.convertToFormat(format) == image.convertToFormat(format), qPrintable(what));
        }
        // zlib's deflate, the benchmark's reference for the program's coder, writes as valid a file.
        PngEncoder::Options reference;
        reference.zlibReference = true;
        reference.threads = 3;
        const QImage photo = photoLike(333, 1501, true);
        QCOMPARE(QImage::fromData(PngEncoder::encode(photo, reference), "PNG").convertToFormat(QImage::Format_ARGB32),
                 photo.convertToFormat(QImage::Format_ARGB32));
    }

    void theDeflateStreamInflatesToWhatWasWrittenAndIsAsSmallAsZlibs()
    {
        // Runs of every length around the limits (2, 3, 258, 259, ...); a byte so skewed
        // in frequency that its plain Huffman code would be longer than deflate allows; nothing.
        QRandomGenerator random(11);
        QByteArray runs, skewed;
        for (int length = 1; length < 700; length += length < 12 || length > 250 ? 1 : 37)
            runs += QByteArray(length, char(length)) + char(255 - length);
        for (int symbol = 0, count = 1, before = 1; symbol < 24; ++symbol, count = std::exchange(before, count) + count)
            skewed += QByteArray(count, char(symbol));
        std::shuffle(skewed.begin(), skewed.end(), random);
        for (const QByteArray& data : {runs, skewed, QByteArray(100000, 'x'), QByteArray()}) {
            // Two streams joined as the encoder's stripes are: the first ends on a flush.
            QByteArray deflated;
            const auto* bytes = reinterpret_cast<const quint8*>(data.constData());
            RunLengthDeflater first(deflated), second(deflated);
            first.write(bytes, data.size() / 3);
            first.finish(false);
            second.write(bytes + data.size() / 3, data.size() - data.size() / 3);
            second.finish(true);
            const QByteArray zlibs = rawZlib(data);
            QVERIFY2(
                rawZlib(deflated, data.size()) == data && deflated.size() <= zlibs.size() * 1.01 + 256,
                qPrintable(
                    QStringLiteral("%1 bytes: %2, zlib's %3").arg(data.size()).arg(deflated.size()).arg(zlibs.size())));
        }
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
