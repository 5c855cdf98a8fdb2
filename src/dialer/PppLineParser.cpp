#include "dialer/PppLineParser.h"

#include "dialer/DialerControl.h"

namespace {

// pppd's exit codes (pppd(8), "EXIT STATUS").
enum PppdExit {
    ExitFatal = 1,
    ExitOptionError = 2,
    ExitNotRoot = 3,
    ExitNoKernelSupport = 4,
    ExitUserRequest = 5,
    ExitLockFailed = 6,
    ExitOpenFailed = 7,
    ExitConnectFailed = 8,
    ExitPtyCommandFailed = 9,
    ExitNegotiationFailed = 10,
    ExitPeerAuthFailed = 11,
    ExitPeerDead = 15,
    ExitHangup = 16,
    ExitInitFailed = 18,
    ExitAuthToPeerFailed = 19,
};

} // namespace

PppLineParser::PppLineParser(const QString& dialCommand)
    : m_dialCommand(dialCommand.trimmed().isEmpty() ? QStringLiteral("ATD") : dialCommand.trimmed()) {}

QString PppLineParser::errorText(int code) {
    switch (code) {
    case DialerControl::EntryNotFound:
        return QStringLiteral("The system could not find the phone book entry for this connection.");
    case DialerControl::DeviceUnavailable:
        return QStringLiteral(
            "The modem (or other connecting device) is already in use or is not configured properly.");
    case DialerControl::LineBusy:
        return QStringLiteral("The line is busy.");
    case DialerControl::NoAnswer:
        return QStringLiteral("There is no answer.");
    case DialerControl::NoCarrier:
        return QStringLiteral("Cannot detect carrier.");
    case DialerControl::NoDialTone:
        return QStringLiteral("There is no dial tone.");
    case DialerControl::AuthenticationFailed:
        return QStringLiteral(
            "Access was denied because the username and/or password was invalid on the domain.");
    case DialerControl::ModemHardwareFailure:
        return QStringLiteral("There was a hardware failure in the modem (or other connecting device).");
    default:
        return {};
    }
}

int PppLineParser::errorForAbort(const QString& abortString) {
    const QString s = abortString.toUpper();
    if (s.contains(QLatin1String("BUSY")))
        return DialerControl::LineBusy;
    if (s.contains(QLatin1String("NO CARRIER")))
        return DialerControl::NoCarrier;
    if (s.contains(QLatin1String("NO DIALTONE")) || s.contains(QLatin1String("NO DIAL TONE")))
        return DialerControl::NoDialTone;
    if (s.contains(QLatin1String("NO ANSWER")))
        return DialerControl::NoAnswer;
    return DialerControl::ModemHardwareFailure;
}

PppLineParser::Event PppLineParser::error(int code) const {
    return {Event::Kind::Error, code, errorText(code)};
}

QList<PppLineParser::Event> PppLineParser::advance(int state) {
    if (state <= m_state)
        return {};
    m_state = state;
    return {{Event::Kind::State, state, {}}};
}

QList<PppLineParser::Event> PppLineParser::started() {
    return advance(DialerControl::OpenPort);
}

QList<PppLineParser::Event> PppLineParser::feed(const QString& rawLine) {
    const QString line = rawLine.trimmed();
    if (line.isEmpty())
        return {};

    // chat
    if (line.startsWith(QLatin1String("abort on (")))
        return advance(DialerControl::OpenPort);
    if (line.startsWith(QLatin1String("send ("))) {
        const QString sent = line.mid(6);
        if (m_state < DialerControl::ConnectDevice && sent.startsWith(m_dialCommand, Qt::CaseInsensitive))
            return advance(DialerControl::ConnectDevice);
        return advance(DialerControl::OpenPort);
    }
    if (line.startsWith(QLatin1String("expect ("))) {
        m_expectConnect = line.mid(8).startsWith(QLatin1String("CONNECT"), Qt::CaseInsensitive);
        return {};
    }
    if (line == QLatin1String("-- got it")) {
        if (m_expectConnect)
            return advance(DialerControl::DeviceConnected);
        if (m_state < DialerControl::ConnectDevice)
            return advance(DialerControl::PortOpened);
        return {};
    }
    if (line == QLatin1String("alarm")) {
        m_timedOut = true;
        return {};
    }
    if (line.startsWith(QLatin1String("Failed ("))) {
        const QString what = line.mid(8).chopped(line.endsWith(QLatin1Char(')')) ? 1 : 0);
        m_failure = errorForAbort(what);
        return {};
    }
    if (line == QLatin1String("Failed")) {
        // chat's timeout: a modem that never answered the init is broken; a call that was
        // dialled and never connected was not answered.
        m_failure = m_state >= DialerControl::ConnectDevice ? DialerControl::NoAnswer
                                                            : DialerControl::ModemHardwareFailure;
        return {};
    }

    // pppd
    if (line.startsWith(QLatin1String("Serial connection established")))
        return advance(DialerControl::DeviceConnected);
    if (line.startsWith(QLatin1String("Using interface "))) {
        m_interface = line.section(QLatin1Char(' '), 2, 2);
        return {};
    }
    if (line.startsWith(QLatin1String("Connect: ")) || line.contains(QLatin1String("[LCP ")))
        return advance(DialerControl::Authenticate);
    if (line.contains(QLatin1String("authentication succeeded"), Qt::CaseInsensitive)) {
        QList<Event> events = advance(DialerControl::Authenticate);
        events += advance(DialerControl::Authenticated);
        return events;
    }
    if (line.contains(QLatin1String("authentication failed"), Qt::CaseInsensitive) ||
        line.contains(QLatin1String("Authentication failure"), Qt::CaseInsensitive)) {
        m_failure = DialerControl::AuthenticationFailed;
        return {};
    }
    if (line.startsWith(QLatin1String("local ")) && line.contains(QLatin1String(" IP address "))) {
        if (m_connected)
            return {};
        m_localAddress = line.section(QLatin1Char(' '), -1);
        QList<Event> events = advance(DialerControl::Connected);
        m_connected = true;
        events.append({Event::Kind::Connect, 0, {}});
        return events;
    }
    return {};
}

QList<PppLineParser::Event> PppLineParser::finished(int exitCode, bool crashed, bool hungUp) {
    if (m_connected) {
        m_connected = false;
        m_state = DialerControl::Disconnected;
        return {{Event::Kind::State, DialerControl::Disconnected, {}}, {Event::Kind::Disconnect, 0, {}}};
    }
    m_state = DialerControl::Idle;
    if (hungUp)
        return {};
    if (crashed)
        return {error(DialerControl::ModemHardwareFailure)};

    switch (exitCode) {
    case 0:
    case ExitUserRequest:
        // Ended without a link and without an error of its own: someone else stopped it.
        return {};
    case ExitConnectFailed:
        return {error(m_failure ? m_failure : DialerControl::ModemHardwareFailure)};
    case ExitPeerAuthFailed:
    case ExitAuthToPeerFailed:
        return {error(DialerControl::AuthenticationFailed)};
    case ExitNegotiationFailed:
    case ExitPeerDead:
    case ExitHangup:
        return {error(m_failure ? m_failure : DialerControl::NoCarrier)};
    case ExitFatal:
    case ExitOptionError:
    case ExitNotRoot:
    case ExitNoKernelSupport:
    case ExitLockFailed:
    case ExitOpenFailed:
    case ExitPtyCommandFailed:
    case ExitInitFailed:
        return {error(DialerControl::DeviceUnavailable)};
    default:
        return {error(m_failure ? m_failure : DialerControl::ModemHardwareFailure)};
    }
}
