#pragma once

#include "dialer/DialerControl.h"
#include "dialer/DialerSettings.h"
#include "dialer/WvdialPhonebook.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QRandomGenerator>
#include <QTimer>

#include <optional>

class QLocalSocket;

// The built-in line: a modem that dials through the stages of a real call, gets an address
// and carries traffic. Other programs on the machine place calls, drop the line and raise
// modem errors through the owner-only control socket "line.sock" in the run folder
// (see tools/norvale-line); they are reported like the component's own calls.
class SimulatedDialer final : public DialerControl {
    Q_OBJECT

public:
    // Calls kept for the status report; older ones are forgotten.
    static constexpr int MaxCallHistory = 1000;

    SimulatedDialer(const DialerSettings& settings, const QString& socketFolder, QObject* parent = nullptr);
    ~SimulatedDialer() override;
    Q_DISABLE_COPY_MOVE(SimulatedDialer)

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

    // The control socket's path; empty when it could not be opened.
    QString socketPath() const;
    // What `norvale-line status` prints: the line, its entry and every call, oldest first.
    QJsonObject lineStatus() const;

    // English text of a dial-up error code, as a Windows user knows it.
    static QString errorText(int code);

private:
    enum class Placer { Norvale, Other };
    enum class Outcome { InProgress, Connected, HungUp, Dropped, Error };

    struct Call {
        quint64 id = 0;
        QString entry;
        QString number;
        Placer placedBy = Placer::Norvale;
        int lastState = Idle;
        Outcome outcome = Outcome::InProgress;
        QElapsedTimer placed;
        std::optional<double> hungUpAfterMs;
    };

    static QString outcomeName(Outcome outcome);
    const WvdialPhonebook& phonebook() const;
    Call* activeCall();
    const Call* activeCall() const;
    bool isReported(const Call& call) const;
    bool stillActive(quint64 id) const;

    QString placeCall(const QString& entry, const QString& number, Placer placer);
    void advanceStage();
    void endCall(Outcome outcome);
    void raiseError(int code);
    void raiseLater(int code);
    void updateTraffic() const;

    void listen();
    void acceptClients();
    void serve(QLocalSocket* socket);
    QJsonObject answer(const QJsonObject& request);

    DialerSettings m_settings;
    QString m_appFolder;

    // The phonebook as last read; parsed again only when its bytes change.
    mutable QByteArray m_bookBytes;
    mutable WvdialPhonebook m_book;
    mutable bool m_bookRead = false;
    // The phonebook as last read while it could be read.
    mutable WvdialPhonebook m_readableBook;

    std::optional<PhonebookEntry> m_selected;

    bool m_watchOthers = true;
    bool m_reportStages = true;
    int m_watchIntervalMs = 100;

    QList<Call> m_calls;
    quint64 m_nextCallId = 1;
    std::optional<quint64> m_activeId;
    int m_stageIndex = 0;
    QTimer m_stageTimer;

    QString m_ip;
    QElapsedTimer m_trafficClock;
    mutable qint64 m_trafficSteps = 0;
    mutable double m_received = 0;
    mutable double m_sent = 0;
    mutable double m_downLevel = 1;
    mutable double m_upLevel = 1;
    mutable QRandomGenerator m_random;

    QLocalServer m_server;
    QString m_socketPath;
};
