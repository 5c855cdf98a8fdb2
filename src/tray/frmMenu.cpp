#include "tray/frmMenu.h"

#include "app/frmNV4.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"
#include "dialer/DialerControl.h"
#include "settings/ConnectionTable.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "tray/ShowInfo.h"
#include "tray/TrayState.h"

#include <QAction>
#include <QMenu>
#include <QUrl>

namespace {

const QString NotAuthorised = QStringLiteral("La connessione predefinita non è stata autorizzata...");

// The component's own words for an entry its phonebook does not hold.
const QString EntryNotFoundText =
    QStringLiteral("The system could not find the phone book entry for this connection.");

// The phonebook lock goes where the main window takes and gives it back: where it never takes
// it, the menu must not either, or the phonebook would stay write-protected after the program.
void unlockPhonebook() {
    if (!Global::state.IsWindows4)
        Global::UnlockPhonebook(Global::state.PhonebookPath);
}

void lockPhonebook() {
    if (!Global::state.IsWindows4)
        Global::LockPhonebook(Global::state.PhonebookPath);
}

} // namespace

frmMenu::frmMenu(frmNV4& main, QWidget* parent)
    : QWidget(parent), mnuTray(new QMenu(QStringLiteral("Norvale"), this)),
      mnuInfo(addItem(QStringLiteral("mnuInfo"), QStringLiteral("Norvale"))),
      mnuLinea0(addSeparator(QStringLiteral("mnuLinea0"))),
      mnuDisconnetti(addItem(QStringLiteral("mnuDisconnetti"), QStringLiteral("Disconnetti"))),
      mnuConnetti(addItem(QStringLiteral("mnuConnetti"), QStringLiteral("Connetti a predefinita"))),
      mnuHelp(addItem(QStringLiteral("mnuHelp"), QStringLiteral("Aiuto"))),
      mnuLinea1(addSeparator(QStringLiteral("mnuLinea1"))),
      mnuChiudi(addItem(QStringLiteral("mnuChiudi"), QStringLiteral("Chiudi questo menù"))), main_(main) {
    setObjectName(QStringLiteral("frmMenu"));
    mnuTray->setObjectName(QStringLiteral("mnuTray"));
    connect(mnuInfo, &QAction::triggered, this, &frmMenu::mnuInfo_Click);
    connect(mnuDisconnetti, &QAction::triggered, this, &frmMenu::mnuDisconnetti_Click);
    connect(mnuConnetti, &QAction::triggered, this, &frmMenu::mnuConnetti_Click);
    connect(mnuHelp, &QAction::triggered, this, &frmMenu::mnuHelp_Click);
    connect(mnuChiudi, &QAction::triggered, this, &frmMenu::mnuChiudi_Click);
}

frmMenu::~frmMenu() = default;

QAction* frmMenu::addItem(const QString& name, const QString& caption) {
    QAction* item = mnuTray->addAction(caption);
    item->setObjectName(name);
    return item;
}

QAction* frmMenu::addSeparator(const QString& name) {
    QAction* item = mnuTray->addSeparator();
    item->setObjectName(name);
    return item;
}

void frmMenu::PopupTrayMenu(float x, float y) {
    const QSize size = mnuTray->sizeHint();
    // Centred on x; the menu keeps itself on the screen.
    mnuTray->popup(QPoint(Twips::ToPixelsX(x) - size.width() / 2, Twips::ToPixelsY(y)));
}

void frmMenu::mnuInfo_Click() {
    main_.show();
    main_.tryDialer->setVisible(false);
    Subs::SetTopMost(main_, true);
}

void frmMenu::mnuDisconnetti_Click() {
    unlockPhonebook();
    main_.rasDial().HangUp();
    lockPhonebook();
}

void frmMenu::mnuConnetti_Click() {
    Global::State& state = Global::state;
    const QString entry = state.DefaultEntryName;
    if (entry.isEmpty()) {
        Tray::state.Beep();
        return;
    }
    if (Global::IsAuthorised(entry)) {
        unlockPhonebook();
        // A failed selection would leave the component on the entry selected before, and Dial
        // would call that one instead: report the failure as the component reports its errors.
        const qint16 selected = main_.rasDial().SelectEntry(entry);
        if (selected == DialerControl::Done)
            main_.rasDial().Dial();
        lockPhonebook();
        if (selected != DialerControl::Done) {
            main_.rasDial_LastError(
                selected, selected == DialerControl::EntryNotFound ? EntryNotFoundText : QString(), 0);
        }
        return;
    }
    if (main_.Hooks().PlaySound)
        main_.Hooks().PlaySound(state.AppFolder + QStringLiteral("error.mp3"));
    main_.RepaintMain();
    main_.ShowStatus(NotAuthorised);
    if (state.CycleStarted)
        Global::ShowInfo(NotAuthorised, 8);
}

void frmMenu::mnuHelp_Click() {
    // Whatever the desktop answers, the program shows nothing.
    Tray::state.OpenUrl(QUrl::fromLocalFile(Global::state.AppFolder + QLatin1String(HelpFileName)));
}

void frmMenu::mnuChiudi_Click() {
    mnuTray->hide();
}
