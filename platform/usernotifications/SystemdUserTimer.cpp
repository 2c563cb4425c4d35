#include "platform/usernotifications/SystemdUserTimer.h"

#include "platform/base/Console.h"
#include "platform/files/PrivateFile.h"
#include "platform/files/UserDirectories.h"
#include "platform/systemd/SystemdUnits.h"
#include "platform/systemd/SystemdUserManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The folders of the store and the look that the delivery run, and a program that it starts on
// a click, share with the program, which the manager's own surroundings may lack or name
// differently. The bus and the display are not among them: they belong to one session, and a
// reminder fires in whichever session runs then, whose desktop keeps them current in the
// manager's surroundings.
const char* const kProgramVariables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CURRENT_DESKTOP", "GTK_THEME"};

std::optional<QByteArray> contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace

SystemdUserTimer::SystemdUserTimer(const QString& executable, const QString& description, ServiceWriter writer,
                                   QObject* parent)
    : DeliveryTimer(parent), m_executable(executable), m_description(description), m_writer(writer),
      m_base(SystemdUnits::baseName(executable)), m_unitDirectory(UserDirectories::userUnitDirectory()),
      m_manager(std::make_unique<SystemdUserManager>())
{
    m_lockRetry.setSingleShot(true);
    m_lockRetry.setInterval(20);
    connect(&m_lockRetry, &QTimer::timeout, this, &SystemdUserTimer::start);

    if (!m_manager->isAvailable())
        m_problem = m_manager->problem();
    else if (!m_manager->unitPath().contains(QDir::cleanPath(m_unitDirectory)))
        m_problem = QStringLiteral("the user's service manager does not load units from %1").arg(m_unitDirectory);
    else if (!serviceText(executable, description))
        m_problem = QStringLiteral("the path %1 cannot be written into a unit file").arg(executable);
}

SystemdUserTimer::~SystemdUserTimer()
{
    unlock();
}

bool SystemdUserTimer::isAvailable() const
{
    return m_manager->isAvailable() && m_manager->unitPath().contains(QDir::cleanPath(m_unitDirectory)) &&
           serviceText(m_executable, m_description);
}

QString SystemdUserTimer::problem() const
{
    return m_problem;
}

std::optional<QString> SystemdUserTimer::serviceText(const QString& executable, const QString& description)
{
    QList<QPair<QString, QString>> environment;
    for (const char* name : kProgramVariables) {
        if (qEnvironmentVariableIsSet(name))
            environment.append({QString::fromLatin1(name), qEnvironmentVariable(name)});
    }
    return SystemdUnits::service(description, {executable, QStringLiteral("--") + kRunOption}, environment);
}

void SystemdUserTimer::sync(std::function<std::optional<QDateTime>()> desired, std::function<void(bool ok)> done)
{
    m_desired = std::move(desired);
    m_waiting.append(std::move(done));
    if (!m_busy)
        start();
}

void SystemdUserTimer::start()
{
    m_busy = true;
    if (!lock()) {
        m_lockRetry.start(); // another process is changing the timer; it takes milliseconds
        return;
    }
    const auto desired = std::exchange(m_desired, {});
    m_serving = std::exchange(m_waiting, {});
    apply(desired());
}

