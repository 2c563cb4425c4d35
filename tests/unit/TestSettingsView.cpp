#include "app/NavigationNotifications.h"
#include "platform/AnchoredPopover.h"
#include "platform/NotificationCenter.h"
#include "preferences/PreferenceKeys.h"
#include "views/BackButton.h"
#include "views/NotificationMessageEditor.h"
#include "views/PopoverView.h"
#include "views/SettingsView.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimeEdit>

namespace {
const QLatin1StringView kAllKeys[] = {
    PreferenceKeys::SavedImageData,           PreferenceKeys::popoverTitle.key,
    PreferenceKeys::notificationsEnabled.key, PreferenceKeys::notificationHour.key,
    PreferenceKeys::notificationMinute.key,   PreferenceKeys::notificationMessage.key};

// Every write to the store, in order, by key.
struct WriteLog
{
    QSignalSpy spy{&UserDefaults::standard(), &UserDefaults::valueChanged};

    QStringList keys() const
    {
        QStringList result;
        for (const auto& arguments : spy)
            result << arguments.at(0).toString();
        return result;
    }
};

QString accessibleName(QWidget* widget)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}
} // namespace

class TestSettingsView : public QObject
{
    Q_OBJECT

private slots:
    // Runs first, on the store the isolated run starts with.
    void openingShowsTheDefaultsAndChangesNothing()
    {
        for (const Edition edition : {Edition::Perchlight, Edition::PortraitPerch}) {
            WriteLog writes;
            SettingsView view(edition);
            QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));

