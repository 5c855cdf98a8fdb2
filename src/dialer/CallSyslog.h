#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// The syslog socket of a call's processes: a datagram socket of the guard's in the call's folder,
// which pppd's mount namespace sees in the place of the system's. Every datagram is handed on as it
// came; nothing is read once the object is gone.
class CallSyslog final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CallSyslog)

public:
    explicit CallSyslog(const QString& path, QObject* parent = nullptr);
    ~CallSyslog() override;

    // Empty when the socket could not be made.
    QString path() const { return m_path; }
    // What has arrived and was not handed on yet.
    void drain();

signals:
    void datagram(const QByteArray& bytes);

private:
    QString m_path;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
