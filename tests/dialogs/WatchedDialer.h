#pragma once

#include "../guard/FakeDialer.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"

#include <QFile>

#include <sys/stat.h>

// The fake line, noting every call that reaches the phonebook with the state of the phonebook
// at that moment: held by the program's lock, readable by another opener, writable by its owner.
class WatchedDialer final : public DialerControl {
public:
    explicit WatchedDialer(QStringList& log) : inner(log) {}
    Q_DISABLE_COPY_MOVE(WatchedDialer)

    FakeDialer inner;
    mutable QStringList calls;

    static QString LockState() {
        const QString& book = Global::state.PhonebookPath;
        struct stat info {};
        const bool writable =
            ::stat(QFile::encodeName(book).constData(), &info) == 0 && (info.st_mode & S_IWUSR);
        return QStringLiteral("held=%1 readable=%2 writable=%3")
            .arg(Global::state.PhonebookLockFile.isHeld())
            .arg(Global::FileExists(book))
            .arg(writable);
    }

    QString PhonebookFile() const override { return inner.PhonebookFile(); }
    QString EntryName() const override { return inner.EntryName(); }
    QString EntryNumber() const override { return inner.EntryNumber(); }
    QString EntryUser() const override { return inner.EntryUser(); }
    bool IsOnline() const override { return inner.IsOnline(); }
    qint16 EntryCount() const override {
        note(QStringLiteral("EntryCount"));
        return inner.EntryCount();
    }
    QString EntryNameAt(qint16 index) const override { return inner.EntryNameAt(index); }
    QString IpAddress() const override { return inner.IpAddress(); }
    qint16 SelectEntry(const QString& name) override {
        note(QStringLiteral("SelectEntry ") + name);
        return inner.SelectEntry(name);
    }
    qint32 BytesReceived() const override { return inner.BytesReceived(); }
    qint32 BytesSent() const override { return inner.BytesSent(); }
    void Dial() override {
        note(QStringLiteral("Dial"));
        inner.Dial();
    }
    void HangUp() override {
        note(QStringLiteral("HangUp"));
        inner.HangUp();
    }
    void SetWatchOtherCalls(bool on) override { inner.SetWatchOtherCalls(on); }
    void SetReportEveryStage(bool on) override { inner.SetReportEveryStage(on); }
    void SetWatchInterval(qint16 ms) override { inner.SetWatchInterval(ms); }

private:
    void note(const QString& call) const { calls << call + u' ' + LockState(); }
};
