#include "tray/frmMenu.h"

#include "app/GuardClient.h"
#include "app/MainWindow.h"
#include "guard/GuardProtocol.h"
#include "platform/Twips.h"
#include "settings/Global.h"
#include "tray/ShowInfo.h"
#include "tray/TrayState.h"

#include <QAction>
#include <QMenu>
#include <QJsonObject>
#include <QUrl>

namespace {

const QString NotAuthorised = QStringLiteral("La connessione predefinita non è stata autorizzata...");
const QString MayNotDial =
    QStringLiteral("Non puoi usare la linea.\rQuesta azione è permessa solo agli utenti del gruppo dip o "
                   "amministratori.");

} // namespace

frmMenu::frmMenu(MainWindow& main, QWidget* parent)
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
    main_.Restore();
}

// The guard releases and takes the phonebook lock around the hang-up and the dial.
void frmMenu::mnuDisconnetti_Click() {
    main_.Guard().HangUp([this](const QJsonObject& reply) {
        if (GuardClient::ErrorOf(reply) == GuardProtocol::Error::Unreachable)
            main_.ShowAway();
        else if (GuardClient::ErrorOf(reply) == GuardProtocol::Error::Refused)
            main_.ShowRefusal(MayNotDial);
    });
}

void frmMenu::mnuConnetti_Click() {
    main_.Guard().DialDefault([this](const QJsonObject& reply) {
        namespace Dialled = GuardProtocol::Dialled;
        const QString result = reply.value(QStringLiteral("result")).toString();
        if (GuardClient::ErrorOf(reply) == GuardProtocol::Error::Unreachable) {
            main_.ShowAway();
        } else if (GuardClient::ErrorOf(reply) == GuardProtocol::Error::Refused) {
            main_.ShowRefusal(MayNotDial);
        } else if (result == Dialled::NoDefault) {
            Tray::state.Beep();
        } else if (result == Dialled::SelectFailed) {
            main_.rasDial_LastError(reply.value(QStringLiteral("code")).toInt(),
                                    reply.value(QStringLiteral("text")).toString(), 0);
        } else if (result == Dialled::NotAuthorised) {
            main_.PlayCue(QStringLiteral("error.mp3"));
            main_.RepaintMain();
            main_.ShowStatus(NotAuthorised);
            if (Global::state.CycleStarted)
                Global::ShowInfo(NotAuthorised, 8);
        }
    });
}

void frmMenu::mnuHelp_Click() {
    // Whatever the desktop answers, the program shows nothing.
    Tray::state.OpenUrl(QUrl::fromLocalFile(Global::state.AppFolder + QLatin1String(HelpFileName)));
}

void frmMenu::mnuChiudi_Click() {
    mnuTray->hide();
}
