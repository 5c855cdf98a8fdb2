#include "dialer/PppDialer.h"

#include "dialer/CallNumberReader.h"
#include "dialer/CallSyslog.h"
#include "dialer/DialString.h"
#include "dialer/DialledNumber.h"
#include "dialer/PppCallFiles.h"
#include "dialer/WvdialPhonebook.h"
#include "modem/AllowedPrograms.h"
#include "modem/ModemFence.h"
#include "modem/ModemWatch.h"
#include "modem/Pidfd.h"
#include "modem/ProcessEventWatch.h"
#include "modem/ProcessExitWatch.h"
#include "modem/ProcessKiller.h"
#include "platform/PrivateFolder.h"
#include "platform/SystemHelpers.h"
#include "platform/TrustedPath.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/close_range.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int DefaultIntervalMs = 100;
constexpr int ShortestIntervalMs = 10;
// pppd's own exit codes, for an end whose code nobody can read any more.
constexpr int PppdUserRequest = 5;
constexpr int PppdHangup = 16;
// A log line longer than this is no line of pppd's or chat's.
constexpr qsizetype LongestLogLine = 64 * 1024;

// pppd and chat live in /usr/sbin, which is not on an ordinary user's PATH.
QString resolveProgram(const QString& name) {
    if (name.contains(QLatin1Char('/')))
        return name;
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found.isEmpty() ? name : found;
}

// The real pppd, chat and wvdial: the ones the settings name and the system's own.
AllowedPrograms* diallerPrograms(const DialerSettings& settings, QObject* parent) {
    QStringList paths, names;
    const auto add = [&](const QString& path, const char* name) {
        if (path.startsWith(u'/')) {
            paths << path;
            names << QLatin1String(name);
        }
    };
    add(resolveProgram(settings.pppd), "pppd");
    add(QStringLiteral("/usr/sbin/pppd"), "pppd");
    add(resolveProgram(settings.chat), "chat");
    add(QStringLiteral("/usr/sbin/chat"), "chat");
    add(resolveProgram(QStringLiteral("wvdial")), "wvdial");
    return new AllowedPrograms(paths, names, QStringLiteral("dialler"), parent);
}

// Starts pppd as a process that does not need us: its output goes to the log, it has a process
// group of its own, and it gets none of our descriptors nor our blocked signals. pppd sends each of
// its lines to syslog as well, and chat may too: in a mount namespace of its own the syslog socket
// is covered by cover, the guard's, so that each line reaches the guard's log once. pid, or -1;
// *why says why the socket could not be covered, where it could not.
pid_t spawnPppd(const QString& program, const QStringList& arguments, int logFd, const QString& syslogSocket,
                const QString& cover, QString* why) {
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString& a : arguments)
        words.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const QByteArray syslog = QFile::encodeName(syslogSocket);
    const QByteArray coverPath = QFile::encodeName(cover);
    // The child tells here what failed: a step and errno. The pipe closes with the exec.
    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only system calls from here: other threads may have held locks at the fork.
        const auto tell = [&](char step) {
            const int error = errno;
            char message[1 + sizeof error];
            message[0] = step;
            std::memcpy(message + 1, &error, sizeof error);
            (void)!::write(status[1], message, sizeof message);
        };
        // Slave: the cover is not seen outside, while mounts made outside still reach pppd.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0)
            tell('n');
        else if (::access(syslog.constData(), F_OK) == 0 &&
                 ::mount(coverPath.constData(), syslog.constData(), nullptr, MS_BIND, nullptr) != 0)
            tell('m');
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2})
            ::sigaction(signal, &standard, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::setpgid(0, 0);
        const int input = ::open("/dev/null", O_RDONLY);
        if (input < 0 || ::dup2(input, 0) < 0 || ::dup2(logFd, 1) < 0 || ::dup2(logFd, 2) < 0) {
            tell('e');
            ::_exit(127);
        }
        // A descriptor left open would keep our locks (the run folder's among them) alive in pppd.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(argv.front(), argv.data(), environ);
        tell('e');
        ::_exit(127);
    }
    ::close(status[1]);
    char message[1 + sizeof(int)];
    bool started = pid > 0;
    ssize_t n;
    while ((n = ::read(status[0], message, sizeof message)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n != sizeof message)
            break;
        int error = 0;
        std::memcpy(&error, message + 1, sizeof error);
        if (message[0] == 'e')
            started = false;
        else if (why)
            *why = QStringLiteral("%1: %2").arg(message[0] == 'n' ? QStringLiteral("no mount namespace")
                                                                 : QStringLiteral("cannot cover %1").arg(syslogSocket),
                                                QString::fromLocal8Bit(std::strerror(error)));
    }
    ::close(status[0]);
    if (pid > 0 && !started)
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    return started ? pid : -1;
}

