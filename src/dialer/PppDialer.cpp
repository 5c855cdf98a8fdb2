#include "dialer/PppDialer.h"

#include "dialer/PppCallFiles.h"
#include "dialer/ProcessEventWatch.h"
#include "dialer/ProcessExitWatch.h"
#include "dialer/ProcessKiller.h"
#include "dialer/WvdialPhonebook.h"

#include <QStandardPaths>
#include <QTimer>

#include <limits>

namespace {

constexpr int DefaultIntervalMs = 100;
constexpr int ShortestIntervalMs = 10;

// pppd and chat live in /usr/sbin, which is not on an ordinary user's PATH.
QString resolveProgram(const QString& name) {
    if (name.contains(QLatin1Char('/')))
        return name;
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found.isEmpty() ? name : found;
}

} // namespace

PppDialer::PppDialer(const DialerSettings& settings, QObject* parent)
    : DialerControl(parent), m_settings(settings), m_events(new ProcessEventWatch(this)),
      m_exits(new ProcessExitWatch(this)), m_killer(new ProcessKiller(this)), m_scanTimer(new QTimer(this)),
      m_linkTimer(new QTimer(this)) {
    connect(m_events, &ProcessEventWatch::diallingStarted, this, &PppDialer::onDiallingSeen,
            Qt::QueuedConnection);
    connect(m_events, &ProcessEventWatch::eventsLost, this, &PppDialer::scanForOthers, Qt::QueuedConnection);
    connect(m_exits, &ProcessExitWatch::exited, this, &PppDialer::onProcessExited);
    m_scanTimer->setTimerType(Qt::PreciseTimer);
    connect(m_scanTimer, &QTimer::timeout, this, &PppDialer::scanForOthers);
    connect(m_linkTimer, &QTimer::timeout, this, &PppDialer::checkOtherLink);
    m_scanTimer->setInterval(DefaultIntervalMs);
    m_linkTimer->setInterval(DefaultIntervalMs);
}

PppDialer::~PppDialer() {
    stopWatch();
    if (m_pppd) {
        m_pppd->disconnect(this);
        m_pppd->terminate();
        if (!m_pppd->waitForFinished(1000))
            m_pppd->kill();
        m_pppd->waitForFinished(1000);
    }
    if (m_files)
        m_files->remove();
}

WvdialPhonebook PppDialer::phonebook() const {
    return WvdialPhonebook::read(m_settings.phonebook);
}

QString PppDialer::PhonebookFile() const {
    return m_settings.phonebook;
}

QString PppDialer::EntryName() const {
    if (!m_others.isEmpty())
        return m_otherEntry;
    if (ownCallActive() || m_parser.connected())
        return m_ownEntry;
    return m_selected;
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
    auto files = std::make_unique<PppCallFiles>(*entry, resolveProgram(m_settings.chat));
    if (!files->isValid()) {
        raiseError(DeviceUnavailable);
        return;
    }
    m_files = std::move(files);
    m_parser = PppLineParser(entry->dialCommand);
    m_ownEntry = entry->name;
    m_hangingUp = false;

    m_pppd = new QProcess(this);
    m_pppd->setProcessChannelMode(QProcess::MergedChannels);
    m_pppd->setStandardInputFile(QProcess::nullDevice());
    connect(m_pppd, &QProcess::readyRead, this, &PppDialer::onPppdOutput);
    connect(m_pppd, &QProcess::finished, this, &PppDialer::onPppdFinished);
    connect(m_pppd, &QProcess::errorOccurred, this, &PppDialer::onPppdError);

    deliver(m_parser.started());
    // A Status handler may have hung up already.
    if (m_hangingUp) {
        endOwnCall({});
        return;
    }
    m_pppd->start(resolveProgram(m_settings.pppd), m_files->pppdArguments());
}

void PppDialer::onPppdOutput() {
    if (!m_pppd)
        return;
    while (m_pppd && m_pppd->canReadLine())
        deliver(m_parser.feed(QString::fromLocal8Bit(m_pppd->readLine())));
}

void PppDialer::onPppdFinished(int exitCode, QProcess::ExitStatus status) {
    if (!m_pppd)
        return;
    onPppdOutput();
    const QByteArray rest = m_pppd->readAll();
    QList<PppLineParser::Event> events = m_parser.feed(QString::fromLocal8Bit(rest));
    events += m_parser.finished(exitCode, status == QProcess::CrashExit, m_hangingUp);
    endOwnCall(events);
}

