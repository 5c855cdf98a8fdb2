#pragma once

#include "dialer/DialerControl.h"
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
    std::optional<QString> callNumber;
    bool online = false;
    qint32 sent = 0, received = 0;
    int hangUps = 0;
    std::function<void()> onHangUp = [] {};
    std::function<void()> onDial = [] {};

    QString PhonebookFile() const override { return noted(QStringLiteral("PhonebookFile"), phonebookPath); }
    QString EntryName() const override { return callEntry.isEmpty() ? selected_.name : callEntry; }
    // The number of the call's entry unless callNumber says otherwise.
    QString CallNumber() const override {
        if (callNumber)
            return *callNumber;
        for (const Entry& entry : entries)
            if (entry.name == EntryName())
                return QStringLiteral("ATDT") + entry.number;
        return {};
    }
    QString EntryNumber() const override { return noted(QStringLiteral("EntryNumber"), selected_.number); }
    QString EntryUser() const override { return {}; }
    bool IsOnline() const override { return online; }
    qint16 EntryCount() const override {
        return noted(QStringLiteral("EntryCount starting=%1").arg(Global::state.StartingUp),
                     qint16(entries.size()));
    }
    QString EntryNameAt(qint16 index) const override { return entries.value(index).name; }
    QString IpAddress() const override { return QStringLiteral("10.64.0.7"); }
    qint16 SelectEntry(const QString& name) override {
        selected_ = {};
        for (const Entry& entry : entries) {
            if (entry.name == name)
                selected_ = entry;
        }
        return noted(QStringLiteral("SelectEntry ") + name,
                     qint16(selected_.name.isEmpty() ? EntryNotFound : Done));
    }
    qint32 BytesReceived() const override { return received; }
    qint32 BytesSent() const override { return sent; }
    void Dial() override {
        log_ << QStringLiteral("Dial");
        onDial();
    }
    void HangUp() override {
        log_ << QStringLiteral("HangUp");
        ++hangUps;
        onHangUp();
    }
    void SetWatchOtherCalls(bool on) override { log_ << QStringLiteral("SetWatchOtherCalls %1").arg(on); }
    void SetReportEveryStage(bool on) override { log_ << QStringLiteral("SetReportEveryStage %1").arg(on); }
    void SetWatchInterval(qint16 ms) override { log_ << QStringLiteral("SetWatchInterval %1").arg(ms); }

private:
    template <typename T> T noted(const QString& call, T value) const {
        log_ << call;
        return value;
    }

    QStringList& log_;
    Entry selected_;
};