// Whether the process runs with this call's options file, as only the call's own pppd does.
bool runsWithOptions(pid_t pid, const QString& optionsPath) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/cmdline", static_cast<int>(pid));
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = QByteArray("file") + '\0' + optionsPath.toLocal8Bit() + '\0';
    const QByteArray cmdline = file.read(128 * 1024);
    return cmdline.startsWith(wanted) || cmdline.contains('\0' + wanted);
}

// pppd's and chat's words for a line that is gone or a call that failed: what an end nobody saw
// the exit code of is taken for.
bool tellsOfAnEnd(const QByteArray& line) {
    const QByteArray l = line.trimmed();
    return l.startsWith("Modem hangup") || l.startsWith("Serial link appears to be disconnected") ||
           l.startsWith("Failed") || l.startsWith("Connect script failed") ||
           l.contains("authentication failed") || l.contains("Authentication failure");
}

} // namespace

PppDialer::PppDialer(const DialerSettings& settings, QObject* parent, ModemFence* fence)
    : DialerControl(parent), m_settings(settings), m_diallers(diallerPrograms(settings, this)),
      m_events(new ProcessEventWatch(*m_diallers, this)), m_fence(fence), m_exits(new ProcessExitWatch(this)),
      m_ownExit(new ProcessExitWatch(this)), m_logWatch(new QFileSystemWatcher(this)),
      m_killer(new ProcessKiller(this)), m_scanTimer(new QTimer(this)), m_linkTimer(new QTimer(this)),
      m_numbers(new CallNumberReader(this)) {
    m_modem = new ModemWatch(m_settings.runFolder, m_settings.allow, *m_diallers, m_events, nullptr, this);
    connect(m_numbers, &CallNumberReader::numberRead, this,
            [this](quint64 id, const QString& number) { onNumberRead(id, number); });
    connect(m_modem, &ModemWatch::holderFound, this, &PppDialer::onDiallingSeen);
    connect(m_events, &ProcessEventWatch::diallingStarted, this, &PppDialer::onDiallingSeen,
            Qt::QueuedConnection);
    connect(m_events, &ProcessEventWatch::eventsLost, this, &PppDialer::scanForOthers, Qt::QueuedConnection);
    connect(m_exits, &ProcessExitWatch::exited, this, &PppDialer::onProcessExited);
    m_scanTimer->setTimerType(Qt::PreciseTimer);
    connect(m_scanTimer, &QTimer::timeout, this, &PppDialer::scanForOthers);
    connect(m_linkTimer, &QTimer::timeout, this, &PppDialer::checkOtherLink);
    m_scanTimer->setInterval(DefaultIntervalMs);
    m_linkTimer->setInterval(DefaultIntervalMs);
    connect(m_ownExit, &ProcessExitWatch::exited, this, &PppDialer::onOwnExited);
    connect(m_logWatch, &QFileSystemWatcher::fileChanged, this, &PppDialer::readLog);
    if (m_fence) {
        // The devices are known before the fence goes up: a fence taken over from an earlier guard
        // must never be replaced by an empty one.
        m_fence->setParent(this);
        m_fence->setModems(modemDevices());
        m_fence->start();
        m_fence->follow(&m_modem->allowed(), m_events);
        // Not the phonebook read again: it cannot be opened while it is locked.
        connect(m_modem, &ModemWatch::devicesChanged, m_fence, &ModemFence::nodesMoved);
        connect(m_fence, &ModemFence::blocked, this,
                [this](const QString& program) { emit Blocked(program, ownCallActive()); });
    }
    // Before any watch starts: a call of ours must never be taken for another program's.
    adoptCalls();
}

