#pragma once

#include "dialer/DialerControl.h"
#include "dialer/DialerSettings.h"
#include "dialer/DiallingProcess.h"
#include "dialer/PppLineParser.h"
#include "dialer/PppLink.h"

#include <QHash>
#include <QProcess>

#include <memory>

class PppCallFiles;
class ProcessEventWatch;
class ProcessExitWatch;
class ProcessKiller;
class QTimer;
class WvdialPhonebook;

// The real line: dials through pppd with a chat connect script, and watches the machine for
// dialling programs it did not start, reporting their calls like its own.
class PppDialer final : public DialerControl {
    Q_OBJECT

public:
    explicit PppDialer(const DialerSettings& settings, QObject* parent = nullptr);
    ~PppDialer() override;
    Q_DISABLE_COPY_MOVE(PppDialer)

    QString PhonebookFile() const override;
    QString EntryName() const override;
    QString EntryNumber() const override;
    QString EntryUser() const override;
    bool IsOnline() const override;
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

    // The kernel's process-event connector is used when it can be; false forces the /proc scan.
    void SetUseProcessEvents(bool on);
    // True while other programs' calls are watched through the connector, false with the scan.
    bool UsesProcessEvents() const;

private:
    WvdialPhonebook phonebook() const;
    bool ownCallActive() const { return m_pppd != nullptr; }
    bool isOwn(const DiallingProcess& process) const;
    QString activeInterface() const;

    void onPppdOutput();
    void onPppdFinished(int exitCode, QProcess::ExitStatus status);
    void onPppdError(QProcess::ProcessError error);
    void endOwnCall(const QList<PppLineParser::Event>& events);
    void deliver(const QList<PppLineParser::Event>& events);
    void reportStatus(int state);
    void raiseError(int code);

    void startWatch();
    void stopWatch();
    void scanForOthers();
    void onDiallingSeen(const DiallingProcess& process);
    void onProcessExited(pid_t pid);
    void checkOtherLink();

    DialerSettings m_settings;
    QString m_selected;
    bool m_watchOthers = false;
    bool m_reportEveryStage = true;
    bool m_useProcessEvents = true;
    int m_intervalMs = 100;

    // Our own call.
    QProcess* m_pppd = nullptr;
    std::unique_ptr<PppCallFiles> m_files;
    PppLineParser m_parser;
    QString m_ownEntry;
    bool m_hangingUp = false;

    // The call placed by another program: its processes, entry and link.
    QHash<pid_t, DiallingProcess> m_others;
    QString m_otherEntry;
    QString m_otherInterface;
    bool m_otherConnected = false;

    PppLink m_link;
    ProcessEventWatch* m_events;
    ProcessExitWatch* m_exits;
    ProcessKiller* m_killer;
    QTimer* m_scanTimer;
    QTimer* m_linkTimer;
};
