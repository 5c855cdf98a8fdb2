#include "dialer/PppCallLog.h"

#include <QRegularExpression>

namespace {

// A line longer than this is cut: pppd's and chat's lines are short.
constexpr qsizetype LongestShown = 2048;
// A PAP request as pppd prints it with "debug", the password in pppd's own quoting ("show-password"
// or an administrator's options may put it there).
const QRegularExpression PapPassword(QStringLiteral(R"(password=("(?:[^"\\]|\\.)*"?|\S*))"));

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
    QString line = QString::fromLocal8Bit(bytes).trimmed().left(LongestShown);
    if (line.isEmpty())
        return {};
    line.replace(PapPassword, QStringLiteral("password=<hidden>"));
    if (!m_password.isEmpty())
        line.replace(m_password, QStringLiteral("<hidden>"));
    for (QChar& c : line) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f)
            c = u'?';
    }
    if (startsWithAny(line, {"timeout set to", "abort on (", "send (", "expect (", "report (", "clr_report ("}))
        m_chatRuns = true;
    else if (startsWithAny(line, {"Serial connection established", "Connect script failed", "Script ",
                                  "Terminating on signal", "Hangup (SIGHUP)", "Modem hangup"}))
        m_chatRuns = false;
    return QStringLiteral("%1[%2]: %3").arg(m_chatRuns ? QStringLiteral("chat") : QStringLiteral("pppd"), m_entry, line);
}
