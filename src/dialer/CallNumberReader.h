#pragma once

#include "dialer/DialledNumber.h"

#include <QDeadlineTimer>
#include <QObject>

#include <map>

class ForeignFiles;

// Reads the number another program's call dials without ever waiting for it: the files its
// processes name are read in child processes (ForeignFiles) while the event loop goes on, pass after
// pass as one file names the next. A reading not done TimeLimitMs after it was asked for is given up,
// its child killed, and its number counts as unreadable.
class CallNumberReader final : public QObject {
    Q_OBJECT

public:
    static constexpr int TimeLimitMs = 2000;

    explicit CallNumberReader(QObject* parent = nullptr);
    ~CallNumberReader() override;
    Q_DISABLE_COPY_MOVE(CallNumberReader)

    // Starts reading the dial string of a call's processes (DialledNumber::Evaluate); numberRead
    // tells it later, from the event loop. trusted: the identities of the real pppd, chat and wvdial.
    quint64 read(const QList<DiallingProcess>& processes, const QSet<QByteArray>& trusted);
    // numberRead is not emitted for it; a child of it that runs is killed.
    void cancel(quint64 id);

signals:
    // number: empty when it cannot be told (timedOut: because the reading took too long).
    void numberRead(quint64 id, const QString& number, bool timedOut);

private:
    struct Reading {
        QList<DiallingProcess> processes;
        QSet<QByteArray> trusted;
        DialledNumber::Answers answers;
        QDeadlineTimer deadline;
        quint64 files = 0; // the child's job, while one reads
        int passes = 0;
    };
    void pass(quint64 id);
    void finish(quint64 id, const QString& number, bool timedOut);

    ForeignFiles* m_files;
    quint64 m_lastId = 0;
    std::map<quint64, Reading> m_readings;
};
