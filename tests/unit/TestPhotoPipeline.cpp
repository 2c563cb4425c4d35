#include "FakeStatusItem.h"
#include "PhotoFixtures.h"

#include "app/AppDelegate.h"
#include "platform/base/NotificationCenter.h"
#include "platform/files/UserDirectories.h"
#include "platform/image/ImageDecoder.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/ReminderAttachment.h"
#include "views/NavigationNotifications.h"
#include "views/PhotoWell.h"
#include "views/PopoverView.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace PhotoFixtures;

namespace {

// Red grows to the right, green downwards, blue marks the top-left quarter: a square cut in
// the wrong place or turned the wrong way differs in most of its pixels.
QImage gradient(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(255 * x / w, 255 * y / h, x < w / 2 && y < h / 2 ? 255 : 0));
    return image;
}

// Mean difference per channel of two pictures brought to the same small square.
double difference(const QImage& a, const QImage& b)
{
    const QImage x = PhotoWell::filledSquare(a, 48).convertToFormat(QImage::Format_RGB32);
    const QImage y = PhotoWell::filledSquare(b, 48).convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int j = 0; j < 48; ++j) {
        for (int i = 0; i < 48; ++i) {
            const QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (48 * 48 * 3);
}

// A HEIC file as cameras write one: shown with `orientation`, with a thumbnail of at most
// 320 pixels a side.
QByteArray heicWithThumbnail(const QImage& source, int orientation)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    QByteArray out;
    if (encoder) {
        heif_encoder_set_lossy_quality(encoder, 95);
        heif_image* picture = nullptr;
        heif_image_create(image.width(), image.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture);
        heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        for (int y = 0; y < image.height(); ++y)
            memcpy(plane + y * stride, image.constScanLine(y), size_t(image.width()) * 3);
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = heif_orientation(orientation);
        heif_image_handle* handle = nullptr;
        heif_context_encode_image(context, picture, encoder, options, &handle);
        heif_context_encode_thumbnail(context, picture, handle, encoder, options, 320, nullptr);
        heif_image_handle_release(handle);
        heif_encoding_options_free(options);
        heif_image_release(picture);
        heif_encoder_release(encoder);
        heif_writer writer{1, &writeToBuffer};
        heif_context_write(context, &writer, &out);
    }
    heif_context_free(context);
    return out;
}

QByteArray storedPhoto()
{
    return UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData).value_or(QByteArray());
}

} // namespace

class TestPhotoPipeline : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString file(const QString& name, const QByteArray& bytes)
    {
        writeFile(m_dir.filePath(name), bytes);
        return m_dir.filePath(name);
    }

