// The wvdial.conf phonebook parser and every lookup on what it read.
#include "dialer/WvdialPhonebook.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const WvdialPhonebook book = WvdialPhonebook::parse(bytes);
    for (const QString& name : book.entryNames()) {
        book.entry(name);
        for (const char* key : {"Phone", "Inherits", "Baud", "Stupid Mode", "Carrier Check"}) {
            if (const auto value = book.value(name, QString::fromLatin1(key)))
                WvdialPhonebook::toInt(*value);
        }
    }
    book.entry(QStringLiteral("Defaults"));
    book.entry(QStringLiteral("missing"));
    return 0;
}
