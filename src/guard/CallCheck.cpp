#include "guard/CallCheck.h"

#include "dialer/DialString.h"
#include "settings/ConnectionTable.h"

namespace CallCheck {

QString Refusal(const QString& entry, const QString& callNumber) {
    if (!Global::IsAuthorised(entry))
        return QStringLiteral("not authorised");
    const QString dialled = DialString::Reduce(callNumber);
    const QString stored = DialString::Reduce(Global::NumberOf(entry));
    if (dialled.isEmpty())
        return QStringLiteral("its number cannot be read, authorised for %1").arg(stored);
    if (dialled != stored)
        return QStringLiteral("dials %1, authorised for %2").arg(dialled, stored);
    return {};
}

} // namespace CallCheck
