// The settings popover's view: what it shows, what each control writes and when it asks for
// the reminder to be scheduled again; and the dark palette it may be drawn in, after the desktop's
// setting on a session bus of the test's own.
#include "ChildProcess.h"
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

#include <QtDBus>
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

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");

} // namespace

// The portal's Settings interface as the program reads it. An invalid value is a setting the
// portal does not publish; without ReadOne it is a portal before version 2, whose Read wraps
// the value in a second variant.
class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    QVariant colorScheme;
    bool hasReadOne = true;

public slots:
    QDBusVariant ReadOne(const QString& nameSpace, const QString& key)
    {
        if (!hasReadOne)
            sendErrorReply(QDBusError::UnknownMethod, QString());
        return Read(nameSpace, key).variant().value<QDBusVariant>();
    }
    QDBusVariant Read(const QString& nameSpace, const QString& key)
    {
        if (nameSpace != kAppearance || key != QLatin1String("color-scheme") || !colorScheme.isValid())
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QString());
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme.isValid() ? colorScheme : QVariant(0u))));
    }

signals:
    void SettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);
};

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
            QVERIFY(writes.isEmpty());
            QVERIFY(reminder.isEmpty());
        }
        // Changes made elsewhere, in this program or by the other one, are shown, and not written
        // back; the program's own writes are reported once, not again with the other's.
        ExternalDefaultsChanges following(UserDefaults::standard());
        UserDefaults otherProgram(UserDefaults::standardPath());
        SettingsView view(Edition::Perchlight);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        WriteLog writes;
        Preferences::write(notificationsEnabled, false);
        Preferences::write(notificationHour, 18);
        Preferences::write(notificationMinute, 20);
        Preferences::write(popoverTitle, QStringLiteral("Other"));
        Preferences::write(notificationMessage, QStringLiteral("Elsewhere"), otherProgram);
        QTRY_COMPARE(view.messageEditor()->text(), QStringLiteral("Elsewhere"));
        QVERIFY(!view.enableNotificationsSwitch()->isChecked());
        QVERIFY(view.titleField()->text() == QStringLiteral("Other"));
        QVERIFY(view.timePicker()->time() == QTime(18, 20));
        QVERIFY(reminder.isEmpty());
        QCOMPARE(writes.keys(), QStringLiteral("notificationsEnabled notificationHour notificationMinute popoverTitle "
                                               "notificationMessage"));
        // Another writer's text reaches a field being edited, the cursor stays where it was,
        // and the next keystroke adds to that text instead of bringing the old one back.
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        for (auto [field, preference] : {std::pair<QWidget*, Preference<QString>>{view.titleField(), popoverTitle},
                                         {view.messageEditor()->textArea(), notificationMessage}}) {
            field->setFocus();
            for (const Qt::Key key : {Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_X})
                QTest::keyClick(field, key);
            QTRY_COMPARE(Preferences::read(preference, otherProgram), Preferences::read(preference)); // landed
            Preferences::write(preference, QStringLiteral("Theirs"), otherProgram);
            QTRY_COMPARE(field->property(field == view.titleField() ? "text" : "plainText").toString(), "Theirs");
            QTest::keyClick(field, Qt::Key_Exclam);
            QCOMPARE(Preferences::read(preference), QStringLiteral("The!irs"));
        }
    }

    void theTimeIsStoredHourThenMinuteAndAnImpossibleOneShowsAsNow()
    {
        Preferences::write(notificationHour, 25);
        SettingsView view(Edition::Perchlight);
        const QTime shown = view.timePicker()->time();
        QVERIFY(shown.second() == 0);
        QVERIFY(qAbs(QTime::currentTime().secsTo(shown)) < 60);
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
        // A typed time is stored once, when complete.
        view.timePicker()->setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClicks(view.timePicker(), QStringLiteral("0615"));
        QTest::keyClick(view.timePicker(), Qt::Key_Return);
        QCOMPARE(storedWhenScheduled, QList<QTime>({QTime(7, 45), QTime(8, 45), QTime(6, 15)}));
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
        QVERIFY(writes.keys() == QStringLiteral("notificationMessage"));
        QVERIFY(reminder.size() == 1);
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
        QVERIFY(Preferences::read(notificationsEnabled));
        QVERIFY(reminder.size() == 6);
        QVERIFY(writes.size() == 6);

        // A long title reads from its beginning until the user edits it, then the cursor stays
        // where the typing is; each keystroke is stored and shown in the photo popover.
        QLineEdit* field = view.titleField();
        QVERIFY(field->fontMetrics().horizontalAdvance(field->text()) > field->width());
        QVERIFY(field->cursorPosition() == 0);
        field->setFocus();
        field->end(false);
        QTest::keyClicks(field, QStringLiteral(" & Bo"));
        QCOMPARE(field->cursorPosition(), field->text().size());
        QVERIFY(writes.size() == 11);
        QVERIFY(photoView.findChild<ElidedLabel*>()->text().endsWith(QLatin1String(" & Bo")));
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QCOMPARE(photoView.findChild<ElidedLabel*>()->text(), PopoverView::displayTitle(QString()));
        QCOMPARE(reminder.size(), 6);
    }

    void tabReachesEveryControlByItsNameAndBackAndPreviewOnlyAsk()
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
        // Back and the preview only ask, the preview even with reminders off.
        QObject observer;
        QList<QObject*> objects;
        NotificationCenter::defaultCenter().addObserver(&observer, NavigationNotifications::openPopoverView,
                                                        [&objects](const auto& note) { objects << note.object; });
        Preferences::write(notificationsEnabled, false);
        QSignalSpy reminder(&view, &SettingsView::reminderSettingsChanged);
        QSignalSpy preview(&view, &SettingsView::previewRequested);
        WriteLog writes;
        QTest::mouseClick(view.backButton(), Qt::LeftButton);
        QTest::mouseClick(view.previewButton(), Qt::LeftButton);
        QCOMPARE(objects, QList<QObject*>{nullptr});
        QVERIFY(!view.backButton()->icon().isNull());
        QVERIFY(preview.size() == 1);
        QVERIFY(writes.isEmpty());
        QVERIFY(reminder.isEmpty());
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
            QVERIFY(scrollArea->width() == content.width());
            QVERIFY(scrollArea->height() >= content.height());
            QVERIFY(scrollArea->verticalScrollBar()->maximum() == 0);
            QVERIFY(view->width() == scrollArea->viewport()->width());
            QCOMPARE(view->messageEditor()->textArea()->geometry(),
                     view->messageEditor()->rect().marginsRemoved({8, 8, 8, 8}));
            QCOMPARE(view->messageEditor()->textArea()->verticalScrollBar()->maximum() > 0, lines > 0);
            for (QWidget* child : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                QVERIFY2(child->geometry().right() < view->width(), child->metaObject()->className());
        }
    }

    // Last: it changes the application's palette. The desktop's dark setting as the portal
    // states it, else GTK_THEME's; followed live, the message box's fill with it.
    void aDarkDesktopGetsADarkPaletteAndTheSwitchIsFollowed()
    {
        ChildProcess daemon(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        const QString address = QString::fromUtf8(daemon.readLine(10000).value_or("").trimmed());
        QDBusConnection bus = QDBusConnection::connectToBus(address, "program");
        QDBusConnection portalSide = QDBusConnection::connectToBus(address, "portal");
        FakePortal portal;
        QVERIFY2(portalSide.registerObject(kPath, &portal, QDBusConnection::ExportAllContents) &&
                     portalSide.registerService(kPortal),
                 "dbus-daemon is needed (package dbus)");
        const auto settle = [&] { // every answer of the portal so far has been handled
            QDBusPendingCallWatcher ping(
                bus.asyncCall(QDBusMessage::createMethodCall(kPortal, kPath, "org.freedesktop.DBus.Peer", "Ping")));
            QTRY_VERIFY(ping.isFinished());
            QCoreApplication::processEvents();
        };
        // GNOME's own look where adwaita-qt is installed, unless the user chose a style.
        const QStringList installed{"Fusion", "Adwaita", "Adwaita-Dark"};
        for (const auto& [desktop, chosen, styles, isDark, style] :
             {std::tuple{"GNOME", "", installed, true, "Adwaita-Dark"},
              {"ubuntu:GNOME", "", installed, false, "Adwaita"},
              {"GNOME-Classic:GNOME", "kvantum", installed, false, ""},
              {"GNOME", "", QStringList{"Fusion"}, false, ""},
              {"KDE", "", installed, false, ""}})
            QCOMPARE(DesktopAppearance::desktopStyle(QString(desktop).split(':'), chosen, styles, isDark),
                     QString::fromLatin1(style));
        const QPalette light = QApplication::palette();
        const QPalette dark = DesktopAppearance::darkPalette();
        QVERIFY(dark.color(QPalette::PlaceholderText) != dark.color(QPalette::Text)); // distinct from what was typed
        NotificationMessageEditor editor;
        editor.resize(280, NotificationMessageEditor::kHeight);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        const auto looksDark = [&](bool isDark) { // the message box's 8-pixel margin too, not a fixed light fill
            const QImage shot = editor.grab().toImage();
            return QApplication::palette().color(QPalette::Window) == (isDark ? dark : light).color(QPalette::Window) &&
                   (shot.pixelColor(shot.width() / 2, shot.height() - 4).lightness() < 60) == isDark;
        };
        // The portal's value (invalid: unpublished) and whether it has ReadOne; GTK_THEME.
        for (const auto& [scheme, readOne, theme, isDark] : {std::tuple{QVariant(1u), true, "Adwaita", true},
                                                             {QVariant(2u), true, "Adwaita:dark", false},
                                                             {QVariant(0u), true, " Arc-Dark ", true},
                                                             {QVariant(0u), true, "Darkroom", false},
                                                             {QVariant(7u), true, "Adwaita-dark", true},
                                                             {QVariant(), true, "Adwaita:light", false},
                                                             {QVariant(1u), false, "", true}}) {
            QApplication::setPalette(light);
            portal.colorScheme = scheme;
            portal.hasReadOne = readOne;
            qputenv("GTK_THEME", theme);
            DesktopAppearance appearance(bus);
            appearance.start();
            settle();
            QTRY_VERIFY2(looksDark(isDark), theme);
            // The user flips the desktop's switch; another setting of the same name changes nothing.
            emit portal.SettingChanged(kAppearance, "color-scheme", QDBusVariant(isDark ? 2u : 1u));
            emit portal.SettingChanged("org.gnome.desktop", "color-scheme", QDBusVariant(isDark ? 1u : 2u));
            QTRY_VERIFY2(looksDark(!isDark), theme);
            settle();
            QVERIFY2(looksDark(!isDark), theme);
            QCOMPARE(editor.textArea()->palette().color(QPalette::Text), QApplication::palette().color(QPalette::Text));
        }
    }
};

QTEST_MAIN(TestSettingsView)
#include "TestSettingsView.moc"
