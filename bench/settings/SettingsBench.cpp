// nv4.ini as a user may leave it by hand: 100 MB of zero bytes on one line above the program's
// sections, which keep a full table. The guard loads it at its start and saves it at its stop,
// where systemd gives it 90 s on a machine that may be busy.
#include "BenchTable.h"

#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "settings/SettingsFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace {

constexpr qint64 FileBytes = 100 * 1024 * 1024;
constexpr int Rows = Global::TableSlots - 1;
constexpr double TargetSeconds = 5;

double seconds(const std::function<void()>& step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("nv4.ini")));
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || !file.resize(FileBytes)) {
        std::fputs("bench_settings: cannot make a 100 MB file in the temporary folder\n", stderr);
        return 2;
    }
    file.close();
    Global::Reset();
    Global::state.AppFolder = dir.path() + u'/';
    Global::state.SettingsFile = file.fileName();
    for (int i = 0; i < Rows; ++i)
        Global::state.ConnectionTable[i] = {
            QStringLiteral("Entry %1").arg(i), QStringLiteral("0245871200"), i % 2 == 0, i == 0, 6, 32, 230};
    Global::state.ConnectionCount = Global::state.PhonebookCount = Rows;

    const double save = seconds([] { Global::SaveSettings(); });
    Global::UnlockSettingsFile();
    Global::state.ConnectionTable = {};
    const double load = seconds(Global::LoadConnections);
    const bool whole = Global::state.ConnectionCount == Rows &&
                       Global::state.ConnectionTable[Rows - 1].SpeedDown == 230 && file.size() > FileBytes;
    std::printf("bench_settings: %d rows below %lld zero bytes: saved in %.2f s, loaded in %.2f s%s\n", Rows,
                FileBytes, save, load, whole ? "" : " (the rows did not come back whole)");
    TableRow("save of a 100 MB nv4.ini with 49 rows", "< 5 s", whole && save < TargetSeconds, "%.2f s", save);
    TableRow("load of a 100 MB nv4.ini with 49 rows", "< 5 s", whole && load < TargetSeconds, "%.2f s", load);
    Global::Reset();
    return 0;
}
