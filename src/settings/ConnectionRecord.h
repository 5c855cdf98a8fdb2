#pragma once

#include <QString>
#include <QtGlobal>

// One known dial-up connection: its authorisation, default mark and line speeds.
struct ConnectionRecord {
    QString Name;
    QString Number; // the number the entry had when added or when its authorisation last changed
    bool Authorised = false;
    bool Default = false;
    qint16 SpeedType = 0;
    qint16 SpeedUp = 0;
    qint16 SpeedDown = 0;

    bool operator==(const ConnectionRecord&) const = default;
};