void PppDialer::onPppdError(QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart || !m_pppd)
        return;
    m_parser.finished(0, false, true);
    endOwnCall({{PppLineParser::Event::Kind::Error, DeviceUnavailable,
                 PppLineParser::errorText(DeviceUnavailable)}});
}

void PppDialer::endOwnCall(const QList<PppLineParser::Event>& events) {
    if (m_pppd) {
        m_pppd->disconnect(this);
        m_pppd->deleteLater();
        m_pppd = nullptr;
    }
    if (m_files) {
        m_files->remove();
        m_files.reset();
    }
    m_hangingUp = false;
    deliver(events);
}

void PppDialer::HangUp() {
    // The processes already known get their signal before the slower search for the rest.
    QList<pid_t> known;
    if (m_pppd) {
        m_hangingUp = true;
        if (m_pppd->processId() > 0)
            known << static_cast<pid_t>(m_pppd->processId());
    }
    for (auto it = m_others.cbegin(); it != m_others.cend(); ++it)
        known << it.key();
    // What they started must be found before they die: orphans lose their parent link.
    m_killer->terminate(known + DiallingProcess::descendantsOf(QSet<pid_t>(known.cbegin(), known.cend())));

    // The search for the others reads all of /proc: done right after, so that HangUp returns
    // at once.
    QTimer::singleShot(0, this, [this, known] {
        QSet<pid_t> roots(known.cbegin(), known.cend());
        QList<pid_t> rest;
        for (const DiallingProcess& p : DiallingProcess::scanAll())
            if (!roots.contains(p.pid)) {
                roots.insert(p.pid);
                rest << p.pid;
            }
        // Killing wvdial alone would leave its pppd; whatever a dialling process started goes too.
        rest += DiallingProcess::descendantsOf(roots);
        m_killer->terminate(rest);
    });
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

void PppDialer::startWatch() {
    if (!(m_useProcessEvents && m_events->start()))
        m_scanTimer->start();
    // Whatever runs already was never announced.
    scanForOthers();
}

void PppDialer::stopWatch() {
    m_events->stop();
    m_scanTimer->stop();
    m_linkTimer->stop();
    m_exits->clear();
    m_others.clear();
    m_otherConnected = false;
    m_otherEntry.clear();
    m_otherInterface.clear();
}

void PppDialer::scanForOthers() {
    if (!m_watchOthers)
        return;
    for (const DiallingProcess& p : DiallingProcess::scanAll())
        onDiallingSeen(p);
}

bool PppDialer::isOwn(const DiallingProcess& process) const {
    if (!m_pppd)
        return false;
    const auto own = static_cast<pid_t>(m_pppd->processId());
    return own > 0 && (process.pid == own || process.ancestors.contains(own));
}

void PppDialer::onDiallingSeen(const DiallingProcess& process) {
    if (!m_watchOthers || isOwn(process))
        return;
    if (m_others.contains(process.pid)) {
        m_others[process.pid] = process;
        return;
    }
    const bool first = m_others.isEmpty();
    m_others.insert(process.pid, process);
    m_exits->watch(process.pid);
    if (!first)
        return;
    m_otherEntry = process.entryName;
    m_otherConnected = false;
    m_otherInterface.clear();
    m_linkTimer->start();
    reportStatus(ConnectDevice);
}

void PppDialer::onProcessExited(pid_t pid) {
    if (!m_others.remove(pid) || !m_others.isEmpty())
        return;
    m_linkTimer->stop();
    const bool wasConnected = m_otherConnected;
    m_otherConnected = false;
    m_otherInterface.clear();
    if (wasConnected) {
        reportStatus(Disconnected);
        emit Disconnect();
    }
}

void PppDialer::checkOtherLink() {
    if (m_others.isEmpty() || m_otherConnected)
        return;
    QString interface;
    for (auto it = m_others.cbegin(); it != m_others.cend() && interface.isEmpty(); ++it)
        if (it->program == QLatin1String("pppd"))
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
    m_otherConnected = true;
    reportStatus(Connected);
    emit Connect();
}
