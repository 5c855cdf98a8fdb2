#pragma once

#include <QByteArray>
#include <QString>

// What a dialer does to a phonebook in wvdial.conf format: give an entry another number.
namespace PhonebookRewrite {

// The content with every Phone line of [Dialer NAME] set to the number; a Phone line is added
// to the entry when it has none, the entry appended when the file has none.
QByteArray withNumber(const QByteArray& content, const QString& name, const QString& number);

struct Result {
    bool done = false;
    QString message;
};

// Rewrites the file with ordinary file calls: open it for writing in place, or else write a
// new file beside it and rename it over. Done only when the file then reads back as written.
Result rewrite(const QString& path, const QString& name, const QString& number);

} // namespace PhonebookRewrite
