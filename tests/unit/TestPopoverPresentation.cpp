#include "FakeStatusItem.h"

#include "app/AppDelegate.h"
#include "platform/base/NotificationCenter.h"
#include "preferences/PreferenceKeys.h"
#include "views/NavigationNotifications.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

namespace {

void post(const QString& name)
{
    NotificationCenter::defaultCenter().post(name);
}

// Whether the popover shows its whole content: the window is at least the content size set
// (with its border) and its scroll area has nothing to scroll.
bool showsEverything(AnchoredPopover& popover)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const auto* area = popover.findChild<QScrollArea*>();
    const QSize border = popover.size() - area->size();
    return popover.isVisible() && area->verticalScrollBar()->maximum() == 0 &&
           popover.content()->height() >= popover.content()->minimumSizeHint().height() &&
           popover.width() >= popover.contentSize().width() + border.width() &&
           popover.height() >= popover.contentSize().height() + border.height();
}

} // namespace

class TestPopoverPresentation : public QObject
{
    Q_OBJECT

private slots:
    void init() { QApplication::setFont(QFont()); }

    void bothPopoversOfBothEditionsShowTheirWholeContent_data()
    {
        QTest::addColumn<Edition>("edition");
        QTest::addColumn<int>("pointSize");
        for (const int points : {0, 15}) {
            const QByteArray size = points ? QByteArray(" large font") : QByteArray();
            QTest::newRow("Perchlight" + size) << Edition::Perchlight << points;
            QTest::newRow("PortraitPerch" + size) << Edition::PortraitPerch << points;
        }
    }

    void bothPopoversOfBothEditionsShowTheirWholeContent()
    {
        QFETCH(Edition, edition);
        QFETCH(int, pointSize);
        if (pointSize) {
            QFont font;
            font.setPointSize(pointSize);
            QApplication::setFont(font);
        }
        Preferences::write(PreferenceKeys::notificationMessage, QString(400, QLatin1Char('m')));
        FakeStatusBar bar;
        AppDelegate delegate(edition, bar);
        delegate.applicationDidFinishLaunching();
        bar.last->click();
        // The launch popover is set to 250 × 300, less than its view needs.
        QVERIFY(showsEverything(delegate.popover()));
        post(NavigationNotifications::OpenSettings);
        // PortraitPerch's 300 × 180 would show half of the settings.
        QVERIFY(showsEverything(delegate.settingsPopover()));
        if (Editions::hasBackNavigation(edition)) {
            post(NavigationNotifications::openPopoverView);
            QVERIFY(showsEverything(delegate.popover()));
        }
    }

    void everyShowingStartsAtTheTop()
    {
        // Content taller than the screen is the one case that scrolls.
        AnchoredPopover popover;
        auto content = std::make_unique<QWidget>();
        content->setMinimumHeight(5000);
        popover.setContent(std::move(content));
        popover.showRelativeToRect(QRect(100, 2, 22, 22));
        QScrollBar* bar = popover.findChild<QScrollArea*>()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(popover.geometry()));
        bar->setValue(bar->maximum());
        popover.performClose();
        popover.showRelativeToRect(QRect(100, 2, 22, 22));
        QCOMPARE(bar->value(), 0);
    }

    void returnActivatesTheFocusedButton()
    {
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        delegate.applicationDidFinishLaunching();
        bar.last->click();
        auto* settings = delegate.popover().findChild<QPushButton*>(QStringLiteral("settings"));
        settings->setFocus();
        QTest::keyClick(settings, Qt::Key_Return);
        QTRY_VERIFY(delegate.settingsPopover().isShown());
        auto* view = qobject_cast<SettingsView*>(delegate.settingsPopover().content());
        view->enableNotificationsSwitch()->setFocus();
        QTest::keyClick(view->enableNotificationsSwitch(), Qt::Key_Enter);
        QTRY_VERIFY(!Preferences::read(PreferenceKeys::notificationsEnabled));
    }
};

QTEST_MAIN(TestPopoverPresentation)
#include "TestPopoverPresentation.moc"
