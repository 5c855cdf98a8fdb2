#pragma once

#include <QString>

// Whether a call may go on: its entry authorised, and the number it dials the one stored for that
// entry. The authorisation ties an entry to its number; a call on an authorised entry that dials
// another number is the very thing a dialer does.
namespace CallCheck {

// Why the call on entry, dialling callNumber, must end; empty when it may go on.
QString Refusal(const QString& entry, const QString& callNumber);

} // namespace CallCheck
