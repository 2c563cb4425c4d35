// The program around the views: the delegate's popovers and navigation, the photo intake
// into the tray icon and the store, the Start at Login entry of the tray menu, and the texts in
// the user's language.
#include "ChildProcess.h"
#include "Fakes.h"
#include "OutputCapture.h"
#include "PhotoFixtures.h"
#include "app/AppDelegate.h"
#include "app/StartAtLogin.h"
#include "app/StatusIconRenderer.h"
#include "app/Translations.h"
#include "platform/base/NotificationCenter.h"
#include "platform/files/UserDirectories.h"
#include "platform/image/ImageDecoder.h"
#include "platform/session/DisplayCheck.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/ReminderAttachment.h"
#include "views/ElidedLabel.h"
#include "views/NavigationNotifications.h"
#include "views/PhotoIntake.h"
#include "views/PhotoWell.h"
#include "views/PopoverView.h"
#include "views/SettingsView.h"

#include <QLocalServer>
#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>
#include <zlib.h>

using namespace PhotoFixtures;

namespace {

void post(const QString& name)
{
    NotificationCenter::defaultCenter().post(name);
}

// Whether a popover is shown, its content size and its behaviour, in one line.
QString state(const AnchoredPopover& popover)
{
    const QSize size = popover.contentSize();
    return QStringLiteral("%1 %2x%3 %4")
        .arg(popover.isShown())
        .arg(size.width())
        .arg(size.height())
        .arg(int(popover.behavior()));
}

// Whether the popover shows its whole content: at least the content size set, and nothing
// to scroll.
bool showsEverything(AnchoredPopover& popover)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const auto* area = popover.findChild<QScrollArea*>();
    return popover.isVisible() && area->verticalScrollBar()->maximum() == 0 &&
           area->size().expandedTo(popover.contentSize()) == area->size() &&
           popover.content()->height() >= popover.content()->minimumSizeHint().height();
}

QByteArray storedPhoto()
{
    return UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData).value_or(QByteArray());
}

