#include "modem/ModemWatch.h"

#include "modem/AllowedPrograms.h"
#include "modem/CallEnder.h"
#include "modem/ModemDevices.h"
#include "modem/ProcessEventWatch.h"
#include "platform/PrivateFolder.h"
#include "platform/SystemHelpers.h"

#include <QFile>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

ModemWatch::ModemWatch(const QString& runFolder, const QStringList& allow, const AllowedPrograms& diallers,
                       ProcessEventWatch* events, std::unique_ptr<LineSeam> seam, QObject* parent)
    : QObject(parent), m_runFolder(runFolder),
      m_allowed(new AllowedPrograms(allow, {}, QStringLiteral("allow"), this)), m_diallers(diallers),
      m_events(events),
      m_devices(new ModemDevices(runFolder + QStringLiteral("/modem-devices"), this)),
      m_ender(new CallEnder(std::move(seam), this)) {
    connect(m_devices, &ModemDevices::opened, this, &ModemWatch::lookForHolders);
    connect(m_devices, &ModemDevices::nodesChanged, this, &ModemWatch::devicesChanged);
    // A holder that ran an allowed program may run one no longer (an upgrade put another in its place).
    connect(m_allowed, &AllowedPrograms::identitiesChanged, this, &ModemWatch::lookForHolders);
}

ModemWatch::~ModemWatch() = default;

void ModemWatch::start(const QStringList& devices) {
    QString why;
    if (!Subs::EnsurePrivateFolder(m_runFolder, &why))
        qWarning("dial-up: no folder to record the modem's owner and mode: %s", qPrintable(why));
    m_devices->close(devices);
    // Whoever holds it already opened it before the guard closed it.
    lookForHolders();
}

void ModemWatch::stop() {
    m_devices->giveBack();
}

bool ModemWatch::check(pid_t pid) {
    const QByteArray node = HeldModem(pid, m_devices->nodes());
    // The guard opens the line itself to drop DTR.
    if (node.isEmpty() || pid == ::getpid())
        return false;
    const auto p = DiallingProcess::inspectHolder(pid, QFile::decodeName(node), m_diallers);
    if (!p)
        return false;
    if (m_allowed->allows(pid)) {
        if (!m_allowedTold.contains(p->executable))
            qInfo("dial-up: %s holds the modem %s: allowed", qPrintable(p->executable), node.constData());
        m_allowedTold.insert(p->executable);
        return false;
    }
    emit holderFound(*p);
    return true;
}

void ModemWatch::lookForHolders() {
    if (m_devices->nodes().isEmpty())
        return;
    // A process that just opened the modem was most likely started lately: those are looked at
    // first, the whole of /proc right after, once for a burst of opens.
    QSet<pid_t> seen;
    if (m_events && m_events->isRunning())
        for (pid_t pid : m_events->recentPids())
            if (!seen.contains(pid)) {
                seen.insert(pid);
                check(pid);
            }
    if (m_scanQueued)
        return;
    m_scanQueued = true;
    QTimer::singleShot(0, this, [this, seen] {
        m_scanQueued = false;
        for (pid_t pid : DiallingProcess::allProcessIds())
            if (!seen.contains(pid))
                check(pid);
    });
}

void ModemWatch::end(const QList<DiallingProcess>& processes, const QSet<pid_t>& spared) {
    const QList<ModemNode>& nodes = m_devices->nodes();
    QList<CallProcess> targets;
    QSet<pid_t> taken;
    QSet<QByteArray> heldNow; // the nodes the targets hold now: those get DTR dropped
    // held: whether it held the modem when found, which the ender checks again before signalling;
    // node: what it holds now.
    const auto add = [&](pid_t pid, quint64 startTime, bool held, const QByteArray& node, bool gentle) {
        if (taken.contains(pid) || pid == ::getpid() || spared.contains(pid))
            return;
        taken.insert(pid);
        if (!node.isEmpty())
            heldNow.insert(node);
        targets.append({pid, startTime, held, gentle});
    };
    const QString pppd = QStringLiteral("pppd");
    for (const DiallingProcess& p : processes) {
        add(p.pid, p.startTime, p.holdsModem, HeldModem(p.pid, nodes), p.dialler && p.program == pppd);
        struct stat info {};
        const QByteArray proc = "/proc/" + QByteArray::number(p.pid);
        const long uid = ::stat(proc.constData(), &info) == 0 ? long(info.st_uid) : -1;
        qWarning("dial-up: ending another program's call: %s, pid %d, uid %ld", qPrintable(p.executable),
                 int(p.pid), uid);
    }
    for (const DiallingProcess& p : processes) {
        for (pid_t child : DiallingProcess::descendantsOf({p.pid})) {
            const auto stat = Subs::ReadProcessStat(child);
            const QByteArray node = HeldModem(child, nodes);
            const auto dialling = DiallingProcess::inspect(child, m_diallers);
            if (stat && (p.dialler || !node.isEmpty() || dialling))
                add(child, stat->startTime, !node.isEmpty(), node, dialling && dialling->program == pppd);
        }
    }
    // The guard's own call goes on: its line keeps DTR up.
    for (pid_t pid : spared)
        heldNow.remove(HeldModem(pid, nodes));
    QList<ModemNode> held;
    for (const ModemNode& node : nodes)
        if (heldNow.contains(node.path))
            held.append(node);
    m_ender->end(held, targets);
}
