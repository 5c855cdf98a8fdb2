#include "guard/GuardFiles.h"

#include "guard/GuardLog.h"
#include "guard/GuardProtocol.h"
#include "guard/GuardServer.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"

GuardFiles::GuardFiles(GuardServer& server) : server_(server) {}

void GuardFiles::Start() {
    Global::State& state = Global::state;
    for (const QString& line : Global::RestoreRecorded({state.SettingsFile, state.PhonebookPath}))
        GuardLog::Warning(line);
    state.Guard->setReporter([this](const QString& path, const QString& why) { reduced(path, why); });
}

void GuardFiles::reduced(const QString& path, const QString& why) {
    // Once for each path and reason: the phonebook is locked again after every call.
    if (reduced_.value(path) == why && reduced_.contains(path))
        return;
    reduced_.insert(path, why);
    GuardLog::Warning(QStringLiteral("protection reduced for %1: %2").arg(path, why));
    lastReducedPath_ = path;
    tellReduced();
}

void GuardFiles::SetReducedProtection(const QString& why) {
    fenceReduced_ = why;
    if (!why.isEmpty())
        GuardLog::Warning(QStringLiteral("protection reduced: %1").arg(why));
    tellReduced();
}

// The modem's and a file's reductions stand together on one line.
void GuardFiles::tellReduced() {
    QStringList texts;
    if (!fenceReduced_.isEmpty())
        texts << ReducedText(fenceReduced_);
    if (!lastReducedPath_.isEmpty())
        texts << ReducedText(lastReducedPath_);
    if (!texts.isEmpty())
        tell(texts.join(QStringLiteral("; ")));
}

void GuardFiles::SaveFailed(const QString& why) {
    GuardLog::Error(why);
    tell(UnsavedText());
}

void GuardFiles::tell(const QString& text) {
    notice_ = {{QStringLiteral("event"), GuardProtocol::Event::Notice}, {QStringLiteral("text"), text}};
    server_.broadcast(notice_);
}

void GuardFiles::Replay(quint64 client) {
    if (!notice_.isEmpty())
        server_.tell(client, notice_);
}

void GuardFiles::UnlockPhonebook() {
    Global::UnlockPhonebook(Global::state.PhonebookPath);
}

void GuardFiles::LockPhonebook() {
    const QString& path = Global::state.PhonebookPath;
    Global::LockPhonebook(path);
    // Said once for each time it is lost, so that a flood of hang-ups does not flood the journal.
    const bool held = path.isEmpty() || Global::state.PhonebookLockFile.isHeld();
    if (!held && !phonebookLossTold_)
        GuardLog::Error(QStringLiteral("cannot hold the phonebook %1: it is missing, no regular file, flocked by another "
                           "program, or reached through a link or an unsafe folder")
                .arg(path));
    phonebookLossTold_ = !held;
}
