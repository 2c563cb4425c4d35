#include "FakeStatusItem.h"

#include "app/AppDelegate.h"
#include "platform/base/NotificationCenter.h"
#include "preferences/PreferenceKeys.h"
#include "views/NavigationNotifications.h"
#include "views/PopoverView.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QTest>

using Behavior = AnchoredPopover::Behavior;

class TestNavigation : public QObject
{
    Q_OBJECT

    static void post(const QString& name) { NotificationCenter::defaultCenter().post(name); }

private slots:
    void launchConfiguresTheTransientPhotoPopover()
    {
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        QVERIFY(!delegate.statusItem());
        delegate.applicationDidFinishLaunching();
        QVERIFY(delegate.statusItem());
        QCOMPARE(delegate.popover().contentSize(), QSize(250, 300));
        QCOMPARE(delegate.popover().behavior(), Behavior::Transient);
        QVERIFY(qobject_cast<PopoverView*>(delegate.popover().content()));
        QVERIFY(!delegate.popover().isShown());
        QVERIFY(!delegate.settingsPopover().isShown());
        QVERIFY(!bar.last->icon.isNull());
        // A first start writes nothing into the store.
        for (auto key : {PreferenceKeys::SavedImageData, PreferenceKeys::popoverTitle.key,
                         PreferenceKeys::notificationsEnabled.key, PreferenceKeys::notificationHour.key,
                         PreferenceKeys::notificationMinute.key, PreferenceKeys::notificationMessage.key})
            QCOMPARE(UserDefaults::standard().revisionForKey(key), 0);
    }

    void toggleFollowsTheFourRowTable_data()
    {
        QTest::addColumn<bool>("settingsShown");
        QTest::addColumn<bool>("mainShown");
        QTest::addColumn<bool>("mainAfter");
        QTest::newRow("neither") << false << false << true;
        QTest::newRow("main only") << false << true << false;
        QTest::newRow("settings only") << true << false << true;
        QTest::newRow("both") << true << true << false;
    }

    void toggleFollowsTheFourRowTable()
    {
        QFETCH(bool, settingsShown);
        QFETCH(bool, mainShown);
        QFETCH(bool, mainAfter);
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        delegate.applicationDidFinishLaunching();
        if (settingsShown)
            delegate.settingsPopover().showRelativeToRect(bar.last->bounds);
        if (mainShown)
            delegate.popover().showRelativeToRect(bar.last->bounds);
        QWidget* content = delegate.popover().content();

        bar.last->click();
        QCOMPARE(delegate.settingsPopover().isShown(), false);
        QCOMPARE(delegate.popover().isShown(), mainAfter);
        // Toggling never rebuilds or reconfigures the photo popover.
        QCOMPARE(delegate.popover().content(), content);
        QCOMPARE(delegate.popover().contentSize(), QSize(250, 300));
    }

    void outsideClickClosesTheTransientPopoverWhenItEnds()
    {
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        delegate.applicationDidFinishLaunching();
        bar.last->click();
        AnchoredPopover& popover = delegate.popover();
        QVERIFY(popover.isShown());
        // The popup holds the whole click, so the tray under it never sees it and cannot
        // reopen the popover: the press alone closes nothing, the release does.
        const QPoint outside(-20, popover.height() + 20);
        QTest::mousePress(&popover, Qt::LeftButton, {}, outside);
        QVERIFY(popover.isShown());
        QTest::mouseRelease(&popover, Qt::LeftButton, {}, outside);
        QVERIFY(!popover.isShown());
        // The next click on the icon is a new one and opens it again at once.
        bar.last->click();
        QVERIFY(popover.isShown());
        // A click inside is the content's, not a dismissal.
        QTest::mouseClick(&popover, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(popover.isShown());
    }

    void settingsAndBackInPerchlight()
    {
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        delegate.applicationDidFinishLaunching();
        bar.last->click();
        QWidget* launchView = delegate.popover().content();

        post(NavigationNotifications::OpenSettings);
        QVERIFY(!delegate.popover().isShown());
        QVERIFY(delegate.settingsPopover().isShown());
        QCOMPARE(delegate.settingsPopover().contentSize(), QSize(300, 360));
        QCOMPARE(delegate.settingsPopover().behavior(), Behavior::Semitransient);
        QPointer<QWidget> firstSettings = delegate.settingsPopover().content();
        QVERIFY(qobject_cast<SettingsView*>(firstSettings.data()));

        post(NavigationNotifications::openPopoverView);
        QVERIFY(!delegate.settingsPopover().isShown());
        QVERIFY(delegate.popover().isShown());
        QCOMPARE(delegate.popover().contentSize(), QSize(250, 350));
        QCOMPARE(delegate.popover().behavior(), Behavior::Semitransient);
        QVERIFY(delegate.popover().content() != launchView);

        // The settings view is rebuilt on every opening; the old one is gone.
        post(NavigationNotifications::OpenSettings);
        QVERIFY(firstSettings.isNull());
        QVERIFY(qobject_cast<SettingsView*>(delegate.settingsPopover().content()));

        // From now on the photo popover keeps its second configuration.
        bar.last->click();
        QVERIFY(delegate.popover().isShown());
        QCOMPARE(delegate.popover().contentSize(), QSize(250, 350));
        QCOMPARE(delegate.popover().behavior(), Behavior::Semitransient);
    }

    void portraitPerchHasNoWayBack()
    {
        FakeStatusBar bar;
        AppDelegate delegate(Edition::PortraitPerch, bar);
        delegate.applicationDidFinishLaunching();
        QWidget* launchView = delegate.popover().content();
        post(NavigationNotifications::OpenSettings);
        QCOMPARE(delegate.settingsPopover().contentSize(), QSize(300, 180));
        QVERIFY(delegate.settingsPopover().isShown());

        post(NavigationNotifications::openPopoverView);
        QVERIFY(delegate.settingsPopover().isShown());
        QVERIFY(!delegate.popover().isShown());
        QCOMPARE(delegate.popover().content(), launchView);
        QCOMPARE(delegate.popover().contentSize(), QSize(250, 300));
        QCOMPARE(delegate.popover().behavior(), Behavior::Transient);
    }

    void postsBeforeLaunchDoNothing()
    {
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        post(NavigationNotifications::OpenSettings);
        post(NavigationNotifications::openPopoverView);
        QVERIFY(!delegate.settingsPopover().isShown());
        QVERIFY(!delegate.popover().isShown());
    }

    void observersEndWithTheDelegate()
    {
        {
            FakeStatusBar bar;
            AppDelegate delegate(Edition::Perchlight, bar);
            delegate.applicationDidFinishLaunching();
        }
        post(NavigationNotifications::OpenSettings); // must not reach the destroyed delegate
        post(NavigationNotifications::openPopoverView);
    }
};

QTEST_MAIN(TestNavigation)
#include "TestNavigation.moc"
