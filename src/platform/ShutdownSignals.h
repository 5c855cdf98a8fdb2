#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the user-interface thread, so that a logout
// or a service stop runs the normal shut-down. Two ways, chosen before any other thread starts
// (before the application object), so that no thread takes these signals with their default action.
class ShutdownSignals final : public QObject {
    Q_OBJECT

public:
    // The guard's: blocked in every thread and read from a descriptor, so that no thread of its own
    // is ever interrupted. A program it starts inherits the mask: start it through UnblockInChild.
    static void BlockInAllThreads();
    // The display's: caught by a handler, nothing blocked, so that whatever any of its threads or
    // libraries start (the help viewer, the session bus that libdbus starts for it) takes them as
    // usual. Interrupted calls of its threads restart.
    static void CatchInAllThreads();
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
    bool m_caught = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
