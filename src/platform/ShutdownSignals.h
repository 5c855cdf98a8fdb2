#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the user-interface thread, so that a logout
// or a service stop runs the normal shut-down.
class ShutdownSignals final : public QObject {
    Q_OBJECT

public:
    // Call before any other thread starts (before the application object), so that no thread
    // takes these signals with their default action.
    static void BlockInAllThreads();
    // In a child between fork and exec: the program it runs takes these signals as usual.
    static void UnblockInChild();

    // Needs the application object.
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;
    Q_DISABLE_COPY_MOVE(ShutdownSignals)

signals:
    void received(int signalNumber);

private:
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
