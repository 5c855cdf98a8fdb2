#include "app/GuardWatch.h"

#include "app/GuardClient.h"
#include "platform/MessageBox.h"

#include <QMessageBox>

GuardWatch::GuardWatch(GuardClient& guard, QObject* parent) : QObject(parent), guard_(guard) {
    grace_.setSingleShot(true);
    grace_.setInterval(GraceMs);
    connect(&grace_, &QTimer::timeout, this, &GuardWatch::tellAway);
    connect(&guard_, &GuardClient::Connected, this, &GuardWatch::connected);
    connect(&guard_, &GuardClient::Lost, this, &GuardWatch::Start);
}

GuardWatch::~GuardWatch() {
    delete away_.data();
}

void GuardWatch::Start() {
    if (!stopped_)
        grace_.start();
}

void GuardWatch::Stop() {
    stopped_ = true;
    grace_.stop();
}

void GuardWatch::connected(const QJsonObject& snapshot) {
    grace_.stop();
    if (away_)
        away_->close();
    toldAway_ = false;
    if (snapshot.value(QStringLiteral("phonebook")).toString().isEmpty() && !toldNoPhonebook_) {
        toldNoPhonebook_ = true;
        MessageBox::Open({QStringLiteral("Attenzione: c'è un errore nella lettura del file rasphone.pbk"),
                          MessageBox::Buttons::Ok, MessageBox::Icon::Critical, MessageBox::Button::Ok,
                          QStringLiteral(" Errore")});
    }
}

void GuardWatch::tellAway() {
    if (guard_.IsConnected() || toldAway_ || stopped_)
        return;
    toldAway_ = true;
    away_ = MessageBox::Open({QString::fromUtf8(AwayText), MessageBox::Buttons::Ok, MessageBox::Icon::Critical,
                              MessageBox::Button::Ok, QStringLiteral(" Errore")});
}
