#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>

class GuardServer;

// The guard's side of the file locks: what a crashed run left locked is given back at start, the
// phonebook is locked and released, and whatever leaves a file less than fully protected, or the
// settings unsaved, is logged and put on every display's status line, also on one that connects
// later.
class GuardFiles final {
public:
    explicit GuardFiles(GuardServer& server);
    GuardFiles(const GuardFiles&) = delete;
    GuardFiles& operator=(const GuardFiles&) = delete;

    // Gives back the files of an earlier run that carry a lock record (nv4.ini and the phonebook)
    // and starts listening to the file guard; before any lock is taken.
    void Start();
    void LockPhonebook();
    void UnlockPhonebook();
    // Why the modem is less guarded than it could be; empty when it is not.
    void SetReducedProtection(const QString& why);
    // A save that failed: never silent.
    void SaveFailed(const QString& why);
    // The notice standing, to a display that has just said hello.
    void Replay(quint64 client);

    static QString ReducedText(const QString& path) { return QStringLiteral("Protezione ridotta: ") + path; }
    static QString UnsavedText() { return QStringLiteral("Impossibile salvare le impostazioni."); }

private:
    void reduced(const QString& path, const QString& why);
    void tell(const QString& text);
    void tellReduced();

    GuardServer& server_;
    QHash<QString, QString> reduced_; // path: why, as said last
    QString lastReducedPath_;
    QString fenceReduced_;
    QJsonObject notice_;
    bool phonebookLossTold_ = false;
};
