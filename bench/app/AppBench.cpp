// The two programs as a user has them: time from the display's start to the strip on the screen;
// CPU time and resident memory of the guard and of the display while connected on the built-in line
// (the strip in the tray and shown), the display as an unprivileged user with accessibility off.
// Run as root. Usage: bench_app [seconds per connected phase, default 60] [start-up runs, default 7]

#include "BenchTable.h"
#include "DesktopSession.h"

#include "settings/ValueEncoding.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
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

constexpr uint DisplayUid = 65534;

void stop(QProcess& program) {
    if (program.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(program.processId()), SIGTERM);
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished(5000);
    }
}

// The guard, as root, answering on its socket.
bool launchGuard(QProcess& guard, const ProgramFolder& folder) {
    guard.setStandardOutputFile(QProcess::nullDevice());
    guard.setStandardErrorFile(QProcess::nullDevice());
    // With no share/norvale beside it, the guard keeps everything in its own folder.
    guard.start(folder.path("norvale-guard"), {});
    return waitUntil([&] { return QFile::exists(folder.path("guard.sock")); });
}

// The display as nobody, with no session bus: Qt's accessibility bridge stays off.
void launch(const DesktopSession& session, QProcess& program, const ProgramFolder& folder,
            const QTemporaryDir& runtime) {
    QProcessEnvironment env = session.environment();
    env.insert(QStringLiteral("NORVALE_AUDIO_SINK"), QStringLiteral("fakesink sync=true"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    // A user's own caches (fonts, GStreamer's plug-in registry), kept from one start to the next.
    env.insert(QStringLiteral("HOME"), runtime.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), runtime.path() + QStringLiteral("/cache"));
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"})
        env.remove(QLatin1String(name));
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    const QString id = QString::number(DisplayUid);
    program.start(QStringLiteral("setpriv"),
                  {"--reuid", id, "--regid", id, "--clear-groups", "--", folder.path("norvale")});
}

// An owner-only runtime folder of the display's user.
bool displayRuntime(const QTemporaryDir& runtime) {
    return runtime.isValid() && ::chown(QFile::encodeName(runtime.path()).constData(), DisplayUid, DisplayUid) == 0;
}

// Milliseconds from the start of the process to the window manager mapping a window for it; -1
// when nothing was mapped within 10 s.
double startUpMs(const DesktopSession& session, const QTemporaryDir& runtime) {
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
    QProcess guard, program;
    if (!launchGuard(guard, folder))
        return -1;
    QElapsedTimer clock;
    clock.start();
    launch(session, program, folder, runtime);
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
    stop(guard);
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


// Both programs' CPU over the same span.
std::pair<double, double> cpuPercentsOver(qint64 guard, qint64 display, int seconds) {
    const double guardBefore = cpuSeconds(guard), displayBefore = cpuSeconds(display);
    QElapsedTimer clock;
    clock.start();
    QThread::sleep(seconds);
    const double span = double(clock.elapsed()) / 1000.0;
    return {(cpuSeconds(guard) - guardBefore) / span * 100.0, (cpuSeconds(display) - displayBefore) / span * 100.0};
}

double megabytes(qint64 pid) {
    return statusField(pid, "VmRSS:").trimmed().split(' ').front().toDouble() / 1024;
}

int connectedRun(const DesktopSession& session, const QTemporaryDir& runtime, int seconds) {
    ProgramFolder folder;
    folder.write("dialer.conf", "stage_ms=100\n");
    const QString ini = QStringLiteral(";Norvale 4.2 - ini file\r\n[Connections]\r\nConName0=%1\r\n"
                                       "ConNumber0=%2\r\nConAuth0=true\r\nSpeedType0=0\r\nSpeedUp0=10\r\n"
                                       "SpeedDown0=14\r\n")
                            .arg(Global::EncodeValue(QStringLiteral("Provider")),
                                 Global::EncodeValue(QStringLiteral("0245871200")));
    folder.write("nv4.ini", ini.toLatin1());
    QProcess guard, program;
    const auto fail = [&](const char* what) {
        std::printf("%s\n", what);
        stop(program);
        stop(guard);
        return 1;
    };
    if (!launchGuard(guard, folder))
        return fail("the guard did not come up");
    session.run(folder.path("norvale-line"), {QStringLiteral("call"), QStringLiteral("Provider")});
    if (!waitUntil([&] { return lastOutcome(session, folder) == QLatin1String("connected"); }))
        return fail("the call did not connect");
    // The guard alone, connected, with no display.
    QThread::sleep(2);
    const double aloneGuard = cpuPercentOver(guard.processId(), seconds);

    launch(session, program, folder, runtime);
    std::optional<qulonglong> strip;
    bool mapped = false;
    if (!waitUntil([&] { return (strip = session.findWindow(StripTitle)).has_value(); }))
        return fail("the strip never showed");
    std::vector<std::pair<qulonglong, QRect>> icons;
    waitUntil([&] {
        return session.geometry(*strip, &mapped) && !mapped && (icons = session.trayIcons({22, 22})).size() == 1;
    });
    QThread::sleep(2);
    const auto [trayGuard, trayDisplay] = cpuPercentsOver(guard.processId(), program.processId(), seconds);
    if (icons.size() == 1) {
        const QPoint centre = icons.front().second.center();
        session.run(QStringLiteral("xdotool"), {"mousemove", QString::number(centre.x()), QString::number(centre.y()),
                                                "click", "--repeat", "2", "--delay", "80", "1"});
    }
    if (!waitUntil([&] { return session.geometry(*strip, &mapped) && mapped; }))
        return fail("the strip did not come back from the tray");
    session.run(QStringLiteral("xdotool"), {"mousemove", "900", "600"});
    QThread::sleep(1);
    const auto [shownGuard, shownDisplay] = cpuPercentsOver(guard.processId(), program.processId(), seconds);
    const QString outcome = lastOutcome(session, folder);
    const double guardMb = megabytes(guard.processId()), displayMb = megabytes(program.processId());

    std::printf("CPU over %d s connected: guard alone %.3f %%; in the tray: guard %.3f %%, display %.3f %%; "
                "strip shown: guard %.3f %%, display %.3f %% of one core\n",
                seconds, aloneGuard, trayGuard, trayDisplay, shownGuard, shownDisplay);
    std::printf("call at the end: %s\n", qPrintable(outcome));
    std::printf("memory: guard VmRSS %.1f MB (VmHWM %s); display VmRSS %.1f MB (VmHWM %s)\n", guardMb,
                statusField(guard.processId(), "VmHWM:").constData(), displayMb,
                statusField(program.processId(), "VmHWM:").constData());
    const double guardCpu = std::max({aloneGuard, trayGuard, shownGuard});
    char measure[160];
    std::snprintf(measure, sizeof measure, "guard CPU connected, alone / display in the tray / strip shown (%d s each)",
                  seconds);
    TableRow(measure, "< 0.05 % of one core", guardCpu < 0.05, "%.3f / %.3f / %.3f %%", aloneGuard, trayGuard,
             shownGuard);
    TableRow("guard resident memory (VmRSS, connected)", "< 15 MB", guardMb > 0 && guardMb < 15, "%.1f MB", guardMb);
    std::snprintf(measure, sizeof measure, "display CPU connected, in the tray / strip shown (%d s each)", seconds);
    TableRow(measure, "< 0.1 % / < 0.25 % of one core", trayDisplay < 0.1 && shownDisplay < 0.25, "%.3f / %.3f %%",
             trayDisplay, shownDisplay);
    TableRow("display resident memory (VmRSS, connected, accessibility off)", "< 40 MB",
             displayMb > 0 && displayMb < 40, "%.1f MB", displayMb);
    stop(program);
    stop(guard);
    return outcome == QLatin1String("connected") ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int seconds = arguments.size() > 1 ? std::max(1, arguments.at(1).toInt()) : 60;
    const int runs = arguments.size() > 2 ? std::max(1, arguments.at(2).toInt()) : 7;

    if (::geteuid() != 0) {
        std::printf("run as root: the guard runs as root and the display as nobody\n");
        return 2;
    }
    DesktopSession session;
    if (!session.problem().isEmpty()) {
        std::printf("no desktop: %s\n", qPrintable(session.problem()));
        return 2;
    }

    // The display's user keeps the runtime folder and caches of a session; the first start fills them.
    QTemporaryDir runtime;
    if (!displayRuntime(runtime) || startUpMs(session, runtime) < 0) {
        std::printf("the first start did not show the strip\n");
        return 1;
    }
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const double ms = startUpMs(session, runtime);
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
    return connectedRun(session, runtime, seconds);
}
