#include "dialogs/frmSetup.h"

#include "dialogs/EntryListBox.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"
#include "platform/dialer/DialerControl.h"
#include "settings/ConnectionTable.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"

frmSetup::frmSetup(DialerControl& rasDial, QWidget* parent)
    : QDialog(parent), lstDialEntry(new EntryListBox(this)), rasDial_(rasDial) {
    setObjectName(QStringLiteral("frmSetup"));
    lstDialEntry->setObjectName(QStringLiteral("lstDialEntry"));
    lstDialEntry->setGeometry(Twips::ToPixelsX(120), Twips::ToPixelsY(120), Twips::ToPixelsX(2775),
                              Twips::ToPixelsY(2790));
}

void frmSetup::Form_Load() {
    Global::State& state = Global::state;
    if (!state.StartingUp)
        Global::UnlockPhonebook(state.PhonebookPath);
    savedStartColor_ = state.StartColor;
    savedEndColor_ = state.EndColor;
    Global::SyncPhonebook(*lstDialEntry, rasDial_);
    if (!state.StartingUp)
        Global::LockPhonebook(state.PhonebookPath);
    // Left through its own buttons only.
    Subs::RemoveCloseItem(*this);
    state.SetupReady = true;
}
