// The running program as a user has it: time from process start to the strip on the screen, CPU
// time while connected on the built-in line (in the tray and with the strip shown), resident memory.
// Usage: bench_app [seconds per connected phase, default 60] [start-up runs, default 7]

#include "BenchTable.h"
#include "DesktopSession.h"

#include "settings/ValueEncoding.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

const QString StripTitle = QStringLiteral("Norvale 4.0");

void stop(QProcess& program) {
    if (program.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(program.processId()), SIGTERM);
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished(5000);
    }
}

void launch(const DesktopSession& session, QProcess& program, const ProgramFolder& folder) {
    QProcessEnvironment env = session.environment();
    env.insert(QStringLiteral("NORVALE_AUDIO_SINK"), QStringLiteral("fakesink sync=true"));
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(folder.path("norvale"), {});
}

// Milliseconds from the start of the process to the window manager mapping a window for it; -1
// when nothing was mapped within 10 s.
double startUpMs(const DesktopSession& session) {
    xcb_connection_t* x = xcb_connect(session.display().toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(x)) {
        xcb_disconnect(x);
        return -1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    // A round trip: the selection is in place before the program starts.
    free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));

    ProgramFolder folder;
    folder.write("dialer.conf", "stage_ms=100\n");
    QProcess program;
    QElapsedTimer clock;
    clock.start();
    launch(session, program, folder);
    // Windows mapped on the root (the window manager's frames) and when; the strip's frame is the
    // one holding the window with its title.
    std::vector<std::pair<double, xcb_window_t>> maps;
    double shown = -1;
    auto isStrip = [&](xcb_window_t window) {
        return session.run(QStringLiteral("xwininfo"), {"-tree", "-id", QString::number(window)})
            .contains(StripTitle);
    };
    while (shown < 0 && clock.elapsed() < 10000) {
        xcb_generic_event_t* event = xcb_poll_for_event(x);
        if (event == nullptr) {
            QThread::usleep(500);
            for (auto it = maps.begin(); it != maps.end() && shown < 0; it = maps.erase(it)) {
                if (isStrip(it->second))
                    shown = it->first;
            }
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
            maps.emplace_back(double(clock.nsecsElapsed()) / 1e6,
                              reinterpret_cast<xcb_map_notify_event_t*>(event)->window);
        free(event);
    }
    xcb_disconnect(x);
    stop(program);
    return shown;
}

// utime + stime of the process, in seconds.
double cpuSeconds(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // Fields after the command name's closing parenthesis start with the third, the state.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

QByteArray statusField(qint64 pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return "?";
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(qstrlen(name) + 1).simplified();
    }
    return "?";
}

QString lastOutcome(const DesktopSession& session, const ProgramFolder& folder) {
    const QJsonObject status =
        QJsonDocument::fromJson(session.run(folder.path("norvale-line"), {QStringLiteral("status")}).toUtf8())
            .object();
    const QJsonArray calls = status.value(QStringLiteral("calls")).toArray();
    return calls.isEmpty() ? QString() : calls.last().toObject().value(QStringLiteral("outcome")).toString();
}

double cpuPercentOver(qint64 pid, int seconds) {
    const double before = cpuSeconds(pid);
    QElapsedTimer clock;
    clock.start();
    QThread::sleep(seconds);
    const double after = cpuSeconds(pid);
    return (after - before) / (double(clock.elapsed()) / 1000.0) * 100.0;
}

