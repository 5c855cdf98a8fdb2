#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The program's only door to the line: phonebook queries, dialling, hang-up, byte counters
// and progress. Every signal is delivered on the user-interface thread.
class DialerControl : public QObject {
    Q_OBJECT

public:
    // Connection states reported through Status.
    enum State : int {
        Idle = -1,
        OpenPort = 0,
        PortOpened = 1,
        ConnectDevice = 2,
        DeviceConnected = 3,
        Authenticate = 5,
        Authenticated = 14,
        Connected = 8192,
        Disconnected = 8193,
    };

    // Error codes raised through LastError and returned by SelectEntry.
    enum Error : int {
        Done = 0,
        EntryNotFound = 623,
        DeviceUnavailable = 633,
        LineBusy = 676,
        NoAnswer = 678,
        NoCarrier = 679,
        NoDialTone = 680,
        AuthenticationFailed = 691,
        ModemHardwareFailure = 692,
    };

    explicit DialerControl(QObject* parent = nullptr) : QObject(parent) {}
    ~DialerControl() override = default;
    Q_DISABLE_COPY_MOVE(DialerControl)

    // Path of the phonebook file; empty when the component has none.
    virtual QString PhonebookFile() const = 0;
    // Entry of the call in progress or up, whoever placed it; otherwise the selected entry.
    virtual QString EntryName() const = 0;
    // The number the call in progress or up dials, whoever placed it, as its dialler has it (an
    // ATD, ATDT or ATDP may lead); empty when it cannot be read.
    virtual QString CallNumber() const = 0;
    // Phone number and user name of the selected entry.
    virtual QString EntryNumber() const = 0;
    virtual QString EntryUser() const = 0;
    virtual bool IsOnline() const = 0;
    // A call is being placed or is up, whoever placed it: the line takes no other.
    virtual bool IsBusy() const = 0;
    virtual qint16 EntryCount() const = 0;
    // Name of the phonebook entry at a zero-based index.
    virtual QString EntryNameAt(qint16 index) const = 0;
    virtual QString IpAddress() const = 0;
    // Selects the entry for Dial, EntryNumber and EntryUser: Done, or an Error code.
    virtual qint16 SelectEntry(const QString& name) = 0;
    virtual qint32 BytesReceived() const = 0;
    virtual qint32 BytesSent() const = 0;

    // Dials the selected entry; progress arrives as signals.
    virtual void Dial() = 0;
    // Ends or aborts the call; returns at once.
    virtual void HangUp() = 0;

    // Start-up writes: watch calls placed by other programs, report every stage as Status,
    // and the watch interval in milliseconds.
    virtual void SetWatchOtherCalls(bool on) = 0;
    virtual void SetReportEveryStage(bool on) = 0;
    virtual void SetWatchInterval(qint16 milliseconds) = 0;

    // What guards the modem in the kernel ("cgroup", "lsm"); empty where nothing does.
    virtual QStringList FenceLayers() const { return {}; }
    // Why the modem is less guarded than it could be, for "Protezione ridotta: "; empty when
    // it is not, and always on a line with no modem.
    virtual QString ReducedProtection() const { return {}; }
    // Takes the kernel fence away and gives the modem back (an administrator's stop).
    virtual void RemoveFence() {}

signals:
    void Connect();
    void Disconnect();
    void LastError(int code, const QString& text, int response);
    void Status(int state);
    // The kernel refused a program the modem; said at most once per program and device every 10 s.
    void Blocked(const QString& program, bool duringOwnCall);
    // A call has ended, after its own events; also one that ends without any (hung up or dropped
    // before it connected). The line may carry the next call by the time it arrives: IsBusy tells.
    void CallEnded();
};
