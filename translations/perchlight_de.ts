<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Open Photo</source>
        <translation>Foto öffnen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>BackButton</name>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Show this help and exit.</source>
        <translation>Diese Hilfe zeigen und beenden.</translation>
    </message>
    <message>
        <source>Show the version and exit.</source>
        <translation>Die Version zeigen und beenden.</translation>
    </message>
    <message>
        <source>Open the photo as soon as the program runs.</source>
        <translation>Das Foto öffnen, sobald das Programm läuft.</translation>
    </message>
    <message>
        <source>Deliver the reminders that are due and exit (what the reminder timer runs).</source>
        <translation>Die fälligen Erinnerungen zustellen und beenden (was der Erinnerungs-Timer ausführt).</translation>
    </message>
    <message>
        <source>Keeps a personal photo in the system tray and turns it into a daily reminder.
A second start shows the photo of the copy that is running.</source>
        <translation>Hält ein persönliches Foto im Infobereich und macht daraus eine tägliche Erinnerung.
Ein zweiter Start zeigt das Foto des laufenden Programms.</translation>
    </message>
    <message>
        <source>Unexpected argument &apos;%1&apos;.</source>
        <translation>Unerwartetes Argument &apos;%1&apos;.</translation>
    </message>
</context>
<context>
    <name>Confinement</name>
    <message>
        <source>Confinement: Landlock ABI %1, for files and TCP.</source>
        <translation>Einschränkung: Landlock ABI %1, für Dateien und TCP.</translation>
    </message>
    <message>
        <source>Confinement: Landlock ABI %1, for files only (this kernel cannot restrict TCP).</source>
        <translation>Einschränkung: Landlock ABI %1, nur für Dateien (dieser Kernel kann TCP nicht einschränken).</translation>
    </message>
    <message>
        <source>Confinement: none, %1.</source>
        <translation>Einschränkung: keine, %1.</translation>
    </message>
</context>
<context>
    <name>FreedesktopNotificationServer</name>
    <message>
        <source>Open Photo</source>
        <translation>Foto öffnen</translation>
    </message>
</context>
<context>
    <name>PhotoWell</name>
    <message>
        <source>Photo</source>
        <extracomment>What a screen reader calls the photo tile</extracomment>
        <translation>Foto</translation>
    </message>
    <message>
        <source>Drop an image here</source>
        <translation>Bild hierher ziehen</translation>
    </message>
</context>
<context>
    <name>PopoverView</name>
    <message>
        <source>Change Photo</source>
        <translation>Foto ändern</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Select a new photo</source>
        <translation>Neues Foto auswählen</translation>
    </message>
    <message>
        <source>Photos (%1)</source>
        <extracomment>A file type filter of the file dialog; %1 is the list of patterns, such as *.png *.jpg</extracomment>
        <translation>Fotos (%1)</translation>
    </message>
</context>
<context>
    <name>Reminders</name>
    <message>
        <source>Preview Notification</source>
        <extracomment>Title of the notification that the settings send at once, to show how the reminder looks</extracomment>
        <translation>Vorschau der Erinnerung</translation>
    </message>
    <message>
        <source>Reminder</source>
        <extracomment>Title of the daily reminder notification</extracomment>
        <translation>Erinnerung</translation>
    </message>
</context>
<context>
    <name>SettingsView</name>
    <message>
        <source>Enable Notifications</source>
        <translation>Tägliche Erinnerung</translation>
    </message>
    <message>
        <source>Send Daily At:</source>
        <extracomment>Before the time of day at which the reminder comes</extracomment>
        <translation>Täglich um:</translation>
    </message>
    <message>
        <source>Notification Message:</source>
        <translation>Text der Erinnerung:</translation>
    </message>
    <message>
        <source>Popover Title:</source>
        <extracomment>The title shown above the photo in the popover that the tray icon opens</extracomment>
        <translation>Titel über dem Foto:</translation>
    </message>
    <message>
        <source>Enter a title</source>
        <translation>Titel eingeben</translation>
    </message>
    <message>
        <source>Send Preview Notification</source>
        <translation>Vorschau senden</translation>
    </message>
</context>
<context>
    <name>StartAtLogin</name>
    <message>
        <source>Start at Login</source>
        <translation>Bei Anmeldung starten</translation>
    </message>
</context>
</TS>
