#pragma once

#include <QHash>
#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <functional>

// The display's one door to the guard (norvale-guard): connects to its socket and keeps trying
// while it is away, offers the guard's operations and turns its events into signals. Every answer
// arrives later, on the user-interface thread; a request made while the guard is away is answered
// at once with the error "unreachable".
class GuardClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardClient)

public:
    using Reply = std::function<void(const QJsonObject& reply)>;

    static constexpr int RetryMs = 1000;

    explicit GuardClient(QString socketPath, QObject* parent = nullptr);
    ~GuardClient() override;

    // Connects now, and again after every loss.
    void Start();
    // The guard answered the greeting on the current connection.
    bool IsConnected() const { return greeted_; }
    // The guard counts this display's user as an administrator beyond the groups (a user it was
    // told to trust); it still asks polkit about the others.
    bool TrustsAsAdministrator() const { return greeted_ && trusted_; }

    void Counters(Reply onReply);
    // The strip's place in twips.
    void SavePosition(double top, double left);
    void DialDefault(Reply onReply);
    void HangUp(Reply onReply = {});
    void OpenSetup(Reply onReply);
    void ReadEntry(const QString& name, Reply onReply);
    void SetField(const QString& name, qint16 fieldCode, const QJsonValue& value);
    void SetColours(qint32 startColor, qint32 endColor);
    void DialEntry(const QString& name);
    void SaveSettings();
    void CloseSetup();
    void Stop(Reply onReply);

    // Whether an answer says the request was done, and why not.
    static bool Succeeded(const QJsonObject& reply);
    static QString ErrorOf(const QJsonObject& reply);

signals:
    // The guard answered the greeting: its settings and the line as they are now.
    void Connected(const QJsonObject& snapshot);
    void Lost();
    // The component's events, after the guard's decisions.
    void Status(int state, const QString& ip);
    void Connect(bool authorised, const QString& entry, const QString& ip, int speedUp, int speedDown);
    void Disconnect();
    void LastError(int code, const QString& text);
    // The settings were saved: the colours every display paints with now.
    void Saved(qint32 startColor, qint32 endColor);
    // An administrator stopped the guard.
    void Stopped();
    // What the status line should read: a file protected less than fully, the settings unsaved.
    void Notice(const QString& text);

private:
    void send(QLatin1StringView op, QJsonObject arguments, Reply onReply);
    void onConnected();
    void onDisconnected();
    void readLines();
    void dispatch(const QJsonObject& message);
    void failPending();

    QString path_;
    QLocalSocket socket_;
    QTimer retry_;
    QHash<qint64, Reply> pending_;
    qint64 nextId_ = 1;
    bool greeted_ = false;
    bool trusted_ = false;
};
