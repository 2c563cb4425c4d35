#include "FakeStatusItem.h"
#include "PhotoFixtures.h"

#include "app/AppDelegate.h"
#include "app/StatusIconRenderer.h"
#include "platform/image/ImageDecoder.h"
#include "platform/popover/AnchoredPopover.h"
#include "preferences/PreferenceKeys.h"
#include "views/ElidedLabel.h"
#include "views/PhotoWell.h"
#include "views/PopoverView.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace PhotoFixtures;

namespace {

QImage solid(const QColor& colour, int w = 60, int h = 40)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QColor centre(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

QByteArray storedPhoto()
{
    return UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData).value_or(QByteArray());
}

// Everything written to standard output (file descriptor 1) while it lives. Qt's messages
// go to standard error meanwhile, as they do in the program (the test logger would print
// them on standard output).
class StdoutCapture
{
public:
    StdoutCapture()
    {
        m_previousHandler = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
        });
        m_file.open();
        std::fflush(stdout);
        m_saved = ::dup(1);
        ::dup2(m_file.handle(), 1);
    }
    ~StdoutCapture() { finish(); } // restores standard output when a check fails early
    QByteArray finish()
    {
        if (m_saved < 0)
            return {};
        std::fflush(stdout);
        ::dup2(m_saved, 1);
        ::close(m_saved);
        m_saved = -1;
        qInstallMessageHandler(m_previousHandler);
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
    QtMessageHandler m_previousHandler = nullptr;
};

} // namespace

class TestPhotoIntake : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeStatusBar m_bar;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<PopoverView> m_view;

    QString file(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        writeFile(path, bytes);
        return path;
    }
    QColor iconColour() const { return QColor(m_bar.last->icon.pixmap(22).toImage().pixel(11, 11)); }

    // Runs one intake through loadPhoto and waits for its end; returns whether it was taken.
    bool intake(const QUrl& url)
    {
        QSignalSpy finished(m_view.get(), &PopoverView::photoIntakeFinished);
        m_view->loadPhoto(url);
        // A small photo may be ready before loadPhoto returns.
        if (finished.isEmpty() && !finished.wait(10000))
            return false;
        m_delegate->savedPhotoWriter().waitForDone();
        return finished.first().first().toBool();
    }

    // Shows a fresh view in a popover of the launch size, 250 × 300.
    PopoverView* showInLaunchPopover(AnchoredPopover& popover)
    {
        popover.setContentSize(QSize(250, 300));
        popover.setContent(std::make_unique<PopoverView>(m_delegate.get()));
        popover.show();
        if (!QTest::qWaitForWindowExposed(&popover))
            return nullptr;
        return qobject_cast<PopoverView*>(popover.content());
    }

