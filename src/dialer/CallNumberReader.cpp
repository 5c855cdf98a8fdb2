#include "dialer/CallNumberReader.h"

#include "dialer/ForeignFiles.h"

#include <QFile>
#include <QTimer>

#include <optional>

namespace {

// Each pass follows one more level of files naming files (pppd's "file" and "call" go 8 deep).
constexpr int MaxPasses = 16;

// The file-system uid and gid a process opens files with, from its status.
std::optional<std::pair<uid_t, gid_t>> fileIds(pid_t pid) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    long uid = -1, gid = -1;
    for (const QByteArray& line : file.read(64 * 1024).split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() == 5 && f.front() == "Uid:")
            uid = f.at(4).toLong();
        else if (f.size() == 5 && f.front() == "Gid:")
            gid = f.at(4).toLong();
    }
    return uid >= 0 && gid >= 0 ? std::optional(std::pair(uid_t(uid), gid_t(gid))) : std::nullopt;
}

} // namespace

CallNumberReader::CallNumberReader(QObject* parent) : QObject(parent), m_files(new ForeignFiles(this)) {}

CallNumberReader::~CallNumberReader() = default;

quint64 CallNumberReader::read(const QList<DiallingProcess>& processes, const QSet<QByteArray>& trusted) {
    const quint64 id = ++m_lastId;
    m_readings[id] = Reading{processes, trusted, {}, QDeadlineTimer(TimeLimitMs), 0, 0};
    QTimer::singleShot(0, this, [this, id] { pass(id); });
    return id;
}

void CallNumberReader::cancel(quint64 id) {
    const auto it = m_readings.find(id);
    if (it == m_readings.end())
        return;
    if (it->second.files)
        m_files->cancel(it->second.files);
    m_readings.erase(it);
}

void CallNumberReader::finish(quint64 id, const QString& number, bool timedOut) {
    m_readings.erase(id);
    emit numberRead(id, number, timedOut);
}

void CallNumberReader::pass(quint64 id) {
    const auto it = m_readings.find(id);
    if (it == m_readings.end())
        return;
    Reading& r = it->second;
    const DialledNumber::Pass found = DialledNumber::Evaluate(r.processes, r.trusted, r.answers);
    QList<DialledNumber::Look> looks;
    QList<ForeignRead> reads;
    for (const DialledNumber::Look& look : found.wanted) {
        const auto ids = fileIds(look.pid);
        // A process that is gone names nothing any more.
        if (!ids) {
            r.answers.insert(look, std::nullopt);
            continue;
        }
        const QByteArray proc = "/proc/" + QByteArray::number(look.pid);
        const QByteArray path = QFile::encodeName(look.path);
        looks << look;
        reads << ForeignRead{path.startsWith('/') ? proc + "/root" + path : proc + "/cwd/" + path, ids->first,
                             ids->second, look.identity};
    }
    if (found.wanted.isEmpty() || ++r.passes > MaxPasses)
        return finish(id, found.number, false);
    if (reads.isEmpty())
        return QTimer::singleShot(0, this, [this, id] { pass(id); });
    const auto answered = [this, id, looks](const auto& answers, bool timedOut) {
        const auto it = m_readings.find(id);
        if (it == m_readings.end())
            return;
        it->second.files = 0;
        if (timedOut) {
            QStringList pids;
            for (const DiallingProcess& p : std::as_const(it->second.processes))
                pids << QString::number(p.pid);
            qWarning("dial-up: reading the files that pid %s names took over %d ms: the reader was killed, "
                     "the call's number counts as unreadable",
                     qPrintable(pids.join(QLatin1String(", "))), TimeLimitMs);
            return finish(id, {}, true);
        }
        for (qsizetype i = 0; i < looks.size(); ++i)
            it->second.answers.insert(looks.at(i), answers.value(i));
        pass(id);
    };
    r.files = m_files->read(reads, r.deadline, answered);
}
