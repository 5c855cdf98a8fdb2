#include "dialer/DialString.h"

#include <algorithm>
#include <iterator>

namespace DialString {
namespace {

bool hasControl(const QString& value) {
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

bool dialling(QChar c) {
    return (c >= u'0' && c <= u'9') || QStringView(u"*#+,WPT! -()").contains(c);
}

// The longer ones first, so that a number never keeps the T or P.
constexpr QLatin1StringView DialCommands[] = {QLatin1StringView("ATDT"), QLatin1StringView("ATDP"),
                                              QLatin1StringView("ATD")};

QStringView number(const QString& dial) {
    QStringView rest(dial);
    for (const QLatin1StringView prefix : DialCommands)
        if (rest.startsWith(prefix, Qt::CaseInsensitive))
            return rest.mid(prefix.size());
    return rest;
}

} // namespace

bool OnlyDialling(const QString& dial) {
    for (const QChar c : number(dial))
        if (!dialling(c.toUpper()))
            return false;
    return true;
}

QString Reduce(const QString& dial) {
    const QStringView rest = number(dial);
    QString out;
    for (const QChar c : rest)
        if ((c >= u'0' && c <= u'9') || c == u'*' || c == u'#' || c == u'+')
            out += c;
    return out;
}

qsizetype DialAt(const QString& command) {
    const qsizetype n = command.size();
    qsizetype i = command.startsWith(QLatin1String("AT"), Qt::CaseInsensitive) ? 2 : 0;
    while (i < n) {
        const QChar c = command.at(i).toUpper();
        if (c == u'D')
            return i;
        if (c == u'&' || c == u'\\' || c == u'%') {
            // The letter after the prefix is that command's: &D2 sets DTR handling.
            i += 2;
        } else if (c == u'+' || c == u'*') {
            // An extended command runs to a ';' or a blank outside its quoted strings.
            bool quoted = false;
            for (++i; i < n; ++i) {
                const QChar e = command.at(i);
                if (e == u'"')
                    quoted = !quoted;
                else if (!quoted && (e == u';' || e.isSpace()))
                    break;
            }
        } else {
            ++i;
        }
    }
    return -1;
}

QString Refusal(const PhonebookEntry& entry) {
    const std::pair<const char*, const QString*> values[] = {
        {"Dial Prefix, Area Code or Phone", &entry.number},
        {"Dial Command", &entry.dialCommand},
        {"Username", &entry.user},
        {"Password", &entry.password},
        {"Modem", &entry.modem}};
    for (const auto& [key, value] : values)
        if (hasControl(*value))
            return QStringLiteral("%1 holds a control character").arg(QLatin1String(key));
    for (const QString& init : entry.inits) {
        if (hasControl(init))
            return QStringLiteral("an Init string holds a control character");
        // chat reads a string that starts with "@" from the file it names, as root.
        if (init.startsWith(u'@'))
            return QStringLiteral("the Init string \"%1\" names a file").arg(init);
        if (DialAt(init) >= 0)
            return QStringLiteral("the Init string \"%1\" dials").arg(init);
    }
    const QString& dial = entry.dialCommand;
    const auto isDial = [&dial](QLatin1StringView command) {
        return dial.compare(command, Qt::CaseInsensitive) == 0;
    };
    if (!dial.isEmpty() && std::none_of(std::begin(DialCommands), std::end(DialCommands), isDial))
        return QStringLiteral("the Dial Command \"%1\" is none of ATD, ATDT and ATDP").arg(dial);
    // Dial Prefix, Area Code and Phone make the number.
    for (const QChar c : entry.number)
        if (!dialling(c))
            return QStringLiteral("the number \"%1\" holds \"%2\", which is no dialling character")
                .arg(entry.number, QString(c));
    return {};
}

} // namespace DialString
