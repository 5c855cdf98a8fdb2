#include "dialer/PppCallLog.h"

#include <QRegularExpression>

namespace {

// A line longer than this is cut: pppd's and chat's lines are short.
constexpr qsizetype LongestShown = 2048;
constexpr qsizetype ShortestHiddenAnywhere = 8;
// A PAP request as pppd prints it with "debug", the password in pppd's own quoting ("show-password"
// or an administrator's options may put it there).
const QRegularExpression PapPassword(QStringLiteral(R"(password=("(?:[^"\\]|\\.)*"?|\S*))"));
// syslog(3)'s and logger's datagram: "<PRI>Mmm dd hh:mm:ss TAG[PID]: MESSAGE", the time left out by some.
const QRegularExpression SyslogLine(QStringLiteral(R"(^<(\d{1,3})>(?:\w{3} [ \d]\d \d\d:\d\d:\d\d )?([^\s\[:]+)(?:\[\d+\])?: ?(.*)$)"),
                                    QRegularExpression::DotMatchesEverythingOption);

bool startsWithAny(const QString& line, std::initializer_list<const char*> words) {
    for (const char* word : words) {
        if (line.startsWith(QLatin1String(word)))
            return true;
    }
    return false;
}

} // namespace

PppCallLog::PppCallLog(const QString& entry, const QString& password) : m_entry(entry), m_password(password) {}

QString PppCallLog::tag(const QByteArray& bytes) {
    const QString line = QString::fromLocal8Bit(bytes).trimmed();
    if (line.isEmpty())
        return {};
    if (startsWithAny(line, {"timeout set to", "abort on (", "send (", "expect (", "report (", "clr_report ("}))
        m_chatRuns = true;
    else if (startsWithAny(line, {"Serial connection established", "Connect script failed", "Script ",
                                  "Terminating on signal", "Hangup (SIGHUP)", "Modem hangup"}))
        m_chatRuns = false;
    return tagged(m_chatRuns ? QStringLiteral("chat") : QStringLiteral("pppd"), line);
}

PppCallLog::Syslog PppCallLog::fromSyslog(const QByteArray& datagram) const {
    const QRegularExpressionMatch match = SyslogLine.match(QString::fromLocal8Bit(datagram));
    const QString program = match.captured(2);
    Syslog out;
    if (!match.hasMatch() || program == u"pppd" || program == u"chat")
        return out;
    out.severity = match.captured(1).toInt() & 7;
    for (const QString& line : match.captured(3).split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.trimmed().isEmpty())
            out.lines << tagged(program.left(64), line.trimmed());
    }
    return out;
}

QString PppCallLog::tagged(const QString& program, QString line) const {
    line.replace(PapPassword, QStringLiteral("password=<hidden>"));
    // A short password is also a piece of ordinary words and numbers: hidden there it would show
    // both what it is and what the line said.
    if (m_password.size() >= ShortestHiddenAnywhere)
        line.replace(m_password, QStringLiteral("<hidden>"));
    line.truncate(LongestShown);
    for (QChar& c : line) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f)
            c = u'?';
    }
    return QStringLiteral("%1[%2]: %3").arg(program, m_entry, line);
}