PppDialer::~PppDialer() {
    stopWatch();
    // The call goes on without us, its folder with it; a restarted guard adopts it.
    m_ownExit->disconnect(this);
    m_logWatch->disconnect(this);
    if (m_logFd >= 0)
        ::close(m_logFd);
    if (m_files && m_ownPid <= 0)
        m_files->remove();
}

WvdialPhonebook PppDialer::phonebook() const {
    return WvdialPhonebook::read(m_settings.phonebook);
}

QString PppDialer::PhonebookFile() const {
    return m_settings.phonebook;
}

// While our own call runs, it is the one told of, unless another program's call is being told.
bool PppDialer::tellsOther() const {
    return !m_others.isEmpty() && (m_inOtherEvent || !ownCallActive());
}

QString PppDialer::EntryName() const {
    if (tellsOther())
        return m_otherEntry;
    if (ownCallActive() || m_parser.connected())
        return m_ownEntry;
    return m_selected;
}

QString PppDialer::CallNumber() const {
    // As the last reading of its processes found it: what the guard decides on waits for one.
    if (tellsOther())
        return m_otherNumber;
    // Our own call dials what its chat script says.
    if (ownCallActive())
        return DialledNumber::OfChatScript(
            Subs::ReadSmallFile(QFile::encodeName(m_files->scriptPath()).constData(), 64 * 1024));
    return {};
}

QString PppDialer::EntryNumber() const {
    const auto entry = phonebook().entry(m_selected);
    return entry ? entry->number : QString();
}

QString PppDialer::EntryUser() const {
    const auto entry = phonebook().entry(m_selected);
    return entry ? entry->user : QString();
}

qint16 PppDialer::EntryCount() const {
    const qsizetype n = phonebook().entryNames().size();
    return static_cast<qint16>(qMin<qsizetype>(n, std::numeric_limits<qint16>::max()));
}

QString PppDialer::EntryNameAt(qint16 index) const {
    return phonebook().entryNames().value(index);
}

qint16 PppDialer::SelectEntry(const QString& name) {
    if (!phonebook().entry(name))
        return EntryNotFound;
    m_selected = name;
    return Done;
}

QString PppDialer::activeInterface() const {
    if (m_otherConnected)
        return m_otherInterface;
    if (m_parser.connected())
        return m_parser.interfaceName();
    return {};
}

bool PppDialer::IsOnline() const {
    return m_otherConnected || m_parser.connected();
}

bool PppDialer::IsBusy() const {
    return ownCallActive() || !m_others.isEmpty();
}

QString PppDialer::IpAddress() const {
    const QString address = m_link.address(activeInterface());
    if (!address.isEmpty() || m_otherConnected)
        return address;
    return m_parser.connected() ? m_parser.localAddress() : QString();
}

qint32 PppDialer::BytesReceived() const {
    return m_link.bytesReceived(activeInterface());
}

qint32 PppDialer::BytesSent() const {
    return m_link.bytesSent(activeInterface());
}

void PppDialer::reportStatus(int state) {
    if (m_reportEveryStage || state == Connected || state == Disconnected)
        emit Status(state);
}

void PppDialer::raiseError(int code) {
    emit LastError(code, PppLineParser::errorText(code), 0);
}

void PppDialer::deliver(const QList<PppLineParser::Event>& events) {
    for (const PppLineParser::Event& e : events) {
        switch (e.kind) {
        case PppLineParser::Event::Kind::State:
            if (e.value > m_toldAhead)
                reportStatus(e.value);
            break;
        case PppLineParser::Event::Kind::Connect:
            emit Connect();
            break;
        case PppLineParser::Event::Kind::Disconnect:
            emit Disconnect();
            break;
        case PppLineParser::Event::Kind::Error:
            emit LastError(e.value, e.text, 0);
            break;
        }
    }
}