QRgb centre(const QImage& image)
{
    return image.pixel(image.width() / 2, image.height() / 2);
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeStatusBar m_bar;
    std::unique_ptr<AppDelegate> m_delegate;
    PopoverView* m_view = nullptr; // the launch popover's

    QUrl file(const QString& name, const QByteArray& bytes)
    {
        writeFile(m_dir.filePath(name), bytes);
        return QUrl::fromLocalFile(m_dir.filePath(name));
    }
    // Loads `urls` one after the other (or drops them on the well) and waits for every load
    // started to end, the store's write included; whether any was taken.
    bool intake(const QList<QUrl>& urls, bool drop = false)
    {
        QSignalSpy finished(m_view, &PopoverView::photoIntakeFinished);
        if (drop && !m_view->handlePhotoDrop(urls))
            return false;
        for (const QUrl& url : drop ? QList<QUrl>() : urls)
            m_view->loadPhoto(url);
        const bool ended =
            QTest::qWaitFor([&] { return finished.size() == (drop ? 1 : urls.size()); }, scaledMs(15000));
        m_delegate->savedPhotoWriter().waitForDone();
        return ended && std::any_of(finished.begin(), finished.end(), [](const auto& f) { return f.first().toBool(); });
    }

private slots:
    void initTestCase()
    {
        m_delegate = std::make_unique<AppDelegate>(Edition::Perchlight, m_bar);
        // The navigation tests post the names for delegates of their own.
        NotificationCenter::defaultCenter().removeObserver(m_delegate.get());
        m_delegate->applicationDidFinishLaunching();
        m_delegate->togglePopover();
        m_view = qobject_cast<PopoverView*>(m_delegate->popover().content());
        QTRY_VERIFY(!m_view->image().isNull()); // the built-in picture, nothing being stored
        m_delegate->togglePopover();
    }

    void theEditionsNavigateBetweenTheirPopovers()
    {
        // Nothing scrolls in any popover, at a large font too.
        for (int run = 0; run < 4; ++run) {
            const Edition edition = run % 2 ? Edition::PortraitPerch : Edition::Perchlight;
            QFont font;
            font.setPointSize(run < 2 ? font.pointSize() : 15);
            QApplication::setFont(font);
            const bool perchlight = edition == Edition::Perchlight;
            FakeStatusBar bar;
            AppDelegate delegate(edition, bar);
            delegate.applicationDidFinishLaunching();
            AnchoredPopover& photo = delegate.popover();
            AnchoredPopover& settings = delegate.settingsPopover();
            QCOMPARE(photo.content(), nullptr); // made when it first opens
            bar.last->click();
            QWidget* launchView = photo.content();
            // The icon's click toggles the photo popover and closes the settings, whatever is shown.
            for (auto [settingsShown, photoShown] :
                 {std::pair{false, false}, {false, true}, {true, false}, {true, true}}) {
                settings.setVisible(settingsShown);
                photo.setVisible(photoShown);
                bar.last->click();
                QVERIFY(!settings.isShown());
                QVERIFY(photo.isShown() != photoShown);
                QVERIFY(photo.content() == launchView);
            }
            // A click outside the transient popover closes it when the click ends, not when it starts.
            bar.last->click();
            QVERIFY(showsEverything(photo));
            QTest::mousePress(&photo, Qt::LeftButton, {}, QPoint(-20, -20));
            QCOMPARE(state(photo), QStringLiteral("1 250x300 1"));
            QTest::mouseRelease(&photo, Qt::LeftButton, {}, QPoint(-20, -20));
            QVERIFY(!photo.isShown());
            bar.last->click();
            post(NavigationNotifications::OpenSettings);
            QCOMPARE(state(photo) + ", " + state(settings),
                     perchlight ? "0 250x300 1, 1 300x360 2" : "0 250x300 1, 1 300x180 2");
            QVERIFY(showsEverything(settings));
            QPointer<QWidget> firstSettings = settings.content();
            post(NavigationNotifications::openPopoverView); // Back: Perchlight's only
            QCOMPARE(state(photo) + ", " + state(settings),
                     perchlight ? "1 250x350 2, 0 300x360 2" : "0 250x300 1, 1 300x180 2");
            QCOMPARE(photo.content() == launchView, !perchlight);
            QVERIFY(showsEverything(perchlight ? photo : settings));
            post(NavigationNotifications::OpenSettings); // a settings view of its own each time
            QVERIFY(firstSettings.isNull());
            QVERIFY(qobject_cast<SettingsView*>(settings.content()));
        }
        QApplication::setFont(QFont());
    }

    // The navigation goes to this delegate only, never to one that was destroyed before it.
    void beforeLaunchNothingOpensWithoutATrayWindowsDo()
    {
        using Presentation = AnchoredPopover::Presentation;
        FakeStatusBar bar;
        alignas(AppDelegate) unsigned char storage[sizeof(AppDelegate)];
        (new (storage) AppDelegate(Edition::Perchlight, bar))->applicationDidFinishLaunching();
        std::launder(reinterpret_cast<AppDelegate*>(storage))->~AppDelegate();
        std::memset(storage, 0xA5, sizeof storage); // a handler left behind would call into this, and crash
        bar.available = false;
        AppDelegate delegate(Edition::Perchlight, bar);
        post(NavigationNotifications::OpenSettings);
        QVERIFY(!delegate.settingsPopover().isShown());
        delegate.applicationDidFinishLaunching();
        // Without a tray the photo popover is a window (navigating in it: the desktop test).
        QVERIFY(delegate.popover().isShown());
        QVERIFY(delegate.popover().presentation() == Presentation::Window);
        QTRY_VERIFY(!bar.last->icon.isNull()); // for the tray that may come later
        // A tray comes: a click on its icon brings the popover beside it.
        bar.last->available = true;
        bar.last->click();
        QVERIFY(delegate.popover().isShown());
        QVERIFY(delegate.popover().presentation() == Presentation::Anchored);
    }

    void anAcceptedPhotoIsCroppedShownIconedAndStoredForTheNextStart()
    {
        // The centred square; the half-pixel offset of an odd difference is rounded down.
        for (auto [size, square] : {std::pair{QSize(400, 300), QRect(50, 0, 300, 300)},
                                    {QSize(300, 400), QRect(0, 50, 300, 300)},
                                    {QSize(301, 300), QRect(0, 0, 300, 300)},
                                    {QSize(300, 303), QRect(0, 1, 300, 300)}})
            QCOMPARE(PopoverView::cropToSquare(coordinates(size.width(), size.height())),
                     coordinates(size.width(), size.height()).copy(square));
        const QImage square = coordinates(400, 400).copy(50, 0, 300, 300);
        // Through a link, as a photo in a linked folder is.
        const QString wide = file(QStringLiteral("wide.png"), encoded(coordinates(400, 300), "PNG")).toLocalFile();
        QVERIFY(QFile::link(wide, m_dir.filePath(QStringLiteral("link.png"))));
        QVERIFY(intake({QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("link.png")))}));
        QCOMPARE(ImageDecoder::decode(storedPhoto()).convertToFormat(QImage::Format_RGB32), square);
        const QImage shown = PhotoWell::filledSquare(square, m_view->image().width());
        QCOMPARE(m_view->image(), shown);
        QCOMPARE(m_bar.last->pixels(),
                 StatusIconRenderer::renderSquare(shown, 22).convertToFormat(QImage::Format_RGB32));
        // The next start reads the same photo back: the icon once decoded, the popover in full.
        FakeStatusBar nextBar;
        AppDelegate next(Edition::Perchlight, nextBar);
        next.applicationDidFinishLaunching();
        QTRY_VERIFY(!nextBar.last->icon.isNull());
        const double iconOff = difference(nextBar.last->pixels(), StatusIconRenderer::renderSquare(square, 22));
        QVERIFY2(iconOff < 3, qPrintable(QString::number(iconOff)));
        next.togglePopover();
        auto* nextView = qobject_cast<PopoverView*>(next.popover().content());
        QTRY_COMPARE(nextView->image(), shown);
        {
            // The other edition stores a photo while a start still decodes the previous one:
            // the newer one stays, whichever decode ends first.
            FakeStatusBar bar;
            AppDelegate starting(Edition::Perchlight, bar);
            QSignalSpy loads(&starting, &AppDelegate::statusIconLoaded);
            starting.applicationDidFinishLaunching();
            UserDefaults::standard().setData(PreferenceKeys::SavedImageData, encoded(solid(Qt::cyan), "PNG"));
            QTRY_COMPARE(loads.size(), 2);
            QCOMPARE(QColor(bar.last->pixels().pixel(11, 11)), QColor(Qt::cyan));
        }
        // Reopening keeps the photo held: the store is not read again, even once such a read
        // would have come back from the decoding pool.
        UserDefaults::standard().setData(PreferenceKeys::SavedImageData, encoded(solid(Qt::yellow), "PNG"));
        // A photo stored by another writer (the other edition) reaches every icon.
        QTRY_VERIFY2(near(nextBar.last->pixels().pixel(11, 11), Qt::yellow, 8), "the other copy's icon follows");
        next.togglePopover();
        next.togglePopover();
        QVERIFY(next.photoIntake().pool().waitForDone(scaledMs(10000)));
        QCoreApplication::processEvents();
        QCOMPARE(nextView->image(), shown);
        // A big JPEG takes longer to decode than a small PNG: the one picked later wins, unless
        // it is no photo.
        const QUrl slow = file(QStringLiteral("slow.jpg"), encoded(solid(Qt::darkCyan, 3000, 2000), "JPEG"));
        const QUrl quick = file(QStringLiteral("quick.png"), encoded(solid(Qt::magenta), "PNG"));
        const QUrl bad = file(QStringLiteral("bad.png"), "not a photo");
        for (auto [first, second, colour] : {std::tuple{slow, quick, Qt::magenta},
                                             {quick, slow, Qt::darkCyan},
                                             {quick, bad, Qt::magenta},
                                             {slow, bad, Qt::darkCyan}}) {
            QVERIFY(intake({first, second}));
            QVERIFY2(near(centre(m_view->image()), colour, 8) && near(m_bar.last->pixels().pixel(11, 11), colour, 8) &&
                         near(centre(ImageDecoder::decode(storedPhoto())), colour, 8),
                     qPrintable(first.fileName() + " " + second.fileName()));
        }
    }

    void whatIsNoPhotoChangesNothing()
    {
        const QByteArray png = encoded(coordinates(64, 48), "PNG");
        QByteArray huge = png; // a header that claims 100000 × 100000 pixels, with a valid checksum
        huge.replace(16, 8, QByteArray("\x00\x01\x86\xa0\x00\x01\x86\xa0", 8));
        const quint32 crc = qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(huge.constData() + 12), 17)));
        mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("fifo.png"))).constData(), 0600);
        const QList<QUrl> bad = {
            file(QStringLiteral("empty.png"), {}),
            file(QStringLiteral("cut.png"), png.left(png.size() / 2)),
            file(QStringLiteral("cut.heic"), heic(halves(64, 48)).left(400)),
            file(QStringLiteral("notes.jpg"), "Dear diary,\n"),
            file(QStringLiteral("huge.png"),
                 huge.replace(29, 4, QByteArray::fromRawData(reinterpret_cast<const char*>(&crc), 4))),
            QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("fifo.png"))),
            QUrl::fromLocalFile(m_dir.path()),
            QUrl::fromLocalFile(QStringLiteral("/dev/zero")),
            QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("gone.png"))),
            QUrl(QStringLiteral("https://example.com/photo.png"))};
        const QImage shown = m_view->image();
        const QImage icon = m_bar.last->pixels();
        const QByteArray stored = storedPhoto();
        OutputCapture out;
        for (const QUrl& url : bad) {
            QVERIFY2(!intake({url}) && !intake({url, file(QStringLiteral("good.png"), png)}, true),
                     qPrintable(url.toString()));
            QVERIFY2(m_view->image() == shown && m_bar.last->pixels() == icon && storedPhoto() == stored,
                     qPrintable(url.toString()));
        }
        QCOMPARE(out.finish(), QString());
    }

    void aDropOnTheWellLoadsTheFirstFileLater()
    {
        QMimeData text, remote, files;
        text.setText(QStringLiteral("/tmp/photo.png"));
        remote.setUrls({QUrl(QStringLiteral("https://example.com/photo.png"))});
        files.setUrls({file(QStringLiteral("first.png"), encoded(solid(Qt::green), "PNG")),
                       file(QStringLiteral("second.png"), encoded(solid(Qt::red), "PNG"))});
        const QImage before = m_view->image();
        QSignalSpy finished(m_view, &PopoverView::photoIntakeFinished);
        // Each drag enters, then drops; a drop goes to where its drag was last accepted. Only
        // local files are taken, and only as copies: a move would delete the user's original.
        QList<bool> accepted;
        const auto copyOrMove = Qt::CopyAction | Qt::MoveAction;
        for (auto [mime, actions] : {std::pair{&text, copyOrMove},
                                     {&remote, copyOrMove},
                                     {&files, Qt::DropActions(Qt::MoveAction)},
                                     {&files, copyOrMove}}) {
            QDragEnterEvent enter(QPoint(100, 100), actions, mime, Qt::LeftButton, Qt::NoModifier);
            QDropEvent drop(QPointF(100, 100), actions, mime, Qt::LeftButton, Qt::ShiftModifier); // Shift: a move
            QApplication::sendEvent(m_view->photoWell(), &enter);
            if (enter.isAccepted())
                QApplication::sendEvent(m_view->photoWell(), &drop);
            accepted << enter.isAccepted() << (enter.isAccepted() && drop.isAccepted());
            QVERIFY(!drop.isAccepted() || drop.dropAction() == Qt::CopyAction);
        }
        QCOMPARE(accepted, QList<bool>({false, false, false, false, false, false, true, true}));
        QCOMPARE(m_view->image(), before); // the handler returned before loading
        QVERIFY(finished.wait(scaledMs(10000)));
        QCOMPARE(near(centre(m_view->image()), Qt::green, 8), true);
    }

    // Choosing through the dialog is tested on a real desktop.
    void theFileDialogOffersEveryKindOfPhotoThatIsRead()
    {
        // All four kinds together, then each kind on its own; nothing else.
        const QStringList offered = PopoverView::photoNameFilters();
        QVERIFY2(QRegularExpression("^Photos \\(.*\\*\\.png.*\\*\\.jpe?g.*\\*\\.heic.*\\*\\.heif.*\\)$")
                         .match(offered.value(0))
                         .hasMatch() &&
                     !offered.join(' ').contains(QLatin1String("*.gif")),
                 qPrintable(offered.join(" | ")));
        QStringList kinds; // "HEIF image" once, though image/heic and image/heif both name it
        for (const QString& filter : offered.mid(1))
            kinds << filter.section(QLatin1String(" ("), 0, 0);
        QCOMPARE(kinds.removeDuplicates(), 0);
    }

    void theViewFitsItsPopoverWithTheTitleShortenedAndExitInRed()
    {
        auto* title = m_view->findChild<ElidedLabel*>();
        Preferences::write(PreferenceKeys::popoverTitle, QString());
        QCOMPARE(title->text(), QStringLiteral("Your MenuBar Photo"));
        Preferences::write(PreferenceKeys::popoverTitle,
                           QStringLiteral("<b>Grandma Rosa</b> in her garden, the summer we all came home"));
        QCOMPARE(title->textFormat(), Qt::PlainText); // the user's own text, never markup
        QCOMPARE(m_bar.last->toolTip, "Perchlight\n" + title->text());
        m_delegate->togglePopover();
        QVERIFY(QTest::qWaitForWindowExposed(&m_delegate->popover()));
        // The controls never squeeze onto the well, and nothing sticks out at the sides.
        QVERIFY(m_view->width() <= m_view->parentWidget()->width());
        int above = title->geometry().bottom();
        for (QWidget* widget :
             {static_cast<QWidget*>(m_view->photoWell()), m_view->findChild<QWidget*>(QStringLiteral("changePhoto")),
              m_view->findChild<QWidget*>(QStringLiteral("settings")),
              m_view->findChild<QWidget*>(QStringLiteral("exit"))})
            QVERIFY2(widget->geometry().top() > std::exchange(above, widget->geometry().bottom()),
                     widget->metaObject()->className());
        // Cut at the right with "…", within its width; the whole title stays within reach.
        const QString shown = title->shownText();
        QVERIFY2(shown.endsWith(QStringLiteral("…")) && title->text().startsWith(shown.chopped(1)), qPrintable(shown));
        QVERIFY(title->fontMetrics().horizontalAdvance(shown) <= title->contentsRect().width());
        QVERIFY(title->toolTip() == title->text());
        QVERIFY(title->accessibleName() == title->text());
        m_delegate->togglePopover();

        // Exit is red, and the symbols are drawn in their label's colour, on either palette.
        auto* exit = m_view->findChild<QPushButton*>(QStringLiteral("exit"));
        auto* change = m_view->findChild<QPushButton*>(QStringLiteral("changePhoto"));
        const QPalette original = QApplication::palette();
        QPalette dark = original;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
        for (const QPalette& palette : {original, dark}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            const QColor red = exit->palette().color(QPalette::ButtonText);
            QVERIFY2(red.red() == 255 && red.green() < 80 && red.blue() < 70, qPrintable(red.name()));
            const QImage glyph =
                change->icon().pixmap(change->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
            int inked = 0, offColour = 0;
            for (int i = 0; i < glyph.width() * glyph.height(); ++i) {
                const QRgb pixel = glyph.pixel(i % glyph.width(), i / glyph.width());
                inked += qAlpha(pixel) >= 128;
                offColour += qAlpha(pixel) >= 128 && !near(pixel, palette.color(QPalette::ButtonText), 12);
            }
            QVERIFY(inked > 0);
            QVERIFY(offColour == 0);
        }
        QApplication::setPalette(original);
    }

    // While a new photo is encoded and written, a popover built then and a notification sent
    // then get the new photo, not the one still in the store. Settings → Back while a chosen
    // photo decodes replaces the view that asked for it, and Exit ends the program: the photo
    // reaches the icon, the store and the view on screen.
    void aPhotoBeingDecodedOrWrittenReachesEveryReader()
    {
        FakeStatusBar bar;
        auto delegate = std::make_unique<AppDelegate>(Edition::Perchlight, bar);
        delegate->applicationDidFinishLaunching();
        delegate->openSettings();
        auto* settings = qobject_cast<SettingsView*>(delegate->settingsPopover().content());
        QImage noise(1500, 1500, QImage::Format_RGB32); // slow to deflate
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x ^ y) & 255, (x * y) % 253));
        delegate->savePhoto(noise);
        emit settings->previewRequested();
        {
            PopoverView view(delegate.get());
            view.show();
            QTRY_VERIFY(!view.image().isNull());
            QCOMPARE(view.image(), PhotoWell::filledSquare(noise, view.image().width()));
        }
        delegate->savedPhotoWriter().waitForDone();
        const QString attachment = UserDirectories::temporaryDirectory() + '/' + Reminders::kAttachmentFileName;
        QCOMPARE(ImageDecoder::decodeFile(attachment).convertToFormat(QImage::Format_RGB32), noise);

        const QString path =
            file(QStringLiteral("turned.jpg"), jpegWithOrientation(gradient(1200, 800), 6)).toLocalFile();
        QSignalSpy previews(&delegate->photoIntake(), &PhotoIntake::previewShown);
        QSignalSpy accepted(&delegate->photoIntake(), &PhotoIntake::photoAccepted);
        delegate->presentPopover();
        qobject_cast<PopoverView*>(delegate->popover().content())->loadPhoto(QUrl::fromLocalFile(path));
        post(NavigationNotifications::OpenSettings);
        post(NavigationNotifications::openPopoverView);
        auto* view = qobject_cast<PopoverView*>(delegate->popover().content());
        QVERIFY(accepted.wait(scaledMs(10000)));
        delegate->savedPhotoWriter().waitForDone();
        const QImage square = ImageDecoder::decodeCentredSquare(readFile(path));
        QCOMPARE(ImageDecoder::decode(storedPhoto()).convertToFormat(square.format()), square);
        QCOMPARE(view->image(), PhotoWell::filledSquare(square, view->image().width()));
        QVERIFY(difference(bar.last->pixels(), square) < 12);
        // A preview, when one came first, is of the same crop turned the same way.
        QVERIFY(previews.size() <= 1);
        QVERIFY(previews.isEmpty() || difference(previews[0][0].value<QImage>(), square) < 4);

        const QUrl next = file(QStringLiteral("next.png"), encoded(gradient(90, 60).mirrored(true, false), "PNG"));
        view->loadPhoto(next);
        delegate.reset();
        QCOMPARE(ImageDecoder::decode(storedPhoto()), ImageDecoder::decodeCentredSquare(readFile(next.toLocalFile())));
    }

    void theTrayIconIsTheWholePhotoAveraged()
    {
        // Stretched, not letterboxed or cropped; transparent where the photo is.
        const QImage wide = StatusIconRenderer::renderSquare(halves(400, 100), 22);
        QVERIFY(wide.pixel(0, 0) == qRgb(255, 0, 0));
        QVERIFY(wide.pixel(21, 21) == qRgb(0, 0, 255));
        QImage clear(50, 50, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        QCOMPARE(qAlpha(StatusIconRenderer::renderSquare(clear, 22).pixel(10, 10)), 0);
        // One-pixel stripes average to mid grey; point sampling would give black or white.
        QImage stripes(4000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < stripes.height(); ++y)
            for (int x = 0; x < stripes.width(); ++x)
                reinterpret_cast<QRgb*>(stripes.scanLine(y))[x] = x % 2 ? 0xffffffff : 0xff000000;
        const QIcon icon = StatusIconRenderer::render(stripes, 2.0);
        for (int side : {22, 44, 64}) {
            QVERIFY(icon.availableSizes().contains(QSize(side, side)));
            const QImage pixels = icon.pixmap(side).toImage();
            for (int x = 0; x < side; ++x)
                QVERIFY2(qAbs(qGray(pixels.pixel(x, side / 2)) - 128) < 24, qPrintable(QString::number(x)));
        }
        // Bytes that are not an image count as no photo: the built-in picture is used.
        UserDefaults::standard().setData(PreferenceKeys::SavedImageData, "not an image");
        m_delegate->loadStatusIcon();
        QTRY_COMPARE(m_bar.last->pixels(),
                     StatusIconRenderer::renderSquare(QImage(QStringLiteral(":/museIcon.png")), 22)
                         .convertToFormat(QImage::Format_RGB32));
    }

    void startAtLoginWritesAndRemovesTheAutostartEntry()
    {
        const QString entry = UserDirectories::autostartDirectory() + QStringLiteral("/perchlight.desktop");
        const QString program = m_dir.filePath(QStringLiteral("perchlight")); // not on PATH
        QVERIFY(QDir().mkpath(entry)); // a folder in the file's place: the write fails
        QMenu menu;
        StartAtLogin perchlight(Edition::Perchlight, program, &menu);
        StartAtLogin portraitPerch(Edition::PortraitPerch, program, &menu);
        perchlight.action()->trigger();
        QVERIFY(!perchlight.action()->isChecked());
        QVERIFY(QDir(entry).removeRecursively());
        // An entry switched off by hand is replaced, not left hidden; a link there is replaced,
        // not written through.
        const QString linked = file(QStringLiteral("linked.desktop"), "[Desktop Entry]\nHidden=true\n").toLocalFile();
        QVERIFY(QFile::link(linked, entry));
        perchlight.action()->trigger();
        QVERIFY(!QFileInfo(entry).isSymLink());
        QVERIFY(readFile(linked).contains("Hidden=true"));
        QVERIFY(perchlight.action()->isChecked());
        QVERIFY(!portraitPerch.action()->isChecked());
        QCOMPARE(runToEnd(QStringLiteral("desktop-file-validate"), {entry}), 0);
        const QString written = QString::fromUtf8(readFile(entry));
        for (const QString& line :
             {QStringLiteral("\nName=Perchlight\n"), QStringLiteral("\nIcon=perchlight\n"), "\nExec=" + program + '\n'})
            QVERIFY2(written.contains(line) && !written.contains(QLatin1String("Hidden")), qPrintable(written));
        perchlight.action()->trigger();
        portraitPerch.action()->trigger(); // each edition has an entry of its own
        QVERIFY(!perchlight.action()->isChecked());
        QVERIFY(!QFileInfo::exists(entry));
        QVERIFY(readFile(UserDirectories::autostartDirectory() + QStringLiteral("/portraitperch.desktop"))
                    .contains("\nName=PortraitPerch\n"));
        // The check mark follows the file, read each time the menu opens.
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=Perchlight\nExec=perchlight\n";
        for (const auto& [content, enabled] : {std::pair{head, true},
                                               {head + "Hidden=true\n", false},
                                               {head + "Hidden = true\n", false},
                                               {head + "Hidden=false\n", true},
                                               {head + "X-GNOME-Autostart-enabled=false\n", false},
                                               {head + "[Desktop Action quit]\nHidden=true\n", true},
                                               {QByteArray("Exec=perchlight\n"), false}}) {
            QVERIFY(writeFile(entry, content));
            emit menu.aboutToShow();
            QVERIFY2(perchlight.action()->isChecked() == enabled, content.constData());
        }
    }

    void anInstalledProgramIsStartedByItsName()
    {
        // The running program, and another of the same name elsewhere.
        const QString bin = m_dir.filePath(QStringLiteral("bin")), other = m_dir.filePath(QStringLiteral("other"));
        for (const QString& folder : {bin, other}) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(writeFile(folder + QStringLiteral("/perchlight"), "#!/bin/sh\n"));
            QVERIFY(QFile::setPermissions(folder + QStringLiteral("/perchlight"), QFile::ReadOwner | QFile::ExeOwner));
        }
        const QByteArray path = qgetenv("PATH");
        for (const auto& [folder, command] :
             {std::pair{bin, QStringLiteral("perchlight")}, {other, bin + QStringLiteral("/perchlight")}}) {
            qputenv("PATH", QFile::encodeName(folder) + ':' + path);
            QCOMPARE(StartAtLogin::launchCommand(QStringLiteral("perchlight"), bin + QStringLiteral("/perchlight")),
                     command);
        }
        qputenv("PATH", path);
        // Quoting escapes first, then the string escapes double every backslash.
        for (const auto& [awkward, exec] : {std::pair{"/home/a b/perchlight", "\"/home/a b/perchlight\""},
                                            {"/opt/100%/perchlight", "/opt/100%%/perchlight"},
                                            {"/opt/$HOME/perchlight", "\"/opt/\\\\$HOME/perchlight\""},
                                            {"/opt/a\\b/p", "\"/opt/a\\\\\\\\b/p\""}})
            QCOMPARE(AutostartEntry::execValue(QString::fromUtf8(awkward)), QString::fromUtf8(exec));
    }

    // The display check tries the displays in Qt's order: a live Wayland socket starts the program
    // whatever DISPLAY says; without one, X11's problem is said, or Wayland's where Qt tries only it.
    void theDisplayCheckAsksOnlyWhatQtWouldUse()
    {
        const QStringList names{"QT_QPA_PLATFORM",  "WAYLAND_DISPLAY", "WAYLAND_SOCKET",
                                "XDG_SESSION_TYPE", "XDG_RUNTIME_DIR", "DISPLAY"};
        QHash<QString, QByteArray> saved;
        for (const QString& name : names) {
            saved.insert(name, qgetenv(qPrintable(name)));
            qunsetenv(qPrintable(name));
        }
        QLocalServer compositor; // a listening socket is all the check connects to
        QVERIFY(compositor.listen(m_dir.filePath(QStringLiteral("wayland-live"))));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
        const QString stale = QStringLiteral("cannot connect to the display :4091");
        const QString noDisplay = QStringLiteral("no display: DISPLAY is not set; start the program from a "
                                                 "graphical session");
        struct Case
        {
            QByteArray platform, wayland, session, display;
            std::optional<QString> problem;
        };
        for (const Case& c :
             {Case{"", "wayland-live", "wayland", ":4091", std::nullopt}, Case{"", "", "wayland", ":4091", stale},
              Case{"", "wayland-gone", "", ":4091", stale}, Case{"", "", "", "", noDisplay},
              Case{"wayland", "wayland-gone", "", "",
                   QStringLiteral("cannot connect to the Wayland "
                                  "display wayland-gone")},
              Case{"xcb;wayland", "wayland-live", "", ":4091", std::nullopt},
              Case{"offscreen", "", "", "", std::nullopt}}) {
            for (const auto& [name, value] : {std::pair{"QT_QPA_PLATFORM", c.platform},
                                              {"WAYLAND_DISPLAY", c.wayland},
                                              {"XDG_SESSION_TYPE", c.session},
                                              {"DISPLAY", c.display}}) {
                if (value.isEmpty())
                    qunsetenv(name);
                else
                    qputenv(name, value);
            }
            QCOMPARE(DisplayCheck::displayProblem(), c.problem);
        }
        for (const QString& name : names) {
            if (saved.value(name).isEmpty())
                qunsetenv(qPrintable(name));
            else
                qputenv(qPrintable(name), saved.value(name));
        }
    }

    // The first of the user's languages (most preferred first) that the program has, Qt's own
    // texts with it; English before it keeps the texts as written.
    void theTextsComeInTheFirstLanguageThatThereIs()
    {
        for (const auto& [languages, taken] : {std::pair{QStringList{"de-AT"}, "de_AT"},
                                               {{"fr-FR", "xx", "de-DE"}, "de_DE"},
                                               {{"en-GB", "de-DE"}, ""}}) {
            QCOMPARE(Translations::install(*qApp, languages), QString::fromLatin1(taken));
            const bool german = *taken;
            QCOMPARE(SettingsView(Edition::Perchlight).previewButton()->text(),
                     german ? "Vorschau senden" : "Send Preview Notification");
            QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo") != QLatin1String("&Undo"), german);
            qDeleteAll(qApp->findChildren<QTranslator*>());
        }
    }
};

QTEST_MAIN(TestApp)
#include "TestApp.moc"
