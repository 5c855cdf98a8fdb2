#pragma once

#include "modem/CallEnder.h"
#include "modem/DiallingProcess.h"

#include <QObject>
#include <QSet>
#include <QStringList>

#include <memory>

class AllowedPrograms;
class ModemDevices;
class ProcessEventWatch;

// Looks at what a process does with the modem, not at what it is called: the devices are closed to
// other users, and whoever opens one all the same (root, or pppd setuid for dip) is found through
// its descriptors at once and handed over as another program's call.
class ModemWatch final : public QObject {
    Q_OBJECT

public:
    // allow: the programs that may hold the modem, known by their executables. diallers: the real
    // pppd, chat and wvdial, which must outlive the watch. events may be null or stopped: the whole of
    // /proc is searched then.
    ModemWatch(const QString& runFolder, const QStringList& allow, const AllowedPrograms& diallers,
               ProcessEventWatch* events, std::unique_ptr<LineSeam> seam = nullptr, QObject* parent = nullptr);
    ~ModemWatch() override;
    Q_DISABLE_COPY_MOVE(ModemWatch)

    void start(const QStringList& devices);
    void stop();
    // Looks for the holders of the modem now; each one not allowed is told with holderFound.
    void lookForHolders();
    // Ends another program's call: DTR dropped on the modem it holds, then its processes and, of what
    // they started, whatever dials or holds the modem (everything below pppd, chat or wvdial).
    // spared (the guard's own call) is never signalled, and a modem it holds keeps its DTR.
    void end(const QList<DiallingProcess>& processes, const QSet<pid_t>& spared = {});
    const AllowedPrograms& allowed() const { return *m_allowed; }

signals:
    void holderFound(const DiallingProcess& process);
    void devicesChanged();

private:
    bool check(pid_t pid);

    QString m_runFolder;
    AllowedPrograms* m_allowed;
    const AllowedPrograms& m_diallers;
    ProcessEventWatch* m_events;
    ModemDevices* m_devices;
    CallEnder* m_ender;
    QSet<QString> m_allowedTold;
    bool m_scanQueued = false;
};