void PppDialer::Dial() {
    if (ownCallActive())
        return;
    const auto entry = phonebook().entry(m_selected);
    if (!entry) {
        raiseError(EntryNotFound);
        return;
    }
    if (const QString refused = DialString::Refusal(*entry); !refused.isEmpty()) {
        qWarning("dial-up: \"%s\" is not dialled: %s", qPrintable(entry->name), qPrintable(refused));
        raiseError(EntryNotFound);
        return;
    }
    QString why;
    if (!Subs::EnsurePrivateFolder(m_settings.runFolder, &why)) {
        qWarning("dial-up: no folder for the call's files: %s", qPrintable(why));
        raiseError(DeviceUnavailable);
        return;
    }
    auto files =
        std::make_unique<PppCallFiles>(*entry, resolveProgram(m_settings.chat), m_settings.runFolder);
    if (!files->isValid()) {
        files->remove();
        raiseError(DeviceUnavailable);
        return;
    }
    m_files = std::move(files);
    m_parser = PppLineParser(entry->dialCommand);
    m_callLog = PppCallLog(entry->name, entry->password);
    m_ownEntry = entry->name;
    m_ownPid = 0;
    m_hangingUp = false;
    m_logToldEnd = false;
    m_toldAhead = Idle;

    // chat sends the number as soon as the modem has answered the init: the stages up to the
    // device's are told before pppd runs, so that a Status handler that hangs up the call there
    // does so before any digit reaches the modem. The chat script is written by then, and
    // CallNumber reads what it will send.
    deliver(m_parser.started());
    for (const int state : {PortOpened, ConnectDevice}) {
        if (m_hangingUp)
            break;
        m_toldAhead = state;
        reportStatus(state);
    }
    if (m_hangingUp) {
        endOwnCall({});
        return;
    }
    startPppd(entry->dialCommand);
}

void PppDialer::startPppd(const QString& dialCommand) {
    const int logFd = m_files->createLog();
    // The scripts pppd runs keep their syslog lines: they reach the guard's log, tagged.
    m_callSyslog = new CallSyslog(m_files->folder() + QStringLiteral("/syslog"), this);
    connect(m_callSyslog, &CallSyslog::datagram, this, [this](const QByteArray& bytes) {
        const PppCallLog::Syslog told = m_callLog.fromSyslog(bytes);
        for (const QString& line : told.lines) {
            if (told.severity <= 3)
                qCritical("%s", qUtf8Printable(line));
            else if (told.severity == 4)
                qWarning("%s", qUtf8Printable(line));
            else
                qInfo("%s", qUtf8Printable(line));
        }
    });
    const QString cover = m_callSyslog->path().isEmpty() ? QStringLiteral("/dev/null") : m_callSyslog->path();
    QString uncovered;
    const pid_t pid = logFd >= 0 ? spawnPppd(resolveProgram(m_settings.pppd), m_files->pppdArguments(), logFd,
                                             m_syslogSocket, cover, &uncovered)
                                 : -1;
    if (pid > 0 && !uncovered.isEmpty())
        qWarning("dial-up: pppd's lines of \"%s\" also reach the system log: %s", qPrintable(m_ownEntry),
                 qPrintable(uncovered));
    if (logFd >= 0)
        ::close(logFd);
    if (pid <= 0) {
        m_parser.finished(0, false, true);
        endOwnCall({{PppLineParser::Event::Kind::Error, DeviceUnavailable,
                     PppLineParser::errorText(DeviceUnavailable)}});
        return;
    }
    m_ownPid = pid;
    m_ownChild = true;
    // Our child stays unreaped until we wait for it, so its start time cannot be another's.
    const PppCallFiles::Record record{m_ownEntry, dialCommand, pid,
                                      PppCallFiles::startTimeOf(pid).value_or(0)};
    if (!m_files->writeRecord(record))
        qWarning("dial-up: cannot write %s: a restarted guard will not know this call",
                 qPrintable(m_files->recordPath()));
    followLog();
    m_ownExit->watch(pid);
}