private slots:
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
        for (int orientation : {1, 2, 3, 6, 7})
            QTest::addRow("heic %d", orientation) << heicWithThumbnail(photo, orientation) << true;
    }

    void theSquareAndItsPreviewAreTheFullDecodesCentre()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, hasPreview);
        if (data.isEmpty())
            QSKIP("libheif has no HEVC encoder here to make the fixture");
        const QImage full = PopoverView::cropToSquare(ImageDecoder::decode(data));
        QCOMPARE(ImageDecoder::decodeCentredSquare(data), full);
        const QImage preview = ImageDecoder::decodeCentredSquarePreview(data, 100);
        QCOMPARE(preview.isNull(), !hasPreview);
        if (hasPreview) {
            QCOMPARE(preview.width(), preview.height());
            QVERIFY2(preview.width() >= 100 && preview.width() < full.width(),
                     qPrintable(QString::number(preview.width())));
            QVERIFY2(difference(preview, full) < 4, qPrintable(QString::number(difference(preview, full))));
        }
    }

    // Settings → Back, or Exit, while a chosen photo decodes: the view that asked for it is
    // gone, yet the photo reaches the icon, the store and the view on screen.
    void aPhotoDecodingWhenItsViewGoesStillArrives()
    {
        const QImage photo = gradient(1200, 800);
        const QString path = file("chosen.jpg", jpegWithOrientation(photo, 6));
        UserDefaults::standard().setData(PreferenceKeys::SavedImageData,
                                         encoded(gradient(60, 40).mirrored(true, true), "PNG"));
        FakeStatusBar bar;
        auto delegate = std::make_unique<AppDelegate>(Edition::Perchlight, bar);
        delegate->applicationDidFinishLaunching();
        QSignalSpy previews(&delegate->photoIntake(), &PhotoIntake::previewShown);
        QSignalSpy accepted(&delegate->photoIntake(), &PhotoIntake::photoAccepted);
        qobject_cast<PopoverView*>(delegate->popover().content())->loadPhoto(QUrl::fromLocalFile(path));
        NotificationCenter::defaultCenter().post(NavigationNotifications::OpenSettings);
        NotificationCenter::defaultCenter().post(NavigationNotifications::openPopoverView);
        auto* view = qobject_cast<PopoverView*>(delegate->popover().content());
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 10000);
        delegate->savedPhotoWriter().waitForDone();
        const QImage square = ImageDecoder::decodeCentredSquare(*ImageDecoder::readRegularFile(path));
        QCOMPARE(ImageDecoder::decode(storedPhoto()).convertToFormat(square.format()), square);
        QCOMPARE(view->image(), PhotoWell::filledSquare(square, view->image().width()));
        QVERIFY(difference(bar.last->icon.pixmap(22).toImage(), square) < 12);
        // A preview, when it came before the photo, is of the same crop turned the same way.
        QVERIFY(previews.count() <= 1);
        if (!previews.isEmpty())
            QVERIFY(difference(previews.first().first().value<QImage>(), square) < 4);

        // Exit: the program ends while the next photo decodes; it is stored all the same.
        const QString next = file("next.png", encoded(gradient(90, 60).mirrored(true, false), "PNG"));
        view->loadPhoto(QUrl::fromLocalFile(next));
        delegate.reset();
        QCOMPARE(ImageDecoder::decode(storedPhoto()), PopoverView::cropToSquare(ImageDecoder::decodeFile(next)));
    }

    // While a new photo is encoded and written, a popover built then and a notification sent
    // then get the new photo, not the one still in the store.
    void readersOfThePhotoSeeTheOneStillBeingWritten()
    {
        UserDefaults::standard().setData(PreferenceKeys::SavedImageData,
                                         encoded(gradient(60, 40).mirrored(true, true), "PNG"));
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        delegate.applicationDidFinishLaunching();
        delegate.openSettings();
        auto* settings = qobject_cast<SettingsView*>(delegate.settingsPopover().content());
        QVERIFY(settings);
        QImage noise(1500, 1500, QImage::Format_RGB32); // slow to deflate
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x ^ y) & 255, (x * y) % 253));
        delegate.savePhoto(noise);
        emit settings->previewRequested();
        PopoverView view(&delegate);
        view.show();
        QTRY_VERIFY(!view.image().isNull());
        QCOMPARE(view.image(), PhotoWell::filledSquare(noise, view.image().width()));
        delegate.savedPhotoWriter().waitForDone();
        const QString attachment = UserDirectories::temporaryDirectory() + '/' + Reminders::kAttachmentFileName;
        QCOMPARE(ImageDecoder::decodeFile(attachment).convertToFormat(QImage::Format_RGB32), noise);
    }

    void dropsAreCopiesOfPhotoFilesOnly_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<Qt::DropActions>("offered");
        QTest::addColumn<bool>("entered");
        QTest::addColumn<bool>("dropped");
        const QUrl photo = QUrl::fromLocalFile(file("photo.png", encoded(gradient(60, 40), "PNG")));
        const QString fifo = m_dir.filePath("fifo.png");
        mkfifo(QFile::encodeName(fifo).constData(), 0600);
        const Qt::DropActions any = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QTest::newRow("photo, any action") << photo << any << true << true;
        QTest::newRow("photo, to be moved only") << photo << Qt::DropActions(Qt::MoveAction) << false << false;
        QTest::newRow("web link") << QUrl("https://example.com/photo.png") << any << false << false;
        QTest::newRow("folder") << QUrl::fromLocalFile(m_dir.path()) << any << true << false;
        QTest::newRow("fifo") << QUrl::fromLocalFile(fifo) << any << true << false;
        QTest::newRow("text") << QUrl::fromLocalFile(file("notes.png", "Dear diary")) << any << true << false;
    }

    void dropsAreCopiesOfPhotoFilesOnly()
    {
        QFETCH(QUrl, url);
        QFETCH(Qt::DropActions, offered);
        QFETCH(bool, entered);
        QFETCH(bool, dropped);
        PopoverView view(nullptr);
        QMimeData mime;
        mime.setUrls({url});
        QDragEnterEvent enter(QPoint(100, 100), offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.photoWell(), &enter);
        QCOMPARE(enter.isAccepted(), entered);
        QSignalSpy finished(&view, &PopoverView::photoIntakeFinished);
        QDropEvent drop(QPointF(100, 100), offered, &mime, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(view.photoWell(), &drop);
        QCOMPARE(drop.isAccepted(), dropped);
        if (dropped) {
            QCOMPARE(drop.dropAction(), Qt::CopyAction);
            QVERIFY(finished.wait(10000));
        }
    }

    void theFileDialogListsEachTypeOnce()
    {
        // "HEIF image" once, though image/heic and image/heif both name it.
        const QStringList filters = PopoverView::photoNameFilters();
        QSet<QString> descriptions;
        for (const QString& filter : filters)
            descriptions << filter.section(QLatin1String(" ("), 0, 0);
        QCOMPARE(descriptions.size(), filters.size());
        for (const char* glob : {"*.png", "*.jpg", "*.heic", "*.heif"})
            QVERIFY2(filters.first().contains(QLatin1String(glob)), qPrintable(filters.first()));
    }
};

QTEST_MAIN(TestPhotoPipeline)
#include "TestPhotoPipeline.moc"
