#pragma once

#include "platform/dialer/DialerControl.h"
#include "settings/Global.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

// A dial-up component with a phonebook in memory that writes every call made on it to a log.
class FakeDialer final : public DialerControl {
    Q_OBJECT

public:
    struct Entry {
        QString name;
        QString number;
    };

    explicit FakeDialer(QStringList& log) : log_(log) {}
    Q_DISABLE_COPY_MOVE(FakeDialer)

    QList<Entry> entries;
    QString phonebookPath = QStringLiteral("/nonexistent/phonebook.conf");
    // The entry of the call in progress; empty: the selected entry.
    QString callEntry;
    QString ip = QStringLiteral("10.64.0.7");
    bool online = false;
    qint32 sent = 0;
    qint32 received = 0;
    int hangUps = 0;
    std::function<void()> onHangUp;

    QString PhonebookFile() const override {
        log_ << QStringLiteral("PhonebookFile");
        return phonebookPath;
    }
    QString EntryName() const override {
        if (!callEntry.isEmpty())
            return callEntry;
        return selected_ ? selected_->name : QString();
    }
    QString EntryNumber() const override {
        log_ << QStringLiteral("EntryNumber");
        return selected_ ? selected_->number : QString();
    }
    QString EntryUser() const override { return {}; }
    bool IsOnline() const override { return online; }
    qint16 EntryCount() const override {
        log_ << QStringLiteral("EntryCount starting=%1").arg(Global::state.StartingUp);
        return qint16(entries.size());
    }
    QString EntryNameAt(qint16 index) const override {
        return index >= 0 && index < entries.size() ? entries[index].name : QString();
    }
    QString IpAddress() const override { return ip; }
    qint16 SelectEntry(const QString& name) override {
        log_ << QStringLiteral("SelectEntry ") + name;
        selected_.reset();
        for (const Entry& entry : entries) {
            if (entry.name == name)
                selected_ = entry;
        }
        return selected_ ? qint16(Done) : qint16(EntryNotFound);
    }
    qint32 BytesReceived() const override { return received; }
    qint32 BytesSent() const override { return sent; }
    void Dial() override { log_ << QStringLiteral("Dial"); }
    void HangUp() override {
        log_ << QStringLiteral("HangUp");
        ++hangUps;
        if (onHangUp)
            onHangUp();
    }
    void SetWatchOtherCalls(bool on) override { log_ << QStringLiteral("SetWatchOtherCalls %1").arg(on); }
    void SetReportEveryStage(bool on) override { log_ << QStringLiteral("SetReportEveryStage %1").arg(on); }
    void SetWatchInterval(qint16 ms) override { log_ << QStringLiteral("SetWatchInterval %1").arg(ms); }

private:
    QStringList& log_;
    std::optional<Entry> selected_;
};