private slots:
    void initTestCase()
    {
        m_delegate = std::make_unique<AppDelegate>(Edition::Perchlight, m_bar);
        m_delegate->applicationDidFinishLaunching();
        m_view = std::make_unique<PopoverView>(m_delegate.get());
        m_view->show();
        QTRY_VERIFY(!m_view->image().isNull()); // the built-in picture, nothing being stored
    }

    void cropToSquare_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("origin");
        QTest::addColumn<int>("side");
        QTest::newRow("400x300") << QSize(400, 300) << QPoint(50, 0) << 300;
        QTest::newRow("300x400") << QSize(300, 400) << QPoint(0, 50) << 300;
        QTest::newRow("500x500 whole") << QSize(500, 500) << QPoint(0, 0) << 500;
        // The half-pixel offset is rounded down: column 300 is the one dropped.
        QTest::newRow("301x300 half pixel") << QSize(301, 300) << QPoint(0, 0) << 300;
        QTest::newRow("300x301 half pixel") << QSize(300, 301) << QPoint(0, 0) << 300;
        QTest::newRow("1x9") << QSize(1, 9) << QPoint(0, 4) << 1;
    }

    void cropToSquare()
    {
        QFETCH(QSize, size);
        QFETCH(QPoint, origin);
        QFETCH(int, side);
        const QImage square = PopoverView::cropToSquare(coordinates(size.width(), size.height()));
        QCOMPARE(square.size(), QSize(side, side));
        QCOMPARE(whereFrom(square.pixel(0, 0)), origin);
        QCOMPARE(whereFrom(square.pixel(side - 1, side - 1)), origin + QPoint(side - 1, side - 1));
    }

    void titleFollowsTheStoredTitle()
    {
        auto* title = m_view->findChild<QLabel*>();
        QVERIFY(title);
        Preferences::write(PreferenceKeys::popoverTitle, QString());
        QCOMPARE(title->text(), QStringLiteral("Your MenuBar Photo"));
        Preferences::write(PreferenceKeys::popoverTitle, QStringLiteral(" "));
        QCOMPARE(title->text(), QStringLiteral(" "));
        Preferences::write(PreferenceKeys::popoverTitle, QStringLiteral("<b>Mum</b>"));
        QCOMPARE(title->text(), QStringLiteral("<b>Mum</b>"));
        QCOMPARE(title->textFormat(), Qt::PlainText);
    }

    void longTitleIsShortenedInsideThePopover()
    {
        const QString longTitle = QStringLiteral("Grandma Rosa in her garden, the summer we all came home to Lisbon");
        Preferences::write(PreferenceKeys::popoverTitle, longTitle);
        AnchoredPopover popover;
        PopoverView* view = showInLaunchPopover(popover);
        QVERIFY(view);
        auto* title = view->findChild<ElidedLabel*>();
        QVERIFY(title);

        // The view fits its popover (no end of the title or the controls is cut off)...
        QVERIFY2(view->width() <= view->parentWidget()->width(), qPrintable(QString::number(view->width())));
        // ...and the title is cut at the right with "…", within its width.
        const QString shown = title->shownText();
        QVERIFY2(shown.endsWith(QStringLiteral("…")) && longTitle.startsWith(shown.chopped(1)), qPrintable(shown));
        QVERIFY(title->fontMetrics().horizontalAdvance(shown) <= title->contentsRect().width());
        // The whole title stays within reach: tooltip and what a screen reader reads.
        QCOMPARE(title->text(), longTitle);
        QCOMPARE(title->toolTip(), longTitle);
        QCOMPARE(title->accessibleName(), longTitle);

        // Shortened again on each resize and font change.
        ElidedLabel label;
        label.setFullText(longTitle);
        // A pixel to spare: the advance is rounded, elidedText measures unrounded glyphs.
        label.resize(label.fontMetrics().horizontalAdvance(longTitle) + 1, 30);
        QCOMPARE(label.shownText(), longTitle);
        label.resize(label.width() / 2, 30);
        const QString half = label.shownText();
        QVERIFY(half.size() < longTitle.size());
        QFont bigger = label.font();
        bigger.setPointSizeF(bigger.pointSizeF() * 1.5);
        label.setFont(bigger);
        QVERIFY(label.shownText().size() < half.size());
        Preferences::write(PreferenceKeys::popoverTitle, QString());
    }

    void acceptedPhotoIsShownIconedAndStoredForTheNextStart()
    {
        const QImage source = coordinates(400, 300);
        const QImage square = PopoverView::cropToSquare(source);
        QVERIFY(intake(QUrl::fromLocalFile(file("wide.png", encoded(source, "PNG")))));

        const QByteArray stored = storedPhoto();
        QVERIFY(stored.startsWith("\x89PNG\r\n\x1a\n"));
        QCOMPARE(ImageDecoder::decode(stored).convertToFormat(QImage::Format_RGB32), square);
        const int pixels = m_view->image().width();
        QCOMPARE(m_view->image(), PhotoWell::filledSquare(square, pixels));
        QCOMPARE(m_bar.last->icon.pixmap(22).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 StatusIconRenderer::renderSquare(m_view->image(), 22));

        // The next start: a new delegate and a new view read the same photo back.
        FakeStatusBar nextBar;
        AppDelegate next(Edition::Perchlight, nextBar);
        next.applicationDidFinishLaunching();
        QCOMPARE(nextBar.last->icon.pixmap(22).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 StatusIconRenderer::renderSquare(square, 22));
        PopoverView nextView(&next);
        nextView.show();
        QTRY_VERIFY(!nextView.image().isNull());
        QCOMPARE(nextView.image(), PhotoWell::filledSquare(square, pixels));
    }

    void nothingOverlapsInTheLaunchPopover()
    {
        // The launch popover is 300 points tall, less than the view needs: it must scroll,
        // not squeeze the controls onto the well.
        AnchoredPopover popover;
        PopoverView* view = showInLaunchPopover(popover);
        QVERIFY(view);
        const QRect well = view->photoWell()->geometry();
        QCOMPARE(well.size(), QSize(200, 200));
        const auto* title = view->findChild<QLabel*>();
        QVERIFY(title->geometry().bottom() < well.top());
        int above = well.bottom();
        for (const char* name : {"changePhoto", "settings", "exit"}) {
            const QRect button = view->findChild<QPushButton*>(QLatin1String(name))->geometry();
            QVERIFY2(button.top() > above, name);
            above = button.bottom();
        }
    }

    void reopeningKeepsThePhotoHeld()
    {
        const QImage shown = m_view->image();
        UserDefaults::standard().setData(PreferenceKeys::SavedImageData, encoded(solid(Qt::yellow), "PNG"));
        m_view->hide();
        m_view->show();
        QCoreApplication::processEvents();
        QCOMPARE(m_view->image(), shown);
    }

    void lastAcceptedPhotoWins_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QColor>("expected");
        // A big JPEG takes longer to decode than a tiny PNG picked right after it.
        QImage big(3000, 2000, QImage::Format_RGB32);
        big.fill(Qt::darkCyan);
        const QString slow = file("slow.jpg", encoded(big, "JPEG"));
        const QString quick = file("quick.png", encoded(solid(Qt::magenta), "PNG"));
        const QString bad = file("bad.png", "not a photo");
        QTest::newRow("slow then quick") << slow << quick << QColor(Qt::magenta);
        QTest::newRow("quick then slow") << quick << slow << QColor(Qt::darkCyan);
        QTest::newRow("slow then a bad file") << slow << bad << QColor(Qt::darkCyan);
    }

    void lastAcceptedPhotoWins()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QColor, expected);
        UserDefaults::standard().setData(PreferenceKeys::SavedImageData, encoded(solid(Qt::black), "PNG"));
        QSignalSpy finished(m_view.get(), &PopoverView::photoIntakeFinished);
        m_view->loadPhoto(QUrl::fromLocalFile(first));
        m_view->loadPhoto(QUrl::fromLocalFile(second));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 15000);
        m_delegate->savedPhotoWriter().waitForDone();
        QVERIFY(near(centre(m_view->image()).rgb(), expected, 8));
        QVERIFY(near(iconColour().rgb(), expected, 8));
        QVERIFY(near(centre(ImageDecoder::decode(storedPhoto())).rgb(), expected, 8));
    }

    void badInputChangesNothing_data()
    {
        QTest::addColumn<QList<QUrl>>("drop");
        const auto local = [](const QString& path) { return QList<QUrl>{QUrl::fromLocalFile(path)}; };
        const QByteArray png = encoded(coordinates(64, 48), "PNG");
        const QByteArray jpeg = encoded(coordinates(64, 48), "JPEG");
        const QByteArray heif = heic(halves(64, 48));
        const QString good = file("good.png", png);

        QTest::newRow("empty png") << local(file("empty.png", {}));
        QTest::newRow("empty jpeg") << local(file("empty.jpg", {}));
        QTest::newRow("empty heic") << local(file("empty.heic", {}));
        QTest::newRow("truncated png") << local(file("cut.png", png.left(png.size() / 2)));
        QTest::newRow("truncated jpeg") << local(file("cut.jpg", jpeg.left(jpeg.size() / 3)));
        if (!heif.isEmpty())
            QTest::newRow("truncated heic") << local(file("cut.heic", heif.left(heif.size() / 2)));
        QTest::newRow("corrupt png") << local(file("noise.png", png.left(40) + QByteArray(4000, '\x5a')));
        QTest::newRow("corrupt jpeg") << local(file("noise.jpg", jpeg.left(200) + QByteArray(4000, '\x5a')));
        if (!heif.isEmpty())
            QTest::newRow("corrupt heic") << local(file("noise.heic", heif.left(32) + QByteArray(2000, '\x5a')));

        // A PNG header that claims 100000 × 100000 pixels, with a valid checksum.
        QByteArray huge = png;
        const QByteArray dimensions("\x00\x01\x86\xa0\x00\x01\x86\xa0", 8);
        huge.replace(16, 8, dimensions);
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(huge.constData() + 12), 17));
        huge[29] = char(crc >> 24), huge[30] = char(crc >> 16), huge[31] = char(crc >> 8), huge[32] = char(crc);
        QTest::newRow("png claiming 100000x100000") << local(file("huge.png", huge));

        QTest::newRow("folder") << local(m_dir.path());
        const QString fifo = m_dir.filePath("fifo.png");
        mkfifo(QFile::encodeName(fifo).constData(), 0600);
        QTest::newRow("fifo") << local(fifo);
        QTest::newRow("device") << local(QStringLiteral("/dev/zero"));
        QTest::newRow("text named png") << local(file("notes.png", "Dear diary,\n"));
        const QString loop = m_dir.filePath("loop.png");
        QFile::link(loop, loop);
        QTest::newRow("symbolic link loop") << local(loop);
        QTest::newRow("missing file") << local(m_dir.filePath("gone.png"));
        if (geteuid() != 0) { // root reads every file
            const QString locked = file("locked.png", png);
            QFile::setPermissions(locked, {});
            QTest::newRow("unreadable file") << local(locked);
        }
        QTest::newRow("remote url") << QList<QUrl>{QUrl(QStringLiteral("https://example.com/photo.png"))};
        QTest::newRow("remote url first of several")
            << QList<QUrl>{QUrl(QStringLiteral("https://example.com/photo.png")), QUrl::fromLocalFile(good)};
        QTest::newRow("folder first of several")
            << QList<QUrl>{QUrl::fromLocalFile(m_dir.path()), QUrl::fromLocalFile(good)};
    }

    void badInputChangesNothing()
    {
        QFETCH(QList<QUrl>, drop);
        const QImage shown = m_view->image();
        const QImage icon = m_bar.last->icon.pixmap(22).toImage();
        const QByteArray stored = storedPhoto();

        StdoutCapture capture;
        QSignalSpy finished(m_view.get(), &PopoverView::photoIntakeFinished);
        const bool started = m_view->handlePhotoDrop(drop);
        if (started)
            QVERIFY(finished.wait(10000));
        m_view->loadPhoto(drop.first());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), started ? 2 : 1, 10000);
        m_delegate->savedPhotoWriter().waitForDone();
        const QByteArray printed = capture.finish();

        QVERIFY(!finished.last().first().toBool());
        QCOMPARE(m_view->image(), shown);
        QCOMPARE(m_bar.last->icon.pixmap(22).toImage(), icon);
        QCOMPARE(storedPhoto(), stored);
        QCOMPARE(printed, QByteArray());
    }

    void dropOnTheWellLoadsTheFirstFileLater()
    {
        const QString first = file("first.png", encoded(solid(Qt::green), "PNG"));
        const QString second = file("second.png", encoded(solid(Qt::red), "PNG"));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
        PhotoWell* well = m_view->photoWell();
        const QPoint middle = well->rect().center();

        QDragEnterEvent enter(middle, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(well, &enter);
        QVERIFY(enter.isAccepted());
        const QImage before = m_view->image();
        QSignalSpy finished(m_view.get(), &PopoverView::photoIntakeFinished);
        QDropEvent drop(middle, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(well, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(m_view->image(), before); // the handler returned before loading anything
        QVERIFY(finished.wait(10000));
        QVERIFY(near(centre(m_view->image()).rgb(), Qt::green, 8));
    }

    void fileDialogOffersPhotosAndLoadsTheChoice()
    {
        const QString chosen = file("chosen.png", encoded(solid(Qt::darkYellow), "PNG"));
        QStringList offered;
        QString title;
        bool cancel = true;
        // Answers the dialog once it is up: cancels it the first time, chooses the photo next.
        // The dialog may still be listing its folder, so the choice is repeated until it
        // takes; after ten seconds the dialog is cancelled, which fails the test, not hangs it.
        QTimer answer;
        QElapsedTimer waited;
        answer.setInterval(20);
        connect(&answer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box->reject(); // "file not found": the folder was not listed yet
                return;
            }
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            offered = dialog->nameFilters();
            QVERIFY(dialog->fileMode() == QFileDialog::ExistingFile);
            if (cancel || waited.hasExpired(10000)) {
                dialog->setDirectory(QFileInfo(chosen).path()); // where the next dialog opens
                dialog->reject();
                return;
            }
            // Typed as a user would: selectFile() leaves a focused name field alone.
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(chosen);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it, but it is the dialog's own check
        });
        waited.start();

        m_delegate->savedPhotoWriter().waitForDone();
        const QImage before = m_view->image();
        const QByteArray storedBefore = storedPhoto();
        answer.start();
        m_view->selectNewPhoto();
        QCoreApplication::processEvents();
        m_delegate->savedPhotoWriter().waitForDone();
        answer.stop();
        QCOMPARE(title, QStringLiteral("Select a new photo"));
        QCOMPARE(m_view->image(), before);
        QCOMPARE(storedPhoto(), storedBefore);
        // All four kinds together first, then each kind on its own; nothing else.
        QVERIFY2(offered.size() >= 3, qPrintable(offered.join(" | ")));
        for (const char* glob : {"*.png", "*.jpg", "*.jpeg", "*.heic", "*.heif"})
            QVERIFY2(offered.first().contains(QLatin1String(glob)), qPrintable(offered.first()));
        QVERIFY(!offered.join(' ').contains(QLatin1String("*.gif")));

        cancel = false;
        QSignalSpy finished(m_view.get(), &PopoverView::photoIntakeFinished);
        waited.restart();
        answer.start();
        m_view->selectNewPhoto();
        answer.stop();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QVERIFY(near(centre(m_view->image()).rgb(), Qt::darkYellow, 8));
    }

    void exitIsRedInLightAndDarkPalettes()
    {
        auto* exit = m_view->findChild<QPushButton*>(QStringLiteral("exit"));
        auto* change = m_view->findChild<QPushButton*>(QStringLiteral("changePhoto"));
        QVERIFY(exit && change);
        const QPalette original = QApplication::palette();
        QPalette dark = original;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
        for (const QPalette& palette : {original, dark}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            const QColor red = exit->palette().color(QPalette::ButtonText);
            QVERIFY2(red.red() == 255 && red.green() < 80 && red.blue() < 70, qPrintable(red.name()));
            // The symbols are drawn in their label's colour, so they show on either palette.
            const QImage glyph =
                change->icon().pixmap(change->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
            int inked = 0;
            int offColour = 0;
            for (int y = 0; y < glyph.height(); ++y) {
                for (int x = 0; x < glyph.width(); ++x) {
                    const QRgb pixel = glyph.pixel(x, y);
                    if (qAlpha(pixel) < 128)
                        continue;
                    ++inked;
                    offColour += near(pixel, palette.color(QPalette::ButtonText), 12) ? 0 : 1;
                }
            }
            QVERIFY(inked > 0);
            QCOMPARE(offColour, 0);
        }
        QApplication::setPalette(original);
    }

    void dragWithoutFilesIsRefused()
    {
        QMimeData text;
        text.setText(QStringLiteral("/tmp/photo.png"));
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_view->photoWell(), &enter);
        QVERIFY(!enter.isAccepted());

        QMimeData remote;
        remote.setUrls({QUrl(QStringLiteral("https://example.com/photo.png"))});
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &remote, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_view->photoWell(), &drop);
        QVERIFY(!drop.isAccepted());
    }
};

QTEST_MAIN(TestPhotoIntake)
#include "TestPhotoIntake.moc"