bool SystemdUserTimer::lock()
{
    QString refusal;
    const QString folder = UserDirectories::temporaryDirectory();
    if (m_lockFd < 0 && UserDirectories::makePrivateDirectory(folder, &refusal))
        m_lockFd = ::open(QFile::encodeName(folder + QLatin1Char('/') + m_base + QStringLiteral(".lock")).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    // Without a lock file the timer is still kept; only the guard against a racing process goes.
    return m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0;
}

void SystemdUserTimer::unlock()
{
    if (m_lockFd >= 0)
        ::flock(m_lockFd, LOCK_UN);
}

void SystemdUserTimer::apply(const std::optional<QDateTime>& instant)
{
    const QString timerPath = m_unitDirectory + QLatin1Char('/') + timerName();
    const QString servicePath = m_unitDirectory + QLatin1Char('/') + serviceName();
    const bool enabled = QFileInfo(m_unitDirectory + QStringLiteral("/timers.target.wants/") + timerName()).isSymLink();
    const bool timerExisted = QFileInfo::exists(timerPath);

    if (!instant) {
        if (!enabled && !QFileInfo::exists(timerPath) && !QFileInfo::exists(servicePath)) {
            finish(true);
            return;
        }
        // Stopping or disabling what is already gone is no failure: the end is the same.
        m_manager->call(QStringLiteral("StopUnit"), {timerName(), QStringLiteral("replace")}, [=, this](const auto&) {
            m_manager->call(QStringLiteral("DisableUnitFiles"), {QStringList{timerName()}, false},
                            [=, this](const auto&) {
                                QFile::remove(timerPath);
                                QFile::remove(servicePath);
                                runCalls({{QStringLiteral("Reload"), {}}});
                            });
        });
        return;
    }

    const QByteArray timer = SystemdUnits::timer(m_description, *instant, serviceName(), m_executable).toUtf8();
    std::optional<QByteArray> service = contents(servicePath);
    if (m_writer == ServiceWriter::Program || !service)
        service = serviceText(m_executable, m_description).value_or(QString()).toUtf8();
    bool changed = false;
    bool timerChanged = false;
    for (const auto& [name, text] : {std::pair(serviceName(), *service), std::pair(timerName(), timer)}) {
        if (contents(m_unitDirectory + QLatin1Char('/') + name) == text)
            continue;
        PrivateFile::Error error;
        QString refusal;
        const auto folder = QDir().mkpath(m_unitDirectory) ? UserDirectories::followOwnLink(m_unitDirectory, &refusal)
                                                           : std::optional<QString>();
        if (!folder || !PrivateFile::writeAtomically(*folder, name, text, &error)) {
            m_problem = !refusal.isEmpty()     ? refusal
                        : error.path.isEmpty() ? QStringLiteral("cannot create %1").arg(m_unitDirectory)
                                               : error.description();
            finish(false);
            return;
        }
        changed = true;
        timerChanged = timerChanged || name == timerName();
    }
    // The first time in a process, the manager reads the files and restarts the timer even
    // if they look right: a process that ended halfway may have left them unread, and
    // someone may have stopped the timer. A restarted timer computes its next elapse afresh.
    QList<std::pair<QString, QVariantList>> calls;
    if (changed || !m_confirmed)
        calls.append({QStringLiteral("Reload"), {}});
    if (!enabled) {
        // The switch in the settings decides; a timer disabled behind its back is said so.
        if (m_writer == ServiceWriter::Program && !m_confirmed && timerExisted)
            Console::printError(QStringLiteral("the reminder timer %1 was disabled outside the program; it is enabled "
                                               "again, as reminders are on in the settings")
                                    .arg(timerName()));
        calls.append({QStringLiteral("EnableUnitFiles"), {QStringList{timerName()}, false, true}});
    }
    if (timerChanged || !m_confirmed)
        calls.append({QStringLiteral("RestartUnit"), {timerName(), QStringLiteral("replace")}});
    runCalls(calls);
}

void SystemdUserTimer::runCalls(QList<std::pair<QString, QVariantList>> calls)
{
    if (calls.isEmpty()) {
        m_confirmed = true;
        finish(true);
        return;
    }
    const std::pair<QString, QVariantList> call = calls.takeFirst();
    const QString method = call.first;
    m_manager->call(method, call.second, [this, method, calls = std::move(calls)](const QString& error) mutable {
        if (!error.isEmpty()) {
            m_problem = method + QStringLiteral(": ") + error;
            m_confirmed = false;
            finish(false);
            return;
        }
        runCalls(std::move(calls));
    });
}

void SystemdUserTimer::finish(bool ok)
{
    unlock();
    m_busy = false;
    const auto serving = std::exchange(m_serving, {});
    if (m_desired)
        start();
    for (const auto& done : serving)
        done(ok);
}
