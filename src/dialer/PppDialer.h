#pragma once

#include "dialer/DialerControl.h"
#include "dialer/DialerSettings.h"
#include "modem/DiallingProcess.h"
#include "dialer/PppCallLog.h"
#include "dialer/PppLineParser.h"
#include "dialer/PppLink.h"

#include <QHash>

#include <functional>
#include <memory>

class AllowedPrograms;
class CallNumberReader;
class CallSyslog;
class Pidfd;
class PppCallFiles;
class ModemFence;
class ModemWatch;
class ProcessEventWatch;
class ProcessExitWatch;
class ProcessKiller;
class QFileSystemWatcher;
class QTimer;
class WvdialPhonebook;

// The real line: dials through pppd with a chat connect script, and watches the machine for
// dialling programs it did not start, reporting their calls like its own.
// A call outlives the component: pppd writes to a log in its call folder under the run folder, and
// a new component adopts a call whose pppd still runs when it is made.
class PppDialer final : public DialerControl {
    Q_OBJECT

public:
    // fence, when given, is taken over and started before any process of the line.
    explicit PppDialer(const DialerSettings& settings, QObject* parent = nullptr, ModemFence* fence = nullptr);
    ~PppDialer() override;
    Q_DISABLE_COPY_MOVE(PppDialer)

    QString PhonebookFile() const override;
    QString EntryName() const override;
    QString CallNumber() const override;
    QString EntryNumber() const override;
    QString EntryUser() const override;
    bool IsOnline() const override;
    bool IsBusy() const override;
    qint16 EntryCount() const override;
    QString EntryNameAt(qint16 index) const override;
    QString IpAddress() const override;
    qint16 SelectEntry(const QString& name) override;
    qint32 BytesReceived() const override;
    qint32 BytesSent() const override;
    void Dial() override;
    void HangUp() override;
    void SetWatchOtherCalls(bool on) override;
    void SetReportEveryStage(bool on) override;
    void SetWatchInterval(qint16 milliseconds) override;
    QStringList FenceLayers() const override;
    QString ReducedProtection() const override;
    void RemoveFence() override;

    // The kernel's process-event connector is used when it can be; false forces the /proc scan.
    void SetUseProcessEvents(bool on);
    // True while other programs' calls are watched through the connector, false with the scan.
    bool UsesProcessEvents() const;
    // The syslog socket that our pppd finds covered (tests name one of their own).
    void SetSyslogSocket(const QString& path) { m_syslogSocket = path; }

private:
    WvdialPhonebook phonebook() const;
    bool ownCallActive() const { return m_files != nullptr; }
    bool isOwn(const DiallingProcess& process) const;
    bool tellsOther() const;
    QString activeInterface() const;

    void startPppd(const QString& dialCommand);
    void followLog();
    void readLog();
    void feedLine(const QByteArray& line);
    void onOwnExited(pid_t pid);
    void endOwnCall(const QList<PppLineParser::Event>& events);
    void adoptCalls();
    void adopt(std::unique_ptr<PppCallFiles> files, const QString& entry, const QString& dialCommand,
               Pidfd pidfd);
    void deliver(const QList<PppLineParser::Event>& events);
    void reportStatus(int state);
    void raiseError(int code);

    void startWatch();
    void stopWatch();
    void scanForOthers();
    void onDiallingSeen(const DiallingProcess& process);
    void onProcessExited(pid_t pid);
    void checkOtherLink();
    QStringList modemDevices() const;
    // Our own pppd and what it started: never ended with another program's call.
    QSet<pid_t> ownProcesses() const;
    // Another program's call: its number is read again whenever its processes change, and what
    // the guard decides on (the call's stage, its connection) waits for the reading.
    void readNumber();
    void onNumberRead(quint64 id, const QString& number);
    void afterReading(std::function<void()> tell);
    void forgetNumber();
    void reportOther(int state);

    DialerSettings m_settings;
    QString m_selected;
    bool m_watchOthers = false;
    bool m_reportEveryStage = true;
    bool m_useProcessEvents = true;
    QString m_syslogSocket = QStringLiteral("/dev/log");
    int m_intervalMs = 100;

    // Our own call, placed by this component or adopted; pid 0 until pppd runs.
    std::unique_ptr<PppCallFiles> m_files;
    pid_t m_ownPid = 0;
    bool m_ownChild = false; // started here: its exit code is ours to read
    PppLineParser m_parser;
    PppCallLog m_callLog;
    CallSyslog* m_callSyslog = nullptr;
    QString m_ownEntry;
    bool m_hangingUp = false;
    bool m_replaying = false;
    bool m_logToldEnd = false; // the log told of the line's end or of a failure
    int m_toldAhead = Idle;    // stages told before pppd ran: chat's lines do not tell them again
    int m_logFd = -1;
    QByteArray m_logRest; // a line pppd has not finished yet

    // The call placed by another program: its processes, entry and link.
    QHash<pid_t, DiallingProcess> m_others;
    QString m_otherEntry;
    QString m_otherInterface;
    bool m_otherConnected = false;
    bool m_otherNamed = false; // m_otherEntry came from a command line
    bool m_otherEnded = false; // hung up here: its end is reported
    bool m_otherConnectWaits = false;
    bool m_otherTold = false; // the displays heard of it
    quint64 m_numberReading = 0; // the reading of the call's number under way
    bool m_numberStale = false;  // its processes changed since that reading started
    QString m_otherNumber;
    QList<std::function<void()>> m_afterReading;
    // An event of another program's call is being told: a hang-up now is the guard refusing it.
    bool m_inOtherEvent = false;

    PppLink m_link;
    AllowedPrograms* m_diallers; // the real pppd, chat and wvdial
    ProcessEventWatch* m_events;
    ModemWatch* m_modem;
    ModemFence* m_fence;
    ProcessExitWatch* m_exits;
    ProcessExitWatch* m_ownExit;
    QFileSystemWatcher* m_logWatch;
    ProcessKiller* m_killer;
    QTimer* m_scanTimer;
    QTimer* m_linkTimer;
    CallNumberReader* m_numbers;
};
