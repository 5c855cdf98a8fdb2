#include "guard/GuardProtocol.h"

#include <QJsonDocument>

QByteArray GuardProtocol::Line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}
