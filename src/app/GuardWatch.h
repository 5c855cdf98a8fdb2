#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

class GuardClient;
class QMessageBox;

// What the user is told about the guard itself: that it has been away for a while (once an
// outage, the message taken back by the program when the guard returns), and that it reports no
// phonebook (once a run).
class GuardWatch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardWatch)

public:
    // How long the guard may be away before the user is told.
    static constexpr int GraceMs = 3000;
    static constexpr const char* AwayText = "Il servizio di protezione di Norvale non è attivo.";

    explicit GuardWatch(GuardClient& guard, QObject* parent = nullptr);
    ~GuardWatch() override;

    // The grace runs from the display's start.
    void Start();
    // Nothing more is told: the display ends.
    void Stop();

private:
    void connected(const QJsonObject& snapshot);
    void tellAway();

    GuardClient& guard_;
    QTimer grace_;
    QPointer<QMessageBox> away_;
    bool toldAway_ = false;
    bool toldNoPhonebook_ = false;
    bool stopped_ = false;
};