void PppDialer::followLog() {
    const QString path = m_files->logPath();
    m_logFd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    m_logRest.clear();
    if (m_logFd < 0)
        return;
    // Watched before the first read, so that no line written in between waits for the next one.
    m_logWatch->addPath(path);
    readLog();
}

void PppDialer::readLog() {
    char buffer[4096];
    while (m_logFd >= 0) {
        const ssize_t n = ::read(m_logFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        m_logRest.append(buffer, n);
        qsizetype newline;
        while (m_files && (newline = m_logRest.indexOf('\n')) >= 0) {
            const QByteArray line = m_logRest.left(newline);
            m_logRest.remove(0, newline + 1);
            feedLine(line);
        }
        if (m_logRest.size() > LongestLogLine) {
            feedLine(m_logRest);
            m_logRest.clear();
        }
    }
}

void PppDialer::feedLine(const QByteArray& line) {
    m_logToldEnd = m_logToldEnd || tellsOfAnEnd(line);
    const auto events = m_parser.feed(QString::fromLocal8Bit(line));
    const QString logged = m_callLog.tag(line);
    // An adopted call's past was told, and logged, when it happened.
    if (m_replaying)
        return;
    if (!logged.isEmpty())
        qInfo("%s", qUtf8Printable(logged));
    deliver(events);
}

void PppDialer::onOwnExited(pid_t pid) {
    if (pid != m_ownPid || m_ownPid <= 0)
        return;
    int status = 0;
    pid_t waited = -1;
    if (m_ownChild)
        while ((waited = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
    if (waited == 0) {
        // Still running: no pidfd could be had for it, so its end is looked for at the interval.
        QTimer::singleShot(m_intervalMs, this, [this, pid] { onOwnExited(pid); });
        return;
    }
    // Everything pppd wrote is in the log before its end is known.
    readLog();
    if (m_files && !m_logRest.isEmpty()) {
        feedLine(m_logRest);
        m_logRest.clear();
    }
    if (!m_files || pid != m_ownPid)
        return;
    QList<PppLineParser::Event> events;
    if (waited == pid) {
        const bool crashed = WIFSIGNALED(status);
        events = m_parser.finished(crashed ? 0 : WEXITSTATUS(status), crashed, m_hangingUp);
    } else {
        // An adopted call: its exit code went to the guard that started it (reaped here only when
        // that was this very process). A hang-up then, or the failure the log told of.
        ::waitpid(pid, &status, WNOHANG);
        events = m_parser.finished(m_logToldEnd ? PppdHangup : PppdUserRequest, false, m_hangingUp);
    }
    endOwnCall(events);
}

void PppDialer::endOwnCall(const QList<PppLineParser::Event>& events) {
    m_ownExit->clear();
    if (m_callSyslog) {
        m_callSyslog->drain();
        delete std::exchange(m_callSyslog, nullptr);
    }
    if (m_logFd >= 0) {
        ::close(m_logFd);
        m_logFd = -1;
    }
    if (!m_logWatch->files().isEmpty())
        m_logWatch->removePaths(m_logWatch->files());
    m_logRest.clear();
    if (m_files) {
        m_files->remove();
        m_files.reset();
    }
    m_ownPid = 0;
    m_ownChild = false;
    m_hangingUp = false;
    m_toldAhead = Idle;
    deliver(events);
    if (!IsBusy())
        emit CallEnded();
}

void PppDialer::adoptCalls() {
    const QString& run = m_settings.runFolder;
    // Only a folder the guard made private already is read: the component never makes it here.
    if (run.isEmpty() || !QFileInfo(run).isDir())
        return;
    QString why;
    if (!Subs::EnsurePrivateFolder(run, &why)) {
        qWarning("dial-up: not looking for earlier calls: %s", qPrintable(why));
        return;
    }
    for (const QString& folder : PppCallFiles::callFolders(run)) {
        auto files = std::make_unique<PppCallFiles>(folder);
        const auto record = files->readRecord();
        // The handle is taken first: once the start time matches, the process cannot change.
        Pidfd pidfd(record ? record->pid : 0);
        const bool running = record && pidfd.isValid() &&
                             PppCallFiles::startTimeOf(record->pid) == record->startTime &&
                             runsWithOptions(record->pid, files->optionsPath());
        if (!running)
            files->remove();
        else if (!ownCallActive())
            adopt(std::move(files), record->entry, record->dialCommand, std::move(pidfd));
        // A second live call of ours cannot be followed as well; its files stay while it runs.
    }
}

void PppDialer::adopt(std::unique_ptr<PppCallFiles> files, const QString& entry, const QString& dialCommand,
                      Pidfd pidfd) {
    m_files = std::move(files);
    m_parser = PppLineParser(dialCommand);
    const auto phonebookEntry = phonebook().entry(entry);
    m_callLog = PppCallLog(entry, phonebookEntry ? phonebookEntry->password : QString());
    m_ownEntry = entry;
    m_ownPid = pidfd.pid();
    m_ownChild = false;
    m_hangingUp = false;
    m_logToldEnd = false;
    m_toldAhead = Idle;
    // The log from its start tells where the call stands; what it told is not told again.
    m_replaying = true;
    m_parser.started();
    followLog();
    m_replaying = false;
    m_ownExit->watch(std::move(pidfd));
    // A call that is up is announced, after the start-up that made us has finished.
    if (m_parser.connected()) {
        const pid_t pid = m_ownPid;
        QTimer::singleShot(0, this, [this, pid] {
            if (m_ownPid == pid && m_parser.connected())
                emit Connect();
        });
    }
}

void PppDialer::HangUp() {
    // Asked while another program's call is told: the guard refuses that call, and ours goes on.
    const bool othersOnly = m_inOtherEvent;
    // The processes already known get their signal before the slower search for the rest.
    QList<pid_t> known;
    if (ownCallActive() && !othersOnly) {
        m_hangingUp = true;
        if (m_ownPid > 0)
            known << m_ownPid;
    }
    // What they started must be found before they die: orphans lose their parent link.
    m_killer->terminate(known + DiallingProcess::descendantsOf(QSet<pid_t>(known.cbegin(), known.cend())));
    const QSet<pid_t> spared = othersOnly ? ownProcesses() : QSet<pid_t>();
    m_otherEnded = m_otherEnded || !m_others.isEmpty();
    m_modem->end(m_others.values(), spared);
    for (auto it = m_others.cbegin(); it != m_others.cend(); ++it)
        known << it.key();

    // The search for the others reads all of /proc: done right after, so that HangUp returns
    // at once.
    QTimer::singleShot(0, this, [this, known, othersOnly] {
        const QSet<pid_t> roots(known.cbegin(), known.cend());
        const QSet<pid_t> spared = othersOnly ? ownProcesses() : QSet<pid_t>();
        QList<DiallingProcess> rest;
        for (const DiallingProcess& p : DiallingProcess::scanAll(*m_diallers))
            if (!roots.contains(p.pid) && !isOwn(p) && !spared.contains(p.pid))
                rest << p;
        m_modem->end(rest, spared);
    });
}

QSet<pid_t> PppDialer::ownProcesses() const {
    if (m_ownPid <= 0)
        return {};
    QSet<pid_t> own{m_ownPid};
    for (pid_t pid : DiallingProcess::descendantsOf(own))
        own.insert(pid);
    return own;
}

void PppDialer::SetWatchOtherCalls(bool on) {
    m_watchOthers = on;
    if (on)
        startWatch();
    else
        stopWatch();
}

void PppDialer::SetReportEveryStage(bool on) {
    m_reportEveryStage = on;
}

void PppDialer::SetWatchInterval(qint16 milliseconds) {
    m_intervalMs = milliseconds > 0 ? qMax<int>(milliseconds, ShortestIntervalMs) : DefaultIntervalMs;
    m_scanTimer->setInterval(m_intervalMs);
    m_linkTimer->setInterval(m_intervalMs);
}

void PppDialer::SetUseProcessEvents(bool on) {
    m_useProcessEvents = on;
    if (m_watchOthers) {
        stopWatch();
        startWatch();
    }
}

bool PppDialer::UsesProcessEvents() const {
    return m_events->isRunning();
}

QStringList PppDialer::modemDevices() const {
    const WvdialPhonebook book = phonebook();
    QStringList devices;
    for (const QString& name : book.entryNames())
        if (const auto entry = book.entry(name))
            devices << entry->modem;
    devices.removeDuplicates();
    // A phonebook that others than root may write (which the guard cannot hold locked either) would
    // let them choose what root makes its own.
    QString why;
    if (!devices.isEmpty() && !Subs::OnlyOwnersCanChange(m_settings.phonebook, &why)) {
        qWarning("dial-up: the phonebook %s can be changed by others than root (%s): the modems it names "
                 "(%s) are left as they are",
                 qPrintable(m_settings.phonebook), qPrintable(why), qPrintable(devices.join(QLatin1String(", "))));
        return {};
    }
    return devices;
}

QStringList PppDialer::FenceLayers() const {
    return m_fence ? m_fence->layers() : QStringList();
}

QString PppDialer::ReducedProtection() const {
    return m_fence ? m_fence->reducedProtection() : QString();
}

void PppDialer::RemoveFence() {
    if (m_fence)
        m_fence->release();
    m_modem->stop();
}

void PppDialer::startWatch() {
    if (!(m_useProcessEvents && m_events->start()))
        m_scanTimer->start();
    const QStringList modems = modemDevices();
    if (m_fence)
        m_fence->setModems(modems);
    m_modem->start(modems);
    // Whatever runs already was never announced.
    scanForOthers();
}

void PppDialer::stopWatch() {
    forgetNumber();
    m_modem->stop();
    m_events->stop();
    m_scanTimer->stop();
    m_linkTimer->stop();
    m_exits->clear();
    m_others.clear();
    m_otherConnected = false;
    m_otherEntry.clear();
    m_otherInterface.clear();
    m_otherNamed = false;
    m_otherEnded = false;
}

void PppDialer::scanForOthers() {
    if (!m_watchOthers)
        return;
    for (const DiallingProcess& p : DiallingProcess::scanAll(*m_diallers))
        onDiallingSeen(p);
}

bool PppDialer::isOwn(const DiallingProcess& process) const {
    return m_ownPid > 0 && (process.pid == m_ownPid || process.ancestors.contains(m_ownPid));
}

void PppDialer::onDiallingSeen(const DiallingProcess& process) {
    // Whatever runs in the guard's cgroup was started by the guard.
    if (!m_watchOthers || isOwn(process) || (m_fence && m_fence->isInside(process.pid)))
        return;
    if (m_others.contains(process.pid)) {
        DiallingProcess& known = m_others[process.pid];
        const bool changed = known.program != process.program || known.arguments != process.arguments;
        // A holder found by its descriptors is seen again under its exec'd name: it still holds.
        const bool held = known.holdsModem;
        known = process;
        known.holdsModem = known.holdsModem || held;
        if (changed)
            readNumber();
        return;
    }
    const bool first = m_others.isEmpty();
    m_others.insert(process.pid, process);
    m_exits->watch(process.pid);
    readNumber();
    // Every process counts: one that names another entry than the call's is checked again.
    const bool renamed = process.namesEntry() && (!m_otherNamed || process.entryName != m_otherEntry);
    // A process that joins a call being hung up (a holder's parent found after its child) goes too.
    if (!first && !renamed && m_otherEnded)
        m_modem->end({process}, ownProcesses());
    if (!first && !renamed)
        return;
    m_otherEntry = process.entryName;
    m_otherNamed = process.namesEntry();
    if (first) {
        m_otherConnected = false;
        m_otherEnded = false;
        m_otherInterface.clear();
        m_linkTimer->start();
    }
    afterReading([this] { reportOther(ConnectDevice); });
}

void PppDialer::onProcessExited(pid_t pid) {
    if (!m_others.remove(pid))
        return;
    if (!m_others.isEmpty()) {
        readNumber();
        return;
    }
    const bool told = m_otherTold;
    forgetNumber();
    m_linkTimer->stop();
    const bool wasConnected = m_otherConnected;
    const bool ended = m_otherEnded;
    m_otherConnected = false;
    m_otherInterface.clear();
    m_otherNamed = false;
    m_otherEnded = false;
    // Our own call went on meanwhile: the displays hear of it again, not of an end.
    if (ownCallActive()) {
        if (told && m_parser.connected())
            emit Connect();
        return;
    }
    if (wasConnected)
        reportStatus(Disconnected);
    // A call hung up before it connected ends for the displays as well.
    if (wasConnected || ended)
        emit Disconnect();
    if (!IsBusy())
        emit CallEnded();
}

void PppDialer::checkOtherLink() {
    if (m_others.isEmpty() || m_otherConnected || m_otherConnectWaits)
        return;
    QString interface;
    for (auto it = m_others.cbegin(); it != m_others.cend() && interface.isEmpty(); ++it)
        if (it->dialler && it->program == QLatin1String("pppd"))
            interface = m_link.interfaceOf(it.key());
    if (interface.isEmpty()) {
        // Without a pid file naming it: a ppp interface that is not our own call's.
        const QString mine = m_parser.connected() ? m_parser.interfaceName() : QString();
        for (const QString& candidate : m_link.interfaces())
            if (candidate != mine && !m_link.address(candidate).isEmpty()) {
                interface = candidate;
                break;
            }
    }
    if (interface.isEmpty() || m_link.address(interface).isEmpty())
        return;
    m_otherInterface = interface;
    m_otherConnectWaits = true;
    afterReading([this] {
        m_otherConnectWaits = false;
        // Hung up already: it is no connection to tell of.
        if (m_otherEnded)
            return;
        m_otherConnected = true;
        m_otherTold = true;
        const QScopedValueRollback other(m_inOtherEvent, true);
        reportStatus(Connected);
        emit Connect();
    });
}

void PppDialer::reportOther(int state) {
    m_otherTold = true;
    const QScopedValueRollback other(m_inOtherEvent, true);
    reportStatus(state);
}

void PppDialer::readNumber() {
    QSet<QByteArray> trusted;
    for (const ExecutableIdentity& program : m_diallers->identities())
        trusted.insert(QByteArray::number(quint64(program.file.dev)) + ':' +
                       QByteArray::number(quint64(program.file.ino)));
    if (m_numberReading) {
        // A process that leaves the number unknown by itself (a writer that is no dialler) does not
        // wait for the files of the others, which may never come.
        if (!DialledNumber::Evaluate(m_others.values(), trusted, {}).wanted.isEmpty()) {
            m_numberStale = true;
            return;
        }
        m_numbers->cancel(m_numberReading);
    }
    m_numberStale = false;
    m_numberReading = m_numbers->read(m_others.values(), trusted);
}

void PppDialer::afterReading(std::function<void()> tell) {
    if (m_numberReading)
        m_afterReading.append(std::move(tell));
    else
        tell();
}

void PppDialer::onNumberRead(quint64 id, const QString& number) {
    if (id != m_numberReading)
        return;
    m_numberReading = 0;
    // The processes read are still the call's: no process came or went meanwhile.
    const bool current = !std::exchange(m_numberStale, false);
    const bool changed = number != std::exchange(m_otherNumber, number);
    // What waited is told with this number even when the processes changed meanwhile: a call whose
    // processes keep coming and going must not put its check off for ever.
    const QList<std::function<void()>> waiting = std::exchange(m_afterReading, {});
    if (!current)
        readNumber();
    for (const auto& tell : waiting)
        if (!m_others.isEmpty())
            tell();
    // A process that joined a call already checked (a second writer on the modem) changed what it
    // dials: it is checked again.
    if (waiting.isEmpty() && current && changed && m_otherTold && !m_otherEnded && !m_others.isEmpty())
        reportOther(ConnectDevice);
}

void PppDialer::forgetNumber() {
    if (m_numberReading)
        m_numbers->cancel(m_numberReading);
    m_numberReading = 0;
    m_numberStale = false;
    m_otherNumber.clear();
    m_afterReading.clear();
    m_otherConnectWaits = false;
    m_otherTold = false;
}
