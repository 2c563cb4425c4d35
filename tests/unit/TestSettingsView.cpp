// The settings popover's view: what it shows, what each control writes and when it asks for
// the reminder to be scheduled again; and the dark palette it may be drawn in.
#include "platform/base/NotificationCenter.h"
#include "platform/popover/AnchoredPopover.h"
#include "platform/session/DesktopAppearance.h"
#include "preferences/ExternalDefaultsChanges.h"
#include "preferences/PreferenceKeys.h"
#include "views/BackButton.h"
#include "views/ElidedLabel.h"
#include "views/NavigationNotifications.h"
#include "views/NotificationMessageEditor.h"
#include "views/PopoverView.h"
#include "views/SettingsView.h"

#include <QtTest>
#include <QtWidgets>

using namespace PreferenceKeys;

namespace {

// The keys written to the store, in order.
struct WriteLog : QSignalSpy
{
    WriteLog() : QSignalSpy(&UserDefaults::standard(), &UserDefaults::valueChanged) {}
    QString keys() const
    {
        QStringList keys;
        for (const QList<QVariant>& arguments : *this)
            keys << arguments.first().toString();
        return keys.join(' ');
    }
};

} // namespace

class TestSettingsView : public QObject
{
    Q_OBJECT

private slots:
    // First, while the store is still empty.
    void showsTheStoredValuesWithoutWritingThem()
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
            QCOMPARE(view.messageEditor()->text(),
                     QString::fromUtf8("Here\xE2\x80\x99s a daily note from your PortraitPerch."));
            QCOMPARE(view.titleField()->text(), QStringLiteral("Your MenuBar Photo"));
            QCOMPARE(view.backButton() != nullptr, edition == Edition::Perchlight);
            QVERIFY(writes.isEmpty() && reminder.isEmpty());
        }
        // Changes made elsewhere are shown, and not written back.
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        Preferences::write(notificationsEnabled, false);
        Preferences::write(notificationHour, 18);
        Preferences::write(notificationMinute, 20);
        Preferences::write(notificationMessage, QStringLiteral("Elsewhere"));
        Preferences::write(popoverTitle, QStringLiteral("Other"));
        QVERIFY(!view.enableNotificationsSwitch()->isChecked() && view.titleField()->text() == QStringLiteral("Other"));
        QVERIFY(view.timePicker()->time() == QTime(18, 20) &&
                view.messageEditor()->text() == QStringLiteral("Elsewhere"));
        QVERIFY(writes.size() == 5 && reminder.isEmpty());
    }

    void theTimeIsStoredHourThenMinuteAndAnImpossibleOneShowsAsNow()
    {
        Preferences::write(notificationHour, 25);
        SettingsView view(Edition::Perchlight);
        const QTime shown = view.timePicker()->time();
        QVERIFY(shown.second() == 0 && qAbs(QTime::currentTime().secsTo(shown)) < 60);
        QCOMPARE(Preferences::read(notificationHour), 25); // left alone until a time is picked
        WriteLog writes;
        QList<QTime> storedWhenScheduled;
        connect(&view, &SettingsView::reminderSettingsChanged, this, [&] {
            storedWhenScheduled << QTime(int(Preferences::read(notificationHour)),
                                         int(Preferences::read(notificationMinute)));
        });
        view.timePicker()->setTime(QTime(7, 45, 30));
        QCOMPARE(writes.keys(), QStringLiteral("notificationHour notificationMinute"));
        QCOMPARE(view.timePicker()->time(), QTime(7, 45, 30)); // the store's echo did not move the picker
        view.timePicker()->setCurrentSection(QDateTimeEdit::HourSection);
        QTest::keyClick(view.timePicker(), Qt::Key_Up);
        QCOMPARE(storedWhenScheduled, QList<QTime>({QTime(7, 45), QTime(8, 45)}));
    }

    void eachEditWritesOnceAndReschedulesOnceButTheTitleNever()
    {
        Preferences::write(notificationsEnabled, true);
        Preferences::write(notificationMessage, QStringLiteral("Stretch"));
        Preferences::write(popoverTitle,
                           QStringLiteral("Grandma Rosa in her garden, the summer of the giant tomatoes"));
        SettingsView view(Edition::Perchlight);
        PopoverView photoView(nullptr);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        QPlainTextEdit* area = view.messageEditor()->textArea();
        area->moveCursor(QTextCursor::End);
        QTest::keyClick(area, Qt::Key_Exclam);
        QVERIFY(writes.keys() == QStringLiteral("notificationMessage") && reminder.size() == 1);
        QTest::keyClick(area, Qt::Key_Backspace);
        area->selectAll();
        area->cut();
        QCOMPARE(Preferences::read(notificationMessage), QString()); // an empty message is a message too
        area->undo();
        QCOMPARE(Preferences::read(notificationMessage), QStringLiteral("Stretch"));
        QCOMPARE(area->textCursor().position(), 7); // the store's echo left the cursor alone
        QTest::mouseClick(view.enableNotificationsSwitch(), Qt::LeftButton);
        QCOMPARE(Preferences::read(notificationsEnabled), false);
        QTest::keyClick(view.enableNotificationsSwitch(), Qt::Key_Space);
        QVERIFY(Preferences::read(notificationsEnabled) && reminder.size() == 6 && writes.size() == 6);

        // A long title reads from its beginning until the user edits it, then the cursor stays
        // where the typing is; each keystroke is stored and shown in the photo popover.
        QLineEdit* field = view.titleField();
        QVERIFY(field->fontMetrics().horizontalAdvance(field->text()) > field->width() && field->cursorPosition() == 0);
        field->setFocus();
        field->end(false);
        QTest::keyClicks(field, QStringLiteral(" & Bo"));
        QCOMPARE(field->cursorPosition(), field->text().size());
        QVERIFY(writes.size() == 11 && photoView.findChild<ElidedLabel*>()->text().endsWith(QLatin1String(" & Bo")));
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QCOMPARE(photoView.findChild<ElidedLabel*>()->text(), PopoverView::displayTitle(QString()));
        QCOMPARE(reminder.size(), 6);
    }

    void backAndPreviewOnlyAsk()
    {
        QObject observer;
        QList<QObject*> objects;
        NotificationCenter::defaultCenter().addObserver(&observer, NavigationNotifications::openPopoverView,
                                                        [&objects](const auto& note) { objects << note.object; });
        Preferences::write(notificationsEnabled, false);
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        QSignalSpy preview(&view, &SettingsView::previewRequested);
        WriteLog writes;
        QTest::mouseClick(view.backButton(), Qt::LeftButton);
        QTest::mouseClick(view.previewButton(), Qt::LeftButton); // even with reminders off
        QCOMPARE(objects, QList<QObject*>{nullptr});
        QVERIFY(!view.backButton()->icon().isNull() && preview.size() == 1 && writes.isEmpty() && reminder.isEmpty());
    }

    void tabReachesEveryControlTopToBottomByItsVisibleName()
    {
        SettingsView view(Edition::Perchlight);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.backButton()->setFocus();
        QStringList reached;
        for (QWidget* focused = view.backButton(); reached.size() < 6; focused = QApplication::focusWidget()) {
            reached << QAccessible::queryAccessibleInterface(focused)->text(QAccessible::Name);
            if (auto* picker = qobject_cast<QTimeEdit*>(focused)) // Tab first walks its sections
                picker->setCurrentSection(QDateTimeEdit::MinuteSection);
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(reached.join('|'), QStringLiteral("Back|Enable Notifications|Send Daily At:|Notification Message:|"
                                                   "Popover Title:|Send Preview Notification"));
    }

    void fitsItsPopoverWhateverTheMessage()
    {
        Preferences::write(popoverTitle, QString(300, QLatin1Char('W')));
        for (auto [edition, lines] :
             {std::pair{Edition::Perchlight, 0}, {Edition::Perchlight, 200}, {Edition::PortraitPerch, 200}}) {
            Preferences::write(notificationMessage, QStringLiteral("A long reminder\n").repeated(lines));
            AnchoredPopover popover;
            popover.setContentSize(Editions::settingsContentSize(edition));
            popover.setContent(std::make_unique<SettingsView>(edition));
            auto* view = qobject_cast<SettingsView*>(popover.content());
            popover.showRelativeToRect(QRect(600, 2, 22, 22));
            QVERIFY(QTest::qWaitForWindowExposed(&popover));
            auto* scrollArea = popover.findChild<QScrollArea*>();
            // The content size at least (the border comes on top), as tall as the view needs:
            // nothing scrolls but the message.
            const QSize content = Editions::settingsContentSize(edition);
            QVERIFY(scrollArea->width() == content.width() && scrollArea->height() >= content.height());
            QVERIFY(scrollArea->verticalScrollBar()->maximum() == 0 &&
                    view->width() == scrollArea->viewport()->width());
            QCOMPARE(view->messageEditor()->textArea()->geometry(),
                     view->messageEditor()->rect().marginsRemoved({8, 8, 8, 8}));
            QCOMPARE(view->messageEditor()->textArea()->verticalScrollBar()->maximum() > 0, lines > 0);
            for (QWidget* child : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                QVERIFY2(child->geometry().right() < view->width(), child->metaObject()->className());
        }
    }

    // Last: it changes the application's palette.
    void aDarkDesktopGetsADarkPalette()
    {
        for (const auto& [theme, dark] : {std::pair{"Adwaita:dark", true},
                                          {"Adwaita-dark", true},
                                          {" Arc-Dark ", true},
                                          {"Adwaita", false},
                                          {"Adwaita:light", false},
                                          {"Darkroom", false},
                                          {"", false}})
            QVERIFY2(DesktopAppearance::prefersDark(QString::fromLatin1(theme)) == dark, theme);
        const QPalette palette = DesktopAppearance::darkPalette();
        QVERIFY(palette.color(QPalette::PlaceholderText) !=
                palette.color(QPalette::Text)); // distinct from what was typed
        qputenv("GTK_THEME", "Adwaita");
        DesktopAppearance::apply();
        QVERIFY(QApplication::palette().color(QPalette::Window).lightness() > 128);
        qputenv("GTK_THEME", "Adwaita:dark");
        DesktopAppearance::apply();
        // The message box is drawn in the palette's colours, not in fixed light ones.
        NotificationMessageEditor editor;
        editor.resize(280, NotificationMessageEditor::kHeight);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        const QImage shot = editor.grab().toImage();
        QVERIFY(shot.pixelColor(shot.width() / 2, shot.height() - 4).lightness() < 60); // in the 8-pixel margin
        QCOMPARE(editor.textArea()->palette().color(QPalette::Text), palette.color(QPalette::Text));
    }

    void followsWhatTheOtherProgramWrites()
    {
        const ExternalDefaultsChanges following(UserDefaults::standard());
        UserDefaults otherProgram(UserDefaults::standardPath());
        SettingsView view(Edition::PortraitPerch);
        WriteLog changes;
        Preferences::write(popoverTitle, QStringLiteral("mine"));
        Preferences::write(notificationMessage, QStringLiteral("written by the other"), otherProgram);
        QTRY_COMPARE(view.messageEditor()->text(), QStringLiteral("written by the other"));
        // The program's own write is reported once, as before, not again with the other's.
        QCOMPARE(changes.keys(), QStringLiteral("popoverTitle notificationMessage"));
    }
};

QTEST_MAIN(TestSettingsView)
#include "TestSettingsView.moc"