int connectedRun(const DesktopSession& session, int seconds) {
    ProgramFolder folder;
    folder.write("dialer.conf", "stage_ms=100\n");
    const QString ini = QStringLiteral(";Norvale 4.2 - ini file\r\n[Connections]\r\nConName0=%1\r\n"
                                       "ConNumber0=%2\r\nConAuth0=true\r\nSpeedType0=0\r\nSpeedUp0=10\r\n"
                                       "SpeedDown0=14\r\n")
                            .arg(Global::EncodeValue(QStringLiteral("Provider")),
                                 Global::EncodeValue(QStringLiteral("0245871200")));
    folder.write("nv4.ini", ini.toLatin1());
    QProcess program;
    launch(session, program, folder);
    std::optional<qulonglong> strip;
    bool mapped = false;
    if (!waitUntil([&] { return (strip = session.findWindow(StripTitle)).has_value(); })) {
        std::printf("the strip never showed\n");
        stop(program);
        return 1;
    }
    session.run(folder.path("norvale-line"), {QStringLiteral("dial"), QStringLiteral("Provider")});
    if (!waitUntil([&] { return lastOutcome(session, folder) == QLatin1String("connected"); })) {
        std::printf("the call did not connect\n");
        stop(program);
        return 1;
    }
    std::vector<std::pair<qulonglong, QRect>> icons;
    waitUntil([&] {
        return session.geometry(*strip, &mapped) && !mapped &&
               (icons = session.trayIcons({22, 22})).size() == 1;
    });
    QThread::sleep(2);
    const qint64 pid = program.processId();
    const double trayPercent = cpuPercentOver(pid, seconds);

    if (icons.size() == 1) {
        const QPoint centre = icons.front().second.center();
        session.run(QStringLiteral("xdotool"),
                    {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click",
                     "--repeat", "2", "--delay", "80", "1"});
    }
    if (!waitUntil([&] { return session.geometry(*strip, &mapped) && mapped; })) {
        std::printf("the strip did not come back from the tray\n");
        stop(program);
        return 1;
    }
    session.run(QStringLiteral("xdotool"), {"mousemove", "900", "600"});
    QThread::sleep(1);
    const double shownPercent = cpuPercentOver(pid, seconds);
    const QString outcome = lastOutcome(session, folder);

    std::printf("CPU over %d s connected, in the tray:    %.3f %% of one core (target < 0.5 %%)\n", seconds,
                trayPercent);
    std::printf("CPU over %d s connected, strip shown:   %.3f %% of one core (target < 0.5 %%)\n", seconds,
                shownPercent);
    std::printf("call at the end: %s\n", qPrintable(outcome));
    const QByteArray rss = statusField(pid, "VmRSS:");
    std::printf("memory: VmRSS %s, VmHWM %s (target < 60 MB)\n", rss.constData(),
                statusField(pid, "VmHWM:").constData());
    char measure[120];
    std::snprintf(measure, sizeof measure, "CPU connected, in the tray / strip shown (%d s each)", seconds);
    TableRow(measure, "< 0.5 % of one core", trayPercent < 0.5 && shownPercent < 0.5, "%.3f / %.3f %%",
             trayPercent, shownPercent);
    const double rssMb = rss.trimmed().split(' ').front().toDouble() / 1024;
    TableRow("resident memory (VmRSS, connected)", "< 60 MB", rssMb > 0 && rssMb < 60, "%.1f MB", rssMb);
    stop(program);
    return outcome == QLatin1String("connected") ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int seconds = arguments.size() > 1 ? std::max(1, arguments.at(1).toInt()) : 60;
    const int runs = arguments.size() > 2 ? std::max(1, arguments.at(2).toInt()) : 7;

    DesktopSession session;
    if (!session.problem().isEmpty()) {
        std::printf("no desktop: %s\n", qPrintable(session.problem()));
        return 2;
    }

    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const double ms = startUpMs(session);
        if (ms < 0) {
            std::printf("start-up run %d: the strip did not show\n", run + 1);
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "start-up to the strip mapped, %d runs: median %.1f ms, min %.1f, max %.1f (target < 300 ms)\n", runs,
        times.at(times.size() / 2), times.front(), times.back());
    TableRow("start-up to the strip shown (median / worst)", "< 300 ms", times.back() < 300, "%.1f / %.1f ms",
             times.at(times.size() / 2), times.back());
    return connectedRun(session, seconds);
}
