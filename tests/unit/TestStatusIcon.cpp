#include "FakeStatusItem.h"
#include "PhotoFixtures.h"

#include "app/AppDelegate.h"
#include "app/StatusIconRenderer.h"
#include "preferences/PreferenceKeys.h"

#include <QTest>

class TestStatusIcon : public QObject
{
    Q_OBJECT

private slots:
    void wideSourceIsStretchedNotLetterboxed()
    {
        const QImage icon = StatusIconRenderer::renderSquare(PhotoFixtures::halves(400, 100), 22);
        QCOMPARE(icon.size(), QSize(22, 22));
        for (int y : {0, 11, 21}) {
            QCOMPARE(QColor(icon.pixel(0, y)), QColor(Qt::red));
            QCOMPARE(QColor(icon.pixel(21, y)), QColor(Qt::blue));
        }
    }

    void transparencyStaysTransparent()
    {
        QImage source(50, 50, QImage::Format_ARGB32);
        source.fill(Qt::transparent);
        const QImage icon = StatusIconRenderer::renderSquare(source, 22);
        QCOMPARE(qAlpha(icon.pixel(10, 10)), 0);
    }

    void bigPhotoIsAveragedNotAliased()
    {
        // One-pixel stripes average to mid grey; point sampling would give black or white.
        QImage stripes(4000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < stripes.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(stripes.scanLine(y));
            for (int x = 0; x < stripes.width(); ++x)
                line[x] = (x % 2) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        }
        for (int size : {22, 44, 64}) {
            const QImage icon = StatusIconRenderer::renderSquare(stripes, size);
            for (int x = 0; x < size; ++x)
                QVERIFY2(qAbs(qGray(icon.pixel(x, size / 2)) - 128) < 24, qPrintable(QString::number(x)));
        }
    }

    void iconCarriesTheHiDpiSizes()
    {
        const QIcon icon = StatusIconRenderer::render(PhotoFixtures::halves(100, 100), 2.0);
        const auto sizes = icon.availableSizes();
        for (int side : {22, 44, 64})
            QVERIFY(sizes.contains(QSize(side, side)));
    }

    void loadStatusIconPrefersTheSavedPhoto()
    {
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        QImage green(30, 30, QImage::Format_RGB32);
        green.fill(Qt::green);
        UserDefaults::standard().setData(PreferenceKeys::SavedImageData, PhotoFixtures::encoded(green, "PNG"));
        delegate.applicationDidFinishLaunching();
        QCOMPARE(QColor(bar.last->icon.pixmap(22).toImage().pixel(11, 11)), QColor(Qt::green));

        // Bytes that are not an image count as no photo: the built-in picture is used.
        UserDefaults::standard().setData(PreferenceKeys::SavedImageData, "not an image");
        delegate.loadStatusIcon();
        const QImage fallback = StatusIconRenderer::renderSquare(QImage(":/museIcon.png"), 22);
        QCOMPARE(bar.last->icon.pixmap(22).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), fallback);
    }
};

QTEST_MAIN(TestStatusIcon)
#include "TestStatusIcon.moc"
