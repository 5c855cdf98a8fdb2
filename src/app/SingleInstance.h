#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// One display per user and X display. The first start holds a lock file in the user's runtime
// folder and listens on a socket beside it; a later start asks it to show its strip and ends.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    SingleInstance(const QString& runtimeFolder, const QString& display, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when no other display runs here; false once the running one was asked to show itself.
    bool Claim();

signals:
    void ShowRequested();

private:
    void accept();

    QString lockPath_;
    QString socketPath_;
    int lockFd_ = -1;
    QLocalServer server_;
};
