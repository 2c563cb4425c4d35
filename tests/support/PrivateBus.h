#pragma once

#include "ChildProcess.h"
#include "PhotoFixtures.h"

#include <QTemporaryDir>

// A session bus of the test's own with nothing to start on demand, so that a name is there
// only while something in the test owns it. start() makes it the session bus of this process:
// call it before anything connects to one.
class PrivateBus
{
public:
    bool start()
    {
        const QString config = m_folder.filePath(QStringLiteral("bus.conf"));
        if (!PhotoFixtures::writeFile(config,
                                      QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                                     "<policy context='default'><allow send_destination='*'/>"
                                                     "<allow receive_sender='*'/><allow own='*'/></policy></busconfig>")
                                          .arg(m_folder.path())
                                          .toUtf8()))
            return false;
        m_daemon = std::make_unique<ChildProcess>(
            QStringLiteral("dbus-daemon"), QStringList{"--config-file=" + config, "--nofork", "--print-address"});
        const auto address = m_daemon->readLine(10000);
        if (!address)
            return false;
        m_address = QString::fromUtf8(address->trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        return true;
    }
    QString address() const { return m_address; }

private:
    QTemporaryDir m_folder;
    std::unique_ptr<ChildProcess> m_daemon;
    QString m_address;
};
