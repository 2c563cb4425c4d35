#include "platform/base/NotificationCenter.h"
#include "platform/popover/AnchoredPopover.h"
#include "preferences/PreferenceKeys.h"
#include "views/BackButton.h"
#include "views/NavigationNotifications.h"
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
using namespace PreferenceKeys;

// The keys written to the store, in order.
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

} // namespace

class TestSettingsView : public QObject
{
    Q_OBJECT

private slots:
    // First, while the isolated store is still empty.
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
            QCOMPARE(view.messageEditor()->text(), notificationMessage.defaultValue);
            QCOMPARE(view.titleField()->text(), QStringLiteral("Your MenuBar Photo"));
            QCOMPARE(view.backButton() != nullptr, edition == Edition::Perchlight);
            QCOMPARE(writes.spy.count() + reminder.count(), 0);
            for (const auto key : {notificationsEnabled.key, notificationHour.key, notificationMinute.key,
                                   notificationMessage.key, popoverTitle.key})
                QCOMPARE(UserDefaults::standard().revisionForKey(key), 0);
        }
    }

    void reminderTimeStoresHourThenMinuteAndShowsAnImpossibleTimeAsNow()
    {
        Preferences::write(notificationHour, 25);
        const QTime now = QTime::currentTime();
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        const QTime shown = view.timePicker()->time();
        QVERIFY(shown.second() == 0 && now.secsTo(shown) > -60 && now.secsTo(shown) < 60);
        QCOMPARE(Preferences::read(notificationHour), 25);

        WriteLog writes;
        QList<QTime> storedWhenScheduled;
        connect(&view, &SettingsView::reminderSettingsChanged, this, [&] {
            storedWhenScheduled << QTime(int(Preferences::read(notificationHour)),
                                         int(Preferences::read(notificationMinute)));
        });
        view.timePicker()->setTime(QTime(7, 45, 30));
        QCOMPARE(writes.keys(), QStringList({notificationHour.key, notificationMinute.key}));
        QCOMPARE(storedWhenScheduled, QList<QTime>{QTime(7, 45)});
        QCOMPARE(view.timePicker()->time(), QTime(7, 45, 30)); // the store's echo did not move the picker

        view.timePicker()->setCurrentSection(QDateTimeEdit::HourSection);
        QTest::keyClick(view.timePicker(), Qt::Key_Up);
        QCOMPARE(storedWhenScheduled, QList<QTime>({QTime(7, 45), QTime(8, 45)}));
    }

    void eachEditOfMessageOrSwitchWritesOnceAndReschedulesOnce()
    {
        Preferences::write(notificationMessage, QStringLiteral("Stretch"));
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        QPlainTextEdit* area = view.messageEditor()->textArea();
        area->moveCursor(QTextCursor::End);
        QTest::keyClick(area, Qt::Key_Exclam);
        QCOMPARE(writes.keys(), QStringList{notificationMessage.key});
        QCOMPARE(reminder.count(), 1);
        QTest::keyClick(area, Qt::Key_Backspace);
        area->selectAll();
        area->cut();
        QCOMPARE(reminder.count(), 3);
        QCOMPARE(Preferences::read(notificationMessage), QString()); // an empty message is a message too
        area->undo();
        QCOMPARE(Preferences::read(notificationMessage), QStringLiteral("Stretch"));
        QCOMPARE(area->textCursor().position(), 7); // the store's echo left the cursor alone

        QTest::mouseClick(view.enableNotificationsSwitch(), Qt::LeftButton);
        QCOMPARE(Preferences::read(notificationsEnabled), false);
        QTest::keyClick(view.enableNotificationsSwitch(), Qt::Key_Space);
        QCOMPARE(Preferences::read(notificationsEnabled), true);
        QCOMPARE(reminder.count(), 6);
        QCOMPARE(writes.spy.count(), 6);
    }

    void theTitleIsWrittenAtEachKeystrokeShowsInThePhotoPopoverAndNeverReschedules()
    {
        Preferences::write(popoverTitle, QStringLiteral("Ada"));
        SettingsView view(Edition::Perchlight);
        PopoverView photoView(nullptr);
        const auto shownTitle = [&photoView] {
            for (QLabel* label : photoView.findChildren<QLabel*>())
                if (label->pixmap().isNull() && !label->text().isEmpty())
                    return label->text();
            return QString();
        };
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        view.titleField()->end(false);
        QTest::keyClicks(view.titleField(), QStringLiteral(" & Bo"));
        QCOMPARE(writes.spy.count(), 5);
        QCOMPARE(shownTitle(), QStringLiteral("Ada & Bo"));
        view.titleField()->selectAll();
        QTest::keyClick(view.titleField(), Qt::Key_Delete);
        QCOMPARE(Preferences::read(popoverTitle), QString());
        QCOMPARE(shownTitle(), PopoverView::displayTitle(QString()));
        QCOMPARE(reminder.count(), 0);
    }

    void aLongTitleShowsItsBeginningUntilEdited()
    {
        const QString longTitle = QStringLiteral("Grandma Rosa in her garden, the summer of the giant tomatoes");
        Preferences::write(popoverTitle, longTitle);
        SettingsView view(Edition::Perchlight);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QLineEdit* field = view.titleField();
        QVERIFY(field->fontMetrics().horizontalAdvance(longTitle) > field->width());
        QCOMPARE(field->cursorPosition(), 0);
        // While the user types, the cursor stays where the typing is.
        field->setFocus();
        field->end(false);
        QTest::keyClicks(field, QStringLiteral("!"));
        QCOMPARE(field->cursorPosition(), longTitle.size() + 1);
        QCOMPARE(Preferences::read(popoverTitle), longTitle + QLatin1Char('!'));
    }

    void backPostsOnceWithNoObjectAndPreviewIsAskedForEvenWithRemindersOff()
    {
        Preferences::write(notificationsEnabled, false);
        QObject observer;
        QList<QObject*> objects;
        NotificationCenter::defaultCenter().addObserver(&observer, NavigationNotifications::openPopoverView,
                                                        [&objects](const auto& note) { objects << note.object; });
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        QSignalSpy preview(&view, &SettingsView::previewRequested);
        WriteLog writes;
        QVERIFY(!view.backButton()->icon().isNull());
        QTest::mouseClick(view.backButton(), Qt::LeftButton);
        QCOMPARE(objects, QList<QObject*>{nullptr});
        QTest::mouseClick(view.previewButton(), Qt::LeftButton);
        QCOMPARE(preview.count(), 1);
        QCOMPARE(writes.spy.count() + reminder.count(), 0);
    }

    void changesMadeElsewhereAreShownWithoutEcho()
    {
        Preferences::write(notificationsEnabled, true);
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        Preferences::write(notificationsEnabled, false);
        Preferences::write(notificationHour, 18);
        Preferences::write(notificationMinute, 20);
        Preferences::write(notificationMessage, QStringLiteral("Elsewhere"));
        Preferences::write(popoverTitle, QStringLiteral("Other"));
        QVERIFY(!view.enableNotificationsSwitch()->isChecked());
        QCOMPARE(view.timePicker()->time(), QTime(18, 20));
        QCOMPARE(view.messageEditor()->text(), QStringLiteral("Elsewhere"));
        QCOMPARE(view.titleField()->text(), QStringLiteral("Other"));
        QCOMPARE(writes.spy.count(), 5);
        QCOMPARE(reminder.count(), 0);
    }

    void tabReachesEveryControlTopToBottomByItsVisibleName()
    {
        SettingsView view(Edition::Perchlight);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.backButton()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), view.backButton());
        QStringList reached;
        while (reached.size() < 6) {
            QWidget* focused = QApplication::focusWidget();
            reached << QAccessible::queryAccessibleInterface(focused)->text(QAccessible::Name);
            if (auto* picker = qobject_cast<QTimeEdit*>(focused)) // Tab first walks its sections
                picker->setCurrentSection(QDateTimeEdit::MinuteSection);
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(reached, QStringList({"Back", "Enable Notifications", "Send Daily At:", "Notification Message:",
                                       "Popover Title:", "Send Preview Notification"}));
    }

    void fitsItsPopoverWhateverTheMessage_data()
    {
        QTest::addColumn<Edition>("edition");
        QTest::addColumn<int>("messageLines");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("Perchlight, empty message") << Edition::Perchlight << 0 << false;
        QTest::newRow("Perchlight, 200 lines") << Edition::Perchlight << 200 << false;
        QTest::newRow("PortraitPerch 300x180, 200 lines") << Edition::PortraitPerch << 200 << true;
    }

    void fitsItsPopoverWhateverTheMessage()
    {
        QFETCH(Edition, edition);
        QFETCH(int, messageLines);
        QFETCH(bool, scrolls);
        Preferences::write(notificationMessage, QStringLiteral("A long reminder\n").repeated(messageLines));
        Preferences::write(popoverTitle, QString(300, QLatin1Char('W')));
        AnchoredPopover popover;
        popover.setContentSize(Editions::settingsContentSize(edition));
        auto owned = std::make_unique<SettingsView>(edition);
        SettingsView* view = owned.get();
        popover.setContent(std::move(owned));
        popover.showRelativeToRect(QRect(600, 2, 22, 22));
        QVERIFY(QTest::qWaitForWindowExposed(&popover));
        auto* scrollArea = popover.findChild<QScrollArea*>();
        QCOMPARE(scrollArea->size(), Editions::settingsContentSize(edition)); // the border comes on top
        QCOMPARE(scrollArea->verticalScrollBar()->maximum() > 0, scrolls);
        QCOMPARE(view->width(), scrollArea->viewport()->width());
        QCOMPARE(view->messageEditor()->height(), 110);
        QCOMPARE(view->messageEditor()->textArea()->geometry(),
                 view->messageEditor()->rect().marginsRemoved({8, 8, 8, 8}));
        QCOMPARE(view->messageEditor()->textArea()->verticalScrollBar()->maximum() > 0, messageLines > 0);
        for (QWidget* child : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(child->geometry().right() < view->width(), child->metaObject()->className());
    }
};

QTEST_MAIN(TestSettingsView)
#include "TestSettingsView.moc"