            QVERIFY(view.enableNotificationsSwitch()->isChecked());
            QCOMPARE(view.timePicker()->time(), QTime(9, 0));
            QVERIFY(!view.timePicker()->displayFormat().contains(QLatin1Char('s')));
            QCOMPARE(view.messageEditor()->text(), QStringLiteral("Here\u2019s a daily note from your PortraitPerch."));
            QCOMPARE(view.titleField()->text(), QStringLiteral("Your MenuBar Photo"));
            QCOMPARE(view.titleField()->placeholderText(), QStringLiteral("Enter a title"));
            QCOMPARE(writes.spy.count(), 0);
            QCOMPARE(reminder.count(), 0);
            for (const auto key : kAllKeys)
                QCOMPARE(UserDefaults::standard().revisionForKey(key), 0);
        }
    }

    void showsStoredValuesAndAnImpossibleTimeAsNow()
    {
        Preferences::write(PreferenceKeys::notificationsEnabled, false);
        Preferences::write(PreferenceKeys::notificationHour, 25);
        Preferences::write(PreferenceKeys::notificationMinute, 30);
        Preferences::write(PreferenceKeys::notificationMessage, QString());
        Preferences::write(PreferenceKeys::popoverTitle, QString());
        WriteLog writes;
        const QTime before = QTime::currentTime();
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        const QTime after = QTime::currentTime();

        QVERIFY(!view.enableNotificationsSwitch()->isChecked());
        const QTime shown = view.timePicker()->time();
        QCOMPARE(shown.second(), 0);
        QVERIFY(shown == QTime(before.hour(), before.minute()) || shown == QTime(after.hour(), after.minute()));
        QCOMPARE(view.messageEditor()->text(), QString());
        QCOMPARE(view.titleField()->text(), QString()); // the field shows the empty title as it is
        QCOMPARE(writes.spy.count(), 0);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationHour), 25);
        QCOMPARE(reminder.count(), 0);

        // Picking a time replaces the impossible one.
        view.timePicker()->setTime(QTime(6, 5));
        QCOMPARE(Preferences::read(PreferenceKeys::notificationHour), 6);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationMinute), 5);
        QCOMPARE(reminder.count(), 1);
    }

    void pickingATimeStoresHourThenMinuteAndReschedulesOnce()
    {
        Preferences::write(PreferenceKeys::notificationHour, 9);
        Preferences::write(PreferenceKeys::notificationMinute, 0);
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        // At the moment of scheduling both values must already be stored.
        QList<QTime> storedWhenScheduled;
        connect(&view, &SettingsView::reminderSettingsChanged, this, [&] {
            storedWhenScheduled << QTime(int(Preferences::read(PreferenceKeys::notificationHour)),
                                         int(Preferences::read(PreferenceKeys::notificationMinute)));
        });

        view.timePicker()->setTime(QTime(7, 45, 30));
        QCOMPARE(writes.keys(),
                 QStringList({PreferenceKeys::notificationHour.key, PreferenceKeys::notificationMinute.key}));
        QCOMPARE(storedWhenScheduled, QList<QTime>{QTime(7, 45)});
        QCOMPARE(reminder.count(), 1);
        QCOMPARE(view.timePicker()->time(), QTime(7, 45, 30)); // the store's echo did not move the picker

        // From the keyboard: the arrow steps the hour.
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.timePicker()->setFocus();
        QTRY_VERIFY(view.timePicker()->hasFocus());
        view.timePicker()->setCurrentSection(QDateTimeEdit::HourSection);
        QTest::keyClick(view.timePicker(), Qt::Key_Up);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationHour), 8);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationMinute), 45);
        QCOMPARE(reminder.count(), 2);
    }

    void eachKeystrokeInTheMessageWritesOnceAndReschedulesOnce()
    {
        Preferences::write(PreferenceKeys::notificationMessage, QStringLiteral("Stretch"));
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        QPlainTextEdit* area = view.messageEditor()->textArea();
        area->moveCursor(QTextCursor::End);

        QTest::keyClick(area, Qt::Key_Exclam);
        QCOMPARE(writes.keys(), QStringList{PreferenceKeys::notificationMessage.key});
        QCOMPARE(Preferences::read(PreferenceKeys::notificationMessage), QStringLiteral("Stretch!"));
        QCOMPARE(reminder.count(), 1);

        QTest::keyClicks(area, QStringLiteral(" now"));
        QCOMPARE(writes.spy.count(), 5);
        QCOMPARE(reminder.count(), 5);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationMessage), QStringLiteral("Stretch! now"));
        QCOMPARE(area->textCursor().position(), 12); // the store's echo left the cursor alone
    }

    void theSwitchWritesAndReschedulesOnceEachWay()
    {
        Preferences::write(PreferenceKeys::notificationsEnabled, true);
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;

        QTest::mouseClick(view.enableNotificationsSwitch(), Qt::LeftButton);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationsEnabled), false);
        QCOMPARE(reminder.count(), 1);
        QTest::keyClick(view.enableNotificationsSwitch(), Qt::Key_Space);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationsEnabled), true);
        QCOMPARE(reminder.count(), 2);
        QCOMPARE(writes.spy.count(), 2);
    }

    void theTitleIsWrittenAtEachKeystrokeNeverReschedulesAndShowsInThePhotoPopover()
    {
        Preferences::write(PreferenceKeys::popoverTitle, QStringLiteral("Ada"));
        SettingsView view(Edition::Perchlight);
        PopoverView photoView(nullptr);
        const auto shownTitle = [&photoView] {
            for (QLabel* label : photoView.findChildren<QLabel*>())
                if (label->pixmap().isNull() && !label->text().isEmpty())
                    return label->text();
            return QString();
        };
        QCOMPARE(shownTitle(), QStringLiteral("Ada"));
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;

        view.titleField()->end(false);
        QTest::keyClicks(view.titleField(), QStringLiteral(" & Bo"));
        QCOMPARE(writes.spy.count(), 5);
        QCOMPARE(Preferences::read(PreferenceKeys::popoverTitle), QStringLiteral("Ada & Bo"));
        QCOMPARE(shownTitle(), QStringLiteral("Ada & Bo"));

        view.titleField()->selectAll();
        QTest::keyClick(view.titleField(), Qt::Key_Delete);
        QCOMPARE(Preferences::read(PreferenceKeys::popoverTitle), QString());
        QCOMPARE(shownTitle(), PopoverView::displayTitle(QString()));
        QCOMPARE(reminder.count(), 0);
    }

    void backPostsOnceWithNoObjectAndWritesNothing()
    {
        QObject observer;
        QList<QObject*> objects;
        NotificationCenter::defaultCenter().addObserver(
            &observer, NavigationNotifications::openPopoverView,
            [&objects](const NotificationCenter::Notification& note) { objects << note.object; });
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;

        QVERIFY(view.backButton());
        QCOMPARE(view.backButton()->text(), QStringLiteral("Back"));
        QVERIFY(!view.backButton()->icon().isNull());
        QTest::mouseClick(view.backButton(), Qt::LeftButton);
        QCOMPARE(objects, QList<QObject*>{nullptr});
        QCOMPARE(writes.spy.count(), 0);
        QCOMPARE(reminder.count(), 0);
    }

    void portraitPerchHasOnlyTheSwitchInItsHeader()
    {
        SettingsView view(Edition::PortraitPerch);
        QVERIFY(!view.backButton());
        QVERIFY(view.findChildren<QAbstractButton*>().size() == 2); // the switch and the preview
        QVERIFY(view.enableNotificationsSwitch());
    }

    void thePreviewIsRequestedEvenWithRemindersOff()
    {
        Preferences::write(PreferenceKeys::notificationsEnabled, false);
        SettingsView view(Edition::Perchlight);
        QSignalSpy preview(&view, &SettingsView::previewRequested);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        QTest::mouseClick(view.previewButton(), Qt::LeftButton);
        QCOMPARE(preview.count(), 1);
        QCOMPARE(reminder.count(), 0);
        QCOMPARE(writes.spy.count(), 0);
    }

    void changesMadeElsewhereAreShownWithoutEcho()
    {
        Preferences::write(PreferenceKeys::notificationsEnabled, true);
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;

        Preferences::write(PreferenceKeys::notificationsEnabled, false);
        Preferences::write(PreferenceKeys::notificationHour, 18);
        Preferences::write(PreferenceKeys::notificationMinute, 20);
        Preferences::write(PreferenceKeys::notificationMessage, QStringLiteral("Elsewhere"));
        Preferences::write(PreferenceKeys::popoverTitle, QStringLiteral("Other"));
        QVERIFY(!view.enableNotificationsSwitch()->isChecked());
        QCOMPARE(view.timePicker()->time(), QTime(18, 20));
        QCOMPARE(view.messageEditor()->text(), QStringLiteral("Elsewhere"));
        QCOMPARE(view.titleField()->text(), QStringLiteral("Other"));
        QCOMPARE(writes.spy.count(), 5); // only the five writes made here
        QCOMPARE(reminder.count(), 0);
    }

    void tabReachesEveryControlTopToBottomByItsVisibleName_data()
    {
        QTest::addColumn<Edition>("edition");
        QTest::addColumn<QStringList>("names");
        const QStringList rest{"Enable Notifications", "Send Daily At:", "Notification Message:", "Popover Title:",
                               "Send Preview Notification"};
        QTest::newRow("Perchlight") << Edition::Perchlight << QStringList{"Back"} + rest;
        QTest::newRow("PortraitPerch") << Edition::PortraitPerch << rest;
    }

    void tabReachesEveryControlTopToBottomByItsVisibleName()
    {
        QFETCH(Edition, edition);
        QFETCH(QStringList, names);
        SettingsView view(edition);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QWidget* first =
            view.backButton() ? static_cast<QWidget*>(view.backButton()) : view.enableNotificationsSwitch();
        first->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), first);

        QStringList reached;
        int lastTop = -1;
        for (int i = 0; i < names.size(); ++i) {
            QWidget* focused = QApplication::focusWidget();
            reached << accessibleName(focused);
            const int top = focused->mapTo(&view, QPoint(0, 0)).y();
            QVERIFY2(top >= lastTop, qPrintable(reached.last()));
            lastTop = top;
            // The time picker takes Tab for its own sections first.
            if (qobject_cast<QTimeEdit*>(focused))
                static_cast<QTimeEdit*>(focused)->setCurrentSection(QDateTimeEdit::MinuteSection);
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(reached, names);
    }

    void fitsTheSettingsPopoverWhateverTheMessage_data()
    {
        QTest::addColumn<Edition>("edition");
        QTest::addColumn<QSize>("popoverSize");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("Perchlight") << Edition::Perchlight << Editions::settingsContentSize(Edition::Perchlight)
                                    << false;
        // The earlier revision's popover is half as tall as the view: the view scrolls in it.
        QTest::newRow("PortraitPerch") << Edition::PortraitPerch
                                       << Editions::settingsContentSize(Edition::PortraitPerch) << true;
    }

    void fitsTheSettingsPopoverWhateverTheMessage()
    {
        QFETCH(Edition, edition);
        QFETCH(QSize, popoverSize);
        QFETCH(bool, scrolls);
        QStringList lines;
        for (int i = 0; i < 200; ++i)
            lines << QStringLiteral("A long reminder, line %1").arg(i);
        Preferences::write(PreferenceKeys::notificationMessage, lines.join(QLatin1Char('\n')));
        Preferences::write(PreferenceKeys::popoverTitle, QString(300, QLatin1Char('W')));
        AnchoredPopover popover;
        popover.setContentSize(popoverSize);
        auto owned = std::make_unique<SettingsView>(edition);
        SettingsView* view = owned.get();
        popover.setContent(std::move(owned));
        popover.showRelativeToRect(QRect(600, 2, 22, 22));
        QVERIFY(QTest::qWaitForWindowExposed(&popover));

        auto* scrollArea = popover.findChild<QScrollArea*>();
        QVERIFY(scrollArea);
        QCOMPARE(scrollArea->verticalScrollBar()->maximum() > 0, scrolls);
        QCOMPARE(scrollArea->size(), popoverSize); // the popover's border comes on top of its content size
        QCOMPARE(view->width(), scrollArea->viewport()->width());
        QCOMPARE(view->messageEditor()->height(), 110);
        // Nothing sticks out on the right: every control ends inside the view.
        for (QWidget* child : view->findChildren<QWidget*>()) {
            if (child->isWindow() || child->parentWidget() != view)
                continue;
            QVERIFY2(child->geometry().right() < view->width(), qPrintable(child->metaObject()->className()));
        }
    }
};

QTEST_MAIN(TestSettingsView)
#include "TestSettingsView.moc"
