#include "dialer/WvdialPhonebook.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <limits>

namespace {

const QString DialerPrefix = QStringLiteral("dialer ");
const QString DefaultsSection = QStringLiteral("Dialer Defaults");
const QString DefaultsName = QStringLiteral("defaults");
const QString InheritsKey = QStringLiteral("inherits");

// wvdial's config reader strips braces, or quotes and backslashes, from names and values.
QString unescape(const QString& text) {
    const qsizetype n = text.size();
    if (n >= 2 && text.front() == u'{' && text.back() == u'}')
        return text.mid(1, n - 2);
    qsizetype begin = 0;
    qsizetype end = n;
    if (n >= 2 && text.front() == u'"' && text.back() == u'"') {
        begin = 1;
        end = n - 1;
    }
    QString out;
    out.reserve(end - begin);
    bool escaped = false;
    for (qsizetype i = begin; i < end; ++i) {
        const QChar c = text.at(i);
        if (c == u'\\' && !escaped) {
            escaped = true;
            continue;
        }
        escaped = false;
        out.append(c);
    }
    return out;
}

} // namespace

WvdialPhonebook WvdialPhonebook::read(const QString& path) {
    QFile file(path);
    // Opening a FIFO would wait for a writer forever.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    // read() with a limit, so that a device or an endless file cannot exhaust memory.
    return parse(file.read(MaxFileBytes));
}

WvdialPhonebook WvdialPhonebook::parse(const QByteArray& content) {
    WvdialPhonebook book;
    Section* current = nullptr;
    qsizetype pos = 0;
    const qsizetype size = content.size();
    while (pos < size) {
        qsizetype end = content.indexOf('\n', pos);
        if (end < 0)
            end = size;
        const qsizetype length = end - pos;
        const qsizetype start = pos;
        pos = end + 1;
        if (length > MaxLineBytes)
            continue;
        const QString line = QString::fromUtf8(content.constData() + start, length).trimmed();
        if (line.isEmpty() || line.front() == u'#')
            continue;
        if (line.front() == u'[' && line.back() == u']' && line.size() >= 2) {
            const QString name = unescape(line.mid(1, line.size() - 2).trimmed());
            if (name.isEmpty()) {
                current = nullptr;
                continue;
            }
            const QString lower = name.toLower();
            auto found = book.m_index.constFind(lower);
            if (found == book.m_index.constEnd()) {
                found = book.m_index.insert(lower, book.m_sections.size());
                book.m_sections.append(Section{name, {}});
                if (lower.startsWith(DialerPrefix) && lower.size() > DialerPrefix.size() &&
                    lower != DefaultsSection.toLower())
                    book.m_names.append(name.mid(DialerPrefix.size()));
            }
            current = &book.m_sections[*found];
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0 || current == nullptr)
            continue;
        const QString key = unescape(line.left(equals).trimmed());
        if (key.isEmpty())
            continue;
        current->keys.insert(key.toLower(), unescape(line.mid(equals + 1).trimmed()));
    }
    return book;
}

const WvdialPhonebook::Section* WvdialPhonebook::section(const QString& name) const {
    const auto found = m_index.constFind(name.toLower());
    return found == m_index.constEnd() ? nullptr : &m_sections.at(*found);
}

std::optional<QString> WvdialPhonebook::chainValue(const QString& sectionName, const QString& key) const {
    const QString lowerKey = key.toLower();
    QSet<const Section*> seen;
    for (const Section* s = section(sectionName); s != nullptr && !seen.contains(s);) {
        const auto found = s->keys.constFind(lowerKey);
        if (found != s->keys.constEnd())
            return *found;
        seen.insert(s);
        const auto parent = s->keys.constFind(InheritsKey);
        s = parent == s->keys.constEnd() ? nullptr : section(*parent);
    }
    return std::nullopt;
}

std::optional<QString> WvdialPhonebook::value(const QString& entryName, const QString& key) const {
    if (auto own = chainValue(DialerPrefix + entryName, key))
        return own;
    // [Dialer Defaults] is consulted on its own, without following its Inherits.
    if (const Section* defaults = section(DefaultsSection)) {
        const auto found = defaults->keys.constFind(key.toLower());
        if (found != defaults->keys.constEnd())
            return *found;
    }
    return std::nullopt;
}

std::optional<PhonebookEntry> WvdialPhonebook::entry(const QString& name) const {
    if (name.toLower() == DefaultsName)
        return std::nullopt;
    return dialledByWvdial(name);
}

std::optional<PhonebookEntry> WvdialPhonebook::dialledByWvdial(const QString& name) const {
    const Section* own = section(DialerPrefix + name);
    if (own == nullptr)
        return std::nullopt;
    const auto text = [&](const QString& key, const QString& fallback = {}) {
        return value(name, key).value_or(fallback);
    };

    PhonebookEntry entry;
    entry.name = own->name.mid(DialerPrefix.size());
    // wvdial puts a pause (",") after a non-empty dial prefix.
    const QString prefix = text(QStringLiteral("Dial Prefix"));
    entry.number = prefix + (prefix.isEmpty() ? QString() : QStringLiteral(",")) +
                   text(QStringLiteral("Area Code")) + text(QStringLiteral("Phone"));
    entry.user = text(QStringLiteral("Username"));
    entry.password = text(QStringLiteral("Password"));
    entry.modem = text(QStringLiteral("Modem"), QStringLiteral("/dev/modem"));
    const int baud = toInt(text(QStringLiteral("Baud"), QStringLiteral("57600")));
    entry.baud = baud > 0 ? baud : 57600;
    // "Init" is the old spelling of Init1 and wins over it.
    const auto oldInit = value(name, QStringLiteral("Init"));
    for (int i = 1; i <= 9; ++i) {
        QString init = text(QStringLiteral("Init%1").arg(i), i == 1 ? QStringLiteral("ATZ") : QString());
        if (i == 1 && oldInit)
            init = *oldInit;
        if (!init.isEmpty())
            entry.inits.append(init);
    }
    entry.dialCommand = text(QStringLiteral("Dial Command"), QStringLiteral("ATDT"));
    return entry;
}

int WvdialPhonebook::toInt(const QString& value) {
    const QString v = value.toLower();
    if (v == u"off" || v == u"false" || v.startsWith(u"no"))
        return 0;
    if (v == u"on" || v == u"true" || v == u"yes")
        return 1;
    // atoi: leading blanks, an optional sign, then digits.
    qsizetype i = 0;
    while (i < v.size() && v.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < v.size() && (v.at(i) == u'-' || v.at(i) == u'+')) {
        negative = v.at(i) == u'-';
        ++i;
    }
    qint64 n = 0;
    for (; i < v.size() && v.at(i) >= u'0' && v.at(i) <= u'9'; ++i) {
        n = n * 10 + (v.at(i).unicode() - u'0');
        if (n > std::numeric_limits<int>::max())
            n = qint64(std::numeric_limits<int>::max()) + 1;
    }
    if (negative)
        n = -n;
    return int(std::clamp<qint64>(n, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}
